// TIFF through libtiff, read from memory and written through our own writer, so that libtiff
// never opens a file by name and every failure keeps the system's reason.
#include "tools/host/ImageCodecs.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>

#include <tiffio.h>
#include <unistd.h>

namespace quarvel::host::codec {

namespace {

// libtiff's handlers are given per file, so nothing is printed and nothing global is touched.
class TiffFile {
public:
    TiffFile() = default;
    TiffFile(const TiffFile&) = delete;
    TiffFile& operator=(const TiffFile&) = delete;
    ~TiffFile() { close(); }

    bool open(const char* mode, thandle_t handle, TIFFReadWriteProc read, TIFFReadWriteProc write,
        TIFFSeekProc seek, TIFFSizeProc size, TIFFMapFileProc map, uint64_t maxAllocation)
    {
        TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
        if (!options) {
            std::snprintf(message, sizeof message, "out of memory");
            failed = true;
            return false;
        }
        TIFFOpenOptionsSetErrorHandlerExtR(options, onError, this);
        TIFFOpenOptionsSetWarningHandlerExtR(options, onWarning, this);
        if (maxAllocation)
            TIFFOpenOptionsSetMaxSingleMemAlloc(
                options, tmsize_t(std::min<uint64_t>(maxAllocation, INT64_MAX)));
        tif = TIFFClientOpenExt(
            "TIFF", mode, handle, read, write, seek, closeNothing, size, map, unmapNothing, options);
        TIFFOpenOptionsFree(options);
        return tif != nullptr;
    }
    void close()
    {
        if (tif)
            TIFFClose(tif);
        tif = nullptr;
    }

    TIFF* tif = nullptr;
    bool failed = false;
    char message[512] = {};

private:
    static int onError(TIFF*, void* user, const char*, const char* format, va_list arguments)
    {
        auto* self = static_cast<TiffFile*>(user);
        // The first complaint names the cause; later ones are its consequences.
        if (!self->failed)
            std::vsnprintf(self->message, sizeof self->message, format, arguments);
        self->failed = true;
        return 1;
    }
    static int onWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }
    static int closeNothing(thandle_t) { return 0; }
    static void unmapNothing(thandle_t, void*, toff_t) { }
};

// ---- the file as libtiff sees it -----------------------------------------------------------

struct Cursor {
    uint64_t position = 0;
    uint64_t size = 0;

    toff_t seek(toff_t offset, int whence)
    {
        const uint64_t base = whence == SEEK_CUR ? position : whence == SEEK_END ? size : 0;
        if (whence != SEEK_SET && whence != SEEK_CUR && whence != SEEK_END)
            return toff_t(-1);
        position = base + offset;
        return position;
    }
};

struct MemoryFile {
    Bytes file;
    Cursor cursor;

    static tmsize_t read(thandle_t handle, void* into, tmsize_t length)
    {
        auto* self = static_cast<MemoryFile*>(handle);
        if (length <= 0 || self->cursor.position >= self->file.size)
            return 0;
        const size_t count
            = std::min<size_t>(size_t(length), self->file.size - size_t(self->cursor.position));
        std::memcpy(into, self->file.data + self->cursor.position, count);
        self->cursor.position += count;
        return tmsize_t(count);
    }
    static tmsize_t write(thandle_t, void*, tmsize_t) { return -1; }
    static toff_t seek(thandle_t handle, toff_t offset, int whence)
    {
        return static_cast<MemoryFile*>(handle)->cursor.seek(offset, whence);
    }
    static toff_t size(thandle_t handle) { return static_cast<MemoryFile*>(handle)->file.size; }
    // Strips are decoded straight from the caller's bytes.
    static int map(thandle_t handle, void** base, toff_t* size)
    {
        auto* self = static_cast<MemoryFile*>(handle);
        *base = const_cast<uint8_t*>(self->file.data);
        *size = self->file.size;
        return 1;
    }
};

struct OutputFile {
    FileWriter* out = nullptr;
    Cursor cursor;

    static tmsize_t read(thandle_t handle, void* into, tmsize_t length)
    {
        auto* self = static_cast<OutputFile*>(handle);
        if (length <= 0 || !self->out->flush())
            return 0;
        const ssize_t got
            = ::pread(self->out->descriptor(), into, size_t(length), off_t(self->cursor.position));
        if (got > 0)
            self->cursor.position += uint64_t(got);
        return got < 0 ? -1 : tmsize_t(got);
    }
    static tmsize_t write(thandle_t handle, void* data, tmsize_t length)
    {
        auto* self = static_cast<OutputFile*>(handle);
        if (length < 0 || !self->out->writeAt(self->cursor.position, data, size_t(length)))
            return -1;
        self->cursor.position += uint64_t(length);
        self->cursor.size = std::max(self->cursor.size, self->cursor.position);
        return length;
    }
    static toff_t seek(thandle_t handle, toff_t offset, int whence)
    {
        return static_cast<OutputFile*>(handle)->cursor.seek(offset, whence);
    }
    static toff_t size(thandle_t handle) { return static_cast<OutputFile*>(handle)->cursor.size; }
    static int map(thandle_t, void**, toff_t*) { return 0; }
};

// ---- reading ---------------------------------------------------------------------------------

std::string photometricName(uint16_t photometric)
{
    switch (photometric) {
    case PHOTOMETRIC_MINISWHITE:
    case PHOTOMETRIC_MINISBLACK:
        return "grey";
    case PHOTOMETRIC_PALETTE:
        return "palette";
    case PHOTOMETRIC_SEPARATED:
        return "CMYK";
    case PHOTOMETRIC_MASK:
        return "transparency-mask";
    case PHOTOMETRIC_YCBCR:
        return "YCbCr (other than JPEG-compressed)";
    case PHOTOMETRIC_CIELAB:
    case PHOTOMETRIC_ICCLAB:
    case PHOTOMETRIC_ITULAB:
        return "CIE L*a*b*";
    case PHOTOMETRIC_LOGL:
        return "LogL";
    case PHOTOMETRIC_LOGLUV:
        return "LogLuv";
    case PHOTOMETRIC_CFA:
        return "colour filter array (raw)";
    default:
        return "TIFF photometric interpretation " + std::to_string(photometric);
    }
}

std::string tiffDamage(const TiffFile& file, const char* fallback)
{
    return std::string("damaged or incomplete TIFF file: ") + (file.failed ? file.message : fallback);
}

// How the file lays out its samples, and where they go in the image.
struct TiffLayout {
    uint32_t width = 0, height = 0;
    unsigned samplesPerPixel = 0; // in the file, extra samples included
    unsigned channels = 0; // kept: 3, or 4 with the first extra sample as alpha
    unsigned bytesPerSample = 0;
    bool planar = false;

    unsigned blockSamples() const { return planar ? 1 : samplesPerPixel; }
    unsigned planes() const { return planar ? channels : 1; }
    // Rows can be decoded straight into the image when the file stores exactly what it keeps.
    bool direct() const { return !planar && samplesPerPixel == channels; }
};

// Copies a decoded strip, row or tile whose top left pixel is (x0, y0), clipped to the image. For
// planar data the block holds one sample per pixel and `plane` says which.
void placeBlock(const TiffLayout& layout, const uint8_t* block, size_t blockRowBytes, uint32_t x0,
    uint32_t y0, uint32_t blockWidth, uint32_t blockHeight, unsigned plane, ImageFile& image)
{
    const uint32_t width = std::min(blockWidth, layout.width - x0);
    const uint32_t height = std::min(blockHeight, layout.height - y0);
    const size_t sample = layout.bytesPerSample;
    const size_t sourceStep = layout.blockSamples() * sample;
    const size_t destStep = layout.channels * sample;
    const size_t copied = layout.planar ? sample : destStep;
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* from = block + size_t(y) * blockRowBytes;
        uint8_t* to = image.pixels.data() + size_t(y0 + y) * image.rowBytes() + size_t(x0) * destStep
            + (layout.planar ? plane * sample : 0);
        if (sourceStep == destStep && copied == destStep) {
            std::memcpy(to, from, size_t(width) * destStep);
            continue;
        }
        for (uint32_t x = 0; x < width; ++x, from += sourceStep, to += destStep)
            std::memcpy(to, from, copied);
    }
}

// Whole strips decode fastest (libtiff hands a whole deflate strip to libdeflate), but the
// image grows before a strip's data has decoded; a strip larger than this goes row by row, so
// that a file cannot make us fill gigabytes that its data never reaches.
constexpr uint64_t kWholeStripBytes = uint64_t(16) << 20;

uint32_t rowsPerStrip(TIFF* tif, uint32_t height)
{
    uint32_t rows = height;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rows);
    return std::clamp<uint32_t>(rows, 1, height);
}

bool readTiffStrips(
    TiffFile& file, const TiffLayout& layout, uint64_t rowBytes, ImageFile& image, std::string& error)
{
    TIFF* tif = file.tif;
    const uint32_t stripRows = rowsPerStrip(tif, layout.height);
    std::unique_ptr<uint8_t[]> strip(layout.direct() ? nullptr : new uint8_t[size_t(rowBytes * stripRows)]);
    for (unsigned plane = 0; plane < layout.planes(); ++plane) {
        for (uint32_t row = 0; row < layout.height; row += stripRows) {
            const uint32_t rows = std::min(stripRows, layout.height - row);
            uint8_t* into = imageRows(image, size_t(row) + rows) + size_t(row) * image.rowBytes();
            if (strip)
                into = strip.get();
            const tmsize_t wanted = tmsize_t(rowBytes * rows);
            if (TIFFReadEncodedStrip(tif, TIFFComputeStrip(tif, row, uint16_t(plane)), into, wanted)
                != wanted) {
                error = tiffDamage(file, "a strip of image data is missing or short");
                return false;
            }
            if (strip)
                placeBlock(layout, strip.get(), size_t(rowBytes), 0, row, layout.width, rows, plane, image);
        }
    }
    return true;
}

bool readTiffRows(
    TiffFile& file, const TiffLayout& layout, uint64_t rowBytes, ImageFile& image, std::string& error)
{
    TIFF* tif = file.tif;
    std::unique_ptr<uint8_t[]> row(layout.direct() ? nullptr : new uint8_t[size_t(rowBytes)]);
    for (unsigned plane = 0; plane < layout.planes(); ++plane) {
        for (uint32_t y = 0; y < layout.height; ++y) {
            uint8_t* into = imageRows(image, size_t(y) + 1) + size_t(y) * image.rowBytes();
            if (row)
                into = row.get();
            if (TIFFReadScanline(tif, into, y, uint16_t(plane)) < 0) {
                error = tiffDamage(file, "a row of image data is missing or short");
                return false;
            }
            if (row)
                placeBlock(layout, row.get(), size_t(rowBytes), 0, y, layout.width, 1, plane, image);
        }
    }
    return true;
}

bool readTiffTiles(TiffFile& file, const TiffLayout& layout, uint32_t tileWidth, uint32_t tileHeight,
    ImageFile& image, std::string& error)
{
    TIFF* tif = file.tif;
    const uint64_t rowBytes = uint64_t(tileWidth) * layout.blockSamples() * layout.bytesPerSample;
    const uint64_t tileBytes = rowBytes * tileHeight;
    std::unique_ptr<uint8_t[]> tile(new uint8_t[size_t(tileBytes)]);
    for (unsigned plane = 0; plane < layout.planes(); ++plane) {
        for (uint32_t y = 0; y < layout.height; y += std::min(tileHeight, layout.height - y)) {
            for (uint32_t x = 0; x < layout.width; x += std::min(tileWidth, layout.width - x)) {
                const uint32_t index = TIFFComputeTile(tif, x, y, 0, uint16_t(plane));
                if (TIFFReadEncodedTile(tif, index, tile.get(), tmsize_t(tileBytes)) != tmsize_t(tileBytes)) {
                    error = tiffDamage(file, "a tile of image data is missing or short");
                    return false;
                }
                imageRows(image, size_t(y) + tileHeight);
                placeBlock(layout, tile.get(), size_t(rowBytes), x, y, tileWidth, tileHeight, plane, image);
            }
        }
    }
    return true;
}

// Straight alpha is what the plug-in sees, so associated colour is divided back out.
template <typename Sample> void unpremultiply(Sample* samples, size_t pixelCount, uint32_t maxValue)
{
    for (size_t i = 0; i < pixelCount; ++i, samples += 4) {
        const uint32_t alpha = samples[3];
        if (alpha == maxValue)
            continue;
        for (int c = 0; c < 3; ++c) {
            const uint32_t straight = alpha == 0 ? 0 : (samples[c] * maxValue + alpha / 2) / alpha;
            samples[c] = Sample(std::min(straight, maxValue));
        }
    }
}

// Reduced-resolution copies (a thumbnail first, a pyramid after) and transparency masks go with
// an image; a second full-resolution directory is a second page, which a single output would lose.
bool choosePage(TiffFile& file, std::string& error)
{
    TIFF* tif = file.tif;
    tdir_t index = 0, chosen = 0;
    unsigned pages = 0;
    for (;;) {
        uint32_t subfileType = 0;
        TIFFGetField(tif, TIFFTAG_SUBFILETYPE, &subfileType);
        if ((subfileType & (FILETYPE_REDUCEDIMAGE | FILETYPE_MASK)) == 0 && pages++ == 0)
            chosen = index;
        if (!TIFFReadDirectory(tif))
            break;
        ++index;
    }
    if (file.failed) {
        error = tiffDamage(file, "a directory cannot be read");
        return false;
    }
    if (pages > 1) {
        error = "the TIFF file holds " + std::to_string(pages)
            + " pages: only single-page files can be run, so that no page is lost";
        return false;
    }
    if (!TIFFSetDirectory(tif, chosen)) {
        error = tiffDamage(file, "its image directory cannot be read");
        return false;
    }
    return true;
}

void readTiffMetadata(TIFF* tif, Bytes bytes, ImageFile& image)
{
    uint32_t length = 0;
    void* data = nullptr;
    if (TIFFGetField(tif, TIFFTAG_ICCPROFILE, &length, &data) && data) {
        const auto* profile = static_cast<const uint8_t*>(data);
        image.iccProfile.assign(profile, profile + length);
    }
    length = 0;
    data = nullptr;
    if (TIFFGetField(tif, TIFFTAG_XMLPACKET, &length, &data) && data) {
        const auto* packet = static_cast<const uint8_t*>(data);
        image.xmp.assign(packet, packet + length);
    }
    uint16_t orientation = 0;
    if (TIFFGetField(tif, TIFFTAG_ORIENTATION, &orientation) && orientation >= 1 && orientation <= 8)
        image.orientation = orientation;
    float resX = 0, resY = 0;
    uint16_t unit = RESUNIT_INCH;
    TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
    if (TIFFGetField(tif, TIFFTAG_XRESOLUTION, &resX) && TIFFGetField(tif, TIFFTAG_YRESOLUTION, &resY)
        && std::isfinite(resX) && std::isfinite(resY) && resX > 0 && resY > 0) {
        const double perInch = unit == RESUNIT_INCH ? 1.0 : unit == RESUNIT_CENTIMETER ? 2.54 : 0.0;
        image.dpiX = resX * perInch;
        image.dpiY = resY * perInch;
    }
    image.exif = exifFromTiff(bytes);
}

} // namespace

bool readTiff(Bytes bytes, const ReadLimits& limits, ImageFile& image, std::string& error)
{
    MemoryFile memory;
    memory.file = bytes;
    memory.cursor.size = bytes.size;
    TiffFile file;
    if (!file.open("r", &memory, MemoryFile::read, MemoryFile::write, MemoryFile::seek, MemoryFile::size,
            MemoryFile::map, resolveLimits(limits).maxBytes)) {
        error = tiffDamage(file, "libtiff cannot read it");
        return false;
    }
    if (!choosePage(file, error))
        return false;
    TIFF* tif = file.tif;
    uint32_t width = 0, height = 0;
    uint16_t samplesPerPixel = 1, bits = 1, planar = PLANARCONFIG_CONTIG, format = SAMPLEFORMAT_UINT;
    uint16_t photometric = 0, compression = COMPRESSION_NONE;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samplesPerPixel);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &format);
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    if (!checkSides(width, height, limits, error))
        return false;
    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric)) {
        error = "the TIFF file does not say what its samples mean (no photometric interpretation)";
        return false;
    }
    if (photometric == PHOTOMETRIC_YCBCR && compression == COMPRESSION_JPEG) {
        // The JPEG codec converts and upsamples for us.
        TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    } else if (photometric != PHOTOMETRIC_RGB) {
        error = modeRefused(photometricName(photometric));
        return false;
    }
    if (format != SAMPLEFORMAT_UINT) {
        error = depthRefused(bits, format == SAMPLEFORMAT_IEEEFP ? "floating-point " : "signed-integer ");
        return false;
    }
    if (bits != 8 && bits != 16) {
        error = depthRefused(bits);
        return false;
    }
    if (samplesPerPixel < 3) {
        error = "the TIFF file says it is RGB but has " + std::to_string(samplesPerPixel)
            + " samples per pixel";
        return false;
    }
    if (planar != PLANARCONFIG_CONTIG && planar != PLANARCONFIG_SEPARATE) {
        error = "the TIFF file's planar configuration " + std::to_string(planar) + " is not known";
        return false;
    }
    if (!TIFFIsCODECConfigured(compression)) {
        error = "TIFF files compressed with scheme " + std::to_string(compression)
            + " are not supported: this build of libtiff cannot decode it";
        return false;
    }

    // The first extra sample is taken as alpha whatever it claims to be, as other applications
    // do; one marked associated is premultiplied and is divided back out below.
    TiffLayout layout;
    layout.width = width;
    layout.height = height;
    layout.samplesPerPixel = samplesPerPixel;
    layout.channels = samplesPerPixel >= 4 ? 4 : 3;
    layout.bytesPerSample = bits / 8u;
    layout.planar = planar == PLANARCONFIG_SEPARATE;
    uint16_t extraCount = 0;
    uint16_t* extraTypes = nullptr;
    const bool associated = layout.channels == 4
        && TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extraTypes) && extraCount > 0 && extraTypes
        && extraTypes[0] == EXTRASAMPLE_ASSOCALPHA;

    const bool tiled = TIFFIsTiled(tif);
    uint32_t tileWidth = 0, tileHeight = 0;
    const uint64_t rowBytes = uint64_t(width) * layout.blockSamples() * layout.bytesPerSample;
    const uint64_t stripBytes = rowBytes * rowsPerStrip(tif, height);
    const bool wholeStrips = !tiled && stripBytes <= kWholeStripBytes;
    uint64_t working = layout.direct() ? 0 : wholeStrips ? stripBytes : rowBytes;
    if (!tiled && uint64_t(TIFFScanlineSize64(tif)) != rowBytes) {
        error = "the TIFF file's rows do not have the expected layout";
        return false;
    }
    if (tiled) {
        TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth);
        TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileHeight);
        const uint64_t tileRowBytes = uint64_t(tileWidth) * layout.blockSamples() * layout.bytesPerSample;
        working = tileRowBytes * tileHeight;
        if (tileWidth == 0 || tileHeight == 0 || uint64_t(TIFFTileRowSize64(tif)) != tileRowBytes
            || uint64_t(TIFFTileSize64(tif)) != working) {
            error = "the TIFF file's tiles do not have the expected layout";
            return false;
        }
        // A tile may overhang the image edge, but not by absurd amounts.
        if (tileWidth > width + 4096 || tileHeight > height + 4096) {
            error = "the TIFF file's tiles are implausibly large";
            return false;
        }
    }
    if (!beginImage(image, width, height, int(layout.channels), bits, working, limits, error))
        return false;
    const bool read = tiled ? readTiffTiles(file, layout, tileWidth, tileHeight, image, error)
        : wholeStrips       ? readTiffStrips(file, layout, rowBytes, image, error)
                            : readTiffRows(file, layout, rowBytes, image, error);
    if (!read)
        return false;
    if (associated) {
        const size_t pixelCount = size_t(width) * height;
        if (bits == 16)
            unpremultiply(image.samples16(), pixelCount, 65535);
        else
            unpremultiply(image.pixels.data(), pixelCount, 255);
    }
    readTiffMetadata(tif, bytes, image);
    return true;
}

bool writeTiff(FileWriter& out, const ImageFile& image, const OutputMetadata& metadata, std::string& error)
{
    // Compressed data can outgrow the samples, so big images get 64-bit offsets in good time.
    const bool big = image.pixels.size() > (uint64_t(7) << 29);
    OutputFile output;
    output.out = &out;
    TiffFile file;
    if (!file.open(big ? "w8" : "w", &output, OutputFile::read, OutputFile::write, OutputFile::seek,
            OutputFile::size, OutputFile::map, 0)) {
        error = file.failed ? file.message : "libtiff refused the file";
        return false;
    }
    TIFF* tif = file.tif;
    const size_t rowBytes = image.rowBytes();
    const uint32_t rowsPerStrip
        = uint32_t(std::clamp<size_t>((size_t(256) << 10) / rowBytes, 1, size_t(image.height)));
    const uint16_t compression
        = TIFFIsCODECConfigured(COMPRESSION_ADOBE_DEFLATE) ? COMPRESSION_ADOBE_DEFLATE : COMPRESSION_LZW;
    const int orientation
        = image.orientation >= 1 && image.orientation <= 8 ? image.orientation : ORIENTATION_TOPLEFT;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(image.width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(image.height));
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, uint16_t(image.channels));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, uint16_t(image.bitsPerSample));
    TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_UINT);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ORIENTATION, uint16_t(orientation));
    TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
    TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
    if (image.channels == 4) {
        const uint16_t alpha = EXTRASAMPLE_UNASSALPHA;
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, uint16_t(1), &alpha);
    }
    if (!image.iccProfile.empty())
        TIFFSetField(tif, TIFFTAG_ICCPROFILE, uint32_t(image.iccProfile.size()), image.iccProfile.data());
    if (!image.xmp.empty())
        TIFFSetField(tif, TIFFTAG_XMLPACKET, uint32_t(image.xmp.size()), image.xmp.data());
    if (std::isfinite(image.dpiX) && std::isfinite(image.dpiY) && image.dpiX > 0 && image.dpiY > 0) {
        TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
        TIFFSetField(tif, TIFFTAG_XRESOLUTION, image.dpiX);
        TIFFSetField(tif, TIFFTAG_YRESOLUTION, image.dpiY);
    }
    // libtiff's predictor and byte swapping work in place, so it gets a copy to spoil.
    std::vector<uint8_t> strip(rowBytes * rowsPerStrip);
    bool written = !file.failed;
    for (uint32_t row = 0; row < uint32_t(image.height) && written; row += rowsPerStrip) {
        const uint32_t rows = std::min(rowsPerStrip, uint32_t(image.height) - row);
        const size_t bytes = rowBytes * rows;
        std::memcpy(strip.data(), image.pixels.data() + size_t(row) * rowBytes, bytes);
        written
            = TIFFWriteEncodedStrip(tif, TIFFComputeStrip(tif, row, 0), strip.data(), tmsize_t(bytes)) >= 0;
    }
    written = written && TIFFWriteDirectory(tif);
    file.close();
    if (!written || file.failed) {
        error = file.failed ? file.message : "libtiff could not write the image";
        return false;
    }
    if (!image.comments.empty())
        metadata.drop("JPEG comments");
    if (!image.texts.empty())
        metadata.drop("PNG text");
    if (image.hasGamma || image.hasChromaticities || image.srgbIntent >= 0)
        metadata.drop("PNG colour chunks (gAMA, cHRM, sRGB)");
    return metadata.exif.empty() || addExifToTiff(out, metadata.exif, metadata, error);
}

} // namespace quarvel::host::codec
