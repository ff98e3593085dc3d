// Level counts 0..255 for up to 32 channels, each allocated by its first `add`, and the
// percentile clip points that turn a histogram into the black and white points of a curve.
#pragma once

#include <cstdint>
#include <memory>

namespace quarvel {

class ToneCurve;

class ChannelHistogram {
public:
    static constexpr uint32_t kChannels = 32;

    ChannelHistogram() = default;
    virtual ~ChannelHistogram() = default;
    ChannelHistogram(const ChannelHistogram&) = delete;
    ChannelHistogram& operator=(const ChannelHistogram&) = delete;

    // Counters wrap modulo 2^32. A channel of 32 or more has no slot and is ignored.
    void add(uint8_t channel, uint8_t level, uint32_t count);
    uint32_t bin(uint8_t channel, uint8_t level) const;
    bool hasChannel(uint32_t channel) const { return channel < kChannels && slots_[channel] != nullptr; }
    void freeChannel(uint32_t channel);
    // The mean level with every level counted once more than it occurred, rounded; -1 for a
    // channel of 32 or more, 128 for an empty one (as if all its counters were zero).
    int32_t mean(uint32_t channel) const;

    // Black point after `lowPercent` percent of the samples from the dark end, white point after
    // `highPercent` percent from the bright end; the two are pulled toward 0 and 255 by
    // `strength` and added to `curve`. Returns the middle of the two clip levels. Percentages
    // that are NaN or negative count nothing; huge ones count everything.
    uint8_t clipPoints(
        uint8_t channel, ToneCurve& curve, double lowPercent, double highPercent, double strength) const;
    // The same over the listed channels pooled; empty channels count as zeros.
    uint8_t clipPointsMulti(const uint8_t* channelList, int32_t count, ToneCurve& curve, double lowPercent,
        double highPercent, double strength) const;

private:
    std::unique_ptr<uint32_t[]> slots_[kChannels];
};

} // namespace quarvel
