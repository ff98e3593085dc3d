#include "detail/BlurBuilder.h"
#include "core/LinearToneCurve.h"
#include "detail/DetailFilter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numeric>
#include <vector>

namespace quarvel {
namespace {

TEST(BlurKernel, WeightsComeOutExactly)
{
    struct Case {
        double radius;
        int32_t halfWidth;
        std::vector<int32_t> weights; // empty: only the width and the outermost 1 are known
        int64_t sum; // 0: not checked
    };
    const Case cases[] = { { 0.0, 0, { 36 } }, { 0.1, 0, { 99 } }, { 0.5, 2, { 1, 36, 434, 36, 1 } },
        { 1.0, 3, { 3, 36, 227, 690, 227, 36, 3 }, 1222 },
        { 1.5, 5, { 1, 5, 36, 153, 434, 812, 434, 153, 36, 5, 1 } },
        { 2.0, 6, { 1, 8, 36, 118, 301, 586, 875, 586, 301, 118, 36, 8, 1 } }, { 5.0, 15, {} },
        { 15.0, 43, {} }, { 30.0, 85, {}, 57175 } };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.radius);
        const BlurKernel kernel = buildBlurKernel(c.radius);
        EXPECT_EQ(kernel.halfWidth, c.halfWidth);
        ASSERT_EQ(kernel.weights.size(), size_t(2 * c.halfWidth + 1));
        if (!c.weights.empty())
            EXPECT_EQ(kernel.weights, c.weights);
        EXPECT_EQ(kernel.weights.front(), c.weights.empty() ? 1 : c.weights.front());
        EXPECT_TRUE(std::equal(kernel.weights.begin(), kernel.weights.end(), kernel.weights.rbegin()))
            << "symmetric";
        if (c.sum)
            EXPECT_EQ(std::accumulate(kernel.weights.begin(), kernel.weights.end(), int64_t(0)), c.sum);
    }
}

TEST(BlurKernel, ScriptedRadiiStayWithinTheScratch)
{
    const double largest = largestKernelScale() - 0.5;
    EXPECT_GT(largest, 178.0);
    EXPECT_LT(largest, 180.0);
    const BlurKernel widest = buildBlurKernel(largest);
    EXPECT_EQ(widest.halfWidth, 499);
    EXPECT_LE(widest.weights.front(), 1);
    // Everything wider is built as the widest kernel that fits.
    for (double r : { largest + 1.0, 500.0, 1e300, std::numeric_limits<double>::infinity(), -1e9 })
        EXPECT_EQ(buildBlurKernel(r).weights, widest.weights) << r;
    // Below the limit nothing changes: the kernel still ends at its first weight of 1.
    const BlurKernel wide = buildBlurKernel(150.0);
    EXPECT_LT(wide.halfWidth, 499);
    EXPECT_EQ(wide.weights.front(), 1);
    EXPECT_GT(wide.weights[1], 1);
}

TEST(BlurKernel, DegenerateRadii)
{
    EXPECT_EQ(buildBlurKernel(std::nan("")).weights, std::vector<int32_t> { 36 }) << "not a number: as 0";
    // Only r + 0.5 matters, and only its size.
    EXPECT_EQ(buildBlurKernel(-1.0).weights, buildBlurKernel(0.0).weights);
    EXPECT_EQ(buildBlurKernel(-2.5).weights, buildBlurKernel(1.5).weights);
    EXPECT_EQ(buildBlurKernel(-0.5).weights, std::vector<int32_t> { 0 }) << "no weight at all";
}

// A packed 3-byte image and a filter whose work buffer fits it.
struct BlurFixture {
    BlurFixture(int32_t rows, int32_t cols)
        : pixels(size_t(rows) * size_t(cols) * 3u)
        , image { pixels.data(), rows, cols, 3, 8 }
    {
        EXPECT_TRUE(filter.allocateWorkBuffer(rows, cols));
    }
    size_t at(int32_t y, int32_t x, int c = 0) const
    {
        return (size_t(y) * size_t(image.cols) + size_t(x)) * 3u + size_t(c);
    }
    uint8_t blurred(int32_t y, int32_t x, int c = 0) const { return filter.workBuffer()[at(y, x, c)]; }
    std::vector<uint8_t> result() const
    {
        return std::vector<uint8_t>(filter.workBuffer(), filter.workBuffer() + pixels.size());
    }
    std::vector<uint8_t> pixels;
    ImageBuffer image;
    DetailFilter filter;
};

TEST(Blur, OnePointRoundsDownTheColumnsBeforeTheRows)
{
    BlurFixture f(9, 9);
    for (int c = 0; c < 3; ++c)
        f.pixels[f.at(4, 4, c)] = 255;
    f.filter.blurIntoWorkBuffer(f.image, 1.0);
    for (int c = 0; c < 3; ++c) {
        SCOPED_TRACE(c);
        EXPECT_EQ(f.blurred(4, 4, c), 81);
        for (auto [dy, dx] : { std::pair { -1, 0 }, { 1, 0 }, { 0, -1 }, { 0, 1 } })
            EXPECT_EQ(f.blurred(4 + dy, 4 + dx, c), 27);
        for (auto [y, x, value] : { std::tuple { 2, 4, 5 }, { 6, 4, 5 }, { 4, 2, 4 }, { 4, 6, 4 },
                 { 1, 4, 1 }, { 7, 4, 1 }, { 4, 1, 0 }, { 4, 7, 0 } })
            EXPECT_EQ(f.blurred(y, x, c), value) << y << "," << x;
    }
    EXPECT_EQ(f.filter.workBuffer()[9 * 9 * 3], 0) << "the spare bytes after the image stay 0";
}

TEST(Blur, EdgeWindowsAreCutAndDividedByTheirOwnWeights)
{
    // One row: the vertical pass sees only the pixel itself and leaves it as it is.
    BlurFixture row(1, 6);
    const uint8_t values[6] = { 100, 200, 0, 50, 9, 9 };
    for (int32_t x = 0; x < 6; ++x)
        row.pixels[row.at(0, x)] = values[x];
    row.filter.blurIntoWorkBuffer(row.image, 1.0);
    // The leftmost pixel: weights 690, 227, 36, 3 (sum 956).
    EXPECT_EQ(row.blurred(0, 0), (100 * 690 + 200 * 227 + 0 * 36 + 50 * 3 + 478) / 956);
    EXPECT_EQ(row.blurred(0, 0), 120);

    // Two columns under a kernel of 13 weights: both windows are cut on both sides.
    BlurFixture narrow(1, 2);
    narrow.pixels[narrow.at(0, 1)] = 255;
    narrow.filter.blurIntoWorkBuffer(narrow.image, 2.0);
    EXPECT_EQ(narrow.blurred(0, 0), 102);
    EXPECT_EQ(narrow.blurred(0, 1), 153);
}

TEST(Blur, RadiusZeroCopiesNoWeightGivesZerosAndTheToneTableApplies)
{
    BlurFixture f(7, 5);
    for (size_t n = 0; n < f.pixels.size(); ++n)
        f.pixels[n] = uint8_t(n * 37 + 11);
    f.filter.blurIntoWorkBuffer(f.image, 0.0);
    EXPECT_EQ(f.result(), f.pixels);
    f.filter.blurIntoWorkBuffer(f.image, -0.5);
    EXPECT_EQ(f.result(), std::vector<uint8_t>(f.pixels.size(), 0));
    LinearToneCurve white;
    white.addPoint(0, 255);
    f.filter.blurIntoWorkBuffer(f.image, 3.0, &white);
    EXPECT_EQ(f.result(), std::vector<uint8_t>(f.pixels.size(), 255));
}

} // namespace
} // namespace quarvel
