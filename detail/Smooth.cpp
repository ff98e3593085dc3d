// Smoothing moves a pixel's luminance a bounded step (a thirty-second of the blurred luminance)
// toward that of its surroundings and shifts all three channels by the same amount, so colour
// differences between the channels survive.
#include "detail/Smooth.h"
#include "core/PixelMath.h"
#include "core/WorkerPool.h"
#include "detail/DetailFilter.h"
#include <emmintrin.h>

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

namespace {

#if defined(__SSE2__)
// Eight four-byte pixels of one row through the smoothing rule: both luminances, the step and
// its clamp in 16-bit lanes, the 17-entry change table read per pixel, and the change added to
// bytes 0..2 with the saturating pack as the clamp. Weights are non-negative and add up to at
// most 1024, as for the scalar loop below.
inline void smoothEight(uint8_t* pixel, const uint8_t* blurred, const int32_t weight[3],
    const int32_t (*weighted)[256], const int16_t* change)
{
    alignas(16) int32_t blurSums[8];
    for (int i = 0; i < 8; ++i, blurred += 3)
        blurSums[i] = weighted[0][blurred[0]] + weighted[1][blurred[1]] + weighted[2][blurred[2]];
    const __m128i round = _mm_set1_epi32(512);
    const __m128i yb = _mm_packs_epi32(
        _mm_srai_epi32(_mm_add_epi32(_mm_load_si128(reinterpret_cast<const __m128i*>(blurSums)), round), 10),
        _mm_srai_epi32(
            _mm_add_epi32(_mm_load_si128(reinterpret_cast<const __m128i*>(blurSums + 4)), round), 10));

    const __m128i zero = _mm_setzero_si128();
    const __m128i w = _mm_set_epi16(0, int16_t(weight[2]), int16_t(weight[1]), int16_t(weight[0]), 0,
        int16_t(weight[2]), int16_t(weight[1]), int16_t(weight[0]));
    __m128i* const v = reinterpret_cast<__m128i*>(pixel);
    const __m128i first = _mm_loadu_si128(v), second = _mm_loadu_si128(v + 1);
    __m128i words[4] = { _mm_unpacklo_epi8(first, zero), _mm_unpackhi_epi8(first, zero),
        _mm_unpacklo_epi8(second, zero), _mm_unpackhi_epi8(second, zero) };
    // Each pixel's sum in the even dword of its half, two pixels per vector.
    __m128i sums[4];
    for (int i = 0; i < 4; ++i) {
        const __m128i products = _mm_madd_epi16(words[i], w);
        sums[i] = _mm_shuffle_epi32(
            _mm_add_epi32(products, _mm_srli_epi64(products, 32)), _MM_SHUFFLE(3, 1, 2, 0));
    }
    const __m128i yo
        = _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(_mm_unpacklo_epi64(sums[0], sums[1]), round), 10),
            _mm_srai_epi32(_mm_add_epi32(_mm_unpacklo_epi64(sums[2], sums[3]), round), 10));

    const __m128i step = _mm_srai_epi16(_mm_add_epi16(yb, _mm_set1_epi16(16)), 5);
    const __m128i target = _mm_min_epi16(_mm_max_epi16(yo, _mm_sub_epi16(yb, step)), _mm_add_epi16(yb, step));
    const __m128i index
        = _mm_min_epi16(_mm_max_epi16(_mm_sub_epi16(yb, target), _mm_set1_epi16(-8)), _mm_set1_epi16(8));
    __m128i delta = zero;
    delta = _mm_insert_epi16(delta, change[int16_t(_mm_extract_epi16(index, 0))], 0);
    delta = _mm_insert_epi16(delta, change[int16_t(_mm_extract_epi16(index, 1))], 1);
    delta = _mm_insert_epi16(delta, change[int16_t(_mm_extract_epi16(index, 2))], 2);
    delta = _mm_insert_epi16(delta, change[int16_t(_mm_extract_epi16(index, 3))], 3);
    delta = _mm_insert_epi16(delta, change[int16_t(_mm_extract_epi16(index, 4))], 4);
    delta = _mm_insert_epi16(delta, change[int16_t(_mm_extract_epi16(index, 5))], 5);
    delta = _mm_insert_epi16(delta, change[int16_t(_mm_extract_epi16(index, 6))], 6);
    delta = _mm_insert_epi16(delta, change[int16_t(_mm_extract_epi16(index, 7))], 7);

    // Each pixel's change on its three bytes, none on the fourth.
    const __m128i bytes012 = _mm_set_epi16(0, -1, -1, -1, 0, -1, -1, -1);
    const __m128i pairsLow = _mm_unpacklo_epi16(delta, delta);
    const __m128i pairsHigh = _mm_unpackhi_epi16(delta, delta);
    const __m128i spread[4] = {
        _mm_and_si128(_mm_unpacklo_epi32(pairsLow, pairsLow), bytes012),
        _mm_and_si128(_mm_unpackhi_epi32(pairsLow, pairsLow), bytes012),
        _mm_and_si128(_mm_unpacklo_epi32(pairsHigh, pairsHigh), bytes012),
        _mm_and_si128(_mm_unpackhi_epi32(pairsHigh, pairsHigh), bytes012),
    };
    _mm_storeu_si128(
        v, _mm_packus_epi16(_mm_add_epi16(words[0], spread[0]), _mm_add_epi16(words[1], spread[1])));
    _mm_storeu_si128(
        v + 1, _mm_packus_epi16(_mm_add_epi16(words[2], spread[2]), _mm_add_epi16(words[3], spread[3])));
}
#endif

} // namespace

void DetailFilter::smoothFast(ImageBuffer& image, int64_t amount)
{
    // The luminance difference is at most 8 either way: its change is one of 17 values.
    int16_t change[17];
    for (int64_t d = -8; d <= 8; ++d) {
        const int64_t a = thresholdAmount(d, amount, smoothThreshold);
        change[d + 8] = int16_t(std::clamp<int64_t>((a * d + 64) >> 7, -256, 256));
    }
    const uint8_t* const work = work_.get();
    const int64_t cols = image.cols;
    const int64_t channels = image.channels;
    const int32_t w0 = lumaWeight[0], w1 = lumaWeight[1], w2 = lumaWeight[2];
    // Weights that add up to at most 1024 keep the luminance a level and the step at most 8;
    // any others go through the plain pixel rule.
    const bool smallWeights = w0 >= 0 && w1 >= 0 && w2 >= 0 && int64_t(w0) + w1 + w2 <= 1024;
    const int32_t weights[3] = { w0, w1, w2 };
    int32_t weighted[3][256];
    for (int c = 0; c < 3; ++c)
        for (int32_t b = 0; b < 256; ++b)
            weighted[c][b] = smallWeights ? weights[c] * b : 0;
    runTickedPass(image.rows, [&](int64_t y0, int64_t y1) {
        parallel(y0, y1, [&](int, int64_t begin, int64_t end) {
            for (int64_t y = begin; y < end; ++y) {
                uint8_t* pixel = image.row(int32_t(y));
                const uint8_t* blurred = work + size_t(y) * size_t(cols) * 3u;
                if (!smallWeights) {
                    for (int64_t x = 0; x < cols; ++x, pixel += channels, blurred += 3)
                        smoothPixel(pixel, blurred, weights, amount, smoothThreshold);
                    continue;
                }
                int64_t x = 0;
#if defined(__SSE2__)
                if (channels == 4)
                    for (; x + 8 <= cols; x += 8, pixel += 32, blurred += 24)
                        smoothEight(pixel, blurred, weights, weighted, change + 8);
#endif
                for (; x < cols; ++x, pixel += channels, blurred += 3) {
                    const int32_t yo = (w0 * pixel[0] + w1 * pixel[1] + w2 * pixel[2] + 512) >> 10;
                    const int32_t yb = (w0 * blurred[0] + w1 * blurred[1] + w2 * blurred[2] + 512) >> 10;
                    const int32_t step = (yb + 16) >> 5;
                    const int32_t target = std::clamp(yo, yb - step, yb + step);
                    const int32_t delta = change[std::clamp(yb - target, -8, 8) + 8];
                    pixel[0] = clampByte(pixel[0] + delta);
                    pixel[1] = clampByte(pixel[1] + delta);
                    pixel[2] = clampByte(pixel[2] + delta);
                }
            }
        });
    });
}

} // namespace quarvel
