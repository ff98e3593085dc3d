#include "tools/host/Console.h"

#include <windows.h>

#include <cstdio>
#include <io.h>

namespace quarvel::host {

namespace {
volatile LONG gInterrupted = 0;

BOOL WINAPI onControl(DWORD type)
{
    if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT) {
        InterlockedExchange(&gInterrupted, 1);
        return TRUE;
    }
    return FALSE;
}
} // namespace

void installInterruptHandler() { SetConsoleCtrlHandler(onControl, TRUE); }

bool interruptRequested() { return InterlockedCompareExchange(&gInterrupted, 0, 0) != 0; }

bool stderrIsTerminal() { return _isatty(_fileno(stderr)) != 0; }

} // namespace quarvel::host
