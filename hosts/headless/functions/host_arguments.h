// Argument readers shared by the headless program's function families.
#ifndef KORVEL_HOSTS_HEADLESS_FUNCTIONS_HOST_ARGUMENTS_H_
#define KORVEL_HOSTS_HEADLESS_FUNCTIONS_HOST_ARGUMENTS_H_

#include <cstddef>
#include <vector>

#include "functions/criteria.h"

namespace korvel {

// The (range, criterion) pairs that follow the value range of SUMIFS, AVERAGEIFS, MAXIFS and the
// like: arguments[1], arguments[2], ... up to count. False when a range is unusable or its shape
// is not that of values.
bool readCriteriaPairs(const CallContext& context, const Value* const* arguments, size_t count,
                       const RangeSource& values, std::vector<RangeSource>& ranges,
                       std::vector<Criterion>& criteria);

}  // namespace korvel

#endif  // KORVEL_HOSTS_HEADLESS_FUNCTIONS_HOST_ARGUMENTS_H_
