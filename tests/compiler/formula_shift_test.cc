#include "compiler/formula_shift.h"

#include <gtest/gtest.h>

#include "util/text.h"

namespace korvel {
namespace {

TEST(FormulaShiftTest, MovesRelativePartsOnly) {
  struct Case {
    const char16_t* formula;
    int rows, columns;
    const char16_t* expected;
  };
  const Case cases[] = {
      {u"A1*2", 2, 0, u"A3*2"},
      {u"A1+$B$1+C$1+$D1", 1, 1, u"B2+$B$1+D$1+$D2"},
      {u"SUM(A1:B2)", 3, 2, u"SUM(C4:D5)"},
      {u"SUM(A:B)+SUM($C:D)", 5, 1, u"SUM(B:C)+SUM($C:E)"},
      {u"SUM(1:2)+SUM($3:4)", 1, 5, u"SUM(2:3)+SUM($3:5)"},
      {u"Sheet2!A1+'My Sheet'!B2:C3", 1, 0, u"Sheet2!A2+'My Sheet'!B3:C4"},
      // Texts, quoted names with doubled quotes, function names, defined names, error literals,
      // array constants and bracketed parts stay as written.
      {u"\"A1\"&'It''s A1'!A1&\"say \"\"B2\"\"\"", 1, 1,
       u"\"A1\"&'It''s A1'!B2&\"say \"\"B2\"\"\""},
      {u"LOG10(A1)+_xlfn.XLOOKUP(A1,B:B,C:C)+Rate+ABC+TRUE", 1, 1,
       u"LOG10(B2)+_xlfn.XLOOKUP(B2,C:C,D:D)+Rate+ABC+TRUE"},
      {u"IF(ISERROR(A1),#N/A,#DIV/0!)+{1,2;3,4}+Table1[Col A1]", 1, 0,
       u"IF(ISERROR(A2),#N/A,#DIV/0!)+{1,2;3,4}+Table1[Col A1]"},
      {u"1.5E+3+A1*2.5", 1, 0, u"1.5E+3+A2*2.5"},
      {u"a1+xfd1", 0, 0, u"A1+XFD1"},
      // A lone column or row is a name; a word too long for a column is a name.
      {u"A+XFE1+B1", 1, 0, u"A+XFE1+B2"},
      // Pushed off the sheet: #REF!, with the sheet qualifier.
      {u"A1+B2", -1, 0, u"#REF!+B1"},
      {u"Sheet2!A1:B2*'x y'!C1", 0, -1, u"#REF!*'x y'!B1"},
      {u"XFD1+A1048576", 1, 1, u"#REF!+#REF!"},
      {u"SUM($A1:A$1)", 0, -1, u"SUM(#REF!)"},
      {u"SUM(Sheet1:Sheet3!A1)+SUM(Sheet1:Sheet3!B1)", 0, -1, u"SUM(#REF!)+SUM(Sheet1:Sheet3!A1)"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(toUtf8(shiftFormula(c.formula, c.rows, c.columns)), toUtf8(c.expected))
        << toUtf8(c.formula) << " by " << c.rows << "," << c.columns;
}

TEST(FormulaShiftTest, UnfinishedTextIsCopied) {
  EXPECT_EQ(shiftFormula(u"A1&\"B1", 1, 0), u"A2&\"B1");
  EXPECT_EQ(shiftFormula(u"'Sheet", 1, 0), u"'Sheet");
  EXPECT_EQ(shiftFormula(u"", 1, 0), u"");
}

}  // namespace
}  // namespace korvel
