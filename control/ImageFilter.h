// The interface of the image filters: the controller knows a filter only through this, and a
// filter knows its controller only as the sink of its progress reports.
#pragma once

#include "core/ImageBuffer.h"

#include <cstdint>

namespace quarvel {

class ParameterStore;
class ProcessingControllerBase;

// The second argument of every progress report.
enum ProgressStage : int {
    kProgressBegin = 1,
    kProgressStep = 2, // `done` is the filter's running count
    kProgressEnd = 3,
    kProgressPoll = 4, // an abort poll without a change of display
};

class ImageFilter {
public:
    virtual ~ImageFilter() = default;
    // 1 if stopped.
    virtual int analyze(const ImageBuffer& image);
    // 1 if stopped before the end.
    virtual int process(ImageBuffer& image, ParameterStore* parameters) = 0;
    // A constant identity string.
    virtual const char* name() const = 0;

    // The owner's answer (1: stop); 0 without an owner.
    int reportProgress(int stage, int32_t done, int32_t total);

    ProcessingControllerBase* owner = nullptr;
    // Set with a stop that came from a buffer which could not be allocated, not from a report.
    bool outOfMemory = false;

protected:
    ImageFilter() = default;
    ImageFilter(const ImageFilter&) = delete;
    ImageFilter& operator=(const ImageFilter&) = delete;
};

} // namespace quarvel
