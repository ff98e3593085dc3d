// The preset window: its routing, the list built from the preset folder, and Add and Delete with
// their questions. Paths and messages are whole strings, however long the name.
#include "presets/PresetManagerWindow.h"

#include "control/ProcessingController.h"
#include "platform/Platform.h"
#include "presets/AddPresetDialog.h"
#include "presets/PresetNames.h"
#include "presets/ReplaceFile.h"
#include "resources/ResourceIds.h"
#include "settings/ParameterDocument.h"
#include "settings/TextFormat.h"

#include <cstdio>
#include <new>
#include <vector>

namespace quarvel {

namespace {

bool canOpenForReading(const std::string& path)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return false;
    std::fclose(file);
    return true;
}

} // namespace

PresetManagerWindow::~PresetManagerWindow()
{
    if (window && IsWindow(window)) {
        clearList();
        SetWindowLongPtrA(window, DWLP_USER, 0);
    }
}

HWND PresetManagerWindow::create(HWND owner, HWND notifyTo, UINT message)
{
    HWND made = CreateDialogParamA(static_cast<HINSTANCE>(platform::moduleInstance()),
        MAKEINTRESOURCEA(IDD_PRESET_MANAGER), owner, dialogProcedure, reinterpret_cast<LPARAM>(this));
    if (!made)
        return nullptr;
    notifyWindow = notifyTo;
    notifyMessage = message;
    return made;
}

INT_PTR CALLBACK PresetManagerWindow::dialogProcedure(HWND hwnd, UINT message, WPARAM first, LPARAM second)
{
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<PresetManagerWindow*>(second);
        SetWindowLongPtrA(hwnd, DWLP_USER, second);
        self->window = hwnd;
        self->onInitDialog(first, second);
        return TRUE;
    }
    auto* self = reinterpret_cast<PresetManagerWindow*>(GetWindowLongPtrA(hwnd, DWLP_USER));
    if (!self)
        return FALSE;
    switch (message) {
    case WM_SIZE:
        return self->onSize(first, second);
    case WM_COMMAND:
        return self->routeCommand(first, second);
    case WM_DESTROY:
        // The main dialog's end takes this window with it; the list's paths go while it exists.
        self->clearList();
        return FALSE;
    case WM_NCDESTROY:
        self->window = nullptr;
        self->listBox = nullptr;
        SetWindowLongPtrA(hwnd, DWLP_USER, 0);
        return FALSE;
    default:
        return FALSE;
    }
}

INT_PTR PresetManagerWindow::routeCommand(WPARAM first, LPARAM second)
{
    switch (LOWORD(first)) {
    case IDC_PRESET_ADD:
        return onAdd(first, second);
    case IDC_PRESET_DELETE:
        return onDelete(first, second);
    case IDC_PRESET_REFRESH:
        return onRefresh(first, second);
    case IDCANCEL:
        return onClose(first, second);
    case IDC_PRESET_LIST:
        return HIWORD(first) == LBN_SELCHANGE ? onSelChange(first, second) : FALSE;
    default:
        return FALSE;
    }
}

INT_PTR PresetManagerWindow::onInitDialog(WPARAM, LPARAM)
{
    refreshList();
    listBox = GetDlgItem(window, IDC_PRESET_LIST);
    RECT list {};
    GetWindowRect(listBox, &list);
    listOrigin = { list.left, list.top };
    ScreenToClient(window, &listOrigin);
    return TRUE;
}

INT_PTR PresetManagerWindow::onSize(WPARAM, LPARAM)
{
    if (!listBox)
        return FALSE;
    RECT client {};
    GetClientRect(window, &client);
    const LONG width = client.right - listOrigin.x;
    const LONG height = client.bottom - listOrigin.y;
    MoveWindow(listBox, listOrigin.x, listOrigin.y, width > 0 ? width : 0, height > 0 ? height : 0, TRUE);
    return TRUE;
}

INT_PTR PresetManagerWindow::onClose(WPARAM, LPARAM)
{
    if (notifyWindow)
        PostMessageA(notifyWindow, notifyMessage, 0, 0);
    ShowWindow(window, SW_HIDE);
    return TRUE;
}

INT_PTR PresetManagerWindow::onRefresh(WPARAM, LPARAM)
{
    refreshList();
    return TRUE;
}

INT_PTR PresetManagerWindow::onSelChange(WPARAM, LPARAM)
{
    if (notifyWindow)
        PostMessageA(notifyWindow, notifyMessage, 1, 0);
    return TRUE;
}

std::string* PresetManagerWindow::entryPath(LRESULT index) const
{
    HWND list = GetDlgItem(window, IDC_PRESET_LIST);
    const LRESULT data = SendMessageA(list, LB_GETITEMDATA, WPARAM(index), 0);
    return data == LB_ERR ? nullptr : reinterpret_cast<std::string*>(data);
}

void PresetManagerWindow::refreshList()
{
    folderPath = presetFolderPath(moduleDirectory());
    CreateDirectoryA(folderPath.c_str(), nullptr);
    clearList();
    HWND list = GetDlgItem(window, IDC_PRESET_LIST);
    WIN32_FIND_DATAA found {};
    HANDLE search = FindFirstFileA(presetSearchPattern(folderPath).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    ParameterDocument listing;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        auto* path = new (std::nothrow) std::string(folderPath + found.cFileName);
        if (!path)
            continue;
        if (!listing.load(path->c_str())) {
            delete path;
            continue;
        }
        char plugInName[kIdentityValueLength + 1] = {};
        char version[kIdentityValueLength + 1] = {};
        const bool named
            = listing.getString(kPlugInNameEntry, plugInName, kIdentityValueLength, nullptr) != 0;
        const bool versioned = listing.getString(kVersionEntry, version, kIdentityValueLength, nullptr) != 0;
        const std::string label
            = presetLabel(found.cFileName, named ? plugInName : nullptr, versioned ? version : nullptr);
        const LRESULT index = SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(label.c_str()));
        if (index == LB_ERR || index == LB_ERRSPACE)
            delete path;
        else
            SendMessageA(list, LB_SETITEMDATA, WPARAM(index), reinterpret_cast<LPARAM>(path));
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

bool PresetManagerWindow::getSelectedPresetPath(std::string& path) const
{
    path.clear();
    if (!window)
        return false;
    const LRESULT selected = SendMessageA(GetDlgItem(window, IDC_PRESET_LIST), LB_GETCURSEL, 0, 0);
    const std::string* entry = selected == LB_ERR ? nullptr : entryPath(selected);
    if (!entry)
        return false;
    path = *entry;
    return true;
}

void PresetManagerWindow::clearList()
{
    HWND list = window ? GetDlgItem(window, IDC_PRESET_LIST) : nullptr;
    if (!list)
        return;
    const LRESULT count = SendMessageA(list, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        delete entryPath(i);
        SendMessageA(list, LB_SETITEMDATA, WPARAM(i), 0);
    }
    SendMessageA(list, LB_RESETCONTENT, 0, 0);
}

int PresetManagerWindow::ask(const std::string& text, UINT style) const
{
    return MessageBoxA(window, text.c_str(), "Quarvel", style);
}

// A name is tried until it is saved or the user gives up; whatever went wrong brings the name
// back for correction. The old preset of that name is replaced whole, or stays as it was.
INT_PTR PresetManagerWindow::onAdd(WPARAM, LPARAM)
{
    AddPresetDialog nameDialog;
    if (nameDialog.run(window) != IDOK)
        return TRUE;
    for (;;) {
        const std::string& name = nameDialog.presetName;
        const std::string path = presetFilePath(presetFolderPath(moduleDirectory()), name);
        bool save = true;
        if (!isPresetFileName(name)) {
            ask(cannotSavePresetMessage(name), MB_OK | MB_ICONEXCLAMATION);
            save = false;
        } else if (canOpenForReading(path)) {
            save = ask(presetExistsQuestion(name), MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
        }
        if (save) {
            const bool saved = document && replaceFile(path, [this](const char* temporary) {
                return document->save(temporary) == 1;
            });
            if (saved) {
                refreshList();
                return TRUE;
            }
            ask(cannotSavePresetMessage(name), MB_OK | MB_ICONEXCLAMATION);
        }
        if (nameDialog.run(window) != IDOK)
            return TRUE;
    }
}

INT_PTR PresetManagerWindow::onDelete(WPARAM, LPARAM)
{
    HWND list = GetDlgItem(window, IDC_PRESET_LIST);
    const LRESULT selected = SendMessageA(list, LB_GETCURSEL, 0, 0);
    if (selected == LB_ERR)
        return TRUE;
    std::vector<char> label(size_t(SendMessageA(list, LB_GETTEXTLEN, WPARAM(selected), 0)) + 1, '\0');
    SendMessageA(list, LB_GETTEXT, WPARAM(selected), reinterpret_cast<LPARAM>(label.data()));
    if (ask(deletePresetQuestion(label.data()), MB_YESNO | MB_ICONQUESTION) != IDYES)
        return TRUE;
    if (std::string* path = entryPath(selected)) {
        DeleteFileA(path->c_str());
        delete path;
        SendMessageA(list, LB_SETITEMDATA, WPARAM(selected), 0);
    }
    SendMessageA(list, LB_DELETESTRING, WPARAM(selected), 0);
    return TRUE;
}

} // namespace quarvel
