// The in-memory workbook that the compiler reads: sheets with constant cells, formula cells and
// array formulas, and defined names. It holds texts as the author wrote them; the model builder
// parses and checks them. Written by the workbook text reader, or directly by code and tests.
#ifndef KORVEL_COMPILER_WORKBOOK_H_
#define KORVEL_COMPILER_WORKBOOK_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/value.h"
#include "platform/clock.h"

namespace korvel {

// A cell with a constant value or a formula. Rows and columns are 0-based.
// The small fields first: a large sheet holds millions of these, and the order saves the padding;
// for the same reason a formula's last shown value shares the room of a constant's.
struct WorkbookCell {
  uint32_t row = 0;
  uint32_t column = 0;
  int line = 0;  // source line for messages; 0 when not read from a text
  bool isFormula = false;
  bool hasCached = false;
  // A constant cell's value; a formula cell's value as the workbook last showed it, if known.
  Value value;
  std::u16string formula;  // the formula text of a formula cell, "=" optional

  // The shown value of a formula cell, or null when the workbook gave none.
  const Value* cached() const { return isFormula && hasCached ? &value : nullptr; }
  void setCached(Value shown) {
    value = std::move(shown);
    hasCached = true;
  }
};

// An array formula over a block of cells: the formula sits in the top-left cell, and every cell
// of the block shows one element of its result.
struct ArrayFormula {
  uint32_t firstRow = 0;
  uint32_t firstColumn = 0;
  uint32_t lastRow = 0;
  uint32_t lastColumn = 0;
  std::u16string formula;
  std::optional<Value> cached;  // the whole result, an array or a single value
  int line = 0;
};

// A cell shown in a number format other than General: the format is an index into
// Workbook::numberFormats.
struct CellNumberFormat {
  uint32_t row = 0;
  uint32_t column = 0;
  uint32_t format = 0;
};

struct WorkbookSheet {
  std::u16string name;  // the name the host program shows
  std::vector<WorkbookCell> cells;
  std::vector<ArrayFormula> arrays;
  int line = 0;
  // Cells of any kind (empty ones too) whose values show in a number format, in reading order.
  std::vector<CellNumberFormat> numberFormats;
  // The rows the sheet hides, by hand or by a filter (0-based, in the order read).
  std::vector<uint32_t> hiddenRows;
  // The rows (first, last; 0-based) of filters that filter by some column, their headers left
  // out: the hidden rows among them are filtered out, the others hidden by hand.
  std::vector<std::pair<uint32_t, uint32_t>> filteredRows;
  // Column widths in characters as the package stores them (padding included), for the columns
  // that have one; the others have the default width, given directly or as the base width
  // without padding (0: none given, the standard width).
  struct ColumnWidth {
    uint32_t first = 0, last = 0;  // 0-based columns
    double width = 0;
  };
  std::vector<ColumnWidth> columnWidths;
  double defaultColumnWidth = 0;
  double baseColumnWidth = 0;
};

struct WorkbookName {
  std::u16string name;
  // Empty for a workbook-level name; the sheet's name for a sheet-level one.
  std::u16string scopeSheet;
  std::u16string formula;  // "=" optional
  int line = 0;
};

// The most sheets a workbook may have: sheet index 0xFFFF means "no sheet" in a model, and
// 0xFFFE is taken for sheet-less cells.
inline constexpr size_t kMaxWorkbookSheets = 0xFFFE;

struct Workbook {
  std::vector<WorkbookSheet> sheets;  // in sheet index order
  std::vector<WorkbookName> names;    // in name index order
  uint32_t applicationId = 0;
  // Dates count from 1904-01-01 rather than 1900-01-01.
  bool date1904 = false;
  // The calculation settings the workbook was saved with.
  struct {
    bool iterate = false;  // circular references are iterated
    int count = 100;       // at most this many passes
    double delta = 0.001;  // until no value changes by more than this
  } calculation;
  // When the workbook was last saved (a package's dcterms:modified, in universal time), if known:
  // the instant its stored results were computed at.
  std::optional<LocalTime> savedAt;
  // The number format codes the sheets' cells show their values in.
  std::vector<std::u16string> numberFormats;
  // Things the reader understood but does not carry into the workbook, one message each, such as
  // a data-table formula kept as its last value. Not faults: the caller decides how to show them.
  std::vector<std::string> notices;

  // The index of the sheet whose name equals name without regard to case, or -1.
  int findSheet(std::u16string_view name) const;
};

}  // namespace korvel

#endif  // KORVEL_COMPILER_WORKBOOK_H_
