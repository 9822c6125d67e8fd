#include "platform/ProgramFolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <vector>

#include "platform/CodePage.h"
#include "platform/RtlSysUtils.h"

namespace platform {

namespace {

std::mutex gMutex;
std::string gFolderOverride;
std::string gFileOverride;

std::string RealProgramFile() {
  std::vector<char> buf(4096);
  for (;;) {
    ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) return std::string();
    if (static_cast<size_t>(n) < buf.size()) return Utf8ToAnsi(std::string_view(buf.data(), n));
    buf.resize(buf.size() * 2);
  }
}

}  // namespace

std::string ProgramFile() {
  {
    std::lock_guard<std::mutex> lock(gMutex);
    if (!gFolderOverride.empty()) return gFolderOverride + gFileOverride;
  }
  return RealProgramFile();
}

std::string ProgramFolder() {
  {
    std::lock_guard<std::mutex> lock(gMutex);
    if (!gFolderOverride.empty()) return gFolderOverride;
  }
  std::string folder = rtl::ExtractFilePath(RealProgramFile());
  return folder.empty() ? std::string("/") : folder;
}

void SetProgramFolderForTests(const std::string& folder, const std::string& fileName) {
  std::string name = fileName.empty() ? rtl::ExtractFileName(RealProgramFile()) : fileName;
  std::lock_guard<std::mutex> lock(gMutex);
  gFolderOverride = folder.empty() ? std::string() : rtl::IncludeTrailingPathDelimiter(folder);
  gFileOverride = name;
}

namespace {

// Why another user could change the entry st describes; empty when nobody can but its owner, the
// running user or root.
std::string OthersMayWrite(const struct stat& st, bool stickyAllowed) {
  if (st.st_uid != 0 && st.st_uid != ::geteuid()) return Utf8ToAnsi("所有者が root ではありません");
  if ((st.st_mode & (S_IWGRP | S_IWOTH)) != 0 && !(stickyAllowed && (st.st_mode & S_ISVTX)))
    return Utf8ToAnsi("グループか他のユーザーが書き込めます");
  return {};
}

bool Refuse(const std::string& path, const std::string& why, std::string* problem) {
  if (problem)
    *problem = path + Utf8ToAnsi(" は他のユーザーが書き換えられるため起動しません (") + why + ")";
  return false;
}

}  // namespace

bool ProgramFolderIsProtected(const std::vector<std::string>& entries, std::string* problem) {
  const std::string folder = ProgramFolder();
  // The folder itself, then each one above it.
  std::string dir = rtl::ExcludeTrailingPathDelimiter(folder);
  for (bool first = true;; first = false) {
    const std::string shown = dir.empty() ? "/" : dir;
    struct stat st;
    if (::stat(AnsiToUtf8(shown).c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
      return Refuse(shown, Utf8ToAnsi("フォルダを調べられません"), problem);
    const std::string why = OthersMayWrite(st, !first);
    if (!why.empty()) return Refuse(shown, why, problem);
    if (dir.empty() || dir == "/") break;
    const std::string parent = rtl::ExcludeTrailingPathDelimiter(rtl::ExtractFilePath(dir));
    if (parent == dir) break;
    dir = parent;
  }
  for (const std::string& entry : entries) {
    const std::string path = folder + entry;
    struct stat st;
    if (::stat(AnsiToUtf8(path).c_str(), &st) != 0) {
      if (errno == ENOENT) continue;
      return Refuse(path, Utf8ToAnsi("調べられません"), problem);
    }
    const std::string why = OthersMayWrite(st, false);
    if (!why.empty()) return Refuse(path, why, problem);
  }
  return true;
}

std::string ArgumentToAnsi(const char* utf8Argument) {
  return utf8Argument ? Utf8ToAnsi(utf8Argument) : std::string();
}

}  // namespace platform
