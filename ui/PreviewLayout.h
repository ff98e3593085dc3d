// The preview pane's arithmetic, apart from any window: the zoom ladder, where the zoomed image
// window goes, which drag steps are allowed and which part of the bitmap a paint needs. The
// dialog feeds it window rectangles and applies what it answers.
#pragma once

#include <cstdint>
#include <string>

namespace quarvel {

constexpr int kMinimumZoom = 1;
constexpr int kMaximumZoom = 1000;

// One step along 1, 2, 3, 4, 5, 10, 15, 20, 25, 30, 40, 50, 60, 80, 100, 150, 200, 300, 400,
// 600, 800, 1000 (and from any value off the ladder, onto it). At the ends the zoom is returned
// unchanged, which tells the caller that nothing else is to happen either.
int zoomIn(int zoom);
int zoomOut(int zoom);

// "150%".
std::string zoomLabel(int zoom);

// The zoomed size of `size` pixels, rounded to nearest.
int zoomedSize(int size, int zoom);

// Where the image window goes along one axis. With room to spare it is centred; otherwise the
// point under the frame's middle stays there, and no edge of the image comes inside the frame.
// `oldPosition` and `oldSize` are the window's position in the frame and its size before the
// change.
int placeAlongAxis(int frameSize, int oldPosition, int oldSize, int newSize);

// A drag step along one axis, given the image window's near and far edges in frame coordinates:
// the step itself, or 0 when it would bring an image edge onto or inside the frame's edge. A step
// is refused whole, never shortened.
int allowedPanStep(int step, int nearEdge, int farEdge, int frameSize);

struct PixelRect {
    int64_t left = 0, top = 0, right = 0, bottom = 0;
};

// Whether `inner` lies completely inside `outer`; edges may touch.
bool containsRect(const PixelRect& outer, const PixelRect& inner);

// The part of the zoomed image that the frame shows: the image window covers only that much,
// since a window may be at most 32767 pixels on a side (X11, and with it Wine, cuts it there)
// while a zoomed photo reaches 327670. Empty when the image lies outside the frame.
PixelRect visiblePart(const PixelRect& image, int frameWidth, int frameHeight);

// For painting part of a zoomed image: the bitmap rectangle that covers `paint` (in the image
// window's client coordinates) and the window rectangle that exactly that bitmap part occupies
// when the whole bitmap is stretched over the whole window. Painting only that much keeps a
// 1000 % view of a large photo as cheap as a 100 % one and keeps every coordinate handed to the
// graphics system small.
struct StretchPart {
    PixelRect source;
    PixelRect destination;
};
StretchPart stretchPartFor(
    const PixelRect& paint, int bitmapWidth, int bitmapHeight, int windowWidth, int windowHeight);

} // namespace quarvel
