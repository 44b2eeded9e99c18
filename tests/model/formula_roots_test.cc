#include "model/formula_roots.h"

#include <gtest/gtest.h>

#include <memory>
#include <utility>
#include <vector>

#include "model/nodes/node.h"

namespace korvel {
namespace {

std::vector<const Node*> pointers(const FormulaRoots& roots) {
  std::vector<const Node*> out;
  for (const auto& root : roots) out.push_back(root.get());
  return out;
}

// Whatever is pushed, the roots read back as a vector of the same pushes would.
TEST(FormulaRoots, ReadLikeTheVectorOfWhatWasPushed) {
  const std::vector<std::vector<bool>> cases = {
      {}, {true}, {false}, {true, true}, {true, false, true}, {false, true}, {true, true, true}};
  for (const auto& pushes : cases) {
    FormulaRoots roots;
    std::vector<const Node*> expected;
    for (bool real : pushes) {
      auto node = real ? std::make_unique<NumberNode>(double(expected.size())) : nullptr;
      expected.push_back(node.get());
      roots.push_back(std::move(node));
    }
    ASSERT_EQ(roots.size(), expected.size());
    EXPECT_EQ(roots.empty(), expected.empty());
    EXPECT_EQ(pointers(roots), expected);
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(roots[i].get(), expected[i]);
    if (!expected.empty()) EXPECT_EQ(roots.front().get(), expected[0]);

    FormulaRoots moved(std::move(roots));
    EXPECT_TRUE(roots.empty());
    EXPECT_EQ(pointers(moved), expected);
    moved.clear();
    EXPECT_TRUE(moved.empty());
    EXPECT_EQ(moved.begin(), moved.end());
  }
}

}  // namespace
}  // namespace korvel
