// Image files for the native host, through libpng, libtiff and libjpeg.
//
// libpng and libjpeg report errors by longjmp. Every call into them that can fail is made from
// a "decode"/"encode" function whose frame holds nothing with a destructor: the state lives in
// a context object owned by the caller, which cleans up once the function has returned.
#include "tools/host/ImageFile.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <csetjmp>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

#include <jpeglib.h> // needs <cstdio> first
#include <jerror.h>
#include <png.h>
#include <tiffio.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quarvel::host {

namespace {

// Far beyond anything a filter plug-in can be handed, yet small enough that a forged header
// cannot make us allocate without bound.
constexpr uint64_t kMaxSide = 1000000;
constexpr uint64_t kMaxBytes = uint64_t(4) << 30;

const char* const kNotRgb = " images are not supported: the plug-in works on RGB images";

std::string modeRefused(const std::string& mode) { return mode + kNotRgb; }

std::string depthRefused(unsigned bits, const char* kind = "")
{
    return std::to_string(bits) + "-bit " + kind +
           "images are not supported: the plug-in works on 8- and 16-bit RGB images";
}

bool hostIsLittleEndian()
{
    const uint16_t probe = 1;
    unsigned char first = 0;
    std::memcpy(&first, &probe, 1);
    return first == 1;
}

std::string systemError(const std::string& what, const std::string& path, int code)
{
    return what + " " + path + ": " + std::strerror(code);
}

// Also sizes image.pixels, so nothing is allocated before the dimensions are known to be sane.
bool prepareImage(uint64_t width, uint64_t height, int channels, int bits, ImageFile& image,
                  std::string& error)
{
    const std::string size = std::to_string(width) + " x " + std::to_string(height);
    if (width == 0 || height == 0) {
        error = "the file holds an empty image (" + size + " pixels)";
        return false;
    }
    if (width > kMaxSide || height > kMaxSide) {
        error = "the image is too large (" + size + " pixels): at most 1000000 pixels on a side";
        return false;
    }
    if (width * height * uint64_t(channels) * uint64_t(bits / 8) > kMaxBytes) {
        error = "the image is too large (" + size + " pixels): its samples would need more than 4 GiB";
        return false;
    }
    image.width = int(width);
    image.height = int(height);
    image.channels = channels;
    image.bitsPerSample = bits;
    image.pixels.assign(image.rowBytes() * size_t(height), 0);
    return true;
}

bool checkWritable(const ImageFile& image, std::string& error)
{
    if (image.width <= 0 || image.height <= 0) {
        error = "the image is empty";
        return false;
    }
    if (image.channels != 3 && image.channels != 4) {
        error = "only RGB and RGBA images can be written, not " + std::to_string(image.channels) +
                " channels";
        return false;
    }
    if (image.bitsPerSample != 8 && image.bitsPerSample != 16) {
        error = depthRefused(unsigned(image.bitsPerSample));
        return false;
    }
    const uint64_t expected = uint64_t(image.width) * uint64_t(image.height) *
                              uint64_t(image.channels) * uint64_t(image.bitsPerSample / 8);
    if (uint64_t(image.pixels.size()) != expected) {
        error = "the image holds " + std::to_string(image.pixels.size()) + " bytes of samples, not the " +
                std::to_string(expected) + " its size needs";
        return false;
    }
    return true;
}

// Files store resolution as whole dots per metre or centimetre; the user almost always meant a
// whole number of dots per inch, so take it when it is what the stored value came from.
double dpiFromWhole(double perUnit, double unitsPerInch)
{
    const double dpi = perUnit * unitsPerInch;
    const double whole = std::round(dpi);
    return std::round(whole / unitsPerInch) == perUnit ? whole : dpi;
}

bool resolutionKnown(const ImageFile& image)
{
    return std::isfinite(image.dpiX) && std::isfinite(image.dpiY) && image.dpiX > 0 && image.dpiY > 0;
}

struct FileCloser {
    FILE* file = nullptr;
    ~FileCloser() { close(); }
    int close()
    {
        const int result = file ? std::fclose(file) : 0;
        file = nullptr;
        return result;
    }
};

// Straight alpha is what the plug-in sees, so associated colour is divided back out.
template <typename Sample>
void unpremultiply(Sample* samples, size_t pixelCount, uint32_t maxValue)
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

// ---- PNG -------------------------------------------------------------------------------------

struct PngContext {
    FILE* file = nullptr;
    png_structp png = nullptr;
    png_infop info = nullptr;
    bool writing = false;
    ImageFile* image = nullptr;           // reading: filled in
    const ImageFile* source = nullptr;    // writing
    std::string refusal;                  // reading: set when the file is sound but unwanted
    char message[256] = {};               // what libpng said before giving up

    ~PngContext()
    {
        if (!png)
            return;
        if (writing)
            png_destroy_write_struct(&png, info ? &info : nullptr);
        else
            png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    }
};

void pngError(png_structp png, png_const_charp message)
{
    auto* context = static_cast<PngContext*>(png_get_error_ptr(png));
    std::snprintf(context->message, sizeof context->message, "%s", message ? message : "unknown error");
    png_longjmp(png, 1);
}

void pngWarning(png_structp, png_const_charp) {}

bool decodePng(PngContext& context)
{
    png_structp png = context.png;
    png_infop info = context.info;
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_init_io(png, context.file);
    // Our own size guard speaks instead of libpng's, with one message for every format.
    png_set_user_limits(png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
    png_read_info(png, info);

    png_uint_32 width = 0, height = 0;
    int depth = 0, colourType = 0, interlace = 0;
    png_get_IHDR(png, info, &width, &height, &depth, &colourType, &interlace, nullptr, nullptr);
    if (colourType == PNG_COLOR_TYPE_GRAY || colourType == PNG_COLOR_TYPE_GRAY_ALPHA) {
        context.refusal = modeRefused("grey");
        return false;
    }
    if (colourType == PNG_COLOR_TYPE_PALETTE) {
        context.refusal = modeRefused("palette");
        return false;
    }
    if (colourType != PNG_COLOR_TYPE_RGB && colourType != PNG_COLOR_TYPE_RGB_ALPHA) {
        context.refusal = modeRefused("PNG colour type " + std::to_string(colourType));
        return false;
    }
    if (depth != 8 && depth != 16) {
        context.refusal = depthRefused(unsigned(depth));
        return false;
    }
    int channels = colourType == PNG_COLOR_TYPE_RGB_ALPHA ? 4 : 3;
    // A transparent key colour is transparency all the same; the plug-in only knows alpha.
    if (channels == 3 && png_get_valid(png, info, PNG_INFO_tRNS)) {
        png_set_tRNS_to_alpha(png);
        channels = 4;
    }
    if (depth == 16 && hostIsLittleEndian())
        png_set_swap(png);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);

    ImageFile& image = *context.image;
    if (!prepareImage(width, height, channels, depth, image, context.refusal))
        return false;
    if (png_get_rowbytes(png, info) != image.rowBytes() || png_get_channels(png, info) != channels) {
        context.refusal = "the PNG file's rows do not have the expected layout";
        return false;
    }
    // Each interlaced pass fills in some pixels of every row, so rows go straight into the image.
    for (int pass = 0; pass < passes; ++pass)
        for (png_uint_32 y = 0; y < height; ++y)
            png_read_row(png, image.pixels.data() + size_t(y) * image.rowBytes(), nullptr);
    // eXIf may follow the image data.
    png_read_end(png, info);

    png_charp name = nullptr;
    int compression = 0;
    png_bytep profile = nullptr;
    png_uint_32 profileLength = 0;
    if (png_get_iCCP(png, info, &name, &compression, &profile, &profileLength) && profile)
        image.iccProfile.assign(profile, profile + profileLength);
    png_bytep exif = nullptr;
    png_uint_32 exifLength = 0;
    if (png_get_eXIf_1(png, info, &exifLength, &exif) && exif)
        image.exif.assign(exif, exif + exifLength);
    png_uint_32 resX = 0, resY = 0;
    int unit = 0;
    if (png_get_pHYs(png, info, &resX, &resY, &unit) && unit == PNG_RESOLUTION_METER && resX && resY) {
        image.dpiX = dpiFromWhole(resX, 0.0254);
        image.dpiY = dpiFromWhole(resY, 0.0254);
    }
    return true;
}

// Photos carry profiles that libpng's checks dislike (old sRGB profiles above all); they are
// the user's and must travel on, so such findings are warnings, not failures.
void allowBenignProblems(png_structp png)
{
    png_set_benign_errors(png, 1);
#if defined(PNG_SKIP_sRGB_CHECK_PROFILE) && defined(PNG_SET_OPTION_SUPPORTED)
    png_set_option(png, PNG_SKIP_sRGB_CHECK_PROFILE, PNG_OPTION_ON);
#endif
}

bool readPng(FILE* file, ImageFile& image, std::string& error)
{
    PngContext context;
    context.file = file;
    context.image = &image;
    context.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &context, pngError, pngWarning);
    if (context.png) {
        allowBenignProblems(context.png);
        context.info = png_create_info_struct(context.png);
    }
    if (!context.info) {
        error = "not enough memory to read the PNG file";
        return false;
    }
    if (decodePng(context))
        return true;
    // libpng calls running out of file a "Read Error".
    const char* reason = std::feof(file) ? "the file ends before the image does" : context.message;
    error = !context.refusal.empty() ? context.refusal : std::string("damaged or incomplete PNG file: ") + reason;
    return false;
}

bool encodePng(PngContext& context)
{
    png_structp png = context.png;
    png_infop info = context.info;
    const ImageFile& image = *context.source;
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_init_io(png, context.file);
    png_set_IHDR(png, info, png_uint_32(image.width), png_uint_32(image.height), image.bitsPerSample,
                 image.channels == 4 ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!image.iccProfile.empty())
        png_set_iCCP(png, info, "ICC Profile", PNG_COMPRESSION_TYPE_BASE, image.iccProfile.data(),
                     png_uint_32(image.iccProfile.size()));
    if (!image.exif.empty())
        png_set_eXIf_1(png, info, png_uint_32(image.exif.size()),
                       const_cast<png_bytep>(image.exif.data()));
    if (resolutionKnown(image)) {
        const double perMetreX = std::round(image.dpiX / 0.0254);
        const double perMetreY = std::round(image.dpiY / 0.0254);
        if (perMetreX >= 1 && perMetreY >= 1 && perMetreX <= PNG_UINT_31_MAX && perMetreY <= PNG_UINT_31_MAX)
            png_set_pHYs(png, info, png_uint_32(perMetreX), png_uint_32(perMetreY), PNG_RESOLUTION_METER);
    }
    png_write_info(png, info);
    if (image.bitsPerSample == 16 && hostIsLittleEndian())
        png_set_swap(png);
    for (int y = 0; y < image.height; ++y)
        png_write_row(png, image.pixels.data() + size_t(y) * image.rowBytes());
    // Everything was placed before the image data; no second copy of eXIf after it.
    png_write_end(png, nullptr);
    return true;
}

bool writePng(FILE* file, const ImageFile& image, std::string& error)
{
    if (image.iccProfile.size() > PNG_UINT_31_MAX || image.exif.size() > PNG_UINT_31_MAX) {
        error = "the metadata is too large for a PNG file";
        return false;
    }
    PngContext context;
    context.writing = true;
    context.file = file;
    context.source = &image;
    context.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &context, pngError, pngWarning);
    if (context.png) {
        allowBenignProblems(context.png);
        context.info = png_create_info_struct(context.png);
    }
    if (!context.info) {
        error = "not enough memory to write the PNG file";
        return false;
    }
    if (encodePng(context))
        return true;
    error = context.message;
    return false;
}

// ---- JPEG ------------------------------------------------------------------------------------

struct JpegErrors {
    jpeg_error_mgr manager; // first: libjpeg hands back a pointer to it
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void jpegFail(j_common_ptr cinfo)
{
    auto* errors = reinterpret_cast<JpegErrors*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, errors->message);
    std::longjmp(errors->jump, 1);
}

// libjpeg carries on past damaged data, painting grey where it lost the stream; a picture with
// holes in it must not come back as if it were whole, so those warnings end the decoding.
void jpegMessage(j_common_ptr cinfo, int level)
{
    if (level >= 0)
        return; // tracing
    switch (cinfo->err->msg_code) {
    case JWRN_ADOBE_XFORM:
    case JWRN_JFIF_MAJOR:
    case JWRN_EXTRANEOUS_DATA:
    case JWRN_BOGUS_ICC:
        return;
    default:
        jpegFail(cinfo);
    }
}

void installJpegErrors(JpegErrors& errors, jpeg_error_mgr*& slot)
{
    slot = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = jpegFail;
    errors.manager.emit_message = jpegMessage;
    errors.message[0] = '\0';
}

const unsigned char kIccTag[12] = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0};
const unsigned char kExifTag[6] = {'E', 'x', 'i', 'f', 0, 0};
constexpr unsigned kIccHeader = sizeof kIccTag + 2;      // tag, sequence number, chunk count
constexpr unsigned kMaxMarkerData = 65533;               // a marker's 16-bit length counts itself
constexpr unsigned kIccChunk = kMaxMarkerData - kIccHeader;

// A profile split over APP2 markers, numbered from 1; anything inconsistent means no profile.
std::vector<uint8_t> jpegIccProfile(const jpeg_decompress_struct& cinfo)
{
    const jpeg_marker_struct* chunks[256] = {};
    unsigned count = 0;
    for (const jpeg_marker_struct* m = cinfo.marker_list; m; m = m->next) {
        if (m->marker != JPEG_APP0 + 2 || m->data_length < kIccHeader ||
            std::memcmp(m->data, kIccTag, sizeof kIccTag) != 0)
            continue;
        const unsigned sequence = m->data[12];
        const unsigned total = m->data[13];
        if (total == 0 || sequence == 0 || sequence > total || (count && total != count) || chunks[sequence])
            return {};
        count = total;
        chunks[sequence] = m;
    }
    std::vector<uint8_t> profile;
    for (unsigned i = 1; i <= count; ++i) {
        if (!chunks[i])
            return {};
        profile.insert(profile.end(), chunks[i]->data + kIccHeader, chunks[i]->data + chunks[i]->data_length);
    }
    return profile;
}

void readJpegMetadata(const jpeg_decompress_struct& cinfo, ImageFile& image)
{
    image.iccProfile = jpegIccProfile(cinfo);
    for (const jpeg_marker_struct* m = cinfo.marker_list; m; m = m->next) {
        if (m->marker == JPEG_APP0 + 1 && m->data_length >= sizeof kExifTag &&
            std::memcmp(m->data, kExifTag, sizeof kExifTag) == 0) {
            image.exif.assign(m->data + sizeof kExifTag, m->data + m->data_length);
            break;
        }
    }
    if (cinfo.saw_JFIF_marker && cinfo.X_density && cinfo.Y_density) {
        if (cinfo.density_unit == 1) {
            image.dpiX = cinfo.X_density;
            image.dpiY = cinfo.Y_density;
        } else if (cinfo.density_unit == 2) {
            image.dpiX = dpiFromWhole(cinfo.X_density, 2.54);
            image.dpiY = dpiFromWhole(cinfo.Y_density, 2.54);
        }
    }
}

struct JpegReadContext {
    FILE* file = nullptr;
    jpeg_decompress_struct cinfo{}; // zeroed, so destroying it is safe however early we failed
    JpegErrors errors{};
    ImageFile* image = nullptr;
    std::string refusal;
    ~JpegReadContext() { jpeg_destroy_decompress(&cinfo); }
};

bool decodeJpeg(JpegReadContext& context)
{
    jpeg_decompress_struct* cinfo = &context.cinfo;
    installJpegErrors(context.errors, cinfo->err);
    if (setjmp(context.errors.jump))
        return false;
    jpeg_create_decompress(cinfo);
    jpeg_stdio_src(cinfo, context.file);
    jpeg_save_markers(cinfo, JPEG_APP0 + 1, 0xFFFF);
    jpeg_save_markers(cinfo, JPEG_APP0 + 2, 0xFFFF);
    jpeg_read_header(cinfo, TRUE);
    switch (cinfo->jpeg_color_space) {
    case JCS_YCbCr:
    case JCS_RGB:
        break;
    case JCS_GRAYSCALE:
        context.refusal = modeRefused("grey");
        return false;
    case JCS_CMYK:
    case JCS_YCCK:
        context.refusal = modeRefused("CMYK");
        return false;
    default:
        context.refusal = modeRefused(std::to_string(cinfo->num_components) + "-component JPEG");
        return false;
    }
    cinfo->out_color_space = JCS_RGB;
    ImageFile& image = *context.image;
    // The saved markers are freed when decompression finishes.
    readJpegMetadata(*cinfo, image);
    if (!prepareImage(cinfo->image_width, cinfo->image_height, 3, 8, image, context.refusal))
        return false;
    jpeg_start_decompress(cinfo);
    if (cinfo->output_components != 3 || cinfo->output_width != cinfo->image_width ||
        cinfo->output_height != cinfo->image_height) {
        context.refusal = "the JPEG file does not decode to the size it announces";
        return false;
    }
    while (cinfo->output_scanline < cinfo->output_height) {
        JSAMPROW row = image.pixels.data() + size_t(cinfo->output_scanline) * image.rowBytes();
        if (jpeg_read_scanlines(cinfo, &row, 1) != 1) {
            context.refusal = "damaged or incomplete JPEG file: the image data stops early";
            return false;
        }
    }
    jpeg_finish_decompress(cinfo);
    return true;
}

bool readJpeg(FILE* file, ImageFile& image, std::string& error)
{
    JpegReadContext context;
    context.file = file;
    context.image = &image;
    if (decodeJpeg(context))
        return true;
    error = !context.refusal.empty() ? context.refusal
                                     : std::string("damaged or incomplete JPEG file: ") + context.errors.message;
    return false;
}

struct JpegWriteContext {
    FILE* file = nullptr;
    jpeg_compress_struct cinfo{};
    JpegErrors errors{};
    const ImageFile* source = nullptr;
    ~JpegWriteContext() { jpeg_destroy_compress(&cinfo); }
};

void writeJpegMarker(j_compress_ptr cinfo, int marker, const unsigned char* tag, unsigned tagLength,
                     const uint8_t* data, unsigned length)
{
    jpeg_write_m_header(cinfo, marker, tagLength + length);
    for (unsigned i = 0; i < tagLength; ++i)
        jpeg_write_m_byte(cinfo, tag[i]);
    for (unsigned i = 0; i < length; ++i)
        jpeg_write_m_byte(cinfo, data[i]);
}

bool encodeJpeg(JpegWriteContext& context)
{
    jpeg_compress_struct* cinfo = &context.cinfo;
    const ImageFile& image = *context.source;
    installJpegErrors(context.errors, cinfo->err);
    if (setjmp(context.errors.jump))
        return false;
    jpeg_create_compress(cinfo);
    jpeg_stdio_dest(cinfo, context.file);
    cinfo->image_width = JDIMENSION(image.width);
    cinfo->image_height = JDIMENSION(image.height);
    cinfo->input_components = 3;
    cinfo->in_color_space = JCS_RGB;
    jpeg_set_defaults(cinfo);
    jpeg_set_quality(cinfo, 95, TRUE);
    // No chroma subsampling: the filter's output is often sharp-edged colour.
    for (int c = 0; c < cinfo->num_components; ++c) {
        cinfo->comp_info[c].h_samp_factor = 1;
        cinfo->comp_info[c].v_samp_factor = 1;
    }
    if (resolutionKnown(image) && image.dpiX < 65535.5 && image.dpiY < 65535.5) {
        cinfo->density_unit = 1;
        cinfo->X_density = UINT16(std::max(1.0, std::round(image.dpiX)));
        cinfo->Y_density = UINT16(std::max(1.0, std::round(image.dpiY)));
    }
    jpeg_start_compress(cinfo, TRUE);
    if (!image.exif.empty())
        writeJpegMarker(cinfo, JPEG_APP0 + 1, kExifTag, sizeof kExifTag, image.exif.data(),
                        unsigned(image.exif.size()));
    const size_t iccSize = image.iccProfile.size();
    const unsigned chunkCount = unsigned((iccSize + kIccChunk - 1) / kIccChunk);
    for (unsigned i = 0; i < chunkCount; ++i) {
        const size_t offset = size_t(i) * kIccChunk;
        const unsigned length = unsigned(std::min<size_t>(kIccChunk, iccSize - offset));
        const unsigned char tag[kIccHeader] = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0,
                                               (unsigned char)(i + 1), (unsigned char)chunkCount};
        writeJpegMarker(cinfo, JPEG_APP0 + 2, tag, kIccHeader, image.iccProfile.data() + offset, length);
    }
    for (int y = 0; y < image.height; ++y) {
        // libjpeg's interface is not const-correct; it only reads the row.
        JSAMPROW row = const_cast<JSAMPROW>(image.pixels.data() + size_t(y) * image.rowBytes());
        jpeg_write_scanlines(cinfo, &row, 1);
    }
    jpeg_finish_compress(cinfo);
    return true;
}

bool writeJpeg(FILE* file, const ImageFile& image, std::string& error)
{
    if (image.exif.size() > kMaxMarkerData - sizeof kExifTag) {
        error = "the EXIF block (" + std::to_string(image.exif.size()) +
                " bytes) is too large for a JPEG file, which holds at most 65527";
        return false;
    }
    if (image.iccProfile.size() > size_t(255) * kIccChunk) {
        error = "the ICC profile is too large for a JPEG file";
        return false;
    }
    JpegWriteContext context;
    context.file = file;
    context.source = &image;
    if (encodeJpeg(context))
        return true;
    error = context.errors.message;
    return false;
}

// ---- TIFF ------------------------------------------------------------------------------------

// libtiff's handlers are given per file, so nothing is printed and nothing global is touched.
struct TiffFile {
    TIFF* tif = nullptr;
    bool failed = false;
    char message[512] = {};

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

    // With a descriptor, libtiff owns it once the open succeeds.
    bool open(const std::string& path, const char* mode, int descriptor = -1)
    {
        TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
        if (!options) {
            std::snprintf(message, sizeof message, "out of memory");
            failed = true;
            return false;
        }
        TIFFOpenOptionsSetErrorHandlerExtR(options, onError, this);
        TIFFOpenOptionsSetWarningHandlerExtR(options, onWarning, this);
        tif = descriptor >= 0 ? TIFFFdOpenExt(descriptor, path.c_str(), mode, options)
                              : TIFFOpenExt(path.c_str(), mode, options);
        TIFFOpenOptionsFree(options);
        return tif != nullptr;
    }
    void close()
    {
        if (tif)
            TIFFClose(tif);
        tif = nullptr;
    }
    ~TiffFile() { close(); }
    TiffFile() = default;
    TiffFile(const TiffFile&) = delete;
    TiffFile& operator=(const TiffFile&) = delete;
};

std::string photometricName(uint16_t photometric)
{
    switch (photometric) {
    case PHOTOMETRIC_MINISWHITE:
    case PHOTOMETRIC_MINISBLACK: return "grey";
    case PHOTOMETRIC_PALETTE: return "palette";
    case PHOTOMETRIC_SEPARATED: return "CMYK";
    case PHOTOMETRIC_MASK: return "transparency-mask";
    case PHOTOMETRIC_YCBCR: return "YCbCr (other than JPEG-compressed)";
    case PHOTOMETRIC_CIELAB:
    case PHOTOMETRIC_ICCLAB:
    case PHOTOMETRIC_ITULAB: return "CIE L*a*b*";
    case PHOTOMETRIC_LOGL: return "LogL";
    case PHOTOMETRIC_LOGLUV: return "LogLuv";
    case PHOTOMETRIC_CFA: return "colour filter array (raw)";
    default: return "TIFF photometric interpretation " + std::to_string(photometric);
    }
}

// How the file lays out its samples, and where they go in the image.
struct TiffLayout {
    uint32_t width = 0, height = 0;
    unsigned samplesPerPixel = 0; // in the file, extra samples included
    unsigned channels = 0;        // kept: 3, or 4 with the first extra sample as alpha
    unsigned bytesPerSample = 0;
    bool planar = false;
    uint64_t blockLimit = 0;      // no strip or tile may need more than this to decode

    unsigned blockSamples() const { return planar ? 1 : samplesPerPixel; }
    unsigned planes() const { return planar ? channels : 1; }
};

// Copies a decoded strip or tile whose top left pixel is (x0, y0), clipped to the image. For
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
        uint8_t* to = image.pixels.data() + size_t(y0 + y) * image.rowBytes() + size_t(x0) * destStep +
                      (layout.planar ? plane * sample : 0);
        if (sourceStep == destStep && copied == destStep) {
            std::memcpy(to, from, size_t(width) * destStep);
            continue;
        }
        for (uint32_t x = 0; x < width; ++x, from += sourceStep, to += destStep)
            std::memcpy(to, from, copied);
    }
}

std::string tiffDamage(const TiffFile& file, const char* fallback)
{
    return std::string("damaged or incomplete TIFF file: ") + (file.failed ? file.message : fallback);
}

bool readTiffStrips(TiffFile& file, const TiffLayout& layout, ImageFile& image, std::string& error)
{
    TIFF* tif = file.tif;
    uint32_t rowsPerStrip = layout.height;
    TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    rowsPerStrip = std::clamp<uint32_t>(rowsPerStrip, 1, layout.height);
    const uint64_t rowBytes = uint64_t(layout.width) * layout.blockSamples() * layout.bytesPerSample;
    if (TIFFScanlineSize64(tif) != rowBytes) {
        error = "the TIFF file's rows do not have the expected layout";
        return false;
    }
    if (rowBytes * rowsPerStrip > layout.blockLimit) {
        error = "the TIFF file's strips are implausibly large";
        return false;
    }
    std::vector<uint8_t> strip(size_t(rowBytes * rowsPerStrip));
    for (unsigned plane = 0; plane < layout.planes(); ++plane) {
        for (uint32_t row = 0; row < layout.height; row += rowsPerStrip) {
            const uint32_t rows = std::min(rowsPerStrip, layout.height - row);
            const tmsize_t wanted = tmsize_t(rowBytes * rows);
            const uint32_t index = TIFFComputeStrip(tif, row, uint16_t(plane));
            if (TIFFReadEncodedStrip(tif, index, strip.data(), wanted) != wanted) {
                error = tiffDamage(file, "a strip of image data is missing or short");
                return false;
            }
            placeBlock(layout, strip.data(), size_t(rowBytes), 0, row, layout.width, rows, plane, image);
        }
    }
    return true;
}

bool readTiffTiles(TiffFile& file, const TiffLayout& layout, ImageFile& image, std::string& error)
{
    TIFF* tif = file.tif;
    uint32_t tileWidth = 0, tileHeight = 0;
    TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tileWidth);
    TIFFGetField(tif, TIFFTAG_TILELENGTH, &tileHeight);
    const uint64_t rowBytes = uint64_t(tileWidth) * layout.blockSamples() * layout.bytesPerSample;
    const uint64_t tileBytes = rowBytes * tileHeight;
    if (tileWidth == 0 || tileHeight == 0 || uint64_t(TIFFTileRowSize64(tif)) != rowBytes ||
        uint64_t(TIFFTileSize64(tif)) != tileBytes) {
        error = "the TIFF file's tiles do not have the expected layout";
        return false;
    }
    if (tileBytes > layout.blockLimit) {
        error = "the TIFF file's tiles are implausibly large";
        return false;
    }
    std::vector<uint8_t> tile(static_cast<size_t>(tileBytes));
    for (unsigned plane = 0; plane < layout.planes(); ++plane) {
        for (uint32_t y = 0; y < layout.height; y += std::min(tileHeight, layout.height - y)) {
            for (uint32_t x = 0; x < layout.width; x += std::min(tileWidth, layout.width - x)) {
                const uint32_t index = TIFFComputeTile(tif, x, y, 0, uint16_t(plane));
                if (TIFFReadEncodedTile(tif, index, tile.data(), tmsize_t(tileBytes)) != tmsize_t(tileBytes)) {
                    error = tiffDamage(file, "a tile of image data is missing or short");
                    return false;
                }
                placeBlock(layout, tile.data(), size_t(rowBytes), x, y, tileWidth, tileHeight, plane, image);
            }
        }
    }
    return true;
}

void readTiffMetadata(TIFF* tif, ImageFile& image)
{
    uint32_t profileLength = 0;
    void* profile = nullptr;
    if (TIFFGetField(tif, TIFFTAG_ICCPROFILE, &profileLength, &profile) && profile) {
        const auto* bytes = static_cast<const uint8_t*>(profile);
        image.iccProfile.assign(bytes, bytes + profileLength);
    }
    float resX = 0, resY = 0;
    uint16_t unit = RESUNIT_INCH;
    TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
    if (TIFFGetField(tif, TIFFTAG_XRESOLUTION, &resX) && TIFFGetField(tif, TIFFTAG_YRESOLUTION, &resY) &&
        std::isfinite(resX) && std::isfinite(resY) && resX > 0 && resY > 0) {
        const double perInch = unit == RESUNIT_INCH ? 1.0 : unit == RESUNIT_CENTIMETER ? 2.54 : 0.0;
        image.dpiX = resX * perInch;
        image.dpiY = resY * perInch;
    }
}

bool readTiff(const std::string& path, ImageFile& image, std::string& error)
{
    TiffFile file;
    if (!file.open(path, "r")) {
        error = tiffDamage(file, "libtiff cannot read it");
        return false;
    }
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
        error = "the TIFF file says it is RGB but has " + std::to_string(samplesPerPixel) +
                " samples per pixel";
        return false;
    }
    if (planar != PLANARCONFIG_CONTIG && planar != PLANARCONFIG_SEPARATE) {
        error = "the TIFF file's planar configuration " + std::to_string(planar) + " is not known";
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
    const bool associated = layout.channels == 4 &&
                            TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extraTypes) &&
                            extraCount > 0 && extraTypes && extraTypes[0] == EXTRASAMPLE_ASSOCALPHA;

    // Samples beyond the fourth are decoded and dropped; they must not cost without bound either.
    const uint64_t fileBytes = uint64_t(width) * height * samplesPerPixel * layout.bytesPerSample;
    if (samplesPerPixel > 4 && fileBytes > 2 * kMaxBytes) {
        error = "the image is too large: with its " + std::to_string(samplesPerPixel) +
                " samples per pixel it would need more than 8 GiB";
        return false;
    }
    if (!prepareImage(width, height, int(layout.channels), bits, image, error))
        return false;
    // A block may overhang the image edge, but not by absurd amounts.
    layout.blockLimit = fileBytes + (uint64_t(64) << 20);

    const bool read = TIFFIsTiled(tif) ? readTiffTiles(file, layout, image, error)
                                       : readTiffStrips(file, layout, image, error);
    if (!read)
        return false;
    if (associated) {
        const size_t pixelCount = size_t(width) * height;
        if (bits == 16)
            unpremultiply(image.samples16(), pixelCount, 65535);
        else
            unpremultiply(image.pixels.data(), pixelCount, 255);
    }
    readTiffMetadata(tif, image);
    return true;
}

// Takes the descriptor over, open or not.
bool writeTiff(int descriptor, const std::string& path, const ImageFile& image, std::string& error)
{
    // Compressed data can outgrow the samples, so big images get 64-bit offsets in good time.
    const bool big = image.pixels.size() > (uint64_t(7) << 29);
    TiffFile file;
    if (!file.open(path, big ? "w8" : "w", descriptor)) {
        ::close(descriptor);
        error = file.failed ? file.message : "libtiff refused the file";
        return false;
    }
    TIFF* tif = file.tif;
    const size_t rowBytes = image.rowBytes();
    const uint32_t rowsPerStrip =
        uint32_t(std::clamp<size_t>((size_t(256) << 10) / rowBytes, 1, size_t(image.height)));
    const uint16_t compression =
        TIFFIsCODECConfigured(COMPRESSION_ADOBE_DEFLATE) ? COMPRESSION_ADOBE_DEFLATE : COMPRESSION_LZW;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(image.width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(image.height));
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, uint16_t(image.channels));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, uint16_t(image.bitsPerSample));
    TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_UINT);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, compression);
    TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
    if (image.channels == 4) {
        const uint16_t alpha = EXTRASAMPLE_UNASSALPHA;
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, uint16_t(1), &alpha);
    }
    if (!image.iccProfile.empty())
        TIFFSetField(tif, TIFFTAG_ICCPROFILE, uint32_t(image.iccProfile.size()), image.iccProfile.data());
    if (resolutionKnown(image)) {
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
        written = TIFFWriteEncodedStrip(tif, TIFFComputeStrip(tif, row, 0), strip.data(), tmsize_t(bytes)) >= 0;
    }
    written = written && TIFFWriteDirectory(tif);
    file.close();
    if (!written || file.failed) {
        error = file.failed ? file.message : "libtiff could not write the image";
        return false;
    }
    return true;
}

enum class Magic { Unknown, Png, Tiff, Jpeg };

Magic sniff(const unsigned char* head, size_t length)
{
    static const unsigned char png[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (length >= 8 && std::memcmp(head, png, 8) == 0)
        return Magic::Png;
    if (length >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF)
        return Magic::Jpeg;
    // Classic TIFF (42) or BigTIFF (43), either byte order.
    if (length >= 4 && ((head[0] == 'I' && head[1] == 'I' && (head[2] == 42 || head[2] == 43) && head[3] == 0) ||
                        (head[0] == 'M' && head[1] == 'M' && head[2] == 0 && (head[3] == 42 || head[3] == 43))))
        return Magic::Tiff;
    return Magic::Unknown;
}

} // namespace


bool canWriteImageFile(const ImageFile&, ImageFormat, const WriteOptions&, std::string&) { return true; }

bool readImageFile(const std::string& path, ImageFile& image, std::string& error, const ReadLimits&)
{
    try {
        FileCloser file;
        file.file = std::fopen(path.c_str(), "rb");
        if (!file.file) {
            const int code = errno;
            error = systemError("cannot open", path, code);
            return false;
        }
        unsigned char head[8] = {};
        const size_t length = std::fread(head, 1, sizeof head, file.file);
        // A directory opens, then fails to read.
        if (length < sizeof head && std::ferror(file.file)) {
            const int code = errno;
            error = systemError("cannot open", path, code);
            return false;
        }
        ImageFile decoded;
        bool done = false;
        switch (sniff(head, length)) {
        case Magic::Png:
        case Magic::Jpeg:
            std::rewind(file.file);
            done = sniff(head, length) == Magic::Png ? readPng(file.file, decoded, error)
                                                     : readJpeg(file.file, decoded, error);
            break;
        case Magic::Tiff:
            file.close();
            done = readTiff(path, decoded, error);
            break;
        case Magic::Unknown:
            error = "not a PNG, TIFF or JPEG file";
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

bool writeImageFile(const std::string& path, ImageFormat format, const ImageFile& image,
                    std::string& error, const WriteOptions&, std::vector<std::string>*)
{
    if (format == ImageFormat::Unknown) {
        error = "no output format was given";
        return false;
    }
    if (!checkWritable(image, error))
        return false;
    // Refused before the file is created, so a refusal leaves nothing behind at all.
    if (format == ImageFormat::Jpeg && image.channels != 3) {
        error = "JPEG cannot hold transparency";
        return false;
    }
    if (format == ImageFormat::Jpeg && image.bitsPerSample != 8) {
        error = "JPEG holds 8 bits per sample only";
        return false;
    }
    const int descriptor = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (descriptor < 0) {
        const int code = errno;
        error = systemError("cannot create", path, code);
        return false;
    }
    // What is cleaned up after a failure is our own file, never a device or pipe named by the user.
    struct stat status {};
    const bool regularFile = ::fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode);
    bool done = false;
    std::string reason;
    try {
        if (format == ImageFormat::Tiff) {
            done = writeTiff(descriptor, path, image, reason);
        } else {
            FileCloser file;
            file.file = ::fdopen(descriptor, "wb");
            if (!file.file) {
                reason = std::strerror(errno);
                ::close(descriptor);
            } else {
                done = format == ImageFormat::Png ? writePng(file.file, image, reason)
                                                  : writeJpeg(file.file, image, reason);
                // Buffered data is only known to have reached the file once this succeeds.
                errno = 0;
                if (file.close() != 0 && done) {
                    done = false;
                    reason = errno ? std::strerror(errno) : "the file could not be completed";
                }
            }
        }
    } catch (const std::bad_alloc&) {
        done = false;
        reason = "not enough memory";
    }
    if (!done) {
        if (regularFile)
            std::remove(path.c_str());
        error = "cannot write " + path + ": " + reason;
    }
    return done;
}

} // namespace quarvel::host
