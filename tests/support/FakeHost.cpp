#include "tests/support/FakeHost.h"
#include "tests/support/AnyProc.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <utility>

#if defined(_WIN32)
#include <windows.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#else
#include "host/EntryPoint.h"
#include "platform/Platform.h"
#endif

namespace quarvel::test {

using namespace pluginapi;

namespace {
FakeHost* gHost = nullptr;

// Tokens and handles are just distinct addresses; the state lives in the host.
char gReadToken, gWriteToken, gPlayHandle, gRecordHandle;
size_t gNextValue = 0;
const FakeHost::Value* gCurrentValue = nullptr;

std::mutex gMessagesLock;
std::vector<ShownMessage> gMessages;
} // namespace

#if defined(_WIN32)

PluginEntryProc pluginEntry()
{
    static PluginEntryProc entry = [] {
        const char* name = sizeof(void*) == 8 ? "quarvel64.8bf" : "quarvel.8bf";
        HMODULE module = LoadLibraryA(name);
        if (!module)
            return PluginEntryProc(nullptr);
        return reinterpret_cast<PluginEntryProc>(
            reinterpret_cast<void*>(GetProcAddress(module, "ENTRYPOINT")));
    }();
    return entry;
}

namespace {

BOOL CALLBACK closeQuarvelBox(HWND window, LPARAM handledPointer)
{
    auto& handled = *reinterpret_cast<std::set<HWND>*>(handledPointer);
    // Boxes of child processes too: the command-line host under test shows the plug-in's.
    if (handled.count(window))
        return TRUE;
    char caption[64] = {};
    char className[64] = {};
    GetWindowTextA(window, caption, sizeof caption);
    GetClassNameA(window, className, sizeof className);
    if (std::strcmp(className, "#32770") != 0 || std::strcmp(caption, "Quarvel") != 0)
        return TRUE;
    char text[512] = {};
    GetDlgItemTextA(window, 0xFFFF, text, sizeof text);
    {
        std::lock_guard<std::mutex> lock(gMessagesLock);
        gMessages.push_back({ text, caption });
    }
    handled.insert(window);
    PostMessageA(window, WM_COMMAND, IDOK, 0);
    return TRUE;
}

BOOL CALLBACK cancelQuarvelDialog(HWND window, LPARAM)
{
    char title[32] = {};
    GetWindowTextA(window, title, sizeof title);
    // Cancel stops a run in progress first, so it is repeated until the dialog has closed.
    if (std::strcmp(title, "Quarvel Dialog") == 0)
        PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
    return TRUE;
}

} // namespace

void startMessageWatch()
{
    static std::once_flag once;
    std::call_once(once, [] {
        std::thread([] {
            std::set<HWND> handled;
            for (;;) {
                EnumWindows(closeQuarvelBox, reinterpret_cast<LPARAM>(&handled));
                Sleep(20);
            }
        }).detach();
    });
}

struct DialogCanceller::State {
    std::atomic<bool> stop { false };
    std::thread thread;
};

DialogCanceller::DialogCanceller()
    : state_(new State)
{
    const DWORD owner = GetCurrentThreadId();
    State* state = state_;
    state_->thread = std::thread([state, owner] {
        while (!state->stop) {
            EnumThreadWindows(owner, cancelQuarvelDialog, 0);
            Sleep(50);
        }
    });
}

DialogCanceller::~DialogCanceller()
{
    state_->stop = true;
    state_->thread.join();
    delete state_;
}

#else

PluginEntryProc pluginEntry() { return &ENTRYPOINT; }

struct DialogCanceller::State { };
DialogCanceller::DialogCanceller() { state_ = nullptr; }
DialogCanceller::~DialogCanceller() = default;

void startMessageWatch()
{
    platform::setMessageSink([](const char* text, const char* caption, unsigned) {
        std::lock_guard<std::mutex> lock(gMessagesLock);
        gMessages.push_back({ text, caption });
    });
}

#endif

// On Windows the box is closed by the watcher before the plug-in returns, and recorded before that.
std::vector<ShownMessage> takeMessages()
{
    std::lock_guard<std::mutex> lock(gMessagesLock);
    return std::exchange(gMessages, {});
}

FakeHost::FakeHost(int width, int height, int planes, int bits, int padding)
    : width_(width)
    , height_(height)
    , planes_(planes)
    , bits_(bits)
{
    rowBytes_ = int64_t(width) * planes * (bits / 8) + padding;
    input_.assign(size_t(rowBytes_) * size_t(height), 0);
    output_.assign(input_.size(), 0);

    record.abortProc = &FakeHost::abortProc;
    record.progressProc = &FakeHost::progressProc;
    record.advanceState = &FakeHost::advanceStateProc;
    record.hostSig = fourCC("FAKE");
    record.platformData = &platform;
    record.imageSize = Point { int16_t(height), int16_t(width) };
    record.wholeSize = record.imageSize;
    record.filterRect = Rect { 0, 0, int16_t(height), int16_t(width) };
    record.planes = int16_t(planes);
    record.imageMode = bits == 16 ? plugInModeRGB48 : plugInModeRGBColor;
    record.depth = int16_t(bits);
    record.maxSpace = 1 << 30;
    installDescriptorProcs();
    gHost = this;
}

void FakeHost::installDescriptorProcs()
{
    readProcs_ = refusingReadProcs();
    readProcs_.openReadDescriptorProc = [](PIDescriptorHandle handle, DescriptorKeyIDArray keys) {
        gHost->requestedKeys.clear();
        for (size_t i = 0; keys && keys[i]; ++i)
            gHost->requestedKeys.push_back(keys[i]);
        gNextValue = 0;
        return handle == reinterpret_cast<Handle>(&gPlayHandle)
            ? reinterpret_cast<PIReadDescriptor>(&gReadToken)
            : nullptr;
    };
    readProcs_.closeReadDescriptorProc = [](PIReadDescriptor) { return gHost->closeReadResult; };
    readProcs_.getKeyProc
        = [](PIReadDescriptor, DescriptorKeyID* key, DescriptorTypeID* type, int32_t* flags) {
              if (gNextValue >= gHost->playback.size())
                  return Boolean(0);
              gCurrentValue = &gHost->playback[gNextValue++];
              *key = gCurrentValue->key;
              *type = gCurrentValue->isString ? typeChar : fourCC("long");
              *flags = 0;
              return Boolean(1);
          };
    readProcs_.getStringProc = [](PIReadDescriptor, Str255* value) {
        ++gHost->getStringCalls;
        if (!gCurrentValue->isString)
            return OSErr(paramErr);
        const size_t n = std::min<size_t>(gCurrentValue->text.size(), 255);
        (*value)[0] = uint8_t(n);
        std::memcpy(*value + 1, gCurrentValue->text.data(), n);
        return OSErr(noErr);
    };
    writeProcs_ = refusingWriteProcs();
    writeProcs_.openWriteDescriptorProc = [] {
        gHost->recorded.clear();
        return gHost->openWriteFails ? nullptr : reinterpret_cast<PIWriteDescriptor>(&gWriteToken);
    };
    writeProcs_.closeWriteDescriptorProc = [](PIWriteDescriptor, PIDescriptorHandle* created) {
        gHost->recordedSomething = true;
        *created = reinterpret_cast<Handle>(&gRecordHandle);
        return OSErr(noErr);
    };
    writeProcs_.putStringProc = [](PIWriteDescriptor, DescriptorKeyID key, ConstStr255Param value) {
        gHost->recorded.push_back({ key,
            gHost->keepRecordedText ? std::string(reinterpret_cast<const char*>(value + 1), value[0]) : "" });
        return OSErr(noErr);
    };
    handleProcs_ = { 1, 8,
        [](int32_t size) -> Handle {
            if (size < 0 || !grantHostAllocation())
                return nullptr;
            char* block = gHost->hostBlocks_.emplace_back(size_t(size)).data();
            return &gHost->hostHandles_.emplace_back(block);
        },
        [](Handle) { ++gHost->disposedHandles; }, [](Handle) -> int32_t { return 0; },
        [](Handle, int32_t) -> OSErr { return grantHostAllocation() ? noErr : OSErr(memFullErr); },
        [](Handle, Boolean) -> Ptr { return nullptr; }, [](Handle) {}, [](int32_t) {}, [](Handle) {} };
    bufferProcs_ = { 2, 5,
        [](int32_t size, BufferID* id) -> OSErr {
            if (size < 0 || !grantHostAllocation())
                return memFullErr;
            *id = reinterpret_cast<BufferID>(gHost->hostBlocks_.emplace_back(size_t(size)).data());
            return noErr;
        },
        [](BufferID id, Boolean) -> Ptr { return reinterpret_cast<Ptr>(id); }, [](BufferID) {},
        [](BufferID) {}, []() -> int32_t { return 1 << 30; } };
    descriptorParameters_.readDescriptorProcs = &readProcs_;
    descriptorParameters_.writeDescriptorProcs = &writeProcs_;
    record.handleProcs = &handleProcs_;
    record.bufferProcs = &bufferProcs_;
}

bool FakeHost::grantHostAllocation() { return ++gHost->hostAllocations != gHost->failHostAllocation; }

std::string FakeHost::recordedText(const char* key) const
{
    for (const Value& v : recorded)
        if (v.key == fourCC(*reinterpret_cast<const char(*)[5]>(key)))
            return v.text;
    return "<missing>";
}

FakeHost::~FakeHost() { gHost = gHost == this ? nullptr : gHost; }

// Every poll is counted, the stopping ones too.
Boolean FakeHost::abortProc()
{
    return gHost->polls++ >= gHost->abortAfterPolls && gHost->abortAfterPolls >= 0;
}

void FakeHost::progressProc(int32_t, int32_t) { ++gHost->progressCalls; }

OSErr FakeHost::advanceStateProc()
{
    FakeHost& host = *gHost;
    ++host.advanceCalls;
    if (host.advanceError != 0)
        return host.advanceError;
    if (host.copyInputToOutput && !host.deliverNullData)
        host.output_ = host.input_;
    host.record.inData = host.deliverNullData ? nullptr : host.input_.data();
    host.record.outData = host.deliverNullData ? nullptr : host.output_.data();
    host.record.inRowBytes = host.record.outRowBytes = int32_t(host.rowBytes_);
    return noErr;
}

int16_t FakeHost::call(int16_t selector)
{
    gHost = this;
    descriptorParameters_.playInfo = playInfo;
    if (selector == filterSelectorStart) {
        record.descriptorParameters = descriptorSupport ? &descriptorParameters_ : nullptr;
        descriptorParameters_.descriptor = playDescriptor ? reinterpret_cast<Handle>(&gPlayHandle) : nullptr;
    }
    int16_t result = 12345;
    pluginEntry()(selector, &record, &data_, &result);
    return result;
}

int16_t FakeHost::run()
{
    const int16_t prepared = call(filterSelectorPrepare);
    return prepared != noErr ? prepared : call(filterSelectorStart);
}

size_t FakeHost::offset(int x, int y, int plane) const
{
    return size_t(y) * size_t(rowBytes_) + (size_t(x) * size_t(planes_) + size_t(plane)) * size_t(bits_ / 8);
}

void FakeHost::setInput(int x, int y, int plane, uint32_t value)
{
    const uint16_t v = uint16_t(bits_ == 8 ? uint8_t(value) : value);
    std::memcpy(input_.data() + offset(x, y, plane), &v, size_t(bits_ / 8));
}

uint32_t FakeHost::load(const std::vector<uint8_t>& plane, int x, int y, int p) const
{
    uint16_t v = 0;
    std::memcpy(&v, plane.data() + offset(x, y, p), size_t(bits_ / 8));
    return bits_ == 8 ? uint8_t(v) : v;
}

uint32_t FakeHost::input(int x, int y, int plane) const { return load(input_, x, y, plane); }
uint32_t FakeHost::output(int x, int y, int plane) const { return load(output_, x, y, plane); }

template <class F> bool FakeHost::everySample(F&& f) const
{
    for (int y = 0; y < height_; ++y)
        for (int x = 0; x < width_; ++x)
            for (int p = 0; p < planes_; ++p)
                if (!f(x, y, p))
                    return false;
    return true;
}

void FakeHost::fillInput(uint32_t seed)
{
    everySample([&, range = bits_ == 8 ? 256u : 32769u](int x, int y, int p) {
        seed = seed * 1103515245u + 12345u;
        setInput(x, y, p, (seed >> 8) % range);
        return true;
    });
}

bool FakeHost::outputEqualsInput() const
{
    return everySample([&](int x, int y, int p) { return input(x, y, p) == output(x, y, p); });
}

} // namespace quarvel::test
