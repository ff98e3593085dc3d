// The image file contract, for both codec builds: libpng, libtiff and libjpeg natively, the Windows
// Imaging Component under Wine. Files in layouts our writers never produce (other depths and modes,
// tiles, planes, premultiplied alpha, other programs' metadata, headers that claim more than they
// hold) are built here byte by byte, so both builds read the same files.
#include "tools/host/ImageFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>
#include <tuple>

#if defined(_WIN32)
#include <windows.h>
#else
#include <exiv2/exiv2.hpp>
#include <tiffio.h>
#include <unistd.h>
#endif

namespace quarvel::host {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

#if defined(_WIN32)
constexpr bool kWic = true;
#else
constexpr bool kWic = false;
#endif

Bytes bytes(const std::string& text) { return Bytes(text.begin(), text.end()); }
Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

void put32(Bytes& out, uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(uint8_t(v >> shift));
}

// Stored blocks: a zlib stream any decoder takes, with no compressor needed.
Bytes zlibStored(const Bytes& data)
{
    Bytes z = { 0x78, 0x01 };
    size_t at = 0;
    do {
        const size_t n = std::min<size_t>(data.size() - at, 65535);
        z.insert(z.end(),
            { uint8_t(at + n == data.size()), uint8_t(n), uint8_t(n >> 8), uint8_t(~n), uint8_t(~n >> 8) });
        z.insert(z.end(), data.begin() + long(at), data.begin() + long(at + n));
        at += n;
    } while (at < data.size());
    uint32_t a = 1, b = 0;
    for (const uint8_t v : data) {
        a = (a + v) % 65521;
        b = (b + a) % 65521;
    }
    put32(z, b << 16 | a);
    return z;
}

void pngChunk(Bytes& png, const char* type, const Bytes& data)
{
    put32(png, uint32_t(data.size()));
    const size_t start = png.size();
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), data.begin(), data.end());
    uint32_t crc = 0xffffffffu;
    for (size_t i = start; i < png.size(); ++i) {
        crc ^= png[i];
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    put32(png, ~crc);
}

// `raw`: the rows in file order (16-bit samples big-endian), unfiltered; without it, the header
// alone. `extra` chunks go before IDAT.
Bytes makePng(uint32_t width, uint32_t height, int depth, int colourType, const Bytes& raw,
    const std::vector<std::pair<const char*, Bytes>>& extra = {}, bool interlaced = false)
{
    Bytes png = { 0x89, 'P', 'N', 'G', 13, 10, 26, 10 }, header;
    put32(header, width);
    put32(header, height);
    header.insert(header.end(), { uint8_t(depth), uint8_t(colourType), 0, 0, uint8_t(interlaced) });
    pngChunk(png, "IHDR", header);
    if (raw.empty())
        return png;
    for (const auto& [type, data] : extra)
        pngChunk(png, type, data);
    // x, y, step x, step y: the whole image, or Adam7's seven passes.
    const uint32_t passes[8][4] = { { 0, 0, 1, 1 }, { 0, 0, 8, 8 }, { 4, 0, 8, 8 }, { 0, 4, 4, 8 },
        { 2, 0, 4, 4 }, { 0, 2, 2, 4 }, { 1, 0, 2, 2 }, { 0, 1, 1, 2 } };
    const size_t rowBytes = raw.size() / height, pixel = rowBytes / width;
    Bytes rows;
    for (int p = interlaced ? 1 : 0; p < (interlaced ? 8 : 1); ++p)
        for (uint32_t y = passes[p][1]; y < height && passes[p][0] < width; y += passes[p][3]) {
            rows.push_back(0);
            for (uint32_t x = passes[p][0]; x < width; x += passes[p][2])
                rows.insert(rows.end(), raw.begin() + long(y * rowBytes + x * pixel),
                    raw.begin() + long(y * rowBytes + (x + 1) * pixel));
        }
    pngChunk(png, "IDAT", zlibStored(rows));
    pngChunk(png, "IEND", {});
    return png;
}

using TiffTags = std::vector<std::pair<uint16_t, std::vector<uint32_t>>>;

struct TiffPage {
    uint32_t width = 1, height = 1;
    std::vector<uint16_t> bits = { 8, 8, 8 };
    uint32_t photometric = 2;
    // Interleaved, host order. Of another size than the image's: its one strip as stored (sub-byte
    // depths, headers that claim more than the file holds).
    Bytes samples;
    TiffTags tags = {}; // added to the usual ones
    bool planar = false;
    uint32_t tile = 0; // the side of square tiles; 0: one strip per plane
    bool deflate = false;
    Bytes xmp = {};
};

// Values as SHORT where they fit, offsets as LONG.
Bytes makeTiff(const std::vector<TiffPage>& pages, bool bigEndian = false)
{
    Bytes t = bigEndian ? Bytes { 'M', 'M', 0, 42, 0, 0, 0, 0 } : Bytes { 'I', 'I', 42, 0, 0, 0, 0, 0 };
    const auto put = [&](Bytes& to, size_t v, size_t size) {
        for (size_t i = 0; i < size; ++i)
            to.push_back(uint8_t(v >> 8 * (bigEndian ? size - 1 - i : i)));
    };
    size_t link = 4;
    for (const TiffPage& page : pages) {
        const size_t spp = page.bits.size(), bytes = page.bits[0] / 8u;
        const bool asStored = page.samples.size() != size_t(page.width) * page.height * spp * bytes;
        const uint32_t blockWidth = page.tile ? page.tile : page.width;
        const uint32_t blockHeight = page.tile ? page.tile : page.height;
        std::vector<uint32_t> offsets, counts;
        for (size_t plane = 0; plane < (page.planar ? spp : 1); ++plane)
            for (uint32_t y0 = 0; y0 < page.height; y0 += blockHeight)
                for (uint32_t x0 = 0; x0 < page.width; x0 += blockWidth) {
                    Bytes block = asStored ? page.samples : Bytes();
                    for (uint32_t y = y0; !asStored && y < y0 + blockHeight; ++y)
                        for (uint32_t x = x0; x < x0 + blockWidth; ++x)
                            for (size_t s = 0; s < (page.planar ? 1 : spp); ++s)
                                for (size_t b = 0; b < bytes; ++b) {
                                    const size_t at
                                        = (size_t(y) * page.width + x) * spp + (page.planar ? plane : s);
                                    const bool inside = x < page.width && y < page.height;
                                    block.push_back(inside
                                            ? page.samples[at * bytes + (bigEndian ? bytes - 1 - b : b)]
                                            : 0);
                                }
                    offsets.push_back(uint32_t(t.size()));
                    block = page.deflate ? zlibStored(block) : block;
                    counts.push_back(uint32_t(block.size()));
                    t.insert(t.end(), block.begin(), block.end());
                }
        std::map<uint16_t, std::vector<uint32_t>> tags = { { 256, { page.width } }, { 257, { page.height } },
            { 258, { page.bits.begin(), page.bits.end() } }, { 259, { page.deflate ? 8u : 1u } },
            { 262, { page.photometric } }, { 277, { uint32_t(spp) } }, { 284, { page.planar ? 2u : 1u } } };
        if (page.tile)
            tags.insert(
                { { 322, { page.tile } }, { 323, { page.tile } }, { 324, offsets }, { 325, counts } });
        else
            tags.insert({ { 273, offsets }, { 278, { page.height } }, { 279, counts } });
        tags.insert(page.tags.begin(), page.tags.end());
        if (!page.xmp.empty())
            tags[700].assign(page.xmp.begin(), page.xmp.end()); // undefined bytes
        Bytes directory;
        put(directory, tags.size(), 2);
        for (const auto& [tag, values] : tags) {
            const bool wide = tag == 273 || tag == 279 || tag == 324 || tag == 325
                || *std::max_element(values.begin(), values.end()) > 0xffff;
            const size_t size = tag == 700 ? 1 : wide ? 4 : 2;
            put(directory, tag, 2);
            put(directory, tag == 700 ? 7 : wide ? 4 : 3, 2);
            put(directory, values.size(), 4);
            Bytes& to = values.size() * size > 4 ? t : directory;
            if (&to == &t)
                put(directory, t.size(), 4);
            for (const uint32_t v : values)
                put(to, v, size);
            if (&to == &directory)
                directory.insert(directory.end(), 4 - values.size() * size, 0);
        }
        Bytes at;
        put(at, t.size(), 4);
        std::copy(at.begin(), at.end(), t.begin() + long(link));
        t.insert(t.end(), directory.begin(), directory.end());
        link = t.size();
        t.insert(t.end(), 4, 0);
    }
    return t;
}

Bytes segment(uint8_t marker, const Bytes& payload)
{
    return Bytes { 0xff, marker, uint8_t((payload.size() + 2) >> 8), uint8_t(payload.size() + 2) } + payload;
}

// Tables, a frame header and a scan of zero bits: enough for a decoder to start on.
Bytes makeJpeg(uint8_t frameMarker, int precision, int width, int height, int components = 3)
{
    Bytes frame = { uint8_t(precision), uint8_t(height >> 8), uint8_t(height), uint8_t(width >> 8),
        uint8_t(width), uint8_t(components) },
          scan = { uint8_t(components) }, quantiser(65, 1), dc(18, 0), ac(18, 0);
    for (int c = 1; c <= components; ++c) {
        frame.insert(frame.end(), { uint8_t(c), 0x11, 0 });
        scan.insert(scan.end(), { uint8_t(c), 0 });
    }
    scan.insert(scan.end(), { 0, uint8_t(frameMarker == 0xc2 ? 0 : 63), 0 });
    quantiser[0] = 0;
    dc[1] = ac[1] = 1; // one code of one bit, for the symbol 0
    ac[0] = 0x10;
    return Bytes { 0xff, 0xd8 } + segment(0xdb, quantiser) + segment(frameMarker, frame) + segment(0xc4, dc)
        + segment(0xc4, ac) + segment(0xda, scan) + Bytes(64, 0) + Bytes { 0xff, 0xd9 };
}

Bytes exifSegment(const Bytes& exif) { return segment(0xe1, bytes(std::string("Exif\0\0", 6)) + exif); }

// As a camera writes it, little-endian: Make "Cam" and the orientation in the first directory, an
// exposure time (1/250) in the EXIF directory and an altitude (1200/1) in the GPS one.
Bytes makeExif(int orientation)
{
    return { 'I', 'I', 42, 0, 8, 0, 0, 0, 4, 0, 0x0f, 1, 2, 0, 4, 0, 0, 0, 'C', 'a', 'm', 0, 0x12, 1, 3, 0, 1,
        0, 0, 0, uint8_t(orientation), 0, 0, 0, 0x69, 0x87, 4, 0, 1, 0, 0, 0, 62, 0, 0, 0, 0x25, 0x88, 4, 0,
        1, 0, 0, 0, 88, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0x9a, 0x82, 5, 0, 1, 0, 0, 0, 80, 0, 0, 0, 0, 0, 0, 0, 1,
        0, 0, 0, 250, 0, 0, 0, 1, 0, 6, 0, 5, 0, 1, 0, 0, 0, 106, 0, 0, 0, 0, 0, 0, 0, 0xb0, 4, 0, 0, 1, 0, 0,
        0 };
}

const std::string kXmp
    = "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-"
      "syntax-ns#'><rdf:Description xmp:Rating='4' xmlns:xmp='http://ns.adobe.com/xap/1.0/'/>"
      "</rdf:RDF></x:xmpmeta>";

// A display profile with a well-formed header, which is what libpng checks before embedding one.
Bytes iccProfile(size_t size)
{
    Bytes icc;
    put32(icc, uint32_t(size));
    icc = icc + Bytes { 0, 0, 0, 0, 2, 0x10, 0, 0 } + bytes("mntrRGB XYZ ") + Bytes(12) + bytes("acsp")
        + Bytes(28) + Bytes { 0, 0, 0xF6, 0xD6, 0, 1, 0, 0, 0, 0, 0xD3, 0x2D }; // D50 white
    icc.resize(132);
    for (size_t i = 132; i < size; ++i)
        icc.push_back(uint8_t(i * 7 + 3));
    return icc;
}

// Neighbouring samples are unrelated and the two bytes of a 16-bit sample differ, so swapped
// bytes, a wrong stride or a dropped channel all show. `smooth` gives gentle RGB gradients instead.
ImageFile pattern(int width, int height, int channels, int bits, bool smooth = false)
{
    ImageFile image;
    std::tie(image.width, image.height, image.channels, image.bitsPerSample)
        = std::tie(width, height, channels, bits);
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

int sample(const ImageFile& image, size_t i)
{
    return image.bitsPerSample == 16 ? image.samples16()[i] : image.pixels[i];
}

bool says(const std::vector<std::string>& notCarried, const std::string& what)
{
    return std::find(notCarried.begin(), notCarried.end(), what) != notCarried.end();
}

// Wine's imaging component has no metadata writers (and the system's may lack others): there
// what is not carried must be said. The native codecs carry it.
void expectKept(bool kept, const std::vector<std::string>& notCarried, const std::string& what)
{
    EXPECT_NE(kept, says(notCarried, what)) << what;
    EXPECT_TRUE(kept || kWic) << what;
}

// Whoever wrote a block again, its values are still in it.
bool holds(const Bytes& block, const std::string& text)
{
    return std::search(block.begin(), block.end(), text.begin(), text.end()) != block.end();
}

// WIC: "cannot …: the reason (HRESULT 0x…)", naming no file: the caller names the user's.
void expectReason(const std::string& error)
{
    EXPECT_EQ(error.rfind("cannot ", 0), 0u) << error;
    EXPECT_LT(error.find(": "), error.find(" (HRESULT 0x")) << error;
    EXPECT_EQ(error.find("quarvel-image-"), std::string::npos) << error;
}

#if !defined(_WIN32)
std::string exifValue(const Bytes& exif, const char* key)
{
    Exiv2::ExifData data;
    if (!exif.empty())
        Exiv2::ExifParser::decode(data, exif.data(), uint32_t(exif.size()));
    const auto found = data.findKey(Exiv2::ExifKey(key));
    return found == data.end() ? "" : found->toString();
}
#endif

class ImageFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::remove_all(dir_);
        ASSERT_TRUE(fs::create_directories(dir_));
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string path(const std::string& name) const { return dir_ + name; }
    void save(const std::string& name, const Bytes& bytes) const
    {
        std::ofstream(path(name), std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), long(bytes.size()));
    }
    Bytes load(const std::string& name) const
    {
        std::ifstream in(path(name), std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    }
    ImageFile read(const std::string& name) const
    {
        ImageFile image;
        std::string error;
        EXPECT_TRUE(readImageFile(path(name), image, error)) << name << ": " << error;
        return image;
    }
    std::string readError(const std::string& name, const ReadLimits& limits = {}) const
    {
        ImageFile image;
        std::string error;
        EXPECT_FALSE(readImageFile(path(name), image, error, limits)) << name;
        EXPECT_TRUE(image.pixels.empty()) << name;
        return error;
    }
    // One of our JPEG files with other programs' segments after its start.
    Bytes ourJpegWith(const std::vector<Bytes>& segments) const
    {
        writeRead("plain.jpg", pattern(8, 8, 3, 8));
        Bytes jpeg = load("plain.jpg");
        for (auto s = segments.rbegin(); s != segments.rend(); ++s)
            jpeg.insert(jpeg.begin() + 2, s->begin(), s->end());
        return jpeg;
    }
    // Written as named, read back.
    ImageFile writeRead(const std::string& name, const ImageFile& image,
        std::vector<std::string>* notCarried = nullptr, const WriteOptions& options = {}) const
    {
        std::string error;
        if (notCarried)
            notCarried->clear();
        EXPECT_TRUE(writeImageFile(path(name), formatFromPath(name), image, error, options, notCarried))
            << error;
        return read(name);
    }

    // Named after the running test: ctest runs each test in a process of its own.
    const std::string dir_ = ::testing::TempDir() + "quarvel-image-" + [] {
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(name.begin(), name.end(), '/', '-');
        return name;
    }() + (kWic ? "\\" : "/");
};

TEST(ImageFormat, ComesFromTheExtensionWhateverItsCase)
{
    const std::pair<const char*, ImageFormat> cases[]
        = { { "dir/A.PNG", ImageFormat::Png }, { "a.TiFf", ImageFormat::Tiff },
              { "a.tif", ImageFormat::Tiff }, { "a.jpg", ImageFormat::Jpeg }, { "a.JPEG", ImageFormat::Jpeg },
              { "a.png.bak", ImageFormat::Unknown }, { "png", ImageFormat::Unknown },
              { "dir.png/file", ImageFormat::Unknown }, { "a.", ImageFormat::Unknown },
              { "C:\\x.y\\A.PNG", ImageFormat::Png }, { "x.png\\noextension", ImageFormat::Unknown } };
    for (const auto& [name, format] : cases)
        EXPECT_EQ(formatFromPath(name), format) << name;
}

struct Lossless {
    ImageFormat format;
    int channels, bits, width = 37, height = 23;
};

class ImageFileLossless : public ImageFileTest, public ::testing::WithParamInterface<Lossless> { };

TEST_P(ImageFileLossless, KeepsSamplesProfileAndResolution)
{
    const Lossless c = GetParam();
    ImageFile image = pattern(c.width, c.height, c.channels, c.bits);
    image.iccProfile = iccProfile(400);
    image.exif = { 'M', 'M', 0, 42, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0xAB, 0xCD };
    image.dpiX = 300;
    image.dpiY = 150;
    // Named for another format: the content decides how it is read.
    const std::string name = c.format == ImageFormat::Png ? "out.jpg" : "out.png";
    std::string error;
    std::vector<std::string> notCarried;
    ASSERT_TRUE(writeImageFile(path(name), c.format, image, error, {}, &notCarried)) << error;
    const ImageFile back = read(name);
    EXPECT_EQ(std::tie(back.width, back.height, back.channels, back.bitsPerSample),
        std::tie(c.width, c.height, c.channels, c.bits));
    EXPECT_TRUE(back.pixels == image.pixels);
    expectKept(back.iccProfile == image.iccProfile, notCarried, "ICC profile");
    // PNG keeps whole pixels per metre.
    EXPECT_NEAR(back.dpiX, 300, kWic ? 0.02 : 0);
    EXPECT_NEAR(back.dpiY, 150, kWic ? 0.02 : 0);
    // A block of no entries: PNG keeps it as stored, TIFF has no tag to give back.
    EXPECT_EQ(back.exif, c.format == ImageFormat::Png ? image.exif : Bytes());
}

// Odd widths make rows that are no multiple of four bytes; the last case spans several bands.
INSTANTIATE_TEST_SUITE_P(, ImageFileLossless,
    ::testing::Values(Lossless { ImageFormat::Png, 3, 8 }, Lossless { ImageFormat::Png, 4, 8 },
        Lossless { ImageFormat::Png, 3, 16 }, Lossless { ImageFormat::Png, 4, 16 },
        Lossless { ImageFormat::Tiff, 3, 8 }, Lossless { ImageFormat::Tiff, 4, 8 },
        Lossless { ImageFormat::Tiff, 3, 16 }, Lossless { ImageFormat::Tiff, 4, 16 },
        Lossless { ImageFormat::Png, 4, 16, 1001, 700 }),
    [](const auto& info) {
        const Lossless& c = info.param;
        return std::string(c.format == ImageFormat::Png ? "Png" : "Tiff") + (c.channels == 4 ? "Rgba" : "Rgb")
            + std::to_string(c.bits) + (c.width > 100 ? "Large" : "");
    });

// Channel order, byte order and scale as other programs store them, in every layout the
// formats allow.
TEST_F(ImageFileTest, ReadsOtherWritersLayoutsAsStored)
{
    struct Case {
        const char* name;
        Bytes file;
        ImageFile expected;
        int tolerance = 0;
    };
    const auto known = [](int width, int channels, int bits, const std::vector<int>& values) {
        ImageFile image = pattern(width, 1, channels, bits);
        for (size_t i = 0; i < values.size(); ++i)
            if (bits == 16)
                image.samples16()[i] = uint16_t(values[i]);
            else
                image.pixels[i] = uint8_t(values[i]);
        return image;
    };
    const ImageFile rgba16 = pattern(13, 11, 4, 16), rgb16 = pattern(37, 23, 3, 16),
                    rgba8 = pattern(37, 23, 4, 8), large = pattern(1900, 1900, 4, 8, true);
    Bytes bigEndian;
    for (const uint16_t* v = rgba16.samples16(); v < rgba16.samples16() + rgba16.pixels.size() / 2; ++v)
        bigEndian.insert(bigEndian.end(), { uint8_t(*v >> 8), uint8_t(*v) });
    const Bytes premultiplied16 = { 0x00, 0x40, 0x00, 0x10, 0xff, 0x7f, 0xff, 0x7f };
    std::vector<Case> cases = {
        { "8-bit PNG", makePng(2, 1, 8, 2, { 1, 2, 3, 250, 251, 252 }),
            known(2, 3, 8, { 1, 2, 3, 250, 251, 252 }) },
        { "interlaced 16-bit PNG", makePng(13, 11, 16, 6, bigEndian, {}, true), rgba16 },
        // A transparent key colour is transparency too, and only alpha can carry it to the plug-in.
        { "PNG with a key colour",
            makePng(2, 1, 8, 2, { 10, 20, 30, 10, 20, 31 }, { { "tRNS", { 0, 10, 0, 20, 0, 30 } } }),
            known(2, 4, 8, { 10, 20, 30, 0, 10, 20, 31, 255 }) },
        { "compressed tiles overhanging the edges",
            makeTiff({ { 37, 23, { 8, 8, 8, 8 }, 2, rgba8.pixels, { { 338, { 2 } } }, false, 16, true } }),
            rgba8 },
        { "one strip too large to decode whole",
            makeTiff({ { 1900, 1900, { 8, 8, 8, 8 }, 2, large.pixels, { { 338, { 2 } } }, false, 0, true } }),
            large },
        // Straight (100, 199, 50) at alpha 128, premultiplied; opaque; fully transparent.
        { "premultiplied alpha, divided back out",
            makeTiff({ { 3, 1, { 8, 8, 8, 8 }, 2, { 50, 100, 25, 128, 7, 8, 9, 255, 9, 9, 9, 0 },
                { { 338, { 1 } } } } }),
            known(3, 4, 8, { 100, 199, 50, 128, 7, 8, 9, 255, 0, 0, 0, 0 }), 1 },
        { "premultiplied 16-bit alpha",
            makeTiff({ { 1, 1, { 16, 16, 16, 16 }, 2, premultiplied16, { { 338, { 1 } } } } }),
            known(1, 4, 16, { 0x8001, 0x2000, 65535, 0x7fff }), 1 },
    };
#if !defined(_WIN32)
    // Wine's decoder takes neither separate planes, a second extra sample nor 16-bit samples in the
    // other byte order.
    cases.push_back({ "16-bit strips in the other byte order",
        makeTiff({ { 37, 23, { 16, 16, 16 }, 2, rgb16.pixels } }, true), rgb16 });
    cases.push_back({ "planar 16-bit strips in the other byte order",
        makeTiff({ { 37, 23, { 16, 16, 16 }, 2, rgb16.pixels, {}, true } }, true), rgb16 });
    cases.push_back({ "planar 16-bit tiles",
        makeTiff({ { 37, 23, { 16, 16, 16 }, 2, rgb16.pixels, {}, true, 16 } }), rgb16 });
    // The first four channels of a five-channel pattern: the second extra sample is dropped.
    ImageFile five = pattern(37, 23, 5, 8), firstFour = pattern(37, 23, 4, 8);
    for (size_t p = 0; p < five.pixels.size() / 5; ++p)
        std::memcpy(&firstFour.pixels[p * 4], &five.pixels[p * 5], 4);
    cases.push_back({ "two extra samples, the first kept as alpha",
        makeTiff({ { 37, 23, { 8, 8, 8, 8, 8 }, 2, five.pixels, { { 338, { 0, 0 } } } } }), firstFour });
    // Only libtiff makes these; the reader must ask it for RGB.
    const ImageFile smooth = pattern(32, 32, 3, 8, true);
    TIFF* tif = TIFFOpen(path("ycbcr.tif").c_str(), "w");
    ASSERT_NE(tif, nullptr);
    for (const auto& [tag, value] : { std::pair<uint32_t, int> { TIFFTAG_IMAGEWIDTH, 32 },
             { TIFFTAG_IMAGELENGTH, 32 }, { TIFFTAG_SAMPLESPERPIXEL, 3 }, { TIFFTAG_BITSPERSAMPLE, 8 },
             { TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_YCBCR }, { TIFFTAG_COMPRESSION, COMPRESSION_JPEG },
             { TIFFTAG_ROWSPERSTRIP, 16 }, { TIFFTAG_JPEGQUALITY, 95 },
             { TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB } })
        TIFFSetField(tif, tag, value);
    for (uint32_t y = 0; y < 32; ++y)
        TIFFWriteScanline(tif, const_cast<uint8_t*>(&smooth.pixels[y * 96]), y, 0);
    TIFFClose(tif);
    cases.push_back({ "JPEG-compressed YCbCr TIFF", load("ycbcr.tif"), smooth, 6 });
#endif
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        save("in.jpg", c.file); // the content decides, not the name
        const ImageFile back = read("in.jpg");
        const ImageFile& want = c.expected;
        EXPECT_EQ(std::tie(back.width, back.height, back.channels, back.bitsPerSample),
            std::tie(want.width, want.height, want.channels, want.bitsPerSample));
        size_t wrong = 0;
        for (size_t i = 0; back.pixels.size() == want.pixels.size()
             && i < want.pixels.size() * 8 / size_t(want.bitsPerSample);
             ++i)
            wrong += size_t(std::abs(sample(back, i) - sample(want, i)) > c.tolerance);
        EXPECT_EQ(wrong, 0u);
    }
}

TEST_F(ImageFileTest, JpegComesBackCloseAtTheQualityAskedWithoutSubsampling)
{
    ImageFile image = pattern(64, 48, 3, 8, true);
    image.iccProfile = iccProfile(150000); // three APP2 segments
    image.exif = makeExif(1);
    image.dpiX = 300;
    image.dpiY = 72;
    std::vector<std::string> notCarried;
    const ImageFile back = writeRead("a.jpg", image, &notCarried);
    ASSERT_EQ(back.pixels.size(), image.pixels.size());
    int worst = 0;
    for (size_t i = 0; i < image.pixels.size(); ++i)
        worst = std::max(worst, std::abs(int(back.pixels[i]) - int(image.pixels[i])));
    EXPECT_LE(worst, kWic ? 12 : 3);
    expectKept(back.iccProfile == image.iccProfile, notCarried, "ICC profile");
    EXPECT_EQ(back.exif, image.exif);
    EXPECT_NEAR(back.dpiX, 300, 0.5);
    EXPECT_NEAR(back.dpiY, 72, 0.5);

#if defined(_WIN32)
    if (GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version"))
        GTEST_SKIP() << "Wine's JPEG encoder accepts but ignores ImageQuality and JpegYCrCbSubsampling";
#endif
    // The base luminance table's 16 scaled as quality asks: 95 (the default) makes it 2, 50 leaves it.
    for (const auto& [quality, quantiser] : { std::pair(95, 2), std::pair(50, 16) }) {
        WriteOptions options;
        options.jpegQuality = quality;
        writeRead("q.jpg", pattern(16, 16, 3, 8), nullptr, options);
        const Bytes jpeg = load("q.jpg");
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
        EXPECT_NEAR(firstQuantiser, quantiser, 1) << "quality " << quality;
    }
}

// A pipe cannot be read twice or sought in, and TIFF's directories may sit anywhere in the file.
TEST_F(ImageFileTest, ReadsFromAPipe)
{
    const ImageFile image = pattern(37, 23, 3, 8);
    for (const char* name : { "a.png", "a.tif", "a.jpg" }) {
        writeRead(name, image);
        const Bytes file = load(name);
        ImageFile back;
        std::string error;
#if defined(_WIN32)
        const std::string pipePath
            = "\\\\.\\pipe\\quarvel-image-" + std::to_string(GetCurrentProcessId()) + name;
        const HANDLE pipe = CreateNamedPipeA(
            pipePath.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE, 1, 4096, 4096, 0, nullptr);
        ASSERT_NE(pipe, INVALID_HANDLE_VALUE);
        std::thread writer([&] {
            DWORD written = 0;
            // Small pieces, as a pipe hands them over.
            if (ConnectNamedPipe(pipe, nullptr) || GetLastError() == ERROR_PIPE_CONNECTED)
                for (size_t at = 0; at < file.size(); at += 16)
                    WriteFile(pipe, file.data() + at, DWORD(std::min<size_t>(16, file.size() - at)), &written,
                        nullptr);
            CloseHandle(pipe);
        });
        EXPECT_TRUE(readImageFile(pipePath, back, error)) << name << ": " << error;
        // Should the read never have connected, a client of our own lets the writer finish.
        const HANDLE unblock
            = CreateFileA(pipePath.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (unblock != INVALID_HANDLE_VALUE)
            CloseHandle(unblock);
        writer.join();
#else
        int ends[2];
        ASSERT_EQ(pipe(ends), 0);
        std::thread writer([&] {
            for (size_t done = 0; done < file.size();) {
                const ssize_t written = write(ends[1], file.data() + done, file.size() - done);
                if (written <= 0)
                    break;
                done += size_t(written);
            }
            close(ends[1]);
        });
        EXPECT_TRUE(readImageFile("/proc/self/fd/" + std::to_string(ends[0]), back, error))
            << name << ": " << error;
        writer.join();
        close(ends[0]);
#endif
        EXPECT_EQ(back.width, 37) << name;
    }
}

TEST_F(ImageFileTest, TakesTheFullResolutionTiffPageAndRefusesSeveral)
{
    const TiffPage thumbnail = { 1, 1, { 8, 8, 8 }, 2, { 9, 9, 9 }, { { 254, { 1 } } } };
    // The old SubfileType tag is honoured by WIC alone.
    const TiffPage preview
        = { 1, 1, { 8, 8, 8 }, 2, { 7, 7, 7 }, { { uint16_t(kWic ? 255 : 254), { kWic ? 2u : 1u } } } };
    const TiffPage full = { 2, 1, { 8, 8, 8 }, 2, { 1, 2, 3, 4, 5, 6 } };
    TiffPage secondPage = full;
    secondPage.tags = { { 254, { 2 } } };
    save("thumbnails.tif", makeTiff({ thumbnail, full, preview }));
    save("pages.tif", makeTiff({ full, secondPage }));
    EXPECT_EQ(read("thumbnails.tif").pixels, full.samples);
    EXPECT_EQ(readError("pages.tif"),
        kWic ? "the TIFF file holds several pages at full resolution: the host reads one image per file "
               "and would lose the others"
             : "the TIFF file holds 2 pages: only single-page files can be run, so that no page is lost");
}

// The pixels stay as stored; the tag that says how to show them goes wherever they go.
TEST_F(ImageFileTest, OrientationTravelsAsTiffTagAndExif)
{
    TiffPage page = { 2, 1, { 8, 8, 8 }, 2, { 1, 2, 3, 4, 5, 6 }, { { 274, { 6 } } } };
    page.xmp = bytes(kXmp);
    save("turned.tif", makeTiff({ page }));
    const ImageFile fromTiff = read("turned.tif");
    EXPECT_EQ(fromTiff.orientation, 6);
    EXPECT_EQ(fromTiff.xmp, page.xmp);

    const Bytes exif = makeExif(8);
    save("turned.jpg", ourJpegWith({ exifSegment(exif) }));
    const ImageFile fromJpeg = read("turned.jpg");
    EXPECT_EQ(fromJpeg.orientation, 8);
    EXPECT_EQ(fromJpeg.exif, exif);

    // What the field says is written, whatever the block said (the camera's 8, now 3); the rest of
    // the block stays, and an EXIF orientation goes back into the TIFF tag.
    ImageFile turnedBack = fromJpeg;
    turnedBack.orientation = 3;
    for (const ImageFile* image :
        std::initializer_list<const ImageFile*> { &fromTiff, &fromJpeg, &turnedBack })
        for (const char* name : { "out.tif", "out.jpg", "out.png" }) {
            SCOPED_TRACE(testing::Message() << name << " from orientation " << image->orientation);
            std::vector<std::string> notCarried;
            const ImageFile back = writeRead(name, *image, &notCarried);
            expectKept(back.orientation == image->orientation, notCarried, "orientation");
            if (image != &fromTiff && formatFromPath(name) != ImageFormat::Tiff)
                EXPECT_TRUE(holds(back.exif, "Cam"));
        }
}

TEST_F(ImageFileTest, PngChunksAreReadAndKeptWhereTheFormatHasAPlace)
{
    Bytes chromaticities, gamma;
    put32(gamma, 45455);
    for (const uint32_t v : { 31270u, 32900u, 64000u, 33000u, 30000u, 60000u, 15000u, 6000u })
        put32(chromaticities, v);
    const Bytes exif = makeExif(3),
                ztxt = bytes(std::string("Description\0\0", 13)) + zlibStored(Bytes(3000, 'd'));
    save("in.png",
        makePng(2, 1, 8, 2, { 1, 2, 3, 4, 5, 6 },
            { { "gAMA", gamma }, { "cHRM", chromaticities }, { "sRGB", { 1 } },
                { "tEXt", bytes(std::string("Title\0Caf\xe9", 10)) },
                { "tEXt", bytes(std::string("Comment\0Shot at dawn", 20)) }, { "zTXt", ztxt },
                { "iTXt", bytes(std::string("Author\0\0\0fr\0Auteur\0J\xC3\xA9r\xC3\xB4me", 27)) },
                { "iTXt", bytes(std::string("XML:com.adobe.xmp\0\0\0\0\0", 22) + kXmp) },
                { "eXIf", exif } }));
    using Texts = std::vector<std::tuple<std::string, std::string, bool, std::string, std::string>>;
    const auto texts = [](const ImageFile& file) {
        Texts all;
        for (const ImageFile::Text& t : file.texts)
            all.emplace_back(t.keyword, t.text, t.international, t.language, t.translatedKeyword);
        return all;
    };
    Texts want = { { "Title", "Caf\xe9", false, "", "" }, { "Comment", "Shot at dawn", false, "", "" },
        { "Author", "J\xC3\xA9r\xC3\xB4me", true, "fr", "Auteur" } };
    if (!kWic) // WIC lends no inflater for compressed text
        want.insert(want.begin() + 2, { "Description", std::string(3000, 'd'), false, "", "" });
    const auto expectSame = [&](const ImageFile& image) {
        EXPECT_EQ(texts(image), want);
        EXPECT_EQ(std::tie(image.hasGamma, image.gamma, image.hasChromaticities, image.srgbIntent),
            std::make_tuple(true, 45455u, true, 1));
        EXPECT_EQ(image.chromaticities[0], 31270u);
        EXPECT_EQ(image.chromaticities[7], 6000u);
        EXPECT_EQ(image.exif, exif);
        EXPECT_EQ(image.xmp, bytes(kXmp));
    };
    const ImageFile image = read("in.png");
    expectSame(image);
    EXPECT_EQ(image.orientation, 3);

    std::vector<std::string> notCarried;
    expectSame(writeRead("out.png", image, &notCarried));
    EXPECT_TRUE(notCarried.empty());

    // JPEG's place for a comment is a segment of its own.
    const ImageFile jpeg = writeRead("out.jpg", image, &notCarried);
    EXPECT_EQ(notCarried, std::vector<std::string>({ "PNG text", "PNG colour chunks (gAMA, cHRM, sRGB)" }));
    EXPECT_EQ(jpeg.exif, exif);
    EXPECT_EQ(jpeg.xmp, image.xmp);
    EXPECT_EQ(jpeg.comments, std::vector<std::string>({ "Shot at dawn" }));

    // TIFF keeps its EXIF in directories of its own, and gives it back as a block.
    const ImageFile tiff = writeRead("out.tif", jpeg, &notCarried);
    EXPECT_TRUE(says(notCarried, "JPEG comments"));
    expectKept(tiff.xmp == image.xmp, notCarried, "XMP");
    expectKept(holds(tiff.exif, "Cam"), notCarried, "EXIF");
#if !defined(_WIN32)
    EXPECT_EQ(notCarried, std::vector<std::string> { "JPEG comments" });
    const ImageFile again = writeRead("again.jpg", tiff);
    for (const ImageFile* file : { &tiff, &again }) {
        EXPECT_EQ(exifValue(file->exif, "Exif.Photo.ExposureTime"), "1/250");
        EXPECT_EQ(exifValue(file->exif, "Exif.GPSInfo.GPSAltitude"), "1200/1");
    }
#endif
}

TEST_F(ImageFileTest, JpegSegmentsAreReadAndKeptWhereTheFormatHasAPlace)
{
    const Bytes exif = makeExif(6);
    save("in.jpg",
        ourJpegWith({ exifSegment(exif),
            segment(0xe1, bytes(std::string("http://ns.adobe.com/xap/1.0/\0", 29) + kXmp)),
            segment(0xfe, bytes("first")), segment(0xfe, bytes("second")) }));
    const ImageFile image = read("in.jpg");
    EXPECT_EQ(image.exif, exif);
    EXPECT_EQ(image.xmp, bytes(kXmp));
    EXPECT_EQ(image.comments, std::vector<std::string>({ "first", "second" }));

    for (const char* name : { "out.jpg", "out.png", "out.tif" }) {
        SCOPED_TRACE(name);
        std::vector<std::string> notCarried;
        const ImageFile back = writeRead(name, image, &notCarried);
        expectKept(holds(back.exif, "Cam"), notCarried, "EXIF");
        expectKept(holds(back.xmp, "Rating"), notCarried, "XMP");
        // PNG's place for a comment is "Comment" text.
        std::vector<std::string> comments = back.comments;
        for (const ImageFile::Text& text : back.texts)
            if (text.keyword == "Comment")
                comments.push_back(text.text);
        EXPECT_NE(comments == image.comments, says(notCarried, "JPEG comments"));
        if (formatFromPath(name) != ImageFormat::Tiff)
            EXPECT_EQ(back.exif, exif);
    }
}

TEST_F(ImageFileTest, RefusesModesOtherThanRgbNamingThem)
{
    const std::string rgb = " images are not supported: the plug-in works on RGB images";
    const std::string depth = " images are not supported: the plug-in works on 8- and 16-bit RGB images";
    const std::tuple<const char*, Bytes, std::string> cases[] = {
        { "grey PNG", makePng(2, 1, 8, 0, { 10, 20 }), "grey" + rgb },
        { "grey+alpha PNG", makePng(2, 1, 16, 4, Bytes(8, 7)), "grey" + rgb },
        { "palette PNG", makePng(2, 1, 8, 3, { 0, 1 }, { { "PLTE", { 1, 2, 3, 4, 5, 6 } } }),
            "palette" + rgb },
        { "grey TIFF", makeTiff({ { 2, 1, { 16 }, 1, Bytes(4, 9) } }), "grey" + rgb },
        { "grey+alpha TIFF", makeTiff({ { 2, 1, { 8, 8 }, 1, { 10, 200, 20, 100 }, { { 338, { 2 } } } } }),
            "grey" + rgb },
        { "palette TIFF", makeTiff({ { 2, 1, { 8 }, 3, { 0, 1 }, { { 320, std::vector<uint32_t>(768) } } } }),
            "palette" + rgb },
        { "CMYK TIFF", makeTiff({ { 1, 1, { 8, 8, 8, 8 }, 5, { 10, 20, 30, 40 } } }), "CMYK" + rgb },
        { "1-bit RGB TIFF", makeTiff({ { 8, 1, { 1, 1, 1 }, 2, { 1, 2, 3 } } }), "1-bit" + depth },
        { "4-bit RGB TIFF", makeTiff({ { 2, 1, { 4, 4, 4 }, 2, { 0x12, 0x34, 0x56 } } }), "4-bit" + depth },
        { "float RGB TIFF", makeTiff({ { 1, 1, { 32, 32, 32 }, 2, Bytes(12, 0), { { 339, { 3, 3, 3 } } } } }),
            "32-bit floating-point" + depth },
        { "grey JPEG", makeJpeg(0xc0, 8, 16, 16, 1), "grey" + rgb },
        { "CMYK JPEG", makeJpeg(0xc0, 8, 16, 16, 4), "CMYK" + rgb },
    };
    for (const auto& [name, file, message] : cases) {
        save("refused", file);
        EXPECT_EQ(readError("refused"), message) << name;
    }
}

// Each announces far more than it holds; all are refused from the header, before the memory the
// header asks for is taken.
TEST_F(ImageFileTest, RefusesDecompressionBombsFromTheirHeaders)
{
    const auto tooWide = [](const char* size) {
        return kWic ? std::string("the image is ") + size
                + " pixels: images larger than 32767 pixels on a side cannot be handed to a filter plug-in"
                    : std::string("the image is too large (") + size
                + " pixels): a filter plug-in takes at most 32767 pixels on a side";
    };
    save("wide.png", makePng(2147483647, 1, 16, 6, {}));
    save("vast.png", makePng(2147483647, 2147483647, 8, 2, {}));
    save("wide.tif", makeTiff({ { 1000000, 1000, { 8, 8, 8 }, 2, Bytes(6, 0) } }));
    EXPECT_EQ(readError("wide.png"), tooWide("2147483647 x 1"));
    EXPECT_EQ(readError("vast.png"), tooWide("2147483647 x 2147483647"));
    EXPECT_EQ(readError("wide.tif"), tooWide("1000000 x 1000"));

    // Within the sides, but a progressive JPEG is held whole as coefficients before its first row:
    // 30000² at full colour resolution needs 2.7 GB of samples and 5.4 GB of those. Decoders that
    // decode as soon as they are made would take gigabytes.
    save("vast.jpg", makeJpeg(0xc2, 8, 30000, 30000));
    ReadLimits limits;
    limits.maxBytes = kWic ? uint64_t(100) << 20 : uint64_t(4) << 30;
    EXPECT_EQ(readError("vast.jpg", limits),
        kWic ? "the image is 30000 x 30000 pixels and would take 2575 MB, more than the 100 MB allowed"
             : "the image is too large (30000 x 30000 pixels): decoding it would take 8.2 GB, more than "
               "the 4.3 GB allowed");
}

TEST_F(ImageFileTest, MissingForeignAndDamagedFilesAreErrorsNotCrashes)
{
    // The caller names the file; the reason is the system's.
    const std::string missing = readError("none.png");
    if (kWic) {
        expectReason(missing);
        EXPECT_NE(missing.find("no such file"), std::string::npos) << missing;
    } else {
        EXPECT_EQ(missing, "cannot open the file: No such file or directory");
        EXPECT_EQ(readError(""), "cannot open the file: Is a directory"); // the test's folder
    }
    const Bytes bmp = { 'B', 'M', 62, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0,
        1, 0, 24, 0, 0, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6,
        0, 0 };
    for (const auto& [name, file] : { std::pair { "text.png", bytes("GIF89a, or something else entirely") },
             std::pair { "empty.tif", Bytes() }, std::pair { "really-a-bmp.png", bmp } }) {
        save(name, file);
        EXPECT_EQ(readError(name), "not a PNG, TIFF or JPEG file") << name;
    }

    const ImageFile image = pattern(64, 64, 3, 8);
    for (const char* name : { "a.png", "a.tif", "a.jpg" }) {
        writeRead(name, image);
        const Bytes whole = load(name);
        // JPEG's entropy-coded data has no checksum: there a stray marker is the damage to notice.
        Bytes scrambled = whole;
        std::fill_n(scrambled.begin() + long(whole.size() / 2), 64,
            formatFromPath(name) == ImageFormat::Jpeg ? 0xFF : 0xA5);
        scrambled[whole.size() / 2 + 63] = formatFromPath(name) == ImageFormat::Jpeg ? 0xD9 : 0xA5;
        std::vector<Bytes> damaged = { scrambled };
        for (const size_t cut : { size_t(12), size_t(40), whole.size() / 3, whole.size() / 2,
                 whole.size() - 10, whole.size() - 1 })
            damaged.emplace_back(whole.begin(), whole.begin() + long(cut));
        // WIC reads on where the image data is whole (PNG without its end) or has no checksum
        // (uncompressed TIFF strips, JPEG's entropy-coded data).
        if (kWic)
            damaged.erase(damaged.end() - 2, damaged.end());
        for (size_t i = formatFromPath(name) == ImageFormat::Png || !kWic ? 0 : 1; i < damaged.size(); ++i) {
            SCOPED_TRACE(
                testing::Message() << name << (i ? " cut" : " scrambled") << " to " << damaged[i].size());
            save("damaged", damaged[i]);
            const std::string error = readError("damaged");
            if (kWic)
                expectReason(error);
            else
                EXPECT_NE(error.find("damaged or incomplete"), std::string::npos) << error;
        }
    }
}

// Sound files of kinds the decoders do not take: a frame header and a scan header say enough.
TEST_F(ImageFileTest, CallsValidButUnsupportedJpegsUnsupported)
{
    const std::string rest = " are not supported: only baseline and progressive JPEG can be read";
    const std::tuple<uint8_t, int, std::string> cases[]
        = { { 0xc1, 12, "12-bit JPEG files are not supported: only 8-bit JPEG can be read" },
              { 0xc3, 8, "lossless JPEG files" + rest }, { 0xc5, 8, "hierarchical JPEG files" + rest } };
    for (const auto& [marker, precision, message] : cases) {
        save("a.jpg", makeJpeg(marker, precision, 16, 16));
        EXPECT_EQ(readError("a.jpg"), message);
    }
}

// What would fail after a long run is known before it starts.
TEST(ImageFileCanWrite, SaysBeforeTheRunWhatTheWriteWouldRefuse)
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
    std::vector<std::tuple<const ImageFile*, ImageFormat, WriteOptions, std::string>> cases
        = { { &alpha, ImageFormat::Jpeg, {}, "JPEG cannot hold transparency" },
              { &deep, ImageFormat::Jpeg, {}, "JPEG holds 8 bits per sample only" },
              { &bigExif, ImageFormat::Jpeg, {},
                  "the EXIF block (70000 bytes) is too large for a JPEG file, which holds at most 65527" },
              { &image, ImageFormat::Unknown, {},
                  kWic ? "unknown output format: use .png, .tif, .tiff, .jpg or .jpeg"
                       : "no output format was given" } };
    if (!kWic) // the system's encoders take no level and ignore a quality
        cases.insert(cases.end(),
            { { &image, ImageFormat::Png, badLevel, "the PNG compression level must be 0 to 9" },
                { &image, ImageFormat::Jpeg, badQuality, "the JPEG quality must be 1 to 100" } });
    std::string error;
    for (const auto& [file, format, options, message] : cases) {
        EXPECT_FALSE(canWriteImageFile(*file, format, options, error)) << message;
        EXPECT_EQ(error, message);
    }
    for (const ImageFormat format : { ImageFormat::Png, ImageFormat::Tiff })
        EXPECT_TRUE(canWriteImageFile(bigExif, format, {}, error)) << error;
    EXPECT_TRUE(canWriteImageFile(alpha, ImageFormat::Png, {}, error)) << error;
    EXPECT_TRUE(canWriteImageFile(deep, ImageFormat::Tiff, {}, error)) << error;
}

TEST_F(ImageFileTest, FailedWritesSayWhyAndLeaveNothingBehind)
{
    std::string error;
    // A profile libpng cannot parse is left out rather than costing the user the whole image.
    ImageFile badProfile = pattern(4, 4, 3, 8), bigExif = badProfile, shortSamples = badProfile;
    badProfile.iccProfile.assign(50, 0x11);
    EXPECT_TRUE(writeImageFile(path("profile.png"), ImageFormat::Png, badProfile, error)) << error;

    bigExif.exif.assign(70000, 0); // more than one JPEG segment holds
    shortSamples.pixels.pop_back();
    // Wider than JPEG can describe: WIC's encoder fails only once the file has been started.
    const ImageFile wide = pattern(70000, 1, 3, 8);
    const char* const kShort = kWic ? "malformed" : "bytes";
    const std::tuple<ImageFile, ImageFormat, std::string> cases[]
        = { { pattern(4, 4, 4, 8), ImageFormat::Jpeg, "transparency" },
              { bigExif, ImageFormat::Jpeg, "EXIF" }, { shortSamples, ImageFormat::Png, kShort },
              { shortSamples, ImageFormat::Tiff, kShort }, { shortSamples, ImageFormat::Jpeg, kShort },
              { wide, ImageFormat::Jpeg, kWic ? "(HRESULT 0x" : "pixels on a side" } };
    for (const auto& [image, format, said] : cases) {
        EXPECT_FALSE(writeImageFile(path("a.out"), format, image, error));
        EXPECT_NE(error.find(said), std::string::npos) << error;
        EXPECT_FALSE(fs::exists(path("a.out"))) << error;
    }

    EXPECT_FALSE(writeImageFile(path("no/a.png"), ImageFormat::Png, pattern(4, 4, 3, 8), error));
    if (kWic)
        EXPECT_NE(error.find("no such file or folder (HRESULT 0x8007"), std::string::npos) << error;
    else
        EXPECT_EQ(error, "cannot create the file: No such file or directory");
#if !defined(_WIN32)
    // A full disk is named as such, whichever codec met it.
    for (const ImageFormat format : { ImageFormat::Png, ImageFormat::Tiff, ImageFormat::Jpeg }) {
        EXPECT_FALSE(writeImageFile("/dev/full", format, pattern(64, 64, 3, 8), error));
        EXPECT_EQ(error, "cannot write the file: No space left on device");
    }
#endif
}

TEST_F(ImageFileTest, Utf8FileNamesReachTheFile)
{
    const ImageFile original = pattern(5, 3, 3, 8);
    EXPECT_TRUE(
        writeRead("Bild-\xC3\xA4\xE2\x82\xAC.png", original).pixels == original.pixels); // "Bild-ä€.png"
#if defined(_WIN32)
    EXPECT_NE(DeleteFileW((std::wstring(dir_.begin(), dir_.end()) + L"Bild-\u00E4\u20AC.png").c_str()), 0)
        << "the file exists under its Unicode name";
#endif
}

TEST_F(ImageFileTest, AnyThreadMayReadWhileAnotherDoes)
{
    const ImageFile a = pattern(300, 200, 4, 16), b = pattern(200, 300, 3, 8);
    writeRead("thread.png", a);
    writeRead("thread.tif", b);
    bool same = true;
    std::thread other([&] {
#if defined(_WIN32)
        // The host's decoding thread may have COM in either apartment model, or none.
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
#endif
        for (int i = 0; i < 10; ++i) {
            ImageFile image;
            std::string failure;
            same = same && readImageFile(path("thread.png"), image, failure) && image.pixels == a.pixels;
        }
#if defined(_WIN32)
        CoUninitialize();
#endif
    });
    for (int i = 0; i < 10; ++i)
        EXPECT_TRUE(read("thread.tif").pixels == b.pixels);
    other.join();
    EXPECT_TRUE(same);
}

} // namespace
} // namespace quarvel::host
