#include "hosts/headless/spreadsheet/a1_reference.h"

#include <algorithm>
#include <utility>

namespace korvel {
namespace {

enum class PartKind { kCell, kColumn, kRow };

struct Part {
  PartKind kind = PartKind::kCell;
  uint32_t row = 0;
  uint32_t column = 0;
};

char16_t upper(char16_t c) { return c >= u'a' && c <= u'z' ? char16_t(c - 32) : c; }

// One side of an area: a cell, a column or a row, each part optionally absolute.
std::optional<Part> parsePart(std::u16string_view text) {
  size_t i = 0;
  if (i < text.size() && text[i] == u'$') ++i;
  uint64_t column = 0;
  size_t letters = 0;
  while (i < text.size() && upper(text[i]) >= u'A' && upper(text[i]) <= u'Z') {
    column = column * 26 + uint64_t(upper(text[i]) - u'A' + 1);
    if (++letters > 3) return std::nullopt;
    ++i;
  }
  bool dollar = i < text.size() && text[i] == u'$';
  if (dollar) ++i;
  uint64_t row = 0;
  size_t digits = 0;
  while (i < text.size() && text[i] >= u'0' && text[i] <= u'9') {
    row = row * 10 + uint64_t(text[i] - u'0');
    if (++digits > 7) return std::nullopt;
    ++i;
  }
  if (i != text.size()) return std::nullopt;
  if (letters > 0 && column > kSheetColumns) return std::nullopt;
  if (digits > 0 && (row == 0 || row > kSheetRows)) return std::nullopt;
  Part part;
  if (letters > 0 && digits > 0) {
    part.kind = PartKind::kCell;
  } else if (letters > 0 && !dollar) {
    part.kind = PartKind::kColumn;
  } else if (digits > 0 && letters == 0) {
    part.kind = PartKind::kRow;
  } else {
    return std::nullopt;
  }
  part.column = letters > 0 ? uint32_t(column - 1) : 0;
  part.row = digits > 0 ? uint32_t(row - 1) : 0;
  return part;
}

// Splits at the separator outside quoted sheet names.
std::vector<std::u16string_view> splitOutsideQuotes(std::u16string_view text, char16_t separator) {
  std::vector<std::u16string_view> pieces;
  bool quoted = false;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == u'\'') quoted = !quoted;
    if (!quoted && text[i] == separator) {
      pieces.push_back(text.substr(start, i - start));
      start = i + 1;
    }
  }
  pieces.push_back(text.substr(start));
  return pieces;
}

// Takes a leading sheet name off the piece; false when the name is malformed.
bool takeSheet(std::u16string_view* piece, std::u16string* sheet) {
  std::u16string_view text = *piece;
  if (!text.empty() && text[0] == u'\'') {
    std::u16string name;
    size_t i = 1;
    for (;; ++i) {
      if (i >= text.size()) return false;
      if (text[i] == u'\'') {
        if (i + 1 < text.size() && text[i + 1] == u'\'') {
          name += u'\'';
          ++i;
          continue;
        }
        break;
      }
      name += text[i];
    }
    if (i + 1 >= text.size() || text[i + 1] != u'!' || name.empty()) return false;
    *sheet = std::move(name);
    *piece = text.substr(i + 2);
    return true;
  }
  size_t bang = text.rfind(u'!');
  if (bang == std::u16string_view::npos) return true;
  if (bang == 0) return false;
  *sheet = std::u16string(text.substr(0, bang));
  *piece = text.substr(bang + 1);
  return true;
}

}  // namespace

std::optional<CellArea> parseA1Area(std::u16string_view text) {
  size_t colon = text.find(u':');
  std::optional<Part> first = parsePart(text.substr(0, colon));
  if (!first) return std::nullopt;
  Part second = *first;
  if (colon != std::u16string_view::npos) {
    std::optional<Part> other = parsePart(text.substr(colon + 1));
    if (!other || other->kind != first->kind) return std::nullopt;
    second = *other;
  } else if (first->kind != PartKind::kCell) {
    return std::nullopt;  // "A" or "3" alone is a name, not a reference
  }
  CellArea area;
  area.firstRow = std::min(first->row, second.row);
  area.lastRow = std::max(first->row, second.row);
  area.firstColumn = std::min(first->column, second.column);
  area.lastColumn = std::max(first->column, second.column);
  if (first->kind == PartKind::kColumn) {
    area.firstRow = 0;
    area.lastRow = kSheetRows - 1;
  } else if (first->kind == PartKind::kRow) {
    area.firstColumn = 0;
    area.lastColumn = kSheetColumns - 1;
  }
  return area;
}

std::optional<A1Reference> parseA1(std::u16string_view text) {
  A1Reference reference;
  bool first = true;
  for (std::u16string_view piece : splitOutsideQuotes(text, u',')) {
    std::u16string sheet;
    if (!takeSheet(&piece, &sheet)) return std::nullopt;
    if (first) {
      reference.sheet = sheet;
    } else if (!sheet.empty() && sheet != reference.sheet) {
      return std::nullopt;  // areas of one reference lie on one sheet
    }
    first = false;
    std::optional<CellArea> area = parseA1Area(piece);
    if (!area) return std::nullopt;
    reference.areas.push_back(*area);
  }
  return reference;
}

std::u16string a1ColumnLetters(uint32_t column) {
  std::u16string letters;
  uint32_t n = column + 1;
  while (n > 0) {
    letters.insert(letters.begin(), char16_t(u'A' + (n - 1) % 26));
    n = (n - 1) / 26;
  }
  return letters;
}

std::u16string formatA1(const CellArea& area, bool rowAbsolute, bool columnAbsolute) {
  auto number = [](uint32_t row) {
    std::string digits = std::to_string(row + 1);
    return std::u16string(digits.begin(), digits.end());
  };
  std::u16string r = rowAbsolute ? u"$" : u"";
  std::u16string c = columnAbsolute ? u"$" : u"";
  if (area.wholeColumns()) {
    return c + a1ColumnLetters(area.firstColumn) + u":" + c + a1ColumnLetters(area.lastColumn);
  }
  if (area.wholeRows()) {
    return r + number(area.firstRow) + u":" + r + number(area.lastRow);
  }
  std::u16string text = c + a1ColumnLetters(area.firstColumn) + r + number(area.firstRow);
  if (area.lastRow != area.firstRow || area.lastColumn != area.firstColumn) {
    text += u":" + c + a1ColumnLetters(area.lastColumn) + r + number(area.lastRow);
  }
  return text;
}

}  // namespace korvel
