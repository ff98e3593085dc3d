#include "tools/host/ImageFile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <tuple>

#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

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
        const uint32_t v = smooth ? uint32_t(i % 3 == 0 ? 40 + 2 * x : i % 3 == 1 ? 60 + 3 * y : 200 - x - y)
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

const std::vector<uint8_t> kExif = {'M', 'M', 0, 42, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0xAB, 0xCD};

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
    uint32_t rowsPerStrip = 0;          // 0: one strip
    uint32_t tileSide = 0;              // 0: strips
    uint32_t rowsWritten = UINT32_MAX;  // strips only; the rest are left out
    const char* mode = "w";
    std::vector<uint8_t> samples;       // interleaved, native order; zeros when empty
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
                                &t.samples[((size_t(y0 + y) * t.width + x0 + x) * spp + (planar ? plane : s)) * bytes],
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

void writeRawJpeg(const std::string& path, int components, J_COLOR_SPACE space)
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
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<uint8_t> row(16 * size_t(components), 128);
    for (JSAMPROW pointer = row.data(); cinfo.next_scanline < 16;)
        jpeg_write_scanlines(&cinfo, &pointer, 1);
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::fclose(file);
}

// ---- names and round trips ----------------------------------------------------------------

TEST(ImageFormatTest, ComesFromTheExtensionWhateverItsCase)
{
    const std::pair<const char*, ImageFormat> cases[] = {
        {"a.png", ImageFormat::Png},      {"dir/A.PNG", ImageFormat::Png},      {"a.tif", ImageFormat::Tiff},
        {"a.TiFf", ImageFormat::Tiff},    {"a.jpg", ImageFormat::Jpeg},         {"a.JPEG", ImageFormat::Jpeg},
        {"a.png.bak", ImageFormat::Unknown}, {"png", ImageFormat::Unknown},     {"a.gif", ImageFormat::Unknown},
        {"dir.png/file", ImageFormat::Unknown}, {"a.", ImageFormat::Unknown}};
    for (const auto& [name, format] : cases)
        EXPECT_EQ(formatFromPath(name), format) << name;
}

class LosslessRoundTrip : public ImageFileTest,
                          public ::testing::WithParamInterface<std::tuple<ImageFormat, int, int>> {};

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
                         ::testing::Combine(::testing::Values(ImageFormat::Png, ImageFormat::Tiff),
                                            ::testing::Values(3, 4), ::testing::Values(8, 16)));

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
        EXPECT_EQ(cinfo.comp_info[c].h_samp_factor * cinfo.comp_info[c].v_samp_factor, 1) << "component " << c;
    jpeg_destroy_decompress(&cinfo);
    std::fclose(file);
}

// ---- layouts from other writers ------------------------------------------------------------

TEST_F(ImageFileTest, ReadsInterlacedAndKeyedPngs)
{
    const ImageFile expected = pattern(13, 11, 4, 16);
    std::vector<uint8_t> bigEndian;
    for (size_t i = 0; i < expected.pixels.size() / 2; ++i)
        bigEndian.insert(bigEndian.end(), {uint8_t(expected.samples16()[i] >> 8), uint8_t(expected.samples16()[i])});
    writeRawPng(path("a.png"), 13, 11, PNG_COLOR_TYPE_RGB_ALPHA, 16, PNG_INTERLACE_ADAM7, bigEndian);
    // A transparent key colour is transparency too, and only alpha can carry it to the plug-in.
    writeRawPng(path("key.png"), 2, 1, PNG_COLOR_TYPE_RGB, 8, 0, {10, 20, 30, 10, 20, 31}, [](auto png, auto info) {
        png_color_16 key{0, 10, 20, 30, 0};
        png_set_tRNS(png, info, nullptr, 0, &key);
    });
    ImageFile back;
    std::string error;
    ASSERT_TRUE(readImageFile(path("a.png"), back, error)) << error;
    EXPECT_TRUE(back.pixels == expected.pixels);
    ASSERT_TRUE(readImageFile(path("key.png"), back, error)) << error;
    EXPECT_EQ(back.channels, 4);
    EXPECT_EQ(back.pixels, (std::vector<uint8_t>{10, 20, 30, 0, 10, 20, 31, 255}));
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
    cases.push_back({"planar strips", t, 3, 0});
    t = raw(pattern(37, 23, 4, 8));
    t.extraSamples = {EXTRASAMPLE_UNASSALPHA};
    t.tileSide = 16; // overhangs the right and bottom edges
    t.compression = COMPRESSION_ADOBE_DEFLATE;
    cases.push_back({"chunky tiles", t, 4, 0});
    t = raw(pattern(37, 23, 3, 16));
    t.planar = PLANARCONFIG_SEPARATE;
    t.tileSide = 16;
    cases.push_back({"planar tiles", t, 3, 0});
    cases.push_back({"two extra samples, the first kept as alpha", raw(pattern(37, 23, 5, 8)), 4, 0});
    t = raw(pattern(32, 32, 3, 8, true));
    t.photometric = PHOTOMETRIC_YCBCR;
    t.compression = COMPRESSION_JPEG;
    t.rowsPerStrip = 16;
    t.extra = [](TIFF* tif) {
        TIFFSetField(tif, TIFFTAG_JPEGQUALITY, 95);
        TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    };
    cases.push_back({"JPEG-compressed YCbCr", t, 3, 6});
    t = raw(pattern(3, 1, 4, 8));
    t.extraSamples = {EXTRASAMPLE_ASSOCALPHA};
    // Straight (200, 100, 50) at alpha 128, premultiplied; opaque; fully transparent.
    t.samples = {100, 50, 25, 128, 7, 8, 9, 255, 0, 0, 0, 0};
    cases.push_back({"associated alpha, divided back out", t, 4, 1, {200, 100, 50, 128, 7, 8, 9, 255, 0, 0, 0, 0}});

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

// ---- refusals and failures ------------------------------------------------------------------

TEST_F(ImageFileTest, RefusesModesOtherThanRgbNamingThem)
{
    const std::string rgb = " images are not supported: the plug-in works on RGB images";
    const std::string depth = " images are not supported: the plug-in works on 8- and 16-bit RGB images";
    auto tiff = [](uint16_t photometric, uint16_t spp, uint16_t bits, uint16_t format = SAMPLEFORMAT_UINT) {
        return [=](const std::string& file) {
            RawTiff t;
            std::tie(t.photometric, t.samplesPerPixel, t.bits, t.format) = std::tie(photometric, spp, bits, format);
            static std::vector<uint16_t> map(256, 0);
            if (photometric == PHOTOMETRIC_PALETTE)
                t.extra = [](TIFF* tif) { TIFFSetField(tif, TIFFTAG_COLORMAP, map.data(), map.data(), map.data()); };
            writeRawTiff(file, t);
        };
    };
    auto png = [](int colourType, int bits) {
        return [=](const std::string& file) {
            std::vector<uint8_t> rows(size_t(8 * 8 * (colourType == PNG_COLOR_TYPE_GRAY_ALPHA ? 2 : 1) * bits / 8));
            writeRawPng(file, 8, 8, colourType, bits, 0, rows, [=](auto p, auto info) {
                png_color colours[2] = {{0, 0, 0}, {255, 255, 255}};
                if (colourType == PNG_COLOR_TYPE_PALETTE)
                    png_set_PLTE(p, info, colours, 2);
            });
        };
    };
    const std::tuple<const char*, std::function<void(const std::string&)>, std::string> cases[] = {
        {"grey PNG", png(PNG_COLOR_TYPE_GRAY, 8), "grey" + rgb},
        {"grey+alpha PNG", png(PNG_COLOR_TYPE_GRAY_ALPHA, 16), "grey" + rgb},
        {"palette PNG", png(PNG_COLOR_TYPE_PALETTE, 8), "palette" + rgb},
        {"grey TIFF", tiff(PHOTOMETRIC_MINISBLACK, 1, 16), "grey" + rgb},
        {"palette TIFF", tiff(PHOTOMETRIC_PALETTE, 1, 8), "palette" + rgb},
        {"CMYK TIFF", tiff(PHOTOMETRIC_SEPARATED, 4, 8), "CMYK" + rgb},
        {"1-bit RGB TIFF", tiff(PHOTOMETRIC_RGB, 3, 1), "1-bit" + depth},
        {"float RGB TIFF", tiff(PHOTOMETRIC_RGB, 3, 32, SAMPLEFORMAT_IEEEFP), "32-bit floating-point" + depth},
        {"grey JPEG", [](const std::string& f) { writeRawJpeg(f, 1, JCS_GRAYSCALE); }, "grey" + rgb},
        {"CMYK JPEG", [](const std::string& f) { writeRawJpeg(f, 4, JCS_CMYK); }, "CMYK" + rgb},
    };
    for (const auto& [name, make, message] : cases) {
        make(path("refused"));
        ImageFile image;
        std::string error;
        EXPECT_FALSE(readImageFile(path("refused"), image, error)) << name;
        EXPECT_EQ(error, message) << name;
    }
}

TEST_F(ImageFileTest, RefusesDimensionsNoFilterCouldTake)
{
    writeRawPng(path("wide.png"), 2000000, 1, PNG_COLOR_TYPE_RGB, 8, 0, std::vector<uint8_t>(6000000));
    RawTiff t; // each side allowed, but 14 GB of samples
    t.width = t.height = 70000;
    t.rowsPerStrip = t.rowsWritten = 1;
    writeRawTiff(path("vast.tif"), t);
    ImageFile image;
    std::string error;
    EXPECT_FALSE(readImageFile(path("wide.png"), image, error));
    EXPECT_NE(error.find("at most 1000000 pixels on a side"), std::string::npos) << error;
    EXPECT_FALSE(readImageFile(path("vast.tif"), image, error));
    EXPECT_NE(error.find("more than 4 GiB"), std::string::npos) << error;
}

TEST_F(ImageFileTest, ReportsMissingAndForeignFiles)
{
    ImageFile image;
    std::string error;
    EXPECT_FALSE(readImageFile(path("none.png"), image, error));
    EXPECT_EQ(error, "cannot open " + path("none.png") + ": No such file or directory");
    EXPECT_FALSE(readImageFile(dir_, image, error));
    EXPECT_EQ(error, "cannot open " + dir_ + ": Is a directory");
    std::ofstream(path("text.png")) << "GIF89a, or something else entirely";
    std::ofstream(path("empty.tif")).flush();
    for (const char* name : {"text.png", "empty.tif"}) {
        EXPECT_FALSE(readImageFile(path(name), image, error));
        EXPECT_EQ(error, "not a PNG, TIFF or JPEG file") << name;
    }
}

TEST_F(ImageFileTest, TruncatedOrCorruptFilesAreErrorsNotCrashes)
{
    const ImageFile image = pattern(64, 64, 3, 8);
    const std::pair<ImageFormat, std::string> formats[] = {
        {ImageFormat::Png, "a.png"}, {ImageFormat::Tiff, "a.tif"}, {ImageFormat::Jpeg, "a.jpg"}};
    for (const auto& [format, name] : formats) {
        std::string error;
        ASSERT_TRUE(writeImageFile(path("whole-" + name), format, image, error)) << error;
        const uintmax_t size = fs::file_size(path("whole-" + name));
        // JPEG's entropy-coded data has no checksum: there a stray marker is the damage to notice.
        std::vector<uint8_t> scramble(64, format == ImageFormat::Jpeg ? 0xFF : 0xA5);
        scramble.back() = format == ImageFormat::Jpeg ? 0xD9 : 0xA5;
        for (uintmax_t cut : {uintmax_t(12), uintmax_t(40), size / 3, size / 2, size - 10, size - 1, size}) {
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
            EXPECT_FALSE(readImageFile(path(name), back, error)) << name << (cut < size ? " cut" : " scrambled");
            EXPECT_NE(error.find("damaged or incomplete"), std::string::npos) << name << ": " << error;
        }
    }
}

TEST_F(ImageFileTest, FailedWritesSayWhyAndLeaveNothingBehind)
{
    std::string error;
    EXPECT_FALSE(writeImageFile(path("a.jpg"), ImageFormat::Jpeg, pattern(4, 4, 4, 8), error));
    EXPECT_EQ(error, "JPEG cannot hold transparency");
    EXPECT_FALSE(writeImageFile(path("a.jpg"), ImageFormat::Jpeg, pattern(4, 4, 3, 16), error));
    EXPECT_EQ(error, "JPEG holds 8 bits per sample only");
    EXPECT_FALSE(writeImageFile(path("no/a.png"), ImageFormat::Png, pattern(4, 4, 3, 8), error));
    EXPECT_EQ(error, "cannot create " + path("no/a.png") + ": No such file or directory");

    // A profile libpng cannot parse is left out rather than costing the user the whole image.
    ImageFile badProfile = pattern(4, 4, 3, 8), bigExif = badProfile, shortSamples = badProfile;
    badProfile.iccProfile.assign(50, 0x11);
    EXPECT_TRUE(writeImageFile(path("profile.png"), ImageFormat::Png, badProfile, error)) << error;
    bigExif.exif.assign(70000, 0);          // more than one JPEG marker holds
    shortSamples.pixels.pop_back();
    const std::tuple<ImageFile, ImageFormat, const char*> cases[] = {
        {bigExif, ImageFormat::Jpeg, "EXIF"},
        {shortSamples, ImageFormat::Png, "bytes"},       {shortSamples, ImageFormat::Tiff, "bytes"},
        {shortSamples, ImageFormat::Jpeg, "bytes"}};
    for (const auto& [image, format, said] : cases) {
        EXPECT_FALSE(writeImageFile(path("a.out"), format, image, error));
        EXPECT_NE(error.find(said), std::string::npos) << error;
        EXPECT_FALSE(fs::exists(path("a.out"))) << error;
    }
    EXPECT_FALSE(fs::exists(path("a.jpg")));
}

} // namespace
} // namespace quarvel::host
