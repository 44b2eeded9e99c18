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

}  // namespace
}  // namespace korvel
