#include "tools/host/HostSession.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>

namespace quarvel::host {

using namespace pluginapi;

namespace {

// The record's procedures are plain C functions; one session runs at a time.
HostSession* gActive = nullptr;

constexpr int kMaxContinueCalls = 100000;

bool rectEmpty(const Rect& r) { return r.right <= r.left || r.bottom <= r.top; }

struct HandleBlock {
    char* data; // first field: hosts' handles are pointers to a data pointer
    int32_t size;
};

Handle newHandle(int32_t size)
{
    if (size < 0)
        return nullptr;
    auto* block = static_cast<HandleBlock*>(std::calloc(1, sizeof(HandleBlock)));
    if (!block)
        return nullptr;
    block->data = static_cast<char*>(std::calloc(1, size_t(size) + 1));
    if (!block->data) {
        std::free(block);
        return nullptr;
    }
    block->size = size;
    return reinterpret_cast<Handle>(block);
}

// Descriptors live beside the handles that stand for them.
std::map<Handle, Descriptor>& descriptors()
{
    static std::map<Handle, Descriptor> all;
    return all;
}

void disposeHandle(Handle h)
{
    if (!h)
        return;
    descriptors().erase(h);
    auto* block = reinterpret_cast<HandleBlock*>(h);
    std::free(block->data);
    std::free(block);
}

int32_t handleSize(Handle h) { return h ? reinterpret_cast<HandleBlock*>(h)->size : 0; }

OSErr setHandleSize(Handle h, int32_t newSize)
{
    if (!h || newSize < 0)
        return nilHandleErr;
    auto* block = reinterpret_cast<HandleBlock*>(h);
    auto* data = static_cast<char*>(std::realloc(block->data, size_t(newSize) + 1));
    if (!data)
        return memFullErr;
    if (newSize > block->size)
        std::memset(data + block->size, 0, size_t(newSize - block->size) + 1);
    block->data = data;
    block->size = newSize;
    return noErr;
}

Ptr lockHandle(Handle h, Boolean) { return h ? reinterpret_cast<HandleBlock*>(h)->data : nullptr; }
void unlockHandle(Handle) { }
void recoverSpace(int32_t) { }

HandleProcs gHandleProcs = {
    kCurrentHandleProcsVersion,
    kCurrentHandleProcsCount,
    newHandle,
    disposeHandle,
    handleSize,
    setHandleSize,
    lockHandle,
    unlockHandle,
    recoverSpace,
    disposeHandle,
};

struct ReadToken {
    Descriptor entries;
    std::vector<DescriptorKeyID> wanted;
    size_t next = 0;
    const DescriptorEntry* current = nullptr;
};

struct WriteToken {
    Descriptor entries;
};

PIReadDescriptor openRead(PIDescriptorHandle handle, DescriptorKeyIDArray keys)
{
    const Descriptor* descriptor = descriptorOf(handle);
    if (!descriptor)
        return nullptr;
    auto* token = new ReadToken { *descriptor, {}, 0, nullptr };
    for (size_t i = 0; keys && keys[i] != 0 && i < 1000; ++i)
        token->wanted.push_back(keys[i]);
    return reinterpret_cast<PIReadDescriptor>(token);
}

OSErr closeRead(PIReadDescriptor token)
{
    delete reinterpret_cast<ReadToken*>(token);
    return noErr;
}

// Only the keys the plug-in asked for are handed out, in the order the descriptor holds them.
Boolean getKey(PIReadDescriptor t, DescriptorKeyID* key, DescriptorTypeID* type, int32_t* flags)
{
    auto* token = reinterpret_cast<ReadToken*>(t);
    while (token && token->next < token->entries.size()) {
        const DescriptorEntry& entry = token->entries[token->next++];
        if (!token->wanted.empty()
            && std::find(token->wanted.begin(), token->wanted.end(), entry.key) == token->wanted.end())
            continue;
        token->current = &entry;
        if (key)
            *key = entry.key;
        if (type)
            *type = typeChar;
        if (flags)
            *flags = 0;
        return 1;
    }
    return 0;
}

OSErr getString(PIReadDescriptor t, Str255* value)
{
    auto* token = reinterpret_cast<ReadToken*>(t);
    if (!token || !token->current || !value)
        return paramErr;
    const std::string& text = token->current->value;
    const size_t n = std::min<size_t>(text.size(), 255);
    (*value)[0] = uint8_t(n);
    std::memcpy(*value + 1, text.data(), n);
    return noErr;
}

// Values of other types never occur in our descriptors.
OSErr notText() { return paramErr; }
template <typename... A> OSErr refuse(A...) { return notText(); }

PIWriteDescriptor openWrite() { return reinterpret_cast<PIWriteDescriptor>(new WriteToken); }

OSErr closeWrite(PIWriteDescriptor t, PIDescriptorHandle* created)
{
    std::unique_ptr<WriteToken> token(reinterpret_cast<WriteToken*>(t));
    if (!created)
        return paramErr;
    *created = token ? newDescriptorHandle(token->entries) : nullptr;
    return *created ? noErr : memFullErr;
}

OSErr putString(PIWriteDescriptor t, DescriptorKeyID key, ConstStr255Param value)
{
    auto* token = reinterpret_cast<WriteToken*>(t);
    if (!token || !value)
        return paramErr;
    token->entries.push_back({ key, std::string(reinterpret_cast<const char*>(value + 1), value[0]) });
    return noErr;
}

ReadDescriptorProcs gReadProcs = {
    kCurrentReadDescriptorProcsVersion,
    kCurrentReadDescriptorProcsCount,
    openRead,
    closeRead,
    getKey,
    refuse<PIReadDescriptor, int32_t*>,
    refuse<PIReadDescriptor, real64*>,
    refuse<PIReadDescriptor, DescriptorUnitID*, real64*>,
    refuse<PIReadDescriptor, Boolean*>,
    refuse<PIReadDescriptor, Handle*>,
    refuse<PIReadDescriptor, Handle*>,
    refuse<PIReadDescriptor, DescriptorEnumID*>,
    refuse<PIReadDescriptor, DescriptorTypeID*>,
    refuse<PIReadDescriptor, PIDescriptorSimpleReference*>,
    refuse<PIReadDescriptor, DescriptorTypeID*, PIDescriptorHandle*>,
    refuse<PIReadDescriptor, uint32_t*>,
    getString,
    refuse<PIReadDescriptor, int32_t, int32_t, int32_t*>,
    refuse<PIReadDescriptor, const real64*, const real64*, real64*>,
    refuse<PIReadDescriptor, const real64*, const real64*, DescriptorUnitID*, real64*>,
};

WriteDescriptorProcs gWriteProcs = {
    kCurrentWriteDescriptorProcsVersion,
    kCurrentWriteDescriptorProcsCount,
    openWrite,
    closeWrite,
    refuse<PIWriteDescriptor, DescriptorKeyID, int32_t>,
    refuse<PIWriteDescriptor, DescriptorKeyID, const real64*>,
    refuse<PIWriteDescriptor, DescriptorKeyID, DescriptorUnitID, const real64*>,
    refuse<PIWriteDescriptor, DescriptorKeyID, Boolean>,
    refuse<PIWriteDescriptor, DescriptorKeyID, Handle>,
    refuse<PIWriteDescriptor, DescriptorKeyID, Handle>,
    refuse<PIWriteDescriptor, DescriptorKeyID, DescriptorTypeID, DescriptorEnumID>,
    refuse<PIWriteDescriptor, DescriptorKeyID, DescriptorTypeID>,
    refuse<PIWriteDescriptor, DescriptorKeyID, const PIDescriptorSimpleReference*>,
    refuse<PIWriteDescriptor, DescriptorKeyID, DescriptorTypeID, PIDescriptorHandle>,
    refuse<PIWriteDescriptor, DescriptorKeyID, uint32_t>,
    putString,
    refuse<PIWriteDescriptor, DescriptorKeyID, DescriptorTypeID>,
    refuse<PIWriteDescriptor, DescriptorKeyID, DescriptorTypeID, PIDescriptorHandle>,
};

} // namespace

HandleProcs* hostHandleProcs() { return &gHandleProcs; }
ReadDescriptorProcs* hostReadDescriptorProcs() { return &gReadProcs; }
WriteDescriptorProcs* hostWriteDescriptorProcs() { return &gWriteProcs; }

namespace {
uint64_t gDescriptorsMade = 0;
}

Handle newDescriptorHandle(const Descriptor& descriptor)
{
    Handle h = newHandle(0);
    if (h) {
        descriptors()[h] = descriptor;
        ++gDescriptorsMade;
    }
    return h;
}

const Descriptor* descriptorOf(Handle handle)
{
    auto found = descriptors().find(handle);
    return found == descriptors().end() ? nullptr : &found->second;
}

void disposeDescriptorHandle(Handle handle) { disposeHandle(handle); }

HostSession::HostSession(PluginEntryProc entry, SessionOptions options)
    : entry_(entry)
    , options_(std::move(options))
{
    record_.abortProc = &HostSession::abortProc;
    record_.progressProc = &HostSession::progressProc;
    record_.advanceState = &HostSession::advanceStateProc;
    record_.hostSig = fourCC("QVho");
    platform_.hwnd = options_.parentWindow;
    record_.platformData = &platform_;
    record_.handleProcs = hostHandleProcs();
    descriptorParameters_.descriptorParametersVersion = kCurrentDescriptorParametersVersion;
    descriptorParameters_.readDescriptorProcs = hostReadDescriptorProcs();
    descriptorParameters_.writeDescriptorProcs = hostWriteDescriptorProcs();
    record_.descriptorParameters = &descriptorParameters_;
    record_.inputPadding = -3;
    record_.outputPadding = -3;
    record_.maskPadding = -3;
    record_.dummyPlaneValue = -1;
    record_.inputRate = 0x10000;
    record_.maskRate = 0x10000;
}

HostSession::~HostSession()
{
    disposeDescriptorHandle(descriptorParameters_.descriptor);
    if (gActive == this)
        gActive = nullptr;
}

Boolean HostSession::abortProc()
{
    if (!gActive || !gActive->options_.abortRequested)
        return 0;
    return gActive->options_.abortRequested() ? 1 : 0;
}

void HostSession::progressProc(int32_t done, int32_t total)
{
    if (gActive && gActive->options_.progress)
        gActive->options_.progress(done, total);
}

OSErr HostSession::advanceStateProc() { return gActive ? gActive->advanceState() : OSErr(paramErr); }

void HostSession::call(int16_t selector, int16_t& result)
{
    result = noErr;
    entry_(selector, &record_, &pluginData_, &result);
}

namespace {

bool sameRect(const Rect& a, const Rect& b)
{
    return a.top == b.top && a.left == b.left && a.bottom == b.bottom && a.right == b.right;
}

// Moves a rectangle and a plane range between an image's interleaved rows and a buffer holding
// just those planes, interleaved, rows packed. Returns the buffer's row bytes.
template <bool kIntoBuffer>
size_t copyArea(const HostImage& image, uint8_t* pixels, const Rect& r, int lo, int hi, uint8_t* buffer)
{
    const size_t bytes = size_t(image.bits / 8);
    const size_t pixelBytes = size_t(hi - lo + 1) * bytes;
    const size_t imagePixelBytes = size_t(image.planes) * bytes;
    const size_t row = size_t(r.right - r.left) * pixelBytes;
    // With every plane, a row of the area is one run of bytes in the image too.
    const bool allPlanes = pixelBytes == imagePixelBytes;
    const size_t run = allPlanes ? row : pixelBytes;
    const size_t imageStep = allPlanes ? row : imagePixelBytes;
    for (int y = r.top; y < r.bottom; ++y) {
        uint8_t* inImage
            = pixels + size_t(y) * image.rowBytes() + size_t(r.left) * imagePixelBytes + size_t(lo) * bytes;
        uint8_t* inBuffer = buffer + size_t(y - r.top) * row;
        for (size_t x = 0; x < row; x += run, inImage += imageStep) {
            if constexpr (kIntoBuffer)
                std::memcpy(inBuffer + x, inImage, run);
            else
                std::memcpy(inImage, inBuffer + x, run);
        }
    }
    return row;
}

} // namespace

// Output handed out in a buffer of its own is taken into the samples the plug-in works on when
// it asks for the next area and after its last call, as hosts do.
void HostSession::commitOutput()
{
    if (!outDelivered_ || !image_ || !pixels_)
        return;
    copyArea<false>(*image_, pixels_->data(), deliveredOut_, deliveredLo_, deliveredHi_, outBuffer_.data());
}

OSErr HostSession::advanceState()
{
    if (!image_ || !pixels_)
        return paramErr;
    commitOutput();
    outDelivered_ = false;

    auto valid = [&](const Rect& r, int16_t lo, int16_t hi) {
        return r.left >= 0 && r.top >= 0 && r.right <= image_->width && r.bottom <= image_->height && lo >= 0
            && hi < image_->planes && lo <= hi;
    };
    const bool wantIn = !rectEmpty(record_.inRect);
    const bool wantOut = !rectEmpty(record_.outRect);
    record_.inData = nullptr;
    record_.inRowBytes = 0;
    record_.outData = nullptr;
    record_.outRowBytes = 0;
    record_.maskData = nullptr;
    record_.maskRowBytes = 0;
    if ((wantIn && !valid(record_.inRect, record_.inLoPlane, record_.inHiPlane))
        || (wantOut && !valid(record_.outRect, record_.outLoPlane, record_.outHiPlane)))
        return paramErr;

    // The whole image in one piece: the output would start as a copy of the input, so one
    // buffer, the samples themselves, serves as both (what that asks of the plug-in: see run).
    const Rect whole { 0, 0, int16_t(image_->height), int16_t(image_->width) };
    const int16_t lastPlane = int16_t(image_->planes - 1);
    if (wantIn && wantOut && sameRect(record_.inRect, whole) && sameRect(record_.outRect, whole)
        && record_.inLoPlane == 0 && record_.outLoPlane == 0 && record_.inHiPlane == lastPlane
        && record_.outHiPlane == lastPlane) {
        record_.inData = record_.outData = pixels_->data();
        record_.inRowBytes = record_.outRowBytes = int32_t(image_->rowBytes());
        return noErr;
    }

    // Area by area, output is taken into a copy of the samples, so that a run that fails later
    // leaves the image as it was.
    if (pixels_ == &image_->samples) {
        working_ = image_->samples;
        pixels_ = &working_;
    }
    auto sizeFor = [&](const Rect& r, int16_t lo, int16_t hi) {
        return size_t(r.right - r.left) * size_t(hi - lo + 1) * size_t(image_->bits / 8)
            * size_t(r.bottom - r.top);
    };
    if (wantIn) {
        inBuffer_.resize(sizeFor(record_.inRect, record_.inLoPlane, record_.inHiPlane));
        record_.inRowBytes = int32_t(copyArea<true>(*image_, pixels_->data(), record_.inRect,
            record_.inLoPlane, record_.inHiPlane, inBuffer_.data()));
        record_.inData = inBuffer_.data();
    }
    if (wantOut) {
        // The output starts as a copy of the input, as the plug-in's filter cases ask.
        outBuffer_.resize(sizeFor(record_.outRect, record_.outLoPlane, record_.outHiPlane));
        record_.outRowBytes = int32_t(copyArea<true>(*image_, pixels_->data(), record_.outRect,
            record_.outLoPlane, record_.outHiPlane, outBuffer_.data()));
        record_.outData = outBuffer_.data();
        deliveredOut_ = record_.outRect;
        deliveredLo_ = record_.outLoPlane;
        deliveredHi_ = record_.outHiPlane;
        outDelivered_ = true;
    }
    return noErr;
}

SessionResult HostSession::run(HostImage& image)
{
    SessionResult outcome;
    image_ = &image;
    pixels_ = &image.samples;
    gActive = this;

    const int16_t w = int16_t(image.width);
    const int16_t h = int16_t(image.height);
    record_.imageSize = Point { h, w };
    record_.wholeSize = Point { h, w };
    record_.planes = int16_t(image.planes);
    record_.filterRect = Rect { 0, 0, h, w };
    record_.imageMode = image.bits == 16 ? plugInModeRGB48 : plugInModeRGBColor;
    record_.depth = image.bits;
    record_.imageHRes = 72 << 16;
    record_.imageVRes = 72 << 16;
    record_.filterCase
        = image.planes == 4 ? filterCaseEditableTransparencyNoSelection : filterCaseFlatImageNoSelection;
    record_.background = RGBColor { 65535, 65535, 65535 };
    record_.foreground = RGBColor { 0, 0, 0 };
    std::memset(record_.backColor, 255, sizeof record_.backColor);
    std::memset(record_.foreColor, 0, sizeof record_.foreColor);
    record_.maxSpace = 1 << 30;
    record_.inRect = record_.outRect = record_.maskRect = Rect { 0, 0, 0, 0 };
    record_.autoMask = 1;

    disposeDescriptorHandle(descriptorParameters_.descriptor);
    descriptorParameters_.descriptor
        = options_.hasDescriptor ? newDescriptorHandle(options_.descriptor) : nullptr;
    // The plug-in disposes the descriptor it was given before it writes its own, so the new
    // handle may well reuse the old one's address: only a count tells that a new one was made.
    const uint64_t madeBefore = gDescriptorsMade;
    descriptorParameters_.playInfo = options_.showDialog ? plugInDialogDisplay : plugInDialogDontDisplay;
    descriptorParameters_.recordInfo = plugInDialogOptional;

    call(filterSelectorPrepare, outcome.prepareResult);
    if (outcome.prepareResult == noErr) {
        outDelivered_ = false;
        call(filterSelectorStart, outcome.startResult);
        outcome.started = true;
        int16_t result = outcome.startResult;
        for (int n = 0; result == noErr && n < kMaxContinueCalls
             && (!rectEmpty(record_.inRect) || !rectEmpty(record_.outRect) || !rectEmpty(record_.maskRect));
             ++n) {
            if (advanceState() != noErr)
                break;
            call(filterSelectorContinue, result);
        }
        if (result == noErr) {
            commitOutput();
            outDelivered_ = false;
        }
        // No buffer is the plug-in's after its last area: a write at finish must not reach a
        // lent image once the outcome is settled.
        record_.inData = record_.outData = nullptr;
        int16_t finishResult = noErr;
        call(filterSelectorFinish, finishResult);
        const Handle now = descriptorParameters_.descriptor;
        if (const Descriptor* recorded = gDescriptorsMade != madeBefore ? descriptorOf(now) : nullptr) {
            outcome.recorded = true;
            outcome.recordedDescriptor = *recorded;
        }
        if (outcome.startResult == noErr)
            outcome.startResult = result;
        if (outcome.startResult == noErr) {
            if (pixels_ == &working_)
                image.samples.swap(working_);
            outcome.imageChanged = true;
        }
    }
    // Nothing of the image may outlive the run: its samples are the caller's again.
    record_.inData = record_.outData = nullptr;
    std::vector<uint8_t>().swap(working_);
    std::vector<uint8_t>().swap(inBuffer_);
    std::vector<uint8_t>().swap(outBuffer_);
    outDelivered_ = false;
    image_ = nullptr;
    pixels_ = nullptr;
    gActive = nullptr;
    return outcome;
}

} // namespace quarvel::host
