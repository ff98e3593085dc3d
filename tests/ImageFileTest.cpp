#include "tools/host/ImageFile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>
#include <tuple>

#include <exiv2/exiv2.hpp>
#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>
#include <unistd.h>
#include <zlib.h>

namespace quarvel::host {
namespace {

namespace fs = std::filesystem;

// Neighbouring samples are unrelated and the two bytes of a 16-bit sample differ, so swapped
// bytes, a wrong stride or a dropped channel all show. `smooth` gives gentle RGB gradients instead.
ImageFile pattern(int width, int height, int channels, int bits, bool smooth = false)
{
    ImageFile image;
    image.width = width;
    image.height = height;
    image.channels = channels;
    image.bitsPerSample = bits;
    image.pixels.resize(image.rowBytes() * size_t(height));
    for (size_t i = 0; i < size_t(width) * size_t(height) * size_t(channels); ++i) {
        const size_t x = i / 3 % size_t(width), y = i / 3 / size_t(width);
        const uint32_t v = smooth ? uint32_t(i % 3 == 0 ? 40 + 2 * x
                                   : i % 3 == 1         ? 60 + 3 * y
                                                        : 200 - x - y)
                                  : uint32_t(i * 2654435761u >> 7) ^ uint32_t(i * 40503u);
        if (bits == 16)
            image.samples16()[i] = uint16_t(v);
        else
            image.pixels[i] = uint8_t(v);
    }
    return image;
}

// A display profile with a well-formed header, which is what libpng checks before embedding one.
std::vector<uint8_t> iccProfile(size_t size)
{
    std::vector<uint8_t> icc(size);
    auto put = [&](size_t at, uint32_t v) {
        for (size_t i = 0; i < 4; ++i)
            icc[at + i] = uint8_t(v >> (24 - 8 * i));
    };
    for (size_t i = 132; i < size; ++i)
        icc[i] = uint8_t(i * 7 + 3);
    put(0, uint32_t(size));
    put(8, 0x02100000);
    std::memcpy(&icc[12], "mntrRGB XYZ ", 12);
    std::memcpy(&icc[36], "acsp", 4);
    put(68, 0xF6D6); // D50 white
    put(72, 0x10000);
    put(76, 0xD32D);
    return icc;
}

const std::vector<uint8_t> kExif = { 'M', 'M', 0, 42, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0xAB, 0xCD };

class ImageFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string name = (fs::path(::testing::TempDir()) / "quarvel-image-XXXXXX").string();
        ASSERT_NE(mkdtemp(name.data()), nullptr);
        dir_ = name;
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string path(const std::string& name) const { return (fs::path(dir_) / name).string(); }
    std::string dir_;
};

// ---- files made with the libraries directly, in layouts our writer never produces ------------

// `rows` as stored: 16-bit samples big-endian.
void writeRawPng(const std::string& path, uint32_t width, uint32_t height, int colourType, int depth,
    int interlace, const std::vector<uint8_t>& rows,
    const std::function<void(png_structp, png_infop)>& extra = {})
{
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, file);
    png_set_user_limits(png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
    png_set_IHDR(png, info, width, height, depth, colourType, interlace, 0, 0);
    if (extra)
        extra(png, info);
    png_write_info(png, info);
    std::vector<png_bytep> pointers(height);
    for (uint32_t y = 0; y < height; ++y)
        pointers[y] = const_cast<png_bytep>(rows.data() + rows.size() / height * y);
    png_write_image(png, pointers.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
}

struct RawTiff {
    uint32_t width = 8, height = 8;
    uint16_t samplesPerPixel = 3, bits = 8, photometric = PHOTOMETRIC_RGB;
    uint16_t planar = PLANARCONFIG_CONTIG, compression = COMPRESSION_NONE, format = SAMPLEFORMAT_UINT;
    std::vector<uint16_t> extraSamples;
    uint32_t rowsPerStrip = 0; // 0: one strip
    uint32_t tileSide = 0; // 0: strips
    uint32_t rowsWritten = UINT32_MAX; // strips only; the rest are left out
    const char* mode = "w";
    std::vector<uint8_t> samples; // interleaved, native order; zeros when empty
    std::function<void(TIFF*)> extra;
};

void writeRawTiff(const std::string& path, const RawTiff& t)
{
    TIFF* tif = TIFFOpen(path.c_str(), t.mode);
    ASSERT_NE(tif, nullptr);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, t.width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, t.height);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, t.samplesPerPixel);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, t.bits);
    TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, t.format);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, t.photometric);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, t.planar);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, t.compression);
    if (!t.extraSamples.empty())
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, uint16_t(t.extraSamples.size()), t.extraSamples.data());
    if (t.tileSide) {
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, t.tileSide);
        TIFFSetField(tif, TIFFTAG_TILELENGTH, t.tileSide);
    } else {
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, t.rowsPerStrip ? t.rowsPerStrip : t.height);
    }
    if (t.extra)
        t.extra(tif);
    const bool planar = t.planar == PLANARCONFIG_SEPARATE;
    const size_t bytes = t.bits / 8u, spp = t.samplesPerPixel, perPixel = planar ? 1 : spp;
    // A block of `blockWidth` x `rows` pixels at (x0, y0), zero beyond the image.
    auto fill = [&](std::vector<uint8_t>& block, uint32_t x0, uint32_t y0, uint32_t blockWidth, uint32_t rows,
                    size_t plane) {
        std::fill(block.begin(), block.end(), uint8_t(0));
        for (uint32_t y = 0; y < rows && bytes && !t.samples.empty(); ++y)
            for (uint32_t x = 0; x < blockWidth && x0 + x < t.width && y0 + y < t.height; ++x)
                for (size_t s = 0; s < perPixel; ++s)
                    std::memcpy(&block[((size_t(y) * blockWidth + x) * perPixel + s) * bytes],
                        &t.samples[((size_t(y0 + y) * t.width + x0 + x) * spp + (planar ? plane : s))
                            * bytes],
                        bytes);
    };
    for (size_t plane = 0; plane < (planar ? spp : 1); ++plane) {
        std::vector<uint8_t> block(size_t(t.tileSide ? TIFFTileSize(tif) : TIFFScanlineSize(tif)));
        for (uint32_t y = 0; y < std::min(t.height, t.rowsWritten); y += t.tileSide ? t.tileSide : 1)
            for (uint32_t x = 0; x < t.width; x += t.tileSide ? t.tileSide : t.width) {
                fill(block, x, y, t.tileSide ? t.tileSide : t.width, t.tileSide ? t.tileSide : 1, plane);
                if (t.tileSide)
                    ASSERT_GE(TIFFWriteTile(tif, block.data(), x, y, 0, uint16_t(plane)), 0);
                else
                    ASSERT_EQ(TIFFWriteScanline(tif, block.data(), y, uint16_t(plane)), 1);
            }
    }
    TIFFWriteDirectory(tif);
    TIFFClose(tif);
}

void writeRawJpeg(const std::string& path, int components, J_COLOR_SPACE space, bool progressive = false)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    jpeg_compress_struct cinfo;
    jpeg_error_mgr errors;
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, file);
    cinfo.image_width = cinfo.image_height = 16;
    cinfo.input_components = components;
    cinfo.in_color_space = space;
    jpeg_set_defaults(&cinfo);
    if (progressive) {
        jpeg_simple_progression(&cinfo);
        for (int c = 0; c < cinfo.num_components; ++c)
            cinfo.comp_info[c].h_samp_factor = cinfo.comp_info[c].v_samp_factor = 1;
    }
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<uint8_t> row(16 * size_t(components), 128);
    for (JSAMPROW pointer = row.data(); cinfo.next_scanline < 16;)
        jpeg_write_scanlines(&cinfo, &pointer, 1);
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::fclose(file);
}

std::vector<uint8_t> contents(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(file), {});
}

void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream file(path, std::ios::binary);
    file.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

void appendBigEndian(std::vector<uint8_t>& bytes, uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        bytes.push_back(uint8_t(value >> shift));
}

// A PNG of the given header whose image data holds a few compressed zero bytes.
std::vector<uint8_t> pngHeaderOnly(uint32_t width, uint32_t height, uint8_t depth, uint8_t colourType)
{
    std::vector<uint8_t> file = { 0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n' };
    auto chunk = [&](const char* type, std::vector<uint8_t> data) {
        appendBigEndian(file, uint32_t(data.size()));
        data.insert(data.begin(), type, type + 4);
        file.insert(file.end(), data.begin(), data.end());
        appendBigEndian(file, uint32_t(crc32(0, data.data(), uInt(data.size()))));
    };
    std::vector<uint8_t> header;
    appendBigEndian(header, width);
    appendBigEndian(header, height);
    header.insert(header.end(), { depth, colourType, 0, 0, 0 });
    chunk("IHDR", header);
    std::vector<uint8_t> zeros(64), packed(128);
    uLongf packedSize = packed.size();
    compress(packed.data(), &packedSize, zeros.data(), zeros.size());
    packed.resize(packedSize);
    chunk("IDAT", packed);
    chunk("IEND", {});
    return file;
}

// A block with something of every directory the host carries, as a camera would write it.
std::vector<uint8_t> cameraExif(int orientation = 0)
{
    Exiv2::ExifData data;
    data["Exif.Image.Make"] = "Acme";
    data["Exif.Photo.ExposureTime"] = Exiv2::URational(1, 250);
    data["Exif.GPSInfo.GPSAltitude"] = Exiv2::URational(1200, 1);
    if (orientation)
        data["Exif.Image.Orientation"] = uint16_t(orientation);
    Exiv2::Blob blob;
    Exiv2::ExifParser::encode(blob, Exiv2::littleEndian, data);
    return std::vector<uint8_t>(blob.begin(), blob.end());
}

std::string exifValue(const std::vector<uint8_t>& exif, const char* key)
{
    Exiv2::ExifData data;
    if (exif.empty())
        return "";
    Exiv2::ExifParser::decode(data, exif.data(), uint32_t(exif.size()));
    const auto found = data.findKey(Exiv2::ExifKey(key));
    return found == data.end() ? "" : found->toString();
}

// ---- names and round trips ----------------------------------------------------------------

TEST(ImageFormatTest, ComesFromTheExtensionWhateverItsCase)
{
    const std::pair<const char*, ImageFormat> cases[]
        = { { "a.png", ImageFormat::Png }, { "dir/A.PNG", ImageFormat::Png }, { "a.tif", ImageFormat::Tiff },
              { "a.TiFf", ImageFormat::Tiff }, { "a.jpg", ImageFormat::Jpeg },
              { "a.JPEG", ImageFormat::Jpeg }, { "a.png.bak", ImageFormat::Unknown },
              { "png", ImageFormat::Unknown }, { "a.gif", ImageFormat::Unknown },
              { "dir.png/file", ImageFormat::Unknown }, { "a.", ImageFormat::Unknown },
              { "C:\\x.y\\A.PNG", ImageFormat::Png }, { "x.png\\noextension", ImageFormat::Unknown } };
    for (const auto& [name, format] : cases)
        EXPECT_EQ(formatFromPath(name), format) << name;
}

class LosslessRoundTrip : public ImageFileTest,
                          public ::testing::WithParamInterface<std::tuple<ImageFormat, int, int>> { };

TEST_P(LosslessRoundTrip, KeepsSamplesProfileAndResolution)
{
    const auto [format, channels, bits] = GetParam();
    ImageFile image = pattern(37, 23, channels, bits); // odd sizes catch stride mistakes
    image.iccProfile = iccProfile(400);
    image.exif = kExif;
    image.dpiX = 300;
    image.dpiY = 150;
    // Named for another format: the content decides how it is read.
    const std::string file = path(format == ImageFormat::Png ? "out.jpg" : "out.png");
    std::string error;
    ASSERT_TRUE(writeImageFile(file, format, image, error)) << error;
    ImageFile back;
    ASSERT_TRUE(readImageFile(file, back, error)) << error;
    EXPECT_EQ(std::tie(back.width, back.height, back.channels, back.bitsPerSample),
        std::make_tuple(37, 23, channels, bits));
    EXPECT_TRUE(back.pixels == image.pixels);
    EXPECT_EQ(back.iccProfile, image.iccProfile);
    EXPECT_DOUBLE_EQ(back.dpiX, 300);
    EXPECT_DOUBLE_EQ(back.dpiY, 150);
    EXPECT_EQ(back.exif, format == ImageFormat::Png ? kExif : std::vector<uint8_t>());
}

INSTANTIATE_TEST_SUITE_P(PngAndTiff, LosslessRoundTrip,
    ::testing::Combine(::testing::Values(ImageFormat::Png, ImageFormat::Tiff), ::testing::Values(3, 4),
        ::testing::Values(8, 16)),
    [](const auto& info) {
        return std::string(std::get<0>(info.param) == ImageFormat::Png ? "Png" : "Tiff")
            + (std::get<1>(info.param) == 4 ? "Rgba" : "Rgb") + std::to_string(std::get<2>(info.param));
    });

TEST_F(ImageFileTest, JpegRoundTripIsCloseKeepsMetadataAndDoesNotSubsample)
{
    ImageFile image = pattern(64, 48, 3, 8, true);
    image.iccProfile = iccProfile(150000); // three APP2 markers
    image.exif = kExif;
    image.dpiX = 300;
    image.dpiY = 72;
    std::string error;
    ASSERT_TRUE(writeImageFile(path("a.tif"), ImageFormat::Jpeg, image, error)) << error;
    ImageFile back;
    ASSERT_TRUE(readImageFile(path("a.tif"), back, error)) << error;
    ASSERT_EQ(back.pixels.size(), image.pixels.size());
    for (size_t i = 0; i < image.pixels.size(); ++i)
        ASSERT_NEAR(back.pixels[i], image.pixels[i], 3) << "sample " << i;
    EXPECT_EQ(back.iccProfile, image.iccProfile);
    EXPECT_EQ(back.exif, kExif);
    EXPECT_DOUBLE_EQ(back.dpiX, 300);
    EXPECT_DOUBLE_EQ(back.dpiY, 72);

    FILE* file = std::fopen(path("a.tif").c_str(), "rb");
    ASSERT_NE(file, nullptr);
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr errors;
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, file);
    jpeg_read_header(&cinfo, TRUE);
    for (int c = 0; c < cinfo.num_components; ++c)
        EXPECT_EQ(cinfo.comp_info[c].h_samp_factor * cinfo.comp_info[c].v_samp_factor, 1)
            << "component " << c;
    jpeg_destroy_decompress(&cinfo);
    std::fclose(file);
}

// ---- layouts from other writers ------------------------------------------------------------

TEST_F(ImageFileTest, ReadsInterlacedAndKeyedPngs)
{
    const ImageFile expected = pattern(13, 11, 4, 16);
    std::vector<uint8_t> bigEndian;
    for (size_t i = 0; i < expected.pixels.size() / 2; ++i)
        bigEndian.insert(
            bigEndian.end(), { uint8_t(expected.samples16()[i] >> 8), uint8_t(expected.samples16()[i]) });
    writeRawPng(path("a.png"), 13, 11, PNG_COLOR_TYPE_RGB_ALPHA, 16, PNG_INTERLACE_ADAM7, bigEndian);
    // A transparent key colour is transparency too, and only alpha can carry it to the plug-in.
    writeRawPng(
        path("key.png"), 2, 1, PNG_COLOR_TYPE_RGB, 8, 0, { 10, 20, 30, 10, 20, 31 }, [](auto png, auto info) {
            png_color_16 key { 0, 10, 20, 30, 0 };
            png_set_tRNS(png, info, nullptr, 0, &key);
        });
    ImageFile back;
    std::string error;
    ASSERT_TRUE(readImageFile(path("a.png"), back, error)) << error;
    EXPECT_TRUE(back.pixels == expected.pixels);
    ASSERT_TRUE(readImageFile(path("key.png"), back, error)) << error;
    EXPECT_EQ(back.channels, 4);
    EXPECT_EQ(back.pixels, (std::vector<uint8_t> { 10, 20, 30, 0, 10, 20, 31, 255 }));
}

TEST_F(ImageFileTest, ReadsTiffStripsTilesPlanesCodecsAndAlphasAlike)
{
    auto raw = [](const ImageFile& image) {
        RawTiff t;
        t.width = uint32_t(image.width);
        t.height = uint32_t(image.height);
        t.samplesPerPixel = uint16_t(image.channels);
        t.bits = uint16_t(image.bitsPerSample);
        t.samples = image.pixels;
        t.extraSamples.assign(size_t(image.channels - 3), uint16_t(0)); // of no stated meaning
        return t;
    };
    struct Case {
        const char* name;
        RawTiff tiff;
        int channels, tolerance;
        std::vector<uint8_t> expected = {}; // when not the file's own samples
    };
    std::vector<Case> cases;
    RawTiff t = raw(pattern(37, 23, 3, 16));
    t.planar = PLANARCONFIG_SEPARATE;
    t.rowsPerStrip = 3;
    t.mode = "wb"; // byte order foreign to the host
    t.compression = COMPRESSION_LZW;
    cases.push_back({ "planar strips", t, 3, 0 });
    t = raw(pattern(37, 23, 4, 8));
    t.extraSamples = { EXTRASAMPLE_UNASSALPHA };
    t.tileSide = 16; // overhangs the right and bottom edges
    t.compression = COMPRESSION_ADOBE_DEFLATE;
    cases.push_back({ "chunky tiles", t, 4, 0 });
    t = raw(pattern(37, 23, 3, 16));
    t.planar = PLANARCONFIG_SEPARATE;
    t.tileSide = 16;
    cases.push_back({ "planar tiles", t, 3, 0 });
    cases.push_back({ "two extra samples, the first kept as alpha", raw(pattern(37, 23, 5, 8)), 4, 0 });
    t = raw(pattern(1900, 1900, 5, 8, true));
    t.compression = COMPRESSION_ADOBE_DEFLATE;
    cases.push_back({ "one strip too large to decode whole", t, 4, 0 });
    t = raw(pattern(32, 32, 3, 8, true));
    t.photometric = PHOTOMETRIC_YCBCR;
    t.compression = COMPRESSION_JPEG;
    t.rowsPerStrip = 16;
    t.extra = [](TIFF* tif) {
        TIFFSetField(tif, TIFFTAG_JPEGQUALITY, 95);
        TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    };
    cases.push_back({ "JPEG-compressed YCbCr", t, 3, 6 });
    t = raw(pattern(3, 1, 4, 8));
    t.extraSamples = { EXTRASAMPLE_ASSOCALPHA };
    // Straight (200, 100, 50) at alpha 128, premultiplied; opaque; fully transparent.
    t.samples = { 100, 50, 25, 128, 7, 8, 9, 255, 0, 0, 0, 0 };
    cases.push_back(
        { "associated alpha, divided back out", t, 4, 1, { 200, 100, 50, 128, 7, 8, 9, 255, 0, 0, 0, 0 } });

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeRawTiff(path("a.tif"), c.tiff);
        ImageFile back;
        std::string error;
        ASSERT_TRUE(readImageFile(path("a.tif"), back, error)) << error;
        ASSERT_EQ(back.channels, c.channels);
        const size_t count = size_t(c.tiff.width) * c.tiff.height * size_t(c.channels);
        for (size_t i = 0; i < count; ++i) {
            const size_t from = i / size_t(c.channels) * c.tiff.samplesPerPixel + i % size_t(c.channels);
            const int want = !c.expected.empty() ? c.expected[i]
                : c.tiff.bits == 16 ? reinterpret_cast<const uint16_t*>(c.tiff.samples.data())[from]
                                    : c.tiff.samples[from];
            const int got = back.bitsPerSample == 16 ? back.samples16()[i] : back.pixels[i];
            ASSERT_NEAR(got, want, c.tolerance) << "sample " << i;
        }
    }
}

// A pipe cannot be read twice or sought in, and TIFF's directories may sit anywhere in the file.
TEST_F(ImageFileTest, ReadsFromAPipe)
{
    const ImageFile image = pattern(37, 23, 3, 8);
    for (const ImageFormat format : { ImageFormat::Png, ImageFormat::Tiff, ImageFormat::Jpeg }) {
        std::string error;
        ASSERT_TRUE(writeImageFile(path("a"), format, image, error)) << error;
        const std::vector<uint8_t> bytes = contents(path("a"));
        int ends[2];
        ASSERT_EQ(pipe(ends), 0);
        std::thread feeder([&] {
            for (size_t done = 0; done < bytes.size();) {
                const ssize_t written = write(ends[1], bytes.data() + done, bytes.size() - done);
                if (written <= 0)
                    break;
                done += size_t(written);
            }
            close(ends[1]);
        });
        ImageFile back;
        EXPECT_TRUE(readImageFile("/proc/self/fd/" + std::to_string(ends[0]), back, error)) << error;
        feeder.join();
        close(ends[0]);
        EXPECT_EQ(back.width, 37);
    }
}

// ---- pages, orientation and metadata -------------------------------------------------------

TEST_F(ImageFileTest, TakesTheFullResolutionTiffPageAndRefusesSeveral)
{
    const ImageFile full = pattern(37, 23, 3, 8);
    RawTiff thumbnail;
    thumbnail.extra = [](TIFF* tif) { TIFFSetField(tif, TIFFTAG_SUBFILETYPE, FILETYPE_REDUCEDIMAGE); };
    RawTiff page;
    page.width = 37;
    page.height = 23;
    page.samples = full.pixels;
    page.mode = "a";
    writeRawTiff(path("thumbnail-first.tif"), thumbnail);
    writeRawTiff(path("thumbnail-first.tif"), page);
    ImageFile back;
    std::string error;
    ASSERT_TRUE(readImageFile(path("thumbnail-first.tif"), back, error)) << error;
    EXPECT_EQ(std::tie(back.width, back.height), std::make_tuple(37, 23));
    EXPECT_TRUE(back.pixels == full.pixels);

    page.mode = "w";
    writeRawTiff(path("two-pages.tif"), page);
    page.mode = "a";
    writeRawTiff(path("two-pages.tif"), page);
    EXPECT_FALSE(readImageFile(path("two-pages.tif"), back, error));
    EXPECT_EQ(
        error, "the TIFF file holds 2 pages: only single-page files can be run, so that no page is lost");
}

// The pixels stay as stored; the tag that says how to show them goes wherever they go.
TEST_F(ImageFileTest, OrientationTravelsAsTiffTagAndExif)
{
    RawTiff t;
    t.samples = pattern(8, 8, 3, 8).pixels;
    t.extra = [](TIFF* tif) { TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_RIGHTTOP); };
    writeRawTiff(path("turned.tif"), t);
    ImageFile image;
    std::string error;
    ASSERT_TRUE(readImageFile(path("turned.tif"), image, error)) << error;
    EXPECT_EQ(image.orientation, 6);
    for (const auto& [name, format] : { std::pair { "a.tif", ImageFormat::Tiff },
             std::pair { "a.jpg", ImageFormat::Jpeg }, std::pair { "a.png", ImageFormat::Png } }) {
        ASSERT_TRUE(writeImageFile(path(name), format, image, error)) << error;
        ImageFile back;
        ASSERT_TRUE(readImageFile(path(name), back, error)) << error;
        EXPECT_EQ(back.orientation, 6) << name;
        if (format != ImageFormat::Tiff)
            EXPECT_EQ(exifValue(back.exif, "Exif.Image.Orientation"), "6") << name;
        // and from the EXIF block into the tag
        ASSERT_TRUE(writeImageFile(path("again.tif"), ImageFormat::Tiff, back, error)) << error;
        ASSERT_TRUE(readImageFile(path("again.tif"), back, error)) << error;
        EXPECT_EQ(back.orientation, 6) << name;
    }
    // A camera's block says 3; the image was since turned to 8: the block follows, and keeps the rest.
    ImageFile photo = pattern(8, 8, 3, 8);
    photo.exif = cameraExif(3);
    photo.orientation = 8;
    ASSERT_TRUE(writeImageFile(path("b.jpg"), ImageFormat::Jpeg, photo, error)) << error;
    ASSERT_TRUE(readImageFile(path("b.jpg"), image, error)) << error;
    EXPECT_EQ(image.orientation, 8);
    EXPECT_EQ(exifValue(image.exif, "Exif.Image.Make"), "Acme");
}

TEST_F(ImageFileTest, MetadataIsKeptWhereTheFormatHasAPlaceForIt)
{
    ImageFile image = pattern(16, 8, 3, 8, true);
    image.xmp = { '<', 'x', ':', 'x', 'm', 'p', 'm', 'e', 't', 'a', '/', '>' };
    image.comments = { "shot at dawn" };
    image.texts.push_back({ "Title", "Harbour", false, "", "" });
    image.texts.push_back({ "Description", std::string(3000, 'd'), false, "", "" }); // stored compressed
    image.texts.push_back({ "Author", "J\xC3\xA9r\xC3\xB4me", true, "fr", "Auteur" });
    image.hasGamma = true;
    image.gamma = 45455;
    image.hasChromaticities = true;
    std::copy_n(std::begin({ 31270u, 32900u, 64000u, 33000u, 30000u, 60000u, 15000u, 6000u }), 8,
        image.chromaticities);
    image.srgbIntent = 0;
    image.exif = cameraExif();
    using Texts = std::vector<std::tuple<std::string, std::string, bool, std::string, std::string>>;
    auto texts = [](const ImageFile& file) {
        Texts all;
        for (const ImageFile::Text& t : file.texts)
            all.emplace_back(t.keyword, t.text, t.international, t.language, t.translatedKeyword);
        return all;
    };
    std::string error;
    std::vector<std::string> dropped;
    ImageFile png, jpeg, tiff;
    ASSERT_TRUE(writeImageFile(path("a.png"), ImageFormat::Png, image, error, {}, &dropped)) << error;
    ASSERT_TRUE(readImageFile(path("a.png"), png, error)) << error;
    EXPECT_EQ(dropped, std::vector<std::string>());
    EXPECT_EQ(png.xmp, image.xmp);
    Texts expected = texts(image);
    expected.emplace_back("Comment", "shot at dawn", false, "", ""); // PNG's place for a comment
    EXPECT_EQ(texts(png), expected);
    EXPECT_EQ(std::tie(png.hasGamma, png.gamma, png.hasChromaticities, png.srgbIntent),
        std::make_tuple(true, 45455u, true, 0));
    EXPECT_TRUE(std::equal(png.chromaticities, png.chromaticities + 8, image.chromaticities));

    ASSERT_TRUE(writeImageFile(path("a.jpg"), ImageFormat::Jpeg, png, error, {}, &dropped)) << error;
    ASSERT_TRUE(readImageFile(path("a.jpg"), jpeg, error)) << error;
    EXPECT_EQ(dropped, (std::vector<std::string> { "PNG text", "PNG colour chunks (gAMA, cHRM, sRGB)" }));
    EXPECT_EQ(jpeg.xmp, image.xmp);
    EXPECT_EQ(jpeg.comments, std::vector<std::string> { "shot at dawn" });

    // TIFF keeps its EXIF in directories of its own, and gives it back as a block.
    dropped.clear();
    ASSERT_TRUE(writeImageFile(path("a.tif"), ImageFormat::Tiff, jpeg, error, {}, &dropped)) << error;
    ASSERT_TRUE(readImageFile(path("a.tif"), tiff, error)) << error;
    EXPECT_EQ(dropped, std::vector<std::string> { "JPEG comments" });
    EXPECT_EQ(tiff.xmp, image.xmp);
    EXPECT_TRUE(tiff.pixels == jpeg.pixels);
    for (const ImageFile* file : { &png, &jpeg, &tiff }) {
        EXPECT_EQ(exifValue(file->exif, "Exif.Image.Make"), "Acme");
        EXPECT_EQ(exifValue(file->exif, "Exif.Photo.ExposureTime"), "1/250");
        EXPECT_EQ(exifValue(file->exif, "Exif.GPSInfo.GPSAltitude"), "1200/1");
    }
    ASSERT_TRUE(writeImageFile(path("b.jpg"), ImageFormat::Jpeg, tiff, error)) << error;
    ASSERT_TRUE(readImageFile(path("b.jpg"), jpeg, error)) << error;
    EXPECT_EQ(exifValue(jpeg.exif, "Exif.Photo.ExposureTime"), "1/250");
}

TEST_F(ImageFileTest, WriteOptionsChangeTheFileNotThePixels)
{
    const ImageFile image = pattern(64, 64, 3, 8, true);
    std::string error;
    WriteOptions fast, small, rough;
    fast.pngCompression = 0;
    small.pngCompression = 9;
    rough.jpegQuality = 20;
    ASSERT_TRUE(writeImageFile(path("fast.png"), ImageFormat::Png, image, error, fast)) << error;
    ASSERT_TRUE(writeImageFile(path("small.png"), ImageFormat::Png, image, error, small)) << error;
    const ImageFile noise = pattern(64, 64, 3, 8);
    ASSERT_TRUE(writeImageFile(path("fine.jpg"), ImageFormat::Jpeg, noise, error)) << error;
    ASSERT_TRUE(writeImageFile(path("rough.jpg"), ImageFormat::Jpeg, noise, error, rough)) << error;
    EXPECT_GT(fs::file_size(path("fast.png")), 3 * fs::file_size(path("small.png")));
    EXPECT_GT(fs::file_size(path("fine.jpg")), 2 * fs::file_size(path("rough.jpg")));
    ImageFile back;
    ASSERT_TRUE(readImageFile(path("fast.png"), back, error)) << error;
    EXPECT_TRUE(back.pixels == image.pixels);
}

// ---- refusals and failures ------------------------------------------------------------------

TEST_F(ImageFileTest, RefusesModesOtherThanRgbNamingThem)
{
    const std::string rgb = " images are not supported: the plug-in works on RGB images";
    const std::string depth = " images are not supported: the plug-in works on 8- and 16-bit RGB images";
    auto tiff = [](uint16_t photometric, uint16_t spp, uint16_t bits, uint16_t format = SAMPLEFORMAT_UINT) {
        return [=](const std::string& file) {
            RawTiff t;
            std::tie(t.photometric, t.samplesPerPixel, t.bits, t.format)
                = std::tie(photometric, spp, bits, format);
            static std::vector<uint16_t> map(256, 0);
            if (photometric == PHOTOMETRIC_PALETTE)
                t.extra = [](TIFF* tif) {
                    TIFFSetField(tif, TIFFTAG_COLORMAP, map.data(), map.data(), map.data());
                };
            writeRawTiff(file, t);
        };
    };
    auto png = [](int colourType, int bits) {
        return [=](const std::string& file) {
            std::vector<uint8_t> rows(
                size_t(8 * 8 * (colourType == PNG_COLOR_TYPE_GRAY_ALPHA ? 2 : 1) * bits / 8));
            writeRawPng(file, 8, 8, colourType, bits, 0, rows, [=](auto p, auto info) {
                png_color colours[2] = { { 0, 0, 0 }, { 255, 255, 255 } };
                if (colourType == PNG_COLOR_TYPE_PALETTE)
                    png_set_PLTE(p, info, colours, 2);
            });
        };
    };
    const std::tuple<const char*, std::function<void(const std::string&)>, std::string> cases[] = {
        { "grey PNG", png(PNG_COLOR_TYPE_GRAY, 8), "grey" + rgb },
        { "grey+alpha PNG", png(PNG_COLOR_TYPE_GRAY_ALPHA, 16), "grey" + rgb },
        { "palette PNG", png(PNG_COLOR_TYPE_PALETTE, 8), "palette" + rgb },
        { "grey TIFF", tiff(PHOTOMETRIC_MINISBLACK, 1, 16), "grey" + rgb },
        { "palette TIFF", tiff(PHOTOMETRIC_PALETTE, 1, 8), "palette" + rgb },
        { "CMYK TIFF", tiff(PHOTOMETRIC_SEPARATED, 4, 8), "CMYK" + rgb },
        { "1-bit RGB TIFF", tiff(PHOTOMETRIC_RGB, 3, 1), "1-bit" + depth },
        { "float RGB TIFF", tiff(PHOTOMETRIC_RGB, 3, 32, SAMPLEFORMAT_IEEEFP),
            "32-bit floating-point" + depth },
        { "grey JPEG", [](const std::string& f) { writeRawJpeg(f, 1, JCS_GRAYSCALE); }, "grey" + rgb },
        { "CMYK JPEG", [](const std::string& f) { writeRawJpeg(f, 4, JCS_CMYK); }, "CMYK" + rgb },
    };
    for (const auto& [name, make, message] : cases) {
        make(path("refused"));
        ImageFile image;
        std::string error;
        EXPECT_FALSE(readImageFile(path("refused"), image, error)) << name;
        EXPECT_EQ(error, message) << name;
    }
}

// Each announces far more than it holds; all are refused from the header, before the memory
// the header asks for is taken.
TEST_F(ImageFileTest, RefusesDecompressionBombsFromTheirHeaders)
{
    writeBytes(path("wide.png"), pngHeaderOnly(2147483647, 1, 16, PNG_COLOR_TYPE_RGB_ALPHA));
    writeBytes(path("vast.png"), pngHeaderOnly(2147483647, 2147483647, 8, PNG_COLOR_TYPE_RGB));
    RawTiff t;
    t.width = 1000000;
    t.height = 1000;
    t.compression = COMPRESSION_ADOBE_DEFLATE;
    t.rowsPerStrip = t.rowsWritten = 1;
    writeRawTiff(path("wide.tif"), t);
    const std::string side = ": a filter plug-in takes at most 32767 pixels on a side";
    const std::pair<const char*, std::string> cases[]
        = { { "wide.png", "the image is too large (2147483647 x 1 pixels)" + side },
              { "vast.png", "the image is too large (2147483647 x 2147483647 pixels)" + side },
              { "wide.tif", "the image is too large (1000000 x 1000 pixels)" + side } };
    for (const auto& [name, message] : cases) {
        ImageFile image;
        std::string error;
        EXPECT_FALSE(readImageFile(path(name), image, error)) << name;
        EXPECT_EQ(error, message);
    }

    // Within the sides, but a progressive JPEG is held whole as coefficients before its first
    // row: 30000² at full colour resolution needs 2.7 GB of samples and 5.4 GB of those.
    writeRawJpeg(path("small.jpg"), 3, JCS_RGB, true);
    std::vector<uint8_t> jpeg = contents(path("small.jpg"));
    const uint8_t progressiveFrame[] = { 0xFF, 0xC2 };
    const auto frame
        = std::search(jpeg.begin(), jpeg.end(), std::begin(progressiveFrame), std::end(progressiveFrame));
    ASSERT_NE(frame, jpeg.end());
    const size_t at = size_t(frame - jpeg.begin()) + 5; // marker, length, precision
    jpeg[at] = jpeg[at + 2] = uint8_t(30000 >> 8);
    jpeg[at + 1] = jpeg[at + 3] = uint8_t(30000 & 0xFF);
    writeBytes(path("vast.jpg"), jpeg);
    ReadLimits limits;
    limits.maxBytes = uint64_t(4) << 30;
    ImageFile image;
    std::string error;
    EXPECT_FALSE(readImageFile(path("vast.jpg"), image, error, limits));
    EXPECT_EQ(error,
        "the image is too large (30000 x 30000 pixels): decoding it would take 8.2 GB, more than "
        "the 4.3 GB allowed");
}

TEST_F(ImageFileTest, ReportsMissingAndForeignFiles)
{
    ImageFile image;
    std::string error;
    EXPECT_FALSE(readImageFile(path("none.png"), image, error));
    // The caller names the file; the reason is the system's.
    EXPECT_EQ(error, "cannot open the file: No such file or directory");
    EXPECT_FALSE(readImageFile(dir_, image, error));
    EXPECT_EQ(error, "cannot open the file: Is a directory");
    std::ofstream(path("text.png")) << "GIF89a, or something else entirely";
    std::ofstream(path("empty.tif")).flush();
    for (const char* name : { "text.png", "empty.tif" }) {
        EXPECT_FALSE(readImageFile(path(name), image, error));
        EXPECT_EQ(error, "not a PNG, TIFF or JPEG file") << name;
    }
}

// Sound files of kinds libjpeg does not decode: a frame header and a scan header say enough.
TEST_F(ImageFileTest, CallsValidButUnsupportedJpegsUnsupported)
{
    auto frame = [](uint8_t type, uint8_t precision) {
        return std::vector<uint8_t> { 0xFF, 0xD8, 0xFF, type, 0, 11, precision, 0, 16, 0, 16, 1, 1, 0x11, 0,
            0xFF, 0xDA, 0, 8, 1, 1, 0, 0, 63, 0 };
    };
    const std::string rest = " are not supported: only baseline and progressive JPEG can be read";
    const std::tuple<const char*, std::vector<uint8_t>, std::string> cases[]
        = { { "12-bit", frame(0xC1, 12), "12-bit JPEG files are not supported: only 8-bit JPEG can be read" },
              { "lossless", frame(0xC3, 8), "lossless JPEG files" + rest },
              { "hierarchical", frame(0xC5, 8), "hierarchical JPEG files" + rest } };
    for (const auto& [name, bytes, message] : cases) {
        writeBytes(path("a.jpg"), bytes);
        ImageFile image;
        std::string error;
        EXPECT_FALSE(readImageFile(path("a.jpg"), image, error)) << name;
        EXPECT_EQ(error, message);
    }
}

// What would fail after a long run is known before it starts.
TEST_F(ImageFileTest, CanWriteSaysBeforeTheRunWhatTheWriteWouldRefuse)
{
    ImageFile image = pattern(4, 4, 3, 8);
    image.pixels.clear(); // the shape and metadata are enough
    ImageFile alpha = image, deep = image, bigExif = image;
    alpha.channels = 4;
    deep.bitsPerSample = 16;
    bigExif.exif.assign(70000, 0);
    WriteOptions badLevel, badQuality;
    badLevel.pngCompression = 10;
    badQuality.jpegQuality = 0;
    const std::tuple<const ImageFile*, ImageFormat, WriteOptions, std::string> cases[]
        = { { &alpha, ImageFormat::Jpeg, {}, "JPEG cannot hold transparency" },
              { &deep, ImageFormat::Jpeg, {}, "JPEG holds 8 bits per sample only" },
              { &bigExif, ImageFormat::Jpeg, {},
                  "the EXIF block (70000 bytes) is too large for a JPEG file, which holds at most 65527" },
              { &image, ImageFormat::Png, badLevel, "the PNG compression level must be 0 to 9" },
              { &image, ImageFormat::Jpeg, badQuality, "the JPEG quality must be 1 to 100" },
              { &image, ImageFormat::Unknown, {}, "no output format was given" } };
    for (const auto& [file, format, options, message] : cases) {
        std::string error;
        EXPECT_FALSE(canWriteImageFile(*file, format, options, error)) << message;
        EXPECT_EQ(error, message);
    }
    std::string error;
    for (const ImageFormat format : { ImageFormat::Png, ImageFormat::Tiff })
        EXPECT_TRUE(canWriteImageFile(bigExif, format, {}, error)) << error;
    EXPECT_TRUE(canWriteImageFile(alpha, ImageFormat::Png, {}, error)) << error;
}

TEST_F(ImageFileTest, TruncatedOrCorruptFilesAreErrorsNotCrashes)
{
    const ImageFile image = pattern(64, 64, 3, 8);
    const std::pair<ImageFormat, std::string> formats[]
        = { { ImageFormat::Png, "a.png" }, { ImageFormat::Tiff, "a.tif" }, { ImageFormat::Jpeg, "a.jpg" } };
    for (const auto& [format, name] : formats) {
        std::string error;
        ASSERT_TRUE(writeImageFile(path("whole-" + name), format, image, error)) << error;
        const uintmax_t size = fs::file_size(path("whole-" + name));
        // JPEG's entropy-coded data has no checksum: there a stray marker is the damage to notice.
        std::vector<uint8_t> scramble(64, format == ImageFormat::Jpeg ? 0xFF : 0xA5);
        scramble.back() = format == ImageFormat::Jpeg ? 0xD9 : 0xA5;
        for (uintmax_t cut :
            { uintmax_t(12), uintmax_t(40), size / 3, size / 2, size - 10, size - 1, size }) {
            fs::copy_file(path("whole-" + name), path(name), fs::copy_options::overwrite_existing);
            if (cut < size) {
                fs::resize_file(path(name), cut);
            } else {
                std::fstream file(path(name), std::ios::in | std::ios::out | std::ios::binary);
                file.seekp(std::streamoff(size / 2));
                file.write(reinterpret_cast<const char*>(scramble.data()), std::streamsize(scramble.size()));
            }
            ImageFile back;
            error.clear();
            EXPECT_FALSE(readImageFile(path(name), back, error))
                << name << (cut < size ? " cut" : " scrambled");
            EXPECT_NE(error.find("damaged or incomplete"), std::string::npos) << name << ": " << error;
        }
    }
}

TEST_F(ImageFileTest, FailedWritesSayWhyAndLeaveNothingBehind)
{
    std::string error;
    // What canWriteImageFile refuses (its own test) is refused here too, before a file exists.
    EXPECT_FALSE(writeImageFile(path("a.jpg"), ImageFormat::Jpeg, pattern(4, 4, 4, 8), error));
    EXPECT_FALSE(writeImageFile(path("no/a.png"), ImageFormat::Png, pattern(4, 4, 3, 8), error));
    EXPECT_EQ(error, "cannot create the file: No such file or directory");
    // A full disk is named as such, whichever codec met it.
    for (const ImageFormat format : { ImageFormat::Png, ImageFormat::Tiff, ImageFormat::Jpeg }) {
        EXPECT_FALSE(writeImageFile("/dev/full", format, pattern(64, 64, 3, 8), error));
        EXPECT_EQ(error, "cannot write the file: No space left on device");
    }

    // A profile libpng cannot parse is left out rather than costing the user the whole image.
    ImageFile badProfile = pattern(4, 4, 3, 8), bigExif = badProfile, shortSamples = badProfile;
    badProfile.iccProfile.assign(50, 0x11);
    EXPECT_TRUE(writeImageFile(path("profile.png"), ImageFormat::Png, badProfile, error)) << error;
    bigExif.exif.assign(70000, 0); // more than one JPEG marker holds
    shortSamples.pixels.pop_back();
    const std::tuple<ImageFile, ImageFormat, const char*> cases[]
        = { { bigExif, ImageFormat::Jpeg, "EXIF" }, { shortSamples, ImageFormat::Png, "bytes" },
              { shortSamples, ImageFormat::Tiff, "bytes" }, { shortSamples, ImageFormat::Jpeg, "bytes" } };
    for (const auto& [image, format, said] : cases) {
        EXPECT_FALSE(writeImageFile(path("a.out"), format, image, error));
        EXPECT_NE(error.find(said), std::string::npos) << error;
        EXPECT_FALSE(fs::exists(path("a.out"))) << error;
    }
    EXPECT_FALSE(fs::exists(path("a.jpg")));
}

} // namespace
} // namespace quarvel::host
