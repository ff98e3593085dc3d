// The real dialog in the real module, opened by a host that passes no descriptor (a menu
// invocation) or asks for it while playing settings, and driven from a second thread.
#include "resources/ResourceIds.h"
#include "tests/wine/DialogDriver.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace quarvel::test {
namespace {

using namespace pluginapi;

void zoom(HWND dialog, int command, int steps)
{
    for (int i = 0; i < steps; ++i)
        SendMessageA(dialog, WM_COMMAND, WPARAM(command), 0);
}

class Dialog : public ::testing::Test {
protected:
    explicit Dialog(int width = kWidth, int height = kHeight, uint32_t seed = 11)
        : host(width, height, 3, 8)
    {
        host.fillInput(seed);
    }
    // Opens the dialog (playing the host's settings if it has any) while `drive` acts on it.
    void run(int16_t expected, const std::function<void(HWND)>& drive)
    {
        host.playDescriptor = !host.playback.empty();
        host.playInfo = plugInDialogDisplay;
        int16_t result = 0;
        EXPECT_TRUE(driveDialog([&] { result = host.run(); }, drive)) << "the dialog did not open";
        EXPECT_EQ(result, expected);
    }
    FakeHost host;
    DialogMonitor monitor { GetCurrentThreadId() };
};

TEST_F(Dialog, OpensWithOneRunAndOkWritesWhatThePagesSet)
{
    run(noErr, [&](HWND dialog) {
        EXPECT_TRUE(monitor.waitForRuns(1)) << "exactly one run at opening";
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
        EXPECT_TRUE(saveScreenshot(dialog, "page-dynamic-range"));

        selectPage(dialog, 1);
        EXPECT_TRUE(visible(dialog, IDC_SATURATION));
        EXPECT_FALSE(visible(dialog, IDC_SHADOW_AMOUNT));
        moveSlider(dialog, IDC_SATURATION, 12);
        EXPECT_TRUE(monitor.waitForRuns(3));
        EXPECT_TRUE(saveScreenshot(dialog, "page-color"));

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
        EXPECT_TRUE(saveScreenshot(dialog, "page-sharpness"));

        selectPage(dialog, 3);
        moveSlider(dialog, IDC_SMOOTH_AMOUNT, 120);
        EXPECT_TRUE(monitor.waitForRuns(7));
        EXPECT_TRUE(saveScreenshot(dialog, "page-diffusion"));
        closeWith(dialog, IDOK);
    });
    for (const auto& [key, value] : { std::pair { "ShDt", "30" }, { "Satu", "12" }, { "SSAm", "200" },
             { "SSRd", "2.30000000" }, { "HSRd", "2.30000000" }, { "SmAm", "120" } })
        EXPECT_EQ(host.recordedText(key), value) << key;
    EXPECT_EQ(outputOf(host), directRun(host.recorded));
}

TEST_F(Dialog, AReleaseDuringARunRestartsItOkWaitsAndCancelOnlyStopsIt)
{
    HWND slider = nullptr;
    monitor.onRunStart = [&](int run) {
        // Handled by the run's own message pumping: in the second run another value is released
        // and OK (disabled while a run goes on) pressed; the third is cancelled.
        if (run == 2 && slider) {
            SendMessageA(slider, 0x0400 + 5 /* TBM_SETPOS */, TRUE, 45);
            PostMessageA(
                GetParent(slider), WM_HSCROLL, 8 /* TB_ENDTRACK */, reinterpret_cast<LPARAM>(slider));
            PostMessageA(GetAncestor(slider, GA_ROOT), WM_COMMAND, IDOK, 0);
        } else if (run == 3 && slider) {
            PostMessageA(GetAncestor(slider, GA_ROOT), WM_COMMAND, IDCANCEL, 0);
        }
    };
    run(noErr, [&](HWND dialog) {
        EXPECT_TRUE(monitor.waitForRuns(1));
        slider = control(dialog, IDC_SHADOW_AMOUNT);
        moveSlider(dialog, IDC_SHADOW_AMOUNT, 10);
        EXPECT_TRUE(monitor.waitForRuns(3)) << "the stopped run and one restart";
        EXPECT_TRUE(IsWindow(dialog)) << "OK or Cancel during a run closed the dialog";
        EXPECT_TRUE(idle(dialog));
        closeWith(dialog, IDOK);
    });
    // The preview was left half-done; the host gets the complete result all the same.
    EXPECT_EQ(host.recordedText("ShDt"), "45");
    EXPECT_EQ(outputOf(host), directRun(host.recorded));
}

TEST_F(Dialog, ByPassAndZoomStartNoRunAndKeepTheView)
{
    run(noErr, [&](HWND dialog) {
        EXPECT_TRUE(monitor.waitForRuns(1));
        HWND image = imageWindow(dialog);
        ASSERT_NE(image, nullptr);
        RECT before {}, after {};
        GetWindowRect(image, &before);
        click(dialog, IDC_BY_PASS);
        click(dialog, IDC_BY_PASS);
        GetWindowRect(image, &after);
        EXPECT_TRUE(EqualRect(&before, &after));

        zoom(dialog, IDC_ZOOM_IN, 1);
        EXPECT_EQ(text(dialog, IDC_ZOOM_LABEL), "150%");
        GetClientRect(image, &after);
        EXPECT_EQ(after.right, 480);
        EXPECT_TRUE(saveScreenshot(dialog, "zoom-in"));
        zoom(dialog, IDC_ZOOM_IN, 10);
        EXPECT_EQ(text(dialog, IDC_ZOOM_LABEL), "1000%");
        zoom(dialog, IDC_ZOOM_OUT, 30);
        EXPECT_EQ(text(dialog, IDC_ZOOM_LABEL), "1%");
        EXPECT_TRUE(saveScreenshot(dialog, "zoom-out"));
        Sleep(300);
        EXPECT_EQ(monitor.runsStarted(), 1) << "showing is not processing";

        // The title banner is a link, which shows the about picture; the rest drags the dialog.
        for (const POINT& p : { POINT { 4, 10 }, POINT { 255, 10 }, POINT { 5, 5 }, POINT { 254, 19 } }) {
            POINT screen = p;
            ClientToScreen(dialog, &screen);
            const LRESULT hit = SendMessageA(dialog, WM_NCHITTEST, 0, MAKELPARAM(screen.x, screen.y));
            EXPECT_EQ(hit, p.x == 4 || p.x == 255 ? HTCAPTION : 101) << p.x << "," << p.y;
            if (p.x == 254) {
                SendMessageA(dialog, WM_NCLBUTTONDOWN, 101, MAKELPARAM(screen.x, screen.y));
                EXPECT_TRUE(saveScreenshot(dialog, "about"));
                SendMessageA(dialog, WM_NCLBUTTONDOWN, 101, MAKELPARAM(screen.x, screen.y));
            }
        }
        closeWith(dialog, IDOK);
    });
}

// Whether a drag of the left button by (dx, dy) from `from` (on screen) moved what the frame
// shows by exactly (movedX, movedY).
bool dragMovesTheView(HWND image, POINT from, int dx, int dy, int movedX, int movedY)
{
    int width = 0, height = 0;
    const std::vector<uint8_t> before = capture(GetParent(image), width, height);
    SetCursorPos(from.x, from.y);
    PostMessageA(image, WM_LBUTTONDOWN, MK_LBUTTON, 0);
    Sleep(100);
    SetCursorPos(from.x + dx, from.y + dy);
    PostMessageA(image, WM_MOUSEMOVE, MK_LBUTTON, 0);
    Sleep(100);
    PostMessageA(image, WM_LBUTTONUP, 0, 0);
    Sleep(100);
    const std::vector<uint8_t> after = capture(GetParent(image), width, height);
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

// 6000 pixels wide: 60000 at 1000 %, beyond what X11 and some drawing paths take.
class DialogPreview : public Dialog {
protected:
    DialogPreview()
        : Dialog(6000, 300, 3)
    {
    }
};

TEST_F(DialogPreview, AWidePhotoPansOnlyWhereItOverhangsAndStillPaintsAtTenTimes)
{
    run(noErr, [&](HWND dialog) {
        EXPECT_TRUE(monitor.waitForRuns(1));
        HWND image = imageWindow(dialog);
        HWND frame = GetParent(image);
        RECT pane {};
        GetWindowRect(frame, &pane);
        const POINT middle { (pane.left + pane.right) / 2, (pane.top + pane.bottom) / 2 };
        // Wider than the frame, not taller: only the horizontal part of a drag moves it.
        EXPECT_TRUE(dragMovesTheView(image, middle, -40, 25, -40, 0));
        zoom(dialog, IDC_ZOOM_IN, 7);
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
        closeWith(dialog, IDOK);
    });
}

TEST_F(Dialog, ScriptedValuesOutsideTheSlidersAreShownClampedAndCancelStillRecordsThem)
{
    host.playback = playbackOf(
        "Gamma=-200;GrainAmount=50;ShadowClip=not a number;ShSharpRadius=1e300;HilightLevel=-1e300;");
    run(userCanceledErr, [&](HWND dialog) {
        EXPECT_TRUE(monitor.waitForRuns(1));
        EXPECT_EQ(sliderPosition(dialog, IDC_GAMMA), -128);
        EXPECT_EQ(text(dialog, IDC_GAMMA_VALUE), "-128");
        EXPECT_EQ(sliderPosition(dialog, IDC_GRAIN_AMOUNT), 10);
        EXPECT_EQ(sliderPosition(dialog, IDC_SH_SHARP_RADIUS), 150);
        EXPECT_EQ(sliderPosition(dialog, IDC_HILIGHT_LEVEL), 0);
        moveSlider(dialog, IDC_CONTRAST, 5); // a commit stores every page
        EXPECT_TRUE(monitor.waitForRuns(2));
        closeWith(dialog, IDCANCEL);
    });
    EXPECT_TRUE(host.outputEqualsInput());
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
    run(noErr, [&](HWND dialog) {
        EXPECT_TRUE(monitor.waitForRuns(1));
        SendMessageA(dialog, WM_COMMAND, IDC_HELP_BUTTON, 0);
        closeWith(dialog, IDOK);
    });
    if (moved)
        MoveFileA("doc.moved-away-by-test", "doc");
    const auto messages = takeMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text.rfind("Cannot open \"", 0), 0u) << messages[0].text;
    EXPECT_NE(messages[0].text.find("doc\\index.html\""), std::string::npos) << messages[0].text;
}

} // namespace
} // namespace quarvel::test
