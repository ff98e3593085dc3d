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

// The window as it is on screen, 8-bit RGB; empty if the screen could not be read.
std::vector<uint8_t> capture(HWND window, int& width, int& height);
// The same as a PNG file. False if the screen could not be read.
bool saveScreenshot(HWND window, const std::string& path);

} // namespace quarvel::test
