// The conversion between host buffers and working buffers, tried directly on FilterContext. The
// round trip of every kind of image is the entry point test's; here are the rules behind it.
#include "host/FilterContext.h"
#include "platform/Platform.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace quarvel {
namespace {

using namespace pluginapi;

int gPolls = 0;
int gStopAtPoll = -1;

class Transfer : public ::testing::Test {
protected:
    void SetUp() override
    {
        gPolls = 0;
        gStopAtPoll = -1;
        record.abortProc = [] {
            const bool stop = gStopAtPoll >= 0 && gPolls >= gStopAtPoll;
            ++gPolls;
            return Boolean(stop);
        };
        context.filterRecord = &record;
    }
    void TearDown() override
    {
        for (void* block : blocks)
            platform::freeBlock(block);
        platform::setAllocationLimit(0);
    }
    // A host buffer over `bytes`, sized to fit (what it holds already is kept).
    static ImageBuffer host(std::vector<uint8_t>& bytes, int rows, int cols, int channels, int bits)
    {
        bytes.resize(size_t(rows) * size_t(cols) * size_t(channels) * size_t(bits / 8));
        return ImageBuffer { bytes.data(), rows, cols, channels, bits, kOrderRGB };
    }
    // A working buffer, allocated by the transfer into it.
    static ImageBuffer work(int rows, int cols)
    {
        return ImageBuffer { nullptr, rows, cols, kWorkChannels, kWorkBits, kOrderBGR };
    }
    int transfer(ImageBuffer& to, const ImageBuffer& from)
    {
        const bool allocating = to.data == nullptr;
        const int aborted = context.transferImage(to, from);
        if (allocating && to.data)
            blocks.push_back(to.data);
        return aborted;
    }

    FilterRecord record {};
    FilterContext context;
    std::vector<void*> blocks;
};

uint16_t get16(const std::vector<uint8_t>& b, size_t i) { return uint16_t(b[2 * i] | b[2 * i + 1] << 8); }
void put16(std::vector<uint8_t>& b, size_t i, uint16_t v)
{
    b[2 * i] = uint8_t(v), b[2 * i + 1] = uint8_t(v >> 8);
}

TEST_F(Transfer, EightBitRgbBecomesBlueGreenRedZeroAndTransparencyIsNeitherReadNorWritten)
{
    std::vector<uint8_t> in, out;
    ImageBuffer input = host(in, 2, 3, 4, 8);
    for (size_t i = 0; i < in.size(); ++i)
        in[i] = uint8_t(i * 37 + 1);
    ImageBuffer w = work(2, 3);
    EXPECT_EQ(transfer(w, input), 0);
    ASSERT_NE(w.data, nullptr);
    for (int p = 0; p < 6; ++p)
        EXPECT_EQ(std::vector<uint8_t>(w.data + 4 * p, w.data + 4 * p + 4),
            (std::vector<uint8_t> { in[4 * p + 2], in[4 * p + 1], in[4 * p], 0 }));
    ImageBuffer output = host(out, 2, 3, 4, 8);
    for (int p = 0; p < 6; ++p)
        out[4 * p + 3] = uint8_t(p + 1);
    transfer(output, w);
    for (int p = 0; p < 6; ++p) {
        EXPECT_EQ(std::vector<uint8_t>(&out[4 * p], &out[4 * p + 3]),
            std::vector<uint8_t>(&in[4 * p], &in[4 * p + 3]));
        EXPECT_EQ(out[4 * p + 3], p + 1) << "the host keeps its own transparency";
    }
}

TEST_F(Transfer, SixteenBitSamplesChangedInEightBitsTakeTheHostsLowBits)
{
    std::vector<uint8_t> in;
    ImageBuffer input = host(in, 1, 1, 3, 16);
    put16(in, 0, 1000); // low bits 104
    put16(in, 1, 32768); // full white, then darkened
    put16(in, 2, 300); // low bits 44, then brightened to 255
    ImageBuffer w = work(1, 1);
    transfer(w, input);
    EXPECT_EQ(w.data[2], 7) << "1000 >> 7";
    EXPECT_EQ(w.data[1], 255) << "full white";
    EXPECT_EQ(w.data[0], 2);
    w.data[2] = 200;
    w.data[1] = 100;
    w.data[0] = 255;
    std::vector<uint8_t> out = in; // the host's output starts as a copy of the input
    ImageBuffer output = host(out, 1, 1, 3, 16);
    transfer(output, w);
    EXPECT_EQ(get16(out, 0), 25600 + 104);
    EXPECT_EQ(get16(out, 1), 12800);
    EXPECT_EQ(get16(out, 2), 32640 + 44);
}

TEST_F(Transfer, SixteenToSixteenAndUnsupportedPairs)
{
    std::vector<uint8_t> in, out;
    ImageBuffer input = host(in, 2, 2, 3, 16);
    for (size_t i = 0; i < 12; ++i)
        put16(in, i, uint16_t(i * 2731));
    ImageBuffer output = host(out, 2, 2, 3, 16);
    transfer(output, input);
    EXPECT_EQ(out, in);

    // 12-bit samples are no pair of ours: nothing moves.
    std::vector<uint8_t> odd(24, 0xAB), target;
    ImageBuffer twelve = host(odd, 2, 2, 3, 16);
    twelve.bits = 12;
    ImageBuffer dest = host(target, 2, 2, 3, 8);
    EXPECT_EQ(transfer(dest, twelve), 0);
    EXPECT_EQ(target, std::vector<uint8_t>(12, 0));
}

TEST_F(Transfer, PollsBeforeTheFirstRowAndAfterEveryTwentiethRowAndAnAbortStopsThere)
{
    for (int rows : { 45, 40 }) { // the poll after row 40 happens even when it is the last
        std::vector<uint8_t> in;
        ImageBuffer input = host(in, rows, 2, 3, 8);
        ImageBuffer w = work(rows, 2);
        gPolls = 0;
        EXPECT_EQ(transfer(w, input), 0);
        EXPECT_EQ(gPolls, 3) << rows;
    }
    std::vector<uint8_t> in(45 * 3, 9);
    ImageBuffer input = host(in, 45, 1, 3, 8);
    ImageBuffer w = work(45, 1);
    gPolls = 0;
    gStopAtPoll = 1; // after row 20
    EXPECT_EQ(transfer(w, input), 1);
    EXPECT_EQ(gPolls, 2);
    for (int r = 0; r < 45; ++r)
        EXPECT_EQ(w.data[4 * r], r < 20 ? 9 : 0) << "row " << r;

    gPolls = 0;
    gStopAtPoll = 0;
    ImageBuffer w2 = work(45, 1);
    EXPECT_EQ(transfer(w2, input), 1) << "an abort before the first row transfers nothing";
    ASSERT_NE(w2.data, nullptr);
    EXPECT_EQ(w2.data[0], 0);
}

TEST_F(Transfer, PaddedHostRowsAreAddressedByTheirStride)
{
    std::vector<uint8_t> in(2 * 8, 0xEE);
    ImageBuffer input { in.data(), 2, 2, 3, 8, kOrderRGB, 8 };
    for (int r = 0; r < 2; ++r)
        for (int i = 0; i < 6; ++i)
            in[size_t(r) * 8 + size_t(i)] = uint8_t(10 * r + i);
    ImageBuffer w = work(2, 2);
    transfer(w, input);
    EXPECT_EQ(w.data[8 + 2], 10) << "row 1 red";
    EXPECT_EQ(w.data[8 + 4 + 0], 15) << "row 1, pixel 1 blue";
}

TEST_F(Transfer, AWorkingBufferThatCannotBeAllocatedStaysNullAndTheDialogCopyIsASeparateBlock)
{
    std::vector<uint8_t> in;
    ImageBuffer input = host(in, 3, 3, 3, 8);
    for (size_t i = 0; i < in.size(); ++i)
        in[i] = uint8_t(i);
    platform::setAllocationLimit(10);
    ImageBuffer w = work(3, 3);
    EXPECT_EQ(transfer(w, input), 0);
    EXPECT_EQ(w.data, nullptr);
    platform::setAllocationLimit(0);

    context.workBuffer = work(3, 3);
    transfer(context.workBuffer, input);
    ASSERT_TRUE(context.copyToDialogBuffer());
    blocks.push_back(context.dialogBuffer.data);
    EXPECT_NE(context.dialogBuffer.data, context.workBuffer.data);
    EXPECT_EQ(std::memcmp(context.dialogBuffer.data, context.workBuffer.data, 36), 0);
    EXPECT_EQ(context.dialogBuffer.rows, 3);
    EXPECT_EQ(context.dialogBuffer.order, kOrderBGR);
}

TEST(ReportToHost, ModesOneAndTwoPollAndOthersDoNothing)
{
    static int progress = 0, polls = 0;
    FilterRecord record {};
    record.progressProc = [](int32_t, int32_t) { ++progress; };
    record.abortProc = [] { return Boolean(++polls > 0); };
    FilterContext context;
    context.filterRecord = &record;
    for (auto [mode, result, progressAfter, pollsAfter] :
        { std::tuple { 1, 1, 1, 1 }, { 2, 1, 1, 2 }, { 3, 0, 1, 2 } }) {
        EXPECT_EQ(context.reportToHost(mode, 5, 10), result) << mode;
        EXPECT_EQ(progress, progressAfter) << mode;
        EXPECT_EQ(polls, pollsAfter) << mode;
    }
}

} // namespace
} // namespace quarvel
