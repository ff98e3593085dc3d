// Drives the plug-in's real dialog from a second thread or process, the way a user would but by
// window messages, and the little that the Wine dialog tests share besides.
#pragma once

#include "tests/support/FakeHost.h"

#include <windows.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace quarvel::test {

// True once `done` holds, false after `milliseconds`; asks every `interval` milliseconds.
bool waitFor(const std::function<bool()>& done, int milliseconds = 20000, int interval = 10);

// A visible top-level dialog window with exactly this title ("Quarvel Dialog", "Quarvel Presets",
// "Add New Preset") of a thread, or with `thread` 0 of a process; null after the timeout.
HWND waitForDialog(const char* title, DWORD thread, DWORD process = 0, int milliseconds = 20000);
inline HWND waitForDialogOfThread(DWORD thread, int milliseconds = 20000)
{
    return waitForDialog("Quarvel Dialog", thread, 0, milliseconds);
}

// Calls `open`, which shows the dialog on this thread and returns once it has closed, while
// `drive` acts on it from a second thread. What is still open afterwards (a name box, the
// dialog) is cancelled, so that no test waits on a modal window. False if it never appeared.
bool driveDialog(const std::function<void()>& open, const std::function<void(HWND)>& drive);
// Presses the button until the dialog has closed: OK waits while a run is in progress.
void closeWith(HWND dialog, int button);

// A control of the dialog or of one of its pages; the preview's image window.
HWND control(HWND dialog, int id);
HWND imageWindow(HWND dialog);

// A release after dragging the thumb through `positions` (each a tracking step).
void dragSlider(HWND dialog, int id, std::initializer_list<int> positions);
void moveSlider(HWND dialog, int id, int position);
int sliderPosition(HWND dialog, int id);
std::string text(HWND dialog, int id);
// A click as the control's owner sees it: check boxes and radio buttons change state first.
void click(HWND dialog, int id);
void selectPage(HWND dialog, int index);
bool visible(HWND dialog, int id);
// No run in progress (the progress bar shows exactly while one is) and OK enabled.
bool idle(HWND dialog);

// Counts, on the dialog's thread, the preview runs (the progress bar shown and hidden again) and
// the change messages the pages post to the dialog.
class DialogMonitor {
public:
    explicit DialogMonitor(DWORD dialogThread);
    ~DialogMonitor();
    int runsStarted() const { return started_.load(); }
    int runsEnded() const { return ended_.load(); }
    int changes() const { return changes_.load(); }
    // Waits until `count` runs have ended and nothing more is pending for a moment.
    bool waitForRuns(int count, int milliseconds = 30000) const;

    // Called on the dialog's thread as run number `run` (from 1) shows its progress bar, that is
    // from inside the run: what it posts is handled by the run's own message pumping.
    std::function<void(int run)> onRunStart;

private:
    static LRESULT CALLBACK onCall(int code, WPARAM first, LPARAM second);
    static LRESULT CALLBACK onGet(int code, WPARAM first, LPARAM second);
    HHOOK callHook_ = nullptr, getHook_ = nullptr;
    std::atomic<int> started_ { 0 }, ended_ { 0 }, changes_ { 0 };
};

// Answers the message boxes that a thread shows, with the buttons it was given in turn (No when
// none is left, so that none stays open), and keeps what each box said. It answers from the
// thread itself, before the box has its caption, and drops any other command that reaches a box
// it answered: a watcher that presses OK on "Quarvel" boxes from outside (startMessageWatch) can
// then neither answer first nor overrule the answer while the box is closing.
class MessageBoxAnswerer {
public:
    struct Box {
        std::string caption, text;
        UINT icon = 0; // MB_ICONQUESTION or MB_ICONEXCLAMATION; 0 for any other
        std::vector<int> buttons; // ascending
        int defaultButton = 0, answer = 0;
        HWND window = nullptr;
        bool complete = false; // its set-up has finished, and all of the above is known
    };
    explicit MessageBoxAnswerer(DWORD thread);
    ~MessageBoxAnswerer();
    MessageBoxAnswerer(const MessageBoxAnswerer&) = delete;
    MessageBoxAnswerer& operator=(const MessageBoxAnswerer&) = delete;

    void answer(std::initializer_list<int> buttons); // IDYES, IDNO, IDOK for the boxes to come
    std::vector<Box> boxes() const; // the boxes answered so far, oldest first
    bool waitForBoxes(size_t count, int milliseconds = 20000) const;

private:
    static LRESULT CALLBACK onCall(int code, WPARAM first, LPARAM second);
    static LRESULT CALLBACK onReturn(int code, WPARAM first, LPARAM second);
    static LRESULT CALLBACK onGet(int code, WPARAM first, LPARAM second);
    HHOOK hooks_[3] = {};
    mutable std::mutex lock_;
    std::vector<int> answers_;
    std::vector<Box> boxes_;
};

// The window as it is on screen, 8-bit RGB (empty if the screen could not be read), or as
// screenshots\NAME.png, a picture for the eye and the documentation.
std::vector<uint8_t> capture(HWND window, int& width, int& height);
bool saveScreenshot(HWND window, const std::string& name);

// A file beside the test executable; whole files.
std::string besideTests(const std::string& name);
std::string readFile(const std::string& path);
bool writeFile(const std::string& path, const std::string& bytes);

// The dialog tests' image: 320 × 240, pseudo-random from seed 11. Its output bytes (RGB), and
// what the module gives for it without its dialog with settings as a descriptor plays them.
constexpr int kWidth = 320, kHeight = 240;
std::vector<uint8_t> outputOf(const FakeHost& host);
std::vector<uint8_t> directRun(const std::vector<FakeHost::Value>& settings);
// The settings that a text of "Name=value;" entries holds, each as written, as a descriptor plays them.
std::vector<FakeHost::Value> playbackOf(const std::string& text);

} // namespace quarvel::test
