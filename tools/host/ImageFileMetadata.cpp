// EXIF for the native codecs, through exiv2: the orientation inside a block, and the move between
// a TIFF file's own directories and the block that JPEG and PNG carry.
//
// exiv2 keeps global state (its log level, the XMP toolkit), so every use goes through one lock.
#include "tools/host/ImageCodecs.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <mutex>

#include <exiv2/exiv2.hpp>

#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quarvel::host::codec {

namespace {

std::unique_lock<std::mutex> useExiv2()
{
    static std::mutex mutex;
    static std::once_flag prepared;
    std::unique_lock<std::mutex> lock(mutex);
    std::call_once(prepared, [] {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        Exiv2::XmpParser::initialize();
    });
    return lock;
}

const char* const kOrientationKey = "Exif.Image.Orientation";

// IFD 0 tags that describe how a TIFF file stores its samples, or that the image carries in
// fields of its own (profile, XMP) or cannot carry (IPTC, Photoshop's resources and layers):
// none of them belongs in a block that travels to another file.
bool describesStorage(uint16_t tag)
{
    static const uint16_t tags[] = { 0x00FE, 0x00FF, 0x0100, 0x0101, 0x0102, 0x0103, 0x0106, 0x0107, 0x0108,
        0x0109, 0x010A, 0x0111, 0x0115, 0x0116, 0x0117, 0x0118, 0x0119, 0x011C, 0x0120, 0x0121, 0x0122,
        0x0123, 0x0124, 0x0125, 0x0129, 0x013D, 0x0140, 0x0141, 0x0142, 0x0143, 0x0144, 0x0145, 0x0146,
        0x0147, 0x014A, 0x014C, 0x014D, 0x014E, 0x0150, 0x0151, 0x0152, 0x0153, 0x0154, 0x0155, 0x0156,
        0x015B, 0x0200, 0x0201, 0x0202, 0x0203, 0x0205, 0x0206, 0x0207, 0x0208, 0x0209, 0x0211, 0x0212,
        0x0213, 0x0214, 0x02BC, 0x83BB, 0x8649, 0x8773, 0x935C };
    return std::find(std::begin(tags), std::end(tags), tag) != std::end(tags);
}

// What the TIFF writer sets from the image's own fields, and so takes from nowhere else.
bool setByTiffWriter(uint16_t tag)
{
    return tag == 0x0112 || tag == 0x011A || tag == 0x011B || tag == 0x0128; // orientation, resolution
}

// IFD 0 and the directories that hang from it; not IFD 1 (a JPEG's thumbnail, a TIFF's next
// page) nor anything further down a TIFF's chain.
bool travels(const Exiv2::Exifdatum& datum)
{
    const std::string group = datum.groupName();
    if (group == "Image")
        return !describesStorage(datum.tag());
    return group == "Photo" || group == "GPSInfo" || group == "Iop" || group == "MakerNote"
        || Exiv2::ExifTags::isMakerGroup(group);
}

Exiv2::ByteOrder decodeBlock(const std::vector<uint8_t>& exif, Exiv2::ExifData& data)
{
    if (exif.empty() || exif.size() > UINT32_MAX)
        return Exiv2::invalidByteOrder;
    return Exiv2::ExifParser::decode(data, exif.data(), uint32_t(exif.size()));
}

int orientationOf(const Exiv2::ExifData& data)
{
    const auto found = data.findKey(Exiv2::ExifKey(kOrientationKey));
    if (found == data.end() || found->count() < 1)
        return 0;
    const long value = found->toLong(0);
    return value >= 1 && value <= 8 ? int(value) : 0;
}

std::vector<uint8_t> toBytes(const Exiv2::Blob& blob)
{
    return std::vector<uint8_t>(blob.begin(), blob.end());
}

// A private writable mapping of the finished file: exiv2 edits in place where it can, and those
// edits must not reach the file before the whole new content is known.
class MappedOutput {
public:
    explicit MappedOutput(int descriptor)
    {
        struct stat status { };
        if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size <= 0
            || uint64_t(status.st_size) > uint64_t(LONG_MAX))
            return;
        void* mapped
            = ::mmap(nullptr, size_t(status.st_size), PROT_READ | PROT_WRITE, MAP_PRIVATE, descriptor, 0);
        if (mapped == MAP_FAILED)
            return;
        data_ = static_cast<uint8_t*>(mapped);
        size_ = size_t(status.st_size);
    }
    ~MappedOutput()
    {
        if (data_)
            ::munmap(data_, size_);
    }
    MappedOutput(const MappedOutput&) = delete;
    MappedOutput& operator=(const MappedOutput&) = delete;
    const uint8_t* data() const { return data_; }
    size_t size() const { return size_; }

private:
    uint8_t* data_ = nullptr;
    size_t size_ = 0;
};

} // namespace

int exifOrientation(const std::vector<uint8_t>& exif)
{
    if (exif.empty())
        return 0;
    try {
        const auto lock = useExiv2();
        Exiv2::ExifData data;
        decodeBlock(exif, data);
        return orientationOf(data);
    } catch (...) {
        return 0; // a block exiv2 cannot read still travels, unread
    }
}

std::vector<uint8_t> exifForOutput(const ImageFile& image)
{
    const int orientation = image.orientation;
    if (orientation < 1 || orientation > 8 || (image.exif.empty() && orientation == 1))
        return image.exif;
    try {
        const auto lock = useExiv2();
        Exiv2::ExifData data;
        Exiv2::ByteOrder order = Exiv2::littleEndian;
        if (!image.exif.empty()) {
            order = decodeBlock(image.exif, data);
            const int stored = orientationOf(data);
            if (order == Exiv2::invalidByteOrder || stored == orientation
                || (stored == 0 && orientation == 1))
                return image.exif;
        }
        data[kOrientationKey] = uint16_t(orientation);
        // In place when the tag is already there, so the rest of the block stays byte for byte.
        std::vector<uint8_t> block = image.exif;
        Exiv2::Blob blob;
        const Exiv2::WriteMethod method
            = Exiv2::ExifParser::encode(blob, block.data(), uint32_t(block.size()), order, data);
        return method == Exiv2::wmNonIntrusive ? block : toBytes(blob);
    } catch (...) {
        return image.exif;
    }
}

std::vector<uint8_t> exifFromTiff(Bytes file)
{
    if (file.size > UINT32_MAX) // beyond what exiv2 reads; BigTIFF besides
        return {};
    try {
        const auto lock = useExiv2();
        Exiv2::ExifData all;
        const Exiv2::ByteOrder order = Exiv2::ExifParser::decode(all, file.data, uint32_t(file.size));
        if (order == Exiv2::invalidByteOrder)
            return {};
        Exiv2::ExifData kept;
        bool saysMore = false; // than the image's own fields, which the TIFF writer puts back
        for (const Exiv2::Exifdatum& datum : all) {
            if (!travels(datum))
                continue;
            kept.add(datum);
            saysMore = saysMore || datum.groupName() != "Image" || !setByTiffWriter(datum.tag());
        }
        if (!saysMore)
            return {};
        Exiv2::Blob blob;
        Exiv2::ExifParser::encode(blob, order, kept);
        return toBytes(blob);
    } catch (...) {
        return {};
    }
}

bool addExifToTiff(
    FileWriter& out, const std::vector<uint8_t>& exif, const OutputMetadata& metadata, std::string& error)
{
    if (!out.flush())
        return false;
    try {
        const auto lock = useExiv2();
        Exiv2::ExifData block;
        if (decodeBlock(exif, block) == Exiv2::invalidByteOrder) {
            metadata.drop("EXIF");
            return true;
        }
        Exiv2::ExifData added;
        for (const Exiv2::Exifdatum& datum : block) {
            if (datum.groupName() == "Thumbnail")
                metadata.drop("the EXIF thumbnail");
            if (travels(datum) && !(datum.groupName() == "Image" && setByTiffWriter(datum.tag())))
                added.add(datum);
        }
        if (added.empty())
            return true;
        MappedOutput file(out.descriptor());
        if (!file.data()) {
            metadata.drop("EXIF");
            return true;
        }
        auto tiff = Exiv2::ImageFactory::open(file.data(), long(file.size()));
        tiff->readMetadata();
        // The profile and XMP libtiff wrote stay as they are, not as exiv2 would serialise them.
        tiff->writeXmpFromPacket(true);
        for (const Exiv2::Exifdatum& datum : added)
            tiff->exifData().add(datum);
        tiff->writeMetadata();
        // Until here the file is the whole one libtiff finished; a failure above only costs the EXIF.
        Exiv2::BasicIo& io = tiff->io();
        const size_t size = size_t(io.size());
        if (!out.writeAt(0, io.mmap(), size))
            return false;
        if (::ftruncate(out.descriptor(), off_t(size)) != 0) {
            error = std::strerror(errno);
            return false;
        }
        return true;
    } catch (...) {
        metadata.drop("EXIF");
        return true;
    }
}

} // namespace quarvel::host::codec
