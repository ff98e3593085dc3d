// Timings of the detail engine on the same 24-megapixel working buffer as the tone timings: the
// kernel builder, the separable blur at each radius class, every stage on its own, and the whole
// detail run with all stages on. Everything but the kernel builder runs three ways, the plain
// loops and the fast ones on one and on two threads, so that one run of the binary says both what
// the fast loops gain and how well they share the work.
#include "bench/BenchImage.h"
#include "core/ImageBuffer.h"
#include "core/WorkerPool.h"
#include "detail/BlurBuilder.h"
#include "detail/DetailFilter.h"
#include "settings/ParameterDocument.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace bench;
using quarvel::BlurKernel;
using quarvel::DetailFilter;
using quarvel::ImageBuffer;
using quarvel::ParameterDocument;
using quarvel::WorkerPool;

// Settings and threads come from the mode alone, never from QUARVEL_KERNELS or QUARVEL_THREADS:
// a variable left set in the shell would otherwise make two modes time the same code.
void applyMode(DetailFilter& filter, const Mode& mode)
{
    filter.useReferenceKernels = mode.reference;
    filter.threadCount = mode.threads;
}

// Grain draws from a generator seeded by the clock unless told otherwise; a fixed seed keeps the
// pattern of darkened pixels, and so the branch history, the same from run to run. A seed given
// by whoever runs the benchmark is left alone.
void fixGrainSeed() { setenv("QUARVEL_GRAIN_SEED", "1", 0); }

void BM_BuildBlurKernel(benchmark::State& state)
{
    const double radius = double(state.range(0));
    size_t weights = 0;
    for (auto _ : state) {
        const BlurKernel kernel = quarvel::buildBlurKernel(radius);
        weights = kernel.weights.size();
        benchmark::DoNotOptimize(kernel.weights.data());
        benchmark::ClobberMemory();
    }
    // The width is what the blur pays for per pixel, so it is printed beside the time.
    state.counters["weights"] = double(weights);
}

void BM_Blur(benchmark::State& state, const Mode& mode, int radiusClass)
{
    // The blur only reads the image, so the source bytes serve every iteration unrestored.
    const ImageBuffer image = describe(const_cast<uint8_t*>(sourcePixels().data()));
    const double radius = double(radiusClass);
    // Called directly, the blur finds no pool of process's making; it gets one as a run lends it,
    // started before the clock so that thread start-up is not timed as blurring.
    WorkerPool pool(mode.threads);
    auto filter = std::make_unique<DetailFilter>();
    applyMode(*filter, mode);
    filter->pool = &pool;
    filter->allocateWorkBuffer(kRows, kCols);
    // The tick step of a run with one stage, as process would set it: ticking every row would
    // time bookkeeping that no real run does.
    filter->progressStepSize = DetailFilter::progressStep(3, kRows);
    for (auto _ : state) {
        filter->blurIntoWorkBuffer(image, radius);
        benchmark::DoNotOptimize(filter->workBuffer());
        benchmark::ClobberMemory();
    }
    state.counters["weights"] = double(quarvel::buildBlurKernel(radius).weights.size());
    setRate(state);
}

using Configure = void (*)(ParameterDocument&);
using Stage = void (DetailFilter::*)(ImageBuffer&);

// One stage alone, set up from the same settings a run reads, with the tonal bands and the tick
// step that process would give it; only the stage itself is on the clock.
void runStage(benchmark::State& state, const Mode& mode, Configure configure, Stage stage)
{
    fixGrainSeed();
    const std::vector<uint8_t>& source = sourcePixels();
    std::vector<uint8_t> work(source);
    ImageBuffer image = describe(work.data());

    WorkerPool pool(mode.threads);
    auto filter = std::make_unique<DetailFilter>();
    applyMode(*filter, mode);
    filter->pool = &pool;
    ParameterDocument settings;
    configure(settings);
    filter->readParameters(settings);
    filter->setTonalBands();
    filter->allocateWorkBuffer(kRows, kCols);
    filter->progressStepSize = DetailFilter::progressStep(3, kRows);

    for (auto _ : state) {
        // Each stage pulls pixels toward its blurred copy; run on its own output it would time an
        // ever smoother image, so the original bytes come back with the clock paused.
        state.PauseTiming();
        std::memcpy(work.data(), source.data(), kBytes);
        state.ResumeTiming();
        (filter.get()->*stage)(image);
        benchmark::DoNotOptimize(work.data());
        benchmark::ClobberMemory();
    }
    setRate(state);
}

void normalSharpening(ParameterDocument& settings)
{
    settings.setInt("SharpMethod", 0);
    settings.setInt("ShSharpAmount", 100);
    settings.setDouble("ShSharpRadius", 1.0);
}

void highlightShadowSharpening(ParameterDocument& settings)
{
    settings.setInt("SharpMethod", 1);
    settings.setInt("HiSharpAmount", 100);
    settings.setInt("ShSharpAmount", 100);
    settings.setDouble("ShSharpRadius", 1.0);
}

void smoothing(ParameterDocument& settings)
{
    settings.setInt("SmoothAmount", 50);
    settings.setDouble("SmoothRadius", 1.0);
}

void glow(ParameterDocument& settings)
{
    settings.setInt("DiffuseAmount", 30);
    settings.setDouble("DiffuseRadius", 5.0);
}

void grainOnly(ParameterDocument& settings)
{
    settings.setInt("DiffuseAmount", 0);
    settings.setInt("GrainAmount", 5);
}

void everyStage(ParameterDocument& settings)
{
    normalSharpening(settings);
    smoothing(settings);
    glow(settings);
}

void BM_SharpenStage(benchmark::State& state, const Mode& mode, Configure configure)
{
    runStage(state, mode, configure, &DetailFilter::sharpenStage);
}

void BM_SmoothStage(benchmark::State& state, const Mode& mode, Configure configure)
{
    runStage(state, mode, configure, &DetailFilter::smoothStage);
}

void BM_DiffuseGrainStage(benchmark::State& state, const Mode& mode, Configure configure)
{
    runStage(state, mode, configure, &DetailFilter::diffuseGrainStage);
}

void BM_DetailProcess(benchmark::State& state, const Mode& mode)
{
    fixGrainSeed();
    const std::vector<uint8_t>& source = sourcePixels();
    std::vector<uint8_t> work(source);
    ImageBuffer image = describe(work.data());

    // One filter for every iteration, as one run of the plug-in keeps its work buffer: the clock
    // then holds the stages, not a fresh 72 MB allocation and its page faults.
    // No pool is lent: process starts its own from threadCount on every call, as a run does.
    auto filter = std::make_unique<DetailFilter>();
    applyMode(*filter, mode);
    ParameterDocument settings;
    everyStage(settings);

    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(work.data(), source.data(), kBytes);
        state.ResumeTiming();
        benchmark::DoNotOptimize(filter->process(image, &settings));
        benchmark::ClobberMemory();
    }
    setRate(state);
}

using StageBenchmark = void (*)(benchmark::State&, const Mode&, Configure);

struct StageCase {
    const char* name;
    StageBenchmark run;
    Configure configure;
    int fastIterations;
};

const StageCase kStageCases[] = {
    { "BM_SharpenStage/normal", &BM_SharpenStage, &normalSharpening, 3 },
    { "BM_SharpenStage/highlightShadow", &BM_SharpenStage, &highlightShadowSharpening, 3 },
    { "BM_SmoothStage/radius1", &BM_SmoothStage, &smoothing, 3 },
    { "BM_DiffuseGrainStage/glow", &BM_DiffuseGrainStage, &glow, 2 },
    { "BM_DiffuseGrainStage/grainOnly", &BM_DiffuseGrainStage, &grainOnly, 3 },
};

std::string nameFor(const std::string& base, const Mode& mode) { return base + "/mode:" + mode.name; }

// The blur costs one multiply-add per kernel weight per pixel and pass, so the plain loops take
// seconds per pass at the wide radii (radius 30 about thirteen): every plain run is timed once,
// which keeps the whole binary within a few minutes on two cores. The fast loops are cheap enough
// for a few rounds, which shows up a noisy figure.
BENCHMARK(BM_BuildBlurKernel)->Arg(1)->Arg(5)->Arg(15)->Arg(30)->Unit(benchmark::kMicrosecond)->MinTime(0.2);

void registerDetailBenchmarks()
{
    for (const int radius : { 1, 5, 15, 30 }) {
        for (const Mode& mode : kModes) {
            const std::string name = nameFor("BM_Blur/radius:" + std::to_string(radius), mode);
            benchmark::RegisterBenchmark(name.c_str(), &BM_Blur, mode, radius)
                ->Unit(benchmark::kMillisecond)
                ->Iterations(mode.reference ? 1
                        : radius <= 5       ? 3
                                            : 2);
        }
    }
    for (const StageCase& stage : kStageCases) {
        for (const Mode& mode : kModes) {
            benchmark::RegisterBenchmark(nameFor(stage.name, mode).c_str(), stage.run, mode, stage.configure)
                ->Unit(benchmark::kMillisecond)
                ->Iterations(mode.reference ? 1 : stage.fastIterations);
        }
    }
    for (const Mode& mode : kModes) {
        benchmark::RegisterBenchmark(nameFor("BM_DetailProcess", mode).c_str(), &BM_DetailProcess, mode)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(mode.reference ? 1 : 2);
    }
}

// Registered while the program starts, as the BENCHMARK macro does, so the main in the tone
// timings finds these too.
[[maybe_unused]] const bool registered = (registerDetailBenchmarks(), true);

} // namespace
