// The settings pages' tables against the pages as laid out (ids, ranges, ticks, labels, orders),
// and the slider arithmetic on the values a document can hand a page.
#include "pages/PageControls.h"

#include "settings/ParameterDocument.h"

#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <iterator>
#include <limits>
#include <map>
#include <string>
#include <vector>

namespace quarvel {
namespace {

const PageTable* const kPages[] = { &kDynamicRangeTable, &kColorTable, &kSharpnessTable, &kSmoothTable };

std::string valueText(ParameterDocument& document, SettingId setting)
{
    char text[kNumberTextSize] = {};
    document.getString(settingInfo(setting).name, text, kNumberTextSize - 1, nullptr);
    return text;
}

struct TrackbarCase {
    int id;
    int minimum, maximum, tickSpacing, valueLabel;
};

// Every slider of the four pages, written out independently of the tables: id, range, ticks, label.
const TrackbarCase kTrackbars[] = {
    { 1042, 0, 50, 10, 1041 },
    { 1044, 0, 400, 100, 1046 },
    { 1051, 0, 150, 10, 1054 },
    { 1048, 0, 2000, 200, 1062 },
    { 1033, 0, 50, 10, 1039 },
    { 1038, 0, 400, 100, 1040 },
    { 1050, 0, 150, 10, 1043 },
    { 1047, 0, 2000, 200, 1061 },
    { 1065, -128, 128, 32, 1067 },
    { 1077, 0, 40, 10, 1079 },
    { 1068, -30, 30, 10, 1069 },
    { 1074, -30, 30, 10, 1075 },
    { 1055, 0, 600, 100, 1052 },
    { 1085, 1, 150, 10, 1088 },
    { 1086, 0, 40, 10, 1090 },
    { 1087, 0, 100, 10, 1089 },
    { 1091, 0, 128, 10, 1092 },
    { 1053, 0, 600, 100, 1049 },
    { 1070, 1, 150, 10, 1071 },
    { 1076, 0, 40, 10, 1078 },
    { 1072, 0, 100, 10, 1073 },
    { 1081, 128, 255, 10, 1084 },
    { 1056, 0, 300, 100, 1059 },
    { 1093, 0, 300, 10, 1096 },
    { 1094, 0, 100, 10, 1098 },
    { 1133, 0, 100, 10, 1136 },
    { 1134, 1, 150, 10, 1135 },
    { 1095, -100, 100, 10, 1099 },
    { 1097, 0, 10, 1, 1100 },
};

TEST(PageControlsTables, TrackbarsMatchTheLaidOutPages)
{
    size_t trackbars = 0;
    for (const PageTable* page : kPages)
        for (const PageControl& control : page->controls)
            trackbars += control.kind == ControlKind::Trackbar;
    EXPECT_EQ(trackbars, std::size(kTrackbars));

    for (const TrackbarCase& expected : kTrackbars) {
        SCOPED_TRACE(expected.id);
        const PageControl* control = nullptr;
        for (const PageTable* page : kPages)
            if (!control)
                control = findControl(*page, expected.id);
        ASSERT_NE(control, nullptr);
        ASSERT_EQ(control->kind, ControlKind::Trackbar);
        const TrackbarRange range = trackbarRange(control->setting);
        EXPECT_EQ(range.minimum, expected.minimum);
        EXPECT_EQ(range.maximum, expected.maximum);
        EXPECT_EQ(control->tickSpacing, expected.tickSpacing);
        EXPECT_EQ(control->valueLabel, expected.valueLabel);
    }
}

TEST(PageControlsTables, RangesPackAsSigned16BitWords)
{
    EXPECT_EQ(packedRange(trackbarRange(SettingId::Gamma)), 0x0080FF80u);
    EXPECT_EQ(packedRange(trackbarRange(SettingId::DiffuseTone)), 0x0064FF9Cu);
    EXPECT_EQ(packedRange(trackbarRange(SettingId::ShadowClip)), 0x07D00000u);
}

std::vector<std::string> names(TableSpan<SettingId> order)
{
    std::vector<std::string> result;
    for (const SettingId id : order)
        result.push_back(settingInfo(id).name);
    return result;
}

TEST(PageControlsTables, LoadAndStoreOrders)
{
    EXPECT_EQ(names(kDynamicRangeTable.loadOrder),
        (std::vector<std::string> { "DynamicEnable", "Monochromatic", "AutoExposure", "HilightAmount",
            "HilightContrast", "HilightLevel", "HilightClip", "ShadowAmount", "ShadowContrast", "ShadowLevel",
            "ShadowClip", "Gamma", "Contrast" }));
    EXPECT_EQ(names(kDynamicRangeTable.storeOrder),
        (std::vector<std::string> { "DynamicEnable", "AutoExposure", "Monochromatic", "HilightAmount",
            "HilightContrast", "HilightLevel", "HilightClip", "ShadowAmount", "ShadowContrast", "ShadowLevel",
            "ShadowClip", "Gamma", "Contrast" }));
    const std::vector<std::string> color = { "ColorEnable", "AutoColor", "Density", "Saturation" };
    EXPECT_EQ(names(kColorTable.loadOrder), color);
    EXPECT_EQ(names(kColorTable.storeOrder), color);
    const std::vector<std::string> sharpness = { "SharpEnable", "SharpMethod", "HiSharpAmount",
        "HiSharpRadius", "HiSharpEdge", "HiSharpThreshold", "HiSharpTonal", "ShSharpAmount", "ShSharpRadius",
        "ShSharpEdge", "ShSharpThreshold", "ShSharpTonal" };
    EXPECT_EQ(names(kSharpnessTable.loadOrder), sharpness);
    EXPECT_EQ(names(kSharpnessTable.storeOrder), sharpness);
    const std::vector<std::string> smooth = { "SmoothEnable", "SmoothAmount", "SmoothRadius",
        "SmoothThreshold", "DiffuseAmount", "DiffuseRadius", "DiffuseTone", "GrainAmount" };
    EXPECT_EQ(names(kSmoothTable.loadOrder), smooth);
    EXPECT_EQ(names(kSmoothTable.storeOrder), smooth);

    EXPECT_EQ(std::vector<int>(kDynamicRangeTable.setupOrder.begin(), kDynamicRangeTable.setupOrder.end()),
        (std::vector<int> { 1038, 1033, 1047, 1050, 1044, 1042, 1048, 1051, 1065, 1077 }));
    EXPECT_EQ(kDynamicRangeTable.templateId, 130);
    EXPECT_EQ(kColorTable.templateId, 140);
    EXPECT_EQ(kSharpnessTable.templateId, 129);
    EXPECT_EQ(kSmoothTable.templateId, 138);
}

TEST(PageControlsTables, ButtonsAndTheirSettings)
{
    struct Button {
        const PageTable* page;
        int id;
        ControlKind kind;
        const char* setting;
    };
    for (const Button& b : { Button { &kDynamicRangeTable, 1117, ControlKind::CheckBox, "DynamicEnable" },
             Button { &kDynamicRangeTable, 1137, ControlKind::CheckBox, "AutoExposure" },
             Button { &kDynamicRangeTable, 1030, ControlKind::CheckBox, "Monochromatic" },
             Button { &kColorTable, 1138, ControlKind::CheckBox, "ColorEnable" },
             Button { &kColorTable, 1029, ControlKind::CheckBox, "AutoColor" },
             Button { &kSharpnessTable, 1082, ControlKind::CheckBox, "SharpEnable" },
             Button { &kSharpnessTable, 1063, ControlKind::RadioButton, "SharpMethod" },
             Button { &kSharpnessTable, 1058, ControlKind::RadioButton, "SharpMethod" },
             Button { &kSmoothTable, 1132, ControlKind::CheckBox, "SmoothEnable" } }) {
        SCOPED_TRACE(b.id);
        const PageControl* control = findControl(*b.page, b.id);
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(control->kind, b.kind);
        EXPECT_STREQ(settingInfo(control->setting).name, b.setting);
    }
    // The method loads and stores through its first button, "Normal Sharpening".
    EXPECT_EQ(findControlFor(kSharpnessTable, SettingId::SharpMethod)->id, 1063);
}

struct PositionCase {
    SettingId setting;
    double value;
    int position;
};

void expectPositions(std::initializer_list<PositionCase> cases)
{
    for (const PositionCase& c : cases)
        EXPECT_EQ(positionFromValue(c.setting, c.value), c.position)
            << settingInfo(c.setting).name << " " << c.value;
}

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

TEST(PageControlsPositions, FromValues)
{
    expectPositions({ PositionCase { SettingId::ShadowClip, 0.25, 25 },
        PositionCase { SettingId::HilightClip, 20.0, 2000 },
        PositionCase { SettingId::ShadowClip, 0.125, 13 }, PositionCase { SettingId::ShadowClip, 0.004, 0 },
        PositionCase { SettingId::HilightClip, 0.0149, 1 }, PositionCase { SettingId::Gamma, -200, -128 },
        PositionCase { SettingId::Gamma, 129, 128 }, PositionCase { SettingId::DiffuseTone, -30, -30 },
        PositionCase { SettingId::GrainAmount, 50, 10 }, PositionCase { SettingId::HiSharpTonal, 0, 128 },
        PositionCase { SettingId::ShSharpRadius, 1.0, 10 },
        PositionCase { SettingId::ShSharpRadius, 1.09, 10 },
        PositionCase { SettingId::HiSharpRadius, 0.0, 1 },
        PositionCase { SettingId::DiffuseRadius, 15.0, 150 },
        PositionCase { SettingId::DiffuseRadius, 99.0, 150 },
        PositionCase { SettingId::SmoothRadius, 0.05, 0 }, PositionCase { SettingId::SmoothRadius, 2.29, 22 },
        // A few units in the last place below a tenth still count as that tenth.
        PositionCase { SettingId::SmoothRadius, 2.2999999999999994, 23 } });
}

// Values that no page writes but a script or a hand-edited preset can hold.
TEST(PageControlsPositions, FromHostileValues)
{
    expectPositions(
        { PositionCase { SettingId::ShadowClip, kNaN, 0 }, PositionCase { SettingId::ShSharpRadius, kNaN, 1 },
            PositionCase { SettingId::HiSharpTonal, kNaN, 128 },
            PositionCase { SettingId::ShadowClip, kInfinity, 2000 },
            PositionCase { SettingId::ShadowClip, -kInfinity, 0 },
            PositionCase { SettingId::SmoothRadius, 1e300, 300 },
            PositionCase { SettingId::SmoothRadius, -1e300, 0 },
            PositionCase { SettingId::DiffuseTone, 1e300, 100 },
            PositionCase { SettingId::DiffuseTone, -1e300, -100 },
            PositionCase { SettingId::HilightClip, 4e-320, 0 },
            PositionCase { SettingId::Gamma, 2147483648.0, 128 },
            PositionCase { SettingId::Gamma, -2147483649.0, -128 } });
}

TEST(PageControlsLabels, Texts)
{
    struct Label {
        SettingId setting;
        int position;
        const char* text;
    };
    for (const Label& l :
        { Label { SettingId::ShadowClip, 25, "0.25" }, Label { SettingId::ShadowClip, 2000, "20.00" },
            Label { SettingId::HilightClip, 0, "0.00" }, Label { SettingId::HilightClip, 1, "0.01" },
            Label { SettingId::ShSharpRadius, 10, "1.0" }, Label { SettingId::HiSharpRadius, 1, "0.1" },
            Label { SettingId::DiffuseRadius, 150, "15.0" }, Label { SettingId::SmoothRadius, 0, "0.0" },
            Label { SettingId::SmoothRadius, 300, "30.0" }, Label { SettingId::DiffuseTone, -30, "-30" },
            Label { SettingId::Gamma, -128, "-128" }, Label { SettingId::ShSharpAmount, 600, "600" } })
        EXPECT_EQ(formatValueLabel(l.setting, l.position), l.text)
            << settingInfo(l.setting).name << " " << l.position;
}

TEST(PageControlsDocument, ReadAndWriteExamples)
{
    ParameterDocument document;
    document.setText("ShadowClip=0.25;\nGamma=-200;\nShSharpRadius=1.0;\nGrainAmount=50;\nDiffuseTone=-30;\n"
                     "Density=12.7;\nHilightClip=abc;\nSmoothRadius=1e999;\nHiSharpRadius=-1e999;\n");
    EXPECT_EQ(readPosition(document, SettingId::ShadowClip), 25);
    EXPECT_EQ(readPosition(document, SettingId::Gamma), -128);
    EXPECT_EQ(readPosition(document, SettingId::ShSharpRadius), 10);
    EXPECT_EQ(readPosition(document, SettingId::GrainAmount), 10);
    EXPECT_EQ(readPosition(document, SettingId::DiffuseTone), -30);
    EXPECT_EQ(readPosition(document, SettingId::Density), 12);
    EXPECT_EQ(readPosition(document, SettingId::HilightClip), 0);
    EXPECT_EQ(readPosition(document, SettingId::SmoothRadius), 300);
    EXPECT_EQ(readPosition(document, SettingId::HiSharpRadius), 1);

    writePosition(document, SettingId::ShadowClip, 25);
    writePosition(document, SettingId::Gamma, -128);
    writePosition(document, SettingId::ShSharpRadius, 1);
    writePosition(document, SettingId::GrainAmount, 10);
    EXPECT_EQ(valueText(document, SettingId::ShadowClip), "0.25000000");
    EXPECT_EQ(valueText(document, SettingId::Gamma), "-128");
    EXPECT_EQ(valueText(document, SettingId::ShSharpRadius), "0.10000000");
    EXPECT_EQ(valueText(document, SettingId::GrainAmount), "10");
}

TEST(PageControlsDocument, MissingEntriesReadAsZeroAndAreAdded)
{
    ParameterDocument document;
    EXPECT_EQ(readPosition(document, SettingId::Gamma), 0);
    EXPECT_EQ(readPosition(document, SettingId::ShadowClip), 0);
    EXPECT_EQ(readPosition(document, SettingId::ShSharpRadius), 1); // 0.0, held at the slider's end
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

TEST(PageControlsDocument, FreshDocumentShowsTheDefaults)
{
    ParameterDocument document;
    document.normalize();
    const std::map<std::string, std::string> expected
        = { { "ShadowAmount", "0" }, { "ShadowLevel", "0" }, { "ShadowContrast", "150" },
              { "ShadowClip", "0.00" }, { "HilightAmount", "0" }, { "HilightLevel", "0" },
              { "HilightContrast", "150" }, { "HilightClip", "0.00" }, { "Gamma", "0" }, { "Contrast", "0" },
              { "Density", "0" }, { "Saturation", "0" }, { "ShSharpAmount", "0" }, { "ShSharpRadius", "1.0" },
              { "ShSharpEdge", "20" }, { "ShSharpThreshold", "0" }, { "ShSharpTonal", "85" },
              { "HiSharpAmount", "0" }, { "HiSharpRadius", "1.0" }, { "HiSharpEdge", "20" },
              { "HiSharpThreshold", "0" }, { "HiSharpTonal", "170" }, { "SmoothAmount", "0" },
              { "SmoothRadius", "1.0" }, { "SmoothThreshold", "0" }, { "DiffuseAmount", "0" },
              { "DiffuseRadius", "5.0" }, { "DiffuseTone", "0" }, { "GrainAmount", "0" } };
    std::map<std::string, std::string> shown;
    for (const PageTable* page : kPages)
        for (const PageControl& control : page->controls)
            if (control.kind == ControlKind::Trackbar)
                shown[settingInfo(control.setting).name]
                    = formatValueLabel(control.setting, readPosition(document, control.setting));
    EXPECT_EQ(shown, expected);
}

} // namespace
} // namespace quarvel
