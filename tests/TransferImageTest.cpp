// The conversion between host buffers and working buffers, tried directly on FilterContext.
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

Boolean countingAbort()
{
    const bool stop = gStopAtPoll >= 0 && gPolls >= gStopAtPoll;
    ++gPolls;
    return stop ? 1 : 0;
}

class Transfer : public ::testing::Test {
protected:
    void SetUp() override
    {
        gPolls = 0;
        gStopAtPoll = -1;
        record.abortProc = countingAbort;
        context.filterRecord = &record;
    }
    void TearDown() override
    {
        for (void* block : blocks)
            platform::freeBlock(block);
        platform::setAllocationLimit(0);
    }

    ImageBuffer host(std::vector<uint8_t>& bytes, int rows, int cols, int channels, int bits)
    {
        bytes.assign(size_t(rows) * size_t(cols) * size_t(channels) * size_t(bits / 8), 0);
        ImageBuffer b;
        b.data = bytes.data();
        b.rows = rows;
        b.cols = cols;
        b.channels = channels;
        b.bits = bits;
        b.order = kOrderRGB;
        return b;
    }
    ImageBuffer work(int rows, int cols)
    {
        ImageBuffer b;
        b.rows = rows;
        b.cols = cols;
        b.channels = kWorkChannels;
        b.bits = kWorkBits;
        b.order = kOrderBGR;
        return b;
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

uint16_t get16(const std::vector<uint8_t>& b, size_t sample)
{
    return uint16_t(b[2 * sample] | (b[2 * sample + 1] << 8));
}

void put16(std::vector<uint8_t>& b, size_t sample, uint16_t v)
{
    b[2 * sample] = uint8_t(v & 0xFF);
    b[2 * sample + 1] = uint8_t(v >> 8);
}

TEST_F(Transfer, EightBitRgbBecomesBlueGreenRedZeroAndComesBackIdentical)
{
    std::vector<uint8_t> in, out;
    ImageBuffer input = host(in, 2, 3, 3, 8);
    for (size_t i = 0; i < in.size(); ++i)
        in[i] = uint8_t(i * 37 + 1);
    ImageBuffer w = work(2, 3);
    EXPECT_EQ(transfer(w, input), 0);
    ASSERT_NE(w.data, nullptr);
    for (int p = 0; p < 6; ++p) {
        EXPECT_EQ(w.data[4 * p + 0], in[3 * p + 2]);
        EXPECT_EQ(w.data[4 * p + 1], in[3 * p + 1]);
        EXPECT_EQ(w.data[4 * p + 2], in[3 * p + 0]);
        EXPECT_EQ(w.data[4 * p + 3], 0);
    }
    ImageBuffer output = host(out, 2, 3, 3, 8);
    EXPECT_EQ(transfer(output, w), 0);
    EXPECT_EQ(out, in);
}

TEST_F(Transfer, TransparencyPlaneIsNeitherReadNorWritten)
{
    std::vector<uint8_t> in, out;
    ImageBuffer input = host(in, 1, 4, 4, 8);
    for (size_t i = 0; i < in.size(); ++i)
        in[i] = uint8_t(200 + i);
    ImageBuffer w = work(1, 4);
    transfer(w, input);
    for (int p = 0; p < 4; ++p)
        EXPECT_EQ(w.data[4 * p + 3], 0);
    ImageBuffer output = host(out, 1, 4, 4, 8);
    for (int p = 0; p < 4; ++p)
        out[4 * p + 3] = uint8_t(p + 1);
    transfer(output, w);
    for (int p = 0; p < 4; ++p) {
        EXPECT_EQ(out[4 * p + 0], in[4 * p + 0]);
        EXPECT_EQ(out[4 * p + 3], p + 1) << "the host keeps its own transparency";
    }
}

TEST_F(Transfer, SixteenBitSamplesKeepTheirLowBitsWhenUnchanged)
{
    std::vector<uint8_t> in, out;
    ImageBuffer input = host(in, 1, 3, 3, 16);
    const uint16_t values[9] = { 1000, 32768, 0, 127, 128, 32767, 16383, 12345, 1 };
    for (size_t i = 0; i < 9; ++i)
        put16(in, i, values[i]);
    ImageBuffer w = work(1, 3);
    transfer(w, input);
    EXPECT_EQ(w.data[2], 7) << "1000 >> 7";
    EXPECT_EQ(w.data[1], 255) << "full white";
    EXPECT_EQ(w.data[0], 0);

    out = in; // the host's output starts as a copy of the input
    ImageBuffer output = host(out, 1, 3, 3, 16);
    out = in;
    output.data = out.data();
    transfer(output, w);
    for (size_t i = 0; i < 9; ++i)
        EXPECT_EQ(get16(out, i), values[i]) << "sample " << i;
}

TEST_F(Transfer, SixteenBitSamplesChangedInEightBitsTakeTheHostsLowBits)
{
    std::vector<uint8_t> in, out;
    ImageBuffer input = host(in, 1, 1, 3, 16);
    put16(in, 0, 1000); // low bits 104
    put16(in, 1, 32768); // full white, then darkened
    put16(in, 2, 300); // low bits 44, then brightened to 255
    ImageBuffer w = work(1, 1);
    transfer(w, input);
    w.data[2] = 200;
    w.data[1] = 100;
    w.data[0] = 255;
    out = in;
    ImageBuffer output = host(out, 1, 1, 3, 16);
    out = in;
    output.data = out.data();
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
    std::vector<uint8_t> odd, target;
    ImageBuffer twelve = host(odd, 2, 2, 3, 16);
    twelve.bits = 12;
    odd.assign(odd.size(), 0xAB);
    ImageBuffer dest = host(target, 2, 2, 3, 8);
    EXPECT_EQ(transfer(dest, twelve), 0);
    for (uint8_t b : target)
        EXPECT_EQ(b, 0);
}

TEST_F(Transfer, PollsBeforeTheFirstRowAndAfterEveryTwentiethRow)
{
    std::vector<uint8_t> in;
    ImageBuffer input = host(in, 45, 2, 3, 8);
    ImageBuffer w = work(45, 2);
    EXPECT_EQ(transfer(w, input), 0);
    EXPECT_EQ(gPolls, 3);

    gPolls = 0;
    std::vector<uint8_t> exact;
    ImageBuffer forty = host(exact, 40, 2, 3, 8);
    ImageBuffer w40 = work(40, 2);
    transfer(w40, forty);
    EXPECT_EQ(gPolls, 3) << "the poll after row 40 happens even when it is the last";
}

TEST_F(Transfer, AnAbortStopsAtTheNextRowCheck)
{
    std::vector<uint8_t> in;
    ImageBuffer input = host(in, 45, 1, 3, 8);
    in.assign(in.size(), 9);
    ImageBuffer w = work(45, 1);
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
    ImageBuffer input;
    input.data = in.data();
    input.rows = 2;
    input.cols = 2;
    input.channels = 3;
    input.bits = 8;
    input.rowBytes = 8;
    for (int r = 0; r < 2; ++r)
        for (int i = 0; i < 6; ++i)
            in[size_t(r) * 8 + size_t(i)] = uint8_t(10 * r + i);
    ImageBuffer w = work(2, 2);
    transfer(w, input);
    EXPECT_EQ(w.data[8 + 2], 10) << "row 1 red";
    EXPECT_EQ(w.data[8 + 4 + 0], 15) << "row 1, pixel 1 blue";
}

TEST_F(Transfer, AWorkingBufferThatCannotBeAllocatedStaysNull)
{
    std::vector<uint8_t> in;
    ImageBuffer input = host(in, 10, 10, 3, 8);
    platform::setAllocationLimit(100);
    ImageBuffer w = work(10, 10);
    EXPECT_EQ(transfer(w, input), 0);
    EXPECT_EQ(w.data, nullptr);
}

TEST_F(Transfer, TheDialogCopyIsASeparateBlockWithTheSameBytes)
{
    std::vector<uint8_t> in;
    ImageBuffer input = host(in, 3, 3, 3, 8);
    for (size_t i = 0; i < in.size(); ++i)
        in[i] = uint8_t(i);
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
    static int progress = 0;
    static int polls = 0;
    FilterRecord record {};
    record.progressProc = [](int32_t, int32_t) { ++progress; };
    record.abortProc = []() -> Boolean {
        ++polls;
        return 1;
    };
    FilterContext context;
    context.filterRecord = &record;
    EXPECT_EQ(context.reportToHost(1, 5, 10), 1);
    EXPECT_EQ(progress, 1);
    EXPECT_EQ(polls, 1);
    EXPECT_EQ(context.reportToHost(2, 5, 10), 1);
    EXPECT_EQ(progress, 1);
    EXPECT_EQ(polls, 2);
    EXPECT_EQ(context.reportToHost(3, 5, 10), 0);
    EXPECT_EQ(polls, 2);
}

} // namespace
} // namespace quarvel
