// Binds a settings row to a field of an engine, so that an engine lists which settings it reads,
// in which order, and nothing else: names, types and fallbacks come from the table.
#pragma once

#include "settings/ParameterStore.h"
#include "settings/ParameterTable.h"

#include <cstddef>
#include <cstdint>

namespace quarvel {

template <class Target> struct SettingField {
    SettingId id;
    int32_t Target::*integer = nullptr; // for an Integer row
    double Target::*real = nullptr; // for a Double row
};

template <class Target> constexpr SettingField<Target> settingField(SettingId id, int32_t Target::*field)
{
    return { id, field, nullptr };
}
template <class Target> constexpr SettingField<Target> settingField(SettingId id, double Target::*field)
{
    return { id, nullptr, field };
}

// Every field bound to a row of its own type: a double field read with getInt would lose its
// fraction silently.
template <class Target, size_t N> constexpr bool fieldsMatchTypes(const SettingField<Target> (&fields)[N])
{
    for (const SettingField<Target>& f : fields)
        if ((settingInfo(f.id).type == SettingType::Integer) != (f.integer != nullptr))
            return false;
    return true;
}

// Reads the fields in the order given, with the table's fallbacks. The order is part of the
// result: a missing entry is appended to the document as it is read.
template <class Target, size_t N>
void readSettingFields(ParameterStore& parameters, Target& target, const SettingField<Target> (&fields)[N])
{
    for (const SettingField<Target>& f : fields) {
        const SettingInfo& row = settingInfo(f.id);
        if (f.integer)
            parameters.getInt(row.name, &(target.*f.integer), row.defaultInt());
        else
            parameters.getDouble(row.name, &(target.*f.real), row.defaultValue);
    }
}

// One integer setting, read with its table fallback.
inline int32_t readIntSetting(ParameterStore& parameters, SettingId id)
{
    const SettingInfo& row = settingInfo(id);
    int32_t value = row.defaultInt();
    parameters.getInt(row.name, &value, value);
    return value;
}

} // namespace quarvel
