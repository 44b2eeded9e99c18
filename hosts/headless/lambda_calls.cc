#include "hosts/headless/lambda_calls.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "engine/evaluator.h"
#include "engine/value_convert.h"
#include "functions/native_registry.h"
#include "hosts/headless/functions/host_functions.h"
#include "model/cell.h"
#include "model/compiled_model.h"
#include "util/text.h"

namespace korvel {

// A LAMBDA with the names it saw where it was written, or a worksheet function by name.
struct LambdaCalls::Function {
  const CallNode* lambda = nullptr;
  Scope scope;
  std::u16string worksheetFunction;
};

// One name of a scope, in front of the names it hides.
struct LambdaCalls::Binding {
  std::u16string name;  // upper case, without the "_XLPM." prefix
  Argument argument;
  Scope outer;
};

namespace {

constexpr std::u16string_view kParameterPrefix = u"_XLPM.";
constexpr std::u16string_view kOptionalPrefix = u"_XLOP.";
constexpr std::u16string_view kFunctionValuePrefix = u"_XLETA.";
// Largest result MAKEARRAY builds, as large as the engine lets a broadcast grow.
constexpr uint64_t kMaxElements = uint64_t{1} << 21;
constexpr int kIfNumber = 1;

std::u16string_view withoutPrefix(std::u16string_view name, std::u16string_view prefix) {
  return startsWithNoCase(name, prefix) ? name.substr(prefix.size()) : std::u16string_view();
}

// The function name without the prefixes of newer functions ("_XLFN.", "_XLFN._XLWS.").
std::u16string_view baseName(std::u16string_view name) {
  for (std::u16string_view prefix : {u"_XLFN.", u"_XLWS."}) {
    if (startsWithNoCase(name, prefix)) name.remove_prefix(prefix.size());
  }
  return name;
}

const CallNode* asCall(const Node* node) {
  return node && node->tag() == kTagCall ? static_cast<const CallNode*>(node) : nullptr;
}

bool isLambda(const CallNode* call) {
  return call && equalsNoCase(baseName(call->name()), u"LAMBDA") && !call->children().empty();
}

// The parameter or variable a node names ("_XLPM.X" gives "X"), or empty.
std::u16string_view variableName(const Node* node, bool* optional = nullptr) {
  const CallNode* call = asCall(node);
  if (!call || !call->children().empty()) return {};
  std::u16string_view name = withoutPrefix(call->name(), kParameterPrefix);
  bool isOptional = false;
  if (name.empty()) {
    name = withoutPrefix(call->name(), kOptionalPrefix);
    isOptional = !name.empty();
  }
  if (optional) *optional = isOptional;
  return name;
}

// A function's result where a single value is wanted: a one-cell reference or a one-element
// array stands for its value; a larger one nests an array, which the program refuses.
void toSingle(Engine& engine, Value& v) {
  if (v.isReference() || v.isReferenceList()) {
    Value cells;
    referenceToArray(engine, v, cells);
    v = std::move(cells);
  }
  if (!v.isArray()) return;
  if (v.array().size() == 1) {
    Value only = v.array().elements()[0];
    v = std::move(only);
  } else {
    v.setError(kErrorValue);
  }
}

// The values of an argument as an array (a single value is one element).
ValueArray arrayOf(Engine& engine, const Value& v) {
  Value cells;
  referenceToArray(engine, v, cells);
  if (cells.isArray()) return cells.array();
  ValueArray one(1, 1);
  one.at(0, 0) = std::move(cells);
  return one;
}

// A reference to one cell becomes that cell's value; false for an array or a reference to
// several cells, which the engine computes element by element.
bool toSingleCell(Engine& engine, Value& v) {
  if (v.isArray() || v.isReferenceList()) return false;
  if (!v.isReference()) return true;
  const RangeRef area = v.reference();
  if (area.first.sheet() != area.last.sheet() || area.first.row() != area.last.row() ||
      area.first.column() != area.last.column()) {
    return false;
  }
  referenceToValue(engine, v, v);
  return true;
}

// Restores what it guards when the evaluation ends, also by an exception.
template <class T>
class Restore {
 public:
  explicit Restore(T& target) : target_(target), saved_(target) {}
  ~Restore() { target_ = std::move(saved_); }
  Restore(const Restore&) = delete;
  Restore& operator=(const Restore&) = delete;

 private:
  T& target_;
  T saved_;
};

}  // namespace

bool callFunctionNamed(Engine& engine, std::u16string_view name,
                       const std::vector<const Value*>& arguments, Value& out) {
  const std::u16string upper = toUpper(baseName(name));
  NativeRoutine routine = hostRoutine(upper);
  if (routine == nullptr) {
    const NativeFunction* native = NativeRegistry::instance().findNative(upper);
    if (native != nullptr) routine = native->routine();
  }
  if (routine == nullptr) return false;
  std::vector<const Value*> terminated(arguments);
  terminated.push_back(nullptr);
  CallContext context{currentCell(), &engine};
  routine(context, terminated.data(), out);
  return true;
}

const LambdaCalls::Binding* LambdaCalls::find(std::u16string_view variable) const {
  for (const Binding* b = scope_.get(); b; b = b->outer.get()) {
    if (equalsNoCase(b->name, variable)) return b;
  }
  return nullptr;
}

// The defined name of the current sheet, else of the workbook, whose expression is a LAMBDA.
const CallNode* LambdaCalls::namedLambda(Engine& engine, std::u16string_view name) const {
  const Cell* cell = currentCell();
  const int64_t sheet = cell && !cell->address.isNone() ? int64_t{cell->address.sheet()} : -2;
  const DefinedName* found = nullptr;
  for (const DefinedName& defined : engine.model().names) {
    if (!defined.root || !equalsNoCase(defined.name, name)) continue;
    if (defined.scope == sheet) {
      found = &defined;
      break;
    }
    if (defined.scope == -1 && found == nullptr) found = &defined;
  }
  const CallNode* lambda = found ? asCall(found->root.get()) : nullptr;
  return isLambda(lambda) ? lambda : nullptr;
}

std::shared_ptr<const LambdaCalls::Function> LambdaCalls::functionOf(const Node* node) const {
  if (node && node->tag() == kTagNameRef) {
    const CallNode* lambda = asCall(static_cast<const IndirectNode*>(node)->target());
    if (!isLambda(lambda)) return nullptr;
    return std::make_shared<Function>(Function{lambda, nullptr, {}});
  }
  const CallNode* call = asCall(node);
  if (!call) return nullptr;
  if (isLambda(call)) return std::make_shared<Function>(Function{call, scope_, {}});
  if (!call->children().empty()) return nullptr;
  std::u16string_view builtIn = withoutPrefix(call->name(), kFunctionValuePrefix);
  if (!builtIn.empty())
    return std::make_shared<Function>(Function{nullptr, nullptr, toUpper(builtIn)});
  std::u16string_view variable = variableName(call);
  if (variable.empty()) return nullptr;
  const Binding* bound = find(variable);
  return bound ? bound->argument.function : nullptr;
}

LambdaCalls::Argument LambdaCalls::argumentOf(Engine& engine, const Node* node) {
  Argument argument;
  if (!node || node->tag() == kTagMissing) {
    argument.omitted = true;
  } else if (auto function = functionOf(node)) {
    argument.function = std::move(function);
  } else {
    // References stay references, as functions such as ROWS or OFFSET need them whole.
    evaluateNode(engine, node, kModeReference, argument.value);
  }
  return argument;
}

bool LambdaCalls::compute(Engine& engine, const CallNode& node, int mode, Value& out) {
  const std::u16string& name = node.name();
  const ChildList& children = node.children();
  if (name == kAppliedCallName) {
    auto function = children.empty() ? nullptr : functionOf(children[0].get());
    if (!function) {
      out.setError(kErrorValue);
    } else {
      callWithNodes(engine, *function, children, 1, mode, out);
    }
    return true;
  }
  std::u16string_view variable = withoutPrefix(name, kParameterPrefix);
  if (variable.empty()) variable = withoutPrefix(name, kOptionalPrefix);
  if (!variable.empty()) {
    const Binding* bound = find(variable);
    if (!bound) {
      out.setError(kErrorName);
    } else if (!children.empty()) {
      // A variable that holds a function, called: f(2).
      if (auto function = bound->argument.function) {
        callWithNodes(engine, *function, children, 0, mode, out);
      } else {
        out.setError(kErrorValue);
      }
    } else if (bound->argument.function) {
      out.setError(kErrorValue);  // a function left uncalled
    } else if (bound->argument.omitted) {
      out.clear();
    } else {
      out = bound->argument.value;
    }
    return true;
  }
  std::u16string_view builtIn = withoutPrefix(name, kFunctionValuePrefix);
  if (!builtIn.empty()) {
    if (children.empty()) {
      out.setError(kErrorValue);  // a function left uncalled
    } else {
      callWithNodes(engine, Function{nullptr, nullptr, toUpper(builtIn)}, children, 0, mode, out);
    }
    return true;
  }
  std::u16string_view base = baseName(name);
  if (equalsNoCase(base, u"LET")) return let(engine, node, mode, out);
  if (equalsNoCase(base, u"LAMBDA")) {
    out.setError(kErrorValue);  // a function left uncalled
    return true;
  }
  if (helper(engine, base, node, out)) return true;
  if (active() && lazyBranch(engine, node, mode, out)) return true;
  if ((node.callFlags() & CallNode::kCallFlag) == 0 && base.size() == name.size()) {
    if (const CallNode* lambda = namedLambda(engine, name)) {
      callWithNodes(engine, Function{lambda, nullptr, {}}, children, 0, mode, out);
      return true;
    }
  }
  return false;
}

bool LambdaCalls::let(Engine& engine, const CallNode& node, int mode, Value& out) {
  const ChildList& children = node.children();
  if (children.size() < 3 || children.size() % 2 == 0) {
    out.setError(kErrorValue);
    return true;
  }
  Restore<Scope> keepScope(scope_);
  ++depth_;
  struct Leave {
    int& depth;
    ~Leave() { --depth; }
  } leave{depth_};
  for (size_t i = 0; i + 1 < children.size(); i += 2) {
    std::u16string_view variable = variableName(children[i].get());
    if (variable.empty()) {
      out.setError(kErrorValue);
      return true;
    }
    Argument value = argumentOf(engine, children[i + 1].get());
    scope_ = std::make_shared<const Binding>(Binding{toUpper(variable), std::move(value), scope_});
  }
  evaluateNode(engine, children.back().get(), mode, out);
  return true;
}

void LambdaCalls::callWithNodes(Engine& engine, const Function& function, const ChildList& children,
                                size_t first, int mode, Value& out) {
  std::vector<Argument> arguments;
  for (size_t i = first; i < children.size(); ++i) {
    arguments.push_back(argumentOf(engine, children[i].get()));
  }
  callFunction(engine, function, std::move(arguments), mode, out);
}

void LambdaCalls::callFunction(Engine& engine, const Function& function,
                               std::vector<Argument> arguments, int mode, Value& out) {
  if (!function.lambda) {
    std::vector<const Value*> values;
    for (const Argument& a : arguments) {
      if (a.function) {
        out.setError(kErrorValue);
        return;
      }
      values.push_back(&a.value);
    }
    if (!callFunctionNamed(engine, function.worksheetFunction, values, out)) {
      out.setError(kErrorName);
    }
    return;
  }
  const ChildList& parts = function.lambda->children();
  const size_t parameters = parts.size() - 1;
  if (arguments.size() > parameters) {
    out.setError(kErrorValue);
    return;
  }
  Scope scope = function.scope;
  for (size_t i = 0; i < parameters; ++i) {
    bool optional = false;
    std::u16string_view parameter = variableName(parts[i].get(), &optional);
    if (parameter.empty() || (i >= arguments.size() && !optional)) {
      out.setError(kErrorValue);
      return;
    }
    Argument argument;
    if (i < arguments.size()) {
      argument = std::move(arguments[i]);
    } else {
      argument.omitted = true;
    }
    scope =
        std::make_shared<const Binding>(Binding{toUpper(parameter), std::move(argument), scope});
  }
  if (callDepth_ >= kMaxLambdaDepth) {
    out.setError(kErrorNum);
    return;
  }
  Restore<Scope> keepScope(scope_);
  scope_ = std::move(scope);
  ++depth_;
  ++callDepth_;
  struct Leave {
    int& depth;
    int& calls;
    ~Leave() {
      --depth;
      --calls;
    }
  } leave{depth_, callDepth_};
  evaluateNode(engine, parts.back().get(), mode, out);
}

// MAP, REDUCE, SCAN, BYROW, BYCOL, MAKEARRAY and ISOMITTED.
bool LambdaCalls::helper(Engine& engine, std::u16string_view name, const CallNode& node,
                         Value& out) {
  const ChildList& children = node.children();
  auto functionAt = [&](size_t i) {
    return i < children.size() ? functionOf(children[i].get()) : nullptr;
  };
  auto valueArgument = [](Value v) {
    Argument a;
    a.value = std::move(v);
    return a;
  };
  if (equalsNoCase(name, u"ISOMITTED")) {
    const Binding* bound = children.size() == 1 ? find(variableName(children[0].get())) : nullptr;
    if (children.size() != 1) {
      out.setError(kErrorValue);
    } else {
      out.setBoolean(bound && bound->argument.omitted);
    }
    return true;
  }
  if (equalsNoCase(name, u"MAP")) {
    auto function = functionAt(children.size() - 1);
    if (children.size() < 2 || !function) {
      out.setError(kErrorValue);
      return true;
    }
    std::vector<ValueArray> arrays;
    uint32_t columns = 1, rows = 1;
    for (size_t i = 0; i + 1 < children.size(); ++i) {
      Value v;
      evaluateNode(engine, children[i].get(), kModeValueOrArray, v);
      arrays.push_back(arrayOf(engine, v));
      columns = std::max(columns, arrays.back().columns());
      rows = std::max(rows, arrays.back().rows());
    }
    ValueArray result(columns, rows);
    for (uint32_t r = 0; r < rows; ++r) {
      for (uint32_t c = 0; c < columns; ++c) {
        std::vector<Argument> arguments;
        for (const ValueArray& a : arrays) {
          arguments.push_back(
              valueArgument(c < a.columns() && r < a.rows() ? a.at(c, r) : Value::error(kErrorNA)));
        }
        Value& element = result.at(c, r);
        callFunction(engine, *function, std::move(arguments), kModeValueOrArray, element);
        toSingle(engine, element);
      }
    }
    out.setArray(std::move(result));
    return true;
  }
  const bool reduce = equalsNoCase(name, u"REDUCE");
  if (reduce || equalsNoCase(name, u"SCAN")) {
    auto function = functionAt(2);
    if (children.size() != 3 || !function) {
      out.setError(kErrorValue);
      return true;
    }
    Argument accumulator = argumentOf(engine, children[0].get());
    if (accumulator.function) {
      out.setError(kErrorValue);
      return true;
    }
    if (accumulator.omitted) accumulator = valueArgument(Value());
    Value v;
    evaluateNode(engine, children[1].get(), kModeValueOrArray, v);
    ValueArray values = arrayOf(engine, v);
    ValueArray steps(values.columns(), values.rows());
    for (uint32_t r = 0; r < values.rows(); ++r) {
      for (uint32_t c = 0; c < values.columns(); ++c) {
        std::vector<Argument> arguments;
        arguments.push_back(std::move(accumulator));
        arguments.push_back(valueArgument(values.at(c, r)));
        Value next;
        callFunction(engine, *function, std::move(arguments), kModeValueOrArray, next);
        if (!reduce) {
          steps.at(c, r) = next;
          toSingle(engine, steps.at(c, r));
        }
        accumulator = valueArgument(std::move(next));
      }
    }
    if (reduce) {
      out = std::move(accumulator.value);
    } else {
      out.setArray(std::move(steps));
    }
    return true;
  }
  const bool byRow = equalsNoCase(name, u"BYROW");
  if (byRow || equalsNoCase(name, u"BYCOL")) {
    auto function = functionAt(1);
    if (children.size() != 2 || !function) {
      out.setError(kErrorValue);
      return true;
    }
    Value whole;
    evaluateNode(engine, children[0].get(), kModeReference, whole);
    if (whole.isError()) {
      out = whole;
      return true;
    }
    // A range gives its rows (columns) as ranges, so that functions taking references see them.
    const bool range = whole.isReference();
    RangeRef area;
    ValueArray values;
    uint32_t columns = 0, rows = 0;
    if (range) {
      const RangeRef given = whole.reference();
      if (given.first.sheet() != given.last.sheet()) {
        out.setError(kErrorValue);
        return true;
      }
      const uint32_t sheet = given.first.sheet();
      area.first = CellRef::at(sheet, std::min(given.first.row(), given.last.row()),
                               std::min(given.first.column(), given.last.column()));
      area.last = CellRef::at(sheet, std::max(given.first.row(), given.last.row()),
                              std::max(given.first.column(), given.last.column()));
      columns = area.last.column() - area.first.column() + 1;
      rows = area.last.row() - area.first.row() + 1;
    } else {
      values = arrayOf(engine, whole);
      columns = values.columns();
      rows = values.rows();
    }
    const uint32_t count = byRow ? rows : columns;
    ValueArray result(byRow ? 1 : count, byRow ? count : 1);
    for (uint32_t i = 0; i < count; ++i) {
      Value part;
      if (range) {
        const uint32_t sheet = area.first.sheet();
        CellRef from = byRow ? CellRef::at(sheet, area.first.row() + i, area.first.column())
                             : CellRef::at(sheet, area.first.row(), area.first.column() + i);
        CellRef to = byRow ? CellRef::at(sheet, area.first.row() + i, area.last.column())
                           : CellRef::at(sheet, area.last.row(), area.first.column() + i);
        part.setReference(from, to);
      } else {
        ValueArray slice(byRow ? columns : 1, byRow ? 1 : rows);
        for (uint32_t j = 0; j < (byRow ? columns : rows); ++j) {
          (byRow ? slice.at(j, 0) : slice.at(0, j)) = byRow ? values.at(j, i) : values.at(i, j);
        }
        part.setArray(std::move(slice));
      }
      std::vector<Argument> arguments;
      arguments.push_back(valueArgument(std::move(part)));
      Value& element = byRow ? result.at(0, i) : result.at(i, 0);
      callFunction(engine, *function, std::move(arguments), kModeValueOrArray, element);
      toSingle(engine, element);
    }
    out.setArray(std::move(result));
    return true;
  }
  if (equalsNoCase(name, u"MAKEARRAY")) {
    auto function = functionAt(2);
    if (children.size() != 3 || !function) {
      out.setError(kErrorValue);
      return true;
    }
    double size[2] = {0, 0};
    for (int i = 0; i < 2; ++i) {
      Value v;
      evaluateNode(engine, children[size_t(i)].get(), kModeValue, v);
      if (v.isError()) {
        out = v;
        return true;
      }
      if (!toNumber(v, &size[i]) || std::trunc(size[i]) < 1) {
        out.setError(kErrorValue);
        return true;
      }
      size[i] = std::trunc(size[i]);
    }
    if (size[0] * size[1] > double(kMaxElements)) {
      out.setError(kErrorValue);
      return true;
    }
    const uint32_t rows = uint32_t(size[0]), columns = uint32_t(size[1]);
    ValueArray result(columns, rows);
    for (uint32_t r = 0; r < rows; ++r) {
      for (uint32_t c = 0; c < columns; ++c) {
        std::vector<Argument> arguments;
        arguments.push_back(valueArgument(Value::integer(int32_t(r + 1))));
        arguments.push_back(valueArgument(Value::integer(int32_t(c + 1))));
        Value& element = result.at(c, r);
        callFunction(engine, *function, std::move(arguments), kModeValueOrArray, element);
        toSingle(engine, element);
      }
    }
    out.setArray(std::move(result));
    return true;
  }
  return false;
}

// IF and IFERROR with one condition evaluate only the branch they take, as the program does: a
// LAMBDA that calls itself ends through such a branch. A condition that is an array, or one IF
// would not read as a number or a boolean, leaves the call to the engine.
bool LambdaCalls::lazyBranch(Engine& engine, const CallNode& node, int mode, Value& out) {
  const ChildList& children = node.children();
  std::u16string_view base = baseName(node.name());
  if (node.functionNumber() == kIfNumber || equalsNoCase(base, u"IF")) {
    if (children.size() < 2 || children.size() > 3) return false;
    Value condition;
    evaluateNode(engine, children[0].get(),
                 mode >= kModeValueOrArray ? kModeValueOrArray : kModeValue, condition);
    if (!toSingleCell(engine, condition)) return false;
    if (condition.isError()) {
      out = condition;
      return true;
    }
    if (!condition.isNumeric() && !condition.isBoolean() && !condition.isEmpty()) return false;
    const size_t taken = toBoolean(condition) ? 1 : 2;
    if (taken >= children.size()) {
      out.setBoolean(false);
      return true;
    }
    if (children[taken]->tag() == kTagMissing) {
      out.setInteger(0);
      return true;
    }
    evaluateNode(engine, children[taken].get(), mode, out);
    return true;
  }
  if (equalsNoCase(base, u"IFERROR")) {
    if (children.size() != 2) return false;
    Value first;
    evaluateNode(engine, children[0].get(), mode, first);
    Value single = first;
    if (!toSingleCell(engine, single)) return false;
    if (single.isError()) {
      evaluateNode(engine, children[1].get(), mode, out);
    } else {
      out = std::move(first);
    }
    return true;
  }
  return false;
}

bool LambdaCalcHost::computeCall(Engine& engine, const CallNode& node, int mode, Value& out) {
  return inner_() != nullptr && lambdas_.compute(engine, node, mode, out);
}

void LambdaCalcHost::publishCell(Cell* cell) {
  if (CalcHost* host = inner_()) host->publishCell(cell);
}

bool LambdaCalcHost::calculateAndRead(CellRef address, Value& out) {
  CalcHost* host = inner_();
  return host && host->calculateAndRead(address, out);
}

int LambdaCalcHost::evaluate(std::u16string_view text, bool english, Value& out) {
  if (CalcHost* host = inner_()) return host->evaluate(text, english, out);
  out.setError(kErrorName);
  return 1;
}

bool LambdaCalcHost::callWorksheetFunction(int number, const std::vector<const Value*>& arguments,
                                           int count, Value& out) {
  if (CalcHost* host = inner_()) return host->callWorksheetFunction(number, arguments, count, out);
  out.setError(kErrorName);
  return true;
}

void LambdaCalcHost::runMacro(std::u16string_view name, const std::vector<const Value*>& arguments,
                              Value& out) {
  if (CalcHost* host = inner_()) return host->runMacro(name, arguments, out);
  out.setError(kErrorName);
}

void LambdaCalcHost::runMacroArray(std::u16string_view name,
                                   const std::vector<const Value*>& arguments, Value& out) {
  if (CalcHost* host = inner_()) return host->runMacroArray(name, arguments, out);
  out.setError(kErrorName);
}

int LambdaCalcHost::directPrecedents(Cell* cell, std::vector<RangeRef>& areas) {
  if (CalcHost* host = inner_()) return host->directPrecedents(cell, areas);
  areas.clear();
  return 0;
}

void LambdaCalcHost::scanSheetHyperlinks(Engine& engine) {
  if (CalcHost* host = inner_()) host->scanSheetHyperlinks(engine);
}

void LambdaCalcHost::openLinkedWorkbooks(Engine& engine) {
  if (CalcHost* host = inner_()) host->openLinkedWorkbooks(engine);
}

void LambdaCalcHost::wireSheetControls(Engine& engine) {
  if (CalcHost* host = inner_()) host->wireSheetControls(engine);
}

void LambdaCalcHost::refreshQueryTables() {
  if (CalcHost* host = inner_()) host->refreshQueryTables();
}

bool LambdaCalcHost::usesDate1904() {
  CalcHost* host = inner_();
  return host && host->usesDate1904();
}

bool LambdaCalcHost::suspendCalculation() {
  CalcHost* host = inner_();
  return !host || host->suspendCalculation();
}

bool LambdaCalcHost::restoreCalculation() {
  CalcHost* host = inner_();
  return !host || host->restoreCalculation();
}

}  // namespace korvel
