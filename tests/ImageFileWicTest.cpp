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

std::string tempPath(const std::string& name) { return ::testing::TempDir() + "quarvel-wic-" + name; }

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

// zlib stream of stored blocks: valid for any decoder and needs no compressor here.
Bytes zlibStored(const Bytes& data)
{
    Bytes z = {0x78, 0x01};
    size_t at = 0;
    do {
        const size_t n = std::min<size_t>(65535, data.size() - at);
        z.push_back(at + n == data.size() ? 1 : 0);
        for (const size_t v : {n, n ^ 0xffff})
            z.insert(z.end(), {uint8_t(v), uint8_t(v >> 8)});
        z.insert(z.end(), data.begin() + long(at), data.begin() + long(at + n));
        at += n;
    } while (at < data.size());
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
    const size_t samples = image.pixels.size() / size_t(bits / 8);
    for (size_t i = 0; i < samples; ++i) {
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
    EXPECT_EQ(formatFromPath("a.png"), ImageFormat::Png);
    EXPECT_EQ(formatFromPath("C:\\x.y\\A.PNG"), ImageFormat::Png);
    EXPECT_EQ(formatFromPath("a.Tif"), ImageFormat::Tiff);
    EXPECT_EQ(formatFromPath("a.TIFF"), ImageFormat::Tiff);
    EXPECT_EQ(formatFromPath("a.jpg"), ImageFormat::Jpeg);
    EXPECT_EQ(formatFromPath("a.JPEG"), ImageFormat::Jpeg);
    EXPECT_EQ(formatFromPath("a.png.bak"), ImageFormat::Unknown);
    EXPECT_EQ(formatFromPath("photo.png\\noextension"), ImageFormat::Unknown);
    EXPECT_EQ(formatFromPath("a.bmp"), ImageFormat::Unknown);
}

struct Lossless {
    const char* extension;
    int channels, bits;
};

class ImageFileWicLossless : public ::testing::TestWithParam<Lossless> {};

TEST_P(ImageFileWicLossless, ComesBackIdentical)
{
    const Lossless c = GetParam();
    // Odd width: rows that are no multiple of four bytes.
    const ImageFile original = makeImage(37, 9, c.channels, c.bits);
    const std::string path = tempPath(std::string("lossless") + c.extension);
    std::string error;
    ASSERT_TRUE(writeImageFile(path, formatFromPath(path), original, error)) << error;
    const ImageFile back = readOrFail(path);
    EXPECT_EQ(back.width, 37);
    EXPECT_EQ(back.height, 9);
    EXPECT_EQ(back.channels, c.channels);
    EXPECT_EQ(back.bitsPerSample, c.bits);
    EXPECT_TRUE(back.pixels == original.pixels);
    EXPECT_NEAR(back.dpiX, 300, 0.01);
    EXPECT_NEAR(back.dpiY, 150, 0.01);
    std::remove(path.c_str());
}

INSTANTIATE_TEST_SUITE_P(, ImageFileWicLossless,
                         ::testing::Values(Lossless{".png", 3, 8}, Lossless{".png", 4, 8}, Lossless{".png", 3, 16},
                                           Lossless{".png", 4, 16}, Lossless{".tif", 3, 8}, Lossless{".tif", 4, 8},
                                           Lossless{".tif", 3, 16}, Lossless{".tif", 4, 16}));

TEST(ImageFileWic, ImagesLargerThanOneBandComeBackIdentical)
{
    const ImageFile original = makeImage(1001, 700, 4, 16);
    const std::string path = tempPath("large.png");
    std::string error;
    ASSERT_TRUE(writeImageFile(path, ImageFormat::Png, original, error)) << error;
    EXPECT_TRUE(readOrFail(path).pixels == original.pixels);
    std::remove(path.c_str());
}

TEST(ImageFileWic, SamplesArriveInRgbOrderAtTheirOwnScale)
{
    const std::string png8 = tempPath("known8.png"), png16 = tempPath("known16.png"), tif = tempPath("known.tif");
    save(png8, makePng(2, 8, 2, {1, 2, 3, 250, 251, 252}));
    save(png16, makePng(1, 16, 6, {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0xff, 0xfe}));
    save(tif, makeTiff(2, {8, 8, 8}, 2, {1, 2, 3, 250, 251, 252}));

    for (const std::string& path : {png8, tif}) {
        const ImageFile image = readOrFail(path);
        EXPECT_EQ(image.channels, 3);
        EXPECT_TRUE(image.pixels == Bytes({1, 2, 3, 250, 251, 252})) << path;
    }
    const ImageFile wide = readOrFail(png16);
    ASSERT_EQ(wide.channels, 4);
    ASSERT_EQ(wide.bitsPerSample, 16);
    EXPECT_EQ(wide.samples16()[0], 0x0102);
    EXPECT_EQ(wide.samples16()[1], 0x0304);
    EXPECT_EQ(wide.samples16()[2], 0x0506);
    EXPECT_EQ(wide.samples16()[3], 0xfffe);
    for (const std::string& path : {png8, png16, tif})
        std::remove(path.c_str());
}

TEST(ImageFileWic, PremultipliedAlphaIsStraightened)
{
    // Associated alpha (ExtraSamples 1): colour half of what the straight value would be.
    const std::string tif8 = tempPath("premultiplied8.tif"), tif16 = tempPath("premultiplied16.tif");
    save(tif8, makeTiff(2, {8, 8, 8, 8}, 2, {50, 100, 25, 128, 9, 9, 9, 0}, {{338, {1}}}));
    save(tif16, makeTiff(1, {16, 16, 16, 16}, 2, {0x00, 0x40, 0x00, 0x10, 0xff, 0x7f, 0xff, 0x7f}, {{338, {1}}}));

    const ImageFile narrow = readOrFail(tif8);
    ASSERT_EQ(narrow.channels, 4);
    EXPECT_TRUE(narrow.pixels == Bytes({100, 199, 50, 128, 0, 0, 0, 0}));
    const ImageFile wide = readOrFail(tif16);
    ASSERT_EQ(wide.bitsPerSample, 16);
    EXPECT_EQ(wide.samples16()[0], 0x8001);
    EXPECT_EQ(wide.samples16()[1], 0x2000);
    EXPECT_EQ(wide.samples16()[2], 65535);
    EXPECT_EQ(wide.samples16()[3], 0x7fff);
    std::remove(tif8.c_str());
    std::remove(tif16.c_str());
}

TEST(ImageFileWic, ModesOtherThanRgbAreRefusedByName)
{
    const std::string grey = "grey images are not supported: the plug-in works on RGB images";
    const std::string palette = "palette images are not supported: the plug-in works on RGB images";
    const std::string cmyk = "CMYK images are not supported: the plug-in works on RGB images";
    const std::string greyPng = tempPath("grey.png");
    writeWithWic(greyPng, GUID_ContainerFormatPng, GUID_WICPixelFormat8bppGray, 2, {10, 20});
    const std::vector<uint16_t> colourMap(3 * 256, 0);
    struct Case {
        std::string path;
        Bytes bytes;
        std::string message;
    };
    const Case cases[] = {
        {greyPng, {}, grey},
        // WIC itself decodes these two as BGRA.
        {tempPath("greyalpha.png"), makePng(2, 8, 4, {10, 200, 20, 100}), grey},
        {tempPath("greyalpha.tif"), makeTiff(2, {8, 8}, 1, {10, 200, 20, 100}, {{338, {2}}}), grey},
        {tempPath("palette.png"), makePng(2, 8, 3, {0, 1}, {{"PLTE", {1, 2, 3, 4, 5, 6}}}), palette},
        {tempPath("palette.tif"), makeTiff(2, {8}, 3, {0, 1}, {{320, colourMap}}), palette},
        {tempPath("cmyk.tif"), makeTiff(1, {8, 8, 8, 8}, 5, {10, 20, 30, 40}), cmyk},
        {tempPath("fourbit.tif"), makeTiff(2, {4, 4, 4}, 2, {0x12, 0x34, 0x56}), "4-bit images are not supported"},
        {tempPath("float.tif"), makeTiff(1, {32, 32, 32}, 2, Bytes(12, 0), {{339, {3, 3, 3}}}),
         "32-bit floating-point images are not supported"},
    };
    for (const Case& c : cases) {
        if (!c.bytes.empty())
            save(c.path, c.bytes);
        const std::string error = readError(c.path);
        EXPECT_EQ(error.rfind(c.message, 0), 0u) << c.path << ": " << error;
        std::remove(c.path.c_str());
    }
}

TEST(ImageFileWic, DamagedAndForeignFilesFailWithAReason)
{
    const Bytes good = makePng(2, 8, 2, {1, 2, 3, 4, 5, 6});
    const std::string junk = tempPath("junk.png"), bmp = tempPath("really-a-bmp.png"),
                      truncated = tempPath("truncated.png"), scrambled = tempPath("scrambled.png");
    save(junk, Bytes(100, 'x'));
    writeWithWic(bmp, GUID_ContainerFormatBmp, GUID_WICPixelFormat24bppBGR, 2, {1, 2, 3, 4, 5, 6});
    save(truncated, Bytes(good.begin(), good.begin() + 40));
    Bytes broken = good;
    std::fill(broken.end() - 30, broken.end() - 12, uint8_t(0xA5)); // inside IDAT
    save(scrambled, broken);

    EXPECT_EQ(readError(junk), "not a PNG, TIFF or JPEG file");
    EXPECT_EQ(readError(bmp), "not a PNG, TIFF or JPEG file");
    EXPECT_NE(readError(tempPath("missing.png")).find("no such file"), std::string::npos);
    EXPECT_NE(readError(truncated).find("HRESULT 0x"), std::string::npos);
    EXPECT_NE(readError(scrambled).find("HRESULT 0x"), std::string::npos);
    for (const std::string& path : {junk, bmp, truncated, scrambled})
        std::remove(path.c_str());
}

TEST(ImageFileWic, ContentDecidesTheFormatNotTheName)
{
    const std::string path = tempPath("png-inside.jpg");
    save(path, makePng(2, 8, 2, {1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(readOrFail(path).pixels, Bytes({1, 2, 3, 4, 5, 6}));
    std::remove(path.c_str());
}

// A header-only RGB display profile that libpng's checks accept.
Bytes minimalProfile()
{
    Bytes icc(132, 0);
    icc[3] = 132;
    icc[8] = 2;
    icc[9] = 0x10;
    std::copy_n("mntrRGB XYZ ", 12, icc.begin() + 12);
    std::copy_n("acsp", 4, icc.begin() + 36);
    const uint8_t d50[] = {0, 0, 0xf6, 0xd6, 0, 1, 0, 0, 0, 0, 0xd3, 0x2d};
    std::copy_n(d50, sizeof d50, icc.begin() + 68);
    return icc;
}

TEST(ImageFileWic, ColourProfileIsKept)
{
    const Bytes profile = minimalProfile();
    Bytes chunk = {'s', 'R', 'G', 'B', 'x', 0, 0};
    const Bytes z = zlibStored(profile);
    chunk.insert(chunk.end(), z.begin(), z.end());
    const std::string in = tempPath("profile-in.png"), out = tempPath("profile-out.png");
    save(in, makePng(2, 8, 2, {1, 2, 3, 4, 5, 6}, {{"iCCP", chunk}}));
    const ImageFile image = readOrFail(in);
    EXPECT_EQ(image.iccProfile, profile);

    // Wine's encoders refuse colour contexts; that may cost the profile, never the image.
    std::string error;
    ASSERT_TRUE(writeImageFile(out, ImageFormat::Png, image, error)) << error;
    const ImageFile back = readOrFail(out);
    EXPECT_EQ(back.pixels, image.pixels);
    if (!back.iccProfile.empty()) {
        EXPECT_EQ(back.iccProfile, profile);
    }
    std::remove(in.c_str());
    std::remove(out.c_str());
}

TEST(ImageFileWic, JpegKeepsFineColourDetail)
{
    // One-pixel stripes of opposite colours: chroma subsampling or a low quality smears them
    // into each other.
    ImageFile image = makeImage(64, 32, 3, 8);
    for (size_t i = 0; i < image.pixels.size(); i += 3) {
        const bool odd = (i / 3) % 2 != 0;
        image.pixels[i] = odd ? 220 : 30;
        image.pixels[i + 1] = 128;
        image.pixels[i + 2] = odd ? 30 : 220;
    }
    const std::string path = tempPath("stripes.jpg");
    std::string error;
    ASSERT_TRUE(writeImageFile(path, ImageFormat::Jpeg, image, error)) << error;
    const ImageFile back = readOrFail(path);
    ASSERT_EQ(back.pixels.size(), image.pixels.size());
    EXPECT_EQ(back.channels, 3);
    int worst = 0;
    for (size_t i = 0; i < image.pixels.size(); ++i)
        worst = std::max(worst, std::abs(int(back.pixels[i]) - int(image.pixels[i])));
    EXPECT_LE(worst, 24);
    EXPECT_NEAR(back.dpiX, 300, 0.5);
    std::remove(path.c_str());
}

TEST(ImageFileWic, RefusedWritesLeaveNoFile)
{
    const std::string jpeg = tempPath("refused.jpg");
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

    EXPECT_FALSE(writeImageFile(tempPath("no-such-folder\\x.png"), ImageFormat::Png, makeImage(4, 4, 3, 8), error));
    EXPECT_NE(error.find("HRESULT 0x8007"), std::string::npos) << error;
}

TEST(ImageFileWic, Utf8FileNamesReachTheFile)
{
    const std::string path = tempPath("Bild-\xC3\xA4\xE2\x82\xAC.png"); // "Bild-ä€.png"
    const ImageFile original = makeImage(5, 3, 3, 8);
    std::string error;
    ASSERT_TRUE(writeImageFile(path, ImageFormat::Png, original, error)) << error;
    EXPECT_TRUE(readOrFail(path).pixels == original.pixels);
    const std::wstring wide = L"quarvel-wic-Bild-\u00E4\u20AC.png";
    wchar_t folder[MAX_PATH] = {};
    MultiByteToWideChar(CP_ACP, 0, ::testing::TempDir().c_str(), -1, folder, MAX_PATH);
    EXPECT_NE(DeleteFileW((std::wstring(folder) + wide).c_str()), 0) << "the file exists under its Unicode name";
}

} // namespace
} // namespace quarvel::host
