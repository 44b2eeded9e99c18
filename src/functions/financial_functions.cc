// Financial functions: the time value of money, rates of return and depreciation.
//
// The annuity members share one time-value formula. With a = (1 + r)^n, q = (a - 1) / r (n when
// r is 0) and the payment weight w = q × (1 + r × t) for payments at the end (t = 0) or the start
// (t = 1) of each period:  fv + a × pv + w × pmt = 0, solved for FV, PV or PMT. PV counts any type
// of magnitude 2^-52 or more as 1; FV and PMT count any type whose integer part is not 0 as 1.
//
// IPMT is the interest of period p: -(pv × e × r + (e - 1) × pmt) with e = (1 + r)^(p - 1) and
// the end-of-period payment; payments at the start earn one period less interest (divided by
// 1 + r) and none in the first period. PPMT is the payment less that interest, so at rate 0 it is
// the whole payment -(pv + fv) / n (the principal is all that is paid back), not 0.
//
// CUMIPMT(rate, nper, pv, start, end, type) and CUMPRINC(same) sum IPMT and PPMT over the periods
// start to end, with fv 0. The sums use the remaining balance B_k = a_k × pv + q_k × pmt (the
// negated FV after k periods): the principal paid from start to end is B_end - B_(start - 1), so
// any number of periods costs the same. Both take exactly six arguments (#VALUE! for fewer), and
// give #NUM! unless start > 0, end >= start, rate > 0, nper >= end, nper > 0, pv > 0 and type is 0
// or 1. A fractional start period is the next whole one and a fractional end the one it lies in
// (start rounded up, end truncated: 1.2 to 8.53 sums periods 2 to 8); a type of 0.7 or 1.2 is
// neither payment timing and gives #NUM!.
//
// DB(cost, salvage, life, period, [month = 12]) is the fixed-declining balance: the rate
// 1 - (salvage / cost)^(1 / life) rounded to three decimals; the first period depreciates
// cost × rate × month / 12, each later one the remaining book value × rate, and a period after
// the life (only when the first year was short, month < 12) book × rate × (12 - month) / 12. The
// book value before period p >= 2 is (cost - first) × (1 - rate)^(p - 2), so no loop is needed.
// #NUM! when cost or salvage is below 0, life is not above 0, period (truncated) is below 1 or
// beyond life + 1 (beyond life when month is 12), or month (truncated) is outside 1 to 12. A cost
// of 0 depreciates nothing.
//
// DDB caps its rate factor / life at 1: a rate above 1 would make the book value negative in the
// second period and positive again in the third, writing off the asset twice. SYD gives #NUM! for
// a period beyond the life as well, where its formula would turn negative.
//
// NPV: a direct text argument counts as its number when it reads as one (and takes a period), and
// gives #VALUE! otherwise. An error inside a range or array is the result, not passed over: a sum
// that silently drops a failed input would look like a good answer.
//
// IRR: a Newton iteration that has not settled after its 100 steps has no answer, so it counts as
// not finite (#NUM!, or the guess recovery when a guess was given) rather than as a rate. MIRR
// reads its cash flows as IRR does, so a single value that is no range or array gives #NUM!.
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "engine/value_convert.h"
#include "functions/arguments.h"
#include "functions/native_families.h"
#include "model/address.h"

namespace korvel {
namespace {

// The iteration limits and tolerance of IRR.
constexpr int kNewtonSteps = 100;
constexpr int kRecoverySteps = 10;
constexpr double kNewtonTolerance = 1e-9;
constexpr double kDefaultGuess = 0.1;
constexpr double kNotANumber = std::numeric_limits<double>::quiet_NaN();

// Reads arguments 0 to count - 1 by the scalar rule into out; missing ones read as 0. False with
// #VALUE! in result when one does not read as a number.
bool readScalars(const Value* const* arguments, int count, double* out, Value& result) {
  for (int i = 0; i < count; ++i) {
    out[i] = 0;
    const Value* argument = argumentAt(arguments, i);
    if (argument != nullptr && numberOrError(*argument, &out[i]) != 0) {
      result.setError(kErrorValue);
      return false;
    }
  }
  return true;
}

// The payment type of FV and PMT: any non-zero integer part means the start of the period.
double typeFromInteger(double type) { return std::trunc(type) != 0 ? 1 : 0; }

struct Annuity {
  double growth;  // (1 + r)^n
  double sum;     // the growth of a payment of 1 per period, n when r is 0
};

Annuity annuity(double rate, double periods) {
  const double growth = std::pow(1 + rate, periods);
  return {growth, rate != 0 ? (growth - 1) / rate : periods};
}

double futureValue(double rate, double periods, double payment, double present, double type) {
  const Annuity a = annuity(rate, periods);
  return -(a.sum * (1 + rate * type) * payment + a.growth * present);
}

// False when the payment weight is 0 (no payment can settle the loan).
bool payment(double rate, double periods, double present, double future, double type, double* out) {
  const Annuity a = annuity(rate, periods);
  const double weight = a.sum * (1 + rate * type);
  if (weight == 0) return false;
  *out = (-(a.growth * present) - future) / weight;
  return true;
}

// PV and PMT refuse a rate of -1 or less and a count of 0 periods with #NUM!, as the program
// does, rather than dividing by the zero (or negative) growth these make.
bool outsideTheProgramsDomain(double rate, double periods) { return rate <= -1 || periods == 0; }

void fv(CallContext& context, const Value* const* arguments, Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  double x[5];
  if (!readScalars(arguments, 5, x, result)) return;
  // A rate of -1 over negative periods divides by a growth of 0.
  if (x[0] == -1 && x[1] < 0) {
    result.setError(kErrorDiv0);
    return;
  }
  setNumberResult(result, futureValue(x[0], x[1], x[2], x[3], typeFromInteger(x[4])));
}

void pv(CallContext& context, const Value* const* arguments, Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  double x[5];
  if (!readScalars(arguments, 5, x, result)) return;
  const double rate = x[0], type = std::fabs(x[4]) >= 0x1p-52 ? 1 : 0;
  if (outsideTheProgramsDomain(rate, x[1])) {
    result.setError(kErrorNum);
    return;
  }
  const Annuity a = annuity(rate, x[1]);
  if (a.growth == 0) {
    result.setError(kErrorDiv0);
    return;
  }
  setNumberResult(result, (-x[3] - a.sum * (1 + rate * type) * x[2]) / a.growth);
}

void pmt(CallContext& context, const Value* const* arguments, Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  double x[5], out = 0;
  if (!readScalars(arguments, 5, x, result)) return;
  if (outsideTheProgramsDomain(x[0], x[1])) {
    result.setError(kErrorNum);
    return;
  }
  if (!payment(x[0], x[1], x[2], x[3], typeFromInteger(x[4]), &out)) {
    result.setError(kErrorDiv0);
    return;
  }
  setNumberResult(result, out);
}

// The interest part of period per of IPMT and PPMT. Returns 0 with *out set, else an error code.
uint32_t interestPart(double rate, double per, double periods, double present, double future,
                      double type, double* out) {
  if (periods == 0 || per < 1 || per >= periods + 1) return kErrorNum;
  if (rate == 0) {
    *out = 0;
    return 0;
  }
  double endPayment = 0;
  if (!payment(rate, periods, present, future, 0, &endPayment)) return kErrorDiv0;
  const double e = std::pow(1 + rate, per - 1);
  double interest = -(present * e * rate + (e - 1) * endPayment);
  type = std::trunc(type);
  if (type == 1 && std::trunc(per) == 1) {
    interest = 0;
  } else if (type != 0) {
    interest /= 1 + rate;
  }
  *out = interest;
  return 0;
}

void ipmt(CallContext& context, const Value* const* arguments, Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  double x[6], interest = 0;
  if (!readScalars(arguments, 6, x, result)) return;
  if (uint32_t code = interestPart(x[0], x[1], x[2], x[3], x[4], x[5], &interest); code != 0) {
    result.setError(code);
    return;
  }
  setNumberResult(result, interest);
}

void ppmt(CallContext& context, const Value* const* arguments, Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  double x[6], interest = 0, whole = 0;
  if (!readScalars(arguments, 6, x, result)) return;
  if (uint32_t code = interestPart(x[0], x[1], x[2], x[3], x[4], x[5], &interest); code != 0) {
    result.setError(code);
    return;
  }
  if (!payment(x[0], x[2], x[3], x[4], typeFromInteger(x[5]), &whole)) {
    result.setError(kErrorDiv0);
    return;
  }
  setNumberResult(result, whole - interest);
}

// CUMIPMT and CUMPRINC: the interest (principal false) or principal paid from period start to end.
void cumulative(CallContext& context, const Value* const* arguments, bool principal,
                Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  double x[6];
  if (argumentCount(arguments) < 6) {
    result.setError(kErrorValue);
    return;
  }
  if (!readScalars(arguments, 6, x, result)) return;
  const double rate = x[0], periods = x[1], present = x[2];
  const double start = std::ceil(x[3]), end = std::trunc(x[4]), type = x[5];
  if (!(start > 0 && end >= start && rate > 0 && periods >= end && periods > 0 && present > 0 &&
        (type == 0 || type == 1))) {
    result.setError(kErrorNum);
    return;
  }
  const double growth = std::pow(1 + rate, periods);
  if (growth == 1) {
    result.setError(kErrorDiv0);
    return;
  }
  const double periodPayment =
      -present * rate * growth / ((growth - 1) * (type == 1 ? 1 + rate : 1));
  // The principal parts grow by 1 + r from period to period, from -pv × r / (a - 1) in the first
  // period that bears interest; summing them in closed form keeps the small principal of a high
  // rate exact instead of leaving it as the difference of two large totals. A start-of-period
  // schedule repays a whole payment in its first period and is one period behind afterwards.
  const double lag = type == 1 ? 2 : 1;
  const double from = type == 1 && start < 2 ? 2 : start;
  double repaid = 0;
  if (from <= end) {
    repaid = -present * (std::pow(1 + rate, end - lag + 1) - std::pow(1 + rate, from - lag)) /
             (growth - 1);
  }
  if (type == 1 && start < 2) repaid += periodPayment;
  setNumberResult(result, principal ? repaid : (end - start + 1) * periodPayment - repaid);
}

void cumipmt(CallContext& context, const Value* const* arguments, Value& result) {
  cumulative(context, arguments, false, result);
}

void cumprinc(CallContext& context, const Value* const* arguments, Value& result) {
  cumulative(context, arguments, true, result);
}

void sln(CallContext& context, const Value* const* arguments, Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  double x[3];
  if (!readScalars(arguments, 3, x, result)) return;
  if (x[2] == 0) {
    result.setError(kErrorDiv0);
    return;
  }
  setNumberResult(result, (x[0] - x[1]) / x[2]);
}

void syd(CallContext& context, const Value* const* arguments, Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  double x[4];
  if (!readScalars(arguments, 4, x, result)) return;
  const double cost = x[0], salvage = x[1], life = x[2], period = x[3];
  if (salvage < 0 || life <= 0 || period <= 0 || period > life) {
    result.setError(kErrorNum);
    return;
  }
  setNumberResult(result, (life - period + 1) * (cost - salvage) * 2 / (life * (life + 1)));
}

void ddb(CallContext& context, const Value* const* arguments, Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  double x[5];
  if (!readScalars(arguments, 5, x, result)) return;
  const Value* factorArgument = argumentAt(arguments, 4);
  const double cost = x[0], salvage = x[1], life = x[2];
  double period = x[3];
  // Only a factor left out defaults; an empty cell reads as 0 like any other argument.
  const double factor = factorArgument == nullptr ? 2 : x[4];
  if (cost < 0 || salvage < 0 || life <= 0 || period <= 0 || life < period || factor <= 0) {
    result.setError(kErrorNum);
    return;
  }
  if (cost <= salvage) {
    result.setInteger(0);
    return;
  }
  if (period < 1) {
    if (life < 1) {
      setNumberResult(result, cost - salvage);
      return;
    }
    period = 1;
  }
  const double rate = std::fmin(factor / life, 1.0);
  const double book = cost * std::pow(1 - rate, period - 1);
  double depreciation = std::fmin(book * rate, book - salvage);
  if (depreciation < 0) depreciation = 0;
  setNumberResult(result, depreciation);
}

void db(CallContext& context, const Value* const* arguments, Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  double x[5];
  if (!readScalars(arguments, 5, x, result)) return;
  const Value* monthArgument = argumentAt(arguments, 4);
  const double cost = x[0], salvage = x[1], life = x[2], period = std::trunc(x[3]);
  const double month = monthArgument == nullptr ? 12 : std::trunc(x[4]);
  if (cost < 0 || salvage < 0 || life <= 0 || period < 1 || month < 1 || month > 12 ||
      period > life + 1 || (month == 12 && period > life)) {
    result.setError(kErrorNum);
    return;
  }
  if (cost == 0) {
    result.setInteger(0);
    return;
  }
  const double rate = std::round((1 - std::pow(salvage / cost, 1 / life)) * 1000) / 1000;
  const double first = cost * rate * month / 12;
  if (period == 1) {
    setNumberResult(result, first);
    return;
  }
  const double book = (cost - first) * std::pow(1 - rate, period - 2);
  const double share = period > life ? (12 - month) / 12 : 1;
  setNumberResult(result, book * rate * share);
}

// Visits the cells of a range row by row, up to the last row any of its columns stores. The
// visitor returns an error code to stop with, or 0. Returns that code, #REF! for a range that
// names no cells, or 0.
template <typename Visit>
uint32_t forEachCell(const CallContext& context, const RangeRef& reference, Visit visit) {
  const RangeRef range = normalizeRange(reference);
  if (!isValidRange(range) || range.first.sheet() != range.last.sheet()) return kErrorRef;
  const uint32_t sheet = range.first.sheet();
  int64_t lastRow = -1;
  for (uint32_t c = range.first.column(); c <= range.last.column(); ++c) {
    const int64_t stored = lastStoredRow(context, sheet, c);
    if (stored > lastRow) lastRow = stored;
  }
  if (lastRow > int64_t(range.last.row())) lastRow = range.last.row();
  for (int64_t r = range.first.row(); r <= lastRow; ++r) {
    for (uint32_t c = range.first.column(); c <= range.last.column(); ++c) {
      if (uint32_t code = visit(cellValueAt(context, CellRef::at(sheet, uint32_t(r), c)))) {
        return code;
      }
    }
  }
  return 0;
}

// Visits the elements of a reference, a reference list or an array, in order. Returns the
// visitor's code, #REF! for a reference without cells, or kErrorNum for any other kind of value.
template <typename Visit>
uint32_t forEachElement(const CallContext& context, const Value& values, Visit visit) {
  if (values.isReference()) return forEachCell(context, values.reference(), visit);
  if (values.isReferenceList()) {
    for (const Value& part : values.array().elements()) {
      if (!part.isReference()) return kErrorValue;
      if (uint32_t code = forEachCell(context, part.reference(), visit)) return code;
    }
    return 0;
  }
  if (values.isArray()) {
    for (const Value& element : values.array().elements()) {
      if (uint32_t code = visit(element)) return code;
    }
    return 0;
  }
  return kErrorNum;
}

// The cash flows of IRR and MIRR: every element reads as a number (empty cells as 0).
uint32_t collectFlows(const CallContext& context, const Value* values, std::vector<double>* out) {
  if (values == nullptr) return kErrorNum;
  return forEachElement(context, *values, [out](const Value& element) -> uint32_t {
    // A blank cell is no cash flow: it neither counts as 0 nor takes a period.
    if (element.isEmpty()) return 0;
    double x = 0;
    if (!toNumber(element, &x)) return kErrorValue;
    out->push_back(x);
    return 0;
  });
}

// Newton's iteration for a root of the net present value from x; not finite when it fails.
double newtonRate(const std::vector<double>& flows, double x) {
  for (int step = 0; step < kNewtonSteps; ++step) {
    const double base = 1 + x;
    double value = 0, slope = 0, discount = 1;  // discount = (1 + x)^-i
    for (size_t i = 0; i < flows.size(); ++i) {
      value += flows[i] * discount;
      slope -= double(i) * flows[i] * discount / base;
      discount /= base;
    }
    const double next = x - value / slope;
    if (!std::isfinite(next) || std::fabs(next - x) <= kNewtonTolerance) return next;
    x = next;
  }
  return kNotANumber;
}

int signOf(double x) { return x > 0 ? 1 : (x < 0 ? -1 : 0); }

void irr(CallContext& context, const Value* const* arguments, Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  std::vector<double> flows;
  if (uint32_t code = collectFlows(context, argumentAt(arguments, 0), &flows)) {
    result.setError(code);
    return;
  }
  const Value* guessArgument = argumentAt(arguments, 1);
  const bool guessGiven = guessArgument != nullptr && !guessArgument->isEmpty();
  double guess = kDefaultGuess;
  if (guessGiven && (numberOrError(*guessArgument, &guess) != 0 || guess <= -1)) {
    result.setError(kErrorValue);
    return;
  }
  double rate = newtonRate(flows, guess);
  if (guessGiven && !std::isfinite(rate)) {
    // Start further from and nearer to zero, on the guess's side, until a start settles there.
    auto accepted = [&](double x) { return std::isfinite(x) && signOf(x) == signOf(guess); };
    double farther = guess, nearer = guess;
    for (int k = 1; k <= kRecoverySteps; ++k) {
      const double factor = std::pow(1.5, k);
      farther *= factor;
      rate = newtonRate(flows, farther);
      if (accepted(rate)) break;
      nearer /= factor;
      rate = newtonRate(flows, nearer);
      if (accepted(rate)) break;
    }
  }
  if (guessGiven && guess == 0 && std::fabs(rate) < kNewtonTolerance) rate = 0;
  setNumberResult(result, rate);  // not finite: #NUM!
}

void mirr(CallContext& context, const Value* const* arguments, Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  double rates[2];
  const Value* const rateArguments[3] = {argumentAt(arguments, 1), argumentAt(arguments, 2),
                                         nullptr};
  if (!readScalars(rateArguments, 2, rates, result)) return;
  const double finance = rates[0], reinvest = rates[1];
  std::vector<double> flows;
  if (uint32_t code = collectFlows(context, argumentAt(arguments, 0), &flows)) {
    result.setError(code);
    return;
  }
  double positive = 0, negative = 0;
  for (size_t i = 0; i < flows.size(); ++i) {
    if (flows[i] >= 0) {
      positive += flows[i] / std::pow(1 + reinvest, double(i));
    } else {
      negative += flows[i] / std::pow(1 + finance, double(i));
    }
  }
  // Without a positive flow the program's answer is -1 (all is lost), not a division by 0.
  if (negative == 0 || reinvest == -1) {
    result.setError(kErrorDiv0);
    return;
  }
  const double n = double(flows.size());
  const double ratio = -std::pow(1 + reinvest, n) * positive / ((1 + reinvest) * negative);
  setNumberResult(result, std::pow(ratio, 1 / (n - 1)) - 1);
}

void npv(CallContext& context, const Value* const* arguments, Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  double rate = 0;
  if (!readScalars(arguments, 1, &rate, result)) return;
  if (rate == -1) {
    result.setError(kErrorDiv0);
    return;
  }
  double sum = 0, period = 1;
  auto add = [&](double x) {
    sum += x / std::pow(1 + rate, period);
    ++period;
  };
  // Elements of ranges and arrays: numbers count, errors stop, the rest is passed over.
  auto visit = [&](const Value& element) -> uint32_t {
    if (element.isNumeric()) add(element.number());
    return element.isError() ? element.errorCode() : 0;
  };
  const size_t count = argumentCount(arguments);
  for (size_t i = 1; i < count; ++i) {
    const Value& argument = *arguments[i];
    uint32_t code = 0;
    double x = 0;
    switch (argument.kind()) {
      case ValueKind::kInteger:
      case ValueKind::kNumber:
        add(argument.number());
        break;
      case ValueKind::kEmpty:
      case ValueKind::kBoolean:
        ++period;
        break;
      case ValueKind::kShortText:
      case ValueKind::kLongText:
        if (numberOrError(argument, &x) != 0)
          code = kErrorValue;
        else
          add(x);
        break;
      case ValueKind::kError:
        code = argument.errorCode();
        break;
      case ValueKind::kReference:
      case ValueKind::kReferenceList:
      case ValueKind::kArray:
        code = forEachElement(context, argument, visit);
        break;
    }
    if (code != 0) {
      setErrorResult(result, code);
      return;
    }
  }
  setNumberResult(result, sum);
}

constexpr NativeEntry kFinancialFunctions[] = {
    {u"CUMIPMT", cumipmt}, {u"CUMPRINC", cumprinc}, {u"DB", db},     {u"DDB", ddb},
    {u"FV", fv},           {u"IPMT", ipmt},         {u"IRR", irr},   {u"MIRR", mirr},
    {u"NPV", npv},         {u"PMT", pmt},           {u"PPMT", ppmt}, {u"PV", pv},
    {u"SLN", sln},         {u"SYD", syd},
};

}  // namespace

NativeTable financialFunctions() { return kFinancialFunctions; }

}  // namespace korvel
