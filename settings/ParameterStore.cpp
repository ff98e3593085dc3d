// The typed operations: numbers travel as text through the string operations.
#include "settings/ParameterStore.h"

#include "settings/NumberText.h"

namespace quarvel {

int ParameterStore::setInt(const char* name, int32_t value)
{
    return setString(name, formatInt(value).c_str());
}

int ParameterStore::getInt(const char* name, int32_t* out, int32_t defaultValue)
{
    char text[kNumberTextSize] = {};
    const int found = getString(name, text, kNumberTextSize - 1, formatInt(defaultValue).c_str());
    if (out)
        *out = found ? parseInt(text) : defaultValue;
    return found;
}

int ParameterStore::setDouble(const char* name, double value)
{
    return setString(name, formatDouble(value, kStoredDecimals).c_str());
}

int ParameterStore::getDouble(const char* name, double* out, double defaultValue)
{
    char text[kNumberTextSize] = {};
    const int found = getString(
        name, text, kNumberTextSize - 1, formatDouble(defaultValue, kDefaultTextDecimals).c_str());
    if (out)
        *out = found ? parseDouble(text) : defaultValue;
    return found;
}

} // namespace quarvel
