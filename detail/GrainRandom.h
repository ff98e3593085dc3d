// The grain's pseudo-random draws: a linear congruential generator with one 32-bit state per
// thread, each draw giving bits 16..30 of the new state (0..32767). Seeded with 1 it draws
// 41, 18467, 6334.
#pragma once

#include <cstdint>

namespace quarvel {

void seedGrainRandom(uint32_t seed);
int32_t drawGrainRandom();

// The seed of a grain stage: the calendar time in whole seconds, unless the environment
// variable QUARVEL_GRAIN_SEED holds a number, which makes grain repeatable for comparisons.
uint32_t grainSeed();

} // namespace quarvel
