// The routine tables of the native function families, one per family source file, each defined
// at the end of its file. Only the families listed in builtInFamilyTables() (native_registry.cc)
// are linked; a declaration alone costs nothing.
#ifndef KORVEL_FUNCTIONS_NATIVE_FAMILIES_H_
#define KORVEL_FUNCTIONS_NATIVE_FAMILIES_H_

#include "functions/native_registry.h"

namespace korvel {

NativeTable lookupFunctions();       // lookup and reference
NativeTable aggregationFunctions();  // aggregation and criteria
NativeTable dateTimeFunctions();     // date and time
NativeTable statisticalFunctions();  // statistics
NativeTable financialFunctions();    // financial
NativeTable textFunctions();         // text
NativeTable mathFunctions();         // math and rounding
NativeTable logicalFunctions();      // logical and information

}  // namespace korvel

#endif  // KORVEL_FUNCTIONS_NATIVE_FAMILIES_H_
