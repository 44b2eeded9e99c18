// Date and time functions: both date systems, the leap day of 1900, month arithmetic, DATEDIF
// units, texts, the current time and YEARFRAC's hand-over to the host program.
#include <gtest/gtest.h>

#include <string>

#include "function_test_support.h"
#include "hosts/headless/system_clock.h"

namespace korvel {
namespace {

class DateTimeFunctions : public FunctionTest {
 protected:
  void expectAll(const std::string& inputs, std::initializer_list<FormulaCase> cases) {
    for (const FormulaCase& c : cases) EXPECT_EQ(eval(inputs, c.formula), c.expected) << c.formula;
  }

  // The formula calculated again with the 1904 date system.
  std::string eval1904(const std::string& formula) {
    build(std::string("Z100: ") + formula + "\n");
    engine_->date1904 = true;
    engine_->recalculation().computeAll();
    return valueOf("Z100");
  }

  double numberAt(const char* address) {
    Cell* c = cell(address);
    return c && c->value && c->value->isNumeric() ? c->value->number() : -1e300;
  }

  FixedClock clock_{LocalTime{2024, 6, 15, 9, 30, 0, 0}};
};

TEST_F(DateTimeFunctions, DateCountsTheLeapDayOf1900AndCarriesMonthsAndDays) {
  expectAll("A1: \"2020\"\nA2: \"x\"", {
                                           {"=DATE(1900,1,1)", "i:1"},
                                           {"=DATE(1900,2,28)", "i:59"},
                                           {"=DATE(1900,2,29)", "i:60"},
                                           {"=DATE(1900,3,1)", "i:61"},
                                           {"=DATE(2100,2,28)", "i:73109"},
                                           // Gregorian from March 1900 on: 2100 has no leap day.
                                           {"=DATE(2100,2,29)", "i:73110"},
                                           {"=DATE(2100,3,1)", "i:73110"},
                                           {"=DATE(99,1,1)", "i:36161"},
                                           {"=DATE(0,1,1)", "i:1"},
                                           {"=DATE(2020,13,1)", "i:44197"},
                                           {"=DATE(2020,24,1)", "i:44531"},
                                           {"=DATE(2020,0,1)", "i:43800"},
                                           {"=DATE(2020,-1,1)", "i:43770"},
                                           {"=DATE(2020,-12,1)", "i:43435"},
                                           {"=DATE(2020,1,0)", "i:43830"},
                                           {"=DATE(2020,2,30)", "i:43891"},
                                           {"=DATE(2020,1,40000)", "i:76597"},
                                           {"=DATE(2020.9,1.5,1.9)", "i:43831"},
                                           {"=DATE(A1,1,1)", "i:43831"},
                                           {"=DATE(A2,1,1)", "e:#VALUE!"},
                                           {"=DATE(,,)", "e:#NUM!"},
                                           {"=DATE(1E+10,1,1)", "e:#NUM!"},
                                           // No date lies before serial 0.
                                           {"=DATE(1900,1,-1)", "e:#NUM!"},
                                           {"=DATE(-1,1,1)", "e:#NUM!"},
                                           {"=DATE(2020,#N/A,1)", "e:#N/A"},
                                       });
}

TEST_F(DateTimeFunctions, The1904SystemStartsAtZero) {
  EXPECT_EQ(eval1904("=DATE(1904,1,1)"), "i:0");
  EXPECT_EQ(eval1904("=DATE(2020,1,1)"), "i:42369");
  EXPECT_EQ(eval1904("=DATEVALUE(\"2020-01-01\")"), "i:42369");
  EXPECT_EQ(eval1904("=DAY(0)"), "i:1");
  EXPECT_EQ(eval1904("=MONTH(0)"), "i:1");
  EXPECT_EQ(eval1904("=YEAR(0)"), "i:1904");
  EXPECT_EQ(eval1904("=DAY(42428)"), "i:29");
  EXPECT_EQ(eval1904("=WEEKDAY(0)"), "i:6");  // a Friday
  EXPECT_EQ(eval1904("=EDATE(0,1)"), "i:31");
  EXPECT_EQ(eval1904("=DATEDIF(0,366,\"Y\")"), "i:1");
}

TEST_F(DateTimeFunctions, DayMonthYearSplitLowSerialsAsTheCalendarCountsThem) {
  expectAll("", {
                    {"=DAY(0)", "i:0"},
                    {"=DAY(0.5)", "i:0"},
                    {"=DAY(0.999995)", "i:1"},
                    {"=DAY(1)", "i:1"},
                    {"=DAY(31)", "i:31"},
                    {"=DAY(32)", "i:1"},
                    {"=DAY(46)", "i:15"},
                    {"=DAY(59)", "i:28"},
                    {"=DAY(60)", "i:29"},
                    {"=DAY(61)", "i:1"},
                    {"=DAY(43890.75)", "i:29"},
                    {"=DAY(-1)", "e:#NUM!"},
                    {"=MONTH(0)", "i:1"},
                    {"=MONTH(59)", "i:2"},
                    {"=MONTH(60)", "i:2"},
                    {"=MONTH(61)", "i:3"},
                    {"=MONTH(43830)", "i:12"},
                    {"=MONTH(TRUE)", "i:1"},
                    {"=YEAR(0)", "i:1900"},
                    {"=YEAR(1)", "i:1900"},
                    {"=YEAR(43830)", "i:2019"},
                    {"=YEAR(43831)", "i:2020"},
                    {"=YEAR(-0.5)", "e:#NUM!"},
                    {"=DAY(\"2020-03-15\")", "i:15"},
                    {"=MONTH(\"x\")", "e:#VALUE!"},
                    {"=YEAR(\"43831\")", "i:2020"},
                    {"=DAY(3E+9)", "e:#NUM!"},
                });
}

TEST_F(DateTimeFunctions, WeekdayTypes) {
  expectAll("", {
                    {"=WEEKDAY(1)", "i:1"},
                    {"=WEEKDAY(1,2)", "i:7"},
                    {"=WEEKDAY(1,3)", "i:6"},
                    {"=WEEKDAY(1,4)", "e:#NUM!"},
                    {"=WEEKDAY(43831)", "i:4"},
                    {"=WEEKDAY(43831,2)", "i:3"},
                    {"=WEEKDAY(43831,3)", "i:2"},
                    {"=WEEKDAY(43831.9,2.7)", "i:3"},
                    {"=WEEKDAY(43831,\"2\")", "i:3"},
                    {"=WEEKDAY(43831,\"x\")", "e:#VALUE!"},
                    {"=WEEKDAY(\"x\")", "e:#VALUE!"},
                    {"=WEEKDAY(-1)", "e:#NUM!"},
                });
}

TEST_F(DateTimeFunctions, EdateAndEomonthCutToMonthEnds) {
  expectAll("A1: 43905\nA2: 43906\nA3: TRUE", {
                                                  {"=EDATE(43861,1)", "i:43890"},
                                                  {"=EDATE(43861,12)", "i:44227"},
                                                  {"=EDATE(43861,-1)", "i:43830"},
                                                  {"=EDATE(43861,1.9)", "i:43890"},
                                                  {"=EDATE(\"2020-01-31\",\"1\")", "i:43890"},
                                                  {"=EDATE(43861,TRUE)", "e:#VALUE!"},
                                                  {"=EDATE(,1)", "e:#N/A"},
                                                  {"=EDATE(43861,)", "e:#N/A"},
                                                  {"=EDATE(15,-1)", "e:#NUM!"},
                                                  {"=EDATE(-1,1)", "e:#NUM!"},
                                                  {"=EDATE(43861,1E+12)", "e:#NUM!"},
                                                  {"=EOMONTH(43905,-1)", "i:43890"},
                                                  {"=EOMONTH(43905,0)", "i:43921"},
                                                  {"=EOMONTH(43905,10)", "i:44227"},
                                                  {"=EOMONTH(A1,1)", "i:43951"},
                                                  {"=EOMONTH(0,0)", "i:31"},
                                                  {"=EOMONTH(A1:A2,0)", "e:#VALUE!"},
                                                  {"=EOMONTH(A3,0)", "e:#VALUE!"},
                                                  {"=EOMONTH(43905,TRUE)", "e:#VALUE!"},
                                                  {"=EOMONTH(B9,0)", "e:#N/A"},
                                              });
}

TEST_F(DateTimeFunctions, DatedifUnits) {
  // 15 May 2020 (43966) to 14 May 2021 (44330); 31 Jan 2021 (44227) to 1 Mar 2021 (44256);
  // 15 Dec 2019 (43814) to 10 Jan 2021 (44206); 15 May 2020 to 2 Jan 2021 (44198).
  expectAll("", {
                    {"=DATEDIF(43966,44330,\"Y\")", "i:0"},
                    {"=DATEDIF(43966,44330,\"M\")", "i:11"},
                    {"=DATEDIF(43966,44330,\"D\")", "i:364"},
                    {"=DATEDIF(43966,44330,\"YM\")", "i:11"},
                    {"=DATEDIF(43966,44330,\"MD\")", "i:29"},
                    {"=DATEDIF(43966,44330,\"YD\")", "i:364"},
                    {"=DATEDIF(43966,44331,\"y\")", "i:1"},
                    {"=DATEDIF(44227,44256,\"M\")", "i:1"},
                    {"=DATEDIF(44227,44256,\"MD\")", "i:1"},
                    {"=DATEDIF(44227,44256,\"YD\")", "i:29"},
                    {"=DATEDIF(43814,44206,\"Y\")", "i:1"},
                    {"=DATEDIF(43814,44206,\"M\")", "i:12"},
                    {"=DATEDIF(43814,44206,\"YM\")", "i:0"},
                    {"=DATEDIF(43814,44206,\"MD\")", "i:26"},
                    {"=DATEDIF(43814,44206,\"YD\")", "i:26"},
                    {"=DATEDIF(43966,44197,\"YD\")", "i:231"},
                    {"=DATEDIF(43966,44198,\"YD\")", "i:232"},
                    {"=DATEDIF(\"2020-05-15\",\"2021-05-14\",\"M\")", "i:11"},
                    {"=DATEDIF(43966,44330,\"X\")", "e:#NUM!"},
                    {"=DATEDIF(44330,43966,\"D\")", "e:#NUM!"},
                    {"=DATEDIF(\"x\",43966,\"D\")", "e:#VALUE!"},
                    {"=DATEDIF(-1,43966,\"D\")", "e:#VALUE!"},
                });
}

TEST_F(DateTimeFunctions, DateValueAndTimeValueReadTexts) {
  expectAll("", {
                    {"=DATEVALUE(\"2020-01-15\")", "i:43845"},
                    {"=DATEVALUE(\"1/15/2020\")", "i:43845"},
                    {"=DATEVALUE(\"2020-01-15 18:00\")", "i:43845"},
                    {"=DATEVALUE(\"abc\")", "e:#VALUE!"},
                    {"=DATEVALUE(43845)", "e:#VALUE!"},
                    {"=TIMEVALUE(\"12:00\")", "n:0.5"},
                    {"=TIMEVALUE(\"6:00 PM\")", "n:0.75"},
                    {"=TIMEVALUE(\"2020-01-15 06:00\")", "n:0.25"},
                    {"=TIMEVALUE(\"abc\")", "e:#VALUE!"},
                    {"=TIMEVALUE(0.5)", "e:#VALUE!"},
                });
  // A day or more keeps only the time of day.
  eval("", "=TIMEVALUE(\"30:00\")");
  EXPECT_NEAR(numberAt("Z100"), 0.25, 1e-12);
}

TEST_F(DateTimeFunctions, NowTakesTheRecalculationInstantElseTheClock) {
  installLocale(nullptr, &clock_);
  build("A1: =NOW()\nA2: =TODAY()");
  EXPECT_NEAR(numberAt("A1"), 45458 + 9.5 / 24, 1e-9);
  EXPECT_EQ(valueOf("A2"), "i:45458");
  engine_->nowOverride = 45000.25;
  engine_->recalculation().computeAll();
  EXPECT_NEAR(numberAt("A1"), 45000.25, 1e-12);
  EXPECT_EQ(valueOf("A2"), "i:45458");
  EXPECT_EQ(eval1904("=TODAY()"), "i:43996");
}

TEST_F(DateTimeFunctions, YearfracChecksDatesThenAsksTheHost) {
  eval("", "=YEARFRAC(43831,\"2021-01-01\",1)");
  ASSERT_EQ(host_.functionCalls.size(), 1u);
  EXPECT_EQ(host_.functionCalls[0].number, 451);
  EXPECT_EQ(host_.functionCalls[0].count, 3);
  eval("", "=YEARFRAC(43831,44197)");
  ASSERT_EQ(host_.functionCalls.size(), 1u);
  EXPECT_EQ(host_.functionCalls[0].count, 3);
  for (const char* formula : {"=YEARFRAC(TRUE,44197)", "=YEARFRAC(43831,\"x\")"}) {
    EXPECT_EQ(eval("", formula), "e:#VALUE!") << formula;
    EXPECT_TRUE(host_.functionCalls.empty()) << formula;
  }
  EXPECT_EQ(eval("", "=YEARFRAC(-1,44197)"), "e:#NUM!");
  EXPECT_TRUE(host_.functionCalls.empty());
}

}  // namespace
}  // namespace korvel
