#include "tools/korvel/run_command.h"

#include <iostream>
#include <nlohmann/json.hpp>
#include <string>

#include "tools/korvel/calc_commands.h"
#include "tools/korvel/headless_session.h"
#include "tools/korvel/workbook_input.h"
#include "util/text.h"

namespace korvel {

namespace {

constexpr int kUsage = 1;
constexpr int kRefused = 2;

// The file name part of a path, for the workbook's name in the program.
std::u16string workbookFileName(const std::string& path) {
  std::u16string name = fromUtf8(path.substr(path.find_last_of("/\\") + 1));
  size_t dot = name.rfind(u'.');
  return (dot == std::u16string::npos ? name : name.substr(0, dot)) + u".xlsx";
}

}  // namespace

int runCommand(const RunOptions& options) {
  installHeadlessLocale();
  Workbook workbook;
  std::vector<std::string> errors;
  if (!readWorkbookFile(options.input, &workbook, &errors)) {
    for (const std::string& e : errors) std::cerr << options.input << ": " << e << "\n";
    return kRefused;
  }
  HeadlessSession session;
  SessionOptions sessionOptions;
  sessionOptions.workbookName = workbookFileName(options.input);
  std::string error;
  if (!session.start(workbook, sessionOptions, &error)) {
    std::cerr << "korvel: " << options.input << ": " << error << "\n";
    return kRefused;
  }

  if (options.manual) session.setManualCalculation(true);
  for (const std::string& assignment : options.sets) {
    size_t equals = assignment.find('=');
    if (equals == std::string::npos) {
      std::cerr << "korvel: --set " << assignment << ": expected CELL=TEXT\n";
      return kUsage;
    }
    if (!session.type(fromUtf8(assignment.substr(0, equals)),
                      fromUtf8(assignment.substr(equals + 1)))) {
      std::cerr << "korvel: --set " << assignment << ": the program refused the entry\n";
      return kUsage;
    }
  }
  if (options.manual) session.pressCalculateKey();
  if (options.undo && !session.undo()) {
    std::cerr << "korvel: --undo: there is nothing to undo\n";
    return kUsage;
  }

  std::vector<std::u16string> cells;
  for (const std::string& get : options.gets) {
    std::u16string name = session.cellName(fromUtf8(get));
    if (name.empty()) {
      std::cerr << "korvel: --get " << get << ": no such cell\n";
      return kUsage;
    }
    cells.push_back(name);
  }
  if (options.gets.empty()) cells = session.computedCells();

  if (options.json) {
    nlohmann::ordered_json out = nlohmann::ordered_json::array();
    for (const std::u16string& cell : cells) {
      out.push_back({{"cell", toUtf8(cell)}, {"text", toUtf8(session.display(cell))}});
    }
    std::cout << nlohmann::ordered_json{{"cells", std::move(out)}}.dump(2) << "\n";
  } else {
    for (const std::u16string& cell : cells) {
      std::cout << toUtf8(cell) << " = " << toUtf8(session.display(cell)) << "\n";
    }
  }
  return 0;
}

}  // namespace korvel
