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
    dir = dir.substr(0, dir.find_last_of("\\/") + 1);
    return dir + "quarvel-host.exe";
#else
    return QUARVEL_HOST_BINARY;
#endif
}

// Named after the running test: ctest runs the tests of this file in parallel processes.
std::string tempPath(const std::string& name)
{
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    return ::testing::TempDir() + "quarvel-cli-" + test->name() + "-" + name;
}

// Runs the host with `arguments`; returns its exit code, stderr in `errors`.
int runHost(const std::string& arguments, std::string* errors = nullptr, const char* abortAfter = nullptr)
{
    const std::string errFile = tempPath("stderr.txt");
    const std::string outFile = tempPath("stdout.txt");
    std::string command;
#if defined(_WIN32)
    if (abortAfter)
        SetEnvironmentVariableA("QUARVEL_HOST_ABORT_AFTER", abortAfter);
    // Started directly, not through the command interpreter, which under Wine now and then
    // fails to start a program at all (exit 9009) when the machine is busy.
    SECURITY_ATTRIBUTES inherit { sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE };
    HANDLE out = CreateFileA(outFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
        CREATE_ALWAYS, 0, nullptr);
    HANDLE err = CreateFileA(errFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
        CREATE_ALWAYS, 0, nullptr);
    STARTUPINFOA startup {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out;
    startup.hStdError = err;
    command = "\"" + hostBinary() + "\" " + arguments;
    PROCESS_INFORMATION process {};
    int code = -1;
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
    if (abortAfter)
        command = std::string("QUARVEL_HOST_ABORT_AFTER=") + abortAfter + " ";
    command += "'" + hostBinary() + "' " + arguments + " >'" + outFile + "' 2>'" + errFile + "'";
    const int status = std::system(command.c_str());
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
    if (errors) {
        std::ifstream in(errFile);
        std::stringstream text;
        text << in.rdbuf();
        *errors = text.str();
    }
    std::remove(errFile.c_str());
    std::remove(outFile.c_str());
    return code;
}

std::string quoted(const std::string& path) { return "\"" + path + "\""; }

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
        for (auto& s : image.pixels) {
            state = state * 1103515245u + 12345u;
            s = uint8_t(state >> 16);
        }
    } else {
        // Values that a 16-bit host can hold exactly, so the round trip must be exact too.
        uint16_t* samples = image.samples16();
        for (size_t i = 0; i < image.pixels.size() / 2; ++i) {
            state = state * 1103515245u + 12345u;
            samples[i] = hostToFile16(uint16_t((state >> 8) % 32769));
        }
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

bool exists(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return bool(in);
}

std::string contents(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A folder of the running test's own, emptied first: what the host leaves behind in it is all
// there is to see.
std::string testFolder()
{
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::filesystem::path folder = ::testing::TempDir() + "quarvel-cli-" + test->name();
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

void writeText(const std::string& path, const std::string& text)
{
    std::ofstream out(path, std::ios::binary);
    out << text;
}

void makeReadOnly(const std::string& path)
{
#if defined(_WIN32)
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
#else
    chmod(path.c_str(), 0444);
#endif
}

bool isReadOnly(const std::string& path)
{
#if defined(_WIN32)
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
#else
    struct stat status { };
    return stat(path.c_str(), &status) == 0 && (status.st_mode & 0222) == 0;
#endif
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
    struct Case {
        const char* extension;
        int channels, bits;
    };
    for (const Case c : { Case { ".png", 3, 8 }, Case { ".png", 4, 8 }, Case { ".png", 3, 16 },
             Case { ".png", 4, 16 }, Case { ".tif", 3, 8 }, Case { ".tif", 4, 16 } }) {
        SCOPED_TRACE(testing::Message() << c.extension << " " << c.channels << "x" << c.bits);
        const ImageFile original = makeImage(41, 27, c.channels, c.bits);
        const std::string in = tempPath(std::string("in") + c.extension);
        const std::string out = tempPath(std::string("out") + c.extension);
        writeOrFail(in, original);
        std::string errors;
        ASSERT_EQ(runHost("-q " + quoted(in) + " " + quoted(out), &errors), 0) << errors;
        ImageFile result;
        std::string error;
        ASSERT_TRUE(readImageFile(out, result, error)) << error;
        EXPECT_EQ(result.width, original.width);
        EXPECT_EQ(result.channels, original.channels);
        EXPECT_EQ(result.bitsPerSample, original.bitsPerSample);
        EXPECT_TRUE(result.pixels == original.pixels);
        std::remove(in.c_str());
        std::remove(out.c_str());
    }
}

TEST(HostCli, RefusalsAndCancelsLeaveTheOutputAlone)
{
    const std::string out = tempPath("kept.png");
    {
        std::ofstream keep(out, std::ios::binary);
        keep << "what was there before";
    }

    // Too small for the plug-in: it says so, and the host exits 4.
    test::startMessageWatch();
    const std::string tiny = tempPath("tiny.png");
    writeOrFail(tiny, makeImage(5, 40, 3, 8));
    std::string errors;
    EXPECT_EQ(runHost("-q " + quoted(tiny) + " " + quoted(out), &errors), 4);
    EXPECT_NE(errors.find("refused"), std::string::npos) << errors;

    // Stopped after the first abort poll: cancelled, exit 4.
    const std::string photo = tempPath("photo.png");
    writeOrFail(photo, makeImage(30, 50, 3, 8));
    EXPECT_EQ(runHost("-q " + quoted(photo) + " " + quoted(out), &errors, "1"), 4);
    EXPECT_NE(errors.find("cancelled"), std::string::npos) << errors;

    // JPEG cannot take transparency: refused before the run.
    const std::string rgba = tempPath("rgba.png");
    writeOrFail(rgba, makeImage(8, 8, 4, 8));
    const std::string jpeg = tempPath("out.jpg");
    EXPECT_EQ(runHost("-q " + quoted(rgba) + " " + quoted(jpeg), &errors), 3);
    EXPECT_NE(errors.find("transparency"), std::string::npos) << errors;
    EXPECT_FALSE(exists(jpeg));

    EXPECT_EQ(contents(out), "what was there before");
    for (const std::string& f : { out, tiny, photo, rgba })
        std::remove(f.c_str());
}

TEST(HostCli, UsageAndInputMistakes)
{
    std::string errors;
    EXPECT_EQ(runHost("--help"), 0);
    EXPECT_EQ(runHost("--frobnicate a.png b.png", &errors), 2);
    EXPECT_NE(errors.find("--frobnicate"), std::string::npos);
    EXPECT_EQ(runHost("only-one.png"), 2);
    const std::string in = tempPath("in8.png");
    writeOrFail(in, makeImage(8, 8, 3, 8));
    EXPECT_EQ(runHost(quoted(in) + " " + quoted(tempPath("out.bmp")), &errors), 2);
    EXPECT_NE(errors.find(".png"), std::string::npos) << "the message names what would work";
    EXPECT_EQ(runHost(quoted(tempPath("missing.png")) + " " + quoted(tempPath("o.png"))), 3);

    const std::string notImage = tempPath("not-an-image.png");
    {
        std::ofstream text(notImage, std::ios::binary);
        text << "plain text";
    }
    EXPECT_EQ(runHost(quoted(notImage) + " " + quoted(tempPath("o.png"))), 3);
    EXPECT_FALSE(exists(tempPath("o.png")));
    std::remove(in.c_str());
    std::remove(notImage.c_str());
}

} // namespace
} // namespace quarvel::host

#if !defined(_WIN32)
namespace quarvel::host {
namespace {

// The dialog lives in the Windows module: the native host names the command that shows it, and
// says so before it reads anything.
TEST(HostCli, TheDialogIsRefusedWithTheCommandForWine)
{
    const std::string out = tempPath("out.png");
    std::string errors;
    EXPECT_EQ(runHost("--set ShadowAmount=30 --dialog " + quoted(tempPath("missing.png")) + " " + quoted(out),
                  &errors),
        2);
    EXPECT_NE(errors.find("wine "), std::string::npos) << errors;
    EXPECT_NE(errors.find("win64/bin/quarvel-host.exe --set ShadowAmount=30 --dialog "), std::string::npos)
        << errors;
    EXPECT_FALSE(exists(out));
}

// Real photos carry what synthetic images do not: old sRGB profiles, EXIF, JPEG data.
TEST(HostCli, SamplePhotosComeBackWithTheirPixels)
{
    for (const char* name : { "coffee.png", "chelsea.png", "rocket.jpg" }) {
        SCOPED_TRACE(name);
        const std::string in = std::string(QUARVEL_SAMPLES_DIR) + "/" + name;
        const std::string out = tempPath(std::string(name) + ".png");
        std::string errors;
        ASSERT_EQ(runHost("-q " + quoted(in) + " " + quoted(out), &errors), 0) << errors;
        ImageFile original, result;
        std::string error;
        ASSERT_TRUE(readImageFile(in, original, error)) << error;
        ASSERT_TRUE(readImageFile(out, result, error)) << error;
        EXPECT_TRUE(result.pixels == original.pixels);
        EXPECT_EQ(result.iccProfile, original.iccProfile);
        std::remove(out.c_str());
    }
}

// Grey levels whose shadow-only mapping is worked out by hand: with Shadow Amount 50 the levels
// 0, 16, 32, 64, 128, 192, 255 become 0, 30, 57, 100, 160, 204, 255, in either colour mode.
TEST(HostCli, ShadowAmountMapsGreyLevelsAsWorkedOut)
{
    const int levels[] = { 0, 16, 32, 64, 128, 192, 255 };
    const int mapped[] = { 0, 30, 57, 100, 160, 204, 255 };
    ImageFile image;
    image.width = 7;
    image.height = 6;
    image.channels = 3;
    image.bitsPerSample = 8;
    image.pixels.resize(image.rowBytes() * 6);
    for (size_t n = 0; n < image.pixels.size(); ++n)
        image.pixels[n] = uint8_t(levels[(n / 3) % 7]);
    const std::string in = tempPath("grey.png");
    const std::string out = tempPath("out.png");
    writeOrFail(in, image);
    for (const char* mono : { "0", "1" }) {
        std::string errors;
        ASSERT_EQ(runHost(std::string("-q --set ShadowAmount=50 --set Monochromatic=") + mono + " "
                          + quoted(in) + " " + quoted(out),
                      &errors),
            0)
            << errors;
        ImageFile result;
        std::string error;
        ASSERT_TRUE(readImageFile(out, result, error)) << error;
        for (size_t n = 0; n < result.pixels.size(); ++n)
            ASSERT_EQ(result.pixels[n], mapped[(n / 3) % 7]) << "sample " << n << ", Monochromatic " << mono;
    }
    std::remove(in.c_str());
    std::remove(out.c_str());
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
    for (size_t n = 0; n + 2 < original.pixels.size(); n += step) {
        const uint8_t* o = &original.pixels[n];
        const uint8_t* p = &image.pixels[n];
        const double before = 0.299 * o[0] + 0.587 * o[1] + 0.114 * o[2];
        const double after = 0.299 * p[0] + 0.587 * p[1] + 0.114 * p[2];
        if (before < 60) {
            stats.darkMean += after;
            ++dark;
        } else if (before > 190) {
            stats.brightMean += after;
            ++bright;
        }
        const double mean = (p[0] + p[1] + p[2]) / 3.0;
        stats.chroma += std::abs(p[0] - mean) + std::abs(p[1] - mean) + std::abs(p[2] - mean);
        stats.mean += after;
        if ((n / step + 1) % size_t(original.width) != 0) {
            const uint8_t* q = p + step;
            stats.edges += std::abs(after - (0.299 * q[0] + 0.587 * q[1] + 0.114 * q[2]));
        }
        ++all;
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
    const std::string in = std::string(QUARVEL_SAMPLES_DIR) + "/coffee.png";
    ImageFile original;
    std::string error;
    ASSERT_TRUE(readImageFile(in, original, error)) << error;
    const PhotoStats base = statsOf(original, original);

    auto run = [&](const char* preset) {
        const std::string out = tempPath("preset.png");
        std::string errors;
        const std::string file = std::string(QUARVEL_PRESETS_DIR) + "/" + preset + ".qvp";
        EXPECT_EQ(runHost("-q --preset " + quoted(file) + " " + quoted(in) + " " + quoted(out), &errors), 0)
            << errors;
        ImageFile result;
        EXPECT_TRUE(readImageFile(out, result, error)) << error;
        std::remove(out.c_str());
        return statsOf(result, original);
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

    const PhotoStats punchy = run("Punchy Color");
    EXPECT_GT(punchy.chroma, base.chroma * 1.2);

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
    const std::string in = std::string(QUARVEL_SAMPLES_DIR) + "/chelsea.png";
    const std::string preset = std::string(QUARVEL_PRESETS_DIR) + "/Film Grain.qvp";
    const std::string grained = tempPath("grain.png"), clean = tempPath("clean.png");
    std::string errors;
    ASSERT_EQ(runHost("-q --preset " + quoted(preset) + " " + quoted(in) + " " + quoted(grained), &errors), 0)
        << errors;
    ASSERT_EQ(
        runHost("-q --preset " + quoted(preset) + " --set GrainAmount=0 " + quoted(in) + " " + quoted(clean),
            &errors),
        0)
        << errors;
    ImageFile a, b;
    std::string error;
    ASSERT_TRUE(readImageFile(grained, a, error)) << error;
    ASSERT_TRUE(readImageFile(clean, b, error)) << error;
    size_t darker = 0, other = 0;
    for (size_t n = 0; n + 2 < a.pixels.size(); n += size_t(a.channels)) {
        bool grain = true, same = true;
        for (int c = 0; c < 3; ++c) {
            const int want = std::max(0, b.pixels[n + size_t(c)] - 6);
            grain = grain && a.pixels[n + size_t(c)] == want;
            same = same && a.pixels[n + size_t(c)] == b.pixels[n + size_t(c)];
        }
        darker += grain && !same ? 1 : 0;
        other += grain || same ? 0 : 1;
    }
    const double pixels = double(a.pixels.size() / size_t(a.channels));
    EXPECT_NEAR(double(darker) / pixels, 1.0 / 3.0, 0.02);
    EXPECT_EQ(other, 0u) << "every pixel is either untouched or 6 levels darker in every channel";
    std::remove(grained.c_str());
    std::remove(clean.c_str());
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

// A closed stderr once turned every failure into death by SIGPIPE (141).
TEST(HostCliProcess, ABrokenErrorPipeLeavesTheExitCode)
{
    const std::string folder = testFolder();
    int broken[2] = { -1, -1 };
    ASSERT_EQ(pipe(broken), 0);
    close(broken[0]);
    HostProcess host = startHost({ folder + "missing.png", folder + "out.png" }, "", broken[1]);
    close(broken[1]);
    const int status = host.wait();
    ASSERT_TRUE(WIFEXITED(status)) << "signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 3);
}

// A pipe is a legitimate input: the decoder reads it as it comes.
TEST(HostCliProcess, APipeIsAnInput)
{
    const std::string folder = testFolder();
    writeOrFail(folder + "in.png", makeImage(20, 20, 3, 8));
    const std::string command = "cat " + quoted(folder + "in.png") + " | '" + hostBinary()
        + "' -q /dev/stdin " + quoted(folder + "out.png");
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(contents(folder + "out.png"), contents(folder + "in.png"));
}

// An existing output keeps its permissions; a link keeps pointing at the file that changed.
TEST(HostCli, TheOutputKeepsItsModeAndALinkItsTarget)
{
    const std::string folder = testFolder();
    const std::string in = folder + "in.png", out = folder + "out.png";
    writeOrFail(in, makeImage(20, 20, 3, 8));
    writeText(out, "private");
    chmod(out.c_str(), 0600);
    std::string errors;
    ASSERT_EQ(runHost("-q " + quoted(in) + " " + quoted(out), &errors), 0) << errors;
    struct stat status { };
    ASSERT_EQ(stat(out.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0600u);

    std::filesystem::create_directory(folder + "real");
    writeText(folder + "real/target.png", "before");
    ASSERT_EQ(symlink("real/target.png", (folder + "link.png").c_str()), 0);
    ASSERT_EQ(runHost("-q " + quoted(in) + " " + quoted(folder + "link.png"), &errors), 0) << errors;
    EXPECT_TRUE(std::filesystem::is_symlink(folder + "link.png"));
    EXPECT_EQ(contents(folder + "real/target.png"), contents(in));
    EXPECT_TRUE(leftovers(folder).empty());
    EXPECT_TRUE(leftovers(folder + "real").empty());
}

// File systems take names of 255 bytes; the temporary beside such a name must not be longer.
TEST(HostCli, TheLongestLegalNamesCanBeWritten)
{
    const std::string folder = testFolder();
    const std::string in = folder + "in.png";
    writeOrFail(in, makeImage(20, 20, 3, 8));
    const std::string out = folder + std::string(251, 'o') + ".png";
    const std::string record = folder + std::string(250, 'r') + ".json";
    std::string errors;
    ASSERT_EQ(runHost("-q --record " + quoted(record) + " " + quoted(in) + " " + quoted(out), &errors), 0)
        << errors;
    EXPECT_EQ(contents(out), contents(in));
    EXPECT_TRUE(exists(record));
}

TEST(HostCli, ARecordNamingALinkToAnImageIsRefused)
{
    const std::string folder = testFolder();
    const std::string in = folder + "in.png", out = folder + "out.png";
    writeOrFail(in, makeImage(20, 20, 3, 8));
    writeOrFail(out, makeImage(20, 20, 3, 8));
    const std::string image = contents(in);
    ASSERT_EQ(link(in.c_str(), (folder + "hard.json").c_str()), 0);
    ASSERT_EQ(symlink("out.png", (folder + "soft.json").c_str()), 0);
    std::string errors;
    for (const char* record : { "hard.json", "soft.json" }) {
        EXPECT_EQ(
            runHost("-q --record " + quoted(folder + record) + " " + quoted(in) + " " + quoted(out), &errors),
            2)
            << record;
    }
    EXPECT_EQ(contents(in), image);
}

} // namespace
} // namespace quarvel::host
#endif

namespace quarvel::host {
namespace {

TEST(HostCli, ARecordedActionReplaysToTheSameImageAndRecordsTheSameKeys)
{
    const std::string in = tempPath("in.png");
    writeOrFail(in, makeImage(40, 30, 3, 8));
    const std::string out1 = tempPath("out1.png"), out2 = tempPath("out2.png");
    const std::string first = tempPath("a.json"), second = tempPath("b.json");
    std::string errors;
    ASSERT_EQ(
        runHost("-q --set ShadowClip=1.5 --record " + quoted(first) + " " + quoted(in) + " " + quoted(out1),
            &errors),
        0)
        << errors;
    ASSERT_EQ(runHost("-q --play " + quoted(first) + " --record " + quoted(second) + " " + quoted(in) + " "
                      + quoted(out2),
                  &errors),
        0)
        << errors;
    EXPECT_EQ(contents(out1), contents(out2));
    const std::string recorded = contents(first);
    EXPECT_EQ(recorded, contents(second));
    // The 36 keys in descriptor order, the set value as given, the others in the document's forms.
    EXPECT_LT(recorded.find("\"EnDr\""), recorded.find("\"GnAm\""));
    EXPECT_NE(recorded.find("\"ShCl\": \"1.5\""), std::string::npos) << recorded;
    EXPECT_NE(recorded.find("\"HiCl\": \"0.00000000\""), std::string::npos) << recorded;
    EXPECT_NE(recorded.find("\"Gmma\": \"0\""), std::string::npos) << recorded;
    // The detail stages read the sharpening method, which stores its default, so it is recorded
    // after the 36 and a replay cannot pick up another method from earlier settings.
    EXPECT_NE(recorded.find("\"SMth\": \"0\""), std::string::npos) << recorded;
    size_t keys = 0;
    for (size_t at = recorded.find("\": \""); at != std::string::npos; at = recorded.find("\": \"", at + 1))
        ++keys;
    EXPECT_EQ(keys, 37u);

    // The sharpening method, which the descriptor did not carry before, now does.
    ASSERT_EQ(
        runHost("-q --set SharpMethod=1 --record " + quoted(first) + " " + quoted(in) + " " + quoted(out1)),
        0);
    EXPECT_NE(contents(first).find("\"SMth\": \"1\""), std::string::npos);

    for (const std::string& f : { in, out1, out2, first, second })
        std::remove(f.c_str());
}

TEST(HostCli, BadSettingsAreRefusedBeforeThePluginRuns)
{
    const std::string in = tempPath("in.png");
    writeOrFail(in, makeImage(8, 8, 3, 8));
    const std::string out = tempPath("out.png");
    std::string errors;
    EXPECT_EQ(runHost("--set Bogus=1 " + quoted(in) + " " + quoted(out), &errors), 2);
    EXPECT_NE(errors.find("unknown setting"), std::string::npos) << errors;
    EXPECT_EQ(runHost("--set Gamma=1.5 " + quoted(in) + " " + quoted(out), &errors), 2);
    EXPECT_EQ(runHost("--set ShadowClip=abc " + quoted(in) + " " + quoted(out), &errors), 2);
    EXPECT_EQ(runHost("--set ShadowAmount " + quoted(in) + " " + quoted(out), &errors), 2);

    const std::string action = tempPath("bad.json");
    {
        std::ofstream json(action, std::ios::binary);
        json << "{\"EnDr\": 1}";
    }
    EXPECT_EQ(runHost("--play " + quoted(action) + " " + quoted(in) + " " + quoted(out), &errors), 3);
    EXPECT_NE(errors.find("not text"), std::string::npos) << errors;
    EXPECT_EQ(
        runHost("--preset " + quoted(tempPath("missing.qvp")) + " " + quoted(in) + " " + quoted(out)), 3);
    EXPECT_FALSE(exists(out));

    std::string listing;
    EXPECT_EQ(runHost("--list", &errors), 0);
    std::remove(in.c_str());
    std::remove(action.c_str());
}

// A folder where a file belongs once ended the host with an uncaught exception (exit 134).
TEST(HostCli, FileArgumentsThatAreNoFilesAreRefusedWithTheirReason)
{
    const std::string folder = testFolder();
    const std::string in = folder + "in.png", out = folder + "out.png";
    writeOrFail(in, makeImage(8, 8, 3, 8));
    std::string errors;
    for (const std::string& option : { "--play ", "--preset " }) {
        EXPECT_EQ(runHost("-q " + option + quoted(folder) + " " + quoted(in) + " " + quoted(out), &errors), 3)
            << option;
        EXPECT_NE(errors.find("it is a folder"), std::string::npos) << errors;
    }
    EXPECT_EQ(runHost("-q " + quoted(folder) + " " + quoted(out), &errors), 3);
    EXPECT_NE(errors.find("it is a folder"), std::string::npos) << errors;

    // An image or an empty file holds no setting: no preset at all, not one of defaults.
    const std::string empty = folder + "empty.qvp";
    writeText(empty, "");
    for (const std::string& preset : { in, empty }) {
        EXPECT_EQ(
            runHost("-q --preset " + quoted(preset) + " " + quoted(in) + " " + quoted(out), &errors), 3);
        EXPECT_NE(errors.find("holds no Quarvel setting"), std::string::npos) << errors;
    }
    EXPECT_FALSE(exists(out));
    EXPECT_TRUE(leftovers(folder).empty());
}

TEST(HostCli, EmptyAndOutOfRangeOptionValuesAreUsageErrors)
{
    const std::string folder = testFolder();
    const std::string files = quoted(folder + "in.png") + " " + quoted(folder + "out.png");
    writeOrFail(folder + "in.png", makeImage(8, 8, 3, 8));
    for (const char* options : { "--preset=", "--play=", "--record=", "--preset \"\"", "--quality 0",
             "--compression 10", "--suffix -x", "--format png" }) {
        std::string errors;
        EXPECT_EQ(runHost(std::string(options) + " " + files, &errors), 2) << options;
        EXPECT_NE(errors.find("--"), std::string::npos) << options << ": the message names the option";
    }
#if !defined(_WIN32)
    std::string errors;
    EXPECT_EQ(runHost("--plugin quarvel64.8bf " + files, &errors), 2);
    EXPECT_NE(errors.find("Windows host"), std::string::npos) << errors;
#endif
    EXPECT_FALSE(exists(folder + "out.png"));
}

// The image and the action file are written together or not at all.
TEST(HostCli, ARecordThatCannotBeWrittenLeavesTheImageUnwritten)
{
    const std::string folder = testFolder();
    const std::string in = folder + "in.png", out = folder + "out.png";
    writeOrFail(in, makeImage(20, 20, 3, 8));
    writeText(out, "what was there before");
    std::filesystem::create_directory(folder + "a.json");
    std::string errors;
    for (const std::string& record : { folder + "missing/a.json", folder + "a.json" }) {
        EXPECT_EQ(
            runHost("-q --record " + quoted(record) + " " + quoted(in) + " " + quoted(out), &errors), 3);
        EXPECT_NE(errors.find("cannot write " + record + ": "), std::string::npos) << errors;
    }
    EXPECT_EQ(contents(out), "what was there before");
    EXPECT_TRUE(leftovers(folder).empty());
}

TEST(HostCli, TheRecordIsNeverTheInputOrTheOutputButInPlaceRunsWork)
{
    const std::string folder = testFolder();
    const std::string in = folder + "in.png", out = folder + "out.png";
    writeOrFail(in, makeImage(20, 20, 3, 8));
    const std::string image = contents(in);
    std::string errors;
    // The output spelled another way is still the output.
    for (const std::string& record : { in, out, folder + "./out.png" }) {
        EXPECT_EQ(runHost("-q --record " + quoted(record) + " " + quoted(in) + " " + quoted(out), &errors), 2)
            << record;
        EXPECT_NE(errors.find("--record"), std::string::npos) << errors;
    }
    EXPECT_EQ(contents(in), image);
    EXPECT_FALSE(exists(out));

    ASSERT_EQ(runHost("-q --set ShadowAmount=40 --record " + quoted(folder + "a.json") + " " + quoted(in)
                      + " " + quoted(in),
                  &errors),
        0)
        << errors;
    ImageFile result;
    std::string error;
    ASSERT_TRUE(readImageFile(in, result, error)) << error;
    EXPECT_NE(contents(in), image);
    EXPECT_NE(contents(folder + "a.json").find("\"ShDt\": \"40\""), std::string::npos);
    EXPECT_TRUE(leftovers(folder).empty());
}

TEST(HostCli, AReadOnlyOutputIsRefusedUnlessForcedAndStaysReadOnly)
{
    const std::string folder = testFolder();
    const std::string in = folder + "in.png", out = folder + "out.png";
    writeOrFail(in, makeImage(20, 20, 3, 8));
    writeText(out, "kept");
    makeReadOnly(out);
    std::string errors;
    EXPECT_EQ(runHost("-q " + quoted(in) + " " + quoted(out), &errors), 3);
    EXPECT_NE(errors.find("cannot write " + out + ": the file is read-only"), std::string::npos) << errors;
    EXPECT_EQ(contents(out), "kept");

    ASSERT_EQ(runHost("-q --force " + quoted(in) + " " + quoted(out), &errors), 0) << errors;
    ImageFile result;
    std::string error;
    EXPECT_TRUE(readImageFile(out, result, error)) << error;
    EXPECT_TRUE(isReadOnly(out));
    EXPECT_TRUE(leftovers(folder).empty());
}

TEST(HostCli, SettingsOutsideTheDialogsRangeAreNamedOnceAndUsed)
{
    const std::string folder = testFolder();
    const std::string in = folder + "in.png", out = folder + "out.png", plain = folder + "plain.png";
    writeOrFail(in, makeImage(20, 20, 3, 8));
    std::string errors;
    ASSERT_EQ(runHost("-q --set ShadowAmount=60 --set ShadowAmount=70 --set Gamma=3 " + quoted(in) + " "
                      + quoted(out),
                  &errors),
        0)
        << errors;
    EXPECT_EQ(occurrences(errors, "outside what the dialog offers"), 1u) << errors;
    EXPECT_NE(errors.find("ShadowAmount=70 is outside what the dialog offers (0..50)"), std::string::npos)
        << errors;
    ASSERT_EQ(runHost("-q --set ShadowAmount=50 " + quoted(in) + " " + quoted(plain), &errors), 0);
    EXPECT_EQ(errors, "");
    EXPECT_NE(contents(out), contents(plain)) << "the value is used as given, not clamped";
}

// Three files, one of them no image: the other two are written, the bad one is named at the end.
TEST(HostCliBatch, EveryGoodFileIsWrittenAndTheBadOneReported)
{
    const std::string folder = testFolder();
    const ImageFile first = makeImage(30, 20, 3, 8), third = makeImage(17, 23, 4, 16);
    writeOrFail(folder + "first.png", first);
    writeText(folder + "second.png", "not an image");
    writeOrFail(folder + "third.tif", third);
    const std::string inputs = quoted(folder + "first.png") + " " + quoted(folder + "second.png") + " "
        + quoted(folder + "third.tif");
    const std::string outputs = folder + "out";
    std::string errors;
    EXPECT_EQ(runHost(inputs + " -o " + quoted(outputs), &errors), 3);
    EXPECT_NE(errors.find("[1/3] first.png -> "), std::string::npos) << errors;
    EXPECT_NE(errors.find("[2/3] second.png: failed"), std::string::npos) << errors;
    EXPECT_NE(errors.find("2 of 3 files written, 1 failed:\n  " + folder + "second.png: not a PNG"),
        std::string::npos)
        << errors;
    ImageFile result;
    std::string error;
    ASSERT_TRUE(readImageFile(outputs + "/first.png", result, error)) << error;
    EXPECT_TRUE(result.pixels == first.pixels);
    ASSERT_TRUE(readImageFile(outputs + "/third.tif", result, error)) << error;
    EXPECT_TRUE(result.pixels == third.pixels);
    EXPECT_FALSE(exists(outputs + "/second.png"));

    // Another format and a suffix; quiet, but the failure is still reported.
    EXPECT_EQ(
        runHost("-q --suffix=-lifted --format png --set ShadowAmount=30 " + inputs + " -o " + quoted(outputs),
            &errors),
        3);
    EXPECT_EQ(errors.find("[1/3]"), std::string::npos) << errors;
    EXPECT_NE(errors.find("second.png: not a PNG"), std::string::npos) << errors;
    ASSERT_TRUE(readImageFile(outputs + "/third-lifted.png", result, error)) << error;
    EXPECT_EQ(result.bitsPerSample, 16);
    EXPECT_TRUE(exists(outputs + "/first-lifted.png"));
    EXPECT_TRUE(leftovers(outputs).empty());
}

TEST(HostCliBatch, OutputsThatWouldCollideOrReplaceAnInputAreRefused)
{
    const std::string folder = testFolder();
    std::filesystem::create_directory(folder + "sub");
    for (const char* name : { "a.png", "sub/a.png", "b.jpg" })
        writeOrFail(folder + name, makeImage(12, 12, 3, 8));
    const std::string a = quoted(folder + "a.png"), subA = quoted(folder + "sub/a.png"),
                      b = quoted(folder + "b.jpg");
    const std::string out = " -o " + quoted(folder + "out");
    std::string errors;
    EXPECT_EQ(runHost(a + " " + subA + out, &errors), 2);
    EXPECT_NE(errors.find("would both be written to"), std::string::npos) << errors;
    // The first output would replace the second input before it is read.
    std::filesystem::create_directory(folder + "out");
    writeOrFail(folder + "out/b-s.png", makeImage(12, 12, 3, 8));
    EXPECT_EQ(
        runHost("--format png --suffix=-s " + b + " " + quoted(folder + "out/b-s.png") + out, &errors), 2);
    EXPECT_NE(errors.find("would replace the input"), std::string::npos) << errors;
    EXPECT_EQ(runHost("--record x.json " + a + out, &errors), 2);
    EXPECT_EQ(runHost("--dialog " + a + out, &errors), 2);
    EXPECT_FALSE(exists(folder + "out/a.png"));
    // In place, each output replacing its own input, is fine.
    EXPECT_EQ(runHost("-q " + a + " " + b + " -o " + quoted(folder), &errors), 0) << errors;
}

TEST(HostCliBatch, WhatTheOutputCannotCarryIsSaidOnce)
{
    const std::string folder = testFolder();
    ImageFile titled = makeImage(16, 16, 3, 8);
    titled.texts.push_back({ "Title", "Harbour at dawn", false, "", "" });
    writeOrFail(folder + "a.png", titled);
    writeOrFail(folder + "b.png", titled);
    std::string errors;
    ASSERT_EQ(runHost("-q --format jpg " + quoted(folder + "a.png") + " " + quoted(folder + "b.png") + " -o "
                      + quoted(folder + "out"),
                  &errors),
        0)
        << errors;
#if defined(_WIN32)
    // What the imaging component carries into a JPEG differs from one version to the next.
    EXPECT_LE(occurrences(errors, "cannot hold the input's"), 1u) << errors;
#else
    EXPECT_EQ(occurrences(errors, "cannot hold the input's PNG text"), 1u) << errors;
#endif
}

// The write options reach the encoders; the pixels of a PNG do not depend on them.
TEST(HostCliBatch, QualityAndCompressionReachTheFiles)
{
    const std::string folder = testFolder();
    // Smooth, so that there is something to compress.
    ImageFile gradient = makeImage(64, 64, 3, 8);
    for (size_t n = 0; n < gradient.pixels.size(); ++n)
        gradient.pixels[n] = uint8_t(n / 3 % 64 + n / 3 / 64);
    writeOrFail(folder + "in.png", gradient);
    const std::string in = quoted(folder + "in.png");
    std::string errors;
    for (const char* run : { "--quality 20 --suffix=-20", "--quality 100 --suffix=-100" })
        ASSERT_EQ(
            runHost(std::string("-q --format jpg ") + run + " " + in + " -o " + quoted(folder), &errors), 0)
            << errors;
#if !defined(_WIN32)
    // The imaging component's PNG encoder has no compression level, and Wine's JPEG encoder
    // takes no quality.
    EXPECT_LT(contents(folder + "in-20.jpg").size(), contents(folder + "in-100.jpg").size());
    for (const char* run : { "--compression 0 --suffix=-0", "--compression 9 --suffix=-9" })
        ASSERT_EQ(runHost(std::string("-q ") + run + " " + in + " -o " + quoted(folder), &errors), 0)
            << errors;
    EXPECT_GT(contents(folder + "in-0.png").size(), contents(folder + "in-9.png").size());
    ImageFile stored, squeezed;
    std::string error;
    ASSERT_TRUE(readImageFile(folder + "in-0.png", stored, error)) << error;
    ASSERT_TRUE(readImageFile(folder + "in-9.png", squeezed, error)) << error;
    EXPECT_TRUE(stored.pixels == squeezed.pixels);
#endif
}

} // namespace
} // namespace quarvel::host
