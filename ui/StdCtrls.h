// The standard controls: labels, buttons, check boxes, radio buttons, edits, memos, combo boxes,
// list boxes, check-list boxes and group boxes. No event fires while the owning form is being
// built (between its construction and AfterConstruction), as reading a form resource fires none.
#pragma once

#include <string>
#include <vector>

#include "ui/Controls.h"
#include "ui/Forms.h"

namespace ui {

// A caption drawn on its parent (no window of its own in the class library).
class TLabel : public TControl {
 public:
  explicit TLabel(rtl::TComponent* owner);
  const std::string& Caption() const { return GetText(); }
  void SetCaption(std::string caption) { SetText(std::move(caption)); }
  // The label takes the size of its text (the toolkit measures it) when AutoSize is on.
  bool AutoSize() const { return autoSize_; }
  void SetAutoSize(bool v);
  TAlignment Alignment() const { return alignment_; }
  void SetAlignment(TAlignment v);
  bool WordWrap() const { return wordWrap_; }
  void SetWordWrap(bool v);
  bool Transparent() const { return transparent_; }
  void SetTransparent(bool v) { transparent_ = v; }

 private:
  bool autoSize_ = true;
  TAlignment alignment_ = taLeftJustify;
  bool wordWrap_ = false;
  bool transparent_ = false;
};

enum TStaticBorderStyle { sbsNone, sbsSingle, sbsSunken };

// A caption in a window of its own (status lines).
class TStaticText : public TWinControl {
 public:
  explicit TStaticText(rtl::TComponent* owner);
  const std::string& Caption() const { return GetText(); }
  void SetCaption(std::string caption) { SetText(std::move(caption)); }
  bool AutoSize() const { return autoSize_; }
  void SetAutoSize(bool v);
  TAlignment Alignment() const { return alignment_; }
  void SetAlignment(TAlignment v);
  TStaticBorderStyle BorderStyle() const { return borderStyle_; }
  void SetBorderStyle(TStaticBorderStyle v);

 private:
  bool autoSize_ = true;
  TAlignment alignment_ = taLeftJustify;
  TStaticBorderStyle borderStyle_ = sbsNone;
};

class TButton : public TWinControl {
 public:
  explicit TButton(rtl::TComponent* owner);
  const std::string& Caption() const { return GetText(); }
  void SetCaption(std::string caption) { SetText(std::move(caption)); }
  TModalResult ModalResult() const { return modalResult_; }
  void SetModalResult(TModalResult v) { modalResult_ = v; }
  // Enter presses the default button of the form, Escape its cancel button.
  bool Default() const { return default_; }
  void SetDefault(bool v);
  bool Cancel() const { return cancel_; }
  void SetCancel(bool v) { cancel_ = v; }
  // As the class library: the form's ModalResult := the button's, before OnClick runs.
  void Click() override;

 private:
  TModalResult modalResult_ = mrNone;
  bool default_ = false;
  bool cancel_ = false;
};

enum TCheckBoxState { cbUnchecked, cbChecked, cbGrayed };

class TCheckBox : public TWinControl {
 public:
  explicit TCheckBox(rtl::TComponent* owner);
  const std::string& Caption() const { return GetText(); }
  void SetCaption(std::string caption) { SetText(std::move(caption)); }
  bool Checked() const { return state_ == cbChecked; }
  // As the class library: a change of Checked fires OnClick, also when made in code.
  void SetChecked(bool checked) { SetState(checked ? cbChecked : cbUnchecked); }
  TCheckBoxState State() const { return state_; }
  void SetState(TCheckBoxState state);
  bool AllowGrayed() const { return allowGrayed_; }
  void SetAllowGrayed(bool v) { allowGrayed_ = v; }
  TAlignment Alignment() const { return alignment_; }
  void SetAlignment(TAlignment v) {
    alignment_ = v;
    Changed(TChange::Style);
  }
  // The user clicking the box: the next state (and OnClick).
  void Toggle();

 private:
  TCheckBoxState state_ = cbUnchecked;
  bool allowGrayed_ = false;
  TAlignment alignment_ = taRightJustify;
};

// One of the radio buttons of a parent: checking one unchecks its siblings.
class TRadioButton : public TWinControl {
 public:
  explicit TRadioButton(rtl::TComponent* owner);
  const std::string& Caption() const { return GetText(); }
  void SetCaption(std::string caption) { SetText(std::move(caption)); }
  bool Checked() const { return checked_; }
  // Becoming checked unchecks the sibling radio buttons and fires OnClick (also in code).
  void SetChecked(bool checked);
  // The user clicking the button.
  void Click() override;

 private:
  bool checked_ = false;
};

// A one-line edit. OnChange fires on every change of Text, by the user or in code.
class TEdit : public TWinControl {
 public:
  explicit TEdit(rtl::TComponent* owner);
  const std::string& Text() const { return GetText(); }
  void SetText(std::string text);
  void Clear() { SetText(""); }
  // The text with every character kept (UTF-16), also those the ANSI code page lacks; Text is
  // the same in the ANSI code page. The window shows and edits this text. Setting Text sets it.
  const std::u16string& WideText() const { return wide_; }
  void SetWideText(std::u16string text);
  // 0: the text is shown; else each character is shown as this one ('*').
  char PasswordChar() const { return passwordChar_; }
  void SetPasswordChar(char c);
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool v);
  // The most bytes the user can type (0: no limit); text set in code is not cut.
  int MaxLength() const { return maxLength_; }
  void SetMaxLength(int v) { maxLength_ = v; }
  rtl::TNotifyEvent OnChange;

  // The user typing at the end of the text: each character passes OnKeyPress (a double-byte
  // character as its two bytes; dropping either drops it); backspace removes the last character.
  void TypeChar(char c);
  void TypeText(std::string_view text);

 protected:
  void TextChanged() override;

 private:
  void Type(std::string_view character);
  std::u16string wide_;
  char passwordChar_ = 0;
  bool readOnly_ = false;
  int maxLength_ = 0;
};

enum TScrollStyle { ssNone, ssHorizontal, ssVertical, ssBoth };

// A multi-line edit. Text is the window's text (lines parted by CR LF); Lines are its lines, and
// lines set in code make the text with CR LF after each. OnChange fires on every change.
class TMemo : public TWinControl {
 public:
  explicit TMemo(rtl::TComponent* owner);
  TControlStrings& Lines() { return lines_; }
  const TControlStrings& Lines() const { return lines_; }
  const std::string& Text() const { return GetText(); }
  void SetText(std::string text) { TControl::SetText(std::move(text)); }
  void Clear() { SetText(""); }
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool v);
  bool WordWrap() const { return wordWrap_; }
  void SetWordWrap(bool v);
  TScrollStyle ScrollBars() const { return scrollBars_; }
  void SetScrollBars(TScrollStyle v);
  rtl::TNotifyEvent OnChange;
  // The window's text after the user edited it.
  void TextEdited(std::string text) { SetText(std::move(text)); }

 protected:
  void TextChanged() override;

 private:
  void LinesChanged();
  TControlStrings lines_;
  bool syncing_ = false;
  bool readOnly_ = false;
  bool wordWrap_ = true;
  TScrollStyle scrollBars_ = ssNone;
};

// A control with a list of items and one selected item (-1: none). Deleting the selected item
// leaves none selected; inserting or deleting before it keeps it selected.
class TItemListControl : public TWinControl {
 public:
  explicit TItemListControl(rtl::TComponent* owner);
  TControlStrings& Items() { return items_; }
  const TControlStrings& Items() const { return items_; }
  int ItemIndex() const { return itemIndex_; }
  // Selects in code: no event fires (-1 or an index out of range selects nothing).
  virtual void SetItemIndex(int index);

 protected:
  virtual void ItemsChanged(TStringsOp op, int index);
  int itemIndex_ = -1;

 private:
  TControlStrings items_;
};

enum TComboBoxStyle { csDropDown, csSimple, csDropDownList };

class TComboBox : public TItemListControl {
 public:
  explicit TComboBox(rtl::TComponent* owner);
  TComboBoxStyle Style() const { return style_; }
  void SetStyle(TComboBoxStyle v);
  bool Sorted() const { return Items().Sorted(); }
  void SetSorted(bool v) { Items().SetSorted(v); }
  // The edit part: the selected item's text, or what was typed (csDropDown). Set in code it fires
  // no event; a drop-down list takes only an item's text.
  const std::string& Text() const { return GetText(); }
  void SetText(std::string text);
  void SetItemIndex(int index) override;
  int DropDownCount() const { return dropDownCount_; }
  void SetDropDownCount(int v) { dropDownCount_ = v; }
  rtl::TNotifyEvent OnChange;
  // The user choosing an item: ItemIndex and Text, then OnClick, then OnChange (as the class
  // library does for a selection).
  void SelectItem(int index);
  // The user typing into the edit part (csDropDown): Text, then OnChange.
  void TextEdited(std::string text);

 protected:
  void ItemsChanged(TStringsOp op, int index) override;

 private:
  TComboBoxStyle style_ = csDropDown;
  int dropDownCount_ = 8;
};

class TListBox : public TItemListControl {
 public:
  explicit TListBox(rtl::TComponent* owner);
  // A sorted list keeps its items in AnsiCompareText order (case ignored), as the class library's
  // sorted list box does; Add puts an item at its place.
  bool Sorted() const { return Items().Sorted(); }
  void SetSorted(bool v) { Items().SetSorted(v); }
  void Clear() { Items().Clear(); }
  // The user clicking an item: ItemIndex, then OnClick.
  void SelectItem(int index);
};

// A list box with a tick box before each item.
class TCheckListBox : public TListBox {
 public:
  explicit TCheckListBox(rtl::TComponent* owner);
  bool Checked(int index) const;       // EListError for a bad index
  void SetChecked(int index, bool v);  // in code: no event
  // The user ticking or unticking an item: the tick, then OnClickCheck.
  void ToggleByUser(int index);
  rtl::TNotifyEvent OnClickCheck;

 protected:
  void ItemsChanged(TStringsOp op, int index) override;

 private:
  std::vector<bool> checked_;
};

// A frame with a caption around other controls; its children are placed relative to its corner.
class TGroupBox : public TWinControl {
 public:
  explicit TGroupBox(rtl::TComponent* owner);
  const std::string& Caption() const { return GetText(); }
  void SetCaption(std::string caption) { SetText(std::move(caption)); }
};

}  // namespace ui
