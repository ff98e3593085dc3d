#include "tone/ToneFilter.h"

#include "settings/ParameterStore.h"

namespace quarvel {

uint32_t ToneFilter::progressStep(int32_t rows)
{
    const uint32_t step = (uint32_t(rows < 0 ? 0 : rows) + 10u) / 20u;
    return step == 0 ? 1u : step;
}

void ToneFilter::readParameters(ParameterStore& parameters)
{
    parameters.getInt("DynamicEnable", &DynamicEnable, 1);
    parameters.getInt("ColorEnable", &ColorEnable, 1);
    parameters.getInt("SharpEnable", &SharpEnable, 1);
    parameters.getInt("SmoothEnable", &SmoothEnable, 1);
}

int ToneFilter::analyze(const ImageBuffer& image)
{
    cancel_ = reportProgress(kProgressPoll, 0, 0);
    for (int32_t y = 0; y < image.rows && cancel_ == 0; ++y)
        cancel_ = reportProgress(kProgressPoll, 0, 0);
    return cancel_;
}

int ToneFilter::process(ImageBuffer& image, ParameterStore* parameters)
{
    if (parameters)
        readParameters(*parameters);
    cancel_ = reportProgress(kProgressPoll, 0, 0);
    const uint32_t step = progressStep(image.rows);
    if (DynamicEnable != 0 || ColorEnable != 0) {
        cancel_ = reportProgress(kProgressBegin, 0, 0);
        int32_t done = 0;
        for (int32_t y = 0; y < image.rows && cancel_ == 0; ++y) {
            if (uint32_t(y) % step == 0) {
                done += 5;
                cancel_ = reportProgress(kProgressStep, done, 0);
            }
        }
    }
    cancel_ = reportProgress(kProgressEnd, 0, 0);
    return cancel_;
}

} // namespace quarvel
