#include "tools/host/Console.h"
#include "tools/host/WatchedFiles.h"

#include <atomic>
#include <csignal>
#include <cstring>
#include <unistd.h>

namespace quarvel::host {

namespace {

volatile std::sig_atomic_t gInterrupted = 0;

void removeWatchedFiles()
{
    for (WatchedFile& file : gWatchedFiles)
        if (file.armed.load())
            ::unlink(file.path);
}

// The default action again, with the signal delivered anew once the handler returns: the
// parent sees the process end by the signal it was sent.
void endBy(int signal)
{
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
    ::raise(signal);
}

void onTermination(int signal)
{
    removeWatchedFiles();
    endBy(signal);
}

void onInterrupt(int signal)
{
    // A second Ctrl-C: the user will not wait for the first to be answered (a long encode).
    if (gInterrupted) {
        onTermination(signal);
        return;
    }
    gInterrupted = 1;
}

void handle(int signal, void (*handler)(int))
{
    struct sigaction previous = {};
    if (sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN)
        return;
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
}

} // namespace

void installSignalHandlers()
{
    handle(SIGINT, onInterrupt);
    for (int signal : { SIGTERM, SIGHUP, SIGXFSZ })
        handle(signal, onTermination);
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
}

bool interruptRequested() { return gInterrupted != 0; }

bool stderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }

} // namespace quarvel::host
