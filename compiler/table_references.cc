#include "compiler/table_references.h"

#include <optional>

#include "model/address.h"
#include "util/text.h"

namespace korvel {
namespace {

bool isNameUnit(char16_t c) {
  return isLetter(c) || isDigit(c) || c == u'_' || c == u'.' || c == u'\\' || c >= 0x80;
}

std::u16string columnLetters(uint32_t column) {
  std::u16string letters;
  for (uint32_t c = column + 1; c > 0; c = (c - 1) / 26)
    letters.insert(letters.begin(), char16_t(u'A' + (c - 1) % 26));
  return letters;
}

std::u16string cellText(uint32_t row, uint32_t column) {
  return u"$" + columnLetters(column) + u"$" + fromUtf8(std::to_string(row + 1));
}

// The index of the closing bracket that matches the one at open, or npos; a "'" makes the unit
// after it literal, as table column names escape brackets, "#" and "'" so.
size_t matchingBracket(std::u16string_view f, size_t open) {
  int depth = 0;
  for (size_t i = open; i < f.size(); ++i) {
    if (f[i] == u'\'') {
      ++i;
    } else if (f[i] == u'[') {
      ++depth;
    } else if (f[i] == u']' && --depth == 0) {
      return i;
    }
  }
  return std::u16string_view::npos;
}

std::u16string unescaped(std::u16string_view text) {
  std::u16string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'\'' && i + 1 < text.size()) ++i;
    out += text[i];
  }
  return out;
}

std::u16string_view trimmed(std::u16string_view text) {
  while (!text.empty() && text.front() == u' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == u' ') text.remove_suffix(1);
  return text;
}

enum Region : unsigned { kHeaders = 1, kData = 2, kTotals = 4, kThisRow = 8 };

// What the items between a table's brackets select.
struct Selection {
  unsigned regions = 0;
  std::optional<size_t> firstColumn, lastColumn;  // table column indexes
};

class Resolver {
 public:
  Resolver(const WorkbookTable& table, uint32_t row, std::string* error)
      : table_(table), row_(row), error_(error) {}

  // The A1 text of the cells the bracket content selects ("#REF!" or "#VALUE!" where the table
  // has none of them); nullopt with *error set when the content names no column.
  std::optional<std::u16string> resolve(std::u16string_view content) {
    Selection selection;
    if (!read(trimmed(content), selection)) return std::nullopt;
    return text(selection);
  }

 private:
  bool read(std::u16string_view content, Selection& selection) {
    if (content.empty()) return true;
    if (content.front() == u'@') {
      selection.regions |= kThisRow;
      content = trimmed(content.substr(1));
      if (!content.empty() && content.front() == u'[') {
        const size_t close = matchingBracket(content, 0);
        if (close == std::u16string_view::npos) return fail("a bracket that does not close");
        content = content.substr(1, close - 1);
      }
      return content.empty() || column(unescaped(content), selection, false);
    }
    if (content.front() != u'[') return item(content, selection, false);
    bool range = false;
    while (!content.empty()) {
      if (content.front() != u'[') return fail("an item of a table reference not in brackets");
      const size_t close = matchingBracket(content, 0);
      if (close == std::u16string_view::npos) return fail("a bracket that does not close");
      if (!item(content.substr(1, close - 1), selection, range)) return false;
      content = trimmed(content.substr(close + 1));
      range = !content.empty() && content.front() == u':';
      if (!content.empty() && (content.front() == u',' || content.front() == u':')) {
        content = trimmed(content.substr(1));
      }
    }
    return true;
  }

  // An item as written: "#Data" is a part of the table, "'#Data" the column of that name.
  bool item(std::u16string_view written, Selection& selection, bool rangeEnd) {
    const std::u16string text = unescaped(written);
    if (!written.empty() && written.front() == u'#') {
      const std::u16string special = toUpper(text);
      if (special == u"#ALL") {
        selection.regions |= kHeaders | kData | kTotals;
      } else if (special == u"#DATA") {
        selection.regions |= kData;
      } else if (special == u"#HEADERS") {
        selection.regions |= kHeaders;
      } else if (special == u"#TOTALS") {
        selection.regions |= kTotals;
      } else if (special == u"#THIS ROW") {
        selection.regions |= kThisRow;
      } else {
        return fail("'" + toUtf8(text) + "' is no part of a table");
      }
      return true;
    }
    if (!written.empty() && written.front() == u'@') {
      selection.regions |= kThisRow;
      return text.size() == 1 || column(text.substr(1), selection, rangeEnd);
    }
    return column(text, selection, rangeEnd);
  }

  bool column(const std::u16string& name, Selection& selection, bool rangeEnd) {
    for (size_t i = 0; i < table_.columns.size(); ++i) {
      if (!equalsNoCase(table_.columns[i], name)) continue;
      if (!rangeEnd) selection.firstColumn = i;
      selection.lastColumn = i;
      return true;
    }
    return fail("the table " + toUtf8(table_.name) + " has no column '" + toUtf8(name) + "'");
  }

  bool fail(const std::string& message) {
    if (error_) *error_ = message;
    return false;
  }

  std::u16string text(const Selection& selection) const {
    const WorkbookTable& t = table_;
    const uint32_t dataFirst = t.firstRow + t.headerRows;
    const uint32_t dataLast = t.lastRow - t.totalsRows;
    unsigned regions = selection.regions == 0 ? unsigned{kData} : selection.regions;
    uint32_t first = 0, last = 0;
    if (regions & kThisRow) {
      if (row_ < dataFirst || row_ > dataLast) return u"#VALUE!";
      first = last = row_;
    } else {
      if (((regions & kHeaders) && t.headerRows == 0) ||
          ((regions & kTotals) && !(regions & kData) && t.totalsRows == 0)) {
        return u"#REF!";
      }
      first = (regions & kHeaders) ? t.firstRow : (regions & kData) ? dataFirst : dataLast + 1;
      last = (regions & kTotals) ? t.lastRow : (regions & kData) ? dataLast : dataFirst - 1;
      if (first > last) return u"#REF!";
    }
    const uint32_t left = t.firstColumn + uint32_t(selection.firstColumn.value_or(0));
    const uint32_t right =
        t.firstColumn +
        uint32_t(selection.lastColumn.value_or(t.columns.empty() ? t.lastColumn - t.firstColumn
                                                                 : t.columns.size() - 1));
    std::u16string out = quoteSheetName(t.sheet) + u"!" + cellText(first, left);
    if (first != last || left != right) out += u":" + cellText(last, right);
    return out;
  }

  const WorkbookTable& table_;
  const uint32_t row_;
  std::string* error_;
};

const WorkbookTable* tableNamed(const std::vector<WorkbookTable>& tables,
                                std::u16string_view name) {
  for (const WorkbookTable& table : tables)
    if (equalsNoCase(table.name, name)) return &table;
  return nullptr;
}

const WorkbookTable* tableHolding(const std::vector<WorkbookTable>& tables,
                                  std::u16string_view sheet, uint32_t row, uint32_t column) {
  for (const WorkbookTable& table : tables) {
    if (equalsNoCase(table.sheet, sheet) && row >= table.firstRow && row <= table.lastRow &&
        column >= table.firstColumn && column <= table.lastColumn) {
      return &table;
    }
  }
  return nullptr;
}

}  // namespace

bool resolveTableReferences(std::u16string_view f, const std::vector<WorkbookTable>& tables,
                            std::u16string_view sheet, uint32_t row, uint32_t column,
                            std::u16string* out, std::string* error) {
  out->clear();
  size_t i = 0;
  while (i < f.size()) {
    const char16_t c = f[i];
    if (c == u'"' || c == u'\'') {
      // A text or a quoted sheet name, its doubled quotes included, stays as it is.
      size_t end = i + 1;
      while (end < f.size() && !(f[end] == c && (end + 1 >= f.size() || f[end + 1] != c))) {
        end += f[end] == c ? 2 : 1;
      }
      end = std::min(end + 1, f.size());
      out->append(f.substr(i, end - i));
      i = end;
      continue;
    }
    const WorkbookTable* table = nullptr;
    size_t bracket = std::u16string_view::npos;
    size_t nameEnd = i;
    if (isNameUnit(c) && (i == 0 || !isNameUnit(f[i - 1]))) {
      while (nameEnd < f.size() && isNameUnit(f[nameEnd])) ++nameEnd;
      table = tableNamed(tables, f.substr(i, nameEnd - i));
      const bool qualified = nameEnd < f.size() && (f[nameEnd] == u'(' || f[nameEnd] == u'!');
      if (table == nullptr || qualified) {
        out->append(f.substr(i, nameEnd - i));
        i = nameEnd;
        continue;
      }
      if (nameEnd < f.size() && f[nameEnd] == u'[') bracket = nameEnd;
    } else if (c == u'[') {
      table = tableHolding(tables, sheet, row, column);
      if (table == nullptr) {
        out->push_back(c);
        ++i;
        continue;
      }
      bracket = i;
    } else {
      out->push_back(c);
      ++i;
      continue;
    }
    Resolver resolver(*table, row, error);
    if (bracket == std::u16string_view::npos) {  // the bare name: the table's data
      out->append(*resolver.resolve(u""));
      i = nameEnd;
      continue;
    }
    const size_t close = matchingBracket(f, bracket);
    if (close == std::u16string_view::npos && bracket == i) {
      out->append(f.substr(i));
      break;
    }
    if (close == std::u16string_view::npos) {
      if (error) *error = "a bracket after the table " + toUtf8(table->name) + " does not close";
      return false;
    }
    std::optional<std::u16string> cells =
        resolver.resolve(f.substr(bracket + 1, close - bracket - 1));
    if (!cells && bracket == i) {
      // Brackets without a table's name that name no column of the table around the cell (a
      // workbook's "[1]" before a sheet) are not the table's; the parser reads them.
      out->append(f.substr(i, close + 1 - i));
      i = close + 1;
      continue;
    }
    if (!cells) return false;
    out->append(*cells);
    i = close + 1;
  }
  return true;
}

}  // namespace korvel
