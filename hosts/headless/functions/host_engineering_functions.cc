// The engineering functions the headless program computes: number bases, bitwise operations,
// DELTA and GESTEP, the error function, Bessel functions, CONVERT and the complex numbers. The
// mathematics lives beside this file (host_bessel, host_units, host_complex); here are the
// argument rules and the table.
//
// Choices made here, and why:
// - These are analysis functions: numbers, blank cells (0) and number texts are read, a boolean
//   is #VALUE!, as the host program refuses them there. The bitwise functions, younger and built
//   in, take booleans as 1 and 0 like other built-in functions.
// - The base conversions read their number as a text of at most ten digits; a number given
//   instead stands for its decimal digits (BIN2DEC(101) is 5) and a blank or "" for 0. Ten digits
//   with the top bit set are negative in two's complement and are written back as ten digits
//   whatever the places; places are still checked (1 to 10), as DEC2HEX does. DEC2BIN and
//   DEC2OCT read their number as other analysis functions do, so "" is #VALUE! there.
// - Complex texts may end in "i" or "j"; a function given both kinds is #VALUE!, and results keep
//   the kind of their arguments. Blank cells and "" are 0. Parts are written with 15 significant
//   digits, in fixed form while that needs at most 18 decimals and in exponent form beyond, as
//   the host program writes them ("0.000000000000000001", "1E-20").
// - IMPOWER and IMSQRT go through the polar form, as the host program does, so IMPOWER("2+3i",3)
//   is "-46+9.00000000000001i". IMARGUMENT of 0 is #DIV/0!; dividing by 0 and the logarithms and
//   reciprocal functions at their poles are #NUM!.
// - IMSUM and IMPRODUCT add up every value of arrays and ranges handed to them, blank cells as 0.
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>

#include "engine/number_text.h"
#include "engine/value.h"
#include "engine/value_convert.h"
#include "functions/arguments.h"
#include "hosts/headless/functions/host_bessel.h"
#include "hosts/headless/functions/host_complex.h"
#include "hosts/headless/functions/host_functions.h"
#include "hosts/headless/functions/host_units.h"
#include "model/address.h"

namespace korvel {
namespace {

// --- Argument rules -----------------------------------------------------------------------------

// An error, or a text that spells one, as the result.
void passError(const Value& v, Value& result) {
  if (v.isText()) {
    setErrorResult(result, errorFromText(v.text()));
  } else {
    result = v;
  }
}

// The number of an analysis-function argument (see the top of the file). False with the result
// set otherwise.
bool analysisNumber(const Value& v, double* out, Value& result) {
  if (v.isBoolean()) {
    result.setError(kErrorValue);
    return false;
  }
  if (!numberFromValue(v, out, result)) return false;
  if (!std::isfinite(*out)) {
    result.setError(kErrorNum);
    return false;
  }
  return true;
}

// An optional analysis number: fallback when the argument is not given.
bool optionalNumber(const Value* const* arguments, size_t position, double fallback, double* out,
                    Value& result) {
  const Value* v = argumentAt(arguments, position);
  if (v == nullptr) {
    *out = fallback;
    return true;
  }
  return analysisNumber(*v, out, result);
}

// A number as the built-in functions read it: booleans count as 1 and 0.
bool plainNumber(const Value& v, double* out, Value& result) {
  if (!numberFromValue(v, out, result)) return false;
  if (!std::isfinite(*out)) {
    result.setError(kErrorNum);
    return false;
  }
  return true;
}

void setFinite(Value& result, double x) {
  if (std::isfinite(x)) {
    setNumberResult(result, x);
  } else {
    result.setError(kErrorNum);
  }
}

// --- Number bases -------------------------------------------------------------------------------

struct Base {
  int radix;
  // The range ten digits hold in two's complement (for decimal: what the others accept).
  int64_t lowest;
  int64_t highest;
};

constexpr Base kBinary{2, -512, 511};
constexpr Base kOctal{8, -(int64_t{1} << 29), (int64_t{1} << 29) - 1};
constexpr Base kHexadecimal{16, -(int64_t{1} << 39), (int64_t{1} << 39) - 1};
constexpr Base kDecimal{10, 0, 0};
constexpr size_t kMaxDigits = 10;

int digitValue(char16_t u) {
  if (u >= u'0' && u <= u'9') return u - u'0';
  if (u >= u'A' && u <= u'Z') return u - u'A' + 10;
  if (u >= u'a' && u <= u'z') return u - u'a' + 10;
  return 99;
}

// The signed number a digit text of the base stands for.
bool readDigits(const Value& v, const Base& base, int64_t* out, Value& result) {
  if (isErrorLike(v)) {
    passError(v, result);
    return false;
  }
  std::u16string digits;
  if (v.isBoolean() || !(v.isEmpty() || v.isNumeric() || v.isText())) {
    result.setError(kErrorValue);
    return false;
  }
  if (v.isNumeric()) {
    const double x = v.number();
    if (x < 0 || x != std::trunc(x) || x >= 1e10) {
      result.setError(kErrorNum);
      return false;
    }
    digits = numberToText(x);
  } else if (v.isText()) {
    digits = v.text();
  }
  if (digits.size() > kMaxDigits) {
    result.setError(kErrorNum);
    return false;
  }
  int64_t n = 0;
  for (char16_t u : digits) {
    const int d = digitValue(u);
    if (d >= base.radix) {
      result.setError(kErrorNum);
      return false;
    }
    n = n * base.radix + d;
  }
  int64_t full = 1;
  for (size_t i = 0; i < kMaxDigits; ++i) full *= base.radix;
  if (digits.size() == kMaxDigits && n >= full / 2) n -= full;
  *out = n;
  return true;
}

// The places argument: 0 when not given, else 1 to 10.
bool readPlaces(const Value* const* arguments, size_t position, int* out, Value& result) {
  const Value* v = argumentAt(arguments, position);
  *out = 0;
  if (v == nullptr) return true;
  double p = 0;
  if (!analysisNumber(*v, &p, result)) return false;
  p = std::trunc(p);
  if (p < 1 || p > double(kMaxDigits)) {
    result.setError(kErrorNum);
    return false;
  }
  *out = int(p);
  return true;
}

// Writes n in the base: negative numbers as ten digits of two's complement, others padded to
// places when given.
void writeDigits(int64_t n, const Base& base, int places, Value& result) {
  if (n < base.lowest || n > base.highest) {
    result.setError(kErrorNum);
    return;
  }
  uint64_t u = uint64_t(n);
  if (n < 0) {
    uint64_t full = 1;
    for (size_t i = 0; i < kMaxDigits; ++i) full *= uint64_t(base.radix);
    u = full - uint64_t(-n);
  }
  static const char16_t kDigitUnits[] = u"0123456789ABCDEF";
  std::u16string digits;
  do {
    digits.insert(digits.begin(), kDigitUnits[u % uint64_t(base.radix)]);
    u /= uint64_t(base.radix);
  } while (u != 0);
  if (n >= 0 && places > 0) {
    if (digits.size() > size_t(places)) {
      result.setError(kErrorNum);
      return;
    }
    digits.insert(0, size_t(places) - digits.size(), u'0');
  }
  result.setText(digits);
}

// X2Y for the bases other than decimal on the reading side.
template <const Base& kFrom, const Base& kTo>
void convertBase(CallContext&, const Value* const* arguments, Value& result) {
  int64_t n = 0;
  int places = 0;
  // Places are checked before the number, as the host program does.
  if (!readPlaces(arguments, 1, &places, result)) return;
  if (!readDigits(*arguments[0], kFrom, &n, result)) return;
  if (kTo.radix == 10) {
    setNumberResult(result, double(n));
    return;
  }
  writeDigits(n, kTo, places, result);
}

template <const Base& kTo>
void convertDecimal(CallContext&, const Value* const* arguments, Value& result) {
  double x = 0;
  int places = 0;
  if (!readPlaces(arguments, 1, &places, result)) return;
  if (!analysisNumber(*arguments[0], &x, result)) return;
  x = std::trunc(x);
  if (x < double(kTo.lowest) || x > double(kTo.highest)) {
    result.setError(kErrorNum);
    return;
  }
  writeDigits(int64_t(x), kTo, places, result);
}

// --- Bitwise operations -------------------------------------------------------------------------

constexpr double kBitLimit = 281474976710656.0;  // 2^48: operands and results stay below

// A whole number from 0 to 2^48 - 1.
bool bitOperand(const Value& v, uint64_t* out, Value& result) {
  double x = 0;
  if (!plainNumber(v, &x, result)) return false;
  if (x < 0 || x >= kBitLimit || x != std::trunc(x)) {
    result.setError(kErrorNum);
    return false;
  }
  *out = uint64_t(x);
  return true;
}

template <typename Operation>
void bitwise(const Value* const* arguments, Value& result) {
  uint64_t a = 0, b = 0;
  if (!bitOperand(*arguments[0], &a, result) || !bitOperand(*arguments[1], &b, result)) return;
  setNumberResult(result, double(Operation()(a, b)));
}

void bitandFunction(CallContext&, const Value* const* arguments, Value& result) {
  bitwise<std::bit_and<uint64_t>>(arguments, result);
}
void bitorFunction(CallContext&, const Value* const* arguments, Value& result) {
  bitwise<std::bit_or<uint64_t>>(arguments, result);
}
void bitxorFunction(CallContext&, const Value* const* arguments, Value& result) {
  bitwise<std::bit_xor<uint64_t>>(arguments, result);
}

// Shifts left by shift places (right when negative); at most 53 places either way.
void shiftBits(const Value* const* arguments, double direction, Value& result) {
  uint64_t n = 0;
  double shift = 0;
  if (!bitOperand(*arguments[0], &n, result) || !plainNumber(*arguments[1], &shift, result)) {
    return;
  }
  shift = std::trunc(shift) * direction;
  if (std::fabs(shift) > 53) {
    result.setError(kErrorNum);
    return;
  }
  const double shifted = shift >= 0 ? std::ldexp(double(n), int(shift)) : double(n >> int(-shift));
  if (shifted >= kBitLimit) {
    result.setError(kErrorNum);
    return;
  }
  setNumberResult(result, shifted);
}

void bitlshiftFunction(CallContext&, const Value* const* arguments, Value& result) {
  shiftBits(arguments, 1, result);
}
void bitrshiftFunction(CallContext&, const Value* const* arguments, Value& result) {
  shiftBits(arguments, -1, result);
}

// --- DELTA, GESTEP and the error function -------------------------------------------------------

void deltaFunction(CallContext&, const Value* const* arguments, Value& result) {
  double a = 0, b = 0;
  if (!analysisNumber(*arguments[0], &a, result) || !optionalNumber(arguments, 1, 0, &b, result)) {
    return;
  }
  result.setInteger(a == b ? 1 : 0);
}

void gestepFunction(CallContext&, const Value* const* arguments, Value& result) {
  double x = 0, step = 0;
  if (!analysisNumber(*arguments[0], &x, result) ||
      !optionalNumber(arguments, 1, 0, &step, result)) {
    return;
  }
  result.setInteger(x >= step ? 1 : 0);
}

// ERF(lower) is erf(lower); ERF(lower, upper) the integral between them, erf(upper) - erf(lower).
void erfFunction(CallContext&, const Value* const* arguments, Value& result) {
  double lower = 0, upper = 0;
  if (!analysisNumber(*arguments[0], &lower, result)) return;
  if (argumentAt(arguments, 1) == nullptr) {
    setFinite(result, std::erf(lower));
    return;
  }
  if (!analysisNumber(*arguments[1], &upper, result)) return;
  setFinite(result, std::erf(upper) - std::erf(lower));
}

void erfPreciseFunction(CallContext&, const Value* const* arguments, Value& result) {
  double x = 0;
  if (analysisNumber(*arguments[0], &x, result)) setFinite(result, std::erf(x));
}

void erfcFunction(CallContext&, const Value* const* arguments, Value& result) {
  double x = 0;
  if (analysisNumber(*arguments[0], &x, result)) setFinite(result, std::erfc(x));
}

// --- Bessel functions ---------------------------------------------------------------------------

template <double (*kBessel)(double, int)>
void besselFunction(CallContext&, const Value* const* arguments, Value& result) {
  double x = 0, n = 0;
  if (!analysisNumber(*arguments[0], &x, result) || !analysisNumber(*arguments[1], &n, result)) {
    return;
  }
  n = std::trunc(n);
  if (n < 0 || n > double(std::numeric_limits<int>::max())) {
    result.setError(kErrorNum);
    return;
  }
  setFinite(result, kBessel(x, int(n)));
}

// --- CONVERT ------------------------------------------------------------------------------------

// A unit name: a text; a number or a blank is no unit's name.
bool unitName(const Value& v, std::u16string* out, Value& result) {
  if (isErrorLike(v)) {
    passError(v, result);
    return false;
  }
  if (v.isBoolean()) {
    result.setError(kErrorValue);
    return false;
  }
  *out = v.isText() ? std::u16string(v.text()) : std::u16string();
  return true;
}

void convertFunction(CallContext&, const Value* const* arguments, Value& result) {
  double x = 0, converted = 0;
  std::u16string from, to;
  if (!analysisNumber(*arguments[0], &x, result) || !unitName(*arguments[1], &from, result) ||
      !unitName(*arguments[2], &to, result)) {
    return;
  }
  if (!convertUnits(x, from, to, &converted)) {
    result.setError(kErrorNA);
    return;
  }
  setFinite(result, converted);
}

// --- Complex numbers ----------------------------------------------------------------------------

// A complex argument: numbers are real, blanks 0, texts read as complex texts (#NUM! when they
// are none), booleans #VALUE!.
bool complexArgument(const Value& v, ComplexNumber* out, Value& result) {
  if (isErrorLike(v)) {
    passError(v, result);
    return false;
  }
  *out = ComplexNumber{};
  if (v.isEmpty()) return true;
  if (v.isNumeric()) {
    out->real = v.number();
    return true;
  }
  if (v.isText()) {
    if (parseComplex(v.text(), out)) return true;
    result.setError(kErrorNum);
    return false;
  }
  result.setError(kErrorValue);
  return false;
}

// Agrees the unit letter of a result with one more operand's; false (#VALUE!) on "i" with "j".
bool joinSuffix(char16_t* suffix, const ComplexNumber& z, Value& result) {
  if (z.suffix == 0) return true;
  if (*suffix != 0 && *suffix != z.suffix) {
    result.setError(kErrorValue);
    return false;
  }
  *suffix = z.suffix;
  return true;
}

void setComplexResult(Value& result, double real, double imaginary, char16_t suffix) {
  if (!std::isfinite(real) || !std::isfinite(imaginary)) {
    result.setError(kErrorNum);
    return;
  }
  result.setText(complexText(ComplexNumber{real, imaginary, suffix}));
}

struct Complex {
  double re;
  double im;
};

Complex multiply(Complex a, Complex b) {
  return {a.re * b.re - a.im * b.im, a.re * b.im + a.im * b.re};
}

// False when b is 0.
bool divide(Complex a, Complex b, Complex* out) {
  const double d = b.re * b.re + b.im * b.im;
  if (d == 0) return false;
  *out = {(a.re * b.re + a.im * b.im) / d, (a.im * b.re - a.re * b.im) / d};
  return true;
}

Complex sine(Complex z) {
  return {std::sin(z.re) * std::cosh(z.im), std::cos(z.re) * std::sinh(z.im)};
}
Complex cosine(Complex z) {
  return {std::cos(z.re) * std::cosh(z.im), -std::sin(z.re) * std::sinh(z.im)};
}
Complex sineH(Complex z) {
  return {std::sinh(z.re) * std::cos(z.im), std::cosh(z.re) * std::sin(z.im)};
}
Complex cosineH(Complex z) {
  return {std::cosh(z.re) * std::cos(z.im), std::sinh(z.re) * std::sin(z.im)};
}

// The one-argument complex functions: false for a pole or an undefined point (#NUM!).
using ComplexMap = bool (*)(Complex z, Complex* out);

bool logarithm(Complex z, Complex* out) {
  if (z.re == 0 && z.im == 0) return false;
  *out = {std::log(std::hypot(z.re, z.im)), std::atan2(z.im, z.re)};
  return true;
}

template <unsigned kBase>
bool scaledLogarithm(Complex z, Complex* out) {
  if (!logarithm(z, out)) return false;
  const double divisor = std::log(double(kBase));
  *out = {out->re / divisor, out->im / divisor};
  return true;
}

bool conjugate(Complex z, Complex* out) {
  *out = {z.re, -z.im};
  return true;
}
bool exponential(Complex z, Complex* out) {
  const double r = std::exp(z.re);
  *out = {r * std::cos(z.im), r * std::sin(z.im)};
  return true;
}
bool squareRoot(Complex z, Complex* out) {
  const double r = std::sqrt(std::hypot(z.re, z.im));
  const double angle = std::atan2(z.im, z.re) / 2;
  *out = {r * std::cos(angle), r * std::sin(angle)};
  return true;
}
template <Complex (*kFunction)(Complex)>
bool direct(Complex z, Complex* out) {
  *out = kFunction(z);
  return true;
}
template <Complex (*kFunction)(Complex)>
bool reciprocal(Complex z, Complex* out) {
  return divide({1, 0}, kFunction(z), out);
}
// Tangent and cotangent by the double-angle forms, tan(a+bi) = (sin 2a + i sinh 2b) /
// (cos 2a + cosh 2b), which keep digits that sin / cos loses (tan(4+3i) has a real part of
// 0.00490825806749606). Where the denominator is small it has cancelled, and is taken as
// 2 (cos^2 a + sinh^2 b), or 2 (sin^2 a + sinh^2 b) for the cotangent, so that cot(1E-16) is
// 1E+16.
bool tangent(Complex z, Complex* out) {
  double d = std::cos(2 * z.re) + std::cosh(2 * z.im);
  if (d < 0.5) {
    const double c = std::cos(z.re), sh = std::sinh(z.im);
    d = 2 * (c * c + sh * sh);
  }
  if (d == 0) return false;
  *out = {std::sin(2 * z.re) / d, std::sinh(2 * z.im) / d};
  return true;
}
bool cotangent(Complex z, Complex* out) {
  double d = std::cosh(2 * z.im) - std::cos(2 * z.re);
  if (d < 0.5) {
    const double s = std::sin(z.re), sh = std::sinh(z.im);
    d = 2 * (s * s + sh * sh);
  }
  if (d == 0) return false;
  *out = {std::sin(2 * z.re) / d, -std::sinh(2 * z.im) / d};
  return true;
}

template <ComplexMap kMap>
void complexMapFunction(CallContext&, const Value* const* arguments, Value& result) {
  ComplexNumber z;
  if (!complexArgument(*arguments[0], &z, result)) return;
  Complex out{0, 0};
  if (!kMap({z.real, z.imaginary}, &out)) {
    result.setError(kErrorNum);
    return;
  }
  setComplexResult(result, out.re, out.im, z.suffix);
}

// The complex functions with a number result.
template <double (*kMeasure)(const ComplexNumber&)>
void complexMeasureFunction(CallContext&, const Value* const* arguments, Value& result) {
  ComplexNumber z;
  if (complexArgument(*arguments[0], &z, result)) setFinite(result, kMeasure(z));
}

double realPart(const ComplexNumber& z) { return z.real; }
double imaginaryPart(const ComplexNumber& z) { return z.imaginary; }
double absoluteValue(const ComplexNumber& z) { return std::hypot(z.real, z.imaginary); }

void imargumentFunction(CallContext&, const Value* const* arguments, Value& result) {
  ComplexNumber z;
  if (!complexArgument(*arguments[0], &z, result)) return;
  if (z.real == 0 && z.imaginary == 0) {
    result.setError(kErrorDiv0);
    return;
  }
  setFinite(result, std::atan2(z.imaginary, z.real));
}

void complexFunction(CallContext&, const Value* const* arguments, Value& result) {
  double real = 0, imaginary = 0;
  if (!analysisNumber(*arguments[0], &real, result) ||
      !analysisNumber(*arguments[1], &imaginary, result)) {
    return;
  }
  char16_t suffix = u'i';
  if (const Value* given = argumentAt(arguments, 2)) {
    if (isErrorLike(*given)) {
      passError(*given, result);
      return;
    }
    const std::u16string_view text = given->isText() ? given->text() : std::u16string_view();
    if (!given->isEmpty() && !given->isText()) {
      result.setError(kErrorValue);
      return;
    }
    if (text == u"j") {
      suffix = u'j';
    } else if (!text.empty() && text != u"i") {
      result.setError(kErrorValue);
      return;
    }
  }
  setComplexResult(result, real, imaginary, suffix);
}

// Calls visit for each value of an argument: the elements of an array, the cells of a range (up
// to the last stored row of each column), the value itself otherwise. Stops at the first false.
template <typename Visit>
bool forEachValue(const CallContext& context, const Value& v, Visit visit) {
  if (v.isArray()) {
    for (const Value& element : v.array().elements()) {
      if (!visit(element)) return false;
    }
    return true;
  }
  if (v.isReferenceList()) {
    for (const Value& part : v.array().elements()) {
      if (!forEachValue(context, part, visit)) return false;
    }
    return true;
  }
  if (v.isReference()) {
    const RangeRef range = normalizeRange(v.reference());
    if (!isValidRange(range)) {
      Value error = Value::error(kErrorRef);
      return visit(error);
    }
    const uint32_t sheet = range.first.sheet();
    for (uint32_t column = range.first.column(); column <= range.last.column(); ++column) {
      const int64_t last =
          std::min<int64_t>(range.last.row(), lastStoredRow(context, sheet, column));
      for (int64_t row = range.first.row(); row <= last; ++row) {
        if (!visit(cellValueAt(context, CellRef::at(sheet, uint32_t(row), column)))) return false;
      }
    }
    return true;
  }
  return visit(v);
}

// IMSUM and IMPRODUCT: every value of every argument, folded from the identity.
template <bool kProduct>
void complexFoldFunction(CallContext& context, const Value* const* arguments, Value& result) {
  Complex total = kProduct ? Complex{1, 0} : Complex{0, 0};
  char16_t suffix = 0;
  bool ok = true;
  for (size_t i = 0; ok && arguments[i] != nullptr; ++i) {
    ok = forEachValue(context, *arguments[i], [&](const Value& element) {
      ComplexNumber z;
      if (!complexArgument(element, &z, result) || !joinSuffix(&suffix, z, result)) return false;
      if (kProduct) {
        total = multiply(total, {z.real, z.imaginary});
      } else {
        total = {total.re + z.real, total.im + z.imaginary};
      }
      return true;
    });
  }
  if (ok) setComplexResult(result, total.re, total.im, suffix);
}

// The two-operand functions: both read, their unit letters agreed.
bool complexPair(const Value* const* arguments, ComplexNumber* a, ComplexNumber* b,
                 char16_t* suffix, Value& result) {
  *suffix = 0;
  return complexArgument(*arguments[0], a, result) && complexArgument(*arguments[1], b, result) &&
         joinSuffix(suffix, *a, result) && joinSuffix(suffix, *b, result);
}

void imsubFunction(CallContext&, const Value* const* arguments, Value& result) {
  ComplexNumber a, b;
  char16_t suffix = 0;
  if (!complexPair(arguments, &a, &b, &suffix, result)) return;
  setComplexResult(result, a.real - b.real, a.imaginary - b.imaginary, suffix);
}

void imdivFunction(CallContext&, const Value* const* arguments, Value& result) {
  ComplexNumber a, b;
  char16_t suffix = 0;
  if (!complexPair(arguments, &a, &b, &suffix, result)) return;
  Complex q{0, 0};
  if (!divide({a.real, a.imaginary}, {b.real, b.imaginary}, &q)) {
    result.setError(kErrorNum);
    return;
  }
  setComplexResult(result, q.re, q.im, suffix);
}

// z^n by the polar form; 0 to a power of 0 or less is #NUM!.
void impowerFunction(CallContext&, const Value* const* arguments, Value& result) {
  ComplexNumber z;
  double n = 0;
  if (!complexArgument(*arguments[0], &z, result) || !analysisNumber(*arguments[1], &n, result)) {
    return;
  }
  const double r = std::hypot(z.real, z.imaginary);
  if (r == 0) {
    if (n <= 0) {
      result.setError(kErrorNum);
    } else {
      setComplexResult(result, 0, 0, z.suffix);
    }
    return;
  }
  const double size = std::pow(r, n);
  const double angle = n * std::atan2(z.imaginary, z.real);
  setComplexResult(result, size * std::cos(angle), size * std::sin(angle), z.suffix);
}

constexpr NativeEntry kHostEngineeringFunctions[] = {
    {u"BESSELI", besselFunction<besselI>},
    {u"BESSELJ", besselFunction<besselJ>},
    {u"BESSELK", besselFunction<besselK>},
    {u"BESSELY", besselFunction<besselY>},
    {u"BIN2DEC", convertBase<kBinary, kDecimal>},
    {u"BIN2HEX", convertBase<kBinary, kHexadecimal>},
    {u"BIN2OCT", convertBase<kBinary, kOctal>},
    {u"BITAND", bitandFunction},
    {u"BITLSHIFT", bitlshiftFunction},
    {u"BITOR", bitorFunction},
    {u"BITRSHIFT", bitrshiftFunction},
    {u"BITXOR", bitxorFunction},
    {u"COMPLEX", complexFunction},
    {u"CONVERT", convertFunction},
    {u"DEC2BIN", convertDecimal<kBinary>},
    {u"DEC2OCT", convertDecimal<kOctal>},
    {u"DELTA", deltaFunction},
    {u"ERF", erfFunction},
    {u"ERF.PRECISE", erfPreciseFunction},
    {u"ERFC", erfcFunction},
    {u"ERFC.PRECISE", erfcFunction},
    {u"GESTEP", gestepFunction},
    {u"HEX2BIN", convertBase<kHexadecimal, kBinary>},
    {u"HEX2OCT", convertBase<kHexadecimal, kOctal>},
    {u"IMABS", complexMeasureFunction<absoluteValue>},
    {u"IMAGINARY", complexMeasureFunction<imaginaryPart>},
    {u"IMARGUMENT", imargumentFunction},
    {u"IMCONJUGATE", complexMapFunction<conjugate>},
    {u"IMCOS", complexMapFunction<direct<cosine>>},
    {u"IMCOSH", complexMapFunction<direct<cosineH>>},
    {u"IMCOT", complexMapFunction<cotangent>},
    {u"IMCSC", complexMapFunction<reciprocal<sine>>},
    {u"IMCSCH", complexMapFunction<reciprocal<sineH>>},
    {u"IMDIV", imdivFunction},
    {u"IMEXP", complexMapFunction<exponential>},
    {u"IMLN", complexMapFunction<logarithm>},
    {u"IMLOG10", complexMapFunction<scaledLogarithm<10>>},
    {u"IMLOG2", complexMapFunction<scaledLogarithm<2>>},
    {u"IMPOWER", impowerFunction},
    {u"IMPRODUCT", complexFoldFunction<true>},
    {u"IMREAL", complexMeasureFunction<realPart>},
    {u"IMSEC", complexMapFunction<reciprocal<cosine>>},
    {u"IMSECH", complexMapFunction<reciprocal<cosineH>>},
    {u"IMSIN", complexMapFunction<direct<sine>>},
    {u"IMSINH", complexMapFunction<direct<sineH>>},
    {u"IMSQRT", complexMapFunction<squareRoot>},
    {u"IMSUB", imsubFunction},
    {u"IMSUM", complexFoldFunction<false>},
    {u"IMTAN", complexMapFunction<tangent>},
    {u"OCT2BIN", convertBase<kOctal, kBinary>},
    {u"OCT2DEC", convertBase<kOctal, kDecimal>},
    {u"OCT2HEX", convertBase<kOctal, kHexadecimal>},
};

}  // namespace

NativeTable hostEngineeringFunctions() { return NativeTable(kHostEngineeringFunctions); }

}  // namespace korvel
