// TFolderDialog: lets the user choose a folder in the toolkit's directory dialog and keeps the
// folder chosen last, which the next dialog opens on.
#pragma once

#include <string>

#include "platform/RtlClasses.h"

class TFolderDialog : public rtl::TComponent {
 public:
  explicit TFolderDialog(rtl::TComponent* owner);

  // The chosen folder (a full path, ANSI code page); selected when the dialog opens, while it
  // still exists.
  const std::string& Directory() const { return directory_; }
  void SetDirectory(std::string directory) {
    directory_ = std::move(directory);
    osDirectory_.clear();
  }
  // The chosen folder as the file system spells it (UTF-8). Directory is its name in the ANSI
  // code page, which may not hold it exactly (a character that code page 932 has not becomes
  // "?"); the caller decides what such a folder means. Empty until a folder is chosen, and after
  // SetDirectory.
  const std::string& OsDirectory() const { return osDirectory_; }
  // The text above the folder tree: "フォルダーの選択" unless set.
  const std::string& Title() const { return title_; }
  void SetTitle(std::string title) { title_ = std::move(title); }

  // Shows the dialog modally over the owner's window. True when the user pressed OK on a folder
  // of the file system, whatever its name; Directory and OsDirectory then hold it. Cancel, or a
  // choice that is no folder, gives false and leaves both as they were. An owner that is not a
  // window control raises EInvalidCast.
  bool Execute();

 private:
  std::string directory_;
  std::string osDirectory_;
  std::string title_;
};
