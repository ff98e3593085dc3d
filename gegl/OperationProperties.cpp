#include "gegl/OperationProperties.h"

#include "pages/PageControls.h"
#include "tools/host/HostSettings.h"

#include <gegl-paramspecs.h>

#include <dlfcn.h>

#include <charconv>
#include <cmath>
#include <filesystem>
#include <limits>

namespace quarvel::gegl {
namespace {

// Property ids count up in page order, because GUIs list properties by id; the preset last.
constexpr guint kPresetProperty = guint(kSettingCount) + 1;
// The setting row behind each property id, 0 unused.
size_t gRowOfProperty[kSettingCount + 1] = {};

// Far beyond any slider, so that scripted values pass; finite, so that a spin box can hold it.
constexpr double kDoubleHardLimit = 1e9;

struct Caption {
    const char* nick;
    const char* blurb;
};

// The dialog's own words, by setting row.
constexpr Caption kCaptions[] = {
    { "Enable Dynamic Range Filter",
        "Dynamic Range: shadow and highlight details, exposure, gamma, contrast" },
    { "Enable Color Filter", "Color: color balance, density and saturation" },
    { "Enable Sharpness Filter", "Sharpness: normal or highlight/shadow sharpening" },
    { "Enable Smooth Filter", "Diffusion: smoothing, diffusion glow and grain" },
    { "Shadow Level", "Dynamic Range, Shadow Details: Level" },
    { "Shadow Contrast", "Dynamic Range, Shadow Details: Contrast" },
    { "Shadow Amount", "Dynamic Range, Shadow Details: Amount" },
    { "Shadow Clip", "Dynamic Range, Shadow Details: Clip (%)" },
    { "Highlight Level", "Dynamic Range, Highlight Details: Level" },
    { "Highlight Contrast", "Dynamic Range, Highlight Details: Contrast" },
    { "Highlight Amount", "Dynamic Range, Highlight Details: Amount" },
    { "Highlight Clip", "Dynamic Range, Highlight Details: Clip (%)" },
    { "Auto Color Balance", "Color: Auto Color Balance" },
    { "Auto Exposure", "Dynamic Range: Auto Exposure" },
    { "Gamma", "Dynamic Range: Gamma" },
    { "Density", "Color: Density" },
    { "Saturation", "Color: Saturation" },
    { "Contrast", "Dynamic Range: Contrast" },
    { "Preserve Original Color", "Dynamic Range: Preserve Original Color" },
    { "Highlight Sharpen Amount",
        "Sharpness, Highlight Sharpen: Amount (%), highlight/shadow sharpening only" },
    { "Highlight Sharpen Radius", "Sharpness, Highlight Sharpen: Radius, highlight/shadow sharpening only" },
    { "Highlight Sharpen Edge", "Sharpness, Highlight Sharpen: Edge, highlight/shadow sharpening only" },
    { "Highlight Sharpen Threshold",
        "Sharpness, Highlight Sharpen: Threshold, highlight/shadow sharpening only" },
    { "Highlight Sharpen Tonal Width",
        "Sharpness, Highlight Sharpen: Tonal Width, highlight/shadow sharpening only" },
    { "Shadow Sharpen Amount", "Sharpness, Shadow Sharpen (Sharpen under normal sharpening): Amount (%)" },
    { "Shadow Sharpen Radius", "Sharpness, Shadow Sharpen (Sharpen under normal sharpening): Radius" },
    { "Shadow Sharpen Edge", "Sharpness, Shadow Sharpen (Sharpen under normal sharpening): Edge" },
    { "Shadow Sharpen Threshold", "Sharpness, Shadow Sharpen (Sharpen under normal sharpening): Threshold" },
    { "Shadow Sharpen Tonal Width",
        "Sharpness, Shadow Sharpen: Tonal Width, highlight/shadow sharpening only" },
    { "Smooth Amount", "Diffusion, Smooth: Amount (%)" },
    { "Smooth Radius", "Diffusion, Smooth: Radius" },
    { "Smooth Threshold", "Diffusion, Smooth: Threshold" },
    { "Diffusion Amount", "Diffusion, Diffusion: Amount (%)" },
    { "Diffusion Radius", "Diffusion, Diffusion: Radius" },
    { "Diffusion Tone", "Diffusion, Diffusion: Tone" },
    { "Grain", "Diffusion: Grain" },
    { "Sharpening", "Sharpness: Normal Sharpening, or Highlight/Shadow Sharpening" },
};
static_assert(std::size(kCaptions) == kSettingCount, "a caption for every setting");

GEnumValue gSharpMethods[] = {
    { 0, "Normal Sharpening", "normal" },
    { 1, "Highlight/Shadow Sharpening", "highlight-shadow" },
    { 0, nullptr, nullptr },
};
GType gSharpMethodType = 0;

constexpr const PageTable* kPages[] = { &kDynamicRangeTable, &kColorTable, &kSharpnessTable, &kSmoothTable };

GParamSpec* settingSpec(const SettingInfo& info, ControlKind kind)
{
    const std::string name = propertyName(info.name);
    const Caption& caption = kCaptions[size_t(info.id)];
    const auto flags = GParamFlags(G_PARAM_READWRITE);
    if (kind == ControlKind::CheckBox)
        return g_param_spec_boolean(name.c_str(), caption.nick, caption.blurb, info.defaultInt() != 0, flags);
    if (kind == ControlKind::RadioButton)
        return gegl_param_spec_enum(
            name.c_str(), caption.nick, caption.blurb, gSharpMethodType, info.defaultInt(), flags);
    if (info.type == SettingType::Integer)
        return gegl_param_spec_int(name.c_str(), caption.nick, caption.blurb, G_MININT, G_MAXINT,
            info.defaultInt(), int(info.minimum), int(info.maximum), 1.0, flags);
    GParamSpec* pspec = gegl_param_spec_double(name.c_str(), caption.nick, caption.blurb, -kDoubleHardLimit,
        kDoubleHardLimit, info.defaultValue, info.minimum, info.maximum, 1.0, flags);
    auto* doubleSpec = reinterpret_cast<GeglParamSpecDouble*>(pspec);
    gegl_param_spec_double_set_steps(doubleSpec, info.step, info.step * 10);
    gegl_param_spec_double_set_digits(doubleSpec, info.step < 0.1 ? 2 : 1);
    return pspec;
}

std::string valueText(const SettingInfo& info, double value)
{
    if (info.type == SettingType::Integer)
        return std::to_string(int32_t(value));
    // The shortest text that reads back as the same double, in no locale.
    char text[64];
    const auto written = std::to_chars(text, text + sizeof text, value);
    return std::string(text, written.ptr);
}

std::filesystem::path moduleFolder()
{
    Dl_info info {};
    if (!dladdr(reinterpret_cast<const void*>(&moduleFolder), &info) || !info.dli_fname)
        return {};
    return std::filesystem::path(info.dli_fname).parent_path();
}

// A preset is a path, or the name of a bundled preset (with or without .qvp) in the presets
// folder installed beside the module.
std::string resolvePreset(const std::string& preset)
{
    std::error_code ignored;
    const std::filesystem::path given(preset);
    if (std::filesystem::exists(given, ignored) || given.has_parent_path())
        return preset;
    const std::filesystem::path folder = moduleFolder() / "Presets";
    for (const std::filesystem::path& candidate : { folder / given, folder / (preset + ".qvp") })
        if (std::filesystem::is_regular_file(candidate, ignored))
            return candidate.string();
    return preset;
}

} // namespace

std::string propertyName(const char* settingName)
{
    std::string name;
    for (const char* c = settingName; *c; ++c) {
        if (g_ascii_isupper(*c)) {
            if (!name.empty())
                name += '-';
            name += g_ascii_tolower(*c);
        } else {
            name += *c;
        }
    }
    return name;
}

OperationValues defaultValues()
{
    OperationValues values;
    for (const SettingInfo& info : kSettings)
        values.settings[size_t(info.id)] = info.defaultValue;
    return values;
}

void registerPropertyTypes(GTypeModule* module)
{
    if (!gSharpMethodType)
        gSharpMethodType = g_type_module_register_enum(module, "QuarvelSharpMethod", gSharpMethods);
}

void installProperties(GObjectClass* klass)
{
    bool installed[kSettingCount] = {};
    guint id = 0;
    for (const PageTable* page : kPages)
        for (const PageControl& control : page->controls) {
            const size_t row = size_t(control.setting);
            if (installed[row])
                continue;
            installed[row] = true;
            gRowOfProperty[++id] = row;
            g_object_class_install_property(klass, id, settingSpec(kSettings[row], control.kind));
        }
    for (size_t row = 0; row < kSettingCount; ++row)
        if (!installed[row])
            g_error("quarvel:filter: the setting %s is on no settings page", kSettings[row].name);

    GParamSpec* preset = gegl_param_spec_file_path("preset", "Preset",
        "A preset file (.qvp), or the name of a bundled one, applied first; properties left at their "
        "defaults keep its values",
        FALSE, TRUE, "", GParamFlags(G_PARAM_READWRITE));
    g_object_class_install_property(klass, kPresetProperty, preset);
}

void setProperty(OperationValues& values, guint id, const GValue* value, GParamSpec* pspec)
{
    if (id == kPresetProperty) {
        const char* text = g_value_get_string(value);
        values.preset = text ? text : "";
        return;
    }
    double& setting = values.settings[gRowOfProperty[id]];
    if (G_VALUE_HOLDS_BOOLEAN(value))
        setting = g_value_get_boolean(value) ? 1 : 0;
    else if (G_VALUE_HOLDS_ENUM(value))
        setting = g_value_get_enum(value);
    else if (G_VALUE_HOLDS_INT(value))
        setting = g_value_get_int(value);
    else if (const double number = g_value_get_double(value); std::isfinite(number))
        setting = number;
    else
        g_warning("quarvel:filter: %s cannot be %g; it stays %g", pspec->name, number, setting);
}

void getProperty(const OperationValues& values, guint id, GValue* value)
{
    if (id == kPresetProperty) {
        g_value_set_string(value, values.preset.c_str());
        return;
    }
    const double setting = values.settings[gRowOfProperty[id]];
    if (G_VALUE_HOLDS_BOOLEAN(value))
        g_value_set_boolean(value, setting != 0);
    else if (G_VALUE_HOLDS_ENUM(value))
        g_value_set_enum(value, int(setting));
    else if (G_VALUE_HOLDS_INT(value))
        g_value_set_int(value, int(setting));
    else
        g_value_set_double(value, setting);
}

host::Descriptor runDescriptor(const OperationValues& values, std::string& warning)
{
    host::Descriptor descriptor;
    bool presetRead = false;
    if (!values.preset.empty()) {
        std::string error;
        presetRead = host::applyPreset(resolvePreset(values.preset), descriptor, error);
        if (!presetRead) {
            warning = error + "; the preset is left out";
            descriptor.clear();
        }
    }
    for (const SettingInfo& info : kSettings) {
        const double value = values.settings[size_t(info.id)];
        if (presetRead && value == info.defaultValue)
            continue;
        std::string error;
        if (!host::applySetting(std::string(info.name) + "=" + valueText(info, value), descriptor, error))
            warning += (warning.empty() ? "" : "; ") + error;
    }
    return descriptor;
}

} // namespace quarvel::gegl
