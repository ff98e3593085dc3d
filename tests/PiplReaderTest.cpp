// The host's PiPL reader against broken and hostile property lists. Every input is handed over
// in a buffer of exactly its size, so a read past the end shows up under AddressSanitizer.
#include "tools/host/PiplReader.h"

#include "pluginapi/PluginApi.h"
#include "resources/PluginResources.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace {

using namespace std::string_literals;
using Bytes = std::vector<uint8_t>;
using pluginapi::fourCC;

const uint32_t kWx86 = pluginapi::PIWin32X86CodeProperty;
const uint32_t k8664 = pluginapi::PIWin64X86CodeProperty;
const uint32_t kForeign = fourCC("ADBE");

struct Read {
    bool ok;
    quarvel::host::PiplFilterInfo info;
    std::string error;
};

Read read(const Bytes& bytes, uint32_t code = kWx86)
{
    const std::unique_ptr<uint8_t[]> exact(new uint8_t[bytes.size()]);
    std::copy(bytes.begin(), bytes.end(), exact.get());
    Read r;
    r.ok = quarvel::host::readPiplFilterInfo(exact.get(), bytes.size(), code, r.info, r.error);
    return r;
}

struct Prop {
    uint32_t key;
    std::string data;
    int64_t length = -1; // -1: the data's size; anything else is written as is
    uint32_t vendor = pluginapi::kPhotoshopSignature;
};

const Prop kKind { pluginapi::PIKindProperty, "MFB8" };
const Prop kGo { kWx86, "Go\0\0"s };

Bytes build(const std::vector<Prop>& props, int64_t count = -1)
{
    quarvel::resources::ByteWriter w;
    w.put16(1);
    w.put32(0);
    w.put32(uint32_t(count < 0 ? int64_t(props.size()) : count));
    for (const Prop& p : props) {
        w.putCode(p.vendor);
        w.putCode(p.key);
        w.put32(0);
        w.put32(uint32_t(p.length < 0 ? int64_t(p.data.size()) : p.length));
        w.putBytes(Bytes(p.data.begin(), p.data.end()));
    }
    return w.bytes();
}

void expectFails(const Bytes& b, const std::string& messagePart, uint32_t code = kWx86)
{
    const Read r = read(b, code);
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.error.find(messagePart), std::string::npos) << r.error;
}

TEST(PiplReader, EveryTruncationOfOurOwnPiplFails)
{
    for (const bool module64 : { false, true }) {
        const Bytes full = quarvel::resources::pipl(module64);
        ASSERT_TRUE(read(full).ok);
        for (size_t n = 0; n < full.size(); ++n) {
            const Read r = read(Bytes(full.begin(), full.begin() + long(n)));
            EXPECT_TRUE(!r.ok && !r.error.empty()) << n;
        }
    }
}

TEST(PiplReader, HeaderAndCount)
{
    const Bytes good = build({ kKind, kGo });
    ASSERT_TRUE(read(good).ok);
    for (const auto& [at, value, message] : { std::make_tuple(0, 0, "start with 1"),
             std::make_tuple(1, 1, "start with 1"), std::make_tuple(2, 1, "version 1") }) {
        Bytes b = good;
        b[size_t(at)] = uint8_t(value);
        expectFails(b, message);
    }
    for (const int64_t count : { 0xFFFFFFFFll, 0x80000000ll })
        expectFails(build({ kKind, kGo }, count), "negative");
    expectFails(
        build({ kKind, kGo }, 0x7FFFFFFF), "ends inside a property header (property 3 of 2147483647)");
    expectFails(build({}), "no 'kind'");
    expectFails(Bytes {}, "shorter than the PiPL header");
}

TEST(PiplReader, PropertyLengths)
{
    for (const int64_t length : { 0xFFFFFFFCll, 0xFFFFFFFFll, 0x80000000ll, 0x7FFFFFFFll, 5ll }) {
        SCOPED_TRACE(length);
        expectFails(build({ kKind, { kWx86, "Go\0\0"s, length } }), "claims");
    }
    // Other vendors' properties are skipped whatever their key, but must still fit.
    EXPECT_EQ(read(build({ { kWx86, "Bad\0"s, -1, kForeign }, kKind, kGo })).info.entryPoint, "Go");
    expectFails(build({ { kWx86, "Bad\0"s, 400, kForeign }, kKind, kGo }), "claims");

    // Lengths without their padding are stepped over rounded up; at the very end the padding
    // may be missing altogether.
    const Read r = read(build({ kKind, { pluginapi::PINameProperty, "\2ab\0"s, 3 },
        { pluginapi::PICategoryProperty, "\1c\0\0"s, 2 }, { kWx86, "Go", 2 } }));
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.info.name + "/" + r.info.category + "/" + r.info.entryPoint, "ab/c/Go");
}

TEST(PiplReader, KindAndVersion)
{
    expectFails(build({ { pluginapi::PIKindProperty, "MAB8" }, kGo }), "not a filter (kind '8BAM')");
    expectFails(build({ { pluginapi::PIKindProperty, "MF" }, kGo }), "too short");
    expectFails(build({ { pluginapi::PIKindProperty, "MFB8", -1, kForeign }, kGo }), "no 'kind'");

    const Read newer = read(build({ kKind, { pluginapi::PIVersionProperty, "\1\0\4\0"s }, kGo }));
    EXPECT_FALSE(newer.ok);
    EXPECT_EQ(newer.error, "the module needs filter interface 4.1, this host offers 4.0");
    expectFails(build({ kKind, { pluginapi::PIVersionProperty, "\0\0\5\0"s }, kGo }), "interface 5.0");
    expectFails(build({ kKind, { pluginapi::PIVersionProperty, "\0\0"s }, kGo }), "too short");
    for (const auto& accepted : { "\0\0\4\0"s, "\xff\xff\3\0"s, "\0\0\0\0"s }) {
        const Read r = read(build({ kKind, { pluginapi::PIVersionProperty, accepted }, kGo }));
        EXPECT_TRUE(r.ok) << r.error;
    }
}

TEST(PiplReader, EntryPointAndStrings)
{
    expectFails(build({ kKind, kGo }), "names no entry point under '8664'", k8664);
    expectFails(build({ kKind, { kWx86, std::string(4, '\0') } }), "names no entry point");
    // Without a NUL the name ends with its property, not in the next one; the last one counts.
    EXPECT_EQ(read(build({ kKind, { kWx86, "ENTRYPOINTXY" }, { k8664, "Zz\0\0"s } })).info.entryPoint,
        "ENTRYPOINTXY");
    const Bytes both = build({ kKind, { kWx86, "Old\0"s }, { k8664, "Go\0\0"s }, { kWx86, "New\0"s } });
    EXPECT_EQ(read(both).info.entryPoint, "New");
    EXPECT_EQ(read(both, k8664).info.entryPoint, "Go");

    const char* const tooLong = "longer than the property";
    expectFails(build({ kKind, { pluginapi::PINameProperty, "\4abc" }, kGo }), tooLong);
    expectFails(build({ kKind, { pluginapi::PICategoryProperty, "\xff" }, kGo }), tooLong);
    const Read empty = read(build({ kKind, { pluginapi::PINameProperty, "" }, kGo }));
    EXPECT_TRUE(empty.ok && empty.info.name.empty()) << empty.error;
}

} // namespace
