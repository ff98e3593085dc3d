// Smoothing moves a pixel's luminance a bounded step (a thirty-second of the blurred luminance)
// toward that of its surroundings and shifts all three channels by the same amount, so colour
// differences between the channels survive.
#include "detail/DetailFilter.h"
#include "detail/PixelMath.h"

namespace quarvel {

void DetailFilter::smoothStage(ImageBuffer& image)
{
    const int64_t amount = percentTo128ths(smoothAmount);
    blurIntoWorkBuffer(image, smoothRadius);

    const int32_t w0 = lumaWeight[0];
    const int32_t w1 = lumaWeight[1];
    const int32_t w2 = lumaWeight[2];
    const uint8_t* const work = work_.get();
    for (int32_t y = 0; y < image.rows; ++y) {
        if (cancel != 0)
            break;
        uint8_t* pixel = image.row(y);
        const uint8_t* blurred = work + size_t(y) * size_t(image.cols) * 3u;
        for (int32_t x = 0; x < image.cols; ++x, pixel += image.channels, blurred += 3) {
            const int64_t yo = (int64_t(w0) * pixel[0] + int64_t(w1) * pixel[1] + int64_t(w2) * pixel[2] + 512) >> 10;
            const int64_t yb = (int64_t(w0) * blurred[0] + int64_t(w1) * blurred[1] + int64_t(w2) * blurred[2] + 512) >> 10;
            const int64_t step = (yb + 16) >> 5;
            int64_t target = yo;
            if (yo > yb + step)
                target = yb + step;
            else if (yo < yb - step)
                target = yb - step;
            const int64_t difference = yb - target;
            const int64_t a = thresholdAmount(difference, amount, smoothThreshold);
            for (int c = 0; c < 3; ++c)
                pixel[c] = clampByte(blend128(pixel[c], difference, a));
        }
        tick(y);
    }
}

} // namespace quarvel
