// Preset paths, list labels, the texts of the preset messages and which names a preset file can
// take; the preset window builds every one of them from these.
#include "presets/PresetNames.h"

#include <gtest/gtest.h>

#include <string>

namespace quarvel {
namespace {

const std::string kFolder = "C:\\Hosts\\Plug-ins\\Presets\\";

TEST(PresetPaths, FolderFileAndPatternBesideTheModule)
{
    EXPECT_EQ(presetFolderPath("C:\\Hosts\\Plug-ins\\"), kFolder);
    EXPECT_EQ(presetFilePath(kFolder, "Lift Shadows"), kFolder + "Lift Shadows.qvp");
    EXPECT_EQ(presetSearchPattern(kFolder), kFolder + "*.qvp");
}

TEST(PresetPaths, ALongNameIsKeptWhole)
{
    const std::string name(259, 'n');
    const std::string path = presetFilePath(kFolder, name);
    EXPECT_EQ(path.size(), kFolder.size() + 259 + 4);
    EXPECT_EQ(path.substr(kFolder.size(), 259), name);
    EXPECT_EQ(path.substr(path.size() - 4), ".qvp");
}

TEST(PresetLabels, ThisVersionIsListedUnderItsBareName)
{
    EXPECT_EQ(presetLabel("Soft Glow.qvp", "Quarvel", "2.0"), "Soft Glow");
    EXPECT_EQ(presetLabel("Soft Glow.qvp", "QUARVEL", "2.0"), "Soft Glow");
    EXPECT_EQ(presetLabel("a.QVP", "quarvel", "2.0"), "a");
}

TEST(PresetLabels, OtherVersionsOfThisProductNameTheirVersion)
{
    EXPECT_EQ(presetLabel("Old.qvp", "Quarvel", "1.9"), "\xFE<v1.9> Old");
    EXPECT_EQ(presetLabel("Old.qvp", "Quarvel", ""), "\xFE<v> Old");
    const std::string version(127, '7');
    EXPECT_EQ(presetLabel("Old.qvp", "Quarvel", version.c_str()), "\xFE<v" + version + "> Old");
}

TEST(PresetLabels, FilesWithoutOurIdentityCountAsVersionOneTwo)
{
    EXPECT_EQ(presetLabel("a.qvp", nullptr, nullptr), "\xFE<v1.2> a");
    EXPECT_EQ(presetLabel("a.qvp", nullptr, "2.0"), "\xFE<v1.2> a");
    EXPECT_EQ(presetLabel("a.qvp", "Quarvel", nullptr), "\xFE<v1.2> a");
    EXPECT_EQ(presetLabel("a.qvp", "Other Filter", "2.0"), "\xFE<v1.2> a");
    EXPECT_EQ(presetLabel("a.qvp", "Quarvel2", "2.0"), "\xFE<v1.2> a");
}

TEST(PresetLabels, TheLastFourCharactersAreTheExtension)
{
    EXPECT_EQ(presetLabel(".qvp", "Quarvel", "2.0"), "");
    EXPECT_EQ(presetLabel("qvp", "Quarvel", "2.0"), "");
    const std::string name(251, 'x');
    EXPECT_EQ(presetLabel(name + ".qvp", "Quarvel", "1.9"), "\xFE<v1.9> " + name);
}

TEST(PresetMessages, TheTextsWithTheWholeName)
{
    EXPECT_EQ(presetExistsQuestion("Mine"),
        "Preset named \"Mine\" already exists.\n\rDo you want to replace with new settings?");
    EXPECT_EQ(cannotSavePresetMessage("a?b"), "Cannot save preset with name \"a?b\".");
    EXPECT_EQ(deletePresetQuestion("\xFE<v1.2> a"), "Do you want to delete a preset \"\xFE<v1.2> a\"?");

    const std::string name(259, 'm');
    EXPECT_EQ(presetExistsQuestion(name).find(name), 14u);
    EXPECT_EQ(presetExistsQuestion(name).size(), presetExistsQuestion("").size() + 259);
    EXPECT_EQ(cannotSavePresetMessage(name), "Cannot save preset with name \"" + name + "\".");
    const std::string label = "\xFE<v" + std::string(127, '9') + "> " + std::string(251, 'l');
    EXPECT_EQ(deletePresetQuestion(label), "Do you want to delete a preset \"" + label + "\"?");
}

TEST(PresetNameChecks, WhatAFileNameInTheFolderCanHold)
{
    for (const char* name : { "Mine", "a", "Lift Shadows", " lead", "trailing.", "v1.2 (copy)", "Caf\xE9",
             "\xFE", "console", "COM10", "LPT", "nul1", "a.con" })
        EXPECT_TRUE(isPresetFileName(name)) << name;
    EXPECT_TRUE(isPresetFileName(std::string(259, 'n')));
}

TEST(PresetNameChecks, NamesThatWouldNotBeAFileInTheFolder)
{
    EXPECT_FALSE(isPresetFileName(""));
    EXPECT_FALSE(isPresetFileName(std::string(260, 'n')));
    for (const char* name : { "a?b", "a*", "x\\y", "x/y", "..\\up", "c:d", "Lift Shadows.qvp:hidden",
             "say \"hi\"", "<", ">", "a|b", "tab\there", "line\nend" })
        EXPECT_FALSE(isPresetFileName(name)) << name;
}

TEST(PresetNameChecks, DeviceNamesInAnyCaseAndWithAnyExtension)
{
    for (const char* name : { "CON", "con", "Prn", "AUX", "nul", "NUL.txt", "nul ", "COM1", "com9", "LPT1",
             "lpt9.x", "CONIN$", "conout$" })
        EXPECT_FALSE(isPresetFileName(name)) << name;
}

} // namespace
} // namespace quarvel
