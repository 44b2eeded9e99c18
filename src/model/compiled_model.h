// The loaded model: every cell (owned, allocated from the ObjectPool), the grid that finds cells by
// address, the sheet table, and the cell lists that recalculation walks. Names, constants, nodes
// and the tables of shared expressions join it as they are built.
//
// REQUIRES: used only on the thread that handles host commands and evaluates formulas.
#ifndef KORVEL_MODEL_COMPILED_MODEL_H_
#define KORVEL_MODEL_COMPILED_MODEL_H_

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "model/cell.h"
#include "model/cell_grid.h"
#include "model/cell_ref.h"
#include "model/nodes/node.h"
#include "model/range_index.h"
#include "model/sheet.h"

namespace korvel {

class Engine;

// A defined name: its expression's root, the name as written, and its scope.
struct DefinedName {
  std::unique_ptr<Node> root;  // null when the expression had no node
  std::u16string name;
  int32_t scope = -1;  // sheet index of a sheet-level name, -1 for the workbook
};

// A form control with a linked cell. Attributes 1 and 2 and texts 2 and 3 are kept unread.
struct ControlItem {
  uint16_t attribute1 = 0;
  uint16_t attribute2 = 0;
  CellRef linkedCell;
  std::u16string name;
  std::u16string text2;
  std::u16string text3;
  std::u16string groupName;
};

// One group of the control table as stored: the sheet index in the top 8 bits of the word.
struct ControlGroup {
  uint32_t word = 0;
  std::vector<ControlItem> items;
  uint32_t sheet() const { return word >> 24; }
};

struct ExternalWorkbook {
  std::u16string path;
  std::u16string fileName;
  std::u16string fullPath;  // the absolute path, a separator, the file name
};

// Orders DDE item cells by column word, then row word.
struct DdeCellLess {
  bool operator()(const CellRef& a, const CellRef& b) const {
    return a.columnWord != b.columnWord ? a.columnWord < b.columnWord : a.rowWord < b.rowWord;
  }
};

struct DdeItem {
  std::u16string name;
  std::set<CellRef, DdeCellLess> cells;
  Value lastValue;
};

struct DdeLink {
  std::u16string service;
  std::u16string topic;
  std::vector<DdeItem> items;
};

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
  const std::vector<Cell*>& cells() const { return cells_; }
  size_t cellCount() const { return cells_.size(); }
  // Cells that correspond to workbook cells (list index 0 or more, or flag 0x10), by identity.
  const std::vector<Cell*>& indexedCells() const { return indexedCells_; }
  // Cells recalculated on every pass (flag 0x4), by identity.
  const std::vector<Cell*>& alwaysRecalculatedCells() const { return alwaysRecalculated_; }

  CellGrid& grid() { return grid_; }
  const CellGrid& grid() const { return grid_; }
  SheetTable& sheets() { return sheets_; }
  const SheetTable& sheets() const { return sheets_; }
  // The ranges that formulas read (section 10 of the model stream, and those found at run time).
  RangeIndex& rangeIndex() { return rangeIndex_; }
  const RangeIndex& rangeIndex() const { return rangeIndex_; }
  // The entry of the range, added when there is none. A new entry clears flag 0x20000 on the
  // cells inside it: they lay in no range before and must look their ranges up again.
  RangeEntry* addRange(const RangeRef& range);

  // The tables read from and written to the model stream besides the cells. Public data: the
  // reader fills them, the writer and the engine read them.
  uint32_t applicationId = 0;
  uint16_t formatVersion = 1;
  std::vector<ControlGroup> controls;
  std::vector<Value> constants;
  std::vector<ExternalWorkbook> externalWorkbooks;
  std::vector<DdeLink> ddeLinks;
  std::vector<DefinedName> names;              // index order of name-reference nodes
  std::map<std::u16string, size_t> nameIndex;  // upper-cased name to the first index
  NodeList sharedTable1;
  NodeList sharedTable2;
  // Resolves function names of call nodes; borrowed, may be null.
  const FunctionResolver* functions = nullptr;
  // The engine that calculates this model, set by the engine; borrowed, may be null.
  Engine* engine = nullptr;

  // What the model stream carries beyond the tables above, kept so that writing a loaded model
  // gives back the stream it came from (model_stream.h).
  // Header bytes past the fields this writer knows, by section number (0 for the model header);
  // a section without an entry gets the header length this writer uses.
  std::map<int, std::string> headerTails;
  // The stored sheet flags by sheet index; bit 0 is overridden by Sheet::eventFlag on writing.
  std::map<uint32_t, uint32_t> sheetFlags;
  // External workbook records dropped because their full path was already in the table, each
  // with its position among all records of the section as stored.
  std::vector<std::pair<uint32_t, ExternalWorkbook>> duplicateExternalWorkbooks;

 private:
  CellGrid grid_;
  // Cells are only ever added with an identity above every earlier one, and only removed all
  // together, so appending keeps the list in identity order.
  std::vector<Cell*> cells_;
  std::vector<Cell*> indexedCells_;
  std::vector<Cell*> alwaysRecalculated_;
  SheetTable sheets_;
  RangeIndex rangeIndex_;
};

}  // namespace korvel

#endif  // KORVEL_MODEL_COMPILED_MODEL_H_
