#include "hosts/headless/headless_window_system.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "util/text.h"

namespace korvel {

HeadlessWindowSystem::HeadlessWindowSystem(ProcessId currentProcess)
    : currentProcess_(currentProcess) {}

HeadlessWindowSystem::~HeadlessWindowSystem() = default;

std::vector<WindowHandle> HeadlessWindowSystem::topLevelWindows() const { return topLevel_; }

void HeadlessWindowSystem::appendDescendants(WindowHandle parent,
                                             std::vector<WindowHandle>* out) const {
  auto it = windows_.find(parent);
  if (it == windows_.end()) return;
  for (WindowHandle child : it->second.children) {
    out->push_back(child);
    appendDescendants(child, out);
  }
}

std::vector<WindowHandle> HeadlessWindowSystem::childWindows(WindowHandle parent) const {
  std::vector<WindowHandle> out;
  appendDescendants(parent, &out);
  return out;
}

WindowHandle HeadlessWindowSystem::parentWindow(WindowHandle window) const {
  auto it = windows_.find(window);
  return it == windows_.end() ? WindowHandle::kNoWindow : it->second.traits.parent;
}

std::u16string HeadlessWindowSystem::className(WindowHandle window) const {
  auto it = windows_.find(window);
  return it == windows_.end() ? std::u16string() : it->second.traits.className;
}

ProcessId HeadlessWindowSystem::owningProcess(WindowHandle window) const {
  auto it = windows_.find(window);
  return it == windows_.end() ? 0 : it->second.traits.process;
}

WindowHandle HeadlessWindowSystem::findTopLevelWindow(std::u16string_view title) const {
  for (WindowHandle window : topLevel_) {
    if (equalsNoCase(windows_.at(window).traits.title, title)) return window;
  }
  return WindowHandle::kNoWindow;
}

WindowProc HeadlessWindowSystem::windowProc(WindowHandle window) const {
  auto it = windows_.find(window);
  return it == windows_.end() ? WindowProc() : it->second.proc;
}

WindowProc HeadlessWindowSystem::setWindowProc(WindowHandle window, WindowProc proc) {
  auto it = windows_.find(window);
  if (it == windows_.end() || !proc) return WindowProc();
  std::swap(it->second.proc, proc);
  return proc;
}

int64_t HeadlessWindowSystem::send(WindowHandle window, uint32_t message, uint64_t wParam,
                                   int64_t lParam) {
  auto it = windows_.find(window);
  if (it == windows_.end()) return 0;
  // A copy: the procedure may replace itself or destroy its window while it runs.
  WindowProc proc = it->second.proc;
  return proc(window, message, wParam, lParam);
}

bool HeadlessWindowSystem::post(WindowHandle window, uint32_t message, uint64_t wParam,
                                int64_t lParam) {
  if (!isWindow(window)) return false;
  queue_.push_back(Message{window, message, wParam, lParam});
  return true;
}

void HeadlessWindowSystem::dispatch(const Message& message) {
  send(message.window, message.message, message.wParam, message.lParam);
}

void HeadlessWindowSystem::pumpMessages() {
  // Only what was pending: a procedure that posts to itself on every message would otherwise keep
  // the pump, and the runtime code that called it, from ever returning.
  for (size_t pending = queue_.size(); pending > 0 && !queue_.empty(); --pending) {
    Message message = queue_.front();
    queue_.pop_front();
    dispatch(message);
  }
}

size_t HeadlessWindowSystem::runMessageLoop(size_t limit) {
  size_t dispatched = 0;
  while (dispatched < limit && !queue_.empty()) {
    Message message = queue_.front();
    queue_.pop_front();
    dispatch(message);
    ++dispatched;
  }
  return dispatched;
}

WindowHandle HeadlessWindowSystem::createWindow(const WindowTraits& traits, WindowProc proc) {
  if (traits.parent != WindowHandle::kNoWindow && !isWindow(traits.parent)) {
    return WindowHandle::kNoWindow;
  }
  WindowHandle handle = WindowHandle(nextHandle_);
  nextHandle_ += 4;
  Window window{traits, std::move(proc), {}};
  if (window.traits.process == 0) window.traits.process = currentProcess_;
  windows_.emplace(handle, std::move(window));
  if (traits.parent == WindowHandle::kNoWindow) {
    topLevel_.push_back(handle);
  } else {
    windows_.at(traits.parent).children.push_back(handle);
  }
  return handle;
}

void HeadlessWindowSystem::forget(WindowHandle window) {
  auto it = windows_.find(window);
  if (it == windows_.end()) return;
  std::vector<WindowHandle> children = it->second.children;
  for (WindowHandle child : children) forget(child);
  WindowHandle parent = it->second.traits.parent;
  windows_.erase(window);
  auto& siblings = parent == WindowHandle::kNoWindow ? topLevel_ : windows_.at(parent).children;
  siblings.erase(std::remove(siblings.begin(), siblings.end(), window), siblings.end());
}

bool HeadlessWindowSystem::destroyWindow(WindowHandle window) {
  if (!isWindow(window)) return false;
  // The window hears of its end before its children, as on the real system; a procedure may
  // destroy windows itself meanwhile, so each one is looked up again.
  std::vector<WindowHandle> doomed{window};
  appendDescendants(window, &doomed);
  for (WindowHandle w : doomed) send(w, kWmDestroy, 0, 0);
  forget(window);
  return true;
}

uint8_t* HeadlessWindowSystem::allocatePayload(size_t bytes) {
  if (bytes == 0) return nullptr;
  Payload payload;
  payload.bytes.reset(new (std::nothrow) uint8_t[bytes]);
  if (!payload.bytes) return nullptr;
  payload.size = bytes;
  std::memset(payload.bytes.get(), 0, bytes);
  uint8_t* block = payload.bytes.get();
  payloads_.emplace(payloadAddress(block), std::move(payload));
  return block;
}

bool HeadlessWindowSystem::releasePayload(uint64_t address) {
  if (address == 0) return false;
  auto it = payloads_.find(address);
  if (it == payloads_.end() || it->second.releases > 0) {
    ++faultyReleases_;
    if (it != payloads_.end()) ++it->second.releases;
    return false;
  }
  ++it->second.releases;
  // Reading a released payload should show, not silently see the old bytes.
  std::memset(it->second.bytes.get(), 0xDD, it->second.size);
  return true;
}

bool HeadlessWindowSystem::showWindow(WindowHandle window, bool show) {
  auto it = windows_.find(window);
  if (it == windows_.end()) return false;
  it->second.visible = show;
  return true;
}

bool HeadlessWindowSystem::isWindowVisible(WindowHandle window) const {
  auto it = windows_.find(window);
  return it != windows_.end() && it->second.visible;
}

uint64_t HeadlessWindowSystem::installActivateHook(ActivateHook hook) {
  uint64_t handle = nextHook_++;
  hooks_[handle] = std::move(hook);
  return handle;
}

bool HeadlessWindowSystem::removeHook(uint64_t hook) { return hooks_.erase(hook) != 0; }

bool HeadlessWindowSystem::activateWindow(WindowHandle window) {
  if (!isWindow(window)) return false;
  // A hook may remove itself or others while it runs.
  std::vector<ActivateHook> hooks;
  for (const auto& [handle, hook] : hooks_) hooks.push_back(hook);
  for (const ActivateHook& hook : hooks) hook(window);
  if (isWindow(window)) activeWindow_ = window;
  return true;
}

size_t HeadlessWindowSystem::payloadSize(uint64_t address) const {
  auto it = payloads_.find(address);
  return it == payloads_.end() || it->second.releases > 0 ? 0 : it->second.size;
}

int HeadlessWindowSystem::messageBox(WindowHandle owner, std::u16string_view text,
                                     std::u16string_view caption, uint32_t style) {
  messageBoxes_.push_back({owner, std::u16string(text), std::u16string(caption), style});
  if (!messageBoxAnswers_.empty()) {
    int answer = messageBoxAnswers_.front();
    messageBoxAnswers_.pop_front();
    return answer;
  }
  uint32_t buttons = style & 0xF;
  return buttons == kMbYesNoCancel || buttons == kMbYesNo ? kIdYes : kIdOk;
}

size_t HeadlessWindowSystem::livePayloads() const {
  return size_t(std::count_if(payloads_.begin(), payloads_.end(),
                              [](const auto& entry) { return entry.second.releases == 0; }));
}

int HeadlessWindowSystem::payloadReleases(uint64_t address) const {
  auto it = payloads_.find(address);
  return it == payloads_.end() ? 0 : it->second.releases;
}

}  // namespace korvel
