#include "model/nodes/child_list.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "model/nodes/node.h"

namespace korvel {
namespace {

// Counts the nodes alive, so that a list is seen to destroy what it owns.
int gAlive = 0;
class CountedNode : public MissingNode {
 public:
  CountedNode() { ++gAlive; }
  ~CountedNode() override { --gAlive; }
};

// From empty through the two children held in place to a block that grows twice.
TEST(ChildList, ReadsLikeAVectorAtEverySizeAndOwnsItsChildren) {
  for (size_t count = 0; count <= 9; ++count) {
    {
      ChildList list;
      std::vector<const Node*> expected;
      for (size_t i = 0; i < count; ++i) {
        auto child = std::make_unique<CountedNode>();
        expected.push_back(child.get());
        list.push_back(std::move(child));
      }
      ASSERT_EQ(list.size(), count);
      EXPECT_EQ(list.empty(), count == 0);
      std::vector<const Node*> seen;
      for (const auto& child : list) seen.push_back(child.get());
      EXPECT_EQ(seen, expected) << count;
      for (size_t i = 0; i < count; ++i) EXPECT_EQ(list[i].get(), expected[i]);
      if (count > 0) {
        EXPECT_EQ(list.front().get(), expected.front());
        EXPECT_EQ(list.back().get(), expected.back());
      }
      EXPECT_EQ(gAlive, int(count));
      if (count % 2 == 1) {
        list.clear();
        EXPECT_TRUE(list.empty());
        EXPECT_EQ(list.begin(), list.end());
        EXPECT_EQ(gAlive, 0);
      }
    }
    EXPECT_EQ(gAlive, 0) << count;
  }
}

}  // namespace
}  // namespace korvel
