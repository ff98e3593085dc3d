#include "tools/host/Console.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <io.h>

namespace quarvel::host {

namespace {

volatile LONG gInterrupted = 0;

struct WatchedFile {
    std::atomic<bool> taken { false };
    std::atomic<bool> armed { false };
    char path[4096] = {};
};
WatchedFile gWatched[4];

void removeWatchedFiles()
{
    for (WatchedFile& file : gWatched)
        if (file.armed.load())
            DeleteFileA(file.path);
}

// Runs on a thread of its own. FALSE hands the event on to the next handler, in the end the
// system's, which ends the process.
BOOL WINAPI onControl(DWORD type)
{
    if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT) {
        // A second Ctrl-C: the user will not wait for the first to be answered.
        if (InterlockedExchange(&gInterrupted, 1) == 0)
            return TRUE;
    }
    removeWatchedFiles();
    return FALSE;
}

} // namespace

void installSignalHandlers() { SetConsoleCtrlHandler(onControl, TRUE); }

bool interruptRequested() { return InterlockedCompareExchange(&gInterrupted, 0, 0) != 0; }

int watchTemporaryFile(const std::string& path)
{
    if (path.size() >= sizeof gWatched[0].path)
        return -1;
    for (int slot = 0; slot < int(std::size(gWatched)); ++slot) {
        WatchedFile& file = gWatched[slot];
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
    if (slot < 0 || slot >= int(std::size(gWatched)))
        return;
    gWatched[slot].armed.store(false);
    gWatched[slot].taken.store(false);
}

bool stderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

} // namespace quarvel::host
