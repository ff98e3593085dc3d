#include "tools/host/PiplReader.h"

#include "pluginapi/PluginApi.h"

#include <cstdio>

namespace quarvel::host {

namespace {

uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }

uint32_t le32(const uint8_t* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

// For messages: the code as its characters when they are printable, else as a number.
std::string codeText(uint32_t code)
{
    std::string text = "'";
    for (int shift = 24; shift >= 0; shift -= 8) {
        const char c = char((code >> shift) & 0xFF);
        if (c < 0x20 || c > 0x7E) {
            char hex[16];
            std::snprintf(hex, sizeof hex, "0x%08X", unsigned(code));
            return hex;
        }
        text += c;
    }
    return text + "'";
}

std::string keyName(uint32_t key) { return "its PiPL " + codeText(key) + " property"; }

bool readPascal(const uint8_t* p, size_t length, uint32_t key, std::string& out, std::string& error)
{
    if (length == 0) {
        out.clear();
        return true;
    }
    if (size_t(p[0]) > length - 1) {
        error = keyName(key) + " holds a string longer than the property";
        return false;
    }
    out.assign(reinterpret_cast<const char*>(p + 1), p[0]);
    return true;
}

} // namespace

bool readPiplFilterInfo(
    const uint8_t* data, size_t size, uint32_t codeProperty, PiplFilterInfo& info, std::string& error)
{
    info = PiplFilterInfo {};
    if (!data)
        size = 0;
    if (size < 10) {
        error = "its PiPL is shorter than the PiPL header";
        return false;
    }
    if (le16(data) != 1) {
        error = "its PiPL does not start with 1";
        return false;
    }
    const uint32_t version = le32(data + 2);
    if (version != 0) {
        error = "its PiPL has version " + std::to_string(int32_t(version)) + ", not 0";
        return false;
    }
    const auto count = int32_t(le32(data + 6));
    if (count < 0) {
        error = "its PiPL has a negative property count (" + std::to_string(count) + ")";
        return false;
    }

    // Every read below is checked against `size - offset`, the bytes that are left. Each
    // property takes at least its 16-byte header, so a count larger than the data can hold
    // ends in the truncation check, not in a long loop.
    size_t offset = 10;
    bool haveKind = false;
    for (int32_t index = 0; index < count; ++index) {
        const auto where = [&] {
            return " (property " + std::to_string(index + 1) + " of " + std::to_string(count) + ")";
        };
        if (size - offset < 16) {
            error = "its PiPL ends inside a property header" + where();
            return false;
        }
        const uint32_t vendor = le32(data + offset);
        const uint32_t key = le32(data + offset + 4);
        const auto length = int32_t(le32(data + offset + 12));
        offset += 16;
        if (length < 0 || size_t(length) > size - offset) {
            error = keyName(key) + " claims " + std::to_string(length) + " bytes, "
                + std::to_string(size - offset) + " are left" + where();
            return false;
        }
        const uint8_t* body = data + offset;
        const auto bodySize = size_t(length);
        // Some writers leave the padding out of the length. The data itself must fit; the
        // padding may be cut off at the very end.
        const size_t padded = (bodySize + 3) & ~size_t(3);
        offset += padded < size - offset ? padded : size - offset;
        if (vendor != pluginapi::kPhotoshopSignature)
            continue;

        if (key == pluginapi::PIKindProperty) {
            if (bodySize < 4) {
                error = keyName(key) + " is too short";
                return false;
            }
            const uint32_t kind = le32(body);
            if (kind != pluginapi::kFilterModuleKind) {
                error = "it is not a filter (kind " + codeText(kind) + ")";
                return false;
            }
            haveKind = true;
        } else if (key == pluginapi::PINameProperty) {
            if (!readPascal(body, bodySize, key, info.name, error))
                return false;
        } else if (key == pluginapi::PICategoryProperty) {
            if (!readPascal(body, bodySize, key, info.category, error))
                return false;
        } else if (key == pluginapi::PIVersionProperty) {
            if (bodySize < 4) {
                error = keyName(key) + " is too short";
                return false;
            }
            info.version = le32(body);
            const uint32_t major = info.version >> 16;
            const uint32_t minor = info.version & 0xFFFF;
            const auto hostMajor = uint32_t(pluginapi::latestFilterVersion);
            const auto hostMinor = uint32_t(pluginapi::latestFilterSubVersion);
            if (major > hostMajor || (major == hostMajor && minor > hostMinor)) {
                error = "the module needs filter interface " + std::to_string(major) + "."
                    + std::to_string(minor) + ", this host offers " + std::to_string(hostMajor) + "."
                    + std::to_string(hostMinor);
                return false;
            }
        } else if (key == codeProperty) {
            // A name without its NUL ends where the property does. A later one replaces an
            // earlier one, as in the hosts that keep the last one seen.
            size_t n = 0;
            while (n < bodySize && body[n] != 0)
                ++n;
            info.entryPoint.assign(reinterpret_cast<const char*>(body), n);
        }
    }

    if (!haveKind) {
        error = "its PiPL has no 'kind' property";
        return false;
    }
    if (info.entryPoint.empty()) {
        error = "its PiPL names no entry point under " + codeText(codeProperty);
        return false;
    }
    return true;
}

} // namespace quarvel::host
