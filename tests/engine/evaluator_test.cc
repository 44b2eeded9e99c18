#include "engine/evaluator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "compiler/model_builder.h"
#include "compiler/workbook_text.h"
#include "engine/engine.h"
#include "engine/evaluator_internal.h"
#include "engine/locale_settings.h"
#include "engine/native_function.h"
#include "engine/value_convert.h"
#include "functions/function_catalogue.h"
#include "model/address.h"
#include "model/compiled_model.h"
#include "recording_calc_host.h"
#include "util/text.h"
#include "value_test_support.h"

namespace korvel {
namespace {

// Describes what a routine received: one letter per argument (i integer, n number, t text,
// b boolean, e error, a array, r reference, l reference list, - empty), joined by commas.
void probe(CallContext&, const Value* const* arguments, Value& result) {
  std::u16string kinds;
  for (size_t i = 0; arguments[i]; ++i) {
    if (i > 0) kinds += u",";
    kinds += std::u16string(1, u"-inttbrlae"[static_cast<int>(arguments[i]->kind())]);
  }
  result.setText(kinds);
}

void absolute(CallContext&, const Value* const* arguments, Value& result) {
  double x;
  if (!arguments[0] || !toNumber(*arguments[0], &x)) {
    result.setError(kErrorValue);
  } else {
    result.setNumber(std::fabs(x));
  }
}

// Returns a reference to the first cell of its first argument, as INDEX(range, 1) would.
void firstCell(CallContext&, const Value* const* arguments, Value& result) {
  if (!arguments[0] || !arguments[0]->isReference()) {
    result.setError(kErrorRef);
    return;
  }
  RangeRef range = normalizeRange(arguments[0]->reference());
  result.setReference(range.first, range.first);
}

// The catalogue with its argument classes, and a few test routines in place of the native
// registry. describeAll false makes every function look undescribed, so that calls go to the
// host program as formula text.
class TestResolver : public FunctionResolver {
 public:
  TestResolver() {
    natives_[u"SUM"] = NativeFunction(probe);
    natives_[u"ISREF"] = NativeFunction(probe);
    natives_[u"TRANSPOSE"] = NativeFunction(probe);
    natives_[u"SUMPRODUCT"] = NativeFunction(probe);
    natives_[u"CONCATENATE"] = NativeFunction(probe);
    natives_[u"ABS"] = NativeFunction(absolute);
    natives_[u"INDEX"] = NativeFunction(firstCell);
  }
  bool describeAll = true;

  int functionNumber(std::u16string_view name) const override {
    return catalogue().numberOfName(name);
  }
  const std::u16string* functionName(int number) const override {
    return catalogue().nameOfNumber(number);
  }
  const NativeFunction* nativeFunction(std::u16string_view name) const override {
    auto it = natives_.find(std::u16string(name));
    return it == natives_.end() ? nullptr : &it->second;
  }
  int maximumArguments(int number) const override {
    const FunctionDescriptor* d = describeAll ? catalogue().descriptorOfNumber(number) : nullptr;
    return d ? d->maximumArguments : -1;
  }
  int argumentClass(int number, int position) const override {
    const FunctionDescriptor* d = catalogue().descriptorOfNumber(number);
    return d ? korvel::argumentClass(*d, position) : 0;
  }
  int returnClass(int number) const override {
    const FunctionDescriptor* d = catalogue().descriptorOfNumber(number);
    return d ? korvel::returnClass(*d) : 0;
  }

 private:
  static const FunctionCatalogue& catalogue() { return FunctionCatalogue::instance(); }
  std::map<std::u16string, NativeFunction> natives_;
};

// Constants that the formulas of the tests read, on Sheet1.
constexpr const char* kInputs = R"(
A1: "1"
A2: "a"
A3: 5
A4: 1
A5: 2
A6: 3
B4: 10
C4: 20
D4: 30
A8: "3/15/2021"
A9: "ABC"
)";

class EvaluatorTest : public ::testing::Test {
 protected:
  void TearDown() override { resetLocaleSettings(); }

  // Builds Sheet1 with the inputs and the extra lines; the test fails on any fault.
  void build(const std::string& lines, bool withHost = true) {
    engine_.reset();  // the engine borrows the model
    model_ = std::make_unique<CompiledModel>();
    Workbook book;
    std::vector<std::string> errors;
    std::string text = std::string("[Sheet1]\n") + kInputs + lines + "\n";
    ASSERT_TRUE(readWorkbookText(text, &book, &errors)) << (errors.empty() ? "" : errors[0]);
    ASSERT_TRUE(buildModel(book, &resolver_, *model_, &errors))
        << (errors.empty() ? "" : errors[0]);
    engine_ = std::make_unique<Engine>(*model_, withHost ? &host_ : nullptr);
  }

  Cell* cell(const char* address) { return model_->findCell(parseCell(fromUtf8(address), 0)); }

  // Evaluates the cell (after the cells named in first, in order) and shows its value.
  std::string evaluate(const char* address, std::vector<const char*> first = {}) {
    for (const char* a : first) evaluateCell(*engine_, cell(a));
    Cell* c = cell(address);
    if (!c) return "no cell";
    evaluateCell(*engine_, c);
    return c->value ? show(*c->value) : "no value";
  }

  // A formula in Z1 of a fresh model, evaluated.
  std::string formula(const std::string& f, bool withHost = true) {
    build("Z1: " + f, withHost);
    return evaluate("Z1");
  }

  TestResolver resolver_;
  RecordingCalcHost host_;
  std::unique_ptr<CompiledModel> model_;
  std::unique_ptr<Engine> engine_;
};

struct Case {
  const char* formula;
  const char* expected;
};

TEST_F(EvaluatorTest, OperatorsConvertPropagateAndKeepIntegers) {
  const Case cases[] = {
      {"=1+A1", "i:2"},  // a number text is converted
      {"=1+A2", "e:#VALUE!"},
      {"=0+A8", "i:44270"},  // a date text in the user's format
      {"=1/0", "e:#DIV/0!"},
      {"=(-8)^(1/3)", "e:#NUM!"},
      {"=0*(1/0)", "e:#DIV/0!"},  // errors propagate before the zero rule
      {"=A4:A6+1", "e:#VALUE!"},  // several cells are not a value
      {"=#N/A&\"x\"", "e:#N/A"},
      {"=\"x\"&#REF!&(1/0)", "e:#REF!"},  // the first error wins
      {"=\"a\"&1.5&TRUE", "t:a1.5TRUE"},
      {"=3*0.5*2", "i:3"},
      {"=7/2", "n:3.5"},
      {"=-A3", "i:-5"},
      {"=-0", "i:0"},
      {"=50%", "n:0.5"},
      {"=TRUE+1", "i:2"},
      {"=A7+1", "i:1"},  // an empty cell counts 0
      {"=2147483647+1", "n:2147483648"},
      {"=1E308*10", "e:#NUM!"},
      {"=1E308+1E308", "e:#NUM!"},  // no infinity reaches a cell
      {"=2^10", "i:1024"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(formula(c.formula), c.expected) << c.formula;
  }
}

TEST_F(EvaluatorTest, ComparisonsIgnoreCaseAndToleranceAndOrderKinds) {
  const Case cases[] = {
      {"=\"abc\"=A9", "b:TRUE"},  {"=\"abd\">A9", "b:TRUE"}, {"=0.1+0.2=0.3", "b:TRUE"},
      {"=1<\"a\"", "b:TRUE"},      // numbers before texts
      {"=\"z\"<FALSE", "b:TRUE"},  // texts before booleans
      {"=A1=1", "b:FALSE"},        // the text "1" is not the number 1
      {"=A7=0", "b:TRUE"},        {"=A7=\"\"", "b:TRUE"},    {"=A3<>5", "b:FALSE"},
      {"=A3>=5", "b:TRUE"},       {"=A3<=4", "b:FALSE"},     {"=#N/A=1", "e:#N/A"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(formula(c.formula), c.expected) << c.formula;
  }
}

TEST_F(EvaluatorTest, ArrayFormulasBroadcastArraysAndRanges) {
  build(R"(
E1:G2: {={1,2,3}+{10;20}}
E4:G4: {={1,2,3}+{10,20}}
E6:G7: {={1;2}*{1,10,100}}
E9:G11: {=A4:A6+B4:D4}
E13:F15: {=A4:A6*{1,2}}
E17:E20: {={1;2;3}}
E22:E24: {=A4:A6>1}
E26:E28: {=A4:A6}
E30:F30: {=7}
H1: ={1,2}+1
)");
  EXPECT_EQ(evaluate("E1"), "a:{11,12,13;21,22,23}");
  EXPECT_EQ(evaluate("F2"), "i:22");  // members take their element of the anchor's array
  EXPECT_EQ(evaluate("E4"), "a:{11,22,#N/A}");
  EXPECT_EQ(evaluate("E6"), "a:{1,10,100;2,20,200}");  // one column repeats across columns
  EXPECT_EQ(evaluate("E9"), "a:{11,21,31;12,22,32;13,23,33}");
  EXPECT_EQ(evaluate("E13"), "a:{1,2;2,4;3,6}");
  EXPECT_EQ(evaluate("E20", {"E17"}), "e:#N/A");  // beyond the anchor's array
  EXPECT_EQ(evaluate("E22"), "a:{FALSE;TRUE;TRUE}");
  EXPECT_EQ(evaluate("E26"), "a:{1;2;3}");     // a reference result becomes the range's values
  EXPECT_EQ(evaluate("F30", {"E30"}), "i:7");  // a single value stands for every member
  EXPECT_EQ(evaluate("H1"), "i:2");            // no array range: the first element
}

TEST_F(EvaluatorTest, BroadcastElementsFollowTheShapeRules) {
  build("E1: 1");
  Engine& engine = *engine_;
  Value column;
  column.setReference(CellRef::at(0, 3, 0), CellRef::at(0, 5, 0));  // A4:A6
  Value row;
  row.setReference(CellRef::at(0, 3, 1), CellRef::at(0, 3, 3));  // B4:D4
  Value block;
  block.setReference(CellRef::at(0, 3, 0), CellRef::at(0, 4, 1));  // A4:B5
  Value out;
  evaluation::broadcastElement(engine, column, 2, 1, out);
  EXPECT_EQ(show(out), "i:2");  // one column wide: column 0 for every column
  evaluation::broadcastElement(engine, column, 0, 5, out);
  EXPECT_EQ(show(out), "-");  // outside the range: empty
  evaluation::broadcastElement(engine, row, 2, 7, out);
  EXPECT_EQ(show(out), "i:30");  // one row high: row 0 for every row
  evaluation::broadcastElement(engine, block, 1, 0, out);
  EXPECT_EQ(show(out), "i:10");
  evaluation::broadcastElement(engine, block, 1, 1, out);
  EXPECT_EQ(show(out), "-");  // B5 has no cell
  evaluation::broadcastElement(engine, Value::text(u"k"), 9, 9, out);
  EXPECT_EQ(show(out), "t:k");
}

// Where one value is wanted, a range stands for its cell in the computed cell's row or column;
// an array formula keeps the whole range.
TEST_F(EvaluatorTest, ARangeAsOneValueIsItsCellInTheRowOrColumnOfTheFormula) {
  build(R"(
E5: =A4:A6*10
E6: =A:A
E7: =A4:A6+1
C7: =B4:D4
E4: =ABS(A4:A6)
F5: =B4:D6
E3: =B4:D4
C3: =4:4
H5: {=SUM(A4:A6*2)}
)");
  // SUM is recorded by the test host: "t:a" says it got the whole range as an array.
  const Case cases[] = {
      {"E5", "i:20"},      {"E6", "i:3"},       {"E7", "e:#VALUE!"}, {"C7", "i:20"}, {"E4", "i:1"},
      {"F5", "e:#VALUE!"}, {"E3", "e:#VALUE!"}, {"C3", "i:20"},      {"H5", "t:a"},
  };
  for (const Case& c : cases) EXPECT_EQ(evaluate(c.formula), c.expected) << c.formula;
}

TEST_F(EvaluatorTest, ArgumentsArriveAsTheirClassesAsk) {
  build(R"(
E1: =SUM(A4:A6,A4,2)
E2: =SUM(1,,2)
E3: =ABS(A4:A6)
E4: =ABS({-1,2})
E5: =TRANSPOSE({1,2})
E6: =SUMPRODUCT(A4:A6)
E7: =ISREF(A4)
E8: =SUM({1,2})
E9: =CONCATENATE(A4,A1)
E10: =INDEX(A5:A6,1)+1
E11: =INDEX(A5:A6,1)
F1:F3: {=ABS(A4:A6-3)}
F5:G5: {=CONCATENATE({1,2},"x")}
)");
  EXPECT_EQ(evaluate("E1"), "t:r,r,i");    // reference class: references, single cells too
  EXPECT_EQ(evaluate("E2"), "t:i,-,i");    // a missing argument is empty
  EXPECT_EQ(evaluate("E3"), "e:#VALUE!");  // value class, value mode: several cells
  EXPECT_EQ(evaluate("E4"), "i:1");        // element by element, first element kept
  EXPECT_EQ(evaluate("E5"), "t:a");        // array class, array result: the array whole
  EXPECT_EQ(evaluate("E6"), "t:r");
  EXPECT_EQ(evaluate("E7"), "t:r");
  EXPECT_EQ(evaluate("E8"), "t:a");    // reference class: no element-by-element call
  EXPECT_EQ(evaluate("E9"), "t:i,t");  // value class: the cells' values
  EXPECT_EQ(evaluate("E10"), "i:3");   // a reference result is a value where one is wanted
  EXPECT_EQ(evaluate("E11"), "i:2");
  EXPECT_EQ(evaluate("F1"), "a:{2;1;0}");  // value class in an array formula: per element
  EXPECT_EQ(evaluate("F5"), "a:{\"i,t\",\"i,t\"}");
}

TEST_F(EvaluatorTest, CallsWithoutNativeGoToTheHostProgram) {
  build(R"(
E1: =NORM.S.DIST(1,TRUE)
E2: =STDEV.S(1,A4:A6,3)
E3: =FOO(1,"a")
E4: =FOO(A4,2)
E5: =_xlfn.XLOOKUP(1,A4:A6,B4:D4)
)");
  host_.functionAnswer = Value::number(0.84);
  engine_->computedWithoutExcel = true;
  EXPECT_EQ(evaluate("E1"), "n:0.84");
  EXPECT_FALSE(engine_->computedWithoutExcel);
  ASSERT_EQ(host_.functionCalls.size(), 1u);
  EXPECT_EQ(host_.functionCalls[0].number, 539);
  EXPECT_EQ(host_.functionCalls[0].count, 2);
  ASSERT_EQ(host_.functionCalls[0].arguments.size(), 2u);
  EXPECT_EQ(show(host_.functionCalls[0].arguments[0]), "i:1");
  EXPECT_EQ(show(host_.functionCalls[0].arguments[1]), "b:TRUE");

  evaluate("E2");
  ASSERT_EQ(host_.functionCalls.size(), 2u);
  EXPECT_EQ(host_.functionCalls[1].count, 30);  // every parameter of an open-ended function
  EXPECT_EQ(show(host_.functionCalls[1].arguments[1]), "r:A4:A6");

  host_.functionAnswer = Value::number(HUGE_VAL);
  EXPECT_EQ(evaluate("E1"), "e:#NUM!");  // no infinity reaches a cell
  host_.functionSucceeds = false;
  EXPECT_EQ(evaluate("E1"), "e:#VALUE!");

  // Without the call flag the name is a user-defined function of the workbook.
  host_.macroAnswer = Value::text(u"udf");
  EXPECT_EQ(evaluate("E3"), "t:udf");
  ASSERT_EQ(host_.macroCalls.size(), 1u);
  EXPECT_EQ(toUtf8(host_.macroCalls[0].name), "FOO");
  EXPECT_FALSE(host_.macroCalls[0].array);
  evaluate("E4");
  ASSERT_EQ(host_.macroCalls.size(), 2u);
  EXPECT_TRUE(host_.macroCalls[1].array);  // a reference goes to the array form
  EXPECT_EQ(show(host_.macroCalls[1].arguments[0]), "r:A4");

  // A host function newer than the catalogue goes as formula text, references as written.
  host_.evaluateAnswer = Value::integer(10);
  EXPECT_EQ(evaluate("E5"), "i:10");
  ASSERT_EQ(host_.evaluated.size(), 1u);
  EXPECT_EQ(toUtf8(host_.evaluated[0]), "=_XLFN.XLOOKUP(1,A4:A6,B4:D4)");
}

TEST_F(EvaluatorTest, FormulaTextsForTheHostProgram) {
  resolver_.describeAll = false;
  build(R"(
E1: =ROUND(A3*2,1)
E2: =INDIRECT("A"&4)
E3: =NOW()
E4: =ROUND(A4:A6,A9)
)");
  host_.evaluateAnswer = Value::integer(1);
  evaluate("E1");
  evaluate("E2");
  evaluate("E3");
  evaluate("E4");
  ASSERT_EQ(host_.evaluated.size(), 4u);
  EXPECT_EQ(toUtf8(host_.evaluated[0]), "=ROUND(10,1)");          // values as literals
  EXPECT_EQ(toUtf8(host_.evaluated[1]), "=INDIRECT((\"A\"&4))");  // volatile: as written
  EXPECT_EQ(toUtf8(host_.evaluated[2]), "=NOW()");
  EXPECT_EQ(toUtf8(host_.evaluated[3]), "=ROUND(A4:A6,A9)");  // references as written

  // An unknown name with the call flag, on its own, as `korvel eval` evaluates it.
  CallNode call(u"FOO", CallNode::kCallFlag, &resolver_);
  call.addChild(std::make_unique<NumberNode>(1));
  call.addChild(std::make_unique<TextNode>(u"a"));
  host_.evaluateAnswer = Value::text(u"foo");
  EXPECT_EQ(show(evaluateFormula(*engine_, &call, cell("E1"), kModeValue)), "t:foo");
  EXPECT_EQ(toUtf8(host_.evaluated.back()), "=FOO(1,\"a\")");

  host_.evaluateResult = -1;
  EXPECT_EQ(show(evaluateFormula(*engine_, &call, cell("E1"), kModeValue)), "e:#VALUE!");
}

TEST_F(EvaluatorTest, WithoutHostUnknownCallsAreNames) {
  EXPECT_EQ(formula("=FOO(1,\"a\")", false), "e:#NAME?");
  EXPECT_EQ(formula("=NORM.S.DIST(1,TRUE)", false), "e:#NAME?");
  EXPECT_EQ(formula("=ABS(-2)", false), "i:2");  // natives need no host
}

TEST_F(EvaluatorTest, HostFailuresLeaveTheCellAsItWas) {
  build("E1: =FOO(1)\nE2: =A3+1");
  Cell* c = cell("E1");
  c->ensureValue() = Value::integer(17);
  host_.throwOnCall = true;
  EXPECT_EQ(evaluate("E1"), "i:17");
  CallNode call(u"FOO", 0, &resolver_);
  EXPECT_EQ(show(evaluateFormula(*engine_, &call, c, kModeValue)), "e:#VALUE!");

  Cell* e2 = cell("E2");
  evaluateCell(*engine_, e2);
  EXPECT_TRUE(e2->hasFlag(kCellValueChanged));
  evaluateCell(*engine_, e2);
  EXPECT_FALSE(e2->hasFlag(kCellValueChanged));  // the same value again
}

TEST_F(EvaluatorTest, ReferenceShiftMovesOnlyReferencesInsideTheBand) {
  // A4=1, A5=2, A6=3, B4=10, A3=5: A4 and B4 lie in the band, A3 does not.
  build("E1: =A4+B4+A3\nE2: =ISREF(A4:A5)");
  Cell* e1 = cell("E1");
  engine_->referenceShift = {{CellRef::at(0, 3, 0), CellRef::at(0, 5, 1)}, 1};
  EXPECT_EQ(show(evaluateFormula(*engine_, e1->formulaRoots[0].get(), e1, kModeValue)), "i:7");
  engine_->referenceShift.rows = 2;  // A6 + B6 (no cell) + A3
  EXPECT_EQ(show(evaluateFormula(*engine_, e1->formulaRoots[0].get(), e1, kModeValue)), "i:8");
  Cell* e2 = cell("E2");
  Value range =
      evaluateFormula(*engine_, e2->formulaRoots[0]->children()[0].get(), e2, kModeReference);
  EXPECT_EQ(show(range), "r:A6:A7");  // A5 lies in the band, so both corners move
  engine_->referenceShift.rows = -4;  // A4 would move above the sheet
  EXPECT_EQ(show(evaluateFormula(*engine_, e1->formulaRoots[0].get(), e1, kModeValue)), "e:#REF!");
  engine_->referenceShift = {};
  EXPECT_EQ(show(evaluateFormula(*engine_, e1->formulaRoots[0].get(), e1, kModeValue)), "i:16");
}

TEST_F(EvaluatorTest, UnionIntersectionAndNames) {
  build(R"(
name Vals: =Sheet1!$A$4:$A$6
name Rate: =Sheet1!$A$3
E1: =SUM((A4,A5:A6))
E2: =(A4,A5)+1
E3: =A4:A6 A5:C5
E4: =A4:A5 C4:C5
E5: =A4:B6 A5:C5
E6: =Rate*2
E7: =SUM(Vals)
E8: =SUM(Vals A5:B5)
)");
  EXPECT_EQ(evaluate("E1"), "t:l");  // the whole union, not only its first operand
  EXPECT_EQ(evaluate("E2"), "e:#VALUE!");
  EXPECT_EQ(evaluate("E3"), "i:2");
  EXPECT_EQ(evaluate("E4"), "e:#NULL!");
  EXPECT_EQ(evaluate("E5"), "e:#VALUE!");  // two common cells are not a value
  EXPECT_EQ(evaluate("E6"), "i:10");
  EXPECT_EQ(evaluate("E7"), "t:r");
  EXPECT_EQ(evaluate("E8"), "t:r");

  Value list;
  evaluateNode(*engine_, cell("E1")->formulaRoots[0]->children()[0].get(), kModeReference, list);
  ASSERT_TRUE(list.isReferenceList());
  EXPECT_EQ(list.array().size(), 2u);
}

TEST_F(EvaluatorTest, IndirectNodesWithoutTargetOrInACircleGiveNothing) {
  build("E1: =A3");
  Cell* c = cell("E1");
  // Another root of the cell, reached through a local reference.
  auto plus = std::make_unique<OperatorNode>(kOpAdd);
  plus->addChild(std::make_unique<LocalRefNode>(1));
  plus->addChild(std::make_unique<NumberNode>(1));
  c->formulaRoots.clear();
  c->formulaRoots.push_back(std::move(plus));
  c->formulaRoots.push_back(std::make_unique<NumberNode>(41));
  EXPECT_EQ(evaluate("E1"), "i:42");

  // A name beyond the table and a name that stands for itself.
  model_->names.push_back(DefinedName{std::make_unique<NameRefNode>(0), u"Self", -1});
  for (uint32_t index : {0u, 99u}) {
    auto sum = std::make_unique<OperatorNode>(kOpAdd);
    sum->addChild(std::make_unique<NameRefNode>(index));
    sum->addChild(std::make_unique<NumberNode>(1));
    c->formulaRoots.clear();
    c->formulaRoots.push_back(std::move(sum));
    EXPECT_EQ(evaluate("E1"), "i:1") << index;
  }
}

TEST_F(EvaluatorTest, TreesTooDeepGiveValueErrors) {
  build("E1: =1");
  std::unique_ptr<Node> root = std::make_unique<NumberNode>(1);
  for (int i = 0; i < 5000; ++i) {
    auto negate = std::make_unique<OperatorNode>(kOpNegate);
    negate->addChild(std::move(root));
    root = std::move(negate);
  }
  Cell* c = cell("E1");
  c->formulaRoots.clear();
  c->formulaRoots.push_back(std::move(root));
  EXPECT_EQ(evaluate("E1"), "e:#VALUE!");
}

TEST_F(EvaluatorTest, PropagateErrorsReadsSingleCellsAndHonoursTheMask) {
  build("E1: \"#DIV/0!\"\nE2: #REF!");
  Value first, second, number = Value::integer(1), out;
  first.setReference(CellRef::at(0, 0, 4), CellRef::at(0, 0, 4));   // E1: an error text
  second.setReference(CellRef::at(0, 0, 4), CellRef::at(0, 1, 4));  // E1:E2: not inspected
  EXPECT_FALSE(propagateErrors(*engine_, {&number, &second}, out, 0x3));
  EXPECT_TRUE(propagateErrors(*engine_, {&number, &first}, out, 0x3));
  EXPECT_EQ(show(out), "t:#DIV/0!");
  EXPECT_FALSE(propagateErrors(*engine_, {&number, &first}, out, 0x1));
}

}  // namespace
}  // namespace korvel
