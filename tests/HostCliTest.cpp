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
    return std::string(std::istreambuf_iterator<char>(in), {});
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
    STARTUPINFOA startup { sizeof startup };
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = create("NUL");
    startup.hStdError = create(errFile);
    std::string command = "\"" + hostBinary() + "\" " + arguments;
    PROCESS_INFORMATION process {};
    DWORD code = DWORD(-1);
    if (CreateProcessA(
            nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
        WaitForSingleObject(process.hProcess, INFINITE);
        GetExitCodeProcess(process.hProcess, &code);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    CloseHandle(startup.hStdOutput);
    CloseHandle(startup.hStdError);
    SetEnvironmentVariableA("QUARVEL_HOST_ABORT_AFTER", nullptr);
#else
    const std::string command
        = (abortAfter ? std::string("QUARVEL_HOST_ABORT_AFTER=") + abortAfter + " " : "") + "'" + hostBinary()
        + "' " + arguments + " >/dev/null 2>'" + errFile + "'";
    const int status = std::system(command.c_str());
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
    std::ifstream text(errFile); // text mode: the Windows host's line ends read as "\n"
    Outcome outcome { int(code), std::string(std::istreambuf_iterator<char>(text), {}) };
    text.close();
    std::remove(errFile.c_str());
    return outcome;
}

ImageFile makeImage(int width, int height, int channels, int bits)
{
    ImageFile image;
    std::tie(image.width, image.height, image.channels, image.bitsPerSample)
        = std::tie(width, height, channels, bits);
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

// Each test's own folder, with an input image in it.
class HostCli : public ::testing::Test {
protected:
    HostCli() { writeOrFail(in, makeImage(40, 30, 3, 8)); }
    const std::string folder = testFolder(), in = folder + "in.png", out = folder + "out.png",
                      files = q(in) + " " + q(out);
};
using HostCliBatch = HostCli;
using HostCliProcess = HostCli;

// A run that must succeed.
Outcome runOk(const std::string& arguments)
{
    const Outcome run = runHost(arguments);
    EXPECT_EQ(run.code, 0) << arguments << ": " << run.errors;
    return run;
}

TEST_F(HostCli, LosslessFormatsComeBackIdentical)
{
    // Each depth and channel count once: the codecs' own tests take every layout.
    for (const auto& [extension, channels, bits] : { std::tuple { ".png", 3, 8 },
             std::tuple { ".png", 4, 16 }, std::tuple { ".tif", 3, 16 }, std::tuple { ".tif", 4, 8 } }) {
        SCOPED_TRACE(testing::Message() << extension << " " << channels << "x" << bits);
        const ImageFile original = makeImage(41, 27, channels, bits);
        const std::string from = folder + "in" + extension, to = folder + "out" + extension;
        writeOrFail(from, original);
        runOk("-q " + q(from) + " " + q(to));
        const ImageFile result = readOrFail(to);
        EXPECT_EQ(std::tie(result.width, result.channels, result.bitsPerSample),
            std::tie(original.width, original.channels, original.bitsPerSample));
        EXPECT_TRUE(result.pixels == original.pixels);
    }
}

TEST_F(HostCli, RefusalsAndCancelsLeaveTheOutputAlone)
{
    const std::string tiny = folder + "tiny.png", rgba = folder + "rgba.png";
    writeText(out, "what was there before");
    test::startMessageWatch();
    writeOrFail(tiny, makeImage(5, 40, 3, 8));
    writeOrFail(rgba, makeImage(8, 8, 4, 8));
    // Too small for the plug-in; stopped after the first abort poll; JPEG cannot take transparency.
    const std::tuple<std::string, const char*, int, const char*> cases[]
        = { { q(tiny) + " " + q(out), nullptr, 4, "refused" }, { q(in) + " " + q(out), "1", 4, "cancelled" },
              { q(rgba) + " " + q(folder + "out.jpg"), nullptr, 3, "transparency" } };
    for (const auto& [arguments, abortAfter, code, said] : cases) {
        const Outcome run = runHost("-q " + arguments, abortAfter);
        EXPECT_EQ(run.code, code);
        EXPECT_SAYS(run, said);
    }
    EXPECT_FALSE(exists(folder + "out.jpg"));
    EXPECT_EQ(contents(out), "what was there before");
}

// Mistakes in the command line (exit 2) and in the files it names (exit 3) are found before the
// plug-in runs, and each message names what is wrong.
TEST_F(HostCli, MistakesAreRefusedBeforeThePluginRuns)
{
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
              { q(in) + " " + q(folder + "out.bmp"), 2, ".png" }, // names what would work
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
              { q(folder + "missing.png") + " " + q(out), 3, "" },
              { q(folder + "not-an-image.png") + " " + q(out), 3, "" },
              { "--play " + q(folder + "bad.json") + " " + files, 3, "not text" },
              { "--preset " + q(folder + "missing.qvp") + " " + files, 3, "" },
              // A folder where a file belongs once ended the host with an uncaught exception (exit 134).
              { "--play " + q(folder) + " " + files, 3, "it is a folder" },
              { "--preset " + q(folder) + " " + files, 3, "it is a folder" },
              { q(folder) + " " + q(out), 3, "it is a folder" },
              // An image or an empty file holds no setting: no preset at all, not one of defaults.
              { "--preset " + q(in) + " " + files, 3, "holds no Quarvel setting" },
              { "--preset " + q(folder + "empty.qvp") + " " + files, 3, "holds no Quarvel setting" } };
    for (const auto& c : cases) {
        const Outcome run = runHost("-q " + c.arguments);
        EXPECT_EQ(run.code, c.code) << c.arguments;
        EXPECT_SAYS(run, c.said);
    }
    EXPECT_FALSE(exists(out));
    EXPECT_TRUE(leftovers(folder).empty());
    EXPECT_EQ(runHost("--help").code, 0);
    EXPECT_EQ(runHost("--list").code, 0);
}

TEST_F(HostCli, ARecordedActionReplaysToTheSameImageAndRecordsTheSameKeys)
{
    const std::string first = folder + "a.json", second = folder + "b.json";
    runOk("-q --set ShadowClip=1.5 --record " + q(first) + " " + q(in) + " " + q(folder + "1.png"));
    runOk("-q --play " + q(first) + " --record " + q(second) + " " + q(in) + " " + q(folder + "2.png"));
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
    runOk("-q --set SharpMethod=1 --record " + q(first) + " " + q(in) + " " + q(folder + "1.png"));
    EXPECT_NE(contents(first).find("\"SMth\": \"1\""), std::string::npos);
}

// The image and the action file are written together or not at all, and the record never
// replaces an image, however it is spelled or linked to; running in place works.
TEST_F(HostCli, ARecordThatCannotBeWrittenOrNamesAnImageLeavesTheImagesAlone)
{
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
        const Outcome run = runHost("-q --record " + q(record) + " " + files);
        EXPECT_EQ(run.code, code) << record;
        EXPECT_SAYS(run, code == 3 ? "cannot write " + record + ": " : "--record");
    }
    EXPECT_EQ(contents(out), "what was there before");
    EXPECT_EQ(contents(in), image);
    EXPECT_TRUE(leftovers(folder).empty());

    runOk("-q --set ShadowAmount=40 --record " + q(folder + "b.json") + " " + q(in) + " " + q(in));
    readOrFail(in);
    EXPECT_NE(contents(in), image);
    EXPECT_NE(contents(folder + "b.json").find("\"ShDt\": \"40\""), std::string::npos);
    EXPECT_TRUE(leftovers(folder).empty());
}

TEST_F(HostCli, AReadOnlyOutputIsRefusedUnlessForcedAndStaysReadOnly)
{
    writeText(out, "kept");
#if defined(_WIN32)
    SetFileAttributesA(out.c_str(), FILE_ATTRIBUTE_READONLY);
#else
    chmod(out.c_str(), 0444);
#endif
    const Outcome run = runHost("-q " + files);
    EXPECT_EQ(run.code, 3);
    EXPECT_SAYS(run, "cannot write " + out + ": the file is read-only");
    EXPECT_EQ(contents(out), "kept");

    runOk("-q --force " + files);
    readOrFail(out);
#if defined(_WIN32)
    EXPECT_TRUE(GetFileAttributesA(out.c_str()) & FILE_ATTRIBUTE_READONLY);
#else
    struct stat status { };
    EXPECT_TRUE(stat(out.c_str(), &status) == 0 && (status.st_mode & 0222) == 0);
#endif
    EXPECT_TRUE(leftovers(folder).empty());
}

TEST_F(HostCli, SettingsOutsideTheDialogsRangeAreNamedOnceAndUsed)
{
    const Outcome run = runOk("-q --set ShadowAmount=60 --set ShadowAmount=70 --set Gamma=3 " + files);
    EXPECT_EQ(occurrences(run.errors, "outside what the dialog offers"), 1u) << run.errors;
    EXPECT_SAYS(run, "ShadowAmount=70 is outside what the dialog offers (0..50)");
    EXPECT_EQ(runOk("-q --set ShadowAmount=50 " + q(in) + " " + q(folder + "plain.png")).errors, "");
    EXPECT_NE(contents(out), contents(folder + "plain.png")) << "used as given, not clamped";
}

// Three files, one of them no image: the other two are written, the bad one is named at the end.
TEST_F(HostCliBatch, EveryGoodFileIsWrittenAndTheBadOneReported)
{
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

TEST_F(HostCliBatch, OutputsThatWouldCollideOrReplaceAnInputAreRefused)
{
    std::filesystem::create_directories(folder + "sub");
    std::filesystem::create_directories(folder + "out");
    for (const char* name : { "sub/in.png", "b.jpg", "out/b-s.png" })
        writeOrFail(folder + name, makeImage(12, 12, 3, 8));
    const std::string a = q(in), b = q(folder + "b.jpg"), to = " -o " + q(folder + "out");
    // The second: the first output would replace the second input before it is read.
    for (const auto& [arguments, said] :
        { std::pair { a + " " + q(folder + "sub/in.png") + to, "would both be written to" },
            std::pair { "--format png --suffix=-s " + b + " " + q(folder + "out/b-s.png") + to,
                "would replace the input" },
            std::pair { "--record x.json " + a + to, "" }, std::pair { "--dialog " + a + to, "" } }) {
        const Outcome run = runHost(arguments);
        EXPECT_EQ(run.code, 2) << arguments;
        EXPECT_SAYS(run, said);
    }
    EXPECT_FALSE(exists(folder + "out/in.png"));
    runOk("-q " + a + " " + b + " -o " + q(folder)); // in place, each output replacing its own input
}

TEST_F(HostCliBatch, WhatTheOutputCannotCarryIsSaidOnce)
{
    ImageFile titled = makeImage(16, 16, 3, 8);
    titled.texts.push_back({ "Title", "Harbour at dawn", false, "", "" });
    writeOrFail(folder + "a.png", titled);
    writeOrFail(folder + "b.png", titled);
    const Outcome run = runOk(
        "-q --format jpg " + q(folder + "a.png") + " " + q(folder + "b.png") + " -o " + q(folder + "out"));
#if defined(_WIN32)
    // What the imaging component carries into a JPEG differs from one version to the next.
    EXPECT_LE(occurrences(run.errors, "cannot hold the input's"), 1u) << run.errors;
#else
    EXPECT_EQ(occurrences(run.errors, "cannot hold the input's PNG text"), 1u) << run.errors;
#endif
}

// The write options reach the encoders; the pixels of a PNG do not depend on them.
TEST_F(HostCliBatch, QualityAndCompressionReachTheFiles)
{
    ImageFile gradient = makeImage(64, 64, 3, 8); // smooth, so that there is something to compress
    for (size_t n = 0; n < gradient.pixels.size(); ++n)
        gradient.pixels[n] = uint8_t(n / 3 % 64 + n / 3 / 64);
    writeOrFail(in, gradient);
    for (const char* run : {
             "--format jpg --quality 20 --suffix=-20", "--format jpg --quality 100 --suffix=-100",
#if !defined(_WIN32)
                 "--compression 0 --suffix=-0", "--compression 9 --suffix=-9"
#endif
         })
        runOk(std::string("-q ") + run + " " + q(in) + " -o " + q(folder));
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
TEST_F(HostCli, TheDialogIsRefusedWithTheCommandForWine)
{
    const Outcome run = runHost("--set ShadowAmount=30 --dialog " + q(folder + "missing.png") + " " + q(out));
    EXPECT_EQ(run.code, 2);
    EXPECT_SAYS(run, "wine ");
    EXPECT_SAYS(run, "win64/bin/quarvel-host.exe --set ShadowAmount=30 --dialog ");
    EXPECT_FALSE(exists(out));
}

// Real photos carry what synthetic images do not: old sRGB profiles, EXIF, JPEG data.
TEST_F(HostCli, SamplePhotosComeBackWithTheirPixels)
{
    for (const char* name : { "coffee.png", "chelsea.png", "rocket.jpg" }) {
        SCOPED_TRACE(name);
        const std::string photo = std::string(QUARVEL_SAMPLES_DIR) + "/" + name;
        runOk("-q " + q(photo) + " " + q(out));
        const ImageFile original = readOrFail(photo), result = readOrFail(out);
        EXPECT_TRUE(result.pixels == original.pixels);
        EXPECT_EQ(result.iccProfile, original.iccProfile);
    }
}

// Grey levels whose shadow-only mapping is worked out by hand: with Shadow Amount 50 the levels
// 0, 16, 32, 64, 128, 192, 255 become 0, 30, 57, 100, 160, 204, 255, in either colour mode.
TEST_F(HostCli, ShadowAmountMapsGreyLevelsAsWorkedOut)
{
    const int levels[] = { 0, 16, 32, 64, 128, 192, 255 };
    const int mapped[] = { 0, 30, 57, 100, 160, 204, 255 };
    ImageFile image = makeImage(7, 6, 3, 8);
    for (size_t n = 0; n < image.pixels.size(); ++n)
        image.pixels[n] = uint8_t(levels[(n / 3) % 7]);
    writeOrFail(in, image);
    for (const char* mono : { "0", "1" }) {
        runOk(std::string("-q --set ShadowAmount=50 --set Monochromatic=") + mono + " " + files);
        const ImageFile result = readOrFail(out);
        for (size_t n = 0; n < result.pixels.size(); ++n)
            ASSERT_EQ(result.pixels[n], mapped[(n / 3) % 7]) << "sample " << n << ", Monochromatic " << mono;
    }
}

// Means: of luminance where the original is dark (< 60) and where it is bright (> 190), of the
// channels' distance from their mean, of the luminance step to the right (fine detail), of luminance.
struct PhotoStats {
    double darkMean = 0, brightMean = 0, chroma = 0, edges = 0, mean = 0;
};

PhotoStats statsOf(const ImageFile& image, const ImageFile& original)
{
    PhotoStats s;
    double dark = 0, bright = 0, all = 0;
    const size_t step = size_t(original.channels);
    const auto luma = [](const uint8_t* p) { return 0.299 * p[0] + 0.587 * p[1] + 0.114 * p[2]; };
    for (size_t n = 0; n + 2 < original.pixels.size(); n += step, ++all) {
        const uint8_t* p = &image.pixels[n];
        const double before = luma(&original.pixels[n]), after = luma(p), mean = (p[0] + p[1] + p[2]) / 3.0;
        s.darkMean += before < 60 ? after : 0;
        s.brightMean += before > 190 ? after : 0;
        dark += before < 60;
        bright += before > 190;
        s.chroma += std::abs(p[0] - mean) + std::abs(p[1] - mean) + std::abs(p[2] - mean);
        s.mean += after;
        s.edges += (n / step + 1) % size_t(original.width) ? std::abs(after - luma(p + step)) : 0;
    }
    return { s.darkMean / std::max(dark, 1.0), s.brightMean / std::max(bright, 1.0), s.chroma / all,
        s.edges / all, s.mean / all };
}

TEST_F(HostCli, BundledPresetsDoWhatTheirNamesSay)
{
    const std::string photo = std::string(QUARVEL_SAMPLES_DIR) + "/coffee.png";
    const ImageFile original = readOrFail(photo);
    const PhotoStats base = statsOf(original, original);
    auto run = [&](const char* preset) {
        const std::string file = std::string(QUARVEL_PRESETS_DIR) + "/" + preset + ".qvp";
        runOk("-q --preset " + q(file) + " " + q(photo) + " " + q(out));
        return statsOf(readOrFail(out), original);
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

TEST_F(HostCli, FilmGrainDarkensAboutAThirdOfThePixels)
{
    const std::string run = "-q --preset " + q(std::string(QUARVEL_PRESETS_DIR) + "/Film Grain.qvp") + " "
        + q(std::string(QUARVEL_SAMPLES_DIR) + "/chelsea.png") + " ";
    runOk(run + q(folder + "grain.png"));
    runOk(run + "--set GrainAmount=0 " + q(folder + "clean.png"));
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

HostProcess startHost(std::vector<std::string> arguments, const char* pauseAt, int errorOutput = -1)
{
    arguments.insert(arguments.begin(), hostBinary());
    std::vector<char*> argv;
    for (std::string& a : arguments)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    int out[2] = { -1, -1 };
    EXPECT_EQ(pipe(out), 0);
    const int nowhere = open("/dev/null", O_WRONLY);
    if (pauseAt)
        setenv("QUARVEL_HOST_PAUSE_AT", pauseAt, 1);
    const HostProcess child { fork(), out[0] };
    if (child.pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        dup2(errorOutput >= 0 ? errorOutput : nowhere, STDERR_FILENO);
        // As a shell starts it, whatever this test runner ignores.
        signal(SIGINT, SIG_DFL);
        signal(SIGPIPE, SIG_DFL);
        execv(argv[0], argv.data());
        _exit(127);
    }
    unsetenv("QUARVEL_HOST_PAUSE_AT");
    close(out[1]);
    close(nowhere);
    return child;
}

// Ctrl-C was ignored while the output was encoded, and ended the host with 130 while the input
// was decoded. Up to the rename, it is a cancel: exit 4, the output as it was, no temporary.
TEST_F(HostCliProcess, CtrlCAtAnyMomentBeforeTheRenameCancels)
{
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

TEST_F(HostCliProcess, TerminationSignalsTakeTheTemporariesWithThem)
{
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
TEST_F(HostCliProcess, ABrokenErrorPipeLeavesTheExitCodeAndAPipeIsAnInput)
{
    int broken[2] = { -1, -1 };
    ASSERT_EQ(pipe(broken), 0);
    close(broken[0]);
    HostProcess host = startHost({ folder + "missing.png", out }, nullptr, broken[1]);
    close(broken[1]);
    int status = host.wait();
    ASSERT_TRUE(WIFEXITED(status)) << "signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 3);

    status = std::system(("cat " + q(in) + " | '" + hostBinary() + "' -q /dev/stdin " + q(out)).c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(contents(out), contents(in));
}

// An existing output keeps its permissions; a link keeps pointing at the file that changed; the
// longest names a file system takes (255 bytes) leave room for the temporary beside them.
TEST_F(HostCli, TheOutputKeepsItsModeItsLinkAndItsLongName)
{
    writeText(out, "private");
    chmod(out.c_str(), 0600);
    runOk("-q " + files);
    struct stat status { };
    ASSERT_EQ(stat(out.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);

    std::filesystem::create_directory(folder + "real");
    writeText(folder + "real/target.png", "before");
    ASSERT_EQ(symlink("real/target.png", (folder + "link.png").c_str()), 0);
    runOk("-q " + q(in) + " " + q(folder + "link.png"));
    EXPECT_TRUE(std::filesystem::is_symlink(folder + "link.png"));
    EXPECT_EQ(contents(folder + "real/target.png"), contents(in));
    EXPECT_TRUE(leftovers(folder).empty());
    EXPECT_TRUE(leftovers(folder + "real").empty());

    const std::string longOut = folder + std::string(251, 'o') + ".png";
    const std::string record = folder + std::string(250, 'r') + ".json";
    runOk("-q --record " + q(record) + " " + q(in) + " " + q(longOut));
    EXPECT_EQ(contents(longOut), contents(in));
    EXPECT_TRUE(exists(record));
}

#endif

} // namespace
} // namespace quarvel::host
