// The module's PIPL and AETE bytes against layouts and sizes worked out by hand, and the PIPL
// read back through the host's own reader.
#include "resources/PluginResources.h"
#include "pluginapi/PluginApi.h"
#include "resources/ResourceIds.h"
#include "tests/settings/SettingsTexts.h"
#include "tools/host/PiplReader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace std::string_literals;
using Bytes = std::vector<uint8_t>;
using quarvel::resources::aete;
using quarvel::resources::pipl;

// Clipped to the bytes there are, so that a broken layout fails a comparison, not the run.
std::string text(const Bytes& b, size_t at, size_t n)
{
    at = std::min(at, b.size());
    return std::string(b.begin() + long(at), b.begin() + long(at + std::min(n, b.size() - at)));
}

uint32_t le32(const Bytes& b, size_t at)
{
    return uint32_t(b[at] | b[at + 1] << 8 | b[at + 2] << 16) | uint32_t(b[at + 3]) << 24;
}

// Steps by the lengths as written, as the hosts that do not round do: it lands on every
// property only if each length already counts its padding. Key as stored ("dnik"), data.
std::vector<std::pair<std::string, std::string>> properties(const Bytes& b)
{
    std::vector<std::pair<std::string, std::string>> found;
    for (size_t at = 10; at + 16 <= b.size();) {
        EXPECT_EQ(text(b, at, 4) + text(b, at + 8, 4), "MIB8"s + std::string(4, '\0')) << at;
        const uint32_t length = le32(b, at + 12);
        EXPECT_EQ(length % 4, 0u) << at;
        found.emplace_back(text(b, at + 4, 4), text(b, at + 16, length));
        at += 16 + length;
    }
    return found;
}

TEST(PiplBytes, LayoutOfBothModules)
{
    const std::string entry = "ENTRYPOINT\0\0"s;
    const std::string terminology
        = "\0\0\0\0dwlTdwlT"s + char(IDR_AETE & 0xFF) + char(IDR_AETE >> 8) + std::string(6, '\0');
    std::string cases;
    for (int filterCase = 1; filterCase <= 7; ++filterCase)
        cases += "\4\1\6\0"s;
    std::vector<std::pair<std::string, std::string>> expected
        = { { "dnik", "MFB8" }, { "eman", "\x0aQuarvel...\0"s }, { "gtac", "\x09Tallowind\0\0"s },
              { "srev", "\0\0\4\0"s }, { "68xw", entry }, { "mtsh", terminology }, { "edom", "\x10\0\0\0"s },
              { "lbne", "in (PSHOP_ImageMode, RGBMode, RGB48Mode)\0\0\0\0"s }, { "icif", cases } };

    const Bytes b32 = pipl(false);
    EXPECT_EQ(b32.size(), 10u + 9 * 16 + (4 + 12 + 12 + 4 + 12 + 20 + 4 + 44 + 28));
    EXPECT_EQ(b32.size(), 294u);
    EXPECT_EQ(text(b32, 0, 10), "\1\0\0\0\0\0\x09\0\0\0"s);
    EXPECT_EQ(properties(b32), expected);

    const Bytes b64 = pipl(true);
    EXPECT_EQ(b64.size(), 294u + 16 + 12);
    EXPECT_EQ(text(b64, 0, 10), "\1\0\0\0\0\0\x0a\0\0\0"s);
    expected.insert(expected.begin() + 5, { "4668", entry });
    EXPECT_EQ(properties(b64), expected);
}

TEST(PiplBytes, HostReadsNameCategoryVersionAndEntry)
{
    using quarvel::host::readPiplFilterInfo;
    const uint32_t kWx86 = pluginapi::PIWin32X86CodeProperty;
    const uint32_t k8664 = pluginapi::PIWin64X86CodeProperty;
    for (const bool module64 : { false, true }) {
        SCOPED_TRACE(module64 ? "64-bit module" : "32-bit module");
        const Bytes b = pipl(module64);
        quarvel::host::PiplFilterInfo info;
        std::string error;
        ASSERT_TRUE(readPiplFilterInfo(b.data(), b.size(), kWx86, info, error)) << error;
        EXPECT_EQ(info.name, "Quarvel...");
        EXPECT_EQ(info.category, "Tallowind");
        EXPECT_EQ(info.version, 0x00040000u);
        EXPECT_EQ(info.entryPoint, "ENTRYPOINT");

        const bool found = readPiplFilterInfo(b.data(), b.size(), k8664, info, error);
        EXPECT_EQ(found, module64) << error;
        EXPECT_EQ(info.entryPoint, found ? "ENTRYPOINT" : "");
    }
}

TEST(AeteBytes, LayoutAndSize)
{
    const Bytes b = aete();
    // Header 10; suite 10 + 21 + 4 + 6 = 41; event 18 + 23 + 4 + 4 + (4 + 1 + 2) + (4 + 1 + 2)
    // + 2 = 65; 35 parameters of 12 bytes plus 418 name characters; three empty counts 6.
    EXPECT_EQ(b.size(), 10u + 41 + 65 + (35 * 12 + 418) + 6);
    EXPECT_EQ(b.size(), 960u);
    EXPECT_EQ(text(b, 0, 51),
        "\1\0\1\0\0\0\0\0\1\0\x09Tallowind\x14"
        "Enhancement plug-insdwlT\1\0\1\0\1\0"s);
    EXPECT_EQ(text(b, 51, 65),
        "\x11Tallowind Quarvel\x16Quarvel plug-in filter"
        "dwlTdwlTllun\0\0\0RmI#\0\x0d\0\x23\0"s);

    // The parameters in the terminology's own order, without Contrast, each with its key.
    const std::vector<std::string> names = { "DynamicEnable", "ColorEnable", "SharpEnable", "SmoothEnable",
        "ShadowLevel", "ShadowAmount", "ShadowClip", "ShadowContrast", "HilightLevel", "HilightAmount",
        "HilightClip", "HilightContrast", "AutoColor", "AutoExposure", "Density", "Saturation", "Gamma",
        "Monochromatic", "ShSharpAmount", "ShSharpRadius", "ShSharpEdge", "ShSharpThreshold", "ShSharpTonal",
        "HiSharpAmount", "HiSharpRadius", "HiSharpEdge", "HiSharpThreshold", "HiSharpTonal", "SmoothAmount",
        "SmoothRadius", "SmoothThreshold", "DiffuseAmount", "DiffuseRadius", "DiffuseTone", "GrainAmount" };
    std::vector<std::string> expected;
    for (const std::string& name : names)
        for (const std::string& entry : quarvel::kDescriptorKeysAndNames)
            if (entry.substr(5) == name)
                expected.push_back(name + " " + entry.substr(0, 4));
    std::vector<std::string> parameters;
    size_t at = 116;
    for (size_t i = 0; i < names.size() && at < b.size(); ++i) {
        const std::string name = text(b, at + 1, b[at]);
        at += 1 + name.size();
        const std::string key = text(b, at, 4);
        parameters.push_back(name + " " + std::string(key.rbegin(), key.rend()));
        EXPECT_EQ(text(b, at + 4, 7), "TXET\0\0\0"s) << name;
        at += 11;
    }
    EXPECT_EQ(parameters, expected);
    EXPECT_EQ(text(b, at, b.size() - at), std::string(6, '\0'));
}

} // namespace
