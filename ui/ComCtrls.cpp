#include "ui/ComCtrls.h"

#include <algorithm>

namespace ui {

namespace {
[[noreturn]] void BadIndex(int index) {
  throw rtl::EListError(rtl::Format("List index out of bounds (%d)", index));
}
}  // namespace

// ---- columns ----

void TListColumn::SetCaption(std::string caption) {
  caption_ = std::move(caption);
  owner_->ListChanged();
}

void TListColumn::SetWidth(int width) {
  width_ = width;
  owner_->ListChanged();
}

void TListColumn::SetAlignment(TAlignment v) {
  alignment_ = v;
  owner_->ListChanged();
}

int TListColumn::Index() const {
  const auto& cols = owner_->Columns().columns_;
  for (size_t i = 0; i < cols.size(); ++i)
    if (cols[i].get() == this) return static_cast<int>(i);
  return -1;
}

TListColumn* TListColumns::Add() {
  columns_.push_back(std::make_unique<TListColumn>(owner_));
  owner_->ListChanged();
  return columns_.back().get();
}

TListColumn* TListColumns::Items(int index) const {
  if (index < 0 || index >= Count()) BadIndex(index);
  return columns_[static_cast<size_t>(index)].get();
}

void TListColumns::Clear() {
  columns_.clear();
  owner_->ListChanged();
}

// ---- items ----

TListItem::TListItem(TListView* owner)
    : owner_(owner), subItems_([this](TStringsOp op, int) {
        if (op == soEndUpdate || !subItems_.Updating()) Changed();
      }) {}

void TListItem::SetCaption(std::string caption) {
  if (caption == caption_) return;
  caption_ = std::move(caption);
  Changed();
}

void TListItem::SetSelected(bool selected) {
  if (selected == selected_) return;
  if (selected) {
    for (auto& other : owner_->Items().items_) {
      if (other.get() != this && other->selected_) {
        other->selected_ = false;
        other->Changed();
      }
    }
  }
  selected_ = selected;
  Changed();
}

int TListItem::Index() const {
  return owner_->Items().IndexOf(this);
}

std::string TListItem::ColumnText(int column) const {
  if (column == 0) return caption_;
  if (column < 1 || column > subItems_.Count()) return std::string();
  return subItems_.Strings(column - 1);
}

void TListItem::Changed() {
  owner_->ItemChanged(this);
}

TListItem* TListItems::Add() {
  return Insert(Count());
}

TListItem* TListItems::Insert(int index) {
  if (index < 0 || index > Count()) BadIndex(index);
  auto item = std::make_unique<TListItem>(owner_);
  TListItem* raw = item.get();
  items_.insert(items_.begin() + index, std::move(item));
  owner_->ListChanged();
  return raw;
}

TListItem* TListItems::Item(int index) const {
  if (index < 0 || index >= Count()) BadIndex(index);
  return items_[static_cast<size_t>(index)].get();
}

void TListItems::Delete(int index) {
  if (index < 0 || index >= Count()) BadIndex(index);
  items_.erase(items_.begin() + index);
  owner_->ListChanged();
}

void TListItems::Clear() {
  if (items_.empty()) return;
  items_.clear();
  owner_->ListChanged();
}

void TListItems::EndUpdate() {
  if (updating_ > 0 && --updating_ == 0) owner_->ListChanged();
}

int TListItems::IndexOf(const TListItem* item) const {
  for (size_t i = 0; i < items_.size(); ++i)
    if (items_[i].get() == item) return static_cast<int>(i);
  return -1;
}

// ---- TListView ----

TListView::TListView(rtl::TComponent* owner) : TWinControl(owner), columns_(this), items_(this) {
  SetDefaultColor(clWindow);
}

TListView::~TListView() {
  // The rows go before the control's window.
  Unrealize();
}

void TListView::SetViewStyle(TViewStyle v) {
  viewStyle_ = v;
  Changed(TChange::Style);
}

void TListView::SetGridLines(bool v) {
  gridLines_ = v;
  Changed(TChange::Style);
}

void TListView::SetRowSelect(bool v) {
  rowSelect_ = v;
  Changed(TChange::Style);
}

TListItem* TListView::Selected() const {
  for (const auto& item : items_.items_)
    if (item->Selected()) return item.get();
  return nullptr;
}

void TListView::SetSelected(TListItem* item) {
  if (item) {
    item->SetSelected(true);
    return;
  }
  if (TListItem* s = Selected()) s->SetSelected(false);
}

int TListView::ItemIndex() const {
  TListItem* s = Selected();
  return s ? s->Index() : -1;
}

void TListView::SetItemIndex(int index) {
  SetSelected(index >= 0 && index < items_.Count() ? items_.Item(index) : nullptr);
}

void TListView::SelectItem(int index) {
  SetItemIndex(index);
  Click();
}

TColor TListView::ItemTextColor(int index) {
  TListItem* item = items_.Item(index);
  TColor color = Font().Color();
  if (OnCustomDrawItem) OnCustomDrawItem(this, item, color);
  return color;
}

void TListView::ItemChanged(TListItem* item) {
  if (items_.updating_ > 0) return;
  if (TControlPeer* p = Peer()) p->ItemChanged(item->Index());
}

void TListView::ListChanged() {
  if (items_.updating_ > 0) return;
  Changed(TChange::ListItems);
}

// ---- TTabSheet, TPageControl ----

TTabSheet::TTabSheet(rtl::TComponent* owner) : TWinControl(owner) {}

TTabSheet::~TTabSheet() {
  if (pageControl_) pageControl_->RemovePage(this);
  pageControl_ = nullptr;
}

void TTabSheet::SetPageControl(TPageControl* pageControl) {
  SetParent(pageControl);
}

void TTabSheet::SetParent(TWinControl* parent) {
  if (parent == Parent()) return;
  if (pageControl_) {
    TPageControl* old = pageControl_;
    pageControl_ = nullptr;
    Unrealize();
    old->RemovePage(this);
  }
  auto* pc = dynamic_cast<TPageControl*>(parent);
  if (pc) {
    pageControl_ = pc;
    pc->AddPage(this);
  }
  TWinControl::SetParent(parent);
}

int TTabSheet::PageIndex() const {
  if (!pageControl_) return -1;
  for (int i = 0; i < pageControl_->PageCount(); ++i)
    if (pageControl_->Pages(i) == this) return i;
  return -1;
}

TPageControl::TPageControl(rtl::TComponent* owner) : TWinControl(owner) {}

TPageControl::~TPageControl() {
  for (TTabSheet* p : pages_)
    p->pageControl_ = nullptr;
  pages_.clear();
  activePage_ = nullptr;
}

TTabSheet* TPageControl::Pages(int index) const {
  if (index < 0 || index >= PageCount()) BadIndex(index);
  return pages_[static_cast<size_t>(index)];
}

void TPageControl::AddPage(TTabSheet* page) {
  pages_.push_back(page);
  PlaceSheet(page);
  page->SetVisible(false);
  if (!activePage_) SetActivePage(page);
}

void TPageControl::RemovePage(TTabSheet* page) {
  auto it = std::find(pages_.begin(), pages_.end(), page);
  if (it == pages_.end()) return;
  size_t index = static_cast<size_t>(it - pages_.begin());
  pages_.erase(it);
  if (activePage_ == page) {
    activePage_ = nullptr;
    if (!pages_.empty()) SetActivePage(pages_[std::min(index, pages_.size() - 1)]);
  }
  Changed(TChange::ItemIndex);
}

void TPageControl::PlaceSheet(TTabSheet* page) {
  page->SetBounds(kBorder, kTabHeight, std::max(0, Width() - 2 * kBorder),
                  std::max(0, Height() - kTabHeight - kBorder));
}

void TPageControl::SetBounds(int left, int top, int width, int height) {
  TWinControl::SetBounds(left, top, width, height);
  for (TTabSheet* p : pages_)
    PlaceSheet(p);
}

void TPageControl::SetActivePage(TTabSheet* page) {
  if (page && page->PageControl() != this) return;
  if (page == activePage_) return;
  TTabSheet* old = activePage_;
  activePage_ = page;
  if (page) page->SetVisible(true);
  if (old) old->SetVisible(false);
  Changed(TChange::ItemIndex);
}

int TPageControl::ActivePageIndex() const {
  return activePage_ ? activePage_->PageIndex() : -1;
}

void TPageControl::SetActivePageIndex(int index) {
  SetActivePage(index >= 0 && index < PageCount() ? pages_[static_cast<size_t>(index)] : nullptr);
}

void TPageControl::SelectPage(int index) {
  if (index < 0 || index >= PageCount() || index == ActivePageIndex()) return;
  bool allow = true;
  if (OnChanging) OnChanging(this, allow);
  if (!allow) {
    Changed(TChange::ItemIndex);  // the window goes back to the active tab
    return;
  }
  SetActivePageIndex(index);
  if (OnChange) OnChange(this);
}

}  // namespace ui

namespace ui {

void TListView::ChangeScale(int m, int d) {
  TWinControl::ChangeScale(m, d);
  if (m == d || d <= 0) return;
  for (int i = 0; i < columns_.Count(); ++i) {
    TListColumn* c = columns_[i];
    c->SetWidth(static_cast<int>((static_cast<long long>(c->Width()) * m + d / 2) / d));
  }
}

}  // namespace ui
