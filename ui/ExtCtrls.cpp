#include "ui/ExtCtrls.h"

#include <algorithm>
#include <cstdlib>

namespace ui {

TPanel::TPanel(rtl::TComponent* owner) : TWinControl(owner) {}

void TPanel::SetBevelOuter(TBevelCut v) {
  if (v == bevelOuter_) return;
  bevelOuter_ = v;
  Changed(TChange::Style);
}

TRadioGroup::TRadioGroup(rtl::TComponent* owner) : TItemListControl(owner) {
  SetDefaultColor(clBtnFace);
}

void TRadioGroup::SetColumns(int columns) {
  columns = std::clamp(columns, 1, 16);
  if (columns == columns_) return;
  columns_ = columns;
  Changed(TChange::Items);
}

void TRadioGroup::SetItemIndex(int index) {
  int before = ItemIndex();
  TItemListControl::SetItemIndex(index);
  // As the class library: checking the item's button fires OnClick, also when done in code.
  if (ItemIndex() != before && !ClicksDisabled()) Click();
}

TRect TRadioGroup::ButtonRect(int index) const {
  int count = std::max(1, Items().Count());
  int perColumn = (count + columns_ - 1) / columns_;
  int textHeight = std::abs(Font().Height());
  int buttonWidth = (Width() - 10) / columns_;
  int space = Height() - textHeight - 5;
  int buttonHeight = std::max(0, space / perColumn);
  int topMargin = textHeight + 1 + (space % perColumn) / 2;
  int left = (index / perColumn) * buttonWidth + 8;
  int top = (index % perColumn) * buttonHeight + topMargin;
  return {left, top, left + buttonWidth, top + buttonHeight};
}

TSpeedButton::TSpeedButton(rtl::TComponent* owner) : TControl(owner) {}

}  // namespace ui
