// The settings as the host's actions carry them: read from the scripting descriptor at the
// start of a run, written into a new one at its end. Every value travels as the document's
// own text under the setting's four-character key.
#pragma once

#include "pluginapi/PluginApi.h"

namespace quarvel {

class FilterContext;

// 1 if the dialog is to be shown. Fills the context's parameters; the reader's closing result
// becomes the context's result.
int ReadScriptParameters(FilterContext& context);
// Writes every setting into a new descriptor for the host; the result is not used.
int WriteScriptParameters(FilterContext& context);

bool descriptorSupportAvailable(const pluginapi::FilterRecord& record);
bool handleProcsUsable(const pluginapi::FilterRecord& record);
// Disposes of a handle the host gave us, with its own procedures where it offers them.
void disposeHostHandle(const pluginapi::FilterRecord& record, pluginapi::Handle handle);

} // namespace quarvel
