// The fast detail passes. They give exactly the bytes of the plain loops beside them:
// - the blur sums whole blocks of bytes with 16-bit multiply-adds, two taps at a time (four when
//   a symmetric kernel adds each tap to its mirror first), and divides by the window's weight
//   sum with an exact multiply and shift;
// - the combine passes fold everything that depends only on a difference or a level into small
//   per-run tables, using (128·O + a·D + 64) >> 7 = O + ((a·D + 64) >> 7);
// - the threads share the indices between two ticks; ticks, polls and the cancel test happen on
//   the calling thread before and after each block, where the plain loops have them.
#include "core/PixelMath.h"
#include "core/TickedBlocks.h"
#include "core/ToneCurve.h"
#include "core/WorkerPool.h"
#include "detail/BlurBuilder.h"
#include "detail/Convolve.h"
#include "detail/DetailFilter.h"
#include "detail/DiffuseGrain.h"
#include "detail/ExactDivider.h"
#include "detail/Sharpen.h"
#include "detail/Smooth.h"

#include <algorithm>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <cstring>
#include <vector>

namespace quarvel {
namespace {

// Bytes summed per inner loop of the horizontal pass: the sums stay in the first-level cache
// while every weight goes over them.
constexpr int64_t kChunk = 2048;

// The window's weight sum and how to divide by it, for every cut of the kernel at an edge.
struct WindowDivision {
    int64_t total = 0;
    ExactDivider divider;
};

} // namespace

// Two taps at a time go through one 16-bit multiply-add (weights are at most 1000, bytes at most
// 255), sixteen bytes kept in registers over all taps so that each sum is stored once.
void convolveBaseline(
    int32_t* __restrict out, const uint8_t* const* taps, const int32_t* weights, int count, int64_t n)
{
    int64_t i = 0;
#if defined(__SSE2__)
    const bool symmetric = isSymmetric(weights, count);
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= n; i += 16) {
        __m128i acc0 = zero, acc1 = zero, acc2 = zero, acc3 = zero;
        // a and b: the low and high eight bytes of two taps (or of two tap-plus-mirror sums).
        const auto add
            = [&](__m128i aLow, __m128i aHigh, __m128i bLow, __m128i bHigh, int32_t wa, int32_t wb) {
                  const __m128i w = _mm_set1_epi32(int32_t((uint32_t(wa) & 0xFFFFu) | (uint32_t(wb) << 16)));
                  acc0 = _mm_add_epi32(acc0, _mm_madd_epi16(_mm_unpacklo_epi16(aLow, bLow), w));
                  acc1 = _mm_add_epi32(acc1, _mm_madd_epi16(_mm_unpackhi_epi16(aLow, bLow), w));
                  acc2 = _mm_add_epi32(acc2, _mm_madd_epi16(_mm_unpacklo_epi16(aHigh, bHigh), w));
                  acc3 = _mm_add_epi32(acc3, _mm_madd_epi16(_mm_unpackhi_epi16(aHigh, bHigh), w));
              };
        const auto load
            = [&](int k) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(taps[k] + i)); };
        int k = 0;
        int j = count - 1;
        if (symmetric) {
            // Each tap plus its mirror first: two bytes fit 16 bits, and one multiply-add then
            // covers four taps.
            for (; j - k > 2; k += 2, j -= 2) {
                const __m128i a0 = load(k), a1 = load(j), b0 = load(k + 1), b1 = load(j - 1);
                add(_mm_add_epi16(_mm_unpacklo_epi8(a0, zero), _mm_unpacklo_epi8(a1, zero)),
                    _mm_add_epi16(_mm_unpackhi_epi8(a0, zero), _mm_unpackhi_epi8(a1, zero)),
                    _mm_add_epi16(_mm_unpacklo_epi8(b0, zero), _mm_unpacklo_epi8(b1, zero)),
                    _mm_add_epi16(_mm_unpackhi_epi8(b0, zero), _mm_unpackhi_epi8(b1, zero)), weights[k],
                    weights[k + 1]);
            }
        }
        for (; k <= j; k += 2) {
            const bool pair = k + 1 <= j;
            const __m128i a = load(k);
            const __m128i b = pair ? load(k + 1) : zero;
            add(_mm_unpacklo_epi8(a, zero), _mm_unpackhi_epi8(a, zero), _mm_unpacklo_epi8(b, zero),
                _mm_unpackhi_epi8(b, zero), weights[k], pair ? weights[k + 1] : 0);
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), acc0);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 4), acc1);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 8), acc2);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 12), acc3);
    }
#endif
    for (; i < n; ++i) {
        int32_t sum = 0;
        for (int k = 0; k < count; ++k)
            sum += weights[k] * int32_t(taps[k][i]);
        out[i] = sum;
    }
}

ConvolveFunction convolveBest()
{
#if defined(QUARVEL_HAVE_AVX2)
    static const ConvolveFunction best = __builtin_cpu_supports("avx2") ? convolveAvx2 : convolveBaseline;
    return best;
#else
    return convolveBaseline;
#endif
}

namespace {

uint8_t normalise(int64_t sum, const WindowDivision& window)
{
    const int64_t v
        = window.total > 0 ? int64_t(window.divider.divide(uint32_t(sum + window.total / 2))) : sum;
    return uint8_t(std::min<int64_t>(v, 255));
}

// out[i] = min(255, (sums[i] + W / 2) / W), the division as the window's multiply and shift.
void normaliseAll(
    uint8_t* __restrict out, const int32_t* __restrict sums, int64_t n, const WindowDivision& window)
{
    int64_t i = 0;
#if defined(__SSE2__)
    if (window.total > 0) {
        const __m128i half = _mm_set1_epi32(int32_t(window.total / 2));
        const __m128i multiplier = _mm_set1_epi32(int32_t(uint32_t(window.divider.multiplier)));
        const __m128i shift = _mm_cvtsi32_si128(int32_t(window.divider.shift));
        const __m128i low = _mm_set_epi32(0, -1, 0, -1);
        auto divide4 = [&](__m128i v) {
            v = _mm_add_epi32(v, half);
            const __m128i even = _mm_srl_epi64(_mm_mul_epu32(v, multiplier), shift);
            const __m128i odd = _mm_srl_epi64(_mm_mul_epu32(_mm_srli_epi64(v, 32), multiplier), shift);
            return _mm_or_si128(_mm_and_si128(even, low), _mm_slli_epi64(odd, 32));
        };
        for (; i + 16 <= n; i += 16) {
            const __m128i q0 = divide4(_mm_loadu_si128(reinterpret_cast<const __m128i*>(sums + i)));
            const __m128i q1 = divide4(_mm_loadu_si128(reinterpret_cast<const __m128i*>(sums + i + 4)));
            const __m128i q2 = divide4(_mm_loadu_si128(reinterpret_cast<const __m128i*>(sums + i + 8)));
            const __m128i q3 = divide4(_mm_loadu_si128(reinterpret_cast<const __m128i*>(sums + i + 12)));
            // Saturating packs: the quotients are 0..255 already, and stay so.
            const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(q0, q1), _mm_packs_epi32(q2, q3));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), bytes);
        }
    }
#endif
    for (; i < n; ++i)
        out[i] = normalise(sums[i], window);
}

} // namespace

int DetailFilter::threads() const { return pool ? pool->size() : 1; }

void DetailFilter::parallel(
    int64_t begin, int64_t end, const std::function<void(int, int64_t, int64_t)>& part)
{
    if (!pool || pool->size() == 1 || end - begin < 2) {
        part(0, begin, end);
        return;
    }
    pool->run(end - begin, [&](int index, int64_t b, int64_t e) { part(index, begin + b, begin + e); });
}

void DetailFilter::runTickedPass(int64_t count, const std::function<void(int64_t, int64_t)>& block)
{
    forEachTickedBlock(
        count, int64_t(progressStepSize), [this] { return cancel != 0; }, block,
        [this](int64_t i) { tick(i); });
}

void DetailFilter::blurFast(const ImageBuffer& image, double radius, const ToneCurve* curve)
{
    const int32_t rows = image.rows;
    const int32_t cols = image.cols;
    const int64_t channels = image.channels;
    const size_t rowBytes = size_t(cols) * 3u;
    // Every byte of the work buffer is written below; a stopped blur leaves bytes that no stage
    // reads, so the plain blur's clearing is not repeated here.
    uint8_t* const work = work_.get();

    uint8_t toneTable[256];
    for (int32_t v = 0; v < 256; ++v)
        toneTable[v] = uint8_t(curve ? curve->lookup(v) : v);

    const BlurKernel kernel = buildBlurKernel(radius);
    const int32_t* const weights = kernel.weights.data();
    const int32_t half = kernel.halfWidth;
    const int32_t width = 2 * half + 1;

    // Every window is the kernel cut at one or both ends: its sum is a difference of prefix sums.
    std::vector<int64_t> prefix(size_t(width) + 1, 0);
    for (int32_t k = 0; k < width; ++k)
        prefix[size_t(k) + 1] = prefix[size_t(k)] + weights[k];
    auto division = [&](int32_t first, int32_t last) {
        WindowDivision w;
        w.total = prefix[size_t(last) + 1] - prefix[size_t(first)];
        if (w.total > 0)
            w.divider = ExactDivider::make(uint32_t(w.total), uint32_t(w.total * 255 + w.total / 2));
        return w;
    };
    // Windows cut at one end only, the only ones an image wider and taller than the kernel has,
    // made once: headCut[first] ends at the kernel's end, tailCut[last] starts at its start.
    std::vector<WindowDivision> headCut(static_cast<size_t>(half) + 1);
    std::vector<WindowDivision> tailCut(static_cast<size_t>(width));
    for (int32_t k = 0; k <= half; ++k) {
        headCut[size_t(k)] = division(k, width - 1);
        tailCut[size_t(half + k)] = division(0, half + k);
    }
    const auto window = [&](int32_t first, int32_t last) {
        if (last == width - 1 && first <= half)
            return headCut[size_t(first)];
        if (first == 0 && last >= half)
            return tailCut[size_t(last)];
        return division(first, last);
    };
    const WindowDivision& full = headCut[0];
    const ConvolveFunction convolve = useBaselineInstructions ? convolveBaseline : convolveBest();
    blurLoop = convolve;

    const int pieces = std::max(1, threads());
    const int64_t stripBytes = int64_t(std::min<int64_t>(progressStepSize, cols)) * channels;
    std::vector<std::vector<int32_t>> sums(
        size_t(pieces), std::vector<int32_t>(size_t(std::max<int64_t>(stripBytes, kChunk))));
    const std::vector<uint8_t> oneRow(std::max<size_t>(rowBytes, size_t(stripBytes)));
    std::vector<std::vector<uint8_t>> rowBuffers(static_cast<size_t>(pieces), oneRow);
    const std::vector<const uint8_t*> noTaps(size_t(width), nullptr);
    std::vector<std::vector<const uint8_t*>> taps(static_cast<size_t>(pieces), noTaps);

    // Columns, a strip between two ticks at a time; the strip's rows are shared between threads
    // and each output row sums whole rows of the strip, every byte of a pixel alike.
    runTickedPass(cols, [&](int64_t x0, int64_t x1) {
        parallel(0, rows, [&](int piece, int64_t y0, int64_t y1) {
            int32_t* const sum = sums[size_t(piece)].data();
            uint8_t* const bytes = rowBuffers[size_t(piece)].data();
            const uint8_t** const tap = taps[size_t(piece)].data();
            const int64_t n = (x1 - x0) * channels;
            for (int64_t y = y0; y < y1; ++y) {
                const int32_t top = int32_t(std::max<int64_t>(0, y - half));
                const int32_t bottom = int32_t(std::min<int64_t>(y + half, rows - 1));
                for (int32_t j = top; j <= bottom; ++j)
                    tap[j - top] = image.row(j) + x0 * channels;
                const int32_t first = top - int32_t(y) + half;
                convolve(sum, tap, weights + first, bottom - top + 1, n);
                const WindowDivision cut = window(first, bottom - int32_t(y) + half);
                uint8_t* out = work + size_t(y) * rowBytes + size_t(x0) * 3u;
                if (channels == 3) {
                    normaliseAll(out, sum, n, cut);
                    continue;
                }
                normaliseAll(bytes, sum, n, cut);
                const int64_t pixels = x1 - x0;
                int64_t x = 0;
                if (channels == 4) {
                    // Four bytes at a time: each pixel's spare byte is overwritten by the next
                    // pixel; the strip's last pixel goes byte by byte so nothing past it changes.
                    for (; x + 1 < pixels; ++x, out += 3)
                        std::memcpy(out, bytes + x * 4, 4);
                }
                for (; x < pixels; ++x, out += 3) {
                    out[0] = bytes[x * channels];
                    out[1] = bytes[x * channels + 1];
                    out[2] = bytes[x * channels + 2];
                }
            }
        });
    });

    // Rows: the interior sums three interleaved channels at once (a tap of the kernel is three
    // bytes along the row); the cut windows at both ends go one pixel at a time.
    runTickedPass(rows, [&](int64_t y0, int64_t y1) {
        parallel(y0, y1, [&](int piece, int64_t begin, int64_t end) {
            int32_t* const sum = sums[size_t(piece)].data();
            uint8_t* const buffer = rowBuffers[size_t(piece)].data();
            const uint8_t** const tap = taps[size_t(piece)].data();
            for (int64_t y = begin; y < end; ++y) {
                uint8_t* const line = work + size_t(y) * rowBytes;
                std::memcpy(buffer, line, rowBytes);
                auto edgePixel = [&](int32_t x) {
                    const int32_t left = std::max(0, x - half);
                    const int32_t right = std::min(x + half, cols - 1);
                    int64_t s[3] = { 0, 0, 0 };
                    for (int32_t i = left; i <= right; ++i) {
                        const int32_t w = weights[i - x + half];
                        const uint8_t* p = buffer + size_t(i) * 3u;
                        s[0] += int64_t(w) * p[0];
                        s[1] += int64_t(w) * p[1];
                        s[2] += int64_t(w) * p[2];
                    }
                    const WindowDivision cut = window(left - x + half, right - x + half);
                    for (int c = 0; c < 3; ++c)
                        line[size_t(x) * 3u + size_t(c)] = toneTable[normalise(s[c], cut)];
                };
                const int32_t interiorBegin = std::min(half, cols);
                const int32_t interiorEnd = std::max(interiorBegin, cols - half);
                for (int32_t x = 0; x < interiorBegin; ++x)
                    edgePixel(x);
                for (int64_t b0 = int64_t(interiorBegin) * 3; b0 < int64_t(interiorEnd) * 3; b0 += kChunk) {
                    const int64_t n = std::min<int64_t>(kChunk, int64_t(interiorEnd) * 3 - b0);
                    for (int32_t k = 0; k < width; ++k)
                        tap[k] = buffer + b0 + int64_t(k - half) * 3;
                    convolve(sum, tap, weights, width, n);
                    normaliseAll(line + b0, sum, n, full);
                    if (curve)
                        for (int64_t i = 0; i < n; ++i)
                            line[b0 + i] = toneTable[line[b0 + i]];
                }
                for (int32_t x = interiorEnd; x < cols; ++x)
                    edgePixel(x);
            }
        });
    });
}

void DetailFilter::sharpenFast(ImageBuffer& image)
{
    const uint8_t* const work = work_.get();
    const int64_t cols = image.cols;
    const int64_t channels = image.channels;
    if (sharpMethod != 0) {
        // Two sets crossfaded per pixel: the plain pixel rule, shared between the threads.
        const SharpSet shadow { percentTo128ths(shAmount), shEdgeDivisor, shThreshold };
        const SharpSet highlight { percentTo128ths(hiAmount), hiEdgeDivisor, hiThreshold };
        const TonalBands bands { hiTonalSum, shTonalSum, hiBand, shBand };
        // The set depends on the blurred channel sum alone: one per sum, chosen once per run.
        std::vector<SharpSet> sets(766);
        for (int64_t level = 0; level <= 765; ++level)
            sets[size_t(level)] = chooseSharpSet(level, bands, highlight, shadow);
        runTickedPass(image.rows, [&](int64_t y0, int64_t y1) {
            parallel(y0, y1, [&](int, int64_t begin, int64_t end) {
                for (int64_t y = begin; y < end; ++y) {
                    uint8_t* pixel = image.row(int32_t(y));
                    const uint8_t* blurred = work + size_t(y) * size_t(cols) * 3u;
                    for (int64_t x = 0; x < cols; ++x, pixel += channels, blurred += 3) {
                        sharpenPixel(pixel, blurred, sets[size_t(blurred[0]) + blurred[1] + blurred[2]]);
                    }
                }
            });
        });
        return;
    }

    // One set: the edge bound depends only on the blurred level, the change only on the bounded
    // difference. Changes beyond ±256 clamp alike, so they are stored clamped.
    const int64_t amount = percentTo128ths(shAmount);
    const bool bounded = shEdgeDivisor > 1;
    int16_t bound[256];
    for (int64_t b = 0; b < 256; ++b)
        bound[b] = int16_t(bounded ? std::min<int64_t>((b + shEdgeDivisor / 2) / shEdgeDivisor, 255) : 255);
    int16_t change[511];
    for (int64_t d = -255; d <= 255; ++d) {
        const int64_t a = thresholdAmount(d, amount, shThreshold);
        const int64_t v = (a * d + 64) >> 7;
        change[d + 255] = int16_t(std::clamp<int64_t>(v, -256, 256));
    }
    // Every result is a function of the byte and its blurred byte: 64 KB, made once per run.
    std::vector<uint8_t> result(65536);
    for (int32_t b = 0; b < 256; ++b) {
        const int32_t limit = bound[b];
        for (int32_t o = 0; o < 256; ++o)
            result[size_t(b) * 256u + size_t(o)]
                = clampByte(o + change[std::clamp(o - b, -limit, limit) + 255]);
    }
    const uint8_t* const sharpened = result.data();
    runTickedPass(image.rows, [&](int64_t y0, int64_t y1) {
        parallel(y0, y1, [&](int, int64_t begin, int64_t end) {
            for (int64_t y = begin; y < end; ++y) {
                uint8_t* pixel = image.row(int32_t(y));
                const uint8_t* blurred = work + size_t(y) * size_t(cols) * 3u;
                for (int64_t x = 0; x < cols; ++x, pixel += channels, blurred += 3) {
                    pixel[0] = sharpened[size_t(blurred[0]) << 8 | pixel[0]];
                    pixel[1] = sharpened[size_t(blurred[1]) << 8 | pixel[1]];
                    pixel[2] = sharpened[size_t(blurred[2]) << 8 | pixel[2]];
                }
            }
        });
    });
}

namespace {

#if defined(__SSE2__)
// Eight four-byte pixels of one row through the smoothing rule: both luminances, the step and
// its clamp in 16-bit lanes, the 17-entry change table read per pixel, and the change added to
// bytes 0..2 with the saturating pack as the clamp. Weights are non-negative and add up to at
// most 1024, as for the scalar loop below.
inline void smoothEight(uint8_t* pixel, const uint8_t* blurred, const int32_t weight[3],
    const int32_t (*weighted)[256], const int16_t* change)
{
    alignas(16) int32_t blurSums[8];
    for (int i = 0; i < 8; ++i, blurred += 3)
        blurSums[i] = weighted[0][blurred[0]] + weighted[1][blurred[1]] + weighted[2][blurred[2]];
    const __m128i round = _mm_set1_epi32(512);
    const __m128i yb = _mm_packs_epi32(
        _mm_srai_epi32(_mm_add_epi32(_mm_load_si128(reinterpret_cast<const __m128i*>(blurSums)), round), 10),
        _mm_srai_epi32(
            _mm_add_epi32(_mm_load_si128(reinterpret_cast<const __m128i*>(blurSums + 4)), round), 10));

    const __m128i zero = _mm_setzero_si128();
    const __m128i w = _mm_set_epi16(0, int16_t(weight[2]), int16_t(weight[1]), int16_t(weight[0]), 0,
        int16_t(weight[2]), int16_t(weight[1]), int16_t(weight[0]));
    __m128i* const v = reinterpret_cast<__m128i*>(pixel);
    const __m128i first = _mm_loadu_si128(v), second = _mm_loadu_si128(v + 1);
    __m128i words[4] = { _mm_unpacklo_epi8(first, zero), _mm_unpackhi_epi8(first, zero),
        _mm_unpacklo_epi8(second, zero), _mm_unpackhi_epi8(second, zero) };
    // Each pixel's sum in the even dword of its half, two pixels per vector.
    __m128i sums[4];
    for (int i = 0; i < 4; ++i) {
        const __m128i products = _mm_madd_epi16(words[i], w);
        sums[i] = _mm_shuffle_epi32(
            _mm_add_epi32(products, _mm_srli_epi64(products, 32)), _MM_SHUFFLE(3, 1, 2, 0));
    }
    const __m128i yo
        = _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(_mm_unpacklo_epi64(sums[0], sums[1]), round), 10),
            _mm_srai_epi32(_mm_add_epi32(_mm_unpacklo_epi64(sums[2], sums[3]), round), 10));

    const __m128i step = _mm_srai_epi16(_mm_add_epi16(yb, _mm_set1_epi16(16)), 5);
    const __m128i target = _mm_min_epi16(_mm_max_epi16(yo, _mm_sub_epi16(yb, step)), _mm_add_epi16(yb, step));
    const __m128i index
        = _mm_min_epi16(_mm_max_epi16(_mm_sub_epi16(yb, target), _mm_set1_epi16(-8)), _mm_set1_epi16(8));
    __m128i delta = zero;
    delta = _mm_insert_epi16(delta, change[int16_t(_mm_extract_epi16(index, 0))], 0);
    delta = _mm_insert_epi16(delta, change[int16_t(_mm_extract_epi16(index, 1))], 1);
    delta = _mm_insert_epi16(delta, change[int16_t(_mm_extract_epi16(index, 2))], 2);
    delta = _mm_insert_epi16(delta, change[int16_t(_mm_extract_epi16(index, 3))], 3);
    delta = _mm_insert_epi16(delta, change[int16_t(_mm_extract_epi16(index, 4))], 4);
    delta = _mm_insert_epi16(delta, change[int16_t(_mm_extract_epi16(index, 5))], 5);
    delta = _mm_insert_epi16(delta, change[int16_t(_mm_extract_epi16(index, 6))], 6);
    delta = _mm_insert_epi16(delta, change[int16_t(_mm_extract_epi16(index, 7))], 7);

    // Each pixel's change on its three bytes, none on the fourth.
    const __m128i bytes012 = _mm_set_epi16(0, -1, -1, -1, 0, -1, -1, -1);
    const __m128i pairsLow = _mm_unpacklo_epi16(delta, delta);
    const __m128i pairsHigh = _mm_unpackhi_epi16(delta, delta);
    const __m128i spread[4] = {
        _mm_and_si128(_mm_unpacklo_epi32(pairsLow, pairsLow), bytes012),
        _mm_and_si128(_mm_unpackhi_epi32(pairsLow, pairsLow), bytes012),
        _mm_and_si128(_mm_unpacklo_epi32(pairsHigh, pairsHigh), bytes012),
        _mm_and_si128(_mm_unpackhi_epi32(pairsHigh, pairsHigh), bytes012),
    };
    _mm_storeu_si128(
        v, _mm_packus_epi16(_mm_add_epi16(words[0], spread[0]), _mm_add_epi16(words[1], spread[1])));
    _mm_storeu_si128(
        v + 1, _mm_packus_epi16(_mm_add_epi16(words[2], spread[2]), _mm_add_epi16(words[3], spread[3])));
}
#endif

} // namespace

void DetailFilter::smoothFast(ImageBuffer& image, int64_t amount)
{
    // The luminance difference is at most 8 either way: its change is one of 17 values.
    int16_t change[17];
    for (int64_t d = -8; d <= 8; ++d) {
        const int64_t a = thresholdAmount(d, amount, smoothThreshold);
        change[d + 8] = int16_t(std::clamp<int64_t>((a * d + 64) >> 7, -256, 256));
    }
    const uint8_t* const work = work_.get();
    const int64_t cols = image.cols;
    const int64_t channels = image.channels;
    const int32_t w0 = lumaWeight[0], w1 = lumaWeight[1], w2 = lumaWeight[2];
    // Weights that add up to at most 1024 keep the luminance a level and the step at most 8;
    // any others go through the plain pixel rule.
    const bool smallWeights = w0 >= 0 && w1 >= 0 && w2 >= 0 && int64_t(w0) + w1 + w2 <= 1024;
    const int32_t weights[3] = { w0, w1, w2 };
    int32_t weighted[3][256];
    for (int c = 0; c < 3; ++c)
        for (int32_t b = 0; b < 256; ++b)
            weighted[c][b] = smallWeights ? weights[c] * b : 0;
    runTickedPass(image.rows, [&](int64_t y0, int64_t y1) {
        parallel(y0, y1, [&](int, int64_t begin, int64_t end) {
            for (int64_t y = begin; y < end; ++y) {
                uint8_t* pixel = image.row(int32_t(y));
                const uint8_t* blurred = work + size_t(y) * size_t(cols) * 3u;
                if (!smallWeights) {
                    for (int64_t x = 0; x < cols; ++x, pixel += channels, blurred += 3)
                        smoothPixel(pixel, blurred, weights, amount, smoothThreshold);
                    continue;
                }
                int64_t x = 0;
#if defined(__SSE2__)
                if (channels == 4)
                    for (; x + 8 <= cols; x += 8, pixel += 32, blurred += 24)
                        smoothEight(pixel, blurred, weights, weighted, change + 8);
#endif
                for (; x < cols; ++x, pixel += channels, blurred += 3) {
                    const int32_t yo = (w0 * pixel[0] + w1 * pixel[1] + w2 * pixel[2] + 512) >> 10;
                    const int32_t yb = (w0 * blurred[0] + w1 * blurred[1] + w2 * blurred[2] + 512) >> 10;
                    const int32_t step = (yb + 16) >> 5;
                    const int32_t target = std::clamp(yo, yb - step, yb + step);
                    const int32_t delta = change[std::clamp(yb - target, -8, 8) + 8];
                    pixel[0] = clampByte(pixel[0] + delta);
                    pixel[1] = clampByte(pixel[1] + delta);
                    pixel[2] = clampByte(pixel[2] + delta);
                }
            }
        });
    });
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
