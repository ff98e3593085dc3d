// The input of the filter fuzz targets: two bytes of size, the pixels, then settings text.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace quarvel::fuzz {

struct ImageInput {
    int32_t rows = 1;
    int32_t cols = 1;
    std::vector<uint8_t> pixels; // 4 bytes per pixel, short input padded with zeros
    std::string settings;
};

// Bytes 0 and 1: rows and columns (1..maxSide); then the pixels; the rest, after `prefix`, is
// the settings text up to its first zero byte.
inline ImageInput splitInput(const uint8_t* data, size_t size, int maxSide, const char* prefix = "")
{
    ImageInput in;
    if (size >= 2) {
        in.rows = 1 + data[0] % maxSide;
        in.cols = 1 + data[1] % maxSide;
        data += 2;
        size -= 2;
    }
    const size_t bytes = size_t(in.rows) * size_t(in.cols) * 4;
    in.pixels.assign(bytes, 0);
    const size_t taken = size < bytes ? size : bytes;
    if (taken)
        std::memcpy(in.pixels.data(), data, taken);
    in.settings = prefix;
    in.settings.append(reinterpret_cast<const char*>(data + taken), size - taken);
    in.settings.erase(std::find(in.settings.begin(), in.settings.end(), '\0'), in.settings.end());
    return in;
}

} // namespace quarvel::fuzz
