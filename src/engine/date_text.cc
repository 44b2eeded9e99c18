// Dates and times in texts. The serial formula counts days like the host program: the year 1900 is
// taken as a leap year, so 1900-02-29 exists as serial 60, and every later date is Gregorian. The
// recognizer reads what a user types into a cell that an operator then uses as a number.
#include "engine/date_text.h"

#include <charconv>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/locale_settings.h"
#include "util/text.h"

namespace korvel {
namespace {

// Longer texts are never dates: only their first part could look like one.
constexpr size_t kMaxDateText = 512;
// Whole numbers of a date or time text stay far below this, so no arithmetic on them overflows.
constexpr int kMaxTokenNumber = 999999999;
// The host program's calendar ends with the year 9999, and its time entries below 10000 hours,
// minutes or seconds.
constexpr int kMaxYear = 9999;
constexpr int kMaxTimePart = 9999;

// A base-10 integer that uses the whole text: digits only, at least one.
bool readInteger(std::u16string_view text, int* out) {
  if (text.empty()) return false;
  int64_t value = 0;
  for (char16_t u : text) {
    if (!isDigit(u)) return false;
    value = value * 10 + (u - u'0');
    if (value > kMaxTokenNumber) return false;
  }
  *out = int(value);
  return true;
}

// A decimal number that uses the whole text: digits with at most one point, which may be "." or
// the user's decimal separator.
bool readDecimal(std::u16string_view text, double* out) {
  const char16_t decimal = userLocale().decimalSeparator;
  std::string ascii;
  bool seenPoint = false, seenDigit = false;
  for (char16_t u : text) {
    if (isDigit(u)) {
      seenDigit = true;
      ascii.push_back(char(u));
    } else if ((u == u'.' || u == decimal) && !seenPoint) {
      seenPoint = true;
      ascii.push_back('.');
    } else {
      return false;
    }
  }
  if (!seenDigit || ascii.size() > 64) return false;
  double value = 0;
  std::from_chars_result r = std::from_chars(ascii.data(), ascii.data() + ascii.size(), value);
  if (r.ec != std::errc() || r.ptr != ascii.data() + ascii.size()) return false;
  *out = value;
  return true;
}

// The recognizer's own two-digit rule: unlike twoDigitYear it leaves 100-199 alone.
int recognizedYear(int year) {
  if (year < 30) return year + 2000;
  if (year < 100) return year + 1900;
  return year;
}

bool isLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int daysInMonth(int year, int month) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

enum class Meridiem { kNone, kAm, kPm };

// "10:30", "10:30:15.5", ":30", "10:75" (carried into 11:15) and with AM or PM.
bool readTime(std::u16string_view token, Meridiem meridiem, DateTimeParts* parts) {
  std::vector<std::u16string> pieces = split(token, u":");
  if (pieces.size() == 1 && meridiem != Meridiem::kNone) return false;
  if (pieces.size() > 3) return false;
  int hours = 0, minutes = 0;
  double seconds = 0;
  if (!pieces[0].empty() && !readInteger(pieces[0], &hours)) return false;
  if (pieces.size() >= 2 && !readInteger(pieces[1], &minutes)) return false;
  if (pieces.size() >= 3 && !readDecimal(pieces[2], &seconds)) return false;
  if (hours > kMaxTimePart || minutes > kMaxTimePart || seconds > kMaxTimePart) return false;
  if (meridiem != Meridiem::kNone) {
    // A twelve-hour clock: 12 AM is midnight and 12 PM noon; 13 PM is not a time.
    if (hours > 12) return false;
    if (meridiem == Meridiem::kPm && hours < 12) hours += 12;
    if (meridiem == Meridiem::kAm && hours == 12) hours = 0;
  }
  if (seconds >= 60) {
    int whole = int(seconds / 60);
    minutes += whole;
    seconds -= whole * 60.0;
  }
  if (minutes >= 60) {
    hours += minutes / 60;
    minutes %= 60;
  }
  parts->hour = hours;
  parts->minute = minutes;
  parts->seconds = seconds;
  return true;
}

Meridiem meridiemOf(std::u16string_view token) {
  if (equalsNoCase(token, u"AM")) return Meridiem::kAm;
  if (equalsNoCase(token, u"PM")) return Meridiem::kPm;
  return Meridiem::kNone;
}

}  // namespace

int twoDigitYear(int year) {
  if (year >= 0 && year <= 29) return year + 2000;
  if ((year >= 30 && year <= 99) || (year >= 101 && year <= 199)) return year + 1900;
  return year;
}

double dateSerial(int year, int month, int day, int hour, int minute, double second,
                  bool date1904) {
  int64_t y = twoDigitYear(year);
  int64_t m = month;
  if (m < 3) {
    y -= 1;
    m += 13;
  } else {
    m += 1;
  }
  int64_t serial = y * 36525 / 100 + m * 306 / 10 + day - (date1904 ? 695070 : 693609) - 429 +
                   (date1904 ? 0 : 1);
  // The quarter days above count every fourth year as a leap year. From March 1900 on the
  // Gregorian calendar holds, which drops the leap day of 2100, 2200, 2300, 2500 and so on; the
  // correction is zero up to February 2100, so serial 60 stays 1900-02-29.
  if (y >= 1900) serial -= (y / 100 - y / 400) - 15;
  return double(serial) + (hour * 3600.0 + minute * 60.0 + second) / 86400;
}

int fullMonthNumber(std::u16string_view text) {
  if (text.size() < 3) return 0;
  const auto& names = userLocale().monthNames;
  for (size_t i = 0; i < names.size(); ++i) {
    if (!names[i].empty() && startsWithNoCase(names[i], text)) return int(i) + 1;
  }
  return 0;
}

int abbreviatedMonthNumber(std::u16string_view text) {
  if (text.empty()) return 0;
  const auto& names = userLocale().abbreviatedMonthNames;
  for (size_t i = 0; i < names.size(); ++i) {
    if (!names[i].empty() && equalsNoCase(names[i], text)) return int(i) + 1;
  }
  return 0;
}

DateTimeParts recognizeDateTime(std::u16string_view text) {
  const DateTimeParts neither;
  if (text.size() > kMaxDateText) return neither;
  const UserLocale& locale = userLocale();

  bool hasLetter = false;
  for (char16_t u : text) hasLetter = hasLetter || isLetter(u);
  const bool hasColon = text.find(u':') != std::u16string_view::npos;

  std::u16string delimiters = u"-/";
  delimiters.push_back(locale.dateSeparator);
  if (hasLetter || hasColon) delimiters += u" \t";
  std::vector<std::u16string> tokens = split(text, delimiters, /*dropEmpty=*/true);

  // Sort the tokens into the time (with its AM or PM) and the date tokens.
  const std::u16string* timeToken = nullptr;
  Meridiem meridiem = Meridiem::kNone;
  std::vector<const std::u16string*> dateTokens;
  for (size_t i = 0; i < tokens.size(); ++i) {
    if (tokens[i].find(u':') == std::u16string::npos) {
      dateTokens.push_back(&tokens[i]);
      continue;
    }
    // Two times in one text make it neither.
    if (timeToken != nullptr) return neither;
    timeToken = &tokens[i];
    if (i + 1 < tokens.size() && meridiemOf(tokens[i + 1]) != Meridiem::kNone) {
      meridiem = meridiemOf(tokens[++i]);
    }
  }

  DateTimeParts result;
  if (timeToken != nullptr && !readTime(*timeToken, meridiem, &result)) return neither;

  if (dateTokens.size() > 4) return neither;
  int order = locale.longDateOrder >= 0 && locale.longDateOrder <= 2 ? locale.longDateOrder : 0;
  int parts[4] = {0, 0, 0, 0};
  int monthNameIndex = -1;
  bool hadFourUnits = false;
  for (size_t k = 0; k < dateTokens.size(); ++k) {
    std::u16string_view token = *dateTokens[k];
    if (!hasLetter || !isLetter(token[0])) {
      // "Jan 15, 2010": the day after a leading month name may carry one comma.
      if (k == 1 && monthNameIndex == 0 && token.size() <= 3 && token.back() == u',') {
        token.remove_suffix(1);
      }
      if (!readInteger(token, &parts[k])) return neither;
      if (k == 0 && token.size() == 4) order = 2;
    } else {
      if (hadFourUnits || monthNameIndex >= 0) return neither;
      int month = abbreviatedMonthNumber(token);
      if (month == 0) month = fullMonthNumber(token);
      if (month == 0) return neither;
      parts[k] = month;
      monthNameIndex = int(k);
      // A month name turns month-day-year into day-month-year ("15 Jan 2010"), except where
      // month-day-year already reads it as the month: first of a full date, "Jan 15, 2010".
      if (order == 0 && !(k == 0 && dateTokens.size() >= 3)) order = 1;
    }
    if (dateTokens[k]->size() == 4) hadFourUnits = true;
  }

  if (dateTokens.empty()) {
    result.found =
        timeToken != nullptr ? DateTimeParts::Found::kTimeOnly : DateTimeParts::Found::kNothing;
    return result;
  }
  // A lone number or month beside a time is no date, and the text is then not a time either.
  if (dateTokens.size() == 1) return neither;

  int year = 0, month = 0, day = 0;
  int monthSlot = 0;
  if (dateTokens.size() >= 3) {
    if (order == 0) {
      month = parts[0], day = parts[1], year = parts[2];
    } else if (order == 1) {
      day = parts[0], month = parts[1], year = parts[2];
      monthSlot = 1;
    } else {
      year = parts[0], month = parts[1], day = parts[2];
      monthSlot = 1;
    }
  } else {
    const size_t secondUnits = dateTokens[1]->size();
    if (order == 0) {
      month = parts[0];
      if (secondUnits == 2 && parts[0] >= 1 && parts[0] <= 12 && parts[1] != 0 &&
          parts[1] <= daysInMonth(recognizedYear(parts[1]), parts[0])) {
        day = parts[1], year = currentYear();
      } else if (secondUnits == 2 || secondUnits == 4) {
        year = parts[1], day = 1;
      } else {
        day = parts[1], year = currentYear();
      }
    } else if (order == 1) {
      month = parts[0], year = parts[1], day = 1;
    } else {
      year = parts[0], month = parts[1], day = 1;
      monthSlot = 1;
    }
    if (day == 0) day = 1;
  }
  // A month name that the order would read as a day or a year gives no date at all rather than
  // a wrong one ("Jan 12, 2010" in day-month-year order is not the first of December).
  if (monthNameIndex >= 0 && monthNameIndex != monthSlot) return neither;

  year = recognizedYear(year);
  // The day of 1900 that dates count but the calendar lacks is read as a date too (serial 60).
  const int lastDay = year == 1900 && month == 2 ? 29 : daysInMonth(year, month);
  if (year < 1 || year > kMaxYear || month < 1 || month > 12 || day < 1 || day > lastDay) {
    return neither;
  }
  result.found = DateTimeParts::Found::kDate;
  result.year = year;
  result.month = month;
  result.day = day;
  return result;
}

bool dateTimeTextToNumber(std::u16string_view text, bool date1904, double* out) {
  DateTimeParts parts = recognizeDateTime(text);
  switch (parts.found) {
    case DateTimeParts::Found::kDate:
      *out = dateSerial(parts.year, parts.month, parts.day, parts.hour, parts.minute, parts.seconds,
                        date1904);
      return true;
    case DateTimeParts::Found::kTimeOnly:
      *out = (parts.hour * 3600.0 + parts.minute * 60.0 + parts.seconds) / 86400;
      return true;
    case DateTimeParts::Found::kNothing:
      break;
  }
  return false;
}

}  // namespace korvel
