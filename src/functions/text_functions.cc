// Text functions: SEARCH, FIND, CONCATENATE, EXACT, CHAR, TEXT, SUBSTITUTE, MID, LEFT, RIGHT,
// REPT, TRIM, PROPER, CODE, LEN, UPPER, LOWER, T, VALUE, REPLACE, and the number conversions
// DEC2HEX and HEX2DEC. Values needed as text are read by toText; TEXT is formatted by the host
// program.
//
// Choices made here:
// - Value-class arguments arrive already read from their cells, so a cell holding an error text
//   reaches a routine as a text. Wherever an error pre-check applies, a direct error text is
//   passed on as the pre-check passes on the cell's, so the answer does not depend on how the
//   evaluator delivered it.
// - CHAR and CODE number characters by the system's 8-bit code page (locale_settings.h), both
//   ways: CHAR(128) is the euro sign of Windows-1252 and CODE of the euro sign is 128, so that
//   CODE(CHAR(n)) is n. A character the code page lacks has CODE 63, the code of "?", as the
//   conversion gives it; this also covers every character from U+0500 on, except the ones the code
//   page holds.
// - SEARCH with a pattern compares the within text's length with the number of characters the
//   pattern must match, not with the pattern's own length: "a*" is found in "a".
// - DEC2HEX takes -2^39 to 2^39 - 1 and gives negative numbers in ten-digit two's complement
//   (places are checked but not applied to them), and HEX2DEC reads every ten-digit text from
//   8000000000 on as negative, so that the two are inverses over their whole range. A 64-bit form
//   would be sixteen digits, which no places admit.
// - REPLACE with a start beyond the old text's length plus 1 gives #VALUE!, the error of every
//   other position out of range.
// - REPT and SUBSTITUTE give #VALUE! for results longer than 32767 units, the longest text a cell
//   holds; without that bound a nested REPT could ask for gigabytes.
// - UPPER, LOWER and PROPER change case by the engine's own table (ASCII, Latin-1, Latin
//   Extended-A, Greek, Cyrillic), the same one SEARCH compares by, so results do not depend on
//   which C library locales the machine has.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/date_text.h"
#include "engine/engine.h"
#include "engine/locale_settings.h"
#include "engine/number_text.h"
#include "engine/value_convert.h"
#include "functions/arguments.h"
#include "functions/native_families.h"
#include "functions/wildcard.h"
#include "model/address.h"
#include "util/text.h"

namespace korvel {
namespace {

constexpr size_t kMaxTextUnits = 32767;

bool isWholeReference(const Value& v) { return v.isReference() || v.isReferenceList(); }

// The shared pre-check, and direct error texts passed on as the pre-check passes on a cell's.
bool precheck(const CallContext& context, const Value* const* arguments, uint32_t mask,
              Value& result) {
  if (errorPrecheck(context, arguments, mask, result)) return true;
  for (size_t i = 0; arguments != nullptr && arguments[i] != nullptr; ++i) {
    if (mask != kAllArguments && (i >= 32 || (mask & argumentBit(int(i))) == 0)) continue;
    const Value& v = *arguments[i];
    if (v.isText() && isErrorText(v.text())) {
      result = v;
      return true;
    }
  }
  return false;
}

// The toText of a value that stands for a text. Errors and error texts are copied to the result;
// references and arrays, which are no single text, give #VALUE!.
bool textOf(const Value* v, std::u16string* out, Value& result) {
  if (v == nullptr) {
    out->clear();
    return true;
  }
  if (isErrorLike(*v)) {
    result = *v;
    return false;
  }
  if (isWholeReference(*v) || v->isArray()) {
    result.setError(kErrorValue);
    return false;
  }
  *out = toText(*v);
  return true;
}

// A number argument truncated toward zero, by the number-from-a-value rule.
bool truncatedNumber(const Value& v, double* out, Value& result) {
  if (!numberFromValue(v, out, result)) return false;
  *out = std::trunc(*out);
  return true;
}

char16_t lowerCase(char16_t u) {
  if (u < 0x80) return (u >= u'A' && u <= u'Z') ? char16_t(u + 0x20) : u;
  if (u >= 0xC0 && u <= 0xDE && u != 0xD7) return char16_t(u + 0x20);
  if (u == 0x178) return 0xFF;
  if (u >= 0x100 && u <= 0x137 && u != 0x130) return char16_t(u | 1);
  if (u >= 0x139 && u <= 0x148) return (u & 1) ? char16_t(u + 1) : u;
  if (u >= 0x14A && u <= 0x177) return char16_t(u | 1);
  if (u >= 0x179 && u <= 0x17E) return (u & 1) ? char16_t(u + 1) : u;
  if (u >= 0x391 && u <= 0x3A9 && u != 0x3A2) return char16_t(u + 0x20);
  if (u == 0x386) return 0x3AC;
  if (u >= 0x388 && u <= 0x38A) return char16_t(u + 0x25);
  if (u == 0x38C) return 0x3CC;
  if (u == 0x38E || u == 0x38F) return char16_t(u + 0x3F);
  if (u >= 0x410 && u <= 0x42F) return char16_t(u + 0x20);
  if (u >= 0x400 && u <= 0x40F) return char16_t(u + 0x50);
  return u;
}

// --- SEARCH and FIND ----------------------------------------------------------------------------

struct PatternToken {
  enum Kind { kLiteral, kAny, kRun } kind;
  char16_t unit;  // upper-cased, for literals
};

std::vector<PatternToken> parsePattern(std::u16string_view pattern) {
  std::vector<PatternToken> tokens;
  for (size_t i = 0; i < pattern.size(); ++i) {
    char16_t u = pattern[i];
    if (u == u'~' && i + 1 < pattern.size()) {
      tokens.push_back({PatternToken::kLiteral, foldCase(pattern[++i])});
    } else if (u == u'*') {
      // Runs of stars match what one star matches.
      if (tokens.empty() || tokens.back().kind != PatternToken::kRun) {
        tokens.push_back({PatternToken::kRun, 0});
      }
    } else if (u == u'?') {
      tokens.push_back({PatternToken::kAny, 0});
    } else {
      tokens.push_back({PatternToken::kLiteral, foldCase(u)});
    }
  }
  return tokens;
}

// The first position from `from` on where the pattern matches the beginning of the rest of the
// text, or npos. One pass over the text: each pattern state keeps the earliest position a match
// through it began at, since two matches in the same state go on alike and the earlier one wins.
size_t findPattern(std::u16string_view text, const std::vector<PatternToken>& tokens, size_t from) {
  constexpr size_t kNone = std::u16string_view::npos;
  const size_t m = tokens.size();
  std::vector<size_t> best(m + 1, kNone), next(m + 1);
  size_t answer = kNone;
  for (size_t i = from;; ++i) {
    if (best[0] == kNone) best[0] = i;
    for (size_t j = 0; j < m; ++j) {
      if (tokens[j].kind == PatternToken::kRun && best[j] < best[j + 1]) best[j + 1] = best[j];
    }
    if (best[m] < answer) answer = best[m];
    if (i == text.size()) break;
    if (answer != kNone) {
      bool earlier = false;
      for (size_t j = 0; j < m; ++j) earlier = earlier || best[j] < answer;
      if (!earlier) break;
    }
    const char16_t unit = foldCase(text[i]);
    std::fill(next.begin(), next.end(), kNone);
    for (size_t j = 0; j < m; ++j) {
      if (best[j] == kNone) continue;
      const PatternToken& token = tokens[j];
      if (token.kind == PatternToken::kRun) {
        next[j] = std::min(next[j], best[j]);
      } else if (token.kind == PatternToken::kAny || token.unit == unit) {
        next[j + 1] = std::min(next[j + 1], best[j]);
      }
    }
    best.swap(next);
  }
  return answer;
}

// The texts and start of SEARCH and FIND; false with the result set when an argument fails.
bool searchArguments(const CallContext& context, const Value* const* arguments,
                     std::u16string* find, std::u16string* within, double* start, Value& result) {
  if (precheck(context, arguments, kAllArguments, result)) return false;
  if (!textOf(argumentAt(arguments, 0), find, result)) return false;
  if (!textOf(argumentAt(arguments, 1), within, result)) return false;
  *start = 1;
  const Value* given = argumentAt(arguments, 2);
  return given == nullptr || truncatedNumber(*given, start, result);
}

void searchFunction(CallContext& context, const Value* const* arguments, Value& result) {
  std::u16string find, within;
  double start = 1;
  if (!searchArguments(context, arguments, &find, &within, &start, result)) return;
  if (start <= 0 || within.empty() || double(within.size()) < start) {
    result.setError(kErrorValue);
    return;
  }
  const size_t from = size_t(start) - 1;
  size_t found = std::u16string::npos;
  if (hasPatternCharacter(find)) {
    std::vector<PatternToken> tokens = parsePattern(find);
    size_t needed = 0;
    for (const PatternToken& token : tokens) needed += token.kind == PatternToken::kRun ? 0 : 1;
    if (within.size() >= needed) found = findPattern(within, tokens, from);
  } else if (within.size() >= find.size()) {
    found = toUpper(within).find(toUpper(find), from);
  }
  if (found == std::u16string::npos) {
    result.setError(kErrorValue);
    return;
  }
  setNumberResult(result, double(found + 1));
}

void findFunction(CallContext& context, const Value* const* arguments, Value& result) {
  std::u16string find, within;
  double start = 1;
  if (!searchArguments(context, arguments, &find, &within, &start, result)) return;
  if (start <= 0 || start > double(within.size()) + 1) {
    result.setError(kErrorValue);
    return;
  }
  size_t found = within.find(find, size_t(start) - 1);
  if (found == std::u16string::npos) {
    result.setError(kErrorValue);
    return;
  }
  setNumberResult(result, double(found + 1));
}

// --- Joining, comparing, characters -----------------------------------------------------------

void concatenateFunction(CallContext& context, const Value* const* arguments, Value& result) {
  if (precheck(context, arguments, kAllArguments, result)) return;
  std::u16string text;
  for (size_t i = 0; i < 255 && arguments[i] != nullptr; ++i) {
    const Value& v = *arguments[i];
    if (v.isEmpty()) continue;
    if (v.isReference()) {
      RangeRef range = normalizeRange(v.reference());
      if (!isValidRange(range) || range.first != range.last) {
        result.setError(kErrorValue);
        return;
      }
      text += toText(cellValueAt(context, range.first));
    } else if (v.isReferenceList()) {
      result.setError(kErrorValue);
      return;
    } else {
      text += toText(v);
    }
  }
  result.setText(text);
}

void exactFunction(CallContext&, const Value* const* arguments, Value& result) {
  const Value* a = argumentAt(arguments, 0);
  const Value* b = argumentAt(arguments, 1);
  if (a == nullptr || b == nullptr) {
    result.setError(kErrorValue);
    return;
  }
  for (const Value* v : {a, b}) {
    if (isErrorLike(*v)) {
      result = *v;
      return;
    }
  }
  if (isWholeReference(*a) || isWholeReference(*b)) {
    result.setError(kErrorValue);
    return;
  }
  if (a->isNumeric() && b->isNumeric()) {
    result.setBoolean(equals(*a, *b));
    return;
  }
  result.setBoolean(toText(*a) == toText(*b));
}

void charFunction(CallContext&, const Value* const* arguments, Value& result) {
  const Value* v = argumentAt(arguments, 0);
  if (v == nullptr || isWholeReference(*v) || v->isArray()) {
    result.setError(kErrorValue);
    return;
  }
  if (v->isError()) {
    result = *v;
    return;
  }
  double x = 0;
  if (numberOrError(*v, &x) != 0 || !(x >= 1 && x < 256)) {
    result.setError(kErrorValue);
    return;
  }
  result.setText(fromSystemCodePage(std::string(1, static_cast<char>(int(x)))));
}

void codeFunction(CallContext&, const Value* const* arguments, Value& result) {
  const Value* v = argumentAt(arguments, 0);
  if (v != nullptr && isErrorLike(*v)) {
    result = *v;
    return;
  }
  if (v == nullptr || v->isEmpty() || isWholeReference(*v) || v->isArray()) {
    result.setError(kErrorValue);
    return;
  }
  const std::u16string text = toText(*v);
  if (text.empty()) {
    result.setError(kErrorValue);
    return;
  }
  // The first character: a surrogate pair is one.
  size_t length = 1;
  if (text[0] >= 0xD800 && text[0] <= 0xDBFF && text.size() > 1 && text[1] >= 0xDC00 &&
      text[1] <= 0xDFFF) {
    length = 2;
  }
  std::u16string_view first(text.data(), length);
  std::string bytes = toSystemCodePage(first);
  int code = bytes.empty() ? 63 : static_cast<unsigned char>(bytes[0]);
  // A best-fit conversion may give a look-alike; only a character the code page holds has a code.
  if (fromSystemCodePage(bytes.substr(0, 1)) != first) code = 63;
  result.setInteger(code);
}

void textFunction(CallContext& context, const Value* const* arguments, Value& result) {
  if (precheck(context, arguments, argumentBit(0), result)) return;
  const Value* format = argumentAt(arguments, 1);
  if (format != nullptr && format->isError()) {
    result = *format;
    return;
  }
  callHostFunction(context, 48, arguments, 2, result);
}

// --- Pieces of texts ----------------------------------------------------------------------------

void substituteFunction(CallContext& context, const Value* const* arguments, Value& result) {
  if (precheck(context, arguments, kAllArguments, result)) return;
  std::u16string text, old, replacement;
  if (!textOf(argumentAt(arguments, 0), &text, result) ||
      !textOf(argumentAt(arguments, 1), &old, result) ||
      !textOf(argumentAt(arguments, 2), &replacement, result)) {
    return;
  }
  double instance = 0;  // 0: every occurrence
  if (const Value* given = argumentAt(arguments, 3)) {
    if (given->isBoolean() || given->isEmpty() || numberOrError(*given, &instance) != 0 ||
        std::trunc(instance) <= 0) {
      result.setError(kErrorValue);
      return;
    }
    instance = std::trunc(instance);
  }
  if (text.empty() || old.empty()) {
    result.setText(text);
    return;
  }
  std::u16string out;
  size_t position = 0;
  double occurrence = 0;
  while (position <= text.size()) {
    size_t found = text.find(old, position);
    if (found == std::u16string::npos) break;
    occurrence += 1;
    out.append(text, position, found - position);
    if (instance == 0 || occurrence == instance) {
      out += replacement;
    } else {
      out += old;
    }
    position = found + old.size();
    if (out.size() > kMaxTextUnits) break;
    if (instance != 0 && occurrence == instance) break;
  }
  if (position < text.size()) out.append(text, position, std::u16string::npos);
  if (out.size() > kMaxTextUnits) {
    result.setError(kErrorValue);
    return;
  }
  result.setText(out);
}

bool isEmptyText(const Value& v) { return v.isEmpty() || (v.isText() && v.text().empty()); }

void midFunction(CallContext&, const Value* const* arguments, Value& result) {
  const Value* text = argumentAt(arguments, 0);
  const Value* start = argumentAt(arguments, 1);
  const Value* count = argumentAt(arguments, 2);
  if (text == nullptr || start == nullptr || count == nullptr) {
    result.setError(kErrorValue);
    return;
  }
  for (const Value* v : {text, start, count}) {
    if (isWholeReference(*v)) {
      result.setError(kErrorValue);
      return;
    }
  }
  if (start->isEmpty()) {
    result.setError(kErrorValue);
    return;
  }
  for (const Value* v : {text, start, count}) {
    if (isErrorLike(*v)) {
      result = *v;
      return;
    }
  }
  if (isEmptyText(*text) || count->isEmpty()) {
    result.setText(u"");
    return;
  }
  if (text->isArray()) {
    result.setError(kErrorValue);
    return;
  }
  double from = 0, length = 0;
  if (!truncatedNumber(*start, &from, result) || !truncatedNumber(*count, &length, result)) return;
  if (from <= 0 || length < 0) {
    result.setError(kErrorValue);
    return;
  }
  std::u16string units = toText(*text);
  if (length == 0 || double(units.size()) < from) {
    result.setText(u"");
    return;
  }
  const size_t n = length < double(units.size()) ? size_t(length) : units.size();
  result.setText(std::u16string_view(units).substr(size_t(from) - 1, n));
}

void leftOrRight(const Value* const* arguments, bool left, Value& result) {
  std::u16string text;
  const Value* given = argumentAt(arguments, 0);
  if (given != nullptr && isErrorLike(*given)) {
    result = *given;
    return;
  }
  double count = 1;
  if (const Value* c = argumentAt(arguments, 1)) {
    if (!truncatedNumber(*c, &count, result)) return;
    if (count < 0) {
      result.setError(kErrorValue);
      return;
    }
  }
  if (!textOf(given, &text, result)) return;
  size_t n = count < double(text.size()) ? size_t(count) : text.size();
  std::u16string_view units(text);
  result.setText(left ? units.substr(0, n) : units.substr(units.size() - n));
}

void leftFunction(CallContext&, const Value* const* arguments, Value& result) {
  leftOrRight(arguments, true, result);
}

void rightFunction(CallContext&, const Value* const* arguments, Value& result) {
  leftOrRight(arguments, false, result);
}

void reptFunction(CallContext&, const Value* const* arguments, Value& result) {
  const Value* text = argumentAt(arguments, 0);
  const Value* count = argumentAt(arguments, 1);
  if (text == nullptr || count == nullptr || isWholeReference(*text) || isWholeReference(*count)) {
    result.setError(kErrorValue);
    return;
  }
  for (const Value* v : {text, count}) {
    if (isErrorLike(*v)) {
      result = *v;
      return;
    }
  }
  if (isEmptyText(*text) || count->isEmpty()) {
    result.setText(u"");
    return;
  }
  double times = 0;
  std::u16string unit;
  if (!truncatedNumber(*count, &times, result) || !textOf(text, &unit, result)) return;
  if (times < 0 || times > 32767 || double(unit.size()) * times > double(kMaxTextUnits)) {
    result.setError(kErrorValue);
    return;
  }
  std::u16string out;
  out.reserve(unit.size() * size_t(times));
  for (size_t i = 0; i < size_t(times); ++i) out += unit;
  result.setText(out);
}

void trimFunction(CallContext&, const Value* const* arguments, Value& result) {
  std::u16string text;
  if (!textOf(argumentAt(arguments, 0), &text, result)) return;
  std::u16string out;
  bool pendingSpace = false;
  for (char16_t u : text) {
    if (u == u' ') {
      pendingSpace = !out.empty();
      continue;
    }
    if (pendingSpace) out.push_back(u' ');
    pendingSpace = false;
    out.push_back(u);
  }
  result.setText(out);
}

void properFunction(CallContext&, const Value* const* arguments, Value& result) {
  std::u16string text;
  if (!textOf(argumentAt(arguments, 0), &text, result)) return;
  bool afterLetter = false;
  for (char16_t& u : text) {
    u = afterLetter ? lowerCase(u) : foldCase(u);
    afterLetter = isLetter(u);
  }
  result.setText(text);
}

void lenFunction(CallContext&, const Value* const* arguments, Value& result) {
  std::u16string text;
  if (!textOf(argumentAt(arguments, 0), &text, result)) return;
  setNumberResult(result, double(text.size()));
}

void upperFunction(CallContext&, const Value* const* arguments, Value& result) {
  std::u16string text;
  if (!textOf(argumentAt(arguments, 0), &text, result)) return;
  result.setText(toUpper(text));
}

void lowerFunction(CallContext&, const Value* const* arguments, Value& result) {
  std::u16string text;
  if (!textOf(argumentAt(arguments, 0), &text, result)) return;
  for (char16_t& u : text) u = lowerCase(u);
  result.setText(text);
}

void tFunction(CallContext& context, const Value* const* arguments, Value& result) {
  const Value* v = argumentAt(arguments, 0);
  if (v != nullptr && v->isReference()) {
    RangeRef range = normalizeRange(v->reference());
    if (!isValidRange(range)) {
      result.setError(kErrorRef);
      return;
    }
    if (range.first == range.last) v = &cellValueAt(context, range.first);
  }
  if (v != nullptr && (isErrorLike(*v) || v->isText())) {
    result = *v;
    return;
  }
  result.setText(u"");
}

void valueFunction(CallContext& context, const Value* const* arguments, Value& result) {
  if (precheck(context, arguments, kAllArguments, result)) return;
  const Value* v = argumentAt(arguments, 0);
  if (v == nullptr || v->isEmpty()) {
    result.setInteger(0);
    return;
  }
  if (v->isNumeric()) {
    setNumberResult(result, v->number());
    return;
  }
  double x = 0;
  const bool date1904 = context.engine != nullptr && context.engine->date1904;
  if (v->isText() &&
      (dateTimeTextToNumber(v->text(), date1904, &x) || textToNumber(v->text(), &x))) {
    setNumberResult(result, x);
    return;
  }
  result.setError(kErrorValue);
}

void replaceFunction(CallContext&, const Value* const* arguments, Value& result) {
  static const Value kMissing;
  const Value* given[4];
  for (size_t i = 0; i < 4; ++i) {
    const Value* v = argumentAt(arguments, i);
    given[i] = v != nullptr ? v : &kMissing;
  }
  const Value& old = *given[0];
  const Value& start = *given[1];
  const Value& count = *given[2];
  if (old.isReferenceList() ||
      (old.isReference() &&
       normalizeRange(old.reference()).first != normalizeRange(old.reference()).last) ||
      isWholeReference(start) || start.isEmpty()) {
    result.setError(kErrorValue);
    return;
  }
  for (const Value* v : given) {
    if (isErrorLike(*v)) {
      result = *v;
      return;
    }
  }
  double from = 0, length = 0;
  if (!truncatedNumber(start, &from, result)) return;
  if (!count.isEmpty() && !truncatedNumber(count, &length, result)) return;
  std::u16string oldText, newText;
  if (!textOf(&old, &oldText, result) || !textOf(given[3], &newText, result)) return;
  if (from <= 0 || length < 0 || (!oldText.empty() && from > double(oldText.size()) + 1)) {
    result.setError(kErrorValue);
    return;
  }
  if (oldText.empty()) {
    result.setText(newText);
    return;
  }
  const size_t at = size_t(from) - 1;
  // from is at most the length plus 1 here, so at never passes the end.
  const size_t removed = size_t(std::min(double(oldText.size() - at), length));
  result.setText(oldText.replace(at, removed, newText));
}

// --- Hexadecimal --------------------------------------------------------------------------------

// The value of a reference-class argument: a single cell read, other references #VALUE!.
bool referencedValue(const CallContext& context, const Value* v, const Value** out, Value& result) {
  if (v->isReference()) {
    RangeRef range = normalizeRange(v->reference());
    if (!isValidRange(range)) {
      result.setError(kErrorRef);
      return false;
    }
    if (range.first != range.last) {
      result.setError(kErrorValue);
      return false;
    }
    v = &cellValueAt(context, range.first);
  } else if (v->isReferenceList()) {
    result.setError(kErrorValue);
    return false;
  }
  if (isErrorLike(*v)) {
    result = *v;
    return false;
  }
  *out = v;
  return true;
}

constexpr int64_t kTenDigitRange = int64_t{1} << 40;

void dec2hexFunction(CallContext& context, const Value* const* arguments, Value& result) {
  const Value* given = argumentAt(arguments, 0);
  if (given == nullptr) {
    result.setError(kErrorNA);
    return;
  }
  if (precheck(context, arguments, kAllArguments, result)) return;
  const Value* v = nullptr;
  if (!referencedValue(context, given, &v, result)) return;
  if (!v->isEmpty() && !v->isNumeric()) {
    result.setError(kErrorValue);
    return;
  }
  const double x = v->isEmpty() ? 0 : std::trunc(v->number());
  // Ten hexadecimal digits in two's complement hold -2^39 to 2^39 - 1; every number in that
  // span has its digits, none outside it.
  if (x < -double(kTenDigitRange / 2) || x > double(kTenDigitRange / 2 - 1)) {
    result.setError(kErrorNum);
    return;
  }
  const int64_t n = int64_t(x);
  static const char16_t kDigits[] = u"0123456789ABCDEF";
  std::u16string digits;
  for (uint64_t u = uint64_t(n < 0 ? kTenDigitRange + n : n); u != 0 || digits.empty(); u >>= 4) {
    digits.insert(digits.begin(), kDigits[u & 0xF]);
  }
  const Value* places = argumentAt(arguments, 1);
  if (places != nullptr && n >= 0) {
    if (!places->isEmpty() && !places->isNumeric()) {
      result.setError(kErrorValue);
      return;
    }
    const double p = places->isEmpty() ? 0 : std::trunc(places->number());
    if (p < double(digits.size()) || p > 10) {
      result.setError(kErrorNum);
      return;
    }
    digits.insert(0, size_t(p) - digits.size(), u'0');
  } else if (places != nullptr && !places->isEmpty() && !places->isNumeric()) {
    result.setError(kErrorValue);
    return;
  } else if (places != nullptr) {
    // A negative number always shows ten digits, but its places must still be sensible.
    const double p = places->isEmpty() ? 0 : std::trunc(places->number());
    if (p < 1 || p > 10) {
      result.setError(kErrorNum);
      return;
    }
  }
  if (digits.size() > 10) {
    result.setError(kErrorNum);
    return;
  }
  result.setText(digits);
}

int hexDigit(char16_t u) {
  if (u >= u'0' && u <= u'9') return u - u'0';
  if (u >= u'A' && u <= u'F') return u - u'A' + 10;
  if (u >= u'a' && u <= u'f') return u - u'a' + 10;
  return -1;
}

void hex2decFunction(CallContext& context, const Value* const* arguments, Value& result) {
  const Value* given = argumentAt(arguments, 0);
  if (given == nullptr) {
    result.setError(kErrorNA);
    return;
  }
  if (precheck(context, arguments, kAllArguments, result)) return;
  const Value* v = nullptr;
  if (!referencedValue(context, given, &v, result)) return;
  std::u16string digits;
  if (v->isEmpty() || v->isNumeric()) {
    const double x = v->isEmpty() ? 0 : v->number();
    if (x < 0 || x != std::trunc(x)) {
      result.setError(kErrorNum);
      return;
    }
    // Beyond ten decimal digits the text would be too long anyway.
    if (x >= 1e10) {
      result.setError(kErrorNum);
      return;
    }
    for (int64_t n = int64_t(x); n != 0 || digits.empty(); n /= 10) {
      digits.insert(digits.begin(), char16_t(u'0' + n % 10));
    }
  } else if (v->isText()) {
    digits = v->text();
  } else {
    result.setError(kErrorValue);
    return;
  }
  if (digits.size() > 10) {
    result.setError(kErrorNum);
    return;
  }
  int64_t n = 0;
  for (char16_t u : digits) {
    int d = hexDigit(u);
    if (d < 0) {
      result.setError(kErrorNum);
      return;
    }
    n = n * 16 + d;
  }
  if (digits.size() == 10 && n >= kTenDigitRange / 2) n -= kTenDigitRange;
  setNumberResult(result, double(n));
}

constexpr NativeEntry kTextFunctions[] = {
    {u"CHAR", charFunction},
    {u"CODE", codeFunction},
    {u"CONCATENATE", concatenateFunction},
    {u"DEC2HEX", dec2hexFunction},
    {u"EXACT", exactFunction},
    {u"FIND", findFunction},
    {u"HEX2DEC", hex2decFunction},
    {u"LEFT", leftFunction},
    {u"LEN", lenFunction},
    {u"LOWER", lowerFunction},
    {u"MID", midFunction},
    {u"PROPER", properFunction},
    {u"REPLACE", replaceFunction},
    {u"REPT", reptFunction},
    {u"RIGHT", rightFunction},
    {u"SEARCH", searchFunction},
    {u"SUBSTITUTE", substituteFunction},
    {u"T", tFunction},
    {u"TEXT", textFunction},
    {u"TRIM", trimFunction},
    {u"UPPER", upperFunction},
    {u"VALUE", valueFunction},
};

}  // namespace

NativeTable textFunctions() { return kTextFunctions; }

}  // namespace korvel
