// The glow blends a blurred copy over the image, at most 115/128 of it, the blurred copy lifted
// or darkened through a tone curve when a tone is set; grain then darkens about one pixel in
// three by a fixed number of levels in every channel.
#include "detail/DiffuseGrain.h"
#include "core/LinearToneCurve.h"
#include "core/PixelMath.h"
#include "detail/DetailFilter.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <optional>

namespace quarvel {
namespace {

thread_local uint32_t grainState = 1;

} // namespace

void seedGrainRandom(uint32_t seed) { grainState = seed; }

uint32_t grainStateAfter(uint32_t seed, uint64_t draws)
{
    // The generator is an affine map; its n-th power is found by squaring.
    uint32_t multiply = 1, add = 0;
    uint32_t stepMultiply = 214013u, stepAdd = 2531011u;
    while (draws != 0) {
        if (draws & 1u) {
            multiply = multiply * stepMultiply;
            add = add * stepMultiply + stepAdd;
        }
        stepAdd = stepAdd * stepMultiply + stepAdd;
        stepMultiply = stepMultiply * stepMultiply;
        draws >>= 1;
    }
    return seed * multiply + add;
}

int32_t drawGrainRandom()
{
    grainState = grainState * 214013u + 2531011u;
    return int32_t((grainState >> 16) & 0x7FFFu);
}

uint32_t grainSeed()
{
    if (const char* text = std::getenv("QUARVEL_GRAIN_SEED")) {
        char* end = nullptr;
        errno = 0;
        const unsigned long long value = std::strtoull(text, &end, 10);
        if (end != text && *end == '\0' && errno == 0)
            return uint32_t(value);
    }
    return uint32_t(uint64_t(std::time(nullptr)));
}

int64_t glowAmount(int32_t diffuseAmount) { return (int64_t(diffuseAmount) * 11520 + 5000) / 10000; }

void buildGlowCurve(LinearToneCurve& curve, int32_t tone)
{
    curve.reset();
    if (tone == 0)
        return;
    // The curve clamps points into 0..255; 64 bits keep the negation of the smallest int32 defined.
    const int64_t x = tone > 0 ? 255 - int64_t(tone) : -int64_t(tone);
    curve.addPoint(int32_t(std::clamp<int64_t>(x, -1, 256)), tone > 0 ? 255 : 0);
}

void DetailFilter::diffuseGrainStage(ImageBuffer& image)
{
    const int64_t amount = glowAmount(diffuseAmount);
    std::optional<LinearToneCurve> curve;
    if (amount > 0) {
        if (diffuseTone != 0) {
            curve.emplace();
            buildGlowCurve(*curve, diffuseTone);
        }
        blurIntoWorkBuffer(image, diffuseRadius, curve ? &*curve : nullptr);
    }
    const uint32_t seed = grainSeed();
    seedGrainRandom(seed);
    const int64_t grain = uint8_t(uint32_t(grainAmount) & 0xFFu);
    if (!useReferenceKernels) {
        diffuseGrainFast(image, amount, grain, seed);
        return;
    }

    const uint8_t* const work = work_.get();
    for (int32_t y = 0; y < image.rows; ++y) {
        if (cancel != 0)
            break;
        uint8_t* pixel = image.row(y);
        const uint8_t* blurred = work + size_t(y) * size_t(image.cols) * 3u;
        for (int32_t x = 0; x < image.cols; ++x, pixel += image.channels, blurred += 3) {
            int64_t p[3] = { pixel[0], pixel[1], pixel[2] };
            if (amount > 0)
                for (int c = 0; c < 3; ++c)
                    p[c] = (blurred[c] * amount + p[c] * (128 - amount) + 64) >> 7;
            if (grain != 0 && drawGrainRandom() % 3 == 0)
                for (int64_t& v : p)
                    v -= grain;
            for (int c = 0; c < 3; ++c)
                pixel[c] = clampByte(p[c]);
        }
        tick(y);
    }
}

} // namespace quarvel
