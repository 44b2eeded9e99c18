// The searching members of the lookup family: VLOOKUP, HLOOKUP, MATCH, LOOKUP, CHOOSE and
// GETPIVOTDATA, and the exact-search cache behind them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/engine.h"
#include "function_test_support.h"
#include "functions/lookup_search.h"

namespace korvel {
namespace {

class LookupFunctions : public FunctionTest {
 protected:
  void expectAll(const std::string& inputs, const std::vector<FormulaCase>& cases) {
    for (const FormulaCase& c : cases) {
      EXPECT_EQ(eval(inputs, c.formula), c.expected) << c.formula;
    }
  }
};

// A1:B5 a sorted table with a run of equal keys; D1:E4 texts; F1:G3 a blank key and a zero key.
constexpr const char* kTable =
    "A1: 1\nA2: 2\nA3: 2\nA4: 2\nA5: 3\n"
    "B1: \"a\"\nB2: \"b\"\nB3: \"c\"\nB4: \"d\"\nB5: \"e\"\n"
    "D1: 5\nD2: \"banana\"\nD3: \"Apricot\"\nD4: \"a*\"\n"
    "E1: \"five\"\nE2: \"yellow\"\nE3: \"orange\"\nE4: \"star\"\n"
    "F1: \"x\"\nF3: 0\nG1: \"text\"\nG2: \"blank\"\nG3: \"zero\"\n"
    "K1: 1\nL1: 2\nM1: 3\nK2: \"x\"\nL2: \"y\"\nM2: \"z\"\n";

TEST_F(LookupFunctions, VlookupSearchesExactlyAndByBisection) {
  expectAll(kTable, {
                        // The bisection meets the middle 2 first and stops there.
                        {"=VLOOKUP(2,A1:B5,2)", "t:c"},
                        {"=VLOOKUP(2.5,A1:B5,2,TRUE)", "t:d"},
                        {"=VLOOKUP(9,A1:B5,2)", "t:e"},
                        {"=VLOOKUP(0,A1:B5,2)", "e:#N/A"},
                        {"=VLOOKUP(2,A1:B5,2,FALSE)", "t:b"},
                        {"=VLOOKUP(2,A1:B5,2,\"false\")", "t:b"},
                        {"=VLOOKUP(2,A1:B5,2,\"maybe\")", "e:#VALUE!"},
                        {"=VLOOKUP(\"a*\",D1:E4,2,FALSE)", "t:orange"},
                        {"=VLOOKUP(\"a~*\",D1:E4,2,FALSE)", "t:star"},
                        {"=VLOOKUP(\"?ANANA\",D1:E4,2,FALSE)", "t:yellow"},
                        {"=VLOOKUP(\"5\",D1:E4,2,FALSE)", "e:#N/A"},
                        {"=VLOOKUP(5,D1:E4,2,FALSE)", "t:five"},
                        // A blank key is not a zero key.
                        {"=VLOOKUP(Q1,F1:G3,2,FALSE)", "t:zero"},
                        {"=MATCH(Q1,F1:F3,0)", "i:3"},
                        {"=VLOOKUP(2,A1:B5,0)", "e:#VALUE!"},
                        {"=VLOOKUP(2,A1:B5,\"x\")", "e:#VALUE!"},
                        {"=VLOOKUP(2,A1:B5,\"2\",FALSE)", "t:b"},
                        {"=VLOOKUP(2,A1:B5,3)", "e:#REF!"},
                        {"=VLOOKUP(2,\"12\",1)", "e:#N/A"},
                        {"=VLOOKUP(2,\"abc\",1)", "e:#VALUE!"},
                        {"=VLOOKUP(#DIV/0!,A1:B5,2)", "e:#DIV/0!"},
                        {"=VLOOKUP(2,{1,\"x\";2,\"y\"},2)", "t:y"},
                        {"=VLOOKUP(2,{1,\"x\";2,\"y\"},3)", "e:#REF!"},
                        {"=VLOOKUP(3,{1,\"x\";2,\"y\"},2)", "e:#N/A"},
                        {"=VLOOKUP(1,A1,1)", "i:1"},
                    });
}

TEST_F(LookupFunctions, HlookupSearchesTheFirstRow) {
  expectAll(kTable, {
                        {"=HLOOKUP(2,K1:M2,2,FALSE)", "t:y"},
                        {"=HLOOKUP(2.5,K1:M2,2)", "t:y"},
                        {"=HLOOKUP(0.5,K1:M2,2)", "e:#N/A"},
                        {"=HLOOKUP(2,K1:M2,3)", "e:#REF!"},
                        {"=HLOOKUP(2,{1,2;\"a\",\"b\"},2)", "t:b"},
                        {"=HLOOKUP(2,{1,2},1)", "i:2"},
                        {"=HLOOKUP(2,{1,2},2)", "e:#REF!"},
                    });
}

TEST_F(LookupFunctions, MatchFindsPositions) {
  const std::string inputs = "A1: 1\nA2: 3\nA3: 5\nB1: 7\nB2: 3\n";
  expectAll(inputs, {
                        {"=MATCH(4,A1:A3,1)", "i:2"},
                        {"=MATCH(4,A1:A3)", "i:2"},
                        {"=MATCH(0,A1:A3,1)", "e:#N/A"},
                        {"=MATCH(3,A1:A3,0)", "i:2"},
                        {"=MATCH(3,A1:B2,0)", "e:#N/A"},
                        {"=MATCH(3,A2:B2,0)", "i:1"},
                        {"=MATCH(7,A1:B1,0)", "i:2"},
                        {"=MATCH(4,{5,3,1},-1)", "i:1"},
                        {"=MATCH(6,{5,3,1},-1)", "e:#N/A"},
                        {"=MATCH(4,{1,3,5},7)", "i:2"},
                        {"=MATCH(\"b*\",{\"a\",\"bc\"},0)", "i:2"},
                        {"=MATCH(\"a~b\",{\"ab\",\"a~b\"},0)", "i:2"},
                        {"=MATCH(4,A1:A3,\"x\")", "e:#VALUE!"},
                        {"=MATCH(9,A:A,1)", "i:3"},
                    });
  // A lookup array gives an array of positions.
  build(inputs + "D1:D2: {=MATCH({3;5},A1:A3,0)}\n");
  EXPECT_EQ(valueOf("D1"), "a:{2;3}");
  EXPECT_EQ(valueOf("D2"), "i:3");
}

TEST_F(LookupFunctions, LookupVectorAndArrayForms) {
  const std::string inputs = "A1: 1\nA2: 3\nA3: 5\nB1: \"x\"\nB2: \"y\"\nB3: \"z\"\n";
  expectAll(inputs, {
                        {"=LOOKUP(4,A1:A3,B1:B3)", "t:y"},
                        {"=LOOKUP(4,A1:A3)", "i:3"},
                        {"=LOOKUP(0,A1:A3,B1:B3)", "e:#N/A"},
                        {"=LOOKUP(4,{1,3,5},{\"p\",\"q\",\"r\"})", "t:q"},
                        {"=LOOKUP(3,{1,\"a\";3,\"c\"})", "t:c"},
                        {"=LOOKUP(4,{1,3,5;\"a\",\"c\",\"e\"})", "t:c"},
                        {"=LOOKUP(4,A1:B3)", "t:y"},
                        {"=LOOKUP(1,\"abc\")", "e:#VALUE!"},
                        {"=LOOKUP(#N/A,A1:A3)", "e:#N/A"},
                    });
}

TEST_F(LookupFunctions, ChooseCopiesTheChosenArgument) {
  expectAll("A1: 4\nB1: 5\nB2: 6\n", {
                                         {"=CHOOSE(2.9,\"x\",\"y\",\"z\")", "t:y"},
                                         {"=CHOOSE(4,\"x\",\"y\",\"z\")", "e:#VALUE!"},
                                         {"=CHOOSE(0,\"x\")", "e:#VALUE!"},
                                         {"=CHOOSE(\"2\",\"x\",#DIV/0!)", "e:#DIV/0!"},
                                         {"=CHOOSE(TRUE,\"x\")", "e:#VALUE!"},
                                         {"=CHOOSE(#REF!,1)", "e:#REF!"},
                                         {"=CHOOSE(A2:A3,1)", "e:#VALUE!"},
                                         {"=SUM(CHOOSE(2,A1,B1:B2))", "i:11"},
                                     });
  EXPECT_EQ(evalReference("", "=CHOOSE(2,A1,B1:B3)"), "r:B1:B3");
}

TEST_F(LookupFunctions, GetPivotDataGoesToTheHost) {
  EXPECT_EQ(eval("A1: 1", "=GETPIVOTDATA(\"Sales\",A1,\"Region\",\"North\")"), "i:0");
  ASSERT_EQ(host_.functionCalls.size(), 1u);
  EXPECT_EQ(host_.functionCalls[0].number, 237);
  EXPECT_EQ(host_.functionCalls[0].count, 30);
  EXPECT_EQ(host_.functionCalls[0].arguments.size(), 4u);
  EXPECT_EQ(eval("", "=GETPIVOTDATA(\"Sales\",5)"), "e:#REF!");
  EXPECT_EQ(eval("", "=GETPIVOTDATA(#NUM!,5)"), "e:#NUM!");
  EXPECT_TRUE(host_.functionCalls.empty());
}

// Two identical searches in one changed-cells recalculation share a cached outcome; the next
// recalculation, after the table changed, must not see the old one.
TEST_F(LookupFunctions, CachedSearchesAgreeWithFreshOnes) {
  build(
      "A1: \"k1\"\nA2: \"k2\"\nA3: \"k3\"\nB1: 10\nB2: 20\nB3: 30\nD1: \"k2\"\n"
      "C1: =VLOOKUP(D1,A1:B3,2,FALSE)\nC2: =VLOOKUP(D1,A1:B3,2,FALSE)\n"
      "C3: =MATCH(D1,A1:A3,0)\n");
  auto change = [&](const char* address, Value value) {
    Cell* input = cell(address);
    ASSERT_NE(input, nullptr);
    input->ensureValue() = value;
    engine_->recalculation().recalculateChanged({input}, false);
  };
  change("D1", Value::text(u"k3"));
  EXPECT_EQ(valueOf("C1"), "i:30");
  EXPECT_EQ(valueOf("C2"), "i:30");
  EXPECT_EQ(valueOf("C3"), "i:3");
  change("A1", Value::text(u"k3"));
  EXPECT_EQ(valueOf("C1"), "i:10");
  EXPECT_EQ(valueOf("C2"), "i:10");
  EXPECT_EQ(valueOf("C3"), "i:1");
  change("D1", Value::text(u"none"));
  EXPECT_EQ(valueOf("C1"), "e:#N/A");
  EXPECT_EQ(valueOf("C3"), "e:#N/A");

  // The same search, asked again and again while a recalculation runs, through the cache.
  engine_->searchCachesUsable = true;
  CallContext context{cell("C1"), engine_.get()};
  LookupLine line = LookupLine::cellColumn(context, 0, 0, 0, 2);
  for (const Value& lookup : {Value::text(u"k3"), Value::text(u"K2"), Value::text(u"k*"),
                              Value::text(u"none"), Value::integer(0)}) {
    for (int round = 0; round < 2; ++round) {
      EXPECT_EQ(
          cachedExactSearch(context, kLookupCacheSlot1, line, lookup, PatternRule::kAnyPatternUnit),
          exactSearch(line, lookup, PatternRule::kAnyPatternUnit));
    }
  }
  EXPECT_NE(engine_->searchCaches[kLookupCacheSlot1], nullptr);
  engine_->searchCachesUsable = false;
}

}  // namespace
}  // namespace korvel
