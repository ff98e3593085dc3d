// Win32 implementation of the platform services, as the module uses them inside a host.
#include "platform/Platform.h"

#include <windows.h>

namespace quarvel::platform {

namespace {
HINSTANCE gInstance = nullptr;
uint64_t gAllocationLimit = 0;
} // namespace

void* allocateBlock(uint64_t size, bool zeroFill)
{
    if (size == 0 || size > uint64_t(SIZE_MAX) / 2)
        return nullptr;
    if (gAllocationLimit != 0 && size > gAllocationLimit)
        return nullptr;
    return GlobalAlloc(zeroFill ? GPTR : GMEM_FIXED, SIZE_T(size));
}

void freeBlock(void* block)
{
    if (block)
        GlobalFree(block);
}

void setAllocationLimit(uint64_t bytes) { gAllocationLimit = bytes; }

void showMessage(intptr_t ownerWindow, const char* text, const char* caption, unsigned style)
{
    MessageBoxA(reinterpret_cast<HWND>(ownerWindow), text, caption, style);
}

void setMessageSink(MessageSink) { }

void postMessage(intptr_t window, unsigned message, uintptr_t first, intptr_t second)
{
    PostMessageA(reinterpret_cast<HWND>(window), message, WPARAM(first), LPARAM(second));
}

void setPostSink(PostSink) { }

void setModuleInstance(void* instance) { gInstance = static_cast<HINSTANCE>(instance); }
void* moduleInstance() { return gInstance; }

std::string moduleFileName()
{
    char path[MAX_PATH] = {};
    DWORD n = GetModuleFileNameA(gInstance, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return {};
    return std::string(path, n);
}

} // namespace quarvel::platform
