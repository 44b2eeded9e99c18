// `korvel data dump`: the header fields and the records of an application data file.
#ifndef KORVEL_TOOLS_KORVEL_DATA_COMMAND_H_
#define KORVEL_TOOLS_KORVEL_DATA_COMMAND_H_

#include <string>

namespace korvel {

// Prints the file; with json one object {"header":{...},"records":[...]}. A file that cannot be
// read prints the import's own message for its code and answers 2.
int dataDumpCommand(const std::string& path, bool json);

}  // namespace korvel

#endif  // KORVEL_TOOLS_KORVEL_DATA_COMMAND_H_
