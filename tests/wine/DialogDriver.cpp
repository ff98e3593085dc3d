#include "tests/wine/DialogDriver.h"

#include "resources/ResourceIds.h"
#include "settings/ParameterDocument.h"
#include "settings/ParameterTable.h"
#include "tools/host/ImageFile.h"

#include <commctrl.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>

namespace quarvel::test {

namespace {

std::string windowText(HWND window)
{
    std::vector<char> text(size_t(GetWindowTextLengthA(window)) + 1, '\0');
    GetWindowTextA(window, text.data(), int(text.size()));
    return text.data();
}

std::string className(HWND window)
{
    char name[32] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

// The first window an enumeration visits that matches.
struct Search {
    std::function<bool(HWND)> match;
    HWND found = nullptr;
};

BOOL CALLBACK visit(HWND window, LPARAM pointer)
{
    auto* search = reinterpret_cast<Search*>(pointer);
    if (search->match(window))
        search->found = window;
    return !search->found;
}

void sendScroll(HWND slider, int code, int position)
{
    SendMessageA(GetParent(slider), WM_HSCROLL, MAKEWPARAM(code, position), reinterpret_cast<LPARAM>(slider));
}

DialogMonitor* gMonitor = nullptr;
MessageBoxAnswerer* gAnswerer = nullptr;
constexpr int kMessageTextId = 0xFFFF; // the id of a message box's text

// A top-level dialog with a message text and no field to type in: what MessageBox makes.
bool isMessageBox(HWND window)
{
    if (className(window) != "#32770" || (GetWindowLongA(window, GWL_STYLE) & WS_CHILD)
        || !GetDlgItem(window, kMessageTextId))
        return false;
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if (lstrcmpiA(className(child).c_str(), "Edit") == 0)
            return false;
    return true;
}

// The MB_ICON... style whose picture the box shows, told by the shared system icon it holds.
UINT iconStyle(HWND box)
{
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (lstrcmpiA(className(child).c_str(), "Static") != 0)
            continue;
        const auto shown = reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0));
        if (shown == LoadIconA(nullptr, IDI_QUESTION))
            return MB_ICONQUESTION;
        if (shown == LoadIconA(nullptr, IDI_EXCLAMATION))
            return MB_ICONEXCLAMATION;
    }
    return 0;
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

HWND waitForDialog(const char* title, DWORD thread, DWORD process, int milliseconds)
{
    Search search { [&](HWND window) {
        DWORD owner = 0;
        const DWORD ownerThread = GetWindowThreadProcessId(window, &owner);
        return (thread ? ownerThread == thread : owner == process) && className(window) == "#32770"
            && IsWindowVisible(window) && windowText(window) == title;
    } };
    waitFor(
        [&] { return !EnumWindows(visit, reinterpret_cast<LPARAM>(&search)) && search.found; }, milliseconds);
    return search.found;
}

bool driveDialog(const std::function<void()>& open, const std::function<void(HWND)>& drive)
{
    const DWORD thread = GetCurrentThreadId();
    bool opened = false;
    std::thread driver([&] {
        HWND dialog = waitForDialogOfThread(thread);
        if ((opened = dialog != nullptr))
            drive(dialog);
        waitFor([&] {
            HWND still = nullptr;
            for (const char* title : { "Add New Preset", "Quarvel Dialog" })
                if ((still = waitForDialog(title, thread, 0, 0)) != nullptr)
                    PostMessageA(still, WM_COMMAND, IDCANCEL, 0);
            return still == nullptr;
        });
    });
    open();
    driver.join();
    return opened;
}

void closeWith(HWND dialog, int button)
{
    waitFor([&] { return !IsWindow(dialog) || (PostMessageA(dialog, WM_COMMAND, WPARAM(button), 0), false); },
        20000, 250);
}

HWND control(HWND dialog, int id)
{
    Search search { [&](HWND window) { return GetDlgCtrlID(window) == id; } };
    EnumChildWindows(dialog, visit, reinterpret_cast<LPARAM>(&search));
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

std::string text(HWND dialog, int id) { return windowText(control(dialog, id)); }

void click(HWND dialog, int id)
{
    HWND button = control(dialog, id);
    const auto style = GetWindowLongA(button, GWL_STYLE) & BS_TYPEMASK;
    if (style == BS_AUTOCHECKBOX || style == BS_CHECKBOX) {
        const bool checked = SendMessageA(button, BM_GETCHECK, 0, 0) == BST_CHECKED;
        SendMessageA(button, BM_SETCHECK, checked ? BST_UNCHECKED : BST_CHECKED, 0);
    } else if (style == BS_AUTORADIOBUTTON || style == BS_RADIOBUTTON) {
        // The group's other buttons go off, as a click on an automatic radio button does.
        for (HWND other = GetWindow(GetParent(button), GW_CHILD); other;
             other = GetWindow(other, GW_HWNDNEXT)) {
            const auto otherStyle = GetWindowLongA(other, GWL_STYLE) & BS_TYPEMASK;
            if (otherStyle == BS_AUTORADIOBUTTON || otherStyle == BS_RADIOBUTTON)
                SendMessageA(other, BM_SETCHECK, other == button ? BST_CHECKED : BST_UNCHECKED, 0);
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

bool idle(HWND dialog) { return !visible(dialog, IDC_PROGRESS) && IsWindowEnabled(GetDlgItem(dialog, IDOK)); }

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
        if (!call->wParam)
            ++gMonitor->ended_;
        else if (const int run = ++gMonitor->started_; gMonitor->onRunStart)
            gMonitor->onRunStart(run);
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

MessageBoxAnswerer::MessageBoxAnswerer(DWORD thread)
{
    gAnswerer = this;
    hooks_[0] = SetWindowsHookExA(WH_CALLWNDPROC, onCall, nullptr, thread);
    hooks_[1] = SetWindowsHookExA(WH_CALLWNDPROCRET, onReturn, nullptr, thread);
    hooks_[2] = SetWindowsHookExA(WH_GETMESSAGE, onGet, nullptr, thread);
}

MessageBoxAnswerer::~MessageBoxAnswerer()
{
    for (HHOOK hook : hooks_)
        UnhookWindowsHookEx(hook);
    gAnswerer = nullptr;
}

void MessageBoxAnswerer::answer(std::initializer_list<int> buttons)
{
    std::lock_guard<std::mutex> hold(lock_);
    answers_.insert(answers_.end(), buttons.begin(), buttons.end());
}

std::vector<MessageBoxAnswerer::Box> MessageBoxAnswerer::boxes() const
{
    std::lock_guard<std::mutex> hold(lock_);
    std::vector<Box> complete;
    for (const Box& box : boxes_)
        if (box.complete)
            complete.push_back(box);
    return complete;
}

bool MessageBoxAnswerer::waitForBoxes(size_t count, int milliseconds) const
{
    return waitFor([&] { return boxes().size() >= count; }, milliseconds);
}

// Before the box's own initialisation: the answer posted now is the first message its loop sees.
LRESULT CALLBACK MessageBoxAnswerer::onCall(int code, WPARAM first, LPARAM second)
{
    const auto* call = reinterpret_cast<const CWPSTRUCT*>(second);
    MessageBoxAnswerer* self = gAnswerer;
    if (code == HC_ACTION && self && call->message == WM_INITDIALOG && isMessageBox(call->hwnd)) {
        Box shown { "", "", 0, {}, 0, IDNO, call->hwnd };
        {
            std::lock_guard<std::mutex> hold(self->lock_);
            if (!self->answers_.empty()) {
                shown.answer = self->answers_.front();
                self->answers_.erase(self->answers_.begin());
            }
            self->boxes_.push_back(shown);
        }
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
        std::lock_guard<std::mutex> hold(self->lock_);
        for (Box& shown : self->boxes_) {
            if (shown.window != call->hwnd || shown.complete)
                continue;
            shown.caption = windowText(call->hwnd);
            shown.text = windowText(GetDlgItem(call->hwnd, kMessageTextId));
            for (int id = IDOK; id <= IDNO; ++id)
                if (HWND button = GetDlgItem(call->hwnd, id)) {
                    shown.buttons.push_back(id);
                    if ((GetWindowLongA(button, GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
                        shown.defaultButton = id;
                }
            shown.icon = iconStyle(call->hwnd);
            shown.complete = true;
        }
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
        std::lock_guard<std::mutex> hold(self->lock_);
        for (const Box& shown : self->boxes_)
            if (shown.window == message->hwnd && LOWORD(message->wParam) != shown.answer)
                message->message = WM_NULL;
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
    std::vector<uint8_t> rgb;
    if (BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY)) {
        GdiFlush();
        const auto* bgra = static_cast<const uint8_t*>(bits);
        for (size_t i = 0; i < size_t(width) * size_t(height); ++i)
            rgb.insert(rgb.end(), { bgra[4 * i + 2], bgra[4 * i + 1], bgra[4 * i] });
    }
    SelectObject(memory, previous);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return rgb;
}

bool saveScreenshot(HWND window, const std::string& name)
{
    host::ImageFile image;
    image.pixels = capture(window, image.width, image.height);
    image.channels = 3;
    image.bitsPerSample = 8;
    std::string error;
    CreateDirectoryA("screenshots", nullptr);
    return !image.pixels.empty()
        && host::writeImageFile("screenshots\\" + name + ".png", host::ImageFormat::Png, image, error);
}

std::string besideTests(const std::string& name)
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    const std::string self(path);
    return self.substr(0, self.find_last_of("\\/") + 1) + name;
}

std::string readFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return file ? std::string(std::istreambuf_iterator<char>(file), {}) : "<missing>";
}

bool writeFile(const std::string& path, const std::string& bytes)
{
    std::ofstream file(path, std::ios::binary);
    return bool(file.write(bytes.data(), std::streamsize(bytes.size())).flush());
}

std::vector<uint8_t> outputOf(const FakeHost& host)
{
    std::vector<uint8_t> out;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            for (int p = 0; p < 3; ++p)
                out.push_back(uint8_t(host.output(x, y, p)));
    return out;
}

std::vector<uint8_t> directRun(const std::vector<FakeHost::Value>& settings)
{
    FakeHost direct(kWidth, kHeight, 3, 8);
    direct.fillInput(11);
    direct.playDescriptor = true;
    direct.playback = settings;
    return direct.run() == pluginapi::noErr ? outputOf(direct) : std::vector<uint8_t> {};
}

std::vector<FakeHost::Value> playbackOf(const std::string& text)
{
    ParameterDocument document;
    document.setText(text.c_str());
    std::vector<FakeHost::Value> values;
    for (const SettingInfo& setting : kSettings) {
        char value[64] = {};
        if (document.getString(setting.name, value, 63, nullptr))
            values.push_back({ setting.key, value });
    }
    return values;
}

} // namespace quarvel::test
