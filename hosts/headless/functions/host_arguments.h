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

// The number a value argument stands for in the headless program's functions: numbers, blanks as
// 0, booleans as 1 or 0, texts that read as numbers or as dates and times of the user's locale.
// False with the result set otherwise: an error is copied, a number that is not finite is #NUM!,
// any other value is #VALUE! (a text that spells an error too: it is a text, not an error).
bool hostNumberOf(const CallContext& context, const Value& value, double* out, Value& result);

// An argument where one value is wanted: a one-cell reference stands for its cell, an array for
// its first element (the newer program would spill; a cell keeps the first), a wider reference
// or a list of references is #VALUE!; no argument is the empty value.
Value singleValue(const CallContext& context, const Value* argument);

// The native routine of that name over the arguments: where a function of the headless program
// is a native under another name (NORM.S.INV and NORMSINV), so the computation exists once.
// #NAME? when no native has that name.
void callNative(std::u16string_view name, CallContext& context, const Value* const* arguments,
                Value& result);

}  // namespace korvel

#endif  // KORVEL_HOSTS_HEADLESS_FUNCTIONS_HOST_ARGUMENTS_H_
