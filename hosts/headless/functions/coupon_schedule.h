// The coupon calendar of a bond for the headless program's securities functions: coupon dates
// stepped by 12/frequency months from an anchor date (the maturity, a first or a last coupon),
// the day counts of the five bases inside a coupon period, and the normal length of a period.
//
// Coupon dates keep the anchor's day of the month, clipped to shorter months, and stay on the
// last day of the month when the anchor is one (the end-of-month rule).
#ifndef KORVEL_HOSTS_HEADLESS_FUNCTIONS_COUPON_SCHEDULE_H_
#define KORVEL_HOSTS_HEADLESS_FUNCTIONS_COUPON_SCHEDULE_H_

#include <cstdint>

#include "hosts/headless/functions/day_count.h"

namespace korvel {

class CouponSchedule {
 public:
  // REQUIRES: frequency is 1, 2 or 4; 0 <= anchor <= maxDateSerial(date1904).
  CouponSchedule(int64_t anchor, int frequency, bool date1904);

  // The coupon date `periods` periods after the anchor (before it when negative).
  int64_t dateAt(int64_t periods) const;

  // The index of the last coupon date on or before the serial: dateAt(index) <= serial <
  // dateAt(index + 1).
  int64_t indexOnOrBefore(int64_t serial) const;

 private:
  CalendarDate anchor_;
  int months_;
  bool endOfMonth_;
  bool date1904_;
};

// The days from start to end as the basis counts them: the US 30/360 rule for basis 0, the
// European one for basis 4, actual days otherwise.
double basisDays(int64_t start, int64_t end, DayCountBasis basis, bool date1904);

// The normal length in days of the coupon period [start, end): its actual days for basis 1,
// 365/frequency for basis 3, 360/frequency for the others.
double periodDays(int64_t start, int64_t end, DayCountBasis basis, int frequency);

// The coupon period of a settlement on the schedule stepped back from maturity.
struct CouponPeriod {
  int64_t previous = 0;   // the coupon date on or before settlement
  int64_t next = 0;       // the coupon date after settlement
  int64_t remaining = 0;  // the coupons payable from next to maturity
};
// REQUIRES: settlement < maturity.
CouponPeriod couponPeriod(int64_t settlement, int64_t maturity, int frequency, bool date1904);

}  // namespace korvel

#endif  // KORVEL_HOSTS_HEADLESS_FUNCTIONS_COUPON_SCHEDULE_H_
