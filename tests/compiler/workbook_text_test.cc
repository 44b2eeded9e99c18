#include "compiler/workbook_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "util/text.h"

namespace korvel {
namespace {

TEST(WorkbookTextTest, ReadsEveryKindOfLine) {
  const char* text =
      "\xEF\xBB\xBF# loan inputs\r\n"
      "[Sheet1]\r\n"
      "A1: 42\n"
      "  A2:  \"text with -> and \"\"quotes\"\"\"  \n"
      "A3: TRUE\n"
      "A4: #N/A\n"
      "\n"
      "A5: =A1*2\n"
      "A6: =\"a->b\"&'It''s'!A1 -> \"x\"\n"
      "a7: =A1 -> 84\n"
      "[My Sheet]\n"
      "B1:C2: {=TRANSPOSE(Sheet1!A1:B2)}\n"
      "$D$1:D3: { = {1;2;3}*2 } -> {2;4;6}\n"
      "E1: {=SUM(A1)}\n"
      "name Rate: =Sheet1!$A$1\n"
      "name Sheet1!Local: =A1\n"
      "name 'My Sheet'!Other: 0.05\n";
  Workbook book;
  std::vector<std::string> errors;
  ASSERT_TRUE(readWorkbookText(text, &book, &errors)) << (errors.empty() ? "" : errors[0]);
  ASSERT_EQ(book.sheets.size(), 2u);
  EXPECT_EQ(book.sheets[0].name, u"Sheet1");
  EXPECT_EQ(book.sheets[1].name, u"My Sheet");

  const auto& cells = book.sheets[0].cells;
  ASSERT_EQ(cells.size(), 7u);
  EXPECT_EQ(cells[0].value.integer(), 42);
  EXPECT_EQ(cells[0].line, 3);
  EXPECT_EQ(cells[1].value.text(), u"text with -> and \"quotes\"");
  EXPECT_TRUE(cells[2].value.boolean());
  EXPECT_EQ(cells[3].value.errorCode(), kErrorNA);
  EXPECT_TRUE(cells[4].isFormula);
  EXPECT_EQ(cells[4].formula, u"=A1*2");
  EXPECT_EQ(cells[4].cached(), nullptr);
  EXPECT_EQ(cells[5].formula, u"=\"a->b\"&'It''s'!A1");
  ASSERT_NE(cells[5].cached(), nullptr);
  EXPECT_EQ(cells[5].cached()->text(), u"x");
  EXPECT_EQ(cells[6].row, 6u);
  EXPECT_EQ(cells[6].cached()->integer(), 84);

  const auto& arrays = book.sheets[1].arrays;
  ASSERT_EQ(arrays.size(), 3u);
  EXPECT_EQ(arrays[0].formula, u"=TRANSPOSE(Sheet1!A1:B2)");
  EXPECT_EQ(arrays[0].firstColumn, 1u);
  EXPECT_EQ(arrays[0].lastColumn, 2u);
  EXPECT_EQ(arrays[0].lastRow, 1u);
  EXPECT_EQ(arrays[1].formula, u"= {1;2;3}*2");
  ASSERT_TRUE(arrays[1].cached.has_value() && arrays[1].cached->isArray());
  EXPECT_EQ(arrays[1].cached->array().rows(), 3u);
  EXPECT_EQ(arrays[2].firstRow, arrays[2].lastRow);

  ASSERT_EQ(book.names.size(), 3u);
  EXPECT_EQ(book.names[0].name, u"Rate");
  EXPECT_TRUE(book.names[0].scopeSheet.empty());
  EXPECT_EQ(book.names[0].formula, u"=Sheet1!$A$1");
  EXPECT_EQ(book.names[1].scopeSheet, u"Sheet1");
  EXPECT_EQ(book.names[1].name, u"Local");
  EXPECT_EQ(book.names[2].scopeSheet, u"My Sheet");
  EXPECT_EQ(book.names[2].formula, u"0.05");
  EXPECT_EQ(book.names[2].line, 17);
}

TEST(WorkbookTextTest, FaultsNameTheLine) {
  struct Case {
    const char* text;
    const char* error;
  };
  const Case cases[] = {
      {"A1: 1", "line 1: a cell before the first [sheet] line"},
      {"[S]\nA1 1", "line 2: expected ':' after the cell address A1"},
      {"[S]\nhello", "line 2: expected a cell address such as A1"},
      {"[S]\nA1:", "line 2: A1: expected a value after ':'"},
      {"[S]\nA1: abc", "line 2: A1: position 1: expected a number, a text in double quotes"},
      {"[S]\nA1: 1 2", "line 2: A1: position 3: expected the end of the value"},
      {"[S]\nA1: {1,2}", "line 2: A1: position 1: an array constant is only allowed"},
      {"[S]\nA1:B1: {=1} 5", "line 2: A1:B1: expected '-> value'"},
      {"[S]\nA1: =1 -> 2 3", "line 2: A1: cached value: position 3"},
      {"[S]\nA1:B2: 5", "line 2: A1:B2: a range of cells takes an array formula"},
      {"[S]\nA1:B2: {=1", "line 2: A1:B2: expected '}'"},
      {"[S]\nA1:ZZZZ1: {=1}", "line 2: expected a cell address after ':', found 'ZZZZ1'"},
      {"[S]\nXFE1: 1", "line 2: expected a cell address such as A1"},
      {"[S]\nA0: 1", "line 2: expected a cell address such as A1"},
      {"[S", "line 1: expected ']'"},
      {"[]", "line 1: the sheet name is empty"},
      {"[a/b]", "line 1: a sheet name may not contain"},
      {"['x]", "line 1: a sheet name may not begin or end with an apostrophe"},
      {"[123456789012345678901234567890AB]", "line 1: the sheet name is longer than 31"},
      {"[S]\n[s]", "line 2: the sheet 's' is already defined on line 1"},
      {"name Rate =1", "line 1: expected ':' after the name"},
      {"name A1: =1", "line 1: 'A1' is not a valid name"},
      {"name Rate:", "line 1: expected the name's formula"},
      {"name 'S!X: =1", "line 1: the quoted sheet name is not closed"},
      {"name 'S'X: =1", "line 1: expected '!' after the quoted sheet name"},
      {"name !X: =1", "line 1: expected a sheet name before '!'"},
      {"[S]\nA1: \"\xFF\"", "line 2: the line is not valid UTF-8"},
  };
  for (const Case& c : cases) {
    Workbook book;
    std::vector<std::string> errors;
    EXPECT_FALSE(readWorkbookText(c.text, &book, &errors)) << c.text;
    ASSERT_EQ(errors.size(), 1u) << c.text;
    EXPECT_EQ(errors[0].rfind(c.error, 0), 0u) << c.text << "\n  gave: " << errors[0];
  }
}

TEST(WorkbookTextTest, KeepsReadingAfterAFault) {
  Workbook book;
  std::vector<std::string> errors;
  EXPECT_FALSE(readWorkbookText("[S]\nA1: oops\nA2: 2\nB: 3\nA3: 3", &book, &errors));
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_EQ(errors[0].rfind("line 2:", 0), 0u);
  EXPECT_EQ(errors[1].rfind("line 4:", 0), 0u);
  EXPECT_EQ(book.sheets[0].cells.size(), 2u);
}

// Sheets past the most a workbook may have end the reading at the first one too many (the lines
// after it are not read), and duplicate names are still found among many sheets.
TEST(WorkbookTextTest, TooManySheetsAreFoundAtTheFirstOneTooMany) {
  std::string text;
  for (size_t i = 0; i <= kMaxWorkbookSheets + 10; ++i) text += "[S" + std::to_string(i) + "]\n";
  Workbook book;
  std::vector<std::string> errors;
  EXPECT_FALSE(readWorkbookText(text + "[s1]\n", &book, &errors));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0], "line " + std::to_string(kMaxWorkbookSheets + 1) +
                           ": the workbook has more than 65534 sheets");
  errors.clear();
  Workbook again;
  EXPECT_FALSE(readWorkbookText("[S1]\n[S2]\n[s1]\n", &again, &errors));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0], "line 3: the sheet 's1' is already defined on line 1");
}

// A missing file, and a folder, which opens as a stream that has no size: neither is read as an
// empty workbook.
TEST(WorkbookTextTest, MissingFileOrFolderIsAFault) {
  for (const char* path : {"/nonexistent/book.txt", "/"}) {
    Workbook book;
    std::vector<std::string> errors;
    EXPECT_FALSE(readWorkbookTextFile(path, &book, &errors)) << path;
    ASSERT_EQ(errors.size(), 1u) << path;
    EXPECT_NE(errors[0].find("cannot be read"), std::string::npos) << path;
  }
}

}  // namespace
}  // namespace korvel
