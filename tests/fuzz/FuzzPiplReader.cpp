// Arbitrary bytes as a module's PiPL resource, read for both architectures' code properties.
// Beyond not crashing, a success must hand the loader something it can use.
#include "pluginapi/PluginApi.h"
#include "tools/host/PiplReader.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    for (const uint32_t code : { pluginapi::PIWin32X86CodeProperty, pluginapi::PIWin64X86CodeProperty }) {
        quarvel::host::PiplFilterInfo info;
        std::string error;
        if (quarvel::host::readPiplFilterInfo(data, size, code, info, error)) {
            if (info.entryPoint.empty() || info.entryPoint.size() >= size || info.version > 0x00040000u)
                std::abort();
        } else if (error.empty()) {
            std::abort();
        }
    }
    return 0;
}
