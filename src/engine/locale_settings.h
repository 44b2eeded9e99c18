// Process-wide settings that every value conversion reads: the user's locale data, the port that
// collates texts, the clock that gives the current year to partial dates, and the literal text
// table (the seven error texts, TRUE and FALSE), which the launcher may localise once.
//
// REQUIRES: used only on the thread that evaluates formulas; nothing here takes a lock.
#ifndef KORVEL_ENGINE_LOCALE_SETTINGS_H_
#define KORVEL_ENGINE_LOCALE_SETTINGS_H_

#include <array>
#include <string>
#include <string_view>

#include "platform/clock.h"
#include "platform/locale.h"

namespace korvel {

enum LiteralText : int {
  kTextNull = 0,
  kTextDiv0 = 1,
  kTextValue = 2,
  kTextRef = 3,
  kTextName = 4,
  kTextNum = 5,
  kTextNA = 6,
  kTextTrue = 7,
  kTextFalse = 8,
  kLiteralTextCount = 9,
};

// Reads the user locale from the port and keeps the port for collation and the clock for the
// current year. Either pointer may be null: then the English (United States) defaults, ordinal
// case-insensitive collation and the year 2000 hold. The ports are borrowed.
void installLocale(const Locale* locale, const Clock* clock);
// Sets the locale data directly (tests, and hosts without a locale port).
void setUserLocale(const UserLocale& locale);
const UserLocale& userLocale();

// Case-insensitive collation through the installed port, or folded code units without one.
int collateNoCase(std::u16string_view a, std::u16string_view b);
int currentYear();
// The installed clock's local date and time, with milliseconds; 2000-01-01 00:00:00.000 without a
// clock.
LocalTime currentLocalTime();

// The system's 8-bit code page through the installed port (CODE, CHAR), or Windows-1252, the
// code page of Western European systems, without one. Characters the code page lacks become "?".
std::string toSystemCodePage(std::u16string_view text);
std::u16string fromSystemCodePage(std::string_view bytes);

// Windows-1252 itself, for ports of systems that use it. Its five unassigned bytes (0x81, 0x8D,
// 0x8F, 0x90, 0x9D) stand for the control characters of the same numbers, so that every byte
// reads as a character and back.
std::string toWindows1252(std::u16string_view text);
std::u16string fromWindows1252(std::string_view bytes);

const std::u16string& literalText(int index);
void setLiteralText(int index, std::u16string text);
// Restores the default texts, locale and ports (tests).
void resetLocaleSettings();

}  // namespace korvel

#endif  // KORVEL_ENGINE_LOCALE_SETTINGS_H_
