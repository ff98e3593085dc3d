// Unsharp masking with an edge bound proportional to the blurred level, a threshold fade, and in
// the highlight/shadow method two parameter sets crossfaded by the blurred pixel's channel sum.
#include "detail/DetailFilter.h"
#include "detail/PixelMath.h"

#include <algorithm>

namespace quarvel {
namespace {

struct SharpSet {
    int64_t amount;
    int64_t edgeDivisor;
    int64_t threshold;
};

int64_t bandMix(int64_t hi, int64_t wHi, int64_t hiBand, int64_t sh, int64_t wSh, int64_t shBand)
{
    return (hi * wHi + hiBand / 2) / hiBand + (sh * wSh + shBand / 2) / shBand;
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

} // namespace

void DetailFilter::sharpenStage(ImageBuffer& image)
{
    const SharpSet shadow{percentTo128ths(shAmount), shEdgeDivisor, shThreshold};
    const SharpSet highlight{percentTo128ths(hiAmount), hiEdgeDivisor, hiThreshold};
    // The highlight set has no radius of its own: one blur serves both sets.
    blurIntoWorkBuffer(image, shRadius);

    const uint8_t* const work = work_.get();
    for (int32_t y = 0; y < image.rows; ++y) {
        if (cancel != 0)
            break;
        uint8_t* pixel = image.row(y);
        const uint8_t* blurred = work + size_t(y) * size_t(image.cols) * 3u;
        for (int32_t x = 0; x < image.cols; ++x, pixel += image.channels, blurred += 3) {
            if (sharpMethod == 0) {
                sharpenPixel(pixel, blurred, shadow);
                continue;
            }
            const int64_t level = int64_t(blurred[0]) + blurred[1] + blurred[2];
            if (level > hiTonalSum) {
                sharpenPixel(pixel, blurred, highlight);
            } else if (level > shTonalSum) {
                const int64_t wSh = std::max<int64_t>(0, shBand - (level - shTonalSum));
                const int64_t wHi = std::max<int64_t>(0, hiBand - (hiTonalSum - level));
                const SharpSet mixed{
                    bandMix(highlight.amount, wHi, hiBand, shadow.amount, wSh, shBand),
                    bandMix(highlight.edgeDivisor, wHi, hiBand, shadow.edgeDivisor, wSh, shBand),
                    bandMix(highlight.threshold, wHi, hiBand, shadow.threshold, wSh, shBand)};
                sharpenPixel(pixel, blurred, mixed);
            } else {
                sharpenPixel(pixel, blurred, shadow);
            }
        }
        tick(y);
    }
}

} // namespace quarvel
