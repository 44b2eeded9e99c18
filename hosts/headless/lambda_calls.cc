#include "hosts/headless/lambda_calls.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "engine/evaluator.h"
#include "engine/value_convert.h"
#include "functions/native_registry.h"
#include "hosts/headless/functions/host_functions.h"
#include "model/address.h"
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

// The range operator: the smallest area holding both ends, which must lie on one sheet.
static void computeRange(Engine& engine, const ChildList& ends, Value& out) {
  if (ends.size() != 2) {
    out.setError(kErrorValue);
    return;
  }
  RangeRef areas[2];
  for (size_t i = 0; i < 2; ++i) {
    Value end;
    evaluateNode(engine, ends[i].get(), kModeReference, end);
    if (end.isError()) {
      out = std::move(end);
      return;
    }
    // An array, a value or a union of areas has no corners to join.
    if (!end.isReference()) {
      out.setError(kErrorValue);
      return;
    }
    areas[i] = normalizeRange(end.reference());
  }
  const uint32_t sheet = areas[0].first.sheet();
  if (areas[0].last.sheet() != sheet || areas[1].first.sheet() != sheet ||
      areas[1].last.sheet() != sheet) {
    out.setError(kErrorValue);
    return;
  }
  out.setReference(CellRef::at(sheet, std::min(areas[0].first.row(), areas[1].first.row()),
                               std::min(areas[0].first.column(), areas[1].first.column())),
                   CellRef::at(sheet, std::max(areas[0].last.row(), areas[1].last.row()),
                               std::max(areas[0].last.column(), areas[1].last.column())));
}

bool LambdaCalls::compute(Engine& engine, const CallNode& node, int mode, Value& out) {
  const std::u16string& name = node.name();
  const ChildList& children = node.children();
  if (name == kRangeCallName) {
    computeRange(engine, children, out);
    return true;
  }
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
  if (equalsNoCase(name, u"GROUPBY")) return groupBy(engine, node, out);
  if (equalsNoCase(name, u"PIVOTBY")) return pivotBy(engine, node, out);
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
namespace {

// Rows with the same fields (texts compared without case) form a group, each group in the order
// of its first row.
std::vector<std::vector<uint32_t>> groupRows(const ValueArray& fields,
                                             const std::vector<uint32_t>& rows) {
  auto sameFields = [&](uint32_t a, uint32_t b) {
    for (uint32_t c = 0; c < fields.columns(); ++c) {
      if (sortOrder(fields.at(c, a), fields.at(c, b)) != 0) return false;
    }
    return true;
  };
  std::vector<std::vector<uint32_t>> groups;
  for (uint32_t r : rows) {
    auto group = std::find_if(groups.begin(), groups.end(),
                              [&](const std::vector<uint32_t>& g) { return sameFields(g[0], r); });
    if (group == groups.end()) {
      groups.push_back({r});
    } else {
      group->push_back(r);
    }
  }
  return groups;
}

// The order of the groups: by the sort key (negative: largest first), then by the fields from the
// left.
std::vector<size_t> groupOrder(size_t count, const std::function<const Value&(size_t)>& key,
                               const ValueArray& fields,
                               const std::vector<std::vector<uint32_t>>& groups, int direction) {
  std::vector<size_t> order(count);
  for (size_t g = 0; g < count; ++g) order[g] = g;
  std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
    int o = sortOrder(key(a), key(b)) * direction;
    for (uint32_t c = 0; o == 0 && c < fields.columns(); ++c) {
      o = sortOrder(fields.at(c, groups[a][0]), fields.at(c, groups[b][0]));
    }
    return o < 0;
  });
  return order;
}

}  // namespace

// What GROUPBY and PIVOTBY share: the function, the fields and values read, the rows kept, and the
// function of a column of values over some of those rows.
struct LambdaCalls::Grouping {
  std::shared_ptr<const Function> function;
  ValueArray values;
  std::vector<uint32_t> kept;
  int headers = 0;  // 0 none, 1 present but not shown, 3 shown

  void aggregate(LambdaCalls& calls, Engine& engine, const std::vector<uint32_t>& members,
                 uint32_t column, Value& result) const {
    if (members.empty()) {
      result.clear();
      return;
    }
    ValueArray part(1, uint32_t(members.size()));
    for (size_t i = 0; i < members.size(); ++i) {
      part.at(0, uint32_t(i)) = values.at(column, members[i]);
    }
    std::vector<Argument> arguments(1);
    arguments[0].value.setArray(std::move(part));
    calls.callFunction(engine, *function, std::move(arguments), kModeValueOrArray, result);
    toSingle(engine, result);
  }
};

// Reads the options of GROUPBY (PIVOTBY): the function at functionAt, the headers after it and
// the filter at filterAt. Returns 1 when read into grouping, 0 when the form is not computed, -1
// with out set to the error the call gives.
int LambdaCalls::readGrouping(Engine& engine, const ChildList& children, size_t fieldsCount,
                              size_t functionAt, size_t filterAt, std::vector<ValueArray>& fields,
                              Grouping& grouping, Value& out) {
  grouping.function = functionOf(children[functionAt].get());
  if (!grouping.function) return 0;
  std::vector<Value> read(fieldsCount + 1);
  for (size_t i = 0; i <= fieldsCount; ++i) {
    evaluateNode(engine, children[i].get(), kModeValueOrArray, read[i]);
    if (read[i].isError()) {
      out = read[i];
      return -1;
    }
  }
  for (size_t i = 0; i < fieldsCount; ++i) fields.push_back(arrayOf(engine, read[i]));
  grouping.values = arrayOf(engine, read[fieldsCount]);
  const ValueArray& values = grouping.values;
  const uint32_t rows = values.rows();
  double headers = -1;
  if (!readOption(engine, children, functionAt + 1, -1, &headers) || headers < -1 || headers > 3) {
    out.setError(kErrorValue);
    return -1;
  }
  for (const ValueArray& f : fields) {
    if (f.rows() != rows) {
      out.setError(kErrorValue);
      return -1;
    }
  }
  if (headers == 2) return 0;
  if (headers < 0) {
    bool textHeads = rows >= 2;
    bool numberBelow = false;
    for (uint32_t c = 0; c < values.columns() && textHeads; ++c) {
      textHeads = values.at(c, 0).isText();
      numberBelow = numberBelow || values.at(c, 1).isNumeric();
    }
    headers = textHeads && numberBelow ? 1 : 0;
  }
  grouping.headers = int(headers);
  ValueArray filter;
  const bool filtered = filterAt < children.size() && children[filterAt]->tag() != kTagMissing;
  if (filtered) {
    Value v;
    evaluateNode(engine, children[filterAt].get(), kModeValueOrArray, v);
    filter = arrayOf(engine, v);
    if (filter.columns() != 1 || filter.rows() != rows) {
      out.setError(kErrorValue);
      return -1;
    }
  }
  for (uint32_t r = headers > 0 ? 1 : 0; r < rows; ++r) {
    if (filtered) {
      const Value& f = filter.at(0, r);
      if (f.isError()) {
        out = f;
        return -1;
      }
      if (!toBoolean(f)) continue;
    }
    grouping.kept.push_back(r);
  }
  return 1;
}

// An optional whole-number argument (TRUE is 1); false when it is given but is no number.
bool LambdaCalls::readOption(Engine& engine, const ChildList& children, size_t i, double fallback,
                             double* result) {
  *result = fallback;
  if (i >= children.size() || children[i]->tag() == kTagMissing) return true;
  Value v;
  evaluateNode(engine, children[i].get(), kModeValue, v);
  if (v.isBoolean()) {
    *result = v.boolean() ? 1 : 0;
    return true;
  }
  if (!v.isNumeric()) return false;
  *result = std::trunc(v.number());
  return true;
}

// GROUPBY(row_fields, values, function, [field_headers], [total_depth], [sort_order],
// [filter_array], [field_relationship]): one row per distinct set of row fields, the function of
// each value column over the group's rows beside it, and a grand total row. Headers are found as
// the program finds them when field_headers is left out: a text heading values whose second row
// holds a number. Forms this does not compute (generated headers, subtotals of several fields,
// several sort keys, several functions) are left uncomputed rather than answered otherwise.
bool LambdaCalls::groupBy(Engine& engine, const CallNode& node, Value& out) {
  const ChildList& children = node.children();
  if (children.size() < 3 || children.size() > 8) {
    out.setError(kErrorValue);
    return true;
  }
  std::vector<ValueArray> read;
  Grouping grouping;
  const int state = readGrouping(engine, children, 1, 2, 6, read, grouping, out);
  if (state <= 0) return state < 0;
  const ValueArray& fields = read[0];
  const ValueArray& values = grouping.values;
  const uint32_t keys = fields.columns(), columns = values.columns();
  double depth = 1, sort = 1, relationship = 0;
  if (!readOption(engine, children, 4, 1, &depth) || !readOption(engine, children, 5, 1, &sort) ||
      !readOption(engine, children, 7, 0, &relationship) || relationship < 0 || relationship > 1 ||
      std::fabs(depth) > 2) {
    out.setError(kErrorValue);
    return true;
  }
  if ((std::fabs(depth) == 2 && keys > 1) || sort == 0 || std::fabs(sort) > keys + columns) {
    return false;
  }
  const auto groups = groupRows(fields, grouping.kept);
  std::vector<std::vector<Value>> results(groups.size(), std::vector<Value>(columns));
  for (size_t g = 0; g < groups.size(); ++g) {
    for (uint32_t c = 0; c < columns; ++c) {
      grouping.aggregate(*this, engine, groups[g], c, results[g][c]);
    }
  }
  const uint32_t key = uint32_t(std::fabs(sort)) - 1;
  const auto order = groupOrder(
      groups.size(),
      [&](size_t g) -> const Value& {
        return key < keys ? fields.at(key, groups[g][0]) : results[g][key - keys];
      },
      fields, groups, sort < 0 ? -1 : 1);
  const uint32_t headerRows = grouping.headers == 3 ? 1 : 0, totalRows = depth != 0 ? 1 : 0;
  const uint64_t height = uint64_t{headerRows} + groups.size() + totalRows;
  if (height == 0 || height * (keys + columns) > kMaxElements) {
    out.setError(height == 0 ? kErrorValue : kErrorNum);
    return true;
  }
  ValueArray result(keys + columns, uint32_t(height));
  uint32_t row = 0;
  if (headerRows) {
    for (uint32_t c = 0; c < keys; ++c) result.at(c, 0) = fields.at(c, 0);
    for (uint32_t c = 0; c < columns; ++c) result.at(keys + c, 0) = values.at(c, 0);
    row = 1;
  }
  auto totalRow = [&](uint32_t at) {
    result.at(0, at) = Value::text(u"Total");
    for (uint32_t c = 0; c < columns; ++c) {
      grouping.aggregate(*this, engine, grouping.kept, c, result.at(keys + c, at));
    }
  };
  if (depth < 0) totalRow(row++);
  for (size_t g : order) {
    for (uint32_t c = 0; c < keys; ++c) result.at(c, row) = fields.at(c, groups[g][0]);
    for (uint32_t c = 0; c < columns; ++c) result.at(keys + c, row) = std::move(results[g][c]);
    ++row;
  }
  if (depth > 0) totalRow(row);
  out.setArray(std::move(result));
  return true;
}

// PIVOTBY(row_fields, col_fields, values, function, [field_headers], [row_total_depth],
// [row_sort_order], [col_total_depth], [col_sort_order], [filter_array], [relative_to]): the
// groups of the row field down, those of the column field across, the function of the values
// where both meet (empty where no row has both) and totals after each (-1: before, 0: none).
// Computed for one row field, one column field and one column of values, sorted by the fields;
// other forms are left uncomputed.
bool LambdaCalls::pivotBy(Engine& engine, const CallNode& node, Value& out) {
  const ChildList& children = node.children();
  if (children.size() < 4 || children.size() > 11) {
    out.setError(kErrorValue);
    return true;
  }
  if (children.size() > 10 && children[10]->tag() != kTagMissing) return false;
  std::vector<ValueArray> read;
  Grouping grouping;
  const int state = readGrouping(engine, children, 2, 3, 9, read, grouping, out);
  if (state <= 0) return state < 0;
  const ValueArray& rowFields = read[0];
  const ValueArray& columnFields = read[1];
  double rowDepth = 1, rowSort = 1, columnDepth = 1, columnSort = 1;
  if (!readOption(engine, children, 5, 1, &rowDepth) ||
      !readOption(engine, children, 6, 1, &rowSort) ||
      !readOption(engine, children, 7, 1, &columnDepth) ||
      !readOption(engine, children, 8, 1, &columnSort) || std::fabs(rowDepth) > 2 ||
      std::fabs(columnDepth) > 2) {
    out.setError(kErrorValue);
    return true;
  }
  if (rowFields.columns() != 1 || columnFields.columns() != 1 || grouping.values.columns() != 1 ||
      grouping.headers == 3 || std::fabs(rowSort) != 1 || std::fabs(columnSort) != 1) {
    return false;
  }
  const auto rowGroups = groupRows(rowFields, grouping.kept);
  const auto columnGroups = groupRows(columnFields, grouping.kept);
  const auto rowOrder = groupOrder(
      rowGroups.size(), [&](size_t g) -> const Value& { return rowFields.at(0, rowGroups[g][0]); },
      rowFields, rowGroups, rowSort < 0 ? -1 : 1);
  const auto columnOrder = groupOrder(
      columnGroups.size(),
      [&](size_t g) -> const Value& { return columnFields.at(0, columnGroups[g][0]); },
      columnFields, columnGroups, columnSort < 0 ? -1 : 1);
  const uint64_t height = 1 + rowGroups.size() + (rowDepth != 0 ? 1 : 0);
  const uint64_t width = 1 + columnGroups.size() + (columnDepth != 0 ? 1 : 0);
  if (height * width > kMaxElements) {
    out.setError(kErrorNum);
    return true;
  }
  // Lines of the result in order: a group's index, or -1 for the total.
  auto lines = [](const std::vector<size_t>& order, double depth) {
    std::vector<int64_t> line;
    if (depth < 0) line.push_back(-1);
    for (size_t g : order) line.push_back(int64_t(g));
    if (depth > 0) line.push_back(-1);
    return line;
  };
  const std::vector<int64_t> rowLines = lines(rowOrder, rowDepth);
  const std::vector<int64_t> columnLines = lines(columnOrder, columnDepth);
  ValueArray result(static_cast<uint32_t>(width), static_cast<uint32_t>(height));
  for (size_t c = 0; c < columnLines.size(); ++c) {
    result.at(uint32_t(c + 1), 0) =
        columnLines[c] < 0 ? Value::text(u"Total")
                           : columnFields.at(0, columnGroups[size_t(columnLines[c])][0]);
  }
  for (size_t r = 0; r < rowLines.size(); ++r) {
    const uint32_t at = uint32_t(r + 1);
    const std::vector<uint32_t>* rowsOf =
        rowLines[r] < 0 ? &grouping.kept : &rowGroups[size_t(rowLines[r])];
    result.at(0, at) = rowLines[r] < 0 ? Value::text(u"Total") : rowFields.at(0, rowsOf->front());
    for (size_t c = 0; c < columnLines.size(); ++c) {
      std::vector<uint32_t> members;
      for (uint32_t row : *rowsOf) {
        if (columnLines[c] < 0 ||
            sortOrder(columnFields.at(0, row),
                      columnFields.at(0, columnGroups[size_t(columnLines[c])][0])) == 0) {
          members.push_back(row);
        }
      }
      grouping.aggregate(*this, engine, members, 0, result.at(uint32_t(c + 1), at));
    }
  }
  out.setArray(std::move(result));
  return true;
}

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
