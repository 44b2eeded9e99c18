// The portable form of the automation VARIANT that the runtime exchanges with the host program:
// the type numbers are the automation ones, so an adapter maps them one to one.
#ifndef KORVEL_PLATFORM_VARIANT_H_
#define KORVEL_PLATFORM_VARIANT_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace korvel {

class Dispatch;
class Variant;

enum class VarType : uint16_t {
  kEmpty = 0,
  kNull = 1,
  kI2 = 2,
  kI4 = 3,
  kR8 = 5,
  kBstr = 8,
  kDispatch = 9,
  kError = 10,
  kBool = 11,
  kI1 = 16,
  kUI1 = 17,
  kUI2 = 18,
  kUI4 = 19,
  kArray = 0x200C,  // array of variants
};

// The error code of an omitted optional argument.
inline constexpr uint32_t kParamNotFound = 0x80020004u;

// A one- or two-dimensional array of variants with a lower bound per dimension. Dimension 0 is
// the first index (rows of a range), dimension 1 the second (columns).
struct VariantArray {
  int dimensions = 1;
  int32_t lower[2] = {0, 0};
  uint32_t count[2] = {0, 1};
  std::vector<Variant>
      elements;  // first index major: (i, j) at (i - lower0) * count1 + (j - lower1)

  static VariantArray oneDimension(uint32_t n, int32_t lowerBound = 1);
  static VariantArray twoDimensions(uint32_t rows, uint32_t columns, int32_t lowerBound = 1);
  // REQUIRES: the indexes lie inside the bounds.
  Variant& at(int32_t i, int32_t j = 0);
  const Variant& at(int32_t i, int32_t j = 0) const;
};

class Variant {
 public:
  Variant() = default;
  Variant(const Variant& other);
  Variant& operator=(const Variant& other);
  Variant(Variant&&) noexcept = default;
  Variant& operator=(Variant&&) noexcept = default;
  ~Variant();

  static Variant null();
  static Variant i1(int8_t v);
  static Variant ui1(uint8_t v);
  static Variant i2(int16_t v);
  static Variant ui2(uint16_t v);
  static Variant i4(int32_t v);
  static Variant ui4(uint32_t v);
  static Variant r8(double v);
  static Variant boolean(bool v);
  static Variant text(std::u16string v);
  static Variant error(uint32_t code);
  static Variant missing() { return error(kParamNotFound); }
  static Variant dispatch(std::shared_ptr<Dispatch> object);
  static Variant array(VariantArray a);

  VarType type() const { return type_; }
  bool isEmpty() const { return type_ == VarType::kEmpty; }
  bool isMissing() const { return type_ == VarType::kError && error_ == kParamNotFound; }
  // Any of the integer types, widened.
  bool isInteger() const;
  int64_t integer() const { return integer_; }
  double real() const { return real_; }
  // VARIANT_BOOL semantics: true is stored as -1.
  bool boolean() const { return integer_ != 0; }
  uint32_t errorCode() const { return error_; }
  const std::u16string& text() const { return text_; }
  const std::shared_ptr<Dispatch>& object() const { return object_; }
  // REQUIRES: type() == kArray.
  const VariantArray& array() const { return *array_; }
  VariantArray& array() { return *array_; }

  bool operator==(const Variant& other) const;

 private:
  static Variant integerOf(VarType type, int64_t v);

  VarType type_ = VarType::kEmpty;
  int64_t integer_ = 0;
  double real_ = 0;
  uint32_t error_ = 0;
  std::u16string text_;
  std::shared_ptr<Dispatch> object_;
  std::unique_ptr<VariantArray> array_;
};

}  // namespace korvel

#endif  // KORVEL_PLATFORM_VARIANT_H_
