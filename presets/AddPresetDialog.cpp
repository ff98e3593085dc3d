// The name box: OK is enabled exactly while the field holds a name.
#include "presets/AddPresetDialog.h"

#include "platform/Platform.h"
#include "presets/PresetNames.h"
#include "resources/ResourceIds.h"

#include <vector>

namespace quarvel {

AddPresetDialog::~AddPresetDialog()
{
    if (window && IsWindow(window)
        && GetWindowLongPtrA(window, DWLP_USER) == reinterpret_cast<LONG_PTR>(this))
        SetWindowLongPtrA(window, DWLP_USER, 0);
}

INT_PTR AddPresetDialog::run(HWND owner)
{
    const INT_PTR ended = DialogBoxParamA(static_cast<HINSTANCE>(platform::moduleInstance()),
        MAKEINTRESOURCEA(IDD_ADD_PRESET), owner, dialogProcedure, reinterpret_cast<LPARAM>(this));
    window = nullptr;
    return ended == IDOK ? IDOK : IDCANCEL;
}

INT_PTR CALLBACK AddPresetDialog::dialogProcedure(HWND hwnd, UINT message, WPARAM first, LPARAM second)
{
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<AddPresetDialog*>(second);
        self->window = hwnd;
        SetWindowLongPtrA(hwnd, DWLP_USER, second);
        self->onInitDialog();
        return TRUE;
    }
    auto* self = reinterpret_cast<AddPresetDialog*>(GetWindowLongPtrA(hwnd, DWLP_USER));
    if (!self || message != WM_COMMAND)
        return FALSE;
    switch (LOWORD(first)) {
    case IDOK:
        return self->onOK(first, second);
    case IDCANCEL:
        return self->onCancel(first, second);
    case IDC_PRESET_NAME:
        return HIWORD(first) == EN_CHANGE ? self->onNameChange(first, second) : FALSE;
    default:
        return FALSE;
    }
}

void AddPresetDialog::onInitDialog()
{
    // The field takes no more than a name can be, so nothing typed is ever cut off unseen.
    SendDlgItemMessageA(window, IDC_PRESET_NAME, EM_LIMITTEXT, kPresetNameLimit, 0);
    SetDlgItemTextA(window, IDC_PRESET_NAME, presetName.c_str());
    // Not every system reports setting the text as a change; OK must follow the name either way.
    onNameChange(0, 0);
}

std::string AddPresetDialog::typedName() const
{
    HWND field = GetDlgItem(window, IDC_PRESET_NAME);
    std::vector<char> text(size_t(GetWindowTextLengthA(field)) + 1, '\0');
    GetWindowTextA(field, text.data(), int(text.size()));
    return text.data();
}

INT_PTR AddPresetDialog::onNameChange(WPARAM, LPARAM)
{
    presetName = typedName();
    EnableWindow(GetDlgItem(window, IDOK), !presetName.empty());
    return TRUE;
}

INT_PTR AddPresetDialog::onOK(WPARAM, LPARAM)
{
    presetName = typedName();
    // Enter reaches here even while the button is disabled.
    if (!presetName.empty())
        EndDialog(window, IDOK);
    return TRUE;
}

INT_PTR AddPresetDialog::onCancel(WPARAM, LPARAM)
{
    presetName.clear();
    EndDialog(window, IDCANCEL);
    return TRUE;
}

} // namespace quarvel
