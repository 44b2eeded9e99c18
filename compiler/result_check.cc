#include "compiler/result_check.h"

#include <algorithm>
#include <cmath>

#include "engine/value_convert.h"

namespace korvel {
namespace {

bool isTextValue(const Value& v) {
  return v.kind() == ValueKind::kShortText || v.kind() == ValueKind::kLongText;
}

bool isNumberValue(const Value& v) {
  return v.kind() == ValueKind::kInteger || v.kind() == ValueKind::kNumber;
}

}  // namespace

bool resultsMatch(const Value& expected, const Value& got, double relativeTolerance) {
  if (got.isArray()) {
    if (got.array().size() == 0) return false;
    return resultsMatch(expected, got.array().at(0, 0), relativeTolerance);
  }
  if (isNumberValue(expected)) {
    double a = 0, b = 0;
    if (got.kind() == ValueKind::kEmpty) {
      b = 0;
    } else if (!isNumberValue(got) || !toNumber(got, &b)) {
      return false;
    }
    toNumber(expected, &a);
    if (std::isnan(a) || std::isnan(b)) return false;
    double difference = std::fabs(a - b);
    if (difference <= kCheckAbsoluteTolerance) return true;
    return difference <= relativeTolerance * std::max(std::fabs(a), std::fabs(b));
  }
  if (isTextValue(expected)) {
    if (got.kind() == ValueKind::kEmpty) return expected.text().empty();
    return isTextValue(got) && expected.text() == got.text();
  }
  switch (expected.kind()) {
    case ValueKind::kBoolean:
      return got.isBoolean() && got.boolean() == expected.boolean();
    case ValueKind::kError:
      return got.isError() && got.errorCode() == expected.errorCode();
    case ValueKind::kEmpty:
      return got.kind() == ValueKind::kEmpty || (isTextValue(got) && got.text().empty());
    default:
      return false;
  }
}

}  // namespace korvel
