// quarvel-host.exe --dialog end to end: the dialog opens over the host's window with the command
// line's values; what OK writes is what a run without the dialog writes for the recorded settings,
// and Cancel writes nothing.
#include "resources/ResourceIds.h"
#include "tests/wine/DialogDriver.h"
#include "tools/host/ImageFile.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace quarvel::test {
namespace {

// A user's pause: long enough for a run on the small photo to start and finish.
void settle(HWND dialog)
{
    Sleep(400);
    waitFor([&] { return idle(dialog); });
}

// Runs quarvel-host.exe; with `drive`, its dialog is driven once settled and then closed with
// `button`. The host's exit code, or -1 if it had to be ended.
int runHost(const std::string& arguments, const std::function<void(HWND)>& drive = {}, int button = IDOK)
{
    std::string command = "\"" + besideTests("quarvel-host.exe") + "\" " + arguments;
    STARTUPINFOA startup {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process {};
    if (!CreateProcessA(
            nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return -1;
    if (drive) {
        HWND dialog = waitForDialog("Quarvel Dialog", 0, process.dwProcessId);
        EXPECT_NE(dialog, nullptr) << "the dialog did not open";
        if (dialog) {
            settle(dialog);
            drive(dialog);
            closeWith(dialog, button);
        }
    }
    DWORD code = DWORD(-1);
    if (WaitForSingleObject(process.hProcess, 20000) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &code);
    else
        TerminateProcess(process.hProcess, code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return int(code);
}

void moveSliders(HWND dialog, std::initializer_list<std::pair<int, int>> moves)
{
    for (const auto& [id, position] : moves) {
        moveSlider(dialog, id, position);
        settle(dialog);
    }
}

std::string quoted(const std::string& path) { return "\"" + path + "\""; }

TEST(HostDialog, OkWritesWhatPlayingTheRecordWritesAndCancelWritesNothing)
{
    const std::string in = quoted(besideTests("..\\..\\..\\samples\\coffee.png")),
                      out = ::testing::TempDir() + "quarvel-dialog-out.png",
                      record = ::testing::TempDir() + "quarvel-dialog-rec.json",
                      direct = ::testing::TempDir() + "quarvel-dialog-direct.png";
    writeFile(out, "keep me");
    EXPECT_EQ(runHost(
                  "-q --dialog " + in + " " + quoted(out),
                  [](HWND dialog) {
                      moveSliders(dialog, { { IDC_SHADOW_AMOUNT, 35 } });
                  },
                  IDCANCEL),
        4);
    EXPECT_EQ(readFile(out), "keep me");

    ASSERT_EQ(
        runHost("-q --dialog --set ShadowAmount=20 --record " + quoted(record) + " " + in + " " + quoted(out),
            [](HWND dialog) {
                EXPECT_EQ(sliderPosition(dialog, IDC_SHADOW_AMOUNT), 20) << "from the command line";
                // Hidden pages take their values all the same; one release on each page.
                moveSliders(dialog,
                    { { IDC_GAMMA, 30 }, { IDC_SATURATION, -10 }, { IDC_SH_SHARP_AMOUNT, 150 },
                        { IDC_DIFFUSE_AMOUNT, 20 } });
            }),
        0);
    const std::string recorded = readFile(record);
    EXPECT_NE(recorded.find("\"Gmma\": \"30\""), std::string::npos) << recorded;
    EXPECT_NE(recorded.find("\"DfAm\": \"20\""), std::string::npos) << recorded;
    EXPECT_EQ(runHost("-q --play " + quoted(record) + " " + in + " " + quoted(direct)), 0);
    host::ImageFile a, b;
    std::string error;
    ASSERT_TRUE(host::readImageFile(out, a, error)) << error;
    ASSERT_TRUE(host::readImageFile(direct, b, error)) << error;
    EXPECT_TRUE(a.pixels == b.pixels);
    for (const auto& file : { out, record, direct })
        DeleteFileA(file.c_str());
}

} // namespace
} // namespace quarvel::test
