#include "ui/application_menu.h"

namespace korvel {

ApplicationMenu::ApplicationMenu(Runtime& runtime, ExcelConnection& connection)
    : runtime_(runtime), connection_(connection) {}
ApplicationMenu::~ApplicationMenu() = default;

void ApplicationMenu::removeMenus() {}
void ApplicationMenu::buildMenus() {}
void ApplicationMenu::enableExportCommand() {}
bool ApplicationMenu::excelAcceptsCommands() { return false; }

}  // namespace korvel
