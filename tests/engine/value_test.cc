#include "engine/value.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace korvel {
namespace {

ValueArray row(std::initializer_list<int32_t> numbers) {
  ValueArray a;
  for (int32_t n : numbers) a.appendElement(Value::integer(n));
  return a;
}

TEST(ValueNumbers, SetNumberKeepsIntegerNormalForm) {
  struct Case {
    double x;
    ValueKind kind;
  } cases[] = {
      {3.0, ValueKind::kInteger},
      {-2147483648.0, ValueKind::kInteger},
      {2147483647.0, ValueKind::kInteger},
      {2147483648.0, ValueKind::kNumber},
      {-2147483649.0, ValueKind::kNumber},
      {2.5, ValueKind::kNumber},
      {-0.0, ValueKind::kInteger},
      {1e300, ValueKind::kNumber},
      {std::nan(""), ValueKind::kNumber},
      {std::numeric_limits<double>::infinity(), ValueKind::kNumber},
  };
  for (const auto& c : cases) {
    Value v = Value::text(u"a long text first");
    v.setNumber(c.x);
    EXPECT_EQ(v.kind(), c.kind) << c.x;
    if (!std::isnan(c.x)) {
      EXPECT_EQ(v.number(), c.x) << c.x;
    }
  }
  EXPECT_EQ(Value::number(-2147483648.0).integer(), INT32_MIN);
}

TEST(ValueText, ShortUpToFourUnitsLongBeyond) {
  struct Case {
    std::u16string text;
    ValueKind kind;
  } cases[] = {
      {u"", ValueKind::kShortText},
      {u"abcd", ValueKind::kShortText},
      {u"abcde", ValueKind::kLongText},
      {std::u16string(1000, u'x'), ValueKind::kLongText},
  };
  for (const auto& c : cases) {
    Value v = Value::text(c.text);
    EXPECT_EQ(v.kind(), c.kind) << c.text.size();
    EXPECT_EQ(v.text(), c.text);
    EXPECT_TRUE(v.isText());
  }
}

TEST(ValueText, LongTextReusesABufferThatIsLongEnough) {
  Value v = Value::text(u"0123456789");
  const char16_t* buffer = v.text().data();
  v.setText(u"abcdef");
  EXPECT_EQ(v.text().data(), buffer);
  EXPECT_EQ(v.text(), u"abcdef");
  EXPECT_EQ(v.text().data()[6], u'\0');
  v.setText(u"0123456789");
  EXPECT_EQ(v.text().data(), buffer);
  v.setText(u"a text longer than the buffer");
  EXPECT_EQ(v.text(), u"a text longer than the buffer");
  v.setText(u"ab");
  EXPECT_EQ(v.kind(), ValueKind::kShortText);
}

TEST(ValueText, SetTextAcceptsUnitsFromItsOwnText) {
  Value v = Value::text(u"0123456789");
  v.setText(v.text().substr(3));  // overlapping move inside the buffer
  EXPECT_EQ(v.text(), u"3456789");
  v.setText(v.text().substr(4));  // long to short
  EXPECT_EQ(v.text(), u"789");
  v.setText(v.text().substr(1));  // short to short
  EXPECT_EQ(v.text(), u"89");
  Value big = Value::text(u"abcdefgh");
  big.setText(std::u16string(big.text()) + u"ijklmnop");  // growth to a new buffer
  EXPECT_EQ(big.text(), u"abcdefghijklmnop");
}

TEST(ValueKinds, SettersReplaceTheOldKind) {
  Value v = Value::text(u"a long text");
  v.setBoolean(true);
  EXPECT_TRUE(v.isBoolean());
  EXPECT_TRUE(v.boolean());
  v.setArray(row({1, 2}));
  v.setError(kErrorNA);
  EXPECT_TRUE(v.isError());
  EXPECT_EQ(v.errorCode(), kErrorNA);
  v.setReference(CellRef::at(1, 2, 3), CellRef::at(1, 4, 5));
  EXPECT_TRUE(v.isReference());
  EXPECT_EQ(v.reference().last, CellRef::at(1, 4, 5));
  v.setReferenceList(ValueArray());
  EXPECT_TRUE(v.isReferenceList());
  EXPECT_TRUE(v.hasArray());
  v.clear();
  EXPECT_TRUE(v.isEmpty());
}

TEST(ValueKinds, UnknownErrorCodeGivesEmpty) {
  for (uint32_t code : {0u, 0x800A07D1u, 0x800A07FBu, 0x80020004u}) {
    Value v = Value::integer(5);
    v.setError(code);
    EXPECT_TRUE(v.isEmpty()) << std::hex << code;
  }
  for (int i = 0; i < kErrorCodeCount; ++i) {
    EXPECT_EQ(Value::error(errorCodeAt(i)).errorCode(), errorCodeAt(i));
    EXPECT_EQ(errorIndex(errorCodeAt(i)), i);
  }
}

TEST(ValueOwnership, CopiesAreDeep) {
  Value text = Value::text(u"original text");
  Value textCopy = text;
  text.setText(u"changed text!");
  EXPECT_EQ(textCopy.text(), u"original text");
  EXPECT_NE(textCopy.text().data(), text.text().data());

  Value array;
  array.setArray(row({1, 2, 3}));
  array.array().at(2, 0).setText(u"a long element");
  Value arrayCopy;
  arrayCopy = array;
  array.array().at(0, 0).setInteger(9);
  array.array().at(2, 0).setText(u"another long one");
  EXPECT_EQ(arrayCopy.array().at(0, 0).integer(), 1);
  EXPECT_EQ(arrayCopy.array().at(2, 0).text(), u"a long element");
}

TEST(ValueOwnership, MovesLeaveTheSourceEmpty) {
  Value text = Value::text(u"moved long text");
  const char16_t* buffer = text.text().data();
  Value moved = std::move(text);
  EXPECT_TRUE(text.isEmpty());  // NOLINT(bugprone-use-after-move)
  EXPECT_EQ(moved.text().data(), buffer);
  Value target = Value::text(u"to be released");
  target = std::move(moved);
  EXPECT_EQ(target.text(), u"moved long text");
}

TEST(ValueOwnership, AssigningAnElementOfItsOwnArray) {
  Value v;
  v.setArray(ValueArray());
  v.array().appendElement(Value::text(u"first element"));
  v.array().appendElement(Value::integer(2));
  v = v.array().at(0, 0);
  EXPECT_EQ(v.text(), u"first element");

  Value w;
  w.setArray(row({7, 8}));
  w = std::move(w.array().at(1, 0));
  EXPECT_EQ(w.integer(), 8);

  Value self = Value::text(u"self assigned text");
  const Value& alias = self;
  self = alias;
  EXPECT_EQ(self.text(), u"self assigned text");
}

TEST(ValueArray, GrowsByElementsAndRows) {
  ValueArray a;
  EXPECT_EQ(a.columns(), 0u);
  EXPECT_EQ(a.rows(), 1u);
  EXPECT_TRUE(a.appendElement(Value::integer(1)));
  EXPECT_TRUE(a.appendElement(Value::integer(2)));
  EXPECT_EQ(a.columns(), 2u);
  std::vector<Value> second;
  second.push_back(Value::integer(3));
  second.push_back(Value::text(u"a"));
  EXPECT_TRUE(a.appendRow(std::move(second)));
  EXPECT_EQ(a.rows(), 2u);
  EXPECT_EQ(a.at(0, 1).integer(), 3);
  EXPECT_EQ(a.at(1, 1).text(), u"a");

  // Shapes that would break the element count are refused and change nothing.
  EXPECT_FALSE(a.appendElement(Value::integer(4)));
  std::vector<Value> tooShort(1);
  EXPECT_FALSE(a.appendRow(std::move(tooShort)));
  EXPECT_EQ(a.size(), 4u);
  EXPECT_EQ(a.rows(), 2u);

  ValueArray rows;
  EXPECT_TRUE(rows.appendRow(std::vector<Value>(3)));
  EXPECT_TRUE(rows.appendRow(std::vector<Value>(3)));
  EXPECT_EQ(rows.columns(), 3u);
  EXPECT_EQ(rows.rows(), 2u);

  ValueArray sized(3, 2);
  EXPECT_EQ(sized.size(), 6u);
  sized.at(2, 1).setInteger(5);
  EXPECT_EQ(sized.elements()[5].integer(), 5);
}

}  // namespace
}  // namespace korvel
