// The statistical functions: the normal distribution and its inverse against reference values,
// the dispersion functions over their kinds of arguments, order statistics, MODE, RANK with its
// cache, FREQUENCY's shape and LINEST's hand-over to the host program.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "function_test_support.h"

namespace korvel {
namespace {

class StatisticalFunctions : public FunctionTest {
 protected:
  // The formula's number in Z100, or NaN when the cell holds no number.
  double number(const std::string& inputs, const std::string& formula) {
    build(inputs + "\nZ100: " + formula + "\n");
    Cell* c = cell("Z100");
    if (!c || !c->value || !c->value->isNumeric()) return std::nan("");
    return c->value->number();
  }
  void expectCases(const std::string& inputs, const std::vector<FormulaCase>& cases) {
    for (const FormulaCase& c : cases) EXPECT_EQ(eval(inputs, c.formula), c.expected) << c.formula;
  }
};

struct NumberCase {
  const char* formula;
  double expected;
};

TEST_F(StatisticalFunctions, NormalIntegralInEveryBranchAndTail) {
  // Reference values of the standard normal distribution, to 15 digits or better.
  const NumberCase cases[] = {
      {"=NORMSDIST(0.5)", 0.691462461274013},    // series below 1
      {"=NORMSDIST(0.99)", 0.838912940489163},   // series near its end
      {"=NORMSDIST(1)", 0.841344746068543},      // middle table
      {"=NORMSDIST(2)", 0.9772498680518208},     //
      {"=NORMSDIST(2.5)", 0.993790334674224},    //
      {"=NORMSDIST(3.5)", 0.999767370920964},    // high table
      {"=NORMSDIST(4.5)", 0.999996602326875},    //
      {"=NORMSDIST(6)", 0.9999999990134001},     // asymptotic tail
      {"=NORMSDIST(-2)", 0.02275013194817921},   // negative side
      {"=NORMSDIST(-0.99)", 0.161087059510837},  //
      {"=NORMSDIST(-40)", 0},                    // far tails
      {"=NORMSDIST(40)", 1},
  };
  for (const NumberCase& c : cases) {
    EXPECT_NEAR(number("", c.formula), c.expected, 2e-15) << c.formula;
  }
  EXPECT_EQ(eval("", "=NORMSDIST(0)"), "n:0.5");
  EXPECT_EQ(eval("A1: \"1\"", "=NORMSDIST(A1)"), "n:0.841344746068543");
  expectCases("A1: \"abc\"\nA2: #N/A", {{"=NORMSDIST(A1)", "e:#VALUE!"},
                                        {"=NORMSDIST(A2)", "e:#N/A"},
                                        {"=NORMSDIST(TRUE)", "n:0.841344746068543"}});
}

TEST_F(StatisticalFunctions, InverseNormalInEveryRegion) {
  const NumberCase cases[] = {
      {"=NORMSINV(0.5)", 0},
      {"=NORMSINV(0.975)", 1.9599639845400539},      // central region
      {"=NORMSINV(0.025)", -1.9599639845400542},     //
      {"=NORMSINV(0.99)", 2.326347874040841},        // near tail
      {"=NORMSINV(0.001)", -3.0902323061678135},     //
      {"=NORMSINV(1E-20)", -9.262340089798408},      // far tail
      {"=NORMSINV(1-1E-12)", 7.034486910047835},     //
      {"=NORMINV(0.975,10,2)", 13.919927969080108},  // mean + sd * quantile
      {"=NORMINV(0.5,10,2)", 10},
  };
  for (const NumberCase& c : cases) {
    EXPECT_NEAR(number("", c.formula), c.expected, 1e-14 * std::max(1.0, std::fabs(c.expected)))
        << c.formula;
  }
  expectCases("A1: \"x\"", {{"=NORMSINV(0)", "e:#NUM!"},
                            {"=NORMSINV(1)", "e:#NUM!"},
                            {"=NORMSINV(1.5)", "e:#NUM!"},
                            {"=NORMSINV(-0.1)", "e:#NUM!"},
                            {"=NORMSINV(A1)", "e:#VALUE!"},
                            {"=NORMINV(0.5,10,0)", "e:#NUM!"},
                            {"=NORMINV(0.5,10,-1)", "e:#NUM!"},
                            {"=NORMINV(1.2,10,1)", "e:#NUM!"},
                            {"=NORMINV(0,10,1)", "e:#NUM!"},
                            {"=NORMINV(0.5,A1,1)", "e:#VALUE!"}});
}

TEST_F(StatisticalFunctions, DispersionOverReferencesArgumentsAndArrays) {
  // A1:A5 hold 2, 4, TRUE, a text and an empty cell (A5 is never written).
  const std::string inputs = "A1: 2\nA2: 4\nA3: TRUE\nA4: \"abc\"\nA6: 6\nB1: #DIV/0!\n";
  const NumberCase cases[] = {
      {"=VAR(1,2,3,4)", 1.6666666666666667},
      {"=VARP(1,2,3,4)", 1.25},
      {"=STDEV(1,2,3,4)", 1.2909944487358056},
      {"=STDEVP(1,2,3,4)", 1.118033988749895},
      {"=VAR(A1:A6)", 4.0},        // 2, 4, 6: texts, booleans, empties passed over
      {"=VARA(A1:A4)", 8.75 / 3},  // 2, 4, TRUE as 1, text as 0: mean 1.75
      {"=VARPA(A1:A4)", 2.1875},
      {"=STDEVA(A1:A4)", 1.707825127659933},
      {"=STDEVPA(A1:A4)", 1.479019945774904},
      {"=VARA(2,4,TRUE,\"0\")", 8.75 / 3},  // given directly, booleans and numeric texts
      {"=VAR(2,4,TRUE,\"0\")", 8.75 / 3},   // count in every form
      {"=STDEV(TRUE,FALSE,TRUE)", 0.57735026918962573},
      {"=VARA({2,4,TRUE,\"x\"})", 2.0},  // inside arrays they never count
      {"=VAR(A1:A2,{6,8})", 6.666666666666667},
      {"=VAR((A1:A2,A6))", 4.0},
      {"=STDEVP(5)", 0},
  };
  for (const NumberCase& c : cases) {
    EXPECT_NEAR(number(inputs, c.formula), c.expected, 1e-14) << c.formula;
  }
  expectCases(inputs, {{"=STDEV(5)", "e:#DIV/0!"},
                       {"=VAR(2,4,\"x\")", "e:#VALUE!"},  // another text given directly
                       {"=MEDIAN(\"2\",2)", "i:2"},
                       {"=MEDIAN(\"x\",2)", "e:#VALUE!"},
                       {"=SMALL(TRUE,1)", "i:1"},
                       {"=LARGE(\"2.3\",1)", "n:2.3"},
                       {"=VAR(A4)", "e:#DIV/0!"},
                       {"=VARP(A4:A5)", "e:#DIV/0!"},
                       {"=STDEVA(A4)", "e:#DIV/0!"},
                       {"=STDEVPA(A4)", "i:0"},
                       {"=STDEV(A1:B2)", "e:#DIV/0!"},  // the error in the range ends the call
                       {"=VAR(1,2,{3,#N/A})", "e:#N/A"},
                       {"=VARP(1,\"#REF!\")", "t:#REF!"}});
}

TEST_F(StatisticalFunctions, MedianSmallLarge) {
  const std::string inputs = "A1: 5\nA2: 1\nA3: 3\nA4: \"t\"\nB1: \"x\"\nB2: TRUE\nC1: 7\nC2: #N/A";
  expectCases(inputs, {{"=MEDIAN(1,2,3,4)", "n:2.5"},
                       {"=MEDIAN(3,1,2)", "i:2"},
                       {"=MEDIAN(A1:A4)", "i:3"},
                       {"=MEDIAN(A1:A3,TRUE)", "i:2"},
                       {"=MEDIAN(A1,B2)", "i:5"},  // a single cell counts only a number
                       {"=MEDIAN(B1:B2)", "e:#NUM!"},
                       {"=MEDIAN(1,\"x\")", "e:#VALUE!"},
                       {"=MEDIAN(C1:C2)", "e:#N/A"},
                       {"=SMALL(A1:A4,2)", "i:3"},
                       {"=LARGE(A1:A4,1)", "i:5"},
                       {"=LARGE({4,9,2},3)", "i:2"},
                       {"=SMALL(A1:A3,2.5)", "e:#NUM!"},
                       {"=SMALL(A1:A3,0)", "e:#NUM!"},
                       {"=SMALL(A1:A3,4)", "e:#NUM!"},
                       {"=SMALL(A1:A4,4)", "e:#NUM!"},  // four cells but three numbers
                       {"=SMALL(A1:A3,\"k\")", "e:#VALUE!"},
                       {"=SMALL(A1:A3,\"2\")", "i:3"},
                       {"=SMALL(7,1)", "i:7"},
                       {"=SMALL(7,2)", "e:#NUM!"},
                       {"=SMALL(B2,1)", "e:#NUM!"},
                       {"=SMALL(\"abc\",1)", "e:#VALUE!"},
                       {"=SMALL(C1:C2,1)", "e:#N/A"}});
}

TEST_F(StatisticalFunctions, ModeTiesAndMissingRepeats) {
  const std::string inputs = "A1: 3\nA2: -2\nA3: 3\nA4: 2\nA5: -2\nA6: \"x\"\nB1: #N/A\nB2: 1";
  expectCases(inputs, {{"=MODE(1,2,2,3)", "i:2"},
                       {"=MODE(5,5,-1,-1)", "i:-1"},   // equal counts: smaller magnitude
                       {"=MODE(A1:A6)", "i:-2"},       // -2 and 3 twice: -2 wins
                       {"=MODE(A1:A6,2)", "i:-2"},     // -2, 2 and 3 twice: of -2 and 2 the smaller
                       {"=MODE(A1:A6,3)", "i:3"},      // counted most often
                       {"=MODE(2.5,2.5,3)", "n:2.5"},  // the winner as it stands
                       {"=MODE({1,2,\"a\",2})", "i:2"},
                       {"=MODE(1,2,3)", "e:#N/A"},
                       {"=MODE(A6)", "e:#VALUE!"},
                       {"=MODE(1,TRUE,1)", "e:#VALUE!"},
                       {"=MODE(B1:B2)", "e:#N/A"}});
}

TEST_F(StatisticalFunctions, RankOrdersTiesAndMisses) {
  const std::string inputs = "A1: 7\nA2: 3\nA3: 7\nA4: 1\nA5: \"x\"\nB1: 0\nB2: #REF!";
  expectCases(inputs, {{"=RANK(7,A1:A5)", "i:1"},
                       {"=RANK(3,A1:A5)", "i:3"},
                       {"=RANK(1,A1:A5)", "i:4"},
                       {"=RANK(7,A1:A5,1)", "i:3"},
                       {"=RANK(1,A1:A5,TRUE)", "i:1"},
                       {"=RANK(3,A1:A5,0)", "i:3"},
                       {"=RANK(A2,{1,3,5})", "i:2"},
                       {"=RANK(4,A1:A5)", "e:#N/A"},
                       {"=RANK(FALSE,B1:B1)", "i:1"},
                       {"=RANK(TRUE,A1:A5)", "e:#N/A"},
                       {"=RANK(\"x\",A1:A5)", "e:#VALUE!"},
                       {"=RANK(7,5)", "e:#VALUE!"},
                       {"=RANK(7,A1:A5,\"up\")", "e:#VALUE!"},
                       {"=RANK(0,B1:B2)", "e:#REF!"}});
}

TEST_F(StatisticalFunctions, RankCacheAnswersAsAFreshCount) {
  build(
      "A1: 3\nA2: 1\nA3: 3\nA4: 2\n"
      "B1: =RANK(A1,A1:A4)\nB2: =RANK(A2,A1:A4,1)\nB3: =RANK(9,A1:A4)\nB4: =RANK(5,A1:A4)\n"
      "B5: =RANK(3,A1:A4,1)\n");
  EXPECT_EQ(valueOf("B1"), "i:1");
  // A full calculation after an edit must not answer from what an earlier one read.
  cell("A4")->ensureValue() = Value::integer(9);
  engine_->recalculation().computeAll();
  EXPECT_EQ(valueOf("B1"), "i:2");
  EXPECT_EQ(valueOf("B3"), "i:1");
  EXPECT_EQ(valueOf("B5"), "i:2");
  // A changed-cells recalculation ranks every cell from one cached reading of A1:A4: each number
  // and order must still come out as its own count.
  Cell* a2 = cell("A2");
  a2->ensureValue() = Value::integer(4);
  host_.workbookCells[{a2->address.rowWord, a2->address.columnWord}] = Value::integer(4);
  engine_->recalculation().recalculateChanged({a2}, false);
  EXPECT_EQ(valueOf("B1"), "i:3");  // 3, 4, 3, 9
  EXPECT_EQ(valueOf("B2"), "i:3");
  EXPECT_EQ(valueOf("B3"), "i:1");
  EXPECT_EQ(valueOf("B4"), "e:#N/A");
  EXPECT_EQ(valueOf("B5"), "i:1");
  EXPECT_EQ(engine_->searchCaches[kRankCacheSlot], nullptr);  // emptied after the recalculation
}

TEST_F(StatisticalFunctions, FrequencyShape) {
  const std::string inputs =
      "A1: 1\nA2: 2\nA3: 2\nA4: 5\nA5: 9\nA6: \"x\"\nB1: 2\nB2: 5\nB3: #N/A\nB4: 2\nC1: \"q\"";
  build(inputs + "\nD1:D5: {=FREQUENCY(A1:A6,B1:B4)}\nE1:E2: {=FREQUENCY(A1:A6,C1)}\n");
  // Bins 2, 5 and 2 again (the error passed over): a row each and the overflow. The anchor holds
  // the whole array; a cell below it shows nothing.
  EXPECT_EQ(valueOf("D1"), "a:{3;1;3;1}");
  EXPECT_EQ(valueOf("D5"), "e:#N/A");
  // No bin number: one bin of 0.
  EXPECT_EQ(valueOf("E1"), "a:{0;5}");
  EXPECT_EQ(evalReference("", "=FREQUENCY({1,4,6},{3,5})"), "a:{1;1;1}");
  expectCases(inputs, {{"=FREQUENCY(B3,B1:B2)", "e:#N/A"},
                       {"=FREQUENCY(A1:B4,B1:B2)", "e:#N/A"},
                       {"=FREQUENCY(,B1:B2)", "e:#VALUE!"},
                       {"=FREQUENCY(A1:A6,)", "e:#VALUE!"}});
}

TEST_F(StatisticalFunctions, LinestGoesToTheHostWithDefaults) {
  build("A1: 1\nA2: 2\nB1: 3\nB2: 5\nZ100: =LINEST(B1:B2,A1:A2)\n");
  host_.functionAnswer = Value::number(2.5);
  host_.functionCalls.clear();
  engine_->recalculation().computeAll();
  EXPECT_EQ(valueOf("Z100"), "n:2.5");
  ASSERT_EQ(host_.functionCalls.size(), 1u);
  const auto& call = host_.functionCalls[0];
  EXPECT_EQ(call.number, 49);
  EXPECT_EQ(call.count, 4);
  ASSERT_EQ(call.arguments.size(), 4u);
  EXPECT_EQ(show(call.arguments[0]), "r:B1:B2");
  EXPECT_EQ(show(call.arguments[1]), "r:A1:A2");
  EXPECT_EQ(show(call.arguments[2]), "b:TRUE");
  EXPECT_EQ(show(call.arguments[3]), "b:FALSE");

  eval("B1: 3\nB2: 5", "=LINEST(B1:B2,,FALSE,TRUE)");
  ASSERT_EQ(host_.functionCalls.size(), 1u);
  EXPECT_EQ(show(host_.functionCalls[0].arguments[1]), "-");
  EXPECT_EQ(show(host_.functionCalls[0].arguments[2]), "b:FALSE");
  EXPECT_EQ(show(host_.functionCalls[0].arguments[3]), "b:TRUE");

  EXPECT_EQ(eval("B1: #DIV/0!", "=LINEST(B1)"), "e:#DIV/0!");
  EXPECT_TRUE(host_.functionCalls.empty());
}

}  // namespace
}  // namespace korvel
