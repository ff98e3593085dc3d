// Image files on Windows through the Windows Imaging Component, so that the host needs no
// codec libraries of its own. Wine's WIC is narrower than Windows' (no identity conversions,
// no 16-bit BGR orders, no colour contexts on encoders), so every path here either stays on
// what both provide or does the work itself.
#include "tools/host/ImageFile.h"

#include <windows.h>
#include <wincodec.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <new>

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

std::string withHresult(const std::string& what, HRESULT hr)
{
    char code[32];
    std::snprintf(code, sizeof code, " (HRESULT 0x%08lX)", static_cast<unsigned long>(hr));
    return what + code;
}

std::string openFailure(const char* doing, HRESULT hr)
{
    if (hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) || hr == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND))
        return withHresult(std::string("cannot ") + doing + " the file: no such file or folder", hr);
    if (hr == E_ACCESSDENIED)
        return withHresult(std::string("cannot ") + doing + " the file: access denied", hr);
    return withHresult(std::string("cannot ") + doing + " the file", hr);
}

// Balances its own CoInitializeEx only: a thread that already runs COM in the other apartment
// model (RPC_E_CHANGED_MODE) is used as it is and left that way.
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
        error = withHresult("cannot start COM", com.failure());
        return false;
    }
    // SDKs for Windows 8 and later name the newer class CLSID_WICImagingFactory; Windows 7
    // registers only the first one.
    HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IWICImagingFactory, factory.putVoid());
    if (FAILED(hr) && !IsEqualCLSID(CLSID_WICImagingFactory, CLSID_WICImagingFactory1))
        hr = CoCreateInstance(CLSID_WICImagingFactory1, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IWICImagingFactory, factory.putVoid());
    if (FAILED(hr)) {
        error = withHresult("the Windows Imaging Component is not available", hr);
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
    for (const UINT codePage : {UINT(CP_UTF8), UINT(CP_ACP)}) {
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

// One interleaved memory layout WIC knows by GUID. slot[i] is the ImageFile channel
// (0 R, 1 G, 2 B, 3 A) stored at position i of a pixel, or -1 for padding.
struct Layout {
    const GUID* format;
    int bits;
    int channels; // ImageFile channels it carries
    int slots;    // samples per pixel in memory
    int slot[4];
    bool premultiplied;
};

const Layout kLayouts[] = {
    {&GUID_WICPixelFormat24bppRGB, 8, 3, 3, {0, 1, 2, -1}, false},
    {&GUID_WICPixelFormat24bppBGR, 8, 3, 3, {2, 1, 0, -1}, false},
    {&GUID_WICPixelFormat32bppRGB, 8, 3, 4, {0, 1, 2, -1}, false},
    {&GUID_WICPixelFormat32bppBGR, 8, 3, 4, {2, 1, 0, -1}, false},
    {&GUID_WICPixelFormat32bppRGBA, 8, 4, 4, {0, 1, 2, 3}, false},
    {&GUID_WICPixelFormat32bppBGRA, 8, 4, 4, {2, 1, 0, 3}, false},
    {&GUID_WICPixelFormat32bppPRGBA, 8, 4, 4, {0, 1, 2, 3}, true},
    {&GUID_WICPixelFormat32bppPBGRA, 8, 4, 4, {2, 1, 0, 3}, true},
    {&GUID_WICPixelFormat48bppRGB, 16, 3, 3, {0, 1, 2, -1}, false},
    {&GUID_WICPixelFormat48bppBGR, 16, 3, 3, {2, 1, 0, -1}, false},
    {&GUID_WICPixelFormat64bppRGB, 16, 3, 4, {0, 1, 2, -1}, false},
    {&GUID_WICPixelFormat64bppRGBA, 16, 4, 4, {0, 1, 2, 3}, false},
    {&GUID_WICPixelFormat64bppBGRA, 16, 4, 4, {2, 1, 0, 3}, false},
    {&GUID_WICPixelFormat64bppPRGBA, 16, 4, 4, {0, 1, 2, 3}, true},
    {&GUID_WICPixelFormat64bppPBGRA, 16, 4, 4, {2, 1, 0, 3}, true},
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
    return std::to_string(bits) + "-bit" + kind +
           " images are not supported: the plug-in works on 8- and 16-bit RGB images";
}

std::string describeUnsupported(IWICImagingFactory* factory, const GUID& format)
{
    if (isOneOf(format, {&GUID_WICPixelFormatBlackWhite, &GUID_WICPixelFormat2bppGray,
                         &GUID_WICPixelFormat4bppGray, &GUID_WICPixelFormat8bppGray,
                         &GUID_WICPixelFormat16bppGray, &GUID_WICPixelFormat16bppGrayFixedPoint,
                         &GUID_WICPixelFormat16bppGrayHalf, &GUID_WICPixelFormat32bppGrayFloat,
                         &GUID_WICPixelFormat32bppGrayFixedPoint}))
        return kGrey;
    if (isOneOf(format, {&GUID_WICPixelFormat1bppIndexed, &GUID_WICPixelFormat2bppIndexed,
                         &GUID_WICPixelFormat4bppIndexed, &GUID_WICPixelFormat8bppIndexed}))
        return kPalette;
    if (isOneOf(format, {&GUID_WICPixelFormat32bppCMYK, &GUID_WICPixelFormat64bppCMYK,
                         &GUID_WICPixelFormat40bppCMYKAlpha, &GUID_WICPixelFormat80bppCMYKAlpha}))
        return kCmyk;

    Ref<IWICComponentInfo> info;
    Ref<IWICPixelFormatInfo> pixelInfo;
    UINT bitsPerPixel = 0, channels = 0;
    if (FAILED(factory->CreateComponentInfo(format, info.put())) ||
        FAILED(info->QueryInterface(IID_IWICPixelFormatInfo, pixelInfo.putVoid())) ||
        FAILED(pixelInfo->GetBitsPerPixel(&bitsPerPixel)) || FAILED(pixelInfo->GetChannelCount(&channels)) ||
        channels == 0)
        return "this pixel format is not supported: the plug-in works on 8- and 16-bit RGB images";

    WICPixelFormatNumericRepresentation numbers = WICPixelFormatNumericRepresentationUnspecified;
    Ref<IWICPixelFormatInfo2> pixelInfo2;
    if (SUCCEEDED(pixelInfo->QueryInterface(IID_IWICPixelFormatInfo2, pixelInfo2.putVoid())))
        pixelInfo2->GetNumericRepresentation(&numbers);
    const char* kind = numbers == WICPixelFormatNumericRepresentationFloat        ? " floating-point"
                       : numbers == WICPixelFormatNumericRepresentationFixed      ? " fixed-point"
                                                                                  : "";
    const unsigned perSample = bitsPerPixel % channels == 0 ? bitsPerPixel / channels : 0;
    if (perSample != 0 && (*kind != '\0' || (perSample != 8 && perSample != 16)))
        return unsupportedDepth(perSample, kind);
    return "images with " + std::to_string(channels) + " channels in " + std::to_string(bitsPerPixel) +
           " bits per pixel are not supported: the plug-in works on 8- and 16-bit RGB images";
}

// WIC hands grey+alpha PNGs over as BGRA, so the mode has to come from the file's own header.
std::string pngModeRefusal(const unsigned char header[26])
{
    static const unsigned char signature[8] = {0x89, 'P', 'N', 'G', 13, 10, 26, 10};
    if (!std::equal(signature, signature + 8, header) || !std::equal(header + 12, header + 16, "IHDR"))
        return {};
    const unsigned colourType = header[25];
    if (colourType == 0 || colourType == 4)
        return kGrey;
    if (colourType == 3)
        return kPalette;
    return {};
}

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
        const WICRect rect = {0, y, image.width, rows};
        const HRESULT hr = source->CopyPixels(&rect, UINT(stride), UINT(stride * size_t(rows)),
                                              image.pixels.data() + stride * size_t(y));
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
            samples[slot[s]] = alpha == 0 ? Sample(0)
                                          : Sample(std::min(maximum, (c * maximum + alpha / 2) / alpha));
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
            if (FAILED(contexts[i]->GetType(&type)) || type != WICColorContextProfile ||
                FAILED(contexts[i]->GetProfileBytes(0, nullptr, &size)) || size == 0)
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

bool readWith(IWICImagingFactory* factory, const std::wstring& path, ImageFile& image, std::string& error)
{
    Ref<IWICStream> stream;
    HRESULT hr = factory->CreateStream(stream.put());
    if (SUCCEEDED(hr))
        hr = stream->InitializeFromFilename(path.c_str(), GENERIC_READ);
    if (FAILED(hr)) {
        error = openFailure("open", hr);
        return false;
    }
    unsigned char header[26] = {};
    ULONG got = 0;
    const LARGE_INTEGER start = {};
    if (FAILED(stream->Read(header, sizeof header, &got)) || FAILED(stream->Seek(start, STREAM_SEEK_SET, nullptr))) {
        error = "cannot read the file";
        return false;
    }

    Ref<IWICBitmapDecoder> decoder;
    hr = factory->CreateDecoderFromStream(stream.get(), nullptr, WICDecodeMetadataCacheOnDemand, decoder.put());
    if (hr == WINCODEC_ERR_COMPONENTNOTFOUND) {
        error = "not a PNG, TIFF or JPEG file";
        return false;
    }
    if (FAILED(hr)) {
        error = withHresult("the file is damaged or not an image", hr);
        return false;
    }
    GUID container = {};
    if (FAILED(decoder->GetContainerFormat(&container)) ||
        !isOneOf(container, {&GUID_ContainerFormatPng, &GUID_ContainerFormatTiff, &GUID_ContainerFormatJpeg})) {
        error = "not a PNG, TIFF or JPEG file";
        return false;
    }

    Ref<IWICBitmapFrameDecode> frame;
    UINT width = 0, height = 0;
    GUID native = {};
    hr = decoder->GetFrame(0, frame.put());
    if (SUCCEEDED(hr))
        hr = frame->GetSize(&width, &height);
    if (SUCCEEDED(hr))
        hr = frame->GetPixelFormat(&native);
    if (FAILED(hr)) {
        error = withHresult("the file is damaged", hr);
        return false;
    }

    std::string refusal;
    if (IsEqualGUID(container, GUID_ContainerFormatPng))
        refusal = got == sizeof header ? pngModeRefusal(header) : std::string();
    else if (IsEqualGUID(container, GUID_ContainerFormatTiff))
        refusal = tiffModeRefusal(frame.get());
    const Layout* layout = findLayout(native);
    if (refusal.empty() && !layout)
        refusal = describeUnsupported(factory, native);
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
        error = withHresult("cannot decode the image", hr);
        return false;
    }

    double dpiX = 0, dpiY = 0;
    if (SUCCEEDED(frame->GetResolution(&dpiX, &dpiY)) && dpiX > 0 && dpiY > 0) {
        image.dpiX = dpiX;
        image.dpiY = dpiY;
    }
    readColourProfile(factory, frame.get(), image);
    return true;
}

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
void setEncoderOptions(ImageFormat format, IPropertyBag2* properties)
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
        quality.fltVal = 0.95f;
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
    uint16_t pixel[4] = {0x0102, 0x0304, 0x0506, 0x0708};
    uint16_t back[4] = {};
    const UINT bytes = IsEqualGUID(format, GUID_WICPixelFormat48bppRGB) ? 6 : 8;
    Ref<IStream> memory;
    Ref<IWICBitmapEncoder> encoder;
    Ref<IWICBitmapFrameEncode> frame;
    Ref<IWICBitmapDecoder> decoder;
    Ref<IWICBitmapFrameDecode> decoded;
    GUID offered = format, read = {};
    const LARGE_INTEGER start = {};
    const bool made =
        SUCCEEDED(CreateStreamOnHGlobal(nullptr, TRUE, memory.put())) &&
        SUCCEEDED(factory->CreateEncoder(container, nullptr, encoder.put())) &&
        SUCCEEDED(encoder->Initialize(memory.get(), WICBitmapEncoderNoCache)) &&
        SUCCEEDED(encoder->CreateNewFrame(frame.put(), nullptr)) && SUCCEEDED(frame->Initialize(nullptr)) &&
        SUCCEEDED(frame->SetSize(1, 1)) && SUCCEEDED(frame->SetPixelFormat(&offered)) &&
        IsEqualGUID(offered, format) &&
        SUCCEEDED(frame->WritePixels(1, bytes, bytes, reinterpret_cast<BYTE*>(pixel))) &&
        SUCCEEDED(frame->Commit()) && SUCCEEDED(encoder->Commit()) &&
        SUCCEEDED(memory->Seek(start, STREAM_SEEK_SET, nullptr)) &&
        SUCCEEDED(factory->CreateDecoderFromStream(memory.get(), nullptr, WICDecodeMetadataCacheOnDemand,
                                                   decoder.put())) &&
        SUCCEEDED(decoder->GetFrame(0, decoded.put())) && SUCCEEDED(decoded->GetPixelFormat(&read)) &&
        IsEqualGUID(read, format) &&
        SUCCEEDED(decoded->CopyPixels(nullptr, bytes, bytes, reinterpret_cast<BYTE*>(back)));
    return made && back[0] == 0x0201 && back[1] == 0x0403;
}

const char* formatName(ImageFormat format)
{
    return format == ImageFormat::Png ? "PNG" : format == ImageFormat::Tiff ? "TIFF" : "JPEG";
}

bool encode(IWICImagingFactory* factory, IWICStream* stream, ImageFormat format, const ImageFile& image,
            std::string& error)
{
    const GUID& container = format == ImageFormat::Png    ? GUID_ContainerFormatPng
                            : format == ImageFormat::Tiff ? GUID_ContainerFormatTiff
                                                          : GUID_ContainerFormatJpeg;
    Ref<IWICBitmapEncoder> encoder;
    Ref<IWICBitmapFrameEncode> frame;
    Ref<IPropertyBag2> properties;
    HRESULT hr = factory->CreateEncoder(container, nullptr, encoder.put());
    if (SUCCEEDED(hr))
        hr = encoder->Initialize(stream, WICBitmapEncoderNoCache);
    if (SUCCEEDED(hr))
        hr = encoder->CreateNewFrame(frame.put(), properties.put());
    if (SUCCEEDED(hr)) {
        setEncoderOptions(format, properties.get());
        hr = frame->Initialize(properties.get());
    }
    if (SUCCEEDED(hr))
        hr = frame->SetSize(UINT(image.width), UINT(image.height));
    if (SUCCEEDED(hr) && image.dpiX > 0 && image.dpiY > 0)
        hr = frame->SetResolution(image.dpiX, image.dpiY);
    if (FAILED(hr)) {
        error = withHresult(std::string("cannot set up the ") + formatName(format) + " encoder", hr);
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
    if (!layout || layout->premultiplied || layout->bits != image.bitsPerSample || layout->channels != image.channels) {
        error = "the " + std::string(formatName(format)) + " encoder of this system cannot store " +
                std::to_string(image.bitsPerSample) + "-bit " + (image.channels == 3 ? "RGB" : "RGBA") + " images";
        if (FAILED(hr))
            error = withHresult(error, hr);
        return false;
    }

    if (!image.iccProfile.empty() && image.iccProfile.size() <= UINT_MAX) {
        // Wine's encoders do not implement colour contexts; the pixels matter more than the tag.
        Ref<IWICColorContext> context;
        if (SUCCEEDED(factory->CreateColorContext(context.put())) &&
            SUCCEEDED(context->InitializeFromMemory(image.iccProfile.data(), UINT(image.iccProfile.size())))) {
            IWICColorContext* contexts[] = {context.get()};
            frame->SetColorContexts(1, contexts);
        }
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
        hr = stream->Commit(STGC_DEFAULT);
    if (FAILED(hr)) {
        error = withHresult("cannot encode the image", hr);
        return false;
    }
    return true;
}

bool checkWritable(ImageFormat format, const ImageFile& image, std::string& error)
{
    if (format != ImageFormat::Png && format != ImageFormat::Tiff && format != ImageFormat::Jpeg)
        error = "unknown output format: use .png, .tif, .tiff, .jpg or .jpeg";
    else if (image.width <= 0 || image.height <= 0 || size_t(image.width) > SIZE_MAX / 8 || (image.channels != 3 && image.channels != 4) ||
             (image.bitsPerSample != 8 && image.bitsPerSample != 16) ||
             image.pixels.size() / image.rowBytes() != size_t(image.height) ||
             image.pixels.size() % image.rowBytes() != 0)
        error = "the image to write is malformed";
    else if (format == ImageFormat::Jpeg && image.channels == 4)
        error = "JPEG cannot hold transparency";
    else if (format == ImageFormat::Jpeg && image.bitsPerSample != 8)
        error = "JPEG holds 8 bits per sample only";
    return error.empty();
}

} // namespace


bool canWriteImageFile(const ImageFile&, ImageFormat, const WriteOptions&, std::string&) { return true; }

bool readImageFile(const std::string& path, ImageFile& image, std::string& error, const ReadLimits&)
{
    error.clear();
    image = ImageFile();
    std::wstring wide;
    if (!widen(path, wide, error))
        return false;
    try {
        const ComScope com;
        Ref<IWICImagingFactory> factory;
        if (createFactory(com, factory, error) && readWith(factory.get(), wide, image, error))
            return true;
    } catch (const std::bad_alloc&) {
        error = "not enough memory for the image";
    }
    image = ImageFile();
    return false;
}

bool writeImageFile(const std::string& path, ImageFormat format, const ImageFile& image, std::string& error,
                    const WriteOptions&, std::vector<std::string>*)
{
    error.clear();
    std::wstring wide;
    if (!checkWritable(format, image, error) || !widen(path, wide, error))
        return false;
    bool created = false;
    bool written = false;
    try {
        // Everything holding the file open goes out of scope before it is deleted.
        const ComScope com;
        Ref<IWICImagingFactory> factory;
        Ref<IWICStream> stream;
        if (createFactory(com, factory, error)) {
            HRESULT hr = factory->CreateStream(stream.put());
            if (SUCCEEDED(hr))
                hr = stream->InitializeFromFilename(wide.c_str(), GENERIC_WRITE);
            created = SUCCEEDED(hr);
            if (!created)
                error = openFailure("create", hr);
            else
                written = encode(factory.get(), stream.get(), format, image, error);
        }
    } catch (const std::bad_alloc&) {
        error = "not enough memory to write the image";
    }
    if (created && !written)
        DeleteFileW(wide.c_str());
    return written;
}

} // namespace quarvel::host
