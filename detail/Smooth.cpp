// Smoothing moves a pixel's luminance a bounded step (a thirty-second of the blurred luminance)
// toward that of its surroundings and shifts all three channels by the same amount, so colour
// differences between the channels survive.
#include "detail/Smooth.h"
#include "core/PixelMath.h"
#include "detail/DetailFilter.h"

namespace quarvel {

void smoothPixel(
    uint8_t* pixel, const uint8_t* blurred, const int32_t weights[3], int64_t amount, int64_t threshold)
{
    const int64_t yo = (int64_t(weights[0]) * pixel[0] + int64_t(weights[1]) * pixel[1]
                           + int64_t(weights[2]) * pixel[2] + 512)
        >> 10;
    const int64_t yb = (int64_t(weights[0]) * blurred[0] + int64_t(weights[1]) * blurred[1]
                           + int64_t(weights[2]) * blurred[2] + 512)
        >> 10;
    const int64_t step = (yb + 16) >> 5;
    int64_t target = yo;
    if (yo > yb + step)
        target = yb + step;
    else if (yo < yb - step)
        target = yb - step;
    const int64_t difference = yb - target;
    const int64_t a = thresholdAmount(difference, amount, threshold);
    for (int c = 0; c < 3; ++c)
        pixel[c] = clampByte(blend128(pixel[c], difference, a));
}

void DetailFilter::smoothStage(ImageBuffer& image)
{
    const int64_t amount = percentTo128ths(smoothAmount);
    blurIntoWorkBuffer(image, smoothRadius);
    if (!useReferenceKernels) {
        smoothFast(image, amount);
        return;
    }

    const uint8_t* const work = work_.get();
    for (int32_t y = 0; y < image.rows; ++y) {
        if (cancel != 0)
            break;
        uint8_t* pixel = image.row(y);
        const uint8_t* blurred = work + size_t(y) * size_t(image.cols) * 3u;
        for (int32_t x = 0; x < image.cols; ++x, pixel += image.channels, blurred += 3)
            smoothPixel(pixel, blurred, lumaWeight, amount, smoothThreshold);
        tick(y);
    }
}

} // namespace quarvel
