// Reference values are exact least-squares solutions worked out in rational arithmetic (and
// square roots and logarithms to 40 digits), so a loss of digits in the fit shows.
#include <cmath>

#include "tests/hosts/headless/functions/host_function_test_support.h"

namespace korvel {
namespace {

class HostRegressionFunctionTest : public HostFunctionTest {
 protected:
  // The whole array of a formula entered as an array formula over the range.
  std::string evalArray(const std::string& inputs, const std::string& formula,
                        const std::string& range) {
    build(inputs + "\n" + range + ": {" + formula + "}\n");
    return valueOf(range.substr(0, range.find(':')));
  }
};

// y {2,3,9,1,8,7,5} against x {6,5,11,7,5,4,4}, with a text, a number as text, a boolean and a
// blank on one side of the pairs in between: those pairs are passed over.
constexpr char kPairs[] =
    "A1: 2\nB1: 6\nA2: 3\nB2: 5\nA3: \"x\"\nB3: 1\nA4: 9\nB4: 11\nA5: 1\nB5: 7\nA6: 4\n"
    "B6: \"4\"\nA7: 8\nB7: 5\nA8: TRUE\nB8: 3\nA9: 7\nB9: 4\nA10: 5\nB10: 4\nB11: 2";

TEST_F(HostRegressionFunctionTest, PairFunctionsPassOverPairsWithoutTwoNumbers) {
  expectNumbers(kPairs, {
                            {"=CORREL(A1:A11,B1:B11)", 0.24072846024282468719},
                            {"=PEARSON(B1:B11,A1:A11)", 0.24072846024282468719},
                            {"=RSQ(A1:A11,B1:B11)", 0.05795019157088123},
                            {"=SLOPE(A1:A11,B1:B11)", 0.3055555555555556},
                            {"=INTERCEPT(A1:A11,B1:B11)", 3.1666666666666665},
                            {"=STEYX(A1:A11,B1:B11)", 3.3057189502100413403},
                            {"=COVAR(A1:A11,B1:B11)", 1.5714285714285714},
                            {"=COVARIANCE.P(A1:A11,B1:B11)", 1.5714285714285714},
                            {"=COVARIANCE.S(A1:A11,B1:B11)", 1.8333333333333333},
                            {"=FORECAST(10,A1:A11,B1:B11)", 6.222222222222222},
                            {"=FORECAST.LINEAR(10,A1:A11,B1:B11)", 6.222222222222222},
                            // arrays, a row against a column of the same count
                            {"=COVARIANCE.S({3,2,4,5,6},{9;7;12;15;17})", 6.5},
                        });
}

// Dates make the one-pass sums lose their digits; whole columns stop at the stored cells.
TEST_F(HostRegressionFunctionTest, PairFunctionsKeepDigitsAndReadWholeColumns) {
  expectNumbers(
      "A1: 45000\nB1: 1.5\nA2: 45001\nB2: 2.25\nA3: 45003\nB3: 3\nA4: 45004\nB4: 4.5\n"
      "A5: 45007\nB5: 6\nA6: 45008\nB6: 6.5\nA7: 45010\nB7: 8.25",
      {
          {"=SLOPE(B:B,A:A)", 0.6579623287671232},
          {"=INTERCEPT(B:B,A:A)", -29606.835188356163},
          {"=RSQ(B1:B7,A1:A7)", 0.9871040500879146},
      });
}

TEST_F(HostRegressionFunctionTest, PairFunctionErrors) {
  expectAll("A1: 1\nA2: 2\nA3: 3\nB1: 4\nB2: =NA()\nB3: 6\nC1: 5\nC2: 5\nC3: 5\nD1: \"a\"",
            {
                {"=CORREL(A1:A3,B1:B2)", "e:#N/A"},
                {"=COVARIANCE.P({1,2,3},{1,2})", "e:#N/A"},
                {"=SLOPE(A1:A3,B1:B3)", "e:#N/A"},
                {"=SLOPE(B1:B3,A1:A3)", "e:#N/A"},  // the error, whichever side it is on
                {"=CORREL(A1:A3,NA())", "e:#N/A"},
                {"=SLOPE(A1:A3,C1:C3)", "e:#DIV/0!"},  // x without spread
                {"=INTERCEPT(A1:A3,C1:C3)", "e:#DIV/0!"},
                {"=CORREL(C1:C3,A1:A3)", "e:#DIV/0!"},  // y without spread
                {"=RSQ(C1:C3,A1:A3)", "e:#DIV/0!"},
                {"=SLOPE(C1:C3,A1:A3)", "i:0"},
                {"=STEYX(A1:A2,C1:C2)", "e:#DIV/0!"},  // fewer than three points
                {"=COVARIANCE.S({5},{10})", "e:#DIV/0!"},
                {"=COVARIANCE.P({5},{10})", "i:0"},
                {"=COVAR({\"a\",\"b\"},{1,2})", "e:#DIV/0!"},
                {"=FORECAST(D1,A1:A3,A1:A3)", "e:#VALUE!"},
                {"=FORECAST(4,A1:A3,A1:A3)", "i:4"},
                {"=PEARSON(A1:A3,(A1,A2,A3))", "e:#VALUE!"},
            });
}

// y = b + m1 x1 + m2 x2 over eight points (columns A, B, C); D is 2 * B, E a constant column.
constexpr char kMultiple[] =
    "A1: 3.1\nA2: 4.9\nA3: 7.2\nA4: 8.8\nA5: 11.1\nA6: 13.2\nA7: 14.8\nA8: 17.5\n"
    "B1: 1\nB2: 2\nB3: 3\nB4: 4\nB5: 5\nB6: 6\nB7: 7\nB8: 8\n"
    "C1: 2\nC2: 1\nC3: 4\nC4: 3\nC5: 6\nC6: 5\nC7: 8\nC8: 9\n"
    "D1: 2\nD2: 4\nD3: 6\nD4: 8\nD5: 10\nD6: 12\nD7: 14\nD8: 16\n"
    "E1: 7\nE2: 7\nE3: 7\nE4: 7\nE5: 7\nE6: 7\nE7: 7\nE8: 7";

TEST_F(HostRegressionFunctionTest, LinestStatisticsOfSeveralVariables) {
  expectNumbers(kMultiple, {
                               {"=INDEX(LINEST(A1:A8,B1:C8,,TRUE),1,1)", 0.07647058823529412},
                               {"=INDEX(LINEST(A1:A8,B1:C8,,TRUE),1,2)", 1.9490196078431372},
                               {"=INDEX(LINEST(A1:A8,B1:C8,,TRUE),1,3)", 0.9411764705882353},
                               {"=INDEX(LINEST(A1:A8,B1:C8,,TRUE),2,1)", 0.09256895763965849},
                               {"=INDEX(LINEST(A1:A8,B1:C8,,TRUE),2,2)", 0.10641117036292974},
                               {"=INDEX(LINEST(A1:A8,B1:C8,,TRUE),2,3)", 0.19480369953706125},
                               {"=INDEX(LINEST(A1:A8,B1:C8,,TRUE),3,1)", 0.998201809598519},
                               {"=INDEX(LINEST(A1:A8,B1:C8,,TRUE),3,2)", 0.24986270739952293},
                               {"=INDEX(LINEST(A1:A8,B1:C8,,TRUE),4,1)", 1387.7865891959798},
                               {"=INDEX(LINEST(A1:A8,B1:C8,,TRUE),4,2)", 5},
                               {"=INDEX(LINEST(A1:A8,B1:C8,,TRUE),5,1)", 173.2828431372549},
                               {"=INDEX(LINEST(A1:A8,B1:C8,,TRUE),5,2)", 0.312156862745098},
                               // through the origin: sums of squares about 0
                               {"=INDEX(LINEST(A1:A8,B1:C8,FALSE,TRUE),1,2)", 2.131182795698925},
                               {"=INDEX(LINEST(A1:A8,B1:C8,FALSE,TRUE),2,1)", 0.2010752688172043},
                               {"=INDEX(LINEST(A1:A8,B1:C8,FALSE,TRUE),3,1)", 0.9982047579586955},
                               {"=INDEX(LINEST(A1:A8,B1:C8,FALSE,TRUE),4,1)", 1668.083859990277},
                               {"=INDEX(LINEST(A1:A8,B1:C8,FALSE,TRUE),4,2)", 6},
                               {"=INDEX(LINEST(A1:A8,B1:C8,FALSE,TRUE),5,1)", 983.8705376344086},
                           });
  // The layout: estimates last variable first, their errors, then the statistics, #N/A beside.
  EXPECT_EQ(evalArray(kMultiple, "=ROUND(LINEST(A1:A8,B1:C8,,TRUE),9)", "Z100:AB104"),
            "a:{0.076470588,1.949019608,0.941176471;0.092568958,0.10641117,0.1948037;"
            "0.99820181,0.249862707,#N/A;1387.786589196,5,#N/A;173.282843137,0.312156863,#N/A}");
  expectAll(kMultiple, {
                           {"=INDEX(LINEST(A1:A8,B1:C8,FALSE,TRUE),1,3)", "i:0"},
                           {"=INDEX(LINEST(A1:A8,B1:C8,FALSE,TRUE),2,3)", "e:#N/A"},
                           {"=INDEX(LINEST(A1:A8,B1:C8,,TRUE),3,3)", "e:#N/A"},
                           {"=INDEX(LINEST(A1:A8,B1:C8,,TRUE),5,3)", "e:#N/A"},
                       });
}

// A column collinear with an earlier one, or with the constant, gets coefficient 0 and error 0,
// and the fit of the others is that without it, its degree of freedom given back.
TEST_F(HostRegressionFunctionTest, LinestLeavesOutCollinearColumns) {
  expectNumbers(kMultiple, {
                               {"=INDEX(LINEST(A1:A8,B1:D8,,TRUE),1,2)", 0.07647058823529412},
                               {"=INDEX(LINEST(A1:A8,B1:D8,,TRUE),1,3)", 1.9490196078431372},
                               {"=INDEX(LINEST(A1:A8,B1:D8,,TRUE),2,3)", 0.10641117036292974},
                               {"=INDEX(LINEST(A1:A8,B1:D8,,TRUE),2,4)", 0.19480369953706125},
                               {"=INDEX(LINEST(A1:A8,B1:D8,,TRUE),4,1)", 1387.7865891959798},
                               {"=INDEX(LINEST(A1:A8,B1:E8,,TRUE),1,5)", 0.9411764705882353},
                           });
  expectAll(kMultiple, {
                           {"=INDEX(LINEST(A1:A8,B1:D8,,TRUE),1,1)", "i:0"},
                           {"=INDEX(LINEST(A1:A8,B1:D8,,TRUE),2,1)", "i:0"},
                           {"=INDEX(LINEST(A1:A8,B1:D8,,TRUE),4,2)", "i:5"},
                           {"=INDEX(LINEST(A1:A8,B1:E8,,TRUE),1,1)", "i:0"},
                           {"=INDEX(LINEST(A1:A8,B1:E8,,TRUE),4,2)", "i:5"},
                       });
}

TEST_F(HostRegressionFunctionTest, LinestShapesAndErrors) {
  // A row of y takes the rows of x as variables; x absent is 1, 2, 3.
  EXPECT_EQ(evalArray("", "=ROUND(LINEST({1,3,5},{1,2,4;0,1,1}),12)", "Z100:AB100"), "a:{1,1,0}");
  EXPECT_EQ(evalArray("", "=ROUND(LINEST({2,4,6}),12)", "Z100:AA100"), "a:{2,0}");
  EXPECT_EQ(evalArray("", "=ROUND(LINEST({1,2;3,4},{2,4;6,8}),12)", "Z100:AA100"), "a:{0.5,0}");
  expectAll(kMultiple + std::string("\nF1: \"t\"\nG1: =NA()"),
            {
                // no degree of freedom: no errors of the estimates
                {"=INDEX(LINEST({1,5},,,TRUE),2,1)", "e:#NUM!"},
                {"=INDEX(LINEST({1,5},,,TRUE),3,2)", "e:#NUM!"},
                {"=INDEX(LINEST({1,5},,,TRUE),4,2)", "i:0"},
                {"=LINEST(A1:A8,B1:B7)", "e:#REF!"},
                {"=LINEST(A1:A8,{1,2,3,4,5,6,7,8})", "e:#REF!"},
                {"=LINEST(A1:A3,F1:F3)", "e:#VALUE!"},  // text
                {"=LINEST(A1:A9)", "e:#VALUE!"},        // a blank
                {"=LINEST(G1:G3)", "e:#N/A"},
                {"=LINEST(A:A)", "e:#VALUE!"},
                {"=LINEST(A1:A3,B1:B3,\"x\")", "e:#VALUE!"},
            });
}

// LOGEST and GROWTH fit ln(y); TREND and GROWTH give the fitted values at new points in the
// shape those points have, one point per row of new_x for several variables.
TEST_F(HostRegressionFunctionTest, ExponentialFitsAndProjections) {
  const std::string growing = "A1: 1.5\nA2: 2.25\nA3: 3.4\nA4: 5.1\nA5: 7.6\nB1: -1";
  expectNumbers(growing, {
                             {"=INDEX(LOGEST(A1:A5),1,1)", 1.5013544392541216081},
                             {"=INDEX(LOGEST(A1:A5),1,2)", 1.0004090116516415200},
                             {"=INDEX(LOGEST(A1:A5,,FALSE),1,1)", 1.5015218883855648946},
                             {"=INDEX(GROWTH(A1:A5,{1;2;3;4;5},{6,7}),1,2)", 17.201258493108237914},
                             {"=GROWTH(A1:A5,,6)", 11.457160310295473081},
                             {"=GROWTH(A1:A5,,6,FALSE)", 11.460142159884658064},
                         });
  expectAll(growing, {
                         {"=INDEX(LOGEST(A1:A5,,FALSE),1,2)", "i:1"},
                         {"=GROWTH(A1:B5)", "e:#VALUE!"},
                         {"=GROWTH({1;2;-3})", "e:#NUM!"},
                         {"=LOGEST({1,0,2})", "e:#NUM!"},
                     });
  EXPECT_EQ(evalArray("", "=TREND({1;3;5},{1;2;3},{4,5;6,7})", "Z100:AA101"), "a:{7,9;11,13}");
  EXPECT_EQ(evalArray("", "=ROUND(TREND({1,3,5},{1,2,4;0,1,1},{0,1,2;0,1,0}),12)", "Z100:AB100"),
            "a:{0,2,2}");
  EXPECT_EQ(evalArray("", "=ROUND(TREND({1;3;5},{1,0;2,1;4,1},{0,0;1,1;2,0}),12)", "Z100:Z102"),
            "a:{0;2;2}");
  expectNumbers(kMultiple, {
                               {"=TREND({1;3;5},,4,FALSE)", 44.0 / 7},
                               {"=TREND(A1:A8,B1:C8,B1:C1)", 1552.0 / 510},
                               {"=INDEX(TREND(A1:A8,B1:C8),1)", 1552.0 / 510},
                           });
  expectAll(kMultiple, {
                           {"=TREND({1;3;5},{1,0;2,1;4,1},{0,0,0})", "e:#REF!"},
                           {"=TREND(A1:A8,B1:B8,{\"a\"})", "e:#VALUE!"},
                           {"=TREND(A1:A8,B1:B6)", "e:#REF!"},
                       });
}

}  // namespace
}  // namespace korvel
