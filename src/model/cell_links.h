// CellLinks: the precedents or the dependents of one cell, a set of cells ordered by identity.
// Millions of cells hold two of them, and nearly every one holds zero, one or a few links, so the
// set is one word: empty, the single cell itself, or a pointer to a sorted array. Arrays grow by
// appending, as links are mostly made in identity order; a large set that is changed in the
// middle turns into a balanced tree, so that a cell read by many others never costs a linear
// shift per change.
//
// REQUIRES: used only on the thread that handles host commands and evaluates formulas; no null
// cells.
#ifndef KORVEL_MODEL_CELL_LINKS_H_
#define KORVEL_MODEL_CELL_LINKS_H_

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <set>

namespace korvel {

class Cell;

// Orders cells by identity. REQUIRES: no null pointers.
struct CellIdentityLess {
  bool operator()(const Cell* a, const Cell* b) const;
};

class CellLinks {
  // The header of a block holding capacity cells, the first size of them in use.
  struct alignas(8) Array {
    uint32_t size;
    uint32_t capacity;
    Cell** cells() { return reinterpret_cast<Cell**>(this + 1); }
  };
  using Tree = std::set<Cell*, CellIdentityLess>;

 public:
  using value_type = Cell*;
  using size_type = size_t;

  // A forward iterator over the cells in identity order. Any change to the set invalidates it.
  class const_iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = Cell*;
    using difference_type = std::ptrdiff_t;
    using pointer = Cell* const*;
    using reference = Cell* const&;

    const_iterator() = default;
    reference operator*() const { return at_ ? *at_ : *node_; }
    pointer operator->() const { return &**this; }
    const_iterator& operator++() {
      if (at_) {
        ++at_;
      } else {
        ++node_;
      }
      return *this;
    }
    const_iterator operator++(int) {
      const_iterator before = *this;
      ++*this;
      return before;
    }
    bool operator==(const const_iterator& other) const {
      return at_ || other.at_ ? at_ == other.at_ : node_ == other.node_;
    }

   private:
    friend class CellLinks;
    explicit const_iterator(Cell* const* at) : at_(at) {}
    explicit const_iterator(Tree::const_iterator node) : node_(node) {}

    Cell* const* at_ = nullptr;  // null when walking a tree
    Tree::const_iterator node_;
  };
  using iterator = const_iterator;

  CellLinks() = default;
  ~CellLinks() { clear(); }
  CellLinks(const CellLinks&) = delete;
  CellLinks& operator=(const CellLinks&) = delete;
  CellLinks(CellLinks&& other) noexcept : word_(other.word_) { other.word_ = nullptr; }
  CellLinks& operator=(CellLinks&& other) noexcept;

  const_iterator begin() const {
    switch (tag()) {
      case kArrayTag:
        return const_iterator(array()->cells());
      case kTreeTag:
        return const_iterator(tree()->begin());
      default:
        return const_iterator(&word_);
    }
  }
  const_iterator end() const {
    switch (tag()) {
      case kArrayTag:
        return const_iterator(array()->cells() + array()->size);
      case kTreeTag:
        return const_iterator(tree()->end());
      default:
        return const_iterator(word_ ? &word_ + 1 : &word_);
    }
  }
  size_t size() const {
    switch (tag()) {
      case kArrayTag:
        return array()->size;
      case kTreeTag:
        return tree()->size();
      default:
        return word_ ? 1 : 0;
    }
  }
  bool empty() const { return word_ == nullptr; }

  // Adds the cell; false when it was there already. Throws std::bad_alloc.
  bool insert(Cell* cell);
  // Removes the cell; the number removed (0 or 1).
  size_t erase(Cell* cell);
  size_t count(const Cell* cell) const { return contains(cell) ? 1 : 0; }
  bool contains(const Cell* cell) const;
  // The cell's position, or end().
  const_iterator find(const Cell* cell) const;
  void clear();

 private:
  // The low bits of word_ tell what it holds: 0 the single cell (or nothing when null), 1 an
  // Array, 2 a Tree. Cells are 8-byte aligned, so their pointers leave those bits clear.
  static constexpr uintptr_t kArrayTag = 1;
  static constexpr uintptr_t kTreeTag = 2;
  static constexpr uintptr_t kTagMask = 3;

  uintptr_t tag() const { return reinterpret_cast<uintptr_t>(word_) & kTagMask; }
  Array* array() const {
    return reinterpret_cast<Array*>(reinterpret_cast<uintptr_t>(word_) & ~kTagMask);
  }
  Tree* tree() const {
    return reinterpret_cast<Tree*>(reinterpret_cast<uintptr_t>(word_) & ~kTagMask);
  }
  void setArray(Array* array);
  void setTree(Tree* tree);
  // Moves the cells of the array into a new tree, which replaces it.
  Tree* toTree();

  Cell* word_ = nullptr;
};

}  // namespace korvel

#endif  // KORVEL_MODEL_CELL_LINKS_H_
