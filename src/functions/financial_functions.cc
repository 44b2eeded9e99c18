// Financial functions: the time value of money, rates of return and depreciation.
#include "functions/native_families.h"

namespace korvel {

NativeTable financialFunctions() { return {}; }

}  // namespace korvel
