// Pairs of series and least squares in the headless program: CORREL, PEARSON, RSQ, COVAR,
// COVARIANCE.P, COVARIANCE.S, SLOPE, INTERCEPT, STEYX, FORECAST (and FORECAST.LINEAR), and the
// regression family LINEST, LOGEST, TREND and GROWTH.
//
// The pair functions read their two arguments position by position in reading order; a pair in
// which either side is not a number (text, a boolean, an empty cell) is passed over, an error on
// either side is the result, and arguments of different sizes give #N/A. Sums of squares and
// products are taken about the means found in a first pass (two passes keep the digits that the
// one-pass textbook formula loses to cancellation on data such as dates).
//
// The regression family wants every known value to be a number (#VALUE! otherwise) and reads the
// shape of known_y: a column makes each column of known_x a variable, a row each row, and any
// other shape pairs known_x of the same shape as one variable; shapes that do not fit give #REF!.
// The fit itself is least_squares.h (QR with a rank test: a collinear variable gets coefficient
// 0 and standard error 0 and gives its degree of freedom back). LOGEST and GROWTH fit ln(y) and
// need every y above 0 (#NUM!).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "functions/arguments.h"
#include "functions/criteria.h"
#include "hosts/headless/functions/host_functions.h"
#include "hosts/headless/functions/least_squares.h"

namespace korvel {
namespace {

// ---------------------------------------------------------------------------------------------
// Reading the arguments.

// Sets result and returns false for an argument that is no range, array or value: its error, or
// #REF! for a reference to no cells, #VALUE! for the rest (a reference list among them).
bool assignSource(const CallContext& context, const Value& argument, RangeSource& source,
                  Value& result) {
  const Value* single[] = {&argument, nullptr};
  if (errorPrecheck(context, single, 1, result)) return false;
  if (source.assign(context, argument)) return true;
  result.setError(kErrorValue);
  return false;
}

// The elements a source can hold anything in, counted in reading order: for references the rows
// up to the last stored cell, so that whole columns are not walked.
uint64_t usedExtent(const RangeSource& source) {
  uint64_t total = uint64_t{source.columns()} * source.rows();
  if (!source.isReference()) return total;
  int64_t last = -1;
  for (uint32_t c = 0; c < source.columns(); ++c) last = std::max(last, source.lastRow(c));
  return std::min(total, uint64_t(last + 1) * source.columns());
}

const Value& elementAt(const RangeSource& source, uint64_t index, uint64_t extent) {
  static const Value kEmpty;
  if (index >= extent) return kEmpty;
  return source.at(uint32_t(index % source.columns()), uint32_t(index / source.columns()));
}

// The numeric pairs of two arguments. False with result set: an argument's error, #N/A for
// different sizes, the first error met walking the pairs (the first argument's before the
// second's).
bool readPairs(const CallContext& context, const Value* first, const Value* second,
               std::vector<double>& firsts, std::vector<double>& seconds, Value& result) {
  if (first == nullptr || second == nullptr) {
    result.setError(kErrorNA);
    return false;
  }
  RangeSource a, b;
  if (!assignSource(context, *first, a, result) || !assignSource(context, *second, b, result)) {
    return false;
  }
  if (uint64_t{a.columns()} * a.rows() != uint64_t{b.columns()} * b.rows()) {
    result.setError(kErrorNA);
    return false;
  }
  const uint64_t extentA = usedExtent(a), extentB = usedExtent(b);
  const uint64_t count = std::max(extentA, extentB);
  for (uint64_t i = 0; i < count; ++i) {
    const Value& x = elementAt(a, i, extentA);
    const Value& y = elementAt(b, i, extentB);
    double unused;
    if (isErrorLike(x)) {
      setErrorResult(result, numberOrError(x, &unused));
      return false;
    }
    if (isErrorLike(y)) {
      setErrorResult(result, numberOrError(y, &unused));
      return false;
    }
    if (x.isNumeric() && y.isNumeric()) {
      firsts.push_back(x.number());
      seconds.push_back(y.number());
    }
  }
  return true;
}

// ---------------------------------------------------------------------------------------------
// The pair functions.

struct PairSums {
  double n = 0;
  double meanX = 0, meanY = 0;
  double sxx = 0, syy = 0, sxy = 0;  // about the means
};

PairSums pairSums(const std::vector<double>& xs, const std::vector<double>& ys) {
  PairSums s;
  s.n = double(xs.size());
  if (xs.empty()) return s;
  for (size_t i = 0; i < xs.size(); ++i) {
    s.meanX += xs[i];
    s.meanY += ys[i];
  }
  s.meanX /= s.n;
  s.meanY /= s.n;
  for (size_t i = 0; i < xs.size(); ++i) {
    double dx = xs[i] - s.meanX, dy = ys[i] - s.meanY;
    s.sxx += dx * dx;
    s.syy += dy * dy;
    s.sxy += dx * dy;
  }
  return s;
}

// The pair sums of arguments (known_y, known_x) at positions first and first + 1, with x the
// second argument. False with result set.
bool readSums(CallContext& context, const Value* const* arguments, size_t first, PairSums& sums,
              Value& result) {
  std::vector<double> ys, xs;
  if (!readPairs(context, argumentAt(arguments, first), argumentAt(arguments, first + 1), ys, xs,
                 result)) {
    return false;
  }
  sums = pairSums(xs, ys);
  return true;
}

// Pearson's r; false when either series has no spread (or there are no pairs).
bool correlation(const PairSums& s, double* r) {
  if (s.sxx == 0 || s.syy == 0) return false;
  *r = s.sxy / (std::sqrt(s.sxx) * std::sqrt(s.syy));
  // Rounding can carry a perfect correlation a hair past 1.
  *r = std::fmax(-1.0, std::fmin(1.0, *r));
  return true;
}

void correl(CallContext& context, const Value* const* arguments, Value& result) {
  PairSums s;
  if (!readSums(context, arguments, 0, s, result)) return;
  double r;
  if (!correlation(s, &r)) return result.setError(kErrorDiv0);
  setNumberResult(result, r);
}

void rsq(CallContext& context, const Value* const* arguments, Value& result) {
  PairSums s;
  if (!readSums(context, arguments, 0, s, result)) return;
  double r;
  if (!correlation(s, &r)) return result.setError(kErrorDiv0);
  setNumberResult(result, r * r);
}

// COVAR and COVARIANCE.P divide by the count, COVARIANCE.S by one less.
void covariance(CallContext& context, const Value* const* arguments, Value& result, bool sample) {
  PairSums s;
  if (!readSums(context, arguments, 0, s, result)) return;
  const double divisor = sample ? s.n - 1 : s.n;
  if (divisor <= 0) return result.setError(kErrorDiv0);
  setNumberResult(result, s.sxy / divisor);
}

void covar(CallContext& context, const Value* const* arguments, Value& result) {
  covariance(context, arguments, result, false);
}

void covarianceS(CallContext& context, const Value* const* arguments, Value& result) {
  covariance(context, arguments, result, true);
}

void slope(CallContext& context, const Value* const* arguments, Value& result) {
  PairSums s;
  if (!readSums(context, arguments, 0, s, result)) return;
  if (s.sxx == 0) return result.setError(kErrorDiv0);
  setNumberResult(result, s.sxy / s.sxx);
}

void intercept(CallContext& context, const Value* const* arguments, Value& result) {
  PairSums s;
  if (!readSums(context, arguments, 0, s, result)) return;
  if (s.sxx == 0) return result.setError(kErrorDiv0);
  setNumberResult(result, s.meanY - s.sxy / s.sxx * s.meanX);
}

void steyx(CallContext& context, const Value* const* arguments, Value& result) {
  PairSums s;
  if (!readSums(context, arguments, 0, s, result)) return;
  if (s.n < 3 || s.sxx == 0) return result.setError(kErrorDiv0);
  double residual = std::fmax(0.0, s.syy - s.sxy * s.sxy / s.sxx);
  setNumberResult(result, std::sqrt(residual / (s.n - 2)));
}

// FORECAST(x, known_y, known_x): the point on the line at x.
void forecast(CallContext& context, const Value* const* arguments, Value& result) {
  const Value* target = argumentAt(arguments, 0);
  if (target == nullptr) return result.setError(kErrorNA);
  double x;
  if (!numberFromValue(dereferenced(context, *target), &x, result)) return;
  PairSums s;
  if (!readSums(context, arguments, 1, s, result)) return;
  if (s.sxx == 0) return result.setError(kErrorDiv0);
  setNumberResult(result, s.meanY + s.sxy / s.sxx * (x - s.meanX));
}

// ---------------------------------------------------------------------------------------------
// The regression family.

// A range of numbers, row after row.
struct NumberGrid {
  uint32_t columns = 0, rows = 0;
  std::vector<double> numbers;
  double at(uint32_t c, uint32_t r) const { return numbers[size_t(r) * columns + c]; }
};

// Every element must be a number: the first error met is the result, anything else #VALUE!.
bool readGrid(const CallContext& context, const Value& argument, NumberGrid& grid, Value& result) {
  RangeSource source;
  if (!assignSource(context, argument, source, result)) return false;
  grid.columns = source.columns();
  grid.rows = source.rows();
  // A whole column ends in empty cells, which stop the walk at the first of them.
  const uint64_t total = uint64_t{grid.columns} * grid.rows;
  const uint64_t extent = usedExtent(source);
  grid.numbers.reserve(size_t(std::min(total, extent + 1)));
  for (uint64_t i = 0; i < total; ++i) {
    const Value& v = elementAt(source, i, extent);
    if (!v.isNumeric()) {
      double unused;
      setErrorResult(result, isErrorLike(v) ? numberOrError(v, &unused) : kErrorValue);
      return false;
    }
    grid.numbers.push_back(v.number());
  }
  return true;
}

bool omitted(const Value* argument) { return argument == nullptr || argument->isEmpty(); }

// A yes/no argument: absent or empty gives the default, numbers and booleans their truth.
bool readSwitch(const CallContext& context, const Value* argument, bool byDefault, bool* out,
                Value& result) {
  if (omitted(argument)) {
    *out = byDefault;
    return true;
  }
  double x;
  if (!numberFromValue(dereferenced(context, *argument), &x, result)) return false;
  *out = x != 0;
  return true;
}

enum class Layout { kColumns, kRows, kSingle };

// The known data laid out for the fit, and how new points are read.
struct KnownData {
  Layout layout = Layout::kSingle;
  std::vector<double> y;
  std::vector<std::vector<double>> x;  // one vector per variable
};

// Reads known_y and known_x (the x arguments may be absent: 1, 2, ... n). logarithmic takes the
// natural logarithm of every y, which must be above 0. False with result set.
bool readKnown(const CallContext& context, const Value* knownY, const Value* knownX,
               bool logarithmic, KnownData& data, Value& result) {
  if (knownY == nullptr) {
    result.setError(kErrorValue);
    return false;
  }
  NumberGrid ys;
  if (!readGrid(context, *knownY, ys, result)) return false;
  data.y = ys.numbers;
  const size_t n = data.y.size();
  if (logarithmic) {
    for (double& v : data.y) {
      if (!(v > 0)) {
        result.setError(kErrorNum);
        return false;
      }
      v = std::log(v);
    }
  }
  data.layout = ys.columns == 1 ? Layout::kColumns : ys.rows == 1 ? Layout::kRows : Layout::kSingle;
  if (omitted(knownX)) {
    data.x.assign(1, std::vector<double>(n));
    for (size_t i = 0; i < n; ++i) data.x[0][i] = double(i + 1);
    return true;
  }
  NumberGrid xs;
  if (!readGrid(context, *knownX, xs, result)) return false;
  bool fits = false;
  switch (data.layout) {
    case Layout::kColumns:
      fits = xs.rows == ys.rows;
      if (fits) {
        data.x.assign(xs.columns, std::vector<double>(n));
        for (uint32_t c = 0; c < xs.columns; ++c) {
          for (uint32_t r = 0; r < xs.rows; ++r) data.x[c][r] = xs.at(c, r);
        }
      }
      break;
    case Layout::kRows:
      fits = xs.columns == ys.columns;
      if (fits) {
        data.x.assign(xs.rows, std::vector<double>(n));
        for (uint32_t r = 0; r < xs.rows; ++r) {
          for (uint32_t c = 0; c < xs.columns; ++c) data.x[r][c] = xs.at(c, r);
        }
      }
      break;
    case Layout::kSingle:
      fits = xs.columns == ys.columns && xs.rows == ys.rows;
      if (fits) data.x.assign(1, xs.numbers);
      break;
  }
  if (!fits) result.setError(kErrorRef);
  return fits;
}

Value numberOrNum(double x) {
  Value v;
  setNumberResult(v, x);
  return v;
}

// LINEST and LOGEST: the coefficients last variable first, then the constant; with statistics
// the five rows of standard errors, r2 and the error of the estimate, F and the degrees of
// freedom, the regression and residual sums of squares, filled with #N/A.
void estimate(CallContext& context, const Value* const* arguments, Value& result,
              bool logarithmic) {
  bool constant, statistics;
  if (!readSwitch(context, argumentAt(arguments, 2), true, &constant, result) ||
      !readSwitch(context, argumentAt(arguments, 3), false, &statistics, result)) {
    return;
  }
  KnownData data;
  if (!readKnown(context, argumentAt(arguments, 0), argumentAt(arguments, 1), logarithmic, data,
                 result)) {
    return;
  }
  const LeastSquaresFit fit = fitLeastSquares(data.x, data.y, constant);
  const size_t k = data.x.size();
  const auto shown = [logarithmic](double coefficient) {
    return numberOrNum(logarithmic ? std::exp(coefficient) : coefficient);
  };
  ValueArray out(uint32_t(k + 1), statistics ? 5 : 1);
  for (size_t j = 0; j < k; ++j) out.at(uint32_t(k - 1 - j), 0) = shown(fit.coefficients[j]);
  out.at(uint32_t(k), 0) = shown(fit.intercept);
  if (statistics) {
    for (uint32_t r = 2; r < 5; ++r) {
      for (uint32_t c = 2; c <= k; ++c) out.at(c, r).setError(kErrorNA);
    }
    for (size_t j = 0; j < k; ++j) {
      out.at(uint32_t(k - 1 - j), 1) = numberOrNum(fit.kept[j] ? fit.errors[j] : 0.0);
    }
    if (constant) {
      out.at(uint32_t(k), 1) = numberOrNum(fit.interceptError);
    } else {
      out.at(uint32_t(k), 1).setError(kErrorNA);
    }
    const double df = double(fit.degreesOfFreedom);
    const double regressors = double(fit.rank);
    out.at(0, 2) = numberOrNum(fit.sstotal > 0 ? fit.ssreg / fit.sstotal : NAN);
    out.at(1, 2) = numberOrNum(df > 0 ? std::sqrt(fit.ssresid / df) : NAN);
    out.at(0, 3) = numberOrNum(df > 0 && fit.ssresid > 0 && regressors > 0
                                   ? (fit.ssreg / regressors) / (fit.ssresid / df)
                                   : NAN);
    out.at(1, 3) = numberOrNum(df);
    out.at(0, 4) = numberOrNum(fit.ssreg);
    out.at(1, 4) = numberOrNum(fit.ssresid);
  }
  result.setArray(std::move(out));
}

void linest(CallContext& context, const Value* const* arguments, Value& result) {
  estimate(context, arguments, result, false);
}

void logest(CallContext& context, const Value* const* arguments, Value& result) {
  estimate(context, arguments, result, true);
}

// TREND and GROWTH: the fitted values at new_x (known_x, or 1..n, when absent). With one variable
// every element of new_x is a point and the result has its shape; with several, new_x holds one
// point per row (known_y a column) or per column (known_y a row).
void project(CallContext& context, const Value* const* arguments, Value& result, bool logarithmic) {
  bool constant;
  if (!readSwitch(context, argumentAt(arguments, 3), true, &constant, result)) return;
  const Value* knownX = argumentAt(arguments, 1);
  KnownData data;
  if (!readKnown(context, argumentAt(arguments, 0), knownX, logarithmic, data, result)) return;
  const size_t k = data.x.size();

  NumberGrid points;
  const Value* newX = argumentAt(arguments, 2);
  if (!omitted(newX)) {
    if (!readGrid(context, *newX, points, result)) return;
  } else if (!omitted(knownX)) {
    if (!readGrid(context, *knownX, points, result)) return;
  } else {
    // 1..n in the shape of known_y.
    const Value& y = *argumentAt(arguments, 0);
    RangeSource shape;
    if (!assignSource(context, y, shape, result)) return;
    points.columns = shape.columns();
    points.rows = shape.rows();
    for (size_t i = 0; i < data.y.size(); ++i) points.numbers.push_back(double(i + 1));
  }

  const LeastSquaresFit fit = fitLeastSquares(data.x, data.y, constant);
  auto value = [&](const double* x, size_t stride) {
    double sum = fit.intercept;
    for (size_t j = 0; j < k; ++j) sum += fit.coefficients[j] * x[j * stride];
    return numberOrNum(logarithmic ? std::exp(sum) : sum);
  };

  if (k == 1) {
    ValueArray out(points.columns, points.rows);
    for (uint32_t r = 0; r < points.rows; ++r) {
      for (uint32_t c = 0; c < points.columns; ++c) {
        out.at(c, r) = value(&points.numbers[size_t(r) * points.columns + c], 1);
      }
    }
    return result.setArray(std::move(out));
  }
  if (data.layout == Layout::kColumns) {
    if (points.columns != k) return result.setError(kErrorRef);
    ValueArray out(1, points.rows);
    for (uint32_t r = 0; r < points.rows; ++r) {
      out.at(0, r) = value(&points.numbers[size_t(r) * points.columns], 1);
    }
    return result.setArray(std::move(out));
  }
  if (points.rows != k) return result.setError(kErrorRef);
  ValueArray out(points.columns, 1);
  for (uint32_t c = 0; c < points.columns; ++c) {
    out.at(c, 0) = value(&points.numbers[c], points.columns);
  }
  result.setArray(std::move(out));
}

void trend(CallContext& context, const Value* const* arguments, Value& result) {
  project(context, arguments, result, false);
}

void growth(CallContext& context, const Value* const* arguments, Value& result) {
  project(context, arguments, result, true);
}

constexpr NativeEntry kRegressionFunctions[] = {
    {u"CORREL", correl},      {u"COVAR", covar},
    {u"COVARIANCE.P", covar}, {u"COVARIANCE.S", covarianceS},
    {u"FORECAST", forecast},  {u"FORECAST.LINEAR", forecast},
    {u"GROWTH", growth},      {u"INTERCEPT", intercept},
    {u"LINEST", linest},      {u"LOGEST", logest},
    {u"PEARSON", correl},     {u"RSQ", rsq},
    {u"SLOPE", slope},        {u"STEYX", steyx},
    {u"TREND", trend},
};

}  // namespace

NativeTable hostRegressionFunctions() { return kRegressionFunctions; }

}  // namespace korvel
