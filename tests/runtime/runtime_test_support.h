// A runtime over headless ports for tests, a host program main window ("XLMAIN") that records what
// reaches its own procedure, and a connection that records what the runtime asks of the host
// program and answers from fields a test sets.
#ifndef KORVEL_TESTS_RUNTIME_RUNTIME_TEST_SUPPORT_H_
#define KORVEL_TESTS_RUNTIME_RUNTIME_TEST_SUPPORT_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hosts/headless/headless_addin_callback.h"
#include "hosts/headless/headless_locale.h"
#include "hosts/headless/headless_system.h"
#include "hosts/headless/headless_window_system.h"
#include "hosts/headless/memory_files.h"
#include "hosts/headless/system_clock.h"
#include "runtime/host_commands.h"
#include "runtime/runtime.h"
#include "runtime/subsystems.h"

namespace korvel::testing {

// Records every call as one line ("attach 7 Macro", "recalculate full", ...) and answers from
// its public fields.
class RecordingConnection : public HostConnection {
 public:
  explicit RecordingConnection(std::vector<std::string>* log) : log_(log) {}

  bool isAttached = false;
  std::optional<bool> events = true;
  std::optional<int> calculation = -4105;  // automatic
  std::optional<bool> saved = true;
  std::optional<std::u16string> caption;
  bool workbookHeld = false;
  bool workbookOpen = false;
  bool rangeResolves = true;
  // Thrown by startApplication when set.
  std::optional<std::string> startFailure;

  bool attached() const override { return isAttached; }
  void attach(uint64_t application, std::u16string_view macro) override {
    isAttached = true;
    log("attach " + std::to_string(application) + " " + narrow(macro));
  }
  void subclassEditWindows(WindowHandle) override { log("subclassEditWindows"); }
  void restoreEditWindows() override { log("restoreEditWindows"); }
  std::optional<bool> enableEvents() override { return isAttached ? events : std::nullopt; }
  void setEnableEvents(bool enable) override {
    events = enable;
    log(std::string("setEnableEvents ") + (enable ? "true" : "false"));
  }
  void setIgnoreRemoteRequests(bool ignore) override {
    log(std::string("setIgnoreRemoteRequests ") + (ignore ? "true" : "false"));
  }
  std::optional<int> calculationMode() override { return calculation; }
  void onTime(double when, std::u16string_view procedure) override {
    onTimeAt = when;
    log("onTime " + narrow(procedure));
  }
  void onUndo(std::u16string_view text, std::u16string_view procedure) override {
    log("onUndo " + narrow(text) + " " + narrow(procedure));
  }
  void controlChanged(std::u16string_view control) override {
    log("controlChanged " + narrow(control));
  }
  void rangeChanged(uint64_t worksheet, int64_t range) override {
    log("rangeChanged " + std::to_string(worksheet) + " " + std::to_string(range));
  }
  void startApplication() override {
    log("startApplication");
    if (startFailure) throw notice4user(*startFailure);
  }
  void runStartMacros() override { log("runStartMacros"); }
  void recalculate(bool full) override { log(full ? "recalculate full" : "recalculate changed"); }
  void undoLastEntry() override { log("undoLastEntry"); }
  bool takeRangeValues(std::u16string_view reference) override {
    log("takeRangeValues " + narrow(reference));
    return rangeResolves;
  }
  void runMainMacro(std::u16string_view identity) override {
    log("runMainMacro " + narrow(identity));
  }
  void restoreFormulas(std::u16string_view reference) override {
    log("restoreFormulas " + narrow(reference));
  }
  std::optional<std::u16string> windowCaption(uint64_t object) override {
    log("windowCaption " + std::to_string(object));
    return caption;
  }
  bool holdsWorkbook() const override { return workbookHeld; }
  bool hasOpenWorkbook(std::u16string_view fileName) override {
    log("hasOpenWorkbook " + narrow(fileName));
    return workbookHeld && workbookOpen;
  }
  std::optional<bool> workbookSaved() override { return saved; }
  void removeWorkbookInterceptions() override { log("removeWorkbookInterceptions"); }
  void disconnect(bool workbookClosed) override {
    log(std::string("disconnect ") + (workbookClosed ? "closed" : "open"));
    isAttached = false;
  }

  double onTimeAt = 0;

  static std::string narrow(std::u16string_view text) {
    std::string out;
    for (char16_t c : text) out += char(c);
    return out;
  }

 private:
  void log(std::string line) { log_->push_back(std::move(line)); }
  std::vector<std::string>* log_;
};

// Headless ports, a main window of the host program whose own procedure logs what it receives
// and answers 77, and a runtime attached to it at load time.
class RuntimeRig {
 public:
  static constexpr int64_t kHostAnswer = 77;

  RuntimeRig() : system(&files), clock(LocalTime{2026, 12, 10, 8, 30, 0, 0}) {
    platform.locale = &locale;
    platform.files = &files;
    platform.clock = &clock;
    platform.windows = &windows;
    platform.addinCallback = &addin;
    platform.system = &system;
    mainWindow = windows.createWindow(
        {u"XLMAIN", u"Host", WindowHandle::kNoWindow, 0},
        WindowProc([this](WindowHandle, uint32_t message, uint64_t wParam, int64_t lParam) {
          hostMessages.push_back({message, wParam, lParam});
          return kHostAnswer;
        }));
    runtime = std::make_unique<Runtime>(platform);
    auto recording = std::make_unique<RecordingConnection>(&log);
    connection = recording.get();
    runtime->setConnection(std::move(recording));
    runtime->processAttach();
    // The load-time attach is seen by the tests of the runtime object; everything else starts
    // with an empty log.
    log.clear();
  }

  // Sends a message to the main window, as the launcher or the workbook's code does.
  int64_t send(uint32_t message, uint64_t wParam = 0, int64_t lParam = 0) {
    return windows.send(mainWindow, message, wParam, lParam);
  }
  // A payload block holding the bytes; its address travels in wParam.
  uint64_t payload(std::string_view bytes) {
    uint8_t* block = windows.allocatePayload(bytes.size());
    std::copy(bytes.begin(), bytes.end(), block);
    return payloadAddress(block);
  }
  // A payload of UTF-16LE text; the unit count travels in lParam.
  uint64_t textPayload(std::u16string_view text) {
    std::string bytes;
    for (char16_t c : text) {
      bytes.push_back(char(c & 0xFF));
      bytes.push_back(char(c >> 8));
    }
    return payload(bytes);
  }

  struct HostMessage {
    uint32_t message;
    uint64_t wParam;
    int64_t lParam;
  };

  HeadlessLocale locale;
  MemoryFiles files;
  HeadlessSystem system;
  FixedClock clock;
  HeadlessWindowSystem windows;
  HeadlessAddinCallback addin;
  Platform platform;
  WindowHandle mainWindow;
  std::vector<HostMessage> hostMessages;
  std::vector<std::string> log;
  std::unique_ptr<Runtime> runtime;
  RecordingConnection* connection = nullptr;
};

}  // namespace korvel::testing

#endif  // KORVEL_TESTS_RUNTIME_RUNTIME_TEST_SUPPORT_H_
