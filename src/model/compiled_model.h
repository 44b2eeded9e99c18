// The loaded model: every cell (owned, allocated from the ObjectPool), the grid that finds cells by
// address, the sheet table, and the cell lists that recalculation walks. Names, constants, nodes
// and the tables of shared expressions join it as they are built.
//
// REQUIRES: used only on the thread that handles host commands and evaluates formulas.
#ifndef KORVEL_MODEL_COMPILED_MODEL_H_
#define KORVEL_MODEL_COMPILED_MODEL_H_

#include <cstdint>
#include <vector>

#include "model/cell.h"
#include "model/cell_grid.h"
#include "model/cell_ref.h"
#include "model/sheet.h"

namespace korvel {

class CompiledModel {
 public:
  CompiledModel() = default;
  // Destroys every cell of the model and their values.
  ~CompiledModel();
  CompiledModel(const CompiledModel&) = delete;
  CompiledModel& operator=(const CompiledModel&) = delete;

  // The cell at the address (masked as the grid does), or null. Creates nothing.
  Cell* findCell(CellRef address) const { return grid_.find(address); }
  // findCell, else a new empty cell at the address, entered in the grid, the set of all cells and,
  // when its list index or flag 0x10 call for it, the indexed list. Null only for the sentinel,
  // which no cell may be created at through an address.
  Cell* cellAt(CellRef address);
  // A new cell of this model at the sentinel address, entered in the set of all cells only; the
  // loader fills it in and then places it.
  Cell* newCell();
  // Enters the model's cell in the grid under its address and reserves the grid levels it needs;
  // a cell at the sentinel address stays out of the grid. Returns the cell that occupied the slot
  // before, or null. REQUIRES: cell belongs to this model.
  Cell* placeCell(Cell* cell);
  // Grid extents: see CellGrid::reserveRows.
  bool reserveRows(uint32_t sheet, uint32_t column, uint32_t firstRow, uint32_t lastRow) {
    return grid_.reserveRows(sheet, column, firstRow, lastRow);
  }
  // Enters the cell in the indexed list when its first list index is 0 or more or it has flag
  // 0x10, and in the flag-0x4 list when it has flag 0x4. Both stay sorted and free of duplicates.
  void enterInLists(Cell* cell);

  // Destroys every cell and empties the grid and the lists; the sheet table stays.
  void clearCells();

  // Every cell of the model, ordered by identity; its size is the model's cell count.
  const CellSet& cells() const { return cells_; }
  size_t cellCount() const { return cells_.size(); }
  // Cells that correspond to workbook cells (list index 0 or more, or flag 0x10), by identity.
  const std::vector<Cell*>& indexedCells() const { return indexedCells_; }
  // Cells recalculated on every pass (flag 0x4), by identity.
  const std::vector<Cell*>& alwaysRecalculatedCells() const { return alwaysRecalculated_; }

  CellGrid& grid() { return grid_; }
  const CellGrid& grid() const { return grid_; }
  SheetTable& sheets() { return sheets_; }
  const SheetTable& sheets() const { return sheets_; }

 private:
  CellGrid grid_;
  CellSet cells_;
  std::vector<Cell*> indexedCells_;
  std::vector<Cell*> alwaysRecalculated_;
  SheetTable sheets_;
};

}  // namespace korvel

#endif  // KORVEL_MODEL_COMPILED_MODEL_H_
