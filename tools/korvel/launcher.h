// The launcher's side of the command channel: what the executable that carries an application sends
// to the host program's main window to hand the application over to the runtime and start it. The
// tool and the tests drive the runtime through it exactly as that executable would, payload blocks
// and all, over any WindowSystem.
#ifndef KORVEL_TOOLS_KORVEL_LAUNCHER_H_
#define KORVEL_TOOLS_KORVEL_LAUNCHER_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/compiled_model.h"
#include "platform/window_system.h"

namespace korvel {

class Files;

// Everything the launcher hands over before the start command.
struct LaunchPackage {
  // Sent whole as lParam; the runtime takes the low byte.
  int64_t interfaceLanguage = 9;
  uint64_t launchMode = 0;
  // The settings record exactly as it is to arrive: enveloped or plain.
  std::string settings;
  std::u16string applicationPath;
  std::u16string startupDataPath;
  std::u16string exportDataPath;
  // Plain bytes; the launcher wraps them in an envelope.
  std::string agreementText;
  std::u16string workbookPath;
  std::u16string runtimeModulePath;
  // Not sent at all when absent.
  std::optional<std::u16string> hostText;
  // Plain texts; each goes as its UTF-16LE bytes in an envelope, and not at all when empty.
  std::u16string keywordTexts;
  std::u16string functionNameTexts;
  // The model's chunk envelopes in delivery order (modelEnvelopes, readModelEnvelopes).
  std::vector<std::string> model;
};

// One message as it went out, with the answer of the window.
struct SentCommand {
  uint32_t message = 0;
  uint64_t wParam = 0;
  int64_t lParam = 0;
  int64_t answer = 0;
  friend bool operator==(const SentCommand&, const SentCommand&) = default;
};

struct LaunchResult {
  bool ok = false;
  // Why the call stopped, when !ok.
  std::string error;
  std::vector<SentCommand> sent;
};

// REQUIRES: used on the thread that owns the windows; windows outlives the launcher.
class Launcher {
 public:
  explicit Launcher(WindowSystem& windows) : windows_(windows) {}

  // The host program's main window: the top-level window of class kHostMainWindowClass with the
  // lowest handle; kNoWindow when there is none.
  WindowHandle findHostWindow() const;

  // Sends the launcher's commands in the order in which the runtime depends on them, ending with
  // the model parts and the end marker. Fails before sending anything when there is no main
  // window or the package cannot be sent whole (a host text with a NUL inside, content too large
  // for an envelope). Fails, and stops, when a payload block cannot be allocated or the window
  // goes away; what was sent until then stays in the result.
  LaunchResult deliver(const LaunchPackage& package);

  // Sends the attach command as the workbook's opening code does: wParam the application's
  // interface pointer, lParam the address of the macro's NUL-terminated text or 0 when macro is
  // empty. The text is the launcher's memory, valid only during the call. Fails without sending
  // when there is no main window or the macro holds a NUL.
  LaunchResult attach(uint64_t applicationPointer, std::u16string_view macro);

  // Sends the start command. Fails without sending when there is no main window.
  LaunchResult start();

  // deliver, attach and start in this order, stopping at the first that fails.
  LaunchResult launch(const LaunchPackage& package, uint64_t applicationPointer,
                      std::u16string_view macro);

 private:
  WindowSystem& windows_;
};

// Writes the model with the runtime's writer (spilling to files as the writer does) and puts the
// envelopes of its chunks into *envelopes, replacing its content. False with *error when writing
// fails.
bool modelEnvelopes(const CompiledModel& model, Files& files, std::vector<std::string>* envelopes,
                    std::string* error);

// The envelopes of a .kvm file, copied out one by one. False with *error when the file cannot be
// read or is not a sequence of envelopes; *envelopes is then empty.
bool readModelEnvelopes(Files& files, const std::u16string& path,
                        std::vector<std::string>* envelopes, std::string* error);

}  // namespace korvel

#endif  // KORVEL_TOOLS_KORVEL_LAUNCHER_H_
