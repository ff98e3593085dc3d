#include "tools/host/HostImage.h"

#include "tools/host/HostScale.h"

#include <cstring>
#include <utility>

namespace quarvel::host {

namespace {

// Samples are stored as native uint16_t; memcpy keeps the access free of aliasing questions
// and compiles to plain loads and stores.
uint16_t load16(const uint8_t* p)
{
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}

void store16(uint8_t* p, uint16_t v) { std::memcpy(p, &v, 2); }

} // namespace

HostImage toHostImage(ImageFile& file)
{
    HostImage image;
    image.width = file.width;
    image.height = file.height;
    image.planes = file.channels;
    image.bits = file.bitsPerSample;
    if (image.bits != 16) {
        image.samples = std::move(file.pixels);
        file.pixels.clear();
        return image;
    }
    image.samples.resize(file.pixels.size());
    const uint8_t* from = file.pixels.data();
    uint8_t* to = image.samples.data();
    for (size_t i = 0; i + 1 < file.pixels.size(); i += 2)
        store16(to + i, fileToHost16(load16(from + i)));
    return image;
}

void fromHostImage(HostImage& image, ImageFile& file)
{
    if (file.bitsPerSample != 16) {
        file.pixels = std::move(image.samples);
        image.samples.clear();
        return;
    }
    const size_t count = image.samples.size() / 2;
    const uint8_t* from = image.samples.data();
    // Without the file's own samples (none kept, or of another size) only the plain mapping is left.
    if (file.pixels.size() != image.samples.size()) {
        file.pixels.resize(image.samples.size());
        for (size_t i = 0; i < count; ++i)
            store16(file.pixels.data() + 2 * i, hostToFile16(load16(from + 2 * i)));
    } else {
        uint8_t* to = file.pixels.data();
        auto restore = [&](size_t begin, size_t end) {
            for (size_t i = begin; i < end; ++i)
                store16(to + 2 * i, hostToFile16(load16(from + 2 * i), load16(to + 2 * i)));
        };
        // Planes past the third are transparency, which the plug-in has no business changing:
        // they keep the file's samples as they are.
        const size_t planes = size_t(file.channels);
        if (planes <= 3)
            restore(0, count);
        else
            for (size_t pixel = 0; pixel + planes <= count; pixel += planes)
                restore(pixel, pixel + 3);
    }
    std::vector<uint8_t>().swap(image.samples);
}

} // namespace quarvel::host
