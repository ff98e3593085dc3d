// Settings as the command-line host hands them to the plug-in: a scripting descriptor built
// from an action file, a preset and single NAME=VALUE settings, checked before the plug-in runs.
#pragma once

#include "tools/host/HostSession.h"

#include <string>

namespace quarvel::host {

// The setting table as --list prints it.
std::string settingsListing();

// Reads an action file: a JSON object of four-character keys and text values, in file order.
bool readActionFile(const std::string& path, Descriptor& descriptor, std::string& error);
// Writes one, whole or not at all.
bool writeActionFile(const std::string& path, const Descriptor& descriptor, std::string& error);

// Every setting a preset file holds, in descriptor order, replacing the same keys.
bool applyPreset(const std::string& path, Descriptor& descriptor, std::string& error);
// NAME=VALUE: the name must be a setting and the value a number of its type; the value then
// travels exactly as written.
bool applySetting(const std::string& assignment, Descriptor& descriptor, std::string& error);

} // namespace quarvel::host
