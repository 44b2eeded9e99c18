// The contents of a workbook as the headless spreadsheet program keeps them: sheets with their
// cells (values as the program's automation shows them, the formulas the program computes itself,
// the formatting the runtime reads and writes), protection, shapes with their macros, and the
// workbook's own settings. The program's objects work on it, and the .xlsx reader and writer fill
// it from a file and put it back.
#ifndef KORVEL_HOSTS_HEADLESS_SPREADSHEET_WORKBOOK_DATA_H_
#define KORVEL_HOSTS_HEADLESS_SPREADSHEET_WORKBOOK_DATA_H_

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "hosts/headless/spreadsheet/a1_reference.h"
#include "platform/variant.h"

namespace korvel {

struct HyperlinkData {
  std::u16string address;
  std::u16string subAddress;
  std::u16string screenTip;
  std::u16string textToDisplay;
};

// The parts of a cell's formatting that hold members of their own.
enum class FormatPart : int { kRange = 0, kInterior = 1, kFont = 2, kBorders = 3 };

// One side's border line.
struct BorderLine {
  std::string style;  // as the file names it: "thin", "medium", "dashed", "double"...; empty: none
  std::optional<uint32_t> color;  // 0x00BBGGRR; absent: automatic
  bool operator==(const BorderLine&) const = default;
};

// The font and borders of a cell as its file gives them, shared by the cells of one format. The
// font holds what differs from the workbook's default font; its colour and the fill's are
// CellData's, which the program's objects read and write.
struct CellStyle {
  bool bold = false;
  bool italic = false;
  std::string underline;    // "single", "double"...; empty: none
  double fontSize = 0;      // points; 0: the default font's
  std::u16string fontName;  // empty: the default font's
  BorderLine left, right, top, bottom;
  bool operator==(const CellStyle&) const = default;
};

struct CellData {
  // Empty, R8, BSTR, BOOL or ERROR, as Value2 answers.
  Variant value;
  // "=..." when the program computes the cell itself; empty for a constant.
  std::u16string formula;
  bool wrapText = false;
  // 0x00BBGGRR; absent: the default.
  std::optional<uint32_t> interiorColor;
  std::optional<uint32_t> fontColor;
  std::u16string numberFormat;
  // Null: the default font and no borders.
  std::shared_ptr<const CellStyle> style;
  std::vector<HyperlinkData> hyperlinks;
  // Protection applies to locked cells only; every cell starts locked.
  bool locked = true;
  // Other formatting members (alignment, orientation, colour indexes, patterns, border styles
  // ...), kept as given by part and member id.
  std::map<std::pair<FormatPart, int32_t>, Variant> formats;
};

// 0-based row and column.
using CellKey = std::pair<uint32_t, uint32_t>;

struct ShapeData {
  std::u16string name;
  std::u16string onAction;
};

struct SheetProtectionData {
  bool contents = false;
  bool drawingObjects = false;
  bool scenarios = false;
  std::u16string password;
  // The arguments of the last Protect after the password, as given (for tests to check).
  std::vector<Variant> options;
  int32_t enableSelection = 0;  // 0 no restrictions, 1 unlocked cells, -4142 none
};

struct SheetData {
  std::u16string name;
  std::u16string codeName;
  int32_t type = -4167;  // worksheet; a chart sheet is -4109
  std::map<CellKey, CellData> cells;
  SheetProtectionData protection;
  std::vector<ShapeData> shapes;
  int queryTables = 0;
  bool hidden = false;
  // Column widths in characters by 0-based column, as the file gives them; others have the
  // default width.
  std::map<uint32_t, double> columnWidths;
  // Merged areas of two cells or more, as the file gives them: the first cell shows for all.
  std::vector<CellArea> merges;
};

struct WorkbookData {
  std::u16string fullName;  // the path it was opened from or saved to
  bool date1904 = false;
  int32_t fileFormat = 51;  // .xlsx
  bool checkCompatibility = true;
  std::vector<SheetData> sheets;
  bool protectStructure = false;
  bool protectWindows = false;
  std::u16string password;
};

}  // namespace korvel

#endif  // KORVEL_HOSTS_HEADLESS_SPREADSHEET_WORKBOOK_DATA_H_
