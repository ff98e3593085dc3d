// Unsharp masking with an edge bound proportional to the blurred level, a threshold fade, and in
// the highlight/shadow method two parameter sets crossfaded by the blurred pixel's channel sum.
#include "detail/Sharpen.h"
#include "core/PixelMath.h"
#include "detail/DetailFilter.h"

#include <algorithm>

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

} // namespace quarvel
