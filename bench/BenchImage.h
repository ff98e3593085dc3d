// The image every timing runs on and the three ways the pixel timings run, shared by the tone
// and the detail benchmarks so that their figures describe the same work.
#pragma once

#include "core/ImageBuffer.h"

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace bench {

using quarvel::ImageBuffer;

constexpr int32_t kRows = 4000;
constexpr int32_t kCols = 6000;
constexpr double kMegapixels = double(kRows) * double(kCols) / 1e6;
constexpr size_t kBytes = size_t(kRows) * size_t(kCols) * size_t(quarvel::kWorkChannels);

// Gradients give every level a population, as a photograph does; the noise keeps neighbouring
// pixels apart so that no loop profits from runs of equal bytes. A fixed seed makes every run
// time the same image.
inline const std::vector<uint8_t>& sourcePixels()
{
    static const std::vector<uint8_t> pixels = [] {
        std::vector<uint8_t> p(kBytes);
        uint32_t seed = 0x2545F491u;
        size_t i = 0;
        for (int32_t y = 0; y < kRows; ++y) {
            for (int32_t x = 0; x < kCols; ++x) {
                const int32_t gx = x * 255 / (kCols - 1);
                const int32_t gy = y * 255 / (kRows - 1);
                const int32_t base[3] = { gx, gy, (gx + gy) / 2 };
                for (int c = 0; c < 3; ++c) {
                    seed = seed * 1664525u + 1013904223u;
                    const int32_t noise = int32_t(seed >> 27) - 16;
                    const int32_t v = base[c] + noise;
                    p[i++] = uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
                }
                p[i++] = 0;
            }
        }
        return p;
    }();
    return pixels;
}

inline ImageBuffer describe(uint8_t* data)
{
    ImageBuffer image;
    image.data = data;
    image.rows = kRows;
    image.cols = kCols;
    image.channels = quarvel::kWorkChannels;
    image.bits = quarvel::kWorkBits;
    image.order = quarvel::kOrderBGR;
    return image;
}

inline void setRate(benchmark::State& state)
{
    state.counters["MP/s"]
        = benchmark::Counter(kMegapixels * double(state.iterations()), benchmark::Counter::kIsRate);
}

// The three ways the pixel timings run, named at the end of each benchmark's name ("mode:fast2")
// for bench/compare.sh to line them up.
struct Mode {
    const char* name;
    bool reference;
    int threads;
};

constexpr Mode kModes[] = {
    { "reference", true, 1 },
    { "fast1", false, 1 },
    { "fast2", false, 2 },
};

} // namespace bench
