#include "runtime/addin_entry_points.h"

#include <optional>
#include <string_view>

#include "engine/number_text.h"
#include "engine/recalculation.h"
#include "engine/value_variant.h"
#include "runtime/host_commands.h"
#include "runtime/runtime.h"
#include "runtime/text_table.h"

namespace korvel {
namespace {

// The record the do-nothing entries and the calculate command answer. The host program only
// looks at it when the entry is called as a function, and then shows nothing.
const Xloper kNothing;

// Records returned by pointer. A process has one runtime and the host program calls the entries
// one at a time on its user-interface thread, so each entry owns one record that it sets afresh
// on every call.
Xloper& rangeResult() {
  static Xloper record;
  return record;
}

Xloper& serviceResult() {
  static Xloper record;
  return record;
}

bool sameTextIgnoringCase(std::string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char16_t x = char16_t(uint8_t(a[i])), y = b[i];
    if (x >= u'a' && x <= u'z') x = char16_t(x - u'a' + u'A');
    if (y >= u'a' && y <= u'z') y = char16_t(y - u'a' + u'A');
    if (x != y) return false;
  }
  return true;
}

// Column letters of a 0-based column: A..Z, AA..
std::u16string columnLetters(unsigned column) {
  std::u16string letters;
  unsigned n = column + 1;
  while (n > 0) {
    letters.insert(letters.begin(), char16_t(u'A' + (n - 1) % 26));
    n = (n - 1) / 26;
  }
  return letters;
}

std::u16string a1Text(const XlRect& rect) {
  std::u16string text = columnLetters(rect.columnFirst) + numberToText(rect.rowFirst + 1.0);
  if (rect.rowLast != rect.rowFirst || rect.columnLast != rect.columnFirst) {
    text += u":" + columnLetters(rect.columnLast) + numberToText(rect.rowLast + 1.0);
  }
  return text;
}

// The text of a string, a boolean or a number the workbook's code passed where a name or a
// reference is meant; empty for anything else.
std::u16string argumentText(const Xloper* argument) {
  if (!argument) return {};
  switch (argument->type()) {
    case kXltypeStr:
      return widenText(argument->text());
    case kXltypeBool:
      return argument->boolean() ? u"TRUE" : u"FALSE";
    case kXltypeNum:
      return numberToText(argument->num());
    case kXltypeInt:
      return numberToText(argument->integer());
    default:
      return {};
  }
}

// The path a string argument gives for one export or import; anything else gives none, which
// leaves the choice to the user.
std::u16string pathArgument(const Xloper* argument) {
  if (!argument || !argument->is(kXltypeStr)) return {};
  return widenText(argument->text());
}

// A flag or a pointer the workbook's code passes as a number, an integer or a boolean, read by its
// value (the bits of a number record are not its value).
double scalarArgument(const Xloper* argument) {
  if (!argument) return 0;
  switch (argument->type()) {
    case kXltypeNum:
      return argument->num();
    case kXltypeInt:
      return argument->integer();
    case kXltypeBool:
      return argument->boolean() ? 1 : 0;
    default:
      return 0;
  }
}

Xloper informationItem(Runtime& runtime, const Xloper* argument) {
  if (!argument || !argument->is(kXltypeStr)) return Xloper::integer(-3);
  std::string_view name = argument->text();
  auto named = [&](TextEntry entry) { return sameTextIgnoringCase(name, tableText(entry)); };
  if (named(TextEntry::kInfoLaunchMode)) {
    return Xloper::number(double(runtime.channelState().launchMode));
  }
  if (named(TextEntry::kInfoApplicationPath)) {
    return Xloper::string(
        narrowText(runtime.platform().system->shortPath(runtime.channelState().applicationPath)));
  }
  if (named(TextEntry::kInfoApplicationName)) {
    return Xloper::string(narrowText(runtime.settings().applicationName));
  }
  if (named(TextEntry::kInfoApplicationVersion)) {
    return Xloper::string(narrowText(versionText(runtime.settings().applicationVersion)));
  }
  if (named(TextEntry::kInfoHostText)) {
    return Xloper::string(narrowText(runtime.hostInformation().hostText));
  }
  return Xloper::integer(-2);
}

// Gives the window of a form of the workbook's code the application's icon. The window keeps
// the icons it is given for as long as it lives, so they are not destroyed here; the form's window
// goes with the process.
void giveWindowIcon(Runtime& runtime, const Xloper* argument) {
  uint64_t windowObject = uint64_t(scalarArgument(argument));
  if (windowObject == 0) return;
  std::optional<std::u16string> caption = runtime.connection().windowCaption(windowObject);
  if (!caption) return;
  WindowSystem& windows = *runtime.platform().windows;
  WindowHandle window = windows.findTopLevelWindow(*caption);
  if (window == WindowHandle::kNoWindow) return;
  ExecutableIcons icons =
      runtime.platform().system->extractIcons(runtime.channelState().applicationPath);
  IconHandle large = icons.large != IconHandle::kNoIcon ? icons.large : icons.small;
  IconHandle small = icons.small != IconHandle::kNoIcon ? icons.small : icons.large;
  if (large == IconHandle::kNoIcon) return;
  windows.send(window, kWmSetIcon, kIconBig, int64_t(large));
  windows.send(window, kWmSetIcon, kIconSmall, int64_t(small));
}

// Whether the engine holds data tables whose cells were scheduled since they were last computed.
bool dataTablesPending(Engine& engine) { return engine.recalculation().hasPendingDataTables(); }

}  // namespace

const Xloper* DummyFunc0(Runtime&) { return &kNothing; }

const Xloper* DummyFunc1(Runtime& runtime) {
  try {
    CompiledModel* model = runtime.model();
    Engine* engine = runtime.engine();
    if (!model || !engine) return &kNothing;
    bool work = !engine->changedCells.empty() || !model->alwaysRecalculatedCells().empty() ||
                engine->iteration;
    // Semiautomatic calculation leaves data tables to the user's command.
    if (!work && runtime.connection().calculationMode() == 2) work = dataTablesPending(*engine);
    if (work) runtime.postDeferred(DEFER_RECALCULATE, 1);
  } catch (...) {
  }
  return &kNothing;
}

double DummyFunc2(Runtime& runtime) { return runtime.calculation().lastDuration; }

int DummyFunc3(Runtime& runtime) {
  CalculationState& calculation = runtime.calculation();
  try {
    calculation.workbookCodeRunning = true;
    runtime.connection().runMainMacro(tableText(TextEntry::kMainWorkbook));
  } catch (...) {
  }
  // Also after a failing macro: a flag left set would take every later change of the user for one
  // made by the workbook's code.
  if (Engine* engine = runtime.engine()) engine->changedCells.clear();
  calculation.workbookCodeRunning = false;
  return 0;
}

int DummyFunc4(Runtime& runtime) {
  try {
    runtime.connection().undoLastEntry();
  } catch (...) {
  }
  return 0;
}

const Xloper* DummyFunc5(Runtime& runtime, const Xloper* argument) {
  Xloper& result = rangeResult();
  result = Xloper();
  try {
    std::u16string reference;
    if (argument && (argument->is(kXltypeRef) || argument->is(kXltypeSRef))) {
      if (!argument->rects().empty()) reference = a1Text(argument->rects().front());
    } else if (argument &&
               (argument->is(kXltypeStr) || argument->is(kXltypeNum) || argument->is(kXltypeInt))) {
      reference = argumentText(argument);
    }
    if (!reference.empty()) runtime.connection().takeRangeValues(reference);
    CalculationState& calculation = runtime.calculation();
    if (!calculation.undoList.empty() && !calculation.undoRegistered) {
      runtime.sendDeferred(DEFER_REGISTER_UNDO);
    }
  } catch (...) {
  }
  return &result;
}

int DummyFunc6(Runtime& runtime) {
  runtime.calculation().userEntry = true;
  return 0;
}

const Xloper* DummyFunc7(Runtime&, const Xloper*) { return &kNothing; }

const Xloper* DummyFunc8(Runtime& runtime, int code, const Xloper* argument) {
  Xloper& result = serviceResult();
  result = Xloper::integer(0);
  try {
    switch (code) {
      case kServiceExport:
      case kServiceExportCollected:
        if (runtime.settings().dataExchange &&
            !runtime.dataExchange().exportData(code == kServiceExportCollected,
                                               pathArgument(argument))) {
          result = Xloper::integer(-1);
        }
        break;
      case kServiceImport:
        if (!runtime.settings().dataExchange) {
          result = Xloper::integer(-2);
          break;
        }
        runtime.dataExchange().importData(pathArgument(argument));
        break;
      case kServiceInformation:
        result = informationItem(runtime, argument);
        break;
      case kServicePostSave:
        runtime.postDeferred(DEFER_SAVE_EXECUTABLE);
        break;
      case kServicePostAgreement:
        runtime.postDeferred(DEFER_AGREEMENT);
        break;
      case kServicePostAbout:
        runtime.postDeferred(DEFER_ABOUT);
        break;
      case kServiceSaveExecutable:
        if (runtime.settings().saveAsExecutable) runtime.packaging().saveAsExecutable();
        break;
      case kServiceCodeRunning:
        runtime.calculation().workbookCodeRunning = scalarArgument(argument) != 0;
        break;
      case kServiceWindowIcon:
        giveWindowIcon(runtime, argument);
        break;
      case kServiceRestoreFormulas: {
        std::u16string reference = argumentText(argument);
        if (!reference.empty()) runtime.connection().restoreFormulas(reference);
        break;
      }
      default:
        result = Xloper::integer(-2);
        break;
    }
  } catch (...) {
  }
  return &result;
}

int64_t DummyFunc9(Runtime& runtime, uint32_t message, uint64_t wParam, int64_t lParam) {
  try {
    WindowSystem& windows = *runtime.platform().windows;
    // A control's notice waits for the message loop; every other message is answered now.
    if (message == HC_CONTROL_CHANGED) {
      return windows.post(runtime.mainWindow(), message, wParam, lParam) ? 1 : 0;
    }
    return windows.send(runtime.mainWindow(), message, wParam, lParam);
  } catch (...) {
    return 0;
  }
}

namespace {

// The constant at the index while the workbook's code may read the table; null otherwise.
const Value* readableConstant(Runtime& runtime, int index) {
  CompiledModel* model = runtime.model();
  if (!runtime.constantsReadable || !model || index < 0 ||
      size_t(index) >= model->constants.size()) {
    return nullptr;
  }
  return &model->constants[size_t(index)];
}

}  // namespace

Variant DummyFunc11(Runtime& runtime, int index) {
  try {
    const Value* value = readableConstant(runtime, index);
    if (!value) return Variant();
    // The workbook's code receives the text's bytes in a BSTR, one byte per unit read back.
    if (value->isText()) return Variant::text(widenText(narrowText(value->text())));
    return toVariant(*value, false);
  } catch (...) {
    return Variant();
  }
}

std::string DummyFunc12(Runtime& runtime, int index) {
  try {
    const Value* value = readableConstant(runtime, index);
    if (!value || !value->isText()) return {};
    return narrowText(value->text());
  } catch (...) {
    return {};
  }
}

int DummyFunc13(Runtime& runtime) {
  try {
    runtime.connection().runStartMacros();
  } catch (...) {
  }
  return 0;
}

int xlAutoClose(Runtime& runtime) {
  try {
    // An open application workbook with unsaved data still needs its commands: the host program
    // asks the user, who may cancel the close.
    if (runtime.isWorkbookClosed() || runtime.connection().workbookSaved() == true) {
      runtime.registrar().unregisterEntries();
    }
    if (runtime.connection().attached()) runtime.connection().setIgnoreRemoteRequests(false);
  } catch (...) {
    runtime.terminateExcel();
  }
  return 0;
}

}  // namespace korvel
