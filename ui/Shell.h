// The shell's services for the programs: file drops on windows, the directory dialog, the open
// dialog's system side, and opening a file with its default program. Tests put a fake in place
// with SetShell.
#pragma once

#include <string>

#include "ui/Controls.h"

namespace ui {

class TOpenDialog;

class TShell {
 public:
  virtual ~TShell() = default;

  // File drops. A window hands each drop to its drop handler while it accepts files; a hook
  // replaces the handler and later puts the previous one back.
  virtual void AcceptFiles(TWinControl& window, bool accept);
  virtual TDropHandler GetDropHandler(TWinControl& window);
  virtual void SetDropHandler(TWinControl& window, TDropHandler handler);

  // The directory dialog over owner's window: true with path when the user chose a folder with OK.
  // initialDir (may be empty) is selected when the dialog opens. Both paths are spelled as the
  // file system spells them (UTF-8), so that every folder can be named; the title is ANSI.
  virtual bool BrowseForFolder(TWinControl* owner, const std::string& title,
                               const std::string& initialDir, std::string& path);
  // The open dialog's system side: true with the chosen file's name as the user gave it and the
  // 1-based filter index (TOpenDialog::Execute adds the default extension).
  virtual bool GetOpenFileName(TOpenDialog& dialog, TWinControl* owner, std::string& fileName,
                               int& filterIndex);
  // Opens a file or an address with the user's default program (xdg-open, started detached and
  // not waited for). False when it cannot be started.
  virtual bool OpenDocument(const std::string& path);
};

// The service in use (the real one unless a test set another).
TShell& Shell();
// Puts a service in place (null: the real one); returns the one that was in place.
TShell* SetShell(TShell* shell);

}  // namespace ui
