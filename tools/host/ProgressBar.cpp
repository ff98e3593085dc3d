#include "tools/host/Console.h"

#include <algorithm>
#include <cstdio>

namespace quarvel::host {

namespace {
bool gBarShown = false;
int gLastPercent = -1;
} // namespace

void drawProgress(int32_t done, int32_t total)
{
    if (total <= 0)
        return;
    const int percent = int(std::clamp<int64_t>(int64_t(done) * 100 / total, 0, 100));
    if (gBarShown && percent == gLastPercent)
        return;
    char bar[41];
    for (int i = 0; i < 40; ++i)
        bar[i] = i < percent * 40 / 100 ? '#' : '.';
    bar[40] = 0;
    std::fprintf(stderr, "\r[%s] %3d%%", bar, percent);
    std::fflush(stderr);
    gBarShown = true;
    gLastPercent = percent;
}

void finishProgress()
{
    if (gBarShown)
        std::fputc('\n', stderr);
    gBarShown = false;
    gLastPercent = -1;
}

} // namespace quarvel::host
