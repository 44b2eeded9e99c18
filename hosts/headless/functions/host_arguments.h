// Argument readers shared by the headless program's function families.
#ifndef KORVEL_HOSTS_HEADLESS_FUNCTIONS_HOST_ARGUMENTS_H_
#define KORVEL_HOSTS_HEADLESS_FUNCTIONS_HOST_ARGUMENTS_H_

#include <cstddef>
#include <string_view>
#include <vector>

#include "functions/criteria.h"

namespace korvel {

// The (range, criterion) pairs that follow the value range of SUMIFS, AVERAGEIFS, MAXIFS and the
// like: arguments[1], arguments[2], ... up to count. False when a range is unusable or its shape
// is not that of values.
bool readCriteriaPairs(const CallContext& context, const Value* const* arguments, size_t count,
                       const RangeSource& values, std::vector<RangeSource>& ranges,
                       std::vector<Criterion>& criteria);

// The native routine of that name over the arguments: where a function of the headless program
// is a native under another name (NORM.S.INV and NORMSINV), so the computation exists once.
// #NAME? when no native has that name.
void callNative(std::u16string_view name, CallContext& context, const Value* const* arguments,
                Value& result);

}  // namespace korvel

#endif  // KORVEL_HOSTS_HEADLESS_FUNCTIONS_HOST_ARGUMENTS_H_
