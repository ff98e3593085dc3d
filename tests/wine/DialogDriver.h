// Drives the plug-in's real dialog from a second thread or process, the way a user would but by
// window messages: it finds the dialog and its controls by id, moves sliders, clicks, switches
// pages, counts preview runs and the pages' change messages, and takes screenshots.
#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

namespace quarvel::test {

// True once `done` holds, false after `milliseconds`; asks every `interval` milliseconds.
bool waitFor(const std::function<bool()>& done, int milliseconds = 20000, int interval = 10);

// The dialog's window ("Quarvel Dialog") of a thread or of a process; null after the timeout.
HWND waitForDialogOfThread(DWORD thread, int milliseconds = 20000);
HWND waitForDialogOfProcess(DWORD process, int milliseconds = 20000);

// A top-level dialog window of a thread with exactly this title (the preset window "Quarvel
// Presets", the name box "Add New Preset"); null after the timeout. Hidden ones count only when
// `visibleOnly` is false.
HWND waitForWindowOfThread(
    DWORD thread, const char* title, int milliseconds = 20000, bool visibleOnly = true);

// Calls `open`, which shows the dialog on this thread and returns once it has closed, while
// `drive` acts on the dialog from a second thread. Whatever is still open afterwards is
// cancelled, after `tidy` has had the chance to dismiss windows of its own, so that no test waits
// on a modal window. False if the dialog never appeared.
bool driveDialog(const std::function<void()>& open, const std::function<void(HWND)>& drive,
    const std::function<void(DWORD thread)>& tidy = {});

// A control of the dialog or of one of its pages.
HWND control(HWND dialog, int id);
// The preview's image window.
HWND imageWindow(HWND dialog);

// A release after dragging the thumb through `positions` (each a tracking step): what a user's
// drag sends to the page.
void dragSlider(HWND dialog, int id, std::initializer_list<int> positions);
void moveSlider(HWND dialog, int id, int position);
int sliderPosition(HWND dialog, int id);
std::string text(HWND dialog, int id);
// A click as the control's owner sees it: check boxes and radio buttons change state first.
void click(HWND dialog, int id);
void selectPage(HWND dialog, int index);
bool visible(HWND dialog, int id);

// The progress bar shows exactly while a run is in progress.
bool running(HWND dialog);
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
    HHOOK callHook_ = nullptr;
    HHOOK getHook_ = nullptr;
    std::atomic<int> started_ { 0 }, ended_ { 0 }, changes_ { 0 };
};

// Answers the message boxes that a thread shows, with the buttons it was given in turn, and
// keeps what each box said. It answers from the thread itself, as the box is being set up and
// before it has its caption, and drops any other answer that reaches a box it answered: a watcher
// that polls for "Quarvel" boxes from outside (startMessageWatch, which presses OK) can then
// neither answer a question first nor overrule the answer while the box is still closing. A box
// with no answer waiting gets No (a box without that button closes all the same), so none is left
// open.
class MessageBoxAnswerer {
public:
    struct Box {
        std::string caption;
        std::string text;
        UINT icon = 0; // MB_ICONQUESTION, MB_ICONEXCLAMATION, ...; 0 for none
        std::vector<int> buttons; // the ids of its buttons, ascending
        int defaultButton = 0;
        int answer = 0;
        HWND window = nullptr;
        bool complete = false; // its set-up has finished, and all of the above is known
    };
    explicit MessageBoxAnswerer(DWORD thread);
    ~MessageBoxAnswerer();
    MessageBoxAnswerer(const MessageBoxAnswerer&) = delete;
    MessageBoxAnswerer& operator=(const MessageBoxAnswerer&) = delete;

    // Appends answers (IDYES, IDNO, IDOK) for the boxes to come.
    void answer(std::initializer_list<int> buttons);
    // The boxes answered so far, oldest first.
    std::vector<Box> boxes() const;
    bool waitForBoxes(size_t count, int milliseconds = 20000) const;

private:
    static LRESULT CALLBACK onCall(int code, WPARAM first, LPARAM second);
    static LRESULT CALLBACK onReturn(int code, WPARAM first, LPARAM second);
    static LRESULT CALLBACK onGet(int code, WPARAM first, LPARAM second);
    HHOOK callHook_ = nullptr;
    HHOOK returnHook_ = nullptr;
    HHOOK getHook_ = nullptr;
    mutable CRITICAL_SECTION lock_;
    std::vector<int> answers_;
    std::vector<Box> boxes_;
};

// The window as it is on screen, 8-bit RGB; empty if the screen could not be read.
std::vector<uint8_t> capture(HWND window, int& width, int& height);
// The same as a PNG file. False if the screen could not be read.
bool saveScreenshot(HWND window, const std::string& path);

} // namespace quarvel::test
