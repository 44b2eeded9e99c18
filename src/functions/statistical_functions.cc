// Statistical functions: deviations and variances, order statistics, ranking and the normal
// distribution.
#include "functions/native_families.h"

namespace korvel {

NativeTable statisticalFunctions() { return {}; }

}  // namespace korvel
