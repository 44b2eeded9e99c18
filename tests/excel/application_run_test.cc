// Whole application runs on the headless host: the program with the application workbook, the
// runtime as its add-in, started by the launcher stand-in, driven as the user drives it.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "compiler/workbook_text.h"
#include "engine/locale_settings.h"
#include "excel/dispatch_ids.h"
#include "excel/excel_object.h"
#include "functions/arguments.h"
#include "hosts/headless/disk_files.h"
#include "model/address.h"
#include "platform/xloper.h"
#include "runtime/addin_entry_points.h"
#include "runtime/text_table.h"
#include "tests/scratch_directory.h"
#include "tools/korvel/application_file.h"
#include "tools/korvel/headless_session.h"
#include "util/text.h"

namespace korvel {
namespace {

constexpr uint32_t kProtectContentsWord = 0x20;

constexpr char kBook[] =
    "[Sheet1]\n"
    "A1: 2\n"
    "A2: 5\n"
    "A3: =A1*A2\n"
    "A4: =A3+1\n"
    "B1: 7\n"
    "B2: =B1*2\n";

std::string narrow(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) out += char(c);
  return out;
}

class ApplicationRunTest : public ::testing::Test {
 protected:
  void SetUp() override { start(SessionOptions{}); }
  void TearDown() override { resetLocaleSettings(); }

  void start(const SessionOptions& options) {
    Workbook workbook;
    std::vector<std::string> errors;
    ASSERT_TRUE(readWorkbookText(kBook, &workbook, &errors));
    std::string error;
    ASSERT_TRUE(session.start(workbook, options, &error)) << error;
  }
  WorkbookState& state() { return *session.program().workbookState(u"Application.xlsx"); }
  ExcelObject application() { return ExcelObject(session.program().application()); }

  std::string shown(std::u16string_view cell) { return narrow(session.display(cell)); }

  HeadlessSession session;
};

TEST_F(ApplicationRunTest, StartComputesAndPublishesEveryResult) {
  EXPECT_EQ(shown(u"A3"), "10");
  EXPECT_EQ(shown(u"Sheet1!A4"), "11");
  EXPECT_EQ(shown(u"B2"), "14");
  EXPECT_EQ(session.computedCells(),
            (std::vector<std::u16string>{u"Sheet1!B2", u"Sheet1!A3", u"Sheet1!A4"}));
}

TEST_F(ApplicationRunTest, AnEditRecalculatesItsDependentsAndUndoTakesItBack) {
  ASSERT_TRUE(session.type(u"A1", u"3"));
  EXPECT_EQ(shown(u"A3"), "15");
  EXPECT_EQ(shown(u"A4"), "16");
  EXPECT_EQ(shown(u"B2"), "14");
  ASSERT_TRUE(session.undo());
  EXPECT_EQ(shown(u"A1"), "2");
  EXPECT_EQ(shown(u"A3"), "10");
}

TEST_F(ApplicationRunTest, ManualModeComputesOnTheCalculateKey) {
  session.setManualCalculation(true);
  ASSERT_TRUE(session.type(u"A1", u"4"));
  EXPECT_EQ(shown(u"A3"), "10");
  session.pressCalculateKey();
  EXPECT_EQ(shown(u"A3"), "20");
  EXPECT_EQ(shown(u"A4"), "21");
}

TEST_F(ApplicationRunTest, AFormulaTypedIntoTheWorkbookBecomesTheProgramsOwnCell) {
  ASSERT_TRUE(session.type(u"C1", u"=A1+A3"));
  EXPECT_EQ(shown(u"C1"), "12");
  ASSERT_TRUE(session.type(u"A1", u"3"));
  // The runtime computes A3, then the program its own formula from it.
  EXPECT_EQ(shown(u"A3"), "15");
  EXPECT_EQ(shown(u"C1"), "18");
}

TEST_F(ApplicationRunTest, TheWorkbooksCodeMeetsTheRuntimeInsteadOfTheProgram) {
  // Calculate from the workbook's code runs the runtime's cycle.
  session.setManualCalculation(true);
  ASSERT_TRUE(session.type(u"A1", u"4"));
  EXPECT_EQ(shown(u"A3"), "10");
  application().call(dispid::kCalculate);
  EXPECT_EQ(shown(u"A3"), "20");

  // Saving the application workbook writes nothing while it may not be saved as an executable,
  // and its folder is the application's, not the temporary one.
  ExcelObject workbook = session.connection().workbook();
  std::vector<Variant> none;
  EXPECT_EQ(workbook.invoke(dispid::kSave, InvokeKind::kMethod, none, nullptr), kSFalse);
  EXPECT_TRUE(session.program().files().empty());
  EXPECT_EQ(workbook.getText(dispid::kPath), u"/application");
}

TEST(ApplicationProtectionTest, ProtectedSheetsAreOpenedForTheWritesAndProtectedAgain) {
  SessionOptions options;
  ProtectionTable table;
  table.sheetWords = {kProtectContentsWord | 0x10 | 0x40 | 0x8};
  table.sheetPasswords = {"pw"};
  options.settings.header.writerVersion = 0x02010000;
  options.settings.trailingList = writeProtectionList(table, 0x02010000);
  Workbook workbook;
  std::vector<std::string> errors;
  ASSERT_TRUE(readWorkbookText(kBook, &workbook, &errors));
  HeadlessSession session;
  std::string error;
  ASSERT_TRUE(session.start(workbook, options, &error)) << error;

  SheetData& sheet = session.program().workbookState(u"Application.xlsx")->data.sheets[0];
  EXPECT_TRUE(sheet.protection.contents);
  EXPECT_EQ(sheet.protection.password, u"pw");
  EXPECT_EQ(sheet.protection.enableSelection, 1);  // unlocked cells only
  // The input cell is unlocked, as the author left it; the results are not.
  sheet.cells[{0, 0}].locked = false;
  ASSERT_TRUE(session.type(u"A1", u"3"));
  EXPECT_EQ(narrow(session.display(u"A3")), "15");
  EXPECT_TRUE(sheet.protection.contents);
  EXPECT_TRUE(sheet.protection.drawingObjects);
  EXPECT_EQ(sheet.protection.password, u"pw");
  EXPECT_FALSE(session.type(u"A3", u"1"));
  resetLocaleSettings();
}

TEST(ApplicationCloseTest, ClosingWithChangedDataAsksToExportFirst) {
  SessionOptions options;
  options.settings.header.optionFlags = kFlagDataExchange;
  Workbook workbook;
  std::vector<std::string> errors;
  ASSERT_TRUE(readWorkbookText(kBook, &workbook, &errors));
  HeadlessSession session;
  std::string error;
  ASSERT_TRUE(session.start(workbook, options, &error)) << error;
  ASSERT_TRUE(session.type(u"A1", u"3"));

  // Yes: the export writes nothing here, so the workbook stays open.
  session.windows().queueMessageBoxAnswer(kIdYes);
  EXPECT_FALSE(session.program().closeWorkbook(u"Application.xlsx"));
  ASSERT_EQ(session.windows().messageBoxes().size(), 1u);
  const auto& box = session.windows().messageBoxes()[0];
  EXPECT_EQ(box.text, tableText(TextEntry::kCloseQuestion));
  EXPECT_EQ(box.caption, tableText(TextEntry::kCloseCaptionPrefix) + u" Application");
  EXPECT_EQ(box.style, kMbYesNoCancel | kMbIconWarning);

  // No: it closes without the program's own question.
  session.windows().queueMessageBoxAnswer(kIdNo);
  EXPECT_TRUE(session.program().closeWorkbook(u"Application.xlsx"));
  EXPECT_EQ(session.windows().messageBoxes().size(), 2u);
  resetLocaleSettings();
}

// The service entry as the workbook's code calls it with a path; its integer answer.
int service(HeadlessSession& session, int code, std::string_view path = {}) {
  Xloper argument = Xloper::string(path);
  int answer = DummyFunc8(session.runtime(), code, &argument)->integer();
  session.runMessages();
  return answer;
}

bool startBook(HeadlessSession& session, const SessionOptions& options) {
  Workbook workbook;
  std::vector<std::string> errors;
  std::string error;
  EXPECT_TRUE(readWorkbookText(kBook, &workbook, &errors));
  bool started = session.start(workbook, options, &error);
  EXPECT_TRUE(started) << error;
  return started;
}

TEST(ApplicationDataTest, EditsExportedFromOneRunImportIntoAFreshOneWithTheirDependents) {
  SessionOptions options;
  options.settings.header.optionFlags = kFlagDataExchange;
  std::string exported;
  {
    HeadlessSession session;
    ASSERT_TRUE(startBook(session, options));
    ASSERT_TRUE(session.type(u"A1", u"3"));
    EXPECT_EQ(service(session, kServiceExport, "/data/edits.dat"), 0);
    ASSERT_TRUE(session.files().readAll(u"/data/edits.dat", &exported));
    EXPECT_TRUE(session.dialogs().shown().empty());
  }
  HeadlessSession session;
  ASSERT_TRUE(startBook(session, options));
  ASSERT_TRUE(session.files().writeAll(u"/data/edits.dat", exported));
  EXPECT_EQ(service(session, kServiceImport, "/data/edits.dat"), 0);
  EXPECT_EQ(narrow(session.display(u"A1")), "3");
  EXPECT_EQ(narrow(session.display(u"A3")), "15");
  EXPECT_EQ(narrow(session.display(u"A4")), "16");
  EXPECT_EQ(narrow(session.display(u"B2")), "14");
  resetLocaleSettings();
}

TEST(ApplicationDialogTest, TheAboutBoxComesFromTheDeferredCommandWithTheApplicationsName) {
  SessionOptions options;
  options.settings.applicationName = u"Budget";
  HeadlessSession session;
  ASSERT_TRUE(startBook(session, options));
  Xloper none = Xloper::missing();
  DummyFunc8(session.runtime(), kServicePostAbout, &none);
  EXPECT_TRUE(session.dialogs().shown().empty());  // posted, not yet run
  session.runMessages();
  ASSERT_EQ(session.dialogs().shown().size(), 1u);
  EXPECT_NE(describeDialog(session.dialogs().shown()[0]).find("Budget"), std::string::npos)
      << describeDialog(session.dialogs().shown()[0]);
  resetLocaleSettings();
}

TEST(ApplicationFileRunTest, ASaveInPlaceIsWhereTheNextRunStarts) {
  std::filesystem::path folder = makeScratchDirectory("korvel-app");
  std::u16string path = fromUtf8((folder / "budget.kvapp").string());
  {
    Workbook workbook;
    std::vector<std::string> errors;
    ASSERT_TRUE(readWorkbookText(kBook, &workbook, &errors));
    ApplicationOptions options;
    options.name = u"Budget";
    options.saveAsExecutable = true;
    DiskFiles files;
    std::vector<ResourceEntry> entries;
    std::string error;
    ASSERT_TRUE(buildApplicationResources(workbook, {}, options, files, &entries, &error)) << error;
    ASSERT_TRUE(files.writeAll(path, encodeApplicationFile(entries)));
  }
  std::u16string unpacked;
  {
    HeadlessSession session(true);
    std::string error;
    ASSERT_TRUE(session.startApplication(path, SessionOptions{}, &error)) << error;
    unpacked = session.runtime().channelState().workbookPath;
    EXPECT_TRUE(session.files().exists(unpacked));
    EXPECT_EQ(narrow(session.display(u"A3")), "10");
    ASSERT_TRUE(session.type(u"A1", u"3"));
    EXPECT_TRUE(session.program().saveWorkbook(session.workbookName()));
    session.runMessages();
  }
  EXPECT_FALSE(std::filesystem::exists(toUtf8(unpacked)));
  {
    HeadlessSession session(true);
    std::string error;
    ASSERT_TRUE(session.startApplication(path, SessionOptions{}, &error)) << error;
    EXPECT_EQ(narrow(session.display(u"A1")), "3");
    EXPECT_EQ(narrow(session.display(u"A4")), "16");
  }
  std::filesystem::remove_all(folder);
  resetLocaleSettings();
}

// Worksheet functions the runtime hands to the program, with routines of the test's own standing
// in for the function library, so that they can show what reached them.

// Each argument as it arrived: a reference as its address and the sum of its cells as the
// runtime's engine holds them, a number as itself, anything else as its kind.
void describeArguments(CallContext& context, const Value* const* arguments, Value& out) {
  std::u16string text;
  for (size_t i = 0; arguments[i] != nullptr; ++i) {
    const Value& argument = *arguments[i];
    if (i > 0) text += u",";
    if (argument.isReference()) {
      RangeRef range = argument.reference();
      double sum = 0;
      for (uint32_t r = range.first.row(); r <= range.last.row(); ++r) {
        for (uint32_t c = range.first.column(); c <= range.last.column(); ++c) {
          const Value& cell = cellValueAt(context, CellRef::at(range.first.sheet(), r, c));
          if (cell.isNumeric()) sum += cell.number();
        }
      }
      text += rangeText(range) + u"=" + fromUtf8(std::to_string(int64_t(sum)));
    } else if (argument.isNumeric()) {
      text += fromUtf8(std::to_string(int64_t(argument.number())));
    } else {
      text += fromUtf8(std::to_string(int(argument.kind())));
    }
  }
  out.setText(text);
}

// Hands its own call back to the host program, as a routine may for a case it leaves there.
void callsItselfOnTheHost(CallContext& context, const Value* const* arguments, Value& out) {
  callHostFunction(context, 473, arguments, 30, out);
}

// One row: the number of reference areas, then the arguments' kinds.
void areasAndKinds(CallContext&, const Value* const* arguments, Value& out) {
  size_t count = 0;
  while (arguments[count] != nullptr) ++count;
  ValueArray row(uint32_t(count + 1), 1);
  uint32_t areas = 0;
  for (size_t i = 0; i < count; ++i) {
    const Value& argument = *arguments[i];
    areas += argument.isReferenceList() ? argument.array().columns()
             : argument.isReference()   ? 1
                                        : 0;
    row.at(uint32_t(i + 1), 0).setInteger(int32_t(argument.kind()));
  }
  row.at(0, 0).setInteger(int32_t(areas));
  out.setArray(std::move(row));
}

NativeRoutine testRoutines(std::u16string_view name) {
  if (name == u"DEVSQ") return &describeArguments;
  if (name == u"GCD") return &callsItselfOnTheHost;
  if (name == u"GEOMEAN") return &areasAndKinds;
  return nullptr;
}

constexpr char kFunctionBook[] =
    "[Sheet1]\n"
    "A1: 12\n"
    "A2: 18\n"
    "B1: =DEVSQ(A1:A2,5,A1)\n"
    "B2: =GCD(A1,A2)\n"
    "B3: =LCM(A1,A2)\n";

class WorksheetFunctionRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Workbook workbook;
    std::vector<std::string> errors;
    ASSERT_TRUE(readWorkbookText(kFunctionBook, &workbook, &errors));
    session.setRoutineFinder(&testRoutines);
    std::string error;
    ASSERT_TRUE(session.start(workbook, SessionOptions{}, &error)) << error;
  }
  void TearDown() override { resetLocaleSettings(); }

  std::string shown(std::u16string_view cell) { return narrow(session.display(cell)); }

  HeadlessSession session;
};

// The start shows the values the model was compiled with; an edit makes the runtime compute.
TEST_F(WorksheetFunctionRunTest, RangesReachTheRoutineAsReferencesToTheRuntimesCells) {
  // The runtime passes all 30 parameters; only those the formula wrote reach the routine.
  ASSERT_TRUE(session.type(u"A2", u"20"));
  EXPECT_EQ(shown(u"B1"), "A1:A2=32,5,A1=12");
  ASSERT_TRUE(session.type(u"A1", u"1"));
  EXPECT_EQ(shown(u"B1"), "A1:A2=21,5,A1=1");
}

TEST_F(WorksheetFunctionRunTest, FunctionsNobodyComputesAndCallsBackIntoThemselvesAnswerName) {
  ASSERT_TRUE(session.type(u"A1", u"24"));
  EXPECT_EQ(shown(u"B3"), "#NAME?");
  EXPECT_GT(session.program().worksheetFunctionCalls(), 0);
  // The nested call of the same function is not computed again, instead of recursing forever.
  EXPECT_EQ(shown(u"B2"), "#NAME?");
}

TEST_F(WorksheetFunctionRunTest, ADirectCallTakesAreasAndAnswersATwoDimensionalArray) {
  ExcelObject sheet = session.connection()
                          .workbook()
                          .object(dispid::kWorksheets)
                          .object(dispid::kItem, {Variant::i4(1)});
  ExcelObject areas = sheet.object(dispid::kRange, {Variant::text(u"A1:A2,B1")});
  ExcelObject functions(
      ExcelObject(session.program().application()).object(dispid::kWorksheetFunction));
  Variant answer = functions.call(dispid::kWorksheetFunctionBase + 319,
                                  {Variant::dispatch(areas.dispatch()), Variant::r8(2.5),
                                   Variant::missing(), Variant::missing()});
  ASSERT_EQ(answer.type(), VarType::kArray);
  const VariantArray& row = answer.array();
  ASSERT_EQ(row.dimensions, 2);
  ASSERT_EQ(row.count[0], 1u);
  ASSERT_EQ(row.count[1], 3u);
  EXPECT_EQ(row.at(1, 1), Variant::i4(2));
  EXPECT_EQ(row.at(1, 2), Variant::i4(int32_t(ValueKind::kReferenceList)));
  EXPECT_EQ(row.at(1, 3), Variant::i4(int32_t(ValueKind::kNumber)));
}

}  // namespace
}  // namespace korvel
