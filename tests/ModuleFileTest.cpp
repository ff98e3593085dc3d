// The built modules read as files, the way a host's plug-in scan sees them before loading:
// this also covers the 32-bit module on machines that cannot run 32-bit code.
#include "resources/PluginResources.h"
#include "resources/ResourceIds.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace quarvel::test {
namespace {

// A minimal reader of PE files: just enough for exports, imports and resources.
class PeFile {
public:
    explicit PeFile(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        bytes_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        if (bytes_.size() < 0x40 || u16(0) != 0x5A4D)
            return;
        const uint32_t pe = u32(0x3C);
        if (u32(pe) != 0x00004550)
            return;
        const uint16_t sections = u16(pe + 6);
        const uint16_t optionalSize = u16(pe + 20);
        const uint32_t optional = pe + 24;
        is64_ = u16(optional) == 0x20B;
        directories_ = optional + (is64_ ? 112 : 96);
        for (uint16_t i = 0; i < sections; ++i) {
            const uint32_t s = optional + optionalSize + 40u * i;
            sections_.push_back({ u32(s + 12), u32(s + 8), u32(s + 20) });
        }
        valid_ = true;
    }

    bool valid() const { return valid_; }
    bool is64() const { return is64_; }

    std::vector<std::string> exportNames() const
    {
        std::vector<std::string> names;
        const uint32_t dir = directoryRva(0);
        if (!dir)
            return names;
        const uint32_t count = u32(offset(dir + 24));
        const uint32_t table = offset(u32(offset(dir + 32)));
        for (uint32_t i = 0; i < count; ++i)
            names.push_back(string(offset(u32(table + 4 * i))));
        return names;
    }

    std::vector<std::string> importedDlls() const
    {
        std::vector<std::string> dlls;
        uint32_t descriptor = offset(directoryRva(1));
        for (; descriptor && u32(descriptor + 12) != 0; descriptor += 20)
            dlls.push_back(string(offset(u32(descriptor + 12))));
        return dlls;
    }

    // The data of resource type `type` (a name), id `id`, language `language`.
    std::vector<uint8_t> resource(const std::string& type, uint32_t id, uint32_t language) const
    {
        const uint32_t root = offset(directoryRva(2));
        if (!root)
            return {};
        const uint32_t typeDir = child(root, root, [&](uint32_t name) {
            if (!(name & 0x80000000u))
                return false;
            const uint32_t at = root + (name & 0x7FFFFFFFu);
            const uint16_t length = u16(at);
            if (length != type.size())
                return false;
            for (uint16_t i = 0; i < length; ++i)
                if (u16(at + 2 + 2u * i) != uint8_t(type[i]))
                    return false;
            return true;
        });
        const uint32_t idDir = typeDir ? child(root, typeDir, [&](uint32_t name) { return name == id; }) : 0;
        const uint32_t entry
            = idDir ? child(root, idDir, [&](uint32_t name) { return name == language; }) : 0;
        if (!entry)
            return {};
        const uint32_t data = offset(u32(entry));
        const uint32_t size = u32(entry + 4);
        if (!data || size_t(data) + size > bytes_.size())
            return {};
        return std::vector<uint8_t>(bytes_.begin() + data, bytes_.begin() + data + size);
    }

private:
    struct Section {
        uint32_t rva, size, file;
    };

    uint16_t u16(size_t at) const
    {
        return at + 2 <= bytes_.size() ? uint16_t(bytes_[at] | (bytes_[at + 1] << 8)) : 0;
    }
    uint32_t u32(size_t at) const { return uint32_t(u16(at)) | (uint32_t(u16(at + 2)) << 16); }
    std::string string(uint32_t at) const
    {
        std::string s;
        while (at && at < bytes_.size() && bytes_[at])
            s += char(bytes_[at++]);
        return s;
    }
    uint32_t directoryRva(int index) const { return u32(directories_ + 8u * unsigned(index)); }
    uint32_t offset(uint32_t rva) const
    {
        for (const Section& s : sections_)
            if (rva >= s.rva && rva < s.rva + s.size)
                return rva - s.rva + s.file;
        return 0;
    }
    // Finds the entry of a resource directory whose name matches; returns the file offset of
    // the subdirectory or data entry it points to.
    template <typename Match> uint32_t child(uint32_t root, uint32_t directory, Match match) const
    {
        const uint32_t entries = uint32_t(u16(directory + 12)) + u16(directory + 14);
        for (uint32_t i = 0; i < entries; ++i) {
            const uint32_t e = directory + 16 + 8 * i;
            if (match(u32(e)))
                return root + (u32(e + 4) & 0x7FFFFFFFu);
        }
        return 0;
    }

    std::vector<uint8_t> bytes_;
    std::vector<Section> sections_;
    uint32_t directories_ = 0;
    bool valid_ = false;
    bool is64_ = false;
};

struct ModuleCase {
    const char* path;
    bool is64;
};

class ModuleFile : public ::testing::TestWithParam<ModuleCase> { };

TEST_P(ModuleFile, IsAFilterModuleAHostCanFindAndLoadAlone)
{
    PeFile pe(GetParam().path);
    if (!pe.valid())
        GTEST_SKIP() << GetParam().path << " is not built in this configuration";
    EXPECT_EQ(pe.is64(), GetParam().is64);
    EXPECT_EQ(pe.exportNames(), std::vector<std::string> { "ENTRYPOINT" });
    EXPECT_EQ(pe.resource("PIPL", IDR_PIPL, 1033), resources::pipl(GetParam().is64));
    EXPECT_EQ(pe.resource("AETE", IDR_AETE, 1033), resources::aete());
    for (std::string dll : pe.importedDlls()) {
        for (char& c : dll)
            c = char(std::tolower(static_cast<unsigned char>(c)));
        EXPECT_EQ(dll.find("libgcc"), std::string::npos) << dll;
        EXPECT_EQ(dll.find("libstdc++"), std::string::npos) << dll;
        EXPECT_EQ(dll.find("winpthread"), std::string::npos) << dll;
    }
}

INSTANTIATE_TEST_SUITE_P(Builds, ModuleFile,
    ::testing::Values(
        ModuleCase { QUARVEL_MODULE32_PATH, false }, ModuleCase { QUARVEL_MODULE64_PATH, true }),
    [](const auto& info) { return info.param.is64 ? "Win64" : "Win32"; });

} // namespace
} // namespace quarvel::test
