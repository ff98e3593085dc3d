// The temporary files a signal or console handler must remove before the process dies: fixed
// storage and lock-free flags, so that the handler reads no memory that the program may be
// reallocating at that moment.
#pragma once

#include <atomic>
#include <cstddef>

namespace quarvel::host {

struct WatchedFile {
    std::atomic<bool> taken { false };
    std::atomic<bool> armed { false };
    char path[4096] = {};
};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler reads these flags");

constexpr size_t kWatchedFileCount = 4;
extern WatchedFile gWatchedFiles[kWatchedFileCount];

} // namespace quarvel::host
