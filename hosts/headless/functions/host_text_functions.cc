// The text functions the headless program computes: TEXT with the program's number formats
// (number_format.h), DOLLAR and FIXED, NUMBERVALUE, CLEAN, UNICHAR, UNICODE and ENCODEURL.
//
// Rules matched here:
// - TEXT reads a text that stands for a number or a date as that number ("12" with "0.00" is
//   "12.00"); other texts and the logical values go through the format's text section, or stay
//   as they are. An empty cell is 0. A format the program does not understand, or a date it
//   cannot show, gives #VALUE!.
// - DOLLAR and FIXED round first, so a number rounding to zero has no sign. Places are truncated;
//   more than 127 give #VALUE!, negative places round to tens, hundreds, ...
// - NUMBERVALUE drops every space, ignores group separators before the decimal separator (after
//   it they give #VALUE!), divides by 100 for each "%" at the end.
// - CLEAN removes the 7-bit control characters (0-31) only.
// - UNICHAR gives #N/A for the surrogate halves, #VALUE! outside 1..0x10FFFF.
// - Results longer than 32767 units, the longest text a cell holds, give #VALUE!.
#include <charconv>
#include <cmath>
#include <string>

#include "engine/date_text.h"
#include "engine/engine.h"
#include "engine/locale_settings.h"
#include "engine/number_text.h"
#include "engine/value_convert.h"
#include "functions/arguments.h"
#include "hosts/headless/functions/host_functions.h"
#include "hosts/headless/functions/number_format.h"
#include "util/text.h"

namespace korvel {
namespace {

constexpr size_t kMaxTextUnits = 32767;

// The value of an argument, a single-cell reference read; false with the result set when it is
// an error (passed on) or no single value (#VALUE!).
bool valueArgument(const CallContext& context, const Value* given, Value* out, Value& result) {
  if (given == nullptr) {
    out->clear();
    return true;
  }
  *out = dereferenced(context, *given);
  if (isErrorLike(*out)) {
    result = *out;
    return false;
  }
  if (out->isReference() || out->isReferenceList() || out->isArray()) {
    result.setError(kErrorValue);
    return false;
  }
  return true;
}

bool textArgument(const CallContext& context, const Value* given, std::u16string* out,
                  Value& result) {
  Value v;
  if (!valueArgument(context, given, &v, result)) return false;
  *out = toText(v);
  return true;
}

bool numberArgument(const CallContext& context, const Value* given, double* out, Value& result) {
  Value v;
  if (!valueArgument(context, given, &v, result)) return false;
  return numberFromValue(v, out, result);
}

void setTextResult(Value& result, const std::u16string& text) {
  if (text.size() > kMaxTextUnits) {
    result.setError(kErrorValue);
  } else {
    result.setText(text);
  }
}

bool date1904Of(const CallContext& context) {
  return context.engine != nullptr && context.engine->date1904;
}

void textFunction(CallContext& context, const Value* const* arguments, Value& result) {
  Value v;
  std::u16string format;
  if (!valueArgument(context, argumentAt(arguments, 0), &v, result) ||
      !textArgument(context, argumentAt(arguments, 1), &format, result)) {
    return;
  }
  const bool date1904 = date1904Of(context);
  std::u16string text;
  bool ok = false;
  double x = 0;
  if (v.isEmpty() || v.isNumeric()) {
    ok = formatNumber(v.isEmpty() ? 0 : v.number(), format, date1904, &text);
  } else if (v.isText() &&
             (textToNumber(v.text(), &x) || dateTimeTextToNumber(v.text(), date1904, &x))) {
    ok = formatNumber(x, format, date1904, &text);
  } else {
    ok = formatText(toText(v), format, &text);
  }
  if (!ok) {
    result.setError(kErrorValue);
    return;
  }
  setTextResult(result, text);
}

// The places of DOLLAR and FIXED: truncated, at most 127; false with #VALUE! beyond.
bool placesArgument(const CallContext& context, const Value* given, int* places, Value& result) {
  if (given == nullptr) {
    *places = 2;
    return true;
  }
  double p = 0;
  if (!numberArgument(context, given, &p, result)) return false;
  p = std::trunc(p);
  if (p > 127) {
    result.setError(kErrorValue);
    return false;
  }
  // Far left of any number's digits every number rounds to zero alike.
  *places = p < -400 ? -400 : int(p);
  return true;
}

void dollarFunction(CallContext& context, const Value* const* arguments, Value& result) {
  double x = 0;
  int places = 2;
  if (!numberArgument(context, argumentAt(arguments, 0), &x, result) ||
      !placesArgument(context, argumentAt(arguments, 1), &places, result)) {
    return;
  }
  bool zero = false;
  const std::u16string digits = fixedNumberText(x, places, true, &zero);
  const UserLocale& locale = userLocale();
  std::u16string text;
  switch (locale.currencyPosition) {
    case 1:
      text = digits + locale.currencySymbol;
      break;
    case 2:
      text = locale.currencySymbol + u" " + digits;
      break;
    case 3:
      text = digits + u" " + locale.currencySymbol;
      break;
    default:
      text = locale.currencySymbol + digits;
      break;
  }
  // Negative amounts in parentheses, as the program's currency format shows them.
  if (x < 0 && !zero) text = u"(" + text + u")";
  setTextResult(result, text);
}

void fixedFunction(CallContext& context, const Value* const* arguments, Value& result) {
  double x = 0;
  int places = 2;
  if (!numberArgument(context, argumentAt(arguments, 0), &x, result) ||
      !placesArgument(context, argumentAt(arguments, 1), &places, result)) {
    return;
  }
  bool noCommas = false;
  if (const Value* given = argumentAt(arguments, 2)) {
    Value v;
    if (!valueArgument(context, given, &v, result)) return;
    double flag = 0;
    if (v.isText() && equalsNoCase(v.text(), literalText(kTextTrue))) {
      flag = 1;
    } else if (!(v.isText() && equalsNoCase(v.text(), literalText(kTextFalse))) &&
               !numberFromValue(v, &flag, result)) {
      return;
    }
    noCommas = flag != 0;
  }
  bool zero = false;
  std::u16string text = fixedNumberText(x, places, !noCommas, &zero);
  if (x < 0 && !zero) text.insert(0, 1, u'-');
  setTextResult(result, text);
}

// The first unit of a separator argument, or the locale's when it is missing.
bool separatorArgument(const CallContext& context, const Value* given, char16_t fallback,
                       char16_t* out, bool* none, Value& result) {
  *none = false;
  if (given == nullptr) {
    *out = fallback;
    return true;
  }
  std::u16string text;
  if (!textArgument(context, given, &text, result)) return false;
  if (text.empty()) {
    *none = true;
    *out = 0;
    return true;
  }
  *out = text[0];
  return true;
}

void numberValueFunction(CallContext& context, const Value* const* arguments, Value& result) {
  Value v;
  if (!valueArgument(context, argumentAt(arguments, 0), &v, result)) return;
  const UserLocale& locale = userLocale();
  const char16_t localeGroup =
      locale.monetaryThousandsSeparator.empty() ? u',' : locale.monetaryThousandsSeparator[0];
  char16_t decimal = 0, group = 0;
  bool noDecimal = false, noGroup = false;
  if (!separatorArgument(context, argumentAt(arguments, 1), locale.decimalSeparator, &decimal,
                         &noDecimal, result) ||
      !separatorArgument(context, argumentAt(arguments, 2), localeGroup, &group, &noGroup,
                         result)) {
    return;
  }
  if (noDecimal || (!noGroup && group == decimal)) {
    result.setError(kErrorValue);
    return;
  }
  if (v.isNumeric()) {
    setNumberResult(result, v.number());
    return;
  }
  const std::u16string text = toText(v);
  std::string ascii;
  bool seenDecimal = false, seenExponent = false, seenDigit = false;
  int percents = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t u = text[i];
    if (u == u' ' || u == u'\t' || u == u'\n' || u == u'\r') continue;
    if (percents > 0 && u != u'%') {
      result.setError(kErrorValue);
      return;
    }
    if (u == u'%') {
      ++percents;
    } else if (!seenExponent && u == decimal) {
      if (seenDecimal) {
        result.setError(kErrorValue);
        return;
      }
      seenDecimal = true;
      ascii.push_back('.');
    } else if (!noGroup && u == group && !seenExponent) {
      if (seenDecimal) {
        result.setError(kErrorValue);
        return;
      }
    } else if (isDigit(u)) {
      ascii.push_back(char(u));
      seenDigit = true;
    } else if ((u == u'+' || u == u'-') && (ascii.empty() || ascii.back() == 'e')) {
      if (u == u'-') ascii.push_back('-');
    } else if ((u == u'e' || u == u'E') && seenDigit && !seenExponent) {
      seenExponent = true;
      ascii.push_back('e');
    } else {
      result.setError(kErrorValue);
      return;
    }
  }
  if (ascii.empty() || ascii == ".") {
    // Nothing but spaces (or nothing) is zero.
    if (ascii.empty() && percents == 0) {
      result.setInteger(0);
    } else {
      result.setError(kErrorValue);
    }
    return;
  }
  if (ascii.front() == '.') ascii.insert(ascii.begin(), '0');
  if (ascii.size() >= 2 && ascii[0] == '-' && ascii[1] == '.') ascii.insert(1, "0");
  double x = 0;
  const char* end = ascii.data() + ascii.size();
  std::from_chars_result r = std::from_chars(ascii.data(), end, x);
  if (r.ptr != end || r.ec != std::errc() || !std::isfinite(x)) {
    result.setError(r.ec == std::errc::result_out_of_range ? kErrorNum : kErrorValue);
    return;
  }
  for (int i = 0; i < percents; ++i) x /= 100;
  setNumberResult(result, x);
}

void cleanFunction(CallContext& context, const Value* const* arguments, Value& result) {
  std::u16string text;
  if (!textArgument(context, argumentAt(arguments, 0), &text, result)) return;
  std::u16string out;
  for (char16_t u : text) {
    if (u >= 32) out.push_back(u);
  }
  result.setText(out);
}

void unicharFunction(CallContext& context, const Value* const* arguments, Value& result) {
  double x = 0;
  if (!numberArgument(context, argumentAt(arguments, 0), &x, result)) return;
  x = std::trunc(x);
  if (!(x >= 1 && x <= 0x10FFFF)) {
    result.setError(kErrorValue);
    return;
  }
  const uint32_t code = uint32_t(x);
  if (code >= 0xD800 && code <= 0xDFFF) {
    result.setError(kErrorNA);
    return;
  }
  std::u16string text;
  if (code < 0x10000) {
    text.push_back(char16_t(code));
  } else {
    text.push_back(char16_t(0xD800 + ((code - 0x10000) >> 10)));
    text.push_back(char16_t(0xDC00 + ((code - 0x10000) & 0x3FF)));
  }
  result.setText(text);
}

void unicodeFunction(CallContext& context, const Value* const* arguments, Value& result) {
  std::u16string text;
  if (!textArgument(context, argumentAt(arguments, 0), &text, result)) return;
  if (text.empty()) {
    result.setError(kErrorValue);
    return;
  }
  uint32_t code = text[0];
  if (code >= 0xD800 && code <= 0xDBFF && text.size() > 1 && text[1] >= 0xDC00 &&
      text[1] <= 0xDFFF) {
    code = 0x10000 + ((code - 0xD800) << 10) + (text[1] - 0xDC00);
  }
  result.setInteger(int32_t(code));
}

void encodeUrlFunction(CallContext& context, const Value* const* arguments, Value& result) {
  std::u16string text;
  if (!textArgument(context, argumentAt(arguments, 0), &text, result)) return;
  static const char kHex[] = "0123456789ABCDEF";
  std::u16string out;
  // Only the unreserved characters of a URI stay as they are; every other byte of the UTF-8
  // form is written as %XX.
  for (unsigned char byte : toUtf8(text)) {
    if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
        (byte >= '0' && byte <= '9') || byte == '-' || byte == '_' || byte == '.' || byte == '~') {
      out.push_back(char16_t(byte));
    } else {
      out.push_back(u'%');
      out.push_back(char16_t(kHex[byte >> 4]));
      out.push_back(char16_t(kHex[byte & 0xF]));
    }
  }
  setTextResult(result, out);
}

constexpr NativeEntry kHostTextFunctions[] = {
    {u"CLEAN", cleanFunction},
    {u"DOLLAR", dollarFunction},
    {u"ENCODEURL", encodeUrlFunction},
    {u"FIXED", fixedFunction},
    {u"NUMBERVALUE", numberValueFunction},
    {u"TEXT", textFunction},
    {u"UNICHAR", unicharFunction},
    {u"UNICODE", unicodeFunction},
};

}  // namespace

NativeTable hostTextFunctions() { return kHostTextFunctions; }

}  // namespace korvel
