// Slabs are found for a release through an index by address rather than by walking the ring: a
// model holds millions of objects in thousands of slabs, and tearing it down would otherwise
// cost a walk per object. The slab chosen is the same one the walk would find.
#include "model/object_pool.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <limits>
#include <list>
#include <new>

namespace korvel {
namespace {

constexpr size_t kMinSlabBytes = 32768;
constexpr size_t kObjectsPerSlab = 2000;
constexpr uint32_t kFullWord = 0xFFFFFFFFu;

// Sizes are at least one byte, so every slot has its own address.
size_t slotSize(size_t size) { return size == 0 ? 1 : size; }

}  // namespace

struct ObjectPool::Slab {
  Slab(size_t objectSize, size_t objectCount)
      : capacity(static_cast<uint32_t>(objectCount)),
        size(objectSize),
        // The bitmap starts clear and the objects zero-filled; calloc leaves memory that comes
        // fresh from the system as it is instead of writing zeros over it.
        bitmap(new uint32_t[(objectCount + 31) / 32]()),
        objects(zeroed(objectCount * objectSize)) {}

  bool full() const { return used == capacity; }
  bool isSet(uint32_t index) const { return (bitmap[index / 32] >> (index % 32)) & 1u; }

  // REQUIRES: !full().
  void* take() {
    uint32_t index = used;
    if (isSet(index)) {
      uint32_t word = 0;
      while (bitmap[word] == kFullWord) ++word;
      uint32_t bits = bitmap[word];
      uint32_t bit = 0;
      while ((bits >> bit) & 1u) ++bit;
      index = word * 32 + bit;
    }
    bitmap[index / 32] |= 1u << (index % 32);
    ++used;
    return objects.get() + size_t{index} * size;
  }

  // False when the address is not the start of a slot in use.
  // REQUIRES: offset lies inside the object area.
  bool give(size_t offset) {
    if (offset % size != 0) return false;
    uint32_t index = static_cast<uint32_t>(offset / size);
    if (!isSet(index)) return false;
    bitmap[index / 32] &= ~(1u << (index % 32));
    --used;
    return true;
  }

  uint32_t used = 0;
  uint32_t capacity;
  size_t size;
  std::unique_ptr<uint32_t[]> bitmap;
  struct Free {
    void operator()(std::byte* p) const { std::free(p); }
  };
  static std::byte* zeroed(size_t bytes) {
    void* p = std::calloc(bytes, 1);
    if (p == nullptr) throw std::bad_alloc();
    return static_cast<std::byte*>(p);
  }
  std::unique_ptr<std::byte, Free> objects;
};

struct ObjectPool::Ring {
  using Slabs = std::list<Slab>;

  Slabs::iterator next(Slabs::iterator it) {
    ++it;
    return it == slabs.end() ? slabs.begin() : it;
  }
  // Inserts before `before`, which in ring order is right after the slab preceding it.
  Slabs::iterator insert(Slabs::iterator before, size_t size) {
    auto it = slabs.emplace(before, size, slabCapacity(size));
    byStart.emplace(it->objects.get(), it);
    return it;
  }

  Slabs slabs;
  Slabs::iterator current;
  std::map<const std::byte*, Slabs::iterator> byStart;
};

ObjectPool::ObjectPool() = default;
ObjectPool::~ObjectPool() = default;

ObjectPool& ObjectPool::instance() {
  // Never destroyed: objects may still be released by other static destructors at exit.
  static ObjectPool* pool = new ObjectPool;
  return *pool;
}

size_t ObjectPool::slabCapacity(size_t size) {
  size = slotSize(size);
  if (size > std::numeric_limits<size_t>::max() / kObjectsPerSlab) throw std::bad_alloc();
  return std::max(kObjectsPerSlab * size, kMinSlabBytes) / size;
}

void* ObjectPool::allocate(size_t size) {
  size = slotSize(size);
  auto found = rings_.find(size);
  if (found == rings_.end()) {
    auto ring = std::make_unique<Ring>();
    ring->current = ring->insert(ring->slabs.end(), size);
    found = rings_.emplace(size, std::move(ring)).first;
  }
  Ring& ring = *found->second;
  auto start = ring.current;
  auto it = start;
  while (it->full()) {
    it = ring.next(it);
    if (it == start) {
      it = ring.insert(start, size);
      break;
    }
  }
  ring.current = it;
  return it->take();
}

void ObjectPool::release(size_t size, void* pointer) {
  size = slotSize(size);
  auto found = rings_.find(size);
  if (found == rings_.end() || pointer == nullptr) return;
  Ring& ring = *found->second;
  const auto* p = static_cast<const std::byte*>(pointer);
  // The last slab whose object area starts at or before the pointer.
  auto candidate = ring.byStart.upper_bound(p);
  if (candidate == ring.byStart.begin()) return;
  auto it = std::prev(candidate)->second;
  auto offset = reinterpret_cast<uintptr_t>(p) - reinterpret_cast<uintptr_t>(it->objects.get());
  if (offset >= size_t{it->capacity} * it->size) return;
  if (!it->give(offset)) return;
  if (it->used == 0 && ring.slabs.size() > 1) {
    auto successor = ring.next(it);
    ring.byStart.erase(it->objects.get());
    ring.slabs.erase(it);
    ring.current = successor;
  }
}

size_t ObjectPool::slabCount(size_t size) const {
  auto found = rings_.find(slotSize(size));
  return found == rings_.end() ? 0 : found->second->slabs.size();
}

}  // namespace korvel
