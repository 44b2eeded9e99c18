// The functions newer than the catalogue, as workbooks write them (with the "_xlfn." prefix), which
// reach the headless program as formula texts.
#include <gtest/gtest.h>

#include <string>

#include "tests/hosts/headless/functions/host_function_test_support.h"

namespace korvel {
namespace {

// A small table: names in A, regions in B, amounts in C; sorted numbers in E, the same descending
// in F; texts for the text functions in G.
constexpr const char* kTable =
    "A1: \"apple\"\nA2: \"banana\"\nA3: \"cherry\"\nA4: \"Banana\"\n"
    "B1: \"north\"\nB2: \"south\"\nB3: \"north\"\nB4: \"north\"\n"
    "C1: 10\nC2: 20\nC3: 30\nC4: 40\n"
    "E1: 1\nE2: 3\nE3: 5\nE4: 7\n"
    "F1: 7\nF2: 5\nF3: 3\nF4: 1\n"
    "G1: \"a-b-c\"\nG2: \"\"\nG3: TRUE\n";

class NewerFunctionTest : public HostFunctionTest {
 protected:
  void check(const FormulaCase* cases, size_t count) {
    for (size_t i = 0; i < count; ++i) {
      EXPECT_EQ(eval(kTable, cases[i].formula), cases[i].expected) << cases[i].formula;
    }
  }
  template <size_t N>
  void check(const FormulaCase (&cases)[N]) {
    check(cases, N);
  }
};

TEST_F(NewerFunctionTest, IfsAndSwitch) {
  const FormulaCase cases[] = {
      {"=_xlfn.IFS(C1>15,\"big\",C1>5,\"mid\",TRUE,\"small\")", "t:mid"},
      {"=_xlfn.IFS(1,A1)", "t:apple"},
      {"=_xlfn.IFS(FALSE,1)", "e:#N/A"},
      {"=_xlfn.IFS(\"yes\",1)", "e:#VALUE!"},
      {"=_xlfn.IFS(1/0,1,TRUE,2)", "e:#DIV/0!"},
      {"=_xlfn.SWITCH(A2,\"apple\",1,\"BANANA\",2)", "i:2"},
      {"=_xlfn.SWITCH(3,1,\"a\",2,\"b\",\"other\")", "t:other"},
      {"=_xlfn.SWITCH(3,1,\"a\",2,\"b\")", "e:#N/A"},
      {"=_xlfn.SWITCH(\"1\",1,\"number\",\"text\")", "t:text"},
      {"=_xlfn.SWITCH(#N/A,1,2)", "e:#N/A"},
  };
  check(cases);
}

// An array or a range of several cells where one value goes: the call is made per element, one
// row or column repeating and #N/A beyond an array's end.
TEST_F(NewerFunctionTest, ValueArgumentsAreLiftedOverArrays) {
  const FormulaCase cases[] = {
      {"{=_xlfn.IFS({TRUE,FALSE},{1,2},TRUE,9)}", "a:{1,9}"},
      {"{=_xlfn.IFS(C1:C3>15,\"big\",TRUE,\"small\")}", "a:{\"small\";\"big\";\"big\"}"},
      {"{=_xlfn.IFS({TRUE,FALSE,TRUE},{1,2})}", "a:{1,#N/A,#N/A}"},
      {"{=_xlfn.SWITCH(C1:C3,10,\"a\",30,\"c\",\"z\")}", "a:{\"a\";\"z\";\"c\"}"},
      {"{=_xlfn.VALUETOTEXT({1,TRUE})}", "a:{\"1\",\"TRUE\"}"},
      {"{=_xlfn.VALUETOTEXT(E1,{0;2})}", "a:{\"1\";#VALUE!}"},
  };
  check(cases);
}

TEST_F(NewerFunctionTest, MaxIfsAndMinIfs) {
  const FormulaCase cases[] = {
      {"=_xlfn.MAXIFS(C1:C4,B1:B4,\"north\")", "i:40"},
      {"=_xlfn.MINIFS(C1:C4,B1:B4,\"north\",A1:A4,\"<>apple\")", "i:30"},
      {"=_xlfn.MAXIFS(C1:C4,B1:B4,\"east\")", "i:0"},
      {"=_xlfn.MINIFS(C1:C4,C1:C4,\">=20\")", "i:20"},
      {"=_xlfn.MAXIFS(C1:C4,B1:B3,\"north\")", "e:#VALUE!"},
      {"=_xlfn.MAXIFS(C1:C4,B1:B4)", "e:#VALUE!"},
  };
  check(cases);
}

TEST_F(NewerFunctionTest, ConcatAndTextJoin) {
  const FormulaCase cases[] = {
      // Ranges row by row; numbers, booleans and empty cells as their display texts.
      {"=_xlfn.CONCAT(A1:B2,\"/\",C1,G3,H1)", "t:applenorthbananasouth/10TRUE"},
      {"=_xlfn.CONCAT(A1,1/0)", "e:#DIV/0!"},
      {"=_xlfn.TEXTJOIN(\", \",TRUE,G1:G3,\"z\")", "t:a-b-c, TRUE, z"},
      {"=_xlfn.TEXTJOIN(\"-\",FALSE,G1:G3)", "t:a-b-c--TRUE"},
      // Delimiters taken in turn.
      {"=_xlfn.TEXTJOIN({\"+\",\"=\"},TRUE,1,2,3)", "t:1+2=3"},
      {"=_xlfn.TEXTJOIN(\"\",TRUE,E1:E4)", "t:1357"},
      {"=_xlfn.TEXTJOIN(\",\",TRUE)", "e:#VALUE!"},
      {"=_xlfn.CONCAT(REPT(\"x\",20000),REPT(\"y\",20000))", "e:#VALUE!"},
  };
  check(cases);
}

TEST_F(NewerFunctionTest, XLookupMatchAndSearchModes) {
  const FormulaCase cases[] = {
      {"=_xlfn.XLOOKUP(\"banana\",A1:A4,C1:C4)", "i:20"},
      {"=_xlfn.XLOOKUP(\"banana\",A1:A4,C1:C4,,0,-1)", "i:40"},
      {"=_xlfn.XLOOKUP(\"kiwi\",A1:A4,C1:C4)", "e:#N/A"},
      {"=_xlfn.XLOOKUP(\"kiwi\",A1:A4,C1:C4,\"none\")", "t:none"},
      {"=_xlfn.XLOOKUP(\"ch*\",A1:A4,C1:C4,,2)", "i:30"},
      {"=_xlfn.XLOOKUP(\"ch*\",A1:A4,C1:C4)", "e:#N/A"},
      // Next smaller and next larger, searched in order and by bisection either way round.
      {"=_xlfn.XLOOKUP(4,E1:E4,A1:A4,,-1)", "t:banana"},
      {"=_xlfn.XLOOKUP(4,E1:E4,A1:A4,,1)", "t:cherry"},
      {"=_xlfn.XLOOKUP(4,E1:E4,A1:A4,,-1,2)", "t:banana"},
      {"=_xlfn.XLOOKUP(4,E1:E4,A1:A4,,1,2)", "t:cherry"},
      {"=_xlfn.XLOOKUP(5,E1:E4,A1:A4,,0,2)", "t:cherry"},
      {"=_xlfn.XLOOKUP(4,F1:F4,A1:A4,,-1,-2)", "t:cherry"},
      {"=_xlfn.XLOOKUP(4,F1:F4,A1:A4,,1,-2)", "t:banana"},
      {"=_xlfn.XLOOKUP(0,E1:E4,A1:A4,,-1)", "e:#N/A"},
      {"=_xlfn.XLOOKUP(9,E1:E4,A1:A4,,1,2)", "e:#N/A"},
      // The bisection ends on a text among numbers and takes it as the next larger.
      {"=_xlfn.XLOOKUP(4,{1,\"x\",\"x\",9},{\"a\",\"b\",\"c\",\"d\"},,1,2)", "t:b"},
      // The found row of a wider return range; a lookup along a row.
      {"=INDEX(_xlfn.XLOOKUP(30,C1:C4,A1:B4),1,2)", "t:north"},
      {"=_xlfn.XLOOKUP(5,{1,5,9},{\"a\",\"b\",\"c\"})", "t:b"},
      // Errors of the arguments.
      {"=_xlfn.XLOOKUP(1,A1:B4,C1:C4)", "e:#VALUE!"},
      {"=_xlfn.XLOOKUP(1,E1:E4,C1:C3)", "e:#VALUE!"},
      {"=_xlfn.XLOOKUP(1,E1:E4,C1:C4,,4)", "e:#VALUE!"},
      {"=_xlfn.XLOOKUP(\"a*\",A1:A4,C1:C4,,2,2)", "e:#VALUE!"},
      {"=_xlfn.XLOOKUP(1/0,E1:E4,C1:C4)", "e:#DIV/0!"},
  };
  check(cases);
}

TEST_F(NewerFunctionTest, XMatch) {
  const FormulaCase cases[] = {
      {"=_xlfn.XMATCH(\"BANANA\",A1:A4)", "i:2"},
      {"=_xlfn.XMATCH(\"banana\",A1:A4,0,-1)", "i:4"},
      {"=_xlfn.XMATCH(6,E1:E4,1)", "i:4"},
      {"=_xlfn.XMATCH(6,E1:E4,-1,2)", "i:3"},
      {"=_xlfn.XMATCH(\"?pple\",A1:A4,2)", "i:1"},
      {"=_xlfn.XMATCH(8,E1:E4)", "e:#N/A"},
      {"=_xlfn.XMATCH(2,{1,2;3,4})", "e:#VALUE!"},
      {"=SUM(_xlfn.XMATCH({5,1},E1:E4))", "i:4"},
      // Match mode 3: the lookup text is a regular expression over the texts.
      {"=_xlfn.XMATCH(\"^[Bb]an\",A1:A4,3)", "i:2"},
      {"=_xlfn.XMATCH(\"^[Bb]an\",A1:A4,3,-1)", "i:4"},
      {"=_xlfn.XMATCH(10,C1:C4,3)", "e:#N/A"},
      {"=_xlfn.XMATCH(\"[a-\",A1:A4,3)", "e:#VALUE!"},
      {"=_xlfn.XLOOKUP(\"rr\",A1:A4,C1:C4,,3)", "i:30"},
  };
  check(cases);
}

TEST_F(NewerFunctionTest, TextBeforeAndAfter) {
  const FormulaCase cases[] = {
      {"=_xlfn.TEXTBEFORE(G1,\"-\")", "t:a"},
      {"=_xlfn.TEXTAFTER(G1,\"-\")", "t:b-c"},
      {"=_xlfn.TEXTBEFORE(G1,\"-\",2)", "t:a-b"},
      {"=_xlfn.TEXTAFTER(G1,\"-\",-1)", "t:c"},
      {"=_xlfn.TEXTBEFORE(G1,\"-\",-2)", "t:a"},
      {"=_xlfn.TEXTAFTER(G1,\"-\",3)", "e:#N/A"},
      {"=_xlfn.TEXTAFTER(G1,\"-\",3,,1)", "t:"},
      {"=_xlfn.TEXTBEFORE(G1,\"-\",-3,,1)", "t:"},
      {"=_xlfn.TEXTAFTER(G1,\"x\",1,,,\"none\")", "t:none"},
      {"=_xlfn.TEXTAFTER(\"aXbxc\",\"x\")", "t:c"},
      {"=_xlfn.TEXTAFTER(\"aXbxc\",\"x\",1,1)", "t:bxc"},
      {"=_xlfn.TEXTBEFORE(\"a, b; c\",{\"; \",\", \"},2)", "t:a, b"},
      // The instance is taken down to a whole number.
      {"=_xlfn.TEXTAFTER(G1,\"-\",-1.2)", "t:b-c"},
      // An empty cell for if_not_found gives the empty text.
      {"=_xlfn.TEXTAFTER(G1,\"x\",1,0,0,H1)", "t:"},
      // A delimiter longer than the text: not found, but #VALUE! once an instance is given.
      {"=_xlfn.TEXTAFTER(\"del\",\"deli\")", "e:#N/A"},
      {"=_xlfn.TEXTAFTER(\"del\",\"deli\",1)", "e:#VALUE!"},
      {"=_xlfn.TEXTAFTER(G1,\"-\",1,0,2)", "e:#VALUE!"},
      {"=_xlfn.TEXTBEFORE(G1,\"-\",0)", "e:#VALUE!"},
      {"=_xlfn.TEXTBEFORE(G1,\"-\",9)", "e:#VALUE!"},
  };
  check(cases);
}

TEST_F(NewerFunctionTest, SequenceAndSheet) {
  const FormulaCase cases[] = {
      {"=SUM(_xlfn.SEQUENCE(4))", "i:10"}, {"=INDEX(_xlfn.SEQUENCE(2,3,10,-2),2,1)", "i:4"},
      {"=_xlfn.SEQUENCE(1)", "i:1"},       {"=_xlfn.SEQUENCE(0)", "e:#VALUE!"},
      {"=_xlfn.SHEET()", "i:1"},           {"=_xlfn.SHEET(1)", "e:#N/A"},
  };
  check(cases);
  build(
      "[One]\nA1: 1\n[Two]\nA1: =_xlfn.SHEET()\nA2: =_xlfn.SHEET(One!A1)\nA3: "
      "=_xlfn.SHEET(\"two\")\n");
  EXPECT_EQ(valueOf("Two!A1"), "i:2");
  EXPECT_EQ(valueOf("Two!A2"), "i:1");
  EXPECT_EQ(valueOf("Two!A3"), "i:2");
}

TEST_F(NewerFunctionTest, DynamicArrays) {
  const FormulaCase cases[] = {
      // Texts compare without regard to case; first seen stays.
      {"=_xlfn.CONCAT(_xlfn.UNIQUE(B1:B4))", "t:northsouth"},
      {"=_xlfn.CONCAT(_xlfn.UNIQUE({\"a\";\"A\";\"b\";1;1},FALSE,TRUE))", "t:b"},
      {"=_xlfn.CONCAT(_xlfn._xlws.FILTER(A1:A4,C1:C4>15))", "t:bananacherryBanana"},
      {"=_xlfn._xlws.FILTER(A1:A4,C1:C4>99,\"none\")", "t:none"},
      {"=_xlfn._xlws.FILTER(A1:A4,C1:C3>15)", "e:#VALUE!"},
      // Stable, numbers before texts, descending on request.
      {"=_xlfn.CONCAT(_xlfn._xlws.SORT({\"b\";2;\"a\";1}))", "t:12ab"},
      {"=_xlfn.CONCAT(_xlfn._xlws.SORT(A1:A4,1,-1))", "t:cherrybananaBananaapple"},
      {"=_xlfn.CONCAT(_xlfn._xlws.SORT(A1:C4,3,-1))",
       "t:Banananorth40cherrynorth30bananasouth20applenorth10"},
      {"=_xlfn._xlws.SORT(A1:A4,2)", "e:#VALUE!"},
      {"=ERROR.TYPE(INDEX(_xlfn._xlws.SORT({#N/A;#DIV/0!;1;#NULL!}),3))", "i:2"},
      {"=_xlfn.CONCAT(_xlfn.TOCOL(A1:B2))", "t:applenorthbananasouth"},
      {"=_xlfn.CONCAT(_xlfn.TOCOL(A1:B2,0,TRUE))", "t:applebanananorthsouth"},
      {"=ROWS(_xlfn.TOCOL(G1:H3,1))", "i:3"},
      {"=_xlfn.CONCAT(_xlfn.TOROW(A1:B2,0,TRUE))", "t:applebanananorthsouth"},
      {"=COLUMNS(_xlfn.TOROW(A1:B2))", "i:4"},
      {"=ROWS(_xlfn.TOROW(A1:B2))", "i:1"},
      {"=_xlfn.CONCAT(_xlfn.TAKE(E1:E4,2))", "t:13"},
      {"=_xlfn.CONCAT(_xlfn.TAKE(E1:E4,-1))", "t:7"},
      {"=_xlfn.CONCAT(_xlfn.DROP(E1:E4,3.4))", "t:7"},
      {"=_xlfn.CONCAT(_xlfn.DROP(E1:E4,-3))", "t:1"},
      {"=_xlfn.DROP(E1:E4,4)", "e:#VALUE!"},
      // Short parts are padded with #N/A.
      {"=INDEX(_xlfn.HSTACK(E1:E2,{9}),1,2)", "i:9"},
      {"=INDEX(_xlfn.HSTACK(E1:E2,{9}),2,2)", "e:#N/A"},
      {"=INDEX(_xlfn.VSTACK(E1,{8,9}),2,2)", "i:9"},
      {"=INDEX(_xlfn.VSTACK(E1,{8,9}),1,2)", "e:#N/A"},
      {"=_xlfn.CONCAT(_xlfn.TEXTSPLIT(\"a,b;c\",\",\",\";\",FALSE,0,\"-\"))", "t:abc-"},
      {"=_xlfn.CONCAT(_xlfn.TEXTSPLIT(\"a,,b\",\",\",,TRUE))", "t:ab"},
      {"=INDEX(_xlfn.TEXTSPLIT(\"1,2,3\",\",\"),3)", "t:3"},
      {"=_xlfn.CONCAT(_xlfn.CHOOSECOLS(A1:C2,-1,{1}))", "t:10apple20banana"},
      {"=_xlfn.CONCAT(_xlfn.CHOOSEROWS(A1:B4,4,1))", "t:Banananorthapplenorth"},
      {"=_xlfn.CHOOSECOLS(A1:C2,4)", "e:#VALUE!"},
      {"=_xlfn.VALUETOTEXT(A1)", "t:apple"},
      {"=_xlfn.VALUETOTEXT(\"say \"\"hi\"\"\",1)", "t:\"say \"\"hi\"\"\""},
      {"=_xlfn.VALUETOTEXT(C1,1)", "t:10"},
  };
  check(cases);
}

TEST_F(NewerFunctionTest, RegularExpressions) {
  const FormulaCase cases[] = {
      {"=_xlfn.REGEXTEST(\"CRANE\",\"^[A-Z]{5}$\")", "b:TRUE"},
      {"=_xlfn.REGEXTEST(\"crane\",\"^[A-Z]{5}$\")", "b:FALSE"},
      {"=_xlfn.REGEXTEST(\"crane\",\"^[A-Z]{5}$\",1)", "b:TRUE"},
      {"=_xlfn.REGEXTEST(\"CRANES\",\"^[A-Z]{5}$\")", "b:FALSE"},
      // Numbers and booleans are matched as their texts; an empty cell as the empty text.
      {"=_xlfn.REGEXTEST(C1,\"^\\d+$\")", "b:TRUE"},
      {"=_xlfn.REGEXTEST(G3,\"RU\")", "b:TRUE"},
      {"=_xlfn.REGEXTEST(H1,\"^$\")", "b:TRUE"},
      // A range gives one answer per cell.
      {"=_xlfn.CONCAT(_xlfn.REGEXTEST(A1:A4,\"an\"))", "t:FALSETRUEFALSETRUE"},
      {"=_xlfn.REGEXEXTRACT(\"tel 555-1234 or 555-9876\",\"\\d{3}-\\d{4}\")", "t:555-1234"},
      {"=_xlfn.CONCAT(_xlfn.REGEXEXTRACT(\"a1b22c333\",\"\\d+\",1))", "t:122333"},
      {"=ROWS(_xlfn.REGEXEXTRACT(\"a1b22c333\",\"\\d+\",1))", "i:3"},
      {"=INDEX(_xlfn.REGEXEXTRACT(\"John Smith\",\"(\\w+) (\\w+)\",2),1,2)", "t:Smith"},
      {"=_xlfn.REGEXEXTRACT(\"abc\",\"\\d\")", "e:#N/A"},
      {"=_xlfn.REGEXEXTRACT(\"abc\",\"b\",2)", "e:#VALUE!"},
      {"=_xlfn.REGEXEXTRACT(\"abc\",\"b\",3)", "e:#VALUE!"},
      {"=_xlfn.REGEXREPLACE(\"a1b22c333\",\"\\d+\",\"#\")", "t:a#b#c#"},
      {"=_xlfn.REGEXREPLACE(\"a1b22c333\",\"\\d+\",\"#\",2)", "t:a1b#c333"},
      {"=_xlfn.REGEXREPLACE(\"a1b22c333\",\"\\d+\",\"#\",-1)", "t:a1b22c#"},
      {"=_xlfn.REGEXREPLACE(\"a1b22c333\",\"\\d+\",\"#\",4)", "t:a1b22c333"},
      {"=_xlfn.REGEXREPLACE(\"John Smith\",\"(\\w+) (\\w+)\",\"$2, ${1} ($0) $$5 $x\")",
       "t:Smith, John (John Smith) $5 $x"},
      {"=_xlfn.REGEXREPLACE(\"ABC\",\"b\",\"-\",0,1)", "t:A-C"},
      // Empty matches advance one unit at a time.
      {"=_xlfn.REGEXREPLACE(\"ab\",\"x*\",\"-\")", "t:-a-b-"},
      // Characters beyond the basic plane are one character.
      {"=_xlfn.REGEXTEST(\"\xF0\x9F\x98\x80\",\"^.$\")", "b:TRUE"},
      // Patterns ECMAScript cannot read, bad options, errors of the arguments.
      {"=_xlfn.REGEXTEST(\"abc\",\"(?<=a)b\")", "e:#VALUE!"},
      {"=_xlfn.REGEXTEST(\"abc\",\"[a-\")", "e:#VALUE!"},
      {"=_xlfn.REGEXTEST(\"abc\",\"b\",2)", "e:#VALUE!"},
      {"=_xlfn.REGEXTEST(1/0,\"b\")", "e:#DIV/0!"},
      {"=_xlfn.REGEXTEST(\"abc\",#N/A)", "e:#N/A"},
      {"=_xlfn.REGEXREPLACE(REPT(\"a\",20000),\"a\",\"bb\")", "e:#VALUE!"},
  };
  check(cases);
}

// A long text must not exhaust the matcher's stack: back-references, which need backtracking,
// are matched over short texts only.
TEST_F(NewerFunctionTest, RegularExpressionsOverLongTexts) {
  const FormulaCase cases[] = {
      {"=_xlfn.REGEXTEST(REPT(\"A\",32767),\"^[A-Z]*$\")", "b:TRUE"},
      {"=_xlfn.REGEXTEST(REPT(\"ab\",16000),\"^(a|b)*$\")", "b:TRUE"},
      {"=LEN(_xlfn.REGEXREPLACE(REPT(\"ab\",16000),\"(a|b)\",\"$1\"))", "i:32000"},
      {"=_xlfn.REGEXEXTRACT(\"abba\",\"(\\w)\\1\")", "t:bb"},
      {"=_xlfn.REGEXTEST(REPT(\"ab\",16000),\"(\\w)\\1\")", "e:#VALUE!"},
  };
  check(cases);
}

TEST_F(NewerFunctionTest, WrapExpandAndSortBy) {
  const FormulaCase cases[] = {
      // Columns (rows) of wrap_count values; the last padded with #N/A or the pad value.
      {"=_xlfn.CONCAT(_xlfn.WRAPCOLS(E1:E4,3,\"-\"))", "t:173-5-"},
      {"=INDEX(_xlfn.WRAPCOLS(E1:E4,3),3,2)", "e:#N/A"},
      {"=INDEX(_xlfn.WRAPCOLS(E1:E4,3),1,2)", "i:7"},
      {"=INDEX(_xlfn.WRAPROWS({1,2,3,4,5},2),3,1)", "i:5"},
      {"=COLUMNS(_xlfn.WRAPROWS({1,2,3,4,5},9))", "i:5"},
      {"=_xlfn.WRAPCOLS(FALSE,2)", "b:FALSE"},
      {"=_xlfn.WRAPCOLS(A1:B2,2)", "e:#VALUE!"},
      {"=_xlfn.WRAPROWS(E1:E4,0)", "e:#NUM!"},
      {"=_xlfn.CONCAT(_xlfn.EXPAND({1,2},2,3,0))", "t:120000"},
      {"=INDEX(_xlfn.EXPAND(E1:E2,3),3,1)", "e:#N/A"},
      {"=COLUMNS(_xlfn.EXPAND(E1:E2,,2))", "i:2"},
      {"=_xlfn.EXPAND(E1:E4,2)", "e:#VALUE!"},
      {"=_xlfn.EXPAND(1,1048576,1048576)", "e:#NUM!"},
      // Stable; the second key breaks the ties of the first; empty keys last.
      {"=_xlfn.CONCAT(_xlfn.SORTBY(A1:A4,C1:C4,-1))", "t:Bananacherrybananaapple"},
      {"=_xlfn.CONCAT(_xlfn.SORTBY(A1:A4,B1:B4,1,C1:C4,-1))", "t:Bananacherryapplebanana"},
      {"=_xlfn.CONCAT(_xlfn.SORTBY({\"x\",\"y\",\"z\"},{2,\"\",1}))", "t:zxy"},
      {"=_xlfn.CONCAT(_xlfn.SORTBY({\"x\",\"y\"},{2,1}))", "t:yx"},
      {"=_xlfn.SORTBY(A1:A4,C1:C3)", "e:#VALUE!"},
      {"=_xlfn.SORTBY(A1:A4,C1:C4,2)", "e:#VALUE!"},
  };
  check(cases);
}

TEST_F(NewerFunctionTest, ServicesOfTheOutsideWorldAreUnavailable) {
  const FormulaCase cases[] = {
      {"=_xlfn.WEBSERVICE(\"http://localhost/\")", "e:#VALUE!"},
      {"=_xlfn.FILTERXML(\"<a>1</a>\",\"//a\")", "e:#VALUE!"},
      {"=RTD(\"server\",,\"topic\")", "e:#N/A"},
  };
  check(cases);
}

TEST_F(NewerFunctionTest, ArrayTextsRandomArraysAndTrimmedRanges) {
  const FormulaCase cases[] = {
      {"=_xlfn.ARRAYTOTEXT(C1:D2)", "t:10, , 20, "},
      {"=_xlfn.ARRAYTOTEXT({1,\"a\";TRUE,#N/A},1)", "t:{1,\"a\";TRUE,#N/A}"},
      {"=_xlfn.ARRAYTOTEXT(G1,2)", "e:#VALUE!"},
      {"=_xlfn.RANDARRAY(1,1,5,5,TRUE)", "i:5"},
      {"=SUM(_xlfn.RANDARRAY(3,4,2,2))", "i:24"},
      {"=AND(_xlfn.RANDARRAY(5,5,1,3,TRUE)>=1,_xlfn.RANDARRAY(5,5,1,3,TRUE)<=3)", "b:TRUE"},
      {"=_xlfn.RANDARRAY(2,2,3,1)", "e:#VALUE!"},
      {"=_xlfn.RANDARRAY(0)", "e:#VALUE!"},
      {"=ROWS(_xlfn.TRIMRANGE(E1:E50))", "i:4"},
      {"=COLUMNS(_xlfn.TRIMRANGE(A1:K4))", "i:7"},
      {"=ROWS(_xlfn.TRIMRANGE(E1:E50,0))", "i:50"},
      {"=_xlfn.TRIMRANGE(M1:M5)", "e:#REF!"},
      {"=GETPIVOTDATA(\"Sales\",A1)", "e:#REF!"},  // the headless workbook has no pivot tables
  };
  check(cases);
}

// "@" in a formula: a range stands for its cell in the formula's row or column.
TEST_F(HostFunctionTest, SingleIsTheCellInTheFormulasRowOrColumn) {
  build(
      "A1: 1\nA2: 2\nA3: 3\nB1: 10\nC1: 20\n"
      "D2: =_xlfn.SINGLE(A1:A3)\nD5: =_xlfn.SINGLE(A1:A3)\nC6: =_xlfn.SINGLE(A1:C1)\n"
      "D7: =_xlfn.SINGLE({4,5})\n");
  EXPECT_EQ(valueOf("D2"), "i:2");
  EXPECT_EQ(valueOf("D5"), "e:#VALUE!");
  EXPECT_EQ(valueOf("C6"), "i:20");
  EXPECT_EQ(valueOf("D7"), "i:4");
}

TEST_F(HostFunctionTest, AnchorArrayGivesTheSpilledValues) {
  build(
      "A1: 1\nA2: 2\nA3: 3\nC1: 4\n"
      "B1:B3: {=A1:A3*10}\n"
      "D1: =SUM(_xlfn.ANCHORARRAY(B1))\n"
      "D2: =_xlfn.ANCHORARRAY(C1)\n"
      "D3: =_xlfn.ANCHORARRAY(B2)\n"
      "E1:E4: {=123}\n"
      "F1: =SUM(_xlfn.ANCHORARRAY(E1))\n"
      "F2: =SUM(_xlfn.ANCHORARRAY(OFFSET(A1,0,1)))\n");
  EXPECT_EQ(valueOf("D1"), "i:60");
  EXPECT_EQ(valueOf("D2"), "e:#REF!");
  EXPECT_EQ(valueOf("D3"), "e:#REF!");
  // A single value fills the whole range.
  EXPECT_EQ(valueOf("F1"), "i:492");
  EXPECT_EQ(valueOf("F2"), "i:60");
}

// A newer function written without its prefix reaches the host as a macro of that name.
TEST_F(HostFunctionTest, FunctionNamedAsMacroIsComputed) {
  build("A1: \"a\"\nA2: \"b\"\nB1: =CONCAT(A1:A2,1)\nB2: =NOSUCHMACRO(1)\n");
  EXPECT_EQ(valueOf("B1"), "t:ab1");
  EXPECT_EQ(valueOf("B2"), "e:#NAME?");
  EXPECT_EQ(headless_->notComputed().count(u"NOSUCHMACRO"), 1u);
}

}  // namespace
}  // namespace korvel
