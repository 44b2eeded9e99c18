#include "model/cell_grid.h"

#include <algorithm>
#include <utility>

#include "model/address.h"

namespace korvel {
namespace {

// A dense array over the indexes lowest..highest seen, grown at either end. Placing cells one by
// one in falling row order must not copy the array once per cell, so growth by placement leaves
// room in proportion to the current size (within the given bounds); only the span first..last
// counts as used. Storage beyond the span holds empty items.
template <class T>
class DenseSpan {
 public:
  bool used() const { return used_; }
  uint32_t first() const { return first_; }
  uint32_t last() const { return last_; }
  uint32_t storageBase() const { return base_; }
  std::vector<T>& storage() { return items_; }
  const std::vector<T>& storage() const { return items_; }

  T* get(uint32_t index) {
    if (index < base_ || index - base_ >= items_.size()) return nullptr;
    return &items_[index - base_];
  }
  const T* get(uint32_t index) const { return const_cast<DenseSpan*>(this)->get(index); }

  // Extends the span to cover lo..hi. REQUIRES: minIndex <= lo <= hi <= maxIndex.
  void cover(uint32_t lo, uint32_t hi, uint32_t minIndex, uint32_t maxIndex, bool slack) {
    if (used_) {
      first_ = std::min(first_, lo);
      last_ = std::max(last_, hi);
    } else {
      first_ = lo;
      last_ = hi;
      used_ = true;
    }
    int64_t base = base_;
    int64_t end = base + int64_t(items_.size());  // exclusive
    if (!items_.empty() && lo >= base && hi < end) return;
    int64_t newBase = items_.empty() ? lo : std::min<int64_t>(lo, base);
    int64_t newEnd = items_.empty() ? int64_t(hi) + 1 : std::max<int64_t>(int64_t(hi) + 1, end);
    if (slack && !items_.empty()) {
      int64_t size = int64_t(items_.size());
      if (lo < base) newBase = std::max<int64_t>(minIndex, std::min<int64_t>(newBase, base - size));
      if (hi >= end)
        newEnd = std::min<int64_t>(int64_t(maxIndex) + 1, std::max(newEnd, end + size));
    }
    std::vector<T> grown(size_t(newEnd - newBase));
    for (size_t i = 0; i < items_.size(); ++i) {
      grown[size_t(base - newBase) + i] = std::move(items_[i]);
    }
    items_.swap(grown);
    base_ = uint32_t(newBase);
  }

 private:
  std::vector<T> items_;
  uint32_t base_ = 0;
  uint32_t first_ = 0;
  uint32_t last_ = 0;
  bool used_ = false;
};

// The sheet index a lookup uses: 0xFFFF stands for 0xFFFE, which names no real sheet.
uint32_t lookupSheet(uint32_t sheet) { return sheet == 0xFFFF ? 0xFFFE : sheet; }

}  // namespace

struct CellGrid::Block {
  DenseSpan<Cell*> slots;  // indexed by row; unused means span "none"
};

struct CellGrid::Column {
  std::vector<Block> blocks;  // block k covers rows k * kBlockRows to k * kBlockRows + 65535
};

struct CellGrid::SheetColumns {
  DenseSpan<Column> columns;
};

CellGrid::CellGrid() { sheets_.resize(1); }
CellGrid::~CellGrid() = default;

void CellGrid::clear() {
  sheets_.clear();
  sheets_.resize(1);
}

Cell* CellGrid::find(CellRef address) const {
  if (address.isNone()) return nullptr;
  uint32_t sheet = address.sheet();
  if (sheet >= sheets_.size() || !sheets_[sheet]) return nullptr;
  const Column* column = sheets_[sheet]->columns.get(address.column());
  if (!column) return nullptr;
  uint32_t row = address.row();
  uint32_t k = row / kBlockRows;
  if (k >= column->blocks.size()) return nullptr;
  Cell* const* slot = column->blocks[k].slots.get(row);
  return slot ? *slot : nullptr;
}

CellGrid::Block* CellGrid::blockFor(uint32_t sheet, uint32_t column, uint32_t row) {
  if (sheet >= sheets_.size()) sheets_.resize(size_t(sheet) + 1);
  if (!sheets_[sheet]) sheets_[sheet] = std::make_unique<SheetColumns>();
  DenseSpan<Column>& columns = sheets_[sheet]->columns;
  columns.cover(column, column, 0, kFullMaxColumn, true);
  Column& entry = *columns.get(column);
  uint32_t k = row / kBlockRows;
  if (k >= entry.blocks.size()) entry.blocks.resize(size_t(k) + 1);
  return &entry.blocks[k];
}

Cell* CellGrid::place(CellRef address, Cell* cell) {
  if (address.isNone()) return nullptr;
  uint32_t row = address.row();
  uint32_t blockStart = row / kBlockRows * kBlockRows;
  Block* block = blockFor(address.sheet(), address.column(), row);
  block->slots.cover(row, row, blockStart, blockStart + kBlockRows - 1, true);
  return std::exchange(*block->slots.get(row), cell);
}

Cell* CellGrid::erase(CellRef address) {
  if (!find(address)) return nullptr;
  Block* block = blockFor(address.sheet(), address.column(), address.row());
  return std::exchange(*block->slots.get(address.row()), nullptr);
}

int64_t CellGrid::lastRowWithCell(uint32_t sheet, uint32_t column) const {
  sheet = lookupSheet(sheet);
  if (sheet >= sheets_.size() || !sheets_[sheet]) return -1;
  const Column* entry = sheets_[sheet]->columns.get(column);
  if (!entry) return -1;
  for (size_t k = entry->blocks.size(); k-- > 0;) {
    const DenseSpan<Cell*>& slots = entry->blocks[k].slots;
    if (!slots.used()) continue;
    for (int64_t row = slots.last(); row >= int64_t(slots.first()); --row) {
      Cell* const* slot = slots.get(uint32_t(row));
      if (slot && *slot) return row;
    }
  }
  return -1;
}

bool CellGrid::reserveRows(uint32_t sheet, uint32_t column, uint32_t firstRow, uint32_t lastRow) {
  if (sheet > 0xFFFF || column > kFullMaxColumn || firstRow > kFullMaxRow || firstRow > lastRow) {
    return false;
  }
  uint32_t blockStart = firstRow / kBlockRows * kBlockRows;
  uint32_t blockEnd = blockStart + kBlockRows - 1;
  lastRow = std::min(lastRow, blockEnd);
  Block* block = blockFor(lookupSheet(sheet), column, firstRow);
  block->slots.cover(firstRow, lastRow, blockStart, blockEnd, false);
  return true;
}

std::vector<GridExtent> CellGrid::extents() const {
  std::vector<GridExtent> out;
  for (uint32_t sheet = 0; sheet < sheets_.size(); ++sheet) {
    if (!sheets_[sheet]) continue;
    const DenseSpan<Column>& columns = sheets_[sheet]->columns;
    for (size_t i = 0; i < columns.storage().size(); ++i) {
      uint32_t column = columns.storageBase() + uint32_t(i);
      for (const Block& block : columns.storage()[i].blocks) {
        if (block.slots.used()) {
          out.push_back({sheet, column, block.slots.first(), block.slots.last()});
        }
      }
    }
  }
  return out;
}

}  // namespace korvel
