// Cell and range addresses as stored in compiled models: 8 and 16 bytes, with the sheet index in
// the high half of the column word. Plain structs without code of their own, so that values can
// hold them below the model library; the rules that read them are in model/address.h.
#ifndef KORVEL_MODEL_CELL_REF_H_
#define KORVEL_MODEL_CELL_REF_H_

#include <cstdint>

namespace korvel {

inline constexpr uint32_t kRowMask = 0xFFFFF;
inline constexpr uint32_t kColumnMask = 0x3FFF;
inline constexpr uint32_t kNoCellWord = 0xFFFFFFFFu;

struct CellRef {
  uint32_t rowWord = kNoCellWord;
  uint32_t columnWord = kNoCellWord;

  static constexpr CellRef none() { return CellRef{}; }
  static constexpr CellRef at(uint32_t sheet, uint32_t row, uint32_t column) {
    return CellRef{row, (sheet << 16) | column};
  }
  constexpr bool isNone() const { return rowWord == kNoCellWord && columnWord == kNoCellWord; }
  constexpr uint32_t row() const { return rowWord & kRowMask; }
  constexpr uint32_t column() const { return columnWord & kColumnMask; }
  // 0xFFFF stands for 0xFFFE in lookups, which never names a real sheet.
  constexpr uint32_t sheet() const {
    uint32_t s = columnWord >> 16;
    return s == 0xFFFF ? 0xFFFE : s;
  }
  constexpr bool operator==(const CellRef&) const = default;
};

struct RangeRef {
  CellRef first;
  CellRef last;
  constexpr bool operator==(const RangeRef&) const = default;
};

static_assert(sizeof(CellRef) == 8 && sizeof(RangeRef) == 16);

}  // namespace korvel

#endif  // KORVEL_MODEL_CELL_REF_H_
