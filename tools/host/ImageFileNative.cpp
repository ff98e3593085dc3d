// Image files for the native host: where the bytes come from and go to, the size guard every
// reader passes, and the choice of codec. The codecs themselves are one file per format.
#include "tools/host/ImageCodecs.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quarvel::host {

namespace codec {

ReadLimits resolveLimits(const ReadLimits& limits)
{
    ReadLimits resolved = limits;
    if (resolved.maxBytes == 0) {
        const long pages = ::sysconf(_SC_PHYS_PAGES);
        const long pageSize = ::sysconf(_SC_PAGE_SIZE);
        resolved.maxBytes
            = pages > 0 && pageSize > 0 ? uint64_t(pages) * uint64_t(pageSize) / 4 : uint64_t(1) << 30;
    }
    return resolved;
}

namespace {

std::string gigabytes(uint64_t bytes)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f GB", double(bytes) / 1e9);
    return text;
}

std::string pixelSize(uint64_t width, uint64_t height)
{
    return "(" + std::to_string(width) + " x " + std::to_string(height) + " pixels)";
}

} // namespace

bool checkSides(uint64_t width, uint64_t height, const ReadLimits& limits, std::string& error)
{
    if (width == 0 || height == 0) {
        error = "the file holds an empty image " + pixelSize(width, height);
        return false;
    }
    const uint64_t maxSide = uint64_t(std::max(limits.maxSide, 1));
    if (width > maxSide || height > maxSide) {
        error = "the image is too large " + pixelSize(width, height) + ": a filter plug-in takes at most "
            + std::to_string(maxSide) + " pixels on a side";
        return false;
    }
    return true;
}

bool beginImage(ImageFile& image, uint64_t width, uint64_t height, int channels, int bits,
    uint64_t workingBytes, const ReadLimits& limits, std::string& error)
{
    if (!checkSides(width, height, limits, error))
        return false;
    const std::string size = pixelSize(width, height);
    const ReadLimits resolved = resolveLimits(limits);
    const uint64_t sampleBytes = uint64_t(channels) * uint64_t(bits / 8);
    // Sides are at most 2^31, so the product of the two cannot overflow; the rest is checked by division.
    const uint64_t pixels = width * height;
    const bool tooMany = pixels > resolved.maxBytes / sampleBytes;
    const uint64_t decoded = tooMany ? 0 : pixels * sampleBytes;
    if (tooMany || workingBytes > resolved.maxBytes - decoded) {
        const double need = double(pixels) * double(sampleBytes) + double(workingBytes);
        error = "the image is too large " + size + ": decoding it would take " + gigabytes(uint64_t(need))
            + ", more than the " + gigabytes(resolved.maxBytes)
            + (limits.maxBytes ? " allowed" : " this machine can spare for one image");
        return false;
    }
    image.width = int(width);
    image.height = int(height);
    image.channels = channels;
    image.bitsPerSample = bits;
    // Reserved, not filled: the pages are touched only as rows arrive.
    std::vector<uint8_t>().swap(image.pixels);
    image.pixels.reserve(size_t(decoded));
    return true;
}

uint8_t* imageRows(ImageFile& image, size_t rows)
{
    const size_t needed = std::min(rows, size_t(image.height)) * image.rowBytes();
    if (image.pixels.size() < needed)
        image.pixels.resize(needed);
    return image.pixels.data();
}

std::string modeRefused(const std::string& mode)
{
    return mode + " images are not supported: the plug-in works on RGB images";
}

std::string depthRefused(unsigned bits, const char* kind)
{
    return std::to_string(bits) + "-bit " + kind
        + "images are not supported: the plug-in works on 8- and 16-bit RGB images";
}

void OutputMetadata::drop(const std::string& what) const
{
    if (notCarried && std::find(notCarried->begin(), notCarried->end(), what) == notCarried->end())
        notCarried->push_back(what);
}

// ---- FileWriter ------------------------------------------------------------------------------

namespace {
constexpr size_t kWriteBuffer = size_t(256) << 10;
}

bool FileWriter::writeAll(const uint8_t* data, size_t length)
{
    while (length > 0 && !errorCode_) {
        const ssize_t written = ::write(descriptor_, data, length);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            errorCode_ = written < 0 ? errno : EIO;
            break;
        }
        data += written;
        length -= size_t(written);
    }
    return !errorCode_;
}

void FileWriter::write(const void* data, size_t length)
{
    if (errorCode_)
        return;
    const auto* bytes = static_cast<const uint8_t*>(data);
    if (buffer_.size() + length > kWriteBuffer) {
        flush();
        if (length >= kWriteBuffer) {
            writeAll(bytes, length);
            return;
        }
    }
    if (buffer_.capacity() < kWriteBuffer)
        buffer_.reserve(kWriteBuffer);
    buffer_.insert(buffer_.end(), bytes, bytes + length);
}

bool FileWriter::flush()
{
    if (!buffer_.empty()) {
        writeAll(buffer_.data(), buffer_.size());
        buffer_.clear();
    }
    return !errorCode_;
}

bool FileWriter::writeAt(uint64_t offset, const void* data, size_t length)
{
    if (!flush())
        return false;
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (length > 0) {
        const ssize_t written = ::pwrite(descriptor_, bytes, length, off_t(offset));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            errorCode_ = written < 0 ? errno : EIO;
            return false;
        }
        bytes += written;
        offset += uint64_t(written);
        length -= size_t(written);
    }
    return true;
}

std::string FileWriter::reason() const { return std::strerror(errorCode_); }

} // namespace codec

namespace {

using codec::Bytes;

enum class Magic { Unknown, Png, Tiff, Jpeg };

Magic sniff(const uint8_t* head, size_t length)
{
    static const uint8_t png[8] = { 0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n' };
    if (length >= 8 && std::memcmp(head, png, 8) == 0)
        return Magic::Png;
    if (length >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF)
        return Magic::Jpeg;
    // Classic TIFF (42) or BigTIFF (43), either byte order.
    if (length >= 4
        && ((head[0] == 'I' && head[1] == 'I' && (head[2] == 42 || head[2] == 43) && head[3] == 0)
            || (head[0] == 'M' && head[1] == 'M' && head[2] == 0 && (head[3] == 42 || head[3] == 43))))
        return Magic::Tiff;
    return Magic::Unknown;
}

const char* const kNotAnImage = "not a PNG, TIFF or JPEG file";

std::string cannot(const char* what, int code)
{
    return std::string("cannot ") + what + " the file: " + std::strerror(code);
}

// The whole input as bytes: a regular file is mapped (its pages are read as the codec gets to
// them, and cost no memory of ours); a pipe or device is read to its end, since the codecs need
// to look back, but no further than the budget and only while it looks like an image.
class InputFile {
public:
    ~InputFile()
    {
        if (mapped_)
            ::munmap(mapped_, size_);
        if (descriptor_ >= 0)
            ::close(descriptor_);
    }

    bool open(const std::string& path, uint64_t maxBytes, std::string& error)
    {
        descriptor_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        struct stat status { };
        if (descriptor_ < 0 || ::fstat(descriptor_, &status) != 0) {
            error = cannot("open", errno);
            return false;
        }
        if (S_ISDIR(status.st_mode)) {
            error = cannot("open", EISDIR);
            return false;
        }
        // A file changed under a mapping can fault, but only by being truncated while we read
        // it; replacing it by renaming, as this host does, leaves the mapped pages alone.
        if (S_ISREG(status.st_mode) && status.st_size > 0) {
            void* mapped = ::mmap(nullptr, size_t(status.st_size), PROT_READ, MAP_PRIVATE, descriptor_, 0);
            if (mapped != MAP_FAILED) {
                mapped_ = mapped;
                size_ = size_t(status.st_size);
                return true;
            }
        }
        return readAll(maxBytes, error);
    }

    Bytes bytes() const
    {
        return mapped_ ? Bytes { static_cast<const uint8_t*>(mapped_), size_ }
                       : Bytes { buffer_.data(), buffer_.size() };
    }

private:
    bool readAll(uint64_t maxBytes, std::string& error)
    {
        size_t chunk = 64 << 10;
        for (;;) {
            if (buffer_.size() >= 8 && sniff(buffer_.data(), buffer_.size()) == Magic::Unknown)
                return true; // the caller says what it is not
            if (buffer_.size() > maxBytes) {
                error = "the input is larger than the " + std::to_string(maxBytes >> 20)
                    + " MB that may be read from a pipe";
                return false;
            }
            const size_t used = buffer_.size();
            buffer_.resize(used + chunk);
            const ssize_t got = ::read(descriptor_, buffer_.data() + used, chunk);
            if (got < 0 && errno == EINTR) {
                buffer_.resize(used);
                continue;
            }
            if (got < 0) {
                const int code = errno;
                buffer_.resize(used);
                error = cannot("read", code);
                return false;
            }
            buffer_.resize(used + size_t(got));
            if (got == 0)
                return true;
            chunk = std::min<size_t>(chunk * 2, size_t(16) << 20);
        }
    }

    int descriptor_ = -1;
    void* mapped_ = nullptr;
    size_t size_ = 0;
    std::vector<uint8_t> buffer_;
};

bool checkShape(const ImageFile& image, std::string& error)
{
    if (image.width <= 0 || image.height <= 0) {
        error = "the image is empty";
        return false;
    }
    if (image.channels != 3 && image.channels != 4) {
        error
            = "only RGB and RGBA images can be written, not " + std::to_string(image.channels) + " channels";
        return false;
    }
    if (image.bitsPerSample != 8 && image.bitsPerSample != 16) {
        error = codec::depthRefused(unsigned(image.bitsPerSample));
        return false;
    }
    return true;
}

} // namespace

namespace codec {

// The memory entry, for input that is not a file and for the fuzzers.
bool readImageMemory(Bytes file, ImageFile& image, std::string& error, const ReadLimits& limits)
{
    try {
        ImageFile decoded;
        bool done = false;
        switch (sniff(file.data, file.size)) {
        case Magic::Png:
            done = readPng(file, limits, decoded, error);
            break;
        case Magic::Jpeg:
            done = readJpeg(file, limits, decoded, error);
            break;
        case Magic::Tiff:
            done = readTiff(file, limits, decoded, error);
            break;
        case Magic::Unknown:
            error = kNotAnImage;
            return false;
        }
        if (!done)
            return false;
        image = std::move(decoded);
        return true;
    } catch (const std::bad_alloc&) {
        error = "not enough memory to read the image";
        return false;
    }
}

} // namespace codec

bool readImageFile(const std::string& path, ImageFile& image, std::string& error, const ReadLimits& limits)
{
    try {
        InputFile input;
        if (!input.open(path, codec::resolveLimits(limits).maxBytes, error))
            return false;
        return codec::readImageMemory(input.bytes(), image, error, limits);
    } catch (const std::bad_alloc&) {
        error = "not enough memory to read the image";
        return false;
    }
}

bool canWriteImageFile(
    const ImageFile& image, ImageFormat format, const WriteOptions& options, std::string& error)
{
    if (!checkShape(image, error))
        return false;
    try {
        switch (format) {
        case ImageFormat::Png:
            return codec::canWritePng(image, options, error);
        case ImageFormat::Jpeg:
            return codec::canWriteJpeg(image, codec::exifForOutput(image), options, error);
        case ImageFormat::Tiff:
            return true;
        case ImageFormat::Unknown:
            break;
        }
    } catch (const std::bad_alloc&) {
        error = "not enough memory";
        return false;
    }
    error = "no output format was given";
    return false;
}

bool writeImageFile(const std::string& path, ImageFormat format, const ImageFile& image, std::string& error,
    const WriteOptions& options, std::vector<std::string>* notCarried)
{
    // Refused before the file is created, so a refusal leaves nothing behind at all.
    if (!canWriteImageFile(image, format, options, error))
        return false;
    const uint64_t expected = uint64_t(image.rowBytes()) * uint64_t(image.height);
    if (uint64_t(image.pixels.size()) != expected) {
        error = "the image holds " + std::to_string(image.pixels.size()) + " bytes of samples, not the "
            + std::to_string(expected) + " its size needs";
        return false;
    }
    const int descriptor = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (descriptor < 0) {
        error = cannot("create", errno);
        return false;
    }
    // What is cleaned up after a failure is our own file, never a device or pipe named by the user.
    struct stat status { };
    const bool regularFile = ::fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode);
    std::vector<std::string> dropped;
    std::string reason;
    bool done = false;
    codec::FileWriter out(descriptor);
    try {
        codec::OutputMetadata metadata;
        metadata.notCarried = &dropped;
        metadata.exif = codec::exifForOutput(image);
        switch (format) {
        case ImageFormat::Png:
            done = codec::writePng(out, image, metadata, options, reason);
            break;
        case ImageFormat::Jpeg:
            done = codec::writeJpeg(out, image, metadata, options, reason);
            break;
        case ImageFormat::Tiff:
            done = codec::writeTiff(out, image, metadata, reason);
            break;
        case ImageFormat::Unknown:
            break;
        }
        done = out.flush() && done;
    } catch (const std::bad_alloc&) {
        done = false;
        reason = "not enough memory";
    }
    // A codec that stopped because the file could not take its bytes only knows that it stopped.
    if (out.failed())
        reason = out.reason();
    if (::close(descriptor) != 0 && done) {
        done = false;
        reason = std::strerror(errno);
    }
    if (!done) {
        if (regularFile)
            std::remove(path.c_str());
        error = "cannot write the file: " + reason;
        return false;
    }
    if (notCarried)
        notCarried->insert(notCarried->end(), dropped.begin(), dropped.end());
    return true;
}

} // namespace quarvel::host
