// Conversion between the host's buffers (8 or 16 bits, 3 or 4 planes, red first) and the working
// buffers (8 bits, blue, green, red and a spare byte). Only the three colour samples move: the
// spare byte and a host's transparency plane are never written.
#include "host/FilterContext.h"

#include "platform/Platform.h"

#include <algorithm>

namespace quarvel {

namespace {

inline uint32_t load16(const uint8_t* p) { return uint32_t(p[0]) | (uint32_t(p[1]) << 8); }

inline void store16(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v & 0xFF);
    p[1] = uint8_t(v >> 8);
}

constexpr uint32_t kFullWhite16 = 32768;

// 16 bits back from 8: the low seven bits come from what the host already holds, so a sample
// that processing left alone returns exactly. Full white has no low bits to keep, so an
// unchanged 255 over a full-white sample stays full white instead of dropping to 32640.
inline uint32_t widen(uint32_t value8, uint32_t current16)
{
    if (value8 == 255 && current16 >= kFullWhite16)
        return kFullWhite16;
    return std::min((value8 << 7) | (current16 & 127), kFullWhite16);
}

enum class Conversion { Copy8, Copy16, Narrow, Widen };

struct RowWalk {
    int64_t end; // destination samples per row
    int dStep, sStep;
    int map[3];
};

template <Conversion C> void convertRow(uint8_t* d, const uint8_t* s, const RowWalk& w)
{
    for (int64_t i = 0, j = 0; i < w.end; i += w.dStep, j += w.sStep) {
        for (int k = 0; k < 3; ++k) {
            const int64_t di = i + k;
            const int64_t si = j + w.map[k];
            if constexpr (C == Conversion::Copy8) {
                d[di] = s[si];
            } else if constexpr (C == Conversion::Copy16) {
                d[2 * di] = s[2 * si];
                d[2 * di + 1] = s[2 * si + 1];
            } else if constexpr (C == Conversion::Narrow) {
                d[di] = uint8_t(std::min<uint32_t>(load16(s + 2 * si) >> 7, 255));
            } else {
                store16(d + 2 * di, widen(s[si], load16(d + 2 * di)));
            }
        }
    }
}

// The common 8-bit case with its steps known at compile time, so that the compiler can do more
// than one pixel at a time. It writes exactly what the general walk writes.
template <int D, int S, bool Swap> void copyRow8(uint8_t* d, const uint8_t* s, const RowWalk& w)
{
    const int64_t pixels = w.end / D;
    for (int64_t p = 0; p < pixels; ++p) {
        d[p * D + 0] = s[p * S + (Swap ? 2 : 0)];
        d[p * D + 1] = s[p * S + 1];
        d[p * D + 2] = s[p * S + (Swap ? 0 : 2)];
    }
}

using RowConverter = void (*)(uint8_t*, const uint8_t*, const RowWalk&);

template <bool Swap> RowConverter fixedCopy8(int destinationChannels, int sourceChannels)
{
    if (destinationChannels == 4 && sourceChannels == 3)
        return copyRow8<4, 3, Swap>;
    if (destinationChannels == 3 && sourceChannels == 4)
        return copyRow8<3, 4, Swap>;
    if (destinationChannels == 4 && sourceChannels == 4)
        return copyRow8<4, 4, Swap>;
    return nullptr;
}

} // namespace

int FilterContext::transferImage(ImageBuffer& destination, const ImageBuffer& source)
{
    int aborted = pollAbort();

    if (!destination.data) {
        const uint64_t bytes = uint64_t(std::max(destination.channels, 0))
            * uint64_t(std::max(source.cols, 0)) * uint64_t(std::max(source.rows, 0))
            * (destination.bits == 8 ? 1u : 2u);
        destination.data = static_cast<uint8_t*>(platform::allocateBlock(bytes, true));
        if (!destination.data)
            return aborted;
    }
    destination.cols = source.cols;
    destination.rows = source.rows;

    RowConverter convert = nullptr;
    if (destination.bits == 8 && source.bits == 8)
        convert = convertRow<Conversion::Copy8>;
    else if (destination.bits == 16 && source.bits == 16)
        convert = convertRow<Conversion::Copy16>;
    else if (destination.bits == 8 && source.bits == 16)
        convert = convertRow<Conversion::Narrow>;
    else if (destination.bits == 16 && source.bits == 8)
        convert = convertRow<Conversion::Widen>;
    if (!convert || source.channels < 3 || destination.channels < 3)
        return aborted;

    const bool sameOrder = destination.order == source.order;
    if (convert == convertRow<Conversion::Copy8>) {
        const RowConverter fixed = sameOrder ? fixedCopy8<false>(destination.channels, source.channels)
                                             : fixedCopy8<true>(destination.channels, source.channels);
        if (fixed)
            convert = fixed;
    }
    const RowWalk walk { int64_t(destination.channels) * destination.cols, destination.channels,
        source.channels, { sameOrder ? 0 : 2, 1, sameOrder ? 2 : 0 } };

    for (int32_t r = 0; r < source.rows; ++r) {
        if (aborted)
            return aborted;
        convert(destination.row(r), source.row(r), walk);
        if ((r + 1) % kTransferPollRows == 0)
            aborted = pollAbort();
    }
    return aborted;
}

} // namespace quarvel
