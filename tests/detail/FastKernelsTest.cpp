#include "core/WorkerPool.h"
#include "detail/BlurBuilder.h"
#include "detail/Convolve.h"
#include "detail/DiffuseGrain.h"
#include "detail/ExactDivider.h"
#include "settings/ParameterDocument.h"
#include "tests/support/RecordingOwner.h"
#include "tone/ToneFilter.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
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
    auto pick
        = [&](int lo, int hi) { return std::to_string(std::uniform_int_distribution<int>(lo, hi)(random)); };
    auto real = [&](double lo, double hi) {
        return std::to_string(std::uniform_real_distribution<double>(lo, hi)(random));
    };
    const bool wild = random() % 4 == 0; // outside the pages now and then
    std::string s;
    auto add
        = [&](const char* name, const std::string& value) { s += std::string(name) + "=" + value + ";\r\n"; };
    add("ShadowAmount", pick(0, 50));
    add("HilightAmount", pick(0, 50));
    add("Saturation", pick(-30, 30));
    add("Contrast", wild ? pick(-5, 60) : pick(0, 40));
    add("Density", wild ? pick(-500, 500) : pick(-30, 30));
    add("Monochromatic", pick(0, 1));
    add("AutoColor", pick(0, 1));
    add("SharpMethod", pick(0, 1));
    add("ShSharpAmount", wild ? pick(-5000, 100000) : pick(0, 600));
    add("HiSharpAmount", pick(0, 600));
    add("ShSharpRadius", wild ? real(-3, 60) : real(0.1, 15));
    add("ShSharpEdge", wild ? pick(-100, 100) : pick(0, 40));
    add("HiSharpEdge", pick(0, 40));
    add("ShSharpThreshold", wild ? pick(-10, 400) : pick(0, 100));
    add("HiSharpThreshold", pick(0, 100));
    add("ShSharpTonal", pick(0, 128));
    add("HiSharpTonal", pick(128, 255));
    add("SmoothAmount", wild ? pick(-1000, 100000) : pick(0, 300));
    add("SmoothRadius", real(0, 30));
    add("SmoothThreshold", wild ? pick(-5, 300) : pick(0, 100));
    add("DiffuseAmount", wild ? pick(-200, 5000) : pick(0, 100));
    add("DiffuseRadius", real(0.1, 15));
    add("DiffuseTone", wild ? pick(-1000, 1000) : pick(-100, 100));
    add("GrainAmount", wild ? pick(-300, 300) : pick(0, 10));
    return s;
}

void setVariable(const char* name, const char* value)
{
#ifdef _WIN32
    _putenv_s(name, value);
#else
    if (*value)
        setenv(name, value, 1);
    else
        unsetenv(name);
#endif
}

class KernelsVariable {
public:
    explicit KernelsVariable(const char* value) { setVariable("QUARVEL_KERNELS", value); }
    ~KernelsVariable() { setVariable("QUARVEL_KERNELS", ""); }
};

class FixedSeed {
public:
    FixedSeed() { setVariable("QUARVEL_GRAIN_SEED", "777"); }
    ~FixedSeed() { setVariable("QUARVEL_GRAIN_SEED", ""); }
};

TEST(FastKernels, GiveTheReferenceBytesAndReports)
{
    FixedSeed seed;
    std::mt19937 random(2026);
    struct Size {
        int32_t rows, cols;
    };
    const Size sizes[]
        = { { 6, 1 }, { 6, 7 }, { 1, 40 }, { 13, 2 }, { 37, 53 }, { 64, 9 }, { 120, 131 }, { 7, 300 } };
    int round = 0;
    for (const Size size : sizes) {
        for (int trial = 0; trial < 6; ++trial, ++round) {
            std::vector<uint8_t> source(size_t(size.rows) * size_t(size.cols) * 4u);
            for (uint8_t& b : source)
                b = uint8_t(random());
            const std::string settings = randomSettings(random);
            SCOPED_TRACE(std::to_string(size.rows) + "x" + std::to_string(size.cols) + "\n" + settings);
            const FilterRun reference = runFilter(source, size.rows, size.cols, settings, true, 1);
            for (int threads : { 1, 2, 3 }) {
                // The second time without the instructions chosen at run time.
                for (const char* kernels : { "", "baseline" }) {
                    KernelsVariable variable(kernels);
                    const FilterRun fast = runFilter(source, size.rows, size.cols, settings, false, threads);
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
    std::vector<uint8_t> source(size_t(30) * 40 * 4);
    std::mt19937 random(5);
    for (uint8_t& b : source)
        b = uint8_t(random());
    const auto blurLoopOf = [&](const char* kernels) {
        KernelsVariable variable(kernels);
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
    FixedSeed seed;
    std::mt19937 random(99);
    constexpr int32_t kRows = 90, kCols = 70;
    std::vector<uint8_t> source(size_t(kRows) * kCols * 4u);
    for (uint8_t& b : source)
        b = uint8_t(random());
    const std::string settings
        = "ShadowAmount=20;\r\nShSharpAmount=150;\r\nSmoothAmount=80;\r\nDiffuseAmount=40;\r\n"
          "GrainAmount=3;\r\n";
    const FilterRun whole = runFilter(source, kRows, kCols, settings, true, 1);
    int steps = 0;
    for (const Report& r : whole.reports)
        steps += r.stage == kProgressStep ? 1 : 0;
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
