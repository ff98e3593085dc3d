// quarvel-host as scripts use it: image files in, image files out, exit codes, and an output
// that is either whole and right or not there at all.
#include "tests/support/FakeHost.h"
#include "tools/host/HostScale.h"
#include "tools/host/ImageFile.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/wait.h>
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
    command = "\"\"" + hostBinary() + "\" " + arguments + " >\"" + outFile + "\" 2>\"" + errFile + "\"\"";
    const int code = std::system(command.c_str());
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

TEST(HostCli, LosslessFormatsComeBackIdentical)
{
    struct Case {
        const char* extension;
        int channels, bits;
    };
    for (const Case c : {Case{".png", 3, 8}, Case{".png", 4, 8}, Case{".png", 3, 16}, Case{".png", 4, 16},
                         Case{".tif", 3, 8}, Case{".tif", 4, 16}}) {
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
    for (const std::string& f : {out, tiny, photo, rgba})
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
    for (const char* name : {"coffee.png", "chelsea.png", "rocket.jpg"}) {
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
    const int levels[] = {0, 16, 32, 64, 128, 192, 255};
    const int mapped[] = {0, 30, 57, 100, 160, 204, 255};
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
    for (const char* mono : {"0", "1"}) {
        std::string errors;
        ASSERT_EQ(runHost(std::string("-q --set ShadowAmount=50 --set Monochromatic=") + mono + " " + quoted(in) + " " +
                              quoted(out),
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
    double darkMean = 0;   // mean luminance of the pixels that were dark in the original
    double brightMean = 0; // ... and of those that were bright
    double chroma = 0;     // mean distance of the channels from their mean
    double edges = 0;      // mean luminance step between horizontal neighbours: fine detail
    double mean = 0;       // mean luminance
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
        EXPECT_EQ(runHost("-q --preset " + quoted(file) + " " + quoted(in) + " " + quoted(out), &errors), 0) << errors;
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
    ASSERT_EQ(runHost("-q --preset " + quoted(preset) + " " + quoted(in) + " " + quoted(grained), &errors), 0) << errors;
    ASSERT_EQ(runHost("-q --preset " + quoted(preset) + " --set GrainAmount=0 " + quoted(in) + " " + quoted(clean), &errors), 0)
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
    ASSERT_EQ(runHost("-q --set ShadowClip=1.5 --record " + quoted(first) + " " + quoted(in) + " " + quoted(out1),
                      &errors),
              0)
        << errors;
    ASSERT_EQ(runHost("-q --play " + quoted(first) + " --record " + quoted(second) + " " + quoted(in) + " " +
                          quoted(out2),
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
    ASSERT_EQ(runHost("-q --set SharpMethod=1 --record " + quoted(first) + " " + quoted(in) + " " + quoted(out1)), 0);
    EXPECT_NE(contents(first).find("\"SMth\": \"1\""), std::string::npos);

    for (const std::string& f : {in, out1, out2, first, second})
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
    EXPECT_EQ(runHost("--preset " + quoted(tempPath("missing.qvp")) + " " + quoted(in) + " " + quoted(out)), 3);
    EXPECT_FALSE(exists(out));

    std::string listing;
    EXPECT_EQ(runHost("--list", &errors), 0);
    std::remove(in.c_str());
    std::remove(action.c_str());
}

} // namespace
} // namespace quarvel::host
