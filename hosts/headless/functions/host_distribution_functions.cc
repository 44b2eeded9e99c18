// The continuous distributions the headless program computes (beta, chi-square, exponential, F,
// gamma, log-normal, normal, Student's t, Weibull), their inverses, and the tests built on them
// (chi-square, F and t tests, CONFIDENCE.T). The distribution functions rest on the incomplete
// beta and gamma functions of special_functions.h:
//   chi-square(x; k)  = P(k/2, x/2)
//   F(x; m, n)        = I_u(m/2, n/2) with u = m x / (m x + n)
//   t(t; n), 2 tails  = I_v(n/2, 1/2) with v = n / (n + t^2)
// The inverses are Newton on the distribution itself (special_functions.h), so a value taken
// back through its distribution returns the probability to about 15 digits.
//
// Rules matched, and why:
// - Arguments are read in order; the first that is no number is the result (#VALUE! for a text
//   that reads as no number or date). The cumulative flag is any number, nonzero meaning TRUE, or
//   the text "TRUE" or "FALSE" in any case.
// - Degrees of freedom, the tails and type of the t tests and CONFIDENCE.T's size are truncated
//   toward zero. Degrees of freedom below 1 are #NUM!, as are those of 1e10 and above for the
//   chi-square and F functions, where the host program stops.
// - Inverses are #NUM! for probabilities outside [0, 1] and where the answer is infinite (the
//   lower tail 1, the upper tail 0); T.INV and T.INV.2T refuse the probability 0, and BETA.INV
//   and LOGNORM.INV both ends, as the host program does.
// - Densities with a pole at the point asked (the beta at its end with a shape below 1, the
//   chi-square of 1 degree at 0) are #NUM!.
// - CHISQ.TEST wants ranges of one shape (#N/A otherwise) and reads pairs of numbers, passing over
//   pairs with anything else; an expected 0 is #DIV/0!, a negative one #NUM!. Its degrees of
//   freedom are those of the shape: n - 1 for a single row or column, (rows - 1)(columns - 1)
//   otherwise, and #N/A when there are none.
// - F.TEST and the unpaired T.TEST read the numbers of their ranges as VAR does; fewer than two on
//   a side, or no variance, is #DIV/0!. The paired T.TEST wants as many cells on both sides (#N/A
//   otherwise) and pairs them in reading order, passing over pairs that are not two numbers. The
//   unequal-variance test keeps Welch's fractional degrees of freedom.
// - The lower normal tail below -5 comes from erfc: the shared normal integral stores Phi - 1/2,
//   whose deep lower tail is a difference of nearly equal numbers.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "engine/engine.h"
#include "engine/value.h"
#include "engine/value_convert.h"
#include "functions/arguments.h"
#include "functions/criteria.h"
#include "functions/statistics.h"
#include "hosts/headless/functions/host_arguments.h"
#include "hosts/headless/functions/host_functions.h"
#include "hosts/headless/functions/special_functions.h"
#include "util/text.h"

namespace korvel {
namespace {

constexpr double kInverseRootTwoPi = 0.3989422804014327;
constexpr double kInverseRootTwo = 0.7071067811865476;
// The host program's bound on the degrees of freedom of the chi-square and F functions.
constexpr double kDegreesLimit = 1e10;

// The arguments from position first on, in order; absent ones keep the value out holds. The
// argument at flagAt is a cumulative flag, which may also be the text "TRUE" or "FALSE" in any
// case, as the host program reads it.
template <size_t count>
bool readNumbers(const CallContext& context, const Value* const* arguments, double (&out)[count],
                 Value& result, size_t first = 0, size_t flagAt = SIZE_MAX) {
  for (size_t i = 0; i < count; ++i) {
    const Value* argument = argumentAt(arguments, first + i);
    if (argument == nullptr) continue;
    if (first + i == flagAt && argument->isText()) {
      if (equalsNoCase(argument->text(), u"TRUE") || equalsNoCase(argument->text(), u"FALSE")) {
        out[i] = equalsNoCase(argument->text(), u"TRUE") ? 1 : 0;
        continue;
      }
    }
    if (!hostNumberOf(context, *argument, &out[i], result)) return false;
  }
  return true;
}

void setNum(Value& result) { setErrorResult(result, kErrorNum); }

// Truncated degrees of freedom; false when below 1 or not below limit.
bool degrees(double value, double limit, double* out) {
  *out = std::trunc(value);
  return *out >= 1 && *out < limit;
}

// A probability argument of an inverse: false (#NUM!) outside [0, 1], or at an end where the
// inverse is refused.
bool probability(double p, bool zeroAllowed, bool oneAllowed) {
  return (zeroAllowed ? p >= 0 : p > 0) && (oneAllowed ? p <= 1 : p < 1);
}

// ---------------------------------------------------------------------------------------------
// Normal and log-normal.

double normalLower(double z) {
  if (z < -5) return 0.5 * std::erfc(-z * kInverseRootTwo);
  return normalIntegral(z) + 0.5;
}

double normalDensity(double z) { return kInverseRootTwoPi * std::exp(-0.5 * z * z); }

// NORM.DIST and NORMDIST: x, mean, deviation, cumulative.
void normDist(CallContext& context, const Value* const* arguments, Value& result) {
  double a[4] = {0, 0, 0, 0};
  if (!readNumbers(context, arguments, a, result, 0, 3)) return;
  if (!(a[2] > 0)) return setNum(result);
  double z = (a[0] - a[1]) / a[2];
  setNumberResult(result, a[3] != 0 ? normalLower(z) : normalDensity(z) / a[2]);
}

// NORM.S.DIST: z, cumulative; the cumulative form is the native NORMSDIST.
void normSDist(CallContext& context, const Value* const* arguments, Value& result) {
  double a[2] = {0, 0};
  if (!readNumbers(context, arguments, a, result, 0, 1)) return;
  if (a[1] != 0) {
    const Value* first[] = {arguments[0], nullptr};
    callNative(u"NORMSDIST", context, first, result);
    return;
  }
  setNumberResult(result, normalDensity(a[0]));
}

void normInv(CallContext& context, const Value* const* arguments, Value& result) {
  callNative(u"NORMINV", context, arguments, result);
}

void normSInv(CallContext& context, const Value* const* arguments, Value& result) {
  callNative(u"NORMSINV", context, arguments, result);
}

void phi(CallContext& context, const Value* const* arguments, Value& result) {
  double a[1] = {0};
  if (readNumbers(context, arguments, a, result)) setNumberResult(result, normalDensity(a[0]));
}

void gauss(CallContext& context, const Value* const* arguments, Value& result) {
  double a[1] = {0};
  if (readNumbers(context, arguments, a, result)) setNumberResult(result, normalIntegral(a[0]));
}

// LOGNORM.DIST (cumulative flag as the fourth argument) and LOGNORMDIST (always cumulative).
void lognormDist(CallContext& context, const Value* const* arguments, Value& result) {
  double a[4] = {0, 0, 0, 1};
  if (!readNumbers(context, arguments, a, result, 0, 3)) return;
  if (!(a[0] > 0) || !(a[2] > 0)) return setNum(result);
  double z = (std::log(a[0]) - a[1]) / a[2];
  setNumberResult(result, a[3] != 0 ? normalLower(z) : normalDensity(z) / (a[2] * a[0]));
}

// LOGNORM.INV and LOGINV: probability, mean, deviation.
void lognormInv(CallContext& context, const Value* const* arguments, Value& result) {
  double a[3] = {0, 0, 0};
  if (!readNumbers(context, arguments, a, result)) return;
  if (!probability(a[0], false, false) || !(a[2] > 0)) return setNum(result);
  setNumberResult(result, std::exp(normalQuantile(a[0], a[1], a[2])));
}

// ---------------------------------------------------------------------------------------------
// Exponential and Weibull.

// EXPON.DIST and EXPONDIST: x, lambda, cumulative.
void exponDist(CallContext& context, const Value* const* arguments, Value& result) {
  double a[3] = {0, 0, 0};
  if (!readNumbers(context, arguments, a, result, 0, 2)) return;
  double x = a[0], lambda = a[1];
  if (x < 0 || !(lambda > 0)) return setNum(result);
  setNumberResult(result, a[2] != 0 ? -std::expm1(-lambda * x) : lambda * std::exp(-lambda * x));
}

// WEIBULL and WEIBULL.DIST: x, shape, scale, cumulative.
void weibullDist(CallContext& context, const Value* const* arguments, Value& result) {
  double a[4] = {0, 0, 0, 0};
  if (!readNumbers(context, arguments, a, result, 0, 3)) return;
  double x = a[0], shape = a[1], scale = a[2];
  if (x < 0 || !(shape > 0) || !(scale > 0)) return setNum(result);
  double z = std::pow(x / scale, shape);
  if (a[3] != 0) return setNumberResult(result, -std::expm1(-z));
  setNumberResult(result, shape / scale * std::pow(x / scale, shape - 1) * std::exp(-z));
}

// ---------------------------------------------------------------------------------------------
// Beta.

// The bounds A and B (arguments from first on, 0 and 1 when absent): false unless A < B.
bool readBounds(const CallContext& context, const Value* const* arguments, size_t first,
                double* low, double* high, Value& result) {
  double bounds[2] = {0, 1};
  if (!readNumbers(context, arguments, bounds, result, first)) return false;
  *low = bounds[0];
  *high = bounds[1];
  if (!(*low < *high)) {
    setNum(result);
    return false;
  }
  return true;
}

// BETA.DIST (x, alpha, beta, cumulative, A, B) and BETADIST (x, alpha, beta, A, B).
template <bool withFlag>
void betaDist(CallContext& context, const Value* const* arguments, Value& result) {
  double a[4] = {0, 0, 0, 1};
  if (!readNumbers(context, arguments, a, result, 0, withFlag ? 3 : SIZE_MAX)) return;
  constexpr size_t kBoundsAt = withFlag ? 4 : 3;
  double low = 0, high = 1;
  // BETADIST's fourth argument is A, read as a bound below.
  double x = a[0], alpha = a[1], beta = a[2], cumulative = withFlag ? a[3] : 1;
  if (!readBounds(context, arguments, kBoundsAt, &low, &high, result)) return;
  if (!(alpha > 0) || !(beta > 0) || x < low || x > high) return setNum(result);
  double width = high - low;
  double u = (x - low) / width, v = (high - x) / width;
  if (cumulative != 0) return setNumberResult(result, incompleteBeta(alpha, beta, u, v).lower);
  setNumberResult(result, betaDensity(alpha, beta, u, v) / width);
}

// BETA.INV and BETAINV: probability, alpha, beta, A, B.
void betaInv(CallContext& context, const Value* const* arguments, Value& result) {
  double a[3] = {0, 0, 0};
  if (!readNumbers(context, arguments, a, result)) return;
  double low = 0, high = 1;
  if (!readBounds(context, arguments, 3, &low, &high, result)) return;
  if (!probability(a[0], false, false) || !(a[1] > 0) || !(a[2] > 0)) return setNum(result);
  setNumberResult(result, low + (high - low) * inverseIncompleteBeta(a[1], a[2], a[0], false));
}

// ---------------------------------------------------------------------------------------------
// Gamma and chi-square.

void gammaFunction(CallContext& context, const Value* const* arguments, Value& result) {
  double a[1] = {0};
  if (!readNumbers(context, arguments, a, result)) return;
  if (a[0] <= 0 && a[0] == std::floor(a[0])) return setNum(result);
  setNumberResult(result, std::tgamma(a[0]));
}

// GAMMALN and GAMMALN.PRECISE.
void gammaLn(CallContext& context, const Value* const* arguments, Value& result) {
  double a[1] = {0};
  if (!readNumbers(context, arguments, a, result)) return;
  if (!(a[0] > 0)) return setNum(result);
  setNumberResult(result, logGamma(a[0]));
}

// GAMMA.DIST and GAMMADIST: x, alpha, beta, cumulative.
void gammaDist(CallContext& context, const Value* const* arguments, Value& result) {
  double a[4] = {0, 0, 0, 0};
  if (!readNumbers(context, arguments, a, result, 0, 3)) return;
  double x = a[0], shape = a[1], scale = a[2];
  if (x < 0 || !(shape > 0) || !(scale > 0)) return setNum(result);
  if (a[3] != 0) return setNumberResult(result, incompleteGamma(shape, x / scale).lower);
  setNumberResult(result, gammaDensity(shape, x / scale) / scale);
}

// GAMMA.INV and GAMMAINV: probability, alpha, beta.
void gammaInv(CallContext& context, const Value* const* arguments, Value& result) {
  double a[3] = {0, 0, 0};
  if (!readNumbers(context, arguments, a, result)) return;
  if (!probability(a[0], true, true) || !(a[1] > 0) || !(a[2] > 0)) return setNum(result);
  setNumberResult(result, a[2] * inverseIncompleteGamma(a[1], a[0], false));
}

// x, the truncated degrees of freedom of the chi-square functions and the argument after them
// (CHISQ.DIST's flag) when given; x is not checked.
bool readChiSquare(const CallContext& context, const Value* const* arguments, double* x, double* k,
                   Value& result, double* flag = nullptr) {
  double a[3] = {0, 0, 0};
  if (!readNumbers(context, arguments, a, result, 0, 2)) return false;
  *x = a[0];
  if (flag != nullptr) *flag = a[2];
  if (!degrees(a[1], kDegreesLimit, k)) {
    setNum(result);
    return false;
  }
  return true;
}

// CHISQ.DIST: x, degrees, cumulative.
void chisqDist(CallContext& context, const Value* const* arguments, Value& result) {
  double x = 0, k = 0, flag = 0;
  if (!readChiSquare(context, arguments, &x, &k, result, &flag)) return;
  if (x < 0) return setNum(result);
  if (flag != 0) return setNumberResult(result, incompleteGamma(k / 2, x / 2).lower);
  setNumberResult(result, gammaDensity(k / 2, x / 2) / 2);
}

// CHIDIST and CHISQ.DIST.RT: x, degrees.
void chisqDistRt(CallContext& context, const Value* const* arguments, Value& result) {
  double x = 0, k = 0;
  if (!readChiSquare(context, arguments, &x, &k, result)) return;
  if (x < 0) return setNum(result);
  setNumberResult(result, incompleteGamma(k / 2, x / 2).upper);
}

// CHISQ.INV (lower tail) and CHIINV, CHISQ.INV.RT (upper tail): probability, degrees.
template <bool upper>
void chisqInv(CallContext& context, const Value* const* arguments, Value& result) {
  double p = 0, k = 0;
  if (!readChiSquare(context, arguments, &p, &k, result)) return;
  if (!probability(p, true, true)) return setNum(result);
  setNumberResult(result, 2 * inverseIncompleteGamma(k / 2, p, upper));
}

// ---------------------------------------------------------------------------------------------
// F.

struct FDegrees {
  double m, n;
};

Tails fTails(FDegrees d, double x) {
  double r = d.m * x / d.n;
  return incompleteBeta(d.m / 2, d.n / 2, 1 / (1 + 1 / r), 1 / (1 + r));
}

double fDensity(FDegrees d, double x) {
  double r = d.m * x / d.n;
  double v = 1 / (1 + r);
  return betaDensity(d.m / 2, d.n / 2, 1 / (1 + 1 / r), v) * (d.m / d.n) * v * v;
}

// x (first argument), the two truncated degrees of freedom that follow it and the argument after
// them (F.DIST's flag) when given.
bool readF(const CallContext& context, const Value* const* arguments, double* x, FDegrees* d,
           Value& result, double* flag = nullptr) {
  double a[4] = {0, 0, 0, 0};
  if (!readNumbers(context, arguments, a, result, 0, 3)) return false;
  *x = a[0];
  if (flag != nullptr) *flag = a[3];
  if (!degrees(a[1], kDegreesLimit, &d->m) || !degrees(a[2], kDegreesLimit, &d->n)) {
    setNum(result);
    return false;
  }
  return true;
}

// F.DIST: x, degrees, degrees, cumulative.
void fDist(CallContext& context, const Value* const* arguments, Value& result) {
  double x = 0, flag = 0;
  FDegrees d{};
  if (!readF(context, arguments, &x, &d, result, &flag)) return;
  if (x < 0) return setNum(result);
  setNumberResult(result, flag != 0 ? fTails(d, x).lower : fDensity(d, x));
}

// FDIST and F.DIST.RT: x, degrees, degrees.
void fDistRt(CallContext& context, const Value* const* arguments, Value& result) {
  double x = 0;
  FDegrees d{};
  if (!readF(context, arguments, &x, &d, result)) return;
  if (x < 0) return setNum(result);
  setNumberResult(result, fTails(d, x).upper);
}

double fInverse(FDegrees d, double p, bool upper) {
  if ((upper ? 1 - p : p) == 0) return 0;
  if ((upper ? p : 1 - p) == 0) return HUGE_VAL;
  double u = inverseIncompleteBeta(d.m / 2, d.n / 2, p, upper);
  double start = d.n / d.m * u / (1 - u);
  return invertDistribution([&](double x) { return fTails(d, x); },
                            [&](double x) { return fDensity(d, x); }, p, upper, start, 0, HUGE_VAL);
}

// F.INV (lower tail) and FINV, F.INV.RT (upper tail): probability, degrees, degrees.
template <bool upper>
void fInv(CallContext& context, const Value* const* arguments, Value& result) {
  double p = 0;
  FDegrees d{};
  if (!readF(context, arguments, &p, &d, result)) return;
  if (!probability(p, true, true)) return setNum(result);
  setNumberResult(result, fInverse(d, p, upper));
}

// ---------------------------------------------------------------------------------------------
// Student's t.

Tails tTails(double n, double t) {
  double r = t * t / n;
  // The probability beyond |t| on one side.
  double beyond = 0.5 * incompleteBeta(n / 2, 0.5, 1 / (1 + r), 1 / (1 + 1 / r)).lower;
  return t >= 0 ? Tails{1 - beyond, beyond} : Tails{beyond, 1 - beyond};
}

double tDensity(double n, double t) {
  return std::exp(-logBeta(n / 2, 0.5) - 0.5 * std::log(n) - (n + 1) / 2 * std::log1p(t * t / n));
}

// The t >= 0 whose upper tail is q (0 < q <= 0.5).
double tUpperInverse(double n, double q) {
  if (q >= 0.5) return 0;
  double v = inverseIncompleteBeta(n / 2, 0.5, 2 * q, false);
  double start = std::sqrt(n * (1 - v) / v);
  return invertDistribution([&](double t) { return tTails(n, t); },
                            [&](double t) { return tDensity(n, t); }, q, true, start, 0, HUGE_VAL);
}

// t (first argument), the truncated degrees of freedom and the argument after them (T.DIST's
// flag, TDIST's tails) when given.
bool readT(const CallContext& context, const Value* const* arguments, double* t, double* n,
           Value& result, double* third = nullptr, bool thirdIsFlag = false) {
  double a[3] = {0, 0, 0};
  if (!readNumbers(context, arguments, a, result, 0, thirdIsFlag ? 2 : SIZE_MAX)) return false;
  *t = a[0];
  if (third != nullptr) *third = a[2];
  if (!degrees(a[1], HUGE_VAL, n)) {
    setNum(result);
    return false;
  }
  return true;
}

// T.DIST: t, degrees, cumulative.
void tDist(CallContext& context, const Value* const* arguments, Value& result) {
  double t = 0, n = 0, flag = 0;
  if (!readT(context, arguments, &t, &n, result, &flag, true)) return;
  setNumberResult(result, flag != 0 ? tTails(n, t).lower : tDensity(n, t));
}

void tDistRt(CallContext& context, const Value* const* arguments, Value& result) {
  double t = 0, n = 0;
  if (readT(context, arguments, &t, &n, result)) setNumberResult(result, tTails(n, t).upper);
}

void tDist2T(CallContext& context, const Value* const* arguments, Value& result) {
  double t = 0, n = 0;
  if (!readT(context, arguments, &t, &n, result)) return;
  if (t < 0) return setNum(result);
  setNumberResult(result, 2 * tTails(n, t).upper);
}

// TDIST: x, degrees, tails.
void tdist(CallContext& context, const Value* const* arguments, Value& result) {
  double t = 0, n = 0, tails = 0;
  if (!readT(context, arguments, &t, &n, result, &tails)) return;
  tails = std::trunc(tails);
  if (t < 0 || (tails != 1 && tails != 2)) return setNum(result);
  setNumberResult(result, tails * tTails(n, t).upper);
}

// T.INV: the t whose lower tail is p.
void tInv(CallContext& context, const Value* const* arguments, Value& result) {
  double p = 0, n = 0;
  if (!readT(context, arguments, &p, &n, result)) return;
  if (!probability(p, false, false)) return setNum(result);
  setNumberResult(result, p < 0.5 ? -tUpperInverse(n, p) : tUpperInverse(n, 1 - p));
}

// T.INV.2T and TINV: the t >= 0 whose two tails together are p.
void tInv2T(CallContext& context, const Value* const* arguments, Value& result) {
  double p = 0, n = 0;
  if (!readT(context, arguments, &p, &n, result)) return;
  if (!probability(p, false, true)) return setNum(result);
  setNumberResult(result, tUpperInverse(n, p / 2));
}

// CONFIDENCE.T: alpha, deviation, size.
void confidenceT(CallContext& context, const Value* const* arguments, Value& result) {
  double a[3] = {0, 0, 0};
  if (!readNumbers(context, arguments, a, result)) return;
  double alpha = a[0], sd = a[1], size = std::trunc(a[2]);
  if (!(alpha > 0 && alpha < 1) || !(sd > 0) || size < 1) return setNum(result);
  if (size == 1) return setErrorResult(result, kErrorDiv0);
  setNumberResult(result, tUpperInverse(size - 1, alpha / 2) * sd / std::sqrt(size));
}

// ---------------------------------------------------------------------------------------------
// The tests.

// Mean and sample variance of numbers (at least two).
void meanAndVariance(const std::vector<double>& x, double* mean, double* variance) {
  double sum = 0;
  for (double v : x) sum += v;
  *mean = sum / double(x.size());
  double squares = 0;
  for (double v : x) squares += (v - *mean) * (v - *mean);
  *variance = squares / double(x.size() - 1);
}

// The numbers of arguments 0 and 1; false with the result set at an error.
bool readSamples(const CallContext& context, const Value* const* arguments, std::vector<double>& x,
                 std::vector<double>& y, Value& result) {
  for (int i = 0; i < 2; ++i) {
    const Value* argument = argumentAt(arguments, size_t(i));
    Value error;
    if (argument == nullptr || !collectNumbers(context, *argument, i == 0 ? x : y, &error)) {
      if (argument == nullptr) error.setError(kErrorValue);
      result = error;
      return false;
    }
  }
  return true;
}

// Visits the cells of two same-sized sources in reading order as (first, second) pairs, until
// visit returns false. Positions below the last stored rows of both are empty and not visited.
template <typename Visit>
bool forEachPair(const RangeSource& a, const RangeSource& b, Visit&& visit) {
  uint64_t count = uint64_t{a.columns()} * a.rows();
  bool sameShape = a.columns() == b.columns() && a.rows() == b.rows();
  uint64_t rows = a.rows();
  if (sameShape) {
    int64_t last = -1;
    for (uint32_t c = 0; c < a.columns(); ++c) last = std::max({last, a.lastRow(c), b.lastRow(c)});
    rows = uint64_t(last + 1);
  }
  for (uint64_t i = 0; i < count; ++i) {
    uint32_t ar = uint32_t(i / a.columns()), ac = uint32_t(i % a.columns());
    if (sameShape && ar >= rows) break;
    uint32_t br = uint32_t(i / b.columns()), bc = uint32_t(i % b.columns());
    if (!visit(a.at(ac, ar), b.at(bc, br))) return false;
  }
  return true;
}

// Two array arguments as sources; false with #VALUE! or the argument's error otherwise.
bool readSources(const CallContext& context, const Value* const* arguments, RangeSource& a,
                 RangeSource& b, Value& result) {
  for (int i = 0; i < 2; ++i) {
    const Value* argument = argumentAt(arguments, size_t(i));
    if (argument == nullptr || !(i == 0 ? a : b).assign(context, *argument)) {
      if (argument != nullptr && isErrorLike(*argument)) {
        result = *argument;
      } else {
        setErrorResult(result,
                       argument != nullptr && argument->isReference() ? kErrorRef : kErrorValue);
      }
      return false;
    }
  }
  return true;
}

// CHISQ.TEST and CHITEST: actual, expected.
void chisqTest(CallContext& context, const Value* const* arguments, Value& result) {
  RangeSource actual, expected;
  if (!readSources(context, arguments, actual, expected, result)) return;
  if (actual.columns() != expected.columns() || actual.rows() != expected.rows()) {
    return setErrorResult(result, kErrorNA);
  }
  double statistic = 0;
  uint32_t failure = 0;
  Value error;
  bool complete = forEachPair(actual, expected, [&](const Value& o, const Value& e) {
    if (isErrorLike(o) || isErrorLike(e)) {
      error = isErrorLike(o) ? o : e;
      return false;
    }
    if (!o.isNumeric() || !e.isNumeric()) return true;
    double expect = e.number();
    if (expect <= 0) {
      failure = expect == 0 ? kErrorDiv0 : kErrorNum;
      return false;
    }
    double d = o.number() - expect;
    statistic += d * d / expect;
    return true;
  });
  if (!complete) {
    if (failure != 0) return setErrorResult(result, failure);
    double ignored = 0;
    return setErrorResult(result, numberOrError(error, &ignored));
  }
  double rows = actual.rows(), columns = actual.columns();
  double k = rows == 1 || columns == 1 ? rows * columns - 1 : (rows - 1) * (columns - 1);
  if (k < 1) return setErrorResult(result, kErrorNA);
  setNumberResult(result, incompleteGamma(k / 2, statistic / 2).upper);
}

// F.TEST and FTEST: the two-tailed probability that the variances do not differ.
void fTest(CallContext& context, const Value* const* arguments, Value& result) {
  std::vector<double> x, y;
  if (!readSamples(context, arguments, x, y, result)) return;
  if (x.size() < 2 || y.size() < 2) return setErrorResult(result, kErrorDiv0);
  double mx = 0, vx = 0, my = 0, vy = 0;
  meanAndVariance(x, &mx, &vx);
  meanAndVariance(y, &my, &vy);
  if (vx == 0 || vy == 0) return setErrorResult(result, kErrorDiv0);
  FDegrees d{double(x.size() - 1), double(y.size() - 1)};
  Tails tails = fTails(d, vx / vy);
  setNumberResult(result, 2 * std::min(tails.lower, tails.upper));
}

// The t statistic and degrees of freedom of the paired test.
bool pairedT(const CallContext& context, const Value* const* arguments, double* t, double* n,
             Value& result) {
  RangeSource a, b;
  if (!readSources(context, arguments, a, b, result)) return false;
  if (uint64_t{a.columns()} * a.rows() != uint64_t{b.columns()} * b.rows()) {
    setErrorResult(result, kErrorNA);
    return false;
  }
  std::vector<double> differences;
  uint32_t code = 0;
  forEachPair(a, b, [&](const Value& u, const Value& v) {
    if (isErrorLike(u) || isErrorLike(v)) {
      double ignored = 0;
      code = numberOrError(isErrorLike(u) ? u : v, &ignored);
      return false;
    }
    if (u.isNumeric() && v.isNumeric()) differences.push_back(u.number() - v.number());
    return true;
  });
  if (code != 0) {
    setErrorResult(result, code);
    return false;
  }
  if (differences.size() < 2) {
    setErrorResult(result, kErrorDiv0);
    return false;
  }
  double mean = 0, variance = 0;
  meanAndVariance(differences, &mean, &variance);
  if (variance == 0) {
    setErrorResult(result, kErrorDiv0);
    return false;
  }
  *n = double(differences.size() - 1);
  *t = mean / std::sqrt(variance / double(differences.size()));
  return true;
}

// The t statistic and degrees of freedom of the two-sample tests (Welch's when unequal).
bool twoSampleT(const CallContext& context, const Value* const* arguments, bool equalVariances,
                double* t, double* n, Value& result) {
  std::vector<double> x, y;
  if (!readSamples(context, arguments, x, y, result)) return false;
  if (x.size() < 2 || y.size() < 2) {
    setErrorResult(result, kErrorDiv0);
    return false;
  }
  double mx = 0, vx = 0, my = 0, vy = 0;
  meanAndVariance(x, &mx, &vx);
  meanAndVariance(y, &my, &vy);
  double nx = double(x.size()), ny = double(y.size());
  double se2 = 0;
  if (equalVariances) {
    *n = nx + ny - 2;
    se2 = ((nx - 1) * vx + (ny - 1) * vy) / *n * (1 / nx + 1 / ny);
  } else {
    double ex = vx / nx, ey = vy / ny;
    se2 = ex + ey;
    *n = se2 * se2 / (ex * ex / (nx - 1) + ey * ey / (ny - 1));
  }
  if (!(se2 > 0)) {
    setErrorResult(result, kErrorDiv0);
    return false;
  }
  *t = (mx - my) / std::sqrt(se2);
  return true;
}

// T.TEST and TTEST: array1, array2, tails, type.
void tTest(CallContext& context, const Value* const* arguments, Value& result) {
  double a[2] = {0, 0};
  if (!readNumbers(context, arguments, a, result, 2)) return;
  double tails = std::trunc(a[0]), type = std::trunc(a[1]);
  if ((tails != 1 && tails != 2) || type < 1 || type > 3) return setNum(result);
  double t = 0, n = 0;
  bool ok = type == 1 ? pairedT(context, arguments, &t, &n, result)
                      : twoSampleT(context, arguments, type == 2, &t, &n, result);
  if (!ok) return;
  setNumberResult(result, tails * tTails(n, std::fabs(t)).upper);
}

constexpr NativeEntry kDistributionFunctions[] = {
    {u"BETA.DIST", betaDist<true>},
    {u"BETA.INV", betaInv},
    {u"BETADIST", betaDist<false>},
    {u"BETAINV", betaInv},
    {u"CHIDIST", chisqDistRt},
    {u"CHIINV", chisqInv<true>},
    {u"CHISQ.DIST", chisqDist},
    {u"CHISQ.DIST.RT", chisqDistRt},
    {u"CHISQ.INV", chisqInv<false>},
    {u"CHISQ.INV.RT", chisqInv<true>},
    {u"CHISQ.TEST", chisqTest},
    {u"CHITEST", chisqTest},
    {u"CONFIDENCE.T", confidenceT},
    {u"EXPON.DIST", exponDist},
    {u"EXPONDIST", exponDist},
    {u"F.DIST", fDist},
    {u"F.DIST.RT", fDistRt},
    {u"F.INV", fInv<false>},
    {u"F.INV.RT", fInv<true>},
    {u"F.TEST", fTest},
    {u"FDIST", fDistRt},
    {u"FINV", fInv<true>},
    {u"FTEST", fTest},
    {u"GAMMA", gammaFunction},
    {u"GAMMA.DIST", gammaDist},
    {u"GAMMA.INV", gammaInv},
    {u"GAMMADIST", gammaDist},
    {u"GAMMAINV", gammaInv},
    {u"GAMMALN", gammaLn},
    {u"GAMMALN.PRECISE", gammaLn},
    {u"GAUSS", gauss},
    {u"LOGINV", lognormInv},
    {u"LOGNORM.DIST", lognormDist},
    {u"LOGNORM.INV", lognormInv},
    {u"LOGNORMDIST", lognormDist},
    {u"NORM.DIST", normDist},
    {u"NORM.INV", normInv},
    {u"NORM.S.DIST", normSDist},
    {u"NORM.S.INV", normSInv},
    {u"NORMDIST", normDist},
    {u"PHI", phi},
    {u"T.DIST", tDist},
    {u"T.DIST.2T", tDist2T},
    {u"T.DIST.RT", tDistRt},
    {u"T.INV", tInv},
    {u"T.INV.2T", tInv2T},
    {u"T.TEST", tTest},
    {u"TDIST", tdist},
    {u"TINV", tInv2T},
    {u"TTEST", tTest},
    {u"WEIBULL", weibullDist},
    {u"WEIBULL.DIST", weibullDist},
};

}  // namespace

NativeTable hostDistributionFunctions() { return NativeTable(kDistributionFunctions); }

}  // namespace korvel
