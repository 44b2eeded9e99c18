#include "hosts/headless/functions/day_count.h"

namespace korvel {
namespace {

// Days from 1 January 1970 of a proleptic Gregorian date, and back.
int64_t daysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2 ? 1 : 0;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yearOfEra = y - era * 400;
  const int64_t dayOfYear = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

CalendarDate civilFromDays(int64_t z) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t dayOfEra = z - era * 146097;
  const int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const int64_t mp = (5 * dayOfYear + 2) / 153;
  CalendarDate date;
  date.day = int(dayOfYear - (153 * mp + 2) / 5 + 1);
  date.month = int(mp < 10 ? mp + 3 : mp - 9);
  date.year = int(yearOfEra + era * 400 + (date.month <= 2 ? 1 : 0));
  return date;
}

// Serial 61 of the 1900 system is 1 March 1900; from there serials count real days.
const int64_t kDay0Of1900 = daysFromCivil(1899, 12, 30);
const int64_t kDay0Of1904 = daysFromCivil(1904, 1, 1);

}  // namespace

int64_t maxDateSerial(bool date1904) { return serialOfDate(9999, 12, 31, date1904); }

CalendarDate calendarDate(int64_t serial, bool date1904) {
  if (date1904) return civilFromDays(kDay0Of1904 + serial);
  if (serial >= 61) return civilFromDays(kDay0Of1900 + serial);
  if (serial == 60) return CalendarDate{1900, 2, 29};
  if (serial == 0) return CalendarDate{1900, 1, 0};
  // Before the counted 29 February every serial names the day after the one it would from
  // 30 December 1899.
  return civilFromDays(kDay0Of1900 + serial + 1);
}

int64_t serialOfDate(int year, int month, int day, bool date1904) {
  // Months beyond the year carry into it, so that month 13 is January of the next year.
  int64_t y = year, m = month - 1;
  y += m >= 0 ? m / 12 : (m - 11) / 12;
  m -= (m >= 0 ? m / 12 : (m - 11) / 12) * 12;
  const int64_t days = daysFromCivil(y, m + 1, 1) + day - 1;
  if (date1904) return days - kDay0Of1904;
  const int64_t serial = days - kDay0Of1900;
  // Dates up to 28 February 1900 sit one serial lower than the real count from 30 December
  // 1899, since serial 60 is the day the calendar does not have.
  return serial <= 60 ? serial - 1 : serial;
}

bool isLeapYear(int year, bool date1904) {
  if (year == 1900 && !date1904) return true;
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(int year, int month, bool date1904) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return month == 2 && isLeapYear(year, date1904) ? 29 : kDays[month - 1];
}

int weekdayOfSerial(int64_t serial, bool date1904) {
  // Serial 1 of the 1900 system is a Sunday; serial 0 of the 1904 system a Friday.
  int64_t day = (serial + (date1904 ? 5 : 6)) % 7;
  return int(day < 0 ? day + 7 : day);
}

int64_t days360(const CalendarDate& start, const CalendarDate& end, Days360Rule rule,
                bool date1904) {
  int startDay = start.day, endDay = end.day;
  if (rule == Days360Rule::kEuropean) {
    if (startDay == 31) startDay = 30;
    if (endDay == 31) endDay = 30;
  } else {
    const bool startLastOfFebruary =
        start.month == 2 && start.day == daysInMonth(start.year, 2, date1904);
    const bool endLastOfFebruary = end.month == 2 && end.day == daysInMonth(end.year, 2, date1904);
    if (rule == Days360Rule::kUsBasis && startLastOfFebruary && endLastOfFebruary) endDay = 30;
    if (startLastOfFebruary || startDay == 31) startDay = 30;
    // An end on the 31st stays there (so it counts as the first of the next month) unless the
    // start is on the 30th.
    if (endDay == 31 && startDay == 30) endDay = 30;
  }
  return (int64_t(end.year) - start.year) * 360 + (int64_t(end.month) - start.month) * 30 +
         (endDay - startDay);
}

double yearFraction(int64_t start, int64_t end, DayCountBasis basis, bool date1904) {
  if (start > end) {
    const int64_t swap = start;
    start = end;
    end = swap;
  }
  const CalendarDate s = calendarDate(start, date1904);
  const CalendarDate e = calendarDate(end, date1904);
  const double days = double(end - start);
  switch (basis) {
    case DayCountBasis::kUs30360:
      return double(days360(s, e, Days360Rule::kUsBasis, date1904)) / 360;
    case DayCountBasis::kEuropean30360:
      return double(days360(s, e, Days360Rule::kEuropean, date1904)) / 360;
    case DayCountBasis::kActual360:
      return days / 360;
    case DayCountBasis::kActual365:
      return days / 365;
    case DayCountBasis::kActualActual:
      break;
  }
  if (s.year == e.year) return days / (isLeapYear(s.year, date1904) ? 366 : 365);
  const bool withinAYear =
      e.year == s.year + 1 && (s.month > e.month || (s.month == e.month && s.day >= e.day));
  if (withinAYear) {
    // A year's length of 366 when the span holds a 29 February.
    const bool startsBeforeLeapDay = isLeapYear(s.year, date1904) && s.month <= 2;
    const bool endsOnOrAfterLeapDay =
        isLeapYear(e.year, date1904) && (e.month > 2 || (e.month == 2 && e.day == 29));
    return days / (startsBeforeLeapDay || endsOnOrAfterLeapDay ? 366 : 365);
  }
  // Longer spans divide by the average length of the years they touch.
  const double years = double(e.year - s.year + 1);
  const double total =
      double(serialOfDate(e.year + 1, 1, 1, date1904) - serialOfDate(s.year, 1, 1, date1904));
  return days / (total / years);
}

}  // namespace korvel
