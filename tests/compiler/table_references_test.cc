#include "compiler/table_references.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "util/text.h"

namespace korvel {
namespace {

// Sales on sheet "My Data" at B2:D7: headers in row 2, data in rows 3-6, totals in row 7.
// Plain on Sheet1 at F1:F3, without headers or totals. Marks on Sheet1 at H1:I4, whose column
// names begin with the characters a reference escapes.
std::vector<WorkbookTable> tables() {
  WorkbookTable sales{u"Sales", u"My Data", 1, 1, 6, 3, 1, 1, {u"Region", u"Qty", u"Unit [€]"}};
  WorkbookTable plain{u"Plain", u"Sheet1", 0, 5, 2, 5, 0, 0, {u"Only"}};
  WorkbookTable marks{u"Marks", u"Sheet1", 0, 7, 3, 8, 1, 0, {u"#Shame", u"@It's"}};
  return {sales, plain, marks};
}

TEST(TableReferencesTest, StructuredReferencesBecomeRanges) {
  struct Case {
    const char* formula;
    const char* expected;
    uint32_t row = 3;  // of the formula's cell, on "My Data" column C (inside Sales)
  };
  const Case cases[] = {
      {"=SUM(Sales[Qty])", "=SUM('My Data'!$C$3:$C$6)"},
      {"=SUM(sales[qty])", "=SUM('My Data'!$C$3:$C$6)"},
      {"=Sales[[#Totals],[Qty]]", "='My Data'!$C$7"},
      {"=Sales[[#This Row],[Qty]]*2", "='My Data'!$C$4*2"},
      {"=Sales[@Qty]+[@[Unit '[€']]]", "='My Data'!$C$4+'My Data'!$D$4"},
      {"=[Qty]", "='My Data'!$C$3:$C$6"},
      {"=ROWS(Sales[#Data])", "=ROWS('My Data'!$B$3:$D$6)"},
      {"=ROWS(Sales[#All])", "=ROWS('My Data'!$B$2:$D$7)"},
      {"=Sales[#Headers]", "='My Data'!$B$2:$D$2"},
      {"=Sales[[#Headers],[#Data],[Region]:[Qty]]", "='My Data'!$B$2:$C$6"},
      {"=SUM(Sales)", "=SUM('My Data'!$B$3:$D$6)"},
      {"=Sales[]", "='My Data'!$B$3:$D$6"},
      {"=Plain[#Headers]", "=#REF!"},
      {"=Plain[#Totals]", "=#REF!"},
      {"=SUM(Plain[Only])", "=SUM('Sheet1'!$F$1:$F$3)"},
      {"=Sales[@Qty]", "=#VALUE!", 9},  // below the table
      // An escaped "#" or "@" begins a column's name, not a part of the table.
      {"=SUBTOTAL(109,Marks['#Shame])", "=SUBTOTAL(109,'Sheet1'!$H$2:$H$4)"},
      {"=Marks[[#Headers],['#Shame]:['@It''s]]", "='Sheet1'!$H$1:$I$1"},
      {"=SUM(Marks['@It''s])", "=SUM('Sheet1'!$I$2:$I$4)"},
      // Texts, quoted sheet names, functions and sheets named like a table stay as written.
      {"=\"Sales[Qty]\"&'Sales'!A1&Sales!B2", "=\"Sales[Qty]\"&'Sales'!A1&Sales!B2"},
      {"=[1]Other!A1", "=[1]Other!A1", 20},
      {"=[1]Other!A1", "=[1]Other!A1"},
  };
  for (const Case& c : cases) {
    std::u16string out;
    std::string error;
    ASSERT_TRUE(
        resolveTableReferences(fromUtf8(c.formula), tables(), u"My Data", c.row, 2, &out, &error))
        << c.formula << ": " << error;
    EXPECT_EQ(toUtf8(out), c.expected) << c.formula;
  }
}

TEST(TableReferencesTest, FaultsNameTheirCause) {
  const char* bad[] = {"=Sales[Price]", "=Sales[[#Data],[Qty]", "=Sales[#Rows]"};
  for (const char* formula : bad) {
    std::u16string out;
    std::string error;
    EXPECT_FALSE(
        resolveTableReferences(fromUtf8(formula), tables(), u"My Data", 3, 2, &out, &error))
        << formula;
    EXPECT_FALSE(error.empty()) << formula;
  }
}

}  // namespace
}  // namespace korvel
