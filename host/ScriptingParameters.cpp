#include "host/ScriptingParameters.h"

#include "host/FilterContext.h"
#include "settings/ParameterStore.h"
#include "settings/ParameterTable.h"

#include <cstring>
#include <new>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace quarvel {

using namespace pluginapi;

namespace {

// The 36 canonical keys in descriptor order, then the extra ones, then the terminating zero.
constexpr size_t kKeyCount = kSettingCount;

struct KeyList {
    DescriptorKeyID keys[kKeyCount + 1];
    const SettingInfo* settings[kKeyCount];
};

KeyList makeKeyList()
{
    KeyList list {};
    size_t n = 0;
    for (SettingId id : kDescriptorOrder)
        list.settings[n++] = &settingInfo(id);
    for (const SettingInfo& info : kSettings)
        if (info.scope == SettingScope::Extra)
            list.settings[n++] = &info;
    for (size_t i = 0; i < n; ++i)
        list.keys[i] = list.settings[i]->key;
    list.keys[n] = 0;
    return list;
}

bool readProcsComplete(const ReadDescriptorProcs& p)
{
    const void* procs[] = {
        reinterpret_cast<const void*>(p.openReadDescriptorProc),
        reinterpret_cast<const void*>(p.closeReadDescriptorProc),
        reinterpret_cast<const void*>(p.getKeyProc),
        reinterpret_cast<const void*>(p.getIntegerProc),
        reinterpret_cast<const void*>(p.getFloatProc),
        reinterpret_cast<const void*>(p.getUnitFloatProc),
        reinterpret_cast<const void*>(p.getBooleanProc),
        reinterpret_cast<const void*>(p.getTextProc),
        reinterpret_cast<const void*>(p.getAliasProc),
        reinterpret_cast<const void*>(p.getEnumeratedProc),
        reinterpret_cast<const void*>(p.getClassProc),
        reinterpret_cast<const void*>(p.getSimpleReferenceProc),
        reinterpret_cast<const void*>(p.getObjectProc),
        reinterpret_cast<const void*>(p.getCountProc),
        reinterpret_cast<const void*>(p.getStringProc),
        reinterpret_cast<const void*>(p.getPinnedIntegerProc),
        reinterpret_cast<const void*>(p.getPinnedFloatProc),
        reinterpret_cast<const void*>(p.getPinnedUnitFloatProc),
    };
    for (const void* proc : procs)
        if (!proc)
            return false;
    return true;
}

#if defined(_WIN32)
void freeGlobalBlockOf(const void* pointer)
{
    HGLOBAL block = GlobalHandle(pointer);
    if (block) {
        GlobalUnlock(block);
        GlobalFree(block);
    }
}
#endif

} // namespace

bool descriptorSupportAvailable(const FilterRecord& record)
{
    const PIDescriptorParameters* d = record.descriptorParameters;
    if (!d || d->descriptorParametersVersion != kCurrentDescriptorParametersVersion)
        return false;
    const ReadDescriptorProcs* r = d->readDescriptorProcs;
    const WriteDescriptorProcs* w = d->writeDescriptorProcs;
    if (!r || !w)
        return false;
    if (r->readDescriptorProcsVersion != kCurrentReadDescriptorProcsVersion
        || r->numReadDescriptorProcs < kCurrentReadDescriptorProcsCount || !readProcsComplete(*r))
        return false;
    return w->writeDescriptorProcsVersion == kCurrentWriteDescriptorProcsVersion
        && w->numWriteDescriptorProcs >= kCurrentWriteDescriptorProcsCount;
}

bool handleProcsUsable(const FilterRecord& record)
{
    const HandleProcs* h = record.handleProcs;
    return h && h->handleProcsVersion == 1 && h->numHandleProcs >= 7 && h->newProc && h->disposeProc
        && h->getSizeProc && h->setSizeProc;
}

void disposeHostHandle(const FilterRecord& record, Handle handle)
{
    if (handleProcsUsable(record)) {
        record.handleProcs->disposeProc(handle);
        return;
    }
#if defined(_WIN32)
    // A host without handle procedures hands out Windows global memory: a master pointer in
    // one block pointing at the data in another.
    if (!handle)
        return;
    if (*handle)
        freeGlobalBlockOf(*handle);
    freeGlobalBlockOf(handle);
#else
    (void)handle;
#endif
}

int ReadScriptParameters(FilterContext& context)
{
    FilterRecord& record = *context.filterRecord;
    if (!descriptorSupportAvailable(record))
        return 1;
    PIDescriptorParameters& d = *record.descriptorParameters;
    const ReadDescriptorProcs& procs = *d.readDescriptorProcs;

    KeyList list = makeKeyList();
    PIReadDescriptor token = procs.openReadDescriptorProc(d.descriptor, list.keys);
    const int show = d.playInfo == plugInDialogDisplay ? 1 : 0;
    if (!token)
        return show;

    DescriptorKeyID key = 0;
    DescriptorTypeID type = 0;
    int32_t keyFlags = 0;
    bool lost = false;
    while (procs.getKeyProc(token, &key, &type, &keyFlags)) {
        const SettingInfo* setting = nullptr;
        for (size_t i = 0; i < kKeyCount && list.keys[i] != 0; ++i)
            if (list.keys[i] == key)
                setting = list.settings[i];
        Str255 value = {};
        // A value the host cannot give as text (the plug-in never writes one) is skipped: the
        // setting keeps its default rather than taking whatever a failed read left behind.
        if (procs.getStringProc(token, &value) != noErr)
            continue;
        if (setting && context.parameters) {
            char text[256];
            std::memcpy(text, value + 1, value[0]);
            text[value[0]] = 0;
            // An entry is either replaced or appended; neither means the document could not
            // grow to take it.
            const int before = context.parameters->length();
            if (context.parameters->setString(setting->name, text) == 0
                && context.parameters->length() == before)
                lost = true;
        }
    }

    const OSErr closed = procs.closeReadDescriptorProc(token);
    disposeHostHandle(record, d.descriptor);
    d.descriptor = nullptr;
    context.result = closed;
    // A step run without one of its settings would report success with another result.
    if (lost)
        throw std::bad_alloc();
    return show;
}

int WriteScriptParameters(FilterContext& context)
{
    FilterRecord& record = *context.filterRecord;
    if (!descriptorSupportAvailable(record))
        return 0;
    PIDescriptorParameters& d = *record.descriptorParameters;
    const WriteDescriptorProcs& procs = *d.writeDescriptorProcs;
    PIWriteDescriptor token = procs.openWriteDescriptorProc ? procs.openWriteDescriptorProc() : nullptr;
    if (!token)
        return 0;

    const KeyList list = makeKeyList();
    for (size_t i = 0; i < kKeyCount && list.keys[i] != 0; ++i) {
        const SettingInfo& setting = *list.settings[i];
        uint8_t buffer[256] = {};
        int found = 0;
        if (context.parameters)
            found = context.parameters->getString(
                setting.name, reinterpret_cast<char*>(buffer + 1), 254, nullptr);
        // Extra settings travel only when the document holds them, so older actions stay as
        // they were.
        if (setting.scope == SettingScope::Extra && !found)
            continue;
        buffer[0] = uint8_t(std::strlen(reinterpret_cast<char*>(buffer + 1)));
        if (procs.putStringProc)
            procs.putStringProc(token, setting.key, buffer);
    }

    if (d.descriptor)
        disposeHostHandle(record, d.descriptor);
    PIDescriptorHandle created = nullptr;
    if (procs.closeWriteDescriptorProc)
        procs.closeWriteDescriptorProc(token, &created);
    d.descriptor = created;
    d.recordInfo = plugInDialogOptional;
    return 0;
}

} // namespace quarvel
