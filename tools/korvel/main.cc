// The korvel command-line tool: runs the runtime's pieces on the headless host.
#include <CLI/CLI.hpp>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#if defined(__linux__) && defined(__GLIBC__)
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#endif
#include <charconv>
#include <chrono>
#include <fstream>
#include <functional>
#include <iostream>
#include <new>
#include <nlohmann/json.hpp>
#include <string>
#include <system_error>
#include <utility>

#include "compiler/model_builder.h"
#include "compiler/starting_values.h"
#include "compiler/workbook_text.h"
#include "data/data_file.h"
#include "engine/engine.h"
#include "engine/locale_settings.h"
#include "engine/number_text.h"
#include "engine/recalculation.h"
#include "engine/value.h"
#include "engine/value_convert.h"
#include "functions/function_catalogue.h"
#include "hosts/headless/disk_files.h"
#include "hosts/headless/headless_calc_host.h"
#include "model/model_stream.h"
#include "tools/korvel/calc_commands.h"
#include "tools/korvel/check_command.h"
#include "tools/korvel/compile_command.h"
#include "tools/korvel/data_command.h"
#include "tools/korvel/exit_status.h"
#include "tools/korvel/model_dump.h"
#include "tools/korvel/model_file.h"
#include "tools/korvel/progress.h"
#include "tools/korvel/run_command.h"
#include "tools/korvel/serve/serve_command.h"
#include "tools/korvel/workbook_input.h"
#include "util/text.h"

namespace korvel {
namespace {

std::string versionText() {
  auto part = [](int shift) { return std::to_string((kDataFileRuntimeVersion >> shift) & 0xFF); };
  return "korvel " + part(24) + "." + part(16) + "." + part(8) + "." + part(0) + " (model format " +
         std::to_string(kModelFormatVersion) + ")";
}

// Reads each line as a cell text the way an operator needs it as a number, and shows the result
// as the engine displays it.
int showValues(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::cerr << "korvel: cannot open " << path << "\n";
    return kExitFailed;
  }
  installHeadlessLocale();
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || (line[0] == '#' && line.size() > 1 && line[1] == ' ')) continue;
    std::u16string text = fromUtf8(line);
    Value value;
    if (uint32_t code = errorFromText(text)) {
      value.setError(code);
    } else if (equalsNoCase(text, literalText(kTextTrue)) ||
               equalsNoCase(text, literalText(kTextFalse))) {
      value.setBoolean(equalsNoCase(text, literalText(kTextTrue)));
    } else {
      double number = 0;
      if (toNumberForOperator(Value::text(text), false, &number)) {
        value.setNumber(number);
      } else {
        value.setText(text);
      }
    }
    static const char* const kKinds[] = {"empty", "integer", "number",    "text",
                                         "text",  "boolean", "reference", "reference list",
                                         "array", "error"};
    std::cout << "\"" << line << "\" -> " << kKinds[int(value.kind())] << ": "
              << toUtf8(toText(value)) << "\n";
  }
  return 0;
}

int buildCommand(const std::string& input, const std::string& output) {
  installHeadlessLocale();
  Workbook workbook;
  std::vector<std::string> errors;
  CompiledModel model;
  Progress progress("korvel build " + input);
  progress.step("reading");
  bool read = readWorkbookFile(input, &workbook, &errors);
  if (read) progress.step("compiling");
  if (!read || !buildModel(workbook, &FunctionCatalogue::instance(), model, &errors)) {
    progress.clear();
    printWorkbookFaults(input, errors);
    return kExitFailed;
  }
  workbook = Workbook();  // the model holds all that is needed from here on
  // The model carries the values the application starts with.
  progress.step("computing");
  {
    HeadlessCalcHost host(&model);
    Engine engine(model, &host);
    engine.recalculation().setObserver(&progress);
    computeStartingValues(engine, host);
  }
  progress.step("writing " + output);
  DiskFiles files;
  files.protectInput(fromUtf8(input));
  std::string error;
  bool written = writeModelFile(files, fromUtf8(output), model, &error);
  progress.clear();
  if (!written) {
    std::cerr << "korvel: " << error << "\n";
    return kExitFailed;
  }
  return 0;
}

bool loadOrReport(const std::string& path, CompiledModel& model) {
  installHeadlessLocale();
  model.functions = &FunctionCatalogue::instance();
  InputKind kind = sniffInput(path);
  if (kind != InputKind::kModel && kind != InputKind::kUnreadable) {
    std::cerr << "korvel: " << path << ": this is " << describeInput(kind) << ", not a model\n";
    return false;
  }
  DiskFiles files;
  std::string error;
  if (readModelFile(files, fromUtf8(path), model, &error)) return true;
  std::cerr << "korvel: " << error << "\n";
  return false;
}

int dumpCommand(const std::string& path, bool asJson) {
  CompiledModel model;
  if (!loadOrReport(path, model)) return kExitFailed;
  if (asJson) {
    std::cout << dumpJson(model).dump(2) << "\n";
  } else {
    std::cout << dumpText(model);
  }
  return 0;
}

int rewriteCommand(const std::string& input, const std::string& output) {
  CompiledModel model;
  if (!loadOrReport(input, model)) return kExitFailed;
  DiskFiles files;
  files.protectInput(fromUtf8(input));
  std::string error;
  if (!writeModelFile(files, fromUtf8(output), model, &error)) {
    std::cerr << "korvel: " << error << "\n";
    return kExitFailed;
  }
  return 0;
}

}  // namespace
}  // namespace korvel

namespace {

#if defined(__linux__) && defined(__GLIBC__)
// A large model touches its memory page by page, and on a virtual machine each fault costs
// microseconds: computing a 100,000-cell workbook spent a third of its time faulting. The
// allocator backs its heap with huge pages only when asked through its tunables, which it reads
// at start, so the tool starts itself again once with them set. When that fails it goes on as
// it is.
void startWithHugePages(char** argv) {
  const char* tunables = std::getenv("GLIBC_TUNABLES");
  if (tunables != nullptr && std::strstr(tunables, "glibc.malloc.hugetlb") != nullptr) return;
  std::string value = "glibc.malloc.hugetlb=1";
  if (tunables != nullptr && *tunables != '\0') value = std::string(tunables) + ":" + value;
  if (setenv("GLIBC_TUNABLES", value.c_str(), 1) != 0) return;
  execv("/proc/self/exe", argv);
}
#endif

}  // namespace

int main(int argc, char** argv) {
#if defined(__linux__) && defined(__GLIBC__)
  startWithHugePages(argv);
#endif
#if defined(__GLIBC__)
  // Models are built in large vectors that grow by doubling. Above the allocator's default mapping
  // threshold each regrowth maps fresh pages from the system and returns the old ones, and the
  // page faults cost more than the copying; blocks up to a few megabytes are kept in the heap to
  // be reused. Larger ones (a large model's cell lists, the dependency walk's buffers, the file
  // being read) are mapped, so that their pages go back to the system once they are freed rather
  // than stay resident beside the model: at a million cells that is a tenth of the peak.
  mallopt(M_MMAP_THRESHOLD, 4 << 20);
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
  // The model file is decoded on a second thread; with an arena of its own, the memory of the
  // decoded pieces would stay with that arena, unused by the model built from them.
  mallopt(M_ARENA_MAX, 1);
#endif
  CLI::App app{"korvel: the runtime of compiled spreadsheet applications, on the headless host"};
  app.require_subcommand(1);
  app.set_version_flag("--version", korvel::versionText());
  std::string valuesFile;
  auto* values = app.add_subcommand("values", "Read cell texts as the engine does and show them");
  values->add_option("FILE", valuesFile, "A text file, one cell text a line")->required();

  std::string bookFile, modelFile, outputFile;
  auto* build = app.add_subcommand(
      "build", "Compile an .xlsx workbook or a workbook text into a model (.kvm)");
  build->add_option("BOOK", bookFile, "An .xlsx workbook or a workbook text file")->required();
  build->add_option("-o,--output", outputFile, "The model file to write")->required();

  bool asJson = false;
  auto* dump = app.add_subcommand("dump", "Load a model and print what it holds");
  dump->add_option("MODEL", modelFile, "A .kvm model file")->required();
  dump->add_flag("--json", asJson, "Print one JSON object");

  std::string rewriteInput;
  auto* rewrite = app.add_subcommand("rewrite", "Load a model and write it with the model writer");
  rewrite->add_option("IN", rewriteInput, "The model to load")->required();
  rewrite->add_option("OUT", outputFile, "The model file to write")->required();

  korvel::CalcOptions calcOptions;
  auto* calc = app.add_subcommand(
      "calc",
      "Compute an .xlsx workbook, a workbook text or a model on the headless host and print "
      "cell values");
  calc->add_option("INPUT", calcOptions.input, "An .xlsx workbook, a workbook text or a .kvm model")
      ->required();
  calc->add_option("--set", calcOptions.sets,
                   "Sheet1!A1=VALUE: change an input cell (VALUE as in a workbook text)")
      ->allow_extra_args(false);
  calc->add_option("--get", calcOptions.gets, "A cell to print (default: every formula cell)")
      ->allow_extra_args(false);
  calc->add_flag("--json", calcOptions.json, "Print one JSON object");
  calc->add_flag("--raw", calcOptions.raw,
                 "Print the values rather than what the cells show in their number formats");

  korvel::CompileOptions compileOptions;
  auto* compile = app.add_subcommand(
      "compile", "Compile an .xlsx workbook or a workbook text into an application file (.kvapp)");
  compile->add_option("BOOK", compileOptions.input, "An .xlsx workbook or a workbook text file")
      ->required();
  compile->add_option("-o,--output", compileOptions.output, "The application file to write")
      ->required();
  compile->add_option("--name", compileOptions.name,
                      "The application's name (default: the book's file name)");
  compile->add_option("--version", compileOptions.version, "The application's version, 1.2.3");
  compile->add_flag("--data-exchange", compileOptions.dataExchange,
                    "The user's data can be exported and imported");
  compile->add_flag("--save-as-executable", compileOptions.saveAsExecutable,
                    "Saving writes the workbook back into the application file");
  compile->add_option("--agreement", compileOptions.agreementFile,
                      "A file whose bytes are the licence agreement");
  compile->add_option("--info", compileOptions.information,
                      "The information text of the About box");

  korvel::RunOptions runOptions;
  auto* run = app.add_subcommand(
      "run",
      "Run a workbook or an application file on the headless program and print what it "
      "shows");
  run->add_option("BOOK", runOptions.input,
                  "An .xlsx workbook, a workbook text or an application file (.kvapp)")
      ->required();
  run->add_option("--set", runOptions.sets,
                  "Sheet1!A1=TEXT: type TEXT into the cell as the user does")
      ->allow_extra_args(false);
  run->add_option("--get", runOptions.gets,
                  "A cell to print (default: every cell the runtime computes)")
      ->allow_extra_args(false);
  run->add_flag("--manual", runOptions.manual,
                "Manual calculation during the edits, then the calculate key");
  run->add_flag("--undo", runOptions.undo, "Undo the last edit through the program's Undo");
  run->add_option("--import", runOptions.importFile,
                  "Import the data file through the application's service entry");
  run->add_option("--export", runOptions.exportFile,
                  "Export the changed cells to the data file through the service entry");
  run->add_option("--export-collected", runOptions.exportCollectedFile,
                  "Export the changed and the collected cells to the data file");
  run->add_flag("--save", runOptions.save,
                "Save the workbook in the program, which saves the application in place");
  run->add_option("--save-as", runOptions.saveAs,
                  "Save the application as a new application file (.kvapp is appended)");
  run->add_flag("--about", runOptions.about, "Show the About box");
  run->add_flag("--agreement", runOptions.agreement, "Show the licence agreement");
  run->add_flag("--json", runOptions.json, "Print one JSON object");
  run->add_flag("--raw", runOptions.raw,
                "Print the values rather than what the cells show in their number formats");

  korvel::ServeOptions serveOptions;
  long long idleMinutes = 30;
  auto* serve = app.add_subcommand(
      "serve", "Serve an application as a web page and a JSON API, one state per browser session");
  serve
      ->add_option("APP", serveOptions.config.input,
                   "An application file (.kvapp), an .xlsx workbook or a workbook text")
      ->required();
  serve->add_option("--port", serveOptions.port, "The port to listen on; 0: any free port")
      ->check(CLI::Range(0, 65535));
  serve->add_option("--host", serveOptions.host,
                    "The address to listen on (default 127.0.0.1: this machine only)");
  serve
      ->add_option("--max-sessions", serveOptions.config.maxSessions,
                   "Sessions held at once (default 100)")
      ->check(CLI::Range(1, 100000));
  serve->add_option("--idle-minutes", idleMinutes, "A session unused this long ends (default 30)")
      ->check(CLI::Range(1, 7 * 24 * 60));
  serve->add_flag("--allow-save", serveOptions.config.allowSave,
                  "Let the page's users save the application in place");

  korvel::EvalOptions evalOptions;
  auto* eval = app.add_subcommand("eval", "Evaluate one formula and print its value");
  eval->add_option("FORMULA", evalOptions.formula, "The formula, such as =1/3")->required();
  eval->add_option("--book", evalOptions.book,
                   "An .xlsx workbook or a workbook text the formula reads");
  eval->add_option("--at", evalOptions.at, "The cell the formula stands in, such as Sheet1!C5");
  eval->add_flag("--date1904", evalOptions.date1904, "Use the 1904 date system");
  eval->add_flag("--json", evalOptions.json, "Print one JSON object");
  eval->add_flag("--raw", evalOptions.raw,
                 "Print the value rather than what the cell shows in its number format");

  korvel::CheckOptions checkOptions;
  auto* check = app.add_subcommand(
      "check", "Recompute every formula of a workbook and compare with the stored results");
  check->add_option("BOOK", checkOptions.input, "An .xlsx workbook or a workbook text")->required();
  check->add_flag("--json", checkOptions.json, "Print one JSON object");
  check->add_flag("--now", checkOptions.now,
                  "TODAY and NOW read the current time, not the workbook's saved time");
  check
      ->add_option("--tolerance", checkOptions.tolerance,
                   "Relative tolerance of number comparisons (default 1e-9)")
      ->check(CLI::Validator(
          [](const std::string& text) -> std::string {
            double value = 0;
            auto [end, failed] = std::from_chars(text.data(), text.data() + text.size(), value);
            if (failed != std::errc() || end != text.data() + text.size() || !(value >= 0))
              return "expected a number of 0 or more, such as 1e-9";
            return "";
          },
          "NUMBER"));

  std::string dataFile;
  bool dataJson = false;
  auto* data = app.add_subcommand("data", "Application data files (.dat)");
  data->require_subcommand(1);
  auto* dataDump = data->add_subcommand("dump", "Print the header and the records of a data file");
  dataDump->add_option("FILE", dataFile, "A .dat data file")->required();
  dataDump->add_flag("--json", dataJson, "Print one JSON object");
  std::string dataBook;
  dataDump->add_option("--book", dataBook,
                       "The workbook or application file (.kvapp) the data belongs to, whose "
                       "sheet names the cells take");

  // A word where a command belongs that names none is said as such (the parser would ask for a
  // command as if none were given).
  if (argc > 1 && argv[1][0] != '-') {
    bool known = false;
    std::function<bool(const CLI::App*)> every = [](const CLI::App*) { return true; };
    for (const CLI::App* command : std::as_const(app).get_subcommands(every)) {
      known |= command->check_name(argv[1]);
    }
    if (!known) {
      std::cerr << "korvel: '" << argv[1] << "' is not a command; korvel --help lists them\n";
      return korvel::kExitUsage;
    }
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // Help and the version are answers, not errors; every usage error has one status.
    int printed = app.exit(e);
    return printed == 0 ? korvel::kExitSuccess : korvel::kExitUsage;
  }
  try {
    if (*data && *dataDump) return korvel::dataDumpCommand(dataFile, dataJson, dataBook);
    if (*check) return korvel::checkCommand(checkOptions);
    if (*calc) return korvel::calcCommand(calcOptions);
    if (*run) return korvel::runCommand(runOptions);
    if (*serve) {
      serveOptions.config.idleTimeout = std::chrono::minutes(idleMinutes);
      return korvel::serveCommand(serveOptions);
    }
    if (*compile) return korvel::compileCommand(compileOptions);
    if (*eval) return korvel::evalCommand(evalOptions);
    if (*values) return korvel::showValues(valuesFile);
    if (*build) return korvel::buildCommand(bookFile, outputFile);
    if (*dump) return korvel::dumpCommand(modelFile, asJson);
    if (*rewrite) return korvel::rewriteCommand(rewriteInput, outputFile);
  } catch (const std::bad_alloc&) {
    // A computation cut short has no result to print: any value shown would be a wrong one.
    std::cerr << "korvel: out of memory; nothing was computed to the end\n";
    return korvel::kExitFailed;
  }
  return 0;
}
