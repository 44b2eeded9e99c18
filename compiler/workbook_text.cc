// Line by line: each line is understood on its own, so one faulty line yields one message and
// the rest of the text is still checked.

#include "compiler/workbook_text.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <unordered_map>
#include <utility>

#include "compiler/formula_parser.h"
#include "util/text.h"

namespace korvel {
namespace {

constexpr std::u16string_view kSpaces = u" \t";
constexpr size_t kMaxSheetNameUnits = 31;

bool isAddressUnit(char16_t c) { return isAsciiLetter(c) || isDigit(c) || c == u'$'; }

// The position of "->" outside double-quoted texts and quoted sheet names, or npos.
size_t findCachedArrow(std::u16string_view text) {
  char16_t quote = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    if (quote) {
      if (c == quote) quote = 0;  // a doubled quote closes and reopens: the same state after
    } else if (c == u'"' || c == u'\'') {
      quote = c;
    } else if (c == u'-' && i + 1 < text.size() && text[i + 1] == u'>') {
      return i;
    }
  }
  return std::u16string_view::npos;
}

// The position of the "}" that closes the "{" at 0, outside texts and quoted names, or npos.
size_t findClosingBrace(std::u16string_view text) {
  char16_t quote = 0;
  int depth = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == u'"' || c == u'\'') {
      quote = c;
    } else if (c == u'{') {
      ++depth;
    } else if (c == u'}' && --depth == 0) {
      return i;
    }
  }
  return std::u16string_view::npos;
}

std::string sheetNameFault(std::u16string_view name) {
  if (name.empty()) return "the sheet name is empty";
  if (name.size() > kMaxSheetNameUnits) return "the sheet name is longer than 31 characters";
  if (name.find_first_of(u":\\/?*[]") != std::u16string_view::npos)
    return "a sheet name may not contain any of : \\ / ? * [ ]";
  if (name.front() == u'\'' || name.back() == u'\'')
    return "a sheet name may not begin or end with an apostrophe";
  return "";
}

class Reader {
 public:
  Reader(Workbook* workbook, std::vector<std::string>* errors)
      : workbook_(*workbook), errors_(errors) {}

  void readLine(std::u16string_view line) {
    line = trim(line, kSpaces);
    if (line.empty() || line.front() == u'#') return;
    if (line.front() == u'[') return readSheet(line);
    if (line.size() > 5 && line.substr(0, 4) == u"name" && (line[4] == u' ' || line[4] == u'\t'))
      return readName(trim(line.substr(5), kSpaces));
    readCell(line);
  }

  void fault(std::string message) {
    ok_ = false;
    if (errors_) errors_->push_back("line " + std::to_string(line_) + ": " + std::move(message));
  }

  int line_ = 0;
  bool ok_ = true;
  bool stopped_ = false;  // a fault that makes the rest of the text pointless to read
  size_t linesLeft_ = 0;  // lines after the current one

 private:
  void readSheet(std::u16string_view line) {
    if (line.back() != u']') return fault("expected ']' at the end of the sheet line");
    std::u16string_view name = line.substr(1, line.size() - 2);
    std::string problem = sheetNameFault(name);
    if (!problem.empty()) return fault(problem);
    // Looked up by the reader's own index: asking the workbook, which compares name by name,
    // made a text of many sheets take time by the square of their number.
    auto [found, added] = sheetIndex_.try_emplace(toUpper(name), workbook_.sheets.size());
    if (!added) {
      const WorkbookSheet& other = workbook_.sheets[found->second];
      return fault("the sheet '" + toUtf8(name) + "' is already defined" +
                   (other.line > 0 ? " on line " + std::to_string(other.line) : ""));
    }
    if (workbook_.sheets.size() >= kMaxWorkbookSheets) {
      stopped_ = true;
      return fault("the workbook has more than " + std::to_string(kMaxWorkbookSheets) + " sheets");
    }
    if (!workbook_.sheets.empty()) {
      // Room reserved for lines that turned out to belong to later sheets is given back.
      std::vector<WorkbookCell>& previous = workbook_.sheets.back().cells;
      if (previous.capacity() > previous.size() + previous.size() / 4) previous.shrink_to_fit();
    }
    WorkbookSheet sheet;
    sheet.name = std::u16string(name);
    sheet.line = line_;
    workbook_.sheets.push_back(std::move(sheet));
  }

  // name [Sheet!]Name: formula
  void readName(std::u16string_view text) {
    WorkbookName name;
    name.line = line_;
    size_t i = 0;
    if (!text.empty() && text[0] == u'\'') {
      std::u16string sheet;
      for (i = 1;; ++i) {
        if (i >= text.size()) return fault("the quoted sheet name is not closed");
        if (text[i] == u'\'') {
          if (i + 1 < text.size() && text[i + 1] == u'\'') {
            sheet += u'\'';
            ++i;
            continue;
          }
          ++i;
          break;
        }
        sheet += text[i];
      }
      if (i >= text.size() || text[i] != u'!')
        return fault("expected '!' after the quoted sheet name");
      name.scopeSheet = std::move(sheet);
      ++i;
    }
    size_t colon = text.find(u':', i);
    if (colon == std::u16string_view::npos)
      return fault("expected ':' after the name, as in 'name Rate: =Sheet1!$A$1'");
    std::u16string_view key = trim(text.substr(i, colon - i), kSpaces);
    if (name.scopeSheet.empty()) {
      size_t bang = key.find(u'!');
      if (bang != std::u16string_view::npos) {
        name.scopeSheet = std::u16string(key.substr(0, bang));
        key = key.substr(bang + 1);
        if (name.scopeSheet.empty()) return fault("expected a sheet name before '!'");
      }
    }
    if (!isValidDefinedName(key)) return fault("'" + toUtf8(key) + "' is not a valid name");
    std::u16string_view formula = trim(text.substr(colon + 1), kSpaces);
    if (formula.empty() || formula == u"=") return fault("expected the name's formula after ':'");
    name.name = std::u16string(key);
    name.formula = std::u16string(formula);
    workbook_.names.push_back(std::move(name));
  }

  // A1: value, A1: =formula [-> cached], A1:B2: {=formula} [-> cached]
  void readCell(std::u16string_view line) {
    size_t i = 0;
    while (i < line.size() && isAddressUnit(line[i])) ++i;
    std::u16string_view firstText = line.substr(0, i);
    SyntaxCell first, last;
    if (firstText.empty() || !parseCellAddress(firstText, &first))
      return fault("expected a cell address such as A1, a [sheet] line, a name line or a comment");
    if (i >= line.size() || line[i] != u':')
      return fault("expected ':' after the cell address " + toUtf8(firstText));
    ++i;
    last = first;
    bool isRange = false;
    size_t j = i;
    while (j < line.size() && isAddressUnit(line[j])) ++j;
    if (j > i && j < line.size() && line[j] == u':') {
      std::u16string_view secondText = line.substr(i, j - i);
      if (!parseCellAddress(secondText, &last))
        return fault("expected a cell address after ':', found '" + toUtf8(secondText) + "'");
      isRange = true;
      i = j + 1;
    }
    if (workbook_.sheets.empty()) return fault("a cell before the first [sheet] line");
    WorkbookSheet& sheet = workbook_.sheets.back();
    std::u16string_view value = trim(line.substr(i), kSpaces);
    // The address as written, for messages: built only when there is one to give.
    std::u16string_view label = line.substr(0, i - 1);
    auto where = [label] { return toUtf8(label) + ": "; };
    if (value.empty()) return fault(where() + "expected a value after ':'");

    if (value[0] == u'{' && trim(value.substr(1), kSpaces).substr(0, 1) == u"=") {
      size_t close = findClosingBrace(value);
      if (close == std::u16string_view::npos)
        return fault(where() + "expected '}' at the end of the array formula");
      ArrayFormula array;
      array.firstRow = std::min(first.row, last.row);
      array.lastRow = std::max(first.row, last.row);
      array.firstColumn = std::min(first.column, last.column);
      array.lastColumn = std::max(first.column, last.column);
      array.formula = std::u16string(trim(value.substr(1, close - 1), kSpaces));
      array.line = line_;
      if (!readCached(value.substr(close + 1), true, label, &array.cached)) return;
      sheet.arrays.push_back(std::move(array));
      return;
    }
    if (isRange)
      return fault(where() + "a range of cells takes an array formula in braces, as in {=A1:B2*2}");
    WorkbookCell cell;
    cell.row = first.row;
    cell.column = first.column;
    cell.line = line_;
    if (value[0] == u'=') {
      size_t arrow = findCachedArrow(value);
      std::u16string_view formula = value.substr(0, arrow);
      cell.isFormula = true;
      cell.formula = std::u16string(trim(formula, kSpaces));
      if (arrow != std::u16string_view::npos) {
        std::optional<Value> cached;
        if (!readCached(value.substr(arrow), false, label, &cached)) return;
        if (cached) cell.setCached(std::move(*cached));
      }
    } else {
      ParseError error;
      if (!parseConstant(value, false, &cell.value, &error)) return fault(where() + error.message);
    }
    // Most lines are cells of the sheet being read: room for all that are left saves regrowing a
    // large vector (and touching its memory again) over and over.
    if (sheet.cells.capacity() == 0) sheet.cells.reserve(linesLeft_);
    sheet.cells.push_back(std::move(cell));
  }

  // Nothing, or "-> value"; the value may be an array for array formulas.
  bool readCached(std::u16string_view rest, bool allowArray, std::u16string_view label,
                  std::optional<Value>* out) {
    rest = trim(rest, kSpaces);
    if (rest.empty()) return true;
    if (rest.substr(0, 2) != u"->") {
      fault(toUtf8(label) + ": expected '-> value' or the end of the line after the formula");
      return false;
    }
    Value value;
    ParseError error;
    if (!parseConstant(trim(rest.substr(2), kSpaces), allowArray, &value, &error)) {
      fault(toUtf8(label) + ": cached value: " + error.message);
      return false;
    }
    *out = std::move(value);
    return true;
  }

  Workbook& workbook_;
  std::vector<std::string>* errors_;
  std::unordered_map<std::u16string, size_t> sheetIndex_;  // by upper-case name
};

}  // namespace

bool readWorkbookText(std::string_view utf8, Workbook* workbook, std::vector<std::string>* errors) {
  Reader reader(workbook, errors);
  if (utf8.substr(0, 3) == "\xEF\xBB\xBF") utf8.remove_prefix(3);
  reader.linesLeft_ = size_t(std::count(utf8.begin(), utf8.end(), '\n'));
  size_t start = 0;
  while (start <= utf8.size()) {
    size_t end = utf8.find('\n', start);
    if (end == std::string_view::npos) end = utf8.size();
    std::string_view line = utf8.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    ++reader.line_;
    if (!isValidUtf8(line)) {
      reader.fault("the line is not valid UTF-8");
    } else {
      reader.readLine(fromUtf8(line));
    }
    if (end == utf8.size() || reader.stopped_) break;
    start = end + 1;
    --reader.linesLeft_;
  }
  return reader.ok_;
}

bool readWorkbookTextFile(const std::string& path, Workbook* workbook,
                          std::vector<std::string>* errors) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    if (errors) errors->push_back(path + ": the file cannot be read");
    return false;
  }
  // Read in one piece, at the size the file system gives: a directory or a device has none and
  // is refused rather than read as an empty workbook.
  std::error_code failure;
  bool regular = std::filesystem::is_regular_file(path, failure);
  uintmax_t size = regular ? std::filesystem::file_size(path, failure) : 0;
  if (!regular || failure) {
    if (errors) errors->push_back(path + ": the file cannot be read");
    return false;
  }
  std::string content(size_t(size), '\0');
  if (!file.read(content.data(), std::streamsize(size)) || file.gcount() != std::streamsize(size)) {
    if (errors) errors->push_back(path + ": the file cannot be read");
    return false;
  }
  return readWorkbookText(content, workbook, errors);
}

}  // namespace korvel
