// The module's one export, called by the host with a selector and its filter record.
#pragma once

#include <cstdint>

#if defined(_WIN32)
#define QUARVEL_EXPORT __declspec(dllexport)
#else
#define QUARVEL_EXPORT __attribute__((visibility("default")))
#endif

// C linkage and the C calling convention keep the exported name exactly "ENTRYPOINT", which is
// what the module's property list tells the host to look up.
extern "C" QUARVEL_EXPORT void ENTRYPOINT(
    int16_t selector, void* filterRecord, intptr_t* data, int16_t* result);

namespace quarvel {

class FilterContext;

void PrepareImage(FilterContext& context);
void StartFilter(FilterContext& context);

} // namespace quarvel
