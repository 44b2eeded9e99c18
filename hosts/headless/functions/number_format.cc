// The format engine: a code is split into sections, each section into tokens, and a value is
// rendered by the section its sign (or a condition) picks.
//
// Behaviour of the host program matched here:
// - Numbers are cut to 15 significant digits before they are rounded to the places shown, and
//   they are rounded on their decimal digits, half away from zero: 2.675 with "0.00" is "2.68".
// - A negative number shown by the only section, or by a section its condition chose, gets a
//   minus sign in front of everything, literals included; the negative section shows the number
//   without it. A number that rounds to zero keeps its sign: -0.001 with "0" is "-0".
// - Digits beyond the integer placeholders go in front of the first one; "?" pads with a space,
//   "0" with a zero, "#" with nothing; a point is shown even without digits after it.
// - Commas between digit placeholders group thousands; commas after the last placeholder divide
//   by 1000 each. A "?" that pads a place also pads the separator that place would carry.
// - With an exponent, the exponent is a multiple of the number of whole placeholders; percent
//   signs and trailing commas then scale nothing; the exponent shows at least one digit, and its
//   sign stands before its digits (after any literal that follows the "E+").
// - Dates count from 1900-01-00 (serial 0), with the 1900-02-29 the host program keeps (serial
//   60), or from 1904-01-01 in the 1904 system. Times are rounded to the precision the code
//   shows (whole seconds, or the places after "s."), then split; "m" right after hours or before
//   seconds is minutes. A unit counted elapsed ("[h]") counts its total in its plain code too.
// - A number the only section's condition refuses is shown in the General format.
// - Codes not understood ("[" never closed, an unknown bracket, an open quote, more than four
//   sections) are not formats at all: TEXT gives #VALUE!.
#include "hosts/headless/functions/number_format.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "engine/locale_settings.h"
#include "util/text.h"

namespace korvel {
namespace {

// --- Decimal digits ----------------------------------------------------------------------------

// The 15 significant digits of v > 0 and the power of ten of the first one.
void significantDigits(double v, std::string* digits, int* exponent) {
  char buffer[64];
  std::to_chars_result r =
      std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::scientific, 14);
  std::string all(buffer, r.ptr);
  size_t e = all.find('e');
  *digits = all.substr(0, 1) + all.substr(2, e - 2);
  const char* first = all.data() + e + 1;
  if (*first == '+') ++first;
  int value = 0;
  std::from_chars(first, all.data() + all.size(), value);
  *exponent = value;
}

// Adds one to a string of decimal digits.
void increment(std::string& n) {
  for (size_t i = n.size(); i-- > 0;) {
    if (n[i] != '9') {
      ++n[i];
      return;
    }
    n[i] = '0';
  }
  n.insert(n.begin(), '1');
}

// The number 0.digits x 10^pointPosition rounded half away from zero to `decimals` places
// (negative: to tens, hundreds, ...): the whole part's digits without leading zeros ("" for
// zero) and exactly max(decimals, 0) fraction digits.
void roundDigits(const std::string& digits, int pointPosition, int decimals, std::string* whole,
                 std::string* fraction) {
  std::string n;  // the value times 10^decimals, rounded
  const long keep = long(pointPosition) + decimals;
  if (digits.empty() || keep < 0) {
    n = "0";
  } else if (keep == 0) {
    n = digits[0] >= '5' ? "1" : "0";
  } else if (size_t(keep) >= digits.size()) {
    n = digits + std::string(size_t(keep) - digits.size(), '0');
  } else {
    n = digits.substr(0, size_t(keep));
    if (digits[size_t(keep)] >= '5') increment(n);
  }
  if (decimals < 0 && n != "0") n.append(size_t(-decimals), '0');
  const size_t places = decimals > 0 ? size_t(decimals) : 0;
  if (n.size() < places) n.insert(0, places - n.size(), '0');
  *fraction = n.substr(n.size() - places);
  std::string w = n.substr(0, n.size() - places);
  size_t nonZero = w.find_first_not_of('0');
  *whole = nonZero == std::string::npos ? std::string() : w.substr(nonZero);
}

void roundNumber(double v, int decimals, std::string* whole, std::string* fraction) {
  std::string digits;
  int exponent = 0;
  if (v > 0) significantDigits(v, &digits, &exponent);
  roundDigits(digits, exponent + 1, decimals, whole, fraction);
}

std::u16string widen(std::string_view ascii) { return std::u16string(ascii.begin(), ascii.end()); }

char16_t decimalSeparator() { return userLocale().decimalSeparator; }

std::u16string thousandsSeparator() {
  const std::u16string& s = userLocale().monetaryThousandsSeparator;
  return s.empty() ? std::u16string(u",") : s;
}

std::u16string localized(std::string_view ascii) {
  std::u16string text = widen(ascii);
  for (char16_t& u : text) {
    if (u == u'.') u = decimalSeparator();
  }
  return text;
}

std::string groupedDigits(const std::string& whole) {
  std::string out;
  for (size_t i = 0; i < whole.size(); ++i) {
    if (i > 0 && (whole.size() - i) % 3 == 0) out.push_back(',');
    out.push_back(whole[i]);
  }
  return out;
}

// --- Tokens ------------------------------------------------------------------------------------

enum class Kind {
  kLiteral,
  kDigit,     // 0 # ?
  kPoint,     // .
  kComma,     // ,
  kPercent,   // %
  kExponent,  // E+ E-
  kSlash,     // /
  kGeneral,
  kText,  // @
  kYear,
  kMonth,
  kDay,
  kHour,
  kMinute,
  kSecond,
  kSubsecond,
  kAmPm,
  kElapsedHour,
  kElapsedMinute,
  kElapsedSecond,
};

struct Token {
  Token(Kind k, std::u16string t = {}, int c = 1) : kind(k), text(std::move(t)), count(c) {}
  Kind kind;
  std::u16string text;  // literals; the AM and PM texts ("AM|PM", "a|p")
  int count = 1;        // letters of a date code
  char16_t digit = 0;   // the placeholder of a kDigit
  bool plus = false;    // E+ rather than E-
};

enum class Compare { kNone, kLess, kLessEqual, kGreater, kGreaterEqual, kEqual, kNotEqual };

struct Section {
  std::vector<Token> tokens;
  Compare compare = Compare::kNone;
  double bound = 0;
  bool isDate = false;
  bool hasText = false;
  bool hasAmPm = false;
  bool hasCalendar = false;  // a year, month or day: a date rather than a duration
};

bool isDateKind(Kind k) {
  return k == Kind::kYear || k == Kind::kMonth || k == Kind::kDay || k == Kind::kHour ||
         k == Kind::kMinute || k == Kind::kSecond || k == Kind::kAmPm || k == Kind::kElapsedHour ||
         k == Kind::kElapsedMinute || k == Kind::kElapsedSecond;
}

char16_t lower(char16_t u) { return (u >= u'A' && u <= u'Z') ? char16_t(u + 0x20) : u; }

void addLiteral(Section& s, std::u16string_view text) {
  if (!s.tokens.empty() && s.tokens.back().kind == Kind::kLiteral) {
    s.tokens.back().text += text;
  } else {
    s.tokens.push_back({Kind::kLiteral, std::u16string(text)});
  }
}

bool isColourName(std::u16string_view name) {
  static constexpr std::u16string_view kColours[] = {u"black",   u"blue", u"cyan",  u"green",
                                                     u"magenta", u"red",  u"white", u"yellow"};
  for (std::u16string_view c : kColours) {
    if (equalsNoCase(name, c)) return true;
  }
  if (startsWithNoCase(name, u"color") && name.size() > 5) {
    return std::all_of(name.begin() + 5, name.end(), isDigit);
  }
  return false;
}

bool allOf(std::u16string_view text, char16_t letter) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [letter](char16_t u) { return lower(u) == letter; });
}

// Reads a bracketed part (without its brackets) into the section; false when it means nothing.
bool readBracket(std::u16string_view inside, Section& s) {
  if (allOf(inside, u'h')) {
    s.tokens.push_back({Kind::kElapsedHour, {}, int(inside.size())});
  } else if (allOf(inside, u'm')) {
    s.tokens.push_back({Kind::kElapsedMinute, {}, int(inside.size())});
  } else if (allOf(inside, u's')) {
    s.tokens.push_back({Kind::kElapsedSecond, {}, int(inside.size())});
  } else if (!inside.empty() && inside[0] == u'$') {
    // A currency and locale tag: the symbol before the "-" is shown, the locale is not used.
    std::u16string_view symbol = inside.substr(1);
    size_t dash = symbol.find(u'-');
    if (dash != std::u16string_view::npos) symbol = symbol.substr(0, dash);
    if (!symbol.empty()) addLiteral(s, symbol);
  } else if (!inside.empty() && (inside[0] == u'<' || inside[0] == u'>' || inside[0] == u'=')) {
    size_t length = 1;
    if (inside.substr(0, 2) == u"<=") {
      s.compare = Compare::kLessEqual, length = 2;
    } else if (inside.substr(0, 2) == u">=") {
      s.compare = Compare::kGreaterEqual, length = 2;
    } else if (inside.substr(0, 2) == u"<>") {
      s.compare = Compare::kNotEqual, length = 2;
    } else if (inside[0] == u'<') {
      s.compare = Compare::kLess;
    } else if (inside[0] == u'>') {
      s.compare = Compare::kGreater;
    } else {
      s.compare = Compare::kEqual;
    }
    std::string number = toUtf8(trim(inside.substr(length)));
    double bound = 0;
    const char* end = number.data() + number.size();
    std::from_chars_result r = std::from_chars(number.data(), end, bound);
    if (number.empty() || r.ptr != end || r.ec != std::errc()) return false;
    s.bound = bound;
  } else if (!isColourName(inside) && !startsWithNoCase(inside, u"dbnum") &&
             !startsWithNoCase(inside, u"natnum")) {
    return false;
  }
  return true;
}

// Appends what a digit, point, comma, percent, slash or literal token writes as plain characters;
// false for the other tokens.
bool appendPlain(const Token& t, std::u16string* out) {
  switch (t.kind) {
    case Kind::kDigit:
      *out += t.digit;
      return true;
    case Kind::kPoint:
      *out += u'.';
      return true;
    case Kind::kComma:
      *out += u',';
      return true;
    case Kind::kPercent:
      *out += u'%';
      return true;
    case Kind::kSlash:
      *out += u'/';
      return true;
    case Kind::kLiteral:
      *out += t.text;
      return true;
    default:
      return false;
  }
}

// Splits one section into tokens; false on a code that is not a format.
bool tokenize(std::u16string_view code, Section& s) {
  size_t i = 0;
  const size_t n = code.size();
  auto run = [&](char16_t letter) {
    size_t start = i;
    while (i < n && lower(code[i]) == letter) ++i;
    return int(i - start);
  };
  while (i < n) {
    const char16_t u = code[i];
    const char16_t l = lower(u);
    if (u == u'"') {
      size_t close = code.find(u'"', i + 1);
      if (close == std::u16string_view::npos) return false;
      addLiteral(s, code.substr(i + 1, close - i - 1));
      i = close + 1;
    } else if (u == u'\\' || u == u'_' || u == u'*') {
      if (i + 1 >= n) return false;
      // "_x" leaves the width of x blank; "*x" fills the cell with x, which a text has no room
      // for.
      if (u == u'\\') addLiteral(s, code.substr(i + 1, 1));
      if (u == u'_') addLiteral(s, u" ");
      i += 2;
    } else if (u == u'[') {
      size_t close = code.find(u']', i + 1);
      if (close == std::u16string_view::npos) return false;
      if (!readBracket(code.substr(i + 1, close - i - 1), s)) return false;
      i = close + 1;
    } else if (u == u'0' || u == u'#' || u == u'?') {
      Token t{Kind::kDigit};
      t.digit = u;
      s.tokens.push_back(t);
      ++i;
    } else if (u == u'.') {
      s.tokens.push_back({Kind::kPoint});
      ++i;
    } else if (u == u',') {
      s.tokens.push_back({Kind::kComma});
      ++i;
    } else if (u == u'%') {
      s.tokens.push_back({Kind::kPercent});
      ++i;
    } else if (u == u'/') {
      s.tokens.push_back({Kind::kSlash});
      ++i;
    } else if (u == u'@') {
      s.tokens.push_back({Kind::kText});
      s.hasText = true;
      ++i;
    } else if (l == u'e' && i + 1 < n && (code[i + 1] == u'+' || code[i + 1] == u'-')) {
      Token t{Kind::kExponent, std::u16string(1, u)};  // the mark keeps its case
      t.plus = code[i + 1] == u'+';
      s.tokens.push_back(t);
      i += 2;
    } else if (startsWithNoCase(code.substr(i), u"general")) {
      s.tokens.push_back({Kind::kGeneral});
      i += 7;
    } else if (startsWithNoCase(code.substr(i), u"am/pm")) {
      s.tokens.push_back({Kind::kAmPm, u"AM|PM"});
      s.hasAmPm = true;
      i += 5;
    } else if (startsWithNoCase(code.substr(i), u"a/p")) {
      std::u16string text{code[i], u'|', code[i + 2]};
      s.tokens.push_back({Kind::kAmPm, text});
      s.hasAmPm = true;
      i += 3;
    } else if (l == u'y' || l == u'e') {
      // "e" is the year of the era, which in the Gregorian calendar is the year.
      int count = l == u'e' ? (run(u'e'), 4) : run(u'y');
      s.tokens.push_back({Kind::kYear, {}, count});
    } else if (l == u'm') {
      s.tokens.push_back({Kind::kMonth, {}, run(u'm')});
    } else if (l == u'd') {
      s.tokens.push_back({Kind::kDay, {}, run(u'd')});
    } else if (l == u'h') {
      s.tokens.push_back({Kind::kHour, {}, run(u'h')});
    } else if (l == u's') {
      s.tokens.push_back({Kind::kSecond, {}, run(u's')});
    } else if (l == u'b' && i + 1 < n && (code[i + 1] == u'1' || code[i + 1] == u'2')) {
      i += 2;  // the calendar of the dates: only the Gregorian one is kept
    } else {
      addLiteral(s, code.substr(i, 1));
      ++i;
    }
  }
  for (const Token& t : s.tokens) {
    s.isDate = s.isDate || isDateKind(t.kind);
    s.hasCalendar = s.hasCalendar || t.kind == Kind::kYear || t.kind == Kind::kDay ||
                    (t.kind == Kind::kMonth && t.count > 2);
  }
  if (!s.isDate) return true;

  // A date section: "m" next to hours or seconds is minutes, "." with zeros after seconds is a
  // fraction of a second, and the number codes are plain characters.
  std::vector<Token>& tokens = s.tokens;
  auto neighbour = [&](size_t from, int step) -> const Token* {
    for (long k = long(from) + step; k >= 0 && k < long(tokens.size()); k += step) {
      const Token& t = tokens[size_t(k)];
      if (isDateKind(t.kind)) return &t;
    }
    return nullptr;
  };
  for (size_t k = 0; k < tokens.size(); ++k) {
    Token& t = tokens[k];
    if (t.kind != Kind::kMonth || t.count > 2) continue;
    const Token* before = neighbour(k, -1);
    const Token* after = neighbour(k, +1);
    if ((before && (before->kind == Kind::kHour || before->kind == Kind::kElapsedHour ||
                    before->kind == Kind::kSecond || before->kind == Kind::kElapsedSecond)) ||
        (after && (after->kind == Kind::kSecond || after->kind == Kind::kElapsedSecond))) {
      t.kind = Kind::kMinute;
    }
  }
  std::vector<Token> out;
  for (size_t k = 0; k < tokens.size(); ++k) {
    const Token& t = tokens[k];
    if (t.kind == Kind::kPoint && k + 1 < tokens.size() && tokens[k + 1].kind == Kind::kDigit &&
        tokens[k + 1].digit == u'0') {
      const Token* before = neighbour(k, -1);
      if (before && (before->kind == Kind::kSecond || before->kind == Kind::kElapsedSecond)) {
        int count = 0;
        while (k + 1 < tokens.size() && tokens[k + 1].kind == Kind::kDigit &&
               tokens[k + 1].digit == u'0') {
          ++count;
          ++k;
        }
        out.push_back({Kind::kSubsecond, {}, count});
        continue;
      }
    }
    std::u16string plain;
    if (t.kind == Kind::kExponent) {
      plain = t.plus ? u"E+" : u"E-";
    } else if (t.kind == Kind::kGeneral) {
      plain = u"General";
    } else if (!appendPlain(t, &plain)) {
      out.push_back(t);
      continue;
    }
    if (!out.empty() && out.back().kind == Kind::kLiteral) {
      out.back().text += plain;
    } else {
      out.push_back({Kind::kLiteral, plain});
    }
  }
  tokens.swap(out);
  return true;
}

// Splits a code into its sections at the semicolons outside quotes, escapes and brackets.
bool parseFormat(std::u16string_view code, std::vector<Section>* sections) {
  size_t start = 0;
  bool quoted = false;
  for (size_t i = 0; i <= code.size(); ++i) {
    if (i < code.size()) {
      const char16_t u = code[i];
      if (u == u'"') quoted = !quoted;
      if (quoted) continue;
      if (u == u'\\' || u == u'_' || u == u'*') {
        if (++i == code.size()) return false;  // nothing to escape, blank or repeat
        continue;
      }
      if (u == u'[') {
        size_t close = code.find(u']', i);
        if (close == std::u16string_view::npos) return false;
        i = close;
        continue;
      }
      if (u != u';') continue;
    }
    Section s;
    if (!tokenize(code.substr(start, i - start), s)) return false;
    sections->push_back(std::move(s));
    start = i + 1;
  }
  return !quoted && sections->size() <= 4;
}

// --- Numbers -----------------------------------------------------------------------------------

// Fills digit placeholders with a whole number's digits, right-aligned, the surplus in front of
// the first: one text per placeholder.
std::vector<std::u16string> fillWhole(const std::string& whole, const std::vector<char16_t>& kinds,
                                      bool grouping) {
  std::vector<std::u16string> out(kinds.size());
  const std::u16string separator = thousandsSeparator();
  const size_t n = kinds.size();
  auto emit = [&](std::u16string& target, size_t position, char16_t digit) {
    target.push_back(digit);
    if (grouping && position > 0 && position % 3 == 0) target += separator;
  };
  // The surplus: digits whose position from the right is n or more.
  std::u16string surplus;
  for (size_t i = 0; i + n < whole.size(); ++i) emit(surplus, whole.size() - 1 - i, whole[i]);
  for (size_t k = 0; k < n; ++k) {
    const size_t position = n - 1 - k;
    if (position < whole.size()) {
      emit(out[k], position, whole[whole.size() - 1 - position]);
    } else if (kinds[k] == u'0') {
      emit(out[k], position, u'0');
    } else if (kinds[k] == u'?') {
      // A padded place keeps the width of its group separator too, so columns line up.
      out[k] = grouping && position > 0 && position % 3 == 0 ? u"  " : u" ";
    }
  }
  if (n > 0) out[0] = surplus + out[0];
  return out;
}

// Fraction digits for placeholders: trailing zeros of "#" vanish, of "?" become spaces.
std::vector<std::u16string> fillFraction(const std::string& fraction,
                                         const std::vector<char16_t>& kinds) {
  std::vector<std::u16string> out(kinds.size());
  bool trailing = true;
  for (size_t k = kinds.size(); k-- > 0;) {
    const char16_t d = char16_t(fraction[k]);
    if (trailing && d == u'0' && kinds[k] != u'0') {
      out[k] = kinds[k] == u'?' ? u" " : u"";
      continue;
    }
    trailing = false;
    out[k] = std::u16string(1, d);
  }
  return out;
}

// The best fraction num/den of v with den <= maxDenominator (continued fractions, the closer of
// the last convergent and the best semiconvergent).
void bestFraction(double v, int64_t maxDenominator, int64_t* num, int64_t* den) {
  int64_t p0 = 0, q0 = 1, p1 = 1, q1 = 0;
  double x = v;
  for (int step = 0; step < 64; ++step) {
    double a = std::floor(x);
    if (a > 1e15) break;
    const int64_t ai = int64_t(a);
    const int64_t q2 = q0 + ai * q1;
    if (q2 > maxDenominator) {
      const int64_t k = (maxDenominator - q0) / q1;
      const int64_t pk = p0 + k * p1, qk = q0 + k * q1;
      if (std::fabs(v - double(pk) / double(qk)) < std::fabs(v - double(p1) / double(q1))) {
        p1 = pk, q1 = qk;
      }
      break;
    }
    const int64_t p2 = p0 + ai * p1;
    p0 = p1, q0 = q1, p1 = p2, q1 = q2;
    const double rest = x - a;
    if (rest < 1e-12) break;
    x = 1 / rest;
  }
  *num = p1;
  *den = q1;
}

struct NumberLayout {
  std::vector<size_t> wholeAt, fractionAt, exponentAt;  // token positions of the placeholders
  size_t pointAt = SIZE_MAX, exponentMark = SIZE_MAX;
  bool grouping = false;
  int scale = 0;  // commas dividing by 1000
  int percents = 0;
};

NumberLayout layoutOf(const Section& s) {
  NumberLayout layout;
  const std::vector<Token>& tokens = s.tokens;
  for (size_t k = 0; k < tokens.size(); ++k) {
    const Token& t = tokens[k];
    if (t.kind == Kind::kExponent && layout.exponentMark == SIZE_MAX) layout.exponentMark = k;
    if (t.kind == Kind::kPoint && layout.pointAt == SIZE_MAX && layout.exponentMark == SIZE_MAX) {
      layout.pointAt = k;
    }
    if (t.kind == Kind::kPercent) ++layout.percents;
    if (t.kind != Kind::kDigit) continue;
    if (layout.exponentMark != SIZE_MAX) {
      layout.exponentAt.push_back(k);
    } else if (layout.pointAt != SIZE_MAX) {
      layout.fractionAt.push_back(k);
    } else {
      layout.wholeAt.push_back(k);
    }
  }
  const size_t end = std::min(layout.exponentMark, tokens.size());
  for (size_t k = 0; k < end; ++k) {
    if (tokens[k].kind != Kind::kComma) continue;
    size_t before = k, after = k + 1;
    while (before > 0 && tokens[before - 1].kind == Kind::kComma) --before;
    while (after < end && tokens[after].kind == Kind::kComma) ++after;
    const bool digitBefore = before > 0 && tokens[before - 1].kind == Kind::kDigit;
    const bool digitAfter = after < end && tokens[after].kind == Kind::kDigit;
    if (digitBefore && !digitAfter) {
      ++layout.scale;
    } else if (!layout.wholeAt.empty() && k > layout.wholeAt.front() && k < layout.wholeAt.back()) {
      layout.grouping = true;
    }
  }
  return layout;
}

std::vector<char16_t> kindsAt(const Section& s, const std::vector<size_t>& at) {
  std::vector<char16_t> kinds;
  for (size_t k : at) kinds.push_back(s.tokens[k].digit);
  return kinds;
}

// A comma standing before every digit placeholder is a character of its own.
bool isPlainComma(const NumberLayout& layout, size_t k) {
  return layout.wholeAt.empty() || k < layout.wholeAt.front();
}

// Renders a fraction section ("# ?/?", "?/8", "#\:#=/=#"); false when the section has no
// fraction. The numerator is the last run of placeholders before the slash and the denominator
// the first run after it, literals between them and the slash allowed; the placeholders before
// the numerator hold the whole number. What the host program shows, read off its results:
// - A fraction part of zero is left out, or blanked to its width when any placeholder is "?",
//   unless the numerator holds a "0": then it shows as 0/1.
// - A whole part of zero shows nothing through "#" and drops the literal before the numerator
//   (blanked when the whole or the numerator pads with "?"); for the value zero itself, a "?"
//   of the whole part shows the 0.
// - A denominator is aligned on the left: its "0" places pad with zeros in front, its "?" places
//   with spaces after it.
bool renderFraction(const Section& s, double v, std::u16string* out) {
  const std::vector<Token>& tokens = s.tokens;
  const size_t n = tokens.size();
  auto isPlaceholder = [&](size_t k) { return tokens[k].kind == Kind::kDigit; };
  size_t slash = SIZE_MAX;
  bool placeholderBefore = false;
  for (size_t k = 0; k < n && slash == SIZE_MAX; ++k) {
    if (tokens[k].kind == Kind::kSlash && placeholderBefore) slash = k;
    placeholderBefore = placeholderBefore || isPlaceholder(k);
  }
  if (slash == SIZE_MAX) return false;
  // The denominator: placeholders, or a fixed number written right after the slash.
  size_t denominatorStart = slash + 1;
  int64_t fixed = 0;
  if (denominatorStart < n && tokens[denominatorStart].kind == Kind::kLiteral &&
      isDigit(tokens[denominatorStart].text[0])) {
    const std::u16string& text = tokens[denominatorStart].text;
    for (size_t i = 0; i < text.size() && isDigit(text[i]) && i < 9; ++i) {
      fixed = fixed * 10 + (text[i] - u'0');
    }
    if (fixed == 0) return false;
  } else {
    while (denominatorStart < n && tokens[denominatorStart].kind == Kind::kLiteral) {
      ++denominatorStart;
    }
  }
  size_t denominatorEnd = denominatorStart;
  if (fixed > 0) {
    denominatorEnd = denominatorStart + 1;
  } else {
    while (denominatorEnd < n && isPlaceholder(denominatorEnd)) ++denominatorEnd;
    if (denominatorEnd == denominatorStart) return false;
  }
  size_t numeratorEnd = slash;
  while (!isPlaceholder(numeratorEnd - 1)) --numeratorEnd;
  size_t numeratorStart = numeratorEnd;
  while (numeratorStart > 0 && isPlaceholder(numeratorStart - 1)) --numeratorStart;
  std::vector<size_t> numeratorAt, wholeAt, denominatorAt;
  for (size_t k = numeratorStart; k < numeratorEnd; ++k) numeratorAt.push_back(k);
  for (size_t k = 0; k < numeratorStart; ++k) {
    if (isPlaceholder(k)) wholeAt.push_back(k);
  }
  if (fixed == 0) {
    for (size_t k = denominatorStart; k < denominatorEnd; ++k) denominatorAt.push_back(k);
  }
  const std::vector<char16_t> numeratorKinds = kindsAt(s, numeratorAt);
  const std::vector<char16_t> denominatorKinds = kindsAt(s, denominatorAt);
  std::vector<char16_t> wholeKinds = kindsAt(s, wholeAt);

  const bool mixed = !wholeAt.empty();
  double whole = mixed ? std::floor(v) : 0;
  const double part = v - whole;
  int64_t num = 0, den = 1;
  if (fixed > 0) {
    den = fixed;
    num = int64_t(std::floor(part * double(fixed) + 0.5));
  } else {
    int64_t maxDenominator = 1;
    for (size_t k = 0; k < denominatorAt.size() && k < 7; ++k) maxDenominator *= 10;
    bestFraction(part, maxDenominator - 1, &num, &den);
  }
  if (mixed && num == den) {
    whole += 1;
    num = 0;
  }
  if (num == 0 && fixed == 0) den = 1;
  auto has = [](const std::vector<char16_t>& kinds, char16_t kind) {
    return std::find(kinds.begin(), kinds.end(), kind) != kinds.end();
  };
  const bool showFraction = !mixed || num != 0 || has(numeratorKinds, u'0');
  const bool padded =
      has(wholeKinds, u'?') || has(numeratorKinds, u'?') || has(denominatorKinds, u'?');

  std::string wholeDigits, unused;
  roundNumber(whole, 0, &wholeDigits, &unused);
  if (!showFraction && wholeDigits.empty()) wholeDigits = "0";
  if (showFraction && wholeDigits.empty() && num == 0) {
    std::replace(wholeKinds.begin(), wholeKinds.end(), u'?', u'0');
  }
  const std::vector<std::u16string> wholeText =
      fillWhole(wholeDigits, wholeKinds, layoutOf(s).grouping);
  std::u16string wholeShown;
  for (const std::u16string& piece : wholeText) wholeShown += piece;
  const bool wholeHasDigit = std::any_of(wholeShown.begin(), wholeShown.end(), isDigit);
  const bool wholePads = wholeShown.find(u' ') != std::u16string::npos;
  const std::vector<std::u16string> numeratorText =
      fillWhole(num == 0 ? "0" : std::to_string(num), numeratorKinds, false);
  std::u16string denominatorText = widen(std::to_string(den));
  const size_t zeros = size_t(std::count(denominatorKinds.begin(), denominatorKinds.end(), u'0'));
  if (denominatorText.size() < zeros)
    denominatorText.insert(0, zeros - denominatorText.size(), u'0');
  for (size_t k = denominatorText.size(); k < denominatorKinds.size(); ++k) {
    if (denominatorKinds[k] == u'?') denominatorText += u' ';
  }

  const size_t lastWhole = mixed ? wholeAt.back() : SIZE_MAX;
  size_t w = 0, m = 0;
  for (size_t k = 0; k < n; ++k) {
    const Token& t = tokens[k];
    std::u16string piece;
    if (k < numeratorStart && isPlaceholder(k)) {
      piece = wholeText[w++];
    } else if (k >= numeratorStart && k < numeratorEnd) {
      piece = numeratorText[m++];
    } else if (k == slash) {
      piece = u"/";
    } else if (k == denominatorStart) {
      piece = fixed > 0 ? t.text : denominatorText;
    } else if (k > denominatorStart && k < denominatorEnd) {
      // the denominator's text stands at its first place
    } else if (t.kind == Kind::kLiteral) {
      piece = t.text;
    } else if (t.kind == Kind::kPercent) {
      piece = u"%";
    } else if (t.kind == Kind::kPoint) {
      piece = std::u16string(1, decimalSeparator());
    }
    if (mixed && k > lastWhole && k < denominatorEnd) {
      if (!showFraction) {
        // Nothing to show after the whole number: the fraction's place stays blank or goes.
        const size_t width = isPlaceholder(k) ? 1 : t.kind == Kind::kLiteral ? t.text.size() : 1;
        piece = padded ? std::u16string(width, u' ') : u"";
      } else if (k < numeratorStart && !wholeHasDigit) {
        const bool blank = wholePads || numeratorKinds.front() == u'?';
        piece = blank ? std::u16string(piece.size(), u' ') : u"";
      }
    }
    *out += piece;
  }
  return true;
}

// The tokens a number section writes alike with or without an exponent: the point, literals,
// percent and slash signs, "General" and an exponent sign that is no exponent mark.
void renderCommon(const Token& t, size_t k, const NumberLayout& layout, const std::string& whole,
                  double v, std::u16string* out) {
  switch (t.kind) {
    case Kind::kPoint:
      if (k == layout.pointAt) {
        // Without whole placeholders the whole digits stand before the point.
        if (layout.wholeAt.empty()) *out += widen(whole);
        *out += decimalSeparator();
      } else {
        *out += u'.';
      }
      break;
    case Kind::kExponent:
      *out += t.plus ? u"E+" : u"E-";
      break;
    case Kind::kLiteral:
      *out += t.text;
      break;
    case Kind::kPercent:
      *out += u'%';
      break;
    case Kind::kSlash:
      *out += u'/';
      break;
    case Kind::kGeneral:
      *out += generalFormatText(v);
      break;
    default:
      break;
  }
}

// The mantissa and exponent of v for an exponent section.
void renderExponent(const Section& s, const NumberLayout& layout, double v, std::u16string* out) {
  const std::vector<Token>& tokens = s.tokens;
  const int wholeCount = int(layout.wholeAt.size());
  const int places = int(layout.fractionAt.size());
  std::string digits;
  int first = 0;  // power of ten of the first significant digit
  if (v > 0) significantDigits(v, &digits, &first);
  int exponent = 0;
  std::string whole, fraction;
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (v == 0) {
      exponent = 0;
    } else {
      // The exponent steps by the number of whole placeholders, whatever their kind: "##0.0E+0"
      // shows engineering powers, "0000.00E+0" powers of 4 with the whole part zero-padded.
      const int step = std::max(wholeCount, 1);
      exponent = int(std::floor(double(first) / step)) * step;
    }
    roundDigits(digits, first - exponent + 1, places, &whole, &fraction);
    // Rounding up may add a digit (9.99 to 10.0): the next power then.
    const int room = std::max(wholeCount, 1);
    if (v == 0 || int(whole.size()) <= room) break;
    ++first;
    digits = "1";
  }
  // Zero fills every whole place with a digit, "#" and "?" too: "##0.0E+0" shows 000.0E+0.
  if (v == 0) whole = std::string(size_t(wholeCount), '0');
  const std::vector<std::u16string> wholeText =
      fillWhole(whole, kindsAt(s, layout.wholeAt), layout.grouping);
  const std::vector<std::u16string> fractionText =
      fillFraction(fraction, kindsAt(s, layout.fractionAt));
  // The exponent always shows a digit, even through "#".
  std::string exponentDigits = std::to_string(std::abs(exponent));
  const std::vector<std::u16string> exponentText =
      fillWhole(exponentDigits, kindsAt(s, layout.exponentAt), false);
  // The sign belongs to the exponent's digits: with a literal between the mark and them
  // ("E+|0") it is written before the digits.
  std::u16string sign = exponent < 0 ? u"-" : tokens[layout.exponentMark].plus ? u"+" : u"";
  size_t w = 0, f = 0, e = 0;
  for (size_t k = 0; k < tokens.size(); ++k) {
    const Token& t = tokens[k];
    switch (t.kind) {
      case Kind::kDigit:
        if (k > layout.exponentMark) {
          if (e == 0) *out += sign;
          *out += exponentText[e++];
        } else if (layout.pointAt != SIZE_MAX && k > layout.pointAt) {
          *out += fractionText[f++];
        } else {
          *out += wholeText[w++];
        }
        break;
      case Kind::kExponent:
        if (k == layout.exponentMark) {
          *out += t.text;
          if (layout.exponentAt.empty()) *out += sign + widen(exponentDigits);
          break;
        }
        renderCommon(t, k, layout, whole, v, out);
        break;
      default:
        renderCommon(t, k, layout, whole, v, out);
        break;
    }
  }
}

// A number section; v is not negative and has the section's percent and scaling applied later.
void renderNumber(const Section& s, double v, std::u16string* out) {
  NumberLayout layout = layoutOf(s);
  // An exponent takes the place of percent and thousands scaling: "0%E+0" shows 1%E+5 for
  // 123456, the percent sign as a literal.
  if (layout.exponentMark != SIZE_MAX && (!layout.wholeAt.empty() || !layout.fractionAt.empty())) {
    renderExponent(s, layout, v, out);
    return;
  }
  for (int i = 0; i < layout.percents; ++i) v *= 100;
  for (int i = 0; i < layout.scale; ++i) v /= 1000;
  if (renderFraction(s, v, out)) return;
  std::string whole, fraction;
  roundNumber(v, int(layout.fractionAt.size()), &whole, &fraction);
  const std::vector<std::u16string> wholeText =
      fillWhole(whole, kindsAt(s, layout.wholeAt), layout.grouping);
  const std::vector<std::u16string> fractionText =
      fillFraction(fraction, kindsAt(s, layout.fractionAt));
  size_t w = 0, f = 0;
  for (size_t k = 0; k < s.tokens.size(); ++k) {
    const Token& t = s.tokens[k];
    switch (t.kind) {
      case Kind::kDigit:
        if (layout.pointAt != SIZE_MAX && k > layout.pointAt) {
          *out += fractionText[f++];
        } else {
          *out += wholeText[w++];
        }
        break;
      case Kind::kComma:
        if (isPlainComma(layout, k)) *out += u',';
        break;
      case Kind::kText:
        *out += generalFormatText(v);
        break;
      default:
        renderCommon(t, k, layout, whole, v, out);
        break;
    }
  }
}

// --- Dates and times ---------------------------------------------------------------------------

constexpr std::u16string_view kDayNames[] = {u"Sunday",   u"Monday", u"Tuesday", u"Wednesday",
                                             u"Thursday", u"Friday", u"Saturday"};
constexpr std::u16string_view kMonthNames[] = {u"January",   u"February", u"March",    u"April",
                                               u"May",       u"June",     u"July",     u"August",
                                               u"September", u"October",  u"November", u"December"};

std::u16string monthName(int month, bool abbreviated) {
  const UserLocale& locale = userLocale();
  const std::u16string& name = abbreviated ? locale.abbreviatedMonthNames[size_t(month - 1)]
                                           : locale.monthNames[size_t(month - 1)];
  if (!name.empty()) return name;
  std::u16string_view english = kMonthNames[month - 1];
  return std::u16string(abbreviated ? english.substr(0, 3) : english);
}

// The civil date of a day count from 1970-01-01.
void civilFromDays(int64_t z, int* year, int* month, int* day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  *day = int(doy - (153 * mp + 2) / 5 + 1);
  *month = int(mp < 10 ? mp + 3 : mp - 9);
  *year = int(yoe + era * 400 + (*month <= 2 ? 1 : 0));
}

struct DateParts {
  int year = 1900, month = 1, day = 0, weekday = 0;  // weekday 0 Sunday
  int64_t hour = 0, minute = 0, second = 0;
  int64_t totalHours = 0, totalMinutes = 0, totalSeconds = 0;
  int64_t subsecond = 0;  // in units of 10^-precision seconds
  int precision = 0;
};

// Days from 1970-01-01 to 1899-12-31 and to 1904-01-01.
constexpr int64_t kDay1899_12_31 = -25568;
constexpr int64_t kDay1904_01_01 = -24107;

bool dateParts(double v, bool date1904, int precision, DateParts* p) {
  const double maximum = date1904 ? 2957004 : 2958466;  // the day after 9999-12-31
  if (!(v >= 0) || v >= maximum) return false;
  int64_t scale = 1;
  for (int i = 0; i < precision; ++i) scale *= 10;
  const int64_t perDay = 86400 * scale;
  const int64_t units = int64_t(std::floor(v * double(perDay) + 0.5));
  const int64_t days = units / perDay;
  const int64_t inDay = units % perDay;
  p->precision = precision;
  p->subsecond = units % scale;
  p->totalSeconds = units / scale;
  p->totalMinutes = p->totalSeconds / 60;
  p->totalHours = p->totalSeconds / 3600;
  p->hour = inDay / (3600 * scale);
  p->minute = inDay / (60 * scale) % 60;
  p->second = inDay / scale % 60;
  if (date1904) {
    civilFromDays(kDay1904_01_01 + days, &p->year, &p->month, &p->day);
    p->weekday = int((days + 5) % 7);
  } else {
    if (days == 0) {
      p->year = 1900, p->month = 1, p->day = 0;
    } else if (days == 60) {
      p->year = 1900, p->month = 2, p->day = 29;
    } else {
      civilFromDays(kDay1899_12_31 + days - (days > 60 ? 1 : 0), &p->year, &p->month, &p->day);
    }
    p->weekday = int((days + 6) % 7);
  }
  if (units >= int64_t(maximum) * perDay) return false;
  return true;
}

std::u16string padded(int64_t n, int width) {
  std::u16string text = widen(std::to_string(n));
  if (int(text.size()) < width) text.insert(0, size_t(width) - text.size(), u'0');
  return text;
}

bool renderDate(const Section& s, double v, bool date1904, std::u16string* out) {
  int precision = 0;
  for (const Token& t : s.tokens) {
    if (t.kind == Kind::kSubsecond) precision = std::max(precision, std::min(t.count, 3));
  }
  DateParts p;
  if (!dateParts(v, date1904, precision, &p)) return false;
  // Once a unit is counted elapsed, its plain code counts the same total: "[s] ss" shows the
  // total seconds twice.
  bool elapsedHours = false, elapsedMinutes = false, elapsedSeconds = false;
  for (const Token& t : s.tokens) {
    elapsedHours = elapsedHours || t.kind == Kind::kElapsedHour;
    elapsedMinutes = elapsedMinutes || t.kind == Kind::kElapsedMinute;
    elapsedSeconds = elapsedSeconds || t.kind == Kind::kElapsedSecond;
  }
  const int64_t seconds =
      elapsedSeconds && !elapsedHours && !elapsedMinutes ? p.totalSeconds : p.second;
  for (const Token& t : s.tokens) {
    switch (t.kind) {
      case Kind::kLiteral:
        *out += t.text;
        break;
      case Kind::kYear:
        *out += t.count <= 2 ? padded(p.year % 100, 2) : padded(p.year, 4);
        break;
      case Kind::kMonth:
        if (t.count <= 2) {
          *out += padded(p.month, t.count);
        } else if (t.count == 3) {
          *out += monthName(p.month, true);
        } else if (t.count == 5) {
          *out += monthName(p.month, false).substr(0, 1);
        } else {
          *out += monthName(p.month, false);
        }
        break;
      case Kind::kDay:
        if (t.count <= 2) {
          *out += padded(p.day, t.count);
        } else {
          std::u16string_view name = kDayNames[p.weekday];
          *out += t.count == 3 ? name.substr(0, 3) : name;
        }
        break;
      case Kind::kHour: {
        int64_t hour = elapsedHours ? p.totalHours : p.hour;
        if (s.hasAmPm) hour = hour % 12 == 0 ? 12 : hour % 12;
        *out += padded(hour, std::min(t.count, 2));
        break;
      }
      case Kind::kMinute:
        *out += padded(elapsedHours || !elapsedMinutes ? p.minute : p.totalMinutes,
                       std::min(t.count, 2));
        break;
      case Kind::kSecond:
        *out += padded(seconds, std::min(t.count, 2));
        break;
      case Kind::kSubsecond: {
        std::u16string digits = padded(p.subsecond, p.precision);
        digits.resize(size_t(t.count), u'0');
        *out += decimalSeparator();
        *out += digits;
        break;
      }
      case Kind::kAmPm: {
        size_t bar = t.text.find(u'|');
        *out += p.hour < 12 ? t.text.substr(0, bar) : t.text.substr(bar + 1);
        break;
      }
      case Kind::kElapsedHour:
        *out += padded(p.totalHours, t.count);
        break;
      case Kind::kElapsedMinute:
        *out += padded(elapsedHours ? p.minute : p.totalMinutes, t.count);
        break;
      case Kind::kElapsedSecond:
        *out += padded(seconds, t.count);
        break;
      default:
        break;
    }
  }
  return true;
}

// --- Sections ----------------------------------------------------------------------------------

bool satisfies(const Section& s, double x) {
  switch (s.compare) {
    case Compare::kLess:
      return x < s.bound;
    case Compare::kLessEqual:
      return x <= s.bound;
    case Compare::kGreater:
      return x > s.bound;
    case Compare::kGreaterEqual:
      return x >= s.bound;
    case Compare::kEqual:
      return x == s.bound;
    case Compare::kNotEqual:
      return x != s.bound;
    case Compare::kNone:
      return true;
  }
  return true;
}

// A condition that only negative numbers meet shows them without their sign, as the negative
// section does.
bool onlyNegatives(const Section& s) {
  return (s.compare == Compare::kLess && s.bound <= 0) ||
         (s.compare == Compare::kLessEqual && s.bound < 0);
}

bool renderSection(const Section& s, double v, bool date1904, std::u16string* out) {
  if (s.isDate) return renderDate(s, v, date1904, out);
  renderNumber(s, v, out);
  return true;
}

// The number sections of a code and its text section (or null).
void splitSections(std::vector<Section>& all, std::vector<const Section*>* numbers,
                   const Section** text) {
  *text = nullptr;
  if (all.size() == 4) {
    *text = &all[3];
  } else {
    for (const Section& s : all) {
      if (s.hasText) *text = &s;
    }
  }
  for (const Section& s : all) {
    if (&s != *text) numbers->push_back(&s);
  }
}

void renderText(const Section& s, std::u16string_view text, std::u16string* out) {
  for (const Token& t : s.tokens) {
    if (t.kind == Kind::kText) {
      *out += text;
    } else {
      appendPlain(t, out);
    }
  }
}

}  // namespace

std::u16string generalFormatText(double x) {
  if (x == 0 || !std::isfinite(x)) return u"0";
  const std::u16string sign = x < 0 ? u"-" : u"";
  const double v = std::fabs(x);
  std::string digits;
  int exponent = 0;
  significantDigits(v, &digits, &exponent);
  if (exponent >= -9 && exponent <= 10) {
    // As many places as 11 characters hold: "0." and nine digits, or the whole digits, a point
    // and the rest.
    const int places = exponent < 0 ? 9 : std::max(0, 9 - exponent);
    std::string whole, fraction;
    roundDigits(digits, exponent + 1, places, &whole, &fraction);
    while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
    // Below 1e-4 the decimal form would show fewer digits than the exponent form's six; it is
    // kept only when it shows them all.
    const bool loses =
        exponent <= -5 && digits.find_first_not_of('0', size_t(10 + exponent)) != std::string::npos;
    if (whole.size() <= 11 && !loses && !(whole.empty() && fraction.empty())) {
      std::string text = (whole.empty() ? "0" : whole) + (fraction.empty() ? "" : "." + fraction);
      return sign + localized(text);
    }
  }
  char buffer[64];
  const int mantissaPlaces = std::abs(exponent) >= 99 ? 4 : 5;
  std::to_chars_result r = std::to_chars(buffer, buffer + sizeof buffer, v,
                                         std::chars_format::scientific, mantissaPlaces);
  std::string all(buffer, r.ptr);
  size_t e = all.find('e');
  std::string mantissa = all.substr(0, e);
  if (mantissa.find('.') != std::string::npos) {
    while (mantissa.back() == '0') mantissa.pop_back();
    if (mantissa.back() == '.') mantissa.pop_back();
  }
  std::string power = all.substr(e + 2);
  while (power.size() < 2) power.insert(power.begin(), '0');
  return sign + localized(mantissa) + u'E' + char16_t(all[e + 1]) + widen(power);
}

std::u16string fixedNumberText(double x, int decimals, bool grouping, bool* isZero) {
  std::string whole, fraction;
  roundNumber(std::fabs(x), decimals, &whole, &fraction);
  *isZero = whole.empty() && fraction.find_first_not_of('0') == std::string::npos;
  std::string text = whole.empty() ? "0" : (grouping ? groupedDigits(whole) : whole);
  std::u16string out;
  for (char c : text) {
    if (c == ',') {
      out += thousandsSeparator();
    } else {
      out += char16_t(c);
    }
  }
  if (!fraction.empty()) out += decimalSeparator() + widen(fraction);
  return out;
}

bool formatNumber(double x, std::u16string_view format, bool date1904, std::u16string* out) {
  if (!std::isfinite(x)) return false;
  std::vector<Section> all;
  if (!parseFormat(format, &all)) return false;
  std::vector<const Section*> numbers;
  const Section* text = nullptr;
  splitSections(all, &numbers, &text);
  if (x == 0) x = 0;  // no negative zero
  std::u16string result;
  if (numbers.empty() && text == nullptr) return false;
  if (numbers.empty()) {
    // Only a text section: the number stands in for the text, in the General format.
    renderText(*text, generalFormatText(x), &result);
    *out = result;
    return true;
  }
  const Section* chosen = numbers[0];
  bool signed_ = x < 0;
  bool conditions = false;
  for (const Section* s : numbers) conditions = conditions || s->compare != Compare::kNone;
  const size_t n = numbers.size();
  if (conditions) {
    // Without a condition of its own the first section takes the numbers it takes by sign.
    const bool first = numbers[0]->compare != Compare::kNone ? satisfies(*numbers[0], x)
                                                             : (n >= 3 ? x > 0 : x >= 0);
    if (first) {
      chosen = numbers[0];
    } else if (n == 1) {
      // A number the only section's condition refuses is shown as General.
      *out = generalFormatText(x);
      return true;
    } else if (numbers[1]->compare != Compare::kNone) {
      if (satisfies(*numbers[1], x)) {
        chosen = numbers[1];
      } else if (n >= 3) {
        chosen = numbers[2];
      } else {
        return false;
      }
    } else {
      chosen = (n == 2 || x < 0) ? numbers[1] : numbers[2];
    }
    // The second section without a condition is the negative one: it shows no sign.
    signed_ = x < 0 && !onlyNegatives(*chosen) &&
              !(chosen == numbers[1] && chosen->compare == Compare::kNone);
  } else if (n >= 2 && x < 0) {
    chosen = numbers[1];
    signed_ = false;
  } else if (n >= 3 && x == 0) {
    chosen = numbers[2];
  }
  const double v = std::fabs(x);
  if (signed_) {
    // A date shows no sign: negative dates and times of day do not exist, negative durations
    // do.
    bool elapsed = false;
    for (const Token& t : chosen->tokens) {
      elapsed = elapsed || t.kind == Kind::kElapsedHour || t.kind == Kind::kElapsedMinute ||
                t.kind == Kind::kElapsedSecond;
    }
    if (chosen->isDate && (!elapsed || chosen->hasCalendar)) return false;
    result = u"-";
  }
  if (!renderSection(*chosen, v, date1904, &result)) return false;
  *out = result;
  return true;
}

bool formatText(std::u16string_view value, std::u16string_view format, std::u16string* out) {
  std::vector<Section> all;
  if (!parseFormat(format, &all)) return false;
  std::vector<const Section*> numbers;
  const Section* text = nullptr;
  splitSections(all, &numbers, &text);
  std::u16string result;
  if (text == nullptr) {
    result = value;
  } else {
    renderText(*text, value, &result);
  }
  *out = result;
  return true;
}

}  // namespace korvel
