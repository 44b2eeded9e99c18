// Date and time functions over serial dates of both date systems.
//
// Two calendar routines carry the family. dateSerial (engine/date_text.h) turns a year, month and
// day into a serial; dateOfSerial below turns a serial back into a Gregorian year, month and day
// (serial 2 is 1 January 1900 for it in the 1900 system). The 1900 system counts a 29 February
// 1900 (serial 60) that the calendar does not have, so below serial 61 the two routines disagree
// by one day. civilDate settles that once for every member: in the 1900 system a serial below 60
// is split one day later, and serial 60 is 29 February 1900. DAY, MONTH, YEAR, EDATE, EOMONTH and
// DATEDIF all split through it, so DAY(DATE(1900,2,15)) is 15 and DAY(60) is 29 rather than the
// day before, which a correction limited to serials up to 32 would give.
//
// Choices where the rules leave room:
// - A serial below 0 gives #NUM! for every member that splits a date (WEEKDAY, EDATE, EOMONTH
//   included), and so does a serial of 2^31 or more, where no calendar arithmetic is meaningful.
//   EDATE and EOMONTH give #NUM! for a result before serial 0, and so does DATE: a negative
//   serial names no date any member would accept back.
// - DAY of a serial below 1 is 0 only in the 1900 system (the "0 January 1900"); in the 1904
//   system serial 0 is 1 January 1904 and DAY gives 1. A serial above 0.99999 and below 1 counts
//   as 1, so that nothing falls between the two rules.
// - WEEKDAY truncates the serial before the 1904 shift, so that a time of day never moves the
//   date; a boolean type reads as 0 or 1.
// - DATEDIF "YM" is the month count of "M" less the whole years of "Y" (always 0 to 11). "MD" is
//   the days since the last monthly anniversary of the start: end day minus start day when that
//   is not negative; otherwise the days from the start day in the month before the end's month
//   (cut to that month's length, so 31 January to 1 March is 1 day) up to the end day. Never
//   negative, December ends included (the month before January is December).
// - DATEDIF "YD" over the turn of a year counts (end - 1 January of the end year) + (31 December
//   of the start year - start) + 1 always: adding the day only when the end is 1 January would
//   give the same count for 1 and 2 January.
// - TODAY reads the installed clock, as NOW does when no recalculation instant is set.
// - YEARFRAC reads date texts like the other members before it hands the call to the host.
#include <cmath>
#include <cstdint>

#include "engine/date_text.h"
#include "engine/engine.h"
#include "engine/locale_settings.h"
#include "engine/number_text.h"
#include "engine/value_convert.h"
#include "functions/arguments.h"
#include "functions/native_families.h"
#include "model/address.h"
#include "util/text.h"

namespace korvel {
namespace {

// Serials from here on are years beyond any calendar; below it years fit an int.
constexpr double kMaxSerial = 2147483648.0;
// DATE arguments beyond this cannot name a year an int holds once months are carried.
constexpr double kMaxDatePart = 1e9;
// The host program's function number of YEARFRAC and its parameter count.
constexpr int kYearFracNumber = 451;
constexpr int kYearFracParameters = 3;

struct CivilDate {
  int year = 0, month = 0, day = 0;
};

bool usesDate1904(const CallContext& context) {
  return context.engine != nullptr && context.engine->date1904;
}

// The date-argument rule: a text is read as a date (or date and time) first, then as a number;
// other kinds as toNumber reads them.
bool readDate(const Value& value, bool date1904, double* out) {
  if (value.isText() && dateTimeTextToNumber(value.text(), date1904, out)) return true;
  return toNumber(value, out);
}

// The Gregorian date of a serial, with the 1900 system's serial 2 on 1 January 1900.
// REQUIRES: 0 <= serial < kMaxSerial.
CivilDate dateOfSerial(double serial, bool date1904) {
  int64_t a = int64_t(serial) + (date1904 ? 16480 : 15018) + 678881;
  const int64_t cycles = a / 146097;
  a -= cycles * 146097;
  int64_t year = 400 * cycles;
  int64_t centuries = a / 36524;
  if (centuries == 4) centuries = 3;
  a -= centuries * 36524;
  year += 100 * centuries;
  year += 4 * (a / 1461);
  int64_t r = a % 1461;
  int64_t years = r / 365;
  if (years == 4) years = 3;
  year += years;
  r -= 365 * years;
  // Months counted from March, so that February's length only matters at the end of the year.
  const int64_t f = (5 * r + 2) / 153;
  CivilDate date;
  date.day = int(r - (f * 306 + 5) / 10 + 1);
  if (f < 10) {
    date.month = int(f + 3);
  } else {
    date.month = int(f - 9);
    ++year;
  }
  date.year = int(year);
  return date;
}

// The date a serial stands for in the workbook's calendar, 29 February 1900 included.
// REQUIRES: 0 <= serial < kMaxSerial.
CivilDate civilDate(double serial, bool date1904) {
  if (!date1904) {
    if (serial < 60) return dateOfSerial(serial + 1, false);
    if (serial < 61) return CivilDate{1900, 2, 29};
  }
  return dateOfSerial(serial, date1904);
}

int daysInMonth(int year, int month) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  year = twoDigitYear(year);
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

double serialOf(int year, int month, int day, bool date1904) {
  return dateSerial(year, month, day, 0, 0, 0, date1904);
}

// The serial argument of DAY and YEAR; MONTH reads its own. False with the result set.
bool splittableSerial(double serial, Value& result) {
  if (serial < 0 || serial >= kMaxSerial) {
    result.setError(kErrorNum);
    return false;
  }
  return true;
}

void dateRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  double parts[3] = {0, 0, 0};
  bool allEmpty = true;
  for (int i = 0; i < 3; ++i) {
    const Value* argument = argumentAt(arguments, i);
    if (argument == nullptr) continue;
    if (!argument->isEmpty()) allEmpty = false;
    if (numberOrError(*argument, &parts[i]) != 0) {
      result.setError(kErrorValue);
      return;
    }
    parts[i] = std::trunc(parts[i]);
  }
  if (allEmpty) {
    result.setError(kErrorNum);
    return;
  }
  // A day beyond 32767 is cut, so only year, month and a very negative day can be out of reach.
  if (std::fabs(parts[0]) > kMaxDatePart || std::fabs(parts[1]) > kMaxDatePart ||
      parts[2] < -kMaxDatePart) {
    result.setError(kErrorNum);
    return;
  }
  int64_t year = int64_t(parts[0]);
  int64_t month = int64_t(parts[1]);
  int64_t day = parts[2] > 32767 ? 32767 : int64_t(parts[2]);
  if (year < 1900) year += 1900;
  if (month > 12) {
    year += month / 12;
    month %= 12;
  } else if (month < 0) {
    year += month / 12 - 1;
    month = month % 12 + 12;
  }
  const double serial = serialOf(int(year), int(month), int(day), usesDate1904(context));
  if (serial < 0) {
    result.setError(kErrorNum);
    return;
  }
  setNumberResult(result, serial);
}

void dateValue(CallContext& context, const Value* const* arguments, Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  const Value* text = argumentAt(arguments, 0);
  double serial = 0;
  if (text == nullptr || !text->isText() ||
      !dateTimeTextToNumber(text->text(), usesDate1904(context), &serial)) {
    result.setError(kErrorValue);
    return;
  }
  setNumberResult(result, std::trunc(serial));
}

void timeValue(CallContext& context, const Value* const* arguments, Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  const Value* text = argumentAt(arguments, 0);
  if (text == nullptr || !text->isText()) {
    result.setError(kErrorValue);
    return;
  }
  DateTimeParts parts = recognizeDateTime(text->text());
  if (parts.found == DateTimeParts::Found::kNothing || parts.hour >= 10000) {
    result.setError(kErrorValue);
    return;
  }
  double fraction = (parts.hour * 3600.0 + parts.minute * 60.0 + parts.seconds) / 86400;
  if (fraction >= 1) fraction -= std::floor(fraction);
  setNumberResult(result, fraction);
}

// The error pre-check over every argument, then the first argument read as a date (0 when it is
// absent). False, with the result set, when the call stops.
bool dateArgument(const CallContext& context, const Value* const* arguments, bool date1904,
                  double* serial, Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return false;
  const Value* argument = argumentAt(arguments, 0);
  if (argument != nullptr && !readDate(*argument, date1904, serial)) {
    result.setError(kErrorValue);
    return false;
  }
  return true;
}

void dayRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  const bool date1904 = usesDate1904(context);
  double serial = 0;
  if (!dateArgument(context, arguments, date1904, &serial, result)) return;
  if (!splittableSerial(serial, result)) return;
  if (!date1904 && serial < 1) {
    if (serial <= 0.99999) {
      result.setInteger(0);
      return;
    }
    serial = 1;
  }
  result.setInteger(civilDate(serial, date1904).day);
}

void monthRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  const bool date1904 = usesDate1904(context);
  const Value* argument = argumentAt(arguments, 0);
  double serial = 0;
  if (argument != nullptr) {
    if (argument->isText()) {
      if (!readDate(*argument, date1904, &serial)) {
        result.setError(kErrorValue);
        return;
      }
    } else if (argument->isNumeric()) {
      serial = argument->number();
    } else if (argument->isBoolean()) {
      serial = argument->boolean() ? 1 : 0;
    }
  }
  if (!splittableSerial(serial, result)) return;
  if (!date1904 && serial < 1) serial = 1;
  result.setInteger(civilDate(serial, date1904).month);
}

void yearRoutine(CallContext& context, const Value* const* arguments, Value& result) {
  const bool date1904 = usesDate1904(context);
  double serial = 0;
  if (!dateArgument(context, arguments, date1904, &serial, result)) return;
  if (!splittableSerial(serial, result)) return;
  if (!date1904 && serial < 2) serial = 2;
  result.setInteger(civilDate(serial, date1904).year);
}

void weekday(CallContext& context, const Value* const* arguments, Value& result) {
  const bool date1904 = usesDate1904(context);
  double serial = 0;
  if (!dateArgument(context, arguments, date1904, &serial, result)) return;
  double type = 1;
  const Value* typeArgument = argumentAt(arguments, 1);
  if (typeArgument != nullptr && !typeArgument->isEmpty()) {
    if (numberOrError(*typeArgument, &type) != 0) {
      result.setError(kErrorValue);
      return;
    }
    type = std::trunc(type);
  }
  if (!splittableSerial(serial, result)) return;
  // The 1900 system's serial 1 is a Sunday; the 1904 system's serial 0 a Friday.
  int day = int(std::fmod(std::trunc(serial) - (date1904 ? 1 : 0), 7.0));
  if (day <= 0) day += 7;
  const int mondayFirst = day == 1 ? 7 : day - 1;
  if (type == 1) {
    result.setInteger(day);
  } else if (type == 2) {
    result.setInteger(mondayFirst);
  } else if (type == 3) {
    result.setInteger(mondayFirst - 1);
  } else {
    result.setError(kErrorNum);
  }
}

// The date the given number of months after start, or the last day of that month. Sets result.
void shiftMonths(double start, double months, bool endOfMonth, bool date1904, Value& result) {
  months = std::trunc(months);
  // Twelve times the years an int holds: more months leave every calendar.
  if (start < 0 || start >= kMaxSerial || std::fabs(months) > 2.4e10) {
    result.setError(kErrorNum);
    return;
  }
  const CivilDate from = civilDate(start, date1904);
  const int64_t total = int64_t(from.month) - 1 + int64_t(months);
  int64_t year = from.year + total / 12;
  int64_t month = total % 12;
  if (month < 0) {
    month += 12;
    --year;
  }
  ++month;
  // Years below 1899 would also be read as two-digit years by the serial formula.
  if (year < 1899 || year > 2000000000) {
    result.setError(kErrorNum);
    return;
  }
  const int length = daysInMonth(int(year), int(month));
  const int day = endOfMonth || from.day > length ? length : from.day;
  const double serial = serialOf(int(year), int(month), day, date1904);
  if (serial < 0) {
    result.setError(kErrorNum);
    return;
  }
  setNumberResult(result, serial);
}

// The months argument of EDATE and EOMONTH: a number or numeric text, never a boolean.
bool readMonths(const Value& value, double* out) {
  return !value.isBoolean() && numberOrError(value, out) == 0;
}

void edate(CallContext& context, const Value* const* arguments, Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  if (argumentCount(arguments) > 2) {
    result.setError(kErrorValue);
    return;
  }
  const Value* start = argumentAt(arguments, 0);
  const Value* months = argumentAt(arguments, 1);
  if (start == nullptr || start->isEmpty() || months == nullptr || months->isEmpty()) {
    result.setError(kErrorNA);
    return;
  }
  const bool date1904 = usesDate1904(context);
  double serial = 0, count = 0;
  if (!readDate(*start, date1904, &serial) || !readMonths(*months, &count)) {
    result.setError(kErrorValue);
    return;
  }
  shiftMonths(serial, count, false, date1904, result);
}

// An EOMONTH argument, which may come as a reference: the value of its single cell.
bool singleValue(const CallContext& context, const Value* argument, const Value** out) {
  if (argument != nullptr && argument->isReference()) {
    RangeRef range = normalizeRange(argument->reference());
    if (range.first != range.last) return false;
    *out = &cellValueAt(context, range.first);
    return true;
  }
  if (argument != nullptr && (argument->isReferenceList() || argument->isArray())) return false;
  *out = argument;
  return true;
}

void eomonth(CallContext& context, const Value* const* arguments, Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  const Value* start = nullptr;
  const Value* months = nullptr;
  if (argumentCount(arguments) > 2 || !singleValue(context, argumentAt(arguments, 0), &start) ||
      !singleValue(context, argumentAt(arguments, 1), &months)) {
    result.setError(kErrorValue);
    return;
  }
  if (start == nullptr || start->isEmpty() || months == nullptr || months->isEmpty()) {
    result.setError(kErrorNA);
    return;
  }
  const bool date1904 = usesDate1904(context);
  double serial = 0, count = 0;
  if (start->isBoolean() || !readDate(*start, date1904, &serial) || !readMonths(*months, &count)) {
    result.setError(kErrorValue);
    return;
  }
  if (serial >= 0 && serial < 2) serial = 2;
  shiftMonths(serial, count, true, date1904, result);
}

enum class DateDifUnit { kNone, kYears, kMonths, kDays, kMonthDays, kYearMonths, kYearDays };

DateDifUnit dateDifUnit(std::u16string_view text) {
  if (equalsNoCase(text, u"Y")) return DateDifUnit::kYears;
  if (equalsNoCase(text, u"M")) return DateDifUnit::kMonths;
  if (equalsNoCase(text, u"D")) return DateDifUnit::kDays;
  if (equalsNoCase(text, u"MD")) return DateDifUnit::kMonthDays;
  if (equalsNoCase(text, u"YM")) return DateDifUnit::kYearMonths;
  if (equalsNoCase(text, u"YD")) return DateDifUnit::kYearDays;
  return DateDifUnit::kNone;
}

int64_t wholeYears(const CivilDate& s, const CivilDate& e) {
  if (s.year == e.year) return 0;
  if (s.month < e.month || (s.month == e.month && e.day >= s.day)) return e.year - s.year;
  return e.year - s.year - 1;
}

int64_t wholeMonths(const CivilDate& s, const CivilDate& e) {
  if (s.year == e.year && s.month == e.month) return 0;
  return (int64_t(e.year) - s.year) * 12 + e.month - s.month - (e.day < s.day ? 1 : 0);
}

void dateDif(CallContext& context, const Value* const* arguments, Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  const Value* unitArgument = argumentAt(arguments, 2);
  const DateDifUnit unit =
      unitArgument == nullptr ? DateDifUnit::kNone : dateDifUnit(toText(*unitArgument));
  if (unit == DateDifUnit::kNone) {
    result.setError(kErrorNum);
    return;
  }
  const bool date1904 = usesDate1904(context);
  const Value* startArgument = argumentAt(arguments, 0);
  const Value* endArgument = argumentAt(arguments, 1);
  double start = 0, end = 0;
  if (startArgument == nullptr || endArgument == nullptr ||
      !readDate(*startArgument, date1904, &start) || !readDate(*endArgument, date1904, &end) ||
      start < 0 || end < 0) {
    result.setError(kErrorValue);
    return;
  }
  if (end < start || end >= kMaxSerial) {
    result.setError(kErrorNum);
    return;
  }
  const CivilDate s = civilDate(start, date1904);
  const CivilDate e = civilDate(end, date1904);
  double days = 0;
  switch (unit) {
    case DateDifUnit::kYears:
      days = double(wholeYears(s, e));
      break;
    case DateDifUnit::kMonths:
      days = double(wholeMonths(s, e));
      break;
    case DateDifUnit::kDays:
      days = std::trunc(end - start);
      break;
    case DateDifUnit::kYearMonths:
      days = double(wholeMonths(s, e) - 12 * wholeYears(s, e));
      break;
    case DateDifUnit::kMonthDays: {
      if (e.day >= s.day) {
        days = e.day - s.day;
        break;
      }
      const int month = e.month == 1 ? 12 : e.month - 1;
      const int length = daysInMonth(e.month == 1 ? e.year - 1 : e.year, month);
      days = (length - (s.day < length ? s.day : length)) + e.day;
      break;
    }
    case DateDifUnit::kYearDays: {
      if (s.month == e.month && s.day == e.day) break;
      const double first = std::trunc(start);
      if (s.month < e.month || (s.month == e.month && s.day < e.day)) {
        days = serialOf(s.year, e.month, e.day, date1904) - first;
      } else {
        days = (std::trunc(end) - serialOf(e.year, 1, 1, date1904)) +
               (serialOf(s.year, 12, 31, date1904) - first) + 1;
      }
      break;
    }
    case DateDifUnit::kNone:
      break;
  }
  setNumberResult(result, days);
}

void now(CallContext& context, const Value* const*, Value& result) {
  double serial = context.engine != nullptr ? context.engine->nowOverride : 0;
  if (serial == 0) {
    const LocalTime time = currentLocalTime();
    serial = dateSerial(time.year, time.month, time.day, time.hour, time.minute,
                        time.second + time.millisecond / 1000.0, usesDate1904(context));
  }
  setNumberResult(result, serial);
}

void today(CallContext& context, const Value* const*, Value& result) {
  const LocalTime time = currentLocalTime();
  setNumberResult(result, serialOf(time.year, time.month, time.day, usesDate1904(context)));
}

// The checks of YEARFRAC's dates; the fraction itself is the host program's.
void yearFrac(CallContext& context, const Value* const* arguments, Value& result) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  const bool date1904 = usesDate1904(context);
  for (int i = 0; i < 2; ++i) {
    const Value* argument = argumentAt(arguments, i);
    double serial = 0;
    if (argument == nullptr || argument->isBoolean() || !readDate(*argument, date1904, &serial)) {
      result.setError(kErrorValue);
      return;
    }
    if (serial < 0) {
      result.setError(kErrorNum);
      return;
    }
  }
  callHostFunction(context, kYearFracNumber, arguments, kYearFracParameters, result);
}

constexpr NativeEntry kDateTimeFunctions[] = {
    {u"DATE", dateRoutine},   {u"DATEDIF", dateDif}, {u"DATEVALUE", dateValue},
    {u"DAY", dayRoutine},     {u"EDATE", edate},     {u"EOMONTH", eomonth},
    {u"MONTH", monthRoutine}, {u"NOW", now},         {u"TIMEVALUE", timeValue},
    {u"TODAY", today},        {u"WEEKDAY", weekday}, {u"YEAR", yearRoutine},
    {u"YEARFRAC", yearFrac},
};

}  // namespace

NativeTable dateTimeFunctions() { return kDateTimeFunctions; }

}  // namespace korvel
