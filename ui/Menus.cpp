#include "ui/Menus.h"

#include <algorithm>

#include "ui/Controls.h"
#include "ui/Forms.h"

namespace ui {

TMenuItem::TMenuItem(rtl::TComponent* owner) : rtl::TComponent(owner) {}

TMenuItem::~TMenuItem() {
  Destroying();
  for (TMenuItem* child : items_)
    child->parent_ = nullptr;
  std::vector<TMenuItem*> none;
  items_.swap(none);
  if (parent_) {
    TMenuItem* p = parent_;
    parent_ = nullptr;
    p->items_.erase(std::remove(p->items_.begin(), p->items_.end(), this), p->items_.end());
    p->Changed();
  }
}

void TMenuItem::SetCaption(std::string caption) {
  if (caption == caption_) return;
  caption_ = std::move(caption);
  Changed();
}

void TMenuItem::SetEnabled(bool v) {
  if (v == enabled_) return;
  enabled_ = v;
  Changed();
}

void TMenuItem::SetVisible(bool v) {
  if (v == visible_) return;
  visible_ = v;
  Changed();
}

void TMenuItem::SetChecked(bool v) {
  if (v == checked_) return;
  checked_ = v;
  Changed();
}

TMenuItem* TMenuItem::Items(int index) const {
  if (index < 0 || index >= Count())
    throw rtl::EListError(rtl::Format("List index out of bounds (%d)", index));
  return items_[static_cast<size_t>(index)];
}

void TMenuItem::Add(TMenuItem* item) {
  Insert(Count(), item);
}

void TMenuItem::Insert(int index, TMenuItem* item) {
  if (!item) return;
  for (TMenuItem* p = this; p; p = p->parent_)
    if (p == item) throw rtl::Exception("A menu item cannot hold itself");
  if (item->parent_) item->parent_->Remove(item);
  if (index < 0 || index > Count())
    throw rtl::EListError(rtl::Format("List index out of bounds (%d)", index));
  items_.insert(items_.begin() + index, item);
  item->parent_ = this;
  Changed();
}

void TMenuItem::Remove(TMenuItem* item) {
  auto it = std::find(items_.begin(), items_.end(), item);
  if (it == items_.end()) return;
  items_.erase(it);
  item->parent_ = nullptr;
  Changed();
}

void TMenuItem::Delete(int index) {
  Remove(Items(index));
}

int TMenuItem::MenuIndex() const {
  if (!parent_) return -1;
  auto it = std::find(parent_->items_.begin(), parent_->items_.end(), this);
  return static_cast<int>(it - parent_->items_.begin());
}

TMenu* TMenuItem::GetParentMenu() const {
  const TMenuItem* root = this;
  while (root->parent_)
    root = root->parent_;
  return root->menu_;
}

void TMenuItem::Click() {
  if (OnClick) OnClick(this);
}

void TMenuItem::Changed() {
  if (ComponentState() & rtl::csDestroying) return;
  if (TMenu* m = GetParentMenu()) m->Changed();
}

TMenu::TMenu(rtl::TComponent* owner) : rtl::TComponent(owner), items_(nullptr) {
  items_.menu_ = this;
}

TMainMenu::~TMainMenu() {
  if (form_) {
    TForm* f = form_;
    form_ = nullptr;
    f->SetMenu(nullptr);
  }
}

void TMainMenu::Changed() {
  if (form_ && !(ComponentState() & rtl::csDestroying)) form_->MenuChanged();
}

void TPopupMenu::Popup(int x, int y) {
  if (OnPopup) OnPopup(this);
  if (TBackend* b = Application().Backend()) b->Popup(*this, {x, y});
}

void TPopupMenu::Notification(rtl::TComponent* component, rtl::TOperation operation) {
  TMenu::Notification(component, operation);
  if (operation == rtl::TOperation::opRemove && component == popupComponent_)
    popupComponent_ = nullptr;
}

}  // namespace ui
