#include "tone/ToneFilter.h"

#include "control/ProcessingController.h"
#include "settings/ParameterDocument.h"
#include "tests/support/RecordingOwner.h"
#include "tests/support/TestImage.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quarvel {
namespace {

// The tone pass alone (the detail stages off) with a settings text, reporting to `owner`.
int runTone(ToneFilter& f, ImageBuffer& image, const std::string& settings, RecordingOwner* owner = nullptr)
{
    ParameterDocument doc;
    doc.setText((settings + "SharpEnable=0;SmoothEnable=0;").c_str());
    f.owner = owner;
    return f.process(image, &doc);
}

TEST(ToneFilter, StepReportsCountFivesOverAboutTwentySteps)
{
    for (auto [rows, last, count] : { std::tuple { 100, 100, 20 }, { 1000, 100, 20 }, { 6, 30, 6 },
             { 9, 45, 9 }, { 10, 50, 10 }, { 29, 145, 29 }, { 30, 75, 15 } }) {
        TestImage image(rows, 3);
        RecordingOwner owner;
        ToneFilter f;
        ASSERT_EQ(runTone(f, image.buffer, "", &owner), 0);
        const auto amounts = owner.stepAmounts();
        ASSERT_EQ(int(amounts.size()), count) << rows << " rows";
        EXPECT_EQ(amounts.front(), 5);
        EXPECT_EQ(amounts.back(), last);
        EXPECT_EQ(owner.reports.front(), (Report { kProgressPoll, 0 }));
        EXPECT_EQ(owner.reports[1], (Report { kProgressBegin, 0 }));
        EXPECT_EQ(owner.reports.back(), (Report { kProgressEnd, 0 }));
    }
    EXPECT_EQ(ToneFilter::progressStep(100), 5u);
    EXPECT_EQ(ToneFilter::progressStep(1000), 50u);
    EXPECT_EQ(ToneFilter::progressStep(9), 1u);
}

TEST(ToneFilter, CancelStopsBeforeTheNextRowAndStillSendsEnd)
{
    TestImage image(100, 4);
    const std::vector<uint8_t> before = image.pixels;
    RecordingOwner owner;
    owner.stopAtStep = 2; // the step after row 5
    ToneFilter f;
    EXPECT_EQ(runTone(f, image.buffer, "Saturation=30;", &owner), 1);
    EXPECT_EQ(owner.reports.back().stage, kProgressEnd);
    // Rows 0..5 are mapped, the rest untouched.
    const auto rowsFrom6
        = [](const std::vector<uint8_t>& v) { return std::vector<uint8_t>(v.begin() + 6 * 16, v.end()); };
    EXPECT_NE(image.pixels, before);
    EXPECT_EQ(rowsFrom6(image.pixels), rowsFrom6(before));
}

TEST(ToneFilter, BothGroupsOffTouchNothingAndSendNoBegin)
{
    TestImage image(12, 5);
    const std::vector<uint8_t> before = image.pixels;
    RecordingOwner owner;
    ToneFilter f;
    EXPECT_EQ(
        runTone(f, image.buffer, "DynamicEnable=0;ColorEnable=0;Saturation=30;ShadowAmount=50;", &owner), 0);
    EXPECT_EQ(image.pixels, before);
    EXPECT_EQ(owner.reports, (std::vector<Report> { { kProgressPoll, 0 }, { kProgressEnd, 0 } }));
    EXPECT_NE(f.toneTable[0][64], 64); // the tables are built all the same
}

TEST(ToneFilter, WeightsFollowTheBufferOrder)
{
    TestImage bgr(6, 2), rgb(6, 2, 1, kOrderRGB);
    ToneFilter f;
    runTone(f, bgr.buffer, "");
    EXPECT_EQ(std::vector<int32_t>(f.lumaWeight, f.lumaWeight + 3), (std::vector<int32_t> { 117, 601, 306 }));
    runTone(f, rgb.buffer, "");
    EXPECT_EQ(std::vector<int32_t>(f.lumaWeight, f.lumaWeight + 3), (std::vector<int32_t> { 306, 601, 117 }));
}

TEST(ToneFilter, AnalyzeCountsEveryPixelAndAccumulates)
{
    TestImage image(7, 3);
    image.pixels.assign(image.pixels.size(), 0);
    for (size_t n = 0; n < 21; ++n) {
        image.pixels[n * 4] = 10;
        image.pixels[n * 4 + 1] = 20;
        image.pixels[n * 4 + 2] = uint8_t(n);
    }
    RecordingOwner owner;
    ToneFilter f;
    f.owner = &owner;
    EXPECT_EQ(f.analyze(image.buffer), 0);
    EXPECT_EQ(owner.reports.size(), 8u); // a poll at the start and after each of 7 rows
    EXPECT_EQ(f.imageHistogram.bin(0, 10), 21u);
    EXPECT_EQ(f.imageHistogram.bin(1, 20), 21u);
    EXPECT_EQ(f.imageHistogram.bin(2, 20), 1u);
    EXPECT_EQ(f.imageHistogram.bin(0, 0), 0u); // byte 3 is not counted
    f.analyze(image.buffer);
    EXPECT_EQ(f.imageHistogram.bin(0, 10), 42u);
}

TEST(ToneFilter, ReadsSettingsAndFallbacksFromTheDocument)
{
    ParameterDocument doc;
    doc.setText("ShadowAmount=40;HilightClip=0.5;Gamma=-12");
    ToneFilter f;
    f.readParameters(doc);
    EXPECT_EQ(f.shadowAmount, 40);
    EXPECT_DOUBLE_EQ(f.hilightClip, 0.5);
    EXPECT_EQ(f.gamma, -12);
    EXPECT_EQ(f.shadowContrast, 150);
    EXPECT_EQ(f.hilightContrast, 150);
    EXPECT_EQ(f.monochromatic, 1);
    EXPECT_EQ(f.dynamicEnable, 1);
}

TEST(ToneFilter, HandDerivedTwoPixelImage)
{
    // Shadow amount 50 alone: level 64 becomes 100, 128 becomes 160, and with Preserve Original
    // Colour off each channel goes through the table by itself.
    std::vector<uint8_t> pixels = { 64, 128, 192, 0, 0, 16, 255, 0 };
    ImageBuffer image { pixels.data(), 1, 2, 4, 8, kOrderBGR };
    ToneFilter f;
    f.analyze(image);
    EXPECT_EQ(runTone(f, image, "ShadowAmount=50;Monochromatic=0;ColorEnable=0;"), 0);
    EXPECT_EQ(pixels, (std::vector<uint8_t> { 100, 160, 204, 0, 0, 30, 255, 0 }));
}

} // namespace
} // namespace quarvel
