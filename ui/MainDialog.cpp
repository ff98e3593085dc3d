// The main dialog's window: routing, initialisation, the pages, the preset window's side, the
// commands and the progress of preview runs. The preview pane is in PreviewPane.cpp, the skin in
// Skin.cpp, the remembered placement in SettingsFile.cpp.
#include "ui/MainDialog.h"

#include "control/ProcessingController.h"
#include "pages/ColorPage.h"
#include "pages/DynamicRangePage.h"
#include "pages/SharpnessPage.h"
#include "pages/SmoothPage.h"
#include "platform/Platform.h"
#include "presets/PresetManagerWindow.h"
#include "resources/ResourceIds.h"
#include "settings/ParameterStore.h"

#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>
#include <new>
#include <string>

namespace quarvel {

namespace {

HINSTANCE instance() { return static_cast<HINSTANCE>(platform::moduleInstance()); }

constexpr int kPageCount = 4;
const char* const kTabTexts[kPageCount] = { "Dynamic Range", "Color", "Sharpness", "Diffusion" };

} // namespace

DialogView* createMainDialog() { return new (std::nothrow) MainDialog(); }

MainDialog::MainDialog()
{
    LOGBRUSH hollow { BS_HOLLOW, 0, 0 };
    hollowBrush.reset(CreateBrushIndirect(&hollow));
    backgroundBitmap.reset(LoadBitmapA(instance(), MAKEINTRESOURCEA(IDB_BACKGROUND)));
}

MainDialog::~MainDialog()
{
    // The window is normally gone by now; if not, no message may find this object any more.
    if (window && IsWindow(dialogWindow()))
        SetWindowLongPtrA(dialogWindow(), DWLP_USER, 0);
    if (presetWindow) {
        if (presetWindow->window && IsWindow(presetWindow->window))
            DestroyWindow(presetWindow->window);
        delete presetWindow;
        presetWindow = nullptr;
    }
    for (SettingsPage*& page : pages) {
        if (page && page->window && IsWindow(page->window))
            DestroyWindow(page->window);
        delete page;
        page = nullptr;
    }
}

int MainDialog::run(intptr_t parentWindow, ParameterStore* parameters)
{
    document = parameters;
    INITCOMMONCONTROLSEX controls { sizeof(INITCOMMONCONTROLSEX),
        ICC_TAB_CLASSES | ICC_BAR_CLASSES | ICC_PROGRESS_CLASS };
    InitCommonControlsEx(&controls);
    const INT_PTR ended = DialogBoxParamA(instance(), MAKEINTRESOURCEA(IDD_MAIN_DIALOG),
        reinterpret_cast<HWND>(parentWindow), dialogProcedure, reinterpret_cast<LPARAM>(this));
    return ended == IDOK ? IDOK : IDCANCEL;
}

INT_PTR CALLBACK MainDialog::dialogProcedure(HWND hwnd, UINT message, WPARAM first, LPARAM second)
{
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<MainDialog*>(second);
        SetWindowLongPtrA(hwnd, DWLP_USER, second);
        self->window = reinterpret_cast<intptr_t>(hwnd);
        self->onInitDialog(first, second);
        return TRUE;
    }
    auto* self = reinterpret_cast<MainDialog*>(GetWindowLongPtrA(hwnd, DWLP_USER));
    if (!self)
        return FALSE;
    switch (message) {
    case WM_NCHITTEST:
        return self->onNcHitTest(first, second);
    case WM_PAINT:
        return self->onPaint(first, second);
    case WM_CTLCOLORSTATIC:
        return self->onCtlColorStatic(first, second);
    case WM_SETCURSOR:
        return self->onSetCursor(first, second);
    case WM_NCLBUTTONDOWN:
        return self->onNcLButtonDown(first, second);
    case WMU_SHOW_ABOUT:
        return self->onShowAbout(first, second);
    case WMU_PARAMS_CHANGED:
        return self->onParamsChanged(first, second);
    case WM_NOTIFY:
        return self->onNotify(first, second);
    case WMU_PRESET_EVENT:
        return self->onPresetEvent(first, second);
    case WM_COMMAND:
        return self->routeCommand(first, second);
    default:
        return FALSE;
    }
}

INT_PTR MainDialog::routeCommand(WPARAM first, LPARAM second)
{
    switch (LOWORD(first)) {
    case IDOK:
        return onOK(first, second);
    case IDCANCEL:
        return onCancel(first, second);
    case IDC_BY_PASS:
        return onByPass(first, second);
    case IDC_ZOOM_IN:
        return onZoomIn(first, second);
    case IDC_ZOOM_OUT:
        return onZoomOut(first, second);
    case IDC_PRESET_BUTTON:
        return onPresetButton(first, second);
    case IDC_HELP_BUTTON:
        return onHelp(first, second);
    default:
        return FALSE;
    }
}

INT_PTR MainDialog::onInitDialog(WPARAM first, LPARAM second)
{
    // The unprocessed bitmap is made now; it is laid out once the preview windows exist.
    if (controller)
        controller->onDialogEvent(this, kEventInitialised, intptr_t(first), intptr_t(second));
    createPreviewWindows();
    moveCursor = LoadCursorA(instance(), MAKEINTRESOURCEA(IDC_MOVE_CURSOR));
    linkCursor = LoadCursorA(instance(), MAKEINTRESOURCEA(IDC_LINK_CURSOR));
    bannerHighlight.reset();

    HWND tabs = GetDlgItem(dialogWindow(), IDC_PAGE_TABS);
    for (int i = 0; i < kPageCount; ++i) {
        TCITEMA item {};
        item.mask = TCIF_TEXT;
        item.pszText = const_cast<char*>(kTabTexts[i]);
        SendMessageA(tabs, TCM_INSERTITEMA, WPARAM(i), reinterpret_cast<LPARAM>(&item));
    }
    SendMessageA(tabs, TCM_SETITEMSIZE, 0, MAKELPARAM(105, 18));

    createPages();
    transferPages(true);
    layoutPreview();
    presetWindow = new (std::nothrow) PresetManagerWindow();
    if (presetWindow) {
        presetWindow->document = document;
        presetWindow->create(dialogWindow(), dialogWindow(), WMU_PRESET_EVENT);
    }
    readSettingsFile();
    SetWindowTextA(dialogWindow(), "Quarvel Dialog");
    return TRUE;
}

void MainDialog::createPages()
{
    RECT area {};
    GetWindowRect(GetDlgItem(dialogWindow(), IDC_PAGE_AREA), &area);
    MapWindowPoints(nullptr, dialogWindow(), reinterpret_cast<POINT*>(&area), 2);
    pages[0] = new (std::nothrow) DynamicRangePage();
    pages[1] = new (std::nothrow) ColorPage();
    pages[2] = new (std::nothrow) SharpnessPage();
    pages[3] = new (std::nothrow) SmoothPage();
    for (SettingsPage* page : pages) {
        if (!page || !page->create(dialogWindow(), dialogWindow(), WMU_PARAMS_CHANGED))
            continue;
        // Above the tab control, which would otherwise paint over the page.
        SetWindowPos(
            page->window, HWND_TOP, area.left, area.top, area.right - area.left, area.bottom - area.top, 0);
    }
    showPage(0);
}

void MainDialog::showPage(int index)
{
    for (int i = 0; i < kPageCount; ++i)
        if (pages[i] && pages[i]->window)
            ShowWindow(pages[i]->window, i == index ? SW_SHOW : SW_HIDE);
}

void MainDialog::transferPages(bool load)
{
    if (!document)
        return;
    for (SettingsPage* page : pages) {
        if (!page || !page->window)
            continue;
        if (load)
            page->load(*document);
        else
            page->store(*document);
    }
}

INT_PTR MainDialog::onParamsChanged(WPARAM, LPARAM)
{
    transferPages(false);
    if (controller)
        controller->onDialogEvent(this, kEventRender, 0, 0);
    return TRUE;
}

INT_PTR MainDialog::onNotify(WPARAM, LPARAM second)
{
    const auto* header = reinterpret_cast<const NMHDR*>(second);
    if (!header || header->idFrom != IDC_PAGE_TABS || header->code != UINT(TCN_SELCHANGE))
        return FALSE;
    const auto index = int(SendMessageA(header->hwndFrom, TCM_GETCURSEL, 0, 0));
    if (index >= 0 && index < kPageCount)
        showPage(index);
    return TRUE;
}

INT_PTR MainDialog::onOK(WPARAM, LPARAM)
{
    // The button is disabled during a run; a command sent all the same must not end the dialog
    // under a run that is still on the stack.
    if (controller && controller->isRunning())
        return TRUE;
    writeSettingsFile();
    EndDialog(dialogWindow(), IDOK);
    return TRUE;
}

INT_PTR MainDialog::onCancel(WPARAM, LPARAM)
{
    if (controller && controller->isRunning()) {
        controller->onDialogEvent(this, kEventStop, 0, 0);
        return TRUE;
    }
    writeSettingsFile();
    EndDialog(dialogWindow(), IDCANCEL);
    return TRUE;
}

INT_PTR MainDialog::onByPass(WPARAM, LPARAM)
{
    byPass = IsDlgButtonChecked(dialogWindow(), IDC_BY_PASS) == BST_CHECKED;
    if (imageWindow)
        InvalidateRect(imageWindow, nullptr, FALSE);
    return TRUE;
}

INT_PTR MainDialog::onPresetButton(WPARAM, LPARAM)
{
    if (!presetWindow || !presetWindow->window)
        return TRUE;
    if (IsDlgButtonChecked(dialogWindow(), IDC_PRESET_BUTTON) == BST_CHECKED) {
        ShowWindow(presetWindow->window, SW_SHOW);
        presetWindow->refreshList();
    } else {
        ShowWindow(presetWindow->window, SW_HIDE);
    }
    return TRUE;
}

// A selection is applied at once, also in the middle of a run: the pages' reload posts the change
// that stops the run and starts one with the preset's values.
INT_PTR MainDialog::onPresetEvent(WPARAM first, LPARAM)
{
    if (first == 0) {
        CheckDlgButton(dialogWindow(), IDC_PRESET_BUTTON, BST_UNCHECKED);
    } else if (first == 1 && presetWindow && document) {
        std::string path;
        if (presetWindow->getSelectedPresetPath(path) && document->load(path.c_str()) == 1)
            transferPages(true);
    }
    return TRUE;
}

INT_PTR MainDialog::onHelp(WPARAM, LPARAM)
{
    char path[512];
    std::snprintf(path, sizeof path, "%sdoc\\index.html", moduleDirectory());
    const auto opened = reinterpret_cast<INT_PTR>(
        ShellExecuteA(dialogWindow(), "open", path, nullptr, nullptr, SW_SHOWMAXIMIZED));
    if (opened <= 32) {
        char text[600];
        std::snprintf(text, sizeof text, "Cannot open \"%s\"", path);
        MessageBoxA(dialogWindow(), text, "Quarvel", MB_OK | MB_ICONEXCLAMATION);
    }
    return TRUE;
}

void MainDialog::progress(int state, int32_t done, int32_t total)
{
    if (!window)
        return;
    HWND bar = GetDlgItem(dialogWindow(), IDC_PROGRESS);
    HWND ok = GetDlgItem(dialogWindow(), IDOK);
    switch (state) {
    case kDialogProgressBegin:
        lastPump_ = 0;
        ShowWindow(bar, SW_SHOW);
        EnableWindow(ok, FALSE);
        SendMessageA(bar, PBM_SETRANGE, 0, MAKELPARAM(0, total));
        break;
    case kDialogProgressStep:
        // A run reports a hundred or more steps. Moving the bar and pumping the queue on every
        // one costs a run on 6 megapixels half its time under Wine, where each pump is a round
        // trip to the display; a user sees no difference at 40 updates a second, and the first
        // step of every run still pumps, so a change or Cancel is seen at once.
        if (lastPump_ == 0 || GetTickCount() - lastPump_ >= kPumpInterval) {
            SendMessageA(bar, PBM_SETPOS, WPARAM(done), 0);
            pumpMessages();
            lastPump_ = GetTickCount() | 1;
        }
        break;
    case kDialogProgressEnd:
        ShowWindow(bar, SW_HIDE);
        EnableWindow(ok, TRUE);
        break;
    default:
        break;
    }
}

void MainDialog::pumpMessages()
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        // A quit request belongs to the host's own loop, after the dialog: give it back.
        if (message.message == WM_QUIT) {
            PostQuitMessage(int(message.wParam));
            return;
        }
        if (!IsDialogMessageA(dialogWindow(), &message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
}

} // namespace quarvel
