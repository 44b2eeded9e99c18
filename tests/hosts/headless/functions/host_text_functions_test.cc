#include <string>

#include "tests/hosts/headless/functions/host_function_test_support.h"

namespace korvel {
namespace {

// The fixture's helpers are protected; the tables run through check().
class TextFormulas : public HostFunctionTest {
 public:
  void check(const std::string& inputs, std::initializer_list<FormulaCase> cases) {
    for (const FormulaCase& c : cases) {
      EXPECT_EQ(eval(inputs, c.formula), c.expected) << c.formula;
    }
  }
};

TEST_F(TextFormulas, TextFormatsNumbersDatesAndTexts) {
  check("A1: 1234.567\nA2: \"abc\"",
        {
            {"=TEXT(A1,\"#,##0.00\")", "t:1,234.57"},
            {"=TEXT(A1,0)", "t:1235"},
            {"=TEXT(\"12\",\"0.00\")", "t:12.00"},  // a number text is the number
            {"=TEXT(\"1/15/2020\",\"yyyy-mm-dd\")", "t:2020-01-15"},
            {"=TEXT(A3,\"0.0\")", "t:0.0"},  // an empty cell is 0
            {"=TEXT(A2,\"0.00\")", "t:abc"},
            {"=TEXT(A2,\"0;0;0;(@)\")", "t:(abc)"},
            {"=TEXT(TRUE,\"0\")", "t:TRUE"},
            {"=TEXT(0.5,\"h:mm AM/PM\")", "t:12:00 PM"},
            {"=TEXT(1.5,\"[h]:mm\")", "t:36:00"},
            {"=TEXT(1/3,\"General\")", "t:0.333333333"},
        });
}

TEST_F(TextFormulas, TextErrors) {
  check("A1: #N/A", {
                        {"=TEXT(A1,\"0\")", "e:#N/A"},
                        {"=TEXT(1/0,\"0\")", "e:#DIV/0!"},
                        {"=TEXT(1,1/0)", "e:#DIV/0!"},
                        {"=TEXT(1,\"[Bad]0\")", "e:#VALUE!"},
                        {"=TEXT(-1,\"yyyy\")", "e:#VALUE!"},
                    });
}

TEST_F(TextFormulas, DollarAndFixedRoundFirst) {
  check("", {
                {"=DOLLAR(1234.567)", "t:$1,234.57"},
                {"=DOLLAR(-1234.567,1)", "t:($1,234.6)"},
                {"=DOLLAR(1234.567,-2)", "t:$1,200"},
                {"=DOLLAR(-0.001)", "t:$0.00"},
                {"=DOLLAR(1,128)", "e:#VALUE!"},
                {"=FIXED(1234.567)", "t:1,234.57"},
                {"=FIXED(1234.567,1,TRUE)", "t:1234.6"},
                {"=FIXED(-1234.567,-1)", "t:-1,230"},
                {"=FIXED(2.5,0)", "t:3"},
                {"=FIXED(-0.001,2)", "t:0.00"},
                {"=FIXED(\"1e3\",1)", "t:1,000.0"},
                {"=FIXED(\"abc\")", "e:#VALUE!"},
                {"=FIXED(1,2.9)", "t:1.00"},
            });
}

TEST_F(TextFormulas, NumberValueReadsSeparatorsGiven) {
  check("",
        {
            {"=NUMBERVALUE(\"2.500,27\",\",\",\".\")", "n:2500.27"},
            {"=NUMBERVALUE(\"1 000.5\",\".\",\",\")", "n:1000.5"},
            {"=NUMBERVALUE(\"3.5%%\",\".\",\",\")", "n:0.00035"},
            {"=NUMBERVALUE(\"-1.5e2\",\".\",\",\")", "i:-150"},
            {"=NUMBERVALUE(\"\",\".\",\",\")", "i:0"},
            {"=NUMBERVALUE(\"1.2.3\",\".\",\",\")", "e:#VALUE!"},
            {"=NUMBERVALUE(\"1.000,5\",\".\",\",\")", "e:#VALUE!"},  // a group after the decimal
            {"=NUMBERVALUE(\"5%1\",\".\",\",\")", "e:#VALUE!"},
            {"=NUMBERVALUE(\"1,5\",\",\",\",\")", "e:#VALUE!"},
            {"=NUMBERVALUE(\"$5\",\".\",\",\")", "e:#VALUE!"},
        });
}

TEST_F(TextFormulas, CharacterFunctions) {
  check("", {
                {"=CLEAN(CHAR(9)&\"a\"&CHAR(10)&\"b\"&CHAR(127))", "t:ab\x7f"},
                {"=UNICHAR(65)", "t:A"},
                {"=UNICODE(UNICHAR(128512))", "i:128512"},
                {"=LEN(UNICHAR(128512))", "i:2"},
                {"=UNICHAR(0)", "e:#VALUE!"},
                {"=UNICHAR(1114112)", "e:#VALUE!"},
                {"=UNICHAR(55296)", "e:#N/A"},
                {"=UNICODE(\"Bc\")", "i:66"},
                {"=UNICODE(\"\")", "e:#VALUE!"},
                {"=ENCODEURL(\"a b/\"&UNICHAR(252)&\"~x\")", "t:a%20b%2F%C3%BC~x"},
            });
}

// The headless program's language has no double-byte characters: the byte forms count
// characters. ASC and DBCS change the width of the ASCII forms; BAHTTEXT writes Thai words.
TEST_F(TextFormulas, LanguageFunctions) {
  check("A1: \"abcdef\"\nA2: 12\n", {
                                        {"=LENB(A1)", "i:6"},
                                        {"=LEFTB(A1,2)", "t:ab"},
                                        {"=RIGHTB(A1,2)", "t:ef"},
                                        {"=MIDB(A1,2,3)", "t:bcd"},
                                        {"=FINDB(\"d\",A1)", "i:4"},
                                        {"=SEARCHB(\"D\",A1)", "i:4"},
                                        {"=REPLACEB(A1,1,2,\"X\")", "t:Xcdef"},
                                        {"=ASC(\"\uFF21\uFF42\u3000\uFF11\")", "t:Ab 1"},
                                        {"=DBCS(\"Ab 1\")", "t:\uFF21\uFF42\u3000\uFF11"},
                                        {"=PHONETIC(A1:A2)", "t:abcdef"},
                                        {"=BAHTTEXT(0)", "t:ศูนย์บาทถ้วน"},
                                        {"=BAHTTEXT(-21.5)", "t:ลบยี่สิบเอ็ดบาทห้าสิบสตางค์"},
                                        {"=BAHTTEXT(1000011)", "t:หนึ่งล้านสิบเอ็ดบาทถ้วน"},
                                        {"=BAHTTEXT(\"x\")", "e:#VALUE!"},
                                    });
}

}  // namespace
}  // namespace korvel
