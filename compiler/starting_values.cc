// The cells that needed the host program are known only after the pass (the host remembers the
// cell being evaluated at each call), so every formula cell's value is kept before it and the
// cells that needed the host, with everything that reads them, get their kept value back after.

#include "compiler/starting_values.h"

#include <algorithm>
#include <map>
#include <optional>
#include <unordered_set>
#include <utility>
#include <vector>

#include "engine/engine.h"
#include "engine/recalculation.h"
#include "hosts/headless/headless_calc_host.h"

namespace korvel {
namespace {

bool isFormulaCell(const Cell* cell) {
  return cell->firstListIndex >= 0 && !cell->hasFlag(kCellInput);
}

// Finds the range entries that contain a cell without walking every entry for every cell: entries
// up to kNarrow columns wide are filed under each of their columns, sorted by first row, so that
// only the entries starting at most the longest span above the row are looked at; wider entries
// are few (whole rows, wide tables) and are looked at one by one.
class RangeLookup {
 public:
  explicit RangeLookup(const CompiledModel& model) {
    for (const auto& owned : model.rangeIndex) {
      const RangeEntry* entry = owned.get();
      const RangeRef& r = entry->range;
      if (r.first.isNone() || r.last.isNone() || r.first.sheet() != r.last.sheet()) continue;
      uint32_t c1 = std::min(r.first.column(), r.last.column());
      uint32_t c2 = std::max(r.first.column(), r.last.column());
      if (c2 - c1 >= kNarrow) {
        wide_[r.first.sheet()].push_back(entry);
        continue;
      }
      for (uint32_t c = c1; c <= c2; ++c) {
        Column& column = columns_[{r.first.sheet(), c}];
        column.entries.push_back(entry);
      }
    }
    for (auto& [key, column] : columns_) {
      std::sort(column.entries.begin(), column.entries.end(),
                [](const RangeEntry* a, const RangeEntry* b) { return firstRow(a) < firstRow(b); });
      for (const RangeEntry* entry : column.entries) {
        column.longestSpan = std::max(column.longestSpan, lastRow(entry) - firstRow(entry));
      }
    }
  }

  // Calls visit for every entry whose range contains the address.
  template <class Visit>
  void forEachContaining(CellRef address, Visit visit) const {
    uint32_t row = address.row(), column = address.column();
    auto it = columns_.find({address.sheet(), column});
    if (it != columns_.end()) {
      const Column& c = it->second;
      auto end = std::upper_bound(c.entries.begin(), c.entries.end(), row,
                                  [](uint32_t r, const RangeEntry* e) { return r < firstRow(e); });
      uint32_t lowest = row > c.longestSpan ? row - c.longestSpan : 0;
      for (auto e = end; e != c.entries.begin();) {
        --e;
        if (firstRow(*e) < lowest) break;
        if (lastRow(*e) >= row) visit(*e);
      }
    }
    auto wide = wide_.find(address.sheet());
    if (wide == wide_.end()) return;
    for (const RangeEntry* entry : wide->second) {
      const RangeRef& r = entry->range;
      if (row >= firstRow(entry) && row <= lastRow(entry) &&
          column >= std::min(r.first.column(), r.last.column()) &&
          column <= std::max(r.first.column(), r.last.column())) {
        visit(entry);
      }
    }
  }

 private:
  static constexpr uint32_t kNarrow = 64;
  static uint32_t firstRow(const RangeEntry* e) {
    return std::min(e->range.first.row(), e->range.last.row());
  }
  static uint32_t lastRow(const RangeEntry* e) {
    return std::max(e->range.first.row(), e->range.last.row());
  }

  struct Column {
    std::vector<const RangeEntry*> entries;
    uint32_t longestSpan = 0;
  };
  std::map<std::pair<uint32_t, uint32_t>, Column> columns_;  // by sheet, column
  std::map<uint32_t, std::vector<const RangeEntry*>> wide_;  // by sheet
};

}  // namespace

// Iterative, as chains of formulas may be long.
CellSet cellsDependingOn(const CompiledModel& model, const CellSet& start) {
  CellSet reached;
  std::vector<Cell*> stack;
  auto reach = [&](Cell* cell) {
    if (cell && reached.insert(cell).second) stack.push_back(cell);
  };
  for (Cell* cell : start) reach(cell);
  if (stack.empty()) return reached;
  RangeLookup ranges(model);
  std::unordered_set<const RangeEntry*> fired;  // an entry's readers are reached once
  while (!stack.empty()) {
    Cell* cell = stack.back();
    stack.pop_back();
    for (Cell* dependent : cell->dependents) reach(dependent);
    ranges.forEachContaining(cell->address, [&](const RangeEntry* entry) {
      if (!fired.insert(entry).second) return;
      for (Cell* reader : entry->cells) reach(reader);
    });
    // The anchor computes the whole array formula, so its members share its fate.
    if (cell->arrayRange && cell->hasFlag(kCellArrayMember) &&
        cell->address == cell->arrayRange->first) {
      const RangeRef& r = *cell->arrayRange;
      for (uint32_t row = r.first.row(); row <= r.last.row(); ++row) {
        for (uint32_t column = r.first.column(); column <= r.last.column(); ++column) {
          reach(model.findCell(CellRef::at(r.first.sheet(), row, column)));
        }
      }
    }
  }
  return reached;
}

StartingValues computeStartingValues(Engine& engine, HeadlessCalcHost& host) {
  CompiledModel& model = engine.model();
  StartingValues result;
  std::vector<std::pair<Cell*, std::optional<Value>>> kept;
  for (Cell* cell : model.indexedCells()) {
    if (!isFormulaCell(cell)) continue;
    kept.emplace_back(cell, cell->value ? std::optional<Value>(*cell->value) : std::nullopt);
  }
  result.formulaCells = kept.size();

  // Only the cells of this pass count as needing the host; the call counts stay for the caller.
  host.takeCellsNeedingHost();
  bool output = engine.output;
  engine.output = false;  // the pass fills the model; nothing is shown yet
  engine.recalculation().computeAll();
  engine.output = output;

  CellSet reached = cellsDependingOn(model, host.takeCellsNeedingHost());
  for (auto& [cell, value] : kept) {
    if (!reached.count(cell)) continue;
    ++result.keptCells;
    if (value) {
      cell->ensureValue() = *value;
    } else if (cell->value) {
      cell->value->clear();
    }
  }
  return result;
}

StartingValues computeStartingValues(CompiledModel& model) {
  HeadlessCalcHost host(&model);
  Engine* previous = model.engine;
  StartingValues result;
  {
    Engine engine(model, &host);
    result = computeStartingValues(engine, host);
  }
  model.engine = previous;
  return result;
}

}  // namespace korvel
