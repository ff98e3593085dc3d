// The command line of quarvel-host: a stable contract that scripts and tests rely on.
#pragma once

#include "tools/host/ImageFile.h"

#include <string>
#include <vector>

namespace quarvel::host {

enum ExitCode : int {
    kExitDone = 0,
    kExitUsage = 2,
    kExitInputOutput = 3,
    kExitCancelled = 4, // cancelled by the user or refused by the plug-in (-128)
    kExitPluginError = 5, // any other plug-in result code
};

struct HostOptions {
    std::string input; // one image: INPUT OUTPUT
    std::string output;
    std::vector<std::string> inputs; // a batch: INPUT... -o DIR
    std::string outputDir;
    std::string suffix; // added to each input's stem in a batch
    ImageFormat format = ImageFormat::Unknown; // a batch's output format; Unknown: each input's own
    std::string preset;
    std::vector<std::string> sets; // NAME=VALUE, in command-line order
    std::string play;
    std::string record;
    std::string plugin;
    WriteOptions write;
    bool force = false;
    bool dialog = false;
    bool list = false;
    bool quiet = false;
    bool help = false;
    bool version = false;

    bool batch() const { return !outputDir.empty(); }
};

// False with a message for unknown options, missing or empty values, values out of range, a
// wrong number of file names and options that do not go together (--record or --dialog in a
// batch, --format or --suffix without one).
bool parseHostOptions(int argc, const char* const* argv, HostOptions& options, std::string& error);

std::string hostUsage();

// The same command line for the Windows host under Wine: the native build has no dialog.
std::string windowsHostCommand(int argc, const char* const* argv);

} // namespace quarvel::host
