// Image files on Windows through the Windows Imaging Component, so that the host needs no
// codec libraries of its own. Wine's WIC is narrower than Windows' (no identity conversions,
// no 16-bit BGR orders, no colour contexts on encoders, no metadata writers, no JPEG metadata
// readers), so every path here either stays on what both provide or does the work itself.
// Metadata that JPEG and PNG keep as opaque segments and chunks is read and written as stored;
// TIFF tags, which only a TIFF writer may edit, go through WIC's metadata readers and writers.
#include "tools/host/ImageFile.h"

#include <objbase.h>
#include <wincodec.h>
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <new>
#include <utility>

namespace quarvel::host {

namespace {

// Rows are moved in bands of about this many bytes, so that WIC's UINT buffer sizes are never
// exceeded and the write side never needs a second copy of the whole image.
constexpr size_t kBandBytes = size_t(4) << 20;

template <class T> class Ref {
public:
    Ref() = default;
    ~Ref() { reset(); }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;

    T* get() const { return p_; }
    T* operator->() const { return p_; }
    T** put()
    {
        reset();
        return &p_;
    }
    void** putVoid() { return reinterpret_cast<void**>(put()); }
    void reset()
    {
        if (p_)
            p_->Release();
        p_ = nullptr;
    }

private:
    T* p_ = nullptr;
};

// ---- Messages -------------------------------------------------------------------------------

// WIC's own codes have no text in the system's message table.
const char* codecReason(HRESULT hr)
{
    switch (hr) {
    case WINCODEC_ERR_BADHEADER:
        return "the file's header is damaged";
    case WINCODEC_ERR_BADIMAGE:
    case WINCODEC_ERR_BADSTREAMDATA:
        return "the image data is damaged";
    case WINCODEC_ERR_BADMETADATAHEADER:
        return "a metadata block is damaged";
    case WINCODEC_ERR_FRAMEMISSING:
        return "the file holds no image";
    case WINCODEC_ERR_STREAMREAD:
        return "the file could not be read";
    case WINCODEC_ERR_STREAMWRITE:
        return "the file could not be written";
    case WINCODEC_ERR_STREAMNOTAVAILABLE:
        return "the file is not available";
    case WINCODEC_ERR_UNKNOWNIMAGEFORMAT:
    case WINCODEC_ERR_COMPONENTNOTFOUND:
        return "this system has no codec that takes it";
    case WINCODEC_ERR_UNSUPPORTEDPIXELFORMAT:
        return "this system's codec does not take the pixel format";
    case WINCODEC_ERR_UNSUPPORTEDOPERATION:
        return "this system's codec does not support it";
    case WINCODEC_ERR_IMAGESIZEOUTOFRANGE:
    case WINCODEC_ERR_VALUEOUTOFRANGE:
        return "the image size is outside what the codec takes";
    case WINCODEC_ERR_INTERNALERROR:
        return "the codec failed";
    case WINCODEC_ERR_COMPONENTINITIALIZEFAILURE:
        return "the codec could not start";
    default:
        return nullptr;
    }
}

std::string systemReason(HRESULT hr)
{
    if (const char* reason = codecReason(hr))
        return reason;
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        DWORD(hr), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string reason;
    if (length > 0 && text) {
        const int size = WideCharToMultiByte(CP_UTF8, 0, text, int(length), nullptr, 0, nullptr, nullptr);
        if (size > 0) {
            reason.resize(size_t(size));
            WideCharToMultiByte(CP_UTF8, 0, text, int(length), &reason[0], size, nullptr, nullptr);
        }
    }
    LocalFree(text);
    while (
        !reason.empty() && (reason.back() == '.' || std::isspace(static_cast<unsigned char>(reason.back()))))
        reason.pop_back();
    // It continues a sentence of ours: "cannot create the file: access is denied".
    if (reason.size() > 1 && std::isupper(static_cast<unsigned char>(reason[0]))
        && std::islower(static_cast<unsigned char>(reason[1])))
        reason[0] = char(std::tolower(static_cast<unsigned char>(reason[0])));
    return reason;
}

// "cannot decode the image: the image data is damaged (HRESULT 0x88982F60)". The caller names
// the file: these messages never do, so a temporary name never reaches the user.
std::string because(const std::string& what, HRESULT hr, std::string reason = {})
{
    char code[32];
    std::snprintf(code, sizeof code, " (HRESULT 0x%08lX)", static_cast<unsigned long>(hr));
    if (reason.empty())
        reason = systemReason(hr);
    return what + (reason.empty() ? "" : ": " + reason) + code;
}

std::string openFailure(const char* doing, HRESULT hr)
{
    const std::string what = std::string("cannot ") + doing + " the file";
    if (hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) || hr == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND))
        return because(what, hr, "no such file or folder");
    if (hr == E_ACCESSDENIED)
        return because(what, hr, "access denied");
    return because(what, hr);
}

// What the output could not keep, in the words the host prints.
const char* const kLostExif = "EXIF";
const char* const kLostXmp = "XMP";
const char* const kLostLargeXmp = "XMP (larger than a JPEG segment holds)";
const char* const kLostOrientation = "orientation";
const char* const kLostComments = "JPEG comments";
const char* const kLostText = "PNG text";
const char* const kLostKeyword = "PNG text with an invalid keyword";
const char* const kLostColourChunks = "PNG colour chunks (gAMA, cHRM, sRGB)";
const char* const kLostProfile = "ICC profile";

void note(std::vector<std::string>& lost, const char* what)
{
    if (std::find(lost.begin(), lost.end(), what) == lost.end())
        lost.push_back(what);
}

// ---- COM ------------------------------------------------------------------------------------

// Balances its own CoInitializeEx only: a thread that already runs COM in the other apartment
// model (RPC_E_CHANGED_MODE) is used as it is and left that way. Every call makes its own
// factory and objects, so that any thread may read or write a file while another does.
class ComScope {
public:
    ComScope()
    {
        const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
        owned_ = SUCCEEDED(hr);
        failure_ = hr == RPC_E_CHANGED_MODE || SUCCEEDED(hr) ? S_OK : hr;
    }
    ~ComScope()
    {
        if (owned_)
            CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

    HRESULT failure() const { return failure_; }

private:
    bool owned_ = false;
    HRESULT failure_ = S_OK;
};

bool createFactory(const ComScope& com, Ref<IWICImagingFactory>& factory, std::string& error)
{
    if (FAILED(com.failure())) {
        error = because("cannot start COM", com.failure());
        return false;
    }
    // SDKs for Windows 8 and later name the newer class CLSID_WICImagingFactory; Windows 7
    // registers only the first one.
    HRESULT hr = CoCreateInstance(
        CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory, factory.putVoid());
    if (FAILED(hr) && !IsEqualCLSID(CLSID_WICImagingFactory, CLSID_WICImagingFactory1))
        hr = CoCreateInstance(CLSID_WICImagingFactory1, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
            factory.putVoid());
    if (FAILED(hr)) {
        error = because("the Windows Imaging Component is not available", hr);
        return false;
    }
    return true;
}

// Command lines arrive as UTF-8 from our own tools and as the ANSI code page from cmd.exe.
bool widen(const std::string& path, std::wstring& wide, std::string& error)
{
    if (path.empty() || path.size() > size_t(INT_MAX)) {
        error = "invalid file name";
        return false;
    }
    for (const UINT codePage : { UINT(CP_UTF8), UINT(CP_ACP) }) {
        const DWORD flags = codePage == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0;
        const int length = MultiByteToWideChar(codePage, flags, path.data(), int(path.size()), nullptr, 0);
        if (length <= 0)
            continue;
        wide.assign(size_t(length), L'\0');
        MultiByteToWideChar(codePage, flags, path.data(), int(path.size()), &wide[0], length);
        return true;
    }
    error = "invalid file name";
    return false;
}

bool rewind(IStream* stream)
{
    const LARGE_INTEGER start = {};
    return SUCCEEDED(stream->Seek(start, STREAM_SEEK_SET, nullptr));
}

bool streamBytes(IStream* stream, std::vector<uint8_t>& bytes)
{
    STATSTG stat = {};
    if (FAILED(stream->Stat(&stat, STATFLAG_NONAME)) || stat.cbSize.QuadPart > ULONG_MAX || !rewind(stream))
        return false;
    bytes.resize(size_t(stat.cbSize.QuadPart));
    ULONG got = 0;
    return bytes.empty()
        || (SUCCEEDED(stream->Read(bytes.data(), ULONG(bytes.size()), &got)) && got == bytes.size());
}

// ---- Pixel layouts --------------------------------------------------------------------------

// One interleaved memory layout WIC knows by GUID. slot[i] is the ImageFile channel
// (0 R, 1 G, 2 B, 3 A) stored at position i of a pixel, or -1 for padding.
struct Layout {
    const GUID* format;
    int bits;
    int channels; // ImageFile channels it carries
    int slots; // samples per pixel in memory
    int slot[4];
    bool premultiplied;
};

const Layout kLayouts[] = {
    { &GUID_WICPixelFormat24bppRGB, 8, 3, 3, { 0, 1, 2, -1 }, false },
    { &GUID_WICPixelFormat24bppBGR, 8, 3, 3, { 2, 1, 0, -1 }, false },
    { &GUID_WICPixelFormat32bppRGB, 8, 3, 4, { 0, 1, 2, -1 }, false },
    { &GUID_WICPixelFormat32bppBGR, 8, 3, 4, { 2, 1, 0, -1 }, false },
    { &GUID_WICPixelFormat32bppRGBA, 8, 4, 4, { 0, 1, 2, 3 }, false },
    { &GUID_WICPixelFormat32bppBGRA, 8, 4, 4, { 2, 1, 0, 3 }, false },
    { &GUID_WICPixelFormat32bppPRGBA, 8, 4, 4, { 0, 1, 2, 3 }, true },
    { &GUID_WICPixelFormat32bppPBGRA, 8, 4, 4, { 2, 1, 0, 3 }, true },
    { &GUID_WICPixelFormat48bppRGB, 16, 3, 3, { 0, 1, 2, -1 }, false },
    { &GUID_WICPixelFormat48bppBGR, 16, 3, 3, { 2, 1, 0, -1 }, false },
    { &GUID_WICPixelFormat64bppRGB, 16, 3, 4, { 0, 1, 2, -1 }, false },
    { &GUID_WICPixelFormat64bppRGBA, 16, 4, 4, { 0, 1, 2, 3 }, false },
    { &GUID_WICPixelFormat64bppBGRA, 16, 4, 4, { 2, 1, 0, 3 }, false },
    { &GUID_WICPixelFormat64bppPRGBA, 16, 4, 4, { 0, 1, 2, 3 }, true },
    { &GUID_WICPixelFormat64bppPBGRA, 16, 4, 4, { 2, 1, 0, 3 }, true },
};

const Layout* findLayout(const GUID& format)
{
    for (const Layout& layout : kLayouts)
        if (IsEqualGUID(*layout.format, format))
            return &layout;
    return nullptr;
}

// What the rest of the host works in: straight RGB or RGBA in ImageFile's channel order.
const GUID& canonicalFormat(int channels, int bits)
{
    if (bits == 8)
        return channels == 3 ? GUID_WICPixelFormat24bppRGB : GUID_WICPixelFormat32bppRGBA;
    return channels == 3 ? GUID_WICPixelFormat48bppRGB : GUID_WICPixelFormat64bppRGBA;
}

bool isOneOf(const GUID& format, std::initializer_list<const GUID*> formats)
{
    return std::any_of(formats.begin(), formats.end(),
        [&](const GUID* candidate) { return IsEqualGUID(*candidate, format) != 0; });
}

const char* const kGrey = "grey images are not supported: the plug-in works on RGB images";
const char* const kPalette = "palette images are not supported: the plug-in works on RGB images";
const char* const kCmyk = "CMYK images are not supported: the plug-in works on RGB images";

std::string unsupportedDepth(unsigned bits, const char* kind)
{
    return std::to_string(bits) + "-bit" + kind
        + " images are not supported: the plug-in works on 8- and 16-bit RGB images";
}

std::string describeUnsupported(IWICImagingFactory* factory, const GUID& format)
{
    if (isOneOf(format,
            { &GUID_WICPixelFormatBlackWhite, &GUID_WICPixelFormat2bppGray, &GUID_WICPixelFormat4bppGray,
                &GUID_WICPixelFormat8bppGray, &GUID_WICPixelFormat16bppGray,
                &GUID_WICPixelFormat16bppGrayFixedPoint, &GUID_WICPixelFormat16bppGrayHalf,
                &GUID_WICPixelFormat32bppGrayFloat, &GUID_WICPixelFormat32bppGrayFixedPoint }))
        return kGrey;
    if (isOneOf(format,
            { &GUID_WICPixelFormat1bppIndexed, &GUID_WICPixelFormat2bppIndexed,
                &GUID_WICPixelFormat4bppIndexed, &GUID_WICPixelFormat8bppIndexed }))
        return kPalette;
    if (isOneOf(format,
            { &GUID_WICPixelFormat32bppCMYK, &GUID_WICPixelFormat64bppCMYK,
                &GUID_WICPixelFormat40bppCMYKAlpha, &GUID_WICPixelFormat80bppCMYKAlpha }))
        return kCmyk;

    Ref<IWICComponentInfo> info;
    Ref<IWICPixelFormatInfo> pixelInfo;
    UINT bitsPerPixel = 0, channels = 0;
    if (FAILED(factory->CreateComponentInfo(format, info.put()))
        || FAILED(info->QueryInterface(IID_IWICPixelFormatInfo, pixelInfo.putVoid()))
        || FAILED(pixelInfo->GetBitsPerPixel(&bitsPerPixel)) || FAILED(pixelInfo->GetChannelCount(&channels))
        || channels == 0)
        return "this pixel format is not supported: the plug-in works on 8- and 16-bit RGB images";

    WICPixelFormatNumericRepresentation numbers = WICPixelFormatNumericRepresentationUnspecified;
    Ref<IWICPixelFormatInfo2> pixelInfo2;
    if (SUCCEEDED(pixelInfo->QueryInterface(IID_IWICPixelFormatInfo2, pixelInfo2.putVoid())))
        pixelInfo2->GetNumericRepresentation(&numbers);
    const char* kind = numbers == WICPixelFormatNumericRepresentationFloat ? " floating-point"
        : numbers == WICPixelFormatNumericRepresentationFixed              ? " fixed-point"
                                                                           : "";
    const unsigned perSample = bitsPerPixel % channels == 0 ? bitsPerPixel / channels : 0;
    if (perSample != 0 && (*kind != '\0' || (perSample != 8 && perSample != 16)))
        return unsupportedDepth(perSample, kind);
    return "images with " + std::to_string(channels) + " channels in " + std::to_string(bitsPerPixel)
        + " bits per pixel are not supported: the plug-in works on 8- and 16-bit RGB images";
}

// ---- Limits ---------------------------------------------------------------------------------

uint64_t memoryBudget(const ReadLimits& limits)
{
    if (limits.maxBytes != 0)
        return limits.maxBytes;
    // The host holds a few copies of the image at once; a quarter of the machine's memory (or of
    // a 32-bit process's address space) leaves room for them.
    MEMORYSTATUSEX status = {};
    status.dwLength = sizeof status;
    if (!GlobalMemoryStatusEx(&status))
        return uint64_t(SIZE_MAX) / 4;
    return std::min<uint64_t>(status.ullTotalPhys, status.ullTotalVirtual) / 4;
}

std::string megabytes(double bytes) { return std::to_string(uint64_t(std::ceil(bytes / 1048576.0))) + " MB"; }

// Checked on the size a file declares, before anything image-sized exists: a few bytes of header
// may claim more pixels than the machine holds.
std::string sizeRefusal(uint64_t width, uint64_t height, int channels, int bits, const ReadLimits& limits)
{
    const std::string pixels = std::to_string(width) + " x " + std::to_string(height) + " pixels";
    if (width > uint64_t(std::max(limits.maxSide, 0)) || height > uint64_t(std::max(limits.maxSide, 0)))
        return "the image is " + pixels + ": images larger than " + std::to_string(limits.maxSide)
            + " pixels on a side cannot be handed to a filter plug-in";
    const double bytes = double(width) * double(height) * channels * (bits / 8);
    const uint64_t budget = memoryBudget(limits);
    if (bytes > double(budget))
        return "the image is " + pixels + " and would take " + megabytes(bytes) + ", more than the "
            + megabytes(double(budget)) + (limits.maxBytes ? " allowed" : " this machine can spare");
    return {};
}

// ---- Reading the containers' own structure --------------------------------------------------

// Buffered reading of a file's header and block structure; what is skipped is never read.
class StreamReader {
public:
    explicit StreamReader(IStream* stream)
        : stream_(stream)
    {
    }

    int byte()
    {
        if (next_ == end_ && !fill())
            return -1;
        return buffer_[next_++];
    }
    bool read(uint8_t* to, size_t count)
    {
        while (count > 0) {
            if (next_ == end_ && !fill())
                return false;
            const size_t piece = std::min(count, end_ - next_);
            std::memcpy(to, buffer_ + next_, piece);
            next_ += piece;
            to += piece;
            count -= piece;
        }
        return true;
    }
    bool skip(uint64_t count)
    {
        const size_t buffered = end_ - next_;
        if (count <= buffered) {
            next_ += size_t(count);
            return true;
        }
        LARGE_INTEGER move;
        move.QuadPart = LONGLONG(count - buffered);
        next_ = end_ = 0;
        return SUCCEEDED(stream_->Seek(move, STREAM_SEEK_CUR, nullptr));
    }

private:
    bool fill()
    {
        ULONG got = 0;
        if (FAILED(stream_->Read(buffer_, sizeof buffer_, &got)) || got == 0)
            return false;
        next_ = 0;
        end_ = got;
        return true;
    }

    IStream* stream_;
    uint8_t buffer_[8192];
    size_t next_ = 0, end_ = 0;
};

enum class Container { Unknown, Png, Jpeg, Tiff };

const uint8_t kPngSignature[8] = { 0x89, 'P', 'N', 'G', 13, 10, 26, 10 };

Container sniff(const uint8_t* magic, size_t size)
{
    if (size >= 8 && std::equal(kPngSignature, kPngSignature + 8, magic))
        return Container::Png;
    if (size >= 3 && magic[0] == 0xFF && magic[1] == 0xD8 && magic[2] == 0xFF)
        return Container::Jpeg;
    if (size >= 4
        && ((magic[0] == 'I' && magic[1] == 'I' && magic[3] == 0 && (magic[2] == 42 || magic[2] == 43))
            || (magic[0] == 'M' && magic[1] == 'M' && magic[2] == 0 && (magic[3] == 42 || magic[3] == 43))))
        return Container::Tiff;
    return Container::Unknown;
}

const char* containerName(Container container)
{
    return container == Container::Png ? "PNG" : container == Container::Tiff ? "TIFF" : "JPEG";
}

// What a file's own header says, read before any decoder sees the file.
struct Declared {
    uint64_t width = 0, height = 0;
    int channels = 0; // 0: not known
    int bits = 0;
    std::string refusal;
    bool arithmetic = false; // JPEG with arithmetic coding, which not every system decodes
};

uint32_t bigEndian32(const uint8_t* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

void putBigEndian32(std::vector<uint8_t>& out, uint32_t value)
{
    out.insert(
        out.end(), { uint8_t(value >> 24), uint8_t(value >> 16), uint8_t(value >> 8), uint8_t(value) });
}

bool startsWith(const std::vector<uint8_t>& data, const void* tag, size_t size)
{
    return data.size() >= size && std::memcmp(data.data(), tag, size) == 0;
}

void appendSegment(std::vector<uint8_t>& out, uint8_t marker, const void* tag, size_t tagSize,
    const uint8_t* data, size_t size)
{
    const size_t length = 2 + tagSize + size;
    out.insert(out.end(), { 0xFF, marker, uint8_t(length >> 8), uint8_t(length) });
    out.insert(out.end(), static_cast<const uint8_t*>(tag), static_cast<const uint8_t*>(tag) + tagSize);
    out.insert(out.end(), data, data + size);
}

// JPEG: the segments in front of the first scan.

const uint8_t kExifTag[6] = { 'E', 'x', 'i', 'f', 0, 0 };
const char kXmpTag[] = "http://ns.adobe.com/xap/1.0/"; // with its NUL, as stored
const uint8_t kIccTag[12] = { 'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0 };
constexpr size_t kIccHeader = sizeof kIccTag + 2; // tag, sequence number, chunk count
constexpr size_t kMaxSegmentData = 65533; // a segment's 16-bit length counts itself
constexpr size_t kIccChunk = kMaxSegmentData - kIccHeader;

bool isFrameHeader(int marker)
{
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// The frame header's marker names the coding process: +3 lossless, +4 hierarchical, +8 arithmetic.
void readFrameHeader(int marker, const std::vector<uint8_t>& data, Declared& declared)
{
    if (data.size() < 6 || declared.channels != 0)
        return;
    const unsigned precision = data[0], components = data[5];
    declared.height = unsigned(data[1]) << 8 | data[2];
    declared.width = unsigned(data[3]) << 8 | data[4];
    declared.channels = 3;
    declared.bits = 8;
    declared.arithmetic = (marker & 8) != 0;
    const char* const readable
        = " JPEG files are not supported: only baseline and progressive JPEG can be read";
    if (marker & 4)
        declared.refusal = std::string("hierarchical") + readable;
    else if ((marker & 3) == 3)
        declared.refusal = std::string("lossless") + readable;
    else if (precision != 8)
        declared.refusal
            = std::to_string(precision) + "-bit JPEG files are not supported: only 8-bit JPEG can be read";
    else if (components == 1)
        declared.refusal = kGrey;
    else if (components == 4)
        declared.refusal = kCmyk;
    else if (components != 3)
        declared.refusal = std::to_string(components)
            + "-component JPEG images are not supported: the plug-in works on RGB images";
}

// A profile split over APP2 segments numbered from 1; anything inconsistent means no profile.
std::vector<uint8_t> joinIccChunks(
    std::vector<std::pair<unsigned, std::vector<uint8_t>>> chunks, unsigned total)
{
    std::sort(chunks.begin(), chunks.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<uint8_t> profile;
    if (chunks.size() != total)
        return profile;
    for (unsigned i = 0; i < total; ++i) {
        if (chunks[i].first != i + 1)
            return {};
        profile.insert(profile.end(), chunks[i].second.begin() + kIccHeader, chunks[i].second.end());
    }
    return profile;
}

// Walks the segments up to the first scan, as a decoder does (bytes between segments are passed
// over the way decoders tolerate them): the frame header gives the size and the coding process,
// and the metadata segments are kept as stored.
void scanJpeg(StreamReader& in, Declared& declared, ImageFile& image, std::vector<uint8_t>& profile)
{
    std::vector<std::pair<unsigned, std::vector<uint8_t>>> iccChunks;
    unsigned iccTotal = 0;
    bool iccBroken = false;
    std::vector<uint8_t> data;
    if (in.byte() != 0xFF || in.byte() != 0xD8)
        return;
    for (;;) {
        int marker = in.byte();
        if (marker < 0)
            break;
        if (marker != 0xFF)
            continue;
        do
            marker = in.byte();
        while (marker == 0xFF);
        if (marker < 0 || marker == 0xD9 || marker == 0xDA)
            break;
        if (marker == 0 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8))
            continue;
        if (marker == 0xDE) { // the hierarchical process's first segment
            declared.refusal
                = "hierarchical JPEG files are not supported: only baseline and progressive JPEG can be read";
            return;
        }
        uint8_t length[2];
        if (!in.read(length, 2))
            break;
        const size_t size = size_t(length[0]) << 8 | length[1];
        if (size < 2)
            break;
        if (!isFrameHeader(marker) && marker != 0xE1 && marker != 0xE2 && marker != 0xFE) {
            if (!in.skip(size - 2))
                break;
            continue;
        }
        data.resize(size - 2);
        if (!in.read(data.data(), data.size()))
            break;
        if (isFrameHeader(marker)) {
            readFrameHeader(marker, data, declared);
        } else if (marker == 0xE1 && startsWith(data, kExifTag, sizeof kExifTag)) {
            if (image.exif.empty())
                image.exif.assign(data.begin() + sizeof kExifTag, data.end());
        } else if (marker == 0xE1 && startsWith(data, kXmpTag, sizeof kXmpTag)) {
            if (image.xmp.empty())
                image.xmp.assign(data.begin() + sizeof kXmpTag, data.end());
        } else if (marker == 0xFE) {
            image.comments.emplace_back(data.begin(), data.end());
        } else if (marker == 0xE2 && startsWith(data, kIccTag, sizeof kIccTag) && data.size() >= kIccHeader) {
            const unsigned sequence = data[12], total = data[13];
            iccBroken = iccBroken || total == 0 || (iccTotal != 0 && total != iccTotal);
            iccTotal = total;
            iccChunks.emplace_back(sequence, data);
        }
    }
    if (!iccBroken && iccTotal != 0)
        profile = joinIccChunks(std::move(iccChunks), iccTotal);
}

// PNG: the chunks, IHDR first.

uint32_t crc32(uint32_t crc, const uint8_t* data, size_t size)
{
    crc = ~crc;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void appendChunk(std::vector<uint8_t>& out, const char* type, const std::vector<uint8_t>& data)
{
    putBigEndian32(out, uint32_t(data.size()));
    const size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    putBigEndian32(out, crc32(0, out.data() + start, out.size() - start));
}

const char kXmpKeyword[] = "XML:com.adobe.xmp";

bool isPngType(const uint8_t* type, const char* name) { return std::memcmp(type, name, 4) == 0; }

void readPngHeader(const std::vector<uint8_t>& data, Declared& declared)
{
    if (data.size() != 13)
        return;
    declared.width = bigEndian32(data.data());
    declared.height = bigEndian32(data.data() + 4);
    declared.bits = data[8];
    const unsigned colourType = data[9];
    // WIC hands grey+alpha over as BGRA, so the mode has to come from the header.
    if (colourType == 0 || colourType == 4)
        declared.refusal = kGrey;
    else if (colourType == 3)
        declared.refusal = kPalette;
    declared.channels = colourType == 6 ? 4 : 3;
}

// Text is kept as stored; compressed text (zTXt, compressed iTXt) is not, for want of an
// inflater that WIC would lend.
void keepPngChunk(const uint8_t* type, const std::vector<uint8_t>& data, ImageFile& image)
{
    if (isPngType(type, "eXIf") && image.exif.empty()) {
        image.exif = data;
    } else if (isPngType(type, "gAMA") && data.size() == 4) {
        image.hasGamma = true;
        image.gamma = bigEndian32(data.data());
    } else if (isPngType(type, "cHRM") && data.size() == 32) {
        image.hasChromaticities = true;
        for (int i = 0; i < 8; ++i)
            image.chromaticities[i] = bigEndian32(data.data() + 4 * i);
    } else if (isPngType(type, "sRGB") && data.size() == 1) {
        image.srgbIntent = data[0];
    } else if (isPngType(type, "tEXt")) {
        const auto end = std::find(data.begin(), data.end(), uint8_t(0));
        if (end == data.end())
            return;
        ImageFile::Text text;
        text.keyword.assign(data.begin(), end);
        text.text.assign(end + 1, data.end());
        image.texts.push_back(std::move(text));
    } else if (isPngType(type, "iTXt")) {
        // keyword NUL, compression flag and method, language NUL, translated keyword NUL, text
        const auto keywordEnd = std::find(data.begin(), data.end(), uint8_t(0));
        if (data.end() - keywordEnd < 3 || keywordEnd[1] != 0)
            return;
        const auto languageEnd = std::find(keywordEnd + 3, data.end(), uint8_t(0));
        const auto translatedEnd
            = std::find(languageEnd + (languageEnd != data.end()), data.end(), uint8_t(0));
        if (translatedEnd == data.end())
            return;
        ImageFile::Text text;
        text.keyword.assign(data.begin(), keywordEnd);
        text.international = true;
        text.language.assign(keywordEnd + 3, languageEnd);
        text.translatedKeyword.assign(languageEnd + 1, translatedEnd);
        text.text.assign(translatedEnd + 1, data.end());
        if (text.keyword != kXmpKeyword)
            image.texts.push_back(std::move(text));
        else if (image.xmp.empty())
            image.xmp.assign(text.text.begin(), text.text.end());
    }
}

// Metadata chunks larger than this are taken for damage rather than given a buffer.
constexpr uint32_t kMaxMetadataChunk = uint32_t(64) << 20;

void scanPng(StreamReader& in, Declared& declared, ImageFile& image)
{
    uint8_t signature[8];
    if (!in.read(signature, 8))
        return;
    std::vector<uint8_t> data;
    for (bool first = true;; first = false) {
        uint8_t head[8];
        if (!in.read(head, 8))
            return;
        const uint32_t size = bigEndian32(head);
        const uint8_t* type = head + 4;
        if (size > 0x7FFFFFFFu || first != isPngType(type, "IHDR") || isPngType(type, "IEND"))
            return;
        const bool wanted = first || isPngType(type, "eXIf") || isPngType(type, "gAMA")
            || isPngType(type, "cHRM") || isPngType(type, "sRGB") || isPngType(type, "tEXt")
            || isPngType(type, "iTXt");
        if (!wanted || size > kMaxMetadataChunk) {
            if (!in.skip(uint64_t(size) + 4))
                return;
            continue;
        }
        data.resize(size_t(size) + 4);
        if (!in.read(data.data(), data.size()))
            return;
        // A chunk that fails its check is dropped, as libpng drops it.
        if (crc32(crc32(0, type, 4), data.data(), size) != bigEndian32(data.data() + size))
            continue;
        data.resize(size);
        if (first)
            readPngHeader(data, declared);
        else
            keepPngChunk(type, data, image);
    }
}

// Where IFD0's Orientation value lies in an EXIF block, or 0. It is the one value the host reads
// and sets itself, in place; everything else travels as the block it came in.
size_t orientationOffset(const std::vector<uint8_t>& exif)
{
    if (exif.size() < 8 || exif[0] != exif[1] || (exif[0] != 'I' && exif[0] != 'M'))
        return 0;
    const bool little = exif[0] == 'I';
    const auto u16 = [&](size_t at) {
        return little ? unsigned(exif[at]) | unsigned(exif[at + 1]) << 8
                      : unsigned(exif[at]) << 8 | exif[at + 1];
    };
    const auto u32 = [&](size_t at) {
        return little ? u16(at) | uint32_t(u16(at + 2)) << 16 : uint32_t(u16(at)) << 16 | u16(at + 2);
    };
    const size_t directory = u32(4);
    if (u16(2) != 42 || directory > exif.size() - 2)
        return 0;
    const size_t entries = u16(directory);
    for (size_t i = 0; i < entries && directory + 2 + 12 * (i + 1) <= exif.size(); ++i) {
        const size_t entry = directory + 2 + 12 * i;
        if (u16(entry) == 274 && u16(entry + 2) == 3 && u32(entry + 4) == 1)
            return entry + 8;
    }
    return 0;
}

int exifOrientation(const std::vector<uint8_t>& exif)
{
    const size_t at = orientationOffset(exif);
    if (at == 0)
        return 0;
    const unsigned orientation
        = exif[0] == 'I' ? exif[at] | unsigned(exif[at + 1]) << 8 : exif[at + 1] | unsigned(exif[at]) << 8;
    return orientation >= 1 && orientation <= 8 ? int(orientation) : 0;
}

// ---- TIFF directories and EXIF through WIC --------------------------------------------------

std::vector<USHORT> tiffShorts(IWICMetadataQueryReader* query, const wchar_t* name)
{
    PROPVARIANT value;
    PropVariantInit(&value);
    std::vector<USHORT> shorts;
    if (SUCCEEDED(query->GetMetadataByName(name, &value))) {
        if (value.vt == VT_UI2)
            shorts.push_back(value.uiVal);
        else if (value.vt == (VT_VECTOR | VT_UI2))
            shorts.assign(value.caui.pElems, value.caui.pElems + value.caui.cElems);
    }
    PropVariantClear(&value);
    return shorts;
}

uint32_t tiffNumber(IWICMetadataQueryReader* query, const wchar_t* name, uint32_t absent)
{
    PROPVARIANT value;
    PropVariantInit(&value);
    uint32_t number = absent;
    if (SUCCEEDED(query->GetMetadataByName(name, &value))) {
        if (value.vt == VT_UI1)
            number = value.bVal;
        else if (value.vt == VT_UI2)
            number = value.uiVal;
        else if (value.vt == VT_UI4)
            number = value.ulVal;
    }
    PropVariantClear(&value);
    return number;
}

std::vector<uint8_t> tiffBytes(IWICMetadataQueryReader* query, const wchar_t* name)
{
    PROPVARIANT value;
    PropVariantInit(&value);
    std::vector<uint8_t> bytes;
    if (SUCCEEDED(query->GetMetadataByName(name, &value))) {
        if (value.vt == VT_BLOB && value.blob.pBlobData)
            bytes.assign(value.blob.pBlobData, value.blob.pBlobData + value.blob.cbSize);
        else if (value.vt == (VT_VECTOR | VT_UI1) && value.caub.pElems)
            bytes.assign(value.caub.pElems, value.caub.pElems + value.caub.cElems);
    }
    PropVariantClear(&value);
    return bytes;
}

// Likewise WIC turns TIFF grey+alpha into BGRA and widens 2- and 4-bit RGB to 8 bits, so the
// tags decide before the pixel format does.
std::string tiffModeRefusal(IWICBitmapFrameDecode* frame)
{
    Ref<IWICMetadataQueryReader> query;
    if (FAILED(frame->GetMetadataQueryReader(query.put())))
        return {};
    for (const USHORT photometric : tiffShorts(query.get(), L"/ifd/{ushort=262}")) {
        if (photometric <= 1)
            return kGrey;
        if (photometric == 3)
            return kPalette;
        if (photometric == 5)
            return kCmyk;
    }
    const std::vector<USHORT> bits = tiffShorts(query.get(), L"/ifd/{ushort=258}");
    const unsigned firstBits = bits.empty() ? 8 : bits[0];
    for (const USHORT sampleFormat : tiffShorts(query.get(), L"/ifd/{ushort=339}")) {
        if (sampleFormat == 2)
            return unsupportedDepth(firstBits, " signed-integer");
        if (sampleFormat == 3)
            return unsupportedDepth(firstBits, " floating-point");
    }
    for (const USHORT b : bits)
        if (b != 8 && b != 16)
            return unsupportedDepth(b, "");
    return {};
}

// Thumbnails, previews and transparency masks travel beside the image in the same file
// (NewSubfileType bits 0 and 2, or the old SubfileType 2); any other directory is a page.
bool isFullResolution(IWICBitmapFrameDecode* frame)
{
    Ref<IWICMetadataQueryReader> query;
    if (FAILED(frame->GetMetadataQueryReader(query.put())))
        return true;
    return (tiffNumber(query.get(), L"/ifd/{ushort=254}", 0) & 5) == 0
        && tiffNumber(query.get(), L"/ifd/{ushort=255}", 1) != 2;
}

// The one full-resolution image, or a refusal: cutting a multi-page file to one page, and then
// writing it over the original, would lose the others.
bool chooseTiffFrame(IWICBitmapDecoder* decoder, Ref<IWICBitmapFrameDecode>& chosen, std::string& error)
{
    UINT count = 0;
    HRESULT hr = decoder->GetFrameCount(&count);
    if (SUCCEEDED(hr) && count == 0)
        hr = WINCODEC_ERR_FRAMEMISSING;
    UINT page = UINT_MAX;
    for (UINT i = 0; SUCCEEDED(hr) && i < count; ++i) {
        Ref<IWICBitmapFrameDecode> frame;
        const HRESULT found = decoder->GetFrame(i, frame.put());
        if (FAILED(found) && i == 0)
            hr = found;
        if (FAILED(found))
            break; // a damaged directory further on leaves the ones before it readable
        if (!isFullResolution(frame.get()))
            continue;
        if (page != UINT_MAX) {
            error = "the TIFF file holds several pages at full resolution: the host reads one image per file "
                    "and would lose the others";
            return false;
        }
        page = i;
    }
    if (SUCCEEDED(hr))
        hr = decoder->GetFrame(page == UINT_MAX ? 0 : page, chosen.put());
    if (FAILED(hr)) {
        error = because("cannot decode the TIFF file", hr);
        return false;
    }
    return true;
}

// IFD0 tags that describe the picture rather than its storage: they travel with the EXIF block.
const USHORT kDescriptiveTags[] = { 270, 271, 272, 305, 306, 315, 33432 };

std::wstring tagPath(const wchar_t* directory, USHORT tag)
{
    return std::wstring(directory) + L"/{ushort=" + std::to_wstring(tag) + L"}";
}

// Copies one value or nested block; one the reader does not have is no failure, a refusal is.
bool copyMetadata(IWICImagingFactory* factory, IWICMetadataQueryReader* from, const std::wstring& fromPath,
    IWICMetadataQueryWriter* to, const std::wstring& toPath, bool& copied)
{
    PROPVARIANT value;
    PropVariantInit(&value);
    if (FAILED(from->GetMetadataByName(fromPath.c_str(), &value)))
        return true;
    HRESULT hr = S_OK;
    if (value.vt == VT_UNKNOWN) {
        // A nested block goes over as a writer of its own.
        Ref<IWICMetadataQueryReader> reader;
        Ref<IWICMetadataQueryWriter> writer;
        hr = value.punkVal ? value.punkVal->QueryInterface(IID_IWICMetadataQueryReader, reader.putVoid())
                           : E_POINTER;
        if (SUCCEEDED(hr))
            hr = factory->CreateQueryWriterFromReader(reader.get(), nullptr, writer.put());
        PropVariantClear(&value);
        if (SUCCEEDED(hr)) {
            value.vt = VT_UNKNOWN;
            value.punkVal = writer.get();
            value.punkVal->AddRef();
        }
    }
    if (SUCCEEDED(hr))
        hr = to->SetMetadataByName(toPath.c_str(), &value);
    PropVariantClear(&value);
    copied = copied || SUCCEEDED(hr);
    return SUCCEEDED(hr);
}

// WIC reads and writes EXIF and XMP only inside image files, so a JPEG of a few pixels made in
// memory carries them between the blocks the host keeps and a TIFF's own tags. `fill` gets the
// carrier's metadata writer and answers whether it put anything there.
bool encodeCarrier(IWICImagingFactory* factory, const std::function<bool(IWICMetadataQueryWriter*)>& fill,
    std::vector<uint8_t>& jpeg)
{
    Ref<IStream> memory;
    Ref<IWICBitmapEncoder> encoder;
    Ref<IWICBitmapFrameEncode> frame;
    Ref<IWICMetadataQueryWriter> query;
    GUID format = GUID_WICPixelFormat24bppBGR;
    BYTE pixels[8 * 8 * 3] = {};
    bool made = SUCCEEDED(CreateStreamOnHGlobal(nullptr, TRUE, memory.put()))
        && SUCCEEDED(factory->CreateEncoder(GUID_ContainerFormatJpeg, nullptr, encoder.put()))
        && SUCCEEDED(encoder->Initialize(memory.get(), WICBitmapEncoderNoCache))
        && SUCCEEDED(encoder->CreateNewFrame(frame.put(), nullptr)) && SUCCEEDED(frame->Initialize(nullptr))
        && SUCCEEDED(frame->SetSize(8, 8)) && SUCCEEDED(frame->SetPixelFormat(&format))
        && IsEqualGUID(format, GUID_WICPixelFormat24bppBGR);
    if (made && fill)
        made = SUCCEEDED(frame->GetMetadataQueryWriter(query.put())) && fill(query.get());
    made = made && SUCCEEDED(frame->WritePixels(8, 8 * 3, sizeof pixels, pixels))
        && SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit());
    return made && streamBytes(memory.get(), jpeg);
}

// A carrier holding `segments`, read back by WIC; released in the reverse order of the members.
struct Carrier {
    std::vector<uint8_t> bytes;
    Ref<IWICStream> stream;
    Ref<IWICBitmapDecoder> decoder;
    Ref<IWICBitmapFrameDecode> frame;
    Ref<IWICMetadataQueryReader> query;
};

bool openCarrier(IWICImagingFactory* factory, const std::vector<uint8_t>& segments, Carrier& carrier)
{
    if (!encodeCarrier(factory, nullptr, carrier.bytes) || carrier.bytes.size() < 2)
        return false;
    carrier.bytes.insert(carrier.bytes.begin() + 2, segments.begin(), segments.end());
    return SUCCEEDED(factory->CreateStream(carrier.stream.put()))
        && SUCCEEDED(carrier.stream->InitializeFromMemory(carrier.bytes.data(), DWORD(carrier.bytes.size())))
        && SUCCEEDED(factory->CreateDecoderFromStream(
            carrier.stream.get(), nullptr, WICDecodeMetadataCacheOnLoad, carrier.decoder.put()))
        && SUCCEEDED(carrier.decoder->GetFrame(0, carrier.frame.put()))
        && SUCCEEDED(carrier.frame->GetMetadataQueryReader(carrier.query.put()));
}

// The EXIF and XMP blocks of a carrier WIC has written, as stored.
ImageFile metadataInJpeg(IWICImagingFactory* factory, const std::vector<uint8_t>& jpeg)
{
    ImageFile found;
    Ref<IWICStream> memory;
    if (FAILED(factory->CreateStream(memory.put()))
        || FAILED(memory->InitializeFromMemory(const_cast<uint8_t*>(jpeg.data()), DWORD(jpeg.size()))))
        return found;
    Declared declared;
    std::vector<uint8_t> profile;
    StreamReader in(memory.get());
    scanJpeg(in, declared, found, profile);
    return found;
}

bool hasMetadata(IWICMetadataQueryReader* query, const wchar_t* name)
{
    PROPVARIANT value;
    PropVariantInit(&value);
    const bool found = SUCCEEDED(query->GetMetadataByName(name, &value));
    PropVariantClear(&value);
    return found;
}

// EXIF's own directories and IFD0's descriptive tags, between a TIFF's IFD0 ("/ifd") and a
// JPEG's EXIF block ("/app1/ifd").
bool copyExif(IWICImagingFactory* factory, IWICMetadataQueryReader* from, const std::wstring& fromRoot,
    IWICMetadataQueryWriter* to, const std::wstring& toRoot, bool& copied)
{
    for (const wchar_t* block : { L"/exif", L"/gps" })
        if (!copyMetadata(factory, from, fromRoot + block, to, toRoot + block, copied))
            return false;
    for (const USHORT tag : kDescriptiveTags)
        if (!copyMetadata(
                factory, from, tagPath(fromRoot.c_str(), tag), to, tagPath(toRoot.c_str(), tag), copied))
            return false;
    return true;
}

// The orientation and the XMP packet as stored, and an EXIF block made of the EXIF directories,
// the descriptive tags and the orientation, so that the picture's data reaches JPEG and PNG too.
void readTiffMetadata(IWICImagingFactory* factory, IWICBitmapFrameDecode* frame, ImageFile& image)
{
    Ref<IWICMetadataQueryReader> query;
    if (FAILED(frame->GetMetadataQueryReader(query.put())))
        return;
    const uint32_t orientation = tiffNumber(query.get(), L"/ifd/{ushort=274}", 0);
    image.orientation = orientation >= 1 && orientation <= 8 ? int(orientation) : 0;
    image.xmp = tiffBytes(query.get(), L"/ifd/{ushort=700}");
    // Windows may show the XMP tag only as a nested reader; the carrier then stores it.
    const bool xmpNested = image.xmp.empty();
    const auto fill = [&](IWICMetadataQueryWriter* carrier) {
        bool copied = false;
        copyExif(factory, query.get(), L"/ifd", carrier, L"/app1/ifd", copied);
        if (xmpNested)
            copyMetadata(factory, query.get(), L"/ifd/xmp", carrier, L"/xmp", copied);
        if (image.orientation > 0) {
            PROPVARIANT value;
            PropVariantInit(&value);
            value.vt = VT_UI2;
            value.uiVal = USHORT(image.orientation);
            copied = SUCCEEDED(carrier->SetMetadataByName(L"/app1/ifd/{ushort=274}", &value)) || copied;
        }
        return copied;
    };
    std::vector<uint8_t> jpeg;
    if (!encodeCarrier(factory, fill, jpeg))
        return;
    ImageFile found = metadataInJpeg(factory, jpeg);
    image.exif = std::move(found.exif);
    if (xmpNested)
        image.xmp = std::move(found.xmp);
}

// ---- Reading --------------------------------------------------------------------------------

bool sizeImage(ImageFile& image, UINT width, UINT height, int channels, int bits, std::string& error)
{
    if (width == 0 || height == 0 || width > UINT(INT_MAX) || height > UINT(INT_MAX)) {
        error = "the image has no pixels or is too large";
        return false;
    }
    const unsigned long long rowBytes = (unsigned long long)width * unsigned(channels) * unsigned(bits / 8);
    // A row must fit WIC's UINT stride, the whole image this process's address space.
    if (rowBytes > UINT_MAX / 2 || rowBytes * height > (unsigned long long)(SIZE_MAX / 2)) {
        error = "the image is too large to load";
        return false;
    }
    image.width = int(width);
    image.height = int(height);
    image.channels = channels;
    image.bitsPerSample = bits;
    image.pixels.assign(size_t(rowBytes * height), 0);
    return true;
}

HRESULT copyRows(IWICBitmapSource* source, ImageFile& image)
{
    const size_t stride = image.rowBytes();
    const int band = int(std::max<size_t>(1, std::min<size_t>(kBandBytes / stride, size_t(image.height))));
    for (int y = 0; y < image.height; y += band) {
        const int rows = std::min(band, image.height - y);
        const WICRect rect = { 0, y, image.width, rows };
        const HRESULT hr = source->CopyPixels(
            &rect, UINT(stride), UINT(stride * size_t(rows)), image.pixels.data() + stride * size_t(y));
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

template <class Sample> void unpremultiplyInPlace(Sample* samples, size_t pixels, const int slot[4])
{
    const unsigned long long maximum = Sample(~Sample(0));
    for (size_t i = 0; i < pixels; ++i, samples += 4) {
        Sample stored[4];
        std::copy(samples, samples + 4, stored);
        const unsigned long long alpha = stored[3];
        for (int s = 0; s < 3; ++s) {
            const unsigned long long c = stored[s];
            samples[slot[s]]
                = alpha == 0 ? Sample(0) : Sample(std::min(maximum, (c * maximum + alpha / 2) / alpha));
        }
        samples[3] = stored[3];
    }
}

void readColourProfile(IWICImagingFactory* factory, IWICBitmapFrameDecode* frame, ImageFile& image)
{
    UINT count = 0;
    // Some decoders (Wine's JPEG one) answer WINCODEC_ERR_UNSUPPORTEDOPERATION: no profile then.
    if (FAILED(frame->GetColorContexts(0, nullptr, &count)) || count == 0)
        return;
    std::vector<IWICColorContext*> contexts(count, nullptr);
    UINT made = 0;
    while (made < count && SUCCEEDED(factory->CreateColorContext(&contexts[made])))
        ++made;
    UINT actual = 0;
    if (made == count && SUCCEEDED(frame->GetColorContexts(count, contexts.data(), &actual))) {
        for (UINT i = 0; i < std::min(actual, count) && image.iccProfile.empty(); ++i) {
            WICColorContextType type = WICColorContextUninitialized;
            UINT size = 0;
            if (FAILED(contexts[i]->GetType(&type)) || type != WICColorContextProfile
                || FAILED(contexts[i]->GetProfileBytes(0, nullptr, &size)) || size == 0)
                continue;
            image.iccProfile.resize(size);
            if (FAILED(contexts[i]->GetProfileBytes(size, image.iccProfile.data(), &size)))
                image.iccProfile.clear();
            else
                image.iccProfile.resize(size);
        }
    }
    for (UINT i = 0; i < made; ++i)
        contexts[i]->Release();
}

std::string decodeFailure(Container container, const Declared& declared, HRESULT hr)
{
    if (declared.arithmetic)
        return "arithmetic-coded JPEG files are not supported by this system's decoder";
    return because(std::string("cannot decode the ") + containerName(container) + " file", hr);
}

// A pipe or device read to its end, since decoders look back; no further than the budget, and
// only while it looks like an image.
bool readWhole(HANDLE input, uint64_t maxBytes, std::vector<uint8_t>& whole, std::string& error)
{
    size_t chunk = size_t(64) << 10;
    for (;;) {
        if (whole.size() >= 8 && sniff(whole.data(), whole.size()) == Container::Unknown)
            return true; // the caller says what it is not
        if (whole.size() > maxBytes) {
            error = "the input is larger than the " + std::to_string(maxBytes >> 20)
                + " MB that may be read from a pipe";
            return false;
        }
        const size_t used = whole.size();
        whole.resize(used + chunk);
        DWORD got = 0;
        const bool read = ReadFile(input, whole.data() + used, DWORD(chunk), &got, nullptr) != 0;
        const DWORD failure = read ? 0 : GetLastError();
        whole.resize(used + got);
        if (failure == ERROR_BROKEN_PIPE || (read && got == 0))
            return true; // the writer has closed its end
        if (failure != 0) {
            error = because("cannot read the file", HRESULT_FROM_WIN32(failure));
            return false;
        }
        chunk = std::min<size_t>(chunk * 2, size_t(16) << 20);
    }
}

// A file on disk is read by WIC as the decoder goes; anything else is read into `whole` first.
bool openInput(IWICImagingFactory* factory, const std::wstring& path, const ReadLimits& limits,
    std::vector<uint8_t>& whole, Ref<IWICStream>& stream, std::string& error)
{
    const HANDLE input
        = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (input == INVALID_HANDLE_VALUE) {
        error = openFailure("open", HRESULT_FROM_WIN32(GetLastError()));
        return false;
    }
    const bool onDisk = GetFileType(input) == FILE_TYPE_DISK;
    const bool read
        = onDisk || readWhole(input, std::min<uint64_t>(memoryBudget(limits), MAXDWORD), whole, error);
    CloseHandle(input);
    if (!read)
        return false;
    if (!onDisk && whole.empty()) {
        error = "not a PNG, TIFF or JPEG file";
        return false;
    }
    HRESULT hr = factory->CreateStream(stream.put());
    if (SUCCEEDED(hr))
        hr = onDisk ? stream->InitializeFromFilename(path.c_str(), GENERIC_READ)
                    : stream->InitializeFromMemory(whole.data(), DWORD(whole.size()));
    if (FAILED(hr))
        error = openFailure("open", hr);
    return SUCCEEDED(hr);
}

bool readWith(IWICImagingFactory* factory, const std::wstring& path, const ReadLimits& limits,
    ImageFile& image, std::string& error)
{
    std::vector<uint8_t> whole;
    Ref<IWICStream> stream;
    if (!openInput(factory, path, limits, whole, stream, error))
        return false;
    uint8_t magic[8] = {};
    ULONG got = 0;
    HRESULT hr = stream->Read(magic, sizeof magic, &got);
    if (FAILED(hr) || !rewind(stream.get())) {
        error = because("cannot read the file", FAILED(hr) ? hr : E_FAIL);
        return false;
    }
    const Container container = sniff(magic, got);
    if (container == Container::Unknown) {
        error = "not a PNG, TIFF or JPEG file";
        return false;
    }

    // PNG and JPEG decoders may decode the whole image as soon as they are made (Wine's do), so
    // their headers are checked first. A TIFF decoder reads no pixels before it is asked to.
    Declared declared;
    std::vector<uint8_t> jpegProfile;
    if (container != Container::Tiff) {
        StreamReader in(stream.get());
        if (container == Container::Png)
            scanPng(in, declared, image);
        else
            scanJpeg(in, declared, image, jpegProfile);
        if (declared.refusal.empty() && declared.channels != 0)
            declared.refusal
                = sizeRefusal(declared.width, declared.height, declared.channels, declared.bits, limits);
        if (!declared.refusal.empty()) {
            error = declared.refusal;
            return false;
        }
        if (!rewind(stream.get())) {
            error = because("cannot read the file", E_FAIL);
            return false;
        }
    }

    Ref<IWICBitmapDecoder> decoder;
    hr = factory->CreateDecoderFromStream(
        stream.get(), nullptr, WICDecodeMetadataCacheOnDemand, decoder.put());
    if (FAILED(hr)) {
        error = decodeFailure(container, declared, hr);
        return false;
    }
    GUID format = {};
    if (FAILED(decoder->GetContainerFormat(&format))
        || !isOneOf(
            format, { &GUID_ContainerFormatPng, &GUID_ContainerFormatTiff, &GUID_ContainerFormatJpeg })) {
        error = "not a PNG, TIFF or JPEG file";
        return false;
    }

    Ref<IWICBitmapFrameDecode> frame;
    if (container == Container::Tiff) {
        if (!chooseTiffFrame(decoder.get(), frame, error))
            return false;
    } else if (FAILED(hr = decoder->GetFrame(0, frame.put()))) {
        error = decodeFailure(container, declared, hr);
        return false;
    }
    UINT width = 0, height = 0;
    GUID native = {};
    hr = frame->GetSize(&width, &height);
    if (SUCCEEDED(hr))
        hr = frame->GetPixelFormat(&native);
    if (FAILED(hr)) {
        error = decodeFailure(container, declared, hr);
        return false;
    }

    std::string refusal = container == Container::Tiff ? tiffModeRefusal(frame.get()) : std::string();
    const Layout* layout = findLayout(native);
    if (refusal.empty() && !layout)
        refusal = describeUnsupported(factory, native);
    // The decoder's layout may be wider than the header promised (a PNG with a transparent colour).
    if (refusal.empty())
        refusal = sizeRefusal(width, height, layout->channels, layout->bits, limits);
    if (!refusal.empty()) {
        error = refusal;
        return false;
    }

    if (!sizeImage(image, width, height, layout->channels, layout->bits, error))
        return false;
    if (layout->premultiplied) {
        // Converters differ on whether they un-premultiply (Wine's cannot convert 64bppPRGBA at
        // all), so the stored samples are taken as they are and straightened here.
        hr = copyRows(frame.get(), image);
        const size_t pixels = size_t(image.width) * size_t(image.height);
        if (SUCCEEDED(hr) && layout->bits == 8)
            unpremultiplyInPlace(image.pixels.data(), pixels, layout->slot);
        else if (SUCCEEDED(hr))
            unpremultiplyInPlace(image.samples16(), pixels, layout->slot);
    } else if (IsEqualGUID(native, canonicalFormat(layout->channels, layout->bits))) {
        // Wine's converter refuses a conversion to the format it already has.
        hr = copyRows(frame.get(), image);
    } else {
        Ref<IWICFormatConverter> converter;
        hr = factory->CreateFormatConverter(converter.put());
        if (SUCCEEDED(hr))
            hr = converter->Initialize(frame.get(), canonicalFormat(layout->channels, layout->bits),
                WICBitmapDitherTypeNone, nullptr, 0.0, WICBitmapPaletteTypeCustom);
        if (SUCCEEDED(hr))
            hr = copyRows(converter.get(), image);
    }
    if (FAILED(hr)) {
        error = declared.arithmetic ? decodeFailure(container, declared, hr)
                                    : because("cannot decode the image", hr);
        return false;
    }

    double dpiX = 0, dpiY = 0;
    if (SUCCEEDED(frame->GetResolution(&dpiX, &dpiY)) && dpiX > 0 && dpiY > 0) {
        image.dpiX = dpiX;
        image.dpiY = dpiY;
    }
    readColourProfile(factory, frame.get(), image);
    if (image.iccProfile.empty())
        image.iccProfile = std::move(jpegProfile);
    if (container == Container::Tiff)
        readTiffMetadata(factory, frame.get(), image);
    else
        image.orientation = exifOrientation(image.exif);
    return true;
}

// ---- Writing metadata blocks ----------------------------------------------------------------

// The EXIF block to write into a JPEG or PNG file: the image's own, with its Orientation tag
// saying what image.orientation says. The tag is set in place when the block has it, so every
// other byte stays; otherwise WIC's writer makes the block.
std::vector<uint8_t> exifForOutput(
    IWICImagingFactory* factory, const ImageFile& image, std::vector<std::string>& lost)
{
    const int orientation = image.orientation;
    const int stored = exifOrientation(image.exif);
    if (orientation < 1 || orientation > 8 || stored == orientation || (stored == 0 && orientation == 1))
        return image.exif;
    std::vector<uint8_t> exif = image.exif;
    if (const size_t at = orientationOffset(exif)) {
        exif[at + (exif[0] == 'I' ? 0 : 1)] = uint8_t(orientation);
        exif[at + (exif[0] == 'I' ? 1 : 0)] = 0;
        return exif;
    }
    Carrier source;
    std::vector<uint8_t> segment;
    if (!exif.empty() && exif.size() <= kMaxSegmentData - sizeof kExifTag)
        appendSegment(segment, 0xE1, kExifTag, sizeof kExifTag, exif.data(), exif.size());
    const bool readable = exif.empty()
        || (!segment.empty() && openCarrier(factory, segment, source)
            && hasMetadata(source.query.get(), L"/app1/ifd"));
    const auto fill = [&](IWICMetadataQueryWriter* carrier) {
        bool copied = false;
        if (!exif.empty()
            && !copyMetadata(factory, source.query.get(), L"/app1/ifd", carrier, L"/app1/ifd", copied))
            return false;
        PROPVARIANT value;
        PropVariantInit(&value);
        value.vt = VT_UI2;
        value.uiVal = USHORT(orientation);
        return SUCCEEDED(carrier->SetMetadataByName(L"/app1/ifd/{ushort=274}", &value));
    };
    std::vector<uint8_t> jpeg;
    ImageFile made;
    if (readable && encodeCarrier(factory, fill, jpeg))
        made = metadataInJpeg(factory, jpeg);
    if (!made.exif.empty())
        return made.exif;
    note(lost, kLostOrientation);
    return image.exif;
}

const char kCommentKeyword[] = "Comment";

// The segments after the start-of-image marker.
std::vector<uint8_t> jpegSegments(
    const ImageFile& image, const std::vector<uint8_t>& exif, std::vector<std::string>& lost)
{
    std::vector<uint8_t> out;
    if (exif.size() > kMaxSegmentData - sizeof kExifTag)
        note(lost, kLostExif);
    else if (!exif.empty())
        appendSegment(out, 0xE1, kExifTag, sizeof kExifTag, exif.data(), exif.size());
    if (image.xmp.size() > kMaxSegmentData - sizeof kXmpTag)
        note(lost, kLostLargeXmp);
    else if (!image.xmp.empty())
        appendSegment(out, 0xE1, kXmpTag, sizeof kXmpTag, image.xmp.data(), image.xmp.size());
    // PNG's own comments are the one kind of its text that JPEG has a place for.
    std::vector<const std::string*> comments;
    for (const std::string& comment : image.comments)
        comments.push_back(&comment);
    for (const ImageFile::Text& text : image.texts)
        if (text.keyword == kCommentKeyword)
            comments.push_back(&text.text);
    for (const std::string* comment : comments) {
        if (comment->size() > kMaxSegmentData)
            note(lost, kLostComments);
        else
            appendSegment(
                out, 0xFE, "", 0, reinterpret_cast<const uint8_t*>(comment->data()), comment->size());
    }
    return out;
}

std::vector<uint8_t> jpegProfileSegments(const std::vector<uint8_t>& profile)
{
    std::vector<uint8_t> out;
    const size_t count = (profile.size() + kIccChunk - 1) / kIccChunk;
    for (size_t i = 0; i < count && count <= 255; ++i) {
        const size_t offset = i * kIccChunk;
        uint8_t tag[kIccHeader];
        std::copy(kIccTag, kIccTag + sizeof kIccTag, tag);
        tag[12] = uint8_t(i + 1);
        tag[13] = uint8_t(count);
        appendSegment(out, 0xE2, tag, sizeof tag, profile.data() + offset,
            std::min(kIccChunk, profile.size() - offset));
    }
    return out;
}

bool isPngKeyword(const std::string& keyword)
{
    return !keyword.empty() && keyword.size() <= 79 && keyword.find('\0') == std::string::npos;
}

std::vector<uint8_t> iTXtData(const std::string& keyword, const std::string& language,
    const std::string& translated, const std::string& text)
{
    std::vector<uint8_t> data(keyword.begin(), keyword.end());
    data.insert(data.end(), { 0, 0, 0 }); // not compressed
    data.insert(data.end(), language.begin(), language.end());
    data.push_back(0);
    data.insert(data.end(), translated.begin(), translated.end());
    data.push_back(0);
    data.insert(data.end(), text.begin(), text.end());
    return data;
}

bool isAscii(const std::string& text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool isUtf8(const std::string& text)
{
    return text.size() <= size_t(INT_MAX)
        && MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), int(text.size()), nullptr, 0) > 0;
}

// The chunks after IHDR, where the colour chunks must be and every other one may be.
std::vector<uint8_t> pngChunks(
    const ImageFile& image, const std::vector<uint8_t>& exif, std::vector<std::string>& lost)
{
    std::vector<uint8_t> out, data;
    if (image.hasGamma) {
        data.clear();
        putBigEndian32(data, image.gamma);
        appendChunk(out, "gAMA", data);
    }
    if (image.hasChromaticities) {
        data.clear();
        for (const uint32_t value : image.chromaticities)
            putBigEndian32(data, value);
        appendChunk(out, "cHRM", data);
    }
    if (image.srgbIntent >= 0 && image.srgbIntent <= 3)
        appendChunk(out, "sRGB", { uint8_t(image.srgbIntent) });
    if (!exif.empty())
        appendChunk(out, "eXIf", exif);
    if (!image.xmp.empty())
        appendChunk(
            out, "iTXt", iTXtData(kXmpKeyword, "", "", std::string(image.xmp.begin(), image.xmp.end())));
    for (const ImageFile::Text& text : image.texts) {
        if (text.keyword == kXmpKeyword && !image.xmp.empty()) {
            continue; // the packet itself is written
        } else if (!isPngKeyword(text.keyword)
            || (!text.international && text.text.find('\0') != std::string::npos)) {
            note(lost, kLostKeyword);
        } else if (text.international) {
            appendChunk(
                out, "iTXt", iTXtData(text.keyword, text.language, text.translatedKeyword, text.text));
        } else {
            data.assign(text.keyword.begin(), text.keyword.end());
            data.push_back(0);
            data.insert(data.end(), text.text.begin(), text.text.end());
            appendChunk(out, "tEXt", data);
        }
    }
    // A JPEG comment has no stated encoding; UTF-8 that is not plain ASCII goes international.
    for (const std::string& comment : image.comments) {
        if (!isAscii(comment) && isUtf8(comment)) {
            appendChunk(out, "iTXt", iTXtData(kCommentKeyword, "", "", comment));
        } else if (comment.find('\0') == std::string::npos) {
            data.assign(kCommentKeyword, kCommentKeyword + sizeof kCommentKeyword); // with its NUL
            data.insert(data.end(), comment.begin(), comment.end());
            appendChunk(out, "tEXt", data);
        } else {
            note(lost, kLostComments);
        }
    }
    return out;
}

// iCCP holds its profile as a zlib stream; stored blocks are zlib enough, and no deflater is needed.
std::vector<uint8_t> pngProfileChunk(const std::vector<uint8_t>& profile)
{
    const char name[] = "ICC profile";
    std::vector<uint8_t> data(name, name + sizeof name); // with its NUL
    data.insert(data.end(), { 0, 0x78, 0x01 }); // deflate; zlib header
    uint32_t a = 1, b = 0;
    size_t at = 0;
    do {
        const size_t n = std::min<size_t>(65535, profile.size() - at);
        data.insert(data.end(),
            { uint8_t(at + n == profile.size()), uint8_t(n), uint8_t(n >> 8), uint8_t(~n),
                uint8_t(~n >> 8) });
        data.insert(data.end(), profile.begin() + at, profile.begin() + at + n);
        for (size_t i = at; i < at + n; ++i) {
            a = (a + profile[i]) % 65521;
            b = (b + a) % 65521;
        }
        at += n;
    } while (at < profile.size());
    putBigEndian32(data, b << 16 | a);
    std::vector<uint8_t> out;
    appendChunk(out, "iCCP", data);
    return out;
}

// Passes an encoder's output through to the file, with blocks the encoder cannot write itself
// placed at a fixed point of it: after the JPEG start-of-image marker, after the PNG header
// chunk. The encoder's positions leave the inserted bytes out, so its own seeks stay valid.
class SplicingStream final : public IStream {
public:
    SplicingStream(IStream* target, uint64_t at, std::vector<uint8_t> blocks)
        : target_(target)
        , at_(at)
        , blocks_(std::move(blocks))
    {
        target_->AddRef();
    }
    SplicingStream(const SplicingStream&) = delete;
    SplicingStream& operator=(const SplicingStream&) = delete;

    // More blocks, for as long as the encoder has not reached the point.
    bool append(const std::vector<uint8_t>& blocks)
    {
        if (inserted_ || blocks.empty())
            return false;
        blocks_.insert(blocks_.end(), blocks.begin(), blocks.end());
        return true;
    }
    // The encoder wrote in an order that left no room for the blocks.
    bool refused() const { return refused_; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (!object)
            return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_ISequentialStream)
            || IsEqualIID(iid, IID_IStream)) {
            *object = static_cast<IStream*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(InterlockedIncrement(&references_)); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG left = InterlockedDecrement(&references_);
        if (left == 0)
            delete this;
        return ULONG(left);
    }
    HRESULT STDMETHODCALLTYPE Read(void* data, ULONG size, ULONG* done) override
    {
        return transfer(static_cast<uint8_t*>(data), size, done, false);
    }
    HRESULT STDMETHODCALLTYPE Write(const void* data, ULONG size, ULONG* done) override
    {
        return transfer(const_cast<uint8_t*>(static_cast<const uint8_t*>(data)), size, done, true);
    }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override
    {
        LONGLONG base = 0;
        if (origin == STREAM_SEEK_CUR) {
            base = LONGLONG(position_);
        } else if (origin == STREAM_SEEK_END) {
            STATSTG stat = {};
            const HRESULT hr = Stat(&stat, STATFLAG_NONAME);
            if (FAILED(hr))
                return hr;
            base = LONGLONG(stat.cbSize.QuadPart);
        } else if (origin != STREAM_SEEK_SET) {
            return STG_E_INVALIDFUNCTION;
        }
        if (base + move.QuadPart < 0)
            return STG_E_INVALIDFUNCTION;
        position_ = uint64_t(base + move.QuadPart);
        if (position)
            position->QuadPart = position_;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER size) override
    {
        ULARGE_INTEGER stored;
        stored.QuadPart = physical(size.QuadPart);
        return target_->SetSize(stored);
    }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override
    {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD flags) override { return target_->Commit(flags); }
    HRESULT STDMETHODCALLTYPE Revert() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override
    {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override
    {
        return STG_E_INVALIDFUNCTION;
    }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD flags) override
    {
        const HRESULT hr = target_->Stat(stat, flags);
        if (SUCCEEDED(hr) && inserted_ && stat->cbSize.QuadPart >= at_ + blocks_.size())
            stat->cbSize.QuadPart -= blocks_.size();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Clone(IStream** copy) override
    {
        if (copy)
            *copy = nullptr;
        return E_NOTIMPL;
    }

private:
    ~SplicingStream() { target_->Release(); }

    uint64_t physical(uint64_t logical) const
    {
        return inserted_ && logical >= at_ ? logical + blocks_.size() : logical;
    }

    HRESULT insert()
    {
        STATSTG stat = {};
        HRESULT hr = target_->Stat(&stat, STATFLAG_NONAME);
        if (SUCCEEDED(hr) && stat.cbSize.QuadPart != at_) {
            refused_ = true;
            return STG_E_INVALIDFUNCTION;
        }
        LARGE_INTEGER to;
        to.QuadPart = LONGLONG(at_);
        if (SUCCEEDED(hr))
            hr = target_->Seek(to, STREAM_SEEK_SET, nullptr);
        ULONG moved = 0;
        if (SUCCEEDED(hr) && !blocks_.empty())
            hr = target_->Write(blocks_.data(), ULONG(blocks_.size()), &moved);
        if (SUCCEEDED(hr) && moved != blocks_.size())
            hr = STG_E_MEDIUMFULL;
        inserted_ = SUCCEEDED(hr);
        return hr;
    }

    HRESULT transfer(uint8_t* data, ULONG size, ULONG* done, bool writing)
    {
        ULONG total = 0;
        HRESULT hr = S_OK;
        while (total < size && SUCCEEDED(hr)) {
            if (writing && !inserted_ && position_ >= at_ && FAILED(hr = insert()))
                break;
            ULONG piece = size - total;
            if (position_ < at_)
                piece = ULONG(std::min<uint64_t>(piece, at_ - position_));
            LARGE_INTEGER to;
            to.QuadPart = LONGLONG(physical(position_));
            ULONG moved = 0;
            hr = target_->Seek(to, STREAM_SEEK_SET, nullptr);
            if (SUCCEEDED(hr))
                hr = writing ? target_->Write(data + total, piece, &moved)
                             : target_->Read(data + total, piece, &moved);
            total += moved;
            position_ += moved;
            if (moved < piece)
                break;
        }
        if (done)
            *done = total;
        return hr;
    }

    IStream* target_;
    const uint64_t at_;
    std::vector<uint8_t> blocks_;
    uint64_t position_ = 0;
    bool inserted_ = false;
    bool refused_ = false;
    LONG references_ = 1;
};

// TIFF tags only a TIFF writer may place; WIC's is the one at hand.
void writeTiffMetadata(IWICImagingFactory* factory, IWICBitmapFrameEncode* frame, const ImageFile& image,
    std::vector<std::string>& lost)
{
    Ref<IWICMetadataQueryWriter> query;
    const bool writable = SUCCEEDED(frame->GetMetadataQueryWriter(query.put()));
    if (image.orientation > 0) {
        PROPVARIANT value;
        PropVariantInit(&value);
        value.vt = VT_UI2;
        value.uiVal = USHORT(image.orientation);
        // Orientation 1 is what a reader assumes anyway.
        if ((!writable || FAILED(query->SetMetadataByName(L"/ifd/{ushort=274}", &value)))
            && image.orientation > 1)
            note(lost, kLostOrientation);
    }
    bool xmpKept = image.xmp.empty();
    if (!xmpKept && writable && image.xmp.size() <= ULONG_MAX) {
        PROPVARIANT value;
        PropVariantInit(&value);
        value.vt = VT_VECTOR | VT_UI1;
        value.caub.cElems = ULONG(image.xmp.size());
        value.caub.pElems = const_cast<UCHAR*>(image.xmp.data()); // read only, never freed here
        xmpKept = SUCCEEDED(query->SetMetadataByName(L"/ifd/{ushort=700}", &value));
    }
    // What the TIFF writer will not take as bytes goes through a carrier.
    bool exifKept = image.exif.empty();
    std::vector<uint8_t> segments;
    if (!exifKept && image.exif.size() <= kMaxSegmentData - sizeof kExifTag)
        appendSegment(segments, 0xE1, kExifTag, sizeof kExifTag, image.exif.data(), image.exif.size());
    if (!xmpKept && image.xmp.size() <= kMaxSegmentData - sizeof kXmpTag)
        appendSegment(segments, 0xE1, kXmpTag, sizeof kXmpTag, image.xmp.data(), image.xmp.size());
    Carrier carrier;
    if (writable && !segments.empty() && openCarrier(factory, segments, carrier)) {
        bool copied = false;
        // A system whose JPEG decoder shows no EXIF cannot carry it.
        exifKept = exifKept
            || (hasMetadata(carrier.query.get(), L"/app1/ifd")
                && copyExif(factory, carrier.query.get(), L"/app1/ifd", query.get(), L"/ifd", copied));
        copied = false;
        xmpKept = xmpKept
            || (copyMetadata(factory, carrier.query.get(), L"/xmp", query.get(), L"/ifd/xmp", copied)
                && copied);
    }
    if (!exifKept)
        note(lost, kLostExif);
    if (!xmpKept)
        note(lost, kLostXmp);
}

// What the output format has no place for, whatever the system's codecs can do.
void noteWhatTheFormatCannotHold(ImageFormat format, const ImageFile& image, std::vector<std::string>& lost)
{
    if (format == ImageFormat::Tiff && !image.comments.empty())
        note(lost, kLostComments);
    for (const ImageFile::Text& text : image.texts)
        if (format == ImageFormat::Tiff || (format == ImageFormat::Jpeg && text.keyword != kCommentKeyword))
            note(lost, kLostText);
    if (format != ImageFormat::Png && (image.hasGamma || image.hasChromaticities || image.srgbIntent >= 0))
        note(lost, kLostColourChunks);
}

void noteAllMetadata(const ImageFile& image, std::vector<std::string>& lost)
{
    if (!image.exif.empty())
        note(lost, kLostExif);
    if (!image.xmp.empty())
        note(lost, kLostXmp);
    if (image.orientation > 1)
        note(lost, kLostOrientation);
    if (!image.comments.empty())
        note(lost, kLostComments);
    if (!image.texts.empty())
        note(lost, kLostText);
    if (image.hasGamma || image.hasChromaticities || image.srgbIntent >= 0)
        note(lost, kLostColourChunks);
}

// ---- Writing --------------------------------------------------------------------------------

void writeProperty(IPropertyBag2* properties, const wchar_t* name, VARIANT value, HRESULT* result = nullptr)
{
    PROPBAG2 option = {};
    option.pstrName = const_cast<LPOLESTR>(name);
    const HRESULT hr = properties->Write(1, &option, &value);
    if (result)
        *result = hr;
}

VARIANT byteVariant(int value)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_UI1;
    v.bVal = BYTE(value);
    return v;
}

// Options the encoder may not know; a refusal leaves its default, which is still a valid file.
// WIC's PNG encoder has no compression level, so WriteOptions::pngCompression has nothing to set.
void setEncoderOptions(ImageFormat format, const WriteOptions& options, IPropertyBag2* properties)
{
    if (format == ImageFormat::Tiff) {
        HRESULT hr = E_FAIL;
        writeProperty(properties, L"TiffCompressionMethod", byteVariant(WICTiffCompressionZIP), &hr);
        if (FAILED(hr))
            writeProperty(properties, L"TiffCompressionMethod", byteVariant(WICTiffCompressionNone));
    } else if (format == ImageFormat::Jpeg) {
        VARIANT quality;
        VariantInit(&quality);
        quality.vt = VT_R4;
        quality.fltVal = float(std::clamp(options.jpegQuality, 1, 100)) / 100.0f;
        writeProperty(properties, L"ImageQuality", quality);
        writeProperty(properties, L"JpegYCrCbSubsampling", byteVariant(WICJpegYCrCbSubsampling444));
    }
}

template <class Sample>
void packRows(const Sample* from, size_t pixels, int channels, const Layout& layout, Sample* to)
{
    const Sample opaque = Sample(~Sample(0));
    for (size_t i = 0; i < pixels; ++i, from += channels, to += layout.slots)
        for (int s = 0; s < layout.slots; ++s)
            to[s] = layout.slot[s] < 0 ? opaque : from[layout.slot[s]];
}

// Wine's PNG encoder (8.0) copies 16-bit samples into the file as they lie in memory instead
// of in the file's big-endian order, while its decoder does swap them. Rather than recognising
// Wine by name, a one-pixel image made in memory shows whether this encoder is one of those.
bool encoderTakesFileByteOrder(IWICImagingFactory* factory, const GUID& container, const GUID& format)
{
    uint16_t pixel[4] = { 0x0102, 0x0304, 0x0506, 0x0708 };
    uint16_t back[4] = {};
    const UINT bytes = IsEqualGUID(format, GUID_WICPixelFormat48bppRGB) ? 6 : 8;
    Ref<IStream> memory;
    Ref<IWICBitmapEncoder> encoder;
    Ref<IWICBitmapFrameEncode> frame;
    Ref<IWICBitmapDecoder> decoder;
    Ref<IWICBitmapFrameDecode> decoded;
    GUID offered = format, read = {};
    const bool made = SUCCEEDED(CreateStreamOnHGlobal(nullptr, TRUE, memory.put()))
        && SUCCEEDED(factory->CreateEncoder(container, nullptr, encoder.put()))
        && SUCCEEDED(encoder->Initialize(memory.get(), WICBitmapEncoderNoCache))
        && SUCCEEDED(encoder->CreateNewFrame(frame.put(), nullptr)) && SUCCEEDED(frame->Initialize(nullptr))
        && SUCCEEDED(frame->SetSize(1, 1)) && SUCCEEDED(frame->SetPixelFormat(&offered))
        && IsEqualGUID(offered, format)
        && SUCCEEDED(frame->WritePixels(1, bytes, bytes, reinterpret_cast<BYTE*>(pixel)))
        && SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit()) && rewind(memory.get())
        && SUCCEEDED(factory->CreateDecoderFromStream(
            memory.get(), nullptr, WICDecodeMetadataCacheOnDemand, decoder.put()))
        && SUCCEEDED(decoder->GetFrame(0, decoded.put())) && SUCCEEDED(decoded->GetPixelFormat(&read))
        && IsEqualGUID(read, format)
        && SUCCEEDED(decoded->CopyPixels(nullptr, bytes, bytes, reinterpret_cast<BYTE*>(back)));
    return made && back[0] == 0x0201 && back[1] == 0x0403;
}

const char* formatName(ImageFormat format)
{
    return format == ImageFormat::Png ? "PNG" : format == ImageFormat::Tiff ? "TIFF" : "JPEG";
}

bool setColourProfile(
    IWICImagingFactory* factory, IWICBitmapFrameEncode* frame, const std::vector<uint8_t>& profile)
{
    Ref<IWICColorContext> context;
    if (profile.size() > UINT_MAX || FAILED(factory->CreateColorContext(context.put()))
        || FAILED(context->InitializeFromMemory(profile.data(), UINT(profile.size()))))
        return false;
    IWICColorContext* contexts[] = { context.get() };
    return SUCCEEDED(frame->SetColorContexts(1, contexts));
}

// `withMetadata` false writes the pixels alone, for an encoder that leaves no room for blocks
// (`inTheWay` then says so).
bool encode(IWICImagingFactory* factory, IWICStream* file, ImageFormat format, const ImageFile& image,
    const WriteOptions& options, bool withMetadata, std::vector<std::string>& lost, std::string& error,
    bool& inTheWay)
{
    const GUID& container = format == ImageFormat::Png ? GUID_ContainerFormatPng
        : format == ImageFormat::Tiff                  ? GUID_ContainerFormatTiff
                                                       : GUID_ContainerFormatJpeg;
    Ref<SplicingStream> splicing;
    IStream* target = file;
    if (withMetadata && format != ImageFormat::Tiff) {
        const bool jpeg = format == ImageFormat::Jpeg;
        const std::vector<uint8_t> exif = exifForOutput(factory, image, lost);
        *splicing.put() = new SplicingStream(
            file, jpeg ? 2 : 33, jpeg ? jpegSegments(image, exif, lost) : pngChunks(image, exif, lost));
        target = splicing.get();
    }
    Ref<IWICBitmapEncoder> encoder;
    Ref<IWICBitmapFrameEncode> frame;
    Ref<IPropertyBag2> properties;
    HRESULT hr = factory->CreateEncoder(container, nullptr, encoder.put());
    if (SUCCEEDED(hr))
        hr = encoder->Initialize(target, WICBitmapEncoderNoCache);
    if (SUCCEEDED(hr))
        hr = encoder->CreateNewFrame(frame.put(), properties.put());
    if (SUCCEEDED(hr)) {
        setEncoderOptions(format, options, properties.get());
        hr = frame->Initialize(properties.get());
    }
    if (SUCCEEDED(hr))
        hr = frame->SetSize(UINT(image.width), UINT(image.height));
    if (SUCCEEDED(hr) && image.dpiX > 0 && image.dpiY > 0)
        hr = frame->SetResolution(image.dpiX, image.dpiY);
    if (FAILED(hr)) {
        error = because(std::string("cannot set up the ") + formatName(format) + " encoder", hr);
        return false;
    }

    // BGR orders first for 8 bits: they are what every encoder, Wine's included, takes as is
    // (Wine's PNG encoder would turn 24bppRGB into BGRA, its TIFF one 32bppRGBA into BGR).
    const GUID* wanted = image.bitsPerSample == 16
        ? (image.channels == 3 ? &GUID_WICPixelFormat48bppRGB : &GUID_WICPixelFormat64bppRGBA)
        : (image.channels == 3 ? &GUID_WICPixelFormat24bppBGR : &GUID_WICPixelFormat32bppBGRA);
    GUID offered = *wanted;
    hr = frame->SetPixelFormat(&offered);
    const Layout* layout = SUCCEEDED(hr) ? findLayout(offered) : nullptr;
    // Only a layout that carries every sample unchanged will do; anything else would lose data.
    if (!layout || layout->premultiplied || layout->bits != image.bitsPerSample
        || layout->channels != image.channels) {
        error = "the " + std::string(formatName(format)) + " encoder of this system cannot store "
            + std::to_string(image.bitsPerSample) + "-bit " + (image.channels == 3 ? "RGB" : "RGBA")
            + " images";
        if (FAILED(hr))
            error = because(error, hr);
        return false;
    }

    if (!withMetadata) {
        noteAllMetadata(image, lost);
        if (!image.iccProfile.empty() && !setColourProfile(factory, frame.get(), image.iccProfile))
            note(lost, kLostProfile);
    } else {
        // Wine's encoders take no colour contexts; JPEG and PNG then get the profile as a block.
        if (!image.iccProfile.empty() && !setColourProfile(factory, frame.get(), image.iccProfile)
            && !(splicing.get()
                && splicing->append(format == ImageFormat::Jpeg ? jpegProfileSegments(image.iccProfile)
                                                                : pngProfileChunk(image.iccProfile))))
            note(lost, kLostProfile);
        if (format == ImageFormat::Tiff)
            writeTiffMetadata(factory, frame.get(), image, lost);
        noteWhatTheFormatCannotHold(format, image, lost);
    }

    const size_t sampleBytes = size_t(image.bitsPerSample / 8);
    const size_t stride = size_t(image.width) * size_t(layout->slots) * sampleBytes;
    if (stride > UINT_MAX / 2) {
        error = "the image is too wide to write";
        return false;
    }
    const bool swapBytes = sampleBytes == 2 && encoderTakesFileByteOrder(factory, container, *layout->format);
    const int band = int(std::max<size_t>(1, std::min<size_t>(kBandBytes / stride, size_t(image.height))));
    std::vector<uint8_t> packed(stride * size_t(band));
    for (int y = 0; y < image.height && SUCCEEDED(hr); y += band) {
        const int rows = std::min(band, image.height - y);
        const size_t pixels = size_t(image.width) * size_t(rows);
        const uint8_t* from = image.pixels.data() + image.rowBytes() * size_t(y);
        if (sampleBytes == 1)
            packRows(from, pixels, image.channels, *layout, packed.data());
        else
            packRows(reinterpret_cast<const uint16_t*>(from), pixels, image.channels, *layout,
                reinterpret_cast<uint16_t*>(packed.data()));
        if (swapBytes)
            for (size_t i = 0; i + 1 < stride * size_t(rows); i += 2)
                std::swap(packed[i], packed[i + 1]);
        hr = frame->WritePixels(UINT(rows), UINT(stride), UINT(stride * size_t(rows)), packed.data());
    }
    if (SUCCEEDED(hr))
        hr = frame->Commit();
    if (SUCCEEDED(hr))
        hr = encoder->Commit();
    if (SUCCEEDED(hr))
        hr = file->Commit(STGC_DEFAULT);
    if (FAILED(hr)) {
        inTheWay = splicing.get() && splicing->refused();
        error = because("cannot encode the image", hr);
        return false;
    }
    return true;
}

bool checkWritable(ImageFormat format, const ImageFile& image, std::string& error)
{
    if (!canWriteImageFile(image, format, WriteOptions(), error))
        return false;
    if (image.pixels.size() / image.rowBytes() != size_t(image.height)
        || image.pixels.size() % image.rowBytes() != 0)
        error = "the image to write is malformed";
    return error.empty();
}

} // namespace

bool canWriteImageFile(const ImageFile& image, ImageFormat format, const WriteOptions&, std::string& error)
{
    error.clear();
    if (format != ImageFormat::Png && format != ImageFormat::Tiff && format != ImageFormat::Jpeg)
        error = "unknown output format: use .png, .tif, .tiff, .jpg or .jpeg";
    else if (image.width <= 0 || image.height <= 0 || size_t(image.width) > SIZE_MAX / 8
        || (image.channels != 3 && image.channels != 4)
        || (image.bitsPerSample != 8 && image.bitsPerSample != 16))
        error = "the image to write is malformed";
    else if (format == ImageFormat::Jpeg && image.channels == 4)
        error = "JPEG cannot hold transparency";
    else if (format == ImageFormat::Jpeg && image.bitsPerSample != 8)
        error = "JPEG holds 8 bits per sample only";
    else if (format == ImageFormat::Jpeg && image.exif.size() > kMaxSegmentData - sizeof kExifTag)
        error = "the EXIF block (" + std::to_string(image.exif.size())
            + " bytes) is too large for a JPEG file, which holds at most "
            + std::to_string(kMaxSegmentData - sizeof kExifTag);
    return error.empty();
}

bool readImageFile(const std::string& path, ImageFile& image, std::string& error, const ReadLimits& limits)
{
    error.clear();
    image = ImageFile();
    std::wstring wide;
    if (!widen(path, wide, error))
        return false;
    try {
        const ComScope com;
        Ref<IWICImagingFactory> factory;
        if (createFactory(com, factory, error) && readWith(factory.get(), wide, limits, image, error))
            return true;
    } catch (const std::bad_alloc&) {
        error = "not enough memory for the image";
    }
    image = ImageFile();
    return false;
}

bool writeImageFile(const std::string& path, ImageFormat format, const ImageFile& image, std::string& error,
    const WriteOptions& options, std::vector<std::string>* notCarried)
{
    error.clear();
    std::wstring wide;
    if (!checkWritable(format, image, error) || !widen(path, wide, error))
        return false;
    std::vector<std::string> lost;
    bool created = false;
    bool written = false;
    try {
        // Everything holding the file open goes out of scope before it is deleted.
        const ComScope com;
        Ref<IWICImagingFactory> factory;
        if (createFactory(com, factory, error)) {
            for (const bool withMetadata : { true, false }) {
                lost.clear();
                bool inTheWay = false;
                Ref<IWICStream> stream;
                HRESULT hr = factory->CreateStream(stream.put());
                if (SUCCEEDED(hr))
                    hr = stream->InitializeFromFilename(wide.c_str(), GENERIC_WRITE);
                if (FAILED(hr)) {
                    error = openFailure("create", hr);
                    break;
                }
                created = true;
                written = encode(
                    factory.get(), stream.get(), format, image, options, withMetadata, lost, error, inTheWay);
                // The pixels matter more than the blocks: an encoder that leaves them no room
                // writes the image again without them.
                if (written || !inTheWay)
                    break;
            }
        }
    } catch (const std::bad_alloc&) {
        error = "not enough memory to write the image";
    }
    if (created && !written)
        DeleteFileW(wide.c_str());
    if (written && notCarried)
        *notCarried = std::move(lost);
    return written;
}

} // namespace quarvel::host
