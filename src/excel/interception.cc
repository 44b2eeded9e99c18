// The registry of intercepted members, the installation into the program's interface tables and
// the replacements themselves. A replacement runs inside the program's own call, so nothing may
// leave it as an exception: each one answers a result code whatever happens.
#include "excel/interception.h"

#include <string>
#include <vector>

#include "excel/application_events.h"
#include "excel/dispatch_ids.h"
#include "excel/excel_connection.h"
#include "excel/excel_object.h"
#include "excel/protection.h"
#include "runtime/host_commands.h"
#include "runtime/runtime.h"
#include "runtime/text_table.h"
#include "util/text.h"

namespace korvel {
namespace {

constexpr InvokeKind kMethod = InvokeKind::kMethod;
constexpr InvokeKind kGet = InvokeKind::kPropertyGet;
constexpr InvokeKind kPut = InvokeKind::kPropertyPut;

// The value a property put carries: its last argument.
const Variant* putValue(std::span<Variant> arguments) {
  return arguments.empty() ? nullptr : &arguments.back();
}

// What the program takes for "not false" when a flag is set from any variant.
bool notFalse(const Variant& value) {
  if (value.type() == VarType::kBool || value.isInteger()) return value.integer() != 0;
  if (value.type() == VarType::kR8) return value.real() != 0;
  return true;
}

std::u16string argumentText(std::span<Variant> arguments, size_t index) {
  if (index >= arguments.size() || arguments[index].isMissing()) return {};
  return variantToText(arguments[index]);
}

// Sets a flag for the duration of a scope and puts back what it was, also on the way out of an
// exception.
class FlagScope {
 public:
  FlagScope(bool& flag, bool value) : flag_(flag), previous_(flag) { flag_ = value; }
  ~FlagScope() { flag_ = previous_; }
  FlagScope(const FlagScope&) = delete;
  FlagScope& operator=(const FlagScope&) = delete;

 private:
  bool& flag_;
  bool previous_;
};

class DepthScope {
 public:
  explicit DepthScope(int& depth) : depth_(depth) { ++depth_; }
  ~DepthScope() { --depth_; }
  DepthScope(const DepthScope&) = delete;
  DepthScope& operator=(const DepthScope&) = delete;

 private:
  int& depth_;
};

}  // namespace

Interception::Interception(ExcelConnection& connection) : connection_(connection) {
  buildRegistry();
}

void Interception::buildRegistry() {
  struct Row {
    const InterfaceId* iid;
    int32_t memberId;
    InvokeKind kind;
    Replacement handler;
  };
  const Row rows[] = {
      {&kIidApplication, dispid::kCalculate, kMethod, &Interception::recalculate},
      {&kIidApplication, dispid::kCalculateFull, kMethod, &Interception::recalculate},
      {&kIidApplication, dispid::kRun, kMethod, &Interception::runWithCodeFlag},
      {&kIidApplication, dispid::kCalculation, kGet, &Interception::passThrough},
      {&kIidApplication, dispid::kCalculation, kPut, &Interception::setCalculationMode},
      {&kIidApplication, dispid::kApplicationMember0xB7, kGet,
       &Interception::processReturnedObject},
      {&kIidApplication, dispid::kVisible, kPut, &Interception::setVisibility},
      {&kIidApplication, dispid::kEnableEvents, kPut, &Interception::passThrough},
      {&kIidApplication, dispid::kQuit, kMethod, &Interception::quit},
      {&kIidWorkbook, dispid::kClose, kMethod, &Interception::close},
      {&kIidWorkbook, dispid::kSave, kMethod, &Interception::save},
      {&kIidWorkbook, dispid::kSaveAs, kMethod, &Interception::saveAs},
      {&kIidWorkbook, dispid::kSaveAs2, kMethod, &Interception::saveAs},
      {&kIidWorkbook, dispid::kSaveCopyAs, kMethod, &Interception::saveCopyAs},
      {&kIidWorkbook, dispid::kPath, kGet, &Interception::applicationFolder},
      {&kIidWorksheet, dispid::kName, kPut, &Interception::renameSheet},
      {&kIidWorksheet, dispid::kProtect, kMethod, &Interception::protect},
      {&kIidWorksheet, dispid::kUnprotect, kMethod, &Interception::unprotect},
      {&kIidWorksheet, dispid::kEnableSelection, kPut, &Interception::enableSelection},
      {&kIidWorksheet, kDispidInvoke, kMethod, &Interception::lateBoundInvoke},
      // Recorded only: the object layer writes cells through the program's own functions.
      {&kIidRange, dispid::kValue, kPut, nullptr},
      {&kIidRange, dispid::kValue2, kPut, nullptr},
      {&kIidRange, dispid::kFormula, kPut, nullptr},
      {&kIidRange, kDispidInvoke, kMethod, nullptr},
  };
  for (const Row& row : rows) {
    registry_[*row.iid].entries[{row.memberId, row.kind}].handler = row.handler;
  }
}

void Interception::assignReplacements() {
  for (auto& [iid, group] : registry_) {
    for (auto& [key, entry] : group.entries) {
      if (entry.handler == nullptr) continue;
      Entry* e = &entry;
      entry.replacement = [this, e](Dispatch& self, std::span<Variant> arguments, Variant* result,
                                    uint32_t locale) -> HResult {
        try {
          return (this->*(e->handler))(*e, self, arguments, result, locale);
        } catch (...) {
          // The program's caller cannot take an exception of ours.
          return kEFail;
        }
      };
    }
  }
}

InterfaceTable* Interception::interfaceTableOf(Dispatch& object, Group** group) {
  InterfaceTable* typeInformation = object.interfaceTable();
  if (typeInformation == nullptr) return nullptr;
  auto found = registry_.find(typeInformation->iid());
  if (found == registry_.end()) return nullptr;
  std::shared_ptr<Dispatch> asInterface = object.queryInterface(typeInformation->iid());
  if (asInterface == nullptr) return nullptr;
  *group = &found->second;
  return asInterface->interfaceTable();
}

void Interception::processObject(Dispatch& object) {
  Group* group = nullptr;
  InterfaceTable* table = interfaceTableOf(object, &group);
  if (table == nullptr) return;
  // The interface has one table; another one claiming the same identifier is left alone.
  if (group->table != nullptr && group->table != table) return;
  InterfaceTable& typeInformation = *object.interfaceTable();
  for (size_t i = 0; i < typeInformation.functionCount(); ++i) {
    const FunctionDescription& function = typeInformation.function(i);
    auto found = group->entries.find({function.memberId, function.kind});
    if (found == group->entries.end()) continue;
    Entry& entry = found->second;
    if (!entry.recorded) {
      MemberFunction current = table->slot(function.slot);
      if (!current) continue;  // a description outside the table names no function
      entry.slot = function.slot;
      entry.original = std::move(current);
      entry.recorded = true;
    }
    if (entry.replacement && !entry.installed && table->setSlot(entry.slot, entry.replacement)) {
      entry.installed = true;
    }
  }
  group->table = table;
  processed_.insert(typeInformation.iid());
}

void Interception::restoreObject(Dispatch& object) {
  Group* group = nullptr;
  InterfaceTable* table = interfaceTableOf(object, &group);
  if (table == nullptr || table != group->table) return;
  for (auto& [key, entry] : group->entries) {
    if (entry.installed && table->setSlot(entry.slot, entry.original)) entry.installed = false;
  }
}

bool Interception::installed(const InterfaceId& iid, int32_t memberId, InvokeKind kind) const {
  auto group = registry_.find(iid);
  if (group == registry_.end()) return false;
  auto entry = group->second.entries.find({memberId, kind});
  return entry != group->second.entries.end() && entry->second.installed;
}

MemberFunction Interception::original(const InterfaceId& iid, int32_t memberId,
                                      InvokeKind kind) const {
  auto group = registry_.find(iid);
  if (group == registry_.end()) return {};
  auto entry = group->second.entries.find({memberId, kind});
  if (entry == group->second.entries.end() || !entry->second.recorded) return {};
  return entry->second.original;
}

HResult Interception::callOriginal(Dispatch& object, const InterfaceId& iid, int32_t memberId,
                                   InvokeKind kind, std::span<Variant> arguments, Variant* result,
                                   uint32_t locale) {
  MemberFunction function = original(iid, memberId, kind);
  if (function) return function(object, arguments, result, locale);
  return object.invoke(memberId, kind, arguments, result, locale);
}

HResult Interception::callRecorded(Entry& entry, Dispatch& self, std::span<Variant> arguments,
                                   Variant* result, uint32_t locale) {
  if (!entry.recorded || !entry.original) return kSFalse;
  return entry.original(self, arguments, result, locale);
}

HResult Interception::callRecorded(const InterfaceId& iid, int32_t memberId, InvokeKind kind,
                                   Dispatch& self, std::span<Variant> arguments, Variant* result,
                                   uint32_t locale) {
  MemberFunction function = original(iid, memberId, kind);
  if (!function) return kSFalse;
  return function(self, arguments, result, locale);
}

void Interception::installInterceptions() {
  assignReplacements();
  ExcelObject& application = connection_.application();
  ExcelObject& workbook = connection_.workbook();
  if (application.live()) processObject(*application.dispatch());
  if (workbook.live()) processObject(*workbook.dispatch());

  // A Range, for the program's own cell writes the object layer uses.
  try {
    ExcelObject range = application.object(dispid::kApplicationRange, {Variant::text(u"A1")});
    if (range.live()) {
      if (std::shared_ptr<Dispatch> asRange = range.dispatch()->queryInterface(kIidRange)) {
        processObject(*asRange);
      }
    }
  } catch (const ComError&) {
  }

  // A worksheet of a workbook of its own, so that the application's sheets see no activity.
  Runtime& runtime = connection_.runtime();
  if (application.live() && runtime.platform().objects != nullptr) {
    std::optional<bool> screenUpdating;
    std::optional<bool> events;
    try {
      screenUpdating = application.getBool(dispid::kScreenUpdating);
      application.put(dispid::kScreenUpdating, Variant::boolean(false));
    } catch (const ComError&) {
    }
    try {
      events = application.getBool(dispid::kEnableEvents);
      application.put(dispid::kEnableEvents, Variant::boolean(false));
    } catch (const ComError&) {
    }
    HResult created = kSOk;
    ExcelObject temporary(runtime.platform().objects->create(kWorkbookClass, &created));
    if (temporary.live()) {
      try {
        ExcelObject sheet =
            temporary.object(dispid::kWorksheets).object(dispid::kItem, {Variant::i4(1)});
        if (sheet.live()) {
          if (std::shared_ptr<Dispatch> asSheet = sheet.dispatch()->queryInterface(kIidWorksheet)) {
            processObject(*asSheet);
          }
        }
      } catch (const ComError&) {
      }
      try {
        // Closing a workbook would leave the program's remaining windows restored.
        ExcelObject window =
            temporary.object(dispid::kWindows).object(dispid::kItem, {Variant::i4(1)});
        if (window.live()) window.put(dispid::kWindowState, Variant::i4(kWindowMaximized));
      } catch (const ComError&) {
      }
      try {
        temporary.call(dispid::kClose,
                       {Variant::missing(), Variant::missing(), Variant::missing()});
      } catch (const ComError&) {
      }
    }
    try {
      if (screenUpdating)
        application.put(dispid::kScreenUpdating, Variant::boolean(*screenUpdating));
    } catch (const ComError&) {
    }
    try {
      if (events) application.put(dispid::kEnableEvents, Variant::boolean(*events));
    } catch (const ComError&) {
    }
  }

  if (!processed(kIidWorksheet) && workbook.live()) {
    try {
      ExcelObject sheet =
          workbook.object(dispid::kWorksheets).object(dispid::kItem, {Variant::i4(1)});
      if (sheet.live()) {
        if (std::shared_ptr<Dispatch> asSheet = sheet.dispatch()->queryInterface(kIidWorksheet)) {
          processObject(*asSheet);
        }
      }
    } catch (const ComError&) {
    }
  }

  if (!processed(kIidApplication) || !processed(kIidWorkbook)) {
    throw notice4user(tableText8(TextEntry::kInterceptionFailed));
  }
}

// Helpers of the replacements.

bool Interception::isApplicationWorkbook(Dispatch& workbook) {
  const std::shared_ptr<Dispatch>& held = connection_.workbook().dispatch();
  return held != nullptr && held.get() == &workbook;
}

bool Interception::belongsToApplicationWorkbook(Dispatch& worksheet) {
  Variant parent;
  if (failed(worksheet.invoke(dispid::kParent, kGet, {}, &parent))) return false;
  return parent.type() == VarType::kDispatch && parent.object() != nullptr &&
         isApplicationWorkbook(*parent.object());
}

void Interception::renameEngineSheet(Dispatch& worksheet, const Variant& name) {
  CompiledModel* model = connection_.runtime().model();
  if (model == nullptr || !belongsToApplicationWorkbook(worksheet)) return;
  Variant index;
  if (failed(worksheet.invoke(dispid::kIndex, kGet, {}, &index))) return;
  int32_t sheetIndex = variantToInt(index) - 1;
  if (sheetIndex < 0) return;
  if (Sheet* sheet = model->sheets().find(uint32_t(sheetIndex))) {
    std::u16string text = variantToText(name);
    // Formula texts sent to the program name the sheet by its program name.
    sheet->setName(text);
    sheet->setExcelName(std::move(text));
  }
}

void Interception::recordProtect(Dispatch& worksheet, std::span<Variant> arguments) {
  ExcelObject sheet(worksheet.shared_from_this());
  std::u16string password = argumentText(arguments, 0);
  std::span<const Variant> options;
  if (arguments.size() > 1) options = std::span<const Variant>(arguments).subspan(1);
  connection_.protection().recordProtect(sheet, password, options);
}

void Interception::recordUnprotect(Dispatch& worksheet) {
  ExcelObject sheet(worksheet.shared_from_this());
  connection_.protection().recordUnprotect(sheet);
}

void Interception::recordSelectionMode(Dispatch& worksheet, const Variant& mode) {
  ExcelObject sheet(worksheet.shared_from_this());
  connection_.protection().recordSelectionMode(sheet, variantToInt(mode));
}

void Interception::copyExecutable(const Variant& fileName) {
  if (fileName.isMissing()) return;
  std::u16string target = variantToText(fileName);
  if (target.empty()) return;
  target.resize(target.size() - extensionOf(target).size());
  Runtime& runtime = connection_.runtime();
  const std::u16string& executable = runtime.channelState().applicationPath;
  // The copy is an application file of the same kind as the running one (an executable, or the
  // headless host's application file).
  std::u16string_view extension = extensionOf(executable);
  target += extension.size() >= 2 ? extension : std::u16string_view(u".exe");
  if (executable.empty() || equalsNoCase(executable, target)) return;
  Files* files = runtime.platform().files;
  if (files == nullptr) return;
  std::string bytes;
  if (!files->readAll(executable, &bytes)) return;
  files->writeAll(target, bytes);
}

// The replacements.

HResult Interception::recalculate(Entry&, Dispatch&, std::span<Variant>, Variant*, uint32_t) {
  // The compiled model owns the formulas; the cycle has the program compute the rest itself.
  try {
    connection_.events().recalculationCycle(false);
  } catch (...) {
  }
  return kSOk;
}

HResult Interception::runWithCodeFlag(Entry& entry, Dispatch& self, std::span<Variant> arguments,
                                      Variant* result, uint32_t locale) {
  std::u16string macro = argumentText(arguments, 0);
  std::u16string suffix = tableText(TextEntry::kRunMacroSuffix);
  std::u16string prefix = tableText(TextEntry::kRunMacroPrefix);
  bool codeMacro =
      !macro.empty() && macro.size() >= suffix.size() && macro.size() >= prefix.size() &&
      equalsNoCase(std::u16string_view(macro).substr(macro.size() - suffix.size()), suffix) &&
      equalsNoCase(std::u16string_view(macro).substr(0, prefix.size()), prefix);
  CalculationState& calculation = connection_.runtime().calculation();
  if (!codeMacro) return callRecorded(entry, self, arguments, result, locale);
  FlagScope running(calculation.workbookCodeRunning, true);
  return callRecorded(entry, self, arguments, result, locale);
}

HResult Interception::passThrough(Entry& entry, Dispatch& self, std::span<Variant> arguments,
                                  Variant* result, uint32_t locale) {
  try {
    return callRecorded(entry, self, arguments, result, locale);
  } catch (...) {
    return kSFalse;
  }
}

HResult Interception::setCalculationMode(Entry& entry, Dispatch& self, std::span<Variant> arguments,
                                         Variant* result, uint32_t locale) {
  Variant previous;
  int32_t previousMode = 0;
  if (succeeded(
          callRecorded(kIidApplication, dispid::kCalculation, kGet, self, {}, &previous, locale))) {
    previousMode = variantToInt(previous);
  }
  HResult hr = callRecorded(entry, self, arguments, result, locale);
  const Variant* value = putValue(arguments);
  if (failed(hr) || value == nullptr || previousMode != kCalculationManual) return hr;
  int32_t mode = variantToInt(*value);
  if (mode != kCalculationAutomatic && mode != kCalculationSemiautomatic) return hr;
  Runtime& runtime = connection_.runtime();
  Engine* engine = runtime.engine();
  if (engine == nullptr || engine->changedCells.empty() || runtime.calculation().recalculating) {
    return hr;
  }
  try {
    connection_.events().recalculationCycle(false);
  } catch (...) {
  }
  return hr;
}

HResult Interception::processReturnedObject(Entry& entry, Dispatch& self,
                                            std::span<Variant> arguments, Variant* result,
                                            uint32_t locale) {
  HResult hr = callRecorded(entry, self, arguments, result, locale);
  if (succeeded(hr) && result != nullptr && result->type() == VarType::kDispatch &&
      result->object() != nullptr) {
    std::shared_ptr<Dispatch> object = result->object();
    InterfaceTable* table = object->interfaceTable();
    if (table != nullptr && !processed(table->iid())) processObject(*object);
  }
  return hr;
}

HResult Interception::setVisibility(Entry& entry, Dispatch& self, std::span<Variant> arguments,
                                    Variant* result, uint32_t locale) {
  if (const Variant* value = putValue(arguments)) {
    connection_.runtime().hostInformation().visibleRequested = notFalse(*value);
  }
  return callRecorded(entry, self, arguments, result, locale);
}

HResult Interception::quit(Entry& entry, Dispatch& self, std::span<Variant> arguments,
                           Variant* result, uint32_t locale) {
  Runtime& runtime = connection_.runtime();
  try {
    if (!runtime.isWorkbookClosed()) {
      Variant visible;
      if (succeeded(self.invoke(dispid::kVisible, kGet, {}, &visible)) && variantToBool(visible)) {
        // The program quits its own way; closing the workbook brings the runtime down.
        callRecorded(entry, self, arguments, result, locale);
        return kSOk;
      }
    }
    // A hidden program would stay behind without a window to close: end it here.
    runtime.shutDown();
    runtime.terminateExcel();
  } catch (...) {
    runtime.terminateExcel();
  }
  return kSOk;
}

HResult Interception::close(Entry& entry, Dispatch& self, std::span<Variant> arguments,
                            Variant* result, uint32_t locale) {
  Runtime& runtime = connection_.runtime();
  HResult hr = kSOk;
  try {
    hr = callRecorded(entry, self, arguments, result, locale);
  } catch (...) {
    runtime.terminateExcel();
    return kEFail;
  }
  if (runtime.isWorkbookClosed()) {
    if (runtime.calculation().closePending) {
      connection_.pumpMessages();
      runtime.packaging().storeIntoExecutable();
    }
    runtime.sendDeferred(DEFER_QUIT);
  }
  return hr;
}

HResult Interception::save(Entry& entry, Dispatch& self, std::span<Variant> arguments,
                           Variant* result, uint32_t locale) {
  if (!isApplicationWorkbook(self)) return callRecorded(entry, self, arguments, result, locale);
  // The application workbook is never written as a plain workbook file.
  Runtime& runtime = connection_.runtime();
  if (runtime.settings().saveAsExecutable) runtime.packaging().saveApplication();
  return kSFalse;
}

HResult Interception::saveAs(Entry& entry, Dispatch& self, std::span<Variant> arguments,
                             Variant* result, uint32_t locale) {
  if (!isApplicationWorkbook(self)) return callRecorded(entry, self, arguments, result, locale);
  Runtime& runtime = connection_.runtime();
  if (runtime.settings().saveAsExecutable) {
    std::u16string path = argumentText(arguments, 0);
    // Without a file name there is no executable to save into.
    if (!path.empty()) runtime.packaging().saveApplicationAs(path);
  }
  return kSFalse;
}

HResult Interception::saveCopyAs(Entry& entry, Dispatch& self, std::span<Variant> arguments,
                                 Variant* result, uint32_t locale) {
  if (!isApplicationWorkbook(self)) return callRecorded(entry, self, arguments, result, locale);
  Runtime& runtime = connection_.runtime();
  if (runtime.settings().saveAsExecutable) {
    runtime.packaging().saveApplication();
    if (!arguments.empty()) copyExecutable(arguments[0]);
  }
  return kSFalse;
}

HResult Interception::applicationFolder(Entry& entry, Dispatch& self, std::span<Variant> arguments,
                                        Variant* result, uint32_t locale) {
  if (!isApplicationWorkbook(self)) return callRecorded(entry, self, arguments, result, locale);
  // The workbook the program holds is a temporary file; its code expects the application's folder.
  if (result == nullptr) return kEInvalidArg;
  *result = Variant::text(connection_.runtime().channelState().applicationDirectory);
  return kSOk;
}

HResult Interception::renameSheet(Entry& entry, Dispatch& self, std::span<Variant> arguments,
                                  Variant* result, uint32_t locale) {
  HResult hr = callRecorded(entry, self, arguments, result, locale);
  // A name the program refused must not reach the engine's sheet table.
  if (succeeded(hr) && lateBoundDepth_ == 0) {
    if (const Variant* name = putValue(arguments)) {
      try {
        renameEngineSheet(self, *name);
      } catch (...) {
      }
    }
  }
  return hr;
}

HResult Interception::protect(Entry& entry, Dispatch& self, std::span<Variant> arguments,
                              Variant* result, uint32_t locale) {
  HResult hr = callRecorded(entry, self, arguments, result, locale);
  if (succeeded(hr) && lateBoundDepth_ == 0) {
    try {
      recordProtect(self, arguments);
    } catch (...) {
    }
  }
  return hr;
}

HResult Interception::unprotect(Entry& entry, Dispatch& self, std::span<Variant> arguments,
                                Variant* result, uint32_t locale) {
  HResult hr = callRecorded(entry, self, arguments, result, locale);
  if (succeeded(hr) && lateBoundDepth_ == 0) {
    try {
      recordUnprotect(self);
    } catch (...) {
    }
  }
  return hr;
}

HResult Interception::enableSelection(Entry& entry, Dispatch& self, std::span<Variant> arguments,
                                      Variant* result, uint32_t locale) {
  HResult hr = callRecorded(entry, self, arguments, result, locale);
  const Variant* mode = putValue(arguments);
  if (succeeded(hr) && lateBoundDepth_ == 0 && mode != nullptr) {
    try {
      recordSelectionMode(self, *mode);
    } catch (...) {
    }
  }
  return hr;
}

HResult Interception::lateBoundInvoke(Entry& entry, Dispatch& self, std::span<Variant> arguments,
                                      Variant* result, uint32_t locale) {
  HResult hr;
  {
    DepthScope depth(lateBoundDepth_);
    hr = callRecorded(entry, self, arguments, result, locale);
  }
  if (failed(hr) || arguments.size() < 2) return hr;
  int32_t memberId = variantToInt(arguments[0]);
  // Late-bound callers often ask for a method or a property at once (flags 3): the method bit is
  // what makes the call a method call.
  int32_t flags = variantToInt(arguments[1]);
  bool method = (flags & int32_t(kMethod)) != 0;
  bool put = (flags & int32_t(kPut)) != 0;
  std::span<Variant> memberArguments = arguments.subspan(2);
  // Recorded after the program accepted the call, as the early-bound members do; the call itself
  // stands whatever the recording meets.
  try {
    if (memberId == dispid::kProtect && method) {
      recordProtect(self, memberArguments);
    } else if (memberId == dispid::kUnprotect && method) {
      recordUnprotect(self);
    } else if (put && !memberArguments.empty()) {
      if (memberId == dispid::kName) {
        renameEngineSheet(self, memberArguments.back());
      } else if (memberId == dispid::kEnableSelection) {
        recordSelectionMode(self, memberArguments.back());
      }
    }
  } catch (...) {
  }
  return hr;
}

}  // namespace korvel
