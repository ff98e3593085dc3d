#include "tools/host/WatchedFiles.h"

#include "tools/host/Console.h"

#include <cstring>

namespace quarvel::host {

WatchedFile gWatchedFiles[kWatchedFileCount];

int watchTemporaryFile(const std::string& path)
{
    if (path.size() >= sizeof gWatchedFiles[0].path)
        return -1;
    for (int slot = 0; slot < int(kWatchedFileCount); ++slot) {
        WatchedFile& file = gWatchedFiles[slot];
        if (file.taken.exchange(true))
            continue;
        std::memcpy(file.path, path.c_str(), path.size() + 1);
        file.armed.store(true);
        return slot;
    }
    return -1;
}

void forgetTemporaryFile(int slot)
{
    if (slot < 0 || slot >= int(kWatchedFileCount))
        return;
    gWatchedFiles[slot].armed.store(false);
    gWatchedFiles[slot].taken.store(false);
}

} // namespace quarvel::host
