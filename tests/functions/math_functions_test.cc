// Math and rounding functions: their main paths, domain errors, sign rules and the handling of
// the representation error of doubles that users read as decimals.
#include <gtest/gtest.h>

#include <cmath>

#include "function_test_support.h"
#include "functions/random_source.h"

namespace korvel {
namespace {

class MathFunctions : public FunctionTest {
 protected:
  // Each formula in its own workbook over the same inputs.
  void expectAll(const std::string& inputs, std::initializer_list<FormulaCase> cases) {
    for (const FormulaCase& c : cases) {
      EXPECT_EQ(eval(inputs, c.formula), c.expected) << c.formula;
    }
  }

  // The formula's value as a double, for results that only an approximation can state.
  double number(const std::string& formula) {
    build("Z100: " + formula + "\n");
    const Cell* c = cell("Z100");
    if (c == nullptr || c->value == nullptr || !c->value->isNumeric()) {
      ADD_FAILURE() << formula << " gives " << valueOf("Z100");
      return NAN;
    }
    return c->value->number();
  }
};

// Inputs the error cases refer to: an error, an error text, a non-number text, a number text.
constexpr const char* kInputs =
    "A1: #N/A\nA2: \"#DIV/0!\"\nA3: \"abc\"\nA4: \"12\"\nA5: TRUE\nA6: -4\nA7: 3.5";

TEST_F(MathFunctions, RoundRoundsHalfAwayFromZeroAtAnyPosition) {
  expectAll("A1: 4503599627370497", {
                                        {"=ROUND(2.5,0)", "i:3"},
                                        {"=ROUND(-2.5,0)", "i:-3"},
                                        {"=ROUND(2.4,0)", "i:2"},
                                        {"=ROUND(1234.5678,-2)", "i:1200"},
                                        {"=ROUND(-1250,-2)", "i:-1300"},
                                        {"=ROUND(1234.5678,2)", "n:1234.57"},
                                        {"=ROUND(3.14159,2.9)", "n:3.14"},
                                        {"=ROUND(0.125,2)", "n:0.13"},
                                        {"=ROUND(2.5,400)", "n:2.5"},
                                        {"=ROUND(2.5,10000000000)", "n:2.5"},
                                        {"=ROUND(123,-400)", "i:0"},
                                        {"=ROUND(-0.4,0)", "i:0"},
                                        {"=ROUND(3000000000.4,0)", "n:3000000000"},
                                        // 2^52 + 1: adding a half before the floor would round
                                        // it up to the next even number.
                                        {"=ROUND(A1,0)-A1", "i:0"},
                                        {"=ROUND(0.49999999999999994,0)", "i:0"},
                                        {"=ROUND(1E+300,300)", "n:1E+300"},
                                    });
  // 1.005 is stored a little below 1.005, and ROUND rounds what is stored.
  EXPECT_EQ(eval("", "=ROUND(1.005,2)"), "i:1");
}

TEST_F(MathFunctions, RoundDownAndUpAbsorbTheRepresentationError) {
  expectAll("", {
                    {"=ROUNDDOWN(4.35,2)", "n:4.35"},
                    {"=ROUNDDOWN(0.29*100,0)", "i:29"},
                    {"=ROUNDDOWN(3.99,0)", "i:3"},
                    {"=ROUNDDOWN(-3.99,1)", "n:-3.9"},
                    {"=ROUNDDOWN(1299,-2)", "i:1200"},
                    {"=ROUNDDOWN(-1299,-2)", "i:-1200"},
                    {"=ROUNDDOWN(5,-400)", "i:0"},
                    {"=ROUNDDOWN(2.5,400)", "n:2.5"},
                    {"=ROUNDDOWN(1E+300,300)", "n:1E+300"},
                    {"=ROUNDUP(1.1,1)", "n:1.1"},
                    {"=ROUNDUP(4.35,2)", "n:4.35"},
                    {"=ROUNDUP(3.001,0)", "i:4"},
                    {"=ROUNDUP(-3.001,0)", "i:-4"},
                    {"=ROUNDUP(3,0)", "i:3"},
                    {"=ROUNDUP(1201,-2)", "i:1300"},
                    {"=ROUNDUP(-1201,-2)", "i:-1300"},
                    {"=ROUNDUP(2.5,400)", "n:2.5"},
                    {"=ROUNDUP(2.5,-400)", "e:#NUM!"},
                    {"=TRUNC(8.9)", "i:8"},
                    {"=TRUNC(-8.9)", "i:-8"},
                    {"=TRUNC(3.14159,2)", "n:3.14"},
                    {"=TRUNC(1299,-2)", "i:1200"},
                    {"=TRUNC(2.5,400)", "n:2.5"},
                    {"=TRUNC(2.5,-400)", "i:0"},
                    {"=TRUNC(2.5,\"x\")", "e:#VALUE!"},
                });
}

TEST_F(MathFunctions, IntModAndSign) {
  expectAll("", {
                    {"=INT(2.9999999999995)", "i:3"},
                    {"=INT(-0.5)", "i:-1"},
                    {"=INT(7.9)", "i:7"},
                    {"=INT(3000000000.5)", "n:3000000000"},
                    {"=MOD(10,3)", "i:1"},
                    {"=MOD(-10,3)", "i:2"},
                    {"=MOD(10,-3)", "i:-2"},
                    {"=MOD(-10,-3)", "i:-1"},
                    {"=MOD(10,0)", "e:#DIV/0!"},
                    {"=MOD(10000000000,3)", "i:1"},
                    {"=MOD(5.5,2)", "n:1.5"},
                    {"=SIGN(-2.5)", "i:-1"},
                    {"=SIGN(0)", "i:0"},
                    {"=SIGN(7)", "i:1"},
                    {"=ABS(-2.5)", "n:2.5"},
                });
}

TEST_F(MathFunctions, ModKeepsTheRemainderThatTheQuotientInDoubleRoundsAway) {
  // 5 / 1e-10 rounds to 5e10 in double, but the double nearest 1e-10 lies above 1e-10, so the
  // exact quotient is just below 5e10 and one divisor, less a little, remains.
  EXPECT_DOUBLE_EQ(number("=MOD(5,1E-10)"), 9.9999817839013426e-11);
  EXPECT_DOUBLE_EQ(number("=MOD(-5,1E-10)"), 1e-10 - 9.9999817839013426e-11);
}

TEST_F(MathFunctions, CeilingAndFloorFollowTheSignsOfNumberAndSignificance) {
  expectAll("", {
                    {"=CEILING(2.5,1)", "i:3"},
                    {"=CEILING(2.5,-1)", "e:#NUM!"},
                    {"=CEILING(-2.5)", "i:-3"},
                    {"=CEILING(-2.5,-1)", "i:-3"},
                    {"=CEILING(-2.5,2)", "i:-2"},
                    {"=CEILING(-4,4)", "i:-4"},
                    {"=CEILING(0,5)", "i:0"},
                    {"=CEILING(7,0)", "i:0"},
                    {"=CEILING(1.1,0.1)", "n:1.1"},
                    {"=CEILING(23,5)", "i:25"},
                    {"=FLOOR(2.5,1)", "i:2"},
                    {"=FLOOR(2.5,-1)", "e:#NUM!"},
                    {"=FLOOR(-2.5)", "i:-2"},
                    {"=FLOOR(-2.5,2)", "i:-4"},
                    {"=FLOOR(-2.5,-2)", "i:-2"},
                    {"=FLOOR(0.7,0.1)", "n:0.7"},
                    {"=FLOOR(23,5)", "i:20"},
                    {"=FLOOR(7,0)", "e:#DIV/0!"},
                    {"=FLOOR(-7,FALSE)", "e:#DIV/0!"},
                    {"=FLOOR(0,0)", "i:0"},
                    {"=FLOOR(1.2,1,2)", "e:#VALUE!"},
                    {"=CEILING(1.2,1,2)", "e:#VALUE!"},
                    // Date texts read as their serials; other texts are no numbers.
                    {"=FLOOR(\"2024-01-10\",7)", "i:45297"},
                    {"=CEILING(100000,\"2024-01-10\")", "i:135903"},
                    {"=FLOOR(\"x\",1)", "e:#VALUE!"},
                });
}

TEST_F(MathFunctions, EvenOddAndParityTests) {
  expectAll(kInputs, {
                         {"=EVEN(0)", "i:0"},
                         {"=ODD(0)", "i:1"},
                         {"=EVEN(-1.5)", "i:-2"},
                         {"=EVEN(3)", "i:4"},
                         {"=EVEN(2)", "i:2"},
                         {"=ODD(-2)", "i:-3"},
                         {"=ODD(1.5)", "i:3"},
                         {"=ODD(-1)", "i:-1"},
                         {"=ISEVEN(A6)", "b:TRUE"},
                         {"=ISODD(A7)", "b:TRUE"},
                         {"=ISEVEN(-3.9)", "b:FALSE"},
                         {"=ISEVEN(B9)", "b:TRUE"},
                         {"=ISEVEN(A4)", "b:TRUE"},
                         {"=ISODD(A5)", "e:#VALUE!"},
                         {"=ISODD(A3)", "e:#VALUE!"},
                         {"=ISODD(A6:A7)", "e:#VALUE!"},
                         {"=ISEVEN(A1)", "e:#N/A"},
                         {"=ISEVEN(A2)", "t:#DIV/0!"},
                     });
}

TEST_F(MathFunctions, PowersLogarithmsFactorialsAndCombinations) {
  expectAll("", {
                    {"=POWER(2,10)", "i:1024"},
                    {"=POWER(4,0.5)", "i:2"},
                    {"=POWER(0,0)", "e:#NUM!"},
                    {"=POWER(0,-1)", "e:#DIV/0!"},
                    {"=POWER(-8,1/3)", "e:#NUM!"},
                    {"=POWER(10,400)", "e:#NUM!"},
                    {"=SQRT(16)", "i:4"},
                    {"=SQRT(-1)", "e:#NUM!"},
                    {"=SQRTPI(-1)", "e:#NUM!"},
                    {"=SQRTPI(\"x\")", "e:#VALUE!"},
                    {"=LN(0)", "e:#NUM!"},
                    {"=LN(1)", "i:0"},
                    {"=LOG10(1000)", "i:3"},
                    {"=LOG10(-1)", "e:#NUM!"},
                    {"=LOG(1000)", "i:3"},
                    {"=LOG(8,2)", "i:3"},
                    {"=LOG(125,5)", "i:3"},
                    {"=LOG(8,1)", "e:#DIV/0!"},
                    {"=LOG(8,0)", "e:#NUM!"},
                    {"=LOG(0,2)", "e:#NUM!"},
                    {"=EXP(0)", "i:1"},
                    {"=EXP(1000)", "e:#NUM!"},
                    {"=FACT(5)", "i:120"},
                    {"=FACT(5.9)", "i:120"},
                    {"=FACT(0)", "i:1"},
                    {"=FACT(13)", "n:6227020800"},
                    {"=FACT(-1)", "e:#NUM!"},
                    {"=FACT(171)", "e:#NUM!"},
                    {"=COMBIN(5,2)", "i:10"},
                    {"=COMBIN(5.9,2.9)", "i:10"},
                    {"=COMBIN(40,20)", "n:137846528820"},
                    {"=COMBIN(5,0)", "i:1"},
                    {"=COMBIN(5,6)", "e:#NUM!"},
                    {"=COMBIN(-1,0)", "e:#NUM!"},
                    {"=COMBIN(5,-1)", "e:#NUM!"},
                    {"=COMBIN(100000,50000)", "e:#NUM!"},
                });
  EXPECT_NEAR(number("=FACT(170)"), 7.257415615307994e306, 1e293);
  EXPECT_DOUBLE_EQ(number("=COMBIN(60,30)"), 118264581564861424.0);
  EXPECT_NEAR(number("=SQRTPI(2)"), 2.5066282746310002, 1e-15);
  EXPECT_NEAR(number("=LOG(10,2)"), 3.321928094887362, 1e-15);
  EXPECT_NEAR(number("=LN(10)"), 2.302585092994046, 1e-15);
}

TEST_F(MathFunctions, TrigonometricAndHyperbolicFunctions) {
  expectAll("", {
                    {"=ASIN(2)", "e:#NUM!"},
                    {"=ACOS(-1.5)", "e:#NUM!"},
                    {"=ACOS(2)", "e:#NUM!"},
                    {"=ACOSH(0.5)", "e:#NUM!"},
                    {"=ATANH(1)", "e:#NUM!"},
                    {"=ATANH(-1)", "e:#NUM!"},
                    {"=ATAN2(0,0)", "e:#DIV/0!"},
                    {"=ACOSH(1)", "i:0"},
                    {"=SIN(0)", "i:0"},
                    {"=COS(0)", "i:1"},
                    {"=DEGREES(PI())", "i:180"},
                    {"=COSH(1000)", "e:#NUM!"},
                });
  const double pi = 3.141592653589793;
  struct Approximate {
    const char* formula;
    double expected;
  } cases[] = {
      {"=PI()", pi},
      {"=RADIANS(180)", pi},
      {"=SIN(PI()/6)", 0.5},
      {"=COS(PI()/3)", 0.5},
      {"=TAN(PI()/4)", 1},
      {"=ASIN(1)", pi / 2},
      {"=ACOS(0)", pi / 2},
      {"=ATAN(1)", pi / 4},
      {"=ATAN2(1,1)", pi / 4},
      // The x coordinate comes first.
      {"=ATAN2(-1,0)", pi},
      {"=ATAN2(0,-1)", -pi / 2},
      {"=SINH(1)", 1.1752011936438014},
      {"=COSH(1)", 1.5430806348152437},
      {"=TANH(0.5)", 0.46211715726000974},
      {"=ASINH(1)", 0.881373587019543},
      {"=ACOSH(2)", 1.3169578969248166},
      {"=ATANH(0.5)", 0.5493061443340549},
      {"=EXP(1)", 2.718281828459045},
  };
  for (const Approximate& c : cases) EXPECT_NEAR(number(c.formula), c.expected, 1e-14) << c.formula;
}

TEST_F(MathFunctions, ArgumentErrorsAndNonNumbersPassThrough) {
  expectAll(kInputs, {
                         {"=ABS(A1)", "e:#N/A"},
                         {"=ABS(A2)", "t:#DIV/0!"},
                         {"=ABS(A3)", "e:#VALUE!"},
                         {"=ABS(A4)", "i:12"},
                         {"=ABS(A5)", "i:1"},
                         {"=ABS(B9)", "i:0"},
                         {"=SQRT(\"x\")", "e:#VALUE!"},
                         {"=ROUND(A3,A1)", "e:#N/A"},
                         {"=ROUND(1.5,A3)", "e:#VALUE!"},
                         {"=MOD(A1,0)", "e:#N/A"},
                         {"=MOD(A3,0)", "e:#VALUE!"},
                         {"=POWER(2,A2)", "t:#DIV/0!"},
                         {"=CEILING(A3,1)", "e:#VALUE!"},
                         // Read in order: the number fails before the significance's error.
                         {"=CEILING(A3,A1)", "e:#VALUE!"},
                         {"=FLOOR(A3,1/0)", "e:#VALUE!"},
                         {"=FLOOR(A1,A3)", "e:#N/A"},
                         {"=LOG(A4,A1)", "e:#N/A"},
                         {"=COMBIN(A1,1)", "e:#N/A"},
                         {"=ATAN2(A3,1)", "e:#VALUE!"},
                         {"=SIN(1/0)", "e:#DIV/0!"},
                     });
}

TEST_F(MathFunctions, RandDrawsStrictlyBetweenZeroAndOne) {
  seedRandomWith(12345);  // repeatable draws
  std::string text;
  for (int row = 1; row <= 300; ++row) text += "A" + std::to_string(row) + ": =RAND()\n";
  build(text);
  for (int row = 1; row <= 300; ++row) {
    const Cell* c = cell("A" + std::to_string(row));
    ASSERT_TRUE(c != nullptr && c->value != nullptr && c->value->isNumeric()) << row;
    double r = c->value->number();
    EXPECT_GT(r, 0);
    EXPECT_LT(r, 1);
    double steps = r * kRandomMax;  // draws come in steps of 1 / 32767
    EXPECT_NEAR(steps, std::round(steps), 1e-9);
  }
}

}  // namespace
}  // namespace korvel
