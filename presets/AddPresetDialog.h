// The modal box that asks for a preset's name. It keeps the name between runs, so that the
// preset window can bring it back with the name the user typed when that name could not be used.
#pragma once

#include <windows.h>

#include <string>

namespace quarvel {

class AddPresetDialog {
public:
    AddPresetDialog() = default;
    virtual ~AddPresetDialog();
    AddPresetDialog(const AddPresetDialog&) = delete;
    AddPresetDialog& operator=(const AddPresetDialog&) = delete;

    // Shows the box owned by `owner` with `presetName` in its field: IDOK (the name is in
    // `presetName`, never empty) or IDCANCEL (`presetName` is empty).
    INT_PTR run(HWND owner);

    virtual INT_PTR onOK(WPARAM, LPARAM);
    virtual INT_PTR onCancel(WPARAM, LPARAM);
    virtual INT_PTR onNameChange(WPARAM, LPARAM);

    HWND window = nullptr;
    std::string presetName;

    static INT_PTR CALLBACK dialogProcedure(HWND, UINT, WPARAM, LPARAM);

private:
    void onInitDialog();
    std::string typedName() const;
};

} // namespace quarvel
