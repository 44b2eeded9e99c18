#include "hosts/headless/spreadsheet/program_objects.h"

#include <gtest/gtest.h>

#include "hosts/headless/spreadsheet/program_formula.h"
#include "tests/hosts/headless/spreadsheet/program_test_support.h"

namespace korvel {
namespace {

using testing::ProgramTest;

class ProgramObjectsTest : public ProgramTest {
 protected:
  void SetUp() override { ASSERT_NE(program_.openWorkbook(twoSheets()), nullptr); }
};

TEST_F(ProgramObjectsTest, WindowsOfTheProgramAndItsWorkbooks) {
  WindowHandle main = program_.mainWindow();
  EXPECT_EQ(windows_.className(main), u"XLMAIN");
  EXPECT_EQ(windows_.parentWindow(main), WindowHandle::kNoWindow);
  EXPECT_EQ(windows_.owningProcess(main), windows_.currentProcess());
  EXPECT_EQ(windows_.send(main, 0x7777, 1, 2), 0);
  std::vector<std::u16string> classes;
  for (WindowHandle w : windows_.childWindows(main)) classes.push_back(windows_.className(w));
  EXPECT_EQ(classes, (std::vector<std::u16string>{u"XLDESK", u"EXCEL7", u"EXCEL<", u"EXCEL6"}));
  WindowHandle book = program_.workbookWindow(u"Book.xlsx");
  EXPECT_EQ(windows_.parentWindow(book), program_.deskWindow());
  EXPECT_EQ(get(app(), dispid::kHwnd), Variant::i4(int32_t(uint64_t(main))));

  EXPECT_TRUE(program_.closeWorkbook(u"book.XLSX"));
  EXPECT_FALSE(windows_.isWindow(book));
  EXPECT_EQ(get(app(), dispid::kActiveWorkbook).object(), nullptr);
}

TEST_F(ProgramObjectsTest, ApplicationKeepsItsSettings) {
  EXPECT_EQ(get(app(), dispid::kVersion), Variant::text(u"16.0"));
  EXPECT_EQ(get(app(), dispid::kCalculation), Variant::i4(kCalculationAutomatic));
  EXPECT_EQ(put(app(), dispid::kCalculation, Variant::i4(kCalculationManual)), kSOk);
  EXPECT_EQ(put(app(), dispid::kCalculation, Variant::i4(7)), kDispEException);
  EXPECT_EQ(get(app(), dispid::kCalculation), Variant::i4(kCalculationManual));
  EXPECT_EQ(put(app(), dispid::kRemoteRequestsCompanion, Variant::i4(5)), kSOk);
  EXPECT_EQ(get(app(), dispid::kRemoteRequestsCompanion), Variant::i4(5));
  EXPECT_EQ(put(app(), dispid::kVisible, Variant::boolean(false)), kSOk);
  EXPECT_FALSE(windows_.isWindowVisible(program_.mainWindow()));
  EXPECT_EQ(get(app(), dispid::kVisible), Variant::boolean(false));

  auto language = object(app(), dispid::kLanguageSettings);
  EXPECT_EQ(get(*language, dispid::kLanguageId, {Variant::i4(kLanguageIdUserInterface)}),
            Variant::i4(1033));
  auto functions = object(app(), dispid::kWorksheetFunction);
  Variant answer;
  EXPECT_EQ(call(*functions, dispid::kWorksheetFunctionBase + 4, {Variant::r8(1)}, &answer), kSOk);
  EXPECT_EQ(answer, Variant::error(kCellErrorName));
  EXPECT_EQ(program_.worksheetFunctionCalls(), 1);

  EXPECT_EQ(get(app(), dispid::kEvaluate, {Variant::text(u"2.5")}), Variant::r8(2.5));
  EXPECT_EQ(get(app(), dispid::kEvaluate, {Variant::text(u"=1+2*3")}), Variant::r8(7));
  EXPECT_EQ(get(app(), dispid::kEvaluate, {Variant::text(u"=NOW()")}),
            Variant::error(kCellErrorName));
  EXPECT_EQ(program_.unansweredEvaluations(), 1);
}

TEST_F(ProgramObjectsTest, MembersAnswerThroughTheTableAndLateBound) {
  auto input = sheet(u"Input");
  InterfaceTable* table = input->interfaceTable();
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->iid(), kIidWorksheet);
  const FunctionDescription* nameGet = table->find(dispid::kName, InvokeKind::kPropertyGet);
  ASSERT_NE(nameGet, nullptr);
  Variant viaTable;
  EXPECT_EQ(table->slot(nameGet->slot)(*input, {}, &viaTable, kLocaleSystemDefault), kSOk);
  EXPECT_EQ(viaTable, Variant::text(u"Input"));
  EXPECT_EQ(get(*input, dispid::kName), viaTable);
  // Every interface answers its identifier and the objects of one interface share one table.
  EXPECT_EQ(app().queryInterface(kIidApplication).get(), &app());
  auto workbook = object(app(), dispid::kActiveWorkbook);
  EXPECT_EQ(workbook->queryInterface(kIidWorkbook), workbook);
  EXPECT_EQ(input->queryInterface(kIidWorksheet), input);
  EXPECT_EQ(input->queryInterface(kIidChart), nullptr);
  auto a1 = range(u"Input", u"A1");
  EXPECT_EQ(a1->queryInterface(kIidRange), a1);
  EXPECT_EQ(sheet(u"Output")->interfaceTable(), table);
  EXPECT_EQ(range(u"Output", u"B2")->interfaceTable(), a1->interfaceTable());
}

TEST_F(ProgramObjectsTest, AReplacedSlotServesEveryObjectOfTheInterface) {
  auto first = range(u"Input", u"A1");
  InterfaceTable* table = first->interfaceTable();
  const FunctionDescription* put = table->find(dispid::kValue2, InvokeKind::kPropertyPut);
  ASSERT_NE(put, nullptr);
  MemberFunction original = table->slot(put->slot);
  int seen = 0;
  table->setSlot(put->slot, [&](Dispatch& self, std::span<Variant> arguments, Variant* result,
                                uint32_t locale) {
    ++seen;
    return original(self, arguments, result, locale);
  });
  // Late-bound on a range made after the replacement, and directly through the table.
  EXPECT_EQ(ProgramTest::put(*range(u"Output", u"C3"), dispid::kValue2, Variant::r8(4)), kSOk);
  std::vector<Variant> arguments{Variant::r8(5)};
  EXPECT_EQ(table->slot(put->slot)(*first, arguments, nullptr, kLocaleSystemDefault), kSOk);
  EXPECT_EQ(seen, 2);
  EXPECT_EQ(program_.cellValue(u"Book.xlsx", u"Output", u"C3"), Variant::r8(4));
  EXPECT_EQ(program_.cellValue(u"Book.xlsx", u"Input", u"A1"), Variant::r8(5));

  // The late-bound entrance is a slot too: it sees every member id and kind.
  auto worksheet = sheet(u"Input");
  InterfaceTable* sheets = worksheet->interfaceTable();
  const FunctionDescription* entrance = sheets->find(kDispidInvoke, InvokeKind::kMethod);
  ASSERT_NE(entrance, nullptr);
  MemberFunction invoke = sheets->slot(entrance->slot);
  std::vector<std::pair<int64_t, int64_t>> calls;
  sheets->setSlot(entrance->slot, [&](Dispatch& self, std::span<Variant> arguments, Variant* result,
                                      uint32_t locale) {
    calls.push_back({arguments[0].integer(), arguments[1].integer()});
    return invoke(self, arguments, result, locale);
  });
  EXPECT_EQ(ProgramTest::put(*sheet(u"Output"), dispid::kName, Variant::text(u"Results")), kSOk);
  EXPECT_EQ(calls, (std::vector<std::pair<int64_t, int64_t>>{{dispid::kName, 4}}));
  EXPECT_EQ(program_.workbookState(u"Book.xlsx")->data.sheets[1].name, u"Results");
}

TEST_F(ProgramObjectsTest, ValuesOfRectanglesAndAreasAsArrays) {
  auto block = range(u"Input", u"B2:C3");
  VariantArray values = VariantArray::twoDimensions(2, 2);
  values.at(1, 1) = Variant::r8(1);
  values.at(1, 2) = Variant::text(u"two");
  values.at(2, 1) = Variant::boolean(true);
  values.at(2, 2) = Variant::i4(4);
  EXPECT_EQ(put(*block, dispid::kValue2, Variant::array(values)), kSOk);
  Variant read = get(*block, dispid::kValue2);
  ASSERT_EQ(read.type(), VarType::kArray);
  EXPECT_EQ(read.array().lower[0], 1);
  EXPECT_EQ(read.array().lower[1], 1);
  EXPECT_EQ(read.array().at(1, 2), Variant::text(u"two"));
  EXPECT_EQ(read.array().at(2, 2), Variant::r8(4));  // numbers come back as doubles
  EXPECT_EQ(get(*range(u"Input", u"C2"), dispid::kValue), Variant::text(u"two"));

  // A smaller array fills the rest of the area with #N/A; a scalar fills every cell.
  VariantArray row = VariantArray::oneDimension(1);
  row.at(1) = Variant::r8(9);
  EXPECT_EQ(put(*range(u"Input", u"E1:F1"), dispid::kValue2, Variant::array(row)), kSOk);
  EXPECT_EQ(program_.cellValue(u"Book.xlsx", u"Input", u"E1"), Variant::r8(9));
  EXPECT_EQ(program_.cellValue(u"Book.xlsx", u"Input", u"F1"), Variant::error(kCellErrorNA));

  auto twoAreas = range(u"Input", u"B2:C3,E1");
  auto areas = object(*twoAreas, dispid::kAreas);
  EXPECT_EQ(get(*areas, dispid::kCount), Variant::i4(2));
  auto second = object(*areas, dispid::kItem, {Variant::i4(2)});
  EXPECT_EQ(get(*second, dispid::kValue2), Variant::r8(9));
  EXPECT_EQ(get(*twoAreas, dispid::kCount), Variant::i4(5));
  EXPECT_EQ(get(*range(u"Input", u"B:B"), dispid::kCount), Variant::i4(0));
  auto last = object(*range(u"Input", u"A1"), dispid::kSpecialCells, {Variant::i4(11)});
  EXPECT_EQ(get(*last, dispid::kAddress), Variant::text(u"$F$3"));
  EXPECT_EQ(get(*object(*sheet(u"Input"), dispid::kUsedRange), dispid::kAddress),
            Variant::text(u"$B$1:$F$3"));
}

TEST_F(ProgramObjectsTest, AddressForms) {
  struct Case {
    std::u16string range;
    std::vector<Variant> arguments;
    std::u16string expected;
  } cases[] = {
      {u"B3", {}, u"$B$3"},
      {u"B3:D4", {Variant::boolean(false), Variant::boolean(false)}, u"B3:D4"},
      {u"B3", {Variant::boolean(false), Variant::boolean(true)}, u"$B3"},
      {u"B3", {Variant::boolean(true), Variant::boolean(false)}, u"B$3"},
      {u"A1:A2,C5", {}, u"$A$1:$A$2,$C$5"},
      {u"C:D", {}, u"$C:$D"},
      {u"B3:C4", {Variant::missing(), Variant::missing(), Variant::i4(-4150)}, u"R3C2:R4C3"},
      {u"B3",
       {Variant::missing(), Variant::missing(), Variant::missing(), Variant::boolean(true)},
       u"[Book.xlsx]Input!$B$3"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(get(*range(u"Input", c.range), dispid::kAddress, c.arguments),
              Variant::text(c.expected));
  }
  // Application.Range reads the active sheet unless the text names one.
  EXPECT_EQ(
      get(*object(app(), dispid::kApplicationRange, {Variant::text(u"Output!A2")}),
          dispid::kAddress,
          {Variant::missing(), Variant::missing(), Variant::missing(), Variant::boolean(true)}),
      Variant::text(u"[Book.xlsx]Output!$A$2"));
}

TEST_F(ProgramObjectsTest, FormulasOfTheProgramItself) {
  EXPECT_EQ(put(*range(u"Input", u"A1"), dispid::kValue2, Variant::text(u"4")), kSOk);
  EXPECT_EQ(put(*range(u"Input", u"A2"), dispid::kFormula, Variant::text(u"=A1*2+Output!A1")),
            kSOk);
  EXPECT_EQ(put(*range(u"Input", u"A3"), dispid::kFormula, Variant::text(u"=SUM(A1:A2)")), kSOk);
  EXPECT_EQ(program_.cellValue(u"Book.xlsx", u"Input", u"A2"), Variant::r8(8));
  EXPECT_EQ(program_.cellValue(u"Book.xlsx", u"Input", u"A3"), Variant::error(kCellErrorName));
  EXPECT_EQ(get(*range(u"Input", u"A2"), dispid::kFormula), Variant::text(u"=A1*2+Output!A1"));
  EXPECT_EQ(get(*range(u"Input", u"A1"), dispid::kFormula), Variant::text(u"4"));

  // In manual mode a change waits for the calculation.
  put(app(), dispid::kCalculation, Variant::i4(kCalculationManual));
  put(*range(u"Output", u"A1"), dispid::kValue2, Variant::r8(1));
  EXPECT_EQ(program_.cellValue(u"Book.xlsx", u"Input", u"A2"), Variant::r8(8));
  EXPECT_EQ(call(app(), dispid::kCalculateFull), kSOk);
  EXPECT_EQ(program_.cellValue(u"Book.xlsx", u"Input", u"A2"), Variant::r8(9));
  EXPECT_GE(program_.unsupportedFormulas(), 1);

  EXPECT_EQ(get(*range(u"Input", u"A2:A3"), dispid::kHasFormula), Variant::boolean(true));
  EXPECT_EQ(get(*range(u"Input", u"A1:A2"), dispid::kHasFormula), Variant::null());
  EXPECT_EQ(get(*range(u"Input", u"B1:B9"), dispid::kHasFormula), Variant::boolean(false));

  // Precedents on the formula's own sheet, taken from the formula texts.
  auto precedents = object(*range(u"Input", u"A2:A3"), dispid::kDirectPrecedents);
  EXPECT_EQ(get(*precedents, dispid::kAddress), Variant::text(u"$A$1,$A$1:$A$2"));
  Variant none;
  EXPECT_EQ(range(u"Input", u"A1")
                ->invoke(dispid::kDirectPrecedents, InvokeKind::kPropertyGet, {}, &none),
            kDispEException);
}

TEST_F(ProgramObjectsTest, SheetProtectionHonoursPasswordsAndLockedCells) {
  auto input = sheet(u"Input");
  EXPECT_EQ(put(*range(u"Input", u"B1"), 0x10D, Variant::boolean(false)), kSOk);  // Locked
  std::vector<Variant> options(16, Variant::missing());
  options[0] = Variant::text(u"pw");
  EXPECT_EQ(call(*input, dispid::kProtect, options), kSOk);
  EXPECT_EQ(get(*input, dispid::kProtectContents), Variant::boolean(true));
  EXPECT_EQ(program_.workbookState(u"Book.xlsx")->data.sheets[0].protection.options.size(), 15u);

  EXPECT_EQ(put(*range(u"Input", u"A1"), dispid::kValue2, Variant::r8(1)), kDispEException);
  EXPECT_EQ(put(*range(u"Input", u"A1:B1"), dispid::kValue2, Variant::r8(1)), kDispEException);
  EXPECT_EQ(program_.cellValue(u"Book.xlsx", u"Input", u"B1"), Variant());  // nothing written
  EXPECT_EQ(put(*range(u"Input", u"B1"), dispid::kValue2, Variant::r8(2)), kSOk);
  EXPECT_FALSE(program_.typeIntoCell(u"Book.xlsx", u"Input", u"A1", u"3"));
  EXPECT_EQ(put(*range(u"Input", u"B1"), 0x10D, Variant::boolean(true)), kDispEException);

  EXPECT_EQ(call(*input, dispid::kUnprotect, {Variant::text(u"wrong")}), kDispEException);
  EXPECT_EQ(call(*input, dispid::kUnprotect, {}), kDispEException);
  EXPECT_EQ(get(*input, dispid::kProtectContents), Variant::boolean(true));
  EXPECT_EQ(call(*input, dispid::kUnprotect, {Variant::text(u"pw")}), kSOk);
  EXPECT_EQ(get(*input, dispid::kProtectContents), Variant::boolean(false));
  EXPECT_EQ(put(*range(u"Input", u"A1"), dispid::kValue2, Variant::r8(1)), kSOk);

  // The old form, protecting for the user interface only: automation may still write.
  EXPECT_EQ(call(*input, dispid::kProtectOld,
                 {Variant::text(u""), Variant::boolean(false), Variant::boolean(true),
                  Variant::boolean(false), Variant::boolean(true)}),
            kSOk);
  EXPECT_EQ(get(*input, dispid::kProtectDrawingObjects), Variant::boolean(false));
  EXPECT_EQ(put(*range(u"Input", u"A1"), dispid::kValue2, Variant::r8(5)), kSOk);
  EXPECT_FALSE(program_.typeIntoCell(u"Book.xlsx", u"Input", u"A1", u"6"));
  EXPECT_EQ(put(*input, dispid::kEnableSelection, Variant::i4(1)), kSOk);
  EXPECT_EQ(get(*input, dispid::kEnableSelection), Variant::i4(1));

  auto workbook = object(app(), dispid::kActiveWorkbook);
  EXPECT_EQ(call(*workbook, dispid::kProtect,
                 {Variant::text(u"book"), Variant::boolean(true), Variant::boolean(false)}),
            kSOk);
  EXPECT_EQ(put(*input, dispid::kName, Variant::text(u"Renamed")), kDispEException);
  EXPECT_EQ(call(*workbook, dispid::kUnprotect, {Variant::text(u"nope")}), kDispEException);
  EXPECT_EQ(call(*workbook, dispid::kUnprotect, {Variant::text(u"book")}), kSOk);
  EXPECT_EQ(put(*input, dispid::kName, Variant::text(u"Renamed")), kSOk);
}

TEST_F(ProgramObjectsTest, HyperlinksFormattingShapesAndQueryTables) {
  auto cell = range(u"Input", u"C2");
  auto links = object(*cell, dispid::kHyperlinks);
  Variant added;
  EXPECT_EQ(call(*links, dispid::kAdd,
                 {Variant::dispatch(cell), Variant::text(u"https://example.org"),
                  Variant::missing(), Variant::text(u"tip"), Variant::text(u"Example")},
                 &added),
            kSOk);
  EXPECT_EQ(program_.cellValue(u"Book.xlsx", u"Input", u"C2"), Variant::text(u"Example"));
  auto sheetLinks = object(*sheet(u"Input"), dispid::kHyperlinks);
  EXPECT_EQ(get(*sheetLinks, dispid::kCount), Variant::i4(1));
  auto link = object(*sheetLinks, dispid::kItem, {Variant::i4(1)});
  EXPECT_EQ(get(*link, dispid::kScreenTip), Variant::text(u"tip"));
  EXPECT_EQ(put(*link, dispid::kSubAddress, Variant::text(u"Output!A1")), kSOk);
  EXPECT_EQ(get(*added.object(), dispid::kSubAddress), Variant::text(u"Output!A1"));
  EXPECT_EQ(get(*object(*link, dispid::kRange), dispid::kAddress), Variant::text(u"$C$2"));
  EXPECT_EQ(call(*link, dispid::kDelete), kSOk);
  EXPECT_EQ(get(*links, dispid::kCount), Variant::i4(0));
  EXPECT_EQ(call(*link, dispid::kDelete), kDispEException);

  auto pair = range(u"Input", u"A1:A2");
  auto interior = object(*pair, dispid::kInterior);
  EXPECT_EQ(get(*interior, dispid::kColor), Variant::r8(0xFFFFFF));
  EXPECT_EQ(put(*object(*range(u"Input", u"A1"), dispid::kInterior), dispid::kColor,
                Variant::i4(0x0000FF)),
            kSOk);
  EXPECT_EQ(get(*interior, dispid::kColor), Variant::null());  // the cells differ
  CellKey a1{0, 0};
  EXPECT_EQ(program_.workbookState(u"Book.xlsx")->data.sheets[0].cells[a1].interiorColor,
            0x0000FFu);
  EXPECT_EQ(put(*pair, dispid::kHorizontalAlignment, Variant::i4(-4108)), kSOk);
  EXPECT_EQ(get(*pair, dispid::kHorizontalAlignment), Variant::i4(-4108));
  EXPECT_EQ(put(*pair, dispid::kRangeMember0xD1, Variant::boolean(true)), kSOk);
  EXPECT_EQ(get(*pair, dispid::kRangeMember0xD1), Variant::boolean(true));
  EXPECT_EQ(put(*object(*pair, dispid::kBorders), dispid::kWeight, Variant::i4(-4138)), kSOk);
  EXPECT_EQ(get(*object(*pair, dispid::kBorders), dispid::kWeight), Variant::i4(-4138));
  // A line feed switches word wrap on, as the program does for every entry.
  put(*range(u"Input", u"D1"), dispid::kValue2, Variant::text(u"a\nb"));
  EXPECT_EQ(get(*range(u"Input", u"D1"), dispid::kWrapText), Variant::boolean(true));

  WorkbookState& book = *program_.workbookState(u"Book.xlsx");
  book.data.sheets[0].shapes.push_back({u"Go", u""});
  book.data.sheets[0].queryTables = 2;
  auto input = sheet(u"Input");
  auto shape = object(*object(*input, dispid::kShapes), dispid::kItem, {Variant::text(u"go")});
  EXPECT_EQ(put(*shape, dispid::kOnAction, Variant::text(u"RunGo")), kSOk);
  EXPECT_EQ(book.data.sheets[0].shapes[0].onAction, u"RunGo");
  auto tables = object(*input, dispid::kQueryTables);
  EXPECT_EQ(get(*tables, dispid::kCount), Variant::i4(2));
  EXPECT_EQ(call(*object(*tables, dispid::kItem, {Variant::i4(2)}), dispid::kRefresh), kSOk);
  EXPECT_EQ(book.queryTableRefreshes[0], 1);
}

TEST_F(ProgramObjectsTest, ChartSheetsAnswerTheirOwnInterface) {
  WorkbookData data;
  data.fullName = u"Charts.xlsx";
  data.sheets.resize(2);
  data.sheets[0].name = u"Data";
  data.sheets[1].name = u"Chart1";
  data.sheets[1].type = -4109;
  program_.openWorkbook(std::move(data));
  auto workbook = object(app(), dispid::kActiveWorkbook);
  auto chart = object(*object(*workbook, dispid::kSheets), dispid::kItem, {Variant::i4(2)});
  EXPECT_EQ(chart->queryInterface(kIidWorksheet), nullptr);
  EXPECT_EQ(chart->queryInterface(kIidChart), chart);
  EXPECT_EQ(get(*chart, dispid::kType), Variant::i4(-4109));
  EXPECT_EQ(get(*object(*workbook, dispid::kWorksheets), dispid::kCount), Variant::i4(1));
}

TEST_F(ProgramObjectsTest, ObjectsOfAnEndedProgramFail) {
  std::shared_ptr<Dispatch> cell;
  {
    SpreadsheetProgram other(windows_, nullptr);
    other.openWorkbook(WorkbookData{});
    cell = object(*other.application(), dispid::kApplicationRange, {Variant::text(u"A1")});
  }
  Variant v;
  EXPECT_EQ(cell->invoke(dispid::kValue2, InvokeKind::kPropertyGet, {}, &v), kEFail);
}

}  // namespace
}  // namespace korvel
