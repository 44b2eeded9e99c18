// `korvel check`: recomputes every formula of a workbook with the engine on the headless host,
// trusting no stored result, and compares each result with the value the workbook stored.
#ifndef KORVEL_TOOLS_KORVEL_CHECK_COMMAND_H_
#define KORVEL_TOOLS_KORVEL_CHECK_COMMAND_H_

#include <string>

#include "compiler/result_check.h"

namespace korvel {

struct CheckOptions {
  std::string input;  // an .xlsx package or a workbook text
  bool json = false;
  double tolerance = kDefaultCheckTolerance;
  // TODAY and NOW read the current time rather than the instant the workbook was saved.
  bool now = false;
};

// Prints one line per mismatch and the summary line "checked N formula cells: M matched, K
// mismatched, U not computed" (or one JSON object). Cells that draw random numbers (RAND,
// RANDBETWEEN, RANDARRAY, and the cells reading them) are not compared and are counted apart on
// a line "not compared (random): R". Returns 0 when nothing mismatched, 1 when
// something did, 2 when the input cannot be read or a formula was rejected (the others are
// still checked).
int checkCommand(const CheckOptions& options);

}  // namespace korvel

#endif  // KORVEL_TOOLS_KORVEL_CHECK_COMMAND_H_
