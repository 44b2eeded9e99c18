#include "engine/value_convert.h"

#include <gtest/gtest.h>

#include <cmath>

#include "engine/locale_settings.h"
#include "tests/engine/value_test_support.h"
#include "util/text.h"

namespace korvel {
namespace {

class ValueConvert : public ::testing::Test {
 protected:
  void SetUp() override { resetLocaleSettings(); }
  void TearDown() override { resetLocaleSettings(); }
};

Value referenceList() {
  ValueArray list;
  list.appendElement(Value::reference(CellRef::at(0, 0, 0), CellRef::at(0, 1, 1)));
  Value v;
  v.setReferenceList(std::move(list));
  return v;
}

// 1 + 5 ulps: relative differences of about 1.11e-15, between the equal and the different ratio.
const double kBand = 1 + 5 * std::ldexp(1.0, -52);

TEST_F(ValueConvert, ToTextOfEveryKind) {
  struct Case {
    Value value;
    std::u16string text;
  } cases[] = {
      {Value(), u""},
      {Value::integer(-2147483647 - 1), u"-2147483648"},
      {Value::integer(42), u"42"},
      {Value::number(0.1), u"0.1"},
      {Value::text(u"as is"), u"as is"},
      {Value::boolean(true), u"TRUE"},
      {Value::boolean(false), u"FALSE"},
      {Value::error(kErrorDiv0), u"#DIV/0!"},
      {Value::reference(CellRef::at(0, 0, 0), CellRef::at(0, 0, 0)), u"#VALUE!"},
      {referenceList(), u"#VALUE!"},
      {arrayOf(2, 2, {Value::integer(1), Value::integer(2), Value::integer(3), Value::text(u"a")}),
       u"{1,2;3,\"a\"}"},
      {arrayOf(2, 1, {Value::boolean(true), Value::error(kErrorNA)}), u"{TRUE,#N/A}"},
  };
  for (const auto& c : cases) EXPECT_EQ(toText(c.value), c.text) << toUtf8(c.text);
}

TEST_F(ValueConvert, ToTextFollowsTheLocaleAndTheLiteralTexts) {
  UserLocale locale = UserLocale::germanGermany();
  locale.listSeparator = u';';
  setUserLocale(locale);
  setLiteralText(kTextTrue, u"WAHR");
  setLiteralText(kTextNA, u"#NV");
  EXPECT_EQ(
      toText(arrayOf(3, 1, {Value::boolean(true), Value::error(kErrorNA), Value::number(1.5)})),
      u"{WAHR;#NV;1,5}");
}

TEST_F(ValueConvert, ToNumber) {
  struct Case {
    Value value;
    bool ok;
    double number;
  } cases[] = {
      {Value(), true, 0},
      {Value::integer(-3), true, -3},
      {Value::number(2.5), true, 2.5},
      {Value::boolean(true), true, 1},
      {Value::boolean(false), true, 0},
      {Value::text(u" 12.5 "), true, 12.5},
      {Value::text(u"abc"), false, 0},
      {Value::error(kErrorNum), false, 0},
      {Value::reference(CellRef::at(0, 0, 0), CellRef::at(0, 0, 0)), false, 0},
      {arrayOf(1, 1, {Value::integer(1)}), false, 0},
  };
  for (const auto& c : cases) {
    double out = -99;
    EXPECT_EQ(toNumber(c.value, &out), c.ok) << toUtf8(toText(c.value));
    EXPECT_EQ(out, c.ok ? c.number : -99) << toUtf8(toText(c.value));
  }
}

TEST_F(ValueConvert, ToNumberForOperatorReadsDatesAndTimes) {
  double out = 0;
  ASSERT_TRUE(toNumberForOperator(Value::text(u"2010-03"), false, &out));
  EXPECT_EQ(out, 40238);  // 1 March 2010
  ASSERT_TRUE(toNumberForOperator(Value::text(u"2010-03"), true, &out));
  EXPECT_EQ(out, 40238 - 1462);
  ASSERT_TRUE(toNumberForOperator(Value::text(u"10:30 PM"), false, &out));
  EXPECT_DOUBLE_EQ(out, 22.5 / 24);
  ASSERT_TRUE(toNumberForOperator(Value::text(u"7"), false, &out));
  EXPECT_EQ(out, 7);
  EXPECT_FALSE(toNumberForOperator(Value::text(u"1/2/3/4/5"), false, &out));
  EXPECT_FALSE(toNumberForOperator(Value::error(kErrorValue), false, &out));
}

TEST_F(ValueConvert, ToBoolean) {
  struct Case {
    Value value;
    bool expected;
  } cases[] = {
      {Value(), false},
      {Value::integer(0), false},
      {Value::integer(-1), true},
      {Value::number(0.5), true},
      {Value::boolean(true), true},
      {Value::text(u"true"), true},
      {Value::text(u"TRUE "), false},
      {Value::text(u"false"), false},
      {Value::text(u"1"), false},
      {Value::error(kErrorNA), false},
      {arrayOf(2, 1, {Value::integer(3), Value::integer(0)}), true},
      {arrayOf(2, 1, {Value::integer(0), Value::integer(3)}), false},
  };
  for (const auto& c : cases) EXPECT_EQ(toBoolean(c.value), c.expected) << toUtf8(toText(c.value));
  setLiteralText(kTextTrue, u"WAHR");
  EXPECT_TRUE(toBoolean(Value::text(u"wahr")));
  EXPECT_FALSE(toBoolean(Value::text(u"TRUE")));
}

TEST_F(ValueConvert, ErrorTexts) {
  for (int i = 0; i < kErrorCodeCount; ++i) {
    EXPECT_TRUE(isErrorText(literalText(i)));
    EXPECT_EQ(errorFromText(literalText(i)), errorCodeAt(i));
    EXPECT_EQ(errorText(errorCodeAt(i)), literalText(i));
  }
  for (std::u16string_view text : {u"", u"#n/a", u"N/A", u"#N/A ", u"#", u"#FOO!"}) {
    EXPECT_FALSE(isErrorText(text)) << toUtf8(text);
    EXPECT_EQ(errorFromText(text), 0u);
  }
  EXPECT_EQ(errorText(0x12345678), u"");
  setLiteralText(kTextNA, u"#NV");
  EXPECT_EQ(errorFromText(u"#NV"), uint32_t(kErrorNA));
  EXPECT_FALSE(isErrorText(u"#N/A"));
  EXPECT_EQ(errorText(kErrorNA), u"#NV");
}

TEST_F(ValueConvert, Equals) {
  struct Case {
    Value a, b;
    bool expected;
  } cases[] = {
      {Value::number(0.1 + 0.2), Value::number(0.3), true},
      {Value::integer(1), Value::number(1.0000000000000002), true},
      {Value::number(-0.1 - 0.2), Value::number(-0.3), true},
      {Value::number(-1), Value::number(-5), false},
      {Value::number(-5), Value::number(-1), false},
      {Value::number(1e-300), Value::number(-1e-300), false},
      {Value::number(kBand), Value::number(1), true},
      {Value::number(0.0625 * kBand), Value::number(0.0625), false},
      {Value::number(1.5), Value::number(std::nan("")), false},
      {Value::number(1e308), Value::number(INFINITY), false},
      {Value::integer(3), Value::integer(4), false},
      {Value(), Value::text(u""), true},
      {Value(), Value(), true},
      {Value(), Value::integer(0), true},
      {Value(), Value::number(1e-300), false},
      {Value(), Value::boolean(false), true},
      {Value(), Value::boolean(true), false},
      {Value(), Value::text(u" "), false},
      {Value::text(u"abc"), Value::text(u"ABC"), true},
      {Value::text(u"straße"), Value::text(u"STRASSE"), false},
      {Value::text(u"abc"), Value::text(u"abcd"), false},
      {Value::text(u"1"), Value::integer(1), false},
      {Value::boolean(true), Value::integer(1), false},
      {Value::boolean(true), Value::boolean(true), true},
      {Value::error(kErrorNA), Value::error(kErrorNA), true},
      {Value::error(kErrorNA), Value::error(kErrorNum), false},
      {arrayOf(2, 1, {Value::integer(1), Value::text(u"a")}),
       arrayOf(2, 1, {Value::number(1), Value::text(u"A")}), true},
      {arrayOf(2, 1, {Value::integer(1), Value::integer(2)}),
       arrayOf(1, 2, {Value::integer(1), Value::integer(2)}), false},
      {arrayOf(1, 1, {Value::integer(1)}), Value::integer(1), false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(equals(c.a, c.b), c.expected) << toUtf8(toText(c.a)) << " = " << toUtf8(toText(c.b));
    EXPECT_EQ(equals(c.b, c.a), c.expected) << toUtf8(toText(c.b)) << " = " << toUtf8(toText(c.a));
    EXPECT_EQ(notEqual(c.a, c.b), !c.expected);
  }
}

TEST_F(ValueConvert, Greater) {
  Value error = Value::error(kErrorDiv0);
  Value ref = Value::reference(CellRef::at(0, 0, 0), CellRef::at(0, 0, 0));
  struct Case {
    Value a, b;
    bool expected;
  } cases[] = {
      {Value::text(u"b"), Value::text(u"A"), true},
      {Value::text(u"A"), Value::text(u"b"), false},
      {Value::text(u"abc"), Value::text(u"ABC"), false},
      {Value::text(u"ABC"), Value::text(u"abc"), false},
      {Value::text(u"a"), Value::text(u""), true},
      {Value::text(u""), Value::text(u"a"), false},
      {Value::text(u"co-op"), Value::text(u"coop"), true},
      {Value::text(u"coop"), Value::text(u"co-op"), false},
      {Value::text(u"it's"), Value::text(u"its"), true},
      {Value::text(u"a--b"), Value::text(u"a-b"), true},
      {Value::text(u"a-c"), Value::text(u"ab"), true},
      {Value::text(u"a-b"), Value::text(u"ac"), false},
      {Value::boolean(true), Value::integer(5), true},
      {Value::integer(5), Value::boolean(true), false},
      {Value::boolean(true), Value::boolean(false), true},
      {Value::boolean(false), Value::boolean(true), false},
      {Value::text(u"1"), Value::integer(5), true},
      {Value::integer(5), Value::text(u"1"), false},
      {Value::boolean(false), Value::text(u"z"), true},
      {ref, Value::boolean(true), true},
      {error, ref, true},
      {error, Value::boolean(true), true},
      {error, Value::text(u"z"), true},
      {error, Value::number(1e300), true},
      {error, Value(), true},
      {Value::integer(1), error, false},
      {Value::integer(2), Value::integer(1), true},
      {Value::number(2.5), Value::integer(2), true},
      {Value::number(-2.5), Value::integer(-2), false},
      {Value::number(0.1 + 0.2), Value::number(0.3), false},
      {Value::number(0.3), Value::number(0.1 + 0.2), false},
      {Value(), Value(), false},
      {Value(), Value::integer(-1), true},
      {Value(), Value::integer(1), false},
      {Value(), Value::integer(0), false},
      {Value(), Value::text(u"a"), false},
      {Value(), Value::boolean(false), false},
      {Value::integer(1), Value(), true},
      {Value::integer(-1), Value(), false},
      {Value::text(u"x"), Value(), true},
      {Value::text(u""), Value(), false},
      {Value::boolean(true), Value(), true},
      {Value::boolean(false), Value(), false},
      {arrayOf(2, 1, {Value::integer(5), Value::integer(1)}), Value::integer(3), true},
      {Value::integer(3), arrayOf(2, 1, {Value::integer(5), Value::integer(1)}), false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(greater(c.a, c.b), c.expected) << toUtf8(toText(c.a)) << " > " << toUtf8(toText(c.b));
    EXPECT_EQ(less(c.b, c.a), c.expected);
  }
}

TEST_F(ValueConvert, NearlyEqualNumbersAreRoundedBeforeOrdering) {
  // Different under the tolerance (small numbers in the narrow band), yet equal once rounded to
  // 15 decimal places, so neither orders above the other.
  double a = 0.0625 * kBand;
  ASSERT_FALSE(numbersEqual(a, 0.0625));
  EXPECT_FALSE(numberGreater(a, 0.0625));
  EXPECT_FALSE(numberGreater(0.0625, a));
  EXPECT_FALSE(numberGreater(1e300 * kBand, 1e300));
  EXPECT_FALSE(numberGreater(-1e300, -1e300 * kBand));
  EXPECT_TRUE(numberGreater(1e-20, 0));
  EXPECT_TRUE(numberGreater(-1, -1.5));
}

TEST_F(ValueConvert, OrderingsFromGreaterAndEquals) {
  struct Case {
    Value a, b;
    bool lt, le, ge;
  } cases[] = {
      {Value::integer(1), Value::integer(2), true, true, false},
      {Value::number(0.3), Value::number(0.1 + 0.2), false, true, true},
      {Value::text(u"abc"), Value::text(u"ABC"), false, true, true},
      {Value(), Value::text(u""), false, true, true},
      {Value::integer(5), Value::boolean(false), true, true, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(less(c.a, c.b), c.lt) << toUtf8(toText(c.a)) << " " << toUtf8(toText(c.b));
    EXPECT_EQ(lessOrEqual(c.a, c.b), c.le) << toUtf8(toText(c.a)) << " " << toUtf8(toText(c.b));
    EXPECT_EQ(greaterOrEqual(c.a, c.b), c.ge) << toUtf8(toText(c.a)) << " " << toUtf8(toText(c.b));
  }
}

TEST_F(ValueConvert, TextOrderUsesTheInstalledCollation) {
  // A collation that reverses the folded order shows that texts go through the locale port.
  class ReversedLocale : public Locale {
   public:
    UserLocale userLocale() const override { return UserLocale::englishUnitedStates(); }
    int collateNoCase(std::u16string_view a, std::u16string_view b) const override {
      return compareNoCase(b, a);
    }
    void setCollationLanguage(std::u16string_view) override {}
  } reversed;
  installLocale(&reversed, nullptr);
  EXPECT_TRUE(greater(Value::text(u"A"), Value::text(u"b")));
  EXPECT_TRUE(greater(Value::text(u"a"), Value::text(u"")));  // the empty text stays first
  EXPECT_TRUE(greater(Value::text(u"co-op"), Value::text(u"coop")));
}

}  // namespace
}  // namespace korvel
