// Blur kernels: a radius in pixels becomes a symmetric integer kernel whose weights fall off as
// 1000 × 2.302585093^(−(k + 1)² / (r + 0.5)²) with distance k, rounded, cut where they reach 1.
#pragma once

#include <cstdint>
#include <vector>

namespace quarvel {

struct BlurKernel {
    std::vector<int32_t> weights; // 2 × halfWidth + 1, centre at halfWidth
    int32_t halfWidth = 0;
};

// At most 499 weights on each side of the centre: larger radii (about 179 and up, from scripts
// only) are built as the largest radius whose kernel fits, and a radius that is not a number as
// radius 0. Every other radius gets exactly its own weights.
BlurKernel buildBlurKernel(double radius);

// The largest r + 0.5 whose kernel fits in the builder's scratch.
double largestKernelScale();

} // namespace quarvel
