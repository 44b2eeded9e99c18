// Text functions, computed on small workbooks.
#include <gtest/gtest.h>

#include <string>

#include "function_test_support.h"

namespace korvel {
namespace {

const char* const kTexts =
    "A1: \"ABC\"\nA2: \"#N/A\"\nA3: 255\nA4: \"ff\"\nA5: TRUE\nA6: #DIV/0!\nA7: 12.5\n"
    "B1: \"x\"\nB2: \"y\"\n";

class TextFunctions : public FunctionTest {
 protected:
  void expectAll(const std::vector<FormulaCase>& cases) {
    for (const FormulaCase& c : cases) EXPECT_EQ(eval(kTexts, c.formula), c.expected) << c.formula;
  }
};

TEST_F(TextFunctions, SearchFindsTextsAndPatternsFromAStart) {
  expectAll({
      {"=SEARCH(\"b\",A1)", "i:2"},
      {"=SEARCH(\"?C\",A1)", "i:2"},
      {"=SEARCH(\"x\",A1)", "e:#VALUE!"},
      {"=SEARCH(\"a\",A1,0)", "e:#VALUE!"},
      {"=SEARCH(\"a\",A1,4)", "e:#VALUE!"},
      {"=SEARCH(\"a\",\"\")", "e:#VALUE!"},
      {"=SEARCH(\"\",A1,3)", "i:3"},
      {"=SEARCH(\"abcd\",A1)", "e:#VALUE!"},
      {"=SEARCH(\"b\",\"abcabc\",3.9)", "i:5"},
      // A pattern matches the beginning of the rest of the text, at the first place it can.
      {"=SEARCH(\"b*c\",\"aabxxcbc\")", "i:3"},
      {"=SEARCH(\"*c\",\"abc\")", "i:1"},
      {"=SEARCH(\"c*\",\"abc\")", "i:3"},
      {"=SEARCH(\"a*\",\"a\")", "i:1"},
      {"=SEARCH(\"b?d\",\"abcabxd\",3)", "i:5"},
      {"=SEARCH(\"b?d\",\"abcd\",3)", "e:#VALUE!"},
      // A tilde makes the next character literal, whatever it is.
      {"=SEARCH(\"~*\",\"a*b\")", "i:2"},
      {"=SEARCH(\"~?\",\"ab\")", "e:#VALUE!"},
      {"=SEARCH(\"~a\",\"xA\")", "i:2"},
      {"=SEARCH(\"~~\",\"a~b\")", "i:2"},
      {"=SEARCH(\"é\",\"CAFÉ\")", "i:4"},
      {"=SEARCH(A2,A1)", "t:#N/A"},
      {"=SEARCH(\"b\",A6)", "e:#DIV/0!"},
      {"=SEARCH(\"5\",A3)", "i:2"},
  });
}

TEST_F(TextFunctions, SearchPatternsStayFastOnLongTexts) {
  // Many stars over a long text that almost matches: one pass, not a backtracking search.
  build(
      "A1: =REPT(\"a\",20000)\nA2: =SEARCH(\"*a*a*a*a*a*a*a*a*b\",A1)\n"
      "A3: =SEARCH(\"a*a*b*\",A1&\"b\")\n");
  EXPECT_EQ(valueOf("A2"), "e:#VALUE!");
  EXPECT_EQ(valueOf("A3"), "i:1");
}

TEST_F(TextFunctions, FindIsExactAndCaseSensitive) {
  expectAll({
      {"=FIND(\"b\",A1)", "e:#VALUE!"},
      {"=FIND(\"B\",A1)", "i:2"},
      {"=FIND(\"?\",\"a?\")", "i:2"},
      {"=FIND(\"\",A1,4)", "i:4"},
      {"=FIND(\"\",A1,5)", "e:#VALUE!"},
      {"=FIND(\"A\",A1,0)", "e:#VALUE!"},
      {"=FIND(\"C\",\"CxC\",2)", "i:3"},
  });
}

TEST_F(TextFunctions, ConcatenateExactAndChar) {
  expectAll({
      {"=CONCATENATE(1,TRUE)", "t:1TRUE"},
      {"=CONCATENATE(A1,,7.5,A5)", "t:ABC7.5TRUE"},
      {"=CONCATENATE(B1:B2)", "e:#VALUE!"},
      {"=CONCATENATE(\"a\",A6)", "e:#DIV/0!"},
      {"=CONCATENATE(\"a\",A2)", "t:#N/A"},
      {"=EXACT(\"abc\",\"ABC\")", "b:FALSE"},
      {"=EXACT(A1,\"ABC\")", "b:TRUE"},
      {"=EXACT(1,1.0)", "b:TRUE"},
      {"=EXACT(1,\"1\")", "b:TRUE"},
      {"=EXACT(A2,1/0)", "t:#N/A"},
      {"=CHAR(65)", "t:A"},
      {"=CHAR(\"66.9\")", "t:B"},
      {"=CHAR(0)", "e:#VALUE!"},
      {"=CHAR(256)", "e:#VALUE!"},
      {"=CHAR(\"x\")", "e:#VALUE!"},
      {"=CHAR(A6)", "e:#DIV/0!"},
  });
}

TEST_F(TextFunctions, CodeAndCharUseTheSystemCodePage) {
  expectAll({
      {"=CHAR(128)", "t:\u20AC"},
      {"=CHAR(233)", "t:\u00E9"},
      {"=CODE(\"\u20AC\")", "i:128"},
      {"=CODE(\"\u2019s\")", "i:146"},
      {"=CODE(\"\u00E9\")", "i:233"},
      {"=CODE(CHAR(129))", "i:129"},
      {"=CODE(\"\u0500\")", "i:63"},
      {"=CODE(\"\u4E2D\")", "i:63"},
      {"=CODE(\"\U0001F600\")", "i:63"},
      {"=CODE(\"A\")", "i:65"},
      {"=CODE(A3)", "i:50"},
      {"=CODE(A5)", "i:84"},
      {"=CODE(\"\")", "e:#VALUE!"},
      {"=CODE(C9)", "e:#VALUE!"},
      {"=CODE(A2)", "t:#N/A"},
  });
}

TEST_F(TextFunctions, TextChecksThenAsksTheHost) {
  EXPECT_EQ(eval(kTexts, "=TEXT(A6,\"0.0\")"), "e:#DIV/0!");
  EXPECT_EQ(eval(kTexts, "=TEXT(1,#N/A)"), "e:#N/A");
  EXPECT_TRUE(host_.functionCalls.empty());

  build(std::string(kTexts) + "Z1: =TEXT(A7,\"0.0\")\n");
  ASSERT_EQ(host_.functionCalls.size(), 1u);
  EXPECT_EQ(host_.functionCalls[0].number, 48);
  EXPECT_EQ(host_.functionCalls[0].count, 2);
  ASSERT_EQ(host_.functionCalls[0].arguments.size(), 2u);
  EXPECT_EQ(show(host_.functionCalls[0].arguments[0]), "n:12.5");
  EXPECT_EQ(show(host_.functionCalls[0].arguments[1]), "t:0.0");
}

TEST_F(TextFunctions, SubstituteMidLeftRightRept) {
  expectAll({
      {"=SUBSTITUTE(\"abab\",\"a\",\"xyz\",2)", "t:abxyzb"},
      {"=SUBSTITUTE(\"abab\",\"a\",\"xyz\")", "t:xyzbxyzb"},
      {"=SUBSTITUTE(\"abab\",\"a\",\"xyz\",0)", "e:#VALUE!"},
      {"=SUBSTITUTE(\"abab\",\"a\",\"xyz\",TRUE)", "e:#VALUE!"},
      {"=SUBSTITUTE(\"abab\",\"a\",\"xyz\",\"2.7\")", "t:abxyzb"},
      {"=SUBSTITUTE(\"abab\",\"a\",\"xyz\",3)", "t:abab"},
      {"=SUBSTITUTE(\"aaa\",\"aa\",\"b\")", "t:ba"},
      {"=SUBSTITUTE(\"abc\",\"\",\"x\")", "t:abc"},
      {"=SUBSTITUTE(12312,1,\"\")", "t:232"},
      {"=MID(\"abc\",2,5)", "t:bc"},
      {"=MID(\"abc\",4,1)", "t:"},
      {"=MID(\"abc\",0,1)", "e:#VALUE!"},
      {"=MID(\"abc\",1,-1)", "e:#VALUE!"},
      {"=MID(\"abc\",\"2\",\"1\")", "t:b"},
      {"=MID(\"abc\",\"x\",1)", "e:#VALUE!"},
      {"=MID(A6,1,1)", "e:#DIV/0!"},
      {"=MID(\"abc\",C9,1)", "e:#VALUE!"},
      {"=MID(\"\",0,1)", "t:"},
      {"=LEFT(A1)", "t:A"},
      {"=LEFT(A1,2)", "t:AB"},
      {"=LEFT(A1,10)", "t:ABC"},
      {"=RIGHT(A7,3)", "t:2.5"},
      {"=RIGHT(A1,0)", "t:"},
      {"=LEFT(A1,-1)", "e:#VALUE!"},
      {"=RIGHT(A2,1)", "t:#N/A"},
      {"=REPT(\"ab\",3)", "t:ababab"},
      {"=REPT(\"ab\",32768)", "e:#VALUE!"},
      {"=REPT(\"ab\",-1)", "e:#VALUE!"},
      {"=REPT(\"\",5)", "t:"},
      {"=REPT(1,\"2\")", "t:11"},
      {"=REPT(\"a\",\"x\")", "e:#VALUE!"},
      {"=LEN(REPT(\"a\",32767))", "i:32767"},
  });
}

TEST_F(TextFunctions, ResultsLongerThanACellHoldsAreErrors) {
  // Without the bound these would build texts of a thousand million units.
  expectAll({
      {"=REPT(REPT(\"a\",32767),32767)", "e:#VALUE!"},
      {"=SUBSTITUTE(REPT(\"a\",32767),\"a\",REPT(\"b\",32767))", "e:#VALUE!"},
      {"=LEN(SUBSTITUTE(REPT(\"a\",100),\"a\",\"bb\"))", "i:200"},
  });
}

TEST_F(TextFunctions, TrimProperCaseAndLength) {
  expectAll({
      {"=TRIM(\"  a   b \")", "t:a b"},
      {"=TRIM(\"   \")", "t:"},
      {"=TRIM(A2)", "t:#N/A"},
      {"=PROPER(\"2nd hello-world\")", "t:2Nd Hello-World"},
      {"=PROPER(\"ÉCOLE d'ÉTÉ\")", "t:École D'Été"},
      {"=UPPER(\"abc é\")", "t:ABC É"},
      {"=LOWER(\"ABC É Ω Ж\")", "t:abc é ω ж"},
      {"=LOWER(A5)", "t:true"},
      {"=UPPER(A6)", "e:#DIV/0!"},
      {"=LEN(A1)", "i:3"},
      {"=LEN(A7)", "i:4"},
      {"=LEN(C9)", "i:0"},
      {"=LEN(\"\U0001F600\")", "i:2"},
      {"=LEN(A2)", "t:#N/A"},
  });
}

TEST_F(TextFunctions, TAndValue) {
  expectAll({
      {"=T(A1)", "t:ABC"},
      {"=T(A3)", "t:"},
      {"=T(A6)", "e:#DIV/0!"},
      {"=T(A2)", "t:#N/A"},
      {"=T(B1:B2)", "t:"},
      {"=VALUE(\"12\")", "i:12"},
      {"=VALUE(\"1.5e3\")", "i:1500"},
      {"=VALUE(A7)", "n:12.5"},
      {"=VALUE(C9)", "i:0"},
      {"=VALUE(\"1/2/2000\")", "i:36527"},
      {"=VALUE(\"12:00\")", "n:0.5"},
      {"=VALUE(\"abc\")", "e:#VALUE!"},
      {"=VALUE(A5)", "e:#VALUE!"},
      {"=VALUE(A2)", "t:#N/A"},
  });
}

TEST_F(TextFunctions, ReplaceWithinAndBeyondTheText) {
  expectAll({
      {"=REPLACE(\"abcdef\",2,3,\"X\")", "t:aXef"},
      {"=REPLACE(\"abc\",2,10,\"X\")", "t:aX"},
      {"=REPLACE(\"abc\",4,0,\"X\")", "t:abcX"},
      {"=REPLACE(\"abc\",1,,\"X\")", "t:Xabc"},
      {"=REPLACE(\"abc\",\"2\",\"1\",5)", "t:a5c"},
      {"=REPLACE(\"\",7,1,\"new\")", "t:new"},
      // Starts beyond the text's end plus one are out of range.
      {"=REPLACE(\"abc\",5,1,\"X\")", "e:#VALUE!"},
      {"=REPLACE(\"abc\",0,1,\"X\")", "e:#VALUE!"},
      {"=REPLACE(\"abc\",1,-1,\"X\")", "e:#VALUE!"},
      {"=REPLACE(\"abc\",C9,1,\"X\")", "e:#VALUE!"},
      {"=REPLACE(\"abc\",\"x\",1,\"X\")", "e:#VALUE!"},
      {"=REPLACE(\"abc\",1,1,A6)", "e:#DIV/0!"},
      {"=REPLACE(A2,1,1,\"X\")", "t:#N/A"},
  });
}

TEST_F(TextFunctions, HexadecimalConversions) {
  expectAll({
      {"=DEC2HEX(255)", "t:FF"},
      {"=DEC2HEX(A3,4)", "t:00FF"},
      {"=DEC2HEX(255.9)", "t:FF"},
      {"=DEC2HEX(0)", "t:0"},
      {"=DEC2HEX(C9)", "t:0"},
      {"=DEC2HEX(255,1)", "e:#NUM!"},
      {"=DEC2HEX(255,11)", "e:#NUM!"},
      {"=DEC2HEX(255,\"4\")", "e:#VALUE!"},
      {"=DEC2HEX(\"255\")", "e:#VALUE!"},
      {"=DEC2HEX(TRUE)", "e:#VALUE!"},
      {"=DEC2HEX(99999999999)", "t:174876E7FF"},
      {"=DEC2HEX(549755813887)", "t:7FFFFFFFFF"},  // the whole ten-digit span
      {"=DEC2HEX(549755813888)", "e:#NUM!"},
      {"=DEC2HEX(-549755813888)", "t:8000000000"},
      {"=DEC2HEX(-549755813889)", "e:#NUM!"},
      {"=DEC2HEX(A3:A4)", "e:#VALUE!"},
      {"=DEC2HEX(A6)", "e:#DIV/0!"},
      // Negative numbers in ten-digit two's complement, whatever the places.
      {"=DEC2HEX(-1)", "t:FFFFFFFFFF"},
      {"=DEC2HEX(-256,2)", "t:FFFFFFFF00"},
      {"=DEC2HEX(-256,0)", "e:#NUM!"},  // places out of 1 to 10 all the same
      {"=DEC2HEX(-256,11)", "e:#NUM!"},
      {"=DEC2HEX(-99999999999)", "t:E8B7891801"},
      {"=HEX2DEC(A4)", "i:255"},
      {"=HEX2DEC(\"FFFFFFFFFF\")", "i:-1"},
      {"=HEX2DEC(\"ffffffff00\")", "i:-256"},
      {"=HEX2DEC(\"8000000000\")", "n:-549755813888"},
      {"=HEX2DEC(\"7FFFFFFFFF\")", "n:549755813887"},
      {"=HEX2DEC(\"0FFFFFFFFF\")", "n:68719476735"},
      {"=HEX2DEC(10)", "i:16"},
      {"=HEX2DEC(\"\")", "i:0"},
      {"=HEX2DEC(\"FFFFFFFFFFF\")", "e:#NUM!"},
      {"=HEX2DEC(\"G1\")", "e:#NUM!"},
      {"=HEX2DEC(1.5)", "e:#NUM!"},
      {"=HEX2DEC(-1)", "e:#NUM!"},
      {"=HEX2DEC(TRUE)", "e:#VALUE!"},
      {"=HEX2DEC(A6)", "e:#DIV/0!"},
      {"=HEX2DEC(A3:A4)", "e:#VALUE!"},
      {"=HEX2DEC(DEC2HEX(-12345))", "i:-12345"},
  });
}

}  // namespace
}  // namespace korvel
