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

} // namespace
} // namespace quarvel
