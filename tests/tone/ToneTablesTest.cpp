#include "tone/ByteBlend.h"
#include "tone/ToneFilter.h"

#include <gtest/gtest.h>

#include <vector>

namespace quarvel {
namespace {

TEST(ByteBlend, BlendsAndTheirWrappingMix)
{
    EXPECT_EQ(screenBlend(77, 0), 77);
    EXPECT_EQ(screenBlend(77, 255), 255);
    EXPECT_EQ(multiplyBlend(77, 255), 77);
    EXPECT_EQ(multiplyBlend(77, 0), 0);
    EXPECT_EQ(midtoneBump(0), 0);
    EXPECT_EQ(midtoneBump(128), 128);
    EXPECT_EQ(midtoneBump(255), 2);
    EXPECT_EQ(percentMix(200, 100, 50), 150);
    EXPECT_EQ(percentMix(0, 100, 150), uint8_t(-49)); // -4950 / 100 truncated, low 8 bits
    EXPECT_EQ(percentMix(255, 0, 200), uint8_t(510));
    EXPECT_EQ(splitHundreds(150).q, 1);
    EXPECT_EQ(splitHundreds(150).r, 50);
    EXPECT_EQ(splitHundreds(-50).q, 0);
    EXPECT_EQ(splitHundreds(-50).r, -50);
    EXPECT_EQ(splitHundreds(-250).q, -2);
    EXPECT_EQ(splitHundreds(-250).r, -50);
}

TEST(ToneTables, WorkedLevels)
{
    struct Row {
        const char* name;
        int32_t shadowAmount, shadowLevel, shadowContrast, hilightAmount, hilightLevel;
        std::vector<int> levels, expected;
    };
    const std::vector<int> shadow = { 0, 16, 32, 64, 128, 192, 255 },
                           hilight = { 0, 16, 64, 128, 192, 224, 255 };
    const Row rows[] = { { "Shadow50", 50, 0, 150, 0, 0, shadow, { 0, 30, 57, 100, 160, 204, 255 } },
        { "Shadow50Level100", 50, 100, 150, 0, 0, shadow, { 0, 44, 81, 136, 192, 216, 255 } },
        { "Shadow50Contrast0", 50, 0, 0, 0, 0, shadow, { 0, 47, 77, 112, 148, 195, 255 } },
        { "Shadow50Level400Contrast0", 50, 400, 0, 0, 0, shadow, { 0, 136, 144, 160, 192, 205, 255 } },
        { "Hilight50", 0, 0, 150, 50, 0, hilight, { 0, 15, 52, 96, 156, 200, 254 } },
        { "Hilight50Level100", 0, 0, 150, 50, 100, hilight, { 0, 14, 40, 64, 120, 175, 253 } } };
    for (const Row& row : rows) {
        ToneFilter f;
        f.shadowAmount = row.shadowAmount;
        f.shadowLevel = row.shadowLevel;
        f.shadowContrast = row.shadowContrast;
        f.hilightAmount = row.hilightAmount;
        f.hilightLevel = row.hilightLevel;
        f.buildTables();
        for (size_t n = 0; n < row.levels.size(); ++n)
            for (int c = 0; c < 3; ++c)
                EXPECT_EQ(f.toneTable[c][row.levels[n]], row.expected[n])
                    << row.name << ", level " << row.levels[n];
    }
}

bool isIdentity(const ToneFilter& f)
{
    for (int c = 0; c < 3; ++c)
        for (int i = 0; i < 256; ++i)
            if (f.toneTable[c][i] != i || f.colorCurve[c].lookup(i) != i)
                return false;
    return true;
}

TEST(ToneTables, NeutralSettingsGiveIdentityTablesWhateverTheHistogram)
{
    ToneFilter f;
    for (auto [c, level] : { std::pair { 0, 30 }, { 1, 200 }, { 2, 90 } })
        f.imageHistogram.add(uint8_t(c), uint8_t(level), 500);
    f.buildTables();
    EXPECT_TRUE(isIdentity(f));
}

TEST(ToneTables, GammaMovesTheMiddleOfTheClippedRange)
{
    ToneFilter f;
    f.gamma = 20; // curve through (0, 0), (127, 147), (255, 255)
    f.buildTables();
    EXPECT_EQ(f.toneTable[0][64], 74);
    EXPECT_EQ(f.toneTable[2][127], 147);
    EXPECT_EQ(f.toneTable[1][255], 255);
}

TEST(ToneTables, AutoExposureLiftsADarkPrediction)
{
    // Enough pixels at 100 that the smoothed means are 100: the point (127, 154) is added.
    ToneFilter f;
    for (uint8_t c = 0; c < 3; ++c)
        f.imageHistogram.add(c, 100, 100000);
    f.autoExposure = 1;
    f.buildTables();
    EXPECT_EQ(f.toneTable[0][64], 78);
    EXPECT_EQ(f.toneTable[1][127], 154);
}

TEST(ToneTables, AutoColourStretchesEachChannelByItself)
{
    ToneFilter f;
    // Channel 0 spans 40..200, channel 1 spans 0..255, channel 2 never filled.
    for (int i = 40; i <= 200; ++i)
        f.imageHistogram.add(0, uint8_t(i), 100);
    for (int i = 0; i <= 255; ++i)
        f.imageHistogram.add(1, uint8_t(i), 100);
    f.autoColor = 1;
    f.buildTables();
    // 16100 samples: 0.25 % is 40, one level of 100 from each end; black 41 -> 21, white 199 -> 227.
    EXPECT_EQ(f.colorCurve[0].lookup(41), 21);
    EXPECT_EQ(f.colorCurve[0].lookup(199), 227);
    // Channel 1: 25600 samples, 64 each side: black 1 stays 1, white 254 -> 255.
    EXPECT_EQ(f.colorCurve[1].lookup(1), 1);
    EXPECT_EQ(f.colorCurve[1].lookup(254), 255);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(f.colorCurve[2].lookup(i), i);
}

TEST(ToneTables, CrossedClipsOfAFlatImageMapItNearTheMiddle)
{
    ToneFilter f;
    for (uint8_t c = 0; c < 3; ++c)
        f.imageHistogram.add(c, 100, 1000);
    f.shadowClip = 20.0;
    f.hilightClip = 20.0;
    f.buildTables();
    // Points (99, 216) and (101, 25): level 100 lands on 120.5, rounded up.
    EXPECT_EQ(f.toneTable[0][100], 121);
    EXPECT_EQ(f.toneTable[1][99], 216);
    EXPECT_EQ(f.toneTable[2][101], 25);
}

TEST(ToneTables, SaturatedRepeatsGiveTheSameTablesAsFewerRepeats)
{
    // Shadow contrast -50000 repeats the screen 501 times; the screen of a level with itself is
    // white well before that, so the tables equal those of a far smaller repeat count that also
    // saturates.
    ToneFilter a, b;
    a.shadowAmount = b.shadowAmount = 40;
    a.shadowContrast = -50000 + 50;
    b.shadowContrast = -2000000000 + 50;
    a.buildTables();
    b.buildTables();
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(a.toneTable[0][i], b.toneTable[0][i]) << i;
}

} // namespace
} // namespace quarvel
