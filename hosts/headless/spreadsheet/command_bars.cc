#include "hosts/headless/spreadsheet/command_bars.h"

#include <algorithm>
#include <functional>
#include <optional>
#include <utility>

#include "hosts/headless/spreadsheet/program_objects.h"
#include "ui/command_bar_ids.h"

namespace korvel {
namespace {

using namespace commandbar;
constexpr InvokeKind kGet = InvokeKind::kPropertyGet;
constexpr InvokeKind kPut = InvokeKind::kPropertyPut;
constexpr InvokeKind kCall = InvokeKind::kMethod;

struct BuiltIn {
  const char16_t* caption;
  int32_t id;
};

// The classic menus in the order the bar shows them.
constexpr BuiltIn kMenus[] = {{u"File", kFileMenuId}, {u"Edit", 30003},   {u"View", 30004},
                              {u"Insert", 30005},     {u"Format", 30006}, {u"Tools", 30007},
                              {u"Data", 30011},       {u"Window", 30009}, {u"Help", kHelpMenuId}};
constexpr BuiltIn kFileCommands[] = {{u"New...", 18},
                                     {u"Open...", 23},
                                     {u"Close", 106},
                                     {u"Save", 3},
                                     {u"Save As...", 748},
                                     {u"Save as Web Page...", 3823},
                                     {u"Save Workspace...", 846},
                                     {u"File Search...", 5905},
                                     {u"Permission", 7343},
                                     {u"Web Page Preview", 3655},
                                     {u"Page Setup...", 247},
                                     {u"Print Area", 30255},
                                     {u"Print Preview", 109},
                                     {u"Print...", 4},
                                     {u"Send To", 30095},
                                     {u"Properties", 750},
                                     {u"Recent Files", 831},
                                     {u"Exit", 752}};
constexpr BuiltIn kHelpCommands[] = {{u"Help", 984}, {u"About", 927}};

char16_t folded(char16_t c) { return c >= u'a' && c <= u'z' ? char16_t(c - 32) : c; }

// Captions compare as the user reads them: without the accelerator marks, ignoring case.
bool sameCaption(std::u16string_view a, std::u16string_view b) {
  std::u16string x, y;
  for (char16_t c : a) {
    if (c != u'&') x += folded(c);
  }
  for (char16_t c : b) {
    if (c != u'&') y += folded(c);
  }
  return x == y;
}

std::shared_ptr<CommandBarControlState> builtIn(const BuiltIn& entry, int32_t type,
                                                const std::shared_ptr<CommandBarControlList>& in) {
  auto control = std::make_shared<CommandBarControlState>();
  control->type = type;
  control->id = entry.id;
  control->caption = entry.caption;
  control->owner = in;
  if (type == kTypePopup) control->controls = std::make_shared<CommandBarControlList>();
  in->push_back(control);
  return control;
}

std::shared_ptr<CommandBarControlState> findIn(
    const CommandBarControlList& list,
    const std::function<bool(const CommandBarControlState&)>& matches, bool recursive) {
  for (const auto& control : list) {
    if (matches(*control)) return control;
    if (recursive && control->controls) {
      if (auto found = findIn(*control->controls, matches, true)) return found;
    }
  }
  return nullptr;
}

void markDeleted(CommandBarControlState& control) {
  control.deleted = true;
  control.clickSinks.clear();
  if (control.controls) {
    for (const auto& child : *control.controls) markDeleted(*child);
    control.controls->clear();
  }
}

std::optional<bool> boolOf(const Variant& v) {
  if (v.type() == VarType::kBool || v.isInteger()) return v.integer() != 0;
  if (v.type() == VarType::kR8) return v.real() != 0;
  return std::nullopt;
}

HResult textProperty(std::u16string* field, InvokeKind kind, std::span<Variant> arguments,
                     Variant* result) {
  if (kind != kPut) return answer(result, Variant::text(*field));
  const Variant* value = args::putValue(arguments);
  if (value == nullptr) return kDispEBadParamCount;
  if (value->type() == VarType::kBstr) {
    *field = value->text();
  } else if (value->isEmpty()) {
    field->clear();
  } else if (value->type() == VarType::kDispatch || value->type() == VarType::kArray) {
    return kDispETypeMismatch;
  } else {
    *field = valueText(*value);
  }
  return kSOk;
}

HResult boolPut(bool* field, std::span<Variant> arguments) {
  const Variant* value = args::putValue(arguments);
  if (value == nullptr) return kDispEBadParamCount;
  std::optional<bool> converted = boolOf(*value);
  if (!converted) return kDispETypeMismatch;
  *field = *converted;
  return kSOk;
}

// Objects of the command bars. They hold the state they show, never the program: once the program
// has ended they answer failures.
class ControlObject;

class ControlsObject : public ProgramObject {
 public:
  ControlsObject(SpreadsheetProgram* program, std::shared_ptr<CommandBarControlList> list,
                 std::shared_ptr<CommandBarControlState> popup)
      : ProgramObject(program), list_(std::move(list)), popup_(std::move(popup)) {}

  HResult invoke(int32_t memberId, InvokeKind kind, std::span<Variant> arguments, Variant* result,
                 uint32_t locale = kLocaleSystemDefault) override;

 private:
  HResult add(std::span<Variant> arguments, Variant* result);
  HResult item(std::span<Variant> arguments, Variant* result);

  std::shared_ptr<CommandBarControlList> list_;
  // The popup the list belongs to (null for a bar's own list): a deleted popup's list is gone.
  std::shared_ptr<CommandBarControlState> popup_;
};

class BarObject : public ProgramObject {
 public:
  BarObject(SpreadsheetProgram* program, std::shared_ptr<CommandBarControlList> list,
            std::shared_ptr<CommandBarControlState> popup)
      : ProgramObject(program), list_(std::move(list)), popup_(std::move(popup)) {}

  HResult invoke(int32_t memberId, InvokeKind kind, std::span<Variant> arguments, Variant* result,
                 uint32_t locale = kLocaleSystemDefault) override;

 private:
  std::shared_ptr<CommandBarControlList> list_;
  std::shared_ptr<CommandBarControlState> popup_;
};

class ControlObject : public ProgramObject {
 public:
  ControlObject(SpreadsheetProgram* program, std::shared_ptr<CommandBarControlState> state)
      : ProgramObject(program), state_(std::move(state)) {}

  HResult invoke(int32_t memberId, InvokeKind kind, std::span<Variant> arguments, Variant* result,
                 uint32_t locale = kLocaleSystemDefault) override;
  uint32_t advise(const InterfaceId& events, std::shared_ptr<Dispatch> sink) override;
  bool unadvise(uint32_t cookie) override;

 private:
  std::shared_ptr<CommandBarControlState> state_;
};

Variant controlVariant(SpreadsheetProgram* program,
                       const std::shared_ptr<CommandBarControlState>& control) {
  return Variant::dispatch(control ? std::make_shared<ControlObject>(program, control) : nullptr);
}

HResult ControlsObject::invoke(int32_t memberId, InvokeKind kind, std::span<Variant> arguments,
                               Variant* result, uint32_t) {
  SpreadsheetProgram* p = program();
  if (p == nullptr) return kEFail;
  if (result != nullptr) *result = Variant();
  if (popup_ && popup_->deleted) return kProgramError;
  switch (memberId) {
    case kControlsAdd:
      if (kind != kCall) return kDispEMemberNotFound;
      return add(arguments, result);
    case kControlsCount:
      if (kind != kGet) return kDispEMemberNotFound;
      return answer(result, Variant::i4(int32_t(list_->size())));
    case kControlsItem:
      if (kind == kPut) return kDispEMemberNotFound;
      return item(arguments, result);
    default:
      return kDispEMemberNotFound;
  }
}

HResult ControlsObject::add(std::span<Variant> arguments, Variant* result) {
  int64_t type = args::given(arguments, 0) ? args::integer(arguments, 0).value_or(-1) : kTypeButton;
  if (type != kTypeButton && type != kTypePopup) return kEInvalidArg;
  int64_t id =
      args::given(arguments, 1) ? args::integer(arguments, 1).value_or(-1) : kCustomControlId;
  if (id < 1) return kEInvalidArg;
  size_t at = list_->size();
  if (args::given(arguments, 3)) {
    std::optional<int64_t> before = args::integer(arguments, 3);
    if (!before || *before < 1 || uint64_t(*before) > list_->size() + 1) return kEInvalidArg;
    at = size_t(*before - 1);
  }
  auto control = std::make_shared<CommandBarControlState>();
  control->type = int32_t(type);
  control->id = int32_t(id);
  if (std::optional<std::u16string> parameter = args::text(arguments, 2)) {
    control->parameter = *parameter;
  }
  control->temporary = args::boolean(arguments, 4, false);
  if (type == kTypePopup) control->controls = std::make_shared<CommandBarControlList>();
  control->owner = list_;
  list_->insert(list_->begin() + ptrdiff_t(at), control);
  return answer(result, controlVariant(program(), control));
}

HResult ControlsObject::item(std::span<Variant> arguments, Variant* result) {
  if (std::optional<int64_t> index = args::integer(arguments, 0)) {
    if (*index < 1 || uint64_t(*index) > list_->size()) return kEInvalidArg;
    return answer(result, controlVariant(program(), (*list_)[size_t(*index - 1)]));
  }
  std::optional<std::u16string> name = args::text(arguments, 0);
  if (!name) return kEInvalidArg;
  for (const auto& control : *list_) {
    if (control->tag == *name || sameCaption(control->caption, *name)) {
      return answer(result, controlVariant(program(), control));
    }
  }
  return kEInvalidArg;
}

HResult BarObject::invoke(int32_t memberId, InvokeKind kind, std::span<Variant> arguments,
                          Variant* result, uint32_t) {
  SpreadsheetProgram* p = program();
  if (p == nullptr) return kEFail;
  if (result != nullptr) *result = Variant();
  if (popup_ && popup_->deleted) return kProgramError;
  switch (memberId) {
    case kBarControls:
      if (kind != kGet) return kDispEMemberNotFound;
      return answer(result, Variant::dispatch(std::make_shared<ControlsObject>(p, list_, popup_)));
    case kBarFindControl: {
      if (kind == kPut) return kDispEMemberNotFound;
      std::optional<int64_t> type = args::integer(arguments, 0);
      std::optional<int64_t> id = args::integer(arguments, 1);
      std::optional<std::u16string> tag = args::text(arguments, 2);
      bool visibleOnly = args::boolean(arguments, 3, false);
      bool recursive = args::boolean(arguments, 4, false);
      auto matches = [&](const CommandBarControlState& c) {
        return (!type || c.type == *type) && (!id || c.id == *id) && (!tag || c.tag == *tag) &&
               (!visibleOnly || c.visible);
      };
      // Nothing found is an answer, not a failure.
      return answer(result, controlVariant(p, findIn(*list_, matches, recursive)));
    }
    default:
      return kDispEMemberNotFound;
  }
}

HResult ControlObject::invoke(int32_t memberId, InvokeKind kind, std::span<Variant> arguments,
                              Variant* result, uint32_t) {
  SpreadsheetProgram* p = program();
  if (p == nullptr) return kEFail;
  if (result != nullptr) *result = Variant();
  CommandBarControlState& c = *state_;
  if (c.deleted) return kProgramError;
  bool popup = c.type == kTypePopup;
  // Caption of a control and Delete share their ids with members of a bar, never with each other
  // in one kind, so the kind tells them apart.
  switch (memberId) {
    case kControlCaption:
      return textProperty(&c.caption, kind, arguments, result);
    case kControlTag:
      return textProperty(&c.tag, kind, arguments, result);
    case kControlOnAction:
      return textProperty(&c.onAction, kind, arguments, result);
    case kControlEnabled:
      if (kind == kPut) return boolPut(&c.enabled, arguments);
      return answer(result, Variant::boolean(p->commandBars().enabled(c)));
    case kControlVisible:
      if (kind == kPut) return boolPut(&c.visible, arguments);
      return answer(result, Variant::boolean(c.visible));
    case kControlIndex: {
      if (kind != kGet) return kDispEMemberNotFound;
      std::shared_ptr<CommandBarControlList> owner = c.owner.lock();
      if (owner == nullptr) return kProgramError;
      auto at = std::find(owner->begin(), owner->end(), state_);
      if (at == owner->end()) return kProgramError;
      return answer(result, Variant::i4(int32_t(at - owner->begin()) + 1));
    }
    case kControlDelete:
      if (kind != kCall) return kDispEMemberNotFound;
      ProgramCommandBars::remove(c);
      return kSOk;
    case kPopupCommandBar:
      if (!popup || kind != kGet) return kDispEMemberNotFound;
      return answer(result, Variant::dispatch(std::make_shared<BarObject>(p, c.controls, state_)));
    case kPopupControls:
      if (!popup || kind != kGet) return kDispEMemberNotFound;
      return answer(result,
                    Variant::dispatch(std::make_shared<ControlsObject>(p, c.controls, state_)));
    default:
      return kDispEMemberNotFound;
  }
}

uint32_t ControlObject::advise(const InterfaceId& events, std::shared_ptr<Dispatch> sink) {
  SpreadsheetProgram* p = program();
  if (p == nullptr || sink == nullptr || state_->deleted || state_->type != kTypeButton ||
      events != kIidButtonEvents) {
    return 0;
  }
  uint32_t cookie = p->commandBars().nextCookie();
  state_->clickSinks[cookie] = std::move(sink);
  return cookie;
}

bool ControlObject::unadvise(uint32_t cookie) {
  return program() != nullptr && state_->clickSinks.erase(cookie) != 0;
}

class CommandBarsObject : public ProgramObject {
 public:
  using ProgramObject::ProgramObject;

  HResult invoke(int32_t memberId, InvokeKind kind, std::span<Variant> arguments, Variant* result,
                 uint32_t) override {
    SpreadsheetProgram* p = program();
    if (p == nullptr) return kEFail;
    if (result != nullptr) *result = Variant();
    std::vector<CommandBarState>& bars = p->commandBars().bars();
    if (kind != kGet) return kDispEMemberNotFound;
    switch (memberId) {
      case kBarsCount:
        return answer(result, Variant::i4(int32_t(bars.size())));
      case kBarsItem: {
        const CommandBarState* bar = nullptr;
        if (std::optional<int64_t> index = args::integer(arguments, 0)) {
          if (*index >= 1 && uint64_t(*index) <= bars.size()) bar = &bars[size_t(*index - 1)];
        } else if (std::optional<std::u16string> name = args::text(arguments, 0)) {
          bar = p->commandBars().bar(*name);
        }
        if (bar == nullptr) return kEInvalidArg;
        return answer(result,
                      Variant::dispatch(std::make_shared<BarObject>(p, bar->controls, nullptr)));
      }
      default:
        return kDispEMemberNotFound;
    }
  }
};

}  // namespace

ProgramCommandBars::ProgramCommandBars() {
  CommandBarState menuBar{kWorksheetMenuBar, std::make_shared<CommandBarControlList>()};
  for (const BuiltIn& menu : kMenus) {
    auto popup = builtIn(menu, kTypePopup, menuBar.controls);
    if (menu.id == kFileMenuId) {
      for (const BuiltIn& command : kFileCommands) {
        builtIn(command, kTypeButton, popup->controls)->idleOnly = true;
      }
    } else if (menu.id == kHelpMenuId) {
      for (const BuiltIn& command : kHelpCommands) builtIn(command, kTypeButton, popup->controls);
    }
  }
  bars_.push_back(std::move(menuBar));
}

CommandBarState* ProgramCommandBars::bar(std::u16string_view name) {
  for (CommandBarState& bar : bars_) {
    if (sameCaption(bar.name, name)) return &bar;
  }
  return nullptr;
}

std::shared_ptr<CommandBarControlState> ProgramCommandBars::findByTag(std::u16string_view tag) {
  for (const CommandBarState& bar : bars_) {
    auto found = findIn(
        *bar.controls, [tag](const CommandBarControlState& c) { return c.tag == tag; }, true);
    if (found) return found;
  }
  return nullptr;
}

std::shared_ptr<CommandBarControlState> ProgramCommandBars::findByPath(
    std::span<const std::u16string> captions) {
  CommandBarState* menuBar = bar(kWorksheetMenuBar);
  if (menuBar == nullptr || captions.empty()) return nullptr;
  std::shared_ptr<CommandBarControlList> list = menuBar->controls;
  std::shared_ptr<CommandBarControlState> found;
  for (const std::u16string& caption : captions) {
    if (list == nullptr) return nullptr;
    found = findIn(
        *list,
        [&caption](const CommandBarControlState& c) { return sameCaption(c.caption, caption); },
        false);
    if (found == nullptr) return nullptr;
    list = found->controls;
  }
  return found;
}

void ProgramCommandBars::remove(CommandBarControlState& control) {
  if (std::shared_ptr<CommandBarControlList> owner = control.owner.lock()) {
    owner->erase(std::remove_if(owner->begin(), owner->end(),
                                [&control](const auto& c) { return c.get() == &control; }),
                 owner->end());
  }
  markDeleted(control);
}

void ProgramCommandBars::dropTemporary() {
  std::function<void(CommandBarControlList&)> drop = [&drop](CommandBarControlList& list) {
    CommandBarControlList kept;
    for (const auto& control : list) {
      if (control->temporary) {
        markDeleted(*control);
        continue;
      }
      if (control->controls) drop(*control->controls);
      kept.push_back(control);
    }
    list = std::move(kept);
  };
  for (CommandBarState& bar : bars_) drop(*bar.controls);
}

std::shared_ptr<Dispatch> makeCommandBarsObject(SpreadsheetProgram* program) {
  return std::make_shared<CommandBarsObject>(program);
}

bool clickCommandBarControl(SpreadsheetProgram& program,
                            const std::shared_ptr<CommandBarControlState>& control) {
  if (control == nullptr || control->deleted || control->type != kTypeButton || !control->visible ||
      !program.commandBars().enabled(*control)) {
    return false;
  }
  std::vector<Variant> arguments{controlVariant(&program, control), Variant::boolean(false)};
  // A sink may disconnect itself or others while handling the click.
  std::vector<std::shared_ptr<Dispatch>> sinks;
  for (const auto& [cookie, sink] : control->clickSinks) sinks.push_back(sink);
  for (const std::shared_ptr<Dispatch>& sink : sinks) {
    sink->invoke(kEventClick, kCall, arguments, nullptr);
  }
  bool cancelled = boolOf(arguments[1]).value_or(false);
  if (!cancelled && !control->onAction.empty() && !control->deleted) {
    program.run(control->onAction, {}, nullptr);
  }
  return true;
}

}  // namespace korvel
