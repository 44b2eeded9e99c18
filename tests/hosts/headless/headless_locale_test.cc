#include "hosts/headless/headless_locale.h"

#include <gtest/gtest.h>

namespace korvel {
namespace {

TEST(HeadlessLocale, DefaultsToEnglishUnitedStates) {
  HeadlessLocale locale;
  UserLocale l = locale.userLocale();
  EXPECT_EQ(l.decimalSeparator, u'.');
  EXPECT_EQ(l.currencySymbol, u"$");
  EXPECT_EQ(l.longDateOrder, 0);
  EXPECT_EQ(l.monthNames[0], u"January");
  EXPECT_EQ(l.abbreviatedMonthNames[11], u"Dec");
}

TEST(HeadlessLocale, CollatesCaseInsensitivelyWithOrWithoutSystemLocales) {
  HeadlessLocale locale;
  for (const char16_t* language : {u"English", u"German", u"Klingon"}) {
    locale.setCollationLanguage(language);
    EXPECT_EQ(locale.collateNoCase(u"abc", u"ABC"), 0);
    EXPECT_LT(locale.collateNoCase(u"apple", u"Banana"), 0);
    EXPECT_GT(locale.collateNoCase(u"b", u"A"), 0);
  }
}

}  // namespace
}  // namespace korvel
