// The settings page framework: one dialog procedure for every page, and the table-driven set-up,
// labels, load and store. While the user drags a slider only its label follows; the change is
// committed, once, when the slider is released.
#include "pages/TablePage.h"

#include "platform/Platform.h"
#include "settings/ParameterStore.h"

#include <commctrl.h>

namespace quarvel {

TablePage::~TablePage()
{
    // The dialog destroys the window first; should it not, no message may reach this object.
    if (window && IsWindow(window)
        && GetWindowLongPtrA(window, DWLP_USER) == reinterpret_cast<LONG_PTR>(this))
        SetWindowLongPtrA(window, DWLP_USER, 0);
}

HWND TablePage::create(HWND parent, HWND notifyTo, UINT message)
{
    HWND made = CreateDialogParamA(static_cast<HINSTANCE>(platform::moduleInstance()),
        MAKEINTRESOURCEA(table.templateId), parent, dialogProcedure, reinterpret_cast<LPARAM>(this));
    if (!made) {
        window = nullptr;
        return nullptr;
    }
    notifyWindow = notifyTo;
    notifyMessage = message;
    return made;
}

// The object arrives with WM_INITDIALOG and lives in the window's user data from then on. A few
// messages (WM_SETFONT among them) come before it and are left to the dialog manager.
INT_PTR CALLBACK TablePage::dialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        auto* page = reinterpret_cast<TablePage*>(lParam);
        SetWindowLongPtrA(window, DWLP_USER, lParam);
        page->window = window;
        page->onInitDialog(wParam, lParam);
        return TRUE;
    }
    auto* page = reinterpret_cast<TablePage*>(GetWindowLongPtrA(window, DWLP_USER));
    if (!page)
        return FALSE;
    switch (message) {
    case WM_COMMAND:
        return page->routeCommand(wParam, lParam);
    case WM_HSCROLL:
        return page->onHScroll(wParam, lParam);
    case WM_NCDESTROY:
        page->window = nullptr;
        SetWindowLongPtrA(window, DWLP_USER, 0);
        return FALSE;
    }
    return FALSE;
}

// By control id alone; the notification code is not looked at.
INT_PTR TablePage::routeCommand(WPARAM wParam, LPARAM lParam)
{
    const int id = LOWORD(wParam);
    switch (id) {
    case IDOK:
        onOK(wParam, lParam);
        return TRUE;
    case IDCANCEL:
        onCancel(wParam, lParam);
        return TRUE;
    }
    return onButton(id, wParam, lParam) ? TRUE : FALSE;
}

bool TablePage::onButton(int id, WPARAM wParam, LPARAM lParam)
{
    const PageControl* control = findControl(table, id);
    if (!control || control->kind != ControlKind::CheckBox)
        return false;
    notifyChanged(wParam, lParam);
    return true;
}

// Ranges and tick spacing only; the labels are first written by load.
INT_PTR TablePage::onInitDialog(WPARAM, LPARAM)
{
    for (const int id : table.setupOrder) {
        const PageControl* trackbar = findControl(table, id);
        sendItem(id, TBM_SETRANGE, TRUE, LPARAM(packedRange(trackbarRange(trackbar->setting))));
        sendItem(id, TBM_SETTICFREQ, WPARAM(trackbar->tickSpacing), 0);
    }
    return 0;
}

INT_PTR TablePage::onHScroll(WPARAM wParam, LPARAM lParam)
{
    const unsigned code = LOWORD(wParam);
    if (code == TB_ENDTRACK) {
        notifyChanged(0, 0);
        return 0;
    }
    if (code > TB_ENDTRACK)
        return 1;
    const PageControl* moved = findControl(table, GetDlgCtrlID(reinterpret_cast<HWND>(lParam)));
    if (moved && moved->kind == ControlKind::Trackbar)
        writeLabel(*moved);
    return 0;
}

INT_PTR TablePage::onOK(WPARAM, LPARAM) { return 0; }

INT_PTR TablePage::onCancel(WPARAM, LPARAM) { return 0; }

INT_PTR TablePage::notifyChanged(WPARAM, LPARAM)
{
    // Without a target the message would become a thread message in the host's queue.
    if (notifyWindow)
        PostMessageA(notifyWindow, notifyMessage, 0, 0);
    return 0;
}

void TablePage::load(ParameterStore& document)
{
    if (!window)
        return;
    for (const SettingId setting : table.loadOrder)
        loadControl(document, *findControlFor(table, setting));
}

void TablePage::store(ParameterStore& document)
{
    if (!window)
        return;
    for (const SettingId setting : table.storeOrder)
        storeControl(document, *findControlFor(table, setting));
}

void TablePage::loadControl(ParameterStore& document, const PageControl& control)
{
    switch (control.kind) {
    case ControlKind::CheckBox: {
        int32_t value = 0;
        document.getInt(settingInfo(control.setting).name, &value, 0);
        sendItem(control.id, BM_SETCHECK, value != 0 ? BST_CHECKED : BST_UNCHECKED, 0);
        break;
    }
    case ControlKind::Trackbar:
        setPosition(control.id, readPosition(document, control.setting));
        writeLabel(control);
        break;
    case ControlKind::RadioButton:
        break;
    }
}

void TablePage::storeControl(ParameterStore& document, const PageControl& control)
{
    switch (control.kind) {
    case ControlKind::CheckBox:
        document.setInt(settingInfo(control.setting).name,
            sendItem(control.id, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0);
        break;
    case ControlKind::Trackbar:
        writePosition(document, control.setting, position(control.id));
        break;
    case ControlKind::RadioButton:
        break;
    }
}

void TablePage::writeLabel(const PageControl& trackbar)
{
    const std::string text = formatValueLabel(trackbar.setting, position(trackbar.id));
    SetDlgItemTextA(window, trackbar.valueLabel, text.c_str());
}

int TablePage::position(int trackbarId) const { return int(sendItem(trackbarId, TBM_GETPOS, 0, 0)); }

void TablePage::setPosition(int trackbarId, int newPosition)
{
    sendItem(trackbarId, TBM_SETPOS, TRUE, LPARAM(newPosition));
}

LRESULT TablePage::sendItem(int id, UINT message, WPARAM wParam, LPARAM lParam) const
{
    return SendDlgItemMessageA(window, id, message, wParam, lParam);
}

} // namespace quarvel
