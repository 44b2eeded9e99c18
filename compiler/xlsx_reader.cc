// The package is opened with libzip and each part parsed in place with pugixml. Elements are
// matched by their local name, so that packages written with a namespace prefix ("x:c") read the
// same. Relationship targets are resolved against the folder of the part that names them.

#include "compiler/xlsx_reader.h"

#include <zip.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <pugixml.hpp>
#include <utility>

#include "compiler/external_references.h"
#include "compiler/formula_parser.h"
#include "compiler/formula_shift.h"
#include "compiler/table_references.h"
#include "engine/value_convert.h"
#include "hosts/headless/spreadsheet/cell_formats.h"
#include "hosts/headless/spreadsheet/zip_part.h"
#include "model/address.h"
#include "util/package_parts.h"
#include "util/text.h"

namespace korvel {
namespace {

// The worksheet rows or shared strings parsed at a time; the parsed tree takes several times this.
constexpr size_t kSliceBytes = size_t(1) << 22;
// In-place parsing, entities and line ends normalised, texts kept inside their elements, and a
// text of spaces only kept when it is the only content of its element (<t xml:space="preserve">
// with one space) but not between elements.
constexpr unsigned kParseOptions =
    pugi::parse_escapes | pugi::parse_eol | pugi::parse_embed_pcdata | pugi::parse_ws_pcdata_single;

std::string_view localName(const char* name) {
  const char* colon = std::strrchr(name, ':');
  return colon ? std::string_view(colon + 1) : std::string_view(name);
}

bool is(pugi::xml_node node, std::string_view name) { return localName(node.name()) == name; }

pugi::xml_node child(pugi::xml_node node, std::string_view name) {
  for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling())
    if (is(c, name)) return c;
  return {};
}

// An attribute by local name: "r:id" is found as "id".
pugi::xml_attribute attribute(pugi::xml_node node, std::string_view name) {
  for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute())
    if (localName(a.name()) == name) return a;
  return {};
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Texts in cells spell the units XML cannot hold (carriage returns, other control characters)
// as "_xHHHH_"; "_x005F_" is an underscore that would otherwise begin such a spelling.
std::u16string unescapeText(std::string_view utf8) {
  std::u16string text = fromUtf8(utf8);
  if (text.find(u"_x") == std::u16string::npos) return text;
  std::u16string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'_' && i + 6 < text.size() && text[i + 1] == u'x' && text[i + 6] == u'_') {
      int value = 0;
      bool hex = true;
      for (size_t k = 2; k < 6 && hex; ++k) {
        int digit = text[i + k] < 0x80 ? hexDigit(char(text[i + k])) : -1;
        hex = digit >= 0;
        value = value * 16 + digit;
      }
      if (hex) {
        out += char16_t(value);
        i += 6;
        continue;
      }
    }
    out += text[i];
  }
  return out;
}

// The text of an element: its own text, or the texts of its rich-text runs (<r><t>) joined;
// phonetic runs (<rPh>) are not part of the text.
std::u16string elementText(pugi::xml_node node) {
  if (pugi::xml_node t = child(node, "t")) return unescapeText(t.text().get());
  std::string text;
  for (pugi::xml_node run = node.first_child(); run; run = run.next_sibling())
    if (is(run, "r")) text += child(run, "t").text().get();
  return unescapeText(text);
}

bool parseNumber(std::string_view text, double* out) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '+')) text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  if (text.empty()) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *out);
  return ec == std::errc() && end == text.data() + text.size();
}

bool parseInteger(std::string_view text, int64_t* out) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *out);
  return !text.empty() && ec == std::errc() && end == text.data() + text.size();
}

bool isTrue(std::string_view text) { return text == "1" || text == "true"; }

std::string cellName(uint32_t row, uint32_t column) {
  std::string letters;
  for (uint32_t c = column + 1; c > 0; c = (c - 1) / 26)
    letters.insert(letters.begin(), char('A' + (c - 1) % 26));
  return letters + std::to_string(row + 1);
}

struct Relationship {
  std::string type;  // the last piece of the type URI: "worksheet", "sharedStrings", ...
  std::string part;  // the resolved part name
};

// An array formula being read: the members that follow the anchor fill its cached result.
struct OpenArray {
  size_t index;  // in WorkbookSheet::arrays
  uint32_t firstRow, firstColumn, lastRow, lastColumn;
};

struct SharedFormula {
  uint32_t row = 0;
  uint32_t column = 0;
  std::u16string formula;
};

class XlsxReader {
 public:
  XlsxReader(Workbook& workbook, std::vector<std::string>* errors, const XlsxLimits& limits)
      : workbook_(workbook), errors_(errors), limits_(limits) {}
  ~XlsxReader() {
    if (zip_) zip_discard(zip_);
  }

  bool read(const std::string& path) {
    int code = 0;
    zip_ = zip_open(path.c_str(), ZIP_RDONLY, &code);
    if (!zip_) {
      zip_error_t error;
      zip_error_init_with_code(&error, code);
      std::string reason = zip_error_strerror(&error);
      zip_error_fini(&error);
      const char* what = code == ZIP_ER_NOZIP || code == ZIP_ER_INCONS
                             ? "not a workbook package (not a zip archive): "
                             : "cannot open the workbook package: ";
      return fault(path + ": " + what + reason);
    }
    std::string workbookPart = findWorkbookPart();
    if (overLimit_) return false;
    std::map<std::string, Relationship> relationships;
    if (!readRelationships(workbookPart, &relationships)) return false;
    for (const auto& [id, relationship] : relationships)
      if ((relationship.type == "sharedStrings" && !readSharedStrings(relationship.part)) ||
          (relationship.type == "styles" && !readStyles(relationship.part)))
        return false;
    readSavedTime();
    return readWorkbookPart(workbookPart, relationships) && !overLimit_;
  }

 private:
  bool fault(std::string message) {
    if (errors_) errors_->push_back(std::move(message));
    return false;
  }
  void cellFault(const std::string& part, uint32_t row, uint32_t column, const std::string& what) {
    fault(part + ": " + cellName(row, column) + ": " + what);
  }
  // A limit of XlsxLimits is passed: the package is refused, whatever else it holds.
  bool limitFault(const std::string& part, const std::string& what, uint64_t limit) {
    overLimit_ = true;
    return fault(part + ": " + what + " (the limit is " + std::to_string(limit) + ")");
  }

  // The part's bytes, or false with a message naming it. A missing part is only reported when
  // required.
  bool readPart(const std::string& name, std::string* out, bool required) {
    return readPart(name, out, required, limits_.partBytes);
  }
  bool readPart(const std::string& name, std::string* out, bool required, uint64_t partLimit) {
    out->clear();
    zip_int64_t index = zip_name_locate(zip_, name.c_str(), 0);
    if (index < 0) index = zip_name_locate(zip_, name.c_str(), ZIP_FL_NOCASE);
    if (index < 0) return required ? fault(name + ": the part is missing from the package") : false;
    std::string reason;
    switch (readZipPart(zip_, zip_uint64_t(index), partLimit, limits_.packageBytes, &inflated_, out,
                        &reason)) {
      case ZipPartRead::kRead:
        return true;
      case ZipPartRead::kOverLimit:
        overLimit_ = true;
        return fault(name + ": " + reason);
      case ZipPartRead::kFailed:
        return fault(name + ": " + reason);
    }
    return false;
  }

  bool parsePart(const std::string& name, std::string& bytes, pugi::xml_document& document) {
    pugi::xml_parse_result result = document.load_buffer_inplace(
        bytes.data(), bytes.size(), kParseOptions, pugi::encoding_auto);
    if (!result)
      return fault(name + ": malformed XML at byte " + std::to_string(result.offset) + ": " +
                   result.description());
    return true;
  }

  std::string findWorkbookPart() {
    std::string bytes;
    pugi::xml_document document;
    if (readPart("_rels/.rels", &bytes, false) &&
        document.load_buffer_inplace(bytes.data(), bytes.size(), kParseOptions)) {
      for (pugi::xml_node r = document.document_element().first_child(); r; r = r.next_sibling()) {
        std::string_view type = r.attribute("Type").value();
        if (type.size() >= 14 && type.substr(type.size() - 14) == "officeDocument")
          return resolvePartName("", r.attribute("Target").value());
      }
    }
    return "xl/workbook.xml";
  }

  // The relationships of a part by id; a missing relationships part is no relationships.
  bool readRelationships(const std::string& part, std::map<std::string, Relationship>* out) {
    std::string name = relsOf(part), bytes;
    if (!readPart(name, &bytes, false)) return !overLimit_;
    pugi::xml_document document;
    if (!parsePart(name, bytes, document)) return false;
    std::string folder = folderOf(part);
    for (pugi::xml_node r = document.document_element().first_child(); r; r = r.next_sibling()) {
      if (!is(r, "Relationship") ||
          std::string_view(r.attribute("TargetMode").value()) == "External")
        continue;
      std::string_view type = r.attribute("Type").value();
      size_t slash = type.rfind('/');
      (*out)[r.attribute("Id").value()] =
          Relationship{std::string(slash == std::string_view::npos ? type : type.substr(slash + 1)),
                       resolvePartName(folder, r.attribute("Target").value())};
    }
    return true;
  }

  // The number format of each cell format, as an index into the workbook's codes (kGeneral for
  // General). The part is parsed whole, so it has a limit of its own well below a worksheet's.
  bool readStyles(const std::string& name) {
    std::string bytes;
    if (!readPart(name, &bytes, false, limits_.stylesBytes)) return !overLimit_;
    pugi::xml_document document;
    if (!parsePart(name, bytes, document)) return false;
    std::map<std::u16string, uint32_t> known;
    for (std::u16string& code : cellFormatCodes(document.document_element())) {
      if (code.empty()) {
        styleFormats_.push_back(kGeneral);
        continue;
      }
      auto [at, added] = known.try_emplace(code, uint32_t(workbook_.numberFormats.size()));
      if (added) workbook_.numberFormats.push_back(std::move(code));
      styleFormats_.push_back(at->second);
    }
    return true;
  }

  bool readSharedStrings(const std::string& name) {
    std::string bytes;
    if (!readPart(name, &bytes, true)) return false;
    size_t units = 0;
    auto add = [&](pugi::xml_node node) {
      for (pugi::xml_node si = node.first_child(); si; si = si.next_sibling()) {
        if (!is(si, "si")) continue;
        if (sharedStrings_.size() >= limits_.sharedStrings)
          return limitFault(name, "more shared strings than a package may have",
                            limits_.sharedStrings);
        std::u16string text = elementText(si);
        units += text.size();
        if (units > limits_.sharedStringUnits)
          return limitFault(name, "the shared strings hold more characters than a package may have",
                            limits_.sharedStringUnits);
        sharedStrings_.push_back(std::move(text));
      }
      return true;
    };
    return parseInSlices(name, bytes, "sst", "si", add);
  }

  bool readWorkbookPart(const std::string& name,
                        const std::map<std::string, Relationship>& relationships) {
    std::string bytes;
    if (!readPart(name, &bytes, true)) return false;
    pugi::xml_document document;
    if (!parsePart(name, bytes, document)) return false;
    pugi::xml_node root = document.document_element();
    if (pugi::xml_node properties = child(root, "workbookPr"))
      workbook_.date1904 = isTrue(attribute(properties, "date1904").value());
    if (pugi::xml_node calc = child(root, "calcPr")) readCalculation(name, calc);

    bool ok = true;
    std::vector<std::pair<std::string, std::string>> sheetParts;  // (part, type) by sheet index
    for (pugi::xml_node sheet = child(child(root, "sheets"), "sheet"); sheet;
         sheet = sheet.next_sibling()) {
      if (!is(sheet, "sheet")) continue;
      WorkbookSheet added;
      added.name = fromUtf8(attribute(sheet, "name").value());
      workbook_.sheets.push_back(std::move(added));
      std::string id = attribute(sheet, "id").value();
      auto it = relationships.find(id);
      if (it == relationships.end()) {
        ok = fault(name + ": sheet '" + attribute(sheet, "name").value() + "': no relationship '" +
                   id + "' names its part");
        sheetParts.emplace_back("", "");
      } else {
        sheetParts.emplace_back(it->second.part, it->second.type);
      }
    }
    if (workbook_.sheets.empty()) ok = fault(name + ": the workbook has no sheets");
    for (size_t i = 0; i < sheetParts.size() && ok; ++i) {
      if (sheetParts[i].second == "worksheet") ok = readTables(sheetParts[i].first, i);
    }
    if (ok) ok = readExternalBooks(root, relationships);
    readNames(name, root);
    for (size_t i = 0; i < sheetParts.size() && ok; ++i) {
      const auto& [part, type] = sheetParts[i];
      if (part.empty()) continue;
      if (type != "worksheet") {
        workbook_.notices.push_back(part + ": the " + type + " '" +
                                    toUtf8(workbook_.sheets[i].name) +
                                    "' is read as an empty sheet");
        continue;
      }
      ok = readWorksheet(part, workbook_.sheets[i]);
    }
    return ok;
  }

  // dcterms:modified of the package's core properties ("2026-07-23T10:34:23Z"); a package
  // without them, or with a time that does not read, has no saved time.
  void readSavedTime() {
    std::string bytes;
    pugi::xml_document document;
    if (!readPart("docProps/core.xml", &bytes, false) ||
        !document.load_buffer_inplace(bytes.data(), bytes.size(), kParseOptions)) {
      return;
    }
    std::string_view text = child(document.document_element(), "modified").text().get();
    LocalTime time;
    int64_t fields[6] = {};
    const size_t starts[6] = {0, 5, 8, 11, 14, 17};
    const size_t lengths[6] = {4, 2, 2, 2, 2, 2};
    if (text.size() < 19 || text[4] != '-' || text[7] != '-' || text[10] != 'T') return;
    for (size_t i = 0; i < 6; ++i) {
      if (!parseInteger(text.substr(starts[i], lengths[i]), &fields[i])) return;
    }
    time.year = int(fields[0]);
    time.month = int(fields[1]);
    time.day = int(fields[2]);
    time.hour = int(fields[3]);
    time.minute = int(fields[4]);
    time.second = int(fields[5]);
    if (time.year < 1900 || time.month < 1 || time.month > 12 || time.day < 1 || time.day > 31 ||
        time.hour > 23 || time.minute > 59 || time.second > 60) {
      return;
    }
    workbook_.savedAt = time;
  }

  // The tables of a worksheet (xl/tables/*.xml, reached through the sheet's relationships), so
  // that formulas naming them read the ranges they stand for.
  bool readTables(const std::string& sheetPart, size_t sheet) {
    std::map<std::string, Relationship> relationships;
    if (!readRelationships(sheetPart, &relationships)) return false;
    for (const auto& [id, relationship] : relationships) {
      if (relationship.type != "table") continue;
      std::string bytes;
      if (!readPart(relationship.part, &bytes, true)) return false;
      pugi::xml_document document;
      if (!parsePart(relationship.part, bytes, document)) return false;
      pugi::xml_node root = document.document_element();
      WorkbookTable table;
      table.sheet = workbook_.sheets[sheet].name;
      table.name = fromUtf8(attribute(root, "displayName").value());
      if (table.name.empty()) table.name = fromUtf8(attribute(root, "name").value());
      std::u16string ref = fromUtf8(attribute(root, "ref").value());
      const size_t colon = ref.find(u':');
      SyntaxCell first, last;
      if (colon == std::u16string::npos || !parseCellAddress(ref.substr(0, colon), &first) ||
          !parseCellAddress(ref.substr(colon + 1), &last) || last.row < first.row ||
          last.column < first.column) {
        return fault(relationship.part + ": the table's ref '" + toUtf8(ref) +
                     "' is not a range of cells");
      }
      table.firstRow = first.row;
      table.firstColumn = first.column;
      table.lastRow = last.row;
      table.lastColumn = last.column;
      readFilter(workbook_.sheets[sheet], child(root, "autoFilter"));
      int64_t count = 0;
      if (pugi::xml_attribute header = attribute(root, "headerRowCount"))
        table.headerRows = parseInteger(header.value(), &count) && count == 0 ? 0 : 1;
      if (pugi::xml_attribute totals = attribute(root, "totalsRowCount"))
        table.totalsRows = parseInteger(totals.value(), &count) && count > 0 ? 1 : 0;
      for (pugi::xml_node column = child(child(root, "tableColumns"), "tableColumn"); column;
           column = column.next_sibling()) {
        if (is(column, "tableColumn"))
          table.columns.push_back(unescapeText(attribute(column, "name").value()));
      }
      if (table.lastRow - table.firstRow + 1 < table.headerRows + table.totalsRows ||
          table.columns.size() != table.lastColumn - table.firstColumn + 1) {
        return fault(relationship.part + ": the table " + toUtf8(table.name) +
                     " does not fit its ref '" + toUtf8(ref) + "'");
      }
      tables_.push_back(std::move(table));
    }
    return true;
  }

  // The other workbooks the formulas read, in the order "[1]", "[2]"... number them, with the
  // values the package cached for their cells. A book whose part is missing has no values.
  bool readExternalBooks(pugi::xml_node root,
                         const std::map<std::string, Relationship>& relationships) {
    for (pugi::xml_node reference = child(child(root, "externalReferences"), "externalReference");
         reference; reference = reference.next_sibling()) {
      if (!is(reference, "externalReference")) continue;
      ExternalBook& book = externalBooks_.emplace_back();
      auto it = relationships.find(attribute(reference, "id").value());
      if (it == relationships.end()) continue;
      const std::string& part = it->second.part;
      std::string bytes;
      if (!readPart(part, &bytes, false)) {
        if (overLimit_) return false;
        continue;
      }
      pugi::xml_document document;
      if (!parsePart(part, bytes, document)) return false;
      pugi::xml_node external = child(document.document_element(), "externalBook");
      for (pugi::xml_node sheetName = child(child(external, "sheetNames"), "sheetName"); sheetName;
           sheetName = sheetName.next_sibling()) {
        if (is(sheetName, "sheetName"))
          book.sheets.push_back(ExternalSheet{fromUtf8(attribute(sheetName, "val").value())});
      }
      for (pugi::xml_node name = child(child(external, "definedNames"), "definedName"); name;
           name = name.next_sibling()) {
        if (!is(name, "definedName")) continue;
        int64_t sheet = -1;
        if (pugi::xml_attribute id = attribute(name, "sheetId");
            id && (!parseInteger(id.value(), &sheet) || sheet < 0)) {
          continue;
        }
        book.names.push_back(ExternalName{fromUtf8(attribute(name, "name").value()), int(sheet),
                                          fromUtf8(attribute(name, "refersTo").value())});
      }
      for (pugi::xml_node data = child(child(external, "sheetDataSet"), "sheetData"); data;
           data = data.next_sibling()) {
        int64_t index = -1;
        if (!is(data, "sheetData") || !parseInteger(attribute(data, "sheetId").value(), &index) ||
            index < 0 || index >= int64_t(book.sheets.size()) ||
            isTrue(attribute(data, "refreshError").value())) {
          continue;
        }
        ExternalSheet& sheet = book.sheets[size_t(index)];
        for (pugi::xml_node row = child(data, "row"); row; row = row.next_sibling()) {
          for (pugi::xml_node cell = child(row, "cell"); cell; cell = cell.next_sibling()) {
            SyntaxCell address;
            if (!is(cell, "cell") ||
                !parseCellAddress(fromUtf8(attribute(cell, "r").value()), &address)) {
              continue;
            }
            std::optional<Value> value = cellValue(part, address.row, address.column, cell);
            sheet.cached = true;
            if (value) sheet.cells[{address.row, address.column}] = std::move(*value);
          }
        }
      }
    }
    return true;
  }

  // The formula with its references to other workbooks written as their cached values ("[0]",
  // this workbook, needs no other workbook).
  void resolveExternal(std::u16string& formula) {
    if (formula.find(u'[') != std::u16string::npos)
      formula = resolveExternalReferences(formula, externalBooks_);
  }

  // The formula with its structured references written as ranges; false with a cell fault.
  bool resolveTables(const std::string& part, const std::u16string& sheet, uint32_t row,
                     uint32_t column, std::u16string& formula) {
    if (tables_.empty()) return true;
    std::u16string resolved;
    std::string error;
    if (!resolveTableReferences(formula, tables_, sheet, row, column, &resolved, &error)) {
      cellFault(part, row, column, error);
      return false;
    }
    formula = std::move(resolved);
    return true;
  }

  void readCalculation(const std::string& name, pugi::xml_node calc) {
    auto& settings = workbook_.calculation;
    settings.iterate = isTrue(attribute(calc, "iterate").value());
    if (pugi::xml_attribute count = attribute(calc, "iterateCount")) {
      int64_t n = 0;
      if (parseInteger(count.value(), &n) && n >= 1 && n <= 32767)
        settings.count = int(n);
      else
        fault(name + ": calcPr: iterateCount '" + count.value() + "' is not a count of 1 to 32767");
    }
    if (pugi::xml_attribute delta = attribute(calc, "iterateDelta")) {
      double d = 0;
      if (parseNumber(delta.value(), &d) && d >= 0)
        settings.delta = d;
      else
        fault(name + ": calcPr: iterateDelta '" + delta.value() + "' is not a number of 0 or more");
    }
  }

  void readNames(const std::string& part, pugi::xml_node root) {
    for (pugi::xml_node n = child(child(root, "definedNames"), "definedName"); n;
         n = n.next_sibling()) {
      if (!is(n, "definedName")) continue;
      std::string nameText = attribute(n, "name").value();
      std::string upper = toUtf8(toUpper(fromUtf8(nameText)));
      if (upper.rfind("_XLNM.", 0) == 0 || upper.rfind("_XLFN.", 0) == 0 ||
          upper.rfind("_XLPM.", 0) == 0) {
        workbook_.notices.push_back(part + ": name " + nameText + ": not read (host-program name)");
        continue;
      }
      WorkbookName name;
      name.name = fromUtf8(nameText);
      name.formula = fromUtf8(n.text().get());
      if (pugi::xml_attribute scope = attribute(n, "localSheetId")) {
        int64_t index = -1;
        if (!parseInteger(scope.value(), &index) || index < 0 ||
            index >= int64_t(workbook_.sheets.size())) {
          fault(part + ": name " + nameText + ": localSheetId '" + scope.value() +
                "' is not a sheet of the workbook");
          continue;
        }
        name.scopeSheet = workbook_.sheets[size_t(index)].name;
      }
      resolveExternal(name.formula);
      std::u16string resolved;
      std::string tableError;
      if (!resolveTableReferences(name.formula, tables_, name.scopeSheet, 0, 0, &resolved,
                                  &tableError)) {
        fault(part + ": name " + nameText + ": " + tableError);
        continue;
      }
      name.formula = std::move(resolved);
      ParseError error;
      if (!parseFormula(name.formula, &error)) {
        fault(part + ": name " + nameText + ": " + error.message);
        continue;
      }
      workbook_.names.push_back(std::move(name));
    }
  }

  // The cached value of a cell from its type and <v> (or <is>); nullopt when it shows none.
  std::optional<Value> cellValue(const std::string& part, uint32_t row, uint32_t column,
                                 pugi::xml_node cell) {
    std::string_view type = attribute(cell, "t").value();
    if (type == "inlineStr") {
      if (pugi::xml_node is = child(cell, "is")) return Value::text(elementText(is));
    }
    pugi::xml_node v = child(cell, "v");
    if (!v) return std::nullopt;
    std::string_view text = v.text().get();
    if (text.empty() && type != "str") return std::nullopt;  // <v/>: no value shown
    if (type.empty() || type == "n") {
      double number = 0;
      if (parseNumber(text, &number)) return Value::number(number);
      cellFault(part, row, column, "'" + std::string(text) + "' is not a number");
    } else if (type == "s") {
      int64_t index = -1;
      if (parseInteger(text, &index) && index >= 0 && index < int64_t(sharedStrings_.size()))
        return Value::text(sharedStrings_[size_t(index)]);
      cellFault(part, row, column,
                "shared string '" + std::string(text) + "' is not in the shared strings table");
    } else if (type == "str" || type == "inlineStr") {
      return Value::text(unescapeText(text));
    } else if (type == "b") {
      if (text == "1" || text == "0") return Value::boolean(text == "1");
      cellFault(part, row, column, "'" + std::string(text) + "' is not a boolean (0 or 1)");
    } else if (type == "e") {
      std::u16string units = fromUtf8(text);
      uint32_t code = errorCodeOfLiteral(units);
      if (!code) code = errorFromText(units);
      if (code) return Value::error(code);
      cellFault(part, row, column, "'" + std::string(text) + "' is not an error value");
    } else if (type == "d") {
      workbook_.notices.push_back(part + ": " + cellName(row, column) +
                                  ": a date cell is read as its text '" + std::string(text) + "'");
      return Value::text(fromUtf8(text));
    } else {
      cellFault(part, row, column, "unknown cell type '" + std::string(type) + "'");
    }
    return std::nullopt;
  }

  // The rows of a worksheet are parsed a slice at a time, so that the parsed tree of a large
  // sheet never needs more than a slice's worth of memory: the part is split after a row's end
  // tag (a "<" never appears unescaped inside texts). What surrounds the rows is parsed on its
  // own, to check that the part is well-formed as a whole.
  bool readWorksheet(const std::string& part, WorkbookSheet& sheet) {
    std::string bytes;
    if (!readPart(part, &bytes, true)) return false;
    shared_.clear();
    open_.clear();
    row_ = -1;
    arrayMembers_ = 0;
    return parseInSlices(
        part, bytes, "sheetData", "row",
        [&](pugi::xml_node node) {
          readRows(part, sheet, node);
          return !overLimit_;
        },
        [&](pugi::xml_node root) { readColumnWidths(sheet, root); });
  }

  // The rows below the header of a filter (of the sheet or of a table) that filters by at least
  // one column: a hidden row among them is filtered out rather than hidden by hand.
  static void readFilter(WorkbookSheet& sheet, pugi::xml_node filter) {
    if (!filter || !child(filter, "filterColumn")) return;
    const std::u16string ref = fromUtf8(attribute(filter, "ref").value());
    const size_t colon = ref.find(u':');
    SyntaxCell first, last;
    if (colon == std::u16string::npos || !parseCellAddress(ref.substr(0, colon), &first) ||
        !parseCellAddress(ref.substr(colon + 1), &last) || last.row <= first.row) {
      return;
    }
    sheet.filteredRows.push_back({first.row + 1, last.row});
  }

  // The widths of the worksheet's columns (CELL("width") shows them) and its filter.
  static void readColumnWidths(WorkbookSheet& sheet, pugi::xml_node root) {
    readFilter(sheet, child(root, "autoFilter"));
    double number = 0;
    if (pugi::xml_node format = child(root, "sheetFormatPr")) {
      if (parseNumber(attribute(format, "defaultColWidth").value(), &number) && number >= 0) {
        sheet.defaultColumnWidth = number;
      } else if (parseNumber(attribute(format, "baseColWidth").value(), &number) && number >= 0) {
        sheet.baseColumnWidth = number;
      }
    }
    for (pugi::xml_node column = child(child(root, "cols"), "col"); column;
         column = column.next_sibling()) {
      int64_t first = 0, last = 0;
      if (!is(column, "col") || !parseInteger(attribute(column, "min").value(), &first) ||
          !parseInteger(attribute(column, "max").value(), &last) || first < 1 || last < first ||
          last > int64_t(kFullMaxColumn) + 1 ||
          !parseNumber(attribute(column, "width").value(), &number) || number < 0) {
        continue;
      }
      sheet.columnWidths.push_back({uint32_t(first - 1), uint32_t(last - 1), number});
    }
  }

  // Parses a part whose bulk is the children of one element (the rows of <sheetData>, the
  // strings of <sst>) a slice at a time, handing each slice's nodes to read, which answers false
  // to stop. The part is split after an item's end tag (a "<" never appears unescaped inside
  // texts). What surrounds the element's content is parsed on its own, to check that the part is
  // well-formed as a whole. A part without such content is parsed whole, and read sees the
  // element (or nothing when it is absent).
  // readOutside, when given, sees the part's root element without the content.
  template <typename Read>
  bool parseInSlices(const std::string& part, std::string& bytes, std::string_view element,
                     std::string_view item, Read read,
                     const std::function<void(pugi::xml_node)>& readOutside = {}) {
    size_t contentStart = 0, contentEnd = 0;
    std::string prefix;
    if (!findContent(bytes, element, &contentStart, &contentEnd, &prefix)) {
      pugi::xml_document document;
      if (!parsePart(part, bytes, document)) return false;
      pugi::xml_node root = document.document_element();
      if (readOutside) readOutside(root);
      return read(is(root, element) ? root : child(root, element));
    }
    {
      std::string outside = bytes.substr(0, contentStart) + bytes.substr(contentEnd);
      pugi::xml_document document;
      if (!parsePart(part, outside, document)) return false;
      if (readOutside) readOutside(document.document_element());
    }
    const std::string itemEnd = "</" + prefix + std::string(item) + ">";
    size_t at = contentStart;
    while (at < contentEnd) {
      size_t end = contentEnd;
      if (contentEnd - at > kSliceBytes) {
        size_t found = bytes.find(itemEnd, at + kSliceBytes);
        if (found != std::string::npos && found + itemEnd.size() < contentEnd)
          end = found + itemEnd.size();
      }
      pugi::xml_document slice;
      pugi::xml_parse_result result = slice.load_buffer_inplace(
          bytes.data() + at, end - at, kParseOptions | pugi::parse_fragment, pugi::encoding_utf8);
      if (!result)
        return fault(part + ": malformed XML at byte " + std::to_string(at + result.offset) + ": " +
                     result.description());
      if (!read(pugi::xml_node(slice))) return false;
      at = end;
    }
    return true;
  }

  // Finds the content of the element (between its start and end tags) and the namespace prefix
  // of its name ("x:" or ""); false when the part has no such element with content.
  static bool findContent(const std::string& bytes, std::string_view kName, size_t* start,
                          size_t* end, std::string* prefix) {
    size_t i = 0;
    while ((i = bytes.find(kName, i)) != std::string::npos) {
      size_t after = i + kName.size();
      size_t open = bytes.rfind('<', i);
      if (open != std::string::npos && after < bytes.size() &&
          (bytes[after] == '>' || bytes[after] == ' ' || bytes[after] == '\t' ||
           bytes[after] == '\r' || bytes[after] == '\n' || bytes[after] == '/')) {
        std::string name = bytes.substr(open + 1, i - open - 1);
        bool prefixed = name.empty() || (name.back() == ':' &&
                                         name.find_first_of(" \t\r\n<>/\"'") == std::string::npos);
        if (prefixed) {
          size_t close = bytes.find('>', after);
          if (close == std::string::npos || bytes[close - 1] == '/') return false;
          std::string endTag = "</" + name + std::string(kName);
          size_t last = bytes.rfind(endTag);
          if (last == std::string::npos || last < close) return false;
          *prefix = name;
          *start = close + 1;
          *end = last;
          return true;
        }
      }
      i = after;
    }
    return false;
  }

  // The rows among the children of node; row_ carries the row number from slice to slice.
  void readRows(const std::string& part, WorkbookSheet& sheet, pugi::xml_node node) {
    for (pugi::xml_node r = node.first_child(); r; r = r.next_sibling()) {
      if (!is(r, "row")) continue;
      if (pugi::xml_attribute number = attribute(r, "r")) {
        int64_t n = 0;
        if (!parseInteger(number.value(), &n) || n < 1 || n > 1048576) {
          fault(part + ": row '" + number.value() + "' is not a row number");
          continue;
        }
        row_ = n - 1;
      } else {
        ++row_;
      }
      if (row_ >= 1048576) {
        fault(part + ": more than 1048576 rows");
        return;
      }
      if (pugi::xml_attribute hidden = attribute(r, "hidden"); hidden && hidden.as_bool()) {
        sheet.hiddenRows.push_back(uint32_t(row_));
      }
      int64_t column = -1;
      for (pugi::xml_node c = r.first_child(); c; c = c.next_sibling()) {
        if (!is(c, "c")) continue;
        if (pugi::xml_attribute address = attribute(c, "r")) {
          SyntaxCell cell;
          if (!parseCellAddress(fromUtf8(address.value()), &cell) || address.value()[0] == '$') {
            fault(part + ": '" + address.value() + "' is not a cell address");
            continue;
          }
          if (int64_t(cell.row) != row_)
            fault(part + ": " + address.value() + ": the cell is inside row " +
                  std::to_string(row_ + 1));
          column = cell.column;
        } else {
          ++column;
        }
        if (column >= 16384) {
          fault(part + ": row " + std::to_string(row_ + 1) + ": more than 16384 cells");
          break;
        }
        if (sheet.cells.size() + arrayMembers_ >= limits_.cellsPerSheet) {
          limitFault(part, "more cells than a sheet may have", limits_.cellsPerSheet);
          return;
        }
        if (!readFormat(part, sheet, uint32_t(row_), uint32_t(column), c)) return;
        readCell(part, sheet, uint32_t(row_), uint32_t(column), c);
      }
    }
  }

  // Notes the cell's number format when it is not General; false past the sheet's limit.
  bool readFormat(const std::string& part, WorkbookSheet& sheet, uint32_t row, uint32_t column,
                  pugi::xml_node c) {
    int64_t style = -1;
    pugi::xml_attribute s = attribute(c, "s");
    if (!s || !parseInteger(s.value(), &style) || style < 0 ||
        style >= int64_t(styleFormats_.size()) || styleFormats_[size_t(style)] == kGeneral)
      return true;
    if (sheet.numberFormats.size() >= limits_.cellsPerSheet)
      return limitFault(part, "more formatted cells than a sheet may have", limits_.cellsPerSheet);
    sheet.numberFormats.push_back(CellNumberFormat{row, column, styleFormats_[size_t(style)]});
    return true;
  }

  void readCell(const std::string& part, WorkbookSheet& sheet, uint32_t row, uint32_t column,
                pugi::xml_node c) {
    std::optional<Value> value = cellValue(part, row, column, c);
    pugi::xml_node f = child(c, "f");
    std::string_view kind = f.attribute("t").value();
    // An empty formula that is not part of a shared one (<f ca="1"/>, written for the cells a
    // dynamic array spills into) shows only its value.
    if (f && kind != "shared" && kind != "dataTable" && !*f.text().get()) {
      if (fillArrayMember(sheet, row, column, value)) return;
      workbook_.notices.push_back(part + ": " + cellName(row, column) +
                                  ": an empty formula is read as its last value");
      f = {};
    }
    if (!f) {
      if (fillArrayMember(sheet, row, column, value)) return;
      if (!value) return;  // a cell with a format only
      WorkbookCell cell;
      cell.row = row;
      cell.column = column;
      cell.value = std::move(*value);
      sheet.cells.push_back(std::move(cell));
      return;
    }
    std::u16string formula = fromUtf8(f.text().get());
    if (kind == "dataTable") {
      workbook_.notices.push_back(part + ": " + cellName(row, column) +
                                  ": data tables are not supported yet; the cells keep their "
                                  "last values");
      return keepAsConstant(sheet, row, column, std::move(value));
    }
    if (kind == "shared") {
      std::string id = f.attribute("si").value();
      if (!formula.empty()) {
        shared_[id] = SharedFormula{row, column, formula};
      } else {
        auto it = shared_.find(id);
        if (it == shared_.end()) {
          cellFault(part, row, column, "shared formula '" + id + "' is not defined before");
          return keepAsConstant(sheet, row, column, std::move(value));
        }
        formula = shiftFormula(it->second.formula, int64_t(row) - it->second.row,
                               int64_t(column) - it->second.column);
      }
    }
    resolveExternal(formula);
    if (!resolveTables(part, sheet.name, row, column, formula)) {
      return keepAsConstant(sheet, row, column, std::move(value));
    }
    ParseError error;
    if (!parseFormula(formula, &error)) {
      cellFault(part, row, column, error.message);
      return keepAsConstant(sheet, row, column, std::move(value));
    }
    if (kind == "array") {
      SyntaxCell first, last;
      std::u16string ref = fromUtf8(f.attribute("ref").value());
      size_t colon = ref.find(u':');
      bool valid = colon == std::u16string::npos
                       ? parseCellAddress(ref, &first) && (last = first, true)
                       : parseCellAddress(ref.substr(0, colon), &first) &&
                             parseCellAddress(ref.substr(colon + 1), &last);
      if (ref.empty()) {
        valid = true;
        first = last = SyntaxCell{row, column};
      }
      if (!valid || first.row != row || first.column != column || last.row < row ||
          last.column < column) {
        cellFault(part, row, column,
                  "the array formula's range '" + toUtf8(ref) + "' does not start at the cell");
        return keepAsConstant(sheet, row, column, std::move(value));
      }
      const uint64_t members = uint64_t(last.row - row + 1) * uint64_t(last.column - column + 1);
      if (sheet.cells.size() + arrayMembers_ + members > limits_.cellsPerSheet) {
        limitFault(part,
                   cellName(row, column) + ": the array formula covers more cells than a " +
                       "sheet may have",
                   limits_.cellsPerSheet);
        return;
      }
      arrayMembers_ += size_t(members);
      ArrayFormula array;
      array.firstRow = row;
      array.firstColumn = column;
      array.lastRow = last.row;
      array.lastColumn = last.column;
      array.formula = std::move(formula);
      if (value) {
        if (last.row == row && last.column == column) {
          array.cached = std::move(value);
        } else {
          ValueArray elements(last.column - column + 1, last.row - row + 1);
          elements.at(0, 0) = std::move(*value);
          Value result;
          result.setArray(std::move(elements));
          array.cached = std::move(result);
        }
      }
      open_.push_back(OpenArray{sheet.arrays.size(), row, column, last.row, last.column});
      sheet.arrays.push_back(std::move(array));
      return;
    }
    WorkbookCell cell;
    cell.row = row;
    cell.column = column;
    cell.isFormula = true;
    cell.formula = std::move(formula);
    if (value) cell.setCached(std::move(*value));
    sheet.cells.push_back(std::move(cell));
  }

  void keepAsConstant(WorkbookSheet& sheet, uint32_t row, uint32_t column,
                      std::optional<Value> value) {
    if (!value) return;
    WorkbookCell cell;
    cell.row = row;
    cell.column = column;
    cell.value = std::move(*value);
    sheet.cells.push_back(std::move(cell));
  }

  // A cell inside an open array formula gives its element of the cached result. Arrays whose last
  // row lies above the cell are closed on the way: rows come in order.
  bool fillArrayMember(WorkbookSheet& sheet, uint32_t row, uint32_t column,
                       std::optional<Value>& value) {
    std::erase_if(open_, [row](const OpenArray& a) { return a.lastRow < row; });
    for (const OpenArray& a : open_) {
      if (row < a.firstRow || column < a.firstColumn || column > a.lastColumn) continue;
      std::optional<Value>& cached = sheet.arrays[a.index].cached;
      if (value && cached && cached->isArray())
        cached->array().at(column - a.firstColumn, row - a.firstRow) = std::move(*value);
      return true;
    }
    return false;
  }

  Workbook& workbook_;
  std::vector<std::string>* errors_;
  const XlsxLimits& limits_;
  uint64_t inflated_ = 0;    // bytes of all parts read so far
  bool overLimit_ = false;   // a limit was passed: the package is refused
  size_t arrayMembers_ = 0;  // cells the array formulas of the sheet being read cover
  zip_t* zip_ = nullptr;
  std::vector<std::u16string> sharedStrings_;
  static constexpr uint32_t kGeneral = UINT32_MAX;
  std::vector<uint32_t> styleFormats_;  // by cell format index
  std::vector<WorkbookTable> tables_;
  std::vector<ExternalBook> externalBooks_;
  std::map<std::string, SharedFormula> shared_;  // of the worksheet being read, by si
  std::vector<OpenArray> open_;
  int64_t row_ = -1;  // the row being read, 0-based
};

}  // namespace

bool readXlsxWorkbook(const std::string& path, Workbook* workbook, std::vector<std::string>* errors,
                      const XlsxLimits& limits) {
  XlsxReader reader(*workbook, errors, limits);
  return reader.read(path);
}

bool readXlsxWorkbook(const std::string& path, Workbook* workbook,
                      std::vector<std::string>* errors) {
  return readXlsxWorkbook(path, workbook, errors, kXlsxLimits);
}

}  // namespace korvel
