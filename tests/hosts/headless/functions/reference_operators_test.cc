// References across several sheets and the range operator between computed references, computed
// by the engine with the headless program, and the cells they make depend on.
#include <gtest/gtest.h>

#include <string>

#include "tests/hosts/headless/functions/host_function_test_support.h"

namespace korvel {

namespace {

// Sheets Jan, Feb, Mar and Apr hold A1 = 1, 2, 3, 4 and B1:B2 = 10, 20, ... ; the formulas stand
// on Main, after them.
const std::string kSheets =
    "[Jan]\nA1: 1\nB1: 10\nB2: \"x\"\n"
    "[Feb]\nA1: 2\nB1: 20\nB2: 21\n"
    "[Mar]\nA1: 3\nB1: 30\nB2: TRUE\n"
    "[Apr]\nA1: 4\nB1: 40\nB2: 41\n"
    "[Main]\nA1: 1\nA2: 2\nA3: 3\nA4: 4\nA5: 5\nB1: 10\nB2: 20\nB3: 30\nC5: 7\n";

// Each formula, in Main!Z100, shows its expected value.
class SheetsTest : public HostFunctionTest {
 protected:
  void expectOnMain(std::initializer_list<FormulaCase> cases) {
    for (const FormulaCase& c : cases) {
      build(kSheets + "Z100: " + c.formula + "\n");
      EXPECT_EQ(valueOf("Main!Z100"), c.expected) << c.formula;
    }
  }
};

TEST_F(SheetsTest, ReferencesAcrossSheetsReadEverySheetBetweenTheEnds) {
  expectOnMain({
      {"=SUM(Jan:Mar!A1)", "i:6"},
      {"=SUM(Mar:Jan!A1)", "i:6"},  // the ends in either order
      {"=SUM(Feb:Apr!B1:B2)", "i:152"},
      {"=SUM('Jan:Apr'!A1,100)", "i:110"},
      {"=AVERAGE(Jan:Apr!A1)", "n:2.5"},
      {"=COUNT(Jan:Apr!B1:B2)", "i:6"},
      {"=COUNTA(Jan:Apr!B1:B2)", "i:8"},
      {"=MAX(Jan:Mar!A1)+MIN(Feb:Apr!A1)", "i:5"},
      {"=PRODUCT(Jan:Apr!A1)", "i:24"},
      {"=MAXA(Jan:Mar!B2)", "i:21"},
      {"=VAR.S(Jan:Apr!A1)*3", "i:5"},
      // Outside the functions that take it, and with a sheet the workbook lacks.
      {"=Jan:Mar!A1", "e:#VALUE!"},
      {"=VLOOKUP(1,Jan:Mar!A1:B1,2,FALSE)", "e:#VALUE!"},
      {"=SUM(Jan:Dec!A1)", "e:#REF!"},
  });
}

TEST_F(SheetsTest, RangeOperatorJoinsComputedReferences) {
  expectOnMain({
      {"=SUM(A1:INDEX(A1:A5,3))", "i:6"},
      {"=SUM(OFFSET(A1,0,0):OFFSET(A1,4,0))", "i:15"},
      {"=SUM(OFFSET(A1,1,1):B3)", "i:50"},
      {"=SUM(A2:CHOOSE(2,B5,C5))", "i:71"},
      {"=SUM(A1:INDIRECT(\"B3\"))", "i:66"},
      {"=SUM(INDEX(A1:A5,4):INDEX(A1:A5,2))", "i:9"},
      {"=ROWS(A1:INDEX(A:A,5))*10+COLUMNS(C5:A1)", "i:53"},
      {"=ISREF(A1:OFFSET(A1,1,1))", "b:TRUE"},
      {"=A1:INDEX(A1:A5,1)", "i:1"},
      // Ends that are no references, and ends on two sheets.
      {"=SUM(A1:IF(TRUE,5))", "e:#VALUE!"},
      {"=SUM(A1:INDEX(A1:A5,9))", "e:#REF!"},
      {"=SUM(A1:INDIRECT(\"Jan!B3\"))", "e:#VALUE!"},
      {"=SUM(#REF!:#REF!)", "e:#REF!"},
  });
}

TEST_F(SheetsTest, CellsReadingComputedReferencesFollowTheirCells) {
  // D2 reads A1:A4, of which its formula names neither A3 nor any range holding it.
  build(kSheets + "D1: =SUM(Jan:Apr!A1)\nD2: =SUM(A1:CHOOSE(B3/15,A2,A4))\nD3: =D2*2\n");
  // As korvel calc and run open a workbook: the full pass links what computed references read.
  engine_->recalculation().fullRecalculation();
  EXPECT_EQ(valueOf("Main!D1"), "i:10");
  EXPECT_EQ(valueOf("Main!D2"), "i:10");
  struct Change {
    const char* cell;
    int value;
    const char* reader;
    const char* expected;
  };
  const Change changes[] = {
      {"Feb!A1", 12, "Main!D1", "i:20"},   // a sheet between the ends
      {"Main!A3", 33, "Main!D3", "i:80"},  // a cell only the computed area reaches
      {"Main!B3", 15, "Main!D3", "i:6"},   // the far end moves: D2 sums A1:A2
  };
  for (const Change& c : changes) {
    Cell* changed = cell(c.cell);
    ASSERT_NE(changed, nullptr) << c.cell;
    changed->ensureValue() = Value::integer(c.value);
    engine_->recalculation().recalculateChanged({changed}, false);
    EXPECT_EQ(valueOf(c.reader), c.expected) << c.cell;
  }
}

}  // namespace
}  // namespace korvel
