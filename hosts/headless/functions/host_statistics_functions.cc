// The statistical functions the headless program computes: descriptive statistics (deviations,
// means, moments, percentiles, quartiles, ranks, modes, trimmed means), the normal tests and
// confidence intervals, and the discrete distributions (binomial, hypergeometric, negative
// binomial, Poisson). The newer names of natives (STDEV.S, VAR.P, MODE.SNGL, RANK.EQ, ...) call
// the natives.
//
// Algorithms:
// - The probabilities of the discrete distributions follow Loader's saddle-point expansion
//   ("Fast and accurate computation of binomial probabilities", 2000): a probability is
//   exp(-stirlerr terms - bd0 terms) / sqrt(2 pi x ...), where stirlerr(n) = ln n! - ln(sqrt(2 pi
//   n) (n/e)^n) comes from n! itself up to 15 and from its asymptotic series beyond, and bd0(x, m)
//   = x ln(x/m) + m - x from a series when x is near m. Nothing subtracts large logarithms, so the
//   terms keep about 15 digits for any number of trials. The hypergeometric probability is the
//   ratio of three binomial ones at p = n / N, the negative binomial one a binomial one scaled by
//   s / (s + f).
// - Cumulative probabilities and ranges add the terms outward from the distribution's mode, the
//   largest first; each walk stops once its terms no longer change the sum. The work is a small
//   multiple of the standard deviation, not of the number of trials.
// - BINOM.INV and CRITBINOM start from the normal approximation's count and walk one term at a
//   time to the smallest count whose cumulative probability reaches alpha.
// - GEOMEAN multiplies the numbers keeping the binary exponent apart and takes the root of the
//   mantissa and of the exponent separately, so a long list neither overflows nor loses digits to
//   logarithms.
// - The moments (KURT, SKEW, SKEW.P) work on deviations from the mean computed first.
//
// Choices where the rules leave room, and why:
// - Aggregate-style functions (AVEDEV, DEVSQ, GEOMEAN, HARMEAN, KURT, SKEW, SKEW.P) and the data of
//   the percentile family count numbers, booleans (1 or 0) and texts that read as numbers when
//   given directly; a missing argument counts as 0. Inside references and arrays only numbers
//   count. Any other text given directly is #VALUE!; the first error met is the result.
// - Counts (trials, successes, sample sizes, quartiles, significance) are truncated toward zero.
//   Counts of 2^52 and more have no units left and are #NUM!.
// - PERCENTRANK cuts its answer to the significant digits asked for (it does not round), after
//   the answer is rounded to 15 digits, so 0.3 stays 0.3 instead of falling to 0.299.
// - Z.TEST is 1 - NORM.S.DIST(z) as the program defines it, with the standard deviation of the
//   sample when none is given.
// - PROB passes over pairs in which either side is not a number (#DIV/0! when none is left); a
//   probability outside 0..1, or probabilities that do not add up to 1 (within rounding), are
//   #NUM!; ranges of different sizes are #N/A.
// - MODE.MULT answers every most frequent number (met at least twice) in the order the numbers
//   are first met, as one column; it reads its arguments as MODE does.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <vector>

#include "engine/engine.h"
#include "engine/value.h"
#include "engine/value_convert.h"
#include "functions/arguments.h"
#include "functions/criteria.h"
#include "functions/statistics.h"
#include "hosts/headless/functions/host_arguments.h"
#include "hosts/headless/functions/host_functions.h"
#include "model/address.h"
#include "util/text.h"

namespace korvel {
namespace {

constexpr double kTwoPi = 6.283185307179586;
// Counts from here on have lost their unit digit (and the walks over them could not step).
constexpr double kCountLimit = 4503599627370496.0;  // 2^52

// ---------------------------------------------------------------------------------------------
// Reading arguments.

// The first count arguments as numbers, in order; the first that is none gives the result.
template <size_t count>
bool readNumbers(const CallContext& context, const Value* const* arguments, double (&out)[count],
                 Value& result) {
  for (size_t i = 0; i < count; ++i) {
    const Value* argument = argumentAt(arguments, i);
    if (argument == nullptr) {
      setErrorResult(result, kErrorValue);
      return false;
    }
    if (!hostNumberOf(context, *argument, &out[i], result)) return false;
  }
  return true;
}

// A cumulative or other logical argument: booleans, numbers (not 0 is TRUE), blanks (FALSE) and
// the texts TRUE and FALSE or texts that read as numbers.
bool flagOf(const CallContext& context, const Value& value, bool* out, Value& result) {
  if (value.isBoolean()) {
    *out = value.boolean();
    return true;
  }
  if (value.isText() && !isErrorText(value.text())) {
    if (equalsNoCase(value.text(), u"TRUE") || equalsNoCase(value.text(), u"FALSE")) {
      *out = toBoolean(value);
      return true;
    }
  }
  double x = 0;
  if (!hostNumberOf(context, value, &x, result)) return false;
  *out = x != 0;
  return true;
}

// A count: the number truncated toward zero, #NUM! past the counts a double can step through.
bool countOf(double x, double* out, Value& result) {
  *out = std::trunc(x);
  if (std::fabs(*out) >= kCountLimit) {
    setErrorResult(result, kErrorNum);
    return false;
  }
  return true;
}

// One argument of an aggregate-style function added to numbers: ranges, arrays and reference
// lists by their numbers, direct values by numberOf (a missing argument as 0).
bool addAggregateArgument(const CallContext& context, const Value& argument,
                          std::vector<double>& numbers, Value& result) {
  if (argument.isReference() || argument.isReferenceList() || argument.isArray()) {
    return collectNumbers(context, argument, numbers, &result);
  }
  double x = 0;
  if (!hostNumberOf(context, argument, &x, result)) return false;
  numbers.push_back(x);
  return true;
}

// Every argument of an aggregate-style function; false with the result set by the first error.
bool aggregateNumbers(CallContext& context, const Value* const* arguments,
                      std::vector<double>& numbers, Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return false;
  for (size_t i = 0, n = argumentCount(arguments); i < n; ++i) {
    if (!addAggregateArgument(context, *arguments[i], numbers, result)) return false;
  }
  return true;
}

double mean(const std::vector<double>& numbers) {
  double sum = 0;
  for (double x : numbers) sum += x;
  return sum / double(numbers.size());
}

// The sums of the squared, cubed and fourth powers of the deviations from the mean.
struct Moments {
  double m2 = 0, m3 = 0, m4 = 0;
};
Moments moments(const std::vector<double>& numbers) {
  const double m = mean(numbers);
  Moments out;
  for (double x : numbers) {
    const double d = x - m, d2 = d * d;
    out.m2 += d2;
    out.m3 += d2 * d;
    out.m4 += d2 * d2;
  }
  return out;
}

// ---------------------------------------------------------------------------------------------
// Descriptive statistics.

void avedev(CallContext& context, const Value* const* arguments, Value& result) {
  std::vector<double> numbers;
  if (!aggregateNumbers(context, arguments, numbers, result)) return;
  if (numbers.empty()) return setErrorResult(result, kErrorNum);
  const double m = mean(numbers);
  double sum = 0;
  for (double x : numbers) sum += std::fabs(x - m);
  setNumberResult(result, sum / double(numbers.size()));
}

void devsq(CallContext& context, const Value* const* arguments, Value& result) {
  std::vector<double> numbers;
  if (!aggregateNumbers(context, arguments, numbers, result)) return;
  if (numbers.empty()) return setErrorResult(result, kErrorNum);
  setNumberResult(result, moments(numbers).m2);
}

void geomean(CallContext& context, const Value* const* arguments, Value& result) {
  std::vector<double> numbers;
  if (!aggregateNumbers(context, arguments, numbers, result)) return;
  if (numbers.empty()) return setErrorResult(result, kErrorNum);
  double mantissa = 1;
  int64_t exponent = 0;
  for (double x : numbers) {
    if (!(x > 0)) return setErrorResult(result, kErrorNum);
    int e = 0;
    mantissa = std::frexp(mantissa * x, &e);
    exponent += e;
  }
  const int64_t n = int64_t(numbers.size());
  // 2^(exponent / n) as 2^whole * 2^(rest / n), rest in [0, n), so no digits go to rounding.
  int64_t whole = exponent / n, rest = exponent % n;
  if (rest < 0) {
    rest += n;
    whole -= 1;
  }
  const double root = std::pow(mantissa, 1.0 / double(n)) * std::exp2(double(rest) / double(n));
  setNumberResult(result, std::ldexp(root, int(whole)));
}

void harmean(CallContext& context, const Value* const* arguments, Value& result) {
  std::vector<double> numbers;
  if (!aggregateNumbers(context, arguments, numbers, result)) return;
  if (numbers.empty()) return setErrorResult(result, kErrorNum);
  double sum = 0;
  for (double x : numbers) {
    if (!(x > 0)) return setErrorResult(result, kErrorNum);
    sum += 1 / x;
  }
  setNumberResult(result, double(numbers.size()) / sum);
}

void kurt(CallContext& context, const Value* const* arguments, Value& result) {
  std::vector<double> numbers;
  if (!aggregateNumbers(context, arguments, numbers, result)) return;
  const double n = double(numbers.size());
  if (n < 4) return setErrorResult(result, kErrorDiv0);
  const Moments m = moments(numbers);
  const double variance = m.m2 / (n - 1);
  if (!(variance > 0)) return setErrorResult(result, kErrorDiv0);
  const double standardized = m.m4 / (variance * variance);
  setNumberResult(result, n * (n + 1) / ((n - 1) * (n - 2) * (n - 3)) * standardized -
                              3 * (n - 1) * (n - 1) / ((n - 2) * (n - 3)));
}

// SKEW (sample) and SKEW.P (population).
void skewness(CallContext& context, const Value* const* arguments, Value& result, bool sample) {
  std::vector<double> numbers;
  if (!aggregateNumbers(context, arguments, numbers, result)) return;
  const double n = double(numbers.size());
  if (n < (sample ? 3 : 1)) return setErrorResult(result, kErrorDiv0);
  const Moments m = moments(numbers);
  const double variance = m.m2 / (sample ? n - 1 : n);
  if (!(variance > 0)) return setErrorResult(result, kErrorDiv0);
  const double cubed = m.m3 / (variance * std::sqrt(variance));
  setNumberResult(result, sample ? n / ((n - 1) * (n - 2)) * cubed : cubed / n);
}
void skew(CallContext& c, const Value* const* a, Value& r) { skewness(c, a, r, true); }
void skewP(CallContext& c, const Value* const* a, Value& r) { skewness(c, a, r, false); }

void fisher(CallContext& context, const Value* const* arguments, Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  double a[1];
  if (!readNumbers(context, arguments, a, result)) return;
  if (!(a[0] > -1 && a[0] < 1)) return setErrorResult(result, kErrorNum);
  setNumberResult(result, std::atanh(a[0]));
}

void fisherinv(CallContext& context, const Value* const* arguments, Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  double a[1];
  if (!readNumbers(context, arguments, a, result)) return;
  setNumberResult(result, std::tanh(a[0]));
}

void standardize(CallContext& context, const Value* const* arguments, Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  double a[3];
  if (!readNumbers(context, arguments, a, result)) return;
  if (!(a[2] > 0)) return setErrorResult(result, kErrorNum);
  setNumberResult(result, (a[0] - a[1]) / a[2]);
}

// CONFIDENCE and CONFIDENCE.NORM: alpha, standard deviation, size.
void confidence(CallContext& context, const Value* const* arguments, Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  double a[3];
  if (!readNumbers(context, arguments, a, result)) return;
  double size = 0;
  if (!countOf(a[2], &size, result)) return;
  const double alpha = a[0], sd = a[1];
  if (!(alpha > 0 && alpha < 1) || !(sd > 0) || size < 1) {
    return setErrorResult(result, kErrorNum);
  }
  setNumberResult(result, normalQuantile(1 - alpha / 2, 0, 1) * sd / std::sqrt(size));
}

// Z.TEST and ZTEST: data, x, optional sigma.
void ztest(CallContext& context, const Value* const* arguments, Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  std::vector<double> numbers;
  if (!addAggregateArgument(context, *arguments[0], numbers, result)) return;
  double x = 0;
  if (!hostNumberOf(context, *arguments[1], &x, result)) return;
  const Value* sigmaArgument = argumentAt(arguments, 2);
  const bool sigmaGiven = sigmaArgument != nullptr && !sigmaArgument->isEmpty();
  double sigma = 0;
  if (sigmaGiven && !hostNumberOf(context, *sigmaArgument, &sigma, result)) return;
  const double n = double(numbers.size());
  if (n == 0) return setErrorResult(result, kErrorNA);
  if (!sigmaGiven) {
    if (n < 2) return setErrorResult(result, kErrorDiv0);
    sigma = std::sqrt(moments(numbers).m2 / (n - 1));
  }
  if (!(sigma > 0)) return setErrorResult(result, sigmaGiven ? kErrorNum : kErrorDiv0);
  const double z = (mean(numbers) - x) / (sigma / std::sqrt(n));
  setNumberResult(result, 1 - (0.5 + normalIntegral(z)));
}

// ---------------------------------------------------------------------------------------------
// Percentiles, quartiles, percent ranks, trimmed means.

// The sorted numbers of the first argument of the percentile family (errors pre-checked).
bool sortedData(const CallContext& context, const Value& data, std::vector<double>& numbers,
                Value& result) {
  if (!addAggregateArgument(context, data, numbers, result)) return false;
  std::sort(numbers.begin(), numbers.end());
  return true;
}

// The k-quantile of sorted numbers, inclusive (positions 0..n-1) or exclusive (1..n of n + 1).
// Not a number when k lies outside what the form allows.
double quantile(const std::vector<double>& sorted, double k, bool exclusive) {
  const double n = double(sorted.size());
  if (n == 0) return NAN;
  double position;  // 0-based, fractional
  if (exclusive) {
    if (!(k > 0 && k < 1)) return NAN;
    position = k * (n + 1) - 1;
    if (position < 0 || position > n - 1) return NAN;
  } else {
    if (!(k >= 0 && k <= 1)) return NAN;
    position = k * (n - 1);
  }
  const double lower = std::floor(position);
  const size_t i = size_t(lower);
  const double fraction = position - lower;
  if (fraction == 0 || i + 1 >= sorted.size()) return sorted[i];
  return sorted[i] + fraction * (sorted[i + 1] - sorted[i]);
}

// PERCENTILE(.INC|.EXC) with the fraction given; QUARTILE(.INC|.EXC) with the quarter.
void percentileOf(CallContext& context, const Value* const* arguments, Value& result,
                  bool exclusive, bool quartile) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  std::vector<double> sorted;
  if (!sortedData(context, *arguments[0], sorted, result)) return;
  double k = 0;
  if (!hostNumberOf(context, *arguments[1], &k, result)) return;
  if (quartile) {
    k = std::trunc(k);
    if (exclusive ? !(k > 0 && k < 4) : !(k >= 0 && k <= 4)) {
      return setErrorResult(result, kErrorNum);
    }
    k /= 4;
  }
  setNumberResult(result, quantile(sorted, k, exclusive));  // not a number -> #NUM!
}
void percentile(CallContext& c, const Value* const* a, Value& r) {
  percentileOf(c, a, r, false, false);
}
void percentileExc(CallContext& c, const Value* const* a, Value& r) {
  percentileOf(c, a, r, true, false);
}
void quartile(CallContext& c, const Value* const* a, Value& r) {
  percentileOf(c, a, r, false, true);
}
void quartileExc(CallContext& c, const Value* const* a, Value& r) {
  percentileOf(c, a, r, true, true);
}

// x rounded to 15 significant digits, the precision a cell shows.
double toShownPrecision(double x) {
  if (x == 0 || !std::isfinite(x)) return x;
  const int digits = 14 - int(std::floor(std::log10(std::fabs(x))));
  if (digits <= 0 || digits > 300) return x;
  const double scale = std::pow(10.0, digits);
  const double rounded = std::round(x * scale) / scale;
  return std::isfinite(rounded) ? rounded : x;
}

// PERCENTRANK(.INC|.EXC): data, x, optional significant digits (3).
void percentrankOf(CallContext& context, const Value* const* arguments, Value& result,
                   bool exclusive) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  std::vector<double> sorted;
  if (!sortedData(context, *arguments[0], sorted, result)) return;
  double x = 0;
  if (!hostNumberOf(context, *arguments[1], &x, result)) return;
  double digits = 3;
  const Value* digitsArgument = argumentAt(arguments, 2);
  if (digitsArgument != nullptr && !digitsArgument->isEmpty()) {
    if (!hostNumberOf(context, *digitsArgument, &digits, result)) return;
    digits = std::trunc(digits);
  }
  if (digits < 1) return setErrorResult(result, kErrorNum);
  if (sorted.empty()) return setErrorResult(result, kErrorNum);
  if (x < sorted.front() || x > sorted.back()) return setErrorResult(result, kErrorNA);
  const double n = double(sorted.size());
  const auto lower = std::lower_bound(sorted.begin(), sorted.end(), x);
  const double smaller = double(lower - sorted.begin());
  double position;  // 1-based and fractional between two numbers
  if (*lower == x) {
    position = smaller + 1;
  } else {
    const double below = *(lower - 1), above = *lower;
    position = smaller + (x - below) / (above - below);
  }
  double rank;
  if (exclusive) {
    rank = position / (n + 1);
  } else {
    rank = n == 1 ? 1 : (position - 1) / (n - 1);
  }
  if (digits < 15) {
    const double scale = std::pow(10.0, digits);
    rank = std::floor(toShownPrecision(rank * scale)) / scale;
  }
  setNumberResult(result, rank);
}
void percentrank(CallContext& c, const Value* const* a, Value& r) { percentrankOf(c, a, r, false); }
void percentrankExc(CallContext& c, const Value* const* a, Value& r) {
  percentrankOf(c, a, r, true);
}

void trimmean(CallContext& context, const Value* const* arguments, Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  std::vector<double> sorted;
  if (!sortedData(context, *arguments[0], sorted, result)) return;
  double percent = 0;
  if (!hostNumberOf(context, *arguments[1], &percent, result)) return;
  if (!(percent >= 0 && percent < 1) || sorted.empty()) return setErrorResult(result, kErrorNum);
  // The numbers left out, rounded down to an even count, half from each end.
  const size_t cut = size_t(std::floor(double(sorted.size()) * percent / 2));
  double sum = 0;
  for (size_t i = cut; i + cut < sorted.size(); ++i) sum += sorted[i];
  setNumberResult(result, sum / double(sorted.size() - 2 * cut));
}

// ---------------------------------------------------------------------------------------------
// Ranks and modes.

void rankAvg(CallContext& context, const Value* const* arguments, Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  double number = 0;
  if (!hostNumberOf(context, *arguments[0], &number, result)) return;
  const Value& data = *arguments[1];
  if (!data.isReference() && !data.isReferenceList() && !data.isArray()) {
    return setErrorResult(result, kErrorValue);
  }
  bool ascending = false;
  const Value* order = argumentAt(arguments, 2);
  if (order != nullptr && !order->isEmpty() && !flagOf(context, *order, &ascending, result)) {
    return;
  }
  std::vector<double> numbers;
  if (!collectNumbers(context, data, numbers, &result)) return;
  double smaller = 0, greater = 0, equal = 0;
  for (double x : numbers) {
    if (x < number) smaller += 1;
    if (x > number) greater += 1;
    if (x == number) equal += 1;
  }
  if (equal == 0) return setErrorResult(result, kErrorNA);
  setNumberResult(result, (ascending ? smaller : greater) + (equal + 1) / 2);
}

// The numbers of MODE.MULT's arguments, read as MODE reads them: numbers given directly, the
// numbers of arrays and ranges; a single cell without a number, and any other kind of argument,
// is #VALUE!.
bool modeNumbers(CallContext& context, const Value* const* arguments, std::vector<double>& numbers,
                 Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return false;
  for (size_t i = 0, n = argumentCount(arguments); i < n; ++i) {
    const Value& argument = *arguments[i];
    if (argument.isNumeric()) {
      numbers.push_back(argument.number());
    } else if (argument.isArray()) {
      if (!collectNumbers(context, argument, numbers, &result)) return false;
    } else if (argument.isReference()) {
      const RangeRef range = normalizeRange(argument.reference());
      if (range.first == range.last) {
        const Value value = dereferenced(context, argument);
        if (!value.isNumeric()) {
          setErrorResult(result, kErrorValue);
          return false;
        }
        numbers.push_back(value.number());
      } else if (!collectNumbers(context, argument, numbers, &result)) {
        return false;
      }
    } else {
      setErrorResult(result, kErrorValue);
      return false;
    }
  }
  return true;
}

void modeMult(CallContext& context, const Value* const* arguments, Value& result) {
  std::vector<double> numbers;
  if (!modeNumbers(context, arguments, numbers, result)) return;
  std::map<double, size_t> counts;
  size_t best = 0;
  for (double x : numbers) best = std::max(best, ++counts[x]);
  if (best < 2) return setErrorResult(result, kErrorNA);
  std::vector<double> modes;
  for (double x : numbers) {
    auto it = counts.find(x);
    if (it->second == best) {
      modes.push_back(x);
      it->second = 0;  // answered once, at its first place
    }
  }
  ValueArray out(1, uint32_t(modes.size()));
  for (size_t i = 0; i < modes.size(); ++i) setNumberResult(out.at(0, uint32_t(i)), modes[i]);
  result.setArray(std::move(out));
}

// PROB: values, probabilities, lower limit, optional upper limit.
void prob(CallContext& context, const Value* const* arguments, Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  RangeSource values, probabilities;
  if (!values.assign(context, *arguments[0]) || !probabilities.assign(context, *arguments[1])) {
    return setErrorResult(result, kErrorValue);
  }
  double lower = 0;
  if (!hostNumberOf(context, *arguments[2], &lower, result)) return;
  double upper = lower;
  const Value* upperArgument = argumentAt(arguments, 3);
  if (upperArgument != nullptr && !upperArgument->isEmpty() &&
      !hostNumberOf(context, *upperArgument, &upper, result)) {
    return;
  }
  if (uint64_t{values.columns()} * values.rows() !=
      uint64_t{probabilities.columns()} * probabilities.rows()) {
    return setErrorResult(result, kErrorNA);
  }
  double total = 0, inside = 0;
  size_t pairs = 0;
  for (uint64_t i = 0, n = uint64_t{values.columns()} * values.rows(); i < n; ++i) {
    const Value& x = values.at(uint32_t(i % values.columns()), uint32_t(i / values.columns()));
    const Value& p = probabilities.at(uint32_t(i % probabilities.columns()),
                                      uint32_t(i / probabilities.columns()));
    if (isErrorLike(x)) return void(result = x);
    if (isErrorLike(p)) return void(result = p);
    if (!x.isNumeric() || !p.isNumeric()) continue;
    if (p.number() < 0 || p.number() > 1) return setErrorResult(result, kErrorNum);
    total += p.number();
    ++pairs;
    if (x.number() >= lower && x.number() <= upper) inside += p.number();
  }
  if (pairs == 0) return setErrorResult(result, kErrorDiv0);
  if (std::fabs(total - 1) > 1e-12) return setErrorResult(result, kErrorNum);
  setNumberResult(result, inside);
}

// ---------------------------------------------------------------------------------------------
// Discrete distributions.

// ln n! - ln(sqrt(2 pi n) (n/e)^n) for a whole n >= 1.
double stirlerr(double n) {
  constexpr double s0 = 1.0 / 12, s1 = 1.0 / 360, s2 = 1.0 / 1260, s3 = 1.0 / 1680, s4 = 1.0 / 1188;
  if (n <= 15) {
    double factorial = 1;
    for (double k = 2; k <= n; ++k) factorial *= k;  // exact up to 15!
    return std::log(factorial) - (n + 0.5) * std::log(n) + n - 0.5 * std::log(kTwoPi);
  }
  const double nn = n * n;
  if (n > 500) return (s0 - s1 / nn) / n;
  if (n > 80) return (s0 - (s1 - s2 / nn) / nn) / n;
  if (n > 35) return (s0 - (s1 - (s2 - s3 / nn) / nn) / nn) / n;
  return (s0 - (s1 - (s2 - (s3 - s4 / nn) / nn) / nn) / nn) / n;
}

// x ln(x / m) + m - x, without its cancellation when x is near m.
double bd0(double x, double m) {
  if (std::fabs(x - m) < 0.1 * (x + m)) {
    double v = (x - m) / (x + m);
    double sum = (x - m) * v;
    double term = 2 * x * v;
    v *= v;
    for (int j = 1; j < 1000; ++j) {
      term *= v;
      const double next = sum + term / (2 * j + 1);
      if (next == sum) return next;
      sum = next;
    }
    return sum;
  }
  return x * std::log(x / m) + m - x;
}

// The binomial probability of x successes in n trials of probability p (q = 1 - p).
double binomialTerm(double x, double n, double p, double q) {
  if (x < 0 || x > n) return 0;
  if (p == 0) return x == 0 ? 1 : 0;
  if (q == 0) return x == n ? 1 : 0;
  if (x == 0) {
    if (n == 0) return 1;
    return std::exp(p < 0.1 ? -bd0(n, n * q) - n * p : n * std::log(q));
  }
  if (x == n) return std::exp(q < 0.1 ? -bd0(n, n * p) - n * q : n * std::log(p));
  const double exponent =
      stirlerr(n) - stirlerr(x) - stirlerr(n - x) - bd0(x, n * p) - bd0(n - x, n * q);
  return std::exp(exponent) / std::sqrt(kTwoPi * x * (1 - x / n));
}

double poissonTerm(double x, double lambda) {
  if (x < 0) return 0;
  if (lambda == 0) return x == 0 ? 1 : 0;
  if (x == 0) return std::exp(-lambda);
  return std::exp(-stirlerr(x) - bd0(x, lambda)) / std::sqrt(kTwoPi * x);
}

// x of the sample's n drawn from a population of size with successes in it.
double hypergeometricTerm(double x, double n, double successes, double size) {
  const double p = n / size, q = (size - n) / size;
  const double term = binomialTerm(x, successes, p, q) *
                      binomialTerm(n - x, size - successes, p, q) / binomialTerm(n, size, p, q);
  return term;
}

// f failures before the s-th success.
double negativeBinomialTerm(double f, double s, double p) {
  return s / (s + f) * binomialTerm(s, f + s, p, 1 - p);
}

// The sum of term(j) over the whole numbers of [first, last] for a distribution whose terms
// fall away on both sides of mode: summed from the largest outward, each walk stopping once its
// terms no longer change the sum.
double sumTerms(const std::function<double(double)>& term, double first, double last, double mode) {
  if (last < first) return 0;
  const double start = std::clamp(std::floor(mode), first, last);
  double sum = 0;
  for (double j = start; j >= first; --j) {
    const double t = term(j);
    sum += t;
    if (t <= sum * 1e-17) break;
  }
  for (double j = start + 1; j <= last; ++j) {
    const double t = term(j);
    sum += t;
    if (t <= sum * 1e-17) break;
  }
  return std::min(sum, 1.0);
}

double binomialMode(double n, double p) { return std::floor((n + 1) * p); }

double binomialSum(double first, double last, double n, double p) {
  const double q = 1 - p;
  return sumTerms([&](double j) { return binomialTerm(j, n, p, q); }, first, last,
                  binomialMode(n, p));
}

// Reads count value arguments (those the mask marks are counts: #NUM! when negative, else
// truncated) and the flag at flagPosition (-1: none).
template <size_t count>
bool readDistribution(CallContext& context, const Value* const* arguments, double (&a)[count],
                      unsigned wholeMask, int flagPosition, bool* flag, Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return false;
  for (size_t i = 0; i < count; ++i) {
    if (!hostNumberOf(context, *arguments[i], &a[i], result)) return false;
  }
  if (flagPosition >= 0 && !flagOf(context, *arguments[flagPosition], flag, result)) return false;
  for (size_t i = 0; i < count; ++i) {
    if (!(wholeMask >> i & 1u)) continue;
    // A negative count is refused before truncation: -0.5 is no count, not 0.
    if (a[i] < 0) {
      setErrorResult(result, kErrorNum);
      return false;
    }
    if (!countOf(a[i], &a[i], result)) return false;
  }
  return true;
}

// BINOM.DIST and BINOMDIST: successes, trials, probability, cumulative.
void binomDist(CallContext& context, const Value* const* arguments, Value& result) {
  double a[3];
  bool cumulative = false;
  if (!readDistribution(context, arguments, a, 0b011, 3, &cumulative, result)) return;
  const double k = a[0], n = a[1], p = a[2];
  if (k < 0 || k > n || !(p >= 0 && p <= 1)) return setErrorResult(result, kErrorNum);
  setNumberResult(result, cumulative ? binomialSum(0, k, n, p) : binomialTerm(k, n, p, 1 - p));
}

// BINOM.DIST.RANGE: trials, probability, successes, optional upper successes.
void binomDistRange(CallContext& context, const Value* const* arguments, Value& result) {
  const Value* upperArgument = argumentAt(arguments, 3);
  double a[3];
  if (!readDistribution(context, arguments, a, 0b101, -1, nullptr, result)) return;
  const double n = a[0], p = a[1], first = a[2];
  double last = first;
  if (upperArgument != nullptr && !upperArgument->isEmpty()) {
    if (!hostNumberOf(context, *upperArgument, &last, result) || !countOf(last, &last, result))
      return;
  }
  if (n < 0 || !(p >= 0 && p <= 1) || first < 0 || first > n || last < first || last > n) {
    return setErrorResult(result, kErrorNum);
  }
  setNumberResult(result, binomialSum(first, last, n, p));
}

// BINOM.INV and CRITBINOM: trials, probability, alpha.
void binomInv(CallContext& context, const Value* const* arguments, Value& result) {
  double a[3];
  if (!readDistribution(context, arguments, a, 0b001, -1, nullptr, result)) return;
  const double n = a[0], p = a[1], alpha = a[2];
  if (n < 0 || !(p >= 0 && p <= 1) || !(alpha >= 0 && alpha <= 1)) {
    return setErrorResult(result, kErrorNum);
  }
  if (alpha == 0) return setNumberResult(result, 0);
  // From the normal guess (kept within the terms that matter) the walk adds or takes off one
  // term at a time until the count is the smallest whose cumulative probability reaches alpha.
  const double q = 1 - p, spread = std::sqrt(n * p * q), mode = binomialMode(n, p);
  double guess = std::floor(n * p + normalQuantile(alpha, 0, 1) * spread);
  if (!std::isfinite(guess)) guess = alpha < 0.5 ? 0 : n;  // alpha of 1, or no spread at all
  guess = std::clamp(guess, std::max(0.0, mode - 40 * spread - 1), std::min(n, mode + 40 * spread));
  double k = std::clamp(guess, 0.0, n);
  double cumulative = binomialSum(0, k, n, p);
  if (cumulative >= alpha) {
    while (k > 0) {
      const double below = cumulative - binomialTerm(k, n, p, q);
      if (below < alpha) break;
      cumulative = below;
      k -= 1;
    }
  } else {
    while (cumulative < alpha && k < n) {
      k += 1;
      cumulative += binomialTerm(k, n, p, q);
    }
  }
  setNumberResult(result, k);
}

// HYPGEOM.DIST (cumulative given) and HYPGEOMDIST: sample successes, sample size, population
// successes, population size.
void hypgeomOf(CallContext& context, const Value* const* arguments, Value& result, bool withFlag) {
  double a[4];
  bool cumulative = false;
  if (!readDistribution(context, arguments, a, 0b1111, withFlag ? 4 : -1, &cumulative, result)) {
    return;
  }
  const double x = a[0], n = a[1], successes = a[2], size = a[3];
  if (x < 0 || x > std::min(n, successes) || x < std::max(0.0, n - size + successes) || n <= 0 ||
      n > size || successes <= 0 || successes > size || size <= 0) {
    return setErrorResult(result, kErrorNum);
  }
  if (!cumulative) return setNumberResult(result, hypergeometricTerm(x, n, successes, size));
  const double mode = std::floor((n + 1) * (successes + 1) / (size + 2));
  setNumberResult(result,
                  sumTerms([&](double j) { return hypergeometricTerm(j, n, successes, size); },
                           std::max(0.0, n - size + successes), x, mode));
}
void hypgeomDist(CallContext& c, const Value* const* a, Value& r) { hypgeomOf(c, a, r, true); }
void hypgeomdist(CallContext& c, const Value* const* a, Value& r) { hypgeomOf(c, a, r, false); }

// NEGBINOM.DIST (cumulative given) and NEGBINOMDIST: failures, successes, probability.
void negbinomOf(CallContext& context, const Value* const* arguments, Value& result, bool withFlag) {
  double a[3];
  bool cumulative = false;
  if (!readDistribution(context, arguments, a, 0b011, withFlag ? 3 : -1, &cumulative, result)) {
    return;
  }
  const double f = a[0], s = a[1], p = a[2];
  if (f < 0 || s < 1 || !(p >= 0 && p <= 1)) return setErrorResult(result, kErrorNum);
  if (!cumulative) return setNumberResult(result, negativeBinomialTerm(f, s, p));
  const double mode = p > 0 ? std::floor((s - 1) * (1 - p) / p) : f;
  setNumberResult(result,
                  sumTerms([&](double j) { return negativeBinomialTerm(j, s, p); }, 0, f, mode));
}
void negbinomDist(CallContext& c, const Value* const* a, Value& r) { negbinomOf(c, a, r, true); }
void negbinomdist(CallContext& c, const Value* const* a, Value& r) { negbinomOf(c, a, r, false); }

// POISSON and POISSON.DIST: x, mean, cumulative.
void poisson(CallContext& context, const Value* const* arguments, Value& result) {
  double a[2];
  bool cumulative = false;
  if (!readDistribution(context, arguments, a, 0b01, 2, &cumulative, result)) return;
  const double x = a[0], lambda = a[1];
  if (x < 0 || lambda < 0) return setErrorResult(result, kErrorNum);
  if (!cumulative) return setNumberResult(result, poissonTerm(x, lambda));
  setNumberResult(result, sumTerms([&](double j) { return poissonTerm(j, lambda); }, 0, x, lambda));
}

// ---------------------------------------------------------------------------------------------
// The newer names of natives.

void modeSngl(CallContext& c, const Value* const* a, Value& r) { callNative(u"MODE", c, a, r); }
void rankEq(CallContext& c, const Value* const* a, Value& r) { callNative(u"RANK", c, a, r); }
void stdevP(CallContext& c, const Value* const* a, Value& r) { callNative(u"STDEVP", c, a, r); }
void stdevS(CallContext& c, const Value* const* a, Value& r) { callNative(u"STDEV", c, a, r); }
void varP(CallContext& c, const Value* const* a, Value& r) { callNative(u"VARP", c, a, r); }
void varS(CallContext& c, const Value* const* a, Value& r) { callNative(u"VAR", c, a, r); }

constexpr NativeEntry kStatisticsFunctions[] = {
    {u"AVEDEV", avedev},
    {u"BINOM.DIST", binomDist},
    {u"BINOM.DIST.RANGE", binomDistRange},
    {u"BINOM.INV", binomInv},
    {u"BINOMDIST", binomDist},
    {u"CONFIDENCE", confidence},
    {u"CONFIDENCE.NORM", confidence},
    {u"CRITBINOM", binomInv},
    {u"DEVSQ", devsq},
    {u"FISHER", fisher},
    {u"FISHERINV", fisherinv},
    {u"GEOMEAN", geomean},
    {u"HARMEAN", harmean},
    {u"HYPGEOM.DIST", hypgeomDist},
    {u"HYPGEOMDIST", hypgeomdist},
    {u"KURT", kurt},
    {u"MODE.MULT", modeMult},
    {u"MODE.SNGL", modeSngl},
    {u"NEGBINOM.DIST", negbinomDist},
    {u"NEGBINOMDIST", negbinomdist},
    {u"PERCENTILE", percentile},
    {u"PERCENTILE.EXC", percentileExc},
    {u"PERCENTILE.INC", percentile},
    {u"PERCENTRANK", percentrank},
    {u"PERCENTRANK.EXC", percentrankExc},
    {u"PERCENTRANK.INC", percentrank},
    {u"POISSON", poisson},
    {u"POISSON.DIST", poisson},
    {u"PROB", prob},
    {u"QUARTILE", quartile},
    {u"QUARTILE.EXC", quartileExc},
    {u"QUARTILE.INC", quartile},
    {u"RANK.AVG", rankAvg},
    {u"RANK.EQ", rankEq},
    {u"SKEW", skew},
    {u"SKEW.P", skewP},
    {u"STANDARDIZE", standardize},
    {u"STDEV.P", stdevP},
    {u"STDEV.S", stdevS},
    {u"TRIMMEAN", trimmean},
    {u"VAR.P", varP},
    {u"VAR.S", varS},
    {u"Z.TEST", ztest},
    {u"ZTEST", ztest},
};

}  // namespace

NativeTable hostStatisticsFunctions() { return kStatisticsFunctions; }

}  // namespace korvel
