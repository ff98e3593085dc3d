// The settings table against the keys as the plug-in publishes them (the terminology order is
// checked in the AETE bytes).
#include "settings/ParameterTable.h"
#include "tests/settings/SettingsTexts.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quarvel {
namespace {

TEST(SettingsTable, DescriptorOrderKeysAndLookups)
{
    std::vector<std::string> actual;
    for (const SettingId id : kDescriptorOrder)
        actual.push_back(keyText(settingInfo(id).key) + " " + settingInfo(id).name);
    EXPECT_EQ(actual, kDescriptorKeysAndNames);
    // The one setting outside the 36 comes last.
    EXPECT_EQ(findSettingByKey(fourCharCode("SMth")), &kSettings.back());
    EXPECT_EQ(kSettings.back().scope, SettingScope::Extra);

    EXPECT_EQ(fourCharCode("EnDr"), 0x456E4472u);
    EXPECT_EQ(keyText(0x456E4472u), "EnDr");
    EXPECT_EQ(findSettingByKey(fourCharCode("DfRd")), findSetting("DiffuseRadius"));
    for (const char* name : { "gamma", "Gamm", "PlugInName", static_cast<const char*>(nullptr) })
        EXPECT_EQ(findSetting(name), nullptr) << (name ? name : "null");
    EXPECT_EQ(findSettingByKey(0), nullptr);
    EXPECT_EQ(findSettingByKey(fourCharCode("Tlwd")), nullptr);
}

} // namespace
} // namespace quarvel
