#include <string>

#include "tests/hosts/headless/functions/host_function_test_support.h"

namespace korvel {
namespace {

class HostDateFunctionsTest : public HostFunctionTest {
 protected:
  void expectAll(const std::string& inputs, const std::vector<FormulaCase>& cases) {
    for (const FormulaCase& c : cases) {
      EXPECT_EQ(eval(inputs, c.formula), c.expected) << c.formula;
    }
  }

  // The formula calculated again in the 1904 date system.
  std::string eval1904(const std::string& formula) {
    build("Z100: " + formula + "\n");
    engine_->date1904 = true;
    engine_->recalculation().computeAll();
    return valueOf("Z100");
  }
};

// 1 January 2024 (serial 45292) is a Monday.
TEST_F(HostDateFunctionsTest, DaysAndDays360) {
  expectAll("", {
                    {"=DAYS(DATE(2021,3,15),DATE(2021,2,1))", "i:42"},
                    {"=DAYS(\"2021-02-01\",DATE(2021,3,15.7))", "i:-42"},
                    {"=DAYS(-1,1)", "e:#NUM!"},
                    {"=DAYS(\"soon\",1)", "e:#VALUE!"},
                    // An end on the 31st stays there unless the start is on the 30th or 31st.
                    {"=DAYS360(DATE(2011,1,1),DATE(2011,1,31))", "i:30"},
                    {"=DAYS360(DATE(2011,1,1),DATE(2011,1,31),TRUE)", "i:29"},
                    {"=DAYS360(DATE(2011,1,30),DATE(2011,12,31))", "i:330"},
                    // The last day of February counts as the 30th at the start only.
                    {"=DAYS360(DATE(2008,2,29),DATE(2008,3,31))", "i:30"},
                    {"=DAYS360(DATE(2008,2,29),DATE(2008,3,31),TRUE)", "i:31"},
                    {"=DAYS360(DATE(2011,2,28),DATE(2012,2,29))", "i:359"},
                    {"=DAYS360(DATE(2012,1,31),DATE(2011,1,1))", "i:-389"},
                    {"=DAYS360(1,2,\"maybe\")", "e:#VALUE!"},
                    // DAYS drops the time of day; DAYS360 rounds it to the second first.
                    {"=DAYS(46000.999999,45992.000001)", "i:8"},
                    {"=DAYS360(45992.000001,46000.999999)", "i:9"},
                });
}

TEST_F(HostDateFunctionsTest, WeekNumbers) {
  expectAll("", {
                    {"=WEEKNUM(DATE(2024,1,6))", "i:1"},
                    {"=WEEKNUM(DATE(2024,1,7))", "i:2"},
                    {"=WEEKNUM(DATE(2024,1,7),2)", "i:1"},
                    {"=WEEKNUM(DATE(2024,1,7),11)", "i:1"},
                    {"=WEEKNUM(DATE(2024,1,8),2)", "i:2"},
                    // 1 January 2021 is a Friday: a week starting on Saturday begins on the 2nd.
                    {"=WEEKNUM(DATE(2021,1,1),16)", "i:1"},
                    {"=WEEKNUM(DATE(2021,1,2),16)", "i:2"},
                    {"=WEEKNUM(DATE(2021,1,2),15)", "i:1"},
                    {"=WEEKNUM(DATE(2024,12,31))", "i:53"},
                    {"=WEEKNUM(DATE(2021,1,1),21)", "i:53"},
                    {"=WEEKNUM(DATE(2021,1,1),3)", "e:#NUM!"},
                    {"=WEEKNUM(TRUE)", "e:#VALUE!"},
                    {"=ISOWEEKNUM(DATE(2021,1,1))", "i:53"},
                    {"=ISOWEEKNUM(DATE(2021,1,4))", "i:1"},
                    {"=ISOWEEKNUM(DATE(2024,12,30))", "i:1"},
                    {"=ISOWEEKNUM(DATE(2026,12,31))", "i:53"},
                    {"=ISOWEEKNUM(-3)", "e:#NUM!"},
                });
}

TEST_F(HostDateFunctionsTest, TimeAndItsParts) {
  expectAll("A1: \"18:30\"\n", {
                                   {"=TIME(12,0,0)", "n:0.5"},
                                   {"=TIME(27,0,0)", "n:0.125"},
                                   {"=TIME(7,-60,0)", "n:0.25"},
                                   {"=TIME(TRUE,\"0\",)", "n:0.0416666666666667"},
                                   {"=TIME(0,-1,0)", "e:#NUM!"},
                                   {"=TIME(32768,0,0)", "e:#NUM!"},
                                   {"=TIME(\"noon\",0,0)", "e:#VALUE!"},
                                   {"=HOUR(A1)", "i:18"},
                                   {"=MINUTE(A1)", "i:30"},
                                   {"=HOUR(45292.75)", "i:18"},
                                   // The time of day rounds to the second.
                                   {"=HOUR(TIME(10,59,59)+0.6/86400)", "i:11"},
                                   {"=MINUTE(TIME(10,59,59)+0.6/86400)", "i:0"},
                                   {"=SECOND(TIME(10,59,59)+0.4/86400)", "i:59"},
                                   {"=HOUR(0.9999999)", "i:0"},
                                   {"=SECOND(TRUE)", "i:0"},
                                   {"=HOUR(-0.5)", "e:#NUM!"},
                                   {"=MINUTE(\"late\")", "e:#VALUE!"},
                               });
}

TEST_F(HostDateFunctionsTest, NetworkDays) {
  // Holidays: 1 and 15 January 2024 (a time of day on the 15th), 6 January (a Saturday).
  const std::string holidays = "A1: 45292\nA2: 45306.5\nA4: 45297\n";
  expectAll(holidays,
            {
                {"=NETWORKDAYS(DATE(2024,1,1),DATE(2024,1,31))", "i:23"},
                {"=NETWORKDAYS(DATE(2024,1,31),DATE(2024,1,1))", "i:-23"},
                {"=NETWORKDAYS(DATE(2024,1,1),DATE(2024,1,31),A1)", "i:22"},
                {"=NETWORKDAYS(DATE(2024,1,1),DATE(2024,1,31),A2)", "i:22"},
                {"=NETWORKDAYS(DATE(2024,1,1),DATE(2024,1,31),A4)", "i:23"},
                {"=NETWORKDAYS.INTL(DATE(2024,1,1),DATE(2024,1,31),\"0000011\",A1)", "i:22"},
                {"=NETWORKDAYS(DATE(2024,1,6),DATE(2024,1,7))", "i:0"},
                {"=NETWORKDAYS(\"2024-01-01\",\"2024-01-05\")", "i:5"},
                {"=NETWORKDAYS.INTL(DATE(2024,1,1),DATE(2024,1,31),11)", "i:27"},
                {"=NETWORKDAYS.INTL(DATE(2024,1,1),DATE(2024,1,31),7)", "i:23"},
                {"=NETWORKDAYS.INTL(DATE(2024,1,1),DATE(2024,1,31),\"0000011\")", "i:23"},
                {"=NETWORKDAYS.INTL(DATE(2024,1,1),DATE(2024,1,31),\"1111100\")", "i:8"},
                {"=NETWORKDAYS.INTL(DATE(2024,1,1),DATE(2024,1,31),\"1111111\")", "i:0"},
                {"=NETWORKDAYS.INTL(DATE(2024,1,1),DATE(2024,1,31),\"000011\")", "e:#VALUE!"},
                {"=NETWORKDAYS.INTL(DATE(2024,1,1),DATE(2024,1,31),\"0000012\")", "e:#VALUE!"},
                {"=NETWORKDAYS.INTL(DATE(2024,1,1),DATE(2024,1,31),8)", "e:#NUM!"},
                {"=NETWORKDAYS(TRUE,DATE(2024,1,31))", "e:#VALUE!"},
                {"=NETWORKDAYS(-1,DATE(2024,1,31))", "e:#NUM!"},
            });
}

TEST_F(HostDateFunctionsTest, WorkDay) {
  // Holidays: 2 January and 25 December 2024 (working days), 6 January (a Saturday), 2 January
  // again with a time of day, and an empty cell.
  const std::string holidays =
      "A1: 45293\nA2: 45651\nA3: 45297\nA4: 45293.5\nB1: \"someday\"\nB2: #N/A\n";
  expectAll(holidays, {
                          {"=WORKDAY(DATE(2024,1,5),1)", "i:45299"},
                          {"=WORKDAY(DATE(2024,1,8),-1)", "i:45296"},
                          {"=WORKDAY(DATE(2024,1,6),0)", "i:45297"},
                          {"=WORKDAY(DATE(2024,1,6),1.9)", "i:45299"},
                          {"=WORKDAY(DATE(2024,1,1),1,A1)", "i:45294"},
                          // Whole weeks are skipped at once; the holidays in them still count.
                          {"=WORKDAY(DATE(2024,1,1),260)", "i:45656"},
                          {"=WORKDAY(DATE(2024,1,1),260,A1:A5)", "i:45658"},
                          {"=WORKDAY(DATE(2024,12,30),-260)", "i:45292"},
                          {"=WORKDAY(DATE(2024,12,30),-260,A1:A5)", "i:45288"},
                          {"=WORKDAY(DATE(2024,1,1),3,{45293,45294})", "i:45299"},
                          {"=WORKDAY.INTL(DATE(2024,1,5),1,7)", "i:45298"},
                          {"=WORKDAY.INTL(DATE(2024,1,5),2,\"0000000\")", "i:45298"},
                          {"=WORKDAY.INTL(DATE(2024,1,5),1,\"1111111\")", "e:#VALUE!"},
                          {"=WORKDAY.INTL(DATE(2024,1,5),1,0)", "e:#NUM!"},
                          {"=WORKDAY(DATE(2024,1,1),1,B1)", "e:#VALUE!"},
                          {"=WORKDAY(DATE(2024,1,1),1,A1:B2)", "e:#VALUE!"},
                          {"=WORKDAY(DATE(2024,1,1),1,B2)", "e:#N/A"},
                          {"=WORKDAY(TRUE,1)", "e:#VALUE!"},
                          {"=WORKDAY(DATE(2024,1,1),TRUE)", "e:#VALUE!"},
                          {"=WORKDAY(3,-5)", "e:#NUM!"},
                          {"=WORKDAY(DATE(9999,12,31),1)", "e:#NUM!"},
                          {"=WORKDAY(1,1E+300)", "e:#NUM!"},
                      });
}

TEST_F(HostDateFunctionsTest, YearFractionBases) {
  expectAll("", {
                    {"=ROUND(YEARFRAC(DATE(2012,1,1),DATE(2012,7,30)),9)", "n:0.580555556"},
                    {"=ROUND(YEARFRAC(DATE(2012,1,1),DATE(2012,7,30),1),9)", "n:0.576502732"},
                    {"=ROUND(YEARFRAC(DATE(2012,1,1),DATE(2012,7,30),2),9)", "n:0.586111111"},
                    {"=ROUND(YEARFRAC(DATE(2012,1,1),DATE(2012,7,30),3),9)", "n:0.578082192"},
                    {"=ROUND(YEARFRAC(DATE(2012,7,30),DATE(2012,1,1),4),9)", "n:0.580555556"},
                    // Both ends on the last day of February: a whole 30/360 year.
                    {"=YEARFRAC(DATE(2011,2,28),DATE(2012,2,29))", "i:1"},
                    {"=ROUND(YEARFRAC(DATE(2011,2,28),DATE(2012,2,29),4),9)", "n:1.002777778"},
                    // Within a year that reaches a 29 February: 366 days.
                    {"=ROUND(YEARFRAC(DATE(2011,12,15),DATE(2012,3,1),1),9)", "n:0.210382514"},
                    {"=ROUND(YEARFRAC(DATE(2011,3,1),DATE(2012,2,28),1),9)", "n:0.997260274"},
                    // Longer spans: the average year of the years touched.
                    {"=ROUND(YEARFRAC(DATE(2010,6,1),DATE(2013,6,1),1),9)", "n:3.000684463"},
                    {"=YEARFRAC(DATE(2012,1,1),DATE(2012,7,30),5)", "e:#NUM!"},
                    {"=YEARFRAC(DATE(2012,1,1),DATE(2012,7,30),\"x\")", "e:#VALUE!"},
                    {"=YEARFRAC(TRUE,DATE(2012,7,30))", "e:#VALUE!"},
                });
}

// The 1900 system counts a 29 February 1900 and calls serial 1 a Sunday; the 1904 system starts
// on Friday 1 January 1904.
TEST_F(HostDateFunctionsTest, DateSystems) {
  expectAll("", {
                    {"=DAYS360(59,61)", "i:3"},
                    {"=DAYS360(60,61)", "i:1"},
                    {"=DAYS360(60,61,TRUE)", "i:2"},
                    {"=WEEKNUM(8)", "i:2"},
                    {"=NETWORKDAYS(1,7)", "i:5"},
                    {"=WORKDAY(59,1)", "i:60"},
                });
  EXPECT_EQ(eval1904("=WEEKNUM(2)"), "i:2");
  EXPECT_EQ(eval1904("=WORKDAY(0,1)"), "i:3");
  EXPECT_EQ(eval1904("=YEARFRAC(0,366,1)"), "i:1");
  EXPECT_EQ(eval1904("=ISOWEEKNUM(0)"), "i:53");
}

TEST_F(HostDateFunctionsTest, CellQuestionsLeftToTheHost) {
  const std::vector<FormulaCase> cases = {
      {"=CELL(\"row\",C5)", "i:5"},
      {"=CELL(\"col\",C5:D9)", "i:3"},
      {"=CELL(\"contents\",C5)", "t:abc"},
      {"=CELL(\"contents\",Other!B2)", "i:7"},
      {"=CELL(\"filename\",Other!B2)", "t:[Book]Other"},
      {"=CELL(\"prefix\",C5)", "t:'"},
      {"=CELL(\"prefix\",Other!B2)", "t:"},
      {"=CELL(\"format\",C5)", "t:G"},
      {"=CELL(\"row\")", "i:100"},
      {"=CELL(\"colour\",C5)", "e:#VALUE!"},
      {"=INFO(\"numfile\")", "i:2"},
      {"=INFO(\"recalc\")", "t:Automatic"},
      {"=INFO(\"memavail\")", "e:#N/A"},
      {"=INFO(\"nonsense\")", "e:#VALUE!"},
  };
  for (const FormulaCase& c : cases) {
    build(std::string("[Other]\nB2: 7\n[Sheet1]\nC5: \"abc\"\nZ100: ") + c.formula + "\n");
    EXPECT_EQ(valueOf("Sheet1!Z100"), c.expected) << c.formula;
  }
}

// Widths as a package stores them: B:D 12 and G 10.86 on Sheet1 (sheet 1, after Other); Other
// with a default width of 10 characters and its padding.
TEST_F(HostDateFunctionsTest, CellWidthShowsTheColumnsWholeCharacters) {
  columnWidths_ = {{1, 1, 3, 12}, {1, 6, 6, 10.85546875}};
  defaultColumnWidths_ = {{0, 10 + 5.0 / 7}};
  const std::vector<FormulaCase> cases = {
      {"=CELL(\"width\",C5)", "i:11"},
      {"=CELL(\"width\",B:B)", "i:11"},
      {"=CELL(\"width\",G1)", "i:10"},
      {"=CELL(\"width\",A1)", "i:8"},  // the standard width
      {"=CELL(\"width\",Other!B2)", "i:10"},
      {"=CELL(\"width\")", "i:8"},  // the formula's own column, Z
  };
  for (const FormulaCase& c : cases) {
    build(std::string("[Other]\nB2: 7\n[Sheet1]\nC5: \"abc\"\nZ100: ") + c.formula + "\n");
    EXPECT_EQ(valueOf("Sheet1!Z100"), c.expected) << c.formula;
  }
  // An array formula gets whether the column has the default width too.
  build("[Other]\nB2: 7\n[Sheet1]\nA1:B1: {=CELL(\"width\",C5)}\nA2:B2: {=CELL(\"width\",Z5)}\n");
  EXPECT_EQ(valueOf("Sheet1!A1"), "a:{11,FALSE}");
  EXPECT_EQ(valueOf("Sheet1!A2"), "a:{8,TRUE}");
}

}  // namespace
}  // namespace korvel
