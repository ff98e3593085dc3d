#include "tools/host/HostSettings.h"

#include "tools/host/FileSystem.h"

#include "settings/ParameterDocument.h"
#include "settings/ParameterTable.h"

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace quarvel::host {

namespace {

using Json = nlohmann::ordered_json;

void put(Descriptor& descriptor, uint32_t key, const std::string& value)
{
    for (DescriptorEntry& entry : descriptor)
        if (entry.key == key) {
            entry.value = value;
            return;
        }
    descriptor.push_back({ key, value });
}

bool parseKey(const std::string& text, uint32_t& key)
{
    if (text.size() != 4)
        return false;
    key = 0;
    for (char c : text)
        key = key << 8 | uint8_t(c);
    return true;
}

std::string number(double v)
{
    char text[64];
    std::snprintf(text, sizeof text, "%g", v);
    return text;
}

bool isInteger(const std::string& text)
{
    size_t i = (text.size() > 1 && (text[0] == '-' || text[0] == '+')) ? 1 : 0;
    if (i >= text.size() || text.size() - i > 10)
        return false;
    for (; i < text.size(); ++i)
        if (text[i] < '0' || text[i] > '9')
            return false;
    const long long v = std::strtoll(text.c_str(), nullptr, 10);
    return v >= INT32_MIN && v <= INT32_MAX;
}

bool isReal(const std::string& text)
{
    if (text.empty() || text.size() > 64)
        return false;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E'))
            return false;
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size() && errno == 0 && std::isfinite(v);
}

// The whole file, refused as "cannot read PATH: why" when it is a folder, a device or unreadable.
bool readWholeFile(const std::string& path, std::string& bytes, std::string& error)
{
    if (!checkReadableFile(path, error))
        return false;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    char piece[65536];
    size_t count = 0;
    while ((count = std::fread(piece, 1, sizeof piece, file)) > 0)
        bytes.append(piece, count);
    const bool failed = std::ferror(file) != 0;
    const int code = errno;
    std::fclose(file);
    if (failed) {
        error = "cannot read " + path + ": " + std::strerror(code);
        return false;
    }
    return true;
}

} // namespace

std::string settingsListing()
{
    std::ostringstream out;
    char line[160];
    auto row = [&](const char* name, const std::string& key, const char* type, const std::string& value,
                   const std::string& range) {
        std::snprintf(line, sizeof line, "%-18s %-4s %-7s %-10s %s\n", name, key.c_str(), type, value.c_str(),
            range.c_str());
        out << line;
    };
    auto setting = [&](const SettingInfo& s) {
        row(s.name, keyText(s.key), s.type == SettingType::Integer ? "integer" : "real",
            number(s.defaultValue), number(s.minimum) + ".." + number(s.maximum));
    };
    row("name", "key", "type", "default", "page range");
    for (SettingId id : kDescriptorOrder)
        setting(settingInfo(id));
    for (const SettingInfo& s : kSettings)
        if (s.scope == SettingScope::Extra)
            setting(s);
    return out.str();
}

bool readActionFile(const std::string& path, Descriptor& descriptor, std::string& error)
{
    std::string text;
    if (!readWholeFile(path, text, error))
        return false;
    Json json = Json::parse(text, nullptr, false);
    if (json.is_discarded() || !json.is_object()) {
        error = path + ": not an action file (a JSON object of four-character keys and text values)";
        return false;
    }
    for (auto it = json.begin(); it != json.end(); ++it) {
        uint32_t key = 0;
        if (!parseKey(it.key(), key)) {
            error = path + ": \"" + it.key() + "\" is not a four-character key";
            return false;
        }
        if (!it.value().is_string()) {
            error = path + ": the value of " + it.key() + " is not text";
            return false;
        }
        put(descriptor, key, it.value().get<std::string>());
    }
    return true;
}

std::string actionFileText(const Descriptor& descriptor)
{
    Json json = Json::object();
    for (const DescriptorEntry& entry : descriptor)
        json[keyText(entry.key)] = entry.value;
    return json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

bool applyPreset(const std::string& path, Descriptor& descriptor, std::string& error)
{
    std::string bytes;
    if (!readWholeFile(path, bytes, error))
        return false;
    // Asked of the text as it is: once loaded, a document holds every setting, with defaults.
    ParameterDocument asWritten;
    asWritten.setText(bytes.c_str());
    bool holdsOne = false;
    for (const SettingInfo& s : kSettings)
        holdsOne = holdsOne || asWritten.getString(s.name, nullptr, 0, nullptr) != 0;
    if (!holdsOne) {
        error = path + " holds no Quarvel setting: not a preset file (quarvel-host --list shows the names)";
        return false;
    }
    ParameterDocument document;
    document.loadFromMemory(bytes.data(), bytes.size());
    auto take = [&](const SettingInfo& s) {
        char value[1024] = {};
        if (document.getString(s.name, value, 1023, nullptr))
            put(descriptor, s.key, value);
    };
    for (SettingId id : kDescriptorOrder)
        take(settingInfo(id));
    for (const SettingInfo& s : kSettings)
        if (s.scope == SettingScope::Extra)
            take(s);
    return true;
}

bool applySetting(const std::string& assignment, Descriptor& descriptor, std::string& error)
{
    const size_t eq = assignment.find('=');
    if (eq == std::string::npos) {
        error = "--set needs NAME=VALUE, not \"" + assignment + "\"";
        return false;
    }
    const std::string name = assignment.substr(0, eq);
    const std::string value = assignment.substr(eq + 1);
    const SettingInfo* s = findSetting(name.c_str());
    if (!s) {
        error = "unknown setting \"" + name + "\" (quarvel-host --list shows them)";
        return false;
    }
    const bool integer = s->type == SettingType::Integer;
    if (integer ? !isInteger(value) : !isReal(value)) {
        error = "the value of " + name + " must be " + (integer ? "a whole number" : "a number") + ", not \""
            + value + "\"";
        return false;
    }
    put(descriptor, s->key, value);
    return true;
}

std::vector<std::string> valuesOutsidePageRange(const Descriptor& descriptor)
{
    std::vector<std::string> lines;
    for (const DescriptorEntry& entry : descriptor)
        for (const SettingInfo& s : kSettings) {
            if (s.key != entry.key || !isReal(entry.value))
                continue;
            const double v = std::strtod(entry.value.c_str(), nullptr);
            if (v < s.minimum || v > s.maximum)
                lines.push_back(std::string(s.name) + "=" + entry.value
                    + " is outside what the dialog offers (" + number(s.minimum) + ".." + number(s.maximum)
                    + "); it is used as given");
        }
    return lines;
}

} // namespace quarvel::host
