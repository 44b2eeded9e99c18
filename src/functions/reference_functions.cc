// INDEX, OFFSET, INDIRECT, ADDRESS, ROW, COLUMN, ROWS, COLUMNS, TRANSPOSE and HYPERLINK: the
// members of the lookup family that build references and reference texts rather than search.
//
// Choices where the host program's behaviour is not pinned down:
// - INDEX: a negative row or column gives #VALUE! on references as on arrays; an area below 1
//   gives #REF! like one beyond the list.
// - OFFSET: a base that is not a reference gives #VALUE!; empty rows, columns, height and width
//   arguments count as left out (0 moves, the base's own size).
// - INDIRECT: a FALSE second argument selects R1C1 as a 0 does; in R1C1 text a bracketed number
//   counts from the cell under calculation and a missing number means its own row or column.
//   Cell texts must name a cell inside the sheet: a row past the last is #REF!, not the last row.
// - ADDRESS: an empty abs argument counts as left out (1); only a1 gives emptiness a meaning.
// - ROW and COLUMN without a cell under calculation give #VALUE!.
// - TRANSPOSE reads a reference's cells as they stand (a blank cell stays blank); #N/A fills only
//   positions that a malformed array cannot supply.
// - HYPERLINK: an empty friendly-name argument counts as left out, so the link text shows.
#include "functions/reference_functions.h"

#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "engine/engine.h"
#include "engine/evaluator.h"
#include "engine/locale_settings.h"
#include "engine/number_text.h"
#include "engine/value_convert.h"
#include "functions/arguments.h"
#include "model/address.h"
#include "model/cell.h"
#include "model/compiled_model.h"
#include "model/model_stream.h"
#include "util/text.h"

namespace korvel {
namespace {

uint32_t currentSheet(const CallContext& context) {
  return context.cell != nullptr && !context.cell->address.isNone() ? context.cell->address.sheet()
                                                                    : 0;
}

bool inArrayFormula(const CallContext& context) {
  return context.cell != nullptr && context.cell->arrayRange() != nullptr &&
         context.cell->hasFlag(kCellArrayMember);
}

RangeRef rangeOn(uint32_t sheet, int64_t firstRow, int64_t firstColumn, int64_t lastRow,
                 int64_t lastColumn) {
  return RangeRef{CellRef::at(sheet, uint32_t(firstRow), uint32_t(firstColumn)),
                  CellRef::at(sheet, uint32_t(lastRow), uint32_t(lastColumn))};
}

// ---- INDEX ----

void indexOfReference(const RangeRef& source, double row, double column, Value& result) {
  RangeRef range = normalizeRange(source);
  if (!isValidRange(range) || range.first.sheet() != range.last.sheet()) {
    result.setError(kErrorRef);
    return;
  }
  if (row < 0 || column < 0) {
    result.setError(kErrorValue);
    return;
  }
  const double height = range.last.row() - range.first.row() + 1.0;
  const double width = range.last.column() - range.first.column() + 1.0;
  if (row > height || column > width) {
    result.setError(kErrorRef);
    return;
  }
  const uint32_t sheet = range.first.sheet();
  int64_t top = range.first.row(), bottom = range.last.row();
  int64_t left = range.first.column(), right = range.last.column();
  if (row > 0) top = bottom = top + int64_t(row) - 1;
  if (column > 0) left = right = left + int64_t(column) - 1;
  RangeRef found = rangeOn(sheet, top, left, bottom, right);
  result.setReference(found.first, found.last);
}

void indexOfArray(const ValueArray& array, double row, double column, Value& result) {
  const uint32_t rows = array.rows(), columns = array.columns();
  if (row < 0 || column < 0 || row > rows || column > columns ||
      array.size() != size_t(rows) * columns) {
    result.setError(kErrorValue);
    return;
  }
  const uint32_t r = uint32_t(row), c = uint32_t(column);
  if (r == 0 && c == 0) {
    result.setArray(ValueArray(array));
  } else if (r == 0) {
    ValueArray part(1, rows);
    for (uint32_t i = 0; i < rows; ++i) part.at(0, i) = array.at(c - 1, i);
    result.setArray(std::move(part));
  } else if (c == 0) {
    ValueArray part(columns, 1);
    for (uint32_t i = 0; i < columns; ++i) part.at(i, 0) = array.at(i, r - 1);
    result.setArray(std::move(part));
  } else {
    result = Value(array.at(c - 1, r - 1));
  }
}

// ---- OFFSET ----

// A height or width made whole by the host program's rounding, which treats a small fraction as
// a request for two cells and rounds up only fractions within single precision of the next whole.
double wholeExtent(double x) {
  const double tiny = std::ldexp(1.0, -23);
  if (x == 0) return 0;
  if (x >= -tiny && x < 1) return 2;
  if (x < 0) return x - std::trunc(x) <= -tiny ? std::floor(x) : std::trunc(x);
  const double fraction = x - std::floor(x);
  if (fraction == 0) return x;
  return fraction < 0.9999998807907104 ? std::floor(x) : std::ceil(x);
}

bool insideSheet(int64_t row, int64_t column) {
  return row >= 0 && row <= int64_t(kFullMaxRow) && column >= 0 &&
         column <= int64_t(kFullMaxColumn);
}

// ---- INDIRECT ----

// One part of an R1C1 reference: kind 0 a cell, 1 a whole row, 2 a whole column.
bool parseR1C1Part(std::u16string_view text, const CellRef& base, int64_t* row, int64_t* column,
                   int* kind) {
  size_t at = 0;
  // A row or column number after its letter: "[n]" relative to base, "n" absolute, nothing the
  // base's own.
  auto number = [&](int64_t origin, int64_t* out) {
    if (at < text.size() && text[at] == u'[') {
      ++at;
      bool negative = false;
      if (at < text.size() && (text[at] == u'-' || text[at] == u'+')) negative = text[at++] == u'-';
      size_t digits = 0;
      int64_t n = 0;
      while (at < text.size() && isDigit(text[at]) && digits < 8) {
        n = n * 10 + (text[at++] - u'0');
        ++digits;
      }
      if (digits == 0 || at >= text.size() || text[at] != u']') return false;
      ++at;
      *out = origin + (negative ? -n : n);
      return true;
    }
    size_t digits = 0;
    int64_t n = 0;
    while (at < text.size() && isDigit(text[at]) && digits < 8) {
      n = n * 10 + (text[at++] - u'0');
      ++digits;
    }
    if (digits == 0) {
      *out = origin;
      return true;
    }
    if (n == 0) return false;
    *out = n - 1;
    return true;
  };
  bool hasRow = false, hasColumn = false;
  if (at < text.size() && text[at] == u'R') {
    ++at;
    if (!number(base.row(), row)) return false;
    hasRow = true;
  }
  if (at < text.size() && text[at] == u'C') {
    ++at;
    if (!number(base.column(), column)) return false;
    hasColumn = true;
  }
  if (at != text.size() || (!hasRow && !hasColumn)) return false;
  if (hasRow && (*row < 0 || *row > int64_t(maxRow()))) return false;
  if (hasColumn && (*column < 0 || *column > int64_t(maxColumn()))) return false;
  *kind = hasRow && hasColumn ? 0 : (hasRow ? 1 : 2);
  return true;
}

bool parseR1C1(std::u16string_view text, uint32_t sheet, const CellRef& base, RangeRef* out) {
  size_t colon = text.find(u':');
  std::u16string_view firstPart = text.substr(0, colon);
  std::u16string_view secondPart =
      colon == std::u16string_view::npos ? firstPart : text.substr(colon + 1);
  int64_t r1 = 0, c1 = 0, r2 = 0, c2 = 0;
  int kind1 = 0, kind2 = 0;
  if (!parseR1C1Part(firstPart, base, &r1, &c1, &kind1) ||
      !parseR1C1Part(secondPart, base, &r2, &c2, &kind2) || kind1 != kind2) {
    return false;
  }
  if (kind1 == 1) c1 = 0, c2 = maxColumn();
  if (kind1 == 2) r1 = 0, r2 = maxRow();
  *out = normalizeRange(rangeOn(sheet, r1, c1, r2, c2));
  return true;
}

// A cell part of A1 text: up to three letters and a row inside the sheet, or a whole column
// (letters only) or row (digits only) when the part belongs to a range.
bool plausibleA1Part(std::u16string_view part, bool inRange) {
  size_t letters = 0;
  while (letters < part.size() && isAsciiLetter(part[letters])) ++letters;
  std::u16string_view digits = part.substr(letters);
  if (letters > 3 || (letters == 0 && digits.empty())) return false;
  if (letters > 0 && columnFromLetters(part.substr(0, letters)) > int32_t(maxColumn()))
    return false;
  if (digits.empty()) return inRange;
  if (digits.size() > 8) return false;
  uint32_t row = 0;
  for (char16_t u : digits) {
    if (!isDigit(u)) return false;
    row = row * 10 + uint32_t(u - u'0');
  }
  if (row == 0 || row > maxRow() + 1) return false;
  return letters > 0 || inRange;
}

bool parseA1(std::u16string_view text, uint32_t sheet, RangeRef* out) {
  size_t colon = text.find(u':');
  if (colon == std::u16string_view::npos) {
    if (!plausibleA1Part(text, false)) return false;
  } else if (!plausibleA1Part(text.substr(0, colon), true) ||
             !plausibleA1Part(text.substr(colon + 1), true)) {
    return false;
  }
  CellRef first, last;
  parseRange(text, sheet, first, last);
  RangeRef range = normalizeRange(RangeRef{first, last});
  if (!isValidRange(range)) return false;
  *out = range;
  return true;
}

// The reference a defined name of the sheet (or, failing that, of the workbook) stands for.
bool nameReference(CallContext& context, const std::u16string& upperName, uint32_t sheet,
                   RangeRef* out) {
  if (context.engine == nullptr) return false;
  const CompiledModel& model = context.engine->model();
  if (model.nameIndex.find(upperName) == model.nameIndex.end()) return false;
  for (int32_t scope : {int32_t(sheet), int32_t(-1)}) {
    for (const DefinedName& name : model.names) {
      if (name.scope != scope || !name.root || !equalsNoCase(name.name, upperName)) continue;
      Value target =
          evaluateFormula(*context.engine, name.root.get(), context.cell, kModeReference);
      if (!target.isReference()) return false;
      *out = normalizeRange(target.reference());
      return isValidRange(*out);
    }
  }
  return false;
}

// The sheet name of a sheet part: quotes taken off, doubled quotes made single.
std::u16string unquotedSheetName(std::u16string_view part) {
  if (part.size() >= 2 && part.front() == u'\'' && part.back() == u'\'') {
    std::u16string name;
    std::u16string_view inner = part.substr(1, part.size() - 2);
    for (size_t i = 0; i < inner.size(); ++i) {
      name.push_back(inner[i]);
      if (inner[i] == u'\'' && i + 1 < inner.size() && inner[i + 1] == u'\'') ++i;
    }
    return name;
  }
  return std::u16string(part);
}

// ---- ADDRESS ----

bool needsQuotes(std::u16string_view sheet) {
  // A workbook part in brackets ("[Book1]Sheet1") is no reason to quote: the sheet part decides.
  if (!sheet.empty() && sheet.front() == u'[') {
    size_t close = sheet.find(u']');
    if (close != std::u16string_view::npos && close + 1 < sheet.size()) {
      sheet.remove_prefix(close + 1);
    }
  }
  if (!sheet.empty() && isDigit(sheet[0])) return true;
  for (char16_t u : sheet) {
    if (!isLetter(u) && !isDigit(u) && u != u'_') return true;
  }
  return false;
}

std::u16string decimal(int64_t n) {
  std::string digits = std::to_string(n);
  return std::u16string(digits.begin(), digits.end());
}

// ---- ROW / COLUMN ----

void positionsOf(CallContext& context, const Value* const* arguments, Value& result, bool rows) {
  const Value* argument = argumentAt(arguments, 0);
  if (argument == nullptr || argument->isEmpty()) {
    if (context.cell == nullptr || context.cell->address.isNone()) {
      result.setError(kErrorValue);
      return;
    }
    const CellRef& at = context.cell->address;
    result.setInteger(int32_t(rows ? at.row() : at.column()) + 1);
    return;
  }
  if (argument->isReferenceList()) {
    result.setError(kErrorRef);
    return;
  }
  if (!argument->isReference()) {
    if (argument->isError()) {
      result = *argument;
    } else {
      result.setError(kErrorValue);
    }
    return;
  }
  RangeRef range = normalizeRange(argument->reference());
  if (!isValidRange(range)) {
    result.setError(kErrorRef);
    return;
  }
  const uint32_t first = rows ? range.first.row() : range.first.column();
  const uint32_t last = rows ? range.last.row() : range.last.column();
  if (first == last) {
    result.setInteger(int32_t(first) + 1);
    return;
  }
  const uint32_t count = last - first + 1;
  ValueArray numbers(rows ? 1 : count, rows ? count : 1);
  for (uint32_t i = 0; i < count; ++i) numbers.elements()[i].setInteger(int32_t(first + i) + 1);
  result.setArray(std::move(numbers));
}

void extentOf(const Value* const* arguments, Value& result, bool rows) {
  const Value* source = argumentAt(arguments, 0);
  if (source == nullptr) {
    result.setInteger(1);
    return;
  }
  if (isErrorLike(*source)) {
    result = *source;
    return;
  }
  if (source->isArray()) {
    uint32_t n = rows ? source->array().rows() : source->array().columns();
    result.setInteger(n == 0 ? 1 : int32_t(n));
    return;
  }
  if (source->isReference()) {
    RangeRef range = normalizeRange(source->reference());
    if (!isValidRange(range) || range.first.sheet() != range.last.sheet()) {
      result.setError(kErrorRef);
      return;
    }
    uint32_t n =
        rows ? range.last.row() - range.first.row() : range.last.column() - range.first.column();
    result.setInteger(int32_t(n) + 1);
    return;
  }
  result.setInteger(1);
}

}  // namespace

void indexFunction(CallContext& context, const Value* const* arguments, Value& result) {
  const size_t count = argumentCount(arguments);
  if (count < 2) {
    result.setError(kErrorValue);
    return;
  }
  const Value& source = *arguments[0];
  if (isErrorLike(source)) {
    result = source;
    return;
  }
  if (errorPrecheck(context, arguments, kAllArguments & ~argumentBit(0), result)) return;
  double row = 0, column = 1, area = 1;
  if (!numberFromValue(dereferenced(context, *arguments[1]), &row, result)) return;
  if (count >= 3 && !numberFromValue(dereferenced(context, *arguments[2]), &column, result)) return;
  if (count >= 4) {
    Value areaValue = dereferenced(context, *arguments[3]);
    if (areaValue.isEmpty() || numberOrError(areaValue, &area) != 0) {
      result.setError(kErrorValue);
      return;
    }
  }
  row = std::trunc(row);
  column = std::trunc(column);
  area = std::trunc(area);
  if (area >= 2 && !source.isReferenceList()) {
    result.setError(kErrorRef);
    return;
  }
  if (count == 2) {
    bool oneRow = false;
    if (source.isArray()) oneRow = source.array().rows() <= 1;
    if (source.isReference()) {
      RangeRef range = normalizeRange(source.reference());
      oneRow = range.first.row() == range.last.row();
    }
    if (oneRow) {
      column = row;
      row = 1;
    }
  }
  if (source.isArray()) {
    indexOfArray(source.array(), row, column, result);
  } else if (source.isReference()) {
    indexOfReference(source.reference(), row, column, result);
  } else if (source.isReferenceList()) {
    const auto& list = source.array().elements();
    if (area < 1 || area > double(list.size()) || !list[size_t(area) - 1].isReference()) {
      result.setError(kErrorRef);
      return;
    }
    indexOfReference(list[size_t(area) - 1].reference(), row, column, result);
  } else {
    result.setError(kErrorValue);
  }
}

void offsetFunction(CallContext& context, const Value* const* arguments, Value& result) {
  const size_t count = argumentCount(arguments);
  if (count < 3) {
    result.setError(kErrorValue);
    return;
  }
  if (errorPrecheck(context, arguments, kAllArguments & ~argumentBit(0), result)) return;
  const Value& base = *arguments[0];
  if (!base.isReference()) {
    result.setError(base.isError() ? base.errorCode() : uint32_t{kErrorValue});
    return;
  }
  RangeRef range = normalizeRange(base.reference());
  if (!isValidRange(range) || range.first.sheet() != range.last.sheet()) {
    result.setError(kErrorRef);
    return;
  }
  // Rows and columns are read alike and truncated toward zero, as the program's results show
  // (OFFSET(G7,"2.1","1.9") is H9).
  double rows = 0, columns = 0;
  if (!numberFromValue(dereferenced(context, *arguments[1]), &rows, result)) return;
  if (!numberFromValue(dereferenced(context, *arguments[2]), &columns, result)) return;
  rows = std::trunc(rows);
  columns = std::trunc(columns);
  // Moves beyond any sheet are cut here so that the sums below stay exact in 64 bits.
  if (std::fabs(rows) > 4.0 * kFullMaxRow || std::fabs(columns) > 4.0 * kFullMaxRow) {
    result.setError(kErrorRef);
    return;
  }
  const int64_t top = int64_t(range.first.row()) + int64_t(rows);
  const int64_t left = int64_t(range.first.column()) + int64_t(columns);
  const int64_t bottom = int64_t(range.last.row()) + int64_t(rows);
  const int64_t right = int64_t(range.last.column()) + int64_t(columns);
  if (!insideSheet(top, left) || !insideSheet(bottom, right)) {
    result.setError(kErrorRef);
    return;
  }
  double height = double(bottom - top + 1), width = double(right - left + 1);
  for (size_t i = 3; i < 5 && i < count; ++i) {
    Value extentValue = dereferenced(context, *arguments[i]);
    if (extentValue.isEmpty()) continue;
    double x = 0;
    if (!numberFromValue(extentValue, &x, result)) return;
    x = wholeExtent(x);
    if (x == 0 || std::fabs(x) > 4.0 * kFullMaxRow) {
      result.setError(kErrorRef);
      return;
    }
    (i == 3 ? height : width) = x;
  }
  const int64_t h = int64_t(height), w = int64_t(width);
  const int64_t firstRow = h > 0 ? top : top + h + 1;
  const int64_t lastRow = h > 0 ? top + h - 1 : top;
  const int64_t firstColumn = w > 0 ? left : left + w + 1;
  const int64_t lastColumn = w > 0 ? left + w - 1 : left;
  if (!insideSheet(firstRow, firstColumn) || !insideSheet(lastRow, lastColumn)) {
    result.setError(kErrorRef);
    return;
  }
  RangeRef moved = rangeOn(range.first.sheet(), firstRow, firstColumn, lastRow, lastColumn);
  result.setReference(moved.first, moved.last);
}

void indirectFunction(CallContext& context, const Value* const* arguments, Value& result) {
  const size_t count = argumentCount(arguments);
  if (count < 1) {
    result.setError(kErrorRef);
    return;
  }
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  bool a1 = true;
  if (count >= 2) {
    Value style = dereferenced(context, *arguments[1]);
    if (style.isNumeric() || style.isBoolean()) {
      double x = 0;
      toNumber(style, &x);
      a1 = x != 0;
    }
  }
  Value textValue = *arguments[0];
  if (textValue.isReference()) {
    RangeRef range = normalizeRange(textValue.reference());
    if (!isValidRange(range) || !(range.first == range.last)) {
      result.setError(kErrorValue);
      return;
    }
    textValue = cellValueAt(context, range.first);
  } else if (textValue.isArray()) {
    textValue = textValue.array().size() > 0 ? Value(textValue.array().elements()[0]) : Value();
  }
  if (!textValue.isText()) {
    result.setError(kErrorRef);
    return;
  }
  const std::u16string text(textValue.text());
  if (isErrorText(text)) {
    result.setError(kErrorRef);
    return;
  }
  const CompiledModel* model = contextModel(context);
  uint32_t sheet = currentSheet(context);
  std::u16string_view address = text;
  const size_t bang = text.rfind(u'!');
  if (bang != std::u16string::npos) {
    std::u16string_view sheetPart = std::u16string_view(text).substr(0, bang);
    address = std::u16string_view(text).substr(bang + 1);
    std::u16string name = unquotedSheetName(sheetPart);
    const size_t open = name.find(u'[');
    if (open != std::u16string::npos) {
      const size_t close = name.find(u']', open);
      if (close == std::u16string::npos) {
        result.setError(kErrorRef);
        return;
      }
      std::u16string_view book = std::u16string_view(name).substr(open + 1, close - open - 1);
      const std::u16string running = context.engine ? context.engine->workbookName : u"";
      if (!equalsNoCase(book, running)) {
        evaluateOnHost(context, u"=" + text, result);
        return;
      }
      name = name.substr(close + 1);
    }
    if (name.empty() || model == nullptr) {
      result.setError(kErrorRef);
      return;
    }
    const Sheet* found = model->sheets().findByExcelName(name);
    if (found == nullptr) {
      result.setError(kErrorRef);
      return;
    }
    sheet = found->index();
  }
  const std::u16string upper = toUpper(address);
  RangeRef range;
  if (nameReference(context, upper, sheet, &range)) {
    result.setReference(range.first, range.last);
    return;
  }
  std::u16string plain;
  for (char16_t u : upper) {
    if (u != u'$') plain.push_back(u);
  }
  const CellRef base = context.cell != nullptr && !context.cell->address.isNone()
                           ? context.cell->address
                           : CellRef::at(sheet, 0, 0);
  const bool parsed = a1 ? parseA1(plain, sheet, &range) : parseR1C1(plain, sheet, base, &range);
  if (!parsed) {
    result.setError(kErrorRef);
    return;
  }
  result.setReference(range.first, range.last);
}

void addressFunction(CallContext& context, const Value* const* arguments, Value& result) {
  const size_t count = argumentCount(arguments);
  if (count < 2) {
    result.setError(kErrorValue);
    return;
  }
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  double row = 0, column = 0;
  if (!numberFromValue(dereferenced(context, *arguments[0]), &row, result)) return;
  if (!numberFromValue(dereferenced(context, *arguments[1]), &column, result)) return;
  row = std::trunc(row) - 1;
  column = std::trunc(column) - 1;
  if (row < 0 || row > maxRow() || column < 0 || column > maxColumn()) {
    result.setError(kErrorValue);
    return;
  }
  double absolute = 1;
  if (count >= 3) {
    Value absValue = dereferenced(context, *arguments[2]);
    if (!absValue.isEmpty() && !numberFromValue(absValue, &absolute, result)) return;
    absolute = std::trunc(absolute);
    if (absolute < 1 || absolute > 4) {
      result.setError(kErrorValue);
      return;
    }
  }
  bool a1 = true;
  if (count >= 4) {
    Value style = dereferenced(context, *arguments[3]);
    if (!style.isEmpty() && !style.isBoolean() && !style.isNumeric()) {
      result.setError(kErrorValue);
      return;
    }
    double x = 0;
    toNumber(style, &x);
    a1 = x != 0;
  }
  std::u16string text;
  if (count >= 5) {
    Value sheet = dereferenced(context, *arguments[4]);
    if (sheet.isArray())
      sheet = sheet.array().size() > 0 ? Value(sheet.array().elements()[0]) : Value();
    std::u16string name;
    switch (sheet.kind()) {
      case ValueKind::kEmpty:
        break;
      case ValueKind::kInteger:
        name = decimal(sheet.integer());
        break;
      case ValueKind::kNumber:
        name = numberToText(sheet.number());
        break;
      case ValueKind::kBoolean:
        name = literalText(sheet.boolean() ? kTextTrue : kTextFalse);
        break;
      case ValueKind::kShortText:
      case ValueKind::kLongText:
        name = std::u16string(sheet.text());
        break;
      default:
        result.setError(kErrorValue);
        return;
    }
    if (!name.empty() && (sheet.isBoolean() || needsQuotes(name))) name = quoteSheetName(name);
    text = name + u"!";
  }
  const int64_t r = int64_t(row) + 1, c = int64_t(column) + 1;
  const int kind = int(absolute);
  if (a1) {
    const bool absoluteColumn = kind == 1 || kind == 3;
    const bool absoluteRow = kind == 1 || kind == 2;
    text += absoluteColumn ? u"$" : u"";
    text += columnLetters(uint32_t(column));
    text += absoluteRow ? u"$" : u"";
    text += decimal(r);
  } else {
    const bool relativeRow = kind == 3 || kind == 4;
    const bool relativeColumn = kind == 2 || kind == 4;
    text += relativeRow ? u"R[" + decimal(r) + u"]" : u"R" + decimal(r);
    text += relativeColumn ? u"C[" + decimal(c) + u"]" : u"C" + decimal(c);
  }
  result.setText(text);
}

void rowFunction(CallContext& context, const Value* const* arguments, Value& result) {
  positionsOf(context, arguments, result, true);
}

void columnFunction(CallContext& context, const Value* const* arguments, Value& result) {
  positionsOf(context, arguments, result, false);
}

void rowsFunction(CallContext& context, const Value* const* arguments, Value& result) {
  (void)context;
  extentOf(arguments, result, true);
}

void columnsFunction(CallContext& context, const Value* const* arguments, Value& result) {
  (void)context;
  extentOf(arguments, result, false);
}

void transposeFunction(CallContext& context, const Value* const* arguments, Value& result) {
  const Value* source = argumentAt(arguments, 0);
  if (source == nullptr) {
    result.setError(kErrorValue);
    return;
  }
  if (!inArrayFormula(context) || isErrorLike(*source)) {
    result = *source;
    return;
  }
  if (source->isArray()) {
    const ValueArray& array = source->array();
    ValueArray turned(array.rows(), array.columns());
    for (uint32_t r = 0; r < array.rows(); ++r) {
      for (uint32_t c = 0; c < array.columns(); ++c) {
        const size_t from = size_t(array.columns()) * r + c;
        if (from < array.size()) {
          turned.at(r, c) = array.elements()[from];
        } else {
          turned.at(r, c).setError(kErrorNA);
        }
      }
    }
    result.setArray(std::move(turned));
    return;
  }
  if (source->isReference()) {
    RangeRef range = normalizeRange(source->reference());
    if (!isValidRange(range) || range.first.sheet() != range.last.sheet()) {
      result.setError(kErrorRef);
      return;
    }
    const uint32_t rows = range.last.row() - range.first.row() + 1;
    const uint32_t columns = range.last.column() - range.first.column() + 1;
    ValueArray turned(rows, columns);
    for (uint32_t r = 0; r < rows; ++r) {
      for (uint32_t c = 0; c < columns; ++c) {
        turned.at(r, c) = cellValueAt(
            context,
            CellRef::at(range.first.sheet(), range.first.row() + r, range.first.column() + c));
      }
    }
    result.setArray(std::move(turned));
    return;
  }
  result = *source;
}

void hyperlinkFunction(CallContext& context, const Value* const* arguments, Value& result) {
  const size_t count = argumentCount(arguments);
  if (count < 1) {
    result.setError(kErrorValue);
    return;
  }
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  Value link = dereferenced(context, *arguments[0]);
  if (context.cell != nullptr) {
    std::u16string text = link.isText() ? std::u16string(link.text()) : std::u16string();
    context.cell->setHyperlink(std::make_unique<Hyperlink>(classifyHyperlink(std::move(text))));
  }
  if (count >= 2 && !arguments[1]->isEmpty()) {
    result = dereferenced(context, *arguments[1]);
  } else {
    result = link;
  }
}

}  // namespace korvel
