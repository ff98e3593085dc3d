// An image file's samples through the host's planes and the plug-in and back: what the plug-in
// leaves alone comes back exactly as read, at any depth, and 8-bit samples are never copied.
#include "tools/host/HostImage.h"
#include "tests/support/FakeHost.h"
#include "tools/host/HostScale.h"
#include "tools/host/HostSettings.h"

#include <gtest/gtest.h>

namespace quarvel::host {
namespace {

// Every 16-bit value is as likely as any other; the left half is grey, which saturation leaves
// alone, so that a run with it on changes some samples and not others.
ImageFile makeFile(int width, int height, int channels, int bits)
{
    ImageFile file;
    std::tie(file.width, file.height, file.channels, file.bitsPerSample)
        = std::tie(width, height, channels, bits);
    file.pixels.resize(file.rowBytes() * size_t(height));
    uint16_t* samples = file.samples16();
    uint32_t state = 7;
    for (size_t i = 0; bits == 16 && i < file.pixels.size() / 2; ++i) {
        const size_t c = i % size_t(channels), x = i / size_t(channels) % size_t(width);
        state = state * 1103515245u + 12345u;
        samples[i] = x < size_t(width / 2) && c > 0 && c < 3 ? samples[i - c] : uint16_t(state >> 12);
    }
    return file;
}

SessionResult runWith(const std::vector<std::string>& settings, HostImage& image)
{
    SessionOptions options;
    options.hasDescriptor = true;
    std::string error;
    for (const std::string& setting : settings)
        EXPECT_TRUE(applySetting(setting, options.descriptor, error)) << error;
    return HostSession(test::pluginEntry(), options).run(image);
}

const std::vector<std::string> kEveryStageOff
    = { "DynamicEnable=0", "ColorEnable=0", "SharpEnable=0", "SmoothEnable=0" };

TEST(HostImage, SixteenBitFilesComeBackBitForBitFromARunWithEveryStageOff)
{
    test::startMessageWatch();
    for (int channels : { 3, 4 }) {
        SCOPED_TRACE(testing::Message() << channels << " channels");
        ImageFile file = makeFile(40, 30, channels, 16);
        const std::vector<uint8_t> read = file.pixels;
        HostImage image = toHostImage(file);
        ASSERT_TRUE(runWith(kEveryStageOff, image).imageChanged);
        fromHostImage(image, file);
        EXPECT_TRUE(file.pixels == read);
    }
}

TEST(HostImage, ChangedSamplesTakeTheNearestFileValueAndTransparencyComesBackAsRead)
{
    test::startMessageWatch();
    ImageFile file = makeFile(40, 30, 4, 16);
    const ImageFile read = file;
    HostImage image = toHostImage(file);
    const std::vector<uint8_t> before = image.samples;
    ASSERT_TRUE(runWith({ "Saturation=20" }, image).imageChanged);
    const std::vector<uint8_t> after = image.samples;
    fromHostImage(image, file);

    const auto* hostBefore = reinterpret_cast<const uint16_t*>(before.data());
    const auto* hostAfter = reinterpret_cast<const uint16_t*>(after.data());
    int changed = 0, kept = 0;
    for (size_t i = 0; i < file.pixels.size() / 2; ++i) {
        const uint16_t got = file.samples16()[i], original = read.samples16()[i];
        if (i % 4 == 3) {
            ASSERT_EQ(got, original) << "transparency at " << i;
        } else if (hostAfter[i] == hostBefore[i]) {
            ++kept;
            ASSERT_EQ(got, original) << "untouched sample " << i;
        } else {
            ++changed;
            ASSERT_EQ(got, hostToFile16(hostAfter[i])) << "changed sample " << i;
        }
    }
    EXPECT_GT(changed, 100);
    EXPECT_GT(kept, 100);
}

TEST(HostImage, EightBitSamplesMakeTheWholeTripWithoutACopy)
{
    test::startMessageWatch();
    ImageFile file = makeFile(64, 48, 3, 8);
    file.pixels.assign(file.pixels.size(), 90);
    const uint8_t* decoded = file.pixels.data();
    HostImage image = toHostImage(file);
    EXPECT_EQ(image.samples.data(), decoded);
    EXPECT_TRUE(file.pixels.empty());
    ASSERT_TRUE(runWith({ "ShadowAmount=40" }, image).imageChanged);
    fromHostImage(image, file);
    EXPECT_EQ(file.pixels.data(), decoded);
    EXPECT_NE(file.pixels[0], 90) << "the plug-in's result is what comes back";
    EXPECT_TRUE(image.samples.empty());
}

} // namespace
} // namespace quarvel::host
