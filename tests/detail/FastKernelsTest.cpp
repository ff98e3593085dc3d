#include "core/WorkerPool.h"
#include "detail/BlurBuilder.h"
#include "detail/Convolve.h"
#include "detail/DiffuseGrain.h"
#include "detail/ExactDivider.h"
#include "settings/ParameterDocument.h"
#include "tests/support/RecordingOwner.h"
#include "tests/support/TestImage.h"
#include "tone/ToneFilter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace quarvel {
namespace {

TEST(ExactDivider, MatchesDivisionAtEveryQuotientBoundary)
{
    // Every window sum a blur can divide by on the pages: each cut of each kernel up to 30.
    std::vector<uint32_t> divisors;
    for (int tenth = 0; tenth <= 300; tenth += 7) {
        const BlurKernel k = buildBlurKernel(tenth / 10.0);
        int64_t sum = 0;
        for (int32_t w : k.weights) {
            sum += w;
            divisors.push_back(uint32_t(sum));
        }
    }
    divisors.push_back(1);
    divisors.push_back(347000); // about the widest kernel's sum
    for (uint32_t d : divisors) {
        if (d == 0)
            continue;
        const uint32_t limit = d * 255 + d / 2;
        const ExactDivider divider = ExactDivider::make(d, limit);
        for (uint64_t q = 0; q * d <= limit; ++q)
            for (uint64_t n : { q * d, q * d + d - 1, q * d + d / 2 }) {
                if (n > limit)
                    continue;
                ASSERT_EQ(divider.divide(uint32_t(n)), n / d) << n << " / " << d;
            }
        ASSERT_EQ(divider.divide(limit), limit / d);
    }
}

TEST(GrainJump, LandsWhereTheDrawsWould)
{
    for (uint32_t seed : { 1u, 0u, 20261207u, 0xFFFFFFFFu }) {
        seedGrainRandom(seed);
        uint32_t state = seed;
        for (uint64_t n = 0; n < 3000; ++n) {
            ASSERT_EQ(grainStateAfter(seed, n), state) << n;
            state = state * 214013u + 2531011u;
        }
    }
    EXPECT_EQ(grainStateAfter(5, uint64_t(1) << 32), 5u) << "the generator's full period";
}

TEST(WorkerPool, EveryIndexOnceAndErrorsComeBack)
{
    WorkerPool pool(3);
    EXPECT_EQ(pool.size(), 3);
    for (int64_t count : { 1, 2, 3, 7, 1000 }) {
        std::vector<std::atomic<int>> seen(static_cast<size_t>(count));
        pool.run(count, [&](int, int64_t b, int64_t e) {
            for (int64_t i = b; i < e; ++i)
                ++seen[size_t(i)];
        });
        for (auto& s : seen)
            ASSERT_EQ(s.load(), 1);
    }
    EXPECT_THROW(pool.run(10,
                     [](int index, int64_t, int64_t) {
                         if (index == 2)
                             throw std::runtime_error("piece 2");
                     }),
        std::runtime_error);
    int calls = 0;
    pool.run(5, [&](int, int64_t, int64_t) { ++calls; }); // still usable after an error
    EXPECT_GE(calls, 1);
}

std::vector<uint8_t> randomBytes(size_t count, std::mt19937& random)
{
    std::vector<uint8_t> bytes(count);
    for (uint8_t& b : bytes)
        b = uint8_t(random());
    return bytes;
}

struct FilterRun {
    std::vector<uint8_t> pixels;
    std::vector<Report> reports;
    int result = 0;
};

// One full process call (tone pass and detail stages) over a copy of `source`.
FilterRun runFilter(const std::vector<uint8_t>& source, int32_t rows, int32_t cols,
    const std::string& settings, bool reference, int threads, int stopAt = -1)
{
    FilterRun run;
    run.pixels = source;
    ImageBuffer image { run.pixels.data(), rows, cols, kWorkChannels, kWorkBits, kOrderBGR };
    ParameterDocument doc;
    doc.setText(settings.c_str());
    RecordingOwner owner;
    owner.stopAtStep = stopAt;
    ToneFilter filter;
    filter.owner = &owner;
    filter.useReferenceKernel = reference;
    filter.threadCount = threads;
    filter.analyze(image);
    run.result = filter.process(image, &doc);
    run.reports = owner.reports;
    return run;
}

std::string randomSettings(std::mt19937& random)
{
    // The page's range, and a wider one for scripted values where a wild round takes it.
    struct Range {
        const char* name;
        double lo, hi, wildLo = 0, wildHi = 0;
    };
    static const Range ranges[] = { { "ShadowAmount", 0, 50 }, { "HilightAmount", 0, 50 },
        { "Saturation", -30, 30 }, { "Contrast", 0, 40, -5, 60 }, { "Density", -30, 30, -500, 500 },
        { "Monochromatic", 0, 1 }, { "AutoColor", 0, 1 }, { "SharpMethod", 0, 1 },
        { "ShSharpAmount", 0, 600, -5000, 100000 }, { "HiSharpAmount", 0, 600 },
        { "ShSharpRadius", 0.1, 15, -3, 60 }, { "ShSharpEdge", 0, 40, -100, 100 }, { "HiSharpEdge", 0, 40 },
        { "ShSharpThreshold", 0, 100, -10, 400 }, { "HiSharpThreshold", 0, 100 }, { "ShSharpTonal", 0, 128 },
        { "HiSharpTonal", 128, 255 }, { "SmoothAmount", 0, 300, -1000, 100000 }, { "SmoothRadius", 0, 30 },
        { "SmoothThreshold", 0, 100, -5, 300 }, { "DiffuseAmount", 0, 100, -200, 5000 },
        { "DiffuseRadius", 0.1, 15 }, { "DiffuseTone", -100, 100, -1000, 1000 },
        { "GrainAmount", 0, 10, -300, 300 } };
    const bool wild = random() % 4 == 0;
    std::string s;
    for (const Range& r : ranges) {
        const bool w = wild && r.wildLo != r.wildHi;
        const double lo = w ? r.wildLo : r.lo, hi = w ? r.wildHi : r.hi;
        s += std::string(r.name) + "="
            + (std::strstr(r.name, "Radius")
                    ? std::to_string(std::uniform_real_distribution<double>(lo, hi)(random))
                    : std::to_string(std::uniform_int_distribution<int>(int(lo), int(hi))(random)))
            + ";\r\n";
    }
    return s;
}

TEST(FastKernels, GiveTheReferenceBytesAndReports)
{
    ScopedVariable seed("QUARVEL_GRAIN_SEED", "777");
    std::mt19937 random(2026);
    for (auto [rows, cols] : { std::pair { 6, 1 }, { 6, 7 }, { 1, 40 }, { 13, 2 }, { 37, 53 }, { 64, 9 },
             { 120, 131 }, { 7, 300 } }) {
        for (int trial = 0; trial < 6; ++trial) {
            const std::vector<uint8_t> source = randomBytes(size_t(rows) * size_t(cols) * 4u, random);
            const std::string settings = randomSettings(random);
            SCOPED_TRACE(std::to_string(rows) + "x" + std::to_string(cols) + "\n" + settings);
            const FilterRun reference = runFilter(source, rows, cols, settings, true, 1);
            for (int threads : { 1, 2, 3 }) {
                // The second time without the instructions chosen at run time.
                for (const char* kernels : { "", "baseline" }) {
                    ScopedVariable variable("QUARVEL_KERNELS", kernels);
                    const FilterRun fast = runFilter(source, rows, cols, settings, false, threads);
                    ASSERT_EQ(fast.pixels, reference.pixels) << threads << " threads " << kernels;
                    ASSERT_EQ(fast.reports, reference.reports) << threads << " threads " << kernels;
                    ASSERT_EQ(fast.result, reference.result);
                }
            }
        }
    }
}

// The variable is read when a filter is made, and the tone filter hands the choice on to the
// detail stages it runs.
TEST(FastKernels, TheLoopsTheEnvironmentChoosesAreTheOnesThatRun)
{
    std::mt19937 random(5);
    const std::vector<uint8_t> source = randomBytes(size_t(30) * 40 * 4, random);
    const auto blurLoopOf = [&](const char* kernels) {
        ScopedVariable variable("QUARVEL_KERNELS", kernels);
        std::vector<uint8_t> pixels = source;
        ImageBuffer image { pixels.data(), 30, 40, kWorkChannels, kWorkBits, kOrderBGR };
        ParameterDocument doc;
        doc.setText("ShSharpAmount=150;\r\n");
        ToneFilter filter;
        filter.analyze(image);
        filter.process(image, &doc);
        return filter.blurLoop;
    };
    EXPECT_EQ(blurLoopOf("baseline"), &convolveBaseline);
    EXPECT_EQ(blurLoopOf(""), convolveBest());
    EXPECT_EQ(blurLoopOf("reference"), nullptr) << "the plain loops blur without it";
}

TEST(FastKernels, ACancelledRunLeavesTheSameRows)
{
    ScopedVariable seed("QUARVEL_GRAIN_SEED", "777");
    std::mt19937 random(99);
    constexpr int32_t kRows = 90, kCols = 70;
    const std::vector<uint8_t> source = randomBytes(size_t(kRows) * kCols * 4u, random);
    const std::string settings
        = "ShadowAmount=20;\r\nShSharpAmount=150;\r\nSmoothAmount=80;\r\nDiffuseAmount=40;\r\n"
          "GrainAmount=3;\r\n";
    const std::vector<Report> whole = runFilter(source, kRows, kCols, settings, true, 1).reports;
    const auto steps
        = std::count_if(whole.begin(), whole.end(), [](Report r) { return r.stage == kProgressStep; });
    for (int stopAt = 1; stopAt <= steps; stopAt += 7) {
        const FilterRun reference = runFilter(source, kRows, kCols, settings, true, 1, stopAt);
        const FilterRun fast = runFilter(source, kRows, kCols, settings, false, 2, stopAt);
        ASSERT_NE(reference.result, 0) << stopAt;
        ASSERT_EQ(fast.result, reference.result) << stopAt;
        ASSERT_EQ(fast.pixels, reference.pixels) << "stopped at step " << stopAt;
        ASSERT_EQ(fast.reports, reference.reports) << stopAt;
    }
}

} // namespace
} // namespace quarvel
