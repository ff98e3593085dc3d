#include "detail/BlurBuilder.h"

#include "core/TickedBlocks.h"
#include "core/ToneCurve.h"
#include "core/WorkerPool.h"
#include "detail/Convolve.h"
#include "detail/DetailFilter.h"
#include "detail/ExactDivider.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <emmintrin.h>
#include <vector>

namespace quarvel {
namespace {

constexpr int kScratch = 1000;
constexpr int kCentre = 500;

int32_t kernelWeight(int i, double scale)
{
    const double t = double(i) / scale;
    return static_cast<int32_t>(1000.0 * std::pow(2.302585093, -(t * t)) + 0.5);
}

// The scratch has room for 499 mirrored weights on the right of the centre, so the weight at
// distance 499 (i = 500) must already end the kernel.
bool kernelFits(double scale) { return kernelWeight(500, scale) <= 1; }

} // namespace

double largestKernelScale()
{
    static const double largest = [] {
        double fits = 1.0;
        double tooWide = 1000.0;
        while (true) {
            const double middle = fits + (tooWide - fits) / 2.0;
            if (middle <= fits || middle >= tooWide)
                return fits;
            (kernelFits(middle) ? fits : tooWide) = middle;
        }
    }();
    return largest;
}

BlurKernel buildBlurKernel(double radius)
{
    double scale = std::isnan(radius) ? 0.5 : radius + 0.5;
    // Only the magnitude of the scale enters the weights.
    if (std::fabs(scale) > largestKernelScale())
        scale = largestKernelScale();

    int32_t scratch[kScratch] = {};
    for (int i = 1; i <= kCentre + 1; ++i) {
        const int32_t w = kernelWeight(i, scale);
        scratch[kCentre - (i - 1)] = w;
        if (w <= 1)
            break;
    }
    for (int k = 0; k <= 498; ++k)
        scratch[kCentre + 1 + k] = scratch[kCentre - 1 - k];

    int first = 0;
    while (first < kCentre && scratch[first] == 0)
        ++first;
    BlurKernel kernel;
    kernel.halfWidth = kCentre - first;
    kernel.weights.assign(scratch + first, scratch + first + 2 * kernel.halfWidth + 1);
    return kernel;
}

void DetailFilter::blurIntoWorkBuffer(const ImageBuffer& image, double radius, const ToneCurve* curve)
{
    if (useReferenceKernels)
        blurReference(image, radius, curve);
    else
        blurFast(image, radius, curve);
}

void DetailFilter::blurReference(const ImageBuffer& image, double radius, const ToneCurve* curve)
{
    const int32_t rows = image.rows;
    const int32_t cols = image.cols;
    const size_t rowBytes = size_t(cols) * 3u;
    uint8_t* const work = work_.get();
    std::memset(work, 0, size_t(rows) * rowBytes);

    int32_t toneTable[256];
    if (curve)
        for (int32_t v = 0; v < 256; ++v)
            toneTable[v] = curve->lookup(v);

    const BlurKernel kernel = buildBlurKernel(radius);
    const int32_t* const weights = kernel.weights.data();
    const int32_t half = kernel.halfWidth;
    std::vector<uint8_t> rowBuffer(rowBytes);

    // Down the columns first, rounding to 8 bits, so the horizontal pass sees rounded values:
    // that is why a blurred point is not symmetric between rows and columns.
    for (int32_t x = 0; x < cols; ++x) {
        if (cancel != 0)
            break;
        for (int32_t y = 0; y < rows; ++y) {
            const int32_t top = std::max(0, y - half);
            const int32_t bottom = std::min(y + half, rows - 1);
            int64_t sum[3] = { 0, 0, 0 };
            int64_t total = 0;
            for (int32_t j = top; j <= bottom; ++j) {
                const int32_t w = weights[j - y + half];
                const uint8_t* p = image.row(j) + int64_t(x) * image.channels;
                sum[0] += int64_t(w) * p[0];
                sum[1] += int64_t(w) * p[1];
                sum[2] += int64_t(w) * p[2];
                total += w;
            }
            uint8_t* out = work + size_t(y) * rowBytes + size_t(x) * 3u;
            for (int c = 0; c < 3; ++c) {
                const int64_t v = total > 0 ? (sum[c] + total / 2) / total : sum[c];
                out[c] = uint8_t(std::min<int64_t>(v, 255));
            }
        }
        tick(x);
    }

    for (int32_t y = 0; y < rows; ++y) {
        if (cancel != 0)
            break;
        uint8_t* const line = work + size_t(y) * rowBytes;
        std::memcpy(rowBuffer.data(), line, rowBytes);
        for (int32_t x = 0; x < cols; ++x) {
            const int32_t left = std::max(0, x - half);
            const int32_t right = std::min(x + half, cols - 1);
            int64_t sum[3] = { 0, 0, 0 };
            int64_t total = 0;
            for (int32_t i = left; i <= right; ++i) {
                const int32_t w = weights[i - x + half];
                const uint8_t* p = rowBuffer.data() + size_t(i) * 3u;
                sum[0] += int64_t(w) * p[0];
                sum[1] += int64_t(w) * p[1];
                sum[2] += int64_t(w) * p[2];
                total += w;
            }
            for (int c = 0; c < 3; ++c) {
                int64_t v = total > 0 ? (sum[c] + total / 2) / total : sum[c];
                v = std::min<int64_t>(v, 255);
                line[size_t(x) * 3u + size_t(c)] = uint8_t(curve ? toneTable[v] : v);
            }
        }
        tick(y);
    }
}

// The fast blur sums whole blocks of bytes with 16-bit multiply-adds, two taps at a time (four
// when a symmetric kernel adds each tap to its mirror first), and divides by the window's weight
// sum with an exact multiply and shift, giving exactly the bytes of the loop above.
namespace {

// Bytes summed per inner loop of the horizontal pass: the sums stay in the first-level cache
// while every weight goes over them.
constexpr int64_t kChunk = 2048;

// The window's weight sum and how to divide by it, for every cut of the kernel at an edge.
struct WindowDivision {
    int64_t total = 0;
    ExactDivider divider;
};

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

} // namespace quarvel
