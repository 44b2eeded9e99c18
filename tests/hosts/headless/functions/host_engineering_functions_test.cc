#include <cmath>
#include <string>

#include "hosts/headless/functions/host_bessel.h"
#include "hosts/headless/functions/host_complex.h"
#include "tests/hosts/headless/functions/host_function_test_support.h"

namespace korvel {
namespace {

class HostEngineeringFunctionTest : public HostFunctionTest {
 protected:
  void expectAll(const std::string& inputs, std::initializer_list<FormulaCase> cases) {
    for (const FormulaCase& c : cases) EXPECT_EQ(eval(inputs, c.formula), c.expected) << c.formula;
  }
};

// Ten digits with the top bit set are negative, and negatives come back as ten digits whatever
// the places; each target base has its own range.
TEST_F(HostEngineeringFunctionTest, NumberBasesUseTenDigitTwosComplement) {
  expectAll("", {
                    {"=BIN2DEC(\"1111111111\")", "i:-1"},
                    {"=BIN2DEC(101)", "i:5"},
                    {"=BIN2DEC(\"\")", "i:0"},
                    {"=BIN2HEX(\"1111111111\")", "t:FFFFFFFFFF"},
                    {"=BIN2HEX(\"11\",4)", "t:0003"},
                    {"=BIN2OCT(\"1000000000\",3)", "t:7777777000"},
                    {"=DEC2BIN(-512)", "t:1000000000"},
                    {"=DEC2BIN(9.9)", "t:1001"},
                    {"=DEC2BIN(\"5\",3)", "t:101"},
                    {"=DEC2OCT(-1)", "t:7777777777"},
                    {"=DEC2OCT(536870911)", "t:3777777777"},
                    {"=HEX2BIN(\"FFFFFFFE00\")", "t:1000000000"},
                    {"=HEX2OCT(\"ff\",4)", "t:0377"},
                    {"=HEX2OCT(\"FFE0000000\")", "t:4000000000"},
                    {"=OCT2HEX(\"4000000000\")", "t:FFE0000000"},
                    {"=OCT2BIN(\"7777777000\")", "t:1000000000"},
                    {"=OCT2DEC(\"4000000000\")", "i:-536870912"},
                });
}

TEST_F(HostEngineeringFunctionTest, NumberBaseErrors) {
  expectAll("A1: TRUE", {
                            {"=DEC2BIN(512)", "e:#NUM!"},
                            {"=DEC2OCT(536870912)", "e:#NUM!"},
                            {"=HEX2BIN(\"200\")", "e:#NUM!"},
                            {"=HEX2OCT(\"FFDFFFFFFF\")", "e:#NUM!"},
                            {"=BIN2DEC(\"12\")", "e:#NUM!"},
                            {"=BIN2DEC(\"10000000000\")", "e:#NUM!"},
                            {"=BIN2DEC(-1)", "e:#NUM!"},
                            {"=OCT2BIN(\"8\")", "e:#NUM!"},
                            {"=BIN2HEX(\"11111\",1)", "e:#NUM!"},
                            // Places are checked for negative numbers too, and before the number.
                            {"=BIN2HEX(\"1111111111\",0)", "e:#NUM!"},
                            {"=DEC2BIN(-1,11)", "e:#NUM!"},
                            {"=DEC2BIN(\"E\",0)", "e:#NUM!"},
                            {"=DEC2BIN(\"E\",4)", "e:#VALUE!"},
                            {"=DEC2BIN(\"\")", "e:#VALUE!"},
                            {"=DEC2BIN(A1)", "e:#VALUE!"},
                            {"=BIN2DEC(A1)", "e:#VALUE!"},
                            {"=BIN2OCT(1/0)", "e:#DIV/0!"},
                        });
}

TEST_F(HostEngineeringFunctionTest, BitwiseOperations) {
  expectAll("", {
                    {"=BITAND(13,25)", "i:9"},
                    {"=BITOR(23,10)", "i:31"},
                    {"=BITXOR(5,3)", "i:6"},
                    {"=BITAND(TRUE,3)", "i:1"},
                    {"=BITOR(2^47,1)", "n:140737488355329"},
                    {"=BITLSHIFT(4,2)", "i:16"},
                    {"=BITLSHIFT(4,-2)", "i:1"},
                    {"=BITRSHIFT(13,2)", "i:3"},
                    {"=BITRSHIFT(1,-47)", "n:140737488355328"},
                    {"=BITLSHIFT(1,48)", "e:#NUM!"},
                    {"=BITLSHIFT(0,54)", "e:#NUM!"},
                    {"=BITAND(1.5,1)", "e:#NUM!"},
                    {"=BITAND(-1,1)", "e:#NUM!"},
                    {"=BITXOR(2^48,1)", "e:#NUM!"},
                    {"=BITOR(\"x\",1)", "e:#VALUE!"},
                });
}

// ERFC is computed directly, so its tail does not vanish into 1 - ERF.
TEST_F(HostEngineeringFunctionTest, StepsAndErrorFunction) {
  expectAll("A1: TRUE", {
                            {"=DELTA(5,4)", "i:0"},
                            {"=DELTA(5,5)", "i:1"},
                            {"=DELTA(0)", "i:1"},
                            {"=GESTEP(5,4)", "i:1"},
                            {"=GESTEP(-4,-5)", "i:1"},
                            {"=GESTEP(-1)", "i:0"},
                            {"=GESTEP(\"3\",\"2\")", "i:1"},
                            {"=DELTA(A1,1)", "e:#VALUE!"},
                            {"=ERF(0.745)", "n:0.707928920095738"},
                            {"=ERF(0,1)", "n:0.842700792949715"},
                            {"=ERF(1,0)", "n:-0.842700792949715"},
                            {"=ERF.PRECISE(-1)", "n:-0.842700792949715"},
                            {"=ERFC(1)", "n:0.157299207050285"},
                            {"=ERFC.PRECISE(10)", "n:2.08848758376254E-045"},
                            {"=ERF(A1)", "e:#VALUE!"},
                            {"=ERFC(\"x\")", "e:#VALUE!"},
                        });
}

struct BesselCase {
  double (*function)(double, int);
  const char* name;
  double x;
  int n;
  double expected;
};

// J: reference values to 17 digits; the table covers small and large arguments, high orders, the
// switch to the asymptotic forms at 25 and negative arguments of odd order.
TEST(HostBesselTest, JAccurateAcrossArgumentsAndOrders) {
  const BesselCase cases[] = {
      {besselJ, "J", 1.9, 2, 0.32992572769238722},  {besselJ, "J", 8, 0, 0.1716508071375539},
      {besselJ, "J", 10, 1, 0.043472746168861437},  {besselJ, "J", 30, 3, 0.12921122875972498},
      {besselJ, "J", 100, 0, 0.019985850304223122}, {besselJ, "J", 1, 30, 3.4828697942514829e-42},
      {besselJ, "J", -9, 1, -0.24531178657332528},
  };
  for (const BesselCase& c : cases) {
    const double got = c.function(c.x, c.n);
    EXPECT_NEAR(got / c.expected, 1.0, 2e-14) << c.name << "(" << c.x << ", " << c.n << ")";
  }
}

// J0 and J1 below 8, Y, I and K: the values the spreadsheet program stored in a workbook (to the
// last few of their 15 digits; the true values differ from the 9th digit on), on both sides of
// where its approximations switch form (8 for Y, 3.75 for I, 2 for K), at high orders and at a
// negative argument of odd order.
TEST(HostBesselTest, YIAndKAsTheProgramComputesThem) {
  const BesselCase cases[] = {
      {besselJ, "J", 0, 0, 1.00000000283141},         {besselJ, "J", 0.2, 0, 0.990024974572687},
      {besselJ, "J", -2.4, 1, -0.52018526827179},     {besselJ, "J", 3.5, 1, 0.137377527178186},
      {besselY, "Y", 0.2, 0, -1.0811053301048},       {besselY, "Y", 2, 0, 0.510375666737013},
      {besselY, "Y", 10, 0, 0.0556711674309512},      {besselY, "Y", 0.8, 7, -143672.958155277},
      {besselY, "Y", 0.8, 10, -1121353767.43091},     {besselI, "I", 0.2, 0, 1.01002502212056},
      {besselI, "I", 0.2, 1, 0.100500833859033},      {besselI, "I", 2.4, 7, 0.000849664862008219},
      {besselI, "I", -2.4, 7, -0.000849664862008219}, {besselI, "I", 10, 7, 238.025587847593},
      {besselI, "I", 32, 10, 1158284935385.18},       {besselK, "K", 0.2, 0, 1.75270384615397},
      {besselK, "K", 0.2, 1, 4.77597254842262},       {besselK, "K", 0.8, 7, 213959.702287928},
      {besselK, "K", 0.8, 10, 1699890237.04074},
  };
  for (const BesselCase& c : cases) {
    const double got = c.function(c.x, c.n);
    EXPECT_NEAR(got / c.expected, 1.0, 1e-11) << c.name << "(" << c.x << ", " << c.n << ")";
  }
}

TEST_F(HostEngineeringFunctionTest, BesselArguments) {
  expectAll("A1: TRUE", {
                            {"=BESSELJ(0,0)", "n:1.00000000283141"},
                            {"=BESSELI(0,3)", "i:0"},
                            {"=BESSELJ(1.9,2.9)", "n:0.329925727692387"},
                            {"=BESSELJ(1,-1)", "e:#NUM!"},
                            {"=BESSELY(0,1)", "e:#NUM!"},
                            {"=BESSELK(-1,0)", "e:#NUM!"},
                            {"=BESSELI(800,0)", "e:#NUM!"},
                            {"=BESSELY(A1,1)", "e:#VALUE!"},
                            {"=BESSELI(1,\"x\")", "e:#VALUE!"},
                        });
}

TEST_F(HostEngineeringFunctionTest, ConvertUnitsAndPrefixes) {
  expectAll("A1: TRUE", {
                            {"=CONVERT(1,\"lbm\",\"kg\")", "n:0.45359237"},
                            {"=CONVERT(68,\"F\",\"C\")", "i:20"},
                            {"=CONVERT(6,\"C\",\"K\")", "n:279.15"},
                            {"=CONVERT(0,\"Reau\",\"F\")", "i:32"},
                            {"=CONVERT(1,\"km2\",\"m2\")", "i:1000000"},
                            {"=CONVERT(1,\"cm^3\",\"l\")", "n:0.001"},
                            {"=CONVERT(1,\"kibyte\",\"bit\")", "i:8192"},
                            {"=CONVERT(1,\"kbit\",\"bit\")", "i:1000"},
                            {"=CONVERT(1,\"dam\",\"m\")", "i:10"},
                            {"=CONVERT(1,\"d\",\"hr\")", "i:24"},
                            {"=CONVERT(1,\"atm\",\"mmHg\")", "n:760.002100178515"},
                            {"=CONVERT(1,\"atm\",\"Torr\")", "i:760"},
                            {"=CONVERT(\"2\",\"m\",\"cm\")", "i:200"},
                            {"=CONVERT(0.004,\"Mmph\",\"m/s\")", "n:1788.16"},
                            {"=CONVERT(2.5,\"ft\",\"sec\")", "e:#N/A"},
                            {"=CONVERT(1,\"kft\",\"m\")", "e:#N/A"},
                            {"=CONVERT(1,\"kim\",\"m\")", "e:#N/A"},
                            {"=CONVERT(1,\"Mly2\",\"m2\")", "e:#N/A"},
                            {"=CONVERT(1,\"MI\",\"m\")", "e:#N/A"},
                            {"=CONVERT(A1,\"m\",\"m\")", "e:#VALUE!"},
                        });
}

// Parts carry 15 significant digits; the coefficient 1 is left out; fixed form takes up to 18
// decimals.
TEST_F(HostEngineeringFunctionTest, ComplexTexts) {
  expectAll("A1: TRUE", {
                            {"=COMPLEX(3,4)", "t:3+4i"},
                            {"=COMPLEX(3,-4,\"j\")", "t:3-4j"},
                            {"=COMPLEX(0,1)", "t:i"},
                            {"=COMPLEX(0,-1)", "t:-i"},
                            {"=COMPLEX(1,-1,\"\")", "t:1-i"},
                            {"=COMPLEX(0,0)", "t:0"},
                            {"=COMPLEX(1E-16,0)", "t:0.0000000000000001"},
                            {"=COMPLEX(1E-20,0)", "t:1E-20"},
                            {"=COMPLEX(0,1.5E-18)", "t:1.5E-18i"},
                            {"=COMPLEX(-1E-18,1)", "t:-0.000000000000000001+i"},
                            {"=COMPLEX(1.5E+20,2)", "t:1.5E+20+2i"},
                            {"=COMPLEX(1/3,0)", "t:0.333333333333333"},
                            {"=COMPLEX(1,1,\"I\")", "e:#VALUE!"},
                            {"=COMPLEX(A1,1)", "e:#VALUE!"},
                            {"=IMREAL(\"1.5e3-2E-1j\")", "i:1500"},
                            {"=IMAGINARY(\"-j\")", "i:-1"},
                            {"=IMAGINARY(\"4\")", "i:0"},
                            {"=IMREAL(\"1 + i\")", "e:#NUM!"},
                            {"=IMREAL(\"i2\")", "e:#NUM!"},
                            {"=IMREAL(\"1+2\")", "e:#NUM!"},
                            {"=IMREAL(\"2i+1\")", "e:#NUM!"},
                            {"=IMREAL(A1)", "e:#VALUE!"},
                        });
}

TEST_F(HostEngineeringFunctionTest, ComplexArithmetic) {
  expectAll("A1: =\"3+4i\"\nA2: 7", {
                                        {"=IMSUM(\"3+4i\",\"5-3i\")", "t:8+i"},
                                        {"=IMSUM(A1,A2,A3)", "t:10+4i"},
                                        {"=IMSUM(\"1+i\",\"1+j\")", "e:#VALUE!"},
                                        {"=IMSUB(\"13+4j\",\"5+3j\")", "t:8+j"},
                                        {"=IMSUB(\"i\",\"i\")", "t:0"},
                                        {"=IMPRODUCT(\"3+4i\",\"5-3i\")", "t:27+11i"},
                                        {"=IMPRODUCT(\"1+2j\",30)", "t:30+60j"},
                                        {"=IMPRODUCT(A2,A3)", "t:0"},
                                        {"=IMDIV(\"-238+240i\",\"10+24i\")", "t:5+12i"},
                                        {"=IMDIV(\"1+i\",0)", "e:#NUM!"},
                                        {"=IMPOWER(\"2+3i\",3)", "t:-46+9.00000000000001i"},
                                        {"=IMPOWER(0,0)", "e:#NUM!"},
                                        {"=IMABS(\"5+12i\")", "i:13"},
                                        {"=IMARGUMENT(\"-1\")", "n:3.14159265358979"},
                                        {"=IMARGUMENT(0)", "e:#DIV/0!"},
                                        {"=IMCONJUGATE(\"3+4j\")", "t:3-4j"},
                                    });
}

TEST_F(HostEngineeringFunctionTest, ComplexFunctions) {
  expectAll("", {
                    {"=IMSQRT(\"-1\")", "t:6.12323399573677E-17+i"},
                    {"=IMEXP(\"1+i\")", "t:1.46869393991589+2.28735528717884i"},
                    {"=IMLN(\"2+4i\")", "t:1.497866136777+1.10714871779409i"},
                    {"=IMLOG10(\"3+4i\")", "t:0.698970004336019+0.402719196273373i"},
                    {"=IMLOG2(\"3+4j\")", "t:2.32192809488736+1.33780421245098j"},
                    {"=IMSIN(\"4+3i\")", "t:-7.61923172032141-6.548120040911i"},
                    {"=IMCOS(\"1+i\")", "t:0.833730025131149-0.988897705762865i"},
                    {"=IMTAN(\"4+3i\")", "t:0.00490825806749606+1.00070953606723i"},
                    {"=IMCOT(\"4+3i\")", "t:0.00490118239430447-0.999266927805902i"},
                    {"=IMSINH(\"1+i\")", "t:0.634963914784736+1.29845758141598i"},
                    {"=IMCOSH(\"1+i\")", "t:0.833730025131149+0.988897705762865i"},
                    {"=IMSEC(\"1+i\")", "t:0.498337030555187+0.591083841721045i"},
                    {"=IMCSC(\"1+i\")", "t:0.621518017170428-0.303931001628426i"},
                    {"=IMSECH(\"1+i\")", "t:0.498337030555187-0.591083841721045i"},
                    {"=IMCSCH(\"1+i\")", "t:0.303931001628426-0.621518017170428i"},
                    {"=IMLN(0)", "e:#NUM!"},
                    {"=IMCSC(0)", "e:#NUM!"},
                    {"=IMCOT(0)", "e:#NUM!"},
                    {"=IMCOT(1E-16)", "t:1E+16"},
                });
}

TEST(HostComplexTest, TextsReadBackToTheirNumbers) {
  const char16_t* texts[] = {u"3+4i", u"-2.5j", u"i", u"-i", u"1E-20", u"1.5E+20+2i", u"0.0001-j"};
  for (const char16_t* text : texts) {
    ComplexNumber z;
    ASSERT_TRUE(parseComplex(text, &z)) << toUtf8(text);
    EXPECT_EQ(complexText(z), text);
  }
}

// The engineering and complex-number functions take one value each: an array formula that hands
// them a range or an array gets #VALUE!, where other functions are taken element by element.
// TYPE is never taken element by element either: in an array formula a reference is 64.
TEST_F(HostEngineeringFunctionTest, ArraysAreRefusedWhereTheyAreNotLifted) {
  const std::string inputs = "A1: 0.5\nA2: 1\nA3: 2\nB1: \"3+4i\"\nB2: \"1-i\"\n";
  struct {
    const char* formula;
    const char* expected;
  } cases[] = {
      {"{=ERF(A1:A2)}", "e:#VALUE!"},
      {"{=ERFC({0.5,1})}", "e:#VALUE!"},
      {"{=DELTA(A1:A3,1)}", "e:#VALUE!"},
      {"{=GESTEP(1,A1:A2)}", "e:#VALUE!"},
      {"{=BESSELJ(A1:A2,1)}", "e:#VALUE!"},
      {"{=IMABS(B1:B2)}", "e:#VALUE!"},
      {"{=DEC2BIN({1,2})}", "e:#VALUE!"},
      {"{=DELTA(A2,1)}", "i:1"},  // one cell is one value
      {"{=ERF.PRECISE(A1:A2)}", "a:{0.520499877813047;0.842700792949715}"},  // lifted
      {"{=IMSUM(B1:B2)}", "t:4+3i"},  // takes a range by nature
      {"{=TYPE(A1:A2)}", "i:64"},
  };
  for (const auto& c : cases) {
    build(inputs + "Z100:Z101: " + c.formula + "\n");
    EXPECT_EQ(valueOf("Z100"), c.expected) << c.formula;
  }
  // Outside array formulas a range still stands for the cell in the formula's row.
  EXPECT_EQ(eval(inputs + "C2: =DELTA(A1:A3,1)\n", "=C2"), "i:1");
  EXPECT_EQ(eval(inputs, "=TYPE({1,2})"), "i:64");
  EXPECT_EQ(eval(inputs, "=TYPE(A1)"), "i:1");
  EXPECT_EQ(eval(inputs, "=TYPE(B1)"), "i:2");
}

}  // namespace
}  // namespace korvel
