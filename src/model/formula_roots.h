// FormulaRoots: the formula of a cell, then its shared sub-expressions, each an owned tree of
// nodes. Nearly every formula cell has exactly one root, so that one is held in place and only a
// cell with more (or a null root) keeps them in a list of their own. Reads like the vector it
// stands for: roots[i], front(), size(), iteration over contiguous std::unique_ptr<Node>.
#ifndef KORVEL_MODEL_FORMULA_ROOTS_H_
#define KORVEL_MODEL_FORMULA_ROOTS_H_

#include <cstddef>
#include <memory>
#include <vector>

namespace korvel {

class Node;

class FormulaRoots {
 public:
  using value_type = std::unique_ptr<Node>;
  using const_iterator = const std::unique_ptr<Node>*;
  using iterator = const_iterator;

  FormulaRoots();
  ~FormulaRoots();
  FormulaRoots(const FormulaRoots&) = delete;
  FormulaRoots& operator=(const FormulaRoots&) = delete;
  FormulaRoots(FormulaRoots&& other) noexcept;
  FormulaRoots& operator=(FormulaRoots&& other) noexcept;

  bool empty() const { return !one_ && !many_; }
  size_t size() const { return many_ ? many_->size() : (one_ ? 1 : 0); }
  // REQUIRES for each: index < size(), or a root at all.
  const std::unique_ptr<Node>& operator[](size_t index) const {
    return many_ ? (*many_)[index] : one_;
  }
  const std::unique_ptr<Node>& front() const { return (*this)[0]; }
  const_iterator begin() const { return many_ ? many_->data() : &one_; }
  const_iterator end() const { return begin() + size(); }

  // Appends a root (which may be null, as a vector would keep it). Throws std::bad_alloc.
  void push_back(std::unique_ptr<Node> root);
  // Destroys every root.
  void clear();

 private:
  // Either one_ holds the only root, or many_ holds every root (two or more, or a null one), or
  // both are null.
  std::unique_ptr<Node> one_;
  std::unique_ptr<std::vector<std::unique_ptr<Node>>> many_;
};

}  // namespace korvel

#endif  // KORVEL_MODEL_FORMULA_ROOTS_H_
