// The list view in report mode and the page control with its tab sheets.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ui/Controls.h"

namespace ui {

class TListView;
class TPageControl;

class TListColumn {
 public:
  explicit TListColumn(TListView* owner) : owner_(owner) {}
  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string caption);
  int Width() const { return width_; }
  void SetWidth(int width);
  TAlignment Alignment() const { return alignment_; }
  void SetAlignment(TAlignment v);
  int Index() const;

 private:
  TListView* owner_;
  std::string caption_;
  int width_ = 50;
  TAlignment alignment_ = taLeftJustify;
};

class TListColumns {
 public:
  explicit TListColumns(TListView* owner) : owner_(owner) {}
  TListColumn* Add();
  int Count() const { return static_cast<int>(columns_.size()); }
  TListColumn* Items(int index) const;  // EListError for a bad index
  TListColumn* operator[](int index) const { return Items(index); }
  void Clear();

 private:
  friend class TListColumn;
  TListView* owner_;
  std::vector<std::unique_ptr<TListColumn>> columns_;
};

// One row: Caption is the first column, SubItems the further ones.
class TListItem {
 public:
  explicit TListItem(TListView* owner);
  TListItem(const TListItem&) = delete;
  TListItem& operator=(const TListItem&) = delete;
  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string caption);
  TControlStrings& SubItems() { return subItems_; }
  const TControlStrings& SubItems() const { return subItems_; }
  bool Selected() const { return selected_; }
  void SetSelected(bool selected);
  int Index() const;
  TListView* ListView() const { return owner_; }
  void* Data() const { return data_; }
  void SetData(void* data) { data_ = data; }
  // The text of column 0 (the caption) or of a further column ("" past the sub-items).
  std::string ColumnText(int column) const;

 private:
  friend class TListView;
  void Changed();
  TListView* owner_;
  std::string caption_;
  TControlStrings subItems_;
  bool selected_ = false;
  void* data_ = nullptr;
};

class TListItems {
 public:
  explicit TListItems(TListView* owner) : owner_(owner) {}
  TListItem* Add();
  TListItem* Insert(int index);  // EListError for a bad index
  int Count() const { return static_cast<int>(items_.size()); }
  TListItem* Item(int index) const;  // EListError for a bad index
  TListItem* operator[](int index) const { return Item(index); }
  void Delete(int index);
  void Clear();
  void BeginUpdate() { ++updating_; }
  void EndUpdate();
  int IndexOf(const TListItem* item) const;

 private:
  friend class TListView;
  friend class TListItem;
  TListView* owner_;
  std::vector<std::unique_ptr<TListItem>> items_;
  int updating_ = 0;
};

enum TViewStyle { vsIcon, vsSmallIcon, vsList, vsReport };

// The row's text colour: textColor starts as the list's font colour; the handler may change it.
using TListViewCustomDrawItemEvent =
    std::function<void(rtl::TObject* sender, TListItem* item, TColor& textColor)>;

// A list of rows with columns (report view). One row at a time is selected.
class TListView : public TWinControl {
 public:
  explicit TListView(rtl::TComponent* owner);
  ~TListView() override;

  TViewStyle ViewStyle() const { return viewStyle_; }
  void SetViewStyle(TViewStyle v);
  bool GridLines() const { return gridLines_; }
  void SetGridLines(bool v);
  bool RowSelect() const { return rowSelect_; }
  void SetRowSelect(bool v);
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool v) { readOnly_ = v; }
  bool HideSelection() const { return hideSelection_; }
  void SetHideSelection(bool v) { hideSelection_ = v; }

  TListColumns& Columns() { return columns_; }
  const TListColumns& Columns() const { return columns_; }
  TListItems& Items() { return items_; }
  const TListItems& Items() const { return items_; }

  // The selected row, or null; selecting one unselects the others.
  TListItem* Selected() const;
  void SetSelected(TListItem* item);
  int ItemIndex() const;
  void SetItemIndex(int index);
  // The user clicking a row: it becomes selected, then OnClick.
  void SelectItem(int index);

  // The columns' widths scale with the list.
  void ChangeScale(int m, int d) override;

  // The text colour of a row as drawn: the font colour, as OnCustomDrawItem leaves it.
  TColor ItemTextColor(int index);
  TListViewCustomDrawItemEvent OnCustomDrawItem;

 private:
  friend class TListItem;
  friend class TListItems;
  friend class TListColumn;
  friend class TListColumns;
  void ItemChanged(TListItem* item);
  void ListChanged();
  TViewStyle viewStyle_ = vsIcon;
  bool gridLines_ = false;
  bool rowSelect_ = false;
  bool readOnly_ = false;
  bool hideSelection_ = true;
  TListColumns columns_;
  TListItems items_;
};

// One page of a page control; its children are placed in the page's area.
class TTabSheet : public TWinControl {
 public:
  explicit TTabSheet(rtl::TComponent* owner);
  ~TTabSheet() override;
  const std::string& Caption() const { return GetText(); }
  void SetCaption(std::string caption) { SetText(std::move(caption)); }
  TPageControl* PageControl() const { return pageControl_; }
  // Puts the sheet at the end of the control's pages (null takes it out).
  void SetPageControl(TPageControl* pageControl);
  int PageIndex() const;
  void SetParent(TWinControl* parent) override;

 private:
  friend class TPageControl;
  TPageControl* pageControl_ = nullptr;
};

// Tabs over pages. A sheet's area is the control less 4 pixels a side and 24 for the tabs.
class TPageControl : public TWinControl {
 public:
  explicit TPageControl(rtl::TComponent* owner);
  ~TPageControl() override;
  int PageCount() const { return static_cast<int>(pages_.size()); }
  TTabSheet* Pages(int index) const;  // EListError for a bad index
  TTabSheet* ActivePage() const { return activePage_; }
  // In code: no event fires.
  void SetActivePage(TTabSheet* page);
  int ActivePageIndex() const;
  void SetActivePageIndex(int index);
  // The user clicking a tab: OnChanging (may refuse), the page, then OnChange.
  void SelectPage(int index);
  rtl::TNotifyEvent OnChange;
  std::function<void(rtl::TObject* sender, bool& allowChange)> OnChanging;
  static constexpr int kTabHeight = 24;
  static constexpr int kBorder = 4;
  void SetBounds(int left, int top, int width, int height) override;

 private:
  friend class TTabSheet;
  void AddPage(TTabSheet* page);
  void RemovePage(TTabSheet* page);
  void PlaceSheet(TTabSheet* page);
  std::vector<TTabSheet*> pages_;
  TTabSheet* activePage_ = nullptr;
};

}  // namespace ui
