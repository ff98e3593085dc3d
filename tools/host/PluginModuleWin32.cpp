// Loads a filter module as a Windows host does: the PiPL resource must describe a filter, and
// the entry point is the export it names for this process's architecture.
#include "tools/host/PiplReader.h"
#include "tools/host/PluginModule.h"

#include <windows.h>

#include <vector>

namespace quarvel::host {

namespace {

#if defined(_WIN64)
constexpr uint32_t kCodeProperty = pluginapi::PIWin64X86CodeProperty;
constexpr const char* kDefaultModule = "quarvel64.8bf";
#else
constexpr uint32_t kCodeProperty = pluginapi::PIWin32X86CodeProperty;
constexpr const char* kDefaultModule = "quarvel.8bf";
#endif

std::string besideHost(const char* name)
{
    char self[MAX_PATH] = {};
    DWORD n = GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string dir(self, n);
    const size_t slash = dir.find_last_of("\\/");
    dir = slash == std::string::npos ? std::string() : dir.substr(0, slash + 1);
    return dir + name;
}

struct PiplSearch {
    std::vector<std::vector<uint8_t>> blocks;
};

BOOL CALLBACK collectPipl(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR param)
{
    auto* search = reinterpret_cast<PiplSearch*>(param);
    HRSRC info = FindResourceA(module, name, type);
    if (!info)
        return TRUE;
    HGLOBAL loaded = LoadResource(module, info);
    const DWORD size = SizeofResource(module, info);
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (bytes && size)
        search->blocks.emplace_back(
            static_cast<const uint8_t*>(bytes), static_cast<const uint8_t*>(bytes) + size);
    return TRUE;
}

} // namespace

bool loadPluginModule(const std::string& path, PluginModule& module, std::string& error)
{
    module.path = path.empty() ? besideHost(kDefaultModule) : path;
    HMODULE handle = LoadLibraryA(module.path.c_str());
    if (!handle) {
        error = module.path + ": cannot load the module (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    PiplSearch search;
    EnumResourceNamesA(handle, "PIPL", collectPipl, reinterpret_cast<LONG_PTR>(&search));
    std::string why = "it has no PiPL resource";
    for (const auto& block : search.blocks) {
        PiplFilterInfo info;
        if (!readPiplFilterInfo(block.data(), block.size(), kCodeProperty, info, why))
            continue;
        FARPROC proc = GetProcAddress(handle, info.entryPoint.c_str());
        if (!proc) {
            why = "its PiPL names the entry point " + info.entryPoint + ", which it does not export";
            continue;
        }
        module.entry = reinterpret_cast<pluginapi::PluginEntryProc>(reinterpret_cast<void*>(proc));
        module.handle = handle;
        return true;
    }
    FreeLibrary(handle);
    error = module.path + ": not a usable filter module: " + why;
    return false;
}

void unloadPluginModule(PluginModule& module)
{
    if (module.handle)
        FreeLibrary(static_cast<HMODULE>(module.handle));
    module.handle = nullptr;
    module.entry = nullptr;
}

} // namespace quarvel::host
