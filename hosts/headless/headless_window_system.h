// The headless host's windows: a tree of windows with classes, titles and owning processes, kept in
// memory. Sending runs the procedure at once on the caller's stack, so a procedure that sends
// during a send nests exactly as on the real system; posting appends to one queue, drained by
// pumpMessages and by runMessageLoop, which stands in for the host program's own loop. Payload
// blocks are counted per block, so a test can see that each was released exactly once and that
// no release went to a block released before.
//
// REQUIRES: used on one thread.
#ifndef KORVEL_HOSTS_HEADLESS_HEADLESS_WINDOW_SYSTEM_H_
#define KORVEL_HOSTS_HEADLESS_HEADLESS_WINDOW_SYSTEM_H_

#include <cstddef>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/window_system.h"

namespace korvel {

struct WindowTraits {
  std::u16string className;
  std::u16string title;
  WindowHandle parent = WindowHandle::kNoWindow;
  ProcessId process = 0;  // 0: the current process
};

class HeadlessWindowSystem : public WindowSystem {
 public:
  static constexpr ProcessId kDefaultProcess = 4000;

  explicit HeadlessWindowSystem(ProcessId currentProcess = kDefaultProcess);
  ~HeadlessWindowSystem() override;
  HeadlessWindowSystem(const HeadlessWindowSystem&) = delete;
  HeadlessWindowSystem& operator=(const HeadlessWindowSystem&) = delete;

  ProcessId currentProcess() const override { return currentProcess_; }
  std::vector<WindowHandle> topLevelWindows() const override;
  std::vector<WindowHandle> childWindows(WindowHandle parent) const override;
  WindowHandle parentWindow(WindowHandle window) const override;
  std::u16string className(WindowHandle window) const override;
  ProcessId owningProcess(WindowHandle window) const override;
  bool isWindow(WindowHandle window) const override { return windows_.count(window) != 0; }
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
  // Makes the window the active one, as the user does by clicking it: every activate hook runs
  // first. False when the window does not exist.
  bool activateWindow(WindowHandle window);
  WindowHandle activeWindow() const { return activeWindow_; }

  int messageBox(WindowHandle owner, std::u16string_view text, std::u16string_view caption,
                 uint32_t style) override;
  uint8_t* allocatePayload(size_t bytes) override;
  bool releasePayload(uint64_t address) override;
  size_t payloadSize(uint64_t address) const override;

  // Message boxes shown so far. A box answers the oldest queued answer, else its first button
  // (OK, or Yes for the yes/no styles).
  struct MessageBoxRecord {
    WindowHandle owner;
    std::u16string text;
    std::u16string caption;
    uint32_t style;
  };
  const std::vector<MessageBoxRecord>& messageBoxes() const { return messageBoxes_; }
  void queueMessageBoxAnswer(int answer) { messageBoxAnswers_.push_back(answer); }

  // Creates a window whose procedure is proc (an empty proc answers 0 to everything). Handles grow
  // with every creation and are never reused. kNoWindow when the parent does not exist.
  WindowHandle createWindow(const WindowTraits& traits, WindowProc proc = {});
  // Sends kWmDestroy to the window, destroys its descendants the same way, then forgets them all;
  // their queued messages are dropped when they come up. False when the window does not exist.
  bool destroyWindow(WindowHandle window);
  // The host program's message loop: dispatches queued messages, including those posted while it
  // runs, until the queue is empty or limit messages were dispatched. Returns how many it
  // dispatched.
  size_t runMessageLoop(size_t limit = 100000);
  size_t queuedMessages() const { return queue_.size(); }

  // Payload accounting. A released block keeps its memory (filled with 0xDD) until the window
  // system is destroyed, so its address is never handed out again and a late second release is
  // told apart from the release of a new block.
  size_t livePayloads() const;
  // How many releases the block at the address has had (0 for an unknown address).
  int payloadReleases(uint64_t address) const;
  // Releases that found no live block: second releases and unknown addresses.
  int faultyPayloadReleases() const { return faultyReleases_; }

 private:
  struct Window {
    WindowTraits traits;
    WindowProc proc;
    std::vector<WindowHandle> children;
    bool visible = true;
  };
  struct Message {
    WindowHandle window;
    uint32_t message;
    uint64_t wParam;
    int64_t lParam;
  };
  struct Payload {
    std::unique_ptr<uint8_t[]> bytes;
    size_t size = 0;
    int releases = 0;
  };

  void dispatch(const Message& message);
  void appendDescendants(WindowHandle parent, std::vector<WindowHandle>* out) const;
  void forget(WindowHandle window);

  ProcessId currentProcess_;
  uint64_t nextHandle_ = 0x10000;
  std::map<WindowHandle, Window> windows_;
  std::vector<WindowHandle> topLevel_;  // in creation order
  std::deque<Message> queue_;
  std::map<uint64_t, Payload> payloads_;  // by address
  int faultyReleases_ = 0;
  std::vector<MessageBoxRecord> messageBoxes_;
  std::map<uint64_t, ActivateHook> hooks_;
  uint64_t nextHook_ = 1;
  WindowHandle activeWindow_ = WindowHandle::kNoWindow;
  std::deque<int> messageBoxAnswers_;
};

}  // namespace korvel

#endif  // KORVEL_HOSTS_HEADLESS_HEADLESS_WINDOW_SYSTEM_H_
