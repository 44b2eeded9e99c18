// Sizes are exact where the unit is defined exactly (the inch is 0.0254 m, the pound 0.45359237
// kg); the others carry the values the host program converts with, such as 133.322 Pa for the
// millimetre of mercury, which makes 1 atm 760.0021 mmHg while the torr is 1/760 atm.
#include "hosts/headless/functions/host_units.h"

#include <cmath>
#include <iterator>

namespace korvel {
namespace {

enum class Quantity {
  kMass,
  kDistance,
  kTime,
  kPressure,
  kForce,
  kEnergy,
  kPower,
  kMagnetism,
  kTemperature,
  kVolume,
  kArea,
  kInformation,
  kSpeed,
};

enum Prefixes : unsigned {
  kNoPrefix = 0,
  kDecimal = 1,
  kBinary = 2,
};

struct Unit {
  const char16_t* name;
  Quantity quantity;
  // The size in the quantity's base unit (g, m, s, Pa, N, J, W, T, m3, m2, bit, m/s); for
  // temperatures the numerator of the scale to degrees Celsius.
  double size;
  unsigned prefixes = kNoPrefix;
  // 2 for areas and 3 for volumes: the power a prefix is raised to.
  int power = 1;
  // Temperatures only: the shift of the zero and the denominator of the scale, kept apart so
  // that whole degrees convert to whole degrees (0 Reau is 32 F, not 32.00000000000003).
  double offset = 0;
  double divisor = 1;
};

constexpr double kInch = 0.0254;
constexpr double kFoot = 0.3048;
constexpr double kYard = 0.9144;
constexpr double kMile = 1609.344;
constexpr double kNauticalMile = 1852;
constexpr double kLightYear = 9460730472580800;
constexpr double kPica = kInch / 72;
constexpr double kPoundForce = 4.4482216152605;
constexpr double kFootPound = kFoot * kPoundForce;
constexpr double kHorsepower = 550 * kFootPound;
constexpr double kCelsiusZero = 273.15;

constexpr Unit kUnits[] = {
    // Mass, in grams.
    {u"g", Quantity::kMass, 1, kDecimal},
    {u"sg", Quantity::kMass, 1000 * kPoundForce / kFoot},
    {u"lbm", Quantity::kMass, 453.59237},
    {u"u", Quantity::kMass, 1.660538782e-24, kDecimal},
    {u"ozm", Quantity::kMass, 453.59237 / 16},
    {u"grain", Quantity::kMass, 0.06479891},
    {u"cwt", Quantity::kMass, 45359.237},
    {u"shweight", Quantity::kMass, 45359.237},
    {u"uk_cwt", Quantity::kMass, 50802.34544},
    {u"lcwt", Quantity::kMass, 50802.34544},
    {u"hweight", Quantity::kMass, 50802.34544},
    {u"stone", Quantity::kMass, 6350.29318},
    {u"ton", Quantity::kMass, 907184.74},
    {u"uk_ton", Quantity::kMass, 1016046.9088},
    {u"LTON", Quantity::kMass, 1016046.9088},
    {u"brton", Quantity::kMass, 1016046.9088},
    // Distance, in metres.
    {u"m", Quantity::kDistance, 1, kDecimal},
    {u"mi", Quantity::kDistance, kMile},
    {u"Nmi", Quantity::kDistance, kNauticalMile},
    {u"in", Quantity::kDistance, kInch},
    {u"ft", Quantity::kDistance, kFoot},
    {u"yd", Quantity::kDistance, kYard},
    {u"ang", Quantity::kDistance, 1e-10, kDecimal},
    {u"ell", Quantity::kDistance, 1.143},
    {u"ly", Quantity::kDistance, kLightYear, kDecimal},
    {u"parsec", Quantity::kDistance, 3.08567758128155e16, kDecimal},
    {u"pc", Quantity::kDistance, 3.08567758128155e16, kDecimal},
    {u"Picapt", Quantity::kDistance, kPica},
    {u"Pica", Quantity::kDistance, kPica},
    {u"pica", Quantity::kDistance, kInch / 6},
    {u"survey_mi", Quantity::kDistance, 5280 * 1200.0 / 3937},
    // Time, in seconds.
    {u"yr", Quantity::kTime, 31557600},
    {u"day", Quantity::kTime, 86400},
    {u"d", Quantity::kTime, 86400},
    {u"hr", Quantity::kTime, 3600},
    {u"mn", Quantity::kTime, 60},
    {u"min", Quantity::kTime, 60},
    {u"sec", Quantity::kTime, 1, kDecimal},
    {u"s", Quantity::kTime, 1, kDecimal},
    // Pressure, in pascals.
    {u"Pa", Quantity::kPressure, 1, kDecimal},
    {u"p", Quantity::kPressure, 1, kDecimal},
    {u"atm", Quantity::kPressure, 101325, kDecimal},
    {u"at", Quantity::kPressure, 101325, kDecimal},
    {u"mmHg", Quantity::kPressure, 133.322, kDecimal},
    {u"psi", Quantity::kPressure, kPoundForce / (kInch * kInch)},
    {u"Torr", Quantity::kPressure, 101325.0 / 760},
    // Force, in newtons.
    {u"N", Quantity::kForce, 1, kDecimal},
    {u"dyn", Quantity::kForce, 1e-5, kDecimal},
    {u"dy", Quantity::kForce, 1e-5, kDecimal},
    {u"lbf", Quantity::kForce, kPoundForce},
    {u"pond", Quantity::kForce, 9.80665e-3, kDecimal},
    // Energy, in joules.
    {u"J", Quantity::kEnergy, 1, kDecimal},
    {u"e", Quantity::kEnergy, 1e-7, kDecimal},
    {u"c", Quantity::kEnergy, 4.184, kDecimal},
    {u"cal", Quantity::kEnergy, 4.1868, kDecimal},
    {u"eV", Quantity::kEnergy, 1.602176487e-19, kDecimal},
    {u"ev", Quantity::kEnergy, 1.602176487e-19, kDecimal},
    {u"HPh", Quantity::kEnergy, kHorsepower * 3600},
    {u"hh", Quantity::kEnergy, kHorsepower * 3600},
    {u"Wh", Quantity::kEnergy, 3600, kDecimal},
    {u"wh", Quantity::kEnergy, 3600, kDecimal},
    {u"flb", Quantity::kEnergy, kFootPound},
    {u"BTU", Quantity::kEnergy, 1055.05585262},
    {u"btu", Quantity::kEnergy, 1055.05585262},
    // Power, in watts.
    {u"HP", Quantity::kPower, kHorsepower},
    {u"h", Quantity::kPower, kHorsepower},
    {u"PS", Quantity::kPower, 735.49875},
    {u"W", Quantity::kPower, 1, kDecimal},
    {u"w", Quantity::kPower, 1, kDecimal},
    // Magnetism, in teslas.
    {u"T", Quantity::kMagnetism, 1, kDecimal},
    {u"ga", Quantity::kMagnetism, 1e-4, kDecimal},
    // Temperature: degrees Celsius = (x + offset) * size / divisor.
    {u"C", Quantity::kTemperature, 1},
    {u"cel", Quantity::kTemperature, 1},
    {u"F", Quantity::kTemperature, 5, kNoPrefix, 1, -32, 9},
    {u"fah", Quantity::kTemperature, 5, kNoPrefix, 1, -32, 9},
    {u"K", Quantity::kTemperature, 1, kDecimal, 1, -kCelsiusZero},
    {u"kel", Quantity::kTemperature, 1, kDecimal, 1, -kCelsiusZero},
    {u"Rank", Quantity::kTemperature, 5, kNoPrefix, 1, -kCelsiusZero * 9 / 5, 9},
    {u"Reau", Quantity::kTemperature, 5, kNoPrefix, 1, 0, 4},
    // Volume, in cubic metres.
    {u"tsp", Quantity::kVolume, 4.92892159375e-6},
    {u"tspm", Quantity::kVolume, 5e-6},
    {u"tbs", Quantity::kVolume, 1.478676478125e-5},
    {u"oz", Quantity::kVolume, 2.95735295625e-5},
    {u"cup", Quantity::kVolume, 2.365882365e-4},
    {u"pt", Quantity::kVolume, 4.73176473e-4},
    {u"us_pt", Quantity::kVolume, 4.73176473e-4},
    {u"uk_pt", Quantity::kVolume, 5.6826125e-4, kDecimal},
    {u"qt", Quantity::kVolume, 9.46352946e-4},
    {u"uk_qt", Quantity::kVolume, 1.1365225e-3},
    {u"gal", Quantity::kVolume, 3.785411784e-3},
    {u"uk_gal", Quantity::kVolume, 4.54609e-3},
    {u"l", Quantity::kVolume, 1e-3, kDecimal},
    {u"L", Quantity::kVolume, 1e-3, kDecimal},
    {u"lt", Quantity::kVolume, 1e-3, kDecimal},
    {u"ang3", Quantity::kVolume, 1e-30, kDecimal, 3},
    {u"ang^3", Quantity::kVolume, 1e-30, kDecimal, 3},
    {u"barrel", Quantity::kVolume, 0.158987294928},
    {u"bushel", Quantity::kVolume, 0.03523907016688},
    {u"ft3", Quantity::kVolume, kFoot* kFoot* kFoot},
    {u"ft^3", Quantity::kVolume, kFoot* kFoot* kFoot},
    {u"in3", Quantity::kVolume, kInch* kInch* kInch},
    {u"in^3", Quantity::kVolume, kInch* kInch* kInch},
    {u"ly3", Quantity::kVolume, kLightYear* kLightYear* kLightYear},
    {u"ly^3", Quantity::kVolume, kLightYear* kLightYear* kLightYear},
    {u"m3", Quantity::kVolume, 1, kDecimal, 3},
    {u"m^3", Quantity::kVolume, 1, kDecimal, 3},
    {u"mi3", Quantity::kVolume, kMile* kMile* kMile},
    {u"mi^3", Quantity::kVolume, kMile* kMile* kMile},
    {u"yd3", Quantity::kVolume, kYard* kYard* kYard},
    {u"yd^3", Quantity::kVolume, kYard* kYard* kYard},
    {u"Nmi3", Quantity::kVolume, kNauticalMile* kNauticalMile* kNauticalMile},
    {u"Nmi^3", Quantity::kVolume, kNauticalMile* kNauticalMile* kNauticalMile},
    {u"Pica3", Quantity::kVolume, kPica* kPica* kPica},
    {u"Pica^3", Quantity::kVolume, kPica* kPica* kPica},
    {u"Picapt3", Quantity::kVolume, kPica* kPica* kPica},
    {u"Picapt^3", Quantity::kVolume, kPica* kPica* kPica},
    {u"GRT", Quantity::kVolume, 100 * kFoot* kFoot* kFoot},
    {u"regton", Quantity::kVolume, 100 * kFoot* kFoot* kFoot},
    {u"MTON", Quantity::kVolume, 40 * kFoot* kFoot* kFoot},
    // Area, in square metres.
    {u"uk_acre", Quantity::kArea, 4046.8564224},
    {u"us_acre", Quantity::kArea, 43560 * (1200.0 / 3937) * (1200.0 / 3937)},
    {u"ang2", Quantity::kArea, 1e-20, kDecimal, 2},
    {u"ang^2", Quantity::kArea, 1e-20, kDecimal, 2},
    {u"ar", Quantity::kArea, 100, kDecimal},
    {u"ft2", Quantity::kArea, kFoot* kFoot},
    {u"ft^2", Quantity::kArea, kFoot* kFoot},
    {u"ha", Quantity::kArea, 10000},
    {u"in2", Quantity::kArea, kInch* kInch},
    {u"in^2", Quantity::kArea, kInch* kInch},
    {u"ly2", Quantity::kArea, kLightYear* kLightYear},
    {u"ly^2", Quantity::kArea, kLightYear* kLightYear},
    {u"m2", Quantity::kArea, 1, kDecimal, 2},
    {u"m^2", Quantity::kArea, 1, kDecimal, 2},
    {u"Morgen", Quantity::kArea, 2500},
    {u"mi2", Quantity::kArea, kMile* kMile},
    {u"mi^2", Quantity::kArea, kMile* kMile},
    {u"Nmi2", Quantity::kArea, kNauticalMile* kNauticalMile},
    {u"Nmi^2", Quantity::kArea, kNauticalMile* kNauticalMile},
    {u"Pica2", Quantity::kArea, kPica* kPica},
    {u"Pica^2", Quantity::kArea, kPica* kPica},
    {u"Picapt2", Quantity::kArea, kPica* kPica},
    {u"Picapt^2", Quantity::kArea, kPica* kPica},
    {u"yd2", Quantity::kArea, kYard* kYard},
    {u"yd^2", Quantity::kArea, kYard* kYard},
    // Information, in bits.
    {u"bit", Quantity::kInformation, 1, kDecimal | kBinary},
    {u"byte", Quantity::kInformation, 8, kDecimal | kBinary},
    // Speed, in metres per second.
    {u"admkn", Quantity::kSpeed, 6080 * kFoot / 3600},
    {u"kn", Quantity::kSpeed, kNauticalMile / 3600},
    {u"m/h", Quantity::kSpeed, 1.0 / 3600, kDecimal},
    {u"m/hr", Quantity::kSpeed, 1.0 / 3600, kDecimal},
    {u"m/s", Quantity::kSpeed, 1, kDecimal},
    {u"m/sec", Quantity::kSpeed, 1, kDecimal},
    {u"mph", Quantity::kSpeed, kMile / 3600, kDecimal},
};

struct Prefix {
  const char16_t* name;
  double factor;
  Prefixes kind;
};

// Two-letter prefixes first, so that "da" is deka before "d" is deci.
constexpr Prefix kPrefixes[] = {
    {u"da", 1e1, kDecimal},
    {u"ki", 1024.0, kBinary},
    {u"Mi", 1048576.0, kBinary},
    {u"Gi", 1073741824.0, kBinary},
    {u"Ti", 1099511627776.0, kBinary},
    {u"Pi", 1125899906842624.0, kBinary},
    {u"Ei", 1152921504606846976.0, kBinary},
    {u"Zi", 1180591620717411303424.0, kBinary},
    {u"Yi", 1208925819614629174706176.0, kBinary},
    {u"Y", 1e24, kDecimal},
    {u"Z", 1e21, kDecimal},
    {u"E", 1e18, kDecimal},
    {u"P", 1e15, kDecimal},
    {u"T", 1e12, kDecimal},
    {u"G", 1e9, kDecimal},
    {u"M", 1e6, kDecimal},
    {u"k", 1e3, kDecimal},
    {u"h", 1e2, kDecimal},
    {u"e", 1e1, kDecimal},
    {u"d", 1e-1, kDecimal},
    {u"c", 1e-2, kDecimal},
    {u"m", 1e-3, kDecimal},
    {u"u", 1e-6, kDecimal},
    {u"n", 1e-9, kDecimal},
    {u"p", 1e-12, kDecimal},
    {u"f", 1e-15, kDecimal},
    {u"a", 1e-18, kDecimal},
    {u"z", 1e-21, kDecimal},
    {u"y", 1e-24, kDecimal},
};

const Unit* findUnit(std::u16string_view name) {
  for (const Unit& unit : kUnits) {
    if (name == unit.name) return &unit;
  }
  return nullptr;
}

// A unit with its prefix applied.
struct ScaledUnit {
  const Unit* unit = nullptr;
  double scale = 1;
};

bool resolve(std::u16string_view name, ScaledUnit* out) {
  if (const Unit* unit = findUnit(name)) {
    *out = {unit, 1};
    return true;
  }
  for (const Prefix& prefix : kPrefixes) {
    std::u16string_view p = prefix.name;
    if (name.size() <= p.size() || name.substr(0, p.size()) != p) continue;
    const Unit* unit = findUnit(name.substr(p.size()));
    if (unit == nullptr || (unit->prefixes & prefix.kind) == 0) continue;
    *out = {unit, std::pow(prefix.factor, unit->power)};
    return true;
  }
  return false;
}

}  // namespace

bool convertUnits(double x, std::u16string_view from, std::u16string_view to, double* out) {
  ScaledUnit source, target;
  if (!resolve(from, &source) || !resolve(to, &target) ||
      source.unit->quantity != target.unit->quantity) {
    return false;
  }
  if (source.unit->quantity == Quantity::kTemperature) {
    const Unit& a = *source.unit;
    const Unit& b = *target.unit;
    const double celsius = (x * source.scale + a.offset) * a.size / a.divisor;
    *out = (celsius * b.divisor / b.size - b.offset) / target.scale;
    return true;
  }
  // Whole prefixes are applied as factors of their own so that, for instance, 1 km is exactly
  // 1000 m.
  *out = x * source.scale * source.unit->size / target.unit->size / target.scale;
  return true;
}

}  // namespace korvel
