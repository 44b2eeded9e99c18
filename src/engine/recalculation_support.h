// Small rules about cells that the recalculation files share: values, array formulas and range
// containment.
#ifndef KORVEL_ENGINE_RECALCULATION_SUPPORT_H_
#define KORVEL_ENGINE_RECALCULATION_SUPPORT_H_

#include <vector>

#include "engine/value.h"
#include "model/cell.h"
#include "model/cell_ref.h"

namespace korvel {

// The cell's value, or the empty value when it has none (or there is no cell).
const Value& cellValue(const Cell* cell);
// Same kind and equal by the comparison of formulas: what "unchanged" means for a cell.
bool sameValue(const Value& a, const Value& b);
// Indexed cells and input cells are the cells that correspond to workbook cells.
bool isIndexedOrInput(const Cell* cell);
// The cell's array range starts at the cell itself.
bool startsArrayRange(const Cell* cell);
// The cell holds an array formula for its whole range (0x200 without 0x800, at the range start).
bool isArrayAnchor(const Cell* cell);
// The cell at the start of the cell's array range, or null.
Cell* arrayAnchorOf(const Cell* cell);
// Appends the members of the array formula anchored at the cell (its other cells that carry
// 0x200) to out. REQUIRES: isArrayAnchor(anchor).
void appendArrayMembers(const Cell* anchor, std::vector<Cell*>& out);
// The address lies inside the (normalised) range, on its sheet.
bool rangeContains(const RangeRef& range, CellRef address);

}  // namespace korvel

#endif  // KORVEL_ENGINE_RECALCULATION_SUPPORT_H_
