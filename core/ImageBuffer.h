// Describes an image in memory: the host's input and output buffers and the plug-in's 8-bit
// working buffers all travel as one of these. A descriptor never owns its block.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quarvel {

struct ImageBuffer {
    uint8_t* data = nullptr; // first byte of the top row
    int32_t rows = 0;
    int32_t cols = 0;
    int32_t channels = 0; // interleaved samples per pixel, also the step between pixels
    int32_t bits = 0; // 8, or 16 (unsigned little-endian samples, 0..32768)
    int32_t order = 0; // 0: red, green, blue; 1: blue, green, red
    // Bytes from one row to the next. 0 means packed rows, which every buffer of ours has;
    // a host may pad its rows and says so through its row-byte fields.
    int64_t rowBytes = 0;

    int64_t packedRowBytes() const { return int64_t(cols) * channels * (bits / 8); }
    int64_t stride() const { return rowBytes > 0 ? rowBytes : packedRowBytes(); }
    uint8_t* row(int32_t r) const { return data + size_t(r) * size_t(stride()); }
};

// Working buffers: four 8-bit samples per pixel, blue, green, red and a byte that stays 0 (the
// layout of a 32-bit top-down device-independent bitmap).
constexpr int32_t kWorkChannels = 4;
constexpr int32_t kWorkBits = 8;
constexpr int32_t kOrderRGB = 0;
constexpr int32_t kOrderBGR = 1;

} // namespace quarvel
