// The module file as a host meets it before calling anything: its resources, its one export,
// and no dependence on compiler runtime DLLs that a photographer's machine will not have.
#include "resources/PluginResources.h"
#include "resources/ResourceIds.h"
#include "tests/support/FakeHost.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

namespace quarvel::test {
namespace {

HMODULE module()
{
    static HMODULE handle = LoadLibraryA(sizeof(void*) == 8 ? "quarvel64.8bf" : "quarvel.8bf");
    return handle;
}

std::vector<uint8_t> resourceBytes(const char* type, int id)
{
    HRSRC found
        = FindResourceExA(module(), type, MAKEINTRESOURCEA(id), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    if (!found)
        return {};
    HGLOBAL loaded = LoadResource(module(), found);
    const auto* bytes = static_cast<const uint8_t*>(LockResource(loaded));
    return std::vector<uint8_t>(bytes, bytes + SizeofResource(module(), found));
}

const IMAGE_NT_HEADERS* headers()
{
    const auto* base = reinterpret_cast<const uint8_t*>(module());
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    return reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
}

template <typename T> const T* at(DWORD rva)
{
    return reinterpret_cast<const T*>(reinterpret_cast<const uint8_t*>(module()) + rva);
}

TEST(Module, CarriesThePropertyListAndTerminologyByteForByte)
{
    ASSERT_NE(module(), nullptr);
    EXPECT_EQ(resourceBytes("PIPL", IDR_PIPL), resources::pipl(sizeof(void*) == 8));
    EXPECT_EQ(resourceBytes("AETE", IDR_AETE), resources::aete());
    // Hosts look the list up as "PiPL"; resource type names match without regard to case.
    EXPECT_FALSE(resourceBytes("PiPL", IDR_PIPL).empty());
}

TEST(Module, ExportsOnlyTheEntryPointUnderItsPlainName)
{
    ASSERT_NE(module(), nullptr);
    const auto& directory = headers()->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    ASSERT_NE(directory.VirtualAddress, 0u);
    const auto* exports = at<IMAGE_EXPORT_DIRECTORY>(directory.VirtualAddress);
    ASSERT_EQ(exports->NumberOfNames, 1u);
    const auto* names = at<DWORD>(exports->AddressOfNames);
    EXPECT_STREQ(at<char>(names[0]), "ENTRYPOINT");
    EXPECT_NE(GetProcAddress(module(), "ENTRYPOINT"), nullptr);
}

TEST(Module, NeedsNoCompilerRuntimeDlls)
{
    ASSERT_NE(module(), nullptr);
    const auto& directory = headers()->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    ASSERT_NE(directory.VirtualAddress, 0u);
    for (const auto* d = at<IMAGE_IMPORT_DESCRIPTOR>(directory.VirtualAddress); d->Name != 0; ++d) {
        std::string name = at<char>(d->Name);
        std::transform(
            name.begin(), name.end(), name.begin(), [](unsigned char c) { return char(std::tolower(c)); });
        EXPECT_EQ(name.find("libgcc"), std::string::npos) << name;
        EXPECT_EQ(name.find("libstdc++"), std::string::npos) << name;
        EXPECT_EQ(name.find("winpthread"), std::string::npos) << name;
    }
}

} // namespace
} // namespace quarvel::test
