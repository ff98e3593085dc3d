// Preset paths, list labels, the texts of the preset messages and which names a preset file can
// take; the preset window builds every one of them from these.
#include "presets/PresetNames.h"

#include <gtest/gtest.h>

#include <string>

namespace quarvel {
namespace {

const std::string kFolder = "C:\\Hosts\\Plug-ins\\Presets\\";

TEST(PresetPaths, FolderFileAndPatternBesideTheModuleAndALongNameKeptWhole)
{
    EXPECT_EQ(presetFolderPath("C:\\Hosts\\Plug-ins\\"), kFolder);
    EXPECT_EQ(presetFilePath(kFolder, "Lift Shadows"), kFolder + "Lift Shadows.qvp");
    EXPECT_EQ(presetSearchPattern(kFolder), kFolder + "*.qvp");
    const std::string name(259, 'n');
    EXPECT_EQ(presetFilePath(kFolder, name), kFolder + name + ".qvp");
}

TEST(PresetLabels, ThisVersionBareOtherVersionsNamedAndForeignFilesVersionOneTwo)
{
    const std::string version(127, '7'), name(251, 'x');
    const struct {
        std::string file;
        const char* product;
        const char* version;
        std::string label;
    } cases[] = { { "Soft Glow.qvp", "Quarvel", "2.0", "Soft Glow" },
        { "Soft Glow.qvp", "QUARVEL", "2.0", "Soft Glow" }, { "a.QVP", "quarvel", "2.0", "a" },
        { "Old.qvp", "Quarvel", "1.9", "\xFE<v1.9> Old" }, { "Old.qvp", "Quarvel", "", "\xFE<v> Old" },
        { "Old.qvp", "Quarvel", version.c_str(), "\xFE<v" + version + "> Old" },
        { "a.qvp", nullptr, nullptr, "\xFE<v1.2> a" }, { "a.qvp", nullptr, "2.0", "\xFE<v1.2> a" },
        { "a.qvp", "Quarvel", nullptr, "\xFE<v1.2> a" }, { "a.qvp", "Other Filter", "2.0", "\xFE<v1.2> a" },
        { "a.qvp", "Quarvel2", "2.0", "\xFE<v1.2> a" },
        // The last four characters are the extension, whatever they are.
        { ".qvp", "Quarvel", "2.0", "" }, { "qvp", "Quarvel", "2.0", "" },
        { name + ".qvp", "Quarvel", "1.9", "\xFE<v1.9> " + name } };
    for (const auto& c : cases)
        EXPECT_EQ(presetLabel(c.file, c.product, c.version), c.label) << c.file;
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
    const std::string longest(259, 'n'), tooLong(260, 'n');
    for (const std::string& name :
        std::initializer_list<std::string> { "Mine", "a", "Lift Shadows", " lead", "trailing.", "v1.2 (copy)",
            "Caf\xE9", "\xFE", "console", "COM10", "LPT", "nul1", "a.con", longest })
        EXPECT_TRUE(isPresetFileName(name)) << name;
    // Empty, too long, characters a file name cannot hold, and device names in any case and with
    // any extension.
    for (const std::string& name :
        std::initializer_list<std::string> { "", tooLong, "a?b", "a*", "x\\y", "x/y", "..\\up", "c:d",
            "Lift Shadows.qvp:hidden", "say \"hi\"", "<", ">", "a|b", "tab\there", "line\nend", "CON", "con",
            "Prn", "AUX", "nul", "NUL.txt", "nul ", "COM1", "com9", "LPT1", "lpt9.x", "CONIN$", "conout$" })
        EXPECT_FALSE(isPresetFileName(name)) << name;
}

} // namespace
} // namespace quarvel
