// The headless spreadsheet program: an in-memory stand-in for the host program the runtime lives
// in. It owns the program's windows (the main window, the desk, one window per open workbook and
// the two edit windows), its object model (Application, Workbooks, Workbook, Sheets, Worksheet,
// Range and the small objects around them, answering the member ids the runtime calls), the
// application events it fires into connected sinks, and the add-in side: it runs the procedures
// the add-in registered when keys, entries, undo and timers call for them, and it plays the
// application workbook's own code, which talks to the add-in through its channel entrance.
//
// Tests and tools drive it through the user actions (typing into a cell, pasting, pressing the
// calculation key, undo, clicking a control, closing and saving) and read the contents back.
//
// REQUIRES: used on one thread, the one the window system belongs to.
#ifndef KORVEL_HOSTS_HEADLESS_SPREADSHEET_SPREADSHEET_PROGRAM_H_
#define KORVEL_HOSTS_HEADLESS_SPREADSHEET_SPREADSHEET_PROGRAM_H_

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "hosts/headless/headless_addin_callback.h"
#include "hosts/headless/headless_window_system.h"
#include "hosts/headless/spreadsheet/a1_reference.h"
#include "hosts/headless/spreadsheet/workbook_data.h"
#include "platform/dispatch.h"
#include "platform/variant.h"

namespace korvel {

class ApplicationObject;
class ProgramCommandBars;
class SheetObject;
class SpreadsheetProgram;
class WorkbookObject;

// The add-in as the program reaches it: filled by the test or tool that loads the runtime.
struct AddinExports {
  // The channel entrance the workbook's code declares from the add-in (DummyFunc9).
  std::function<int64_t(uint32_t message, uint64_t wParam, int64_t lParam)> channel;
  // Runs a registered command by its procedure name or function text (DummyFunc1, DummyFunc4,
  // DummyFunc6, DummyFunc13 ...).
  std::function<void(std::u16string_view name)> runProcedure;
};

// The workbook's own code, as the program plays it for one workbook.
struct WorkbookCode {
  // The application workbook: on open it hands the Application to the add-in and names its start
  // macros; after a change of its cells it reports the changed range; a click on one of its form
  // controls is reported too.
  bool isApplication = false;
  // The macro the add-in runs after attaching (the 1152 lParam); empty: none.
  std::u16string attachMacro;
  std::u16string firstStartMacro;
  std::u16string secondStartMacro;
};

struct SpreadsheetOptions {
  // The process the program's windows belong to; 0: the window system's current process.
  ProcessId process = 0;
  bool visible = true;
  std::u16string caption = u"Spreadsheet";
  // Workbooks are .xlsx files on disk: Workbooks.Open reads them and saving writes them. Without
  // it (and without the functions below) the program keeps the files it saved in memory and
  // opens only those.
  bool xlsxFiles = false;
  // A reader and a writer of the caller's own, used instead; the writer gets the file the
  // workbook was opened from or last saved to (empty: none) and the file to write.
  std::function<std::optional<WorkbookData>(std::u16string_view path)> readWorkbook;
  std::function<bool(const WorkbookData& data, std::u16string_view originalPath,
                     std::u16string_view targetPath)>
      writeWorkbook;
};

// A Range handed to Application.WorksheetFunction: where its cells are, not their values.
struct RangeArgument {
  std::u16string workbook;  // the name the program shows
  std::u16string sheet;
  std::vector<CellArea> areas;
};

// One argument of a WorksheetFunction call: a Range of the program's own is described in range
// (value then holds the Range object itself); any other argument is value as passed, a missing
// one included.
struct FunctionArgument {
  Variant value;
  std::optional<RangeArgument> range;
};

// The calculation the program's worksheet functions and Application.Evaluate leave to whoever
// drives the program: the program computes only its own simple formulas. Each answers false when
// it does not compute the call, and the program answers #NAME? as for any function it does not
// know. Either may be empty.
struct WorksheetFunctions {
  // number: the catalogue's worksheet-function number (the member id less
  // kWorksheetFunctionBase); the arguments in their order, trailing missing ones included.
  std::function<bool(int number, std::span<const FunctionArgument> arguments, Variant* result)>
      call;
  // A formula text ("=NAME(...)") the program's own formulas cannot compute.
  std::function<bool(std::u16string_view formula, Variant* result)> evaluate;
};

// A macro of a workbook's code that tests provide (Application.Run finds it by name).
using ProgramMacro = std::function<Variant(std::span<Variant> arguments)>;

// One open (or closed) workbook with the program's own state around its contents.
struct WorkbookState {
  // The name the program shows: the file name of data.fullName, or "BookN" for a new workbook.
  std::u16string name;
  WorkbookData data;
  WorkbookCode code;
  bool saved = true;
  bool open = true;
  size_t activeSheet = 0;
  WindowHandle window = WindowHandle::kNoWindow;
  std::shared_ptr<WorkbookObject> object;
  // Parallel to data.sheets.
  std::vector<std::shared_ptr<SheetObject>> sheets;
  std::map<size_t, int> queryTableRefreshes;
  std::map<size_t, CellArea> selections;
};

// Where a change of cells came from: the user's hand runs the entry macro, automation does not.
enum class ChangeSource { kUser, kPaste, kAutomation };

enum class SaveOutcome { kSaved, kCancelled, kFailed };

class SpreadsheetProgram {
 public:
  // The program's windows are created at once. addin may be null (a program without the add-in).
  SpreadsheetProgram(HeadlessWindowSystem& windows, HeadlessAddinCallback* addin,
                     SpreadsheetOptions options = {});
  ~SpreadsheetProgram();
  SpreadsheetProgram(const SpreadsheetProgram&) = delete;
  SpreadsheetProgram& operator=(const SpreadsheetProgram&) = delete;

  AddinExports& exports() { return exports_; }
  // A macro Application.Run finds by its name (with or without the "'Book'!" prefix).
  void setMacro(std::u16string name, ProgramMacro macro);
  // Replaces the worksheet functions' calculation (none at first: every call answers #NAME?).
  void setWorksheetFunctions(WorksheetFunctions functions) {
    worksheetFunctions_ = std::move(functions);
  }
  const WorksheetFunctions& worksheetFunctions() const { return worksheetFunctions_; }

  WindowHandle mainWindow() const { return mainWindow_; }
  WindowHandle deskWindow() const { return deskWindow_; }
  // The two edit windows, children of the main window.
  WindowHandle editWindow() const { return editWindow_; }
  WindowHandle editWindow2() const { return editWindow2_; }
  // The workbook's window (kNoWindow when none is open under that name).
  WindowHandle workbookWindow(std::u16string_view workbook) const;

  std::shared_ptr<Dispatch> application();
  // Creates "Excel.Application" (a second, invisible program) and the workbook class (a new
  // empty workbook of this program).
  ObjectFactory& objectFactory();
  // The programs the factory created, in creation order.
  SpreadsheetProgram* secondProgram(size_t index) const;

  // --- User actions. The workbook and sheet are named; false when they do not exist or the
  // action is refused (a locked cell of a protected sheet, a cancelled close ...).
  // Opens the contents as a workbook (its name from fullName, "BookN" when empty), makes it the
  // active one, runs its code's open part and fires WorkbookOpen. Null when a workbook of that
  // name is open already.
  std::shared_ptr<Dispatch> openWorkbook(WorkbookData data, WorkbookCode code = {});
  // Enters the text as the user types it ("12", "abc", "'007", "=A1*2") into one cell.
  bool typeIntoCell(std::u16string_view workbook, std::u16string_view sheet, std::u16string_view a1,
                    std::u16string_view text);
  bool clearCell(std::u16string_view workbook, std::u16string_view sheet, std::u16string_view a1);
  // Pastes rows of values with their top-left at the cell: one change for the whole rectangle.
  bool pasteValues(std::u16string_view workbook, std::u16string_view sheet,
                   std::u16string_view topLeft, const std::vector<std::vector<Variant>>& rows);
  // F9: the procedure bound to "{F9}" when the add-in bound one, else a full calculation.
  void pressCalculateKey();
  // Runs the procedure Application.OnUndo left; false when there is none.
  bool undo();
  // Clicks the form control (a shape of the active sheet): its OnAction macro runs, and the
  // application workbook's code reports the click.
  bool clickControl(std::u16string_view name);
  // Runs the procedures queued by Application.OnTime, earliest first; answers how many ran.
  int runOnTimeProcedures();
  bool closeWorkbook(std::u16string_view workbook);
  bool saveWorkbook(std::u16string_view workbook);
  bool addSheet(std::u16string_view workbook, std::u16string_view name);
  // Makes the main window the active one, as a click on it does (activate hooks run first).
  bool activateMainWindow();
  // Clicks the menu button with the tag (the first one, searching every bar), or the one reached
  // by captions from the "Worksheet Menu Bar" ({"Application", "Loan", "About"}); false when
  // there is none or it is hidden or disabled.
  bool clickMenuButton(std::u16string_view tag);
  bool clickMenuPath(const std::vector<std::u16string>& captions);
  // The captions of the visible controls of the "Worksheet Menu Bar" (empty path) or of the popup
  // the captions reach; empty when the path leads nowhere.
  std::vector<std::u16string> menuCaptions(const std::vector<std::u16string>& path = {});
  // A dialog of the program's own or its cell editor is open: it refuses commands meanwhile.
  void setBusy(bool busy);

  // --- Contents.
  // Empty for a cell, sheet or workbook that does not exist.
  Variant cellValue(std::u16string_view workbook, std::u16string_view sheet,
                    std::u16string_view a1) const;
  std::u16string cellFormula(std::u16string_view workbook, std::u16string_view sheet,
                             std::u16string_view a1) const;
  // The text the cell shows in its number format (see shownText), as on the screen.
  std::u16string displayText(std::u16string_view workbook, std::u16string_view sheet,
                             std::u16string_view a1) const;
  // The workbook's contents and state; null when no workbook of that name is open.
  WorkbookState* workbookState(std::u16string_view workbook);
  const WorkbookState* workbookState(std::u16string_view workbook) const;
  // Files saved in memory so far (by full name; not with xlsxFiles or a writer of the caller's),
  // and files a test places there to be opened.
  std::map<std::u16string, WorkbookData>& files() { return files_; }

  // --- What the program observed.
  struct UndoRecord {
    std::u16string text;
    std::u16string procedure;
  };
  const std::optional<UndoRecord>& onUndo() const { return onUndo_; }
  struct TimerRecord {
    double earliest = 0;
    std::u16string procedure;
  };
  const std::vector<TimerRecord>& onTimeQueue() const { return onTime_; }
  // Application.WorksheetFunction calls the program could not compute.
  int worksheetFunctionCalls() const { return worksheetFunctionCalls_; }
  // Application.Evaluate calls the program could not compute.
  int unansweredEvaluations() const { return unansweredEvaluations_; }
  // Formulas of the program's own that it could not compute (#NAME?).
  int unsupportedFormulas() const { return unsupportedFormulas_; }
  int fullCalculations() const { return fullCalculations_; }
  bool hasQuit() const { return quit_; }
  // Application.Run calls by macro name, in order.
  const std::vector<std::u16string>& runLog() const { return runLog_; }

  // --- Used by the program's objects.
  struct Settings {
    int32_t calculation = -4105;
    bool enableEvents = true;
    bool screenUpdating = true;
    bool displayAlerts = true;
    bool userControl = true;
    bool ignoreRemoteRequests = false;
    int32_t remoteRequestsCompanion = 0;
    int32_t defaultSaveFormat = 51;
    int32_t windowState = -4143;  // normal
    bool iteration = false;
    double maxChange = 0.001;
    int32_t maxIterations = 100;
    std::u16string caption;
  };
  Settings& settings() { return settings_; }
  HeadlessWindowSystem& windowSystem() { return windows_; }
  // Live token the objects check before they touch the program.
  const std::shared_ptr<bool>& aliveToken() const { return alive_; }
  struct Tables;
  Tables& tables() { return *tables_; }
  ProgramCommandBars& commandBars() { return *commandBars_; }

  // Open workbooks in the order they were opened.
  std::vector<WorkbookState*> openWorkbooks() const;
  WorkbookState* activeWorkbook() const;
  void activateWorkbook(WorkbookState& workbook);
  std::shared_ptr<SheetObject> sheetObject(WorkbookState& workbook, size_t sheet);
  WorkbookState* findOpenWorkbook(std::u16string_view name) const;
  std::u16string workbookName(const WorkbookState& workbook) const;
  // A new empty workbook with one sheet, as the workbook class creates it.
  WorkbookState& newWorkbook();
  // Workbooks.Open: an open workbook of that name, else the file; null when it cannot be read.
  WorkbookState* openFile(std::u16string_view path, HResult* error);
  // The before-close event and the close; false when cancelled.
  bool close(WorkbookState& workbook, bool saveChanges);
  // The before-save event and the save under the name (empty: the workbook's own).
  SaveOutcome save(WorkbookState& workbook, std::u16string_view fullName, bool saveAsUi,
                   bool copyOnly);
  size_t addSheetTo(WorkbookState& workbook, std::u16string name);

  // Whether the cell may be written by the source (a locked cell of a protected sheet may not).
  bool writable(const WorkbookState& workbook, size_t sheet, uint32_t row, uint32_t column,
                ChangeSource source) const;
  // Stores a value as the program stores an entry ("=..." becomes a formula, "'x" the text x,
  // "12" a number...); the value is one the automation hands over or the user typed.
  void storeEntry(WorkbookState& workbook, size_t sheet, uint32_t row, uint32_t column,
                  const Variant& value, bool textAsTyped);
  // What follows a change of cells: Saved false, the automatic calculation, the entry macro for
  // the user's typing, SheetChange and the workbook code's report.
  void afterChange(WorkbookState& workbook, size_t sheet, const std::vector<CellArea>& areas,
                   ChangeSource source);
  // Computes the program's own formulas of every open workbook (fireEvents: SheetCalculate for
  // the sheets of the active workbook).
  void calculateAll(bool fireEvents);
  // Computes the formula cells of the area.
  void calculateArea(WorkbookState& workbook, size_t sheet, const CellArea& area);
  Variant evaluate(std::u16string_view text);
  void countWorksheetFunctionCall() { ++worksheetFunctionCalls_; }
  HResult run(std::u16string_view macro, std::span<Variant> arguments, Variant* result);
  void setOnUndo(std::u16string text, std::u16string procedure);
  void queueOnTime(double earliest, std::u16string procedure, bool schedule);
  void quit();

  // Fires the application event into every connected sink (while events are enabled); answers
  // the arguments as the sinks left them.
  std::vector<Variant> fireEvent(int32_t eventId, std::vector<Variant> arguments);
  uint32_t connectSink(std::shared_ptr<Dispatch> sink);
  bool disconnectSink(uint32_t cookie);

 private:
  void createWindows();
  WorkbookState& adopt(WorkbookData data, WorkbookCode code, std::u16string name);
  void runOpenCode(WorkbookState& workbook);
  // Computes the formula cells (of the area of one sheet when given).
  void recalculate(WorkbookState& workbook, std::optional<std::pair<size_t, CellArea>> only);
  Variant formulaValue(WorkbookState& workbook, size_t sheet, const std::u16string& formula);
  void reportChange(WorkbookState& workbook, size_t sheet, const std::vector<CellArea>& areas);
  bool runProcedureByName(std::u16string_view name);
  bool isRegisteredProcedure(std::u16string_view name) const;
  const SheetData* findSheet(std::u16string_view workbook, std::u16string_view sheet,
                             size_t* index) const;
  bool userChange(std::u16string_view workbook, std::u16string_view sheet, std::u16string_view a1,
                  const std::vector<std::vector<Variant>>& rows, ChangeSource source);

  HeadlessWindowSystem& windows_;
  HeadlessAddinCallback* addin_;
  SpreadsheetOptions options_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  std::unique_ptr<Tables> tables_;
  std::unique_ptr<ProgramCommandBars> commandBars_;
  Settings settings_;
  AddinExports exports_;
  std::map<std::u16string, ProgramMacro> macros_;
  WorksheetFunctions worksheetFunctions_;
  WindowHandle mainWindow_ = WindowHandle::kNoWindow;
  WindowHandle deskWindow_ = WindowHandle::kNoWindow;
  WindowHandle editWindow_ = WindowHandle::kNoWindow;
  WindowHandle editWindow2_ = WindowHandle::kNoWindow;
  std::shared_ptr<ApplicationObject> application_;
  // Every workbook ever opened, closed ones included, so that objects of a closed workbook stay
  // safe to call (they answer failures).
  std::vector<std::unique_ptr<WorkbookState>> workbooks_;
  WorkbookState* active_ = nullptr;
  int nextBookNumber_ = 1;
  std::map<std::u16string, WorkbookData> files_;
  std::map<uint32_t, std::shared_ptr<Dispatch>> sinks_;
  uint32_t nextCookie_ = 1;
  std::optional<UndoRecord> onUndo_;
  std::vector<TimerRecord> onTime_;
  // Texts handed to the add-in by address stay alive until the program ends: a posted message
  // reads them later.
  std::deque<std::u16string> postedTexts_;
  std::vector<std::u16string> runLog_;
  int worksheetFunctionCalls_ = 0;
  int unansweredEvaluations_ = 0;
  int unsupportedFormulas_ = 0;
  int fullCalculations_ = 0;
  bool quit_ = false;
  class Factory;
  std::unique_ptr<Factory> factory_;
  std::vector<std::unique_ptr<SpreadsheetProgram>> secondPrograms_;
};

}  // namespace korvel

#endif  // KORVEL_HOSTS_HEADLESS_SPREADSHEET_SPREADSHEET_PROGRAM_H_
