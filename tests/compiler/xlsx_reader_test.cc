#include "compiler/xlsx_reader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "compiler/model_builder.h"
#include "util/text.h"

namespace korvel {
namespace {

std::string fixture(const char* name) {
  return std::string(KORVEL_SOURCE_DIR) + "/tests/fixtures/xlsx/" + name;
}

std::string describe(const Value& v) {
  switch (v.kind()) {
    case ValueKind::kEmpty:
      return "empty";
    case ValueKind::kBoolean:
      return v.boolean() ? "TRUE" : "FALSE";
    case ValueKind::kError:
      return "error " + std::to_string(v.errorCode());
    case ValueKind::kArray: {
      std::string out = "{";
      const ValueArray& a = v.array();
      for (uint32_t r = 0; r < a.rows(); ++r)
        for (uint32_t c = 0; c < a.columns(); ++c)
          out += (c ? "," : r ? ";" : "") + describe(a.at(c, r));
      return out + "}";
    }
    default:
      if (v.isText()) return "\"" + toUtf8(v.text()) + "\"";
      std::ostringstream s;
      s << v.number();
      return s.str();
  }
}

std::string address(uint32_t row, uint32_t column) {
  std::string letters;
  for (uint32_t c = column + 1; c > 0; c = (c - 1) / 26)
    letters.insert(letters.begin(), char('A' + (c - 1) % 26));
  return letters + std::to_string(row + 1);
}

// "B2" -> "=A2*2 -> 6" or "3".
std::map<std::string, std::string> cellsOf(const WorkbookSheet& sheet) {
  std::map<std::string, std::string> out;
  for (const WorkbookCell& cell : sheet.cells) {
    std::string text = cell.isFormula ? "=" + toUtf8(cell.formula) : describe(cell.constant);
    if (cell.isFormula && cell.cached) text += " -> " + describe(*cell.cached);
    out[address(cell.row, cell.column)] = text;
  }
  return out;
}

TEST(XlsxReaderTest, ReadsCellsFormulasNamesAndStrings) {
  Workbook book;
  std::vector<std::string> errors;
  ASSERT_TRUE(readXlsxWorkbook(fixture("check.xlsx"), &book, &errors));
  EXPECT_TRUE(errors.empty()) << errors.front();
  ASSERT_EQ(book.sheets.size(), 1u);
  EXPECT_EQ(book.sheets[0].name, u"Input");
  std::map<std::string, std::string> expected = {
      {"A1", "2"},
      {"A2", "3"},
      {"A3", "4"},
      {"B1", "=A1*2 -> 4"},
      {"B2", "=A2*2 -> 6"},
      {"B3", "=A3*2 -> 8"},
      {"C1", "=A1+B1 -> 6"},
      {"E1", "\"Hello\""},
      {"E2", "\"inline & text\""},
      {"E3", "TRUE"},
      {"E4", "error " + std::to_string(kErrorDiv0)},
      {"I4", "\"a\rb_x0041_\""},
      {"F2", "=A$1+$A2 -> 5"},
      {"G2", "=B$1+$A2 -> 7"},
      {"F4", "=E1&\"!\" -> \"Hello!\""},
      {"H1", "=Rate*A3 -> 8"},
      {"A5", "\"x y\""},
      {"B5", "1500"},
      {"B6", "=\"A1\"&A1 -> \"A12\""},
      {"B7", "=\"A1\"&A2 -> \"A13\""},
  };
  EXPECT_EQ(cellsOf(book.sheets[0]), expected);

  ASSERT_EQ(book.sheets[0].arrays.size(), 1u);
  const ArrayFormula& array = book.sheets[0].arrays[0];
  EXPECT_EQ(
      address(array.firstRow, array.firstColumn) + ":" + address(array.lastRow, array.lastColumn),
      "D1:D2");
  EXPECT_EQ(array.formula, u"A1:A2*10");
  ASSERT_TRUE(array.cached);
  EXPECT_EQ(describe(*array.cached), "{20;30}");

  // The filter range name is left out with a notice; the others keep their scope.
  ASSERT_EQ(book.names.size(), 2u);
  EXPECT_EQ(book.names[0].name, u"Local");
  EXPECT_EQ(book.names[0].scopeSheet, u"Input");
  EXPECT_EQ(book.names[1].name, u"Rate");
  EXPECT_EQ(book.names[1].scopeSheet, u"");
  EXPECT_EQ(book.names[1].formula, u"Input!$A$1");
  ASSERT_EQ(book.notices.size(), 1u);
  EXPECT_NE(book.notices[0].find("_xlnm._FilterDatabase"), std::string::npos);
  EXPECT_FALSE(book.date1904);
  EXPECT_FALSE(book.calculation.iterate);

  CompiledModel model;
  std::vector<std::string> buildErrors;
  EXPECT_TRUE(buildModel(book, nullptr, model, &buildErrors))
      << (buildErrors.empty() ? "" : buildErrors.front());
}

TEST(XlsxReaderTest, ReadsDateSystemAndCalculationSettings) {
  Workbook book;
  ASSERT_TRUE(readXlsxWorkbook(fixture("date1904.xlsx"), &book, nullptr));
  EXPECT_TRUE(book.date1904);
  EXPECT_TRUE(book.calculation.iterate);
  EXPECT_EQ(book.calculation.count, 50);
  EXPECT_DOUBLE_EQ(book.calculation.delta, 0.0001);
}

// Formulas and names read a table's parts as ranges; the package's saved time is kept.
TEST(XlsxReaderTest, TablesBecomeRangesAndTheSavedTimeIsRead) {
  Workbook book;
  std::vector<std::string> errors;
  ASSERT_TRUE(readXlsxWorkbook(fixture("tables.xlsx"), &book, &errors)) << errors.size();
  EXPECT_TRUE(errors.empty());
  std::map<std::string, std::string> cells = cellsOf(book.sheets[0]);
  EXPECT_EQ(cells["C2"], "='Stock'!$B$2*10 -> 20");
  EXPECT_EQ(cells["C3"], "=SUM('Stock'!$B$2:$B$3) -> 5");
  EXPECT_EQ(cells["B4"], "=SUBTOTAL(109,'Stock'!$B$2:$B$3) -> 5");
  EXPECT_EQ(cells["C4"], "='Stock'!$B$4+ROWS('Stock'!$A$1:$B$4) -> 9");
  ASSERT_EQ(book.names.size(), 1u);
  EXPECT_EQ(toUtf8(book.names[0].formula), "'Stock'!$B$2:$B$3");
  ASSERT_TRUE(book.savedAt.has_value());
  EXPECT_EQ(book.savedAt->year, 2026);
  EXPECT_EQ(book.savedAt->month, 7);
  EXPECT_EQ(book.savedAt->day, 23);
  EXPECT_EQ(book.savedAt->hour, 10);
  EXPECT_EQ(book.savedAt->second, 23);

  Workbook unsaved;
  ASSERT_TRUE(readXlsxWorkbook(fixture("date1904.xlsx"), &unsaved, nullptr));
  EXPECT_FALSE(unsaved.savedAt.has_value());
}

TEST(XlsxReaderTest, CellFaultsAreReportedAndTheRestIsRead) {
  Workbook book;
  std::vector<std::string> errors;
  ASSERT_TRUE(readXlsxWorkbook(fixture("faults.xlsx"), &book, &errors));
  ASSERT_EQ(errors.size(), 3u);
  EXPECT_EQ(errors[0].rfind("xl/worksheets/sheet1.xml: C2: position ", 0), 0u) << errors[0];
  EXPECT_EQ(errors[1],
            "xl/worksheets/sheet1.xml: D2: shared string '7' is not in the shared strings table");
  EXPECT_EQ(errors[2], "xl/worksheets/sheet1.xml: E2: shared formula '4' is not defined before");
  ASSERT_EQ(book.notices.size(), 2u);
  EXPECT_EQ(book.notices[0],
            "xl/worksheets/sheet1.xml: B1: data tables are not supported yet; the cells keep "
            "their last values");
  EXPECT_EQ(book.notices[1],
            "xl/worksheets/sheet1.xml: G2: an empty formula is read as its last value");

  // The data table and the rejected formulas keep their last values; good formulas stay.
  std::map<std::string, std::string> expected = {{"A1", "1"},   {"B1", "5"}, {"B2", "6"},
                                                 {"C2", "9"},   {"E2", "3"}, {"F2", "=A1*3 -> 3"},
                                                 {"G2", "TRUE"}};
  EXPECT_EQ(cellsOf(book.sheets[0]), expected);
  // A sheet written with a namespace prefix reads the same.
  ASSERT_EQ(book.sheets.size(), 2u);
  EXPECT_EQ(cellsOf(book.sheets[1]),
            (std::map<std::string, std::string>{{"B3", "=Faults!A1+1 -> 2"}}));
}

TEST(XlsxReaderTest, UnreadablePackagesFailNamingThePart) {
  std::string notZip = ::testing::TempDir() + "/korvel_not_a_package.xlsx";
  std::ofstream(notZip) << "just text\n";
  struct Case {
    std::string path;
    std::string message;
  };
  const Case cases[] = {
      {notZip, notZip + ": not a workbook package (not a zip archive): "},
      {fixture("no-such-file.xlsx"), fixture("no-such-file.xlsx") + ": cannot open"},
      {fixture("missing-sheet.xlsx"),
       "xl/worksheets/sheet2.xml: the part is missing from the package"},
      {fixture("malformed.xlsx"), "xl/worksheets/sheet1.xml: malformed XML at byte "},
  };
  for (const Case& c : cases) {
    Workbook book;
    std::vector<std::string> errors;
    EXPECT_FALSE(readXlsxWorkbook(c.path, &book, &errors)) << c.path;
    ASSERT_EQ(errors.size(), 1u) << c.path;
    EXPECT_EQ(errors[0].rfind(c.message, 0), 0u) << errors[0];
  }
  std::filesystem::remove(notZip);
}

}  // namespace
}  // namespace korvel
