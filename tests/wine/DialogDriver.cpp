#include "tests/wine/DialogDriver.h"

#include "resources/ResourceIds.h"
#include "tools/host/ImageFile.h"

#include <commctrl.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

namespace quarvel::test {

namespace {

DialogMonitor* gMonitor = nullptr;

// A top-level dialog window ("#32770") with exactly this title, of one process or of any.
struct Search {
    const char* title = nullptr;
    bool visibleOnly = true;
    DWORD process = 0; // 0: any
    HWND found = nullptr;
    int id = 0; // controls: the id sought
};

BOOL CALLBACK findTitled(HWND window, LPARAM pointer)
{
    auto* search = reinterpret_cast<Search*>(pointer);
    char title[128] = {};
    char className[16] = {};
    DWORD process = 0;
    GetWindowTextA(window, title, sizeof title);
    GetClassNameA(window, className, sizeof className);
    GetWindowThreadProcessId(window, &process);
    if (std::strcmp(title, search->title) == 0 && std::strcmp(className, "#32770") == 0
        && (!search->visibleOnly || IsWindowVisible(window))
        && (!search->process || process == search->process)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK findControl(HWND window, LPARAM pointer)
{
    auto* search = reinterpret_cast<Search*>(pointer);
    if (GetDlgCtrlID(window) == search->id) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

void sendScroll(HWND slider, int code, int position)
{
    SendMessageA(GetParent(slider), WM_HSCROLL, MAKEWPARAM(code, position), reinterpret_cast<LPARAM>(slider));
}

} // namespace

bool waitFor(const std::function<bool()>& done, int milliseconds, int interval)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        Sleep(DWORD(interval));
    }
    return true;
}

HWND waitForWindowOfThread(DWORD thread, const char* title, int milliseconds, bool visibleOnly)
{
    Search search;
    search.title = title;
    search.visibleOnly = visibleOnly;
    waitFor(
        [&] {
            EnumThreadWindows(thread, findTitled, reinterpret_cast<LPARAM>(&search));
            return search.found != nullptr;
        },
        milliseconds);
    return search.found;
}

HWND waitForDialogOfThread(DWORD thread, int milliseconds)
{
    return waitForWindowOfThread(thread, "Quarvel Dialog", milliseconds);
}

HWND waitForDialogOfProcess(DWORD process, int milliseconds)
{
    Search search;
    search.title = "Quarvel Dialog";
    search.process = process;
    waitFor(
        [&] {
            EnumWindows(findTitled, reinterpret_cast<LPARAM>(&search));
            return search.found != nullptr;
        },
        milliseconds);
    return search.found;
}

bool driveDialog(const std::function<void()>& open, const std::function<void(HWND)>& drive,
    const std::function<void(DWORD thread)>& tidy)
{
    const DWORD thread = GetCurrentThreadId();
    bool opened = false;
    std::thread driver([&] {
        HWND dialog = waitForDialogOfThread(thread);
        opened = dialog != nullptr;
        if (dialog)
            drive(dialog);
        waitFor([&] {
            if (tidy)
                tidy(thread);
            HWND still = waitForDialogOfThread(thread, 0);
            if (still)
                PostMessageA(still, WM_COMMAND, IDCANCEL, 0);
            return still == nullptr;
        });
    });
    open();
    driver.join();
    return opened;
}

HWND control(HWND dialog, int id)
{
    Search search;
    search.id = id;
    EnumChildWindows(dialog, findControl, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND imageWindow(HWND dialog)
{
    // The preview frame holds the about picture and the image window.
    HWND frame = GetParent(control(dialog, IDC_ABOUT_PICTURE));
    for (HWND child = GetWindow(frame, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if (GetDlgCtrlID(child) != IDC_ABOUT_PICTURE)
            return child;
    return nullptr;
}

void dragSlider(HWND dialog, int id, std::initializer_list<int> positions)
{
    HWND slider = control(dialog, id);
    for (int position : positions) {
        SendMessageA(slider, TBM_SETPOS, TRUE, position);
        sendScroll(slider, TB_THUMBTRACK, position);
    }
    sendScroll(slider, TB_THUMBPOSITION, int(SendMessageA(slider, TBM_GETPOS, 0, 0)));
    sendScroll(slider, TB_ENDTRACK, 0);
}

void moveSlider(HWND dialog, int id, int position) { dragSlider(dialog, id, { position }); }

int sliderPosition(HWND dialog, int id) { return int(SendMessageA(control(dialog, id), TBM_GETPOS, 0, 0)); }

std::string text(HWND dialog, int id)
{
    char buffer[128] = {};
    GetWindowTextA(control(dialog, id), buffer, sizeof buffer);
    return buffer;
}

void click(HWND dialog, int id)
{
    HWND button = control(dialog, id);
    const auto style = GetWindowLongA(button, GWL_STYLE) & BS_TYPEMASK;
    if (style == BS_AUTOCHECKBOX || style == BS_CHECKBOX) {
        const bool checked = SendMessageA(button, BM_GETCHECK, 0, 0) == BST_CHECKED;
        SendMessageA(button, BM_SETCHECK, checked ? BST_UNCHECKED : BST_CHECKED, 0);
    } else if (style == BS_AUTORADIOBUTTON || style == BS_RADIOBUTTON) {
        // The group's other buttons go off, as a click on an automatic radio button does.
        for (HWND sibling = GetWindow(GetParent(button), GW_CHILD); sibling;
             sibling = GetWindow(sibling, GW_HWNDNEXT)) {
            const auto siblingStyle = GetWindowLongA(sibling, GWL_STYLE) & BS_TYPEMASK;
            if (siblingStyle == BS_AUTORADIOBUTTON || siblingStyle == BS_RADIOBUTTON)
                SendMessageA(sibling, BM_SETCHECK, sibling == button ? BST_CHECKED : BST_UNCHECKED, 0);
        }
    }
    SendMessageA(GetParent(button), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
}

void selectPage(HWND dialog, int index)
{
    HWND tabs = control(dialog, IDC_PAGE_TABS);
    SendMessageA(tabs, TCM_SETCURSEL, WPARAM(index), 0);
    NMHDR header { tabs, UINT_PTR(IDC_PAGE_TABS), UINT(TCN_SELCHANGE) };
    SendMessageA(dialog, WM_NOTIFY, IDC_PAGE_TABS, reinterpret_cast<LPARAM>(&header));
}

bool visible(HWND dialog, int id) { return IsWindowVisible(control(dialog, id)) != FALSE; }

bool running(HWND dialog) { return visible(dialog, IDC_PROGRESS); }

bool idle(HWND dialog) { return !running(dialog) && IsWindowEnabled(GetDlgItem(dialog, IDOK)); }

DialogMonitor::DialogMonitor(DWORD dialogThread)
{
    gMonitor = this;
    callHook_ = SetWindowsHookExA(WH_CALLWNDPROC, onCall, nullptr, dialogThread);
    getHook_ = SetWindowsHookExA(WH_GETMESSAGE, onGet, nullptr, dialogThread);
}

DialogMonitor::~DialogMonitor()
{
    UnhookWindowsHookEx(callHook_);
    UnhookWindowsHookEx(getHook_);
    gMonitor = nullptr;
}

LRESULT CALLBACK DialogMonitor::onCall(int code, WPARAM first, LPARAM second)
{
    const auto* call = reinterpret_cast<const CWPSTRUCT*>(second);
    if (code == HC_ACTION && gMonitor && call->message == WM_SHOWWINDOW
        && GetDlgCtrlID(call->hwnd) == IDC_PROGRESS) {
        if (!call->wParam) {
            ++gMonitor->ended_;
        } else {
            const int run = ++gMonitor->started_;
            if (gMonitor->onRunStart)
                gMonitor->onRunStart(run);
        }
    }
    return CallNextHookEx(nullptr, code, first, second);
}

LRESULT CALLBACK DialogMonitor::onGet(int code, WPARAM first, LPARAM second)
{
    const auto* message = reinterpret_cast<const MSG*>(second);
    if (code == HC_ACTION && first == PM_REMOVE && gMonitor && message->message == WM_USER + 144)
        ++gMonitor->changes_;
    return CallNextHookEx(nullptr, code, first, second);
}

bool DialogMonitor::waitForRuns(int count, int milliseconds) const
{
    if (!waitFor([&] { return runsEnded() >= count; }, milliseconds))
        return false;
    Sleep(300);
    return runsEnded() == count && runsStarted() == count;
}

namespace {

MessageBoxAnswerer* gAnswerer = nullptr;

// The id of the box's message text, as message boxes have it.
constexpr int kMessageTextId = 0xFFFF;

std::string windowText(HWND window)
{
    std::vector<char> text(size_t(GetWindowTextLengthA(window)) + 1, '\0');
    GetWindowTextA(window, text.data(), int(text.size()));
    return text.data();
}

// A top-level dialog with a message text and no field to type in: what MessageBox makes.
bool isMessageBox(HWND window)
{
    char className[16] = {};
    GetClassNameA(window, className, sizeof className);
    if (std::strcmp(className, "#32770") != 0 || (GetWindowLongA(window, GWL_STYLE) & WS_CHILD)
        || !GetDlgItem(window, kMessageTextId))
        return false;
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        GetClassNameA(child, className, sizeof className);
        if (lstrcmpiA(className, "Edit") == 0)
            return false;
    }
    return true;
}

// The MB_ICON... style whose picture the box shows, told by the shared system icon it holds.
UINT iconStyle(HWND box)
{
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        char className[16] = {};
        GetClassNameA(child, className, sizeof className);
        if (lstrcmpiA(className, "Static") != 0
            || (GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON)
            continue;
        const auto shown = reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0));
        if (shown == LoadIconA(nullptr, IDI_QUESTION))
            return MB_ICONQUESTION;
        if (shown == LoadIconA(nullptr, IDI_EXCLAMATION))
            return MB_ICONEXCLAMATION;
        if (shown == LoadIconA(nullptr, IDI_HAND))
            return MB_ICONHAND;
        if (shown == LoadIconA(nullptr, IDI_ASTERISK))
            return MB_ICONASTERISK;
    }
    return 0;
}

} // namespace

MessageBoxAnswerer::MessageBoxAnswerer(DWORD thread)
{
    InitializeCriticalSection(&lock_);
    gAnswerer = this;
    callHook_ = SetWindowsHookExA(WH_CALLWNDPROC, onCall, nullptr, thread);
    returnHook_ = SetWindowsHookExA(WH_CALLWNDPROCRET, onReturn, nullptr, thread);
    getHook_ = SetWindowsHookExA(WH_GETMESSAGE, onGet, nullptr, thread);
}

MessageBoxAnswerer::~MessageBoxAnswerer()
{
    UnhookWindowsHookEx(callHook_);
    UnhookWindowsHookEx(returnHook_);
    UnhookWindowsHookEx(getHook_);
    gAnswerer = nullptr;
    DeleteCriticalSection(&lock_);
}

void MessageBoxAnswerer::answer(std::initializer_list<int> buttons)
{
    EnterCriticalSection(&lock_);
    answers_.insert(answers_.end(), buttons.begin(), buttons.end());
    LeaveCriticalSection(&lock_);
}

std::vector<MessageBoxAnswerer::Box> MessageBoxAnswerer::boxes() const
{
    EnterCriticalSection(&lock_);
    std::vector<Box> copy;
    for (const Box& box : boxes_)
        if (box.complete)
            copy.push_back(box);
    LeaveCriticalSection(&lock_);
    return copy;
}

bool MessageBoxAnswerer::waitForBoxes(size_t count, int milliseconds) const
{
    return waitFor([&] { return boxes().size() >= count; }, milliseconds);
}

// Before the box's own initialisation, which gives it its caption: the answer posted now is the
// first message its modal loop will see.
LRESULT CALLBACK MessageBoxAnswerer::onCall(int code, WPARAM first, LPARAM second)
{
    const auto* call = reinterpret_cast<const CWPSTRUCT*>(second);
    MessageBoxAnswerer* self = gAnswerer;
    if (code == HC_ACTION && self && call->message == WM_INITDIALOG && isMessageBox(call->hwnd)) {
        Box shown;
        shown.window = call->hwnd;
        shown.answer = IDNO;
        EnterCriticalSection(&self->lock_);
        if (!self->answers_.empty()) {
            shown.answer = self->answers_.front();
            self->answers_.erase(self->answers_.begin());
        }
        self->boxes_.push_back(shown);
        LeaveCriticalSection(&self->lock_);
        PostMessageA(call->hwnd, WM_COMMAND, MAKEWPARAM(shown.answer, BN_CLICKED), 0);
    }
    return CallNextHookEx(nullptr, code, first, second);
}

// After it: what the box says and which buttons it has.
LRESULT CALLBACK MessageBoxAnswerer::onReturn(int code, WPARAM first, LPARAM second)
{
    const auto* call = reinterpret_cast<const CWPRETSTRUCT*>(second);
    MessageBoxAnswerer* self = gAnswerer;
    if (code == HC_ACTION && self && call->message == WM_INITDIALOG) {
        EnterCriticalSection(&self->lock_);
        for (Box& shown : self->boxes_) {
            if (shown.window != call->hwnd || shown.complete)
                continue;
            HWND box = call->hwnd;
            shown.caption = windowText(box);
            shown.text = windowText(GetDlgItem(box, kMessageTextId));
            for (int id = IDOK; id <= IDNO; ++id) {
                HWND button = GetDlgItem(box, id);
                if (!button)
                    continue;
                shown.buttons.push_back(id);
                if ((GetWindowLongA(button, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
                    shown.defaultButton = id;
            }
            shown.icon = iconStyle(box);
            shown.complete = true;
        }
        LeaveCriticalSection(&self->lock_);
    }
    return CallNextHookEx(nullptr, code, first, second);
}

// A box ends with the last command it handled before its modal loop looks again, and a run of the
// preview can dispatch a second one in between: any command but the answer becomes a null message.
LRESULT CALLBACK MessageBoxAnswerer::onGet(int code, WPARAM first, LPARAM second)
{
    auto* message = reinterpret_cast<MSG*>(second);
    MessageBoxAnswerer* self = gAnswerer;
    if (code == HC_ACTION && first == PM_REMOVE && self && message->message == WM_COMMAND) {
        EnterCriticalSection(&self->lock_);
        for (const Box& shown : self->boxes_)
            if (shown.window == message->hwnd && LOWORD(message->wParam) != shown.answer)
                message->message = WM_NULL;
        LeaveCriticalSection(&self->lock_);
    }
    return CallNextHookEx(nullptr, code, first, second);
}

std::vector<uint8_t> capture(HWND window, int& width, int& height)
{
    RECT r {};
    GetWindowRect(window, &r);
    width = r.right - r.left;
    height = r.bottom - r.top;
    if (width <= 0 || height <= 0)
        return {};
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    Sleep(200);
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info {};
    info.bmiHeader = { sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0 };
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    const bool copied = BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY) != FALSE;
    GdiFlush();
    std::vector<uint8_t> rgb;
    if (copied) {
        rgb.resize(size_t(width) * size_t(height) * 3);
        const auto* bgra = static_cast<const uint8_t*>(bits);
        for (size_t i = 0; i < size_t(width) * size_t(height); ++i) {
            rgb[3 * i] = bgra[4 * i + 2];
            rgb[3 * i + 1] = bgra[4 * i + 1];
            rgb[3 * i + 2] = bgra[4 * i];
        }
    }
    SelectObject(memory, previous);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return rgb;
}

bool saveScreenshot(HWND window, const std::string& path)
{
    host::ImageFile image;
    image.pixels = capture(window, image.width, image.height);
    if (image.pixels.empty())
        return false;
    image.channels = 3;
    image.bitsPerSample = 8;
    std::string error;
    return host::writeImageFile(path, host::ImageFormat::Png, image, error);
}

} // namespace quarvel::test
