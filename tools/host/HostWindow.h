// The window that owns the plug-in's dialog, as an image editor's main window does. The dialog
// opens at the origin of its owner's client area, so the owner is placed to centre it on screen.
#pragma once

#include <algorithm>
#include <cstdint>

namespace quarvel::host {

// The plug-in's dialog, in pixels.
constexpr int kDialogWidth = 810;
constexpr int kDialogHeight = 560;

struct ScreenPoint {
    int x = 0;
    int y = 0;
};

// Where the owner's client area starts so that a dialog of `width` x `height` opening there is
// centred on the work area; a dialog larger than the work area keeps its top left corner on it.
constexpr ScreenPoint centredDialogOrigin(int left, int top, int right, int bottom, int width, int height)
{
    return ScreenPoint { left + std::max(0, (right - left - width) / 2),
        top + std::max(0, (bottom - top - height) / 2) };
}

// A hidden top-level window whose client area lies where the dialog is to appear. Hidden,
// because a shown frame under Wine without a window manager is drawn undecorated and makes
// every close wait for a manager that never answers; the dialog itself shows in front either
// way. While it exists, Ctrl-C closes the dialog as its Cancel button would. The window and its
// class are gone once this is destroyed. Windows builds only.
class DialogOwnerWindow {
public:
    DialogOwnerWindow();
    ~DialogOwnerWindow();
    DialogOwnerWindow(const DialogOwnerWindow&) = delete;
    DialogOwnerWindow& operator=(const DialogOwnerWindow&) = delete;

    // The HWND, or 0 if none could be made: the dialog then opens without an owner, as it
    // does for hosts that pass none.
    intptr_t handle() const { return handle_; }

private:
    intptr_t handle_ = 0;
    bool registered_ = false;
};

} // namespace quarvel::host
