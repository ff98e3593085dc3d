#include "core/LinearToneCurve.h"
#include "core/PixelMath.h"
#include "detail/DiffuseGrain.h"
#include "detail/Sharpen.h"
#include "detail/Smooth.h"

#include <gtest/gtest.h>

#include <vector>

namespace quarvel {
namespace {

// One channel's sharpened value (all three channels get the same bytes).
int sharpened(int o, int b, int edge, int amountPercent, int threshold)
{
    uint8_t pixel[3] = { uint8_t(o), uint8_t(o), uint8_t(o) };
    const uint8_t blurred[3] = { uint8_t(b), uint8_t(b), uint8_t(b) };
    sharpenPixel(pixel, blurred, SharpSet { percentTo128ths(amountPercent), 40 - edge, threshold });
    EXPECT_EQ(pixel[0], pixel[1]);
    EXPECT_EQ(pixel[0], pixel[2]);
    return pixel[0];
}

TEST(Sharpen, NormalMethodPixels)
{
    EXPECT_EQ(sharpened(120, 100, 20, 100, 0), 125);
    EXPECT_EQ(sharpened(120, 100, 20, 100, 10), 123) << "threshold fades a difference of 5 to 64/128";
    EXPECT_EQ(sharpened(120, 100, 20, 600, 0), 150);
    EXPECT_EQ(sharpened(120, 100, 40, 100, 0), 140) << "no edge bound";
    EXPECT_EQ(sharpened(120, 100, 39, 100, 0), 140) << "no edge bound";
    EXPECT_EQ(sharpened(80, 100, 20, 100, 0), 75);
    EXPECT_EQ(sharpened(2, 10, 40, 600, 0), 0) << "-46 limited to 0";
    EXPECT_EQ(sharpened(250, 200, 40, 600, 0), 255);
    for (int o : { 0, 7, 128, 255 })
        EXPECT_EQ(sharpened(o, 0, 20, 600, 0), o) << "a blurred 0 bounds every difference to 0";
    EXPECT_EQ(sharpened(120, 100, 20, 0, 0), 120);
}

TonalBands bandsFor(int shTonal, int hiTonal)
{
    // The same derivation the filter makes per run, spelled out for the examples.
    const int64_t h = 3 * hiTonal, s = 3 * shTonal;
    int64_t shBand = 255, hiBand = 255;
    if (shBand + s > h)
        shBand = h - s;
    if (h - hiBand < s)
        hiBand = h - s;
    return TonalBands { h, s, hiBand, shBand };
}

TEST(Sharpen, HighlightShadowBlendAtThreeHundred)
{
    const SharpSet highlight { percentTo128ths(100), 20, 0 };
    const SharpSet shadow { percentTo128ths(0), 20, 0 };
    const SharpSet mixed = chooseSharpSet(300, bandsFor(85, 170), highlight, shadow);
    EXPECT_EQ(mixed.amount, 23);
    EXPECT_EQ(mixed.edgeDivisor, 20);
    EXPECT_EQ(mixed.threshold, 0);
    EXPECT_EQ(chooseSharpSet(511, bandsFor(85, 170), highlight, shadow).amount, 128);
    EXPECT_EQ(chooseSharpSet(255, bandsFor(85, 170), highlight, shadow).amount, 0);
}

TEST(Sharpen, WideAndNarrowTonalGaps)
{
    const SharpSet highlight { 768, 20, 10 };
    const SharpSet shadow { 512, 20, 10 };
    // Shadow level 0 and highlight level 255: the middle belongs to neither set.
    for (int64_t level : { 255, 300, 400, 510 }) {
        const SharpSet s = chooseSharpSet(level, bandsFor(0, 255), highlight, shadow);
        EXPECT_EQ(s.amount, 0) << level;
        EXPECT_EQ(s.edgeDivisor, 0) << level;
        uint8_t pixel[3] = { 200, 90, 10 };
        const uint8_t blurred[3] = { 120, 100, 30 };
        sharpenPixel(pixel, blurred, s);
        EXPECT_EQ(std::vector<uint8_t>(pixel, pixel + 3), (std::vector<uint8_t> { 200, 90, 10 }));
    }
    // Both levels 128: no band at all, each pixel takes one set.
    for (int64_t level = 0; level <= 765; ++level) {
        const SharpSet s = chooseSharpSet(level, bandsFor(128, 128), highlight, shadow);
        EXPECT_EQ(s.amount, level <= 384 ? 512 : 768) << level;
    }
    // A gap narrower than the bands: both shrink to it and still add up to the full weight.
    const TonalBands narrow = bandsFor(100, 120);
    EXPECT_EQ(narrow.shBand, 60);
    EXPECT_EQ(narrow.hiBand, 60);
    EXPECT_EQ(chooseSharpSet(330, narrow, SharpSet { 60, 0, 0 }, SharpSet { 0, 0, 0 }).amount, 30);
}

// One grey pixel smoothed against a grey blurred value, with the default weights.
int smoothed(int o, int b, int amountPercent, int threshold)
{
    const int32_t weights[3] = { 117, 601, 306 };
    uint8_t pixel[3] = { uint8_t(o), uint8_t(o), uint8_t(o) };
    const uint8_t blurred[3] = { uint8_t(b), uint8_t(b), uint8_t(b) };
    smoothPixel(pixel, blurred, weights, percentTo128ths(amountPercent), threshold);
    return pixel[1];
}

TEST(Smooth, BoundedStepTowardTheBlurredLuminance)
{
    EXPECT_EQ(smoothed(110, 100, 100, 0), 107) << "m = 3, D = -3";
    EXPECT_EQ(smoothed(110, 100, 300, 0), 101);
    EXPECT_EQ(smoothed(90, 100, 100, 0), 93);
    EXPECT_EQ(smoothed(101, 100, 100, 0), 100) << "inside the step: straight to the blurred value";
    EXPECT_EQ(smoothed(250, 10, 300, 0), 250) << "m = 0 below 16";
    EXPECT_EQ(smoothed(0, 255, 100, 0), 8) << "m = 8 at 255";
    // Threshold 6, |D| = 3, Amount 100: a' = 64, half the step of 3, halves rounded up.
    EXPECT_EQ(smoothed(110, 100, 100, 6), 109);
    EXPECT_EQ(smoothed(90, 100, 100, 6), 92);
}

TEST(Smooth, EveryChannelMovesByTheSameStep)
{
    const int32_t weights[3] = { 117, 601, 306 };
    uint8_t pixel[3] = { 200, 120, 40 };
    const uint8_t blurred[3] = { 180, 100, 20 };
    smoothPixel(pixel, blurred, weights, 128, 0);
    // Yb = 85 (m = 3), Yo = 105: D = -3.
    EXPECT_EQ(std::vector<uint8_t>(pixel, pixel + 3), (std::vector<uint8_t> { 197, 117, 37 }));
}

TEST(Glow, AmountAndToneCurve)
{
    EXPECT_EQ(glowAmount(100), 115);
    EXPECT_EQ(glowAmount(0), 0);
    EXPECT_EQ(glowAmount(INT32_MAX), (int64_t(INT32_MAX) * 11520 + 5000) / 10000);

    LinearToneCurve curve;
    buildGlowCurve(curve, 55);
    EXPECT_EQ(curve.lookup(101), 129);
    for (int v = 200; v <= 255; ++v)
        EXPECT_EQ(curve.lookup(v), 255) << v;

    buildGlowCurve(curve, -55);
    for (int v = 0; v <= 54; ++v)
        EXPECT_EQ(curve.lookup(v), 0) << v;
    EXPECT_EQ(curve.lookup(156), 129);
    EXPECT_EQ(curve.lookup(255), 255);

    // Scripted tones beyond the page: the point is clamped onto the level range.
    buildGlowCurve(curve, 1000);
    EXPECT_EQ(curve.lookup(0), 255);
    buildGlowCurve(curve, INT32_MIN);
    EXPECT_EQ(curve.lookup(254), 0);
    EXPECT_EQ(curve.lookup(255), 255) << "the curve's own last entry is never rebuilt";
}

TEST(Grain, GeneratorDraws)
{
    seedGrainRandom(1);
    for (int expected : { 41, 18467, 6334 })
        EXPECT_EQ(drawGrainRandom(), expected);
}

} // namespace
} // namespace quarvel
