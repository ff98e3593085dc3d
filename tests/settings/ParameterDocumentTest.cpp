// Entry search, replacement, growth, the value cap and normalisation of the parameter document.
#include "settings/ParameterDocument.h"
#include "tests/settings/SettingsTexts.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quarvel {
namespace {

std::string readString(ParameterDocument& document, const char* name, int maxLength = 1023)
{
    std::vector<char> out(size_t(maxLength) + 1, '#');
    document.getString(name, out.data(), maxLength, nullptr);
    return out.data();
}

TEST(DocumentEntries, NewDocumentIsEmptyIn2048Bytes)
{
    ParameterDocument document;
    EXPECT_EQ(document.length(), 0);
    EXPECT_EQ(document.capacity(), 2048);
}

TEST(DocumentEntries, MissingIntIsInsertedWithItsDefault)
{
    ParameterDocument document;
    int32_t value = -1;
    EXPECT_EQ(document.getInt("Gamma", &value, 0), 0);
    EXPECT_EQ(value, 0);
    EXPECT_STREQ(document.text(), "Gamma=0;\n");

    EXPECT_EQ(document.setInt("Gamma", 5), 1);
    EXPECT_EQ(document.setInt("Density", -3), 0);
    EXPECT_STREQ(document.text(), "Gamma=5;\nDensity=-3;\n");
    EXPECT_EQ(document.getInt("Gamma", &value, 0), 1);
    EXPECT_EQ(value, 5);
}

TEST(DocumentEntries, DoublesStoreEightDecimalsDefaultsSix)
{
    ParameterDocument document;
    EXPECT_EQ(document.setDouble("ShadowClip", 0.5), 0);
    double value = 0.0;
    EXPECT_EQ(document.getDouble("HiSharpRadius", &value, 1.0), 0);
    EXPECT_EQ(value, 1.0);
    EXPECT_STREQ(document.text(), "ShadowClip=0.50000000;\nHiSharpRadius=1.000000;\n");
}

TEST(DocumentEntries, AnyEntryReadsAsEitherType)
{
    ParameterDocument document;
    document.setText("A=3.9;\nB=5;\nC=;\nD=  -7x;\nE=abc;\n");
    int32_t i = -1;
    double d = -1.0;
    EXPECT_EQ(document.getInt("A", &i, 0), 1);
    EXPECT_EQ(i, 3);
    EXPECT_EQ(document.getDouble("B", &d, 0.0), 1);
    EXPECT_EQ(d, 5.0);
    EXPECT_EQ(document.getInt("C", &i, 9), 1);
    EXPECT_EQ(i, 0);
    EXPECT_EQ(document.getInt("D", &i, 9), 1);
    EXPECT_EQ(i, -7);
    EXPECT_EQ(document.getDouble("E", &d, 9.0), 1);
    EXPECT_EQ(d, 0.0);
}

TEST(DocumentSearch, NameDoesNotMatchInsideALongerName)
{
    ParameterDocument document;
    document.setText("ShadowAmount=7;\n");
    int32_t value = 0;
    EXPECT_EQ(document.getInt("Amount", &value, 9), 0);
    EXPECT_EQ(value, 9);
    EXPECT_STREQ(document.text(), "ShadowAmount=7;\nAmount=9;\n");
    EXPECT_EQ(document.getInt("ShadowAmount", &value, 0), 1);
    EXPECT_EQ(value, 7);
}

TEST(DocumentSearch, EntryStartsTheTextOrFollowsASeparator)
{
    for (const char* text : { "Gamma=4", "x=1;Gamma=4", "x=1\tGamma=4", "x=1\nGamma=4", "x=1\rGamma=4" }) {
        ParameterDocument document;
        document.setText(text);
        EXPECT_EQ(readString(document, "Gamma"), "4") << text;
    }
    for (const char* text : { "xGamma=4;", "x=1 Gamma=4;", "Gamma =4;", "=Gamma=4;", "gamma=4;" }) {
        ParameterDocument document;
        document.setText(text);
        EXPECT_EQ(document.getString("Gamma", nullptr, 0, nullptr), 0) << text;
    }
}

TEST(DocumentSearch, FirstMatchCountsAndIsTheOneReplaced)
{
    ParameterDocument document;
    document.setText("xGamma=1;\nGamma=2;\nGamma=3;\n");
    EXPECT_EQ(readString(document, "Gamma"), "2");
    EXPECT_EQ(document.setString("Gamma", "-128"), 1);
    EXPECT_STREQ(document.text(), "xGamma=1;\nGamma=-128;\nGamma=3;\n");
    EXPECT_EQ(document.setString("Gamma", ""), 1);
    EXPECT_STREQ(document.text(), "xGamma=1;\nGamma=;\nGamma=3;\n");
}

TEST(DocumentSearch, ValueWithoutTerminatorRunsToTheEnd)
{
    ParameterDocument document;
    document.setText("Gamma=12");
    EXPECT_EQ(readString(document, "Gamma"), "12");
    document.setString("Gamma", "7");
    EXPECT_STREQ(document.text(), "Gamma=7");
    document.setText("Gamma=1=2\tDensity=3;");
    EXPECT_EQ(readString(document, "Gamma"), "1=2\tDensity=3");
    EXPECT_EQ(readString(document, "Density"), "3");
}

TEST(DocumentSearch, NullArgumentsChangeNothing)
{
    ParameterDocument document;
    document.setText("Gamma=1;\n");
    EXPECT_EQ(document.setString(nullptr, "1"), 0);
    EXPECT_EQ(document.setString("Gamma", nullptr), 0);
    char out[8] = "keep";
    EXPECT_EQ(document.getString(nullptr, out, 7, "5"), 0);
    EXPECT_EQ(document.getString("Density", out, 7, nullptr), 0);
    EXPECT_STREQ(out, "keep");
    EXPECT_STREQ(document.text(), "Gamma=1;\n");
}

TEST(DocumentValueCap, ReadsDeliverAtMost1023Characters)
{
    ParameterDocument document;
    const std::string longValue(2000, 'v');
    document.setString("Long", longValue.c_str());
    EXPECT_EQ(readString(document, "Long", 5000), std::string(1023, 'v'));
    EXPECT_EQ(readString(document, "Long", 10), std::string(10, 'v'));
    EXPECT_EQ(readString(document, "Long", 0), "");
    // The stored entry itself is whole.
    EXPECT_EQ(document.length(), int(5 + 2000 + 2));
    // The number buffer sees only the first 63 characters.
    document.setString("Number", (std::string(70, ' ') + "5").c_str());
    int32_t value = -1;
    EXPECT_EQ(document.getInt("Number", &value, 1), 1);
    EXPECT_EQ(value, 0);
}

TEST(DocumentGrowth, BlockGrowsByTheEntryAnd2048)
{
    ParameterDocument document;
    const std::string value(3000, '1');
    document.setString("Big", value.c_str());
    EXPECT_EQ(document.capacity(), 2048 + 3 + 1 + 3000 + 2048);
    EXPECT_EQ(readString(document, "Big", 5000).size(), 1023u);

    ParameterDocument other;
    const std::string source(5000, 'x');
    other.setText(source.c_str());
    EXPECT_EQ(other.capacity(), 5000 + 2048);
    other.setText("Gamma=1;");
    EXPECT_EQ(other.capacity(), 5000 + 2048) << "the block never shrinks";
    EXPECT_EQ(other.length(), 8);
}

TEST(DocumentGrowth, ManyEntriesStayReadable)
{
    ParameterDocument document;
    for (int i = 0; i < 400; ++i)
        document.setInt(("Entry" + std::to_string(i)).c_str(), i * 7);
    EXPECT_GT(document.length(), 2048);
    for (int i = 0; i < 400; ++i) {
        int32_t value = -1;
        ASSERT_EQ(document.getInt(("Entry" + std::to_string(i)).c_str(), &value, -1), 1);
        EXPECT_EQ(value, i * 7);
    }
}

TEST(DocumentGrowth, ArgumentsFromTheDocumentsOwnText)
{
    ParameterDocument document;
    document.setText("Name=Gamma;\n");
    document.setText(document.text() + 5);
    EXPECT_STREQ(document.text(), "Gamma;\n");
    // The value lives in the block that has to grow.
    const std::string filler(2100, 'f');
    document.setText(("A=" + filler + ";\n").c_str());
    document.setString("B", document.text() + 2);
    EXPECT_EQ(readString(document, "B", 5000).size(), 1023u);
    char out[4];
    document.getText(out, 4);
    EXPECT_STREQ(out, "A=f");
}

TEST(DocumentNormalize, NewDocumentGetsTheCanonicalDefaults)
{
    ParameterDocument document;
    document.normalize();
    EXPECT_EQ(std::string(document.text()), kCanonicalDefaultsText);
}

TEST(DocumentNormalize, KeepsKnownValuesDropsStrangers)
{
    ParameterDocument document;
    document.setText("Other=5;\nGamma=12;\n");
    document.normalize();
    std::string expected = kCanonicalDefaultsText;
    expected.replace(expected.find("Gamma=0;"), 8, "Gamma=12;");
    EXPECT_EQ(std::string(document.text()), expected);
}

TEST(DocumentNormalize, RewritesEachSettingInItsType)
{
    ParameterDocument document;
    document.setText("HiSharpAmount=12.7;ShadowClip=1.5;DiffuseRadius=5;Gamma=junk;Density=- 1;"
                     "SmoothRadius=-0.25e1;Saturation=-30;");
    document.normalize();
    const std::string text = document.text();
    for (const char* entry :
        { "\nHiSharpAmount=12;\n", "\nShadowClip=1.50000000;\n", "\nDiffuseRadius=5.00000000;\n",
            "\nGamma=0;\n", "\nDensity=0;\n", "\nSmoothRadius=-2.50000000;\n", "\nSaturation=-30;\n" })
        EXPECT_NE(text.find(entry), std::string::npos) << entry;
}

TEST(DocumentNormalize, IdentityEntriesComeFirstCutTo127)
{
    ParameterDocument document;
    const std::string longName(200, 'n');
    document.setText(("Gamma=3;\nVersion=1.9;\nPlugInName=" + longName + ";\n").c_str());
    document.normalize();
    const std::string expectedStart
        = "PlugInName=" + std::string(127, 'n') + ";\nVersion=1.9;\nDynamicEnable=1;\n";
    EXPECT_EQ(std::string(document.text()).substr(0, expectedStart.size()), expectedStart);
}

TEST(DocumentNormalize, AnIdentityValueWithoutItsTerminatorHidesNoSetting)
{
    // "Version" runs on to the end, and "PlugInName" runs on over a line end into what looks
    // like a setting: both are cut at the line end, so Gamma is read from its own entry.
    ParameterDocument document;
    document.setText("Version=2.0\n");
    document.normalize();
    const std::string expectedStart = "Version=2.0;\nDynamicEnable=1;\n";
    EXPECT_EQ(std::string(document.text()).substr(0, expectedStart.size()), expectedStart);

    document.setText("PlugInName=\nGamma=-4;Gamma=7;");
    document.normalize();
    int32_t gamma = 0;
    EXPECT_EQ(document.getInt("Gamma", &gamma, 0), 1);
    EXPECT_EQ(gamma, -4) << "the first Gamma of the source";
    const std::string once = document.text();
    document.normalize();
    EXPECT_EQ(document.text(), once) << "a normalised text is a fixed point";
}

TEST(DocumentNormalize, SharpMethodIsKeptOnlyWhenPresent)
{
    // Absent: not added, and a later read still gives normal sharpening and inserts the entry.
    ParameterDocument document;
    document.normalize();
    int32_t method = -1;
    EXPECT_EQ(document.getInt("SharpMethod", &method, 0), 0);
    EXPECT_EQ(method, 0);
    EXPECT_EQ(std::string(document.text()), kCanonicalDefaultsText + "SharpMethod=0;\n");

    // Present: kept after the 36, as an integer, wherever it stood.
    for (const auto& [text, written] : { std::pair { "SharpMethod=1;Gamma=2;", "SharpMethod=1;\n" },
             std::pair { "SharpMethod=1.7;", "SharpMethod=1;\n" },
             std::pair { "SharpMethod=x;", "SharpMethod=0;\n" } }) {
        ParameterDocument other;
        other.setText(text);
        other.normalize();
        const std::string result = other.text();
        EXPECT_EQ(result.substr(result.size() - std::string(written).size()), written) << text;
        EXPECT_EQ(result.size(), kCanonicalDefaultsText.size() + std::string(written).size()) << text;
    }
}

TEST(DocumentNormalize, IsIdempotent)
{
    ParameterDocument document;
    document.setText("PlugInName=Quarvel;\nGamma=-20;\nSharpMethod=1;\nShadowClip=0.125;\n");
    document.normalize();
    const std::string once = document.text();
    document.normalize();
    EXPECT_EQ(std::string(document.text()), once);
}

} // namespace
} // namespace quarvel

#if defined(QUARVEL_PRESETS_DIR)
#include <filesystem>
#include <fstream>
#include <sstream>

namespace quarvel {
namespace {

std::string fileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// The bundled presets must be exactly what the document's own save writes, so that a preset a
// user saves over one of them, on any build, compares equal.
TEST(BundledPresets, AreTheDocumentsOwnSavedForm)
{
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(QUARVEL_PRESETS_DIR)) {
        if (entry.path().extension() != ".qvp")
            continue;
        ++count;
        SCOPED_TRACE(entry.path().string());
        ParameterDocument doc;
        ASSERT_EQ(doc.load(entry.path().string().c_str()), 1);
        const std::string copy = ::testing::TempDir() + "quarvel-preset-copy.qvp";
        ASSERT_EQ(doc.save(copy.c_str()), 1);
        EXPECT_EQ(fileBytes(copy), fileBytes(entry.path().string()));
        std::remove(copy.c_str());
    }
    EXPECT_GE(count, 4);
}

} // namespace
} // namespace quarvel
#endif
