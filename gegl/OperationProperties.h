// The operation's properties: one per setting of the parameter table, in the order of the
// settings pages, plus the preset file. Names are the settings' names in kebab-case (ShadowAmount
// is shadow-amount); check boxes become booleans, the sharpening radio group a choice, sliders
// numbers whose soft range is the slider's and whose hard range is far wider, because recorded
// actions and scripts may carry any value and the plug-in takes it.
#pragma once

#include "settings/ParameterTable.h"
#include "tools/host/HostSession.h"

#include <glib-object.h>

#include <array>
#include <string>

namespace quarvel::gegl {

struct OperationValues {
    // Booleans and the choice as 0 and 1, like the document holds them.
    std::array<double, kSettingCount> settings {};
    std::string preset;
};

OperationValues defaultValues();

// Registers the choice type with the module; before the operation's class is first used.
void registerPropertyTypes(GTypeModule* module);
void installProperties(GObjectClass* klass);

// A value that is not a number is refused with a warning, and the one before it kept.
void setProperty(OperationValues& values, guint id, const GValue* value, GParamSpec* pspec);
void getProperty(const OperationValues& values, guint id, GValue* value);

// The settings of a run as the host's --preset and --set would give them: the preset file first,
// then every setting whose property differs from the default. Without a preset every setting is
// written. A preset that cannot be read is left out, and `warning` says why.
host::Descriptor runDescriptor(const OperationValues& values, std::string& warning);

// "ShadowAmount" -> "shadow-amount".
std::string propertyName(const char* settingName);

} // namespace quarvel::gegl
