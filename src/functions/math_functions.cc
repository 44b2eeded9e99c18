// Math and rounding functions.
#include "functions/native_families.h"

namespace korvel {

NativeTable mathFunctions() { return {}; }

}  // namespace korvel
