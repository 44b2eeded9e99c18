// The runtime's side of the program's events and of the user's edits: the event sink connected
// to the Application, the recalculation cycle, the handling of ranges the workbook's code reports
// changed, form controls, the undo of the user's entries and the start macros.
//
// REQUIRES: used on the host program's user-interface thread.
#ifndef KORVEL_EXCEL_APPLICATION_EVENTS_H_
#define KORVEL_EXCEL_APPLICATION_EVENTS_H_

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

#include "excel/excel_object.h"
#include "platform/dispatch.h"

namespace korvel {

class ExcelConnection;

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

 private:
  ExcelConnection& connection_;
  std::shared_ptr<Dispatch> sink_;
  uint32_t cookie_ = 0;
};

}  // namespace korvel

#endif  // KORVEL_EXCEL_APPLICATION_EVENTS_H_
