// The per-pixel rule of smoothing: luminance pulled toward the blurred luminance by at most
// (Yb + 16) >> 5 levels, the same shift given to every channel.
#pragma once

#include <cstdint>

namespace quarvel {

// `weights` × 1024 for bytes 0..2; `amount` in 128ths; `threshold` fades the step in below it.
void smoothPixel(
    uint8_t* pixel, const uint8_t* blurred, const int32_t weights[3], int64_t amount, int64_t threshold);

} // namespace quarvel
