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
  void SetDirectory(std::string directory) { directory_ = std::move(directory); }
  // The text above the folder tree: "フォルダーの選択" unless set.
  const std::string& Title() const { return title_; }
  void SetTitle(std::string title) { title_ = std::move(title); }

  // Shows the dialog modally over the owner's window. True only when the user pressed OK on a
  // folder of the file system; Directory then holds it. Cancel, or a choice that is no folder,
  // gives false and leaves Directory as it was. An owner that is not a window control raises
  // EInvalidCast.
  bool Execute();

 private:
  std::string directory_;
  std::string title_;
};
