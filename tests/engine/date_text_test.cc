#include "engine/date_text.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/locale_settings.h"
#include "hosts/headless/system_clock.h"
#include "util/text.h"

namespace korvel {
namespace {

using Found = DateTimeParts::Found;

class DateTextTest : public ::testing::Test {
 protected:
  void SetUp() override { installLocale(nullptr, &clock_); }
  void TearDown() override { resetLocaleSettings(); }

  FixedClock clock_{LocalTime{2024, 6, 15, 9, 30, 0, 0}};
};

TEST_F(DateTextTest, AppliesTheTwoDigitYearRule) {
  const int cases[][2] = {{0, 2000},    {29, 2029},   {30, 1930},  {99, 1999},
                          {100, 100},   {101, 2001},  {199, 2099}, {200, 200},
                          {1899, 1899}, {2024, 2024}, {-1, -1}};
  for (const auto& c : cases) EXPECT_EQ(twoDigitYear(c[0]), c[1]) << c[0];
}

TEST_F(DateTextTest, CountsSerialsOfBothDateSystems) {
  struct Case {
    int year, month, day;
    bool date1904;
    double serial;
  } cases[] = {
      {1900, 1, 1, false, 1},       {1900, 1, 31, false, 31},       {1900, 2, 28, false, 59},
      {1900, 2, 29, false, 60},     {1900, 3, 1, false, 61},        {1904, 1, 1, false, 1462},
      {2000, 2, 29, false, 36585},  {2010, 1, 15, false, 40193},    {2024, 6, 15, false, 45458},
      {2099, 12, 31, false, 73050}, {2100, 2, 28, false, 73109},    {2100, 3, 1, false, 73110},
      {2400, 2, 29, false, 182682}, {9999, 12, 31, false, 2958465}, {1904, 1, 1, true, 0},
      {1904, 1, 2, true, 1},        {2010, 1, 15, true, 38731},     {10, 1, 15, false, 40193},
      {150, 1, 1, false, 54789},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(dateSerial(c.year, c.month, c.day, 0, 0, 0, c.date1904), c.serial)
        << c.year << "-" << c.month << "-" << c.day << (c.date1904 ? " (1904)" : "");
  }
  EXPECT_DOUBLE_EQ(dateSerial(1900, 1, 1, 18, 0, 0, false), 1.75);
  EXPECT_DOUBLE_EQ(dateSerial(2010, 1, 15, 12, 30, 30, false), 40193 + 45030.0 / 86400);
}

TEST_F(DateTextTest, LooksUpMonthNames) {
  EXPECT_EQ(abbreviatedMonthNumber(u"jan"), 1);
  EXPECT_EQ(abbreviatedMonthNumber(u"DEC"), 12);
  EXPECT_EQ(abbreviatedMonthNumber(u"Janu"), 0);
  EXPECT_EQ(abbreviatedMonthNumber(u""), 0);
  EXPECT_EQ(fullMonthNumber(u"sept"), 9);
  EXPECT_EQ(fullMonthNumber(u"MAR"), 3);
  EXPECT_EQ(fullMonthNumber(u"Ma"), 0);
  EXPECT_EQ(fullMonthNumber(u"Januaryx"), 0);
  EXPECT_EQ(fullMonthNumber(u""), 0);
  setUserLocale(UserLocale::germanGermany());
  EXPECT_EQ(abbreviatedMonthNumber(u"MÄR"), 3);
  EXPECT_EQ(fullMonthNumber(u"märz"), 3);
  EXPECT_EQ(fullMonthNumber(u"Dezem"), 12);
  EXPECT_EQ(abbreviatedMonthNumber(u"Dec"), 0);
}

struct RecognizeCase {
  const char16_t* text;
  Found found;
  int year, month, day, hour, minute;
  double seconds;
};

void expectRecognized(const RecognizeCase* begin, const RecognizeCase* end) {
  for (const RecognizeCase* c = begin; c != end; ++c) {
    DateTimeParts p = recognizeDateTime(c->text);
    SCOPED_TRACE(toUtf8(c->text));
    ASSERT_EQ(int(p.found), int(c->found));
    if (c->found == Found::kDate) {
      EXPECT_EQ(p.year, c->year);
      EXPECT_EQ(p.month, c->month);
      EXPECT_EQ(p.day, c->day);
    }
    if (c->found != Found::kNothing) {
      EXPECT_EQ(p.hour, c->hour);
      EXPECT_EQ(p.minute, c->minute);
      EXPECT_DOUBLE_EQ(p.seconds, c->seconds);
    }
  }
}

constexpr Found kDate = Found::kDate, kTime = Found::kTimeOnly, kNo = Found::kNothing;

TEST_F(DateTextTest, RecognizesDatesOfAnEnglishUser) {
  const RecognizeCase cases[] = {
      {u"15 Jan 2010", kDate, 2010, 1, 15, 0, 0, 0},
      {u"15-january-2010", kDate, 2010, 1, 15, 0, 0, 0},
      {u"Jan 15, 2010", kDate, 2010, 1, 15, 0, 0, 0},
      {u"Jan 12, 2010", kDate, 2010, 1, 12, 0, 0, 0},
      {u"2010-03", kDate, 2010, 3, 1, 0, 0, 0},
      {u"2010-03-07", kDate, 2010, 3, 7, 0, 0, 0},
      {u"3/15", kDate, 2024, 3, 15, 0, 0, 0},
      {u"3/45", kDate, 1945, 3, 1, 0, 0, 0},
      {u"3/5", kDate, 2024, 3, 5, 0, 0, 0},
      {u"3/0", kDate, 2024, 3, 1, 0, 0, 0},
      {u"3/2010", kDate, 2010, 3, 1, 0, 0, 0},
      {u"2/29", kDate, 2029, 2, 1, 0, 0, 0},  // 29 Feb does not exist in 2029
      {u"3/15/10", kDate, 2010, 3, 15, 0, 0, 0},
      {u"12/31/99", kDate, 1999, 12, 31, 0, 0, 0},
      {u"2/29/2000", kDate, 2000, 2, 29, 0, 0, 0},
      {u"1/2/3/4", kDate, 2003, 1, 2, 0, 0, 0},
      {u"Jan 2010", kDate, 2010, 1, 1, 0, 0, 0},
      {u"Jan-10", kDate, 2010, 1, 1, 0, 0, 0},
      {u"3/15/2010 10:30", kDate, 2010, 3, 15, 10, 30, 0},
      {u"10:30 pm 3/15/2010", kDate, 2010, 3, 15, 22, 30, 0},
  };
  expectRecognized(std::begin(cases), std::end(cases));
}

TEST_F(DateTextTest, RecognizesTimes) {
  const RecognizeCase cases[] = {
      {u"10:30", kTime, 0, 0, 0, 10, 30, 0},     {u"10:30 PM", kTime, 0, 0, 0, 22, 30, 0},
      {u"10:30 am", kTime, 0, 0, 0, 10, 30, 0},  {u"12:15 PM", kTime, 0, 0, 0, 12, 15, 0},
      {u"12:15 AM", kTime, 0, 0, 0, 0, 15, 0},   {u"0:05:30.25", kTime, 0, 0, 0, 0, 5, 30.25},
      {u":30", kTime, 0, 0, 0, 0, 30, 0},        {u"10:75", kTime, 0, 0, 0, 11, 15, 0},
      {u"1:2:125.5", kTime, 0, 0, 0, 1, 4, 5.5}, {u"1:59:9999", kTime, 0, 0, 0, 4, 45, 39},
      {u"30:00", kTime, 0, 0, 0, 30, 0, 0},
  };
  expectRecognized(std::begin(cases), std::end(cases));
}

TEST_F(DateTextTest, RefusesTextsThatAreNeither) {
  const char16_t* texts[] = {
      u"",
      u"hello",
      u"1/2/3/4/5",
      u"2010",
      u"12.5",
      u"1/2/x",
      u"15 Foo 2010",
      u"Ju 15 2010",     // too short for a full name
      u"2010 Jan 15",    // a month name after a four-unit token
      u"15 2010 Jan",    // likewise
      u"15 Jan",         // day-month-year reads two parts as month and year
      u"1 2 Jan",        // a month name in the year's place
      u"Jan Feb 2010",   // two month names
      u"Jan 15,, 2010",  // only one comma may follow the day
      u"3/15 x",         // a stray word
      u"2/30/2010",      // no such day
      u"2/29/2100",      // not a leap year
      u"0/1/2010",       // no month 0
      u"13/10",          // month 13 of 2010
      u"3/123",          // day 123
      u"1/1/10000",      // beyond the calendar
      u"1/1/1234567890123456789012345678901234567890",
      u"1234567890123456789012345678901234567890/1/1",
      u"10:30 11:45",  // two times
      u"10:30 5",      // a stray number beside a time
      u"10:30:10000",  // seconds
      u"10:30:",       // empty seconds
      u"10:",          // empty minutes
      u"1:2:3:4",      // a fourth piece
      u"10:3x",
      u"13:00 PM",  // beyond a twelve-hour clock
      u"10000:00",  // hours beyond the host program's time entries
      u"99999999999999999999:00",
      u"10:30PM",  // the mark must be its own token
      u"PM",
  };
  for (const char16_t* text : texts) {
    EXPECT_EQ(int(recognizeDateTime(text).found), int(kNo)) << toUtf8(text);
  }
}

TEST_F(DateTextTest, FollowsTheUserOrderAndSeparator) {
  setUserLocale(UserLocale::germanGermany());
  const RecognizeCase cases[] = {
      {u"15.01.2010", kDate, 2010, 1, 15, 0, 0, 0},
      {u"15. Januar 2010", kDate, 2010, 1, 15, 0, 0, 0},
      {u"1. Mär 10", kDate, 2010, 3, 1, 0, 0, 0},
      {u"3.15", kDate, 2015, 3, 1, 0, 0, 0},
      {u"2010-03", kDate, 2010, 3, 1, 0, 0, 0},
      {u"15.01.2010 8:05", kDate, 2010, 1, 15, 8, 5, 0},
      {u"8:05:30,5", kTime, 0, 0, 0, 8, 5, 30.5},
  };
  expectRecognized(std::begin(cases), std::end(cases));
  // A leading month name would be read as the day: refused rather than wrong.
  EXPECT_EQ(int(recognizeDateTime(u"Jan 12 2010").found), int(kNo));

  UserLocale iso = UserLocale::englishUnitedStates();
  iso.longDateOrder = 2;
  setUserLocale(iso);
  const RecognizeCase isoCases[] = {
      {u"10/3/15", kDate, 2010, 3, 15, 0, 0, 0},
      {u"10 Mar 15", kDate, 2010, 3, 15, 0, 0, 0},
      {u"10/3", kDate, 2010, 3, 1, 0, 0, 0},
  };
  expectRecognized(std::begin(isoCases), std::end(isoCases));
}

TEST_F(DateTextTest, TakesTheCurrentYearFromTheClock) {
  clock_.set(LocalTime{1999, 1, 1, 0, 0, 0, 0});
  EXPECT_EQ(recognizeDateTime(u"3/15").year, 1999);
  resetLocaleSettings();  // no clock: the year 2000
  EXPECT_EQ(recognizeDateTime(u"3/15").year, 2000);
}

TEST_F(DateTextTest, ConvertsTextsForOperators) {
  struct Case {
    const char16_t* text;
    bool date1904;
    bool ok;
    double value;
  } cases[] = {
      {u"15 Jan 2010", false, true, 40193},
      {u"15 Jan 2010", true, true, 38731},
      {u"1/1/1900", false, true, 1},
      {u"2/29/1900", false, true, 60},  // the day the serials count, as the program reads it
      {u"2/29/1901", false, false, 0},  // otherwise the real calendar holds
      {u"1/15/2010 18:00", false, true, 40193.75},
      {u"6:00 PM", false, true, 0.75},
      {u"36:00", false, true, 1.5},
      {u"1/1/150", false, true, 54789},  // the serial applies the rule of 101-199
      {u"abc", false, false, 0},
      {u"1/2/3/4/5", false, false, 0},
  };
  for (const Case& c : cases) {
    double x = -1;
    EXPECT_EQ(dateTimeTextToNumber(c.text, c.date1904, &x), c.ok) << toUtf8(c.text);
    if (c.ok) {
      EXPECT_DOUBLE_EQ(x, c.value) << toUtf8(c.text);
    }
  }
}

TEST_F(DateTextTest, RefusesOverlongTexts) {
  std::u16string padded = u"3/15/2010" + std::u16string(503, u'/');
  EXPECT_EQ(int(recognizeDateTime(padded).found), int(kDate));
  EXPECT_EQ(int(recognizeDateTime(padded + u"x").found), int(kNo));
}

}  // namespace
}  // namespace korvel
