// Helpers shared by the value tests.
#ifndef KORVEL_TESTS_ENGINE_VALUE_TEST_SUPPORT_H_
#define KORVEL_TESTS_ENGINE_VALUE_TEST_SUPPORT_H_

#include <initializer_list>
#include <utility>

#include "engine/value.h"

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

}  // namespace korvel

#endif  // KORVEL_TESTS_ENGINE_VALUE_TEST_SUPPORT_H_
