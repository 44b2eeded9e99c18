// Securities the runtime leaves to the host program: accrued interest, the coupon calendar,
// coupon bonds (also with an odd first or last period), securities paying at maturity,
// discounted securities and Treasury bills.
//
// Host program rules matched here:
// - Dates read like the other dated functions of the analysis add-in: a date text or a number,
//   the time of day dropped; a boolean is #VALUE!, a serial below 0 or past 31 December 9999
//   #NUM!. Numbers read as numbers or number texts; a boolean is #VALUE! there too. The basis
//   and the frequency are truncated; a frequency other than 1, 2 or 4 or a basis outside 0-4 is
//   #NUM!, as is a settlement on or after maturity.
// - The coupon calendar steps back from maturity (coupon_schedule.h). COUPDAYS is the period's
//   actual length for basis 1, 365/frequency for basis 3 and 360/frequency otherwise;
//   COUPDAYSNC is COUPDAYS less COUPDAYBS for the 30/360 bases, and actual days otherwise.
// - Accrued interest (ACCRINT, the odd periods) adds, period by quasi-coupon period, the
//   accrued days over the period's normal length; a period wholly inside the span counts as one
//   coupon, whatever its day count. ACCRINT with calc_method FALSE and a settlement before the
//   first interest date leaves out the coupons of every whole quasi-coupon period between issue
//   and the first interest date but the last, so its result can be negative, as the host
//   program has it; on or after the first interest date it accrues from that date.
// - Securities paying at maturity and discounted ones count time as YEARFRAC does.
// - TBILLEQ, TBILLPRICE and TBILLYIELD take a maturity at most one calendar year after
//   settlement; TBILLEQ uses the bond-equivalent formula with the square root past 182 days.
// - PRICE, YIELD and DURATION discount over the rest of the normal coupon period (COUPDAYS less
//   COUPDAYBS), not over COUPDAYSNC's actual days.
//
// Algorithms: PRICE, DURATION and ODDFPRICE discount each cash flow by (1 + yld/frequency) to
// the power of the periods (whole and fractional) before it is paid. YIELD with more than one
// coupon left and ODDFYIELD find the yield whose price is the given one by Newton steps on a
// bracket the price function brackets (price falls as the yield rises): a step that leaves the
// bracket becomes a bisection, so the iteration always converges, and it runs to the last bit.
#include <cmath>
#include <cstdint>

#include "engine/date_text.h"
#include "engine/engine.h"
#include "engine/value_convert.h"
#include "functions/arguments.h"
#include "hosts/headless/functions/coupon_schedule.h"
#include "hosts/headless/functions/day_count.h"
#include "hosts/headless/functions/host_functions.h"

namespace korvel {
namespace {

bool usesDate1904(const CallContext& context) {
  return context.engine != nullptr && context.engine->date1904;
}

// Reads a call's arguments, keeping the first error met; each reader returns a harmless value
// after an error so a routine reads all its arguments and then asks once.
class SecurityArguments {
 public:
  SecurityArguments(const CallContext& context, const Value* const* arguments)
      : context_(context), arguments_(arguments), date1904_(usesDate1904(context)) {}

  bool date1904() const { return date1904_; }

  int64_t date(size_t position) {
    double number = 0;
    const Value value = read(position);
    if (error_ != 0) return 0;
    if (value.isBoolean()) return fail(kErrorValue);
    if (value.isText() && dateTimeTextToNumber(value.text(), date1904_, &number)) {
      // a date text
    } else if (const uint32_t code = numberOrError(value, &number); code != 0) {
      return fail(code);
    }
    if (number < 0 || number >= double(maxDateSerial(date1904_)) + 1) return fail(kErrorNum);
    return int64_t(number);
  }

  double number(size_t position) {
    const Value value = read(position);
    if (error_ != 0) return 0;
    if (value.isBoolean()) return fail(kErrorValue);
    double number = 0;
    if (const uint32_t code = numberOrError(value, &number); code != 0) return fail(code);
    return number;
  }

  // 1, 2 or 4 after truncation, else #NUM!.
  int frequency(size_t position) {
    const double value = std::trunc(number(position));
    if (error_ != 0) return 1;
    if (value == 1 || value == 2 || value == 4) return int(value);
    fail(kErrorNum);
    return 1;
  }

  // An absent or empty basis is 0; 0 to 4 after truncation, else #NUM!.
  DayCountBasis basis(size_t position) {
    const Value* argument = argumentAt(arguments_, position);
    if (argument == nullptr || dereferenced(context_, *argument).isEmpty()) {
      return DayCountBasis::kUs30360;
    }
    const double value = std::trunc(number(position));
    if (error_ != 0) return DayCountBasis::kUs30360;
    if (value < 0 || value > 4) {
      fail(kErrorNum);
      return DayCountBasis::kUs30360;
    }
    return DayCountBasis(int(value));
  }

  // ACCRINT's calc_method: absent or empty is TRUE; a number is TRUE unless 0.
  bool flag(size_t position) {
    const Value* argument = argumentAt(arguments_, position);
    if (argument == nullptr) return true;
    const Value value = dereferenced(context_, *argument);
    if (value.isEmpty()) return true;
    if (value.isBoolean()) return value.boolean();
    double number = 0;
    if (const uint32_t code = numberOrError(value, &number); code != 0 && error_ == 0) {
      error_ = code;
    }
    return number != 0;
  }

  // A condition the values must meet, else #NUM!.
  void require(bool condition) {
    if (!condition && error_ == 0) error_ = kErrorNum;
  }

  // Sets the result to the first error; true when there was one.
  bool failed(Value& result) const {
    if (error_ == 0) return false;
    setErrorResult(result, error_);
    return true;
  }

 private:
  Value read(size_t position) {
    const Value* argument = argumentAt(arguments_, position);
    if (argument == nullptr) return Value();
    return dereferenced(context_, *argument);
  }

  double fail(uint32_t code) {
    if (error_ == 0) error_ = code;
    return 0;
  }

  const CallContext& context_;
  const Value* const* arguments_;
  bool date1904_;
  uint32_t error_ = 0;
};

// The error pre-check every routine starts with.
bool precheckFailed(CallContext& context, const Value* const* arguments, Value& result) {
  return errorPrecheck(context, arguments, kAllArguments, result);
}

// ---- The coupon calendar --------------------------------------------------------------------

struct CouponFacts {
  CouponPeriod period;
  double days = 0;        // COUPDAYS
  double daysBefore = 0;  // COUPDAYBS
  double daysToNext = 0;  // COUPDAYSNC
};

CouponFacts couponFacts(int64_t settlement, int64_t maturity, int frequency, DayCountBasis basis,
                        bool date1904) {
  CouponFacts facts;
  facts.period = couponPeriod(settlement, maturity, frequency, date1904);
  facts.days = periodDays(facts.period.previous, facts.period.next, basis, frequency);
  facts.daysBefore = basisDays(facts.period.previous, settlement, basis, date1904);
  const bool thirty = basis == DayCountBasis::kUs30360 || basis == DayCountBasis::kEuropean30360;
  facts.daysToNext =
      thirty ? facts.days - facts.daysBefore : double(facts.period.next - settlement);
  return facts;
}

enum class CouponQuestion { kDaysBefore, kDays, kDaysToNext, kNextDate, kCount, kPreviousDate };

void couponFunction(CouponQuestion question, CallContext& context, const Value* const* arguments,
                    Value& result) {
  if (precheckFailed(context, arguments, result)) return;
  SecurityArguments read(context, arguments);
  const int64_t settlement = read.date(0);
  const int64_t maturity = read.date(1);
  const int frequency = read.frequency(2);
  const DayCountBasis basis = read.basis(3);
  read.require(settlement < maturity);
  if (read.failed(result)) return;
  const CouponFacts facts = couponFacts(settlement, maturity, frequency, basis, read.date1904());
  switch (question) {
    case CouponQuestion::kDaysBefore:
      return setNumberResult(result, facts.daysBefore);
    case CouponQuestion::kDays:
      return setNumberResult(result, facts.days);
    case CouponQuestion::kDaysToNext:
      return setNumberResult(result, facts.daysToNext);
    case CouponQuestion::kNextDate:
      return setNumberResult(result, double(facts.period.next));
    case CouponQuestion::kCount:
      return setNumberResult(result, double(facts.period.remaining));
    case CouponQuestion::kPreviousDate:
      return setNumberResult(result, double(facts.period.previous));
  }
}

void coupDayBs(CallContext& c, const Value* const* a, Value& r) {
  couponFunction(CouponQuestion::kDaysBefore, c, a, r);
}
void coupDays(CallContext& c, const Value* const* a, Value& r) {
  couponFunction(CouponQuestion::kDays, c, a, r);
}
void coupDaysNc(CallContext& c, const Value* const* a, Value& r) {
  couponFunction(CouponQuestion::kDaysToNext, c, a, r);
}
void coupNcd(CallContext& c, const Value* const* a, Value& r) {
  couponFunction(CouponQuestion::kNextDate, c, a, r);
}
void coupNum(CallContext& c, const Value* const* a, Value& r) {
  couponFunction(CouponQuestion::kCount, c, a, r);
}
void coupPcd(CallContext& c, const Value* const* a, Value& r) {
  couponFunction(CouponQuestion::kPreviousDate, c, a, r);
}

// ---- Yields by iteration --------------------------------------------------------------------

// The yield at which price(yield) is target, for a price that falls as the yield rises and is
// defined above floor. False when no yield gives that price.
template <typename Price>
bool solveYield(const Price& price, double target, double floor, double* yield) {
  auto gap = [&](double y) { return price(y) - target; };
  // A bracket [low, high] with gap(low) >= 0 >= gap(high).
  double low = 0, high = 0.1;
  if (!(gap(low) >= 0)) {
    high = low;
    low = floor / 2;
    int steps = 0;
    while (!(gap(low) >= 0)) {
      if (++steps > 60) return false;
      high = low;
      low = floor + (low - floor) / 2;
    }
  } else {
    int steps = 0;
    while (!(gap(high) <= 0)) {
      if (++steps > 60) return false;
      low = high;
      high *= 2;
    }
  }
  double y = (low + high) / 2;
  for (int i = 0; i < 300; ++i) {
    const double value = gap(y);
    if (!std::isfinite(value)) return false;
    if (value == 0) break;
    if (value > 0) {
      low = y;
    } else {
      high = y;
    }
    const double h = 1e-6 * (std::fabs(y) + 1e-3);
    const double slope = (gap(y + h) - gap(y - h)) / (2 * h);
    double next = slope < 0 && std::isfinite(slope) ? y - value / slope : (low + high) / 2;
    if (!(next > low && next < high)) next = (low + high) / 2;
    if (next == y || high - low <= 4e-16 * std::fabs(y)) {
      y = next;
      break;
    }
    y = next;
  }
  *yield = y;
  return std::isfinite(y);
}

// ---- Coupon bonds ---------------------------------------------------------------------------

// The part of a period from settlement to the next coupon as the bond functions discount it:
// the rest of the normal period, so for actual/360 and actual/365 the actual days to the next
// coupon (which COUPDAYSNC reports) do not enter.
double periodsToNext(const CouponFacts& facts) {
  return (facts.days - facts.daysBefore) / facts.days;
}

// PRICE per 100 face value from the coupon facts.
double bondPrice(const CouponFacts& facts, double rate, double yld, double redemption,
                 int frequency) {
  const double coupon = 100 * rate / frequency;
  const double n = double(facts.period.remaining);
  const double fraction = periodsToNext(facts);
  const double accrued = coupon * facts.daysBefore / facts.days;
  if (facts.period.remaining == 1) {
    return (redemption + coupon) / (1 + fraction * yld / frequency) - accrued;
  }
  const double base = 1 + yld / frequency;
  double value = redemption / std::pow(base, n - 1 + fraction);
  for (int64_t k = 1; k <= facts.period.remaining; ++k) {
    value += coupon / std::pow(base, double(k) - 1 + fraction);
  }
  return value - accrued;
}

void price(CallContext& context, const Value* const* arguments, Value& result) {
  if (precheckFailed(context, arguments, result)) return;
  SecurityArguments read(context, arguments);
  const int64_t settlement = read.date(0);
  const int64_t maturity = read.date(1);
  const double rate = read.number(2);
  const double yld = read.number(3);
  const double redemption = read.number(4);
  const int frequency = read.frequency(5);
  const DayCountBasis basis = read.basis(6);
  read.require(settlement < maturity && rate >= 0 && yld >= 0 && redemption > 0);
  if (read.failed(result)) return;
  const CouponFacts facts = couponFacts(settlement, maturity, frequency, basis, read.date1904());
  setNumberResult(result, bondPrice(facts, rate, yld, redemption, frequency));
}

void yield(CallContext& context, const Value* const* arguments, Value& result) {
  if (precheckFailed(context, arguments, result)) return;
  SecurityArguments read(context, arguments);
  const int64_t settlement = read.date(0);
  const int64_t maturity = read.date(1);
  const double rate = read.number(2);
  const double pr = read.number(3);
  const double redemption = read.number(4);
  const int frequency = read.frequency(5);
  const DayCountBasis basis = read.basis(6);
  read.require(settlement < maturity && rate >= 0 && pr > 0 && redemption > 0);
  if (read.failed(result)) return;
  const CouponFacts facts = couponFacts(settlement, maturity, frequency, basis, read.date1904());
  if (facts.period.remaining == 1) {
    // One coupon left: the price is linear in the yield.
    const double coupon = rate / frequency;
    const double paid = pr / 100 + facts.daysBefore / facts.days * coupon;
    return setNumberResult(
        result, (redemption / 100 + coupon - paid) / paid * frequency / periodsToNext(facts));
  }
  double y = 0;
  if (!solveYield([&](double t) { return bondPrice(facts, rate, t, redemption, frequency); }, pr,
                  -frequency, &y)) {
    return result.setError(kErrorNum);
  }
  setNumberResult(result, y);
}

// Macaulay duration in years.
double macaulayDuration(const CouponFacts& facts, double coupon, double yld, int frequency) {
  const double fraction = periodsToNext(facts);
  const double base = 1 + yld / frequency;
  const double payment = 100 * coupon / frequency;
  double weighted = 0, total = 0;
  for (int64_t k = 1; k <= facts.period.remaining; ++k) {
    const double periods = double(k) - 1 + fraction;
    const double flow = payment + (k == facts.period.remaining ? 100 : 0);
    const double present = flow / std::pow(base, periods);
    weighted += periods * present;
    total += present;
  }
  return weighted / total / frequency;
}

void durationFunction(bool modified, CallContext& context, const Value* const* arguments,
                      Value& result) {
  if (precheckFailed(context, arguments, result)) return;
  SecurityArguments read(context, arguments);
  const int64_t settlement = read.date(0);
  const int64_t maturity = read.date(1);
  const double coupon = read.number(2);
  const double yld = read.number(3);
  const int frequency = read.frequency(4);
  const DayCountBasis basis = read.basis(5);
  read.require(settlement < maturity && coupon >= 0 && yld >= 0);
  if (read.failed(result)) return;
  const CouponFacts facts = couponFacts(settlement, maturity, frequency, basis, read.date1904());
  const double duration = macaulayDuration(facts, coupon, yld, frequency);
  setNumberResult(result, modified ? duration / (1 + yld / frequency) : duration);
}

void duration(CallContext& c, const Value* const* a, Value& r) { durationFunction(false, c, a, r); }
void mduration(CallContext& c, const Value* const* a, Value& r) { durationFunction(true, c, a, r); }

// ---- Accrued interest and odd periods -------------------------------------------------------

// The coupons accrued from start to end (start < end), period by quasi-coupon period of the
// schedule: a whole period is one coupon, a part of one its days over the period's length.
double accruedCoupons(const CouponSchedule& schedule, int64_t start, int64_t end,
                      DayCountBasis basis, int frequency, bool date1904) {
  double coupons = 0;
  for (int64_t k = schedule.indexOnOrBefore(start); schedule.dateAt(k) < end; ++k) {
    const int64_t from = schedule.dateAt(k), to = schedule.dateAt(k + 1);
    if (from >= start && to <= end) {
      coupons += 1;
      continue;
    }
    const int64_t partFrom = from > start ? from : start, partTo = to < end ? to : end;
    coupons +=
        basisDays(partFrom, partTo, basis, date1904) / periodDays(from, to, basis, frequency);
  }
  return coupons;
}

void accrint(CallContext& context, const Value* const* arguments, Value& result) {
  if (precheckFailed(context, arguments, result)) return;
  SecurityArguments read(context, arguments);
  const int64_t issue = read.date(0);
  const int64_t firstInterest = read.date(1);
  const int64_t settlement = read.date(2);
  const double rate = read.number(3);
  const double par = read.number(4);
  const int frequency = read.frequency(5);
  const DayCountBasis basis = read.basis(6);
  const bool fromIssue = read.flag(7);
  read.require(issue < settlement && rate > 0 && par > 0);
  if (read.failed(result)) return;
  const bool date1904 = read.date1904();
  const CouponSchedule schedule(firstInterest, frequency, date1904);
  const double coupon = par * rate / frequency;
  if (!fromIssue && settlement >= firstInterest) {
    return setNumberResult(result, coupon * accruedCoupons(schedule, firstInterest, settlement,
                                                           basis, frequency, date1904));
  }
  double coupons = accruedCoupons(schedule, issue, settlement, basis, frequency, date1904);
  if (!fromIssue && issue < firstInterest) {
    // The whole quasi-coupon periods from issue to the first interest date.
    const int64_t first = schedule.indexOnOrBefore(issue);
    const int64_t whole = -first - (schedule.dateAt(first) == issue ? 0 : 1);
    if (whole > 1) coupons -= double(whole - 1);
  }
  setNumberResult(result, coupon * coupons);
}

void accrintm(CallContext& context, const Value* const* arguments, Value& result) {
  if (precheckFailed(context, arguments, result)) return;
  SecurityArguments read(context, arguments);
  const int64_t issue = read.date(0);
  const int64_t settlement = read.date(1);
  const double rate = read.number(2);
  const double par = read.number(3);
  const DayCountBasis basis = read.basis(4);
  read.require(issue < settlement && rate > 0 && par > 0);
  if (read.failed(result)) return;
  setNumberResult(result, par * rate * yearFraction(issue, settlement, basis, read.date1904()));
}

// ODDFPRICE's bond: an odd first period from issue to the first coupon, then regular coupons to
// maturity.
struct OddFirstBond {
  int64_t settlement, maturity, issue, firstCoupon;
  double rate, redemption;
  int frequency;
  DayCountBasis basis;
  bool date1904;
};

double oddFirstPrice(const OddFirstBond& bond, double yld) {
  const CouponSchedule quasi(bond.firstCoupon, bond.frequency, bond.date1904);
  const double coupon = 100 * bond.rate / bond.frequency;
  // The first coupon pays for the quasi-coupon periods from issue; the buyer owes what accrued
  // to settlement.
  const double firstPayment = coupon * accruedCoupons(quasi, bond.issue, bond.firstCoupon,
                                                      bond.basis, bond.frequency, bond.date1904);
  const double accrued = coupon * accruedCoupons(quasi, bond.issue, bond.settlement, bond.basis,
                                                 bond.frequency, bond.date1904);
  const int64_t index = quasi.indexOnOrBefore(bond.settlement);
  const int64_t from = quasi.dateAt(index), to = quasi.dateAt(index + 1);
  const double length = periodDays(from, to, bond.basis, bond.frequency);
  const bool thirty =
      bond.basis == DayCountBasis::kUs30360 || bond.basis == DayCountBasis::kEuropean30360;
  const double toNext = thirty
                            ? length - basisDays(from, bond.settlement, bond.basis, bond.date1904)
                            : double(to - bond.settlement);
  // Periods from settlement to the first coupon: whole quasi periods after the next quasi date.
  const double lead = double(-index - 1) + toNext / length;
  const int64_t regular =
      couponPeriod(bond.firstCoupon, bond.maturity, bond.frequency, bond.date1904).remaining;
  const double base = 1 + yld / bond.frequency;
  double value = bond.redemption / std::pow(base, double(regular) + lead) +
                 firstPayment / std::pow(base, lead);
  for (int64_t k = 1; k <= regular; ++k) value += coupon / std::pow(base, double(k) + lead);
  return value - accrued;
}

bool readOddFirst(SecurityArguments& read, OddFirstBond& bond, double* rateOrYield,
                  double* yieldOrPrice) {
  bond.settlement = read.date(0);
  bond.maturity = read.date(1);
  bond.issue = read.date(2);
  bond.firstCoupon = read.date(3);
  bond.rate = read.number(4);
  *yieldOrPrice = read.number(5);
  bond.redemption = read.number(6);
  bond.frequency = read.frequency(7);
  bond.basis = read.basis(8);
  bond.date1904 = read.date1904();
  *rateOrYield = bond.rate;
  read.require(bond.issue < bond.settlement && bond.settlement < bond.firstCoupon &&
               bond.firstCoupon <= bond.maturity && bond.rate >= 0 && bond.redemption > 0);
  return true;
}

void oddfprice(CallContext& context, const Value* const* arguments, Value& result) {
  if (precheckFailed(context, arguments, result)) return;
  SecurityArguments read(context, arguments);
  OddFirstBond bond{};
  double rate = 0, yld = 0;
  readOddFirst(read, bond, &rate, &yld);
  read.require(yld >= 0);
  if (read.failed(result)) return;
  setNumberResult(result, oddFirstPrice(bond, yld));
}

void oddfyield(CallContext& context, const Value* const* arguments, Value& result) {
  if (precheckFailed(context, arguments, result)) return;
  SecurityArguments read(context, arguments);
  OddFirstBond bond{};
  double rate = 0, pr = 0;
  readOddFirst(read, bond, &rate, &pr);
  read.require(pr > 0);
  if (read.failed(result)) return;
  double y = 0;
  if (!solveYield([&](double t) { return oddFirstPrice(bond, t); }, pr, -bond.frequency, &y)) {
    return result.setError(kErrorNum);
  }
  setNumberResult(result, y);
}

// ODDLPRICE and ODDLYIELD: the odd last period from the last interest date to maturity, in
// quasi-coupon periods stepped forward from the last interest date.
struct OddLastSums {
  double paid = 0;     // coupons the last payment holds
  double accrued = 0;  // coupons accrued from the last interest date to settlement
  double ahead = 0;    // periods from settlement to maturity
};

OddLastSums oddLastSums(int64_t settlement, int64_t maturity, int64_t lastInterest, int frequency,
                        DayCountBasis basis, bool date1904) {
  const CouponSchedule quasi(lastInterest, frequency, date1904);
  OddLastSums sums;
  for (int64_t k = 0; quasi.dateAt(k) < maturity; ++k) {
    const int64_t from = quasi.dateAt(k), to = quasi.dateAt(k + 1);
    const double length = periodDays(from, to, basis, frequency);
    const int64_t end = to < maturity ? to : maturity;
    sums.paid += basisDays(from, end, basis, date1904) / length;
    if (settlement > from) {
      sums.accrued +=
          basisDays(from, settlement < end ? settlement : end, basis, date1904) / length;
    }
    if (settlement < end) {
      sums.ahead += basisDays(settlement > from ? settlement : from, end, basis, date1904) / length;
    }
  }
  return sums;
}

void oddLastFunction(bool wantYield, CallContext& context, const Value* const* arguments,
                     Value& result) {
  if (precheckFailed(context, arguments, result)) return;
  SecurityArguments read(context, arguments);
  const int64_t settlement = read.date(0);
  const int64_t maturity = read.date(1);
  const int64_t lastInterest = read.date(2);
  const double rate = read.number(3);
  const double given = read.number(4);  // the yield for the price, the price for the yield
  const double redemption = read.number(5);
  const int frequency = read.frequency(6);
  const DayCountBasis basis = read.basis(7);
  read.require(lastInterest < settlement && settlement < maturity && rate >= 0 && redemption > 0 &&
               (wantYield ? given > 0 : given >= 0));
  if (read.failed(result)) return;
  const OddLastSums sums =
      oddLastSums(settlement, maturity, lastInterest, frequency, basis, read.date1904());
  const double coupon = 100 * rate / frequency;
  if (!wantYield) {
    return setNumberResult(
        result, (redemption + sums.paid * coupon) / (1 + sums.ahead * given / frequency) -
                    sums.accrued * coupon);
  }
  const double paid = given + sums.accrued * coupon;
  setNumberResult(result, (redemption + sums.paid * coupon - paid) / paid * frequency / sums.ahead);
}

void oddlprice(CallContext& c, const Value* const* a, Value& r) { oddLastFunction(false, c, a, r); }
void oddlyield(CallContext& c, const Value* const* a, Value& r) { oddLastFunction(true, c, a, r); }

// ---- Securities paying at maturity and discounted securities --------------------------------

// The five functions of (settlement, maturity, x, y, [basis]) over the year fraction between the
// dates; x and y must be positive.
enum class Discounted { kDisc, kPriceDisc, kYieldDisc, kIntRate, kReceived };

void discounted(Discounted which, CallContext& context, const Value* const* arguments,
                Value& result) {
  if (precheckFailed(context, arguments, result)) return;
  SecurityArguments read(context, arguments);
  const int64_t settlement = read.date(0);
  const int64_t maturity = read.date(1);
  const double x = read.number(2);
  const double y = read.number(3);
  const DayCountBasis basis = read.basis(4);
  read.require(settlement < maturity && x > 0 && y > 0);
  if (read.failed(result)) return;
  const double years = yearFraction(settlement, maturity, basis, read.date1904());
  switch (which) {
    case Discounted::kDisc:  // x price, y redemption
      return setNumberResult(result, (y - x) / y / years);
    case Discounted::kPriceDisc:  // x discount, y redemption
      return setNumberResult(result, y - x * y * years);
    case Discounted::kYieldDisc:  // x price, y redemption
      return setNumberResult(result, (y - x) / x / years);
    case Discounted::kIntRate:  // x investment, y redemption
      return setNumberResult(result, (y - x) / x / years);
    case Discounted::kReceived: {  // x investment, y discount
      const double left = 1 - y * years;
      if (left <= 0) return result.setError(kErrorNum);
      return setNumberResult(result, x / left);
    }
  }
}

void disc(CallContext& c, const Value* const* a, Value& r) {
  discounted(Discounted::kDisc, c, a, r);
}
void pricedisc(CallContext& c, const Value* const* a, Value& r) {
  discounted(Discounted::kPriceDisc, c, a, r);
}
void yielddisc(CallContext& c, const Value* const* a, Value& r) {
  discounted(Discounted::kYieldDisc, c, a, r);
}
void intrate(CallContext& c, const Value* const* a, Value& r) {
  discounted(Discounted::kIntRate, c, a, r);
}
void received(CallContext& c, const Value* const* a, Value& r) {
  discounted(Discounted::kReceived, c, a, r);
}

// PRICEMAT and YIELDMAT: (settlement, maturity, issue, rate, yield or price, [basis]).
void maturityFunction(bool wantYield, CallContext& context, const Value* const* arguments,
                      Value& result) {
  if (precheckFailed(context, arguments, result)) return;
  SecurityArguments read(context, arguments);
  const int64_t settlement = read.date(0);
  const int64_t maturity = read.date(1);
  const int64_t issue = read.date(2);
  const double rate = read.number(3);
  const double given = read.number(4);
  const DayCountBasis basis = read.basis(5);
  read.require(settlement < maturity && rate >= 0 && (wantYield ? given > 0 : given >= 0));
  if (read.failed(result)) return;
  const bool date1904 = read.date1904();
  const double toMaturity = yearFraction(settlement, maturity, basis, date1904);
  const double issueToMaturity = yearFraction(issue, maturity, basis, date1904);
  const double issueToSettlement = yearFraction(issue, settlement, basis, date1904);
  if (!wantYield) {
    return setNumberResult(result, (100 + issueToMaturity * rate * 100) / (1 + toMaturity * given) -
                                       issueToSettlement * rate * 100);
  }
  const double paid = given / 100 + issueToSettlement * rate;
  setNumberResult(result, (1 + issueToMaturity * rate - paid) / paid / toMaturity);
}

void pricemat(CallContext& c, const Value* const* a, Value& r) { maturityFunction(false, c, a, r); }
void yieldmat(CallContext& c, const Value* const* a, Value& r) { maturityFunction(true, c, a, r); }

// ---- Treasury bills -------------------------------------------------------------------------

enum class Bill { kEquivalent, kPrice, kYield };

void tbill(Bill which, CallContext& context, const Value* const* arguments, Value& result) {
  if (precheckFailed(context, arguments, result)) return;
  SecurityArguments read(context, arguments);
  const int64_t settlement = read.date(0);
  const int64_t maturity = read.date(1);
  const double x = read.number(2);  // the discount rate, or the price for TBILLYIELD
  if (read.failed(result)) return;
  const bool date1904 = read.date1904();
  const int64_t yearLater = CouponSchedule(settlement, 1, date1904).dateAt(1);
  read.require(settlement < maturity && maturity <= yearLater && x > 0);
  if (read.failed(result)) return;
  const double days = double(maturity - settlement);
  if (which == Bill::kYield) return setNumberResult(result, (100 - x) / x * 360 / days);
  const double price = 100 * (1 - x * days / 360);
  if (price <= 0) return result.setError(kErrorNum);
  if (which == Bill::kPrice) return setNumberResult(result, price);
  if (days <= 182) return setNumberResult(result, 365 * x / (360 - x * days));
  // Past half a year the bill is compared with a bond paying one coupon halfway, over a year of
  // 365 days; a bill of 366 days (a year holding a 29 February) is one year.
  const double term = days > 365 ? 1 : days / 365;
  const double root = term * term - (2 * term - 1) * (1 - 100 / price);
  if (root < 0) return result.setError(kErrorNum);
  setNumberResult(result, (-2 * term + 2 * std::sqrt(root)) / (2 * term - 1));
}

void tbilleq(CallContext& c, const Value* const* a, Value& r) { tbill(Bill::kEquivalent, c, a, r); }
void tbillprice(CallContext& c, const Value* const* a, Value& r) { tbill(Bill::kPrice, c, a, r); }
void tbillyield(CallContext& c, const Value* const* a, Value& r) { tbill(Bill::kYield, c, a, r); }

constexpr NativeEntry kSecurities[] = {
    {u"ACCRINT", accrint},       {u"ACCRINTM", accrintm},     {u"COUPDAYBS", coupDayBs},
    {u"COUPDAYS", coupDays},     {u"COUPDAYSNC", coupDaysNc}, {u"COUPNCD", coupNcd},
    {u"COUPNUM", coupNum},       {u"COUPPCD", coupPcd},       {u"DISC", disc},
    {u"DURATION", duration},     {u"INTRATE", intrate},       {u"MDURATION", mduration},
    {u"ODDFPRICE", oddfprice},   {u"ODDFYIELD", oddfyield},   {u"ODDLPRICE", oddlprice},
    {u"ODDLYIELD", oddlyield},   {u"PRICE", price},           {u"PRICEDISC", pricedisc},
    {u"PRICEMAT", pricemat},     {u"RECEIVED", received},     {u"TBILLEQ", tbilleq},
    {u"TBILLPRICE", tbillprice}, {u"TBILLYIELD", tbillyield}, {u"YIELD", yield},
    {u"YIELDDISC", yielddisc},   {u"YIELDMAT", yieldmat},
};

}  // namespace

NativeTable hostSecuritiesFunctions() { return NativeTable(kSecurities); }

}  // namespace korvel
