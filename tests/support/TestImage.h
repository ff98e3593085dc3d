// A working buffer of random bytes (the fourth byte of each pixel 0) for the filter tests: the
// same seed gives the same picture.
#pragma once

#include "core/ImageBuffer.h"

#include <cstdint>
#include <random>
#include <vector>

namespace quarvel {

struct TestImage {
    TestImage(int32_t rows, int32_t cols, uint32_t seed = 1, int32_t order = kOrderBGR)
        : pixels(size_t(rows) * size_t(cols) * 4)
    {
        std::mt19937 random(seed);
        for (size_t n = 0; n < pixels.size(); ++n)
            pixels[n] = n % 4 == 3 ? 0 : uint8_t(random());
        buffer.data = pixels.data();
        buffer.rows = rows;
        buffer.cols = cols;
        buffer.channels = kWorkChannels;
        buffer.bits = kWorkBits;
        buffer.order = order;
    }
    std::vector<uint8_t> pixels;
    ImageBuffer buffer;
};

} // namespace quarvel
