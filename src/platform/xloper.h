// The portable form of the add-in interface's value record (the 16-byte XLOPER: a value and a
// 16-bit type word). The type codes and flag bits are the interface's own, so an adapter maps them
// one to one; the storage is the value's own (strings, references and arrays are copied and freed
// with the value), and the flag bits only say whom the release must be reported to: a value marked
// kXlbitXLFree came from the host program and is handed back through xlFree, one marked
// kXlbitDLLFree was made by the add-in.
#ifndef KORVEL_PLATFORM_XLOPER_H_
#define KORVEL_PLATFORM_XLOPER_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace korvel {

// Type codes of the type word.
inline constexpr uint16_t kXltypeNum = 0x0001;
inline constexpr uint16_t kXltypeStr = 0x0002;
inline constexpr uint16_t kXltypeBool = 0x0004;
inline constexpr uint16_t kXltypeRef = 0x0008;
inline constexpr uint16_t kXltypeErr = 0x0010;
inline constexpr uint16_t kXltypeFlow = 0x0020;
inline constexpr uint16_t kXltypeMulti = 0x0040;
inline constexpr uint16_t kXltypeMissing = 0x0080;
inline constexpr uint16_t kXltypeNil = 0x0100;
inline constexpr uint16_t kXltypeSRef = 0x0400;
inline constexpr uint16_t kXltypeInt = 0x0800;
// Ownership flags of the type word.
inline constexpr uint16_t kXlbitXLFree = 0x1000;
inline constexpr uint16_t kXlbitDLLFree = 0x4000;
inline constexpr uint16_t kXlbitsOwnership = kXlbitXLFree | kXlbitDLLFree;

// Error values of kXltypeErr.
inline constexpr uint16_t kXlerrNull = 0;
inline constexpr uint16_t kXlerrDiv0 = 7;
inline constexpr uint16_t kXlerrValue = 15;
inline constexpr uint16_t kXlerrRef = 23;
inline constexpr uint16_t kXlerrName = 29;
inline constexpr uint16_t kXlerrNum = 36;
inline constexpr uint16_t kXlerrNA = 42;

// The longest counted string: its length is one byte.
inline constexpr size_t kXlStringMax = 255;

// A rectangle of cells, 0-based, with the record's widths (16-bit rows, 8-bit columns).
struct XlRect {
  uint16_t rowFirst = 0, rowLast = 0;
  uint8_t columnFirst = 0, columnLast = 0;
  friend bool operator==(const XlRect&, const XlRect&) = default;
};

class Xloper {
 public:
  // Nil.
  Xloper() = default;

  static Xloper number(double value);
  // The counted string of the bytes, cut to kXlStringMax bytes when longer.
  static Xloper string(std::string_view bytes);
  static Xloper boolean(bool value);
  static Xloper error(uint16_t code);
  static Xloper integer(int16_t value);
  static Xloper missing();
  static Xloper nil() { return Xloper(); }
  // A reference to rectangles of the sheet with the given id (the host program's sheet id).
  static Xloper reference(uint64_t sheetId, std::vector<XlRect> rects);
  // A single rectangle of the current sheet.
  static Xloper smallReference(XlRect rect);
  // An array of rows x columns values, row by row. Missing elements are nil and extra ones are
  // dropped, so the array always holds rows * columns values.
  static Xloper multi(uint16_t rows, uint16_t columns, std::vector<Xloper> elements);

  // The type word with its flag bits, and the type alone.
  uint16_t xltype() const { return xltype_; }
  uint16_t type() const { return uint16_t(xltype_ & ~kXlbitsOwnership); }
  bool is(uint16_t type) const { return this->type() == type; }
  uint16_t flags() const { return uint16_t(xltype_ & kXlbitsOwnership); }
  // REQUIRES: flags holds only ownership bits.
  void setFlags(uint16_t flags) { xltype_ = uint16_t(type() | (flags & kXlbitsOwnership)); }

  // Each accessor answers the default (0, false, empty) for a value of another type.
  double num() const { return is(kXltypeNum) ? num_ : 0; }
  bool boolean() const { return is(kXltypeBool) && scalar_ != 0; }
  uint16_t err() const { return is(kXltypeErr) ? uint16_t(scalar_) : 0; }
  int16_t integer() const { return is(kXltypeInt) ? int16_t(scalar_) : 0; }
  // Every counted byte of a string, embedded zero bytes included.
  std::string_view counted() const;
  // The string as text: its counted bytes up to the first zero byte.
  std::string_view text() const;
  uint64_t sheetId() const { return is(kXltypeRef) ? sheetId_ : 0; }
  // The rectangles of a reference (one for a small reference).
  const std::vector<XlRect>& rects() const;
  uint16_t rows() const { return is(kXltypeMulti) ? rows_ : 0; }
  uint16_t columns() const { return is(kXltypeMulti) ? columns_ : 0; }
  const std::vector<Xloper>& elements() const;

  // Same type word and same value; multi arrays compare element by element.
  friend bool operator==(const Xloper& a, const Xloper& b);

 private:
  uint16_t xltype_ = kXltypeNil;
  double num_ = 0;
  int32_t scalar_ = 0;  // boolean, error code or integer
  std::string str_;
  uint64_t sheetId_ = 0;
  std::vector<XlRect> rects_;
  uint16_t rows_ = 0, columns_ = 0;
  std::vector<Xloper> elements_;
};

}  // namespace korvel

#endif  // KORVEL_PLATFORM_XLOPER_H_
