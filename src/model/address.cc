#include "model/address.h"

#include <utility>

namespace korvel {
namespace {

// The current limits. Lowered by the Excel connection for hosts and workbooks of the older sheet
// size; address parsing and whole-row and whole-column expansion follow them.
uint32_t currentMaxRow = kFullMaxRow;
uint32_t currentMaxColumn = kFullMaxColumn;

bool isAsciiLetterUnit(char16_t u) { return (u >= u'A' && u <= u'Z') || (u >= u'a' && u <= u'z'); }
bool isAsciiDigitUnit(char16_t u) { return u >= u'0' && u <= u'9'; }

std::u16string_view withoutDollar(std::u16string_view text) {
  return !text.empty() && text.front() == u'$' ? text.substr(1) : text;
}

bool allLetters(std::u16string_view text) {
  text = withoutDollar(text);
  if (text.empty()) return false;
  for (char16_t u : text) {
    if (!isAsciiLetterUnit(u)) return false;
  }
  return true;
}

bool allDigits(std::u16string_view text) {
  text = withoutDollar(text);
  if (text.empty()) return false;
  for (char16_t u : text) {
    if (!isAsciiDigitUnit(u)) return false;
  }
  return true;
}

std::u16string decimal(uint32_t n) {
  std::u16string digits;
  do {
    digits.insert(digits.begin(), char16_t(u'0' + n % 10));
    n /= 10;
  } while (n != 0);
  return digits;
}

// Exchanges the bits under the mask between two words, leaving the others where they are.
void swapBits(uint32_t& a, uint32_t& b, uint32_t mask) {
  uint32_t diff = (a ^ b) & mask;
  a ^= diff;
  b ^= diff;
}

}  // namespace

uint32_t maxRow() { return currentMaxRow; }
uint32_t maxColumn() { return currentMaxColumn; }
bool limitsLowered() { return currentMaxRow == kLoweredMaxRow; }

void setLoweredLimits(bool lowered) {
  currentMaxRow = lowered ? kLoweredMaxRow : kFullMaxRow;
  currentMaxColumn = lowered ? kLoweredMaxColumn : kFullMaxColumn;
}

bool isValidRange(const RangeRef& range) { return !range.first.isNone() && !range.last.isNone(); }

RangeRef normalizeRange(RangeRef range) {
  if (!range.first.isNone() && range.last.isNone()) range.last = range.first;
  // Ordering a half-missing range would mix sentinel bits into the other corner and could make
  // it look valid, so such a range stays as it is.
  if (!isValidRange(range)) return range;
  if (range.first.row() > range.last.row()) {
    swapBits(range.first.rowWord, range.last.rowWord, kRowMask);
  }
  if (range.first.column() > range.last.column()) {
    swapBits(range.first.columnWord, range.last.columnWord, kColumnMask);
  }
  return range;
}

int32_t columnFromLetters(std::u16string_view letters) {
  if (letters.empty() || letters.size() > 3) return -1;
  int32_t value = 0;
  for (char16_t u : letters) {
    if (!isAsciiLetterUnit(u)) return -1;
    int32_t digit = (u >= u'a' ? u - u'a' : u - u'A') + 1;
    value = value * 26 + digit;
  }
  return value - 1;
}

std::u16string columnLetters(uint32_t column) {
  std::u16string letters;
  uint64_t n = uint64_t(column) + 1;
  while (n > 0) {
    uint64_t digit = (n - 1) % 26;
    letters.insert(letters.begin(), char16_t(u'A' + digit));
    n = (n - 1) / 26;
  }
  return letters;
}

CellRef parseCell(std::u16string_view text, uint32_t sheet) {
  size_t i = 0;
  if (i < text.size() && text[i] == u'$') ++i;
  size_t lettersStart = i;
  while (i < text.size() && isAsciiLetterUnit(text[i])) ++i;
  std::u16string_view letters = text.substr(lettersStart, i - lettersStart);
  if (i < text.size() && text[i] == u'$') ++i;
  size_t digitsStart = i;
  // Saturates instead of overflowing: any row number past the limit is clamped below anyway.
  uint64_t rowNumber = 0;
  while (i < text.size() && isAsciiDigitUnit(text[i])) {
    if (rowNumber <= kFullMaxRow + 1) rowNumber = rowNumber * 10 + (text[i] - u'0');
    ++i;
  }
  if (letters.empty() || i == digitsStart || i != text.size()) return CellRef::none();
  if (letters.size() > 3) return CellRef::at(0, 0, 0);
  // Row 0 does not exist in A1 text; reading it as row index 0 would name another cell.
  if (rowNumber == 0) return CellRef::none();
  int32_t column = columnFromLetters(letters);
  // Three letters reach past what a CellRef can hold (ZZZ is 18277); masking would wrap around to
  // an unrelated column.
  if (column < 0 || uint32_t(column) > kFullMaxColumn) return CellRef::none();
  uint32_t row = rowNumber - 1 > currentMaxRow ? currentMaxRow : uint32_t(rowNumber - 1);
  return CellRef::at(sheet & 0xFFFF, row, uint32_t(column));
}

int parseRange(std::u16string_view text, uint32_t sheet, CellRef& first, CellRef& last) {
  size_t colon = text.find(u':');
  if (colon == std::u16string_view::npos) {
    first = last = parseCell(text, sheet);
    return 0;
  }
  std::u16string_view a = text.substr(0, colon);
  std::u16string_view b = text.substr(colon + 1);
  if (allLetters(a) && allLetters(b)) {
    first = parseCell(std::u16string(a) + u"1", sheet);
    last = parseCell(std::u16string(b) + decimal(currentMaxRow + 1), sheet);
    return 2;
  }
  if (allDigits(a) && allDigits(b)) {
    first = parseCell(u"A" + std::u16string(a), sheet);
    last = parseCell(columnLetters(currentMaxColumn) + std::u16string(b), sheet);
    return 1;
  }
  first = parseCell(a, sheet);
  last = parseCell(b, sheet);
  return 0;
}

std::u16string quoteSheetName(std::u16string_view name) {
  std::u16string quoted;
  quoted.reserve(name.size() + 2);
  quoted.push_back(u'\'');
  for (char16_t u : name) {
    quoted.push_back(u);
    if (u == u'\'') quoted.push_back(u'\'');
  }
  quoted.push_back(u'\'');
  return quoted;
}

std::u16string cellText(CellRef cell, bool absoluteColumn, bool absoluteRow) {
  if (cell.isNone()) return std::u16string();
  std::u16string text;
  if (absoluteColumn) text.push_back(u'$');
  text += columnLetters(cell.column());
  if (absoluteRow) text.push_back(u'$');
  text += decimal(cell.row() + 1);
  return text;
}

std::u16string rangeText(const RangeRef& range, bool absolute) {
  if (!isValidRange(range)) return std::u16string();
  std::u16string text = cellText(range.first, absolute, absolute);
  if (range.first.row() != range.last.row() || range.first.column() != range.last.column()) {
    text.push_back(u':');
    text += cellText(range.last, absolute, absolute);
  }
  return text;
}

}  // namespace korvel
