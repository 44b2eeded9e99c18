// The host program's windows through Win32: enumeration, subclassing, messages, the activation
// hook, message boxes and the launcher's payload blocks.
//
// Window procedures: a portable procedure installed on a window runs behind a native procedure of
// this library, which finds it by the window. A native procedure that the system or the host
// program installed is seen as a portable procedure that calls it (CallWindowProcW); asking for
// the same native procedure of the same window twice answers the same portable procedure, and
// installing that procedure puts the native one back, so a subclasser restores a window simply by
// installing what it replaced. Another program may subclass the window between two of ours, with
// ours as the procedure it passes on to; the portable procedure installed over it then runs behind
// a second native procedure of this library, so that each keeps its place in the chain (up to
// eight such layers; setWindowProc answers empty and changes nothing beyond them). The procedures
// and hooks live in one registry per process, since the system calls back into plain functions;
// any instance of the class sees the same state.
//
// pumpMessages posts a marker to the thread's own queue and dispatches until the marker comes
// back: the posted messages ahead of it are exactly those that were queued when the call began.
//
// Payload blocks are the system's own allocations (VirtualAlloc), so a block the launcher placed
// in this process from outside is released the same way as one allocated here. The size of a
// block is its committed pages: the system rounds every allocation up to whole pages, and every
// byte of them can be read.
//
// REQUIRES: every member is called on the user-interface thread that owns the windows.
#ifndef KORVEL_HOSTS_WIN32_WIN32_WINDOW_SYSTEM_H_
#define KORVEL_HOSTS_WIN32_WIN32_WINDOW_SYSTEM_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/window_system.h"

namespace korvel::win32 {

class Win32WindowSystem : public WindowSystem {
 public:
  Win32WindowSystem() = default;
  Win32WindowSystem(const Win32WindowSystem&) = delete;
  Win32WindowSystem& operator=(const Win32WindowSystem&) = delete;

  ProcessId currentProcess() const override;
  std::vector<WindowHandle> topLevelWindows() const override;
  std::vector<WindowHandle> childWindows(WindowHandle parent) const override;
  WindowHandle parentWindow(WindowHandle window) const override;
  std::u16string className(WindowHandle window) const override;
  ProcessId owningProcess(WindowHandle window) const override;
  bool isWindow(WindowHandle window) const override;
  WindowHandle findTopLevelWindow(std::u16string_view title) const override;

  WindowProc windowProc(WindowHandle window) const override;
  WindowProc setWindowProc(WindowHandle window, WindowProc proc) override;

  int64_t send(WindowHandle window, uint32_t message, uint64_t wParam, int64_t lParam) override;
  bool post(WindowHandle window, uint32_t message, uint64_t wParam, int64_t lParam) override;
  void pumpMessages() override;

  bool showWindow(WindowHandle window, bool show) override;
  bool isWindowVisible(WindowHandle window) const override;

  uint64_t installActivateHook(ActivateHook hook) override;
  bool removeHook(uint64_t hook) override;

  int messageBox(WindowHandle owner, std::u16string_view text, std::u16string_view caption,
                 uint32_t style) override;

  uint8_t* allocatePayload(size_t bytes) override;
  bool releasePayload(uint64_t address) override;
  size_t payloadSize(uint64_t address) const override;
};

}  // namespace korvel::win32

#endif  // KORVEL_HOSTS_WIN32_WIN32_WINDOW_SYSTEM_H_
