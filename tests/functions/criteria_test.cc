// The criterion parser and matcher: operators and their prefixes, numeric texts, booleans, error
// literals, wildcards with "~", and the blank tests of "=", "<>" and the empty text.
#include "functions/criteria.h"

#include <gtest/gtest.h>

#include <string>

#include "../engine/value_test_support.h"
#include "engine/locale_settings.h"
#include "util/text.h"

namespace korvel {
namespace {

Criterion parseText(const char* text) {
  CallContext context;
  return parseCriterion(context, Value::text(fromUtf8(text)));
}

TEST(CriteriaTest, ParsesOperatorsAndValues) {
  struct Case {
    const char* text;
    int op;
    int prefix;
    const char* value;
    bool wildcard;
  };
  const Case cases[] = {
      {">=10", kCriterionGreaterOrEqual, 2, "i:10", false},
      {"<=2.5", kCriterionLessOrEqual, 2, "n:2.5", false},
      {">=2024-07-01", kCriterionGreaterOrEqual, 2, "i:45474", false},  // a date's serial
      {"<>", kCriterionNotEqual, 2, "-", false},
      {"'=abc", kCriterionEqual, 2, "t:abc", false},
      {">4", kCriterionGreater, 1, "i:4", false},
      {"<x", kCriterionLess, 1, "t:x", false},
      {"=", kCriterionEqual, 1, "-", false},
      {"5", kCriterionEqual, 0, "t:5", false},  // a number only after an operator
      {"", kCriterionEqual, 0, "t:", false},
      {"true", kCriterionEqual, 0, "b:TRUE", false},
      {"<>False", kCriterionNotEqual, 2, "b:FALSE", false},
      {"=#N/A", kCriterionEqual, 1, "e:#N/A", false},
      {"a?c", kCriterionEqual, 0, "t:a?c", true},
      {"<>~*", kCriterionNotEqual, 2, "t:~*", true},
  };
  for (const Case& c : cases) {
    Criterion criterion = parseText(c.text);
    EXPECT_EQ(criterion.op, c.op) << c.text;
    EXPECT_EQ(criterion.prefixLength, c.prefix) << c.text;
    EXPECT_EQ(show(criterion.value), c.value) << c.text;
    EXPECT_EQ(criterion.wildcard, c.wildcard) << c.text;
  }
}

TEST(CriteriaTest, ParsesValuesThatAreNotTexts) {
  CallContext context;
  EXPECT_EQ(show(parseCriterion(context, Value()).value), "i:0");
  EXPECT_EQ(parseCriterion(context, Value::error(kErrorNA)).op, kCriterionEqual);
  EXPECT_EQ(show(parseCriterion(context, Value::boolean(true)).value), "b:TRUE");
  ValueArray array(2, 1);
  array.at(0, 0) = Value::text(u">3");
  array.at(1, 0) = Value::integer(9);
  Value criteria;
  criteria.setArray(std::move(array));
  Criterion first = parseCriterion(context, criteria);  // the first element stands for the array
  EXPECT_EQ(first.op, kCriterionGreater);
  EXPECT_EQ(show(first.value), "i:3");
}

TEST(CriteriaTest, LocalisedBooleanTexts) {
  setLiteralText(kTextTrue, u"WAHR");
  EXPECT_EQ(show(parseText("wahr").value), "b:WAHR");
  EXPECT_EQ(show(parseText("true").value), "t:true");
  resetLocaleSettings();
}

TEST(CriteriaTest, MatchesCells) {
  struct Case {
    const char* criterion;
    Value cell;
    bool matches;
  };
  const Case cases[] = {
      {">4", Value::integer(5), true},
      // A numeric text cell equals a number criterion but is never less or greater than it, and
      // "<>" counts it: COUNTIF over 23 and "23" is 2 for "=23" and for "<>23" counts "23".
      {">4", Value::text(u"7"), false},
      {"=4", Value::text(u"4"), true},
      {"<>4", Value::text(u"4"), true},
      {">4", Value::integer(4), false},
      {">4", Value::text(u"abc"), false},
      {">4", Value(), false},
      {"5", Value::integer(5), true},  // a numeric text criterion finds the number
      {"5", Value::text(u"5"), true},
      {"=", Value(), true},
      {"=", Value::text(u""), false},
      {"=", Value::integer(0), false},
      {"<>", Value(), false},
      {"<>", Value::integer(0), true},
      {"<>", Value::text(u""), true},
      {"", Value(), true},  // the empty text equals blank positions and empty texts
      {"", Value::text(u""), true},
      {"", Value::integer(0), false},
      {"a?c", Value::text(u"ABC"), true},
      {"a?c", Value::text(u"abcd"), false},
      {"a*", Value::integer(1), false},
      {"<>a*", Value::text(u"apple"), false},
      {"<>a*", Value::text(u"berry"), true},
      {"<>a*", Value::integer(1), true},
      {">a*", Value::text(u"abc"), true},  // with a pattern every other operator is equality
      {"~*", Value::text(u"*"), true},
      {"~*", Value::text(u"x"), false},
      {"true", Value::boolean(true), true},
      {"true", Value::text(u"true"), false},
      {"<>5", Value(), true},
      {"<>5", Value::integer(5), false},
      {"<>5", Value::text(u"x"), true},
      {"=#N/A", Value::error(kErrorNA), true},
      {"=#N/A", Value::error(kErrorValue), false},
      {"<b", Value::text(u"A"), true},
      {"<b", Value::text(u"B"), false},
      {"<=b", Value::text(u"B"), true},
      {">=3", Value::number(3.0000000000000004), true},  // with the comparison tolerance
      {"<>TRUE", Value::integer(1), true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(matchesCriterion(parseText(c.criterion), c.cell), c.matches)
        << c.criterion << " against " << show(c.cell);
  }
  CallContext context;
  Criterion error = parseCriterion(context, Value::error(kErrorNA));
  EXPECT_TRUE(matchesCriterion(error, Value::error(kErrorNA)));  // the same error only
  EXPECT_FALSE(matchesCriterion(error, Value::error(kErrorDiv0)));
  EXPECT_FALSE(matchesCriterion(error, Value::text(u"#N/A")));
  EXPECT_FALSE(matchesCriterion(error, Value()));
  Criterion zero = parseCriterion(context, Value());
  EXPECT_TRUE(matchesCriterion(zero, Value::integer(0)));
  EXPECT_FALSE(matchesCriterion(zero, Value()));
}

}  // namespace
}  // namespace korvel
