// The file list box: the files of a folder that match a mask, as a sorted list.
#pragma once

#include <string>

#include "ui/StdCtrls.h"

namespace ui {

// Lists the names (without folder) of the files in Directory that match Mask ("*.ini"; several
// masks parted by ";"; letter case ignored, as the file dialogs of the original platform match).
// Hidden files (a leading ".") and folders are not listed. The list is sorted as a sorted list box.
class TFileListBox : public TListBox {
 public:
  explicit TFileListBox(rtl::TComponent* owner);
  const std::string& Directory() const { return directory_; }
  void SetDirectory(std::string directory);  // reads the folder
  const std::string& Mask() const { return mask_; }
  void SetMask(std::string mask);  // reads the folder again
  // Reads the folder again (a folder that cannot be read lists nothing).
  void Update();

 private:
  std::string directory_;
  std::string mask_ = "*.*";
};

// Whether a file name matches a mask of "*" and "?" (letter case ignored; "*.*" matches every
// name, also one without a dot).
bool MatchesMask(std::string_view name, std::string_view mask);

}  // namespace ui
