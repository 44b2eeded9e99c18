#include "engine/value_convert.h"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "engine/date_text.h"
#include "engine/locale_settings.h"
#include "engine/number_text.h"
#include "util/text.h"

namespace korvel {
namespace {

// Relative differences at or below this are equal; at or above the second, different.
constexpr double kEqualRatio = 1e-15;
constexpr double kDifferentRatio = 1.19e-15;

std::u16string integerText(int32_t i) {
  std::u16string out;
  int64_t n = i;
  bool negative = n < 0;
  if (negative) n = -n;
  do {
    out.push_back(char16_t(u'0' + n % 10));
    n /= 10;
  } while (n);
  if (negative) out.push_back(u'-');
  std::reverse(out.begin(), out.end());
  return out;
}

// Round half away from zero at the 15th decimal place. Beyond 1e15 a double has no fraction
// digits left to round, and scaling it could overflow.
double roundTo15Places(double x) {
  if (!(std::fabs(x) < 1e15)) return x;
  return std::round(x * 1e15) / 1e15;
}

bool isMark(char16_t unit) { return unit == u'-' || unit == u'\''; }

int sign(int r) { return r < 0 ? -1 : (r > 0 ? 1 : 0); }

// Order of the kinds when two values of different kinds meet in an ordering.
int kindRank(const Value& v) {
  switch (v.kind()) {
    case ValueKind::kEmpty:
      return 0;
    case ValueKind::kInteger:
    case ValueKind::kNumber:
      return 1;
    case ValueKind::kShortText:
    case ValueKind::kLongText:
      return 2;
    case ValueKind::kBoolean:
      return 3;
    case ValueKind::kReference:
    case ValueKind::kReferenceList:
      return 4;
    case ValueKind::kArray:
      return 5;
    case ValueKind::kError:
      return 6;
  }
  return 0;
}

// The value an ordering sees for an array: its first element, an empty array counting as empty.
const Value& orderingOperand(const Value& v) {
  static const Value kEmpty;
  const Value* p = &v;
  while (p->isArray()) {
    const ValueArray& a = p->array();
    if (a.size() == 0) return kEmpty;
    p = &a.elements().front();
  }
  return *p;
}

}  // namespace

std::u16string toText(const Value& value) {
  switch (value.kind()) {
    case ValueKind::kEmpty:
      return {};
    case ValueKind::kInteger:
      return integerText(value.integer());
    case ValueKind::kNumber:
      return numberToText(value.number());
    case ValueKind::kShortText:
    case ValueKind::kLongText:
      return std::u16string(value.text());
    case ValueKind::kBoolean:
      return literalText(value.boolean() ? kTextTrue : kTextFalse);
    case ValueKind::kReference:
    case ValueKind::kReferenceList:
      return literalText(kTextValue);
    case ValueKind::kArray: {
      const ValueArray& a = value.array();
      std::u16string out = u"{";
      for (uint32_t r = 0; r < a.rows(); ++r) {
        if (r) out += u';';
        for (uint32_t c = 0; c < a.columns(); ++c) {
          if (c) out += userLocale().listSeparator;
          const Value& e = a.at(c, r);
          if (e.isText()) {
            out += u'"';
            out += e.text();
            out += u'"';
          } else {
            out += toText(e);
          }
        }
      }
      out += u'}';
      return out;
    }
    case ValueKind::kError:
      return errorText(value.errorCode());
  }
  return {};
}

bool toNumber(const Value& value, double* out) {
  switch (value.kind()) {
    case ValueKind::kEmpty:
      *out = 0;
      return true;
    case ValueKind::kInteger:
    case ValueKind::kNumber:
      *out = value.number();
      return true;
    case ValueKind::kBoolean:
      *out = value.boolean() ? 1 : 0;
      return true;
    case ValueKind::kShortText:
    case ValueKind::kLongText: {
      double x = 0;
      if (!textToNumber(value.text(), &x)) return false;
      *out = x;
      return true;
    }
    default:
      return false;
  }
}

bool toNumberForOperator(const Value& value, bool date1904, double* out) {
  if (toNumber(value, out)) return true;
  if (!value.isText()) return false;
  double x = 0;
  if (!dateTimeTextToNumber(value.text(), date1904, &x)) return false;
  *out = x;
  return true;
}

bool toBoolean(const Value& value) {
  switch (value.kind()) {
    case ValueKind::kInteger:
      return value.integer() != 0;
    case ValueKind::kNumber:
      return value.number() != 0;
    case ValueKind::kBoolean:
      return value.boolean();
    case ValueKind::kShortText:
    case ValueKind::kLongText:
      return equalsNoCase(value.text(), literalText(kTextTrue));
    case ValueKind::kArray: {
      const ValueArray& a = value.array();
      return a.size() > 0 && toBoolean(a.elements().front());
    }
    default:
      return false;
  }
}

bool isErrorText(std::u16string_view text) { return errorFromText(text) != 0; }

uint32_t errorFromText(std::u16string_view text) {
  if (text.empty() || text.front() != u'#') return 0;
  for (int i = 0; i < kErrorCodeCount; ++i) {
    if (literalText(i) == text) return errorCodeAt(i);
  }
  return 0;
}

const std::u16string& errorText(uint32_t code) {
  static const std::u16string kNone;
  int index = errorIndex(code);
  return index < 0 ? kNone : literalText(index);
}

bool numbersEqual(double a, double b) {
  if (a == b) return true;
  if (std::isnan(a) || std::isnan(b)) return false;
  if ((a < 0) != (b < 0)) return false;
  // Relative to the larger magnitude, so that two negative numbers are measured like their
  // positive counterparts.
  double r = std::fabs(a - b) / std::max(std::fabs(a), std::fabs(b));
  if (std::isnan(r)) return false;  // an infinity against a finite number
  if (r <= kEqualRatio) return true;
  if (r >= kDifferentRatio) return false;
  // In the narrow band between, small numbers count as different: their last digits carry
  // meaning in the host program's comparison.
  double m = std::fabs(a);
  return !(m < 0.07 && std::log10(m) < -1.2);
}

bool numberGreater(double a, double b) {
  double q = (a == 0 || b == 0) ? 1 : std::fabs((a - b) / std::max(a, b));
  if (q < kDifferentRatio) {
    if (numbersEqual(roundTo15Places(a), roundTo15Places(b))) return false;
  } else if (numbersEqual(a, b)) {
    return false;
  }
  return a > b;
}

int compareTexts(std::u16string_view a, std::u16string_view b) {
  if (a.empty() || b.empty()) return a.empty() ? (b.empty() ? 0 : -1) : 1;
  bool marks = std::any_of(a.begin(), a.end(), isMark) || std::any_of(b.begin(), b.end(), isMark);
  if (!marks) return sign(collateNoCase(a, b));
  // Marks at the same place in both texts drop out alike, so removing them everywhere skips them
  // exactly where the texts differ.
  std::u16string strippedA, strippedB;
  std::copy_if(a.begin(), a.end(), std::back_inserter(strippedA),
               [](char16_t u) { return !isMark(u); });
  std::copy_if(b.begin(), b.end(), std::back_inserter(strippedB),
               [](char16_t u) { return !isMark(u); });
  if (int r = collateNoCase(strippedA, strippedB)) return sign(r);
  size_t marksA = a.size() - strippedA.size();
  size_t marksB = b.size() - strippedB.size();
  if (marksA != marksB) return marksA < marksB ? -1 : 1;
  return sign(collateNoCase(a, b));
}

bool equals(const Value& a, const Value& b) {
  if (a.isNumeric() && b.isNumeric()) {
    if (a.kind() == ValueKind::kInteger && b.kind() == ValueKind::kInteger) {
      return a.integer() == b.integer();
    }
    return numbersEqual(a.number(), b.number());
  }
  if (a.isText() && b.isText()) {
    return a.text().size() == b.text().size() && equalsNoCase(a.text(), b.text());
  }
  if (a.isEmpty() || b.isEmpty()) {
    const Value& other = a.isEmpty() ? b : a;
    if (other.isEmpty()) return true;
    if (other.isNumeric()) return other.number() == 0;
    if (other.isText()) return other.text().empty();
    if (other.isBoolean()) return !other.boolean();
    return false;
  }
  if (a.isBoolean() && b.isBoolean()) return a.boolean() == b.boolean();
  if (a.isError() && b.isError()) return a.errorCode() == b.errorCode();
  if (a.isArray() && b.isArray()) {
    const ValueArray& x = a.array();
    const ValueArray& y = b.array();
    if (x.columns() != y.columns() || x.rows() != y.rows() || x.size() != y.size()) return false;
    for (size_t i = 0; i < x.size(); ++i) {
      if (!equals(x.elements()[i], y.elements()[i])) return false;
    }
    return true;
  }
  return false;
}

bool notEqual(const Value& a, const Value& b) { return !equals(a, b); }

bool greater(const Value& left, const Value& right) {
  const Value& a = orderingOperand(left);
  const Value& b = orderingOperand(right);
  if (a.isNumeric() && b.isNumeric()) {
    if (a.kind() == ValueKind::kInteger && b.kind() == ValueKind::kInteger) {
      return a.integer() > b.integer();
    }
    return numberGreater(a.number(), b.number());
  }
  if (a.isText() && b.isText()) return compareTexts(a.text(), b.text()) > 0;
  if (a.isBoolean() && b.isBoolean()) return a.boolean() && !b.boolean();
  if (a.isEmpty()) return b.isNumeric() && b.number() < 0;
  if (b.isEmpty()) {
    if (a.isNumeric()) return a.number() > 0;
    if (a.isText()) return !a.text().empty();
    if (a.isBoolean()) return a.boolean();
    return true;  // references and errors order after everything
  }
  return kindRank(a) > kindRank(b);
}

bool less(const Value& a, const Value& b) { return greater(b, a); }

bool greaterOrEqual(const Value& a, const Value& b) { return greater(a, b) || equals(a, b); }

bool lessOrEqual(const Value& a, const Value& b) { return greater(b, a) || equals(a, b); }

}  // namespace korvel
