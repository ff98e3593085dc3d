// The settings file quarvel.cfg beside the module: where the main dialog and the preset window
// stood when the dialog last closed, and whether the preset window was open. Nine 32-bit
// little-endian integers, raw: the dialog's outer rectangle, the open flag, the preset window's
// outer rectangle. A rectangle is used only where its window would still be seen.
#include "ui/MainDialog.h"

#include "control/ProcessingController.h"
#include "presets/PresetManagerWindow.h"
#include "presets/ReplaceFile.h"
#include "resources/ResourceIds.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace quarvel {

namespace {

constexpr char kSettingsFileName[] = "quarvel.cfg";
constexpr size_t kRectangleBytes = 16;
constexpr size_t kFlagBytes = 4;

std::string settingsFilePath() { return std::string(moduleDirectory()) + kSettingsFileName; }

// The four integers left, top, right, bottom as stored, widened so that no test point of a
// garbage rectangle can overflow.
struct StoredRectangle {
    int64_t left = 0, top = 0, right = 0, bottom = 0;
};

bool readRectangle(std::FILE* file, StoredRectangle& rectangle)
{
    unsigned char bytes[kRectangleBytes];
    if (std::fread(bytes, 1, sizeof bytes, file) != sizeof bytes)
        return false;
    int32_t values[4];
    std::memcpy(values, bytes, sizeof values);
    rectangle = { values[0], values[1], values[2], values[3] };
    return true;
}

bool visiblePoint(HRGN region, int64_t x, int64_t y)
{
    return x >= INT32_MIN && x <= INT32_MAX && y >= INT32_MIN && y <= INT32_MAX
        && PtInRegion(region, int(x), int(y));
}

// Both test points on screen, and each of them inside the rectangle itself: a rectangle turned
// inside out, or too small to hold its own test points, is garbage that would leave the window
// with no size at all.
bool visibleAt(HRGN region, const StoredRectangle& r, int64_t x1, int64_t y1, int64_t x2, int64_t y2)
{
    const auto inside
        = [&r](int64_t x, int64_t y) { return x >= r.left && x <= r.right && y >= r.top && y <= r.bottom; };
    return inside(x1, y1) && inside(x2, y2) && visiblePoint(region, x1, y1) && visiblePoint(region, x2, y2);
}

void moveTo(HWND window, const StoredRectangle& r)
{
    MoveWindow(window, int(r.left), int(r.top), int(r.right - r.left), int(r.bottom - r.top), TRUE);
}

void appendRectangle(unsigned char*& out, const RECT& r)
{
    const int32_t values[4] = { r.left, r.top, r.right, r.bottom };
    std::memcpy(out, values, sizeof values);
    out += sizeof values;
}

} // namespace

void MainDialog::readSettingsFile()
{
    std::FILE* file = std::fopen(settingsFilePath().c_str(), "rb");
    if (!file)
        return;
    GdiObject<HRGN> visible(buildVisibleScreenRegion());
    HWND presets = presetWindow ? presetWindow->window : nullptr;

    StoredRectangle r;
    if (readRectangle(file, r)
        && visibleAt(visible.get(), r, r.left + 100, r.top + 100, r.right - 100, r.bottom - 100))
        moveTo(dialogWindow(), r);
    unsigned char flagBytes[kFlagBytes];
    int32_t open = 0;
    if (std::fread(flagBytes, 1, sizeof flagBytes, file) == sizeof flagBytes)
        std::memcpy(&open, flagBytes, sizeof open);
    // Only the caption strip is looked at: that is what the user needs to reach to move it back.
    if (readRectangle(file, r) && presets
        && visibleAt(visible.get(), r, r.left + 20, r.top, r.right - 20, r.top + 25))
        moveTo(presets, r);
    if (open != 0) {
        CheckDlgButton(dialogWindow(), IDC_PRESET_BUTTON, BST_CHECKED);
        PostMessageA(dialogWindow(), WM_COMMAND, MAKEWPARAM(IDC_PRESET_BUTTON, BN_CLICKED),
            reinterpret_cast<LPARAM>(GetDlgItem(dialogWindow(), IDC_PRESET_BUTTON)));
    }
    std::fclose(file);
}

// The new placement replaces the old file whole, or not at all: a crash while writing must not
// leave a short file that would put the dialog somewhere else next time.
void MainDialog::writeSettingsFile()
{
    RECT dialog {};
    RECT presets {};
    GetWindowRect(dialogWindow(), &dialog);
    int32_t open = 0;
    if (presetWindow && presetWindow->window) {
        GetWindowRect(presetWindow->window, &presets);
        open = IsWindowVisible(presetWindow->window) ? 1 : 0;
    }
    unsigned char bytes[2 * kRectangleBytes + kFlagBytes];
    unsigned char* out = bytes;
    appendRectangle(out, dialog);
    std::memcpy(out, &open, sizeof open);
    out += sizeof open;
    appendRectangle(out, presets);

    replaceFile(settingsFilePath(), [&bytes](const char* temporary) {
        std::FILE* file = std::fopen(temporary, "wb");
        if (!file)
            return false;
        const bool written = std::fwrite(bytes, 1, sizeof bytes, file) == sizeof bytes;
        return std::fclose(file) == 0 && written;
    });
}

// The virtual screen (every monitor) without the strips that the primary monitor's task bars
// cover. A system that reports no virtual screen counts the primary monitor's work area.
HRGN MainDialog::buildVisibleScreenRegion()
{
    RECT workArea {};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &workArea, 0);
    const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    const int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    GdiObject<HRGN> outside(CreateRectRgn(0, 0, screenWidth, screenHeight));
    GdiObject<HRGN> work(CreateRectRgnIndirect(&workArea));
    CombineRgn(outside.get(), outside.get(), work.get(), RGN_DIFF);

    HRGN visible = CreateRectRgn(0, 0, 0, 0);
    const int desktopRegion = GetWindowRgn(GetDesktopWindow(), visible);
    if (desktopRegion != SIMPLEREGION && desktopRegion != COMPLEXREGION) {
        const int x = GetSystemMetrics(SM_XVIRTUALSCREEN);
        const int y = GetSystemMetrics(SM_YVIRTUALSCREEN);
        const int width = GetSystemMetrics(SM_CXVIRTUALSCREEN);
        const int height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
        if (width > 0 && height > 0)
            SetRectRgn(visible, x, y, x + width, y + height);
        else
            SetRectRgn(visible, 0, 0, screenWidth, screenHeight);
    }
    CombineRgn(visible, visible, outside.get(), RGN_DIFF);
    return visible;
}

} // namespace quarvel
