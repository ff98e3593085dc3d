// PNG through libpng. libpng reports errors by longjmp: every call into it that can fail is
// made from a "decode"/"encode" function whose frame holds nothing with a destructor; the state
// lives in a context object owned by the caller, which cleans up once the function has returned.
#include "tools/host/ImageCodecs.h"

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <png.h>

namespace quarvel::host::codec {

namespace {

const char* const kXmpKeyword = "XML:com.adobe.xmp";
// Read and written as they stand: libpng would otherwise derive one from another (an sRGB chunk
// reads back as gAMA and cHRM too) and check them against the profile, where we only carry them.
const png_byte kColourChunks[] = "gAMA\0cHRM\0sRGB";
constexpr int kColourChunkCount = 3;
// Longer texts are stored compressed, as other writers do.
constexpr size_t kCompressTextAbove = 1024;

uint32_t bigEndian32(const uint8_t* bytes)
{
    return uint32_t(bytes[0]) << 24 | uint32_t(bytes[1]) << 16 | uint32_t(bytes[2]) << 8 | bytes[3];
}

void putBigEndian32(uint8_t* bytes, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[i] = uint8_t(value >> (24 - 8 * i));
}

bool hostIsLittleEndian()
{
    const uint16_t probe = 1;
    unsigned char first = 0;
    std::memcpy(&first, &probe, 1);
    return first == 1;
}

// Files store resolution as whole dots per metre; the user almost always meant a whole number
// of dots per inch, so take it when it is what the stored value came from.
double dpiFromMetre(double perMetre)
{
    const double dpi = perMetre * 0.0254;
    const double whole = std::round(dpi);
    return std::round(whole / 0.0254) == perMetre ? whole : dpi;
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

void pngWarning(png_structp, png_const_charp) { }

// ---- reading ---------------------------------------------------------------------------------

struct PngReader {
    Bytes file;
    size_t position = 0;
    const ReadLimits* limits = nullptr;
    ImageFile* image = nullptr;
    png_structp png = nullptr;
    png_infop info = nullptr;
    std::string refusal; // set when the file is sound but cannot be taken
    char message[256] = {}; // what libpng said before giving up

    ~PngReader()
    {
        if (png)
            png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    }
};

void readError(png_structp png, png_const_charp message)
{
    auto* reader = static_cast<PngReader*>(png_get_error_ptr(png));
    std::snprintf(reader->message, sizeof reader->message, "%s", message ? message : "unknown error");
    png_longjmp(png, 1);
}

void readFromMemory(png_structp png, png_bytep into, size_t length)
{
    auto* reader = static_cast<PngReader*>(png_get_io_ptr(png));
    if (length > reader->file.size - reader->position)
        png_error(png, "the file ends before the image does");
    std::memcpy(into, reader->file.data + reader->position, length);
    reader->position += length;
}

bool decodePng(PngReader& reader)
{
    png_structp png = reader.png;
    png_infop info = reader.info;
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_read_fn(png, &reader, readFromMemory);
    // Our own check has spoken by now; libpng's stays on behind it.
    const auto maxSide = png_uint_32(std::max(reader.limits->maxSide, 1));
    png_set_user_limits(png, maxSide, maxSide);
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_ALWAYS, kColourChunks, kColourChunkCount);
    png_read_info(png, info);

    png_uint_32 width = 0, height = 0;
    int depth = 0, colourType = 0, interlace = 0;
    png_get_IHDR(png, info, &width, &height, &depth, &colourType, &interlace, nullptr, nullptr);
    if (colourType == PNG_COLOR_TYPE_GRAY || colourType == PNG_COLOR_TYPE_GRAY_ALPHA) {
        reader.refusal = modeRefused("grey");
        return false;
    }
    if (colourType == PNG_COLOR_TYPE_PALETTE) {
        reader.refusal = modeRefused("palette");
        return false;
    }
    if (colourType != PNG_COLOR_TYPE_RGB && colourType != PNG_COLOR_TYPE_RGB_ALPHA) {
        reader.refusal = modeRefused("PNG colour type " + std::to_string(colourType));
        return false;
    }
    if (depth != 8 && depth != 16) {
        reader.refusal = depthRefused(unsigned(depth));
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

    ImageFile& image = *reader.image;
    if (!beginImage(image, width, height, channels, depth, 0, *reader.limits, reader.refusal))
        return false;
    if (png_get_rowbytes(png, info) != image.rowBytes() || png_get_channels(png, info) != channels) {
        reader.refusal = "the PNG file's rows do not have the expected layout";
        return false;
    }
    // Each interlaced pass fills in some pixels of every row, so rows go straight into the image.
    const size_t rowBytes = image.rowBytes();
    for (int pass = 0; pass < passes; ++pass)
        for (png_uint_32 y = 0; y < height; ++y)
            png_read_row(png, imageRows(image, size_t(y) + 1) + size_t(y) * rowBytes, nullptr);
    // Text and eXIf may follow the image data.
    png_read_end(png, info);
    return true;
}

void readPngMetadata(png_structp png, png_infop info, ImageFile& image)
{
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
    image.orientation = exifOrientation(image.exif);
    png_uint_32 resX = 0, resY = 0;
    int unit = 0;
    if (png_get_pHYs(png, info, &resX, &resY, &unit) && unit == PNG_RESOLUTION_METER && resX && resY) {
        image.dpiX = dpiFromMetre(resX);
        image.dpiY = dpiFromMetre(resY);
    }

    png_textp texts = nullptr;
    int textCount = 0;
    png_get_text(png, info, &texts, &textCount);
    for (int i = 0; i < textCount; ++i) {
        const png_text& t = texts[i];
        const bool international
            = t.compression == PNG_ITXT_COMPRESSION_NONE || t.compression == PNG_ITXT_COMPRESSION_zTXt;
        std::string text(t.text ? t.text : "", international ? t.itxt_length : t.text_length);
        const std::string keyword = t.key ? t.key : "";
        if (keyword == kXmpKeyword && image.xmp.empty()) {
            image.xmp.assign(text.begin(), text.end());
            continue;
        }
        ImageFile::Text entry;
        entry.keyword = keyword;
        entry.text = std::move(text);
        entry.international = international;
        if (international) {
            entry.language = t.lang ? t.lang : "";
            entry.translatedKeyword = t.lang_key ? t.lang_key : "";
        }
        image.texts.push_back(std::move(entry));
    }

    png_unknown_chunkp chunks = nullptr;
    const int chunkCount = png_get_unknown_chunks(png, info, &chunks);
    for (int i = 0; i < chunkCount; ++i) {
        const png_unknown_chunk& chunk = chunks[i];
        const char* type = reinterpret_cast<const char*>(chunk.name);
        if (std::memcmp(type, "gAMA", 4) == 0 && chunk.size == 4 && !image.hasGamma) {
            image.gamma = bigEndian32(chunk.data);
            image.hasGamma = image.gamma != 0;
        } else if (std::memcmp(type, "cHRM", 4) == 0 && chunk.size == 32 && !image.hasChromaticities) {
            for (int c = 0; c < 8; ++c)
                image.chromaticities[c] = bigEndian32(chunk.data + 4 * c);
            image.hasChromaticities = true;
        } else if (std::memcmp(type, "sRGB", 4) == 0 && chunk.size == 1 && chunk.data[0] <= 3
            && image.srgbIntent < 0) {
            image.srgbIntent = chunk.data[0];
        }
    }
}

// ---- writing ---------------------------------------------------------------------------------

struct PngWriter {
    FileWriter* out = nullptr;
    const ImageFile* image = nullptr;
    const OutputMetadata* metadata = nullptr;
    int compression = -1;
    std::vector<png_text> texts;
    std::vector<png_unknown_chunk> chunks;
    png_structp png = nullptr;
    png_infop info = nullptr;
    char message[256] = {};

    ~PngWriter()
    {
        if (png)
            png_destroy_write_struct(&png, info ? &info : nullptr);
    }
};

void writeError(png_structp png, png_const_charp message)
{
    auto* writer = static_cast<PngWriter*>(png_get_error_ptr(png));
    std::snprintf(writer->message, sizeof writer->message, "%s", message ? message : "unknown error");
    png_longjmp(png, 1);
}

void writeToFile(png_structp png, png_bytep data, size_t length)
{
    auto* writer = static_cast<PngWriter*>(png_get_io_ptr(png));
    writer->out->write(data, length);
    if (writer->out->failed())
        png_error(png, "the file cannot take the data");
}

void flushNothing(png_structp) { }

bool encodePng(PngWriter& writer)
{
    png_structp png = writer.png;
    png_infop info = writer.info;
    const ImageFile& image = *writer.image;
    const std::vector<uint8_t>& exif = writer.metadata->exif;
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_write_fn(png, &writer, writeToFile, flushNothing);
    if (writer.compression >= 0)
        png_set_compression_level(png, writer.compression);
    png_set_IHDR(png, info, png_uint_32(image.width), png_uint_32(image.height), image.bitsPerSample,
        image.channels == 4 ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
        PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!image.iccProfile.empty())
        png_set_iCCP(png, info, "ICC Profile", PNG_COMPRESSION_TYPE_BASE, image.iccProfile.data(),
            png_uint_32(image.iccProfile.size()));
    if (!exif.empty())
        png_set_eXIf_1(png, info, png_uint_32(exif.size()), const_cast<png_bytep>(exif.data()));
    if (std::isfinite(image.dpiX) && std::isfinite(image.dpiY) && image.dpiX > 0 && image.dpiY > 0) {
        const double perMetreX = std::round(image.dpiX / 0.0254);
        const double perMetreY = std::round(image.dpiY / 0.0254);
        if (perMetreX >= 1 && perMetreY >= 1 && perMetreX <= PNG_UINT_31_MAX && perMetreY <= PNG_UINT_31_MAX)
            png_set_pHYs(png, info, png_uint_32(perMetreX), png_uint_32(perMetreY), PNG_RESOLUTION_METER);
    }
    if (!writer.texts.empty())
        png_set_text(png, info, writer.texts.data(), int(writer.texts.size()));
    if (!writer.chunks.empty()) {
        png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_ALWAYS, kColourChunks, kColourChunkCount);
        png_set_unknown_chunks(png, info, writer.chunks.data(), int(writer.chunks.size()));
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

bool isAscii(const std::string& text)
{
    for (const char c : text)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

bool isUtf8(const std::string& text)
{
    for (size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const size_t length = lead < 0x80 ? 1
            : (lead >> 5) == 6            ? 2
            : (lead >> 4) == 14           ? 3
            : (lead >> 3) == 30           ? 4
                                          : 0;
        if (length == 0 || i + length > text.size())
            return false;
        for (size_t k = 1; k < length; ++k)
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                return false;
        i += length;
    }
    return true;
}

png_text textChunk(const std::string& keyword, const std::string& text, bool international,
    const std::string* language = nullptr, const std::string* translated = nullptr)
{
    png_text chunk {};
    const bool compress = text.size() > kCompressTextAbove;
    chunk.key = const_cast<png_charp>(keyword.c_str());
    chunk.text = const_cast<png_charp>(text.c_str());
    if (international) {
        chunk.compression = compress ? PNG_ITXT_COMPRESSION_zTXt : PNG_ITXT_COMPRESSION_NONE;
        chunk.itxt_length = text.size();
        chunk.lang = const_cast<png_charp>(language ? language->c_str() : "");
        chunk.lang_key = const_cast<png_charp>(translated ? translated->c_str() : "");
    } else {
        chunk.compression = compress ? PNG_TEXT_COMPRESSION_zTXt : PNG_TEXT_COMPRESSION_NONE;
        chunk.text_length = text.size();
    }
    return chunk;
}

// libpng takes a chunk's length on trust and allocates it before reading (its own limit on
// ancillary chunks is only a warning once benign errors are allowed), so a few bytes claiming a
// 2 GB text chunk would cost 2 GB. Every chunk up to IEND must lie within the file.
bool chunksFit(Bytes file)
{
    for (size_t at = 8; at + 8 <= file.size;) {
        const uint64_t length = bigEndian32(file.data + at);
        if (length > file.size - at - 8 || file.size - at - 8 - length < 4)
            return false;
        if (std::memcmp(file.data + at + 4, "IEND", 4) == 0)
            return true;
        at += size_t(length) + 12;
    }
    return true; // what is missing, libpng finds missing
}

} // namespace

bool readPng(Bytes file, const ReadLimits& limits, ImageFile& image, std::string& error)
{
    // IHDR comes first and at a fixed place: a forged size is refused before libpng sets up a thing.
    if (file.size >= 24 && std::memcmp(file.data + 12, "IHDR", 4) == 0
        && !checkSides(bigEndian32(file.data + 16), bigEndian32(file.data + 20), limits, error))
        return false;
    if (!chunksFit(file)) {
        error = "damaged or incomplete PNG file: the file ends before the image does";
        return false;
    }
    PngReader reader;
    reader.file = file;
    reader.limits = &limits;
    reader.image = &image;
    reader.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &reader, readError, pngWarning);
    if (reader.png) {
        allowBenignProblems(reader.png);
        reader.info = png_create_info_struct(reader.png);
    }
    if (!reader.info) {
        error = "not enough memory to read the PNG file";
        return false;
    }
    if (!decodePng(reader)) {
        error = !reader.refusal.empty() ? reader.refusal
                                        : std::string("damaged or incomplete PNG file: ") + reader.message;
        return false;
    }
    readPngMetadata(reader.png, reader.info, image);
    return true;
}

bool canWritePng(const ImageFile& image, const WriteOptions& options, std::string& error)
{
    if (options.pngCompression < -1 || options.pngCompression > 9) {
        error = "the PNG compression level must be 0 to 9";
        return false;
    }
    if (image.iccProfile.size() > PNG_UINT_31_MAX || image.exif.size() > PNG_UINT_31_MAX
        || image.xmp.size() > PNG_UINT_31_MAX) {
        error = "the metadata is too large for a PNG file";
        return false;
    }
    return true;
}

bool writePng(FileWriter& out, const ImageFile& image, const OutputMetadata& metadata,
    const WriteOptions& options, std::string& error)
{
    PngWriter writer;
    writer.out = &out;
    writer.image = &image;
    writer.metadata = &metadata;
    writer.compression = options.pngCompression;

    // png_text points into these strings, which must outlive the encoding.
    const std::string xmpKeyword = kXmpKeyword, commentKeyword = "Comment";
    const std::string xmp(image.xmp.begin(), image.xmp.end());
    if (!xmp.empty())
        writer.texts.push_back(textChunk(xmpKeyword, xmp, true));
    for (const ImageFile::Text& text : image.texts) {
        if (text.keyword.empty() || text.keyword.size() > 79) {
            metadata.drop("PNG text with an invalid keyword");
            continue;
        }
        writer.texts.push_back(
            textChunk(text.keyword, text.text, text.international, &text.language, &text.translatedKeyword));
    }
    // A JPEG comment has no stated encoding; UTF-8 that is not plain ASCII goes international.
    for (const std::string& comment : image.comments)
        writer.texts.push_back(textChunk(commentKeyword, comment, !isAscii(comment) && isUtf8(comment)));

    uint8_t colour[4 + 32 + 1] = {};
    auto addChunk = [&](const char* type, uint8_t* data, size_t size) {
        png_unknown_chunk chunk {};
        std::memcpy(chunk.name, type, 5);
        chunk.data = data;
        chunk.size = size;
        chunk.location = PNG_HAVE_IHDR;
        writer.chunks.push_back(chunk);
    };
    if (image.hasGamma) {
        putBigEndian32(colour, image.gamma);
        addChunk("gAMA", colour, 4);
    }
    if (image.hasChromaticities) {
        for (int c = 0; c < 8; ++c)
            putBigEndian32(colour + 4 + 4 * c, image.chromaticities[c]);
        addChunk("cHRM", colour + 4, 32);
    }
    if (image.srgbIntent >= 0 && image.srgbIntent <= 3) {
        colour[36] = uint8_t(image.srgbIntent);
        addChunk("sRGB", colour + 36, 1);
    }

    writer.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &writer, writeError, pngWarning);
    if (writer.png) {
        allowBenignProblems(writer.png);
        writer.info = png_create_info_struct(writer.png);
    }
    if (!writer.info) {
        error = "not enough memory to write the PNG file";
        return false;
    }
    if (encodePng(writer))
        return true;
    error = writer.message;
    return false;
}

} // namespace quarvel::host::codec
