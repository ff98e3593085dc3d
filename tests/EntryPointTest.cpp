// The entry point as a host sees it: selectors, the prepare refusal, and a start call that
// reads the whole image and writes it back. Natively this drives the linked-in core; the
// Windows build of the same file drives the real module.
#include "tests/support/FakeHost.h"

#include <gtest/gtest.h>

#include <vector>

namespace quarvel::test {
namespace {

using namespace pluginapi;

bool rectsCleared(const FilterRecord& r)
{
    for (const Rect& rect : { r.inRect, r.outRect, r.maskRect })
        if (rect.top || rect.left || rect.bottom || rect.right)
            return false;
    return true;
}

class EntryPoint : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(pluginEntry(), nullptr) << "the plug-in's entry point was not found";
        startMessageWatch();
        takeMessages();
    }
};

TEST_F(EntryPoint, ProtocolSelectorsDoNothingAndUnknownOnesAreBadParameters)
{
    FakeHost host(8, 8, 3, 8);
    for (int16_t selector :
        { filterSelectorAbout, filterSelectorParameters, filterSelectorContinue, filterSelectorFinish })
        EXPECT_EQ(host.call(selector), noErr) << "selector " << selector;
    for (int16_t selector : { 6, -1, 32767 })
        EXPECT_EQ(host.call(selector), filterBadParameters) << "selector " << selector;
    EXPECT_EQ(host.advanceCalls, 0);
    EXPECT_TRUE(takeMessages().empty()) << "no about box or message for these selectors";
}

TEST_F(EntryPoint, PrepareRefusesImagesOfFivePixelsOrLessOnASide)
{
    FakeHost accepted(6, 6, 3, 8);
    EXPECT_EQ(accepted.call(filterSelectorPrepare), noErr);
    EXPECT_TRUE(takeMessages().empty());

    for (auto [w, h] : { std::pair { 5, 100 }, std::pair { 100, 5 } }) {
        FakeHost refused(w, h, 3, 8);
        refused.record.outRect = refused.record.filterRect;
        EXPECT_EQ(refused.call(filterSelectorPrepare), userCanceledErr) << w << "x" << h;
        const auto shown = takeMessages();
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].text, "The image width and height must be greater than 5 pixels.");
        EXPECT_EQ(shown[0].caption, "Quarvel");
        // The memory fields are set even for a refused image.
        EXPECT_EQ(refused.record.maxSpace, w * h * 8);
        EXPECT_EQ(refused.record.bufferSpace, 0);
    }
}

TEST_F(EntryPoint, PrepareAsksForEightBytesPerPixelOfTheCurrentOutputRect)
{
    FakeHost host(100, 50, 3, 8);
    host.record.bufferSpace = 999;
    host.record.outRect = Rect { 0, 0, 10, 20 }; // not the filter rectangle: the record as it is now
    EXPECT_EQ(host.call(filterSelectorPrepare), noErr);
    EXPECT_EQ(host.record.maxSpace, 10 * 20 * 8);
    EXPECT_EQ(host.record.bufferSpace, 0);

    // The largest rectangle a record can hold needs more than 32 bits; it must not wrap.
    host.record.outRect = Rect { 0, 0, 32767, 32767 };
    EXPECT_EQ(host.call(filterSelectorPrepare), noErr);
    EXPECT_EQ(host.record.maxSpace, INT32_MAX);
}

TEST_F(EntryPoint, StartWritesEveryKindOfImageBackUnchanged)
{
    struct Case {
        int planes, bits, padding;
    };
    for (const Case c : { Case { 3, 8, 0 }, Case { 4, 8, 0 }, Case { 3, 16, 0 }, Case { 4, 16, 0 },
             Case { 3, 8, 5 }, Case { 3, 16, 6 } }) {
        SCOPED_TRACE(
            testing::Message() << c.planes << " planes, " << c.bits << " bits, padding " << c.padding);
        FakeHost host(37, 45, c.planes, c.bits, c.padding);
        host.fillInput(uint32_t(c.planes * 100 + c.bits + c.padding));
        if (c.bits == 16) {
            host.setInput(0, 0, 0, 32768); // full white must survive too
            host.setInput(1, 0, 1, 1000);
        }
        host.copyInputToOutput = true;
        EXPECT_EQ(host.run(), noErr);
        EXPECT_EQ(host.advanceCalls, 1) << "the whole image in one request";
        EXPECT_TRUE(host.outputEqualsInput());
        EXPECT_TRUE(rectsCleared(host.record));
        // Read and write-back poll 3 times each (before row 0, after rows 20 and 40); the direct
        // run polls at its start, at begin, at each of 23 steps (every 2nd of 45 rows) and at end;
        // the detail stages, on but with nothing to do, poll at their begin and once more.
        EXPECT_EQ(host.polls, 3 + 26 + 2 + 3);
        EXPECT_EQ(host.progressCalls, 26) << "the host's bar: begin, 23 steps, detail begin, end";
    }
}

TEST_F(EntryPoint, StartAsksForEveryPlaneOfTheFilterRectangleAtFullRate)
{
    FakeHost host(12, 9, 4, 8);
    host.record.inputRate = 5;
    EXPECT_EQ(host.run(), noErr);
    // The request itself is gone by now; what remains visible is what a host would check.
    const FilterRecord& r = host.record;
    EXPECT_EQ(std::vector<int>({ r.inLoPlane, r.inHiPlane, r.outLoPlane, r.outHiPlane }),
        std::vector<int>({ 0, 3, 0, 3 }));
    EXPECT_EQ(r.inputRate, 0x10000);
    EXPECT_EQ(r.maskRate, 0x10000);
}

TEST_F(EntryPoint, AbortWhileReadingWritesNothingBack)
{
    FakeHost host(10, 45, 3, 8);
    host.fillInput(7);
    host.copyInputToOutput = false; // so that any write-back would show
    host.abortAfterPolls = 1; // the poll after row 20 says stop
    EXPECT_EQ(host.run(), noErr) << "an abort while reading keeps the result";
    EXPECT_EQ(host.polls, 2);
    for (int y = 0; y < 45; ++y)
        for (int x = 0; x < 10; ++x)
            ASSERT_EQ(host.output(x, y, 0), 0u);
    EXPECT_TRUE(rectsCleared(host.record));
}

TEST_F(EntryPoint, AHostThatCannotDeliverTheImageEndsStartInOrder)
{
    for (int fault = 0; fault < 4; ++fault) {
        FakeHost host(10, 10, fault == 3 ? 1 : 3, 8);
        host.advanceError = fault == 0 ? memFullErr : 0;
        host.deliverNullData = fault == 1;
        if (fault == 2)
            host.record.advanceState = nullptr;
        if (fault == 3)
            host.record.imageMode = plugInModeGrayScale; // fewer than three planes is never read past
        const OSErr expected[]
            = { memFullErr, errPlugInHostInsufficient, errPlugInHostInsufficient, filterBadMode };
        EXPECT_EQ(host.run(), expected[fault]) << "fault " << fault;
        EXPECT_TRUE(rectsCleared(host.record)) << "fault " << fault;
    }
}

TEST_F(EntryPoint, ANullResultPointerOrRecordIsSurvived)
{
    FakeHost host(8, 8, 3, 8);
    intptr_t data = 0;
    pluginEntry()(filterSelectorAbout, &host.record, &data, nullptr);
    int16_t result = 1;
    pluginEntry()(filterSelectorStart, nullptr, &data, &result);
    EXPECT_EQ(result, noErr);
}

} // namespace
} // namespace quarvel::test
