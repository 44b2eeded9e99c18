#include "model/formula_roots.h"

#include <utility>

#include "model/nodes/node.h"

namespace korvel {

FormulaRoots::FormulaRoots() = default;
FormulaRoots::~FormulaRoots() = default;
FormulaRoots::FormulaRoots(FormulaRoots&& other) noexcept = default;
FormulaRoots& FormulaRoots::operator=(FormulaRoots&& other) noexcept = default;

void FormulaRoots::push_back(std::unique_ptr<Node> root) {
  if (many_) {
    many_->push_back(std::move(root));
    return;
  }
  if (!one_ && root) {
    one_ = std::move(root);
    return;
  }
  auto roots = std::make_unique<std::vector<std::unique_ptr<Node>>>();
  roots->reserve(2);
  if (one_) roots->push_back(std::move(one_));
  roots->push_back(std::move(root));
  many_ = std::move(roots);
}

void FormulaRoots::clear() {
  one_.reset();
  many_.reset();
}

}  // namespace korvel
