// The application's own menu in the host program's classic menu bar: an "Application" popup
// before the Help menu holding a popup named after the application with its commands. A click
// posts a deferred command to the main window; the command runs afterwards from the message loop.
#ifndef KORVEL_UI_APPLICATION_MENU_H_
#define KORVEL_UI_APPLICATION_MENU_H_

#include "runtime/subsystems.h"

namespace korvel {

class ExcelConnection;
class Runtime;

class ApplicationMenu : public MenuManager {
 public:
  // REQUIRES: runtime and connection outlive the menu.
  ApplicationMenu(Runtime& runtime, ExcelConnection& connection);
  ~ApplicationMenu() override;

  void removeMenus() override;
  void buildMenus() override;
  void enableExportCommand() override;
  bool excelAcceptsCommands() override;

 private:
  Runtime& runtime_;
  ExcelConnection& connection_;
};

}  // namespace korvel

#endif  // KORVEL_UI_APPLICATION_MENU_H_
