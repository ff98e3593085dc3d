// The steps of one pixel after its levels come from the tone tables: density, saturation and
// contrast. The reference mapping and the loops specialised per run share them, so both give the
// same bytes by construction.
#pragma once

#include <algorithm>
#include <cstdint>

namespace quarvel {

constexpr int32_t clampTo(int32_t v, int32_t lo, int32_t hi) { return v < lo ? lo : v > hi ? hi : v; }

// Each channel's distance below the largest one scaled by (density + 32) / 32, never below 0.
// Ties keep channel 2 in the middle.
inline void applyDensity(int32_t level[3], int32_t density)
{
    int mn = 1;
    int mx = 0;
    if (level[0] < level[1]) {
        mn = 0;
        mx = 1;
    }
    int md = 2;
    if (level[2] < level[mn]) {
        md = mn;
        mn = 2;
    }
    if (level[2] > level[mx]) {
        md = mx;
        mx = 2;
    }
    const int32_t m = level[mx];
    // 64-bit: a scripted density of any size scales the distance without overflow before the
    // clamp brings it back into 0..m.
    const int64_t f = int64_t(density) + 32;
    const auto scaled = [m, f](int32_t v) {
        const int64_t d = ((int64_t(m) - v) * f + 16) >> 5;
        return int32_t(std::min<int64_t>(std::max<int64_t>(d, 0), m));
    };
    const int32_t dMin = scaled(level[mn]);
    const int32_t dMid = scaled(level[md]);
    level[mn] = m - dMin;
    level[md] = m - dMid;
}

inline void applySaturation(int32_t level[3], int32_t luma, int32_t saturation)
{
    const int32_t y = (luma + 512) >> 10;
    const int32_t s = clampTo(saturation, -32, 32) + 32;
    for (int c = 0; c < 3; ++c)
        level[c] = y - (((y - level[c]) * s + 16) >> 5);
}

// Levels inside 128 +- span follow v / 5 + v^2 / 160; outside it the factor is held at the
// band's edge.
inline int32_t applyContrast(int32_t v, int32_t span)
{
    const int32_t t = clampTo(v, 128 - span, 128 + span);
    const int32_t u = (t * v + 64) >> 7;
    return (2 * (v + 4 * u) + 5) / 10;
}

} // namespace quarvel
