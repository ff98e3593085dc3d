// The preset window: a small modeless tool window beside the main dialog that lists the presets
// of the preset folder, adds the dialog's current settings as a new one, deletes one, and reports
// to the dialog when the user selects an entry (the dialog then applies it) or closes the window.
//
// The list is a view of the folder, rebuilt on creation, on Refresh, after a save and whenever
// the dialog shows the window. Each entry carries its file's full path as a heap string that the
// list owns.
#pragma once

#include <windows.h>

#include <string>

namespace quarvel {

class ParameterStore;

class PresetManagerWindow {
public:
    PresetManagerWindow() = default;
    virtual ~PresetManagerWindow();
    PresetManagerWindow(const PresetManagerWindow&) = delete;
    PresetManagerWindow& operator=(const PresetManagerWindow&) = delete;

    // Makes the hidden window, owned by `owner`, and answers it; null (and nothing stored) if it
    // could not be made. `document` must be set before.
    HWND create(HWND owner, HWND notifyTo, UINT message);
    // The selected entry's file: false, with `path` empty, without a selection.
    bool getSelectedPresetPath(std::string& path) const;
    void refreshList();
    void clearList();

    virtual INT_PTR onInitDialog(WPARAM, LPARAM);
    virtual INT_PTR onSize(WPARAM, LPARAM);
    virtual INT_PTR onClose(WPARAM, LPARAM);
    virtual INT_PTR onRefresh(WPARAM, LPARAM);
    virtual INT_PTR onAdd(WPARAM, LPARAM);
    virtual INT_PTR onDelete(WPARAM, LPARAM);
    virtual INT_PTR onSelChange(WPARAM, LPARAM);

    HWND window = nullptr;
    std::string folderPath; // ends in a backslash
    ParameterStore* document = nullptr; // the main dialog's; not owned
    HWND notifyWindow = nullptr;
    UINT notifyMessage = 0;
    POINT listOrigin {}; // the list's top-left corner in the client area
    HWND listBox = nullptr;

    static INT_PTR CALLBACK dialogProcedure(HWND, UINT, WPARAM, LPARAM);

private:
    INT_PTR routeCommand(WPARAM, LPARAM);
    int ask(const std::string& text, UINT style) const;
    std::string* entryPath(LRESULT index) const;
};

} // namespace quarvel
