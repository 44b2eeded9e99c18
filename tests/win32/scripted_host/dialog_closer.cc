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

void DialogCloser::watch(std::vector<DialogAnswer> answers) {
  stop();
  if (watching != nullptr) watching->stop();
  answers_ = std::move(answers);
  next_ = 0;
  dialog_ = nullptr;
  buttonsFound_ = true;
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
  // The dialog answered last may still be up until its click is read.
  if (!isDialog(window) || window == dialog_) return false;
  if (next_ == answers_.size() || windowText(window) != answers_[next_].title) {
    if (looks_ < kPatience) return false;
    done_ = true;
    strayTitle_ = windowText(window);
    // A question box with Yes and No only ignores the close box.
    EndDialog(window, IDCANCEL);
    return true;
  }
  const DialogAnswer& answer = answers_[next_++];
  dialog_ = window;
  looks_ = 0;
  for (int control : answer.textControls) {
    if (GetDlgItem(window, control) != nullptr) {
      SetDlgItemTextW(window, control, answer.text.c_str());
    }
  }
  HWND button = answer.buttonLabel.empty() ? GetDlgItem(window, answer.buttonId)
                                           : buttonLabelled(window, answer.buttonLabel);
  if (button == nullptr) {
    buttonsFound_ = false;
    PostMessageW(window, WM_CLOSE, 0, 0);
    return true;
  }
  // As a click sends it: the control's id with the notification, and the control itself.
  PostMessageW(window, WM_COMMAND, MAKEWPARAM(UINT(GetDlgCtrlID(button)), BN_CLICKED),
               reinterpret_cast<LPARAM>(button));
  return true;
}

}  // namespace korvel::win32
