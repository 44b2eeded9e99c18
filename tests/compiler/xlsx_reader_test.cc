#include "compiler/xlsx_reader.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <utility>
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
    std::string text = cell.isFormula ? "=" + toUtf8(cell.formula) : describe(cell.value);
    if (cell.cached()) text += " -> " + describe(*cell.cached());
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

TEST(XlsxReaderTest, ReferencesToOtherWorkbooksReadTheirCachedValues) {
  Workbook book;
  std::vector<std::string> errors;
  ASSERT_TRUE(readXlsxWorkbook(fixture("external.xlsx"), &book, &errors)) << errors.size();
  EXPECT_TRUE(errors.empty()) << errors.front();
  std::map<std::string, std::string> cells = cellsOf(book.sheets[0]);
  EXPECT_EQ(cells["A1"], "=2.5*2 -> 5");
  EXPECT_EQ(cells["A2"], "=SUM({2.5;4}) -> 6.5");
  EXPECT_EQ(cells["A3"], "=#REF! -> error " + std::to_string(kErrorRef));  // a sheet never read
  EXPECT_EQ(cells["A4"], "=\"say \"\"hi\"\"\"&\"!\" -> \"say \"hi\"!\"");
  EXPECT_EQ(cells["A6"], "=0 -> 0");  // a cell the cached sheet does not hold is empty
  ASSERT_EQ(book.names.size(), 1u);
  EXPECT_EQ(toUtf8(book.names[0].formula), "#REF!");  // the book whose reading failed
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

// A package of the given parts, deflated as the host program writes them.
void writePackage(const std::string& path,
                  const std::vector<std::pair<std::string, std::string>>& parts) {
  int error = 0;
  zip_t* zip = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  ASSERT_NE(zip, nullptr);
  for (const auto& [name, bytes] : parts) {
    zip_source_t* source = zip_source_buffer(zip, bytes.data(), bytes.size(), 0);
    ASSERT_GE(zip_file_add(zip, name.c_str(), source, ZIP_FL_OVERWRITE), 0);
  }
  ASSERT_EQ(zip_close(zip), 0);
}

// A workbook of one sheet per worksheet text given, with the shared strings given.
std::vector<std::pair<std::string, std::string>> bookParts(
    const std::vector<std::string>& sheetData, const std::string& sharedStrings) {
  const std::string ns = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
  const std::string rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
  std::string sheets, rels;
  std::vector<std::pair<std::string, std::string>> parts;
  for (size_t i = 1; i <= sheetData.size(); ++i) {
    std::string n = std::to_string(i);
    sheets += "<sheet name=\"S" + n + "\" sheetId=\"" + n + "\" r:id=\"rId" + n + "\"/>";
    rels += "<Relationship Id=\"rId" + n + "\" Type=\"" + rel +
            "/worksheet\" Target=\"worksheets/sheet" + n + ".xml\"/>";
    parts.emplace_back("xl/worksheets/sheet" + n + ".xml", "<worksheet xmlns=\"" + ns +
                                                               "\"><sheetData>" + sheetData[i - 1] +
                                                               "</sheetData></worksheet>");
  }
  rels +=
      "<Relationship Id=\"rIdS\" Type=\"" + rel + "/sharedStrings\" Target=\"sharedStrings.xml\"/>";
  parts.emplace_back("xl/workbook.xml", "<workbook xmlns=\"" + ns + "\" xmlns:r=\"" + rel +
                                            "\"><sheets>" + sheets + "</sheets></workbook>");
  parts.emplace_back("xl/_rels/workbook.xml.rels",
                     "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/"
                     "relationships\">" +
                         rels + "</Relationships>");
  parts.emplace_back("xl/sharedStrings.xml",
                     "<sst xmlns=\"" + ns + "\">" + sharedStrings + "</sst>");
  return parts;
}

// Rows hidden by hand or by a filter are kept with the sheet, whatever form the flag takes.
TEST(XlsxReaderTest, HiddenRowsAreKept) {
  std::string path = ::testing::TempDir() + "/korvel_hidden_rows.xlsx";
  writePackage(path, bookParts({"<row r=\"1\"><c><v>1</v></c></row>"
                                "<row r=\"2\" hidden=\"1\"><c><v>2</v></c></row>"
                                "<row hidden=\"true\"><c><v>3</v></c></row>"
                                "<row r=\"7\" hidden=\"0\"><c><v>4</v></c></row>"
                                "<row r=\"9\" hidden=\"1\"/>"},
                               ""));
  Workbook book;
  std::vector<std::string> errors;
  ASSERT_TRUE(readXlsxWorkbook(path, &book, &errors)) << errors.front();
  EXPECT_EQ(book.sheets[0].hiddenRows, (std::vector<uint32_t>{1, 2, 8}));
  std::filesystem::remove(path);
}

// Column widths, the default width and the filters that filter by a column (of the sheet here;
// a table's are read the same way) are kept with the sheet; a filter filtering by nothing is
// no filter.
TEST(XlsxReaderTest, ColumnWidthsAndFiltersAreKept) {
  std::string path = ::testing::TempDir() + "/korvel_widths.xlsx";
  auto parts = bookParts({"", ""}, "");
  const std::string ns = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
  parts[0].second = "<worksheet xmlns=\"" + ns +
                    "\"><sheetFormatPr baseColWidth=\"10\"/><cols><col min=\"2\" max=\"4\" "
                    "width=\"12\"/><col min=\"0\" max=\"1\" width=\"5\"/></cols><sheetData>"
                    "<row r=\"3\" hidden=\"1\"/></sheetData><autoFilter ref=\"A2:C9\">"
                    "<filterColumn colId=\"1\"/></autoFilter></worksheet>";
  parts[1].second = "<worksheet xmlns=\"" + ns +
                    "\"><sheetFormatPr defaultColWidth=\"9.5\" baseColWidth=\"10\"/><sheetData/>"
                    "<autoFilter ref=\"A1:C9\"/></worksheet>";
  writePackage(path, parts);
  Workbook book;
  std::vector<std::string> errors;
  ASSERT_TRUE(readXlsxWorkbook(path, &book, &errors)) << errors.front();
  const WorkbookSheet& first = book.sheets[0];
  ASSERT_EQ(first.columnWidths.size(), 1u);  // a column 0 is no column
  EXPECT_EQ(first.columnWidths[0].first, 1u);
  EXPECT_EQ(first.columnWidths[0].last, 3u);
  EXPECT_EQ(first.columnWidths[0].width, 12);
  EXPECT_EQ(first.baseColumnWidth, 10);
  EXPECT_EQ(first.defaultColumnWidth, 0);
  EXPECT_EQ(first.filteredRows, (std::vector<std::pair<uint32_t, uint32_t>>{{2, 8}}));
  EXPECT_EQ(book.sheets[1].defaultColumnWidth, 9.5);
  EXPECT_TRUE(book.sheets[1].filteredRows.empty());
  std::filesystem::remove(path);
}

std::string repeated(const std::string& text, size_t times) {
  std::string out;
  for (size_t i = 0; i < times; ++i) out += text;
  return out;
}

// Small packages past each limit (the limits made small, so that a few kilobytes pass them) are
// refused with one message naming the part, whatever sizes they declare; within the limits the
// same shapes read.
TEST(XlsxReaderTest, PackagesPastALimitAreRefusedNamingThePart) {
  XlsxLimits limits;
  limits.partBytes = 64 << 10;
  limits.packageBytes = 96 << 10;
  limits.sharedStrings = 1000;
  limits.sharedStringUnits = 10000;
  limits.cellsPerSheet = 1000;
  const std::string cell = "<c><v>1</v></c>";
  const std::string row = "<row>" + repeated(cell, 100) + "</row>";
  struct Case {
    const char* what;
    std::vector<std::string> sheets;
    std::string strings;
    std::string message;  // empty: the package reads
  };
  const Case cases[] = {
      {"one huge string",
       {row},
       "<si><t>" + std::string(200 << 10, 'a') + "</t></si>",
       "xl/sharedStrings.xml: the part declares 204893 bytes (the limit is 65536)"},
      {"many small strings",
       {row},
       repeated("<si><t>a</t></si>", 1001),
       "xl/sharedStrings.xml: more shared strings than a package may have (the limit is 1000)"},
      {"long strings",
       {row},
       repeated("<si><t>" + std::string(4000, 'b') + "</t></si>", 3),
       "xl/sharedStrings.xml: the shared strings hold more characters than a package may have "
       "(the limit is 10000)"},
      {"many cells", {repeated(row, 11)}, "", "xl/worksheets/sheet1.xml: more cells than a sheet"},
      {"a huge array formula",
       {"<row><c r=\"A1\"><f t=\"array\" ref=\"A1:XFD1048576\">1</f><v>1</v></c></row>"},
       "",
       "xl/worksheets/sheet1.xml: A1: the array formula covers more cells than a sheet"},
      {"parts that add up",
       {std::string(50 << 10, ' '), std::string(50 << 10, ' ')},
       "",
       "xl/worksheets/sheet2.xml: the parts inflate to more bytes than a package may have"},
      {"just within", {repeated(row, 9)}, repeated("<si><t>a</t></si>", 1000), ""},
  };
  const std::string path = ::testing::TempDir() + "/korvel_limits.xlsx";
  for (const Case& c : cases) {
    writePackage(path, bookParts(c.sheets, c.strings));
    Workbook book;
    std::vector<std::string> errors;
    bool read = readXlsxWorkbook(path, &book, &errors, limits);
    if (c.message.empty()) {
      EXPECT_TRUE(read) << c.what << ": " << (errors.empty() ? "" : errors[0]);
      continue;
    }
    EXPECT_FALSE(read) << c.what;
    ASSERT_EQ(errors.size(), 1u) << c.what;
    EXPECT_EQ(errors[0].rfind(c.message, 0), 0u) << c.what << ": " << errors[0];
  }
  std::filesystem::remove(path);
}

// An entry that declares a gigabyte is refused before anything is inflated or reserved.
TEST(XlsxReaderTest, DeclaredSizesAreNotTrusted) {
  const std::string path = ::testing::TempDir() + "/korvel_declared.xlsx";
  writePackage(path, bookParts({"<row><c><v>1</v></c></row>"}, ""));
  std::string bytes;
  {
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  // Sets the uncompressed size that the central directory declares for the part (or for every
  // part): an entry has the signature PK\1\2, the size at 24, the name's length at 28 and the
  // name at 46.
  auto declare = [&](uint32_t size, const std::string& part) {
    std::string patched = bytes;
    for (size_t at = patched.find("PK\1\2"); at != std::string::npos;
         at = patched.find("PK\1\2", at + 4)) {
      size_t length = uint8_t(patched[at + 28]) | size_t(uint8_t(patched[at + 29])) << 8;
      if (!part.empty() && patched.compare(at + 46, length, part) != 0) continue;
      for (int i = 0; i < 4; ++i) patched[at + 24 + i] = char((size >> (8 * i)) & 0xFF);
    }
    std::ofstream(path, std::ios::binary) << patched;
  };
  declare(0x40000000, "");
  Workbook book;
  std::vector<std::string> errors;
  EXPECT_FALSE(readXlsxWorkbook(path, &book, &errors));
  ASSERT_FALSE(errors.empty());
  EXPECT_NE(errors[0].find("declares 1073741824 bytes"), std::string::npos) << errors[0];

  // Declared smaller than it is, a part is still counted as it inflates, up to the limit.
  writePackage(path, bookParts({""}, "<si><t>" + std::string(200 << 10, 'a') + "</t></si>"));
  {
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
  }
  declare(10, "xl/sharedStrings.xml");
  XlsxLimits limits;
  limits.partBytes = 64 << 10;
  Workbook small;
  errors.clear();
  EXPECT_FALSE(readXlsxWorkbook(path, &small, &errors, limits));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0],
            "xl/sharedStrings.xml: the part inflates to more bytes than a part may have (the limit "
            "is 65536)");
  // Within the limit, a size that differs from the declared one is a damaged part.
  Workbook damaged;
  errors.clear();
  EXPECT_FALSE(readXlsxWorkbook(path, &damaged, &errors));
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0],
            "xl/sharedStrings.xml: cannot read the part: it holds 204893 bytes but "
            "declares 10");
  std::filesystem::remove(path);
}

}  // namespace
}  // namespace korvel
