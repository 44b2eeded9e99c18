// What the commands print of a cell: the text it shows in its number format, and its value in
// JSON.
#ifndef KORVEL_TOOLS_KORVEL_CELL_TEXT_H_
#define KORVEL_TOOLS_KORVEL_CELL_TEXT_H_

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "compiler/workbook.h"
#include "engine/value.h"
#include "model/address.h"

namespace korvel {

// The number formats of a workbook's cells, kept once the workbook itself is let go, so that a
// value shows as the workbook shows it (a date as a date, not as its serial).
class CellFormats {
 public:
  CellFormats() = default;
  // Takes the formats out of the workbook; its sheets are the model's sheets by position.
  explicit CellFormats(Workbook& workbook);

  // The cell's format code; empty for General.
  std::u16string_view at(CellRef cell) const;
  bool date1904 = false;

 private:
  std::vector<std::u16string> codes_;
  std::vector<std::vector<CellNumberFormat>> sheets_;  // by row and column
};

// The text the value shows in the format, as a cell of the headless program shows it; an array
// shows as {1,2;3,4} with each element in the format.
std::u16string displayedText(const Value& value, std::u16string_view format, bool date1904);

// The sheet's name as a reference shows it: in apostrophes when it is not a plain word.
std::string sheetReferenceName(std::u16string_view name);

// Adds the value to a JSON entry as "value" (nothing for an empty one): a number, a boolean, a
// text (an error by its text), an array as its rows.
void addJsonValue(const Value& value, nlohmann::ordered_json* entry);

}  // namespace korvel

#endif  // KORVEL_TOOLS_KORVEL_CELL_TEXT_H_
