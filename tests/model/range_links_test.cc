#include "model/range_links.h"

#include <gtest/gtest.h>

#include <vector>

#include "model/range_index.h"

namespace korvel {
namespace {

std::vector<RangeEntry*> listed(const RangeLinks& links) {
  return std::vector<RangeEntry*>(links.begin(), links.end());
}

// The list goes from nothing to one entry held in place to a block that regrows, keeps the
// order entries were added in, and moves without copying or losing any.
TEST(RangeLinks, KeepsEntriesInOrderThroughEveryForm) {
  std::vector<RangeEntry> entries(11);
  RangeLinks links;
  std::vector<RangeEntry*> expected;
  EXPECT_TRUE(links.empty());
  EXPECT_EQ(links.begin(), links.end());
  for (RangeEntry& entry : entries) {
    links.push_back(&entry);
    expected.push_back(&entry);
    ASSERT_EQ(listed(links), expected);
    ASSERT_EQ(links.size(), expected.size());
  }
  RangeLinks moved = std::move(links);
  EXPECT_TRUE(links.empty());
  EXPECT_EQ(listed(moved), expected);
  RangeLinks single;
  single.push_back(&entries[3]);
  moved = std::move(single);
  EXPECT_EQ(listed(moved), (std::vector<RangeEntry*>{&entries[3]}));
  moved.clear();
  EXPECT_TRUE(moved.empty());
}

// Removing goes back down through the forms: a block keeps the others in order, and a block left
// with one pointer or none becomes the single word or the empty one.
TEST(RangeLinks, RemoveTakesEveryOccurrenceAndKeepsTheOrder) {
  std::vector<RangeEntry> e(4);
  RangeLinks links;
  for (RangeEntry* entry : {&e[0], &e[1], &e[0], &e[2], &e[3]}) links.push_back(entry);
  links.remove(&e[0]);
  EXPECT_EQ(listed(links), (std::vector<RangeEntry*>{&e[1], &e[2], &e[3]}));
  EXPECT_EQ(links.back(), &e[3]);
  links.remove(&e[2]);
  links.remove(&e[3]);
  EXPECT_EQ(listed(links), (std::vector<RangeEntry*>{&e[1]}));
  links.push_back(&e[2]);  // regrows from the single word
  EXPECT_EQ(listed(links), (std::vector<RangeEntry*>{&e[1], &e[2]}));
  links.remove(&e[1]);
  links.remove(&e[2]);
  EXPECT_TRUE(links.empty());
  links.remove(&e[0]);  // absent: nothing happens
  EXPECT_TRUE(links.empty());
}

}  // namespace
}  // namespace korvel
