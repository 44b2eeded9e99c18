#include "excel/excel_object.h"

#include <cmath>
#include <cstdio>
#include <string>

namespace korvel {

namespace {

std::string describe(int32_t memberId, InvokeKind kind, HResult result) {
  static const char* const kKinds[] = {"", "call", "get", "", "put"};
  char text[96];
  std::snprintf(text, sizeof(text), "%s of member 0x%X failed (0x%08X)",
                kKinds[int(kind) < 5 ? int(kind) : 0], unsigned(memberId), unsigned(result));
  return text;
}

}  // namespace

ExcelObject ExcelObject::of(const Variant& value) {
  return value.type() == VarType::kDispatch ? ExcelObject(value.object()) : ExcelObject();
}

HResult ExcelObject::invoke(int32_t memberId, InvokeKind kind, std::vector<Variant>& arguments,
                            Variant* result, uint32_t locale) {
  if (!object_) return lastResult_ = kEFail;
  lastResult_ = object_->invoke(memberId, kind, arguments, result, locale);
  return lastResult_;
}

Variant ExcelObject::get(int32_t memberId, std::vector<Variant> arguments, uint32_t locale) {
  Variant result;
  HResult hr = invoke(memberId, InvokeKind::kPropertyGet, arguments, &result, locale);
  if (failed(hr)) throw ComError(hr, describe(memberId, InvokeKind::kPropertyGet, hr));
  return result;
}

void ExcelObject::put(int32_t memberId, Variant value, std::vector<Variant> arguments,
                      uint32_t locale) {
  // The value of a property write travels as the last argument.
  arguments.push_back(std::move(value));
  HResult hr = invoke(memberId, InvokeKind::kPropertyPut, arguments, nullptr, locale);
  if (failed(hr)) throw ComError(hr, describe(memberId, InvokeKind::kPropertyPut, hr));
}

Variant ExcelObject::call(int32_t memberId, std::vector<Variant> arguments, uint32_t locale) {
  Variant result;
  HResult hr = invoke(memberId, InvokeKind::kMethod, arguments, &result, locale);
  if (failed(hr)) throw ComError(hr, describe(memberId, InvokeKind::kMethod, hr));
  return result;
}

ExcelObject ExcelObject::object(int32_t memberId, std::vector<Variant> arguments, uint32_t locale) {
  return of(get(memberId, std::move(arguments), locale));
}

bool ExcelObject::getBool(int32_t memberId, std::vector<Variant> arguments) {
  return variantToBool(get(memberId, std::move(arguments)));
}

int32_t ExcelObject::getInt(int32_t memberId, std::vector<Variant> arguments) {
  return variantToInt(get(memberId, std::move(arguments)));
}

std::u16string ExcelObject::getText(int32_t memberId, std::vector<Variant> arguments) {
  return variantToText(get(memberId, std::move(arguments)));
}

bool variantToBool(const Variant& value) {
  return value.type() == VarType::kBool && value.boolean();
}

int32_t variantToInt(const Variant& value) {
  if (value.isInteger() || value.type() == VarType::kBool) return int32_t(value.integer());
  if (value.type() == VarType::kR8 && std::isfinite(value.real()) &&
      std::fabs(value.real()) < 2147483648.0) {
    return int32_t(value.real());
  }
  if (value.type() == VarType::kBstr) {
    // Leading integer of a text such as "16.0".
    int64_t n = 0;
    size_t i = 0;
    bool negative = !value.text().empty() && value.text()[0] == u'-';
    if (negative) ++i;
    while (i < value.text().size() && value.text()[i] >= u'0' && value.text()[i] <= u'9' &&
           n < 2147483647) {
      n = n * 10 + (value.text()[i++] - u'0');
    }
    return int32_t(negative ? -n : n);
  }
  return 0;
}

double variantToDouble(const Variant& value) {
  if (value.type() == VarType::kR8) return value.real();
  if (value.isInteger() || value.type() == VarType::kBool) return double(value.integer());
  return 0;
}

std::u16string variantToText(const Variant& value) {
  if (value.type() == VarType::kBstr) return value.text();
  if (value.isInteger()) {
    std::string digits = std::to_string(value.integer());
    return std::u16string(digits.begin(), digits.end());
  }
  return {};
}

}  // namespace korvel
