// The math functions the headless program computes: rounding to multiples, integer and
// combinatorial functions, the sums of squares, the reciprocal trigonometric functions, matrices,
// Roman numerals and number bases.
//
// Choices made here, and why:
// - A quotient within a few units in the last place of a whole number (or, for MROUND, of a half)
//   counts as that number: users read their inputs as decimals, and 4.3 / 0.1 is
//   42.99999999999999 in binary. The multiple taken back is rounded to 15 significant digits, so
//   CEILING.PRECISE(4.25, 0.1) shows 4.3 and not 4.3000000000000007.
// - CEILING.MATH and FLOOR.MATH ignore the significance's sign; their mode only matters for
//   negative numbers (any mode other than 0 rounds them the other way). A significance of 0 gives
//   0, as it does for the PRECISE forms.
// - Arguments are read in order and the first that is no number gives the result. Texts read as
//   numbers or as dates; a text that spells an error is a text, so it is #VALUE!, not that error.
// - The analysis functions (GCD, LCM, MULTINOMIAL, MROUND, QUOTIENT, FACTDOUBLE, SERIESSUM) refuse
//   booleans with #VALUE!, in cells and arrays as well as given directly; the others take them as
//   1 or 0. GCD, LCM and MULTINOMIAL read every value of their ranges and arrays so; whole numbers
//   of 2^53 and above have lost their units, so GCD and LCM refuse them with #NUM!.
// - SUMSQ follows SUM: numbers given directly count, booleans as 1 or 0, number texts read and
//   other texts #VALUE!; texts, booleans and blanks inside ranges and arrays are passed over.
// - The pairwise sums (SUMX2MY2 and its kin) need the same number of values on both sides (not the
//   same shape) and skip a pair with anything but two numbers in it; an error anywhere is the
//   result, and #DIV/0! when no pair is left, as the host program answers.
// - The matrix functions want numbers only: a blank, a text or a boolean makes them #VALUE!, an
//   error inside the matrix is the result. MINVERSE of a matrix whose elimination meets an exact
//   zero pivot is #NUM!; nearly singular matrices give their large inverse, as the host program's
//   do. Results larger than an array may be are #VALUE!.
// - ROMAN's five forms differ in how far a subtractive pair may reach; form TRUE is the classic
//   form 0 and FALSE the simplest form 4.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "engine/value.h"
#include "engine/value_convert.h"
#include "functions/arguments.h"
#include "functions/criteria.h"
#include "hosts/headless/functions/host_arguments.h"
#include "hosts/headless/functions/host_functions.h"
#include "model/address.h"
#include "util/text.h"

namespace korvel {
namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// Whole numbers from here on have no unit digit left in a double.
constexpr double kWholeLimit = 9007199254740992.0;  // 2^53
// The reciprocal trigonometric functions refuse arguments this large or larger.
constexpr double kTrigLimit = 134217728.0;  // 2^27
// The largest array a function may return, as the evaluator's own limit for arrays.
constexpr uint64_t kMaxResultElements = uint64_t{1} << 21;
constexpr size_t kMaxTextLength = 255;

// How a value argument is read as a number.
enum ReadRule : unsigned {
  kAnyNumber = 0,
  kWhole = 1,       // truncated toward zero
  kNoBooleans = 2,  // a boolean is #VALUE!, as in the analysis functions (GCD, MROUND, ...)
};

// The number a value argument stands for: numbers, blanks as 0, booleans as 1 or 0 unless the
// rule refuses them, texts that read as numbers or as dates and times. False with the result set
// otherwise: an error is copied and any other value is #VALUE! (a text that spells an error too: it
// is a text, not an error).
bool numberOf(const CallContext& context, const Value& value, unsigned rule, double* out,
              Value& result) {
  if (value.isBoolean() && (rule & kNoBooleans)) {
    setErrorResult(result, kErrorValue);
    return false;
  }
  if (!hostNumberOf(context, value, out, result)) return false;
  if (rule & kWhole) *out = std::trunc(*out);
  return true;
}

// Every argument read as a number in order, the first that is none giving the result; an absent
// argument takes its fallback.
template <size_t count>
bool readNumbers(const CallContext& context, const Value* const* arguments, double (&out)[count],
                 const double (&fallbacks)[count], Value& result, unsigned rule = kAnyNumber) {
  for (size_t i = 0; i < count; ++i) {
    const Value* argument = argumentAt(arguments, i);
    if (argument == nullptr) {
      out[i] = fallbacks[i];
    } else if (!numberOf(context, *argument, rule, &out[i], result)) {
      return false;
    }
  }
  return true;
}

// The whole number (or half, when step is 0.5) that q lies within a few units in the last place
// of, else q itself.
double snapTo(double q, double step) {
  double nearest = std::nearbyint(q / step) * step;
  return std::fabs(q - nearest) <= 4 * std::numeric_limits<double>::epsilon() * std::fabs(q)
             ? nearest
             : q;
}

// x rounded to 15 significant digits, the precision a cell shows.
double toShownPrecision(double x) {
  if (x == 0 || !std::isfinite(x)) return x;
  int digits = 14 - static_cast<int>(std::floor(std::log10(std::fabs(x))));
  if (digits <= 0 || digits > 300) return x;
  double scale = std::pow(10.0, digits);
  double rounded = std::round(x * scale) / scale;
  return std::isfinite(rounded) ? rounded : x;
}

// number rounded to a multiple of step (> 0): upward when up is set, else downward.
double toMultiple(double number, double step, bool up) {
  double q = snapTo(number / step, 1);
  return toShownPrecision((up ? std::ceil(q) : std::floor(q)) * step);
}

// CEILING.MATH (ceiling set) and FLOOR.MATH: number, significance 1, mode 0.
template <bool ceiling>
void roundMathRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  double a[3];
  if (!readNumbers(context, arguments, a, {0, 1, 0}, result)) return;
  double step = std::fabs(a[1]);
  if (a[0] == 0 || step == 0) return setNumberResult(result, 0);
  // A mode other than 0 turns the direction round for negative numbers only.
  bool up = ceiling != (a[0] < 0 && a[2] != 0);
  setNumberResult(result, toMultiple(a[0], step, up));
}

// CEILING.PRECISE and ISO.CEILING (ceiling set) and FLOOR.PRECISE: number, significance 1.
template <bool ceiling>
void roundPreciseRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  double a[2];
  if (!readNumbers(context, arguments, a, {0, 1}, result)) return;
  double step = std::fabs(a[1]);
  if (a[0] == 0 || step == 0) return setNumberResult(result, 0);
  setNumberResult(result, toMultiple(a[0], step, ceiling));
}

void mroundRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  double a[2];
  if (!readNumbers(context, arguments, a, {0, 0}, result, kNoBooleans)) return;
  if (a[0] == 0 || a[1] == 0) return setNumberResult(result, 0);
  if ((a[0] < 0) != (a[1] < 0)) return setErrorResult(result, kErrorNum);
  double q = snapTo(a[0] / a[1], 0.5);
  setNumberResult(result, toShownPrecision(std::round(q) * a[1]));
}

void quotientRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  double a[2];
  if (!readNumbers(context, arguments, a, {0, 0}, result, kNoBooleans)) return;
  if (a[1] == 0) return setErrorResult(result, kErrorDiv0);
  setNumberResult(result, std::trunc(snapTo(a[0] / a[1], 1)));
}

// Opens an array-class argument (an array, a reference or a single value) as a RangeSource.
// False with the result set: the argument's error, #VALUE! for a union or a text spelling an error,
// #REF! for a reference that is not on one sheet.
bool openSource(CallContext& context, const Value& argument, RangeSource& source, Value& result) {
  if (source.assign(context, argument)) return true;
  if (argument.isError()) {
    result = argument;
  } else {
    setErrorResult(result, argument.isReference() ? kErrorRef : kErrorValue);
  }
  return false;
}

// Calls visit(x) for every number of the arguments of GCD, LCM and MULTINOMIAL, before
// truncation. Each value, given directly or inside an array or range, is read as an analysis
// function reads it (numberOf without booleans). A blank cell given alone is passed over, while a
// blank position of a larger range or of an array counts as 0; an omitted argument is #N/A and a
// call with nothing to count #VALUE!. False with the result set when a value is refused or visit
// refuses a number.
template <typename Visit>
bool forEachWhole(CallContext& context, const Value* const* arguments, Value& result,
                  Visit&& visit) {
  bool counted = false;
  auto take = [&](const Value& value) {
    double x = 0;
    if (!numberOf(context, value, kNoBooleans, &x, result)) return false;
    counted = true;
    return visit(x);
  };
  static const Value kZero = Value::integer(0);
  for (size_t i = 0; arguments[i] != nullptr; ++i) {
    const Value& argument = *arguments[i];
    // A reference to one cell stands for the cell's value, given directly.
    const RangeRef range =
        argument.isReference() ? normalizeRange(argument.reference()) : RangeRef();
    const Value& single = argument.isReference() && isValidRange(range) && range.first == range.last
                              ? cellValueAt(context, range.first)
                              : argument;
    if (!single.isArray() && !single.isReference() && !single.isReferenceList()) {
      // The empty value given directly is an omitted argument, which the host program answers
      // with #N/A; a blank cell is passed over.
      if (&single == &argument && argument.isEmpty()) {
        setErrorResult(result, kErrorNA);
        return false;
      }
      if (!single.isEmpty() && !take(single)) return false;
      continue;
    }
    RangeSource source;
    if (!openSource(context, argument, source, result)) return false;
    for (uint32_t column = 0; column < source.columns(); ++column) {
      const int64_t last = source.lastRow(column);
      for (int64_t row = 0; row <= last; ++row) {
        const Value& element = source.at(column, uint32_t(row));
        if (!take(element.isEmpty() ? kZero : element)) return false;
      }
      // The blank positions below the last stored cell all count as one 0.
      if (last + 1 < int64_t(source.rows()) && !take(kZero)) return false;
    }
  }
  if (!counted) setErrorResult(result, kErrorValue);
  return counted;
}

// Whole numbers of GCD and LCM: not negative (checked before truncation, so -0.5 is refused too)
// and below 2^53. Sets *whole to the truncated number.
bool acceptWhole(double x, double* whole, Value& result) {
  *whole = std::trunc(x);
  if (x >= 0 && *whole < kWholeLimit) return true;
  setErrorResult(result, kErrorNum);
  return false;
}

double gcdOf(double a, double b) {
  while (b != 0) {
    double r = std::fmod(a, b);
    a = b;
    b = r;
  }
  return a;
}

void gcdRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  double divisor = 0;
  bool ok = forEachWhole(context, arguments, result, [&](double x) {
    double whole = 0;
    if (!acceptWhole(x, &whole, result)) return false;
    divisor = gcdOf(divisor, whole);
    return true;
  });
  if (ok) setNumberResult(result, divisor);
}

void lcmRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  double multiple = 1;
  bool ok = forEachWhole(context, arguments, result, [&](double x) {
    double whole = 0;
    if (!acceptWhole(x, &whole, result)) return false;
    if (whole == 0 || multiple == 0) {
      multiple = 0;
      return true;
    }
    multiple = multiple / gcdOf(multiple, whole) * whole;
    if (multiple < kWholeLimit) return true;
    setErrorResult(result, kErrorNum);
    return false;
  });
  if (ok) setNumberResult(result, multiple);
}

// (a1 + a2 + ...)! / (a1! a2! ...), built up as a product of binomial coefficients so that it
// stays exact while it fits; a sum whose factorial has no double (past 170) is #NUM!, as the
// host program works through that factorial.
void multinomialRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  double sum = 0, product = 1;
  bool ok = forEachWhole(context, arguments, result, [&](double x) {
    x = std::trunc(x);
    if (x < 0 || sum + x > 170) {
      setErrorResult(result, kErrorNum);
      return false;
    }
    for (double i = 1; i <= x; ++i) product = product * (sum + i) / i;
    sum += x;
    return true;
  });
  if (ok) setNumberResult(result, std::round(product));
}

void factDoubleRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  double a[1];
  if (!readNumbers(context, arguments, a, {0}, result, kWhole | kNoBooleans)) return;
  if (a[0] < -1) return setErrorResult(result, kErrorNum);
  double product = 1;
  for (double k = a[0]; k > 1 && std::isfinite(product); k -= 2) product *= k;
  setNumberResult(result, product);
}

void combinaRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  double a[2];
  if (!readNumbers(context, arguments, a, {0, 0}, result, kWhole)) return;
  if (a[0] < 0 || a[1] < 0 || (a[0] == 0 && a[1] > 0)) return setErrorResult(result, kErrorNum);
  if (a[1] == 0) return setNumberResult(result, 1);
  // Combinations with repetition are the plain combinations of n + k - 1.
  Value n = Value::number(a[0] + a[1] - 1);
  Value k = Value::number(a[1]);
  const Value* combinArguments[] = {&n, &k, nullptr};
  NativeRegistry::instance().findNative(u"COMBIN")->call(context, combinArguments, result);
}

void permutRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  double a[2];
  if (!readNumbers(context, arguments, a, {0, 0}, result, kWhole)) return;
  if (a[0] < 0 || a[1] < 0 || a[1] > a[0]) return setErrorResult(result, kErrorNum);
  double product = 1;
  for (double i = 0; i < a[1] && std::isfinite(product); ++i) product *= a[0] - i;
  setNumberResult(result, product);
}

void permutationaRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  double a[2];
  if (!readNumbers(context, arguments, a, {0, 0}, result, kWhole)) return;
  if (a[0] < 0 || a[1] < 0) return setErrorResult(result, kErrorNum);
  setNumberResult(result, std::pow(a[0], a[1]));
}

// x, n and m are read as the analysis functions read numbers; the coefficients as GCD reads the
// elements of a range. 0 raised to a power of 0 or less has no value: #NUM!.
void seriesSumRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  double a[3];
  if (!readNumbers(context, arguments, a, {0, 0, 0}, result, kNoBooleans)) return;
  const Value* coefficients = argumentAt(arguments, 3);
  RangeSource source;
  if (coefficients == nullptr) return setErrorResult(result, kErrorValue);
  if (!openSource(context, *coefficients, source, result)) return;
  const double x = a[0], m = a[2];
  double sum = 0, power = a[1];
  for (uint32_t row = 0; row < source.rows(); ++row) {
    for (uint32_t column = 0; column < source.columns(); ++column) {
      const Value& element = source.at(column, row);
      double coefficient = 0;
      if (!element.isEmpty() && !numberOf(context, element, kNoBooleans, &coefficient, result))
        return;
      if (x == 0 && power <= 0) return setErrorResult(result, kErrorNum);
      sum += coefficient * std::pow(x, power);
      power += m;
    }
  }
  setNumberResult(result, sum);
}

void sumSqRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  double sum = 0;
  for (size_t i = 0; arguments[i] != nullptr; ++i) {
    const Value& argument = *arguments[i];
    if (!argument.isArray() && !argument.isReference() && !argument.isReferenceList()) {
      double x = 0;
      if (!numberOf(context, argument, kAnyNumber, &x, result)) return;
      sum += x * x;
      continue;
    }
    // A union walks each of its references in turn.
    const Value* parts = &argument;
    size_t partCount = 1;
    if (argument.isReferenceList()) {
      parts = argument.array().elements().data();
      partCount = argument.array().size();
    }
    for (size_t p = 0; p < partCount; ++p) {
      RangeSource source;
      if (!openSource(context, parts[p], source, result)) return;
      for (uint32_t column = 0; column < source.columns(); ++column) {
        for (int64_t row = 0, last = source.lastRow(column); row <= last; ++row) {
          const Value& element = source.at(column, uint32_t(row));
          if (element.isError()) {
            result = element;
            return;
          }
          if (element.isNumeric()) sum += element.number() * element.number();
        }
      }
    }
  }
  setNumberResult(result, sum);
}

// SUMX2MY2, SUMX2PY2 and SUMXMY2: the sum of term(x, y) over the pairs of numbers.
template <double (*term)(double, double)>
void pairSumRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  const Value* xs = argumentAt(arguments, 0);
  const Value* ys = argumentAt(arguments, 1);
  if (xs == nullptr || ys == nullptr) return setErrorResult(result, kErrorValue);
  RangeSource x, y;
  if (!openSource(context, *xs, x, result) || !openSource(context, *ys, y, result)) return;
  const uint64_t count = uint64_t{x.columns()} * x.rows();
  if (count != uint64_t{y.columns()} * y.rows()) return setErrorResult(result, kErrorNA);
  double sum = 0;
  uint64_t pairs = 0;
  for (uint64_t i = 0; i < count; ++i) {
    const Value& a = x.at(uint32_t(i % x.columns()), uint32_t(i / x.columns()));
    const Value& b = y.at(uint32_t(i % y.columns()), uint32_t(i / y.columns()));
    if (a.isError()) {
      result = a;
      return;
    }
    if (b.isError()) {
      result = b;
      return;
    }
    if (a.isNumeric() && b.isNumeric()) {
      sum += term(a.number(), b.number());
      ++pairs;
    }
  }
  // The host program divides by nothing when not one pair has two numbers.
  if (pairs == 0) return setErrorResult(result, kErrorDiv0);
  setNumberResult(result, sum);
}

double squareDifference(double x, double y) { return x * x - y * y; }
double squareSum(double x, double y) { return x * x + y * y; }
double differenceSquare(double x, double y) { return (x - y) * (x - y); }

// The one-argument functions: a body from number to number, NaN for a domain error (#NUM!).
template <double (*body)(double)>
void unaryRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  double a[1];
  if (!readNumbers(context, arguments, a, {0}, result)) return;
  double y = body(a[0]);
  // Division by a zero sine or tangent (or their hyperbolic kin) is the division error.
  if (std::isinf(y)) return setErrorResult(result, kErrorDiv0);
  setNumberResult(result, y);
}

double secBody(double x) { return std::fabs(x) >= kTrigLimit ? kNaN : 1 / std::cos(x); }
double cscBody(double x) { return std::fabs(x) >= kTrigLimit ? kNaN : 1 / std::sin(x); }
double cotBody(double x) { return std::fabs(x) >= kTrigLimit ? kNaN : 1 / std::tan(x); }
double sechBody(double x) { return std::fabs(x) >= kTrigLimit ? kNaN : 1 / std::cosh(x); }
double cschBody(double x) { return std::fabs(x) >= kTrigLimit ? kNaN : 1 / std::sinh(x); }
double cothBody(double x) { return std::fabs(x) >= kTrigLimit ? kNaN : 1 / std::tanh(x); }
double acotBody(double x) { return kPi / 2 - std::atan(x); }
double acothBody(double x) { return std::fabs(x) <= 1 ? kNaN : std::atanh(1 / x); }

// A matrix of numbers, row after row.
struct Matrix {
  uint32_t rows = 0, columns = 0;
  std::vector<double> cells;
  double& at(uint32_t r, uint32_t c) { return cells[size_t(r) * columns + c]; }
};

// Reads an array-class argument as a matrix. False with the result set: the argument's error or
// the first error inside it, #VALUE! for a blank, text or boolean element or a missing argument.
bool readMatrix(CallContext& context, const Value* argument, Matrix& matrix, Value& result) {
  if (argument == nullptr) {
    setErrorResult(result, kErrorValue);
    return false;
  }
  RangeSource source;
  if (!openSource(context, *argument, source, result)) return false;
  if (uint64_t{source.rows()} * source.columns() > kMaxResultElements || source.rows() == 0 ||
      source.columns() == 0) {
    setErrorResult(result, kErrorValue);
    return false;
  }
  matrix.rows = source.rows();
  matrix.columns = source.columns();
  matrix.cells.assign(size_t(matrix.rows) * matrix.columns, 0);
  bool refused = false;
  for (uint32_t r = 0; r < matrix.rows; ++r) {
    for (uint32_t c = 0; c < matrix.columns; ++c) {
      const Value& element = source.at(c, r);
      if (element.isError()) {
        result = element;
        return false;
      }
      if (!element.isNumeric()) {
        refused = true;
      } else {
        matrix.at(r, c) = element.number();
      }
    }
  }
  if (refused) setErrorResult(result, kErrorValue);
  return !refused;
}

void setMatrixResult(Value& result, Matrix& matrix) {
  ValueArray out(matrix.columns, matrix.rows);
  for (uint32_t r = 0; r < matrix.rows; ++r) {
    for (uint32_t c = 0; c < matrix.columns; ++c) {
      double x = matrix.at(r, c);
      if (!std::isfinite(x)) return setErrorResult(result, kErrorNum);
      out.at(c, r).setNumber(x);
    }
  }
  result.setArray(std::move(out));
}

// Gaussian elimination with partial pivoting over a square matrix, carrying the rows of a
// companion matrix (the identity for the inverse, nothing for the determinant) along. Returns the
// determinant; 0 when a pivot is exactly 0, leaving the matrix half reduced.
double eliminate(Matrix& a, Matrix* companion) {
  const uint32_t n = a.rows;
  double determinant = 1;
  for (uint32_t k = 0; k < n; ++k) {
    uint32_t pivot = k;
    for (uint32_t r = k + 1; r < n; ++r) {
      if (std::fabs(a.at(r, k)) > std::fabs(a.at(pivot, k))) pivot = r;
    }
    if (a.at(pivot, k) == 0) return 0;
    if (pivot != k) {
      determinant = -determinant;
      for (uint32_t c = 0; c < n; ++c) {
        std::swap(a.at(k, c), a.at(pivot, c));
        if (companion) std::swap(companion->at(k, c), companion->at(pivot, c));
      }
    }
    const double p = a.at(k, k);
    determinant *= p;
    // Forward elimination for the determinant; the inverse clears above the pivot as well.
    for (uint32_t r = companion ? 0 : k + 1; r < n; ++r) {
      if (r == k || a.at(r, k) == 0) continue;
      const double factor = a.at(r, k) / p;
      for (uint32_t c = k; c < n; ++c) a.at(r, c) -= factor * a.at(k, c);
      if (companion) {
        for (uint32_t c = 0; c < n; ++c) companion->at(r, c) -= factor * companion->at(k, c);
      }
    }
  }
  if (companion) {
    for (uint32_t r = 0; r < n; ++r) {
      for (uint32_t c = 0; c < n; ++c) companion->at(r, c) /= a.at(r, r);
    }
  }
  return determinant;
}

void mdetermRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  Matrix a;
  if (!readMatrix(context, argumentAt(arguments, 0), a, result)) return;
  if (a.rows != a.columns) return setErrorResult(result, kErrorValue);
  setNumberResult(result, eliminate(a, nullptr));
}

void minverseRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  Matrix a;
  if (!readMatrix(context, argumentAt(arguments, 0), a, result)) return;
  if (a.rows != a.columns) return setErrorResult(result, kErrorValue);
  Matrix inverse;
  inverse.rows = inverse.columns = a.rows;
  inverse.cells.assign(a.cells.size(), 0);
  for (uint32_t i = 0; i < a.rows; ++i) inverse.at(i, i) = 1;
  if (eliminate(a, &inverse) == 0) return setErrorResult(result, kErrorNum);
  setMatrixResult(result, inverse);
}

void mmultRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  Matrix a, b;
  if (!readMatrix(context, argumentAt(arguments, 0), a, result) ||
      !readMatrix(context, argumentAt(arguments, 1), b, result)) {
    return;
  }
  if (a.columns != b.rows || uint64_t{a.rows} * b.columns > kMaxResultElements) {
    return setErrorResult(result, kErrorValue);
  }
  Matrix product;
  product.rows = a.rows;
  product.columns = b.columns;
  product.cells.assign(size_t(a.rows) * b.columns, 0);
  for (uint32_t r = 0; r < a.rows; ++r) {
    for (uint32_t k = 0; k < a.columns; ++k) {
      const double x = a.at(r, k);
      for (uint32_t c = 0; c < b.columns; ++c) product.at(r, c) += x * b.at(k, c);
    }
  }
  setMatrixResult(result, product);
}

void munitRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  double a[1];
  if (!readNumbers(context, arguments, a, {0}, result, kWhole)) return;
  if (a[0] < 1 || a[0] * a[0] > double(kMaxResultElements)) {
    return setErrorResult(result, kErrorValue);
  }
  const uint32_t n = uint32_t(a[0]);
  ValueArray out(n, n);
  for (uint32_t r = 0; r < n; ++r) {
    for (uint32_t c = 0; c < n; ++c) out.at(c, r).setInteger(r == c ? 1 : 0);
  }
  result.setArray(std::move(out));
}

// The text of a value argument: texts as they are, numbers and booleans as they show. False with
// the result set for an error.
bool readText(const Value* const* arguments, size_t position, std::u16string* out, Value& result) {
  const Value* argument = argumentAt(arguments, position);
  if (argument == nullptr || argument->isEmpty()) {
    out->clear();
    return true;
  }
  if (argument->isError()) {
    result = *argument;
    return false;
  }
  if (argument->isArray() || argument->isReference() || argument->isReferenceList()) {
    setErrorResult(result, kErrorValue);
    return false;
  }
  *out = toText(*argument);
  return true;
}

int romanDigit(char16_t unit) {
  switch (unit | 0x20) {
    case u'i':
      return 1;
    case u'v':
      return 5;
    case u'x':
      return 10;
    case u'l':
      return 50;
    case u'c':
      return 100;
    case u'd':
      return 500;
    case u'm':
      return 1000;
    default:
      return 0;
  }
}

// Reads any Roman numeral, the non-classic forms ROMAN writes included: a letter smaller than the
// one after it is taken away, any other added. A leading minus makes the number negative.
void arabicRoutine(CallContext&, const Value* const* arguments, Value& result) {
  std::u16string text;
  if (!readText(arguments, 0, &text, result)) return;
  if (text.size() > kMaxTextLength) return setErrorResult(result, kErrorValue);
  std::u16string_view numeral = trim(text, u" ");
  bool negative = !numeral.empty() && numeral.front() == u'-';
  if (negative) numeral.remove_prefix(1);
  double sum = 0;
  for (size_t i = 0; i < numeral.size(); ++i) {
    int digit = romanDigit(numeral[i]);
    if (digit == 0) return setErrorResult(result, kErrorValue);
    int next = i + 1 < numeral.size() ? romanDigit(numeral[i + 1]) : 0;
    sum += digit < next ? -digit : digit;
  }
  setNumberResult(result, negative ? -sum : sum);
}

// The numeral of n (0..3999) in form 0 (classic) to 4 (simplest). Each decimal digit is written
// as in the classic form, except a 4 or 9, which becomes one subtractive pair: the higher forms let
// the letter taken away reach further down (VL for 45, XD for 490, ID for 499), as long as the pair
// does not exceed what is left.
std::u16string romanNumeral(int n, int form) {
  static constexpr char16_t kLetters[] = u"MDCLXVI";
  static constexpr int kValues[] = {1000, 500, 100, 50, 10, 5, 1};
  constexpr int kLast = 6;
  std::u16string out;
  for (int index = 0; index <= kLast; index += 2) {
    int digit = n / kValues[index];
    if (digit % 5 == 4) {
      int larger = digit == 4 ? index - 1 : index - 2;
      int smaller = index;
      for (int step = 0; step < form && smaller < kLast; ++step) {
        if (kValues[larger] - kValues[smaller + 1] > n) break;
        ++smaller;
      }
      out += kLetters[smaller];
      out += kLetters[larger];
      n -= kValues[larger] - kValues[smaller];
      n %= kValues[smaller];
    } else {
      if (digit > 4) out += kLetters[index - 1];
      out.append(size_t(digit % 5), kLetters[index]);
      n %= kValues[index];
    }
  }
  return out;
}

void romanRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  double number = 0, form = 0;
  const Value* numberArgument = argumentAt(arguments, 0);
  if (numberArgument == nullptr || !numberOf(context, *numberArgument, kWhole, &number, result))
    return;
  const Value* formArgument = argumentAt(arguments, 1);
  if (formArgument != nullptr && formArgument->isBoolean()) {
    form = formArgument->boolean() ? 0 : 4;
  } else if (formArgument != nullptr && !numberOf(context, *formArgument, kWhole, &form, result)) {
    return;
  }
  if (number < 0 || number > 3999 || form < 0 || form > 4) {
    return setErrorResult(result, kErrorValue);
  }
  result.setText(romanNumeral(int(number), int(form)));
}

void baseRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  double a[3];
  if (!readNumbers(context, arguments, a, {0, 0, 0}, result, kWhole)) return;
  const double number = a[0], radix = a[1], length = a[2];
  if (number < 0 || number >= kWholeLimit || radix < 2 || radix > 36 || length < 0 ||
      length > kMaxTextLength) {
    return setErrorResult(result, kErrorNum);
  }
  std::u16string digits = number == 0 ? u"0" : u"";
  for (double rest = number; rest > 0; rest = std::floor(rest / radix)) {
    int digit = int(std::fmod(rest, radix));
    digits += char16_t(digit < 10 ? u'0' + digit : u'A' + digit - 10);
  }
  if (digits.size() < size_t(length)) digits.append(size_t(length) - digits.size(), u'0');
  std::reverse(digits.begin(), digits.end());
  result.setText(digits);
}

void decimalRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  std::u16string text;
  if (!readText(arguments, 0, &text, result)) return;
  double radix = 0;
  const Value* radixArgument = argumentAt(arguments, 1);
  if (radixArgument == nullptr || !numberOf(context, *radixArgument, kWhole, &radix, result))
    return;
  if (radix < 2 || radix > 36) return setErrorResult(result, kErrorNum);
  if (text.size() > kMaxTextLength) return setErrorResult(result, kErrorValue);
  double value = 0;
  for (char16_t unit : text) {
    int digit = isDigit(unit) ? unit - u'0' : isAsciiLetter(unit) ? (unit | 0x20) - u'a' + 10 : 99;
    if (digit >= radix) return setErrorResult(result, kErrorNum);
    value = value * radix + digit;
  }
  setNumberResult(result, value);
}

// RANDBETWEEN(bottom, top): a whole number from the bottom's ceiling to the top's floor, each
// with equal chance, drawn with the native RAND's generator.
void randBetweenRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  if (argumentCount(arguments) != 2) return setErrorResult(result, kErrorValue);
  double bounds[2];
  if (!readNumbers(context, arguments, bounds, {0, 0}, result)) return;
  const double low = std::ceil(bounds[0]), high = std::floor(bounds[1]);
  if (low > high) return setErrorResult(result, kErrorNum);
  const Value* none[] = {nullptr};
  Value draw;
  callNative(u"RAND", context, none, draw);
  double x = 0;
  if (!numberFromValue(draw, &x, result)) return;
  setNumberResult(result, std::min(high, low + std::floor(x * (high - low + 1))));
}

constexpr NativeEntry kHostMathFunctions[] = {
    {u"ACOT", unaryRoutine<acotBody>},
    {u"ACOTH", unaryRoutine<acothBody>},
    {u"ARABIC", arabicRoutine},
    {u"BASE", baseRoutine},
    {u"CEILING.MATH", roundMathRoutine<true>},
    {u"CEILING.PRECISE", roundPreciseRoutine<true>},
    {u"COMBINA", combinaRoutine},
    {u"COT", unaryRoutine<cotBody>},
    {u"COTH", unaryRoutine<cothBody>},
    {u"CSC", unaryRoutine<cscBody>},
    {u"CSCH", unaryRoutine<cschBody>},
    {u"DECIMAL", decimalRoutine},
    {u"FACTDOUBLE", factDoubleRoutine},
    {u"FLOOR.MATH", roundMathRoutine<false>},
    {u"FLOOR.PRECISE", roundPreciseRoutine<false>},
    {u"GCD", gcdRoutine},
    {u"ISO.CEILING", roundPreciseRoutine<true>},
    {u"LCM", lcmRoutine},
    {u"MDETERM", mdetermRoutine},
    {u"MINVERSE", minverseRoutine},
    {u"MMULT", mmultRoutine},
    {u"MROUND", mroundRoutine},
    {u"MULTINOMIAL", multinomialRoutine},
    {u"MUNIT", munitRoutine},
    {u"PERMUT", permutRoutine},
    {u"PERMUTATIONA", permutationaRoutine},
    {u"QUOTIENT", quotientRoutine},
    {u"RANDBETWEEN", randBetweenRoutine},
    {u"ROMAN", romanRoutine},
    {u"SEC", unaryRoutine<secBody>},
    {u"SECH", unaryRoutine<sechBody>},
    {u"SERIESSUM", seriesSumRoutine},
    {u"SUMSQ", sumSqRoutine},
    {u"SUMX2MY2", pairSumRoutine<squareDifference>},
    {u"SUMX2PY2", pairSumRoutine<squareSum>},
    {u"SUMXMY2", pairSumRoutine<differenceSquare>},
};

}  // namespace

NativeTable hostMathFunctions() { return kHostMathFunctions; }

}  // namespace korvel
