#include "detail/BlurBuilder.h"

#include "core/ToneCurve.h"
#include "detail/DetailFilter.h"

#include <algorithm>
#include <cmath>
#include <cstring>

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

} // namespace quarvel
