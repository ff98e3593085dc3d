// The per-pixel rules of sharpening, shared by the stage and its tests: the choice of parameter
// set by the blurred pixel's channel sum, and the bounded, threshold-faded unsharp mask.
#pragma once

#include <cstdint>

namespace quarvel {

// Amount in 128ths, edge divisor (no bound when at most 1), threshold in channel levels.
struct SharpSet {
    int64_t amount;
    int64_t edgeDivisor;
    int64_t threshold;
};

// In channel-sum units (0..765): the two tonal sums and the two transition bands.
struct TonalBands {
    int64_t hiSum;
    int64_t shSum;
    int64_t hiBand;
    int64_t shBand;
};

// The highlight set above hiSum, the shadow set up to shSum, in between both weighted by how
// far the level lies inside each band (every value mixed in 255ths when both bands are 255).
SharpSet chooseSharpSet(
    int64_t level, const TonalBands& bands, const SharpSet& highlight, const SharpSet& shadow);

// Sharpens bytes 0..2 of `pixel` against the blurred `blurred`.
void sharpenPixel(uint8_t* pixel, const uint8_t* blurred, const SharpSet& set);

} // namespace quarvel
