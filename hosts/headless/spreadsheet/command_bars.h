// The headless program's command bars: the classic "Worksheet Menu Bar" with its built-in menus,
// and the automation objects over them (CommandBars, CommandBar, CommandBarControls and the
// controls, buttons and popups alike) answering the member ids of ui/command_bar_ids.h. A button
// fires its Click event into the sinks connected to its events interface; when no sink cancels the
// default, its OnAction macro runs. The program discards the controls added as temporary when it
// closes.
//
// REQUIRES: used on the program's thread.
#ifndef KORVEL_HOSTS_HEADLESS_SPREADSHEET_COMMAND_BARS_H_
#define KORVEL_HOSTS_HEADLESS_SPREADSHEET_COMMAND_BARS_H_

#include <cstdint>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dispatch.h"

namespace korvel {

class SpreadsheetProgram;
struct CommandBarControlState;
using CommandBarControlList = std::vector<std::shared_ptr<CommandBarControlState>>;

struct CommandBarControlState {
  int32_t type = 1;  // commandbar::kTypeButton or kTypePopup
  int32_t id = 1;    // commandbar::kCustomControlId unless built in
  std::u16string caption;
  std::u16string tag;
  std::u16string onAction;
  std::u16string parameter;
  bool enabled = true;
  bool visible = true;
  bool temporary = false;
  // A built-in command that the program refuses while busy (its dialog or cell editor is open).
  bool idleOnly = false;
  // Set once the control left its bar; every member of its objects then fails.
  bool deleted = false;
  // A popup's controls; null for a button.
  std::shared_ptr<CommandBarControlList> controls;
  // The list the control sits in.
  std::weak_ptr<CommandBarControlList> owner;
  // Click sinks by cookie.
  std::map<uint32_t, std::shared_ptr<Dispatch>> clickSinks;
};

struct CommandBarState {
  std::u16string name;
  std::shared_ptr<CommandBarControlList> controls;
};

class ProgramCommandBars {
 public:
  // The built-in bars: the "Worksheet Menu Bar" with File (whose 18 commands the program refuses
  // while busy), Edit, View, Insert, Format, Tools, Data, Window and Help.
  ProgramCommandBars();

  std::vector<CommandBarState>& bars() { return bars_; }
  // By name, ignoring case; null when there is none.
  CommandBarState* bar(std::u16string_view name);
  // The first control with the tag (exact), depth first over every bar; null when none.
  std::shared_ptr<CommandBarControlState> findByTag(std::u16string_view tag);
  // The control reached by captions (ignoring case and '&') from the "Worksheet Menu Bar"; null
  // when a step is missing.
  std::shared_ptr<CommandBarControlState> findByPath(std::span<const std::u16string> captions);

  // Enabled as the program reports it: busy turns off the commands it refuses meanwhile.
  bool enabled(const CommandBarControlState& control) const {
    return control.enabled && !(control.idleOnly && busy_);
  }
  bool busy() const { return busy_; }
  void setBusy(bool busy) { busy_ = busy; }

  // Takes the control out of its list; it and everything inside it become deleted.
  static void remove(CommandBarControlState& control);
  // What closing the program does to the bars: temporary controls are gone.
  void dropTemporary();
  uint32_t nextCookie() { return nextCookie_++; }

 private:
  std::vector<CommandBarState> bars_;
  bool busy_ = false;
  uint32_t nextCookie_ = 1;
};

// Application.CommandBars of the program.
std::shared_ptr<Dispatch> makeCommandBarsObject(SpreadsheetProgram* program);

// A user's click on the button: false for a popup, a deleted, hidden or disabled control. Fires
// Click into the button's sinks (CancelDefault passed on from one to the next), then runs the
// OnAction macro unless a sink cancelled the default.
bool clickCommandBarControl(SpreadsheetProgram& program,
                            const std::shared_ptr<CommandBarControlState>& control);

}  // namespace korvel

#endif  // KORVEL_HOSTS_HEADLESS_SPREADSHEET_COMMAND_BARS_H_
