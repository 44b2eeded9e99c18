#include "hosts/headless/spreadsheet/program_formula.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "hosts/headless/spreadsheet/a1_reference.h"

namespace korvel {
namespace {

TEST(A1ReferenceTest, ReadsCellsAreasColumnsRowsAndSheets) {
  struct Case {
    std::u16string text;
    std::u16string sheet;
    std::vector<CellArea> areas;
  } cases[] = {
      {u"B3", u"", {{2, 1, 2, 1}}},
      {u"$b$3", u"", {{2, 1, 2, 1}}},
      {u"C4:A1", u"", {{0, 0, 3, 2}}},
      {u"A:B", u"", {{0, 0, kSheetRows - 1, 1}}},
      {u"$2:$3", u"", {{1, 0, 2, kSheetColumns - 1}}},
      {u"A1:B2,D4", u"", {{0, 0, 1, 1}, {3, 3, 3, 3}}},
      {u"Sheet2!XFD1048576",
       u"Sheet2",
       {{kSheetRows - 1, kSheetColumns - 1, kSheetRows - 1, kSheetColumns - 1}}},
      {u"'It''s, mine'!A1", u"It's, mine", {{0, 0, 0, 0}}},
  };
  for (const Case& c : cases) {
    std::optional<A1Reference> reference = parseA1(c.text);
    ASSERT_TRUE(reference) << std::string(c.text.begin(), c.text.end());
    EXPECT_EQ(reference->sheet, c.sheet);
    EXPECT_EQ(reference->areas, c.areas);
  }
  for (std::u16string bad : {u"", u"A", u"3", u"A0", u"XFE1", u"A1048577", u"A1:3", u"A1,",
                             u"'open!A1", u"!A1", u"A1B"}) {
    EXPECT_FALSE(parseA1(bad)) << std::string(bad.begin(), bad.end());
  }
}

TEST(A1ReferenceTest, WritesAddressesInEveryForm) {
  EXPECT_EQ(formatA1({2, 1, 2, 1}), u"$B$3");
  EXPECT_EQ(formatA1({0, 0, 3, 27}, false, false), u"A1:AB4");
  EXPECT_EQ(formatA1({0, 0, 3, 27}, true, false), u"A$1:AB$4");
  EXPECT_EQ(formatA1({0, 2, kSheetRows - 1, 2}), u"$C:$C");
  EXPECT_EQ(formatA1({4, 0, 5, kSheetColumns - 1}, true, true), u"$5:$6");
  EXPECT_EQ(a1ColumnLetters(16383), u"XFD");
}

TEST(ProgramFormulaTest, ComputesArithmeticOfNumbersAndReferences) {
  std::map<std::pair<std::u16string, std::pair<uint32_t, uint32_t>>, Variant> cells = {
      {{u"", {0, 0}}, Variant::r8(6)},
      {{u"", {0, 1}}, Variant::text(u"4")},
      {{u"", {0, 2}}, Variant::text(u"x")},
      {{u"Other", {0, 0}}, Variant::r8(10)},
      {{u"", {1, 0}}, Variant::error(kCellErrorNA)},
  };
  FormulaCellReader read = [&](const std::u16string& sheet, uint32_t row,
                               uint32_t column) -> std::optional<Variant> {
    if (!sheet.empty() && sheet != u"Other") return std::nullopt;
    auto it = cells.find({sheet, {row, column}});
    return it == cells.end() ? Variant() : it->second;
  };
  struct Case {
    std::u16string formula;
    Variant expected;
    bool unsupported;
  } cases[] = {
      {u"=1+2*3", Variant::r8(7), false},
      {u"=(1+2)*3", Variant::r8(9), false},
      {u"=-A1/$B$1", Variant::r8(-1.5), false},
      {u"=A1+Other!A1+D9", Variant::r8(16), false},
      {u"=\"a\"\"b\"", Variant::text(u"a\"b"), false},
      {u"=A1/0", Variant::error(kCellErrorDiv0), false},
      {u"=C1+1", Variant::error(kCellErrorValue), false},
      {u"=A2+1", Variant::error(kCellErrorNA), false},
      {u"=Missing!A1", Variant::error(kCellErrorRef), false},
      {u"=A1:B2", Variant::error(kCellErrorValue), false},
      {u"=SUM(A1)", Variant::error(kCellErrorName), true},
      {u"=Total*2", Variant::error(kCellErrorName), true},
      {u"=1+", Variant::error(kCellErrorName), true},
      {u"=" + std::u16string(500, u'(') + u"1" + std::u16string(500, u')'),
       Variant::error(kCellErrorName), true},
  };
  for (const Case& c : cases) {
    FormulaOutcome outcome = evaluateFormula(c.formula, read);
    EXPECT_EQ(outcome.value, c.expected) << std::string(c.formula.begin(), c.formula.end());
    EXPECT_EQ(outcome.unsupported, c.unsupported);
  }
}

TEST(ProgramFormulaTest, FindsReferencesAlsoInsideFunctions) {
  std::vector<FormulaReference> references =
      formulaReferences(u"=SUM(A1:B2)+'My sheet'!C3*\"D4\"+Sheet2!$E$5+LOG10(2)");
  ASSERT_EQ(references.size(), 3u);
  EXPECT_EQ(references[0].area, (CellArea{0, 0, 1, 1}));
  EXPECT_EQ(references[1].sheet, u"My sheet");
  EXPECT_EQ(references[1].area, (CellArea{2, 2, 2, 2}));
  EXPECT_EQ(references[2].sheet, u"Sheet2");
  EXPECT_EQ(references[2].area, (CellArea{4, 4, 4, 4}));
  EXPECT_TRUE(formulaReferences(u"=1+2").empty());
}

}  // namespace
}  // namespace korvel
