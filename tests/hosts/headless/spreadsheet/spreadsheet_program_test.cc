#include "hosts/headless/spreadsheet/spreadsheet_program.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "hosts/headless/spreadsheet/program_formula.h"
#include "tests/hosts/headless/spreadsheet/program_test_support.h"

namespace korvel {
namespace {

using testing::ProgramTest;
using testing::RecordingSink;

std::string narrow(const std::u16string& text) { return std::string(text.begin(), text.end()); }

// The add-in's side as a test sees it: every message through the channel entrance and every
// procedure run, in one log.
class SpreadsheetProgramTest : public ProgramTest {
 protected:
  void SetUp() override {
    program_.exports().channel = [this](uint32_t message, uint64_t wParam,
                                        int64_t lParam) -> int64_t {
      log_.push_back(describe(message, wParam, lParam));
      return 1;
    };
    program_.exports().runProcedure = [this](std::u16string_view name) {
      log_.push_back("run " + narrow(std::u16string(name)));
    };
    sink_ = std::make_shared<RecordingSink>();
    sink_->handler = [this](int32_t id, std::span<Variant>) {
      log_.push_back("event " + std::to_string(id));
    };
    cookie_ = app().advise(kIidApplicationEvents, sink_);
    ASSERT_NE(cookie_, 0u);
  }

  // Reads what a message carries while the call lasts, as the add-in does.
  std::string describe(uint32_t message, uint64_t wParam, int64_t lParam) {
    std::string text = std::to_string(message);
    auto readText = [](uint64_t address) {
      return address == 0 ? std::string("0")
                          : narrow(reinterpret_cast<const char16_t*>(uintptr_t(address)));
    };
    switch (message) {
      case 1152:
        EXPECT_EQ(Dispatch::fromAddress(wParam), program_.application());
        return text + " app " + readText(uint64_t(lParam));
      case 1280:
        return text + " " + std::to_string(wParam) + " " + readText(uint64_t(lParam));
      case 1153:
        return text + " " + readText(wParam);
      case 1282: {
        auto sheet = Dispatch::fromAddress(wParam);
        auto range = Dispatch::fromAddress(uint64_t(lParam));
        return text + " " + narrow(get(*sheet, dispid::kName).text()) + " " +
               narrow(get(*range, dispid::kAddress).text());
      }
      default:
        return text;
    }
  }

  void openApplicationWorkbook() {
    WorkbookCode code;
    code.isApplication = true;
    code.attachMacro = u"Attached";
    code.firstStartMacro = u"First";
    code.secondStartMacro = u"Second";
    ASSERT_NE(program_.openWorkbook(twoSheets(), code), nullptr);
  }

  void bind(int command, const char* first, const char* second) {
    Xloper a = first != nullptr ? Xloper::string(first) : Xloper::nil();
    Xloper b = Xloper::string(second);
    const Xloper* arguments[] = {&a, &b};
    ASSERT_EQ(addin_.excel4(command, nullptr, arguments), kXlretSuccess);
  }

  std::vector<std::string> log_;
  std::shared_ptr<RecordingSink> sink_;
  uint32_t cookie_ = 0;
};

TEST_F(SpreadsheetProgramTest, TheApplicationWorkbookHandsTheApplicationToTheAddinOnOpen) {
  openApplicationWorkbook();
  EXPECT_EQ(log_, (std::vector<std::string>{"1280 2 First", "1280 1 Second", "1152 app Attached",
                                            "event 1567"}));
  ASSERT_EQ(sink_->events.size(), 1u);
  EXPECT_EQ(get(*sink_->events[0].arguments[0].object(), dispid::kName),
            Variant::text(u"Book.xlsx"));
  // Another workbook has no such code.
  log_.clear();
  WorkbookData other;
  other.fullName = u"Other.xlsx";
  program_.openWorkbook(other);
  EXPECT_EQ(log_, (std::vector<std::string>{"event 1567"}));
  EXPECT_EQ(program_.openWorkbook(other), nullptr);  // open already
}

TEST_F(SpreadsheetProgramTest, TypingRunsTheEntryMacroThenReportsTheChange) {
  openApplicationWorkbook();
  registerProcedure("DummyFunc6");
  bind(kXlcOnEntry, nullptr, "DummyFunc6");
  log_.clear();
  EXPECT_TRUE(program_.typeIntoCell(u"Book.xlsx", u"Output", u"B2", u"12"));
  EXPECT_EQ(log_, (std::vector<std::string>{"run DummyFunc6", "1282 Output $B$2", "event 1564"}));
  EXPECT_EQ(program_.cellValue(u"Book.xlsx", u"Output", u"B2"), Variant::r8(12));
  EXPECT_FALSE(program_.workbookState(u"Book.xlsx")->saved);
  EXPECT_EQ(get(*object(app(), dispid::kActiveSheet), dispid::kName), Variant::text(u"Output"));
  const RecordingSink::Event& change = sink_->events.back();
  EXPECT_EQ(get(*change.arguments[1].object(), dispid::kAddress), Variant::text(u"$B$2"));

  // Entries as typed: texts, formulas, booleans and a leading apostrophe.
  struct Case {
    std::u16string typed;
    Variant value;
  } cases[] = {{u"abc", Variant::text(u"abc")},
               {u"'007", Variant::text(u"007")},
               {u"true", Variant::boolean(true)},
               {u"#N/A", Variant::error(kCellErrorNA)},
               {u"=B2/4", Variant::r8(3)}};
  for (const Case& c : cases) {
    program_.typeIntoCell(u"Book.xlsx", u"Output", u"C1", c.typed);
    EXPECT_EQ(program_.cellValue(u"Book.xlsx", u"Output", u"C1"), c.value) << narrow(c.typed);
  }

  // Without events the entry macro still runs, but nothing reports the change.
  put(app(), dispid::kEnableEvents, Variant::boolean(false));
  log_.clear();
  program_.typeIntoCell(u"Book.xlsx", u"Output", u"B2", u"13");
  EXPECT_EQ(log_, (std::vector<std::string>{"run DummyFunc6"}));
}

TEST_F(SpreadsheetProgramTest, PastesClearsAndAutomationWritesReportOneChange) {
  openApplicationWorkbook();
  registerProcedure("DummyFunc6");
  bind(kXlcOnEntry, nullptr, "DummyFunc6");
  log_.clear();
  EXPECT_TRUE(program_.pasteValues(
      u"Book.xlsx", u"Input", u"A1",
      {{Variant::r8(1), Variant::text(u"2")}, {Variant::r8(3), Variant::boolean(false)}}));
  EXPECT_EQ(log_, (std::vector<std::string>{"1282 Input $A$1:$B$2", "event 1564"}));
  // A pasted text stays text.
  EXPECT_EQ(program_.cellValue(u"Book.xlsx", u"Input", u"B1"), Variant::text(u"2"));
  log_.clear();
  EXPECT_TRUE(program_.clearCell(u"Book.xlsx", u"Input", u"A1"));
  EXPECT_EQ(log_, (std::vector<std::string>{"1282 Input $A$1", "event 1564"}));
  EXPECT_EQ(program_.cellValue(u"Book.xlsx", u"Input", u"A1"), Variant());
  // The workbook's change code also sees writes of automation (the add-in's undo relies on it).
  log_.clear();
  put(*range(u"Input", u"C3"), dispid::kValue2, Variant::r8(7));
  EXPECT_EQ(log_, (std::vector<std::string>{"1282 Input $C$3", "event 1564"}));
  EXPECT_FALSE(program_.typeIntoCell(u"Book.xlsx", u"Missing", u"A1", u"1"));
  EXPECT_FALSE(program_.typeIntoCell(u"Book.xlsx", u"Input", u"nonsense", u"1"));
}

TEST_F(SpreadsheetProgramTest, CancelOfCloseAndSaveIsHonoured) {
  openApplicationWorkbook();
  auto workbook = object(app(), dispid::kActiveWorkbook);
  bool cancel = true;
  sink_->handler = [&](int32_t id, std::span<Variant> arguments) {
    if (id == dispid::kEventWorkbookBeforeClose) {
      ASSERT_EQ(arguments.size(), 2u);
      arguments[1] = Variant::boolean(cancel);
    }
    if (id == dispid::kEventWorkbookBeforeSave) {
      ASSERT_EQ(arguments.size(), 3u);
      EXPECT_EQ(arguments[1], Variant::boolean(false));  // SaveAsUI
      arguments[2] = Variant::boolean(cancel);
    }
  };
  program_.typeIntoCell(u"Book.xlsx", u"Input", u"A1", u"1");
  EXPECT_FALSE(program_.saveWorkbook(u"Book.xlsx"));
  EXPECT_EQ(call(*workbook, dispid::kSave), kSOk);
  EXPECT_EQ(get(*workbook, dispid::kSaved), Variant::boolean(false));
  EXPECT_TRUE(program_.files().empty());
  EXPECT_FALSE(program_.closeWorkbook(u"Book.xlsx"));
  EXPECT_EQ(call(*workbook, dispid::kClose, {Variant::boolean(false)}), kSOk);
  EXPECT_NE(program_.workbookState(u"Book.xlsx"), nullptr);

  cancel = false;
  EXPECT_EQ(call(*workbook, dispid::kSaveAs2, {Variant::text(u"D:\\out\\Saved.xlsx")}), kSOk);
  EXPECT_EQ(get(*workbook, dispid::kSaved), Variant::boolean(true));
  EXPECT_EQ(get(*workbook, dispid::kName), Variant::text(u"Saved.xlsx"));
  EXPECT_EQ(get(*workbook, dispid::kPath), Variant::text(u"D:\\out"));
  EXPECT_EQ(program_.files().count(u"D:\\out\\Saved.xlsx"), 1u);
  EXPECT_EQ(call(*workbook, dispid::kSaveCopyAs, {Variant::text(u"D:\\copy.xlsx")}), kSOk);
  EXPECT_EQ(get(*workbook, dispid::kFullName), Variant::text(u"D:\\out\\Saved.xlsx"));
  EXPECT_EQ(program_.files().count(u"D:\\copy.xlsx"), 1u);

  EXPECT_TRUE(program_.closeWorkbook(u"Saved.xlsx"));
  Variant v;
  EXPECT_EQ(workbook->invoke(dispid::kName, InvokeKind::kPropertyGet, {}, &v), kDispEException);
  // A saved file opens again through Workbooks.Open.
  auto opened =
      object(*object(app(), dispid::kWorkbooks), dispid::kOpen, {Variant::text(u"D:\\copy.xlsx")});
  EXPECT_EQ(get(*opened, dispid::kName), Variant::text(u"copy.xlsx"));
  auto books = object(app(), dispid::kWorkbooks);
  EXPECT_EQ(call(*books, dispid::kOpen, {Variant::text(u"nowhere.xlsx")}), kDispEException);
}

TEST_F(SpreadsheetProgramTest, NewSheetsAndCalculationsFireTheirEvents) {
  openApplicationWorkbook();
  sink_->events.clear();
  EXPECT_TRUE(program_.addSheet(u"Book.xlsx", u"Extra"));
  EXPECT_FALSE(program_.addSheet(u"Book.xlsx", u"extra"));
  auto sheets = object(*object(app(), dispid::kActiveWorkbook), dispid::kWorksheets);
  Variant added;
  EXPECT_EQ(call(*sheets, 0xB5, {}, &added), kSOk);
  EXPECT_EQ(get(*added.object(), dispid::kName), Variant::text(u"Sheet4"));
  ASSERT_EQ(sink_->ids(), (std::vector<int32_t>{1573, 1573}));
  EXPECT_EQ(get(*sink_->events[0].arguments[1].object(), dispid::kName), Variant::text(u"Extra"));
  EXPECT_EQ(get(*sink_->events[1].arguments[1].object(), dispid::kIndex), Variant::i4(4));

  sink_->events.clear();
  EXPECT_EQ(call(app(), dispid::kCalculateFull), kSOk);
  ASSERT_EQ(sink_->ids(), (std::vector<int32_t>(4, dispid::kEventSheetCalculate)));
  EXPECT_EQ(get(*sink_->events[0].arguments[0].object(), dispid::kName), Variant::text(u"Input"));

  EXPECT_TRUE(app().unadvise(cookie_));
  EXPECT_FALSE(app().unadvise(cookie_));
  sink_->events.clear();
  program_.pressCalculateKey();
  EXPECT_TRUE(sink_->events.empty());
  EXPECT_EQ(program_.fullCalculations(), 2);
}

TEST_F(SpreadsheetProgramTest, KeysTimersAndUndoRunTheRegisteredProcedures) {
  openApplicationWorkbook();
  registerProcedure("KorvelCalculate");
  registerProcedure("DummyFunc4");
  registerProcedure("DummyFunc13");
  bind(kXlcOnKey, "{F9}", "KorvelCalculate");
  log_.clear();
  program_.pressCalculateKey();
  EXPECT_EQ(log_, (std::vector<std::string>{"run KorvelCalculate"}));
  EXPECT_EQ(program_.fullCalculations(), 0);

  log_.clear();
  EXPECT_EQ(call(app(), dispid::kOnTime, {Variant::r8(2.0), Variant::text(u"DummyFunc13")}), kSOk);
  EXPECT_EQ(call(app(), dispid::kOnTime, {Variant::r8(1.0), Variant::text(u"NotThere")}), kSOk);
  EXPECT_EQ(call(app(), dispid::kOnTime, {Variant::r8(3.0), Variant::text(u"DummyFunc13")}), kSOk);
  EXPECT_EQ(call(app(), dispid::kOnTime,
                 {Variant::r8(3.0), Variant::text(u"DummyFunc13"), Variant::missing(),
                  Variant::boolean(false)}),
            kSOk);
  EXPECT_EQ(program_.runOnTimeProcedures(), 1);
  EXPECT_EQ(log_, (std::vector<std::string>{"run DummyFunc13"}));
  EXPECT_EQ(program_.runOnTimeProcedures(), 0);

  log_.clear();
  EXPECT_FALSE(program_.undo());
  EXPECT_EQ(
      call(app(), dispid::kOnUndo, {Variant::text(u"Undo entry"), Variant::text(u"DummyFunc4")}),
      kSOk);
  EXPECT_EQ(program_.onUndo()->text, u"Undo entry");
  EXPECT_TRUE(program_.undo());
  EXPECT_FALSE(program_.undo());  // taken back once
  EXPECT_EQ(log_, (std::vector<std::string>{"run DummyFunc4"}));
  // A new entry ends what the program's Undo could take back.
  call(app(), dispid::kOnUndo, {Variant::text(u"Undo entry"), Variant::text(u"DummyFunc4")});
  program_.typeIntoCell(u"Book.xlsx", u"Input", u"A1", u"5");
  EXPECT_FALSE(program_.undo());
}

TEST_F(SpreadsheetProgramTest, RunFindsMacrosAndControlsReportTheirClicks) {
  openApplicationWorkbook();
  std::vector<Variant> seen;
  program_.setMacro(u"Main", [&](std::span<Variant> arguments) {
    seen.assign(arguments.begin(), arguments.end());
    return Variant::r8(42);
  });
  Variant result;
  std::vector<Variant> arguments(31, Variant::missing());
  arguments[0] = Variant::text(u"'Book.xlsx'!main");
  arguments[1] = Variant::r8(1);
  EXPECT_EQ(app().invoke(dispid::kRun, InvokeKind::kMethod, arguments, &result), kSOk);
  EXPECT_EQ(result, Variant::r8(42));
  ASSERT_EQ(seen.size(), 30u);
  EXPECT_EQ(seen[0], Variant::r8(1));
  EXPECT_EQ(call(app(), dispid::kRun, {Variant::text(u"Unknown")}), kDispEException);
  EXPECT_EQ(call(app(), dispid::kRun, {Variant::text(u"DummyFunc6")}), kDispEException);

  WorkbookState& book = *program_.workbookState(u"Book.xlsx");
  book.data.sheets[0].shapes.push_back({u"Option 1", u"Main"});
  log_.clear();
  seen.clear();
  EXPECT_TRUE(program_.clickControl(u"Option 1"));
  EXPECT_EQ(log_, (std::vector<std::string>{"1153 Option 1"}));
  EXPECT_TRUE(seen.empty());  // the OnAction macro ran without arguments
  EXPECT_EQ(program_.runLog().back(), u"Main");
  EXPECT_FALSE(program_.clickControl(u"Option 2"));
}

TEST_F(SpreadsheetProgramTest, TheFactoryCreatesASecondProgramAndNewWorkbooks) {
  openApplicationWorkbook();
  HResult hr = kSOk;
  std::shared_ptr<Dispatch> second = program_.objectFactory().create(kApplicationProgId, &hr);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(second, program_.application());
  EXPECT_EQ(get(*second, dispid::kVisible), Variant::boolean(false));
  SpreadsheetProgram* other = program_.secondProgram(0);
  ASSERT_NE(other, nullptr);
  EXPECT_NE(windows_.owningProcess(other->mainWindow()), windows_.currentProcess());
  EXPECT_EQ(get(*object(*second, dispid::kWorkbooks), dispid::kCount), Variant::i4(0));

  sink_->events.clear();
  std::shared_ptr<Dispatch> book = program_.objectFactory().create(kWorkbookClass, &hr);
  ASSERT_NE(book, nullptr);
  EXPECT_EQ(get(*object(app(), dispid::kWorkbooks), dispid::kCount), Variant::i4(2));
  EXPECT_EQ(get(*object(*book, dispid::kWorksheets), dispid::kCount), Variant::i4(1));
  EXPECT_EQ(sink_->ids(), (std::vector<int32_t>{dispid::kEventNewWorkbook}));
  EXPECT_EQ(call(*book, dispid::kClose), kSOk);
  EXPECT_EQ(get(*object(app(), dispid::kWorkbooks), dispid::kCount), Variant::i4(1));

  EXPECT_EQ(program_.objectFactory().create(u"Other.Application", &hr), nullptr);
  EXPECT_TRUE(failed(hr));
}

TEST_F(SpreadsheetProgramTest, ActivatingTheMainWindowRunsTheHooksAndQuitClosesEverything) {
  openApplicationWorkbook();
  std::vector<WindowHandle> activated;
  windows_.installActivateHook([&](WindowHandle w) { activated.push_back(w); });
  EXPECT_TRUE(program_.activateMainWindow());
  EXPECT_EQ(activated, (std::vector<WindowHandle>{program_.mainWindow()}));

  sink_->events.clear();
  EXPECT_EQ(call(app(), dispid::kQuit), kSOk);
  EXPECT_EQ(sink_->ids(), (std::vector<int32_t>{dispid::kEventWorkbookBeforeClose}));
  EXPECT_TRUE(program_.hasQuit());
  EXPECT_FALSE(windows_.isWindow(program_.mainWindow()));
}

TEST(SpreadsheetProgramFilesTest, WorkbooksSavedAsXlsxFilesOpenAgain) {
  HeadlessWindowSystem windows;
  SpreadsheetOptions options;
  options.xlsxFiles = true;
  SpreadsheetProgram program(windows, nullptr, options);
  program.openWorkbook(WorkbookData{});
  ASSERT_TRUE(program.typeIntoCell(u"Book1", u"Sheet1", u"B2", u"2.5"));
  ASSERT_TRUE(program.typeIntoCell(u"Book1", u"Sheet1", u"B3", u"=B2*2"));
  std::string path = ::testing::TempDir() + "spreadsheet_program_saved.xlsx";
  std::u16string widePath(path.begin(), path.end());
  auto workbook = program.application();
  Variant book;
  ASSERT_EQ(workbook->invoke(dispid::kActiveWorkbook, InvokeKind::kPropertyGet, {}, &book), kSOk);
  std::vector<Variant> saveAs{Variant::text(widePath)};
  ASSERT_EQ(book.object()->invoke(dispid::kSaveAs, InvokeKind::kMethod, saveAs, nullptr), kSOk);
  ASSERT_TRUE(program.closeWorkbook(u"spreadsheet_program_saved.xlsx"));

  SpreadsheetProgram reader(windows, nullptr, options);
  Variant books, opened;
  reader.application()->invoke(dispid::kWorkbooks, InvokeKind::kPropertyGet, {}, &books);
  std::vector<Variant> open{Variant::text(widePath)};
  ASSERT_EQ(books.object()->invoke(dispid::kOpen, InvokeKind::kMethod, open, &opened), kSOk);
  EXPECT_EQ(reader.cellValue(u"spreadsheet_program_saved.xlsx", u"Sheet1", u"B2"),
            Variant::r8(2.5));
  EXPECT_EQ(reader.cellFormula(u"spreadsheet_program_saved.xlsx", u"Sheet1", u"B3"), u"=B2*2");
  std::remove(path.c_str());
  std::vector<Variant> missing{Variant::text(widePath + u".gone.xlsx")};
  EXPECT_EQ(books.object()->invoke(dispid::kOpen, InvokeKind::kMethod, missing, &opened),
            kDispEException);
}

}  // namespace
}  // namespace korvel
