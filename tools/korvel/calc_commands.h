// `korvel calc` and `korvel eval`: a model or a single formula computed by the engine on the
// headless calculation host, which computes nothing itself (a call that needs the host program
// gives #NAME? and is counted in the "not computed" line on stderr).
#ifndef KORVEL_TOOLS_KORVEL_CALC_COMMANDS_H_
#define KORVEL_TOOLS_KORVEL_CALC_COMMANDS_H_

#include <cstddef>
#include <string>
#include <vector>

namespace korvel {

// Installs the headless host's user locale and clock for the engine's texts.
void installHeadlessLocale();

struct CalcOptions {
  std::string input;              // a workbook text or a .kvm model (told apart by its bytes)
  std::vector<std::string> sets;  // "Sheet1!A1=VALUE", VALUE as a workbook text constant
  std::vector<std::string> gets;  // "Sheet1!B2"; none: every formula cell
  bool json = false;
  bool raw = false;  // the values' own texts rather than what the cells show
};

// Loads the model, computes the starting values, runs the full recalculation, applies the sets
// as changed input cells with one changed-cells recalculation, and prints the cells asked for.
// Returns the exit status (exit_status.h): 1 for a set of a formula cell, 64 for a set or get
// that does not read, 2 for an input that is refused.
int calcCommand(const CalcOptions& options);

// The --get texts with each range, "Sheet1!B2:C3", replaced by its cells row by row
// ("Sheet1!B2", "Sheet1!C2", ...); other texts stay as they are. False, with the message on
// stderr, when a range is not two cells or covers more than kMaxGetCells.
inline constexpr size_t kMaxGetCells = 1'000'000;
// Whether the text, "Sheet1!B2" or "B2", names a cell inside the sheet limits (the sheet is not
// looked up), so that run and calc refuse the same addresses.
bool insideSheetLimits(const std::string& text);
bool expandGets(const std::vector<std::string>& gets, std::vector<std::string>* out);

struct EvalOptions {
  std::string formula;
  std::string book;  // a workbook text, or empty
  std::string at;    // the cell the formula stands in, or empty for the default
  bool date1904 = false;
  bool json = false;  // one JSON object rather than the display text
  bool raw = false;   // the value's own text rather than what the cell shows
};

// Evaluates the formula as if it stood in the cell (a value or an array wanted) and prints its
// display text. Returns 0 whatever the value; 2 when the formula does not parse or build, or the
// book is refused; 64 when the cell does not read.
int evalCommand(const EvalOptions& options);

}  // namespace korvel

#endif  // KORVEL_TOOLS_KORVEL_CALC_COMMANDS_H_
