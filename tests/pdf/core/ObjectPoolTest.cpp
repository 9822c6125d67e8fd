#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <functional>
#include <iterator>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "pdf/core/zoObjectPool.h"
#include "pdf/core/zoPDFObjects.h"

namespace {

// One node of every kind, its value made from id, and a check that the value is still there.
struct Kind {
  const char* name;
  std::size_t size;
  std::function<TzoPDFObjectPtr(int32_t id)> make;
  std::function<bool(const TzoPDFObject&, int32_t id)> holds;
};

std::string LongText(int32_t id) {
  return "/Name" + std::to_string(id) + std::string(static_cast<size_t>(id % 40), 'x');
}

const std::vector<Kind>& Kinds() {
  static const std::vector<Kind> kinds = {
      {"Boolean", sizeof(TzoPDFBooleanObject),
       [](int32_t id) { return std::make_unique<TzoPDFBooleanObject>(id % 2 == 1); },
       [](const TzoPDFObject& o, int32_t id) { return o.AsBoolean()->Value() == (id % 2 == 1); }},
      {"Integer", sizeof(TzoPDFIntegerObject),
       [](int32_t id) { return std::make_unique<TzoPDFIntegerObject>(id); },
       [](const TzoPDFObject& o, int32_t id) { return o.AsInteger()->Value() == id; }},
      {"Int64", sizeof(TzoPDFInt64Object),
       [](int32_t id) { return std::make_unique<TzoPDFInt64Object>(int64_t{id} << 33); },
       [](const TzoPDFObject& o, int32_t id) { return o.AsInt64()->Value() == int64_t{id} << 33; }},
      {"Real", sizeof(TzoPDFRealObject),
       [](int32_t id) { return std::make_unique<TzoPDFRealObject>(id + 0.5); },
       [](const TzoPDFObject& o, int32_t id) { return o.AsReal()->Value() == id + 0.5; }},
      {"String", sizeof(TzoPDFStringObject),
       [](int32_t id) { return std::make_unique<TzoPDFStringObject>(LongText(id), true); },
       [](const TzoPDFObject& o, int32_t id) {
         return o.AsString()->Text() == LongText(id) && o.AsString()->IsHex();
       }},
      {"Name", sizeof(TzoPDFNameObject),
       [](int32_t id) { return std::make_unique<TzoPDFNameObject>(LongText(id)); },
       [](const TzoPDFObject& o, int32_t id) { return o.AsName()->Text() == LongText(id); }},
      {"Array", sizeof(TzoPDFArrayObject),
       [](int32_t id) {
         auto a = std::make_unique<TzoPDFArrayObject>();
         for (int32_t i = 0; i < id % 5; ++i)
           a->AddInteger(id + i);
         return a;
       },
       [](const TzoPDFObject& o, int32_t id) {
         const TzoPDFArrayObject* a = o.AsArray();
         if (a->Count() != id % 5) return false;
         for (int32_t i = 0; i < a->Count(); ++i)
           if (a->GetItem(i)->AsInteger()->Value() != id + i) return false;
         return true;
       }},
      {"Dictionary", sizeof(TzoPDFDictObject),
       [](int32_t id) {
         auto d = std::make_unique<TzoPDFDictObject>();
         d->AddInteger("/Id", id);
         d->AddName("/Type", LongText(id));
         return d;
       },
       [](const TzoPDFObject& o, int32_t id) {
         const TzoPDFDictObject* d = o.AsDict();
         return d->Count() == 2 && d->GetValue("/Id")->AsInteger()->Value() == id &&
                d->GetValue("/Type")->AsName()->Text() == LongText(id);
       }},
      {"Stream", sizeof(TzoPDFStreamObject),
       [](int32_t id) {
         auto dict = std::make_unique<TzoPDFDictObject>();
         dict->AddInteger("/Length", id);
         return std::make_unique<TzoPDFStreamObject>(std::move(dict));
       },
       [](const TzoPDFObject& o, int32_t id) {
         return o.AsStream()->Dict()->GetValue("/Length")->AsInteger()->Value() == id;
       }},
      {"Null", sizeof(TzoPDFNullObject),
       [](int32_t) { return std::make_unique<TzoPDFNullObject>(); },
       [](const TzoPDFObject& o, int32_t) { return o.IsNull(); }},
      {"Reference", sizeof(TzoPDFIndirectReference),
       [](int32_t id) { return std::make_unique<TzoPDFIndirectReference>(1, id, 7); },
       [](const TzoPDFObject& o, int32_t id) {
         return o.AsReference()->ObjectNumber() == id && o.AsReference()->Generation() == 7;
       }},
      {"Indirect", sizeof(TzoPDFIndirectObject),
       [](int32_t id) {
         return std::make_unique<TzoPDFIndirectObject>(1, id, 0,
                                                       std::make_unique<TzoPDFIntegerObject>(-id));
       },
       [](const TzoPDFObject& o, int32_t id) {
         return o.AsIndirect()->ObjectNumber() == id &&
                o.AsIndirect()->DirectObject()->AsInteger()->Value() == -id;
       }},
  };
  return kinds;
}

// A live block: either a node of kind kind, or a raw pool block of size bytes filled with id.
struct Live {
  TzoPDFObjectPtr node;
  void* raw = nullptr;
  std::size_t kind = 0;
  std::size_t size = 0;
  int32_t id = 0;
  uintptr_t Address() const { return reinterpret_cast<uintptr_t>(node ? node.get() : raw); }
};

bool Holds(const Live& l) {
  if (l.node) return Kinds()[l.kind].holds(*l.node, l.id);
  const auto* bytes = static_cast<const unsigned char*>(l.raw);
  return std::all_of(bytes, bytes + l.size,
                     [&](unsigned char b) { return b == static_cast<unsigned char>(l.id); });
}

void FreeLive(Live& l) {
  l.node.reset();
  if (l.raw) ObjectPoolFree(l.raw, l.size);
  l.raw = nullptr;
}

// Every live block still holds its value, is aligned and overlaps no other.
void ExpectSound(std::vector<Live>& live) {
  for (const Live& l : live) {
    ASSERT_TRUE(Holds(l)) << "block " << l.id << " changed";
    ASSERT_EQ(l.Address() % alignof(std::max_align_t), 0u) << "block " << l.id;
  }
  std::vector<std::pair<uintptr_t, std::size_t>> spans;
  for (const Live& l : live)
    spans.emplace_back(l.Address(), l.size);
  std::sort(spans.begin(), spans.end());
  for (size_t i = 1; i < spans.size(); ++i)
    ASSERT_LE(spans[i - 1].first + spans[i - 1].second, spans[i].first) << "blocks overlap";
}

// Makes count nodes of the 16-byte and 48-byte classes (Integer, Name) with values from first.
std::vector<TzoPDFObjectPtr> MakeNodes(int32_t first, int32_t count) {
  std::vector<TzoPDFObjectPtr> nodes;
  nodes.reserve(static_cast<size_t>(count));
  for (int32_t i = 0; i < count; ++i)
    nodes.push_back(Kinds()[static_cast<size_t>(i % 2 == 0 ? 1 : 5)].make(first + i));
  return nodes;
}

bool AllHold(const std::vector<TzoPDFObjectPtr>& nodes, int32_t first) {
  for (size_t i = 0; i < nodes.size(); ++i) {
    const int32_t id = first + static_cast<int32_t>(i);
    if (!Kinds()[i % 2 == 0 ? 1 : 5].holds(*nodes[i], id)) return false;
  }
  return true;
}

}  // namespace

// Nodes of every kind and raw blocks of every size up to past the largest class, made and freed in
// a random order: live blocks never share memory or lose their values, and freed memory comes back.
TEST(ObjectPool, MixedKindsAndSizesStaySoundAndReuseMemory) {
  std::mt19937 random(20261211);
  std::vector<Live> live;
  int32_t nextId = 1;
  std::vector<uintptr_t> freedAddresses;
  std::size_t reused = 0;
  for (int step = 0; step < 60000; ++step) {
    const bool make = live.empty() || random() % 100 < 55;
    if (make) {
      Live l;
      l.id = nextId++;
      if (random() % 4 == 0) {
        l.size = 1 + random() % (ObjectPoolLargestSize + 80);
        l.raw = ObjectPoolAllocate(l.size);
        std::memset(l.raw, static_cast<unsigned char>(l.id), l.size);
      } else {
        l.kind = random() % Kinds().size();
        l.size = Kinds()[l.kind].size;
        l.node = Kinds()[l.kind].make(l.id);
      }
      if (std::find(freedAddresses.begin(), freedAddresses.end(), l.Address()) !=
          freedAddresses.end())
        ++reused;
      live.push_back(std::move(l));
    } else {
      const size_t i = random() % live.size();
      ASSERT_TRUE(Holds(live[i])) << "block " << live[i].id << " changed";
      if (freedAddresses.size() < 64) freedAddresses.push_back(live[i].Address());
      FreeLive(live[i]);
      live[i] = std::move(live.back());
      live.pop_back();
    }
    if (step % 10000 == 0) ExpectSound(live);
  }
  ExpectSound(live);
  for (Live& l : live)
    FreeLive(l);
  if (ObjectPoolEnabled()) {
    EXPECT_GT(reused, 0u) << "no freed block was handed out again";
  }

  // The node freed last is the next one of its class handed out.
  auto a = std::make_unique<TzoPDFIntegerObject>(1);
  TzoPDFObject* const freed = a.get();
  a.reset();
  auto b = std::make_unique<TzoPDFBooleanObject>(true);
  if (ObjectPoolEnabled()) {
    EXPECT_EQ(b.get(), freed);
  }
}

// The same work again and again on one thread takes no more memory than its first round.
TEST(ObjectPool, RepeatedDocumentsOnOneThreadReuseTheirMemory) {
  auto round = [] {
    std::vector<Live> live;
    for (int32_t id = 0; id < 30000; ++id) {
      Live l;
      l.kind = static_cast<size_t>(id) % Kinds().size();
      l.id = id;
      l.node = Kinds()[l.kind].make(id);
      live.push_back(std::move(l));
    }
    for (size_t i = 0; i < live.size(); i += 3)  // freed out of the order they were made
      live[i].node.reset();
    live.clear();
  };
  round();
  const std::size_t afterFirst = ObjectPoolReservedBytes();
  for (int i = 0; i < 5; ++i)
    round();
  EXPECT_EQ(ObjectPoolReservedBytes(), afterFirst);
  if (ObjectPoolEnabled()) {
    EXPECT_GT(afterFirst, 30000u * 16);
  }
}

// Nodes made here are freed on a thread that keeps running, round after round: each node keeps
// its value until it is freed, and the memory stays bounded (the freeing thread hands back what
// it cannot use instead of hoarding it).
TEST(ObjectPool, NodesFreedOnAnotherLiveThreadComeBack) {
  constexpr int32_t kNodes = 20000;
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<TzoPDFObjectPtr> handed;
  int32_t handedFirst = 0;
  bool busy = false;
  bool done = false;
  bool intact = true;
  std::thread freer([&] {
    std::unique_lock<std::mutex> lock(mutex);
    while (true) {
      changed.wait(lock, [&] { return done || !handed.empty(); });
      if (handed.empty()) return;
      std::vector<TzoPDFObjectPtr> nodes = std::move(handed);
      handed.clear();
      busy = true;
      lock.unlock();
      if (!AllHold(nodes, handedFirst)) intact = false;
      nodes.clear();
      lock.lock();
      busy = false;
      changed.notify_all();
    }
  });
  std::size_t afterSecond = 0;
  for (int32_t r = 0; r < 8; ++r) {
    std::vector<TzoPDFObjectPtr> nodes = MakeNodes(r * kNodes, kNodes);
    std::unique_lock<std::mutex> lock(mutex);
    handed = std::move(nodes);
    handedFirst = r * kNodes;
    changed.notify_all();
    changed.wait(lock, [&] { return handed.empty() && !busy; });
    if (r == 1) afterSecond = ObjectPoolReservedBytes();
  }
  {
    std::lock_guard<std::mutex> lock(mutex);
    done = true;
    changed.notify_all();
  }
  freer.join();
  EXPECT_TRUE(intact);
  // Each round needs what the first one did, and the freeing thread keeps a few hundred blocks
  // of each class; had freed nodes stayed with it, every round would take new slabs.
  EXPECT_LE(ObjectPoolReservedBytes(), afterSecond + 2 * ObjectPoolSlabSize);
}

// What a thread holds when it ends (its lists, also blocks freed by its last destructors) is
// reused by others; nodes made there and freed here, or freed during static destruction, are safe.
TEST(ObjectPool, NodesOfAnEndedThreadAreReused) {
  constexpr int32_t kNodes = 8000;
  std::vector<TzoPDFObjectPtr> madeThere;
  std::thread maker([&] {
    madeThere = MakeNodes(0, kNodes);
    std::vector<TzoPDFObjectPtr> freedThere = MakeNodes(kNodes, kNodes);
    ASSERT_TRUE(AllHold(freedThere, kNodes));
  });
  maker.join();
  ASSERT_TRUE(AllHold(madeThere, 0));
  std::size_t before = ObjectPoolReservedBytes();
  std::vector<TzoPDFObjectPtr> madeHere = MakeNodes(2 * kNodes, kNodes);
  EXPECT_TRUE(AllHold(madeThere, 0));
  EXPECT_LE(ObjectPoolReservedBytes(), before + ObjectPoolSlabSize);
  madeThere.clear();
  madeHere.clear();

  // Short threads one after another, each with fewer nodes than it keeps for itself: the next
  // one takes over what the last one left, and the uncut rest of its slab. The nodes held here
  // first use up what earlier work left in the pool.
  std::vector<TzoPDFObjectPtr> drain = MakeNodes(0, 200000);
  auto shortThread = [](std::vector<TzoPDFObjectPtr>* kept) {
    std::thread t([kept] {
      std::vector<TzoPDFObjectPtr> nodes =
          MakeNodes(kept ? static_cast<int32_t>(kept->size()) : 0, 600);
      if (kept) std::move(nodes.begin(), nodes.end(), std::back_inserter(*kept));
    });
    t.join();
  };
  shortThread(nullptr);
  before = ObjectPoolReservedBytes();
  for (int i = 0; i < 20; ++i)
    shortThread(nullptr);
  EXPECT_LE(ObjectPoolReservedBytes(), before + ObjectPoolSlabSize);
  std::vector<TzoPDFObjectPtr> outlived;
  before = ObjectPoolReservedBytes();
  for (int i = 0; i < 20; ++i)
    shortThread(&outlived);
  const std::size_t needed = 20 * 300 * (sizeof(TzoPDFIntegerObject) + sizeof(TzoPDFNameObject));
  EXPECT_LE(ObjectPoolReservedBytes(), before + needed + 2 * ObjectPoolSlabSize);
  EXPECT_TRUE(AllHold(outlived, 0));
  outlived.clear();
  drain.clear();

  // A thread-local holder made before the thread's first node is destroyed after the pool has
  // taken the thread's lists: its nodes are freed on the shared path.
  struct Holder {
    std::vector<TzoPDFObjectPtr> nodes;
  };
  std::thread late([] {
    static thread_local Holder holder;
    holder.nodes = MakeNodes(0, kNodes);
  });
  late.join();
  before = ObjectPoolReservedBytes();
  madeHere = MakeNodes(0, kNodes);
  EXPECT_TRUE(AllHold(madeHere, 0));
  EXPECT_LE(ObjectPoolReservedBytes(), before + ObjectPoolSlabSize);

  // Freed after this thread's own lists are gone, when the program ends.
  static std::vector<TzoPDFObjectPtr> atExit;
  atExit = std::move(madeHere);
}

// Nodes larger than the largest class come from the heap and leave the slabs alone.
TEST(ObjectPool, LargerNodesComeFromTheHeap) {
  struct LargeNode : TzoPDFNullObject {
    unsigned char payload[2 * ObjectPoolLargestSize];
  };
  static_assert(sizeof(LargeNode) > ObjectPoolLargestSize);
  (void)MakeNodes(0, 1);  // the slab of this thread is there already
  const std::size_t before = ObjectPoolReservedBytes();
  std::vector<std::unique_ptr<TzoPDFObject>> nodes;
  for (int i = 0; i < 2000; ++i) {
    auto n = std::make_unique<LargeNode>();
    std::memset(n->payload, i & 0xFF, sizeof n->payload);
    nodes.push_back(std::move(n));
  }
  for (size_t i = 0; i < nodes.size(); ++i) {
    const auto* n = static_cast<const LargeNode*>(nodes[i].get());
    EXPECT_EQ(n->payload[sizeof n->payload - 1], i & 0xFF);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(n) % alignof(std::max_align_t), 0u);
  }
  nodes.clear();  // through the base class: the size of the larger kind reaches the heap
  void* raw = ObjectPoolAllocate(ObjectPoolSlabSize * 2);
  std::memset(raw, 0xAB, ObjectPoolSlabSize * 2);
  ObjectPoolFree(raw, ObjectPoolSlabSize * 2);
  ObjectPoolFree(nullptr, 16);
  EXPECT_EQ(ObjectPoolReservedBytes(), before);
}
