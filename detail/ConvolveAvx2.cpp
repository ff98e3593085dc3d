// The blur's multiply-add loop for processors with AVX2, chosen at run time: sixteen bytes per
// tap widened at once, two taps per 16-bit multiply-add, thirty-two-bit sums as before. A
// symmetric kernel adds each tap to its mirror first (two bytes fit 16 bits), so that one
// multiply-add covers four taps.
#include "detail/Convolve.h"

#if defined(QUARVEL_HAVE_AVX2)
#include <immintrin.h>

namespace quarvel {

namespace {

inline __m256i widen(const uint8_t* p)
{
    return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

inline __m256i weightPair(int32_t a, int32_t b)
{
    return _mm256_set1_epi32(int32_t((uint32_t(a) & 0xFFFFu) | (uint32_t(b) << 16)));
}

} // namespace

void convolveAvx2(
    int32_t* __restrict out, const uint8_t* const* taps, const int32_t* weights, int count, int64_t n)
{
    const bool symmetric = isSymmetric(weights, count);
    int64_t i = 0;
    const __m256i zero = _mm256_setzero_si256();
    for (; i + 16 <= n; i += 16) {
        __m256i low = zero, high = zero;
        // Within each 128-bit half: bytes 0..3 and 8..11 in `low`, 4..7 and 12..15 in `high`.
        const auto add = [&](__m256i a, __m256i b, __m256i w) {
            low = _mm256_add_epi32(low, _mm256_madd_epi16(_mm256_unpacklo_epi16(a, b), w));
            high = _mm256_add_epi32(high, _mm256_madd_epi16(_mm256_unpackhi_epi16(a, b), w));
        };
        int k = 0;
        int j = count - 1;
        if (symmetric) {
            for (; j - k > 2; k += 2, j -= 2) {
                const __m256i a = _mm256_add_epi16(widen(taps[k] + i), widen(taps[j] + i));
                const __m256i b = _mm256_add_epi16(widen(taps[k + 1] + i), widen(taps[j - 1] + i));
                add(a, b, weightPair(weights[k], weights[k + 1]));
            }
        }
        for (; k <= j; k += 2) {
            const bool pair = k + 1 <= j;
            add(widen(taps[k] + i), pair ? widen(taps[k + 1] + i) : zero,
                weightPair(weights[k], pair ? weights[k + 1] : 0));
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), _mm256_permute2x128_si256(low, high, 0x20));
        _mm256_storeu_si256(
            reinterpret_cast<__m256i*>(out + i + 8), _mm256_permute2x128_si256(low, high, 0x31));
    }
    for (; i < n; ++i) {
        int32_t sum = 0;
        for (int k = 0; k < count; ++k)
            sum += weights[k] * int32_t(taps[k][i]);
        out[i] = sum;
    }
}

} // namespace quarvel
#endif
