#include "tests/hosts/headless/functions/host_function_test_support.h"

namespace korvel {
namespace {

class HostMathFunctionTest : public HostFunctionTest {
 protected:
  void expectAll(const std::string& inputs, std::initializer_list<FormulaCase> cases) {
    for (const FormulaCase& c : cases) EXPECT_EQ(eval(inputs, c.formula), c.expected) << c.formula;
  }
};

// Quotients that binary doubles leave a hair off a whole number (4.3 / 0.1) round as the decimal
// numbers users see; the MATH forms ignore the significance's sign and turn negative numbers by
// their mode.
TEST_F(HostMathFunctionTest, RoundingToMultiples) {
  expectAll("", {
                    {"=CEILING.MATH(6.3)", "i:7"},
                    {"=CEILING.MATH(-5.5,2)", "i:-4"},
                    {"=CEILING.MATH(-5.5,2,-1)", "i:-6"},
                    {"=CEILING.MATH(5.5,-2)", "i:6"},
                    {"=CEILING.MATH(5,0)", "i:0"},
                    {"=FLOOR.MATH(-5.5,2)", "i:-6"},
                    {"=FLOOR.MATH(-5.5,2,1)", "i:-4"},
                    {"=FLOOR.MATH(4.3,0.1)", "n:4.3"},
                    {"=CEILING.PRECISE(-4.1,-2)", "i:-4"},
                    {"=ISO.CEILING(4.25,0.1)-4.3", "i:0"},
                    {"=FLOOR.PRECISE(-3.2)", "i:-4"},
                    {"=CEILING.MATH(\"x\")", "e:#VALUE!"},
                    {"=MROUND(10,3)", "i:9"},
                    {"=MROUND(2.675,0.01)", "n:2.68"},
                    {"=MROUND(-7.5,-5)", "i:-10"},
                    {"=MROUND(-7.5,5)", "e:#NUM!"},
                    {"=MROUND(5,0)", "i:0"},
                    {"=QUOTIENT(-7.8,2.3)", "i:-3"},
                    {"=QUOTIENT(10.0000000001,0.1)", "i:100"},
                    {"=QUOTIENT(3,0)", "e:#DIV/0!"},
                });
}

// The analysis functions refuse booleans and read a text that spells an error as a text.
TEST_F(HostMathFunctionTest, AnalysisFunctionsRefuseBooleans) {
  expectAll("A1: TRUE\nA2: =\"#REF!\"", {
                                            {"=MROUND(A1,2)", "e:#VALUE!"},
                                            {"=QUOTIENT(4,TRUE)", "e:#VALUE!"},
                                            {"=FACTDOUBLE(TRUE)", "e:#VALUE!"},
                                            {"=MROUND(A2,5)", "e:#VALUE!"},
                                            {"=MROUND(1/0,5)", "e:#DIV/0!"},
                                            {"=COMBINA(A1,3)", "i:1"},
                                        });
}

TEST_F(HostMathFunctionTest, GcdLcmAndMultinomial) {
  expectAll("A1: 10\nA2: 3\nA3: 6\nB1: \"8\"\nB2: TRUE\nB3: \"eight\"",
            {
                {"=GCD(A1,A3)", "i:2"},
                {"=LCM(A1,A2,A3)", "i:30"},
                {"=LCM(A1,C1)", "i:10"},  // a blank cell given directly is passed over
                {"=LCM(C1,C2)", "e:#VALUE!"},
                {"=GCD(,5)", "e:#N/A"},
                {"=LCM(C1:C2)", "i:0"},  // blanks of a range count as 0
                {"=GCD(B1,12)", "i:4"},
                {"=LCM(\"2024-01-10\",1)", "i:45301"},
                {"=GCD(B2,12)", "e:#VALUE!"},
                {"=GCD(B3,12)", "e:#VALUE!"},
                {"=GCD({4,\"8\",12})", "i:4"},
                {"=LCM({4,TRUE,12})", "e:#VALUE!"},
                {"=GCD(7.9,4.9)", "i:1"},
                {"=GCD(-0.5,2)", "e:#NUM!"},
                {"=LCM(2147483647,1073741823,2)", "e:#NUM!"},
                {"=GCD(0,0)", "i:0"},
                {"=GCD(1E+100,5)", "e:#NUM!"},
                {"=MULTINOMIAL(1,2,3)", "i:60"},
                {"=MULTINOMIAL(1.7,1.2,3.4,2.3)", "i:420"},
                {"=MULTINOMIAL(-1,2)", "e:#NUM!"},
                {"=MULTINOMIAL(TRUE,1)", "e:#VALUE!"},
                {"=MULTINOMIAL(100,71)", "e:#NUM!"},
            });
}

TEST_F(HostMathFunctionTest, CountingFunctions) {
  expectAll("", {
                    {"=FACTDOUBLE(7)", "i:105"},
                    {"=FACTDOUBLE(4.5)", "i:8"},
                    {"=FACTDOUBLE(-1)", "i:1"},
                    {"=FACTDOUBLE(-2)", "e:#NUM!"},
                    {"=FACTDOUBLE(400)", "e:#NUM!"},
                    {"=COMBINA(5,2)", "i:15"},
                    {"=COMBINA(3,10)", "i:66"},
                    {"=COMBINA(0,0)", "i:1"},
                    {"=COMBINA(0,5)", "e:#NUM!"},
                    {"=COMBINA(-1,2)", "e:#NUM!"},
                    {"=PERMUT(5,2)", "i:20"},
                    {"=PERMUT(2,5)", "e:#NUM!"},
                    {"=PERMUT(1000,500)", "e:#NUM!"},
                    {"=PERMUTATIONA(3,2)", "i:9"},
                    {"=PERMUTATIONA(-3,2)", "e:#NUM!"},
                });
}

TEST_F(HostMathFunctionTest, SeriesAndSumsOfSquares) {
  expectAll("A1: 1\nA2: 3\nA3: 3\nA4: \"x\"\nA5: TRUE\nB1: 4\nB2: 5\nB3: 6\nC1: =1/0\nD1: 2\nD2: 1",
            {
                {"=SERIESSUM(2,0,1,{1,2,3})", "i:17"},
                {"=SERIESSUM(0.5,1,2,{2,2,2})", "n:1.3125"},
                {"=SERIESSUM(3,1,1,D1:D2)", "i:15"},
                {"=SERIESSUM(0,0,2,{1,2,3})", "e:#NUM!"},
                {"=SERIESSUM(TRUE,0,1,{1})", "e:#VALUE!"},
                {"=SUMSQ(\"2\",\"3\",4)", "i:29"},
                {"=SUMSQ(TRUE,TRUE,FALSE)", "i:2"},
                {"=SUMSQ(A1:A5,2)", "i:23"},  // the text and the boolean of the range are skipped
                {"=SUMSQ(\"x\")", "e:#VALUE!"},
                {"=SUMSQ(A1:C1)", "e:#DIV/0!"},
                {"=SUMX2MY2(A1:A3,{1,2,3})", "i:5"},
                {"=SUMX2PY2(A1:A3,B1:B3)", "i:96"},
                {"=SUMXMY2(A1:A4,B1:B4)", "i:22"},  // the pair with a text is skipped
                {"=SUMXMY2(A1:A3,B1:B2)", "e:#N/A"},
                {"=SUMXMY2(C1,2)", "e:#DIV/0!"},
                {"=SUMX2PY2(A4:A5,B1:B2)", "e:#DIV/0!"},  // not one pair of numbers
                {"=SUMX2PY2(A1:A3,{4,5,6})", "i:96"},     // a column pairs with a row
            });
}

TEST_F(HostMathFunctionTest, ReciprocalTrigonometry) {
  expectAll("", {
                    {"=SEC(0)", "i:1"},
                    {"=CSC(PI()/2)", "i:1"},
                    {"=COT(0)", "e:#DIV/0!"},
                    {"=CSCH(0)", "e:#DIV/0!"},
                    {"=COTH(0)", "e:#DIV/0!"},
                    {"=SECH(0)", "i:1"},
                    {"=SEC(134217728)", "e:#NUM!"},
                    {"=ROUND(ACOT(1)*4,12)", "n:3.14159265359"},
                    {"=ROUND(ACOTH(3),12)", "n:0.34657359028"},
                    {"=ACOTH(1)", "e:#NUM!"},
                    {"=ACOTH(-0.5)", "e:#NUM!"},
                });
}

// The array results are read from the anchor of an array formula.
TEST_F(HostMathFunctionTest, Matrices) {
  const std::string inputs = "A1: 4\nB1: 7\nA2: 2\nB2: 6\nA3: 1\nB3: \"x\"\n";
  struct {
    const char* formula;
    const char* expected;
  } cases[] = {
      {"{=MINVERSE(A1:B2)}", "a:{0.6,-0.7;-0.2,0.4}"},
      {"{=MINVERSE({1,2;2,4})}", "e:#NUM!"},
      {"{=MINVERSE(A1:B3)}", "e:#VALUE!"},
      {"{=MMULT(A1:B2,{1;2})}", "a:{18;14}"},
      {"{=MMULT({1,2,3},{1;1;1})}", "a:{6}"},
      {"{=MMULT(A1:B2,A1:B1)}", "e:#VALUE!"},
      {"{=MMULT(A2:B3,A1:B2)}", "e:#VALUE!"},
      {"{=MUNIT(2)}", "a:{1,0;0,1}"},
      {"{=MUNIT(0)}", "e:#VALUE!"},
      {"{=MDETERM(A1:B2)}", "i:10"},
      {"{=MDETERM({0,1;1,0})}", "i:-1"},
      {"{=MDETERM({1,2;2,4})}", "i:0"},
      {"{=MDETERM(A1:B3)}", "e:#VALUE!"},
      {"{=MDETERM(A2:B3)}", "e:#VALUE!"},
  };
  for (const auto& c : cases) {
    build(inputs + "Z100:AB102: " + c.formula + "\n");
    EXPECT_EQ(valueOf("Z100"), c.expected) << c.formula;
  }
}

TEST_F(HostMathFunctionTest, RomanNumerals) {
  expectAll("", {
                    {"=ROMAN(499)", "t:CDXCIX"},
                    {"=ROMAN(499,1)", "t:LDVLIV"},
                    {"=ROMAN(499,2)", "t:XDIX"},
                    {"=ROMAN(499,3)", "t:VDIV"},
                    {"=ROMAN(499,4)", "t:ID"},
                    {"=ROMAN(499,FALSE)", "t:ID"},
                    {"=ROMAN(1999,TRUE)", "t:MCMXCIX"},
                    {"=ROMAN(3999)", "t:MMMCMXCIX"},
                    {"=ROMAN(0)", "t:"},
                    {"=ROMAN(4000)", "e:#VALUE!"},
                    {"=ROMAN(-1)", "e:#VALUE!"},
                    {"=ROMAN(10,5)", "e:#VALUE!"},
                    {"=ARABIC(\"mcmxii\")", "i:1912"},
                    {"=ARABIC(\" LDVLIV \")", "i:499"},
                    {"=ARABIC(\"-XIV\")", "i:-14"},
                    {"=ARABIC(\"\")", "i:0"},
                    {"=ARABIC(\"XIZ\")", "e:#VALUE!"},
                    {"=ARABIC(12)", "e:#VALUE!"},
                });
}

TEST_F(HostMathFunctionTest, NumberBases) {
  expectAll("", {
                    {"=BASE(16,8,4)", "t:0020"},
                    {"=BASE(123456789,36)", "t:21I3V9"},
                    {"=BASE(12.567,2)", "t:1100"},
                    {"=BASE(0,2)", "t:0"},
                    {"=BASE(-1,2)", "e:#NUM!"},
                    {"=BASE(5,37)", "e:#NUM!"},
                    {"=BASE(5,2,256)", "e:#NUM!"},
                    {"=DECIMAL(\"ff\",16)", "i:255"},
                    {"=DECIMAL(101,2)", "i:5"},
                    {"=DECIMAL(\"21I3V9\",36)", "i:123456789"},
                    {"=DECIMAL(\"12\",2)", "e:#NUM!"},
                    {"=DECIMAL(\"1\",1)", "e:#NUM!"},
                });
}

}  // namespace
}  // namespace korvel
