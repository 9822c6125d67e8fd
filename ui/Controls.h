// The control base classes: geometry, state, fonts, parents and children, the toolkit window of a
// control, and the item lists that list-like controls keep.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/RtlClasses.h"
#include "ui/Backend.h"
#include "ui/Graphics.h"

namespace ui {

class TForm;
class TWinControl;
class TPopupMenu;

// Case-insensitive comparison of two ANSI texts in the order the class library's AnsiCompareText
// gives for the user's locale: blanks and punctuation first, then digits, then letters (case
// ignored), then other characters by code point; "-" and "'" count only when the texts are
// otherwise equal. Negative, 0 or positive.
int AnsiCompareText(std::string_view a, std::string_view b);
inline bool AnsiSameText(std::string_view a, std::string_view b) {
  return AnsiCompareText(a, b) == 0;
}

// What changed in a TControlStrings: an item added or deleted at an index, an item's text, the
// whole list (SetText, Assign, Sort, Clear), or the end of an update (the window follows).
enum TStringsOp { soAdded, soDeleted, soChanged, soReset, soEndUpdate };
using TStringsChangeEvent = std::function<void(TStringsOp op, int index)>;

// The item texts of a list-like control (list box, combo box, radio group, memo lines...). The
// owning control follows every change. A sorted list keeps its items in AnsiCompareText order.
class TControlStrings {
 public:
  explicit TControlStrings(TStringsChangeEvent onChange = {}) : onChange_(std::move(onChange)) {}
  TControlStrings(const TControlStrings&) = delete;
  TControlStrings& operator=(const TControlStrings&) = delete;

  int Count() const { return static_cast<int>(items_.size()); }
  // EListError "List index out of bounds (%d)" for a bad index.
  const std::string& Strings(int index) const;
  const std::string& operator[](int index) const { return Strings(index); }
  void SetStrings(int index, std::string s);  // a sorted list moves the item to its place
  int Add(std::string s);                     // the new item's index
  void Insert(int index, std::string s);      // EListError on a sorted list
  void Delete(int index);
  void Clear();
  void Move(int from, int to);  // EListError on a sorted list
  // As the class library's TStrings.IndexOf: the first item equal ignoring case
  // (AnsiCompareText), -1 when none. IndexOfExact compares bytes.
  int IndexOf(std::string_view s) const;
  int IndexOfExact(std::string_view s) const;

  // Items joined with CR LF after each / replaced by the lines of a text (CR LF, CR or LF).
  std::string Text() const;
  void SetText(std::string_view text);
  void Assign(const rtl::TStringList& list);
  void Assign(const std::vector<std::string>& list);
  void AddStrings(const std::vector<std::string>& list);
  const std::vector<std::string>& Items() const { return items_; }

  // Between these two the owner learns of each change but its window follows once, at EndUpdate.
  void BeginUpdate() { ++updating_; }
  void EndUpdate();
  bool Updating() const { return updating_ > 0; }

  bool Sorted() const { return sorted_; }
  void SetSorted(bool sorted);
  void Sort();

 private:
  void Changed(TStringsOp op, int index);
  void CheckIndex(int index) const;
  int SortedIndex(std::string_view s) const;
  std::vector<std::string> items_;
  TStringsChangeEvent onChange_;
  bool sorted_ = false;
  int updating_ = 0;
};

enum TAlignment { taLeftJustify, taRightJustify, taCenter };

// Mouse and keyboard constants the forms use.
constexpr char VK_BACK = 8;
constexpr char VK_RETURN = 13;
constexpr char VK_ESCAPE = 27;

// A control: a plain object with the class library's properties and events. Coordinates are
// pixels relative to the parent's client area. A control that has a parent with a window gets
// one itself (through the running backend); without a backend it is state only.
class TControl : public rtl::TComponent {
 public:
  explicit TControl(rtl::TComponent* owner);
  ~TControl() override;

  int Left() const { return left_; }
  int Top() const { return top_; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  void SetLeft(int v) { SetBounds(v, top_, width_, height_); }
  void SetTop(int v) { SetBounds(left_, v, width_, height_); }
  void SetWidth(int v) { SetBounds(left_, top_, v, height_); }
  void SetHeight(int v) { SetBounds(left_, top_, width_, v); }
  virtual void SetBounds(int left, int top, int width, int height);
  TRect BoundsRect() const { return {left_, top_, left_ + width_, top_ + height_}; }
  // The area for children; a form subtracts its frame, a page control its tabs.
  virtual int ClientWidth() const { return width_; }
  virtual int ClientHeight() const { return height_; }
  virtual void SetClientWidth(int v) { SetWidth(v); }
  virtual void SetClientHeight(int v) { SetHeight(v); }
  TRect ClientRect() const { return {0, 0, ClientWidth(), ClientHeight()}; }

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);
  // This control and every parent enabled: a disabled container disables what it holds.
  bool EffectiveEnabled() const;
  bool Visible() const { return visible_; }
  virtual void SetVisible(bool visible);
  void Show() { SetVisible(true); }
  void Hide() { SetVisible(false); }
  // Visible together with every parent, up to a shown form.
  bool Showing() const;

  TColor Color() const { return color_; }
  void SetColor(TColor color);
  // True once Color was set (the toolkit's own colour is kept until then).
  bool ColorSet() const { return colorSet_; }

  TFont& Font() { return font_; }
  const TFont& Font() const { return font_; }
  bool ParentFont() const { return parentFont_; }
  void SetParentFont(bool parentFont);

  const std::string& Hint() const { return hint_; }
  void SetHint(std::string hint);
  bool ShowHint() const { return showHint_; }
  void SetShowHint(bool v) {
    showHint_ = v;
    Changed(TChange::Hint);
  }

  TPopupMenu* PopupMenu() const { return popupMenu_; }
  void SetPopupMenu(TPopupMenu* menu);

  int Tag() const { return tag_; }
  void SetTag(int tag) { tag_ = tag; }

  TWinControl* Parent() const { return parent_; }
  virtual void SetParent(TWinControl* parent);
  // The form this control sits on (itself for a form), or null.
  TForm* ParentForm() const;

  // The user's actions, as the class library's Click and DblClick: fire OnClick / OnDblClick.
  virtual void Click();
  virtual void DblClick();
  rtl::TNotifyEvent OnClick;
  rtl::TNotifyEvent OnDblClick;

  // Scales position and size by m/d, as the class library scales a form made for another screen
  // resolution: edges are scaled, so that controls that touched still touch. A container scales
  // what it holds.
  virtual void ChangeScale(int m, int d);

  // The user moved or sized the window (backends call this): the new bounds, not sent back.
  void BoundsFromWindow(int left, int top, int width, int height);

  // The toolkit window of this control, once realised.
  TControlPeer* Peer() const { return peer_.get(); }
  // Creates the windows of this control and its children through the running backend (forms do
  // it when shown; other controls when their parent has a window).
  void Realize();
  void Unrealize();
  // Tells the window (and, for geometry and state, the children's windows) what changed.
  void Changed(TChange what);

 protected:
  // Every control carries one text: a caption, or an edit's contents.
  const std::string& GetText() const { return text_; }
  void SetText(std::string text);
  virtual void TextChanged() {}
  void Notification(rtl::TComponent* component, rtl::TOperation operation) override;
  // The font inherited from the parent changed.
  void ParentFontChanged(const TFont& parentFont);
  // Events of property setters stay quiet while the owning form is being built.
  bool ClicksDisabled() const { return (ComponentState() & rtl::csLoading) != 0; }
  void SetVisibleFlag(bool visible) { visible_ = visible; }
  void SetDefaultColor(TColor color) { color_ = color; }

 private:
  friend class TWinControl;
  void FontChanged();
  int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
  bool enabled_ = true;
  bool visible_ = true;
  TColor color_ = clBtnFace;
  bool colorSet_ = false;
  TFont font_;
  bool parentFont_ = true;
  bool fontFromParent_ = false;
  std::string hint_;
  bool showHint_ = false;
  TPopupMenu* popupMenu_ = nullptr;
  int tag_ = 0;
  std::string text_;
  TWinControl* parent_ = nullptr;
  std::unique_ptr<TControlPeer> peer_;
};

// What a file drop on a window delivers: the names, whole, in the order the toolkit gives them,
// and the drop point in client coordinates of the window that took the drop.
struct TDropFiles {
  std::vector<std::string> Names;  // ANSI code page
  TPoint Point;
  // The same names as the file system spells them (UTF-8), when the toolkit gave them.
  std::vector<std::string> OsNames = {};
};
using TDropHandler = std::function<void(const TDropFiles& drop)>;

// A control that can hold others and take the keyboard focus.
class TWinControl : public TControl {
 public:
  explicit TWinControl(rtl::TComponent* owner);
  ~TWinControl() override;

  int ControlCount() const { return static_cast<int>(controls_.size()); }
  TControl* Controls(int index) const;  // EListError for a bad index

  // Keyboard: a typed character passes OnKeyPress first; a handler that sets it to 0 drops it.
  virtual void KeyPress(char& key);
  std::function<void(rtl::TObject* sender, char& key)> OnKeyPress;
  rtl::TNotifyEvent OnEnter;
  rtl::TNotifyEvent OnExit;

  // Gives this control the keyboard focus (it becomes its form's ActiveControl).
  void SetFocus();
  bool Focused() const;
  bool CanFocus() const;

  // The window's file-drop state, as the shell keeps it (see Shell.h: the drop-target service).
  bool AcceptsFiles() const { return acceptFiles_; }
  void SetAcceptsFiles(bool accept);
  const TDropHandler& DropHandler() const { return dropHandler_; }
  void SetDropHandler(TDropHandler handler) { dropHandler_ = std::move(handler); }
  // A drop from the toolkit: passed to the drop handler while the window accepts files.
  void DeliverDrop(const TDropFiles& drop);

  void ChangeScale(int m, int d) override;

 protected:
  virtual void InsertControl(TControl* control);
  virtual void RemoveControl(TControl* control);

 private:
  friend class TControl;
  std::vector<TControl*> controls_;
  bool acceptFiles_ = false;
  TDropHandler dropHandler_;
};

}  // namespace ui
