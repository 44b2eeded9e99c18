// Plays the user in front of the modal dialogs of the program's thread: while it watches, a timer
// of the thread looks among the thread's windows for a dialog with the title the next answer
// expects and, once it is there, fills its edit controls if asked and presses a button; then it
// waits for the next. The timer runs in whatever message loop the thread is in, so it works inside
// the dialogs' own modal loops.
//
// REQUIRES: one closer watches at a time, on the thread that shows the dialog.
#ifndef KORVEL_TESTS_WIN32_SCRIPTED_HOST_DIALOG_CLOSER_H_
#define KORVEL_TESTS_WIN32_SCRIPTED_HOST_DIALOG_CLOSER_H_

#include <windows.h>

#include <string>
#include <utility>
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

  // The answers in the order the dialogs come; none: only strays are closed.
  void watch(std::vector<DialogAnswer> answers);
  void watch(DialogAnswer answer) { watch(std::vector<DialogAnswer>{std::move(answer)}); }
  void stop();

  // Dialogs answered so far, and whether each had the button to press.
  size_t answered() const { return next_; }
  bool seen() const { return next_ > 0; }
  bool buttonFound() const { return buttonsFound_; }
  // The last dialog answered.
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

  std::vector<DialogAnswer> answers_;
  size_t next_ = 0;
  UINT_PTR timer_ = 0;
  HWND dialog_ = nullptr;
  std::wstring strayTitle_;
  bool buttonsFound_ = true;
  bool done_ = false;
  int looks_ = 0;
};

}  // namespace korvel::win32

#endif  // KORVEL_TESTS_WIN32_SCRIPTED_HOST_DIALOG_CLOSER_H_
