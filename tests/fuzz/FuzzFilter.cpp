// Arbitrary settings text over a small arbitrary image, through the tone filter alone or, with
// QUARVEL_FUZZ_DETAIL, with the detail stages after it: every run must finish within its
// arithmetic (the sanitizers watch), and the specialised passes must give the reference bytes.
// The input: two bytes of size (1..side), the pixels (short input padded with zeros), then the
// settings text up to its first zero byte.
#include "settings/ParameterDocument.h"
#include "tone/ToneFilter.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace quarvel;

#ifdef QUARVEL_FUZZ_DETAIL
constexpr int kMaxSide = 20;
// A prefix that switches the stages on, so that most inputs reach them.
constexpr const char* kPrefix
    = "ShSharpAmount=150;\r\nSmoothAmount=100;\r\nDiffuseAmount=30;\r\nGrainAmount=4;\r\n";
#else
constexpr int kMaxSide = 16;
constexpr const char* kPrefix = "";
#endif

std::vector<uint8_t> run(
    std::vector<uint8_t> pixels, int32_t rows, int32_t cols, const std::string& settings, bool reference)
{
    ImageBuffer image { pixels.data(), rows, cols, kWorkChannels, kWorkBits, kOrderBGR };
    ParameterDocument document;
    document.setText(settings.c_str());
#ifndef QUARVEL_FUZZ_DETAIL
    document.setInt("SharpEnable", 0);
    document.setInt("SmoothEnable", 0);
#endif
    ToneFilter filter;
    filter.useReferenceKernel = reference;
    filter.analyze(image);
    if (filter.process(image, &document) != 0)
        std::abort(); // nothing asked it to stop
    return pixels;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Grain from the clock would differ between the two runs of one input.
    setenv("QUARVEL_GRAIN_SEED", "4242", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    int32_t rows = 1, cols = 1;
    if (size >= 2) {
        rows = 1 + data[0] % kMaxSide;
        cols = 1 + data[1] % kMaxSide;
        data += 2;
        size -= 2;
    }
    std::vector<uint8_t> pixels(size_t(rows) * size_t(cols) * 4, 0);
    const size_t taken = std::min(size, pixels.size());
    std::copy(data, data + taken, pixels.begin());
    std::string settings = kPrefix;
    settings.append(reinterpret_cast<const char*>(data + taken), size - taken);
    settings.erase(std::find(settings.begin(), settings.end(), '\0'), settings.end());
    if (run(pixels, rows, cols, settings, false) != run(pixels, rows, cols, settings, true))
        std::abort();
    return 0;
}
