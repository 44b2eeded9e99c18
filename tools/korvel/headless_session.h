// A whole application running on the headless host: the headless spreadsheet program with the
// application workbook, the runtime loaded into it as the program's add-in, and the launcher
// stand-in that hands the runtime its settings and model and starts it. The tool's run command
// and the end-to-end tests drive applications through it the way a user does: by typing into the
// program's cells, pressing the calculate key and undoing. The runtime's subsystems (data exchange,
// packaging, the About and agreement dialogs, the menu) are wired in as in the real add-in; the
// dialogs are answered from the script of dialogs().
//
// REQUIRES: used on one thread.
#ifndef KORVEL_TOOLS_KORVEL_HEADLESS_SESSION_H_
#define KORVEL_TOOLS_KORVEL_HEADLESS_SESSION_H_

#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "compiler/workbook.h"
#include "engine/native_function.h"
#include "excel/excel_connection.h"
#include "hosts/headless/headless_addin_callback.h"
#include "hosts/headless/headless_dde.h"
#include "hosts/headless/headless_dialogs.h"
#include "hosts/headless/headless_locale.h"
#include "hosts/headless/headless_resources.h"
#include "hosts/headless/headless_system.h"
#include "hosts/headless/headless_window_system.h"
#include "hosts/headless/lambda_calls.h"
#include "hosts/headless/spreadsheet/spreadsheet_program.h"
#include "hosts/headless/system_clock.h"
#include "runtime/runtime.h"
#include "runtime/settings_record.h"
#include "tools/korvel/launcher.h"

namespace korvel {

struct SessionOptions {
  // The name the application workbook has in the program ("Application.xlsx").
  std::u16string workbookName = u"Application.xlsx";
  // The settings the launcher sends; the application name defaults to the workbook's.
  SettingsRecord settings;
  // Start macros the workbook's code names.
  std::u16string firstStartMacro;
  std::u16string secondStartMacro;
  // For start(): the workbook's package as the program reads it, whose look (fonts, fills,
  // borders, merged cells, column widths) the program's copy takes; null for none.
  const WorkbookData* presentation = nullptr;
};

// The runtime's service entry (DummyFunc8) as the workbook's code calls it, with a path argument
// (an 8-bit text; empty for the services that take none); the service's answer.
double callService(Runtime& runtime, int code, const std::u16string& path);

class HeadlessSession {
 public:
  // onDisk: the files are the machine's (DiskFiles, its temporary directory) and the program reads
  // and writes real .xlsx workbooks; otherwise everything stays in memory.
  explicit HeadlessSession(bool onDisk = false);
  ~HeadlessSession();
  HeadlessSession(const HeadlessSession&) = delete;
  HeadlessSession& operator=(const HeadlessSession&) = delete;

  // Compiles the workbook (its formulas into the model, its constants into the program's copy of
  // the workbook, which holds no formulas), delivers the model, opens the workbook in the program
  // (whose code attaches the runtime) and starts the application. False with *error when the
  // workbook does not compile or the start fails.
  bool start(const Workbook& workbook, const SessionOptions& options, std::string* error);
  // Starts the application of an application file as its launcher does: unpacks the workbook into
  // a file of the temporary directory (the application's name + ".xlsx", numbered when taken),
  // delivers the settings, the agreement and the model with the file's absolute path as the
  // application path, opens the unpacked workbook in the program and starts. The unpacked
  // workbook is removed when the session ends. options supply only the start macros. False with
  // *error when the file cannot be read or the start fails.
  // REQUIRES: an onDisk session, so that the program and the runtime see the same files.
  bool startApplication(const std::u16string& path, const SessionOptions& options,
                        std::string* error);

  // The user's actions on the application workbook. Cells are "Sheet1!B2" or "B2" (first sheet).
  bool type(std::u16string_view cell, std::u16string_view text);
  void pressCalculateKey();
  bool undo();
  // Manual or automatic calculation, as the user switches it in the program.
  void setManualCalculation(bool manual);
  // Dispatches the messages the runtime posted (deferred actions).
  void runMessages();

  // The cell's name as the program shows it: "Sheet1!B2", the sheet in apostrophes when it is not
  // a plain word; empty when the text names no cell.
  std::u16string cellName(std::u16string_view cell) const;
  // The text the cell shows in the program, in its number format.
  std::u16string display(std::u16string_view cell) const;
  // The cell's value, as the program's automation answers it.
  Variant value(std::u16string_view cell) const;
  // Every cell whose value the runtime computes, as "Sheet1!B2", in sheet, row, column order.
  std::vector<std::u16string> computedCells() const;

  // The application workbook's name in the program: the file name of the path the runtime holds,
  // which a save as moves to a new file.
  std::u16string workbookName() const;

  // Where the program's worksheet functions find their routines by catalogue name: the headless
  // function library (hostRoutine) unless a test names routines of its own.
  using RoutineFinder = NativeRoutine (*)(std::u16string_view name);
  void setRoutineFinder(RoutineFinder find) { findRoutine_ = find; }

  SpreadsheetProgram& program() { return *program_; }
  HeadlessDialogs& dialogs() { return dialogs_; }
  Files& files() { return *files_; }
  Runtime& runtime() { return *runtime_; }
  ExcelConnection& connection() { return *connection_; }
  HeadlessWindowSystem& windows() { return windows_; }
  HeadlessAddinCallback& addin() { return addin_; }
  HeadlessDde& dde() { return dde_; }
  HeadlessSystem& system() { return system_; }

 private:
  // Splits "Sheet!A1" into the sheet's name and the A1 part (first sheet when none is named).
  bool splitCell(std::u16string_view cell, std::u16string* sheet, std::u16string* a1) const;
  void runProcedure(std::u16string_view name);
  // The program's WorksheetFunction calls, computed by the headless function library over the
  // runtime's engine (whose model mirrors the application workbook's cells); false when the
  // library does not compute the function or an argument names cells the engine cannot read.
  bool computeWorksheetFunction(int number, std::span<const FunctionArgument> arguments,
                                Variant* result);
  // The program's Evaluate of a formula text its own formulas cannot compute: a call of one
  // function as the runtime writes it, computed by the library in the same way.
  bool evaluateCallText(std::u16string_view formula, Variant* result);
  // Delivers the package, opens the workbook (whose code attaches) and starts.
  bool launch(const LaunchPackage& package, WorkbookData workbook, const SessionOptions& options,
              std::string* error);

  HeadlessLocale locale_;
  std::unique_ptr<Files> files_;
  HeadlessSystem system_;
  SystemClock clock_;
  HeadlessWindowSystem windows_;
  HeadlessAddinCallback addin_;
  HeadlessDde dde_;
  HeadlessDialogs dialogs_;
  HeadlessResources resources_;
  std::unique_ptr<SpreadsheetProgram> program_;
  std::unique_ptr<Runtime> runtime_;
  ExcelConnection* connection_ = nullptr;
  // The engine's host once the runtime attached: the object layer's, with LET and LAMBDA
  // computed by the headless program, which the program's object model cannot be handed.
  std::unique_ptr<LambdaCalcHost> engineHost_;
  std::u16string workbookName_;
  std::vector<std::u16string> sheetNames_;
  std::vector<std::u16string> computed_;
  // The workbook file the launcher unpacked; removed at the end.
  std::u16string unpackedWorkbook_;
  // The functions computing for the program now: a routine that hands a case back to the program
  // must not reach itself again.
  std::vector<std::u16string> functionsRunning_;
  RoutineFinder findRoutine_ = nullptr;
};

}  // namespace korvel

#endif  // KORVEL_TOOLS_KORVEL_HEADLESS_SESSION_H_
