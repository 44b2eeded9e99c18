#include "hosts/win32/win32_clock.h"

#include <windows.h>

namespace korvel::win32 {
namespace {

// 100-nanosecond intervals from 1601-01-01 to 1970-01-01, both UTC.
constexpr int64_t kUnixEpochInFileTime = 116444736000000000;
constexpr int64_t kFileTimePerSecond = 10000000;

}  // namespace

LocalTime Win32Clock::now() const {
  SYSTEMTIME time{};
  GetLocalTime(&time);
  LocalTime local;
  local.year = time.wYear;
  local.month = time.wMonth;
  local.day = time.wDay;
  local.hour = time.wHour;
  local.minute = time.wMinute;
  local.second = time.wSecond;
  local.millisecond = time.wMilliseconds;
  return local;
}

uint64_t Win32Clock::counter() const {
  LARGE_INTEGER ticks{};
  QueryPerformanceCounter(&ticks);
  return uint64_t(ticks.QuadPart);
}

uint64_t Win32Clock::counterFrequency() const {
  LARGE_INTEGER frequency{};
  QueryPerformanceFrequency(&frequency);
  return uint64_t(frequency.QuadPart);
}

int64_t Win32Clock::unixTime() const {
  FILETIME time{};
  GetSystemTimeAsFileTime(&time);
  int64_t since1601 = int64_t(uint64_t(time.dwHighDateTime) << 32 | time.dwLowDateTime);
  int64_t since1970 = since1601 - kUnixEpochInFileTime;
  // Whole seconds downwards, also for a clock set before 1970.
  int64_t seconds = since1970 / kFileTimePerSecond;
  return since1970 % kFileTimePerSecond < 0 ? seconds - 1 : seconds;
}

void Win32Clock::sleep(uint32_t milliseconds) {
  // INFINITE is the all-ones value: a request that long still ends.
  Sleep(milliseconds == INFINITE ? INFINITE - 1 : milliseconds);
}

}  // namespace korvel::win32
