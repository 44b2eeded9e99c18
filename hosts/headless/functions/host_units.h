// The units of measure CONVERT knows: their names (case matters: "mi" is a mile, "Mi" a binary
// prefix), the quantity each measures, its size in that quantity's base unit, and whether it
// takes the decimal prefixes ("km", "mg", "da" or "e" for ten) and, for bits and bytes, the binary
// ones ("ki" to "Yi"). A prefix on a unit of area or volume counts squared or cubed ("km2" is
// 1e6 m2).
#ifndef KORVEL_HOSTS_HEADLESS_FUNCTIONS_HOST_UNITS_H_
#define KORVEL_HOSTS_HEADLESS_FUNCTIONS_HOST_UNITS_H_

#include <string_view>

namespace korvel {

// x in unit `from` expressed in unit `to`. False when a name is no unit, or the two measure
// different quantities (CONVERT's #N/A).
bool convertUnits(double x, std::u16string_view from, std::u16string_view to, double* out);

}  // namespace korvel

#endif  // KORVEL_HOSTS_HEADLESS_FUNCTIONS_HOST_UNITS_H_
