// quarvel-host.exe --dialog end to end: the dialog opens over the host's window with the
// command line's values, a user changes something on every page, and what OK writes is what a
// run without the dialog writes for the recorded settings. Cancel writes nothing.
#include "resources/ResourceIds.h"
#include "tests/wine/DialogDriver.h"
#include "tools/host/ImageFile.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

namespace quarvel::test {
namespace {

std::string besideTests(const std::string& name)
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path);
    return dir.substr(0, dir.find_last_of("\\/") + 1) + name;
}

std::string tempPath(const std::string& name)
{
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    return ::testing::TempDir() + "quarvel-dialog-" + test->name() + "-" + name;
}

std::string samplePhoto()
{
    host::ImageFile photo;
    std::string error;
    for (const char* candidate : { "..\\..\\..\\samples\\coffee.png", "coffee.png" })
        if (host::readImageFile(besideTests(candidate), photo, error))
            return besideTests(candidate);
    return {};
}

// A started host process; ended (and killed if need be) on destruction.
class HostProcess {
public:
    explicit HostProcess(const std::string& arguments)
    {
        std::string command = "\"" + besideTests("quarvel-host.exe") + "\" " + arguments;
        STARTUPINFOA startup {};
        startup.cb = sizeof startup;
        started_ = CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                       &startup, &info_)
            != FALSE;
    }
    ~HostProcess()
    {
        if (!started_)
            return;
        if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT)
            TerminateProcess(info_.hProcess, 99);
        CloseHandle(info_.hProcess);
        CloseHandle(info_.hThread);
    }
    HostProcess(const HostProcess&) = delete;
    HostProcess& operator=(const HostProcess&) = delete;

    bool started() const { return started_; }
    DWORD id() const { return info_.dwProcessId; }
    // Presses `button` until the dialog has closed (a run in progress ignores OK) and the host
    // has exited; its exit code, or -1.
    int closeWith(HWND dialog, int button)
    {
        for (int i = 0; i < 100; ++i) {
            if (IsWindow(dialog))
                PostMessageA(dialog, WM_COMMAND, WPARAM(button), 0);
            if (WaitForSingleObject(info_.hProcess, 200) == WAIT_OBJECT_0) {
                DWORD code = 0;
                GetExitCodeProcess(info_.hProcess, &code);
                return int(code);
            }
        }
        return -1;
    }

private:
    PROCESS_INFORMATION info_ {};
    bool started_ = false;
};

// A user's pause: long enough for a run on a small photo to start and finish.
void settle(HWND dialog)
{
    Sleep(400);
    waitFor([&] { return idle(dialog); });
}

std::string q(const std::string& path) { return "\"" + path + "\""; }

TEST(HostDialog, OkWritesWhatARunWithoutTheDialogWritesForTheRecordedSettings)
{
    const std::string in = samplePhoto();
    ASSERT_FALSE(in.empty());
    const std::string out = tempPath("out.png"), record = tempPath("rec.json"),
                      direct = tempPath("direct.png");
    HostProcess host("-q --dialog --set ShadowAmount=20 --record " + q(record) + " " + q(in) + " " + q(out));
    ASSERT_TRUE(host.started());
    HWND dialog = waitForDialogOfProcess(host.id());
    ASSERT_NE(dialog, nullptr);
    settle(dialog);
    EXPECT_EQ(sliderPosition(dialog, IDC_SHADOW_AMOUNT), 20) << "the command line's values start the dialog";
    // Hidden pages take their values all the same; one release on each page.
    moveSlider(dialog, IDC_GAMMA, 30);
    settle(dialog);
    moveSlider(dialog, IDC_SATURATION, -10);
    settle(dialog);
    moveSlider(dialog, IDC_SH_SHARP_AMOUNT, 150);
    settle(dialog);
    moveSlider(dialog, IDC_DIFFUSE_AMOUNT, 20);
    settle(dialog);
    ASSERT_EQ(host.closeWith(dialog, IDOK), 0);

    std::ifstream recorded(record);
    std::stringstream text;
    text << recorded.rdbuf();
    EXPECT_NE(text.str().find("\"Gmma\": \"30\""), std::string::npos) << text.str();
    EXPECT_NE(text.str().find("\"DfAm\": \"20\""), std::string::npos) << text.str();

    HostProcess replay("-q --play " + q(record) + " " + q(in) + " " + q(direct));
    ASSERT_TRUE(replay.started());
    EXPECT_EQ(replay.closeWith(nullptr, 0), 0);
    host::ImageFile a, b;
    std::string error;
    ASSERT_TRUE(host::readImageFile(out, a, error)) << error;
    ASSERT_TRUE(host::readImageFile(direct, b, error)) << error;
    EXPECT_TRUE(a.pixels == b.pixels);
    for (const auto& file : { out, record, direct })
        DeleteFileA(file.c_str());
}

TEST(HostDialog, CancelLeavesTheOutputAsItWas)
{
    const std::string in = samplePhoto();
    ASSERT_FALSE(in.empty());
    const std::string out = tempPath("out.png");
    {
        std::ofstream keep(out, std::ios::binary);
        keep << "keep me";
    }
    HostProcess host("-q --dialog " + q(in) + " " + q(out));
    ASSERT_TRUE(host.started());
    HWND dialog = waitForDialogOfProcess(host.id());
    ASSERT_NE(dialog, nullptr);
    settle(dialog);
    moveSlider(dialog, IDC_SHADOW_AMOUNT, 35);
    settle(dialog);
    EXPECT_EQ(host.closeWith(dialog, IDCANCEL), 4);
    std::ifstream kept(out, std::ios::binary);
    std::stringstream text;
    text << kept.rdbuf();
    EXPECT_EQ(text.str(), "keep me");
    DeleteFileA(out.c_str());
}

} // namespace
} // namespace quarvel::test
