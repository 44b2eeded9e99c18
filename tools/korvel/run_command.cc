#include "tools/korvel/run_command.h"

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <nlohmann/json.hpp>
#include <string>
#include <system_error>

#include "compiler/formula_parser.h"
#include "engine/value_variant.h"
#include "hosts/headless/spreadsheet/program_objects.h"
#include "runtime/addin_entry_points.h"
#include "runtime/excel_bridge.h"
#include "runtime/runtime.h"
#include "tools/korvel/application_file.h"
#include "tools/korvel/calc_commands.h"
#include "tools/korvel/cell_text.h"
#include "tools/korvel/exit_status.h"
#include "tools/korvel/headless_session.h"
#include "tools/korvel/workbook_input.h"
#include "util/text.h"

namespace korvel {

namespace {

// The absolute form of a path, as the runtime and the launcher hold paths.
bool absolutePath(const std::string& path, std::u16string* out) {
  std::error_code failed;
  std::filesystem::path absolute = std::filesystem::absolute(path, failed);
  if (failed) return false;
  *out = fromUtf8(absolute.lexically_normal().string());
  return true;
}

// The runtime takes paths from the workbook's code as 8-bit texts, so such a path must fit one
// unit per byte.
bool servicePath(const std::string& path, std::u16string* out) {
  if (!absolutePath(path, out)) return false;
  for (char16_t unit : *out) {
    if (unit > 0xFF) return false;
  }
  return true;
}

// The data-exchange steps: the option, the file and the service code.
struct DataStep {
  const char* option;
  const std::string* file;
  int code;
};

}  // namespace

int runCommand(const RunOptions& options) {
  installHeadlessLocale();
  // On the machine's files: the data files, the application file and its saved workbook are real.
  HeadlessSession session(true);
  std::string error;
  if (isApplicationInput(options.input)) {
    std::u16string path;
    if (!absolutePath(options.input, &path)) {
      std::cerr << "korvel: " << options.input << ": the path does not read\n";
      return kExitFailed;
    }
    if (!session.startApplication(path, SessionOptions{}, &error)) {
      std::cerr << "korvel: " << options.input << ": " << error << "\n";
      return kExitFailed;
    }
  } else {
    Workbook workbook;
    std::vector<std::string> errors;
    if (!readWorkbookFile(options.input, &workbook, &errors)) {
      printWorkbookFaults(options.input, errors);
      return kExitFailed;
    }
    SessionOptions sessionOptions;
    sessionOptions.workbookName = programWorkbookName(options.input);
    if (!session.start(workbook, sessionOptions, &error)) {
      std::cerr << "korvel: " << options.input << ": " << error << "\n";
      return kExitFailed;
    }
  }
  Runtime& runtime = session.runtime();

  if (options.manual) session.setManualCalculation(true);
  for (const std::string& assignment : options.sets) {
    size_t equals = assignment.find('=');
    if (equals == std::string::npos) {
      std::cerr << "korvel: --set " << assignment << ": expected CELL=TEXT\n";
      return kExitUsage;
    }
    std::u16string cell = session.cellName(fromUtf8(assignment.substr(0, equals)));
    if (cell.empty() || !insideSheetLimits(assignment.substr(0, equals))) {
      std::cerr << "korvel: --set " << cutForMessage(assignment) << ": no such cell\n";
      return kExitUsage;
    }
    // The runtime puts a computed cell's value back after an entry, so typing into it would
    // change nothing and say nothing; calc refuses it the same way.
    const std::vector<std::u16string>& computed = session.computedCells();
    if (std::find(computed.begin(), computed.end(), cell) != computed.end()) {
      std::cerr << "korvel: --set " << cutForMessage(assignment) << ": the cell holds a formula\n";
      return kExitDiffers;
    }
    // A formula the program cannot read is refused with the reason, as the program's own entry
    // refuses it, rather than stored to show #NAME?.
    std::u16string typed = fromUtf8(assignment.substr(equals + 1));
    ParseError parseError;
    if (!typed.empty() && typed[0] == u'=' && !parseFormula(typed, &parseError)) {
      std::cerr << "korvel: --set " << cutForMessage(assignment) << ": " << parseError.message
                << "\n";
      return kExitDiffers;
    }
    if (!session.type(cell, typed)) {
      std::cerr << "korvel: --set " << cutForMessage(assignment)
                << ": the program refused the entry\n";
      return kExitDiffers;
    }
  }
  if (options.manual) session.pressCalculateKey();
  if (options.undo && !session.undo()) {
    std::cerr << "korvel: --undo: there is nothing to undo\n";
    return kExitFailed;
  }

  const DataStep steps[] = {
      {"--import", &options.importFile, kServiceImport},
      {"--export", &options.exportFile, kServiceExport},
      {"--export-collected", &options.exportCollectedFile, kServiceExportCollected}};
  for (const DataStep& step : steps) {
    if (step.file->empty()) continue;
    if (!runtime.settings().dataExchange) {
      std::cerr << "korvel: " << step.option
                << ": the application was compiled without --data-exchange\n";
      return kExitFailed;
    }
    std::u16string path;
    if (!servicePath(*step.file, &path)) {
      std::cerr << "korvel: " << step.option << " " << *step.file
                << ": the service entry takes only paths of 8-bit characters\n";
      return kExitUsage;
    }
    double answer = callService(runtime, step.code, path);
    session.runMessages();
    std::string failure = runtime.dataExchange().lastFailure();
    if (answer < 0 || !failure.empty()) {
      if (failure.empty()) failure = "the export failed";
      std::cerr << "korvel: " << step.option << ": " << failure << "\n";
      return kExitFailed;
    }
  }

  if (options.save || !options.saveAs.empty()) {
    if (!runtime.settings().saveAsExecutable) {
      std::cerr << "korvel: " << (options.save ? "--save" : "--save-as")
                << ": the application was compiled without --save-as-executable\n";
      return kExitFailed;
    }
  }
  if (options.save) {
    // The user's save: the program's before-save event leads the runtime to save in place.
    session.program().saveWorkbook(session.workbookName());
    session.runMessages();
    if (std::string failure = runtime.packaging().lastFailure(); !failure.empty()) {
      std::cerr << "korvel: --save: " << failure << "\n";
      return kExitFailed;
    }
  }
  if (!options.saveAs.empty()) {
    std::string target = options.saveAs;
    if (!endsWithNoCase(target, kApplicationFileExtension)) target += kApplicationFileExtension;
    std::u16string path;
    if (!absolutePath(target, &path)) {
      std::cerr << "korvel: --save-as " << target << ": the path does not read\n";
      return kExitUsage;
    }
    session.dialogs().queueFileAnswer(path);
    callService(runtime, kServiceSaveExecutable, {});
    session.runMessages();
    std::string failure = runtime.packaging().lastFailure();
    if (failure.empty() && runtime.channelState().applicationPath != path) {
      failure = "the application was not saved as " + target;
    }
    if (!failure.empty()) {
      std::cerr << "korvel: --save-as: " << failure << "\n";
      return kExitFailed;
    }
  }
  if (options.about) {
    callService(runtime, kServicePostAbout, {});
    session.runMessages();
  }
  if (options.agreement) {
    callService(runtime, kServicePostAgreement, {});
    session.runMessages();
  }

  std::vector<std::u16string> cells;
  std::vector<std::string> wanted;
  if (!expandGets(options.gets, &wanted)) return kExitUsage;
  for (const std::string& get : wanted) {
    std::u16string name = session.cellName(fromUtf8(get));
    if (name.empty() || !insideSheetLimits(get)) {
      std::cerr << "korvel: --get " << get << ": no such cell\n";
      return kExitUsage;
    }
    cells.push_back(name);
  }
  if (options.gets.empty()) cells = session.computedCells();

  std::vector<std::string> dialogs;
  for (const ShownDialog& dialog : session.dialogs().shown()) {
    std::string text = describeDialog(dialog);
    if (!text.empty() && text.back() != '\n') text += '\n';
    dialogs.push_back(std::move(text));
  }
  std::vector<std::string> messages;
  for (const auto& box : session.windows().messageBoxes()) {
    messages.push_back(toUtf8(box.caption) + ": " + toUtf8(box.text));
  }
  // What the cell shows, or with --raw the text of its value.
  auto text = [&](const std::u16string& cell) {
    return toUtf8(options.raw ? valueText(session.value(cell)) : session.display(cell));
  };
  if (options.json) {
    nlohmann::ordered_json out = nlohmann::ordered_json::array();
    for (const std::u16string& cell : cells) {
      nlohmann::ordered_json entry{{"cell", toUtf8(cell)}, {"text", text(cell)}};
      addJsonValue(fromVariant(session.value(cell)), &entry);
      out.push_back(std::move(entry));
    }
    std::cout << nlohmann::ordered_json{{"cells", std::move(out)},
                                        {"dialogs", dialogs},
                                        {"messages", messages}}
                     .dump(2)
              << "\n";
  } else {
    for (const std::u16string& cell : cells) {
      std::cout << toUtf8(cell) << " = " << text(cell) << "\n";
    }
    for (const std::string& dialog : dialogs) std::cout << dialog;
    for (const std::string& message : messages) std::cout << "message box: " << message << "\n";
  }
  return kExitSuccess;
}

}  // namespace korvel
