#include "compiler/external_references.h"

#include <gtest/gtest.h>

#include <vector>

#include "util/text.h"

namespace korvel {
namespace {

// Book [1]: "Q1 data" with A1 = 1.5, B1 = -2, A2 = "x", B2 = TRUE, C3 = #DIV/0!; "Empty" never
// read; names Top (of the book, and of "Q1 data"), Old and Sum. Book [2]: "Sheet1" with A1 = 7.
std::vector<ExternalBook> books() {
  ExternalSheet data{u"Q1 data", true, {}};
  data.cells[{0, 0}] = Value::number(1.5);
  data.cells[{0, 1}] = Value::number(-2);
  data.cells[{1, 0}] = Value::text(u"x");
  data.cells[{1, 1}] = Value::boolean(true);
  data.cells[{2, 2}] = Value::error(kErrorDiv0);
  ExternalSheet other{u"Sheet1", true, {}};
  other.cells[{0, 0}] = Value::number(7);
  ExternalBook first{{data, ExternalSheet{u"Empty", false, {}}}, {}};
  first.names = {{u"Top", -1, u"='Q1 data'!$A$1:$B$1"},
                 {u"Top", 0, u"='Q1 data'!$B$2"},
                 {u"Old", -1, u"=Empty!$A$1"},
                 {u"Sum", -1, u"=SUM('Q1 data'!$A$1:$B$1)"}};
  return {first, ExternalBook{{other}, {}}};
}

TEST(ExternalReferencesTest, ReferencesBecomeTheCachedValues) {
  struct Case {
    const char* formula;
    const char* expected;
  };
  const Case cases[] = {
      {"='[1]Q1 data'!A1+[2]Sheet1!$A$1", "=1.5+7"},
      {"=1-'[1]q1 DATA'!B1", "=1-(-2)"},
      {"=SUM('[1]Q1 data'!A1:B2)", "=SUM({1.5,-2;\"x\",TRUE})"},
      {"='[1]Q1 data'!C3", "=#DIV/0!"},
      {"='[1]Q1 data'!D9", "=0"},  // a cell of a cached sheet the cache lacks is empty
      // What the cache cannot answer.
      {"=[1]Empty!A1", "=#REF!"},
      {"=[3]Sheet1!A1", "=#REF!"},
      {"=[2]Other!A1", "=#REF!"},
      {"=SUM([2]Sheet1:Sheet3!A1)", "=SUM(#REF!)"},
      {"=[2]!Rate*2", "=#REF!*2"},
      {"=[1]!Quote(\"x\")", "=Quote(\"x\")"},  // a function of the other workbook's code
      // Names of the other workbook read the cells they refer to there.
      {"=SUM([1]!Top)", "=SUM({1.5,-2})"},
      {"='[1]Q1 data'!Top", "=TRUE"},  // the sheet's own name
      {"=[1]!Old+[1]!Sum+[1]!Nope", "=#REF!+#REF!+#REF!"},
      // "[0]" is this workbook.
      {"=[0]!Rate*'[0]It''s'!A1+[0]Sheet1!B2", "=Rate*'It''s'!A1+'Sheet1'!B2"},
      // Texts, sheet names of this workbook and table brackets stay as written.
      {"=\"[1]Sheet1!A1\"&'It''s'!A1", "=\"[1]Sheet1!A1\"&'It''s'!A1"},
      {"=Sales[[1]]+Sales[@[2]]", "=Sales[[1]]+Sales[@[2]]"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(toUtf8(resolveExternalReferences(fromUtf8(c.formula), books())), c.expected)
        << c.formula;
  }
}

}  // namespace
}  // namespace korvel
