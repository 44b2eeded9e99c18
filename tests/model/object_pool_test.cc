#include "model/object_pool.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <vector>

namespace korvel {
namespace {

TEST(ObjectPool, SlabCapacityFollowsTheSizeRule) {
  struct Case {
    size_t size, capacity;
  } cases[] = {{1, 32768}, {8, 4096}, {16, 2048}, {17, 2000}, {40, 2000}, {100000, 2000}};
  for (const Case& c : cases) EXPECT_EQ(ObjectPool::slabCapacity(c.size), c.capacity) << c.size;
}

TEST(ObjectPool, FreshSlotsAreZeroDistinctAndAligned) {
  ObjectPool pool;
  const size_t size = 24;
  const size_t capacity = ObjectPool::slabCapacity(size);
  std::set<void*> seen;
  for (size_t i = 0; i < capacity + 5; ++i) {
    auto* p = static_cast<unsigned char*>(pool.allocate(size));
    ASSERT_TRUE(seen.insert(p).second);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 8, 0u);
    for (size_t b = 0; b < size; ++b) ASSERT_EQ(p[b], 0) << i;
    std::memset(p, 0xAB, size);
  }
  EXPECT_EQ(pool.slabCount(size), 2u);
  EXPECT_EQ(pool.slabCount(32), 0u);
}

TEST(ObjectPool, ReusesTheFreedSlotWithoutClearingIt) {
  ObjectPool pool;
  std::vector<void*> slots;
  for (int i = 0; i < 40; ++i) slots.push_back(pool.allocate(16));
  std::memset(slots[7], 0x5A, 16);
  pool.release(16, slots[7]);
  // The slot at the used count (39) is taken, so the scan finds the first clear bit: 7.
  void* again = pool.allocate(16);
  EXPECT_EQ(again, slots[7]);
  EXPECT_EQ(static_cast<unsigned char*>(again)[0], 0x5A);
  // With no hole, the slot at the used count comes next.
  EXPECT_EQ(pool.allocate(16), static_cast<char*>(slots[39]) + 16);
}

TEST(ObjectPool, EmptiedSlabIsFreedUnlessItIsTheOnlyOne) {
  ObjectPool pool;
  const size_t size = 64;
  const size_t capacity = ObjectPool::slabCapacity(size);
  std::vector<void*> first, second;
  for (size_t i = 0; i < capacity; ++i) first.push_back(pool.allocate(size));
  for (size_t i = 0; i < 3; ++i) second.push_back(pool.allocate(size));
  ASSERT_EQ(pool.slabCount(size), 2u);

  for (void* p : first) pool.release(size, p);
  EXPECT_EQ(pool.slabCount(size), 1u);
  for (void* p : second) pool.release(size, p);
  EXPECT_EQ(pool.slabCount(size), 1u);  // the only slab stays

  // The kept slab serves again, from its zero-filled start.
  void* p = pool.allocate(size);
  EXPECT_EQ(pool.slabCount(size), 1u);
  EXPECT_EQ(p, second[0]);
}

TEST(ObjectPool, FullRingGrowsAndHolesAreFoundAcrossSlabs) {
  ObjectPool pool;
  const size_t size = 8;
  const size_t capacity = ObjectPool::slabCapacity(size);
  std::vector<void*> slots;
  for (size_t i = 0; i < 3 * capacity; ++i) slots.push_back(pool.allocate(size));
  ASSERT_EQ(pool.slabCount(size), 3u);
  // A hole in the first slab is found by walking the ring from the full current slab.
  pool.release(size, slots[100]);
  EXPECT_EQ(pool.allocate(size), slots[100]);
  pool.allocate(size);
  EXPECT_EQ(pool.slabCount(size), 4u);
}

TEST(ObjectPool, StrayReleasesAreIgnored) {
  ObjectPool pool;
  auto* a = static_cast<char*>(pool.allocate(32));
  auto* b = static_cast<char*>(pool.allocate(32));
  int local = 0;
  pool.release(32, &local);  // not from the pool
  pool.release(48, a);       // wrong size: no ring
  pool.release(32, a + 4);   // not the start of a slot
  pool.release(32, nullptr);
  pool.release(32, a);
  pool.release(32, a);  // twice
  // Exactly one slot was freed: the next two allocations are a, then a fresh one.
  EXPECT_EQ(pool.allocate(32), a);
  void* c = pool.allocate(32);
  EXPECT_NE(c, a);
  EXPECT_NE(c, b);
}

TEST(ObjectPool, MakeAndDestroyRunConstructorsAndDestructors) {
  static int destroyed = 0;
  struct Counted {
    explicit Counted(int v) : value(v) {}
    ~Counted() { ++destroyed; }
    int value;
  };
  ObjectPool pool;
  Counted* c = pool.make<Counted>(42);
  EXPECT_EQ(c->value, 42);
  pool.destroy(c);
  pool.destroy<Counted>(nullptr);
  EXPECT_EQ(destroyed, 1);
  EXPECT_EQ(&ObjectPool::instance(), &ObjectPool::instance());
}

}  // namespace
}  // namespace korvel
