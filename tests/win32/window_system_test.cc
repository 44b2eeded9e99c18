// The window port against real windows of this thread, under the system's own dispatch.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "hosts/win32/win32_window_system.h"
#include "tests/win32/check.h"

namespace korvel::win32 {
namespace {

constexpr wchar_t kClassName[] = L"KorvelTestWindow";
constexpr UINT kRecordMessage = WM_USER + 1;
constexpr UINT kQueuedMessage = WM_USER + 2;

// What the class's own procedure saw.
struct NativeLog {
  std::vector<std::pair<WPARAM, LPARAM>> recorded;
  std::vector<WPARAM> queued;
};
NativeLog& nativeLog() {
  static NativeLog log;
  return log;
}

LRESULT CALLBACK nativeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kRecordMessage) {
    nativeLog().recorded.push_back({wParam, lParam});
    return 42;
  }
  if (message == kQueuedMessage) {
    nativeLog().queued.push_back(wParam);
    // A message posted while the pump runs waits for the next one.
    if (wParam == 2) PostMessageW(window, kQueuedMessage, 99, 0);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

void registerClass() {
  static bool registered = false;
  if (registered) return;
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = nativeProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = kClassName;
  registered = RegisterClassW(&windowClass) != 0;
}

HWND createWindow(const wchar_t* title, HWND parent = nullptr) {
  registerClass();
  DWORD style = parent != nullptr ? WS_CHILD | WS_VISIBLE : WS_OVERLAPPEDWINDOW;
  return CreateWindowExW(0, kClassName, title, style, 0, 0, 200, 100, parent, nullptr,
                         GetModuleHandleW(nullptr), nullptr);
}

WindowHandle handleOf(HWND window) {
  return WindowHandle(uint64_t(reinterpret_cast<uintptr_t>(window)));
}

TEST_CASE("window facts: class, process, parent, title look-up ignoring case") {
  Win32WindowSystem windows;
  HWND top = createWindow(L"Korvel Find Me");
  HWND child = createWindow(L"", top);
  WindowHandle w = handleOf(top);
  CHECK(windows.isWindow(w));
  CHECK(windows.className(w) == u"KorvelTestWindow");
  CHECK_EQ(windows.owningProcess(w), windows.currentProcess());
  CHECK_EQ(windows.currentProcess(), ProcessId(GetCurrentProcessId()));
  CHECK_EQ(windows.parentWindow(w), WindowHandle::kNoWindow);
  CHECK_EQ(windows.parentWindow(handleOf(child)), w);
  std::vector<WindowHandle> all = windows.topLevelWindows();
  CHECK(std::find(all.begin(), all.end(), w) != all.end());
  CHECK(std::find(all.begin(), all.end(), handleOf(child)) == all.end());

  CHECK_EQ(windows.findTopLevelWindow(u"kORVEL fIND mE"), w);
  CHECK_EQ(windows.findTopLevelWindow(u"Korvel Find"), WindowHandle::kNoWindow);
  CHECK_EQ(windows.findTopLevelWindow(u"Korvel Find Me too"), WindowHandle::kNoWindow);

  DestroyWindow(top);
  CHECK(!windows.isWindow(w));
  CHECK(!windows.isWindow(handleOf(child)));
  CHECK(windows.className(w).empty());
  CHECK_EQ(windows.owningProcess(w), ProcessId(0));
  CHECK_EQ(windows.parentWindow(handleOf(child)), WindowHandle::kNoWindow);
  CHECK(windows.childWindows(w).empty());
  CHECK(!windows.showWindow(w, true));
  CHECK(!windows.post(w, kQueuedMessage, 0, 0));
  CHECK_EQ(windows.send(w, kRecordMessage, 0, 0), 0);
  // The null window is no window: posting to it would reach the thread instead.
  CHECK(!windows.post(WindowHandle::kNoWindow, kQueuedMessage, 0, 0));
  CHECK(windows.childWindows(WindowHandle::kNoWindow).empty());
}

TEST_CASE("childWindows lists every descendant, each before its own children") {
  Win32WindowSystem windows;
  HWND top = createWindow(L"Korvel Parent");
  HWND first = createWindow(L"", top);
  HWND grandchild = createWindow(L"", first);
  HWND second = createWindow(L"", top);
  std::vector<WindowHandle> found = windows.childWindows(handleOf(top));
  CHECK_EQ(found.size(), size_t(3));
  auto at = [&](HWND window) {
    return std::find(found.begin(), found.end(), handleOf(window)) - found.begin();
  };
  CHECK(at(first) < at(grandchild));
  CHECK(at(second) < ptrdiff_t(found.size()));
  CHECK(at(grandchild) < ptrdiff_t(found.size()));
  CHECK_EQ(windows.parentWindow(handleOf(grandchild)), handleOf(first));
  CHECK_EQ(windows.childWindows(handleOf(first)), std::vector<WindowHandle>{handleOf(grandchild)});
  DestroyWindow(top);
}

TEST_CASE("subclassing: the portable procedure chains to the native one and is restored") {
  Win32WindowSystem windows;
  HWND top = createWindow(L"Korvel Subclass");
  WindowHandle w = handleOf(top);
  nativeLog().recorded.clear();

  WindowProc original = windows.windowProc(w);
  CHECK(bool(original));
  CHECK(original == windows.windowProc(w));

  std::vector<int64_t> seen;
  WindowProc replaced;
  WindowProc mine([&](WindowHandle window, uint32_t message, uint64_t wParam, int64_t lParam) {
    if (message == kRecordMessage) seen.push_back(lParam);
    return replaced(window, message, wParam, lParam) + 1000;
  });
  replaced = windows.setWindowProc(w, mine);
  CHECK(replaced == original);
  CHECK(windows.windowProc(w) == mine);

  // Through the system's dispatch: the words keep their width and sign on the way through.
  CHECK_EQ(windows.send(w, kRecordMessage, 0xFFFFFFFFu, -5), 1042);
  CHECK_EQ(SendMessageW(top, kRecordMessage, 7, -6), 1042);
  CHECK(seen == std::vector<int64_t>({-5, -6}));
  CHECK_EQ(nativeLog().recorded.size(), size_t(2));
  CHECK_EQ(nativeLog().recorded[0].first, WPARAM(0xFFFFFFFFu));
  CHECK_EQ(nativeLog().recorded[0].second, LPARAM(-5));

  // A second subclasser on top, then both unwind in reverse order.
  WindowProc outerReplaced;
  WindowProc outer([&](WindowHandle window, uint32_t message, uint64_t wParam, int64_t lParam) {
    return outerReplaced(window, message, wParam, lParam) + 1;
  });
  outerReplaced = windows.setWindowProc(w, outer);
  CHECK(outerReplaced == mine);
  CHECK_EQ(windows.send(w, kRecordMessage, 0, 1), 1043);
  CHECK(windows.setWindowProc(w, outerReplaced) == outer);
  CHECK_EQ(windows.send(w, kRecordMessage, 0, 2), 1042);

  CHECK(windows.setWindowProc(w, replaced) == mine);
  CHECK_EQ(reinterpret_cast<WNDPROC>(GetWindowLongPtrW(top, GWLP_WNDPROC)), &nativeProc);
  CHECK(windows.windowProc(w) == original);
  seen.clear();
  CHECK_EQ(windows.send(w, kRecordMessage, 0, 3), 42);
  CHECK(seen.empty());

  // Nothing changes for an empty procedure or a window that is gone.
  CHECK(!windows.setWindowProc(w, WindowProc()));
  CHECK(windows.windowProc(w) == original);
  DestroyWindow(top);
  CHECK(!windows.windowProc(w));
  CHECK(!windows.setWindowProc(w, mine));
}

// Another program's subclass, as the host program's other add-ins make them.
WNDPROC foreignPrevious = nullptr;
std::vector<char>* chainLog = nullptr;
LRESULT CALLBACK foreignProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kRecordMessage && chainLog != nullptr) chainLog->push_back('O');
  return CallWindowProcW(foreignPrevious, window, message, wParam, lParam);
}

TEST_CASE("subclassing over another program's subclass keeps every procedure in the chain") {
  Win32WindowSystem windows;
  HWND top = createWindow(L"Korvel Interleaved");
  WindowHandle w = handleOf(top);
  std::vector<char> order;
  chainLog = &order;
  auto layer = [&](char name, WindowProc* next) {
    return WindowProc([&order, name, next](WindowHandle window, uint32_t message, uint64_t wParam,
                                           int64_t lParam) {
      if (message == kRecordMessage) order.push_back(name);
      return (*next)(window, message, wParam, lParam);
    });
  };
  WindowProc belowA, belowB;
  WindowProc a = layer('A', &belowA);
  WindowProc b = layer('B', &belowB);
  belowA = windows.setWindowProc(w, a);
  foreignPrevious = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(top, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&foreignProc)));
  belowB = windows.setWindowProc(w, b);
  CHECK(!(belowB == a));
  CHECK_EQ(windows.send(w, kRecordMessage, 0, 0), 42);
  CHECK(order == std::vector<char>({'B', 'O', 'A'}));

  // B steps out: the other program's procedure runs on top again, still passing on to A.
  CHECK(windows.setWindowProc(w, belowB) == b);
  CHECK_EQ(reinterpret_cast<WNDPROC>(GetWindowLongPtrW(top, GWLP_WNDPROC)), &foreignProc);
  order.clear();
  windows.send(w, kRecordMessage, 0, 0);
  CHECK(order == std::vector<char>({'O', 'A'}));
  chainLog = nullptr;
  DestroyWindow(top);
}

TEST_CASE(
    "a window destroyed while subclassed sees its destruction through the portable procedure") {
  Win32WindowSystem windows;
  HWND top = createWindow(L"Korvel Destroyed");
  WindowHandle w = handleOf(top);
  std::vector<uint32_t> seen;
  WindowProc replaced;
  replaced = windows.setWindowProc(
      w, WindowProc([&](WindowHandle window, uint32_t message, uint64_t wParam, int64_t lParam) {
        seen.push_back(message);
        return replaced(window, message, wParam, lParam);
      }));
  DestroyWindow(top);
  CHECK(std::find(seen.begin(), seen.end(), kWmDestroy) != seen.end());
  CHECK(std::find(seen.begin(), seen.end(), uint32_t(WM_NCDESTROY)) != seen.end());
}

TEST_CASE("post and pumpMessages: queued messages in order, later ones wait") {
  Win32WindowSystem windows;
  HWND top = createWindow(L"Korvel Queue");
  WindowHandle w = handleOf(top);
  windows.pumpMessages();  // whatever creation left queued
  nativeLog().queued.clear();
  CHECK(windows.post(w, kQueuedMessage, 1, 0));
  CHECK(windows.post(w, kQueuedMessage, 2, 0));
  CHECK(windows.post(w, kQueuedMessage, 3, 0));
  CHECK(nativeLog().queued.empty());
  windows.pumpMessages();
  CHECK(nativeLog().queued == std::vector<WPARAM>({1, 2, 3}));
  windows.pumpMessages();
  CHECK(nativeLog().queued == std::vector<WPARAM>({1, 2, 3, 99}));

  // A pump nested in a dispatched message drains the rest; the outer pump then stops.
  nativeLog().queued.clear();
  WindowProc replaced;
  replaced = windows.setWindowProc(
      w, WindowProc([&](WindowHandle window, uint32_t message, uint64_t wParam, int64_t lParam) {
        if (message == kQueuedMessage && wParam == 10) windows.pumpMessages();
        return replaced(window, message, wParam, lParam);
      }));
  windows.post(w, kQueuedMessage, 10, 0);
  windows.post(w, kQueuedMessage, 11, 0);
  windows.pumpMessages();
  CHECK(nativeLog().queued == std::vector<WPARAM>({11, 10}));
  windows.setWindowProc(w, replaced);
  DestroyWindow(top);
}

TEST_CASE("the activate hook sees the window about to become active") {
  Win32WindowSystem windows;
  HWND first = createWindow(L"Korvel First");
  HWND second = createWindow(L"Korvel Second");
  ShowWindow(first, SW_SHOW);
  ShowWindow(second, SW_SHOW);
  SetActiveWindow(first);
  std::vector<WindowHandle> activated;
  uint64_t hook = windows.installActivateHook([&](WindowHandle w) { activated.push_back(w); });
  CHECK(hook != 0);
  SetActiveWindow(second);
  CHECK(std::find(activated.begin(), activated.end(), handleOf(second)) != activated.end());
  CHECK(windows.removeHook(hook));
  CHECK(!windows.removeHook(hook));
  CHECK(!windows.removeHook(0));
  activated.clear();
  SetActiveWindow(first);
  CHECK(activated.empty());

  CHECK(windows.showWindow(handleOf(first), false));
  CHECK(!windows.isWindowVisible(handleOf(first)));
  CHECK(windows.showWindow(handleOf(first), true));
  CHECK(windows.isWindowVisible(handleOf(first)));
  DestroyWindow(first);
  DestroyWindow(second);
}

VOID CALLBACK answerBox(HWND, UINT, UINT_PTR timer, DWORD) {
  HWND box = FindWindowW(nullptr, L"Korvel Question");
  if (box == nullptr) return;
  KillTimer(nullptr, timer);
  PostMessageW(box, WM_COMMAND, IDNO, 0);
}

TEST_CASE("messageBox answers the button chosen") {
  Win32WindowSystem windows;
  SetTimer(nullptr, 0, 50, answerBox);
  CHECK_EQ(windows.messageBox(WindowHandle::kNoWindow, u"Go on?", u"Korvel Question",
                              kMbYesNo | kMbIconQuestion),
           kIdNo);
}

TEST_CASE("payload blocks: allocate, size, release once") {
  Win32WindowSystem windows;
  CHECK(windows.allocatePayload(0) == nullptr);
  uint8_t* block = windows.allocatePayload(10);
  CHECK(block != nullptr);
  if (block == nullptr) return;
  std::memset(block, 0x5A, 10);
  uint64_t address = payloadAddress(block);
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  // Whole pages: every byte of them may be read.
  CHECK_EQ(windows.payloadSize(address), size_t(system.dwPageSize));
  CHECK_EQ(windows.payloadSize(address + 1), size_t(0));
  CHECK(!windows.releasePayload(address + 1));

  uint8_t* large = windows.allocatePayload(3 * system.dwPageSize + 1);
  CHECK_EQ(windows.payloadSize(payloadAddress(large)), size_t(4 * system.dwPageSize));
  CHECK(windows.releasePayload(payloadAddress(large)));

  CHECK(windows.releasePayload(address));
  CHECK_EQ(windows.payloadSize(address), size_t(0));
  CHECK(!windows.releasePayload(address));
  CHECK(!windows.releasePayload(0));

  // Memory that is no payload is left alone: the heap, and the program's own image.
  std::vector<uint8_t> heap(64);
  CHECK_EQ(windows.payloadSize(payloadAddress(heap.data())), size_t(0));
  CHECK(!windows.releasePayload(payloadAddress(heap.data())));
  auto image = reinterpret_cast<const uint8_t*>(GetModuleHandleW(nullptr));
  CHECK_EQ(windows.payloadSize(payloadAddress(image)), size_t(0));
  CHECK(!windows.releasePayload(payloadAddress(image)));
}

}  // namespace
}  // namespace korvel::win32
