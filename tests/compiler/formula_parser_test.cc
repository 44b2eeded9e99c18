#include "compiler/formula_parser.h"

#include <gtest/gtest.h>

#include <string>

#include "util/text.h"

namespace korvel {
namespace {

std::string describe(std::u16string_view formula) {
  ParseError error;
  auto root = parseFormula(formula, &error);
  if (!root) return "error: " + error.message;
  return root->describe();
}

struct Case {
  const char16_t* formula;
  const char* tree;
};

TEST(FormulaParserTest, SyntaxElements) {
  const Case cases[] = {
      {u"=42", "42"},
      {u"=1.5e3", "1500"},
      {u"=.25", "0.25"},
      {u"=\"say \"\"hi\"\"\"", "\"say \"hi\"\""},
      {u"=\"\"", "\"\""},
      {u"=true", "TRUE"},
      {u"=FALSE", "FALSE"},
      {u"=#n/a", "#N/A"},
      {u"=#DIV/0!", "#DIV/0!"},
      {u"=#NAME?", "#NAME?"},
      {u"={1,2;3,4}", "{1,2;3,4}"},
      {u"={-1,\"a\",TRUE,#N/A}", "{-1,\"a\",TRUE,#N/A}"},
      {u"=A1", "A1"},
      {u"=$b$7", "$B$7"},
      {u"=A$1:$C3", "A$1:$C3"},
      {u"=XFD1048576", "XFD1048576"},
      {u"=A:A", "A:A"},
      {u"=$B:D", "$B:D"},
      {u"=1:1", "1:1"},
      {u"=$2:5", "$2:5"},
      {u"=Sheet1!A1", "Sheet1!A1"},
      {u"='My Sheet'!A1:B2", "My Sheet!A1:B2"},
      {u"='O''Neil'!C:C", "O'Neil!C:C"},
      {u"=Data!3:4", "Data!3:4"},
      {u"=SUM(Sheet1:Sheet3!A1)", "(SUM Sheet1:Sheet3!A1)"},
      {u"=Jan:Dec!B2:C4", "Jan:Dec!B2:C4"},
      {u"=SUM('Sheet 2:Sheet 5'!A1:B3)", "(SUM Sheet 2:Sheet 5!A1:B3)"},
      {u"=A1:INDEX(A:A,3)", "(range A1 (INDEX A:A 3))"},
      {u"=OFFSET(A1,1,1):B9", "(range (OFFSET A1 1 1) B9)"},
      {u"=INDEX(A:A,1):INDEX(A:A,2)", "(range (INDEX A:A 1) (INDEX A:A 2))"},
      {u"=A2:CHOOSE(2,B5,C5)", "(range A2 (CHOOSE 2 B5 C5))"},
      {u"=A1:Rate", "(range A1 name(Rate))"},
      {u"=A1:LOG10(5)", "(range A1 (LOG10 5))"},
      {u"=Sheet1!A1:'My Sheet'!B2", "(range Sheet1!A1 My Sheet!B2)"},
      {u"=SUM(#REF!:#REF!)", "(SUM (range #REF! #REF!))"},
      {u"='1'!#REF!+Data!#ref!", "(+ #REF! #REF!)"},  // the cells were deleted
      {u"=Rate", "name(Rate)"},
      {u"=Sheet1!Local", "name(Sheet1!Local)"},
      {u"=_Tax.Rate", "name(_Tax.Rate)"},
      {u"=XFE1", "name(XFE1)"},
      {u"=SUM(A1:B2,3)", "(SUM A1:B2 3)"},
      {u"=NOW()", "(NOW)"},
      {u"=IF(A1,,2)", "(IF A1 _ 2)"},
      {u"=F(,)", "(F _ _)"},
      {u"=F(1,)", "(F 1 _)"},
      {u"=_xlfn.IFERROR(A1,0)", "(_xlfn.IFERROR A1 0)"},
      {u"=LOG10(100)", "(LOG10 100)"},
      {u"=_xlfn.LAMBDA(_xlpm.x,_xlpm.x+1)(3)",
       "(apply (_xlfn.LAMBDA name(_xlpm.x) (+ name(_xlpm.x) 1)) 3)"},
      {u"=LAMBDA(x,LAMBDA(y,x+y))(1)(2)",
       "(apply (apply (LAMBDA name(x) (LAMBDA name(y) "
       "(+ name(x) name(y)))) 1) 2)"},
      {u"=LAMBDA(x,x)(,)", "(apply (LAMBDA name(x) name(x)) _ _)"},
      {u"=-A1", "(neg A1)"},
      {u"=+A1", "A1"},
      {u"=--A1", "(neg (neg A1))"},
      {u"=50%", "(% 50)"},
      {u"=SUM((A1,B2:C3))", "(SUM (union A1 B2:C3))"},
      {u"=A1:C3 B2:B5", "(isect A1:C3 B2:B5)"},
      {u"=A:A 1:1 Rate", "(isect A:A 1:1 name(Rate))"},
      {u"=SUM( A1 , B1 )", "(SUM A1 B1)"},
      {u" = 1 + 2 ", "(+ 1 2)"},
      {u"1+2", "(+ 1 2)"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(describe(c.formula), c.tree) << toUtf8(c.formula);
  }
}

TEST(FormulaParserTest, Precedence) {
  const Case cases[] = {
      {u"=1+2*3", "(+ 1 (* 2 3))"},
      {u"=(1+2)*3", "(* (+ 1 2) 3)"},
      {u"=1-2-3", "(- (- 1 2) 3)"},
      {u"=8/4/2", "(/ (/ 8 4) 2)"},
      {u"=2^3^2", "(^ (^ 2 3) 2)"},
      {u"=-2^2", "(^ (neg 2) 2)"},
      {u"=2^-1", "(^ 2 (neg 1))"},
      {u"=-5%", "(% (neg 5))"},
      {u"=2*50%^2", "(* 2 (^ (% 50) 2))"},
      {u"=1+2&3", "(& (+ 1 2) 3)"},
      {u"=\"a\"&1=\"a1\"", "(= (& \"a\" 1) \"a1\")"},
      {u"=1<2", "(< 1 2)"},
      {u"=1<=2", "(<= 1 2)"},
      {u"=1>=2", "(>= 1 2)"},
      {u"=1<>2", "(<> 1 2)"},
      {u"=1>2=TRUE", "(= (> 1 2) TRUE)"},
      {u"=-A1:B2 C2", "(neg (isect A1:B2 C2))"},
      {u"=SUM(A1:B2 B1:C2)*2", "(* (SUM (isect A1:B2 B1:C2)) 2)"},
      {u"=A1 + B1", "(+ A1 B1)"},
      {u"=A1 &B1", "(& A1 B1)"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(describe(c.formula), c.tree) << toUtf8(c.formula);
  }
}

TEST(FormulaParserTest, ReferencesHoldRowsAndColumns) {
  ParseError error;
  auto node = parseFormula(u"=Sheet2!$C$5:d7", &error);
  ASSERT_TRUE(node);
  EXPECT_EQ(node->kind, SyntaxKind::kReference);
  EXPECT_EQ(node->shape, ReferenceShape::kArea);
  EXPECT_TRUE(node->hasSheet);
  EXPECT_EQ(node->sheet, u"Sheet2");
  EXPECT_EQ(node->first.row, 4u);
  EXPECT_EQ(node->first.column, 2u);
  EXPECT_TRUE(node->first.absoluteRow);
  EXPECT_EQ(node->last.row, 6u);
  EXPECT_EQ(node->last.column, 3u);
  EXPECT_EQ(node->position, 2u);

  node = parseFormula(u"=1+A1", &error);
  ASSERT_TRUE(node);
  EXPECT_EQ(node->position, 3u);  // the operator
  EXPECT_EQ(node->children[1]->position, 4u);
}

struct ErrorCase {
  const char16_t* formula;
  size_t position;
  const char* fragment;
};

TEST(FormulaParserTest, ErrorsNamePositionAndExpectation) {
  const ErrorCase cases[] = {
      {u"=", 2, "expected a formula"},
      {u"", 1, "expected a formula"},
      {u"=1+", 4, "found the end of the formula"},
      {u"=(1+2", 6, "expected ')' or ','"},
      {u"=1+2)", 5, "expected an operator or the end of the formula, found ')'"},
      {u"=SUM(1;2)", 7, "expected ',' or ')' in the arguments of SUM"},
      {u"=\"abc", 2, "the text is not closed"},
      {u"='Sheet1!A1", 2, "not closed"},
      {u"='Sheet1'A1", 10, "expected '!' after the quoted sheet name"},
      {u"=Sheet1:Sheet3!Rate", 2, "expected a cell or a range after Sheet1:Sheet3!"},
      {u"=':Mar'!A1", 2, "expected a sheet name on both sides of ':'"},
      {u"=A1:1", 5, "expected a reference after ':' (range operator)"},
      {u"=#BAD!", 2, "expected an error literal"},
      {u"={1,2;3}", 8, "same number of columns"},
      {u"={1,A1}", 5, "expected a number, a text in double quotes"},
      {u"={1,2", 6, "expected ',', ';' or '}' in the array constant"},
      {u"=A1:", 5, "expected a cell address after ':'"},
      {u"=A:1", 4, "expected a column after ':', found '1'"},
      {u"=A1 1", 5, "expected a reference after the space"},
      {u"=1 A1", 4, "expected an operator or the end of the formula, found 'A'"},
      {u"=(1,A1)", 3, "expected a reference in the union"},
      {u"=(A1,2)", 6, "expected a reference in the union"},
      {u"=R1C1", 2, "expected a reference or a defined name, found 'R1C1'"},
      {u"=$A$1$", 2, "found '$A$1$'"},
      {u"=1e999", 2, "out of range"},
      {u"=A1*/2", 5, "expected a value, a reference, a name or a function, found '/'"},
      {u"=Sheet1!", 9, "expected a reference or a name after '!'"},
      {u"=1048577:1048577", 9, "expected an operator"},
      {u"=$1", 2, "expected a cell address or a range of rows"},
  };
  for (const ErrorCase& c : cases) {
    ParseError error;
    EXPECT_EQ(parseFormula(c.formula, &error), nullptr) << toUtf8(c.formula);
    EXPECT_EQ(error.position, c.position) << toUtf8(c.formula) << ": " << error.message;
    EXPECT_NE(error.message.find(c.fragment), std::string::npos)
        << toUtf8(c.formula) << ": " << error.message;
    EXPECT_EQ(error.message.rfind("position " + std::to_string(c.position) + ": ", 0), 0u)
        << error.message;
  }
}

TEST(FormulaParserTest, LimitsAreFaultsNotCrashes) {
  ParseError error;
  std::u16string deep = u"=" + std::u16string(1000, u'(') + u"1" + std::u16string(1000, u')');
  EXPECT_EQ(parseFormula(deep, &error), nullptr);
  EXPECT_NE(error.message.find("nested too deeply"), std::string::npos);

  std::u16string signs = u"=" + std::u16string(5000, u'-') + u"1";
  EXPECT_EQ(parseFormula(signs, &error), nullptr);

  std::u16string longText = u"=\"" + std::u16string(256, u'x') + u"\"";
  EXPECT_EQ(parseFormula(longText, &error), nullptr);
  EXPECT_NE(error.message.find("longer than 255"), std::string::npos);

  std::u16string levels = u"=A1";
  for (int i = 0; i < 1000; ++i) levels += u"+A1";
  EXPECT_EQ(parseFormula(levels, &error), nullptr);
  EXPECT_NE(error.message.find("more than 1000 levels"), std::string::npos);
  levels.resize(levels.size() - 3);
  EXPECT_NE(parseFormula(levels, &error), nullptr);

  std::u16string chain = u"=1";
  while (chain.size() < 9000) chain += u"+1";
  EXPECT_EQ(parseFormula(chain, &error), nullptr);
  EXPECT_NE(error.message.find("longer than 8192"), std::string::npos);
}

TEST(FormulaParserTest, Constants) {
  struct ConstantCase {
    const char16_t* text;
    const char* shown;
  };
  const ConstantCase good[] = {
      {u"42", "42"},     {u"-0.5", "-0.5"},   {u"+3", "3"},    {u" \"a b\" ", "\"a b\""},
      {u"true", "TRUE"}, {u"#REF!", "#REF!"}, {u"1E2", "100"},
  };
  for (const ConstantCase& c : good) {
    Value v;
    ParseError error;
    ASSERT_TRUE(parseConstant(c.text, false, &v, &error)) << toUtf8(c.text) << error.message;
    SyntaxNode shown;
    shown.kind = SyntaxKind::kArray;
    shown.array.appendRow({v});
    EXPECT_EQ(shown.describe(), std::string("{") + c.shown + "}") << toUtf8(c.text);
  }
  Value v;
  EXPECT_TRUE(parseConstant(u"42", false, &v, nullptr));
  EXPECT_EQ(v.kind(), ValueKind::kInteger);
  EXPECT_TRUE(parseConstant(u"{1,2;3,4}", true, &v, nullptr));
  ASSERT_TRUE(v.isArray());
  EXPECT_EQ(v.array().columns(), 2u);
  EXPECT_EQ(v.array().rows(), 2u);

  const char16_t* bad[] = {u"", u"abc", u"1 2", u"{1}", u"=1", u"-TRUE", u"\"open"};
  for (const char16_t* text : bad) {
    ParseError error;
    EXPECT_FALSE(parseConstant(text, false, &v, &error)) << toUtf8(text);
    EXPECT_FALSE(error.message.empty());
  }
}

TEST(FormulaParserTest, DefinedNames) {
  const char16_t* good[] = {u"Rate", u"_x", u"\\path", u"a.b", u"Tax2024x", u"A1B", u"XFE1"};
  for (const char16_t* name : good) EXPECT_TRUE(isValidDefinedName(name)) << toUtf8(name);
  const char16_t* bad[] = {u"",     u"A1", u"xfd1048576", u"TRUE", u"R",   u"c",
                           u"R1C1", u"RC", u"1abc",       u"a b",  u"a$b", u".x"};
  for (const char16_t* name : bad) EXPECT_FALSE(isValidDefinedName(name)) << toUtf8(name);
}

}  // namespace
}  // namespace korvel
