// The pseudo-random generator behind RAND: one process-wide sequence of draws from 0 to
// kRandomMax, seeded once when the native functions are registered. The generator is our own
// linear congruential one, so that draws have the same range and granularity on every platform.
//
// REQUIRES: used only on the thread that evaluates formulas.
#ifndef KORVEL_FUNCTIONS_RANDOM_SOURCE_H_
#define KORVEL_FUNCTIONS_RANDOM_SOURCE_H_

#include <cstdint>

namespace korvel {

inline constexpr int kRandomMax = 32767;

// Seeds the generator with the low 32 bits of the current time in seconds XOR the processor
// time used so far (std::clock), so two processes started in the same second still differ.
void seedRandom();
// Seeds the generator with a fixed value: the same seed gives the same draws.
void seedRandomWith(uint32_t seed);
// The next draw, 0 to kRandomMax inclusive.
int drawRandom();

}  // namespace korvel

#endif  // KORVEL_FUNCTIONS_RANDOM_SOURCE_H_
