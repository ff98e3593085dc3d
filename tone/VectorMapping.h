// The tone pass eight pixels at a time in 16-bit lanes, for pixels of three or four bytes.
// Table reads stay scalar: one 64-bit entry per channel whose sum over the three channels holds
// everything the pixel needs (its three levels, its luminance and its luminance shift). The
// arithmetic after that runs in SSE2, which both module builds have.
//
// It applies only while every intermediate value provably fits a 16-bit lane and a field of the
// sum; `vectorMappingApplies` says when, and the scalar loops take everything else.
#pragma once

#include <cstdint>

namespace quarvel {

// The stages after the tables, as bits.
enum VectorStage : int {
    kVectorDensity = 1,
    kVectorSaturation = 2,
    kVectorContrast = 4,
};

struct VectorMapping {
    // Sum word[0][b0] + word[1][b1] + word[2][b2] for a pixel, built by `packedToneWord`.
    const uint64_t (*word)[256];
    int stages = 0;
    int32_t density = 0;
    int32_t saturation = 0;
    int32_t span = 0;
};

// Weights non-negative and summing to at most 1026 keep the luminance at most 255 and its shift
// within +-255, which is what the fields and the lanes are sized for.
bool vectorMappingApplies(const int32_t weight[3], int stages, int32_t density, int32_t span);

// Channel `channel`'s entry for one input byte: the level it gives that channel (0..255), its
// weighted luminance and its part of the luminance shift (weighted tone minus weighted curve;
// 0 when levels are taken as they are). Channel 0's entries carry the rounding and the bias.
uint64_t packedToneWord(int channel, int32_t level, int32_t luma, int32_t shift);

// Maps `count` pixels of 3 or 4 bytes in place (bytes 0..2; a fourth byte is kept).
void mapPixelsVector(const VectorMapping& mapping, uint8_t* pixels, int32_t count, int32_t channels);

} // namespace quarvel
