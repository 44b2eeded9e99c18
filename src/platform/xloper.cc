#include "platform/xloper.h"

#include <utility>

namespace korvel {

Xloper Xloper::number(double value) {
  Xloper x;
  x.xltype_ = kXltypeNum;
  x.num_ = value;
  return x;
}

Xloper Xloper::string(std::string_view bytes) {
  Xloper x;
  x.xltype_ = kXltypeStr;
  // The length byte cannot count further; the host program cuts texts the same way.
  x.str_ = std::string(bytes.substr(0, kXlStringMax));
  return x;
}

Xloper Xloper::boolean(bool value) {
  Xloper x;
  x.xltype_ = kXltypeBool;
  x.scalar_ = value ? 1 : 0;
  return x;
}

Xloper Xloper::error(uint16_t code) {
  Xloper x;
  x.xltype_ = kXltypeErr;
  x.scalar_ = code;
  return x;
}

Xloper Xloper::integer(int16_t value) {
  Xloper x;
  x.xltype_ = kXltypeInt;
  x.scalar_ = value;
  return x;
}

Xloper Xloper::missing() {
  Xloper x;
  x.xltype_ = kXltypeMissing;
  return x;
}

Xloper Xloper::reference(uint64_t sheetId, std::vector<XlRect> rects) {
  Xloper x;
  x.xltype_ = kXltypeRef;
  x.sheetId_ = sheetId;
  x.rects_ = std::move(rects);
  return x;
}

Xloper Xloper::smallReference(XlRect rect) {
  Xloper x;
  x.xltype_ = kXltypeSRef;
  x.rects_.push_back(rect);
  return x;
}

Xloper Xloper::multi(uint16_t rows, uint16_t columns, std::vector<Xloper> elements) {
  Xloper x;
  x.xltype_ = kXltypeMulti;
  x.rows_ = rows;
  x.columns_ = columns;
  x.elements_ = std::move(elements);
  x.elements_.resize(size_t(rows) * columns);
  return x;
}

std::string_view Xloper::counted() const {
  if (!is(kXltypeStr)) return {};
  return str_;
}

std::string_view Xloper::text() const {
  std::string_view bytes = counted();
  return bytes.substr(0, bytes.find('\0'));
}

const std::vector<XlRect>& Xloper::rects() const {
  static const std::vector<XlRect> kNone;
  return is(kXltypeRef) || is(kXltypeSRef) ? rects_ : kNone;
}

const std::vector<Xloper>& Xloper::elements() const {
  static const std::vector<Xloper> kNone;
  return is(kXltypeMulti) ? elements_ : kNone;
}

bool operator==(const Xloper& a, const Xloper& b) {
  if (a.xltype_ != b.xltype_) return false;
  switch (a.type()) {
    case kXltypeNum:
      return a.num_ == b.num_;
    case kXltypeStr:
      return a.str_ == b.str_;
    case kXltypeBool:
    case kXltypeErr:
    case kXltypeInt:
      return a.scalar_ == b.scalar_;
    case kXltypeRef:
      return a.sheetId_ == b.sheetId_ && a.rects_ == b.rects_;
    case kXltypeSRef:
      return a.rects_ == b.rects_;
    case kXltypeMulti:
      return a.rows_ == b.rows_ && a.columns_ == b.columns_ && a.elements_ == b.elements_;
    default:
      return true;
  }
}

}  // namespace korvel
