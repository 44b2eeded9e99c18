// The command channel: the window procedure the runtime installs on the host program's windows,
// the dispatcher of the commands that the launcher, the workbook's code and the runtime itself
// send to the main window, and the deferred actions of HC_DEFERRED.
//
// Launcher payloads are blocks of the window system that the channel owns from the moment the
// command arrives and releases exactly once, after the handler, whether it succeeded or not. A
// length that exceeds its block is cut to the block. Texts of launcher payloads are UTF-16LE
// counted in units; compressed payloads may be chunk envelopes, used as they are when they do not
// decode.
//
// REQUIRES: runs on the host program's user-interface thread; commands are handled one at a time
// except through re-entry from calls into the host program.
#ifndef KORVEL_RUNTIME_HOST_CHANNEL_H_
#define KORVEL_RUNTIME_HOST_CHANNEL_H_

#include <cstdint>
#include <string>

#include "platform/window_system.h"

namespace korvel {

class Runtime;

struct CommandResult {
  int64_t result = 0;
  bool handled = false;
};

class HostChannel {
 public:
  explicit HostChannel(Runtime& runtime) : runtime_(runtime) {}

  // The window procedure: the close command first lets the workbook's close events through,
  // channel messages go to the dispatcher, everything else (and what the dispatcher does not
  // handle) to the window's previous procedure. Never throws.
  int64_t windowProcedure(WindowHandle window, uint32_t message, uint64_t wParam, int64_t lParam);
  // Runs one command. Ids outside HC_ATTACH_APPLICATION..kLastChannelMessage and ids without a
  // command are not handled (result 0). A command's result is fixed before its action runs; an
  // action that throws shows a user notice in a warning box, then shuts the application down,
  // and the command still counts as handled with that result. Never throws.
  CommandResult dispatch(uint32_t message, uint64_t wParam, int64_t lParam);
  // One deferred action; unknown codes do nothing.
  void runDeferred(uint64_t action, int64_t argument);

  // The English name of the host program's interface language ("English" for 9 and for every
  // language without a name of its own).
  std::u16string languageName() const;

  // What HC_APPLICATION_PATH does with its text: the application path, its folder (also made the
  // current directory) and the application icon from the file.
  void storeApplicationPath(std::u16string path);

 private:
  void run(uint32_t message, uint64_t wParam, int64_t lParam);
  void showNotice(const std::string& message);
  void start();
  void registerUndo();
  void quit();

  Runtime& runtime_;
};

}  // namespace korvel

#endif  // KORVEL_RUNTIME_HOST_CHANNEL_H_
