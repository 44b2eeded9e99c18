#include "hosts/win32/win32_window_system.h"

#include <windows.h>

#include <array>
#include <map>
#include <set>
#include <utility>

namespace korvel::win32 {

namespace {

// Native procedures of this library that run portable ones. A window usually needs one; another
// program that subclasses the window in between (keeping ours as the procedure it passes on to)
// buries it, and a portable procedure installed over that one needs a native procedure of its own,
// or the chain would loop back to the top. Eight layers of ours interleaved with others' are more
// than any window sees.
constexpr int kLayers = 8;

// The procedures and hooks that the system's callbacks look up. It is never destroyed: a window
// may still run a procedure of ours while the process's static objects go away.
struct Registry {
  // Portable procedures installed on windows, by the layer whose native procedure runs them.
  std::array<std::map<HWND, WindowProc>, kLayers> installed;
  // The portable stand-ins of native procedures, one per window and native procedure.
  struct Wrapper {
    HWND window;
    WNDPROC native;
    WindowProc proc;
  };
  std::vector<Wrapper> wrappers;

  std::map<uint64_t, WindowSystem::ActivateHook> hooks;
  uint64_t nextHook = 1;
  HHOOK cbtHook = nullptr;

  // Pump markers that came out of the queue, possibly in a nested pump.
  std::set<WPARAM> reachedMarkers;
  WPARAM nextMarker = 1;
};

Registry& registry() {
  static Registry* registry = new Registry;
  return *registry;
}

// Handles wider than a pointer name no window of this process's system.
HWND toHwnd(WindowHandle window) {
  uint64_t value = uint64_t(window);
  if (value > uint64_t(UINTPTR_MAX)) return nullptr;
  return reinterpret_cast<HWND>(uintptr_t(value));
}

WindowHandle toHandle(HWND window) {
  return WindowHandle(uint64_t(reinterpret_cast<uintptr_t>(window)));
}

HWND liveWindow(WindowHandle window) {
  HWND hwnd = toHwnd(window);
  return hwnd != nullptr && IsWindow(hwnd) ? hwnd : nullptr;
}

std::wstring wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }

LRESULT runLayer(int layer, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  std::map<HWND, WindowProc>& installed = registry().installed[size_t(layer)];
  auto it = installed.find(window);
  if (it == installed.end()) return DefWindowProcW(window, message, wParam, lParam);
  // A copy: the procedure may replace itself, or its window may be destroyed, while it runs.
  WindowProc proc = it->second;
  LRESULT result = 0;
  try {
    // lParam is signed: widening keeps its sign, as the portable word declares.
    result = LRESULT(proc(toHandle(window), message, uint64_t(wParam), int64_t(lParam)));
  } catch (...) {
    // An exception must not unwind through the system's dispatch frames.
    result = 0;
  }
  if (message == WM_NCDESTROY) installed.erase(window);
  return result;
}

template <int kLayer>
LRESULT CALLBACK layerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return runLayer(kLayer, window, message, wParam, lParam);
}

template <int... kLayer>
constexpr std::array<WNDPROC, sizeof...(kLayer)> layerProcs(std::integer_sequence<int, kLayer...>) {
  return {&layerWindowProc<kLayer>...};
}

constexpr std::array<WNDPROC, kLayers> kLayerProcs =
    layerProcs(std::make_integer_sequence<int, kLayers>());

// The layer whose procedure runs on the window now, or -1 when it is none of ours.
int currentLayer(HWND window) {
  auto native = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(window, GWLP_WNDPROC));
  for (int layer = 0; layer < kLayers; ++layer) {
    if (kLayerProcs[size_t(layer)] == native) {
      return registry().installed[size_t(layer)].count(window) != 0 ? layer : -1;
    }
  }
  return -1;
}

BOOL CALLBACK collectWindow(HWND window, LPARAM list) {
  reinterpret_cast<std::vector<WindowHandle>*>(list)->push_back(toHandle(window));
  return TRUE;
}

LRESULT CALLBACK activateHookProc(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_ACTIVATE) {
    Registry& r = registry();
    std::vector<uint64_t> ids;
    for (const auto& entry : r.hooks) ids.push_back(entry.first);
    for (uint64_t id : ids) {
      // A hook may remove another one (or itself) while they run.
      auto it = r.hooks.find(id);
      if (it == r.hooks.end() || !it->second) continue;
      WindowSystem::ActivateHook hook = it->second;
      try {
        hook(toHandle(reinterpret_cast<HWND>(wParam)));
      } catch (...) {
      }
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

// The answer of a box that could not be shown: the button that stands for backing out.
int dismissedAnswer(uint32_t style) {
  switch (style & 0xF) {
    case kMbOk:
      return kIdOk;
    case kMbYesNo:
      return kIdNo;
    default:
      return kIdCancel;
  }
}

}  // namespace

ProcessId Win32WindowSystem::currentProcess() const { return ProcessId(GetCurrentProcessId()); }

std::vector<WindowHandle> Win32WindowSystem::topLevelWindows() const {
  std::vector<WindowHandle> windows;
  EnumWindows(collectWindow, reinterpret_cast<LPARAM>(&windows));
  return windows;
}

std::vector<WindowHandle> Win32WindowSystem::childWindows(WindowHandle parent) const {
  std::vector<WindowHandle> windows;
  // A null parent would enumerate the top-level windows instead.
  HWND hwnd = liveWindow(parent);
  if (hwnd == nullptr) return windows;
  // The system walks the descendants depth first, each window before its own children.
  EnumChildWindows(hwnd, collectWindow, reinterpret_cast<LPARAM>(&windows));
  return windows;
}

WindowHandle Win32WindowSystem::parentWindow(WindowHandle window) const {
  HWND hwnd = liveWindow(window);
  if (hwnd == nullptr) return WindowHandle::kNoWindow;
  HWND parent = GetAncestor(hwnd, GA_PARENT);
  // A top-level window's parent is the desktop (or the hidden parent of message-only windows).
  if (parent == nullptr || parent == GetDesktopWindow() || GetAncestor(hwnd, GA_ROOT) == hwnd) {
    return WindowHandle::kNoWindow;
  }
  return toHandle(parent);
}

std::u16string Win32WindowSystem::className(WindowHandle window) const {
  HWND hwnd = liveWindow(window);
  if (hwnd == nullptr) return {};
  wchar_t buffer[512];
  int length = GetClassNameW(hwnd, buffer, 512);
  if (length <= 0) return {};
  return std::u16string(buffer, buffer + length);
}

ProcessId Win32WindowSystem::owningProcess(WindowHandle window) const {
  HWND hwnd = liveWindow(window);
  if (hwnd == nullptr) return 0;
  DWORD process = 0;
  if (GetWindowThreadProcessId(hwnd, &process) == 0) return 0;
  return ProcessId(process);
}

bool Win32WindowSystem::isWindow(WindowHandle window) const {
  return liveWindow(window) != nullptr;
}

WindowHandle Win32WindowSystem::findTopLevelWindow(std::u16string_view title) const {
  std::wstring wanted = wide(title);
  // One unit more than the title wanted shows that a window's title is longer.
  std::wstring text(wanted.size() + 2, L'\0');
  for (WindowHandle window : topLevelWindows()) {
    // The title as the system keeps it, as FindWindowW reads it: asking the window (WM_GETTEXT)
    // would wait on every window of a thread that is busy.
    int length = InternalGetWindowText(toHwnd(window), text.data(), int(text.size()));
    if (length < 0 || size_t(length) != wanted.size()) continue;
    // An ordinal comparison: titles match by their letters, not by the user's locale.
    if (CompareStringOrdinal(text.data(), length, wanted.data(), int(wanted.size()), TRUE) ==
        CSTR_EQUAL) {
      return window;
    }
  }
  return WindowHandle::kNoWindow;
}

WindowProc Win32WindowSystem::windowProc(WindowHandle window) const {
  HWND hwnd = liveWindow(window);
  if (hwnd == nullptr) return {};
  Registry& r = registry();
  int layer = currentLayer(hwnd);
  if (layer >= 0) return r.installed[size_t(layer)][hwnd];
  auto native = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(hwnd, GWLP_WNDPROC));
  for (const Registry::Wrapper& wrapper : r.wrappers) {
    if (wrapper.window == hwnd && wrapper.native == native) return wrapper.proc;
  }
  // Stand-ins of destroyed windows go before a new one is kept, so the list stays as long as the
  // windows that were asked about.
  std::erase_if(r.wrappers,
                [](const Registry::Wrapper& wrapper) { return IsWindow(wrapper.window) == FALSE; });
  WindowProc proc(
      [native](WindowHandle target, uint32_t message, uint64_t wParam, int64_t lParam) -> int64_t {
        return int64_t(
            CallWindowProcW(native, toHwnd(target), message, WPARAM(wParam), LPARAM(lParam)));
      });
  r.wrappers.push_back({hwnd, native, proc});
  return proc;
}

WindowProc Win32WindowSystem::setWindowProc(WindowHandle window, WindowProc proc) {
  HWND hwnd = liveWindow(window);
  if (hwnd == nullptr || !proc) return {};
  WindowProc previous = windowProc(window);
  Registry& r = registry();
  int top = currentLayer(hwnd);
  for (const Registry::Wrapper& wrapper : r.wrappers) {
    if (wrapper.proc == proc) {
      // Putting back a native procedure: the window runs it directly again.
      SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(wrapper.native));
      if (top >= 0) r.installed[size_t(top)].erase(hwnd);
      return previous;
    }
  }
  if (top >= 0) {
    // Ours already runs on top: the portable procedure is simply exchanged.
    r.installed[size_t(top)][hwnd] = std::move(proc);
    return previous;
  }
  for (size_t layer = 0; layer < kLayerProcs.size(); ++layer) {
    if (r.installed[layer].count(hwnd) != 0) continue;  // buried under another program's
    r.installed[layer][hwnd] = std::move(proc);
    SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(kLayerProcs[layer]));
    return previous;
  }
  return {};
}

int64_t Win32WindowSystem::send(WindowHandle window, uint32_t message, uint64_t wParam,
                                int64_t lParam) {
  HWND hwnd = liveWindow(window);
  if (hwnd == nullptr) return 0;
  return int64_t(SendMessageW(hwnd, message, WPARAM(wParam), LPARAM(lParam)));
}

bool Win32WindowSystem::post(WindowHandle window, uint32_t message, uint64_t wParam,
                             int64_t lParam) {
  // A null window would make the message the thread's own, with no window to receive it.
  HWND hwnd = liveWindow(window);
  if (hwnd == nullptr) return false;
  return PostMessageW(hwnd, message, WPARAM(wParam), LPARAM(lParam)) != FALSE;
}

void Win32WindowSystem::pumpMessages() {
  static const UINT kMarker = RegisterWindowMessageW(L"KorvelPumpMarker");
  Registry& r = registry();
  WPARAM marker = r.nextMarker++;
  // Posted messages come out in order and ahead of input, paint and timer messages, so the marker
  // comes back right after the last message that was queued before it.
  if (kMarker == 0 || !PostThreadMessageW(GetCurrentThreadId(), kMarker, marker, 0)) return;
  MSG message;
  while (r.reachedMarkers.count(marker) == 0 && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.hwnd == nullptr && message.message == kMarker) {
      // A pump nested in a message it dispatched may take an outer pump's marker: it is noted,
      // and the outer pump stops when its turn comes.
      r.reachedMarkers.insert(message.wParam);
      continue;
    }
    if (message.message == WM_QUIT) {
      // The host program's loop must still see its request to end.
      PostQuitMessage(int(message.wParam));
      break;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  r.reachedMarkers.erase(marker);
}

bool Win32WindowSystem::showWindow(WindowHandle window, bool show) {
  HWND hwnd = liveWindow(window);
  if (hwnd == nullptr) return false;
  ShowWindow(hwnd, show ? SW_SHOW : SW_HIDE);
  return true;
}

bool Win32WindowSystem::isWindowVisible(WindowHandle window) const {
  HWND hwnd = liveWindow(window);
  return hwnd != nullptr && IsWindowVisible(hwnd) != FALSE;
}

uint64_t Win32WindowSystem::installActivateHook(ActivateHook hook) {
  Registry& r = registry();
  // One system hook serves every portable one: the hook procedure cannot tell which of several
  // system hooks it was called for.
  if (r.cbtHook == nullptr) {
    r.cbtHook = SetWindowsHookExW(WH_CBT, activateHookProc, nullptr, GetCurrentThreadId());
    if (r.cbtHook == nullptr) return 0;
  }
  uint64_t id = r.nextHook++;
  r.hooks.emplace(id, std::move(hook));
  return id;
}

bool Win32WindowSystem::removeHook(uint64_t hook) {
  Registry& r = registry();
  if (r.hooks.erase(hook) == 0) return false;
  if (r.hooks.empty() && r.cbtHook != nullptr) {
    UnhookWindowsHookEx(r.cbtHook);
    r.cbtHook = nullptr;
  }
  return true;
}

int Win32WindowSystem::messageBox(WindowHandle owner, std::u16string_view text,
                                  std::u16string_view caption, uint32_t style) {
  std::wstring wideText = wide(text);
  std::wstring wideCaption = wide(caption);
  int answer = MessageBoxW(liveWindow(owner), wideText.c_str(), wideCaption.c_str(), style);
  return answer == 0 ? dismissedAnswer(style) : answer;
}

uint8_t* Win32WindowSystem::allocatePayload(size_t bytes) {
  if (bytes == 0) return nullptr;
  return static_cast<uint8_t*>(
      VirtualAlloc(nullptr, bytes, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
}

namespace {

// The allocation that starts at the address, when it is a block of private memory such as the
// launcher places here: releasing anything else (a mapped file, a module) would pull memory from
// under its owner.
bool isPayloadStart(uint64_t address, MEMORY_BASIC_INFORMATION* info) {
  if (address == 0 || address > uint64_t(UINTPTR_MAX)) return false;
  void* block = reinterpret_cast<void*>(uintptr_t(address));
  if (VirtualQuery(block, info, sizeof *info) != sizeof *info) return false;
  return info->AllocationBase == block && info->BaseAddress == block && info->State == MEM_COMMIT &&
         info->Type == MEM_PRIVATE;
}

bool isReadable(DWORD protection) {
  if ((protection & (PAGE_GUARD | PAGE_NOACCESS)) != 0) return false;
  return (protection & (PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                        PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY)) != 0;
}

}  // namespace

bool Win32WindowSystem::releasePayload(uint64_t address) {
  MEMORY_BASIC_INFORMATION info;
  if (!isPayloadStart(address, &info)) return false;
  return VirtualFree(reinterpret_cast<void*>(uintptr_t(address)), 0, MEM_RELEASE) != FALSE;
}

size_t Win32WindowSystem::payloadSize(uint64_t address) const {
  MEMORY_BASIC_INFORMATION info;
  if (!isPayloadStart(address, &info)) return 0;
  // The readable committed pages from the start on; pages the launcher left reserved or locked
  // end the block for the reader.
  size_t size = 0;
  auto* base = static_cast<uint8_t*>(info.AllocationBase);
  while (info.AllocationBase == base && info.State == MEM_COMMIT && isReadable(info.Protect)) {
    size += info.RegionSize;
    uint8_t* next = base + size;
    if (VirtualQuery(next, &info, sizeof info) != sizeof info) break;
  }
  return size;
}

}  // namespace korvel::win32
