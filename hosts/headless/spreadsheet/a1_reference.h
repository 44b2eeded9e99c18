// Cell references in the A1 form as the headless spreadsheet program reads and writes them:
// "B3", "$B$3", "A1:C4", whole columns "A:C" and rows "2:5", lists of areas "A1:B2,D4", each
// optionally led by a sheet name ("Sheet1!A1", "'My sheet'!A1"). Rows and columns are 0-based
// inside the program and 1-based in the texts.
#ifndef KORVEL_HOSTS_HEADLESS_SPREADSHEET_A1_REFERENCE_H_
#define KORVEL_HOSTS_HEADLESS_SPREADSHEET_A1_REFERENCE_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korvel {

inline constexpr uint32_t kSheetRows = 1048576;
inline constexpr uint32_t kSheetColumns = 16384;

// A rectangle of cells, 0-based and inclusive.
struct CellArea {
  uint32_t firstRow = 0;
  uint32_t firstColumn = 0;
  uint32_t lastRow = 0;
  uint32_t lastColumn = 0;

  uint64_t cellCount() const {
    return uint64_t(lastRow - firstRow + 1) * uint64_t(lastColumn - firstColumn + 1);
  }
  bool contains(uint32_t row, uint32_t column) const {
    return row >= firstRow && row <= lastRow && column >= firstColumn && column <= lastColumn;
  }
  bool wholeColumns() const { return firstRow == 0 && lastRow == kSheetRows - 1; }
  bool wholeRows() const { return firstColumn == 0 && lastColumn == kSheetColumns - 1; }
  friend bool operator==(const CellArea&, const CellArea&) = default;
};

// A reference text taken apart: the sheet it names (empty: none) and its areas.
struct A1Reference {
  std::u16string sheet;
  std::vector<CellArea> areas;
};

// Null for a text that is not a reference (also for rows or columns beyond the sheet).
std::optional<A1Reference> parseA1(std::u16string_view text);
// One area without a sheet name; null otherwise.
std::optional<CellArea> parseA1Area(std::u16string_view text);

// "A", "Z", "AA"... for a 0-based column.
std::u16string a1ColumnLetters(uint32_t column);
// The area's address; a single cell has no ":" part, whole columns and rows are written as such.
std::u16string formatA1(const CellArea& area, bool rowAbsolute = true, bool columnAbsolute = true);

}  // namespace korvel

#endif  // KORVEL_HOSTS_HEADLESS_SPREADSHEET_A1_REFERENCE_H_
