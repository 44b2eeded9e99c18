// Reading the formula texts the runtime hands to the host program, and computing them in the
// headless calculation host.
#include "hosts/headless/functions/host_call_text.h"

#include <gtest/gtest.h>

#include <string>

#include "engine/locale_settings.h"
#include "model/address.h"
#include "model/cell.h"
#include "tests/hosts/headless/functions/host_function_test_support.h"

namespace korvel {
namespace {

// Two sheets, a workbook name and a sheet name; the calls are read as if made from Sheet1!Z100.
constexpr const char* kBook =
    "[Sheet1]\n"
    "A1: 1\nA2: 2\nA3: 3\nB1: \"x\"\n"
    "Z100: 0\n"
    "[My sheet]\n"
    "A1: 10\n"
    "[Sheet2]\n"
    "B1: 7\n"
    "name Rate: =Sheet2!$B$1\n"
    "name Sheet1!Local: =Sheet1!$A$2:$A$3\n"
    "name Sheet2!Local: =Sheet2!$B$1\n";

class CallTextTest : public HostFunctionTest {
 protected:
  void SetUp() override { build(kBook); }

  // "NAME|argument|..." with references as "r<sheet>:<range>", or "refused".
  std::string parsed(const std::u16string& text) {
    CallContext context{model_->findCell(parseCell(u"Z100", 0)), engine_.get()};
    HostCallText call;
    if (!parseCallText(context, text, call)) return "refused";
    std::string out = toUtf8(call.name);
    for (const Value& v : call.arguments) {
      out += "|";
      if (v.isReference()) {
        out += "r" + std::to_string(v.reference().first.sheet()) + ":" +
               toUtf8(rangeText(v.reference()));
      } else {
        out += show(v);
      }
    }
    return out;
  }
};

TEST_F(CallTextTest, ReadsTheArgumentsTheRuntimeWrites) {
  const struct {
    const char16_t* text;
    const char* expected;
  } cases[] = {
      {u"=_xlfn.CONCAT(1,\"a\"\"b\",TRUE,#N/A,)", "CONCAT|i:1|t:a\"b|b:TRUE|e:#N/A|-"},
      {u"=_xlfn._xlws.sort({1,2;3,\"a,b\"})", "SORT|a:{1,2;3,\"a,b\"}"},
      {u"= F( -1.5 , 1.5E+20, FALSE )", "F|n:-1.5|n:1.5E+020|b:FALSE"},
      {u"=F()", "F"},
      {u"=F(A1,$B$2:C3,B:$D,2:3)", "F|r0:A1|r0:B2:C3|r0:B1:D1048576|r0:A2:XFD3"},
      {u"=F(Sheet2!A1,'My sheet'!A1:C3,sheet2!b1)", "F|r2:A1|r1:A1:C3|r2:B1"},
      // A name of the calling cell's sheet comes before the workbook's; a qualified one is the
      // named sheet's.
      {u"=F(Rate,Local,Sheet2!Local)", "F|r2:B1|r0:A2:A3|r2:B1"},
      {u"=F((A1,Sheet2!B1))", "F|l2"},
      {u"=F((A1))", "F|r0:A1"},
      {u"=Sheet2!B1", "|r2:B1"},
      {u"=\"lone\"", "|t:lone"},
  };
  for (const auto& c : cases) EXPECT_EQ(parsed(c.text), c.expected) << toUtf8(c.text);
}

TEST_F(CallTextTest, RefusesWhatIsNoPlainCall) {
  const char16_t* refused[] = {
      u"SUM(A1)",               // no "="
      u"=F(A1+1)",              // an operator
      u"=F(G(1))",              // a nested call of a function nobody computes
      u"=SUM(A1)+MAX(A2)",      // two calls
      u"=F(1",                  // not closed
      u"=F(\"abc)",             // a text not closed
      u"=F({1,2;3})",           // rows of two lengths
      u"=F(Nowhere!A1)",        // no such sheet
      u"=F(NoSuchName)",        // no such name
      u"=F(ABCD1)",             // four letters: a name, and there is none
      u"=F([Book2]Sheet1!A1)",  // another workbook
      u"=1+2",
  };
  for (const char16_t* text : refused) EXPECT_EQ(parsed(text), "refused") << toUtf8(text);
}

TEST_F(CallTextTest, ReadsTheUserLocalesSeparators) {
  setUserLocale(UserLocale::germanGermany());
  EXPECT_EQ(parsed(u"=F(1,5;\"a;b\";{1;2})"), "F|n:1,5|t:a;b|a:{1;2}");
}

TEST_F(HostFunctionTest, EvaluatedTextsAreComputed) {
  build(
      "A1: 1\nA2: 2\nA3: 3\n"
      "A5: \"=MAX(A1:A3)\"\n"
      "A6: \"=EVALUATE(A6)\"\n"
      "B1: =EVALUATE(\"=SUM(A1:A3)\")\n"
      "B2: =EVALUATE(A5)\n"
      "B3: =EVALUATE(\"=EVALUATE(\"\"=A2\"\")\")\n"
      // A text that hands itself back stops instead of recursing.
      "B4: =EVALUATE(A6)\n"
      "B5: =EVALUATE(\"=1+2\")\n"
      "B6: =_xlfn.NOSUCHFUNCTION(1)\n"
      // Calls inside the call are computed in place, references kept.
      "B7: =EVALUATE(\"=SUM(ABS(-2),OFFSET(A1,1,0,2))\")\n");
  EXPECT_EQ(valueOf("B1"), "i:6");
  EXPECT_EQ(valueOf("B2"), "i:3");
  EXPECT_EQ(valueOf("B3"), "i:2");
  EXPECT_EQ(valueOf("B4"), "e:#NAME?");
  EXPECT_EQ(valueOf("B5"), "e:#NAME?");
  EXPECT_EQ(valueOf("B6"), "e:#NAME?");
  EXPECT_EQ(valueOf("B7"), "i:7");
  EXPECT_EQ(headless_->notComputed().count(u"NOSUCHFUNCTION"), 1u);
  EXPECT_EQ(headless_->notComputed().count(u"1+2"), 1u);
}

// The host program's Evaluate answers 0 when the text gave cells, whose values stand in.
TEST_F(HostFunctionTest, EvaluateAnswersCellsAsTheirValues) {
  build("A1: 1\nA2: 2\nB1: \"one\"\nB2: \"two\"\n");
  const struct {
    const char16_t* text;
    int answer;
    const char* value;
  } cases[] = {
      {u"=_xlfn.XLOOKUP(2,A1:A2,B1:B2)", 0, "t:two"},
      {u"=A1:B1", 0, "a:{1,\"one\"}"},
      {u"=_xlfn.XMATCH(2,A1:A2)", 1, "i:2"},
      {u"=F(1)", 1, "e:#NAME?"},
  };
  for (const auto& c : cases) {
    Value out;
    EXPECT_EQ(headless_->evaluate(c.text, false, out), c.answer) << toUtf8(c.text);
    EXPECT_EQ(show(out), c.value) << toUtf8(c.text);
  }
}

}  // namespace
}  // namespace korvel
