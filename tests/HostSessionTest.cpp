// The command-line host's own filter-record work, run against the plug-in's entry point.
#include "tools/host/HostSession.h"
#include "tests/support/FakeHost.h"
#include "tools/host/HostOptions.h"
#include "tools/host/HostScale.h"
#include "tools/host/HostSettings.h"
#include "tools/host/HostWindow.h"

#include <gtest/gtest.h>

#include <tuple>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace quarvel::host {
namespace {

HostImage makeImage(int width, int height, int planes, int bits, uint32_t state)
{
    HostImage image;
    std::tie(image.width, image.height, image.planes, image.bits) = std::tie(width, height, planes, bits);
    image.samples.resize(image.rowBytes() * size_t(height));
    auto* samples16 = reinterpret_cast<uint16_t*>(image.samples.data());
    for (size_t i = 0; i < image.samples.size() / size_t(bits / 8); ++i) {
        state = state * 1103515245u + 12345u;
        if (bits == 8)
            image.samples[i] = uint8_t(state >> 16);
        else
            samples16[i] = uint16_t((state >> 8) % 32769);
    }
    return image;
}

TEST(HostSession, EveryImageKindMakesTheRoundTripUnchanged)
{
    test::startMessageWatch();
    for (int planes : { 3, 4 })
        for (int bits : { 8, 16 }) {
            SCOPED_TRACE(testing::Message() << planes << " planes, " << bits << " bits");
            const HostImage original = makeImage(23, 31, planes, bits, uint32_t(planes * bits));
            HostImage image = original;
            int polls = 0;
            SessionOptions options;
            options.abortRequested = [&] { return ++polls < 0; };
            HostSession session(test::pluginEntry(), options);
            const SessionResult outcome = session.run(image);
            EXPECT_EQ(std::tie(outcome.prepareResult, outcome.startResult, outcome.imageChanged),
                std::make_tuple(0, 0, true));
            EXPECT_EQ(image.samples, original.samples);
            EXPECT_GT(polls, 0);
        }
}

TEST(HostSession, ARefusedImageIsLeftAsItWas)
{
    test::startMessageWatch();
    test::takeMessages();
    const HostImage original = makeImage(5, 40, 3, 8, 1);
    HostImage image = original;
    const SessionResult outcome = HostSession(test::pluginEntry(), SessionOptions {}).run(image);
    EXPECT_EQ(std::tie(outcome.prepareResult, outcome.started, outcome.imageChanged),
        std::make_tuple(pluginapi::userCanceledErr, false, false));
    EXPECT_EQ(image.samples, original.samples);
    EXPECT_EQ(test::takeMessages().size(), 1u);
}

// The image is lent to the plug-in as its own output: a stop at any abort poll must either
// leave it as it was or be a run that the plug-in calls done.
TEST(HostSession, AStopAtAnyPollLeavesTheImageAsItWas)
{
    test::startMessageWatch();
    const HostImage original = makeImage(23, 31, 3, 8, 5);
    std::string error;
    SessionOptions options;
    options.hasDescriptor = true;
    ASSERT_TRUE(applySetting("ShadowAmount=40", options.descriptor, error));
    for (int stopAt = 0;; ++stopAt) {
        SCOPED_TRACE(testing::Message() << "stop at poll " << stopAt);
        HostImage image = original;
        int polls = 0;
        options.abortRequested = [&] { return ++polls > stopAt; };
        HostSession session(test::pluginEntry(), options);
        const SessionResult outcome = session.run(image);
        if (outcome.startResult != 0) {
            EXPECT_FALSE(outcome.imageChanged);
            EXPECT_EQ(image.samples, original.samples);
        }
        if (polls <= stopAt) {
            EXPECT_NE(image.samples, original.samples) << "the settings change the image";
            break;
        }
    }
}

// Inverts the colour planes of the top half of the image, then of the bottom half, each as an
// area of its own; fails at the end when told to.
bool gAreaPluginFails = false;
void areaPlugin(int16_t selector, void* recordPointer, intptr_t*, int16_t* result)
{
    *result = 0;
    if (selector != pluginapi::filterSelectorStart)
        return;
    auto& r = *static_cast<pluginapi::FilterRecord*>(recordPointer);
    const int16_t width = r.filterRect.right;
    const int16_t height = r.filterRect.bottom;
    for (const int16_t top : { int16_t(0), int16_t(height / 2) }) {
        const int16_t bottom = top == 0 ? int16_t(height / 2) : height;
        r.inRect = r.outRect = pluginapi::Rect { top, 0, bottom, width };
        r.inLoPlane = r.outLoPlane = 0;
        r.inHiPlane = r.outHiPlane = 2;
        if (r.advanceState() != 0) {
            *result = pluginapi::paramErr;
            return;
        }
        for (int y = 0; y < bottom - top; ++y)
            for (int x = 0; x < width * 3; ++x)
                static_cast<uint8_t*>(r.outData)[y * r.outRowBytes + x]
                    = uint8_t(255 - static_cast<const uint8_t*>(r.inData)[y * r.inRowBytes + x]);
    }
    r.inRect = r.outRect = pluginapi::Rect { 0, 0, 0, 0 };
    if (gAreaPluginFails)
        *result = pluginapi::userCanceledErr;
}

TEST(HostSession, AreaByAreaOutputIsTakenOnlyFromARunThatSucceeds)
{
    const HostImage original = makeImage(9, 7, 4, 8, 3);
    for (const bool fails : { true, false }) {
        SCOPED_TRACE(fails ? "failing" : "succeeding");
        gAreaPluginFails = fails;
        HostImage image = original;
        HostSession session(&areaPlugin, SessionOptions {});
        EXPECT_EQ(session.run(image).imageChanged, !fails);
        for (size_t i = 0; i < image.samples.size(); ++i) {
            const bool inverted = !fails && i % 4 != 3;
            ASSERT_EQ(image.samples[i], inverted ? 255 - original.samples[i] : original.samples[i]) << i;
        }
    }
}

TEST(HostScale, EveryHostSampleSurvivesTheFileScaleAndBack)
{
    for (uint32_t v = 0; v <= 32768; ++v)
        ASSERT_EQ(fileToHost16(hostToFile16(uint16_t(v))), v);
    for (uint32_t v = 0; v <= 65535; ++v) {
        const int back = hostToFile16(fileToHost16(uint16_t(v)));
        ASSERT_LE(std::abs(back - int(v)), 1) << v;
        // The nearest host value, halves (which never occur) aside.
        ASSERT_LE(2 * std::abs(int64_t(fileToHost16(uint16_t(v))) * 65535 - int64_t(v) * 32768), 65535) << v;
    }
}

TEST(HostOptions, FilesOptionsAndTheirMistakes)
{
    auto parse = [](std::vector<const char*> args, HostOptions& options, std::string& error) {
        args.insert(args.begin(), "quarvel-host");
        return parseHostOptions(int(args.size()), args.data(), options, error);
    };
    HostOptions o;
    std::string error;
    ASSERT_TRUE(
        parse({ "-q", "--set", "ShadowAmount=30", "-s", "Gamma=1", "--preset=a.qvp", "in.png", "out.tif" }, o,
            error))
        << error;
    EXPECT_TRUE(o.quiet);
    EXPECT_EQ(o.sets, (std::vector<std::string> { "ShadowAmount=30", "Gamma=1" }));
    EXPECT_EQ(std::tie(o.preset, o.input, o.output), std::make_tuple("a.qvp", "in.png", "out.tif"));

    HostOptions dashes;
    ASSERT_TRUE(parse({ "--", "-in.png", "out.png" }, dashes, error));
    EXPECT_EQ(dashes.input, "-in.png");

    // An unknown option and a lone file are refused end to end, in the command-line tests.
    HostOptions bad;
    EXPECT_FALSE(parse({ "a", "b", "c" }, bad, error));
    EXPECT_FALSE(parse({ "a", "b", "--preset" }, bad, error));
    EXPECT_NE(error.find("needs a value"), std::string::npos);
    EXPECT_FALSE(parse({ "--quiet=1", "a", "b" }, bad, error));

    HostOptions list;
    EXPECT_TRUE(parse({ "--list" }, list, error));
    EXPECT_TRUE(list.list);
}

TEST(HostOptions, TheWineCommandRepeatsTheArgumentsAsTheShellNeedsThem)
{
    const char* fromBuild[] = { "/src/build/native/bin/quarvel-host", "--dialog", "a b.png", "it's.png" };
    EXPECT_EQ(windowsHostCommand(4, fromBuild),
        "wine /src/build/win64/bin/quarvel-host.exe --dialog 'a b.png' 'it'\\''s.png'");
    const char* fromPath[] = { "quarvel-host", "--dialog", "in.png", "out.png" };
    EXPECT_EQ(
        windowsHostCommand(4, fromPath), "wine build/win64/bin/quarvel-host.exe --dialog in.png out.png");
}

TEST(DialogOwnerWindow, ItsClientOriginCentresTheDialogOnTheWorkArea)
{
    // A task bar on the left and at the top moves the work area's origin.
    const ScreenPoint shifted = centredDialogOrigin(60, 30, 1340, 1054, 810, 560);
    EXPECT_EQ(std::tie(shifted.x, shifted.y), std::make_tuple(60 + 235, 30 + 232));
    const ScreenPoint cramped = centredDialogOrigin(0, 40, 800, 600, 810, 560);
    EXPECT_EQ(std::tie(cramped.x, cramped.y), std::make_tuple(0, 40));
}

#if defined(_WIN32)
TEST(DialogOwnerWindow, IsHiddenWhereTheDialogGoesAndLeavesNothingBehind)
{
    RECT workArea = {};
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETWORKAREA, 0, &workArea, 0));
    const ScreenPoint expected = centredDialogOrigin(
        workArea.left, workArea.top, workArea.right, workArea.bottom, kDialogWidth, kDialogHeight);
    HWND window = nullptr;
    wchar_t className[64] = {};
    {
        DialogOwnerWindow owner;
        window = reinterpret_cast<HWND>(owner.handle());
        ASSERT_TRUE(IsWindow(window));
        EXPECT_FALSE(IsWindowVisible(window));
        EXPECT_EQ(GetParent(window), nullptr);
        POINT origin = { 0, 0 };
        ClientToScreen(window, &origin);
        EXPECT_EQ(std::tie(origin.x, origin.y), std::tie(expected.x, expected.y));
        ASSERT_GT(GetClassNameW(window, className, 64), 0);
    }
    EXPECT_FALSE(IsWindow(window));
    WNDCLASSEXW info = {};
    info.cbSize = sizeof info;
    EXPECT_FALSE(GetClassInfoExW(GetModuleHandleW(nullptr), className, &info)) << "the class is unregistered";
}
#endif

} // namespace
} // namespace quarvel::host
