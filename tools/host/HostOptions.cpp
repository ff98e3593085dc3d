#include "tools/host/HostOptions.h"

#include <algorithm>
#include <cstring>

namespace quarvel::host {

std::string hostUsage()
{
    return "usage: quarvel-host [options] INPUT OUTPUT\n"
           "  -p, --preset FILE      settings from a preset file (the plug-in's text format)\n"
           "  -s, --set NAME=VALUE   one setting by its name (repeatable; applied after --preset)\n"
           "      --play FILE        play back a recorded action file (JSON: key -> text value)\n"
           "      --record FILE      write the descriptor the plug-in hands back, as such a file\n"
           "      --dialog           show the plug-in's dialog, starting from the settings above\n"
           "                         (Windows builds: quarvel-host.exe, also under Wine)\n"
           "      --plugin FILE      the module to load (Windows builds; default: beside the host)\n"
           "      --list             print the settings: name, key, type, default, page range\n"
           "  -q, --quiet            no progress bar\n"
           "  -h, --help             this text\n"
           "      --version          the host's version\n"
           "Images: PNG and TIFF (8 or 16 bits, RGB or RGBA), JPEG (8-bit RGB).\n"
           "Exit: 0 done, 2 usage, 3 input/output error, 4 cancelled or refused by the plug-in,\n"
           "      5 any other plug-in result code.\n";
}

namespace {

// Quoted for a POSIX shell only where the word would not survive as it is.
std::string shellWord(const std::string& word)
{
    const char* safe = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-+=.,/:@%";
    if (!word.empty() && word.find_first_not_of(safe) == std::string::npos)
        return word;
    std::string quoted = "'";
    for (const char c : word)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

} // namespace

std::string windowsHostCommand(int argc, const char* const* argv)
{
    // Run from its build folder, the native host knows where the Windows one is built.
    std::string program = "build/win64/bin/quarvel-host.exe";
    const std::string self = argc > 0 && argv[0] ? argv[0] : "";
    const std::string nativeTail = "native/bin/quarvel-host";
    const size_t at = self.size() - std::min(self.size(), nativeTail.size());
    if (self.compare(at, std::string::npos, nativeTail) == 0)
        program = self.substr(0, at) + "win64/bin/quarvel-host.exe";
    std::string command = "wine " + shellWord(program);
    for (int i = 1; i < argc; ++i)
        command += " " + shellWord(argv[i]);
    return command;
}

bool parseHostOptions(int argc, const char* const* argv, HostOptions& options, std::string& error)
{
    std::vector<std::string> files;
    bool onlyFiles = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (onlyFiles || arg.empty() || arg[0] != '-' || arg == "-") {
            files.push_back(arg);
            continue;
        }
        if (arg == "--") {
            onlyFiles = true;
            continue;
        }
        // --name=value is accepted for every option that takes a value.
        std::string name = arg;
        std::string inlineValue;
        bool hasInline = false;
        if (arg.rfind("--", 0) == 0) {
            const size_t eq = arg.find('=');
            if (eq != std::string::npos) {
                name = arg.substr(0, eq);
                inlineValue = arg.substr(eq + 1);
                hasInline = true;
            }
        }
        auto value = [&](std::string& out) {
            if (hasInline) {
                out = inlineValue;
                return true;
            }
            if (i + 1 >= argc) {
                error = "option " + name + " needs a value";
                return false;
            }
            out = argv[++i];
            return true;
        };
        auto flag = [&](bool& out) {
            if (hasInline) {
                error = "option " + name + " takes no value";
                return false;
            }
            out = true;
            return true;
        };
        bool ok = true;
        if (name == "-p" || name == "--preset")
            ok = value(options.preset);
        else if (name == "-s" || name == "--set") {
            std::string setting;
            ok = value(setting);
            if (ok)
                options.sets.push_back(setting);
        } else if (name == "--play")
            ok = value(options.play);
        else if (name == "--record")
            ok = value(options.record);
        else if (name == "--plugin")
            ok = value(options.plugin);
        else if (name == "--dialog")
            ok = flag(options.dialog);
        else if (name == "--list")
            ok = flag(options.list);
        else if (name == "-q" || name == "--quiet")
            ok = flag(options.quiet);
        else if (name == "-h" || name == "--help")
            ok = flag(options.help);
        else if (name == "--version")
            ok = flag(options.version);
        else {
            error = "unknown option " + name;
            return false;
        }
        if (!ok)
            return false;
    }
    if (options.help || options.version || options.list) {
        if (!files.empty() && options.list && !options.help && !options.version) {
            error = "--list takes no file names";
            return false;
        }
        return true;
    }
    if (files.size() != 2) {
        error = files.size() < 2 ? "an INPUT and an OUTPUT file are needed"
                                 : "too many file names: only INPUT and OUTPUT are taken";
        return false;
    }
    options.input = files[0];
    options.output = files[1];
    return true;
}

} // namespace quarvel::host
