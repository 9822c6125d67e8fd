#include "apps/common/FolderDialog.h"

#include <sys/stat.h>

#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "ui/Controls.h"
#include "ui/Shell.h"

namespace {
bool IsOsDirectory(const std::string& utf8Path) {
  if (utf8Path.empty()) return false;
  struct stat st;
  return stat(utf8Path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}
}  // namespace

TFolderDialog::TFolderDialog(rtl::TComponent* owner)
    : rtl::TComponent(owner), title_(platform::Utf8ToAnsi("フォルダーの選択")) {}

bool TFolderDialog::Execute() {
  auto* owner = dynamic_cast<ui::TWinControl*>(Owner());
  if (!owner) throw rtl::EInvalidCast();
  // The folder chosen last by its real name; a Directory set by the caller as the file system
  // reaches it (a name typed with 〜 is found under its code page 932 spelling).
  std::string initial;
  if (IsOsDirectory(osDirectory_))
    initial = osDirectory_;
  else if (osDirectory_.empty() && platform::DirectoryExists(directory_))
    initial = platform::OsPath(directory_);
  std::string chosen;
  if (!ui::Shell().BrowseForFolder(owner, title_, initial, chosen)) return false;
  if (!IsOsDirectory(chosen)) return false;  // a virtual location, or gone since
  osDirectory_ = chosen;
  directory_ = platform::Utf8ToAnsi(chosen);
  return true;
}
