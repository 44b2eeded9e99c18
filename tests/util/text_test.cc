#include "util/text.h"

#include <gtest/gtest.h>

namespace korvel {
namespace {

TEST(Utf, RoundTripsAndRepairsBadInput) {
  EXPECT_EQ(fromUtf8("Gr\xC3\xBC\xC3\x9F"
                     "e \xE2\x82\xAC"),
            u"Grüße €");
  EXPECT_EQ(toUtf8(u"Grüße €"),
            "Gr\xC3\xBC\xC3\x9F"
            "e \xE2\x82\xAC");
  EXPECT_EQ(fromUtf8("a\xFF"
                     "b"),
            u"a\uFFFDb");
  EXPECT_EQ(toUtf8(std::u16string(u"x") + char16_t(0xD800)), "x\xEF\xBF\xBD");
  EXPECT_EQ(fromUtf8(toUtf8(u"\U0001F600")), u"\U0001F600");
  EXPECT_FALSE(isValidUtf8("\xC3"));
}

TEST(CaseFolding, ComparesAcrossScripts) {
  struct Case {
    std::u16string a, b;
    int expected;
  } cases[] = {
      {u"abc", u"ABC", 0},   {u"straße", u"STRAßE", 0}, {u"ÄÖÜ", u"äöü", 0},
      {u"łódź", u"ŁÓDŹ", 0}, {u"привет", u"ПРИВЕТ", 0}, {u"σοφός", u"ΣΟΦΌΣ", 0},
      {u"a", u"B", -1},      {u"b", u"A", 1},           {u"ab", u"abc", -1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(compareNoCase(c.a, c.b), c.expected) << toUtf8(c.a) << " " << toUtf8(c.b);
  }
  EXPECT_TRUE(startsWithNoCase(u"January", u"jan"));
  EXPECT_FALSE(startsWithNoCase(u"Ja", u"jan"));
}

TEST(Split, KeepsOrDropsEmptyPieces) {
  EXPECT_EQ(split(u"a;;b", u";"), (std::vector<std::u16string>{u"a", u"", u"b"}));
  EXPECT_EQ(split(u"1/2-3 ", u"/- ", true), (std::vector<std::u16string>{u"1", u"2", u"3"}));
  EXPECT_EQ(trim(u" \t x y\t "), u"x y");
  EXPECT_EQ(trim(u"   "), u"");
}

}  // namespace
}  // namespace korvel
