// The sparse grid that finds a model cell by address: per sheet a span of columns, per column row
// blocks of 65,536 rows, each a dense array of cell pointers over the rows it has seen. A missing
// sheet, column, block or slot means "no cell". The grid borrows the cells; the model owns them.
#ifndef KORVEL_MODEL_CELL_GRID_H_
#define KORVEL_MODEL_CELL_GRID_H_

#include <cstdint>
#include <memory>
#include <vector>

#include "model/cell_ref.h"

namespace korvel {

class Cell;

// One allocated row block: the rows it has slots for, all inside one block.
struct GridExtent {
  uint32_t sheet;
  uint32_t column;
  uint32_t firstRow;
  uint32_t lastRow;
  bool operator==(const GridExtent&) const = default;
};

class CellGrid {
 public:
  static constexpr uint32_t kBlockRows = 65536;

  CellGrid();
  ~CellGrid();
  CellGrid(const CellGrid&) = delete;
  CellGrid& operator=(const CellGrid&) = delete;

  // The cell at the address (row and column masked, sheet 0xFFFF taken as 0xFFFE), or null.
  // The sentinel finds nothing.
  Cell* find(CellRef address) const;

  // Puts the cell in the slot of the address, growing the levels it needs, and returns the cell
  // that was there before (null when none). Nothing happens for the sentinel.
  Cell* place(CellRef address, Cell* cell);
  // Empties the slot of the address, keeping the storage. Returns the cell that was there.
  Cell* erase(CellRef address);

  // Gives the block that contains firstRow slots for firstRow to lastRow; lastRow is clamped to
  // that block. Creates no cells. False, with nothing allocated, when the column or firstRow lie
  // beyond what a CellRef can hold or firstRow > lastRow.
  bool reserveRows(uint32_t sheet, uint32_t column, uint32_t firstRow, uint32_t lastRow);

  // The last row of the column that holds a cell, or -1 when the column holds none. Scans down
  // from the end of the used slots, which is where cells normally are, so a full column costs
  // little more than a lookup.
  int64_t lastRowWithCell(uint32_t sheet, uint32_t column) const;
  // Every allocated row block by sheet, column and block, with the rows it has slots for.
  std::vector<GridExtent> extents() const;

  void clear();

 private:
  struct Block;
  struct Column;
  struct SheetColumns;

  Block* blockFor(uint32_t sheet, uint32_t column, uint32_t row);

  std::vector<std::unique_ptr<SheetColumns>> sheets_;
};

}  // namespace korvel

#endif  // KORVEL_MODEL_CELL_GRID_H_
