// Whole host records through the module's entry point: any image shape, plane count, depth and
// row layout, rectangles inside and outside the image, missing or failing procedures and
// descriptors that answer with errors or garbage, with the selectors called in any order. Beside
// the sanitizers, the host checks what a real one would rely on: its input is never written,
// a failed start leaves its output as delivered, every handle is disposed of at most once and
// every descriptor reader is closed.
//
// Every choice reads from the front of the input and 0 is the plain one, so that an empty input
// is an ordinary run and a seed can be written by hand.
#include "host/EntryPoint.h"
#include "platform/Platform.h"
#include "pluginapi/PluginApi.h"
#include "settings/ParameterTable.h"
#include "tests/support/AnyProc.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

using namespace pluginapi;

struct Bytes {
    const uint8_t* data;
    size_t size, at = 0;
    // 0 .. count - 1; 0 once the input is used up.
    uint32_t pick(uint32_t count)
    {
        uint32_t value = 0;
        for (uint32_t span = 1; span < count && at < size; span <<= 8)
            value = (value << 8) | data[at++];
        return count ? value % count : 0;
    }
    int32_t any32() { return int32_t(pick(0x10000) << 16 | pick(0x10000)); }
    int16_t any16() { return int16_t(pick(0x10000)); }
    std::string text()
    {
        const size_t n = std::min<size_t>(pick(256), size - at);
        at += n;
        return std::string(reinterpret_cast<const char*>(data + at - n), n);
    }
};

constexpr int kMaxSide = 64;

struct Value {
    uint32_t key;
    DescriptorTypeID type;
    OSErr error; // of getString
    std::string text;
};

// The host: what it decided before the calls and what it saw during them.
struct Host {
    FilterRecord record {};
    PlatformData platform {};
    int width = 0, height = 0, trueBits = 8;

    int advance = 0; // 0 deliver clipped, 1 fail, 2 no data, 3 deliver as asked, 4 no procedure
    OSErr advanceError = 0;
    int32_t inDelta = 0, outDelta = 0; // stated row bytes minus packed
    bool samplesQuirk = false; // rows stated in samples, as one host does for 16 bits
    uint8_t fill = 0;
    std::vector<uint8_t> in, out, inDelivered, outDelivered;
    bool delivered = false;

    int abortAt = -1;
    int polls = 0;

    PIDescriptorParameters descriptor {};
    ReadDescriptorProcs readProcs {};
    WriteDescriptorProcs writeProcs {};
    HandleProcs handleProcs {};
    BufferProcs bufferProcs {};
    bool playDescriptor = false;
    bool openReadFails = false, openWriteFails = false;
    OSErr closeReadResult = 0, putResult = 0, closeWriteResult = 0;
    bool closeWriteGivesHandle = true;
    bool bufferFails = false;
    std::vector<Value> values;
    size_t nextValue = 0;
    int openReaders = 0;
    bool stickyReadError = false;

    std::set<Handle> handles;
    std::set<char*> buffers;

    ~Host()
    {
        for (Handle h : handles) {
            delete[] * h;
            delete h;
        }
        for (char* b : buffers)
            delete[] b;
    }
};

Host* gHost = nullptr;
char gReadToken, gWriteToken;

void require(bool holds)
{
    if (!holds)
        std::abort();
}

Handle newHandle(int32_t size)
{
    if (size < 0 || size > (1 << 20))
        return nullptr;
    Handle h = new char*(new char[size_t(size) + 1]());
    gHost->handles.insert(h);
    return h;
}

void disposeHandle(Handle h)
{
    if (!h)
        return;
    // Disposing of what the host never gave, or twice, would corrupt a real host's heap.
    require(gHost->handles.erase(h) == 1);
    delete[] * h;
    delete h;
}

Boolean abortProc()
{
    const bool stop = gHost->abortAt >= 0 && gHost->polls >= gHost->abortAt;
    ++gHost->polls;
    return stop ? 1 : 0;
}

void progressProc(int32_t, int32_t) { }

OSErr advanceState()
{
    Host& h = *gHost;
    FilterRecord& r = h.record;
    if (h.advance == 1 || h.advance == 2) {
        r.inData = r.outData = nullptr;
        return h.advance == 1 ? h.advanceError : noErr;
    }
    Rect rect = r.outRect;
    const int askedW = int(rect.right) - rect.left, askedH = int(rect.bottom) - rect.top;
    if (h.advance != 3 || askedW <= 0 || askedH <= 0 || askedW > kMaxSide || askedH > kMaxSide)
        rect = Rect { int16_t(std::clamp<int>(rect.top, 0, h.height)),
            int16_t(std::clamp<int>(rect.left, 0, h.width)),
            int16_t(std::clamp<int>(rect.bottom, 0, h.height)),
            int16_t(std::clamp<int>(rect.right, 0, h.width)) };
    r.inRect = rect;
    r.outRect = rect;
    const int64_t w = std::max(0, int(rect.right) - rect.left);
    const int64_t rows = std::max(0, int(rect.bottom) - rect.top);
    const int64_t packed = (w * std::max<int>(r.planes, 0) * h.trueBits + 7) / 8;
    int64_t statedIn = packed + h.inDelta, statedOut = packed + h.outDelta;
    if (h.samplesQuirk)
        statedIn = statedOut = w * std::max<int>(r.planes, 0);
    // A stated stride too short for the samples is the quirk: the rows are packed.
    const int64_t strideIn = std::max(statedIn, packed), strideOut = std::max(statedOut, packed);
    h.in.assign(size_t(std::max<int64_t>(strideIn * rows, 1)), 0);
    h.out.assign(size_t(std::max<int64_t>(strideOut * rows, 1)), 0);
    uint32_t state = h.fill;
    for (uint8_t& b : h.in)
        b = uint8_t((state = state * 1103515245u + 12345u) >> 16);
    for (size_t i = 0; i < h.out.size(); ++i)
        h.out[i] = i < h.in.size() ? h.in[i] : 0;
    h.inDelivered = h.in;
    h.outDelivered = h.out;
    h.delivered = true;
    r.inData = h.in.data();
    r.outData = h.out.data();
    r.inRowBytes = int32_t(statedIn);
    r.outRowBytes = int32_t(statedOut);
    return noErr;
}

void installDescriptorProcs(Host& h, Bytes& in)
{
    h.readProcs = quarvel::test::refusingReadProcs();
    h.readProcs.openReadDescriptorProc = [](PIDescriptorHandle, DescriptorKeyIDArray keys) {
        for (size_t i = 0; keys && keys[i]; ++i)
            require(i < 64); // the key list ends
        if (gHost->openReadFails)
            return PIReadDescriptor(nullptr);
        ++gHost->openReaders;
        gHost->nextValue = 0;
        return reinterpret_cast<PIReadDescriptor>(&gReadToken);
    };
    h.readProcs.closeReadDescriptorProc = [](PIReadDescriptor token) {
        require(token == reinterpret_cast<PIReadDescriptor>(&gReadToken) && gHost->openReaders > 0);
        --gHost->openReaders;
        gHost->stickyReadError = gHost->closeReadResult != noErr;
        return gHost->closeReadResult;
    };
    h.readProcs.getKeyProc
        = [](PIReadDescriptor, DescriptorKeyID* key, DescriptorTypeID* type, int32_t* flags) {
              Host& h = *gHost;
              if (h.nextValue >= h.values.size())
                  return Boolean(0);
              const Value& v = h.values[h.nextValue++];
              *key = v.key;
              *type = v.type;
              *flags = int32_t(v.key);
              return Boolean(1);
          };
    h.readProcs.getStringProc = [](PIReadDescriptor, Str255* out) {
        Host& h = *gHost;
        require(h.nextValue > 0); // only after a key
        const Value& v = h.values[h.nextValue - 1];
        // A failing read may still leave garbage behind, as hosts do.
        (*out)[0] = uint8_t(v.text.size());
        std::memcpy(*out + 1, v.text.data(), v.text.size());
        return v.error;
    };
    h.writeProcs = quarvel::test::refusingWriteProcs();
    h.writeProcs.openWriteDescriptorProc
        = [] { return gHost->openWriteFails ? nullptr : reinterpret_cast<PIWriteDescriptor>(&gWriteToken); };
    h.writeProcs.closeWriteDescriptorProc = [](PIWriteDescriptor token, PIDescriptorHandle* created) {
        require(token == reinterpret_cast<PIWriteDescriptor>(&gWriteToken));
        *created = gHost->closeWriteGivesHandle ? newHandle(16) : nullptr;
        return gHost->closeWriteResult;
    };
    h.writeProcs.putStringProc = [](PIWriteDescriptor token, DescriptorKeyID, ConstStr255Param value) {
        require(token == reinterpret_cast<PIWriteDescriptor>(&gWriteToken) && value);
        return gHost->putResult;
    };

    // Procedures the plug-in must not rely on: each may be missing, and a table may claim
    // another version or fewer entries.
    const auto sometimes = [&](auto& field, auto value) {
        if (in.pick(4) == 1)
            field = value();
    };
    const auto none = [] { return nullptr; };
    sometimes(h.readProcs.getStringProc, none);
    sometimes(h.readProcs.numReadDescriptorProcs, [&] { return int16_t(in.pick(18)); });
    sometimes(h.writeProcs.putStringProc, none);
    sometimes(h.writeProcs.closeWriteDescriptorProc, none);
    sometimes(h.writeProcs.openWriteDescriptorProc, none);
    sometimes(h.writeProcs.writeDescriptorProcsVersion, [&] { return in.any16(); });

    h.descriptor.descriptorParametersVersion = in.pick(6) == 1 ? in.any16() : 0;
    h.descriptor.readDescriptorProcs = in.pick(8) == 1 ? nullptr : &h.readProcs;
    h.descriptor.writeDescriptorProcs = in.pick(8) == 1 ? nullptr : &h.writeProcs;
    const int play[] = { plugInDialogDontDisplay, plugInDialogDisplay, plugInDialogSilent };
    const uint32_t playChoice = in.pick(4);
    h.descriptor.playInfo = playChoice < 3 ? int16_t(play[playChoice]) : in.any16();
    h.playDescriptor = in.pick(4) != 1;
    h.openReadFails = in.pick(6) == 1;
    h.openWriteFails = in.pick(6) == 1;
    h.closeReadResult = in.pick(4) == 1 ? in.any16() : 0;
    h.putResult = in.pick(4) == 1 ? in.any16() : 0;
    h.closeWriteResult = in.pick(4) == 1 ? in.any16() : 0;
    h.closeWriteGivesHandle = in.pick(4) != 1;

    const uint32_t count = in.pick(48);
    for (uint32_t i = 0; i < count; ++i) {
        Value v;
        const uint32_t k = in.pick(quarvel::kSettingCount + 2);
        v.key = k < quarvel::kSettingCount ? quarvel::kSettings[k].key : uint32_t(in.any32());
        v.type = in.pick(4) == 1 ? uint32_t(in.any32()) : typeChar;
        const uint32_t form = in.pick(4); // an integer, a decimal, any text, or a failed read
        v.error = form == 3 ? (in.pick(2) ? in.any16() : OSErr(paramErr)) : OSErr(noErr);
        v.text = form == 0 ? std::to_string(int(in.any16()) % 700)
            : form == 1    ? std::to_string(in.pick(3000) / 100.0)
                           : in.text();
        h.values.push_back(std::move(v));
    }
}

void installHandleProcs(Host& h, Bytes& in)
{
    h.handleProcs = { kCurrentHandleProcsVersion, kCurrentHandleProcsCount, newHandle, disposeHandle,
        [](Handle handle) -> int32_t { return handle ? 16 : 0; },
        [](Handle, int32_t) -> OSErr { return gHost->bufferFails ? memFullErr : noErr; },
        [](Handle handle, Boolean) -> Ptr { return handle ? *handle : nullptr; }, [](Handle) {},
        [](int32_t) {}, disposeHandle };
    const uint32_t handles = in.pick(4); // 1 none, 2 another version and count, 3 no new handles
    if (handles == 2) {
        h.handleProcs.handleProcsVersion = in.any16();
        h.handleProcs.numHandleProcs = in.any16();
    } else if (handles == 3) {
        h.handleProcs.newProc = [](int32_t) -> Handle { return nullptr; };
    }
    h.record.handleProcs = handles == 1 ? nullptr : &h.handleProcs;
    h.bufferFails = in.pick(2) == 1;
    h.bufferProcs = { 2, 5,
        [](int32_t size, BufferID* id) -> OSErr {
            if (gHost->bufferFails || size < 0 || size > (1 << 24))
                return memFullErr;
            char* block = new char[size_t(size) + 1];
            gHost->buffers.insert(block);
            *id = reinterpret_cast<BufferID>(block);
            return noErr;
        },
        [](BufferID id, Boolean) -> Ptr { return reinterpret_cast<Ptr>(id); }, [](BufferID) {},
        [](BufferID id) {
            require(gHost->buffers.erase(reinterpret_cast<char*>(id)) == 1);
            delete[] reinterpret_cast<char*>(id);
        },
        []() -> int32_t { return 1 << 24; } };
    h.record.bufferProcs = in.pick(3) == 1 ? nullptr : &h.bufferProcs;
}

void setUpRecord(Host& h, Bytes& in)
{
    FilterRecord& r = h.record;
    h.width = int((in.pick(kMaxSide + 1) + 24) % (kMaxSide + 1));
    h.height = int((in.pick(kMaxSide + 1) + 20) % (kMaxSide + 1));
    r.planes = int16_t((in.pick(9) + 3) % 9);
    const int depths[] = { 8, 16, 32, 1 };
    const int depth = depths[in.pick(4)];
    const uint32_t mode = in.pick(3); // the depth's own, a small number, anything
    r.imageMode = mode == 1 ? int16_t(in.pick(18))
        : mode == 2         ? in.any16()
        : depth == 8        ? plugInModeRGBColor
        : depth == 16       ? plugInModeRGB48
        : depth == 32       ? plugInModeRGB96
                            : plugInModeBitmap;
    // The record tells the truth about its mode; the depth field only where the mode is silent.
    h.trueBits = r.imageMode == plugInModeRGBColor ? 8 : r.imageMode == plugInModeRGB48 ? 16 : depth;
    r.depth = in.pick(6) == 1 ? in.any32() : depth;

    r.imageSize = Point { int16_t(h.height), int16_t(h.width) };
    r.wholeSize = r.imageSize;
    // The whole image, a rectangle inside it, or anything.
    const uint32_t rectChoice = in.pick(3);
    if (rectChoice == 0) {
        r.filterRect = Rect { 0, 0, int16_t(h.height), int16_t(h.width) };
    } else if (rectChoice == 1) {
        const int top = int(in.pick(uint32_t(h.height) + 1)), left = int(in.pick(uint32_t(h.width) + 1));
        r.filterRect
            = Rect { int16_t(top), int16_t(left), int16_t(top + int(in.pick(uint32_t(h.height - top) + 1))),
                  int16_t(left + int(in.pick(uint32_t(h.width - left) + 1))) };
    } else {
        r.filterRect = Rect { in.any16(), in.any16(), in.any16(), in.any16() };
    }
    if (in.pick(3) == 1)
        r.outRect = Rect { in.any16(), in.any16(), in.any16(), in.any16() };

    h.advance = int(in.pick(5));
    h.advanceError = in.any16();
    if (h.advanceError == noErr)
        h.advanceError = memFullErr;
    // Rows packed, padded, stated shorter than packed (or nonsense), or stated in samples.
    const uint32_t rows = in.pick(4);
    if (rows == 1 || rows == 2) {
        const auto delta = [&] { return rows == 1 ? int32_t(in.pick(17)) : -int32_t(in.pick(0x10000)); };
        h.inDelta = delta();
        h.outDelta = in.pick(2) ? h.inDelta : delta();
    }
    h.samplesQuirk = rows == 3;
    h.fill = uint8_t(in.pick(256));

    r.abortProc = in.pick(4) == 1 ? nullptr : abortProc;
    h.abortAt = in.pick(3) == 1 ? int(in.pick(64)) : -1;
    r.progressProc = in.pick(4) == 1 ? nullptr : progressProc;
    r.advanceState = h.advance == 4 ? nullptr : advanceState;
    r.platformData = in.pick(4) == 1 ? nullptr : &h.platform;
    r.hostSig = fourCC("FUZZ");
    r.maxSpace = in.any32();
    r.inputRate = in.any32();
    r.descriptorParameters = in.pick(5) == 1 ? nullptr : &h.descriptor;
    installDescriptorProcs(h, in);
    installHandleProcs(h, in);
}

void start(Host& h, intptr_t* data, int16_t* result)
{
    // Each start plays a descriptor of its own; what the last one recorded is the host's.
    if (h.handles.count(h.descriptor.descriptor))
        disposeHandle(h.descriptor.descriptor);
    h.descriptor.descriptor = h.playDescriptor ? newHandle(16) : nullptr;
    h.delivered = false;
    h.stickyReadError = false;
    h.polls = 0;

    ENTRYPOINT(filterSelectorStart, &h.record, data, result);

    require(h.openReaders == 0);
    // What the record names as the descriptor is the host's to keep: never one disposed of.
    require(!h.descriptor.descriptor || h.handles.count(h.descriptor.descriptor));
    if (!h.delivered)
        return;
    require(h.in == h.inDelivered);
    // A failed start keeps the host's image, unless the failure is the host's own report from
    // closing the descriptor, which comes after the image has gone back.
    if (result && *result != noErr && !h.stickyReadError)
        require(h.out == h.outDelivered);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Two threads are enough to share the work; the grain must not follow the clock.
    setenv("QUARVEL_THREADS", "2", 1);
    setenv("QUARVEL_GRAIN_SEED", "1", 1);
    quarvel::platform::setMessageSink([](const char*, const char*, unsigned) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    Bytes in { data, size };
    auto host = std::make_unique<Host>();
    gHost = host.get();
    setUpRecord(*host, in);

    intptr_t pluginData = 0;
    const uint32_t calls = in.pick(8);
    int starts = 0;
    for (uint32_t i = 0; i < (calls == 0 ? 2u : calls); ++i) {
        int16_t selector = calls == 0 ? int16_t(filterSelectorPrepare + i) : int16_t(in.pick(8));
        if (selector == 6)
            selector = in.any16();
        else if (selector == 7)
            selector = filterSelectorStart;
        int16_t result = 12345;
        int16_t* resultPointer = in.pick(8) == 1 ? nullptr : &result;
        if (in.pick(16) == 1) {
            ENTRYPOINT(selector, nullptr, &pluginData, resultPointer);
        } else if (selector == filterSelectorStart) {
            if (++starts > 3)
                continue;
            start(*host, &pluginData, resultPointer);
        } else {
            ENTRYPOINT(selector, &host->record, &pluginData, resultPointer);
        }
        require(!resultPointer || result != 12345);
    }
    if (host->handles.count(host->descriptor.descriptor))
        disposeHandle(host->descriptor.descriptor);
    gHost = nullptr;
    return 0;
}
