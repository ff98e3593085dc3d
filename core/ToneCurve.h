// A map of levels 0..255 through control points. Inputs outside 0..255 give the extreme levels.
#pragma once

#include <cstdint>

namespace quarvel {

class ToneCurve {
public:
    virtual ~ToneCurve() = default;
    // Clamps x and y into 0..255; a point of equal x is replaced, not doubled.
    virtual void addPoint(int32_t x, int32_t y) = 0;
    // Back to the identity through (0, 0) and (255, 255).
    virtual void reset() = 0;
    virtual int32_t lookup(int32_t v) const = 0;
    // The input of the first point whose output is 255.
    virtual int32_t whitePointInput() const = 0;
    // The input of the last point of the leading run of points whose output is 0.
    virtual int32_t blackPointInput() const = 0;

protected:
    ToneCurve() = default;
    ToneCurve(const ToneCurve&) = delete;
    ToneCurve& operator=(const ToneCurve&) = delete;
};

} // namespace quarvel
