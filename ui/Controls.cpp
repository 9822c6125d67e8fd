#include "ui/Controls.h"

#include <algorithm>

#include "platform/CodePage.h"
#include "ui/Forms.h"
#include "ui/Menus.h"

namespace ui {

// ---- AnsiCompareText ----

namespace {

// Blanks and punctuation in the order the user's locale sorts them (before digits and letters).
constexpr std::u16string_view kPunctuation = u" !\"#$%&()*,./:;?@[\\]^_`{|}~+<=>";

char16_t FoldCase(char16_t c) {
  if (c >= u'A' && c <= u'Z') return static_cast<char16_t>(c + 32);
  if (c >= 0xFF21 && c <= 0xFF3A) return static_cast<char16_t>(c - 0xFF21 + u'a');  // full width
  if (c >= 0xFF41 && c <= 0xFF5A) return static_cast<char16_t>(c - 0xFF41 + u'a');
  if (c >= 0xFF10 && c <= 0xFF19) return static_cast<char16_t>(c - 0xFF10 + u'0');
  if (c >= 0x0391 && c <= 0x03A9) return static_cast<char16_t>(c + 32);  // Greek
  if (c >= 0x0410 && c <= 0x042F) return static_cast<char16_t>(c + 32);  // Cyrillic
  if (c == 0x0401) return 0x0451;
  return c;
}

// Primary weight; 0 for characters that count only to break a tie ("-", "'", control characters).
uint32_t PrimaryWeight(char16_t raw) {
  char16_t c = FoldCase(raw);
  if (c == u'-' || c == u'\'' || c < 0x20 || c == 0x7F) return 0;
  if (c < 0x80) {
    size_t p = kPunctuation.find(c);
    if (p != std::u16string_view::npos) return 0x100 + static_cast<uint32_t>(p);
    if (c >= u'0' && c <= u'9') return 0x200 + (c - u'0');
    if (c >= u'a' && c <= u'z') return 0x300 + (c - u'a');
  }
  return 0x10000 + c;
}

}  // namespace

int AnsiCompareText(std::string_view a, std::string_view b) {
  std::u16string wa = platform::AnsiToWide(a);
  std::u16string wb = platform::AnsiToWide(b);
  // First pass: the primary weights, ignoring "-" and "'".
  size_t i = 0, j = 0;
  for (;;) {
    while (i < wa.size() && PrimaryWeight(wa[i]) == 0)
      ++i;
    while (j < wb.size() && PrimaryWeight(wb[j]) == 0)
      ++j;
    if (i == wa.size() || j == wb.size()) break;
    uint32_t x = PrimaryWeight(wa[i]), y = PrimaryWeight(wb[j]);
    if (x != y) return x < y ? -1 : 1;
    ++i;
    ++j;
  }
  if (i < wa.size()) return 1;
  if (j < wb.size()) return -1;
  // Second pass: the text with fewer of the ignored characters first, then by those characters.
  std::u16string ia, ib;
  for (char16_t c : wa)
    if (PrimaryWeight(c) == 0) ia += c;
  for (char16_t c : wb)
    if (PrimaryWeight(c) == 0) ib += c;
  if (ia.size() != ib.size()) return ia.size() < ib.size() ? -1 : 1;
  if (ia != ib) return ia < ib ? -1 : 1;
  size_t n = std::min(wa.size(), wb.size());
  for (size_t k = 0; k < n; ++k) {
    bool xa = PrimaryWeight(wa[k]) == 0, xb = PrimaryWeight(wb[k]) == 0;
    if (xa != xb) return xa ? 1 : -1;  // the earlier ignored character sorts later
  }
  // Last: the width of otherwise equal characters (letter case is ignored).
  for (size_t k = 0; k < n; ++k) {
    char16_t x = wa[k], y = wb[k];
    if (FoldCase(x) == FoldCase(y) && x != y && (x >= 0xFF00 || y >= 0xFF00)) return x < y ? -1 : 1;
  }
  return 0;
}

// ---- TControlStrings ----

void TControlStrings::CheckIndex(int index) const {
  if (index < 0 || index >= Count())
    throw rtl::EListError(rtl::Format("List index out of bounds (%d)", index));
}

const std::string& TControlStrings::Strings(int index) const {
  CheckIndex(index);
  return items_[static_cast<size_t>(index)];
}

int TControlStrings::SortedIndex(std::string_view s) const {
  auto it = std::upper_bound(
      items_.begin(), items_.end(), s,
      [](std::string_view v, const std::string& e) { return AnsiCompareText(v, e) < 0; });
  return static_cast<int>(it - items_.begin());
}

void TControlStrings::SetStrings(int index, std::string s) {
  CheckIndex(index);
  if (sorted_) {
    Delete(index);
    Add(std::move(s));
    return;
  }
  items_[static_cast<size_t>(index)] = std::move(s);
  Changed(soChanged, index);
}

int TControlStrings::Add(std::string s) {
  int index = sorted_ ? SortedIndex(s) : Count();
  items_.insert(items_.begin() + index, std::move(s));
  Changed(soAdded, index);
  return index;
}

void TControlStrings::Insert(int index, std::string s) {
  if (sorted_) throw rtl::EListError("Operation not allowed on sorted list");
  if (index < 0 || index > Count())
    throw rtl::EListError(rtl::Format("List index out of bounds (%d)", index));
  items_.insert(items_.begin() + index, std::move(s));
  Changed(soAdded, index);
}

void TControlStrings::Delete(int index) {
  CheckIndex(index);
  items_.erase(items_.begin() + index);
  Changed(soDeleted, index);
}

void TControlStrings::Clear() {
  if (items_.empty()) return;
  items_.clear();
  Changed(soReset, -1);
}

void TControlStrings::Move(int from, int to) {
  if (sorted_) throw rtl::EListError("Operation not allowed on sorted list");
  CheckIndex(from);
  CheckIndex(to);
  if (from == to) return;
  std::string s = std::move(items_[static_cast<size_t>(from)]);
  items_.erase(items_.begin() + from);
  items_.insert(items_.begin() + to, std::move(s));
  Changed(soReset, -1);
}

int TControlStrings::IndexOf(std::string_view s) const {
  for (int i = 0; i < Count(); ++i)
    if (AnsiCompareText(items_[static_cast<size_t>(i)], s) == 0) return i;
  return -1;
}

int TControlStrings::IndexOfExact(std::string_view s) const {
  for (int i = 0; i < Count(); ++i)
    if (items_[static_cast<size_t>(i)] == s) return i;
  return -1;
}

std::string TControlStrings::Text() const {
  std::string out;
  for (const auto& s : items_) {
    out += s;
    out += "\r\n";
  }
  return out;
}

void TControlStrings::SetText(std::string_view text) {
  std::vector<std::string> lines;
  size_t p = 0;
  while (p < text.size()) {
    size_t e = text.find_first_of("\r\n", p);
    if (e == std::string_view::npos) {
      lines.emplace_back(text.substr(p));
      break;
    }
    lines.emplace_back(text.substr(p, e - p));
    p = e + 1;
    if (text[e] == '\r' && p < text.size() && text[p] == '\n') ++p;
  }
  Assign(lines);
}

void TControlStrings::Assign(const rtl::TStringList& list) {
  std::vector<std::string> v;
  v.reserve(static_cast<size_t>(list.Count()));
  for (int i = 0; i < list.Count(); ++i)
    v.push_back(list.Strings(i));
  Assign(v);
}

void TControlStrings::Assign(const std::vector<std::string>& list) {
  items_ = list;
  if (sorted_)
    std::stable_sort(items_.begin(), items_.end(), [](const std::string& a, const std::string& b) {
      return AnsiCompareText(a, b) < 0;
    });
  Changed(soReset, -1);
}

void TControlStrings::AddStrings(const std::vector<std::string>& list) {
  BeginUpdate();
  for (const auto& s : list)
    Add(s);
  EndUpdate();
}

void TControlStrings::EndUpdate() {
  if (updating_ > 0 && --updating_ == 0 && onChange_) onChange_(soEndUpdate, -1);
}

void TControlStrings::SetSorted(bool sorted) {
  if (sorted == sorted_) return;
  sorted_ = sorted;
  if (sorted_) Sort();
}

void TControlStrings::Sort() {
  std::stable_sort(items_.begin(), items_.end(), [](const std::string& a, const std::string& b) {
    return AnsiCompareText(a, b) < 0;
  });
  Changed(soReset, -1);
}

void TControlStrings::Changed(TStringsOp op, int index) {
  if (onChange_) onChange_(op, index);
}

// ---- TControl ----

TControl::TControl(rtl::TComponent* owner) : rtl::TComponent(owner) {
  if (owner && (owner->ComponentState() & rtl::csLoading)) SetLoading(true);
  font_.OnChange = [this] { FontChanged(); };
}

TControl::~TControl() {
  Destroying();
  Unrealize();
  if (parent_) {
    TWinControl* p = parent_;
    parent_ = nullptr;
    p->RemoveControl(this);
  }
}

void TControl::SetBounds(int left, int top, int width, int height) {
  if (width < 0) width = 0;
  if (height < 0) height = 0;
  if (left == left_ && top == top_ && width == width_ && height == height_) return;
  left_ = left;
  top_ = top;
  width_ = width;
  height_ = height;
  Changed(TChange::Bounds);
}

void TControl::BoundsFromWindow(int left, int top, int width, int height) {
  left_ = left;
  top_ = top;
  width_ = std::max(0, width);
  height_ = std::max(0, height);
}

void TControl::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  Changed(TChange::Enabled);
}

bool TControl::EffectiveEnabled() const {
  for (const TControl* c = this; c; c = c->parent_)
    if (!c->enabled_) return false;
  return true;
}

void TControl::SetVisible(bool visible) {
  if (visible == visible_) return;
  visible_ = visible;
  Changed(TChange::Visible);
}

bool TControl::Showing() const {
  const TControl* c = this;
  for (; c->parent_; c = c->parent_)
    if (!c->visible_) return false;
  return c->visible_ && dynamic_cast<const TForm*>(c) != nullptr;
}

void TControl::SetColor(TColor color) {
  colorSet_ = true;
  if (color == color_) return;
  color_ = color;
  Changed(TChange::Color);
}

void TControl::SetParentFont(bool parentFont) {
  parentFont_ = parentFont;
  if (parentFont_ && parent_) ParentFontChanged(parent_->Font());
}

void TControl::ParentFontChanged(const TFont& parentFont) {
  fontFromParent_ = true;
  font_.Assign(parentFont);
  fontFromParent_ = false;
}

void TControl::FontChanged() {
  if (!fontFromParent_) parentFont_ = false;
  Changed(TChange::Font);
  if (auto* w = dynamic_cast<TWinControl*>(this)) {
    std::vector<TControl*> children = w->controls_;
    for (TControl* c : children)
      if (c->parentFont_) c->ParentFontChanged(font_);
  }
}

void TControl::SetHint(std::string hint) {
  hint_ = std::move(hint);
  Changed(TChange::Hint);
}

void TControl::SetPopupMenu(TPopupMenu* menu) {
  if (menu == popupMenu_) return;
  popupMenu_ = menu;
  if (menu) menu->FreeNotification(this);
}

void TControl::Notification(rtl::TComponent* component, rtl::TOperation operation) {
  rtl::TComponent::Notification(component, operation);
  if (operation == rtl::TOperation::opRemove && component == popupMenu_) popupMenu_ = nullptr;
}

void TControl::SetParent(TWinControl* parent) {
  if (parent == parent_) return;
  for (TControl* p = parent; p; p = p->parent_)
    if (p == this) throw rtl::Exception("A control cannot have itself or a child as its parent");
  if (parent_) {
    Unrealize();
    TWinControl* old = parent_;
    parent_ = nullptr;
    old->RemoveControl(this);
  }
  if (parent) {
    parent_ = parent;
    parent->InsertControl(this);
    if (parentFont_) ParentFontChanged(parent->Font());
    if (parent->Peer()) Realize();
  }
}

TForm* TControl::ParentForm() const {
  const TControl* c = this;
  while (c->parent_)
    c = c->parent_;
  return const_cast<TForm*>(dynamic_cast<const TForm*>(c));
}

void TControl::Click() {
  if (OnClick) OnClick(this);
}

void TControl::DblClick() {
  if (OnDblClick) OnDblClick(this);
}

void TControl::SetText(std::string text) {
  if (text == text_) return;
  text_ = std::move(text);
  Changed(TChange::Text);
  TextChanged();
}

namespace {
// m/d of v, rounded to the nearest, as the system's MulDiv.
int MulDiv(int v, int m, int d) {
  const long long p = static_cast<long long>(v) * m;
  return static_cast<int>((p >= 0 ? p + d / 2 : p - d / 2) / d);
}
}  // namespace

void TControl::ChangeScale(int m, int d) {
  if (m == d || d <= 0) return;
  const int left = MulDiv(left_, m, d), top = MulDiv(top_, m, d);
  SetBounds(left, top, MulDiv(left_ + width_, m, d) - left, MulDiv(top_ + height_, m, d) - top);
}

void TWinControl::ChangeScale(int m, int d) {
  TControl::ChangeScale(m, d);
  for (TControl* c : std::vector<TControl*>(controls_))
    c->ChangeScale(m, d);
}

void TControl::Realize() {
  if (peer_ || (ComponentState() & rtl::csDestroying)) return;
  TBackend* backend = Application().Backend();
  if (!backend) return;
  if (!dynamic_cast<TForm*>(this) && (!parent_ || !parent_->Peer())) return;
  peer_ = backend->CreatePeer(*this);
  if (auto* w = dynamic_cast<TWinControl*>(this)) {
    std::vector<TControl*> children = w->controls_;
    for (TControl* c : children)
      c->Realize();
  }
}

void TControl::Unrealize() {
  if (auto* w = dynamic_cast<TWinControl*>(this)) {
    for (TControl* c : w->controls_)
      c->Unrealize();
  }
  peer_.reset();
}

void TControl::Changed(TChange what) {
  if (peer_) peer_->Update(what);
  if (what == TChange::Bounds || what == TChange::Enabled || what == TChange::Visible) {
    if (auto* w = dynamic_cast<TWinControl*>(this)) {
      for (TControl* c : w->controls_)
        c->Changed(what);
    }
  }
}

// ---- TWinControl ----

TWinControl::TWinControl(rtl::TComponent* owner) : TControl(owner) {}

TWinControl::~TWinControl() {
  if (TForm* f = ParentForm()) f->ControlRemoved(this);
  // The children stay (their owners free them) but lose their parent and their windows.
  std::vector<TControl*> children;
  children.swap(controls_);
  for (TControl* c : children) {
    c->Unrealize();
    c->parent_ = nullptr;
  }
}

TControl* TWinControl::Controls(int index) const {
  if (index < 0 || index >= ControlCount())
    throw rtl::EListError(rtl::Format("List index out of bounds (%d)", index));
  return controls_[static_cast<size_t>(index)];
}

void TWinControl::InsertControl(TControl* control) {
  controls_.push_back(control);
}

void TWinControl::RemoveControl(TControl* control) {
  controls_.erase(std::remove(controls_.begin(), controls_.end(), control), controls_.end());
  if (TForm* f = ParentForm()) f->ControlRemoved(control);
}

void TWinControl::KeyPress(char& key) {
  if (OnKeyPress) OnKeyPress(this, key);
}

void TWinControl::SetFocus() {
  if (TForm* f = ParentForm()) {
    if (f != this) {
      f->SetActiveControl(this);
      return;
    }
  }
  Changed(TChange::Focus);
}

bool TWinControl::Focused() const {
  TForm* f = ParentForm();
  return f && f->ActiveControl() == this;
}

bool TWinControl::CanFocus() const {
  return EffectiveEnabled() && Showing();
}

void TWinControl::SetAcceptsFiles(bool accept) {
  if (accept == acceptFiles_) return;
  acceptFiles_ = accept;
  Changed(TChange::AcceptFiles);
}

void TWinControl::DeliverDrop(const TDropFiles& drop) {
  if (!acceptFiles_ || !dropHandler_) return;
  TDropHandler handler = dropHandler_;  // the handler may replace itself
  handler(drop);
}

}  // namespace ui
