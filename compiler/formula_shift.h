// Moving the relative references of a formula text, for the shared formulas of workbook packages:
// a package stores the formula once, in its first cell, and every other cell that shares it
// means the same text with its relative references moved by the cell's distance from the first.
#ifndef KORVEL_COMPILER_FORMULA_SHIFT_H_
#define KORVEL_COMPILER_FORMULA_SHIFT_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace korvel {

// The formula with every A1-style reference (cells, ranges, whole columns A:C, whole rows 1:3)
// moved by rows and columns, each part that has no "$" on its own. Text constants, quoted sheet
// names, bracketed parts ([1] external indexes, structured references), array constants,
// function names (a word followed by "("), sheet names (followed by "!"), defined names and
// error literals are left as written. A reference that a move pushes off the sheet (above row 1,
// left of column A, past row 1048576 or column XFD) becomes #REF!, sheet qualifier included.
// The text is scanned, not parsed: a text the parser would reject comes back moved as far as it
// could be read.
std::u16string shiftFormula(std::u16string_view formula, int64_t rows, int64_t columns);

}  // namespace korvel

#endif  // KORVEL_COMPILER_FORMULA_SHIFT_H_
