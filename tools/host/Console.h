// The terminal side of the host: Ctrl-C as an abort request, and a progress bar on stderr.
#pragma once

#include <cstdint>

namespace quarvel::host {

void installInterruptHandler();
bool interruptRequested();
bool stderrIsTerminal();

// Draws "[#####.....]  42%" on one stderr line; finishProgress ends the line.
void drawProgress(int32_t done, int32_t total);
void finishProgress();

} // namespace quarvel::host
