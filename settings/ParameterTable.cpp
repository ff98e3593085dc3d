// Lookups in the settings table, and the checks that keep the table and its orders consistent.
#include "settings/ParameterTable.h"

#include <cstring>

namespace quarvel {
namespace {

constexpr bool rowsMatchIds()
{
    for (size_t i = 0; i < kSettings.size(); ++i)
        if (size_t(kSettings[i].id) != i)
            return false;
    return true;
}

constexpr bool canonicalRowsFirst()
{
    for (size_t i = 0; i < kSettings.size(); ++i)
        if ((kSettings[i].scope == SettingScope::Canonical) != (i < kCanonicalSettingCount))
            return false;
    return true;
}

constexpr bool keysPresentAndUnique()
{
    for (size_t i = 0; i < kSettings.size(); ++i) {
        if (kSettings[i].key == 0)
            return false;
        for (size_t j = 0; j < i; ++j)
            if (kSettings[j].key == kSettings[i].key)
                return false;
    }
    return true;
}

constexpr bool defaultsWithinRange()
{
    for (const SettingInfo& s : kSettings) {
        if (s.defaultValue < s.minimum || s.defaultValue > s.maximum)
            return false;
        if (s.type == SettingType::Integer && double(s.defaultInt()) != s.defaultValue)
            return false;
    }
    return true;
}

// Each canonical setting once, nothing else; `skip` may be left out.
template <size_t N> constexpr bool coversCanonical(const std::array<SettingId, N>& order, int skip)
{
    bool seen[kCanonicalSettingCount] = {};
    for (const SettingId id : order) {
        const size_t i = size_t(id);
        if (i >= kCanonicalSettingCount || int(i) == skip || seen[i])
            return false;
        seen[i] = true;
    }
    return N + (skip >= 0 ? 1 : 0) == kCanonicalSettingCount;
}

static_assert(rowsMatchIds(), "rows must be in SettingId order");
static_assert(canonicalRowsFirst(), "the 36 canonical rows come first, extras after them");
static_assert(keysPresentAndUnique(), "every setting has its own scripting key");
static_assert(defaultsWithinRange(), "defaults lie in the page range; integer defaults are whole");
static_assert(coversCanonical(kDescriptorOrder, -1), "the descriptor carries every canonical setting");
static_assert(coversCanonical(kTerminologyOrder, int(SettingId::Contrast)),
    "the terminology declares every canonical setting but Contrast");
static_assert(fourCharCode("EnDr") == 0x456E4472u, "first character in the most significant byte");

} // namespace

const SettingInfo* findSetting(const char* name)
{
    if (!name)
        return nullptr;
    for (const SettingInfo& setting : kSettings)
        if (std::strcmp(setting.name, name) == 0)
            return &setting;
    return nullptr;
}

const SettingInfo* findSettingByKey(uint32_t key)
{
    if (key == 0)
        return nullptr;
    for (const SettingInfo& setting : kSettings)
        if (setting.key == key)
            return &setting;
    return nullptr;
}

std::string keyText(uint32_t key)
{
    std::string text;
    for (int shift = 24; shift >= 0; shift -= 8)
        text.push_back(char((key >> shift) & 0xFF));
    return text;
}

} // namespace quarvel
