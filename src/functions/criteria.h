// The criterion of COUNTIF, COUNTIFS, SUMIF and the database functions: a value, or a text made of
// an optional comparison operator and a value or wildcard pattern, parsed once per call and then
// matched against every cell of a range. RangeSource walks the ranges those functions read, so that
// references, arrays and single values are visited alike and scans stop where the stored cells end.
//
// REQUIRES: used only on the thread that evaluates formulas.
#ifndef KORVEL_FUNCTIONS_CRITERIA_H_
#define KORVEL_FUNCTIONS_CRITERIA_H_

#include <cstdint>

#include "engine/native_function.h"
#include "engine/value.h"

namespace korvel {

enum CriterionOperator : int {
  kCriterionNothing = -1,  // a criterion that may match nothing (SUMIF given a reference)
  kCriterionEqual = 0,
  kCriterionLess = 1,
  kCriterionGreater = 2,
  kCriterionLessOrEqual = 3,
  kCriterionGreaterOrEqual = 4,
  kCriterionNotEqual = 5,
};

struct Criterion {
  int op = kCriterionEqual;
  int prefixLength = 0;   // operator characters taken from the front of a text criterion
  Value value;            // number, text, boolean, error or empty
  bool wildcard = false;  // the text value holds "*", "?" or "~"
  // A text value that reads as a number, with that number: number cells compare with it as
  // numbers. Worked out once so that matching never parses the criterion again.
  bool textIsNumber = false;
  double textNumber = 0;
};

// Parses one criteria argument. An array stands for its first element and a reference for the
// value of its top-left cell (read through the context's model).
Criterion parseCriterion(const CallContext& context, const Value& argument);

// Whether a cell's value (empty for a position without a cell) satisfies the criterion.
bool matchesCriterion(const Criterion& criterion, const Value& cell);

// A range argument walked position by position: a reference on one sheet, an array, or a single
// value standing for a one-by-one range. Positions are (column, row) offsets from the top left.
class RangeSource {
 public:
  // False, leaving the source empty, for an error, a text equal to an error text, a reference
  // list, and a reference that is invalid or spans two sheets.
  bool assign(const CallContext& context, const Value& argument);

  uint32_t columns() const { return columns_; }
  uint32_t rows() const { return rows_; }
  bool isReference() const { return reference_; }
  // REQUIRES: for references, a range on one sheet; first is its top-left cell.
  uint32_t sheet() const { return sheet_; }
  uint32_t top() const { return top_; }
  uint32_t left() const { return left_; }

  // Gives a reference the shape of another range from the same top-left cell, cut at the sheet's
  // edge (SUMIF's sum range follows its criteria range so). Arrays and single values keep their
  // shape: positions outside it read as empty.
  void resizeTo(uint32_t columns, uint32_t rows);

  // The value at a position; empty where a reference has no cell, or outside an array's shape.
  // REQUIRES: column < columns() and row < rows() for references.
  const Value& at(uint32_t column, uint32_t row) const;
  // The last row offset of a column that can hold anything but the empty value (for references
  // the last stored cell, clipped to the range), or -1.
  int64_t lastRow(uint32_t column) const;

 private:
  const CallContext* context_ = nullptr;
  const Value* value_ = nullptr;  // the array or single value; borrowed from the argument
  bool reference_ = false;
  uint32_t sheet_ = 0, top_ = 0, left_ = 0;
  uint32_t columns_ = 0, rows_ = 0;
};

}  // namespace korvel

#endif  // KORVEL_FUNCTIONS_CRITERIA_H_
