// The real windows of the scripted host program: the main window of class "XLMAIN" with the desk
// and the two edit windows the spreadsheet program has, so that the library finds and subclasses
// them as it does in the program. The main window's own procedure records what reaches it.
//
// REQUIRES: used on the thread that created the windows.
#ifndef KORVEL_TESTS_WIN32_SCRIPTED_HOST_HOST_WINDOWS_H_
#define KORVEL_TESTS_WIN32_SCRIPTED_HOST_HOST_WINDOWS_H_

#include <windows.h>

#include <cstdint>
#include <vector>

namespace korvel::win32 {

struct HostMessage {
  UINT message = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
};

class HostWindows {
 public:
  // What the main window's own procedure answers for the messages of the command channel that
  // reach it, so that a test sees which ones the library passes on.
  static constexpr LRESULT kHostAnswer = 77;

  // Registers the classes and creates the windows (hidden). False when one cannot be created.
  bool create();
  // Destroys the windows; the classes stay registered.
  void destroy();

  HWND main() const { return main_; }
  HWND desk() const { return desk_; }
  HWND edit() const { return edit_; }
  HWND edit2() const { return edit2_; }
  // The procedures each window was created with.
  static WNDPROC mainProcedure();
  static WNDPROC childProcedure();

  // Channel messages (WM_USER and above) that reached the main window's own procedure.
  std::vector<HostMessage>& hostMessages() { return hostMessages_; }

  // Dispatches every message waiting in the thread's queue, including those posted meanwhile,
  // up to limit; answers how many ran.
  static size_t pumpMessages(size_t limit = 10000);

 private:
  static LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK childWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  HWND main_ = nullptr;
  HWND desk_ = nullptr;
  HWND edit_ = nullptr;
  HWND edit2_ = nullptr;
  std::vector<HostMessage> hostMessages_;
};

}  // namespace korvel::win32

#endif  // KORVEL_TESTS_WIN32_SCRIPTED_HOST_HOST_WINDOWS_H_
