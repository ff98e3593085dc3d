// The preview's zoom ladder, image placement, drag refusal and partial painting.
#include "ui/PreviewLayout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace quarvel {
namespace {

std::vector<int64_t> sides(const PixelRect& r) { return { r.left, r.top, r.right, r.bottom }; }

TEST(ZoomSteps, WalkOneLadderInBothDirectionsAndStopAtItsEnds)
{
    const std::vector<int> ladder
        = { 1, 2, 3, 4, 5, 10, 15, 20, 25, 30, 40, 50, 60, 80, 100, 150, 200, 300, 400, 600, 800, 1000 };
    for (size_t i = 0; i < ladder.size(); ++i) {
        EXPECT_EQ(zoomIn(ladder[i]), ladder[std::min(i + 1, ladder.size() - 1)]) << ladder[i];
        EXPECT_EQ(zoomOut(ladder[i]), ladder[i ? i - 1 : 0]) << ladder[i];
    }
    // Off the ladder, one step lands on it.
    EXPECT_EQ(zoomIn(33), 40);
    EXPECT_EQ(zoomOut(33), 30);
    EXPECT_EQ(zoomLabel(150), "150%");
}

TEST(PreviewPlacement, SmallImagesStayCentredAndAnUnchangedSizeNeverMovesTheView)
{
    EXPECT_EQ(placeAlongAxis(526, -40, 600, 300), 113);
    EXPECT_EQ(placeAlongAxis(526, 0, 526, 526), 0);
    EXPECT_EQ(zoomedSize(6, 1), 0);
    EXPECT_EQ(zoomedSize(32767, 1000), 327670);
    for (int x : { 0, -1, -250, -3474 })
        EXPECT_EQ(placeAlongAxis(526, x, 4000, 4000), x);
}

TEST(PreviewPlacement, AZoomStepKeepsThePointUnderTheMiddleUnlessAnEdgeWouldComeInside)
{
    // A 2000-pixel image at 100 %, its middle in the frame's middle, zoomed in and out.
    const int frame = 526;
    int position = placeAlongAxis(frame, 0, frame, 2000);
    EXPECT_EQ(position, frame / 2 - 1000);
    int size = 2000;
    for (int zoom : { 150, 200, 300, 200, 150, 100 }) {
        const int newSize = zoomedSize(2000, zoom);
        // The image point under the middle, and where it lands on the screen after the step.
        const double point = double(frame / 2 - position) / size;
        position = placeAlongAxis(frame, position, size, newSize);
        size = newSize;
        // Within a pixel, plus the half pixel the rounding leans towards the left when zooming out.
        EXPECT_NEAR(position + point * size, frame / 2, 1.5) << zoom;
    }
    // Looking at the left edge or the far edge, zooming out puts that edge on the frame's edge.
    EXPECT_EQ(placeAlongAxis(526, 0, 4000, 2000), 0);
    EXPECT_EQ(placeAlongAxis(526, 526 - 4000, 4000, 2000), 526 - 2000);
}

TEST(PreviewPanning, StepsThatWouldShowAnEdgeAreRefusedWholeAndTheCursorTellsAnOverhang)
{
    EXPECT_EQ(allowedPanStep(5, -10, 1990, 526), 5);
    EXPECT_EQ(allowedPanStep(10, -10, 1990, 526), 0);
    EXPECT_EQ(allowedPanStep(-5, -1464, 536, 526), -5);
    EXPECT_EQ(allowedPanStep(-10, -1464, 536, 526), 0);
    // An image no larger than the frame never moves.
    EXPECT_EQ(allowedPanStep(3, 100, 400, 526), 0);
    EXPECT_EQ(allowedPanStep(-3, 100, 400, 526), 0);
    // One pixel at a time stops with one column still hidden.
    int left = -20;
    for (int i = 0; i < 50; ++i)
        left += allowedPanStep(1, left, left + 2000, 526);
    EXPECT_EQ(left, -1);

    const PixelRect frame { 10, 10, 536, 481 };
    EXPECT_TRUE(containsRect(frame, { 10, 10, 536, 481 }));
    EXPECT_TRUE(containsRect(frame, { 100, 50, 400, 300 }));
    EXPECT_FALSE(containsRect(frame, { 9, 50, 400, 300 }));
    EXPECT_FALSE(containsRect(frame, { 100, 50, 400, 482 }));
}

TEST(PreviewPainting, TheImageWindowCoversOnlyWhatTheFrameShowsAndAPaintOnlyTheBitmapUnderIt)
{
    EXPECT_EQ(sides(visiblePart({ -29737, -1266, 30263, 1734 }, 526, 467)),
        (std::vector<int64_t> { 0, 0, 526, 467 }));
    EXPECT_EQ(
        sides(visiblePart({ 113, 83, 413, 383 }, 526, 467)), (std::vector<int64_t> { 113, 83, 413, 383 }));
    EXPECT_EQ(visiblePart({ 0, 0, 0, 0 }, 526, 467).right, 0);

    // 6000 × 4000 at 1000 %: the frame shows a 526 × 467 corner of a 60000 × 40000 window.
    const StretchPart part = stretchPartFor({ 30000, 20000, 30526, 20467 }, 6000, 4000, 60000, 40000);
    EXPECT_EQ(sides(part.source), (std::vector<int64_t> { 3000, 2000, 3053, 2047 }));
    EXPECT_EQ(part.destination.left, 30000);
    EXPECT_EQ(part.destination.right, 30530);
    EXPECT_LE(part.destination.bottom, 40000);
    // At 150 % the part still covers the paint rectangle.
    const StretchPart odd = stretchPartFor({ 7, 7, 301, 299 }, 1001, 999, 1502, 1499);
    EXPECT_LE(odd.destination.left, 7);
    EXPECT_GE(odd.destination.right, 301);
    EXPECT_LE(odd.destination.top, 7);
    EXPECT_GE(odd.destination.bottom, 299);
    // A bitmap that failed leaves nothing to paint.
    EXPECT_EQ(stretchPartFor({ 0, 0, 10, 10 }, 0, 0, 10, 10).source.right, 0);
}

} // namespace
} // namespace quarvel
