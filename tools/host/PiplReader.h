// Reads a plug-in property list (PiPL resource) the way hosts do, to find out whether a module is
// a filter and under which exported name its entry point lives for a given architecture.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quarvel::host {

struct PiplFilterInfo {
    std::string name; // "name" property (menu item)
    std::string category; // "catg" property (submenu)
    uint32_t version = 0; // "vers" property (major << 16 | minor)
    std::string entryPoint; // entry name under the requested code property
};

// `codeProperty` is the architecture's code key: 'wx86' for 32-bit x86, '8664' for x86_64.
// Fails with a message (bad header, truncated property, kind not 8BFM, no entry name for the
// architecture, interface version newer than 4.0) and never reads outside [data, data + size).
bool readPiplFilterInfo(
    const uint8_t* data, size_t size, uint32_t codeProperty, PiplFilterInfo& info, std::string& error);

} // namespace quarvel::host
