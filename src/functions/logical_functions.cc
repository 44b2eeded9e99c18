// Logical and information functions.
#include "functions/native_families.h"

namespace korvel {

NativeTable logicalFunctions() { return {}; }

}  // namespace korvel
