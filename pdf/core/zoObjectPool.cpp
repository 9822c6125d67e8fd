#include "pdf/core/zoObjectPool.h"

#include <cstdint>
#include <mutex>
#include <new>
#include <type_traits>

#if defined(__SANITIZE_ADDRESS__)
#define ZO_OBJECT_POOL_OFF 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZO_OBJECT_POOL_OFF 1
#endif
#endif

namespace {

#ifdef ZO_OBJECT_POOL_OFF
constexpr bool kPoolOn = false;
#else
constexpr bool kPoolOn = true;
#endif

constexpr std::size_t kGrain = 16;
constexpr std::size_t kClassCount = ObjectPoolLargestSize / kGrain;
static_assert(ObjectPoolLargestSize % kGrain == 0);
static_assert(kGrain >= alignof(std::max_align_t));
// Blocks go between a thread and the shared lists this many at a time; a thread keeps fewer than
// twice as many of a class.
constexpr int32_t kBatch = 256;
constexpr int32_t kMostCached = 2 * kBatch;

// A freed block. In the shared lists the first block of a batch also links the next batch.
struct FreeBlock {
  FreeBlock* next;
  FreeBlock* nextBatch;
};
static_assert(sizeof(FreeBlock) <= kGrain);

// The start of every slab: links all slabs, so that they stay reachable.
struct alignas(kGrain) SlabHeader {
  SlabHeader* next;
};
static_assert(ObjectPoolSlabSize % kGrain == 0 && ObjectPoolSlabSize > 2 * ObjectPoolLargestSize);

// Space not cut into blocks yet, handed on by a thread that ended.
struct Region {
  Region* next;
  std::byte* end;
};
static_assert(sizeof(Region) <= kGrain);

enum CacheState : uint8_t { csFresh, csLive, csEnded };

// A thread's lists of freed blocks and the uncut rest of its slab. A list holds at least as many
// blocks as its count says: a batch taken from the shared lists is not counted (that would walk
// it), so the count may go below zero while its blocks are handed out.
struct Cache {
  FreeBlock* heads[kClassCount];
  int32_t counts[kClassCount];
  std::byte* space;
  std::byte* spaceEnd;
  CacheState state;
};
static_assert(std::is_trivially_destructible_v<Cache>);

struct Shared {
  std::mutex mutex;
  FreeBlock* batches[kClassCount] = {};
  Region* regions = nullptr;
  SlabHeader* slabs = nullptr;
  std::size_t reserved = 0;
  // Used under the mutex for the blocks of threads whose own cache has ended (a node freed by a
  // thread's last destructors, or during static destruction).
  Cache orphans = {};
};

// Holds a T that is never destroyed: the pool outlives every static whose destructor frees nodes.
template <class T>
union NeverDestroyed {
  constexpr NeverDestroyed() : value() {}
  ~NeverDestroyed() {}
  T value;
};

constinit NeverDestroyed<Shared> gShared;
constinit thread_local Cache tCache = {};

constexpr std::size_t ClassOf(std::size_t size) {
  return (size - 1) / kGrain;
}
constexpr std::size_t SizeOf(std::size_t cls) {
  return (cls + 1) * kGrain;
}

void Push(Cache& cache, std::size_t cls, void* block) {
  cache.heads[cls] = new (block) FreeBlock{cache.heads[cls], nullptr};
  ++cache.counts[cls];
}

// The first free block of class cls of cache, taken off its list; null when the list is empty.
FreeBlock* Pop(Cache& cache, std::size_t cls) {
  FreeBlock* b = cache.heads[cls];
  if (b) {
    cache.heads[cls] = b->next;
    --cache.counts[cls];
  }
  return b;
}

// Puts the whole list of class cls of cache into the shared lists as one batch; mutex held.
void HandOverLocked(Shared& s, Cache& cache, std::size_t cls) {
  FreeBlock* batch = cache.heads[cls];
  if (!batch) return;
  batch->nextBatch = s.batches[cls];
  s.batches[cls] = batch;
  cache.heads[cls] = nullptr;
  cache.counts[cls] = 0;
}

// Keeps the kBatch blocks freed last in cache; the older ones go to the shared lists.
void Spill(Shared& s, Cache& cache, std::size_t cls, bool locked) {
  FreeBlock* last = cache.heads[cls];
  for (int32_t i = 1; i < kBatch; ++i)
    last = last->next;
  Cache older = {};
  older.heads[cls] = last->next;
  last->next = nullptr;
  cache.counts[cls] = kBatch;
  if (locked) {
    HandOverLocked(s, older, cls);
  } else {
    std::lock_guard<std::mutex> lock(s.mutex);
    HandOverLocked(s, older, cls);
  }
}

// Cuts what is left of cache's space into blocks of the smallest class.
void CutRest(Cache& cache) {
  while (cache.space != cache.spaceEnd) {
    Push(cache, 0, cache.space);
    cache.space += kGrain;
  }
}

// A block of class cls for cache, whose list of that class is empty: a batch from the shared
// lists, else cut from its space, taking new space when that is too small; mutex held.
void* RefillLocked(Shared& s, Cache& cache, std::size_t cls) {
  if (FreeBlock* batch = s.batches[cls]) {
    s.batches[cls] = batch->nextBatch;
    cache.heads[cls] = batch->next;
    cache.counts[cls] = 0;
    return batch;
  }
  const std::size_t size = SizeOf(cls);
  while (static_cast<std::size_t>(cache.spaceEnd - cache.space) < size) {
    CutRest(cache);
    if (Region* r = s.regions) {
      s.regions = r->next;
      cache.space = reinterpret_cast<std::byte*>(r);
      cache.spaceEnd = r->end;
      continue;
    }
    auto* slab = static_cast<std::byte*>(::operator new(ObjectPoolSlabSize));
    auto* header = new (slab) SlabHeader{s.slabs};
    s.slabs = header;
    s.reserved += ObjectPoolSlabSize;
    cache.space = slab + sizeof(SlabHeader);
    cache.spaceEnd = slab + ObjectPoolSlabSize;
  }
  void* block = cache.space;
  cache.space += size;
  return block;
}

// Hands everything of this thread's cache to the shared lists when the thread ends; frees after
// that take the locked path.
struct ThreadEnd {
  ~ThreadEnd() {
    Shared& s = gShared.value;
    std::lock_guard<std::mutex> lock(s.mutex);
    for (std::size_t cls = 0; cls < kClassCount; ++cls)
      HandOverLocked(s, tCache, cls);
    if (tCache.space != tCache.spaceEnd) {
      auto* r = new (tCache.space) Region{s.regions, tCache.spaceEnd};
      s.regions = r;
    }
    tCache.space = tCache.spaceEnd = nullptr;
    tCache.state = csEnded;
  }
};

void StartThread() {
  static thread_local ThreadEnd end;
  (void)end;
  tCache.state = csLive;
}

}  // namespace

void* ObjectPoolAllocate(std::size_t size) {
  if (!kPoolOn || size == 0 || size > ObjectPoolLargestSize) return ::operator new(size);
  const std::size_t cls = ClassOf(size);
  Cache& cache = tCache;
  if (cache.state != csLive) [[unlikely]] {
    if (cache.state == csFresh) {
      StartThread();
    } else {
      Shared& s = gShared.value;
      std::lock_guard<std::mutex> lock(s.mutex);
      if (FreeBlock* b = Pop(s.orphans, cls)) return b;
      return RefillLocked(s, s.orphans, cls);
    }
  }
  if (FreeBlock* b = Pop(cache, cls)) [[likely]] {
    // Freed blocks are often long out of the processor's cache: the next one is fetched now.
    __builtin_prefetch(b->next, 1);
    return b;
  }
  Shared& s = gShared.value;
  std::lock_guard<std::mutex> lock(s.mutex);
  return RefillLocked(s, cache, cls);
}

void ObjectPoolFree(void* block, std::size_t size) noexcept {
  if (!block) return;
  if (!kPoolOn || size == 0 || size > ObjectPoolLargestSize) {
#if defined(__cpp_sized_deallocation)
    ::operator delete(block, size);
#else
    ::operator delete(block);  // compilers without sized deallocation (clang before 16)
#endif
    return;
  }
  const std::size_t cls = ClassOf(size);
  Cache& cache = tCache;
  if (cache.state != csLive) [[unlikely]] {
    if (cache.state == csFresh) {
      StartThread();
    } else {
      Shared& s = gShared.value;
      std::lock_guard<std::mutex> lock(s.mutex);
      Push(s.orphans, cls, block);
      if (s.orphans.counts[cls] >= kMostCached) Spill(s, s.orphans, cls, true);
      return;
    }
  }
  Push(cache, cls, block);
  if (cache.counts[cls] >= kMostCached) [[unlikely]]
    Spill(gShared.value, cache, cls, false);
}

bool ObjectPoolEnabled() {
  return kPoolOn;
}

std::size_t ObjectPoolReservedBytes() {
  Shared& s = gShared.value;
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.reserved;
}
