// What the commands show of a cell's value.
#ifndef KORVEL_TOOLS_KORVEL_CELL_DISPLAY_H_
#define KORVEL_TOOLS_KORVEL_CELL_DISPLAY_H_

#include "engine/value.h"
#include "model/cell.h"

namespace korvel {

// The value the cell shows: empty for a missing cell or one without value; the anchor of an array
// formula holds the whole result but shows its first element, as every member shows its own.
inline Value shownCellValue(const Cell* cell) {
  if (!cell || !cell->value) return Value();
  const Value& value = *cell->value;
  if (value.isArray() && cell->arrayRange() && cell->address == cell->arrayRange()->first &&
      value.array().size() > 0) {
    return value.array().at(0, 0);
  }
  return value;
}

}  // namespace korvel

#endif  // KORVEL_TOOLS_KORVEL_CELL_DISPLAY_H_
