#include "model/compiled_model.h"

#include <algorithm>

#include "model/address.h"
#include "model/object_pool.h"

namespace korvel {
namespace {

// Inserts in identity order without duplicates. New cells have the highest identity, so the
// common case appends.
void insertSorted(std::vector<Cell*>& list, Cell* cell) {
  if (list.empty() || list.back()->id() < cell->id()) {
    list.push_back(cell);
    return;
  }
  auto it = std::lower_bound(list.begin(), list.end(), cell, CellIdentityLess());
  if (it == list.end() || *it != cell) list.insert(it, cell);
}

}  // namespace

CompiledModel::~CompiledModel() { clearCells(); }

void CompiledModel::clearCells() {
  grid_.clear();
  indexedCells_.clear();
  alwaysRecalculated_.clear();
  std::vector<Cell*> cells;
  cells.swap(cells_);
  for (Cell* cell : cells) ObjectPool::instance().destroy(cell);
}

Cell* CompiledModel::newCell() {
  // Room first, so that a failure leaves no cell without owner.
  if (cells_.size() == cells_.capacity()) cells_.reserve(std::max<size_t>(64, cells_.size() * 2));
  Cell* cell = ObjectPool::instance().make<Cell>(this);
  cells_.push_back(cell);
  return cell;
}

Cell* CompiledModel::cellAt(CellRef address) {
  if (address.isNone()) return nullptr;
  if (Cell* found = grid_.find(address)) return found;
  Cell* cell = newCell();
  cell->address = address;
  grid_.place(address, cell);
  enterInLists(cell);
  return cell;
}

RangeEntry* CompiledModel::addRange(const RangeRef& range) {
  bool added = false;
  RangeEntry* entry = rangeIndex_.add(range, &added);
  RangeRef r = normalizeRange(range);
  if (!added || !isValidRange(r) || r.first.sheet() != r.last.sheet()) return entry;
  uint32_t sheet = r.first.sheet();
  for (uint32_t column = r.first.column(); column <= r.last.column(); ++column) {
    // Rows past the column's last cell hold nothing to clear.
    int64_t last = std::min<int64_t>(r.last.row(), grid_.lastRowWithCell(sheet, column));
    for (int64_t row = r.first.row(); row <= last; ++row) {
      Cell* cell = grid_.find(CellRef::at(sheet, uint32_t(row), column));
      if (cell) cell->setFlag(kCellOutsideRanges, false);
    }
  }
  return entry;
}

Cell* CompiledModel::placeCell(Cell* cell) {
  if (cell->address.isNone()) return nullptr;
  Cell* previous = grid_.place(cell->address, cell);
  return previous == cell ? nullptr : previous;
}

void CompiledModel::enterInLists(Cell* cell) {
  if (cell->firstListIndex >= 0 || cell->hasFlag(kCellInput)) insertSorted(indexedCells_, cell);
  if (cell->hasFlag(kCellAlwaysRecalculated)) insertSorted(alwaysRecalculated_, cell);
}

}  // namespace korvel
