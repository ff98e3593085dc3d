// The byte blends of the tone tables. Every division truncates toward zero; operands are levels
// 0..255 except the percentage of percentMix, which scripts may push anywhere in 32 bits.
#pragma once

#include <cstdint>

namespace quarvel {

constexpr int32_t screenBlend(int32_t a, int32_t b) { return 255 - ((255 - a) * (255 - b) + 128) / 255; }

constexpr int32_t multiplyBlend(int32_t a, int32_t b) { return (a * b + 128) / 255; }

// A bell over the levels: 0 at 0, 128 at 128, 2 at 255.
constexpr int32_t midtoneBump(int32_t s) { return uint8_t(2 * s - (s * s + 64) / 128); }

// p percent of a and the rest of b, rounded, kept as its low 8 bits without clamping (a negative
// or large p wraps, as the tables have always stored it). 64-bit so that no p overflows.
constexpr int32_t percentMix(int32_t a, int32_t b, int64_t p)
{
    return uint8_t((int64_t(a) * p + int64_t(b) * (100 - p) + 50) / 100);
}

// Whole hundreds and the rest, the rest with the sign of x.
struct Hundreds {
    int64_t q;
    int64_t r;
};
constexpr Hundreds splitHundreds(int64_t x) { return { x / 100, x - 100 * (x / 100) }; }

} // namespace quarvel
