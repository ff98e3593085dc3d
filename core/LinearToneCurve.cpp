#include "core/LinearToneCurve.h"

#include <algorithm>

namespace quarvel {

LinearToneCurve::LinearToneCurve()
{
    points_.reserve(8);
    reset();
}

void LinearToneCurve::reset()
{
    points_.assign({ { 0, 0 }, { 255, 255 } });
    for (int32_t i = 0; i < 256; ++i)
        table_[i] = i;
}

void LinearToneCurve::addPoint(int32_t x, int32_t y)
{
    x = std::clamp(x, 0, 255);
    y = std::clamp(y, 0, 255);
    auto at = std::find_if(points_.begin(), points_.end(), [x](const Point& p) { return p.x >= x; });
    if (at != points_.end() && at->x == x)
        at->y = y;
    else
        points_.insert(at, Point { x, y });
    rebuildTable();
}

void LinearToneCurve::rebuildTable()
{
    for (size_t n = 1; n < points_.size(); ++n) {
        const Point a = points_[n - 1];
        const Point b = points_[n];
        const double slope = double(b.y - a.y) / double(b.x - a.x);
        const double intercept = double(a.y) - slope * double(a.x);
        for (int32_t i = std::max(a.x, 0); i < b.x && i <= 255; ++i) {
            const auto v = static_cast<int32_t>(double(i) * slope + intercept + 0.5);
            table_[i] = std::clamp(v, 0, 255);
        }
    }
}

int32_t LinearToneCurve::whitePointInput() const
{
    for (const Point& p : points_)
        if (p.y == 255)
            return p.x;
    // No point reaches white: the curve's white point is beyond its end.
    return 255;
}

int32_t LinearToneCurve::blackPointInput() const
{
    if (points_.empty())
        return 0;
    if (points_.front().y != 0)
        return points_.front().x;
    size_t n = 0;
    while (n + 1 < points_.size() && points_[n + 1].y == 0)
        ++n;
    // Every point black: the run ends at the last point.
    return points_[n].x;
}

} // namespace quarvel
