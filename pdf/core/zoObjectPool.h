// Memory for the object layer's nodes: a pool of small blocks in size classes of 16 bytes up to
// ObjectPoolLargestSize, cut from slabs of ObjectPoolSlabSize bytes; larger blocks come from the
// global operator new. Each thread keeps lists of freed blocks and reuses them first; lists that
// grow long, and everything a thread holds when it ends, go to lists shared by all threads, so a
// block may be freed on any thread. Slabs are kept for the program's life: freed blocks wait in
// the lists for reuse and are never given back to the heap, so the pool holds what the most nodes
// alive at one time needed. In builds with AddressSanitizer the pool is off and every block comes
// from the global operator new, so that the sanitizer still sees each node.
#pragma once

#include <cstddef>

constexpr std::size_t ObjectPoolLargestSize = 128;
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
