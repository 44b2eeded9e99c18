// Every port of the Win32 host in one object: what the library builds when the host program loads
// it, and what the scripted test program uses for its own side (the launcher's windows and files).
#ifndef KORVEL_HOSTS_WIN32_WIN32_PLATFORM_H_
#define KORVEL_HOSTS_WIN32_WIN32_PLATFORM_H_

#include <memory>

#include "platform/platform.h"

namespace korvel::win32 {

class Win32Platform {
 public:
  Win32Platform();
  ~Win32Platform();
  Win32Platform(const Win32Platform&) = delete;
  Win32Platform& operator=(const Win32Platform&) = delete;

  // The ports; each pointer stays valid while this object lives.
  const Platform& platform() const { return platform_; }

 private:
  struct Ports;
  std::unique_ptr<Ports> ports_;
  Platform platform_;
};

}  // namespace korvel::win32

#endif  // KORVEL_HOSTS_WIN32_WIN32_PLATFORM_H_
