#include "engine/value_variant.h"

#include <gtest/gtest.h>

#include "engine/locale_settings.h"
#include "engine/value_convert.h"
#include "tests/engine/value_test_support.h"
#include "util/text.h"

namespace korvel {
namespace {

class ValueVariant : public ::testing::Test {
 protected:
  void SetUp() override { resetLocaleSettings(); }
  void TearDown() override { resetLocaleSettings(); }
};

TEST_F(ValueVariant, ScalarsToVariants) {
  ValueArray list;
  list.appendElement(Value::reference(CellRef::at(0, 0, 0), CellRef::at(0, 0, 0)));
  Value listValue;
  listValue.setReferenceList(list);
  struct Case {
    Value value;
    Variant variant;
  } cases[] = {
      {Value(), Variant()},
      {Value::integer(-7), Variant::i4(-7)},
      {Value::number(2.5), Variant::r8(2.5)},
      {Value::boolean(true), Variant::boolean(true)},
      {Value::boolean(false), Variant::boolean(false)},
      {Value::error(kErrorNum), Variant::error(kErrorNum)},
      {Value::error(0x800A07D1), Variant()},
      {Value::text(u"abc"), Variant::text(u"abc")},
      {Value::reference(CellRef::at(0, 1, 1), CellRef::at(0, 2, 2)), Variant()},
      {listValue, Variant()},
  };
  for (const auto& c : cases)
    EXPECT_EQ(toVariant(c.value, true), c.variant) << toUtf8(toText(c.value));
  EXPECT_EQ(Variant::boolean(true).integer(), -1);
}

TEST_F(ValueVariant, CellTextsThatWouldReadAsSomethingElseGetAnApostrophe) {
  struct Case {
    std::u16string text, cell;
  } cases[] = {
      {u"", u"'"},           {u"123", u"'123"}, {u" -5", u"' -5"},    {u"true", u"'true"},
      {u"FALSE", u"'FALSE"}, {u"abc", u"abc"},  {u"=A1", u"'=A1"},    {u"+1", u"'+1"},
      {u"(3)", u"'(3)"},     {u"$5", u"'$5"},   {u"%", u"'%"},        {u"'quoted", u"''quoted"},
      {u".5", u"'.5"},       {u"   ", u"   "},  {u" true", u" true"}, {u"truly", u"truly"},
      {u"a1", u"a1"},        {u",5", u",5"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(toVariant(Value::text(c.text), true), Variant::text(c.cell)) << toUtf8(c.text);
    EXPECT_EQ(toVariant(Value::text(c.text), false), Variant::text(c.text)) << toUtf8(c.text);
  }
  setUserLocale(UserLocale::germanGermany());
  setLiteralText(kTextTrue, u"WAHR");
  EXPECT_EQ(toVariant(Value::text(u",5"), true), Variant::text(u"',5"));
  EXPECT_EQ(toVariant(Value::text(u"wahr"), true), Variant::text(u"'wahr"));
  EXPECT_EQ(toVariant(Value::text(u"true"), true), Variant::text(u"true"));
}

TEST_F(ValueVariant, ArraysBecomeOneBasedArraysOfVariants) {
  Value inner = arrayOf(1, 1, {Value::integer(1)});
  Value grid = arrayOf(3, 2,
                       {Value::integer(1), Value::text(u"12"), inner, Value::number(0.5),
                        Value::boolean(true), Value::error(kErrorNA)});
  Variant v = toVariant(grid, true);
  ASSERT_EQ(v.type(), VarType::kArray);
  const VariantArray& a = v.array();
  EXPECT_EQ(a.dimensions, 2);
  EXPECT_EQ(a.lower[0], 1);
  EXPECT_EQ(a.lower[1], 1);
  EXPECT_EQ(a.count[0], 2u);
  EXPECT_EQ(a.count[1], 3u);
  EXPECT_EQ(a.at(1, 1), Variant::i4(1));
  EXPECT_EQ(a.at(1, 2), Variant::text(u"'12"));
  EXPECT_EQ(a.at(1, 3), Variant());  // a nested array
  EXPECT_EQ(a.at(2, 1), Variant::r8(0.5));
  EXPECT_EQ(a.at(2, 3), Variant::error(kErrorNA));

  Variant row = toVariant(arrayOf(2, 1, {Value::integer(4), Value::text(u"x")}), false);
  ASSERT_EQ(row.type(), VarType::kArray);
  EXPECT_EQ(row.array().dimensions, 1);
  EXPECT_EQ(row.array().lower[0], 1);
  EXPECT_EQ(row.array().count[0], 2u);
  EXPECT_EQ(row.array().at(2), Variant::text(u"x"));
}

TEST_F(ValueVariant, ScalarsFromVariants) {
  struct Case {
    Variant variant;
    Value value;
    ValueKind kind;
  } cases[] = {
      {Variant(), Value(), ValueKind::kEmpty},
      {Variant::null(), Value(), ValueKind::kEmpty},
      {Variant::i1(-3), Value::integer(-3), ValueKind::kInteger},
      {Variant::ui1(200), Value::integer(200), ValueKind::kInteger},
      {Variant::i2(-300), Value::integer(-300), ValueKind::kInteger},
      {Variant::ui2(60000), Value::integer(60000), ValueKind::kInteger},
      {Variant::i4(-70000), Value::integer(-70000), ValueKind::kInteger},
      {Variant::ui4(4000000000u), Value::number(4000000000.0), ValueKind::kNumber},
      {Variant::r8(3.0), Value::integer(3), ValueKind::kInteger},
      {Variant::r8(0.25), Value::number(0.25), ValueKind::kNumber},
      {Variant::boolean(true), Value::boolean(true), ValueKind::kBoolean},
      {Variant::text(u"hello there"), Value::text(u"hello there"), ValueKind::kLongText},
      {Variant::error(kErrorRef), Value::error(kErrorRef), ValueKind::kError},
      {Variant::missing(), Value(), ValueKind::kEmpty},
      {Variant::dispatch(nullptr), Value(), ValueKind::kEmpty},
  };
  for (const auto& c : cases) {
    Value v = fromVariant(c.variant);
    EXPECT_EQ(v.kind(), c.kind) << int(c.variant.type());
    EXPECT_TRUE(equals(v, c.value)) << int(c.variant.type());
  }
}

TEST_F(ValueVariant, ArraysFromVariants) {
  VariantArray one = VariantArray::twoDimensions(1, 1);
  one.at(1, 1) = Variant::text(u"only");
  EXPECT_EQ(fromVariant(Variant::array(one)).text(), u"only");

  VariantArray line = VariantArray::oneDimension(3, 0);
  line.at(0) = Variant::i2(1);
  line.at(1) = Variant::boolean(false);
  line.at(2) = Variant::array(VariantArray::oneDimension(2));
  Value row = fromVariant(Variant::array(line));
  ASSERT_TRUE(row.isArray());
  EXPECT_EQ(row.array().columns(), 3u);
  EXPECT_EQ(row.array().rows(), 1u);
  EXPECT_EQ(row.array().at(0, 0).integer(), 1);
  EXPECT_TRUE(row.array().at(1, 0).isBoolean());
  EXPECT_TRUE(row.array().at(2, 0).isEmpty());

  VariantArray grid = VariantArray::twoDimensions(2, 3);
  grid.at(2, 3) = Variant::r8(1.5);
  grid.at(1, 2) = Variant::text(u"b");
  Value g = fromVariant(Variant::array(grid));
  ASSERT_TRUE(g.isArray());
  EXPECT_EQ(g.array().columns(), 3u);
  EXPECT_EQ(g.array().rows(), 2u);
  EXPECT_EQ(g.array().at(2, 1).number(), 1.5);
  EXPECT_EQ(g.array().at(1, 0).text(), u"b");

  // A store shorter than the bounds claim is read as far as it goes.
  VariantArray broken = VariantArray::twoDimensions(2, 2);
  broken.elements.resize(1);
  Value b = fromVariant(Variant::array(broken));
  EXPECT_EQ(b.array().size(), 4u);
  EXPECT_TRUE(b.array().at(1, 1).isEmpty());
}

TEST_F(ValueVariant, ArraysSurviveTheRoundTrip) {
  Value grid = arrayOf(
      2, 2,
      {Value::integer(1), Value::text(u"two"), Value::boolean(true), Value::error(kErrorDiv0)});
  EXPECT_TRUE(equals(fromVariant(toVariant(grid, false)), grid));
  Value row = arrayOf(3, 1, {Value::number(0.5), Value(), Value::text(u"x")});
  EXPECT_TRUE(equals(fromVariant(toVariant(row, false)), row));
}

}  // namespace
}  // namespace korvel
