#include "detail/DetailFilter.h"

#include "detail/DiffuseGrain.h"
#include "settings/ParameterDocument.h"
#include "tests/support/RecordingOwner.h"
#include "tests/support/TestImage.h"
#include "tone/ToneFilter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <vector>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUARVEL_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(QUARVEL_ASAN)
// The out-of-memory test asks for an impossible block; the sanitizer should answer null then,
// as the real allocator does, instead of ending the run.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }
#endif

namespace quarvel {
namespace {

// The default seed of these tests' pictures.
struct Picture : TestImage {
    Picture(int32_t rows, int32_t cols, uint32_t seed = 7, int32_t order = kOrderBGR)
        : TestImage(rows, cols, seed, order)
    {
    }
};

void setEnvironment(const char* name, const char* value)
{
#ifdef _WIN32
    _putenv_s(name, value ? value : "");
#else
    if (value)
        setenv(name, value, 1);
    else
        unsetenv(name);
#endif
}

class FixedGrainSeed {
public:
    explicit FixedGrainSeed(const char* seed) { setEnvironment("QUARVEL_GRAIN_SEED", seed); }
    ~FixedGrainSeed() { setEnvironment("QUARVEL_GRAIN_SEED", nullptr); }
};

void apply(ParameterDocument& doc, std::initializer_list<std::pair<const char*, const char*>> values)
{
    for (const auto& [name, value] : values)
        doc.setString(name, value);
}

std::vector<int32_t> stepAmounts(const RecordingOwner& owner)
{
    std::vector<int32_t> out;
    for (const Report& r : owner.reports)
        if (r.stage == kProgressStep)
            out.push_back(r.done);
    return out;
}

int64_t ticks(int64_t count, int64_t step) { return (count + step - 1) / step; }

struct StageCase {
    const char* what;
    std::vector<std::pair<const char*, const char*>> values;
    int stages; // stages that run (sets the step)
    int blurStages; // of which make a blur
};

TEST(DetailFilter, StageDecisionsAndTickCounts)
{
    const std::vector<StageCase> cases = {
        { "nothing to do", {}, 0, 0 },
        { "sharpening", { { "ShSharpAmount", "100" } }, 1, 1 },
        { "sharpening switched off", { { "SharpEnable", "0" }, { "ShSharpAmount", "100" } }, 0, 0 },
        { "normal method ignores the highlight set", { { "HiSharpAmount", "50" } }, 0, 0 },
        { "highlight/shadow method", { { "SharpMethod", "1" }, { "HiSharpAmount", "50" } }, 1, 1 },
        { "smoothing without sharpening",
            { { "SharpEnable", "0" }, { "ShSharpAmount", "100" }, { "SmoothAmount", "50" } }, 1, 1 },
        { "grain alone: no blur", { { "GrainAmount", "5" } }, 1, 0 },
        { "a negative glow: no blur", { { "DiffuseAmount", "-5" } }, 1, 0 },
        { "smooth group off", { { "SmoothEnable", "0" }, { "SmoothAmount", "50" }, { "GrainAmount", "5" } },
            0, 0 },
        { "everything", { { "ShSharpAmount", "100" }, { "SmoothAmount", "50" }, { "DiffuseAmount", "30" } },
            3, 3 },
    };
    constexpr int32_t kRows = 400, kCols = 40;
    for (const StageCase& c : cases) {
        SCOPED_TRACE(c.what);
        Picture picture(kRows, kCols);
        ParameterDocument doc;
        for (const auto& [name, value] : c.values)
            doc.setString(name, value);
        RecordingOwner owner;
        DetailFilter filter;
        filter.owner = &owner;
        filter.progressBase = 100;
        EXPECT_EQ(filter.process(picture.buffer, &doc), 0);
        ASSERT_GE(owner.reports.size(), 2u);
        EXPECT_EQ(owner.reports[0], (Report { kProgressBegin, 0 }));
        EXPECT_EQ(owner.reports[1], (Report { kProgressPoll, 0 }));
        EXPECT_EQ(owner.count(kProgressEnd), 0) << "the end is the owner's to send";

        const uint32_t step = DetailFilter::progressStep(3 * c.stages, kRows);
        if (c.stages == 1)
            EXPECT_EQ(step, 12u);
        const int64_t expected
            = c.blurStages * (ticks(kCols, step) + ticks(kRows, step)) + c.stages * ticks(kRows, step);
        const std::vector<int32_t> steps = stepAmounts(owner);
        ASSERT_EQ(int64_t(steps.size()), expected);
        for (size_t n = 0; n < steps.size(); ++n)
            ASSERT_EQ(steps[n], 101 + int32_t(n)) << "one count per tick, from the base on";
        EXPECT_NE(filter.workBuffer(), nullptr) << "allocated even with nothing to do";
        if (c.stages == 0)
            EXPECT_EQ(picture.pixels, Picture(kRows, kCols).pixels);
    }
}

TEST(DetailFilter, ProgressSteps)
{
    EXPECT_EQ(DetailFilter::progressStep(3, 400), 12u);
    EXPECT_EQ(DetailFilter::progressStep(9, 400), 36u);
    EXPECT_EQ(DetailFilter::progressStep(3, 16), 1u) << "0 is taken as 1";
    EXPECT_EQ(DetailFilter::progressStep(9, 6), 1u);
    EXPECT_EQ(DetailFilter::progressStep(0, 400), 1u);
    EXPECT_EQ(DetailFilter::progressStep(9, INT32_MAX), uint32_t((9ull * INT32_MAX + 50) / 100)) << "no wrap";
}

TEST(DetailFilter, ShortImagesTickAtEveryIndex)
{
    Picture picture(6, 5);
    ParameterDocument doc;
    apply(doc, { { "ShSharpAmount", "100" }, { "SmoothAmount", "50" }, { "DiffuseAmount", "30" } });
    RecordingOwner owner;
    DetailFilter filter;
    filter.owner = &owner;
    EXPECT_EQ(filter.process(picture.buffer, &doc), 0);
    EXPECT_EQ(stepAmounts(owner).size(), size_t(3 * (5 + 6 + 6)));
}

TEST(DetailFilter, ACancelOnTheFirstTickStopsEverything)
{
    Picture picture(40, 30);
    const std::vector<uint8_t> original = picture.pixels;
    ParameterDocument doc;
    apply(doc, { { "ShSharpAmount", "300" }, { "SmoothAmount", "200" }, { "DiffuseAmount", "80" } });
    RecordingOwner owner;
    owner.stopAtStep = 1;
    DetailFilter filter;
    filter.owner = &owner;
    EXPECT_NE(filter.process(picture.buffer, &doc), 0);
    EXPECT_EQ(stepAmounts(owner), std::vector<int32_t> { 1 });
    EXPECT_EQ(picture.pixels, original) << "no stage combined anything";
    EXPECT_FALSE(filter.outOfMemory);

    // A cancel answered by the poll: the sharpening stage is entered and does nothing.
    RecordingOwner stopped;
    DetailFilter again;
    again.owner = &stopped;
    class PollStops : public RecordingOwner {
    public:
        int onProgress(ImageFilter* f, int stage, int32_t done, int32_t total) override
        {
            RecordingOwner::onProgress(f, stage, done, total);
            return stage == kProgressPoll ? 1 : 0;
        }
    } pollStops;
    again.owner = &pollStops;
    EXPECT_NE(again.process(picture.buffer, &doc), 0);
    EXPECT_EQ(pollStops.count(kProgressStep), 0);
    EXPECT_EQ(picture.pixels, original);
}

TEST(DetailFilter, CancelMidwayLeavesFinishedRows)
{
    // Stop during the sharpening combine pass: the rows before the stop are sharpened, the rest
    // are not, and no later stage starts.
    constexpr int32_t kRows = 60, kCols = 20;
    Picture reference(kRows, kCols);
    ParameterDocument sharpOnly;
    apply(sharpOnly, { { "ShSharpAmount", "300" }, { "ShSharpEdge", "40" } });
    DetailFilter full;
    full.process(reference.buffer, &sharpOnly);

    Picture picture(kRows, kCols);
    const std::vector<uint8_t> original = picture.pixels;
    ParameterDocument doc;
    apply(doc, { { "ShSharpAmount", "300" }, { "ShSharpEdge", "40" }, { "SmoothAmount", "300" } });
    RecordingOwner owner;
    // Two stages on 60 rows: step 4; the blur ticks 5 + 15 times, the combine pass after rows
    // 0, 4, 8: the third combine tick stops after row 8.
    owner.stopAtStep = 5 + 15 + 3;
    DetailFilter filter;
    filter.owner = &owner;
    EXPECT_NE(filter.process(picture.buffer, &doc), 0);
    const size_t rowBytes = size_t(kCols) * 4u;
    for (int32_t y = 0; y < kRows; ++y) {
        const auto begin = size_t(y) * rowBytes;
        const std::vector<uint8_t> got(
            picture.pixels.begin() + long(begin), picture.pixels.begin() + long(begin + rowBytes));
        const std::vector<uint8_t>& want = y <= 8 ? reference.pixels : original;
        EXPECT_EQ(
            got, std::vector<uint8_t>(want.begin() + long(begin), want.begin() + long(begin + rowBytes)))
            << y;
    }
}

TEST(DetailFilter, LumaWeightsFollowTheByteOrder)
{
    DetailFilter filter;
    EXPECT_EQ(filter.lumaWeight[0], 306);
    EXPECT_EQ(filter.lumaWeight[1], 601);
    EXPECT_EQ(filter.lumaWeight[2], 117);

    // Through the tone filter: a blue-green-red image smooths exactly as the same picture stored
    // red-green-blue, so red always weighs 306 whichever byte holds it.
    Picture bgr(30, 30, 11, kOrderBGR);
    Picture rgb(30, 30, 11, kOrderRGB);
    for (size_t n = 0; n < rgb.pixels.size(); n += 4)
        std::swap(rgb.pixels[n], rgb.pixels[n + 2]);
    for (Picture* p : { &bgr, &rgb }) {
        ParameterDocument doc;
        apply(doc,
            { { "DynamicEnable", "0" }, { "ColorEnable", "0" }, { "SmoothAmount", "300" },
                { "SmoothRadius", "4" } });
        ToneFilter tone;
        EXPECT_EQ(tone.process(p->buffer, &doc), 0);
    }
    for (size_t n = 0; n < rgb.pixels.size(); n += 4)
        std::swap(rgb.pixels[n], rgb.pixels[n + 2]);
    EXPECT_EQ(bgr.pixels, rgb.pixels);
    Picture untouched(30, 30, 11);
    EXPECT_NE(bgr.pixels, untouched.pixels);
}

TEST(DetailFilter, ToneFilterHandsOverItsCount)
{
    Picture picture(100, 100);
    ParameterDocument doc;
    apply(doc, { { "ShadowAmount", "30" }, { "ShSharpAmount", "100" } });
    RecordingOwner owner;
    ToneFilter tone;
    tone.owner = &owner;
    EXPECT_EQ(tone.process(picture.buffer, &doc), 0);
    const std::vector<int32_t> steps = stepAmounts(owner);
    // The tone pass counts 5 to 100, the detail stage goes on one by one from there.
    ASSERT_GT(steps.size(), 21u);
    EXPECT_EQ(steps[19], 100);
    EXPECT_EQ(steps[20], 101);
    EXPECT_EQ(steps.back(), 100 + int32_t(steps.size()) - 20);
    EXPECT_GE(steps.back(), 190);
    EXPECT_LE(steps.back(), 210);
    EXPECT_EQ(owner.reports.back(), (Report { kProgressEnd, 0 }));
    EXPECT_EQ(owner.count(kProgressBegin), 2);

    // Without the tone pass the detail stage starts from 0.
    RecordingOwner detailOnly;
    ToneFilter second;
    second.owner = &detailOnly;
    ParameterDocument off;
    apply(off, { { "DynamicEnable", "0" }, { "ColorEnable", "0" }, { "ShSharpAmount", "100" } });
    EXPECT_EQ(second.process(picture.buffer, &off), 0);
    EXPECT_EQ(stepAmounts(detailOnly).front(), 1);
    EXPECT_EQ(detailOnly.count(kProgressBegin), 1) << "only the detail filter's begin";

    // A stopped tone pass never reaches the detail stage, and the end is still sent.
    RecordingOwner stopsEarly;
    stopsEarly.stopAtStep = 3;
    ToneFilter third;
    third.owner = &stopsEarly;
    EXPECT_NE(third.process(picture.buffer, &doc), 0);
    EXPECT_EQ(stepAmounts(stopsEarly), (std::vector<int32_t> { 5, 10, 15 }));
    EXPECT_EQ(stopsEarly.count(kProgressBegin), 1);
    EXPECT_EQ(stopsEarly.reports.back(), (Report { kProgressEnd, 0 }));
}

TEST(DetailFilter, ALaterImageOfAnotherSizeGetsItsOwnWorkBuffer)
{
    ParameterDocument doc;
    apply(doc, { { "ShSharpAmount", "150" }, { "SmoothAmount", "100" } });
    DetailFilter reused;
    for (auto [rows, cols] : { std::pair { 8, 9 }, { 40, 33 }, { 7, 120 }, { 40, 33 } }) {
        Picture a(rows, cols, uint32_t(rows * cols));
        Picture b(rows, cols, uint32_t(rows * cols));
        DetailFilter fresh;
        EXPECT_EQ(reused.process(a.buffer, &doc), 0);
        EXPECT_EQ(fresh.process(b.buffer, &doc), 0);
        EXPECT_EQ(a.pixels, b.pixels) << rows << "x" << cols;
    }
}

TEST(DetailFilter, AnImpossibleWorkBufferStopsTheRunUntouched)
{
    std::vector<uint8_t> small(64, 77);
    ImageBuffer huge;
    huge.data = small.data();
    huge.rows = 1 << 30;
    huge.cols = 1 << 30;
    huge.channels = 4;
    huge.bits = 8;
    huge.order = kOrderBGR;
    ParameterDocument doc;
    apply(doc, { { "DynamicEnable", "0" }, { "ColorEnable", "0" }, { "ShSharpAmount", "100" } });
    RecordingOwner owner;
    ToneFilter tone;
    tone.owner = &owner;
    EXPECT_NE(tone.process(huge, &doc), 0);
    EXPECT_TRUE(tone.outOfMemory);
    EXPECT_EQ(small, std::vector<uint8_t>(64, 77));
    EXPECT_EQ(owner.count(kProgressStep), 0);
    EXPECT_EQ(owner.reports.back(), (Report { kProgressEnd, 0 }));

    // The same filter on a real image afterwards runs normally and clears the flag.
    Picture picture(10, 10);
    EXPECT_EQ(tone.process(picture.buffer, &doc), 0);
    EXPECT_FALSE(tone.outOfMemory);
}

TEST(DetailFilter, GrainDarkensTheDrawnThirdOnly)
{
    FixedGrainSeed seed("12345");
    constexpr int32_t kRows = 90, kCols = 110;
    Picture picture(kRows, kCols);
    for (size_t n = 0; n < picture.pixels.size(); ++n)
        picture.pixels[n] = n % 4 == 3 ? 9 : (n % 4 == 0 ? 3 : 100);
    ParameterDocument doc;
    apply(doc, { { "GrainAmount", "5" } });
    DetailFilter filter;
    EXPECT_EQ(filter.process(picture.buffer, &doc), 0);

    seedGrainRandom(12345);
    int darkened = 0;
    for (size_t p = 0; p < size_t(kRows) * kCols; ++p) {
        const bool hit = drawGrainRandom() % 3 == 0;
        const uint8_t* px = &picture.pixels[p * 4];
        ASSERT_EQ(px[0], hit ? 0 : 3) << "clamped at 0";
        ASSERT_EQ(px[1], hit ? 95 : 100);
        ASSERT_EQ(px[2], hit ? 95 : 100);
        ASSERT_EQ(px[3], 9) << "the fourth byte is never touched";
        darkened += hit ? 1 : 0;
    }
    EXPECT_NEAR(double(darkened) / (kRows * kCols), 1.0 / 3.0, 0.02);

    // The low 8 bits of the amount: 256 is no grain, 261 is 5.
    Picture plain(20, 20);
    const std::vector<uint8_t> original = plain.pixels;
    ParameterDocument wrapped;
    apply(wrapped, { { "GrainAmount", "256" } });
    EXPECT_EQ(filter.process(plain.buffer, &wrapped), 0);
    EXPECT_EQ(plain.pixels, original);
}

TEST(DetailFilter, AFlatImageDoesNotGlowOrSmooth)
{
    Picture flat(25, 31);
    for (size_t n = 0; n < flat.pixels.size(); ++n)
        flat.pixels[n] = n % 4 == 3 ? 0 : uint8_t(60 + n % 4 * 50);
    const std::vector<uint8_t> original = flat.pixels;
    ParameterDocument doc;
    apply(doc,
        { { "ShSharpAmount", "600" }, { "SmoothAmount", "300" }, { "DiffuseAmount", "100" },
            { "DiffuseRadius", "15" } });
    DetailFilter filter;
    EXPECT_EQ(filter.process(flat.buffer, &doc), 0);
    EXPECT_EQ(flat.pixels, original);

    // A tone of 255 turns the whole glow white: every byte moves 115/128 of the way to 255.
    ParameterDocument white;
    apply(white, { { "DiffuseAmount", "100" }, { "DiffuseTone", "255" } });
    EXPECT_EQ(filter.process(flat.buffer, &white), 0);
    for (size_t n = 0; n < flat.pixels.size(); ++n)
        if (n % 4 != 3)
            ASSERT_EQ(flat.pixels[n], (255 * 115 + original[n] * 13 + 64) >> 7) << n;
}

TEST(DetailFilter, ScriptedExtremesGiveADefinedImage)
{
    FixedGrainSeed seed("99");
    const char* const extremes[][2] = { { "ShSharpEdge", "-1000000000" }, { "ShSharpEdge", "2147483647" },
        { "ShSharpEdge", "-2147483648" }, { "HiSharpEdge", "-2147483648" }, { "ShSharpAmount", "2147483647" },
        { "HiSharpAmount", "2147483647" }, { "ShSharpAmount", "-2147483648" },
        { "ShSharpThreshold", "2147483647" }, { "ShSharpThreshold", "-5" },
        { "HiSharpThreshold", "-2147483648" }, { "ShSharpTonal", "2147483647" },
        { "HiSharpTonal", "-2147483648" }, { "ShSharpTonal", "-2147483648" },
        { "HiSharpTonal", "2147483647" }, { "ShSharpRadius", "1e300" }, { "ShSharpRadius", "nan" },
        { "ShSharpRadius", "-inf" }, { "SmoothAmount", "2000000000" }, { "SmoothAmount", "-2147483648" },
        { "SmoothThreshold", "2147483647" }, { "SmoothRadius", "500" }, { "DiffuseAmount", "2147483647" },
        { "DiffuseAmount", "-2147483648" }, { "DiffuseTone", "1000" }, { "DiffuseTone", "-2147483648" },
        { "DiffuseTone", "2147483647" }, { "DiffuseRadius", "inf" }, { "GrainAmount", "-1" },
        { "GrainAmount", "2147483647" } };
    for (const char* method : { "0", "1" }) {
        for (const auto& [name, value] : extremes) {
            SCOPED_TRACE(std::string(name) + "=" + value + " method " + method);
            Picture picture(12, 9);
            ParameterDocument doc;
            apply(doc,
                { { "SharpMethod", method }, { "ShSharpAmount", "200" }, { "HiSharpAmount", "150" },
                    { "SmoothAmount", "100" }, { "DiffuseAmount", "40" }, { "GrainAmount", "3" } });
            doc.setString(name, value);
            Picture again(12, 9);
            DetailFilter first, second;
            EXPECT_EQ(first.process(picture.buffer, &doc), 0);
            EXPECT_EQ(second.process(again.buffer, &doc), 0);
            EXPECT_EQ(picture.pixels, again.pixels) << "the same settings, the same bytes";
        }
    }
}

} // namespace
} // namespace quarvel
