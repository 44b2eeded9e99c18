#include "functions/random_source.h"

#include <ctime>

namespace korvel {
namespace {

uint32_t state = 1;

}  // namespace

void seedRandom() {
  uint32_t seconds = static_cast<uint32_t>(static_cast<uint64_t>(std::time(nullptr)));
  uint32_t processorTime = static_cast<uint32_t>(std::clock());
  seedRandomWith(seconds ^ processorTime);
}

void seedRandomWith(uint32_t seed) { state = seed; }

int drawRandom() {
  // The classic portable recurrence; its high bits are the better ones, so the draw takes 15 of
  // them. Unsigned arithmetic wraps by definition.
  state = state * 1103515245u + 12345u;
  return static_cast<int>((state >> 16) & 0x7FFFu);
}

}  // namespace korvel
