// A single pass over the text. Words (runs of letters, digits, "_", ".", "\" and "$") are the
// only things that can be references; what follows a word tells a function or a sheet name from
// a reference, and a ":" between two words of the same shape makes a range.

#include "compiler/formula_shift.h"

namespace korvel {
namespace {

constexpr int64_t kMaxRows = 1048576;
constexpr int64_t kMaxColumns = 16384;

bool isWordUnit(char16_t c) {
  return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') ||
         c == u'_' || c == u'.' || c == u'\\' || c == u'$' || c >= 0x80;
}

enum class Shape { kNone, kCell, kColumn, kRow };

// One end of a reference as written: "$B$7", "C", "$12".
struct Part {
  Shape shape = Shape::kNone;
  bool absoluteColumn = false;
  bool absoluteRow = false;
  int64_t column = 0;  // 0-based
  int64_t row = 0;     // 0-based
};

Part readPart(std::u16string_view word) {
  Part part;
  size_t i = 0;
  bool dollar = i < word.size() && word[i] == u'$';
  if (dollar) ++i;
  size_t letters = 0;
  int64_t column = 0;
  while (i < word.size() && letters < 4) {
    char16_t c = word[i];
    if (c >= u'a' && c <= u'z') c = char16_t(c - u'a' + u'A');
    if (c < u'A' || c > u'Z') break;
    column = column * 26 + (c - u'A' + 1);
    ++letters;
    ++i;
  }
  if (letters > 3 || (letters > 0 && column > kMaxColumns)) return Part{};
  if (letters > 0) {
    part.absoluteColumn = dollar;
    part.column = column - 1;
    if (i == word.size()) {
      part.shape = Shape::kColumn;
      return part;
    }
    dollar = word[i] == u'$';
    if (dollar) ++i;
  }
  size_t digits = 0;
  int64_t row = 0;
  while (i < word.size() && word[i] >= u'0' && word[i] <= u'9' && digits < 8) {
    row = row * 10 + (word[i] - u'0');
    ++digits;
    ++i;
  }
  if (digits == 0 || i != word.size() || row < 1 || row > kMaxRows) return Part{};
  part.absoluteRow = dollar;
  part.row = row - 1;
  part.shape = letters > 0 ? Shape::kCell : Shape::kRow;
  return part;
}

// Moves the relative parts; false when one leaves the sheet.
bool move(Part& part, int64_t rows, int64_t columns) {
  if (part.shape != Shape::kRow && !part.absoluteColumn) {
    part.column += columns;
    if (part.column < 0 || part.column >= kMaxColumns) return false;
  }
  if (part.shape != Shape::kColumn && !part.absoluteRow) {
    part.row += rows;
    if (part.row < 0 || part.row >= kMaxRows) return false;
  }
  return true;
}

void write(const Part& part, std::u16string& out) {
  if (part.shape != Shape::kRow) {
    if (part.absoluteColumn) out += u'$';
    char16_t letters[3];
    int n = 0;
    for (int64_t c = part.column + 1; c > 0; c = (c - 1) / 26)
      letters[n++] = char16_t(u'A' + (c - 1) % 26);
    while (n > 0) out += letters[--n];
  }
  if (part.shape != Shape::kColumn) {
    if (part.absoluteRow) out += u'$';
    std::string digits = std::to_string(part.row + 1);
    out.append(digits.begin(), digits.end());
  }
}

class Shifter {
 public:
  Shifter(std::u16string_view text, int64_t rows, int64_t columns)
      : text_(text), rows_(rows), columns_(columns) {}

  std::u16string run() {
    out_.reserve(text_.size() + 8);
    while (i_ < text_.size()) {
      char16_t c = text_[i_];
      if (c == u'"') {
        copyQuoted(u'"');
        prefix_ = false;
      } else if (c == u'\'') {
        size_t start = out_.size();
        copyQuoted(u'\'');
        startPrefixIfSheet(start);
      } else if (c == u'[') {
        copyBracketed();
      } else if (c == u'{') {
        copyArrayConstant();
        prefix_ = false;
      } else if (c == u'#') {
        copyErrorLiteral();
        prefix_ = false;
      } else if (isWordUnit(c)) {
        readWord();
      } else {
        out_ += c;
        ++i_;
        prefix_ = false;
      }
    }
    return std::move(out_);
  }

 private:
  // Copies a quoted text or sheet name; a doubled quote stays inside.
  void copyQuoted(char16_t quote) {
    out_ += text_[i_++];
    while (i_ < text_.size()) {
      char16_t c = text_[i_++];
      out_ += c;
      if (c == quote) {
        if (i_ < text_.size() && text_[i_] == quote) {
          out_ += text_[i_++];
          continue;
        }
        return;
      }
    }
  }

  void copyBracketed() {
    int depth = 0;
    while (i_ < text_.size()) {
      char16_t c = text_[i_++];
      out_ += c;
      if (c == u'[') ++depth;
      if (c == u']' && --depth == 0) return;
    }
  }

  void copyArrayConstant() {
    while (i_ < text_.size()) {
      if (text_[i_] == u'"') {
        copyQuoted(u'"');
        continue;
      }
      char16_t c = text_[i_++];
      out_ += c;
      if (c == u'}') return;
    }
  }

  void copyErrorLiteral() {
    out_ += text_[i_++];
    while (i_ < text_.size()) {
      char16_t c = text_[i_];
      bool part = isWordUnit(c) || c == u'/';
      bool last = c == u'!' || c == u'?';
      if (!part && !last) return;
      out_ += c;
      ++i_;
      if (last) return;
    }
  }

  // After a sheet name or a quoted name: when "!" follows, the reference that comes next starts
  // at start, so that #REF! replaces the qualifier too.
  void startPrefixIfSheet(size_t start) {
    if (i_ < text_.size() && text_[i_] == u'!') {
      out_ += u'!';
      ++i_;
      if (!prefix_) prefixStart_ = start;
      prefix_ = true;
    } else {
      prefix_ = false;
    }
  }

  std::u16string_view wordAt(size_t at) const {
    size_t end = at;
    while (end < text_.size() && isWordUnit(text_[end])) ++end;
    return text_.substr(at, end - at);
  }

  bool followedByCallOrSheet(size_t end) const {
    return end < text_.size() && (text_[end] == u'(' || text_[end] == u'!');
  }

  void readWord() {
    size_t start = out_.size();
    std::u16string_view word = wordAt(i_);
    size_t end = i_ + word.size();
    if (end < text_.size() && text_[end] == u'!') {
      out_.append(word);
      i_ = end;
      startPrefixIfSheet(start);
      return;
    }
    // Sheet1:Sheet3! qualifies a reference across several sheets.
    if (end < text_.size() && text_[end] == u':') {
      std::u16string_view last = wordAt(end + 1);
      size_t lastEnd = end + 1 + last.size();
      if (!last.empty() && lastEnd < text_.size() && text_[lastEnd] == u'!') {
        out_.append(text_.substr(i_, lastEnd - i_));
        i_ = lastEnd;
        prefix_ = false;
        startPrefixIfSheet(start);
        return;
      }
    }
    size_t referenceStart = prefix_ ? prefixStart_ : start;
    prefix_ = false;
    Part first = followedByCallOrSheet(end) ? Part{} : readPart(word);
    if (first.shape == Shape::kNone) {
      out_.append(word);
      i_ = end;
      return;
    }
    // A range: a ":" and a second word of the same shape.
    if (end < text_.size() && text_[end] == u':') {
      std::u16string_view second = wordAt(end + 1);
      size_t secondEnd = end + 1 + second.size();
      Part last = followedByCallOrSheet(secondEnd) ? Part{} : readPart(second);
      if (last.shape == first.shape) {
        i_ = secondEnd;
        if (!move(first, rows_, columns_) || !move(last, rows_, columns_))
          return refError(referenceStart);
        write(first, out_);
        out_ += u':';
        write(last, out_);
        return;
      }
    }
    i_ = end;
    if (first.shape != Shape::kCell) {
      out_.append(word);  // a lone column or row is a name, not a reference
      return;
    }
    if (!move(first, rows_, columns_)) return refError(referenceStart);
    write(first, out_);
  }

  void refError(size_t referenceStart) {
    out_.resize(referenceStart);
    out_ += u"#REF!";
  }

  std::u16string_view text_;
  int64_t rows_;
  int64_t columns_;
  size_t i_ = 0;
  std::u16string out_;
  bool prefix_ = false;  // a sheet qualifier was just written
  size_t prefixStart_ = 0;
};

}  // namespace

std::u16string shiftFormula(std::u16string_view formula, int64_t rows, int64_t columns) {
  return Shifter(formula, rows, columns).run();
}

}  // namespace korvel
