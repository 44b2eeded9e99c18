// `korvel compile`: a workbook compiled into an application file (.kvapp), the form in which the
// launcher carries an application.
#ifndef KORVEL_TOOLS_KORVEL_COMPILE_COMMAND_H_
#define KORVEL_TOOLS_KORVEL_COMPILE_COMMAND_H_

#include <string>

namespace korvel {

struct CompileOptions {
  std::string input;    // an .xlsx workbook or a workbook text
  std::string output;   // the application file to write
  std::string name;     // empty: the input's file name without its extension
  std::string version;  // "1.2.3"; empty: 0.0.0
  bool dataExchange = false;
  bool saveAsExecutable = false;
  std::string agreementFile;  // empty: no agreement
  std::string information;
};

// 0 when written; 1 for a version or name that does not read; 2 when the input is refused or a
// file cannot be read or written.
int compileCommand(const CompileOptions& options);

}  // namespace korvel

#endif  // KORVEL_TOOLS_KORVEL_COMPILE_COMMAND_H_
