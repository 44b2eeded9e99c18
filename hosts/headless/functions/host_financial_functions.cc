// Rates, periods, depreciation and dated cash flows the runtime leaves to the host program.
//
// Algorithms:
// - NPER solves the time-value equation of FV, PV and PMT (see the native financial family) for
//   n: n = ln((w - fv × r) / (w + pv × r)) / ln(1 + r) with the weighted payment
//   w = pmt × (1 + r × type); at rate 0 it is -(pv + fv) / pmt.
// - RATE: Newton's method on the same equation, f(r) = pv × a + pmt × (1 + r × t) × (a - 1) / r
//   + fv with a = (1 + r)^n and its exact derivative, from the guess (0.1 when left out or empty),
//   at most 20 steps; two iterates closer than 1e-7 settle it (two more steps then give the full
//   digits), and anything else (a step to a rate
//   of -1 or below, a flat slope, no settling) is #NUM!.
// - XIRR: Newton's method on XNPV from the guess, at most 100 steps, settling when a step is
//   below 1e-12 relative (1e-8 is still accepted at the end). A step past -1 is replaced by the
//   point halfway to -1, so the search stays where the discounting is defined.
// - VDB sums the declining-balance depreciation of the whole periods it covers, weighting the
//   first and last one by the part the span covers. Unless no_switch is set it switches to
//   straight-line from the period where the straight-line share of the remaining value is larger,
//   and measures the span as the depreciation up to its end less that up to its start. A start
//   in the second half of the life that is not a whole period shifts the span back to the middle
//   of the life and lengthens the straight-line life by one period, as the host program does.
// - AMORDEGRC: the French declining balance: the rate 1 / life times the coefficient (1 below 3
//   years, 1.5 below 5, 2 up to 6, 2.5 above), the first, partial period prorated by the year
//   fraction of the purchase to the end of the first period, every depreciation rounded to a
//   whole number; the period in which the book value would drop below the salvage takes half
//   of the book value, and the periods after it nothing, as the host program has it.
// - AMORLINC: straight-line cost × rate, the first period prorated by the same year fraction, the
//   period after the last whole one taking what is left down to the salvage.
//
// Host program rules matched here:
// - The functions that came from the analysis add-in (EFFECT, NOMINAL, DOLLARDE, DOLLARFR,
//   FVSCHEDULE, XNPV, XIRR, AMORDEGRC, AMORLINC) refuse booleans with #VALUE!; the others read
//   TRUE as 1. Counts are truncated (EFFECT's and NOMINAL's periods a year, DOLLARDE's and
//   DOLLARFR's fraction, the AMOR functions' period and basis), dates truncated to whole days.
// - NPER and RATE take any type whose integer part is not 0 as payments at the start, as FV and
//   PMT do.
// - PDURATION is (ln fv - ln pv) / ln(1 + rate), RRI exp(ln(fv / pv) / nper) - 1: the digits of
//   the host program, which does not raise to a power here.
// - XNPV and XIRR read their values and dates as ranges, arrays or single numbers; an error
//   element is the result. A date must be a number (#VALUE!); a value that is none is #NUM! for
//   XNPV, and for XIRR an empty cell is 0 and anything else #VALUE!. The counts must match and no
//   date may precede the first (#NUM!). XNPV refuses a negative rate (#NUM!); XIRR needs a
//   positive and a negative value (#NUM!).
// - FVSCHEDULE's schedule may hold numbers and empty cells (a rate of 0); anything else is
//   #VALUE!, an error element the result.
// - The AMOR functions take the bases 0, 1, 3 and 4; basis 2 is #NUM!, as is a rate of 0 or less,
//   a negative cost, salvage or period, a salvage above the cost, a purchase after the end of the
//   first period, and in AMORDEGRC a life (1 / rate) inside (0, 1), (1, 2), (2, 3) or (4, 5).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "engine/engine.h"
#include "engine/value_convert.h"
#include "functions/arguments.h"
#include "hosts/headless/functions/day_count.h"
#include "hosts/headless/functions/host_functions.h"
#include "model/address.h"

namespace korvel {
namespace {

constexpr int kRateSteps = 20;
constexpr double kRateTolerance = 1e-7;
constexpr double kDefaultGuess = 0.1;
constexpr int kXirrSteps = 100;
constexpr double kXirrTolerance = 1e-12;
constexpr double kXirrAccepted = 1e-8;
constexpr double kDaysPerYear = 365;

// How a numeric argument treats TRUE and FALSE.
enum class Booleans { kRefused, kNumbers };

bool usesDate1904(const CallContext& context) {
  return context.engine != nullptr && context.engine->date1904;
}

// Argument `position` as a number (fallback when it is left out). 0 with *out set, else the error
// code of the result.
uint32_t readNumber(const CallContext& context, const Value* const* arguments, size_t position,
                    Booleans booleans, double fallback, double* out) {
  const Value* argument = argumentAt(arguments, position);
  if (argument == nullptr) {
    *out = fallback;
    return 0;
  }
  const Value value = dereferenced(context, *argument);
  if (value.isBoolean() && booleans == Booleans::kRefused) return kErrorValue;
  return numberOrError(value, out);
}

// Arguments 0 to count - 1 as numbers, left-out ones 0. False with the result set on an error.
bool readNumbers(const CallContext& context, const Value* const* arguments, size_t count,
                 Booleans booleans, double* out, Value& result) {
  for (size_t i = 0; i < count; ++i) {
    if (uint32_t code = readNumber(context, arguments, i, booleans, 0, &out[i])) {
      setErrorResult(result, code);
      return false;
    }
  }
  return true;
}

// How the elements of a series treat empty cells.
enum class Empties { kRefused, kZero };

// The code an element of a series stands for: 0 with *out set when it is a number, refusal for
// anything else that is no error.
uint32_t seriesElement(const Value& element, Empties empties, double* out,
                       uint32_t refusal = kErrorValue) {
  if (element.isNumeric()) {
    *out = element.number();
    return 0;
  }
  if (element.isEmpty() && empties == Empties::kZero) {
    *out = 0;
    return 0;
  }
  if (element.isError()) return element.errorCode();
  if (element.isText() && isErrorLike(element)) return errorFromText(element.text());
  return refusal;
}

// The cells of a range in reading order. Cells after the last stored row of their column are
// empty, so they are read only as far as a stored cell exists and stand in as empties beyond.
uint32_t collectRange(const CallContext& context, const RangeRef& reference, Empties empties,
                      std::vector<double>* out, uint32_t refusal = kErrorValue) {
  const RangeRef range = normalizeRange(reference);
  if (!isValidRange(range) || range.first.sheet() != range.last.sheet()) return kErrorRef;
  const uint32_t sheet = range.first.sheet();
  int64_t lastRow = -1;
  for (uint32_t c = range.first.column(); c <= range.last.column(); ++c) {
    lastRow = std::max(lastRow, lastStoredRow(context, sheet, c));
  }
  const int64_t stop = std::min<int64_t>(lastRow, range.last.row());
  for (int64_t r = range.first.row(); r <= stop; ++r) {
    for (uint32_t c = range.first.column(); c <= range.last.column(); ++c) {
      double x = 0;
      const Value& cell = cellValueAt(context, CellRef::at(sheet, uint32_t(r), c));
      if (uint32_t code = seriesElement(cell, empties, &x, refusal)) return code;
      out->push_back(x);
    }
  }
  if (int64_t(range.last.row()) > stop) {
    if (empties == Empties::kRefused) return refusal;
    const int64_t rows = int64_t(range.last.row()) - std::max(stop, int64_t(range.first.row()) - 1);
    const int64_t columns = int64_t(range.last.column()) - range.first.column() + 1;
    out->insert(out->end(), size_t(rows * columns), 0.0);
  }
  return 0;
}

// The numbers of a series argument: a range, a list of ranges, an array or a single value;
// refusal is the code of an element that is neither a number nor an error.
uint32_t collectSeries(const CallContext& context, const Value* argument, Empties empties,
                       std::vector<double>* out, uint32_t refusal = kErrorValue) {
  if (argument == nullptr) return kErrorValue;
  if (argument->isReference()) {
    return collectRange(context, argument->reference(), empties, out, refusal);
  }
  if (argument->isReferenceList() || argument->isArray()) {
    for (const Value& part : argument->array().elements()) {
      uint32_t code = 0;
      if (part.isReference()) {
        code = collectRange(context, part.reference(), empties, out, refusal);
      } else {
        double x = 0;
        code = seriesElement(part, empties, &x, refusal);
        if (code == 0) out->push_back(x);
      }
      if (code != 0) return code;
    }
    return 0;
  }
  double x = 0;
  if (argument->isBoolean()) return refusal;
  if (uint32_t code = numberOrError(*argument, &x)) return code;
  out->push_back(x);
  return 0;
}

// The payment type of FV and PMT: any non-zero integer part means the start of the period.
double paymentType(double type) { return std::trunc(type) != 0 ? 1 : 0; }

void nperRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  double x[5];
  if (!readNumbers(context, arguments, 5, Booleans::kNumbers, x, result)) return;
  const double rate = x[0], payment = x[1], present = x[2], future = x[3];
  const double type = paymentType(x[4]);
  if (rate == 0) {
    if (payment == 0) return setErrorResult(result, kErrorNum);
    return setNumberResult(result, -(present + future) / payment);
  }
  if (rate <= -1) return setErrorResult(result, kErrorNum);
  const double weighted = payment * (1 + rate * type);
  const double ratio = (weighted - future * rate) / (weighted + present * rate);
  if (!(ratio > 0)) return setErrorResult(result, kErrorNum);
  setNumberResult(result, std::log(ratio) / std::log1p(rate));
}

// The time-value equation of RATE at r and its slope.
struct RateEquation {
  double periods, payment, present, future, type;

  void at(double r, double* value, double* slope) const {
    const double n = periods;
    if (r == 0) {
      *value = present + payment * n + future;
      *slope = present * n + payment * (n * (n - 1) / 2 + type * n);
      return;
    }
    const double growth = std::pow(1 + r, n);
    const double growthSlope = n * std::pow(1 + r, n - 1);
    const double annuity = (growth - 1) / r;
    const double annuitySlope = (growthSlope * r - (growth - 1)) / (r * r);
    *value = present * growth + payment * (1 + r * type) * annuity + future;
    *slope = present * growthSlope + payment * (type * annuity + (1 + r * type) * annuitySlope);
  }
};

void rateRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  double x[5];
  if (!readNumbers(context, arguments, 5, Booleans::kNumbers, x, result)) return;
  double rate = kDefaultGuess;
  const Value* guess = argumentAt(arguments, 5);
  if (guess != nullptr && !dereferenced(context, *guess).isEmpty()) {
    if (uint32_t code = readNumber(context, arguments, 5, Booleans::kNumbers, 0, &rate)) {
      return setErrorResult(result, code);
    }
  }
  const RateEquation equation{x[0], x[1], x[2], x[3], paymentType(x[4])};
  if (equation.periods <= 0) return setErrorResult(result, kErrorNum);
  for (int step = 0; step < kRateSteps; ++step) {
    double value = 0, slope = 0;
    equation.at(rate, &value, &slope);
    const double next = rate - value / slope;
    if (!std::isfinite(next) || next <= -1) break;
    if (std::fabs(next - rate) < kRateTolerance) {
      // Settled: two more steps carry the root to the last digits the host program shows.
      rate = next;
      for (int polish = 0; polish < 2; ++polish) {
        equation.at(rate, &value, &slope);
        const double better = rate - value / slope;
        if (!std::isfinite(better) || better <= -1) break;
        rate = better;
      }
      return setNumberResult(result, rate);
    }
    rate = next;
  }
  setErrorResult(result, kErrorNum);
}

void effectRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  double x[2];
  if (!readNumbers(context, arguments, 2, Booleans::kRefused, x, result)) return;
  const double nominal = x[0], periods = std::trunc(x[1]);
  if (nominal <= 0 || periods < 1) return setErrorResult(result, kErrorNum);
  setNumberResult(result, std::pow(1 + nominal / periods, periods) - 1);
}

void nominalRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  double x[2];
  if (!readNumbers(context, arguments, 2, Booleans::kRefused, x, result)) return;
  const double effect = x[0], periods = std::trunc(x[1]);
  if (effect <= 0 || periods < 1) return setErrorResult(result, kErrorNum);
  setNumberResult(result, periods * (std::pow(1 + effect, 1 / periods) - 1));
}

// DOLLARDE (toDecimal) and DOLLARFR: the fractional part read as, or written as, a count of
// 1/fraction, in as many decimal digits as the fraction has.
void dollarConversion(CallContext& context, const Value* const* arguments, bool toDecimal,
                      Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  double x[2];
  if (!readNumbers(context, arguments, 2, Booleans::kRefused, x, result)) return;
  const double dollar = x[0], fraction = std::trunc(x[1]);
  if (fraction < 0) return setErrorResult(result, kErrorNum);
  if (fraction == 0) return setErrorResult(result, kErrorDiv0);
  const double scale = std::pow(10, std::ceil(std::log10(fraction)));
  const double whole = std::trunc(dollar), part = dollar - whole;
  setNumberResult(result, whole + (toDecimal ? part * scale / fraction : part * fraction / scale));
}

void dollardeRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  dollarConversion(context, arguments, true, result);
}

void dollarfrRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  dollarConversion(context, arguments, false, result);
}

void fvscheduleRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  double principal = 0;
  if (uint32_t code = readNumber(context, arguments, 0, Booleans::kRefused, 0, &principal)) {
    return setErrorResult(result, code);
  }
  std::vector<double> rates;
  if (uint32_t code = collectSeries(context, argumentAt(arguments, 1), Empties::kZero, &rates)) {
    return setErrorResult(result, code);
  }
  for (double rate : rates) principal *= 1 + rate;
  setNumberResult(result, principal);
}

void ispmtRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  double x[4];
  if (!readNumbers(context, arguments, 4, Booleans::kNumbers, x, result)) return;
  const double rate = x[0], period = x[1], periods = x[2], present = x[3];
  if (periods == 0) return setErrorResult(result, kErrorDiv0);
  setNumberResult(result, present * rate * (period / periods - 1));
}

void pdurationRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  double x[3];
  if (!readNumbers(context, arguments, 3, Booleans::kNumbers, x, result)) return;
  const double rate = x[0], present = x[1], future = x[2];
  if (rate <= 0 || present <= 0 || future <= 0) return setErrorResult(result, kErrorNum);
  setNumberResult(result, (std::log(future) - std::log(present)) / std::log1p(rate));
}

void rriRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  double x[3];
  if (!readNumbers(context, arguments, 3, Booleans::kNumbers, x, result)) return;
  const double periods = x[0], present = x[1], future = x[2];
  if (periods <= 0 || present == 0) return setErrorResult(result, kErrorNum);
  const double ratio = future / present;
  if (ratio == 0) return setNumberResult(result, -1);
  // A negative ratio has a real root only for some periods; the host program gives none.
  if (ratio < 0) return setErrorResult(result, kErrorNum);
  setNumberResult(result, std::exp(std::log(ratio) / periods) - 1);
}

// The declining-balance depreciation of whole period p (1-based) at factor / life, never taking
// the book value below the salvage.
double decliningPeriod(double cost, double salvage, double life, double period, double factor) {
  double rate = factor / life, before = 0;
  if (rate >= 1) {
    rate = 1;
    before = period == 1 ? cost : 0;
  } else {
    before = cost * std::pow(1 - rate, period - 1);
  }
  // before × rate rather than before - after: the difference of two close book values loses the
  // digits of a small period's depreciation.
  const double after = cost * std::pow(1 - rate, period);
  const double depreciation = after < salvage ? before - salvage : before * rate;
  return depreciation < 0 ? 0 : depreciation;
}

// The depreciation from the start up to `end` periods, switching to straight-line over
// straightLife periods once that is the larger share.
double switchedDepreciation(double cost, double salvage, double life, double straightLife,
                            double end, double factor) {
  const double lastPeriod = std::ceil(end);
  double total = 0, remaining = cost - salvage, straight = 0;
  bool declining = true;
  for (double i = 1; i <= lastPeriod; ++i) {
    double term = 0;
    if (declining) {
      const double balance = decliningPeriod(cost, salvage, life, i, factor);
      straight = remaining / (straightLife - (i - 1));
      if (straight > balance) {
        term = straight;
        declining = false;
      } else {
        term = balance;
        remaining -= balance;
      }
    } else {
      term = straight;
    }
    if (i == lastPeriod) term *= end + 1 - lastPeriod;
    total += term;
  }
  return total;
}

void vdbRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  double x[7];
  if (!readNumbers(context, arguments, 7, Booleans::kNumbers, x, result)) return;
  const double cost = x[0], salvage = x[1], life = x[2];
  double start = x[3], end = x[4];
  const double factor = argumentAt(arguments, 5) == nullptr ? 2 : x[5];
  const bool noSwitch = x[6] != 0;
  if (cost < 0 || salvage < 0 || life <= 0 || start < 0 || end < start || end > life ||
      factor <= 0) {
    return setErrorResult(result, kErrorNum);
  }
  if (noSwitch) {
    const double first = std::floor(start), last = std::ceil(end);
    double total = 0;
    for (double i = first + 1; i <= last; ++i) {
      double term = decliningPeriod(cost, salvage, life, i, factor);
      if (i == first + 1) {
        term *= std::min(end, first + 1) - start;
      } else if (i == last) {
        term *= end + 1 - last;
      }
      total += term;
    }
    return setNumberResult(result, total);
  }
  double straightLife = life;
  if (start != std::floor(start) && factor > 1 && start >= life / 2) {
    const double shift = start - life / 2;
    start = life / 2;
    end -= shift;
    straightLife += 1;
  }
  setNumberResult(result,
                  switchedDepreciation(cost, salvage, life, straightLife, end, factor) -
                      switchedDepreciation(cost, salvage, life, straightLife, start, factor));
}

// The arguments the AMOR functions share, read and checked.
struct Amortisation {
  double cost = 0, salvage = 0, period = 0, rate = 0;
  double firstFraction = 0;  // the year fraction from the purchase to the end of the first period
};

bool readAmortisation(CallContext& context, const Value* const* arguments, Value& result,
                      Amortisation* out) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return false;
  double x[7];
  if (!readNumbers(context, arguments, 7, Booleans::kRefused, x, result)) return false;
  const bool date1904 = usesDate1904(context);
  const double purchased = std::trunc(x[1]), firstEnd = std::trunc(x[2]);
  const double basis = std::trunc(x[6]);
  const double maxSerial = double(maxDateSerial(date1904));
  out->cost = x[0];
  out->salvage = x[3];
  out->period = std::trunc(x[4]);
  out->rate = x[5];
  if (purchased < 0 || firstEnd < 0 || purchased > maxSerial || firstEnd > maxSerial ||
      purchased > firstEnd || basis < 0 || basis > 4 || basis == 2 || out->cost < 0 ||
      out->salvage < 0 || out->salvage > out->cost || out->period < 0 || out->rate <= 0) {
    setErrorResult(result, kErrorNum);
    return false;
  }
  out->firstFraction = yearFraction(int64_t(purchased), int64_t(firstEnd),
                                    static_cast<DayCountBasis>(int(basis)), date1904);
  return true;
}

void amordegrcRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  Amortisation a;
  if (!readAmortisation(context, arguments, result, &a)) return;
  const double life = 1 / a.rate;
  double coefficient = 2.5;
  if (life < 3) {
    coefficient = 1;
  } else if (life < 5) {
    coefficient = 1.5;
  } else if (life <= 6) {
    coefficient = 2;
  }
  const bool unsupportedLife = (life > 0 && life < 1) || (life > 1 && life < 2) ||
                               (life > 2 && life < 3) || (life > 4 && life < 5);
  if (unsupportedLife) return setErrorResult(result, kErrorNum);
  const double rate = a.rate * coefficient;
  double depreciation = std::round(a.firstFraction * rate * a.cost);
  double cost = a.cost - depreciation;
  double remaining = cost - a.salvage;
  for (double n = 0; n < a.period; ++n) {
    depreciation = std::round(rate * cost);
    remaining -= depreciation;
    if (remaining < 0) {
      return setNumberResult(result, a.period - n <= 1 ? std::round(cost * 0.5) : 0);
    }
    cost -= depreciation;
  }
  setNumberResult(result, depreciation);
}

void amorlincRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  Amortisation a;
  if (!readAmortisation(context, arguments, result, &a)) return;
  const double yearly = a.cost * a.rate;
  const double first = a.firstFraction * yearly;
  const double depreciable = a.cost - a.salvage;
  const double fullPeriods = std::floor((depreciable - first) / yearly);
  double depreciation = 0;
  if (a.period == 0) {
    depreciation = std::min(first, depreciable);
  } else if (a.period <= fullPeriods) {
    depreciation = yearly;
  } else if (a.period == fullPeriods + 1) {
    depreciation = depreciable - yearly * fullPeriods - first;
  }
  setNumberResult(result, std::max(depreciation, 0.0));
}

// The values and whole-day dates of XNPV and XIRR, checked: 0 or the error code. XNPV's values
// refuse an empty cell or a text with #NUM!; XIRR's take an empty cell as 0 and refuse a text with
// #VALUE!.
uint32_t readCashFlows(const CallContext& context, const Value* values, const Value* dates,
                       bool forRate, std::vector<double>* flows, std::vector<double>* days) {
  if (uint32_t code = collectSeries(context, values, forRate ? Empties::kZero : Empties::kRefused,
                                    flows, forRate ? kErrorValue : kErrorNum)) {
    return code;
  }
  if (uint32_t code = collectSeries(context, dates, Empties::kRefused, days)) return code;
  if (flows->size() != days->size() || flows->empty()) return kErrorNum;
  const double maxSerial = double(maxDateSerial(usesDate1904(context)));
  for (double& day : *days) {
    day = std::trunc(day);
    if (day < 0 || day > maxSerial || day < days->front()) return kErrorNum;
  }
  return 0;
}

// The net present value of dated flows at rate and its slope; the first date is the origin.
void datedValue(const std::vector<double>& flows, const std::vector<double>& days, double rate,
                double* value, double* slope) {
  *value = 0;
  *slope = 0;
  for (size_t i = 0; i < flows.size(); ++i) {
    const double years = (days[i] - days[0]) / kDaysPerYear;
    const double discounted = flows[i] / std::pow(1 + rate, years);
    *value += discounted;
    *slope -= years * discounted / (1 + rate);
  }
}

void xnpvRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  double rate = 0;
  if (uint32_t code = readNumber(context, arguments, 0, Booleans::kRefused, 0, &rate)) {
    return setErrorResult(result, code);
  }
  std::vector<double> flows, days;
  if (uint32_t code = readCashFlows(context, argumentAt(arguments, 1), argumentAt(arguments, 2),
                                    false, &flows, &days)) {
    return setErrorResult(result, code);
  }
  // A negative rate is refused, though the discounting is defined down to -1.
  if (rate < 0) return setErrorResult(result, kErrorNum);
  double value = 0, slope = 0;
  datedValue(flows, days, rate, &value, &slope);
  setNumberResult(result, value);
}

void xirrRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  std::vector<double> flows, days;
  if (uint32_t code = readCashFlows(context, argumentAt(arguments, 0), argumentAt(arguments, 1),
                                    true, &flows, &days)) {
    return setErrorResult(result, code);
  }
  double rate = kDefaultGuess;
  const Value* guess = argumentAt(arguments, 2);
  if (guess != nullptr && !dereferenced(context, *guess).isEmpty()) {
    if (uint32_t code = readNumber(context, arguments, 2, Booleans::kRefused, 0, &rate)) {
      return setErrorResult(result, code);
    }
  }
  bool positive = false, negative = false;
  for (double flow : flows) {
    positive = positive || flow > 0;
    negative = negative || flow < 0;
  }
  if (!positive || !negative || rate <= -1) return setErrorResult(result, kErrorNum);
  double step = 0;
  for (int i = 0; i < kXirrSteps; ++i) {
    double value = 0, slope = 0;
    datedValue(flows, days, rate, &value, &slope);
    double next = rate - value / slope;
    if (!std::isfinite(next)) return setErrorResult(result, kErrorNum);
    if (next <= -1) next = (rate - 1) / 2;
    step = std::fabs(next - rate);
    rate = next;
    if (step <= kXirrTolerance * std::max(1.0, std::fabs(rate))) break;
  }
  // A settled step is no root when the flows do not net to nothing there: next to -1 the
  // discount factors lose their digits and the steps stall without a root.
  double residual = 0, slope = 0, scale = 0;
  datedValue(flows, days, rate, &residual, &slope);
  for (double flow : flows) scale += std::fabs(flow);
  if (!(step <= kXirrAccepted * std::max(1.0, std::fabs(rate))) || rate <= -1 ||
      !(std::fabs(residual) <= kXirrAccepted * scale)) {
    return setErrorResult(result, kErrorNum);
  }
  setNumberResult(result, rate);
}

constexpr NativeEntry kFinancialFunctions[] = {
    {u"AMORDEGRC", amordegrcRoutine},
    {u"AMORLINC", amorlincRoutine},
    {u"DOLLARDE", dollardeRoutine},
    {u"DOLLARFR", dollarfrRoutine},
    {u"EFFECT", effectRoutine},
    {u"FVSCHEDULE", fvscheduleRoutine},
    {u"ISPMT", ispmtRoutine},
    {u"NOMINAL", nominalRoutine},
    {u"NPER", nperRoutine},
    {u"PDURATION", pdurationRoutine},
    {u"RATE", rateRoutine},
    {u"RRI", rriRoutine},
    {u"VDB", vdbRoutine},
    {u"XIRR", xirrRoutine},
    {u"XNPV", xnpvRoutine},
};

}  // namespace

NativeTable hostFinancialFunctions() { return kFinancialFunctions; }

}  // namespace korvel
