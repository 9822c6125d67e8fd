#include "platform/FileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <random>

#include "platform/CodePage.h"
#include "platform/RtlSysUtils.h"

namespace platform {

namespace {

std::string Os(const std::string& ansi) {
  return AnsiToUtf8(ansi);
}

bool Fail(std::string* error, const std::string& what, int err) {
  if (error) *error = what + ": " + std::strerror(err);
  errno = err;
  return false;
}

// Closes a descriptor when it goes.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { Reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int Get() const { return fd_; }
  void Reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  // Closes now and reports whether close succeeded.
  bool Close() {
    int fd = fd_;
    fd_ = -1;
    return fd < 0 || ::close(fd) == 0;
  }

 private:
  int fd_;
};

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

std::string RandomSuffix() {
  static thread_local std::mt19937_64 rng(std::random_device{}() ^
                                          (static_cast<uint64_t>(::getpid()) << 32));
  static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::string s;
  for (int i = 0; i < 10; ++i)
    s += kChars[rng() % (sizeof kChars - 1)];
  return s;
}

// Creates a new, empty temporary file in folder; returns its descriptor and ANSI path.
int CreateTempFile(const std::string& folder, std::string& path, std::string* error) {
  std::string dir = rtl::IncludeTrailingPathDelimiter(folder.empty() ? "./" : folder);
  for (int attempt = 0; attempt < 100; ++attempt) {
    path = dir + ".~sv" + RandomSuffix() + ".tmp";
    int fd = ::open(Os(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) return fd;
    if (errno != EEXIST) {
      Fail(error, "cannot create a temporary file in " + dir, errno);
      return -1;
    }
  }
  Fail(error, "cannot create a temporary file in " + dir, EEXIST);
  return -1;
}

void SyncFolderOf(const std::string& osPath) {
  std::string dir = osPath;
  size_t p = dir.rfind('/');
  dir = p == std::string::npos ? std::string(".") : (p == 0 ? std::string("/") : dir.substr(0, p));
  int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

// The next character of a code page 932 text: one or two bytes.
size_t CharLen(std::string_view s, size_t i) {
  return IsDBCSLeadByte(static_cast<uint8_t>(s[i])) && i + 1 < s.size() ? 2 : 1;
}

char FoldAscii(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool SameChar(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  if (a.size() == 1) return FoldAscii(a[0]) == FoldAscii(b[0]);
  return a == b;
}

bool MatchFrom(std::string_view name, size_t ni, std::string_view mask, size_t mi) {
  while (mi < mask.size()) {
    if (mask[mi] == '*') {
      while (mi < mask.size() && mask[mi] == '*')
        ++mi;
      if (mi == mask.size()) return true;
      for (size_t k = ni; k <= name.size(); k += (k < name.size() ? CharLen(name, k) : 1))
        if (MatchFrom(name, k, mask, mi)) return true;
      return false;
    }
    if (ni >= name.size()) return false;
    size_t nl = CharLen(name, ni);
    size_t ml = CharLen(mask, mi);
    if (!(ml == 1 && mask[mi] == '?') && !SameChar(name.substr(ni, nl), mask.substr(mi, ml)))
      return false;
    ni += nl;
    mi += ml;
  }
  return ni == name.size();
}

}  // namespace

bool FileExists(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(Os(path).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(Os(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int64_t FileSize(const std::string& path) {
  struct stat st;
  if (path.empty() || ::stat(Os(path).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return static_cast<int64_t>(st.st_size);
}

bool DeleteFile(const std::string& path, std::string* error) {
  std::string os = Os(path);
  struct stat st;
  if (::lstat(os.c_str(), &st) != 0) return Fail(error, "cannot delete " + path, errno);
  if (S_ISDIR(st.st_mode)) return Fail(error, "cannot delete " + path, EISDIR);
  if (::unlink(os.c_str()) != 0) return Fail(error, "cannot delete " + path, errno);
  return true;
}

bool ForceDirectories(const std::string& path, std::string* error) {
  std::string dir = rtl::ExcludeTrailingPathDelimiter(path);
  if (dir.empty()) return DirectoryExists("/");
  if (DirectoryExists(dir)) return true;
  std::string parent = rtl::ExtractFilePath(dir);
  if (!parent.empty() && parent != dir && !ForceDirectories(parent, error)) return false;
  if (::mkdir(Os(dir).c_str(), 0777) != 0 && !(errno == EEXIST && DirectoryExists(dir)))
    return Fail(error, "cannot make the folder " + dir, errno);
  return true;
}

bool ReadFileBytes(const std::string& path, std::string& bytes, std::string* error) {
  Fd fd(::open(Os(path).c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.Get() < 0) return Fail(error, "cannot open " + path, errno);
  struct stat st;
  if (::fstat(fd.Get(), &st) != 0) return Fail(error, "cannot read " + path, errno);
  if (S_ISDIR(st.st_mode)) return Fail(error, "cannot read " + path, EISDIR);
  std::string out;
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd.Get(), buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Fail(error, "cannot read " + path, errno);
    if (n == 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  bytes = std::move(out);
  return true;
}

bool AppendToFile(const std::string& path, std::string_view bytes, std::string* error) {
  Fd fd(::open(Os(path).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666));
  if (fd.Get() < 0) return Fail(error, "cannot open " + path, errno);
  if (!WriteAll(fd.Get(), bytes.data(), bytes.size()))
    return Fail(error, "cannot write " + path, errno);
  if (!fd.Close()) return Fail(error, "cannot write " + path, errno);
  return true;
}

std::string UniqueTempName(const std::string& folder, const std::string& prefix) {
  std::string dir = rtl::IncludeTrailingPathDelimiter(folder.empty() ? "./" : folder);
  for (;;) {
    std::string path = dir + prefix + RandomSuffix() + ".tmp";
    struct stat st;
    if (::lstat(Os(path).c_str(), &st) != 0 && errno == ENOENT) return path;
  }
}

bool ReplaceFileAtomic(const std::string& tempPath, const std::string& target, std::string* error) {
  std::string osTemp = Os(tempPath);
  std::string osTarget = Os(target);
  auto fail = [&](const std::string& what, int err) {
    ::unlink(osTemp.c_str());
    return Fail(error, what, err);
  };
  // A link as target: replace the file it names, keep the link.
  struct stat lst;
  if (::lstat(osTarget.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode)) {
    char* real = ::realpath(osTarget.c_str(), nullptr);
    if (!real) return fail("cannot follow the link " + target, errno);
    osTarget = real;
    std::free(real);
  }
  struct stat st;
  bool hadTarget = ::stat(osTarget.c_str(), &st) == 0;
  if (hadTarget && S_ISDIR(st.st_mode)) return fail("cannot replace " + target, EISDIR);
  {
    Fd fd(::open(osTemp.c_str(), O_RDWR | O_CLOEXEC));
    if (fd.Get() < 0) return fail("cannot open " + tempPath, errno);
    mode_t mode;
    if (hadTarget) {
      mode = st.st_mode & 07777;
    } else {
      mode_t mask = ::umask(0);
      ::umask(mask);
      mode = 0666 & ~mask;
    }
    ::fchmod(fd.Get(), mode);
    if (hadTarget && ::fchown(fd.Get(), st.st_uid, st.st_gid) != 0) {
      // Only the owner's group or a privileged process may hand a file on; the mode still holds.
    }
    if (::fsync(fd.Get()) != 0) return fail("cannot write " + tempPath, errno);
    if (!fd.Close()) return fail("cannot write " + tempPath, errno);
  }
  if (::rename(osTemp.c_str(), osTarget.c_str()) != 0)
    return fail("cannot replace " + target, errno);
  SyncFolderOf(osTarget);
  return true;
}

bool WriteFileAtomic(const std::string& target, std::string_view bytes, std::string* error) {
  std::string tempPath;
  Fd fd(CreateTempFile(rtl::ExtractFilePath(target), tempPath, error));
  if (fd.Get() < 0) return false;
  if (!WriteAll(fd.Get(), bytes.data(), bytes.size()) || !fd.Close()) {
    int err = errno;
    fd.Reset();
    ::unlink(Os(tempPath).c_str());
    return Fail(error, "cannot write " + target, err);
  }
  return ReplaceFileAtomic(tempPath, target, error);
}

bool CopyFile(const std::string& from, const std::string& to, bool failIfExists,
              std::string* error) {
  if (failIfExists && (FileExists(to) || DirectoryExists(to)))
    return Fail(error, "cannot copy to " + to, EEXIST);
  Fd in(::open(Os(from).c_str(), O_RDONLY | O_CLOEXEC));
  if (in.Get() < 0) return Fail(error, "cannot open " + from, errno);
  struct stat st;
  if (::fstat(in.Get(), &st) != 0) return Fail(error, "cannot read " + from, errno);
  if (S_ISDIR(st.st_mode)) return Fail(error, "cannot read " + from, EISDIR);
  std::string tempPath;
  Fd out(CreateTempFile(rtl::ExtractFilePath(to), tempPath, error));
  if (out.Get() < 0) return false;
  auto fail = [&](const std::string& what, int err) {
    out.Reset();
    ::unlink(Os(tempPath).c_str());
    return Fail(error, what, err);
  };
  char buf[1 << 16];
  for (;;) {
    ssize_t n = ::read(in.Get(), buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return fail("cannot read " + from, errno);
    if (n == 0) break;
    if (!WriteAll(out.Get(), buf, static_cast<size_t>(n))) return fail("cannot write " + to, errno);
  }
  if (!out.Close()) return fail("cannot write " + to, errno);
  return ReplaceFileAtomic(tempPath, to, error);
}

std::vector<FolderEntry> ListFolder(const std::string& folder) {
  std::vector<FolderEntry> files, folders;
  std::string dir = rtl::IncludeTrailingPathDelimiter(folder);
  std::string osDir = Os(dir);
  DIR* d = ::opendir(osDir.c_str());
  if (!d) return {};
  while (dirent* e = ::readdir(d)) {
    std::string osName = e->d_name;
    if (osName.empty() || osName[0] == '.') continue;
    struct stat st;
    if (::stat((osDir + osName).c_str(), &st) != 0) continue;
    FolderEntry entry;
    entry.name = Utf8ToAnsi(osName);
    entry.exactName = AnsiToUtf8(entry.name) == osName;
    if (S_ISDIR(st.st_mode)) {
      entry.isFolder = true;
      folders.push_back(std::move(entry));
    } else if (S_ISREG(st.st_mode)) {
      files.push_back(std::move(entry));
    }
  }
  ::closedir(d);
  auto byName = [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; };
  std::sort(files.begin(), files.end(), byName);
  std::sort(folders.begin(), folders.end(), byName);
  files.insert(files.end(), std::make_move_iterator(folders.begin()),
               std::make_move_iterator(folders.end()));
  return files;
}

std::vector<std::string> ListFiles(const std::string& folder, std::string_view mask) {
  std::vector<std::string> names;
  for (auto& e : ListFolder(folder))
    if (!e.isFolder && MatchesMask(e.name, mask)) names.push_back(std::move(e.name));
  return names;
}

std::vector<std::string> ListSubFolders(const std::string& folder) {
  std::vector<std::string> names;
  for (auto& e : ListFolder(folder))
    if (e.isFolder) names.push_back(std::move(e.name));
  return names;
}

bool MatchesMask(std::string_view name, std::string_view mask) {
  return MatchFrom(name, 0, mask, 0);
}

bool FolderWalkGuard::Enter(const std::string& folder) {
  struct stat st;
  if (::stat(Os(folder).c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  return entered_.insert({st.st_dev, st.st_ino}).second;
}

}  // namespace platform
