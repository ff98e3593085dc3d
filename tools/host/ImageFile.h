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
    int channels = 0; // 3 (RGB) or 4 (RGBA, alpha straight, not premultiplied)
    int bitsPerSample = 0; // 8 or 16
    // Rows top to bottom, packed, samples interleaved R, G, B[, A]. 16-bit samples are stored
    // as native uint16_t values (two bytes each, host byte order), 0..65535.
    std::vector<uint8_t> pixels;
    // Kept from the input and written with the output where the format allows.
    std::vector<uint8_t> iccProfile;
    std::vector<uint8_t> exif; // raw EXIF block (TIFF header onwards)
    std::vector<uint8_t> xmp; // the XMP packet as stored (UTF-8 XML)
    double dpiX = 0, dpiY = 0; // 0: unknown
    // 1..8 as the TIFF Orientation tag and EXIF count it (1: rows top to bottom, columns left to
    // right); 0: the file says nothing. The pixels are kept as stored; the tag travels with them.
    int orientation = 0;
    std::vector<std::string> comments; // JPEG comment segments
    struct Text {
        std::string keyword;
        std::string text; // UTF-8 for international text, Latin-1 otherwise
        bool international = false; // iTXt, with the two fields below
        std::string language;
        std::string translatedKeyword;
    };
    std::vector<Text> texts; // PNG text chunks
    // PNG colour chunks as read; absent unless has*.
    bool hasGamma = false;
    uint32_t gamma = 0; // gAMA: 1/gamma × 100000
    bool hasChromaticities = false;
    uint32_t chromaticities[8] = {}; // cHRM: white x, y, red x, y, green x, y, blue x, y, × 100000
    int srgbIntent = -1; // sRGB rendering intent, -1: no sRGB chunk

    size_t rowBytes() const { return size_t(width) * size_t(channels) * size_t(bitsPerSample / 8); }
    uint16_t* samples16() { return reinterpret_cast<uint16_t*>(pixels.data()); }
    const uint16_t* samples16() const { return reinterpret_cast<const uint16_t*>(pixels.data()); }
};

enum class ImageFormat { Unknown, Png, Tiff, Jpeg };

// By file name extension, case-insensitive: .png; .tif/.tiff; .jpg/.jpeg.
ImageFormat formatFromPath(const std::string& path);

struct ReadLimits {
    int maxSide = 32767; // the filter record holds sizes in 16 bits
    uint64_t maxBytes = 0; // decoded samples at most; 0: what this machine can hold (the codec decides)
};

// Reads PNG, TIFF or JPEG (recognised by content, not by name). The declared size is checked
// against `limits` as soon as the header is read, before anything image-sized is allocated. Grey, grey+alpha,
// palette, CMYK and other modes are refused with a message naming the mode, for example "grey images are not
// supported: the plug-in works on RGB images". Bit depths other than 8 and 16 are refused the same way.
// Returns false and sets `error` on any failure. A pipe or other file that cannot be sought in is read whole
// into memory first. Messages say why, never which file: the caller names it.
bool readImageFile(
    const std::string& path, ImageFile& image, std::string& error, const ReadLimits& limits = {});

struct WriteOptions;

// Whether an image of this shape and metadata (the pixels need not be there) can be written in
// `format`, so that the host refuses before a run rather than after it.
bool canWriteImageFile(
    const ImageFile& image, ImageFormat format, const WriteOptions& options, std::string& error);

struct WriteOptions {
    int jpegQuality = 95; // 1..100, 4:4:4 always
    int pngCompression = -1; // zlib level 0..9; -1: the codec's default
};

// Writes `image` to exactly `path` in `format` (the caller writes to a temporary name and
// renames). JPEG takes 8-bit RGB only: alpha is refused with a message, 16-bit is refused.
// Returns false and sets `error` on failure, and then removes whatever it had written at `path`.
// What the format cannot hold of the image's metadata is named in `notCarried` (one short phrase
// each, such as "XMP" or "PNG text"), when given. The TIFF Orientation tag and the EXIF one
// follow `orientation`; JPEG comments and PNG "Comment" text stand for each other.
bool writeImageFile(const std::string& path, ImageFormat format, const ImageFile& image, std::string& error,
    const WriteOptions& options = {}, std::vector<std::string>* notCarried = nullptr);

} // namespace quarvel::host
