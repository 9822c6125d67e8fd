// The windows of the controls.
#include <wx/checklst.h>
#include <wx/dcclient.h>
#include <wx/dnd.h>
#include <wx/listctrl.h>
#include <wx/notebook.h>
#include <wx/statbox.h>

#include <algorithm>

#include "platform/CodePage.h"
#include "ui/ComCtrls.h"
#include "ui/ExtCtrls.h"
#include "ui/StdCtrls.h"
#include "ui/wx/WxInternal.h"
#include "ui/wx/WxWindows.h"

namespace ui::wx {

// ---- the base ----

WxPeer::~WxPeer() {
  // The derived parts are gone: no handler may run while the window goes.
  *alive_ = false;
  control_ = nullptr;
  DestroyWindow();
}

void WxPeer::DestroyWindow() {
  if (!window_) return;
  wxWindow* w = window_;
  window_ = nullptr;
  UnregisterWindow(w);
  if (w->IsTopLevel()) {
    w->Hide();
    w->Destroy();  // the toolkit frees top-level windows when idle
  } else {
    delete w;
  }
}

void WxPeer::Rebuild() {
  DestroyWindow();
  Build();
}

void WxPeer::Attach(wxWindow* w) {
  window_ = w;
  RegisterWindow(w, this);
  // A window that the toolkit frees by itself (with a parent) is forgotten.
  Listen(w, wxEVT_DESTROY, [this, w](wxWindowDestroyEvent& e) {
    if (e.GetEventObject() == w && window_ == w) {
      UnregisterWindow(w);
      window_ = nullptr;
    }
    e.Skip();
  });
  Suppress s(*this);
  ApplyFont();
  ApplyColour();
  ApplyHint();
  ApplyEnabled();
  ApplyShown();
  ApplyDropTarget();
}

wxWindow* WxPeer::ParentWindow() const {
  for (TWinControl* p = control_->Parent(); p; p = p->Parent()) {
    WxPeer* pp = PeerOf(p);
    if (!pp) return nullptr;
    if (pp->IsContainer()) return pp->ClientWindow();
  }
  return nullptr;
}

wxPoint WxPeer::Position() const {
  int x = control_->Left(), y = control_->Top();
  for (TWinControl* p = control_->Parent(); p; p = p->Parent()) {
    WxPeer* pp = PeerOf(p);
    if (!pp || pp->IsContainer()) break;
    x += p->Left();
    y += p->Top();
  }
  return {x, y};
}

wxSize WxPeer::Size() const {
  return {std::max(1, control_->Width()), std::max(1, control_->Height())};
}

bool WxPeer::Shown() const {
  if (!control_->Visible()) return false;
  for (TWinControl* p = control_->Parent(); p; p = p->Parent()) {
    WxPeer* pp = PeerOf(p);
    if (!pp || pp->IsContainer()) break;
    if (!p->Visible()) return false;
  }
  return true;
}

void WxPeer::ApplyBounds() {
  if (window_) window_->SetSize(wxRect(Position(), Size()));
}
void WxPeer::ApplyEnabled() {
  if (window_) window_->Enable(control_->EffectiveEnabled());
}
void WxPeer::ApplyShown() {
  if (window_) window_->Show(Shown());
}
void WxPeer::ApplyFont() {
  if (window_) window_->SetFont(ToFont(control_->Font()));
}
void WxPeer::ApplyColour() {
  if (!window_) return;
  if (control_->ColorSet()) window_->SetBackgroundColour(ToColour(control_->Color()));
  if (control_->Font().Color() != clWindowText)
    window_->SetForegroundColour(ToColour(control_->Font().Color()));
  window_->Refresh();
}
void WxPeer::ApplyHint() {
  if (!window_) return;
  if (control_->ShowHint() && !control_->Hint().empty())
    window_->SetToolTip(ToWx(control_->Hint()));
  else
    window_->UnsetToolTip();
}

namespace {
// Hands the toolkit's file drops to the control: whole names and the point in client coordinates.
class DropTarget : public wxFileDropTarget {
 public:
  explicit DropTarget(TWinControl* control) : control_(control) {}
  bool OnDropFiles(wxCoord x, wxCoord y, const wxArrayString& names) override {
    if (!control_ || !control_->AcceptsFiles()) return false;
    TDropFiles drop;
    for (const wxString& n : names) {
      drop.Names.push_back(FromWx(n));
      drop.OsNames.push_back(n.utf8_string());
    }
    drop.Point = {x, y};
    Guarded(control_, [&] { control_->DeliverDrop(drop); });
    return true;
  }
  TWinControl* control_;
};
}  // namespace

void WxPeer::ApplyDropTarget() {
  auto* w = dynamic_cast<TWinControl*>(control_);
  wxWindow* target = ClientWindow() ? ClientWindow() : window_;
  if (!w || !target) return;
  if (w->AcceptsFiles()) {
    if (!target->GetDropTarget()) target->SetDropTarget(new DropTarget(w));
  } else if (target->GetDropTarget()) {
    target->SetDropTarget(nullptr);
  }
}

void WxPeer::Update(TChange what) {
  if (!control_) return;
  Suppress s(*this);
  switch (what) {
    case TChange::Bounds:
      ApplyBounds();
      break;
    case TChange::Enabled:
      ApplyEnabled();
      break;
    case TChange::Visible:
      ApplyShown();
      break;
    case TChange::Color:
      ApplyColour();
      break;
    case TChange::Font:
      ApplyFont();
      ApplyColour();
      break;
    case TChange::Hint:
      ApplyHint();
      break;
    case TChange::Focus:
      if (window_ && window_->IsShownOnScreen()) window_->SetFocus();
      break;
    case TChange::AcceptFiles:
      ApplyDropTarget();
      break;
    default:
      break;
  }
  OnUpdate(what);
}

namespace {

long AlignmentStyle(TAlignment a) {
  switch (a) {
    case taRightJustify:
      return wxALIGN_RIGHT;
    case taCenter:
      return wxALIGN_CENTRE_HORIZONTAL;
    default:
      return wxALIGN_LEFT;
  }
}

// The deepest control of a real container under a point of its client area: groups and what
// they hold have no window of their own there.
TControl* Deepest(TWinControl* container, int x, int y) {
  for (int i = container->ControlCount() - 1; i >= 0; --i) {
    TControl* c = container->Controls(i);
    if (!c->Visible() || !c->BoundsRect().Contains({x, y})) continue;
    WxPeer* p = PeerOf(c);
    auto* w = dynamic_cast<TWinControl*>(c);
    if (w && p && !p->IsContainer()) return Deepest(w, x - c->Left(), y - c->Top());
    return c;
  }
  return container;
}

// ---- a form: a frame with a panel for its client area ----

class FormPeer : public WxPeer {
 public:
  explicit FormPeer(TForm& form) : WxPeer(form), form_(form) {}
  ~FormPeer() override {
    if (content_) UnregisterWindow(content_);
  }
  wxWindow* ClientWindow() const override { return content_; }

  void Build() override {
    frame_ = new wxFrame(nullptr, wxID_ANY, ToWx(form_.Caption()),
                         wxPoint(form_.Left(), form_.Top()), wxDefaultSize, FrameStyle());
    content_ = new wxPanel(frame_, wxID_ANY);
    RegisterWindow(content_, this);
    Listen(content_, wxEVT_DESTROY, [this](wxWindowDestroyEvent& e) {
      if (e.GetEventObject() == content_) {
        UnregisterWindow(content_);
        content_ = nullptr;
      }
      e.Skip();
    });
    Attach(frame_);
    Suppress s(*this);
    RebuildMenu();
    ApplyBounds();
    Listen(frame_, wxEVT_CLOSE_WINDOW, [this](wxCloseEvent& e) {
      if (!e.CanVeto()) {
        e.Skip();
        return;
      }
      e.Veto();
      Route([&] { form_.Close(); });
    });
    Listen(frame_, wxEVT_ACTIVATE, [this](wxActivateEvent& e) {
      if (e.GetActive()) Route([&] { form_.Activated(); });
      e.Skip();
    });
    Listen(frame_, wxEVT_MOVE, [this](wxMoveEvent& e) {
      RecordBounds();
      e.Skip();
    });
    Listen(frame_, wxEVT_SIZE, [this](wxSizeEvent& e) {
      RecordBounds();
      e.Skip();
    });
    Listen(frame_, wxEVT_ICONIZE, [this](wxIconizeEvent& e) {
      RecordBounds();
      e.Skip();
    });
    Listen(frame_, wxEVT_MAXIMIZE, [this](wxMaximizeEvent& e) {
      RecordBounds();
      e.Skip();
    });
    Listen(frame_, wxEVT_MENU, [this](wxCommandEvent& e) {
      auto it = menuIds_.items.find(e.GetId());
      if (it == menuIds_.items.end()) {
        e.Skip();
        return;
      }
      TMenuItem* item = it->second;
      if (control_) Guarded(item, [&] { item->Click(); });
    });
    Listen(frame_, wxEVT_CHAR_HOOK, [this](wxKeyEvent& e) { OnCharHook(e); });
    Listen(frame_, wxEVT_CHILD_FOCUS, [this](wxChildFocusEvent& e) {
      e.Skip();
      if (suppress_ > 0 || !control_) return;
      WxPeer* p = FindPeer(wxWindow::FindFocus());
      auto* focused = p ? dynamic_cast<TWinControl*>(p->Control()) : nullptr;
      if (focused && focused != &form_) Guarded(focused, [&] { form_.FocusFromWindow(focused); });
    });
    Listen(content_, wxEVT_CONTEXT_MENU, [this](wxContextMenuEvent& e) { OnContextMenu(e); });
  }

  void ApplyBounds() override {
    if (!frame_ || frame_->IsMaximized() || frame_->IsIconized()) return;
    frame_->SetPosition(wxPoint(form_.Left(), form_.Top()));
    frame_->SetClientSize(std::max(1, form_.ClientWidth()), std::max(1, form_.ClientHeight()));
  }
  void ApplyShown() override {}  // shown and hidden by OnUpdate(Visible)
  void ApplyFont() override {
    if (content_) content_->SetFont(ToFont(form_.Font()));
  }

  void OnUpdate(TChange what) override {
    if (!frame_) return;
    switch (what) {
      case TChange::Text:
        frame_->SetTitle(ToWx(form_.Caption()));
        break;
      case TChange::Style:
        frame_->SetWindowStyleFlag(FrameStyle());
        ApplyBounds();
        break;
      case TChange::Menu:
        RebuildMenu();
        ApplyBounds();
        break;
      case TChange::Color:
        if (content_ && form_.ColorSet()) content_->SetBackgroundColour(ToColour(form_.Color()));
        break;
      case TChange::WindowState:
        switch (form_.WindowState()) {
          case wsMinimized:
            frame_->Iconize(true);
            break;
          case wsMaximized:
            frame_->Maximize(true);
            break;
          default:
            frame_->Iconize(false);
            frame_->Maximize(false);
            break;
        }
        break;
      case TChange::Visible:
        if (form_.Visible()) {
          ApplyBounds();
          if (form_.Position() == poScreenCenter || form_.Position() == poDesktopCenter) {
            frame_->CentreOnScreen();
          } else if (form_.Position() == poMainFormCenter ||
                     form_.Position() == poOwnerFormCenter) {
            TForm* main = Application().MainForm();
            wxWindow* over = main && main != &form_ ? WindowOf(*main) : nullptr;
            if (over && over->IsShown())
              frame_->CentreOnParent();
            else
              frame_->CentreOnScreen();
            if (over && over->IsShown()) {
              wxRect r = over->GetScreenRect();
              wxSize s = frame_->GetSize();
              frame_->SetPosition(wxPoint(r.x + (r.width - s.x) / 2, r.y + (r.height - s.y) / 2));
            }
          }
          frame_->Show(true);
          frame_->Raise();
          RecordBounds(true);  // where the window really went (centred, or moved by the desktop)
        } else {
          frame_->Show(false);
        }
        break;
      default:
        break;
    }
  }

 private:
  long FrameStyle() const {
    long style = 0;
    bool sizeable = form_.BorderStyle() == bsSizeable || form_.BorderStyle() == bsSizeToolWin;
    switch (form_.BorderStyle()) {
      case bsNone:
        return wxBORDER_NONE | wxFRAME_NO_TASKBAR;
      case bsToolWindow:
      case bsSizeToolWin:
        style = wxCAPTION | wxFRAME_TOOL_WINDOW;
        break;
      default:
        style = wxCAPTION;
        break;
    }
    if (sizeable) style |= wxRESIZE_BORDER;
    TBorderIcons icons = form_.BorderIcons();
    if (icons & biSystemMenu) style |= wxSYSTEM_MENU | wxCLOSE_BOX;
    if (form_.BorderStyle() != bsDialog) {
      if (icons & biMinimize) style |= wxMINIMIZE_BOX;
      if ((icons & biMaximize) && sizeable) style |= wxMAXIMIZE_BOX;
    }
    if (Application().ToolWindow()) style |= wxFRAME_NO_TASKBAR;
    return style;
  }

  void RecordBounds(bool evenOwnChange = false) {
    if (!frame_ || (suppress_ > 0 && !evenOwnChange) || !control_) return;
    TWindowState state = frame_->IsIconized()    ? wsMinimized
                         : frame_->IsMaximized() ? wsMaximized
                                                 : wsNormal;
    form_.WindowStateChanged(state);
    if (state != wsNormal) return;
    wxPoint p = frame_->GetPosition();
    wxSize c = frame_->GetClientSize();
    form_.WindowMoved(p.x, p.y, c.x + form_.FrameWidth(), c.y + form_.FrameHeight());
  }

  void RebuildMenu() {
    menuIds_ = MenuIds();
    wxMenuBar* old = frame_->GetMenuBar();
    if (form_.Menu() && form_.Menu()->Items().Count() > 0) {
      frame_->SetMenuBar(BuildMenuBar(*form_.Menu(), menuIds_));  // frees the old one
    } else if (old) {
      frame_->SetMenuBar(nullptr);
      delete old;
    }
  }

  // Enter presses the default button, Escape the cancel button (as the class library's dialog
  // keys).
  void OnCharHook(wxKeyEvent& e) {
    int key = e.GetKeyCode();
    if ((key != WXK_ESCAPE && key != WXK_RETURN && key != WXK_NUMPAD_ENTER) ||
        e.HasAnyModifiers()) {
      e.Skip();
      return;
    }
    wxWindow* focus = wxWindow::FindFocus();
    if (key != WXK_ESCAPE && focus) {
      if (dynamic_cast<wxButton*>(focus) ||
          (dynamic_cast<wxTextCtrl*>(focus) && focus->HasFlag(wxTE_MULTILINE))) {
        e.Skip();
        return;
      }
    }
    TButton* button = FindButton(&form_, key == WXK_ESCAPE);
    if (!button) {
      e.Skip();
      return;
    }
    Guarded(button, [&] { button->Click(); });
  }

  static TButton* FindButton(TWinControl* in, bool cancel) {
    for (int i = 0; i < in->ControlCount(); ++i) {
      TControl* c = in->Controls(i);
      if (!c->Visible() || !c->EffectiveEnabled()) continue;
      if (auto* b = dynamic_cast<TButton*>(c); b && (cancel ? b->Cancel() : b->Default())) return b;
      if (auto* w = dynamic_cast<TWinControl*>(c))
        if (TButton* b = FindButton(w, cancel)) return b;
    }
    return nullptr;
  }

  // The pop-up menu of the control under the mouse (or of one of its parents).
  void OnContextMenu(wxContextMenuEvent& e) {
    if (!control_) return;
    wxPoint screen = e.GetPosition();
    if (screen == wxDefaultPosition) screen = wxGetMousePosition();
    TControl* hit = ControlAt(screen);
    for (TControl* c = hit; c; c = c->Parent()) {
      if (TPopupMenu* menu = c->PopupMenu()) {
        menu->SetPopupComponent(c);
        Guarded(menu, [&] { menu->Popup(screen.x, screen.y); });
        return;
      }
    }
    e.Skip();
  }

  TForm& form_;
  wxFrame* frame_ = nullptr;
  wxPanel* content_ = nullptr;
  MenuIds menuIds_;
};

// ---- containers ----

class PanelPeer : public WxPeer {
 public:
  using WxPeer::WxPeer;
  wxWindow* ClientWindow() const override { return window_; }
  void Build() override {
    long border = wxBORDER_NONE;
    if (auto* panel = dynamic_cast<TPanel*>(control_)) {
      if (panel->BevelOuter() == bvRaised) border = wxBORDER_RAISED;
      if (panel->BevelOuter() == bvLowered) border = wxBORDER_SUNKEN;
    }
    auto* w = new wxPanel(ParentWindow(), wxID_ANY, Position(), Size(), border | wxTAB_TRAVERSAL);
    Attach(w);
    Listen(w, wxEVT_CONTEXT_MENU, [](wxContextMenuEvent& e) { e.Skip(); });
  }
  void OnUpdate(TChange what) override {
    if (what == TChange::Style) Rebuild();
  }
};

class GroupBoxPeer : public WxPeer {
 public:
  using WxPeer::WxPeer;
  void Build() override {
    Attach(new wxStaticBox(ParentWindow(), wxID_ANY,
                           ToWx(static_cast<TGroupBox*>(control_)->Caption()), Position(), Size()));
  }
  void OnUpdate(TChange what) override {
    if (what == TChange::Text && window_)
      static_cast<wxStaticBox*>(window_)->SetLabel(
          ToWx(static_cast<TGroupBox*>(control_)->Caption()));
  }
};

class RadioGroupPeer : public WxPeer {
 public:
  explicit RadioGroupPeer(TRadioGroup& group) : WxPeer(group), group_(group) {}
  ~RadioGroupPeer() override { DestroyButtons(); }
  void Build() override {
    Attach(new wxStaticBox(ParentWindow(), wxID_ANY, ToWx(group_.Caption()), Position(), Size()));
    BuildButtons();
  }
  void OnUpdate(TChange what) override {
    switch (what) {
      case TChange::Text:
        if (window_) static_cast<wxStaticBox*>(window_)->SetLabel(ToWx(group_.Caption()));
        break;
      case TChange::Items:
        DestroyButtons();
        BuildButtons();
        break;
      case TChange::ItemIndex:
        ShowChoice();
        break;
      default:
        break;
    }
  }
  void ApplyBounds() override {
    WxPeer::ApplyBounds();
    PlaceButtons();
  }
  void ApplyEnabled() override {
    WxPeer::ApplyEnabled();
    for (auto* b : buttons_)
      b->Enable(group_.EffectiveEnabled());
  }
  void ApplyShown() override {
    WxPeer::ApplyShown();
    for (auto* b : buttons_)
      b->Show(Shown());
  }
  void ApplyFont() override {
    WxPeer::ApplyFont();
    for (auto* b : buttons_)
      b->SetFont(ToFont(group_.Font()));
  }

 private:
  void BuildButtons() {
    if (!window_) return;
    Suppress s(*this);
    for (int i = 0; i < group_.Items().Count(); ++i) {
      auto* b = new wxRadioButton(ParentWindow(), wxID_ANY, ToWx(group_.Items()[i]),
                                  wxDefaultPosition, wxDefaultSize, i == 0 ? wxRB_GROUP : 0);
      b->SetFont(ToFont(group_.Font()));
      b->Enable(group_.EffectiveEnabled());
      b->Show(Shown());
      Listen(b, wxEVT_RADIOBUTTON, [this, i](wxCommandEvent&) {
        Route([&] { group_.SelectItem(i); });
        // The group decides: the buttons show its choice.
        Suppress s2(*this);
        OnUpdate(TChange::ItemIndex);
      });
      RegisterWindow(b, this);
      buttons_.push_back(b);
    }
    if (!buttons_.empty()) {
      none_ = new wxRadioButton(ParentWindow(), wxID_ANY, wxEmptyString);
      none_->Hide();
    }
    PlaceButtons();
    ShowChoice();
  }
  // The toolkit cannot uncheck the last checked button of a group: a hidden one takes the check.
  void ShowChoice() {
    int index = group_.ItemIndex();
    if (index >= 0 && index < static_cast<int>(buttons_.size()))
      buttons_[static_cast<size_t>(index)]->SetValue(true);
    else if (none_)
      none_->SetValue(true);
  }
  void PlaceButtons() {
    wxPoint origin = Position();
    for (size_t i = 0; i < buttons_.size(); ++i) {
      TRect r = group_.ButtonRect(static_cast<int>(i));
      buttons_[i]->SetSize(origin.x + r.Left, origin.y + r.Top, std::max(1, r.Right - r.Left),
                           std::max(1, r.Bottom - r.Top));
    }
  }
  void DestroyButtons() {
    for (auto* b : buttons_) {
      UnregisterWindow(b);
      delete b;
    }
    buttons_.clear();
    delete none_;
    none_ = nullptr;
  }
  TRadioGroup& group_;
  std::vector<wxRadioButton*> buttons_;
  wxRadioButton* none_ = nullptr;
};

class PageControlPeer : public WxPeer {
 public:
  explicit PageControlPeer(TPageControl& pages) : WxPeer(pages), pages_(pages) {}
  wxWindow* ClientWindow() const override { return window_; }
  wxNotebook* Notebook() const { return static_cast<wxNotebook*>(window_); }
  bool InChange() const { return inChange_; }
  void Build() override {
    auto* nb = new wxNotebook(ParentWindow(), wxID_ANY, Position(), Size());
    Attach(nb);
    Listen(nb, wxEVT_NOTEBOOK_PAGE_CHANGING, [this](wxBookCtrlEvent& e) {
      if (suppress_ > 0 || !control_) return;
      int wanted = e.GetSelection();
      inChange_ = true;
      Route([&] { pages_.SelectPage(wanted); });
      inChange_ = false;
      if (pages_.ActivePageIndex() != wanted) e.Veto();
    });
  }
  void OnUpdate(TChange what) override {
    if (what != TChange::ItemIndex || inChange_ || !window_) return;
    int index = pages_.ActivePageIndex();
    if (index >= 0 && index < static_cast<int>(Notebook()->GetPageCount()) &&
        Notebook()->GetSelection() != index)
      Notebook()->ChangeSelection(static_cast<size_t>(index));
  }

 private:
  TPageControl& pages_;
  bool inChange_ = false;
};

class TabSheetPeer : public WxPeer {
 public:
  explicit TabSheetPeer(TTabSheet& sheet) : WxPeer(sheet), sheet_(sheet) {}
  ~TabSheetPeer() override {
    // The page leaves the notebook before its window goes.
    if (book_ && window_) {
      int index = book_->FindPage(window_);
      if (index != wxNOT_FOUND) book_->RemovePage(static_cast<size_t>(index));
    }
  }
  wxWindow* ClientWindow() const override { return window_; }
  void Build() override {
    wxNotebook* nb = Notebook();
    if (!nb) return;
    book_ = nb;
    Listen(nb, wxEVT_DESTROY, [this, nb](wxWindowDestroyEvent& e) {
      if (e.GetEventObject() == nb) book_ = nullptr;
      e.Skip();
    });
    auto* page = new wxPanel(nb, wxID_ANY);
    int index = std::min(sheet_.PageIndex(), static_cast<int>(nb->GetPageCount()));
    {
      Suppress s(*this);
      PageControlPeer* pc = static_cast<PageControlPeer*>(PeerOf(sheet_.PageControl()));
      Suppress s2(*pc);
      nb->InsertPage(static_cast<size_t>(std::max(0, index)), page, ToWx(sheet_.Caption()),
                     sheet_.PageControl()->ActivePage() == &sheet_);
    }
    Attach(page);
  }
  void ApplyBounds() override {}  // the notebook sizes its pages
  void ApplyShown() override {}   // and shows the selected one
  void OnUpdate(TChange what) override {
    if (what == TChange::Text && window_ && book_) {
      int index = book_->FindPage(window_);
      if (index != wxNOT_FOUND)
        book_->SetPageText(static_cast<size_t>(index), ToWx(sheet_.Caption()));
    }
  }

 private:
  wxNotebook* Notebook() const {
    WxPeer* p = PeerOf(sheet_.PageControl());
    return p ? dynamic_cast<wxNotebook*>(p->Window()) : nullptr;
  }
  TTabSheet& sheet_;
  wxNotebook* book_ = nullptr;
};

// ---- captions and buttons ----

class LabelPeer : public WxPeer {
 public:
  using WxPeer::WxPeer;
  void Build() override {
    long style = AlignmentStyle(Alignment());
    if (!AutoSize()) style |= wxST_NO_AUTORESIZE;
    if (auto* st = dynamic_cast<TStaticText*>(control_)) {
      if (st->BorderStyle() == sbsSunken) style |= wxBORDER_SUNKEN;
      if (st->BorderStyle() == sbsSingle) style |= wxBORDER_SIMPLE;
    }
    Attach(new wxStaticText(ParentWindow(), wxID_ANY, Caption(), Position(), Size(), style));
    Fit();
  }
  void ApplyFont() override {
    WxPeer::ApplyFont();
    Fit();
  }
  void OnUpdate(TChange what) override {
    if (!window_) return;
    if (what == TChange::Text) {
      static_cast<wxStaticText*>(window_)->SetLabel(Caption());
      Fit();
    } else if (what == TChange::Style) {
      Rebuild();
    }
  }

 private:
  wxString Caption() const {
    if (auto* l = dynamic_cast<TLabel*>(control_)) return ToWxText(l->Caption());
    return ToWxText(static_cast<TStaticText*>(control_)->Caption());
  }
  bool AutoSize() const {
    if (auto* l = dynamic_cast<TLabel*>(control_)) return l->AutoSize();
    return static_cast<TStaticText*>(control_)->AutoSize();
  }
  TAlignment Alignment() const {
    if (auto* l = dynamic_cast<TLabel*>(control_)) return l->Alignment();
    return static_cast<TStaticText*>(control_)->Alignment();
  }
  // An auto-sized label takes the size of its text, in the control as well.
  void Fit() {
    if (!window_ || !control_) return;
    auto* label = static_cast<wxStaticText*>(window_);
    auto* l = dynamic_cast<TLabel*>(control_);
    if (l && l->WordWrap()) label->Wrap(std::max(1, control_->Width()));
    if (!AutoSize()) return;
    // The text's own extent in the label's font (the toolkit's best size keeps a size asked for
    // before the font was set), plus the border.
    wxClientDC dc(label);
    dc.SetFont(label->GetFont());
    wxSize best = dc.GetMultiLineTextExtent(label->GetLabelText()) +
                  (label->GetSize() - label->GetClientSize());
    control_->BoundsFromWindow(control_->Left(), control_->Top(), best.x, best.y);
    label->SetSize(wxRect(Position(), best));
  }
};

class ButtonPeer : public WxPeer {
 public:
  using WxPeer::WxPeer;
  void Build() override {
    auto* b = new wxButton(ParentWindow(), wxID_ANY, Caption(), Position(), Size());
    Attach(b);
    if (auto* button = dynamic_cast<TButton*>(control_); button && button->Default())
      b->SetDefault();
    Listen(b, wxEVT_BUTTON, [this](wxCommandEvent&) { Route([&] { control_->Click(); }); });
  }
  void OnUpdate(TChange what) override {
    if (!window_) return;
    if (what == TChange::Text) static_cast<wxButton*>(window_)->SetLabel(Caption());
    if (what == TChange::Style) {
      if (auto* button = dynamic_cast<TButton*>(control_); button && button->Default())
        static_cast<wxButton*>(window_)->SetDefault();
    }
  }

 private:
  wxString Caption() const {
    if (auto* b = dynamic_cast<TButton*>(control_)) return ToWx(b->Caption());
    return ToWx(static_cast<TSpeedButton*>(control_)->Caption());
  }
};

class CheckBoxPeer : public WxPeer {
 public:
  explicit CheckBoxPeer(TCheckBox& box) : WxPeer(box), box_(box) {}
  void Build() override {
    long style = box_.AllowGrayed() ? wxCHK_3STATE | wxCHK_ALLOW_3RD_STATE_FOR_USER : wxCHK_2STATE;
    if (box_.Alignment() == taLeftJustify) style |= wxALIGN_RIGHT;
    auto* c =
        new wxCheckBox(ParentWindow(), wxID_ANY, ToWx(box_.Caption()), Position(), Size(), style);
    Attach(c);
    ShowState();
    Listen(c, wxEVT_CHECKBOX, [this](wxCommandEvent&) {
      auto* cb = static_cast<wxCheckBox*>(window_);
      TCheckBoxState state = cb->Get3StateValue() == wxCHK_CHECKED        ? cbChecked
                             : cb->Get3StateValue() == wxCHK_UNDETERMINED ? cbGrayed
                                                                          : cbUnchecked;
      Route([&] { box_.SetState(state); });
      Suppress s(*this);
      ShowState();  // the box shows what the control holds after its handler
    });
  }
  void OnUpdate(TChange what) override {
    if (!window_) return;
    if (what == TChange::Checked) ShowState();
    if (what == TChange::Text) static_cast<wxCheckBox*>(window_)->SetLabel(ToWx(box_.Caption()));
    if (what == TChange::Style) Rebuild();
  }

 private:
  void ShowState() {
    auto* cb = static_cast<wxCheckBox*>(window_);
    if (!cb) return;
    wxCheckBoxState s = box_.State() == cbChecked                    ? wxCHK_CHECKED
                        : box_.State() == cbGrayed && cb->Is3State() ? wxCHK_UNDETERMINED
                                                                     : wxCHK_UNCHECKED;
    if (cb->Get3StateValue() != s) cb->Set3StateValue(s);
  }
  TCheckBox& box_;
};

class RadioButtonPeer : public WxPeer {
 public:
  explicit RadioButtonPeer(TRadioButton& button) : WxPeer(button), button_(button) {}
  void Build() override {
    auto* r = new wxRadioButton(ParentWindow(), wxID_ANY, ToWx(button_.Caption()), Position(),
                                Size(), wxRB_GROUP);
    // The button's own group: its siblings are unchecked by the control, this one by a hidden
    // second button (the toolkit cannot uncheck the last checked button of a group).
    none_ = new wxRadioButton(ParentWindow(), wxID_ANY, wxEmptyString);
    none_->Hide();
    Attach(r);
    ShowChecked();
    Listen(r, wxEVT_RADIOBUTTON, [this](wxCommandEvent&) {
      Route([&] { button_.Click(); });
      Suppress s(*this);
      ShowChecked();
    });
  }
  ~RadioButtonPeer() override { delete none_; }
  void OnUpdate(TChange what) override {
    if (!window_) return;
    if (what == TChange::Checked) ShowChecked();
    if (what == TChange::Text)
      static_cast<wxRadioButton*>(window_)->SetLabel(ToWx(button_.Caption()));
  }

 private:
  void ShowChecked() {
    if (button_.Checked())
      static_cast<wxRadioButton*>(window_)->SetValue(true);
    else if (none_)
      none_->SetValue(true);
  }
  TRadioButton& button_;
  wxRadioButton* none_ = nullptr;
};

// ---- edits ----

// An edit's text goes to and from the window whole, without the ANSI code page in between.
wxString WideToWx(const std::u16string& text) {
  return wxString::FromUTF8(platform::WideToUtf8(text));
}
std::u16string WxToWide(const wxString& text) {
  return platform::Utf8ToWide(text.utf8_string());
}

class EditPeer : public WxPeer {
 public:
  explicit EditPeer(TEdit& edit) : WxPeer(edit), edit_(edit) {}
  void Build() override {
    long style = 0;
    if (edit_.PasswordChar() != 0) style |= wxTE_PASSWORD;
    if (edit_.ReadOnly()) style |= wxTE_READONLY;
    auto* t = new wxTextCtrl(ParentWindow(), wxID_ANY, WideToWx(edit_.WideText()), Position(),
                             Size(), style);
    Attach(t);
    if (edit_.MaxLength() > 0) t->SetMaxLength(static_cast<unsigned long>(edit_.MaxLength()));
    Listen(t, wxEVT_TEXT, [this](wxCommandEvent&) {
      if (!window_) return;
      std::u16string text = WxToWide(static_cast<wxTextCtrl*>(window_)->GetValue());
      Route([&] { edit_.SetWideText(text); });
    });
    Listen(t, wxEVT_CHAR, [this](wxKeyEvent& e) { OnChar(e); });
  }
  void OnUpdate(TChange what) override {
    if (!window_) return;
    auto* t = static_cast<wxTextCtrl*>(window_);
    switch (what) {
      case TChange::Text:
        if (WxToWide(t->GetValue()) != edit_.WideText()) t->ChangeValue(WideToWx(edit_.WideText()));
        break;
      case TChange::ReadOnly:
        t->SetEditable(!edit_.ReadOnly());
        break;
      case TChange::Style:
        Rebuild();
        break;
      default:
        break;
    }
  }

 private:
  // A typed character passes OnKeyPress (a double-byte one as its two bytes).
  void OnChar(wxKeyEvent& e) {
    int code = e.GetUnicodeKey();
    if (code == WXK_NONE || suppress_ > 0 || !control_ || (code < 0x20 && code != WXK_BACK)) {
      e.Skip();
      return;
    }
    std::string bytes = code == WXK_BACK
                            ? std::string(1, VK_BACK)
                            : platform::WideToAnsi(std::u16string(1, static_cast<char16_t>(code)));
    std::string typed = bytes;
    Guarded(control_, [&] {
      for (char& b : typed) {
        edit_.KeyPress(b);
        if (b == 0) return;
      }
    });
    for (char b : typed)
      if (b == 0) return;  // dropped
    if (typed == bytes) {
      e.Skip();
      return;
    }
    if (typed == std::string(1, VK_BACK)) {
      e.Skip();
      return;
    }
    if (window_) static_cast<wxTextCtrl*>(window_)->WriteText(ToWx(typed));
  }
  TEdit& edit_;
};

class MemoPeer : public WxPeer {
 public:
  explicit MemoPeer(TMemo& memo) : WxPeer(memo), memo_(memo) {}
  void Build() override {
    long style = wxTE_MULTILINE | (memo_.WordWrap() ? wxTE_WORDWRAP : wxTE_DONTWRAP | wxHSCROLL);
    if (memo_.ReadOnly()) style |= wxTE_READONLY;
    auto* t =
        new wxTextCtrl(ParentWindow(), wxID_ANY, ToWxText(memo_.Text()), Position(), Size(), style);
    Attach(t);
    Listen(t, wxEVT_TEXT, [this](wxCommandEvent&) {
      if (!window_) return;
      std::string text = FromWxText(static_cast<wxTextCtrl*>(window_)->GetValue());
      Route([&] { memo_.TextEdited(text); });
    });
  }
  void OnUpdate(TChange what) override {
    if (!window_) return;
    auto* t = static_cast<wxTextCtrl*>(window_);
    if (what == TChange::Text) {
      if (FromWxText(t->GetValue()) != memo_.Text()) t->ChangeValue(ToWxText(memo_.Text()));
    } else if (what == TChange::ReadOnly) {
      t->SetEditable(!memo_.ReadOnly());
    } else if (what == TChange::Style) {
      Rebuild();
    }
  }

 private:
  TMemo& memo_;
};

// ---- lists ----

wxArrayString ToWxItems(const TControlStrings& items) {
  wxArrayString out;
  for (const auto& s : items.Items())
    out.Add(ToWx(s));
  return out;
}

class ComboPeer : public WxPeer {
 public:
  explicit ComboPeer(TComboBox& combo) : WxPeer(combo), combo_(combo) {}
  void Build() override {
    if (combo_.Style() == csDropDownList) {
      auto* c =
          new wxChoice(ParentWindow(), wxID_ANY, Position(), Size(), ToWxItems(combo_.Items()));
      Attach(c);
      Listen(c, wxEVT_CHOICE, [this](wxCommandEvent& e) {
        int index = e.GetSelection();
        Route([&] { combo_.SelectItem(index); });
      });
    } else {
      auto* c = new wxComboBox(ParentWindow(), wxID_ANY, ToWx(combo_.Text()), Position(), Size(),
                               ToWxItems(combo_.Items()),
                               combo_.Style() == csSimple ? wxCB_SIMPLE : wxCB_DROPDOWN);
      Attach(c);
      Listen(c, wxEVT_COMBOBOX, [this](wxCommandEvent& e) {
        int index = e.GetSelection();
        Route([&] { combo_.SelectItem(index); });
      });
      Listen(c, wxEVT_TEXT, [this](wxCommandEvent&) {
        if (!window_) return;
        std::string text = FromWx(static_cast<wxComboBox*>(window_)->GetValue());
        Route([&] { combo_.TextEdited(text); });
      });
    }
    ShowSelection();
  }
  void OnUpdate(TChange what) override {
    if (!window_) return;
    auto* items = dynamic_cast<wxItemContainer*>(window_);
    switch (what) {
      case TChange::Items:
        items->Set(ToWxItems(combo_.Items()));
        ShowSelection();
        break;
      case TChange::ItemIndex:
      case TChange::Text:
        ShowSelection();
        break;
      case TChange::Style:
        Rebuild();
        break;
      default:
        break;
    }
  }

 private:
  void ShowSelection() {
    if (auto* c = dynamic_cast<wxChoice*>(window_)) {
      c->SetSelection(combo_.ItemIndex() >= 0 ? combo_.ItemIndex() : wxNOT_FOUND);
    } else if (auto* cb = dynamic_cast<wxComboBox*>(window_)) {
      if (combo_.ItemIndex() >= 0 && cb->GetSelection() != combo_.ItemIndex())
        cb->SetSelection(combo_.ItemIndex());
      if (FromWx(cb->GetValue()) != combo_.Text()) cb->ChangeValue(ToWx(combo_.Text()));
    }
  }
  TComboBox& combo_;
};

class ListBoxPeer : public WxPeer {
 public:
  explicit ListBoxPeer(TListBox& list) : WxPeer(list), list_(list) {}
  void Build() override {
    auto* check = dynamic_cast<TCheckListBox*>(&list_);
    wxListBox* lb;
    if (check)
      lb = new wxCheckListBox(ParentWindow(), wxID_ANY, Position(), Size(),
                              ToWxItems(list_.Items()));
    else
      lb = new wxListBox(ParentWindow(), wxID_ANY, Position(), Size(), ToWxItems(list_.Items()),
                         wxLB_SINGLE);
    Attach(lb);
    ShowSelection();
    ShowChecks();
    Listen(lb, wxEVT_LISTBOX, [this](wxCommandEvent& e) {
      int index = e.GetSelection();
      Route([&] { list_.SelectItem(index); });
    });
    Listen(lb, wxEVT_LISTBOX_DCLICK, [this](wxCommandEvent&) { Route([&] { list_.DblClick(); }); });
    if (check) {
      Listen(lb, wxEVT_CHECKLISTBOX, [this, check](wxCommandEvent& e) {
        int index = e.GetSelection();
        Route([&] { check->ToggleByUser(index); });
        Suppress s(*this);
        ShowChecks();
      });
    }
  }
  void OnUpdate(TChange what) override {
    if (!window_) return;
    auto* lb = static_cast<wxListBox*>(window_);
    switch (what) {
      case TChange::Items:
        lb->Set(ToWxItems(list_.Items()));
        ShowSelection();
        ShowChecks();
        break;
      case TChange::ItemIndex:
        ShowSelection();
        break;
      case TChange::Checked:
        ShowChecks();
        break;
      default:
        break;
    }
  }

 private:
  void ShowSelection() {
    auto* lb = static_cast<wxListBox*>(window_);
    if (list_.ItemIndex() >= 0)
      lb->SetSelection(list_.ItemIndex());
    else if (lb->GetSelection() != wxNOT_FOUND)
      lb->DeselectAll();
  }
  void ShowChecks() {
    auto* check = dynamic_cast<TCheckListBox*>(&list_);
    auto* clb = dynamic_cast<wxCheckListBox*>(window_);
    if (!check || !clb) return;
    for (int i = 0; i < check->Items().Count() && i < static_cast<int>(clb->GetCount()); ++i)
      if (clb->IsChecked(static_cast<unsigned>(i)) != check->Checked(i))
        clb->Check(static_cast<unsigned>(i), check->Checked(i));
  }
  TListBox& list_;
};

// A report list whose rows the list view keeps: texts and colours are asked for when drawn, as
// the class library's custom draw does.
class ReportList : public wxListCtrl {
 public:
  ReportList(wxWindow* parent, wxPoint pos, wxSize size, long style, TListView& view)
      : wxListCtrl(parent, wxID_ANY, pos, size, style), view_(&view) {}
  void Forget() { view_ = nullptr; }
  void ResetErrors() { reported_ = false; }
  wxString OnGetItemText(long item, long column) const override {
    if (!view_ || item < 0 || item >= view_->Items().Count()) return wxEmptyString;
    return ToWx(view_->Items().Item(static_cast<int>(item))->ColumnText(static_cast<int>(column)));
  }
  wxItemAttr* OnGetItemAttr(long item) const override {
    if (!view_ || item < 0 || item >= view_->Items().Count()) return nullptr;
    TColor color = view_->Font().Color();
    try {
      color = view_->ItemTextColor(static_cast<int>(item));
    } catch (...) {
      // Reported once until the rows change, not at every repaint.
      if (!reported_) {
        reported_ = true;
        Application().HandleException(view_);
      }
    }
    if (color == view_->Font().Color()) return nullptr;
    attr_.SetTextColour(ToColour(color));
    return &attr_;
  }

 private:
  TListView* view_;
  mutable wxItemAttr attr_;
  mutable bool reported_ = false;
};

class ListViewPeer : public WxPeer {
 public:
  explicit ListViewPeer(TListView& view) : WxPeer(view), view_(view) {}
  ~ListViewPeer() override {
    if (list_) list_->Forget();
  }
  void Build() override {
    long style = wxLC_REPORT | wxLC_VIRTUAL | wxLC_SINGLE_SEL;
    if (view_.GridLines()) style |= wxLC_HRULES | wxLC_VRULES;
    list_ = new ReportList(ParentWindow(), Position(), Size(), style, view_);
    Attach(list_);
    Listen(list_, wxEVT_DESTROY, [this](wxWindowDestroyEvent& e) {
      if (e.GetEventObject() == list_) list_ = nullptr;
      e.Skip();
    });
    ShowColumns();
    ShowRows();
    Listen(list_, wxEVT_LIST_ITEM_SELECTED, [this](wxListEvent& e) {
      int index = static_cast<int>(e.GetIndex());
      Route([&] { view_.SelectItem(index); });
    });
    Listen(list_, wxEVT_LIST_ITEM_DESELECTED, [this](wxListEvent& e) {
      int index = static_cast<int>(e.GetIndex());
      Route([&] {
        if (index >= 0 && index < view_.Items().Count())
          view_.Items().Item(index)->SetSelected(false);
      });
    });
    Listen(list_, wxEVT_LIST_ITEM_ACTIVATED,
           [this](wxListEvent&) { Route([&] { view_.DblClick(); }); });
  }
  void OnUpdate(TChange what) override {
    if (!list_) return;
    if (what == TChange::Style) {
      Rebuild();
    } else if (what == TChange::ListItems || what == TChange::Columns) {
      ShowColumns();
      ShowRows();
    }
  }
  void ItemChanged(int index) override {
    if (!list_ || !control_ || index < 0 || index >= view_.Items().Count()) return;
    Suppress s(*this);
    list_->ResetErrors();
    ShowSelected(index);
    list_->RefreshItem(index);
  }

 private:
  void ShowColumns() {
    bool same = list_->GetColumnCount() == view_.Columns().Count();
    for (int i = 0; same && i < view_.Columns().Count(); ++i) {
      wxListItem col;
      col.SetMask(wxLIST_MASK_TEXT | wxLIST_MASK_WIDTH);
      list_->GetColumn(i, col);
      same = col.GetText() == ToWx(view_.Columns()[i]->Caption()) &&
             col.GetWidth() == view_.Columns()[i]->Width();
    }
    if (same) return;
    Suppress s(*this);
    list_->DeleteAllColumns();
    for (int i = 0; i < view_.Columns().Count(); ++i) {
      TListColumn* c = view_.Columns()[i];
      list_->InsertColumn(i, ToWx(c->Caption()),
                          c->Alignment() == taRightJustify ? wxLIST_FORMAT_RIGHT
                          : c->Alignment() == taCenter     ? wxLIST_FORMAT_CENTRE
                                                           : wxLIST_FORMAT_LEFT,
                          c->Width());
    }
  }
  void ShowRows() {
    Suppress s(*this);
    list_->ResetErrors();
    list_->SetItemCount(view_.Items().Count());
    for (int i = 0; i < view_.Items().Count(); ++i)
      ShowSelected(i);
    list_->Refresh();
  }
  void ShowSelected(int index) {
    bool selected = view_.Items().Item(index)->Selected();
    bool shown = list_->GetItemState(index, wxLIST_STATE_SELECTED) != 0;
    if (selected != shown)
      list_->SetItemState(index, selected ? wxLIST_STATE_SELECTED : 0, wxLIST_STATE_SELECTED);
  }
  TListView& view_;
  ReportList* list_ = nullptr;
};

// A control without a window of its own kind: nothing is drawn.
class NullPeer : public WxPeer {
 public:
  using WxPeer::WxPeer;
  void Build() override {}
};

}  // namespace

TControl* ControlAt(wxPoint screenPoint) {
  WxPeer* p = FindPeer(wxFindWindowAtPoint(screenPoint));
  if (!p) return nullptr;
  TControl* c = p->Control();
  if (c && p->IsContainer()) {
    wxPoint local = p->ClientWindow()->ScreenToClient(screenPoint);
    c = Deepest(static_cast<TWinControl*>(c), local.x, local.y);
  }
  return c;
}

std::unique_ptr<TControlPeer> CreateWxPeer(TControl& control) {
  std::unique_ptr<WxPeer> peer;
  if (auto* c = dynamic_cast<TForm*>(&control))
    peer = std::make_unique<FormPeer>(*c);
  else if (auto* c = dynamic_cast<TTabSheet*>(&control))
    peer = std::make_unique<TabSheetPeer>(*c);
  else if (auto* c = dynamic_cast<TPageControl*>(&control))
    peer = std::make_unique<PageControlPeer>(*c);
  else if (auto* c = dynamic_cast<TRadioGroup*>(&control))
    peer = std::make_unique<RadioGroupPeer>(*c);
  else if (dynamic_cast<TGroupBox*>(&control))
    peer = std::make_unique<GroupBoxPeer>(control);
  else if (auto* c = dynamic_cast<TListBox*>(&control))
    peer = std::make_unique<ListBoxPeer>(*c);
  else if (auto* c = dynamic_cast<TComboBox*>(&control))
    peer = std::make_unique<ComboPeer>(*c);
  else if (auto* c = dynamic_cast<TMemo*>(&control))
    peer = std::make_unique<MemoPeer>(*c);
  else if (auto* c = dynamic_cast<TEdit*>(&control))
    peer = std::make_unique<EditPeer>(*c);
  else if (auto* c = dynamic_cast<TCheckBox*>(&control))
    peer = std::make_unique<CheckBoxPeer>(*c);
  else if (auto* c = dynamic_cast<TRadioButton*>(&control))
    peer = std::make_unique<RadioButtonPeer>(*c);
  else if (dynamic_cast<TButton*>(&control) || dynamic_cast<TSpeedButton*>(&control))
    peer = std::make_unique<ButtonPeer>(control);
  else if (dynamic_cast<TLabel*>(&control) || dynamic_cast<TStaticText*>(&control))
    peer = std::make_unique<LabelPeer>(control);
  else if (auto* c = dynamic_cast<TListView*>(&control))
    peer = std::make_unique<ListViewPeer>(*c);
  else if (dynamic_cast<TWinControl*>(&control))
    peer = std::make_unique<PanelPeer>(control);
  else
    peer = std::make_unique<NullPeer>(control);
  peer->Build();
  return peer;
}

}  // namespace ui::wx
