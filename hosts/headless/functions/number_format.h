// The headless program's number formats: the format codes its cells and its TEXT function apply
// to values. A code has up to four sections separated by ";" (positive, negative, zero, text),
// each with an optional colour and condition in brackets, digit placeholders (0 # ?), decimal
// point, thousands separators and scaling commas, percent, exponents, fractions, quoted and
// escaped literals, date and time codes with elapsed hours, minutes and seconds, "General" and
// the "@" of the text. Codes are read in their English form ("." and ","); results show the
// user's decimal and thousands separators.
//
// REQUIRES: used only on the thread that evaluates formulas (it reads the user's locale).
#ifndef KORVEL_HOSTS_HEADLESS_FUNCTIONS_NUMBER_FORMAT_H_
#define KORVEL_HOSTS_HEADLESS_FUNCTIONS_NUMBER_FORMAT_H_

#include <string>
#include <string_view>

namespace korvel {

// A number as the General format shows it in a cell of standard width: at most 11 characters
// besides the minus sign, so 1/3 is "0.333333333" and 123456789012 is "1.23457E+11"; numbers are
// first cut to their 15 significant digits.
std::u16string generalFormatText(double x);

// The absolute value of x rounded half away from zero to `decimals` places (negative: to tens,
// hundreds, ...; at most 15 significant digits are kept), with thousands separators when
// `grouping`. The sign is the caller's: *isZero tells whether the rounded value is zero.
std::u16string fixedNumberText(double x, int decimals, bool grouping, bool* isZero);

// Formats a number by a format code. False when the code is not a valid format, or the number
// cannot be shown by it (a date or time below zero or past 9999-12-31); *out is then unchanged.
// date1904 chooses the date system of the serials (1900 counts the missing 1900-02-29).
bool formatNumber(double x, std::u16string_view format, bool date1904, std::u16string* out);

// Formats a text by the code's text section (the fourth, or one holding "@"); a code without one
// leaves the text as it is. False when the code is not a valid format.
bool formatText(std::u16string_view text, std::u16string_view format, std::u16string* out);

}  // namespace korvel

#endif  // KORVEL_HOSTS_HEADLESS_FUNCTIONS_NUMBER_FORMAT_H_
