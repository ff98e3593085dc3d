// Building the tone filter's per-level maps: auto-colour curves from the image histogram, the
// shadow and highlight curves, then one levels curve for auto exposure and one for the clips and
// gamma, each computed from a predicted histogram of the output.
#include "tone/ToneTables.h"

#include "tone/ByteBlend.h"
#include "tone/ToneFilter.h"

#include <algorithm>

namespace quarvel {

namespace {

// Applies a blend with a fixed second operand q times. The blends converge within a few hundred
// steps, so a scripted count of billions stops as soon as a step changes nothing, which gives the
// same level as repeating them all.
template <typename Blend> int32_t repeatBlend(int32_t s, int64_t q, Blend blend)
{
    for (int64_t n = 0; n < q; ++n) {
        const int32_t next = blend(s);
        if (next == s)
            break;
        s = next;
    }
    return s;
}

// w scaled by 1 + level / 100, saturating at 255.
int32_t liftBump(int32_t w, int32_t level)
{
    const Hundreds split = splitHundreds(level);
    const int32_t acc = repeatBlend(w, split.q, [w](int32_t a) { return std::min(a + w, 255); });
    const int32_t next = std::min(acc + w, 255);
    return percentMix(next, acc, split.r);
}

} // namespace

int32_t shadowTableLevel(int32_t i, int32_t contrast, int32_t level, int32_t amount)
{
    const Hundreds split = splitHundreds(150 - int64_t(contrast));
    int32_t s = repeatBlend(i, split.q, [i](int32_t a) { return screenBlend(a, i); });
    s = percentMix(screenBlend(s, i), s, split.r);
    const int32_t lift = liftBump(midtoneBump(s), level);
    return percentMix(screenBlend(lift, i), i, amount);
}

int32_t highlightTableLevel(int32_t v, int32_t contrast, int32_t level, int32_t amount)
{
    const Hundreds split = splitHundreds(150 - int64_t(contrast));
    int32_t s = repeatBlend(v, split.q, [v](int32_t a) { return multiplyBlend(a, v); });
    s = percentMix(multiplyBlend(v, s), s, split.r);
    const int32_t cut = liftBump(midtoneBump(s), level);
    return percentMix(multiplyBlend(255 - cut, v), v, amount);
}

namespace {

int32_t clampLevel(int64_t v) { return int32_t(std::clamp<int64_t>(v, 0, 255)); }

} // namespace

void ToneFilter::buildTables()
{
    for (auto& curve : colorCurve)
        curve.reset();
    LinearToneCurve scratch;

    // Each channel stretched by itself halfway to its own black and white points, which also
    // balances the colour.
    const double autoPercent = autoColor != 0 ? 0.25 : 0.0;
    for (uint8_t c = 0; c < 3; ++c)
        imageHistogram.clipPoints(c, colorCurve[c], autoPercent, autoPercent, 0.5);

    for (int32_t i = 0; i < 256; ++i) {
        const int32_t shadow = shadowTableLevel(i, shadowContrast, shadowLevel, shadowAmount);
        for (auto& table : toneTable)
            table[i] = uint8_t(highlightTableLevel(shadow, hilightContrast, hilightLevel, hilightAmount));
    }

    static const uint8_t kAll[3] = { 0, 1, 2 };
    ChannelHistogram predicted;
    for (int32_t i = 0; i < 256; ++i)
        for (uint8_t c = 0; c < 3; ++c)
            predicted.add(c, toneTable[c][colorCurve[c].lookup(i)], imageHistogram.bin(c, uint8_t(i)));

    if (autoExposure != 0) {
        scratch.reset();
        const int32_t mid = predicted.clipPointsMulti(kAll, 3, scratch, 0.0, 0.0, 1.0);
        const int32_t avg = (predicted.mean(0) + predicted.mean(1) + predicted.mean(2) + 1) / 3;
        scratch.addPoint(mid, scratch.lookup(mid) + mid - avg);
        for (auto& table : toneTable)
            for (auto& t : table)
                t = uint8_t(scratch.lookup(t));
    }

    // The predicted counts once more through the tone tables as they now stand (not through the
    // colour curves again).
    ChannelHistogram finalCounts;
    for (int32_t i = 0; i < 256; ++i)
        for (uint8_t c = 0; c < 3; ++c)
            finalCounts.add(c, toneTable[c][i], predicted.bin(c, uint8_t(i)));

    scratch.reset();
    const int32_t mid = finalCounts.clipPointsMulti(kAll, 3, scratch, shadowClip, hilightClip, 0.75);
    if (gamma != 0)
        scratch.addPoint(mid, clampLevel(int64_t(scratch.lookup(mid)) + gamma));
    for (auto& table : toneTable)
        for (auto& t : table)
            t = uint8_t(scratch.lookup(t));
}

} // namespace quarvel
