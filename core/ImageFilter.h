// The interface of the image filters: whoever runs a filter knows it only through this, and a
// filter knows whoever runs it only as the sink of its progress reports.
#pragma once

#include "core/ImageBuffer.h"

#include <cstdint>

namespace quarvel {

class ImageFilter;
class ParameterStore;

// The second argument of every progress report.
enum ProgressStage : int {
    kProgressBegin = 1,
    kProgressStep = 2, // `done` is the filter's running count
    kProgressEnd = 3,
    kProgressPoll = 4, // an abort poll without a change of display
};

// Where a filter's progress reports go: the controller in the plug-in, a recorder in a test.
class ProgressSink {
public:
    // 1 asks the filter to stop.
    virtual int onProgress(ImageFilter* filter, int stage, int32_t done, int32_t total) = 0;

protected:
    ProgressSink() = default;
    ~ProgressSink() = default;
    ProgressSink(const ProgressSink&) = default;
    ProgressSink& operator=(const ProgressSink&) = default;
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

    ProgressSink* owner = nullptr;
    // Set with a stop that came from a buffer which could not be allocated, not from a report.
    bool outOfMemory = false;

protected:
    ImageFilter() = default;
    ImageFilter(const ImageFilter&) = delete;
    ImageFilter& operator=(const ImageFilter&) = delete;
};

} // namespace quarvel
