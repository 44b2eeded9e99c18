// Date and time functions over serial dates of both date systems.
#include "functions/native_families.h"

namespace korvel {

NativeTable dateTimeFunctions() { return {}; }

}  // namespace korvel
