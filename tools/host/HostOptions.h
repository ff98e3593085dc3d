// The command line of quarvel-host: a stable contract that scripts and tests rely on.
#pragma once

#include <string>
#include <vector>

namespace quarvel::host {

enum ExitCode : int {
    kExitDone = 0,
    kExitUsage = 2,
    kExitInputOutput = 3,
    kExitCancelled = 4,   // cancelled by the user or refused by the plug-in (-128)
    kExitPluginError = 5, // any other plug-in result code
};

struct HostOptions {
    std::string input;
    std::string output;
    std::string preset;
    std::vector<std::string> sets; // NAME=VALUE, in command-line order
    std::string play;
    std::string record;
    std::string plugin;
    bool dialog = false;
    bool list = false;
    bool quiet = false;
    bool help = false;
    bool version = false;
};

// False with a message for unknown options, missing values and a wrong number of file names.
bool parseHostOptions(int argc, const char* const* argv, HostOptions& options, std::string& error);

std::string hostUsage();

// The same command line for the Windows host under Wine: the native build has no dialog.
std::string windowsHostCommand(int argc, const char* const* argv);

} // namespace quarvel::host
