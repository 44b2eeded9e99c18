// Structured references to the tables of a workbook ("Sales[Amount]", "Sales[[#This Row],[Qty]]",
// "Sales[[#Totals],[Amount]]", "Sales[#Data]", a bare "Sales"): the model has no node for them,
// so the package reader turns them into the ranges they stand for while it reads the workbook.
#ifndef KORVEL_COMPILER_TABLE_REFERENCES_H_
#define KORVEL_COMPILER_TABLE_REFERENCES_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace korvel {

// A table of a sheet: its block of cells (0-based, inclusive), of which the first headerRows
// rows are headers and the last totalsRows rows totals, and its column names in order.
struct WorkbookTable {
  std::u16string name;
  std::u16string sheet;
  uint32_t firstRow = 0, firstColumn = 0, lastRow = 0, lastColumn = 0;
  uint32_t headerRows = 1;
  uint32_t totalsRows = 0;
  std::vector<std::u16string> columns;
};

// The formula with every structured reference to one of the tables written as the A1 reference
// of its cells ('Sheet'!$B$2:$B$9; a reference the table cannot give, such as the headers of a
// table without them, as #REF!). sheet, row and column are those of the cell the formula is in
// ("#This Row" is its row; an unqualified "[Qty]" reads the table that holds the cell). Texts in
// quotes, brackets without a table's name that name no column of the table around the cell
// ("[1]Sheet1!A1") and everything else stay as written. False, with *error set, when a bracket
// that follows a table's name does not close or names no column of the table.
bool resolveTableReferences(std::u16string_view formula, const std::vector<WorkbookTable>& tables,
                            std::u16string_view sheet, uint32_t row, uint32_t column,
                            std::u16string* out, std::string* error);

}  // namespace korvel

#endif  // KORVEL_COMPILER_TABLE_REFERENCES_H_
