// The formulas the headless spreadsheet program computes itself: numbers, quoted texts, TRUE and
// FALSE, references to single cells (of the formula's own sheet or of a named sheet of the same
// workbook) and the operators + - * / with parentheses. Everything else (functions, names,
// comparisons...) is beyond the program: such a formula gives #NAME? and says so, so that tests
// can count what a later, fuller program would have to compute.
#ifndef KORVEL_HOSTS_HEADLESS_SPREADSHEET_PROGRAM_FORMULA_H_
#define KORVEL_HOSTS_HEADLESS_SPREADSHEET_PROGRAM_FORMULA_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hosts/headless/spreadsheet/a1_reference.h"
#include "platform/variant.h"

namespace korvel {

// The program's error values as its automation answers them (VT_ERROR codes).
inline constexpr uint32_t kCellErrorNull = 0x800A07D0;
inline constexpr uint32_t kCellErrorDiv0 = 0x800A07D7;
inline constexpr uint32_t kCellErrorValue = 0x800A07DF;
inline constexpr uint32_t kCellErrorRef = 0x800A07E7;
inline constexpr uint32_t kCellErrorName = 0x800A07ED;
inline constexpr uint32_t kCellErrorNum = 0x800A07F4;
inline constexpr uint32_t kCellErrorNA = 0x800A07FA;

// "#DIV/0!" and the others; empty for a code that is not a cell error.
std::u16string cellErrorText(uint32_t code);
// The code of an error text ("#N/A"), or 0.
uint32_t cellErrorCode(std::u16string_view text);

struct FormulaReference {
  std::u16string sheet;  // empty: the formula's own sheet
  CellArea area;
};

struct FormulaOutcome {
  Variant value;
  // The formula uses something the program does not compute; value is then #NAME?.
  bool unsupported = false;
};

// Reads a cell for a formula: its value (empty for an empty cell), or null when the sheet does not
// exist.
using FormulaCellReader = std::function<std::optional<Variant>(const std::u16string& sheet,
                                                               uint32_t row, uint32_t column)>;

// Computes the formula (with or without its leading "=").
FormulaOutcome evaluateFormula(std::u16string_view formula, const FormulaCellReader& read);

// The references the formula text names, in order (a text that cannot be read gives those found
// before the fault).
std::vector<FormulaReference> formulaReferences(std::u16string_view formula);

// A plain decimal number as the program reads it from a text ("12", "-1.5", "2E3"); null otherwise.
std::optional<double> parseCellNumber(std::u16string_view text);

// A number the user types in another form than the plain one: a percentage ("15%", format "0%"),
// an amount of money ("$1,200", kept in General), a date ("2026-12-10", format "yyyy-mm-dd"), a
// time or a date with a time. Null for a text that reads as none of them.
struct TypedNumber {
  double number = 0;
  std::u16string format;
};
std::optional<TypedNumber> readTypedNumber(std::u16string_view text, bool date1904);

// A text as the program shows a number in a cell of the General format.
std::u16string generalNumberText(double value);

}  // namespace korvel

#endif  // KORVEL_HOSTS_HEADLESS_SPREADSHEET_PROGRAM_FORMULA_H_
