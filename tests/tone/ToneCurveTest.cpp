#include "core/LinearToneCurve.h"
#include "tone/ChannelHistogram.h"

#include <gtest/gtest.h>

#include <limits>
#include <utility>

namespace quarvel {
namespace {

TEST(LinearToneCurve, SegmentsRoundHalfUpAndNeverWriteTheLastEntry)
{
    LinearToneCurve curve;
    curve.addPoint(128, 200);
    EXPECT_EQ(curve.lookup(64), 100);
    EXPECT_EQ(curve.lookup(128), 200);
    EXPECT_EQ(curve.lookup(192), 228); // 227.7 + 0.5
    EXPECT_EQ(curve.lookup(255), 255);

    LinearToneCurve clamped;
    clamped.addPoint(300, -4); // replaces the y of the point at 255
    ASSERT_EQ(clamped.points().size(), 2u);
    EXPECT_EQ(clamped.points().back().y, 0);
    for (int i = 0; i < 255; ++i)
        ASSERT_EQ(clamped.lookup(i), 0) << i;
    EXPECT_EQ(clamped.lookup(255), 255);
}

TEST(LinearToneCurve, IdentityEqualInputsAndReset)
{
    LinearToneCurve curve;
    const auto isIdentity = [&] {
        for (int i = 0; i < 256; ++i)
            if (curve.lookup(i) != i)
                return false;
        return true;
    };
    EXPECT_TRUE(isIdentity());
    EXPECT_EQ(curve.lookup(-5), 0);
    EXPECT_EQ(curve.lookup(300), 255);
    EXPECT_EQ(curve.lookup(std::numeric_limits<int32_t>::min()), 0);
    curve.addPoint(100, 50);
    curve.addPoint(100, 150); // an equal input replaces
    curve.addPoint(0, 20);
    ASSERT_EQ(curve.points().size(), 3u);
    EXPECT_EQ(curve.points()[0].y, 20);
    EXPECT_EQ(curve.lookup(100), 150);
    EXPECT_EQ(curve.lookup(0), 20);
    curve.reset();
    EXPECT_EQ(curve.points().size(), 2u);
    EXPECT_TRUE(isIdentity());
}

TEST(LinearToneCurve, BlackAndWhitePointInputs)
{
    LinearToneCurve curve, dark;
    EXPECT_EQ(curve.whitePointInput(), 255);
    EXPECT_EQ(curve.blackPointInput(), 0);
    curve.addPoint(20, 0);
    curve.addPoint(230, 255);
    EXPECT_EQ(curve.blackPointInput(), 20);
    EXPECT_EQ(curve.whitePointInput(), 230);
    curve.addPoint(0, 10);
    EXPECT_EQ(curve.blackPointInput(), 0);
    dark.addPoint(255, 0);
    EXPECT_EQ(dark.whitePointInput(), 255); // no point reaches white
    EXPECT_EQ(dark.blackPointInput(), 255); // every point is black
}

TEST(ChannelHistogram, ChannelsAreAllocatedByAddAndFreedAgain)
{
    ChannelHistogram h;
    EXPECT_FALSE(h.hasChannel(3));
    EXPECT_EQ(h.bin(3, 7), 0u);
    h.add(3, 7, 2);
    h.add(3, 7, 5);
    h.add(3, 8, 0);
    EXPECT_EQ(h.bin(3, 7), 7u);
    EXPECT_EQ(h.bin(3, 8), 0u);
    h.freeChannel(3);
    EXPECT_FALSE(h.hasChannel(3));
    EXPECT_EQ(h.bin(3, 7), 0u);
    h.freeChannel(40); // ignored
    h.add(31, 1, 1); // the last slot
    EXPECT_EQ(h.bin(31, 1), 1u);
    EXPECT_EQ(h.mean(32), -1);
}

TEST(ChannelHistogram, SmoothedMean)
{
    ChannelHistogram h;
    h.add(0, 200, 1000);
    EXPECT_EQ(h.mean(0), 185); // 232640 / 1256 = 185.2
    h.add(1, 0, 0);
    EXPECT_EQ(h.mean(1), 128); // all zero
    EXPECT_EQ(h.mean(2), 128); // never filled counts as all zero

    // Thirty million pixels at white: a 32-bit moment would wrap here.
    ChannelHistogram big;
    big.add(0, 255, 30000000);
    EXPECT_EQ(big.mean(0), 255);
}

TEST(ChannelHistogram, ClipPointsCountFromEachEnd)
{
    // 10000 pixels: 0.25 % is 25 from each end.
    ChannelHistogram h;
    for (int i = 0; i < 30; ++i) {
        h.add(0, uint8_t(i), 1);
        h.add(0, uint8_t(226 + i), 1);
    }
    h.add(0, 128, 9940);
    LinearToneCurve curve;
    EXPECT_EQ(h.clipPoints(0, curve, 0.25, 0.25, 1.0), (25 + 230) / 2);
    ASSERT_EQ(curve.points().size(), 4u);
    EXPECT_EQ(std::pair(curve.points()[1].x, curve.points()[1].y), std::pair(25, 0));
    EXPECT_EQ(std::pair(curve.points()[2].x, curve.points()[2].y), std::pair(230, 255));
}

TEST(ChannelHistogram, ZeroPercentagesAndEmptyChannelsLeaveTheCurve)
{
    ChannelHistogram h;
    h.add(0, 50, 10);
    LinearToneCurve curve;
    EXPECT_EQ(h.clipPoints(0, curve, 0.0, 0.0, 0.5), 127);
    EXPECT_EQ(curve.points().size(), 2u);
    EXPECT_EQ(h.clipPoints(5, curve, 10.0, 10.0, 0.5), 0); // empty: nothing added
    EXPECT_EQ(curve.points().size(), 2u);

    const uint8_t emptyOnes[2] = { 7, 9 };
    EXPECT_EQ(h.clipPointsMulti(emptyOnes, 2, curve, 30.0, 30.0, 0.5), 127);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(curve.lookup(i), i);
}

TEST(ChannelHistogram, ClipPointsMultiPoolsChannels)
{
    ChannelHistogram h;
    h.add(0, 10, 50);
    h.add(1, 20, 50);
    h.add(2, 240, 100);
    const uint8_t all[4] = { 0, 1, 2, 6 };
    LinearToneCurve curve;
    // 200 samples, 40 % from the dark end = 80: levels 10 and 20 are counted, lo ends at 21.
    // 10 % from the bright end = 20: level 240 is counted, hi ends at 239.
    EXPECT_EQ(h.clipPointsMulti(all, 4, curve, 40.0, 10.0, 0.0), 130);
    EXPECT_EQ(curve.points()[1].x, 21);
    EXPECT_EQ(curve.points()[2].x, 239);
}

TEST(ChannelHistogram, AbsurdPercentagesStayDefined)
{
    ChannelHistogram h;
    h.add(0, 60, 100);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    LinearToneCurve a, b, c;
    EXPECT_EQ(h.clipPoints(0, a, nan, nan, 0.75), 127);
    EXPECT_EQ(h.clipPoints(0, b, 1e300, std::numeric_limits<double>::infinity(), 0.75), 127);
    EXPECT_EQ(b.points()[0].x, 0);
    EXPECT_EQ(b.points().back().x, 255);
    EXPECT_EQ(h.clipPoints(0, c, -1e300, -5.0, 0.75), 127);
    EXPECT_EQ(c.points().size(), 2u);
}

} // namespace
} // namespace quarvel
