// The slab allocator of the small fixed-size engine objects (cells, formula nodes, values), which
// exist by the million: one process-wide pool, a ring of zero-filled slabs per object size.
//
// REQUIRES: used only on the thread that handles host commands and evaluates formulas.
#ifndef KORVEL_MODEL_OBJECT_POOL_H_
#define KORVEL_MODEL_OBJECT_POOL_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <new>
#include <utility>

namespace korvel {

class ObjectPool {
 public:
  ObjectPool();
  ~ObjectPool();
  ObjectPool(const ObjectPool&) = delete;
  ObjectPool& operator=(const ObjectPool&) = delete;

  // The process-wide pool.
  static ObjectPool& instance();

  // Storage for one object of the size: zero-filled when its slab was created, not cleared again
  // when a freed slot is reused. Throws std::bad_alloc when memory runs out.
  void* allocate(size_t size);
  // Gives the storage back. REQUIRES: size is the size it was allocated with. A pointer that no
  // slab of that size holds (or that is not the start of a slot) is ignored, so a stray release
  // cannot corrupt the bitmap of some other object. Releasing a free slot again does nothing.
  void release(size_t size, void* pointer);

  // Constructs a T in pooled storage, and destroys and releases it.
  template <class T, class... Args>
  T* make(Args&&... args) {
    void* p = allocate(sizeof(T));
    try {
      return new (p) T(std::forward<Args>(args)...);
    } catch (...) {
      release(sizeof(T), p);
      throw;
    }
  }
  template <class T>
  void destroy(T* object) {
    if (!object) return;
    object->~T();
    release(sizeof(T), object);
  }

  // Slabs currently held for objects of the size (tests and benchmarks).
  size_t slabCount(size_t size) const;
  // Objects a slab for the size holds: max(2000 * size, 32768) / size.
  static size_t slabCapacity(size_t size);

 private:
  struct Slab;
  // The slabs of one size in ring order (the list wraps around), the one allocation starts
  // from, and an index by object-area start so a release finds its slab without a walk.
  struct Ring;

  std::map<size_t, std::unique_ptr<Ring>> rings_;
};

}  // namespace korvel

#endif  // KORVEL_MODEL_OBJECT_POOL_H_
