// The searches behind VLOOKUP, HLOOKUP, MATCH and LOOKUP: one row or column of sheet cells or of
// array elements, searched exactly (with wildcard patterns, through the engine's lookup cache) or
// by bisection over sorted values.
//
// REQUIRES: used only on the thread that evaluates formulas.
#ifndef KORVEL_FUNCTIONS_LOOKUP_SEARCH_H_
#define KORVEL_FUNCTIONS_LOOKUP_SEARCH_H_

#include <cstddef>
#include <cstdint>

#include "engine/native_function.h"
#include "engine/value.h"
#include "model/cell_ref.h"

namespace korvel {

// A row or column that a lookup walks: sheet cells (read from the context's model) or the elements
// of an array. Borrows the context and the array; both must outlive the line.
class LookupLine {
 public:
  // Rows firstRow..lastRow of one column; an empty line when lastRow < firstRow.
  static LookupLine cellColumn(const CallContext& context, uint32_t sheet, uint32_t column,
                               int64_t firstRow, int64_t lastRow);
  // Columns firstColumn..lastColumn of one row.
  static LookupLine cellRow(const CallContext& context, uint32_t sheet, uint32_t row,
                            int64_t firstColumn, int64_t lastColumn);
  // One column (or one row) of an array. REQUIRES: the index lies inside the array.
  static LookupLine arrayColumn(const ValueArray& array, uint32_t column);
  static LookupLine arrayRow(const ValueArray& array, uint32_t row);

  size_t size() const { return size_; }
  // The value at a position (the empty value for a cell without one). REQUIRES: i < size().
  const Value& at(size_t i) const;
  bool isCells() const { return array_ == nullptr; }
  // The cell at a position. REQUIRES: isCells(), i < size().
  CellRef cellAt(size_t i) const;

 private:
  const CallContext* context_ = nullptr;
  const ValueArray* array_ = nullptr;
  bool down_ = true;  // along a column
  uint32_t sheet_ = 0;
  uint32_t fixed_ = 0;  // the column of a column line, the row of a row line
  uint32_t first_ = 0;  // the first row (column) of the line
  size_t size_ = 0;
};

// How an exact search reads a text lookup value as a wildcard pattern.
enum class PatternRule {
  kStarOrQuestion,  // a pattern when it holds "*" or "?" (VLOOKUP, HLOOKUP)
  kAnyPatternUnit,  // a pattern when it holds "*", "?" or "~" (MATCH)
};

// The first position whose value matches the lookup value, or -1. A text lookup value meets only
// text values (as a pattern when the rule says so, otherwise by equals); any other lookup value
// meets every value by equals. Positions without a value never match.
int64_t exactSearch(const LookupLine& line, const Value& lookup, PatternRule rule);

// exactSearch through the engine's lookup cache in the given slot (kLookupCacheSlot0..2) when the
// line holds sheet cells and a changed-cells recalculation is running; a fresh search otherwise.
// The outcome equals that of exactSearch.
int64_t cachedExactSearch(CallContext& context, int slot, const LookupLine& line,
                          const Value& lookup, PatternRule rule);

// Bisection over values sorted ascending (descending when asked); values of another type family
// than the lookup value, and positions without a value, are passed over. Returns the position of
// a value equal to the lookup value when the bisection meets one, else the last position whose
// value is not greater (not less, descending) than the lookup value, or -1.
int64_t bisectionSearch(const LookupLine& line, const Value& lookup, bool descending);

// The type family of a value: 1 numbers, 2 texts, 3 booleans, 4 errors, 0 for the empty value;
// every other kind is a family of its own (from 16 on).
int typeFamily(const Value& value);

}  // namespace korvel

#endif  // KORVEL_FUNCTIONS_LOOKUP_SEARCH_H_
