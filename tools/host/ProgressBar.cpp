#include "tools/host/Console.h"

#include <algorithm>
#include <cstdio>

namespace quarvel::host {

namespace {
// What the line shows now: a shorter text must blank out the rest of it.
std::string gShown;
bool gOpen = false;
} // namespace

void drawStatus(const std::string& text)
{
    if (gOpen && text == gShown)
        return;
    const size_t blank = gOpen && gShown.size() > text.size() ? gShown.size() - text.size() : 0;
    std::fprintf(stderr, "\r%s%*s", text.c_str(), int(blank), "");
    if (blank > 0)
        std::fprintf(stderr, "\r%s", text.c_str());
    std::fflush(stderr);
    gShown = text;
    gOpen = true;
}

void finishStatus(const std::string& text)
{
    drawStatus(text);
    std::fputc('\n', stderr);
    std::fflush(stderr);
    gShown.clear();
    gOpen = false;
}

void closeStatus()
{
    if (gOpen)
        finishStatus(gShown);
}

std::string progressBar(int percent, int width)
{
    percent = std::clamp(percent, 0, 100);
    std::string bar = "[";
    for (int i = 0; i < width; ++i)
        bar += i < percent * width / 100 ? '#' : '.';
    char number[16];
    std::snprintf(number, sizeof number, "] %3d%%", percent);
    return bar + number;
}

} // namespace quarvel::host
