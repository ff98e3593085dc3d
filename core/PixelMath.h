// The fixed-point steps shared by the detail stages. Everything is carried in 64 bits so that
// scripted amounts of any int32 size give a defined (if extreme) result instead of an overflow.
#pragma once

#include <cstdint>

namespace quarvel {

constexpr uint8_t clampByte(int64_t v) { return uint8_t(v < 0 ? 0 : (v > 255 ? 255 : v)); }

// Percent to 128ths, rounded half up for positive amounts and truncated toward zero.
constexpr int64_t percentTo128ths(int32_t percent) { return (int64_t(percent) * 128 + 50) / 100; }

// value + amount / 128 of `difference`: ((128 − a) × v + a × (v + d) + 64) >> 7, the shift
// rounding toward minus infinity.
constexpr int64_t blend128(int64_t value, int64_t difference, int64_t amount)
{
    return ((128 - amount) * value + amount * (value + difference) + 64) >> 7;
}

// A fade-in below a threshold: the full amount from |difference| ≥ threshold, linear below.
constexpr int64_t thresholdAmount(int64_t difference, int64_t amount, int64_t threshold)
{
    const int64_t magnitude = difference < 0 ? -difference : difference;
    if (threshold >= 1 && magnitude < threshold)
        return (magnitude * amount + threshold / 2) / threshold;
    return amount;
}

} // namespace quarvel
