// The real dialog in the real module, opened by a host that passes no descriptor (a menu
// invocation) and driven from a second thread by window messages.
#include "resources/ResourceIds.h"
#include "tests/support/FakeHost.h"
#include "tests/wine/DialogDriver.h"
#include "tools/host/ImageFile.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>

namespace quarvel::test {
namespace {

using namespace pluginapi;

uint32_t key(const char (&code)[5])
{
    return uint32_t(uint8_t(code[0])) << 24 | uint32_t(uint8_t(code[1])) << 16
        | uint32_t(uint8_t(code[2])) << 8 | uint32_t(uint8_t(code[3]));
}

// Opens the dialog on this thread with `host` and lets `drive` act on it from another thread.
int16_t runDialog(FakeHost& host, const std::function<void(HWND)>& drive)
{
    int16_t result = 0;
    EXPECT_TRUE(driveDialog([&] { result = host.run(); }, drive)) << "the dialog did not open";
    return result;
}

void pressOk(HWND dialog) { PostMessageA(dialog, WM_COMMAND, IDOK, 0); }

std::vector<uint8_t> outputOf(const FakeHost& host, int width, int height)
{
    std::vector<uint8_t> out;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int p = 0; p < 3; ++p)
                out.push_back(uint8_t(host.output(x, y, p)));
    return out;
}

// What the plug-in gives without its dialog for the settings it recorded from the dialog.
std::vector<uint8_t> directRun(
    int width, int height, uint32_t seed, const std::vector<FakeHost::Value>& recorded)
{
    FakeHost direct(width, height, 3, 8);
    direct.fillInput(seed);
    direct.playDescriptor = true;
    direct.playback = recorded;
    EXPECT_EQ(direct.run(), noErr);
    return outputOf(direct, width, height);
}

class Dialog : public ::testing::Test {
protected:
    static constexpr int kWidth = 320, kHeight = 240;
    Dialog()
        : host(kWidth, kHeight, 3, 8)
        , monitor(GetCurrentThreadId())
    {
        host.fillInput(11);
        // A menu invocation: no descriptor, and the dialog is to be shown.
        host.playDescriptor = false;
        host.playInfo = plugInDialogDisplay;
    }
    FakeHost host;
    DialogMonitor monitor;
};

TEST_F(Dialog, OpensWithOneRunAndOkWritesWhatThePagesSet)
{
    const int16_t result = runDialog(host, [&](HWND dialog) {
        EXPECT_TRUE(monitor.waitForRuns(1)) << "exactly one run at opening";
        // A fresh document, as the pages show it.
        EXPECT_EQ(text(dialog, IDC_SHADOW_AMOUNT_VALUE), "0");
        EXPECT_EQ(text(dialog, IDC_SHADOW_CONTRAST_VALUE), "150");
        EXPECT_EQ(text(dialog, IDC_SHADOW_CLIP_VALUE), "0.00");
        EXPECT_TRUE(visible(dialog, IDC_SHADOW_AMOUNT));
        EXPECT_FALSE(visible(dialog, IDC_SATURATION));

        // Ten tracking steps rewrite the label; only the release commits, once.
        const int changes = monitor.changes();
        dragSlider(dialog, IDC_SHADOW_AMOUNT, { 3, 6, 9, 12, 15, 18, 21, 24, 27, 30 });
        EXPECT_EQ(text(dialog, IDC_SHADOW_AMOUNT_VALUE), "30");
        EXPECT_TRUE(monitor.waitForRuns(2));
        EXPECT_EQ(monitor.changes(), changes + 1);

        selectPage(dialog, 1);
        EXPECT_TRUE(visible(dialog, IDC_SATURATION));
        EXPECT_FALSE(visible(dialog, IDC_SHADOW_AMOUNT));
        moveSlider(dialog, IDC_SATURATION, 12);
        EXPECT_TRUE(monitor.waitForRuns(3));

        selectPage(dialog, 2);
        EXPECT_FALSE(visible(dialog, IDC_HI_SHARP_AMOUNT)) << "normal sharpening shows one group";
        EXPECT_EQ(text(dialog, IDC_SH_SHARP_TITLE), "Sharpen");
        click(dialog, IDC_SHARP_HILIGHT_SHADOW);
        EXPECT_TRUE(visible(dialog, IDC_HI_SHARP_AMOUNT));
        EXPECT_EQ(text(dialog, IDC_SH_SHARP_TITLE), "Shadow Sharpen");
        EXPECT_TRUE(monitor.waitForRuns(4));
        moveSlider(dialog, IDC_SH_SHARP_AMOUNT, 200);
        EXPECT_TRUE(monitor.waitForRuns(5));
        dragSlider(dialog, IDC_HI_SHARP_RADIUS, { 15, 23 });
        EXPECT_EQ(sliderPosition(dialog, IDC_SH_SHARP_RADIUS), 23) << "the radius sliders move together";
        EXPECT_EQ(text(dialog, IDC_SH_SHARP_RADIUS_VALUE), "2.3");
        EXPECT_TRUE(monitor.waitForRuns(6));

        selectPage(dialog, 3);
        moveSlider(dialog, IDC_SMOOTH_AMOUNT, 120);
        EXPECT_TRUE(monitor.waitForRuns(7));
        pressOk(dialog);
    });
    EXPECT_EQ(result, noErr);
    EXPECT_EQ(host.recordedText("ShDt"), "30");
    EXPECT_EQ(host.recordedText("Satu"), "12");
    EXPECT_EQ(host.recordedText("SSAm"), "200");
    EXPECT_EQ(host.recordedText("SSRd"), "2.30000000");
    EXPECT_EQ(host.recordedText("HSRd"), "2.30000000");
    EXPECT_EQ(host.recordedText("SmAm"), "120");
    EXPECT_EQ(outputOf(host, kWidth, kHeight), directRun(kWidth, kHeight, 11, host.recorded));
}

TEST_F(Dialog, AReleaseDuringARunRestartsItWithTheNewestSettingsAndOkWaits)
{
    HWND pageSlider = nullptr;
    monitor.onRunStart = [&](int run) {
        if (run != 2 || !pageSlider)
            return;
        // Handled by the run's own message pumping: the user releases another value and
        // presses OK, which is disabled while the run goes on.
        SendMessageA(pageSlider, 0x0400 + 5 /* TBM_SETPOS */, TRUE, 45);
        PostMessageA(
            GetParent(pageSlider), WM_HSCROLL, 8 /* TB_ENDTRACK */, reinterpret_cast<LPARAM>(pageSlider));
        PostMessageA(GetAncestor(pageSlider, GA_ROOT), WM_COMMAND, IDOK, 0);
    };
    const int16_t result = runDialog(host, [&](HWND dialog) {
        EXPECT_TRUE(monitor.waitForRuns(1));
        pageSlider = control(dialog, IDC_SHADOW_AMOUNT);
        moveSlider(dialog, IDC_SHADOW_AMOUNT, 10);
        EXPECT_TRUE(monitor.waitForRuns(3)) << "the stopped run and one restart";
        EXPECT_TRUE(IsWindow(dialog)) << "OK during a run closed the dialog";
        pressOk(dialog);
    });
    EXPECT_EQ(result, noErr);
    EXPECT_EQ(host.recordedText("ShDt"), "45");
    EXPECT_EQ(outputOf(host, kWidth, kHeight), directRun(kWidth, kHeight, 11, host.recorded));
}

TEST_F(Dialog, CancelStopsARunAndOkThenDeliversTheWholeResult)
{
    monitor.onRunStart = [&](int run) {
        if (run == 2)
            PostMessageA(waitForDialogOfThread(GetCurrentThreadId(), 0), WM_COMMAND, IDCANCEL, 0);
    };
    const int16_t result = runDialog(host, [&](HWND dialog) {
        EXPECT_TRUE(monitor.waitForRuns(1));
        moveSlider(dialog, IDC_SHADOW_AMOUNT, 25);
        EXPECT_TRUE(monitor.waitForRuns(2));
        EXPECT_TRUE(IsWindow(dialog)) << "Cancel during a run only stops the run";
        EXPECT_TRUE(idle(dialog));
        pressOk(dialog);
    });
    // The preview was left half-done; what the host gets is the complete result all the same.
    EXPECT_EQ(result, noErr);
    EXPECT_EQ(host.recordedText("ShDt"), "25");
    EXPECT_EQ(outputOf(host, kWidth, kHeight), directRun(kWidth, kHeight, 11, host.recorded));
}

TEST_F(Dialog, CancelAfterTheRunLeavesTheImageAndStillRecords)
{
    const int16_t result = runDialog(host, [&](HWND dialog) {
        EXPECT_TRUE(monitor.waitForRuns(1));
        moveSlider(dialog, IDC_GAMMA, 40);
        EXPECT_TRUE(monitor.waitForRuns(2));
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        EXPECT_TRUE(waitFor([&] { return !IsWindow(dialog); }, 5000));
    });
    EXPECT_EQ(result, userCanceledErr);
    EXPECT_TRUE(host.outputEqualsInput());
    EXPECT_EQ(host.recordedText("Gmma"), "40");
}

TEST_F(Dialog, ByPassAndZoomStartNoRunAndKeepTheView)
{
    const int16_t result = runDialog(host, [&](HWND dialog) {
        EXPECT_TRUE(monitor.waitForRuns(1));
        HWND image = imageWindow(dialog);
        RECT before {}, after {};
        ASSERT_NE(image, nullptr);
        GetWindowRect(image, &before);
        click(dialog, IDC_BY_PASS);
        click(dialog, IDC_BY_PASS);
        GetWindowRect(image, &after);
        EXPECT_TRUE(EqualRect(&before, &after));

        SendMessageA(dialog, WM_COMMAND, IDC_ZOOM_IN, 0);
        EXPECT_EQ(text(dialog, IDC_ZOOM_LABEL), "150%");
        GetClientRect(image, &after);
        EXPECT_EQ(after.right, 480);
        for (int i = 0; i < 10; ++i)
            SendMessageA(dialog, WM_COMMAND, IDC_ZOOM_IN, 0);
        EXPECT_EQ(text(dialog, IDC_ZOOM_LABEL), "1000%");
        // The image window covers what the frame shows of the 3200-pixel-wide image.
        RECT pane {};
        GetClientRect(GetParent(image), &pane);
        GetClientRect(image, &after);
        EXPECT_EQ(after.right, pane.right);
        for (int i = 0; i < 30; ++i)
            SendMessageA(dialog, WM_COMMAND, IDC_ZOOM_OUT, 0);
        EXPECT_EQ(text(dialog, IDC_ZOOM_LABEL), "1%");
        Sleep(300);
        EXPECT_EQ(monitor.runsStarted(), 1) << "showing is not processing";

        // The title banner is a link; the rest of the background drags the dialog.
        for (const POINT& p : { POINT { 4, 10 }, POINT { 255, 10 }, POINT { 5, 5 }, POINT { 254, 19 } }) {
            POINT screen = p;
            ClientToScreen(dialog, &screen);
            const LRESULT hit = SendMessageA(dialog, WM_NCHITTEST, 0, MAKELPARAM(screen.x, screen.y));
            EXPECT_EQ(hit, p.x == 4 || p.x == 255 ? HTCAPTION : 101) << p.x << "," << p.y;
        }
        pressOk(dialog);
    });
    EXPECT_EQ(result, noErr);
}

// A press, a move and a release of the left button at screen positions, as the image window
// receives them.
void drag(HWND image, POINT from, POINT to)
{
    SetCursorPos(from.x, from.y);
    PostMessageA(image, WM_LBUTTONDOWN, MK_LBUTTON, 0);
    Sleep(100);
    SetCursorPos(to.x, to.y);
    PostMessageA(image, WM_MOUSEMOVE, MK_LBUTTON, 0);
    Sleep(100);
    PostMessageA(image, WM_LBUTTONUP, 0, 0);
    Sleep(100);
}

// Whether a drag by (dx, dy) moved what the frame shows by exactly (movedX, movedY).
bool dragMovesTheView(HWND image, POINT from, int dx, int dy, int movedX, int movedY)
{
    HWND frame = GetParent(image);
    int width = 0, height = 0;
    const std::vector<uint8_t> before = capture(frame, width, height);
    drag(image, from, { from.x + dx, from.y + dy });
    const std::vector<uint8_t> after = capture(frame, width, height);
    if (before.empty() || after.size() != before.size())
        return false;
    int mismatches = 0;
    for (int y = 60; y < height - 60; y += 7)
        for (int x = 60; x < width - 60; x += 5)
            for (int c = 0; c < 3; ++c)
                mismatches += after[(size_t(y) * width + x) * 3 + c]
                    != before[(size_t(y - movedY) * width + (x - movedX)) * 3 + c];
    return mismatches == 0;
}

TEST(DialogPreview, AWidePhotoPansOnlyWhereItOverhangsAndStillPaintsAtTenTimes)
{
    // 6000 pixels wide: 60000 at 1000 %, beyond what X11 and some drawing paths take.
    FakeHost host(6000, 300, 3, 8);
    host.fillInput(3);
    host.playDescriptor = false;
    host.playInfo = plugInDialogDisplay;
    DialogMonitor monitor(GetCurrentThreadId());
    const int16_t result = runDialog(host, [&](HWND dialog) {
        EXPECT_TRUE(monitor.waitForRuns(1));
        HWND image = imageWindow(dialog);
        HWND frame = GetParent(image);
        RECT pane {};
        GetWindowRect(frame, &pane);
        const POINT middle { (pane.left + pane.right) / 2, (pane.top + pane.bottom) / 2 };
        // Wider than the frame, not taller: only the horizontal part of a drag moves it.
        EXPECT_TRUE(dragMovesTheView(image, middle, -40, 25, -40, 0));

        for (int i = 0; i < 7; ++i)
            SendMessageA(dialog, WM_COMMAND, IDC_ZOOM_IN, 0);
        EXPECT_EQ(text(dialog, IDC_ZOOM_LABEL), "1000%");
        EXPECT_TRUE(dragMovesTheView(image, middle, 30, -20, 30, -20));

        // The frame shows the noise photo, not an empty pane.
        int width = 0, height = 0;
        const std::vector<uint8_t> shot = capture(frame, width, height);
        ASSERT_FALSE(shot.empty());
        int distinct = 0;
        for (size_t i = 3; i < shot.size(); i += 3 * 97)
            distinct += shot[i] != shot[i - 3];
        EXPECT_GT(distinct, 100);

        SetCursorPos(middle.x, middle.y);
        SendMessageA(
            image, WM_SETCURSOR, reinterpret_cast<WPARAM>(image), MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
        CURSORINFO cursor { sizeof(CURSORINFO) };
        GetCursorInfo(&cursor);
        HMODULE module = GetModuleHandleA(sizeof(void*) == 8 ? "quarvel64.8bf" : "quarvel.8bf");
        EXPECT_EQ(cursor.hCursor, LoadCursorA(module, MAKEINTRESOURCEA(IDC_MOVE_CURSOR)));
        pressOk(dialog);
    });
    EXPECT_EQ(result, noErr);
}

TEST_F(Dialog, ScriptedValuesOutsideTheSlidersAreShownAndWrittenBackClamped)
{
    host.playDescriptor = true;
    host.playInfo = plugInDialogDisplay;
    host.playback = { { key("Gmma"), "-200" }, { key("GnAm"), "50" }, { key("ShCl"), "not a number" },
        { key("SSRd"), "1e300" }, { key("HiLv"), "-1e300" } };
    const int16_t result = runDialog(host, [&](HWND dialog) {
        EXPECT_TRUE(monitor.waitForRuns(1));
        EXPECT_EQ(sliderPosition(dialog, IDC_GAMMA), -128);
        EXPECT_EQ(text(dialog, IDC_GAMMA_VALUE), "-128");
        EXPECT_EQ(sliderPosition(dialog, IDC_GRAIN_AMOUNT), 10);
        EXPECT_EQ(sliderPosition(dialog, IDC_SH_SHARP_RADIUS), 150);
        EXPECT_EQ(sliderPosition(dialog, IDC_HILIGHT_LEVEL), 0);
        moveSlider(dialog, IDC_CONTRAST, 5); // a commit stores every page
        EXPECT_TRUE(monitor.waitForRuns(2));
        pressOk(dialog);
    });
    EXPECT_EQ(result, noErr);
    EXPECT_EQ(host.recordedText("Gmma"), "-128");
    EXPECT_EQ(host.recordedText("GnAm"), "10");
    EXPECT_EQ(host.recordedText("SSRd"), "15.00000000");
}

TEST_F(Dialog, HelpWithoutItsPageSaysWhichFileIsMissing)
{
    startMessageWatch();
    takeMessages();
    // The build puts the page beside the module; this is about a folder without it.
    const bool moved = MoveFileA("doc", "doc.moved-away-by-test") != FALSE;
    const int16_t result = runDialog(host, [&](HWND dialog) {
        EXPECT_TRUE(monitor.waitForRuns(1));
        SendMessageA(dialog, WM_COMMAND, IDC_HELP_BUTTON, 0);
        pressOk(dialog);
    });
    if (moved)
        MoveFileA("doc.moved-away-by-test", "doc");
    EXPECT_EQ(result, noErr);
    const auto messages = takeMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text.rfind("Cannot open \"", 0), 0u) << messages[0].text;
    EXPECT_NE(messages[0].text.find("doc\\index.html\""), std::string::npos) << messages[0].text;
}

// Pictures of the dialog as a user sees it, for the eye and the documentation.
TEST(DialogScreens, EveryPageTheAboutPictureAndBothZoomDirections)
{
    host::ImageFile photo;
    std::string error;
    ASSERT_TRUE(host::readImageFile("..\\..\\..\\samples\\coffee.png", photo, error)
        || host::readImageFile("coffee.png", photo, error))
        << error;
    FakeHost host(photo.width, photo.height, 3, 8);
    for (int y = 0; y < photo.height; ++y)
        for (int x = 0; x < photo.width; ++x)
            for (int p = 0; p < 3; ++p)
                host.setInput(x, y, p, photo.pixels[(size_t(y) * photo.width + x) * 3 + p]);
    host.playDescriptor = true;
    host.playInfo = plugInDialogDisplay;
    host.playback = { { key("ShDt"), "40" }, { key("ShLv"), "50" }, { key("ShCt"), "80" },
        { key("SSAm"), "120" }, { key("SMth"), "1" }, { key("HSAm"), "60" } };
    DialogMonitor monitor(GetCurrentThreadId());
    CreateDirectoryA("screenshots", nullptr);
    const int16_t result = runDialog(host, [&](HWND dialog) {
        EXPECT_TRUE(monitor.waitForRuns(1));
        const char* names[] = { "dynamic-range", "color", "sharpness", "diffusion" };
        for (int page = 0; page < 4; ++page) {
            selectPage(dialog, page);
            EXPECT_TRUE(saveScreenshot(dialog, std::string("screenshots\\page-") + names[page] + ".png"));
        }
        selectPage(dialog, 0);
        SendMessageA(dialog, WM_COMMAND, IDC_ZOOM_IN, 0);
        SendMessageA(dialog, WM_COMMAND, IDC_ZOOM_IN, 0);
        EXPECT_TRUE(saveScreenshot(dialog, "screenshots\\zoom-in.png"));
        for (int i = 0; i < 4; ++i)
            SendMessageA(dialog, WM_COMMAND, IDC_ZOOM_OUT, 0);
        EXPECT_TRUE(saveScreenshot(dialog, "screenshots\\zoom-out.png"));
        POINT banner { 40, 12 };
        ClientToScreen(dialog, &banner);
        SendMessageA(dialog, WM_NCLBUTTONDOWN, 101, MAKELPARAM(banner.x, banner.y));
        Sleep(200);
        EXPECT_TRUE(saveScreenshot(dialog, "screenshots\\about.png"));
        SendMessageA(dialog, WM_NCLBUTTONDOWN, 101, MAKELPARAM(banner.x, banner.y));
        pressOk(dialog);
    });
    EXPECT_EQ(result, noErr);
}

} // namespace
} // namespace quarvel::test
