// Preset paths, labels, message texts and the file-name check: plain string work, the same in
// every build.
#include "presets/PresetNames.h"

#include <cstring>

namespace quarvel {

namespace {

char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

// The identity entries are plain ASCII words; the comparison ignores case as the listing always
// has.
bool equalsIgnoringCase(const char* a, const char* b)
{
    for (; *a && *b; ++a, ++b)
        if (lowerAscii(*a) != lowerAscii(*b))
            return false;
    return *a == *b;
}

// Windows opens a device, not a file, for these names with any extension after them, and for
// the same names followed by blanks.
bool isDeviceName(const std::string& name)
{
    std::string base = name.substr(0, name.find('.'));
    while (!base.empty() && base.back() == ' ')
        base.pop_back();
    for (char& c : base)
        c = lowerAscii(c);
    for (const char* device : { "con", "prn", "aux", "nul", "conin$", "conout$" })
        if (base == device)
            return true;
    return base.size() == 4 && (base.compare(0, 3, "com") == 0 || base.compare(0, 3, "lpt") == 0)
        && base[3] >= '0' && base[3] <= '9';
}

} // namespace

std::string presetFolderPath(const std::string& moduleDirectory)
{
    return moduleDirectory + kPresetFolderName;
}

std::string presetFilePath(const std::string& folderPath, const std::string& name)
{
    return folderPath + name + kPresetExtension;
}

std::string presetSearchPattern(const std::string& folderPath) { return folderPath + "*" + kPresetExtension; }

std::string presetLabel(const std::string& fileName, const char* plugInName, const char* version)
{
    std::string label;
    if (!plugInName || !equalsIgnoringCase(plugInName, "Quarvel") || !version)
        label = std::string(1, kForeignPresetMark) + "<v1.2> ";
    else if (!equalsIgnoringCase(version, "2.0"))
        label = std::string(1, kForeignPresetMark) + "<v" + version + "> ";
    const size_t extension = std::strlen(kPresetExtension);
    label += fileName.substr(0, fileName.size() > extension ? fileName.size() - extension : 0);
    return label;
}

std::string presetExistsQuestion(const std::string& name)
{
    return "Preset named \"" + name + "\" already exists.\n\rDo you want to replace with new settings?";
}

std::string cannotSavePresetMessage(const std::string& name)
{
    return "Cannot save preset with name \"" + name + "\".";
}

std::string deletePresetQuestion(const std::string& label)
{
    return "Do you want to delete a preset \"" + label + "\"?";
}

bool isPresetFileName(const std::string& name)
{
    if (name.empty() || name.size() > kPresetNameLimit)
        return false;
    for (const char c : name)
        if ((c >= 0 && c < ' ') || std::strchr("\\/:*?\"<>|", c))
            return false;
    return !isDeviceName(name);
}

} // namespace quarvel
