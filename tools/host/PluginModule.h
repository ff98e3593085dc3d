// Finding the filter's entry point: natively the plug-in is linked into the host; on Windows the
// .8bf module is loaded and its property list names the export for this architecture.
#pragma once

#include "pluginapi/PluginApi.h"

#include <string>

namespace quarvel::host {

struct PluginModule {
    pluginapi::PluginEntryProc entry = nullptr;
    std::string path; // the module file, empty when linked in
    void* handle = nullptr;
};

// `path` empty: the default module (the one linked in, or the .8bf beside the host).
bool loadPluginModule(const std::string& path, PluginModule& module, std::string& error);
void unloadPluginModule(PluginModule& module);

} // namespace quarvel::host
