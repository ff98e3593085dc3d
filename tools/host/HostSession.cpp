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
void unlockHandle(Handle) {}
void recoverSpace(int32_t) {}

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
    auto* token = new ReadToken{*descriptor, {}, 0, nullptr};
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
        if (!token->wanted.empty() &&
            std::find(token->wanted.begin(), token->wanted.end(), entry.key) == token->wanted.end())
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
template <typename... A>
OSErr refuse(A...)
{
    return notText();
}

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
    token->entries.push_back({key, std::string(reinterpret_cast<const char*>(value + 1), value[0])});
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
    : entry_(entry), options_(std::move(options))
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

// Output handed out before is taken into the image when the plug-in asks for the next area
// and after its last call, as hosts do.
void HostSession::commitOutput()
{
    if (!outDelivered_ || !image_)
        return;
    const Rect r = deliveredOut_;
    const int bytes = image_->bits / 8;
    const int planes = deliveredHi_ - deliveredLo_ + 1;
    const size_t outRow = size_t(r.right - r.left) * size_t(planes) * size_t(bytes);
    for (int y = r.top; y < r.bottom; ++y) {
        const uint8_t* src = outBuffer_.data() + size_t(y - r.top) * outRow;
        uint8_t* dst = image_->samples.data() + size_t(y) * image_->rowBytes();
        for (int x = r.left; x < r.right; ++x) {
            const uint8_t* s = src + size_t(x - r.left) * size_t(planes) * size_t(bytes);
            uint8_t* d = dst + (size_t(x) * size_t(image_->planes) + size_t(deliveredLo_)) * size_t(bytes);
            std::memcpy(d, s, size_t(planes) * size_t(bytes));
        }
    }
}

OSErr HostSession::advanceState()
{
    if (!image_)
        return paramErr;
    commitOutput();
    outDelivered_ = false;

    const int bytes = image_->bits / 8;
    auto valid = [&](const Rect& r, int16_t lo, int16_t hi) {
        return r.left >= 0 && r.top >= 0 && r.right <= image_->width && r.bottom <= image_->height &&
               lo >= 0 && hi < image_->planes && lo <= hi;
    };
    // Copies a rectangle and a plane range out of the image, planes interleaved, rows packed.
    auto extract = [&](const Rect& r, int16_t lo, int16_t hi, std::vector<uint8_t>& buffer) {
        const int planes = hi - lo + 1;
        const size_t row = size_t(r.right - r.left) * size_t(planes) * size_t(bytes);
        buffer.assign(row * size_t(r.bottom - r.top), 0);
        for (int y = r.top; y < r.bottom; ++y) {
            const uint8_t* src = image_->samples.data() + size_t(y) * image_->rowBytes();
            uint8_t* dst = buffer.data() + size_t(y - r.top) * row;
            for (int x = r.left; x < r.right; ++x)
                std::memcpy(dst + size_t(x - r.left) * size_t(planes) * size_t(bytes),
                            src + (size_t(x) * size_t(image_->planes) + size_t(lo)) * size_t(bytes),
                            size_t(planes) * size_t(bytes));
        }
        return int32_t(row);
    };

    record_.inData = nullptr;
    record_.inRowBytes = 0;
    if (!rectEmpty(record_.inRect)) {
        if (!valid(record_.inRect, record_.inLoPlane, record_.inHiPlane))
            return paramErr;
        record_.inRowBytes = extract(record_.inRect, record_.inLoPlane, record_.inHiPlane, inBuffer_);
        record_.inData = inBuffer_.data();
    }
    record_.outData = nullptr;
    record_.outRowBytes = 0;
    if (!rectEmpty(record_.outRect)) {
        if (!valid(record_.outRect, record_.outLoPlane, record_.outHiPlane))
            return paramErr;
        // The output starts as a copy of the input, as the plug-in's filter cases ask.
        record_.outRowBytes = extract(record_.outRect, record_.outLoPlane, record_.outHiPlane, outBuffer_);
        record_.outData = outBuffer_.data();
        deliveredOut_ = record_.outRect;
        deliveredLo_ = record_.outLoPlane;
        deliveredHi_ = record_.outHiPlane;
        outDelivered_ = true;
    }
    record_.maskData = nullptr;
    record_.maskRowBytes = 0;
    return noErr;
}

SessionResult HostSession::run(HostImage& image)
{
    SessionResult outcome;
    // The plug-in's output goes into a copy, so a cancelled or failed run leaves `image` alone.
    HostImage working = image;
    image_ = &working;
    gActive = this;

    const int16_t w = int16_t(image.width);
    const int16_t h = int16_t(image.height);
    record_.imageSize = Point{h, w};
    record_.wholeSize = Point{h, w};
    record_.planes = int16_t(image.planes);
    record_.filterRect = Rect{0, 0, h, w};
    record_.imageMode = image.bits == 16 ? plugInModeRGB48 : plugInModeRGBColor;
    record_.depth = image.bits;
    record_.imageHRes = 72 << 16;
    record_.imageVRes = 72 << 16;
    record_.filterCase = image.planes == 4 ? filterCaseEditableTransparencyNoSelection
                                           : filterCaseFlatImageNoSelection;
    record_.background = RGBColor{65535, 65535, 65535};
    record_.foreground = RGBColor{0, 0, 0};
    std::memset(record_.backColor, 255, sizeof record_.backColor);
    std::memset(record_.foreColor, 0, sizeof record_.foreColor);
    record_.maxSpace = 1 << 30;
    record_.inRect = record_.outRect = record_.maskRect = Rect{0, 0, 0, 0};
    record_.autoMask = 1;

    disposeDescriptorHandle(descriptorParameters_.descriptor);
    descriptorParameters_.descriptor =
        options_.hasDescriptor ? newDescriptorHandle(options_.descriptor) : nullptr;
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
        for (int n = 0; result == noErr && n < kMaxContinueCalls &&
                        (!rectEmpty(record_.inRect) || !rectEmpty(record_.outRect) ||
                         !rectEmpty(record_.maskRect));
             ++n) {
            if (advanceState() != noErr)
                break;
            call(filterSelectorContinue, result);
        }
        if (result == noErr) {
            commitOutput();
            outDelivered_ = false;
        }
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
            image = std::move(working);
            outcome.imageChanged = true;
        }
    }
    image_ = nullptr;
    gActive = nullptr;
    return outcome;
}

} // namespace quarvel::host
