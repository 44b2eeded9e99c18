// Addressing rules over CellRef and RangeRef: the process-wide row and column limits, range
// normalisation, A1 address text in both directions, column letters and quoted sheet names.
//
// REQUIRES: used only on the thread that handles host commands and evaluates formulas (the
// limits are process-wide state without locking).
#ifndef KORVEL_MODEL_ADDRESS_H_
#define KORVEL_MODEL_ADDRESS_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "model/cell_ref.h"

namespace korvel {

// Limits of worksheets since the 2007 file format, and of the older sheet size.
inline constexpr uint32_t kFullMaxRow = 0xFFFFF;     // 1048575
inline constexpr uint32_t kFullMaxColumn = 0x3FFF;   // 16383
inline constexpr uint32_t kLoweredMaxRow = 0xFFFF;   // 65535
inline constexpr uint32_t kLoweredMaxColumn = 0xFF;  // 255

// The current last row and column index (0-based). Full limits until lowered.
uint32_t maxRow();
uint32_t maxColumn();
bool limitsLowered();
// Switches between the older sheet size (true) and the full one (false).
void setLoweredLimits(bool lowered);

// True when neither corner is the no-cell sentinel.
bool isValidRange(const RangeRef& range);
// A range with only the last corner missing becomes the single cell of its first corner; then the
// corners are ordered so that first holds the smaller row and the smaller column. A range that
// still has the sentinel in a corner is returned unordered (it is invalid either way).
RangeRef normalizeRange(RangeRef range);

// Column index of one to three letters (case-insensitive, A = 0, so "XFD" is 16383), or -1 when
// the text is empty, longer than three units or holds anything but ASCII letters.
int32_t columnFromLetters(std::u16string_view letters);
// The letters of a column index: the inverse of columnFromLetters.
std::u16string columnLetters(uint32_t column);

// A1 cell text ("B7", "xfd1048576", "$C$3") to the cell on the given sheet. The row is clamped to
// maxRow(). The sentinel when the text does not split into letters and digits, when the row
// number is 0, or when the column lies beyond the largest column a CellRef can hold. More than
// three letters give row 0, column 0 of sheet 0, as the host program's address reader does.
// Only the low 16 bits of sheet are used.
CellRef parseCell(std::u16string_view text, uint32_t sheet);

// Range text to two corners on the given sheet: a text without a colon is one cell (result 0);
// "A:C" is whole columns (rows 0 to maxRow(), result 2); "1:3" is whole rows (columns 0 to
// maxColumn(), result 1); any other pair of cell texts gives result 0. The corners are not
// normalised; a part that does not parse is the sentinel.
int parseRange(std::u16string_view text, uint32_t sheet, CellRef& first, CellRef& last);

// The name between apostrophes, each apostrophe inside doubled: O'Neil becomes 'O''Neil'.
std::u16string quoteSheetName(std::u16string_view name);

// A1 text of a cell ("B7", or "$B$7" with both absolute marks); empty for the sentinel.
std::u16string cellText(CellRef cell, bool absoluteColumn = false, bool absoluteRow = false);
// "B7" for a single cell, "B7:C9" otherwise; empty when a corner is the sentinel.
std::u16string rangeText(const RangeRef& range, bool absolute = false);

}  // namespace korvel

#endif  // KORVEL_MODEL_ADDRESS_H_
