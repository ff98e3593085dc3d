// The scripting descriptor as a host's actions use it: what a recorded step replays, what the
// plug-in records, and hosts whose descriptor support is missing or odd.
#include "tests/settings/SettingsTexts.h"
#include "tests/support/FakeHost.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quarvel::test {
namespace {

using namespace pluginapi;

// The Windows module has the dialog; the native core answers that it has none.
#if defined(_WIN32)
constexpr bool kDialogBuild = true;
#else
constexpr bool kDialogBuild = false;
#endif

uint32_t key(const char* text) { return fourCC(*reinterpret_cast<const char(*)[5]>(text)); }

// The 36 keys in the order the plug-in asks for them, and the sharpening method if it comes too.
std::vector<std::string> canonicalKeys(bool withMethod)
{
    std::vector<std::string> keys;
    for (const std::string& entry : kDescriptorKeysAndNames)
        keys.push_back(entry.substr(0, 4));
    if (withMethod)
        keys.push_back("SMth");
    return keys;
}

// The keys the plug-in asked for, or those it recorded, as text.
std::vector<std::string> keysOf(const FakeHost& host, bool recorded)
{
    std::vector<std::string> texts;
    for (size_t i = 0; i < (recorded ? host.recorded.size() : host.requestedKeys.size()); ++i) {
        const uint32_t k = recorded ? host.recorded[i].key : host.requestedKeys[i];
        texts.push_back({ char(k >> 24), char(k >> 16), char(k >> 8), char(k) });
    }
    return texts;
}

class Scripting : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(pluginEntry(), nullptr);
        startMessageWatch();
        takeMessages();
        host.playDescriptor = true;
    }
    FakeHost host { 8, 8, 3, 8 };
};

TEST_F(Scripting, APlayedBackStepRunsWithItsSettingsAndIsRecordedAgain)
{
    host.fillInput(3);
    host.playback = { { key("EnDr"), "0" }, { key("SSRd"), "2.50000000" }, { key("ShCl"), "1.5" } };
    EXPECT_EQ(host.run(), noErr);
    EXPECT_TRUE(host.outputEqualsInput());
    EXPECT_TRUE(takeMessages().empty()) << "no dialog for a step played back without it";
    EXPECT_EQ(keysOf(host, false), canonicalKeys(true)) << "36 keys in order, then the sharpening method";
    EXPECT_EQ(keysOf(host, true), canonicalKeys(true)) << "the run's read of the method stores its default";
    for (auto [k, text] : { std::pair { "SMth", "0" }, { "EnDr", "0" }, { "SSRd", "2.50000000" },
             { "ShCl", "1.5" } /* a value travels as the text it came as */, { "HiCl", "0.00000000" },
             { "Gmma", "0" }, { "EnCr", "1" } })
        EXPECT_EQ(host.recordedText(k), text) << k;
    EXPECT_EQ(host.disposedHandles, 1) << "the played descriptor is the plug-in's to dispose of";
    EXPECT_EQ(host.record.descriptorParameters->recordInfo, plugInDialogOptional);
}

TEST_F(Scripting, UnknownKeysAreReadAndIgnoredAndTheSharpeningMethodTravels)
{
    host.playback = { { key("Xtra"), "junk" }, { key("SMth"), "1" }, { key("Satu"), "12" } };
    EXPECT_EQ(host.run(), noErr);
    EXPECT_EQ(host.getStringCalls, 3);
    EXPECT_EQ(host.recordedText("Satu"), "12");
    EXPECT_EQ(host.recordedText("Xtra"), "<missing>");
    EXPECT_EQ(host.recordedText("SMth"), "1");
    EXPECT_EQ(host.recorded.back().key, key("SMth")) << "after the 36";
}

TEST_F(Scripting, AValueThatIsNotTextKeepsTheDefaultAndTheReadersClosingErrorBecomesTheResult)
{
    host.playback = { { key("ShLv"), "", false }, { key("ShDt"), "7" } };
    host.closeReadResult = -1234;
    EXPECT_EQ(host.run(), -1234);
    EXPECT_TRUE(host.recordedSomething) << "the run still went through";
    EXPECT_EQ(host.recordedText("ShLv"), "0");
    EXPECT_EQ(host.recordedText("ShDt"), "7");
}

TEST_F(Scripting, AMenuInvocationAsksForTheDialog)
{
    host.fillInput(5);
    host.copyInputToOutput = false;
    host.playDescriptor = false; // null descriptor: the host's open gives no token
    host.playInfo = plugInDialogDisplay;
    DialogCanceller canceller;
    EXPECT_EQ(host.run(), userCanceledErr) << "the dialog was cancelled, or there is none";
    EXPECT_EQ(takeMessages().size(), kDialogBuild ? 0u : 1u);
    // A cancelled dialog still records the settings, the defaults here; the Sharpness page
    // stores the sharpening method, which is then carried too.
    EXPECT_EQ(keysOf(host, true), canonicalKeys(kDialogBuild));
    EXPECT_EQ(host.recordedText("ShCl"), "0.00000000");
    EXPECT_EQ(host.recordedText("Gmma"), "0");
    EXPECT_EQ(host.disposedHandles, 0);
}

TEST_F(Scripting, ANullDescriptorWithoutDisplayRunsDirectly)
{
    host.playDescriptor = false;
    host.playInfo = plugInDialogSilent;
    EXPECT_EQ(host.run(), noErr);
    EXPECT_TRUE(takeMessages().empty());
    EXPECT_TRUE(host.recordedSomething);
}

TEST_F(Scripting, HostsWithoutUsableDescriptorSupportGetTheDialogAndNoRecording)
{
    FakeHost none(8, 8, 3, 8);
    none.descriptorSupport = false;
    DialogCanceller canceller;
    EXPECT_EQ(none.run(), userCanceledErr);
    EXPECT_FALSE(none.recordedSomething);
    takeMessages();

    host.openWriteFails = true;
    EXPECT_EQ(host.run(), noErr);
    EXPECT_FALSE(host.recordedSomething);
}

} // namespace
} // namespace quarvel::test
