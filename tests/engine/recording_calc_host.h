// A CalcHost for engine tests: records every call the engine makes into the host program and
// answers with values the test scripts beforehand. Header-only, so that every engine test binary
// can use it.
#ifndef KORVEL_TESTS_ENGINE_RECORDING_CALC_HOST_H_
#define KORVEL_TESTS_ENGINE_RECORDING_CALC_HOST_H_

#include <map>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "engine/calc_host.h"
#include "engine/value.h"
#include "model/cell.h"
#include "model/cell_ref.h"

namespace korvel {

class RecordingCalcHost : public CalcHost {
 public:
  struct FunctionCall {
    int number = 0;
    std::vector<Value> arguments;
    int count = 0;
  };
  struct MacroCall {
    std::u16string name;
    std::vector<Value> arguments;
    bool array = false;  // runMacroArray rather than runMacro
  };

  // Scripted answers.
  Value evaluateAnswer = Value::integer(0);
  int evaluateResult = 1;
  Value functionAnswer = Value::integer(0);
  bool functionSucceeds = true;
  Value macroAnswer = Value::integer(0);
  // Input cells the host program holds; addresses without an entry fail to read.
  std::map<std::pair<uint32_t, uint32_t>, Value> workbookCells;
  bool date1904 = false;
  // Every operation that asks the host program something throws while this is set, as a failed
  // call of the host's object model does.
  bool throwOnCall = false;
  // Worksheet function calls run out of memory instead.
  bool outOfMemory = false;

  // What the engine did, in order of the calls.
  std::vector<Cell*> published;
  std::vector<std::u16string> evaluated;
  std::vector<FunctionCall> functionCalls;
  std::vector<MacroCall> macroCalls;
  std::vector<CellRef> reads;
  std::vector<std::string> log;  // operation names, for order checks

  void publishCell(Cell* cell) override {
    log.push_back("publishCell");
    published.push_back(cell);
  }
  bool calculateAndRead(CellRef address, Value& out) override {
    log.push_back("calculateAndRead");
    reads.push_back(address);
    failIfAsked();
    auto it = workbookCells.find({address.rowWord, address.columnWord});
    if (it == workbookCells.end()) return false;
    out = it->second;
    return true;
  }
  int evaluate(std::u16string_view text, bool english, Value& out) override {
    (void)english;
    log.push_back("evaluate");
    evaluated.emplace_back(text);
    failIfAsked();
    if (evaluateResult > 0) out = evaluateAnswer;
    return evaluateResult;
  }
  bool callWorksheetFunction(int number, const std::vector<const Value*>& arguments, int count,
                             Value& out) override {
    log.push_back("callWorksheetFunction");
    FunctionCall call{number, {}, count};
    for (const Value* v : arguments) call.arguments.push_back(v ? *v : Value());
    functionCalls.push_back(std::move(call));
    if (outOfMemory) throw std::bad_alloc();
    failIfAsked();
    out = functionSucceeds ? functionAnswer : Value::error(kErrorValue);
    return functionSucceeds;
  }
  void runMacro(std::u16string_view name, const std::vector<const Value*>& arguments,
                Value& out) override {
    recordMacro("runMacro", name, arguments, false, out);
  }
  void runMacroArray(std::u16string_view name, const std::vector<const Value*>& arguments,
                     Value& out) override {
    recordMacro("runMacroArray", name, arguments, true, out);
  }
  int directPrecedents(Cell* cell, std::vector<RangeRef>& areas) override {
    (void)cell;
    (void)areas;
    log.push_back("directPrecedents");
    return 0;
  }
  void scanSheetHyperlinks(Engine&) override { log.push_back("scanSheetHyperlinks"); }
  void openLinkedWorkbooks(Engine&) override { log.push_back("openLinkedWorkbooks"); }
  void wireSheetControls(Engine&) override { log.push_back("wireSheetControls"); }
  void refreshQueryTables() override { log.push_back("refreshQueryTables"); }
  bool usesDate1904() override { return date1904; }
  bool suspendCalculation() override {
    log.push_back("suspendCalculation");
    return true;
  }
  bool restoreCalculation() override {
    log.push_back("restoreCalculation");
    return true;
  }

 private:
  void failIfAsked() {
    if (throwOnCall) throw HostCallFailure("host call failed");
  }
  void recordMacro(const char* operation, std::u16string_view name,
                   const std::vector<const Value*>& arguments, bool array, Value& out) {
    log.push_back(operation);
    MacroCall call{std::u16string(name), {}, array};
    for (const Value* v : arguments) call.arguments.push_back(v ? *v : Value());
    macroCalls.push_back(std::move(call));
    failIfAsked();
    out = macroAnswer;
  }
};

}  // namespace korvel

#endif  // KORVEL_TESTS_ENGINE_RECORDING_CALC_HOST_H_
