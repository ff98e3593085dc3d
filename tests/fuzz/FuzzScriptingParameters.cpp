// Arbitrary descriptors from a host: keys, values of any length and content, repeated and
// unknown keys. Reading them into the document and recording them again must never fail.
#include "host/FilterContext.h"
#include "host/ScriptingParameters.h"
#include "settings/ParameterDocument.h"
#include "tests/support/AnyProc.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

using namespace pluginapi;

struct Entry {
    uint32_t key;
    std::vector<uint8_t> text;
    bool isString;
};

std::vector<Entry> gEntries;
size_t gNext = 0;
const Entry* gCurrent = nullptr;
char gToken, gHandle;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Entries: 4 key bytes, a flags byte (bit 0: not text), a length byte, then the text.
    gEntries.clear();
    size_t at = 0;
    while (at + 6 <= size) {
        Entry e;
        std::memcpy(&e.key, data + at, 4);
        e.isString = (data[at + 4] & 1) == 0;
        const size_t length = data[at + 5];
        at += 6;
        const size_t n = length < size - at ? length : size - at;
        e.text.assign(data + at, data + at + n);
        at += n;
        gEntries.push_back(e);
    }
    gNext = 0;

    ReadDescriptorProcs read = quarvel::test::refusingReadProcs();
    read.openReadDescriptorProc = [](PIDescriptorHandle, DescriptorKeyIDArray) {
        return reinterpret_cast<PIReadDescriptor>(&gToken);
    };
    read.closeReadDescriptorProc = [](PIReadDescriptor) { return OSErr(noErr); };
    read.getKeyProc = [](PIReadDescriptor, DescriptorKeyID* key, DescriptorTypeID*, int32_t*) {
        if (gNext >= gEntries.size())
            return Boolean(0);
        gCurrent = &gEntries[gNext++];
        *key = gCurrent->key;
        return Boolean(1);
    };
    read.getStringProc = [](PIReadDescriptor, Str255* value) {
        if (!gCurrent->isString)
            return OSErr(paramErr);
        (*value)[0] = uint8_t(gCurrent->text.size());
        if (!gCurrent->text.empty())
            std::memcpy(*value + 1, gCurrent->text.data(), gCurrent->text.size());
        return OSErr(noErr);
    };
    WriteDescriptorProcs write = quarvel::test::refusingWriteProcs();
    write.openWriteDescriptorProc = [] { return reinterpret_cast<PIWriteDescriptor>(&gToken); };
    write.closeWriteDescriptorProc = [](PIWriteDescriptor, PIDescriptorHandle* created) {
        *created = nullptr;
        return OSErr(noErr);
    };
    write.putStringProc = [](PIWriteDescriptor, DescriptorKeyID, ConstStr255Param value) {
        // The recorded text must be a proper length-prefixed string within its buffer.
        if (value[0] > 254)
            __builtin_trap();
        return OSErr(noErr);
    };
    PIDescriptorParameters descriptor {};
    descriptor.readDescriptorProcs = &read;
    descriptor.writeDescriptorProcs = &write;
    descriptor.descriptor = reinterpret_cast<Handle>(&gHandle);
    FilterRecord record {};
    record.descriptorParameters = &descriptor;

    quarvel::ParameterDocument document;
    document.normalize();
    quarvel::FilterContext context;
    context.filterRecord = &record;
    context.parameters = &document;
    quarvel::ReadScriptParameters(context);
    document.normalize();
    quarvel::WriteScriptParameters(context);
    return 0;
}
