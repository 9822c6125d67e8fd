// Inside the wxWidgets backend: text and colour conversions and the base of the control windows.
#pragma once

#include <wx/wx.h>

#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "ui/Backend.h"
#include "ui/Controls.h"
#include "ui/Forms.h"
#include "ui/Menus.h"

namespace ui::wx {

// ANSI (code page 932) <-> the toolkit's text. ToWxText also turns CR LF into the toolkit's LF.
wxString ToWx(std::string_view ansi);
wxString ToWxText(std::string_view ansi);
wxString ToWxText(std::u16string_view wide);  // likewise, from wide text
std::string FromWx(const wxString& text);
std::string FromWxText(const wxString& text);  // LF -> CR LF
wxColour ToColour(TColor color);
wxFont ToFont(const TFont& font);

// Runs a handler of a toolkit event: an exception goes to the application's error report, as the
// class library's message loop does.
template <class F>
void Guarded(rtl::TObject* sender, F&& f) {
  try {
    f();
  } catch (...) {
    Application().HandleException(sender);
  }
}

// The window of one control. Children of a group box or radio group are placed in the window of
// the nearest real container (form, panel, tab sheet) with the group's offset, so every control's
// coordinates are the layer's.
class WxPeer : public TControlPeer {
 public:
  explicit WxPeer(TControl& control) : control_(&control) {}
  ~WxPeer() override;
  // Makes the window(s); called once right after construction.
  virtual void Build() = 0;

  TControl* Control() const { return control_; }
  wxWindow* Window() const { return window_; }
  // Where children's windows go (and drops arrive): a real container's window, else null.
  virtual wxWindow* ClientWindow() const { return nullptr; }
  bool IsContainer() const { return ClientWindow() != nullptr; }

  void Update(TChange what) override;

 protected:
  // Takes w as this control's window: registers it and applies the common properties.
  void Attach(wxWindow* w);
  // Destroys the window (for a new one with another style).
  void DestroyWindow();
  void Rebuild();
  // The parent window of this control's window and its position there.
  wxWindow* ParentWindow() const;
  wxPoint Position() const;
  wxSize Size() const;
  // Visible, with the groups that hold it, up to the nearest real container.
  bool Shown() const;
  virtual void ApplyBounds();
  virtual void ApplyEnabled();
  virtual void ApplyShown();
  virtual void ApplyFont();
  void ApplyColour();
  void ApplyHint();
  void ApplyDropTarget();
  // Kind-specific properties.
  virtual void OnUpdate(TChange) {}
  // Runs an event handler unless the change is our own.
  template <class F>
  void Route(F&& f) {
    if (suppress_ > 0 || !control_) return;
    Guarded(control_, std::forward<F>(f));
  }
  // Binds a handler that runs only while this peer exists (a top-level window outlives its peer
  // until the toolkit frees it).
  template <class Tag, class F>
  void Listen(wxEvtHandler* source, const Tag& type, F handler) {
    source->Bind(type, [alive = alive_, handler](auto& event) {
      if (*alive)
        handler(event);
      else
        event.Skip();
    });
  }
  struct Suppress {
    explicit Suppress(WxPeer& p) : peer(p) { ++peer.suppress_; }
    ~Suppress() { --peer.suppress_; }
    WxPeer& peer;
  };

  TControl* control_;
  wxWindow* window_ = nullptr;
  int suppress_ = 0;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

WxPeer* PeerOf(const TControl* control);
std::unique_ptr<TControlPeer> CreateWxPeer(TControl& control);

// Menus made for the toolkit: every command id stands for one item.
struct MenuIds {
  std::map<int, TMenuItem*> items;
  int next = wxID_HIGHEST + 1000;
};
wxMenu* BuildMenu(const TMenuItem& item, MenuIds& ids);
wxMenuBar* BuildMenuBar(const TMainMenu& menu, MenuIds& ids);

// The registry of windows, for finding the control of a toolkit window.
void RegisterWindow(wxWindow* window, WxPeer* peer);
void UnregisterWindow(wxWindow* window);
WxPeer* FindPeer(wxWindow* window);

}  // namespace ui::wx
