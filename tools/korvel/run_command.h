// `korvel run`: a whole application on the headless host, edited as the user edits it, its data
// exported and imported and the application saved through the runtime's service entry.
#ifndef KORVEL_TOOLS_KORVEL_RUN_COMMAND_H_
#define KORVEL_TOOLS_KORVEL_RUN_COMMAND_H_

#include <string>
#include <vector>

namespace korvel {

struct RunOptions {
  std::string input;  // an .xlsx workbook, a workbook text or an application file (.kvapp)
  std::vector<std::string> sets;  // "Sheet1!A1=TEXT", TEXT as the user types it
  std::vector<std::string> gets;  // "Sheet1!B2"; none: every cell the runtime computes
  bool manual = false;  // manual calculation before the edits; the calculate key at the end
  bool undo = false;    // the program's Undo after the edits
  // After the edits, in this order, each through the runtime's own paths.
  std::string importFile;
  std::string exportFile;
  std::string exportCollectedFile;
  bool save = false;   // the user saves the workbook in the program
  std::string saveAs;  // the application's Save As dialog, answered with this path
  bool about = false;
  bool agreement = false;
  bool json = false;
  bool raw = false;  // the cells' values rather than what they show
};

int runCommand(const RunOptions& options);

}  // namespace korvel

#endif  // KORVEL_TOOLS_KORVEL_RUN_COMMAND_H_
