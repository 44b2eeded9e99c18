// Reading the workbook a command names, whether an .xlsx package or a workbook text, and carrying
// its calculation settings into the engine that computes it.
#ifndef KORVEL_TOOLS_KORVEL_WORKBOOK_INPUT_H_
#define KORVEL_TOOLS_KORVEL_WORKBOOK_INPUT_H_

#include <string>
#include <vector>

#include "compiler/workbook.h"

namespace korvel {

class Engine;
class HeadlessCalcHost;

// True when the file is to be read as an .xlsx package: its name ends in .xlsx or .xlsm (so that
// a damaged package is reported as one), or its bytes start as a zip archive does.
bool isXlsxPath(const std::string& path);

// Reads an .xlsx package or a workbook text into *workbook. False with messages in *errors when
// the file cannot be read or has faults.
bool readWorkbookFile(const std::string& path, Workbook* workbook,
                      std::vector<std::string>* errors);

// The workbook's date system and iteration settings, for the engine and the host alike (the
// host answers the engine's question about the date system, so the two must agree).
void applyWorkbookSettings(const Workbook& workbook, Engine& engine, HeadlessCalcHost& host);
// The same, for a caller that is done with the workbook's formula texts: each is freed once the
// host holds its own copy, so that the two are not held at once.
void applyWorkbookSettings(Workbook&& workbook, Engine& engine, HeadlessCalcHost& host);

}  // namespace korvel

#endif  // KORVEL_TOOLS_KORVEL_WORKBOOK_INPUT_H_
