// The native host runs the plug-in core linked into it, through the same entry point.
#include "tools/host/PluginModule.h"

#include "host/EntryPoint.h"

namespace quarvel::host {

bool loadPluginModule(const std::string& path, PluginModule& module, std::string& error)
{
    if (!path.empty()) {
        error = "--plugin is for the Windows host; this host runs the plug-in linked into it";
        return false;
    }
    module.entry = &ENTRYPOINT;
    return true;
}

void unloadPluginModule(PluginModule& module) { module.entry = nullptr; }

} // namespace quarvel::host
