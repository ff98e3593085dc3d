// Timings of the tone engine on a 24-megapixel working buffer: the histogram, the tables, the
// pixel loop and the whole filter with every stage on, each with the plain loops and with the
// fast ones on one and on two threads, and a bare table lookup over the same bytes as the floor
// the loops can approach.
#include "bench/BenchImage.h"
#include "core/ImageBuffer.h"
#include "settings/ParameterDocument.h"
#include "tone/ToneFilter.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace bench;
using quarvel::ImageBuffer;
using quarvel::ParameterDocument;
using quarvel::ToneFilter;

// Set from the mode, never left to QUARVEL_KERNELS or QUARVEL_THREADS: a variable left in the
// shell would make two modes time the same code.
void applyMode(ToneFilter& filter, const Mode& mode)
{
    filter.useReferenceKernel = mode.reference;
    filter.threadCount = mode.threads;
}

void BM_Analyze(benchmark::State& state)
{
    const ImageBuffer image = describe(const_cast<uint8_t*>(sourcePixels().data()));
    for (auto _ : state) {
        // A fresh filter each time, so the counters start from nothing as in a real run; making
        // one costs nothing beside 24 million pixels.
        auto filter = std::make_unique<ToneFilter>();
        benchmark::DoNotOptimize(filter->analyze(image));
        benchmark::ClobberMemory();
    }
    setRate(state);
}

void BM_BuildTables(benchmark::State& state)
{
    auto filter = std::make_unique<ToneFilter>();
    filter->analyze(describe(const_cast<uint8_t*>(sourcePixels().data())));
    ParameterDocument settings;
    settings.setInt("ShadowAmount", 30);
    settings.setInt("HilightAmount", 20);
    settings.setInt("AutoColor", 1);
    settings.setInt("AutoExposure", 1);
    settings.setDouble("ShadowClip", 0.1);
    settings.setInt("Gamma", 10);
    // Reading the settings builds the tables once already; the loop times the rebuild alone.
    filter->readParameters(settings);
    for (auto _ : state) {
        filter->buildTables();
        benchmark::DoNotOptimize(filter->toneTable);
        benchmark::ClobberMemory();
    }
}

void toneSettings(ParameterDocument& settings)
{
    settings.setInt("ShadowAmount", 30);
    settings.setInt("HilightAmount", 20);
    settings.setInt("AutoColor", 1);
    settings.setInt("Saturation", 10);
}

// The filter as a user would run it with everything on: the tone pass, then sharpening,
// smoothing and glow from the detail engine, all in one process call.
void everythingOnSettings(ParameterDocument& settings)
{
    toneSettings(settings);
    settings.setInt("ShSharpAmount", 100);
    settings.setDouble("ShSharpRadius", 1.0);
    settings.setInt("SmoothAmount", 50);
    settings.setDouble("SmoothRadius", 1.0);
    settings.setInt("DiffuseAmount", 30);
    settings.setDouble("DiffuseRadius", 5.0);
}

// One process call per iteration on the original bytes. The histogram is taken once, before the
// clock: the plug-in's host asks for it separately, and BM_Analyze times it.
void runProcess(benchmark::State& state, const Mode& mode, ParameterDocument& settings)
{
    const std::vector<uint8_t>& source = sourcePixels();
    std::vector<uint8_t> work(source);
    ImageBuffer image = describe(work.data());

    auto filter = std::make_unique<ToneFilter>();
    filter->analyze(image);
    applyMode(*filter, mode);

    for (auto _ : state) {
        // Every pass starts from the original bytes, restored outside the clock: a pass applied
        // to its own output would drift toward flat levels and time a different image each round.
        state.PauseTiming();
        std::memcpy(work.data(), source.data(), kBytes);
        state.ResumeTiming();
        benchmark::DoNotOptimize(filter->process(image, &settings));
        benchmark::ClobberMemory();
    }
    setRate(state);
}

void BM_TonePass(benchmark::State& state, const Mode& mode)
{
    ParameterDocument settings;
    toneSettings(settings);
    settings.setInt("Contrast", 20);
    // The detail stages would time something else; only the tone pass runs.
    settings.setInt("SharpEnable", 0);
    settings.setInt("SmoothEnable", 0);
    runProcess(state, mode, settings);
}

void BM_EverythingOn(benchmark::State& state, const Mode& mode)
{
    // No grain here, but a fixed seed all the same, as in the detail timings, should the
    // defaults ever turn it on; a seed given by whoever runs the benchmark is left alone.
    setenv("QUARVEL_GRAIN_SEED", "1", 0);
    ParameterDocument settings;
    everythingOnSettings(settings);
    runProcess(state, mode, settings);
}

void BM_TableLookup(benchmark::State& state)
{
    std::vector<uint8_t> work(sourcePixels());
    uint8_t table[256];
    for (int i = 0; i < 256; ++i)
        table[i] = uint8_t(255 - i);
    for (auto _ : state) {
        // In place and never restored: a lookup costs the same whatever the bytes hold.
        uint8_t* p = work.data();
        for (size_t i = 0; i < kBytes; i += size_t(quarvel::kWorkChannels)) {
            p[i] = table[p[i]];
            p[i + 1] = table[p[i + 1]];
            p[i + 2] = table[p[i + 2]];
        }
        benchmark::DoNotOptimize(work.data());
        benchmark::ClobberMemory();
    }
    setRate(state);
}

// Fixed iteration counts: a few passes over 96 MB are steady enough for a baseline. The whole
// filter with the plain loops spends seconds in the blurs, so it runs once.
BENCHMARK(BM_Analyze)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_BuildTables)->Unit(benchmark::kMicrosecond)->MinTime(0.5);

void registerToneBenchmarks()
{
    for (const Mode& mode : kModes) {
        benchmark::RegisterBenchmark(
            (std::string("BM_TonePass/mode:") + mode.name).c_str(), &BM_TonePass, mode)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(5);
    }
    for (const Mode& mode : kModes) {
        benchmark::RegisterBenchmark(
            (std::string("BM_EverythingOn/mode:") + mode.name).c_str(), &BM_EverythingOn, mode)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(mode.reference ? 1 : 2);
    }
}

// Registered while the program starts, as the BENCHMARK macro does, and between the two above
// and the one below, so the listing keeps its order.
[[maybe_unused]] const bool registered = (registerToneBenchmarks(), true);

BENCHMARK(BM_TableLookup)->Unit(benchmark::kMillisecond)->Iterations(10);

} // namespace

BENCHMARK_MAIN();
