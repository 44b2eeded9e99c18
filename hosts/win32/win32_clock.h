// The system's local time, performance counter and system time.
#ifndef KORVEL_HOSTS_WIN32_WIN32_CLOCK_H_
#define KORVEL_HOSTS_WIN32_WIN32_CLOCK_H_

#include "platform/clock.h"

namespace korvel::win32 {

class Win32Clock : public Clock {
 public:
  LocalTime now() const override;
  uint64_t counter() const override;
  uint64_t counterFrequency() const override;
  int64_t unixTime() const override;
  void sleep(uint32_t milliseconds) override;
};

}  // namespace korvel::win32

#endif  // KORVEL_HOSTS_WIN32_WIN32_CLOCK_H_
