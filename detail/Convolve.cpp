// The blur's inner loop at the SSE2 baseline that every x86 processor we run on has, and the
// choice of the fastest loop for the processor running us.
#include "detail/Convolve.h"

#include <emmintrin.h>

namespace quarvel {

// Two taps at a time go through one 16-bit multiply-add (weights are at most 1000, bytes at most
// 255), sixteen bytes kept in registers over all taps so that each sum is stored once.
void convolveBaseline(
    int32_t* __restrict out, const uint8_t* const* taps, const int32_t* weights, int count, int64_t n)
{
    int64_t i = 0;
#if defined(__SSE2__)
    const bool symmetric = isSymmetric(weights, count);
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= n; i += 16) {
        __m128i acc0 = zero, acc1 = zero, acc2 = zero, acc3 = zero;
        // a and b: the low and high eight bytes of two taps (or of two tap-plus-mirror sums).
        const auto add
            = [&](__m128i aLow, __m128i aHigh, __m128i bLow, __m128i bHigh, int32_t wa, int32_t wb) {
                  const __m128i w = _mm_set1_epi32(int32_t((uint32_t(wa) & 0xFFFFu) | (uint32_t(wb) << 16)));
                  acc0 = _mm_add_epi32(acc0, _mm_madd_epi16(_mm_unpacklo_epi16(aLow, bLow), w));
                  acc1 = _mm_add_epi32(acc1, _mm_madd_epi16(_mm_unpackhi_epi16(aLow, bLow), w));
                  acc2 = _mm_add_epi32(acc2, _mm_madd_epi16(_mm_unpacklo_epi16(aHigh, bHigh), w));
                  acc3 = _mm_add_epi32(acc3, _mm_madd_epi16(_mm_unpackhi_epi16(aHigh, bHigh), w));
              };
        const auto load
            = [&](int k) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(taps[k] + i)); };
        int k = 0;
        int j = count - 1;
        if (symmetric) {
            // Each tap plus its mirror first: two bytes fit 16 bits, and one multiply-add then
            // covers four taps.
            for (; j - k > 2; k += 2, j -= 2) {
                const __m128i a0 = load(k), a1 = load(j), b0 = load(k + 1), b1 = load(j - 1);
                add(_mm_add_epi16(_mm_unpacklo_epi8(a0, zero), _mm_unpacklo_epi8(a1, zero)),
                    _mm_add_epi16(_mm_unpackhi_epi8(a0, zero), _mm_unpackhi_epi8(a1, zero)),
                    _mm_add_epi16(_mm_unpacklo_epi8(b0, zero), _mm_unpacklo_epi8(b1, zero)),
                    _mm_add_epi16(_mm_unpackhi_epi8(b0, zero), _mm_unpackhi_epi8(b1, zero)), weights[k],
                    weights[k + 1]);
            }
        }
        for (; k <= j; k += 2) {
            const bool pair = k + 1 <= j;
            const __m128i a = load(k);
            const __m128i b = pair ? load(k + 1) : zero;
            add(_mm_unpacklo_epi8(a, zero), _mm_unpackhi_epi8(a, zero), _mm_unpacklo_epi8(b, zero),
                _mm_unpackhi_epi8(b, zero), weights[k], pair ? weights[k + 1] : 0);
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), acc0);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 4), acc1);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 8), acc2);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 12), acc3);
    }
#endif
    for (; i < n; ++i) {
        int32_t sum = 0;
        for (int k = 0; k < count; ++k)
            sum += weights[k] * int32_t(taps[k][i]);
        out[i] = sum;
    }
}

ConvolveFunction convolveBest()
{
#if defined(QUARVEL_HAVE_AVX2)
    static const ConvolveFunction best = __builtin_cpu_supports("avx2") ? convolveAvx2 : convolveBaseline;
    return best;
#else
    return convolveBaseline;
#endif
}

} // namespace quarvel
