// Owners, free notifications and loading of components.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/RtlClasses.h"

using namespace rtl;

namespace {
class Watcher : public TComponent {
 public:
  using TComponent::TComponent;
  void Notification(TComponent* c, TOperation op) override {
    TComponent::Notification(c, op);
    if (op == TOperation::opRemove) removed.push_back(reinterpret_cast<uintptr_t>(c));
  }
  std::vector<uintptr_t> removed;
};
}  // namespace

TEST(Component, OwnerListsAndFreeNotifications) {
  Watcher owner;
  auto a = std::make_unique<Watcher>(&owner);
  auto b = std::make_unique<Watcher>(&owner);
  Watcher outsider;
  EXPECT_EQ(owner.ComponentCount(), 2);
  EXPECT_EQ(owner.Components(1), b.get());
  EXPECT_THROW(owner.Components(2), EListError);

  outsider.FreeNotification(a.get());
  const uintptr_t gone = reinterpret_cast<uintptr_t>(a.get());
  a.reset();
  // The partner, the owner and (through the owner) the owner's other components hear of it.
  EXPECT_EQ(outsider.removed, std::vector<uintptr_t>{gone});
  EXPECT_EQ(owner.removed, std::vector<uintptr_t>{gone});
  EXPECT_EQ(b->removed, std::vector<uintptr_t>{gone});
  EXPECT_EQ(owner.ComponentCount(), 1);

  // A partner that went first is not called later; both directions are cleaned up.
  auto c = std::make_unique<Watcher>();
  c->FreeNotification(&outsider);
  c.reset();
  outsider.removed.clear();
  auto d = std::make_unique<Watcher>();
  d->FreeNotification(&outsider);
  d->RemoveFreeNotification(&outsider);
  d.reset();
  EXPECT_TRUE(outsider.removed.empty());
}

TEST(Component, AnOwnerThatGoesFirstLeavesItsComponentsWithoutOwner) {
  auto owner = std::make_unique<TComponent>();
  TComponent child(owner.get());
  owner.reset();
  EXPECT_EQ(child.Owner(), nullptr);
  child.SetDesigning(true);
  EXPECT_TRUE(child.ComponentState() & csDesigning);
  child.Loaded();
  EXPECT_FALSE(child.ComponentState() & csLoading);
}
