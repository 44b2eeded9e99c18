#include "model/range_index.h"

#include <algorithm>
#include <bit>
#include <utility>

#include "model/address.h"
#include "model/object_pool.h"

namespace korvel {
namespace {

// The level of rows [first, last]: 0 for one row, else one more than the highest bit in which
// the two differ.
uint32_t levelOf(uint32_t first, uint32_t last) {
  return first == last ? 0 : uint32_t(std::bit_width(first ^ last));
}

}  // namespace

size_t RangeIndex::KeyHash::operator()(const RangeRef& r) const {
  uint64_t a = (uint64_t(r.first.rowWord) << 32) | r.first.columnWord;
  uint64_t b = (uint64_t(r.last.rowWord) << 32) | r.last.columnWord;
  uint64_t h = a * 0x9E3779B97F4A7C15ull;
  h ^= (b + 0x7F4A7C159E3779B9ull + (h << 6) + (h >> 2)) * 0xC2B2AE3D27D4EB4Full;
  return size_t(h ^ (h >> 29));
}

RangeIndex::RangeIndex() = default;
RangeIndex::~RangeIndex() { releaseEntries(); }

RangeEntry* RangeIndex::find(const RangeRef& range) const {
  if (slots_.empty()) return nullptr;
  uint32_t held = slots_[slotOf(normalizeRange(range))];
  return held != 0 ? entries_[held - 1] : nullptr;
}

size_t RangeIndex::slotOf(const RangeRef& r) const {
  size_t mask = slots_.size() - 1;
  for (size_t i = KeyHash()(r) & mask;; i = (i + 1) & mask) {
    uint32_t held = slots_[i];
    if (held == 0 || normalised_[held - 1] == r) return i;
  }
}

void RangeIndex::growSlots() {
  // At most half full, so that a search meets a free slot soon.
  if (2 * (entries_.size() + 1) <= slots_.size()) return;
  std::vector<uint32_t> grown(std::max<size_t>(64, slots_.size() * 2), 0);
  size_t mask = grown.size() - 1;
  for (uint32_t held : slots_) {
    if (held == 0) continue;
    size_t i = KeyHash()(normalised_[held - 1]) & mask;
    while (grown[i] != 0) i = (i + 1) & mask;
    grown[i] = held;
  }
  slots_.swap(grown);
}

RangeEntry* RangeIndex::add(const RangeRef& range, bool* added) {
  RangeRef r = normalizeRange(range);
  if (RangeEntry* found = find(r)) {
    if (added) *added = false;
    return found;
  }
  // Room first, so that a failure leaves no entry without owner and no range without entry.
  auto grow = [](auto& list) {
    if (list.size() == list.capacity()) list.reserve(std::max<size_t>(64, list.size() * 2));
  };
  grow(entries_);
  grow(normalised_);
  growSlots();
  RangeEntry* entry = ObjectPool::instance().make<RangeEntry>();
  if (added) *added = true;
  entry->range = range;
  entry->position = uint32_t(entries_.size());
  entries_.push_back(entry);
  normalised_.push_back(r);
  slots_[slotOf(r)] = entry->position + 1;
  file(entry);
  numbered_ = false;
  return entry;
}

void RangeIndex::file(RangeEntry* entry) {
  const RangeRef& r = normalised_[entry->position];
  if (!isValidRange(r) || r.first.sheet() != r.last.sheet()) return;
  uint32_t sheet = r.first.sheet();
  uint32_t c1 = r.first.column(), c2 = r.last.column();
  uint32_t first = r.first.row(), last = r.last.row();
  if (c2 - c1 + 1 > kNarrowColumns) {
    insertInto(wide_[sheet], first, last, entry->position);
    return;
  }
  for (uint32_t c = c1; c <= c2; ++c)
    insertInto(columns_[columnKey(sheet, c)], first, last, entry->position);
}

void RangeIndex::insertInto(Axis& axis, uint32_t first, uint32_t last, uint32_t position) {
  uint32_t level = levelOf(first, last);
  axis.levelMask |= uint32_t{1} << level;
  Level& l = axis.levels[level];
  axis.byLevel[level] = &l;
  l.pendingFirst.push_back(Slot{first, position, 0, 0});
  if (level > 0) l.pendingLast.push_back(Slot{last, position, 0, 0});
}

void RangeIndex::settle(Level& l, uint32_t level) {
  if (l.pendingFirst.empty()) return;
  auto byFirst = [](const Slot& a, const Slot& b) {
    return a.bound != b.bound ? a.bound < b.bound : a.entry < b.entry;
  };
  // Groups by the common prefix, then the last row from the bottom up.
  auto byLast = [level](const Slot& a, const Slot& b) {
    uint32_t pa = a.bound >> level, pb = b.bound >> level;
    if (pa != pb) return pa < pb;
    return a.bound != b.bound ? a.bound > b.bound : a.entry < b.entry;
  };
  auto merge = [](std::vector<Slot>& main, std::vector<Slot>& pending, auto less) {
    std::sort(pending.begin(), pending.end(), less);
    size_t middle = main.size();
    main.insert(main.end(), pending.begin(), pending.end());
    std::inplace_merge(main.begin(), main.begin() + std::ptrdiff_t(middle), main.end(), less);
    // Positions moved: skip pointers of this pass no longer hold.
    for (Slot& s : main) s.stamp = 0;
    pending.clear();
    pending.shrink_to_fit();
  };
  merge(l.byFirst, l.pendingFirst, byFirst);
  if (level > 0) merge(l.byLast, l.pendingLast, byLast);
}

template <class Found>
void RangeIndex::runsHolding(Axis& axis, uint32_t row, Found&& found) const {
  for (uint32_t mask = axis.levelMask; mask != 0; mask &= mask - 1) {
    uint32_t level = uint32_t(std::countr_zero(mask));
    Level& l = *axis.byLevel[level];
    settle(l, level);
    uint32_t prefix = row >> level;
    bool below = level == 0 || row < ((prefix << level) | (uint32_t{1} << (level - 1)));
    const std::vector<Slot>& list = below ? l.byFirst : l.byLast;
    // The slots of the row's node that hold it come first in the node's run: first rows from
    // the node's start up to the row, or last rows from the node's end down to the row.
    auto start =
        std::lower_bound(list.begin(), list.end(), prefix,
                         [level](const Slot& s, uint32_t p) { return (s.bound >> level) < p; });
    auto end = below ? std::upper_bound(start, list.end(), row,
                                        [](uint32_t r, const Slot& s) { return r < s.bound; })
                     : std::partition_point(start, list.end(), [&](const Slot& s) {
                         return (s.bound >> level) == prefix && s.bound >= row;
                       });
    if (end != start) found(l, below, uint32_t(end - list.begin()));
  }
}

bool RangeIndex::holdsColumn(uint32_t position, uint32_t column) const {
  const RangeRef& r = normalised_[position];
  return column >= r.first.column() && column <= r.last.column();
}

// The first slot at or after i that was not found marked in this pass, shortening the pointers
// walked so that each marked slot is stepped over about once per pass.
uint32_t RangeIndex::live(std::vector<Slot>& list, uint32_t i) const {
  uint32_t n = uint32_t(list.size());
  uint32_t j = i;
  while (j < n && list[j].stamp == pass_) j = list[j].skip;
  while (i < n && list[i].stamp == pass_ && list[i].skip != j) {
    uint32_t next = list[i].skip;
    list[i].skip = j;
    i = next;
  }
  return j;
}

template <class Visit>
void RangeIndex::scan(Axis& axis, uint32_t row, uint32_t column, bool wide, bool skipMarked,
                      Visit&& visit) const {
  for (uint32_t mask = axis.levelMask; mask != 0; mask &= mask - 1) {
    uint32_t level = uint32_t(std::countr_zero(mask));
    Level& l = *axis.byLevel[level];
    settle(l, level);
    uint32_t prefix = row >> level;
    bool below = level > 0 && row < ((prefix << level) | (uint32_t{1} << (level - 1)));
    std::vector<Slot>& list = level == 0 || below ? l.byFirst : l.byLast;
    uint32_t n = uint32_t(list.size());
    uint32_t i;
    if (level == 0 || below) {
      // Rows from the node's first row up to the row, in the list by first row.
      uint32_t from = level == 0 ? row : prefix << level;
      i = uint32_t(std::lower_bound(list.begin(), list.end(), from,
                                    [](const Slot& s, uint32_t b) { return s.bound < b; }) -
                   list.begin());
    } else {
      i = uint32_t(
          std::lower_bound(list.begin(), list.end(), prefix,
                           [level](const Slot& s, uint32_t p) { return (s.bound >> level) < p; }) -
          list.begin());
    }
    auto holds = [&](const Slot& s) {
      if (level == 0) return s.bound == row;
      if ((s.bound >> level) != prefix) return false;
      return below ? s.bound <= row : s.bound >= row;
    };
    if (skipMarked) i = live(list, i);
    while (i < n && holds(list[i])) {
      Slot& s = list[i];
      if (skipMarked && entries_[s.entry]->passMark == pass_) {
        s.stamp = pass_;
        s.skip = i + 1;
        i = live(list, i + 1);
        continue;
      }
      if (!wide || holdsColumn(s.entry, column)) visit(s.entry);
      i = skipMarked ? live(list, i + 1) : i + 1;
    }
    runEnds_.push_back(uint32_t(found_.size()));
  }
}

// The positions found come in one run per level, each run sorted by bound: for the shapes that
// matter (prefixes of a column, blocks of one row) already in index order or in its reverse, so
// runs are put in order one by one and then merged, which is linear for those.
void RangeIndex::orderFound() const {
  uint32_t begin = 0;
  for (uint32_t end : runEnds_) {
    auto first = found_.begin() + begin, last = found_.begin() + end;
    if (!std::is_sorted(first, last)) {
      std::reverse(first, last);
      if (!std::is_sorted(first, last)) std::sort(first, last);
    }
    if (begin > 0) std::inplace_merge(found_.begin(), first, last);
    begin = end;
  }
  runEnds_.clear();
}

void RangeIndex::containing(CellRef address, std::vector<RangeEntry*>& out, bool inOrder) const {
  found_.clear();
  runEnds_.clear();
  uint32_t sheet = address.sheet(), row = address.row(), column = address.column();
  auto collect = [this](uint32_t position) { found_.push_back(position); };
  if (auto it = columns_.find(columnKey(sheet, column)); it != columns_.end()) {
    scan(it->second, row, column, false, false, collect);
  }
  if (auto it = wide_.find(sheet); it != wide_.end()) {
    scan(it->second, row, column, true, false, collect);
  }
  if (inOrder) {
    orderFound();
  } else {
    runEnds_.clear();
  }
  for (uint32_t position : found_) out.push_back(entries_[position]);
}

bool RangeIndex::containsAny(CellRef address) const {
  uint32_t sheet = address.sheet(), row = address.row(), column = address.column();
  bool any = false;
  if (auto it = columns_.find(columnKey(sheet, column)); it != columns_.end()) {
    runsHolding(it->second, row, [&any](const Level&, bool, uint32_t) { any = true; });
  }
  auto note = [&any](uint32_t) { any = true; };
  if (auto it = wide_.find(sheet); !any && it != wide_.end()) {
    scan(it->second, row, column, true, false, note);
  }
  runEnds_.clear();
  return any;
}

void RangeIndex::reachUnmarked(CellRef address, std::vector<RangeEntry*>& out) {
  found_.clear();
  runEnds_.clear();
  uint32_t sheet = address.sheet(), row = address.row(), column = address.column();
  auto collect = [this](uint32_t position) {
    RangeEntry* entry = entries_[position];
    if (entry->passMark == pass_) return;  // a wide entry met in two places
    entry->passMark = pass_;
    found_.push_back(position);
  };
  if (auto it = columns_.find(columnKey(sheet, column)); it != columns_.end()) {
    scan(it->second, row, column, false, true, collect);
  }
  if (auto it = wide_.find(sheet); it != wide_.end()) {
    scan(it->second, row, column, true, true, collect);
  }
  orderFound();
  for (uint32_t position : found_) out.push_back(entries_[position]);
}

void RangeIndex::newPass() {
  if (++pass_ != 0) return;
  // After four billion passes the counter starts again: old stamps must not look current.
  pass_ = 1;
  for (auto& entry : entries_) entry->passMark = 0;
  auto clearStamps = [](Axis& axis) {
    for (auto& [level, l] : axis.levels) {
      for (Slot& s : l.byFirst) s.stamp = 0;
      for (Slot& s : l.byLast) s.stamp = 0;
    }
  };
  for (auto& [key, axis] : columns_) clearStamps(axis);
  for (auto& [key, axis] : wide_) clearStamps(axis);
}

uint32_t RangeIndex::numberSlots() {
  chains_.clear();
  auto number = [this](Level& l, uint32_t level) {
    settle(l, level);
    auto chain = [&](const std::vector<Slot>& list, uint32_t base) {
      for (size_t i = 0; i < list.size(); ++i) {
        // Slots of one node are adjacent; the chain runs from a slot back to the node's first.
        bool sameNode = i > 0 && (list[i - 1].bound >> level) == (list[i].bound >> level);
        uint64_t next = sameNode ? base + i - 1 : kNoSlot;
        chains_.push_back((next << 32) | list[i].entry);
      }
    };
    l.firstBase = uint32_t(chains_.size());
    chain(l.byFirst, l.firstBase);
    l.lastBase = uint32_t(chains_.size());
    chain(l.byLast, l.lastBase);
  };
  for (auto& [key, axis] : columns_) {
    for (auto& [level, l] : axis.levels) number(l, level);
  }
  numbered_ = true;
  return uint32_t(chains_.size());
}

void RangeIndex::chainsHolding(CellRef address, std::vector<uint32_t>& slots,
                               std::vector<uint32_t>& wideEntries) const {
  uint32_t sheet = address.sheet(), row = address.row(), column = address.column();
  if (auto it = columns_.find(columnKey(sheet, column)); it != columns_.end()) {
    runsHolding(it->second, row, [&slots](const Level& l, bool below, uint32_t end) {
      slots.push_back((below ? l.firstBase : l.lastBase) + end - 1);
    });
  }
  if (auto it = wide_.find(sheet); it != wide_.end()) {
    scan(it->second, row, column, true, false,
         [&wideEntries](uint32_t position) { wideEntries.push_back(position); });
    runEnds_.clear();
  }
}

void RangeIndex::releaseEntries() {
  std::vector<RangeEntry*> entries;
  entries.swap(entries_);
  for (RangeEntry* entry : entries) ObjectPool::instance().destroy(entry);
}

void RangeIndex::clear() {
  releaseEntries();
  slots_.clear();
  columns_.clear();
  wide_.clear();
  normalised_.clear();
  chains_.clear();
  numbered_ = false;
}

}  // namespace korvel
