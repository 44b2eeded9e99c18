// The runtime of one running application: the single object that holds all of its state (what
// the launcher delivered, the settings, the model and its engine, the calculation state, the
// registrar and the subsystems), its load-time attach to the host program's windows, and the
// shut-down that every ending path uses.
//
// A process has one Runtime; the library's entry points find it through Runtime::instance(). Tests
// build one per test over headless ports.
//
// REQUIRES: everything runs on the host program's user-interface thread (the thread that loaded
// the library); the runtime takes no locks.
#ifndef KORVEL_RUNTIME_RUNTIME_H_
#define KORVEL_RUNTIME_RUNTIME_H_

#include <cstdint>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/engine.h"
#include "model/cell_ref.h"
#include "model/chunk_stream.h"
#include "model/compiled_model.h"
#include "platform/platform.h"
#include "platform/variant.h"
#include "runtime/application_info.h"
#include "runtime/excel_bridge.h"
#include "runtime/settings_record.h"
#include "runtime/subsystems.h"
#include "runtime/xll_registrar.h"

namespace korvel {

class HostChannel;

// A message meant for the user. The command dispatcher shows it in a warning box and shuts the
// application down. The message is 8-bit text; each byte becomes one UTF-16 unit when shown.
class notice4user : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// What the runtime knows of the host program.
struct HostInformation {
  int32_t excelVersion = 0;        // major version, 0 until attached
  bool remoteRequests = false;     // IgnoreRemoteRequests found at attach
  int32_t interfaceLanguage = 0;   // read at attach; low byte 9 is English
  int32_t defaultSaveFormat = 56;  // DefaultSaveFormat found at attach
  bool visibleRequested = true;    // last Visible the workbook's code asked for
  std::u16string hostText;         // HC_HOST_TEXT
};

// The texts and values the command channel keeps. Each is replaced whole by the next command of
// its kind.
struct ChannelState {
  std::u16string applicationPath;
  std::u16string applicationDirectory;
  std::u16string startupDataPath;
  std::u16string exportDataPath;
  std::string agreementText;  // the bytes as they decoded
  std::u16string workbookPath;
  std::u16string runtimeModulePath;
  std::u16string firstStartMacro;
  std::u16string secondStartMacro;
  int excelLanguage = 9;  // primary language of the host program's interface
  uint64_t launchMode = 0;
  IconHandle applicationIcon = IconHandle::kNoIcon;
};

// One entry the user can take back.
struct UndoEntry {
  CellRef cell;
  Variant previous;           // in the host program's value form; empty when there was none
  int32_t formulaIndex = -1;  // the formula the entry replaced (import over formulas), else -1
};

// The state of the recalculation cycle and the entries around it. The changed-cells list is the
// engine's (Engine::changedCells).
struct CalculationState {
  std::vector<UndoEntry> undoList;  // newest last
  bool recalculating = false;
  bool writingResults = false;
  bool userEntry = false;
  bool workbookCodeRunning = false;
  bool undoing = false;
  bool undoRegistered = false;
  bool importing = false;
  bool startMacroRunning = false;
  bool closePending = false;
  uint64_t counterFrequency = 0;  // read on first use; 1000 when the system reports 0
  double lastDuration = 0;        // seconds, returned by DummyFunc2
};

class Runtime {
 public:
  // The module name under which the host program loads the library.
  static constexpr char16_t kModuleName[] = u"plinthstub.dll";

  // Construction: every member with its initial value, the empty model with its engine (the
  // information provider handed to it), the registrar, the empty delivery stream, and the default
  // subsystems. Becomes the process's runtime while it lives.
  // REQUIRES: the ports of platform outlive the runtime; platform.windows and platform.system are
  // set (addinCallback may be null: no host program).
  explicit Runtime(const Platform& platform);
  // Destruction, in order: delivery stream, menu manager, model and engine, information provider,
  // undo list, registrar; then everything else. Never throws.
  ~Runtime();
  Runtime(const Runtime&) = delete;
  Runtime& operator=(const Runtime&) = delete;

  // The runtime of the process, or null when none is alive.
  static Runtime* instance();

  // The load-time attach: every top-level window of the current process of class "XLMAIN" enters
  // the subclass registry and gets the runtime's window procedure; the main window is the lowest
  // handle among them (none: it stays kNoWindow until the attach finds it). Then the edit-tracking
  // windows of the main window are subclassed.
  void processAttach();
  // Unload: shutDown, the edit-tracking windows and every registered window that still exists get
  // their previous procedures back, and the clean-up is requested once more. Never throws; a
  // failure ends the process through terminateExcel.
  void processDetach();

  // The shut-down: menus, the interceptions on the workbook, the model, the connection, the
  // clean-up request. Never throws; an exception ends it at that step. Safe to run again: the
  // second run only requests the clean-up again.
  void shutDown();
  // Switches the Application's events off when one is attached, then ends the process (exit 0).
  void terminateExcel();
  // True when no workbook reference is held or the host program has no open workbook named by the
  // file name part of the application workbook path.
  bool isWorkbookClosed();
  // Starts the application executable, detached, with "-clnx" workbook "-clnd" module, so that
  // the launcher removes the two temporary files. Nothing is started without an application path.
  void requestCleanup();

  // Subclass registry: the runtime's window procedure on the window, the one it replaced recorded
  // (unless it already is the runtime's). False when the window does not exist.
  bool subclassWindow(WindowHandle window);
  // Previous procedures back on every registered window that still exists; the registry empties.
  void restoreSubclassedWindows();
  const std::map<WindowHandle, WindowProc>& subclassRegistry() const { return subclassRegistry_; }
  // The runtime's window procedure (one identity for every window it is installed on).
  const WindowProc& windowProcedure() const { return windowProcedure_; }
  WindowHandle mainWindow() const { return mainWindow_; }
  void setMainWindow(WindowHandle window) { mainWindow_ = window; }

  // Command HC_DEFERRED with the action to the main window: posted (runs from the message loop) or
  // sent (runs before the call returns). Post answers false without a main window; send answers 0.
  bool postDeferred(uint64_t action, int64_t argument = 0);
  int64_t sendDeferred(uint64_t action, int64_t argument = 0);

  // The model and its engine; null after the shut-down destroyed them.
  CompiledModel* model() { return model_.get(); }
  Engine* engine() { return engine_.get(); }
  // The delivery stream of model chunks; null once the end marker has run the loader.
  ChunkStream* deliveryStream() { return deliveryStream_.get(); }
  // Loads what the delivery stream holds into the model (when it has unread content), then
  // destroys the stream. False, with *error, when the loader refused the stream; the model is then
  // empty.
  bool finishDelivery(std::string* error);
  // Whether the workbook's code may still read the constant table (DummyFunc11, DummyFunc12); the
  // attach sequence closes it after its start macro.
  bool constantsReadable = true;

  const Platform& platform() const { return platform_; }
  HostInformation& hostInformation() { return hostInformation_; }
  ChannelState& channelState() { return channelState_; }
  Settings& settings() { return settings_; }
  CalculationState& calculation() { return calculation_; }
  ApplicationInfoProvider& applicationInfo() { return *applicationInfo_; }
  TemplateValues& aboutTemplate() { return aboutTemplate_; }
  ExcelBridge& bridge() { return bridge_; }
  XllRegistrar& registrar() { return *registrar_; }
  HostChannel& hostChannel() { return *hostChannel_; }

  HostConnection& connection() { return *connection_; }
  DataExchange& dataExchange() { return *dataExchange_; }
  Packaging& packaging() { return *packaging_; }
  ApplicationDialogs& dialogs() { return *dialogs_; }
  // Null after the shut-down destroyed it.
  MenuManager* menuManager() { return menuManager_.get(); }
  // Null arguments keep the current subsystem.
  void setConnection(std::unique_ptr<HostConnection> connection);
  void setDataExchange(std::unique_ptr<DataExchange> dataExchange);
  void setPackaging(std::unique_ptr<Packaging> packaging);
  void setDialogs(std::unique_ptr<ApplicationDialogs> dialogs);
  void setMenuManager(std::unique_ptr<MenuManager> menuManager);

  // How many times shutDown ran to its end or to a failing step.
  int shutDowns() const { return shutDowns_; }

 private:
  void buildModel();
  void destroyModel();

  Platform platform_;
  HostInformation hostInformation_;
  ChannelState channelState_;
  Settings settings_;
  CalculationState calculation_;
  ExcelBridge bridge_;
  std::unique_ptr<XllRegistrar> registrar_;
  std::unique_ptr<ApplicationInfoProvider> applicationInfo_;
  TemplateValues aboutTemplate_;
  std::unique_ptr<CompiledModel> model_;
  std::unique_ptr<Engine> engine_;
  std::unique_ptr<ChunkStream> deliveryStream_;
  std::unique_ptr<HostChannel> hostChannel_;
  WindowProc windowProcedure_;
  WindowHandle mainWindow_ = WindowHandle::kNoWindow;
  std::map<WindowHandle, WindowProc> subclassRegistry_;

  std::unique_ptr<HostConnection> connection_;
  std::unique_ptr<DataExchange> dataExchange_;
  std::unique_ptr<Packaging> packaging_;
  std::unique_ptr<ApplicationDialogs> dialogs_;
  std::unique_ptr<MenuManager> menuManager_;
  int shutDowns_ = 0;
};

}  // namespace korvel

#endif  // KORVEL_RUNTIME_RUNTIME_H_
