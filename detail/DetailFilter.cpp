#include "detail/DetailFilter.h"

#include "core/KernelChoice.h"
#include "core/TickedBlocks.h"
#include "core/WorkerPool.h"
#include "settings/SettingFields.h"

#include <cstdint>
#include <cstring>
#include <new>
#include <stdexcept>

namespace quarvel {

DetailFilter::DetailFilter()
{
    const KernelChoice choice = kernelChoiceFromEnvironment();
    useReferenceKernels = choice.kernels == Kernels::Reference;
    useBaselineInstructions = choice.kernels == Kernels::Baseline;
    threadCount = choice.threads;
    setLumaWeights(0.299, 0.587, 0.114);
}

DetailFilter::~DetailFilter() = default;

void DetailFilter::setLumaWeights(double w0, double w1, double w2)
{
    lumaWeight[0] = static_cast<int32_t>(w0 * 1024.0 + 0.5);
    lumaWeight[1] = static_cast<int32_t>(w1 * 1024.0 + 0.5);
    lumaWeight[2] = static_cast<int32_t>(w2 * 1024.0 + 0.5);
}

namespace {

// The settings the detail stages read, in the order they read them. The edge settings arrive as
// they are stored and become divisors after the read.
constexpr SettingField<DetailFilter> kDetailFields[] = {
    settingField(SettingId::SharpEnable, &DetailFilter::sharpEnable),
    settingField(SettingId::SmoothEnable, &DetailFilter::smoothEnable),
    settingField(SettingId::SharpMethod, &DetailFilter::sharpMethod),
    settingField(SettingId::HiSharpAmount, &DetailFilter::hiAmount),
    settingField(SettingId::HiSharpRadius, &DetailFilter::hiRadius),
    settingField(SettingId::HiSharpThreshold, &DetailFilter::hiThreshold),
    settingField(SettingId::HiSharpEdge, &DetailFilter::hiEdge),
    settingField(SettingId::HiSharpTonal, &DetailFilter::hiTonal),
    settingField(SettingId::ShSharpAmount, &DetailFilter::shAmount),
    settingField(SettingId::ShSharpRadius, &DetailFilter::shRadius),
    settingField(SettingId::ShSharpThreshold, &DetailFilter::shThreshold),
    settingField(SettingId::ShSharpEdge, &DetailFilter::shEdge),
    settingField(SettingId::ShSharpTonal, &DetailFilter::shTonal),
    settingField(SettingId::SmoothAmount, &DetailFilter::smoothAmount),
    settingField(SettingId::SmoothRadius, &DetailFilter::smoothRadius),
    settingField(SettingId::SmoothThreshold, &DetailFilter::smoothThreshold),
    settingField(SettingId::DiffuseAmount, &DetailFilter::diffuseAmount),
    settingField(SettingId::DiffuseRadius, &DetailFilter::diffuseRadius),
    settingField(SettingId::DiffuseTone, &DetailFilter::diffuseTone),
    settingField(SettingId::GrainAmount, &DetailFilter::grainAmount),
};
static_assert(fieldsMatchTypes(kDetailFields));

} // namespace

void DetailFilter::readParameters(ParameterStore& parameters)
{
    readSettingFields(parameters, *this, kDetailFields);
    hiEdgeDivisor = 40 - int64_t(hiEdge);
    shEdgeDivisor = 40 - int64_t(shEdge);
    hiBandBase = 85;
    shBandBase = 85;
}

uint32_t DetailFilter::progressStep(int passes, int32_t rows)
{
    const uint64_t indices = uint64_t(passes < 0 ? 0 : passes) * uint64_t(rows < 0 ? 0 : rows);
    const uint64_t step = (indices + 50u) / 100u;
    // Short images would give 0: they tick at every index instead.
    return step == 0 ? 1u : uint32_t(step);
}

void DetailFilter::setTonalBands()
{
    hiTonalSum = 3 * int64_t(hiTonal);
    shTonalSum = 3 * int64_t(shTonal);
    shBand = 3 * int64_t(shBandBase);
    if (shBand + shTonalSum > hiTonalSum)
        shBand = hiTonalSum - shTonalSum;
    hiBand = 3 * int64_t(hiBandBase);
    if (hiTonalSum - hiBand < shTonalSum)
        hiBand = hiTonalSum - shTonalSum;
}

bool DetailFilter::allocateWorkBuffer(int32_t rows, int32_t cols)
{
    // In 64 bits: a 32-bit size_t would wrap for large images and give a small block.
    const uint64_t wanted = uint64_t(rows < 0 ? 0 : rows) * uint64_t(cols < 0 ? 0 : cols) * 3u + 3u;
    if (wanted > uint64_t(PTRDIFF_MAX)) {
        work_.reset();
        workBytes_ = 0;
        return false;
    }
    const size_t bytes = size_t(wanted);
    if (work_ && workBytes_ == bytes)
        return true;
    // A later image of another size gets a buffer of its own size, never an overrun.
    work_.reset();
    workBytes_ = 0;
    work_.reset(new (std::nothrow) uint8_t[bytes]);
    if (!work_)
        return false;
    workBytes_ = bytes;
    std::memset(work_.get() + bytes - 3, 0, 3);
    return true;
}

void DetailFilter::failAllocation()
{
    outOfMemory = true;
    cancel = 1;
}

void DetailFilter::tick(int64_t i)
{
    if (uint64_t(i) % progressStepSize != 0)
        return;
    ++progressCounter;
    cancel = reportProgress(kProgressStep, progressCounter, 0);
}

int DetailFilter::process(ImageBuffer& image, ParameterStore* parameters)
{
    if (parameters)
        readParameters(*parameters);
    outOfMemory = false;
    const bool usable
        = image.data != nullptr && image.channels >= 3 && image.bits == 8 && image.rows > 0 && image.cols > 0;
    const bool allocated = usable && allocateWorkBuffer(image.rows, image.cols);

    const bool sharpen
        = sharpEnable != 0 && (sharpMethod == 0 ? shAmount > 0 : (hiAmount > 0 || shAmount > 0));
    const bool smooth = smoothEnable != 0 && smoothAmount > 0;
    const bool diffuse = smoothEnable != 0 && (diffuseAmount != 0 || grainAmount != 0);
    const int passes = 3 * (int(sharpen) + int(smooth) + int(diffuse));

    progressCounter = progressBase;
    progressStepSize = progressStep(passes, image.rows);
    reportProgress(kProgressBegin, 0, 0);
    cancel = reportProgress(kProgressPoll, 0, 0);
    if (!usable)
        return cancel;
    if (!allocated) {
        failAllocation();
        return cancel;
    }
    WorkerPool* const lent = pool;
    std::unique_ptr<WorkerPool> ownPool;
    try {
        // A pool for this call when the owner has none to lend; its threads end with the call.
        if (!useReferenceKernels && pool == nullptr && threadCount > 1 && passes > 0) {
            ownPool = std::make_unique<WorkerPool>(threadCount);
            pool = ownPool.get();
        }
        if (sharpen) {
            setTonalBands();
            sharpenStage(image);
        }
        if (smooth && cancel == 0)
            smoothStage(image);
        if (diffuse && cancel == 0)
            diffuseGrainStage(image);
    } catch (const std::bad_alloc&) {
        failAllocation();
    } catch (const std::length_error&) {
        failAllocation();
    }
    pool = lent;
    return cancel;
}

// The fast passes share the indices between two ticks among the threads; ticks, polls and the
// cancel test happen on the calling thread before and after each block, where the plain loops
// have them.
int DetailFilter::threads() const { return pool ? pool->size() : 1; }

void DetailFilter::parallel(
    int64_t begin, int64_t end, const std::function<void(int, int64_t, int64_t)>& part)
{
    if (!pool || pool->size() == 1 || end - begin < 2) {
        part(0, begin, end);
        return;
    }
    pool->run(end - begin, [&](int index, int64_t b, int64_t e) { part(index, begin + b, begin + e); });
}

void DetailFilter::runTickedPass(int64_t count, const std::function<void(int64_t, int64_t)>& block)
{
    forEachTickedBlock(
        count, int64_t(progressStepSize), [this] { return cancel != 0; }, block,
        [this](int64_t i) { tick(i); });
}

} // namespace quarvel
