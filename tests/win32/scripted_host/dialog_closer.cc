#include "tests/win32/scripted_host/dialog_closer.h"

#include <cwchar>
#include <utility>

namespace korvel::win32 {
namespace {

constexpr UINT kTickMs = 50;

DialogCloser* watching = nullptr;

std::wstring windowText(HWND window) {
  wchar_t text[512] = {};
  int length = GetWindowTextW(window, text, int(std::size(text)));
  return std::wstring(text, size_t(length > 0 ? length : 0));
}

bool isDialog(HWND window) {
  wchar_t name[32] = {};
  GetClassNameW(window, name, int(std::size(name)));
  return std::wcscmp(name, L"#32770") == 0;
}

// The child button with the label, mnemonic ampersands ignored.
HWND buttonLabelled(HWND dialog, const std::wstring& label) {
  for (HWND child = FindWindowExW(dialog, nullptr, L"Button", nullptr); child != nullptr;
       child = FindWindowExW(dialog, child, L"Button", nullptr)) {
    std::wstring text = windowText(child);
    std::erase(text, L'&');
    if (text == label) return child;
  }
  return nullptr;
}

}  // namespace

void DialogCloser::watch(DialogAnswer answer) {
  stop();
  answer_ = std::move(answer);
  dialog_ = nullptr;
  buttonFound_ = false;
  strayTitle_.clear();
  done_ = false;
  looks_ = 0;
  watching = this;
  timer_ = SetTimer(nullptr, 0, kTickMs, &DialogCloser::tick);
}

void DialogCloser::stop() {
  if (timer_ != 0) KillTimer(nullptr, timer_);
  timer_ = 0;
  if (watching == this) watching = nullptr;
}

void CALLBACK DialogCloser::tick(HWND, UINT, UINT_PTR, DWORD) {
  DialogCloser* self = watching;
  if (self == nullptr || self->done_) return;
  ++self->looks_;
  EnumThreadWindows(GetCurrentThreadId(), &DialogCloser::visit, reinterpret_cast<LPARAM>(self));
}

BOOL CALLBACK DialogCloser::visit(HWND window, LPARAM self) {
  return reinterpret_cast<DialogCloser*>(self)->handle(window) ? FALSE : TRUE;
}

bool DialogCloser::handle(HWND window) {
  if (!isDialog(window)) return false;
  if (windowText(window) != answer_.title) {
    if (looks_ < kPatience) return false;
    done_ = true;
    strayTitle_ = windowText(window);
    // A question box with Yes and No only ignores the close box.
    EndDialog(window, IDCANCEL);
    return true;
  }
  dialog_ = window;
  done_ = true;
  for (int control : answer_.textControls) {
    if (GetDlgItem(window, control) != nullptr) {
      SetDlgItemTextW(window, control, answer_.text.c_str());
    }
  }
  HWND button = answer_.buttonLabel.empty() ? GetDlgItem(window, answer_.buttonId)
                                            : buttonLabelled(window, answer_.buttonLabel);
  buttonFound_ = button != nullptr;
  if (button == nullptr) {
    PostMessageW(window, WM_CLOSE, 0, 0);
    return true;
  }
  // As a click sends it: the control's id with the notification, and the control itself.
  PostMessageW(window, WM_COMMAND, MAKEWPARAM(UINT(GetDlgCtrlID(button)), BN_CLICKED),
               reinterpret_cast<LPARAM>(button));
  return true;
}

}  // namespace korvel::win32
