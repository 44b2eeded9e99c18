#include "hosts/headless/functions/number_format.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/locale_settings.h"
#include "platform/locale.h"
#include "util/text.h"

namespace korvel {
namespace {

struct FormatCase {
  double value;
  const char* format;
  const char* expected;  // null: the format refuses the value
};

std::string formatted(double x, const char* format, bool date1904 = false) {
  std::u16string out;
  if (!formatNumber(x, fromUtf8(format), date1904, &out)) return "(refused)";
  return toUtf8(out);
}

void expectCases(std::initializer_list<FormatCase> cases, bool date1904 = false) {
  for (const FormatCase& c : cases) {
    EXPECT_EQ(formatted(c.value, c.format, date1904), c.expected ? c.expected : "(refused)")
        << c.value << " with " << c.format;
  }
}

class NumberFormatTest : public ::testing::Test {
 protected:
  void TearDown() override { resetLocaleSettings(); }
};

TEST_F(NumberFormatTest, DigitsPointsAndSeparators) {
  expectCases({
      {1234.567, "0.00", "1234.57"},
      {2.675, "0.00", "2.68"},  // rounded on the decimal digits, not the binary value
      {1234.567, "#,##0", "1,235"},
      {1234567.891, "#,##0.00", "1,234,567.89"},
      {5, "0,000", "0,005"},
      {0.5, "#.##", ".5"},
      {5, "0.0#", "5.0"},
      {5, "0.", "5."},
      {12.5, ".00", "12.50"},
      {12, "000", "012"},
      {123456789, "000-00-0000", "123-45-6789"},
      {1234567, "00", "1234567"},
      {1.5, "?.??", "1.5 "},
      {1234567, "#,##0,\"K\"", "1,235K"},
      {1234567890, "0.0,,", "1234.6"},
      {12345678901234567.0, "0", "12345678901234600"},  // 15 significant digits
      {1e20, "#,##0", "100,000,000,000,000,000,000"},
  });
}

TEST_F(NumberFormatTest, PercentExponentsAndFractions) {
  expectCases({
      {0.5, "0%", "50%"},
      {0.125, "0.0%", "12.5%"},
      {12345, "0.00E+00", "1.23E+04"},
      {0.00012, "0.0E+0", "1.2E-4"},
      {12345, "0.0E-0", "1.2E4"},
      {12345, "0.0e+0", "1.2e+4"},
      {9.996, "0.00E+00", "1.00E+01"},
      {0, "0.00E+00", "0.00E+00"},
      {12345, "##0.0E+0", "12.3E+3"},
      // Whole places of any kind set the exponent's step; zero fills them all.
      {123456.789, "0000.0000E+0", "0012.3457E+4"},
      {0.0000123456789, "???.0E+0", " 12.3E-6"},
      {0, "#.#E+0", "0.E+0"},
      // An exponent replaces percent and thousands scaling; its sign goes to its digits.
      {123456.789, "#%E-#", "1%E5"},
      {123456.789, "#,E+#", "1E+5"},
      {0.0000123456789, "0|E+|0", "1|E|-5"},
      {1234567, "?,?????????", "    1,234,567"},  // a padded place keeps its separator's width
      {1.5, "# ?/?", "1 1/2"},
      {1.75, "# ?\?/16", "1 12/16"},
      {3.14159, "# ?\?/?\?", "3 14/99"},
      {0.3, "?/?", "2/7"},
      {2.5, "?/?", "5/2"},
      {1.98, "# ?/?", "2    "},  // the fraction rounds away: its place stays blank
  });
}

// The parts of a fraction around literals, and what a zero whole or fraction part leaves.
TEST_F(NumberFormatTest, FractionPartsAroundLiteralsAndZeros) {
  expectCases({
      {23.75, "#\\:#=/=#", "23:3=/=4"},  // literals between the numerator, slash and denominator
      {3.75, "#_#/#", "15 /4"},          // a blank is no whole part: the fraction is improper
      {0, "#_#/#", "0 /1"},
      {23.75, "#\\:? ?0#/000", "2:3  03/004"},  // the numerator is the last run of places
      {0, "#\\:? ?0#/000", ":0  00/001"},       // a "0" in the numerator shows 0/1
      {0.75, "#-#-#\\:#/#", "--3/4"},           // a zero whole drops the literal before it
      {0.75, "#\\:?=/=#", " 3=/=4"},            // ... or blanks it when padding with "?"
      {0.75, "?\\:#=/=#", "  3=/=4"},
      {0.75, "0\\:#=/=#", "0:3=/=4"},
      {0, "#\\:0=/=#", "0=/=1"},
      {0, "?\\:0=/=#", "0:0=/=1"},
      {1, "#\\:#=/=#", "1"},  // a zero fraction goes, or is blanked when a place is "?"
      {1, "#\\:#=/=?", "1      "},
      {0, "?\\:#=/=0", "0      "},
      {0, "0\\:#=/=0", "0"},
  });
}

TEST_F(NumberFormatTest, SectionsSignsAndConditions) {
  expectCases({
      {-5.5, "0.0", "-5.5"},
      {-5, "\"USD \"0", "-USD 5"},
      {-5, "0;(0)", "(5)"},
      {0, "0;-0;\"zero\"", "zero"},
      {0.001, "0;-0;\"zero\"", "0"},
      {-0.001, "0", "-0"},
      {-5, "0;", ""},
      {150, "[>100]\"big\";\"small\"", "big"},
      {50, "[>100]\"big\";\"small\"", "small"},
      {10, "[<10]#\" Wow\"", "10"},  // the only section refuses it: General
      {-11, "[=-10]#\" Wow\"", "-11"},
      {-5, "[<=100]0.0;0", "-5.0"},
      {-5, "[<0]\"minus \"0;0", "minus 5"},
      {5, "[Red]0;[Blue]-0", "5"},
      {-5, "[Red]0;[Color10]-0", "-5"},
      {5, "[$€-407]0", "€5"},
      {5, "0_)\\x**", "5 x"},
      {5, "\"Total: \"0", "Total: 5"},
      {5, "", ""},
      {-5, "@", "-5"},
  });
}

TEST_F(NumberFormatTest, GeneralShowsElevenCharacters) {
  expectCases({
      {1.0 / 3, "General", "0.333333333"},
      {0.1 + 0.2, "General", "0.3"},
      {-1234.5, "General", "-1234.5"},
      {12345678901.0, "General", "12345678901"},
      {123456789012.0, "General", "1.23457E+11"},
      {1234567890.55, "General", "1234567891"},
      {0.0001234, "General", "0.0001234"},
      {0.00001234567, "General", "1.23457E-05"},
      {1e-10, "General", "1E-10"},
      {1.23456789e100, "General", "1.2346E+100"},
      {-0.5, "general;(general)", "(0.5)"},
  });
}

TEST_F(NumberFormatTest, DatesAndTimes) {
  expectCases({
      {45000, "yyyy-mm-dd", "2023-03-15"},
      {45000, "dddd, mmmm d, yyyy", "Wednesday, March 15, 2023"},
      {45000, "ddd mmm yy", "Wed Mar 23"},
      {45000, "mmmmm", "M"},
      {45000, "d/m/y", "15/3/23"},
      {0, "yyyy-mm-dd", "1900-01-00"},
      {60, "yyyy-mm-dd", "1900-02-29"},  // the day the program keeps
      {61, "dddd d mmm", "Thursday 1 Mar"},
      {1, "dddd", "Sunday"},
      {2958465, "yyyy-mm-dd", "9999-12-31"},
      {2958466, "yyyy", nullptr},
      {-1, "yyyy", nullptr},
      {45000.5208333333, "m/d/yyyy h:mm", "3/15/2023 12:30"},
      {0.5, "h:mm AM/PM", "12:00 PM"},
      {0.25, "hh \"o'clock\" a/p", "06 o'clock a"},
      {0.75, "h:mm:ss", "18:00:00"},
      {75.0 / 86400, "mm:ss", "01:15"},
      {0.25 + 1.5 / 86400, "h:mm:ss.00", "6:00:01.50"},
      {0.99999999, "yyyy-mm-dd hh:mm:ss", "1900-01-01 00:00:00"},  // rounds to the next day
      {1.5, "[h]:mm", "36:00"},
      {3.14159, "[h]\" or \"h:mm", "75 or 75:23"},  // an elapsed unit's plain code counts the total
      {0.0854629629629629, "[s] ss", "7384 7384"},
      {2.5 / 24, "[mm]:ss", "150:00"},
      {1.0 / 1440, "[s]", "60"},
      {-1.5, "[h]:mm", "-36:00"},  // durations may be negative, times of day not
      {-0.5, "h:mm", nullptr},
      {75.0 / 86400, "s \"s\" m \"m\"", "15 s 1 m"},
  });
}

TEST_F(NumberFormatTest, The1904SystemCountsFromItsFirstDay) {
  expectCases(
      {
          {0, "yyyy-mm-dd dddd", "1904-01-01 Friday"},
          {1462, "yyyy-mm-dd", "1908-01-02"},
      },
      true);
}

TEST_F(NumberFormatTest, TextsUseTheTextSection) {
  struct TextCase {
    const char* text;
    const char* format;
    const char* expected;
  };
  for (const TextCase& c : std::initializer_list<TextCase>{
           {"abc", "0.00", "abc"},
           {"abc", "0;-0;0;\"<\"@\">\"", "<abc>"},
           {"abc", "0;@\"!\"", "abc!"},
           {"abc", "@@", "abcabc"},
           {"abc", "0;0;0;\"none\"", "none"},
       }) {
    std::u16string out;
    ASSERT_TRUE(formatText(fromUtf8(c.text), fromUtf8(c.format), &out)) << c.format;
    EXPECT_EQ(toUtf8(out), c.expected) << c.format;
  }
}

TEST_F(NumberFormatTest, CodesThatAreNoFormatsAreRefused) {
  for (const char* format : {"[Blah]0", "\"abc", "0;0;0;0;0", "[>abc]0", "[Red", "0\\"}) {
    EXPECT_EQ(formatted(1, format), "(refused)") << format;
    std::u16string out;
    EXPECT_FALSE(formatText(u"x", fromUtf8(format), &out)) << format;
  }
}

TEST_F(NumberFormatTest, ResultsFollowTheUsersSeparators) {
  setUserLocale(UserLocale::germanGermany());
  expectCases({
      {1234567.891, "#,##0.00", "1.234.567,89"},
      {1.0 / 3, "General", "0,333333333"},
      {0.25 + 1.5 / 86400, "hh:mm:ss.0", "06:00:01,5"},
  });
}

TEST_F(NumberFormatTest, FixedTextRoundsBeforeTheSignIsKnown) {
  bool zero = false;
  EXPECT_EQ(toUtf8(fixedNumberText(1234.567, 2, true, &zero)), "1,234.57");
  EXPECT_FALSE(zero);
  EXPECT_EQ(toUtf8(fixedNumberText(-1250, -2, true, &zero)), "1,300");
  EXPECT_EQ(toUtf8(fixedNumberText(-0.001, 2, false, &zero)), "0.00");
  EXPECT_TRUE(zero);
}

}  // namespace
}  // namespace korvel
