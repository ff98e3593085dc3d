// The scripting descriptor as a host's actions use it: what a recorded step replays, what the
// plug-in records, and hosts whose descriptor support is missing or odd.
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

const char* const kKeys[] = { "EnDr", "EnCr", "EnSh", "EnDf", "ShLv", "ShDt", "ShCl", "ShCt", "HiLv", "HiDt",
    "HiCl", "HiCt", "AtEx", "Gmma", "Cont", "Mono", "AtCr", "Dens", "Satu", "HSAm", "HSRd", "HSEd", "HSTs",
    "HSTn", "SSAm", "SSRd", "SSEd", "SSTs", "SSTn", "SmAm", "SmRd", "SmTr", "DfAm", "DfRd", "DfTn", "GnAm" };

uint32_t key(const char* text) { return fourCC(*reinterpret_cast<const char(*)[5]>(text)); }

std::vector<uint32_t> canonicalKeys()
{
    std::vector<uint32_t> keys;
    for (const char* k : kKeys)
        keys.push_back(key(k));
    return keys;
}

std::vector<uint32_t> recordedKeys(const FakeHost& host)
{
    std::vector<uint32_t> keys;
    for (const auto& v : host.recorded)
        keys.push_back(v.key);
    return keys;
}

class Scripting : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(pluginEntry(), nullptr);
        startMessageWatch();
        takeMessages();
    }
};

TEST_F(Scripting, APlayedBackStepRunsWithItsSettingsAndIsRecordedAgain)
{
    FakeHost host(8, 8, 3, 8);
    host.fillInput(3);
    host.playDescriptor = true;
    host.playback = { { key("EnDr"), "0" }, { key("SSRd"), "2.50000000" }, { key("ShCl"), "1.5" } };
    EXPECT_EQ(host.run(), noErr);
    EXPECT_TRUE(host.outputEqualsInput());
    EXPECT_TRUE(takeMessages().empty()) << "no dialog for a step played back without it";

    std::vector<uint32_t> expectedKeys = canonicalKeys();
    expectedKeys.push_back(key("SMth"));
    EXPECT_EQ(host.requestedKeys, expectedKeys) << "36 keys in order, then the sharpening method";
    EXPECT_EQ(recordedKeys(host), expectedKeys) << "the run's read of the method stores its default";
    EXPECT_EQ(host.recordedText("SMth"), "0");
    EXPECT_EQ(host.recordedText("EnDr"), "0");
    EXPECT_EQ(host.recordedText("SSRd"), "2.50000000");
    EXPECT_EQ(host.recordedText("ShCl"), "1.5") << "a value travels as the text it came as";
    EXPECT_EQ(host.recordedText("HiCl"), "0.00000000");
    EXPECT_EQ(host.recordedText("Gmma"), "0");
    EXPECT_EQ(host.recordedText("EnCr"), "1");
    EXPECT_EQ(host.disposedHandles, 1) << "the played descriptor is the plug-in's to dispose of";
    EXPECT_EQ(host.record.descriptorParameters->recordInfo, plugInDialogOptional);
}

TEST_F(Scripting, UnknownKeysAreReadAndIgnoredAndTheSharpeningMethodTravels)
{
    FakeHost host(8, 8, 3, 8);
    host.playDescriptor = true;
    host.playback = { { key("Xtra"), "junk" }, { key("SMth"), "1" }, { key("Satu"), "12" } };
    EXPECT_EQ(host.run(), noErr);
    EXPECT_EQ(host.getStringCalls, 3);
    EXPECT_EQ(host.recordedText("Satu"), "12");
    EXPECT_EQ(host.recordedText("Xtra"), "<missing>");
    EXPECT_EQ(host.recordedText("SMth"), "1");
    EXPECT_EQ(host.recorded.back().key, key("SMth")) << "after the 36";
}

TEST_F(Scripting, AValueThatIsNotTextKeepsTheDefault)
{
    FakeHost host(8, 8, 3, 8);
    host.playDescriptor = true;
    host.playback = { { key("ShLv"), "", false }, { key("ShDt"), "7" } };
    EXPECT_EQ(host.run(), noErr);
    EXPECT_EQ(host.recordedText("ShLv"), "0");
    EXPECT_EQ(host.recordedText("ShDt"), "7");
}

TEST_F(Scripting, TheReadersClosingErrorBecomesTheResult)
{
    FakeHost host(8, 8, 3, 8);
    host.playDescriptor = true;
    host.playback = { { key("EnDr"), "1" } };
    host.closeReadResult = -1234;
    EXPECT_EQ(host.run(), -1234);
    EXPECT_TRUE(host.recordedSomething) << "the run still went through";
}

TEST_F(Scripting, AMenuInvocationAsksForTheDialog)
{
    FakeHost host(8, 8, 3, 8);
    host.fillInput(5);
    host.copyInputToOutput = false;
    host.playDescriptor = false; // null descriptor: the host's open gives no token
    host.playInfo = plugInDialogDisplay;
    DialogCanceller canceller;
    EXPECT_EQ(host.run(), userCanceledErr) << "the dialog was cancelled, or there is none";
    EXPECT_EQ(takeMessages().size(), kDialogBuild ? 0u : 1u);
    // A cancelled dialog still records the settings, the defaults here; the Sharpness page
    // stores the sharpening method, which is then carried too.
    std::vector<uint32_t> expected = canonicalKeys();
    if (kDialogBuild)
        expected.push_back(key("SMth"));
    EXPECT_EQ(recordedKeys(host), expected);
    EXPECT_EQ(host.recordedText("ShCl"), "0.00000000");
    EXPECT_EQ(host.recordedText("Gmma"), "0");
    EXPECT_EQ(host.disposedHandles, 0);
}

TEST_F(Scripting, ANullDescriptorWithoutDisplayRunsDirectly)
{
    FakeHost host(8, 8, 3, 8);
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

    FakeHost noWriter(8, 8, 3, 8);
    noWriter.playDescriptor = true;
    noWriter.openWriteFails = true;
    EXPECT_EQ(noWriter.run(), noErr);
    EXPECT_FALSE(noWriter.recordedSomething);
}

} // namespace
} // namespace quarvel::test
