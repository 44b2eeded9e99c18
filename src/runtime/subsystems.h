// What the runtime asks of the subsystems that own the work its commands and entry points start:
// the connection to the host program's object model, data exchange, packaging, the application's
// dialogs and its menu. Each is a small interface whose defaults do nothing and report "not
// attached", "no value" or failure, which is exactly how the runtime behaves before the subsystem
// is wired in (or when the host program is not there). A subsystem replaces the default through
// Runtime's setters.
//
// REQUIRES: every call runs on the host program's user-interface thread, from the command channel
// or an entry point; none may let an exception out except where the runtime catches it (the
// channel turns exceptions into the user notice and a shut-down).
#ifndef KORVEL_RUNTIME_SUBSYSTEMS_H_
#define KORVEL_RUNTIME_SUBSYSTEMS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/window_system.h"

namespace korvel {

// The runtime's hold on the host program: its Application object once attached, the application
// workbook, the event sink, the interceptions and the windows it tracks. Pointers in message words
// (application, worksheet, range, window objects) are the host program's interface pointers as
// the in-process sender passed them; they are borrowed for the call.
class HostConnection {
 public:
  virtual ~HostConnection() = default;

  // True once an Application object is attached and until the shut-down lets it go.
  virtual bool attached() const { return false; }
  // The attach sequence; then, when the macro is not empty, runs it without arguments.
  virtual void attach(uint64_t /*application*/, std::u16string_view /*macro*/) {}
  // Load time: subclass the edit-tracking child windows of the main window. Unload: put their
  // procedures back.
  virtual void subclassEditWindows(WindowHandle /*mainWindow*/) {}
  virtual void restoreEditWindows() {}

  // Application.EnableEvents; nullopt when not attached or the call fails.
  virtual std::optional<bool> enableEvents() { return std::nullopt; }
  virtual void setEnableEvents(bool /*enable*/) {}
  // Application.IgnoreRemoteRequests.
  virtual void setIgnoreRemoteRequests(bool /*ignore*/) {}
  // Application.Calculation read through the host program's own implementation.
  virtual std::optional<int> calculationMode() { return std::nullopt; }
  // Application.OnTime with the earliest time (a date serial) and the procedure, other arguments
  // omitted.
  virtual void onTime(double /*earliestTime*/, std::u16string_view /*procedure*/) {}
  // Application.OnUndo with the text and the procedure.
  virtual void onUndo(std::u16string_view /*text*/, std::u16string_view /*procedure*/) {}

  // Events the channel forwards.
  virtual void controlChanged(std::u16string_view /*control*/) {}
  virtual void rangeChanged(uint64_t /*worksheet*/, int64_t /*range*/) {}

  // The start sequence of command HC_START (first recalculation, start-up import, visibility).
  virtual void startApplication() {}
  virtual void runStartMacros() {}
  // The recalculation cycle.
  virtual void recalculate(bool /*full*/) {}
  // Takes the newest undo entry back (the undo command).
  virtual void undoLastEntry() {}
  // Resolves the reference text through the Application object and takes the range's values into
  // the model; false when the text names no range.
  virtual bool takeRangeValues(std::u16string_view /*reference*/) { return false; }
  // Runs the Main macro of the workbook with that identity, inside the protection scope of the
  // active sheet and with screen updating stopped.
  virtual void runMainMacro(std::u16string_view /*workbookIdentity*/) {}
  // Gives back their formulas to the cells of the range (a defined name or an A1 reference on the
  // active sheet) whose formulas an entered or imported value replaced.
  virtual void restoreFormulas(std::u16string_view /*reference*/) {}
  // The Caption of a window object of the workbook's code; nullopt when it cannot be read.
  virtual std::optional<std::u16string> windowCaption(uint64_t /*windowObject*/) {
    return std::nullopt;
  }

  // Whether a workbook reference is held, and whether Application.Workbooks has an item of that
  // file name (false when no workbook reference is held).
  virtual bool holdsWorkbook() const { return false; }
  virtual bool hasOpenWorkbook(std::u16string_view /*fileName*/) { return false; }
  // Workbook.Saved of the application workbook; nullopt when unknown.
  virtual std::optional<bool> workbookSaved() { return std::nullopt; }

  // Shut-down, in the runtime's order: the interceptions on the workbook object go first (only
  // while the workbook is open); after the model is gone, disconnect lets go of everything else:
  // cached arguments, the workbook reference (released when closed, else detached), the event
  // sink and the Application's settings and interceptions, Application.Quit, the Application
  // reference and the window hooks. Each step checks what is still held, so a second call does
  // nothing.
  virtual void removeWorkbookInterceptions() {}
  virtual void disconnect(bool /*workbookClosed*/) {}
};

// Import and export of the user's data.
class DataExchange {
 public:
  virtual ~DataExchange() = default;
  // Exports the changed cells (collected: also the collected ones) to the path, silently; an
  // empty path asks the user where. False when the export reports failure.
  virtual bool exportData(bool /*collected*/, std::u16string_view /*path*/) { return false; }
  // Imports from the path, silently; an empty path asks the user with the import dialog.
  virtual void importData(std::u16string_view /*path*/) {}
  // The start-up import of the file the launcher named: nothing is shown, whatever happens.
  virtual void importStartupData() {}
  // The state the close handling consults: whether the last export wrote its file. Every change of
  // the user's data clears it.
  virtual bool lastExportSucceeded() const { return false; }
  virtual void clearLastExportSucceeded() {}
  // Why the last import or export failed, one line naming the file; empty when it succeeded.
  virtual std::string lastFailure() const { return {}; }
};

// Saving the application, with its current workbook and model, as a new executable.
class Packaging {
 public:
  virtual ~Packaging() = default;
  // The menu's and the service entry's command: asks for a file and saves there.
  virtual void saveAsExecutable() {}
  // Saves into the application's own executable.
  virtual void saveApplication() {}
  // Saves into the executable of that path.
  virtual void saveApplicationAs(std::u16string_view /*path*/) {}
  // The Save As dialog of the application.
  virtual void chooseAndSaveApplicationAs() {}
  // Writes the current workbook and model into the application's executable.
  virtual void storeIntoExecutable() {}
  // Why the last save failed, one line naming the file; empty when it succeeded.
  virtual std::string lastFailure() const { return {}; }
};

// The About box and the licence agreement.
class ApplicationDialogs {
 public:
  virtual ~ApplicationDialogs() = default;
  virtual void showAbout() {}
  virtual void showAgreement() {}
};

// The application's menu in the host program.
class MenuManager {
 public:
  virtual ~MenuManager() = default;
  virtual void removeMenus() {}
  // Builds the menus, or finds them again on a second attach.
  virtual void buildMenus() {}
  // The user's data changed: the export command becomes available (once).
  virtual void enableExportCommand() {}
  // Whether the host program takes commands now (not while a dialog of its own or the cell
  // editor is open); false when it cannot tell.
  virtual bool excelAcceptsCommands() { return false; }
};

}  // namespace korvel

#endif  // KORVEL_RUNTIME_SUBSYSTEMS_H_
