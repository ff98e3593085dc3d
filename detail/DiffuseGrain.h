// The pieces of the glow and grain stage that tests and faster loops share: the glow amount, the
// glow's tone curve, and the grain's pseudo-random draws.
#pragma once

#include <cstdint>

namespace quarvel {

class LinearToneCurve;

// Percent to 128ths scaled by 0.9 and rounded half up: 100 % gives 115.
int64_t glowAmount(int32_t diffuseAmount);

// The identity with one point more: (255 − tone, 255) for a positive tone, which lifts the glow,
// (−tone, 0) for a negative one, which lets only the brighter areas glow.
void buildGlowCurve(LinearToneCurve& curve, int32_t tone);

// A linear congruential generator with one 32-bit state per thread, each draw giving bits 16..30
// of the new state (0..32767). Seeded with 1 it draws 41, 18467, 6334.
void seedGrainRandom(uint32_t seed);
int32_t drawGrainRandom();
// The state after `draws` draws from `seed`, without drawing them: where a piece of the image
// that starts at pixel n picks up the sequence.
uint32_t grainStateAfter(uint32_t seed, uint64_t draws);

// The seed of a grain stage: the calendar time in whole seconds, unless the environment
// variable QUARVEL_GRAIN_SEED holds a decimal number, which makes grain repeatable for comparisons.
uint32_t grainSeed();

} // namespace quarvel
