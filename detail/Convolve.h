// The blur's inner loop: out[i] = Σ weights[k] × taps[k][i] for i < n, weights 0..1000. One
// version per instruction set, all giving the same sums; `convolveBest` is the fastest that the
// processor running us has.
#pragma once

#include <cstdint>

namespace quarvel {

using ConvolveFunction
    = void (*)(int32_t* out, const uint8_t* const* taps, const int32_t* weights, int count, int64_t n);

void convolveBaseline(int32_t* out, const uint8_t* const* taps, const int32_t* weights, int count, int64_t n);
#if defined(QUARVEL_HAVE_AVX2)
void convolveAvx2(int32_t* out, const uint8_t* const* taps, const int32_t* weights, int count, int64_t n);
#endif

ConvolveFunction convolveBest();

// Whether weights[k] == weights[count - 1 - k] throughout: a whole blur kernel is, a window cut
// at an edge is not.
inline bool isSymmetric(const int32_t* weights, int count)
{
    for (int k = 0, j = count - 1; k < j; ++k, --j)
        if (weights[k] != weights[j])
            return false;
    return true;
}

} // namespace quarvel
