#include "resources/PluginResources.h"

#include "pluginapi/PluginApi.h"
#include "resources/ResourceIds.h"
#include "settings/ParameterTable.h"

#include <stdexcept>

namespace quarvel::resources {

using pluginapi::fourCC;

void ByteWriter::put8(uint8_t value) { bytes_.push_back(value); }

void ByteWriter::put16(uint16_t value)
{
    put8(uint8_t(value & 0xFF));
    put8(uint8_t(value >> 8));
}

void ByteWriter::put32(uint32_t value)
{
    put16(uint16_t(value & 0xFFFF));
    put16(uint16_t(value >> 16));
}

void ByteWriter::putPascal(const std::string& text)
{
    // A silently cut menu name or key name would be worse than a build that stops here.
    if (text.size() > 255)
        throw std::length_error("Pascal string longer than 255 characters: " + text);
    put8(uint8_t(text.size()));
    bytes_.insert(bytes_.end(), text.begin(), text.end());
}

void ByteWriter::putCString(const std::string& text)
{
    bytes_.insert(bytes_.end(), text.begin(), text.end());
    put8(0);
}

void ByteWriter::putBytes(const std::vector<uint8_t>& bytes)
{
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
}

void ByteWriter::zeros(size_t count) { bytes_.insert(bytes_.end(), count, uint8_t(0)); }

void ByteWriter::pad4() { zeros((4 - bytes_.size() % 4) % 4); }

namespace {

const uint32_t kSuiteCode = fourCC("Tlwd");
const uint32_t kEventCode = fourCC("Tlwd");
const char* const kEntryName = "ENTRYPOINT";

// The length written is the padded one: hosts that step over a property by its length as
// written and hosts that round it up to 4 then agree on where the next property starts.
void putProperty(ByteWriter& out, uint32_t key, ByteWriter data)
{
    data.pad4();
    out.putCode(pluginapi::kPhotoshopSignature);
    out.putCode(key);
    out.put32(0);
    out.put32(uint32_t(data.size()));
    out.putBytes(data.bytes());
}

void putCodeProperty(ByteWriter& out, uint32_t key)
{
    ByteWriter data;
    data.putCString(kEntryName);
    putProperty(out, key, data);
}

} // namespace

std::vector<uint8_t> pipl(bool module64)
{
    ByteWriter out;
    out.put16(1);
    out.put32(0);
    out.put32(module64 ? 10 : 9);

    ByteWriter kind;
    kind.putCode(pluginapi::kFilterModuleKind);
    putProperty(out, pluginapi::PIKindProperty, kind);

    ByteWriter name;
    name.putPascal("Quarvel...");
    putProperty(out, pluginapi::PINameProperty, name);

    ByteWriter category;
    category.putPascal("Tallowind");
    putProperty(out, pluginapi::PICategoryProperty, category);

    ByteWriter version;
    version.put32(
        (uint32_t(pluginapi::latestFilterVersion) << 16) | uint32_t(pluginapi::latestFilterSubVersion));
    putProperty(out, pluginapi::PIVersionProperty, version);

    putCodeProperty(out, pluginapi::PIWin32X86CodeProperty);
    if (module64)
        putCodeProperty(out, pluginapi::PIWin64X86CodeProperty);

    ByteWriter terminology;
    terminology.put32(0);
    terminology.putCode(kSuiteCode);
    terminology.putCode(kEventCode);
    terminology.put16(IDR_AETE);
    terminology.putCString(""); // no scope
    terminology.zeros(20 - terminology.size());
    putProperty(out, pluginapi::PITerminologyProperty, terminology);

    ByteWriter modes;
    modes.put8(0x10); // RGB; 16-bit RGB is allowed through the enable expression below
    modes.zeros(3);
    putProperty(out, pluginapi::PIImageModesProperty, modes);

    ByteWriter enable;
    enable.putCString("in (PSHOP_ImageMode, RGBMode, RGB48Mode)");
    putProperty(out, pluginapi::PIEnableInfoProperty, enable);

    // The same for all seven filter cases: white matte in, output as is, works with blank data,
    // filters the layer mask.
    ByteWriter cases;
    for (int filterCase = 1; filterCase <= 7; ++filterCase) {
        cases.put8(4);
        cases.put8(1);
        cases.put8(0x02 | 0x04);
        cases.put8(0);
    }
    putProperty(out, pluginapi::PIFilterCaseInfoProperty, cases);
    return out.bytes();
}

std::vector<uint8_t> aete()
{
    ByteWriter out;
    out.put16(1);
    out.put8(1); // terminology version 1.0
    out.put8(0);
    out.put16(0); // language
    out.put16(0); // script
    out.put16(1); // suites

    out.putPascal("Tallowind");
    out.putPascal("Enhancement plug-ins");
    out.putCode(kSuiteCode);
    out.put16(1); // level
    out.put16(1); // version
    out.put16(1); // events

    out.putPascal("Tallowind Quarvel");
    out.putPascal("Quarvel plug-in filter");
    out.putCode(kSuiteCode); // event class
    out.putCode(kEventCode);
    out.putCode(pluginapi::typeNull); // no reply
    out.putPascal("");
    out.put16(0);
    out.putCode(fourCC("#ImR")); // the direct parameter is the image
    out.putPascal("");
    out.put16(0x000D);

    // Recorded actions refer to the settings by these keys, so the table never changes them.
    out.put16(uint16_t(kTerminologyOrder.size()));
    for (const SettingId id : kTerminologyOrder) {
        out.putPascal(settingInfo(id).name);
        out.putCode(settingInfo(id).key);
        out.putCode(pluginapi::typeChar);
        out.putPascal("");
        out.put16(0);
    }

    out.put16(0); // classes
    out.put16(0); // comparison operators
    out.put16(0); // enumerations
    return out.bytes();
}

} // namespace quarvel::resources
