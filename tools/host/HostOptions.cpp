#include "tools/host/HostOptions.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace quarvel::host {

std::string hostUsage()
{
    return "usage: quarvel-host [options] INPUT OUTPUT\n"
           "       quarvel-host [options] INPUT... -o DIR\n"
           "  -p, --preset FILE      settings from a preset file (the plug-in's text format)\n"
           "  -s, --set NAME=VALUE   one setting by its name (repeatable; applied after --preset)\n"
           "      --play FILE        play back a recorded action file (JSON: key -> text value)\n"
           "      --record FILE      write the descriptor the plug-in hands back, as such a file\n"
           "      --dialog           show the plug-in's dialog, starting from the settings above\n"
           "                         (Windows builds: quarvel-host.exe, also under Wine)\n"
           "      --plugin FILE      the module to load (Windows builds; default: beside the host)\n"
           "  -o, --output-dir DIR   a batch: every INPUT with the same settings, into DIR\n"
           "      --suffix TEXT      a batch's output names: the input's name, TEXT, the extension\n"
           "      --format FORMAT    a batch's output format: png, tif or jpg (default: the input's)\n"
           "      --quality N        JPEG quality, 1..100 (default 95)\n"
           "      --compression N    PNG compression, 0 (fastest) .. 9 (smallest)\n"
           "      --force            replace a read-only output file (it stays read-only)\n"
           "      --list             print the settings: name, key, type, default, page range\n"
           "  -q, --quiet            no progress\n"
           "  -h, --help             this text\n"
           "      --version          the host's version\n"
           "Images: PNG and TIFF (8 or 16 bits, RGB or RGBA), JPEG (8-bit RGB).\n"
           "Exit: 0 done, 2 usage, 3 input/output error, 4 cancelled or refused by the plug-in,\n"
           "      5 any other plug-in result code; a batch exits with the highest code of the\n"
           "      files that failed.\n";
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

namespace {

bool parseNumber(const std::string& text, int low, int high, int& value)
{
    if (text.empty() || text.size() > 4 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = std::stoi(text);
    return value >= low && value <= high;
}

ImageFormat formatByName(std::string name)
{
    for (char& c : name)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return name.empty() || name.find_first_of("./\\") != std::string::npos ? ImageFormat::Unknown
                                                                           : formatFromPath("." + name);
}

} // namespace

bool parseHostOptions(int argc, const char* const* argv, HostOptions& options, std::string& error)
{
    std::vector<std::string> files;
    bool onlyFiles = false;
    bool hasSuffix = false;
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
        // An empty value is a mistake (a variable that was not set), never a name.
        auto value = [&](std::string& out, bool mayBeEmpty = false) {
            if (hasInline)
                out = inlineValue;
            else if (i + 1 < argc)
                out = argv[++i];
            else {
                error = "option " + name + " needs a value";
                return false;
            }
            if (out.empty() && !mayBeEmpty) {
                error = "option " + name + " needs a value, not an empty one";
                return false;
            }
            return true;
        };
        auto number = [&](int low, int high, int& out) {
            std::string text;
            if (!value(text))
                return false;
            if (!parseNumber(text, low, high, out)) {
                error = "option " + name + " takes a whole number from " + std::to_string(low) + " to "
                    + std::to_string(high) + ", not \"" + text + "\"";
                return false;
            }
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
        else if (name == "-o" || name == "--output-dir")
            ok = value(options.outputDir);
        else if (name == "--suffix") {
            ok = value(options.suffix, true);
            hasSuffix = true;
            if (ok && options.suffix.find_first_of("/\\") != std::string::npos) {
                error = "--suffix is added to a file name and cannot hold a folder separator";
                ok = false;
            }
        } else if (name == "--format") {
            std::string format;
            ok = value(format);
            options.format = ok ? formatByName(format) : ImageFormat::Unknown;
            if (ok && options.format == ImageFormat::Unknown) {
                error = "--format takes png, tif or jpg, not \"" + format + "\"";
                ok = false;
            }
        } else if (name == "--quality")
            ok = number(1, 100, options.write.jpegQuality);
        else if (name == "--compression")
            ok = number(0, 9, options.write.pngCompression);
        else if (name == "--force")
            ok = flag(options.force);
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
    if (options.batch()) {
        if (files.empty()) {
            error = "a batch (-o DIR) needs at least one INPUT";
            return false;
        }
        // One action file and one dialog answer one image.
        if (!options.record.empty() || options.dialog) {
            error = std::string(options.dialog ? "--dialog" : "--record")
                + " works on one image (INPUT OUTPUT), not on a batch";
            return false;
        }
        options.inputs = files;
        return true;
    }
    if (hasSuffix || options.format != ImageFormat::Unknown) {
        error = "--suffix and --format name the outputs of a batch (-o DIR); OUTPUT's own name gives its "
                "format";
        return false;
    }
    if (files.size() != 2) {
        error = files.size() < 2
            ? "an INPUT and an OUTPUT file are needed (or INPUT... -o DIR)"
            : "too many file names: only INPUT and OUTPUT are taken (a batch: INPUT... -o DIR)";
        return false;
    }
    options.input = files[0];
    options.output = files[1];
    return true;
}

} // namespace quarvel::host
