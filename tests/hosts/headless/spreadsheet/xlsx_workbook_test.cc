#include "hosts/headless/spreadsheet/xlsx_workbook.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "hosts/headless/spreadsheet/a1_reference.h"
#include "tests/scratch_directory.h"
#include "util/text.h"

namespace korvel {
namespace {

using Parts = std::map<std::string, std::string>;

// A zip made in memory from (name, bytes) pairs.
std::string makeZip(const Parts& parts) {
  zip_error_t error;
  zip_error_init(&error);
  zip_source_t* source = zip_source_buffer_create(nullptr, 0, 0, &error);
  zip_t* zip = zip_open_from_source(source, ZIP_CREATE | ZIP_TRUNCATE, &error);
  zip_source_keep(source);
  for (const auto& [name, bytes] : parts)
    zip_file_add(zip, name.c_str(), zip_source_buffer(zip, bytes.data(), bytes.size(), 0), 0);
  zip_close(zip);
  std::string out;
  zip_source_open(source);
  char buffer[4096];
  zip_int64_t n;
  while ((n = zip_source_read(source, buffer, sizeof buffer)) > 0) out.append(buffer, size_t(n));
  zip_source_close(source);
  zip_source_free(source);
  return out;
}

Parts unzip(const std::string& bytes) {
  zip_error_t error;
  zip_source_t* source = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &error);
  zip_t* zip = zip_open_from_source(source, ZIP_RDONLY, &error);
  Parts parts;
  if (!zip) return parts;
  for (zip_int64_t i = 0; i < zip_get_num_entries(zip, 0); ++i) {
    zip_stat_t stat;
    zip_stat_index(zip, zip_uint64_t(i), 0, &stat);
    zip_file_t* file = zip_fopen_index(zip, zip_uint64_t(i), 0);
    std::string data(size_t(stat.size), '\0');
    zip_fread(file, data.data(), stat.size);
    zip_fclose(file);
    parts[stat.name] = data;
  }
  zip_discard(zip);
  return parts;
}

constexpr char kNs[] =
    "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
    "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"";
constexpr char kRelType[] = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";

std::string rels(const std::vector<std::vector<std::string>>& list) {
  std::string out =
      "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
  for (const auto& r : list)
    out += "<Relationship Id=\"" + r[0] + "\" Type=\"" + kRelType + r[1] + "\" Target=\"" + r[2] +
           "\"" + (r.size() > 3 ? " TargetMode=\"External\"" : "") + "/>";
  return out + "</Relationships>";
}

// A package with what a saved workbook usually carries besides its cells: styles, a chart sheet,
// a calculation chain and a macro project.
Parts samplePackage() {
  Parts p;
  p["[Content_Types].xml"] =
      "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
      "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
      "<Override PartName=\"/xl/workbook.xml\" "
      "ContentType=\"application/vnd.ms-excel.sheet.macroEnabled.main+xml\"/>"
      "<Override PartName=\"/xl/calcChain.xml\" ContentType=\"application/"
      "vnd.openxmlformats-officedocument.spreadsheetml.calcChain+xml\"/></Types>";
  p["_rels/.rels"] = rels({{"rId1", "officeDocument", "xl/workbook.xml"}});
  p["xl/workbook.xml"] = std::string("<?xml version=\"1.0\"?>\n<workbook ") + kNs +
                         "><workbookPr date1904=\"1\"/><workbookProtection lockStructure=\"1\"/>"
                         "<sheets><sheet name=\"Data\" sheetId=\"1\" r:id=\"rId1\"/>"
                         "<sheet name=\"Chart\" sheetId=\"2\" r:id=\"rId2\"/>"
                         "<sheet name=\"Notes\" sheetId=\"3\" state=\"hidden\" r:id=\"rId3\"/>"
                         "</sheets></workbook>";
  p["xl/_rels/workbook.xml.rels"] = rels({{"rId1", "worksheet", "worksheets/sheet1.xml"},
                                          {"rId2", "chartsheet", "chartsheets/sheet1.xml"},
                                          {"rId3", "worksheet", "/xl/worksheets/sheet2.xml"},
                                          {"rId4", "sharedStrings", "sharedStrings.xml"},
                                          {"rId5", "styles", "styles.xml"},
                                          {"rId6", "calcChain", "calcChain.xml"},
                                          {"rId7", "theme", "theme/theme1.xml"}});
  p["xl/sharedStrings.xml"] = std::string("<sst ") + kNs +
                              "><si><t>alpha</t></si><si><r><t>be</t></r><r><t>ta</t></r>"
                              "<rPh><t>x</t></rPh></si></sst>";
  p["xl/styles.xml"] = std::string("<styleSheet ") + kNs +
                       "><fonts><font/><font><b/><color theme=\"4\"/></font></fonts><fills><fill/>"
                       "<fill><patternFill patternType=\"solid\"><fgColor theme=\"5\"/>"
                       "</patternFill></fill></fills><cellXfs count=\"3\"><xf/>"
                       "<xf applyAlignment=\"1\"><alignment wrapText=\"1\"/></xf>"
                       "<xf fontId=\"1\" fillId=\"1\"/></cellXfs></styleSheet>";
  p["xl/theme/theme1.xml"] =
      "<a:theme xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\">"
      "<a:themeElements><a:clrScheme name=\"x\"><a:dk1><a:srgbClr val=\"000000\"/></a:dk1>"
      "<a:lt1><a:srgbClr val=\"FFFFFF\"/></a:lt1><a:dk2><a:srgbClr val=\"111111\"/></a:dk2>"
      "<a:lt2><a:srgbClr val=\"EEEEEE\"/></a:lt2><a:accent1><a:srgbClr val=\"4472C4\"/>"
      "</a:accent1><a:accent2><a:srgbClr val=\"ED7D31\"/></a:accent2></a:clrScheme>"
      "</a:themeElements></a:theme>";
  p["xl/worksheets/sheet1.xml"] =
      std::string("<worksheet ") + kNs +
      "><sheetPr codeName=\"DataCode\"/><dimension ref=\"A1:D4\"/><sheetData>"
      "<row r=\"1\" spans=\"1:4\"><c r=\"A1\"><v>1.5</v></c><c r=\"B1\" t=\"s\"><v>1</v></c>"
      "<c r=\"C1\" t=\"inlineStr\"><is><t>in_x000D_line</t></is></c>"
      "<c r=\"D1\" t=\"b\"><v>1</v></c></row>"
      "<row r=\"2\"><c r=\"A2\" t=\"e\"><v>#N/A</v></c><c r=\"B2\" s=\"1\" t=\"s\"><v>0</v></c>"
      "<c r=\"C2\" t=\"str\"><f>B2&amp;\"!\"</f><v>alpha!</v></c></row>"
      "<row r=\"3\"><c r=\"A3\"><f t=\"shared\" ref=\"A3:B4\" si=\"0\">A1+$A$1+SUM(A1:A2)+"
      "'My Sheet'!A1+LOG10(A1)&amp;\"A1\"</f><v>7</v></c>"
      "<c r=\"B3\"><f t=\"shared\" si=\"0\"/><v>8</v></c></row>"
      "<row r=\"4\" ht=\"30\" customHeight=\"1\"><c r=\"A4\"><f t=\"shared\" si=\"0\"/><v>9</v>"
      "</c></row><row r=\"5\"><c r=\"A5\" s=\"2\"/></row>"
      "<row r=\"6\" ht=\"20\" customHeight=\"1\"/>"
      "</sheetData><sheetProtection sheet=\"1\" objects=\"1\" selectLockedCells=\"1\"/>"
      "<mergeCells><mergeCell ref=\"A5:B6\"/><mergeCell ref=\"B6:C7\"/><mergeCell ref=\"D5\"/>"
      "<mergeCell ref=\"nowhere\"/></mergeCells>"
      "<hyperlinks><hyperlink ref=\"A1\" r:id=\"rId1\" tooltip=\"tip\"/>"
      "<hyperlink ref=\"B1:B2\" location=\"Notes!A1\" display=\"go\"/></hyperlinks></worksheet>";
  p["xl/worksheets/_rels/sheet1.xml.rels"] =
      rels({{"rId1", "hyperlink", "https://example.com/a", "External"}});
  p["xl/worksheets/sheet2.xml"] = std::string("<worksheet ") + kNs +
                                  "><sheetData><row><c><v>42</v></c></row></sheetData></worksheet>";
  p["xl/chartsheets/sheet1.xml"] = std::string("<chartsheet ") + kNs + "/>";
  p["xl/calcChain.xml"] = std::string("<calcChain ") + kNs + "><c r=\"C2\" i=\"1\"/></calcChain>";
  p["xl/vbaProject.bin"] = std::string("\xD0\xCF\x11\xE0\0\x01\x02", 7);
  return p;
}

const CellData& cellAt(const WorkbookData& w, size_t sheet, uint32_t row, uint32_t column) {
  static const CellData kNone;
  auto it = w.sheets[sheet].cells.find(CellKey(row, column));
  return it == w.sheets[sheet].cells.end() ? kNone : it->second;
}

class XlsxWorkbookTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = makeScratchDirectory("korvel-xlsx"); }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string path(const char* name) { return (dir_ / name).string(); }
  void put(const std::string& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary) << bytes;
  }
  std::string get(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  std::filesystem::path dir_;
};

TEST_F(XlsxWorkbookTest, ReadsSheetsValuesFormulasAndSettings) {
  put(path("book.xlsm"), makeZip(samplePackage()));
  WorkbookData w;
  std::string error;
  ASSERT_TRUE(readXlsxWorkbook(path("book.xlsm"), &w, &error)) << error;
  EXPECT_EQ(w.fullName, fromUtf8(path("book.xlsm")));
  EXPECT_TRUE(w.date1904);
  EXPECT_TRUE(w.protectStructure);
  EXPECT_FALSE(w.protectWindows);
  EXPECT_EQ(w.fileFormat, 52);
  ASSERT_EQ(w.sheets.size(), 3u);
  EXPECT_EQ(w.sheets[0].name, u"Data");
  EXPECT_EQ(w.sheets[0].codeName, u"DataCode");
  EXPECT_EQ(w.sheets[1].type, -4109);
  EXPECT_EQ(w.sheets[2].type, -4167);
  EXPECT_TRUE(w.sheets[2].hidden);
  EXPECT_EQ(cellAt(w, 2, 0, 0).value, Variant::r8(42));

  struct Case {
    uint32_t row, column;
    Variant value;
    std::u16string formula;
  };
  const Case cases[] = {
      {0, 0, Variant::r8(1.5), u""},
      {0, 1, Variant::text(u"beta"), u""},
      {0, 2, Variant::text(u"in\rline"), u""},
      {0, 3, Variant::boolean(true), u""},
      {1, 0, Variant::error(0x800A07FA), u""},
      {1, 1, Variant::text(u"alpha"), u""},
      {1, 2, Variant::text(u"alpha!"), u"=B2&\"!\""},
      {2, 0, Variant::r8(7), u"=A1+$A$1+SUM(A1:A2)+'My Sheet'!A1+LOG10(A1)&\"A1\""},
      {2, 1, Variant::r8(8), u"=B1+$A$1+SUM(B1:B2)+'My Sheet'!B1+LOG10(B1)&\"A1\""},
      {3, 0, Variant::r8(9), u"=A2+$A$1+SUM(A2:A3)+'My Sheet'!A2+LOG10(A2)&\"A1\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "row " << c.row << " column " << c.column);
    EXPECT_EQ(cellAt(w, 0, c.row, c.column).value, c.value);
    EXPECT_EQ(cellAt(w, 0, c.row, c.column).formula, c.formula);
  }
  EXPECT_TRUE(cellAt(w, 0, 1, 1).wrapText);
  EXPECT_FALSE(cellAt(w, 0, 0, 1).wrapText);
  // An empty cell keeps its look: a bold font and a fill in the theme's accents.
  const CellData& styled = cellAt(w, 0, 4, 0);
  ASSERT_TRUE(styled.style);
  EXPECT_TRUE(styled.style->bold);
  EXPECT_EQ(styled.fontColor, 0xC47244u);
  EXPECT_EQ(styled.interiorColor, 0x317DEDu);
  EXPECT_FALSE(cellAt(w, 0, 0, 0).style);
  // Merges of one cell, overlapping an earlier one or of no area show unmerged.
  ASSERT_EQ(w.sheets[0].merges.size(), 1u);
  EXPECT_EQ(formatA1(w.sheets[0].merges[0], false, false), u"A5:B6");

  const SheetProtectionData& protection = w.sheets[0].protection;
  EXPECT_TRUE(protection.contents);
  EXPECT_TRUE(protection.drawingObjects);
  EXPECT_FALSE(protection.scenarios);
  EXPECT_EQ(protection.enableSelection, 1);
  ASSERT_EQ(cellAt(w, 0, 0, 0).hyperlinks.size(), 1u);
  EXPECT_EQ(cellAt(w, 0, 0, 0).hyperlinks[0].address, u"https://example.com/a");
  EXPECT_EQ(cellAt(w, 0, 0, 0).hyperlinks[0].screenTip, u"tip");
  ASSERT_EQ(cellAt(w, 0, 0, 1).hyperlinks.size(), 1u);
  EXPECT_EQ(cellAt(w, 0, 0, 1).hyperlinks[0].subAddress, u"Notes!A1");
  EXPECT_EQ(cellAt(w, 0, 0, 1).hyperlinks[0].textToDisplay, u"go");
}

TEST_F(XlsxWorkbookTest, SavingChangesOnlyTheCellsAndKeepsEveryOtherPart) {
  Parts original = samplePackage();
  put(path("book.xlsm"), makeZip(original));
  WorkbookData w;
  std::string error;
  ASSERT_TRUE(readXlsxWorkbook(path("book.xlsm"), &w, &error)) << error;
  w.sheets[0].cells[CellKey(0, 0)].value = Variant::r8(2.25);           // a constant changes
  w.sheets[0].cells[CellKey(2, 1)].value = Variant::text(u"now text");  // a formula's value
  w.sheets[0].cells[CellKey(4, 2)].value = Variant::boolean(false);     // a new cell, new row
  w.sheets[0].cells[CellKey(5, 1)].value = Variant::r8(-3);             // into an empty row
  w.sheets[0].cells.erase(CellKey(0, 3));                               // cleared
  ASSERT_TRUE(writeXlsxWorkbook(w, path("book.xlsm"), path("saved.xlsm"), &error)) << error;

  WorkbookData back;
  ASSERT_TRUE(readXlsxWorkbook(path("saved.xlsm"), &back, &error)) << error;
  EXPECT_EQ(cellAt(back, 0, 0, 0).value, Variant::r8(2.25));
  EXPECT_EQ(cellAt(back, 0, 2, 1).value, Variant::text(u"now text"));
  EXPECT_EQ(cellAt(back, 0, 2, 1).formula, cellAt(w, 0, 2, 1).formula);
  EXPECT_EQ(cellAt(back, 0, 4, 2).value, Variant::boolean(false));
  EXPECT_EQ(cellAt(back, 0, 5, 1).value, Variant::r8(-3));
  EXPECT_TRUE(cellAt(back, 0, 0, 3).value.isEmpty());
  EXPECT_EQ(back.sheets[0].cells.size(), w.sheets[0].cells.size());
  for (const auto& [key, cell] : w.sheets[0].cells) {
    EXPECT_EQ(cellAt(back, 0, key.first, key.second).value, cell.value);
    EXPECT_EQ(cellAt(back, 0, key.first, key.second).formula, cell.formula);
  }

  Parts saved = unzip(get(path("saved.xlsm")));
  ASSERT_EQ(saved.size(), original.size());  // the calculation chain stays: no formula changed
  for (const auto& [name, bytes] : original) {
    if (name != "xl/worksheets/sheet1.xml") {
      EXPECT_EQ(saved[name], bytes) << name;
    }
  }
  const std::string& sheet = saved["xl/worksheets/sheet1.xml"];
  EXPECT_NE(sheet.find("<row r=\"6\" ht=\"20\" customHeight=\"1\"><c r=\"B6\">"),
            std::string::npos);
  EXPECT_NE(sheet.find("<dimension ref=\"A1:C6\"/>"), std::string::npos);
  EXPECT_NE(sheet.find("<c r=\"A3\"><f t=\"shared\" ref=\"A3:B4\" si=\"0\">"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(path("saved.xlsm") + ".tmp"));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), {}), 2);
}

TEST_F(XlsxWorkbookTest, ChangedFormulasKeepTheSharedGroupAndDropTheCalculationChain) {
  std::string original = makeZip(samplePackage());
  WorkbookData w;
  std::string error;
  ASSERT_TRUE(readXlsxWorkbookBytes(original, &w, &error)) << error;
  // The first cell of the shared group gets another formula; its other cells keep theirs.
  w.sheets[0].cells[CellKey(2, 0)].formula = u"=D1*2";
  std::string saved;
  ASSERT_TRUE(writeXlsxWorkbookBytes(w, original, &saved, &error)) << error;
  WorkbookData back;
  ASSERT_TRUE(readXlsxWorkbookBytes(saved, &back, &error)) << error;
  EXPECT_EQ(cellAt(back, 0, 2, 0).formula, u"=D1*2");
  EXPECT_EQ(cellAt(back, 0, 2, 1).formula, cellAt(w, 0, 2, 1).formula);
  EXPECT_EQ(cellAt(back, 0, 3, 0).formula, cellAt(w, 0, 3, 0).formula);

  Parts parts = unzip(saved);
  EXPECT_EQ(parts.count("xl/calcChain.xml"), 0u);
  EXPECT_EQ(parts["xl/_rels/workbook.xml.rels"].find("calcChain"), std::string::npos);
  EXPECT_EQ(parts["[Content_Types].xml"].find("calcChain"), std::string::npos);
  EXPECT_EQ(parts["xl/vbaProject.bin"], samplePackage()["xl/vbaProject.bin"]);
}

TEST_F(XlsxWorkbookTest, AWorkbookWithoutAPackageGetsAMinimalOne) {
  WorkbookData w;
  w.date1904 = true;
  SheetData first;
  first.name = u"R&D <1>";
  first.codeName = u"Sheet1";
  first.cells[CellKey(0, 0)].value = Variant::text(u" tab\tcr\r_x0041_ ");
  first.cells[CellKey(0, 1)].value = Variant::i4(-7);
  first.cells[CellKey(1, 0)].value = Variant::error(0x800A07D0);  // #NULL!
  first.cells[CellKey(1, 1)].value = Variant::error(0x800A07F4);  // #NUM!
  first.cells[CellKey(2, 2)].formula = u"=A1&\"x\"";
  first.cells[CellKey(2, 2)].value = Variant::text(u" tab\tcr\r_x0041_ x");
  first.cells[CellKey(3, 0)].value = Variant::r8(0.1 + 0.2);
  SheetData second;
  second.name = u"Hidden";
  second.hidden = true;
  w.sheets = {first, second};
  std::string bytes, error;
  ASSERT_TRUE(writeXlsxWorkbookBytes(w, "", &bytes, &error)) << error;
  WorkbookData back;
  ASSERT_TRUE(readXlsxWorkbookBytes(bytes, &back, &error)) << error;
  EXPECT_TRUE(back.date1904);
  ASSERT_EQ(back.sheets.size(), 2u);
  EXPECT_EQ(back.sheets[0].name, first.name);
  EXPECT_EQ(back.sheets[0].codeName, u"Sheet1");
  EXPECT_TRUE(back.sheets[1].hidden);
  ASSERT_EQ(back.sheets[0].cells.size(), first.cells.size());
  for (const auto& [key, cell] : first.cells) {
    Variant expected = cell.value.type() == VarType::kI4 ? Variant::r8(-7) : cell.value;
    EXPECT_EQ(cellAt(back, 0, key.first, key.second).value, expected);
    EXPECT_EQ(cellAt(back, 0, key.first, key.second).formula, cell.formula);
  }
}

// The theme only colours cells: a package whose theme is broken or gone opens, its cells keeping
// their fonts and fills without the theme's colours.
TEST_F(XlsxWorkbookTest, ABrokenThemeLeavesOutOnlyItsColours) {
  Parts broken = samplePackage();
  broken["xl/theme/theme1.xml"] = "<a:theme><a:themeElements>";
  Parts missing = samplePackage();
  missing.erase("xl/theme/theme1.xml");
  for (const Parts* parts : {&broken, &missing}) {
    SCOPED_TRACE(parts == &broken ? "broken" : "missing");
    WorkbookData w;
    std::string error;
    ASSERT_TRUE(readXlsxWorkbookBytes(makeZip(*parts), &w, &error)) << error;
    const CellData& styled = cellAt(w, 0, 4, 0);
    ASSERT_TRUE(styled.style);
    EXPECT_TRUE(styled.style->bold);
    EXPECT_FALSE(styled.fontColor.has_value());
  }
}

TEST_F(XlsxWorkbookTest, FaultsAreReportedAndAFailedSaveLeavesTheTargetAlone) {
  struct Case {
    const char* what;
    std::string bytes;
    const char* message;
  };
  Parts missingSheet = samplePackage();
  missingSheet.erase("xl/worksheets/sheet2.xml");
  Parts badXml = samplePackage();
  badXml["xl/workbook.xml"] = "<workbook><sheets>";
  Parts badString = samplePackage();
  badString["xl/sharedStrings.xml"] = "<sst/>";
  Parts badRows = samplePackage();
  badRows["xl/worksheets/sheet2.xml"] =
      "<worksheet><sheetData><row r=\"2\"/><row r=\"1\"/></sheetData></worksheet>";
  // Every entry of the central directory (PK\1\2, the size at 24) declares a gigabyte.
  std::string declaresAGigabyte = makeZip(samplePackage());
  for (size_t at = declaresAGigabyte.find("PK\1\2"); at != std::string::npos;
       at = declaresAGigabyte.find("PK\1\2", at + 4)) {
    declaresAGigabyte.replace(at + 24, 4, std::string("\0\0\0\x40", 4));
  }
  const Case cases[] = {
      {"not a zip", "plain text", "not a workbook package"},
      {"declared sizes", declaresAGigabyte, "the part declares 1073741824 bytes"},
      {"empty", "", "not a workbook package"},
      {"missing part", makeZip(missingSheet), "xl/worksheets/sheet2.xml: the part is missing"},
      {"malformed", makeZip(badXml), "xl/workbook.xml: malformed XML"},
      {"shared string", makeZip(badString), "xl/worksheets/sheet1.xml: B1: shared string '1'"},
      {"rows out of order", makeZip(badRows), "row '1' is not a row number in order"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WorkbookData w;
    w.sheets.resize(1);
    std::string error;
    EXPECT_FALSE(readXlsxWorkbookBytes(c.bytes, &w, &error));
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
    EXPECT_TRUE(w.sheets.empty());
  }

  std::string original = makeZip(samplePackage());
  put(path("book.xlsm"), original);
  put(path("target.xlsm"), "old bytes");
  WorkbookData w;
  std::string error;
  ASSERT_TRUE(readXlsxWorkbook(path("book.xlsm"), &w, &error)) << error;
  WorkbookData unstorable = w;
  unstorable.sheets[0].cells[CellKey(9, 9)].value = Variant::array(VariantArray::oneDimension(2));
  WorkbookData fewerSheets = w;
  fewerSheets.sheets.pop_back();
  for (const WorkbookData* bad : {&unstorable, &fewerSheets}) {
    EXPECT_FALSE(writeXlsxWorkbook(*bad, path("book.xlsm"), path("target.xlsm"), &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(get(path("target.xlsm")), "old bytes");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), {}), 2);
  }
  EXPECT_FALSE(writeXlsxWorkbook(w, path("book.xlsm"), path("no/such/dir/x.xlsm"), &error));
  EXPECT_NE(error.find("cannot create a temporary file"), std::string::npos) << error;
}

}  // namespace
}  // namespace korvel
