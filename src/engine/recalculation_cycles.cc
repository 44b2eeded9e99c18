// The cycle search: finds the circles of the dependency graph and registers each as a circular
// group, so that ordering can cut it (flag 0x100) and the changed-cells recalculation can iterate
// it.
#include <algorithm>

#include "engine/engine.h"
#include "engine/recalculation.h"
#include "engine/recalculation_support.h"
#include "model/compiled_model.h"

namespace korvel {

bool Recalculation::readsItself(Cell* cell) {
  if (cell->dependents.count(cell) != 0) return true;
  if (!lookUpRanges(cell)) return false;
  ranges_.clear();
  rangesContaining(cell, ranges_, /*inOrder=*/false);
  for (RangeEntry* entry : ranges_) {
    if (std::find(entry->cells.begin(), entry->cells.end(), cell) != entry->cells.end()) {
      return true;
    }
  }
  return false;
}

void Recalculation::cycleSearch() {
  perPassReset();
  syncRangeLinks();
  // The registry is built afresh each time, so that circles that precedent changes opened or
  // closed are found as they are now, and cells of circles that are gone lose their marks.
  for (Cell* cell : model().cells()) {
    cell->flags &= ~kCellClosesCycle;
    cell->setGroup(nullptr);
  }
  groups_.clear();
  cuts_ = 0;
  searched_ = true;
  if (walkFindsNoCircle()) return;

  struct Frame {
    Cell* cell;
    size_t next;  // the next of this cell's dependents in neighbours
    size_t end;
  };
  std::vector<Frame> path;
  std::vector<Cell*> neighbours;
  std::vector<Cell*> dependents;
  auto enter = [&](Cell* cell) {
    cell->flags |= kCellOnStack | kCellScheduled;
    evaluationList_.push_back(cell);
    size_t begin = neighbours.size();
    collectDependents(cell, lookUpRanges(cell), dependents);
    neighbours.insert(neighbours.end(), dependents.begin(), dependents.end());
    path.push_back(Frame{cell, begin, neighbours.size()});
    if (readsItself(cell)) {
      cell->flags |= kCellClosesCycle;  // cut, but no group of its own
      ++cuts_;
    }
  };
  auto closeCycle = [&](Cell* reached) {
    size_t from = path.size();
    while (from > 0 && path[from - 1].cell != reached) --from;
    if (from == 0) return;
    --from;
    reached->flags |= kCellClosesCycle;
    reached->flags &= ~kCellOnStack;
    ++cuts_;
    if (path.size() - from == 2) {
      path.back().cell->flags |= kCellClosesCycle;
      ++cuts_;
    }
    groups_.push_back(std::make_unique<CircularGroup>(nextGroupId_++));
    CircularGroup* group = groups_.back().get();
    for (size_t i = from; i < path.size(); ++i) {
      group->members.insert(path[i].cell);
      path[i].cell->setGroup(group);
    }
  };

  std::vector<Cell*> starts = model().indexedCells();
  for (Cell* start : starts) {
    if (start->flags & (kCellScheduled | kCellClosesCycle)) continue;
    if (start->precedents.empty() && start->rangeLinks.empty()) continue;
    enter(start);
    while (!path.empty()) {
      Frame& top = path.back();
      if (top.next == top.end) {
        top.cell->flags &= ~kCellOnStack;
        neighbours.resize(path.size() > 1 ? path[path.size() - 2].end : 0);
        path.pop_back();
        continue;
      }
      Cell* next = neighbours[top.next++];
      if (next->hasFlag(kCellOnStack)) {
        closeCycle(next);
      } else if (!(next->flags & (kCellScheduled | kCellClosesCycle))) {
        enter(next);
      }
    }
  }
}

}  // namespace korvel
