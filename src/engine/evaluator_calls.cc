// Function calls: arguments evaluated as the catalogue's argument classes ask, the choice between
// one call and a call per element, and the three ways a call runs: the native routine, the host
// program's function by number or as formula text, and the workbook's user-defined functions.
#include <cmath>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "engine/evaluator.h"
#include "engine/evaluator_internal.h"
#include "engine/locale_settings.h"
#include "engine/native_function.h"
#include "engine/value_convert.h"
#include "model/compiled_model.h"
#include "model/nodes/node_text.h"

namespace korvel::evaluation {

namespace {

// Functions whose formula text for the host program carries every argument as written: they
// compute references, or their result depends on the moment or the place of the call.
constexpr std::u16string_view kVolatileNames[] = {u"INDIRECT", u"OFFSET",      u"NOW",  u"TODAY",
                                                  u"RAND",     u"RANDBETWEEN", u"CELL", u"INFO"};
// Prefixes of host functions newer than the catalogue, which compiled formulas keep as written.
constexpr std::u16string_view kFuturePrefixes[] = {u"_XLFN.", u"_XLWS."};

bool startsWith(std::u16string_view text, std::u16string_view prefix) {
  return text.size() >= prefix.size() && text.substr(0, prefix.size()) == prefix;
}

std::u16string_view baseName(std::u16string_view name) {
  for (std::u16string_view prefix : kFuturePrefixes) {
    if (startsWith(name, prefix)) return name.substr(prefix.size());
  }
  return name;
}

bool isVolatileName(std::u16string_view name) {
  name = baseName(name);
  for (std::u16string_view v : kVolatileNames) {
    if (v == name) return true;
  }
  return false;
}

bool hasFuturePrefix(std::u16string_view name) { return baseName(name).size() != name.size(); }

// What the catalogue says of one call node.
struct CallShape {
  const FunctionResolver* resolver = nullptr;
  int number = -1;
  int maximumArguments = -1;  // -1: no descriptor
  bool described() const { return maximumArguments >= 0; }
  int argumentClass(size_t position) const {
    return described() ? resolver->argumentClass(number, static_cast<int>(position)) : -1;
  }
  // Value-class positions take single values and are broadcast over arrays.
  bool broadcasts(size_t position) const {
    int c = argumentClass(position);
    return c == 0 || c == 1;
  }
  // Positions that take one value and are never broadcast.
  bool singleOnly(size_t position) const { return argumentClass(position) == 5; }
};

int argumentMode(const CallShape& shape, size_t position, int callMode) {
  switch (shape.argumentClass(position)) {
    case -1:  // no descriptor: the host program or the macro sees references as ranges
    case 2:
    case 4:
      return kModeReference;
    case 3:
      return kModeValueOrArray;
    default:
      return callMode >= kModeValueOrArray ? kModeValueOrArray : kModeValue;
  }
}

bool isAreaReference(const Value& v) { return v.isReference() && !isSingleCellReference(v); }

// The arguments of one call, followed by a null entry past size(): native routines take the
// terminated array.
using Arguments = std::span<const Value* const>;

// The formula text the host program evaluates for a call it computes by name.
std::u16string callText(Engine& engine, const CallNode& node, const CallShape& shape,
                        Arguments arguments) {
  const CompiledModel* model = &engine.model();
  const std::u16string* localName =
      shape.resolver && shape.number >= 0 ? shape.resolver->functionName(shape.number) : nullptr;
  const bool asWritten = isVolatileName(node.name());
  std::u16string text = u"=";
  text += localName ? *localName : node.name();
  text += u"(";
  const ChildList& children = node.children();
  for (size_t i = 0; i < arguments.size(); ++i) {
    if (i > 0) text += userLocale().listSeparator;
    const Value& v = *arguments[i];
    if (i < children.size() && (asWritten || v.isReference() || v.isReferenceList())) {
      text += children[i]->formulaText(model);
    } else {
      text += formulaLiteral(v);
    }
  }
  text += u")";
  return text;
}

void callRoutineOrHost(Engine& engine, const CallNode& node, const CallShape& shape,
                       Arguments arguments, Value& result);

// One call with the final arguments. A routine or a host answer that is not a finite number gives
// #NUM!, so that no infinity or NaN reaches a cell.
void callOnce(Engine& engine, const CallNode& node, const CallShape& shape, Arguments arguments,
              Value& result) {
  callRoutineOrHost(engine, node, shape, arguments, result);
  if (result.kind() == ValueKind::kNumber && !std::isfinite(result.number())) {
    result.setError(kErrorNum);
  }
}

void callRoutineOrHost(Engine& engine, const CallNode& node, const CallShape& shape,
                       Arguments terminated, Value& result) {
  const NativeFunction* native = node.native();
  if (native && native->isNative()) {
    CallContext context{currentCell(), &engine};
    native->call(context, terminated.data(), result);
    return;
  }

  result.setText(node.name());
  CalcHost* host = engine.host();
  if (!host) {
    // No host program to ask: the name is unknown here.
    result.setError(kErrorName);
    return;
  }
  // The host program's interface takes a vector; its calls cost far more than making one.
  const std::vector<const Value*> arguments(terminated.begin(), terminated.end());
  engine.computedWithoutExcel = false;
  const bool builtIn = (node.callFlags() & CallNode::kCallFlag) != 0;
  if (builtIn && shape.described() && shape.number >= 0 && shape.number < 712) {
    if (!host->callWorksheetFunction(shape.number, arguments, shape.maximumArguments, result)) {
      result.setError(kErrorValue);
    }
    return;
  }
  if (builtIn || hasFuturePrefix(node.name())) {
    if (host->evaluate(callText(engine, node, shape, arguments), false, result) < 0) {
      result.setError(kErrorValue);
    }
    return;
  }
  bool wholeArguments = false;
  for (const Value* v : arguments) {
    if (v->isArray() || v->isReference() || v->isReferenceList()) wholeArguments = true;
  }
  if (wholeArguments) {
    host->runMacroArray(node.name(), arguments, result);
  } else {
    host->runMacro(node.name(), arguments, result);
  }
}

// An element's call yields one value: references stand for their cell's value, arrays for their
// first element.
void reduceToSingle(Engine& engine, Value& v) {
  referenceToValue(engine, v, v);
  if (v.isArray()) {
    Value first;
    if (v.array().size() > 0) first = v.array().elements()[0];
    v = std::move(first);
  }
}

// The call keeps a reference it computed, before the mode turns it into the cell's value: the
// refresh of computed precedents reads it (the cell of =A1:INDEX(A:A,3) reads A1:A3).
void finishCall(const CallNode& node, Engine& engine, int mode, Value& result) {
  const_cast<CallNode&>(node).keepResult(result);
  finishForMode(engine, mode, result);
}

}  // namespace

void evaluateCall(Engine& engine, const CallNode& node, int mode, Value& result) {
  if (CalcHost* host = engine.host()) {
    const NativeFunction* native = node.native();
    if ((!native || !native->isNative() || host->seesEveryCall()) &&
        host->computeCall(engine, node, mode, result)) {
      engine.computedWithoutExcel = false;
      finishCall(node, engine, mode, result);
      return;
    }
  }
  CallShape shape;
  shape.resolver = engine.model().functions;
  shape.number = node.functionNumber();
  if (shape.resolver && shape.number >= 0) {
    shape.maximumArguments = shape.resolver->maximumArguments(shape.number);
  }

  const ChildList& children = node.children();
  const size_t count = children.size();
  InlineArray<Value, 4> values(count);
  // One entry more than there are arguments, left null: the terminator native routines read.
  InlineArray<const Value*, 5> arguments(count + 1);
  bool elementwise = false;
  bool refused = false;
  for (size_t i = 0; i < children.size(); ++i) {
    evaluateNode(engine, children[i].get(), argumentMode(shape, i, mode), values[i]);
    arguments[i] = &values[i];
    if (shape.singleOnly(i)) {
      if (values[i].isArray() || isAreaReference(values[i])) refused = true;
      referenceToValue(engine, values[i], values[i]);
    } else if (shape.broadcasts(i)) {
      if (values[i].isArray() || isAreaReference(values[i])) {
        elementwise = true;
      } else {
        // A single cell stands for its value where the function takes values.
        referenceToValue(engine, values[i], values[i]);
      }
    }
  }
  if (elementwise && shape.described() && shape.resolver->returnClass(shape.number) == 3) {
    elementwise = false;
  }
  if (refused) {
    result.setError(kErrorValue);
    finishCall(node, engine, mode, result);
    return;
  }

  if (!elementwise) {
    callOnce(engine, node, shape, Arguments(arguments.data(), count), result);
    finishCall(node, engine, mode, result);
    return;
  }

  // IF and CHOOSE answer with one of their branch arguments, which arrive whole: the program
  // reads every array among them in step with the condition, so they shape the result too.
  constexpr int kIfNumber = 1, kChooseNumber = 100;
  const bool choosesBranch =
      shape.described() && (shape.number == kIfNumber || shape.number == kChooseNumber);
  uint32_t columns = 1, rows = 1;
  for (size_t i = 0; i < count; ++i) {
    if (shape.broadcasts(i) || choosesBranch) coverShape(values[i], columns, rows);
  }
  if (uint64_t{columns} * rows > kMaxArrayElements) {
    result.setError(kErrorValue);
    finishCall(node, engine, mode, result);
    return;
  }
  ValueArray out(columns, rows);
  InlineArray<Value, 4> elements(count);
  InlineArray<const Value*, 5> elementArguments(count + 1);
  for (size_t i = 0; i < count; ++i) {
    elementArguments[i] = shape.broadcasts(i) ? &elements[i] : arguments[i];
  }
  for (uint32_t r = 0; r < rows; ++r) {
    for (uint32_t c = 0; c < columns; ++c) {
      for (size_t i = 0; i < count; ++i) {
        if (shape.broadcasts(i)) broadcastElement(engine, values[i], c, r, elements[i]);
      }
      Value& element = out.at(c, r);
      callOnce(engine, node, shape, Arguments(elementArguments.data(), count), element);
      if (choosesBranch && (element.isArray() || isAreaReference(element))) {
        // The branch an element chose is read at the element's own position; past its end it
        // has no element (#N/A), a range as much as an array.
        Value branch, picked;
        referenceToArray(engine, element, branch);
        broadcastElement(engine, branch, c, r, picked);
        element = std::move(picked);
      }
      reduceToSingle(engine, element);
    }
  }
  result.setArray(std::move(out));
  finishCall(node, engine, mode, result);
}

}  // namespace korvel::evaluation
