#include "tone/ToneFilter.h"

#include "control/ProcessingController.h"
#include "settings/ParameterDocument.h"
#include "tests/support/RecordingOwner.h"
#include "tests/support/TestImage.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace quarvel {
namespace {

// Only the tone pass: the detail stages off.
void toneOnly(ParameterDocument& doc)
{
    doc.setInt("SharpEnable", 0);
    doc.setInt("SmoothEnable", 0);
}

std::vector<int32_t> stepAmounts(const std::vector<Report>& reports)
{
    std::vector<int32_t> amounts;
    for (const Report& r : reports)
        if (r.stage == kProgressStep)
            amounts.push_back(r.done);
    return amounts;
}

TEST(ToneFilter, StepReportsCountFivesOverAboutTwentySteps)
{
    for (auto [rows, last, count] : { std::tuple { 100, 100, 20 }, { 1000, 100, 20 }, { 6, 30, 6 },
             { 9, 45, 9 }, { 10, 50, 10 }, { 29, 145, 29 }, { 30, 75, 15 } }) {
        TestImage image(rows, 3);
        ParameterDocument doc;
        toneOnly(doc);
        RecordingOwner owner;
        ToneFilter f;
        f.owner = &owner;
        ASSERT_EQ(f.process(image.buffer, &doc), 0);
        const auto amounts = stepAmounts(owner.reports);
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
    ParameterDocument doc;
    toneOnly(doc);
    doc.setInt("Saturation", 30);
    RecordingOwner owner;
    owner.stopAtStep = 2; // the step after row 5
    ToneFilter f;
    f.owner = &owner;
    EXPECT_EQ(f.process(image.buffer, &doc), 1);
    EXPECT_EQ(owner.reports.back().stage, kProgressEnd);
    const size_t rowBytes = 4 * 4;
    // Rows 0..5 are mapped, the rest untouched.
    EXPECT_NE(std::vector<uint8_t>(image.pixels.begin(), image.pixels.begin() + 6 * rowBytes),
        std::vector<uint8_t>(before.begin(), before.begin() + 6 * rowBytes));
    EXPECT_EQ(std::vector<uint8_t>(image.pixels.begin() + 6 * rowBytes, image.pixels.end()),
        std::vector<uint8_t>(before.begin() + 6 * rowBytes, before.end()));
}

TEST(ToneFilter, BothGroupsOffTouchNothingAndSendNoBegin)
{
    TestImage image(12, 5);
    const std::vector<uint8_t> before = image.pixels;
    ParameterDocument doc;
    doc.setInt("DynamicEnable", 0);
    doc.setInt("ColorEnable", 0);
    doc.setInt("Saturation", 30);
    doc.setInt("ShadowAmount", 50);
    toneOnly(doc);
    RecordingOwner owner;
    ToneFilter f;
    f.owner = &owner;
    EXPECT_EQ(f.process(image.buffer, &doc), 0);
    EXPECT_EQ(image.pixels, before);
    EXPECT_EQ(owner.reports, (std::vector<Report> { { kProgressPoll, 0 }, { kProgressEnd, 0 } }));
    EXPECT_NE(f.toneTable[0][64], 64); // the tables are built all the same
}

TEST(ToneFilter, WeightsFollowTheBufferOrder)
{
    ParameterDocument doc;
    toneOnly(doc);
    TestImage bgr(6, 2);
    ToneFilter f;
    f.process(bgr.buffer, &doc);
    EXPECT_EQ(f.lumaWeight[0], 117);
    EXPECT_EQ(f.lumaWeight[1], 601);
    EXPECT_EQ(f.lumaWeight[2], 306);
    TestImage rgb(6, 2);
    rgb.buffer.order = kOrderRGB;
    f.process(rgb.buffer, &doc);
    EXPECT_EQ(f.lumaWeight[0], 306);
    EXPECT_EQ(f.lumaWeight[2], 117);
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
    ParameterDocument doc;
    toneOnly(doc);
    doc.setInt("ShadowAmount", 50);
    doc.setInt("Monochromatic", 0);
    doc.setInt("ColorEnable", 0);
    ToneFilter f;
    f.analyze(image);
    EXPECT_EQ(f.process(image, &doc), 0);
    EXPECT_EQ(pixels, (std::vector<uint8_t> { 100, 160, 204, 0, 0, 30, 255, 0 }));
}

TEST(ToneFilter, ReferenceAndSpecialisedPassesAgreeOnWholeImages)
{
    std::mt19937 random(7);
    const char* wild[] = { "0", "15", "-15", "40", "41", "2000000000", "-5000", "100000", "inf", "nan",
        "1e300", "-1e300", "abc" };
    std::uniform_int_distribution<size_t> pick(0, std::size(wild) - 1);
    const char* names[] = { "ShadowAmount", "ShadowLevel", "ShadowContrast", "ShadowClip", "HilightAmount",
        "HilightLevel", "HilightContrast", "HilightClip", "AutoColor", "AutoExposure", "Gamma", "Density",
        "Saturation", "Contrast", "Monochromatic" };
    for (int trial = 0; trial < 40; ++trial) {
        const int32_t rows = 6 + trial % 9;
        const int32_t cols = 1 + trial * 5 % 23;
        TestImage a(rows, cols, uint32_t(trial));
        TestImage b(rows, cols, uint32_t(trial));
        ParameterDocument doc;
        toneOnly(doc);
        for (const char* name : names)
            doc.setString(name, wild[pick(random)]);
        ToneFilter fast;
        ToneFilter reference;
        reference.useReferenceKernel = true;
        fast.analyze(a.buffer);
        reference.analyze(b.buffer);
        EXPECT_EQ(fast.process(a.buffer, &doc), 0);
        EXPECT_EQ(reference.process(b.buffer, &doc), 0);
        ASSERT_EQ(a.pixels, b.pixels) << "trial " << trial;
        for (size_t n = 3; n < a.pixels.size(); n += 4)
            ASSERT_EQ(a.pixels[n], 0);
    }
}

} // namespace
} // namespace quarvel
