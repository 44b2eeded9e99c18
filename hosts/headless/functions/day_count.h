// Calendar arithmetic on serial dates for the headless program's date and financial functions:
// the calendar date of a serial in either date system, weekdays, and the day-count bases that
// YEARFRAC and the bond functions share (30/360 US, actual/actual, actual/360, actual/365,
// 30/360 European).
//
// Serials follow the host program's calendar: in the 1900 system serial 1 is 1 January 1900,
// serial 60 the 29 February 1900 that the real calendar lacks, and serial 0 the "0 January 1900";
// in the 1904 system serial 0 is 1 January 1904. Weekdays are counted on serials, so in the 1900
// system serial 1 is a Sunday, as the host program has it.
#ifndef KORVEL_HOSTS_HEADLESS_FUNCTIONS_DAY_COUNT_H_
#define KORVEL_HOSTS_HEADLESS_FUNCTIONS_DAY_COUNT_H_

#include <cstdint>

namespace korvel {

struct CalendarDate {
  int year = 0, month = 0, day = 0;
};

// The largest serial that names a date: 31 December 9999.
int64_t maxDateSerial(bool date1904);

// The date of a serial. Serial 0 of the 1900 system is 0 January 1900; serials below it
// continue backwards into 1899. REQUIRES: |serial| < 2^31.
CalendarDate calendarDate(int64_t serial, bool date1904);
// The serial of a date; the month and day may run over (month 13, day 0), as DATE allows.
int64_t serialOfDate(int year, int month, int day, bool date1904);

// February 1900 has 29 days in the 1900 system, which counts that day.
int daysInMonth(int year, int month, bool date1904);
bool isLeapYear(int year, bool date1904);

// 0 for Sunday to 6 for Saturday.
int weekdayOfSerial(int64_t serial, bool date1904);

// The day-count bases by their worksheet number.
enum class DayCountBasis {
  kUs30360 = 0,
  kActualActual = 1,
  kActual360 = 2,
  kActual365 = 3,
  kEuropean30360 = 4
};

// The days between two dates by a 30-day-month rule: (years x 360) + (months x 30) + days after
// the ends are moved. kUsDays360 is DAYS360's US method, kUsBasis the 30/360 US basis (which also
// moves an end on the last day of February when the start is one), kEuropean the European rule.
enum class Days360Rule { kUsDays360, kUsBasis, kEuropean };
int64_t days360(const CalendarDate& start, const CalendarDate& end, Days360Rule rule,
                bool date1904);

// The fraction of a year between two serials by a basis (order does not matter; the serials are
// whole days). REQUIRES: 0 <= serials <= maxDateSerial.
double yearFraction(int64_t start, int64_t end, DayCountBasis basis, bool date1904);

}  // namespace korvel

#endif  // KORVEL_HOSTS_HEADLESS_FUNCTIONS_DAY_COUNT_H_
