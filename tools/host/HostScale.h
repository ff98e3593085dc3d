// The host's 16-bit scale is 0..32768, files use 0..65535. Both directions round to nearest, so
// a sample is within one step of where it started after a round trip, and 0, 32768 and 65535
// map onto each other exactly.
#pragma once

#include <cstdint>

namespace quarvel::host {

constexpr uint16_t fileToHost16(uint16_t v)
{
    return uint16_t((uint32_t(v) * 32768u + 32767u) / 65535u);
}

constexpr uint16_t hostToFile16(uint16_t v)
{
    const uint32_t clamped = v > 32768 ? 32768u : v;
    return uint16_t((clamped * 65535u + 16384u) / 32768u);
}

static_assert(fileToHost16(65535) == 32768 && hostToFile16(32768) == 65535, "white maps to white");
static_assert(fileToHost16(0) == 0 && hostToFile16(0) == 0, "black maps to black");

} // namespace quarvel::host
