#include "hosts/headless/functions/host_complex.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace korvel {
namespace {

bool isDigitUnit(char16_t u) { return u >= u'0' && u <= u'9'; }
bool isSuffix(char16_t u) { return u == u'i' || u == u'j'; }

// Scans an unsigned number (digits, an optional point, an optional exponent) from position *at;
// true with *at past it and the number read. A point alone, or an exponent without digits, is no
// number.
bool scanNumber(std::u16string_view text, size_t* at, double* out) {
  std::string ascii;
  size_t i = *at;
  size_t digits = 0;
  while (i < text.size() && isDigitUnit(text[i])) {
    ascii += char(text[i++]);
    ++digits;
  }
  if (i < text.size() && text[i] == u'.') {
    ascii += '.';
    ++i;
    while (i < text.size() && isDigitUnit(text[i])) {
      ascii += char(text[i++]);
      ++digits;
    }
  }
  if (digits == 0) return false;
  if (i < text.size() && (text[i] == u'e' || text[i] == u'E')) {
    size_t j = i + 1;
    std::string exponent = "e";
    if (j < text.size() && (text[j] == u'+' || text[j] == u'-')) exponent += char(text[j++]);
    size_t expDigits = 0;
    while (j < text.size() && isDigitUnit(text[j])) {
      exponent += char(text[j++]);
      ++expDigits;
    }
    if (expDigits == 0) return false;
    ascii += exponent;
    i = j;
  }
  double value = 0;
  std::from_chars_result r =
      std::from_chars(ascii.data(), ascii.data() + ascii.size(), value, std::chars_format::general);
  if (r.ec != std::errc() || !std::isfinite(value)) return false;
  *out = value;
  *at = i;
  return true;
}

// A signed term: sign, optional number, optional suffix. A term without a number must carry the
// suffix ("i", "-j").
struct Term {
  double value = 0;
  char16_t suffix = 0;
};

bool scanTerm(std::u16string_view text, size_t* at, bool signRequired, Term* out) {
  size_t i = *at;
  double sign = 1;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
    if (text[i] == u'-') sign = -1;
    ++i;
  } else if (signRequired) {
    return false;
  }
  double magnitude = 1;
  bool number = scanNumber(text, &i, &magnitude);
  char16_t suffix = 0;
  if (i < text.size() && isSuffix(text[i])) suffix = text[i++];
  if (!number && suffix == 0) return false;
  out->value = sign * magnitude;
  out->suffix = suffix;
  *at = i;
  return true;
}

}  // namespace

bool parseComplex(std::u16string_view text, ComplexNumber* out) {
  ComplexNumber z;
  if (text.empty()) {
    *out = z;
    return true;
  }
  size_t at = 0;
  Term first;
  if (!scanTerm(text, &at, false, &first)) return false;
  if (at == text.size()) {
    if (first.suffix != 0) {
      z.imaginary = first.value;
      z.suffix = first.suffix;
    } else {
      z.real = first.value;
    }
    *out = z;
    return true;
  }
  // A second term must be the imaginary part of a real first one, and end the text.
  Term second;
  if (first.suffix != 0 || !scanTerm(text, &at, true, &second) || second.suffix == 0 ||
      at != text.size()) {
    return false;
  }
  z.real = first.value;
  z.imaginary = second.value;
  z.suffix = second.suffix;
  *out = z;
  return true;
}

std::u16string complexPartText(double x) {
  if (x == 0 || !std::isfinite(x)) return u"0";
  // Round to 15 significant digits first; the decimal exponent of the rounded number decides the
  // form, so 999999999999999.9 is written as 1E+15.
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.14E", x);
  std::string scientific = buffer;
  size_t e = scientific.find('E');
  int exponent = std::atoi(scientific.c_str() + e + 1);
  std::string mantissa = scientific.substr(0, e);
  bool negative = mantissa[0] == '-';
  if (negative) mantissa.erase(0, 1);
  std::string digits;
  for (char c : mantissa) {
    if (c != '.') digits += c;
  }
  size_t last = digits.find_last_not_of('0');
  digits.erase(last + 1);

  std::string out = negative ? "-" : "";
  // Fixed form holds at most 18 decimals: 1E-18 is written out, 1E-20 and
  // 6.12323399573677E-17 are not.
  const int decimals = int(digits.size()) - 1 - exponent;
  if (exponent >= 15 || decimals > 18) {
    out += digits[0];
    if (digits.size() > 1) out += "." + digits.substr(1);
    char exponentText[16];
    std::snprintf(exponentText, sizeof exponentText, "E%c%02d", exponent < 0 ? '-' : '+',
                  std::abs(exponent));
    out += exponentText;
  } else if (exponent < 0) {
    out += "0." + std::string(size_t(-exponent - 1), '0') + digits;
  } else if (digits.size() <= size_t(exponent) + 1) {
    out += digits + std::string(size_t(exponent) + 1 - digits.size(), '0');
  } else {
    out += digits.substr(0, size_t(exponent) + 1) + "." + digits.substr(size_t(exponent) + 1);
  }
  return std::u16string(out.begin(), out.end());
}

std::u16string complexText(const ComplexNumber& z) {
  const char16_t suffix = z.suffix == 0 ? u'i' : z.suffix;
  std::u16string real = complexPartText(z.real);
  std::u16string imaginary = complexPartText(std::fabs(z.imaginary));
  if (imaginary == u"0") return real;
  std::u16string text;
  if (real != u"0") text = real;
  if (z.imaginary < 0) {
    text += u'-';
  } else if (!text.empty()) {
    text += u'+';
  }
  if (imaginary != u"1") text += imaginary;
  text += suffix;
  return text;
}

}  // namespace korvel
