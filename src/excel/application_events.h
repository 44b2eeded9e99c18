// The runtime's side of the program's events and of the user's edits: the event sink connected
// to the Application, the recalculation cycle, the handling of ranges the workbook's code reports
// changed, form controls, the undo of the user's entries and the start macros.
//
// REQUIRES: used on the host program's user-interface thread.
#ifndef KORVEL_EXCEL_APPLICATION_EVENTS_H_
#define KORVEL_EXCEL_APPLICATION_EVENTS_H_

#include <cstdint>
#include <exception>
#include <map>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "excel/excel_object.h"
#include "model/cell_ref.h"
#include "model/formula_roots.h"
#include "model/nodes/node.h"
#include "platform/dispatch.h"

namespace korvel {

class Cell;
class EventSink;
class ExcelConnection;
class Value;

class ApplicationEvents {
 public:
  explicit ApplicationEvents(ExcelConnection& connection) : connection_(connection) {}
  ~ApplicationEvents();

  // Creates the sink and connects it to the Application's events; disconnect lets it go. Both
  // do nothing when there is nothing to do.
  void connectSink();
  void disconnectSink();
  bool sinkConnected() const { return cookie_ != 0; }

  // The recalculation cycle. Never throws; always leaves events on and the changed-cells list
  // empty.
  void recalculationCycle(bool full);
  // HC_RANGE_CHANGED. Answers 0.
  int onRangeChanged(ExcelObject worksheet, ExcelObject range);
  // Takes the values of a changed range of the worksheet into the model (the cells whose values
  // differ go to the changed-cells list, with undo entries for single cells the user entered);
  // answers whether a cycle is needed.
  bool processChangedRange(ExcelObject& worksheet, ExcelObject& range);
  // HC_CONTROL_CHANGED.
  void onControlChanged(std::u16string_view control);
  // The undo command. Swallows every exception.
  void undoLastEntry();
  // The two start macros, then the launch mode's hiding. Exceptions go to the caller.
  void runStartMacros();
  // The user's data changed: the export command becomes available, the last export's success is
  // forgotten.
  void markDataChanged();
  // Sets the OnAction macros of the form controls of every worksheet (before a full calculation).
  void wireSheetControls();

  // The sink's dispatch: the event's member id and its arguments in declaration order (Cancel
  // written back). Answers an HResult.
  HResult onEvent(int32_t memberId, std::span<Variant> arguments);

  // Formulas that an entered or imported value replaced (import over formulas): the cell becomes
  // a constant and its formula waits here until it is re-attached. Keyed by cell identity, so an
  // entry never meets a cell of a later model.
  void detachFormula(Cell* cell);
  // False when the cell has no set-aside formula or already has a formula of its own.
  bool reattachFormula(Cell* cell);
  bool hasSetAsideFormula(const Cell* cell) const;

  // A recalculation ended early for a reason that is not the program's (out of memory, an
  // internal fault): the user is told once per run, since every later edit would fail the same
  // way. The cells it did not compute already hold #VALUE!.
  void reportFailedRecalculation(const std::exception& failure);

 private:
  // The handlers of the program's events.
  void onSheetCalculate();
  void onSheetChange(ExcelObject sheet);
  void onWorkbookOpen(ExcelObject workbook);
  void onWorkbookBeforeSave(ExcelObject workbook, const Variant& saveAsUi, Variant& cancel);
  void onWorkbookNewSheet(ExcelObject workbook, ExcelObject sheet);

  // The single-cell step; answers whether the cell changed.
  bool processSingleCell(ExcelObject& cell, uint32_t sheet);
  // A formula the user typed into an application cell: the cell becomes one the program
  // computes, with the precedents the program reports.
  void takeEnteredFormula(ExcelObject& cell, uint32_t sheet);
  // Compares the program's value with the model's and, when they differ, stores it and lists the
  // cell as changed; answers whether it differed.
  bool storeIfChanged(CellRef address, const Variant& value);
  void storeValue(Cell* cell, const Value& value);
  // The cell's value as the workbook holds it: through the object layer, else straight from the
  // application workbook's worksheet.
  bool readWorkbookCell(CellRef address, Value& out);
  // The Range of an address on the application workbook's worksheet (empty when there is none).
  ExcelObject worksheetRange(CellRef address);
  // Whether the workbook is one the model links to; *fullName gets its FullName.
  bool isLinkedWorkbook(ExcelObject& workbook, std::u16string* fullName);

  // Counter ticks, the frequency read once; seconds since a tick.
  uint64_t counterNow();
  double secondsSince(uint64_t start);

  ExcelConnection& connection_;
  std::shared_ptr<EventSink> sink_;
  uint32_t cookie_ = 0;
  bool exportCommandEnabled_ = false;
  std::map<uint64_t, FormulaRoots> setAside_;
  bool recalculationFailureReported_ = false;
};

}  // namespace korvel

#endif  // KORVEL_EXCEL_APPLICATION_EVENTS_H_
