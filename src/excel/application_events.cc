// The event sink, the recalculation cycle and the change sources that feed it. Everything that
// switches the program's events, screen or protection off for the runtime's own work puts them
// back on every path: a handler that stops half-way must not leave the program deaf to the
// user's next edit.
#include "excel/application_events.h"

#include <algorithm>
#include <exception>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "engine/engine.h"
#include "engine/recalculation.h"
#include "engine/value.h"
#include "engine/value_variant.h"
#include "excel/dispatch_ids.h"
#include "excel/excel_connection.h"
#include "excel/interception.h"
#include "excel/object_layer.h"
#include "excel/protection.h"
#include "excel/workbook_life_cycle.h"
#include "model/address.h"
#include "model/cell.h"
#include "model/compiled_model.h"
#include "model/sheet.h"
#include "platform/window_system.h"
#include "runtime/host_commands.h"
#include "runtime/runtime.h"
#include "runtime/text_table.h"
#include "util/text.h"

namespace korvel {

// The sink the program fires its application events into. It outlives nothing: the program may
// keep its reference after the runtime let go, so a sink whose owner detached answers S_OK and
// does nothing.
class EventSink : public Dispatch {
 public:
  explicit EventSink(ApplicationEvents* owner) : owner_(owner) {}
  void detach() { owner_ = nullptr; }

  HResult invoke(int32_t memberId, InvokeKind /*kind*/, std::span<Variant> arguments,
                 Variant* /*result*/, uint32_t /*locale*/) override {
    if (owner_ == nullptr) return kSOk;
    return owner_->onEvent(memberId, arguments);
  }

 private:
  ApplicationEvents* owner_;
};

namespace {

constexpr uint32_t kFormulaEntryFlags = kCellEventMarker | kCellChangedByEvent | kCellInput;
constexpr uint32_t kControlChangeFlags = kCellEventMarker | kCellChangedByEvent;
constexpr size_t kUndoAddressLimit = 100;

bool hasFormula(const Cell* cell) {
  return cell != nullptr && !cell->formulaRoots.empty() && cell->formulaRoots.front() != nullptr;
}

// Whether the program's value is the one the model holds. Stricter than the formula comparison:
// a text whose case changed, or a 0 that was cleared, is a change the formulas must see (EXACT,
// ISBLANK, COUNTA read the difference).
bool sameCellValue(const Value* old, const Value& now) {
  if (old == nullptr || old->isEmpty()) return now.isEmpty();
  if (old->isNumeric() && now.isNumeric()) return old->number() == now.number();
  if (old->isText() && now.isText()) return old->text() == now.text();
  if (old->kind() != now.kind()) return false;
  if (old->isBoolean()) return old->boolean() == now.boolean();
  if (old->isError()) return old->errorCode() == now.errorCode();
  if (old->isArray()) {
    const ValueArray& a = old->array();
    const ValueArray& b = now.array();
    if (a.columns() != b.columns() || a.rows() != b.rows()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
      if (!sameCellValue(&a.elements()[i], b.elements()[i])) return false;
    }
    return true;
  }
  return false;
}

std::vector<Variant> relativeAddressArguments() {
  return {Variant::boolean(false), Variant::boolean(false)};
}

// The relative A1 address of a range as two corners on the sheet; false when it does not read.
bool readArea(ExcelObject& range, uint32_t sheet, RangeRef& out) {
  std::u16string text = variantToText(range.get(dispid::kAddress, relativeAddressArguments()));
  CellRef first, last;
  if (text.find(u':') == std::u16string::npos) {
    first = last = parseCell(text, sheet);
  } else {
    parseRange(text, sheet, first, last);
  }
  out = normalizeRange(RangeRef{first, last});
  return isValidRange(out);
}

// "%s" of the text replaced by the value.
std::u16string formatted(std::u16string text, std::u16string_view value) {
  size_t at = text.find(u"%s");
  if (at != std::u16string::npos) text.replace(at, 2, value);
  return text;
}

// The precedents the program reported for a cell it computes replace the cell's links: single
// cells as precedent cells, larger areas through the range index.
void linkReportedPrecedents(CompiledModel& model, Cell* cell, const std::vector<RangeRef>& areas) {
  for (Cell* precedent : cell->precedents) precedent->dependents.erase(cell);
  cell->precedents.clear();
  for (RangeEntry* entry : cell->rangeLinks) {
    entry->cells.remove(cell);
  }
  cell->rangeLinks.clear();
  for (const RangeRef& reported : areas) {
    RangeRef area = normalizeRange(reported);
    if (!isValidRange(area)) continue;
    if (area.first == area.last) {
      Cell* precedent = model.cellAt(area.first);
      if (precedent == nullptr || precedent == cell) continue;
      cell->addPrecedent(precedent);
      precedent->setFlag(kCellOutsideRanges, false);
      continue;
    }
    RangeEntry* entry = model.addRange(area);
    if (std::find(cell->rangeLinks.begin(), cell->rangeLinks.end(), entry) ==
        cell->rangeLinks.end()) {
      cell->rangeLinks.push_back(entry);
      entry->cells.push_back(cell);
    }
  }
}

}  // namespace

ApplicationEvents::~ApplicationEvents() {
  try {
    disconnectSink();
  } catch (...) {
  }
  if (sink_) sink_->detach();
}

void ApplicationEvents::connectSink() {
  ExcelObject& application = connection_.application();
  if (cookie_ != 0 || !application.live()) return;
  auto sink = std::make_shared<EventSink>(this);
  uint32_t cookie = application.dispatch()->advise(kIidApplicationEvents, sink);
  if (cookie == 0) {
    sink->detach();
    return;
  }
  sink_ = std::move(sink);
  cookie_ = cookie;
}

void ApplicationEvents::disconnectSink() {
  if (cookie_ == 0) return;
  ExcelObject& application = connection_.application();
  if (application.live()) application.dispatch()->unadvise(cookie_);
  cookie_ = 0;
  if (sink_) sink_->detach();
  sink_.reset();
}

uint64_t ApplicationEvents::counterNow() {
  Clock* clock = connection_.runtime().platform().clock;
  CalculationState& calculation = connection_.runtime().calculation();
  if (calculation.counterFrequency == 0) {
    uint64_t frequency = clock != nullptr ? clock->counterFrequency() : 0;
    calculation.counterFrequency = frequency != 0 ? frequency : 1000;
  }
  return clock != nullptr ? clock->counter() : 0;
}

double ApplicationEvents::secondsSince(uint64_t start) {
  uint64_t now = counterNow();
  uint64_t frequency = connection_.runtime().calculation().counterFrequency;
  return now >= start ? double(now - start) / double(frequency) : 0.0;
}

void ApplicationEvents::markDataChanged() {
  Runtime& runtime = connection_.runtime();
  if (runtime.settings().dataExchange && !exportCommandEnabled_ &&
      runtime.menuManager() != nullptr) {
    exportCommandEnabled_ = true;
    runtime.menuManager()->enableExportCommand();
  }
  runtime.dataExchange().clearLastExportSucceeded();
}

void ApplicationEvents::reportFailedRecalculation(const std::exception& failure) {
  if (recalculationFailureReported_) return;
  recalculationFailureReported_ = true;
  Runtime& runtime = connection_.runtime();
  std::u16string reason = dynamic_cast<const std::bad_alloc*>(&failure) != nullptr
                              ? u"there is not enough memory"
                              : u"of an internal fault (" + fromUtf8(failure.what()) + u")";
  runtime.platform().windows->messageBox(
      runtime.mainWindow(),
      u"The calculation stopped because " + reason +
          u". Cells it could not compute show #VALUE! until they are computed again.",
      u"Warning", kMbOk | kMbIconWarning);
}

void ApplicationEvents::recalculationCycle(bool full) {
  Runtime& runtime = connection_.runtime();
  CalculationState& calculation = runtime.calculation();
  ExcelObject& application = connection_.application();
  Protection& protection = connection_.protection();
  calculation.recalculating = true;
  uint64_t start = counterNow();

  uint32_t activeSheet = 0;
  try {
    int32_t index = application.object(dispid::kActiveSheet).getInt(dispid::kIndex);
    if (index > 0) activeSheet = uint32_t(index - 1);
  } catch (...) {
  }
  bool automatic = full || connection_.readCalculation() == kCalculationAutomatic;

  bool scopeReleased = false;
  try {
    protection.openProtectionScope(activeSheet);
    connection_.setEnableEvents(false);
    if (runtime.settings().protectionTable.has_value() ||
        runtime.settings().screenStillDuringCalculation) {
      if (application.getBool(dispid::kScreenUpdating)) {
        application.put(dispid::kScreenUpdating, Variant::boolean(false));
        protection.noteScreenUpdatingSwitchedOff();
      }
    }
    bool screenWasOn = application.getBool(dispid::kScreenUpdating);

    Engine* engine = runtime.engine();
    if (engine != nullptr) {
      const std::vector<Cell*>& always = engine->model().alwaysRecalculatedCells();
      engine->changedCells.insert(engine->changedCells.end(), always.begin(), always.end());
    }
    markDataChanged();
    calculation.writingResults = true;
    try {
      if (engine != nullptr) {
        engine->recalculation().recalculateChanged(engine->changedCells, automatic);
      }
    } catch (const HostCallFailure&) {
    } catch (const std::exception& failure) {
      reportFailedRecalculation(failure);
    }
    calculation.writingResults = false;

    connection_.setEnableEvents(true);
    if (application.live()) {
      // The program computes the cells that are still its own formulas. A failure here is the
      // program's; the rest of the cycle must still re-protect and restore.
      connection_.interception().callOriginal(*application.dispatch(), kIidApplication,
                                              dispid::kCalculateFull, InvokeKind::kMethod, {},
                                              nullptr);
    }
    if (!screenWasOn && application.getBool(dispid::kScreenUpdating)) {
      application.put(dispid::kScreenUpdating, Variant::boolean(false));
    }
    connection_.setEnableEvents(false);
    protection.closeProtectionScope();
    if (!calculation.undoList.empty() && !calculation.undoRegistered) {
      runtime.sendDeferred(DEFER_REGISTER_UNDO, 0);
    }
    connection_.setEnableEvents(true);
    if (runtime.engine() != nullptr) runtime.engine()->changedCells.clear();
    protection.releaseProtectionScope();
    scopeReleased = true;
  } catch (...) {
  }
  if (!scopeReleased) {
    // Sheets the engine unprotected are protected again and the scope's screen is restored even
    // when the cycle stopped early.
    try {
      protection.closeProtectionScope();
    } catch (...) {
    }
    try {
      protection.releaseProtectionScope();
    } catch (...) {
    }
  }
  try {
    std::optional<bool> events = connection_.enableEvents();
    if (!events.has_value() || !*events) connection_.setEnableEvents(true);
  } catch (...) {
  }
  if (runtime.engine() != nullptr) runtime.engine()->changedCells.clear();
  calculation.writingResults = false;
  calculation.lastDuration = secondsSince(start);
  calculation.recalculating = false;
}

int ApplicationEvents::onRangeChanged(ExcelObject worksheet, ExcelObject range) {
  CalculationState& calculation = connection_.runtime().calculation();
  bool eventsWereOn = connection_.enableEvents().value_or(false);
  std::exception_ptr failure;
  try {
    connection_.setEnableEvents(false);
    if (!calculation.writingResults) {
      uint64_t start = counterNow();
      bool needed = worksheet.live() && range.live() && processChangedRange(worksheet, range);
      if (needed) {
        recalculationCycle(false);
        calculation.lastDuration = secondsSince(start);
      }
    }
  } catch (...) {
    failure = std::current_exception();
  }
  calculation.userEntry = false;
  connection_.setEnableEvents(eventsWereOn);
  if (failure) std::rethrow_exception(failure);
  return 0;
}

bool ApplicationEvents::processChangedRange(ExcelObject& worksheet, ExcelObject& range) {
  Runtime& runtime = connection_.runtime();
  CalculationState& calculation = runtime.calculation();
  CompiledModel* model = runtime.model();
  if (model == nullptr || runtime.engine() == nullptr) return false;
  bool calculating =
      connection_.readCalculation() != kCalculationManual || calculation.workbookCodeRunning;
  int32_t index = worksheet.getInt(dispid::kIndex) - 1;
  uint32_t sheet = index > 0 ? uint32_t(index) : 0;

  ExcelObject target = range;
  int32_t count = variantToInt(target.get(dispid::kCount));
  bool changed = false;
  bool proceed = true;
  if (count == 0) {
    // Whole columns or rows: only the used part of the sheet can hold anything.
    RangeRef area;
    if (readArea(target, sheet, area)) {
      ExcelObject lastCell = target.object(dispid::kSpecialCells, {Variant::i4(kCellTypeLastCell)});
      RangeRef used;
      if (!lastCell.live() || !readArea(lastCell, sheet, used)) {
        proceed = false;
      } else {
        CellRef last = used.last;
        area.last = CellRef::at(sheet, std::min(area.last.row(), last.row()),
                                std::min(area.last.column(), last.column()));
        // Nothing of the area lies in the used part: nothing changed there.
        if (area.last.row() < area.first.row() || area.last.column() < area.first.column()) {
          proceed = false;
        } else {
          target = worksheet.object(dispid::kRange, {Variant::text(rangeText(area))});
          count = target.live() ? variantToInt(target.get(dispid::kCount)) : 0;
        }
      }
    }
  }

  if (proceed && count > 1) {
    ExcelObject areas;
    std::vector<Variant> none;
    Variant areasValue;
    if (succeeded(target.invoke(dispid::kAreas, InvokeKind::kPropertyGet, none, &areasValue))) {
      areas = ExcelObject::of(areasValue);
    }
    std::vector<ExcelObject> parts;
    if (areas.live()) {
      int32_t n = areas.getInt(dispid::kCount);
      for (int32_t i = 1; i <= n; ++i)
        parts.push_back(areas.object(dispid::kItem, {Variant::i4(i)}));
    } else {
      parts.push_back(target);
    }
    for (ExcelObject& part : parts) {
      RangeRef area;
      if (!part.live() || !readArea(part, sheet, area)) continue;
      Variant formulas = part.get(dispid::kHasFormula);
      bool someFormula = formulas.type() == VarType::kNull || variantToBool(formulas);
      if (someFormula) {
        for (uint32_t row = area.first.row(); row <= area.last.row(); ++row) {
          for (uint32_t column = area.first.column(); column <= area.last.column(); ++column) {
            CellRef address = CellRef::at(sheet, row, column);
            ExcelObject cell = worksheet.object(dispid::kRange, {Variant::text(cellText(address))});
            if (!cell.live()) continue;
            if (variantToBool(cell.get(dispid::kHasFormula))) {
              takeEnteredFormula(cell, sheet);
              changed = true;
            } else if (storeIfChanged(address, cell.get(dispid::kValue2))) {
              changed = true;
            }
          }
        }
        continue;
      }
      Variant values = part.get(dispid::kValue2);
      if (values.type() != VarType::kArray) {
        if (storeIfChanged(area.first, values)) changed = true;
        continue;
      }
      const VariantArray& array = values.array();
      uint32_t rows = array.count[0];
      uint32_t columns = array.dimensions == 2 ? array.count[1] : 1;
      for (uint32_t i = 0; i < rows; ++i) {
        for (uint32_t j = 0; j < columns; ++j) {
          CellRef address = CellRef::at(sheet, area.first.row() + i, area.first.column() + j);
          const Variant& element = array.dimensions == 2 ? array.at(array.lower[0] + int32_t(i),
                                                                    array.lower[1] + int32_t(j))
                                                         : array.at(array.lower[0] + int32_t(i));
          if (storeIfChanged(address, element)) changed = true;
        }
      }
    }
  } else if (proceed && count == 1) {
    changed = processSingleCell(target, sheet);
  }

  Sheet* record = model->sheets().find(sheet);
  if (record != nullptr && record->eventFlag) {
    std::u16string used = variantToText(worksheet.object(dispid::kUsedRange).get(dispid::kAddress));
    CellRef first, last;
    if (used.find(u':') == std::u16string::npos) {
      first = last = parseCell(used, sheet);
    } else {
      parseRange(used, sheet, first, last);
    }
    record->range = RangeRef{first, last};
    record->eventFlag = false;
  }
  bool excel14 = calculation.workbookCodeRunning && runtime.hostInformation().excelVersion == 14;
  return (calculating && changed) || excel14;
}

bool ApplicationEvents::processSingleCell(ExcelObject& cell, uint32_t sheet) {
  Runtime& runtime = connection_.runtime();
  CalculationState& calculation = runtime.calculation();
  CompiledModel& model = *runtime.model();
  if (variantToBool(cell.get(dispid::kHasFormula))) {
    takeEnteredFormula(cell, sheet);
    return true;
  }
  Variant entered = cell.get(dispid::kValue2);
  CellRef address =
      parseCell(variantToText(cell.get(dispid::kAddress, relativeAddressArguments())), sheet);
  if (address.isNone()) return false;
  Value value = fromVariant(entered);
  Cell* existing = model.findCell(address);
  bool differs = !sameCellValue(existing != nullptr ? existing->value : nullptr, value);
  bool excel14 = calculation.workbookCodeRunning && runtime.hostInformation().excelVersion == 14;
  if (!excel14 && !differs) return false;

  Cell* target = model.cellAt(address);
  if (target == nullptr) return false;
  if (calculation.userEntry || (!calculation.undoing && value.isEmpty())) {
    UndoEntry entry;
    entry.cell = address;
    // Written back through Value2 on undo: a text that reads as a number stays a text.
    if (target->value != nullptr) entry.previous = toVariant(*target->value, true);
    entry.formulaIndex = runtime.settings().importOverFormulas && hasFormula(target) ? 0 : -1;
    calculation.undoList.push_back(std::move(entry));
    runtime.postDeferred(DEFER_REGISTER_UNDO, 0);
  }
  storeValue(target, value);
  return differs;
}

void ApplicationEvents::takeEnteredFormula(ExcelObject& cell, uint32_t sheet) {
  Runtime& runtime = connection_.runtime();
  CompiledModel& model = *runtime.model();
  connection_.pumpMessages();
  CellRef address =
      parseCell(variantToText(cell.get(dispid::kAddress, relativeAddressArguments())), sheet);
  Cell* target = model.cellAt(address);
  if (target == nullptr) return;
  std::vector<RangeRef> areas;
  Protection& protection = connection_.protection();
  protection.openProtectionScope(sheet);
  try {
    if (connection_.calcHost() != nullptr) connection_.calcHost()->directPrecedents(target, areas);
  } catch (...) {
    protection.closeProtectionScope();
    protection.releaseProtectionScope();
    throw;
  }
  protection.closeProtectionScope();
  protection.releaseProtectionScope();
  linkReportedPrecedents(model, target, areas);
  target->flags |= kFormulaEntryFlags;
  if (Engine* engine = runtime.engine()) engine->changedCells.push_back(target);
  std::u16string formula = variantToText(cell.get(dispid::kFormula));
  // A formula that reads another workbook must be recomputed on every pass: the program does not
  // tell the runtime when the other workbook changes.
  if (!formula.empty() && formula[0] == u'=' && formula.find(u'[') != std::u16string::npos) {
    target->flags |= kCellAlwaysRecalculated;
  }
  model.enterInLists(target);
}

bool ApplicationEvents::storeIfChanged(CellRef address, const Variant& variant) {
  CompiledModel& model = *connection_.runtime().model();
  Value value = fromVariant(variant);
  Cell* existing = model.findCell(address);
  if (sameCellValue(existing != nullptr ? existing->value : nullptr, value)) return false;
  Cell* cell = model.cellAt(address);
  if (cell == nullptr) return false;
  storeValue(cell, value);
  return true;
}

void ApplicationEvents::storeValue(Cell* cell, const Value& value) {
  Runtime& runtime = connection_.runtime();
  if (runtime.settings().importOverFormulas && hasFormula(cell)) detachFormula(cell);
  cell->ensureValue() = value;
  if (Engine* engine = runtime.engine()) engine->recalculation().markChanged(cell);
}

void ApplicationEvents::detachFormula(Cell* cell) {
  if (!hasFormula(cell)) return;
  FormulaRoots& kept = setAside_[cell->id()];
  kept = std::move(cell->formulaRoots);
  cell->formulaRoots.clear();
}

bool ApplicationEvents::reattachFormula(Cell* cell) {
  if (cell == nullptr || hasFormula(cell)) return false;
  auto found = setAside_.find(cell->id());
  if (found == setAside_.end()) return false;
  cell->formulaRoots = std::move(found->second);
  setAside_.erase(found);
  return true;
}

bool ApplicationEvents::hasSetAsideFormula(const Cell* cell) const {
  return cell != nullptr && setAside_.count(cell->id()) != 0;
}

ExcelObject ApplicationEvents::worksheetRange(CellRef address) {
  ExcelObject& workbook = connection_.workbook();
  if (!workbook.live()) return {};
  ExcelObject worksheet = workbook.object(dispid::kWorksheets)
                              .object(dispid::kItem, {Variant::i4(int32_t(address.sheet()) + 1)});
  if (!worksheet.live()) return {};
  std::u16string text = cellText(address).substr(0, kUndoAddressLimit);
  return worksheet.object(dispid::kRange, {Variant::text(text)});
}

bool ApplicationEvents::readWorkbookCell(CellRef address, Value& out) {
  if (ExcelCalcHost* host = connection_.calcHost()) return host->readCell(address, out) > 0;
  try {
    ExcelObject range = worksheetRange(address);
    if (!range.live()) return false;
    out = fromVariant(range.get(dispid::kValue2));
    return true;
  } catch (const ComError&) {
    return false;
  }
}

void ApplicationEvents::onControlChanged(std::u16string_view control) {
  Runtime& runtime = connection_.runtime();
  ExcelObject& application = connection_.application();
  CompiledModel* model = runtime.model();
  if (!application.live() || model == nullptr) return;
  uint32_t sheet = uint32_t(application.object(dispid::kActiveSheet).getInt(dispid::kIndex) - 1);
  const ControlItem* clicked = nullptr;
  for (const ControlGroup& group : model->controls) {
    if (group.sheet() != sheet) continue;
    for (const ControlItem& item : group.items) {
      if (item.name == control) {
        clicked = &item;
        break;
      }
    }
    if (clicked != nullptr) break;
  }
  if (clicked == nullptr) return;
  if (!clicked->linkedCell.isNone()) {
    Cell* cell = model->cellAt(clicked->linkedCell);
    if (cell != nullptr && hasFormula(cell) && runtime.settings().importOverFormulas) {
      detachFormula(cell);
    }
  }
  int32_t calculationMode = connection_.readCalculation();

  std::vector<const ControlItem*> taken;
  if (clicked->groupName.empty()) {
    taken.push_back(clicked);
  } else {
    // Option buttons of one group may lie on several sheets; each has its own linked cell.
    for (const ControlGroup& group : model->controls) {
      for (const ControlItem& item : group.items) {
        if (item.groupName == clicked->groupName) taken.push_back(&item);
      }
    }
  }
  for (const ControlItem* item : taken) {
    if (item->linkedCell.isNone()) continue;
    Cell* cell = model->cellAt(item->linkedCell);
    if (cell == nullptr) continue;
    Value before = cell->value != nullptr ? *cell->value : Value();
    Value now;
    if (!readWorkbookCell(item->linkedCell, now)) continue;
    cell->ensureValue() = now;
    // A linked cell that was empty counts as changed too: the first click on a control must
    // reach the formulas that read it.
    if (!sameCellValue(&before, now)) {
      if (Engine* engine = runtime.engine()) engine->changedCells.push_back(cell);
      cell->flags |= kControlChangeFlags;
      markDataChanged();
    }
  }
  if (calculationMode != kCalculationManual && !runtime.calculation().importing) {
    recalculationCycle(false);
  }
}

void ApplicationEvents::undoLastEntry() {
  Runtime& runtime = connection_.runtime();
  CalculationState& calculation = runtime.calculation();
  calculation.undoing = true;
  try {
    if (!calculation.undoList.empty()) {
      UndoEntry entry = std::move(calculation.undoList.back());
      calculation.undoList.pop_back();
      if (!runtime.settings().importOverFormulas || entry.formulaIndex == -1) {
        // The program's change notification brings the old value back into the model.
        ExcelObject range = worksheetRange(entry.cell);
        if (range.live()) range.put(dispid::kValue2, entry.previous);
      } else if (CompiledModel* model = runtime.model()) {
        Cell* cell = model->cellAt(entry.cell);
        Engine* engine = runtime.engine();
        if (cell != nullptr && engine != nullptr) {
          if (runtime.settings().importOverFormulas && reattachFormula(cell)) {
            engine->changedCells.push_back(cell);
          }
          engine->changedCells.push_back(cell);
        }
        runtime.postDeferred(DEFER_RECALCULATE, 1);
      }
      if (!calculation.undoList.empty()) runtime.postDeferred(DEFER_REGISTER_UNDO, 0);
    }
  } catch (...) {
  }
  calculation.undoing = false;
}

void ApplicationEvents::runStartMacros() {
  Runtime& runtime = connection_.runtime();
  CalculationState& calculation = runtime.calculation();
  for (const std::u16string* macro :
       {&runtime.channelState().firstStartMacro, &runtime.channelState().secondStartMacro}) {
    if (macro->empty()) continue;
    calculation.startMacroRunning = true;
    try {
      connection_.runMacro(*macro);
    } catch (...) {
      calculation.startMacroRunning = false;
      throw;
    }
    calculation.startMacroRunning = false;
  }
  if (runtime.channelState().launchMode != 0) {
    connection_.application().put(dispid::kVisible, Variant::boolean(false));
  }
}

void ApplicationEvents::wireSheetControls() {
  CompiledModel* model = connection_.runtime().model();
  ExcelObject& workbook = connection_.workbook();
  if (model == nullptr || !workbook.live()) return;
  try {
    ExcelObject sheets = workbook.object(dispid::kSheets);
    int32_t count = sheets.getInt(dispid::kCount);
    for (int32_t i = 1; i <= count; ++i) {
      ExcelObject sheet = sheets.object(dispid::kItem, {Variant::i4(i)});
      if (!sheet.live()) continue;
      Variant type;
      std::vector<Variant> none;
      if (failed(sheet.invoke(dispid::kType, InvokeKind::kPropertyGet, none, &type))) continue;
      // Form controls live on worksheets only.
      if (variantToInt(type) != kSheetTypeWorksheet) continue;
      ExcelObject shapes;
      for (const ControlGroup& group : model->controls) {
        if (group.sheet() != uint32_t(i - 1)) continue;
        for (const ControlItem& item : group.items) {
          if (item.text3.empty()) continue;
          if (!shapes.live()) shapes = sheet.object(dispid::kShapes);
          std::vector<Variant> name{Variant::text(item.name)};
          Variant found;
          // A control without its shape is left alone; the others are still wired.
          if (failed(shapes.invoke(dispid::kItem, InvokeKind::kPropertyGet, name, &found))) {
            continue;
          }
          ExcelObject shape = ExcelObject::of(found);
          if (!shape.live()) continue;
          if (variantToText(shape.get(dispid::kOnAction)).empty()) {
            shape.put(dispid::kOnAction, Variant::text(item.text3));
          }
        }
      }
    }
  } catch (...) {
  }
}

HResult ApplicationEvents::onEvent(int32_t memberId, std::span<Variant> arguments) {
  auto argument = [&](size_t i) {
    return i < arguments.size() ? ExcelObject::of(arguments[i]) : ExcelObject();
  };
  try {
    switch (memberId) {
      case dispid::kEventSheetCalculate:
        onSheetCalculate();
        break;
      case dispid::kEventSheetChange:
        onSheetChange(argument(0));
        break;
      case dispid::kEventWorkbookOpen:
        onWorkbookOpen(argument(0));
        break;
      case dispid::kEventWorkbookBeforeClose:
        if (arguments.size() != 2) return kEInvalidArg;
        onWorkbookBeforeClose(connection_, argument(0), arguments[1]);
        break;
      case dispid::kEventWorkbookBeforeSave:
        // Without its Cancel argument the event cannot be answered.
        if (arguments.size() < 3) return kEInvalidArg;
        onWorkbookBeforeSave(argument(0), arguments[1], arguments[2]);
        break;
      case dispid::kEventWorkbookNewSheet:
        onWorkbookNewSheet(argument(0), argument(1));
        break;
      default:
        break;
    }
  } catch (const ComError& error) {
    return failed(error.result()) ? error.result() : kDispEException;
  } catch (...) {
    return kDispEException;
  }
  return kSOk;
}

void ApplicationEvents::onSheetCalculate() {
  Runtime& runtime = connection_.runtime();
  connection_.setEnableEvents(false);
  try {
    Engine* engine = runtime.engine();
    if (!runtime.calculation().recalculating && engine != nullptr &&
        !engine->changedCells.empty() && connection_.readCalculation() != kCalculationAutomatic) {
      // The user asked the program to calculate (manual mode): the pending changes go too.
      runtime.postDeferred(DEFER_RECALCULATE, 0);
      connection_.pumpMessages();
    }
  } catch (...) {
    connection_.setEnableEvents(true);
    throw;
  }
  connection_.setEnableEvents(true);
}

bool ApplicationEvents::isLinkedWorkbook(ExcelObject& workbook, std::u16string* fullName) {
  CompiledModel* model = connection_.runtime().model();
  if (model == nullptr || model->externalWorkbooks.empty() || !workbook.live()) return false;
  std::u16string name = workbook.getText(dispid::kFullName);
  for (const ExternalWorkbook& linked : model->externalWorkbooks) {
    if (equalsNoCase(linked.fullPath, name)) {
      if (fullName != nullptr) *fullName = name;
      return true;
    }
  }
  return false;
}

void ApplicationEvents::onSheetChange(ExcelObject sheet) {
  CalculationState& calculation = connection_.runtime().calculation();
  connection_.setEnableEvents(false);
  std::exception_ptr failure;
  try {
    if (!calculation.writingResults && sheet.live()) {
      ExcelObject workbook = sheet.object(dispid::kParent);
      // The application's own cells arrive through the workbook's change notification.
      if (!workbook.sameObject(connection_.workbook()) && isLinkedWorkbook(workbook, nullptr)) {
        connection_.pumpMessages();
        recalculationCycle(false);
      }
    }
  } catch (...) {
    failure = std::current_exception();
  }
  calculation.userEntry = false;
  connection_.setEnableEvents(true);
  if (failure) std::rethrow_exception(failure);
}

void ApplicationEvents::onWorkbookOpen(ExcelObject workbook) {
  std::u16string fullName;
  if (!isLinkedWorkbook(workbook, &fullName)) return;
  // The user opened a linked workbook: the hidden copy the runtime opened for it goes, and the
  // user's copy is read from now on.
  if (ExcelCalcHost* host = connection_.calcHost()) host->linkedWorkbookOpened(fullName);
}

void ApplicationEvents::onWorkbookBeforeSave(ExcelObject workbook, const Variant& saveAsUi,
                                             Variant& cancel) {
  Runtime& runtime = connection_.runtime();
  if (runtime.model() == nullptr || variantToBool(cancel)) return;
  connection_.setEnableEvents(false);
  std::exception_ptr failure;
  try {
    if (!workbook.sameObject(connection_.workbook())) {
      cancel = Variant::boolean(false);
    } else if (runtime.settings().saveAsExecutable) {
      if (variantToBool(saveAsUi)) {
        cancel = Variant::boolean(true);
        runtime.packaging().chooseAndSaveApplicationAs();
      } else {
        runtime.packaging().saveApplication();
        if (runtime.calculation().startMacroRunning) runtime.calculation().closePending = true;
      }
    } else {
      if (runtime.settings().dataExchange) {
        std::u16string text =
            formatted(tableText(TextEntry::kSaveWarning), runtime.settings().applicationName);
        runtime.platform().windows->messageBox(runtime.mainWindow(), text, u"Warning",
                                               kMbIconWarning);
      }
      // The application workbook is never written as a plain workbook.
      cancel = Variant::boolean(true);
    }
  } catch (...) {
    failure = std::current_exception();
  }
  connection_.setEnableEvents(true);
  if (failure) std::rethrow_exception(failure);
}

void ApplicationEvents::onWorkbookNewSheet(ExcelObject workbook, ExcelObject sheet) {
  Runtime& runtime = connection_.runtime();
  CompiledModel* model = runtime.model();
  if (model == nullptr || !sheet.live() || !workbook.sameObject(connection_.workbook())) return;
  int32_t index = sheet.getInt(dispid::kIndex);
  std::u16string codeName = sheet.getText(dispid::kCodeName);
  std::u16string name = sheet.getText(dispid::kName);
  if (index < 1) return;
  // Formulas handed to the program name the sheet as the program shows it.
  (void)codeName;
  model->sheets().add(Sheet(uint32_t(index - 1), name, name));
  if (ExcelCalcHost* host = connection_.calcHost()) host->refreshSheets();
}

}  // namespace korvel
