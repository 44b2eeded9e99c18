// The formula constructs that give names to values while they compute: LET, LAMBDA (written in
// the formula, called where it stands, held by a defined name or a LET variable, passed to MAP,
// REDUCE, SCAN, BYROW, BYCOL, MAKEARRAY, GROUPBY or PIVOTBY), ISOMITTED, and worksheet functions
// passed as values. The compiled model keeps them as call nodes named as the workbook file writes
// them
// ("_XLFN.LET", "_XLPM.X" for a parameter or variable, "_XLOP.X" for an optional parameter,
// "_XLETA.SUM" for a function passed as a value, kAppliedCallName for LAMBDA(x,x+1)(3)). The engine
// hands those calls over unevaluated (CalcHost::computeCall); this evaluator keeps the scope of
// names and evaluates the argument nodes through the engine, so a name is bound, never replaced
// by text.
//
// Answers, as the program gives them where the engine can hold them: a wrong number of arguments
// to a LAMBDA, a parameter that is not a name, a function argument that is not a function, and a
// result that would nest arrays are #VALUE! (the program's #CALC! for a nested array and a LAMBDA
// left uncalled has no value here, so they are #VALUE! too); LAMBDA calls nested deeper than
// kMaxLambdaDepth are #NUM!; a variable no LET or LAMBDA binds is #NAME?.
//
// REQUIRES: used only on the thread that evaluates formulas.
#ifndef KORVEL_HOSTS_HEADLESS_LAMBDA_CALLS_H_
#define KORVEL_HOSTS_HEADLESS_LAMBDA_CALLS_H_

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/calc_host.h"
#include "engine/engine.h"
#include "engine/value.h"
#include "model/nodes/node.h"

namespace korvel {

// The name the compiler gives the call of a value: its first child is what is called, the others
// are the arguments.
inline constexpr std::u16string_view kAppliedCallName = u"_XLAPPLY";

// The name the compiler gives the range operator between references it cannot join when it
// builds (A1:INDEX(A:A,3), OFFSET(A1,1,1):B9): the two children are its ends. Computed here too,
// as a call taken whole, into the smallest area holding both ends.
inline constexpr std::u16string_view kRangeCallName = u"_XLRANGE";

// LAMBDA calls nested deeper than this give #NUM!, well before the engine's bound on nesting.
inline constexpr int kMaxLambdaDepth = 200;

// Calls the headless program's worksheet function of that name, else the native routine of the
// name (upper case; the prefixes of newer functions are ignored). False when neither exists.
bool callFunctionNamed(Engine& engine, std::u16string_view name,
                       const std::vector<const Value*>& arguments, Value& out);

class LambdaCalls {
 public:
  LambdaCalls() = default;
  LambdaCalls(const LambdaCalls&) = delete;
  LambdaCalls& operator=(const LambdaCalls&) = delete;

  // Computes the call when it is one of the constructs above, or a call of a defined name that
  // holds a LAMBDA; inside a LET or a LAMBDA's body also IF and IFERROR with a single condition,
  // whose branches are evaluated only when taken, so that a LAMBDA may call itself. False for
  // every other call, which the engine computes as usual.
  bool compute(Engine& engine, const CallNode& node, int mode, Value& out);

  // True while a LET or a LAMBDA's body is being evaluated.
  bool active() const { return depth_ > 0; }

  struct Function;
  struct Binding;
  using Scope = std::shared_ptr<const Binding>;
  // What a parameter or variable is given: a value (a reference stays a reference), a function,
  // or nothing for an omitted argument.
  struct Argument {
    Value value;
    std::shared_ptr<const Function> function;
    bool omitted = false;
  };

 private:
  bool let(Engine& engine, const CallNode& node, int mode, Value& out);
  void callFunction(Engine& engine, const Function& function, std::vector<Argument> arguments,
                    int mode, Value& out);
  void callWithNodes(Engine& engine, const Function& function, const ChildList& children,
                     size_t first, int mode, Value& out);
  bool helper(Engine& engine, std::u16string_view name, const CallNode& node, Value& out);
  struct Grouping;
  bool groupBy(Engine& engine, const CallNode& node, Value& out);
  bool pivotBy(Engine& engine, const CallNode& node, Value& out);
  int readGrouping(Engine& engine, const ChildList& children, size_t fieldsCount, size_t functionAt,
                   size_t filterAt, std::vector<ValueArray>& fields, Grouping& grouping,
                   Value& out);
  bool readOption(Engine& engine, const ChildList& children, size_t i, double fallback,
                  double* result);
  bool lazyBranch(Engine& engine, const CallNode& node, int mode, Value& out);
  std::shared_ptr<const Function> functionOf(const Node* node) const;
  Argument argumentOf(Engine& engine, const Node* node);
  const Binding* find(std::u16string_view variable) const;
  const CallNode* namedLambda(Engine& engine, std::u16string_view name) const;

  Scope scope_;
  int depth_ = 0;      // LETs and LAMBDA bodies being evaluated
  int callDepth_ = 0;  // LAMBDA calls being evaluated
};

// The host of an engine whose calls reach the spreadsheet program through its object layer, with
// these constructs computed by the headless program. Every other operation goes to the host the
// getter gives at the time of the call; while it gives none (the program was let go of), the
// operations do nothing and calls give #NAME?, as for an engine without host.
class LambdaCalcHost : public CalcHost {
 public:
  explicit LambdaCalcHost(std::function<CalcHost*()> inner) : inner_(std::move(inner)) {}

  bool computeCall(Engine& engine, const CallNode& node, int mode, Value& out) override;
  bool seesEveryCall() const override { return lambdas_.active(); }
  void publishCell(Cell* cell) override;
  bool calculateAndRead(CellRef address, Value& out) override;
  int evaluate(std::u16string_view text, bool english, Value& out) override;
  bool callWorksheetFunction(int number, const std::vector<const Value*>& arguments, int count,
                             Value& out) override;
  void runMacro(std::u16string_view name, const std::vector<const Value*>& arguments,
                Value& out) override;
  void runMacroArray(std::u16string_view name, const std::vector<const Value*>& arguments,
                     Value& out) override;
  int directPrecedents(Cell* cell, std::vector<RangeRef>& areas) override;
  void scanSheetHyperlinks(Engine& engine) override;
  void openLinkedWorkbooks(Engine& engine) override;
  void wireSheetControls(Engine& engine) override;
  void refreshQueryTables() override;
  bool usesDate1904() override;
  bool suspendCalculation() override;
  bool restoreCalculation() override;

 private:
  std::function<CalcHost*()> inner_;
  LambdaCalls lambdas_;
};

}  // namespace korvel

#endif  // KORVEL_HOSTS_HEADLESS_LAMBDA_CALLS_H_
