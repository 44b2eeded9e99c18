#include "model/address.h"

#include <gtest/gtest.h>

#include <string>

namespace korvel {
namespace {

// Restores the full limits after each test, since they are process-wide.
class Address : public ::testing::Test {
 protected:
  void TearDown() override { setLoweredLimits(false); }
};

TEST_F(Address, ColumnLettersRoundTrip) {
  struct Case {
    std::u16string letters;
    uint32_t column;
  } cases[] = {{u"A", 0},    {u"Z", 25},   {u"AA", 26},   {u"AZ", 51},     {u"BA", 52},
               {u"IV", 255}, {u"ZZ", 701}, {u"AAA", 702}, {u"XFD", 16383}, {u"ZZZ", 18277}};
  for (const Case& c : cases) {
    EXPECT_EQ(columnLetters(c.column), c.letters) << c.column;
    EXPECT_EQ(columnFromLetters(c.letters), int32_t(c.column));
  }
  EXPECT_EQ(columnFromLetters(u"xfd"), 16383);
  for (std::u16string bad : {u"", u"ABCD", u"A1", u"Ä", u"$A"}) {
    EXPECT_EQ(columnFromLetters(bad), -1);
  }
}

TEST_F(Address, ParseCellReadsLettersAndRow) {
  struct Case {
    std::u16string text;
    CellRef expected;
  } cases[] = {
      {u"A1", CellRef::at(3, 0, 0)},
      {u"b7", CellRef::at(3, 6, 1)},
      {u"xfd1048576", CellRef::at(3, 1048575, 16383)},
      {u"$C$3", CellRef::at(3, 2, 2)},
      {u"C$3", CellRef::at(3, 2, 2)},
      {u"A007", CellRef::at(3, 6, 0)},
      // Rows past the limit are clamped, however many digits they have.
      {u"A1048577", CellRef::at(3, 1048575, 0)},
      {u"A99999999999999999999999999", CellRef::at(3, 1048575, 0)},
      // More than three letters: row 0, column 0 of sheet 0, as the host program reads them.
      {u"ABCD1", CellRef::at(0, 0, 0)},
      // Texts that do not split into letters and digits, row 0, and columns past XFD's reach.
      {u"", CellRef::none()},
      {u"A", CellRef::none()},
      {u"12", CellRef::none()},
      {u"A1B", CellRef::none()},
      {u"A 1", CellRef::none()},
      {u"$$A1", CellRef::none()},
      {u"A-1", CellRef::none()},
      {u"A0", CellRef::none()},
      {u"A000", CellRef::none()},
      {u"ZZZ1", CellRef::none()},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(parseCell(c.text, 3), c.expected) << std::string(c.text.begin(), c.text.end());
  }
}

TEST_F(Address, LoweredLimitsClampRowsAndWholeRanges) {
  setLoweredLimits(true);
  EXPECT_TRUE(limitsLowered());
  EXPECT_EQ(maxRow(), 65535u);
  EXPECT_EQ(maxColumn(), 255u);
  EXPECT_EQ(parseCell(u"xfd1048576", 0), CellRef::at(0, 65535, 16383));

  CellRef first, last;
  EXPECT_EQ(parseRange(u"B:B", 1, first, last), 2);
  EXPECT_EQ(first, CellRef::at(1, 0, 1));
  EXPECT_EQ(last, CellRef::at(1, 65535, 1));
  EXPECT_EQ(parseRange(u"2:4", 1, first, last), 1);
  EXPECT_EQ(first, CellRef::at(1, 1, 0));
  EXPECT_EQ(last, CellRef::at(1, 3, 255));

  setLoweredLimits(false);
  EXPECT_EQ(maxRow(), 1048575u);
  EXPECT_EQ(maxColumn(), 16383u);
  EXPECT_EQ(parseRange(u"B:B", 1, first, last), 2);
  EXPECT_EQ(last, CellRef::at(1, 1048575, 1));
}

TEST_F(Address, ParseRangeKinds) {
  struct Case {
    std::u16string text;
    int kind;
    CellRef first, last;
  } cases[] = {
      {u"C5", 0, CellRef::at(2, 4, 2), CellRef::at(2, 4, 2)},
      {u"A1:C3", 0, CellRef::at(2, 0, 0), CellRef::at(2, 2, 2)},
      {u"$A$1:$D$10", 0, CellRef::at(2, 0, 0), CellRef::at(2, 9, 3)},
      {u"C3:A1", 0, CellRef::at(2, 2, 2), CellRef::at(2, 0, 0)},  // not normalised
      {u"A:C", 2, CellRef::at(2, 0, 0), CellRef::at(2, 1048575, 2)},
      {u"$a:$c", 2, CellRef::at(2, 0, 0), CellRef::at(2, 1048575, 2)},
      {u"1:3", 1, CellRef::at(2, 0, 0), CellRef::at(2, 2, 16383)},
      {u"$1:$3", 1, CellRef::at(2, 0, 0), CellRef::at(2, 2, 16383)},
      {u"A:3", 0, CellRef::none(), CellRef::none()},
      {u"A1:", 0, CellRef::at(2, 0, 0), CellRef::none()},
      {u"A1:B2:C3", 0, CellRef::at(2, 0, 0), CellRef::none()},
  };
  for (const Case& c : cases) {
    CellRef first, last;
    EXPECT_EQ(parseRange(c.text, 2, first, last), c.kind);
    EXPECT_EQ(first, c.first) << std::string(c.text.begin(), c.text.end());
    EXPECT_EQ(last, c.last) << std::string(c.text.begin(), c.text.end());
  }
}

TEST_F(Address, NormalizeRangeOrdersCornersAndFillsMissingLast) {
  CellRef b7 = CellRef::at(1, 6, 1);
  CellRef d2 = CellRef::at(1, 1, 3);
  RangeRef r = normalizeRange({b7, d2});
  EXPECT_EQ(r.first, CellRef::at(1, 1, 1));
  EXPECT_EQ(r.last, CellRef::at(1, 6, 3));

  r = normalizeRange({b7, CellRef::none()});
  EXPECT_EQ(r.first, b7);
  EXPECT_EQ(r.last, b7);

  // A missing first corner is not ordered into a half-sentinel range that would look valid.
  CellRef edge = CellRef::at(1, 4, 16383);
  r = normalizeRange({CellRef::none(), edge});
  EXPECT_EQ(r.first, CellRef::none());
  EXPECT_EQ(r.last, edge);
  EXPECT_FALSE(isValidRange(r));

  // Bits outside the address stay with their own corner: each corner keeps its sheet.
  r = normalizeRange({CellRef::at(2, 5, 5), CellRef::at(3, 1, 1)});
  EXPECT_EQ(r.first, CellRef::at(2, 1, 1));
  EXPECT_EQ(r.last, CellRef::at(3, 5, 5));
}

TEST_F(Address, TextsForPrinting) {
  EXPECT_EQ(quoteSheetName(u"O'Neil"), u"'O''Neil'");
  EXPECT_EQ(quoteSheetName(u"Sheet 1"), u"'Sheet 1'");
  EXPECT_EQ(quoteSheetName(u"''"), u"''''''");
  EXPECT_EQ(cellText(CellRef::at(0, 1048575, 16383)), u"XFD1048576");
  EXPECT_EQ(cellText(CellRef::at(0, 6, 1), true, true), u"$B$7");
  EXPECT_EQ(cellText(CellRef::at(0, 6, 1), false, true), u"B$7");
  EXPECT_EQ(cellText(CellRef::none()), u"");
  EXPECT_EQ(rangeText({CellRef::at(0, 0, 0), CellRef::at(0, 2, 2)}), u"A1:C3");
  EXPECT_EQ(rangeText({CellRef::at(0, 0, 0), CellRef::at(0, 0, 0)}, true), u"$A$1");
  EXPECT_EQ(rangeText({CellRef::at(0, 0, 0), CellRef::none()}), u"");
  // Printing and parsing agree.
  for (uint32_t column : {0u, 25u, 26u, 701u, 702u, 16383u}) {
    CellRef cell = CellRef::at(4, 99, column);
    EXPECT_EQ(parseCell(cellText(cell, true, true), 4), cell);
  }
}

}  // namespace
}  // namespace korvel
