// Arbitrary settings text over a small arbitrary image, through the tone filter and the detail
// stages after it: every run must finish within its arithmetic (the sanitizers watch) and give
// the same bytes twice, and the specialised tone pass must not change the detail stages' result.
#include "settings/ParameterDocument.h"
#include "tone/ToneFilter.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace quarvel;

// Bytes 0 and 1: rows and columns (1..20); then the pixels (4 bytes each, short input padded
// with zeros); the rest is the settings text, after a prefix that switches the stages on so
// that most inputs reach them.
struct Input {
    int32_t rows = 1;
    int32_t cols = 1;
    std::vector<uint8_t> pixels;
    std::string settings;
};

Input split(const uint8_t* data, size_t size)
{
    Input in;
    if (size >= 2) {
        in.rows = 1 + data[0] % 20;
        in.cols = 1 + data[1] % 20;
        data += 2;
        size -= 2;
    }
    const size_t bytes = size_t(in.rows) * size_t(in.cols) * 4;
    in.pixels.assign(bytes, 0);
    const size_t taken = size < bytes ? size : bytes;
    if (taken)
        std::memcpy(in.pixels.data(), data, taken);
    in.settings = "ShSharpAmount\t150\r\nSmoothAmount\t100\r\nDiffuseAmount\t30\r\nGrainAmount\t4\r\n";
    in.settings.append(reinterpret_cast<const char*>(data + taken), size - taken);
    in.settings.erase(std::find(in.settings.begin(), in.settings.end(), '\0'), in.settings.end());
    return in;
}

std::vector<uint8_t> run(const Input& in, bool reference)
{
    std::vector<uint8_t> pixels = in.pixels;
    ImageBuffer image { pixels.data(), in.rows, in.cols, kWorkChannels, kWorkBits, kOrderBGR };
    ParameterDocument document;
    document.setText(in.settings.c_str());
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
    const Input in = split(data, size);
    if (run(in, false) != run(in, true))
        std::abort();
    return 0;
}
