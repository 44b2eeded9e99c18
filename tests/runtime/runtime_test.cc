#include "runtime/runtime.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "runtime/host_channel.h"
#include "tests/runtime/runtime_test_support.h"

namespace korvel {
namespace {

using testing::RecordingConnection;
using testing::RuntimeRig;

class RecordingMenus : public MenuManager {
 public:
  explicit RecordingMenus(int* removals) : removals_(removals) {}
  void removeMenus() override { ++*removals_; }

 private:
  int* removals_;
};

// Sets the launcher's paths directly, as the channel would have stored them.
void setPaths(Runtime& runtime) {
  ChannelState& state = runtime.channelState();
  state.applicationPath = u"C:\\Apps\\Budget.exe";
  state.workbookPath = u"C:\\Temp\\wb1.xls";
  state.runtimeModulePath = u"C:\\Temp\\rt1.dll";
}

TEST(RuntimeLoadTest, MainWindowIsTheLowestHostWindowOfTheProcess) {
  HeadlessWindowSystem windows;
  HeadlessAddinCallback addin;
  MemoryFiles files;
  HeadlessSystem system(&files);
  std::vector<std::string> hostLog;
  auto host = [&](std::string name) {
    return WindowProc([&hostLog, name](WindowHandle, uint32_t message, uint64_t, int64_t) {
      hostLog.push_back(name + " " + std::to_string(message));
      return int64_t(5);
    });
  };
  WindowHandle foreign =
      windows.createWindow({u"XLMAIN", u"", WindowHandle::kNoWindow, 77}, host("foreign"));
  WindowHandle first =
      windows.createWindow({u"XLMAIN", u"", WindowHandle::kNoWindow, 0}, host("first"));
  WindowHandle other =
      windows.createWindow({u"OTHER", u"", WindowHandle::kNoWindow, 0}, host("other"));
  WindowHandle second =
      windows.createWindow({u"xlmain", u"", WindowHandle::kNoWindow, 0}, host("second"));
  Platform platform;
  platform.windows = &windows;
  platform.addinCallback = &addin;
  platform.system = &system;
  std::vector<std::string> log;
  Runtime runtime(platform);
  runtime.setConnection(std::make_unique<RecordingConnection>(&log));
  runtime.processAttach();

  EXPECT_EQ(runtime.mainWindow(), first);
  EXPECT_EQ(runtime.subclassRegistry().size(), 1u);  // the class name is compared exactly
  EXPECT_EQ(log, std::vector<std::string>{"subclassEditWindows"});
  EXPECT_EQ(windows.windowProc(first), runtime.windowProcedure());
  EXPECT_NE(windows.windowProc(foreign), runtime.windowProcedure());
  EXPECT_NE(windows.windowProc(other), runtime.windowProcedure());
  EXPECT_NE(windows.windowProc(second), runtime.windowProcedure());

  // Subclassing again never chains the procedure to itself.
  EXPECT_TRUE(runtime.subclassWindow(first));
  EXPECT_EQ(windows.send(first, 1100, 0, 0), 5);
  EXPECT_EQ(windows.send(first, HC_QUERY_ATTACHED, 0, 0), 0);
  EXPECT_EQ(hostLog, std::vector<std::string>{"first 1100"});

  runtime.processDetach();
  EXPECT_NE(windows.windowProc(first), runtime.windowProcedure());
  EXPECT_EQ(windows.send(first, HC_QUERY_ATTACHED, 0, 0), 5);
}

TEST(RuntimeLoadTest, WithoutAHostWindowTheMainWindowStaysUnset) {
  HeadlessWindowSystem windows;
  MemoryFiles files;
  HeadlessSystem system(&files);
  Platform platform;
  platform.windows = &windows;
  platform.system = &system;
  Runtime runtime(platform);
  runtime.processAttach();
  EXPECT_EQ(runtime.mainWindow(), WindowHandle::kNoWindow);
  EXPECT_FALSE(runtime.postDeferred(DEFER_RECALCULATE, 1));
  EXPECT_EQ(runtime.sendDeferred(DEFER_RECALCULATE, 1), 0);
  EXPECT_EQ(Runtime::instance(), &runtime);
}

TEST(RuntimeLoadTest, OnlyTheMainWindowCarriesCommands) {
  RuntimeRig rig;
  int64_t answers = 0;
  WindowHandle workbookWindow = rig.windows.createWindow(
      {u"EXCEL7", u"", rig.mainWindow, 0},
      WindowProc([&](WindowHandle, uint32_t, uint64_t, int64_t) { return ++answers; }));
  ASSERT_TRUE(rig.runtime->subclassWindow(workbookWindow));
  uint64_t block = rig.textPayload(u"x");
  // The workbook window's own use of the number passes through and frees nothing.
  EXPECT_EQ(rig.windows.send(workbookWindow, HC_WORKBOOK_PATH, block, 1), 1);
  EXPECT_EQ(rig.windows.payloadReleases(block), 0);
  EXPECT_EQ(rig.runtime->channelState().workbookPath, u"");
  rig.windows.releasePayload(block);
}

TEST(RuntimeShutDownTest, WithoutTheHostProgramItStillDestroysAndRequestsTheCleanUp) {
  RuntimeRig rig;
  int removals = 0;
  rig.runtime->setMenuManager(std::make_unique<RecordingMenus>(&removals));
  setPaths(*rig.runtime);
  rig.files.writeAll(u"C:\\Temp\\wb1.xls", "workbook");
  rig.files.writeAll(u"C:\\Temp\\rt1.dll", "module");

  rig.runtime->shutDown();
  EXPECT_EQ(removals, 1);
  EXPECT_EQ(rig.runtime->menuManager(), nullptr);
  EXPECT_EQ(rig.runtime->model(), nullptr);
  EXPECT_EQ(rig.runtime->engine(), nullptr);
  EXPECT_TRUE(rig.log.empty());
  ASSERT_EQ(rig.system.detachedProcesses().size(), 1u);
  const DetachedProcess& cleanup = rig.system.detachedProcesses()[0];
  EXPECT_EQ(cleanup.executable, u"C:\\Apps\\Budget.exe");
  EXPECT_EQ(cleanup.arguments, (std::vector<std::u16string>{u"-clnx", u"C:\\Temp\\wb1.xls",
                                                            u"-clnd", u"C:\\Temp\\rt1.dll"}));
  // The launcher stand-in removes the two temporary files.
  EXPECT_FALSE(rig.files.exists(u"C:\\Temp\\wb1.xls"));
  EXPECT_FALSE(rig.files.exists(u"C:\\Temp\\rt1.dll"));

  // A second run only asks for the clean-up again.
  rig.runtime->shutDown();
  EXPECT_EQ(removals, 1);
  EXPECT_TRUE(rig.log.empty());
  EXPECT_EQ(rig.system.detachedProcesses().size(), 2u);
  // Commands after the shut-down find no model and change nothing.
  EXPECT_EQ(rig.send(HC_MODEL_PART, 0, 0), 1);
}

TEST(RuntimeShutDownTest, AnAttachedProgramWithAnOpenWorkbookIsLetGoOfInOrder) {
  RuntimeRig rig;
  setPaths(*rig.runtime);
  rig.send(HC_ATTACH_APPLICATION, 0x5000, 0);
  rig.connection->workbookHeld = true;
  rig.connection->workbookOpen = true;
  rig.log.clear();
  rig.runtime->shutDown();
  EXPECT_EQ(rig.log,
            (std::vector<std::string>{"hasOpenWorkbook wb1.xls", "removeWorkbookInterceptions",
                                      "hasOpenWorkbook wb1.xls", "disconnect open"}));
  EXPECT_EQ(rig.system.detachedProcesses().size(), 1u);
}

TEST(RuntimeShutDownTest, WorkbookClosedWhenNotHeldOrNotAmongTheOpenOnes) {
  RuntimeRig rig;
  setPaths(*rig.runtime);
  EXPECT_TRUE(rig.runtime->isWorkbookClosed());
  rig.connection->workbookHeld = true;
  EXPECT_TRUE(rig.runtime->isWorkbookClosed());
  rig.connection->workbookOpen = true;
  EXPECT_FALSE(rig.runtime->isWorkbookClosed());
}

TEST(RuntimeShutDownTest, TerminateSwitchesEventsOffAndEndsTheProcess) {
  RuntimeRig rig;
  rig.runtime->terminateExcel();
  EXPECT_TRUE(rig.log.empty());
  EXPECT_EQ(rig.system.exitCode(), 0);
  rig.send(HC_ATTACH_APPLICATION, 0x5000, 0);
  rig.log.clear();
  rig.runtime->terminateExcel();
  EXPECT_EQ(rig.log, std::vector<std::string>{"setEnableEvents false"});
}

TEST(RuntimeShutDownTest, UnloadRestoresTheHostWindowAndAsksForTheCleanUpAgain) {
  RuntimeRig rig;
  setPaths(*rig.runtime);
  rig.runtime->processDetach();
  EXPECT_EQ(rig.log, std::vector<std::string>{"restoreEditWindows"});
  EXPECT_EQ(rig.system.detachedProcesses().size(), 2u);
  EXPECT_TRUE(rig.runtime->subclassRegistry().empty());
  EXPECT_EQ(rig.send(HC_QUERY_ATTACHED), RuntimeRig::kHostAnswer);
}

TEST(RuntimeTest, WritesIntoTheWorkbookClearTheUndoRegistration) {
  RuntimeRig rig;
  rig.runtime->calculation().undoRegistered = true;
  rig.runtime->applicationInfo().afterWrite();
  EXPECT_FALSE(rig.runtime->calculation().undoRegistered);
  EXPECT_EQ(rig.runtime->engine()->applicationInfo, &rig.runtime->applicationInfo().info());
}

}  // namespace
}  // namespace korvel
