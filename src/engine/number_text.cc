// The display text of numbers and the reading of number texts typed by the user or returned by the
// host program. Both follow the user's locale data, never the C library's current locale: the
// runtime switches the C library's numeric category to the workbook's language, and a text must
// read the same before and after that switch.
#include "engine/number_text.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

#include "engine/locale_settings.h"
#include "util/text.h"

namespace korvel {
namespace {

// Longer texts are never numbers: the host program gives up on them as well, and a text that only
// starts like a number must not be read by its first part.
constexpr size_t kMaxNumberText = 512;

bool isSign(char16_t u) { return u == u'+' || u == u'-'; }

// Removes the zeros that end a fraction, then a point left at the end. Digits without a point are
// a whole number and keep their zeros.
void trimFraction(std::string& digits) {
  if (digits.find('.') == std::string::npos) return;
  size_t end = digits.find_last_not_of('0');
  if (digits[end] == '.') --end;
  digits.erase(end + 1);
}

// Converts an ASCII number text made of an optional "-", digits, at most one "." and an optional
// exponent, which the caller has already checked. The whole buffer must be read. A magnitude above
// the double range is not a number; one below it reads as 0, as the C library's conversion does.
bool asciiToDouble(const std::string& ascii, double* out) {
  const char* first = ascii.data();
  const char* last = first + ascii.size();
  double value = 0;
  std::from_chars_result r = std::from_chars(first, last, value, std::chars_format::general);
  if (r.ptr != last) return false;
  if (r.ec == std::errc::result_out_of_range) {
    // Decide between overflow and underflow from the decimal magnitude of the text.
    int64_t magnitude = 0;
    bool seenPoint = false, seenNonZero = false;
    size_t i = 0;
    for (; i < ascii.size() && ascii[i] != 'e' && ascii[i] != 'E'; ++i) {
      char c = ascii[i];
      if (c == '.') {
        seenPoint = true;
      } else if (c >= '0' && c <= '9') {
        if (c != '0') seenNonZero = true;
        if (seenNonZero && !seenPoint) ++magnitude;
        if (!seenNonZero && seenPoint) --magnitude;
      }
    }
    if (i < ascii.size()) {
      int64_t exponent = 0;
      bool negative = false;
      for (++i; i < ascii.size(); ++i) {
        if (ascii[i] == '-') negative = true;
        if (ascii[i] >= '0' && ascii[i] <= '9' && exponent < 100000) {
          exponent = exponent * 10 + (ascii[i] - '0');
        }
      }
      magnitude += negative ? -exponent : exponent;
    }
    if (magnitude > 0) return false;
    value = 0;
  } else if (r.ec != std::errc()) {
    return false;
  }
  if (!std::isfinite(value)) return false;
  *out = value;
  return true;
}

// The currency form: "$1,234.50", "-$5", "1.234,50 €". The text is read from its end so that a
// thousands separator can be checked against the count of digits to its right.
bool currencyTextToNumber(std::u16string_view text, double* out) {
  const UserLocale& locale = userLocale();
  const std::u16string& symbol = locale.currencySymbol;
  const bool before = locale.currencyPosition == 0 || locale.currencyPosition == 2;

  // The user's symbol first: it may contain "$" (for example "US$").
  std::u16string_view symbols[] = {symbol, u"$", u"€"};
  std::u16string rest(text);
  for (std::u16string_view s : symbols) {
    if (s.empty()) continue;
    if (before) {
      size_t at = (!rest.empty() && isSign(rest[0])) ? 1 : 0;
      if (rest.compare(at, s.size(), s) == 0) {
        rest.erase(at, s.size());
        break;
      }
    } else if (rest.size() >= s.size() && rest.compare(rest.size() - s.size(), s.size(), s) == 0) {
      rest.erase(rest.size() - s.size());
      break;
    }
  }
  if (!symbol.empty() && rest.find(symbol) != std::u16string::npos) return false;
  std::u16string_view body = trim(rest);
  if (body.empty()) return false;

  const std::u16string& decimal = locale.monetaryDecimalSeparator;
  const std::u16string& thousands = locale.monetaryThousandsSeparator;
  // An empty thousands separator means the locale does not group digits.
  if (decimal.size() != 1 || thousands.size() > 1) return false;
  const int grouping = locale.monetaryGrouping;

  std::string reversed;
  bool seenDecimal = false, seenExponent = false;
  int digitsRight = 0;  // digits between this unit and the decimal separator (or the end)
  for (size_t k = body.size(); k-- > 0;) {
    char16_t u = body[k];
    if (isDigit(u)) {
      reversed.push_back(char(u));
      ++digitsRight;
    } else if (isSign(u) && k == 0) {
      if (u == u'-') reversed.push_back('-');
    } else if (u == decimal[0] && !seenDecimal) {
      seenDecimal = true;
      digitsRight = 0;
      reversed.push_back('.');
    } else if ((u == u'E' || u == u'e') && !seenExponent && !seenDecimal) {
      // Reading backwards, a decimal separator met before the mark would stand in the exponent.
      seenExponent = true;
      reversed.push_back('e');
    } else if (!thousands.empty() && u == thousands[0] && grouping > 0 &&
               digitsRight % grouping == 0 && k > 0 && k + 1 < body.size() &&
               isDigit(body[k - 1]) && isDigit(body[k + 1])) {
      // Dropped. It must stand between digits: "1,,234", ",123" or "123," group nothing.
    } else {
      return false;
    }
  }
  std::string ascii(reversed.rbegin(), reversed.rend());
  // Only digits, one point and one exponent mark were taken; the conversion checks their order.
  return asciiToDouble(ascii, out);
}

// The plain form: sign, digits with the user's decimal separator, exponent, final "%".
bool plainTextToNumber(std::u16string_view text, double* out) {
  const char16_t decimal = userLocale().decimalSeparator;
  std::string ascii;
  size_t i = 0;
  const size_t n = text.size();
  if (i < n && isSign(text[i])) {
    if (text[i] == u'-') ascii.push_back('-');
    ++i;
    while (i < n && text[i] == u' ') ++i;
  }
  int mantissaDigits = 0;
  bool seenPoint = false;
  for (; i < n; ++i) {
    if (isDigit(text[i])) {
      ascii.push_back(char(text[i]));
      ++mantissaDigits;
    } else if (text[i] == decimal && !seenPoint) {
      seenPoint = true;
      ascii.push_back('.');
    } else {
      break;
    }
  }
  if (mantissaDigits == 0) return false;
  if (i < n && (text[i] == u'E' || text[i] == u'e')) {
    ascii.push_back('e');
    ++i;
    if (i < n && isSign(text[i])) ascii.push_back(char(text[i++]));
    int exponentDigits = 0;
    for (; i < n && isDigit(text[i]); ++i, ++exponentDigits) ascii.push_back(char(text[i]));
    if (exponentDigits == 0) return false;
  }
  bool percent = false;
  if (i < n && text[i] == u'%') {
    percent = true;
    ++i;
  }
  if (i != n) return false;
  double value = 0;
  if (!asciiToDouble(ascii, &value)) return false;
  *out = percent ? value / 100 : value;
  return true;
}

}  // namespace

std::u16string numberToText(double x) {
  if (x == 0 || !std::isfinite(x)) return u"0";
  if (x >= -2147483648.0 && x <= 2147483647.0 && x == std::trunc(x)) {
    std::string digits = std::to_string(int64_t(x));
    return std::u16string(digits.begin(), digits.end());
  }
  char buffer[64];
  std::string text;
  const int c = int(std::floor(std::log10(std::fabs(x)))) + 1;
  if (c < -13 || c > 15) {
    // Fifteen significant digits: one before the point and fourteen after it.
    std::to_chars_result r =
        std::to_chars(buffer, buffer + sizeof buffer, x, std::chars_format::scientific, 14);
    std::string all(buffer, r.ptr);
    size_t e = all.find('e');
    std::string mantissa = all.substr(0, e);
    trimFraction(mantissa);
    char sign = all[e + 1];
    std::string exponent = all.substr(e + 2);
    while (exponent.size() < 3) exponent.insert(exponent.begin(), '0');
    text = mantissa + 'E' + sign + exponent;
  } else {
    std::to_chars_result r =
        std::to_chars(buffer, buffer + sizeof buffer, x, std::chars_format::fixed, 15 - c);
    text.assign(buffer, r.ptr);
    trimFraction(text);
  }
  std::u16string result(text.begin(), text.end());
  const char16_t decimal = userLocale().decimalSeparator;
  if (decimal != u'.') {
    for (char16_t& u : result) {
      if (u == u'.') u = decimal;
    }
  }
  return result;
}

bool textToNumber(std::u16string_view text, double* out) {
  std::u16string_view t = trim(text);
  if (t.empty() || t.size() > kMaxNumberText) return false;
  const UserLocale& locale = userLocale();
  const bool currency = t.find(u'$') != std::u16string_view::npos ||
                        t.find(u'€') != std::u16string_view::npos ||
                        (!locale.currencySymbol.empty() &&
                         t.find(locale.currencySymbol) != std::u16string_view::npos) ||
                        (!locale.monetaryThousandsSeparator.empty() &&
                         t.find(locale.monetaryThousandsSeparator) != std::u16string_view::npos);
  return currency ? currencyTextToNumber(t, out) : plainTextToNumber(t, out);
}

}  // namespace korvel
