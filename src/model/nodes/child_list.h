// ChildList: the operands of a composite node, owned, in record order. Operators and comparisons
// have one or two, and most calls few, so two children live in the list itself and only a longer
// list takes a block of its own. Reads like the vector it stands for: list[i], size(), iteration
// over contiguous std::unique_ptr<Node>.
#ifndef KORVEL_MODEL_NODES_CHILD_LIST_H_
#define KORVEL_MODEL_NODES_CHILD_LIST_H_

#include <cstddef>
#include <memory>

namespace korvel {

class Node;

class ChildList {
 public:
  using value_type = std::unique_ptr<Node>;
  using const_iterator = const std::unique_ptr<Node>*;
  using iterator = const_iterator;

  ChildList() = default;
  ~ChildList() { clear(); }
  ChildList(const ChildList&) = delete;
  ChildList& operator=(const ChildList&) = delete;

  size_t size() const {
    if (const Block* b = block()) return b->size;
    return slots_[0] ? (slots_[1] ? 2 : 1) : 0;
  }
  bool empty() const { return !slots_[0] && !slots_[1]; }
  const_iterator begin() const { return items(); }
  const_iterator end() const { return items() + size(); }
  // REQUIRES for each: index < size(), or a child at all.
  const std::unique_ptr<Node>& operator[](size_t index) const { return items()[index]; }
  const std::unique_ptr<Node>& front() const { return items()[0]; }
  const std::unique_ptr<Node>& back() const { return items()[size() - 1]; }

  // Appends the child. REQUIRES: child is not null. Throws std::bad_alloc (the child is then
  // destroyed and the list stays as it was).
  void push_back(std::unique_ptr<Node> child);
  // Destroys every child.
  void clear();

 private:
  // A list of more than two children: capacity slots follow the header, size of them in use.
  struct Block {
    size_t size;
    size_t capacity;
    std::unique_ptr<Node>* items() { return reinterpret_cast<std::unique_ptr<Node>*>(this + 1); }
  };

  // Up to two children are the leading non-null slots. A longer list keeps slots_[0] empty and
  // parks its Block in slots_[1], which no list of up to two children can look like; that slot
  // then owns no node and is released, never reset, when the block goes.
  Block* block() const {
    return !slots_[0] && slots_[1] ? reinterpret_cast<Block*>(slots_[1].get()) : nullptr;
  }
  const std::unique_ptr<Node>* items() const {
    Block* b = block();
    return b ? b->items() : slots_;
  }
  static Block* newBlock(size_t capacity);
  static void deleteBlock(Block* block);

  std::unique_ptr<Node> slots_[2];
};

}  // namespace korvel

#endif  // KORVEL_MODEL_NODES_CHILD_LIST_H_
