// The package is held in memory and opened with libzip over a buffer, so that reading from a
// file or from bytes is the same, and a save replaces only the parts it changes: libzip copies the
// other entries as they were stored. Parts are parsed with pugixml keeping every node (whitespace
// and the declaration included), so a rewritten part differs from the original only where cells
// changed. Elements and attributes are matched by their local name, so that packages written
// with a namespace prefix ("x:c") read the same.

#include "hosts/headless/spreadsheet/xlsx_workbook.h"

#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <list>
#include <map>
#include <pugixml.hpp>
#include <set>
#include <sstream>
#include <utility>
#include <vector>

#include "hosts/headless/spreadsheet/a1_reference.h"
#include "hosts/headless/spreadsheet/cell_formats.h"
#include "hosts/headless/spreadsheet/zip_part.h"
#include "util/package_parts.h"
#include "util/text.h"

namespace korvel {
namespace {

constexpr unsigned kParseOptions =
    pugi::parse_default | pugi::parse_ws_pcdata | pugi::parse_declaration | pugi::parse_doctype;
constexpr uint32_t kMaxRows = 1048576;
constexpr uint32_t kMaxColumns = 16384;
constexpr int32_t kWorksheet = -4167;
constexpr int32_t kChartSheet = -4109;

constexpr char kMainNamespace[] = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
constexpr char kRelationshipNamespace[] =
    "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
constexpr char kPackageRelationshipNamespace[] =
    "http://schemas.openxmlformats.org/package/2006/relationships";

// The error values a cell can hold, with the program's error numbers; the code of an error
// variant is 0x800A0000 plus the number.
struct ErrorLiteral {
  std::string_view text;
  uint32_t number;
};
constexpr ErrorLiteral kErrorLiterals[] = {
    {"#NULL!", 2000},  {"#DIV/0!", 2007},   {"#VALUE!", 2015},   {"#REF!", 2023},
    {"#NAME?", 2029},  {"#NUM!", 2036},     {"#N/A", 2042},      {"#GETTING_DATA", 2043},
    {"#SPILL!", 2045}, {"#CONNECT!", 2046}, {"#BLOCKED!", 2047}, {"#UNKNOWN!", 2048},
    {"#FIELD!", 2049}, {"#CALC!", 2050},
};
constexpr uint32_t kErrorBase = 0x800A0000u;

uint32_t errorCodeOf(std::string_view text) {
  for (const ErrorLiteral& e : kErrorLiterals)
    if (e.text == text) return kErrorBase + e.number;
  return 0;
}

std::string_view errorLiteralOf(uint32_t code) {
  for (const ErrorLiteral& e : kErrorLiterals)
    if (kErrorBase + e.number == code) return e.text;
  return {};
}

std::string_view localName(const char* name) {
  const char* colon = std::strrchr(name, ':');
  return colon ? std::string_view(colon + 1) : std::string_view(name);
}

bool is(pugi::xml_node node, std::string_view name) {
  return node.type() == pugi::node_element && localName(node.name()) == name;
}

pugi::xml_node child(pugi::xml_node node, std::string_view name) {
  for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling())
    if (is(c, name)) return c;
  return {};
}

pugi::xml_attribute attribute(pugi::xml_node node, std::string_view name) {
  for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute())
    if (localName(a.name()) == name) return a;
  return {};
}

// The prefix of an element's name with its colon ("x:"), for elements added beside it.
std::string prefixOf(pugi::xml_node node) {
  const char* colon = std::strrchr(node.name(), ':');
  return colon ? std::string(node.name(), size_t(colon - node.name() + 1)) : std::string();
}

bool isTrue(std::string_view text) { return text == "1" || text == "true"; }

int hexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  return -1;
}

bool isEscapeAt(std::u16string_view text, size_t i) {
  if (i + 6 >= text.size() || text[i] != u'_' || text[i + 1] != u'x' || text[i + 6] != u'_')
    return false;
  for (size_t k = 2; k < 6; ++k)
    if (hexDigit(text[i + k]) < 0) return false;
  return true;
}

// Cell texts spell the units XML cannot hold (carriage returns, other control characters) as
// "_xHHHH_"; "_x005F_" is an underscore that would otherwise begin such a spelling.
std::u16string unescapeText(std::string_view utf8) {
  std::u16string text = fromUtf8(utf8);
  if (text.find(u"_x") == std::u16string::npos) return text;
  std::u16string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (isEscapeAt(text, i)) {
      int value = 0;
      for (size_t k = 2; k < 6; ++k) value = value * 16 + hexDigit(text[i + k]);
      out += char16_t(value);
      i += 6;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string escapeText(std::u16string_view text) {
  std::u16string out;
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    if ((c < 0x20 && c != u'\t' && c != u'\n') || c == 0xFFFE || c == 0xFFFF) {
      static constexpr char16_t kHex[] = u"0123456789ABCDEF";
      out += u"_x00";
      out += kHex[c >> 4 & 0xF];
      out += kHex[c & 0xF];
      out += u'_';
    } else {
      if (isEscapeAt(text, i)) out += u"_x005F";
      out += c;
    }
  }
  return toUtf8(out);
}

// The text of an element: its own <t>, or the texts of its rich-text runs joined; phonetic runs
// are not part of the text.
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
  return ec == std::errc() && end == text.data() + text.size() && std::isfinite(*out);
}

bool parseInteger(std::string_view text, int64_t* out) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *out);
  return !text.empty() && ec == std::errc() && end == text.data() + text.size();
}

std::string numberText(double value) {
  char buffer[32];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
  return ec == std::errc() ? std::string(buffer, end) : std::string("0");
}

std::string columnName(uint32_t column) {
  std::string letters;
  for (uint32_t c = column + 1; c > 0; c = (c - 1) / 26)
    letters.insert(letters.begin(), char('A' + (c - 1) % 26));
  return letters;
}

std::string cellName(uint32_t row, uint32_t column) {
  return columnName(column) + std::to_string(row + 1);
}

// "B7" (no "$") to 0-based row and column.
bool parseCellName(std::string_view text, uint32_t* row, uint32_t* column) {
  size_t i = 0;
  uint64_t c = 0, r = 0;
  while (i < text.size() && i < 4 &&
         ((text[i] >= 'A' && text[i] <= 'Z') || (text[i] >= 'a' && text[i] <= 'z'))) {
    c = c * 26 + uint64_t((text[i] & ~0x20) - 'A' + 1);
    ++i;
  }
  if (i == 0 || i == text.size() || c > kMaxColumns) return false;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9' || r > kMaxRows) return false;
    r = r * 10 + uint64_t(text[i] - '0');
  }
  if (r < 1 || r > kMaxRows) return false;
  *row = uint32_t(r - 1);
  *column = uint32_t(c - 1);
  return true;
}

// Moves the relative references of a formula by rows and columns, as the cells of a shared
// formula see the formula of its first cell. Texts, quoted sheet names, bracketed parts, sheet
// names before "!" and function names are passed over; a reference moved off the sheet becomes
// #REF!.
std::u16string shiftFormula(std::u16string_view f, int64_t rows, int64_t columns) {
  auto isWordUnit = [](char16_t c) {
    return isAsciiLetter(c) || isDigit(c) || c == u'_' || c == u'.' || c == u'$' || c == u'\\' ||
           c == u'?' || c >= 0x80;
  };
  // One side of a reference: "$A$1", "A1", "$A", "7"; kind 1 cell, 2 column, 3 row.
  auto shiftPart = [&](std::u16string_view token, int kind, std::u16string* out) {
    size_t i = 0;
    bool absoluteColumn = false, absoluteRow = false;
    int64_t column = -1, row = -1;
    if (kind != 3) {
      if (i < token.size() && token[i] == u'$') absoluteColumn = true, ++i;
      size_t start = i;
      column = 0;
      while (i < token.size() && isAsciiLetter(token[i]))
        column = column * 26 + (foldCase(token[i]) - u'A' + 1), ++i;
      if (i == start || i - start > 3) return false;
      --column;
    }
    if (kind != 2) {
      if (i < token.size() && token[i] == u'$') absoluteRow = true, ++i;
      size_t start = i;
      row = 0;
      while (i < token.size() && isDigit(token[i]) && row <= kMaxRows)
        row = row * 10 + (token[i] - u'0'), ++i;
      if (i == start || row < 1) return false;
      --row;
    }
    if (i != token.size() || column >= int64_t(kMaxColumns) || row >= int64_t(kMaxRows))
      return false;
    if (column >= 0 && !absoluteColumn) column += columns;
    if (row >= 0 && !absoluteRow) row += rows;
    if ((kind != 3 && (column < 0 || column >= kMaxColumns)) ||
        (kind != 2 && (row < 0 || row >= kMaxRows))) {
      *out = u"#REF!";
      return true;
    }
    out->clear();
    if (kind != 3) *out += (absoluteColumn ? u"$" : u"") + fromUtf8(columnName(uint32_t(column)));
    if (kind != 2) *out += (absoluteRow ? u"$" : u"") + fromUtf8(std::to_string(row + 1));
    return true;
  };
  std::u16string out;
  size_t i = 0;
  while (i < f.size()) {
    char16_t c = f[i];
    if (c == u'"' || c == u'\'') {
      size_t end = i + 1;
      while (end < f.size()) {
        if (f[end] == c && end + 1 < f.size() && f[end + 1] == c) {
          end += 2;
        } else if (f[end] == c) {
          break;
        } else {
          ++end;
        }
      }
      end = std::min(end + 1, f.size());
      out += f.substr(i, end - i);
      i = end;
    } else if (c == u'[') {
      size_t end = i;
      for (int depth = 0; end < f.size(); ++end) {
        if (f[end] == u'[') ++depth;
        if (f[end] == u']' && --depth == 0) break;
      }
      end = std::min(end + 1, f.size());
      out += f.substr(i, end - i);
      i = end;
    } else if (isWordUnit(c)) {
      size_t end = i;
      while (end < f.size() && isWordUnit(f[end])) ++end;
      std::u16string_view token = f.substr(i, end - i);
      char16_t next = end < f.size() ? f[end] : 0;
      std::u16string shifted;
      bool done = false;
      if (next != u'(' && next != u'!') {
        done = shiftPart(token, 1, &shifted);
        // Whole columns ("A:C") and whole rows ("1:3") come in pairs around a colon.
        if (!done && next == u':') {
          size_t second = end + 1;
          while (second < f.size() && isWordUnit(f[second])) ++second;
          std::u16string_view other = f.substr(end + 1, second - end - 1);
          std::u16string first, last;
          for (int kind : {2, 3}) {
            if (shiftPart(token, kind, &first) && shiftPart(other, kind, &last)) {
              shifted = first == u"#REF!" || last == u"#REF!" ? u"#REF!" : first + u":" + last;
              end = second;
              done = true;
              break;
            }
          }
        }
      }
      out += done ? std::u16string_view(shifted) : f.substr(i, end - i);
      i = end;
    } else {
      out += c;
      ++i;
    }
  }
  return out;
}

std::string lastPiece(std::string_view uri) {
  size_t slash = uri.rfind('/');
  return std::string(slash == std::string_view::npos ? uri : uri.substr(slash + 1));
}

bool fail(std::string* error, std::string message) {
  if (error) *error = std::move(message);
  return false;
}

// A zip package in memory.
class Package {
 public:
  Package() = default;
  Package(const Package&) = delete;
  Package& operator=(const Package&) = delete;
  ~Package() {
    if (zip_) zip_discard(zip_);
    if (source_) zip_source_free(source_);
  }

  // Opens a copy of the bytes; empty bytes make a new, empty package.
  bool open(std::string_view bytes, std::string* error) {
    zip_error_t zerror;
    zip_error_init(&zerror);
    // The source owns a malloc'd copy: libzip frees the buffer it replaces when the archive is
    // written, whether or not it was told to.
    void* copy = bytes.empty() ? nullptr : std::malloc(bytes.size());
    if (!bytes.empty() && !copy) return fail(error, "cannot open the package: out of memory");
    if (copy) std::memcpy(copy, bytes.data(), bytes.size());
    source_ = zip_source_buffer_create(copy, bytes.size(), 1, &zerror);
    if (!source_) {
      std::free(copy);
      return zipFault(&zerror, "cannot open the package: ", error);
    }
    zip_ = zip_open_from_source(source_, bytes.empty() ? ZIP_CREATE | ZIP_TRUNCATE : 0, &zerror);
    if (!zip_) {
      bool notZip = zip_error_code_zip(&zerror) == ZIP_ER_NOZIP ||
                    zip_error_code_zip(&zerror) == ZIP_ER_INCONS;
      zipFault(&zerror,
               notZip ? "not a workbook package (not a zip archive): "
                      : "cannot open the workbook package: ",
               error);
      return false;
    }
    zip_source_keep(source_);  // the archive holds one reference, this object the other
    return true;
  }

  bool has(const std::string& name) { return locate(name) >= 0; }

  // The part's bytes; a missing part is only an error when required. Bytes are counted as they
  // inflate, against the limits of util/package_parts.h: a declared size is not trusted.
  bool read(const std::string& name, std::string* out, bool required, std::string* error,
            uint64_t partLimit = kPackageMaxPartBytes) {
    out->clear();
    zip_int64_t index = locate(name);
    if (index < 0) return required ? fail(error, name + ": the part is missing") : false;
    std::string reason;
    if (readZipPart(zip_, zip_uint64_t(index), partLimit, kPackageMaxBytes, &inflated_, out,
                    &reason) != ZipPartRead::kRead) {
      return fail(error, name + ": " + reason);
    }
    return true;
  }

  // Adds the part or replaces its bytes.
  bool write(const std::string& name, std::string bytes, std::string* error) {
    pending_.push_back(std::move(bytes));
    const std::string& kept = pending_.back();
    zip_source_t* source = zip_source_buffer(zip_, kept.data(), kept.size(), 0);
    if (!source) return fail(error, name + ": cannot write the part: " + zip_strerror(zip_));
    zip_int64_t index = locate(name);
    bool ok = index >= 0 ? zip_file_replace(zip_, zip_uint64_t(index), source, 0) == 0
                         : zip_file_add(zip_, name.c_str(), source, ZIP_FL_ENC_UTF_8) >= 0;
    if (!ok) {
      zip_source_free(source);
      return fail(error, name + ": cannot write the part: " + zip_strerror(zip_));
    }
    return true;
  }

  void remove(const std::string& name) {
    zip_int64_t index = locate(name);
    if (index >= 0) zip_delete(zip_, zip_uint64_t(index));
  }

  // Writes the archive and hands out its bytes; the package cannot be used afterwards.
  bool finish(std::string* out, std::string* error) {
    if (zip_close(zip_) != 0) {
      std::string reason = zip_strerror(zip_);
      return fail(error, "cannot write the package: " + reason);
    }
    zip_ = nullptr;
    out->clear();
    if (zip_source_open(source_) != 0)
      return fail(error, "cannot write the package: the written archive cannot be read");
    char buffer[65536];
    zip_int64_t n;
    while ((n = zip_source_read(source_, buffer, sizeof buffer)) > 0)
      out->append(buffer, size_t(n));
    zip_source_close(source_);
    if (n < 0) return fail(error, "cannot write the package: the written archive cannot be read");
    return true;
  }

 private:
  zip_int64_t locate(const std::string& name) {
    zip_int64_t index = zip_name_locate(zip_, name.c_str(), 0);
    return index >= 0 ? index : zip_name_locate(zip_, name.c_str(), ZIP_FL_NOCASE);
  }
  static bool zipFault(zip_error_t* zerror, const char* what, std::string* error) {
    std::string reason = zip_error_strerror(zerror);
    zip_error_fini(zerror);
    return fail(error, what + reason);
  }

  zip_source_t* source_ = nullptr;
  zip_t* zip_ = nullptr;
  uint64_t inflated_ = 0;           // bytes of all parts read so far
  std::list<std::string> pending_;  // the bytes of written parts, read when the archive closes
};

bool parseXml(const std::string& name, const std::string& bytes, pugi::xml_document* document,
              std::string* error) {
  pugi::xml_parse_result result =
      document->load_buffer(bytes.data(), bytes.size(), kParseOptions, pugi::encoding_auto);
  if (!result)
    return fail(error, name + ": malformed XML at byte " + std::to_string(result.offset) + ": " +
                           result.description());
  return true;
}

bool readXml(Package& package, const std::string& name, pugi::xml_document* document, bool required,
             std::string* error, uint64_t partLimit = kPackageMaxPartBytes) {
  std::string bytes;
  if (!package.read(name, &bytes, required, error, partLimit)) return false;
  return parseXml(name, bytes, document, error);
}

std::string serialize(const pugi::xml_document& document) {
  std::ostringstream out;
  document.save(out, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
  return out.str();
}

struct Relationship {
  std::string type;    // the last piece of the type URI: "worksheet", "hyperlink", ...
  std::string target;  // as written
  std::string part;    // resolved, for internal targets
  bool external = false;
};
using Relationships = std::map<std::string, Relationship>;

// The relationships of a part by id; a part without any has an empty map.
bool readRelationships(Package& package, const std::string& part, Relationships* out,
                       std::string* error) {
  out->clear();
  pugi::xml_document document;
  std::string name = relsOf(part);
  if (!package.has(name)) return true;
  if (!readXml(package, name, &document, true, error)) return false;
  for (pugi::xml_node r = document.document_element().first_child(); r; r = r.next_sibling()) {
    if (!is(r, "Relationship")) continue;
    Relationship relationship;
    relationship.type = lastPiece(r.attribute("Type").value());
    relationship.target = r.attribute("Target").value();
    relationship.external = std::string_view(r.attribute("TargetMode").value()) == "External";
    if (!relationship.external)
      relationship.part = resolvePartName(folderOf(part), relationship.target);
    (*out)[r.attribute("Id").value()] = std::move(relationship);
  }
  return true;
}

std::string findWorkbookPart(Package& package) {
  Relationships root;
  std::string ignored;
  if (readRelationships(package, "", &root, &ignored))
    for (const auto& [id, r] : root)
      if (r.type == "officeDocument") return r.part;
  return "xl/workbook.xml";
}

// What reading cells needs from the workbook's other parts.
struct Context {
  std::string workbookPart;
  Relationships relationships;
  std::vector<std::u16string> sharedStrings;
  std::vector<bool> wrapStyles;               // by cell format index
  std::vector<bool> unlockedStyles;           // by cell format index
  std::vector<std::u16string> numberFormats;  // by cell format index; empty: General
  std::vector<CellFormatLook> looks;          // by cell format index
};

bool readContext(Package& package, Context* context, std::string* error) {
  context->workbookPart = findWorkbookPart(package);
  if (!readRelationships(package, context->workbookPart, &context->relationships, error))
    return false;
  for (const auto& [id, r] : context->relationships) {
    pugi::xml_document document;
    if (r.type == "sharedStrings") {
      if (!readXml(package, r.part, &document, true, error)) return false;
      size_t units = 0;
      for (pugi::xml_node si = document.document_element().first_child(); si;
           si = si.next_sibling()) {
        if (!is(si, "si")) continue;
        if (context->sharedStrings.size() >= kPackageMaxSharedStrings)
          return fail(error, r.part + ": more shared strings than a package may have");
        std::u16string text = elementText(si);
        units += text.size();
        if (units > kPackageMaxSharedStringUnits)
          return fail(error,
                      r.part + ": the shared strings hold more characters than a package may have");
        context->sharedStrings.push_back(std::move(text));
      }
    }
  }
  // The styles' colours may name the theme's. The theme does no more than colour cells, so a
  // package whose theme cannot be read opens with those colours left out rather than not at all.
  pugi::xml_document theme;
  for (const auto& [id, r] : context->relationships) {
    std::string themeError;
    if (r.type == "theme" &&
        !readXml(package, r.part, &theme, true, &themeError, kPackageMaxStylesBytes)) {
      theme.reset();
    }
  }
  for (const auto& [id, r] : context->relationships) {
    pugi::xml_document document;
    if (r.type == "styles") {
      // Parsed whole: its limit is well below a part's.
      if (!readXml(package, r.part, &document, true, error, kPackageMaxStylesBytes)) return false;
      for (pugi::xml_node xf = child(child(document.document_element(), "cellXfs"), "xf"); xf;
           xf = xf.next_sibling())
        if (is(xf, "xf")) {
          context->wrapStyles.push_back(
              isTrue(attribute(child(xf, "alignment"), "wrapText").value()));
          // Cells are locked unless their format says otherwise.
          pugi::xml_attribute locked = attribute(child(xf, "protection"), "locked");
          context->unlockedStyles.push_back(locked && !isTrue(locked.value()));
        }
      context->numberFormats = cellFormatCodes(document.document_element());
      context->looks = cellFormatLooks(document.document_element(), theme.document_element());
    }
  }
  return true;
}

// A shared formula's first cell.
struct SharedFormula {
  uint32_t row = 0;
  uint32_t column = 0;
  std::u16string formula;  // without "="
};

// A cell as the package holds it.
struct CellContent {
  Variant value;
  std::u16string formula;  // "=..." or empty
  bool wrapText = false;
  bool locked = true;
  std::u16string numberFormat;
  CellFormatLook look;
};

class CellReader {
 public:
  CellReader(const Context& context, std::string part)
      : context_(context), part_(std::move(part)) {}

  bool read(pugi::xml_node c, uint32_t row, uint32_t column, CellContent* out, std::string* error) {
    *out = CellContent();
    if (pugi::xml_attribute style = attribute(c, "s")) {
      int64_t index = -1;
      if (parseInteger(style.value(), &index) && index >= 0) {
        if (index < int64_t(context_.wrapStyles.size()))
          out->wrapText = context_.wrapStyles[size_t(index)];
        if (index < int64_t(context_.unlockedStyles.size()))
          out->locked = !context_.unlockedStyles[size_t(index)];
        if (index < int64_t(context_.numberFormats.size()))
          out->numberFormat = context_.numberFormats[size_t(index)];
        if (index < int64_t(context_.looks.size())) out->look = context_.looks[size_t(index)];
      }
    }
    if (!readValue(c, row, column, &out->value, error)) return false;
    pugi::xml_node f = child(c, "f");
    if (!f) return true;
    std::string_view kind = attribute(f, "t").value();
    std::u16string text = fromUtf8(f.text().get());
    if (kind == "dataTable") return true;  // the program fills such cells; they show values only
    if (kind == "shared") {
      std::string id = attribute(f, "si").value();
      if (!text.empty()) {
        shared_[id] = SharedFormula{row, column, text};
      } else {
        auto it = shared_.find(id);
        if (it == shared_.end())
          return cellFault(row, column, "shared formula '" + id + "' is not defined before", error);
        text = shiftFormula(it->second.formula, int64_t(row) - it->second.row,
                            int64_t(column) - it->second.column);
      }
    }
    if (!text.empty()) out->formula = u"=" + text;
    return true;
  }

  bool cellFault(uint32_t row, uint32_t column, const std::string& what, std::string* error) {
    return fail(error, part_ + ": " + cellName(row, column) + ": " + what);
  }

 private:
  bool readValue(pugi::xml_node c, uint32_t row, uint32_t column, Variant* out,
                 std::string* error) {
    std::string_view type = attribute(c, "t").value();
    if (type == "inlineStr") {
      if (pugi::xml_node is = child(c, "is")) {
        *out = Variant::text(elementText(is));
        return true;
      }
    }
    pugi::xml_node v = child(c, "v");
    if (!v) return true;
    std::string_view text = v.text().get();
    if (text.empty() && type != "str" && type != "inlineStr") return true;
    if (type.empty() || type == "n") {
      double number = 0;
      if (!parseNumber(text, &number))
        return cellFault(row, column, "'" + std::string(text) + "' is not a number", error);
      *out = Variant::r8(number);
    } else if (type == "s") {
      int64_t index = -1;
      if (!parseInteger(text, &index) || index < 0 ||
          index >= int64_t(context_.sharedStrings.size()))
        return cellFault(row, column,
                         "shared string '" + std::string(text) + "' is not in the table", error);
      *out = Variant::text(context_.sharedStrings[size_t(index)]);
    } else if (type == "str" || type == "inlineStr" || type == "d") {
      *out = Variant::text(unescapeText(text));
    } else if (type == "b") {
      if (text != "0" && text != "1")
        return cellFault(row, column, "'" + std::string(text) + "' is not a boolean", error);
      *out = Variant::boolean(text == "1");
    } else if (type == "e") {
      uint32_t code = errorCodeOf(text);
      if (!code)
        return cellFault(row, column, "'" + std::string(text) + "' is not an error value", error);
      *out = Variant::error(code);
    } else {
      return cellFault(row, column, "unknown cell type '" + std::string(type) + "'", error);
    }
    return true;
  }

  const Context& context_;
  std::string part_;
  std::map<std::string, SharedFormula> shared_;
};

// Walks the rows and cells of sheetData in order, giving rows and cells without an address the
// one after their predecessor and writing it down, so that cells added later find their place.
template <typename Visit>
bool walkCells(const std::string& part, pugi::xml_node sheetData, Visit visit, std::string* error) {
  int64_t row = -1;
  for (pugi::xml_node r = sheetData.first_child(); r; r = r.next_sibling()) {
    if (!is(r, "row")) continue;
    if (pugi::xml_attribute number = attribute(r, "r")) {
      int64_t n = 0;
      if (!parseInteger(number.value(), &n) || n <= row + 1 || n < 1 || n > kMaxRows)
        return fail(error, part + ": row '" + number.value() + "' is not a row number in order");
      row = n - 1;
    } else {
      ++row;
      if (row >= kMaxRows) return fail(error, part + ": more than 1048576 rows");
      r.append_attribute("r") = std::to_string(row + 1).c_str();
    }
    int64_t column = -1;
    for (pugi::xml_node c = r.first_child(); c; c = c.next_sibling()) {
      if (!is(c, "c")) continue;
      if (pugi::xml_attribute address = attribute(c, "r")) {
        uint32_t cellRow = 0, cellColumn = 0;
        if (!parseCellName(address.value(), &cellRow, &cellColumn) || cellRow != row ||
            int64_t(cellColumn) <= column)
          return fail(error, part + ": '" + address.value() +
                                 "' is not the address of a cell of row " +
                                 std::to_string(row + 1) + " in order");
        column = cellColumn;
      } else {
        if (++column >= kMaxColumns)
          return fail(error, part + ": row " + std::to_string(row + 1) + ": more than 16384 cells");
        c.append_attribute("r") = cellName(uint32_t(row), uint32_t(column)).c_str();
      }
      if (!visit(r, c, uint32_t(row), uint32_t(column))) return false;
    }
  }
  return true;
}

int32_t sheetTypeOf(const std::string& relationshipType) {
  if (relationshipType == "chartsheet") return kChartSheet;
  if (relationshipType == "dialogsheet") return -4116;
  if (relationshipType == "xlMacrosheet") return 3;
  if (relationshipType == "xlIntlMacrosheet") return 4;
  return kWorksheet;
}

// A sheet of the workbook part: its element and its part.
struct SheetEntry {
  pugi::xml_node element;
  std::string part;
  int32_t type = kWorksheet;
};

bool listSheets(const Context& context, pugi::xml_node root, std::vector<SheetEntry>* out,
                std::string* error) {
  for (pugi::xml_node sheet = child(child(root, "sheets"), "sheet"); sheet;
       sheet = sheet.next_sibling()) {
    if (!is(sheet, "sheet")) continue;
    std::string id = attribute(sheet, "id").value();
    auto it = context.relationships.find(id);
    if (it == context.relationships.end() || it->second.external)
      return fail(error, context.workbookPart + ": sheet '" + attribute(sheet, "name").value() +
                             "': no relationship '" + id + "' names its part");
    out->push_back(SheetEntry{sheet, it->second.part, sheetTypeOf(it->second.type)});
  }
  if (out->empty()) return fail(error, context.workbookPart + ": the workbook has no sheets");
  return true;
}

class WorkbookReader {
 public:
  WorkbookReader(Package& package, WorkbookData& workbook)
      : package_(package), workbook_(workbook) {}

  bool read(std::string* error) {
    if (!readContext(package_, &context_, error)) return false;
    pugi::xml_document document;
    if (!readXml(package_, context_.workbookPart, &document, true, error)) return false;
    pugi::xml_node root = document.document_element();
    workbook_.date1904 = isTrue(attribute(child(root, "workbookPr"), "date1904").value());
    if (pugi::xml_node protection = child(root, "workbookProtection")) {
      workbook_.protectStructure = isTrue(attribute(protection, "lockStructure").value());
      workbook_.protectWindows = isTrue(attribute(protection, "lockWindows").value());
    }
    workbook_.fileFormat = isMacroEnabled() ? 52 : 51;
    std::vector<SheetEntry> entries;
    if (!listSheets(context_, root, &entries, error)) return false;
    for (const SheetEntry& entry : entries) {
      SheetData sheet;
      sheet.name = fromUtf8(attribute(entry.element, "name").value());
      sheet.type = entry.type;
      std::string_view state = attribute(entry.element, "state").value();
      sheet.hidden = state == "hidden" || state == "veryHidden";
      if (!readSheet(entry.part, &sheet, error)) return false;
      workbook_.sheets.push_back(std::move(sheet));
    }
    return true;
  }

 private:
  bool isMacroEnabled() {
    pugi::xml_document types;
    std::string ignored;
    if (!readXml(package_, "[Content_Types].xml", &types, false, &ignored)) return false;
    for (pugi::xml_node o = types.document_element().first_child(); o; o = o.next_sibling())
      if (is(o, "Override") &&
          resolvePartName("", attribute(o, "PartName").value()) == context_.workbookPart)
        return std::strstr(attribute(o, "ContentType").value(), "macroEnabled") != nullptr;
    return false;
  }

  bool readSheet(const std::string& part, SheetData* sheet, std::string* error) {
    pugi::xml_document document;
    if (!readXml(package_, part, &document, true, error)) return false;
    pugi::xml_node root = document.document_element();
    sheet->codeName = fromUtf8(attribute(child(root, "sheetPr"), "codeName").value());
    CellReader reader(context_, part);
    bool ok = walkCells(
        part, child(root, "sheetData"),
        [&](pugi::xml_node, pugi::xml_node c, uint32_t row, uint32_t column) {
          CellContent content;
          if (!reader.read(c, row, column, &content, error)) return false;
          if (content.value.isEmpty() && content.formula.empty() && !content.wrapText &&
              content.locked && content.numberFormat.empty() && !content.look.style &&
              !content.look.fontColor && !content.look.fillColor)
            return true;
          CellData& cell = sheet->cells[CellKey(row, column)];
          cell.value = std::move(content.value);
          cell.formula = std::move(content.formula);
          cell.wrapText = content.wrapText;
          cell.numberFormat = std::move(content.numberFormat);
          cell.locked = content.locked;
          cell.style = std::move(content.look.style);
          cell.fontColor = content.look.fontColor;
          cell.interiorColor = content.look.fillColor;
          return true;
        },
        error);
    if (!ok) return false;
    for (pugi::xml_node col = child(child(root, "cols"), "col"); col; col = col.next_sibling()) {
      int64_t first = 0, last = 0;
      double width = -1;
      std::string_view widthText = attribute(col, "width").value();
      std::from_chars(widthText.data(), widthText.data() + widthText.size(), width);
      if (!is(col, "col") || !parseInteger(attribute(col, "min").value(), &first) ||
          !parseInteger(attribute(col, "max").value(), &last) || first < 1 || last < first ||
          last > int64_t(kSheetColumns) || !(width >= 0 && width <= 255)) {
        continue;
      }
      // A run to the sheet's end keeps its first columns only: a file cannot make the map as
      // large as the sheet.
      for (int64_t column = first; column <= std::min(last, first + 1023); ++column) {
        sheet->columnWidths[uint32_t(column - 1)] = width;
      }
    }
    for (pugi::xml_node m = child(child(root, "mergeCells"), "mergeCell"); m;
         m = m.next_sibling()) {
      std::optional<CellArea> area = parseA1Area(fromUtf8(attribute(m, "ref").value()));
      // The program repairs a package whose merges are not areas or overlap; here they show
      // unmerged.
      if (!is(m, "mergeCell") || !area || area->cellCount() < 2) continue;
      bool overlaps =
          std::any_of(sheet->merges.begin(), sheet->merges.end(), [&](const CellArea& a) {
            return a.firstRow <= area->lastRow && area->firstRow <= a.lastRow &&
                   a.firstColumn <= area->lastColumn && area->firstColumn <= a.lastColumn;
          });
      if (!overlaps) sheet->merges.push_back(*area);
    }
    if (pugi::xml_node p = child(root, "sheetProtection")) {
      SheetProtectionData& protection = sheet->protection;
      protection.contents = isTrue(attribute(p, "sheet").value());
      protection.drawingObjects = isTrue(attribute(p, "objects").value());
      protection.scenarios = isTrue(attribute(p, "scenarios").value());
      bool lockedBarred = isTrue(attribute(p, "selectLockedCells").value());
      bool unlockedBarred = isTrue(attribute(p, "selectUnlockedCells").value());
      protection.enableSelection = unlockedBarred ? -4142 : lockedBarred ? 1 : 0;
    }
    return readHyperlinks(part, child(root, "hyperlinks"), sheet, error);
  }

  bool readHyperlinks(const std::string& part, pugi::xml_node hyperlinks, SheetData* sheet,
                      std::string* error) {
    if (!hyperlinks) return true;
    Relationships relationships;
    if (!readRelationships(package_, part, &relationships, error)) return false;
    for (pugi::xml_node h = child(hyperlinks, "hyperlink"); h; h = h.next_sibling()) {
      if (!is(h, "hyperlink")) continue;
      // A link over a range belongs to its first cell.
      std::string ref = attribute(h, "ref").value();
      uint32_t row = 0, column = 0;
      if (!parseCellName(ref.substr(0, ref.find(':')), &row, &column))
        return fail(error, part + ": hyperlink: '" + ref + "' is not a cell address");
      HyperlinkData link;
      if (pugi::xml_attribute id = attribute(h, "id")) {
        auto it = relationships.find(id.value());
        if (it == relationships.end())
          return fail(error, part + ": hyperlink " + ref + ": no relationship '" + id.value() +
                                 "' names its target");
        link.address = fromUtf8(it->second.target);
      }
      link.subAddress = fromUtf8(attribute(h, "location").value());
      link.screenTip = fromUtf8(attribute(h, "tooltip").value());
      link.textToDisplay = fromUtf8(attribute(h, "display").value());
      sheet->cells[CellKey(row, column)].hyperlinks.push_back(std::move(link));
    }
    return true;
  }

  Package& package_;
  WorkbookData& workbook_;
  Context context_;
};

// --- Writing -------------------------------------------------------------------------------------

bool hasContent(const CellData& cell) { return !cell.value.isEmpty() || !cell.formula.empty(); }

void removeChildren(pugi::xml_node node, std::string_view name) {
  for (pugi::xml_node c = node.first_child(); c;) {
    pugi::xml_node next = c.next_sibling();
    if (is(c, name)) node.remove_child(c);
    c = next;
  }
}

void setText(pugi::xml_node element, const std::string& text) {
  element.append_child(pugi::node_pcdata).set_value(text.c_str());
}

class SheetWriter {
 public:
  SheetWriter(const Context& context, std::string part, const SheetData& sheet)
      : context_(context), part_(std::move(part)), sheet_(sheet), reader_(context, part_) {}

  bool changed() const { return changed_; }
  bool formulasChanged() const { return formulasChanged_; }

  bool merge(pugi::xml_document& document, std::string* error) {
    pugi::xml_node root = document.document_element();
    prefix_ = prefixOf(root);
    pugi::xml_node sheetData = child(root, "sheetData");
    if (!sheetData) {
      for (const auto& [key, cell] : sheet_.cells)
        if (hasContent(cell))
          return fail(error, part_ + ": the sheet has no cell data to write its cells into");
      return true;
    }
    std::map<CellKey, pugi::xml_node> existing;
    std::map<uint32_t, pugi::xml_node> rows;
    std::map<CellKey, std::u16string> formulas;  // as read, for shared groups that break
    bool ok = walkCells(
        part_, sheetData,
        [&](pugi::xml_node, pugi::xml_node c, uint32_t row, uint32_t column) {
          existing[CellKey(row, column)] = c;
          CellContent content;
          if (!reader_.read(c, row, column, &content, error)) return false;
          formulas[CellKey(row, column)] = content.formula;
          return update(c, content, CellKey(row, column), error);
        },
        error);
    if (!ok) return false;
    // Rows without cells (kept for their height or format) take the new cells of their row.
    for (pugi::xml_node r = sheetData.first_child(); r; r = r.next_sibling()) {
      int64_t n = 0;
      if (is(r, "row") && parseInteger(attribute(r, "r").value(), &n)) rows[uint32_t(n - 1)] = r;
    }
    for (const auto& [key, cell] : sheet_.cells) {
      if (!hasContent(cell) || existing.count(key)) continue;
      if (!insert(sheetData, rows, key, cell, error)) return false;
    }
    if (!brokenShared_.empty()) expandBrokenShared(existing, formulas);
    if (changed_) updateDimension(root, sheetData);
    return true;
  }

 private:
  // Brings an existing cell to the workbook's content.
  bool update(pugi::xml_node c, const CellContent& original, CellKey key, std::string* error) {
    auto it = sheet_.cells.find(key);
    static const CellData kEmpty;
    const CellData& wanted = it == sheet_.cells.end() ? kEmpty : it->second;
    if (wanted.value == original.value && wanted.formula == original.formula) return true;
    changed_ = true;
    bool keepFormula = wanted.formula == original.formula;
    if (!keepFormula) {
      formulasChanged_ = true;
      pugi::xml_node f = child(c, "f");
      if (std::string_view(attribute(f, "t").value()) == "shared" && *f.text().get())
        brokenShared_.insert(attribute(f, "si").value());
    }
    if (!hasContent(wanted) && !attribute(c, "s")) {
      c.parent().remove_child(c);
      return true;
    }
    return writeCell(c, wanted, keepFormula, key, error);
  }

  bool insert(pugi::xml_node sheetData, std::map<uint32_t, pugi::xml_node>& rows, CellKey key,
              const CellData& cell, std::string* error) {
    changed_ = true;
    if (!cell.formula.empty()) formulasChanged_ = true;
    auto [row, column] = key;
    if (row >= kMaxRows || column >= kMaxColumns)
      return fail(error, part_ + ": a cell lies outside the sheet");
    pugi::xml_node r = rows.count(row) ? rows[row] : pugi::xml_node();
    if (!r) {
      auto after = rows.upper_bound(row);
      r = after == rows.end()
              ? sheetData.append_child((prefix_ + "row").c_str())
              : sheetData.insert_child_before((prefix_ + "row").c_str(), after->second);
      r.append_attribute("r") = std::to_string(row + 1).c_str();
      rows[row] = r;
    }
    r.remove_attribute("spans");  // a hint of the cells' extent, which the new cell may widen
    pugi::xml_node before;
    for (pugi::xml_node c = r.first_child(); c && !before; c = c.next_sibling()) {
      uint32_t cellRow = 0, cellColumn = 0;
      if (is(c, "c") && parseCellName(attribute(c, "r").value(), &cellRow, &cellColumn) &&
          cellColumn > column)
        before = c;
    }
    pugi::xml_node c = before ? r.insert_child_before((prefix_ + "c").c_str(), before)
                              : r.append_child((prefix_ + "c").c_str());
    c.append_attribute("r") = cellName(row, column).c_str();
    return writeCell(c, cell, false, key, error);
  }

  bool writeCell(pugi::xml_node c, const CellData& cell, bool keepFormula, CellKey key,
                 std::string* error) {
    c.remove_attribute("t");
    c.remove_attribute("vm");  // metadata of the value that is replaced
    removeChildren(c, "v");
    removeChildren(c, "is");
    if (!keepFormula) {
      removeChildren(c, "f");
      c.remove_attribute("cm");
      if (!cell.formula.empty()) {
        std::u16string_view text = cell.formula;
        if (text.front() == u'=') text.remove_prefix(1);
        setText(c.prepend_child((prefix_ + "f").c_str()), toUtf8(text));
      }
    }
    pugi::xml_node extensions = child(c, "extLst");
    auto add = [&](const char* name) {
      std::string full = prefix_ + name;
      return extensions ? c.insert_child_before(full.c_str(), extensions)
                        : c.append_child(full.c_str());
    };
    const Variant& value = cell.value;
    switch (value.type()) {
      case VarType::kEmpty:
      case VarType::kNull:
        break;
      case VarType::kR8:
        if (std::isfinite(value.real())) {
          setText(add("v"), numberText(value.real()));
        } else {
          c.append_attribute("t") = "e";
          setText(add("v"), "#NUM!");
        }
        break;
      case VarType::kI1:
      case VarType::kUI1:
      case VarType::kI2:
      case VarType::kUI2:
      case VarType::kI4:
      case VarType::kUI4:
        setText(add("v"), std::to_string(value.integer()));
        break;
      case VarType::kBool:
        c.append_attribute("t") = "b";
        setText(add("v"), value.boolean() ? "1" : "0");
        break;
      case VarType::kError: {
        std::string_view literal = errorLiteralOf(value.errorCode());
        if (literal.empty())
          return fail(error, part_ + ": " + cellName(key.first, key.second) +
                                 ": the error code is not one a cell can hold");
        c.append_attribute("t") = "e";
        setText(add("v"), std::string(literal));
        break;
      }
      case VarType::kBstr: {
        std::string text = escapeText(value.text());
        if (!cell.formula.empty()) {
          c.append_attribute("t") = "str";
          setText(add("v"), text);
        } else {
          c.append_attribute("t") = "inlineStr";
          pugi::xml_node t = add("is").append_child((prefix_ + "t").c_str());
          t.append_attribute("xml:space") = "preserve";
          setText(t, text);
        }
        break;
      }
      default:
        return fail(error, part_ + ": " + cellName(key.first, key.second) +
                               ": the value is not one a cell can hold");
    }
    return true;
  }

  // The cells of a shared formula whose first cell lost it get the formula written out.
  void expandBrokenShared(const std::map<CellKey, pugi::xml_node>& existing,
                          const std::map<CellKey, std::u16string>& formulas) {
    for (const auto& [key, c] : existing) {
      if (!c.parent()) continue;  // removed
      pugi::xml_node f = child(c, "f");
      if (!f || std::string_view(attribute(f, "t").value()) != "shared" || *f.text().get() ||
          !brokenShared_.count(attribute(f, "si").value()))
        continue;
      auto it = formulas.find(key);
      if (it == formulas.end() || it->second.size() < 2) continue;
      f.remove_attribute("t");
      f.remove_attribute("si");
      f.remove_attribute("ref");
      setText(f, toUtf8(std::u16string_view(it->second).substr(1)));
    }
  }

  void updateDimension(pugi::xml_node root, pugi::xml_node sheetData) {
    pugi::xml_node dimension = child(root, "dimension");
    if (!dimension) return;
    uint32_t top = kMaxRows, left = kMaxColumns, bottom = 0, right = 0;
    for (pugi::xml_node r = child(sheetData, "row"); r; r = r.next_sibling())
      for (pugi::xml_node c = child(r, "c"); c; c = c.next_sibling()) {
        uint32_t row = 0, column = 0;
        if (!is(c, "c") || !parseCellName(attribute(c, "r").value(), &row, &column)) continue;
        top = std::min(top, row), bottom = std::max(bottom, row);
        left = std::min(left, column), right = std::max(right, column);
      }
    std::string ref = top == kMaxRows ? "A1"
                      : top == bottom && left == right
                          ? cellName(top, left)
                          : cellName(top, left) + ":" + cellName(bottom, right);
    pugi::xml_attribute a = attribute(dimension, "ref");
    if (!a) a = dimension.append_attribute("ref");
    a.set_value(ref.c_str());
  }

  const Context& context_;
  std::string part_;
  const SheetData& sheet_;
  CellReader reader_;
  std::string prefix_;
  bool changed_ = false;
  bool formulasChanged_ = false;
  std::set<std::string> brokenShared_;
};

// The workbook part's sheet names, visibility and date system follow the workbook.
bool updateWorkbookPart(const WorkbookData& workbook, const std::vector<SheetEntry>& entries,
                        pugi::xml_node root) {
  bool changed = false;
  for (size_t i = 0; i < entries.size(); ++i) {
    const SheetData& sheet = workbook.sheets[i];
    pugi::xml_node element = entries[i].element;
    std::string name = toUtf8(sheet.name);
    if (name != element.attribute("name").value()) {
      element.attribute("name").set_value(name.c_str());
      changed = true;
    }
    std::string_view state = attribute(element, "state").value();
    bool hidden = state == "hidden" || state == "veryHidden";
    if (hidden != sheet.hidden) {
      element.remove_attribute("state");
      if (sheet.hidden) element.append_attribute("state") = "hidden";
      changed = true;
    }
  }
  pugi::xml_node properties = child(root, "workbookPr");
  if (isTrue(attribute(properties, "date1904").value()) != workbook.date1904) {
    if (!properties) {
      pugi::xml_node before = child(root, "workbookProtection");
      if (!before) before = child(root, "bookViews");
      if (!before) before = child(root, "sheets");
      properties = root.insert_child_before((prefixOf(root) + "workbookPr").c_str(), before);
    }
    pugi::xml_attribute flag = attribute(properties, "date1904");
    if (!flag) flag = properties.append_attribute("date1904");
    flag.set_value(workbook.date1904 ? "1" : "0");
    changed = true;
  }
  return changed;
}

// Drops the calculation chain, its relationship and its content type.
bool dropCalculationChain(Package& package, const Context& context, std::string* error) {
  std::string chainPart;
  for (const auto& [id, r] : context.relationships)
    if (r.type == "calcChain") chainPart = r.part;
  if (chainPart.empty()) return true;
  package.remove(chainPart);
  std::string relsName = relsOf(context.workbookPart);
  pugi::xml_document rels;
  if (!readXml(package, relsName, &rels, true, error)) return false;
  for (pugi::xml_node r = rels.document_element().first_child(); r;) {
    pugi::xml_node next = r.next_sibling();
    if (is(r, "Relationship") && lastPiece(r.attribute("Type").value()) == "calcChain")
      rels.document_element().remove_child(r);
    r = next;
  }
  if (!package.write(relsName, serialize(rels), error)) return false;
  pugi::xml_document types;
  if (!readXml(package, "[Content_Types].xml", &types, false, error)) return true;
  for (pugi::xml_node o = types.document_element().first_child(); o;) {
    pugi::xml_node next = o.next_sibling();
    if (is(o, "Override") && resolvePartName("", attribute(o, "PartName").value()) == chainPart)
      types.document_element().remove_child(o);
    o = next;
  }
  return package.write("[Content_Types].xml", serialize(types), error);
}

bool saveIntoPackage(const WorkbookData& workbook, Package& package, std::string* error) {
  Context context;
  if (!readContext(package, &context, error)) return false;
  pugi::xml_document book;
  if (!readXml(package, context.workbookPart, &book, true, error)) return false;
  std::vector<SheetEntry> entries;
  if (!listSheets(context, book.document_element(), &entries, error)) return false;
  if (entries.size() != workbook.sheets.size())
    return fail(error, "the workbook has " + std::to_string(workbook.sheets.size()) +
                           " sheets but its package " + std::to_string(entries.size()) +
                           "; adding and deleting sheets is not saved into a package");
  bool formulasChanged = false;
  for (size_t i = 0; i < entries.size(); ++i) {
    const SheetData& sheet = workbook.sheets[i];
    if (sheet.type != entries[i].type)
      return fail(error, "sheet '" + toUtf8(sheet.name) + "' is not of its package's sheet type");
    if (entries[i].type == kChartSheet) continue;
    pugi::xml_document document;
    if (!readXml(package, entries[i].part, &document, true, error)) return false;
    SheetWriter writer(context, entries[i].part, sheet);
    if (!writer.merge(document, error)) return false;
    formulasChanged = formulasChanged || writer.formulasChanged();
    if (writer.changed() && !package.write(entries[i].part, serialize(document), error))
      return false;
  }
  if (updateWorkbookPart(workbook, entries, book.document_element()) &&
      !package.write(context.workbookPart, serialize(book), error))
    return false;
  return !formulasChanged || dropCalculationChain(package, context, error);
}

constexpr char kXmlDeclaration[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";

// A package with the workbook part, its sheets and a style part of the one default format.
bool saveNewPackage(const WorkbookData& workbook, Package& package, std::string* error) {
  if (workbook.sheets.empty()) return fail(error, "a workbook needs at least one sheet");
  std::string main = kMainNamespace, rel = kRelationshipNamespace;
  std::string types = std::string(kXmlDeclaration) +
                      "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/"
                      "content-types\"><Default Extension=\"rels\" ContentType=\"application/"
                      "vnd.openxmlformats-package.relationships+xml\"/><Default Extension=\"xml\" "
                      "ContentType=\"application/xml\"/><Override PartName=\"/xl/workbook.xml\" "
                      "ContentType=\"application/"
                      "vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>"
                      "<Override PartName=\"/xl/styles.xml\" ContentType=\"application/"
                      "vnd.openxmlformats-officedocument.spreadsheetml.styles+xml\"/>";
  std::string rels = std::string(kXmlDeclaration) + "<Relationships xmlns=\"" +
                     kPackageRelationshipNamespace + "\"><Relationship Id=\"rIdStyles\" Type=\"" +
                     rel + "/styles\" Target=\"styles.xml\"/>";
  pugi::xml_document book;
  book.load_string(
      ("<workbook xmlns=\"" + main + "\" xmlns:r=\"" + rel + "\"><workbookPr/><sheets/></workbook>")
          .c_str());
  if (workbook.date1904)
    child(book.document_element(), "workbookPr").append_attribute("date1904") = "1";
  pugi::xml_node sheets = child(book.document_element(), "sheets");
  Context context;
  for (size_t i = 0; i < workbook.sheets.size(); ++i) {
    const SheetData& sheet = workbook.sheets[i];
    std::string n = std::to_string(i + 1);
    std::string part = "xl/worksheets/sheet" + n + ".xml";
    types += "<Override PartName=\"/" + part +
             "\" ContentType=\"application/"
             "vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>";
    rels += "<Relationship Id=\"rId" + n + "\" Type=\"" + rel +
            "/worksheet\" Target=\"worksheets/sheet" + n + ".xml\"/>";
    pugi::xml_node element = sheets.append_child("sheet");
    element.append_attribute("name") = toUtf8(sheet.name).c_str();
    element.append_attribute("sheetId") = n.c_str();
    if (sheet.hidden) element.append_attribute("state") = "hidden";
    element.append_attribute("r:id") = ("rId" + n).c_str();
    pugi::xml_document document;
    document.load_string(("<worksheet xmlns=\"" + main + "\" xmlns:r=\"" + rel +
                          "\"><sheetPr/><dimension ref=\"A1\"/><sheetData/></worksheet>")
                             .c_str());
    pugi::xml_node root = document.document_element();
    if (sheet.codeName.empty())
      root.remove_child("sheetPr");
    else
      child(root, "sheetPr").append_attribute("codeName") = toUtf8(sheet.codeName).c_str();
    SheetWriter writer(context, part, sheet);
    if (!writer.merge(document, error) ||
        !package.write(part, kXmlDeclaration + serialize(document), error))
      return false;
  }
  types += "</Types>";
  rels += "</Relationships>";
  std::string styles =
      std::string(kXmlDeclaration) + "<styleSheet xmlns=\"" + main +
      "\"><fonts count=\"1\"><font><sz val=\"11\"/><name val=\"Calibri\"/></font></fonts>"
      "<fills count=\"2\"><fill><patternFill patternType=\"none\"/></fill><fill><patternFill "
      "patternType=\"gray125\"/></fill></fills><borders count=\"1\"><border><left/><right/><top/>"
      "<bottom/><diagonal/></border></borders><cellStyleXfs count=\"1\"><xf numFmtId=\"0\" "
      "fontId=\"0\" fillId=\"0\" borderId=\"0\"/></cellStyleXfs><cellXfs count=\"1\"><xf "
      "numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\"/></cellXfs><cellStyles "
      "count=\"1\"><cellStyle name=\"Normal\" xfId=\"0\" builtinId=\"0\"/></cellStyles>"
      "</styleSheet>";
  std::string rootRels = std::string(kXmlDeclaration) + "<Relationships xmlns=\"" +
                         kPackageRelationshipNamespace + "\"><Relationship Id=\"rId1\" Type=\"" +
                         rel + "/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>";
  return package.write("[Content_Types].xml", types, error) &&
         package.write("_rels/.rels", rootRels, error) &&
         package.write("xl/workbook.xml", kXmlDeclaration + serialize(book), error) &&
         package.write("xl/_rels/workbook.xml.rels", rels, error) &&
         package.write("xl/styles.xml", styles, error);
}

bool readFile(const std::string& path, std::string* out, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return fail(error, path + ": cannot open the file");
  out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) return fail(error, path + ": cannot read the file");
  return true;
}

// Writes a temporary file beside the target and renames it over the target, so that the target
// is either the old file or the whole new one.
bool replaceFile(const std::string& target, const std::string& bytes, std::string* error) {
  std::string temporary = target + ".XXXXXX";
  int fd = mkstemp(temporary.data());
  if (fd < 0)
    return fail(error,
                target + ": cannot create a temporary file beside it: " + std::strerror(errno));
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += size_t(n);
  }
  bool written = done == bytes.size() && ::fsync(fd) == 0;
  int savedErrno = errno;
  written = ::close(fd) == 0 && written;
  if (!written || std::rename(temporary.c_str(), target.c_str()) != 0) {
    if (written) savedErrno = errno;
    ::unlink(temporary.c_str());
    return fail(error, target + ": cannot write the file: " + std::strerror(savedErrno));
  }
  return true;
}

}  // namespace

bool readXlsxWorkbookBytes(std::string_view bytes, WorkbookData* workbook, std::string* error) {
  *workbook = WorkbookData();
  if (bytes.empty()) return fail(error, "not a workbook package (the file is empty)");
  Package package;
  if (!package.open(bytes, error)) return false;
  WorkbookReader reader(package, *workbook);
  if (reader.read(error)) return true;
  *workbook = WorkbookData();
  return false;
}

bool readXlsxWorkbook(const std::string& path, WorkbookData* workbook, std::string* error) {
  std::string bytes;
  if (!readFile(path, &bytes, error)) {
    *workbook = WorkbookData();
    return false;
  }
  std::string message;
  if (!readXlsxWorkbookBytes(bytes, workbook, &message)) return fail(error, path + ": " + message);
  workbook->fullName = fromUtf8(path);
  return true;
}

bool writeXlsxWorkbookBytes(const WorkbookData& workbook, std::string_view original,
                            std::string* out, std::string* error) {
  Package package;
  if (!package.open(original, error)) return false;
  bool saved = original.empty() ? saveNewPackage(workbook, package, error)
                                : saveIntoPackage(workbook, package, error);
  return saved && package.finish(out, error);
}

bool writeXlsxWorkbook(const WorkbookData& workbook, const std::string& originalPath,
                       const std::string& targetPath, std::string* error) {
  std::string original, bytes;
  if (!originalPath.empty()) {
    if (!readFile(originalPath, &original, error)) return false;
    if (original.empty())
      return fail(error, originalPath + ": not a workbook package (the file is empty)");
  }
  return writeXlsxWorkbookBytes(workbook, original, &bytes, error) &&
         replaceFile(targetPath, bytes, error);
}

}  // namespace korvel
