// The tone filter: the one filter the controller runs. It turns the Dynamic Range and Color
// settings into per-level tables built from a histogram of the unprocessed image, maps every
// pixel through them with integer arithmetic only, and then hands the image to the detail
// stages. Its pass reports about twenty steps of 5, so that it contributes 100 to the progress
// bar.
#pragma once

#include "core/ImageFilter.h"
#include "core/LinearToneCurve.h"
#include "detail/Convolve.h"
#include "settings/ParameterTable.h"
#include "tone/ChannelHistogram.h"

#include <cstdint>
#include <memory>

namespace quarvel {

class WorkerPool;

class ToneFilter : public ImageFilter {
public:
    ToneFilter();
    ~ToneFilter() override;
    int analyze(const ImageBuffer& image) override;
    int process(ImageBuffer& image, ParameterStore* parameters) override;
    const char* name() const override { return "Quillmarsh"; }

    // Copies the settings (fallbacks for missing ones) and rebuilds the tables from them.
    void readParameters(ParameterStore& parameters);
    // The auto-colour curves and the tone tables, from the settings and the image histogram.
    void buildTables();
    // The reference mapping of one pixel's bytes 0, 1, 2 in place.
    void mapPixel(uint8_t* pixel) const;
    // Weights scaled by 1024 and rounded: (0.299, 0.587, 0.114) gives 306, 601, 117.
    void setLumaWeights(double w0, double w1, double w2);
    // Half-width of the contrast band for the current `Contrast`.
    int32_t computeContrastSpan() const;

    // Maps `count` pixels `channels` bytes apart, with a loop chosen for the stages that apply.
    // Gives exactly the bytes of mapPixel; valid after the tone pass has prepared it.
    void mapPixels(uint8_t* first, int32_t count, int32_t channels) const;
    // Readies mapPixels for the current tables, weights and span.
    void prepareFastPath();

    // Rows between two step reports. Images of fewer than ten rows report after every row.
    static uint32_t progressStep(int32_t rows);

    uint8_t toneTable[3][256];
    LinearToneCurve colorCurve[3];
    ChannelHistogram imageHistogram;
    int32_t contrastSpan = 0;

    // The settings, named as in the document; they start at the table's defaults.
    int32_t shadowAmount = defaultInt(SettingId::ShadowAmount);
    int32_t shadowLevel = defaultInt(SettingId::ShadowLevel);
    int32_t shadowContrast = defaultInt(SettingId::ShadowContrast);
    double shadowClip = defaultDouble(SettingId::ShadowClip);
    int32_t hilightAmount = defaultInt(SettingId::HilightAmount);
    int32_t hilightLevel = defaultInt(SettingId::HilightLevel);
    int32_t hilightContrast = defaultInt(SettingId::HilightContrast);
    double hilightClip = defaultDouble(SettingId::HilightClip);
    int32_t autoColor = defaultInt(SettingId::AutoColor);
    int32_t autoExposure = defaultInt(SettingId::AutoExposure);
    int32_t gamma = defaultInt(SettingId::Gamma);
    int32_t density = defaultInt(SettingId::Density);
    int32_t saturation = defaultInt(SettingId::Saturation);
    int32_t contrast = defaultInt(SettingId::Contrast);
    int32_t monochromatic = defaultInt(SettingId::Monochromatic);
    int32_t dynamicEnable = defaultInt(SettingId::DynamicEnable);
    int32_t colorEnable = defaultInt(SettingId::ColorEnable);
    int32_t sharpEnable = defaultInt(SettingId::SharpEnable);
    int32_t smoothEnable = defaultInt(SettingId::SmoothEnable);

    int32_t lumaWeight[3] = { 0, 0, 0 };

    // The plain loops (mapPixel here, and the detail stages' own) instead of the fast ones, for
    // comparisons; QUARVEL_KERNELS=reference sets it at construction.
    bool useReferenceKernel = false;
    // Threads for the fast loops (QUARVEL_THREADS, else every core), started per process call.
    int threadCount = 1;
    // The fast loops without instructions chosen at run time (QUARVEL_KERNELS=baseline), handed
    // to the detail stages like the two fields above.
    bool useBaselineInstructions = false;
    // The blur loop the detail stages of the last run used (null: none ran).
    ConvolveFunction blurLoop = nullptr;

private:
    // The detail stages after the tone pass; `progressBase` is where the progress bar stands.
    int sendEnd();
    int runDetailStages(ImageBuffer& image, ParameterStore* parameters, int32_t progressBase);

    struct FastPath {
        // Curve then tone table, per channel; the curve alone; both weighted by the channel's
        // luminance weight.
        uint8_t tone[3][256];
        uint8_t curve[3][256];
        int32_t weightedTone[3][256];
        int32_t weightedCurve[3][256];
        uint64_t packed[3][256];
        uint8_t contrast[4096];
        int kernel = 0;
        // The eight-lane loop's entries, when its bounds hold for this run.
        uint64_t word[3][256];
        int stages = 0;
        bool vector = false;
    };

    FastPath fast_;
    std::unique_ptr<WorkerPool> pool;
    int cancel_ = 0;
};

} // namespace quarvel
