#include "ui/FileCtrl.h"

#include <dirent.h>
#include <sys/stat.h>

#include <vector>

#include "platform/CodePage.h"

namespace ui {

namespace {
char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

bool Match(std::string_view name, std::string_view mask) {
  size_t n = 0, m = 0, starM = std::string_view::npos, starN = 0;
  while (n < name.size()) {
    if (m < mask.size() && (mask[m] == '?' || Lower(mask[m]) == Lower(name[n]))) {
      ++n;
      ++m;
    } else if (m < mask.size() && mask[m] == '*') {
      starM = m++;
      starN = n;
    } else if (starM != std::string_view::npos) {
      m = starM + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == '*')
    ++m;
  return m == mask.size();
}
}  // namespace

bool MatchesMask(std::string_view name, std::string_view mask) {
  if (mask == "*.*" || mask == "*") return true;
  return Match(name, mask);
}

TFileListBox::TFileListBox(rtl::TComponent* owner) : TListBox(owner) {
  SetSorted(true);
}

void TFileListBox::SetDirectory(std::string directory) {
  directory_ = std::move(directory);
  Update();
}

void TFileListBox::SetMask(std::string mask) {
  mask_ = std::move(mask);
  Update();
}

void TFileListBox::Update() {
  std::vector<std::string> masks;
  for (size_t p = 0; p <= mask_.size();) {
    size_t e = mask_.find(';', p);
    if (e == std::string::npos) e = mask_.size();
    if (e > p) masks.push_back(mask_.substr(p, e - p));
    p = e + 1;
  }
  std::vector<std::string> names;
  std::string folder = platform::AnsiToUtf8(directory_);
  if (!folder.empty() && folder.back() != '/') folder += '/';
  if (DIR* dir = directory_.empty() ? nullptr : opendir(folder.c_str())) {
    while (dirent* entry = readdir(dir)) {
      std::string utf8 = entry->d_name;
      if (utf8.empty() || utf8[0] == '.') continue;
      struct stat st;
      if (stat((folder + utf8).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
      std::string name = platform::Utf8ToAnsi(utf8);
      for (const auto& m : masks) {
        if (MatchesMask(name, m)) {
          names.push_back(name);
          break;
        }
      }
    }
    closedir(dir);
  }
  Items().Assign(names);
}

}  // namespace ui
