// The ranges that formulas read, each with the cells whose formulas depend on it, and the answer
// to the question recalculation asks for every cell it schedules: which of these ranges contain
// this cell. It is the only owner of the entries; the model reader, the compiler, the precedent
// refresh and the host's precedent reports all add entries through it, so two routines can never
// disagree about which entry a range has.
//
// Containment is answered from a structure over rows kept per sheet and column (ranges wider than
// kNarrowColumns keep one per sheet and are checked column by column): an entry whose rows are
// [first, last] is filed at the level of the highest bit in which first and last differ, under
// the common prefix of the two, so that every entry of one such node straddles the node's middle
// row. A row below the middle is then in exactly the node's entries whose first row is at most
// the row (a prefix of the node's list sorted by first row), a row at or past the middle in those
// whose last row is at least it (a prefix of the list sorted by last row, descending). A query
// costs a binary search per level that holds entries plus the entries it reports.
//
// During a pass, entries whose readers were already reached can be left out of the answers, so
// that a cell inside many ranges that were all reached through earlier cells costs almost
// nothing: such entries are skipped over with pointers that are re-made lazily each pass.
//
// REQUIRES: used only on the thread that handles host commands and evaluates formulas.
#ifndef KORVEL_MODEL_RANGE_INDEX_H_
#define KORVEL_MODEL_RANGE_INDEX_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "model/cell_ref.h"
#include "model/pointer_list.h"

namespace korvel {

class Cell;

// A range that formulas read, with the cells whose formulas depend on it.
struct RangeEntry {
  RangeRef range;           // as first registered; written back to the model as it stands
  PointerList<Cell> cells;  // the readers, in the order they were linked
  uint32_t position = 0;    // the entry's place in the index order
  uint32_t passMark = 0;    // the pass in which the readers were reached (RangeIndex::newPass)
};

class RangeIndex {
 public:
  // Entries at most this many columns wide are filed under each of their columns.
  static constexpr uint32_t kNarrowColumns = 32;

  RangeIndex();
  ~RangeIndex();
  RangeIndex(const RangeIndex&) = delete;
  RangeIndex& operator=(const RangeIndex&) = delete;

  size_t size() const { return entries_.size(); }
  bool empty() const { return entries_.empty(); }
  // The entry at a place of the index order. REQUIRES: i < size().
  RangeEntry* operator[](size_t i) const { return entries_[i]; }

  class const_iterator {
   public:
    using Inner = std::vector<RangeEntry*>::const_iterator;
    explicit const_iterator(Inner it) : it_(it) {}
    RangeEntry* operator*() const { return *it_; }
    const_iterator& operator++() {
      ++it_;
      return *this;
    }
    bool operator==(const const_iterator&) const = default;

   private:
    Inner it_;
  };
  // Entries in index order: the order they were added in.
  const_iterator begin() const { return const_iterator(entries_.begin()); }
  const_iterator end() const { return const_iterator(entries_.end()); }

  // The entry of the range (compared in normalised form), or null.
  RangeEntry* find(const RangeRef& range) const;
  // The entry of the range, added at the end of the index order when there is none; *added tells
  // which. A range that is not valid or spans sheets gets an entry too (the model keeps what it
  // was given) but contains no cell.
  RangeEntry* add(const RangeRef& range, bool* added = nullptr);

  // Appends the entries whose range contains the address to out: in index order, or, for callers
  // to whom the order does not matter, in the order they are found.
  void containing(CellRef address, std::vector<RangeEntry*>& out, bool inOrder = true) const;
  // Whether some entry contains the address.
  bool containsAny(CellRef address) const;
  // Appends, in index order, the entries that contain the address and are not marked in the
  // current pass; marks them. Entries met that were marked already are skipped from then on
  // until the next pass.
  void reachUnmarked(CellRef address, std::vector<RangeEntry*>& out);
  // Starts a pass: every entry counts as unmarked again.
  void newPass();
  uint32_t pass() const { return pass_; }

  // Containment as a graph, for walks that must cost linear time even where ranges nest (running
  // totals): the slots of each list of a level form chains, one per node, in which each slot
  // leads to its entry and to the slot before it. A row is in exactly the entries of the chain
  // that starts at the last slot of its run, so a cell needs one edge per level, not one per
  // range that holds it. Slots are numbered by numberSlots, which stays valid until an entry is
  // added.
  static constexpr uint32_t kNoSlot = UINT32_MAX;
  // Settles every level and numbers its slots; returns how many there are.
  uint32_t numberSlots();
  bool slotsNumbered() const { return numbered_; }
  // The slots that start the chains holding the address, and the wide entries holding it (whose
  // slots cannot be shared with other columns). REQUIRES: slotsNumbered().
  void chainsHolding(CellRef address, std::vector<uint32_t>& slots,
                     std::vector<uint32_t>& wideEntries) const;
  uint32_t slotEntry(uint32_t slot) const { return uint32_t(chains_[slot]); }
  // The next slot of the chain, or kNoSlot.
  uint32_t slotNext(uint32_t slot) const { return uint32_t(chains_[slot] >> 32); }

  void clear();

 private:
  void releaseEntries();
  struct Slot {
    uint32_t bound;  // the first row (lists by first row) or last row (lists by last row)
    uint32_t entry;  // position of the entry
    uint32_t skip;   // with stamp == the current pass: the next slot that may be unmarked
    uint32_t stamp;  // the pass in which this slot was found marked
  };
  // The entries filed at one level of one axis. Both lists are sorted so that the entries of one
  // node (one common prefix of first and last row) are adjacent; entries added since the last
  // query wait in the pending lists and are merged in by the next query of the level.
  struct Level {
    std::vector<Slot> byFirst;  // first row ascending
    std::vector<Slot> byLast;   // by node, then last row descending (unused at level 0)
    std::vector<Slot> pendingFirst;
    std::vector<Slot> pendingLast;
    uint32_t firstBase = 0;  // the numbers of the slots of byFirst and byLast start here
    uint32_t lastBase = 0;
  };
  // The levels of one column of a sheet, or of the wide entries of a sheet; level 0 holds the
  // entries of a single row, level h + 1 those whose rows first differ in bit h.
  struct Axis {
    uint32_t levelMask = 0;
    std::unordered_map<uint32_t, Level> levels;
    // levels[i] for each bit i of levelMask, found without hashing (nodes of the map stay put).
    Level* byLevel[32] = {};
  };

  static uint64_t columnKey(uint32_t sheet, uint32_t column) {
    return (uint64_t(sheet) << 32) | column;
  }
  void file(RangeEntry* entry);
  static void insertInto(Axis& axis, uint32_t first, uint32_t last, uint32_t position);
  static void settle(Level& level, uint32_t levelNumber);
  uint32_t live(std::vector<Slot>& list, uint32_t i) const;
  // Calls visit(position) for every slot of the axis whose entry holds the row (and, for wide
  // axes, the column); with skipMarked, marked entries are passed over and stamped.
  template <class Visit>
  void scan(Axis& axis, uint32_t row, uint32_t column, bool wide, bool skipMarked,
            Visit&& visit) const;
  // Calls found(level, below, end) for each level of a narrow axis whose node holds the row:
  // end is one past the last slot holding it, in byFirst when below, else in byLast.
  template <class Found>
  void runsHolding(Axis& axis, uint32_t row, Found&& found) const;
  bool holdsColumn(uint32_t position, uint32_t column) const;
  void orderFound() const;

  std::vector<RangeEntry*> entries_;  // pooled, owned
  struct KeyHash {
    size_t operator()(const RangeRef& r) const;
  };
  // Open addressing by normalised range: the entry's position plus one, or 0 for a free slot.
  std::vector<uint32_t> slots_;
  // The slot holding the range, or the free slot where it would go. REQUIRES: slots exist.
  size_t slotOf(const RangeRef& r) const;
  // Makes room for one more entry.
  void growSlots();
  // Settling pending entries and the skip pointers change how answers are found, never what
  // they are, so queries of a const index may do both.
  mutable std::unordered_map<uint64_t, Axis> columns_;  // narrow entries, by sheet and column
  mutable std::unordered_map<uint32_t, Axis> wide_;     // wide entries, by sheet
  std::vector<RangeRef> normalised_;                    // by position
  uint32_t pass_ = 1;
  // Per numbered slot: its entry (low half) and the next slot of its chain (high half).
  std::vector<uint64_t> chains_;
  bool numbered_ = false;
  mutable std::vector<uint32_t> found_;    // positions found by the query running
  mutable std::vector<uint32_t> runEnds_;  // where each level's positions end in found_
};

}  // namespace korvel

#endif  // KORVEL_MODEL_RANGE_INDEX_H_
