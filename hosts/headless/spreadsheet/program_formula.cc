#include "hosts/headless/spreadsheet/program_formula.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "engine/number_text.h"
#include "engine/value.h"
#include "engine/value_convert.h"

namespace korvel {
namespace {

struct ErrorText {
  uint32_t code;
  std::u16string_view text;
};

constexpr ErrorText kErrorTexts[] = {
    {kCellErrorNull, u"#NULL!"}, {kCellErrorDiv0, u"#DIV/0!"}, {kCellErrorValue, u"#VALUE!"},
    {kCellErrorRef, u"#REF!"},   {kCellErrorName, u"#NAME?"},  {kCellErrorNum, u"#NUM!"},
    {kCellErrorNA, u"#N/A"},
};

// Nesting deeper than this is refused rather than recursed into.
constexpr int kMaxDepth = 100;

bool isSpace(char16_t c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r'; }
bool isDigit(char16_t c) { return c >= u'0' && c <= u'9'; }
bool isNameChar(char16_t c) {
  return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || isDigit(c) || c == u'_' ||
         c == u'.' || c == u'$' || c >= 0x80;
}

bool sameTextIgnoringCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char16_t x = a[i] >= u'a' && a[i] <= u'z' ? char16_t(a[i] - 32) : a[i];
    char16_t y = b[i] >= u'a' && b[i] <= u'z' ? char16_t(b[i] - 32) : b[i];
    if (x != y) return false;
  }
  return true;
}

// A plain decimal number ("12", "-1.5", "2E3"), the way the program reads text used as a number.
std::optional<double> parseNumber(std::u16string_view text) {
  std::string ascii;
  for (char16_t c : text) {
    if (c >= 0x80) return std::nullopt;
    ascii += char(c);
  }
  size_t start = ascii.find_first_not_of(' ');
  size_t end = ascii.find_last_not_of(' ');
  if (start == std::string::npos) return std::nullopt;
  ascii = ascii.substr(start, end - start + 1);
  for (char c : ascii) {
    if (!(isdigit(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '+' || c == 'e' ||
          c == 'E')) {
      return std::nullopt;
    }
  }
  char* stop = nullptr;
  double value = std::strtod(ascii.c_str(), &stop);
  if (stop != ascii.c_str() + ascii.size() || !std::isfinite(value)) return std::nullopt;
  return value;
}

class Parser {
 public:
  Parser(std::u16string_view text, const FormulaCellReader& read) : text_(text), read_(read) {}

  FormulaOutcome run() {
    FormulaOutcome outcome;
    Variant value = expression(0);
    skipSpaces();
    if (!unsupported_ && position_ != text_.size()) unsupported_ = true;
    outcome.unsupported = unsupported_;
    outcome.value = unsupported_ ? Variant::error(kCellErrorName) : std::move(value);
    return outcome;
  }

 private:
  void skipSpaces() {
    while (position_ < text_.size() && isSpace(text_[position_])) ++position_;
  }
  bool take(char16_t c) {
    skipSpaces();
    if (position_ < text_.size() && text_[position_] == c) {
      ++position_;
      return true;
    }
    return false;
  }

  Variant fail() {
    unsupported_ = true;
    return Variant::error(kCellErrorName);
  }

  Variant expression(int depth) {
    if (depth > kMaxDepth) return fail();
    Variant left = term(depth);
    for (;;) {
      if (unsupported_) return left;
      if (take(u'+')) {
        left = arithmetic(left, term(depth), u'+');
      } else if (take(u'-')) {
        left = arithmetic(left, term(depth), u'-');
      } else {
        return left;
      }
    }
  }

  Variant term(int depth) {
    Variant left = unary(depth);
    for (;;) {
      if (unsupported_) return left;
      if (take(u'*')) {
        left = arithmetic(left, unary(depth), u'*');
      } else if (take(u'/')) {
        left = arithmetic(left, unary(depth), u'/');
      } else {
        return left;
      }
    }
  }

  Variant unary(int depth) {
    if (depth > kMaxDepth) return fail();
    if (take(u'-')) return arithmetic(Variant::r8(0), unary(depth + 1), u'-');
    if (take(u'+')) return arithmetic(Variant::r8(0), unary(depth + 1), u'+');
    return primary(depth);
  }

  Variant primary(int depth) {
    skipSpaces();
    if (position_ >= text_.size()) return fail();
    char16_t c = text_[position_];
    if (c == u'(') {
      ++position_;
      Variant inner = expression(depth + 1);
      if (!take(u')')) return fail();
      return inner;
    }
    if (c == u'"') return textLiteral();
    if (isDigit(c) || c == u'.') return numberLiteral();
    if (c == u'\'' || isNameChar(c)) return referenceOrName();
    return fail();
  }

  Variant textLiteral() {
    std::u16string text;
    ++position_;
    for (;;) {
      if (position_ >= text_.size()) return fail();
      char16_t c = text_[position_++];
      if (c == u'"') {
        if (position_ < text_.size() && text_[position_] == u'"') {
          text += u'"';
          ++position_;
          continue;
        }
        return Variant::text(std::move(text));
      }
      text += c;
    }
  }

  Variant numberLiteral() {
    size_t start = position_;
    while (position_ < text_.size() && (isDigit(text_[position_]) || text_[position_] == u'.')) {
      ++position_;
    }
    if (position_ < text_.size() && (text_[position_] == u'e' || text_[position_] == u'E')) {
      size_t mark = position_++;
      if (position_ < text_.size() && (text_[position_] == u'+' || text_[position_] == u'-')) {
        ++position_;
      }
      if (position_ >= text_.size() || !isDigit(text_[position_])) {
        position_ = mark;
      } else {
        while (position_ < text_.size() && isDigit(text_[position_])) ++position_;
      }
    }
    std::optional<double> value = parseNumber(text_.substr(start, position_ - start));
    if (!value) return fail();
    return Variant::r8(*value);
  }

  Variant referenceOrName() {
    std::u16string sheet;
    if (text_[position_] == u'\'') {
      ++position_;
      for (;;) {
        if (position_ >= text_.size()) return fail();
        char16_t c = text_[position_++];
        if (c == u'\'') {
          if (position_ < text_.size() && text_[position_] == u'\'') {
            sheet += u'\'';
            ++position_;
            continue;
          }
          break;
        }
        sheet += c;
      }
      if (position_ >= text_.size() || text_[position_] != u'!') return fail();
      ++position_;
    }
    std::u16string_view word = name();
    if (sheet.empty() && position_ < text_.size() && text_[position_] == u'!') {
      sheet = std::u16string(word);
      ++position_;
      word = name();
    }
    if (sheet.empty() &&
        (sameTextIgnoringCase(word, u"TRUE") || sameTextIgnoringCase(word, u"FALSE"))) {
      if (position_ < text_.size() && text_[position_] == u'(') return fail();
      return Variant::boolean(sameTextIgnoringCase(word, u"TRUE"));
    }
    std::optional<CellArea> first = parseA1Area(word);
    if (!first) return fail();  // a function or a defined name
    CellArea area = *first;
    if (position_ < text_.size() && text_[position_] == u':') {
      ++position_;
      std::optional<CellArea> second = parseA1Area(name());
      if (!second) return fail();
      area.lastRow = std::max(area.lastRow, second->lastRow);
      area.lastColumn = std::max(area.lastColumn, second->lastColumn);
      area.firstRow = std::min(area.firstRow, second->firstRow);
      area.firstColumn = std::min(area.firstColumn, second->firstColumn);
    }
    if (area.cellCount() != 1) return Variant::error(kCellErrorValue);
    std::optional<Variant> value = read_(sheet, area.firstRow, area.firstColumn);
    if (!value) return Variant::error(kCellErrorRef);
    if (value->isEmpty()) return Variant::r8(0);
    return *value;
  }

  std::u16string_view name() {
    size_t start = position_;
    while (position_ < text_.size() && isNameChar(text_[position_])) ++position_;
    return text_.substr(start, position_ - start);
  }

  static Variant arithmetic(const Variant& left, const Variant& right, char16_t op) {
    if (left.type() == VarType::kError) return left;
    if (right.type() == VarType::kError) return right;
    std::optional<double> a = numberOf(left);
    std::optional<double> b = numberOf(right);
    if (!a || !b) return Variant::error(kCellErrorValue);
    double result = 0;
    switch (op) {
      case u'+':
        result = *a + *b;
        break;
      case u'-':
        result = *a - *b;
        break;
      case u'*':
        result = *a * *b;
        break;
      default:
        if (*b == 0) return Variant::error(kCellErrorDiv0);
        result = *a / *b;
    }
    if (!std::isfinite(result)) return Variant::error(kCellErrorNum);
    return Variant::r8(result);
  }

  static std::optional<double> numberOf(const Variant& value) {
    switch (value.type()) {
      case VarType::kEmpty:
        return 0.0;
      case VarType::kR8:
        return value.real();
      case VarType::kBool:
        return value.boolean() ? 1.0 : 0.0;
      case VarType::kBstr:
        return parseNumber(value.text());
      default:
        if (value.isInteger()) return double(value.integer());
        return std::nullopt;
    }
  }

  std::u16string_view text_;
  const FormulaCellReader& read_;
  size_t position_ = 0;
  bool unsupported_ = false;
};

std::u16string_view withoutEquals(std::u16string_view formula) {
  if (!formula.empty() && formula[0] == u'=') formula.remove_prefix(1);
  return formula;
}

}  // namespace

std::u16string cellErrorText(uint32_t code) {
  for (const ErrorText& e : kErrorTexts) {
    if (e.code == code) return std::u16string(e.text);
  }
  return {};
}

uint32_t cellErrorCode(std::u16string_view text) {
  for (const ErrorText& e : kErrorTexts) {
    if (sameTextIgnoringCase(e.text, text)) return e.code;
  }
  return 0;
}

FormulaOutcome evaluateFormula(std::u16string_view formula, const FormulaCellReader& read) {
  return Parser(withoutEquals(formula), read).run();
}

std::vector<FormulaReference> formulaReferences(std::u16string_view formula) {
  // A scan rather than a parse: references inside functions the program cannot compute count too.
  std::u16string_view text = withoutEquals(formula);
  std::vector<FormulaReference> references;
  size_t i = 0;
  auto word = [&] {
    size_t start = i;
    while (i < text.size() && isNameChar(text[i])) ++i;
    return text.substr(start, i - start);
  };
  while (i < text.size()) {
    char16_t c = text[i];
    if (c == u'"') {
      for (++i; i < text.size(); ++i) {
        if (text[i] == u'"') {
          if (i + 1 < text.size() && text[i + 1] == u'"') {
            ++i;
            continue;
          }
          break;
        }
      }
      ++i;
      continue;
    }
    if (c != u'\'' && !isNameChar(c)) {
      ++i;
      continue;
    }
    std::u16string sheet;
    if (c == u'\'') {
      for (++i; i < text.size(); ++i) {
        if (text[i] == u'\'') {
          if (i + 1 < text.size() && text[i + 1] == u'\'') {
            sheet += u'\'';
            ++i;
            continue;
          }
          break;
        }
        sheet += text[i];
      }
      i += 1;
      if (i >= text.size() || text[i] != u'!') continue;
      ++i;
    }
    std::u16string_view first = word();
    if (sheet.empty() && i < text.size() && text[i] == u'!') {
      sheet = std::u16string(first);
      ++i;
      first = word();
    }
    if (i < text.size() && text[i] == u'(') continue;  // a function's name
    std::optional<CellArea> area = parseA1Area(first);
    if (!area) continue;
    if (i < text.size() && text[i] == u':') {
      ++i;
      if (std::optional<CellArea> second = parseA1Area(word())) {
        area->firstRow = std::min(area->firstRow, second->firstRow);
        area->firstColumn = std::min(area->firstColumn, second->firstColumn);
        area->lastRow = std::max(area->lastRow, second->lastRow);
        area->lastColumn = std::max(area->lastColumn, second->lastColumn);
      }
    }
    references.push_back({sheet, *area});
  }
  return references;
}

// The program shows numbers as its automation turns them into text, which the engine's number
// texts follow too: fifteen significant digits, the exponent form outside 1e-14..1e15.
std::u16string generalNumberText(double value) { return numberToText(value); }

std::optional<double> parseCellNumber(std::u16string_view text) { return parseNumber(text); }

std::optional<TypedNumber> readTypedNumber(std::u16string_view text, bool date1904) {
  TypedNumber typed;
  if (textToNumber(text, &typed.number)) {
    size_t last = text.find_last_not_of(u" \t");
    if (last != std::u16string_view::npos && text[last] == u'%') {
      typed.format = text.find(u'.') == std::u16string_view::npos ? u"0%" : u"0.00%";
    }
    return typed;
  }
  if (!toNumberForOperator(Value::text(std::u16string(text)), date1904, &typed.number)) {
    return std::nullopt;
  }
  double whole = std::floor(typed.number);
  if (whole == 0) {
    typed.format = u"hh:mm";
  } else if (whole != typed.number) {
    typed.format = u"yyyy-mm-dd hh:mm";
  } else {
    typed.format = u"yyyy-mm-dd";
  }
  return typed;
}

}  // namespace korvel
