#include "excel/application_events.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "compiler/model_builder.h"
#include "compiler/workbook_text.h"
#include "engine/value_variant.h"
#include "excel/dispatch_ids.h"
#include "excel/excel_connection.h"
#include "excel/object_layer.h"
#include "excel/protection.h"
#include "functions/function_catalogue.h"
#include "model/address.h"
#include "runtime/host_commands.h"
#include "tests/engine/recording_calc_host.h"
#include "tests/engine/value_test_support.h"
#include "tests/excel/fake_objects.h"
#include "tests/runtime/runtime_test_support.h"
#include "util/text.h"

namespace korvel {
namespace {

using testing::FakeObject;

// The Application fires its events into whatever sink is advised.
class FakeApplication : public FakeObject {
 public:
  FakeApplication() : FakeObject("application") {}
  uint32_t advise(const InterfaceId& events, std::shared_ptr<Dispatch> s) override {
    if (events != kIidApplicationEvents) return 0;
    sink = std::move(s);
    return 41;
  }
  bool unadvise(uint32_t cookie) override {
    if (cookie != 41 || !sink) return false;
    sink.reset();
    return true;
  }
  HResult fire(int32_t event, std::vector<Variant>& arguments) {
    return sink->invoke(event, InvokeKind::kMethod, arguments, nullptr);
  }
  std::shared_ptr<Dispatch> sink;
};

class RecordingPackaging : public Packaging {
 public:
  explicit RecordingPackaging(std::vector<std::string>* log) : log_(log) {}
  void saveApplication() override { log_->push_back("saveApplication"); }
  void chooseAndSaveApplicationAs() override { log_->push_back("chooseAndSaveApplicationAs"); }

 private:
  std::vector<std::string>* log_;
};

class RecordingMenus : public MenuManager {
 public:
  void enableExportCommand() override { ++enabled; }
  int enabled = 0;
};

// A host whose writes can run a test's code, as the program's change events do.
class WritingHost : public RecordingCalcHost {
 public:
  void publishCell(Cell* cell) override {
    RecordingCalcHost::publishCell(cell);
    if (onPublish) onPublish(cell);
  }
  std::function<void(Cell*)> onPublish;
};

// A runtime with the real connection over fake program objects: the application workbook with
// two worksheets whose cells answer from `values` (and `formulas`), and a model compiled from a
// small workbook text.
class ApplicationEventsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto owned = std::make_unique<ExcelConnection>(*rig.runtime);
    connection = owned.get();
    rig.runtime->setConnection(std::move(owned));
    auto packaging = std::make_unique<RecordingPackaging>(&log);
    rig.runtime->setPackaging(std::move(packaging));
    auto menus = std::make_unique<RecordingMenus>();
    menu = menus.get();
    rig.runtime->setMenuManager(std::move(menus));

    application = std::make_shared<FakeApplication>();
    application->properties[dispid::kEnableEvents] = Variant::boolean(true);
    application->properties[dispid::kScreenUpdating] = Variant::boolean(true);
    application->properties[dispid::kCalculation] = Variant::i4(kCalculationAutomatic);
    application->methods[dispid::kCalculateFull] = [](auto, Variant*) { return kSOk; };
    application->methods[dispid::kOnUndo] = [](auto, Variant*) { return kSOk; };
    application->methods[dispid::kRun] = [](auto, Variant*) { return kSOk; };
    workbook = std::make_shared<FakeObject>("workbook");
    worksheets = std::make_shared<FakeObject>("worksheets");
    workbook->properties[dispid::kWorksheets] = testing::object(worksheets);
    for (uint32_t i = 0; i < 2; ++i) sheets.push_back(makeSheet(i));
    worksheets->methods[dispid::kItem] = [this](std::span<Variant> arguments, Variant* result) {
      int32_t index = int32_t(arguments[0].integer());
      if (index < 1 || index > int32_t(sheets.size())) return kEFail;
      *result = testing::object(sheets[index - 1]);
      return kSOk;
    };
    application->properties[dispid::kActiveSheet] = testing::object(sheets[0]);
    connection->application() = ExcelObject(application);
    connection->workbook() = ExcelObject(workbook);
    rig.runtime->setMainWindow(rig.mainWindow);

    build(
        "[Sheet1]\nA1: 1\nA2: =A1*2 -> 2\nB1: 0\n"
        "[Sheet2]\nB1: 0\nA3: =Sheet1!B1+B1 -> 0\n");
    rig.runtime->engine()->setHost(&host);
  }

  void build(const std::string& text) {
    Workbook book;
    std::vector<std::string> errors;
    ASSERT_TRUE(readWorkbookText(text, &book, &errors)) << errors[0];
    ASSERT_TRUE(buildModel(book, &FunctionCatalogue::instance(), *rig.runtime->model(), &errors))
        << errors[0];
  }

  std::shared_ptr<FakeObject> makeSheet(uint32_t index) {
    auto sheet = std::make_shared<FakeObject>("sheet" + std::to_string(index + 1));
    sheet->properties[dispid::kIndex] = Variant::i4(int32_t(index + 1));
    sheet->properties[dispid::kParent] = testing::object(workbook);
    sheet->methods[dispid::kRange] = [this, index](std::span<Variant> arguments, Variant* result) {
      *result = testing::object(range(index, arguments[0].text()));
      return kSOk;
    };
    return sheet;
  }

  // The program's Range of an address on the sheet: one cell, or several (a paste).
  std::shared_ptr<FakeObject> range(uint32_t sheet, const std::u16string& address) {
    auto object = std::make_shared<FakeObject>("range");
    CellRef first, last;
    if (address.find(u':') == std::u16string::npos) {
      first = last = parseCell(address, sheet);
    } else {
      parseRange(address, sheet, first, last);
    }
    uint32_t rows = last.row() - first.row() + 1;
    uint32_t columns = last.column() - first.column() + 1;
    object->properties[dispid::kCount] = Variant::i4(int32_t(rows * columns));
    object->properties[dispid::kAddress] = Variant::text(address);
    bool formula = rows * columns == 1 && formulas.count(key(first)) != 0;
    object->properties[dispid::kHasFormula] = Variant::boolean(formula);
    if (formula) object->properties[dispid::kFormula] = Variant::text(formulas[key(first)]);
    if (rows * columns == 1) {
      object->properties[dispid::kValue2] = values[key(first)];
    } else {
      VariantArray array = VariantArray::twoDimensions(rows, columns);
      for (uint32_t r = 0; r < rows; ++r) {
        for (uint32_t c = 0; c < columns; ++c) {
          array.at(int32_t(r + 1), int32_t(c + 1)) =
              values[key(CellRef::at(sheet, first.row() + r, first.column() + c))];
        }
      }
      object->properties[dispid::kValue2] = Variant::array(std::move(array));
    }
    // Writes go to the workbook's cells.
    FakeObject* self = object.get();
    object->methods[dispid::kValue2] = [this, first, self](std::span<Variant> arguments,
                                                           Variant* result) {
      if (arguments.empty()) {
        *result = self->properties[dispid::kValue2];
        return kSOk;
      }
      values[key(first)] = arguments.back();
      writes.push_back(cellText(first));
      return kSOk;
    };
    return object;
  }

  static std::string key(CellRef cell) {
    return std::to_string(cell.sheet()) + "!" + std::to_string(cell.row()) + "," +
           std::to_string(cell.column());
  }

  // The user (or the workbook's code) changed cells of the sheet; HC_RANGE_CHANGED follows.
  int change(uint32_t sheet, const std::u16string& address) {
    return connection->events().onRangeChanged(ExcelObject(sheets[sheet]),
                                               ExcelObject(range(sheet, address)));
  }

  Cell* cell(const char* address, uint32_t sheet = 0) {
    return rig.runtime->model()->findCell(parseCell(fromUtf8(address), sheet));
  }
  std::string valueOf(const char* address, uint32_t sheet = 0) {
    Cell* c = cell(address, sheet);
    return c && c->value ? show(*c->value) : "-";
  }
  bool eventsOn() { return variantToBool(application->properties[dispid::kEnableEvents]); }
  CalculationState& calculation() { return rig.runtime->calculation(); }
  std::vector<Cell*>& changedCells() { return rig.runtime->engine()->changedCells; }

  WritingHost host;
  testing::RuntimeRig rig;
  ExcelConnection* connection = nullptr;
  RecordingMenus* menu = nullptr;
  std::shared_ptr<FakeApplication> application;
  std::shared_ptr<FakeObject> workbook;
  std::shared_ptr<FakeObject> worksheets;
  std::vector<std::shared_ptr<FakeObject>> sheets;
  std::map<std::string, Variant> values;
  std::map<std::string, std::u16string> formulas;
  std::vector<std::u16string> writes;
  std::vector<std::string> log;
};

TEST_F(ApplicationEventsTest, AnEntryIsStoredRecordedAndRecalculated) {
  rig.runtime->settings().dataExchange = true;
  calculation().userEntry = true;
  values[key(parseCell(u"A1", 0))] = Variant::r8(5);
  EXPECT_EQ(change(0, u"A1"), 0);

  EXPECT_EQ(valueOf("A1"), "i:5");
  EXPECT_EQ(valueOf("A2"), "i:10");
  ASSERT_EQ(host.published.size(), 1u);
  EXPECT_EQ(host.published[0], cell("A2"));
  EXPECT_EQ(application->count("call 0x70D"), 1);  // CalculateFull
  ASSERT_EQ(calculation().undoList.size(), 1u);
  EXPECT_EQ(calculation().undoList[0].cell, parseCell(u"A1", 0));
  EXPECT_EQ(calculation().undoList[0].previous, Variant::i4(1));
  EXPECT_EQ(calculation().undoList[0].formulaIndex, -1);
  EXPECT_FALSE(calculation().userEntry);
  EXPECT_FALSE(calculation().recalculating);
  EXPECT_TRUE(changedCells().empty());
  EXPECT_TRUE(eventsOn());
  EXPECT_EQ(menu->enabled, 1);
  // The undo registration was sent within the cycle and posted by the entry.
  EXPECT_GE(application->count("call 0x302"), 1);

  // The same value again is no change: nothing is recorded or computed.
  host.published.clear();
  EXPECT_EQ(change(0, u"A1"), 0);
  EXPECT_TRUE(host.published.empty());
  EXPECT_EQ(calculation().undoList.size(), 1u);
  EXPECT_EQ(menu->enabled, 1);  // once only
}

TEST_F(ApplicationEventsTest, ClearingAZeroIsAChange) {
  values[key(parseCell(u"B1", 0))] = Variant();
  change(0, u"B1");  // B1 held 0
  EXPECT_EQ(valueOf("B1"), "-");
  EXPECT_EQ(valueOf("A3", 1), "i:0");
  EXPECT_EQ(host.published.size(), 0u);  // Sheet2!A3 computes 0 + 0 again
  EXPECT_EQ(calculation().undoList.size(), 1u);
}

TEST_F(ApplicationEventsTest, TheCycleRestoresEverythingOnAFailingPath) {
  struct Case {
    const char* name;
    bool publishThrows;
    bool screenFails;
    bool calculateFullFails;
  };
  const Case cases[] = {
      {"engine write fails", true, false, false},
      {"screen cannot be read", false, true, false},
      {"program calculation fails", false, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    application->failing.clear();
    if (c.screenFails) application->failing.insert(dispid::kScreenUpdating);
    if (c.calculateFullFails) application->failing.insert(dispid::kCalculateFull);
    host.onPublish = [&](Cell*) {
      if (c.publishThrows) throw ComError(kEFail, "write failed");
    };
    rig.runtime->settings().protectionTable = ProtectionTable{};
    Cell* a1 = cell("A1");
    a1->ensureValue() = Value::integer(int32_t(a1->value->number()) + 1);
    changedCells().push_back(a1);
    application->properties[dispid::kEnableEvents] = Variant::boolean(false);

    connection->events().recalculationCycle(false);

    EXPECT_TRUE(eventsOn());
    EXPECT_TRUE(changedCells().empty());
    EXPECT_FALSE(calculation().recalculating);
    EXPECT_FALSE(calculation().writingResults);
    EXPECT_FALSE(connection->protection().scopeOpen());
  }
  host.onPublish = nullptr;
}

// Out of memory in a recalculation is no failure of the program: the cycle still restores what it
// switched, and the user is told once, not at every edit that fails the same way.
TEST_F(ApplicationEventsTest, ARecalculationThatRunsOutOfMemoryIsSaidOnce) {
  host.onPublish = [](Cell*) { throw std::bad_alloc(); };
  size_t boxes = rig.windows.messageBoxes().size();
  for (int edit = 0; edit < 2; ++edit) {
    Cell* a1 = cell("A1");
    a1->ensureValue() = Value::integer(int32_t(a1->value->number()) + 1);
    changedCells().push_back(a1);
    connection->events().recalculationCycle(false);
    EXPECT_TRUE(eventsOn());
    EXPECT_FALSE(calculation().recalculating);
    EXPECT_FALSE(calculation().writingResults);
  }
  host.onPublish = nullptr;
  ASSERT_EQ(rig.windows.messageBoxes().size(), boxes + 1);
  EXPECT_NE(toUtf8(rig.windows.messageBoxes().back().text).find("not enough memory"),
            std::string::npos);
}

TEST_F(ApplicationEventsTest, AChangeWhileResultsAreWrittenIsIgnored) {
  values[key(parseCell(u"A1", 0))] = Variant::r8(3);
  values[key(parseCell(u"B1", 0))] = Variant::r8(99);
  int answer = -1;
  host.onPublish = [&](Cell*) {
    EXPECT_TRUE(calculation().writingResults);
    answer = change(0, u"B1");
  };
  change(0, u"A1");
  EXPECT_EQ(answer, 0);
  EXPECT_EQ(valueOf("A2"), "i:6");
  EXPECT_EQ(valueOf("B1"), "i:0");  // the program's own write event stays out of the model
  EXPECT_TRUE(eventsOn());
}

TEST_F(ApplicationEventsTest, ManualModeRecordsAndTheUsersCalculationRunsTheCycle) {
  connection->events().connectSink();
  ASSERT_TRUE(application->sink);
  application->properties[dispid::kCalculation] = Variant::i4(kCalculationManual);
  calculation().userEntry = true;
  values[key(parseCell(u"A1", 0))] = Variant::r8(4);
  change(0, u"A1");

  EXPECT_EQ(valueOf("A1"), "i:4");
  EXPECT_EQ(valueOf("A2"), "i:2");
  EXPECT_EQ(application->count("call 0x70D"), 0);
  EXPECT_EQ(calculation().undoList.size(), 1u);
  ASSERT_EQ(changedCells().size(), 1u);

  // F9: the program calculates its sheet and tells the runtime.
  std::vector<Variant> arguments{testing::object(sheets[0])};
  EXPECT_EQ(application->fire(dispid::kEventSheetCalculate, arguments), kSOk);
  rig.windows.runMessageLoop();
  EXPECT_EQ(valueOf("A2"), "i:8");
  EXPECT_TRUE(changedCells().empty());
  EXPECT_TRUE(eventsOn());
}

TEST_F(ApplicationEventsTest, ClearingOneCellRecordsUndoButAPasteDoesNot) {
  struct Case {
    const char* name;
    const char16_t* address;
    bool userEntry;
    size_t undoEntries;
  };
  const Case cases[] = {
      {"typed value", u"A1", true, 1},
      {"cleared cell without user entry", u"A1", false, 1},
      {"paste of several cells", u"A1:B1", true, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    cell("A1")->ensureValue() = Value::integer(1);
    cell("B1")->ensureValue() = Value::integer(0);
    calculation().undoList.clear();
    calculation().userEntry = c.userEntry;
    values[key(parseCell(u"A1", 0))] = c.userEntry ? Variant::r8(9) : Variant();
    values[key(parseCell(u"B1", 0))] = Variant::r8(7);
    change(0, c.address);
    EXPECT_EQ(calculation().undoList.size(), c.undoEntries);
    EXPECT_EQ(valueOf("A1"), c.userEntry ? "i:9" : "-");
    if (std::u16string(c.address).find(u':') != std::u16string::npos) {
      EXPECT_EQ(valueOf("B1"), "i:7");
    }
  }
}

TEST_F(ApplicationEventsTest, UndoWritesThePreviousValueBack) {
  calculation().userEntry = true;
  values[key(parseCell(u"A1", 0))] = Variant::text(u"12");
  change(0, u"A1");
  ASSERT_EQ(calculation().undoList.size(), 1u);
  connection->events().undoLastEntry();
  EXPECT_TRUE(calculation().undoList.empty());
  EXPECT_FALSE(calculation().undoing);
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0], u"A1");
  EXPECT_EQ(values[key(parseCell(u"A1", 0))], Variant::i4(1));
}

TEST_F(ApplicationEventsTest, UndoOfADetachedFormulaBringsItBackAndRecalculatesFully) {
  rig.runtime->settings().importOverFormulas = true;
  calculation().userEntry = true;
  values[key(parseCell(u"A2", 0))] = Variant::r8(7);
  change(0, u"A2");
  Cell* a2 = cell("A2");
  EXPECT_TRUE(a2->formulaRoots.empty());
  EXPECT_TRUE(connection->events().hasSetAsideFormula(a2));
  EXPECT_EQ(valueOf("A2"), "i:7");
  ASSERT_EQ(calculation().undoList.size(), 1u);
  EXPECT_EQ(calculation().undoList[0].formulaIndex, 0);

  rig.windows.runMessageLoop();
  connection->events().undoLastEntry();
  EXPECT_TRUE(writes.empty());  // the formula comes back instead of the old value
  EXPECT_FALSE(a2->formulaRoots.empty());
  EXPECT_FALSE(connection->events().hasSetAsideFormula(a2));
  rig.windows.runMessageLoop();  // the posted full cycle
  EXPECT_EQ(valueOf("A2"), "i:2");
  EXPECT_TRUE(changedCells().empty());
}

TEST_F(ApplicationEventsTest, AnOptionGroupSpanningTwoSheetsIsReadWhole) {
  CompiledModel& model = *rig.runtime->model();
  ControlGroup first;
  first.word = 0u << 24 | 1;
  first.items.push_back({0, 0, parseCell(u"B1", 0), u"Option 1", u"", u"", u"Choice"});
  ControlGroup second;
  second.word = 1u << 24 | 1;
  second.items.push_back({0, 0, parseCell(u"B1", 1), u"Option 2", u"", u"", u"Choice"});
  model.controls = {first, second};
  values[key(parseCell(u"B1", 0))] = Variant::r8(1);
  values[key(parseCell(u"B1", 1))] = Variant::r8(2);

  connection->events().onControlChanged(u"Option 1");
  for (uint32_t sheet : {0u, 1u}) {
    Cell* linked = cell("B1", sheet);
    EXPECT_TRUE(linked->hasFlag(kCellChangedByEvent | kCellEventMarker));
  }
  EXPECT_EQ(valueOf("A3", 1), "i:3");  // reads both linked cells
  EXPECT_EQ(application->count("call 0x70D"), 1);

  // A name of another sheet's control, or of none, changes nothing.
  connection->events().onControlChanged(u"Option 2");
  connection->events().onControlChanged(u"option 1");
  EXPECT_EQ(application->count("call 0x70D"), 1);
}

TEST_F(ApplicationEventsTest, SavingTheApplicationWorkbook) {
  struct Case {
    const char* name;
    bool otherWorkbook;
    bool saveAsExecutable;
    bool dataExchange;
    bool saveAsUi;
    bool cancel;
    const char* call;
    bool warning;
  };
  const Case cases[] = {
      {"plain save, data exchange on", false, false, true, false, true, "", true},
      {"plain save, data exchange off", false, false, false, true, true, "", false},
      {"save as executable, dialog", false, true, false, true, true, "chooseAndSaveApplicationAs",
       false},
      {"save as executable, in place", false, true, false, false, false, "saveApplication", false},
      {"another workbook", true, false, true, false, false, "", false},
  };
  connection->events().connectSink();
  rig.runtime->settings().applicationName = u"Loan Planner";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    log.clear();
    size_t boxes = rig.windows.messageBoxes().size();
    rig.runtime->settings().saveAsExecutable = c.saveAsExecutable;
    rig.runtime->settings().dataExchange = c.dataExchange;
    auto other = std::make_shared<FakeObject>("other");
    std::vector<Variant> arguments{testing::object(c.otherWorkbook ? other : workbook),
                                   Variant::boolean(c.saveAsUi), Variant::boolean(false)};
    EXPECT_EQ(application->fire(dispid::kEventWorkbookBeforeSave, arguments), kSOk);
    EXPECT_EQ(variantToBool(arguments[2]), c.cancel);
    EXPECT_EQ(log.empty() ? "" : log[0], std::string(c.call));
    ASSERT_EQ(rig.windows.messageBoxes().size(), boxes + (c.warning ? 1 : 0));
    if (c.warning) {
      const auto& box = rig.windows.messageBoxes().back();
      EXPECT_EQ(box.owner, rig.mainWindow);
      EXPECT_EQ(box.caption, u"Warning");
      EXPECT_EQ(box.style, kMbIconWarning);
      EXPECT_NE(box.text.find(u"Loan Planner"), std::u16string::npos);
    }
    EXPECT_TRUE(eventsOn());
  }
  // A save the program already cancelled is left alone.
  std::vector<Variant> cancelled{testing::object(workbook), Variant::boolean(false),
                                 Variant::boolean(true)};
  application->fire(dispid::kEventWorkbookBeforeSave, cancelled);
  EXPECT_TRUE(variantToBool(cancelled[2]));
}

TEST_F(ApplicationEventsTest, TheSinkDispatchesByEventAndLetsGo) {
  connection->events().connectSink();
  EXPECT_TRUE(connection->events().sinkConnected());
  std::vector<Variant> one{testing::object(workbook)};
  EXPECT_EQ(application->fire(dispid::kEventWorkbookBeforeClose, one), kEInvalidArg);
  std::vector<Variant> ignored{Variant::i4(1)};
  EXPECT_EQ(application->fire(dispid::kEventWorkbookActivate, ignored), kSOk);
  EXPECT_EQ(application->fire(0x7777, ignored), kSOk);

  // A new sheet of the application workbook joins the engine's sheet table.
  auto added = makeSheet(2);
  added->properties[dispid::kName] = Variant::text(u"Extra");
  added->properties[dispid::kCodeName] = Variant::text(u"Sheet3");
  std::vector<Variant> newSheet{testing::object(workbook), testing::object(added)};
  EXPECT_EQ(application->fire(dispid::kEventWorkbookNewSheet, newSheet), kSOk);
  ASSERT_NE(rig.runtime->model()->sheets().find(2), nullptr);
  EXPECT_EQ(rig.runtime->model()->sheets().find(2)->excelName(), u"Extra");
  // A failing read inside a handler answers the call's error.
  added->failing.insert(dispid::kIndex);
  EXPECT_EQ(application->fire(dispid::kEventWorkbookNewSheet, newSheet), kEFail);

  std::shared_ptr<Dispatch> sink = application->sink;
  connection->events().disconnectSink();
  EXPECT_FALSE(application->sink);
  EXPECT_FALSE(connection->events().sinkConnected());
  // A sink the program still holds does nothing once the runtime let go of it.
  std::vector<Variant> change{testing::object(sheets[0]), Variant()};
  EXPECT_EQ(sink->invoke(dispid::kEventSheetChange, InvokeKind::kMethod, change, nullptr), kSOk);
}

TEST_F(ApplicationEventsTest, StartMacrosRunThenTheLaunchModeHides) {
  rig.runtime->channelState().firstStartMacro = u"Welcome";
  rig.runtime->channelState().launchMode = 1;
  bool runningDuringMacro = false;
  std::vector<std::u16string> ran;
  application->methods[dispid::kRun] = [&](std::span<Variant> arguments, Variant*) {
    runningDuringMacro = calculation().startMacroRunning;
    ran.push_back(arguments[0].text());
    EXPECT_EQ(arguments.size(), 31u);
    EXPECT_TRUE(arguments[30].isMissing());
    return kSOk;
  };
  connection->events().runStartMacros();
  ASSERT_EQ(ran, std::vector<std::u16string>{u"Welcome"});
  EXPECT_TRUE(runningDuringMacro);
  EXPECT_FALSE(calculation().startMacroRunning);
  EXPECT_EQ(application->properties[dispid::kVisible], Variant::boolean(false));

  application->failing.insert(dispid::kRun);
  EXPECT_THROW(connection->events().runStartMacros(), ComError);
  EXPECT_FALSE(calculation().startMacroRunning);
}

TEST_F(ApplicationEventsTest, ControlsGetTheirMacrosOnlyWhereNoneIsSet) {
  auto sheetsCollection = std::make_shared<FakeObject>("sheets");
  workbook->properties[dispid::kSheets] = testing::object(sheetsCollection);
  sheetsCollection->properties[dispid::kCount] = Variant::i4(1);
  sheetsCollection->methods[dispid::kItem] = [this](std::span<Variant>, Variant* result) {
    *result = testing::object(sheets[0]);
    return kSOk;
  };
  sheets[0]->properties[dispid::kType] = Variant::i4(kSheetTypeWorksheet);
  auto shapes = std::make_shared<FakeObject>("shapes");
  sheets[0]->properties[dispid::kShapes] = testing::object(shapes);
  std::map<std::u16string, std::shared_ptr<FakeObject>> byName;
  for (const char16_t* name : {u"Button", u"Wired"}) {
    byName[name] = std::make_shared<FakeObject>("shape");
    byName[name]->properties[dispid::kOnAction] = Variant::text(u"");
  }
  byName[u"Wired"]->properties[dispid::kOnAction] = Variant::text(u"Own");
  shapes->methods[dispid::kItem] = [&](std::span<Variant> arguments, Variant* result) {
    auto found = byName.find(arguments[0].text());
    if (found == byName.end()) return kEInvalidArg;
    *result = testing::object(found->second);
    return kSOk;
  };
  ControlGroup group;
  group.items.push_back({0, 0, CellRef::none(), u"Missing", u"", u"Lost", u""});
  group.items.push_back({0, 0, CellRef::none(), u"Button", u"", u"Pressed", u""});
  group.items.push_back({0, 0, CellRef::none(), u"Wired", u"", u"Other", u""});
  rig.runtime->model()->controls = {group};

  connection->events().wireSheetControls();
  EXPECT_EQ(byName[u"Button"]->properties[dispid::kOnAction], Variant::text(u"Pressed"));
  EXPECT_EQ(byName[u"Wired"]->properties[dispid::kOnAction], Variant::text(u"Own"));
}

}  // namespace
}  // namespace korvel
