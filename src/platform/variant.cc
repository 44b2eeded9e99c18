#include "platform/variant.h"

namespace korvel {

VariantArray VariantArray::oneDimension(uint32_t n, int32_t lowerBound) {
  VariantArray a;
  a.dimensions = 1;
  a.lower[0] = lowerBound;
  a.count[0] = n;
  a.count[1] = 1;
  a.elements.resize(n);
  return a;
}

VariantArray VariantArray::twoDimensions(uint32_t rows, uint32_t columns, int32_t lowerBound) {
  VariantArray a;
  a.dimensions = 2;
  a.lower[0] = a.lower[1] = lowerBound;
  a.count[0] = rows;
  a.count[1] = columns;
  a.elements.resize(size_t(rows) * columns);
  return a;
}

Variant& VariantArray::at(int32_t i, int32_t j) {
  return elements[size_t(i - lower[0]) * count[1] + size_t(dimensions == 2 ? j - lower[1] : 0)];
}

const Variant& VariantArray::at(int32_t i, int32_t j) const {
  return const_cast<VariantArray*>(this)->at(i, j);
}

Variant::Variant(const Variant& other)
    : type_(other.type_),
      integer_(other.integer_),
      real_(other.real_),
      error_(other.error_),
      text_(other.text_),
      object_(other.object_),
      array_(other.array_ ? std::make_unique<VariantArray>(*other.array_) : nullptr) {}

Variant& Variant::operator=(const Variant& other) {
  if (this != &other) *this = Variant(other);
  return *this;
}

Variant::~Variant() = default;

Variant Variant::null() {
  Variant v;
  v.type_ = VarType::kNull;
  return v;
}
Variant Variant::i1(int8_t v) { return integerOf(VarType::kI1, v); }
Variant Variant::ui1(uint8_t v) { return integerOf(VarType::kUI1, v); }
Variant Variant::i2(int16_t v) { return integerOf(VarType::kI2, v); }
Variant Variant::ui2(uint16_t v) { return integerOf(VarType::kUI2, v); }
Variant Variant::i4(int32_t v) { return integerOf(VarType::kI4, v); }
Variant Variant::ui4(uint32_t v) { return integerOf(VarType::kUI4, v); }
Variant Variant::boolean(bool v) { return integerOf(VarType::kBool, v ? -1 : 0); }

Variant Variant::r8(double v) {
  Variant r;
  r.type_ = VarType::kR8;
  r.real_ = v;
  return r;
}

Variant Variant::text(std::u16string v) {
  Variant r;
  r.type_ = VarType::kBstr;
  r.text_ = std::move(v);
  return r;
}

Variant Variant::error(uint32_t code) {
  Variant r;
  r.type_ = VarType::kError;
  r.error_ = code;
  return r;
}

Variant Variant::dispatch(std::shared_ptr<Dispatch> object) {
  Variant r;
  r.type_ = VarType::kDispatch;
  r.object_ = std::move(object);
  return r;
}

Variant Variant::array(VariantArray a) {
  Variant r;
  r.type_ = VarType::kArray;
  r.array_ = std::make_unique<VariantArray>(std::move(a));
  return r;
}

bool Variant::isInteger() const {
  switch (type_) {
    case VarType::kI1:
    case VarType::kUI1:
    case VarType::kI2:
    case VarType::kUI2:
    case VarType::kI4:
    case VarType::kUI4:
      return true;
    default:
      return false;
  }
}

bool Variant::operator==(const Variant& o) const {
  if (type_ != o.type_) return false;
  switch (type_) {
    case VarType::kR8:
      return real_ == o.real_;
    case VarType::kBstr:
      return text_ == o.text_;
    case VarType::kError:
      return error_ == o.error_;
    case VarType::kDispatch:
      return object_ == o.object_;
    case VarType::kArray: {
      const auto& a = *array_;
      const auto& b = *o.array_;
      return a.dimensions == b.dimensions && a.lower[0] == b.lower[0] && a.lower[1] == b.lower[1] &&
             a.count[0] == b.count[0] && a.count[1] == b.count[1] && a.elements == b.elements;
    }
    default:
      return integer_ == o.integer_;
  }
}

Variant Variant::integerOf(VarType type, int64_t v) {
  Variant r;
  r.type_ = type;
  r.integer_ = v;
  return r;
}

}  // namespace korvel
