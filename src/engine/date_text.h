// Dates and times in texts: the serial formula of the date systems, month names of the user's
// locale, and the recognizer that reads a text such as "15 Jan 2010", "3/15" or "10:30 PM".
#ifndef KORVEL_ENGINE_DATE_TEXT_H_
#define KORVEL_ENGINE_DATE_TEXT_H_

#include <string_view>

namespace korvel {

// Years 0-29 add 2000; 30-99 and 101-199 add 1900; other years stay.
int twoDigitYear(int year);

// Serial of a date and time in the 1900 system (1900-01-01 is 1, 1900-02-29 is 60) or the 1904
// system (1904-01-01 is 0). The year goes through twoDigitYear first.
double dateSerial(int year, int month, int day, int hour, int minute, double second, bool date1904);

// 1-based month of a full month name of the user's locale matched by a case-insensitive prefix
// of at least 3 units, or 0.
int fullMonthNumber(std::u16string_view text);
// 1-based month of an abbreviated month name matched whole (case-insensitive), or 0.
int abbreviatedMonthNumber(std::u16string_view text);

struct DateTimeParts {
  enum class Found { kNothing, kTimeOnly, kDate };
  Found found = Found::kNothing;
  int year = 0, month = 0, day = 0;
  int hour = 0, minute = 0;
  double seconds = 0;
};

// Reads a text as a date, a date and time, or a time alone, after the user's long-date order,
// date separator and month names; a partial date takes the current year of the installed clock.
DateTimeParts recognizeDateTime(std::u16string_view text);

// The operator conversion of a text that is not a number: the date serial of a recognized date
// (with its time), the day fraction of a time alone; false when the text is neither.
bool dateTimeTextToNumber(std::u16string_view text, bool date1904, double* out);

}  // namespace korvel

#endif  // KORVEL_ENGINE_DATE_TEXT_H_
