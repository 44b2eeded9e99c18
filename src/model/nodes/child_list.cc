#include "model/nodes/child_list.h"

#include <new>
#include <utility>

#include "model/nodes/node.h"

namespace korvel {

ChildList::Block* ChildList::newBlock(size_t capacity) {
  void* memory = ::operator new(sizeof(Block) + capacity * sizeof(std::unique_ptr<Node>));
  auto* block = new (memory) Block{0, capacity};
  for (size_t i = 0; i < capacity; ++i) new (block->items() + i) std::unique_ptr<Node>();
  return block;
}

void ChildList::deleteBlock(Block* block) {
  for (size_t i = 0; i < block->capacity; ++i) block->items()[i].~unique_ptr();
  ::operator delete(block);
}

void ChildList::push_back(std::unique_ptr<Node> child) {
  Block* b = block();
  if (!b) {
    if (!slots_[0]) {
      slots_[0] = std::move(child);
      return;
    }
    if (!slots_[1]) {
      slots_[1] = std::move(child);
      return;
    }
    b = newBlock(4);
    b->items()[0] = std::move(slots_[0]);
    b->items()[1] = std::move(slots_[1]);
    b->size = 2;
    slots_[1].reset(reinterpret_cast<Node*>(b));
  } else if (b->size == b->capacity) {
    Block* grown = newBlock(b->capacity * 2);
    for (size_t i = 0; i < b->size; ++i) grown->items()[i] = std::move(b->items()[i]);
    grown->size = b->size;
    (void)slots_[1].release();
    slots_[1].reset(reinterpret_cast<Node*>(grown));
    deleteBlock(b);
    b = grown;
  }
  b->items()[b->size++] = std::move(child);
}

void ChildList::clear() {
  if (Block* b = block()) {
    (void)slots_[1].release();
    deleteBlock(b);
    return;
  }
  slots_[0].reset();
  slots_[1].reset();
}

}  // namespace korvel
