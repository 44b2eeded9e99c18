// The one value type of the engine: the current value of every cell, the cached result of every
// formula node, every argument and result of a worksheet function and every element of an array.
#ifndef KORVEL_ENGINE_VALUE_H_
#define KORVEL_ENGINE_VALUE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "model/cell_ref.h"

namespace korvel {

enum class ValueKind : uint32_t {
  kEmpty = 0,
  kInteger = 1,
  kNumber = 2,
  kShortText = 3,
  kLongText = 4,
  kBoolean = 5,
  kReference = 6,
  kReferenceList = 7,
  kArray = 8,
  kError = 9,
};

// The seven error codes of a worksheet cell: 0x800A07D0 plus the host program's error number.
enum ErrorCode : uint32_t {
  kErrorNull = 0x800A07D0u,
  kErrorDiv0 = 0x800A07D7u,
  kErrorValue = 0x800A07DFu,
  kErrorRef = 0x800A07E7u,
  kErrorName = 0x800A07EDu,
  kErrorNum = 0x800A07F4u,
  kErrorNA = 0x800A07FAu,
};

inline constexpr int kErrorCodeCount = 7;
// The position of a code in the literal text table (0-6), or -1 for any other code.
int errorIndex(uint32_t code);
// REQUIRES: 0 <= index < kErrorCodeCount.
uint32_t errorCodeAt(int index);
inline bool isErrorCode(uint32_t code) { return errorIndex(code) >= 0; }

class ValueArray;

class Value {
 public:
  Value() = default;
  Value(const Value& other);
  Value& operator=(const Value& other);
  Value(Value&& other) noexcept;
  Value& operator=(Value&& other) noexcept;
  ~Value();

  static Value number(double x);
  static Value integer(int32_t i);
  static Value boolean(bool b);
  static Value text(std::u16string_view units);
  static Value error(uint32_t code);
  static Value reference(CellRef first, CellRef last);

  // Each setter first releases what the old kind owned.
  void clear();
  // Whole numbers in the 32-bit signed range become integers, others numbers.
  void setNumber(double x);
  void setInteger(int32_t i);
  void setBoolean(bool b);
  // Up to 4 units short text, longer long text (reusing an owned buffer that is long enough).
  // The units may lie inside this value's own text.
  void setText(std::u16string_view units);
  // A code other than the seven error codes makes the value empty.
  void setError(uint32_t code);
  void setReference(CellRef first, CellRef last);
  // A one-row list of references, in the order of the union's operands.
  void setReferenceList(ValueArray list);
  void setArray(ValueArray array);

  static constexpr size_t kShortTextUnits = 4;

  ValueKind kind() const { return kind_; }
  bool isEmpty() const { return kind_ == ValueKind::kEmpty; }
  bool isNumeric() const { return kind_ == ValueKind::kInteger || kind_ == ValueKind::kNumber; }
  bool isText() const { return kind_ == ValueKind::kShortText || kind_ == ValueKind::kLongText; }
  bool isBoolean() const { return kind_ == ValueKind::kBoolean; }
  bool isError() const { return kind_ == ValueKind::kError; }
  bool isArray() const { return kind_ == ValueKind::kArray; }
  bool isReference() const { return kind_ == ValueKind::kReference; }
  bool isReferenceList() const { return kind_ == ValueKind::kReferenceList; }
  // Kinds 7 and 8, the ones that own a ValueArray.
  bool hasArray() const { return isArray() || isReferenceList(); }

  // REQUIRES for each accessor: a value of the matching kind.
  int32_t integer() const { return payload_.integer; }
  // Integer or number as a double.
  double number() const;
  bool boolean() const { return payload_.integer != 0; }
  uint32_t errorCode() const { return payload_.error; }
  std::u16string_view text() const;
  RangeRef reference() const { return payload_.range; }
  // REQUIRES: hasArray().
  const ValueArray& array() const { return *payload_.array; }
  ValueArray& array() { return *payload_.array; }

 private:
  void release();
  // Takes over the payload of other, which becomes empty. REQUIRES: this value owns nothing.
  void take(Value& other) noexcept;

  ValueKind kind_ = ValueKind::kEmpty;
  union Payload {
    int32_t integer;
    double number;
    struct {
      uint16_t length;
      char16_t units[5];
    } shortText;
    struct {
      uint32_t length;
      uint32_t capacity;
      char16_t* units;  // owned, capacity + 1 units, zero-terminated
    } longText;
    uint32_t error;
    RangeRef range;
    ValueArray* array;  // owned
  } payload_{};
};

// Elements row after row; element (column c, row r) is at columns * r + c.
class ValueArray {
 public:
  // A new list or array constant: 0 columns, 1 row.
  ValueArray() = default;
  ValueArray(uint32_t columns, uint32_t rows);

  uint32_t columns() const { return columns_; }
  uint32_t rows() const { return rows_; }
  size_t size() const { return elements_.size(); }
  // REQUIRES: c < columns(), r < rows().
  Value& at(uint32_t c, uint32_t r) { return elements_[size_t(columns_) * r + c]; }
  const Value& at(uint32_t c, uint32_t r) const { return elements_[size_t(columns_) * r + c]; }
  const std::vector<Value>& elements() const { return elements_; }
  std::vector<Value>& elements() { return elements_; }

  // Widens a one-row array by one element. On an array of more than one row nothing changes and
  // the result is false, so that the element count always matches the dimensions.
  bool appendElement(Value v);
  // Adds a row of the current width (array constants). On an array without elements the row
  // becomes the only row and sets the width. A row of another width changes nothing and gives
  // false.
  bool appendRow(std::vector<Value> row);

  bool operator==(const ValueArray& other) const = delete;

 private:
  uint32_t columns_ = 0;
  uint32_t rows_ = 1;
  std::vector<Value> elements_;
};

}  // namespace korvel

#endif  // KORVEL_ENGINE_VALUE_H_
