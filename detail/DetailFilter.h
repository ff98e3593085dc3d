// The detail filter: sharpening, smoothing, then diffusion glow and grain, each an in-place pass
// over the 8-bit working image that combines it with a blurred copy in one shared work buffer.
// The tone filter runs it after its own pass; its step reports continue the tone filter's count,
// one tick at every `step`-th outer index of every pass, so that its stages add about 100.
#pragma once

#include "core/ImageFilter.h"
#include "detail/Convolve.h"
#include "settings/ParameterTable.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace quarvel {

class ToneCurve;
class WorkerPool;

class DetailFilter : public ImageFilter {
public:
    DetailFilter();
    ~DetailFilter() override;
    // The cancel flag: nonzero when a report asked to stop, or when a buffer could not be had
    // (then `outOfMemory` is set too).
    int process(ImageBuffer& image, ParameterStore* parameters) override;
    const char* name() const override { return "RizEzadedi"; }

    // Weights scaled by 1024 and rounded, for channel bytes 0, 1, 2.
    void setLumaWeights(double w0, double w1, double w2);
    void readParameters(ParameterStore& parameters);

    // Outer-loop indices between two ticks for a run of `passes` passes over `rows` rows; at
    // least 1.
    static uint32_t progressStep(int passes, int32_t rows);

    // The blurred first three channels of `image` into the work buffer, optionally passed
    // through `curve` on the way out. Ticks and obeys the cancel flag.
    void blurIntoWorkBuffer(const ImageBuffer& image, double radius, const ToneCurve* curve = nullptr);
    void sharpenStage(ImageBuffer& image);
    void smoothStage(ImageBuffer& image);
    void diffuseGrainStage(ImageBuffer& image);
    // The tonal sums and bands that the highlight/shadow method blends over.
    void setTonalBands();

    // Makes a work buffer for images of this size (and frees one of any other size).
    bool allocateWorkBuffer(int32_t rows, int32_t cols);
    const uint8_t* workBuffer() const { return work_.get(); }

    int32_t progressBase = 0;
    // The settings; they start at the table's defaults.
    int32_t sharpEnable = defaultInt(SettingId::SharpEnable);
    int32_t smoothEnable = defaultInt(SettingId::SmoothEnable);
    int32_t sharpMethod = defaultInt(SettingId::SharpMethod);
    int32_t hiAmount = defaultInt(SettingId::HiSharpAmount);
    double hiRadius = defaultDouble(SettingId::HiSharpRadius);
    int32_t hiEdge = defaultInt(SettingId::HiSharpEdge);
    int64_t hiEdgeDivisor = 40 - int64_t(defaultInt(SettingId::HiSharpEdge));
    int32_t hiThreshold = defaultInt(SettingId::HiSharpThreshold);
    int32_t hiTonal = defaultInt(SettingId::HiSharpTonal);
    int32_t hiBandBase = 85;
    int32_t shAmount = defaultInt(SettingId::ShSharpAmount);
    double shRadius = defaultDouble(SettingId::ShSharpRadius);
    int32_t shEdge = defaultInt(SettingId::ShSharpEdge);
    int64_t shEdgeDivisor = 40 - int64_t(defaultInt(SettingId::ShSharpEdge));
    int32_t shThreshold = defaultInt(SettingId::ShSharpThreshold);
    int32_t shTonal = defaultInt(SettingId::ShSharpTonal);
    int32_t shBandBase = 85;
    int32_t smoothAmount = defaultInt(SettingId::SmoothAmount);
    double smoothRadius = defaultDouble(SettingId::SmoothRadius);
    int32_t smoothThreshold = defaultInt(SettingId::SmoothThreshold);
    int32_t diffuseAmount = defaultInt(SettingId::DiffuseAmount);
    double diffuseRadius = defaultDouble(SettingId::DiffuseRadius);
    int32_t diffuseTone = defaultInt(SettingId::DiffuseTone);
    int32_t grainAmount = defaultInt(SettingId::GrainAmount);
    // In channel-sum units; 64 bits because scripted tonal levels may be anything.
    int64_t hiTonalSum = 0;
    int64_t shTonalSum = 0;
    int64_t hiBand = 0;
    int64_t shBand = 0;
    int32_t progressCounter = 0;
    uint32_t progressStepSize = 1;
    int32_t lumaWeight[3] = { 0, 0, 0 };
    int cancel = 0;
    bool outOfMemory = false;

    // The plain loops, which define the result, instead of the fast ones that must match them
    // byte for byte; and the threads the fast ones may use (a pool of the owner's, or one made
    // for the call).
    bool useReferenceKernels = false;
    int threadCount = 1;
    WorkerPool* pool = nullptr;
    // The fast loops without the instructions chosen at run time (SSE2 only), for comparisons.
    bool useBaselineInstructions = false;
    // The blur loop the last run used (null: none ran), so that a test can tell the choice was
    // honoured.
    ConvolveFunction blurLoop = nullptr;

private:
    // A pass over outer indices 0 .. count − 1 in blocks that end at the ticks: every tick falls
    // where the plain loop has it and the cancel flag is tested before every block, which is
    // where it can have changed. `block` does the indices [begin, end).
    void runTickedPass(int64_t count, const std::function<void(int64_t begin, int64_t end)>& block);
    // Splits [begin, end) between the pool's threads: part(thread, begin, end).
    void parallel(int64_t begin, int64_t end, const std::function<void(int, int64_t, int64_t)>& part);
    int threads() const;

    void blurReference(const ImageBuffer& image, double radius, const ToneCurve* curve);
    void blurFast(const ImageBuffer& image, double radius, const ToneCurve* curve);
    void sharpenFast(ImageBuffer& image);
    void smoothFast(ImageBuffer& image, int64_t amount);
    void diffuseGrainFast(ImageBuffer& image, int64_t glow, int64_t grain, uint32_t seed);

    // The end of one outer iteration `i` of a pass.
    void tick(int64_t i);
    // Stops the run for want of memory.
    void failAllocation();

    std::unique_ptr<uint8_t[]> work_;
    size_t workBytes_ = 0;
};

} // namespace quarvel
