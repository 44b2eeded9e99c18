#include "model/sheet.h"

#include <gtest/gtest.h>

namespace korvel {
namespace {

TEST(SheetTable, KeysByIndexAndFindsExcelNamesWithoutCase) {
  SheetTable table;
  table.add(Sheet(2, u"Inputs", u"Eingaben"));
  Sheet& last = table.add(Sheet(0, u"O'Neil", u"Straße"));
  last.eventFlag = true;
  EXPECT_EQ(last.quotedName(), u"'O''Neil'");
  EXPECT_EQ(table.size(), 2u);
  ASSERT_NE(table.find(2), nullptr);
  EXPECT_EQ(table.find(2)->name(), u"Inputs");
  EXPECT_EQ(table.find(1), nullptr);

  EXPECT_EQ(table.findByExcelName(u"EINGABEN"), table.find(2));
  EXPECT_EQ(table.findByExcelName(u"STRAßE"), table.find(0));
  EXPECT_EQ(table.findByExcelName(u"Inputs"), nullptr);

  // Adding under a used index replaces the record; renaming keeps the quoted form in step.
  table.add(Sheet(2, u"Results", u"Ergebnisse"));
  EXPECT_EQ(table.size(), 2u);
  EXPECT_EQ(table.findByExcelName(u"eingaben"), nullptr);
  table.find(2)->setName(u"Q1 'final'");
  EXPECT_EQ(table.find(2)->quotedName(), u"'Q1 ''final'''");
  EXPECT_TRUE(table.remove(2));
  EXPECT_FALSE(table.remove(2));
}

}  // namespace
}  // namespace korvel
