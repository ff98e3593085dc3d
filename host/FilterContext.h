// The per-call object of the entry point: the host's record, this run's settings and image
// buffers, the result code for the host, and the host's progress and abort service.
#pragma once

#include "control/RunContext.h"
#include "core/ImageBuffer.h"
#include "pluginapi/PluginApi.h"

#include <cstdint>

namespace quarvel {

class ParameterStore;

class FilterContext : public RunContext {
public:
    FilterContext() = default;

    int reportToHost(int mode, int32_t done, int32_t total) override;

    // Converts `source` into `destination`, allocating the destination's block (zero-filled) when
    // its data is null. Returns 1 if the host asked to abort during the transfer, else 0. A block
    // that cannot be allocated leaves the destination's data null and transfers nothing.
    int transferImage(ImageBuffer& destination, const ImageBuffer& source);

    // Asks the host for the whole filter rectangle, every plane, in one piece. Returns noErr, or
    // the host's error code (or errPlugInHostInsufficient when it delivered no data).
    int16_t requestImage();
    // Descriptors of the delivered host buffers; valid after a successful requestImage.
    ImageBuffer hostInput() const;
    ImageBuffer hostOutput() const;

    // Makes dialogBuffer a copy of workBuffer in a block of its own. False if out of memory.
    bool copyToDialogBuffer();

    // The host's abort answer, low byte; 0 when the host offers no abort procedure.
    int pollAbort();

    pluginapi::FilterRecord* filterRecord = nullptr;
    int16_t result = 0;

private:
    int32_t hostBits(int64_t rowBytes) const;
    ImageBuffer describeHost(void* data, int32_t rowBytes) const;
};

// Rows between two abort polls while an image is transferred.
constexpr int32_t kTransferPollRows = 20;

} // namespace quarvel
