// The tone pass over the pixels: the reference mapping of one pixel, and loops specialised per
// run for the stages that apply, which must give exactly its bytes.
#include "tone/PixelMapping.h"
#include "tone/ToneFilter.h"
#include "tone/VectorMapping.h"

#include <algorithm>
#include <array>
#include <utility>

namespace quarvel {

void ToneFilter::mapPixel(uint8_t* pixel) const
{
    int32_t level[3];
    int32_t luma;
    const int32_t* w = lumaWeight;
    if (dynamicEnable != 0) {
        int32_t a[3];
        int32_t t[3];
        for (int c = 0; c < 3; ++c) {
            a[c] = colorCurve[c].lookup(pixel[c]);
            t[c] = toneTable[c][a[c]];
        }
        luma = w[0] * t[0] + w[1] * t[1] + w[2] * t[2];
        if (monochromatic == 0) {
            for (int c = 0; c < 3; ++c)
                level[c] = t[c];
        } else {
            const int32_t d = (luma - (w[0] * a[0] + w[1] * a[1] + w[2] * a[2]) + 512) >> 10;
            for (int c = 0; c < 3; ++c)
                level[c] = a[c] + d;
        }
    } else {
        for (int c = 0; c < 3; ++c)
            level[c] = pixel[c];
        luma = w[0] * level[0] + w[1] * level[1] + w[2] * level[2];
    }
    if (colorEnable != 0) {
        if (density != 0)
            applyDensity(level, density);
        if (saturation != 0)
            applySaturation(level, luma, saturation);
    }
    if (dynamicEnable != 0 && contrast != 0)
        for (int c = 0; c < 3; ++c)
            level[c] = applyContrast(level[c], contrastSpan);
    for (int c = 0; c < 3; ++c)
        pixel[c] = uint8_t(clampTo(level[c], 0, 255));
}

namespace {

enum KernelBits : int {
    kDynamic = 1,
    kMonochromatic = 2,
    kDensity = 4,
    kSaturation = 8,
    kContrast = 16,
};

struct Tables {
    const uint8_t (*tone)[256];
    const uint8_t (*curve)[256];
    const int32_t (*weightedTone)[256];
    const int32_t (*weightedCurve)[256];
    const uint64_t (*packed)[256];
    const int32_t* weight;
    int32_t density;
    int32_t saturation;
    int32_t span;
    // Contrast and the final clamp for levels -2048..2047, entry v + 2048.
    const uint8_t* contrast;
};

constexpr int32_t kContrastLow = -2048;
constexpr int32_t kContrastHigh = 2047;

template <int K> void mapLoop(const Tables& tb, uint8_t* p, int32_t count, int32_t channels)
{
    constexpr bool dynamic = (K & kDynamic) != 0;
    constexpr bool mono = (K & kMonochromatic) != 0;
    for (int32_t n = 0; n < count; ++n, p += channels) {
        const uint8_t b0 = p[0], b1 = p[1], b2 = p[2];
        int32_t level[3];
        int32_t luma = 0;
        if constexpr (dynamic && mono) {
            // Both sums from one read per channel: luma in the low half, luma minus the curve's
            // luma in the high half, less whatever the sign-extended low halves borrowed from it.
            const uint64_t both = tb.packed[0][b0] + tb.packed[1][b1] + tb.packed[2][b2];
            luma = int32_t(uint32_t(both));
            const int32_t d = (int32_t((int64_t(both) - luma) >> 32) + 512) >> 10;
            level[0] = tb.curve[0][b0] + d;
            level[1] = tb.curve[1][b1] + d;
            level[2] = tb.curve[2][b2] + d;
        } else if constexpr (dynamic) {
            level[0] = tb.tone[0][b0];
            level[1] = tb.tone[1][b1];
            level[2] = tb.tone[2][b2];
            if constexpr ((K & kSaturation) != 0)
                luma = tb.weightedTone[0][b0] + tb.weightedTone[1][b1] + tb.weightedTone[2][b2];
        } else {
            level[0] = b0;
            level[1] = b1;
            level[2] = b2;
            if constexpr ((K & kSaturation) != 0)
                luma = tb.weight[0] * b0 + tb.weight[1] * b1 + tb.weight[2] * b2;
        }
        if constexpr ((K & kDensity) != 0)
            applyDensity(level, tb.density);
        if constexpr ((K & kSaturation) != 0)
            applySaturation(level, luma, tb.saturation);
        if constexpr ((K & kContrast) != 0) {
            for (int c = 0; c < 3; ++c) {
                const int32_t v = level[c];
                p[c] = v >= kContrastLow && v <= kContrastHigh
                    ? tb.contrast[v - kContrastLow]
                    : uint8_t(clampTo(applyContrast(v, tb.span), 0, 255));
            }
            continue;
        }
        p[0] = uint8_t(clampTo(level[0], 0, 255));
        p[1] = uint8_t(clampTo(level[1], 0, 255));
        p[2] = uint8_t(clampTo(level[2], 0, 255));
    }
}

using Loop = void (*)(const Tables&, uint8_t*, int32_t, int32_t);

template <int... K> constexpr auto makeLoops(std::integer_sequence<int, K...>)
{
    return std::array<Loop, sizeof...(K)> { &mapLoop<K>... };
}

constexpr auto kLoops = makeLoops(std::make_integer_sequence<int, 32> {});

} // namespace

void ToneFilter::prepareFastPath()
{
    for (int c = 0; c < 3; ++c) {
        for (int32_t b = 0; b < 256; ++b) {
            const int32_t a = colorCurve[c].lookup(b);
            fast_.curve[c][b] = uint8_t(a);
            fast_.tone[c][b] = toneTable[c][a];
            fast_.weightedCurve[c][b] = lumaWeight[c] * a;
            fast_.weightedTone[c][b] = lumaWeight[c] * toneTable[c][a];
            // Sign-extended, so that negative weights from a caller borrow from the high half
            // in a way the loop can undo.
            const int32_t toneLuma = fast_.weightedTone[c][b];
            const int32_t difference = int32_t(uint32_t(toneLuma) - uint32_t(fast_.weightedCurve[c][b]));
            fast_.packed[c][b] = uint64_t(int64_t(toneLuma)) + (uint64_t(int64_t(difference)) << 32);
        }
    }
    int kernel = 0;
    if (dynamicEnable != 0) {
        kernel |= kDynamic;
        if (monochromatic != 0)
            kernel |= kMonochromatic;
        if (contrast != 0)
            kernel |= kContrast;
    }
    if (colorEnable != 0) {
        if (density != 0)
            kernel |= kDensity;
        if (saturation != 0)
            kernel |= kSaturation;
    }
    fast_.kernel = kernel;

    const int stages = ((kernel & kDensity) != 0 ? kVectorDensity : 0)
        | ((kernel & kSaturation) != 0 ? kVectorSaturation : 0)
        | ((kernel & kContrast) != 0 ? kVectorContrast : 0);
    fast_.vector = vectorMappingApplies(lumaWeight, stages, density, contrastSpan);
    if (fast_.vector) {
        for (int c = 0; c < 3; ++c) {
            for (int32_t b = 0; b < 256; ++b) {
                int32_t level = b;
                int32_t luma = lumaWeight[c] * b;
                int32_t shift = 0;
                if ((kernel & kDynamic) != 0) {
                    luma = fast_.weightedTone[c][b];
                    if ((kernel & kMonochromatic) != 0) {
                        level = fast_.curve[c][b];
                        shift = luma - fast_.weightedCurve[c][b];
                    } else {
                        level = fast_.tone[c][b];
                    }
                }
                fast_.word[c][b] = packedToneWord(c, level, luma, shift);
            }
        }
    }
    fast_.stages = stages;
    for (int32_t v = kContrastLow; v <= kContrastHigh; ++v)
        fast_.contrast[v - kContrastLow] = uint8_t(clampTo(applyContrast(v, contrastSpan), 0, 255));
}

void ToneFilter::mapPixels(uint8_t* first, int32_t count, int32_t channels) const
{
    if (fast_.vector && (channels == 3 || channels == 4)) {
        const VectorMapping mapping { fast_.word, fast_.stages, density, saturation, contrastSpan };
        mapPixelsVector(mapping, first, count, channels);
        return;
    }
    const Tables tables { fast_.tone, fast_.curve, fast_.weightedTone, fast_.weightedCurve, fast_.packed,
        lumaWeight, density, saturation, contrastSpan, fast_.contrast };
    kLoops[size_t(fast_.kernel)](tables, first, count, channels);
}

} // namespace quarvel
