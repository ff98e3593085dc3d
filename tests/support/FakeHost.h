// A host in miniature for driving the plug-in's entry point selector by selector: it owns the
// filter record, the image planes and the procedures, and counts what the plug-in asked of it.
#pragma once

#include "pluginapi/PluginApi.h"

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace quarvel::test {

// The entry point under test: linked in natively; the real module's export on Windows.
pluginapi::PluginEntryProc pluginEntry();

class FakeHost {
public:
    // `padding`: extra bytes at the end of every host row, as some hosts lay out their planes.
    FakeHost(int width, int height, int planes, int bits, int padding = 0);
    ~FakeHost();
    FakeHost(const FakeHost&) = delete;
    FakeHost& operator=(const FakeHost&) = delete;

    int16_t call(int16_t selector);
    // Prepare then start, as a host runs a filter; the start result, or the prepare result if
    // prepare refused.
    int16_t run();

    // Samples at the host's scale; for 16-bit images a sample is the native uint16_t value.
    void setInput(int x, int y, int plane, uint32_t value);
    uint32_t input(int x, int y, int plane) const;
    uint32_t output(int x, int y, int plane) const;
    void fillInput(uint32_t seed); // deterministic pseudo-random samples over the full range
    bool outputEqualsInput() const;

    pluginapi::FilterRecord record {};
    pluginapi::PlatformData platform {};

    int abortAfterPolls = -1; // answer "stop" from this poll on (0: at the first)
    pluginapi::OSErr advanceError = 0; // advanceState fails with this code
    bool deliverNullData = false; // advanceState succeeds but hands out no buffers
    bool copyInputToOutput = true; // the host's filter-case copy before start
    // Host memory the plug-in asks for (buffer procedures, new handles, handle resizes) is
    // counted; the request with this number (1: the first) fails as in a host out of memory.
    int failHostAllocation = 0;
    int hostAllocations = 0;

    // Scripting: the step being played back and what the plug-in records.
    struct Value {
        uint32_t key;
        std::string text;
        bool isString = true; // false: getString fails as for a value of another type
    };
    bool descriptorSupport = true;
    bool playDescriptor = false; // hand over a descriptor (else a null one: a menu call)
    std::vector<Value> playback;
    int16_t playInfo = 0; // plugInDialogDontDisplay
    pluginapi::OSErr closeReadResult = 0;
    bool openWriteFails = false;

    std::vector<uint32_t> requestedKeys; // the key list the plug-in gave, without the zero
    std::vector<Value> recorded;
    bool keepRecordedText = true; // false: keys only, so that recording allocates nothing here
    bool recordedSomething = false;
    int disposedHandles = 0;
    int getStringCalls = 0;
    std::string recordedText(const char* key) const;

    int polls = 0, progressCalls = 0, advanceCalls = 0; // what the plug-in asked for

private:
    static pluginapi::Boolean abortProc();
    static void progressProc(int32_t done, int32_t total);
    static pluginapi::OSErr advanceStateProc();
    static bool grantHostAllocation();
    size_t offset(int x, int y, int plane) const;
    uint32_t load(const std::vector<uint8_t>& plane, int x, int y, int p) const;
    template <class F> bool everySample(F&& f) const; // f(x, y, plane) for each until it says false

    void installDescriptorProcs();

    pluginapi::PIDescriptorParameters descriptorParameters_ {};
    pluginapi::ReadDescriptorProcs readProcs_ {};
    pluginapi::WriteDescriptorProcs writeProcs_ {};
    pluginapi::HandleProcs handleProcs_ {};
    pluginapi::BufferProcs bufferProcs_ {};
    std::vector<std::vector<char>> hostBlocks_; // what the plug-in was given, freed with the host
    std::deque<char*> hostHandles_; // a deque: a handle must not move as more are made
    int width_, height_, planes_, bits_;
    int64_t rowBytes_;
    std::vector<uint8_t> input_, output_;
    intptr_t data_ = 0;
};

// Message boxes the plug-in shows: natively through the platform's sink, on Windows by watching
// for the box, reading it and pressing OK so that tests never hang on a modal window.
struct ShownMessage {
    std::string text;
    std::string caption;
};

void startMessageWatch();
std::vector<ShownMessage> takeMessages();

// While it lives, a dialog that the plug-in opens on this thread is cancelled as soon as it
// shows, so that tests about what happens around the dialog never wait for a user. Builds
// without the dialog have nothing to cancel.
class DialogCanceller {
public:
    DialogCanceller();
    ~DialogCanceller();
    DialogCanceller(const DialogCanceller&) = delete;
    DialogCanceller& operator=(const DialogCanceller&) = delete;

private:
    struct State;
    State* state_;
};

} // namespace quarvel::test
