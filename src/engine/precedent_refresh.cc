// Precedents that formulas compute at run time: the reference collector, the refresh of the
// precedents of evaluated cells that carry 0x20, and the re-linking of every indexed cell at the
// start of a full recalculation. Links are kept both ways: a precedent cell lists the cell among
// its dependents, and a precedent range (an entry of the model's range index) lists it among the
// cells that read it.
#include <algorithm>
#include <set>
#include <tuple>

#include "engine/calc_host.h"
#include "engine/engine.h"
#include "engine/recalculation.h"
#include "engine/recalculation_support.h"
#include "model/address.h"
#include "model/compiled_model.h"
#include "model/nodes/node.h"

namespace korvel {
namespace {

// ROW, COLUMN, INDEX, ROWS, COLUMNS, OFFSET and ISREF: they read where their reference argument
// lies rather than what it holds.
bool readsPlaceOnly(int functionNumber) {
  switch (functionNumber) {
    case 8:
    case 9:
    case 29:
    case 76:
    case 77:
    case 78:
    case 105:
      return true;
    default:
      return false;
  }
}

bool isIndirect(const Node* node) {
  switch (node->tag()) {
    case kTagNameRef:
    case kTagSharedRef1:
    case kTagSharedRef2:
    case kTagLocalRef:
      return true;
    default:
      return false;
  }
}

void collectArea(CompiledModel& model, RangeRef range, CollectedReferences& out) {
  RangeRef r = normalizeRange(range);
  if (!isValidRange(r)) return;
  bool oneSheet = r.first.sheet() == r.last.sheet();
  if (oneSheet && r.first.row() == r.last.row() && r.first.column() == r.last.column()) {
    if (Cell* cell = model.cellAt(CellRef::at(r.first.sheet(), r.first.row(), r.first.column()))) {
      out.cells.push_back(cell);
    }
  } else if (oneSheet) {
    out.ranges.push_back(r);
  }
}

}  // namespace

CollectedReferences collectReferences(CompiledModel& model, const Node* root, bool computed) {
  struct Item {
    const Node* node;
    bool areaExcluded;
    bool cellExcluded;
  };
  CollectedReferences out;
  std::vector<Item> stack;
  if (root) stack.push_back(Item{root, false, false});
  // A name or shared expression is followed once per way it is used, which also ends circles of
  // names.
  std::set<std::tuple<const Node*, bool, bool>> followed;
  while (!stack.empty()) {
    Item item = stack.back();
    stack.pop_back();
    const Node* node = item.node;
    if (isIndirect(node)) {
      const Node* target = static_cast<const IndirectNode*>(node)->target();
      if (target && followed.emplace(target, item.areaExcluded, item.cellExcluded).second) {
        stack.push_back(Item{target, item.areaExcluded, item.cellExcluded});
      }
      continue;
    }
    const ChildList& children = node->children();
    switch (node->tag()) {
      case kTagCellRef:
        if (!item.cellExcluded) {
          if (Cell* cell = static_cast<const CellRefNode*>(node)->cell()) out.cells.push_back(cell);
        }
        break;
      case kTagRangeRef:
        if (!item.areaExcluded) {
          collectArea(model, static_cast<const RangeRefNode*>(node)->range(), out);
        }
        break;
      case kTagCall: {
        if (computed && !item.areaExcluded && node->value().isReference()) {
          collectArea(model, node->value().reference(), out);
        }
        bool placeOnly = readsPlaceOnly(static_cast<const CallNode*>(node)->functionNumber());
        for (size_t i = children.size(); i-- > 0;) {
          stack.push_back(Item{children[i].get(), placeOnly, placeOnly && i == 0});
        }
        break;
      }
      case kTagUnion:
      case kTagIntersection:
        // The areas of a union or intersection are the argument itself.
        for (size_t i = children.size(); i-- > 0;) {
          stack.push_back(Item{children[i].get(), item.areaExcluded, item.cellExcluded});
        }
        break;
      default:
        for (size_t i = children.size(); i-- > 0;) {
          stack.push_back(Item{children[i].get(), false, false});
        }
        break;
    }
  }
  return out;
}

void Recalculation::syncRangeLinks() {
  for (RangeEntry* entry : model().rangeIndex()) {
    for (Cell* cell : entry->cells) {
      auto& links = cell->rangeLinks;
      if (std::find(links.begin(), links.end(), entry) == links.end()) links.push_back(entry);
    }
  }
}

bool Recalculation::setPrecedents(Cell* cell, const CollectedReferences& references, bool add) {
  std::vector<RangeEntry*> ranges;
  for (const RangeRef& range : references.ranges) {
    RangeEntry* entry = model().addRange(normalizeRange(range));
    if (std::find(ranges.begin(), ranges.end(), entry) == ranges.end()) ranges.push_back(entry);
  }
  bool changed = false;
  if (!add) {
    CellSet cells(references.cells.begin(), references.cells.end());
    std::vector<Cell*> dropped;
    for (Cell* precedent : cell->precedents) {
      if (cells.count(precedent) == 0) dropped.push_back(precedent);
    }
    for (Cell* precedent : dropped) {
      cell->precedents.erase(precedent);
      precedent->dependents.erase(cell);
      precedent->setFlag(kCellOutsideRanges, false);
      changed = true;
    }
    RangeLinks kept;
    for (RangeEntry* entry : cell->rangeLinks) {
      if (std::find(ranges.begin(), ranges.end(), entry) != ranges.end()) kept.push_back(entry);
    }
    for (RangeEntry* entry : cell->rangeLinks) {
      if (std::find(ranges.begin(), ranges.end(), entry) != ranges.end()) continue;
      entry->cells.remove(cell);
      changed = true;
    }
    cell->rangeLinks = std::move(kept);
  }
  // Links keep identity order whatever order they are made in, and a cell listed twice is
  // linked once.
  for (Cell* precedent : references.cells) {
    if (cell->precedents.count(precedent) != 0) continue;
    cell->addPrecedent(precedent);
    precedent->setFlag(kCellOutsideRanges, false);
    changed = true;
  }
  for (RangeEntry* entry : ranges) {
    auto& links = cell->rangeLinks;
    if (std::find(links.begin(), links.end(), entry) != links.end()) continue;
    links.push_back(entry);
    if (std::find(entry->cells.begin(), entry->cells.end(), cell) == entry->cells.end()) {
      entry->cells.push_back(cell);
    }
    changed = true;
  }
  return changed;
}

bool Recalculation::refreshPrecedents() {
  constexpr uint32_t kRefreshed = kCellRederivePrecedents | kCellScheduled | kCellEvaluated;
  std::vector<Cell*> candidates;
  for (Cell* cell : model().indexedCells()) {
    if ((cell->flags & kRefreshed) == kRefreshed && !cell->formulaRoots.empty() &&
        cell->formulaRoots.front()) {
      candidates.push_back(cell);
    }
  }
  syncRangeLinks();
  bool changed = false;
  for (Cell* cell : candidates) {
    CurrentCellScope scope(cell);
    CollectedReferences references = collectReferences(model(), cell->formulaRoots.front().get(),
                                                       /*computed=*/true);
    if (setPrecedents(cell, references, /*add=*/false)) changed = true;
  }
  // New links may open or close circles (the search clears the marks of the old ones first).
  if (changed) cycleSearch();
  return changed;
}

void Recalculation::relinkPrecedents() {
  syncRangeLinks();
  std::vector<Cell*> cells = model().indexedCells();
  CalcHost* host = engine_.host();
  for (Cell* cell : cells) {
    if (cell->hasFlag(kCellInput)) {
      if (!host) continue;
      std::vector<RangeRef> areas;
      try {
        host->directPrecedents(cell, areas);
      } catch (const HostCallFailure&) {
        continue;
      }
      if (areas.empty()) continue;
      CollectedReferences references;
      for (const RangeRef& area : areas) collectArea(model(), area, references);
      setPrecedents(cell, references, /*add=*/false);
    } else if (!cell->formulaRoots.empty() && cell->formulaRoots.front()) {
      CurrentCellScope scope(cell);
      CollectedReferences references = collectReferences(model(), cell->formulaRoots.front().get(),
                                                         /*computed=*/false);
      setPrecedents(cell, references, /*add=*/true);
    }
  }
}

}  // namespace korvel
