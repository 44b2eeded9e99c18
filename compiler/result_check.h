// The rule by which `korvel check` compares a value the engine computed with the value the
// workbook stored for the same formula cell.
#ifndef KORVEL_COMPILER_RESULT_CHECK_H_
#define KORVEL_COMPILER_RESULT_CHECK_H_

#include "engine/value.h"

namespace korvel {

// The default relative tolerance of number comparisons.
constexpr double kDefaultCheckTolerance = 1e-9;
// Numbers this close are equal whatever their size, as results near zero carry rounding noise
// that no relative tolerance covers.
constexpr double kCheckAbsoluteTolerance = 1e-12;

// True when got is the stored value expected: numbers (integers or not) equal within the relative
// tolerance, or within kCheckAbsoluteTolerance; texts equal exactly; booleans equal; errors of the
// same code. A cell shows an empty result as 0, so an empty got matches the number 0 (and the
// empty text, which is how a stored empty result reads). An array got (a single-cell formula
// that yields an array) is compared through its first element. Kinds that differ never match.
bool resultsMatch(const Value& expected, const Value& got, double relativeTolerance);

}  // namespace korvel

#endif  // KORVEL_COMPILER_RESULT_CHECK_H_
