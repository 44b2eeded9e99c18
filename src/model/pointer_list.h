// PointerList<T>: a list of pointers in the order they were added, one word in size. Millions of
// cells and range entries hold one, and nearly every one holds no pointer or a single one, so the
// word is empty, the single pointer itself, or a tagged pointer to a block on the heap.
//
// REQUIRES: no null pointers; T aligned to at least 2 bytes; used only on the thread that handles
// host commands and evaluates formulas.
#ifndef KORVEL_MODEL_POINTER_LIST_H_
#define KORVEL_MODEL_POINTER_LIST_H_

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>
#include <vector>

namespace korvel {

template <class T>
class PointerList {
 public:
  using value_type = T*;
  using const_iterator = T* const*;
  using iterator = const_iterator;

  PointerList() = default;
  ~PointerList() { release(); }
  PointerList(const PointerList&) = delete;
  PointerList& operator=(const PointerList&) = delete;
  PointerList(PointerList&& other) noexcept : word_(std::exchange(other.word_, nullptr)) {}
  PointerList& operator=(PointerList&& other) noexcept {
    if (this != &other) {
      release();
      word_ = std::exchange(other.word_, nullptr);
    }
    return *this;
  }

  bool empty() const { return word_ == nullptr; }
  size_t size() const { return isBlock() ? block()->size : word_ ? 1 : 0; }
  const_iterator begin() const { return isBlock() ? block()->entries() : &word_; }
  const_iterator end() const { return begin() + size(); }

  // Appends the entry. Throws std::bad_alloc, leaving the list as it was.
  void push_back(T* entry) {
    if (word_ == nullptr) {
      word_ = entry;
      return;
    }
    size_t n = size();
    if (!isBlock() || n == block()->capacity) {
      Block* grown = makeBlock(n < 2 ? 4 : 2 * n);
      for (size_t i = 0; i < n; ++i) grown->entries()[i] = begin()[i];
      grown->size = uint32_t(n);
      release();
      word_ = tagged(grown);
    }
    block()->entries()[block()->size++] = entry;
  }
  // REQUIRES: !empty().
  T* back() const { return end()[-1]; }
  // Removes every occurrence of the pointer, keeping the order of the others.
  void remove(T* entry) {
    if (!isBlock()) {
      if (word_ == entry) word_ = nullptr;
      return;
    }
    Block* b = block();
    T** first = b->entries();
    uint32_t kept = 0;
    for (uint32_t i = 0; i < b->size; ++i) {
      if (first[i] != entry) first[kept++] = first[i];
    }
    b->size = kept;
    if (kept > 1) return;
    T* single = kept == 1 ? first[0] : nullptr;
    release();
    word_ = single;
  }
  friend bool operator==(const PointerList& list, const std::vector<T*>& other) {
    return list.size() == other.size() && std::equal(list.begin(), list.end(), other.begin());
  }
  void clear() {
    release();
    word_ = nullptr;
  }

 private:
  // The header of a block of capacity entries, the first size of them in use.
  struct alignas(8) Block {
    uint32_t size;
    uint32_t capacity;
    T** entries() { return reinterpret_cast<T**>(this + 1); }
  };

  // Entries are 8-byte aligned, so a single entry's pointer leaves the low bit clear.
  static constexpr uintptr_t kBlockTag = 1;

  bool isBlock() const { return (reinterpret_cast<uintptr_t>(word_) & kBlockTag) != 0; }
  Block* block() const {
    return reinterpret_cast<Block*>(reinterpret_cast<uintptr_t>(word_) & ~kBlockTag);
  }
  static T* tagged(Block* block) {
    return reinterpret_cast<T*>(reinterpret_cast<uintptr_t>(block) | kBlockTag);
  }
  static Block* makeBlock(size_t capacity) {
    void* memory = ::operator new(sizeof(Block) + capacity * sizeof(T*));
    Block* block = new (memory) Block{0, uint32_t(capacity)};
    return block;
  }
  void release() {
    if (isBlock()) ::operator delete(block());
  }

  T* word_ = nullptr;
};

}  // namespace korvel

#endif  // KORVEL_MODEL_POINTER_LIST_H_
