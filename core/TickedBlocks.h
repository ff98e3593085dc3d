// The walk that lets fast loops keep the plain loops' progress reports: a pass over the indices
// 0 .. count − 1 that reports after the indices 0, step, 2·step, … runs in the blocks between two
// reports, and whatever a report can change is looked at only before a block.
#pragma once

#include <algorithm>
#include <cstdint>

namespace quarvel {

// block(begin, end) for each block, then atTick(index) when the block ends on a reporting index;
// stopped() is asked before every block.
template <class Stopped, class Block, class AtTick>
void forEachTickedBlock(int64_t count, int64_t step, Stopped stopped, Block block, AtTick atTick)
{
    for (int64_t i = 0; i < count && !stopped();) {
        const int64_t end = i == 0 ? 1 : std::min(count, i + step);
        block(i, end);
        if ((end - 1) % step == 0)
            atTick(end - 1);
        i = end;
    }
}

} // namespace quarvel
