#include "tools/host/Console.h"

#include <csignal>
#include <unistd.h>

namespace quarvel::host {

namespace {
volatile std::sig_atomic_t gInterrupted = 0;

void onInterrupt(int) { gInterrupted = 1; }
} // namespace

void installInterruptHandler()
{
    struct sigaction action = {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
}

bool interruptRequested() { return gInterrupted != 0; }

bool stderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

} // namespace quarvel::host
