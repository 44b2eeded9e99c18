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
  ObjectPool() = default;
  ~ObjectPool();
  ObjectPool(const ObjectPool&) = delete;
  ObjectPool& operator=(const ObjectPool&) = delete;

  // The process-wide pool.
  static ObjectPool& instance();

  // Storage for one object of the size: zero-filled when its slab was created, not cleared again
  // when a freed slot is reused. Throws std::bad_alloc when memory runs out.
  void* allocate(size_t size);
  // Gives the storage back. REQUIRES: size is the size it was allocated with.
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

 private:
  struct Slab;
  struct Ring;
  std::map<size_t, std::unique_ptr<Ring>> rings_;
};

}  // namespace korvel

#endif  // KORVEL_MODEL_OBJECT_POOL_H_
