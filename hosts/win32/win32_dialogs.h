// The dialogs of the Win32 host: the system's open/save and colour choosers, the message dialog
// built at run time from an in-memory template with the controls where the portable layout put
// them (a rich-edit body, picture drawn with GDI+), and the data-import dialog from the library's
// resources, whose buttons call the runtime's controller.
//
// REQUIRES: used on the host program's user-interface thread; every call is modal.
#ifndef KORVEL_HOSTS_WIN32_WIN32_DIALOGS_H_
#define KORVEL_HOSTS_WIN32_WIN32_DIALOGS_H_

#include <array>
#include <optional>
#include <string>

#include "platform/dialogs.h"
#include "platform/text_metrics.h"

namespace korvel::win32 {

// The message dialog's controls; the body keeps the identifier the runtime's dialogs always had.
inline constexpr int kMessageBodyId = 1274;
inline constexpr int kMessageFirstLineId = 1300;

class Win32Dialogs : public Dialogs {
 public:
  // The metrics are those the runtime lays its dialogs out with: the window frame they assume
  // decides the client area. REQUIRES: metrics outlives this object.
  explicit Win32Dialogs(const TextMetrics& metrics) : metrics_(metrics) {}

  std::optional<std::u16string> chooseFile(const FileDialogRequest& request) override;
  std::optional<SystemColour> chooseColour(
      WindowHandle owner, const std::array<SystemColour, 16>& customColours) override;
  // 0 when the dialog could not be created.
  int showMessageDialog(WindowHandle owner, const MessageDialogView& dialog) override;
  // 2 (with the controller's cancel) when the dialog could not be created.
  int showImportDialog(WindowHandle owner, ImportDialogController& controller) override;

 private:
  const TextMetrics& metrics_;
};

}  // namespace korvel::win32

#endif  // KORVEL_HOSTS_WIN32_WIN32_DIALOGS_H_
