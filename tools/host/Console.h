// The terminal side of the host: Ctrl-C as an abort request, the temporary files that no signal
// may leave behind, and one status line on stderr.
#pragma once

#include <string>

namespace quarvel::host {

// Called first thing. Ctrl-C (SIGINT) becomes an abort request, and a second one ends the
// process at once. SIGTERM, SIGHUP and SIGXFSZ remove the watched temporary files and then end
// the process as they would have. A broken pipe on stdout or stderr is an error of the write,
// not the end of the process. Signals that the caller ignores (nohup) stay ignored.
void installSignalHandlers();
bool interruptRequested();

// Removed, with the calls a signal handler may make, when a signal ends the process. -1: the
// path is too long or every slot is taken, and the file is not watched.
int watchTemporaryFile(const std::string& path);
void forgetTemporaryFile(int slot);

bool stderrIsTerminal();

// One stderr line, rewritten in place ("\r"); finishStatus leaves it standing and starts a new one.
void drawStatus(const std::string& text);
void finishStatus(const std::string& text);
// Leaves the line as it stands, so that a message can follow.
void closeStatus();
// "[##########..........]  50%", `width` cells between the brackets.
std::string progressBar(int percent, int width);

} // namespace quarvel::host
