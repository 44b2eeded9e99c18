// Clocks of the headless host: the machine's local time, and a fixed time for tests.
#ifndef KORVEL_HOSTS_HEADLESS_SYSTEM_CLOCK_H_
#define KORVEL_HOSTS_HEADLESS_SYSTEM_CLOCK_H_

#include "platform/clock.h"

namespace korvel {

class SystemClock : public Clock {
 public:
  LocalTime now() const override;
  uint64_t counter() const override;
  uint64_t counterFrequency() const override { return 1000000000ull; }
  int64_t unixTime() const override;
  void sleep(uint32_t milliseconds) override;
};

class FixedClock : public Clock {
 public:
  explicit FixedClock(LocalTime time) : time_(time) {}
  LocalTime now() const override { return time_; }
  uint64_t counter() const override { return ticks_; }
  uint64_t counterFrequency() const override { return 1000; }
  int64_t unixTime() const override { return unixTime_; }
  // Sleeping only moves the counter, so waits cost tests no time; sleeps() counts them.
  void sleep(uint32_t milliseconds) override {
    ticks_ += milliseconds;
    ++sleeps_;
  }
  int sleeps() const { return sleeps_; }
  void setUnixTime(int64_t seconds) { unixTime_ = seconds; }
  void set(LocalTime time) { time_ = time; }
  void advance(uint64_t ticks) { ticks_ += ticks; }

 private:
  LocalTime time_;
  uint64_t ticks_ = 0;
  int64_t unixTime_ = 0;
  int sleeps_ = 0;
};

}  // namespace korvel

#endif  // KORVEL_HOSTS_HEADLESS_SYSTEM_CLOCK_H_
