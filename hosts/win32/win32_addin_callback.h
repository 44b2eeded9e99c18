// The host program's add-in callback through its exported entry "MdCallBack", found in the
// process's main module the first time it is needed. Arguments travel as native records that live
// for the call; the result comes back as a portable value.
//
// Values the host program allocated: a result whose record points into the host program's memory
// (a string, a reference or an array), or that the host program marked itself, comes back marked
// kXlbitXLFree, and the native record it filled is kept. When the runtime hands such a value back
// through xlFree, the kept record equal to it goes to the host program instead of a copy, since
// only the host program's own pointers can be freed by it; each kept record goes back once. A
// value marked kXlbitXLFree that matches no kept record owns nothing of the host program's and is
// not passed on.
//
// REQUIRES: used on the host program's user-interface thread.
#ifndef KORVEL_HOSTS_WIN32_WIN32_ADDIN_CALLBACK_H_
#define KORVEL_HOSTS_WIN32_WIN32_ADDIN_CALLBACK_H_

#include <span>
#include <vector>

#include "hosts/win32/native_xloper.h"
#include "platform/addin_callback.h"

namespace korvel::win32 {

class Win32AddinCallback : public AddinCallback {
 public:
  using Entry = int(__stdcall*)(int function, int count, NativeXloper** arguments,
                                NativeXloper* result);

  Win32AddinCallback() = default;
  Win32AddinCallback(const Win32AddinCallback&) = delete;
  Win32AddinCallback& operator=(const Win32AddinCallback&) = delete;

  int excel4(int function, Xloper* result, std::span<const Xloper* const> arguments) override;

  // Records the host program allocated that were not handed back yet.
  size_t pendingReleases() const { return allocated_.size(); }

 private:
  struct Allocated {
    Xloper value;
    NativeXloper record;
  };

  Entry entry();
  int handBack(std::span<const Xloper* const> arguments);

  Entry entry_ = nullptr;
  bool looked_ = false;
  std::vector<Allocated> allocated_;
};

}  // namespace korvel::win32

#endif  // KORVEL_HOSTS_WIN32_WIN32_ADDIN_CALLBACK_H_
