// The command-bar object model as the application menu calls it and the headless program answers
// it: member ids of the bars, their control collections and controls, the control types, the
// built-in menus the menu is placed by, and the events interface of a button. Shared by the caller
// and the program so both speak the same numbers.
#ifndef KORVEL_UI_COMMAND_BAR_IDS_H_
#define KORVEL_UI_COMMAND_BAR_IDS_H_

#include <cstdint>

#include "platform/dispatch.h"

namespace korvel::commandbar {

// CommandBars.
inline constexpr int32_t kBarsCount = 0x60030003;
inline constexpr int32_t kBarsItem = 0;  // (index or name) -> CommandBar

// CommandBar.
inline constexpr int32_t kBarControls = 0x60040003;
// (Type, Id, Tag, Visible, Recursive) -> control, or nothing.
inline constexpr int32_t kBarFindControl = 0x60040007;

// CommandBarControls.
// (Type, Id, Parameter, Before, Temporary) -> the new control.
inline constexpr int32_t kControlsAdd = 0x60030000;
inline constexpr int32_t kControlsCount = 0x60030001;
inline constexpr int32_t kControlsItem = 0;  // (index or name) -> control

// CommandBarControl (buttons and popups alike).
inline constexpr int32_t kControlCaption = 0x60040003;
inline constexpr int32_t kControlTag = 0x60040023;
inline constexpr int32_t kControlEnabled = 0x6004000A;
inline constexpr int32_t kControlVisible = 0x60040029;
inline constexpr int32_t kControlIndex = 0x60040014;
inline constexpr int32_t kControlOnAction = 0x6004001A;
inline constexpr int32_t kControlDelete = 0x60040007;  // (Temporary)

// CommandBarPopup.
inline constexpr int32_t kPopupCommandBar = 0x60050000;
inline constexpr int32_t kPopupControls = 0x60050001;

// Control types.
inline constexpr int32_t kTypeButton = 1;
inline constexpr int32_t kTypePopup = 10;

// The id of every control that is not one of the program's own commands.
inline constexpr int32_t kCustomControlId = 1;
// Built-in menus of the classic menu bar.
inline constexpr int32_t kFileMenuId = 30002;
inline constexpr int32_t kHelpMenuId = 30010;

// The classic menu bar of the program's worksheets.
inline constexpr char16_t kWorksheetMenuBar[] = u"Worksheet Menu Bar";

// The events interface of a button, and its Click event: (Ctrl, CancelDefault by reference).
inline const InterfaceId kIidButtonEvents = "{000C0351-0000-0000-C000-000000000046}";
inline constexpr int32_t kEventClick = 1;

}  // namespace korvel::commandbar

#endif  // KORVEL_UI_COMMAND_BAR_IDS_H_
