// Panels, radio groups and speed buttons.
#pragma once

#include <string>

#include "ui/Controls.h"
#include "ui/StdCtrls.h"

namespace ui {

enum TBevelCut { bvNone, bvLowered, bvRaised };

// A container with a window of its own; its children are placed in its client area.
class TPanel : public TWinControl {
 public:
  explicit TPanel(rtl::TComponent* owner);
  // Kept for the forms; a panel's caption is not drawn.
  const std::string& Caption() const { return GetText(); }
  void SetCaption(std::string caption) { SetText(std::move(caption)); }
  TBevelCut BevelOuter() const { return bevelOuter_; }
  void SetBevelOuter(TBevelCut v);
  TBevelCut BevelInner() const { return bevelInner_; }
  void SetBevelInner(TBevelCut v) { bevelInner_ = v; }

 private:
  TBevelCut bevelOuter_ = bvRaised;
  TBevelCut bevelInner_ = bvNone;
};

// A group box of radio buttons, one per item, in Columns columns.
class TRadioGroup : public TItemListControl {
 public:
  explicit TRadioGroup(rtl::TComponent* owner);
  const std::string& Caption() const { return GetText(); }
  void SetCaption(std::string caption) { SetText(std::move(caption)); }
  int Columns() const { return columns_; }
  void SetColumns(int columns);
  // As the class library: a change of ItemIndex checks that item's button, which fires OnClick,
  // also when made in code.
  void SetItemIndex(int index) override;
  // The user clicking the button of an item.
  void SelectItem(int index) { SetItemIndex(index); }
  // Where the button of an item sits inside the group (columns filled top to bottom).
  TRect ButtonRect(int index) const;

 private:
  int columns_ = 1;
};

// A flat button drawn on its parent; it takes no focus and has no modal result.
class TSpeedButton : public TControl {
 public:
  explicit TSpeedButton(rtl::TComponent* owner);
  const std::string& Caption() const { return GetText(); }
  void SetCaption(std::string caption) { SetText(std::move(caption)); }
  bool Flat() const { return flat_; }
  void SetFlat(bool v) { flat_ = v; }

 private:
  bool flat_ = false;
};

}  // namespace ui
