#include "hosts/win32/native_xloper.h"

#include <cstring>
#include <utility>

namespace korvel::win32 {

namespace {

XlRect fromNativeRect(const NativeRect& rect) {
  return XlRect{rect.rowFirst, rect.rowLast, rect.columnFirst, rect.columnLast};
}

NativeRect toNativeRect(const XlRect& rect) {
  return NativeRect{rect.rowFirst, rect.rowLast, rect.columnFirst, rect.columnLast};
}

Xloper fromNativeValue(const NativeXloper& in) {
  switch (in.xltype & ~kXlbitsOwnership) {
    case kXltypeNum:
      return Xloper::number(in.val.num);
    case kXltypeStr: {
      if (in.val.str == nullptr) return Xloper::string({});
      auto length = uint8_t(in.val.str[0]);
      return Xloper::string(std::string_view(in.val.str + 1, length));
    }
    case kXltypeBool:
      return Xloper::boolean(in.val.xbool != 0);
    case kXltypeErr:
      return Xloper::error(in.val.err);
    case kXltypeInt:
      return Xloper::integer(in.val.w);
    case kXltypeMissing:
      return Xloper::missing();
    case kXltypeSRef:
      return Xloper::smallReference(fromNativeRect(in.val.sref.ref));
    case kXltypeRef: {
      std::vector<XlRect> rects;
      const NativeMultiReference* block = in.val.mref.lpmref;
      if (block != nullptr) {
        // The block is packed: its rectangles follow the count at an odd offset.
        rects.reserve(block->count);
        for (uint16_t i = 0; i < block->count; ++i) {
          NativeRect rect;
          std::memcpy(&rect, reinterpret_cast<const uint8_t*>(block->rects) + i * sizeof rect,
                      sizeof rect);
          rects.push_back(fromNativeRect(rect));
        }
      }
      return Xloper::reference(in.val.mref.idSheet, std::move(rects));
    }
    case kXltypeMulti: {
      uint16_t rows = in.val.array.rows;
      uint16_t columns = in.val.array.columns;
      std::vector<Xloper> elements;
      if (in.val.array.lparray != nullptr) {
        size_t count = size_t(rows) * columns;
        elements.reserve(count);
        for (size_t i = 0; i < count; ++i)
          elements.push_back(fromNativeXloper(&in.val.array.lparray[i]));
      }
      return Xloper::multi(rows, columns, std::move(elements));
    }
    default:
      // Nil, and the kinds the portable record does not carry (flow control, big data).
      return Xloper::nil();
  }
}

}  // namespace

Xloper fromNativeXloper(const NativeXloper* in) {
  if (in == nullptr) return Xloper::missing();
  Xloper value = fromNativeValue(*in);
  value.setFlags(uint16_t(in->xltype & kXlbitsOwnership));
  return value;
}

NativeXloper* NativeXloperStore::keep(const Xloper& value) {
  NativeXloper& record = records_.emplace_back();
  std::memset(&record, 0, sizeof record);
  record.xltype = value.xltype();
  switch (value.type()) {
    case kXltypeNum:
      record.val.num = value.num();
      break;
    case kXltypeStr: {
      // Counted: the length byte, then the bytes; a terminator too, for readers that look for it.
      std::string_view bytes = value.counted();
      std::string& text = strings_.emplace_back();
      text.push_back(char(uint8_t(bytes.size())));
      text.append(bytes);
      record.val.str = text.data();
      break;
    }
    case kXltypeBool:
      record.val.xbool = value.boolean() ? 1 : 0;
      break;
    case kXltypeErr:
      record.val.err = value.err();
      break;
    case kXltypeInt:
      record.val.w = value.integer();
      break;
    case kXltypeSRef:
      record.val.sref.count = 1;
      if (!value.rects().empty()) record.val.sref.ref = toNativeRect(value.rects().front());
      break;
    case kXltypeRef: {
      const std::vector<XlRect>& rects = value.rects();
      // The count is 16 bits wide; a longer list is cut where the count can reach.
      size_t count = rects.size() > 0xFFFF ? 0xFFFF : rects.size();
      std::vector<uint8_t>& block =
          blocks_.emplace_back(sizeof(uint16_t) + count * sizeof(NativeRect));
      auto count16 = uint16_t(count);
      std::memcpy(block.data(), &count16, sizeof count16);
      for (size_t i = 0; i < count; ++i) {
        NativeRect rect = toNativeRect(rects[i]);
        std::memcpy(block.data() + sizeof count16 + i * sizeof rect, &rect, sizeof rect);
      }
      record.val.mref.lpmref = reinterpret_cast<NativeMultiReference*>(block.data());
      record.val.mref.idSheet = uint32_t(value.sheetId());
      break;
    }
    case kXltypeMulti: {
      const std::vector<Xloper>& elements = value.elements();
      std::vector<NativeXloper>& array = arrays_.emplace_back(elements.size());
      for (size_t i = 0; i < elements.size(); ++i) array[i] = *keep(elements[i]);
      record.val.array.lparray = array.data();
      record.val.array.rows = value.rows();
      record.val.array.columns = value.columns();
      break;
    }
    default:
      break;
  }
  return &record;
}

void NativeXloperStore::clear() {
  records_.clear();
  strings_.clear();
  blocks_.clear();
  arrays_.clear();
}

}  // namespace korvel::win32
