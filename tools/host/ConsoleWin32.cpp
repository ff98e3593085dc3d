#include "tools/host/Console.h"
#include "tools/host/WatchedFiles.h"

#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <io.h>

namespace quarvel::host {

namespace {

volatile LONG gInterrupted = 0;

void removeWatchedFiles()
{
    for (WatchedFile& file : gWatchedFiles)
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

bool stderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

} // namespace quarvel::host
