// RangeLinks: the range entries that one cell's formula reads. Millions of cells hold one, and
// nearly every one holds no entry or a single one, so the list is one word: empty, the single
// entry itself, or a tagged pointer to a block of entries on the heap.
//
// REQUIRES: no null entries; used only on the thread that handles host commands and evaluates
// formulas.
#ifndef KORVEL_MODEL_RANGE_LINKS_H_
#define KORVEL_MODEL_RANGE_LINKS_H_

#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>

namespace korvel {

struct RangeEntry;

class RangeLinks {
 public:
  using value_type = RangeEntry*;
  using const_iterator = RangeEntry* const*;
  using iterator = const_iterator;

  RangeLinks() = default;
  ~RangeLinks() { release(); }
  RangeLinks(const RangeLinks&) = delete;
  RangeLinks& operator=(const RangeLinks&) = delete;
  RangeLinks(RangeLinks&& other) noexcept : word_(std::exchange(other.word_, nullptr)) {}
  RangeLinks& operator=(RangeLinks&& other) noexcept {
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
  void push_back(RangeEntry* entry) {
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
  void clear() {
    release();
    word_ = nullptr;
  }

 private:
  // The header of a block of capacity entries, the first size of them in use.
  struct alignas(8) Block {
    uint32_t size;
    uint32_t capacity;
    RangeEntry** entries() { return reinterpret_cast<RangeEntry**>(this + 1); }
  };

  // Entries are 8-byte aligned, so a single entry's pointer leaves the low bit clear.
  static constexpr uintptr_t kBlockTag = 1;

  bool isBlock() const { return (reinterpret_cast<uintptr_t>(word_) & kBlockTag) != 0; }
  Block* block() const {
    return reinterpret_cast<Block*>(reinterpret_cast<uintptr_t>(word_) & ~kBlockTag);
  }
  static RangeEntry* tagged(Block* block) {
    return reinterpret_cast<RangeEntry*>(reinterpret_cast<uintptr_t>(block) | kBlockTag);
  }
  static Block* makeBlock(size_t capacity) {
    void* memory = ::operator new(sizeof(Block) + capacity * sizeof(RangeEntry*));
    Block* block = new (memory) Block{0, uint32_t(capacity)};
    return block;
  }
  void release() {
    if (isBlock()) ::operator delete(block());
  }

  RangeEntry* word_ = nullptr;
};

}  // namespace korvel

#endif  // KORVEL_MODEL_RANGE_LINKS_H_
