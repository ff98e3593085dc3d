// Arbitrary settings text over a small arbitrary image: the tone filter must finish, stay within
// its arithmetic (the sanitizers watch), and its specialised pass must give the reference bytes.
#include "settings/ParameterDocument.h"
#include "tests/fuzz/FuzzImageInput.h"
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

std::vector<uint8_t> run(const fuzz::ImageInput& in, bool reference)
{
    std::vector<uint8_t> pixels = in.pixels;
    ImageBuffer image { pixels.data(), in.rows, in.cols, kWorkChannels, kWorkBits, kOrderBGR };
    ParameterDocument document;
    document.setText(in.settings.c_str());
    document.setInt("SharpEnable", 0);
    document.setInt("SmoothEnable", 0);
    ToneFilter filter;
    filter.useReferenceKernel = reference;
    filter.analyze(image);
    if (filter.process(image, &document) != 0)
        std::abort(); // nothing asked it to stop
    return pixels;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const fuzz::ImageInput in = fuzz::splitInput(data, size, 16);
    if (run(in, false) != run(in, true))
        std::abort();
    return 0;
}
