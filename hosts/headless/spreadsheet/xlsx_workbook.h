// The .xlsx workbook files of the headless spreadsheet program: reading a package (a zip of XML
// parts) into the program's WorkbookData, and saving WorkbookData back.
//
// Read: the sheets in order with their types, names, code names and visibility; every cell's
// value as Value2 shows it (numbers R8, texts BSTR, booleans BOOL, errors as error codes
// 0x800A07D0 plus the program's error number) and its formula as "=" + text with the cached
// value as the value (cells of a shared formula get the formula moved to their place); wrap text
// from the cell's style; sheet protection; hyperlinks; the 1904 date flag; workbook protection;
// the file format (.xlsm packages are 52); the cells' number formats, fonts, solid fills and
// borders, unlocked cells, column widths and merged areas. Charts and drawings are not read.
//
// Save: the package the workbook was opened from is kept as it is except for the cell values and
// formulas of its worksheets and the sheet names and date flag of its workbook part; a worksheet
// without changes keeps its bytes. A cell whose formula stays keeps its formula element (shared
// and array formulas included) and only its value changes. When formulas change, the package's
// calculation chain is dropped, since it would name cells that no longer hold formulas; the
// program rebuilds it. Texts are written inline. A workbook without a package gets a minimal one.
//
// Memory: a package is held in memory whole, and each part is parsed whole while it is read.
// Nothing here throws; failures return false with a message naming the part and the cell.
#ifndef KORVEL_HOSTS_HEADLESS_SPREADSHEET_XLSX_WORKBOOK_H_
#define KORVEL_HOSTS_HEADLESS_SPREADSHEET_XLSX_WORKBOOK_H_

#include <string>
#include <string_view>

#include "hosts/headless/spreadsheet/workbook_data.h"

namespace korvel {

// Reads the package at path (UTF-8) into *workbook, which is replaced whole; fullName becomes
// the path. False with *error (may be null) set when the file is not a readable package, a part
// the workbook needs is missing or malformed, or a cell cannot be read (an unknown shared string,
// a value that does not fit its type); *workbook is then left empty.
bool readXlsxWorkbook(const std::string& path, WorkbookData* workbook, std::string* error);
// The same from the package's bytes; fullName is left empty.
bool readXlsxWorkbookBytes(std::string_view package, WorkbookData* workbook, std::string* error);

// Saves the workbook to targetPath, starting from the package at originalPath (empty: none).
// The bytes go to a temporary file beside the target, which is renamed over it, so a failed
// save leaves the target as it was and no partial file behind. False with *error when the
// original cannot be read, its sheets no longer match the workbook's (in number or type), a
// cell holds a value no cell can hold (an array, an object), or the file cannot be written.
bool writeXlsxWorkbook(const WorkbookData& workbook, const std::string& originalPath,
                       const std::string& targetPath, std::string* error);
// The same into *out, from the original package's bytes (empty: none).
bool writeXlsxWorkbookBytes(const WorkbookData& workbook, std::string_view original,
                            std::string* out, std::string* error);

}  // namespace korvel

#endif  // KORVEL_HOSTS_HEADLESS_SPREADSHEET_XLSX_WORKBOOK_H_
