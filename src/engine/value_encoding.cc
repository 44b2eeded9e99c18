#include "engine/value_encoding.h"

#include <cstdint>
#include <cstring>

namespace korvel {
namespace {

constexpr size_t kArrayHeaderBytes = 8;

void putU32(uint32_t v, std::string* out) {
  for (int i = 0; i < 4; ++i) out->push_back(char((v >> (8 * i)) & 0xFF));
}

void putU64(uint64_t v, std::string* out) {
  for (int i = 0; i < 8; ++i) out->push_back(char((v >> (8 * i)) & 0xFF));
}

uint32_t getU32(const char* p) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= uint32_t(uint8_t(p[i])) << (8 * i);
  return v;
}

uint64_t getU64(const char* p) {
  uint64_t v = 0;
  for (int i = 0; i < 8; ++i) v |= uint64_t(uint8_t(p[i])) << (8 * i);
  return v;
}

void putCellRef(CellRef ref, std::string* out) {
  putU32(ref.rowWord, out);
  putU32(ref.columnWord, out);
}

void encodeOne(const Value& value, bool element, std::string* out) {
  ValueKind kind = value.kind();
  if (element && value.hasArray()) kind = ValueKind::kEmpty;
  out->push_back(char(kind));
  switch (kind) {
    case ValueKind::kEmpty:
    case ValueKind::kReferenceList:
      break;
    case ValueKind::kInteger:
      putU32(uint32_t(value.integer()), out);
      break;
    case ValueKind::kNumber: {
      double x = value.number();
      uint64_t bits;
      std::memcpy(&bits, &x, sizeof bits);
      putU64(bits, out);
      break;
    }
    case ValueKind::kShortText:
    case ValueKind::kLongText:
      for (char16_t unit : value.text()) {
        out->push_back(char(unit & 0xFF));
        out->push_back(char(unit >> 8));
      }
      out->append(2, '\0');
      break;
    case ValueKind::kBoolean:
      out->push_back(value.boolean() ? 1 : 0);
      break;
    case ValueKind::kReference:
      putCellRef(value.reference().first, out);
      putCellRef(value.reference().last, out);
      break;
    case ValueKind::kArray: {
      const ValueArray& a = value.array();
      putU32(a.columns(), out);
      putU32(a.rows(), out);
      // Written from the dimensions, so the element count always matches them.
      static const Value kEmpty;
      size_t count = size_t(a.columns()) * a.rows();
      for (size_t i = 0; i < count; ++i) {
        encodeOne(i < a.size() ? a.elements()[i] : kEmpty, true, out);
      }
      break;
    }
    case ValueKind::kError:
      putU32(value.errorCode(), out);
      break;
  }
}

// Returns the bytes taken, or 0 with *out left empty.
size_t decodeOne(const char* bytes, size_t available, bool element, Value* out) {
  out->clear();
  if (available < 1) return 0;
  const char* p = bytes + 1;
  size_t left = available - 1;
  switch (ValueKind(uint8_t(bytes[0]))) {
    case ValueKind::kEmpty:
    case ValueKind::kReferenceList:
      return 1;
    case ValueKind::kInteger:
      if (left < 4) return 0;
      out->setInteger(int32_t(getU32(p)));
      return 1 + 4;
    case ValueKind::kNumber: {
      if (left < 8) return 0;
      uint64_t bits = getU64(p);
      double x;
      std::memcpy(&x, &bits, sizeof x);
      out->setNumber(x);
      return 1 + 8;
    }
    case ValueKind::kShortText:
    case ValueKind::kLongText: {
      if (left < 2) {
        out->setText(u"");
        return 1 + left;
      }
      std::u16string units;
      for (size_t i = 0; i + 1 < left; i += 2) {
        char16_t unit = char16_t(uint8_t(p[i]) | (uint8_t(p[i + 1]) << 8));
        if (unit == 0) {
          out->setText(units);
          return 1 + i + 2;
        }
        units.push_back(unit);
      }
      return 0;  // no terminating zero unit
    }
    case ValueKind::kBoolean:
      if (left < 1) return 0;
      out->setBoolean(p[0] != 0);
      return 1 + 1;
    case ValueKind::kReference:
      if (left < 16) return 0;
      out->setReference(CellRef{getU32(p), getU32(p + 4)}, CellRef{getU32(p + 8), getU32(p + 12)});
      return 1 + 16;
    case ValueKind::kArray: {
      if (element || left < kArrayHeaderBytes) return 0;
      uint32_t columns = getU32(p);
      uint32_t rows = getU32(p + 4);
      uint64_t count = uint64_t(columns) * rows;
      size_t offset = kArrayHeaderBytes;
      // Every element takes at least its kind byte: a count beyond the bytes left is a damaged
      // payload, found before anything is allocated for it.
      if (count > left - offset) return 0;
      if (count == 0) {
        out->setArray(ValueArray());
        return 1 + offset;
      }
      ValueArray array(columns, rows);
      for (Value& e : array.elements()) {
        size_t taken = decodeOne(p + offset, left - offset, true, &e);
        if (taken == 0) return 0;
        offset += taken;
      }
      out->setArray(std::move(array));
      return 1 + offset;
    }
    case ValueKind::kError:
      if (left < 4) return 0;
      out->setError(getU32(p));
      return 1 + 4;
  }
  return 0;  // unknown kind
}

}  // namespace

void encodeValue(const Value& value, std::string* out) { encodeOne(value, false, out); }

size_t decodeValue(const char* bytes, size_t available, Value* out) {
  return decodeOne(bytes, available, false, out);
}

}  // namespace korvel
