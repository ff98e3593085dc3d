#include "tone/ToneFilter.h"

#include <gtest/gtest.h>

#include <array>
#include <limits>
#include <random>
#include <vector>

namespace quarvel {
namespace {

using Pixel = std::array<int, 3>;

// A filter with identity tables and the weights of a blue-green-red buffer.
ToneFilter& neutral(ToneFilter& f)
{
    f.dynamicEnable = 0;
    f.colorEnable = 0;
    f.buildTables();
    f.setLumaWeights(0.114, 0.587, 0.299);
    return f;
}

Pixel mapOne(ToneFilter& f, Pixel in)
{
    f.contrastSpan = f.computeContrastSpan();
    uint8_t p[4] = { uint8_t(in[0]), uint8_t(in[1]), uint8_t(in[2]), 77 };
    f.mapPixel(p);
    EXPECT_EQ(p[3], 77); // byte 3 is never touched
    return { p[0], p[1], p[2] };
}

TEST(PixelMapping, LumaWeightsFollowTheByteOrder)
{
    ToneFilter f;
    EXPECT_EQ(f.lumaWeight[0], 306);
    EXPECT_EQ(f.lumaWeight[1], 601);
    EXPECT_EQ(f.lumaWeight[2], 117);
    f.setLumaWeights(0.114, 0.587, 0.299);
    EXPECT_EQ(f.lumaWeight[0], 117);
    EXPECT_EQ(f.lumaWeight[2], 306);
}

TEST(PixelMapping, SaturationScalesTheDistanceFromLuminance)
{
    ToneFilter f;
    neutral(f).colorEnable = 1;
    f.saturation = 16;
    EXPECT_EQ(mapOne(f, { 50, 100, 150 }), (Pixel { 20, 95, 170 }));
    f.saturation = -32;
    EXPECT_EQ(mapOne(f, { 50, 100, 150 }), (Pixel { 109, 109, 109 }));
    f.saturation = -1000; // held at -32
    EXPECT_EQ(mapOne(f, { 50, 100, 150 }), (Pixel { 109, 109, 109 }));
}

TEST(PixelMapping, DensityScalesTheDistanceBelowThePeak)
{
    ToneFilter f;
    neutral(f).colorEnable = 1;
    f.density = 16;
    EXPECT_EQ(mapOne(f, { 50, 100, 150 }), (Pixel { 0, 75, 150 }));
    EXPECT_EQ(mapOne(f, { 10, 10, 10 }), (Pixel { 10, 10, 10 }));
    EXPECT_EQ(mapOne(f, { 150, 100, 50 }), (Pixel { 150, 75, 0 }));
    f.density = -32;
    EXPECT_EQ(mapOne(f, { 50, 100, 150 }), (Pixel { 150, 150, 150 }));
    f.density = std::numeric_limits<int32_t>::max(); // the clamp holds every channel in 0..peak
    EXPECT_EQ(mapOne(f, { 50, 100, 150 }), (Pixel { 0, 0, 150 }));
    f.density = std::numeric_limits<int32_t>::min();
    EXPECT_EQ(mapOne(f, { 50, 100, 150 }), (Pixel { 150, 150, 150 }));
}

TEST(PixelMapping, DensityTiesKeepChannelTwoInTheMiddle)
{
    ToneFilter f;
    neutral(f).colorEnable = 1;
    f.density = 32; // distances doubled
    // Channels 0 and 1 tie at the peak: channel 0 is taken as the larger.
    EXPECT_EQ(mapOne(f, { 100, 100, 80 }), (Pixel { 100, 100, 60 }));
    // Channel 2 ties the smallest: it stays the middle one, and both move alike.
    EXPECT_EQ(mapOne(f, { 100, 60, 60 }), (Pixel { 100, 20, 20 }));
}

TEST(PixelMapping, ContrastBand)
{
    ToneFilter f;
    neutral(f).dynamicEnable = 1;
    f.contrast = 40; // span 128
    EXPECT_EQ(mapOne(f, { 50, 100, 150 }), (Pixel { 26, 82, 171 }));
    EXPECT_EQ(mapOne(f, { 0, 128, 255 }), (Pixel { 0, 128, 255 }));
    f.contrast = 20; // span 6
    EXPECT_EQ(mapOne(f, { 50, 100, 150 }), (Pixel { 48, 96, 156 }));
    EXPECT_EQ(mapOne(f, { 0, 128, 255 }), (Pixel { 0, 128, 255 }));
    f.contrast = -7; // span 0 leaves every level
    EXPECT_EQ(mapOne(f, { 50, 100, 150 }), (Pixel { 50, 100, 150 }));
    f.contrast = 41; // no band of its own: that of 40
    EXPECT_EQ(mapOne(f, { 50, 100, 150 }), (Pixel { 26, 82, 171 }));
    f.contrast = 1000000;
    EXPECT_EQ(mapOne(f, { 50, 100, 150 }), (Pixel { 26, 82, 171 }));
}

TEST(PixelMapping, ContrastSpanRoundsTheBandWidth)
{
    ToneFilter f;
    const std::pair<int32_t, int32_t> spans[] = { { 1, 3 }, { 20, 6 }, { 30, 12 }, { 39, 64 }, { 40, 128 },
        { 41, 128 }, { 0, 0 }, { -5, 0 }, { std::numeric_limits<int32_t>::min(), 0 } };
    for (auto [contrast, span] : spans) {
        f.contrast = contrast;
        EXPECT_EQ(f.computeContrastSpan(), span) << contrast;
    }
}

TEST(PixelMapping, PreserveOriginalColourMovesOnlyTheLuminance)
{
    ToneFilter f;
    neutral(f).dynamicEnable = 1;
    for (auto& table : f.toneTable)
        for (int i = 0; i < 256; ++i)
            table[i] = uint8_t(std::min(2 * i, 255));
    f.monochromatic = 0;
    EXPECT_EQ(mapOne(f, { 40, 60, 80 }), (Pixel { 80, 120, 160 }));
    f.monochromatic = 1;
    EXPECT_EQ(mapOne(f, { 40, 60, 80 }), (Pixel { 104, 124, 144 }));
}

TEST(PixelMapping, AutoColourActsOnlyThroughTheToneStage)
{
    ToneFilter f;
    for (int i = 40; i <= 200; ++i)
        for (uint8_t c = 0; c < 3; ++c)
            f.imageHistogram.add(c, uint8_t(i), 100);
    f.autoColor = 1;
    f.dynamicEnable = 1;
    f.colorEnable = 0;
    f.buildTables();
    f.monochromatic = 0;
    EXPECT_EQ(mapOne(f, { 41, 41, 199 }), (Pixel { 21, 21, 227 }));
    f.dynamicEnable = 0;
    f.colorEnable = 1;
    EXPECT_EQ(mapOne(f, { 41, 41, 199 }), (Pixel { 41, 41, 199 }));
}

TEST(PixelMapping, BothGroupsOffLeaveThePixel)
{
    ToneFilter f;
    neutral(f);
    f.saturation = 30;
    f.contrast = 30;
    f.density = 10;
    EXPECT_EQ(mapOne(f, { 50, 100, 150 }), (Pixel { 50, 100, 150 }));
}

// The specialised loops against the reference, over every combination of stages, with settings
// inside and far outside the page ranges.
TEST(PixelMapping, SpecialisedLoopsMatchTheReference)
{
    std::mt19937 random(20261207);
    std::uniform_int_distribution<int> byte(0, 255);
    const int32_t wild[] = { 0, 1, -1, 5, 20, -20, 40, 41, 100, -100, 5000,
        std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::min() };
    std::uniform_int_distribution<size_t> pick(0, std::size(wild) - 1);
    std::uniform_int_distribution<int32_t> inRange(-60, 60);

    for (int trial = 0; trial < 300; ++trial) {
        ToneFilter f;
        const int channels = 3 + trial % 2;
        const int32_t count = 1 + trial * 7 % 97;
        std::vector<uint8_t> pixels(size_t(count) * size_t(channels));
        for (auto& b : pixels)
            b = uint8_t(byte(random));
        for (int32_t n = 0; n < count; ++n)
            for (uint8_t c = 0; c < 3; ++c)
                f.imageHistogram.add(c, pixels[size_t(n * channels + c)], 1);

        const bool far = trial % 3 == 0;
        auto value = [&] { return far ? wild[pick(random)] : inRange(random); };
        f.dynamicEnable = trial & 1;
        f.colorEnable = (trial >> 1) & 1;
        f.monochromatic = (trial >> 2) & 1;
        f.density = (trial >> 3) & 1 ? value() : 0;
        f.saturation = (trial >> 4) & 1 ? value() : 0;
        f.contrast = (trial >> 5) & 1 ? value() : 0;
        f.autoColor = (trial >> 6) & 1;
        f.shadowAmount = value();
        f.hilightAmount = value();
        f.shadowLevel = value();
        f.gamma = value();
        f.buildTables();
        f.setLumaWeights(0.114, 0.587, 0.299);
        f.contrastSpan = f.computeContrastSpan();
        f.prepareFastPath();

        std::vector<uint8_t> reference = pixels;
        for (int32_t n = 0; n < count; ++n)
            f.mapPixel(&reference[size_t(n * channels)]);
        f.mapPixels(pixels.data(), count, channels);
        ASSERT_EQ(pixels, reference) << "trial " << trial;
    }
}

// The eight-lane loop holds only within bounds on the weights, the density and the band; this
// drives the levels to those bounds (curves and tone tables that flip, flatten or saturate a
// channel, so the luminance shift reaches +-255) and just past them, where the scalar loops
// must take over unnoticed.
TEST(PixelMapping, EightLaneLoopMatchesTheReferenceAtItsBounds)
{
    std::mt19937 random(8);
    auto any = [&](auto& list) { return list[random() % std::size(list)]; };
    const int32_t densities[] = { -161, -160, -100, -30, 0, 30, 96, 97 };
    const int32_t saturations[] = { -33, -32, -1, 0, 1, 32, 33, 100000 };
    const int32_t contrasts[] = { 0, 1, 20, 39, 40, 60, -3 };
    const std::array<int32_t, 3> weights[] = { { 117, 601, 306 }, { 306, 601, 117 }, { 0, 0, 1026 },
        { 342, 342, 342 }, { 1024, 0, 0 }, { 0, 1027, 0 }, { -1, 600, 425 } };

    for (int trial = 0; trial < 240; ++trial) {
        ToneFilter f;
        f.dynamicEnable = trial % 4 != 0;
        f.colorEnable = trial % 5 != 0;
        f.monochromatic = trial % 3 != 0;
        f.density = any(densities);
        f.saturation = any(saturations);
        f.contrast = any(contrasts);
        f.buildTables();
        for (int c = 0; c < 3; ++c) {
            const int kind = int(random() % 5);
            for (int a = 0; a < 256; ++a) {
                const int tone[] = { a, 0, 255, 255 - a, int(random() % 256) };
                f.toneTable[c][a] = uint8_t(tone[kind]);
            }
            f.colorCurve[c].reset();
            switch (random() % 4) {
            case 1:
                f.colorCurve[c].addPoint(0, 255), f.colorCurve[c].addPoint(255, 0);
                break;
            case 2:
                f.colorCurve[c].addPoint(0, 0), f.colorCurve[c].addPoint(255, 0);
                break;
            case 3:
                f.colorCurve[c].addPoint(0, 0), f.colorCurve[c].addPoint(90, 250),
                    f.colorCurve[c].addPoint(255, 255);
                break;
            default:
                break;
            }
        }
        const std::array<int32_t, 3> w = any(weights);
        std::copy(w.begin(), w.end(), f.lumaWeight);
        f.contrastSpan = f.computeContrastSpan();
        f.prepareFastPath();

        const int channels = 3 + trial % 2;
        const int32_t count = 1000 + trial % 9; // partial groups and rounds at the end
        std::vector<uint8_t> pixels(size_t(count) * size_t(channels));
        for (auto& b : pixels)
            b = uint8_t(random() % 4 == 0 ? (random() % 2) * 255 : random() % 256);
        std::vector<uint8_t> reference = pixels;
        for (int32_t n = 0; n < count; ++n)
            f.mapPixel(&reference[size_t(n * channels)]);
        f.mapPixels(pixels.data(), count, channels);
        ASSERT_EQ(pixels, reference) << "trial " << trial << " density " << f.density << " saturation "
                                     << f.saturation << " contrast " << f.contrast << " weights " << w[0]
                                     << "," << w[1] << "," << w[2];
    }
}

} // namespace
} // namespace quarvel
