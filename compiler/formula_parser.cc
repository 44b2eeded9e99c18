// Recursive descent over the formula's UTF-16 units. Only the first fault is reported: later
// faults are usually consequences of it.

#include "compiler/formula_parser.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <utility>

#include "model/address.h"
#include "model/nodes/node.h"
#include "util/text.h"

namespace korvel {
namespace {

// The host program's own limits: longer formulas and texts cannot come from a workbook, and the
// length limit bounds the depth of operator chains, which later passes walk recursively.
constexpr size_t kMaxFormulaUnits = 8192;
constexpr size_t kMaxFormulaTextUnits = 255;
constexpr size_t kMaxCellTextUnits = 32767;
constexpr int kMaxNesting = 200;
constexpr uint32_t kMaxTreeHeight = 1000;
constexpr uint32_t kRowCount = 1048576;
constexpr uint32_t kColumnCount = 16384;

using NodePtr = std::unique_ptr<SyntaxNode>;

bool isSpace(char16_t c) { return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r'; }

// Letters of names: the folded letter ranges and, generously, anything beyond ASCII that is not
// a space, so that names in other scripts pass.
bool isNameLetter(char16_t c) { return isLetter(c) || (c >= 0x80 && c != 0xA0); }

bool isWordUnit(char16_t c) {
  return isNameLetter(c) || isDigit(c) || c == u'_' || c == u'.' || c == u'\\' || c == u'$' ||
         c == u'?';
}

bool startsWord(char16_t c) { return isNameLetter(c) || c == u'_' || c == u'\\' || c == u'$'; }

std::string quoted(std::u16string_view text) { return "'" + toUtf8(text) + "'"; }

// "$AB" or "AB": a column of the full sheet size. Sets *end to the units taken.
bool readColumn(std::u16string_view w, size_t* end, uint32_t* column, bool* absolute) {
  size_t i = 0;
  *absolute = i < w.size() && w[i] == u'$';
  if (*absolute) ++i;
  size_t start = i;
  while (i < w.size() && i - start < 4 && isAsciiLetter(w[i])) ++i;
  size_t letters = i - start;
  if (letters == 0 || letters > 3) return false;
  int32_t c = columnFromLetters(w.substr(start, letters));
  if (c < 0 || uint32_t(c) >= kColumnCount) return false;
  *column = uint32_t(c);
  *end = i;
  return true;
}

// "$12" or "12": a row of the full sheet size, 0-based in *row.
bool readRow(std::u16string_view w, uint32_t* row, bool* absolute) {
  size_t i = 0;
  *absolute = i < w.size() && w[i] == u'$';
  if (*absolute) ++i;
  if (i == w.size()) return false;
  uint64_t n = 0;
  for (; i < w.size(); ++i) {
    if (!isDigit(w[i])) return false;
    n = n * 10 + (w[i] - u'0');
    if (n > kRowCount) return false;
  }
  if (n == 0) return false;
  *row = uint32_t(n - 1);
  return true;
}

bool readCellAddress(std::u16string_view w, SyntaxCell* out) {
  size_t end = 0;
  SyntaxCell cell;
  if (!readColumn(w, &end, &cell.column, &cell.absoluteColumn)) return false;
  if (!readRow(w.substr(end), &cell.row, &cell.absoluteRow)) return false;
  *out = cell;
  return true;
}

bool readColumnOnly(std::u16string_view w, SyntaxCell* out) {
  size_t end = 0;
  SyntaxCell cell;
  if (!readColumn(w, &end, &cell.column, &cell.absoluteColumn) || end != w.size()) return false;
  *out = cell;
  return true;
}

bool readRowOnly(std::u16string_view w, SyntaxCell* out) {
  SyntaxCell cell;
  if (!readRow(w, &cell.row, &cell.absoluteRow)) return false;
  *out = cell;
  return true;
}

// Row-and-column addresses (R, C, R1C1, RC2 ...), which a name may not look like.
bool looksLikeR1C1(std::u16string_view w) {
  size_t i = 0;
  auto digits = [&] {
    while (i < w.size() && isDigit(w[i])) ++i;
  };
  bool any = false;
  if (i < w.size() && (w[i] == u'R' || w[i] == u'r')) {
    ++i;
    digits();
    any = true;
  }
  if (i < w.size() && (w[i] == u'C' || w[i] == u'c')) {
    ++i;
    digits();
    any = true;
  }
  return any && i == w.size();
}

bool isReferenceLike(const SyntaxNode& node) {
  switch (node.kind) {
    case SyntaxKind::kReference:
    case SyntaxKind::kName:
    case SyntaxKind::kCall:
    case SyntaxKind::kUnion:
    case SyntaxKind::kIntersection:
    case SyntaxKind::kRange:
      return true;
    default:
      return false;
  }
}

struct ErrorLiteral {
  std::u16string_view text;
  uint32_t code;
};
constexpr ErrorLiteral kErrorLiterals[] = {
    {u"#NULL!", kErrorNull}, {u"#DIV/0!", kErrorDiv0}, {u"#VALUE!", kErrorValue},
    {u"#REF!", kErrorRef},   {u"#NAME?", kErrorName},  {u"#NUM!", kErrorNum},
    {u"#N/A", kErrorNA},
};

class Parser {
 public:
  Parser(std::u16string_view text, const char* endName) : text_(text), endName_(endName) {}

  NodePtr parseWholeFormula() {
    if (text_.size() > kMaxFormulaUnits) {
      fail(kMaxFormulaUnits + 1, "the formula is longer than 8192 characters");
      return nullptr;
    }
    skipSpaces();
    if (peek() == u'=') ++pos_;
    skipSpaces();
    if (atEnd()) {
      fail(pos_, "expected a formula after '='");
      return nullptr;
    }
    NodePtr root = parseExpression();
    if (!root) return nullptr;
    skipSpaces();
    if (!atEnd()) {
      fail(pos_, "expected an operator or the end of the formula, found " + found());
      return nullptr;
    }
    return root;
  }

  bool parseWholeConstant(bool allowArray, Value* out) {
    skipSpaces();
    if (atEnd()) {
      fail(pos_, "expected a value");
      return false;
    }
    if (peek() == u'{') {
      if (!allowArray) {
        fail(pos_, "an array constant is only allowed as the value of an array formula");
        return false;
      }
      NodePtr array = parseArray();
      if (!array) return false;
      out->setArray(std::move(array->array));
    } else if (!parseConstantElement(kMaxCellTextUnits, out)) {
      return false;
    }
    skipSpaces();
    if (!atEnd()) {
      fail(pos_, "expected the end of the value, found " + found());
      return false;
    }
    return true;
  }

  const ParseError& error() const { return error_; }

 private:
  bool atEnd() const { return pos_ >= text_.size(); }
  char16_t peek(size_t ahead = 0) const {
    return pos_ + ahead < text_.size() ? text_[pos_ + ahead] : char16_t(0);
  }
  bool skipSpaces() {
    size_t start = pos_;
    while (!atEnd() && isSpace(text_[pos_])) ++pos_;
    return pos_ != start;
  }
  // Records the first fault only; at is 0-based.
  void fail(size_t at, std::string message) {
    if (failed_) return;
    failed_ = true;
    error_.position = at + 1;
    error_.message = "position " + std::to_string(at + 1) + ": " + std::move(message);
  }
  std::string found() const {
    if (atEnd()) return endName_;
    return quoted(text_.substr(pos_, 1));
  }
  NodePtr make(SyntaxKind kind, size_t at) {
    auto node = std::make_unique<SyntaxNode>();
    node->kind = kind;
    node->position = at + 1;
    return node;
  }
  NodePtr binary(SyntaxKind kind, uint8_t code, size_t at, NodePtr left, NodePtr right) {
    NodePtr node = make(kind, at);
    node->code = code;
    node->children.push_back(std::move(left));
    node->children.push_back(std::move(right));
    return measured(std::move(node));
  }
  // Sets the height of a node whose children are complete; null (a fault) past the limit.
  NodePtr measured(NodePtr node) {
    for (const auto& child : node->children) {
      node->height = std::max(node->height, child->height + 1);
    }
    if (node->height <= kMaxTreeHeight) return node;
    fail(node->position - 1, "the formula has more than 1000 levels of operators and calls");
    return nullptr;
  }

  // Nesting guard: parentheses, calls and chains of signs each take a level.
  struct Level {
    explicit Level(Parser& p) : parser(p) { ++parser.depth_; }
    ~Level() { --parser.depth_; }
    bool tooDeep() {
      if (parser.depth_ <= kMaxNesting) return false;
      parser.fail(parser.pos_, "the formula is nested too deeply");
      return true;
    }
    Parser& parser;
  };

  NodePtr parseExpression() {
    Level level(*this);
    if (level.tooDeep()) return nullptr;
    NodePtr left = parseConcatenation();
    while (left) {
      skipSpaces();
      size_t at = pos_;
      uint8_t code = 0;
      char16_t c = peek(), d = peek(1);
      if (c == u'<' && d == u'=') {
        code = kCmpLessOrEqual;
      } else if (c == u'>' && d == u'=') {
        code = kCmpGreaterOrEqual;
      } else if (c == u'<' && d == u'>') {
        code = kCmpNotEqual;
      } else if (c == u'<') {
        code = kCmpLess;
      } else if (c == u'>') {
        code = kCmpGreater;
      } else if (c == u'=') {
        code = kCmpEqual;
      } else {
        break;
      }
      pos_ +=
          (code == kCmpLessOrEqual || code == kCmpGreaterOrEqual || code == kCmpNotEqual) ? 2 : 1;
      NodePtr right = parseConcatenation();
      if (!right) return nullptr;
      left = binary(SyntaxKind::kComparison, code, at, std::move(left), std::move(right));
    }
    return left;
  }

  NodePtr parseConcatenation() {
    NodePtr left = parseAdditive();
    while (left) {
      skipSpaces();
      if (peek() != u'&') break;
      size_t at = pos_++;
      NodePtr right = parseAdditive();
      if (!right) return nullptr;
      left = binary(SyntaxKind::kOperator, kOpConcatenate, at, std::move(left), std::move(right));
    }
    return left;
  }

  NodePtr parseAdditive() {
    NodePtr left = parseMultiplicative();
    while (left) {
      skipSpaces();
      char16_t c = peek();
      if (c != u'+' && c != u'-') break;
      size_t at = pos_++;
      NodePtr right = parseMultiplicative();
      if (!right) return nullptr;
      left = binary(SyntaxKind::kOperator, c == u'+' ? kOpAdd : kOpSubtract, at, std::move(left),
                    std::move(right));
    }
    return left;
  }

  NodePtr parseMultiplicative() {
    NodePtr left = parsePower();
    while (left) {
      skipSpaces();
      char16_t c = peek();
      if (c != u'*' && c != u'/') break;
      size_t at = pos_++;
      NodePtr right = parsePower();
      if (!right) return nullptr;
      left = binary(SyntaxKind::kOperator, c == u'*' ? kOpMultiply : kOpDivide, at, std::move(left),
                    std::move(right));
    }
    return left;
  }

  NodePtr parsePower() {
    NodePtr left = parsePercent();
    while (left) {
      skipSpaces();
      if (peek() != u'^') break;
      size_t at = pos_++;
      NodePtr right = parsePercent();
      if (!right) return nullptr;
      left = binary(SyntaxKind::kOperator, kOpPower, at, std::move(left), std::move(right));
    }
    return left;
  }

  NodePtr parsePercent() {
    NodePtr operand = parseUnary();
    while (operand) {
      skipSpaces();
      if (peek() != u'%') break;
      NodePtr node = make(SyntaxKind::kOperator, pos_++);
      node->code = kOpPercent;
      node->children.push_back(std::move(operand));
      operand = measured(std::move(node));
    }
    return operand;
  }

  NodePtr parseUnary() {
    Level level(*this);
    if (level.tooDeep()) return nullptr;
    skipSpaces();
    char16_t c = peek();
    if (c == u'+') {
      ++pos_;
      return parseUnary();
    }
    if (c == u'-') {
      NodePtr node = make(SyntaxKind::kOperator, pos_++);
      node->code = kOpNegate;
      NodePtr operand = parseUnary();
      if (!operand) return nullptr;
      node->children.push_back(std::move(operand));
      return measured(std::move(node));
    }
    return parseIntersection();
  }

  // A space between two references intersects them; before anything else it is only a space.
  NodePtr parseIntersection() {
    NodePtr left = parseRange();
    if (!left || !isReferenceLike(*left)) return left;
    NodePtr result;
    while (true) {
      size_t before = pos_;
      if (!skipSpaces()) break;
      char16_t c = peek();
      bool operandFollows = startsWord(c) || c == u'\'' || c == u'(' || isDigit(c);
      if (!operandFollows) {
        pos_ = before;
        break;
      }
      size_t at = before;
      NodePtr right = parseRange();
      if (!right) return nullptr;
      if (!isReferenceLike(*right)) {
        fail(right->position - 1, "expected a reference after the space (intersection operator)");
        return nullptr;
      }
      if (!result) {
        result = make(SyntaxKind::kIntersection, at);
        result->children.push_back(std::move(left));
      }
      result->children.push_back(std::move(right));
    }
    return result ? measured(std::move(result)) : std::move(left);
  }

  // The range operator between references that are not both plain cell addresses: the smallest
  // area holding both ends, computed when the formula is. A #REF! end stands for a reference
  // that was deleted: SUM(#REF!:#REF!) is #REF!.
  NodePtr parseRange() {
    auto rangeEnd = [](const SyntaxNode& node) {
      return isReferenceLike(node) ||
             (node.kind == SyntaxKind::kError && node.errorCode == kErrorRef);
    };
    NodePtr left = parsePrimary();
    while (left && rangeEnd(*left) && peek() == u':') {
      size_t at = pos_++;
      NodePtr right = parsePrimary();
      if (!right) return nullptr;
      if (!rangeEnd(*right)) {
        fail(right->position - 1, "expected a reference after ':' (range operator)");
        return nullptr;
      }
      left = binary(SyntaxKind::kRange, 0, at, std::move(left), std::move(right));
    }
    return left;
  }

  NodePtr parsePrimary() {
    skipSpaces();
    if (atEnd()) {
      fail(pos_, "expected a value, a reference, a name or a function, found " + found());
      return nullptr;
    }
    char16_t c = peek();
    if (c == u'$' && isDigit(peek(1))) return parseRowsOrFail(false, u"");
    if (isDigit(c)) {
      if (NodePtr rows = tryRows(false, u"")) return rows;
      return parseNumber();
    }
    if (c == u'.' && isDigit(peek(1))) return parseNumber();
    if (c == u'"') return parseText(kMaxFormulaTextUnits);
    if (c == u'#') return parseError();
    if (c == u'{') return parseArray();
    if (c == u'(') return parseParentheses();
    if (c == u'\'') return parseQuotedSheet();
    if (startsWord(c)) return parseWord();
    fail(pos_, "expected a value, a reference, a name or a function, found " + found());
    return nullptr;
  }

  NodePtr parseNumber() {
    size_t start = pos_;
    while (isDigit(peek())) ++pos_;
    if (peek() == u'.') {
      ++pos_;
      while (isDigit(peek())) ++pos_;
    }
    if ((peek() == u'e' || peek() == u'E') &&
        (isDigit(peek(1)) || ((peek(1) == u'+' || peek(1) == u'-') && isDigit(peek(2))))) {
      pos_ += 2;
      while (isDigit(peek())) ++pos_;
    }
    std::string ascii = toUtf8(text_.substr(start, pos_ - start));
    double x = 0;
    auto [end, ec] = std::from_chars(ascii.data(), ascii.data() + ascii.size(), x);
    if (ec != std::errc() || end != ascii.data() + ascii.size()) {
      fail(start, "the number " + ascii + " is out of range");
      return nullptr;
    }
    NodePtr node = make(SyntaxKind::kNumber, start);
    node->number = x;
    return node;
  }

  NodePtr parseText(size_t maxUnits) {
    size_t start = pos_++;
    std::u16string text;
    while (true) {
      if (atEnd()) {
        fail(start, "the text is not closed: expected '\"'");
        return nullptr;
      }
      char16_t c = text_[pos_++];
      if (c == u'"') {
        if (peek() != u'"') break;
        ++pos_;
      }
      text += c;
    }
    if (text.size() > maxUnits) {
      fail(start, "the text is longer than " + std::to_string(maxUnits) + " characters");
      return nullptr;
    }
    NodePtr node = make(SyntaxKind::kText, start);
    node->text = std::move(text);
    return node;
  }

  NodePtr parseError() {
    for (const ErrorLiteral& literal : kErrorLiterals) {
      if (startsWithNoCase(text_.substr(pos_), literal.text)) {
        NodePtr node = make(SyntaxKind::kError, pos_);
        node->errorCode = literal.code;
        pos_ += literal.text.size();
        return node;
      }
    }
    fail(pos_, "expected an error literal (#NULL!, #DIV/0!, #VALUE!, #REF!, #NAME?, #NUM!, #N/A)");
    return nullptr;
  }

  // One element of an array constant or one constant of the workbook text.
  bool parseConstantElement(size_t maxTextUnits, Value* out) {
    skipSpaces();
    size_t start = pos_;
    char16_t c = peek();
    if (c == u'"') {
      NodePtr text = parseText(maxTextUnits);
      if (!text) return false;
      *out = Value::text(text->text);
      return true;
    }
    if (c == u'#') {
      NodePtr error = parseError();
      if (!error) return false;
      *out = Value::error(error->errorCode);
      return true;
    }
    bool negative = false;
    if (c == u'+' || c == u'-') {
      negative = c == u'-';
      ++pos_;
      c = peek();
    }
    if (isDigit(c) || (c == u'.' && isDigit(peek(1)))) {
      NodePtr number = parseNumber();
      if (!number) return false;
      out->setNumber(negative ? -number->number : number->number);
      return true;
    }
    if (pos_ == start && isNameLetter(c)) {
      size_t end = pos_;
      while (end < text_.size() && isWordUnit(text_[end])) ++end;
      std::u16string_view word = text_.substr(pos_, end - pos_);
      if (equalsNoCase(word, u"TRUE") || equalsNoCase(word, u"FALSE")) {
        *out = Value::boolean(equalsNoCase(word, u"TRUE"));
        pos_ = end;
        return true;
      }
    }
    fail(start,
         "expected a number, a text in double quotes, TRUE, FALSE or an error literal, found " +
             found());
    return false;
  }

  NodePtr parseArray() {
    NodePtr node = make(SyntaxKind::kArray, pos_++);
    std::vector<Value> row;
    bool first = true;
    while (true) {
      Value element;
      if (!parseConstantElement(kMaxFormulaTextUnits, &element)) return nullptr;
      row.push_back(std::move(element));
      skipSpaces();
      char16_t c = peek();
      if (c == u',') {
        ++pos_;
        continue;
      }
      if (c == u';' || c == u'}') {
        size_t at = pos_;
        if (!first && row.size() != node->array.columns()) {
          fail(at, "every row of an array constant needs the same number of columns");
          return nullptr;
        }
        node->array.appendRow(std::move(row));
        row.clear();
        first = false;
        ++pos_;
        if (c == u'}') return node;
        continue;
      }
      fail(pos_, "expected ',', ';' or '}' in the array constant, found " + found());
      return nullptr;
    }
  }

  NodePtr parseParentheses() {
    Level level(*this);
    if (level.tooDeep()) return nullptr;
    size_t open = pos_++;
    NodePtr first = parseExpression();
    if (!first) return nullptr;
    NodePtr result;
    while (true) {
      skipSpaces();
      if (peek() == u')') {
        ++pos_;
        return result ? measured(std::move(result)) : std::move(first);
      }
      if (peek() != u',') {
        fail(pos_, "expected ')' or ',' after the expression in parentheses, found " + found());
        return nullptr;
      }
      ++pos_;
      if (!result) {
        if (!isReferenceLike(*first)) {
          fail(first->position - 1, "expected a reference in the union (the list in parentheses)");
          return nullptr;
        }
        result = make(SyntaxKind::kUnion, open);
        result->children.push_back(std::move(first));
      }
      NodePtr next = parseExpression();
      if (!next) return nullptr;
      if (!isReferenceLike(*next)) {
        fail(next->position - 1, "expected a reference in the union (the list in parentheses)");
        return nullptr;
      }
      result->children.push_back(std::move(next));
    }
  }

  NodePtr parseQuotedSheet() {
    size_t start = pos_++;
    std::u16string sheet;
    while (true) {
      if (atEnd()) {
        fail(start, "the quoted sheet name is not closed: expected an apostrophe");
        return nullptr;
      }
      char16_t c = text_[pos_++];
      if (c == u'\'') {
        if (peek() != u'\'') break;
        ++pos_;
      }
      sheet += c;
    }
    if (peek() != u'!') {
      fail(pos_, "expected '!' after the quoted sheet name, found " + found());
      return nullptr;
    }
    if (sheet.empty()) {
      fail(start, "the sheet name is empty");
      return nullptr;
    }
    ++pos_;
    size_t colon = sheet.find(u':');
    if (colon == std::u16string::npos) return parseQualified(start, sheet);
    return acrossSheets(start, sheet.substr(0, colon), sheet.substr(colon + 1));
  }

  // What follows "First:Last!": a cell or a range on every sheet from First to Last.
  NodePtr acrossSheets(size_t start, const std::u16string& first, const std::u16string& last) {
    if (first.empty() || last.empty()) {
      fail(start, "expected a sheet name on both sides of ':' before '!'");
      return nullptr;
    }
    NodePtr node = parseQualified(start, first);
    if (!node) return nullptr;
    if (node->kind != SyntaxKind::kReference) {
      fail(start, "expected a cell or a range after " + toUtf8(first) + ":" + toUtf8(last) + "!");
      return nullptr;
    }
    node->lastSheet = last;
    return node;
  }

  // What follows "Sheet!": a cell, a range, whole rows or columns, or a name.
  NodePtr parseQualified(size_t start, const std::u16string& sheet) {
    NodePtr node;
    char16_t c = peek();
    if (c == u'$' && isDigit(peek(1))) {
      node = parseRowsOrFail(true, sheet);
    } else if (isDigit(c)) {
      node = parseRowsOrFail(true, sheet);
    } else if (startsWord(c)) {
      size_t wordStart = pos_;
      std::u16string_view word = scanWord();
      node = referenceOrName(wordStart, word, true, sheet);
    } else if (startsWithNoCase(text_.substr(pos_), u"#REF!")) {
      node = parseError();  // a reference whose cells were deleted
    } else {
      fail(pos_, "expected a reference or a name after '!', found " + found());
      return nullptr;
    }
    if (node) node->position = start + 1;
    return node;
  }

  std::u16string_view scanWord() {
    size_t start = pos_;
    while (!atEnd() && isWordUnit(text_[pos_])) ++pos_;
    return text_.substr(start, pos_ - start);
  }

  NodePtr parseWord() {
    size_t start = pos_;
    std::u16string_view word = scanWord();
    if (peek() == u'(') return parseCall(start, word);
    if (peek() == u'!') {
      if (word.find(u'$') != std::u16string_view::npos) {
        fail(start, "expected a sheet name before '!', found " + quoted(word));
        return nullptr;
      }
      ++pos_;
      return parseQualified(start, std::u16string(word));
    }
    if (peek() == u':') {
      // Sheet1:Sheet3!A1 spans several sheets.
      size_t save = pos_;
      ++pos_;
      if (startsWord(peek())) {
        std::u16string_view second = scanWord();
        if (peek() == u'!' && word.find(u'$') == std::u16string_view::npos &&
            second.find(u'$') == std::u16string_view::npos) {
          ++pos_;
          return acrossSheets(start, std::u16string(word), std::u16string(second));
        }
      }
      pos_ = save;
    }
    return referenceOrName(start, word, false, u"");
  }

  NodePtr referenceOrName(size_t start, std::u16string_view word, bool hasSheet,
                          std::u16string_view sheet) {
    auto qualify = [&](NodePtr node) {
      node->hasSheet = hasSheet;
      node->sheet = std::u16string(sheet);
      return node;
    };
    SyntaxCell first;
    if (readCellAddress(word, &first)) {
      NodePtr node = qualify(make(SyntaxKind::kReference, start));
      node->first = node->last = first;
      node->shape = ReferenceShape::kCell;
      if (peek() == u':') {
        size_t colon = pos_++;
        size_t secondStart = pos_;
        std::u16string_view second = scanWord();
        if (readCellAddress(second, &node->last) && peek() != u'(' && peek() != u'!') {
          node->shape = ReferenceShape::kArea;
        } else if (second.empty() && peek() != u'\'' && peek() != u'(') {
          fail(secondStart, "expected a cell address after ':', found " + found());
          return nullptr;
        } else {
          // A1:INDEX(...), A1:Name: the range operator takes it.
          node->last = node->first;
          pos_ = colon;
        }
      }
      return node;
    }
    if (readColumnOnly(word, &first) && peek() == u':') {
      size_t save = pos_++;
      size_t secondStart = pos_;
      std::u16string_view second = scanWord();
      SyntaxCell last;
      if (readColumnOnly(second, &last)) {
        NodePtr node = qualify(make(SyntaxKind::kReference, start));
        node->shape = ReferenceShape::kColumns;
        node->first = first;
        node->last = last;
        return node;
      }
      if (!second.empty()) {
        fail(secondStart, "expected a column after ':', found " + quoted(second));
        return nullptr;
      }
      pos_ = save;
    }
    if (!hasSheet && (equalsNoCase(word, u"TRUE") || equalsNoCase(word, u"FALSE"))) {
      NodePtr node = make(SyntaxKind::kBoolean, start);
      node->boolean = equalsNoCase(word, u"TRUE");
      return node;
    }
    if (!isValidDefinedName(word)) {
      fail(start, "expected a reference or a defined name, found " + quoted(word));
      return nullptr;
    }
    NodePtr node = qualify(make(SyntaxKind::kName, start));
    node->text = std::u16string(word);
    return node;
  }

  // "1:3" or "$1:$3" at the current position, or null with nothing consumed.
  NodePtr tryRows(bool hasSheet, std::u16string_view sheet) {
    size_t start = pos_;
    auto rowWord = [&] {
      size_t s = pos_;
      if (peek() == u'$') ++pos_;
      while (isDigit(peek())) ++pos_;
      return text_.substr(s, pos_ - s);
    };
    SyntaxCell first, last;
    bool ok = readRowOnly(rowWord(), &first) && peek() == u':';
    if (ok) {
      ++pos_;
      ok = readRowOnly(rowWord(), &last) && !isWordUnit(peek());
    }
    if (!ok) {
      pos_ = start;
      return nullptr;
    }
    NodePtr node = make(SyntaxKind::kReference, start);
    node->hasSheet = hasSheet;
    node->sheet = std::u16string(sheet);
    node->shape = ReferenceShape::kRows;
    node->first = first;
    node->last = last;
    return node;
  }

  NodePtr parseRowsOrFail(bool hasSheet, std::u16string_view sheet) {
    if (NodePtr rows = tryRows(hasSheet, sheet)) return rows;
    fail(pos_, "expected a cell address or a range of rows such as 1:3");
    return nullptr;
  }

  NodePtr parseCall(size_t start, std::u16string_view name) {
    Level level(*this);
    if (level.tooDeep()) return nullptr;
    if (name.find(u'$') != std::u16string_view::npos || isDigit(name[0])) {
      fail(start, "expected a function name before '(', found " + quoted(name));
      return nullptr;
    }
    NodePtr call = make(SyntaxKind::kCall, start);
    call->text = std::u16string(name);
    if (!parseArguments(*call, name)) return nullptr;
    call = measured(std::move(call));
    // A function written in the formula may be called where it stands: LAMBDA(x,x+1)(3). The
    // call of a value has no name; its first child is what it calls.
    while (isLambdaName(name) && peek() == u'(') {
      NodePtr applied = make(SyntaxKind::kCall, pos_ + 1);
      applied->children.push_back(std::move(call));
      if (!parseArguments(*applied, name)) return nullptr;
      call = measured(std::move(applied));
    }
    return call;
  }

  static bool isLambdaName(std::u16string_view name) {
    return equalsNoCase(name, u"LAMBDA") || equalsNoCase(name, u"_xlfn.LAMBDA");
  }

  // The parenthesised arguments at the current position, appended to call's children.
  bool parseArguments(SyntaxNode& call, std::u16string_view name) {
    ++pos_;  // '('
    skipSpaces();
    if (peek() == u')') {
      ++pos_;
      return true;
    }
    while (true) {
      skipSpaces();
      if (peek() == u',' || peek() == u')') {
        call.children.push_back(make(SyntaxKind::kMissing, pos_));
      } else {
        NodePtr argument = parseExpression();
        if (!argument) return false;
        call.children.push_back(std::move(argument));
      }
      skipSpaces();
      if (peek() == u',') {
        ++pos_;
        continue;
      }
      if (peek() == u')') {
        ++pos_;
        return true;
      }
      fail(pos_, "expected ',' or ')' in the arguments of " + toUtf8(name) + ", found " + found());
      return false;
    }
  }

  std::u16string_view text_;
  const char* endName_;
  size_t pos_ = 0;
  int depth_ = 0;
  bool failed_ = false;
  ParseError error_;
};

std::string numberText(double x) {
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.15g", x);
  return buffer;
}

std::string constantText(const Value& v) {
  switch (v.kind()) {
    case ValueKind::kInteger:
    case ValueKind::kNumber:
      return numberText(v.number());
    case ValueKind::kShortText:
    case ValueKind::kLongText:
      return "\"" + toUtf8(v.text()) + "\"";
    case ValueKind::kBoolean:
      return v.boolean() ? "TRUE" : "FALSE";
    case ValueKind::kError:
      for (const ErrorLiteral& literal : kErrorLiterals) {
        if (literal.code == v.errorCode()) return toUtf8(literal.text);
      }
      return "#?";
    default:
      return "?";
  }
}

std::string cellText(const SyntaxCell& cell, ReferenceShape shape) {
  std::string out;
  if (shape != ReferenceShape::kRows) {
    if (cell.absoluteColumn) out += "$";
    out += toUtf8(columnLetters(cell.column));
  }
  if (shape != ReferenceShape::kColumns) {
    if (cell.absoluteRow) out += "$";
    out += std::to_string(cell.row + 1);
  }
  return out;
}

}  // namespace

std::string SyntaxNode::describe() const {
  std::string qualifier =
      hasSheet ? toUtf8(sheet) + (lastSheet.empty() ? "" : ":" + toUtf8(lastSheet)) + "!" : "";
  switch (kind) {
    case SyntaxKind::kNumber:
      return numberText(number);
    case SyntaxKind::kText:
      return "\"" + toUtf8(text) + "\"";
    case SyntaxKind::kBoolean:
      return boolean ? "TRUE" : "FALSE";
    case SyntaxKind::kError:
      return constantText(Value::error(errorCode));
    case SyntaxKind::kMissing:
      return "_";
    case SyntaxKind::kArray: {
      std::string out = "{";
      for (uint32_t r = 0; r < array.rows(); ++r) {
        if (r) out += ";";
        for (uint32_t c = 0; c < array.columns(); ++c) {
          if (c) out += ",";
          out += constantText(array.at(c, r));
        }
      }
      return out + "}";
    }
    case SyntaxKind::kReference: {
      std::string out = qualifier + cellText(first, shape);
      if (shape != ReferenceShape::kCell) out += ":" + cellText(last, shape);
      return out;
    }
    case SyntaxKind::kName:
      return "name(" + qualifier + toUtf8(text) + ")";
    default:
      break;
  }
  std::string head;
  if (kind == SyntaxKind::kCall) {
    head = text.empty() ? "apply" : toUtf8(text);
  } else if (kind == SyntaxKind::kUnion) {
    head = "union";
  } else if (kind == SyntaxKind::kIntersection) {
    head = "isect";
  } else if (kind == SyntaxKind::kRange) {
    head = "range";
  } else if (kind == SyntaxKind::kComparison) {
    static const char* const kTexts[] = {"?", "<", ">", "<=", ">=", "=", "<>"};
    head = code <= 6 ? kTexts[code] : "?";
  } else {
    static const char* const kTexts[] = {"?", "+", "-", "*", "/", "^", "neg", "&", "%"};
    head = code <= 8 ? kTexts[code] : "?";
  }
  std::string out = "(" + head;
  for (const auto& child : children) out += " " + child->describe();
  return out + ")";
}

std::unique_ptr<SyntaxNode> parseFormula(std::u16string_view text, ParseError* error) {
  Parser parser(text, "the end of the formula");
  NodePtr root = parser.parseWholeFormula();
  if (!root && error) *error = parser.error();
  return root;
}

bool parseConstant(std::u16string_view text, bool allowArray, Value* out, ParseError* error) {
  Parser parser(text, "the end of the value");
  Value value;
  if (!parser.parseWholeConstant(allowArray, &value)) {
    if (error) *error = parser.error();
    return false;
  }
  *out = std::move(value);
  return true;
}

bool parseCellAddress(std::u16string_view text, SyntaxCell* out) {
  return readCellAddress(text, out);
}

uint32_t errorCodeOfLiteral(std::u16string_view text) {
  for (const ErrorLiteral& literal : kErrorLiterals) {
    if (equalsNoCase(text, literal.text)) return literal.code;
  }
  return 0;
}

std::u16string_view errorLiteralText(uint32_t code) {
  for (const ErrorLiteral& literal : kErrorLiterals) {
    if (literal.code == code) return literal.text;
  }
  return u"#VALUE!";
}

bool isValidDefinedName(std::u16string_view text) {
  if (text.empty() || text.size() > 255) return false;
  char16_t c = text[0];
  if (!isNameLetter(c) && c != u'_' && c != u'\\') return false;
  for (char16_t unit : text.substr(1)) {
    if (!isNameLetter(unit) && !isDigit(unit) && unit != u'_' && unit != u'.' && unit != u'\\' &&
        unit != u'?')
      return false;
  }
  if (equalsNoCase(text, u"TRUE") || equalsNoCase(text, u"FALSE")) return false;
  SyntaxCell cell;
  if (readCellAddress(text, &cell)) return false;
  return !looksLikeR1C1(text);
}

}  // namespace korvel
