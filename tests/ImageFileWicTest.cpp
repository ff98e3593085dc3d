// Image files through the Windows Imaging Component, run under Wine as well as Windows. The
// files that WIC cannot write (grey+alpha, CMYK, premultiplied, odd depths) are built here
// byte by byte, so the refusals are tested on the files users actually have.
#include "tools/host/ImageFile.h"

#include <windows.h>
#include <wincodec.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace quarvel::host {
namespace {

using Bytes = std::vector<uint8_t>;

void save(const std::string& path, const Bytes& bytes)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
}

bool exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void putBigEndian32(Bytes& out, uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(uint8_t(v >> shift));
}

// A zlib stream of one stored block (up to 64 KiB): valid for any decoder, no compressor needed.
Bytes zlibStored(const Bytes& data)
{
    const size_t n = data.size();
    Bytes z = {0x78, 0x01, 1, uint8_t(n), uint8_t(n >> 8), uint8_t(~n), uint8_t(~n >> 8)};
    z.insert(z.end(), data.begin(), data.end());
    uint32_t a = 1, b = 0;
    for (const uint8_t v : data) {
        a = (a + v) % 65521;
        b = (b + a) % 65521;
    }
    putBigEndian32(z, (b << 16) | a);
    return z;
}

void pngChunk(Bytes& png, const char* type, const Bytes& data)
{
    putBigEndian32(png, uint32_t(data.size()));
    const size_t start = png.size();
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), data.begin(), data.end());
    uint32_t crc = 0xffffffffu;
    for (size_t i = start; i < png.size(); ++i) {
        crc ^= png[i];
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    putBigEndian32(png, ~crc);
}

// One image row of `raw` (file byte order), unfiltered; `extra` chunks go before IDAT.
Bytes makePng(int width, int depth, int colourType, const Bytes& raw, const std::vector<std::pair<const char*, Bytes>>& extra = {})
{
    Bytes png = {0x89, 'P', 'N', 'G', 13, 10, 26, 10}, header;
    putBigEndian32(header, uint32_t(width));
    putBigEndian32(header, 1);
    header.insert(header.end(), {uint8_t(depth), uint8_t(colourType), 0, 0, 0});
    pngChunk(png, "IHDR", header);
    for (const auto& chunk : extra)
        pngChunk(png, chunk.first, chunk.second);
    Bytes row = {0};
    row.insert(row.end(), raw.begin(), raw.end());
    pngChunk(png, "IDAT", zlibStored(row));
    pngChunk(png, "IEND", {});
    return png;
}

// Little-endian, one row in one uncompressed strip, every tag SHORT; `tags` adds to the usual.
Bytes makeTiff(int width, const std::vector<uint16_t>& bits, int photometric, const Bytes& data,
               std::vector<std::pair<uint16_t, std::vector<uint16_t>>> tags = {})
{
    Bytes t = {'I', 'I', 42, 0, 0, 0, 0, 0};
    auto put16 = [&t](size_t v) { t.insert(t.end(), {uint8_t(v), uint8_t(v >> 8)}); };
    if (!data.empty())
        t.insert(t.end(), data.begin(), data.end());
    t.resize((t.size() + 1) & ~size_t(1));
    tags.insert(tags.end(), {{256, {uint16_t(width)}}, {257, {1}}, {258, bits}, {259, {1}},
                             {262, {uint16_t(photometric)}}, {273, {8}}, {277, {uint16_t(bits.size())}},
                             {278, {1}}, {279, {uint16_t(data.size())}}, {284, {1}}});
    std::sort(tags.begin(), tags.end());
    std::vector<size_t> outOfLine;
    for (const auto& tag : tags) {
        outOfLine.push_back(t.size());
        for (size_t i = 0; tag.second.size() > 2 && i < tag.second.size(); ++i)
            put16(tag.second[i]);
    }
    const size_t ifd = t.size();
    t[4] = uint8_t(ifd);
    t[5] = uint8_t(ifd >> 8);
    put16(tags.size());
    for (size_t i = 0; i < tags.size(); ++i) {
        const std::vector<uint16_t>& values = tags[i].second;
        for (const size_t v : {size_t(tags[i].first), size_t(3), values.size(), size_t(0)})
            put16(v);
        put16(values.size() > 2 ? outOfLine[i] : values[0]);
        put16(values.size() == 2 ? values[1] : values.size() > 2 ? outOfLine[i] >> 16 : 0);
    }
    put16(0);
    put16(0);
    return t;
}

// Writes with WIC itself, in a pixel format the host would never write.
void writeWithWic(const std::string& path, const GUID& container, GUID format, int width, Bytes pixels)
{
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    IWICImagingFactory* factory = nullptr;
    IWICStream* stream = nullptr;
    IWICBitmapEncoder* encoder = nullptr;
    IWICBitmapFrameEncode* frame = nullptr;
    std::wstring wide(path.begin(), path.end());
    bool ok = SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                         IID_IWICImagingFactory, reinterpret_cast<void**>(&factory))) &&
              SUCCEEDED(factory->CreateStream(&stream)) &&
              SUCCEEDED(stream->InitializeFromFilename(wide.c_str(), GENERIC_WRITE)) &&
              SUCCEEDED(factory->CreateEncoder(container, nullptr, &encoder)) &&
              SUCCEEDED(encoder->Initialize(stream, WICBitmapEncoderNoCache)) &&
              SUCCEEDED(encoder->CreateNewFrame(&frame, nullptr)) && SUCCEEDED(frame->Initialize(nullptr)) &&
              SUCCEEDED(frame->SetSize(UINT(width), 1)) && SUCCEEDED(frame->SetPixelFormat(&format)) &&
              SUCCEEDED(frame->WritePixels(1, UINT(pixels.size()), UINT(pixels.size()), pixels.data())) &&
              SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit());
    for (IUnknown* object : std::initializer_list<IUnknown*>{frame, encoder, stream, factory})
        if (object)
            object->Release();
    CoUninitialize();
    ASSERT_TRUE(ok) << path;
}

// Names for this test's files, removed when it ends.
class Scratch {
public:
    ~Scratch()
    {
        for (const std::string& path : paths_)
            std::remove(path.c_str());
    }
    std::string operator()(const std::string& name)
    {
        paths_.push_back(::testing::TempDir() + "quarvel-wic-" + name);
        return paths_.back();
    }

private:
    std::vector<std::string> paths_;
};

// Samples that differ in every channel and, for 16 bits, in both bytes, so that swapped
// channels, swapped bytes or a lost low byte all show.
ImageFile makeImage(int width, int height, int channels, int bits)
{
    ImageFile image;
    image.width = width;
    image.height = height;
    image.channels = channels;
    image.bitsPerSample = bits;
    image.dpiX = 300;
    image.dpiY = 150;
    image.pixels.resize(image.rowBytes() * size_t(height));
    uint32_t state = 12345;
    for (size_t i = 0; i < image.pixels.size() / size_t(bits / 8); ++i) {
        state = state * 1103515245u + 12345u;
        if (bits == 8)
            image.pixels[i] = uint8_t(state >> 16);
        else
            image.samples16()[i] = uint16_t(state >> 12);
    }
    return image;
}

ImageFile readOrFail(const std::string& path)
{
    ImageFile image;
    std::string error;
    EXPECT_TRUE(readImageFile(path, image, error)) << path << ": " << error;
    return image;
}

std::string readError(const std::string& path)
{
    ImageFile image;
    std::string error;
    EXPECT_FALSE(readImageFile(path, image, error)) << path;
    EXPECT_TRUE(image.pixels.empty());
    return error;
}

TEST(ImageFileWic, FormatComesFromTheExtensionAlone)
{
    const std::pair<const char*, ImageFormat> cases[] = {
        {"a.png", ImageFormat::Png},       {"C:\\x.y\\A.PNG", ImageFormat::Png},    {"a.Tif", ImageFormat::Tiff},
        {"a.TIFF", ImageFormat::Tiff},     {"a.jpg", ImageFormat::Jpeg},          {"a.JPEG", ImageFormat::Jpeg},
        {"a.png.bak", ImageFormat::Unknown}, {"x.png\\noextension", ImageFormat::Unknown}, {"a.bmp", ImageFormat::Unknown}};
    for (const auto& c : cases)
        EXPECT_EQ(formatFromPath(c.first), c.second) << c.first;
}

struct Lossless {
    const char* extension;
    int channels, bits, width, height;
};

class ImageFileWicLossless : public ::testing::TestWithParam<Lossless> {};

TEST_P(ImageFileWicLossless, ComesBackIdentical)
{
    const Lossless c = GetParam();
    Scratch scratch;
    const ImageFile original = makeImage(c.width, c.height, c.channels, c.bits);
    const std::string path = scratch(std::string("lossless") + c.extension);
    std::string error;
    ASSERT_TRUE(writeImageFile(path, formatFromPath(path), original, error)) << error;
    const ImageFile back = readOrFail(path);
    EXPECT_EQ(back.width, c.width);
    EXPECT_EQ(back.height, c.height);
    EXPECT_EQ(back.channels, c.channels);
    EXPECT_EQ(back.bitsPerSample, c.bits);
    EXPECT_TRUE(back.pixels == original.pixels);
    // PNG keeps whole pixels per metre.
    EXPECT_NEAR(back.dpiX, 300, 0.02);
    EXPECT_NEAR(back.dpiY, 150, 0.02);
}

// Odd widths make rows that are no multiple of four bytes; the last case spans several bands.
INSTANTIATE_TEST_SUITE_P(, ImageFileWicLossless,
                         ::testing::Values(Lossless{".png", 3, 8, 37, 9}, Lossless{".png", 4, 8, 37, 9},
                                           Lossless{".png", 3, 16, 37, 9}, Lossless{".png", 4, 16, 37, 9},
                                           Lossless{".tif", 3, 8, 37, 9}, Lossless{".tif", 4, 8, 37, 9},
                                           Lossless{".tif", 3, 16, 37, 9}, Lossless{".tif", 4, 16, 37, 9},
                                           Lossless{".png", 4, 16, 1001, 700}));

TEST(ImageFileWic, SamplesArriveInRgbOrderAtTheirOwnScale)
{
    Scratch scratch;
    // The PNG is named .jpg: the content decides, not the name.
    const std::string png8 = scratch("known8.jpg"), png16 = scratch("known16.png"), tif = scratch("known.tif");
    save(png8, makePng(2, 8, 2, {1, 2, 3, 250, 251, 252}));
    save(png16, makePng(1, 16, 6, {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0xff, 0xfe}));
    save(tif, makeTiff(2, {8, 8, 8}, 2, {1, 2, 3, 250, 251, 252}));
    for (const std::string& path : {png8, tif}) {
        const ImageFile image = readOrFail(path);
        EXPECT_EQ(image.channels, 3);
        EXPECT_TRUE(image.pixels == Bytes({1, 2, 3, 250, 251, 252})) << path;
    }
    const ImageFile wide = readOrFail(png16);
    ASSERT_EQ(wide.channels * wide.bitsPerSample, 64);
    EXPECT_EQ(std::vector<uint16_t>(wide.samples16(), wide.samples16() + 4),
              std::vector<uint16_t>({0x0102, 0x0304, 0x0506, 0xfffe}));
}

TEST(ImageFileWic, PremultipliedAlphaIsStraightened)
{
    Scratch scratch;
    // Associated alpha (ExtraSamples 1) at about half: the colour is stored at about half too.
    const std::string tif8 = scratch("premultiplied8.tif"), tif16 = scratch("premultiplied16.tif");
    save(tif8, makeTiff(2, {8, 8, 8, 8}, 2, {50, 100, 25, 128, 9, 9, 9, 0}, {{338, {1}}}));
    save(tif16, makeTiff(1, {16, 16, 16, 16}, 2, {0x00, 0x40, 0x00, 0x10, 0xff, 0x7f, 0xff, 0x7f}, {{338, {1}}}));
    const ImageFile narrow = readOrFail(tif8);
    EXPECT_EQ(narrow.channels, 4);
    EXPECT_TRUE(narrow.pixels == Bytes({100, 199, 50, 128, 0, 0, 0, 0}));
    const ImageFile wide = readOrFail(tif16);
    ASSERT_EQ(wide.channels * wide.bitsPerSample, 64);
    EXPECT_EQ(std::vector<uint16_t>(wide.samples16(), wide.samples16() + 4),
              std::vector<uint16_t>({0x8001, 0x2000, 65535, 0x7fff}));
}

TEST(ImageFileWic, ModesOtherThanRgbAreRefusedByName)
{
    Scratch scratch;
    const std::string grey = "grey images are not supported: the plug-in works on RGB images";
    const std::string palette = "palette images are not supported: the plug-in works on RGB images";
    const std::string cmyk = "CMYK images are not supported: the plug-in works on RGB images";
    const std::string greyPng = scratch("grey.png");
    writeWithWic(greyPng, GUID_ContainerFormatPng, GUID_WICPixelFormat8bppGray, 2, {10, 20});
    const struct {
        std::string path;
        Bytes bytes;
        std::string message;
    } cases[] = {
        {greyPng, {}, grey},
        // WIC itself decodes these two as BGRA.
        {scratch("greyalpha.png"), makePng(2, 8, 4, {10, 200, 20, 100}), grey},
        {scratch("greyalpha.tif"), makeTiff(2, {8, 8}, 1, {10, 200, 20, 100}, {{338, {2}}}), grey},
        {scratch("palette.png"), makePng(2, 8, 3, {0, 1}, {{"PLTE", {1, 2, 3, 4, 5, 6}}}), palette},
        {scratch("palette.tif"), makeTiff(2, {8}, 3, {0, 1}, {{320, std::vector<uint16_t>(768)}}), palette},
        {scratch("cmyk.tif"), makeTiff(1, {8, 8, 8, 8}, 5, {10, 20, 30, 40}), cmyk},
        {scratch("fourbit.tif"), makeTiff(2, {4, 4, 4}, 2, {0x12, 0x34, 0x56}), "4-bit images are not supported"},
        {scratch("float.tif"), makeTiff(1, {32, 32, 32}, 2, Bytes(12, 0), {{339, {3, 3, 3}}}),
         "32-bit floating-point images are not supported"},
    };
    for (const auto& c : cases) {
        if (!c.bytes.empty())
            save(c.path, c.bytes);
        const std::string error = readError(c.path);
        EXPECT_EQ(error.rfind(c.message, 0), 0u) << c.path << ": " << error;
    }
}

TEST(ImageFileWic, DamagedAndForeignFilesFailWithAReason)
{
    Scratch scratch;
    const Bytes good = makePng(2, 8, 2, {1, 2, 3, 4, 5, 6});
    const std::string junk = scratch("junk.png"), bmp = scratch("really-a-bmp.png"),
                      truncated = scratch("truncated.png"), scrambled = scratch("scrambled.png");
    save(junk, Bytes(100, 'x'));
    writeWithWic(bmp, GUID_ContainerFormatBmp, GUID_WICPixelFormat24bppBGR, 2, {1, 2, 3, 4, 5, 6});
    save(truncated, Bytes(good.begin(), good.begin() + 40));
    Bytes broken = good;
    std::fill(broken.end() - 30, broken.end() - 12, uint8_t(0xA5)); // inside IDAT
    save(scrambled, broken);

    EXPECT_EQ(readError(junk), "not a PNG, TIFF or JPEG file");
    EXPECT_EQ(readError(bmp), "not a PNG, TIFF or JPEG file");
    EXPECT_NE(readError(scratch("missing.png")).find("no such file"), std::string::npos);
    EXPECT_NE(readError(truncated).find("HRESULT 0x"), std::string::npos);
    EXPECT_NE(readError(scrambled).find("HRESULT 0x"), std::string::npos);
}

TEST(ImageFileWic, ColourProfileIsKept)
{
    // A header-only RGB display profile, which is as little as libpng's checks accept.
    Bytes profile(132, 0);
    profile[3] = 132;
    profile[8] = 2;
    std::copy_n("mntrRGB XYZ ", 12, profile.begin() + 12);
    std::copy_n("acsp", 4, profile.begin() + 36);
    profile[9] = 0x10;
    const uint8_t d50[] = {0, 0, 0xf6, 0xd6, 0, 1, 0, 0, 0, 0, 0xd3, 0x2d};
    std::copy_n(d50, sizeof d50, profile.begin() + 68);
    Bytes chunk = {'s', 'R', 'G', 'B', 'x', 0, 0};
    const Bytes z = zlibStored(profile);
    chunk.insert(chunk.end(), z.begin(), z.end());
    Scratch scratch;
    const std::string in = scratch("profile-in.png"), out = scratch("profile-out.png");
    save(in, makePng(2, 8, 2, {1, 2, 3, 4, 5, 6}, {{"iCCP", chunk}}));
    const ImageFile image = readOrFail(in);
    EXPECT_EQ(image.iccProfile, profile);

    // Wine's encoders refuse colour contexts: that may cost the profile, never the image.
    std::string error;
    ASSERT_TRUE(writeImageFile(out, ImageFormat::Png, image, error)) << error;
    const ImageFile back = readOrFail(out);
    EXPECT_EQ(back.pixels, image.pixels);
    EXPECT_TRUE(back.iccProfile.empty() || back.iccProfile == profile);
}
TEST(ImageFileWic, JpegComesBackClose)
{
    ImageFile image = makeImage(64, 48, 3, 8);
    for (size_t i = 0; i < image.pixels.size(); ++i) {
        const size_t x = i / 3 % 64, y = i / 3 / 64;
        image.pixels[i] = uint8_t(i % 3 == 0 ? x * 4 : i % 3 == 1 ? y * 5 : 255 - x * 2 - y);
    }
    Scratch scratch;
    const std::string path = scratch("smooth.jpg");
    std::string error;
    ASSERT_TRUE(writeImageFile(path, ImageFormat::Jpeg, image, error)) << error;
    const ImageFile back = readOrFail(path);
    ASSERT_EQ(back.channels, 3);
    ASSERT_EQ(back.pixels.size(), image.pixels.size());
    long total = 0;
    for (size_t i = 0; i < image.pixels.size(); ++i)
        total += std::abs(int(back.pixels[i]) - int(image.pixels[i]));
    EXPECT_LT(double(total) / double(image.pixels.size()), 2.0);
    EXPECT_NEAR(back.dpiX, 300, 0.5);
}

TEST(ImageFileWic, JpegIsWrittenAtQuality95WithoutChromaSubsampling)
{
    if (GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version"))
        GTEST_SKIP() << "Wine's JPEG encoder accepts but ignores ImageQuality and JpegYCrCbSubsampling";
    Scratch scratch;
    const std::string path = scratch("options.jpg");
    std::string error;
    ASSERT_TRUE(writeImageFile(path, ImageFormat::Jpeg, makeImage(16, 16, 3, 8), error)) << error;
    Bytes jpeg(1 << 16);
    FILE* file = std::fopen(path.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    jpeg.resize(std::fread(jpeg.data(), 1, jpeg.size(), file));
    std::fclose(file);
    int firstQuantiser = -1, components = 0;
    for (size_t i = 2; i + 19 < jpeg.size() && jpeg[i] == 0xff; i += 2 + size_t(jpeg[i + 2] << 8 | jpeg[i + 3])) {
        if (jpeg[i + 1] == 0xdb && firstQuantiser < 0)
            firstQuantiser = jpeg[i + 5];
        for (; jpeg[i + 1] == 0xc0 && components < jpeg[i + 9]; ++components)
            EXPECT_EQ(jpeg[i + 11 + size_t(3 * components)], 0x11) << "sampling of component " << components;
    }
    EXPECT_EQ(components, 3);
    // Quality 95 scales the base luminance table's 16 down to 2; the default 75 to 8.
    EXPECT_GE(firstQuantiser, 1);
    EXPECT_LE(firstQuantiser, 3);
}

TEST(ImageFileWic, FailedWritesLeaveNoFile)
{
    Scratch scratch;
    const std::string jpeg = scratch("refused.jpg");
    std::string error;
    EXPECT_FALSE(writeImageFile(jpeg, ImageFormat::Jpeg, makeImage(4, 4, 4, 8), error));
    EXPECT_EQ(error, "JPEG cannot hold transparency");
    EXPECT_FALSE(writeImageFile(jpeg, ImageFormat::Jpeg, makeImage(4, 4, 3, 16), error));
    EXPECT_EQ(error, "JPEG holds 8 bits per sample only");
    ImageFile shortBuffer = makeImage(4, 4, 3, 8);
    shortBuffer.pixels.pop_back();
    EXPECT_FALSE(writeImageFile(jpeg, ImageFormat::Jpeg, shortBuffer, error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(exists(jpeg));

    // Wider than JPEG can describe: the encoder fails only once the file has been started.
    EXPECT_FALSE(writeImageFile(jpeg, ImageFormat::Jpeg, makeImage(70000, 1, 3, 8), error));
    EXPECT_NE(error.find("HRESULT 0x"), std::string::npos) << error;
    EXPECT_FALSE(exists(jpeg));

    EXPECT_FALSE(writeImageFile(scratch("no-such-folder\\x.png"), ImageFormat::Png, makeImage(4, 4, 3, 8), error));
    EXPECT_NE(error.find("HRESULT 0x8007"), std::string::npos) << error;
}

TEST(ImageFileWic, Utf8FileNamesReachTheFile)
{
    Scratch scratch;
    const std::string path = scratch("Bild-\xC3\xA4\xE2\x82\xAC.png"); // "Bild-ä€.png"
    const ImageFile original = makeImage(5, 3, 3, 8);
    std::string error;
    ASSERT_TRUE(writeImageFile(path, ImageFormat::Png, original, error)) << error;
    EXPECT_TRUE(readOrFail(path).pixels == original.pixels);
    wchar_t folder[MAX_PATH] = {};
    MultiByteToWideChar(CP_ACP, 0, ::testing::TempDir().c_str(), -1, folder, MAX_PATH);
    EXPECT_NE(DeleteFileW((std::wstring(folder) + L"quarvel-wic-Bild-\u00E4\u20AC.png").c_str()), 0)
        << "the file exists under its Unicode name";
}

} // namespace
} // namespace quarvel::host
