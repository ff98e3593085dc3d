// quarvel-dialog-bench: how long the dialog keeps a user waiting, in the real module under Wine.
// For each image size it opens the dialog with everything on (the settings of the speed
// benchmark), releases a slider and times until the processed preview is painted; then it times
// one paint of the whole preview at 25 % and at 100 %. Timings, not a test: ctest never runs it.
//
//   tests/wine/run-wine.sh win64 PREFIX build/win64/bin/quarvel-dialog-bench.exe [WIDTHxHEIGHT...]
#include "resources/ResourceIds.h"
#include "tests/support/FakeHost.h"
#include "tests/wine/DialogDriver.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

using namespace quarvel;
using namespace quarvel::test;

namespace {

using Clock = std::chrono::steady_clock;

uint32_t key(const char (&code)[5])
{
    return uint32_t(uint8_t(code[0])) << 24 | uint32_t(uint8_t(code[1])) << 16
        | uint32_t(uint8_t(code[2])) << 8 | uint32_t(uint8_t(code[3]));
}

double milliseconds(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// One paint of the image window, on the dialog's thread.
double paintTime(HWND image)
{
    InvalidateRect(image, nullptr, FALSE);
    const auto start = Clock::now();
    SendMessageA(image, WM_PAINT, 0, 0);
    return milliseconds(Clock::now() - start);
}

void measure(int width, int height)
{
    FakeHost host(width, height, 3, 8);
    host.fillInput(7);
    host.playDescriptor = true;
    host.playInfo = pluginapi::plugInDialogDisplay;
    host.playback = { { key("ShDt"), "30" }, { key("HiDt"), "20" }, { key("AtCr"), "1" },
        { key("Satu"), "10" }, { key("SSAm"), "100" }, { key("SSRd"), "1.0" }, { key("SmAm"), "50" },
        { key("SmRd"), "1.0" }, { key("DfAm"), "30" }, { key("DfRd"), "5.0" } };
    DialogMonitor monitor(GetCurrentThreadId());
    const DWORD thread = GetCurrentThreadId();
    std::vector<double> latency, filtered, paint25, paint100;
    std::atomic<Clock::rep> runStart { 0 };
    monitor.onRunStart = [&](int) { runStart = Clock::now().time_since_epoch().count(); };
    std::thread driver([&] {
        HWND dialog = waitForDialogOfThread(thread, 60000);
        if (!dialog)
            return;
        monitor.waitForRuns(1, 120000);
        HWND image = imageWindow(dialog);
        for (int i = 0; i < 5; ++i) {
            const int runs = monitor.runsEnded();
            const auto start = Clock::now();
            moveSlider(dialog, IDC_SHADOW_AMOUNT, 30 + (i % 2 ? 1 : -1));
            waitFor([&] { return monitor.runsEnded() > runs; }, 120000, 1);
            filtered.push_back(
                milliseconds(Clock::now() - Clock::time_point(Clock::duration(runStart.load()))));
            // Painted: no update region left in the image window.
            waitFor([&] { return GetUpdateRect(image, nullptr, FALSE) == FALSE; }, 10000);
            latency.push_back(milliseconds(Clock::now() - start));
        }
        for (int i = 0; i < 6; ++i) // 100, 80, 60, 50, 40, 30, 25
            SendMessageA(dialog, WM_COMMAND, IDC_ZOOM_OUT, 0);
        for (int i = 0; i < 5; ++i)
            paint25.push_back(paintTime(image));
        for (int i = 0; i < 6; ++i)
            SendMessageA(dialog, WM_COMMAND, IDC_ZOOM_IN, 0);
        for (int i = 0; i < 5; ++i)
            paint100.push_back(paintTime(image));
        while (IsWindow(dialog)) {
            PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
            Sleep(100);
        }
    });
    host.run();
    driver.join();
    std::printf("%5d x %-5d  %5.1f MP  release to painted: median %6.0f ms (of %zu, the filter run %4.0f ms) "
                "  paint at 25 %%: %5.1f ms"
                "   at 100 %%: %5.1f ms\n",
        width, height, width * double(height) / 1e6, median(latency), latency.size(), median(filtered),
        median(paint25), median(paint100));
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::pair<int, int>> sizes;
    for (int i = 1; i < argc; ++i) {
        int w = 0, h = 0;
        if (std::sscanf(argv[i], "%dx%d", &w, &h) == 2)
            sizes.emplace_back(w, h);
    }
    if (sizes.empty())
        sizes = { { 3000, 2000 }, { 6000, 4000 } };
    for (const auto& [w, h] : sizes)
        measure(w, h);
    return 0;
}
