// A piecewise-linear tone curve held as a 256-entry table. The rebuild rounds each segment half
// up and never writes entry 255, which keeps the 255 that a reset gave it whatever the last
// point's output.
#pragma once

#include "core/ToneCurve.h"

#include <cstdint>
#include <vector>

namespace quarvel {

class LinearToneCurve final : public ToneCurve {
public:
    struct Point {
        int32_t x;
        int32_t y;
    };

    LinearToneCurve();
    void addPoint(int32_t x, int32_t y) override;
    void reset() override;
    int32_t lookup(int32_t v) const override { return v > 255 ? 255 : v < 0 ? 0 : table_[v]; }
    int32_t whitePointInput() const override;
    int32_t blackPointInput() const override;

    // Strictly increasing x, first 0, last 255.
    const std::vector<Point>& points() const { return points_; }
    // Entry i is the output for level i: the pixel loops read it directly.
    const int32_t* table() const { return table_; }

private:
    void rebuildTable();

    std::vector<Point> points_;
    int32_t table_[256];
};

} // namespace quarvel
