// Text functions.
#include "functions/native_families.h"

namespace korvel {

NativeTable textFunctions() { return {}; }

}  // namespace korvel
