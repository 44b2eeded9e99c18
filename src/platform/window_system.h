// Windows of the host operating system, as far as the runtime drives them: finding the host
// program's windows by class, owning process, parent and title; replacing and chaining window
// procedures; sending messages (synchronously, the receiving procedure may send again before it
// returns) and posting them to a queue that the host program's message loop drains; and the blocks
// of memory in which the launcher hands over its payloads.
//
// Message words are 64-bit here whatever the host's pointer width: wParam unsigned and lParam and
// results signed, as the operating system declares them, so a pointer or a 32-bit value fits.
#ifndef KORVEL_PLATFORM_WINDOW_SYSTEM_H_
#define KORVEL_PLATFORM_WINDOW_SYSTEM_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace korvel {

// A window; kNoWindow is none. Handles order by value, and a destroyed window's handle is never
// valid again (isWindow answers false).
enum class WindowHandle : uint64_t { kNoWindow = 0 };

using ProcessId = uint32_t;

// Message numbers the runtime sends or handles itself.
inline constexpr uint32_t kWmDestroy = 0x0002;
inline constexpr uint32_t kWmSetFocus = 0x0007;
inline constexpr uint32_t kWmKillFocus = 0x0008;
inline constexpr uint32_t kWmClose = 0x0010;
inline constexpr uint32_t kWmWindowPosChanging = 0x0046;
inline constexpr uint32_t kWmWindowPosChanged = 0x0047;
inline constexpr uint32_t kWmSetIcon = 0x0080;
inline constexpr uint32_t kWmSysCommand = 0x0112;
inline constexpr uint32_t kWmUser = 0x0400;
inline constexpr uint64_t kScClose = 0xF060;
// WM_SETICON's wParam.
inline constexpr uint64_t kIconSmall = 0;
inline constexpr uint64_t kIconBig = 1;

// Message box styles (buttons in the low 4 bits, the icon in the next 4) and the answers.
inline constexpr uint32_t kMbOk = 0x0;
inline constexpr uint32_t kMbOkCancel = 0x1;
inline constexpr uint32_t kMbYesNoCancel = 0x3;
inline constexpr uint32_t kMbYesNo = 0x4;
inline constexpr uint32_t kMbIconError = 0x10;
inline constexpr uint32_t kMbIconQuestion = 0x20;
inline constexpr uint32_t kMbIconWarning = 0x30;
inline constexpr uint32_t kMbIconInformation = 0x40;
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

// A window procedure. Copies share one identity: two procedures compare equal only when one is a
// copy of the other, which is how a subclasser tells its own procedure from the one it replaced.
// Calling an empty procedure answers 0.
class WindowProc {
 public:
  using Function = std::function<int64_t(WindowHandle, uint32_t, uint64_t, int64_t)>;

  WindowProc() = default;
  explicit WindowProc(Function function)
      : function_(std::make_shared<const Function>(std::move(function))) {}

  int64_t operator()(WindowHandle window, uint32_t message, uint64_t wParam, int64_t lParam) const {
    return function_ && *function_ ? (*function_)(window, message, wParam, lParam) : 0;
  }
  explicit operator bool() const { return function_ != nullptr; }
  friend bool operator==(const WindowProc&, const WindowProc&) = default;

 private:
  std::shared_ptr<const Function> function_;
};

// REQUIRES: every member is called on the thread of the host program's user interface, which owns
// the windows; window procedures run on it too.
class WindowSystem {
 public:
  virtual ~WindowSystem() = default;

  virtual ProcessId currentProcess() const = 0;
  // Top-level windows of every process, and all descendants of a window (children before their
  // own children, depth first), each in the system's enumeration order.
  virtual std::vector<WindowHandle> topLevelWindows() const = 0;
  virtual std::vector<WindowHandle> childWindows(WindowHandle parent) const = 0;
  // kNoWindow for a top-level window or one that does not exist.
  virtual WindowHandle parentWindow(WindowHandle window) const = 0;
  // Empty / 0 for a window that does not exist.
  virtual std::u16string className(WindowHandle window) const = 0;
  virtual ProcessId owningProcess(WindowHandle window) const = 0;
  virtual bool isWindow(WindowHandle window) const = 0;
  // The first top-level window whose title equals the text, ignoring case; kNoWindow when none.
  virtual WindowHandle findTopLevelWindow(std::u16string_view title) const = 0;

  // The window's current procedure; empty for a window that does not exist.
  virtual WindowProc windowProc(WindowHandle window) const = 0;
  // Makes proc the window's procedure and returns the one it replaces, which the new procedure
  // calls for the messages it passes on. Empty, with nothing changed, when the window does not
  // exist or proc is empty.
  virtual WindowProc setWindowProc(WindowHandle window, WindowProc proc) = 0;

  // Runs the window's procedure now and returns its result; 0 when the window does not exist.
  virtual int64_t send(WindowHandle window, uint32_t message, uint64_t wParam, int64_t lParam) = 0;
  // Queues the message for the window and returns at once; false when the window does not exist.
  // A message whose window is gone by the time it is taken from the queue is dropped.
  virtual bool post(WindowHandle window, uint32_t message, uint64_t wParam, int64_t lParam) = 0;
  // Dispatches the messages that were queued when the call began, in order; messages they post
  // wait for the next pump or for the host program's message loop.
  virtual void pumpMessages() = 0;

  // Shows or hides the window (the user sees it or not); false when it does not exist.
  virtual bool showWindow(WindowHandle window, bool show) = 0;
  virtual bool isWindowVisible(WindowHandle window) const = 0;

  // A hook on the activation of the current thread's windows: the function runs with the window
  // that is about to become active, before it does. Answers a handle for removeHook, never 0.
  using ActivateHook = std::function<void(WindowHandle)>;
  virtual uint64_t installActivateHook(ActivateHook hook) = 0;
  // False when no hook has that handle.
  virtual bool removeHook(uint64_t hook) = 0;

  // Shows a modal message box over the owner (kNoWindow: none) and answers the button the user
  // chose (a kId value).
  virtual int messageBox(WindowHandle owner, std::u16string_view text, std::u16string_view caption,
                         uint32_t style) = 0;

  // The launcher's payloads: single blocks in the host program's memory that whoever receives one
  // releases exactly once. Allocation answers null for 0 bytes or when memory is short. Release
  // takes the block's address (as it travels in wParam) and is false when no live block starts
  // there (released before, or never allocated); address 0 is false and does nothing.
  virtual uint8_t* allocatePayload(size_t bytes) = 0;
  virtual bool releasePayload(uint64_t address) = 0;
  // The bytes of the live block that starts at the address; 0 when none does.
  virtual size_t payloadSize(uint64_t address) const = 0;
};

// The address of a payload block as it travels in a message's wParam.
inline uint64_t payloadAddress(const uint8_t* block) { return uint64_t(uintptr_t(block)); }

}  // namespace korvel

#endif  // KORVEL_PLATFORM_WINDOW_SYSTEM_H_
