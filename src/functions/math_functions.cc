// Math and rounding functions. Most are thin wrappers around <cmath>; what needs care is the
// representation error of binary doubles, which users read as decimal numbers.
//
// Choices made here, and why:
// - Domain errors are signalled inside the one-argument bodies by returning NaN: setNumberResult
//   turns every non-finite result (NaN, and overflow to infinity) into #NUM!, which is exactly
//   the error a domain fault must give, so the bodies stay one line each.
// - Powers of ten are squared up in long double and rounded once to double, so 10^k is the
//   nearest double even where k > 22 makes it inexact; the scaled products themselves are taken
//   in double, whose rounding absorbs part of an input's representation error.
// - Rounding half away from zero uses std::round rather than floor(|v| + 0.5): the addition
//   itself rounds, so 0.49999999999999994 and odd integers above 2^52 would come out one too high.
// - A scaled product that overflows (ROUND(1e300, 300) and its kin) leaves the number as it is:
//   no double has decimals that far, so the number already is its own rounding.
// - ROUND to more than 308 digits leaves the number unchanged however many digits are asked for.
// - ROUNDDOWN lifts the magnitude by one unit of the 52-bit mantissa before truncating, and
//   ROUNDUP lowers it by the same unit before rounding away from zero, so 1.1 rounds up to 1.1 at
//   one decimal although 1.1 * 10 is 11.000000000000002.
// - TRUNC keeps the plain C library power and no nudge, as its users' sheets expect it, but
//   digits beyond 308 in either direction give the number itself and 0 instead of NaN.
// - CEILING and FLOOR take a quotient within a few units of the last place of a whole number as
//   that whole number, for the same reason (1.1 / 0.1 is 11.000000000000002). FLOOR mirrors
//   CEILING's rules (default significance 1 or -1 by the number's sign, 0 for a number of 0, #NUM!
//   for a positive number with a negative significance) except that a significance of 0 under a
//   number other than 0 gives #DIV/0!: there is no multiple of 0 at or below such a number, and the
//   sheets our users bring expect the division error there. Both read their arguments in order,
//   so a number that is no number gives #VALUE! before an error in the significance is looked at,
//   and both refuse a third argument with #VALUE! rather than ignoring it. A text that is no
//   number but a date or time ("2024-01-10") reads as its serial, as the program reads it there.
// - MOD takes n - floor(n / d) * d exactly: the remainder of fmod carries no rounding, where the
//   quotient in double can round up to a whole number and turn MOD(5, 1e-10) into 0 although the
//   double nearest 1e-10 lies above it.
// - FACT and COMBIN truncate their arguments. COMBIN gives #NUM! for negative counts and for
//   k > n, and multiplies up term by term (each step stays a whole number while it fits).
// - POWER(0, 0) is #NUM! (the form has no value) and 0 raised to a negative power #DIV/0!.
// - LOG uses log10 for base 10 and log2 ratios otherwise, which hit exact powers exactly.
// - ISEVEN and ISODD read a single cell through a reference, count an empty cell as 0 and read
//   number texts; a boolean is not a number to them and gives #VALUE!, as does a several-cell
//   range. Both truncate toward zero before looking at the parity.
#include <cmath>
#include <limits>

#include "engine/engine.h"
#include "engine/value.h"
#include "engine/value_convert.h"
#include "functions/arguments.h"
#include "functions/native_families.h"
#include "functions/random_source.h"
#include "model/address.h"

namespace korvel {
namespace {

constexpr double kPi = 3.141592653589793;
// INT adds this before taking the floor, so that values a few units below a whole number (the
// residue of a decimal sum) count as that number.
constexpr double kIntBias = 1.1102230246251565e-12;
constexpr double kDomainError = std::numeric_limits<double>::quiet_NaN();
constexpr int kMaxDigits = 308;

// Reads argument position as a number; an absent argument gives fallback. False with the
// result set when the argument is no number. A number that is not finite (no cell holds one, but
// the bodies convert digits to int) is refused with #NUM!.
bool readNumber(const Value* const* arguments, size_t position, double fallback, double* out,
                Value& result) {
  const Value* argument = argumentAt(arguments, position);
  if (argument == nullptr) {
    *out = fallback;
    return true;
  }
  if (!numberFromValue(*argument, out, result)) return false;
  if (std::isfinite(*out)) return true;
  setErrorResult(result, kErrorNum);
  return false;
}

// 10^k by repeated squaring in extended precision, rounded once; negative k gives 1 / 10^|k|.
double powerOfTen(int k) {
  long double base = 10.0L;
  long double power = 1.0L;
  for (int n = k < 0 ? -k : k; n > 0; n >>= 1) {
    if (n & 1) power *= base;
    base *= base;
  }
  return static_cast<double>(k < 0 ? 1.0L / power : power);
}

// v moved one unit of the 52-bit mantissa away from zero (units > 0) or toward it (units < 0).
double nudge(double v, int units) {
  if (v == 0 || !std::isfinite(v)) return v;
  int exponent = 0;
  double fraction = std::frexp(std::fabs(v), &exponent);
  double moved = std::ldexp(fraction + units * std::ldexp(1.0, -52), exponent);
  return std::copysign(moved, v);
}

// The whole number that q lies within a few units in the last place of, else q itself.
double snapToWhole(double q) {
  double whole = std::nearbyint(q);
  return std::fabs(q - whole) <= 4 * std::numeric_limits<double>::epsilon() * std::fabs(q) ? whole
                                                                                           : q;
}

// The shared shape of ROUND, ROUNDDOWN and ROUNDUP once the digit range is checked: round at
// the decimal position of digits with roundWhole (which works on a scaled value), keeping the
// number when scaling overflows.
double roundAt(double number, double digits, double (*roundWhole)(double)) {
  if (digits >= 0) {
    double p = powerOfTen(static_cast<int>(digits));
    double rounded = roundWhole(number * p) / p;
    return std::isfinite(rounded) ? rounded : number;
  }
  double p = powerOfTen(static_cast<int>(-digits));
  return roundWhole(number / p) * p;
}

double roundAway(double v) { return std::copysign(std::ceil(std::fabs(v)), v); }

// The two-argument rounding functions read number and digits the same way.
bool readRounding(CallContext& context, const Value* const* arguments, double* number,
                  double* digits, Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return false;
  return readNumber(arguments, 0, 0, number, result) && readNumber(arguments, 1, 0, digits, result);
}

void roundRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  double number = 0, digits = 0;
  if (!readRounding(context, arguments, &number, &digits, result)) return;
  if (digits > kMaxDigits) return setNumberResult(result, number);
  if (digits < -kMaxDigits) return setNumberResult(result, 0);
  if (digits >= 0) {
    int exponent = 0;
    std::frexp(number, &exponent);
    // Scaling would overflow, and a number this large has no decimals left at that position.
    if (exponent + digits > kMaxDigits) return setNumberResult(result, number);
  }
  setNumberResult(result, roundAt(number, digits, [](double v) { return std::round(v); }));
}

void roundDownRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  double number = 0, digits = 0;
  if (!readRounding(context, arguments, &number, &digits, result)) return;
  if (digits > kMaxDigits) return setNumberResult(result, number);
  if (digits < -kMaxDigits) return setNumberResult(result, 0);
  if (digits >= 0 && digits < 15) number = nudge(number, 1);
  setNumberResult(result, roundAt(number, digits, [](double v) { return std::trunc(v); }));
}

void roundUpRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  double number = 0, digits = 0;
  if (!readRounding(context, arguments, &number, &digits, result)) return;
  if (digits > kMaxDigits) return setNumberResult(result, number);
  if (digits < -kMaxDigits) return setErrorResult(result, kErrorNum);
  if (digits >= 0 && digits < 15) number = nudge(number, -1);
  setNumberResult(result, roundAt(number, digits, roundAway));
}

void truncRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  double number = 0, digits = 0;
  if (!readRounding(context, arguments, &number, &digits, result)) return;
  digits = std::trunc(digits);
  if (digits > kMaxDigits) return setNumberResult(result, number);
  if (digits < -kMaxDigits) return setNumberResult(result, 0);
  double p = std::pow(10.0, std::fabs(digits));
  if (digits < 0) return setNumberResult(result, std::trunc(number / p) * p);
  double truncated = std::trunc(number * p) / p;
  setNumberResult(result, std::isfinite(truncated) ? truncated : number);
}

// CEILING and FLOOR differ in the direction the quotient is rounded and in what a significance
// of 0 gives under a number other than 0 (zeroDivisor: #DIV/0! when true, else 0).
void toMultiple(const CallContext& context, const Value* const* arguments, Value& result,
                double (*roundQuotient)(double), bool zeroDivisor) {
  if (argumentCount(arguments) > 2) return setErrorResult(result, kErrorValue);
  const bool date1904 = context.engine != nullptr && context.engine->date1904;
  auto read = [&](size_t position, double fallback, double* out) {
    const Value* argument = argumentAt(arguments, position);
    if (argument != nullptr && argument->isText() && !isErrorText(argument->text()) &&
        toNumberForOperator(*argument, date1904, out)) {
      return true;
    }
    return readNumber(arguments, position, fallback, out, result);
  };
  double number = 0, significance = 0;
  if (!read(0, 0, &number)) return;
  if (!read(1, number >= 0 ? 1 : -1, &significance)) return;
  if (number == 0) return setNumberResult(result, 0);
  if (significance == 0) {
    return zeroDivisor ? setErrorResult(result, kErrorDiv0) : setNumberResult(result, 0);
  }
  double quotient = number / significance;
  if (number > 0 && quotient < 0) return setErrorResult(result, kErrorNum);
  setNumberResult(result, roundQuotient(snapToWhole(quotient)) * significance);
}

void ceilingRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  toMultiple(
      context, arguments, result, [](double q) { return std::ceil(q); }, false);
}

void floorRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  toMultiple(
      context, arguments, result, [](double q) { return std::floor(q); }, true);
}

// The one-argument functions: a body from number to number, NaN for a domain error.
template <double (*body)(double)>
void unaryRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  double x = 0;
  if (!readNumber(arguments, 0, 0, &x, result)) return;
  setNumberResult(result, body(x));
}

double absBody(double x) { return std::fabs(x); }
double signBody(double x) { return x > 0 ? 1 : (x < 0 ? -1 : 0); }
double intBody(double x) { return std::floor(x + kIntBias); }
double sqrtBody(double x) { return x < 0 ? kDomainError : std::sqrt(x); }
double sqrtPiBody(double x) { return x < 0 ? kDomainError : std::sqrt(x * kPi); }
double expBody(double x) { return std::exp(x); }
double lnBody(double x) { return x <= 0 ? kDomainError : std::log(x); }
double log10Body(double x) { return x <= 0 ? kDomainError : std::log10(x); }
double radiansBody(double x) { return x * kPi / 180; }
double degreesBody(double x) { return x * 180 / kPi; }
double sinBody(double x) { return std::sin(x); }
double cosBody(double x) { return std::cos(x); }
double tanBody(double x) { return std::tan(x); }
double asinBody(double x) { return std::fabs(x) > 1 ? kDomainError : std::asin(x); }
double acosBody(double x) { return std::fabs(x) > 1 ? kDomainError : std::acos(x); }
double atanBody(double x) { return std::atan(x); }
double sinhBody(double x) { return std::sinh(x); }
double coshBody(double x) { return std::cosh(x); }
double tanhBody(double x) { return std::tanh(x); }
double asinhBody(double x) { return std::asinh(x); }
double acoshBody(double x) { return x < 1 ? kDomainError : std::acosh(x); }
double atanhBody(double x) { return std::fabs(x) >= 1 ? kDomainError : std::atanh(x); }

double factBody(double x) {
  if (x < 0 || x >= 171) return kDomainError;
  double product = 1;
  for (int factor = 2; factor <= static_cast<int>(x); ++factor) product *= factor;
  return product;
}

// Away from zero to the next even (parity 0) or odd (parity 1) whole number.
template <int parity>
double toParityBody(double x) {
  double magnitude = std::ceil(std::fabs(x));
  if (std::fmod(magnitude, 2) != parity) magnitude += 1;
  return std::copysign(magnitude, x);
}

void modRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  double n = 0, d = 0;
  if (!readNumber(arguments, 0, 0, &n, result) || !readNumber(arguments, 1, 0, &d, result)) return;
  if (d == 0) return setErrorResult(result, kErrorDiv0);
  // The remainder takes the divisor's sign; fmod gives the dividend's, so a remainder of the other
  // sign moves over by one divisor.
  double remainder = std::fmod(n, d);
  if (remainder != 0 && (remainder < 0) != (d < 0)) remainder += d;
  setNumberResult(result, remainder);
}

void powerRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  double base = 0, exponent = 0;
  if (!readNumber(arguments, 0, 0, &base, result) ||
      !readNumber(arguments, 1, 0, &exponent, result)) {
    return;
  }
  if (base == 0 && exponent == 0) return setErrorResult(result, kErrorNum);
  if (base == 0 && exponent < 0) return setErrorResult(result, kErrorDiv0);
  // A negative base with a fractional exponent is NaN, overflow infinite: both #NUM!.
  setNumberResult(result, std::pow(base, exponent));
}

void logRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  double x = 0, base = 10;
  if (!readNumber(arguments, 0, 0, &x, result) || !readNumber(arguments, 1, 10, &base, result)) {
    return;
  }
  if (x <= 0 || base <= 0) return setErrorResult(result, kErrorNum);
  if (base == 10) return setNumberResult(result, std::log10(x));
  double baseLog = std::log2(base);
  if (baseLog == 0) return setErrorResult(result, kErrorDiv0);
  setNumberResult(result, std::log2(x) / baseLog);
}

void atan2Routine(CallContext& context, const Value* const* arguments, Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  double x = 0, y = 0;
  if (!readNumber(arguments, 0, 0, &x, result) || !readNumber(arguments, 1, 0, &y, result)) return;
  if (x == 0 && y == 0) return setErrorResult(result, kErrorDiv0);
  setNumberResult(result, std::atan2(y, x));
}

void combinRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  double n = 0, k = 0;
  if (!readNumber(arguments, 0, 0, &n, result) || !readNumber(arguments, 1, 0, &k, result)) return;
  n = std::trunc(n);
  k = std::trunc(k);
  if (n < 0 || k < 0 || k > n) return setErrorResult(result, kErrorNum);
  k = std::fmin(k, n - k);
  // C(n - k + i, i) grows with i, so once it overflows the loop can stop: the result is #NUM!.
  double combinations = 1;
  for (double i = 1; i <= k && std::isfinite(combinations); ++i) {
    combinations = combinations * (n - k + i) / i;
  }
  setNumberResult(result, combinations);
}

void piRoutine(CallContext&, const Value* const*, Value& result) { setNumberResult(result, kPi); }

void randRoutine(CallContext&, const Value* const*, Value& result) {
  int draw = 0;
  do {
    draw = drawRandom();
  } while (draw == 0 || draw == kRandomMax);
  setNumberResult(result, static_cast<double>(draw) / kRandomMax);
}

// ISEVEN and ISODD take their argument as a reference: one cell is read, a range is no number.
template <bool wantEven>
void parityTestRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  const Value* argument = argumentAt(arguments, 0);
  Value empty;
  if (argument == nullptr) argument = &empty;
  if (argument->isReference()) {
    RangeRef range = normalizeRange(argument->reference());
    if (range.first != range.last) return setErrorResult(result, kErrorValue);
    argument = &cellValueAt(context, range.first);
  }
  if (argument->isBoolean()) return setErrorResult(result, kErrorValue);
  double x = 0;
  if (!numberFromValue(*argument, &x, result)) return;
  bool even = std::fmod(std::trunc(x), 2) == 0;
  result.setBoolean(even == wantEven);
}

}  // namespace

constexpr NativeEntry kMathFunctions[] = {
    {u"ABS", unaryRoutine<absBody>},
    {u"ACOS", unaryRoutine<acosBody>},
    {u"ACOSH", unaryRoutine<acoshBody>},
    {u"ASIN", unaryRoutine<asinBody>},
    {u"ASINH", unaryRoutine<asinhBody>},
    {u"ATAN", unaryRoutine<atanBody>},
    {u"ATAN2", atan2Routine},
    {u"ATANH", unaryRoutine<atanhBody>},
    {u"CEILING", ceilingRoutine},
    {u"COMBIN", combinRoutine},
    {u"COS", unaryRoutine<cosBody>},
    {u"COSH", unaryRoutine<coshBody>},
    {u"DEGREES", unaryRoutine<degreesBody>},
    {u"EVEN", unaryRoutine<toParityBody<0>>},
    {u"EXP", unaryRoutine<expBody>},
    {u"FACT", unaryRoutine<factBody>},
    {u"FLOOR", floorRoutine},
    {u"INT", unaryRoutine<intBody>},
    {u"ISEVEN", parityTestRoutine<true>},
    {u"ISODD", parityTestRoutine<false>},
    {u"LN", unaryRoutine<lnBody>},
    {u"LOG", logRoutine},
    {u"LOG10", unaryRoutine<log10Body>},
    {u"MOD", modRoutine},
    {u"ODD", unaryRoutine<toParityBody<1>>},
    {u"PI", piRoutine},
    {u"POWER", powerRoutine},
    {u"RADIANS", unaryRoutine<radiansBody>},
    {u"RAND", randRoutine},
    {u"ROUND", roundRoutine},
    {u"ROUNDDOWN", roundDownRoutine},
    {u"ROUNDUP", roundUpRoutine},
    {u"SIGN", unaryRoutine<signBody>},
    {u"SIN", unaryRoutine<sinBody>},
    {u"SINH", unaryRoutine<sinhBody>},
    {u"SQRT", unaryRoutine<sqrtBody>},
    {u"SQRTPI", unaryRoutine<sqrtPiBody>},
    {u"TAN", unaryRoutine<tanBody>},
    {u"TANH", unaryRoutine<tanhBody>},
    {u"TRUNC", truncRoutine},
};

NativeTable mathFunctions() { return kMathFunctions; }

}  // namespace korvel
