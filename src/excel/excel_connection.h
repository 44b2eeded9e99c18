// The runtime's hold on the host program it runs in: the Application object and the application
// workbook once command HC_ATTACH_APPLICATION attached them, and the parts that work on them: the
// object layer (the engine's CalcHost), the application events and the recalculation cycle, the
// interceptions of the program's members, the sheet protection and the DDE client. It is the
// HostConnection the runtime's channel and entry points call.
//
// REQUIRES: everything runs on the host program's user-interface thread.
#ifndef KORVEL_EXCEL_EXCEL_CONNECTION_H_
#define KORVEL_EXCEL_EXCEL_CONNECTION_H_

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "excel/excel_object.h"
#include "platform/window_system.h"
#include "runtime/subsystems.h"

namespace korvel {

class ApplicationEvents;
class DdeClient;
class ExcelCalcHost;
class Interception;
class Protection;
class Runtime;

// Whether the user is editing a cell, followed through the focus and position messages of two
// child windows of the main window.
class EditTracking {
 public:
  // Feeds one message of either tracked window.
  void feed(uint32_t message);
  bool editMode() const { return editMode_; }
  int state() const { return state_; }

 private:
  int state_ = 0;
  bool editMode_ = false;
};

class ExcelConnection : public HostConnection {
 public:
  explicit ExcelConnection(Runtime& runtime);
  ~ExcelConnection() override;
  ExcelConnection(const ExcelConnection&) = delete;
  ExcelConnection& operator=(const ExcelConnection&) = delete;

  Runtime& runtime() { return runtime_; }
  // Empty until attached; empty again after disconnect.
  ExcelObject& application() { return application_; }
  ExcelObject& workbook() { return workbook_; }
  // The engine's CalcHost; null until the attach created it.
  ExcelCalcHost* calcHost() { return calcHost_.get(); }
  ApplicationEvents& events() { return *events_; }
  Interception& interception() { return *interception_; }
  Protection& protection() { return *protection_; }
  DdeClient& ddeClient() { return *ddeClient_; }
  EditTracking& editTracking() { return editTracking_; }

  // The attach sequence of HC_ATTACH_APPLICATION: the application pointer as the workbook's code
  // passed it, and the macro to run once attached (empty: none).
  void attachApplication(uint64_t application, std::u16string_view macro);

  // Application.Calculation read through the program's own implementation when the member is
  // intercepted, with the user-default locale; 0 when the read fails.
  int32_t readCalculation();
  // Application.Run of the macro with 30 omitted arguments, through the program's own
  // implementation when Run is intercepted. Throws ComError as a call does.
  Variant runMacro(std::u16string_view macro);
  // Dispatches the pending messages of the user-interface thread.
  void pumpMessages();
  // The host program's workbook windows the runtime took over, with their previous procedures.
  const std::map<WindowHandle, WindowProc>& workbookWindows() const { return workbookWindows_; }

  // HostConnection.
  bool attached() const override { return application_.live(); }
  void attach(uint64_t application, std::u16string_view macro) override {
    attachApplication(application, macro);
  }
  void subclassEditWindows(WindowHandle mainWindow) override;
  void restoreEditWindows() override;
  std::optional<bool> enableEvents() override;
  void setEnableEvents(bool enable) override;
  void setIgnoreRemoteRequests(bool ignore) override;
  std::optional<int> calculationMode() override;
  void onTime(double earliestTime, std::u16string_view procedure) override;
  void onUndo(std::u16string_view text, std::u16string_view procedure) override;
  void controlChanged(std::u16string_view control) override;
  void rangeChanged(uint64_t worksheet, int64_t range) override;
  void startApplication() override;
  void runStartMacros() override;
  void recalculate(bool full) override;
  void undoLastEntry() override;
  bool takeRangeValues(std::u16string_view reference) override;
  void runMainMacro(std::u16string_view workbookIdentity) override;
  void restoreFormulas(std::u16string_view reference) override;
  std::optional<std::u16string> windowCaption(uint64_t windowObject) override;
  bool holdsWorkbook() const override { return workbook_.live(); }
  bool hasOpenWorkbook(std::u16string_view fileName) override;
  std::optional<bool> workbookSaved() override;
  void removeWorkbookInterceptions() override;
  void disconnect(bool workbookClosed) override;

 private:
  void takeOverWorkbookWindows();
  void showApplicationIcon();
  void installHiddenProgramHook();
  void onActivate(WindowHandle window);
  int64_t workbookWindowProcedure(WindowHandle window, uint32_t message, uint64_t wParam,
                                  int64_t lParam);

  Runtime& runtime_;
  ExcelObject application_;
  ExcelObject workbook_;
  std::unique_ptr<ExcelCalcHost> calcHost_;
  std::unique_ptr<ApplicationEvents> events_;
  std::unique_ptr<Interception> interception_;
  std::unique_ptr<Protection> protection_;
  std::unique_ptr<DdeClient> ddeClient_;
  EditTracking editTracking_;
  std::map<WindowHandle, WindowProc> workbookWindows_;
  WindowProc workbookWindowProc_;
  // The two tracked child windows with their previous procedures.
  std::map<WindowHandle, WindowProc> editWindows_;
  uint64_t hiddenProgramHook_ = 0;
  // The name of the workbook whose Main macro runMainMacro runs, once found.
  std::u16string mainWorkbookName_;
};

}  // namespace korvel

#endif  // KORVEL_EXCEL_EXCEL_CONNECTION_H_
