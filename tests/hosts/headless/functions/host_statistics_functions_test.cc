#include <cmath>
#include <string>

#include "tests/hosts/headless/functions/host_function_test_support.h"

namespace korvel {
namespace {

class HostStatisticsFunctionTest : public HostFunctionTest {};

// Reference values are exact sums of the probabilities, computed with whole-number arithmetic;
// the large cases show that no digits are lost to logarithms of huge factorials.
TEST_F(HostStatisticsFunctionTest, DiscreteDistributions) {
  expectNumbers("", {
                        {"=BINOM.DIST(6,10,0.5,FALSE)", 0.205078125},
                        {"=BINOMDIST(6.9,10,0.5,TRUE)", 0.828125},
                        {"=BINOM.DIST(500000,1000000,0.5,FALSE)", 0.0007978843613317501},
                        {"=BINOM.DIST(480,1000,0.5,TRUE)", 0.10872414660207047},
                        {"=BINOM.DIST.RANGE(60,0.75,48)", 0.0839749674290475},
                        {"=BINOM.DIST.RANGE(60,0.75,45,50)", 0.5236297934718872},
                        {"=HYPGEOM.DIST(1,4,8,20,FALSE)", 0.3632610939112487},
                        {"=HYPGEOMDIST(1,4,8,20)", 0.3632610939112487},
                        {"=HYPGEOM.DIST(1,4,8,20,TRUE)", 0.46542827657378744},
                        {"=HYPGEOM.DIST(300,1000,3000,10000,FALSE)", 0.02900958414213379},
                        {"=HYPGEOM.DIST(300,1000,3000,10000,TRUE)", 0.516050290017955},
                        {"=NEGBINOM.DIST(10,5,0.25,FALSE)", 0.05504866037517786},
                        {"=NEGBINOMDIST(10,5,0.25)", 0.05504866037517786},
                        {"=NEGBINOM.DIST(10,5,0.25,TRUE)", 0.3135140584781766},
                        {"=POISSON.DIST(2,5,FALSE)", 0.08422433748856834},
                        {"=POISSON(2,5,TRUE)", 0.12465201948308114},
                        {"=POISSON(1000,1000,FALSE)", 0.0126146113487215},
                        {"=POISSON(1000,1000,TRUE)", 0.508409367168506},
                        {"=POISSON(20,3.7,FALSE)", 2.3497425505482238e-9},
                    });
}

TEST_F(HostStatisticsFunctionTest, DiscreteDistributionEdgesAndErrors) {
  expectAll("A1: \"x\"", {
                             {"=BINOM.DIST(0,0,0.3,FALSE)", "i:1"},
                             {"=BINOM.DIST(3,3,1,FALSE)", "i:1"},
                             {"=BINOM.DIST(2,3,0,TRUE)", "i:1"},
                             {"=BINOM.DIST(11,10,0.5,FALSE)", "e:#NUM!"},
                             {"=BINOM.DIST(-1,10,0.5,FALSE)", "e:#NUM!"},
                             {"=BINOM.DIST(1,10,1.5,FALSE)", "e:#NUM!"},
                             {"=BINOM.DIST(1,10,0.5,A1)", "e:#VALUE!"},
                             {"=BINOM.DIST(A1,10,0.5,TRUE)", "e:#VALUE!"},
                             {"=BINOM.DIST(1,1E+300,0.5,TRUE)", "e:#NUM!"},
                             {"=BINOM.DIST.RANGE(60,0.75,50,45)", "e:#NUM!"},
                             {"=BINOM.DIST.RANGE(60,0.75,45,61)", "e:#NUM!"},
                             {"=BINOM.INV(6,0.5,0.75)", "i:4"},
                             {"=CRITBINOM(6,0.5,0)", "i:0"},
                             {"=CRITBINOM(6,0.5,1)", "i:6"},
                             {"=CRITBINOM(1000000,0.3,0.5)", "i:300000"},
                             {"=CRITBINOM(1000000000000,0.3,0.5)", "n:300000000000"},
                             {"=CRITBINOM(10,0,0.5)", "i:0"},
                             {"=CRITBINOM(10,1,0.5)", "i:10"},
                             {"=BINOM.INV(100,0.2,0.9)", "i:25"},
                             {"=BINOM.INV(6,0.5,1.1)", "e:#NUM!"},
                             {"=HYPGEOM.DIST(5,4,8,20,FALSE)", "e:#NUM!"},
                             {"=HYPGEOM.DIST(0,15,8,20,FALSE)", "e:#NUM!"},  // must draw 3
                             {"=HYPGEOM.DIST(1,4,0,20,FALSE)", "e:#NUM!"},
                             {"=NEGBINOM.DIST(0,1,1,FALSE)", "i:1"},
                             {"=NEGBINOM.DIST(1,0,0.5,FALSE)", "e:#NUM!"},
                             {"=POISSON(0,0,FALSE)", "i:1"},
                             {"=POISSON(-1,2,FALSE)", "e:#NUM!"},
                             {"=POISSON(-0.000001,2,TRUE)", "e:#NUM!"},
                             {"=POISSON(0.9,2,FALSE)-POISSON(0,2,FALSE)", "i:0"},
                             {"=POISSON(1,-2,TRUE)", "e:#NUM!"},
                             {"=POISSON(1,2,\"TRUE\")-POISSON(1,2,1)", "i:0"},
                         });
}

// Published examples; the reference digits come from exact or high-precision arithmetic.
TEST_F(HostStatisticsFunctionTest, DescriptiveStatistics) {
  expectNumbers("A1: 3\nA2: 4\nA3: 5\nA4: 2\nA5: 3\nA6: 4\nA7: 5\nA8: 6\nA9: 4\nA10: 7",
                {
                    {"=KURT(A1:A10)", -0.151799637208414311955},
                    {"=SKEW(A1:A10)", 0.359543071406797143256},
                    {"=SKEW.P(A1:A10)", 0.303193339354143733455},
                    {"=AVEDEV(4,5,6,7,5,4,3)", 50.0 / 49},
                    {"=DEVSQ(4,5,8,7,11,4,3)", 48},
                    {"=GEOMEAN(4,5,8,7,11,4,3)", 5.4769869696569624},
                    {"=GEOMEAN(1E+300,1E+300,1E-5)", 2.1544346900318837e198},
                    {"=HARMEAN(4,5,8,7,11,4,3)", 5.0283759620617274},
                    {"=FISHER(0.75)", 0.97295507452765665},
                    {"=FISHERINV(0.972955074527656652552)", 0.75},
                    {"=STANDARDIZE(42,40,1.5)", 4.0 / 3},
                    {"=CONFIDENCE.NORM(0.05,2.5,50)", 0.69295191217483897},
                    {"=CONFIDENCE(0.05,2.5,50.9)", 0.69295191217483897},
                    {"=Z.TEST({3,6,7,8,6,5,4,2,1,9},4)", 0.090574196851363760},
                    {"=ZTEST({3,6,7,8,6,5,4,2,1,9},6)", 0.86304338912952989},
                    {"=TRIMMEAN({4,5,6,7,2,3,4,5,1,2,3},0.2)", 34.0 / 9},
                });
}

// Direct arguments count booleans and number texts; ranges count only their numbers.
TEST_F(HostStatisticsFunctionTest, ArgumentRulesAndErrors) {
  expectAll("A1: 2\nA2: TRUE\nA3: \"4\"\nA4: 6\nB1: 1\nB2: =1/0",
            {
                {"=DEVSQ(A1:A4)", "i:8"},
                {"=DEVSQ(2,TRUE,\"4\")", "n:4.66666666666667"},
                {"=AVEDEV(A1:A4,10)", "n:2.66666666666667"},
                {"=AVEDEV(1,\"x\")", "e:#VALUE!"},
                {"=AVEDEV(A1:B2)", "e:#DIV/0!"},
                {"=DEVSQ(C1:C3)", "e:#NUM!"},
                {"=GEOMEAN(2,0)", "e:#NUM!"},
                {"=HARMEAN(2,-1)", "e:#NUM!"},
                {"=KURT(1,2,3)", "e:#DIV/0!"},
                {"=KURT(2,2,2,2)", "e:#DIV/0!"},
                {"=SKEW(1,2)", "e:#DIV/0!"},
                {"=SKEW.P(1,2)", "i:0"},
                {"=FISHER(1)", "e:#NUM!"},
                {"=STANDARDIZE(1,2,0)", "e:#NUM!"},
                {"=CONFIDENCE(0,1,10)", "e:#NUM!"},
                {"=CONFIDENCE(0.05,1,0.5)", "e:#NUM!"},
                {"=Z.TEST(C1:C3,1)", "e:#N/A"},
                {"=Z.TEST(A1,1)", "e:#DIV/0!"},
                {"=Z.TEST(A1,1,2)", "n:0.308537538725987"},
                {"=TRIMMEAN(A1:A4,1)", "e:#NUM!"},
            });
}

TEST_F(HostStatisticsFunctionTest, PercentilesQuartilesAndPercentRanks) {
  expectAll("A1: 13\nA2: 12\nA3: 11\nA4: 8\nA5: 4\nA6: 3\nA7: 2\nA8: 1\nA9: 1\nA10: 1\nA11: \"x\"",
            {
                {"=PERCENTILE({1,2,3,4},0.3)", "n:1.9"},
                {"=PERCENTILE.INC(A1:A11,1)", "i:13"},
                {"=PERCENTILE({1,2,3,4},1.1)", "e:#NUM!"},
                {"=PERCENTILE.EXC({1,2,3,6,6,6,7,8,9},0.25)", "n:2.5"},
                {"=PERCENTILE.EXC({1,2,3,6,6,6,7,8,9},0.01)", "e:#NUM!"},
                {"=PERCENTILE.EXC({1,2,3,6,6,6,7,8,9},0)", "e:#NUM!"},
                {"=QUARTILE({1,2,4,7,8,9,10,12},1)", "n:3.5"},
                {"=QUARTILE.INC({1,2,4,7,8,9,10,12},4.7)", "i:12"},
                {"=QUARTILE({1,2,4,7,8,9,10,12},5)", "e:#NUM!"},
                {"=QUARTILE.EXC({6,7,15,36,39,40,41,42,43,47,49},1)", "i:15"},
                {"=QUARTILE.EXC({6,7,15,36,39,40,41,42,43,47,49},3)", "i:43"},
                {"=QUARTILE.EXC({6,7,15},4)", "e:#NUM!"},
                {"=PERCENTRANK(A1:A11,2)", "n:0.333"},
                {"=PERCENTRANK(A1:A11,4)", "n:0.555"},
                {"=PERCENTRANK(A1:A11,8)", "n:0.666"},
                {"=PERCENTRANK.INC(A1:A11,5)", "n:0.583"},
                {"=PERCENTRANK(A1:A11,5,1)", "n:0.5"},
                {"=PERCENTRANK(A1:A11,14)", "e:#N/A"},
                {"=PERCENTRANK(A1:A11,5,0)", "e:#NUM!"},
                {"=PERCENTRANK({1,2,3,4,5,6,7,8,9,10,11},4)", "n:0.3"},  // not 0.299
                {"=PERCENTRANK({5},5)", "i:1"},
                {"=PERCENTRANK.EXC({1,2,3,6,6,6,7,8,9},7)", "n:0.7"},
                {"=PERCENTRANK.EXC({1,2,3,6,6,6,7,8,9},5.43)", "n:0.381"},
                {"=PERCENTRANK.EXC({1,2,3,6,6,6,7,8,9},5.43,1)", "n:0.3"},
            });
}

TEST_F(HostStatisticsFunctionTest, RanksModesAndProb) {
  expectAll("A1: 89\nA2: 88\nA3: 92\nA4: 101\nA5: 94\nA6: 97\nA7: 95\nB1: 1\nB2: 2\nB3: 2\nB4: 3",
            {
                {"=RANK.AVG(94,A1:A7)", "i:4"},
                {"=RANK.AVG(2,B1:B4)", "n:2.5"},
                {"=RANK.AVG(2,B1:B4,1)", "n:2.5"},
                {"=RANK.AVG(3,B1:B4,TRUE)", "i:4"},
                {"=RANK.AVG(7,B1:B4)", "e:#N/A"},
                {"=RANK.EQ(2,B1:B4)", "i:2"},
                {"=MODE.SNGL(B1:B4)", "i:2"},
                {"=ROWS(MODE.MULT({1,2,3,4,3,2,1,2,3,5,6,1}))", "i:3"},
                {"=INDEX(MODE.MULT({3,1,1,3}),2)", "i:1"},  // as first met
                {"=MODE.MULT(A1:A7)", "e:#N/A"},
                {"=STDEV.S(B1:B4)-STDEV(B1:B4)", "i:0"},
                {"=VAR.P(B1:B4)", "n:0.5"},
                {"=PROB({0,1,2,3},{0.2,0.3,0.1,0.4},2)", "n:0.1"},
                {"=PROB({0,1,2,3},{0.2,0.3,0.1,0.4},1,3)", "n:0.8"},
                {"=PROB({0,1,2,3},{0.2,0.3,0.1,0.3},1,3)", "e:#NUM!"},
                {"=PROB({0,1,2,3},{0.2,0.3,0.5},1,3)", "e:#N/A"},
                {"=PROB({0,1},{1.5,-0.5},1)", "e:#NUM!"},
            });
}

}  // namespace
}  // namespace korvel
