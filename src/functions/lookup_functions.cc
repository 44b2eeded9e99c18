// Lookup and reference functions: searches over the model's own cells (VLOOKUP, HLOOKUP, MATCH,
// LOOKUP), CHOOSE and GETPIVOTDATA here; the functions that build references and reference texts
// in reference_functions.cc. The family's table is at the end of this file.
//
// Choices where the host program's behaviour is not pinned down:
// - A lookup value that arrives empty counts as the number 0 in every search: a missing argument
//   and a blank cell arrive alike, and a blank cell must find the first cell holding 0.
// - Cells without a value never match an exact search or take part in a bisection, although the
//   comparison operators treat them as 0, "" and FALSE: a blank row in a table is not a row whose
//   key is zero.
// - VLOOKUP and HLOOKUP over array constants recognise only equal first elements, whatever the
//   range-lookup argument says; MATCH and LOOKUP bisect arrays as they bisect cells, so that
//   LOOKUP(4,{1,3,5},...) finds the 3.
// - LOOKUP's result vector is read at the found position along its own direction (down a column,
//   or across a row for a one-row reference) even past its last cell, as long as the cell exists
//   on the sheet; an array result vector too short for the position gives #N/A.
// - The exact-search caches: slot 0 holds VLOOKUP's column searches, slot 1 MATCH's searches and
//   slot 2 HLOOKUP's row searches, because the three differ in what a pattern is or in direction.
#include <cmath>
#include <cstdint>

#include "engine/engine.h"
#include "engine/locale_settings.h"
#include "engine/number_text.h"
#include "engine/value_convert.h"
#include "functions/arguments.h"
#include "functions/function_catalogue.h"
#include "functions/lookup_search.h"
#include "functions/native_families.h"
#include "functions/reference_functions.h"
#include "model/address.h"
#include "util/text.h"

namespace korvel {
namespace {

constexpr int kGetPivotDataNumber = 237;
constexpr int kGetPivotDataMaximum = 30;

// The shape of a table argument: a valid reference on one sheet, or an array.
struct Table {
  const ValueArray* array = nullptr;
  RangeRef range;
  uint32_t rows = 0;
  uint32_t columns = 0;
  uint32_t sheet = 0;
};

bool tableOf(const Value& source, Table* table) {
  if (source.isArray()) {
    table->array = &source.array();
    table->rows = source.array().rows();
    table->columns = source.array().columns();
    return table->array->size() == size_t(table->rows) * table->columns && table->rows > 0 &&
           table->columns > 0;
  }
  if (!source.isReference()) return false;
  RangeRef range = normalizeRange(source.reference());
  if (!isValidRange(range) || range.first.sheet() != range.last.sheet()) return false;
  table->range = range;
  table->sheet = range.first.sheet();
  table->rows = range.last.row() - range.first.row() + 1;
  table->columns = range.last.column() - range.first.column() + 1;
  return true;
}

// A column of the table; a column of cells stops at the column's last stored cell.
LookupLine tableColumn(const CallContext& context, const Table& table, uint32_t column) {
  if (table.array != nullptr) return LookupLine::arrayColumn(*table.array, column);
  uint32_t sheetColumn = table.range.first.column() + column;
  int64_t last = table.range.last.row();
  int64_t stored = lastStoredRow(context, table.sheet, sheetColumn);
  if (stored < last) last = stored;
  return LookupLine::cellColumn(context, table.sheet, sheetColumn, table.range.first.row(), last);
}

LookupLine tableRow(const CallContext& context, const Table& table, uint32_t row) {
  if (table.array != nullptr) return LookupLine::arrayRow(*table.array, row);
  return LookupLine::cellRow(context, table.sheet, table.range.first.row() + row,
                             table.range.first.column(), table.range.last.column());
}

// The value at (row, column) of the table, inside it.
Value tableElement(const CallContext& context, const Table& table, uint32_t row, uint32_t column) {
  if (table.array != nullptr) return table.array->at(column, row);
  return cellValueAt(context, CellRef::at(table.sheet, table.range.first.row() + row,
                                          table.range.first.column() + column));
}

// VLOOKUP (vertical) and HLOOKUP: the same steps with rows and columns exchanged.
void tableLookup(CallContext& context, const Value* const* arguments, Value& result,
                 bool vertical) {
  if (errorPrecheck(context, arguments, kAllArguments, result)) return;
  result.setError(kErrorNA);
  const size_t count = argumentCount(arguments);
  if (count < 3) return;
  const Value& tableArgument = *arguments[1];
  if (tableArgument.isText()) {
    double unused;
    if (!textToNumber(tableArgument.text(), &unused)) result.setError(kErrorValue);
    return;
  }
  if (tableArgument.isEmpty() || arguments[2]->isEmpty()) return;
  Value lookup = dereferenced(context, *arguments[0]);
  if (lookup.isEmpty()) lookup.setInteger(0);
  Value indexValue = dereferenced(context, *arguments[2]);
  double index = 0;
  switch (indexValue.kind()) {
    case ValueKind::kInteger:
    case ValueKind::kNumber:
    case ValueKind::kBoolean:
    case ValueKind::kShortText:
    case ValueKind::kLongText:
      if (!toNumber(indexValue, &index)) {
        result.setError(kErrorValue);
        return;
      }
      break;
    default:
      result.setError(kErrorValue);
      return;
  }
  index = std::trunc(index);
  if (index <= 0) {
    result.setError(kErrorValue);
    return;
  }
  bool approximate = true;
  if (count >= 4) {
    const Value& mode = *arguments[3];
    if (mode.isText()) {
      if (equalsNoCase(mode.text(), literalText(kTextTrue))) {
        approximate = true;
      } else if (equalsNoCase(mode.text(), literalText(kTextFalse))) {
        approximate = false;
      } else {
        result.setError(kErrorValue);
        return;
      }
    } else {
      double number = 0;
      if (!toNumber(mode, &number) || mode.hasArray() || mode.isReference()) {
        result.setError(kErrorValue);
        return;
      }
      approximate = number != 0;
    }
  }

  Table table;
  if (!tableOf(tableArgument, &table)) return;
  const uint32_t across = vertical ? table.columns : table.rows;
  if (table.array == nullptr && table.rows == 1 && table.columns == 1) {
    // A single cell answers for itself, and only to the first index.
    Value only = tableElement(context, table, 0, 0);
    if (index == 1 && !only.isEmpty() && equals(only, lookup)) result = only;
    return;
  }
  if (index > across) {
    result.setError(kErrorRef);
    return;
  }
  const uint32_t offset = uint32_t(index) - 1;
  int64_t found = -1;
  if (table.array != nullptr) {
    LookupLine keys = vertical ? tableColumn(context, table, 0) : tableRow(context, table, 0);
    for (size_t i = 0; i < keys.size() && found < 0; ++i) {
      if (equals(keys.at(i), lookup)) found = int64_t(i);
    }
  } else {
    LookupLine keys = vertical ? tableColumn(context, table, 0) : tableRow(context, table, 0);
    if (!approximate) {
      found = cachedExactSearch(context, vertical ? kLookupCacheSlot0 : kLookupCacheSlot2, keys,
                                lookup, PatternRule::kStarOrQuestion);
    } else {
      found = bisectionSearch(keys, lookup, false);
    }
  }
  if (found < 0) return;
  result = vertical ? tableElement(context, table, uint32_t(found), offset)
                    : tableElement(context, table, offset, uint32_t(found));
}

void vlookupFunction(CallContext& context, const Value* const* arguments, Value& result) {
  tableLookup(context, arguments, result, true);
}

void hlookupFunction(CallContext& context, const Value* const* arguments, Value& result) {
  tableLookup(context, arguments, result, false);
}

// The 1-based position of one lookup value in the line by MATCH's rules, or an error.
void matchOne(CallContext& context, const LookupLine& line, const Value& given, int type,
              Value& result) {
  if (isErrorLike(given)) {
    result = given;
    return;
  }
  Value lookup = given;
  if (lookup.isEmpty()) lookup.setInteger(0);
  int64_t found = -1;
  if (type == 0) {
    found =
        cachedExactSearch(context, kLookupCacheSlot1, line, lookup, PatternRule::kAnyPatternUnit);
  } else {
    found = bisectionSearch(line, lookup, type < 0);
    if (found >= 0) {
      const Value& value = line.at(size_t(found));
      if (type > 0 ? greater(value, lookup) : less(value, lookup)) found = -1;
    }
  }
  if (found < 0) {
    result.setError(kErrorNA);
  } else {
    setNumberResult(result, double(found + 1));
  }
}

void matchFunction(CallContext& context, const Value* const* arguments, Value& result) {
  const size_t count = argumentCount(arguments);
  if (count < 2) {
    result.setError(kErrorValue);
    return;
  }
  if (errorPrecheck(context, arguments, argumentBit(0) | argumentBit(2), result)) return;
  int type = 1;
  if (count >= 3) {
    double number = 0;
    if (!numberFromValue(dereferenced(context, *arguments[2]), &number, result)) return;
    number = std::trunc(number);
    type = number == 0 ? 0 : (number == -1 ? -1 : 1);
  }
  Table table;
  if (!tableOf(*arguments[1], &table) || (table.rows != 1 && table.columns != 1)) {
    result.setError(kErrorNA);
    return;
  }
  LookupLine line =
      table.columns == 1 ? tableColumn(context, table, 0) : tableRow(context, table, 0);

  const Value& lookup = *arguments[0];
  Table many;
  if ((lookup.isArray() || lookup.isReference()) && tableOf(lookup, &many) &&
      (many.rows > 1 || many.columns > 1)) {
    ValueArray positions(many.columns, many.rows);
    for (uint32_t r = 0; r < many.rows; ++r) {
      for (uint32_t c = 0; c < many.columns; ++c) {
        matchOne(context, line, tableElement(context, many, r, c), type, positions.at(c, r));
      }
    }
    result.setArray(std::move(positions));
    return;
  }
  Value single = dereferenced(context, lookup);
  if (single.isArray() && single.array().size() > 0) single = Value(single.array().elements()[0]);
  matchOne(context, line, single, type, result);
}

void lookupFunction(CallContext& context, const Value* const* arguments, Value& result) {
  const size_t count = argumentCount(arguments);
  if (count < 2) {
    result.setError(kErrorValue);
    return;
  }
  const Value& vector = *arguments[1];
  const Value* resultVector = count >= 3 ? arguments[2] : nullptr;
  if (vector.isEmpty() || vector.isText() || (resultVector && resultVector->isEmpty())) {
    if (vector.isText() && isErrorText(vector.text())) {
      result = vector;
    } else {
      result.setError(kErrorValue);
    }
    return;
  }
  Value lookup = dereferenced(context, *arguments[0]);
  if (isErrorLike(lookup)) {
    result = lookup;
    return;
  }
  if (vector.isError()) {
    result = vector;
    return;
  }
  if (lookup.isEmpty()) lookup.setInteger(0);
  if (lookup.isArray() && lookup.array().size() > 0) lookup = Value(lookup.array().elements()[0]);

  // A single value is searched as a table of one element.
  Value boxed;
  const Value* vectorSource = &vector;
  if (!vector.isArray() && !vector.isReference()) {
    ValueArray one(1, 1);
    one.at(0, 0) = vector;
    boxed.setArray(std::move(one));
    vectorSource = &boxed;
  }
  Table keys;
  if (!tableOf(*vectorSource, &keys)) {
    result.setError(vector.isReference() ? kErrorRef : kErrorValue);
    return;
  }
  const bool oneDimensional = keys.rows == 1 || keys.columns == 1;
  const bool alongRow =
      oneDimensional ? keys.rows == 1 && keys.columns > 1 : keys.rows < keys.columns;
  LookupLine line = alongRow ? tableRow(context, keys, 0) : tableColumn(context, keys, 0);
  int64_t found = bisectionSearch(line, lookup, false);
  if (found < 0) {
    result.setError(kErrorNA);
    return;
  }
  const uint32_t position = uint32_t(found);

  if (resultVector == nullptr) {
    if (oneDimensional) {
      result = alongRow ? tableElement(context, keys, 0, position)
                        : tableElement(context, keys, position, 0);
    } else {
      // Array form: the answer stands in the last row or column, across from the key.
      result = alongRow ? tableElement(context, keys, keys.rows - 1, position)
                        : tableElement(context, keys, position, keys.columns - 1);
    }
    return;
  }
  const Value& target = *resultVector;
  if (isErrorLike(target)) {
    result = target;
    return;
  }
  if (target.isReference()) {
    Table answers;
    if (!tableOf(target, &answers)) {
      result.setError(kErrorRef);
      return;
    }
    const bool across = answers.rows == 1 && answers.columns > 1;
    uint64_t row = answers.range.first.row() + (across ? 0 : uint64_t(position));
    uint64_t column = answers.range.first.column() + (across ? uint64_t(position) : 0);
    if (row > kFullMaxRow || column > kFullMaxColumn) {
      result.setError(kErrorNA);
      return;
    }
    result = cellValueAt(context, CellRef::at(answers.sheet, uint32_t(row), uint32_t(column)));
    return;
  }
  if (target.isArray()) {
    const ValueArray& answers = target.array();
    const bool across = answers.rows() == 1;
    const uint32_t length = across ? answers.columns() : answers.rows();
    if (position >= length || answers.size() != size_t(answers.rows()) * answers.columns()) {
      result.setError(kErrorNA);
      return;
    }
    result = across ? answers.at(position, 0) : answers.at(0, position);
    return;
  }
  if (position == 0) {
    result = target;
  } else {
    result.setError(kErrorNA);
  }
}

void chooseFunction(CallContext& context, const Value* const* arguments, Value& result) {
  const size_t count = argumentCount(arguments);
  if (count < 1) {
    result.setError(kErrorValue);
    return;
  }
  Value index = dereferenced(context, *arguments[0]);
  double number = 0;
  if (index.isText()) {
    if (!textToNumber(index.text(), &number)) {
      result.setError(kErrorValue);
      return;
    }
  } else if (index.isNumeric()) {
    number = index.number();
  } else if (index.isError()) {
    // The program passes an error index on (CHOOSE(#REF!,1) is #REF!).
    result = index;
    return;
  } else {
    result.setError(kErrorValue);
    return;
  }
  number = std::trunc(number);
  if (number < 1 || number > double(count - 1)) {
    result.setError(kErrorValue);
    return;
  }
  result = *arguments[size_t(number)];
}

void getPivotDataFunction(CallContext& context, const Value* const* arguments, Value& result) {
  if (argumentCount(arguments) < 2) {
    result.setError(kErrorValue);
    return;
  }
  for (int i = 0; i < 2; ++i) {
    if (isErrorLike(*arguments[i])) {
      result = *arguments[i];
      return;
    }
  }
  if (!arguments[1]->isReference()) {
    result.setError(kErrorRef);
    return;
  }
  const std::u16string* name = FunctionCatalogue::instance().nameOfNumber(kGetPivotDataNumber);
  result.setText(name != nullptr ? std::u16string_view(*name) : u"GETPIVOTDATA");
  callHostFunction(context, kGetPivotDataNumber, arguments, kGetPivotDataMaximum, result);
}

constexpr NativeEntry kLookupTable[] = {
    {u"ADDRESS", addressFunction},
    {u"CHOOSE", chooseFunction},
    {u"COLUMN", columnFunction},
    {u"COLUMNS", columnsFunction},
    {u"GETPIVOTDATA", getPivotDataFunction},
    {u"HLOOKUP", hlookupFunction},
    {u"HYPERLINK", hyperlinkFunction},
    {u"INDEX", indexFunction},
    {u"INDIRECT", indirectFunction},
    {u"LOOKUP", lookupFunction},
    {u"MATCH", matchFunction},
    {u"OFFSET", offsetFunction},
    {u"ROW", rowFunction},
    {u"ROWS", rowsFunction},
    {u"TRANSPOSE", transposeFunction},
    {u"VLOOKUP", vlookupFunction},
};

}  // namespace

NativeTable lookupFunctions() { return kLookupTable; }

}  // namespace korvel
