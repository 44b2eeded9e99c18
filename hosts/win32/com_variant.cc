// Automation VARIANTs and the portable Variant, and interface identifiers as texts.
#include <ole2.h>

#include <cstring>

#include "hosts/win32/com_bridge.h"

namespace korvel::win32 {

namespace {

HRESULT arrayToCom(const VariantArray& in, VARIANT* out) {
  int dimensions = in.dimensions == 2 ? 2 : 1;
  SAFEARRAYBOUND bounds[2];
  for (int d = 0; d < dimensions; ++d) {
    bounds[d].lLbound = in.lower[d];
    bounds[d].cElements = in.count[d];
  }
  size_t total = dimensions == 2 ? size_t(in.count[0]) * in.count[1] : in.count[0];
  if (total != in.elements.size()) return E_INVALIDARG;
  // The bounds are given first index first; the array keeps them the other way round itself.
  SAFEARRAY* array = SafeArrayCreate(VT_VARIANT, UINT(dimensions), bounds);
  if (array == nullptr) return E_OUTOFMEMORY;
  for (uint32_t i = 0; i < in.count[0]; ++i) {
    uint32_t columns = dimensions == 2 ? in.count[1] : 1;
    for (uint32_t j = 0; j < columns; ++j) {
      LONG index[2] = {LONG(int64_t(in.lower[0]) + i), LONG(int64_t(in.lower[1]) + j)};
      void* element = nullptr;
      HRESULT hr = SafeArrayPtrOfIndex(array, index, &element);
      if (SUCCEEDED(hr))
        hr = toComVariant(in.elements[size_t(i) * columns + j], static_cast<VARIANT*>(element));
      if (FAILED(hr)) {
        SafeArrayDestroy(array);
        return hr;
      }
    }
  }
  out->vt = VT_ARRAY | VT_VARIANT;
  out->parray = array;
  return S_OK;
}

// The element types whose values fit a VARIANT's value field as they are stored in an array.
bool plainElementType(VARTYPE type) {
  switch (type) {
    case VT_I1:
    case VT_UI1:
    case VT_I2:
    case VT_UI2:
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_I8:
    case VT_UI8:
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_BSTR:
    case VT_DISPATCH:
    case VT_UNKNOWN:
    case VT_ERROR:
    case VT_BOOL:
      return true;
    default:
      return false;
  }
}

size_t elementSize(VARTYPE type) {
  switch (type) {
    case VT_I1:
    case VT_UI1:
      return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
      return 2;
    case VT_I8:
    case VT_UI8:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
      return 8;
    default:
      return 4;
  }
}

Variant elementFromCom(VARTYPE type, const void* element) {
  if (type == VT_VARIANT) return fromComVariant(*static_cast<const VARIANT*>(element));
  if (type == VT_DECIMAL) {
    double value = 0;
    DECIMAL decimal;
    std::memcpy(&decimal, element, sizeof decimal);
    if (FAILED(VarR8FromDec(&decimal, &value))) return Variant::error(DISP_E_TYPEMISMATCH);
    return Variant::r8(value);
  }
  // A borrowed view of the element: nothing in it is released.
  VARIANT view;
  VariantInit(&view);
  view.vt = type;
  std::memcpy(&view.llVal, element, elementSize(type));
  return fromComVariant(view);
}

Variant arrayFromCom(SAFEARRAY* array) {
  if (array == nullptr) return Variant::error(DISP_E_TYPEMISMATCH);
  UINT dimensions = SafeArrayGetDim(array);
  VARTYPE type = VT_EMPTY;
  if (dimensions < 1 || dimensions > 2 || FAILED(SafeArrayGetVartype(array, &type)) ||
      (type != VT_VARIANT && type != VT_DECIMAL && !plainElementType(type))) {
    return Variant::error(DISP_E_TYPEMISMATCH);
  }
  LONG lower[2] = {0, 0};
  LONG upper[2] = {0, 0};
  for (UINT d = 0; d < dimensions; ++d) {
    if (FAILED(SafeArrayGetLBound(array, d + 1, &lower[d])) ||
        FAILED(SafeArrayGetUBound(array, d + 1, &upper[d]))) {
      return Variant::error(DISP_E_TYPEMISMATCH);
    }
  }
  uint32_t rows = uint32_t(int64_t(upper[0]) - lower[0] + 1);
  uint32_t columns = dimensions == 2 ? uint32_t(int64_t(upper[1]) - lower[1] + 1) : 1;
  VariantArray out = dimensions == 2 ? VariantArray::twoDimensions(rows, columns, lower[0])
                                     : VariantArray::oneDimension(rows, lower[0]);
  out.lower[1] = dimensions == 2 ? lower[1] : 0;
  for (uint32_t i = 0; i < rows; ++i) {
    for (uint32_t j = 0; j < columns; ++j) {
      LONG index[2] = {LONG(lower[0] + int64_t(i)), LONG(lower[1] + int64_t(j))};
      void* element = nullptr;
      if (FAILED(SafeArrayPtrOfIndex(array, index, &element))) {
        return Variant::error(DISP_E_TYPEMISMATCH);
      }
      out.elements[size_t(i) * columns + j] = elementFromCom(type, element);
    }
  }
  return Variant::array(std::move(out));
}

Variant currencyFrom(CY value) {
  double real = 0;
  if (FAILED(VarR8FromCy(value, &real))) return Variant::error(DISP_E_TYPEMISMATCH);
  return Variant::r8(real);
}

Variant objectFrom(IUnknown* object) {
  std::shared_ptr<Dispatch> portable = portableObjectFor(object);
  if (object != nullptr && portable == nullptr) return Variant::error(DISP_E_TYPEMISMATCH);
  return Variant::dispatch(std::move(portable));
}

}  // namespace

HRESULT toComVariant(const Variant& in, VARIANT* out) {
  out->vt = VT_EMPTY;
  switch (in.type()) {
    case VarType::kEmpty:
      return S_OK;
    case VarType::kNull:
      out->vt = VT_NULL;
      return S_OK;
    case VarType::kI1:
      out->vt = VT_I1;
      out->cVal = CHAR(in.integer());
      return S_OK;
    case VarType::kUI1:
      out->vt = VT_UI1;
      out->bVal = BYTE(in.integer());
      return S_OK;
    case VarType::kI2:
      out->vt = VT_I2;
      out->iVal = SHORT(in.integer());
      return S_OK;
    case VarType::kUI2:
      out->vt = VT_UI2;
      out->uiVal = USHORT(in.integer());
      return S_OK;
    case VarType::kI4:
      out->vt = VT_I4;
      out->lVal = LONG(in.integer());
      return S_OK;
    case VarType::kUI4:
      out->vt = VT_UI4;
      out->ulVal = ULONG(in.integer());
      return S_OK;
    case VarType::kR8:
      out->vt = VT_R8;
      out->dblVal = in.real();
      return S_OK;
    case VarType::kBool:
      out->vt = VT_BOOL;
      out->boolVal = in.boolean() ? VARIANT_TRUE : VARIANT_FALSE;
      return S_OK;
    case VarType::kError:
      out->vt = VT_ERROR;
      out->scode = SCODE(in.errorCode());
      return S_OK;
    case VarType::kBstr: {
      const std::u16string& text = in.text();
      BSTR value =
          SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()), UINT(text.size()));
      if (value == nullptr) return E_OUTOFMEMORY;
      out->vt = VT_BSTR;
      out->bstrVal = value;
      return S_OK;
    }
    case VarType::kDispatch:
      out->vt = VT_DISPATCH;
      out->pdispVal = comObjectFor(in.object());
      if (in.object() != nullptr && out->pdispVal == nullptr) {
        out->vt = VT_EMPTY;
        return E_OUTOFMEMORY;
      }
      return S_OK;
    case VarType::kArray:
      return arrayToCom(in.array(), out);
  }
  return DISP_E_TYPEMISMATCH;
}

Variant fromComVariant(const VARIANT& in) {
  if ((in.vt & VT_BYREF) != 0) {
    if (in.vt == (VT_BYREF | VT_VARIANT)) {
      // A reference to a reference is not automation's (and may point at itself).
      if (in.pvarVal == nullptr || in.pvarVal->vt == (VT_BYREF | VT_VARIANT)) {
        return Variant::error(DISP_E_TYPEMISMATCH);
      }
      return fromComVariant(*in.pvarVal);
    }
    if (in.byref == nullptr) return Variant::error(DISP_E_TYPEMISMATCH);
    VARTYPE type = VARTYPE(in.vt & ~VT_BYREF);
    if ((type & VT_ARRAY) != 0) return arrayFromCom(*in.pparray);
    if (type == VT_DECIMAL) return elementFromCom(VT_DECIMAL, in.pdecVal);
    if (!plainElementType(type)) return Variant::error(DISP_E_TYPEMISMATCH);
    return elementFromCom(type, in.byref);
  }
  if ((in.vt & VT_ARRAY) != 0) return arrayFromCom(in.parray);
  switch (in.vt) {
    case VT_EMPTY:
      return Variant();
    case VT_NULL:
      return Variant::null();
    case VT_I1:
      return Variant::i1(int8_t(in.cVal));
    case VT_UI1:
      return Variant::ui1(in.bVal);
    case VT_I2:
      return Variant::i2(in.iVal);
    case VT_UI2:
      return Variant::ui2(in.uiVal);
    case VT_I4:
      return Variant::i4(in.lVal);
    case VT_INT:
      return Variant::i4(in.intVal);
    case VT_UI4:
      return Variant::ui4(in.ulVal);
    case VT_UINT:
      return Variant::ui4(in.uintVal);
    case VT_I8:
      return Variant::r8(double(in.llVal));
    case VT_UI8:
      return Variant::r8(double(in.ullVal));
    case VT_R4:
      return Variant::r8(in.fltVal);
    case VT_R8:
      return Variant::r8(in.dblVal);
    case VT_DATE:
      return Variant::r8(in.date);
    case VT_CY:
      return currencyFrom(in.cyVal);
    case VT_DECIMAL:
      return elementFromCom(VT_DECIMAL, &in.decVal);
    case VT_BOOL:
      return Variant::boolean(in.boolVal != VARIANT_FALSE);
    case VT_ERROR:
      return Variant::error(uint32_t(in.scode));
    case VT_BSTR:
      if (in.bstrVal == nullptr) return Variant::text(u"");
      return Variant::text(
          std::u16string(reinterpret_cast<const char16_t*>(in.bstrVal), SysStringLen(in.bstrVal)));
    case VT_DISPATCH:
      return objectFrom(in.pdispVal);
    case VT_UNKNOWN:
      return objectFrom(in.punkVal);
    default:
      return Variant::error(DISP_E_TYPEMISMATCH);
  }
}

void writeBack(const Variant& value, VARIANT* byReference) {
  if (byReference == nullptr || (byReference->vt & VT_BYREF) == 0 ||
      byReference->byref == nullptr) {
    return;
  }
  VARTYPE type = VARTYPE(byReference->vt & ~VT_BYREF);
  VARIANT converted;
  VariantInit(&converted);
  if (FAILED(toComVariant(value, &converted))) return;
  if (type == VT_VARIANT) {
    VariantClear(byReference->pvarVal);
    *byReference->pvarVal = converted;  // the argument takes over what the conversion allocated
    return;
  }
  if (converted.vt != type && FAILED(VariantChangeType(&converted, &converted, 0, type))) {
    VariantClear(&converted);
    return;
  }
  if ((type & VT_ARRAY) != 0) {
    if (*byReference->pparray != nullptr) SafeArrayDestroy(*byReference->pparray);
    *byReference->pparray = converted.parray;
    return;
  }
  switch (type) {
    case VT_BSTR:
      SysFreeString(*byReference->pbstrVal);
      *byReference->pbstrVal = converted.bstrVal;
      return;
    case VT_DISPATCH:
      if (*byReference->ppdispVal != nullptr) (*byReference->ppdispVal)->Release();
      *byReference->ppdispVal = converted.pdispVal;
      return;
    case VT_UNKNOWN:
      if (*byReference->ppunkVal != nullptr) (*byReference->ppunkVal)->Release();
      *byReference->ppunkVal = converted.punkVal;
      return;
    case VT_DECIMAL:
      *byReference->pdecVal = converted.decVal;
      return;
    case VT_I1:
    case VT_UI1:
      std::memcpy(byReference->byref, &converted.bVal, 1);
      return;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
      std::memcpy(byReference->byref, &converted.iVal, 2);
      return;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
    case VT_ERROR:
      std::memcpy(byReference->byref, &converted.lVal, 4);
      return;
    case VT_I8:
    case VT_UI8:
    case VT_R8:
    case VT_DATE:
    case VT_CY:
      std::memcpy(byReference->byref, &converted.llVal, 8);
      return;
    default:
      VariantClear(&converted);
      return;
  }
}

InterfaceId interfaceIdText(REFIID iid) {
  static const char kDigits[] = "0123456789ABCDEF";
  uint8_t bytes[8];
  std::memcpy(bytes, iid.Data4, 8);
  auto hex = [](std::string* out, uint64_t value, int digits) {
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4)
      out->push_back(kDigits[(value >> shift) & 15]);
  };
  std::string text = "{";
  hex(&text, iid.Data1, 8);
  text.push_back('-');
  hex(&text, iid.Data2, 4);
  text.push_back('-');
  hex(&text, iid.Data3, 4);
  text.push_back('-');
  for (int i = 0; i < 8; ++i) {
    if (i == 2) text.push_back('-');
    hex(&text, bytes[i], 2);
  }
  text.push_back('}');
  return text;
}

bool parseInterfaceId(const InterfaceId& text, IID* out) {
  // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", either case.
  if (text.size() != 38 || text.front() != '{' || text.back() != '}') return false;
  uint8_t digits[32];
  size_t n = 0;
  for (size_t i = 1; i < 37; ++i) {
    char c = text[i];
    bool dash = i == 9 || i == 14 || i == 19 || i == 24;
    if (dash) {
      if (c != '-') return false;
      continue;
    }
    if (c >= '0' && c <= '9') {
      digits[n++] = uint8_t(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      digits[n++] = uint8_t(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      digits[n++] = uint8_t(c - 'A' + 10);
    } else {
      return false;
    }
  }
  auto value = [&digits](size_t from, size_t count) {
    uint64_t v = 0;
    for (size_t i = 0; i < count; ++i) v = (v << 4) | digits[from + i];
    return v;
  };
  IID iid;
  iid.Data1 = decltype(iid.Data1)(value(0, 8));
  iid.Data2 = decltype(iid.Data2)(value(8, 4));
  iid.Data3 = decltype(iid.Data3)(value(12, 4));
  for (size_t i = 0; i < 8; ++i) iid.Data4[i] = uint8_t(value(16 + 2 * i, 2));
  *out = iid;
  return true;
}

}  // namespace korvel::win32
