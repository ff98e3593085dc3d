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

// The specialised loops over `pixels` against the reference one pixel at a time.
std::vector<uint8_t> mapBothWays(ToneFilter& f, std::vector<uint8_t>& pixels, int channels)
{
    f.contrastSpan = f.computeContrastSpan();
    f.prepareFastPath();
    std::vector<uint8_t> reference = pixels;
    const int32_t count = int32_t(pixels.size()) / channels;
    for (int32_t n = 0; n < count; ++n)
        f.mapPixel(&reference[size_t(n * channels)]);
    f.mapPixels(pixels.data(), count, channels);
    return reference;
}

TEST(PixelMapping, ColourAndContrastStages)
{
    struct Case {
        const char* what;
        int dynamic, color;
        int32_t saturation, density, contrast;
        Pixel in, out;
    };
    constexpr int32_t kMax = std::numeric_limits<int32_t>::max(), kMin = std::numeric_limits<int32_t>::min();
    const Case cases[] = {
        { "saturation 16", 0, 1, 16, 0, 0, { 50, 100, 150 }, { 20, 95, 170 } },
        { "saturation -32", 0, 1, -32, 0, 0, { 50, 100, 150 }, { 109, 109, 109 } },
        { "saturation held at -32", 0, 1, -1000, 0, 0, { 50, 100, 150 }, { 109, 109, 109 } },
        { "density 16", 0, 1, 0, 16, 0, { 50, 100, 150 }, { 0, 75, 150 } },
        { "density 16, grey", 0, 1, 0, 16, 0, { 10, 10, 10 }, { 10, 10, 10 } },
        { "density 16, peak first", 0, 1, 0, 16, 0, { 150, 100, 50 }, { 150, 75, 0 } },
        { "density -32", 0, 1, 0, -32, 0, { 50, 100, 150 }, { 150, 150, 150 } },
        { "the clamp holds every channel in 0..peak", 0, 1, 0, kMax, 0, { 50, 100, 150 }, { 0, 0, 150 } },
        { "density at its minimum", 0, 1, 0, kMin, 0, { 50, 100, 150 }, { 150, 150, 150 } },
        // Distances doubled. Channels 0 and 1 tie at the peak: channel 0 is taken as the larger;
        // channel 2 tying the smallest stays the middle one, and both move alike.
        { "tie at the peak", 0, 1, 0, 32, 0, { 100, 100, 80 }, { 100, 100, 60 } },
        { "tie at the bottom", 0, 1, 0, 32, 0, { 100, 60, 60 }, { 100, 20, 20 } },
        { "contrast 40 (span 128)", 1, 0, 0, 0, 40, { 50, 100, 150 }, { 26, 82, 171 } },
        { "contrast 40, ends", 1, 0, 0, 0, 40, { 0, 128, 255 }, { 0, 128, 255 } },
        { "contrast 20 (span 6)", 1, 0, 0, 0, 20, { 50, 100, 150 }, { 48, 96, 156 } },
        { "contrast 20, ends", 1, 0, 0, 0, 20, { 0, 128, 255 }, { 0, 128, 255 } },
        { "span 0 leaves every level", 1, 0, 0, 0, -7, { 50, 100, 150 }, { 50, 100, 150 } },
        { "41 has no band of its own: that of 40", 1, 0, 0, 0, 41, { 50, 100, 150 }, { 26, 82, 171 } },
        { "contrast 1000000", 1, 0, 0, 0, 1000000, { 50, 100, 150 }, { 26, 82, 171 } },
        { "both groups off", 0, 0, 30, 10, 30, { 50, 100, 150 }, { 50, 100, 150 } },
    };
    for (const Case& c : cases) {
        ToneFilter f;
        neutral(f);
        f.dynamicEnable = c.dynamic;
        f.colorEnable = c.color;
        f.saturation = c.saturation;
        f.density = c.density;
        f.contrast = c.contrast;
        EXPECT_EQ(mapOne(f, c.in), c.out) << c.what;
    }
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
        const std::vector<uint8_t> reference = mapBothWays(f, pixels, channels);
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
    // Colour curves: identity, inverted, flat black, and a steep rise.
    const std::vector<std::pair<int, int>> curves[] = { {}, { { 0, 255 }, { 255, 0 } },
        { { 0, 0 }, { 255, 0 } }, { { 0, 0 }, { 90, 250 }, { 255, 255 } } };

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
            for (auto [x, y] : curves[random() % 4])
                f.colorCurve[c].addPoint(x, y);
        }
        const std::array<int32_t, 3> w = any(weights);
        std::copy(w.begin(), w.end(), f.lumaWeight);

        const int channels = 3 + trial % 2;
        const int32_t count = 1000 + trial % 9; // partial groups and rounds at the end
        std::vector<uint8_t> pixels(size_t(count) * size_t(channels));
        for (auto& b : pixels)
            b = uint8_t(random() % 4 == 0 ? (random() % 2) * 255 : random() % 256);
        const std::vector<uint8_t> reference = mapBothWays(f, pixels, channels);
        ASSERT_EQ(pixels, reference) << "trial " << trial << " density " << f.density << " saturation "
                                     << f.saturation << " contrast " << f.contrast << " weights " << w[0]
                                     << "," << w[1] << "," << w[2];
    }
}

} // namespace
} // namespace quarvel
