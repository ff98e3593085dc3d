#include "tools/host/HostWindow.h"

#include <windows.h>

#include <atomic>

namespace quarvel::host {

namespace {

constexpr const wchar_t* kClassName = L"QuarvelHostWindow";

// Read by the console's control thread.
std::atomic<HWND> gOwner { nullptr };

BOOL CALLBACK closeOwnedPopup(HWND window, LPARAM owner)
{
    // A disabled one has a box of its own in front; that box must be answered first.
    if (GetWindow(window, GW_OWNER) == reinterpret_cast<HWND>(owner) && IsWindowEnabled(window))
        PostMessageW(window, WM_CLOSE, 0, 0);
    return TRUE;
}

// A dialog closed is a dialog cancelled, so the run ends as the stop request the console's own
// handler makes of the same Ctrl-C; without this the user would have to find the dialog first.
// FALSE passes the event on to that handler.
BOOL WINAPI onControl(DWORD type)
{
    if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT)
        if (HWND owner = gOwner.load())
            EnumWindows(closeOwnedPopup, reinterpret_cast<LPARAM>(owner));
    return FALSE;
}

} // namespace

DialogOwnerWindow::DialogOwnerWindow()
{
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kClassName;
    registered_ = RegisterClassExW(&windowClass) != 0;
    if (!registered_ && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        return;

    RECT workArea = { 0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN) };
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &workArea, 0);
    const ScreenPoint origin = centredDialogOrigin(
        workArea.left, workArea.top, workArea.right, workArea.bottom, kDialogWidth, kDialogHeight);
    // A borderless popup: its client area is the window itself.
    HWND window = CreateWindowExW(0, kClassName, L"quarvel-host", WS_POPUP, origin.x, origin.y, kDialogWidth,
        kDialogHeight, nullptr, nullptr, instance, nullptr);
    if (!window)
        return;
    handle_ = reinterpret_cast<intptr_t>(window);
    gOwner.store(window);
    SetConsoleCtrlHandler(onControl, TRUE);
}

DialogOwnerWindow::~DialogOwnerWindow()
{
    if (handle_) {
        SetConsoleCtrlHandler(onControl, FALSE);
        gOwner.store(nullptr);
        DestroyWindow(reinterpret_cast<HWND>(handle_));
    }
    if (registered_)
        UnregisterClassW(kClassName, GetModuleHandleW(nullptr));
}

} // namespace quarvel::host
