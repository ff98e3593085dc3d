// The four pages' control tables, checked against each other and against the settings table when
// this file compiles, and the slider arithmetic.
#include "pages/PageControls.h"

#include "resources/ResourceIds.h"
#include "settings/NumberText.h"
#include "settings/ParameterStore.h"

#include <algorithm>
#include <cmath>

namespace quarvel {
namespace {

using Kind = ControlKind;
using Id = SettingId;

// ---- Dynamic Range (tab "Dynamic Range", shown first) ----
constexpr PageControl kDynamicRangeControls[] = {
    { IDC_DYNAMIC_ENABLE, Kind::CheckBox, Id::DynamicEnable },
    { IDC_SHADOW_AMOUNT, Kind::Trackbar, Id::ShadowAmount, IDC_SHADOW_AMOUNT_VALUE, 10 },
    { IDC_SHADOW_LEVEL, Kind::Trackbar, Id::ShadowLevel, IDC_SHADOW_LEVEL_VALUE, 100 },
    { IDC_SHADOW_CONTRAST, Kind::Trackbar, Id::ShadowContrast, IDC_SHADOW_CONTRAST_VALUE, 10 },
    { IDC_SHADOW_CLIP, Kind::Trackbar, Id::ShadowClip, IDC_SHADOW_CLIP_VALUE, 200 },
    { IDC_HILIGHT_AMOUNT, Kind::Trackbar, Id::HilightAmount, IDC_HILIGHT_AMOUNT_VALUE, 10 },
    { IDC_HILIGHT_LEVEL, Kind::Trackbar, Id::HilightLevel, IDC_HILIGHT_LEVEL_VALUE, 100 },
    { IDC_HILIGHT_CONTRAST, Kind::Trackbar, Id::HilightContrast, IDC_HILIGHT_CONTRAST_VALUE, 10 },
    { IDC_HILIGHT_CLIP, Kind::Trackbar, Id::HilightClip, IDC_HILIGHT_CLIP_VALUE, 200 },
    { IDC_AUTO_EXPOSURE, Kind::CheckBox, Id::AutoExposure },
    { IDC_MONOCHROMATIC, Kind::CheckBox, Id::Monochromatic },
    { IDC_GAMMA, Kind::Trackbar, Id::Gamma, IDC_GAMMA_VALUE, 32 },
    { IDC_CONTRAST, Kind::Trackbar, Id::Contrast, IDC_CONTRAST_VALUE, 10 },
};
constexpr int kDynamicRangeSetup[]
    = { IDC_HILIGHT_LEVEL, IDC_HILIGHT_AMOUNT, IDC_HILIGHT_CLIP, IDC_HILIGHT_CONTRAST, IDC_SHADOW_LEVEL,
          IDC_SHADOW_AMOUNT, IDC_SHADOW_CLIP, IDC_SHADOW_CONTRAST, IDC_GAMMA, IDC_CONTRAST };
constexpr SettingId kDynamicRangeLoad[] = { Id::DynamicEnable, Id::Monochromatic, Id::AutoExposure,
    Id::HilightAmount, Id::HilightContrast, Id::HilightLevel, Id::HilightClip, Id::ShadowAmount,
    Id::ShadowContrast, Id::ShadowLevel, Id::ShadowClip, Id::Gamma, Id::Contrast };
constexpr SettingId kDynamicRangeStore[] = { Id::DynamicEnable, Id::AutoExposure, Id::Monochromatic,
    Id::HilightAmount, Id::HilightContrast, Id::HilightLevel, Id::HilightClip, Id::ShadowAmount,
    Id::ShadowContrast, Id::ShadowLevel, Id::ShadowClip, Id::Gamma, Id::Contrast };

// ---- Color ----
constexpr PageControl kColorControls[] = {
    { IDC_COLOR_ENABLE, Kind::CheckBox, Id::ColorEnable },
    { IDC_AUTO_COLOR, Kind::CheckBox, Id::AutoColor },
    { IDC_DENSITY, Kind::Trackbar, Id::Density, IDC_DENSITY_VALUE, 10 },
    { IDC_SATURATION, Kind::Trackbar, Id::Saturation, IDC_SATURATION_VALUE, 10 },
};
constexpr int kColorSetup[] = { IDC_DENSITY, IDC_SATURATION };
constexpr SettingId kColorOrder[] = { Id::ColorEnable, Id::AutoColor, Id::Density, Id::Saturation };

// ---- Sharpness: the shadow set (also the set of normal sharpening) above the highlight set ----
constexpr PageControl kSharpnessControls[] = {
    { IDC_SHARP_ENABLE, Kind::CheckBox, Id::SharpEnable },
    { IDC_SHARP_NORMAL, Kind::RadioButton, Id::SharpMethod },
    { IDC_SHARP_HILIGHT_SHADOW, Kind::RadioButton, Id::SharpMethod },
    { IDC_SH_SHARP_AMOUNT, Kind::Trackbar, Id::ShSharpAmount, IDC_SH_SHARP_AMOUNT_VALUE, 100 },
    { IDC_SH_SHARP_RADIUS, Kind::Trackbar, Id::ShSharpRadius, IDC_SH_SHARP_RADIUS_VALUE, 10 },
    { IDC_SH_SHARP_EDGE, Kind::Trackbar, Id::ShSharpEdge, IDC_SH_SHARP_EDGE_VALUE, 10 },
    { IDC_SH_SHARP_THRESHOLD, Kind::Trackbar, Id::ShSharpThreshold, IDC_SH_SHARP_THRESHOLD_VALUE, 10 },
    { IDC_SH_SHARP_TONAL, Kind::Trackbar, Id::ShSharpTonal, IDC_SH_SHARP_TONAL_VALUE, 10 },
    { IDC_HI_SHARP_AMOUNT, Kind::Trackbar, Id::HiSharpAmount, IDC_HI_SHARP_AMOUNT_VALUE, 100 },
    { IDC_HI_SHARP_RADIUS, Kind::Trackbar, Id::HiSharpRadius, IDC_HI_SHARP_RADIUS_VALUE, 10 },
    { IDC_HI_SHARP_EDGE, Kind::Trackbar, Id::HiSharpEdge, IDC_HI_SHARP_EDGE_VALUE, 10 },
    { IDC_HI_SHARP_THRESHOLD, Kind::Trackbar, Id::HiSharpThreshold, IDC_HI_SHARP_THRESHOLD_VALUE, 10 },
    { IDC_HI_SHARP_TONAL, Kind::Trackbar, Id::HiSharpTonal, IDC_HI_SHARP_TONAL_VALUE, 10 },
};
constexpr int kSharpnessSetup[] = { IDC_SH_SHARP_AMOUNT, IDC_SH_SHARP_RADIUS, IDC_SH_SHARP_EDGE,
    IDC_SH_SHARP_THRESHOLD, IDC_SH_SHARP_TONAL, IDC_HI_SHARP_AMOUNT, IDC_HI_SHARP_RADIUS, IDC_HI_SHARP_EDGE,
    IDC_HI_SHARP_THRESHOLD, IDC_HI_SHARP_TONAL };
// Loaded and stored alike: the highlight set first, then the shadow set.
constexpr SettingId kSharpnessOrder[] = { Id::SharpEnable, Id::SharpMethod, Id::HiSharpAmount,
    Id::HiSharpRadius, Id::HiSharpEdge, Id::HiSharpThreshold, Id::HiSharpTonal, Id::ShSharpAmount,
    Id::ShSharpRadius, Id::ShSharpEdge, Id::ShSharpThreshold, Id::ShSharpTonal };

// ---- Smooth (tab "Diffusion"): smoothing, diffusion glow, grain ----
constexpr PageControl kSmoothControls[] = {
    { IDC_SMOOTH_ENABLE, Kind::CheckBox, Id::SmoothEnable },
    { IDC_SMOOTH_AMOUNT, Kind::Trackbar, Id::SmoothAmount, IDC_SMOOTH_AMOUNT_VALUE, 100 },
    { IDC_SMOOTH_RADIUS, Kind::Trackbar, Id::SmoothRadius, IDC_SMOOTH_RADIUS_VALUE, 10 },
    { IDC_SMOOTH_THRESHOLD, Kind::Trackbar, Id::SmoothThreshold, IDC_SMOOTH_THRESHOLD_VALUE, 10 },
    { IDC_DIFFUSE_AMOUNT, Kind::Trackbar, Id::DiffuseAmount, IDC_DIFFUSE_AMOUNT_VALUE, 10 },
    { IDC_DIFFUSE_RADIUS, Kind::Trackbar, Id::DiffuseRadius, IDC_DIFFUSE_RADIUS_VALUE, 10 },
    { IDC_DIFFUSE_TONE, Kind::Trackbar, Id::DiffuseTone, IDC_DIFFUSE_TONE_VALUE, 10 },
    { IDC_GRAIN_AMOUNT, Kind::Trackbar, Id::GrainAmount, IDC_GRAIN_AMOUNT_VALUE, 1 },
};
constexpr int kSmoothSetup[] = { IDC_SMOOTH_AMOUNT, IDC_SMOOTH_RADIUS, IDC_SMOOTH_THRESHOLD,
    IDC_DIFFUSE_AMOUNT, IDC_DIFFUSE_RADIUS, IDC_DIFFUSE_TONE, IDC_GRAIN_AMOUNT };
constexpr SettingId kSmoothOrder[] = { Id::SmoothEnable, Id::SmoothAmount, Id::SmoothRadius,
    Id::SmoothThreshold, Id::DiffuseAmount, Id::DiffuseRadius, Id::DiffuseTone, Id::GrainAmount };

// ---- consistency, checked at compile time ----

constexpr bool isTrackbar(const PageTable& table, int id)
{
    for (const PageControl& control : table.controls)
        if (control.id == id)
            return control.kind == Kind::Trackbar;
    return false;
}

constexpr bool controlsSound(const PageTable& table)
{
    for (size_t i = 0; i < table.controls.size(); ++i) {
        const PageControl& control = table.controls[i];
        for (size_t j = 0; j < i; ++j)
            if (table.controls[j].id == control.id)
                return false;
        if (control.kind != Kind::Trackbar)
            continue;
        const SettingInfo& info = settingInfo(control.setting);
        // Only these steps have a slider scale.
        if (info.type == SettingType::Double && info.step != 0.01 && info.step != 0.1)
            return false;
        const TrackbarRange range = trackbarRange(control.setting);
        if (range.minimum < -32768 || range.maximum > 32767 || range.minimum >= range.maximum)
            return false;
        if (control.valueLabel == 0 || control.tickSpacing <= 0)
            return false;
    }
    return true;
}

// Every trackbar once, nothing else.
constexpr bool setupComplete(const PageTable& table)
{
    size_t trackbars = 0;
    for (const PageControl& control : table.controls)
        if (control.kind == Kind::Trackbar)
            ++trackbars;
    for (size_t i = 0; i < table.setupOrder.size(); ++i) {
        if (!isTrackbar(table, table.setupOrder[i]))
            return false;
        for (size_t j = 0; j < i; ++j)
            if (table.setupOrder[j] == table.setupOrder[i])
                return false;
    }
    return table.setupOrder.size() == trackbars;
}

// Every setting the page edits once, nothing else.
constexpr bool orderComplete(const PageTable& table, TableSpan<SettingId> order)
{
    size_t settings = 0;
    for (size_t i = 0; i < table.controls.size(); ++i) {
        bool repeated = false;
        for (size_t j = 0; j < i; ++j)
            repeated = repeated || table.controls[j].setting == table.controls[i].setting;
        if (!repeated)
            ++settings;
    }
    for (size_t i = 0; i < order.size(); ++i) {
        bool onPage = false;
        for (const PageControl& control : table.controls)
            onPage = onPage || control.setting == order[i];
        if (!onPage)
            return false;
        for (size_t j = 0; j < i; ++j)
            if (order[j] == order[i])
                return false;
    }
    return order.size() == settings;
}

constexpr bool tableSound(const PageTable& table)
{
    return controlsSound(table) && setupComplete(table) && orderComplete(table, table.loadOrder)
        && orderComplete(table, table.storeOrder);
}

// Room below the integer part for binary error. 2.3 is held as 2.2999999999999998; its tenfold
// happens to round back up to 23, but a value a few units in the last place lower, as another
// program's arithmetic may write it, would lose a step on every load and store. The slack is far
// below the document's eight decimals, so a value written truly below a step takes the step below.
constexpr double kIntegerPartSlack = 1e-9;

double integerPart(double position)
{
    return position < 0 ? -std::floor(-position + kIntegerPartSlack)
                        : std::floor(position + kIntegerPartSlack);
}

} // namespace

constexpr PageTable kDynamicRangeTable = { IDD_DYNAMIC_RANGE_PAGE, spanOf(kDynamicRangeControls),
    spanOf(kDynamicRangeSetup), spanOf(kDynamicRangeLoad), spanOf(kDynamicRangeStore) };
constexpr PageTable kColorTable = { IDD_COLOR_PAGE, spanOf(kColorControls), spanOf(kColorSetup),
    spanOf(kColorOrder), spanOf(kColorOrder) };
constexpr PageTable kSharpnessTable = { IDD_SHARPNESS_PAGE, spanOf(kSharpnessControls),
    spanOf(kSharpnessSetup), spanOf(kSharpnessOrder), spanOf(kSharpnessOrder) };
constexpr PageTable kSmoothTable = { IDD_SMOOTH_PAGE, spanOf(kSmoothControls), spanOf(kSmoothSetup),
    spanOf(kSmoothOrder), spanOf(kSmoothOrder) };

static_assert(tableSound(kDynamicRangeTable), "Dynamic Range page table");
static_assert(tableSound(kColorTable), "Color page table");
static_assert(tableSound(kSharpnessTable), "Sharpness page table");
static_assert(tableSound(kSmoothTable), "Smooth page table");

const PageControl* findControl(const PageTable& table, int id)
{
    for (const PageControl& control : table.controls)
        if (control.id == id)
            return &control;
    return nullptr;
}

const PageControl* findControlFor(const PageTable& table, SettingId setting)
{
    for (const PageControl& control : table.controls)
        if (control.setting == setting)
            return &control;
    return nullptr;
}

int positionFromValue(SettingId setting, double value)
{
    const SliderScale scale = sliderScale(setting);
    const TrackbarRange range = trackbarRange(setting);
    const double scaled = std::isnan(value) ? 0.0 : value * positionsPerUnit(scale);
    const double position = std::clamp(scaled, double(range.minimum), double(range.maximum));
    switch (scale) {
    case SliderScale::Clip:
        return int(std::round(position));
    case SliderScale::Radius:
        return int(integerPart(position));
    case SliderScale::Integer:
        break;
    }
    return int(position);
}

double valueFromPosition(SettingId setting, int position)
{
    if (sliderScale(setting) == SliderScale::Integer)
        return double(position);
    return position * settingInfo(setting).step;
}

int readPosition(ParameterStore& document, SettingId setting)
{
    const char* name = settingInfo(setting).name;
    if (sliderScale(setting) == SliderScale::Integer) {
        int32_t value = 0;
        document.getInt(name, &value, 0);
        return positionFromValue(setting, double(value));
    }
    double value = 0.0;
    document.getDouble(name, &value, 0.0);
    return positionFromValue(setting, value);
}

void writePosition(ParameterStore& document, SettingId setting, int position)
{
    const char* name = settingInfo(setting).name;
    if (sliderScale(setting) == SliderScale::Integer)
        document.setInt(name, int32_t(position));
    else
        document.setDouble(name, valueFromPosition(setting, position));
}

std::string formatIntLabel(int position) { return formatInt(int32_t(position)); }

std::string formatClipLabel(int position) { return formatDouble(position * 0.01, 2); }

std::string formatRadiusLabel(int position) { return formatDouble(position * 0.1, 1); }

std::string formatValueLabel(SettingId setting, int position)
{
    switch (sliderScale(setting)) {
    case SliderScale::Clip:
        return formatClipLabel(position);
    case SliderScale::Radius:
        return formatRadiusLabel(position);
    case SliderScale::Integer:
        break;
    }
    return formatIntLabel(position);
}

} // namespace quarvel
