// Every adjustment setting, once: name, scripting key, type, default, the range the settings
// pages produce and the group it belongs to. Normalisation, scripting, the command-line host and
// the pages all read this table, so a setting is added or changed in one place.
//
// Row order is the canonical order in which a normalised document holds the settings. The 36
// canonical rows come first; after them come the extra settings, which normalisation and
// scripting carry only when a document already holds them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace quarvel {

// One id per row, in row order.
enum class SettingId : uint8_t {
    DynamicEnable,
    ColorEnable,
    SharpEnable,
    SmoothEnable,
    ShadowLevel,
    ShadowContrast,
    ShadowAmount,
    ShadowClip,
    HilightLevel,
    HilightContrast,
    HilightAmount,
    HilightClip,
    AutoColor,
    AutoExposure,
    Gamma,
    Density,
    Saturation,
    Contrast,
    Monochromatic,
    HiSharpAmount,
    HiSharpRadius,
    HiSharpEdge,
    HiSharpThreshold,
    HiSharpTonal,
    ShSharpAmount,
    ShSharpRadius,
    ShSharpEdge,
    ShSharpThreshold,
    ShSharpTonal,
    SmoothAmount,
    SmoothRadius,
    SmoothThreshold,
    DiffuseAmount,
    DiffuseRadius,
    DiffuseTone,
    GrainAmount,
    SharpMethod,
};

constexpr size_t kSettingCount = 37;
constexpr size_t kCanonicalSettingCount = 36;

// Integers are stored with setInt ("%ld"), doubles with setDouble ("%0.8lf").
enum class SettingType : uint8_t { Integer, Double };

enum class SettingGroup : uint8_t { Enable, DynamicRange, Color, Sharpness, Smooth };

// Canonical: always present after normalisation, always recorded for scripting.
// Extra: kept by normalisation and carried by scripting only when present.
enum class SettingScope : uint8_t { Canonical, Extra };

// A descriptor key: four characters, the first in the most significant byte ("EnDr" is
// 0x456E4472).
constexpr uint32_t fourCharCode(const char (&code)[5])
{
    return uint32_t(uint8_t(code[0])) << 24 | uint32_t(uint8_t(code[1])) << 16
        | uint32_t(uint8_t(code[2])) << 8 | uint32_t(uint8_t(code[3]));
}

struct SettingInfo {
    SettingId id;
    const char* name; // the document's entry name
    uint32_t key; // scripting key
    SettingType type;
    double defaultValue;
    // What the settings pages produce, in steps of `step`. Nothing enforces it on other sources.
    double minimum;
    double maximum;
    double step;
    SettingGroup group;
    SettingScope scope;

    constexpr int32_t defaultInt() const { return int32_t(defaultValue); }
};

namespace detail {
constexpr SettingInfo integerSetting(SettingId id, const char* name, uint32_t key, int32_t defaultValue,
    int32_t minimum, int32_t maximum, SettingGroup group, SettingScope scope = SettingScope::Canonical)
{
    return { id, name, key, SettingType::Integer, double(defaultValue), double(minimum), double(maximum), 1.0,
        group, scope };
}
constexpr SettingInfo doubleSetting(SettingId id, const char* name, uint32_t key, double defaultValue,
    double minimum, double maximum, double step, SettingGroup group)
{
    return { id, name, key, SettingType::Double, defaultValue, minimum, maximum, step, group,
        SettingScope::Canonical };
}
} // namespace detail

inline constexpr std::array<SettingInfo, kSettingCount> kSettings = { {
    // clang-format off
    detail::integerSetting(SettingId::DynamicEnable,    "DynamicEnable",    fourCharCode("EnDr"),   1,    0,   1, SettingGroup::Enable),
    detail::integerSetting(SettingId::ColorEnable,      "ColorEnable",      fourCharCode("EnCr"),   1,    0,   1, SettingGroup::Enable),
    detail::integerSetting(SettingId::SharpEnable,      "SharpEnable",      fourCharCode("EnSh"),   1,    0,   1, SettingGroup::Enable),
    detail::integerSetting(SettingId::SmoothEnable,     "SmoothEnable",     fourCharCode("EnDf"),   1,    0,   1, SettingGroup::Enable),
    detail::integerSetting(SettingId::ShadowLevel,      "ShadowLevel",      fourCharCode("ShLv"),   0,    0, 400, SettingGroup::DynamicRange),
    detail::integerSetting(SettingId::ShadowContrast,   "ShadowContrast",   fourCharCode("ShCt"), 150,    0, 150, SettingGroup::DynamicRange),
    detail::integerSetting(SettingId::ShadowAmount,     "ShadowAmount",     fourCharCode("ShDt"),   0,    0,  50, SettingGroup::DynamicRange),
    detail::doubleSetting (SettingId::ShadowClip,       "ShadowClip",       fourCharCode("ShCl"), 0.0,  0.0, 20.0, 0.01, SettingGroup::DynamicRange),
    detail::integerSetting(SettingId::HilightLevel,     "HilightLevel",     fourCharCode("HiLv"),   0,    0, 400, SettingGroup::DynamicRange),
    detail::integerSetting(SettingId::HilightContrast,  "HilightContrast",  fourCharCode("HiCt"), 150,    0, 150, SettingGroup::DynamicRange),
    detail::integerSetting(SettingId::HilightAmount,    "HilightAmount",    fourCharCode("HiDt"),   0,    0,  50, SettingGroup::DynamicRange),
    detail::doubleSetting (SettingId::HilightClip,      "HilightClip",      fourCharCode("HiCl"), 0.0,  0.0, 20.0, 0.01, SettingGroup::DynamicRange),
    detail::integerSetting(SettingId::AutoColor,        "AutoColor",        fourCharCode("AtCr"),   0,    0,   1, SettingGroup::Color),
    detail::integerSetting(SettingId::AutoExposure,     "AutoExposure",     fourCharCode("AtEx"),   0,    0,   1, SettingGroup::DynamicRange),
    detail::integerSetting(SettingId::Gamma,            "Gamma",            fourCharCode("Gmma"),   0, -128, 128, SettingGroup::DynamicRange),
    detail::integerSetting(SettingId::Density,          "Density",          fourCharCode("Dens"),   0,  -30,  30, SettingGroup::Color),
    detail::integerSetting(SettingId::Saturation,       "Saturation",       fourCharCode("Satu"),   0,  -30,  30, SettingGroup::Color),
    detail::integerSetting(SettingId::Contrast,         "Contrast",         fourCharCode("Cont"),   0,    0,  40, SettingGroup::DynamicRange),
    detail::integerSetting(SettingId::Monochromatic,    "Monochromatic",    fourCharCode("Mono"),   1,    0,   1, SettingGroup::DynamicRange),
    detail::integerSetting(SettingId::HiSharpAmount,    "HiSharpAmount",    fourCharCode("HSAm"),   0,    0, 600, SettingGroup::Sharpness),
    detail::doubleSetting (SettingId::HiSharpRadius,    "HiSharpRadius",    fourCharCode("HSRd"), 1.0,  0.1, 15.0, 0.1,  SettingGroup::Sharpness),
    detail::integerSetting(SettingId::HiSharpEdge,      "HiSharpEdge",      fourCharCode("HSEd"),  20,    0,  40, SettingGroup::Sharpness),
    detail::integerSetting(SettingId::HiSharpThreshold, "HiSharpThreshold", fourCharCode("HSTs"),   0,    0, 100, SettingGroup::Sharpness),
    detail::integerSetting(SettingId::HiSharpTonal,     "HiSharpTonal",     fourCharCode("HSTn"), 170,  128, 255, SettingGroup::Sharpness),
    detail::integerSetting(SettingId::ShSharpAmount,    "ShSharpAmount",    fourCharCode("SSAm"),   0,    0, 600, SettingGroup::Sharpness),
    detail::doubleSetting (SettingId::ShSharpRadius,    "ShSharpRadius",    fourCharCode("SSRd"), 1.0,  0.1, 15.0, 0.1,  SettingGroup::Sharpness),
    detail::integerSetting(SettingId::ShSharpEdge,      "ShSharpEdge",      fourCharCode("SSEd"),  20,    0,  40, SettingGroup::Sharpness),
    detail::integerSetting(SettingId::ShSharpThreshold, "ShSharpThreshold", fourCharCode("SSTs"),   0,    0, 100, SettingGroup::Sharpness),
    detail::integerSetting(SettingId::ShSharpTonal,     "ShSharpTonal",     fourCharCode("SSTn"),  85,    0, 128, SettingGroup::Sharpness),
    detail::integerSetting(SettingId::SmoothAmount,     "SmoothAmount",     fourCharCode("SmAm"),   0,    0, 300, SettingGroup::Smooth),
    detail::doubleSetting (SettingId::SmoothRadius,     "SmoothRadius",     fourCharCode("SmRd"), 1.0,  0.0, 30.0, 0.1,  SettingGroup::Smooth),
    detail::integerSetting(SettingId::SmoothThreshold,  "SmoothThreshold",  fourCharCode("SmTr"),   0,    0, 100, SettingGroup::Smooth),
    detail::integerSetting(SettingId::DiffuseAmount,    "DiffuseAmount",    fourCharCode("DfAm"),   0,    0, 100, SettingGroup::Smooth),
    detail::doubleSetting (SettingId::DiffuseRadius,    "DiffuseRadius",    fourCharCode("DfRd"), 5.0,  0.1, 15.0, 0.1,  SettingGroup::Smooth),
    detail::integerSetting(SettingId::DiffuseTone,      "DiffuseTone",      fourCharCode("DfTn"),   0, -100, 100, SettingGroup::Smooth),
    detail::integerSetting(SettingId::GrainAmount,      "GrainAmount",      fourCharCode("GnAm"),   0,    0,  10, SettingGroup::Smooth),
    // 0: normal sharpening with the shadow set alone; 1: highlight and shadow sharpening.
    detail::integerSetting(SettingId::SharpMethod,      "SharpMethod",      fourCharCode("SMth"),   0,    0,   1, SettingGroup::Sharpness, SettingScope::Extra),
    // clang-format on
} };

constexpr const SettingInfo& settingInfo(SettingId id) { return kSettings[size_t(id)]; }

// A field's starting value: the table's default.
constexpr int32_t defaultInt(SettingId id) { return settingInfo(id).defaultInt(); }
constexpr double defaultDouble(SettingId id) { return settingInfo(id).defaultValue; }

// The canonical settings in the order in which the scripting descriptor is written and the key
// list for reading it is given to the host. The extra settings follow them, in table order.
inline constexpr std::array<SettingId, kCanonicalSettingCount> kDescriptorOrder = { {
    SettingId::DynamicEnable,
    SettingId::ColorEnable,
    SettingId::SharpEnable,
    SettingId::SmoothEnable,
    SettingId::ShadowLevel,
    SettingId::ShadowAmount,
    SettingId::ShadowClip,
    SettingId::ShadowContrast,
    SettingId::HilightLevel,
    SettingId::HilightAmount,
    SettingId::HilightClip,
    SettingId::HilightContrast,
    SettingId::AutoExposure,
    SettingId::Gamma,
    SettingId::Contrast,
    SettingId::Monochromatic,
    SettingId::AutoColor,
    SettingId::Density,
    SettingId::Saturation,
    SettingId::HiSharpAmount,
    SettingId::HiSharpRadius,
    SettingId::HiSharpEdge,
    SettingId::HiSharpThreshold,
    SettingId::HiSharpTonal,
    SettingId::ShSharpAmount,
    SettingId::ShSharpRadius,
    SettingId::ShSharpEdge,
    SettingId::ShSharpThreshold,
    SettingId::ShSharpTonal,
    SettingId::SmoothAmount,
    SettingId::SmoothRadius,
    SettingId::SmoothThreshold,
    SettingId::DiffuseAmount,
    SettingId::DiffuseRadius,
    SettingId::DiffuseTone,
    SettingId::GrainAmount,
} };

// The parameters that the scripting terminology resource declares, in its order: every canonical
// setting but Contrast, which the descriptor carries all the same.
inline constexpr std::array<SettingId, kCanonicalSettingCount - 1> kTerminologyOrder = { {
    SettingId::DynamicEnable,
    SettingId::ColorEnable,
    SettingId::SharpEnable,
    SettingId::SmoothEnable,
    SettingId::ShadowLevel,
    SettingId::ShadowAmount,
    SettingId::ShadowClip,
    SettingId::ShadowContrast,
    SettingId::HilightLevel,
    SettingId::HilightAmount,
    SettingId::HilightClip,
    SettingId::HilightContrast,
    SettingId::AutoColor,
    SettingId::AutoExposure,
    SettingId::Density,
    SettingId::Saturation,
    SettingId::Gamma,
    SettingId::Monochromatic,
    SettingId::ShSharpAmount,
    SettingId::ShSharpRadius,
    SettingId::ShSharpEdge,
    SettingId::ShSharpThreshold,
    SettingId::ShSharpTonal,
    SettingId::HiSharpAmount,
    SettingId::HiSharpRadius,
    SettingId::HiSharpEdge,
    SettingId::HiSharpThreshold,
    SettingId::HiSharpTonal,
    SettingId::SmoothAmount,
    SettingId::SmoothRadius,
    SettingId::SmoothThreshold,
    SettingId::DiffuseAmount,
    SettingId::DiffuseRadius,
    SettingId::DiffuseTone,
    SettingId::GrainAmount,
} };

// Exact, case-sensitive lookups; null when there is no such setting.
const SettingInfo* findSetting(const char* name);
const SettingInfo* findSettingByKey(uint32_t key);

// The four characters of a key, as they read.
std::string keyText(uint32_t key);

} // namespace quarvel
