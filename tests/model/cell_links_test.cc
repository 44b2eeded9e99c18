#include "model/cell_links.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "model/compiled_model.h"

namespace korvel {
namespace {

// Runs the same changes on CellLinks and on std::set and compares after each one, so that every
// form the links take (one cell, an array, a tree, and back) is held to the same order.
class CellLinksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int i = 0; i < 400; ++i) cells_.push_back(model_.newCell());
  }

  void insert(Cell* cell) {
    EXPECT_EQ(links_.insert(cell), reference_.insert(cell).second) << trace_;
    check();
  }
  void erase(Cell* cell) {
    EXPECT_EQ(links_.erase(cell), reference_.erase(cell)) << trace_;
    check();
  }
  void check() {
    ASSERT_EQ(links_.size(), reference_.size()) << trace_;
    ASSERT_EQ(links_.empty(), reference_.empty()) << trace_;
    ASSERT_EQ(std::vector<Cell*>(links_.begin(), links_.end()),
              std::vector<Cell*>(reference_.begin(), reference_.end()))
        << trace_;
  }
  void checkLookups() {
    for (Cell* cell : cells_) {
      bool in = reference_.count(cell) != 0;
      ASSERT_EQ(links_.contains(cell), in) << trace_;
      ASSERT_EQ(links_.count(cell), in ? 1u : 0u) << trace_;
      auto found = links_.find(cell);
      ASSERT_EQ(found == links_.end(), !in) << trace_;
      if (in) ASSERT_EQ(*found, cell) << trace_;
    }
  }

  CompiledModel model_;
  std::vector<Cell*> cells_;  // in identity order
  CellLinks links_;
  CellSet reference_;
  std::string trace_;
};

TEST_F(CellLinksTest, KeepsIdentityOrderThroughEveryForm) {
  struct Case {
    const char* name;
    size_t count;
    bool shuffled;  // inserted in random order rather than identity order
  };
  const Case cases[] = {{"one", 1, false},
                        {"two reversed", 2, true},
                        {"small array", 10, true},
                        {"appended past the shift limit", 300, false},
                        {"shuffled large", 300, true}};
  std::mt19937 random(7);
  for (const Case& c : cases) {
    trace_ = c.name;
    std::vector<Cell*> order(cells_.begin(), cells_.begin() + c.count);
    if (c.shuffled) std::shuffle(order.begin(), order.end(), random);
    for (Cell* cell : order) insert(cell);
    for (Cell* cell : order) insert(cell);  // duplicates change nothing
    checkLookups();
    // Erased from the middle, from the ends and at random, down to nothing.
    std::vector<Cell*> erasing(order);
    std::shuffle(erasing.begin(), erasing.end(), random);
    if (!erasing.empty()) erase(erasing.front());
    erase(cells_.back());  // never inserted
    erase(reference_.empty() ? cells_[0] : *reference_.rbegin());
    erase(reference_.empty() ? cells_[0] : *reference_.begin());
    checkLookups();
    for (Cell* cell : erasing) erase(cell);
    EXPECT_TRUE(links_.empty()) << trace_;
    EXPECT_EQ(links_.begin(), links_.end()) << trace_;
  }
}

TEST_F(CellLinksTest, MixedChangesOnALargeSetMatchAnOrderedSet) {
  std::mt19937 random(11);
  std::uniform_int_distribution<size_t> pick(0, cells_.size() - 1);
  for (int step = 0; step < 3000; ++step) {
    trace_ = "step " + std::to_string(step);
    // Mostly inserts first, mostly erases later: the set grows into a tree and shrinks back.
    bool inserting = (step < 1500) == (random() % 4 != 0);
    Cell* cell = cells_[pick(random)];
    if (inserting) {
      insert(cell);
    } else {
      erase(cell);
    }
  }
  checkLookups();
}

TEST_F(CellLinksTest, MovingTakesTheCellsAndLeavesTheSourceEmpty) {
  for (size_t count : {size_t{1}, size_t{5}, size_t{100}}) {
    CellLinks from;
    for (size_t i = count; i-- > 0;) from.insert(cells_[i * 3]);
    CellLinks to(std::move(from));
    EXPECT_TRUE(from.empty());
    EXPECT_EQ(to.size(), count);
    CellLinks other;
    other.insert(cells_[1]);
    other = std::move(to);
    EXPECT_TRUE(to.empty());
    ASSERT_EQ(other.size(), count);
    EXPECT_EQ(*other.begin(), cells_[0]);
    EXPECT_TRUE(std::is_sorted(other.begin(), other.end(), CellIdentityLess()));
  }
}

}  // namespace
}  // namespace korvel
