// The settings table against the key lists and ranges as the plug-in publishes them.
#include "settings/ParameterTable.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quarvel {
namespace {

TEST(SettingsTable, DescriptorOrderAndKeys)
{
    const std::vector<std::string> expected = { "EnDr DynamicEnable", "EnCr ColorEnable", "EnSh SharpEnable",
        "EnDf SmoothEnable", "ShLv ShadowLevel", "ShDt ShadowAmount", "ShCl ShadowClip",
        "ShCt ShadowContrast", "HiLv HilightLevel", "HiDt HilightAmount", "HiCl HilightClip",
        "HiCt HilightContrast", "AtEx AutoExposure", "Gmma Gamma", "Cont Contrast", "Mono Monochromatic",
        "AtCr AutoColor", "Dens Density", "Satu Saturation", "HSAm HiSharpAmount", "HSRd HiSharpRadius",
        "HSEd HiSharpEdge", "HSTs HiSharpThreshold", "HSTn HiSharpTonal", "SSAm ShSharpAmount",
        "SSRd ShSharpRadius", "SSEd ShSharpEdge", "SSTs ShSharpThreshold", "SSTn ShSharpTonal",
        "SmAm SmoothAmount", "SmRd SmoothRadius", "SmTr SmoothThreshold", "DfAm DiffuseAmount",
        "DfRd DiffuseRadius", "DfTn DiffuseTone", "GnAm GrainAmount" };
    std::vector<std::string> actual;
    for (const SettingId id : kDescriptorOrder)
        actual.push_back(keyText(settingInfo(id).key) + " " + settingInfo(id).name);
    EXPECT_EQ(actual, expected);
}

TEST(SettingsTable, TerminologyOrderLeavesOutContrast)
{
    const std::vector<std::string> expected = { "DynamicEnable", "ColorEnable", "SharpEnable", "SmoothEnable",
        "ShadowLevel", "ShadowAmount", "ShadowClip", "ShadowContrast", "HilightLevel", "HilightAmount",
        "HilightClip", "HilightContrast", "AutoColor", "AutoExposure", "Density", "Saturation", "Gamma",
        "Monochromatic", "ShSharpAmount", "ShSharpRadius", "ShSharpEdge", "ShSharpThreshold", "ShSharpTonal",
        "HiSharpAmount", "HiSharpRadius", "HiSharpEdge", "HiSharpThreshold", "HiSharpTonal", "SmoothAmount",
        "SmoothRadius", "SmoothThreshold", "DiffuseAmount", "DiffuseRadius", "DiffuseTone", "GrainAmount" };
    std::vector<std::string> actual;
    for (const SettingId id : kTerminologyOrder)
        actual.push_back(settingInfo(id).name);
    EXPECT_EQ(actual, expected);
}

TEST(SettingsTable, SharpMethodIsTheOneExtraSetting)
{
    const SettingInfo* method = findSettingByKey(fourCharCode("SMth"));
    ASSERT_NE(method, nullptr);
    EXPECT_STREQ(method->name, "SharpMethod");
    EXPECT_EQ(method->scope, SettingScope::Extra);
    EXPECT_EQ(method->type, SettingType::Integer);
    EXPECT_EQ(method->defaultInt(), 0);
    EXPECT_EQ(method->group, SettingGroup::Sharpness);
    EXPECT_EQ(&kSettings.back(), method);
}

TEST(SettingsTable, Lookups)
{
    EXPECT_EQ(fourCharCode("EnDr"), 0x456E4472u);
    EXPECT_EQ(keyText(0x456E4472u), "EnDr");
    ASSERT_NE(findSetting("Gamma"), nullptr);
    EXPECT_EQ(findSetting("Gamma")->key, fourCharCode("Gmma"));
    EXPECT_EQ(findSettingByKey(fourCharCode("DfRd")), findSetting("DiffuseRadius"));
    EXPECT_EQ(findSetting("gamma"), nullptr);
    EXPECT_EQ(findSetting("Gamm"), nullptr);
    EXPECT_EQ(findSetting("PlugInName"), nullptr);
    EXPECT_EQ(findSetting(nullptr), nullptr);
    EXPECT_EQ(findSettingByKey(0), nullptr);
    EXPECT_EQ(findSettingByKey(fourCharCode("Tlwd")), nullptr);
}

TEST(SettingsTable, PageRangesAndSteps)
{
    struct Range {
        const char* name;
        double minimum, maximum, step;
    };
    for (const Range& r : { Range { "Gamma", -128, 128, 1 }, Range { "HiSharpTonal", 128, 255, 1 },
             Range { "ShSharpTonal", 0, 128, 1 }, Range { "DiffuseTone", -100, 100, 1 },
             Range { "ShadowClip", 0, 20, 0.01 }, Range { "SmoothRadius", 0, 30, 0.1 },
             Range { "DiffuseRadius", 0.1, 15, 0.1 }, Range { "GrainAmount", 0, 10, 1 } }) {
        const SettingInfo* s = findSetting(r.name);
        ASSERT_NE(s, nullptr) << r.name;
        EXPECT_EQ(s->minimum, r.minimum) << r.name;
        EXPECT_EQ(s->maximum, r.maximum) << r.name;
        EXPECT_EQ(s->step, r.step) << r.name;
    }
}

TEST(SettingsTable, Groups)
{
    std::string color, enable;
    for (const SettingInfo& s : kSettings) {
        if (s.group == SettingGroup::Color)
            color += std::string(s.name) + " ";
        if (s.group == SettingGroup::Enable)
            enable += std::string(s.name) + " ";
    }
    EXPECT_EQ(color, "AutoColor Density Saturation ");
    EXPECT_EQ(enable, "DynamicEnable ColorEnable SharpEnable SmoothEnable ");
    EXPECT_EQ(findSetting("AutoExposure")->group, SettingGroup::DynamicRange);
    EXPECT_EQ(findSetting("GrainAmount")->group, SettingGroup::Smooth);
}

} // namespace
} // namespace quarvel
