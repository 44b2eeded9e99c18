// The wall clock in the user's local time, and a monotonic counter for measuring durations.
#ifndef KORVEL_PLATFORM_CLOCK_H_
#define KORVEL_PLATFORM_CLOCK_H_

#include <cstdint>

namespace korvel {

struct LocalTime {
  int year = 1900, month = 1, day = 1;
  int hour = 0, minute = 0, second = 0, millisecond = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;
  virtual LocalTime now() const = 0;
  // Monotonic ticks and their frequency per second.
  virtual uint64_t counter() const = 0;
  virtual uint64_t counterFrequency() const = 0;
  // Seconds since 1970-01-01 00:00 UTC.
  virtual int64_t unixTime() const = 0;
  // Blocks the calling thread for about that long.
  virtual void sleep(uint32_t milliseconds) = 0;
};

}  // namespace korvel

#endif  // KORVEL_PLATFORM_CLOCK_H_
