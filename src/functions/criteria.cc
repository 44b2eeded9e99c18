// Criteria as the host program reads them in COUNTIF and its relatives. Matching follows the
// host's habits: numbers meet numbers and texts meet texts by the operator; a number cell and a
// criterion text that reads as a number compare as numbers; a text cell that reads as a number
// equals a number criterion ("=23" finds "23") but is never less or greater than it, and "<>23"
// counts it too; any other pairing of kinds only satisfies "<>".
// An error criterion, given as a value or as its text, finds the cells holding that error.
// An empty criterion value ("=" or "<>" alone) tests for blank positions, and a criterion of the
// empty text tests equality, so it also finds blank positions.
#include "functions/criteria.h"

#include <algorithm>
#include <string_view>

#include "engine/engine.h"
#include "engine/locale_settings.h"
#include "engine/number_text.h"
#include "engine/value_convert.h"
#include "functions/arguments.h"
#include "functions/wildcard.h"
#include "model/address.h"
#include "util/text.h"

namespace korvel {
namespace {

const Value& emptyValue() {
  static const Value empty;
  return empty;
}

bool compareValues(int op, const Value& cell, const Value& criterion) {
  switch (op) {
    case kCriterionEqual:
      return equals(cell, criterion);
    case kCriterionLess:
      return less(cell, criterion);
    case kCriterionGreater:
      return greater(cell, criterion);
    case kCriterionLessOrEqual:
      return lessOrEqual(cell, criterion);
    case kCriterionGreaterOrEqual:
      return greaterOrEqual(cell, criterion);
    case kCriterionNotEqual:
      return notEqual(cell, criterion);
    default:
      return false;
  }
}

bool compareNumbers(int op, double cell, double criterion) {
  switch (op) {
    case kCriterionEqual:
      return numbersEqual(cell, criterion);
    case kCriterionLess:
      return numberGreater(criterion, cell);
    case kCriterionGreater:
      return numberGreater(cell, criterion);
    case kCriterionLessOrEqual:
      return numberGreater(criterion, cell) || numbersEqual(cell, criterion);
    case kCriterionGreaterOrEqual:
      return numberGreater(cell, criterion) || numbersEqual(cell, criterion);
    case kCriterionNotEqual:
      return !numbersEqual(cell, criterion);
    default:
      return false;
  }
}

bool sameFamily(const Value& a, const Value& b) {
  if (a.isNumeric()) return b.isNumeric();
  if (a.isText()) return b.isText();
  return a.kind() == b.kind();
}

// The value a criteria argument stands for: arrays by their first element, references (also the
// first of a list) by their top-left cell.
Value criterionSource(const CallContext& context, const Value& argument) {
  const Value* source = &argument;
  if (source->hasArray()) {
    if (source->array().elements().empty()) return Value();
    source = &source->array().elements().front();
  }
  if (source->isReference()) {
    RangeRef range = normalizeRange(source->reference());
    if (!isValidRange(range)) return Value::error(kErrorRef);
    return cellValueAt(context, range.first);
  }
  if (source->hasArray()) return Value();
  return *source;
}

void parseText(std::u16string_view text, bool date1904, Criterion& criterion) {
  if (text.size() >= 2) {
    std::u16string_view two = text.substr(0, 2);
    int op = two == u"<="   ? kCriterionLessOrEqual
             : two == u">=" ? kCriterionGreaterOrEqual
             : two == u"<>" ? kCriterionNotEqual
             : two == u"'=" ? kCriterionEqual
                            : -2;
    if (op != -2) {
      criterion.op = op;
      criterion.prefixLength = 2;
    }
  }
  if (criterion.prefixLength == 0 && !text.empty()) {
    char16_t first = text.front();
    if (first == u'>' || first == u'<' || first == u'=') {
      criterion.op = first == u'>'   ? kCriterionGreater
                     : first == u'<' ? kCriterionLess
                                     : kCriterionEqual;
      criterion.prefixLength = 1;
    }
  }
  std::u16string_view rest = text.substr(criterion.prefixLength);
  if (uint32_t code = errorFromText(rest); code != 0) {
    criterion.value.setError(code);
    return;
  }
  if (equalsNoCase(rest, literalText(kTextTrue)) || equalsNoCase(rest, literalText(kTextFalse))) {
    criterion.value.setBoolean(equalsNoCase(rest, literalText(kTextTrue)));
    return;
  }
  double number = 0;
  // After an operator a date or time reads as its serial: ">=2024-07-01" finds later dates.
  if (criterion.prefixLength != 0 &&
      (textToNumber(rest, &number) ||
       toNumberForOperator(Value::text(std::u16string(rest)), date1904, &number))) {
    criterion.value.setNumber(number);
    return;
  }
  if (criterion.prefixLength != 0 && rest.empty()) {
    criterion.value.clear();
    return;
  }
  criterion.value.setText(rest);
  criterion.wildcard = hasPatternCharacter(rest);
  criterion.textIsNumber = textToNumber(rest, &criterion.textNumber);
}

}  // namespace

Criterion parseCriterion(const CallContext& context, const Value& argument) {
  Criterion criterion;
  Value source = criterionSource(context, argument);
  switch (source.kind()) {
    case ValueKind::kEmpty:
      criterion.value.setInteger(0);
      break;
    case ValueKind::kError:
      // An error criterion finds the cells holding that same error, as its error text does:
      // COUNTIF(A:A, NA()) and COUNTIF(A:A, "#N/A") count the same cells.
      criterion.value = source;
      break;
    case ValueKind::kShortText:
    case ValueKind::kLongText:
      parseText(source.text(), context.engine != nullptr && context.engine->date1904, criterion);
      break;
    default:
      criterion.value = source;
      break;
  }
  return criterion;
}

bool matchesCriterion(const Criterion& criterion, const Value& cell) {
  const int op = criterion.op;
  if (op == kCriterionNothing) return false;
  const Value& value = criterion.value;
  if (value.isEmpty()) {
    if (op == kCriterionEqual) return cell.isEmpty();
    return op == kCriterionNotEqual && !cell.isEmpty();
  }
  if (sameFamily(cell, value)) {
    if (criterion.wildcard) {
      bool matched = matchesPattern(cell.text(), value.text());
      return op == kCriterionNotEqual ? !matched : matched;
    }
    return compareValues(op, cell, value);
  }
  if (value.isText() && value.text().empty()) {
    if (op == kCriterionEqual) return equals(cell, value);
    return op == kCriterionNotEqual && !equals(cell, value);
  }
  if (cell.isNumeric() && criterion.textIsNumber) {
    return compareNumbers(op, cell.number(), criterion.textNumber);
  }
  if (cell.isText() && value.isNumeric() && op == kCriterionEqual) {
    double number = 0;
    return textToNumber(cell.text(), &number) && compareNumbers(op, number, value.number());
  }
  return op == kCriterionNotEqual;
}

bool RangeSource::assign(const CallContext& context, const Value& argument) {
  *this = RangeSource();
  const Value* source = &argument;
  if (source->isReferenceList()) {
    // A list of one reference is that reference; a real union is no range.
    if (source->array().elements().size() != 1) return false;
    source = &source->array().elements().front();
  }
  if (source->isReference()) {
    RangeRef range = normalizeRange(source->reference());
    if (!isValidRange(range) || range.first.sheet() != range.last.sheet()) return false;
    context_ = &context;
    reference_ = true;
    sheet_ = range.first.sheet();
    top_ = range.first.row();
    left_ = range.first.column();
    rows_ = range.last.row() - top_ + 1;
    columns_ = range.last.column() - left_ + 1;
    return true;
  }
  if (source->isError() || (source->isText() && isErrorText(source->text()))) return false;
  value_ = source;
  if (source->isArray()) {
    columns_ = source->array().columns();
    rows_ = source->array().size() == 0 ? 0 : source->array().rows();
  } else {
    columns_ = rows_ = 1;
  }
  return true;
}

void RangeSource::resizeTo(uint32_t columns, uint32_t rows) {
  if (!reference_) return;
  columns_ = uint32_t(std::min<uint64_t>(columns, uint64_t(maxColumn()) - left_ + 1));
  rows_ = uint32_t(std::min<uint64_t>(rows, uint64_t(maxRow()) - top_ + 1));
}

const Value& RangeSource::at(uint32_t column, uint32_t row) const {
  if (reference_) return cellValueAt(*context_, CellRef::at(sheet_, top_ + row, left_ + column));
  if (value_ == nullptr || column >= columns_ || row >= rows_) return emptyValue();
  if (value_->isArray()) return value_->array().at(column, row);
  return *value_;
}

int64_t RangeSource::lastRow(uint32_t column) const {
  if (!reference_) return int64_t(rows_) - 1;
  int64_t last = lastStoredRow(*context_, sheet_, left_ + column);
  if (last < int64_t(top_)) return -1;
  return std::min<int64_t>(last - top_, int64_t(rows_) - 1);
}

}  // namespace korvel
