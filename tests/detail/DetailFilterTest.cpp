#include "detail/DetailFilter.h"

#include "detail/DiffuseGrain.h"
#include "settings/ParameterDocument.h"
#include "tests/support/RecordingOwner.h"
#include "tests/support/TestImage.h"
#include "tone/ToneFilter.h"

#include <gtest/gtest.h>

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

// One process call over `image` with a settings text, reporting to `owner`.
template <class Filter>
int run(Filter& filter, ImageBuffer& image, const std::string& settings, ProgressSink* owner = nullptr)
{
    ParameterDocument doc;
    doc.setText(settings.c_str());
    filter.owner = owner;
    return filter.process(image, &doc);
}

int64_t ticks(int64_t count, int64_t step) { return (count + step - 1) / step; }

TEST(DetailFilter, StageDecisionsAndTickCounts)
{
    struct Case {
        const char* what;
        const char* settings;
        int stages; // stages that run (sets the step)
        int blurStages; // of which make a blur
    };
    const Case cases[] = {
        { "nothing to do", "", 0, 0 },
        { "sharpening", "ShSharpAmount=100;", 1, 1 },
        { "sharpening switched off", "SharpEnable=0;ShSharpAmount=100;", 0, 0 },
        { "normal method ignores the highlight set", "HiSharpAmount=50;", 0, 0 },
        { "highlight/shadow method", "SharpMethod=1;HiSharpAmount=50;", 1, 1 },
        { "smoothing without sharpening", "SharpEnable=0;ShSharpAmount=100;SmoothAmount=50;", 1, 1 },
        { "grain alone: no blur", "GrainAmount=5;", 1, 0 },
        { "a negative glow: no blur", "DiffuseAmount=-5;", 1, 0 },
        { "smooth group off", "SmoothEnable=0;SmoothAmount=50;GrainAmount=5;", 0, 0 },
        { "everything", "ShSharpAmount=100;SmoothAmount=50;DiffuseAmount=30;", 3, 3 },
    };
    constexpr int32_t kRows = 400, kCols = 40;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TestImage picture(kRows, kCols);
        RecordingOwner owner;
        DetailFilter filter;
        filter.progressBase = 100;
        EXPECT_EQ(run(filter, picture.buffer, c.settings, &owner), 0);
        ASSERT_GE(owner.reports.size(), 2u);
        EXPECT_EQ(owner.reports[0], (Report { kProgressBegin, 0 }));
        EXPECT_EQ(owner.reports[1], (Report { kProgressPoll, 0 }));
        EXPECT_EQ(owner.count(kProgressEnd), 0) << "the end is the owner's to send";

        const uint32_t step = DetailFilter::progressStep(3 * c.stages, kRows);
        const std::vector<int32_t> steps = owner.stepAmounts();
        ASSERT_EQ(int64_t(steps.size()),
            c.blurStages * (ticks(kCols, step) + ticks(kRows, step)) + c.stages * ticks(kRows, step));
        for (size_t n = 0; n < steps.size(); ++n)
            ASSERT_EQ(steps[n], 101 + int32_t(n)) << "one count per tick, from the base on";
        EXPECT_NE(filter.workBuffer(), nullptr) << "allocated even with nothing to do";
        if (c.stages == 0)
            EXPECT_EQ(picture.pixels, TestImage(kRows, kCols).pixels);
    }
}

TEST(DetailFilter, ProgressSteps)
{
    for (auto [units, rows, step] : { std::tuple { 3, 400, 12u }, { 9, 400, 36u }, { 3, 16, 1u } /* 0 as 1 */,
             { 9, 6, 1u }, { 0, 400, 1u } })
        EXPECT_EQ(DetailFilter::progressStep(units, rows), step) << units << " units, " << rows << " rows";
    EXPECT_EQ(DetailFilter::progressStep(9, INT32_MAX), uint32_t((9ull * INT32_MAX + 50) / 100)) << "no wrap";

    // A short image ticks at every index.
    TestImage picture(6, 5);
    RecordingOwner owner;
    DetailFilter filter;
    EXPECT_EQ(run(filter, picture.buffer, "ShSharpAmount=100;SmoothAmount=50;DiffuseAmount=30;", &owner), 0);
    EXPECT_EQ(owner.stepAmounts().size(), size_t(3 * (5 + 6 + 6)));
}

TEST(DetailFilter, ACancelOnTheFirstTickOrPollStopsEverything)
{
    TestImage picture(40, 30);
    const std::vector<uint8_t> original = picture.pixels;
    const char* settings = "ShSharpAmount=300;SmoothAmount=200;DiffuseAmount=80;";
    RecordingOwner owner;
    owner.stopAtStep = 1;
    DetailFilter filter;
    EXPECT_NE(run(filter, picture.buffer, settings, &owner), 0);
    EXPECT_EQ(owner.stepAmounts(), std::vector<int32_t> { 1 });
    EXPECT_EQ(picture.pixels, original) << "no stage combined anything";
    EXPECT_FALSE(filter.outOfMemory);

    // A cancel answered by the poll: the sharpening stage is entered and does nothing.
    RecordingOwner pollStops;
    pollStops.stopAtPoll = true;
    DetailFilter again;
    EXPECT_NE(run(again, picture.buffer, settings, &pollStops), 0);
    EXPECT_EQ(pollStops.count(kProgressStep), 0);
    EXPECT_EQ(picture.pixels, original);
}

TEST(DetailFilter, CancelMidwayLeavesFinishedRows)
{
    // Stop during the sharpening combine pass: the rows before the stop are sharpened, the rest
    // are not, and no later stage starts.
    constexpr int32_t kRows = 60, kCols = 20;
    TestImage reference(kRows, kCols);
    DetailFilter full;
    run(full, reference.buffer, "ShSharpAmount=300;ShSharpEdge=40;");

    TestImage picture(kRows, kCols);
    const std::vector<uint8_t> original = picture.pixels;
    RecordingOwner owner;
    // Two stages on 60 rows: step 4; the blur ticks 5 + 15 times, the combine pass after rows
    // 0, 4, 8: the third combine tick stops after row 8.
    owner.stopAtStep = 5 + 15 + 3;
    DetailFilter filter;
    EXPECT_NE(run(filter, picture.buffer, "ShSharpAmount=300;ShSharpEdge=40;SmoothAmount=300;", &owner), 0);
    const long rowBytes = kCols * 4;
    for (long y = 0; y < kRows; ++y) {
        const auto row = [&](const std::vector<uint8_t>& v) {
            return std::vector<uint8_t>(v.begin() + y * rowBytes, v.begin() + (y + 1) * rowBytes);
        };
        EXPECT_EQ(row(picture.pixels), row(y <= 8 ? reference.pixels : original)) << y;
    }
}

TEST(DetailFilter, LumaWeightsFollowTheByteOrder)
{
    // Through the tone filter: a blue-green-red image smooths exactly as the same picture stored
    // red-green-blue, so red always weighs 306 whichever byte holds it.
    TestImage bgr(30, 30, 11, kOrderBGR);
    TestImage rgb(30, 30, 11, kOrderRGB);
    const auto swapRedBlue = [&] {
        for (size_t n = 0; n < rgb.pixels.size(); n += 4)
            std::swap(rgb.pixels[n], rgb.pixels[n + 2]);
    };
    swapRedBlue();
    for (TestImage* p : { &bgr, &rgb }) {
        ToneFilter tone;
        EXPECT_EQ(run(tone, p->buffer, "DynamicEnable=0;ColorEnable=0;SmoothAmount=300;SmoothRadius=4;"), 0);
    }
    swapRedBlue();
    EXPECT_EQ(bgr.pixels, rgb.pixels);
    EXPECT_NE(bgr.pixels, TestImage(30, 30, 11).pixels);
}

TEST(DetailFilter, ToneFilterHandsOverItsCount)
{
    TestImage picture(100, 100);
    const char* both = "ShadowAmount=30;ShSharpAmount=100;";
    RecordingOwner owner;
    ToneFilter tone, second, third;
    EXPECT_EQ(run(tone, picture.buffer, both, &owner), 0);
    const std::vector<int32_t> steps = owner.stepAmounts();
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
    EXPECT_EQ(
        run(second, picture.buffer, "DynamicEnable=0;ColorEnable=0;ShSharpAmount=100;", &detailOnly), 0);
    EXPECT_EQ(detailOnly.stepAmounts().front(), 1);
    EXPECT_EQ(detailOnly.count(kProgressBegin), 1) << "only the detail filter's begin";

    // A stopped tone pass never reaches the detail stage, and the end is still sent.
    RecordingOwner stopsEarly;
    stopsEarly.stopAtStep = 3;
    EXPECT_NE(run(third, picture.buffer, both, &stopsEarly), 0);
    EXPECT_EQ(stopsEarly.stepAmounts(), (std::vector<int32_t> { 5, 10, 15 }));
    EXPECT_EQ(stopsEarly.count(kProgressBegin), 1);
    EXPECT_EQ(stopsEarly.reports.back(), (Report { kProgressEnd, 0 }));
}

TEST(DetailFilter, ALaterImageOfAnotherSizeGetsItsOwnWorkBuffer)
{
    const char* settings = "ShSharpAmount=150;SmoothAmount=100;";
    DetailFilter reused;
    for (auto [rows, cols] : { std::pair { 8, 9 }, { 40, 33 }, { 7, 120 }, { 40, 33 } }) {
        TestImage a(rows, cols, uint32_t(rows * cols)), b(rows, cols, uint32_t(rows * cols));
        DetailFilter fresh;
        EXPECT_EQ(run(reused, a.buffer, settings), 0);
        EXPECT_EQ(run(fresh, b.buffer, settings), 0);
        EXPECT_EQ(a.pixels, b.pixels) << rows << "x" << cols;
    }
}

TEST(DetailFilter, AnImpossibleWorkBufferStopsTheRunUntouched)
{
    std::vector<uint8_t> small(64, 77);
    ImageBuffer huge { small.data(), 1 << 30, 1 << 30, 4, 8, kOrderBGR };
    const char* settings = "DynamicEnable=0;ColorEnable=0;ShSharpAmount=100;";
    RecordingOwner owner;
    ToneFilter tone;
    EXPECT_NE(run(tone, huge, settings, &owner), 0);
    EXPECT_TRUE(tone.outOfMemory);
    EXPECT_EQ(small, std::vector<uint8_t>(64, 77));
    EXPECT_EQ(owner.count(kProgressStep), 0);
    EXPECT_EQ(owner.reports.back(), (Report { kProgressEnd, 0 }));

    // The same filter on a real image afterwards runs normally and clears the flag.
    TestImage picture(10, 10);
    EXPECT_EQ(run(tone, picture.buffer, settings), 0);
    EXPECT_FALSE(tone.outOfMemory);
}

TEST(DetailFilter, GrainDarkensTheDrawnThirdOnly)
{
    ScopedVariable seed("QUARVEL_GRAIN_SEED", "12345");
    constexpr int32_t kRows = 90, kCols = 110;
    TestImage picture(kRows, kCols);
    for (size_t n = 0; n < picture.pixels.size(); ++n)
        picture.pixels[n] = n % 4 == 3 ? 9 : (n % 4 == 0 ? 3 : 100);
    DetailFilter filter;
    EXPECT_EQ(run(filter, picture.buffer, "GrainAmount=5;"), 0);

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

    // The low 8 bits of the amount: 256 is no grain.
    TestImage plain(20, 20);
    EXPECT_EQ(run(filter, plain.buffer, "GrainAmount=256;"), 0);
    EXPECT_EQ(plain.pixels, TestImage(20, 20).pixels);
}

TEST(DetailFilter, AFlatImageDoesNotGlowOrSmooth)
{
    TestImage flat(25, 31);
    for (size_t n = 0; n < flat.pixels.size(); ++n)
        flat.pixels[n] = n % 4 == 3 ? 0 : uint8_t(60 + n % 4 * 50);
    const std::vector<uint8_t> original = flat.pixels;
    DetailFilter filter;
    EXPECT_EQ(
        run(filter, flat.buffer, "ShSharpAmount=600;SmoothAmount=300;DiffuseAmount=100;DiffuseRadius=15;"),
        0);
    EXPECT_EQ(flat.pixels, original);

    // A tone of 255 turns the whole glow white: every byte moves 115/128 of the way to 255.
    EXPECT_EQ(run(filter, flat.buffer, "DiffuseAmount=100;DiffuseTone=255;"), 0);
    for (size_t n = 0; n < flat.pixels.size(); ++n)
        if (n % 4 != 3)
            ASSERT_EQ(flat.pixels[n], (255 * 115 + original[n] * 13 + 64) >> 7) << n;
}

} // namespace
} // namespace quarvel
