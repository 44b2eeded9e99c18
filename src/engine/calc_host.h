// CalcHost: the engine's only way to the live workbook of the host program. The object layer
// implements it over the host's object model; tests and the command-line tool use small hosts of
// their own. Operations that return int give 1 for done, 0 for nothing done, -1 for a failed
// call into the host.
#ifndef KORVEL_ENGINE_CALC_HOST_H_
#define KORVEL_ENGINE_CALC_HOST_H_

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "engine/value.h"
#include "model/cell_ref.h"

namespace korvel {

class Cell;
class CallNode;
class Engine;

// A call into the host program that failed. The host's own failure types derive from it, so that
// the engine catches exactly these and lets out of memory and programming errors reach its caller.
class HostCallFailure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class CalcHost {
 public:
  virtual ~CalcHost() = default;

  // Writes the cell's value (and hyperlink) into the workbook cell at its address.
  virtual void publishCell(Cell* cell) = 0;
  // Has the host compute the workbook cell and reads its value into out. False when it failed;
  // may also throw HostCallFailure, which the caller catches. Every operation may throw it.
  virtual bool calculateAndRead(CellRef address, Value& out) = 0;
  // Has the host evaluate a formula text beginning with "=" (english: in the host's English
  // function names and separators).
  virtual int evaluate(std::u16string_view text, bool english, Value& out) = 0;
  // Calls the host's worksheet function of that number with exactly count parameters: the
  // arguments first, missing parameters after them. A failed call yields #VALUE!.
  virtual bool callWorksheetFunction(int number, const std::vector<const Value*>& arguments,
                                     int count, Value& out) = 0;
  // Runs a macro (a user-defined function) of the workbook with the arguments.
  virtual void runMacro(std::u16string_view name, const std::vector<const Value*>& arguments,
                        Value& out) = 0;
  virtual void runMacroArray(std::u16string_view name, const std::vector<const Value*>& arguments,
                             Value& out) = 0;
  // Lets the host compute a call from its unevaluated argument nodes, before the engine evaluates
  // them: constructs that bind names while their arguments are evaluated (a function defined in
  // the formula, names given to values) have no other way to run. True when the host computed
  // the call into out. The engine asks for calls without a native routine, and for every call
  // while seesEveryCall() holds (so that the host can evaluate IF's branches lazily inside such a
  // construct). The default computes nothing.
  virtual bool computeCall(Engine&, const CallNode&, int /*mode*/, Value& /*out*/) { return false; }
  virtual bool seesEveryCall() const { return false; }
  // The areas the host reports as the cell's direct precedents.
  virtual int directPrecedents(Cell* cell, std::vector<RangeRef>& areas) = 0;

  // Called in this order before every full recalculation.
  virtual void scanSheetHyperlinks(Engine& engine) = 0;
  virtual void openLinkedWorkbooks(Engine& engine) = 0;
  virtual void wireSheetControls(Engine& engine) = 0;
  virtual void refreshQueryTables() = 0;

  virtual bool usesDate1904() = 0;
  // The host's own calculation goes manual for a changed-cells recalculation and back after.
  virtual bool suspendCalculation() = 0;
  virtual bool restoreCalculation() = 0;
};

}  // namespace korvel

#endif  // KORVEL_ENGINE_CALC_HOST_H_
