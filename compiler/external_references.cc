#include "compiler/external_references.h"

#include <algorithm>
#include <charconv>
#include <optional>

#include "compiler/formula_parser.h"
#include "model/address.h"
#include "util/text.h"

namespace korvel {
namespace {

// The most cells a block of another workbook is written out for; the host program caches what
// its formulas read, which is far less in the workbooks met.
constexpr uint64_t kMostBlockCells = 1u << 16;

bool isNameUnit(char16_t c) {
  return isLetter(c) || isDigit(c) || c == u'_' || c == u'.' || c == u'\\' || c >= 0x80;
}

bool isAddressUnit(char16_t c) { return isLetter(c) || isDigit(c) || c == u'$'; }

// The end of the text or quoted name that opens at i (doubled quotes inside), past its last quote.
size_t quotedEnd(std::u16string_view f, size_t i) {
  const char16_t quote = f[i];
  size_t end = i + 1;
  while (end < f.size()) {
    if (f[end] == quote) {
      if (end + 1 < f.size() && f[end + 1] == quote) {
        end += 2;
        continue;
      }
      return end + 1;
    }
    ++end;
  }
  return f.size();
}

std::u16string literal(const Value& value, bool inArray) {
  if (value.isNumeric()) {
    const double x = value.number();
    char buffer[32];
    auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, x);
    std::u16string text = fromUtf8(std::string_view(buffer, size_t(end - buffer)));
    return x < 0 && !inArray ? u"(" + text + u")" : text;
  }
  if (value.isText()) {
    std::u16string out = u"\"";
    for (char16_t c : value.text()) {
      out += c;
      if (c == u'"') out += c;
    }
    return out + u"\"";
  }
  if (value.isBoolean()) return value.boolean() ? u"TRUE" : u"FALSE";
  if (value.isError()) return std::u16string(errorLiteralText(value.errorCode()));
  return u"0";
}

struct Target {
  size_t book = 0;  // 1-based, as written
  std::u16string sheet;
  bool acrossSheets = false;
  size_t end = 0;  // past the "!"
};

// "[n]Sheet!" or "[n]!" at i, unquoted.
std::optional<Target> plainTarget(std::u16string_view f, size_t i) {
  if (f[i] != u'[' || (i > 0 && (isNameUnit(f[i - 1]) || f[i - 1] == u']'))) return std::nullopt;
  size_t j = i + 1;
  Target target;
  while (j < f.size() && isDigit(f[j])) target.book = target.book * 10 + size_t(f[j++] - u'0');
  if (j == i + 1 || j >= f.size() || f[j] != u']') return std::nullopt;
  ++j;
  while (j < f.size() && (isNameUnit(f[j]) || f[j] == u':')) {
    if (f[j] == u':') target.acrossSheets = true;
    target.sheet += f[j++];
  }
  if (j >= f.size() || f[j] != u'!') return std::nullopt;
  target.end = j + 1;
  return target;
}

// "'My sheet'!" at the start of the text: the sheet without its quotes, end past the "!".
std::optional<Target> quotedSheetTarget(std::u16string_view f) {
  const size_t end = quotedEnd(f, 0);
  if (end >= f.size() || f[end] != u'!' || end < 2) return std::nullopt;
  Target target;
  for (size_t k = 1; k + 1 < end; ++k) {
    target.sheet += f[k];
    if (f[k] == u'\'') ++k;
  }
  target.end = end + 1;
  return target;
}

// "'[n]My sheet'!" at i, the quote included.
std::optional<Target> quotedTarget(std::u16string_view f, size_t i) {
  std::optional<Target> target = quotedSheetTarget(f.substr(i));
  if (!target) return std::nullopt;
  const std::u16string inner = std::move(target->sheet);
  if (inner.size() < 3 || inner[0] != u'[') return std::nullopt;
  size_t k = 1;
  target->book = 0;
  while (k < inner.size() && isDigit(inner[k]))
    target->book = target->book * 10 + (inner[k++] - u'0');
  if (k == 1 || k >= inner.size() || inner[k] != u']') return std::nullopt;
  target->sheet = inner.substr(k + 1);
  target->acrossSheets = target->sheet.find(u':') != std::u16string::npos;
  target->end += i;
  return target;
}

class Writer {
 public:
  explicit Writer(const std::vector<ExternalBook>& books) : books_(books) {}

  // The values of the reference that follows the target; *end past what it read.
  std::u16string values(std::u16string_view f, const Target& target, size_t* end) const {
    size_t j = target.end;
    while (j < f.size() && (isAddressUnit(f[j]) || isNameUnit(f[j]))) ++j;
    SyntaxCell first, last;
    const bool cell = parseCellAddress(f.substr(target.end, j - target.end), &first);
    last = first;
    if (cell && j + 1 < f.size() && f[j] == u':') {
      size_t k = j + 1;
      while (k < f.size() && isAddressUnit(f[k])) ++k;
      if (parseCellAddress(f.substr(j + 1, k - j - 1), &last)) j = k;
    }
    *end = j;
    const std::u16string_view word = f.substr(target.end, j - target.end);
    if (!cell && target.sheet.empty() && j < f.size() && f[j] == u'(') {
      // A function of the other workbook's code: a call by its name, which nothing here computes.
      return std::u16string(word);
    }
    if (cell) return block(sheetOf(target), first, last);
    // A name of the other workbook: the cells it refers to.
    const ExternalName* name = nameOf(target, word);
    if (name == nullptr) return u"#REF!";
    std::u16string_view refers = name->refersTo;
    if (!refers.empty() && refers.front() == u'=') refers.remove_prefix(1);
    std::optional<Target> inner;
    if (!refers.empty() && refers.front() == u'\'') {
      inner = quotedSheetTarget(refers);
    } else {
      const size_t bang = refers.find(u'!');
      if (bang != std::u16string_view::npos) {
        inner = Target{target.book, std::u16string(refers.substr(0, bang)), false, bang + 1};
      }
    }
    if (!inner) return u"#REF!";
    inner->book = target.book;
    const std::u16string_view cells = refers.substr(inner->end);
    const size_t colon = cells.find(u':');
    if (!parseCellAddress(cells.substr(0, colon), &first)) return u"#REF!";
    last = first;
    if (colon != std::u16string_view::npos && !parseCellAddress(cells.substr(colon + 1), &last)) {
      return u"#REF!";
    }
    return block(sheetOf(*inner), first, last);
  }

 private:
  const ExternalSheet* sheetOf(const Target& target) const {
    if (target.acrossSheets || target.book == 0 || target.book > books_.size()) return nullptr;
    for (const ExternalSheet& sheet : books_[target.book - 1].sheets) {
      if (equalsNoCase(sheet.name, target.sheet)) return &sheet;
    }
    return nullptr;
  }

  // The literal of one cell, or the array constant of a block, of a cached sheet.
  static std::u16string block(const ExternalSheet* sheet, SyntaxCell first, SyntaxCell last) {
    if (sheet == nullptr || !sheet->cached) return u"#REF!";
    const uint32_t top = std::min(first.row, last.row), bottom = std::max(first.row, last.row);
    const uint32_t left = std::min(first.column, last.column);
    const uint32_t right = std::max(first.column, last.column);
    if (top == bottom && left == right) return literal(cellAt(*sheet, top, left), false);
    if (uint64_t(bottom - top + 1) * (right - left + 1) > kMostBlockCells) return u"#REF!";
    std::u16string out = u"{";
    for (uint32_t r = top; r <= bottom; ++r) {
      if (r > top) out += u';';
      for (uint32_t c = left; c <= right; ++c) {
        if (c > left) out += u',';
        out += literal(cellAt(*sheet, r, c), true);
      }
    }
    return out + u"}";
  }

  // The name of the target's book: the one of the target's sheet first, then the book's own.
  const ExternalName* nameOf(const Target& target, std::u16string_view word) const {
    if (target.acrossSheets || target.book == 0 || target.book > books_.size()) return nullptr;
    const ExternalBook& book = books_[target.book - 1];
    int sheet = -1;
    for (size_t i = 0; i < book.sheets.size() && !target.sheet.empty(); ++i) {
      if (equalsNoCase(book.sheets[i].name, target.sheet)) sheet = int(i);
    }
    const ExternalName* global = nullptr;
    for (const ExternalName& name : book.names) {
      if (!equalsNoCase(name.name, word)) continue;
      if (name.sheet == sheet && sheet >= 0) return &name;
      if (name.sheet < 0) global = &name;
    }
    return global;
  }

  static const Value& cellAt(const ExternalSheet& sheet, uint32_t row, uint32_t column) {
    static const Value kEmpty;
    auto it = sheet.cells.find({row, column});
    return it == sheet.cells.end() ? kEmpty : it->second;
  }

  const std::vector<ExternalBook>& books_;
};

}  // namespace

std::u16string resolveExternalReferences(std::u16string_view f,
                                         const std::vector<ExternalBook>& books) {
  std::u16string out;
  const Writer writer(books);
  size_t i = 0;
  while (i < f.size()) {
    const char16_t c = f[i];
    std::optional<Target> target;
    if (c == u'\'') {
      target = quotedTarget(f, i);
    } else if (c == u'[') {
      target = plainTarget(f, i);
    }
    if (target && target->book == 0) {
      // "[0]" is this workbook.
      if (!target->sheet.empty()) out += quoteSheetName(target->sheet) + u"!";
      i = target->end;
      continue;
    }
    if (target) {
      size_t end = 0;
      out += writer.values(f, *target, &end);
      i = end;
      continue;
    }
    if (c == u'"' || c == u'\'') {
      const size_t end = quotedEnd(f, i);
      out.append(f.substr(i, end - i));
      i = end;
      continue;
    }
    out += c;
    ++i;
  }
  return out;
}

}  // namespace korvel
