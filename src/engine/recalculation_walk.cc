// The dependency walk: the cycle search and the level relaxation for models without circles, in
// time linear in the cells, the links and the range entries. Asking every cell for the readers
// of every range that holds it costs the number of (cell, range) pairs, which is quadratic for
// running totals over formula cells (each cell lies in every later total's range); the walk goes
// from a cell to the heads of the index's chains instead, and each chain slot and each entry is
// visited once. What it finds is what the per-cell search and relaxation find: the walk reaches
// a reader from a cell exactly when the cell lies in a range the reader reads. When it meets a
// circle, the callers fall back to the per-cell code, which decides how circles are cut.
#include <algorithm>
#include <cstdint>
#include <new>

#include "engine/engine.h"
#include "engine/recalculation.h"
#include "engine/recalculation_support.h"
#include "model/address.h"
#include "model/compiled_model.h"
#include "model/range_index.h"

namespace korvel {
namespace {

using WalkNode = uintptr_t;

// Cells are aligned, so the two low bits of a node tell what it is.
constexpr WalkNode kTagMask = 3;
constexpr WalkNode kSlotTag = 1;
constexpr WalkNode kEntryTag = 2;

WalkNode cellNode(Cell* cell) { return reinterpret_cast<WalkNode>(cell); }
WalkNode slotNode(uint32_t slot) { return (WalkNode(slot) << 2) | kSlotTag; }
WalkNode entryNode(uint32_t position) { return (WalkNode(position) << 2) | kEntryTag; }
Cell* asCell(WalkNode node) { return reinterpret_cast<Cell*>(node); }
uint32_t number(WalkNode node) { return uint32_t(node >> 2); }

// The array member whose level the relaxation keeps above its anchor's.
bool followsAnchor(const Cell* cell) {
  return cell->hasFlag(kCellArrayMember) && !cell->hasFlag(kCellArrayElsewhere) &&
         !startsArrayRange(cell);
}

}  // namespace

void Recalculation::walkSuccessors(WalkNode node, WalkLookup lookup, std::vector<WalkNode>& out) {
  RangeIndex& index = model().rangeIndex();
  switch (node & kTagMask) {
    case kSlotTag: {
      out.push_back(entryNode(index.slotEntry(number(node))));
      uint32_t next = index.slotNext(number(node));
      if (next != RangeIndex::kNoSlot) out.push_back(slotNode(next));
      return;
    }
    case kEntryTag:
      for (Cell* reader : index[number(node)]->cells) out.push_back(cellNode(reader));
      return;
    default:
      break;
  }
  Cell* cell = asCell(node);
  // A cell that reads itself is a circle to the walk: the per-cell search cuts it.
  for (Cell* dependent : cell->dependents) out.push_back(cellNode(dependent));
  if (!cell->hasFlag(kCellOutsideRanges) || cell->hasFlag(kCellRederivePrecedents)) {
    chainSlots_.clear();
    wideEntries_.clear();
    index.chainsHolding(cell->address, chainSlots_, wideEntries_);
    for (uint32_t slot : chainSlots_) out.push_back(slotNode(slot));
    for (uint32_t position : wideEntries_) out.push_back(entryNode(position));
    // As the range lookup of the cycle search does: a cell in no range skips the lookup later.
    if (lookup == WalkLookup::kMarking && chainSlots_.empty() && wideEntries_.empty()) {
      cell->setFlag(kCellOutsideRanges, true);
    }
  }
  if (isArrayAnchor(cell)) {
    members_.clear();
    appendArrayMembers(cell, members_);
    for (Cell* member : members_) out.push_back(cellNode(member));
  }
}

bool Recalculation::walk(const std::vector<Cell*>& roots, WalkLookup lookup, bool recordOrder) {
  RangeIndex& index = model().rangeIndex();
  if (!index.slotsNumbered()) {
    uint32_t slots = index.numberSlots();
    slotMarks_.assign(slots, 0);
    slotLevels_.assign(slots, 0);
  }
  if (entryMarks_.size() < index.size()) {
    entryMarks_.resize(index.size(), 0);
    entryLevels_.resize(index.size(), 0);
  }
  walkOrder_.clear();
  walkPath_.clear();
  walkPending_.clear();
  walkDeferred_.clear();
  walkDeferredStarts_.clear();
  // Returns the mark of a node: 0 not met, 1 entered, 2 finished.
  auto markOf = [this](WalkNode node) -> uint8_t {
    switch (node & kTagMask) {
      case kSlotTag:
        return slotMarks_[number(node)];
      case kEntryTag:
        return entryMarks_[number(node)];
      default: {
        const Cell* cell = asCell(node);
        return cell->hasFlag(kCellWalkDone) ? 2 : cell->hasFlag(kCellWalkOpen) ? 1 : 0;
      }
    }
  };
  auto setMark = [this](WalkNode node, uint8_t mark) {
    switch (node & kTagMask) {
      case kSlotTag:
        slotMarks_[number(node)] = mark;
        return;
      case kEntryTag:
        entryMarks_[number(node)] = mark;
        return;
      default: {
        Cell* cell = asCell(node);
        cell->flags &= ~(kCellWalkOpen | kCellWalkDone);
        cell->flags |= mark == 2 ? kCellWalkDone : kCellWalkOpen;
      }
    }
  };
  auto enter = [&](WalkNode node) {
    setMark(node, 1);
    size_t begin = walkPending_.size();
    walkSuccessors(node, lookup, walkPending_);
    // Frames count successors in 31 bits; so many waiting at once means memory is gone anyway.
    if (walkPending_.size() >= kFrameDefers) throw std::bad_alloc();
    walkPath_.push_back(WalkFrame{node, uint32_t(begin), uint32_t(walkPending_.size())});
  };
  auto finish = [&](WalkNode node) {
    setMark(node, 2);
    if (recordOrder) walkOrder_.push_back(node);
  };
  auto endOf = [](const WalkFrame& frame) { return frame.end & ~kFrameDefers; };
  for (Cell* root : roots) {
    if (markOf(cellNode(root)) != 0) continue;
    // The cycle search starts only from cells that read something; it reaches the others.
    if (lookup == WalkLookup::kMarking && root->precedents.empty() && root->rangeLinks.empty()) {
      continue;
    }
    enter(cellNode(root));
    while (!walkPath_.empty()) {
      WalkFrame& top = walkPath_.back();
      if (top.next == endOf(top)) {
        finish(top.node);
        if (top.end & kFrameDefers) {
          bool starts = false;
          while (!starts) {
            starts = walkDeferredStarts_.back();
            finish(walkDeferred_.back());
            walkDeferred_.pop_back();
            walkDeferredStarts_.pop_back();
          }
        }
        walkPath_.pop_back();
        walkPending_.resize(walkPath_.empty() ? 0 : endOf(walkPath_.back()));
        continue;
      }
      WalkNode next = walkPending_[top.next++];
      uint8_t mark = markOf(next);
      if (mark == 1) return false;
      if (mark == 0) {
        if (top.next < endOf(top)) {
          enter(next);
          continue;
        }
        // Nothing of this node waits any more: it is finished right after the node entered, whose
        // frame and successors take over its room. The finishing order stays what a frame of its
        // own would give, and a chain is walked one frame deep.
        walkDeferred_.push_back(top.node);
        walkDeferredStarts_.push_back(!(top.end & kFrameDefers));
        walkPath_.pop_back();
        walkPending_.resize(walkPath_.empty() ? 0 : endOf(walkPath_.back()));
        enter(next);
        walkPath_.back().end |= kFrameDefers;
      }
    }
  }
  return true;
}

void Recalculation::endWalk(bool recorded) {
  if (!recorded) {
    for (Cell* cell : model().cells()) {
      cell->flags &= ~(kCellWalkOpen | kCellWalkDone | kCellWalkRaised);
    }
    std::fill(slotMarks_.begin(), slotMarks_.end(), 0);
    std::fill(entryMarks_.begin(), entryMarks_.end(), 0);
    releaseWalkBuffers();
    return;
  }
  auto clear = [this](WalkNode node) {
    switch (node & kTagMask) {
      case kSlotTag:
        slotMarks_[number(node)] = 0;
        slotLevels_[number(node)] = 0;
        return;
      case kEntryTag:
        entryMarks_[number(node)] = 0;
        entryLevels_[number(node)] = 0;
        return;
      default:
        asCell(node)->flags &= ~(kCellWalkOpen | kCellWalkDone | kCellWalkRaised);
    }
  };
  for (WalkNode node : walkOrder_) clear(node);
  for (const WalkFrame& frame : walkPath_) clear(frame.node);
  for (WalkNode node : walkDeferred_) clear(node);
  releaseWalkBuffers();
}

void Recalculation::releaseWalkBuffers() {
  // A walk over a large model leaves buffers of tens of bytes per cell; evaluation, which comes
  // next and may hold as much again, is better off without them. Small ones are kept for reuse.
  constexpr size_t kKeptCapacity = size_t{1} << 16;
  auto release = [](auto& buffer) {
    if (buffer.capacity() > kKeptCapacity) {
      std::remove_reference_t<decltype(buffer)>().swap(buffer);
    } else {
      buffer.clear();
    }
  };
  release(walkOrder_);
  release(walkPath_);
  release(walkPending_);
  release(walkDeferred_);
  release(walkDeferredStarts_);
}

bool Recalculation::walkFindsNoCircle() {
  // The search covers the whole model, so the marks are cleared from the cells' list rather than
  // from an order kept for nothing else.
  bool none = walk(model().indexedCells(), WalkLookup::kMarking, /*recordOrder=*/false);
  endWalk(/*recorded=*/false);
  return none;
}

// Every cell of the evaluation list, and every cell whose level was raised, keeps its readers
// above it; the other cells pass nothing on. In dependency order each cell has received all it
// will receive before it passes its own level on, so one pass gives the least levels that the
// step-by-step relaxation reaches in any order.
bool Recalculation::relaxInOrder() {
  bool inOrder = walk(evaluationList_, WalkLookup::kFlagsOnly);
  for (size_t i = 0; inOrder && i < walkOrder_.size(); ++i) {
    WalkNode node = walkOrder_[i];
    if ((node & kTagMask) != 0 || !followsAnchor(asCell(node))) continue;
    // A member is kept above its anchor, so the anchor must come first in the walk's order: an
    // anchor that lists the member among its readers does.
    Cell* cell = asCell(node);
    Cell* anchor = arrayAnchorOf(cell);
    if (anchor && anchor->hasFlag(kCellScheduled) &&
        (!isArrayAnchor(anchor) ||
         !(normalizeRange(*anchor->arrayRange()) == normalizeRange(*cell->arrayRange())))) {
      inOrder = false;
    }
  }
  if (!inOrder) {
    endWalk();
    return false;
  }
  for (Cell* cell : evaluationList_) cell->flags |= kCellWalkListed;
  auto raise = [](Cell* cell, uint32_t level) {
    if (cell->level < level) {
      cell->level = level;
      cell->flags |= kCellWalkRaised;
    }
  };
  for (size_t i = walkOrder_.size(); i-- > 0;) {
    WalkNode node = walkOrder_[i];
    uint32_t passed = 0;
    switch (node & kTagMask) {
      case kSlotTag:
        passed = slotLevels_[number(node)];
        break;
      case kEntryTag:
        passed = entryLevels_[number(node)];
        break;
      default: {
        Cell* cell = asCell(node);
        if (!(cell->flags & (kCellWalkListed | kCellWalkRaised))) continue;
        if (followsAnchor(cell)) {
          Cell* anchor = arrayAnchorOf(cell);
          if (anchor && anchor->hasFlag(kCellScheduled) && !anchor->hasFlag(kCellEvaluated)) {
            raise(cell, anchor->level + 1);
          }
        }
        passed = cell->level + 1;
      }
    }
    if (passed == 0) continue;
    walkScratch_.clear();
    walkSuccessors(node, WalkLookup::kFlagsOnly, walkScratch_);
    for (WalkNode next : walkScratch_) {
      switch (next & kTagMask) {
        case kSlotTag:
          slotLevels_[number(next)] = std::max(slotLevels_[number(next)], passed);
          break;
        case kEntryTag:
          entryLevels_[number(next)] = std::max(entryLevels_[number(next)], passed);
          break;
        default:
          raise(asCell(next), passed);
      }
    }
  }
  for (Cell* cell : evaluationList_) cell->flags &= ~kCellWalkListed;
  endWalk();
  return true;
}

}  // namespace korvel
