#include "ui/application_menu.h"

#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "excel/dispatch_ids.h"
#include "excel/excel_connection.h"
#include "runtime/excel_bridge.h"
#include "runtime/host_commands.h"
#include "runtime/runtime.h"
#include "runtime/text_table.h"
#include "ui/command_bar_ids.h"

namespace korvel {

// The sink a button fires its Click event into. The program may call it after the menu let go,
// so a detached sink answers S_OK and does nothing.
class ButtonSink : public Dispatch {
 public:
  // The sink knows its button by position only: holding the control would keep the control and
  // its connection alive in a circle until the program ended.
  ButtonSink(ApplicationMenu* owner, size_t button) : owner_(owner), button_(button) {}
  void detach() { owner_ = nullptr; }

  HResult invoke(int32_t memberId, InvokeKind /*kind*/, std::span<Variant> arguments,
                 Variant* /*result*/, uint32_t /*locale*/) override {
    if (owner_ == nullptr || memberId != commandbar::kEventClick || arguments.size() < 2) {
      return kSOk;
    }
    // The event names the control clicked; the one the sink was connected to stands in when it
    // does not.
    ExcelObject button = ExcelObject::of(arguments[0]);
    if (!button.live()) button = owner_->buttons_[button_].control;
    try {
      owner_->onButtonClick(std::move(button), arguments[1]);
    } catch (...) {
    }
    return kSOk;
  }

 private:
  ApplicationMenu* owner_;
  size_t button_;
};

namespace {

using namespace commandbar;

constexpr char16_t kUnknownErrorText[] =
    u"The error occurred for unknow reason please close Excel and try again.";
constexpr char16_t kUnknownErrorCaption[] = u"Korvel Plinth Compiler";
// The File menu's item the program disables while it takes no commands.
constexpr int32_t kReadinessItem = 18;

struct ButtonRow {
  const char16_t* caption;
  const char16_t* tag;
};

constexpr ButtonRow kButtons[] = {
    {u"Export Data", kExportButtonTag},
    {u"Import Data", kImportButtonTag},
    {u"Export Collected Data", kExportCollectedButtonTag},
    {u"End User License Agreement", kAgreementButtonTag},
    {u"About", kAboutButtonTag},
};
constexpr size_t kExport = 0;
constexpr size_t kAgreement = 3;

Variant missing() { return Variant::missing(); }

// FindControl(Type, Id, Tag, Visible, Recursive) with only the id or only the tag.
ExcelObject findControl(ExcelObject& bar, Variant id, Variant tag) {
  return ExcelObject::of(
      bar.call(kBarFindControl, {missing(), std::move(id), std::move(tag), missing(), missing()}));
}

// Controls.Item by name; an empty holder when the collection has no such control (the program
// answers that with a failure).
ExcelObject itemByName(ExcelObject& controls, std::u16string_view name) {
  std::vector<Variant> arguments{Variant::text(std::u16string(name))};
  Variant found;
  if (failed(controls.invoke(kControlsItem, InvokeKind::kPropertyGet, arguments, &found))) {
    return ExcelObject();
  }
  return ExcelObject::of(found);
}

// Controls.Add(Type, Id, Parameter, Before, Temporary): every control of the menu is temporary,
// so the program discards it when it closes.
ExcelObject addTemporary(ExcelObject& controls, int32_t type, Variant id, Variant before) {
  return ExcelObject::of(controls.call(kControlsAdd, {Variant::i4(type), std::move(id), missing(),
                                                      std::move(before), Variant::boolean(true)}));
}

void label(ExcelObject& control, std::u16string_view caption, std::u16string_view tag) {
  control.put(kControlCaption, Variant::text(std::u16string(caption)));
  control.put(kControlTag, Variant::text(std::u16string(tag)));
}

}  // namespace

uint64_t menuCommandOf(std::u16string_view tag) {
  if (tag == kExportButtonTag) return DEFER_EXPORT;
  if (tag == kExportCollectedButtonTag) return DEFER_EXPORT_COLLECTED;
  if (tag == kImportButtonTag) return DEFER_IMPORT;
  if (tag == kAgreementButtonTag) return DEFER_AGREEMENT;
  return DEFER_ABOUT;
}

ApplicationMenu::ApplicationMenu(Runtime& runtime, ExcelConnection& connection)
    : runtime_(runtime), connection_(connection) {}

ApplicationMenu::~ApplicationMenu() {
  try {
    disconnectSinks();
  } catch (...) {
  }
}

bool ApplicationMenu::wanted(size_t button) const {
  if (button == kAgreement) return !runtime_.channelState().agreementText.empty();
  if (button < kAgreement) return runtime_.settings().dataExchange;
  return true;
}

ExcelObject& ApplicationMenu::menuBar() {
  if (!menuBar_.live()) {
    commandBars_ = connection_.application().object(dispid::kCommandBars);
    menuBar_ = commandBars_.object(kBarsItem, {Variant::text(kWorksheetMenuBar)});
  }
  return menuBar_;
}

void ApplicationMenu::buildMenus() {
  if (!connection_.application().live()) return;
  try {
    build();
  } catch (...) {
    // A menu that cannot be built leaves the application without its commands, not without its
    // attach.
  }
}

void ApplicationMenu::build() {
  // The bar is looked up afresh on every attach: the Application may be another one by now.
  menuBar_.reset();
  fileMenu_.reset();
  ExcelObject& bar = menuBar();

  mainPopup_ = findControl(bar, missing(), Variant::text(kMainMenuTag));
  if (!mainPopup_.live()) {
    // Placed just before the Help menu; at the end of the bar when the bar has none.
    ExcelObject help = findControl(bar, Variant::i4(kHelpMenuId), missing());
    Variant before = help.live() ? Variant::i4(help.getInt(kControlIndex)) : missing();
    ExcelObject barControls = bar.object(kBarControls);
    mainPopup_ =
        addTemporary(barControls, kTypePopup, Variant::i4(kCustomControlId), std::move(before));
    label(mainPopup_, u"Application", kMainMenuTag);
  }

  ExcelObject popupControls = mainPopup_.object(kPopupControls);
  submenu_ = itemByName(popupControls, kSubmenuTag);
  if (!submenu_.live()) submenu_ = addTemporary(popupControls, kTypePopup, missing(), missing());
  label(submenu_, runtime_.settings().applicationName, kSubmenuTag);

  // The sinks are connected afresh to the buttons found or added now; a button that went away
  // with its menu no longer fires.
  disconnectSinks();
  ExcelObject items = submenu_.object(kPopupControls);
  for (size_t i = 0; i < kButtonCount; ++i) {
    buttons_[i].control.reset();
    if (!wanted(i)) continue;
    // A button a previous attach left in the submenu is taken over rather than doubled.
    ExcelObject button = itemByName(items, kButtons[i].tag);
    if (!button.live()) {
      button = addTemporary(items, kTypeButton, missing(), missing());
      label(button, kButtons[i].caption, kButtons[i].tag);
    }
    buttons_[i].control = std::move(button);
  }
  connectSinks();
}

void ApplicationMenu::connectSinks() {
  for (size_t i = 0; i < kButtonCount; ++i) {
    ButtonHolder& holder = buttons_[i];
    if (!holder.control.live() || holder.cookie != 0) continue;
    auto sink = std::make_shared<ButtonSink>(this, i);
    uint32_t cookie = holder.control.dispatch()->advise(kIidButtonEvents, sink);
    if (cookie == 0) {
      sink->detach();
      continue;
    }
    holder.sink = std::move(sink);
    holder.cookie = cookie;
  }
}

void ApplicationMenu::disconnectSinks() {
  for (ButtonHolder& holder : buttons_) {
    if (holder.cookie != 0 && holder.control.live()) {
      holder.control.dispatch()->unadvise(holder.cookie);
    }
    holder.cookie = 0;
    if (holder.sink) holder.sink->detach();
    holder.sink.reset();
  }
}

void ApplicationMenu::removeMenus() {
  try {
    disconnectSinks();
    for (ButtonHolder& holder : buttons_) holder.control.reset();
    submenu_.reset();
    if (mainPopup_.live()) {
      ExcelObject popup = std::move(mainPopup_);
      mainPopup_.reset();
      popup.call(kControlDelete, {Variant::boolean(true)});
    }
  } catch (...) {
  }
  fileMenu_.reset();
  menuBar_.reset();
  commandBars_.reset();
}

void ApplicationMenu::enableExportCommand() {
  ButtonHolder& exportButton = buttons_[kExport];
  if (exportEnabled_ || !exportButton.control.live()) return;
  try {
    exportButton.control.put(kControlEnabled, Variant::boolean(true));
    exportEnabled_ = true;
  } catch (...) {
  }
}

bool ApplicationMenu::excelAcceptsCommands() {
  try {
    if (!fileMenu_.live()) {
      fileMenu_ = findControl(menuBar(), Variant::i4(kFileMenuId), missing());
      if (!fileMenu_.live()) return false;
    }
    ExcelObject item =
        fileMenu_.object(kPopupControls).object(kControlsItem, {Variant::i4(kReadinessItem)});
    return item.getBool(kControlEnabled);
  } catch (...) {
    // A File menu that no longer answers is looked up again next time.
    fileMenu_.reset();
    return false;
  }
}

void ApplicationMenu::onButtonClick(ExcelObject button, Variant& cancelDefault) {
  WindowSystem& windows = *runtime_.platform().windows;
  try {
    std::u16string tag = button.getText(kControlTag);
    runtime_.postDeferred(menuCommandOf(tag), 0);
    cancelDefault = Variant::boolean(true);
  } catch (const notice4user& notice) {
    windows.messageBox(WindowHandle::kNoWindow, widenText(notice.what()),
                       tableText(TextEntry::kNoticeCaption), kMbOk | kMbIconError);
  } catch (...) {
    windows.messageBox(WindowHandle::kNoWindow, kUnknownErrorText, kUnknownErrorCaption,
                       kMbOk | kMbIconError);
  }
}

}  // namespace korvel
