// FormulaRoots: the formula of a cell, then its shared sub-expressions, each an owned tree of
// nodes. Nearly every formula cell has exactly one root, so the whole is one word: that root held
// in place, or, for a cell with more (or a null root), a tagged pointer to a list of its own.
// Reads like the vector it stands for: roots[i], front(), size(), iteration over contiguous
// std::unique_ptr<Node>.
#ifndef KORVEL_MODEL_FORMULA_ROOTS_H_
#define KORVEL_MODEL_FORMULA_ROOTS_H_

#include <cstddef>
#include <cstdint>
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

  bool empty() const { return !word_; }
  size_t size() const { return isList() ? list()->size() : (word_ ? 1 : 0); }
  // REQUIRES for each: index < size(), or a root at all.
  const std::unique_ptr<Node>& operator[](size_t index) const {
    return isList() ? (*list())[index] : word_;
  }
  const std::unique_ptr<Node>& front() const { return (*this)[0]; }
  const_iterator begin() const { return isList() ? list()->data() : &word_; }
  const_iterator end() const { return begin() + size(); }

  // Appends a root (which may be null, as a vector would keep it). Throws std::bad_alloc.
  void push_back(std::unique_ptr<Node> root);
  // Destroys every root.
  void clear();

 private:
  using List = std::vector<std::unique_ptr<Node>>;
  // Nodes are at least 8-byte aligned, so a root's own pointer leaves the low bit clear.
  static constexpr uintptr_t kListTag = 1;
  bool isList() const { return (reinterpret_cast<uintptr_t>(word_.get()) & kListTag) != 0; }
  List* list() const {
    return reinterpret_cast<List*>(reinterpret_cast<uintptr_t>(word_.get()) & ~kListTag);
  }

  // The only root; or, tagged, the list of every root (two or more, or a null one); or null. Only
  // the members above read it, and the list form is released by clear(), never deleted as a node.
  std::unique_ptr<Node> word_;
};

}  // namespace korvel

#endif  // KORVEL_MODEL_FORMULA_ROOTS_H_
