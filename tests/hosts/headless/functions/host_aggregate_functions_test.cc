#include <vector>

#include "engine/evaluator.h"
#include "hosts/headless/functions/host_functions.h"
#include "tests/hosts/headless/functions/host_function_test_support.h"

namespace korvel {
namespace {

class HostAggregateFunctionTest : public HostFunctionTest {
 protected:
  void expectAll(const std::string& inputs, std::initializer_list<FormulaCase> cases) {
    for (const FormulaCase& c : cases) EXPECT_EQ(eval(inputs, c.formula), c.expected) << c.formula;
  }
};

// Region, amount and a text column; row 5 holds an error amount, row 6 a text amount.
constexpr char kSales[] =
    "A1: \"east\"\nB1: 10\nC1: \"a\"\n"
    "A2: \"west\"\nB2: 20\nC2: \"b\"\n"
    "A3: \"east\"\nB3: 30\nC3: \"b\"\n"
    "A4: \"north\"\nB4: 40\n"
    "A5: \"south\"\nB5: =1/0\n"
    "A6: \"east\"\nB6: \"n/a\"\nC6: \"a\"\n";

TEST_F(HostAggregateFunctionTest, ConditionalSumsAndAverages) {
  expectAll(kSales, {
                        {"=SUMIFS(B1:B6,A1:A6,\"east\")", "i:40"},
                        {"=SUMIFS(B1:B6,A1:A6,\"east\",C1:C6,\"b\")", "i:30"},
                        {"=SUMIFS(B1:B6,A1:A6,\"*th\",B1:B6,\">15\")", "i:40"},
                        {"=SUMIFS(B1:B4,A1:A6,\"east\")", "e:#VALUE!"},   // shapes differ
                        {"=SUMIFS(B1:B6,A1:A6,\"south\")", "e:#DIV/0!"},  // a matched error
                        {"=SUMIFS(B1:B6,A1:A6,\"none\")", "i:0"},
                        {"=AVERAGEIFS(B1:B6,A1:A6,\"east\")", "i:20"},
                        {"=AVERAGEIFS(B1:B6,A1:A6,\"east\",C1:C6,\"a\")", "i:10"},
                        {"=AVERAGEIFS(B1:B6,A1:A6,\"none\")", "e:#DIV/0!"},
                        {"=AVERAGEIF(A1:A6,\"east\",B1:B6)", "i:20"},
                        // The average range takes the criteria range's shape from B1.
                        {"=AVERAGEIF(A1:A6,\"east\",B1)", "i:20"},
                        {"=AVERAGEIF(B1:B4,\">15\")", "i:30"},
                        {"=AVERAGEIF(A1:A6,\"west*\",C1:C6)", "e:#DIV/0!"},
                        {"=SUM(SUMIFS(B1:B6,A1:A6,{\"east\",\"west\"}))", "i:60"},
                    });
}

TEST_F(HostAggregateFunctionTest, AverageATakesTextsAndBooleansOfReferences) {
  expectAll("A1: 4\nA2: TRUE\nA3: \"x\"\nA5: 2\nB1: =NA()",
            {
                {"=AVERAGEA(A1:A5)", "n:1.75"},
                {"=AVERAGEA(A1,\"2\",FALSE)", "i:2"},
                {"=AVERAGEA({1,TRUE,\"a\",3})", "i:2"},
                {"=AVERAGEA(A1,\"x\")", "e:#VALUE!"},
                {"=AVERAGEA(A1:B1)", "e:#N/A"},
                {"=AVERAGEA(C1:C3)", "e:#DIV/0!"},
            });
}

// A database of name, age and height; the criteria beside it.
constexpr char kDatabase[] =
    "A1: \"Name\"\nB1: \"Age\"\nC1: \"Height\"\n"
    "A2: \"ann\"\nB2: 30\nC2: 160\n"
    "A3: \"bob\"\nB3: 40\nC3: 180\n"
    "A4: \"cat\"\nB4: 50\nC4: \"tall\"\n"
    "A5: \"dan\"\nB5: 20\nC5: 170\n"
    "E1: \"Age\"\nE2: \">25\"\n"
    "F1: \"Name\"\nF2: \"zed\"\n"
    "G1: \"Age\"\n";

TEST_F(HostAggregateFunctionTest, DatabaseFunctions) {
  expectAll(kDatabase, {
                           {"=DAVERAGE(A1:C5,\"Height\",E1:E2)", "i:170"},
                           {"=DCOUNT(A1:C5,3,E1:E2)", "i:2"},
                           {"=DCOUNTA(A1:C5,\"height\",E1:E2)", "i:3"},
                           {"=DCOUNT(A1:C5,,E1:E2)", "i:3"},
                           {"=DCOUNTA(A1:C5,,G1:G2)", "i:4"},  // a blank criterion row
                           {"=DMAX(A1:C5,\"Age\",E1:E2)", "i:50"},
                           {"=DMAX(A1:C5,\"Age\",F1:F2)", "i:0"},
                           {"=DPRODUCT(A1:C5,2,E1:E2)", "i:60000"},
                           {"=DSTDEV(A1:C5,2,E1:E2)", "i:10"},
                           {"=DSTDEVP(A1:C5,\"Height\",E1:E2)", "i:10"},
                           {"=DVAR(A1:C5,2,E1:E2)", "i:100"},
                           {"=DVARP(A1:C5,2,G1:G2)", "i:125"},
                           {"=DSTDEV(A1:C5,2,F1:F2)", "e:#DIV/0!"},
                           {"=DAVERAGE(A1:C5,\"Weight\",E1:E2)", "e:#VALUE!"},
                           {"=DAVERAGE(A1:C5,4,E1:E2)", "e:#VALUE!"},
                           {"=DMAX(A1:C5,A1:B1,E1:E2)", "e:#VALUE!"},  // no one field
                           {"=DCOUNT(A1:C5,2,{1})", "e:#VALUE!"},
                       });
}

// An error in the field of a matching record is the result, as DMIN gives it; DCOUNT passes over
// it and DCOUNTA counts it.
TEST_F(HostAggregateFunctionTest, DatabaseErrorsInTheField) {
  std::string inputs = kDatabase;
  inputs.replace(inputs.find("C3: 180"), 7, "C3: =NA()");
  expectAll(inputs, {
                        {"=DAVERAGE(A1:C5,3,E1:E2)", "e:#N/A"},
                        {"=DMAX(A1:C5,3,E1:E2)", "e:#N/A"},
                        {"=DCOUNT(A1:C5,3,E1:E2)", "i:1"},
                        {"=DCOUNTA(A1:C5,3,E1:E2)", "i:3"},
                    });
}

TEST_F(HostAggregateFunctionTest, LogicalAndInformationFunctions) {
  expectAll("A1: TRUE\nA2: 0\nA3: \"t\"\nA4: 3\nB1: =A4*2\nB2: =NA()\nC1:C2: {=A1:A2}",
            {
                {"=XOR(TRUE,FALSE)", "b:TRUE"},
                {"=XOR(TRUE,1)", "b:FALSE"},
                {"=XOR(A1:A4)", "b:FALSE"},
                {"=XOR({1,0,1,1})", "b:TRUE"},
                {"=XOR(A3)", "e:#VALUE!"},
                {"=XOR(\"x\")", "e:#VALUE!"},
                {"=XOR(\"true\")", "b:TRUE"},   // direct texts spelling a truth value count
                {"=XOR(\"\",TRUE)", "b:TRUE"},  // other direct texts are passed over
                {"=XOR(A1,B2)", "e:#N/A"},
                {"=IFNA(B2,\"none\")", "t:none"},
                {"=IFNA(1/0,\"none\")", "e:#DIV/0!"},
                {"=IFNA(A4,\"none\")", "i:3"},
                {"=SUM(IFNA({1,#N/A,2},10))", "i:13"},
                {"=ISFORMULA(B1)", "b:TRUE"},
                {"=ISFORMULA(A4)", "b:FALSE"},
                {"=ISFORMULA(D9)", "b:FALSE"},
                {"=ISFORMULA(C2)", "b:TRUE"},
                {"=ISFORMULA(1)", "e:#VALUE!"},
                {"=ISFORMULA(A4:B4)", "b:FALSE"},  // one value outside an array formula
                {"{=ISFORMULA(A4:C4)}", "a:{FALSE,FALSE,FALSE}"},
                {"{=ISFORMULA(B1:C2)}", "a:{TRUE,TRUE;TRUE,TRUE}"},
                {"{=ISFORMULA(A1:B1)}", "a:{FALSE,TRUE}"},
                {"=AREAS(A1:B2)", "i:1"},
                {"=AREAS((A1,B2:C3,D4))", "i:3"},
            });
}

// SUBTOTAL hands its deviations, variances and hidden-row codes to the host program as a formula
// text, which the headless host reads into the routine's arguments: the routine is called here as
// it is called then. Cells that hold a SUBTOTAL are left out of the range, as the native codes
// leave them out.
TEST_F(HostAggregateFunctionTest, SubtotalCodesOfTheHost) {
  build("A1: 2\nA2: 4\nA3: 6\nA4: =SUBTOTAL(9,A1:A3)\nA5: \"x\"\nB1: =NA()");
  NativeRoutine routine = hostRoutine(u"SUBTOTAL");
  ASSERT_NE(routine, nullptr);
  auto subtotal = [&](double code, std::initializer_list<const char16_t*> ranges) {
    std::vector<Value> values{Value::number(code)};
    for (const char16_t* range : ranges) {
      CellRef first, last;
      parseRange(range, 0, first, last);
      values.push_back(Value::reference(first, last));
    }
    std::vector<const Value*> arguments;
    for (const Value& value : values) arguments.push_back(&value);
    arguments.push_back(nullptr);
    CallContext context{nullptr, engine_.get()};
    Value result;
    routine(context, arguments.data(), result);
    return show(result);
  };
  EXPECT_EQ(subtotal(7, {u"A1:A5"}), "i:2");
  EXPECT_EQ(subtotal(10, {u"A1:A5"}), "i:4");
  EXPECT_EQ(subtotal(8, {u"A1:A3"}), "n:1.63299316185545");
  EXPECT_EQ(subtotal(111, {u"A1:A4"}), "n:2.66666666666667");
  EXPECT_EQ(subtotal(109, {u"A1:A5"}), "i:12");
  EXPECT_EQ(subtotal(101.9, {u"A1:A5"}), "i:4");
  EXPECT_EQ(subtotal(107, {u"A1:A2", u"A3"}), "i:2");
  EXPECT_EQ(subtotal(7, {u"A1:B1"}), "e:#N/A");
  EXPECT_EQ(subtotal(7, {u"A1"}), "e:#DIV/0!");
  EXPECT_EQ(subtotal(112, {u"A1:A3"}), "e:#VALUE!");
}

// Rows the workbook hides are left out by SUBTOTAL 101-111 and AGGREGATE's options 1, 3, 5 and 7
// only; a hidden error then ends nothing.
TEST_F(HostAggregateFunctionTest, HiddenRowsAreLeftOutWhereAsked) {
  const std::string inputs = "A1: 2\nA2: 4\nA3: 6\nA4: =NA()\nA5: 10\nB1: =SUBTOTAL(109,A1:A3)\n";
  hiddenRows_ = {{0, 1}, {0, 3}};
  expectAll(inputs, {
                        {"=SUBTOTAL(109,A1:A5)", "i:18"},
                        {"=SUBTOTAL(101,A1:A3)", "i:4"},
                        {"=SUBTOTAL(102,A1:A5)", "i:3"},
                        {"=SUBTOTAL(103,A1:A5,B1)", "i:3"},
                        {"=SUBTOTAL(104,A1:A3)", "i:6"},
                        {"=SUBTOTAL(106,A2)", "i:0"},
                        {"=SUBTOTAL(107,A1:A3)", "n:2.82842712474619"},
                        {"=SUBTOTAL(9,A1:A3)", "i:12"},  // by hand: only 101-111 leave it out
                        {"=SUBTOTAL(9,A1:A5)", "e:#N/A"},
                        {"=AGGREGATE(9,5,A1:A5)", "i:18"},
                        {"=AGGREGATE(9,4,A1:A3)", "i:12"},
                        {"=AGGREGATE(9,3,A1:B5)", "i:18"},
                    });
}

// Where a filter hides rows, every SUBTOTAL code leaves them out: 1-11 only those, 101-111 the
// rows hidden by hand too. Row 2 is filtered out, row 4 hidden by hand.
TEST_F(HostAggregateFunctionTest, FilteredRowsAreLeftOutByEveryCode) {
  const std::string inputs = "A1: 2\nA2: 4\nA3: 6\nA4: 8\nA5: =NA()\nB1: =SUBTOTAL(9,A1:A2)\n";
  hiddenRows_ = {{0, 3}};
  filteredRows_ = {{0, 1}};
  expectAll(inputs, {
                        {"=SUBTOTAL(9,A1:A4)", "i:16"},
                        {"=SUBTOTAL(109,A1:A4)", "i:8"},
                        {"=SUBTOTAL(2,A1:A5)", "i:3"},
                        {"=SUBTOTAL(1,A1:A4,B1)", "n:5.33333333333333"},
                        {"=SUBTOTAL(10,A1:A4)", "n:9.33333333333333"},
                        {"=SUBTOTAL(3,A1:A5)", "i:4"},
                        {"=SUBTOTAL(4,A1:A4)", "i:8"},
                        {"=SUBTOTAL(9,A1:A5)", "e:#N/A"},
                        {"=SUBTOTAL(12,A1:A4)", "e:#VALUE!"},
                        {"=SUM(A1:A4)", "i:20"},
                    });
}

// AGGREGATE's codes over a column holding a nested SUBTOTAL, an AGGREGATE, a text and an error:
// options 0-3 leave out the nested totals, 2, 3, 6 and 7 the errors.
TEST_F(HostAggregateFunctionTest, AggregateCodesAndOptions) {
  expectAll(
      "A1: 2\nA2: 4\nA3: 6\nA4: =SUBTOTAL(9,A1:A3)\nA5: \"x\"\nA6: =AGGREGATE(9,4,A1:A3)\n"
      "B1: 1\nB2: =1/0\nB3: 3\nC1: 10\n",
      {
          {"=AGGREGATE(9,0,A1:A6)", "i:12"},       {"=AGGREGATE(9,4,A1:A6)", "i:36"},
          {"=AGGREGATE(9,4,A1:A3,C1)", "i:22"},    {"=AGGREGATE(1,5,A1:A3)", "i:4"},
          {"=AGGREGATE(2,1,A1:A6)", "i:3"},        {"=AGGREGATE(3,0,A1:A6)", "i:4"},
          {"=AGGREGATE(4,0,A1:A6)", "i:6"},        {"=AGGREGATE(7,0,A1:A3)", "i:2"},
          {"=AGGREGATE(12,0,A1:A3)", "i:4"},       {"=AGGREGATE(9,0,B1:B3)", "e:#DIV/0!"},
          {"=AGGREGATE(9,6,B1:B3)", "i:4"},        {"=AGGREGATE(14,6,B1:B3,1)", "i:3"},
          {"=AGGREGATE(15,4,A1:A3,2)", "i:4"},     {"=AGGREGATE(16,4,A1:A3,0.5)", "i:4"},
          {"=AGGREGATE(17,4,A1:A3,3)", "i:5"},     {"=AGGREGATE(18,4,A1:A3,0.5)", "i:4"},
          {"=AGGREGATE(19,4,A1:A3,2)", "i:4"},     {"=AGGREGATE(14,6,1/B1:B3,1)", "i:1"},
          {"=AGGREGATE(14,4,A1:A3)", "e:#VALUE!"},  // no k
          {"=AGGREGATE(20,4,A1:A3)", "e:#VALUE!"}, {"=AGGREGATE(9,8,A1:A3)", "e:#VALUE!"},
          {"=AGGREGATE(1,4,C2:C3)", "e:#DIV/0!"},  {"=AGGREGATE(5,4,C2:C3)", "i:0"},
      });
}

// PERCENTOF, SHEETS and RANDBETWEEN; the cube functions answer as without a connection.
TEST_F(HostAggregateFunctionTest, SharesSheetsDrawsAndCubes) {
  build("A1: 1\nB1: =_xlfn.SHEETS()\nB2: =_xlfn.SHEETS(Two!A1)\n[Two]\nA1: 1\n");
  EXPECT_EQ(valueOf("B1"), "i:2");
  EXPECT_EQ(valueOf("B2"), "i:1");
  expectAll("A1: 1\nA2: 3\nA3: \"x\"\n",
            {
                {"=_xlfn.PERCENTOF(A1,A1:A3)", "n:0.25"},
                {"=_xlfn.PERCENTOF(A1,C1)", "e:#DIV/0!"},
                {"=RANDBETWEEN(3.5,4)", "i:4"},
                {"=RANDBETWEEN(5,4)", "e:#NUM!"},
                {"=CUBEVALUE(\"Sales\",\"[Measures].[Total]\")", "e:#NAME?"},
            });
  EXPECT_EQ(headless_->notComputedLine(), "");
}

// FORMULATEXT shows the workbook's own text when the program has it (with its $ marks, without
// the prefixes files give newer functions), else the model's.
TEST_F(HostFunctionTest, FormulaTextShowsTheWorkbooksOwnText) {
  build(
      "A1: 1\nB1: =A1*2\nB2: =A1+1\nC1: =FORMULATEXT(B1)\nC2: =FORMULATEXT(B2)\n"
      "C3: =FORMULATEXT(A1)\n");
  EXPECT_EQ(valueOf("C1"), "t:=(A1*2)");  // the model renders its tree
  EXPECT_EQ(valueOf("C3"), "e:#N/A");
  headless_->setWorkbookFormula(cell("B1")->address, u"$A$1*2");
  headless_->setWorkbookFormula(cell("B2")->address, u"=_xlfn.CONCAT(A1)+_XLFN._XLWS.SORT(A1)");
  evaluateCell(*engine_, cell("C1"));
  evaluateCell(*engine_, cell("C2"));
  EXPECT_EQ(valueOf("C1"), "t:=$A$1*2");
  EXPECT_EQ(valueOf("C2"), "t:=CONCAT(A1)+SORT(A1)");
  // The texts lie one after another: one longer than 65,535 units keeps its length, one set
  // again replaces the first, and the others stay whole.
  const std::u16string longText = u"=" + std::u16string(70000, u'1');
  headless_->setWorkbookFormula(cell("B1")->address, longText);
  EXPECT_TRUE(headless_->workbookFormula(cell("B1")->address) == longText);
  EXPECT_TRUE(headless_->workbookFormula(cell("B2")->address) == u"=CONCAT(A1)+SORT(A1)");
  EXPECT_FALSE(headless_->workbookFormula(cell("A1")->address).has_value());
}

}  // namespace
}  // namespace korvel
