#include "tone/ChannelHistogram.h"

#include "core/ToneCurve.h"

#include <cmath>

namespace quarvel {

void ChannelHistogram::add(uint8_t channel, uint8_t level, uint32_t count)
{
    if (channel >= kChannels)
        return;
    auto& slot = slots_[channel];
    if (!slot)
        slot = std::make_unique<uint32_t[]>(256); // zero-filled
    slot[level] += count;
}

uint32_t ChannelHistogram::bin(uint8_t channel, uint8_t level) const
{
    return hasChannel(channel) ? slots_[channel][level] : 0;
}

void ChannelHistogram::freeChannel(uint32_t channel)
{
    if (channel < kChannels)
        slots_[channel].reset();
}

int32_t ChannelHistogram::mean(uint32_t channel) const
{
    if (channel >= kChannels)
        return -1;
    const uint32_t* counters = slots_[channel].get();
    double sum = 0.0;
    double moment = 0.0;
    for (uint32_t i = 0; i < 256; ++i) {
        const uint64_t c = uint64_t(counters ? counters[i] : 0u) + 1u;
        sum += double(c);
        // In 64 bits: a 32-bit product wraps once a bright level holds some ten million
        // pixels, which today's photos do.
        moment += double(c * i);
    }
    return static_cast<int32_t>(moment / sum + 0.5);
}

namespace {

// The clip scan over one pooled set of 256 counters. The counts stay doubles, so that a NaN or a
// huge percentage compares instead of overflowing a conversion.
uint8_t clipCounters(
    const uint32_t* pooled, ToneCurve& curve, double lowPercent, double highPercent, double strength)
{
    double total = 0.0;
    for (int i = 0; i < 256; ++i)
        total += double(pooled[i]);
    const double lowCount = std::trunc(total * lowPercent * 0.01 + 0.5);
    const double highCount = std::trunc(total * highPercent * 0.01 + 0.5);

    int32_t hi = 255;
    double acc = 0.0;
    while (hi > 0 && acc < highCount) {
        acc += double(pooled[hi]);
        --hi;
    }
    int32_t lo = 0;
    acc = 0.0;
    while (lo < 255 && acc < lowCount) {
        acc += double(pooled[lo]);
        ++lo;
    }
    curve.addPoint(lo, static_cast<int32_t>((1.0 - strength) * lo + 0.5));
    curve.addPoint(hi, hi + static_cast<int32_t>((255 - hi) * strength + 0.5));
    return static_cast<uint8_t>((lo + hi) / 2);
}

} // namespace

uint8_t ChannelHistogram::clipPoints(
    uint8_t channel, ToneCurve& curve, double lowPercent, double highPercent, double strength) const
{
    if (!hasChannel(channel))
        return 0;
    return clipCounters(slots_[channel].get(), curve, lowPercent, highPercent, strength);
}

uint8_t ChannelHistogram::clipPointsMulti(const uint8_t* channelList, int32_t count, ToneCurve& curve,
    double lowPercent, double highPercent, double strength) const
{
    uint32_t pooled[256] = {};
    for (int32_t n = 0; n < count; ++n) {
        if (!hasChannel(channelList[n]))
            continue;
        const uint32_t* counters = slots_[channelList[n]].get();
        for (int i = 0; i < 256; ++i)
            pooled[i] += counters[i];
    }
    return clipCounters(pooled, curve, lowPercent, highPercent, strength);
}

} // namespace quarvel
