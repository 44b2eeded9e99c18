// Financial functions: annuities against published values, their type rules and rate 0, IRR's
// iteration and recovery, MIRR, NPV's argument walk, and depreciation with its domain errors.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "function_test_support.h"

namespace korvel {
namespace {

struct NumberCase {
  const char* formula;
  double expected;
};

class FinancialFunctions : public FunctionTest {
 protected:
  void expectAll(const std::string& inputs, std::initializer_list<FormulaCase> cases) {
    for (const FormulaCase& c : cases) EXPECT_EQ(eval(inputs, c.formula), c.expected) << c.formula;
  }

  void expectNear(const std::string& inputs, std::initializer_list<NumberCase> cases) {
    for (const NumberCase& c : cases) {
      const std::string shown = eval(inputs, c.formula);
      Cell* result = cell("Z100");
      ASSERT_TRUE(result && result->value && result->value->isNumeric()) << c.formula << shown;
      EXPECT_NEAR(result->value->number(), c.expected, 1e-9 * (1 + std::fabs(c.expected)))
          << c.formula;
    }
  }

  double numberAt(const char* address) {
    Cell* c = cell(address);
    return c && c->value && c->value->isNumeric() ? c->value->number() : -1e300;
  }
};

TEST_F(FinancialFunctions, AnnuitiesMatchKnownValues) {
  expectNear("", {
                     {"=PMT(0.08/12,10*12,10000)", -121.32759435535776},
                     {"=PMT(0.08/12,10,10000,0,1)", -1030.1643271779772},
                     {"=FV(0.06/12,10,-200,-500,1)", 2581.4033740601367},
                     {"=PV(0.08/12,12*20,500,0)", -59777.14585118777},
                     {"=IPMT(0.1/12,1,3*12,8000)", -66.66666666666667},
                     {"=IPMT(0.1,3,3,8000)", -292.4471299093658},
                     {"=PPMT(0.1/12,1,2*12,2000)", -75.62318600836664},
                     {"=PPMT(0.08,10,10,200000)", -27598.05346242136},
                     {"=IPMT(0.1,3,3,8000,0,1)", -292.4471299093658 / 1.1},
                     {"=CUMIPMT(0.09/12,360,125000,13,24,0)", -11135.232130750845},
                     {"=CUMIPMT(0.09/12,360,125000,13,24,1)", -11052.339583871806},
                     {"=CUMIPMT(0.09/12,360,125000,1,1,0)", -937.5},
                     {"=CUMPRINC(0.09/12,360,125000,13,24,0)", -934.1071234208781},
                     {"=CUMPRINC(0.09/12,360,125000,1,1,0)", -68.27827118097684},
                     {"=CUMPRINC(0.09/12,360,125000,1,24,1)", -2705.3136441332836},
                 });
}

TEST_F(FinancialFunctions, TypeRulesAndRateZero) {
  expectAll("A1: \"x\"", {
                             {"=FV(0,10,-100)", "i:1000"},
                             {"=PV(0,10,-100)", "i:1000"},
                             {"=PMT(0,10,1000)", "i:-100"},
                             {"=IPMT(0,1,10,1000)", "i:0"},
                             // The principal at rate 0 is the whole payment.
                             {"=PPMT(0,1,10,1000)", "i:-100"},
                             {"=IPMT(0.1,1,10,1000,0,1)", "i:0"},
                             {"=IPMT(0.1,0.5,10,1000)", "e:#NUM!"},
                             {"=IPMT(0.1,11,10,1000)", "e:#NUM!"},
                             {"=PPMT(0.1,1,0,1000)", "e:#NUM!"},
                             // The program's domain: a rate above -1 and some periods.
                             {"=PV(-1,10,100)", "e:#NUM!"},
                             {"=PV(-3,5,100)", "e:#NUM!"},
                             {"=PMT(-1,10,100,0,1)", "e:#NUM!"},
                             {"=PMT(0,0,100)", "e:#NUM!"},
                             {"=PMT(0.5,0,100)", "e:#NUM!"},
                             {"=FV(-1,-2,1)", "e:#DIV/0!"},
                             {"=FV(A1,10,-100)", "e:#VALUE!"},
                             {"=PMT(\"0\",\"10\",\"1000\")", "i:-100"},
                         });
  build(
      "A1: =FV(0.1,2,-100,0,2)\nA2: =FV(0.1,2,-100,0,1)\nA3: =FV(0.1,2,-100,0,0.5)\n"
      "A4: =FV(0.1,2,-100,0,0)\nA5: =PV(0.1,2,-100,0,0.5)\nA6: =PV(0.1,2,-100,0,1)\n"
      "A7: =PV(0.1,2,-100,0,0)");
  EXPECT_DOUBLE_EQ(numberAt("A1"), numberAt("A2"));
  EXPECT_DOUBLE_EQ(numberAt("A3"), numberAt("A4"));
  EXPECT_DOUBLE_EQ(numberAt("A5"), numberAt("A6"));
  EXPECT_NE(numberAt("A6"), numberAt("A7"));
}

TEST_F(FinancialFunctions, CumulativeDomain) {
  expectAll("",
            {
                {"=CUMIPMT(0.01,12,1000,1,12)", "e:#VALUE!"},
                {"=CUMIPMT(0.01,12,1000,0,12,0)", "e:#NUM!"},
                {"=CUMIPMT(0.01,12,1000,5,4,0)", "e:#NUM!"},
                {"=CUMIPMT(0,12,1000,1,12,0)", "e:#NUM!"},
                {"=CUMIPMT(0.01,12,1000,1,13,0)", "e:#NUM!"},
                {"=CUMIPMT(0.01,12,-1000,1,12,0)", "e:#NUM!"},
                {"=CUMPRINC(0.01,12,1000,1,12,2)", "e:#NUM!"},
                {"=CUMPRINC(0.01,12,1000,\"x\",12,0)", "e:#VALUE!"},
                {"=CUMIPMT(0.01,36,8000,3,10,1.2)", "e:#NUM!"},  // the type is not truncated
                {"=CUMPRINC(0.01,36,8000,3,10,0.7)", "e:#NUM!"},
                {"=CUMPRINC(0.3,12,8000,5.1,5,1)", "e:#NUM!"},  // the start rounds up past the end
            });
  // A fractional start is the next period, a fractional end the period it falls in.
  expectNear("", {
                     {"=CUMPRINC(0.01,36,8000,1.2,8.53,1)", -1339.65792981699},
                     {"=CUMPRINC(0.01,36,8000,2,8,1)", -1339.65792981699},
                     {"=CUMIPMT(0.8,36,18000,2.7,9.667,1)", -55999.9987758257},
                 });
  // All of the principal comes back over the whole term.
  eval("", "=CUMPRINC(0.01,12,1000,1,12,1)");
  EXPECT_NEAR(numberAt("Z100"), -1000, 1e-9);
  // At a high rate the principal is tiny beside the payments; it keeps its full precision.
  eval("", "=CUMPRINC(0.7,36,8000,2,10,1)");
  EXPECT_NEAR(numberAt("Z100"), -0.004756542342248708, 1e-17);
  eval("", "=CUMPRINC(0.7,36,8000,1,10,0)");
  EXPECT_NEAR(numberAt("Z100"), -0.008114437652951188, 1e-17);
}

TEST_F(FinancialFunctions, IrrConvergesRecoversAndFails) {
  const std::string flows =
      "A1: -70000\nA2: 12000\nA3: 15000\nA4: 18000\nA5: 21000\nA6: 26000\nB1: 5\nB2: \"x\"";
  expectNear(flows, {
                        {"=IRR(A1:A5)", -0.02124484827341096},
                        {"=IRR(A1:A6)", 0.08663094803653162},
                        {"=IRR(A1:A6,-0.5)", 0.08663094803653162},
                        {"=IRR({-100,110})", 0.1},
                        // Newton from 2 runs off; the recovery finds the rate from other starts.
                        {"=IRR({-100,110},2)", 0.1},
                        {"=IRR(A1:A20)", 0.08663094803653162},
                    });
  expectAll(flows, {
                       {"=IRR({-100,100},0)", "i:0"},
                       {"=IRR(B1)", "e:#NUM!"},  // one value: the slope is 0
                       {"=IRR({-100,110},-1)", "e:#VALUE!"},
                       {"=IRR({-100,110},\"x\")", "e:#VALUE!"},
                       {"=IRR(5)", "e:#NUM!"},
                       {"=IRR(A1:B2)", "e:#VALUE!"},
                       // No rate exists: the iteration wanders off and must not report a rate.
                       {"=IRR({0,4})", "e:#NUM!"},
                   });
}

TEST_F(FinancialFunctions, MirrAndNpv) {
  const std::string inputs =
      "A1: -120000\nA2: 39000\nA3: 30000\nA4: 21000\nA5: 37000\nA6: 46000\n"
      "C1: 110\nC2: \"x\"\nC3: 121\nD1: 110\nD2: #N/A\nD3: 121\nE1: TRUE";
  expectNear(inputs, {
                         {"=MIRR(A1:A6,0.1,0.12)", 0.12609413036590533},
                         // Blank cells are no flows: they take no period.
                         {"=MIRR(A1:A9,0.1,0.12)", 0.12609413036590533},
                         {"=NPV(0.1,-10000,3000,4200,6800)", 1188.4434123352216},
                         {"=NPV(0.1,110)", 100},
                         // An empty argument and a boolean take a period each.
                         {"=NPV(0.1,110,,121)", 100 + 121 / 1.331},
                         {"=NPV(0.1,TRUE,121)", 100},
                         // Texts and booleans in ranges are passed over without a period.
                         {"=NPV(0.1,C1:C3)", 200},
                         {"=NPV(0.1,E1,C1)", 100},
                         {"=NPV(0.1,{110,121})", 200},
                         {"=NPV(0.1,\"110\")", 100},
                     });
  expectAll(inputs, {
                        {"=MIRR(A2:A6,0.1,0.12)", "e:#DIV/0!"},
                        {"=MIRR({-5,-3},0.1,0.2)", "i:-1"},  // no positive flow: all is lost
                        {"=MIRR(A1:A6,\"x\",0.12)", "e:#VALUE!"},
                        {"=MIRR(A1:A6,0.1,-1)", "e:#DIV/0!"},
                        {"=NPV(-1,5)", "e:#DIV/0!"},
                        {"=NPV(\"x\",5)", "e:#VALUE!"},
                        {"=NPV(0.1,\"x\")", "e:#VALUE!"},
                        {"=NPV(0.1,D1:D3)", "e:#N/A"},
                        {"=NPV(0.1,D2)", "e:#N/A"},
                    });
}

TEST_F(FinancialFunctions, Depreciation) {
  expectNear("", {
                     {"=SLN(30000,7500,10)", 2250},
                     {"=SYD(30000,7500,10,1)", 4090.909090909091},
                     {"=SYD(30000,7500,10,10)", 409.09090909090907},
                     {"=DDB(2400,300,10*365,1)", 1.3150684931506849},
                     {"=DDB(2400,300,120,1,2)", 40},
                     {"=DDB(2400,300,10,1,2)", 480},
                     {"=DDB(2400,300,10,2,1.5)", 306},
                     {"=DDB(2400,300,10,10)", 22.122547200000156},
                     {"=DDB(1000,100,0.5,0.5)", 900},
                     {"=DB(1000000,100000,6,1,7)", 186083.33333333334},
                     {"=DB(1000000,100000,6,2,7)", 259639.41666666666},
                     {"=DB(1000000,100000,6,6,7)", 55841.75673602846},
                     {"=DB(1000000,100000,6,7,7)", 15845.098473848071},
                 });
  expectAll("", {
                    {"=SYD(1000,100,5,1)", "i:300"},
                    {"=SLN(1000,100,0)", "e:#DIV/0!"},
                    {"=SLN(\"x\",100,5)", "e:#VALUE!"},
                    {"=SYD(1000,-1,5,1)", "e:#NUM!"},
                    {"=SYD(1000,100,0,1)", "e:#NUM!"},
                    {"=SYD(1000,100,5,6)", "e:#NUM!"},
                    {"=DDB(100,200,5,1)", "i:0"},
                    {"=DDB(1000,100,5,6)", "e:#NUM!"},
                    {"=DDB(1000,100,5,1,0)", "e:#NUM!"},
                    {"=DDB(-1,0,5,1)", "e:#NUM!"},
                    // A factor above the life writes the asset down once, in the first period.
                    {"=DDB(1000,0,3,1,6)", "i:1000"},
                    {"=DDB(1000,0,3,3,6)", "i:0"},
                    {"=DB(1000,100,5,6)", "e:#NUM!"},
                    {"=DB(1000,100,5,7,6)", "e:#NUM!"},
                    {"=DB(1000,100,5,1,13)", "e:#NUM!"},
                    {"=DB(1000,100,0,1)", "e:#NUM!"},
                    {"=DB(0,0,5,1)", "i:0"},
                });
  // An empty cell is a factor or month of 0, not the default.
  expectAll("A1: 100\nA2: 10", {
                                   {"=DDB(A1,A2,4,3,B1)", "e:#NUM!"},
                                   {"=DB(A1,A2,4,3,B1)", "e:#NUM!"},
                                   {"=DDB(A1,A2,4,3)", "n:12.5"},
                               });
}

}  // namespace
}  // namespace korvel
