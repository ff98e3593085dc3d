// quarvel-host as scripts use it: image files in, image files out, exit codes, and an output
// that is either whole and right or not there at all.
#include "tests/support/FakeHost.h"
#include "tools/host/HostScale.h"
#include "tools/host/ImageFile.h"

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace quarvel::host {
namespace {

std::string hostBinary()
{
#if defined(_WIN32)
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path);
    return dir.substr(0, dir.find_last_of("\\/") + 1) + "quarvel-host.exe";
#else
    return QUARVEL_HOST_BINARY;
#endif
}

std::string contents(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool exists(const std::string& path) { return bool(std::ifstream(path, std::ios::binary)); }

void writeText(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

std::string q(const std::string& path) { return "\"" + path + "\""; }

// Named after the running test: ctest runs the tests of this file in parallel processes.
std::string testName() { return ::testing::UnitTest::GetInstance()->current_test_info()->name(); }

struct Outcome {
    int code;
    std::string errors; // what the host wrote on stderr
};

#define EXPECT_SAYS(outcome, part)                                                                           \
    EXPECT_NE((outcome).errors.find(part), std::string::npos) << (outcome).errors

Outcome runHost(const std::string& arguments, const char* abortAfter = nullptr)
{
    const std::string errFile = ::testing::TempDir() + "quarvel-cli-" + testName() + "-stderr.txt";
    const std::string outFile = ::testing::TempDir() + "quarvel-cli-" + testName() + "-stdout.txt";
    int code = -1;
#if defined(_WIN32)
    if (abortAfter)
        SetEnvironmentVariableA("QUARVEL_HOST_ABORT_AFTER", abortAfter);
    // Started directly, not through the command interpreter, which under Wine now and then
    // fails to start a program at all (exit 9009) when the machine is busy.
    SECURITY_ATTRIBUTES inherit { sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE };
    const auto create = [&](const std::string& path) {
        return CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
            CREATE_ALWAYS, 0, nullptr);
    };
    HANDLE out = create(outFile), err = create(errFile);
    STARTUPINFOA startup {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out;
    startup.hStdError = err;
    std::string command = "\"" + hostBinary() + "\" " + arguments;
    PROCESS_INFORMATION process {};
    if (CreateProcessA(
            nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
        WaitForSingleObject(process.hProcess, INFINITE);
        DWORD exitCode = 0;
        GetExitCodeProcess(process.hProcess, &exitCode);
        code = int(exitCode);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    CloseHandle(out);
    CloseHandle(err);
    SetEnvironmentVariableA("QUARVEL_HOST_ABORT_AFTER", nullptr);
#else
    const std::string command
        = (abortAfter ? std::string("QUARVEL_HOST_ABORT_AFTER=") + abortAfter + " " : "") + "'" + hostBinary()
        + "' " + arguments + " >'" + outFile + "' 2>'" + errFile + "'";
    const int status = std::system(command.c_str());
    code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
    std::ifstream text(errFile); // text mode: the Windows host's line ends read as "\n"
    Outcome outcome { code, std::string(std::istreambuf_iterator<char>(text), {}) };
    text.close();
    std::remove(errFile.c_str());
    std::remove(outFile.c_str());
    return outcome;
}

ImageFile makeImage(int width, int height, int channels, int bits)
{
    ImageFile image;
    image.width = width;
    image.height = height;
    image.channels = channels;
    image.bitsPerSample = bits;
    image.pixels.resize(image.rowBytes() * size_t(height));
    uint32_t state = uint32_t(width * 31 + height * 7 + channels + bits);
    if (bits == 8) {
        for (auto& s : image.pixels)
            s = uint8_t((state = state * 1103515245u + 12345u) >> 16);
    } else {
        // Values that a 16-bit host can hold exactly, so the round trip must be exact too.
        uint16_t* samples = image.samples16();
        for (size_t i = 0; i < image.pixels.size() / 2; ++i)
            samples[i] = hostToFile16(uint16_t(((state = state * 1103515245u + 12345u) >> 8) % 32769));
        samples[0] = 65535;
        samples[1] = 0;
    }
    return image;
}

void writeOrFail(const std::string& path, const ImageFile& image)
{
    std::string error;
    ASSERT_TRUE(writeImageFile(path, formatFromPath(path), image, error)) << error;
}

ImageFile readOrFail(const std::string& path)
{
    ImageFile image;
    std::string error;
    EXPECT_TRUE(readImageFile(path, image, error)) << path << ": " << error;
    return image;
}

// A folder of the running test's own, emptied first: what the host leaves behind in it is all
// there is to see.
std::string testFolder()
{
    const std::filesystem::path folder = ::testing::TempDir() + "quarvel-cli-" + testName();
    std::error_code ignored;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder, ignored))
        std::filesystem::permissions(
            entry.path(), std::filesystem::perms::owner_write, std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(folder, ignored);
    std::filesystem::create_directory(folder, ignored);
    return folder.string() + "/";
}

// The host's temporaries (".qv" and six characters) left in `folder`.
std::vector<std::string> leftovers(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().filename().string().rfind(".qv", 0) == 0)
            names.push_back(entry.path().filename().string());
    return names;
}

size_t occurrences(const std::string& text, const std::string& part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

TEST(HostCli, LosslessFormatsComeBackIdentical)
{
    const std::string folder = testFolder();
    struct Case {
        const char* extension;
        int channels, bits;
    };
    // Each depth and channel count once: the codecs' own tests take every layout.
    for (const Case c :
        { Case { ".png", 3, 8 }, Case { ".png", 4, 16 }, Case { ".tif", 3, 16 }, Case { ".tif", 4, 8 } }) {
        SCOPED_TRACE(testing::Message() << c.extension << " " << c.channels << "x" << c.bits);
        const ImageFile original = makeImage(41, 27, c.channels, c.bits);
        const std::string in = folder + "in" + c.extension, out = folder + "out" + c.extension;
        writeOrFail(in, original);
        const Outcome run = runHost("-q " + q(in) + " " + q(out));
        ASSERT_EQ(run.code, 0) << run.errors;
        const ImageFile result = readOrFail(out);
        EXPECT_EQ(std::tie(result.width, result.channels, result.bitsPerSample),
            std::tie(original.width, original.channels, original.bitsPerSample));
        EXPECT_TRUE(result.pixels == original.pixels);
    }
}

TEST(HostCli, RefusalsAndCancelsLeaveTheOutputAlone)
{
    const std::string folder = testFolder();
    const std::string out = folder + "kept.png", tiny = folder + "tiny.png", photo = folder + "photo.png",
                      rgba = folder + "rgba.png";
    writeText(out, "what was there before");
    test::startMessageWatch();
    writeOrFail(tiny, makeImage(5, 40, 3, 8));
    writeOrFail(photo, makeImage(30, 50, 3, 8));
    writeOrFail(rgba, makeImage(8, 8, 4, 8));
    // Too small for the plug-in: it says so, and the host exits 4.
    Outcome run = runHost("-q " + q(tiny) + " " + q(out));
    EXPECT_EQ(run.code, 4);
    EXPECT_SAYS(run, "refused");
    // Stopped after the first abort poll: cancelled, exit 4.
    run = runHost("-q " + q(photo) + " " + q(out), "1");
    EXPECT_EQ(run.code, 4);
    EXPECT_SAYS(run, "cancelled");
    // JPEG cannot take transparency: refused before the run.
    run = runHost("-q " + q(rgba) + " " + q(folder + "out.jpg"));
    EXPECT_EQ(run.code, 3);
    EXPECT_SAYS(run, "transparency");
    EXPECT_FALSE(exists(folder + "out.jpg"));
    EXPECT_EQ(contents(out), "what was there before");
}

// Mistakes in the command line (exit 2) and in the files it names (exit 3) are found before the
// plug-in runs, and each message names what is wrong.
TEST(HostCli, MistakesAreRefusedBeforeThePluginRuns)
{
    const std::string folder = testFolder();
    const std::string in = q(folder + "in.png"), out = q(folder + "out.png"), files = in + " " + out;
    writeOrFail(folder + "in.png", makeImage(8, 8, 3, 8));
    writeText(folder + "not-an-image.png", "plain text");
    writeText(folder + "bad.json", "{\"EnDr\": 1}");
    writeText(folder + "empty.qvp", "");
    const struct {
        std::string arguments;
        int code;
        std::string said;
    } cases[]
        = { { "--frobnicate " + files, 2, "--frobnicate" },
              { "only-one.png", 2, "" },
              { in + " " + q(folder + "out.bmp"), 2, ".png" }, // names what would work
              { "--set Bogus=1 " + files, 2, "unknown setting" },
              { "--set Gamma=1.5 " + files, 2, "" },
              { "--set ShadowClip=abc " + files, 2, "" },
              { "--set ShadowAmount " + files, 2, "" },
              { "--preset= " + files, 2, "--" },
              { "--play= " + files, 2, "--" },
              { "--record= " + files, 2, "--" },
              { "--preset \"\" " + files, 2, "--" },
              { "--quality 0 " + files, 2, "--" },
              { "--compression 10 " + files, 2, "--" },
              { "--suffix -x " + files, 2, "--" },
              { "--format png " + files, 2, "--" },
#if !defined(_WIN32)
              { "--plugin quarvel64.8bf " + files, 2, "Windows host" },
#endif
              { q(folder + "missing.png") + " " + out, 3, "" },
              { q(folder + "not-an-image.png") + " " + out, 3, "" },
              { "--play " + q(folder + "bad.json") + " " + files, 3, "not text" },
              { "--preset " + q(folder + "missing.qvp") + " " + files, 3, "" },
              // A folder where a file belongs once ended the host with an uncaught exception (exit 134).
              { "--play " + q(folder) + " " + files, 3, "it is a folder" },
              { "--preset " + q(folder) + " " + files, 3, "it is a folder" },
              { q(folder) + " " + out, 3, "it is a folder" },
              // An image or an empty file holds no setting: no preset at all, not one of defaults.
              { "--preset " + in + " " + files, 3, "holds no Quarvel setting" },
              { "--preset " + q(folder + "empty.qvp") + " " + files, 3, "holds no Quarvel setting" },
          };
    for (const auto& c : cases) {
        const Outcome run = runHost("-q " + c.arguments);
        EXPECT_EQ(run.code, c.code) << c.arguments;
        EXPECT_SAYS(run, c.said);
    }
    EXPECT_FALSE(exists(folder + "out.png"));
    EXPECT_TRUE(leftovers(folder).empty());
    EXPECT_EQ(runHost("--help").code, 0);
    EXPECT_EQ(runHost("--list").code, 0);
}

TEST(HostCli, ARecordedActionReplaysToTheSameImageAndRecordsTheSameKeys)
{
    const std::string folder = testFolder();
    const std::string in = q(folder + "in.png"), first = folder + "a.json", second = folder + "b.json";
    writeOrFail(folder + "in.png", makeImage(40, 30, 3, 8));
    Outcome run
        = runHost("-q --set ShadowClip=1.5 --record " + q(first) + " " + in + " " + q(folder + "1.png"));
    ASSERT_EQ(run.code, 0) << run.errors;
    run = runHost("-q --play " + q(first) + " --record " + q(second) + " " + in + " " + q(folder + "2.png"));
    ASSERT_EQ(run.code, 0) << run.errors;
    EXPECT_EQ(contents(folder + "1.png"), contents(folder + "2.png"));
    const std::string recorded = contents(first);
    EXPECT_EQ(recorded, contents(second));
    // The 36 keys in descriptor order, the set value as given, the others in the document's forms.
    EXPECT_LT(recorded.find("\"EnDr\""), recorded.find("\"GnAm\""));
    // The detail stages read the sharpening method, which stores its default, so it is recorded
    // after the 36 and a replay cannot pick up another method from earlier settings.
    for (const char* entry :
        { "\"ShCl\": \"1.5\"", "\"HiCl\": \"0.00000000\"", "\"Gmma\": \"0\"", "\"SMth\": \"0\"" })
        EXPECT_NE(recorded.find(entry), std::string::npos) << entry << " in " << recorded;
    EXPECT_EQ(occurrences(recorded, "\": \""), 37u);

    // The sharpening method, which the descriptor did not carry before, now does.
    ASSERT_EQ(
        runHost("-q --set SharpMethod=1 --record " + q(first) + " " + in + " " + q(folder + "1.png")).code,
        0);
    EXPECT_NE(contents(first).find("\"SMth\": \"1\""), std::string::npos);
}

// The image and the action file are written together or not at all, and the record never
// replaces an image, however it is spelled or linked to; running in place works.
TEST(HostCli, ARecordThatCannotBeWrittenOrNamesAnImageLeavesTheImagesAlone)
{
    const std::string folder = testFolder();
    const std::string in = folder + "in.png", out = folder + "out.png";
    writeOrFail(in, makeImage(20, 20, 3, 8));
    writeText(out, "what was there before");
    const std::string image = contents(in);
    std::filesystem::create_directory(folder + "a.json");
    std::vector<std::pair<std::string, int>> records = { { folder + "missing/a.json", 3 },
        { folder + "a.json", 3 }, { in, 2 }, { out, 2 }, { folder + "./out.png", 2 } };
#if !defined(_WIN32)
    ASSERT_EQ(link(in.c_str(), (folder + "hard.json").c_str()), 0);
    ASSERT_EQ(symlink("out.png", (folder + "soft.json").c_str()), 0);
    records.insert(records.end(), { { folder + "hard.json", 2 }, { folder + "soft.json", 2 } });
#endif
    for (const auto& [record, code] : records) {
        const Outcome run = runHost("-q --record " + q(record) + " " + q(in) + " " + q(out));
        EXPECT_EQ(run.code, code) << record;
        EXPECT_SAYS(run, code == 3 ? "cannot write " + record + ": " : "--record");
    }
    EXPECT_EQ(contents(out), "what was there before");
    EXPECT_EQ(contents(in), image);
    EXPECT_TRUE(leftovers(folder).empty());

    const Outcome run
        = runHost("-q --set ShadowAmount=40 --record " + q(folder + "b.json") + " " + q(in) + " " + q(in));
    ASSERT_EQ(run.code, 0) << run.errors;
    readOrFail(in);
    EXPECT_NE(contents(in), image);
    EXPECT_NE(contents(folder + "b.json").find("\"ShDt\": \"40\""), std::string::npos);
    EXPECT_TRUE(leftovers(folder).empty());
}

TEST(HostCli, AReadOnlyOutputIsRefusedUnlessForcedAndStaysReadOnly)
{
    const std::string folder = testFolder();
    const std::string in = folder + "in.png", out = folder + "out.png";
    writeOrFail(in, makeImage(20, 20, 3, 8));
    writeText(out, "kept");
#if defined(_WIN32)
    SetFileAttributesA(out.c_str(), FILE_ATTRIBUTE_READONLY);
#else
    chmod(out.c_str(), 0444);
#endif
    Outcome run = runHost("-q " + q(in) + " " + q(out));
    EXPECT_EQ(run.code, 3);
    EXPECT_SAYS(run, "cannot write " + out + ": the file is read-only");
    EXPECT_EQ(contents(out), "kept");

    run = runHost("-q --force " + q(in) + " " + q(out));
    ASSERT_EQ(run.code, 0) << run.errors;
    readOrFail(out);
#if defined(_WIN32)
    EXPECT_TRUE(GetFileAttributesA(out.c_str()) & FILE_ATTRIBUTE_READONLY);
#else
    struct stat status { };
    EXPECT_TRUE(stat(out.c_str(), &status) == 0 && (status.st_mode & 0222) == 0);
#endif
    EXPECT_TRUE(leftovers(folder).empty());
}

TEST(HostCli, SettingsOutsideTheDialogsRangeAreNamedOnceAndUsed)
{
    const std::string folder = testFolder();
    const std::string in = q(folder + "in.png");
    writeOrFail(folder + "in.png", makeImage(20, 20, 3, 8));
    Outcome run = runHost(
        "-q --set ShadowAmount=60 --set ShadowAmount=70 --set Gamma=3 " + in + " " + q(folder + "out.png"));
    ASSERT_EQ(run.code, 0) << run.errors;
    EXPECT_EQ(occurrences(run.errors, "outside what the dialog offers"), 1u) << run.errors;
    EXPECT_SAYS(run, "ShadowAmount=70 is outside what the dialog offers (0..50)");
    run = runHost("-q --set ShadowAmount=50 " + in + " " + q(folder + "plain.png"));
    ASSERT_EQ(run.code, 0);
    EXPECT_EQ(run.errors, "");
    EXPECT_NE(contents(folder + "out.png"), contents(folder + "plain.png")) << "used as given, not clamped";
}

// Three files, one of them no image: the other two are written, the bad one is named at the end.
TEST(HostCliBatch, EveryGoodFileIsWrittenAndTheBadOneReported)
{
    const std::string folder = testFolder();
    const ImageFile first = makeImage(30, 20, 3, 8), third = makeImage(17, 23, 4, 16);
    writeOrFail(folder + "first.png", first);
    writeText(folder + "second.png", "not an image");
    writeOrFail(folder + "third.tif", third);
    const std::string inputs
        = q(folder + "first.png") + " " + q(folder + "second.png") + " " + q(folder + "third.tif");
    const std::string outputs = folder + "out";
    Outcome run = runHost(inputs + " -o " + q(outputs));
    EXPECT_EQ(run.code, 3);
    EXPECT_SAYS(run, "[1/3] first.png -> ");
    EXPECT_SAYS(run, "[2/3] second.png: failed");
    EXPECT_SAYS(run, "2 of 3 files written, 1 failed:\n  " + folder + "second.png: not a PNG");
    EXPECT_TRUE(readOrFail(outputs + "/first.png").pixels == first.pixels);
    EXPECT_TRUE(readOrFail(outputs + "/third.tif").pixels == third.pixels);
    EXPECT_FALSE(exists(outputs + "/second.png"));

    // Another format and a suffix; quiet, but the failure is still reported.
    run = runHost("-q --suffix=-lifted --format png --set ShadowAmount=30 " + inputs + " -o " + q(outputs));
    EXPECT_EQ(run.code, 3);
    EXPECT_EQ(run.errors.find("[1/3]"), std::string::npos) << run.errors;
    EXPECT_SAYS(run, "second.png: not a PNG");
    EXPECT_EQ(readOrFail(outputs + "/third-lifted.png").bitsPerSample, 16);
    EXPECT_TRUE(exists(outputs + "/first-lifted.png"));
    EXPECT_TRUE(leftovers(outputs).empty());
}

TEST(HostCliBatch, OutputsThatWouldCollideOrReplaceAnInputAreRefused)
{
    const std::string folder = testFolder();
    std::filesystem::create_directory(folder + "sub");
    for (const char* name : { "a.png", "sub/a.png", "b.jpg" })
        writeOrFail(folder + name, makeImage(12, 12, 3, 8));
    const std::string a = q(folder + "a.png"), b = q(folder + "b.jpg"), out = " -o " + q(folder + "out");
    Outcome run = runHost(a + " " + q(folder + "sub/a.png") + out);
    EXPECT_EQ(run.code, 2);
    EXPECT_SAYS(run, "would both be written to");
    // The first output would replace the second input before it is read.
    std::filesystem::create_directory(folder + "out");
    writeOrFail(folder + "out/b-s.png", makeImage(12, 12, 3, 8));
    run = runHost("--format png --suffix=-s " + b + " " + q(folder + "out/b-s.png") + out);
    EXPECT_EQ(run.code, 2);
    EXPECT_SAYS(run, "would replace the input");
    EXPECT_EQ(runHost("--record x.json " + a + out).code, 2);
    EXPECT_EQ(runHost("--dialog " + a + out).code, 2);
    EXPECT_FALSE(exists(folder + "out/a.png"));
    // In place, each output replacing its own input, is fine.
    run = runHost("-q " + a + " " + b + " -o " + q(folder));
    EXPECT_EQ(run.code, 0) << run.errors;
}

TEST(HostCliBatch, WhatTheOutputCannotCarryIsSaidOnce)
{
    const std::string folder = testFolder();
    ImageFile titled = makeImage(16, 16, 3, 8);
    titled.texts.push_back({ "Title", "Harbour at dawn", false, "", "" });
    writeOrFail(folder + "a.png", titled);
    writeOrFail(folder + "b.png", titled);
    const Outcome run = runHost(
        "-q --format jpg " + q(folder + "a.png") + " " + q(folder + "b.png") + " -o " + q(folder + "out"));
    ASSERT_EQ(run.code, 0) << run.errors;
#if defined(_WIN32)
    // What the imaging component carries into a JPEG differs from one version to the next.
    EXPECT_LE(occurrences(run.errors, "cannot hold the input's"), 1u) << run.errors;
#else
    EXPECT_EQ(occurrences(run.errors, "cannot hold the input's PNG text"), 1u) << run.errors;
#endif
}

// The write options reach the encoders; the pixels of a PNG do not depend on them.
TEST(HostCliBatch, QualityAndCompressionReachTheFiles)
{
    const std::string folder = testFolder();
    ImageFile gradient = makeImage(64, 64, 3, 8); // smooth, so that there is something to compress
    for (size_t n = 0; n < gradient.pixels.size(); ++n)
        gradient.pixels[n] = uint8_t(n / 3 % 64 + n / 3 / 64);
    writeOrFail(folder + "in.png", gradient);
    for (const char* run : {
             "--format jpg --quality 20 --suffix=-20", "--format jpg --quality 100 --suffix=-100",
#if !defined(_WIN32)
                 "--compression 0 --suffix=-0", "--compression 9 --suffix=-9"
#endif
         }) {
        const Outcome outcome
            = runHost(std::string("-q ") + run + " " + q(folder + "in.png") + " -o " + q(folder));
        ASSERT_EQ(outcome.code, 0) << outcome.errors;
    }
#if !defined(_WIN32)
    // The imaging component's PNG encoder has no compression level, and Wine's JPEG encoder
    // takes no quality.
    EXPECT_LT(contents(folder + "in-20.jpg").size(), contents(folder + "in-100.jpg").size());
    EXPECT_GT(contents(folder + "in-0.png").size(), contents(folder + "in-9.png").size());
    EXPECT_TRUE(readOrFail(folder + "in-0.png").pixels == readOrFail(folder + "in-9.png").pixels);
#endif
}

#if !defined(_WIN32)

// The dialog lives in the Windows module: the native host names the command that shows it, and
// says so before it reads anything.
TEST(HostCli, TheDialogIsRefusedWithTheCommandForWine)
{
    const std::string folder = testFolder();
    const Outcome run = runHost(
        "--set ShadowAmount=30 --dialog " + q(folder + "missing.png") + " " + q(folder + "out.png"));
    EXPECT_EQ(run.code, 2);
    EXPECT_SAYS(run, "wine ");
    EXPECT_SAYS(run, "win64/bin/quarvel-host.exe --set ShadowAmount=30 --dialog ");
    EXPECT_FALSE(exists(folder + "out.png"));
}

// Real photos carry what synthetic images do not: old sRGB profiles, EXIF, JPEG data.
TEST(HostCli, SamplePhotosComeBackWithTheirPixels)
{
    const std::string folder = testFolder();
    for (const char* name : { "coffee.png", "chelsea.png", "rocket.jpg" }) {
        SCOPED_TRACE(name);
        const std::string in = std::string(QUARVEL_SAMPLES_DIR) + "/" + name, out = folder + name + ".png";
        const Outcome run = runHost("-q " + q(in) + " " + q(out));
        ASSERT_EQ(run.code, 0) << run.errors;
        const ImageFile original = readOrFail(in), result = readOrFail(out);
        EXPECT_TRUE(result.pixels == original.pixels);
        EXPECT_EQ(result.iccProfile, original.iccProfile);
    }
}

// Grey levels whose shadow-only mapping is worked out by hand: with Shadow Amount 50 the levels
// 0, 16, 32, 64, 128, 192, 255 become 0, 30, 57, 100, 160, 204, 255, in either colour mode.
TEST(HostCli, ShadowAmountMapsGreyLevelsAsWorkedOut)
{
    const int levels[] = { 0, 16, 32, 64, 128, 192, 255 };
    const int mapped[] = { 0, 30, 57, 100, 160, 204, 255 };
    ImageFile image = makeImage(7, 6, 3, 8);
    for (size_t n = 0; n < image.pixels.size(); ++n)
        image.pixels[n] = uint8_t(levels[(n / 3) % 7]);
    const std::string folder = testFolder();
    writeOrFail(folder + "grey.png", image);
    for (const char* mono : { "0", "1" }) {
        const Outcome run = runHost(std::string("-q --set ShadowAmount=50 --set Monochromatic=") + mono + " "
            + q(folder + "grey.png") + " " + q(folder + "out.png"));
        ASSERT_EQ(run.code, 0) << run.errors;
        const ImageFile result = readOrFail(folder + "out.png");
        for (size_t n = 0; n < result.pixels.size(); ++n)
            ASSERT_EQ(result.pixels[n], mapped[(n / 3) % 7]) << "sample " << n << ", Monochromatic " << mono;
    }
}

struct PhotoStats {
    double darkMean = 0; // mean luminance of the pixels that were dark in the original
    double brightMean = 0; // ... and of those that were bright
    double chroma = 0; // mean distance of the channels from their mean
    double edges = 0; // mean luminance step between horizontal neighbours: fine detail
    double mean = 0; // mean luminance
};

// Statistics of `image` over the pixels that `original` has dark (luminance < 60) or bright (> 190).
PhotoStats statsOf(const ImageFile& image, const ImageFile& original)
{
    PhotoStats stats;
    size_t dark = 0, bright = 0, all = 0;
    const size_t step = size_t(original.channels);
    const auto luma = [](const uint8_t* p) { return 0.299 * p[0] + 0.587 * p[1] + 0.114 * p[2]; };
    for (size_t n = 0; n + 2 < original.pixels.size(); n += step, ++all) {
        const uint8_t* p = &image.pixels[n];
        const double before = luma(&original.pixels[n]), after = luma(p);
        stats.darkMean += before < 60 ? after : 0;
        stats.brightMean += before > 190 ? after : 0;
        dark += before < 60;
        bright += before > 190;
        const double mean = (p[0] + p[1] + p[2]) / 3.0;
        stats.chroma += std::abs(p[0] - mean) + std::abs(p[1] - mean) + std::abs(p[2] - mean);
        stats.mean += after;
        if ((n / step + 1) % size_t(original.width) != 0)
            stats.edges += std::abs(after - luma(p + step));
    }
    stats.edges /= double(all ? all : 1);
    stats.mean /= double(all ? all : 1);
    stats.darkMean /= double(dark ? dark : 1);
    stats.brightMean /= double(bright ? bright : 1);
    stats.chroma /= double(all ? all : 1);
    return stats;
}

TEST(HostCli, BundledPresetsDoWhatTheirNamesSay)
{
    const std::string folder = testFolder();
    const std::string in = std::string(QUARVEL_SAMPLES_DIR) + "/coffee.png";
    const ImageFile original = readOrFail(in);
    const PhotoStats base = statsOf(original, original);
    auto run = [&](const char* preset) {
        const std::string file = std::string(QUARVEL_PRESETS_DIR) + "/" + preset + ".qvp";
        const Outcome outcome = runHost("-q --preset " + q(file) + " " + q(in) + " " + q(folder + "out.png"));
        EXPECT_EQ(outcome.code, 0) << outcome.errors;
        return statsOf(readOrFail(folder + "out.png"), original);
    };
    const PhotoStats lift = run("Lift Shadows");
    EXPECT_GT(lift.darkMean, base.darkMean + 8);
    EXPECT_NEAR(lift.brightMean, base.brightMean, 6);
    const PhotoStats backlit = run("Backlit Subject");
    EXPECT_GT(backlit.darkMean, lift.darkMean);
    EXPECT_LT(backlit.brightMean, base.brightMean + 6);
    const PhotoStats tame = run("Tame Highlights");
    EXPECT_LT(tame.brightMean, base.brightMean - 8);
    EXPECT_NEAR(tame.darkMean, base.darkMean, 3);
    EXPECT_GT(run("Punchy Color").chroma, base.chroma * 1.2);
    const PhotoStats crisp = run("Crisp Detail");
    EXPECT_GT(crisp.edges, base.edges * 1.3);
    EXPECT_NEAR(crisp.mean, base.mean, 3);
    const PhotoStats glow = run("Soft Glow");
    EXPECT_LT(glow.edges, base.edges * 0.8);
    EXPECT_GT(glow.mean, base.mean + 3);
    const PhotoStats portrait = run("Portrait Smooth");
    EXPECT_LT(portrait.edges, base.edges * 0.9);
    EXPECT_NEAR(portrait.chroma, base.chroma, base.chroma * 0.1) << "smoothing keeps the colours";
}

TEST(HostCli, FilmGrainDarkensAboutAThirdOfThePixels)
{
    const std::string folder = testFolder();
    const std::string in = q(std::string(QUARVEL_SAMPLES_DIR) + "/chelsea.png");
    const std::string preset = q(std::string(QUARVEL_PRESETS_DIR) + "/Film Grain.qvp");
    ASSERT_EQ(runHost("-q --preset " + preset + " " + in + " " + q(folder + "grain.png")).code, 0);
    ASSERT_EQ(
        runHost("-q --preset " + preset + " --set GrainAmount=0 " + in + " " + q(folder + "clean.png")).code,
        0);
    const ImageFile a = readOrFail(folder + "grain.png"), b = readOrFail(folder + "clean.png");
    size_t darker = 0, other = 0;
    for (size_t n = 0; n + 2 < a.pixels.size(); n += size_t(a.channels)) {
        bool grain = true, same = true;
        for (size_t c = 0; c < 3; ++c) {
            grain = grain && a.pixels[n + c] == std::max(0, b.pixels[n + c] - 6);
            same = same && a.pixels[n + c] == b.pixels[n + c];
        }
        darker += grain && !same ? 1 : 0;
        other += grain || same ? 0 : 1;
    }
    EXPECT_NEAR(double(darker) / double(a.pixels.size() / size_t(a.channels)), 1.0 / 3.0, 0.02);
    EXPECT_EQ(other, 0u) << "every pixel is either untouched or 6 levels darker in every channel";
}

extern "C" char** environ;

// The host as a process of its own, for what only a real process shows: signals and broken
// pipes. With QUARVEL_HOST_PAUSE_AT it stops at a named moment and says so on stdout, which
// comes back here through a pipe, so a signal is sent at a known moment, not after a guess.
struct HostProcess {
    pid_t pid = -1;
    int output = -1;

    std::string readLine() const
    {
        std::string line;
        char c = 0;
        while (read(output, &c, 1) == 1 && c != '\n')
            line += c;
        return line;
    }

    int wait()
    {
        close(output);
        int status = 0;
        waitpid(pid, &status, 0);
        return status;
    }
};

HostProcess startHost(std::vector<std::string> arguments, const std::string& pauseAt, int errorOutput = -1)
{
    std::vector<std::string> environment;
    for (char** e = environ; *e; ++e)
        environment.push_back(*e);
    if (!pauseAt.empty())
        environment.push_back("QUARVEL_HOST_PAUSE_AT=" + pauseAt);
    arguments.insert(arguments.begin(), hostBinary());
    std::vector<char*> argv, envp;
    for (std::string& a : arguments)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    for (std::string& e : environment)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    int out[2] = { -1, -1 };
    EXPECT_EQ(pipe(out), 0);
    const int nowhere = open("/dev/null", O_WRONLY);
    HostProcess child;
    child.pid = fork();
    if (child.pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        dup2(errorOutput >= 0 ? errorOutput : nowhere, STDERR_FILENO);
        // As a shell starts it, whatever this test runner ignores.
        signal(SIGINT, SIG_DFL);
        signal(SIGPIPE, SIG_DFL);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(out[1]);
    close(nowhere);
    child.output = out[0];
    return child;
}

// Ctrl-C was ignored while the output was encoded, and ended the host with 130 while the input
// was decoded. Up to the rename, it is a cancel: exit 4, the output as it was, no temporary.
TEST(HostCliProcess, CtrlCAtAnyMomentBeforeTheRenameCancels)
{
    const std::string folder = testFolder();
    const std::string in = folder + "in.png", out = folder + "out.png";
    writeOrFail(in, makeImage(40, 30, 3, 8));
    for (const char* moment : { "read", "commit" }) {
        SCOPED_TRACE(moment);
        writeText(out, "before");
        HostProcess host = startHost({ "-q", "--set", "ShadowAmount=30", in, out }, moment);
        ASSERT_EQ(host.readLine(), std::string("paused at ") + moment);
        EXPECT_FALSE(leftovers(folder).empty()) << "the temporary exists while the host works";
        kill(host.pid, SIGINT);
        const int status = host.wait();
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 4);
        EXPECT_EQ(contents(out), "before");
        EXPECT_TRUE(leftovers(folder).empty());
    }
}

TEST(HostCliProcess, TerminationSignalsTakeTheTemporariesWithThem)
{
    const std::string folder = testFolder();
    const std::string in = folder + "in.png", out = folder + "out.png";
    writeOrFail(in, makeImage(40, 30, 3, 8));
    writeText(out, "before");
    for (const int signal : { SIGTERM, SIGHUP, SIGXFSZ }) {
        SCOPED_TRACE(signal);
        HostProcess host = startHost({ "-q", "--record", folder + "a.json", in, out }, "commit");
        ASSERT_EQ(host.readLine(), "paused at commit");
        EXPECT_EQ(leftovers(folder).size(), 2u) << "the image and the action file";
        kill(host.pid, signal);
        const int status = host.wait();
        ASSERT_TRUE(WIFSIGNALED(status)) << "ended by the signal, as the parent expects";
        EXPECT_EQ(WTERMSIG(status), signal);
        EXPECT_TRUE(leftovers(folder).empty());
        EXPECT_EQ(contents(out), "before");
        EXPECT_FALSE(exists(folder + "a.json"));
    }
}

// A closed stderr once turned every failure into death by SIGPIPE (141). A pipe, on the other
// hand, is a legitimate input: the decoder reads it as it comes.
TEST(HostCliProcess, ABrokenErrorPipeLeavesTheExitCodeAndAPipeIsAnInput)
{
    const std::string folder = testFolder();
    int broken[2] = { -1, -1 };
    ASSERT_EQ(pipe(broken), 0);
    close(broken[0]);
    HostProcess host = startHost({ folder + "missing.png", folder + "out.png" }, "", broken[1]);
    close(broken[1]);
    int status = host.wait();
    ASSERT_TRUE(WIFEXITED(status)) << "signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 3);

    writeOrFail(folder + "in.png", makeImage(20, 20, 3, 8));
    status = std::system(
        ("cat " + q(folder + "in.png") + " | '" + hostBinary() + "' -q /dev/stdin " + q(folder + "out.png"))
            .c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(contents(folder + "out.png"), contents(folder + "in.png"));
}

// An existing output keeps its permissions; a link keeps pointing at the file that changed; the
// longest names a file system takes (255 bytes) leave room for the temporary beside them.
TEST(HostCli, TheOutputKeepsItsModeItsLinkAndItsLongName)
{
    const std::string folder = testFolder();
    const std::string in = folder + "in.png", out = folder + "out.png";
    writeOrFail(in, makeImage(20, 20, 3, 8));
    writeText(out, "private");
    chmod(out.c_str(), 0600);
    Outcome run = runHost("-q " + q(in) + " " + q(out));
    ASSERT_EQ(run.code, 0) << run.errors;
    struct stat status { };
    ASSERT_EQ(stat(out.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);

    std::filesystem::create_directory(folder + "real");
    writeText(folder + "real/target.png", "before");
    ASSERT_EQ(symlink("real/target.png", (folder + "link.png").c_str()), 0);
    run = runHost("-q " + q(in) + " " + q(folder + "link.png"));
    ASSERT_EQ(run.code, 0) << run.errors;
    EXPECT_TRUE(std::filesystem::is_symlink(folder + "link.png"));
    EXPECT_EQ(contents(folder + "real/target.png"), contents(in));
    EXPECT_TRUE(leftovers(folder).empty());
    EXPECT_TRUE(leftovers(folder + "real").empty());

    const std::string longOut = folder + std::string(251, 'o') + ".png";
    const std::string record = folder + std::string(250, 'r') + ".json";
    run = runHost("-q --record " + q(record) + " " + q(in) + " " + q(longOut));
    ASSERT_EQ(run.code, 0) << run.errors;
    EXPECT_EQ(contents(longOut), contents(in));
    EXPECT_TRUE(exists(record));
}

#endif

} // namespace
} // namespace quarvel::host
