// LET, LAMBDA and the functions that take a LAMBDA, written as workbook files store them, computed
// by the headless program through the engine. Array results are joined with CONCAT so that one
// text shows every element in order.
#include "hosts/headless/lambda_calls.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/hosts/headless/functions/host_function_test_support.h"

namespace korvel {
namespace {

const std::string kInputs =
    "A1: 1\nB1: 2\nC1: 3\nA2: 4\nB2: 5\nC2: 6\nD1: \"a\"\nD2: \"b\"\n"
    "name Twice: =_xlfn.LAMBDA(_xlpm.x,_xlpm.x*2)\n"
    "name AddOpt: "
    "=_xlfn.LAMBDA(_xlpm.a,_xlop.b,IF(_xlfn.ISOMITTED(_xlpm.b),_xlpm.a,_xlpm.a+_xlpm.b))\n"
    "name Fact: =_xlfn.LAMBDA(_xlpm.n,IF(_xlpm.n<=1,1,_xlpm.n*Fact(_xlpm.n-1)))\n"
    "name Endless: =_xlfn.LAMBDA(_xlpm.n,Endless(_xlpm.n+1))\n"
    "name Total: =_xlfn.LAMBDA(_xlpm.r,SUM(_xlpm.r)+Sheet1!$A$1)\n";

TEST_F(HostFunctionTest, LetBindsNamesInOrderAndNests) {
  expectAll(kInputs,
            {
                {"=_xlfn.LET(_xlpm.x,2,_xlpm.y,_xlpm.x*5,_xlpm.x+_xlpm.y)", "i:12"},
                // An inner LET hides the outer name only inside itself.
                {"=2+_xlfn.LET(_xlpm.x,8,_xlfn.LET(_xlpm.x,2,_xlpm.x+_xlpm.x)*_xlpm.x)", "i:34"},
                // A range stays a range: functions that take references see it whole.
                {"=_xlfn.LET(_xlpm.r,A1:C2,ROWS(_xlpm.r)*10+SUM(_xlpm.r))", "i:41"},
                {"=_xlfn.LET(_xlpm.v,A1:C1*2,_xlfn.CONCAT(_xlpm.v))", "t:246"},
                {"=_xlfn.LET(_xlpm.x,1/0,5)", "i:5"},
                // IF and IFERROR over a range still work element by element.
                {"=_xlfn.CONCAT(_xlfn.LET(_xlpm.r,A1:C1,IF(_xlpm.r>1,\"y\",\"n\")))", "t:nyy"},
                {"=_xlfn.CONCAT(_xlfn.LET(_xlpm.r,A1:C1,IFERROR(1/(_xlpm.r-2),\"e\")))", "t:-1e1"},
                {"=_xlfn.LET(_xlpm.x,1,_xlpm.x+_xlpm.y)", "e:#NAME?"},
                {"=_xlfn.LET(_xlpm.x,1,_xlpm.y)", "e:#NAME?"},
                {"=_xlfn.LET(_xlpm.x,1)", "e:#VALUE!"},
                {"=_xlfn.LET(1,2,3)", "e:#VALUE!"},
            });
}

TEST_F(HostFunctionTest, LambdaIsCalledWhereItStandsThroughVariablesAndNames) {
  expectAll(
      kInputs,
      {
          {"=_xlfn.LAMBDA(_xlpm.x,_xlpm.x+1)(3)", "i:4"},
          {"=_xlfn.LAMBDA(_xlpm.x,_xlpm.y,SQRT(_xlpm.x*_xlpm.x+_xlpm.y*_xlpm.y))(3,4)", "i:5"},
          {"=_xlfn.LET(_xlpm.f,_xlfn.LAMBDA(_xlpm.x,_xlpm.x*B1),_xlpm.f(C1))", "i:6"},
          // A LAMBDA sees the names around the place it was written.
          {"=_xlfn.LET(_xlpm.k,10,_xlpm.f,_xlfn.LAMBDA(_xlpm.x,_xlpm.x+_xlpm.k),"
           "_xlfn.LET(_xlpm.k,100,_xlpm.f(1)))",
           "i:11"},
          {"=Twice(21)", "i:42"},
          {"=Total(A1:C1)", "i:7"},
          {"=AddOpt(1)", "i:1"},
          {"=AddOpt(1,2)", "i:3"},
          {"=_xlfn.LAMBDA(_xlpm.x,_xlpm.y,IF(_xlfn.ISOMITTED(_xlpm.y),\"none\",_xlpm.y))(1,)",
           "t:none"},
          {"=_xlfn.ISOMITTED(A1)", "b:FALSE"},
          // Wrong argument counts, and functions left uncalled.
          {"=_xlfn.LAMBDA(_xlpm.x,_xlpm.x)(1,2)", "e:#VALUE!"},
          {"=_xlfn.LAMBDA(_xlpm.x,_xlpm.y,_xlpm.x)(1)", "e:#VALUE!"},
          {"=Twice(1,2)", "e:#VALUE!"},
          {"=Twice()", "e:#VALUE!"},
          {"=Twice", "e:#VALUE!"},
          {"=_xlfn.LAMBDA(_xlpm.x,_xlpm.x)", "e:#VALUE!"},
          {"=_xlfn.LET(_xlpm.f,Twice,_xlpm.f)", "e:#VALUE!"},
      });
}

// A LAMBDA calling itself ends through the branch IF takes; one that never ends stops at the
// nesting bound with #NUM!, never by exhausting the stack.
TEST_F(HostFunctionTest, RecursiveLambdaEndsOrGivesNum) {
  expectAll(kInputs, {
                         {"=Fact(5)", "i:120"},
                         {"=Fact(1)", "i:1"},
                         {"=Fact(150)>1E+262", "b:TRUE"},
                         {"=Endless(1)", "e:#NUM!"},
                         {"=IFERROR(Endless(1),\"stopped\")", "t:stopped"},
                     });
}

TEST_F(HostFunctionTest, HelpersCallTheirLambdaPerElementRowColumnOrStep) {
  expectAll(
      kInputs,
      {
          {"=_xlfn.CONCAT(_xlfn.MAP(A1:C2,_xlfn.LAMBDA(_xlpm.v,_xlpm.v*2)))", "t:24681012"},
          {"=_xlfn.CONCAT(_xlfn.MAP(A1:C1,A2:C2,_xlfn.LAMBDA(_xlpm.x,_xlpm.y,_xlpm.x*_xlpm.y)))",
           "t:41018"},
          {"=_xlfn.CONCAT(_xlfn.MAP(A1:C1,Twice))", "t:246"},
          {"=_xlfn.REDUCE(0,A1:C2,_xlfn.LAMBDA(_xlpm.a,_xlpm.v,_xlpm.a+_xlpm.v))", "i:21"},
          {"=_xlfn.REDUCE(1,A1:C1,_xleta.PRODUCT)", "i:6"},
          {"=_xlfn.REDUCE(,A1:C1,_xlfn.LAMBDA(_xlpm.a,_xlpm.v,_xlpm.a+_xlpm.v))", "i:6"},
          {"=_xlfn.CONCAT(_xlfn.SCAN(\"\",D1:D2,_xlfn.LAMBDA(_xlpm.a,_xlpm.v,_xlpm.a&_xlpm.v)))",
           "t:aab"},
          {"=_xlfn.CONCAT(_xlfn.SCAN(0,A1:C1,_xleta.SUM))", "t:136"},
          {"=_xlfn.CONCAT(_xlfn.BYROW(A1:C2,_xlfn.LAMBDA(_xlpm.r,MAX(_xlpm.r))))", "t:36"},
          {"=ROWS(_xlfn.BYROW(A1:C2,_xlfn.LAMBDA(_xlpm.r,ROWS(_xlpm.r))))", "i:2"},
          {"=_xlfn.CONCAT(_xlfn.BYCOL(A1:C2,_xlfn.LAMBDA(_xlpm.c,SUM(_xlpm.c))))", "t:579"},
          {"=COLUMNS(_xlfn.BYCOL({1,2;3,4},_xlfn.LAMBDA(_xlpm.c,SUM(_xlpm.c))))", "i:2"},
          {"=_xlfn.CONCAT(_xlfn.MAKEARRAY(2,3,_xlfn.LAMBDA(_xlpm.r,_xlpm.c,_xlpm.r*10+_xlpm.c)))",
           "t:111213212223"},
          // Results that would nest an array, and arguments that are no function.
          {"=_xlfn.BYROW(A1:C2,_xlfn.LAMBDA(_xlpm.r,_xlpm.r))", "e:#VALUE!"},
          {"=_xlfn.MAP(A1:C1,_xlfn.LAMBDA(_xlpm.x,_xlpm.y,_xlpm.x))", "e:#VALUE!"},
          {"=_xlfn.MAP(A1:C1,5)", "e:#VALUE!"},
          {"=_xlfn.MAKEARRAY(0,2,_xlfn.LAMBDA(_xlpm.r,_xlpm.c,1))", "e:#VALUE!"},
          {"=_xlfn.REDUCE(0,A1:C1,_xlfn.LAMBDA(_xlpm.a,_xlpm.a))", "e:#VALUE!"},
      });
}

TEST_F(HostFunctionTest, GroupByAndPivotByAggregateEachGroupSortedWithTotals) {
  const std::string groups = kInputs +
                             "A10: \"Type\"\nB10: \"Amount\"\nA11: \"b\"\nB11: 5\nA12: \"a\"\n"
                             "B12: 1\nA13: \"B\"\nB13: 2\nA14: \"c\"\nB14: 4\nA15: \"a\"\nB15: 3\n"
                             "C11: \"x\"\nC12: \"y\"\nC13: \"x\"\nC14: \"y\"\nC15: \"x\"\n";
  expectAll(
      groups,
      {
          {"=_xlfn.CONCAT(_xlfn.GROUPBY(A11:A15,B11:B15,_xleta.SUM))", "t:a4b7c4Total15"},
          // A text over a number heads the values: the header row is left out.
          {"=_xlfn.CONCAT(_xlfn.GROUPBY(A10:A15,B10:B15,_xleta.SUM))", "t:a4b7c4Total15"},
          {"=_xlfn.CONCAT(_xlfn.GROUPBY(A10:A15,B10:B15,_xleta.SUM,3))",
           "t:TypeAmounta4b7c4Total15"},
          {"=_xlfn.CONCAT(_xlfn.GROUPBY(A11:A15,B11:B15,_xleta.SUM,0,-1))", "t:Total15a4b7c4"},
          // Sorted by the values, largest first; equal values keep the fields' order.
          {"=_xlfn.CONCAT(_xlfn.GROUPBY(A11:A15,B11:B15,_xleta.SUM,0,0,-2))", "t:b7a4c4"},
          {"=_xlfn.CONCAT(_xlfn.GROUPBY(A11:A15,B11:B15,_xleta.SUM,0,1,1,B11:B15>1))",
           "t:a3b7c4Total14"},
          {"=_xlfn.CONCAT(_xlfn.GROUPBY(A11:A15,B11:B15,_xlfn.LAMBDA(_xlpm.x,MAX(_xlpm.x)),0,0))",
           "t:a3b5c4"},
          {"=ROWS(_xlfn.GROUPBY(A11:A15,B11:B15,_xleta.SUM))*10+"
           "COLUMNS(_xlfn.GROUPBY(A11:A15,B11:B15,_xleta.SUM))",
           "i:42"},
          {"=_xlfn.GROUPBY(A11:A15,B11:B14,_xleta.SUM)", "e:#VALUE!"},
          {"=_xlfn.GROUPBY(A11:A15,B11:B15,_xleta.SUM,\"x\")", "e:#VALUE!"},
          // Row groups down, column groups across, empty where no row has both.
          {"=_xlfn.CONCAT(_xlfn.PIVOTBY(A11:A15,C11:C15,B11:B15,_xleta.SUM))",
           "t:xyTotala314b77c44Total10515"},
          {"=_xlfn.CONCAT(_xlfn.PIVOTBY(A11:A15,C11:C15,B11:B15,_xleta.SUM,0,0,-1,0))",
           "t:xyc4b7a31"},
          {"=ROWS(_xlfn.PIVOTBY(A10:A15,C10:C15,B10:B15,_xleta.SUM))*10+"
           "COLUMNS(_xlfn.PIVOTBY(A11:A15,C11:C15,B11:B15,_xleta.SUM))",
           "i:54"},
          {"=_xlfn.PIVOTBY(A11:A15,C11:C14,B11:B15,_xleta.SUM)", "e:#VALUE!"},
      });
}

// Constructs computed by the headless program are not counted as left to the host program, and
// the cells reading them compute from them.
TEST_F(HostFunctionTest, LambdaCellsAreComputedNotHandedOver) {
  build(kInputs + "E1: =_xlfn.LET(_xlpm.x,A1,_xlpm.x*3)\nE2: =E1+Twice(A2)\n");
  EXPECT_EQ(valueOf("E1"), "i:3");
  EXPECT_EQ(valueOf("E2"), "i:11");
  EXPECT_EQ(headless_->notComputedCount(), 0u);
}

}  // namespace
}  // namespace korvel
