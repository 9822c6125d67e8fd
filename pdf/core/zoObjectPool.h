// Memory for the object layer's nodes and the buffers of its containers: a pool of small blocks in
// size classes of 16 bytes up to ObjectPoolLargestSize, cut from slabs of ObjectPoolSlabSize bytes;
// larger blocks come from the global operator new. Each thread keeps lists of freed blocks and
// reuses them first; lists that grow long, and everything a thread holds when it ends, go to lists
// shared by all threads, so a block may be freed on any thread. Slabs are kept for the program's
// life: freed blocks wait in the lists for reuse and are never given back to the heap, so the pool
// holds what the most blocks alive at one time needed. In builds with AddressSanitizer the pool is
// off and every block comes from the global operator new, so that the sanitizer still sees each
// node.
#pragma once

#include <cstddef>
#include <limits>
#include <new>

constexpr std::size_t ObjectPoolLargestSize = 256;
constexpr std::size_t ObjectPoolSlabSize = 64 * 1024;

// A block of size bytes, aligned for any object of that size (16 bytes at least within the
// pool); std::bad_alloc when there is no memory.
void* ObjectPoolAllocate(std::size_t size);
// Gives back a block of ObjectPoolAllocate, with the size it was asked for; nothing for null.
void ObjectPoolFree(void* block, std::size_t size) noexcept;

// False when the pool is off (sanitizer builds).
bool ObjectPoolEnabled();
// Bytes of slabs the pool has taken from the heap so far (0 when it is off).
std::size_t ObjectPoolReservedBytes();

// Pool blocks for a standard container's buffer (the arrays' elements, the dictionaries' entries).
template <class T>
struct TzoPoolAllocator {
  static_assert(alignof(T) <= alignof(std::max_align_t));
  using value_type = T;
  TzoPoolAllocator() noexcept = default;
  template <class U>
  TzoPoolAllocator(const TzoPoolAllocator<U>&) noexcept {}
  T* allocate(std::size_t n) {
    if (n > std::numeric_limits<std::size_t>::max() / sizeof(T)) throw std::bad_array_new_length();
    return static_cast<T*>(ObjectPoolAllocate(n * sizeof(T)));
  }
  void deallocate(T* p, std::size_t n) noexcept { ObjectPoolFree(p, n * sizeof(T)); }
  template <class U>
  bool operator==(const TzoPoolAllocator<U>&) const noexcept {
    return true;
  }
};
