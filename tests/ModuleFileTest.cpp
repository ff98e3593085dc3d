// The built modules read as files, the way a host's plug-in scan sees them before loading:
// this also covers the 32-bit module on machines that cannot run 32-bit code.
#include "resources/PluginResources.h"
#include "resources/ResourceIds.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace quarvel::test {
namespace {

// A minimal reader of PE files: just enough for exports, imports and resources.
struct PeFile {
    std::vector<uint8_t> b;
    std::vector<std::array<uint32_t, 3>> sections; // address, size, file offset
    uint32_t directories = 0;
    bool valid = false, is64 = false;

    explicit PeFile(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        b.assign(std::istreambuf_iterator<char>(in), {});
        const uint32_t pe = u32(0x3C), optional = pe + 24;
        if (u16(0) != 0x5A4D || u32(pe) != 0x4550)
            return;
        is64 = u16(optional) == 0x20B;
        directories = optional + (is64 ? 112 : 96);
        for (uint32_t i = 0, s = optional + u16(pe + 20); i < u16(pe + 6); ++i, s += 40)
            sections.push_back({ u32(s + 12), u32(s + 8), u32(s + 20) });
        valid = true;
    }

    uint32_t u16(size_t at) const { return at + 2 <= b.size() ? uint32_t(b[at] | b[at + 1] << 8) : 0; }
    uint32_t u32(size_t at) const { return u16(at) | u16(at + 2) << 16; }
    std::string string(uint32_t at) const
    {
        std::string s;
        while (at && at < b.size() && b[at])
            s += char(b[at++]);
        return s;
    }
    uint32_t offset(uint32_t rva) const
    {
        for (const auto& [address, size, file] : sections)
            if (rva >= address && rva < address + size)
                return rva - address + file;
        return 0;
    }
    uint32_t directory(unsigned index) const { return offset(u32(directories + 8 * index)); }

    std::vector<std::string> exportNames() const
    {
        std::vector<std::string> names;
        for (uint32_t at = directory(0), i = 0; at && i < u32(at + 24); ++i)
            names.push_back(string(offset(u32(offset(u32(at + 32)) + 4 * i))));
        return names;
    }
    std::vector<std::string> importedDlls() const
    {
        std::vector<std::string> dlls;
        for (uint32_t at = directory(1); at && u32(at + 12); at += 20)
            dlls.push_back(string(offset(u32(at + 12))));
        return dlls;
    }

    // The file offset of what the entry of a resource directory whose name matches points to.
    template <typename Match> uint32_t child(uint32_t root, uint32_t at, Match match) const
    {
        for (uint32_t i = 0, e = at + 16; at && i < u16(at + 12) + u16(at + 14); ++i, e += 8)
            if (match(u32(e)))
                return root + (u32(e + 4) & 0x7FFFFFFFu);
        return 0;
    }
    // The data of resource type `type` (a name), id `id`, language `language`.
    std::vector<uint8_t> resource(const std::string& type, uint32_t id, uint32_t language) const
    {
        const uint32_t root = directory(2);
        const auto named = [&](uint32_t name) {
            const uint32_t at = root + (name & 0x7FFFFFFFu);
            bool same = (name & 0x80000000u) && u16(at) == type.size();
            for (uint32_t i = 0; same && i < type.size(); ++i)
                same = u16(at + 2 + 2 * i) == uint8_t(type[i]);
            return same;
        };
        const uint32_t entry
            = child(root, child(root, child(root, root, named), [&](uint32_t name) { return name == id; }),
                [&](uint32_t name) { return name == language; });
        const uint32_t data = offset(u32(entry)), size = u32(entry + 4);
        if (!entry || !data || size_t(data) + size > b.size())
            return {};
        return { b.begin() + data, b.begin() + data + size };
    }
};

struct ModuleCase {
    const char* path;
    bool is64;
};

class ModuleFile : public ::testing::TestWithParam<ModuleCase> { };

TEST_P(ModuleFile, IsAFilterModuleAHostCanFindAndLoadAlone)
{
    PeFile pe(GetParam().path);
    if (!pe.valid)
        GTEST_SKIP() << GetParam().path << " is not built in this configuration";
    EXPECT_EQ(pe.is64, GetParam().is64);
    EXPECT_EQ(pe.exportNames(), std::vector<std::string> { "ENTRYPOINT" });
    EXPECT_EQ(pe.resource("PIPL", IDR_PIPL, 1033), resources::pipl(GetParam().is64));
    EXPECT_EQ(pe.resource("AETE", IDR_AETE, 1033), resources::aete());
    for (std::string dll : pe.importedDlls()) {
        for (char& c : dll)
            c = char(std::tolower(static_cast<unsigned char>(c)));
        for (const char* runtime : { "libgcc", "libstdc++", "winpthread" })
            EXPECT_EQ(dll.find(runtime), std::string::npos) << dll;
    }
}

INSTANTIATE_TEST_SUITE_P(Builds, ModuleFile,
    ::testing::Values(
        ModuleCase { QUARVEL_MODULE32_PATH, false }, ModuleCase { QUARVEL_MODULE64_PATH, true }),
    [](const auto& info) { return info.param.is64 ? "Win64" : "Win32"; });

} // namespace
} // namespace quarvel::test
