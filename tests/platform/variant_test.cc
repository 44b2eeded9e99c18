#include "platform/variant.h"

#include <gtest/gtest.h>

namespace korvel {
namespace {

TEST(Variant, CopiesArraysDeeplyAndComparesByContent) {
  VariantArray a = VariantArray::twoDimensions(2, 3);
  a.at(1, 1) = Variant::i4(7);
  a.at(2, 3) = Variant::text(u"x");
  Variant v = Variant::array(std::move(a));
  Variant copy = v;
  copy.array().at(1, 1) = Variant::r8(1.5);
  EXPECT_EQ(v.array().at(1, 1), Variant::i4(7));
  EXPECT_EQ(copy.array().at(2, 3), Variant::text(u"x"));
  EXPECT_FALSE(v == copy);
  copy.array().at(1, 1) = Variant::i4(7);
  EXPECT_TRUE(v == copy);
}

TEST(Variant, KindsKeepTheirAutomationMeaning) {
  EXPECT_TRUE(Variant::missing().isMissing());
  EXPECT_FALSE(Variant::error(0x800A07FA).isMissing());
  EXPECT_EQ(Variant::boolean(true).integer(), -1);
  EXPECT_TRUE(Variant::ui4(4000000000u).isInteger());
  EXPECT_EQ(Variant::ui4(4000000000u).integer(), 4000000000);
  EXPECT_FALSE(Variant::r8(1).isInteger());
  EXPECT_FALSE(Variant::i2(1) == Variant::i4(1));
  VariantArray row = VariantArray::oneDimension(3, 0);
  row.at(2) = Variant::boolean(false);
  EXPECT_EQ(row.elements[2], Variant::boolean(false));
}

}  // namespace
}  // namespace korvel
