#include "tests/win32/scripted_host/host_windows.h"

namespace korvel::win32 {
namespace {

HostWindows* owner = nullptr;

bool registerClass(const wchar_t* name, WNDPROC procedure) {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.lpfnWndProc = procedure;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = name;
  if (RegisterClassExW(&windowClass) != 0) return true;
  return GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

HWND child(const wchar_t* className, HWND parent) {
  return CreateWindowExW(0, className, L"", WS_CHILD, 0, 0, 100, 100, parent, nullptr,
                         GetModuleHandleW(nullptr), nullptr);
}

}  // namespace

bool HostWindows::create() {
  owner = this;
  if (!registerClass(L"XLMAIN", &mainWindowProc)) return false;
  for (const wchar_t* name : {L"XLDESK", L"EXCEL<", L"EXCEL6"}) {
    if (!registerClass(name, &childWindowProc)) return false;
  }
  main_ = CreateWindowExW(0, L"XLMAIN", L"Spreadsheet", WS_OVERLAPPEDWINDOW, 0, 0, 640, 480,
                          nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (main_ == nullptr) return false;
  desk_ = child(L"XLDESK", main_);
  edit_ = child(L"EXCEL<", main_);
  edit2_ = child(L"EXCEL6", main_);
  return desk_ != nullptr && edit_ != nullptr && edit2_ != nullptr;
}

void HostWindows::destroy() {
  if (main_ != nullptr) DestroyWindow(main_);
  main_ = desk_ = edit_ = edit2_ = nullptr;
  if (owner == this) owner = nullptr;
}

WNDPROC HostWindows::mainProcedure() { return &mainWindowProc; }

WNDPROC HostWindows::childProcedure() { return &childWindowProc; }

size_t HostWindows::pumpMessages(size_t limit) {
  size_t ran = 0;
  MSG message;
  while (ran < limit && PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
    ++ran;
  }
  return ran;
}

LRESULT CALLBACK HostWindows::mainWindowProc(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
  if (message >= WM_USER && message < 0x8000) {
    if (owner != nullptr) owner->hostMessages_.push_back({message, wParam, lParam});
    return kHostAnswer;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

LRESULT CALLBACK HostWindows::childWindowProc(HWND window, UINT message, WPARAM wParam,
                                              LPARAM lParam) {
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace korvel::win32
