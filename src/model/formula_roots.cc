#include "model/formula_roots.h"

#include <utility>

#include "model/nodes/node.h"

namespace korvel {

FormulaRoots::FormulaRoots() = default;
FormulaRoots::~FormulaRoots() { clear(); }
FormulaRoots::FormulaRoots(FormulaRoots&& other) noexcept : word_(std::move(other.word_)) {}
FormulaRoots& FormulaRoots::operator=(FormulaRoots&& other) noexcept {
  if (this != &other) {
    clear();
    word_.reset(other.word_.release());
  }
  return *this;
}

void FormulaRoots::push_back(std::unique_ptr<Node> root) {
  if (isList()) {
    list()->push_back(std::move(root));
    return;
  }
  if (!word_ && root) {
    word_ = std::move(root);
    return;
  }
  auto roots = std::make_unique<List>();
  roots->reserve(2);  // the two pushes below cannot throw
  if (word_) roots->push_back(std::move(word_));
  roots->push_back(std::move(root));
  word_.reset(reinterpret_cast<Node*>(reinterpret_cast<uintptr_t>(roots.release()) | kListTag));
}

void FormulaRoots::clear() {
  if (isList()) {
    List* roots = list();
    (void)word_.release();
    delete roots;
    return;
  }
  word_.reset();
}

}  // namespace korvel
