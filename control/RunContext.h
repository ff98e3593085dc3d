// What the controller needs from the start call that runs it: the settings, the two image
// buffers and the host's progress service. The entry point's per-call object provides it.
#pragma once

#include "core/ImageBuffer.h"

#include <cstdint>

namespace quarvel {

class ParameterStore;

class RunContext {
public:
    virtual ~RunContext() = default;

    // mode 1: progress then abort poll; mode 2: abort poll only; other modes do nothing.
    // Returns the low byte of the host's abort answer (non-zero: stop).
    virtual int reportToHost(int mode, int32_t done, int32_t total) = 0;

    ParameterStore* parameters = nullptr;
    ImageBuffer dialogBuffer; // what the dialog's preview shows
    ImageBuffer workBuffer; // the image as the host gave it

protected:
    RunContext() = default;
    RunContext(const RunContext&) = delete;
    RunContext& operator=(const RunContext&) = delete;
};

} // namespace quarvel
