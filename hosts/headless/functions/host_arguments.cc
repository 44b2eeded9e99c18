#include "hosts/headless/functions/host_arguments.h"

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
