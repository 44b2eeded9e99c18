#include "engine/number_text.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <string>

#include "engine/locale_settings.h"
#include "util/text.h"

namespace korvel {
namespace {

class NumberTextTest : public ::testing::Test {
 protected:
  void TearDown() override { resetLocaleSettings(); }
};

TEST_F(NumberTextTest, ShowsFifteenSignificantDigits) {
  struct Case {
    double x;
    const char16_t* text;
  } cases[] = {
      {0.0, u"0"},
      {-0.0, u"0"},
      {std::nan(""), u"0"},
      {std::numeric_limits<double>::infinity(), u"0"},
      {-std::numeric_limits<double>::infinity(), u"0"},
      {42, u"42"},
      {-2147483648.0, u"-2147483648"},
      {2147483647.0, u"2147483647"},
      {2147483648.0, u"2147483648"},
      {123456789012.0, u"123456789012"},
      {123456789012345.0, u"123456789012345"},
      {0.1, u"0.1"},
      {1.0 / 3, u"0.333333333333333"},
      {-2.0 / 3, u"-0.666666666666667"},
      {0.1 + 0.2, u"0.3"},
      {12.5, u"12.5"},
      {1234.5678, u"1234.5678"},
      {0.001234, u"0.001234"},
      {1e-13, u"0.0000000000001"},
      {1e15, u"1E+015"},
      {1.5e20, u"1.5E+020"},
      {-1.5e20, u"-1.5E+020"},
      {1e-16, u"1E-016"},
      {1.25e-14, u"0.0000000000000125"},
      {1.25e-15, u"1.25E-015"},
      {2.0 / 3 * 1e20, u"6.66666666666667E+019"},
      {1.7976931348623157e308, u"1.79769313486232E+308"},
      {5e-324, u"4.94065645841247E-324"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(toUtf8(numberToText(c.x)), toUtf8(c.text)) << c.x;
  }
}

TEST_F(NumberTextTest, UsesTheUserDecimalSeparator) {
  setUserLocale(UserLocale::germanGermany());
  EXPECT_EQ(numberToText(12.5), u"12,5");
  EXPECT_EQ(numberToText(1.5e-20), u"1,5E-020");
  EXPECT_EQ(numberToText(-3), u"-3");
}

// The runtime switches the C library's numeric category to the workbook's language; neither
// direction of the conversion may follow it.
TEST_F(NumberTextTest, IgnoresTheCLibraryLocale) {
  const char* german = std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
  if (german == nullptr) GTEST_SKIP() << "de_DE.UTF-8 is not installed";
  EXPECT_EQ(numberToText(12.5), u"12.5");
  double x = 0;
  EXPECT_TRUE(textToNumber(u"12.5", &x));
  EXPECT_EQ(x, 12.5);
  EXPECT_FALSE(textToNumber(u"12,5", &x));
  std::setlocale(LC_NUMERIC, "C");
}

struct ReadCase {
  const char16_t* text;
  bool ok;
  double value;
};

void expectReads(const ReadCase* begin, const ReadCase* end) {
  for (const ReadCase* c = begin; c != end; ++c) {
    double x = -999;
    bool ok = textToNumber(c->text, &x);
    EXPECT_EQ(ok, c->ok) << toUtf8(c->text);
    if (ok && c->ok) {
      EXPECT_DOUBLE_EQ(x, c->value) << toUtf8(c->text);
    }
  }
}

TEST_F(NumberTextTest, ReadsThePlainForm) {
  const ReadCase cases[] = {
      {u" 12.5 ", true, 12.5}, {u"\t-7\t", true, -7},     {u"+3", true, 3},
      {u"- 3", true, -3},      {u".5", true, 0.5},        {u"5.", true, 5},
      {u"50%", true, 0.5},     {u"-12.5%", true, -0.125}, {u"1e3", true, 1000},
      {u"1E+3", true, 1000},   {u"2.5e-2", true, 0.025},  {u"1e3%", true, 10},
      {u"007", true, 7},       {u"1e-400", true, 0},      {u"", false, 0},
      {u"   ", false, 0},      {u"1 000", false, 0},      {u"3 ", true, 3},
      {u"3 -", false, 0},      {u"1,5", false, 0},        {u"1.2.3", false, 0},
      {u"%", false, 0},        {u"5%%", false, 0},        {u"%5", false, 0},
      {u"5% ", true, 0.05},    {u"1e", false, 0},         {u"1e+", false, 0},
      {u"e3", false, 0},       {u".", false, 0},          {u"-", false, 0},
      {u"+-3", false, 0},      {u"1e999", false, 0},      {u"-1e999", false, 0},
      {u"inf", false, 0},      {u"nan", false, 0},        {u"infinity", false, 0},
      {u"0x1p3", false, 0},    {u"0x10", false, 0},       {u"12abc", false, 0},
      {u"\uFF11", false, 0},  // full-width digit one
  };
  expectReads(std::begin(cases), std::end(cases));
}

TEST_F(NumberTextTest, ReadsTheCurrencyFormOfAnEnglishUser) {
  const ReadCase cases[] = {
      {u"$1,234.50", true, 1234.5},
      {u" $5 ", true, 5},
      {u"-$5", true, -5},
      {u"$-5", true, -5},
      {u"€12", true, 12},
      {u"1,234", true, 1234},
      {u"1,234,567.5", true, 1234567.5},
      {u"$1e3", true, 1000},
      {u"$1.5E3", true, 1500},
      {u"$1E3.5", false, 0},
      {u"$1e-3", false, 0},
      {u"1,5", false, 0},
      {u"12,34", false, 0},
      {u"1,2345", false, 0},
      {u"123,", false, 0},
      {u"1,,234", false, 0},
      {u",123", false, 0},
      {u"-,123", false, 0},
      {u"1,.5", false, 0},
      {u"$", false, 0},
      {u"$ ", false, 0},
      {u"$$5", false, 0},
      {u"5$", false, 0},
      {u"$5-", false, 0},
      {u"$1.2.3", false, 0},
      {u"$5%", false, 0},
      {u"$inf", false, 0},
      {u"$1e999", false, 0},
  };
  expectReads(std::begin(cases), std::end(cases));
}

TEST_F(NumberTextTest, ReadsTheFormsOfAGermanUser) {
  setUserLocale(UserLocale::germanGermany());
  const ReadCase cases[] = {
      {u"1.234,50 €", true, 1234.5}, {u"5€", true, 5},        {u"-5 €", true, -5},
      {u"12,5", true, 12.5},         {u"12,5%", true, 0.125}, {u"1.234", true, 1234},
      {u"12.5", false, 0},           {u"€5", false, 0},       {u"$5", false, 0},
      {u"5 € €", false, 0},
  };
  expectReads(std::begin(cases), std::end(cases));
}

TEST_F(NumberTextTest, ReadsASymbolAfterASignAndLongerSymbols) {
  UserLocale swiss = UserLocale::englishUnitedStates();
  swiss.currencySymbol = u"CHF";
  swiss.currencyPosition = 2;
  swiss.monetaryThousandsSeparator = u"'";
  setUserLocale(swiss);
  const ReadCase cases[] = {
      {u"CHF 1'234.50", true, 1234.5},
      {u"-CHF5", true, -5},
      {u"$5", true, 5},
      {u"5 CHF", false, 0},
      {u"1,234", false, 0},
  };
  expectReads(std::begin(cases), std::end(cases));
}

TEST_F(NumberTextTest, RoundTripsItsOwnTexts) {
  const double numbers[] = {0.1, 1.0 / 3, 123456.789, -4.5e-20, 9.87654321e100, 2147483648.0};
  for (double x : numbers) {
    double back = 0;
    ASSERT_TRUE(textToNumber(numberToText(x), &back)) << x;
    EXPECT_NEAR(back, x, std::fabs(x) * 1e-14) << x;
  }
}

TEST_F(NumberTextTest, RefusesOverlongTexts) {
  double x = 0;
  std::u16string digits = std::u16string(511, u'0') + u"1";
  EXPECT_TRUE(textToNumber(digits, &x));
  EXPECT_EQ(x, 1);
  EXPECT_FALSE(textToNumber(u"0" + digits, &x));
  // A long run of spaces around a number is trimmed before the length counts.
  EXPECT_TRUE(textToNumber(std::u16string(600, u' ') + u"7" + std::u16string(600, u' '), &x));
  EXPECT_EQ(x, 7);
  // Only the first 512 units would look like a number; the whole text is not one.
  EXPECT_FALSE(textToNumber(std::u16string(512, u'1') + u"abc", &x));
}

}  // namespace
}  // namespace korvel
