// Preset files: the bytes a save writes, and what a load makes of files written by us, by older
// versions, by hand, or by nobody in particular.
#include "settings/TextFormat.h"
#include "settings/ParameterDocument.h"
#include "tests/settings/SettingsTexts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace quarvel {
namespace {

class PresetFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        path = ::testing::TempDir() + "quarvel-"
            + ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".qvp";
    }
    void TearDown() override { std::remove(path.c_str()); }

    void write(const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }
    std::string read()
    {
        std::stringstream bytes;
        bytes << std::ifstream(path, std::ios::binary).rdbuf();
        return bytes.str();
    }
    static std::string withCrLf(const std::string& text)
    {
        std::string bytes;
        for (const char c : text)
            bytes += c == '\n' ? std::string("\r\n") : std::string(1, c);
        return bytes;
    }
    // What a load of `bytes` gives, with every canonical setting at its default unless changed.
    std::string loaded(const std::string& bytes)
    {
        write(bytes);
        ParameterDocument document;
        EXPECT_EQ(document.load(path.c_str()), 1);
        return document.text();
    }

    std::string path;
};

TEST_F(PresetFile, DefaultPresetIsThe39LinesByteForByte)
{
    // As the dialog saves it: normalised, SharpMethod read by the Sharpness page, then saved.
    ParameterDocument document;
    document.normalize();
    int32_t method = 0;
    document.getInt("SharpMethod", &method, 0);
    EXPECT_EQ(document.save(path.c_str()), 1);
    const std::string expected
        = withCrLf(kCanonicalDefaultsText + "SharpMethod=0;\nPlugInName=Quarvel;\nVersion=2.0;\n");
    EXPECT_EQ(read(), expected);
    EXPECT_EQ(std::count(expected.begin(), expected.end(), '\n'), 39);
}

TEST_F(PresetFile, SaveStampsIdentityInPlaceOrAtTheEnd)
{
    ParameterDocument document;
    document.setText("Version=1.2;\nGamma=3;\n");
    document.save(path.c_str());
    EXPECT_STREQ(document.text(), "Version=2.0;\nGamma=3;\nPlugInName=Quarvel;\n");
    EXPECT_EQ(read(), "Version=2.0;\r\nGamma=3;\r\nPlugInName=Quarvel;\r\n");
}

TEST_F(PresetFile, SaveThenLoadOfAnEmptyDocument)
{
    ParameterDocument document;
    document.save(path.c_str());
    ParameterDocument again;
    EXPECT_EQ(again.load(path.c_str()), 1);
    EXPECT_EQ(std::string(again.text()), "PlugInName=Quarvel;\nVersion=2.0;\n" + kCanonicalDefaultsText);
}

TEST_F(PresetFile, ValuesSurviveSaveAndLoad)
{
    ParameterDocument document;
    document.normalize();
    document.setInt("Gamma", -128);
    document.setInt("HiSharpAmount", 600);
    document.setDouble("ShadowClip", 19.99);
    document.setDouble("SmoothRadius", 0.1);
    document.setInt("SharpMethod", 1);
    document.save(path.c_str());
    document.normalize();
    ParameterDocument again;
    again.load(path.c_str());
    EXPECT_EQ(std::string(again.text()), std::string(document.text()));
}

TEST_F(PresetFile, SmallFilesOfOtherOrigins)
{
    EXPECT_EQ(loaded(""), kCanonicalDefaultsText);
    EXPECT_EQ(loaded("Gamma=-20;\n"), defaultsWith({ { "Gamma=0;", "Gamma=-20;" } }));
    EXPECT_EQ(loaded("Gamma=-20;\r\n"), defaultsWith({ { "Gamma=0;", "Gamma=-20;" } }));
    EXPECT_EQ(
        loaded("ShadowClip=1.5;"), defaultsWith({ { "ShadowClip=0.00000000;", "ShadowClip=1.50000000;" } }));
    EXPECT_EQ(loaded("xGamma=3;\n"), kCanonicalDefaultsText);
    EXPECT_EQ(loaded("Gamma =5;\n"), kCanonicalDefaultsText);
    EXPECT_EQ(loaded("Gamma= 5;\n"), defaultsWith({ { "Gamma=0;", "Gamma=5;" } }));
    EXPECT_EQ(loaded("Gamma=5;Gamma=6;"), defaultsWith({ { "Gamma=0;", "Gamma=5;" } }));
    EXPECT_EQ(loaded("Gamma=5;\tDensity=-3;\t"), loaded("Gamma=5;\nDensity=-3;\n"));
    // A lone CR is kept, and separates entries as well.
    EXPECT_EQ(loaded("Gamma=5\rDensity=-3;"),
        defaultsWith({ { "Gamma=0;\nDensity=0;", "Gamma=5;\nDensity=-3;" } }));
    EXPECT_EQ(loaded("SharpMethod=1;\r\n"), kCanonicalDefaultsText + "SharpMethod=1;\n");
}

TEST_F(PresetFile, NulByteEndsTheText)
{
    EXPECT_EQ(
        loaded(std::string("Gamma=5;\n\0Density=3;\n", 21)), defaultsWith({ { "Gamma=0;", "Gamma=5;" } }));
}

TEST_F(PresetFile, MissingOrUnreadableFileLeavesTheDocument)
{
    ParameterDocument document;
    document.setText("Gamma=7;");
    EXPECT_EQ(document.load((path + ".missing").c_str()), 0);
    EXPECT_EQ(document.load(::testing::TempDir().c_str()), 0); // a directory
    EXPECT_EQ(document.load(nullptr), 0);
    EXPECT_STREQ(document.text(), "Gamma=7;");
    EXPECT_EQ(document.save((::testing::TempDir() + "no-such-folder/x.qvp").c_str()), 0);
}

TEST_F(PresetFile, LargeFileGrowsInWholeSteps)
{
    std::string bytes(1 << 20, 'z');
    bytes += "\r\nGamma=7;\r\n";
    ParameterDocument document;
    document.setText("x");
    write(bytes);
    EXPECT_EQ(document.load(path.c_str()), 1);
    const size_t textLength = (1u << 20) + 10; // after CR LF became LF
    const int steps = int((textLength + 1 - 2048 + 2047) / 2048);
    EXPECT_EQ(document.capacity(), 2048 + steps * 2048);
    EXPECT_EQ(std::string(document.text()), defaultsWith({ { "Gamma=0;", "Gamma=7;" } }));
}

TEST(FileText, LineEndsBothWays)
{
    EXPECT_EQ(encodeFileText("a\nb\r\n"), "a\r\nb\r\r\n");
    EXPECT_EQ(encodeFileText(nullptr), "");
    EXPECT_EQ(decodeFileText("a\r\nb\r\r\nc\r", 9), "a\nb\r\nc\r");
    EXPECT_EQ(decodeFileText("a\r\0b", 4), "a\r");

    // CR LF split between two pieces.
    FileTextDecoder decoder;
    char out[8] = {};
    size_t count = decoder.feed("a\r", 2, out);
    count += decoder.feed("\nb", 2, out + count);
    count += decoder.finish(out + count);
    EXPECT_EQ(std::string(out, count), "a\nb");
}

} // namespace
} // namespace quarvel
