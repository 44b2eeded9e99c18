#include "hosts/headless/functions/host_arguments.h"

#include <cmath>

#include "engine/engine.h"
#include "engine/value_convert.h"
#include "functions/arguments.h"
#include "functions/native_registry.h"

namespace korvel {

bool readCriteriaPairs(const CallContext& context, const Value* const* arguments, size_t count,
                       const RangeSource& values, std::vector<RangeSource>& ranges,
                       std::vector<Criterion>& criteria) {
  const size_t pairs = count < 1 ? 0 : (count - 1) / 2;
  ranges = std::vector<RangeSource>(pairs);
  criteria = std::vector<Criterion>(pairs);
  for (size_t k = 0; k < pairs; ++k) {
    if (!ranges[k].assign(context, *arguments[1 + 2 * k]) ||
        ranges[k].columns() != values.columns() || ranges[k].rows() != values.rows()) {
      return false;
    }
    criteria[k] = parseCriterion(context, *arguments[2 + 2 * k]);
  }
  return true;
}

bool hostNumberOf(const CallContext& context, const Value& value, double* out, Value& result) {
  if (value.isError()) {
    result = value;
    return false;
  }
  if (value.isText()) {
    const bool date1904 = context.engine != nullptr && context.engine->date1904;
    if (isErrorText(value.text()) || !toNumberForOperator(value, date1904, out)) {
      setErrorResult(result, kErrorValue);
      return false;
    }
  } else if (!numberFromValue(value, out, result)) {
    return false;
  }
  if (!std::isfinite(*out)) {
    setErrorResult(result, kErrorNum);
    return false;
  }
  return true;
}

Value singleValue(const CallContext& context, const Value* argument) {
  if (argument == nullptr) return Value();
  Value v = dereferenced(context, *argument);
  if (v.isArray()) {
    Value first = v.array().size() > 0 ? v.array().at(0, 0) : Value();
    return first;
  }
  if (v.isReference() || v.isReferenceList()) return Value::error(kErrorValue);
  return v;
}

void callNative(std::u16string_view name, CallContext& context, const Value* const* arguments,
                Value& result) {
  const NativeFunction* native = NativeRegistry::instance().findNative(name);
  if (native == nullptr || !native->isNative()) {
    result.setError(kErrorName);
    return;
  }
  native->call(context, arguments, result);
}

}  // namespace korvel
