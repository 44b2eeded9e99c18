// Statistical functions: deviations and variances, order statistics, ranking, frequencies and the
// normal distribution. LINEST goes to the host program once its defaults are filled in.
//
// Choices where the rules leave room, and why:
// - The normal integral uses its piecewise polynomials; the tenth coefficient of the series below
//   1 is negative, as the series of the integral has it (alternating signs). With a positive sign
//   the answers near 1 were off in the tenth digit.
// - The A forms of the dispersion functions count TRUE as 1 and FALSE and texts as 0, which is
//   what sets them apart from the plain forms; counting TRUE as 0 gave plainly wrong deviations.
// - MODE answers the winning number as it stands: truncating it to an integer answered 2 for the
//   values 2.5, 2.5 and 3, a number that is not even among them.
// - A list of references (a union) is read as its references one after the other wherever ranges
//   are read, except in MODE, which refuses it.
// - Numbers are equal for MODE, RANK and FREQUENCY only when they are the same double: ranks and
//   counts then agree with the sorted order they are read from.
// - A range's cells are read row after row, so the first error met is the top-left one.
// - The ranking cache keeps the sorted numbers of a range, so that any number and either order
//   is answered from it exactly as a fresh count would. It is used only while the engine allows
//   (searchCachesUsable): a full recalculation, an iteration round or a data table's substituted
//   input can change the cells of a range between two calls.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <tuple>
#include <vector>

#include "engine/engine.h"
#include "engine/recalculation.h"
#include "engine/value_convert.h"
#include "functions/arguments.h"
#include "functions/native_families.h"
#include "functions/statistics.h"
#include "model/address.h"

namespace korvel {
namespace {

// ---------------------------------------------------------------------------------------------
// The normal distribution.

// I(h) = Phi(h) - 0.5 for 0 <= h < 1, as h times a polynomial in h squared.
constexpr double kSeriesSmall[] = {0.3989422804014327,   -0.06649038006690546, 0.00997355701003582,
                                   -0.00118732821548045, 0.00011543468761616,  -9.4446562595e-06,
                                   6.6596935163e-07,     -4.122667415e-08,     2.27352982e-09,
                                   -1.1301172e-10,       5.11243e-12,          -2.1218e-13};

// I(h) for 1 <= h < 3, a polynomial in h - 2.
constexpr double kSeriesMiddle[] = {
    0.4772498680518208,   0.05399096651318805,  -0.05399096651318805, 0.02699548325659403,
    -0.00449924720943234, -0.00224962360471617, 0.0013497741628297,   -0.0001178374269137,
    -0.00011515930357476, 3.704737285544e-05,   2.82690796889e-06,    -3.54513195524e-06,
    3.7669563126e-07,     1.9202407921e-07,     -5.22690859e-08,      -4.91799345e-09,
    3.66377919e-09,       -1.5981997e-10,       -1.7381238e-10,       2.624031e-11,
    5.60919e-12,          -1.72127e-12,         -8.634e-14,           7.894e-14};

// I(h) for 3 <= h < 5, a polynomial in h - 4.
constexpr double kSeriesHigh[] = {0.4999683287581669,  0.00013383022576489,  -0.00026766045152977,
                                  0.00033457556441221, -0.00028996548915725, 0.00018178605666397,
                                  -8.252863922168e-05, 2.551802519049e-05,   -3.91665839292e-06,
                                  -7.4018205222e-07,   6.4422023359e-07,     -1.737015534e-07,
                                  9.09595465e-09,      9.44943118e-09,       -3.29957075e-09,
                                  2.9492075e-10,       1.1874477e-10,        -4.420396e-11,
                                  3.61422e-12,         1.43638e-12,          -4.5848e-13};

constexpr double kInverseRootTwoPi = 0.3989422804014327;

template <size_t N>
double horner(const double (&coefficients)[N], double x) {
  double sum = 0;
  for (size_t i = N; i-- > 0;) sum = sum * x + coefficients[i];
  return sum;
}

}  // namespace

double normalIntegral(double x) {
  double h = std::fabs(x);
  double integral;
  if (h < 1) {
    integral = h * horner(kSeriesSmall, h * h);
  } else if (h < 3) {
    integral = horner(kSeriesMiddle, h - 2);
  } else if (h < 5) {
    integral = horner(kSeriesHigh, h - 4);
  } else {
    double m = 1 / (h * h);
    double tail = 1 - m + 3 * m * m - 15 * m * m * m + 105 * m * m * m * m;
    integral = 0.5 - kInverseRootTwoPi * std::exp(-h * h / 2) / h * tail;
  }
  return x < 0 ? -integral : integral;
}

namespace {

// Wichura's AS 241 (PPND16): the central region, |p - 0.5| <= 0.425.
constexpr double kCentralNumerator[] = {3.3871328727963665, 133.14166789178438, 1971.5909503065513,
                                        13731.69376550946,  45921.95393154987,  67265.7709270087,
                                        33430.57558358813,  2509.0809287301227};
constexpr double kCentralDenominator[] = {1,
                                          42.31333070160091,
                                          687.1870074920579,
                                          5394.196021424751,
                                          21213.794301586597,
                                          39307.89580009271,
                                          28729.085735721943,
                                          5226.495278852854};
// The intermediate tail, r = sqrt(-ln(min(p, 1 - p))) <= 5.
constexpr double kNearNumerator[] = {1.4234371107496835,   4.630337846156546,    5.769497221460691,
                                     3.6478483247632045,   1.2704582524523684,   0.2417807251774506,
                                     0.022723844989269184, 0.0007745450142783414};
constexpr double kNearDenominator[] = {1,
                                       2.053191626637759,
                                       1.6763848301838038,
                                       0.6897673349851,
                                       0.14810397642748008,
                                       0.015198666563616457,
                                       0.0005475938084995345,
                                       1.0507500716444169e-09};
// The far tail, r > 5.
constexpr double kFarNumerator[] = {
    6.657904643501103,    5.463784911164114,     1.7848265399172913,     0.29656057182850487,
    0.026532189526576124, 0.0012426609473880784, 2.7115555687434876e-05, 2.0103343992922881e-07};
constexpr double kFarDenominator[] = {1,
                                      0.599832206555888,
                                      0.1369298809227358,
                                      0.014875361290850615,
                                      0.0007868691311456133,
                                      1.8463183175100548e-05,
                                      1.421511758316446e-07,
                                      2.0442631033899397e-15};

constexpr double kMinusInfinity = -HUGE_VAL;
constexpr double kPlusInfinity = HUGE_VAL;
constexpr double kNotANumber = std::numeric_limits<double>::quiet_NaN();

}  // namespace

double normalQuantile(double p, double mean, double sd) {
  if (std::isnan(p) || p < 0 || p > 1 || sd < 0) return kNotANumber;
  if (p == 0) return kMinusInfinity;
  if (p == 1) return kPlusInfinity;
  if (sd == 0) return mean;
  double q = p - 0.5;
  double quantile;
  if (std::fabs(q) <= 0.425) {
    double r = 0.180625 - q * q;
    quantile = q * horner(kCentralNumerator, r) / horner(kCentralDenominator, r);
  } else {
    double r = std::sqrt(-std::log(std::min(p, 1 - p)));
    if (r <= 5) {
      double s = r - 1.6;
      quantile = horner(kNearNumerator, s) / horner(kNearDenominator, s);
    } else {
      double s = r - 5;
      quantile = horner(kFarNumerator, s) / horner(kFarDenominator, s);
    }
    if (q < 0) quantile = -quantile;
  }
  return mean + sd * quantile;
}

namespace {

// A value-class argument read by toNumber: an array stands for its first element.
bool readNumber(const Value& value, double* out) {
  if (value.isArray()) {
    if (value.array().size() == 0) return false;
    return toNumber(value.array().elements().front(), out);
  }
  return toNumber(value, out);
}

void normsdist(CallContext& context, const Value* const* arguments, Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  const Value* z = argumentAt(arguments, 0);
  double x = 0;
  if (z == nullptr || !readNumber(*z, &x)) {
    result.setError(kErrorValue);
    return;
  }
  double p = normalIntegral(x) + 0.5;
  if (!std::isfinite(p)) {
    result.setInteger(x >= 0 ? 1 : 0);
    return;
  }
  setNumberResult(result, p);
}

void normsinv(CallContext& context, const Value* const* arguments, Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  const Value* argument = argumentAt(arguments, 0);
  double p = 0;
  if (argument == nullptr || !readNumber(*argument, &p)) {
    result.setError(kErrorValue);
    return;
  }
  setNumberResult(result, normalQuantile(p, 0, 1));  // not finite -> #NUM!
}

void norminv(CallContext& context, const Value* const* arguments, Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  double numbers[3] = {0, 0, 0};
  for (size_t i = 0; i < 3; ++i) {
    const Value* argument = argumentAt(arguments, i);
    if (argument == nullptr || !readNumber(*argument, &numbers[i])) {
      result.setError(kErrorValue);
      return;
    }
  }
  double p = numbers[0], mean = numbers[1], sd = numbers[2];
  if (p < 0 || p > 1 || !(sd > 0)) {
    result.setError(kErrorNum);
    return;
  }
  setNumberResult(result, normalQuantile(p, mean, sd));
}

// ---------------------------------------------------------------------------------------------
// Reading ranges and arrays.

// A cell that holds an array (an array formula's anchor) shows its first element.
const Value& shownValue(const Value& value) {
  if (value.isArray() && value.array().size() > 0) return value.array().elements().front();
  return value;
}

// Calls visit(value) for every stored cell of the range, row after row, until it returns false.
// Rows below the last stored cell of a column hold nothing and are not visited. Returns false
// when visit stopped the scan.
template <typename Visit>
bool forEachCell(const CallContext& context, const RangeRef& reference, Visit&& visit) {
  RangeRef range = normalizeRange(reference);
  uint32_t sheet = range.first.sheet();
  uint32_t firstColumn = range.first.column(), lastColumn = range.last.column();
  std::vector<int64_t> lastRows;
  lastRows.reserve(lastColumn - firstColumn + 1);
  int64_t bottom = -1;
  for (uint32_t c = firstColumn; c <= lastColumn; ++c) {
    int64_t last = std::min<int64_t>(lastStoredRow(context, sheet, c), range.last.row());
    lastRows.push_back(last);
    bottom = std::max(bottom, last);
  }
  for (int64_t r = range.first.row(); r <= bottom; ++r) {
    for (uint32_t c = firstColumn; c <= lastColumn; ++c) {
      if (r > lastRows[c - firstColumn]) continue;
      const Value& value = cellValueAt(context, CellRef::at(sheet, uint32_t(r), c));
      if (!visit(shownValue(value))) return false;
    }
  }
  return true;
}

bool usableRange(const RangeRef& reference) {
  RangeRef range = normalizeRange(reference);
  return isValidRange(range) && range.first.sheet() == range.last.sheet();
}

}  // namespace

bool collectNumbers(const CallContext& context, const Value& source, std::vector<double>& numbers,
                    Value* error) {
  auto take = [&](const Value& value) {
    if (value.isNumeric()) {
      numbers.push_back(value.number());
    } else if (isErrorLike(value)) {
      *error = value;
      return false;
    }
    return true;
  };
  if (source.isReference()) {
    if (!usableRange(source.reference())) {
      error->setError(kErrorRef);
      return false;
    }
    return forEachCell(context, source.reference(), take);
  }
  if (source.isReferenceList()) {
    for (const Value& part : source.array().elements()) {
      if (!collectNumbers(context, part, numbers, error)) return false;
    }
    return true;
  }
  if (source.isArray()) {
    for (const Value& element : source.array().elements()) {
      if (!take(element)) return false;
    }
    return true;
  }
  return take(source);
}

namespace {

// ---------------------------------------------------------------------------------------------
// Dispersion: STDEV, STDEVA, STDEVP, STDEVPA, VAR, VARA, VARP, VARPA.

enum class Dispersion {
  kSampleDeviation,
  kPopulationDeviation,
  kSampleVariance,
  kPopulationVariance
};

// Collects the values of the dispersion functions. withLogicals: the A forms, where texts and
// booleans in references count (texts and FALSE as 0, TRUE as 1). Given directly, a boolean or a
// text that reads as a number counts as that number in every form, and another text is #VALUE!.
class DispersionValues {
 public:
  DispersionValues(const CallContext& context, bool withLogicals)
      : context_(context), withLogicals_(withLogicals) {}

  // False with *error set when an error ends the call.
  bool add(const Value& argument, Value* error) {
    if (argument.isReference()) {
      if (!usableRange(argument.reference())) {
        error->setError(kErrorRef);
        return false;
      }
      return forEachCell(context_, argument.reference(),
                         [&](const Value& value) { return addOne(value, true, error); });
    }
    if (argument.isReferenceList()) {
      for (const Value& part : argument.array().elements()) {
        if (!add(part, error)) return false;
      }
      return true;
    }
    if (argument.isArray()) {
      for (const Value& element : argument.array().elements()) {
        if (!addOne(element, false, error)) return false;
      }
      return true;
    }
    if (argument.isBoolean() || (argument.isText() && !isErrorLike(argument))) {
      double number = 0;
      if (!directArgumentNumber(context_, argument, &number)) {
        error->setError(kErrorValue);
        return false;
      }
      push(number);
      return true;
    }
    return addOne(argument, true, error);
  }

  const std::vector<double>& values() const { return values_; }
  double sum() const { return sum_; }

 private:
  // logicalsCount: the value was given directly or in a reference, where the A forms count
  // texts and booleans; inside arrays they never count.
  bool addOne(const Value& value, bool logicalsCount, Value* error) {
    if (isErrorLike(value)) {
      *error = value;
      return false;
    }
    if (value.isNumeric()) {
      push(value.number());
    } else if (withLogicals_ && logicalsCount) {
      if (value.isBoolean()) push(value.boolean() ? 1 : 0);
      if (value.isText()) push(0);
    }
    return true;
  }
  void push(double x) {
    values_.push_back(x);
    sum_ += x;
  }

  const CallContext& context_;
  bool withLogicals_;
  std::vector<double> values_;
  double sum_ = 0;
};

// The sum of squared deviations from the mean, four values per step.
double squaredDeviations(const std::vector<double>& values, double mean) {
  double partial[4] = {0, 0, 0, 0};
  size_t n = values.size(), i = 0;
  for (; i + 4 <= n; i += 4) {
    for (size_t j = 0; j < 4; ++j) {
      double d = values[i + j] - mean;
      partial[j] += d * d;
    }
  }
  for (; i < n; ++i) {
    double d = values[i] - mean;
    partial[0] += d * d;
  }
  return (partial[0] + partial[1]) + (partial[2] + partial[3]);
}

void dispersion(CallContext& context, const Value* const* arguments, Value& result, Dispersion kind,
                bool withLogicals) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  DispersionValues values(context, withLogicals);
  for (size_t i = 0, n = argumentCount(arguments); i < n; ++i) {
    if (!values.add(*arguments[i], &result)) return;
  }
  size_t n = values.values().size();
  bool sample = kind == Dispersion::kSampleDeviation || kind == Dispersion::kSampleVariance;
  if (n == 0 || (sample && n == 1)) {
    result.setError(kErrorDiv0);
    return;
  }
  double mean = values.sum() / double(n);
  double variance = squaredDeviations(values.values(), mean) / double(sample ? n - 1 : n);
  bool root = kind == Dispersion::kSampleDeviation || kind == Dispersion::kPopulationDeviation;
  setNumberResult(result, root ? std::sqrt(variance) : variance);
}

void stdev(CallContext& c, const Value* const* a, Value& r) {
  dispersion(c, a, r, Dispersion::kSampleDeviation, false);
}
void stdeva(CallContext& c, const Value* const* a, Value& r) {
  dispersion(c, a, r, Dispersion::kSampleDeviation, true);
}
void stdevp(CallContext& c, const Value* const* a, Value& r) {
  dispersion(c, a, r, Dispersion::kPopulationDeviation, false);
}
void stdevpa(CallContext& c, const Value* const* a, Value& r) {
  dispersion(c, a, r, Dispersion::kPopulationDeviation, true);
}
void var(CallContext& c, const Value* const* a, Value& r) {
  dispersion(c, a, r, Dispersion::kSampleVariance, false);
}
void vara(CallContext& c, const Value* const* a, Value& r) {
  dispersion(c, a, r, Dispersion::kSampleVariance, true);
}
void varp(CallContext& c, const Value* const* a, Value& r) {
  dispersion(c, a, r, Dispersion::kPopulationVariance, false);
}
void varpa(CallContext& c, const Value* const* a, Value& r) {
  dispersion(c, a, r, Dispersion::kPopulationVariance, true);
}

// ---------------------------------------------------------------------------------------------
// MEDIAN, SMALL, LARGE, MODE.

void median(CallContext& context, const Value* const* arguments, Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  std::vector<double> numbers;
  for (size_t i = 0, n = argumentCount(arguments); i < n; ++i) {
    const Value& argument = *arguments[i];
    if (argument.isNumeric()) {
      numbers.push_back(argument.number());
    } else if (argument.isBoolean()) {
      numbers.push_back(argument.boolean() ? 1 : 0);
    } else if (argument.isText()) {
      // An error text travels as the error it names; a text that reads as a number counts;
      // any other text is the wrong kind.
      double number = 0;
      if (isErrorText(argument.text())) {
        result = argument;
      } else if (directArgumentNumber(context, argument, &number)) {
        numbers.push_back(number);
        continue;
      } else {
        result.setError(kErrorValue);
      }
      return;
    } else if (argument.isReference() || argument.isReferenceList() || argument.isArray()) {
      // A single cell that holds no number contributes nothing; its errors were pre-checked.
      if (!collectNumbers(context, argument, numbers, &result)) return;
    }
  }
  if (numbers.empty()) {
    result.setError(kErrorNum);
    return;
  }
  size_t middle = numbers.size() / 2;
  std::nth_element(numbers.begin(), numbers.begin() + middle, numbers.end());
  double upper = numbers[middle];
  if (numbers.size() % 2 == 1) {
    setNumberResult(result, upper);
    return;
  }
  double lower = *std::max_element(numbers.begin(), numbers.begin() + middle);
  setNumberResult(result, lower + (upper - lower) / 2);
}

// The cells a reference names, or the elements of an array or a list (0 for other values).
double elementCount(const Value& data) {
  if (data.isReference()) {
    RangeRef range = normalizeRange(data.reference());
    return (double(range.last.row()) - range.first.row() + 1) *
           (double(range.last.column()) - range.first.column() + 1);
  }
  if (data.isArray()) return double(data.array().size());
  if (data.isReferenceList()) {
    double count = 0;
    for (const Value& part : data.array().elements()) count += elementCount(part);
    return count;
  }
  return 0;
}

// SMALL (largest false) and LARGE: the k-th number of the data from either end.
void kthNumber(CallContext& context, const Value* const* arguments, Value& result, bool largest) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  const Value* data = argumentAt(arguments, 0);
  const Value* kArgument = argumentAt(arguments, 1);
  if (data == nullptr || kArgument == nullptr) {
    result.setError(kErrorValue);
    return;
  }
  const Value* kValue = kArgument;
  if (kArgument->isReference()) {
    RangeRef range = normalizeRange(kArgument->reference());
    kValue = &shownValue(cellValueAt(context, range.first));
  }
  double k = 0;
  if (!readNumber(*kValue, &k)) {
    result.setError(kErrorValue);
    return;
  }
  if (!numbersEqual(std::trunc(k), k) || !(k > 0)) {
    result.setError(kErrorNum);
    return;
  }
  k = std::round(k);
  std::vector<double> numbers;
  if (data->isNumeric() || data->isBoolean() || data->isText()) {
    // One value given directly: a boolean or a text that reads as a number is that number.
    double number = 0;
    if (!directArgumentNumber(context, *data, &number)) {
      result.setError(kErrorValue);
      return;
    }
    if (k != 1) {
      result.setError(kErrorNum);
      return;
    }
    setNumberResult(result, number);
    return;
  }
  if (!data->isReference() && !data->isArray() && !data->isReferenceList()) {
    result.setError(kErrorNum);
    return;
  }
  if (elementCount(*data) < k) {
    result.setError(kErrorNum);
    return;
  }
  if (!collectNumbers(context, *data, numbers, &result)) return;
  if (double(numbers.size()) < k) {
    result.setError(kErrorNum);
    return;
  }
  size_t index = size_t(k) - 1;
  if (largest) index = numbers.size() - 1 - index;
  std::nth_element(numbers.begin(), numbers.begin() + index, numbers.end());
  setNumberResult(result, numbers[index]);
}

void small(CallContext& c, const Value* const* a, Value& r) { kthNumber(c, a, r, false); }
void large(CallContext& c, const Value* const* a, Value& r) { kthNumber(c, a, r, true); }

void mode(CallContext& context, const Value* const* arguments, Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  std::vector<double> numbers;
  for (size_t i = 0, n = argumentCount(arguments); i < n; ++i) {
    const Value& argument = *arguments[i];
    if (argument.isNumeric()) {
      numbers.push_back(argument.number());
    } else if (argument.isArray()) {
      if (!collectNumbers(context, argument, numbers, &result)) return;
    } else if (argument.isReference()) {
      RangeRef range = normalizeRange(argument.reference());
      if (range.first == range.last) {
        const Value& content = shownValue(cellValueAt(context, range.first));
        if (!content.isNumeric()) {
          result.setError(kErrorValue);
          return;
        }
        numbers.push_back(content.number());
      } else if (!collectNumbers(context, argument, numbers, &result)) {
        return;
      }
    } else {
      result.setError(kErrorValue);
      return;
    }
  }
  std::sort(numbers.begin(), numbers.end());
  bool found = false;
  double winner = 0;
  size_t winnerCount = 0;
  for (size_t i = 0; i < numbers.size();) {
    size_t j = i + 1;
    while (j < numbers.size() && numbers[j] == numbers[i]) ++j;
    size_t count = j - i;
    double x = numbers[i];
    if (count >= 2) {
      // The sort brings negatives first, so of two equal magnitudes the smaller is met first and
      // kept.
      bool better = !found || count > winnerCount ||
                    (count == winnerCount && std::fabs(x) < std::fabs(winner));
      if (better) {
        found = true;
        winner = x;
        winnerCount = count;
      }
    }
    i = j;
  }
  if (!found) {
    result.setError(kErrorNA);
    return;
  }
  setNumberResult(result, winner);
}

// ---------------------------------------------------------------------------------------------
// RANK and its cache.

// The sorted numbers of the sheet ranges ranked during one changed-cells recalculation, or the
// error that reading one of them met.
class RankCache : public SearchCache {
 public:
  struct Entry {
    std::vector<double> sorted;
    bool failed = false;
    Value error;
  };
  Entry* find(const RangeRef& range) {
    auto it = entries_.find(key(range));
    return it == entries_.end() ? nullptr : &it->second;
  }
  Entry& store(const RangeRef& range, Entry entry) {
    return entries_.insert_or_assign(key(range), std::move(entry)).first->second;
  }

 private:
  using Key = std::tuple<uint32_t, uint32_t, uint32_t, uint32_t>;
  static Key key(const RangeRef& range) {
    return {range.first.rowWord, range.first.columnWord, range.last.rowWord, range.last.columnWord};
  }
  std::map<Key, Entry> entries_;
};

// The ranking cache, or null while it may not be used (see the top of the file).
RankCache* rankCache(CallContext& context) {
  Engine* engine = context.engine;
  if (engine == nullptr || !engine->searchCachesUsable) return nullptr;
  auto& slot = engine->searchCaches[kRankCacheSlot];
  if (!slot) slot = std::make_unique<RankCache>();
  return static_cast<RankCache*>(slot.get());
}

void rank(CallContext& context, const Value* const* arguments, Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  const Value* numberArgument = argumentAt(arguments, 0);
  const Value* ref = argumentAt(arguments, 1);
  const Value* orderArgument = argumentAt(arguments, 2);
  if (numberArgument == nullptr || ref == nullptr) {
    result.setError(kErrorValue);
    return;
  }
  const Value* numberValue = numberArgument;
  if (numberValue->isArray()) {
    if (numberValue->array().size() == 0) {
      result.setError(kErrorValue);
      return;
    }
    numberValue = &numberValue->array().elements().front();
  } else if (numberValue->isReference()) {
    numberValue = &shownValue(cellValueAt(context, normalizeRange(numberValue->reference()).first));
  }
  double number = 0;
  if (numberValue->isNumeric()) {
    number = numberValue->number();
  } else if (numberValue->isBoolean()) {
    if (numberValue->boolean()) {
      result.setError(kErrorNA);
      return;
    }
  } else if (!numberValue->isEmpty()) {
    result.setError(kErrorValue);
    return;
  }
  if (!ref->isReference() && !ref->isArray() && !ref->isReferenceList()) {
    result.setError(kErrorValue);
    return;
  }
  bool ascending = false;
  if (orderArgument != nullptr) {
    if (orderArgument->isNumeric()) {
      ascending = orderArgument->number() != 0;
    } else if (orderArgument->isBoolean()) {
      ascending = orderArgument->boolean();
    } else if (!orderArgument->isEmpty()) {
      result.setError(kErrorValue);
      return;
    }
  }

  RankCache::Entry fresh;
  const RankCache::Entry* entry = nullptr;
  RankCache* cache = ref->isReference() ? rankCache(context) : nullptr;
  RangeRef range = ref->isReference() ? normalizeRange(ref->reference()) : RangeRef{};
  if (cache != nullptr) entry = cache->find(range);
  if (entry == nullptr) {
    fresh.failed = !collectNumbers(context, *ref, fresh.sorted, &fresh.error);
    if (!fresh.failed) std::sort(fresh.sorted.begin(), fresh.sorted.end());
    entry = cache != nullptr ? &cache->store(range, std::move(fresh)) : &fresh;
  }
  if (entry->failed) {
    result = entry->error;
    return;
  }
  const std::vector<double>& sorted = entry->sorted;
  auto lower = std::lower_bound(sorted.begin(), sorted.end(), number);
  if (lower == sorted.end() || *lower != number) {
    result.setError(kErrorNA);
    return;
  }
  size_t smaller = size_t(lower - sorted.begin());
  size_t greater = size_t(sorted.end() - std::upper_bound(lower, sorted.end(), number));
  setNumberResult(result, double(1 + (ascending ? smaller : greater)));
}

// ---------------------------------------------------------------------------------------------
// FREQUENCY and LINEST.

void frequency(CallContext& context, const Value* const* arguments, Value& result) {
  const Value* data = argumentAt(arguments, 0);
  const Value* bins = argumentAt(arguments, 1);
  if (data != nullptr && isErrorLike(*data)) {
    result = *data;
    return;
  }
  if (data == nullptr || bins == nullptr || data->isEmpty() || bins->isEmpty()) {
    result.setError(kErrorValue);
    return;
  }
  std::vector<double> numbers;
  if (!collectNumbers(context, *data, numbers, &result)) return;
  // Errors among the bins are passed over: the reading goes on after each.
  std::vector<double> given;
  auto takeBin = [&given](const Value& value) {
    if (value.isNumeric()) given.push_back(value.number());
    return true;
  };
  if (bins->isReference() && usableRange(bins->reference())) {
    forEachCell(context, bins->reference(), takeBin);
  } else if (bins->isReferenceList()) {
    for (const Value& part : bins->array().elements()) {
      if (part.isReference() && usableRange(part.reference())) {
        forEachCell(context, part.reference(), takeBin);
      }
    }
  } else if (bins->isArray()) {
    for (const Value& element : bins->array().elements()) takeBin(element);
  } else {
    takeBin(*bins);
  }
  if (given.empty()) given.push_back(0);

  std::vector<double> edges = given;
  std::sort(edges.begin(), edges.end());
  edges.erase(std::unique(edges.begin(), edges.end()), edges.end());
  std::vector<int64_t> counts(edges.size() + 1, 0);  // the last one counts the overflow
  for (double x : numbers) {
    counts[size_t(std::lower_bound(edges.begin(), edges.end(), x) - edges.begin())] += 1;
  }
  ValueArray out(1, uint32_t(given.size() + 1));
  for (size_t i = 0; i < given.size(); ++i) {
    size_t edge = size_t(std::lower_bound(edges.begin(), edges.end(), given[i]) - edges.begin());
    out.at(0, uint32_t(i)).setNumber(double(counts[edge]));
  }
  out.at(0, uint32_t(given.size())).setNumber(double(counts.back()));
  result.setArray(std::move(out));
}

void linest(CallContext& context, const Value* const* arguments, Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  static const Value kMissing;
  const Value* given[4] = {argumentAt(arguments, 0), argumentAt(arguments, 1),
                           argumentAt(arguments, 2), argumentAt(arguments, 3)};
  Value withConstant = Value::boolean(true);
  Value withoutStatistics = Value::boolean(false);
  const Value* passed[5] = {given[0] ? given[0] : &kMissing, given[1] ? given[1] : &kMissing,
                            (given[2] && !given[2]->isEmpty()) ? given[2] : &withConstant,
                            (given[3] && !given[3]->isEmpty()) ? given[3] : &withoutStatistics,
                            nullptr};
  callHostFunction(context, 49, passed, 4, result);
}

}  // namespace

NativeTable statisticalFunctions() {
  static constexpr NativeEntry kTable[] = {
      {u"FREQUENCY", frequency}, {u"LARGE", large},       {u"LINEST", linest},
      {u"MEDIAN", median},       {u"MODE", mode},         {u"NORMINV", norminv},
      {u"NORMSDIST", normsdist}, {u"NORMSINV", normsinv}, {u"RANK", rank},
      {u"SMALL", small},         {u"STDEV", stdev},       {u"STDEVA", stdeva},
      {u"STDEVP", stdevp},       {u"STDEVPA", stdevpa},   {u"VAR", var},
      {u"VARA", vara},           {u"VARP", varp},         {u"VARPA", varpa},
  };
  return kTable;
}

}  // namespace korvel
