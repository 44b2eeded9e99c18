// Logical and information functions, computed on small workbooks.
#include <gtest/gtest.h>

#include <string>

#include "function_test_support.h"
#include "functions/native_registry.h"

namespace korvel {
namespace {

// Every kind a cell can hold, with an error text and a text that reads as a boolean.
const char* const kKinds =
    "A1: 1\nA2: \"abc\"\nA3: TRUE\nA4: #N/A\nA5: \"#DIV/0!\"\nA6: 0\nA7: \"TRUE\"\n"
    "A9: \"#N/A\"\nB1: 2.5\n"
    "C1: 1\nC2: \"x\"\nC4: TRUE\nD1: \"x\"\nE1: 0\nE2: #N/A\nF1: \"#REF!\"\n";
const char* const kSheet2 = "[Sheet2]\nB3: 5\n";

class LogicalFunctions : public FunctionTest {
 protected:
  // The formula in Z100 of the first sheet, with a second sheet after it.
  std::string calc(const std::string& formula) {
    build(std::string(kKinds) + "Z100: " + formula + "\n" + kSheet2);
    return valueOf("Z100");
  }
  void expectAll(const std::vector<FormulaCase>& cases) {
    for (const FormulaCase& c : cases) EXPECT_EQ(calc(c.formula), c.expected) << c.formula;
  }
};

TEST_F(LogicalFunctions, IfReadsConditionsAndMissingBranches) {
  expectAll({
      {"=IF(\"TRUE\",1,2)", "i:1"},
      {"=IF(\"false\",1,2)", "i:2"},
      {"=IF(A7,1,2)", "i:1"},
      {"=IF(\"yes\",1,2)", "e:#VALUE!"},
      {"=IF(A4,1,2)", "e:#N/A"},
      {"=IF(A8,1,2)", "i:2"},
      {"=IF(0.5,A2,2)", "t:abc"},
      {"=IF(0,1)", "b:FALSE"},
      {"=IF(1/0,1,2)", "e:#DIV/0!"},
  });
  // A then argument written empty is the empty value; the cell shows it as 0.
  EXPECT_EQ(evalReference(kKinds, "=IF(1,,2)"), "-");
  EXPECT_EQ(eval(kKinds, "=IF(1,,2)"), "i:0");
}

// An array condition reads the branches in step with it: each element takes its branch's element
// at its own position (#N/A past a branch's end), and array branches widen the result.
TEST_F(LogicalFunctions, IfOverArraysReadsTheBranchesElementByElement) {
  build(
      "A1: 1\nA2: 2\nA3: 3\nB1: 10\nB2: 20\nB3: 30\nD1: 7\nD2: 8\n"
      "C1:C3: {=IF(A1:A3>1,A1:A3,B1:B3)}\n"
      "E1:E3: {=IF(A1:A3>1,D1:D2,0)}\n"
      "F1:G2: {=IF({TRUE;FALSE},{1,2},{7,8})}\n"
      "H1:H3: {=CHOOSE({1;2;1},A1:A3,B1:B3)}\n");
  // An anchor holds the whole array.
  const FormulaCase cells[] = {
      {"C1", "a:{10;2;3}"},
      {"E1", "a:{0;8;#N/A}"},
      {"F1", "a:{1,2;7,8}"},
      {"H1", "a:{1;20;3}"},
  };
  for (const FormulaCase& c : cells) EXPECT_EQ(valueOf(c.formula), c.expected) << c.formula;
}

TEST_F(LogicalFunctions, IfErrorCatchesErrorsAndErrorTexts) {
  expectAll({
      {"=IFERROR(1/0,5)", "i:5"},
      {"=IFERROR(\"#N/A\",5)", "i:5"},
      {"=IFERROR(A5,5)", "i:5"},
      {"=IFERROR(A2,5)", "t:abc"},
      {"=IFERROR(A1,5)", "i:1"},
      {"=_XLFN.IFERROR(A4,7)", "i:7"},
  });
}

TEST_F(LogicalFunctions, NotTakesNumbersBooleansAndEmpty) {
  expectAll({
      {"=NOT(0)", "b:TRUE"},
      {"=NOT(0.5)", "b:FALSE"},
      {"=NOT(A3)", "b:FALSE"},
      {"=NOT(A8)", "b:TRUE"},
      {"=NOT(\"a\")", "e:#VALUE!"},
      {"=NOT(A4)", "e:#N/A"},
      {"=NOT(A5)", "t:#DIV/0!"},
  });
}

TEST_F(LogicalFunctions, AndOrOverReferencesArraysAndDirectValues) {
  expectAll({
      // Text and empty cells are passed over; a reference with nothing logical gives #VALUE!.
      {"=AND(C1:C4)", "b:TRUE"},
      {"=OR(C1:C4,E1)", "b:TRUE"},
      {"=AND(D1:D2)", "e:#VALUE!"},
      {"=AND(C1:C4,D1:D2)", "b:TRUE"},
      // AND stops at the first false cell; OR goes on to the error.
      {"=AND(E1:E2)", "b:FALSE"},
      {"=OR(E1:E2)", "e:#N/A"},
      {"=OR(F1)", "t:#REF!"},
      // Direct texts are no logical values; an empty argument counts as FALSE.
      {"=AND(\"TRUE\")", "b:TRUE"},  // the texts TRUE and FALSE count, other texts not
      {"=OR(\"false\")", "b:FALSE"},
      {"=OR(\"\",TRUE)", "b:TRUE"},
      {"=AND(\"x\",FALSE)", "b:FALSE"},
      {"=OR(\"1\")", "e:#VALUE!"},
      {"=AND(1,\"#N/A\")", "t:#N/A"},
      {"=AND(1,)", "b:FALSE"},
      {"=OR(0,1/0)", "e:#DIV/0!"},
      // Array elements: only the TRUE text counts as true among texts.
      {"=AND({1,\"TRUE\",TRUE})", "b:TRUE"},
      {"=AND({1,\"x\"})", "b:FALSE"},
      {"=OR({0,\"x\"})", "b:FALSE"},
      {"=OR({0,#N/A})", "e:#N/A"},
  });
}

TEST_F(LogicalFunctions, IsFunctionsAnswerByKind) {
  // Columns: ISBLANK ISERR ISERROR ISLOGICAL ISNA ISNONTEXT ISNUMBER ISREF ISTEXT.
  const char* const kNames[] = {"ISBLANK",   "ISERR",    "ISERROR", "ISLOGICAL", "ISNA",
                                "ISNONTEXT", "ISNUMBER", "ISREF",   "ISTEXT"};
  const struct {
    const char* argument;
    const char* answers;
  } kCases[] = {
      {"A8", "100001010"},     // empty cell
      {"A1", "000001110"},     // number
      {"A2", "000000011"},     // text
      {"A3", "000101010"},     // boolean
      {"A4", "001011010"},     // #N/A
      {"A5", "011000011"},     // the text #DIV/0!
      {"A9", "001010011"},     // the text #N/A
      {"1/0", "011001000"},    // error value
      {"5", "000001100"},      // constant
      {"A1:A2", "011001010"},  // several cells where one value is taken: #VALUE!
  };
  for (const auto& c : kCases) {
    for (int f = 0; f < 9; ++f) {
      std::string formula = std::string("=") + kNames[f] + "(" + c.argument + ")";
      std::string expected = c.answers[f] == '1' ? "b:TRUE" : "b:FALSE";
      EXPECT_EQ(calc(formula), expected) << formula;
    }
  }
  EXPECT_EQ(calc("=ISREF(Sheet2!B3:B4)"), "b:TRUE");
  EXPECT_EQ(calc("=ISREF((A1,B1))"), "b:TRUE");
}

TEST_F(LogicalFunctions, NTypeAndErrorType) {
  expectAll({
      {"=N(A1)", "i:1"},
      {"=N(B1)", "n:2.5"},
      {"=N(A2)", "i:0"},
      {"=N(A3)", "i:1"},
      {"=N(A4)", "e:#N/A"},
      {"=N(A8)", "i:0"},
      {"=N(A1:A3)", "i:1"},
      {"=N({5,6})", "i:5"},
      {"=TYPE(1)", "i:1"},
      {"=TYPE(\"a\")", "i:2"},
      {"=TYPE(TRUE)", "i:4"},
      {"=TYPE(#N/A)", "i:16"},
      {"=TYPE(A8)", "i:1"},
      {"=TYPE(A5)", "i:2"},
      {"=ERROR.TYPE(#NULL!)", "i:1"},
      {"=ERROR.TYPE(1/0)", "i:2"},
      {"=ERROR.TYPE(#N/A)", "i:7"},
      {"=ERROR.TYPE(A5)", "i:2"},
      {"=ERROR.TYPE(1)", "e:#N/A"},
      {"=ERROR.TYPE(A2)", "e:#N/A"},
  });
}

TEST_F(LogicalFunctions, CellAnswersTypeAndAddressAndAsksTheHostTheRest) {
  expectAll({
      {"=CELL(\"type\",A1)", "t:v"},
      {"=CELL(\"Type\",A2)", "t:l"},
      {"=CELL(\"type\",A8:B9)", "t:b"},
      {"=CELL(\"address\",Sheet2!B3)", "t:'[Book]Sheet2'!$B$3"},
      {"=CELL(\"ADDRESS\",B3:C4)", "t:$B$3"},
      {"=CELL(\"address\")", "t:$Z$100"},
      {"=CELL(1,A1)", "e:#VALUE!"},
      {"=CELL(\"#N/A\",A1)", "t:#N/A"},
      {"=CELL(1/0)", "e:#DIV/0!"},
  });
  EXPECT_TRUE(host_.functionCalls.empty());

  calc("=CELL(\"width\",A1)");
  ASSERT_EQ(host_.functionCalls.size(), 1u);
  EXPECT_EQ(host_.functionCalls[0].number, 125);
  EXPECT_EQ(host_.functionCalls[0].count, 2);
  ASSERT_EQ(host_.functionCalls[0].arguments.size(), 2u);
  EXPECT_EQ(show(host_.functionCalls[0].arguments[1]), "r:A1");
}

TEST_F(LogicalFunctions, CellQuotesApostrophesInNames) {
  build("[Sheet1]\nA1: =CELL(\"address\",'O''Neil'!C2)\n[O'Neil]\nC2: 1\n");
  EXPECT_EQ(valueOf("A1"), "t:'[Book]O''Neil'!$C$2");
}

TEST_F(LogicalFunctions, InfoAnswersFromTheApplicationOrAsksTheHost) {
  EXPECT_EQ(eval("", "=INFO(\"ISEXE\")"), "b:TRUE");
  EXPECT_EQ(eval("", "=INFO(5)"), "e:#VALUE!");
  EXPECT_EQ(eval("", "=INFO(1/0)"), "e:#DIV/0!");
  // Without application information the runtime cannot say its name.
  EXPECT_EQ(eval("", "=INFO(\"appname\")"), "e:#VALUE!");
  EXPECT_TRUE(host_.functionCalls.empty());

  build("A1: =INFO(\"appname\")\nA2: =INFO(\"appver\")\nA3: =INFO(\"osversion\")\n");
  ApplicationInfo info{u"Planner", u"2.1.7"};
  engine_->applicationInfo = &info;
  host_.functionCalls.clear();
  host_.functionAnswer = Value::text(u"Some system");
  engine_->recalculation().computeAll();
  EXPECT_EQ(valueOf("A1"), "t:Planner");
  EXPECT_EQ(valueOf("A2"), "t:2.1.7");
  EXPECT_EQ(valueOf("A3"), "t:Some system");
  ASSERT_EQ(host_.functionCalls.size(), 1u);
  EXPECT_EQ(host_.functionCalls[0].number, 244);
  EXPECT_EQ(host_.functionCalls[0].count, 1);
  engine_->applicationInfo = nullptr;
}

TEST_F(LogicalFunctions, EvaluateHandsFormulaTextsToTheHost) {
  build(
      "A1: \"1+2\"\nA2: =EVALUATE(A1)\nA3: =EVALUATE(\"=A1&1\")\nA4: =EVALUATE(4)\n"
      "A5: =EVALUATE(\"\")\n");
  ASSERT_EQ(host_.evaluated.size(), 2u);
  EXPECT_EQ(toUtf8(host_.evaluated[0]), "=1+2");
  EXPECT_EQ(toUtf8(host_.evaluated[1]), "=A1&1");
  EXPECT_EQ(valueOf("A4"), "i:4");
  EXPECT_EQ(valueOf("A5"), "e:#VALUE!");
}

TEST_F(LogicalFunctions, EvaluateOfAReferenceEvaluatesTheTextItFinds) {
  // Value-class arguments arrive as values, so the reference form is reached through the routine.
  build("A1: 0\n[Sheet 2]\nB3: \"2*3\"\n");
  const NativeFunction* evaluate = NativeRegistry::instance().findNative(u"EVALUATE");
  ASSERT_NE(evaluate, nullptr);
  CallContext context{cell("A1"), engine_.get()};
  Value reference = Value::reference(CellRef::at(1, 2, 1), CellRef::at(1, 2, 1));
  const Value* arguments[] = {&reference, nullptr};
  host_.evaluateAnswer = Value::text(u"2*3");
  Value result;
  evaluate->call(context, arguments, result);
  ASSERT_EQ(host_.evaluated.size(), 2u);
  EXPECT_EQ(toUtf8(host_.evaluated[0]), "='Sheet 2'!B3");
  EXPECT_EQ(toUtf8(host_.evaluated[1]), "=2*3");

  host_.evaluated.clear();
  host_.evaluateAnswer = Value::integer(6);
  evaluate->call(context, arguments, result);
  EXPECT_EQ(host_.evaluated.size(), 1u);
  EXPECT_EQ(show(result), "i:6");
}

}  // namespace
}  // namespace korvel
