// The workbook text format: a plain UTF-8 text that describes a workbook for fixtures and quick
// models, one item per line. docs/workbook_text.md describes it:
//
//   # a comment line
//   [Sheet1]                       starts a sheet
//   A1: 42                         constants: numbers, "texts", TRUE/FALSE, error literals
//   A5: =A1*2 -> 84                a formula, with the value the workbook last showed
//   B1:C2: {=TRANSPOSE(A1:B2)}     an array formula over B1:C2
//   name Rate: =Sheet1!$A$1        a workbook-level name
//   name Sheet1!Local: =A1         a sheet-level name
//
// The reader checks the layout of each line and the constants; formulas are checked when the
// model is built, with the line number kept in the workbook.
#ifndef KORVEL_COMPILER_WORKBOOK_TEXT_H_
#define KORVEL_COMPILER_WORKBOOK_TEXT_H_

#include <string>
#include <string_view>
#include <vector>

#include "compiler/workbook.h"

namespace korvel {

// Reads the text into *workbook (appending to what it holds). Returns true when every line was
// understood; otherwise false, and *errors (which may be null) receives one message per faulty
// line, "line N: ...", in line order. Lines that were understood are kept either way.
bool readWorkbookText(std::string_view utf8, Workbook* workbook, std::vector<std::string>* errors);

// Reads the file at path (UTF-8) as above; a file that cannot be read gives one error naming it.
bool readWorkbookTextFile(const std::string& path, Workbook* workbook,
                          std::vector<std::string>* errors);

}  // namespace korvel

#endif  // KORVEL_COMPILER_WORKBOOK_TEXT_H_
