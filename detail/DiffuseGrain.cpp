// The glow blends a blurred copy over the image, at most 115/128 of it, the blurred copy lifted
// or darkened through a tone curve when a tone is set; grain then darkens about one pixel in
// three by a fixed number of levels in every channel.
#include "detail/DiffuseGrain.h"
#include "core/LinearToneCurve.h"
#include "core/PixelMath.h"
#include "core/WorkerPool.h"
#include "detail/DetailFilter.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <vector>

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

void DetailFilter::diffuseGrainFast(ImageBuffer& image, int64_t glow, int64_t grain, uint32_t seed)
{
    // P = O + ((ad·(B − O) + 64) >> 7); with grain still to come, changes beyond ±512 clamp alike.
    int16_t change[511];
    for (int64_t d = -255; d <= 255; ++d)
        change[d + 255] = int16_t(glow > 0 ? std::clamp<int64_t>((glow * d + 64) >> 7, -512, 512) : 0);
    // The result as a function of the byte and its blurred byte, without and with the grain's
    // darkening: two 64 KB tables made once per run.
    std::vector<uint8_t> tables(2 * 65536);
    for (int32_t b = 0; b < 256; ++b)
        for (int32_t o = 0; o < 256; ++o) {
            const int32_t p = o + change[b - o + 255];
            tables[size_t(b) * 256u + size_t(o)] = clampByte(p);
            tables[65536u + size_t(b) * 256u + size_t(o)] = clampByte(p - grain);
        }
    const uint8_t* const work = work_.get();
    const int64_t cols = image.cols;
    const int64_t channels = image.channels;
    runTickedPass(image.rows, [&](int64_t y0, int64_t y1) {
        parallel(y0, y1, [&](int, int64_t begin, int64_t end) {
            // One draw per pixel in raster order: this piece starts where its first pixel's draw is.
            uint32_t state = grain != 0 ? grainStateAfter(seed, uint64_t(begin) * uint64_t(cols)) : 0;
            for (int64_t y = begin; y < end; ++y) {
                uint8_t* pixel = image.row(int32_t(y));
                // Without a glow the blurred bytes are not made and not read.
                const uint8_t* blurred = glow > 0 ? work + size_t(y) * size_t(cols) * 3u : nullptr;
                for (int64_t x = 0; x < cols; ++x, pixel += channels) {
                    const uint8_t* table = tables.data();
                    if (grain != 0) {
                        state = state * 214013u + 2531011u;
                        if (((state >> 16) & 0x7FFFu) % 3u == 0)
                            table += 65536;
                    }
                    if (blurred) {
                        pixel[0] = table[size_t(blurred[0]) << 8 | pixel[0]];
                        pixel[1] = table[size_t(blurred[1]) << 8 | pixel[1]];
                        pixel[2] = table[size_t(blurred[2]) << 8 | pixel[2]];
                        blurred += 3;
                    } else {
                        // The table's row for a blurred byte equal to the byte: no glow change.
                        pixel[0] = table[size_t(pixel[0]) * 257u];
                        pixel[1] = table[size_t(pixel[1]) * 257u];
                        pixel[2] = table[size_t(pixel[2]) * 257u];
                    }
                }
            }
        });
    });
}

} // namespace quarvel
