#include "platform/xloper.h"

#include <gtest/gtest.h>

#include <string>

namespace korvel {
namespace {

TEST(Xloper, StringsAreCountedAndCutAt255) {
  struct Case {
    size_t length;
    size_t kept;
  } cases[] = {{0, 0}, {1, 1}, {255, 255}, {256, 255}, {300, 255}};
  for (const Case& c : cases) {
    std::string text(c.length, 'a');
    if (c.length > 0) text.back() = 'z';
    Xloper x = Xloper::string(text);
    EXPECT_EQ(x.xltype(), kXltypeStr);
    EXPECT_EQ(x.counted(), text.substr(0, c.kept)) << c.length;
  }
  // The count covers embedded zero bytes; the text stops at the first one.
  Xloper zero = Xloper::string(std::string("ab\0cd", 5));
  EXPECT_EQ(zero.counted().size(), 5u);
  EXPECT_EQ(zero.text(), "ab");
}

TEST(Xloper, TypeWordCarriesTheOwnershipFlagsApart) {
  Xloper x = Xloper::string("name");
  x.setFlags(kXlbitXLFree);
  EXPECT_EQ(x.xltype(), kXltypeStr | kXlbitXLFree);
  EXPECT_EQ(x.type(), kXltypeStr);
  EXPECT_TRUE(x.is(kXltypeStr));
  EXPECT_EQ(x.text(), "name");
  x.setFlags(kXlbitDLLFree | 0x0001);  // only ownership bits are taken
  EXPECT_EQ(x.xltype(), kXltypeStr | kXlbitDLLFree);
  EXPECT_NE(x, Xloper::string("name"));
  x.setFlags(0);
  EXPECT_EQ(x, Xloper::string("name"));
}

TEST(Xloper, AccessorsAnswerOnlyForTheirOwnType) {
  EXPECT_EQ(Xloper().xltype(), kXltypeNil);
  EXPECT_EQ(Xloper::number(2.5).num(), 2.5);
  EXPECT_TRUE(Xloper::boolean(true).boolean());
  EXPECT_EQ(Xloper::error(kXlerrNA).err(), kXlerrNA);
  EXPECT_EQ(Xloper::integer(-3).integer(), -3);
  EXPECT_EQ(Xloper::missing().xltype(), kXltypeMissing);
  EXPECT_EQ(Xloper::integer(7).num(), 0);
  EXPECT_FALSE(Xloper::integer(1).boolean());
  EXPECT_EQ(Xloper::number(1).text(), "");
  EXPECT_TRUE(Xloper::number(1).rects().empty());
  EXPECT_TRUE(Xloper::string("x").elements().empty());
  EXPECT_NE(Xloper::integer(1), Xloper::boolean(true));
}

TEST(Xloper, ReferencesAndArraysCopyDeeply) {
  XlRect a{0, 9, 1, 2}, b{4, 4, 0, 0};
  Xloper ref = Xloper::reference(77, {a, b});
  EXPECT_EQ(ref.sheetId(), 77u);
  EXPECT_EQ(ref.rects(), (std::vector<XlRect>{a, b}));
  EXPECT_EQ(Xloper::smallReference(b).rects(), std::vector<XlRect>{b});

  Xloper multi = Xloper::multi(2, 2, {Xloper::number(1), Xloper::string("two"), ref});
  ASSERT_EQ(multi.elements().size(), 4u);  // the missing fourth element is nil
  EXPECT_EQ(multi.elements()[3].xltype(), kXltypeNil);
  Xloper copy = multi;
  { Xloper gone = std::move(multi); }
  EXPECT_EQ(copy.rows(), 2);
  EXPECT_EQ(copy.elements()[1].text(), "two");
  EXPECT_EQ(copy.elements()[2], ref);
  EXPECT_EQ(copy, Xloper::multi(2, 2, {Xloper::number(1), Xloper::string("two"), ref, {}}));
  EXPECT_NE(copy, Xloper::multi(2, 2, {Xloper::number(1), Xloper::string("three"), ref, {}}));
  EXPECT_EQ(Xloper::multi(1, 1, {Xloper::number(1), Xloper::number(2)}).elements().size(), 1u);
}

}  // namespace
}  // namespace korvel
