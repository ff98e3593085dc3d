// Unsharp masking with an edge bound proportional to the blurred level, a threshold fade, and in
// the highlight/shadow method two parameter sets crossfaded by the blurred pixel's channel sum.
#include "detail/Sharpen.h"
#include "core/PixelMath.h"
#include "core/WorkerPool.h"
#include "detail/BlurBuilder.h"
#include "detail/DetailFilter.h"

#include <algorithm>
#include <vector>

namespace quarvel {
namespace {

int64_t bandMix(int64_t hi, int64_t wHi, int64_t hiBand, int64_t sh, int64_t wSh, int64_t shBand)
{
    return (hi * wHi + hiBand / 2) / hiBand + (sh * wSh + shBand / 2) / shBand;
}

} // namespace

SharpSet chooseSharpSet(
    int64_t level, const TonalBands& bands, const SharpSet& highlight, const SharpSet& shadow)
{
    if (level > bands.hiSum)
        return highlight;
    if (level <= bands.shSum)
        return shadow;
    // Both bands are at least 1 here: they shrink to hiSum − shSum, never below.
    const int64_t wSh = std::max<int64_t>(0, bands.shBand - (level - bands.shSum));
    const int64_t wHi = std::max<int64_t>(0, bands.hiBand - (bands.hiSum - level));
    return SharpSet { bandMix(highlight.amount, wHi, bands.hiBand, shadow.amount, wSh, bands.shBand),
        bandMix(highlight.edgeDivisor, wHi, bands.hiBand, shadow.edgeDivisor, wSh, bands.shBand),
        bandMix(highlight.threshold, wHi, bands.hiBand, shadow.threshold, wSh, bands.shBand) };
}

void sharpenPixel(uint8_t* pixel, const uint8_t* blurred, const SharpSet& set)
{
    for (int c = 0; c < 3; ++c) {
        const int64_t o = pixel[c];
        const int64_t b = blurred[c];
        int64_t bounded = o;
        if (set.edgeDivisor > 1) {
            const int64_t d = (b + set.edgeDivisor / 2) / set.edgeDivisor;
            if (o > b + d)
                bounded = b + d;
            else if (o < b - d)
                bounded = b - d;
        }
        const int64_t difference = bounded - b;
        const int64_t amount = thresholdAmount(difference, set.amount, set.threshold);
        pixel[c] = clampByte(blend128(o, difference, amount));
    }
}

void DetailFilter::sharpenStage(ImageBuffer& image)
{
    const SharpSet shadow { percentTo128ths(shAmount), shEdgeDivisor, shThreshold };
    const SharpSet highlight { percentTo128ths(hiAmount), hiEdgeDivisor, hiThreshold };
    const TonalBands bands { hiTonalSum, shTonalSum, hiBand, shBand };
    // The highlight set has no radius of its own: one blur serves both sets.
    blurIntoWorkBuffer(image, shRadius);
    if (!useReferenceKernels) {
        sharpenFast(image);
        return;
    }

    const uint8_t* const work = work_.get();
    for (int32_t y = 0; y < image.rows; ++y) {
        if (cancel != 0)
            break;
        uint8_t* pixel = image.row(y);
        const uint8_t* blurred = work + size_t(y) * size_t(image.cols) * 3u;
        for (int32_t x = 0; x < image.cols; ++x, pixel += image.channels, blurred += 3) {
            if (sharpMethod == 0) {
                sharpenPixel(pixel, blurred, shadow);
            } else {
                const int64_t level = int64_t(blurred[0]) + blurred[1] + blurred[2];
                sharpenPixel(pixel, blurred, chooseSharpSet(level, bands, highlight, shadow));
            }
        }
        tick(y);
    }
}

// The fast combine passes fold everything that depends only on a difference or a level into
// small per-run tables, using (128·O + a·D + 64) >> 7 = O + ((a·D + 64) >> 7).
void DetailFilter::sharpenFast(ImageBuffer& image)
{
    const uint8_t* const work = work_.get();
    const int64_t cols = image.cols;
    const int64_t channels = image.channels;
    if (sharpMethod != 0) {
        // Two sets crossfaded per pixel: the plain pixel rule, shared between the threads.
        const SharpSet shadow { percentTo128ths(shAmount), shEdgeDivisor, shThreshold };
        const SharpSet highlight { percentTo128ths(hiAmount), hiEdgeDivisor, hiThreshold };
        const TonalBands bands { hiTonalSum, shTonalSum, hiBand, shBand };
        // The set depends on the blurred channel sum alone: one per sum, chosen once per run.
        std::vector<SharpSet> sets(766);
        for (int64_t level = 0; level <= 765; ++level)
            sets[size_t(level)] = chooseSharpSet(level, bands, highlight, shadow);
        runTickedPass(image.rows, [&](int64_t y0, int64_t y1) {
            parallel(y0, y1, [&](int, int64_t begin, int64_t end) {
                for (int64_t y = begin; y < end; ++y) {
                    uint8_t* pixel = image.row(int32_t(y));
                    const uint8_t* blurred = work + size_t(y) * size_t(cols) * 3u;
                    for (int64_t x = 0; x < cols; ++x, pixel += channels, blurred += 3) {
                        sharpenPixel(pixel, blurred, sets[size_t(blurred[0]) + blurred[1] + blurred[2]]);
                    }
                }
            });
        });
        return;
    }

    // One set: the edge bound depends only on the blurred level, the change only on the bounded
    // difference. Changes beyond ±256 clamp alike, so they are stored clamped.
    const int64_t amount = percentTo128ths(shAmount);
    const bool bounded = shEdgeDivisor > 1;
    int16_t bound[256];
    for (int64_t b = 0; b < 256; ++b)
        bound[b] = int16_t(bounded ? std::min<int64_t>((b + shEdgeDivisor / 2) / shEdgeDivisor, 255) : 255);
    int16_t change[511];
    for (int64_t d = -255; d <= 255; ++d) {
        const int64_t a = thresholdAmount(d, amount, shThreshold);
        const int64_t v = (a * d + 64) >> 7;
        change[d + 255] = int16_t(std::clamp<int64_t>(v, -256, 256));
    }
    // Every result is a function of the byte and its blurred byte: 64 KB, made once per run.
    std::vector<uint8_t> result(65536);
    for (int32_t b = 0; b < 256; ++b) {
        const int32_t limit = bound[b];
        for (int32_t o = 0; o < 256; ++o)
            result[size_t(b) * 256u + size_t(o)]
                = clampByte(o + change[std::clamp(o - b, -limit, limit) + 255]);
    }
    const uint8_t* const sharpened = result.data();
    runTickedPass(image.rows, [&](int64_t y0, int64_t y1) {
        parallel(y0, y1, [&](int, int64_t begin, int64_t end) {
            for (int64_t y = begin; y < end; ++y) {
                uint8_t* pixel = image.row(int32_t(y));
                const uint8_t* blurred = work + size_t(y) * size_t(cols) * 3u;
                for (int64_t x = 0; x < cols; ++x, pixel += channels, blurred += 3) {
                    pixel[0] = sharpened[size_t(blurred[0]) << 8 | pixel[0]];
                    pixel[1] = sharpened[size_t(blurred[1]) << 8 | pixel[1]];
                    pixel[2] = sharpened[size_t(blurred[2]) << 8 | pixel[2]];
                }
            }
        });
    });
}

} // namespace quarvel
