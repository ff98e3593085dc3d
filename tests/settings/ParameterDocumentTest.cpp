// Entry search, replacement, growth, the value cap and normalisation of the parameter document.
#include "settings/ParameterDocument.h"
#include "tests/settings/SettingsTexts.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace quarvel {
namespace {

std::string readString(ParameterDocument& document, const char* name, int maxLength = 1023)
{
    std::vector<char> out(size_t(maxLength) + 1, '#');
    return document.getString(name, out.data(), maxLength, nullptr) ? out.data() : "<missing>";
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
    for (auto [name, expected] : { std::pair { "A", 3 }, { "C", 0 }, { "D", -7 } }) {
        int32_t i = -1;
        EXPECT_EQ(document.getInt(name, &i, 9), 1);
        EXPECT_EQ(i, expected) << name;
    }
    for (auto [name, expected] : { std::pair { "B", 5.0 }, { "E", 0.0 } }) {
        double d = -1.0;
        EXPECT_EQ(document.getDouble(name, &d, 9.0), 1);
        EXPECT_EQ(d, expected) << name;
    }
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
    const std::pair<const char*, bool> cases[] = { { "Gamma=4", true }, { "x=1;Gamma=4", true },
        { "x=1\tGamma=4", true }, { "x=1\nGamma=4", true }, { "x=1\rGamma=4", true }, { "xGamma=4;", false },
        { "x=1 Gamma=4;", false }, { "Gamma =4;", false }, { "=Gamma=4;", false }, { "gamma=4;", false } };
    for (auto [text, found] : cases) {
        ParameterDocument document;
        document.setText(text);
        EXPECT_EQ(readString(document, "Gamma"), found ? "4" : "<missing>") << text;
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
    EXPECT_EQ(document.length(), 0);
    EXPECT_EQ(document.capacity(), 2048);
    document.setString("Big", std::string(3000, '1').c_str());
    EXPECT_EQ(document.capacity(), 2048 + 3 + 1 + 3000 + 2048);
    EXPECT_EQ(readString(document, "Big", 5000).size(), 1023u);

    ParameterDocument other;
    other.setText(std::string(5000, 'x').c_str());
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

TEST(DocumentNormalize, Texts)
{
    const std::string longName(200, 'n');
    const std::pair<std::string, std::string> cases[] = { { "", kCanonicalDefaultsText },
        { "Other=5;\nGamma=12;\n", defaultsWith({ { "Gamma=0;", "Gamma=12;" } }) },
        // Each setting rewritten in its type.
        { "HiSharpAmount=12.7;ShadowClip=1.5;DiffuseRadius=5;Gamma=junk;Density=- 1;SmoothRadius=-0.25e1;"
          "Saturation=-30;",
            defaultsWith({ { "HiSharpAmount=0;", "HiSharpAmount=12;" },
                { "ShadowClip=0.00000000;", "ShadowClip=1.50000000;" },
                { "SmoothRadius=1.00000000;", "SmoothRadius=-2.50000000;" },
                { "Saturation=0;", "Saturation=-30;" } }) },
        // The identity entries first, the name cut to 127; a value that runs on to the end is cut there.
        { "Gamma=3;\nVersion=1.9;\nPlugInName=" + longName + ";\n",
            "PlugInName=" + std::string(127, 'n') + ";\nVersion=1.9;\n"
                + defaultsWith({ { "Gamma=0;", "Gamma=3;" } }) },
        { "Version=2.0\n", "Version=2.0;\n" + kCanonicalDefaultsText },
        // The sharpening method is kept after the 36, as an integer, only when present.
        { "SharpMethod=1;Gamma=2;", defaultsWith({ { "Gamma=0;", "Gamma=2;" } }) + "SharpMethod=1;\n" },
        { "SharpMethod=1.7;", kCanonicalDefaultsText + "SharpMethod=1;\n" },
        { "SharpMethod=x;", kCanonicalDefaultsText + "SharpMethod=0;\n" } };
    for (const auto& [source, expected] : cases) {
        ParameterDocument document;
        document.setText(source.c_str());
        document.normalize();
        EXPECT_EQ(std::string(document.text()), expected) << source;
        document.normalize();
        EXPECT_EQ(std::string(document.text()), expected) << "a normalised text is a fixed point";
    }
}

TEST(DocumentNormalize, AnIdentityValueWithoutItsTerminatorHidesNoSetting)
{
    // "PlugInName" runs on over a line end into what looks like a setting: it is cut at the line
    // end, so Gamma is read from its own entry.
    ParameterDocument document;
    document.setText("PlugInName=\nGamma=-4;Gamma=7;");
    document.normalize();
    int32_t gamma = 0;
    EXPECT_EQ(document.getInt("Gamma", &gamma, 0), 1);
    EXPECT_EQ(gamma, -4) << "the first Gamma of the source";
    const std::string once = document.text();
    document.normalize();
    EXPECT_EQ(document.text(), once) << "a normalised text is a fixed point";

    // An absent sharpening method is not added; a later read gives normal sharpening and inserts it.
    document.setText("");
    document.normalize();
    int32_t method = -1;
    EXPECT_EQ(document.getInt("SharpMethod", &method, 0), 0);
    EXPECT_EQ(method, 0);
    EXPECT_EQ(std::string(document.text()), kCanonicalDefaultsText + "SharpMethod=0;\n");
}

#if defined(QUARVEL_PRESETS_DIR)
std::string fileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
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
#endif

} // namespace
} // namespace quarvel
