// Reference values are the published examples of these functions and results stored by the host
// program in real workbooks.
#include <cmath>
#include <string>

#include "tests/hosts/headless/functions/host_function_test_support.h"

namespace korvel {
namespace {

class HostFinancialFunctionsTest : public HostFunctionTest {};

TEST_F(HostFinancialFunctionsTest, PeriodsAndRates) {
  expectNumbers("", {
                        {"=NPER(0.12/12,-100,-1000,10000,1)", 59.67386567429462},
                        {"=NPER(0.01,-100,-1000,10000)", 60.08212285376172},
                        {"=NPER(0.01,-100,-1000)", -9.57859403981317},
                        {"=NPER(1,3,100,0,1)", -4.1429579538420427},
                        {"=NPER(0,3,100,23,TRUE)", -41},
                        {"=RATE(48,-200,8000)", 7.7014724882013682E-3, 1e-13},
                        {"=RATE(48,-200,8000,0,1)", 8.0529819239065561E-3},
                        {"=RATE(10,0,-100,200)", 0.07177346253629313},
                        {"=EFFECT(0.0525,4)", 0.05354266737075819},
                        {"=EFFECT(0.5,4.5)", 0.601806640625},
                        {"=NOMINAL(0.053543,4)", 0.052500319868356016},
                        {"=NOMINAL(10,15)", 2.600193317901077},
                        {"=PDURATION(0.025,2000,2200)", 3.8598661626226414},
                        {"=PDURATION(TRUE,100,200)", 0.99999999999999889},
                        {"=RRI(96,10000,11000)", 9.933073762913303e-4},
                        {"=RRI(0.5,3,4)", 0.77777777777777746},
                        {"=ISPMT(0.1/12,1,36,8000000)", -64814.81481481482},
                        {"=ISPMT(TRUE,7,TRUE,4)", 24},
                    });
  expectAll("", {
                    // no solution: the log of a ratio of 0 or less, a rate of -1 or below
                    {"=NPER(1,3,100,12)", "e:#NUM!"},
                    {"=NPER(-3,5,100,10,1)", "e:#NUM!"},
                    {"=NPER(0,0,100)", "e:#NUM!"},
                    {"=RATE(0,-200,8000)", "e:#NUM!"},
                    {"=RATE(1/0,-200,8000)", "e:#DIV/0!"},
                    // all payments, no loan: nothing for Newton's method to settle on
                    {"=RATE(10,-100,-100,-100)", "e:#NUM!"},
                    {"=RATE(10,-200,8000,0,0,\"x\")", "e:#VALUE!"},
                    {"=EFFECT(0,10)", "e:#NUM!"},
                    {"=EFFECT(0.5,0.99)", "e:#NUM!"},
                    {"=EFFECT(TRUE,2)", "e:#VALUE!"},
                    {"=NOMINAL(0.2,-1)", "e:#NUM!"},
                    {"=NOMINAL(2,1)", "i:2"},
                    {"=PDURATION(0,100,200)", "e:#NUM!"},
                    {"=PDURATION(0.2,100,0)", "e:#NUM!"},
                    {"=PDURATION(\"x\",2,3)", "e:#VALUE!"},
                    {"=RRI(2,3,0)", "i:-1"},
                    {"=RRI(0,3,4)", "e:#NUM!"},
                    {"=RRI(2,0,1)", "e:#NUM!"},
                    {"=RRI(2,-3,4)", "e:#NUM!"},
                    {"=ISPMT(1,2,0,3)", "e:#DIV/0!"},
                    {"=ISPMT(\"hola\",2,3,4)", "e:#VALUE!"},
                    {"=ISPMT(NA(),1,2,3)", "e:#N/A"},
                });
}

TEST_F(HostFinancialFunctionsTest, FractionalPricesAndSchedules) {
  expectNumbers("B2: 0.08\nB3: 0.12\nB5: 0.1", {
                                                   {"=DOLLARDE(1.02,16)", 1.125},
                                                   {"=DOLLARFR(1.125,16)", 1.02},
                                                   {"=DOLLARDE(12.1234,12)", 13.028333333333334},
                                                   {"=DOLLARFR(12.1234,12)", 12.014808},
                                                   {"=DOLLARFR(-0.5,2)", -0.1},
                                                   {"=DOLLARDE(-0.5,2)", -2.5},
                                                   {"=DOLLARFR(0.1,3)", 3.0000000000000006E-2},
                                                   {"=FVSCHEDULE(1,{0.09,0.11,0.1})", 1.33089},
                                                   // an empty cell is a rate of 0
                                                   {"=FVSCHEDULE(1,B2:B5)", 1.33056},
                                                   {"=FVSCHEDULE(1000,-1.5)", -500},
                                               });
  expectAll("B1: \"x\"\nB2: TRUE", {
                                       {"=DOLLARFR(TRUE,2)", "e:#VALUE!"},
                                       {"=DOLLARDE(2,TRUE)", "e:#VALUE!"},
                                       {"=DOLLARDE(10,-2)", "e:#NUM!"},
                                       {"=DOLLARFR(10,0.5)", "e:#DIV/0!"},
                                       {"=FVSCHEDULE(1,B1:B3)", "e:#VALUE!"},
                                       {"=FVSCHEDULE(1,B2:B3)", "e:#VALUE!"},
                                       {"=FVSCHEDULE(1,{0.1,#N/A})", "e:#N/A"},
                                   });
}

TEST_F(HostFinancialFunctionsTest, VariableDecliningBalance) {
  expectNumbers("", {
                        {"=VDB(2400,300,3650,0,1)", 1.3150684931506849},
                        {"=VDB(2400,300,120,0,1)", 40},
                        {"=VDB(2400,300,10,0,1)", 480},
                        {"=VDB(2400,300,120,6,18)", 396.3060532647507},
                        {"=VDB(2400,300,120,6,18,1.5)", 311.8089366582342},
                        {"=VDB(2400,300,10,0,0.875,1.5)", 315},
                        // the switch to straight-line writes the asset off within its life
                        {"=VDB(2400,0,10,0,10)", 2400},
                        {"=VDB(2400,0,10,0,10,2,TRUE)", 2142.30196224},
                    });
  expectAll("", {
                    {"=VDB(2400,300,10,5,4)", "e:#NUM!"},
                    {"=VDB(2400,300,10,0,11)", "e:#NUM!"},
                    {"=VDB(2400,300,10,0,1,0)", "e:#NUM!"},
                    {"=VDB(-1,0,10,0,1)", "e:#NUM!"},
                });
}

// 19 August 2008 is serial 39679, 31 December 2008 39813.
TEST_F(HostFinancialFunctionsTest, FrenchDepreciation) {
  expectAll("", {
                    {"=AMORDEGRC(2400,39679,39813,300,1,0.15,1)", "i:776"},
                    {"=AMORDEGRC(2400,39679,39813,300,0,0.15,1)", "i:330"},
                    // the period that would take the book value below the salvage takes half
                    // of it, the later ones nothing
                    {"=AMORDEGRC(2400,39679,39813,300,4,0.15,1)", "i:190"},
                    {"=AMORDEGRC(2400,39679,39813,300,5,0.15,1)", "i:158"},
                    {"=AMORDEGRC(2400,39679,39813,300,6,0.15,1)", "i:0"},
                    {"=AMORDEGRC(2400,39679,39813,300,1,0.4,1)", "e:#NUM!"},
                    {"=AMORLINC(2400,39679,39813,300,1,0.15,1)", "i:360"},
                    {"=AMORLINC(2400,39679,39813,300,6,0.15,1)", "n:168.196721311475"},
                    {"=AMORLINC(2400,39679,39813,300,7,0.15,1)", "i:0"},
                    {"=AMORLINC(2400,39679,39813,300,1,0.15,2)", "e:#NUM!"},
                    {"=AMORLINC(2400,39813,39679,300,1,0.15,1)", "e:#NUM!"},
                    {"=AMORLINC(2400,TRUE,39813,300,1,0.15,1)", "e:#VALUE!"},
                });
  expectNumbers("", {{"=AMORLINC(2400,39679,39813,300,0,0.15,1)", 131.8032786885246}});
}

// The published example: dates 1 January 2008 to 1 April 2009, given out of order in the corpus
// workbook (a later date may come before an earlier one, only none before the first).
constexpr char kFlows[] =
    "A1: -10000\nA2: 2750\nA3: 4250\nA4: 3250\nA5: 2750\n"
    "B1: 39448\nB2: 39508\nB3: 39751\nB4: 39859\nB5: 39904\n"
    "C1: -10000\nC2: 2750\nC3: 4250\nC4: 3250\nC5: 2750\n"
    "D1: 39448\nD2: 39450\nD3: 39751\nD4: 39859\nD5: 39817\n"
    "E1: -1000\nE2: 230\nE3: 200\nE4: 125\nE5: 200\n"
    "F1: 1\nF2: 2\nF3: 3\nF4: 4\nF5: 5\n"
    "G1: 1\nG2: \"x\"\nG3: 3\nG4: 4\nG5: 5\n"
    "H1: -10000\nH2: 2750\nH3: 4250\nH5: 2750";

TEST_F(HostFinancialFunctionsTest, DatedCashFlows) {
  expectNumbers(kFlows, {
                            {"=XNPV(0.09,A1:A5,B1:B5)", 2086.647602031535},
                            {"=XNPV(0.09,C1:C5,D1:D5)", 2175.27828067982},
                            {"=XNPV(0.2,E1:E5,F1:F5)", -245.90094986886766},
                            {"=XIRR(A1:A5,B1:B5)", 0.37336253351883136},
                            {"=XIRR(A1:A5,B1:B5,0.5)", 0.37336253351883136},
                        });
  expectAll(kFlows, {
                        // counts differ; a date before the first; a text date; an empty or
                        // text value; a negative rate
                        {"=XNPV(0.1,A1:A4,B1:B5)", "e:#NUM!"},
                        {"=XNPV(0.1,A1:A5,{39448,39447,39751,39859,39904})", "e:#NUM!"},
                        {"=XNPV(0.1,E1:E5,G1:G5)", "e:#VALUE!"},
                        {"=XNPV(0.1,A1:A6,B1:B6)", "e:#NUM!"},
                        {"=XNPV(0.1,H1:H5,B1:B5)", "e:#NUM!"},
                        {"=XNPV(0.1,G1:G5,B1:B5)", "e:#NUM!"},
                        {"=XNPV(-1,A1:A5,B1:B5)", "e:#NUM!"},
                        {"=XNPV(-0.3,A1:A5,B1:B5)", "e:#NUM!"},
                        {"=XNPV(NA(),A1:A5,B1:B5)", "e:#N/A"},
                        {"=XIRR(A2:A5,B2:B5)", "e:#NUM!"},
                        // the rate would lie within 1e-17 of -1: no number holds it
                        {"=XIRR(E1:E5,F1:F5)", "e:#NUM!"},
                        {"=XIRR({-1,2},{39448,39448})", "e:#NUM!"},
                        // XIRR takes an empty value as 0 and refuses a text one
                        {"=XIRR(H1:H5,B1:B5)=XIRR({-10000;2750;4250;0;2750},B1:B5)", "b:TRUE"},
                        {"=XIRR(G1:G5,B1:B5)", "e:#VALUE!"},
                    });
}

}  // namespace
}  // namespace korvel
