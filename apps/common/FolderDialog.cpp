#include "apps/common/FolderDialog.h"

#include <sys/stat.h>

#include "platform/CodePage.h"
#include "ui/Controls.h"
#include "ui/Shell.h"

namespace {
bool IsDirectory(const std::string& ansiPath) {
  if (ansiPath.empty()) return false;
  struct stat st;
  return stat(platform::AnsiToUtf8(ansiPath).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}
}  // namespace

TFolderDialog::TFolderDialog(rtl::TComponent* owner)
    : rtl::TComponent(owner), title_(platform::Utf8ToAnsi("フォルダーの選択")) {}

bool TFolderDialog::Execute() {
  auto* owner = dynamic_cast<ui::TWinControl*>(Owner());
  if (!owner) throw rtl::EInvalidCast();
  std::string initial = IsDirectory(directory_) ? directory_ : std::string();
  std::string chosen;
  if (!ui::Shell().BrowseForFolder(owner, title_, initial, chosen)) return false;
  // Only a folder of the file system counts (a name that the ANSI code page cannot hold, or a
  // virtual location, does not).
  if (!IsDirectory(chosen)) return false;
  directory_ = chosen;
  return true;
}
