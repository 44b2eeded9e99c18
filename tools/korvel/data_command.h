// `korvel data dump`: the header fields and the records of an application data file.
#ifndef KORVEL_TOOLS_KORVEL_DATA_COMMAND_H_
#define KORVEL_TOOLS_KORVEL_DATA_COMMAND_H_

#include <string>

namespace korvel {

// Prints the file; with json one object {"header":{...},"records":[...]}. A file that cannot be
// read prints the import's own message for its code and answers 2. book, when not empty, is the
// workbook or application file the data belongs to, whose sheet names the records' cells take.
int dataDumpCommand(const std::string& path, bool json, const std::string& book);

}  // namespace korvel

#endif  // KORVEL_TOOLS_KORVEL_DATA_COMMAND_H_
