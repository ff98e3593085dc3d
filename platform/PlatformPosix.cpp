// POSIX implementation of the platform services: the plug-in core runs inside a native host.
#include "platform/Platform.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace quarvel::platform {

namespace {
void* gInstance = nullptr;
MessageSink gSink = nullptr;
uint64_t gAllocationLimit = 0;
PostSink gPostSink = nullptr;
} // namespace

void* allocateBlock(uint64_t size, bool zeroFill)
{
    if (size == 0 || size > uint64_t(SIZE_MAX) / 2)
        return nullptr;
    if (gAllocationLimit != 0 && size > gAllocationLimit)
        return nullptr;
    return zeroFill ? std::calloc(1, size_t(size)) : std::malloc(size_t(size));
}

void freeBlock(void* block) { std::free(block); }

void setAllocationLimit(uint64_t bytes) { gAllocationLimit = bytes; }

void showMessage(intptr_t, const char* text, const char* caption, unsigned style)
{
    if (gSink) {
        gSink(text, caption, style);
        return;
    }
    std::fprintf(stderr, "%s: %s\n", caption, text);
}

void setMessageSink(MessageSink sink) { gSink = sink; }

void postMessage(intptr_t window, unsigned message, uintptr_t first, intptr_t second)
{
    if (gPostSink)
        gPostSink(window, message, first, second);
}

void setPostSink(PostSink sink) { gPostSink = sink; }

void setModuleInstance(void* instance) { gInstance = instance; }
void* moduleInstance() { return gInstance; }

std::string moduleFileName()
{
    // Linked into the native host, the module is the running program itself.
    char path[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return {};
    return std::string(path, size_t(n));
}

} // namespace quarvel::platform
