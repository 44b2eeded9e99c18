#include "engine/value_variant.h"

#include <cstdint>
#include <string>

#include "engine/locale_settings.h"
#include "util/text.h"

namespace korvel {
namespace {

// True when the host program, given the text as a cell entry, would read it as a number, a
// formula, a boolean or a prefixed text instead of the text itself.
bool needsTextPrefix(std::u16string_view text) {
  if (text.empty()) return true;
  size_t first = text.find_first_not_of(u' ');
  char16_t unit = first == std::u16string_view::npos ? u' ' : text[first];
  switch (unit) {
    case u'$':
    case u'%':
    case u'\'':
    case u'(':
    case u'+':
    case u'-':
    case u'=':
      return true;
    default:
      break;
  }
  if (isDigit(unit) || unit == userLocale().decimalSeparator) return true;
  if (text.front() == u' ') return false;
  return equalsNoCase(text, literalText(kTextTrue)) || equalsNoCase(text, literalText(kTextFalse));
}

Variant elementToVariant(const Value& value, bool asCellText) {
  return value.hasArray() ? Variant() : toVariant(value, asCellText);
}

Value scalarFromVariant(const Variant& v) {
  switch (v.type()) {
    case VarType::kI1:
    case VarType::kUI1:
    case VarType::kI2:
    case VarType::kUI2:
    case VarType::kI4:
    case VarType::kUI4:
      // VT_UI4 above the 32-bit signed range stays exact as a number.
      return Value::number(double(v.integer()));
    case VarType::kR8:
      return Value::number(v.real());
    case VarType::kBool:
      return Value::boolean(v.boolean());
    case VarType::kBstr:
      return Value::text(v.text());
    case VarType::kError:
      return Value::error(v.errorCode());
    default:
      return Value();
  }
}

}  // namespace

Variant toVariant(const Value& value, bool asCellText) {
  switch (value.kind()) {
    case ValueKind::kEmpty:
    case ValueKind::kReference:
    case ValueKind::kReferenceList:
      return Variant();
    case ValueKind::kInteger:
      return Variant::i4(value.integer());
    case ValueKind::kNumber:
      return Variant::r8(value.number());
    case ValueKind::kBoolean:
      return Variant::boolean(value.boolean());
    case ValueKind::kError:
      return isErrorCode(value.errorCode()) ? Variant::error(value.errorCode()) : Variant();
    case ValueKind::kShortText:
    case ValueKind::kLongText: {
      std::u16string_view text = value.text();
      if (asCellText && needsTextPrefix(text)) return Variant::text(u"'" + std::u16string(text));
      return Variant::text(std::u16string(text));
    }
    case ValueKind::kArray: {
      const ValueArray& a = value.array();
      static const Value kEmpty;
      auto element = [&](uint32_t c, uint32_t r) -> const Value& {
        size_t i = size_t(a.columns()) * r + c;
        return i < a.size() ? a.elements()[i] : kEmpty;
      };
      if (a.rows() > 1) {
        VariantArray out = VariantArray::twoDimensions(a.rows(), a.columns());
        for (uint32_t r = 0; r < a.rows(); ++r) {
          for (uint32_t c = 0; c < a.columns(); ++c) {
            out.at(int32_t(r + 1), int32_t(c + 1)) = elementToVariant(element(c, r), asCellText);
          }
        }
        return Variant::array(std::move(out));
      }
      uint32_t columns = a.rows() == 1 ? a.columns() : 0;
      VariantArray out = VariantArray::oneDimension(columns);
      for (uint32_t c = 0; c < columns; ++c) {
        out.at(int32_t(c + 1)) = elementToVariant(element(c, 0), asCellText);
      }
      return Variant::array(std::move(out));
    }
  }
  return Variant();
}

Value fromVariant(const Variant& variant) {
  if (variant.type() != VarType::kArray) return scalarFromVariant(variant);
  const VariantArray& in = variant.array();
  bool twoDimensions = in.dimensions == 2;
  uint32_t rows = twoDimensions ? in.count[0] : 1;
  uint32_t columns = twoDimensions ? in.count[1] : in.count[0];
  size_t count = size_t(rows) * columns;
  // An array whose element store disagrees with its bounds is read as far as the store goes.
  auto element = [&](size_t i) -> Value {
    if (i >= in.elements.size()) return Value();
    const Variant& e = in.elements[i];
    return e.type() == VarType::kArray ? Value() : scalarFromVariant(e);
  };
  if (count == 1) return element(0);
  Value v;
  if (count == 0) {
    v.setArray(ValueArray());
    return v;
  }
  ValueArray out(columns, rows);
  for (size_t i = 0; i < count; ++i) out.elements()[i] = element(i);
  v.setArray(std::move(out));
  return v;
}

}  // namespace korvel
