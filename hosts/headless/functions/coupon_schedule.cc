#include "hosts/headless/functions/coupon_schedule.h"

namespace korvel {

CouponSchedule::CouponSchedule(int64_t anchor, int frequency, bool date1904)
    : anchor_(calendarDate(anchor, date1904)), months_(12 / frequency), date1904_(date1904) {
  endOfMonth_ = anchor_.day == daysInMonth(anchor_.year, anchor_.month, date1904);
}

int64_t CouponSchedule::dateAt(int64_t periods) const {
  int64_t month = int64_t(anchor_.month) - 1 + periods * months_;
  int64_t year = anchor_.year + (month >= 0 ? month / 12 : (month - 11) / 12);
  month -= (year - anchor_.year) * 12;
  const int length = daysInMonth(int(year), int(month) + 1, date1904_);
  const int day = endOfMonth_ || anchor_.day > length ? length : anchor_.day;
  return serialOfDate(int(year), int(month) + 1, day, date1904_);
}

int64_t CouponSchedule::indexOnOrBefore(int64_t serial) const {
  const CalendarDate date = calendarDate(serial, date1904_);
  const int64_t monthsApart =
      (int64_t(date.year) - anchor_.year) * 12 + (int64_t(date.month) - anchor_.month);
  int64_t index =
      monthsApart >= 0 ? monthsApart / months_ : -((-monthsApart + months_ - 1) / months_);
  // The estimate is within a period or two; the end-of-month and clipping rules settle the rest.
  while (dateAt(index) > serial) --index;
  while (dateAt(index + 1) <= serial) ++index;
  return index;
}

double basisDays(int64_t start, int64_t end, DayCountBasis basis, bool date1904) {
  if (basis == DayCountBasis::kUs30360 || basis == DayCountBasis::kEuropean30360) {
    const Days360Rule rule =
        basis == DayCountBasis::kUs30360 ? Days360Rule::kUsDays360 : Days360Rule::kEuropean;
    return double(
        days360(calendarDate(start, date1904), calendarDate(end, date1904), rule, date1904));
  }
  return double(end - start);
}

double periodDays(int64_t start, int64_t end, DayCountBasis basis, int frequency) {
  switch (basis) {
    case DayCountBasis::kActualActual:
      return double(end - start);
    case DayCountBasis::kActual365:
      return 365.0 / frequency;
    default:
      return 360.0 / frequency;
  }
}

CouponPeriod couponPeriod(int64_t settlement, int64_t maturity, int frequency, bool date1904) {
  const CouponSchedule schedule(maturity, frequency, date1904);
  const int64_t index = schedule.indexOnOrBefore(settlement);
  CouponPeriod period;
  period.previous = schedule.dateAt(index);
  period.next = schedule.dateAt(index + 1);
  period.remaining = -index;
  return period;
}

}  // namespace korvel
