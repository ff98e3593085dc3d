// Arbitrary bytes as a file of one format (QUARVEL_FUZZ_READER names its reader), read as the
// host reads it. Beyond not crashing, a success must hand back samples that fill the size it
// declares; a small image is then written back in its own format, metadata and all.
#include "tools/host/ImageCodecs.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include <sys/mman.h>
#include <unistd.h>

namespace {

using namespace quarvel::host;

const int output = ::memfd_create("fuzz-output", 0);

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ReadLimits limits;
    limits.maxSide = 4096;
    limits.maxBytes = uint64_t(64) << 20;
    ImageFile image;
    std::string error;
    if (!codec::QUARVEL_FUZZ_READER({ data, size }, limits, image, error)) {
        if (error.empty())
            std::abort();
        return 0;
    }
    if ((image.channels != 3 && image.channels != 4)
        || (image.bitsPerSample != 8 && image.bitsPerSample != 16)
        || image.pixels.size() != image.rowBytes() * size_t(image.height))
        std::abort();
    if (image.pixels.size() <= (size_t(64) << 10) && output >= 0) {
        const ImageFormat format = std::string(QUARVEL_FUZZ_FORMAT) == "png" ? ImageFormat::Png
            : std::string(QUARVEL_FUZZ_FORMAT) == "tiff"                     ? ImageFormat::Tiff
                                                                             : ImageFormat::Jpeg;
        std::vector<std::string> dropped;
        writeImageFile("/proc/self/fd/" + std::to_string(output), format, image, error, {}, &dropped);
    }
    return 0;
}
