// Helpers shared by the value tests.
#ifndef KORVEL_TESTS_ENGINE_VALUE_TEST_SUPPORT_H_
#define KORVEL_TESTS_ENGINE_VALUE_TEST_SUPPORT_H_

#include <initializer_list>
#include <string>
#include <utility>

#include "engine/value.h"
#include "engine/value_convert.h"
#include "model/address.h"
#include "util/text.h"

namespace korvel {

// An array value of the given size, elements row after row.
inline Value arrayOf(uint32_t columns, uint32_t rows, std::initializer_list<Value> elements) {
  ValueArray a(columns, rows);
  size_t i = 0;
  for (const Value& e : elements) a.elements()[i++] = e;
  Value v;
  v.setArray(std::move(a));
  return v;
}

// "i:2", "n:2.5", "t:abc", "b:TRUE", "e:#N/A", "a:{1,2}", "r:A1:B2", "l2" (a reference list of
// two), "-" (empty): kind and display text in one, so that table rows stay readable.
inline std::string show(const Value& v) {
  switch (v.kind()) {
    case ValueKind::kEmpty:
      return "-";
    case ValueKind::kInteger:
      return "i:" + toUtf8(toText(v));
    case ValueKind::kNumber:
      return "n:" + toUtf8(toText(v));
    case ValueKind::kShortText:
    case ValueKind::kLongText:
      return "t:" + toUtf8(v.text());
    case ValueKind::kBoolean:
      return "b:" + toUtf8(toText(v));
    case ValueKind::kError:
      return "e:" + toUtf8(toText(v));
    case ValueKind::kArray:
      return "a:" + toUtf8(toText(v));
    case ValueKind::kReference:
      return "r:" + toUtf8(rangeText(v.reference()));
    case ValueKind::kReferenceList:
      return "l" + std::to_string(v.array().size());
  }
  return "?";
}

}  // namespace korvel

#endif  // KORVEL_TESTS_ENGINE_VALUE_TEST_SUPPORT_H_
