// The preset window, the name box and the remembered placement, in the real module under Wine,
// driven by window messages from a second thread; message boxes are read and answered on the
// dialog's own thread. The module runs as a copy in a folder of its own, so that the presets and
// the settings file these tests write never touch the ones beside the real module.
#include "resources/ResourceIds.h"
#include "settings/ParameterDocument.h"
#include "settings/ParameterTable.h"
#include "tests/support/FakeHost.h"
#include "tests/wine/DialogDriver.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace quarvel::test {
namespace {

using namespace pluginapi;

// ---- files ------------------------------------------------------------------------------------

std::string besideTests(const std::string& name)
{
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    const std::string dir(path);
    return dir.substr(0, dir.find_last_of("\\/") + 1) + name;
}

namespace fs = std::filesystem;

bool writeFile(const std::string& path, const std::string& bytes)
{
    std::ofstream file(path, std::ios::binary);
    return bool(file.write(bytes.data(), std::streamsize(bytes.size())).flush());
}

std::string readFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return file ? std::string(std::istreambuf_iterator<char>(file), {}) : "<missing>";
}

// The names in a folder, sorted.
std::vector<std::string> filesIn(const std::string& folder)
{
    std::vector<std::string> names;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(folder, ignored))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void removeTree(const std::string& path)
{
    std::error_code ignored;
    for (const auto& entry : fs::recursive_directory_iterator(path, ignored))
        SetFileAttributesA(entry.path().string().c_str(), FILE_ATTRIBUTE_NORMAL);
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    fs::remove_all(path, ignored);
}

// ---- the copied module ------------------------------------------------------------------------

struct CopiedModule {
    std::string folder; // ends in a backslash
    PluginEntryProc entry = nullptr;
};

const CopiedModule& copiedModule()
{
    static const CopiedModule copy = [] {
        CopiedModule made;
        // One folder for every run: each overwrites the copy that the last one left.
        made.folder = ::testing::TempDir() + "quarvel-presets\\";
        CreateDirectoryA(made.folder.c_str(), nullptr);
        const std::string module = besideTests(sizeof(void*) == 8 ? "quarvel64.8bf" : "quarvel.8bf");
        const std::string copyPath = made.folder + "quarvel-copy.8bf";
        // Loaded for the rest of the process: its worker threads may outlive any one test.
        if (CopyFileA(module.c_str(), copyPath.c_str(), FALSE))
            if (HMODULE loaded = LoadLibraryA(copyPath.c_str()))
                made.entry = reinterpret_cast<PluginEntryProc>(
                    reinterpret_cast<void*>(GetProcAddress(loaded, "ENTRYPOINT")));
        return made;
    }();
    return copy;
}

// ---- presets ----------------------------------------------------------------------------------

// What the dialog saves from a fresh document: every setting at its default, the sharpening method
// the Sharpness page adds, then the identity, each line ending in CR LF.
std::string defaultsPreset()
{
    std::string text;
    for (const char* entry : { "DynamicEnable=1", "ColorEnable=1", "SharpEnable=1", "SmoothEnable=1",
             "ShadowLevel=0", "ShadowContrast=150", "ShadowAmount=0", "ShadowClip=0.00000000",
             "HilightLevel=0", "HilightContrast=150", "HilightAmount=0", "HilightClip=0.00000000",
             "AutoColor=0", "AutoExposure=0", "Gamma=0", "Density=0", "Saturation=0", "Contrast=0",
             "Monochromatic=1", "HiSharpAmount=0", "HiSharpRadius=1.00000000", "HiSharpEdge=20",
             "HiSharpThreshold=0", "HiSharpTonal=170", "ShSharpAmount=0", "ShSharpRadius=1.00000000",
             "ShSharpEdge=20", "ShSharpThreshold=0", "ShSharpTonal=85", "SmoothAmount=0",
             "SmoothRadius=1.00000000", "SmoothThreshold=0", "DiffuseAmount=0", "DiffuseRadius=5.00000000",
             "DiffuseTone=0", "GrainAmount=0", "SharpMethod=0", "PlugInName=Quarvel", "Version=2.0" })
        text += std::string(entry) + ";\r\n";
    return text;
}

std::string ourPreset(const std::string& entries)
{
    return "PlugInName=Quarvel;\r\nVersion=2.0;\r\n" + entries;
}

const std::string kLively = ourPreset("ShadowAmount=40;\r\nShadowLevel=50;\r\nSaturation=20;\r\n");
const std::string kCalm = ourPreset("Gamma=-20;\r\nHilightAmount=30;\r\nSmoothAmount=100;\r\n");

// The settings of a preset as a host plays them back.
std::vector<FakeHost::Value> playbackOf(const std::string& preset)
{
    ParameterDocument document;
    document.loadFromMemory(preset.data(), preset.size());
    std::vector<FakeHost::Value> values;
    for (const SettingInfo& setting : kSettings) {
        char value[64] = {};
        if (document.getString(setting.name, value, 63, nullptr))
            values.push_back({ setting.key, value });
    }
    return values;
}

// ---- the windows ------------------------------------------------------------------------------

std::vector<std::string> labels(HWND manager)
{
    HWND list = GetDlgItem(manager, IDC_PRESET_LIST);
    std::vector<std::string> shown;
    const auto count = int(SendMessageA(list, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        std::vector<char> text(size_t(SendMessageA(list, LB_GETTEXTLEN, WPARAM(i), 0)) + 1, '\0');
        SendMessageA(list, LB_GETTEXT, WPARAM(i), reinterpret_cast<LPARAM>(text.data()));
        shown.push_back(text.data());
    }
    std::sort(shown.begin(), shown.end());
    return shown;
}

std::vector<std::string> sorted(std::vector<std::string> values)
{
    std::sort(values.begin(), values.end());
    return values;
}

// As a click on the entry: the list moves its selection and tells its window.
void selectPreset(HWND manager, const std::string& label)
{
    HWND list = GetDlgItem(manager, IDC_PRESET_LIST);
    const LRESULT index
        = SendMessageA(list, LB_FINDSTRINGEXACT, WPARAM(-1), reinterpret_cast<LPARAM>(label.c_str()));
    SendMessageA(list, LB_SETCURSEL, WPARAM(index), 0);
    SendMessageA(
        manager, WM_COMMAND, MAKEWPARAM(IDC_PRESET_LIST, LBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
}

bool presetButtonChecked(HWND dialog)
{
    return SendMessageA(control(dialog, IDC_PRESET_BUTTON), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

std::string fieldText(HWND nameBox)
{
    HWND field = GetDlgItem(nameBox, IDC_PRESET_NAME);
    std::vector<char> text(size_t(GetWindowTextLengthA(field)) + 1, '\0');
    GetWindowTextA(field, text.data(), int(text.size()));
    return text.data();
}

bool okEnabled(HWND nameBox) { return IsWindowEnabled(GetDlgItem(nameBox, IDOK)) != FALSE; }

void press(HWND window, int id)
{
    PostMessageA(
        window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(window, id)));
}

// Presses the button until the dialog has closed: OK waits while a run is in progress, and
// Cancel then stops the run first.
void closeWith(HWND dialog, int button)
{
    waitFor(
        [&] {
            if (!IsWindow(dialog))
                return true;
            PostMessageA(dialog, WM_COMMAND, WPARAM(button), 0);
            return false;
        },
        20000, 250);
}

// Which file a path names: a file replaced by another is a different one, a file rewritten in
// place the same.
std::string fileIdentity(const std::string& path)
{
    HANDLE file
        = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "<missing>";
    BY_HANDLE_FILE_INFORMATION info {};
    GetFileInformationByHandle(file, &info);
    CloseHandle(file);
    return std::to_string(info.dwVolumeSerialNumber) + ":" + std::to_string(info.nFileIndexHigh) + ":"
        + std::to_string(info.nFileIndexLow);
}

RECT clientRectOf(HWND child)
{
    RECT r {};
    GetWindowRect(child, &r);
    MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

std::string describe(const RECT& r)
{
    return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + ","
        + std::to_string(r.bottom);
}

// ---- the fixture ------------------------------------------------------------------------------

class CopiedModuleDialog : public ::testing::Test {
protected:
    static constexpr int kWidth = 320, kHeight = 240;

    CopiedModuleDialog()
        : thread(GetCurrentThreadId())
        , monitor(thread)
        , boxes(thread)
    {
        clearFolder();
    }
    ~CopiedModuleDialog() override { clearFolder(); }

    void SetUp() override { ASSERT_NE(copiedModule().entry, nullptr) << "the module copy did not load"; }

    static std::string folder() { return copiedModule().folder; }
    static std::string presets() { return folder() + "Presets\\"; }
    static std::string settingsFile() { return folder() + "quarvel.cfg"; }
    static void makePresetFolder() { CreateDirectoryA(presets().c_str(), nullptr); }
    static void clearFolder()
    {
        removeTree(folder() + "Presets");
        DeleteFileA(settingsFile().c_str());
    }

    // Opens the copied module's dialog over a host of its own that passes no descriptor (a menu
    // invocation), lets `drive` act on it from another thread, and closes whatever is still open.
    int16_t run(const std::function<void(HWND)>& drive)
    {
        host = std::make_unique<FakeHost>(kWidth, kHeight, 3, 8);
        host->fillInput(11);
        intptr_t data = 0;
        int16_t result = 0;
        const auto open = [&] {
            copiedModule().entry(filterSelectorPrepare, &host->record, &data, &result);
            if (result == noErr)
                copiedModule().entry(filterSelectorStart, &host->record, &data, &result);
        };
        const auto dismissNameBox = [](DWORD owner) {
            if (HWND nameBox = waitForWindowOfThread(owner, "Add New Preset", 0))
                PostMessageA(nameBox, WM_COMMAND, IDCANCEL, 0);
        };
        EXPECT_TRUE(driveDialog(open, drive, dismissNameBox)) << "the dialog did not open";
        return result;
    }

    HWND showPresets(HWND dialog)
    {
        if (!presetButtonChecked(dialog))
            click(dialog, IDC_PRESET_BUTTON);
        return waitForWindowOfThread(thread, "Quarvel Presets");
    }

    // Presses Add; the name box it opens.
    HWND addPreset(HWND manager)
    {
        PostMessageA(manager, WM_COMMAND, IDC_PRESET_ADD, 0);
        return waitForWindowOfThread(thread, "Add New Preset");
    }

    // The name box that comes back after `previous` has closed.
    HWND nameBoxAfter(HWND previous)
    {
        waitFor([&] { return !IsWindow(previous); }, 10000);
        return waitForWindowOfThread(thread, "Add New Preset");
    }

    // Types a name into the box and presses OK.
    static void enterName(HWND nameBox, const std::string& name)
    {
        SetDlgItemTextA(nameBox, IDC_PRESET_NAME, name.c_str());
        press(nameBox, IDOK);
    }

    static std::vector<uint8_t> outputOf(const FakeHost& from)
    {
        std::vector<uint8_t> out;
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x)
                for (int p = 0; p < 3; ++p)
                    out.push_back(uint8_t(from.output(x, y, p)));
        return out;
    }

    // What the real module gives without its dialog for a preset's settings.
    static std::vector<uint8_t> directRun(const std::string& preset)
    {
        FakeHost direct(kWidth, kHeight, 3, 8);
        direct.fillInput(11);
        direct.playDescriptor = true;
        direct.playback = playbackOf(preset);
        EXPECT_EQ(direct.run(), noErr);
        return outputOf(direct);
    }

    const DWORD thread;
    DialogMonitor monitor;
    MessageBoxAnswerer boxes;
    std::unique_ptr<FakeHost> host;
};

using PresetWindow = CopiedModuleDialog;
using SettingsFile = CopiedModuleDialog;

// ---- listing ----------------------------------------------------------------------------------

TEST_F(PresetWindow, ListsTheFolderWithLabelsThatTellForeignFilesApart)
{
    std::string longName;
    const int16_t result = run([&](HWND dialog) {
        HWND manager = showPresets(dialog);
        ASSERT_NE(manager, nullptr);
        EXPECT_TRUE(labels(manager).empty());
        EXPECT_TRUE(GetFileAttributesA(presets().c_str()) & FILE_ATTRIBUTE_DIRECTORY) << "the folder is made";

        const std::string p = presets();
        writeFile(p + "Ours.qvp", ourPreset("Gamma=3;\r\n"));
        writeFile(p + "Shouting.qvp", "PlugInName=QUARVEL;\r\nVersion=2.0;\r\n");
        writeFile(p + "Older.qvp", "PlugInName=Quarvel;\r\nVersion=1.9;\r\n");
        writeFile(p + "a.qvp", "Gamma=5;\r\n");
        writeFile(p + "Borrowed.qvp", "PlugInName=Other Filter;\r\nVersion=2.0;\r\n");
        writeFile(p + "Unversioned.qvp", "PlugInName=Quarvel;\r\n");
        writeFile(p + "One Line.qvp", "PlugInName=Quarvel;Version=2.0");
        writeFile(p + "Empty.qvp", "");
        std::string huge = ourPreset("");
        while (huge.size() < (1u << 20))
            huge += "Gamma=1;\r\n";
        writeFile(p + "Huge.qvp", huge);
        std::string binary(4096, '\0');
        uint32_t state = 7;
        for (char& c : binary)
            c = char((state = state * 1103515245u + 12345u) >> 24);
        writeFile(p + "Binary.qvp", binary);
        CreateDirectoryA((p + "Folder.qvp").c_str(), nullptr);
        writeFile(p + "notes.txt", ourPreset(""));
        // As long a name as the file system takes in this folder.
        longName = std::string(std::min<size_t>(251, MAX_PATH - 1 - p.size() - 4), 'L');
        EXPECT_TRUE(writeFile(p + longName + ".qvp", "PlugInName=Quarvel;\r\nVersion=1.9;\r\n"));

        SendMessageA(manager, WM_COMMAND, IDC_PRESET_REFRESH, 0);
        EXPECT_EQ(labels(manager),
            sorted({ "Ours", "Shouting", "\xFE<v1.9> Older", "\xFE<v1.2> a", "\xFE<v1.2> Borrowed",
                "\xFE<v1.2> Unversioned", "One Line", "\xFE<v1.2> Empty", "Huge", "\xFE<v1.2> Binary",
                "\xFE<v1.9> " + longName }));
        closeWith(dialog, IDOK);
    });
    EXPECT_EQ(result, noErr);
    EXPECT_TRUE(boxes.boxes().empty());
}

// ---- adding -----------------------------------------------------------------------------------

TEST_F(PresetWindow, AddSavesTheLastCommittedSettingsAndOkFollowsTheName)
{
    const int16_t result = run([&](HWND dialog) {
        EXPECT_TRUE(monitor.waitForRuns(1));
        HWND manager = showPresets(dialog);
        HWND nameBox = addPreset(manager);
        ASSERT_NE(nameBox, nullptr);
        EXPECT_EQ(fieldText(nameBox), "");
        EXPECT_FALSE(okEnabled(nameBox)) << "nothing typed yet";
        HWND field = GetDlgItem(nameBox, IDC_PRESET_NAME);
        SendMessageA(field, WM_CHAR, 'M', 0);
        EXPECT_TRUE(okEnabled(nameBox));
        SendMessageA(field, WM_CHAR, VK_BACK, 0);
        EXPECT_FALSE(okEnabled(nameBox)) << "the field is empty again";
        press(nameBox, IDOK);
        Sleep(200);
        EXPECT_TRUE(IsWindow(nameBox)) << "Enter with an empty name closed the box";
        enterName(nameBox, "Mine");
        EXPECT_TRUE(waitFor([&] { return labels(manager) == std::vector<std::string> { "Mine" }; }, 10000));
        EXPECT_EQ(readFile(presets() + "Mine.qvp"), defaultsPreset());
        closeWith(dialog, IDOK);
    });
    EXPECT_EQ(result, noErr);
    EXPECT_TRUE(boxes.boxes().empty()) << boxes.boxes()[0].text;
    EXPECT_EQ(filesIn(presets()), std::vector<std::string> { "Mine.qvp" }) << "no temporary file is left";
}

TEST_F(PresetWindow, ReplaceNoBringsTheNameBackAndYesReplacesTheFileWhole)
{
    makePresetFolder();
    const std::string path = presets() + "Mine.qvp";
    writeFile(path, "Gamma=5;\r\n");
    const std::string before = fileIdentity(path);
    boxes.answer({ IDNO, IDYES, IDNO });
    const int16_t result = run([&](HWND dialog) {
        EXPECT_TRUE(monitor.waitForRuns(1));
        HWND manager = showPresets(dialog);
        EXPECT_EQ(labels(manager), std::vector<std::string> { "\xFE<v1.2> Mine" });
        HWND nameBox = addPreset(manager);
        enterName(nameBox, "Mine");
        ASSERT_TRUE(boxes.waitForBoxes(1));
        nameBox = nameBoxAfter(nameBox);
        ASSERT_NE(nameBox, nullptr) << "No brings the name box back";
        EXPECT_EQ(fieldText(nameBox), "Mine");
        EXPECT_TRUE(okEnabled(nameBox));
        EXPECT_EQ(readFile(path), "Gamma=5;\r\n");

        press(nameBox, IDOK);
        ASSERT_TRUE(boxes.waitForBoxes(2));
        EXPECT_TRUE(waitFor([&] { return labels(manager) == std::vector<std::string> { "Mine" }; }, 10000));
        EXPECT_EQ(readFile(path), defaultsPreset());

        // Cancel after a No ends the add and saves nothing.
        nameBox = addPreset(manager);
        enterName(nameBox, "MINE");
        ASSERT_TRUE(boxes.waitForBoxes(3));
        nameBox = nameBoxAfter(nameBox);
        EXPECT_EQ(fieldText(nameBox), "MINE");
        press(nameBox, IDCANCEL);
        EXPECT_TRUE(waitFor([&] { return !IsWindow(nameBox); }, 10000));
        closeWith(dialog, IDOK);
    });
    EXPECT_EQ(result, noErr);
    const auto shown = boxes.boxes();
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(
        shown[0].text, "Preset named \"Mine\" already exists.\n\rDo you want to replace with new settings?");
    EXPECT_EQ(shown[0].caption, "Quarvel");
    EXPECT_EQ(shown[0].buttons, (std::vector<int> { IDYES, IDNO }));
    EXPECT_EQ(shown[0].defaultButton, IDNO);
    EXPECT_EQ(shown[0].icon, UINT(MB_ICONQUESTION));
    EXPECT_EQ(
        shown[2].text, "Preset named \"MINE\" already exists.\n\rDo you want to replace with new settings?")
        << "a name that differs only in case names the same file";
    EXPECT_EQ(readFile(path), defaultsPreset());
    // The old preset was replaced by a complete new file, never emptied and rewritten in place.
    EXPECT_NE(fileIdentity(path), before);
    EXPECT_EQ(filesIn(presets()), std::vector<std::string> { "Mine.qvp" });
}

TEST_F(PresetWindow, NamesTheFolderCannotHoldAreRefusedWholeAndComeBack)
{
    // A wildcard, a way out of the folder, a stream of another preset, a device, and a name as long
    // as the box takes, whose file no file system holds.
    const std::vector<std::string> refused
        = { "a?b", "..\\up", "Mine.qvp:hidden", "nul", std::string(259, 'n') };
    const int16_t result = run([&](HWND dialog) {
        EXPECT_TRUE(monitor.waitForRuns(1));
        HWND manager = showPresets(dialog);
        HWND nameBox = addPreset(manager);
        for (size_t i = 0; i < refused.size(); ++i) {
            enterName(nameBox, refused[i]);
            ASSERT_TRUE(boxes.waitForBoxes(i + 1)) << refused[i];
            nameBox = nameBoxAfter(nameBox);
            ASSERT_NE(nameBox, nullptr) << refused[i];
            EXPECT_EQ(fieldText(nameBox), refused[i]) << "the name comes back for correction";
        }
        enterName(nameBox, "Fine");
        EXPECT_TRUE(waitFor([&] { return labels(manager) == std::vector<std::string> { "Fine" }; }, 10000));
        closeWith(dialog, IDOK);
    });
    EXPECT_EQ(result, noErr);
    const auto shown = boxes.boxes();
    ASSERT_EQ(shown.size(), refused.size());
    for (size_t i = 0; i < refused.size(); ++i) {
        EXPECT_EQ(shown[i].caption, "Quarvel");
        EXPECT_EQ(shown[i].text, "Cannot save preset with name \"" + refused[i] + "\".");
        EXPECT_EQ(shown[i].buttons, std::vector<int> { IDOK });
        EXPECT_EQ(shown[i].icon, UINT(MB_ICONEXCLAMATION));
    }
    EXPECT_EQ(filesIn(presets()), std::vector<std::string> { "Fine.qvp" });
    EXPECT_EQ(filesIn(folder()), (std::vector<std::string> { "Presets", "quarvel-copy.8bf", "quarvel.cfg" }))
        << "nothing was written beside the folder";
}

TEST_F(PresetWindow, TheLongestNameThatFitsWorksInEveryMessage)
{
    const std::string name(MAX_PATH - 1 - presets().size() - 4, 'K');
    ASSERT_GT(name.size(), 150u);
    boxes.answer({ IDNO, IDYES });
    const int16_t result = run([&](HWND dialog) {
        EXPECT_TRUE(monitor.waitForRuns(1));
        HWND manager = showPresets(dialog);
        HWND nameBox = addPreset(manager);
        enterName(nameBox, name);
        EXPECT_TRUE(waitFor([&] { return labels(manager) == std::vector<std::string> { name }; }, 10000));

        nameBox = addPreset(manager);
        enterName(nameBox, name);
        ASSERT_TRUE(boxes.waitForBoxes(1));
        press(nameBoxAfter(nameBox), IDCANCEL);

        selectPreset(manager, name);
        SendMessageA(manager, WM_COMMAND, IDC_PRESET_DELETE, 0);
        EXPECT_TRUE(labels(manager).empty());
        closeWith(dialog, IDOK);
    });
    EXPECT_EQ(result, noErr);
    const auto shown = boxes.boxes();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].text,
        "Preset named \"" + name + "\" already exists.\n\rDo you want to replace with new settings?");
    EXPECT_EQ(shown[1].text, "Do you want to delete a preset \"" + name + "\"?");
    EXPECT_TRUE(filesIn(presets()).empty());
}

TEST_F(PresetWindow, AFolderThatIsAFileListsNothingAndSavingSaysSo)
{
    writeFile(folder() + "Presets", "not a folder");
    const int16_t result = run([&](HWND dialog) {
        EXPECT_TRUE(monitor.waitForRuns(1));
        HWND manager = showPresets(dialog);
        EXPECT_TRUE(labels(manager).empty());
        HWND nameBox = addPreset(manager);
        enterName(nameBox, "Anything");
        ASSERT_TRUE(boxes.waitForBoxes(1));
        press(nameBoxAfter(nameBox), IDCANCEL);
        closeWith(dialog, IDOK);
    });
    EXPECT_EQ(result, noErr);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, "Cannot save preset with name \"Anything\".");
    EXPECT_EQ(readFile(folder() + "Presets"), "not a folder");
}

// ---- deleting ---------------------------------------------------------------------------------

TEST_F(PresetWindow, DeleteAsksWithTheLabelAndAReadOnlyPresetStaysWhole)
{
    makePresetFolder();
    writeFile(presets() + "a.qvp", "Gamma=5;\r\n");
    const std::string locked = presets() + "Locked.qvp";
    writeFile(locked, ourPreset("Gamma=9;\r\n"));
    SetFileAttributesA(locked.c_str(), FILE_ATTRIBUTE_READONLY);
    boxes.answer({ IDNO, IDYES, IDYES, IDOK, IDYES });
    const int16_t result = run([&](HWND dialog) {
        EXPECT_TRUE(monitor.waitForRuns(1));
        HWND manager = showPresets(dialog);
        SendMessageA(manager, WM_COMMAND, IDC_PRESET_DELETE, 0);
        EXPECT_TRUE(boxes.boxes().empty()) << "nothing selected, nothing asked";
        selectPreset(manager, "\xFE<v1.2> a");
        SendMessageA(manager, WM_COMMAND, IDC_PRESET_DELETE, 0);
        EXPECT_EQ(labels(manager).size(), 2u) << "No keeps it";
        SendMessageA(manager, WM_COMMAND, IDC_PRESET_DELETE, 0);
        EXPECT_EQ(labels(manager), std::vector<std::string> { "Locked" });

        HWND nameBox = addPreset(manager);
        enterName(nameBox, "Locked");
        ASSERT_TRUE(boxes.waitForBoxes(4));
        nameBox = nameBoxAfter(nameBox);
        EXPECT_EQ(fieldText(nameBox), "Locked");
        press(nameBox, IDCANCEL);
        EXPECT_TRUE(waitFor([&] { return !IsWindow(nameBox); }, 10000));
        // A file that cannot be deleted leaves the list all the same, and comes back with it.
        selectPreset(manager, "Locked");
        SendMessageA(manager, WM_COMMAND, IDC_PRESET_DELETE, 0);
        EXPECT_TRUE(labels(manager).empty());
        SendMessageA(manager, WM_COMMAND, IDC_PRESET_REFRESH, 0);
        EXPECT_EQ(labels(manager), std::vector<std::string> { "Locked" });
        closeWith(dialog, IDOK);
    });
    EXPECT_EQ(result, noErr);
    const auto shown = boxes.boxes();
    ASSERT_EQ(shown.size(), 5u);
    EXPECT_EQ(shown[0].caption, "Quarvel");
    EXPECT_EQ(shown[0].text, "Do you want to delete a preset \"\xFE<v1.2> a\"?");
    EXPECT_EQ(shown[0].buttons, (std::vector<int> { IDYES, IDNO }));
    EXPECT_EQ(shown[0].defaultButton, IDYES);
    EXPECT_EQ(shown[0].icon, UINT(MB_ICONQUESTION));
    EXPECT_EQ(shown[3].text, "Cannot save preset with name \"Locked\".");
    EXPECT_EQ(readFile(locked), ourPreset("Gamma=9;\r\n"));
    EXPECT_EQ(filesIn(presets()), std::vector<std::string> { "Locked.qvp" });
    SetFileAttributesA(locked.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// ---- applying ---------------------------------------------------------------------------------

TEST_F(PresetWindow, ASelectionAppliesThePresetAtOnceAlsoDuringARun)
{
    makePresetFolder();
    writeFile(presets() + "Lively.qvp", kLively);
    writeFile(presets() + "Calm.qvp", kCalm);
    writeFile(presets() + "Gone.qvp", kLively);
    HWND manager = nullptr;
    monitor.onRunStart = [&](int run) {
        // Handled by the run's own message pumping, as a click during the run would be.
        if (run == 3 && manager)
            selectPreset(manager, "Lively");
    };
    const int16_t result = run([&](HWND dialog) {
        EXPECT_TRUE(monitor.waitForRuns(1));
        manager = showPresets(dialog);
        selectPreset(manager, "Calm");
        EXPECT_TRUE(monitor.waitForRuns(2)) << "one run with the preset's values";
        EXPECT_EQ(sliderPosition(dialog, IDC_GAMMA), -20);
        EXPECT_EQ(sliderPosition(dialog, IDC_HILIGHT_AMOUNT), 30);
        EXPECT_EQ(sliderPosition(dialog, IDC_SMOOTH_AMOUNT), 100);

        moveSlider(dialog, IDC_SATURATION, -10);
        EXPECT_TRUE(monitor.waitForRuns(4)) << "the run under way stopped, and one with the preset followed";
        EXPECT_EQ(sliderPosition(dialog, IDC_SHADOW_AMOUNT), 40);
        EXPECT_EQ(sliderPosition(dialog, IDC_SATURATION), 20);
        EXPECT_EQ(sliderPosition(dialog, IDC_GAMMA), 0);

        // The arrow keys move the selection, and each move applies; a preset that vanished since
        // the listing changes nothing.
        DeleteFileA((presets() + "Gone.qvp").c_str());
        HWND list = GetDlgItem(manager, IDC_PRESET_LIST);
        SendMessageA(list, WM_KEYDOWN, VK_UP, 0);
        Sleep(500);
        EXPECT_EQ(monitor.runsStarted(), 4);
        EXPECT_EQ(sliderPosition(dialog, IDC_SHADOW_AMOUNT), 40);
        SendMessageA(list, WM_KEYDOWN, VK_UP, 0);
        EXPECT_TRUE(monitor.waitForRuns(5));
        EXPECT_EQ(sliderPosition(dialog, IDC_GAMMA), -20);
        closeWith(dialog, IDOK);
    });
    EXPECT_EQ(result, noErr);
    EXPECT_EQ(outputOf(*host), directRun(kCalm)) << "the preview and the result are the preset's";
}

// ---- the window -------------------------------------------------------------------------------

TEST_F(PresetWindow, ResizingStretchesTheListAndTheCloseBoxHidesItAndUnchecksPreset)
{
    const int16_t result = run([&](HWND dialog) {
        HWND manager = showPresets(dialog);
        ASSERT_NE(manager, nullptr);
        HWND list = GetDlgItem(manager, IDC_PRESET_LIST);
        const RECT listBefore = clientRectOf(list);
        const RECT addBefore = clientRectOf(GetDlgItem(manager, IDC_PRESET_ADD));
        for (const SIZE size : { SIZE { 420, 520 }, SIZE { 180, 160 } }) {
            SetWindowPos(
                manager, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
            RECT client {};
            GetClientRect(manager, &client);
            const RECT listAfter = clientRectOf(list);
            EXPECT_EQ(describe(listAfter),
                describe({ listBefore.left, listBefore.top, client.right, client.bottom }));
            EXPECT_EQ(describe(clientRectOf(GetDlgItem(manager, IDC_PRESET_ADD))), describe(addBefore));
        }

        EXPECT_TRUE(presetButtonChecked(dialog));
        PostMessageA(manager, WM_SYSCOMMAND, SC_CLOSE, 0);
        EXPECT_TRUE(
            waitFor([&] { return !IsWindowVisible(manager) && !presetButtonChecked(dialog); }, 10000));
        EXPECT_TRUE(IsWindow(manager)) << "hidden, not destroyed";
        writeFile(presets() + "New.qvp", ourPreset(""));
        EXPECT_EQ(showPresets(dialog), manager);
        EXPECT_EQ(labels(manager), std::vector<std::string> { "New" }) << "shown with a fresh list";
        click(dialog, IDC_PRESET_BUTTON);
        EXPECT_FALSE(IsWindowVisible(manager));
        closeWith(dialog, IDOK);
    });
    EXPECT_EQ(result, noErr);
}

// ---- the settings file ------------------------------------------------------------------------

std::string settingsBytes(const std::vector<int32_t>& values)
{
    return std::string(reinterpret_cast<const char*>(values.data()), values.size() * 4);
}

std::vector<int32_t> readSettings(const std::string& path)
{
    const std::string bytes = readFile(path);
    std::vector<int32_t> values(bytes.size() / 4);
    std::memcpy(values.data(), bytes.data(), values.size() * 4);
    return bytes.size() % 4 == 0 ? values : std::vector<int32_t> {};
}

RECT windowRect(HWND window)
{
    RECT r {};
    GetWindowRect(window, &r);
    return r;
}

std::vector<int32_t> settingsOf(const RECT& dialog, int open, const RECT& presetWindow)
{
    return { dialog.left, dialog.top, dialog.right, dialog.bottom, open, presetWindow.left, presetWindow.top,
        presetWindow.right, presetWindow.bottom };
}

TEST_F(SettingsFile, ClosingRemembersBothWindowsWholeAndOpeningPutsThemBack)
{
    RECT dialogPlace {}, presetsPlace {};
    EXPECT_EQ(run([&](HWND dialog) {
        HWND manager = showPresets(dialog);
        SetWindowPos(dialog, nullptr, 40, 30, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        MoveWindow(manager, 700, 300, 260, 330, TRUE);
        dialogPlace = windowRect(dialog);
        presetsPlace = windowRect(manager);
        closeWith(dialog, IDOK);
    }),
        noErr);
    EXPECT_EQ(readSettings(settingsFile()), settingsOf(dialogPlace, 1, presetsPlace));

    const std::string before = fileIdentity(settingsFile());
    makePresetFolder();
    writeFile(presets() + "Kept.qvp", ourPreset(""));
    EXPECT_EQ(run([&](HWND dialog) {
        HWND manager = waitForWindowOfThread(thread, "Quarvel Presets");
        ASSERT_NE(manager, nullptr) << "the preset window opens as it was";
        EXPECT_TRUE(presetButtonChecked(dialog));
        EXPECT_EQ(describe(windowRect(dialog)), describe(dialogPlace));
        EXPECT_EQ(describe(windowRect(manager)), describe(presetsPlace));
        EXPECT_EQ(labels(manager), std::vector<std::string> { "Kept" });
        click(dialog, IDC_PRESET_BUTTON);
        closeWith(dialog, IDCANCEL);
    }),
        userCanceledErr);
    EXPECT_EQ(readSettings(settingsFile()), settingsOf(dialogPlace, 0, presetsPlace));
    // Replaced by a complete new file, never emptied and rewritten in place.
    EXPECT_NE(fileIdentity(settingsFile()), before);
    EXPECT_EQ(filesIn(folder()), (std::vector<std::string> { "Presets", "quarvel-copy.8bf", "quarvel.cfg" }));
}

TEST_F(SettingsFile, WhatIsMissingOffScreenOrGarbageKeepsItsDefault)
{
    RECT home {};
    EXPECT_EQ(run([&](HWND dialog) {
        home = windowRect(dialog);
        closeWith(dialog, IDOK);
    }),
        noErr);
    const int width = home.right - home.left;
    const int height = home.bottom - home.top;
    std::string garbage(1000, '\0');
    uint32_t state = 5;
    for (char& c : garbage)
        c = char((state = state * 1103515245u + 12345u) >> 24);
    const RECT there { 60, 50, 960, 650 };
    // The preset window's caption strip above the top of the screen.
    const RECT above { 700, -400, 960, -80 };
    struct Case {
        const char* what;
        std::string bytes;
        RECT dialog;
        bool presetsOpen;
    };
    const std::vector<Case> cases = {
        { "sixteen bytes", settingsBytes({ there.left, there.top, there.right, there.bottom }), there,
            false },
        { "beyond the right edge",
            settingsBytes(settingsOf({ 3000, 200, 3000 + width, 200 + height }, 1, above)), home, true },
        { "top-left corner off the left edge", settingsBytes(settingsOf({ -150, 40, 900, 700 }, 1, above)),
            home, true },
        { "five bytes", std::string("\x10\x00\x00\x00\x20", 5), home, false },
        { "extremes",
            settingsBytes({ INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN, 0, INT32_MIN, INT32_MAX,
                INT32_MAX - 10, INT32_MIN + 10 }),
            home, false },
        // Both test points on screen, but turned inside out: the dialog would have no size at all.
        { "inside out", settingsBytes({ 800, 600, 200, 100, 0, 0, 0, 0, 0 }), home, false },
        { "garbage, whose open flag is not 0", garbage, home, true },
        { "a good file with more after it", settingsBytes(settingsOf(there, 0, above)) + garbage, there,
            false },
    };
    for (const Case& c : cases) {
        writeFile(settingsFile(), c.bytes);
        EXPECT_EQ(run([&](HWND dialog) {
            EXPECT_EQ(describe(windowRect(dialog)), describe(c.dialog)) << c.what;
            HWND manager = waitForWindowOfThread(thread, "Quarvel Presets", c.presetsOpen ? 10000 : 300);
            EXPECT_EQ(manager != nullptr, c.presetsOpen) << c.what;
            EXPECT_EQ(presetButtonChecked(dialog), c.presetsOpen) << c.what;
            if (manager)
                EXPECT_NE(windowRect(manager).top, above.top) << c.what;
            closeWith(dialog, IDOK);
        }),
            noErr)
            << c.what;
        EXPECT_EQ(readSettings(settingsFile()).size(), 9u) << c.what << ": written back whole";
    }
}

// ---- pictures ---------------------------------------------------------------------------------

TEST_F(PresetWindow, ScreenshotsOfThePresetWindowAndTheNameBox)
{
    makePresetFolder();
    for (const std::string& name : filesIn(besideTests("Presets\\")))
        CopyFileA(besideTests("Presets\\" + name).c_str(), (presets() + name).c_str(), FALSE);
    writeFile(presets() + "Summer 2019.qvp", "PlugInName=Quarvel;\r\nVersion=1.9;\r\nShadowAmount=20;\r\n");
    CreateDirectoryA("screenshots", nullptr);
    const int16_t result = run([&](HWND dialog) {
        EXPECT_TRUE(monitor.waitForRuns(1));
        HWND manager = showPresets(dialog);
        MoveWindow(manager, 60, 60, 260, 330, TRUE);
        selectPreset(manager, "Soft Glow");
        EXPECT_TRUE(monitor.waitForRuns(2));
        EXPECT_TRUE(saveScreenshot(manager, "screenshots\\presets.png"));
        HWND nameBox = addPreset(manager);
        SetDlgItemTextA(nameBox, IDC_PRESET_NAME, "Evening Walk");
        SendDlgItemMessageA(nameBox, IDC_PRESET_NAME, EM_SETSEL, 12, 12);
        EXPECT_TRUE(saveScreenshot(nameBox, "screenshots\\add-preset.png"));
        press(nameBox, IDCANCEL);
        EXPECT_TRUE(waitFor([&] { return !IsWindow(nameBox); }, 10000));
        closeWith(dialog, IDOK);
    });
    EXPECT_EQ(result, noErr);
}

} // namespace
} // namespace quarvel::test
