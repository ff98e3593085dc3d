// Which pixel loops a run uses and on how many threads. The environment is read here and nowhere
// else, when a filter is made; benchmarks and tests set the filters' fields themselves.
#pragma once

namespace quarvel {

enum class Kernels {
    Reference, // the plain loops, which define the result
    Baseline, // the fast loops without instructions chosen at run time (SSE2 only)
    Best, // the fast loops with the best instructions this processor has
};

struct KernelChoice {
    Kernels kernels = Kernels::Best;
    int threads = 1;
};

// QUARVEL_KERNELS: "reference" or "baseline", anything else the best. QUARVEL_THREADS: a
// positive number (at most 64), else every core.
KernelChoice kernelChoiceFromEnvironment();

} // namespace quarvel
