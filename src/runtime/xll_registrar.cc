#include "runtime/xll_registrar.h"

#include <utility>

#include "runtime/runtime.h"
#include "runtime/text_table.h"

namespace korvel {
namespace {

// The host program reads macro type "0" as a function the user never sees in the function wizard
// and "2" as a command, which is what the workbook's code and Application.OnTime call.
constexpr char kHiddenFunction[] = "0";
constexpr char kCommand[] = "2";

// Binds the key to the macro, or with an empty macro gives it its normal meaning back.
void onKey(ExcelBridge* bridge, const std::string& key, const std::string* macro) {
  XloperHolder keyText(bridge);
  keyText.setText(key);
  if (!macro) {
    bridge->excel4(kXlcOnKey, nullptr, {keyText.get()});
    return;
  }
  XloperHolder macroText(bridge);
  macroText.setText(*macro);
  bridge->excel4(kXlcOnKey, nullptr, {keyText.get(), macroText.get()});
}

}  // namespace

void XllRegistrar::addEntry(int key, std::string procedure, std::string functionText,
                            std::string typeText, std::string macroType) {
  auto [it, added] = entries_.try_emplace(key, bridge_);
  it->second.procedure = std::move(procedure);
  it->second.functionText = std::move(functionText);
  it->second.typeText = std::move(typeText);
  it->second.macroType = std::move(macroType);
  it->second.registerId.release();
}

void XllRegistrar::buildTable() {
  entries_.clear();
  addEntry(0, "DummyFunc0", "DummyFunc0", "R", kHiddenFunction);
  addEntry(1, "DummyFunc1", tableText8(TextEntry::kCalculateFunction), "R", kHiddenFunction);
  addEntry(2, "DummyFunc2", tableText8(TextEntry::kDurationFunction), "B", kHiddenFunction);
  addEntry(502, "DummyFunc2", tableText8(TextEntry::kDurationFunction2), "B", kHiddenFunction);
  addEntry(3, "DummyFunc3", tableText8(TextEntry::kMainFunction), "J", kHiddenFunction);
  // Application.OnUndo and the data-entry binding name these two by the texts of the table, which
  // are their procedure names.
  addEntry(4, "DummyFunc4", tableText8(TextEntry::kUndoProcedure), "J", kHiddenFunction);
  addEntry(5, "DummyFunc5", tableText8(TextEntry::kRangeFunction), "RR", kHiddenFunction);
  addEntry(6, "DummyFunc6", tableText8(TextEntry::kEntryMacro), "J", kHiddenFunction);
  addEntry(7, "DummyFunc7", "DummyFunc7", "RR", kHiddenFunction);
  addEntry(8, "DummyFunc8", tableText8(TextEntry::kServiceFunction), "RJP", kCommand);
  // Application.OnTime runs the start macros by this very name.
  addEntry(9, "DummyFunc13", "DummyFunc13", "J", kCommand);
}

void XllRegistrar::registerEntries() {
  try {
    buildTable();
    modulePath_ = narrowText(system_->modulePath(Runtime::kModuleName));
    registerEveryEntry();

    std::string calculate = entries_.at(1).functionText;
    std::string firstKey = tableText8(TextEntry::kCalculateKey);
    std::string secondKey = tableText8(TextEntry::kCalculateKey2);
    onKey(bridge_, firstKey, &calculate);
    onKey(bridge_, secondKey, &calculate);
    onKey(bridge_, secondKey, &calculate);

    XloperHolder everySheet(bridge_);
    XloperHolder entryMacro(bridge_);
    entryMacro.setText(tableText8(TextEntry::kEntryMacro));
    bridge_->excel4(kXlcOnEntry, nullptr, {everySheet.get(), entryMacro.get()});
  } catch (...) {
    // Registration runs inside the attach; a host program that refuses it leaves the runtime
    // without its commands, not without the application.
  }
}

void XllRegistrar::registerEveryEntry() {
  XloperHolder module(bridge_);
  module.setText(modulePath_);
  XloperHolder noArguments(bridge_);
  noArguments.setText("");
  for (auto& [key, entry] : entries_) {
    XloperHolder procedure(bridge_), typeText(bridge_), functionText(bridge_), macroType(bridge_);
    procedure.setText(entry.procedure);
    typeText.setText(entry.typeText);
    functionText.setText(entry.functionText);
    macroType.setText(entry.macroType);
    XloperHolder result(bridge_);
    bridge_->excel4(kXlfRegister, result.get(),
                    {module.get(), procedure.get(), typeText.get(), functionText.get(),
                     noArguments.get(), macroType.get()});
    result.release();
    entry.registerId.release();
    bridge_->excel4(kXlfRegisterId, entry.registerId.get(), {module.get(), procedure.get()});
  }
}

void XllRegistrar::unregisterEntries() {
  try {
    unregisterEveryEntry();
    onKey(bridge_, tableText8(TextEntry::kCalculateKey), nullptr);
    onKey(bridge_, tableText8(TextEntry::kCalculateKey2), nullptr);
  } catch (...) {
    // The add-in is closing; whatever the host program refuses stays with it.
  }
}

void XllRegistrar::unregisterEveryEntry() {
  for (auto& [key, entry] : entries_) {
    XloperHolder name(bridge_);
    name.setText(entry.functionText);
    XloperHolder result(bridge_);
    // One argument removes the defined name the registration made.
    bridge_->excel4(kXlfSetName, result.get(), {name.get()});
    result.release();
    bridge_->excel4(kXlfUnregister, result.get(), {entry.registerId.get()});
    result.release();
    // The id means nothing to the host program any more.
    entry.registerId.release();
  }
}

}  // namespace korvel
