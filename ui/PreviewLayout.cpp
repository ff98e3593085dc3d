#include "ui/PreviewLayout.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace quarvel {

int zoomIn(int z)
{
    if (z < kMinimumZoom)
        return kMinimumZoom;
    if (z < 5)
        return z + 1;
    if (z < 30)
        return (z / 5 + 1) * 5;
    if (z < 60)
        return (z / 10 + 1) * 10;
    if (z < 100)
        return (z / 20 + 1) * 20;
    if (z < 200)
        return (z / 50 + 1) * 50;
    if (z < 400)
        return (z / 100 + 1) * 100;
    if (z < kMaximumZoom)
        return (z / 200 + 1) * 200;
    return z;
}

int zoomOut(int z)
{
    if (z < 2)
        return z;
    if (z <= 5)
        return z - 1;
    if (z <= 30)
        return (z + 4) / 5 * 5 - 5;
    if (z <= 60)
        return (z + 9) / 10 * 10 - 10;
    if (z <= 100)
        return (z + 19) / 20 * 20 - 20;
    if (z <= 200)
        return (z + 49) / 50 * 50 - 50;
    if (z <= 400)
        return (z + 99) / 100 * 100 - 100;
    return (std::min(z, 100000) + 199) / 200 * 200 - 200;
}

std::string zoomLabel(int zoom)
{
    char text[16];
    std::snprintf(text, sizeof text, "%d%%", zoom);
    return text;
}

int zoomedSize(int size, int zoom)
{
    // 32767 × 1000 does not fit in 32 bits.
    return int((int64_t(size) * zoom + 50) / 100);
}

int placeAlongAxis(int frameSize, int oldPosition, int oldSize, int newSize)
{
    if (frameSize >= newSize)
        return (frameSize - newSize) / 2;
    const int centre = frameSize / 2 - oldPosition;
    // A window without a size yet (a first layout) keeps the centre where it is.
    const double previous = oldSize > 0 ? double(oldSize) : double(newSize);
    const double shift = double(centre) - (double(newSize) * centre + previous) / previous + 0.5;
    int64_t position = int64_t(oldPosition) + int64_t(std::trunc(shift));
    if (position > 0)
        position = 0;
    if (position + newSize < frameSize)
        position = frameSize - newSize;
    return int(position);
}

int allowedPanStep(int step, int nearEdge, int farEdge, int frameSize)
{
    if (step > 0 && int64_t(nearEdge) + step < 0)
        return step;
    if (step < 0 && int64_t(farEdge) + step > frameSize)
        return step;
    return 0;
}

bool containsRect(const PixelRect& outer, const PixelRect& inner)
{
    return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right
        && inner.bottom <= outer.bottom;
}

PixelRect visiblePart(const PixelRect& image, int frameWidth, int frameHeight)
{
    PixelRect part { std::max<int64_t>(image.left, 0), std::max<int64_t>(image.top, 0),
        std::min<int64_t>(image.right, frameWidth), std::min<int64_t>(image.bottom, frameHeight) };
    if (part.right <= part.left || part.bottom <= part.top)
        return {};
    return part;
}

namespace {

// The bitmap span [first, last) under window span [from, to), and where that bitmap span lands.
void stretchSpan(int64_t from, int64_t to, int bitmapSize, int windowSize, int64_t& first, int64_t& last,
    int64_t& destinationFrom, int64_t& destinationTo)
{
    from = std::clamp<int64_t>(from, 0, windowSize);
    to = std::clamp<int64_t>(to, from, windowSize);
    first = from * bitmapSize / windowSize;
    last = std::min<int64_t>(bitmapSize, (to * bitmapSize + windowSize - 1) / windowSize);
    destinationFrom = first * windowSize / bitmapSize;
    destinationTo = (last * windowSize + bitmapSize - 1) / bitmapSize;
}

} // namespace

StretchPart stretchPartFor(
    const PixelRect& paint, int bitmapWidth, int bitmapHeight, int windowWidth, int windowHeight)
{
    StretchPart part;
    if (bitmapWidth <= 0 || bitmapHeight <= 0 || windowWidth <= 0 || windowHeight <= 0)
        return part;
    stretchSpan(paint.left, paint.right, bitmapWidth, windowWidth, part.source.left, part.source.right,
        part.destination.left, part.destination.right);
    stretchSpan(paint.top, paint.bottom, bitmapHeight, windowHeight, part.source.top, part.source.bottom,
        part.destination.top, part.destination.bottom);
    return part;
}

} // namespace quarvel
