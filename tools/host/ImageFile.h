// Image files as the command-line host sees them: decoded into interleaved samples at the
// file's own scale (0..255 or 0..65535), with what must survive a round trip kept beside them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quarvel::host {

struct ImageFile {
    int width = 0;
    int height = 0;
    int channels = 0;      // 3 (RGB) or 4 (RGBA, alpha straight, not premultiplied)
    int bitsPerSample = 0; // 8 or 16
    // Rows top to bottom, packed, samples interleaved R, G, B[, A]. 16-bit samples are stored
    // as native uint16_t values (two bytes each, host byte order), 0..65535.
    std::vector<uint8_t> pixels;
    // Kept from the input and written with the output where the format allows.
    std::vector<uint8_t> iccProfile;
    std::vector<uint8_t> exif; // raw EXIF block (TIFF header onwards), JPEG and PNG only
    double dpiX = 0, dpiY = 0; // 0: unknown

    size_t rowBytes() const { return size_t(width) * size_t(channels) * size_t(bitsPerSample / 8); }
    uint16_t* samples16() { return reinterpret_cast<uint16_t*>(pixels.data()); }
    const uint16_t* samples16() const { return reinterpret_cast<const uint16_t*>(pixels.data()); }
};

enum class ImageFormat { Unknown, Png, Tiff, Jpeg };

// By file name extension, case-insensitive: .png; .tif/.tiff; .jpg/.jpeg.
ImageFormat formatFromPath(const std::string& path);

// Reads PNG, TIFF or JPEG (recognised by content, not by name). Grey, grey+alpha, palette,
// CMYK and other modes are refused with a message naming the mode, for example
// "grey images are not supported: the plug-in works on RGB images". Bit depths other than 8
// and 16 are refused the same way. Returns false and sets `error` on any failure.
bool readImageFile(const std::string& path, ImageFile& image, std::string& error);

// Writes `image` to exactly `path` in `format` (the caller writes to a temporary name and
// renames). JPEG takes 8-bit RGB only: alpha is refused with a message, 16-bit is refused.
// JPEG quality 95, 4:4:4. Returns false and sets `error` on failure, and then removes
// whatever it had written at `path`.
bool writeImageFile(const std::string& path, ImageFormat format, const ImageFile& image,
                    std::string& error);

} // namespace quarvel::host
