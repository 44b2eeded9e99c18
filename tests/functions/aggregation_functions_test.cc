// The aggregation and criteria family through formulas: COUNTIF and COUNTIFS over stored and
// missing cells, SUMIF, SUMPRODUCT, SUBTOTAL with the host program, and the rules of the sums,
// counts and extremes for direct arguments, references and arrays.
#include <gtest/gtest.h>

#include "function_test_support.h"
#include "functions/native_registry.h"

namespace korvel {
namespace {

class AggregationTest : public FunctionTest {
 protected:
  void expectAll(const std::string& inputs, const std::vector<FormulaCase>& cases) {
    for (const FormulaCase& c : cases) EXPECT_EQ(eval(inputs, c.formula), c.expected) << c.formula;
  }
};

// A1:A13 hold numbers, texts, a boolean, an empty text and an error; A11 has no cell, and A14:A15
// lie below the last stored cell of the column.
constexpr const char* kMixedColumn = R"(
A1: 1
A2: 5
A3: 10
A4: "7"
A5: "ABC"
A6: "abc"
A7: "abcd"
A8: TRUE
A9: "*"
A10: =""
A12: 0
A13: #N/A
)";

TEST_F(AggregationTest, CountIfCriteria) {
  expectAll(kMixedColumn,
            {
                {"=COUNTIF(A1:A15,\">4\")", "i:2"},  // 5 and 10: the text 7 only equals 7
                {"=COUNTIF(A1:A15,\"=\")", "i:3"},   // A11, A14, A15
                {"=COUNTIF(A1:A15,\"<>\")", "i:12"},
                {"=COUNTIF(A1:A15,\"\")", "i:4"},  // and the empty text
                {"=COUNTIF(A1:A15,)", "i:1"},      // an empty criterion is 0
                {"=COUNTIF(A1:A15,\"a?c\")", "i:2"},
                {"=COUNTIF(A1:A15,\"~*\")", "i:1"},
                {"=COUNTIF(A1:A15,\"true\")", "i:1"},
                {"=COUNTIF(A1:A15,\"<>5\")", "i:14"},
                {"=COUNTIF(A1:A15,7)", "i:1"},
                {"=COUNTIF(A1:A15,\"#N/A\")", "i:1"},
                {"=COUNTIF(A1:A15,#N/A)", "i:1"},  // finds the same error
                {"=COUNTIF(A1:A15,1/0)", "i:0"},
                {"=COUNTIF(A1:A15,A12)", "i:1"},
                {"=COUNTIF({1,2,3,\"2\"},2)", "i:2"},
                {"=COUNTIF(#N/A,1)", "e:#VALUE!"},
                {"=COUNTIF(A:A,\"<>5\")", "i:1048575"},
            });
}

TEST_F(AggregationTest, CountIfWithArrayCriteriaGivesAnArray) {
  build(std::string(kMixedColumn) + "C1:D1: {=COUNTIF(A1:A15,{1,\"a*\"})}\n");
  EXPECT_EQ(valueOf("C1"), "a:{1,3}");  // the anchor holds the whole array
  EXPECT_EQ(valueOf("D1"), "i:3");
}

TEST_F(AggregationTest, CountIfs) {
  const std::string inputs = R"(
A1: 1
A2: 2
A3: 3
A4: 4
B1: "x"
B2: "y"
B3: "x"
B4: "x"
)";
  expectAll(inputs, {
                        {"=COUNTIFS(A1:A4,\">1\",B1:B4,\"x\")", "i:2"},
                        {"=_XLFN.COUNTIFS(A1:A4,\">1\",B1:B4,\"x\")", "i:2"},
                        {"=COUNTIFS(A1:A3,\">0\",B1:B4,\"x\")", "e:#VALUE!"},
                        {"=COUNTIFS(A1:A10,\"=\",B1:B10,\"=\")", "i:6"},
                        {"=COUNTIFS(A1:A10,\"\",B1:B10,\"x\")", "i:0"},
                        {"=COUNTIFS(A1:B2,\"<>y\",A3:B4,\"<>2\")", "i:3"},
                        {"=COUNTIFS(#DIV/0!,1)", "e:#DIV/0!"},
                        {"=COUNTIFS(A1:A4,1,B1:B4)", "e:#VALUE!"},
                    });
}

TEST_F(AggregationTest, SumIf) {
  const std::string inputs = R"(
A1: 1
A2: 2
A3: 3
A4: 4
A6: "x"
B1: 10
B2: 20
B3: 30
B4: 40
B5: 50
B6: 60
B7: 70
C1: 5
C3: #DIV/0!
)";
  expectAll(inputs, {
                        {"=SUMIF(A1:A6,\">2\")", "i:7"},
                        {"=SUMIF(A1:A6,\">2\",B1:B6)", "i:70"},
                        {"=SUMIF(A1:A6,\">2\",B1)", "i:70"},  // the sum range takes the shape
                        {"=SUMIF(A1:A6,\">2\",B1:B2)", "i:70"},
                        {"=SUMIF(A1:A6,\"=\",B1:B6)", "i:50"},
                        {"=SUMIF(A1:A6,\"x\",B1:B6)", "i:60"},
                        {"=SUMIF(A1:A6,\"<>\",B1:B6)", "i:160"},
                        {"=SUMIF(A1:A10,\"\",B1:B10)", "i:120"},  // B7 beside a blank too
                        {"=SUMIF({1,2,3},\">1\")", "i:5"},
                        {"=SUMIF(#N/A,1)", "e:#VALUE!"},
                        {"=SUMIF(A1:A6,\">2\",C1:C6)", "e:#DIV/0!"},  // a matching error
                        {"=SUMIF(A1:A6,\"<2\",C1:C6)", "i:5"},
                    });
}

TEST_F(AggregationTest, SumProduct) {
  const std::string inputs = R"(
A1: 1
A2: 2
A3: 3
B1: 4
B2: 5
B3: "x"
C2: #N/A
D1: 2
D2: 2
D3: 2
)";
  expectAll(inputs, {
                        {"=SUMPRODUCT(A1:A3,D1:D3)", "i:12"},
                        {"=SUMPRODUCT(A1:A3,B1:B3)", "i:14"},  // the text counts 0
                        {"=SUMPRODUCT(A1:A3)", "i:6"},
                        {"=SUMPRODUCT({1,2},{3,4})", "i:11"},
                        {"=SUMPRODUCT({1,2}*{3,4})", "i:11"},
                        {"=SUMPRODUCT(A1:A3*D1:D3)", "i:12"},
                        {"=SUMPRODUCT(1.5)", "n:1.5"},
                        {"=SUMPRODUCT(A1:A3,B1:B2)", "e:#VALUE!"},
                        {"=SUMPRODUCT({1,2},{3;4})", "e:#VALUE!"},
                        {"=SUMPRODUCT(A1:A3,C1:C3)", "e:#N/A"},
                        {"=SUMPRODUCT(A1:A3,\"a\")", "e:#VALUE!"},
                        {"=SUMPRODUCT(\"a\",C1:C3)", "e:#N/A"},  // errors are found first
                        {"=SUMPRODUCT(E1:E1)", "e:#VALUE!"},     // one empty element
                        {"=SUMPRODUCT(A1:A10,D1:D10)", "i:12"},
                    });
}

TEST_F(AggregationTest, SumsCountsAndAverages) {
  const std::string inputs = R"(
A1: 1
A2: "5"
A3: TRUE
A5: 3
B1: #DIV/0!
C1: "#N/A"
)";
  expectAll(inputs,
            {
                {"=SUM(A1:A5)", "i:4"},
                {"=SUM(\"5\")", "i:5"},  // a text given directly reads as a number
                {"=SUM(\"5\",\"x\")", "e:#VALUE!"},
                {"=SUM(\"3/15/2021\")", "i:44270"},
                {"=SUM(1,TRUE,)", "i:2"},
                {"=SUM({1,\"5\",TRUE,2})", "i:3"},
                {"=SUM(A1:B1)", "e:#DIV/0!"},
                {"=SUM(C1)", "t:#N/A"},
                {"=SUM(C1:C2)", "i:0"},  // error texts in ranges are texts
                {"=SUM((A1,A5))", "i:4"},
                {"=SUM(Sheet1!A1:A5,2.5)", "n:6.5"},
                {"=PRODUCT(A1:A5,2)", "i:6"},
                {"=PRODUCT({2,#N/A})", "e:#N/A"},
                {"=PRODUCT(A2:A4)", "i:0"},  // no number to multiply
                {"=PRODUCT({\"a\"})", "i:0"},
                {"=AVERAGE(A1:A5)", "i:2"},
                {"=AVERAGE(A1,2)", "n:1.5"},
                {"=AVERAGE(A4)", "e:#DIV/0!"},
                {"=AVERAGE(\"1\")", "i:1"},
                {"=COUNT(A1:A5,TRUE,\"5\",1)", "i:5"},  // given directly, TRUE and "5" count
                {"=COUNT(\"x\",A2:A3)", "i:0"},
                {"=COUNT(A1:B1,{1,\"a\",#N/A})", "i:2"},
                {"=COUNTA(A1:A5,#N/A,)", "i:5"},
                {"=COUNTA({1,\"\",TRUE})", "i:3"},
                {"=COUNTBLANK(A1:A6)", "i:2"},
                {"=COUNTBLANK(A1:A3)", "i:0"},  // an empty result, shown as 0
            });
}

TEST_F(AggregationTest, CountBlankCountsEmptyTextsAndLeavesNoBlanksEmpty) {
  build("A1: 1\nA2: =\"\"\nC1: =COUNTBLANK(A1:A4)\n");
  EXPECT_EQ(valueOf("C1"), "i:3");
  // The routine's own result: a cell shows an empty result as 0.
  const NativeFunction* countBlank = NativeRegistry::instance().findNative(u"COUNTBLANK");
  ASSERT_NE(countBlank, nullptr);
  CallContext context{cell("C1"), engine_.get()};
  Value range = Value::reference(CellRef::at(0, 0, 0), CellRef::at(0, 0, 0));
  const Value* arguments[] = {&range, nullptr};
  Value result = Value::integer(7);
  countBlank->call(context, arguments, result);
  EXPECT_EQ(show(result), "-");
  range = Value::reference(CellRef::at(0, 0, 0), CellRef::at(0, 3, 0));
  countBlank->call(context, arguments, result);
  EXPECT_EQ(show(result), "i:3");
}

TEST_F(AggregationTest, Extremes) {
  const std::string inputs = R"(
A1: 1
A2: "5"
A3: TRUE
A5: 3
B1: #DIV/0!
C1: "#N/A"
)";
  expectAll(inputs, {
                        {"=MAX(A1:A5)", "i:3"},
                        {"=MAX(A1:A5,\"7\")", "i:7"},
                        {"=MAX(A1:A5,\"x\")", "e:#VALUE!"},
                        {"=MAX(-1,)", "i:0"},  // an empty argument counts 0
                        {"=MAX(-5,TRUE)", "i:-5"},
                        {"=MAX(A2:A4)", "i:0"},  // no numbers
                        {"=MAX(A1:B1)", "e:#DIV/0!"},
                        {"=MAX(C1:C2)", "t:#N/A"},
                        {"=MAX({1,\"9\",TRUE})", "i:1"},
                        {"=MIN(A1:A5)", "i:1"},
                        {"=MIN(A1:A5,\"-2.5\")", "n:-2.5"},
                        {"=MIN(A2:A4)", "i:0"},
                        {"=MAXA(A1:A5)", "i:3"},
                        {"=MINA(A1:A5)", "i:0"},  // the text counts 0
                        {"=MAXA(A2:A3)", "i:1"},  // TRUE counts 1
                        {"=MAXA(\"x\")", "e:#VALUE!"},
                        {"=MAXA(\"4\")", "i:4"},
                        {"=MINA({TRUE,\"a\",5})", "i:5"},
                        {"=MAXA(TRUE,0)", "i:1"},
                        {"=MINA(A1:B1)", "e:#DIV/0!"},
                    });
}

constexpr const char* kSubtotalInputs = R"(
A1: 1
A2: 2
A3: =SUBTOTAL(9,A1:A2)
A4: 4
A5: 5
)";

TEST_F(AggregationTest, SubtotalSkipsSubtotalCells) {
  expectAll(kSubtotalInputs, {
                                 {"=SUBTOTAL(9,A1:A5)", "i:12"},
                                 {"=SUBTOTAL(1,A1:A5)", "i:3"},
                                 {"=SUBTOTAL(2,A1:A5)", "i:4"},
                                 {"=SUBTOTAL(3,A1:A5)", "i:4"},
                                 {"=SUBTOTAL(4,A1:A5)", "i:5"},
                                 {"=SUBTOTAL(5,A1:A5)", "i:1"},
                                 {"=SUBTOTAL(6,A1:A5)", "i:40"},
                                 {"=SUBTOTAL(9.9,A1:A5,{1,2})", "i:15"},
                                 {"=SUM(A1:A5)", "i:15"},
                                 {"=SUBTOTAL(12,A1)", "e:#VALUE!"},
                                 {"=SUBTOTAL(0,A1)", "e:#VALUE!"},
                                 {"=SUBTOTAL(\"x\",A1)", "e:#VALUE!"},
                                 {"=SUBTOTAL(#N/A,A1)", "e:#N/A"},
                                 {"=SUBTOTAL(9,A1:A5,#REF!)", "e:#REF!"},
                             });
  EXPECT_TRUE(host_.evaluated.empty());
  EXPECT_FALSE(engine_->insideSubtotal);
}

TEST_F(AggregationTest, SubtotalFlagIsClearedOnEveryPath) {
  // The error ends the delegated SUM; the SUM after it must count the SUBTOTAL cell again.
  build(std::string(kSubtotalInputs) + "C1: =SUBTOTAL(9,A1:A5,#N/A)\nC2: =SUM(A1:A5)\n");
  EXPECT_EQ(valueOf("C1"), "e:#N/A");
  EXPECT_EQ(valueOf("C2"), "i:15");
  EXPECT_FALSE(engine_->insideSubtotal);
}

TEST_F(AggregationTest, SubtotalHandsOtherCodesToTheHost) {
  for (const char* code : {"7", "8", "10", "11", "101", "105", "109", "111"}) {
    build(std::string(kSubtotalInputs) + "C1: =SUBTOTAL(" + code +
          ",A1:A5,Other!B1,2)\n[Other]\nB1: 3\n");
    ASSERT_EQ(host_.evaluated.size(), 1u) << code;
    EXPECT_EQ(toUtf8(host_.evaluated[0]), std::string("=SUBTOTAL(") + code + ",A1:A5,Other!B1,2)");
    EXPECT_EQ(valueOf("C1"), "i:0");  // the host's answer
  }
}

}  // namespace
}  // namespace korvel
