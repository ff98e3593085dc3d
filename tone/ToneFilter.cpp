#include "tone/ToneFilter.h"

#include "core/KernelChoice.h"
#include "core/TickedBlocks.h"
#include "core/WorkerPool.h"
#include "detail/DetailFilter.h"
#include "settings/SettingFields.h"

#include <algorithm>

namespace quarvel {

ToneFilter::ToneFilter()
{
    const KernelChoice choice = kernelChoiceFromEnvironment();
    useReferenceKernel = choice.kernels == Kernels::Reference;
    useBaselineInstructions = choice.kernels == Kernels::Baseline;
    threadCount = choice.threads;
    for (auto& table : toneTable)
        for (int i = 0; i < 256; ++i)
            table[i] = uint8_t(i);
    setLumaWeights(0.299, 0.587, 0.114);
}

ToneFilter::~ToneFilter() = default;

void ToneFilter::setLumaWeights(double w0, double w1, double w2)
{
    lumaWeight[0] = static_cast<int32_t>(w0 * 1024.0 + 0.5);
    lumaWeight[1] = static_cast<int32_t>(w1 * 1024.0 + 0.5);
    lumaWeight[2] = static_cast<int32_t>(w2 * 1024.0 + 0.5);
}

uint32_t ToneFilter::progressStep(int32_t rows)
{
    const uint32_t step = (uint32_t(rows < 0 ? 0 : rows) + 10u) / 20u;
    return step == 0 ? 1u : step;
}

int32_t ToneFilter::computeContrastSpan() const
{
    if (contrast < 1)
        return 0;
    // 41 and above have no band of their own (the divisor would be 0 or negative): they get the
    // widest one, that of 40.
    if (contrast > 40)
        return 128;
    const int32_t d = 41 - contrast;
    return (d / 2 + 128) / d;
}

namespace {

// The settings the tone pass reads, in the order it reads them.
constexpr SettingField<ToneFilter> kToneFields[] = {
    settingField(SettingId::ShadowLevel, &ToneFilter::shadowLevel),
    settingField(SettingId::ShadowContrast, &ToneFilter::shadowContrast),
    settingField(SettingId::ShadowAmount, &ToneFilter::shadowAmount),
    settingField(SettingId::ShadowClip, &ToneFilter::shadowClip),
    settingField(SettingId::HilightLevel, &ToneFilter::hilightLevel),
    settingField(SettingId::HilightContrast, &ToneFilter::hilightContrast),
    settingField(SettingId::HilightAmount, &ToneFilter::hilightAmount),
    settingField(SettingId::HilightClip, &ToneFilter::hilightClip),
    settingField(SettingId::AutoColor, &ToneFilter::autoColor),
    settingField(SettingId::AutoExposure, &ToneFilter::autoExposure),
    settingField(SettingId::Density, &ToneFilter::density),
    settingField(SettingId::Saturation, &ToneFilter::saturation),
    settingField(SettingId::Contrast, &ToneFilter::contrast),
    settingField(SettingId::Gamma, &ToneFilter::gamma),
    settingField(SettingId::Monochromatic, &ToneFilter::monochromatic),
    settingField(SettingId::DynamicEnable, &ToneFilter::dynamicEnable),
    settingField(SettingId::ColorEnable, &ToneFilter::colorEnable),
    settingField(SettingId::SharpEnable, &ToneFilter::sharpEnable),
    settingField(SettingId::SmoothEnable, &ToneFilter::smoothEnable),
};
static_assert(fieldsMatchTypes(kToneFields));

} // namespace

void ToneFilter::readParameters(ParameterStore& parameters)
{
    readSettingFields(parameters, *this, kToneFields);
    buildTables();
}

int ToneFilter::analyze(const ImageBuffer& image)
{
    const int64_t rowLength = int64_t(image.bits >> 3) * image.cols * image.channels;
    cancel_ = reportProgress(kProgressPoll, 0, 0);
    // Three bytes are read at every pixel; a narrower layout has nothing to count.
    if (image.channels < 3 || image.data == nullptr)
        return cancel_;
    // Counted in plain arrays and added once: the histogram's own add per sample is the slow
    // part of a run that does nothing else. A stopped count adds what it has counted, as before.
    uint32_t counts[3][256] = {};
    bool counted = false;
    for (int32_t y = 0; y < image.rows && cancel_ == 0; ++y) {
        const uint8_t* row = image.row(y);
        for (int64_t x = 0; x + 2 < rowLength; x += image.channels) {
            ++counts[0][row[x]];
            ++counts[1][row[x + 1]];
            ++counts[2][row[x + 2]];
            counted = true;
        }
        cancel_ = reportProgress(kProgressPoll, 0, 0);
    }
    if (counted)
        for (uint8_t c = 0; c < 3; ++c)
            for (int level = 0; level < 256; ++level)
                if (counts[c][level] != 0)
                    imageHistogram.add(c, uint8_t(level), counts[c][level]);
    return cancel_;
}

int ToneFilter::process(ImageBuffer& image, ParameterStore* parameters)
{
    if (parameters)
        readParameters(*parameters);
    else
        buildTables();
    outOfMemory = false;
    cancel_ = reportProgress(kProgressPoll, 0, 0);
    const uint32_t step = progressStep(image.rows);
    int32_t done = 0;
    const bool tonePass = dynamicEnable != 0 || colorEnable != 0;
    if (tonePass && image.channels >= 3 && image.data != nullptr) {
        // Red always weighs 0.299 and blue 0.114, whichever way round the bytes are.
        if (image.order == kOrderBGR)
            setLumaWeights(0.114, 0.587, 0.299);
        else
            setLumaWeights(0.299, 0.587, 0.114);
        cancel_ = reportProgress(kProgressBegin, 0, 0);
        contrastSpan = computeContrastSpan();
        prepareFastPath();
        if (useReferenceKernel) {
            for (int32_t y = 0; y < image.rows && cancel_ == 0; ++y) {
                uint8_t* row = image.row(y);
                for (int32_t x = 0; x < image.cols; ++x)
                    mapPixel(row + int64_t(x) * image.channels);
                if (uint32_t(y) % step == 0) {
                    done += 5;
                    cancel_ = reportProgress(kProgressStep, done, 0);
                }
            }
        } else {
            if (threadCount > 1)
                pool = std::make_unique<WorkerPool>(threadCount);
            // The rows between two step reports are shared between the threads; the reports
            // and the cancel test stay here, after and before each block.
            const auto mapRows = [&](int, int64_t begin, int64_t stop) {
                for (int64_t r = begin; r < stop; ++r)
                    mapPixels(image.row(int32_t(r)), image.cols, image.channels);
            };
            forEachTickedBlock(
                image.rows, int64_t(step), [this] { return cancel_ != 0; },
                [&](int64_t y, int64_t end) {
                    if (pool && end - y > 1)
                        pool->run(
                            end - y, [&](int index, int64_t b, int64_t e) { mapRows(index, y + b, y + e); });
                    else
                        mapRows(0, y, end);
                },
                [&](int64_t) {
                    done += 5;
                    cancel_ = reportProgress(kProgressStep, done, 0);
                });
        }
    }
    if (cancel_ == 0 && (sharpEnable != 0 || smoothEnable != 0))
        cancel_ = runDetailStages(image, parameters, tonePass ? done : 0);
    pool.reset();
    return sendEnd();
}

int ToneFilter::sendEnd()
{
    // A run stopped earlier stays stopped whatever the end report answers.
    const int atEnd = reportProgress(kProgressEnd, 0, 0);
    if (cancel_ == 0)
        cancel_ = atEnd;
    return cancel_;
}

int ToneFilter::runDetailStages(ImageBuffer& image, ParameterStore* parameters, int32_t progressBase)
{
    DetailFilter detail;
    detail.progressBase = progressBase;
    if (image.order == kOrderBGR)
        detail.setLumaWeights(0.114, 0.587, 0.299);
    else
        detail.setLumaWeights(0.299, 0.587, 0.114);
    detail.owner = owner;
    detail.useReferenceKernels = useReferenceKernel;
    detail.useBaselineInstructions = useBaselineInstructions;
    detail.threadCount = threadCount;
    detail.pool = pool.get();
    const int stopped = detail.process(image, parameters);
    blurLoop = detail.blurLoop;
    outOfMemory = outOfMemory || detail.outOfMemory;
    return stopped;
}

} // namespace quarvel
