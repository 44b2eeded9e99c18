#include "functions/arguments.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "engine/engine.h"
#include "engine/value_convert.h"
#include "model/cell.h"
#include "model/compiled_model.h"
#include "util/text.h"

namespace korvel {
namespace {

// Readable form of a result: its kind and content.
std::string describe(const Value& value) {
  switch (value.kind()) {
    case ValueKind::kEmpty:
      return "empty";
    case ValueKind::kInteger:
      return "integer " + std::to_string(value.integer());
    case ValueKind::kNumber:
      return "number " + toUtf8(toText(value));
    case ValueKind::kShortText:
    case ValueKind::kLongText:
      return "text " + toUtf8(value.text());
    case ValueKind::kBoolean:
      return value.boolean() ? "TRUE" : "FALSE";
    case ValueKind::kError:
      return "error " + toUtf8(errorText(value.errorCode()));
    default:
      return "kind " + std::to_string(static_cast<int>(value.kind()));
  }
}

Value ref(CellRef first, CellRef last) { return Value::reference(first, last); }
CellRef at(uint32_t row, uint32_t column, uint32_t sheet = 0) {
  return CellRef::at(sheet, row, column);
}

// A1 holds the text "#N/A", A2 #DIV/0!, A3 the number 5, B1 "abc", B2 #NUM!; A4 exists without a
// value.
class ArgumentsTest : public ::testing::Test {
 protected:
  ArgumentsTest() : engine_(model_) {
    model_.cellAt(at(0, 0))->ensureValue().setText(u"#N/A");
    model_.cellAt(at(1, 0))->ensureValue().setError(kErrorDiv0);
    model_.cellAt(at(2, 0))->ensureValue().setInteger(5);
    model_.cellAt(at(0, 1))->ensureValue().setText(u"abc");
    model_.cellAt(at(1, 1))->ensureValue().setError(kErrorNum);
    model_.cellAt(at(3, 0));
    context_.engine = &engine_;
  }

  // The pre-check over the given arguments: "no stop" or the result it set.
  std::string precheck(std::initializer_list<const Value*> list, uint32_t mask = kAllArguments) {
    std::vector<const Value*> arguments(list);
    arguments.push_back(nullptr);
    Value result = Value::text(u"untouched");
    bool stopped = errorPrecheck(context_, arguments.data(), mask, result);
    if (!stopped) return describe(result) == "text untouched" ? "no stop" : "changed";
    return describe(result);
  }

  CompiledModel model_;
  Engine engine_;
  CallContext context_;
};

TEST_F(ArgumentsTest, CountsArgumentsBeforeTheNull) {
  Value a = Value::integer(1), b = Value::integer(2);
  const Value* two[] = {&a, &b, nullptr};
  const Value* none[] = {nullptr};
  EXPECT_EQ(argumentCount(two), 2u);
  EXPECT_EQ(argumentCount(none), 0u);
  EXPECT_EQ(argumentCount(nullptr), 0u);
  EXPECT_EQ(argumentAt(two, 1), &b);
  EXPECT_EQ(argumentAt(two, 2), nullptr);
}

TEST_F(ArgumentsTest, PrecheckStopsAtBadReferencesAndErrors) {
  const Value twoSheets = ref(at(0, 0, 0), at(1, 1, 1));
  const Value noFirstCorner = ref(CellRef::none(), at(1, 1));
  const Value textErrorCell = ref(at(0, 0), at(0, 0));
  const Value errorCell = ref(at(1, 0), at(1, 0));
  const Value onlyFirstCorner = ref(at(1, 0), CellRef::none());  // the single cell A2
  const Value rangeWithErrors = ref(at(0, 0), at(1, 1));
  const Value numberCell = ref(at(2, 0), at(2, 0));
  const Value missingCell = ref(at(9, 9), at(9, 9));
  const Value cellWithoutValue = ref(at(3, 0), at(3, 0));
  const Value plainTextCell = ref(at(0, 1), at(0, 1));
  const Value na = Value::error(kErrorNA);
  const Value text = Value::text(u"#N/A");
  const Value number = Value::integer(3);

  const struct {
    const char* label;
    std::initializer_list<const Value*> arguments;
    std::string expected;
  } cases[] = {
      {"corners on two sheets", {&twoSheets}, "error #REF!"},
      {"first corner missing", {&noFirstCorner}, "error #REF!"},
      {"cell holding an error text", {&textErrorCell}, "text #N/A"},
      {"cell holding an error", {&errorCell}, "error #DIV/0!"},
      {"only the first corner", {&onlyFirstCorner}, "error #DIV/0!"},
      {"range holding errors", {&rangeWithErrors}, "no stop"},
      {"cell holding a number", {&numberCell}, "no stop"},
      {"cell that does not exist", {&missingCell}, "no stop"},
      {"cell without value", {&cellWithoutValue}, "no stop"},
      {"cell holding other text", {&plainTextCell}, "no stop"},
      {"error argument", {&number, &na}, "error #N/A"},
      // An error text given directly is a text, not an error value: only cells are read for it.
      {"error text argument", {&text}, "no stop"},
      {"first stopping argument wins", {&errorCell, &na, &twoSheets}, "error #DIV/0!"},
      {"no arguments", {}, "no stop"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(precheck(c.arguments), c.expected) << c.label;
  }
}

TEST_F(ArgumentsTest, PrecheckLooksOnlyAtMaskedArguments) {
  const Value na = Value::error(kErrorNA);
  const Value errorCell = ref(at(1, 0), at(1, 0));
  const Value number = Value::integer(3);
  EXPECT_EQ(precheck({&na, &number}, argumentBit(1)), "no stop");
  EXPECT_EQ(precheck({&na, &errorCell}, argumentBit(1)), "error #DIV/0!");
  EXPECT_EQ(precheck({&na, &errorCell}, 0), "no stop");

  // Positions from 32 on are checked under the all-arguments mask only.
  std::vector<const Value*> many(33, &number);
  many.push_back(&na);
  many.push_back(nullptr);
  Value result;
  EXPECT_TRUE(errorPrecheck(context_, many.data(), kAllArguments, result));
  EXPECT_EQ(describe(result), "error #N/A");
  EXPECT_FALSE(errorPrecheck(context_, many.data(), 0x7FFFFFFFu, result));
}

TEST_F(ArgumentsTest, PrecheckWithoutModelReadsCellsAsEmpty) {
  const Value errorCell = ref(at(1, 0), at(1, 0));
  const Value twoSheets = ref(at(0, 0, 0), at(0, 0, 1));
  context_ = CallContext{};
  EXPECT_EQ(precheck({&errorCell}), "no stop");
  EXPECT_EQ(precheck({&twoSheets}), "error #REF!");
  // The cell's own model serves when no engine is given.
  context_.cell = model_.findCell(at(2, 0));
  EXPECT_EQ(precheck({&errorCell}), "error #DIV/0!");
}

TEST(NumberFromValueTest, ReadsNumbersOrSetsTheResult) {
  ValueArray elements(1, 1);
  Value array;
  array.setArray(elements);
  const struct {
    const char* label;
    Value value;
    std::string expected;  // the number as text, or the result
  } cases[] = {
      {"TRUE", Value::boolean(true), "1"},
      {"FALSE", Value::boolean(false), "0"},
      {"empty", Value(), "0"},
      {"integer", Value::integer(-7), "-7"},
      {"number", Value::number(2.5), "2.5"},
      {"number text", Value::text(u"12"), "12"},
      {"text with blanks and decimals", Value::text(u" 1.25 "), "1.25"},
      {"other text", Value::text(u"abc"), "error #VALUE!"},
      {"empty text", Value::text(u""), "error #VALUE!"},
      {"error text", Value::text(u"#N/A"), "text #N/A"},
      {"error", Value::error(kErrorNum), "error #NUM!"},
      {"reference", ref(at(0, 0), at(0, 0)), "error #VALUE!"},
      {"array", array, "error #VALUE!"},
  };
  for (const auto& c : cases) {
    double x = -99;
    Value result = Value::text(u"previous long text");
    bool ok = numberFromValue(c.value, &x, result);
    std::string got = ok ? toUtf8(toText(Value::number(x))) : describe(result);
    EXPECT_EQ(got, c.expected) << c.label;
    if (ok) {
      EXPECT_EQ(result.text(), u"previous long text") << c.label;
    }

    double y = -99;
    uint32_t code = numberOrError(c.value, &y);
    EXPECT_EQ(code == 0, ok) << c.label;
    if (ok) {
      EXPECT_EQ(y, x) << c.label;
    }
  }
  double x = 0;
  EXPECT_EQ(numberOrError(Value::text(u"#N/A"), &x), kErrorNA);
  EXPECT_EQ(numberOrError(Value::text(u"abc"), &x), kErrorValue);
}

TEST(NumberResultTest, StoresIntegerNormalForm) {
  const struct {
    double x;
    std::string expected;
  } cases[] = {
      {4.0, "integer 4"},
      {4.5, "number 4.5"},
      {-0.0, "integer 0"},
      {3.0, "integer 3"},
      {2147483647.0, "integer 2147483647"},
      {-2147483648.0, "integer -2147483648"},
      {3e9, "number 3000000000"},
      {std::numeric_limits<double>::quiet_NaN(), "error #NUM!"},
      {std::numeric_limits<double>::infinity(), "error #NUM!"},
      {-std::numeric_limits<double>::infinity(), "error #NUM!"},
  };
  for (const auto& c : cases) {
    Value result = Value::text(u"a text long enough to own storage");
    setNumberResult(result, c.x);
    EXPECT_EQ(describe(result), c.expected) << c.x;
  }
}

TEST(ErrorResultTest, ReplacesWhatTheResultHeld) {
  Value result;
  result.setArray(ValueArray(2, 2));
  setErrorResult(result, kErrorDiv0);
  EXPECT_EQ(describe(result), "error #DIV/0!");
  result.setText(u"a text long enough to own storage");
  setErrorResult(result, 0x1234);
  EXPECT_EQ(describe(result), "error #VALUE!");
}

}  // namespace
}  // namespace korvel
