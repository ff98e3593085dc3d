// Timings of quarvel-host's own phases on a 24-megapixel image: decoding, the conversion to the
// host's planes, the session's hand-over to the plug-in, the conversion back and encoding, each
// alone, so that what the command line adds to the plug-in's work shows phase by phase.
#include "bench/BenchImage.h"
#include "tools/host/HostImage.h"
#include "tools/host/HostSession.h"
#include "tools/host/HostSettings.h"
#include "tools/host/ImageFile.h"

#include "host/EntryPoint.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

using namespace quarvel::host;
namespace api = ::pluginapi;

// The gradients of the engines' picture with a photograph's grain rather than their heavy
// noise, so that the codecs meet about the entropy of a photograph (a JPEG of 14 MB at the
// host's quality); 16-bit samples get low bits of their own, so that no two neighbours share a
// value by accident.
ImageFile benchFile(int bits)
{
    ImageFile file;
    file.width = bench::kCols;
    file.height = bench::kRows;
    file.channels = 3;
    file.bitsPerSample = bits;
    file.pixels.resize(file.rowBytes() * size_t(file.height));
    uint32_t seed = 0x9E3779B9u;
    size_t i = 0;
    for (int32_t y = 0; y < bench::kRows; ++y)
        for (int32_t x = 0; x < bench::kCols; ++x) {
            const int32_t gx = x * 255 / (bench::kCols - 1);
            const int32_t gy = y * 255 / (bench::kRows - 1);
            const int32_t base[3] = { gx, gy, (gx + gy) / 2 };
            for (const int32_t b : base) {
                seed = seed * 1664525u + 1013904223u;
                const int32_t v = b + int32_t(seed >> 28) - 8;
                const uint8_t v8 = uint8_t(v < 0 ? 0 : v > 255 ? 255 : v);
                if (bits == 8)
                    file.pixels[i++] = v8;
                else
                    file.samples16()[i++] = uint16_t((v8 << 8) | ((seed >> 13) & 0xFF));
            }
        }
    return file;
}

const ImageFile& file8()
{
    static const ImageFile file = benchFile(8);
    return file;
}

const ImageFile& file16()
{
    static const ImageFile file = benchFile(16);
    return file;
}

struct Format {
    const char* name;
    ImageFormat format;
    int bits;
};

const Format kJpeg { "jpeg", ImageFormat::Jpeg, 8 };
const Format kPng16 { "png16", ImageFormat::Png, 16 };

std::string benchPath(const Format& format)
{
    const std::string name = "quarvel-host-bench-" + std::to_string(::getpid()) + "." + format.name;
    return (std::filesystem::temp_directory_path() / name).string();
}

// Written once, on first use, with the host's default options; removed when the program ends.
const std::string& encodedFile(const Format& format)
{
    struct Written {
        std::string path;
        ~Written() { std::remove(path.c_str()); }
    };
    static Written jpeg, png16;
    Written& written = format.format == ImageFormat::Jpeg ? jpeg : png16;
    if (written.path.empty()) {
        written.path = benchPath(format);
        std::string error;
        if (!writeImageFile(written.path, format.format, format.bits == 8 ? file8() : file16(), error))
            std::fprintf(stderr, "cannot write %s: %s\n", written.path.c_str(), error.c_str());
    }
    return written.path;
}

void BM_Decode(benchmark::State& state, const Format* format)
{
    const std::string& path = encodedFile(*format);
    for (auto _ : state) {
        ImageFile file;
        std::string error;
        if (!readImageFile(path, file, error)) {
            state.SkipWithError(error.c_str());
            break;
        }
        benchmark::DoNotOptimize(file.pixels.data());
    }
    bench::setRate(state);
    state.counters["file MB"] = double(std::filesystem::file_size(path)) / 1e6;
}

void BM_Encode(benchmark::State& state, const Format* format)
{
    const ImageFile& file = format->bits == 8 ? file8() : file16();
    const std::string path = benchPath(*format) + ".out";
    for (auto _ : state) {
        std::string error;
        if (!writeImageFile(path, format->format, file, error)) {
            state.SkipWithError(error.c_str());
            break;
        }
    }
    std::error_code ignored;
    state.counters["file MB"] = double(std::filesystem::file_size(path, ignored)) / 1e6;
    std::remove(path.c_str());
    bench::setRate(state);
}

// 8-bit samples change hands; 16-bit ones are converted into planes of their own.
void BM_ToHostImage(benchmark::State& state, int bits)
{
    for (auto _ : state) {
        state.PauseTiming();
        ImageFile file = bits == 8 ? file8() : file16();
        state.ResumeTiming();
        HostImage image = toHostImage(file);
        benchmark::DoNotOptimize(image.samples.data());
        state.PauseTiming();
        image = HostImage();
        file = ImageFile();
        state.ResumeTiming();
    }
    bench::setRate(state);
}

// 16-bit samples come back through the file's own, which the conversion keeps beside the planes.
void BM_FromHostImage(benchmark::State& state, int bits)
{
    for (auto _ : state) {
        state.PauseTiming();
        ImageFile file = bits == 8 ? file8() : file16();
        HostImage image = toHostImage(file);
        state.ResumeTiming();
        fromHostImage(image, file);
        benchmark::DoNotOptimize(file.pixels.data());
        state.PauseTiming();
        image = HostImage();
        file = ImageFile();
        state.ResumeTiming();
    }
    bench::setRate(state);
}

// A plug-in that takes the whole image and gives it back untouched: the session's own share of
// a run, with nothing of the filter in it.
void passThroughPlugin(int16_t selector, void* recordPointer, intptr_t*, int16_t* result)
{
    *result = api::noErr;
    if (selector != api::filterSelectorStart)
        return;
    auto& record = *static_cast<api::FilterRecord*>(recordPointer);
    record.inRect = record.outRect = record.filterRect;
    record.inLoPlane = record.outLoPlane = 0;
    record.inHiPlane = record.outHiPlane = int16_t(record.planes - 1);
    *result = record.advanceState();
    benchmark::DoNotOptimize(record.outData);
    record.inRect = record.outRect = api::Rect { 0, 0, 0, 0 };
}

SessionOptions settingsOf(const std::vector<std::string>& assignments)
{
    SessionOptions options;
    options.hasDescriptor = true;
    std::string error;
    for (const std::string& assignment : assignments)
        if (!applySetting(assignment, options.descriptor, error))
            std::fprintf(stderr, "%s\n", error.c_str());
    return options;
}

// The plug-in leaves the image as it was with every stage off, so one image serves every round.
void BM_Session(benchmark::State& state, api::PluginEntryProc entry)
{
    ImageFile file = file8();
    HostImage image = toHostImage(file);
    const SessionOptions options
        = settingsOf({ "DynamicEnable=0", "ColorEnable=0", "SharpEnable=0", "SmoothEnable=0" });
    for (auto _ : state) {
        HostSession session(entry, options);
        const SessionResult outcome = session.run(image);
        if (!outcome.imageChanged) {
            state.SkipWithError("the run failed");
            break;
        }
    }
    bench::setRate(state);
}

void registerHostBenchmarks()
{
    const auto ms = benchmark::kMillisecond;
    for (const Format* format : { &kJpeg, &kPng16 }) {
        benchmark::RegisterBenchmark(
            (std::string("BM_HostDecode/") + format->name).c_str(), &BM_Decode, format)
            ->Unit(ms)
            ->Iterations(format == &kJpeg ? 5 : 2);
        // PNG's default compression takes seconds for 24 megapixels.
        benchmark::RegisterBenchmark(
            (std::string("BM_HostEncode/") + format->name).c_str(), &BM_Encode, format)
            ->Unit(ms)
            ->Iterations(format == &kJpeg ? 5 : 1);
    }
    for (const int bits : { 8, 16 }) {
        const std::string depth = "/bits:" + std::to_string(bits);
        benchmark::RegisterBenchmark(("BM_ToHostImage" + depth).c_str(), &BM_ToHostImage, bits)
            ->Unit(ms)
            ->Iterations(5);
        benchmark::RegisterBenchmark(("BM_FromHostImage" + depth).c_str(), &BM_FromHostImage, bits)
            ->Unit(ms)
            ->Iterations(5);
    }
    benchmark::RegisterBenchmark("BM_HostSession/passThrough", &BM_Session, &passThroughPlugin)
        ->Unit(ms)
        ->Iterations(20);
    benchmark::RegisterBenchmark("BM_HostSession/stagesOff", &BM_Session, &ENTRYPOINT)
        ->Unit(ms)
        ->Iterations(5);
}

[[maybe_unused]] const bool registered = (registerHostBenchmarks(), true);

} // namespace
