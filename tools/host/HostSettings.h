// Settings as the command-line host hands them to the plug-in: a scripting descriptor built
// from an action file, a preset and single NAME=VALUE settings, checked before the plug-in runs.
#pragma once

#include "tools/host/HostSession.h"

#include <string>
#include <vector>

namespace quarvel::host {

// The setting table as --list prints it.
std::string settingsListing();

// Reads an action file: a JSON object of four-character keys and text values, in file order.
// A folder, a device or anything that is not such an object is refused with a message.
bool readActionFile(const std::string& path, Descriptor& descriptor, std::string& error);
// The text of one, as readActionFile reads it.
std::string actionFileText(const Descriptor& descriptor);

// Every setting of a preset file, in descriptor order, replacing the same keys: those it holds,
// and the defaults of those it leaves out. A file that holds none at all (an image, an empty
// file) is refused.
bool applyPreset(const std::string& path, Descriptor& descriptor, std::string& error);
// NAME=VALUE: the name must be a setting and the value a number of its type; the value then
// travels exactly as written.
bool applySetting(const std::string& assignment, Descriptor& descriptor, std::string& error);

// One line for each setting in `descriptor` whose value lies outside what the settings pages
// offer, with that range. Actions may carry such values, and the plug-in takes them.
std::vector<std::string> valuesOutsidePageRange(const Descriptor& descriptor);

} // namespace quarvel::host
