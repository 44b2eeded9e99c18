// The reference-building members of the lookup family: INDEX, OFFSET, INDIRECT, ADDRESS, ROW,
// COLUMN, ROWS, COLUMNS, TRANSPOSE and HYPERLINK.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "function_test_support.h"

namespace korvel {
namespace {

class ReferenceFunctions : public FunctionTest {
 protected:
  void expectReferences(const std::string& inputs, const std::vector<FormulaCase>& cases) {
    for (const FormulaCase& c : cases) {
      EXPECT_EQ(evalReference(inputs, c.formula), c.expected) << c.formula;
    }
  }
  void expectValues(const std::string& inputs, const std::vector<FormulaCase>& cases) {
    for (const FormulaCase& c : cases) {
      EXPECT_EQ(eval(inputs, c.formula), c.expected) << c.formula;
    }
  }
};

TEST_F(ReferenceFunctions, OffsetMovesAndResizes) {
  expectReferences("", {
                           {"=OFFSET(A1,0,0,0.5,1)", "r:A1:A2"},
                           {"=OFFSET(A1,0,0,-0.0000001,1)", "r:A1:A2"},
                           {"=OFFSET(A1,0,0.2)", "r:A1"},
                           {"=OFFSET(C1,0,-1.8)", "r:B1"},
                           {"=OFFSET(G7,\"2.1\",\"1.9\")", "r:H9"},
                           {"=OFFSET(A1,1.9,0)", "r:A2"},
                           {"=OFFSET(A1,-1,0)", "e:#REF!"},
                           {"=OFFSET(A1:B2,1,1)", "r:B2:C3"},
                           {"=OFFSET(C3,0,0,-2,-2)", "r:B2:C3"},
                           {"=OFFSET(A1,0,0,1.5)", "r:A1"},
                           {"=OFFSET(A1,0,0,1.99999999)", "r:A1:A2"},
                           {"=OFFSET(A1,0,0,-1.5)", "e:#REF!"},
                           {"=OFFSET(C3,0,0,-1.5)", "r:C2:C3"},
                           {"=OFFSET(A1,0,0,0)", "e:#REF!"},
                           {"=OFFSET(A1,\"x\",0)", "e:#VALUE!"},
                           {"=OFFSET(A1,0,\"x\")", "e:#VALUE!"},
                           {"=OFFSET(A1,0,#N/A)", "e:#N/A"},
                           {"=OFFSET(XFD1,0,1)", "e:#REF!"},
                           {"=OFFSET(A1048576,0,0,2)", "e:#REF!"},
                       });
  EXPECT_EQ(eval("B2: 7", "=OFFSET(A1,1,1)"), "i:7");
}

TEST_F(ReferenceFunctions, AddressFormsTexts) {
  expectValues("", {
                       {"=ADDRESS(1,1,1,,\"S\")", "t:S!R1C1"},
                       {"=ADDRESS(1,1,1,TRUE,\"My Sheet\")", "t:'My Sheet'!$A$1"},
                       {"=ADDRESS(1,1,1,TRUE,\"O'Neil\")", "t:'O''Neil'!$A$1"},
                       {"=ADDRESS(1,1,1,TRUE,\"2020\")", "t:'2020'!$A$1"},
                       {"=ADDRESS(2,3,3,TRUE,\"[Book1]Sheet1\")", "t:[Book1]Sheet1!$C2"},
                       {"=ADDRESS(1,1,1,TRUE,\"[Book1]My Sheet\")", "t:'[Book1]My Sheet'!$A$1"},
                       {"=ADDRESS(1,1,1,TRUE,TRUE)", "t:'TRUE'!$A$1"},
                       {"=ADDRESS(1,1,1,TRUE,7)", "t:'7'!$A$1"},
                       {"=ADDRESS(1,1,1,TRUE,\"\")", "t:!$A$1"},
                       {"=ADDRESS(2,3,4,FALSE)", "t:R[2]C[3]"},
                       {"=ADDRESS(2,3,2,FALSE)", "t:R2C[3]"},
                       {"=ADDRESS(2,3,3,0)", "t:R[2]C3"},
                       {"=ADDRESS(3,28)", "t:$AB$3"},
                       {"=ADDRESS(3,28,2)", "t:AB$3"},
                       {"=ADDRESS(3,28,3)", "t:$AB3"},
                       {"=ADDRESS(3.9,28,4)", "t:AB3"},
                       {"=ADDRESS(1048576,16384)", "t:$XFD$1048576"},
                       {"=ADDRESS(0,1)", "e:#VALUE!"},
                       {"=ADDRESS(1,16385)", "e:#VALUE!"},
                       {"=ADDRESS(1,1,5)", "e:#VALUE!"},
                       {"=ADDRESS(1,1,1,\"x\")", "e:#VALUE!"},
                       {"=ADDRESS(\"a\",1)", "e:#VALUE!"},
                   });
}

TEST_F(ReferenceFunctions, IndexOfArraysReferencesAndLists) {
  expectReferences("", {
                           {"=INDEX({1,2,3},2)", "i:2"},
                           {"=INDEX({1,2;3,4},2,1)", "i:3"},
                           {"=INDEX({1,2;3,4},3,1)", "e:#VALUE!"},
                           {"=INDEX({1,2;3,4},-1,1)", "e:#VALUE!"},
                           {"=INDEX({1,2;3,4},0,2)", "a:{2;4}"},
                           {"=INDEX({1,2;3,4},1,0)", "a:{1,2}"},
                           {"=INDEX(A1:C3,0,2)", "r:B1:B3"},
                           {"=INDEX(A1:C3,2,0)", "r:A2:C2"},
                           {"=INDEX(A1:C3,0,0)", "r:A1:C3"},
                           {"=INDEX(A1:C3,2,3)", "r:C2"},
                           {"=INDEX(A1:C3,4,1)", "e:#REF!"},
                           {"=INDEX(A1:C1,2)", "r:B1"},
                           {"=INDEX((A1:B2,D1:E2),1,2,2)", "r:E1"},
                           {"=INDEX((A1:B2,D1:E2),1,1,3)", "e:#REF!"},
                           {"=INDEX(A1:B2,1,1,2)", "e:#REF!"},
                           {"=INDEX(A1:B2,1,1,\"x\")", "e:#VALUE!"},
                           {"=INDEX(#N/A,1)", "e:#N/A"},
                           {"=INDEX(5,1)", "e:#VALUE!"},
                           {"=INDEX(A1:B2,#DIV/0!)", "e:#DIV/0!"},
                       });
  EXPECT_EQ(eval("B2: 9", "=INDEX(A1:C3,2,2)"), "i:9");
}

TEST_F(ReferenceFunctions, IndirectReadsA1R1C1SheetsAndNames) {
  // The formula stands in Z100 of the first sheet, ahead of the other sheets.
  auto book = [](const std::string& formula) {
    return "[Sheet1]\nA1: 1\nZ100: " + formula +
           "\n[Sheet2]\nB3: 23\n[My Sheet]\nA1: 5\n"
           "name Rate: =Sheet2!$B$3\nname Sheet1!Local: =Sheet1!$A$1\n"
           "name Sheet2!Local: =Sheet2!$B$3\n";
  };
  // The reference Z100's formula gives, shown with its sheet index.
  auto reference = [&](const std::string& formula) {
    build(book(formula));
    Cell* at = cell("Z100");
    Value v = evaluateFormula(*engine_, at->formulaRoots.front().get(), at, kModeReference);
    if (!v.isReference()) return show(v);
    return std::to_string(v.reference().first.sheet()) + show(v);
  };
  const std::vector<FormulaCase> cases = {
      {"=INDIRECT(\"Sheet2!$B$3\")", "1r:B3"},     {"=INDIRECT(\"'My Sheet'!A1\")", "2r:A1"},
      {"=INDIRECT(\"!A1\")", "e:#REF!"},           {"=INDIRECT(\"R2C3\",FALSE)", "0r:C2"},
      {"=INDIRECT(\"R[1]C[-1]\",0)", "0r:Y101"},   {"=INDIRECT(\"RC\",0)", "0r:Z100"},
      {"=INDIRECT(\"R1C1:R2C2\",0)", "0r:A1:B2"},  {"=INDIRECT(\"a1:b2\")", "0r:A1:B2"},
      {"=INDIRECT(\"C:D\")", "0r:C1:D1048576"},    {"=INDIRECT(\"ABCD1\")", "e:#REF!"},
      {"=INDIRECT(\"A1048577\")", "e:#REF!"},      {"=INDIRECT(\"R0C1\",FALSE)", "e:#REF!"},
      {"=INDIRECT(\"#REF!\")", "e:#REF!"},         {"=INDIRECT(5)", "e:#REF!"},
      {"=INDIRECT(\"Nowhere!A1\")", "e:#REF!"},    {"=INDIRECT(\"rate\")", "1r:B3"},
      {"=INDIRECT(\"Local\")", "0r:A1"},           {"=INDIRECT(\"Sheet2!Local\")", "1r:B3"},
      {"=INDIRECT(\"[Book]Sheet2!B3\")", "1r:B3"},
  };
  for (const FormulaCase& c : cases) EXPECT_EQ(reference(c.formula), c.expected) << c.formula;
  build(book("=INDIRECT(\"Sheet2!B3\")*2"));
  EXPECT_EQ(valueOf("Z100"), "i:46");

  // Another workbook is the host program's to read.
  EXPECT_EQ(eval("", "=INDIRECT(\"[Other.xlsx]Sheet1!A1\")"), "i:0");
  ASSERT_FALSE(host_.evaluated.empty());
  EXPECT_EQ(host_.evaluated.back(), u"=[Other.xlsx]Sheet1!A1");
}

TEST_F(ReferenceFunctions, RowColumnAndExtents) {
  expectValues("", {
                       {"=ROW()", "i:100"},
                       {"=COLUMN()", "i:26"},
                       {"=ROW(C7:D9)", "i:7"},
                       {"=COLUMN(C7:D9)", "i:3"},
                       {"=ROW((A1,B2))", "e:#REF!"},
                       {"=ROWS(A1:B3)", "i:3"},
                       {"=COLUMNS(A1:B3)", "i:2"},
                       {"=COLUMNS({1,2,3})", "i:3"},
                       {"=ROWS({1,2,3})", "i:1"},
                       {"=ROWS(5)", "i:1"},
                       {"=ROWS(#N/A)", "e:#N/A"},
                   });
  build("A1:A3: {=ROW(C7:D9)}\nB1:D1: {=COLUMN(C7:E7)}\n");
  EXPECT_EQ(valueOf("A1"), "a:{7;8;9}");
  EXPECT_EQ(valueOf("A3"), "i:9");
  EXPECT_EQ(valueOf("D1"), "i:5");
}

TEST_F(ReferenceFunctions, TransposeTurnsOnlyInsideArrayFormulas) {
  build(
      "A1: 1\nA2: 2\nB1:C1: {=TRANSPOSE(A1:A2)}\nD1:E2: {=TRANSPOSE({1,2;3,4})}\n"
      "F1: =TRANSPOSE({7,8})\nF2: =TRANSPOSE(#NUM!)\n");
  EXPECT_EQ(valueOf("B1"), "a:{1,2}");
  EXPECT_EQ(valueOf("C1"), "i:2");
  EXPECT_EQ(valueOf("D1"), "a:{1,3;2,4}");
  EXPECT_EQ(valueOf("E1"), "i:3");
  EXPECT_EQ(valueOf("D2"), "i:2");
  EXPECT_EQ(valueOf("F1"), "i:7");
  EXPECT_EQ(valueOf("F2"), "e:#NUM!");
}

TEST_F(ReferenceFunctions, HyperlinkMarksTheCell) {
  EXPECT_EQ(eval("", "=HYPERLINK(\"http://example.org\",\"site\")"), "t:site");
  ASSERT_NE(cell("Z100")->hyperlink(), nullptr);
  EXPECT_EQ(cell("Z100")->hyperlink()->kind, Hyperlink::kWeb);
  EXPECT_EQ(cell("Z100")->hyperlink()->address, u"http://example.org");

  EXPECT_EQ(eval("", "=HYPERLINK(\"#Sheet1!A1\")"), "t:#Sheet1!A1");
  ASSERT_NE(cell("Z100")->hyperlink(), nullptr);
  EXPECT_EQ(cell("Z100")->hyperlink()->kind, Hyperlink::kInWorkbook);
  EXPECT_EQ(cell("Z100")->hyperlink()->target, u"Sheet1!A1");

  EXPECT_EQ(eval("", "=HYPERLINK(#N/A,\"x\")"), "e:#N/A");
  EXPECT_EQ(cell("Z100")->hyperlink(), nullptr);
}

}  // namespace
}  // namespace korvel
