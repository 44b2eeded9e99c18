// Plays the user in front of a modal dialog of the program's thread: while it watches, a timer of
// the thread looks for a dialog with the given title among the thread's windows and, once it is
// there, notes what it holds, fills an edit control if asked and presses a button. The timer runs
// in whatever message loop the thread is in, so it works inside the dialog's own modal loop.
//
// REQUIRES: one closer watches at a time, on the thread that shows the dialog.
#ifndef KORVEL_TESTS_WIN32_SCRIPTED_HOST_DIALOG_CLOSER_H_
#define KORVEL_TESTS_WIN32_SCRIPTED_HOST_DIALOG_CLOSER_H_

#include <windows.h>

#include <string>
#include <vector>

namespace korvel::win32 {

struct DialogAnswer {
  std::wstring title;
  // The button pressed: by its label when given, else by its control id.
  std::wstring buttonLabel;
  int buttonId = 0;
  // Text typed first into each of these controls the dialog has.
  std::vector<int> textControls;
  std::wstring text;
};

class DialogCloser {
 public:
  DialogCloser() = default;
  ~DialogCloser() { stop(); }
  DialogCloser(const DialogCloser&) = delete;
  DialogCloser& operator=(const DialogCloser&) = delete;

  void watch(DialogAnswer answer);
  void stop();

  // A dialog with the title was found, and the button to press in it.
  bool seen() const { return dialog_ != nullptr; }
  bool buttonFound() const { return buttonFound_; }
  HWND dialog() const { return dialog_; }
  // The title of another dialog closed for lack of patience; empty when none was.
  const std::wstring& strayTitle() const { return strayTitle_; }
  // After this many looks without pressing anything, whatever dialog of the thread is up is
  // closed, so that a dialog nobody recognised cannot hold the run forever.
  static constexpr int kPatience = 100;

 private:
  static void CALLBACK tick(HWND, UINT, UINT_PTR, DWORD);
  static BOOL CALLBACK visit(HWND window, LPARAM self);
  bool handle(HWND window);

  DialogAnswer answer_;
  UINT_PTR timer_ = 0;
  HWND dialog_ = nullptr;
  std::wstring strayTitle_;
  bool buttonFound_ = false;
  bool done_ = false;
  int looks_ = 0;
};

}  // namespace korvel::win32

#endif  // KORVEL_TESTS_WIN32_SCRIPTED_HOST_DIALOG_CLOSER_H_
