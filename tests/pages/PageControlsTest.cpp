// The settings pages' tables against the pages as laid out (ids, ranges, ticks, labels, orders),
// and the slider arithmetic on the values a document can hand a page.
#include "pages/PageControls.h"

#include "settings/ParameterDocument.h"

#include <gtest/gtest.h>

#include <iterator>
#include <limits>
#include <string>
#include <vector>

namespace quarvel {
namespace {

using S = SettingId;
const PageTable* const kPages[] = { &kDynamicRangeTable, &kColorTable, &kSharpnessTable, &kSmoothTable };

std::string valueText(ParameterDocument& document, SettingId setting)
{
    char text[kNumberTextSize] = {};
    document.getString(settingInfo(setting).name, text, kNumberTextSize - 1, nullptr);
    return text;
}

const PageControl* anyPageControl(int id)
{
    const PageControl* control = nullptr;
    for (const PageTable* page : kPages)
        control = control ? control : findControl(*page, id);
    return control;
}

TEST(PageControlsTables, TrackbarsMatchTheLaidOutPages)
{
    // Every slider of the four pages as the page layouts give it: id, range, ticks, value label.
    const struct {
        int id, minimum, maximum, tickSpacing, valueLabel;
    } trackbars[] = { { 1042, 0, 50, 10, 1041 }, { 1044, 0, 400, 100, 1046 }, { 1051, 0, 150, 10, 1054 },
        { 1048, 0, 2000, 200, 1062 }, { 1033, 0, 50, 10, 1039 }, { 1038, 0, 400, 100, 1040 },
        { 1050, 0, 150, 10, 1043 }, { 1047, 0, 2000, 200, 1061 }, { 1065, -128, 128, 32, 1067 },
        { 1077, 0, 40, 10, 1079 }, { 1068, -30, 30, 10, 1069 }, { 1074, -30, 30, 10, 1075 },
        { 1055, 0, 600, 100, 1052 }, { 1085, 1, 150, 10, 1088 }, { 1086, 0, 40, 10, 1090 },
        { 1087, 0, 100, 10, 1089 }, { 1091, 0, 128, 10, 1092 }, { 1053, 0, 600, 100, 1049 },
        { 1070, 1, 150, 10, 1071 }, { 1076, 0, 40, 10, 1078 }, { 1072, 0, 100, 10, 1073 },
        { 1081, 128, 255, 10, 1084 }, { 1056, 0, 300, 100, 1059 }, { 1093, 0, 300, 10, 1096 },
        { 1094, 0, 100, 10, 1098 }, { 1133, 0, 100, 10, 1136 }, { 1134, 1, 150, 10, 1135 },
        { 1095, -100, 100, 10, 1099 }, { 1097, 0, 10, 1, 1100 } };
    size_t count = 0;
    for (const PageTable* page : kPages)
        for (const PageControl& control : page->controls)
            count += control.kind == ControlKind::Trackbar;
    EXPECT_EQ(count, std::size(trackbars));
    for (const auto& expected : trackbars) {
        SCOPED_TRACE(expected.id);
        const PageControl* control = anyPageControl(expected.id);
        ASSERT_NE(control, nullptr);
        ASSERT_EQ(control->kind, ControlKind::Trackbar);
        const TrackbarRange range = trackbarRange(control->setting);
        EXPECT_EQ(range.minimum, expected.minimum);
        EXPECT_EQ(range.maximum, expected.maximum);
        EXPECT_EQ(control->tickSpacing, expected.tickSpacing);
        EXPECT_EQ(control->valueLabel, expected.valueLabel);
    }
    EXPECT_EQ(packedRange(trackbarRange(S::Gamma)), 0x0080FF80u);
    EXPECT_EQ(packedRange(trackbarRange(S::DiffuseTone)), 0x0064FF9Cu);
    EXPECT_EQ(packedRange(trackbarRange(S::ShadowClip)), 0x07D00000u);
}

std::string names(TableSpan<SettingId> order)
{
    std::string result;
    for (const SettingId id : order)
        result += std::string(settingInfo(id).name) + " ";
    return result;
}

TEST(PageControlsTables, SetUpLoadAndStoreOrders)
{
    const std::string dynamic = " HilightAmount HilightContrast HilightLevel HilightClip ShadowAmount "
                                "ShadowContrast ShadowLevel ShadowClip Gamma Contrast ";
    EXPECT_EQ(names(kDynamicRangeTable.loadOrder), "DynamicEnable Monochromatic AutoExposure" + dynamic);
    EXPECT_EQ(names(kDynamicRangeTable.storeOrder), "DynamicEnable AutoExposure Monochromatic" + dynamic);
    for (const auto& [page, order] :
        { std::pair { &kColorTable, "ColorEnable AutoColor Density Saturation " },
            { &kSharpnessTable,
                "SharpEnable SharpMethod HiSharpAmount HiSharpRadius HiSharpEdge HiSharpThreshold "
                "HiSharpTonal "
                "ShSharpAmount ShSharpRadius ShSharpEdge ShSharpThreshold ShSharpTonal " },
            { &kSmoothTable,
                "SmoothEnable SmoothAmount SmoothRadius SmoothThreshold DiffuseAmount DiffuseRadius "
                "DiffuseTone "
                "GrainAmount " } }) {
        EXPECT_EQ(names(page->loadOrder), order);
        EXPECT_EQ(names(page->storeOrder), order);
    }
    EXPECT_EQ(std::vector<int>(kDynamicRangeTable.setupOrder.begin(), kDynamicRangeTable.setupOrder.end()),
        (std::vector<int> { 1038, 1033, 1047, 1050, 1044, 1042, 1048, 1051, 1065, 1077 }));
    // The sharpening method loads and stores through its first button, "Normal Sharpening".
    EXPECT_EQ(findControlFor(kSharpnessTable, S::SharpMethod)->id, 1063);
}

// Values the pages write, and values that no page writes but a script or a hand-edited preset can
// hold: each lands inside the slider's range.
TEST(PageControlsPositions, FromValuesAndHostileValues)
{
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    constexpr double kInfinity = std::numeric_limits<double>::infinity();
    const struct {
        SettingId setting;
        double value;
        int position;
    } cases[] = { { S::ShadowClip, 0.25, 25 }, { S::HilightClip, 20.0, 2000 }, { S::ShadowClip, 0.125, 13 },
        { S::ShadowClip, 0.004, 0 }, { S::HilightClip, 0.0149, 1 }, { S::Gamma, -200, -128 },
        { S::Gamma, 129, 128 }, { S::DiffuseTone, -30, -30 }, { S::GrainAmount, 50, 10 },
        { S::HiSharpTonal, 0, 128 }, { S::ShSharpRadius, 1.0, 10 }, { S::ShSharpRadius, 1.09, 10 },
        { S::HiSharpRadius, 0.0, 1 }, { S::DiffuseRadius, 15.0, 150 }, { S::DiffuseRadius, 99.0, 150 },
        { S::SmoothRadius, 0.05, 0 }, { S::SmoothRadius, 2.29, 22 },
        // A few units in the last place below a tenth still count as that tenth.
        { S::SmoothRadius, 2.2999999999999994, 23 }, { S::ShadowClip, kNaN, 0 },
        { S::ShSharpRadius, kNaN, 1 }, { S::HiSharpTonal, kNaN, 128 }, { S::ShadowClip, kInfinity, 2000 },
        { S::ShadowClip, -kInfinity, 0 }, { S::SmoothRadius, 1e300, 300 }, { S::SmoothRadius, -1e300, 0 },
        { S::DiffuseTone, 1e300, 100 }, { S::DiffuseTone, -1e300, -100 }, { S::HilightClip, 4e-320, 0 },
        { S::Gamma, 2147483648.0, 128 }, { S::Gamma, -2147483649.0, -128 } };
    for (const auto& c : cases)
        EXPECT_EQ(positionFromValue(c.setting, c.value), c.position)
            << settingInfo(c.setting).name << " " << c.value;
}

TEST(PageControlsLabels, Texts)
{
    const struct {
        SettingId setting;
        int position;
        const char* text;
    } labels[] = { { S::ShadowClip, 25, "0.25" }, { S::ShadowClip, 2000, "20.00" },
        { S::HilightClip, 0, "0.00" }, { S::HilightClip, 1, "0.01" }, { S::ShSharpRadius, 10, "1.0" },
        { S::HiSharpRadius, 1, "0.1" }, { S::DiffuseRadius, 150, "15.0" }, { S::SmoothRadius, 0, "0.0" },
        { S::SmoothRadius, 300, "30.0" }, { S::DiffuseTone, -30, "-30" }, { S::Gamma, -128, "-128" },
        { S::ShSharpAmount, 600, "600" } };
    for (const auto& l : labels)
        EXPECT_EQ(formatValueLabel(l.setting, l.position), l.text)
            << settingInfo(l.setting).name << " " << l.position;
}

TEST(PageControlsDocument, ReadAndWriteExamples)
{
    ParameterDocument document;
    document.setText("ShadowClip=0.25;\nGamma=-200;\nShSharpRadius=1.0;\nGrainAmount=50;\nDiffuseTone=-30;\n"
                     "Density=12.7;\nHilightClip=abc;\nSmoothRadius=1e999;\nHiSharpRadius=-1e999;\n");
    for (const auto& [setting, position] : { std::pair { S::ShadowClip, 25 }, { S::Gamma, -128 },
             { S::ShSharpRadius, 10 }, { S::GrainAmount, 10 }, { S::DiffuseTone, -30 }, { S::Density, 12 },
             { S::HilightClip, 0 }, { S::SmoothRadius, 300 }, { S::HiSharpRadius, 1 } })
        EXPECT_EQ(readPosition(document, setting), position) << settingInfo(setting).name;

    for (const auto& [setting, position, text] :
        { std::tuple { S::ShadowClip, 25, "0.25000000" }, { S::Gamma, -128, "-128" },
            { S::ShSharpRadius, 1, "0.10000000" }, { S::GrainAmount, 10, "10" } }) {
        writePosition(document, setting, position);
        EXPECT_EQ(valueText(document, setting), text);
    }
}

TEST(PageControlsDocument, MissingEntriesReadAsZeroAndAreAdded)
{
    ParameterDocument document;
    EXPECT_EQ(readPosition(document, S::Gamma), 0);
    EXPECT_EQ(readPosition(document, S::ShadowClip), 0);
    EXPECT_EQ(readPosition(document, S::ShSharpRadius), 1); // 0.0, held at the slider's end
    EXPECT_STREQ(document.text(), "Gamma=0;\nShadowClip=0.000000;\nShSharpRadius=0.000000;\n");
}

// Every position of every slider survives a store and a load, and a stored clip or radius reads
// as its label does, to the label's decimals.
TEST(PageControlsDocument, EveryPositionRoundTrips)
{
    for (const PageTable* page : kPages)
        for (const PageControl& control : page->controls) {
            if (control.kind != ControlKind::Trackbar)
                continue;
            const TrackbarRange range = trackbarRange(control.setting);
            for (int position = range.minimum; position <= range.maximum; ++position) {
                ParameterDocument document;
                writePosition(document, control.setting, position);
                ASSERT_EQ(readPosition(document, control.setting), position)
                    << settingInfo(control.setting).name;
                const std::string label = formatValueLabel(control.setting, position);
                const std::string stored = valueText(document, control.setting);
                ASSERT_EQ(stored.substr(0, label.size()), label);
                ASSERT_EQ(stored.find_first_not_of('0', label.size()), std::string::npos) << stored;
            }
        }
}

} // namespace
} // namespace quarvel
