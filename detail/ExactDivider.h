// Division of a non-negative integer below 2^bits by a fixed divisor as one multiply and one
// shift. With L = ceil(log2 d), s = bits + L and m = ceil(2^s / d), the product's error
// (m·d − 2^s < d ≤ 2^L) stays below 1/d for every n < 2^bits, so floor(n·m / 2^s) = floor(n / d)
// exactly; m < 2^(bits + 1), so for bits ≤ 30 both factors fit 32 bits and the product 64.
#pragma once

#include <cstdint>

namespace quarvel {

struct ExactDivider {
    uint64_t multiplier = 0;
    uint32_t shift = 0;

    // `limit`: the largest numerator that will be divided (at most 2^30 − 1).
    static ExactDivider make(uint32_t divisor, uint32_t limit)
    {
        uint32_t bits = 1;
        while (bits < 30 && (uint64_t(1) << bits) <= limit)
            ++bits;
        uint32_t log = 0;
        while ((uint64_t(1) << log) < divisor)
            ++log;
        ExactDivider d;
        d.shift = bits + log;
        d.multiplier = ((uint64_t(1) << d.shift) + divisor - 1) / divisor;
        return d;
    }

    uint32_t divide(uint32_t n) const { return uint32_t((uint64_t(n) * multiplier) >> shift); }
};

} // namespace quarvel
