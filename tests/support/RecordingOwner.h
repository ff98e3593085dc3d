// An owner for filters under test: records every progress report and can ask the filter to stop
// at the n-th step report, or at its polls.
#pragma once

#include "core/ImageFilter.h"

#include <vector>

namespace quarvel {

struct Report {
    int stage;
    int32_t done;
    bool operator==(const Report& o) const { return stage == o.stage && done == o.done; }
};

class RecordingOwner : public ProgressSink {
public:
    int onProgress(ImageFilter*, int stage, int32_t done, int32_t) override
    {
        reports.push_back({ stage, done });
        return (stage == kProgressStep && ++steps == stopAtStep) || (stage == kProgressPoll && stopAtPoll);
    }
    int count(int stage) const
    {
        int n = 0;
        for (const Report& r : reports)
            n += r.stage == stage ? 1 : 0;
        return n;
    }
    std::vector<int32_t> stepAmounts() const
    {
        std::vector<int32_t> out;
        for (const Report& r : reports)
            if (r.stage == kProgressStep)
                out.push_back(r.done);
        return out;
    }
    std::vector<Report> reports;
    int steps = 0;
    int stopAtStep = -1;
    bool stopAtPoll = false;
};

} // namespace quarvel
