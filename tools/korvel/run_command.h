// `korvel run`: a whole application on the headless host, edited as the user edits it.
#ifndef KORVEL_TOOLS_KORVEL_RUN_COMMAND_H_
#define KORVEL_TOOLS_KORVEL_RUN_COMMAND_H_

#include <string>
#include <vector>

namespace korvel {

struct RunOptions {
  std::string input;              // an .xlsx workbook or a workbook text
  std::vector<std::string> sets;  // "Sheet1!A1=TEXT", TEXT as the user types it
  std::vector<std::string> gets;  // "Sheet1!B2"; none: every cell the runtime computes
  bool manual = false;  // manual calculation before the edits; the calculate key at the end
  bool undo = false;    // the program's Undo after the edits
  bool json = false;
};

int runCommand(const RunOptions& options);

}  // namespace korvel

#endif  // KORVEL_TOOLS_KORVEL_RUN_COMMAND_H_
