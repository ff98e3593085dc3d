#include "tools/host/HostImage.h"

#include "tools/host/HostScale.h"

namespace quarvel::host {

HostImage toHostImage(const ImageFile& file)
{
    HostImage image;
    image.width = file.width;
    image.height = file.height;
    image.planes = file.channels;
    image.bits = file.bitsPerSample;
    image.samples = file.pixels;
    if (image.bits == 16) {
        auto* samples = reinterpret_cast<uint16_t*>(image.samples.data());
        const size_t count = image.samples.size() / 2;
        for (size_t i = 0; i < count; ++i)
            samples[i] = fileToHost16(samples[i]);
    }
    return image;
}

void fromHostImage(const HostImage& image, ImageFile& file)
{
    file.pixels = image.samples;
    if (file.bitsPerSample == 16) {
        uint16_t* samples = file.samples16();
        const size_t count = file.pixels.size() / 2;
        for (size_t i = 0; i < count; ++i)
            samples[i] = hostToFile16(samples[i]);
    }
}

} // namespace quarvel::host
