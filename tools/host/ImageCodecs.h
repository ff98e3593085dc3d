// The native codecs behind ImageFile.h: one reader and one writer per format over libpng,
// libjpeg and libtiff, the size guard they share, and the EXIF work they hand to exiv2.
// Readers take the whole file as bytes (mapped or read from a pipe), so a fuzzer can call them
// on memory; writers stream to a descriptor and report the system's reason when it fails.
#pragma once

#include "tools/host/ImageFile.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quarvel::host::codec {

struct Bytes {
    const uint8_t* data = nullptr;
    size_t size = 0;
};

// ---- reading ---------------------------------------------------------------------------------

// `limits` with maxBytes resolved: a quarter of the machine's memory when the caller left it 0,
// since the host holds about four copies of the decoded image at its peak.
ReadLimits resolveLimits(const ReadLimits& limits);

// Whether a declared size can be taken at all: no empty image, no side beyond limits.maxSide.
bool checkSides(uint64_t width, uint64_t height, const ReadLimits& limits, std::string& error);

// The checks every reader makes once it knows the header: an empty image, a side the filter
// record cannot hold, or `decodedBytes + workingBytes` beyond the budget (working bytes: what
// the codec needs besides the image). On success the image has its shape and memory reserved
// but not a single sample, so a file that announces more than it holds costs nothing.
bool beginImage(ImageFile& image, uint64_t width, uint64_t height, int channels, int bits,
    uint64_t workingBytes, const ReadLimits& limits, std::string& error);

// Rows 0..rows-1 of the image, grown into its reserved memory as data arrives.
uint8_t* imageRows(ImageFile& image, size_t rows);

std::string modeRefused(const std::string& mode);
std::string depthRefused(unsigned bits, const char* kind = "");

bool readPng(Bytes file, const ReadLimits& limits, ImageFile& image, std::string& error);
bool readJpeg(Bytes file, const ReadLimits& limits, ImageFile& image, std::string& error);
bool readTiff(Bytes file, const ReadLimits& limits, ImageFile& image, std::string& error);

// Any of the three, recognised by content: what readImageFile does once it has the bytes.
bool readImageMemory(Bytes file, ImageFile& image, std::string& error, const ReadLimits& limits = {});

// ---- writing ---------------------------------------------------------------------------------

// A buffered writer on a descriptor it does not own. The first failure is kept with its errno
// and everything after it is dropped, so a codec can go on calling it and the caller asks once.
class FileWriter {
public:
    explicit FileWriter(int descriptor)
        : descriptor_(descriptor)
    {
    }
    FileWriter(const FileWriter&) = delete;
    FileWriter& operator=(const FileWriter&) = delete;

    void write(const void* data, size_t length);
    bool flush();
    // Direct access for libtiff, which seeks; the buffer is flushed first.
    bool writeAt(uint64_t offset, const void* data, size_t length);
    int descriptor() const { return descriptor_; }
    bool failed() const { return errorCode_ != 0; }
    std::string reason() const; // the system's words for the first failure

private:
    bool writeAll(const uint8_t* data, size_t length);
    int descriptor_;
    int errorCode_ = 0;
    std::vector<uint8_t> buffer_;
};

// What a writer puts into the file beyond the samples; `notCarried` collects what it cannot.
struct OutputMetadata {
    std::vector<uint8_t> exif; // orientation already set into it
    std::vector<std::string>* notCarried = nullptr;
    void drop(const std::string& what) const;
};

bool canWritePng(const ImageFile& image, const WriteOptions& options, std::string& error);
bool canWriteJpeg(const ImageFile& image, const std::vector<uint8_t>& exif, const WriteOptions& options,
    std::string& error);

bool writePng(FileWriter& out, const ImageFile& image, const OutputMetadata& metadata,
    const WriteOptions& options, std::string& error);
bool writeJpeg(FileWriter& out, const ImageFile& image, const OutputMetadata& metadata,
    const WriteOptions& options, std::string& error);
bool writeTiff(FileWriter& out, const ImageFile& image, const OutputMetadata& metadata, std::string& error);

// ---- EXIF, through exiv2 -------------------------------------------------------------------

// The Orientation tag of a raw EXIF block (TIFF header onwards); 0 when it has none or cannot
// be read.
int exifOrientation(const std::vector<uint8_t>& exif);

// The block to write for `image`: its own, with the Orientation tag set to image.orientation
// when that says something else (a block is made when there is none and the orientation is not
// the default). A block exiv2 cannot read is kept as it is.
std::vector<uint8_t> exifForOutput(const ImageFile& image);

// The EXIF of a TIFF file (IFD 0's descriptive tags and the EXIF, GPS and interoperability
// directories) as a block the JPEG and PNG writers can carry; empty when there is none.
std::vector<uint8_t> exifFromTiff(Bytes file);

// Adds the descriptive tags of `exif` to the finished TIFF file behind `out`, leaving the tags
// libtiff wrote (structure, orientation, resolution, profile, XMP) as they are. False with
// `error` set when the file could not be rewritten; a block that cannot be read is dropped
// (named in `metadata.notCarried`), not an error.
bool addExifToTiff(
    FileWriter& out, const std::vector<uint8_t>& exif, const OutputMetadata& metadata, std::string& error);

} // namespace quarvel::host::codec
