#include "ui/StdCtrls.h"

#include <algorithm>

#include "platform/CodePage.h"

namespace ui {

// ---- TLabel, TStaticText ----

TLabel::TLabel(rtl::TComponent* owner) : TControl(owner) {}

void TLabel::SetAutoSize(bool v) {
  autoSize_ = v;
  Changed(TChange::Style);
}

void TLabel::SetAlignment(TAlignment v) {
  alignment_ = v;
  Changed(TChange::Style);
}

void TLabel::SetWordWrap(bool v) {
  wordWrap_ = v;
  Changed(TChange::Style);
}

TStaticText::TStaticText(rtl::TComponent* owner) : TWinControl(owner) {}

void TStaticText::SetAutoSize(bool v) {
  autoSize_ = v;
  Changed(TChange::Style);
}

void TStaticText::SetAlignment(TAlignment v) {
  alignment_ = v;
  Changed(TChange::Style);
}

void TStaticText::SetBorderStyle(TStaticBorderStyle v) {
  borderStyle_ = v;
  Changed(TChange::Style);
}

// ---- TButton ----

TButton::TButton(rtl::TComponent* owner) : TWinControl(owner) {}

void TButton::SetDefault(bool v) {
  default_ = v;
  Changed(TChange::Style);
}

void TButton::Click() {
  // As the class library: the form's modal result is set before the click handler runs.
  if (TForm* form = ParentForm()) form->SetModalResult(modalResult_);
  TWinControl::Click();
}

// ---- TCheckBox ----

TCheckBox::TCheckBox(rtl::TComponent* owner) : TWinControl(owner) {}

void TCheckBox::SetState(TCheckBoxState state) {
  if (state == state_) return;
  state_ = state;
  Changed(TChange::Checked);
  // As the class library: a change of Checked fires OnClick, also when made in code.
  if (!ClicksDisabled()) Click();
}

void TCheckBox::Toggle() {
  switch (state_) {
    case cbUnchecked:
      SetState(cbChecked);
      break;
    case cbChecked:
      SetState(allowGrayed_ ? cbGrayed : cbUnchecked);
      break;
    case cbGrayed:
      SetState(cbUnchecked);
      break;
  }
}

// ---- TRadioButton ----

TRadioButton::TRadioButton(rtl::TComponent* owner) : TWinControl(owner) {}

void TRadioButton::SetChecked(bool checked) {
  if (checked == checked_) return;
  checked_ = checked;
  Changed(TChange::Checked);
  if (!checked) return;
  if (TWinControl* p = Parent()) {
    for (int i = 0; i < p->ControlCount(); ++i) {
      auto* sibling = dynamic_cast<TRadioButton*>(p->Controls(i));
      if (sibling && sibling != this) sibling->SetChecked(false);
    }
  }
  // As the class library: becoming checked fires OnClick, also when done in code.
  if (!ClicksDisabled()) TWinControl::Click();
}

void TRadioButton::Click() {
  if (!checked_)
    SetChecked(true);
  else
    TWinControl::Click();
}

// ---- TEdit ----

TEdit::TEdit(rtl::TComponent* owner) : TWinControl(owner) {
  SetDefaultColor(clWindow);
}

void TEdit::SetPasswordChar(char c) {
  if (c == passwordChar_) return;
  passwordChar_ = c;
  Changed(TChange::Style);
}

void TEdit::SetReadOnly(bool v) {
  if (v == readOnly_) return;
  readOnly_ = v;
  Changed(TChange::ReadOnly);
}

void TEdit::SetText(std::string text) {
  if (text == Text()) return;
  // The wide text first: the window follows as soon as the text changes.
  wide_ = platform::AnsiToWide(text);
  TControl::SetText(std::move(text));
}

void TEdit::SetWideText(std::u16string text) {
  if (text == wide_) return;
  wide_ = std::move(text);
  std::string ansi = platform::WideToAnsi(wide_);
  if (ansi == Text()) {
    // Only characters the code page lacks changed: the window follows all the same.
    Changed(TChange::Text);
    if (!ClicksDisabled() && OnChange) OnChange(this);
    return;
  }
  TControl::SetText(std::move(ansi));
}

void TEdit::TextChanged() {
  if (!ClicksDisabled() && OnChange) OnChange(this);
}

void TEdit::Type(std::string_view character) {
  std::string bytes(character);
  for (char& b : bytes) {
    KeyPress(b);
    if (b == 0) return;  // dropped by the handler
  }
  std::string text = Text();
  if (bytes.size() == 1 && bytes[0] == VK_BACK) {
    if (readOnly_ || text.empty()) return;
    // Remove the last character, a double-byte one whole.
    size_t last = 0;
    for (size_t i = 0; i < text.size();) {
      last = i;
      i += platform::IsDBCSLeadByte(static_cast<uint8_t>(text[i])) && i + 1 < text.size() ? 2 : 1;
    }
    text.resize(last);
    SetText(std::move(text));
    return;
  }
  if (readOnly_ || static_cast<unsigned char>(bytes[0]) < 0x20) return;
  if (maxLength_ > 0 && static_cast<int>(text.size() + bytes.size()) > maxLength_) return;
  SetText(text + bytes);
}

void TEdit::TypeChar(char c) {
  Type(std::string_view(&c, 1));
}

void TEdit::TypeText(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    size_t n =
        platform::IsDBCSLeadByte(static_cast<uint8_t>(text[i])) && i + 1 < text.size() ? 2 : 1;
    Type(text.substr(i, n));
    i += n;
  }
}

// ---- TMemo ----

TMemo::TMemo(rtl::TComponent* owner)
    : TWinControl(owner), lines_([this](TStringsOp op, int) {
        if (op == soEndUpdate || !lines_.Updating()) LinesChanged();
      }) {
  SetDefaultColor(clWindow);
}

void TMemo::LinesChanged() {
  if (syncing_) return;
  syncing_ = true;
  TControl::SetText(lines_.Text());
  syncing_ = false;
}

void TMemo::TextChanged() {
  if (!syncing_) {
    syncing_ = true;
    lines_.SetText(GetText());
    syncing_ = false;
  }
  if (!ClicksDisabled() && OnChange) OnChange(this);
}

void TMemo::SetReadOnly(bool v) {
  readOnly_ = v;
  Changed(TChange::ReadOnly);
}

void TMemo::SetWordWrap(bool v) {
  wordWrap_ = v;
  Changed(TChange::Style);
}

void TMemo::SetScrollBars(TScrollStyle v) {
  scrollBars_ = v;
  Changed(TChange::Style);
}

// ---- TItemListControl ----

TItemListControl::TItemListControl(rtl::TComponent* owner)
    : TWinControl(owner), items_([this](TStringsOp op, int index) { ItemsChanged(op, index); }) {
  SetDefaultColor(clWindow);
}

void TItemListControl::SetItemIndex(int index) {
  if (index < -1 || index >= items_.Count()) index = -1;
  if (index == itemIndex_) return;
  itemIndex_ = index;
  Changed(TChange::ItemIndex);
}

void TItemListControl::ItemsChanged(TStringsOp op, int index) {
  switch (op) {
    case soAdded:
      if (itemIndex_ >= index && itemIndex_ >= 0) ++itemIndex_;
      break;
    case soDeleted:
      if (itemIndex_ == index)
        itemIndex_ = -1;
      else if (itemIndex_ > index)
        --itemIndex_;
      break;
    case soReset:
      itemIndex_ = -1;
      break;
    case soChanged:
    case soEndUpdate:
      break;
  }
  if (op == soEndUpdate || !items_.Updating()) {
    Changed(TChange::Items);
    Changed(TChange::ItemIndex);
  }
}

// ---- TComboBox ----

TComboBox::TComboBox(rtl::TComponent* owner) : TItemListControl(owner) {}

void TComboBox::SetStyle(TComboBoxStyle v) {
  if (v == style_) return;
  style_ = v;
  Changed(TChange::Style);
}

void TComboBox::SetText(std::string text) {
  int match = Items().IndexOfExact(text);
  if (style_ == csDropDownList && match < 0) return;  // only an item's text can be shown
  if (match != itemIndex_) {
    itemIndex_ = match;
    Changed(TChange::ItemIndex);
  }
  TControl::SetText(std::move(text));
}

void TComboBox::SetItemIndex(int index) {
  TItemListControl::SetItemIndex(index);
  TControl::SetText(itemIndex_ >= 0 ? Items().Strings(itemIndex_) : std::string());
}

void TComboBox::ItemsChanged(TStringsOp op, int index) {
  TItemListControl::ItemsChanged(op, index);
  if (style_ == csDropDownList || itemIndex_ >= 0)
    TControl::SetText(itemIndex_ >= 0 ? Items().Strings(itemIndex_) : std::string());
}

void TComboBox::SelectItem(int index) {
  SetItemIndex(index);
  Click();
  if (OnChange) OnChange(this);
}

void TComboBox::TextEdited(std::string text) {
  if (text == GetText()) return;
  SetText(std::move(text));
  if (OnChange) OnChange(this);
}

// ---- TListBox ----

TListBox::TListBox(rtl::TComponent* owner) : TItemListControl(owner) {}

void TListBox::SelectItem(int index) {
  SetItemIndex(index);
  Click();
}

// ---- TCheckListBox ----

TCheckListBox::TCheckListBox(rtl::TComponent* owner) : TListBox(owner) {}

bool TCheckListBox::Checked(int index) const {
  if (index < 0 || index >= Items().Count())
    throw rtl::EListError(rtl::Format("List index out of bounds (%d)", index));
  return index < static_cast<int>(checked_.size()) && checked_[static_cast<size_t>(index)];
}

void TCheckListBox::SetChecked(int index, bool v) {
  if (index < 0 || index >= Items().Count())
    throw rtl::EListError(rtl::Format("List index out of bounds (%d)", index));
  checked_.resize(static_cast<size_t>(Items().Count()), false);
  if (checked_[static_cast<size_t>(index)] == v) return;
  checked_[static_cast<size_t>(index)] = v;
  Changed(TChange::Checked);
}

void TCheckListBox::ToggleByUser(int index) {
  SetChecked(index, !Checked(index));
  if (OnClickCheck) OnClickCheck(this);
}

void TCheckListBox::ItemsChanged(TStringsOp op, int index) {
  switch (op) {
    case soAdded:
      if (index >= 0 && index <= static_cast<int>(checked_.size()))
        checked_.insert(checked_.begin() + index, false);
      break;
    case soDeleted:
      if (index < static_cast<int>(checked_.size())) checked_.erase(checked_.begin() + index);
      break;
    case soReset:
      checked_.assign(static_cast<size_t>(Items().Count()), false);
      break;
    default:
      break;
  }
  checked_.resize(static_cast<size_t>(Items().Count()), false);
  TListBox::ItemsChanged(op, index);
}

// ---- TGroupBox ----

TGroupBox::TGroupBox(rtl::TComponent* owner) : TWinControl(owner) {}

}  // namespace ui
