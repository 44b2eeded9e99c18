// The application's own menu in the host program's classic menu bar: an "Application" popup
// before the Help menu holding a popup named after the application with its commands. A click
// posts a deferred command to the main window; the command runs afterwards from the message loop.
#ifndef KORVEL_UI_APPLICATION_MENU_H_
#define KORVEL_UI_APPLICATION_MENU_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

#include "excel/excel_object.h"
#include "platform/variant.h"
#include "runtime/subsystems.h"

namespace korvel {

class ButtonSink;
class ExcelConnection;
class Runtime;

// The menu's tags: controls are found again by them on a later attach.
inline constexpr char16_t kMainMenuTag[] = u"Korvel_MainMenu_Item_Tag";
inline constexpr char16_t kSubmenuTag[] = u"Korvel_Package_Submenu";
inline constexpr char16_t kExportButtonTag[] = u"Korvel_Package_Save_Data_Button";
inline constexpr char16_t kImportButtonTag[] = u"Korvel_Package_Load_Data_Button";
inline constexpr char16_t kExportCollectedButtonTag[] = u"Korvel_ExportCollected_Data_Button";
inline constexpr char16_t kAgreementButtonTag[] = u"Korvel_Dev_End_User_License_Agreement";
inline constexpr char16_t kAboutButtonTag[] = u"Korvel_About_Package_Button";

// The deferred command a click on a button of that tag posts: export, export with the collected
// cells, import, the agreement; every other tag shows the About box.
uint64_t menuCommandOf(std::u16string_view tag);

class ApplicationMenu : public MenuManager {
 public:
  // REQUIRES: runtime and connection outlive the menu.
  ApplicationMenu(Runtime& runtime, ExcelConnection& connection);
  // Lets go of the click sinks; the controls stay (removeMenus takes them away).
  ~ApplicationMenu() override;
  ApplicationMenu(const ApplicationMenu&) = delete;
  ApplicationMenu& operator=(const ApplicationMenu&) = delete;

  // Disconnects the click sinks and deletes the "Application" popup with everything in it.
  // Never throws; a step that fails ends it.
  void removeMenus() override;
  // Finds the menu (a previous attach in the same program left it) or adds it, then adds the
  // buttons whose condition holds and that are not there yet: Export, Import and Export Collected
  // with data exchange, the agreement with an agreement text, About always. Every held button gets
  // a click sink. Nothing happens without an attached Application; never throws.
  void buildMenus() override;
  // The Export button becomes enabled, the first time only.
  void enableExportCommand() override;
  // Item 18 of the File menu is enabled; false on any failure.
  bool excelAcceptsCommands() override;

  // The click event of a button: posts the command of its tag to the main window and sets
  // cancelDefault. A failure is shown to the user in an error box.
  void onButtonClick(ExcelObject button, Variant& cancelDefault);

 private:
  friend class ButtonSink;
  // Rows of the menu's table, in the order the submenu shows them.
  static constexpr size_t kButtonCount = 5;
  struct ButtonHolder {
    ExcelObject control;
    std::shared_ptr<ButtonSink> sink;
    uint32_t cookie = 0;
  };

  void build();
  bool wanted(size_t button) const;
  void connectSinks();
  void disconnectSinks();
  // The classic menu bar, found again when not held.
  ExcelObject& menuBar();

  Runtime& runtime_;
  ExcelConnection& connection_;
  ExcelObject commandBars_;
  ExcelObject menuBar_;
  ExcelObject mainPopup_;
  ExcelObject submenu_;
  ExcelObject fileMenu_;
  std::array<ButtonHolder, kButtonCount> buttons_;
  bool exportEnabled_ = false;
};

}  // namespace korvel

#endif  // KORVEL_UI_APPLICATION_MENU_H_
