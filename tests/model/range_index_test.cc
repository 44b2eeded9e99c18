#include "model/range_index.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "model/address.h"

namespace korvel {
namespace {

RangeRef range(uint32_t sheet, uint32_t r1, uint32_t c1, uint32_t r2, uint32_t c2) {
  return RangeRef{CellRef::at(sheet, r1, c1), CellRef::at(sheet, r2, c2)};
}

// What the index must answer: every entry whose normalised range holds the address, in index
// order.
std::vector<RangeEntry*> bruteForce(const RangeIndex& index, CellRef address) {
  std::vector<RangeEntry*> out;
  for (RangeEntry* entry : index) {
    RangeRef r = normalizeRange(entry->range);
    if (!isValidRange(r) || r.first.sheet() != r.last.sheet()) continue;
    if (r.first.sheet() == address.sheet() && address.row() >= r.first.row() &&
        address.row() <= r.last.row() && address.column() >= r.first.column() &&
        address.column() <= r.last.column()) {
      out.push_back(entry);
    }
  }
  return out;
}

std::vector<RangeEntry*> containing(const RangeIndex& index, CellRef address) {
  std::vector<RangeEntry*> out;
  index.containing(address, out);
  return out;
}

// The entries reached by following every chain that starts at the address, plus the wide
// entries holding it: each once, put in index order to compare.
std::vector<RangeEntry*> chained(const RangeIndex& index, CellRef address) {
  std::vector<uint32_t> slots, wide;
  index.chainsHolding(address, slots, wide);
  std::vector<uint32_t> positions = wide;
  for (uint32_t slot : slots) {
    for (; slot != RangeIndex::kNoSlot; slot = index.slotNext(slot)) {
      positions.push_back(index.slotEntry(slot));
    }
  }
  std::sort(positions.begin(), positions.end());
  EXPECT_TRUE(std::adjacent_find(positions.begin(), positions.end()) == positions.end());
  std::vector<RangeEntry*> out;
  for (uint32_t position : positions) out.push_back(index[position]);
  return out;
}

TEST(RangeIndex, FindsEachRangeOnceWhateverTheCornerOrder) {
  RangeIndex index;
  bool added = false;
  RangeEntry* a = index.add(range(0, 5, 3, 1, 1), &added);
  EXPECT_TRUE(added);
  // Kept as given, found in any corner order.
  EXPECT_EQ(a->range, range(0, 5, 3, 1, 1));
  EXPECT_EQ(index.add(range(0, 1, 1, 5, 3), &added), a);
  EXPECT_FALSE(added);
  EXPECT_EQ(index.find(range(0, 1, 3, 5, 1)), a);
  EXPECT_EQ(index.find(range(1, 1, 1, 5, 3)), nullptr);
  // Ranges no cell can lie in still get entries, in order.
  RangeEntry* across = index.add(RangeRef{CellRef::at(0, 1, 1), CellRef::at(2, 3, 3)});
  RangeEntry* none = index.add(RangeRef{CellRef::none(), CellRef::none()});
  ASSERT_EQ(index.size(), 3u);
  EXPECT_EQ(index[1], across);
  EXPECT_EQ(index[2], none);
  EXPECT_TRUE(containing(index, CellRef::at(0, 1, 1)) == std::vector<RangeEntry*>{a});
  EXPECT_FALSE(index.containsAny(CellRef::at(2, 3, 3)));
  EXPECT_FALSE(index.containsAny(CellRef::none()));
}

// Random ranges of every shape the workbooks use, checked at random cells and at the corners,
// with entries added between queries as the precedent refresh adds them at run time.
TEST(RangeIndex, AnswersAsAScanOfEveryEntry) {
  std::mt19937 random(20261210);
  auto below = [&](uint32_t n) { return uint32_t(random() % n); };
  RangeIndex index;
  std::vector<CellRef> probes;
  auto addRandom = [&] {
    uint32_t sheet = below(3);
    uint32_t r1 = below(3000), c1 = below(60);
    RangeRef r;
    switch (below(7)) {
      case 0:  // whole column
        r = range(sheet, 0, c1, kRowMask, c1 + below(3));
        break;
      case 1:  // prefix of a column, as running totals read
        r = range(sheet, 0, c1, r1, c1);
        break;
      case 2:  // one row of a block
        r = range(sheet, r1, c1, r1, c1 + below(12));
        break;
      case 3:  // whole rows, wider than any column list
        r = range(sheet, r1, 0, r1 + below(4), kColumnMask);
        break;
      case 4:  // a wide table
        r = range(sheet, r1, c1, r1 + below(500), c1 + 33 + below(40));
        break;
      case 5:  // corners given the other way round
        r = range(sheet, r1 + below(70), c1 + below(5), r1, c1);
        break;
      default:  // any block
        r = range(sheet, r1, c1, r1 + below(2000), c1 + below(8));
        break;
    }
    index.add(r);
    RangeRef n = normalizeRange(r);
    probes.push_back(n.first);
    probes.push_back(n.last);
    probes.push_back(CellRef::at(sheet, n.last.row() + 1, n.first.column()));
  };
  for (int round = 0; round < 6; ++round) {
    for (int i = 0; i < 150; ++i) addRandom();
    for (int i = 0; i < 400; ++i) probes.push_back(CellRef::at(below(3), below(4000), below(80)));
    index.numberSlots();
    for (CellRef probe : probes) {
      std::vector<RangeEntry*> expected = bruteForce(index, probe);
      ASSERT_EQ(containing(index, probe), expected)
          << "sheet " << probe.sheet() << " row " << probe.row() << " column " << probe.column();
      ASSERT_EQ(chained(index, probe), expected)
          << "sheet " << probe.sheet() << " row " << probe.row() << " column " << probe.column();
    }
  }
}

// Within a pass every entry is reached once, by the first cell inside it; the next pass starts
// again.
TEST(RangeIndex, ReachesEachEntryOncePerPass) {
  RangeIndex index;
  std::vector<RangeEntry*> totals;
  for (uint32_t row = 0; row < 200; ++row) totals.push_back(index.add(range(0, 0, 0, row, 0)));
  RangeEntry* wide = index.add(range(0, 0, 0, 300, 40));
  for (int pass = 0; pass < 2; ++pass) {
    index.newPass();
    std::vector<RangeEntry*> reached;
    for (uint32_t row = 0; row < 200; ++row) {
      std::vector<RangeEntry*> out;
      index.reachUnmarked(CellRef::at(0, row, 0), out);
      // Row r lies in entries r and up: the first row reaches them all, later rows none.
      std::vector<RangeEntry*> expected;
      if (row == 0) {
        expected = totals;
        expected.push_back(wide);
      }
      ASSERT_EQ(out, expected) << "pass " << pass << " row " << row;
      reached.insert(reached.end(), out.begin(), out.end());
    }
    EXPECT_EQ(reached.size(), 201u);
  }
  // An entry added during a pass is reached by the next cell inside it.
  index.newPass();
  std::vector<RangeEntry*> out;
  index.reachUnmarked(CellRef::at(0, 150, 0), out);
  RangeEntry* late = index.add(range(0, 140, 0, 160, 0));
  out.clear();
  index.reachUnmarked(CellRef::at(0, 155, 0), out);
  EXPECT_EQ(out, std::vector<RangeEntry*>{late});
}

}  // namespace
}  // namespace korvel
