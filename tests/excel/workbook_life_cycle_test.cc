// The start sequence and the close handling of the program's workbooks, against fake program
// objects and the headless window system.
#include "excel/workbook_life_cycle.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "excel/dispatch_ids.h"
#include "excel/excel_connection.h"
#include "hosts/headless/headless_system.h"
#include "hosts/headless/headless_window_system.h"
#include "hosts/headless/memory_files.h"
#include "runtime/runtime.h"
#include "runtime/text_table.h"
#include "tests/excel/fake_objects.h"

namespace korvel {
namespace {

using testing::FakeObject;

class ScriptedDataExchange : public DataExchange {
 public:
  bool exportWrites = true;
  bool succeeded = false;
  int exports = 0;
  std::vector<std::u16string> imports;

  bool exportData(bool collected, std::u16string_view path) override {
    EXPECT_FALSE(collected);
    EXPECT_TRUE(path.empty());
    ++exports;
    succeeded = exportWrites;
    return exportWrites;
  }
  void importData(std::u16string_view path) override { imports.emplace_back(path); }
  // The start-up import reads the path the launcher named; tests see which path that was.
  void importStartupData() override { imports.push_back(startupPath()); }
  std::function<std::u16string()> startupPath;
  bool lastExportSucceeded() const override { return succeeded; }
};

class LifeCycleTest : public ::testing::Test {
 protected:
  LifeCycleTest() : system_(&files_) {
    main_ = windows_.createWindow({u"XLMAIN", u"", WindowHandle::kNoWindow, 0});
    platform_.files = &files_;
    platform_.windows = &windows_;
    platform_.system = &system_;
    runtime_ = std::make_unique<Runtime>(platform_);
    runtime_->setMainWindow(main_);
    auto data = std::make_unique<ScriptedDataExchange>();
    data_ = data.get();
    data_->startupPath = [this] { return runtime_->channelState().startupDataPath; };
    runtime_->setDataExchange(std::move(data));
    connection_ = std::make_unique<ExcelConnection>(*runtime_);

    application_ = std::make_shared<FakeObject>("application");
    workbook_ = std::make_shared<FakeObject>("workbook");
    auto& app = application_->properties;
    app[dispid::kVisible] = Variant::boolean(false);
    app[dispid::kEnableEvents] = Variant::boolean(true);
    app[dispid::kScreenUpdating] = Variant::boolean(true);
    app[dispid::kIteration] = Variant::boolean(true);
    app[dispid::kMaxChange] = Variant::r8(0.01);
    app[dispid::kMaxIterations] = Variant::i4(250);
    workbook_->properties[dispid::kName] = Variant::text(u"App.xlsx");
    workbook_->properties[dispid::kSaved] = Variant::boolean(false);
    connection_->application() = ExcelObject(application_);
    connection_->workbook() = ExcelObject(workbook_);

    runtime_->hostInformation().excelVersion = 16;
    runtime_->settings().applicationName = u"Pricer";
    runtime_->channelState().workbookPath = u"C:\\Temp\\App.xlsx";
  }

  bool visible() { return application_->properties[dispid::kVisible].boolean(); }
  bool close(const std::shared_ptr<FakeObject>& workbook, bool cancelled = false) {
    Variant cancel = Variant::boolean(cancelled);
    onWorkbookBeforeClose(*connection_, ExcelObject(workbook), cancel);
    return cancel.boolean();
  }

  MemoryFiles files_;
  HeadlessSystem system_;
  HeadlessWindowSystem windows_;
  Platform platform_;
  WindowHandle main_;
  std::unique_ptr<Runtime> runtime_;
  ScriptedDataExchange* data_ = nullptr;
  std::unique_ptr<ExcelConnection> connection_;
  std::shared_ptr<FakeObject> application_;
  std::shared_ptr<FakeObject> workbook_;
};

TEST_F(LifeCycleTest, StartCopiesTheProgramsIterationAndHandsItsStateBack) {
  runtime_->settings().dataExchange = true;
  runtime_->channelState().startupDataPath = u"C:\\data\\start.dat";

  startApplication(*connection_);

  Engine& engine = *runtime_->engine();
  EXPECT_TRUE(engine.iteration);
  EXPECT_EQ(engine.maxChange, 0.01);
  // The program reports its maximum iterations as an integer; it is taken all the same.
  EXPECT_EQ(engine.maxIterations, 250);
  EXPECT_EQ(engine.workbookName, u"App.xlsx");
  EXPECT_EQ(application_->count("put 0x4BC"), 2);
  EXPECT_TRUE(application_->properties[dispid::kEnableEvents].boolean());
  EXPECT_TRUE(application_->properties[dispid::kScreenUpdating].boolean());
  EXPECT_EQ(data_->imports, std::vector<std::u16string>{u"C:\\data\\start.dat"});

  // Anything else than a number leaves the engine without iteration limits.
  application_->properties[dispid::kIteration] = Variant::i4(1);
  application_->properties[dispid::kMaxChange] = Variant::text(u"x");
  application_->properties[dispid::kMaxIterations] = Variant::text(u"100");
  runtime_->settings().dataExchange = false;
  startApplication(*connection_);
  EXPECT_FALSE(engine.iteration);
  EXPECT_EQ(engine.maxChange, 0);
  EXPECT_EQ(engine.maxIterations, 0);
  EXPECT_EQ(data_->imports.size(), 1u);
}

TEST_F(LifeCycleTest, StartGivesEventsAndScreenBackWhenTheProgramFails) {
  application_->failing.insert(dispid::kMaxChange);
  EXPECT_THROW(startApplication(*connection_), ComError);
  EXPECT_TRUE(application_->properties[dispid::kEnableEvents].boolean());
  EXPECT_TRUE(application_->properties[dispid::kScreenUpdating].boolean());
}

TEST_F(LifeCycleTest, StartShowsTheProgramOnlyWhenNothingElseDecides) {
  struct Case {
    const char* what;
    bool showAtStart;
    int32_t version;
    bool macroPending;
    uint64_t launchMode;
    bool shown;
  } cases[] = {
      {"older program stays hidden", false, 14, false, 0, false},
      {"version 15 shows", false, 15, false, 0, true},
      {"show at start without macros shows", true, 14, false, 0, true},
      {"show at start waits for the start macro", true, 16, true, 0, false},
      {"the launcher decides", false, 16, false, 1, false},
  };
  for (const Case& c : cases) {
    application_->properties[dispid::kVisible] = Variant::boolean(false);
    runtime_->settings().showAtStart = c.showAtStart;
    runtime_->hostInformation().excelVersion = c.version;
    runtime_->channelState().firstStartMacro = c.macroPending ? u"Begin" : u"";
    runtime_->channelState().launchMode = c.launchMode;
    int puts = application_->count("put 0x22E");

    startApplication(*connection_);

    EXPECT_EQ(visible(), c.shown) << c.what;
    EXPECT_EQ(application_->count("put 0x22E"), puts + (c.shown ? 1 : 0)) << c.what;
  }
}

struct CloseCase {
  const char* what;
  bool dataExchange;
  bool saved;
  bool exported;  // the last export succeeded
  int answer;     // 0: no question expected
  bool exportWrites;
  bool cancelled;
};

TEST_F(LifeCycleTest, ClosingTheApplicationWorkbookOffersToExportUnsavedData) {
  const CloseCase cases[] = {
      {"exported already", true, false, true, 0, true, false},
      {"saved", true, true, false, 0, true, false},
      {"data exchange off", false, false, false, 0, true, false},
      {"yes, export written", true, false, false, kIdYes, true, false},
      {"yes, export failed", true, false, false, kIdYes, false, true},
      {"no", true, false, false, kIdNo, true, false},
      {"cancel", true, false, false, kIdCancel, true, true},
  };
  for (const CloseCase& c : cases) {
    runtime_->settings().dataExchange = c.dataExchange;
    workbook_->properties[dispid::kSaved] = Variant::boolean(c.saved);
    data_->succeeded = c.exported;
    data_->exportWrites = c.exportWrites;
    data_->exports = 0;
    application_->properties[dispid::kDisplayAlerts] = Variant::boolean(true);
    size_t boxes = windows_.messageBoxes().size();
    if (c.answer != 0) windows_.queueMessageBoxAnswer(c.answer);

    EXPECT_EQ(close(workbook_), c.cancelled) << c.what;

    EXPECT_FALSE(application_->properties[dispid::kDisplayAlerts].boolean()) << c.what;
    ASSERT_EQ(windows_.messageBoxes().size(), boxes + (c.answer != 0 ? 1 : 0)) << c.what;
    if (c.answer != 0) {
      const auto& box = windows_.messageBoxes().back();
      EXPECT_EQ(box.text, tableText(TextEntry::kCloseQuestion));
      EXPECT_EQ(box.caption, tableText(TextEntry::kCloseCaptionPrefix) + u" Pricer");
      EXPECT_EQ(box.style, kMbYesNoCancel | kMbIconWarning);
    }
    EXPECT_EQ(data_->exports, c.answer == kIdYes ? 1 : 0) << c.what;
    EXPECT_TRUE(application_->properties[dispid::kEnableEvents].boolean()) << c.what;
  }
}

TEST_F(LifeCycleTest, AHiddenProgramEndsWithTheApplicationWorkbook) {
  runtime_->settings().saveAsExecutable = true;
  EXPECT_FALSE(close(workbook_));
  // The program's own save question leads to saving the application.
  EXPECT_TRUE(application_->properties[dispid::kDisplayAlerts].boolean());
  ASSERT_EQ(windows_.queuedMessages(), 1u);
  windows_.pumpMessages();

  application_->properties[dispid::kVisible] = Variant::boolean(true);
  EXPECT_FALSE(close(workbook_));
  EXPECT_EQ(windows_.queuedMessages(), 0u);

  // A close somebody else cancelled stays cancelled and asks nothing.
  EXPECT_TRUE(close(workbook_, true));
  EXPECT_EQ(application_->count("put 0x157"), 2);
}

TEST_F(LifeCycleTest, ClosingAnotherWorkbookLeavesTheApplicationAlone) {
  runtime_->settings().dataExchange = true;
  auto other = std::make_shared<FakeObject>("other");
  other->properties[dispid::kName] = Variant::text(u"Notes.xlsx");
  other->properties[dispid::kSaved] = Variant::boolean(false);

  EXPECT_FALSE(close(other));

  EXPECT_TRUE(windows_.messageBoxes().empty());
  EXPECT_EQ(application_->count("put 0x157"), 0);
  EXPECT_EQ(windows_.queuedMessages(), 0u);
  EXPECT_TRUE(application_->properties[dispid::kEnableEvents].boolean());
}

}  // namespace
}  // namespace korvel
