#include "engine/value.h"

#include <cmath>
#include <cstring>
#include <utility>

namespace korvel {
namespace {

constexpr uint32_t kErrorCodes[kErrorCodeCount] = {kErrorNull, kErrorDiv0, kErrorValue, kErrorRef,
                                                   kErrorName, kErrorNum,  kErrorNA};

}  // namespace

int errorIndex(uint32_t code) {
  for (int i = 0; i < kErrorCodeCount; ++i) {
    if (kErrorCodes[i] == code) return i;
  }
  return -1;
}

uint32_t errorCodeAt(int index) { return kErrorCodes[index]; }

Value::Value(const Value& other) : kind_(other.kind_), payload_(other.payload_) {
  switch (kind_) {
    case ValueKind::kLongText: {
      // A copy needs only room for the text itself, not the spare capacity of the original.
      uint32_t length = other.payload_.longText.length;
      payload_.longText.units = new char16_t[size_t(length) + 1];
      payload_.longText.capacity = length;
      std::memcpy(payload_.longText.units, other.payload_.longText.units,
                  (size_t(length) + 1) * sizeof(char16_t));
      break;
    }
    case ValueKind::kReferenceList:
    case ValueKind::kArray:
      payload_.array = new ValueArray(*other.payload_.array);
      break;
    default:
      break;
  }
}

Value& Value::operator=(const Value& other) {
  // Copy first: other may be an element of this value's own array.
  if (this != &other) {
    Value copy(other);
    release();
    take(copy);
  }
  return *this;
}

Value::Value(Value&& other) noexcept { take(other); }

Value& Value::operator=(Value&& other) noexcept {
  if (this != &other) {
    // Detach other before releasing: it may live inside this value's own array.
    Value moved(std::move(other));
    release();
    take(moved);
  }
  return *this;
}

Value::~Value() { release(); }

void Value::take(Value& other) noexcept {
  kind_ = other.kind_;
  payload_ = other.payload_;
  other.kind_ = ValueKind::kEmpty;
  other.payload_ = Payload{};
}

void Value::release() {
  switch (kind_) {
    case ValueKind::kLongText:
      delete[] payload_.longText.units;
      break;
    case ValueKind::kReferenceList:
    case ValueKind::kArray:
      delete payload_.array;
      break;
    default:
      break;
  }
  kind_ = ValueKind::kEmpty;
  payload_ = Payload{};
}

Value Value::number(double x) {
  Value v;
  v.setNumber(x);
  return v;
}

Value Value::integer(int32_t i) {
  Value v;
  v.setInteger(i);
  return v;
}

Value Value::boolean(bool b) {
  Value v;
  v.setBoolean(b);
  return v;
}

Value Value::text(std::u16string_view units) {
  Value v;
  v.setText(units);
  return v;
}

Value Value::error(uint32_t code) {
  Value v;
  v.setError(code);
  return v;
}

Value Value::reference(CellRef first, CellRef last) {
  Value v;
  v.setReference(first, last);
  return v;
}

void Value::clear() { release(); }

void Value::setNumber(double x) {
  // -2147483648 is the one whole number of the range whose negation is outside it, so the test is
  // on the range itself rather than on the magnitude.
  if (x >= -2147483648.0 && x <= 2147483647.0 && std::trunc(x) == x) {
    setInteger(int32_t(x));
    return;
  }
  release();
  kind_ = ValueKind::kNumber;
  payload_.number = x;
}

void Value::setInteger(int32_t i) {
  release();
  kind_ = ValueKind::kInteger;
  payload_.integer = i;
}

void Value::setBoolean(bool b) {
  release();
  kind_ = ValueKind::kBoolean;
  payload_.integer = b ? 1 : 0;
}

void Value::setText(std::u16string_view units) {
  size_t length = units.size();
  if (length <= kShortTextUnits) {
    // Copy out before releasing: the units may lie in this value's own buffer.
    char16_t copy[kShortTextUnits + 1] = {};
    if (length) std::memmove(copy, units.data(), length * sizeof(char16_t));
    release();
    kind_ = ValueKind::kShortText;
    payload_.shortText.length = uint16_t(length);
    std::memcpy(payload_.shortText.units, copy, sizeof(copy));
    return;
  }
  if (kind_ == ValueKind::kLongText && payload_.longText.capacity >= length) {
    // memmove: the units may overlap the buffer they are written to.
    std::memmove(payload_.longText.units, units.data(), length * sizeof(char16_t));
    payload_.longText.units[length] = 0;
    payload_.longText.length = uint32_t(length);
    return;
  }
  char16_t* buffer = new char16_t[length + 1];
  std::memcpy(buffer, units.data(), length * sizeof(char16_t));
  buffer[length] = 0;
  release();
  kind_ = ValueKind::kLongText;
  payload_.longText.length = uint32_t(length);
  payload_.longText.capacity = uint32_t(length);
  payload_.longText.units = buffer;
}

void Value::setError(uint32_t code) {
  release();
  if (!isErrorCode(code)) return;
  kind_ = ValueKind::kError;
  payload_.error = code;
}

void Value::setReference(CellRef first, CellRef last) {
  release();
  kind_ = ValueKind::kReference;
  payload_.range = RangeRef{first, last};
}

void Value::setReferenceList(ValueArray list) {
  ValueArray* owned = new ValueArray(std::move(list));
  release();
  kind_ = ValueKind::kReferenceList;
  payload_.array = owned;
}

void Value::setArray(ValueArray array) {
  ValueArray* owned = new ValueArray(std::move(array));
  release();
  kind_ = ValueKind::kArray;
  payload_.array = owned;
}

double Value::number() const {
  return kind_ == ValueKind::kInteger ? double(payload_.integer) : payload_.number;
}

std::u16string_view Value::text() const {
  if (kind_ == ValueKind::kShortText) {
    return std::u16string_view(payload_.shortText.units, payload_.shortText.length);
  }
  if (kind_ == ValueKind::kLongText) {
    return std::u16string_view(payload_.longText.units, payload_.longText.length);
  }
  return {};
}

ValueArray::ValueArray(uint32_t columns, uint32_t rows)
    : columns_(columns), rows_(rows), elements_(size_t(columns) * rows) {}

bool ValueArray::appendElement(Value v) {
  if (elements_.empty()) {
    columns_ = 0;
    rows_ = 1;
  } else if (rows_ != 1) {
    return false;
  }
  elements_.push_back(std::move(v));
  ++columns_;
  return true;
}

bool ValueArray::appendRow(std::vector<Value> row) {
  if (elements_.empty()) {
    columns_ = uint32_t(row.size());
    rows_ = 1;
    elements_ = std::move(row);
    return true;
  }
  if (row.size() != columns_) return false;
  elements_.reserve(elements_.size() + row.size());
  for (Value& v : row) elements_.push_back(std::move(v));
  ++rows_;
  return true;
}

}  // namespace korvel
