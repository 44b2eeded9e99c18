#include "runtime/runtime.h"

#include <string>
#include <utility>

#include "functions/function_catalogue.h"
#include "model/model_stream.h"
#include "runtime/host_channel.h"
#include "runtime/host_commands.h"
#include "util/text.h"

namespace korvel {

namespace {

Runtime* gRuntime = nullptr;

}  // namespace

Runtime::Runtime(const Platform& platform)
    : platform_(platform),
      bridge_(platform.addinCallback),
      registrar_(std::make_unique<XllRegistrar>(&bridge_, platform.system)),
      applicationInfo_(std::make_unique<ApplicationInfoProvider>(
          [this] { calculation_.undoRegistered = false; })),
      deliveryStream_(std::make_unique<ChunkStream>()),
      hostChannel_(std::make_unique<HostChannel>(*this)),
      connection_(std::make_unique<HostConnection>()),
      dataExchange_(std::make_unique<DataExchange>()),
      packaging_(std::make_unique<Packaging>()),
      dialogs_(std::make_unique<ApplicationDialogs>()),
      menuManager_(std::make_unique<MenuManager>()) {
  // One procedure object for every window, so that a window already carrying it is recognised and
  // never chained to itself.
  windowProcedure_ =
      WindowProc([this](WindowHandle window, uint32_t message, uint64_t wParam, int64_t lParam) {
        return hostChannel_->windowProcedure(window, message, wParam, lParam);
      });
  buildModel();
  gRuntime = this;
}

Runtime::~Runtime() {
  try {
    // The library is always unloaded after its detach; a runtime that never saw one must still not
    // leave its procedure on windows that outlive it.
    if (!subclassRegistry_.empty()) restoreSubclassedWindows();
    deliveryStream_.reset();
    menuManager_.reset();
    destroyModel();
    aboutTemplate_.clear();
    applicationInfo_.reset();
    calculation_.undoList.clear();
    registrar_.reset();
  } catch (...) {
  }
  if (gRuntime == this) gRuntime = nullptr;
}

Runtime* Runtime::instance() { return gRuntime; }

void Runtime::buildModel() {
  model_ = std::make_unique<CompiledModel>();
  model_->functions = &FunctionCatalogue::instance();
  engine_ = std::make_unique<Engine>(*model_);
  engine_->applicationInfo = &applicationInfo_->info();
}

void Runtime::destroyModel() {
  // The engine borrows the model, so it goes first.
  engine_.reset();
  model_.reset();
}

void Runtime::processAttach() {
  WindowSystem& windows = *platform_.windows;
  WindowHandle lowest = WindowHandle::kNoWindow;
  for (WindowHandle window : windows.topLevelWindows()) {
    if (windows.owningProcess(window) != windows.currentProcess() ||
        windows.className(window) != kHostMainWindowClass) {
      continue;
    }
    if (!subclassWindow(window)) continue;
    if (lowest == WindowHandle::kNoWindow || window < lowest) lowest = window;
  }
  if (lowest != WindowHandle::kNoWindow) {
    mainWindow_ = lowest;
    connection_->subclassEditWindows(mainWindow_);
  }
}

void Runtime::processDetach() {
  try {
    shutDown();
    connection_->restoreEditWindows();
    restoreSubclassedWindows();
  } catch (...) {
    terminateExcel();
    return;
  }
  try {
    requestCleanup();
  } catch (...) {
  }
}

bool Runtime::subclassWindow(WindowHandle window) {
  WindowSystem& windows = *platform_.windows;
  if (!windows.isWindow(window)) return false;
  if (windows.windowProc(window) == windowProcedure_) {
    // Already ours: keep whatever was recorded before; chaining to ourselves would loop.
    subclassRegistry_.try_emplace(window);
    return true;
  }
  subclassRegistry_[window] = windows.setWindowProc(window, windowProcedure_);
  return true;
}

void Runtime::restoreSubclassedWindows() {
  WindowSystem& windows = *platform_.windows;
  for (auto& [window, previous] : subclassRegistry_) {
    if (previous && windows.isWindow(window)) windows.setWindowProc(window, previous);
  }
  subclassRegistry_.clear();
}

bool Runtime::postDeferred(uint64_t action, int64_t argument) {
  if (mainWindow_ == WindowHandle::kNoWindow) return false;
  return platform_.windows->post(mainWindow_, HC_DEFERRED, action, argument);
}

int64_t Runtime::sendDeferred(uint64_t action, int64_t argument) {
  if (mainWindow_ == WindowHandle::kNoWindow) return 0;
  return platform_.windows->send(mainWindow_, HC_DEFERRED, action, argument);
}

bool Runtime::finishDelivery(std::string* error) {
  bool ok = true;
  if (deliveryStream_ && model_ && deliveryStream_->hasUnread()) {
    ok = loadModel(*deliveryStream_, *model_, error);
  }
  deliveryStream_.reset();
  return ok;
}

void Runtime::shutDown() {
  ++shutDowns_;
  try {
    if (menuManager_) {
      menuManager_->removeMenus();
      menuManager_.reset();
    }
    if (connection_->holdsWorkbook() && !isWorkbookClosed()) {
      connection_->removeWorkbookInterceptions();
    }
    destroyModel();
    if (connection_->attached() || connection_->holdsWorkbook()) {
      // A workbook of a program that is no longer attached, or one the program already closed, is
      // released; an open one is only let go of, since the program still owns it.
      bool release = !connection_->attached() || isWorkbookClosed();
      connection_->disconnect(release);
    }
    requestCleanup();
  } catch (...) {
  }
}

void Runtime::terminateExcel() {
  try {
    if (connection_->attached()) connection_->setEnableEvents(false);
  } catch (...) {
  }
  platform_.system->endProcess(0);
}

bool Runtime::isWorkbookClosed() {
  if (!connection_->holdsWorkbook()) return true;
  return !connection_->hasOpenWorkbook(fileNameOf(channelState_.workbookPath));
}

void Runtime::requestCleanup() {
  // Without the executable there is no launcher to ask.
  if (channelState_.applicationPath.empty()) return;
  platform_.system->startDetachedProcess(
      channelState_.applicationPath,
      {u"-clnx", channelState_.workbookPath, u"-clnd", channelState_.runtimeModulePath});
}

void Runtime::setConnection(std::unique_ptr<HostConnection> connection) {
  if (connection) connection_ = std::move(connection);
}
void Runtime::setDataExchange(std::unique_ptr<DataExchange> dataExchange) {
  if (dataExchange) dataExchange_ = std::move(dataExchange);
}
void Runtime::setPackaging(std::unique_ptr<Packaging> packaging) {
  if (packaging) packaging_ = std::move(packaging);
}
void Runtime::setDialogs(std::unique_ptr<ApplicationDialogs> dialogs) {
  if (dialogs) dialogs_ = std::move(dialogs);
}
void Runtime::setMenuManager(std::unique_ptr<MenuManager> menuManager) {
  if (menuManager) menuManager_ = std::move(menuManager);
}

}  // namespace korvel
