#include "tools/korvel/compile_command.h"

#include <iostream>
#include <vector>

#include "hosts/headless/disk_files.h"
#include "tools/korvel/application_file.h"
#include "tools/korvel/calc_commands.h"
#include "tools/korvel/exit_status.h"
#include "tools/korvel/workbook_input.h"
#include "util/text.h"

namespace korvel {

int compileCommand(const CompileOptions& options) {
  installHeadlessLocale();
  ApplicationOptions application;
  if (!options.version.empty() && !parseApplicationVersion(options.version, &application.version)) {
    std::cerr << "korvel: --version " << options.version
              << ": expected MAJOR[.MINOR[.BUILD]], each 0 to 255\n";
    return kExitUsage;
  }
  application.name = fromUtf8(options.name);
  if (application.name.empty()) {
    std::string file = options.input.substr(options.input.find_last_of("/\\") + 1);
    application.name = fromUtf8(file.substr(0, file.rfind('.')));
  }
  // The name becomes the workbook's file name when the launcher unpacks it.
  if (application.name.empty() ||
      application.name.find_first_of(u"/\\:*?\"<>|") != std::u16string::npos) {
    std::cerr << "korvel: the application name '" << toUtf8(application.name)
              << "' cannot name a file\n";
    return kExitUsage;
  }
  application.information = fromUtf8(options.information);
  application.dataExchange = options.dataExchange;
  application.saveAsExecutable = options.saveAsExecutable;

  DiskFiles files;
  files.protectInput(fromUtf8(options.input));
  if (!options.agreementFile.empty()) files.protectInput(fromUtf8(options.agreementFile));
  if (!options.agreementFile.empty() &&
      !files.readAll(fromUtf8(options.agreementFile), &application.agreement)) {
    std::cerr << "korvel: cannot read the agreement " << options.agreementFile << "\n";
    return kExitFailed;
  }
  Workbook workbook;
  std::vector<std::string> errors;
  if (!readWorkbookFile(options.input, &workbook, &errors)) {
    printWorkbookFaults(options.input, errors);
    return kExitFailed;
  }
  // An .xlsx book lends its package, so that what the compiler does not read stays.
  std::string package;
  if (isXlsxPath(options.input)) files.readAll(fromUtf8(options.input), &package);

  std::vector<ResourceEntry> entries;
  std::string error;
  if (!buildApplicationResources(workbook, package, application, files, &entries, &error)) {
    std::cerr << "korvel: " << options.input << ": " << error << "\n";
    return kExitFailed;
  }
  if (!files.writeAll(fromUtf8(options.output), encodeApplicationFile(entries), &error)) {
    std::cerr << "korvel: " << error << "\n";
    return kExitFailed;
  }
  return kExitSuccess;
}

}  // namespace korvel
