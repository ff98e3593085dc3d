// Runs a filter module on one image the way a Photoshop-compatible host does: it builds the
// filter record with its planes, rectangles and procedure tables, calls prepare and start, and
// delivers the areas the plug-in asks for on advanceState with the output pre-filled with the input.
#pragma once

#include "pluginapi/PluginApi.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace quarvel::host {

// An image at the host's scale: 8-bit samples 0..255, 16-bit samples 0..32768 (native uint16_t).
struct HostImage {
    int32_t width = 0;
    int32_t height = 0;
    int32_t planes = 0; // 3 (RGB) or 4 (RGB and transparency)
    int32_t bits = 0; // 8 or 16
    std::vector<uint8_t> samples;

    size_t rowBytes() const { return size_t(width) * size_t(planes) * size_t(bits / 8); }
};

// One value of a scripting descriptor: a four-character key and the text stored under it.
struct DescriptorEntry {
    uint32_t key = 0;
    std::string value;
};
using Descriptor = std::vector<DescriptorEntry>;

struct SessionOptions {
    // Asked on every abort poll; true stops the run.
    std::function<bool()> abortRequested;
    // Told on every progress report.
    std::function<void(int32_t done, int32_t total)> progress;
    intptr_t parentWindow = 0;
    // The action step being played back; none: a plain menu invocation.
    bool hasDescriptor = false;
    Descriptor descriptor;
    bool showDialog = false;
};

struct SessionResult {
    int16_t prepareResult = 0;
    int16_t startResult = 0;
    bool started = false;
    bool imageChanged = false; // the plug-in's output was taken into the image
    bool recorded = false; // the plug-in handed back a descriptor
    Descriptor recordedDescriptor;
};

class HostSession {
public:
    HostSession(pluginapi::PluginEntryProc entry, SessionOptions options);
    ~HostSession();
    HostSession(const HostSession&) = delete;
    HostSession& operator=(const HostSession&) = delete;

    // Prepare, then (if prepare succeeded) start, the continue loop and finish. On success the
    // plug-in's output replaces `image`; otherwise `image` is left as it was. The whole image
    // asked for in one piece is lent to the plug-in as both input and output, with no copy: that
    // promise then rests on the plug-in reading all of its input before it writes and writing
    // only when it succeeds, as Quarvel does. Area by area, the host works on a copy.
    SessionResult run(HostImage& image);

    const pluginapi::FilterRecord& record() const { return record_; }

private:
    static pluginapi::Boolean abortProc();
    static void progressProc(int32_t done, int32_t total);
    static pluginapi::OSErr advanceStateProc();
    pluginapi::OSErr advanceState();
    void commitOutput();
    void call(int16_t selector, int16_t& result);

    pluginapi::PluginEntryProc entry_;
    SessionOptions options_;
    pluginapi::FilterRecord record_ {};
    pluginapi::PlatformData platform_ {};
    pluginapi::PIDescriptorParameters descriptorParameters_ {};
    intptr_t pluginData_ = 0;
    HostImage* image_ = nullptr;
    // The samples the plug-in reads and writes: the image's own, or working_ once it goes area
    // by area.
    std::vector<uint8_t>* pixels_ = nullptr;
    std::vector<uint8_t> working_;
    std::vector<uint8_t> inBuffer_;
    std::vector<uint8_t> outBuffer_;
    pluginapi::Rect deliveredOut_ {};
    int16_t deliveredLo_ = 0, deliveredHi_ = -1;
    bool outDelivered_ = false;
};

// Handle procedures of version 1: a handle points at a block whose first field is the data
// pointer, as hosts do for plug-ins that dereference handles themselves.
pluginapi::HandleProcs* hostHandleProcs();

// The host's descriptor procedures (version 0, full counts), working on descriptors that live
// in handles of hostHandleProcs().
pluginapi::ReadDescriptorProcs* hostReadDescriptorProcs();
pluginapi::WriteDescriptorProcs* hostWriteDescriptorProcs();
pluginapi::Handle newDescriptorHandle(const Descriptor& descriptor);
// Null if the handle holds no descriptor (or was disposed of).
const Descriptor* descriptorOf(pluginapi::Handle handle);
void disposeDescriptorHandle(pluginapi::Handle handle);

} // namespace quarvel::host
