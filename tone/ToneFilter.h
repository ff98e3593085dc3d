// The tone filter: the one filter the controller runs. Its pass over the image reports about
// twenty steps of 5, so that the stage contributes 100 to the progress bar.
#pragma once

#include "control/ImageFilter.h"

#include <cstdint>

namespace quarvel {

class ToneFilter : public ImageFilter {
public:
    ToneFilter() = default;
    int analyze(const ImageBuffer& image) override;
    int process(ImageBuffer& image, ParameterStore* parameters) override;
    const char* name() const override { return "Quillmarsh"; }

    void readParameters(ParameterStore& parameters);

    // Rows between two step reports. Images of fewer than ten rows report after every row.
    static uint32_t progressStep(int32_t rows);

    int32_t DynamicEnable = 1;
    int32_t ColorEnable = 1;
    int32_t SharpEnable = 1;
    int32_t SmoothEnable = 1;

private:
    int cancel_ = 0;
};

} // namespace quarvel
