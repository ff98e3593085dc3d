// What the four settings pages hold, apart from any window: each page's controls and the setting
// behind each one, the order in which a page sets up, loads and stores them, and the arithmetic
// between a slider position and a setting's value. Ranges and steps come from the settings table,
// never from a second list.
//
// A slider stands for its setting in one of three scales, chosen by the setting's type and step:
// integers are the position itself; clips (step 0.01) are position x 0.01, loaded as value x 100
// rounded to nearest; radii (step 0.1) are position x 0.1, loaded as the integer part of value x 10.
// Every conversion from a value clamps to the slider's range first, so no value a document can hold
// (huge, infinite, not a number) reaches an integer conversion out of range.
#pragma once

#include "settings/ParameterTable.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace quarvel {

class ParameterStore;

enum class ControlKind : uint8_t { CheckBox, Trackbar, RadioButton };

enum class SliderScale : uint8_t { Integer, Clip, Radius };

struct PageControl {
    int id;
    ControlKind kind;
    SettingId setting;
    int valueLabel = 0; // trackbars: the static that shows the value
    int tickSpacing = 0; // trackbars
};

// A constant array seen from elsewhere, with its length.
template <class T> struct TableSpan {
    const T* items;
    size_t count;

    constexpr const T* begin() const { return items; }
    constexpr const T* end() const { return items + count; }
    constexpr size_t size() const { return count; }
    constexpr const T& operator[](size_t i) const { return items[i]; }
};

template <class T, size_t N> constexpr TableSpan<T> spanOf(const T (&items)[N]) { return { items, N }; }

struct PageTable {
    int templateId;
    TableSpan<PageControl> controls; // in the order of the template
    TableSpan<int> setupOrder; // trackbar ids, in the order their ranges are set
    // Each setting of the page once. A setting stands for its control; for a radio group, for the
    // whole group.
    TableSpan<SettingId> loadOrder;
    TableSpan<SettingId> storeOrder;
};

extern const PageTable kDynamicRangeTable;
extern const PageTable kColorTable;
extern const PageTable kSharpnessTable;
extern const PageTable kSmoothTable;

// Null when the page has no such control.
const PageControl* findControl(const PageTable& table, int id);
// The first control of the page that edits `setting` (for a radio group, its first button).
const PageControl* findControlFor(const PageTable& table, SettingId setting);

struct TrackbarRange {
    int minimum;
    int maximum;
};

namespace detail {
constexpr int roundToInt(double value) { return value < 0 ? -int(-value + 0.5) : int(value + 0.5); }
} // namespace detail

constexpr SliderScale sliderScale(SettingId setting)
{
    const SettingInfo& info = settingInfo(setting);
    if (info.type == SettingType::Integer)
        return SliderScale::Integer;
    return info.step == 0.01 ? SliderScale::Clip : SliderScale::Radius;
}

// Positions per unit of the setting's value: 1, 100 or 10.
constexpr int positionsPerUnit(SliderScale scale)
{
    return scale == SliderScale::Clip ? 100 : scale == SliderScale::Radius ? 10 : 1;
}

// The page range of the setting, in positions.
constexpr TrackbarRange trackbarRange(SettingId setting)
{
    const SettingInfo& info = settingInfo(setting);
    const int perUnit = positionsPerUnit(sliderScale(setting));
    return { detail::roundToInt(info.minimum * perUnit), detail::roundToInt(info.maximum * perUnit) };
}

// The range as a trackbar takes it in one message: minimum in the low word, maximum in the high
// word, each a signed 16-bit number.
constexpr uint32_t packedRange(TrackbarRange range)
{
    return uint32_t(uint16_t(range.minimum)) | uint32_t(uint16_t(range.maximum)) << 16;
}

// The position for a value read from the document, inside the slider's range. A value that is not
// a number counts as 0, what the page reads for an unreadable entry.
int positionFromValue(SettingId setting, double value);
// The value a position stands for (position x step).
double valueFromPosition(SettingId setting, int position);

// A slider's setting read from the document with fallback 0, as a position: integers with getInt,
// clips and radii with getDouble. A missing entry is added with 0.
int readPosition(ParameterStore& document, SettingId setting);
// Writes a position back: integers with setInt, clips and radii as their value with setDouble.
void writePosition(ParameterStore& document, SettingId setting, int position);

// Value labels. Clips show two decimals and radii one, without a unit: the template's "%" beside
// a clip is overwritten by the first load.
std::string formatIntLabel(int position); // "-30"
std::string formatClipLabel(int position); // 25 -> "0.25"
std::string formatRadiusLabel(int position); // 10 -> "1.0"
// The label of the setting's slider, by its scale.
std::string formatValueLabel(SettingId setting, int position);

} // namespace quarvel
