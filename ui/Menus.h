// Main menus, pop-up menus and their items.
#pragma once

#include <string>
#include <vector>

#include "platform/RtlClasses.h"
#include "ui/Graphics.h"

namespace ui {

class TMenu;
class TControl;
class TForm;

// A menu entry; the caption "-" makes a separator. Sub-items are linked, not owned: the form holds
// its items as members, and an item that goes leaves its parent.
class TMenuItem : public rtl::TComponent {
 public:
  explicit TMenuItem(rtl::TComponent* owner);
  ~TMenuItem() override;

  const std::string& Caption() const { return caption_; }
  void SetCaption(std::string caption);
  bool IsLine() const { return caption_ == "-"; }
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool v);
  bool Visible() const { return visible_; }
  void SetVisible(bool v);
  bool Checked() const { return checked_; }
  void SetChecked(bool v);
  const std::string& Hint() const { return hint_; }
  void SetHint(std::string hint) { hint_ = std::move(hint); }

  int Count() const { return static_cast<int>(items_.size()); }
  TMenuItem* Items(int index) const;  // EListError for a bad index
  TMenuItem* operator[](int index) const { return Items(index); }
  void Add(TMenuItem* item);  // takes it from its former parent
  void Insert(int index, TMenuItem* item);
  void Remove(TMenuItem* item);
  void Delete(int index);
  TMenuItem* Parent() const { return parent_; }
  int MenuIndex() const;
  // The menu this item belongs to (through its parents), or null.
  TMenu* GetParentMenu() const;

  // The user choosing the item: fires OnClick.
  virtual void Click();
  rtl::TNotifyEvent OnClick;

 private:
  friend class TMenu;
  void Changed();
  std::string caption_;
  bool enabled_ = true;
  bool visible_ = true;
  bool checked_ = false;
  std::string hint_;
  std::vector<TMenuItem*> items_;
  TMenuItem* parent_ = nullptr;
  TMenu* menu_ = nullptr;  // set on the root item only
};

class TMenu : public rtl::TComponent {
 public:
  explicit TMenu(rtl::TComponent* owner);
  // The root item; its sub-items are the menu's entries.
  TMenuItem& Items() { return items_; }
  const TMenuItem& Items() const { return items_; }
  // An item of the menu changed (the window rebuilds the menu).
  virtual void Changed() {}

 private:
  TMenuItem items_;
};

// The menu bar of a form (TForm::SetMenu).
class TMainMenu : public TMenu {
 public:
  explicit TMainMenu(rtl::TComponent* owner) : TMenu(owner) {}
  ~TMainMenu() override;
  void Changed() override;

 private:
  friend class TForm;
  TForm* form_ = nullptr;
};

// A menu shown at a point, for a control whose PopupMenu it is (the right mouse button).
class TPopupMenu : public TMenu {
 public:
  explicit TPopupMenu(rtl::TComponent* owner) : TMenu(owner) {}
  // Shows the menu at a point in screen coordinates (OnPopup first); without a window nothing is
  // shown.
  void Popup(int x, int y);
  TControl* PopupComponent() const { return popupComponent_; }
  void SetPopupComponent(TControl* control) { popupComponent_ = control; }
  rtl::TNotifyEvent OnPopup;

 protected:
  void Notification(rtl::TComponent* component, rtl::TOperation operation) override;

 private:
  TControl* popupComponent_ = nullptr;
};

}  // namespace ui
