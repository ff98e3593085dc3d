#include "core/KernelChoice.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace quarvel {

KernelChoice kernelChoiceFromEnvironment()
{
    KernelChoice choice;
    if (const char* kernels = std::getenv("QUARVEL_KERNELS")) {
        if (std::strcmp(kernels, "reference") == 0)
            choice.kernels = Kernels::Reference;
        else if (std::strcmp(kernels, "baseline") == 0)
            choice.kernels = Kernels::Baseline;
    }
    const unsigned cores = std::thread::hardware_concurrency();
    choice.threads = cores == 0 ? 1 : int(std::min(cores, 64u));
    if (const char* text = std::getenv("QUARVEL_THREADS")) {
        char* end = nullptr;
        const long value = std::strtol(text, &end, 10);
        if (end != text && *end == '\0' && value > 0)
            choice.threads = int(std::min<long>(value, 64));
    }
    return choice;
}

} // namespace quarvel
