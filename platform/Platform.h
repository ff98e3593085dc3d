// The few operating-system services the plug-in core needs, behind one small interface so that
// the core builds and runs natively on Linux as well as inside the Windows module.
#pragma once

#include <cstdint>
#include <string>

namespace quarvel::platform {

// Message box styles the core uses (the Win32 values).
constexpr unsigned kMessageOk = 0x00;
constexpr unsigned kMessageIconExclamation = 0x30;

// Image and host memory: Windows global memory (fixed blocks), malloc elsewhere. A size that the
// platform cannot address gives null rather than a truncated block.
void* allocateBlock(uint64_t size, bool zeroFill);
void freeBlock(void* block);

// Tests only: blocks larger than `bytes` fail as if memory had run out; 0 lifts the limit.
void setAllocationLimit(uint64_t bytes);

// A modal message box with the given owner window (0: none). Returns when the user closed it.
// Outside Windows the text goes to standard error, or to the sink a test installed.
void showMessage(intptr_t ownerWindow, const char* text, const char* caption, unsigned style);

using MessageSink = void (*)(const char* text, const char* caption, unsigned style);
void setMessageSink(MessageSink sink); // POSIX only; ignored on Windows

// Posts a window message (never sends it). Outside Windows it goes to the sink a test installed.
void postMessage(intptr_t window, unsigned message, uintptr_t first, intptr_t second);
using PostSink = void (*)(intptr_t window, unsigned message, uintptr_t first, intptr_t second);
void setPostSink(PostSink sink); // POSIX only; ignored on Windows

// The module's instance handle, recorded when the module is loaded, and the module's file name.
void setModuleInstance(void* instance);
void* moduleInstance();
std::string moduleFileName();

} // namespace quarvel::platform
