#include "engine/value_encoding.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "engine/value_convert.h"
#include "tests/engine/value_test_support.h"
#include "util/text.h"

namespace korvel {
namespace {

std::string bytes(std::initializer_list<int> list) {
  std::string s;
  for (int b : list) s.push_back(char(b));
  return s;
}

std::string encoded(const Value& v) {
  std::string out;
  encodeValue(v, &out);
  return out;
}

TEST(ValueEncoding, WritesTheStoredLayout) {
  struct Case {
    Value value;
    std::string bytes;
  } cases[] = {
      {Value(), bytes({0})},
      {Value::integer(-2), bytes({1, 0xFE, 0xFF, 0xFF, 0xFF})},
      {Value::number(1.5), bytes({2, 0, 0, 0, 0, 0, 0, 0xF8, 0x3F})},
      {Value::text(u"A\u20AC"), bytes({3, 0x41, 0, 0xAC, 0x20, 0, 0})},
      {Value::text(u"abcde"), bytes({4, 'a', 0, 'b', 0, 'c', 0, 'd', 0, 'e', 0, 0, 0})},
      {Value::boolean(true), bytes({5, 1})},
      {Value::reference(CellRef{1, 0x00020003}, CellRef{4, 0x00020005}),
       bytes({6, 1, 0, 0, 0, 3, 0, 2, 0, 4, 0, 0, 0, 5, 0, 2, 0})},
      {Value::error(kErrorNA), bytes({9, 0xFA, 0x07, 0x0A, 0x80})},
      {arrayOf(2, 1, {Value::integer(7), Value()}),
       bytes({8, 2, 0, 0, 0, 1, 0, 0, 0, 1, 7, 0, 0, 0, 0})},
  };
  for (const auto& c : cases) EXPECT_EQ(encoded(c.value), c.bytes) << toUtf8(toText(c.value));
}

TEST(ValueEncoding, RoundTripsBackToBack) {
  Value values[] = {
      Value(),
      Value::integer(-2147483647 - 1),
      Value::number(2147483648.0),
      Value::number(-1e-300),
      Value::text(u""),
      Value::text(u"abcd"),
      Value::text(u"a longer text with \u00FC"),
      Value::boolean(false),
      Value::boolean(true),
      Value::error(kErrorRef),
      arrayOf(2, 2,
              {Value::integer(1), Value::text(u"two point five"), Value::boolean(true),
               Value::error(kErrorDiv0)}),
  };
  std::string stream;
  for (const Value& v : values) encodeValue(v, &stream);
  size_t offset = 0;
  for (const Value& expected : values) {
    Value v;
    size_t taken = decodeValue(stream.data() + offset, stream.size() - offset, &v);
    ASSERT_EQ(taken, encoded(expected).size()) << toUtf8(toText(expected));
    EXPECT_EQ(v.kind(), expected.kind()) << toUtf8(toText(expected));
    EXPECT_TRUE(equals(v, expected)) << toUtf8(toText(expected));
    offset += taken;
  }
  EXPECT_EQ(offset, stream.size());

  Value ref = Value::reference(CellRef::at(3, 100, 7), CellRef::none());
  Value back;
  std::string refBytes = encoded(ref);
  ASSERT_EQ(decodeValue(refBytes.data(), refBytes.size(), &back), 17u);
  EXPECT_EQ(back.reference(), ref.reference());
}

TEST(ValueEncoding, DecodesIntoTheFormThatFits) {
  struct Case {
    std::string bytes;
    ValueKind kind;
    size_t taken;
  } cases[] = {
      // Either text kind reads back as the kind its length calls for.
      {bytes({4, 'a', 0, 0, 0}), ValueKind::kShortText, 5},
      {bytes({3, 'a', 0, 'b', 0, 'c', 0, 'd', 0, 'e', 0, 0, 0}), ValueKind::kLongText, 13},
      // A whole number stored as a number reads as an integer.
      {bytes({2, 0, 0, 0, 0, 0, 0, 0x08, 0x40}), ValueKind::kInteger, 9},
      // A text kind without room for a unit is the empty text.
      {bytes({3}), ValueKind::kShortText, 1},
      {bytes({4, 'x'}), ValueKind::kShortText, 2},
      // A reference list has no payload; an unknown error code collapses to empty.
      {bytes({7, 1, 2}), ValueKind::kEmpty, 1},
      {bytes({9, 1, 2, 3, 4}), ValueKind::kEmpty, 5},
      {bytes({5, 2}), ValueKind::kBoolean, 2},
      // An array without elements is the new empty array, whatever its stored dimensions.
      {bytes({8, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}), ValueKind::kArray, 9},
  };
  for (const auto& c : cases) {
    Value v = Value::text(u"previous content");
    EXPECT_EQ(decodeValue(c.bytes.data(), c.bytes.size(), &v), c.taken) << int(c.bytes[0]);
    EXPECT_EQ(v.kind(), c.kind) << int(c.bytes[0]);
  }
  Value text;
  std::string longText = bytes({3, 'a', 0, 'b', 0, 'c', 0, 'd', 0, 'e', 0, 0, 0});
  decodeValue(longText.data(), longText.size(), &text);
  EXPECT_EQ(text.text(), u"abcde");
  Value empty;
  std::string emptyArray = bytes({8, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF});
  decodeValue(emptyArray.data(), emptyArray.size(), &empty);
  EXPECT_EQ(empty.array().columns(), 0u);
  EXPECT_EQ(empty.array().rows(), 1u);
}

TEST(ValueEncoding, RejectsDamagedPayloads) {
  const std::string cases[] = {
      "",
      bytes({10}),
      bytes({0xFF, 0, 0, 0, 0}),
      bytes({1, 1, 2, 3}),
      bytes({2, 0, 0, 0, 0, 0, 0, 0}),
      bytes({3, 'a', 0, 'b'}),
      bytes({4, 'a', 0, 'b', 0}),
      bytes({5}),
      bytes({6, 1, 0, 0, 0, 3, 0, 2, 0, 4, 0, 0, 0, 5, 0, 2}),
      bytes({9, 0xFA, 0x07, 0x0A}),
      bytes({8, 1, 0, 0, 0}),
      // Counts that cannot fit in the bytes left, including ones whose product overflows 32 bits.
      bytes({8, 3, 0, 0, 0, 1, 0, 0, 0, 0, 0}),
      bytes({8, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0}),
      bytes({8, 0, 0, 1, 0, 0, 0, 1, 0, 0}),
      // An element cut short, and an element that is itself an array.
      bytes({8, 2, 0, 0, 0, 1, 0, 0, 0, 0, 1, 7, 0}),
      bytes({8, 1, 0, 0, 0, 1, 0, 0, 0, 8, 1, 0, 0, 0, 1, 0, 0, 0, 0}),
  };
  for (const std::string& c : cases) {
    Value v = Value::text(u"previous content");
    // A copy on the heap of exactly the given size lets the sanitizer see any read past it.
    std::unique_ptr<char[]> exact(new char[c.size() + 1]);
    std::copy(c.begin(), c.end(), exact.get());
    EXPECT_EQ(decodeValue(exact.get(), c.size(), &v), 0u) << c.size();
    EXPECT_TRUE(v.isEmpty()) << c.size();
  }
}

TEST(ValueEncoding, NestedArraysAndListsAreWrittenAsEmpty) {
  ValueArray list;
  list.appendElement(Value::reference(CellRef::at(0, 1, 1), CellRef::at(0, 1, 1)));
  Value listValue;
  listValue.setReferenceList(list);
  Value inner = arrayOf(1, 1, {Value::integer(1)});
  Value outer = arrayOf(3, 1, {inner, listValue, Value::integer(3)});
  std::string out = encoded(outer);
  Value back;
  ASSERT_EQ(decodeValue(out.data(), out.size(), &back), out.size());
  EXPECT_TRUE(back.array().at(0, 0).isEmpty());
  EXPECT_TRUE(back.array().at(1, 0).isEmpty());
  EXPECT_EQ(back.array().at(2, 0).integer(), 3);
  EXPECT_EQ(encoded(listValue), bytes({7}));
}

}  // namespace
}  // namespace korvel
