// The preset window, the name box and the remembered placement, driven from a second thread while
// message boxes are read and answered on the dialog's own thread. The module runs as a copy in a
// folder of its own, so that the presets and the settings file written here never touch the ones
// beside the real module.
#include "resources/ResourceIds.h"
#include "tests/settings/SettingsTexts.h"
#include "tests/wine/DialogDriver.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>

namespace quarvel::test {
namespace {

using namespace pluginapi;
namespace fs = std::filesystem;
using Names = std::vector<std::string>;

Names sorted(Names names)
{
    std::sort(names.begin(), names.end());
    return names;
}

Names filesIn(const std::string& folder)
{
    Names names;
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator(folder, ignored))
        names.push_back(entry.path().filename().string());
    return sorted(names);
}

void removeTree(const std::string& path)
{
    std::error_code ignored;
    for (const auto& entry : fs::recursive_directory_iterator(path, ignored))
        SetFileAttributesA(entry.path().string().c_str(), FILE_ATTRIBUTE_NORMAL);
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    fs::remove_all(path, ignored);
}

// Which file a path names: a file replaced by another is a different one, one rewritten in place
// the same.
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

// One folder for every run of the tests, each overwriting the copy of the module the last one left.
std::string folder() { return ::testing::TempDir() + "quarvel-presets\\"; }

// The copy, loaded for the rest of the process: its worker threads may outlive any one test.
PluginEntryProc copiedEntry()
{
    static const PluginEntryProc entry = [] {
        CreateDirectoryA(folder().c_str(), nullptr);
        const std::string copy = folder() + "quarvel-copy.8bf";
        HMODULE loaded = CopyFileA(besideTests(sizeof(void*) == 8 ? "quarvel64.8bf" : "quarvel.8bf").c_str(),
                             copy.c_str(), FALSE)
            ? LoadLibraryA(copy.c_str())
            : nullptr;
        return loaded
            ? reinterpret_cast<PluginEntryProc>(reinterpret_cast<void*>(GetProcAddress(loaded, "ENTRYPOINT")))
            : nullptr;
    }();
    return entry;
}

std::string withCrLf(const std::string& text)
{
    std::string out;
    for (char c : text)
        out += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return out;
}

// What the dialog saves from a fresh document: every setting at its default, the sharpening method
// the Sharpness page adds, then the identity.
const std::string kDefaultsPreset
    = withCrLf(kCanonicalDefaultsText + "SharpMethod=0;\nPlugInName=Quarvel;\nVersion=2.0;\n");

std::string ourPreset(const std::string& entries)
{
    return withCrLf("PlugInName=Quarvel;\nVersion=2.0;\n" + entries);
}

const std::string kLively = "ShadowAmount=40;\nShadowLevel=50;\nSaturation=20;\n";
const std::string kCalm = "Gamma=-20;\nHilightAmount=30;\nSmoothAmount=100;\n";

Names labels(HWND manager)
{
    HWND list = GetDlgItem(manager, IDC_PRESET_LIST);
    Names shown;
    for (int i = 0; i < int(SendMessageA(list, LB_GETCOUNT, 0, 0)); ++i) {
        std::vector<char> text(size_t(SendMessageA(list, LB_GETTEXTLEN, WPARAM(i), 0)) + 1, '\0');
        SendMessageA(list, LB_GETTEXT, WPARAM(i), reinterpret_cast<LPARAM>(text.data()));
        shown.push_back(text.data());
    }
    return sorted(shown);
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

bool okEnabled(HWND nameBox) { return IsWindowEnabled(GetDlgItem(nameBox, IDOK)) != FALSE; }

void press(HWND window, int id)
{
    PostMessageA(
        window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(window, id)));
}

void enterName(HWND nameBox, const std::string& name)
{
    SetDlgItemTextA(nameBox, IDC_PRESET_NAME, name.c_str());
    press(nameBox, IDOK);
}

void deletePreset(HWND manager) { SendMessageA(manager, WM_COMMAND, IDC_PRESET_DELETE, 0); }

// A window's rectangle on screen, or with `inParent` in its parent's client area.
RECT rectOf(HWND window, bool inParent = false)
{
    RECT r {};
    GetWindowRect(window, &r);
    if (inParent)
        MapWindowPoints(nullptr, GetParent(window), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

std::string describe(const RECT& r)
{
    return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + ","
        + std::to_string(r.bottom);
}

class PresetWindow : public ::testing::Test {
protected:
    PresetWindow() { clearFolder(); }
    ~PresetWindow() override { clearFolder(); }
    void SetUp() override { ASSERT_NE(copiedEntry(), nullptr) << "the module copy did not load"; }

    static std::string presets() { return folder() + "Presets\\"; }
    static std::string settingsFile() { return folder() + "quarvel.cfg"; }
    static void makePresetFolder() { CreateDirectoryA(presets().c_str(), nullptr); }
    static void clearFolder()
    {
        removeTree(folder() + "Presets");
        DeleteFileA(settingsFile().c_str());
    }

    // The copied module's dialog as a menu invocation opens it, `drive` acting on it.
    void run(int16_t expected, const std::function<void(HWND)>& drive)
    {
        host = std::make_unique<FakeHost>(kWidth, kHeight, 3, 8);
        host->fillInput(11);
        intptr_t data = 0;
        int16_t result = 0;
        const auto open = [&] {
            copiedEntry()(filterSelectorPrepare, &host->record, &data, &result);
            if (result == noErr)
                copiedEntry()(filterSelectorStart, &host->record, &data, &result);
        };
        EXPECT_TRUE(driveDialog(open, drive)) << "the dialog did not open";
        EXPECT_EQ(result, expected);
    }

    HWND showPresets(HWND dialog)
    {
        if (!presetButtonChecked(dialog))
            click(dialog, IDC_PRESET_BUTTON);
        return waitForDialog("Quarvel Presets", thread);
    }

    // Presses Add; the name box it opens.
    HWND addPreset(HWND manager)
    {
        PostMessageA(manager, WM_COMMAND, IDC_PRESET_ADD, 0);
        return waitForDialog("Add New Preset", thread);
    }

    // Enters a name that brings message box number `box`, after which the name box comes back
    // with the name for correction; that box.
    HWND enterAndComeBack(HWND nameBox, const std::string& name, size_t box)
    {
        enterName(nameBox, name);
        EXPECT_TRUE(boxes.waitForBoxes(box)) << name;
        waitFor([&] { return !IsWindow(nameBox); }, 10000);
        HWND again = waitForDialog("Add New Preset", thread);
        EXPECT_EQ(text(again, IDC_PRESET_NAME), name) << "the name comes back";
        return again;
    }

    // A box that the plug-in shows, checked; `defaultButton` 0 leaves that unchecked.
    void expectBox(
        size_t index, const std::string& text, std::vector<int> buttons, UINT icon, int defaultButton = 0)
    {
        const auto shown = boxes.boxes();
        ASSERT_LT(index, shown.size());
        EXPECT_EQ(shown[index].caption, "Quarvel");
        EXPECT_EQ(shown[index].text, text);
        EXPECT_EQ(shown[index].buttons, buttons);
        EXPECT_EQ(shown[index].icon, icon);
        if (defaultButton)
            EXPECT_EQ(shown[index].defaultButton, defaultButton);
    }

    bool listSettlesOn(HWND manager, const Names& expected)
    {
        return waitFor([&] { return labels(manager) == expected; }, 10000);
    }

    void cancelNameBox(HWND nameBox)
    {
        press(nameBox, IDCANCEL);
        EXPECT_TRUE(waitFor([&] { return !IsWindow(nameBox); }, 10000));
    }

    const DWORD thread = GetCurrentThreadId();
    DialogMonitor monitor { thread };
    MessageBoxAnswerer boxes { thread };
    std::unique_ptr<FakeHost> host;
};

TEST_F(PresetWindow, ListsTheFolderWithLabelsThatTellForeignFilesApart)
{
    run(noErr, [&](HWND dialog) {
        HWND manager = showPresets(dialog);
        ASSERT_NE(manager, nullptr);
        EXPECT_TRUE(labels(manager).empty());
        EXPECT_TRUE(GetFileAttributesA(presets().c_str()) & FILE_ATTRIBUTE_DIRECTORY) << "the folder is made";

        std::string huge = ourPreset(""), binary(4096, '\0');
        while (huge.size() < (1u << 20))
            huge += "Gamma=1;\r\n";
        uint32_t state = 7;
        for (char& c : binary)
            c = char((state = state * 1103515245u + 12345u) >> 24);
        // As long a name as the file system takes in this folder.
        const std::string longName(std::min<size_t>(251, MAX_PATH - 1 - presets().size() - 4), 'L');
        for (const auto& [name, bytes] :
            std::vector<std::pair<std::string, std::string>> { { "Ours.qvp", ourPreset("Gamma=3;\n") },
                { "Older.qvp", "PlugInName=Quarvel;\r\nVersion=1.9;\r\n" }, { "a.qvp", "Gamma=5;\r\n" },
                { "One Line.qvp", "PlugInName=Quarvel;Version=2.0" }, { "Empty.qvp", "" },
                { "Huge.qvp", huge }, { "Binary.qvp", binary }, { "notes.txt", ourPreset("") },
                { longName + ".qvp", "PlugInName=Quarvel;\r\nVersion=1.9;\r\n" } })
            EXPECT_TRUE(writeFile(presets() + name, bytes)) << name;
        CreateDirectoryA((presets() + "Folder.qvp").c_str(), nullptr);

        SendMessageA(manager, WM_COMMAND, IDC_PRESET_REFRESH, 0);
        EXPECT_EQ(labels(manager),
            sorted({ "Ours", "\xFE<v1.9> Older", "\xFE<v1.2> a", "One Line", "\xFE<v1.2> Empty", "Huge",
                "\xFE<v1.2> Binary", "\xFE<v1.9> " + longName }));
        closeWith(dialog, IDOK);
    });
    EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(PresetWindow, AddSavesTheCommittedSettingsUnderANameTheFolderCanHold)
{
    // A wildcard, a way out of the folder, a stream of another preset, a device, and a name as long
    // as the box takes, whose file no file system holds.
    const Names refused = { "a?b", "..\\up", "Mine.qvp:hidden", "nul", std::string(259, 'n') };
    run(noErr, [&](HWND dialog) {
        EXPECT_TRUE(monitor.waitForRuns(1));
        HWND manager = showPresets(dialog);
        HWND nameBox = addPreset(manager);
        ASSERT_NE(nameBox, nullptr);
        EXPECT_EQ(text(nameBox, IDC_PRESET_NAME), "");
        EXPECT_FALSE(okEnabled(nameBox)) << "nothing typed yet";
        HWND field = GetDlgItem(nameBox, IDC_PRESET_NAME);
        SendMessageA(field, WM_CHAR, 'M', 0);
        EXPECT_TRUE(okEnabled(nameBox));
        SendMessageA(field, WM_CHAR, VK_BACK, 0);
        EXPECT_FALSE(okEnabled(nameBox)) << "the field is empty again";
        press(nameBox, IDOK);
        Sleep(200);
        EXPECT_TRUE(IsWindow(nameBox)) << "Enter with an empty name closed the box";

        for (size_t i = 0; i < refused.size(); ++i)
            nameBox = enterAndComeBack(nameBox, refused[i], i + 1);
        SetDlgItemTextA(nameBox, IDC_PRESET_NAME, "Mine");
        EXPECT_TRUE(saveScreenshot(nameBox, "add-preset"));
        enterName(nameBox, "Mine");
        EXPECT_TRUE(listSettlesOn(manager, { "Mine" }));
        EXPECT_EQ(readFile(presets() + "Mine.qvp"), kDefaultsPreset);
        closeWith(dialog, IDOK);
    });
    ASSERT_EQ(boxes.boxes().size(), refused.size());
    for (size_t i = 0; i < refused.size(); ++i)
        expectBox(i, "Cannot save preset with name \"" + refused[i] + "\".", { IDOK }, MB_ICONEXCLAMATION);
    EXPECT_EQ(filesIn(presets()), Names { "Mine.qvp" }) << "no temporary file is left";
    EXPECT_EQ(filesIn(folder()), (Names { "Presets", "quarvel-copy.8bf", "quarvel.cfg" }))
        << "nothing was written beside the folder";
}

// With the longest name that fits in the folder, which every message holds whole.
TEST_F(PresetWindow, ReplaceNoBringsTheNameBackAndYesReplacesTheFileWhole)
{
    const std::string name(MAX_PATH - 1 - presets().size() - 4, 'K'), lower(name.size(), 'k');
    ASSERT_GT(name.size(), 150u);
    makePresetFolder();
    const std::string path = presets() + name + ".qvp";
    writeFile(path, "Gamma=5;\r\n");
    const std::string before = fileIdentity(path);
    boxes.answer({ IDNO, IDYES, IDNO, IDYES });
    run(noErr, [&](HWND dialog) {
        EXPECT_TRUE(monitor.waitForRuns(1));
        HWND manager = showPresets(dialog);
        EXPECT_EQ(labels(manager), Names { "\xFE<v1.2> " + name });
        HWND nameBox = enterAndComeBack(addPreset(manager), name, 1);
        EXPECT_TRUE(okEnabled(nameBox));
        EXPECT_EQ(readFile(path), "Gamma=5;\r\n");

        press(nameBox, IDOK);
        ASSERT_TRUE(boxes.waitForBoxes(2));
        EXPECT_TRUE(listSettlesOn(manager, { name }));
        EXPECT_EQ(readFile(path), kDefaultsPreset);
        // Replaced by a complete new file, never emptied and rewritten in place.
        EXPECT_NE(fileIdentity(path), before);
        EXPECT_EQ(filesIn(presets()), Names { name + ".qvp" });

        // A name that differs only in case names the same file; Cancel after a No saves nothing.
        cancelNameBox(enterAndComeBack(addPreset(manager), lower, 3));

        selectPreset(manager, name);
        deletePreset(manager);
        EXPECT_TRUE(labels(manager).empty());
        closeWith(dialog, IDOK);
    });
    ASSERT_EQ(boxes.boxes().size(), 4u);
    const auto question = [](const std::string& n) {
        return "Preset named \"" + n + "\" already exists.\n\rDo you want to replace with new settings?";
    };
    expectBox(0, question(name), { IDYES, IDNO }, MB_ICONQUESTION, IDNO);
    expectBox(2, question(lower), { IDYES, IDNO }, MB_ICONQUESTION);
    expectBox(3, "Do you want to delete a preset \"" + name + "\"?", { IDYES, IDNO }, MB_ICONQUESTION);
    EXPECT_TRUE(filesIn(presets()).empty());
}

TEST_F(PresetWindow, AFolderThatIsAFileListsNothingAndSavingSaysSo)
{
    writeFile(folder() + "Presets", "not a folder");
    run(noErr, [&](HWND dialog) {
        EXPECT_TRUE(monitor.waitForRuns(1));
        HWND manager = showPresets(dialog);
        EXPECT_TRUE(labels(manager).empty());
        cancelNameBox(enterAndComeBack(addPreset(manager), "Anything", 1));
        closeWith(dialog, IDOK);
    });
    ASSERT_EQ(boxes.boxes().size(), 1u);
    expectBox(0, "Cannot save preset with name \"Anything\".", { IDOK }, MB_ICONEXCLAMATION);
    EXPECT_EQ(readFile(folder() + "Presets"), "not a folder");
}

TEST_F(PresetWindow, DeleteAsksWithTheLabelAndAReadOnlyPresetStaysWhole)
{
    makePresetFolder();
    writeFile(presets() + "a.qvp", "Gamma=5;\r\n");
    const std::string locked = presets() + "Locked.qvp";
    writeFile(locked, ourPreset("Gamma=9;\n"));
    SetFileAttributesA(locked.c_str(), FILE_ATTRIBUTE_READONLY);
    boxes.answer({ IDNO, IDYES, IDYES, IDOK, IDYES });
    run(noErr, [&](HWND dialog) {
        EXPECT_TRUE(monitor.waitForRuns(1));
        HWND manager = showPresets(dialog);
        deletePreset(manager);
        EXPECT_TRUE(boxes.boxes().empty()) << "nothing selected, nothing asked";
        selectPreset(manager, "\xFE<v1.2> a");
        deletePreset(manager);
        EXPECT_EQ(labels(manager).size(), 2u) << "No keeps it";
        deletePreset(manager);
        EXPECT_EQ(labels(manager), Names { "Locked" });

        cancelNameBox(enterAndComeBack(addPreset(manager), "Locked", 4));
        // A file that cannot be deleted leaves the list all the same, and comes back with it.
        selectPreset(manager, "Locked");
        deletePreset(manager);
        EXPECT_TRUE(labels(manager).empty());
        SendMessageA(manager, WM_COMMAND, IDC_PRESET_REFRESH, 0);
        EXPECT_EQ(labels(manager), Names { "Locked" });
        closeWith(dialog, IDOK);
    });
    ASSERT_EQ(boxes.boxes().size(), 5u);
    expectBox(0, "Do you want to delete a preset \"\xFE<v1.2> a\"?", { IDYES, IDNO }, MB_ICONQUESTION, IDYES);
    expectBox(3, "Cannot save preset with name \"Locked\".", { IDOK }, MB_ICONEXCLAMATION);
    EXPECT_EQ(readFile(locked), ourPreset("Gamma=9;\n"));
    EXPECT_EQ(filesIn(presets()), Names { "Locked.qvp" });
    SetFileAttributesA(locked.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(PresetWindow, ASelectionAppliesThePresetAtOnceAlsoDuringARun)
{
    makePresetFolder();
    for (const auto& [name, entries] :
        { std::pair { "Lively", kLively }, { "Calm", kCalm }, { "Gone", kLively } })
        writeFile(presets() + name + ".qvp", ourPreset(entries));
    HWND manager = nullptr;
    monitor.onRunStart = [&](int run) {
        // Handled by the run's own message pumping, as a click during the run would be.
        if (run == 3 && manager)
            selectPreset(manager, "Lively");
    };
    run(noErr, [&](HWND dialog) {
        EXPECT_TRUE(monitor.waitForRuns(1));
        manager = showPresets(dialog);
        selectPreset(manager, "Calm");
        EXPECT_TRUE(monitor.waitForRuns(2)) << "one run with the preset's values";
        EXPECT_EQ(sliderPosition(dialog, IDC_GAMMA), -20);
        EXPECT_EQ(sliderPosition(dialog, IDC_HILIGHT_AMOUNT), 30);
        EXPECT_EQ(sliderPosition(dialog, IDC_SMOOTH_AMOUNT), 100);
        EXPECT_TRUE(saveScreenshot(manager, "presets"));

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
    EXPECT_EQ(outputOf(*host), directRun(playbackOf(kCalm))) << "the preview and the result are the preset's";
}

// The settings file: the dialog's rectangle, whether the preset window is open, its rectangle.
std::string settingsBytes(const std::vector<int32_t>& values)
{
    return std::string(reinterpret_cast<const char*>(values.data()), values.size() * 4);
}

std::string settingsOf(const RECT& dialog, int open, const RECT& presetWindow)
{
    return settingsBytes({ dialog.left, dialog.top, dialog.right, dialog.bottom, open, presetWindow.left,
        presetWindow.top, presetWindow.right, presetWindow.bottom });
}

TEST_F(PresetWindow, ResizesHidesByItsCloseBoxAndIsRememberedWithTheDialogWhenClosed)
{
    RECT dialogPlace {}, presetsPlace {};
    run(noErr, [&](HWND dialog) {
        HWND manager = showPresets(dialog);
        ASSERT_NE(manager, nullptr);
        HWND list = GetDlgItem(manager, IDC_PRESET_LIST), add = GetDlgItem(manager, IDC_PRESET_ADD);
        const RECT listBefore = rectOf(list, true), addBefore = rectOf(add, true);
        for (const SIZE size : { SIZE { 420, 520 }, SIZE { 180, 160 } }) {
            SetWindowPos(
                manager, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
            RECT client {};
            GetClientRect(manager, &client);
            EXPECT_EQ(describe(rectOf(list, true)),
                describe({ listBefore.left, listBefore.top, client.right, client.bottom }));
            EXPECT_EQ(describe(rectOf(add, true)), describe(addBefore));
        }

        EXPECT_TRUE(presetButtonChecked(dialog));
        PostMessageA(manager, WM_SYSCOMMAND, SC_CLOSE, 0);
        EXPECT_TRUE(
            waitFor([&] { return !IsWindowVisible(manager) && !presetButtonChecked(dialog); }, 10000));
        EXPECT_TRUE(IsWindow(manager)) << "hidden, not destroyed";
        writeFile(presets() + "New.qvp", ourPreset(""));
        EXPECT_EQ(showPresets(dialog), manager);
        EXPECT_EQ(labels(manager), Names { "New" }) << "shown with a fresh list";
        SetWindowPos(dialog, nullptr, 40, 30, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        MoveWindow(manager, 700, 300, 260, 330, TRUE);
        dialogPlace = rectOf(dialog);
        presetsPlace = rectOf(manager);
        closeWith(dialog, IDOK);
    });
    EXPECT_EQ(readFile(settingsFile()), settingsOf(dialogPlace, 1, presetsPlace));

    const std::string before = fileIdentity(settingsFile());
    run(userCanceledErr, [&](HWND dialog) {
        HWND manager = waitForDialog("Quarvel Presets", thread);
        ASSERT_NE(manager, nullptr) << "the preset window opens as it was";
        EXPECT_TRUE(presetButtonChecked(dialog));
        EXPECT_EQ(describe(rectOf(dialog)), describe(dialogPlace));
        EXPECT_EQ(describe(rectOf(manager)), describe(presetsPlace));
        click(dialog, IDC_PRESET_BUTTON);
        EXPECT_FALSE(IsWindowVisible(manager));
        closeWith(dialog, IDCANCEL);
    });
    EXPECT_EQ(readFile(settingsFile()), settingsOf(dialogPlace, 0, presetsPlace));
    // Replaced by a complete new file, never emptied and rewritten in place.
    EXPECT_NE(fileIdentity(settingsFile()), before);
    EXPECT_EQ(filesIn(folder()), (Names { "Presets", "quarvel-copy.8bf", "quarvel.cfg" }));
}

using SettingsFile = PresetWindow;

TEST_F(SettingsFile, WhatIsMissingOffScreenOrGarbageKeepsItsDefault)
{
    RECT home {};
    run(noErr, [&](HWND dialog) {
        home = rectOf(dialog);
        closeWith(dialog, IDOK);
    });
    const int width = home.right - home.left, height = home.bottom - home.top;
    std::string garbage(1000, '\0');
    uint32_t state = 5;
    for (char& c : garbage)
        c = char((state = state * 1103515245u + 12345u) >> 24);
    // A place on screen, and the preset window's caption strip above the top of the screen.
    const RECT there { 60, 50, 960, 650 }, above { 700, -400, 960, -80 };
    const struct {
        const char* what;
        std::string bytes;
        RECT dialog;
        bool presetsOpen;
    } cases[] = {
        { "sixteen bytes", settingsBytes({ there.left, there.top, there.right, there.bottom }), there,
            false },
        { "beyond the right edge", settingsOf({ 3000, 200, 3000 + width, 200 + height }, 1, above), home,
            true },
        { "top-left corner off the left edge", settingsOf({ -150, 40, 900, 700 }, 1, above), home, true },
        { "five bytes", std::string("\x10\x00\x00\x00\x20", 5), home, false },
        { "extremes",
            settingsBytes({ INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN, 0, INT32_MIN, INT32_MAX,
                INT32_MAX - 10, INT32_MIN + 10 }),
            home, false },
        // Both test points on screen, but turned inside out: the dialog would have no size at all.
        { "inside out", settingsBytes({ 800, 600, 200, 100, 0, 0, 0, 0, 0 }), home, false },
        { "garbage, whose open flag is not 0", garbage, home, true },
        { "a good file with more after it", settingsOf(there, 0, above) + garbage, there, false },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        writeFile(settingsFile(), c.bytes);
        run(noErr, [&](HWND dialog) {
            EXPECT_EQ(describe(rectOf(dialog)), describe(c.dialog));
            HWND manager = waitForDialog("Quarvel Presets", thread, 0, c.presetsOpen ? 10000 : 300);
            EXPECT_EQ(manager != nullptr, c.presetsOpen);
            EXPECT_EQ(presetButtonChecked(dialog), c.presetsOpen);
            if (manager)
                EXPECT_NE(rectOf(manager).top, above.top);
            closeWith(dialog, IDOK);
        });
        EXPECT_EQ(readFile(settingsFile()).size(), 36u) << "written back whole";
    }
}

} // namespace
} // namespace quarvel::test
