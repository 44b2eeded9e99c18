// Pieces of the statistical functions that other function libraries share: the normal
// distribution and the reading of the numbers of ranges, arrays and reference lists.
//
// REQUIRES: used only on the thread that evaluates formulas.
#ifndef KORVEL_FUNCTIONS_STATISTICS_H_
#define KORVEL_FUNCTIONS_STATISTICS_H_

#include <vector>

#include "engine/native_function.h"

namespace korvel {

// Phi(x) - 0.5, where Phi is the standard normal distribution; accurate to about 15 digits.
// Keeping the half apart keeps the digits of the upper tail.
double normalIntegral(double x);

// The p-quantile of the normal distribution of that mean and deviation: the infinities for p of
// 0 and 1, not-a-number outside the domain.
double normalQuantile(double p, double mean, double sd);

// The numbers of a range, an array or a list of references, in reading order; other values are
// passed over (a direct number argument is taken too). The first error, or error text, met stops
// the reading: it is copied to *error and the result is false. A reference that names no cells
// gives #REF!.
bool collectNumbers(const CallContext& context, const Value& source, std::vector<double>& numbers,
                    Value* error);

}  // namespace korvel

#endif  // KORVEL_FUNCTIONS_STATISTICS_H_
