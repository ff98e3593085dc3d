// The base of the four tab pages. A page moves values between its controls and the parameter
// document when the main dialog asks, and posts one message to the dialog whenever the user
// commits a change (a released slider, a clicked box). It holds no copy of any value.
#pragma once

#include <windows.h>

namespace quarvel {

class ParameterStore;

class SettingsPage {
public:
    // Does not destroy the window: the dialog destroys each page's window before the object.
    virtual ~SettingsPage() = default;
    virtual void load(ParameterStore& document) = 0;
    virtual void store(ParameterStore& document) = 0;
    // The page window, a child of `parent`, or null if it could not be made.
    virtual HWND create(HWND parent, HWND notifyWindow, UINT notifyMessage) = 0;

    HWND window = nullptr;
    HWND notifyWindow = nullptr;
    UINT notifyMessage = 0;

protected:
    SettingsPage() = default;
    SettingsPage(const SettingsPage&) = delete;
    SettingsPage& operator=(const SettingsPage&) = delete;
};

} // namespace quarvel
