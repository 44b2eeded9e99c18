#include "model/cell_links.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "model/cell.h"

namespace korvel {
namespace {

// Up to this size an array takes a cell anywhere by shifting the ones after it; a larger one
// only appends, and turns into a tree when changed in the middle. A tree that shrinks to
// kTreeToArray cells becomes an array again (well below the first limit, so that a set changed
// around that size does not convert back and forth).
constexpr uint32_t kShiftLimit = 64;
constexpr size_t kTreeToArray = 16;

}  // namespace

CellLinks& CellLinks::operator=(CellLinks&& other) noexcept {
  if (this != &other) {
    clear();
    word_ = other.word_;
    other.word_ = nullptr;
  }
  return *this;
}

namespace {

template <class Array>
Array* newArray(uint32_t capacity) {
  void* block = ::operator new (sizeof(Array) + size_t{capacity} * sizeof(Cell*));
  return new (block) Array{0, capacity};
}

template <class Array>
void deleteArray(Array* array) {
  ::operator delete(array);
}

}  // namespace

void CellLinks::setArray(Array* array) {
  word_ = reinterpret_cast<Cell*>(reinterpret_cast<uintptr_t>(array) | kArrayTag);
}

void CellLinks::setTree(Tree* tree) {
  word_ = reinterpret_cast<Cell*>(reinterpret_cast<uintptr_t>(tree) | kTreeTag);
}

CellLinks::Tree* CellLinks::toTree() {
  Array* a = array();
  auto* tree = new Tree(a->cells(), a->cells() + a->size);
  deleteArray(a);
  setTree(tree);
  return tree;
}

bool CellLinks::insert(Cell* cell) {
  CellIdentityLess less;
  if (tag() == kTreeTag) return tree()->insert(cell).second;
  if (tag() != kArrayTag) {
    if (word_ == nullptr) {
      word_ = cell;
      return true;
    }
    if (word_ == cell) return false;
    Array* a = newArray<Array>(2);
    a->size = 2;
    a->cells()[0] = less(word_, cell) ? word_ : cell;
    a->cells()[1] = less(word_, cell) ? cell : word_;
    setArray(a);
    return true;
  }
  Array* a = array();
  Cell** first = a->cells();
  Cell** last = first + a->size;
  Cell** at = less(last[-1], cell) ? last : std::lower_bound(first, last, cell, less);
  if (at != last && *at == cell) return false;
  if (at != last && a->size >= kShiftLimit) return toTree()->insert(cell).second;
  if (a->size == a->capacity) {
    Array* grown = newArray<Array>(a->capacity * 2);
    grown->size = a->size;
    std::memcpy(grown->cells(), first, a->size * sizeof(Cell*));
    at = grown->cells() + (at - first);
    deleteArray(a);
    setArray(grown);
    a = grown;
    first = a->cells();
    last = first + a->size;
  }
  std::memmove(at + 1, at, size_t(last - at) * sizeof(Cell*));
  *at = cell;
  ++a->size;
  return true;
}

size_t CellLinks::erase(Cell* cell) {
  CellIdentityLess less;
  if (tag() == kTreeTag) {
    Tree* t = tree();
    size_t erased = t->erase(cell);
    if (erased != 0 && t->size() <= kTreeToArray) {
      // Rebuilt from empty: insert keeps the single-cell and array forms as they should be.
      word_ = nullptr;
      for (Cell* kept : *t) insert(kept);
      delete t;
    }
    return erased;
  }
  if (tag() != kArrayTag) {
    if (word_ != cell || cell == nullptr) return 0;
    word_ = nullptr;
    return 1;
  }
  Array* a = array();
  Cell** first = a->cells();
  Cell** last = first + a->size;
  Cell** at = std::lower_bound(first, last, cell, less);
  if (at == last || *at != cell) return 0;
  if (at + 1 != last && a->size > kShiftLimit) return toTree()->erase(cell);
  std::memmove(at, at + 1, size_t(last - at - 1) * sizeof(Cell*));
  if (--a->size == 1) {
    word_ = first[0];
    deleteArray(a);
  }
  return 1;
}

bool CellLinks::contains(const Cell* cell) const { return find(cell) != end(); }

CellLinks::const_iterator CellLinks::find(const Cell* cell) const {
  Cell* key = const_cast<Cell*>(cell);
  if (tag() == kTreeTag) return const_iterator(tree()->find(key));
  if (tag() != kArrayTag) return word_ == key && key ? begin() : end();
  Cell** first = array()->cells();
  Cell** last = first + array()->size;
  Cell** at = std::lower_bound(first, last, key, CellIdentityLess());
  return at != last && *at == key ? const_iterator(at) : end();
}

void CellLinks::clear() {
  if (tag() == kArrayTag) {
    deleteArray(array());
  } else if (tag() == kTreeTag) {
    delete tree();
  }
  word_ = nullptr;
}

}  // namespace korvel
