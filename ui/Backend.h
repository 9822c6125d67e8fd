// What a toolkit backend gives the widget layer: a window for each control, the message loop,
// message boxes and the common dialogs. The layer works without one (headless); a backend is
// started only when a form is shown (see TApplication).
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "ui/Graphics.h"

namespace ui {

class TControl;
class TForm;
class TWinControl;
class TOpenDialog;
class TPopupMenu;

// The property of a control that changed, for its window to follow.
enum class TChange {
  Bounds,   // Left, Top, Width, Height (also sent to the children of a moved container)
  Text,     // caption or text
  Enabled,  // also sent to the children of a control whose state changed
  Visible,  // likewise
  Color,
  Font,
  Hint,
  Items,      // the item list of a list, combo, radio group, check-list box or memo
  ItemIndex,  // the selected item, a radio group's choice, a page control's active page
  Checked,    // check box, radio button, check-list box ticks
  Style,      // a property that needs a new window (password character, combo style, ...)
  ReadOnly,
  Columns,      // list view columns
  ListItems,    // list view rows (all)
  Menu,         // the form's main menu or its items
  Focus,        // the control is to get the keyboard focus
  WindowState,  // form: normal, minimised, maximised
  Caption,      // form caption
  AcceptFiles,  // whether the window takes file drops
};

// The toolkit's window of one control.
class TControlPeer {
 public:
  virtual ~TControlPeer() = default;
  virtual void Update(TChange what) = 0;
  // A list view row changed (its texts, selection or colour).
  virtual void ItemChanged(int /*index*/) {}
};

class TBackend {
 public:
  virtual ~TBackend() = default;

  // A window for control; its parent (if any) has its window already. Forms get theirs when shown.
  virtual std::unique_ptr<TControlPeer> CreatePeer(TControl& control) = 0;

  // Handles the pending events and returns.
  virtual void ProcessMessages() = 0;
  // Runs the message loop until Terminate.
  virtual void RunMainLoop() = 0;
  virtual void Terminate() = 0;
  // Runs events until EndModal(form) or Terminate.
  virtual void WaitModal(TForm& form) = 0;
  virtual void EndModal(TForm& form) = 0;

  // The system's message box over parent (may be null); returns IDOK... The text is wide (it
  // may hold what code page 932 cannot), the caption in the ANSI code page.
  virtual int MessageBox(TForm* parent, const std::u16string& text, const std::string& caption,
                         int flags) = 0;
  // The open-file dialog; true with fileName (and the 1-based filterIndex) when a file was chosen.
  virtual bool OpenFileDialog(TOpenDialog& dialog, TWinControl* owner, std::string& fileName,
                              int& filterIndex) = 0;
  // The directory dialog; true with path when the user chose a folder with OK. Paths as the file
  // system spells them (UTF-8).
  virtual bool BrowseForFolder(TWinControl* owner, const std::string& title,
                               const std::string& initialDir, std::string& path) = 0;
  // Shows menu at a point in screen coordinates and runs the chosen item.
  virtual void Popup(TPopupMenu& menu, TPoint screenPoint) = 0;
  // Screen coordinates of a control's client point.
  virtual TPoint ClientToScreen(TControl& control, TPoint point) = 0;
  // The toolkit's font resolution, measured once at its start: 96 at the usual size of text,
  // more when the desktop's text is larger. Forms scale to it.
  virtual int PixelsPerInch() const { return 96; }
};

using TBackendFactory = std::function<std::unique_ptr<TBackend>()>;

// A backend built as a loadable module exports one function, kBackendEntry, of type TBackendEntry:
// given the program's name for the toolkit, it returns the function that starts the backend.
using TBackendStart = std::unique_ptr<TBackend> (*)();
extern "C" {
using TBackendEntry = TBackendStart (*)(const char* programName);
}
inline constexpr char kBackendEntry[] = "SvBackendEntry";

}  // namespace ui
