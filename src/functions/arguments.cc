#include "functions/arguments.h"

#include <cmath>
#include <vector>

#include "engine/engine.h"
#include "engine/locale_settings.h"
#include "engine/number_text.h"
#include "engine/value_convert.h"
#include "model/address.h"
#include "model/cell.h"
#include "model/compiled_model.h"
#include "model/nodes/node_text.h"
#include "model/sheet.h"

namespace korvel {
namespace {

const Value& emptyValue() {
  static const Value empty;
  return empty;
}

bool covers(uint32_t mask, size_t position) {
  if (mask == kAllArguments) return true;
  return position < 32 && (mask & (uint32_t{1} << position)) != 0;
}

}  // namespace

size_t argumentCount(const Value* const* arguments) {
  size_t count = 0;
  if (arguments == nullptr) return 0;
  while (arguments[count] != nullptr) ++count;
  return count;
}

const Value* argumentAt(const Value* const* arguments, size_t position) {
  return position < argumentCount(arguments) ? arguments[position] : nullptr;
}

const Value& cellValueAt(const CallContext& context, CellRef address) {
  const CompiledModel* model = contextModel(context);
  if (model == nullptr) return emptyValue();
  const Cell* cell = model->findCell(address);
  if (cell == nullptr || cell->value == nullptr) return emptyValue();
  return *cell->value;
}

bool isErrorLike(const Value& value) {
  return value.isError() || (value.isText() && isErrorText(value.text()));
}

Value dereferenced(const CallContext& context, const Value& value) {
  if (value.isReference()) {
    RangeRef range = normalizeRange(value.reference());
    if (isValidRange(range) && range.first == range.last) return cellValueAt(context, range.first);
  }
  return value;
}

int64_t lastStoredRow(const CallContext& context, uint32_t sheet, uint32_t column) {
  const CompiledModel* model = contextModel(context);
  return model == nullptr ? -1 : model->grid().lastRowWithCell(sheet, column);
}

bool errorPrecheck(const CallContext& context, const Value* const* arguments, uint32_t mask,
                   Value& result) {
  if (arguments == nullptr) return false;
  for (size_t i = 0; arguments[i] != nullptr; ++i) {
    if (!covers(mask, i)) continue;
    const Value& argument = *arguments[i];
    if (argument.isReference()) {
      RangeRef range = normalizeRange(argument.reference());
      if (!isValidRange(range) || range.first.sheet() != range.last.sheet()) {
        result.setError(kErrorRef);
        return true;
      }
      if (range.first == range.last) {
        const Value& content = cellValueAt(context, range.first);
        if (content.isError() || (content.isText() && isErrorText(content.text()))) {
          result = content;
          return true;
        }
      }
    } else if (argument.isError()) {
      result = argument;
      return true;
    }
  }
  return false;
}

uint32_t numberOrError(const Value& value, double* out) {
  switch (value.kind()) {
    case ValueKind::kEmpty:
      *out = 0;
      return 0;
    case ValueKind::kInteger:
    case ValueKind::kNumber:
      *out = value.number();
      return 0;
    case ValueKind::kBoolean:
      *out = value.boolean() ? 1 : 0;
      return 0;
    case ValueKind::kShortText:
    case ValueKind::kLongText: {
      if (uint32_t code = errorFromText(value.text()); code != 0) return code;
      return textToNumber(value.text(), out) ? 0u : uint32_t{kErrorValue};
    }
    case ValueKind::kError:
      return value.errorCode();
    default:
      // References, reference lists and arrays: a value-class argument should have arrived as a
      // single value, so whatever is still whole is the wrong kind.
      return kErrorValue;
  }
}

bool directArgumentNumber(const CallContext& context, const Value& value, double* out) {
  if (value.isNumeric()) {
    *out = value.number();
    return true;
  }
  if (value.isBoolean()) {
    *out = value.boolean() ? 1 : 0;
    return true;
  }
  const bool date1904 = context.engine != nullptr && context.engine->date1904;
  return value.isText() && toNumberForOperator(value, date1904, out);
}

bool numberFromValue(const Value& value, double* out, Value& result) {
  uint32_t code = numberOrError(value, out);
  if (code == 0) return true;
  // Errors and error texts travel as they came, so an error text stays a text.
  if (value.isError() || (value.isText() && isErrorText(value.text()))) {
    result = value;
    return false;
  }
  result.setError(code);
  return false;
}

void setNumberResult(Value& result, double x) {
  if (!std::isfinite(x)) {
    result.setError(kErrorNum);
    return;
  }
  result.setNumber(x);
}

void setErrorResult(Value& result, uint32_t code) {
  result.setError(isErrorCode(code) ? code : kErrorValue);
}

namespace {

// The host program, with the flag that says this calculation needed it; null without one.
CalcHost* hostFor(CallContext& context) {
  if (context.engine == nullptr || context.engine->host() == nullptr) return nullptr;
  context.engine->computedWithoutExcel = false;
  return context.engine->host();
}

std::u16string referenceText(const CallContext& context, const RangeRef& reference) {
  RangeRef range = normalizeRange(reference);
  bool known = true;
  std::u16string text = sheetPrefix(contextModel(context), range.first.sheet(), &known);
  text += rangeText(range);
  return text;
}

}  // namespace

void callHostFunction(CallContext& context, int number, const Value* const* arguments, int count,
                      Value& result) {
  CalcHost* host = hostFor(context);
  if (host == nullptr) {
    result.setError(kErrorName);
    return;
  }
  std::vector<const Value*> given;
  for (size_t i = 0; arguments != nullptr && arguments[i] != nullptr; ++i) {
    given.push_back(arguments[i]);
  }
  if (!host->callWorksheetFunction(number, given, count, result)) result.setError(kErrorValue);
}

void evaluateOnHost(CallContext& context, std::u16string_view formula, Value& result) {
  CalcHost* host = hostFor(context);
  if (host == nullptr) {
    result.setError(kErrorName);
    return;
  }
  if (host->evaluate(formula, false, result) < 0) result.setError(kErrorValue);
}

std::u16string argumentFormulaText(const CallContext& context, const Value& argument) {
  if (argument.isReference()) return referenceText(context, argument.reference());
  if (argument.isReferenceList()) {
    std::u16string text = u"(";
    bool first = true;
    for (const Value& part : argument.array().elements()) {
      if (!first) text += userLocale().listSeparator;
      first = false;
      text += argumentFormulaText(context, part);
    }
    return text + u")";
  }
  return formulaLiteral(argument);
}

const CompiledModel* contextModel(const CallContext& context) {
  if (context.engine != nullptr) return &context.engine->model();
  return context.cell != nullptr ? context.cell->model : nullptr;
}

std::u16string contextSheetName(const CallContext& context, uint32_t sheet) {
  const CompiledModel* model = contextModel(context);
  const Sheet* entry = model != nullptr ? model->sheets().find(sheet) : nullptr;
  if (entry == nullptr) return {};
  return entry->excelName().empty() ? entry->name() : entry->excelName();
}

bool cellArgumentAddress(const CallContext& context, const Value* reference, CellRef* address,
                         Value& result) {
  if (reference == nullptr || reference->isEmpty()) {
    if (context.cell == nullptr) {
      result.setError(kErrorValue);
      return false;
    }
    *address = context.cell->address;
    return true;
  }
  if (reference->isError()) {
    result = *reference;
    return false;
  }
  if (!reference->isReference()) {
    result.setError(kErrorValue);
    return false;
  }
  RangeRef range = normalizeRange(reference->reference());
  if (!isValidRange(range)) {
    result.setError(kErrorRef);
    return false;
  }
  *address = range.first;
  return true;
}

const Value& cellArgumentValue(const CallContext& context, CellRef address) {
  if (context.cell != nullptr && context.cell->address == address) {
    static const Value kEmpty;
    return context.cell->value != nullptr ? *context.cell->value : kEmpty;
  }
  return cellValueAt(context, address);
}

}  // namespace korvel
