// JPEG through libjpeg(-turbo). libjpeg reports errors by longjmp: every call into it that can
// fail is made from a "decode"/"encode" function whose frame holds nothing with a destructor.
#include "tools/host/ImageCodecs.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jerror.h>
#include <jpeglib.h> // needs <cstdio> first

namespace quarvel::host::codec {

namespace {

const unsigned char kIccTag[12] = { 'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0 };
const unsigned char kExifTag[6] = { 'E', 'x', 'i', 'f', 0, 0 };
const unsigned char kXmpTag[29] = "http://ns.adobe.com/xap/1.0/"; // with its terminating zero
constexpr unsigned kIccHeader = sizeof kIccTag + 2; // tag, sequence number, chunk count
constexpr unsigned kMaxMarkerData = 65533; // a marker's 16-bit length counts itself
constexpr unsigned kIccChunk = kMaxMarkerData - kIccHeader;
constexpr size_t kMaxExif = kMaxMarkerData - sizeof kExifTag;
constexpr size_t kMaxXmp = kMaxMarkerData - sizeof kXmpTag;
// libjpeg-turbo's own advice: no encoder writes more, and a forged file with thousands of
// scans costs minutes to decode.
constexpr int kMaxScans = 500;
// libjpeg's row buffers and tables beside the coefficients.
constexpr uint64_t kJpegSlack = uint64_t(64) << 20;

struct JpegErrors {
    jpeg_error_mgr manager; // first: libjpeg hands back a pointer to it
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
    bool tooManyScans;
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

void countScans(j_common_ptr cinfo)
{
    if (!cinfo->is_decompressor || reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number <= kMaxScans)
        return;
    auto* errors = reinterpret_cast<JpegErrors*>(cinfo->err);
    errors->tooManyScans = true;
    std::longjmp(errors->jump, 1);
}

void installJpegErrors(JpegErrors& errors, jpeg_error_mgr*& slot)
{
    slot = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = jpegFail;
    errors.manager.emit_message = jpegMessage;
    errors.message[0] = '\0';
    errors.tooManyScans = false;
}

bool startsWith(const jpeg_marker_struct* marker, int code, const unsigned char* tag, size_t length)
{
    return marker->marker == code && marker->data_length >= length
        && std::memcmp(marker->data, tag, length) == 0;
}

// A profile split over APP2 markers, numbered from 1; anything inconsistent means no profile.
std::vector<uint8_t> jpegIccProfile(const jpeg_decompress_struct& cinfo)
{
    const jpeg_marker_struct* chunks[256] = {};
    unsigned count = 0;
    for (const jpeg_marker_struct* m = cinfo.marker_list; m; m = m->next) {
        if (!startsWith(m, JPEG_APP0 + 2, kIccTag, sizeof kIccTag) || m->data_length < kIccHeader)
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

// Density in dots per centimetre usually came from a whole number of dots per inch.
double dpiFromCentimetre(double perCentimetre)
{
    const double dpi = perCentimetre * 2.54;
    const double whole = std::round(dpi);
    return std::round(whole / 2.54) == perCentimetre ? whole : dpi;
}

void readJpegMetadata(const jpeg_decompress_struct& cinfo, ImageFile& image)
{
    image.iccProfile = jpegIccProfile(cinfo);
    for (const jpeg_marker_struct* m = cinfo.marker_list; m; m = m->next) {
        if (startsWith(m, JPEG_APP0 + 1, kExifTag, sizeof kExifTag)) {
            if (image.exif.empty())
                image.exif.assign(m->data + sizeof kExifTag, m->data + m->data_length);
        } else if (startsWith(m, JPEG_APP0 + 1, kXmpTag, sizeof kXmpTag)) {
            if (image.xmp.empty())
                image.xmp.assign(m->data + sizeof kXmpTag, m->data + m->data_length);
        } else if (m->marker == JPEG_COM) {
            image.comments.emplace_back(reinterpret_cast<const char*>(m->data), m->data_length);
        }
    }
    image.orientation = exifOrientation(image.exif);
    if (cinfo.saw_JFIF_marker && cinfo.X_density && cinfo.Y_density) {
        if (cinfo.density_unit == 1) {
            image.dpiX = cinfo.X_density;
            image.dpiY = cinfo.Y_density;
        } else if (cinfo.density_unit == 2) {
            image.dpiX = dpiFromCentimetre(cinfo.X_density);
            image.dpiY = dpiFromCentimetre(cinfo.Y_density);
        }
    }
}

// A progressive or multi-scan file is decoded whole into coefficients before the first row
// comes out: two bytes for each of the 64 coefficients of every block of every component.
uint64_t coefficientBytes(const jpeg_decompress_struct& cinfo)
{
    uint64_t bytes = 0;
    for (int c = 0; c < cinfo.num_components; ++c) {
        const jpeg_component_info& component = cinfo.comp_info[c];
        const uint64_t h = uint64_t(std::max(component.h_samp_factor, 1));
        const uint64_t v = uint64_t(std::max(component.v_samp_factor, 1));
        const uint64_t across = (uint64_t(component.width_in_blocks) + h - 1) / h * h;
        const uint64_t down = (uint64_t(component.height_in_blocks) + v - 1) / v * v;
        bytes += across * down * DCTSIZE2 * sizeof(JCOEF);
    }
    return bytes;
}

// ---- reading ---------------------------------------------------------------------------------

struct JpegReader {
    Bytes file;
    const ReadLimits* limits = nullptr;
    ImageFile* image = nullptr;
    jpeg_decompress_struct cinfo {}; // zeroed, so destroying it is safe however early we failed
    JpegErrors errors {};
    jpeg_progress_mgr progress {};
    std::string refusal;
    ~JpegReader() { jpeg_destroy_decompress(&cinfo); }
};

bool decodeJpeg(JpegReader& reader)
{
    jpeg_decompress_struct* cinfo = &reader.cinfo;
    installJpegErrors(reader.errors, cinfo->err);
    if (setjmp(reader.errors.jump))
        return false;
    jpeg_create_decompress(cinfo);
    reader.progress.progress_monitor = countScans;
    cinfo->progress = &reader.progress;
    jpeg_mem_src(cinfo, reader.file.data, static_cast<unsigned long>(reader.file.size));
    jpeg_save_markers(cinfo, JPEG_APP0 + 1, 0xFFFF);
    jpeg_save_markers(cinfo, JPEG_APP0 + 2, 0xFFFF);
    jpeg_save_markers(cinfo, JPEG_COM, 0xFFFF);
    jpeg_read_header(cinfo, TRUE);
    switch (cinfo->jpeg_color_space) {
    case JCS_YCbCr:
    case JCS_RGB:
        break;
    case JCS_GRAYSCALE:
        reader.refusal = modeRefused("grey");
        return false;
    case JCS_CMYK:
    case JCS_YCCK:
        reader.refusal = modeRefused("CMYK");
        return false;
    default:
        reader.refusal = modeRefused(std::to_string(cinfo->num_components) + "-component JPEG");
        return false;
    }
    cinfo->out_color_space = JCS_RGB;
    ImageFile& image = *reader.image;
    const uint64_t working = (jpeg_has_multiple_scans(cinfo) ? coefficientBytes(*cinfo) : 0) + kJpegSlack;
    if (!beginImage(
            image, cinfo->image_width, cinfo->image_height, 3, 8, working, *reader.limits, reader.refusal))
        return false;
    // libjpeg's own allocations stay within what was just allowed for them.
    cinfo->mem->max_memory_to_use = long(std::min<uint64_t>(working, LONG_MAX));
    // The saved markers are freed when decompression finishes.
    readJpegMetadata(*cinfo, image);
    jpeg_start_decompress(cinfo);
    if (cinfo->output_components != 3 || cinfo->output_width != cinfo->image_width
        || cinfo->output_height != cinfo->image_height) {
        reader.refusal = "the JPEG file does not decode to the size it announces";
        return false;
    }
    const size_t rowBytes = image.rowBytes();
    constexpr JDIMENSION kBatch = 16;
    JSAMPROW rows[kBatch];
    while (cinfo->output_scanline < cinfo->output_height) {
        const JDIMENSION first = cinfo->output_scanline;
        const JDIMENSION count = std::min(kBatch, cinfo->output_height - first);
        uint8_t* base = imageRows(image, size_t(first) + count);
        for (JDIMENSION i = 0; i < count; ++i)
            rows[i] = base + size_t(first + i) * rowBytes;
        if (jpeg_read_scanlines(cinfo, rows, count) == 0) {
            reader.refusal = "damaged or incomplete JPEG file: the image data stops early";
            return false;
        }
    }
    jpeg_finish_decompress(cinfo);
    return true;
}

// Valid files of kinds this codec does not decode are not damaged ones, and are not called so.
std::string jpegFailure(const JpegReader& reader)
{
    const jpeg_error_mgr& manager = reader.errors.manager;
    if (reader.errors.tooManyScans)
        return "damaged JPEG file: more than " + std::to_string(kMaxScans) + " scans";
    switch (manager.msg_code) {
    case JERR_BAD_PRECISION:
        return std::to_string(manager.msg_parm.i[0])
            + "-bit JPEG files are not supported: only 8-bit JPEG can be read";
    case JERR_SOF_UNSUPPORTED:
    case JERR_ARITH_NOTIMPL: {
        const int type = manager.msg_code == JERR_ARITH_NOTIMPL ? 0 : manager.msg_parm.i[0];
        const std::string kind = type == 0xC3 || type == 0xCB ? "lossless JPEG files"
            : (type >= 0xC5 && type <= 0xC7) || type >= 0xCD  ? "hierarchical JPEG files"
            : type == 0                                       ? "arithmetic-coded JPEG files"
                                                              : "JPEG files of this kind";
        return kind + " are not supported: only baseline and progressive JPEG can be read";
    }
    case JERR_NO_BACKING_STORE:
        return "the image is too large: decoding it would take more memory than is allowed";
    case JERR_OUT_OF_MEMORY:
        return "not enough memory to read the image";
    default:
        return std::string("damaged or incomplete JPEG file: ") + reader.errors.message;
    }
}

// ---- writing ---------------------------------------------------------------------------------

struct JpegDestination {
    jpeg_destination_mgr manager; // first: libjpeg hands back a pointer to it
    FileWriter* out;
    JOCTET buffer[64 << 10];
};

void startOutput(j_compress_ptr cinfo)
{
    auto* destination = reinterpret_cast<JpegDestination*>(cinfo->dest);
    destination->manager.next_output_byte = destination->buffer;
    destination->manager.free_in_buffer = sizeof destination->buffer;
}

boolean passOutput(j_compress_ptr cinfo)
{
    auto* destination = reinterpret_cast<JpegDestination*>(cinfo->dest);
    destination->out->write(destination->buffer, sizeof destination->buffer);
    if (destination->out->failed())
        ERREXIT(cinfo, JERR_FILE_WRITE);
    startOutput(cinfo);
    return TRUE;
}

void finishOutput(j_compress_ptr cinfo)
{
    auto* destination = reinterpret_cast<JpegDestination*>(cinfo->dest);
    destination->out->write(
        destination->buffer, sizeof destination->buffer - destination->manager.free_in_buffer);
}

struct JpegWriter {
    JpegDestination destination {};
    jpeg_compress_struct cinfo {};
    JpegErrors errors {};
    const ImageFile* image = nullptr;
    const OutputMetadata* metadata = nullptr;
    const std::vector<std::string>* comments = nullptr;
    int quality = 95;
    bool writeXmp = false;
    ~JpegWriter() { jpeg_destroy_compress(&cinfo); }
};

void writeMarker(j_compress_ptr cinfo, int marker, const unsigned char* tag, unsigned tagLength,
    const uint8_t* data, unsigned length)
{
    jpeg_write_m_header(cinfo, marker, tagLength + length);
    for (unsigned i = 0; i < tagLength; ++i)
        jpeg_write_m_byte(cinfo, tag[i]);
    for (unsigned i = 0; i < length; ++i)
        jpeg_write_m_byte(cinfo, data[i]);
}

bool encodeJpeg(JpegWriter& writer)
{
    jpeg_compress_struct* cinfo = &writer.cinfo;
    const ImageFile& image = *writer.image;
    const std::vector<uint8_t>& exif = writer.metadata->exif;
    installJpegErrors(writer.errors, cinfo->err);
    if (setjmp(writer.errors.jump))
        return false;
    jpeg_create_compress(cinfo);
    writer.destination.manager.init_destination = startOutput;
    writer.destination.manager.empty_output_buffer = passOutput;
    writer.destination.manager.term_destination = finishOutput;
    cinfo->dest = &writer.destination.manager;
    cinfo->image_width = JDIMENSION(image.width);
    cinfo->image_height = JDIMENSION(image.height);
    cinfo->input_components = 3;
    cinfo->in_color_space = JCS_RGB;
    jpeg_set_defaults(cinfo);
    jpeg_set_quality(cinfo, writer.quality, TRUE);
    // No chroma subsampling: the filter's output is often sharp-edged colour.
    for (int c = 0; c < cinfo->num_components; ++c) {
        cinfo->comp_info[c].h_samp_factor = 1;
        cinfo->comp_info[c].v_samp_factor = 1;
    }
    if (std::isfinite(image.dpiX) && std::isfinite(image.dpiY) && image.dpiX > 0 && image.dpiY > 0
        && image.dpiX < 65535.5 && image.dpiY < 65535.5) {
        cinfo->density_unit = 1;
        cinfo->X_density = UINT16(std::max(1.0, std::round(image.dpiX)));
        cinfo->Y_density = UINT16(std::max(1.0, std::round(image.dpiY)));
    }
    jpeg_start_compress(cinfo, TRUE);
    if (!exif.empty())
        writeMarker(cinfo, JPEG_APP0 + 1, kExifTag, sizeof kExifTag, exif.data(), unsigned(exif.size()));
    if (writer.writeXmp)
        writeMarker(
            cinfo, JPEG_APP0 + 1, kXmpTag, sizeof kXmpTag, image.xmp.data(), unsigned(image.xmp.size()));
    const size_t iccSize = image.iccProfile.size();
    const unsigned chunkCount = unsigned((iccSize + kIccChunk - 1) / kIccChunk);
    for (unsigned i = 0; i < chunkCount; ++i) {
        const size_t offset = size_t(i) * kIccChunk;
        const unsigned length = unsigned(std::min<size_t>(kIccChunk, iccSize - offset));
        const unsigned char tag[kIccHeader] = { 'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0,
            (unsigned char)(i + 1), (unsigned char)chunkCount };
        writeMarker(cinfo, JPEG_APP0 + 2, tag, kIccHeader, image.iccProfile.data() + offset, length);
    }
    // A comment longer than one segment goes on in the next.
    for (const std::string& comment : *writer.comments) {
        const auto* bytes = reinterpret_cast<const uint8_t*>(comment.data());
        for (size_t offset = 0; offset < comment.size(); offset += kMaxMarkerData)
            writeMarker(cinfo, JPEG_COM, nullptr, 0, bytes + offset,
                unsigned(std::min<size_t>(kMaxMarkerData, comment.size() - offset)));
    }
    for (int y = 0; y < image.height; ++y) {
        // libjpeg's interface is not const-correct; it only reads the row.
        JSAMPROW row = const_cast<JSAMPROW>(image.pixels.data() + size_t(y) * image.rowBytes());
        jpeg_write_scanlines(cinfo, &row, 1);
    }
    jpeg_finish_compress(cinfo);
    return true;
}

} // namespace

bool readJpeg(Bytes file, const ReadLimits& limits, ImageFile& image, std::string& error)
{
    JpegReader reader;
    reader.file = file;
    reader.limits = &limits;
    reader.image = &image;
    if (decodeJpeg(reader))
        return true;
    error = !reader.refusal.empty() ? reader.refusal : jpegFailure(reader);
    return false;
}

bool canWriteJpeg(
    const ImageFile& image, const std::vector<uint8_t>& exif, const WriteOptions& options, std::string& error)
{
    if (image.channels != 3) {
        error = "JPEG cannot hold transparency";
        return false;
    }
    if (image.bitsPerSample != 8) {
        error = "JPEG holds 8 bits per sample only";
        return false;
    }
    if (image.width > JPEG_MAX_DIMENSION || image.height > JPEG_MAX_DIMENSION) {
        error = "JPEG holds at most " + std::to_string(JPEG_MAX_DIMENSION) + " pixels on a side";
        return false;
    }
    if (options.jpegQuality < 1 || options.jpegQuality > 100) {
        error = "the JPEG quality must be 1 to 100";
        return false;
    }
    if (exif.size() > kMaxExif) {
        error = "the EXIF block (" + std::to_string(exif.size())
            + " bytes) is too large for a JPEG file, which holds at most " + std::to_string(kMaxExif);
        return false;
    }
    if (image.iccProfile.size() > size_t(255) * kIccChunk) {
        error = "the ICC profile is too large for a JPEG file";
        return false;
    }
    return true;
}

bool writeJpeg(FileWriter& out, const ImageFile& image, const OutputMetadata& metadata,
    const WriteOptions& options, std::string& error)
{
    JpegWriter writer;
    writer.destination.out = &out;
    writer.image = &image;
    writer.metadata = &metadata;
    writer.quality = options.jpegQuality;
    writer.writeXmp = !image.xmp.empty() && image.xmp.size() <= kMaxXmp;
    if (!image.xmp.empty() && !writer.writeXmp)
        metadata.drop("XMP (larger than a JPEG segment holds)");
    // PNG's own comments are the one kind of its text that JPEG has a place for.
    std::vector<std::string> comments = image.comments;
    for (const ImageFile::Text& text : image.texts) {
        if (text.keyword == "Comment")
            comments.push_back(text.text);
        else
            metadata.drop("PNG text");
    }
    writer.comments = &comments;
    if (image.hasGamma || image.hasChromaticities || image.srgbIntent >= 0)
        metadata.drop("PNG colour chunks (gAMA, cHRM, sRGB)");
    if (encodeJpeg(writer))
        return true;
    error = writer.errors.message;
    return false;
}

} // namespace quarvel::host::codec
