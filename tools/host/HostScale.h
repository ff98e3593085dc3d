// The host's 16-bit scale is 0..32768, files use 0..65535. Both directions round to nearest, so
// a sample is within one step of where it started after a round trip, and 0, 32768 and 65535
// map onto each other exactly. Two file values share most host values, so only the file's own
// sample can bring back the one that was read.
#pragma once

#include <cstdint>

namespace quarvel::host {

// The nearest host value, v × 32768 / 65535 rounded, comes to (v + 1) / 2 for every 16-bit v:
// the form that compiles to a shift over whole vectors of samples.
constexpr uint16_t fileToHost16(uint16_t v) { return uint16_t((uint32_t(v) + 1u) >> 1); }

constexpr uint16_t hostToFile16(uint16_t v)
{
    const uint32_t clamped = v > 32768 ? 32768u : v;
    return uint16_t((clamped * 65535u + 16384u) / 32768u);
}

// The file value for host value `v` whose sample read `original` from the file: the original
// itself when the host value is still the one it gave, so an untouched sample returns exactly.
constexpr uint16_t hostToFile16(uint16_t v, uint16_t original)
{
    return fileToHost16(original) == v ? original : hostToFile16(v);
}

static_assert(fileToHost16(65535) == 32768 && hostToFile16(32768) == 65535, "white maps to white");
static_assert(fileToHost16(0) == 0 && hostToFile16(0) == 0, "black maps to black");
static_assert(hostToFile16(fileToHost16(1), 1) == 1 && hostToFile16(fileToHost16(1)) == 2,
    "an untouched sample returns as read where the plain mapping gives its neighbour");

} // namespace quarvel::host
