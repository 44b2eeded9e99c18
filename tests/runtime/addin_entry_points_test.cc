#include "runtime/addin_entry_points.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/recalculation.h"
#include "engine/value.h"
#include "model/cell.h"
#include "runtime/text_table.h"
#include "tests/runtime/runtime_test_support.h"

namespace korvel {
namespace {

using testing::RecordingConnection;
using testing::RuntimeRig;

struct ExchangeCall {
  bool import = false;
  bool collected = false;
  std::u16string path;
};

class RecordingExchange : public DataExchange {
 public:
  explicit RecordingExchange(std::vector<ExchangeCall>* calls) : calls_(calls) {}
  bool exportData(bool collected, std::u16string_view path) override {
    calls_->push_back({false, collected, std::u16string(path)});
    return exportSucceeds;
  }
  void importData(std::u16string_view path) override {
    calls_->push_back({true, false, std::u16string(path)});
  }
  bool exportSucceeds = true;

 private:
  std::vector<ExchangeCall>* calls_;
};

class CountingPackaging : public Packaging {
 public:
  explicit CountingPackaging(int* saves) : saves_(saves) {}
  void saveAsExecutable() override { ++*saves_; }

 private:
  int* saves_;
};

// A rig whose runtime posts and sends to a probe window instead of the host program's, so the
// messages an entry point leaves are seen as they arrive, before the channel acts on them.
class EntryPointsTest : public ::testing::Test {
 protected:
  static constexpr int64_t kProbeAnswer = 55;

  EntryPointsTest() {
    probe = rig.windows.createWindow(
        {u"Probe", u"Probe", WindowHandle::kNoWindow, 0},
        WindowProc([this](WindowHandle, uint32_t message, uint64_t wParam, int64_t lParam) {
          probed.push_back({message, wParam, lParam});
          return kProbeAnswer;
        }));
    runtime().setMainWindow(probe);
    auto recording = std::make_unique<RecordingExchange>(&exchanges);
    exchange = recording.get();
    runtime().setDataExchange(std::move(recording));
    runtime().setPackaging(std::make_unique<CountingPackaging>(&saves));
  }

  Runtime& runtime() { return *rig.runtime; }
  RecordingConnection& connection() { return *rig.connection; }
  // Deferred actions that reached the probe, in order.
  std::vector<uint64_t> deferred() const {
    std::vector<uint64_t> actions;
    for (const RuntimeRig::HostMessage& m : probed) {
      if (m.message == HC_DEFERRED) actions.push_back(m.wParam);
    }
    return actions;
  }
  bool logged(const std::string& line) const {
    return std::find(rig.log.begin(), rig.log.end(), line) != rig.log.end();
  }

  RuntimeRig rig;
  WindowHandle probe;
  std::vector<RuntimeRig::HostMessage> probed;
  std::vector<ExchangeCall> exchanges;
  RecordingExchange* exchange = nullptr;
  int saves = 0;
};

TEST_F(EntryPointsTest, ServiceCodesAnswerTheirResults) {
  runtime().settings().applicationVersion = 0x0A0B0C0D;
  runtime().settings().applicationName = u"Budget";
  runtime().hostInformation().hostText = u"Host 7";
  runtime().channelState().launchMode = 3;
  const std::string versionItem = tableText8(TextEntry::kInfoApplicationVersion);
  const Xloper text = Xloper::string("anything");

  struct Case {
    int code;
    Xloper argument;
    Xloper expected;
  };
  const Case cases[] = {
      {kServiceInformation, Xloper::string(versionItem), Xloper::string("10.11.12")},
      {kServiceInformation, Xloper::string("appname"), Xloper::string("Budget")},
      {kServiceInformation, Xloper::string(tableText8(TextEntry::kInfoHostText)),
       Xloper::string("Host 7")},
      {kServiceInformation, Xloper::string(tableText8(TextEntry::kInfoLaunchMode)),
       Xloper::number(3)},
      {kServiceInformation, Xloper::string("NOSUCHITEM"), Xloper::integer(-2)},
      {kServiceInformation, Xloper::number(54), Xloper::integer(-3)},
      {kServiceImport, Xloper::string("C:\\data.dat"), Xloper::integer(-2)},
      {kServiceExport, text, Xloper::integer(0)},
      {42, text, Xloper::integer(-2)},
      {0, Xloper(), Xloper::integer(-2)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    const Xloper* result = DummyFunc8(runtime(), c.code, &c.argument);
    ASSERT_NE(result, nullptr);
    EXPECT_EQ(*result, c.expected);
  }
  // Data exchange is off: neither the import nor the export ran.
  EXPECT_TRUE(exchanges.empty());
}

TEST_F(EntryPointsTest, DataExchangeCodesPassPathsAndReportFailures) {
  runtime().settings().dataExchange = true;
  Xloper path = Xloper::string("C:\\out.dat");
  Xloper number = Xloper::number(1);

  EXPECT_EQ(*DummyFunc8(runtime(), kServiceExport, &path), Xloper::integer(0));
  EXPECT_EQ(*DummyFunc8(runtime(), kServiceExportCollected, &number), Xloper::integer(0));
  exchange->exportSucceeds = false;
  EXPECT_EQ(*DummyFunc8(runtime(), kServiceExport, nullptr), Xloper::integer(-1));
  EXPECT_EQ(*DummyFunc8(runtime(), kServiceImport, &path), Xloper::integer(0));

  ASSERT_EQ(exchanges.size(), 4u);
  EXPECT_FALSE(exchanges[0].import);
  EXPECT_FALSE(exchanges[0].collected);
  EXPECT_EQ(exchanges[0].path, u"C:\\out.dat");
  EXPECT_TRUE(exchanges[1].collected);
  EXPECT_EQ(exchanges[1].path, u"");  // only a string names a path
  EXPECT_EQ(exchanges[2].path, u"");
  EXPECT_TRUE(exchanges[3].import);
  EXPECT_EQ(exchanges[3].path, u"C:\\out.dat");
}

TEST_F(EntryPointsTest, ServiceCodesPostCommandsAndSetFlags) {
  for (int code : {kServicePostSave, kServicePostAgreement, kServicePostAbout}) {
    EXPECT_EQ(*DummyFunc8(runtime(), code, nullptr), Xloper::integer(0));
  }
  EXPECT_TRUE(deferred().empty());  // posted, not sent
  rig.windows.runMessageLoop();
  EXPECT_EQ(deferred(),
            (std::vector<uint64_t>{DEFER_SAVE_EXECUTABLE, DEFER_AGREEMENT, DEFER_ABOUT}));

  DummyFunc8(runtime(), kServiceSaveExecutable, nullptr);
  EXPECT_EQ(saves, 0);
  runtime().settings().saveAsExecutable = true;
  DummyFunc8(runtime(), kServiceSaveExecutable, nullptr);
  EXPECT_EQ(saves, 1);

  // The flag follows the argument's value, whatever record carries it.
  struct Flag {
    Xloper argument;
    bool running;
  };
  const Flag flags[] = {
      {Xloper::number(1.0), true},     {Xloper::number(0), false},    {Xloper::integer(-1), true},
      {Xloper::boolean(false), false}, {Xloper::boolean(true), true}, {Xloper(), false},
  };
  for (const Flag& f : flags) {
    DummyFunc8(runtime(), kServiceCodeRunning, &f.argument);
    EXPECT_EQ(runtime().calculation().workbookCodeRunning, f.running) << int(f.argument.type());
  }

  Xloper name = Xloper::string("Inputs");
  Xloper yes = Xloper::boolean(true);
  Xloper cell = Xloper::number(12);
  for (const Xloper* argument : {&name, &yes, &cell}) {
    DummyFunc8(runtime(), kServiceRestoreFormulas, argument);
  }
  EXPECT_TRUE(logged("restoreFormulas Inputs"));
  EXPECT_TRUE(logged("restoreFormulas TRUE"));
  EXPECT_TRUE(logged("restoreFormulas 12"));
}

TEST_F(EntryPointsTest, WindowIconGoesToTheFormWindow) {
  runtime().channelState().applicationPath = u"C:\\Apps\\Budget.exe";
  rig.system.setExecutableIcon(u"C:\\Apps\\Budget.exe", true, false);
  std::vector<RuntimeRig::HostMessage> formMessages;
  rig.windows.createWindow(
      {u"ThunderDFrame", u"Budget form", WindowHandle::kNoWindow, 0},
      WindowProc([&](WindowHandle, uint32_t message, uint64_t wParam, int64_t lParam) {
        formMessages.push_back({message, wParam, lParam});
        return int64_t(0);
      }));
  Xloper object = Xloper::number(4096);

  connection().caption = std::nullopt;
  EXPECT_EQ(*DummyFunc8(runtime(), kServiceWindowIcon, &object), Xloper::integer(0));
  EXPECT_TRUE(formMessages.empty());

  connection().caption = u"budget FORM";
  DummyFunc8(runtime(), kServiceWindowIcon, &object);
  EXPECT_TRUE(logged("windowCaption 4096"));
  ASSERT_EQ(formMessages.size(), 2u);
  EXPECT_EQ(formMessages[0].message, kWmSetIcon);
  EXPECT_EQ(formMessages[0].wParam, kIconBig);
  EXPECT_EQ(formMessages[1].wParam, kIconSmall);
  // Without a small icon the large one serves both sizes.
  EXPECT_NE(formMessages[0].lParam, 0);
  EXPECT_EQ(formMessages[1].lParam, formMessages[0].lParam);
}

TEST_F(EntryPointsTest, CalculateCommandPostsOnlyWithWorkToDo) {
  Cell cell(runtime().model());
  struct Case {
    const char* name;
    bool changed;
    bool iteration;
    int calculation;
    bool pendingTable;
    bool posts;
  };
  const Case cases[] = {
      {"nothing to do", false, false, -4105, false, false},
      {"semiautomatic without pending tables", false, false, 2, false, false},
      {"semiautomatic with a pending table", false, false, 2, true, true},
      {"automatic with a pending table", false, false, -4105, true, false},
      {"changed cells", true, false, -4105, false, true},
      {"iteration", false, true, -4105, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    probed.clear();
    runtime().engine()->changedCells.clear();
    if (c.changed) runtime().engine()->changedCells.push_back(&cell);
    runtime().engine()->iteration = c.iteration;
    connection().calculation = c.calculation;
    DataTable& table = runtime().engine()->recalculation().dataTable(RangeRef{});
    table.pending.clear();
    if (c.pendingTable) table.pending.insert(&cell);
    EXPECT_NE(DummyFunc1(runtime()), nullptr);
    rig.windows.runMessageLoop();
    if (c.posts) {
      ASSERT_EQ(probed.size(), 1u);
      EXPECT_EQ(probed[0].message, HC_DEFERRED);
      EXPECT_EQ(probed[0].wParam, DEFER_RECALCULATE);
      EXPECT_EQ(probed[0].lParam, 1);
    } else {
      EXPECT_TRUE(probed.empty());
    }
  }
  runtime().engine()->changedCells.clear();
  runtime().engine()->recalculation().dataTable(RangeRef{}).pending.clear();

  // After the shut-down there is no model to look at.
  runtime().shutDown();
  probed.clear();
  EXPECT_NE(DummyFunc1(runtime()), nullptr);
  rig.windows.runMessageLoop();
  EXPECT_TRUE(probed.empty());
}

TEST_F(EntryPointsTest, ChannelEntrancePostsControlNoticesAndSendsTheRest) {
  EXPECT_EQ(DummyFunc9(runtime(), HC_CONTROL_CHANGED, 7, 0), 1);
  EXPECT_TRUE(probed.empty());
  EXPECT_EQ(DummyFunc9(runtime(), HC_QUERY_ATTACHED, 0, 0), kProbeAnswer);
  ASSERT_EQ(probed.size(), 1u);
  EXPECT_EQ(probed[0].message, HC_QUERY_ATTACHED);
  rig.windows.runMessageLoop();
  ASSERT_EQ(probed.size(), 2u);
  EXPECT_EQ(probed[1].message, HC_CONTROL_CHANGED);
  EXPECT_EQ(probed[1].wParam, 7u);

  // Without a window the post fails and the send answers 0.
  runtime().setMainWindow(WindowHandle::kNoWindow);
  EXPECT_EQ(DummyFunc9(runtime(), HC_CONTROL_CHANGED, 7, 0), 0);
  EXPECT_EQ(DummyFunc9(runtime(), HC_QUERY_ATTACHED, 0, 0), 0);
}

TEST_F(EntryPointsTest, RangeEntryTakesValuesAndRegistersUndo) {
  Xloper address = Xloper::string("Sheet1!B2:C3");
  Xloper reference = Xloper::reference(9, {XlRect{1, 2, 1, 2}});
  Xloper column = Xloper::smallReference(XlRect{0, 0, 27, 27});
  for (const Xloper* argument : {&address, &reference, &column}) {
    const Xloper* result = DummyFunc5(runtime(), argument);
    ASSERT_NE(result, nullptr);
    EXPECT_TRUE(result->is(kXltypeNil));
  }
  EXPECT_TRUE(logged("takeRangeValues Sheet1!B2:C3"));
  EXPECT_TRUE(logged("takeRangeValues B2:C3"));
  EXPECT_TRUE(logged("takeRangeValues AB1"));
  EXPECT_TRUE(deferred().empty());

  runtime().calculation().undoList.push_back(UndoEntry{});
  DummyFunc5(runtime(), nullptr);
  EXPECT_EQ(deferred(), std::vector<uint64_t>{DEFER_REGISTER_UNDO});  // sent at once
  runtime().calculation().undoRegistered = true;
  DummyFunc5(runtime(), &address);
  EXPECT_EQ(deferred().size(), 1u);
}

TEST_F(EntryPointsTest, MainMacroRunsWithTheCodeFlagAndClearsChanges) {
  Cell cell(runtime().model());
  runtime().engine()->changedCells.push_back(&cell);
  EXPECT_EQ(DummyFunc3(runtime()), 0);
  EXPECT_TRUE(logged("runMainMacro " + tableText8(TextEntry::kMainWorkbook)));
  EXPECT_TRUE(runtime().engine()->changedCells.empty());
  EXPECT_FALSE(runtime().calculation().workbookCodeRunning);

  EXPECT_EQ(DummyFunc6(runtime()), 0);
  EXPECT_TRUE(runtime().calculation().userEntry);
  runtime().calculation().lastDuration = 0.25;
  EXPECT_EQ(DummyFunc2(runtime()), 0.25);
  EXPECT_EQ(DummyFunc4(runtime()), 0);
  EXPECT_EQ(DummyFunc13(runtime()), 0);
  EXPECT_TRUE(logged("undoLastEntry"));
  EXPECT_TRUE(logged("runStartMacros"));
}

TEST_F(EntryPointsTest, ConstantTableIsReadableUntilClosed) {
  runtime().model()->constants.push_back(Value::text(u"Ab\u0101"));
  runtime().model()->constants.push_back(Value::number(2.5));

  EXPECT_EQ(DummyFunc12(runtime(), 0), "Ab\x01");
  EXPECT_EQ(DummyFunc11(runtime(), 0), Variant::text(u"Ab\x01"));
  EXPECT_EQ(DummyFunc12(runtime(), 1), "");
  EXPECT_EQ(DummyFunc11(runtime(), 1), Variant::r8(2.5));
  for (int index : {-1, 2}) {
    EXPECT_EQ(DummyFunc12(runtime(), index), "");
    EXPECT_TRUE(DummyFunc11(runtime(), index).isEmpty());
  }
  runtime().constantsReadable = false;
  EXPECT_EQ(DummyFunc12(runtime(), 0), "");
  EXPECT_TRUE(DummyFunc11(runtime(), 0).isEmpty());
}

TEST_F(EntryPointsTest, AutoCloseUnregistersOnlyWhenTheWorkbookMayGo) {
  struct Case {
    const char* name;
    bool workbookOpen;
    std::optional<bool> saved;
    bool unregisters;
  };
  const Case cases[] = {
      {"open and unsaved", true, false, false},
      {"open, saved state unknown", true, std::nullopt, false},
      {"open and saved", true, true, true},
      {"closed", false, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    runtime().registrar().registerEntries();
    ASSERT_FALSE(rig.addin.registrations().empty());
    connection().workbookHeld = true;
    connection().workbookOpen = c.workbookOpen;
    connection().saved = c.saved;
    connection().isAttached = true;
    rig.log.clear();
    EXPECT_EQ(xlAutoClose(runtime()), 0);
    EXPECT_EQ(rig.addin.registrations().empty(), c.unregisters);
    EXPECT_EQ(rig.addin.keyBindings().empty(), c.unregisters);
    EXPECT_TRUE(logged("setIgnoreRemoteRequests false"));
  }
  EXPECT_FALSE(rig.system.exitCode().has_value());
}

TEST_F(EntryPointsTest, DoNothingEntriesAnswerOneRecord) {
  Xloper argument = Xloper::number(3);
  EXPECT_EQ(DummyFunc0(runtime()), DummyFunc7(runtime(), &argument));
  EXPECT_EQ(DummyFunc0(runtime()), DummyFunc1(runtime()));
}

}  // namespace
}  // namespace korvel
