// Image files through the Windows Imaging Component, run under Wine as well as Windows. The
// files that WIC cannot write (grey+alpha, CMYK, premultiplied, odd depths, headers that claim
// more than they hold, metadata) are built here byte by byte, so the refusals and the metadata
// are tested on the files users actually have.
#include "tools/host/ImageFile.h"

#include <wincodec.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
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
    Bytes z = { 0x78, 0x01, 1, uint8_t(n), uint8_t(n >> 8), uint8_t(~n), uint8_t(~n >> 8) };
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

// A header with no image data behind it: all a size check may look at.
Bytes makePngHeader(uint32_t width, uint32_t height, int depth, int colourType)
{
    Bytes png = { 0x89, 'P', 'N', 'G', 13, 10, 26, 10 }, header;
    putBigEndian32(header, width);
    putBigEndian32(header, height);
    header.insert(header.end(), { uint8_t(depth), uint8_t(colourType), 0, 0, 0 });
    pngChunk(png, "IHDR", header);
    return png;
}

// One image row of `raw` (file byte order), unfiltered; `extra` chunks go before IDAT.
Bytes makePng(int width, int depth, int colourType, const Bytes& raw,
    const std::vector<std::pair<const char*, Bytes>>& extra = {})
{
    Bytes png = makePngHeader(uint32_t(width), 1, depth, colourType);
    for (const auto& chunk : extra)
        pngChunk(png, chunk.first, chunk.second);
    Bytes row = { 0 };
    row.insert(row.end(), raw.begin(), raw.end());
    pngChunk(png, "IDAT", zlibStored(row));
    pngChunk(png, "IEND", {});
    return png;
}

using TiffTags = std::vector<std::pair<uint16_t, std::vector<uint32_t>>>;

struct TiffPage {
    uint32_t width, height;
    std::vector<uint16_t> bits;
    int photometric;
    Bytes data;
    TiffTags tags = {}; // added to the usual ones
    Bytes xmp = {};
};

// Little-endian, each page one uncompressed strip; values that fit are SHORT, the others LONG.
Bytes makeTiffPages(const std::vector<TiffPage>& pages)
{
    Bytes t = { 'I', 'I', 42, 0, 0, 0, 0, 0 };
    size_t link = 4;
    for (const TiffPage& page : pages) {
        const uint32_t strip = uint32_t(t.size());
        t.insert(t.end(), page.data.begin(), page.data.end());
        struct Entry {
            uint16_t tag, type;
            uint32_t count;
            Bytes bytes;
        };
        std::vector<Entry> entries;
        TiffTags tags = { { 256, { page.width } }, { 257, { page.height } },
            { 258, { page.bits.begin(), page.bits.end() } }, { 259, { 1 } },
            { 262, { uint32_t(page.photometric) } }, { 273, { strip } },
            { 277, { uint32_t(page.bits.size()) } }, { 278, { page.height } },
            { 279, { uint32_t(page.data.size()) } }, { 284, { 1 } } };
        tags.insert(tags.end(), page.tags.begin(), page.tags.end());
        for (const auto& tag : tags) {
            const bool wide
                = std::any_of(tag.second.begin(), tag.second.end(), [](uint32_t v) { return v > 0xffff; });
            Entry entry = { tag.first, uint16_t(wide ? 4 : 3), uint32_t(tag.second.size()), {} };
            for (const uint32_t v : tag.second)
                for (int i = 0; i < (wide ? 4 : 2); ++i)
                    entry.bytes.push_back(uint8_t(v >> 8 * i));
            entries.push_back(entry);
        }
        if (!page.xmp.empty())
            entries.push_back({ 700, 7, uint32_t(page.xmp.size()), page.xmp });
        std::sort(
            entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.tag < b.tag; });
        std::vector<Bytes> fields;
        for (const Entry& entry : entries) {
            t.resize((t.size() + 1) & ~size_t(1));
            Bytes field = entry.bytes;
            if (field.size() > 4) {
                const uint32_t at = uint32_t(t.size());
                t.insert(t.end(), field.begin(), field.end());
                field = { uint8_t(at), uint8_t(at >> 8), uint8_t(at >> 16), uint8_t(at >> 24) };
            }
            field.resize(4);
            fields.push_back(field);
        }
        t.resize((t.size() + 1) & ~size_t(1));
        const uint32_t directory = uint32_t(t.size());
        for (int i = 0; i < 4; ++i)
            t[link + size_t(i)] = uint8_t(directory >> 8 * i);
        t.insert(t.end(), { uint8_t(entries.size()), uint8_t(entries.size() >> 8) });
        for (size_t i = 0; i < entries.size(); ++i) {
            const Entry& e = entries[i];
            t.insert(t.end(),
                { uint8_t(e.tag), uint8_t(e.tag >> 8), uint8_t(e.type), 0, uint8_t(e.count),
                    uint8_t(e.count >> 8), uint8_t(e.count >> 16), uint8_t(e.count >> 24) });
            t.insert(t.end(), fields[i].begin(), fields[i].end());
        }
        link = t.size();
        t.insert(t.end(), 4, 0);
    }
    return t;
}

Bytes makeTiff(
    int width, const std::vector<uint16_t>& bits, int photometric, const Bytes& data, TiffTags tags = {})
{
    return makeTiffPages({ { uint32_t(width), 1, bits, photometric, data, std::move(tags) } });
}

Bytes segment(uint8_t marker, const std::string& payload)
{
    const size_t length = payload.size() + 2;
    Bytes s = { 0xff, marker, uint8_t(length >> 8), uint8_t(length) };
    s.insert(s.end(), payload.begin(), payload.end());
    return s;
}

// Tables, a frame header and a scan of zero bits: enough for a decoder to start on.
Bytes makeJpegHeader(uint8_t frameMarker, int precision, int width, int height)
{
    Bytes j = { 0xff, 0xd8 };
    auto put = [&j](uint8_t marker, const Bytes& payload) {
        const Bytes s = segment(marker, std::string(payload.begin(), payload.end()));
        j.insert(j.end(), s.begin(), s.end());
    };
    Bytes quantiser(65, 1);
    quantiser[0] = 0;
    put(0xdb, quantiser);
    put(frameMarker,
        { uint8_t(precision), uint8_t(height >> 8), uint8_t(height), uint8_t(width >> 8), uint8_t(width), 3,
            1, 0x11, 0, 2, 0x11, 0, 3, 0x11, 0 });
    for (const uint8_t table : { 0x00, 0x10 }) {
        Bytes huffman(18, 0); // one code of one bit, for the symbol 0
        huffman[0] = table;
        huffman[1] = 1;
        put(0xc4, huffman);
    }
    const uint8_t lastCoefficient = frameMarker == 0xc2 ? 0 : 63;
    put(0xda, { 3, 1, 0, 2, 0, 3, 0, 0, lastCoefficient, 0 });
    j.insert(j.end(), 64, 0);
    j.insert(j.end(), { 0xff, 0xd9 });
    return j;
}

// Little-endian EXIF: IFD0 with Make "Cam" and the orientation.
Bytes makeExif(int orientation)
{
    return { 'I', 'I', 42, 0, 8, 0, 0, 0, 2, 0, 0x0f, 1, 2, 0, 4, 0, 0, 0, 'C', 'a', 'm', 0, 0x12, 1, 3, 0, 1,
        0, 0, 0, uint8_t(orientation), 0, 0, 0, 0, 0, 0, 0 };
}

const std::string kXmp
    = "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-"
      "syntax-ns#'><rdf:Description xmp:Rating='4' xmlns:xmp='http://ns.adobe.com/xap/1.0/'/>"
      "</rdf:RDF></x:xmpmeta>";

Bytes load(const std::string& path)
{
    Bytes bytes(1 << 20);
    FILE* file = std::fopen(path.c_str(), "rb");
    EXPECT_NE(file, nullptr) << path;
    if (!file)
        return {};
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file));
    std::fclose(file);
    return bytes;
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
                  IID_IWICImagingFactory, reinterpret_cast<void**>(&factory)))
        && SUCCEEDED(factory->CreateStream(&stream))
        && SUCCEEDED(stream->InitializeFromFilename(wide.c_str(), GENERIC_WRITE))
        && SUCCEEDED(factory->CreateEncoder(container, nullptr, &encoder))
        && SUCCEEDED(encoder->Initialize(stream, WICBitmapEncoderNoCache))
        && SUCCEEDED(encoder->CreateNewFrame(&frame, nullptr)) && SUCCEEDED(frame->Initialize(nullptr))
        && SUCCEEDED(frame->SetSize(UINT(width), 1)) && SUCCEEDED(frame->SetPixelFormat(&format))
        && SUCCEEDED(frame->WritePixels(1, UINT(pixels.size()), UINT(pixels.size()), pixels.data()))
        && SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit());
    for (IUnknown* object : std::initializer_list<IUnknown*> { frame, encoder, stream, factory })
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

std::string readError(const std::string& path, const ReadLimits& limits = {})
{
    ImageFile image;
    std::string error;
    EXPECT_FALSE(readImageFile(path, image, error, limits)) << path;
    EXPECT_TRUE(image.pixels.empty());
    return error;
}

// "cannot …: the reason (HRESULT 0x…)", naming no file: the caller names the user's.
void expectReason(const std::string& error)
{
    const size_t code = error.find(" (HRESULT 0x");
    EXPECT_EQ(error.rfind("cannot ", 0), 0u) << error;
    EXPECT_LT(error.find(": "), code) << error;
    EXPECT_EQ(error.find("quarvel-wic-"), std::string::npos) << error;
}

// Whoever wrote a block again (WIC's writers do), its values are still in it.
bool holds(const Bytes& block, const std::string& text)
{
    return std::search(block.begin(), block.end(), text.begin(), text.end()) != block.end();
}

bool says(const std::vector<std::string>& notCarried, const std::string& what)
{
    return std::find(notCarried.begin(), notCarried.end(), what) != notCarried.end();
}

// The system's codecs may not carry everything; what they do not must be said.
void expectKeptOrSaid(bool kept, const std::vector<std::string>& notCarried, const std::string& what)
{
    EXPECT_NE(kept, says(notCarried, what)) << what;
}

struct Lossless {
    const char* extension;
    int channels, bits, width, height;
};

class ImageFileWicLossless : public ::testing::TestWithParam<Lossless> { };

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
    ::testing::Values(Lossless { ".png", 3, 8, 37, 9 }, Lossless { ".png", 4, 8, 37, 9 },
        Lossless { ".png", 3, 16, 37, 9 }, Lossless { ".png", 4, 16, 37, 9 },
        Lossless { ".tif", 3, 8, 37, 9 }, Lossless { ".tif", 4, 8, 37, 9 }, Lossless { ".tif", 3, 16, 37, 9 },
        Lossless { ".tif", 4, 16, 37, 9 }, Lossless { ".png", 4, 16, 1001, 700 }),
    [](const auto& info) {
        const Lossless& c = info.param;
        return std::string(c.extension + 1) + (c.channels == 4 ? "Rgba" : "Rgb") + std::to_string(c.bits)
            + (c.width > 100 ? "Large" : "");
    });

TEST(ImageFileWic, SamplesArriveInRgbOrderAtTheirOwnScale)
{
    Scratch scratch;
    // The PNG is named .jpg: the content decides, not the name.
    const std::string png8 = scratch("known8.jpg"), png16 = scratch("known16.png"),
                      tif = scratch("known.tif");
    save(png8, makePng(2, 8, 2, { 1, 2, 3, 250, 251, 252 }));
    save(png16, makePng(1, 16, 6, { 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0xff, 0xfe }));
    save(tif, makeTiff(2, { 8, 8, 8 }, 2, { 1, 2, 3, 250, 251, 252 }));
    for (const std::string& path : { png8, tif }) {
        const ImageFile image = readOrFail(path);
        EXPECT_EQ(image.channels, 3);
        EXPECT_TRUE(image.pixels == Bytes({ 1, 2, 3, 250, 251, 252 })) << path;
    }
    const ImageFile wide = readOrFail(png16);
    ASSERT_EQ(wide.channels * wide.bitsPerSample, 64);
    EXPECT_EQ(std::vector<uint16_t>(wide.samples16(), wide.samples16() + 4),
        std::vector<uint16_t>({ 0x0102, 0x0304, 0x0506, 0xfffe }));
}

TEST(ImageFileWic, PremultipliedAlphaIsStraightened)
{
    Scratch scratch;
    // Associated alpha (ExtraSamples 1) at about half: the colour is stored at about half too.
    const std::string tif8 = scratch("premultiplied8.tif"), tif16 = scratch("premultiplied16.tif");
    save(tif8, makeTiff(2, { 8, 8, 8, 8 }, 2, { 50, 100, 25, 128, 9, 9, 9, 0 }, { { 338, { 1 } } }));
    save(tif16,
        makeTiff(1, { 16, 16, 16, 16 }, 2, { 0x00, 0x40, 0x00, 0x10, 0xff, 0x7f, 0xff, 0x7f },
            { { 338, { 1 } } }));
    const ImageFile narrow = readOrFail(tif8);
    EXPECT_EQ(narrow.channels, 4);
    EXPECT_TRUE(narrow.pixels == Bytes({ 100, 199, 50, 128, 0, 0, 0, 0 }));
    const ImageFile wide = readOrFail(tif16);
    ASSERT_EQ(wide.channels * wide.bitsPerSample, 64);
    EXPECT_EQ(std::vector<uint16_t>(wide.samples16(), wide.samples16() + 4),
        std::vector<uint16_t>({ 0x8001, 0x2000, 65535, 0x7fff }));
}

TEST(ImageFileWic, ModesOtherThanRgbAreRefusedByName)
{
    Scratch scratch;
    const std::string grey = "grey images are not supported: the plug-in works on RGB images";
    const std::string palette = "palette images are not supported: the plug-in works on RGB images";
    const std::string cmyk = "CMYK images are not supported: the plug-in works on RGB images";
    const std::string greyPng = scratch("grey.png");
    writeWithWic(greyPng, GUID_ContainerFormatPng, GUID_WICPixelFormat8bppGray, 2, { 10, 20 });
    const struct {
        std::string path;
        Bytes bytes;
        std::string message;
    } cases[] = {
        { greyPng, {}, grey },
        // WIC itself decodes these two as BGRA.
        { scratch("greyalpha.png"), makePng(2, 8, 4, { 10, 200, 20, 100 }), grey },
        { scratch("greyalpha.tif"), makeTiff(2, { 8, 8 }, 1, { 10, 200, 20, 100 }, { { 338, { 2 } } }),
            grey },
        { scratch("palette.png"), makePng(2, 8, 3, { 0, 1 }, { { "PLTE", { 1, 2, 3, 4, 5, 6 } } }), palette },
        { scratch("palette.tif"), makeTiff(2, { 8 }, 3, { 0, 1 }, { { 320, std::vector<uint32_t>(768) } }),
            palette },
        { scratch("cmyk.tif"), makeTiff(1, { 8, 8, 8, 8 }, 5, { 10, 20, 30, 40 }), cmyk },
        { scratch("fourbit.tif"), makeTiff(2, { 4, 4, 4 }, 2, { 0x12, 0x34, 0x56 }),
            "4-bit images are not supported" },
        { scratch("float.tif"), makeTiff(1, { 32, 32, 32 }, 2, Bytes(12, 0), { { 339, { 3, 3, 3 } } }),
            "32-bit floating-point images are not supported" },
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
    const Bytes good = makePng(2, 8, 2, { 1, 2, 3, 4, 5, 6 });
    const std::string junk = scratch("junk.png"), bmp = scratch("really-a-bmp.png"),
                      truncated = scratch("truncated.png"), scrambled = scratch("scrambled.png");
    save(junk, Bytes(100, 'x'));
    writeWithWic(bmp, GUID_ContainerFormatBmp, GUID_WICPixelFormat24bppBGR, 2, { 1, 2, 3, 4, 5, 6 });
    save(truncated, Bytes(good.begin(), good.begin() + 40));
    Bytes broken = good;
    std::fill(broken.end() - 30, broken.end() - 12, uint8_t(0xA5)); // inside IDAT
    save(scrambled, broken);

    EXPECT_EQ(readError(junk), "not a PNG, TIFF or JPEG file");
    EXPECT_EQ(readError(bmp), "not a PNG, TIFF or JPEG file");
    EXPECT_NE(readError(scratch("missing.png")).find("no such file"), std::string::npos);
    expectReason(readError(truncated));
    expectReason(readError(scrambled));
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
    const uint8_t d50[] = { 0, 0, 0xf6, 0xd6, 0, 1, 0, 0, 0, 0, 0xd3, 0x2d };
    std::copy_n(d50, sizeof d50, profile.begin() + 68);
    Bytes chunk = { 's', 'R', 'G', 'B', 'x', 0, 0 };
    const Bytes z = zlibStored(profile);
    chunk.insert(chunk.end(), z.begin(), z.end());
    Scratch scratch;
    const std::string in = scratch("profile-in.png"), out = scratch("profile-out.png");
    save(in, makePng(2, 8, 2, { 1, 2, 3, 4, 5, 6 }, { { "iCCP", chunk } }));
    const ImageFile image = readOrFail(in);
    EXPECT_EQ(image.iccProfile, profile);

    // Wine's encoders refuse colour contexts; JPEG and PNG then get the profile as a block.
    for (const std::string& path : { out, scratch("profile-out.jpg") }) {
        std::string error;
        std::vector<std::string> notCarried;
        ASSERT_TRUE(writeImageFile(path, formatFromPath(path), image, error, {}, &notCarried)) << error;
        EXPECT_TRUE(notCarried.empty());
        const ImageFile back = readOrFail(path);
        EXPECT_EQ(back.iccProfile, profile) << path;
    }
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

TEST(ImageFileWic, JpegIsWrittenAtTheQualityAskedWithoutChromaSubsampling)
{
    if (GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version"))
        GTEST_SKIP() << "Wine's JPEG encoder accepts but ignores ImageQuality and JpegYCrCbSubsampling";
    Scratch scratch;
    // The base luminance table's 16 scaled as quality asks: 95 (the default) makes it 2, 50 leaves it.
    for (const std::pair<int, int> asked : { std::pair<int, int>(95, 2), std::pair<int, int>(50, 16) }) {
        const std::string path = scratch("options.jpg");
        WriteOptions options;
        options.jpegQuality = asked.first;
        std::string error;
        ASSERT_TRUE(writeImageFile(path, ImageFormat::Jpeg, makeImage(16, 16, 3, 8), error, options))
            << error;
        const Bytes jpeg = load(path);
        int firstQuantiser = -1, components = 0;
        for (size_t i = 2; i + 19 < jpeg.size() && jpeg[i] == 0xff;
             i += 2 + size_t(jpeg[i + 2] << 8 | jpeg[i + 3])) {
            if (jpeg[i + 1] == 0xdb && firstQuantiser < 0)
                firstQuantiser = jpeg[i + 5];
            for (; jpeg[i + 1] == 0xc0 && components < jpeg[i + 9]; ++components)
                EXPECT_EQ(jpeg[i + 11 + size_t(3 * components)], 0x11)
                    << "sampling of component " << components;
        }
        EXPECT_EQ(components, 3);
        EXPECT_NEAR(firstQuantiser, asked.second, 1) << "quality " << asked.first;
    }
}

TEST(ImageFileWic, FailedWritesLeaveNoFile)
{
    Scratch scratch;
    const std::string jpeg = scratch("refused.jpg");
    std::string error;
    EXPECT_FALSE(writeImageFile(jpeg, ImageFormat::Jpeg, makeImage(4, 4, 4, 8), error));
    EXPECT_EQ(error, "JPEG cannot hold transparency");
    ImageFile shortBuffer = makeImage(4, 4, 3, 8);
    shortBuffer.pixels.pop_back();
    EXPECT_FALSE(writeImageFile(jpeg, ImageFormat::Jpeg, shortBuffer, error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(exists(jpeg));

    // Wider than JPEG can describe: the encoder fails only once the file has been started.
    EXPECT_FALSE(writeImageFile(jpeg, ImageFormat::Jpeg, makeImage(70000, 1, 3, 8), error));
    expectReason(error);
    EXPECT_FALSE(exists(jpeg));

    EXPECT_FALSE(
        writeImageFile(scratch("no-such-folder\\x.png"), ImageFormat::Png, makeImage(4, 4, 3, 8), error));
    expectReason(error);
    EXPECT_NE(error.find("no such file or folder (HRESULT 0x8007"), std::string::npos) << error;
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

TEST(ImageFileWic, DeclaredSizesBeyondTheLimitsAreRefusedBeforeDecoding)
{
    Scratch scratch;
    const ReadLimits limits { 32767, uint64_t(100) << 20 };
    const struct {
        std::string path;
        Bytes bytes;
        std::string message;
    } bombs[] = {
        { scratch("wide.png"), makePngHeader(2147483647u, 1, 16, 6), "larger than 32767 pixels on a side" },
        { scratch("huge.png"), makePngHeader(2147483647u, 2147483647u, 8, 2),
            "larger than 32767 pixels on a side" },
        { scratch("wide.tif"), makeTiffPages({ { 1000000, 1000, { 8, 8, 8 }, 2, Bytes(6, 0) } }),
            "larger than 32767 pixels on a side" },
        // Decoders that decode as soon as they are made would take gigabytes for this one.
        { scratch("huge.jpg"), makeJpegHeader(0xc2, 8, 30000, 30000), "more than the 100 MB allowed" },
    };
    for (const auto& bomb : bombs) {
        save(bomb.path, bomb.bytes);
        const std::string error = readError(bomb.path, limits);
        EXPECT_NE(error.find(bomb.message), std::string::npos) << bomb.path << ": " << error;
    }
}

TEST(ImageFileWic, ValidJpegsItCannotReadAreCalledUnsupported)
{
    Scratch scratch;
    const std::pair<uint8_t, std::string> cases[] = { { 0xc1, "12-bit JPEG files are not supported" },
        { 0xc3, "lossless JPEG files are not supported" },
        { 0xc5, "hierarchical JPEG files are not supported" } };
    for (const auto& c : cases) {
        const std::string path = scratch("unsupported.jpg");
        save(path, makeJpegHeader(c.first, c.first == 0xc1 ? 12 : 8, 16, 16));
        EXPECT_EQ(readError(path).rfind(c.second, 0), 0u) << std::hex << int(c.first);
    }
}

TEST(ImageFileWic, MultiPageTiffGivesItsFullImageOrIsRefused)
{
    Scratch scratch;
    const std::string thumbnails = scratch("thumbnails.tif"), pages = scratch("pages.tif");
    const TiffPage thumbnail = { 1, 1, { 8, 8, 8 }, 2, { 9, 9, 9 }, { { 254, { 1 } } } };
    const TiffPage preview = { 1, 1, { 8, 8, 8 }, 2, { 7, 7, 7 }, { { 255, { 2 } } } };
    const TiffPage full = { 2, 1, { 8, 8, 8 }, 2, { 1, 2, 3, 4, 5, 6 } };
    TiffPage secondPage = full;
    secondPage.tags = { { 254, { 2 } } };
    save(thumbnails, makeTiffPages({ thumbnail, full, preview }));
    save(pages, makeTiffPages({ full, secondPage }));

    const ImageFile image = readOrFail(thumbnails);
    EXPECT_EQ(image.width, 2);
    EXPECT_EQ(image.pixels, Bytes({ 1, 2, 3, 4, 5, 6 }));
    EXPECT_NE(readError(pages).find("several pages"), std::string::npos);
}

TEST(ImageFileWic, OrientationTravelsWithTheImage)
{
    Scratch scratch;
    const std::string tiff = scratch("turned.tif"), plain = scratch("plain.jpg"),
                      jpeg = scratch("turned.jpg");
    TiffPage page = { 2, 1, { 8, 8, 8 }, 2, { 1, 2, 3, 4, 5, 6 }, { { 274, { 6 } } } };
    page.xmp.assign(kXmp.begin(), kXmp.end());
    save(tiff, makeTiffPages({ page }));
    const ImageFile fromTiff = readOrFail(tiff);
    EXPECT_EQ(fromTiff.orientation, 6);
    EXPECT_EQ(fromTiff.xmp, page.xmp);

    std::string error;
    ASSERT_TRUE(writeImageFile(plain, ImageFormat::Jpeg, makeImage(8, 8, 3, 8), error)) << error;
    Bytes turned = load(plain);
    const Bytes exif = makeExif(8);
    const Bytes app1 = segment(0xe1, std::string("Exif\0\0", 6) + std::string(exif.begin(), exif.end()));
    turned.insert(turned.begin() + 2, app1.begin(), app1.end());
    save(jpeg, turned);
    const ImageFile fromJpeg = readOrFail(jpeg);
    EXPECT_EQ(fromJpeg.orientation, 8);
    EXPECT_EQ(fromJpeg.exif, exif);

    // What the field says is written, whatever the block said; the rest of the block stays.
    ImageFile turnedBack = fromJpeg;
    turnedBack.orientation = 3;
    for (const ImageFile* image :
        std::initializer_list<const ImageFile*> { &fromTiff, &fromJpeg, &turnedBack }) {
        for (const char* name : { "out.tif", "out.jpg", "out.png" }) {
            const std::string path = scratch(name);
            std::vector<std::string> notCarried;
            ASSERT_TRUE(writeImageFile(path, formatFromPath(path), *image, error, {}, &notCarried)) << error;
            const ImageFile back = readOrFail(path);
            expectKeptOrSaid(back.orientation == image->orientation, notCarried, "orientation");
            if (image != &fromTiff && formatFromPath(path) != ImageFormat::Tiff)
                EXPECT_EQ(back.exif.size(), exif.size()) << name;
        }
    }
}

TEST(ImageFileWic, PipedInputIsReadWhole)
{
    const Bytes png = makePng(2, 8, 2, { 1, 2, 3, 4, 5, 6 });
    const std::string path = "\\\\.\\pipe\\quarvel-wic-" + std::to_string(GetCurrentProcessId());
    const HANDLE pipe
        = CreateNamedPipeA(path.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE, 1, 4096, 4096, 0, nullptr);
    ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
    std::thread writer([&] {
        DWORD written = 0;
        // Small pieces, as a pipe hands them over.
        if (ConnectNamedPipe(pipe, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED)
            for (size_t at = 0; at < png.size(); at += 16)
                WriteFile(
                    pipe, png.data() + at, DWORD(std::min<size_t>(16, png.size() - at)), &written, nullptr);
        CloseHandle(pipe);
    });
    const ImageFile image = readOrFail(path);
    // Should the read never have connected, a client of our own lets the writer finish.
    const HANDLE unblock = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (unblock != INVALID_HANDLE_VALUE)
        CloseHandle(unblock);
    writer.join();
    EXPECT_EQ(image.pixels, Bytes({ 1, 2, 3, 4, 5, 6 }));
}

TEST(ImageFileWic, JpegSegmentsAreKeptAsStored)
{
    Scratch scratch;
    const std::string plain = scratch("plain.jpg"), in = scratch("segments.jpg");
    std::string error;
    ASSERT_TRUE(writeImageFile(plain, ImageFormat::Jpeg, makeImage(8, 8, 3, 8), error)) << error;
    Bytes jpeg = load(plain), segments;
    const Bytes exif = makeExif(6);
    for (const Bytes& s : { segment(0xe1, std::string("Exif\0\0", 6) + std::string(exif.begin(), exif.end())),
             segment(0xe1, std::string("http://ns.adobe.com/xap/1.0/\0", 29) + kXmp), segment(0xfe, "first"),
             segment(0xfe, "second") })
        segments.insert(segments.end(), s.begin(), s.end());
    jpeg.insert(jpeg.begin() + 2, segments.begin(), segments.end());
    save(in, jpeg);
    const ImageFile image = readOrFail(in);
    EXPECT_EQ(image.exif, exif);
    EXPECT_EQ(image.xmp, Bytes(kXmp.begin(), kXmp.end()));
    EXPECT_EQ(image.comments, std::vector<std::string>({ "first", "second" }));

    std::vector<std::string> notCarried;
    for (const char* name : { "out.jpg", "out.png", "out.tif" }) {
        const std::string path = scratch(name);
        ASSERT_TRUE(writeImageFile(path, formatFromPath(path), image, error, {}, &notCarried)) << error;
        const ImageFile back = readOrFail(path);
        expectKeptOrSaid(holds(back.exif, "Cam"), notCarried, "EXIF");
        expectKeptOrSaid(holds(back.xmp, "Rating"), notCarried, "XMP");
        std::vector<std::string> comments = back.comments;
        for (const ImageFile::Text& text : back.texts)
            if (text.keyword == "Comment")
                comments.push_back(text.text);
        expectKeptOrSaid(comments == image.comments, notCarried, "JPEG comments");
        if (formatFromPath(path) != ImageFormat::Tiff)
            EXPECT_EQ(back.exif, exif) << name;
    }
}

TEST(ImageFileWic, PngChunksAreKeptAsStored)
{
    Bytes chromaticities, gamma, exif = makeExif(3);
    putBigEndian32(gamma, 45455);
    for (const uint32_t v : { 31270u, 32900u, 64000u, 33000u, 30000u, 60000u, 15000u, 6000u })
        putBigEndian32(chromaticities, v);
    const auto bytes = [](const std::string& text) { return Bytes(text.begin(), text.end()); };
    Scratch scratch;
    const std::string in = scratch("chunks.png");
    save(in,
        makePng(2, 8, 2, { 1, 2, 3, 4, 5, 6 },
            { { "gAMA", gamma }, { "cHRM", chromaticities }, { "sRGB", { 1 } },
                { "tEXt", bytes(std::string("Title\0Caf\xe9", 10)) },
                { "tEXt", bytes(std::string("Comment\0Shot at dawn", 20)) },
                { "iTXt", bytes(std::string("Beschreibung\0\0\0de\0Description\0Caf\xc3\xa9", 37)) },
                { "iTXt", bytes(std::string("XML:com.adobe.xmp\0\0\0\0\0", 22) + kXmp) },
                { "eXIf", exif } }));
    const ImageFile image = readOrFail(in);
    ASSERT_EQ(image.texts.size(), 3u);
    EXPECT_EQ(image.texts[0].text, "Caf\xe9");
    EXPECT_TRUE(image.texts[2].international);
    EXPECT_EQ(image.texts[2].translatedKeyword, "Description");
    EXPECT_EQ(image.gamma, 45455u);
    EXPECT_EQ(image.chromaticities[7], 6000u);
    EXPECT_EQ(image.srgbIntent, 1);
    EXPECT_EQ(image.exif, exif);
    EXPECT_EQ(image.orientation, 3);
    EXPECT_EQ(image.xmp, bytes(kXmp));

    std::string error;
    std::vector<std::string> notCarried;
    const std::string png = scratch("out.png"), jpeg = scratch("out.jpg");
    ASSERT_TRUE(writeImageFile(png, ImageFormat::Png, image, error, {}, &notCarried)) << error;
    EXPECT_TRUE(notCarried.empty());
    const ImageFile back = readOrFail(png);
    ASSERT_EQ(back.texts.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(back.texts[i].keyword, image.texts[i].keyword);
        EXPECT_EQ(back.texts[i].text, image.texts[i].text);
        EXPECT_EQ(back.texts[i].language, image.texts[i].language);
    }
    EXPECT_TRUE(back.hasGamma && back.hasChromaticities && back.gamma == 45455 && back.srgbIntent == 1);
    EXPECT_TRUE(std::equal(image.chromaticities, image.chromaticities + 8, back.chromaticities));
    EXPECT_EQ(back.exif, exif);
    EXPECT_EQ(back.xmp, image.xmp);

    ASSERT_TRUE(writeImageFile(jpeg, ImageFormat::Jpeg, image, error, {}, &notCarried)) << error;
    EXPECT_EQ(notCarried, std::vector<std::string>({ "PNG text", "PNG colour chunks (gAMA, cHRM, sRGB)" }));
    const ImageFile asJpeg = readOrFail(jpeg);
    EXPECT_EQ(asJpeg.exif, exif);
    EXPECT_EQ(asJpeg.comments, std::vector<std::string>({ "Shot at dawn" }));
}

TEST(ImageFileWic, WhatJpegCannotHoldIsRefusedBeforeTheRun)
{
    ImageFile shape; // no pixels: the check comes before there are any
    shape.width = 6000;
    shape.height = 4000;
    shape.channels = 3;
    shape.bitsPerSample = 8;
    std::string error;
    EXPECT_TRUE(canWriteImageFile(shape, ImageFormat::Jpeg, {}, error)) << error;
    shape.exif.assign(70000, 0);
    EXPECT_FALSE(canWriteImageFile(shape, ImageFormat::Jpeg, {}, error));
    EXPECT_EQ(error, "the EXIF block (70000 bytes) is too large for a JPEG file, which holds at most 65527");
    EXPECT_TRUE(canWriteImageFile(shape, ImageFormat::Png, {}, error)) << error;
    shape.exif.clear();
    shape.channels = 4;
    EXPECT_FALSE(canWriteImageFile(shape, ImageFormat::Jpeg, {}, error));
    EXPECT_EQ(error, "JPEG cannot hold transparency");
    shape.bitsPerSample = 16;
    EXPECT_TRUE(canWriteImageFile(shape, ImageFormat::Tiff, {}, error)) << error;
    shape.channels = 3;
    EXPECT_FALSE(canWriteImageFile(shape, ImageFormat::Jpeg, {}, error));
    EXPECT_EQ(error, "JPEG holds 8 bits per sample only");
    EXPECT_FALSE(canWriteImageFile(shape, ImageFormat::Unknown, {}, error));
}

TEST(ImageFileWic, AnyThreadMayReadWhileAnotherDoes)
{
    Scratch scratch;
    const std::string png = scratch("thread.png"), tif = scratch("thread.tif");
    const ImageFile a = makeImage(300, 200, 4, 16), b = makeImage(200, 300, 3, 8);
    std::string error;
    ASSERT_TRUE(writeImageFile(png, ImageFormat::Png, a, error)) << error;
    ASSERT_TRUE(writeImageFile(tif, ImageFormat::Tiff, b, error)) << error;
    bool same = true;
    // The host's decoding thread may have COM in either apartment model, or none.
    std::thread other([&] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        for (int i = 0; i < 10; ++i) {
            ImageFile image;
            std::string failure;
            same = same && readImageFile(png, image, failure) && image.pixels == a.pixels;
        }
        CoUninitialize();
    });
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(readOrFail(tif).pixels, b.pixels);
    other.join();
    EXPECT_TRUE(same);
}

} // namespace
} // namespace quarvel::host
