// Arbitrary settings text over a small arbitrary image, through the tone filter and the detail
// stages after it: every run must finish within its arithmetic (the sanitizers watch) and give
// the same bytes twice, and the specialised tone pass must not change the detail stages' result.
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

// Settings text after a prefix that switches the stages on, so that most inputs reach them.
constexpr const char* kStagesOn
    = "ShSharpAmount=150;\r\nSmoothAmount=100;\r\nDiffuseAmount=30;\r\nGrainAmount=4;\r\n";

std::vector<uint8_t> run(const fuzz::ImageInput& in, bool reference)
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
    const fuzz::ImageInput in = fuzz::splitInput(data, size, 20, kStagesOn);
    if (run(in, false) != run(in, true))
        std::abort();
    return 0;
}
