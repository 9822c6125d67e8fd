#include "platform/FileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <memory>

#include "platform/CodePage.h"
#include "platform/OsRandom.h"
#include "platform/RtlSysUtils.h"

namespace platform {

namespace {

// The system's text for err, made in a buffer of the caller's (a commit may run on a thread of
// its own).
std::string ErrorText(int err) {
  char buffer[256];
  return ::strerror_r(err, buffer, sizeof buffer);
}

bool Fail(std::string* error, const std::string& what, int err) {
  if (error) *error = what + ": " + ErrorText(err);
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
  // Gives the descriptor up without closing it.
  int Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
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

std::atomic<bool> g_unnamedFiles{true};

// Closes a folder listing when it goes.
struct DirCloser {
  void operator()(DIR* d) const { ::closedir(d); }
};
using Dir = std::unique_ptr<DIR, DirCloser>;

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

// Ten characters that nobody can guess, from the system's random source.
std::string RandomSuffix() {
  static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  uint8_t bytes[10];
  CryptoRandomBytes(bytes, sizeof bytes);
  std::string s;
  for (uint8_t b : bytes)
    s += kChars[b % (sizeof kChars - 1)];
  return s;
}

mode_t FileModeMask() {
  mode_t mask = ::umask(0);
  ::umask(mask);
  return mask;
}

// ---- Names through code page 932 ----

// Characters of the JIS mapping that code page 932 holds under the codes of the Windows mapping's
// characters (〜 ‖ − ¢ £ ¬ —).
constexpr char16_t kJisForms[] = {0x301C, 0x2016, 0x2212, 0x00A2, 0x00A3, 0x00AC, 0x2014};

bool IsJisForm(char16_t c) {
  return std::find(std::begin(kJisForms), std::end(kJisForms), c) != std::end(kJisForms);
}

// The double-byte codes that two characters share.
const std::set<uint16_t>& SharedCodes() {
  static const std::set<uint16_t> codes = [] {
    std::set<uint16_t> s;
    for (char16_t c : kJisForms) {
      std::string a = WideToAnsi(std::u16string(1, c));
      if (a.size() == 2)
        s.insert(
            static_cast<uint16_t>((static_cast<uint8_t>(a[0]) << 8) | static_cast<uint8_t>(a[1])));
    }
    return s;
  }();
  return codes;
}

bool IsAsciiText(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<uint8_t>(c) < 0x80; });
}

// Whether an ANSI text holds a code that two characters share, or, with lossy, a byte that a
// character code page 932 cannot hold is written as ("?", and "\" and "~" for ¥ and ‾).
bool MayStandForAnother(std::string_view ansi, bool lossy) {
  for (size_t i = 0; i < ansi.size(); ++i) {
    const uint8_t b = static_cast<uint8_t>(ansi[i]);
    if (IsDBCSLeadByte(b) && i + 1 < ansi.size()) {
      const uint16_t code = static_cast<uint16_t>((b << 8) | static_cast<uint8_t>(ansi[i + 1]));
      if (SharedCodes().count(code)) return true;
      ++i;
    } else if (lossy && (b == '?' || b == '\\' || b == '~')) {
      return true;
    }
  }
  return false;
}

// The name in code page 932 when it can hold every character of it (a JIS form counting as the
// Windows form it shares its code with); false otherwise, ansi then holds the name with "?".
bool HeldName(const std::string& utf8, std::string& ansi) {
  if (IsAsciiText(utf8)) {
    ansi = utf8;
    return true;
  }
  const std::u16string wide = Utf8ToWide(utf8);
  ansi = WideToAnsi(wide);
  if (WideToUtf8(wide) != utf8) return false;  // not UTF-8
  for (size_t i = 0; i < wide.size(); ++i) {
    const char16_t c = wide[i];
    if (c >= 0xD800 && c <= 0xDFFF) return false;
    if (IsJisForm(c)) continue;
    const std::u16string one(1, c);
    if (AnsiToWide(WideToAnsi(one)) != one) return false;
  }
  return true;
}

// The OS name, in folder osFolder ("" for the current folder), of one ANSI name.
std::string OsName(const std::string& osFolder, const std::string& ansiName) {
  std::string direct = AnsiToUtf8(ansiName);
  if (ansiName.empty() || ansiName == "." || ansiName == ".." ||
      !MayStandForAnother(ansiName, false))
    return direct;
  struct stat st;
  const std::string dir = osFolder.empty() ? "." : osFolder;
  if (::fstatat(AT_FDCWD, (dir + "/" + direct).c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
    return direct;
  Dir d(::opendir(dir.c_str()));
  if (!d) return direct;
  std::string found;
  int matches = 0;
  while (dirent* e = ::readdir(d.get())) {
    std::string held;
    if (HeldName(e->d_name, held) && held == ansiName) {
      found = e->d_name;
      ++matches;
    }
  }
  return matches == 1 ? found : direct;
}

// The parts of an ANSI path, and whether it begins at the root. "/" is never the second byte of a
// double-byte character, so the path splits at every "/".
std::vector<std::string> PathParts(const std::string& path, bool& absolute) {
  std::vector<std::string> parts;
  absolute = !path.empty() && path[0] == '/';
  size_t i = absolute ? 1 : 0;
  while (i <= path.size()) {
    size_t slash = path.find('/', i);
    if (slash == std::string::npos) slash = path.size();
    parts.push_back(path.substr(i, slash - i));
    i = slash + 1;
  }
  return parts;
}

std::string Os(const std::string& ansi) {
  return OsPath(ansi);
}

// Why a file (st, from lstat of name in dirFd) may not be replaced; empty when it may.
std::string Refusal(int dirFd, const char* name, const struct stat& st) {
  if (S_ISLNK(st.st_mode)) return "the file is a symbolic link";
  if (!S_ISREG(st.st_mode)) return "the file is not a regular file";
  if (st.st_nlink > 1) return "the file has more than one name (hard links)";
  if ((st.st_mode & S_IWUSR) == 0) return "the file is read-only";
  if (::faccessat(dirFd, name, W_OK, AT_EACCESS) != 0) return "this user may not write the file";
  return {};
}

FileIdentity IdentityOf(const struct stat& st) {
  FileIdentity id;
  id.device = st.st_dev;
  id.inode = st.st_ino;
  id.size = static_cast<int64_t>(st.st_size);
  id.modified = st.st_mtim;
  return id;
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

std::string OsPath(const std::string& path) {
  if (!MayStandForAnother(path, false)) return AnsiToUtf8(path);
  bool absolute;
  const std::vector<std::string> parts = PathParts(path, absolute);
  std::string os = absolute ? "/" : "";
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) os += '/';
    // The folder so far, as the OS spells it ("" for the current folder).
    const std::string folder = os.size() > 1 && os.back() == '/' ? os.substr(0, os.size() - 1) : os;
    os += OsName(folder, parts[i]);
  }
  return os;
}

bool PathIsAmbiguous(const std::string& path) {
  if (!MayStandForAnother(path, true)) return false;
  bool absolute;
  const std::vector<std::string> parts = PathParts(path, absolute);
  std::string os = absolute ? "/" : "";
  for (size_t i = 0; i < parts.size(); ++i) {
    const std::string folder = os.size() > 1 && os.back() == '/' ? os.substr(0, os.size() - 1) : os;
    const std::string& part = parts[i];
    const std::string name = OsName(folder, part);
    if (MayStandForAnother(part, true)) {
      if (Dir d{::opendir(folder.empty() ? "." : folder.c_str())}) {
        while (dirent* e = ::readdir(d.get())) {
          std::string written;
          HeldName(e->d_name, written);
          if (e->d_name != name && written == part) return true;
        }
      }
    }
    if (i > 0) os += '/';
    os += name;
  }
  return false;
}

bool FileExists(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(Os(path).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(Os(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsSymbolicLink(const std::string& path) {
  struct stat st;
  return !path.empty() && ::lstat(Os(path).c_str(), &st) == 0 && S_ISLNK(st.st_mode);
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

namespace {

// Makes the folder and its missing parents; with privateMode each new one gets exactly 0700.
bool MakeDirectories(const std::string& path, std::string* error, bool privateMode) {
  std::string dir = rtl::ExcludeTrailingPathDelimiter(path);
  if (dir.empty()) return DirectoryExists("/");
  if (DirectoryExists(dir)) return true;
  std::string parent = rtl::ExtractFilePath(dir);
  if (!parent.empty() && parent != dir && !MakeDirectories(parent, error, privateMode))
    return false;
  const std::string os = Os(dir);
  if (::mkdir(os.c_str(), privateMode ? 0700 : 0777) != 0) {
    if (errno == EEXIST && DirectoryExists(dir)) return true;
    return Fail(error, "cannot make the folder " + dir, errno);
  }
  // The file mode mask may take rights away, never add them; 0700 is set whatever it is.
  if (privateMode && ::chmod(os.c_str(), 0700) != 0)
    return Fail(error, "cannot make the folder " + dir + " private", errno);
  return true;
}

}  // namespace

bool ForceDirectories(const std::string& path, std::string* error) {
  return MakeDirectories(path, error, false);
}

bool ForcePrivateDirectories(const std::string& path, std::string* error) {
  if (!MakeDirectories(path, error, true)) return false;
  // A folder that was there already: the running user's own loses the others' rights; a link
  // or another user's folder is left as it is.
  const std::string dir = rtl::ExcludeTrailingPathDelimiter(path);
  Fd fd(
      ::open(Os(dir.empty() ? "/" : dir).c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  struct stat st;
  if (fd.Get() < 0 || ::fstat(fd.Get(), &st) != 0) return true;
  if (st.st_uid == ::geteuid() && (st.st_mode & 077) != 0 &&
      ::fchmod(fd.Get(), st.st_mode & 07700) != 0)
    return Fail(error, "cannot make the folder " + dir + " private", errno);
  return true;
}

namespace {

// Reads the open file fd (named path in messages) to its end into bytes; bytes stays as it was
// on an error.
bool ReadAll(int fd, const std::string& path, std::string& bytes, std::string* error) {
  std::string out;
  char buf[65536];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Fail(error, "cannot read " + path, errno);
    if (n == 0) break;
    out.append(buf, static_cast<size_t>(n));
  }
  bytes = std::move(out);
  return true;
}

}  // namespace

bool ReadFileBytes(const std::string& path, std::string& bytes, std::string* error) {
  Fd fd(::open(Os(path).c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.Get() < 0) return Fail(error, "cannot open " + path, errno);
  struct stat st;
  if (::fstat(fd.Get(), &st) != 0) return Fail(error, "cannot read " + path, errno);
  if (S_ISDIR(st.st_mode)) return Fail(error, "cannot read " + path, EISDIR);
  return ReadAll(fd.Get(), path, bytes, error);
}

bool AppendToFile(const std::string& path, std::string_view bytes, std::string* error,
                  mode_t createMode) {
  Fd fd(::open(Os(path).c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, createMode));
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

bool CheckReplaceable(const std::string& path, FileIdentity* identity, std::string* error) {
  const std::string os = Os(path);
  struct stat st;
  if (::lstat(os.c_str(), &st) != 0) return Fail(error, "cannot look at the file", errno);
  const std::string why = Refusal(AT_FDCWD, os.c_str(), st);
  if (!why.empty()) {
    if (error) *error = why;
    return false;
  }
  if (identity) *identity = IdentityOf(st);
  return true;
}

// ---- ReplacementFile ----

ReplacementFile::~ReplacementFile() {
  Discard();
}

bool ReplacementFile::OpenFolder(const std::string& os, std::string* error) {
  const size_t slash = os.rfind('/');
  folder_ = slash == std::string::npos ? "." : (slash == 0 ? "/" : os.substr(0, slash));
  name_ = slash == std::string::npos ? os : os.substr(slash + 1);
  if (name_.empty() || name_ == "." || name_ == "..")
    return Fail(error, "cannot replace " + target_, EISDIR);
  dirFd_ = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd_ < 0) return Fail(error, "cannot open the folder of " + target_, errno);
  return true;
}

bool ReplacementFile::Create(const std::string& target, std::string* error, bool followLink) {
  Discard();
  target_ = target;
  newFileMode_ = 0666 & ~FileModeMask();
  std::string os = Os(target);
  struct stat st;
  if (followLink && ::lstat(os.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    std::unique_ptr<char, decltype(&std::free)> real(::realpath(os.c_str(), nullptr), &std::free);
    if (!real) return Fail(error, "cannot follow the link " + target, errno);
    os = real.get();
  }
  return OpenFolder(os, error) && MakeNewFile(false, error);
}

bool ReplacementFile::UseFolder(const OpenedFile& target, std::string* error) {
  target_ = target.Path();
  folder_ = rtl::ExcludeTrailingPathDelimiter(Os(target.Folder().Path()));
  if (folder_.empty()) folder_ = "/";
  name_ = target.OsName();
  dirFd_ = ::fcntl(target.Folder().Descriptor(), F_DUPFD_CLOEXEC, 0);
  if (dirFd_ < 0) return Fail(error, "cannot open the folder of " + target_, errno);
  return true;
}

bool ReplacementFile::CreateFor(const OpenedFile& target, std::string* error, bool unnamed) {
  Discard();
  newFileMode_ = 0666 & ~FileModeMask();
  return UseFolder(target, error) && MakeNewFile(unnamed, error);
}

bool ReplacementFile::CreateIn(const FolderHandle& folder, const std::string& name,
                               std::string* error) {
  Discard();
  target_ = rtl::IncludeTrailingPathDelimiter(folder.Path()) + name;
  newFileMode_ = 0666 & ~FileModeMask();
  if (!folder.IsOpen()) return Fail(error, "cannot replace " + target_, EBADF);
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
    return Fail(error, "cannot replace " + target_, EINVAL);
  const std::string os = Os(target_);
  const size_t slash = os.rfind('/');
  folder_ = slash == 0 ? "/" : os.substr(0, slash);
  name_ = os.substr(slash + 1);
  dirFd_ = ::fcntl(folder.Descriptor(), F_DUPFD_CLOEXEC, 0);
  if (dirFd_ < 0) return Fail(error, "cannot open the folder of " + target_, errno);
  return MakeNewFile(false, error);
}

bool ReplacementFile::MakeNewFile(bool unnamed, std::string* error) {
  if (unnamed && g_unnamedFiles.load()) {
    // Where the file system refuses it, a hidden name as below.
    fd_ = ::openat(dirFd_, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd_ >= 0) return true;
  }
  int err = EEXIST;
  for (int attempt = 0; attempt < 100 && err == EEXIST; ++attempt) {
    try {
      tempName_ = ".~sv" + RandomSuffix() + ".tmp";
    } catch (const std::exception&) {
      err = EAGAIN;
      break;
    }
    fd_ = ::openat(dirFd_, tempName_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                   0600);
    err = fd_ < 0 ? errno : 0;
  }
  if (fd_ < 0) {
    tempName_.clear();
    ::close(dirFd_);
    dirFd_ = -1;
    return Fail(error, "cannot create a temporary file beside " + target_, err);
  }
  return true;
}

bool ReplacementFile::LinkIn(std::string* error) {
  int err = EEXIST;
  for (int attempt = 0; attempt < 100 && err == EEXIST; ++attempt) {
    std::string name;
    try {
      name = ".~sv" + RandomSuffix() + ".tmp";
    } catch (const std::exception&) {
      err = EAGAIN;
      break;
    }
    // Linking a descriptor needs a privilege; its name under /proc does not.
    if (::linkat(fd_, "", dirFd_, name.c_str(), AT_EMPTY_PATH) == 0 ||
        (errno != EEXIST && ::linkat(AT_FDCWD, ("/proc/self/fd/" + std::to_string(fd_)).c_str(),
                                     dirFd_, name.c_str(), AT_SYMLINK_FOLLOW) == 0)) {
      tempName_ = name;
      return true;
    }
    err = errno;
  }
  return Fail(error, "cannot give the new file a name", err);
}

std::pair<dev_t, ino_t> ReplacementFile::NewFile() const {
  struct stat st;
  if (fd_ < 0 || ::fstat(fd_, &st) != 0) return {0, 0};
  return {st.st_dev, st.st_ino};
}

namespace {

// The mount that a descriptor's file lies on; false when the system does not tell.
bool MountOf(int fd, uint64_t& mount) {
  struct statx stx {};
  if (::statx(fd, "", AT_EMPTY_PATH, STATX_MNT_ID, &stx) != 0 || !(stx.stx_mask & STATX_MNT_ID))
    return false;
  mount = stx.stx_mnt_id;
  return true;
}

}  // namespace

bool ReplacementFile::Adopt(const std::string& target, const std::string& path,
                            std::string* error) {
  Discard();
  target_ = target;
  newFileMode_ = 0666 & ~FileModeMask();
  return OpenFolder(Os(target), error) && AdoptInto(path, error);
}

bool ReplacementFile::AdoptFor(const OpenedFile& target, const std::string& path,
                               std::string* error) {
  Discard();
  newFileMode_ = 0666 & ~FileModeMask();
  return UseFolder(target, error) && AdoptInto(path, error);
}

bool ReplacementFile::AdoptInto(const std::string& path, std::string* error) {
  auto fail = [&](const std::string& why, int err) {
    Discard();
    return Fail(error, why, err);
  };
  const std::string os = Os(path);
  const size_t slash = os.rfind('/');
  const std::string folder =
      slash == std::string::npos ? "." : (slash == 0 ? "/" : os.substr(0, slash));
  const std::string name = slash == std::string::npos ? os : os.substr(slash + 1);
  tempDirFd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (tempDirFd_ < 0) return fail("cannot open the folder of " + path, errno);
  fd_ = ::openat(tempDirFd_, name.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) return fail("cannot open " + path, errno);
  // Only a file of this user's own, with no other name, is moved into the target's folder.
  struct stat mine, dir;
  if (::fstat(fd_, &mine) != 0 || ::fstat(dirFd_, &dir) != 0)
    return fail("cannot look at " + path, errno);
  if (!S_ISREG(mine.st_mode) || mine.st_nlink != 1 || mine.st_uid != ::geteuid())
    return fail("cannot take " + path, EPERM);
  uint64_t fileMount = 0, dirMount = 0;
  if (mine.st_dev != dir.st_dev || !MountOf(fd_, fileMount) || !MountOf(dirFd_, dirMount) ||
      fileMount != dirMount)
    return fail("cannot move " + path + " beside " + target_, EXDEV);
  if (::fchmod(fd_, 0600) != 0) return fail("cannot make " + path + " private", errno);
  tempName_ = name;
  return true;
}

bool ReplacementFile::Write(std::string_view bytes, std::string* error) {
  if (fd_ < 0) return Fail(error, "cannot write " + target_, EBADF);
  if (!WriteAll(fd_, bytes.data(), bytes.size()))
    return Fail(error, "cannot write " + target_, errno);
  return true;
}

bool ReplacementFile::WriteAt(int64_t offset, std::string_view bytes, std::string* error) {
  if (fd_ < 0 || offset < 0) return Fail(error, "cannot write " + target_, EBADF);
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::pwrite(fd_, bytes.data() + done, bytes.size() - done,
                         static_cast<off_t>(offset + static_cast<int64_t>(done)));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return Fail(error, "cannot write " + target_, n < 0 ? errno : EIO);
    done += static_cast<size_t>(n);
  }
  return true;
}

bool ReplacementFile::WriteFrom(const std::string& path, std::string* error) {
  Fd in(::open(Os(path).c_str(), O_RDONLY | O_CLOEXEC));
  if (in.Get() < 0) return Fail(error, "cannot open " + path, errno);
  struct stat st;
  if (::fstat(in.Get(), &st) != 0) return Fail(error, "cannot read " + path, errno);
  if (S_ISDIR(st.st_mode)) return Fail(error, "cannot read " + path, EISDIR);
  char buf[1 << 16];
  for (;;) {
    ssize_t n = ::read(in.Get(), buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Fail(error, "cannot read " + path, errno);
    if (n == 0) return true;
    if (!Write(std::string_view(buf, static_cast<size_t>(n)), error)) return false;
  }
}

int64_t ReplacementFile::ReadAt(int64_t offset, void* buffer, size_t count) {
  if (fd_ < 0 || offset < 0) return -1;
  size_t done = 0;
  while (done < count) {
    ssize_t n = ::pread(fd_, static_cast<char*>(buffer) + done, count - done,
                        static_cast<off_t>(offset + static_cast<int64_t>(done)));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<int64_t>(done);
}

bool ReplacementFile::Commit(const FileIdentity* expected, std::string* error) {
  if (fd_ < 0) return Fail(error, "cannot replace " + target_, EBADF);
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    Discard();
    return false;
  };
  auto failErrno = [&](const std::string& what) {
    const int err = errno;
    return fail(what + ": " + ErrorText(err));
  };
  if (::fsync(fd_) != 0) return failErrno("cannot flush the new file");

  struct stat target;
  const bool exists = ::fstatat(dirFd_, name_.c_str(), &target, AT_SYMLINK_NOFOLLOW) == 0;
  if (!exists && errno != ENOENT) return failErrno("cannot look at the file");
  if (exists) {
    const std::string why = Refusal(dirFd_, name_.c_str(), target);
    if (!why.empty()) return fail(why);
    if (ownFileOnly_ && target.st_uid != ::geteuid()) return fail("the file is another user's");
  }
  if (expected && (!exists || !(IdentityOf(target) == *expected)))
    return fail(exists ? "the file changed after it was read" : "the file is gone");

  struct stat mine;
  if (::fstat(fd_, &mine) != 0) return failErrno("cannot look at the new file");
  if (exists) {
    mode_t mode = hasForcedMode_ ? forcedMode_ : target.st_mode & 07777;
    if (target.st_uid != mine.st_uid || target.st_gid != mine.st_gid) {
      if (::fchown(fd_, target.st_uid, target.st_gid) != 0) {
        if (::geteuid() == 0) return failErrno("cannot give the new file the owner of the file");
        // Another user's file becomes this user's; keep its group where this user may, and
        // give no other group the rights of the file's own.
        if (::fchown(fd_, static_cast<uid_t>(-1), target.st_gid) != 0) mode &= ~S_IRWXG;
      }
    }
    if (::fchmod(fd_, mode) != 0) return failErrno("cannot give the new file the mode of the file");
  } else if (::fchmod(fd_, hasForcedMode_ ? forcedMode_ : newFileMode_) != 0) {
    return failErrno("cannot give the new file its mode");
  }

  // An unnamed file gets its name only now, right before it takes the target's.
  if (tempName_.empty()) {
    std::string why;
    if (!LinkIn(&why)) return fail(why);
  }
  // The temporary name must still be this file, and the target still the file checked.
  const int tempDir = tempDirFd_ >= 0 ? tempDirFd_ : dirFd_;
  struct stat temp, now;
  if (::fstatat(tempDir, tempName_.c_str(), &temp, AT_SYMLINK_NOFOLLOW) != 0 ||
      temp.st_dev != mine.st_dev || temp.st_ino != mine.st_ino)
    return fail("the temporary file was replaced");
  const bool stillExists = ::fstatat(dirFd_, name_.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0;
  if (stillExists != exists || (exists && !(IdentityOf(now) == IdentityOf(target))))
    return fail("the file changed after it was read");
  if (::renameat(tempDir, tempName_.c_str(), dirFd_, name_.c_str()) != 0)
    return failErrno("cannot rename the new file");
  tempName_.clear();
  const bool placed = ::fstatat(dirFd_, name_.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
                      now.st_dev == mine.st_dev && now.st_ino == mine.st_ino;
  ::fsync(dirFd_);
  Discard();
  if (!placed) {
    if (error) *error = "another file was put in the file's place";
    return false;
  }
  return true;
}

void ReplacementFile::Discard() {
  const int tempDir = tempDirFd_ >= 0 ? tempDirFd_ : dirFd_;
  if (fd_ >= 0 && !tempName_.empty()) {
    // Removed only while the name is still this file's.
    struct stat mine, temp;
    if (::fstat(fd_, &mine) == 0 &&
        ::fstatat(tempDir, tempName_.c_str(), &temp, AT_SYMLINK_NOFOLLOW) == 0 &&
        mine.st_dev == temp.st_dev && mine.st_ino == temp.st_ino)
      ::unlinkat(tempDir, tempName_.c_str(), 0);
  }
  tempName_.clear();
  for (int* fd : {&fd_, &dirFd_, &tempDirFd_}) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
  }
}

// ---- Folders opened by path ----

std::shared_ptr<FolderHandle> OpenFolderPath(const std::string& path, std::string* error) {
  std::string named = path.empty() ? std::string("./") : rtl::IncludeTrailingPathDelimiter(path);
  const int fd = ::open(Os(named).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    Fail(error, "cannot open the folder " + named, errno);
    return nullptr;
  }
  return std::make_shared<FolderHandle>(fd, std::move(named));
}

bool ReadFileBytesIn(const FolderHandle& folder, const std::string& name, std::string& bytes,
                     std::string* error) {
  const std::string path = folder.Path() + name;
  if (!folder.IsOpen()) return Fail(error, "cannot open " + path, EBADF);
  if (name.empty() || name.find('/') != std::string::npos)
    return Fail(error, "cannot open " + path, EINVAL);
  const std::string os = Os(path);
  Fd fd(::openat(folder.Descriptor(), os.substr(os.rfind('/') + 1).c_str(),
                 O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (fd.Get() < 0) return Fail(error, "cannot open " + path, errno);
  struct stat st;
  if (::fstat(fd.Get(), &st) != 0) return Fail(error, "cannot read " + path, errno);
  if (!S_ISREG(st.st_mode)) {
    if (error) *error = "cannot read " + path + ": the file is not a regular file";
    return false;
  }
  return ReadAll(fd.Get(), path, bytes, error);
}

bool WriteOwnFileIn(const FolderHandle& folder, const std::string& name, std::string_view bytes,
                    std::string* error) {
  ReplacementFile file;
  if (!file.CreateIn(folder, name, error)) return false;
  file.SetMode(0600);
  file.ReplaceOnlyOwnFile();
  return file.Write(bytes, error) && file.Commit(nullptr, error);
}

PrivateFileScope::PrivateFileScope() : previous_(::umask(077)) {}

PrivateFileScope::~PrivateFileScope() {
  ::umask(previous_);
}

bool WriteFileAtomic(const std::string& target, std::string_view bytes, std::string* error) {
  ReplacementFile file;
  return file.Create(target, error, true) && file.Write(bytes, error) &&
         file.Commit(nullptr, error);
}

bool WritePrivateFile(const std::string& target, std::string_view bytes, std::string* error) {
  ReplacementFile file;
  if (!file.Create(target, error, true)) return false;
  file.SetMode(0600);
  return file.Write(bytes, error) && file.Commit(nullptr, error);
}

bool CopyFile(const std::string& from, const std::string& to, bool failIfExists,
              std::string* error) {
  if (failIfExists && (FileExists(to) || DirectoryExists(to)))
    return Fail(error, "cannot copy to " + to, EEXIST);
  if (!FileExists(from))
    return Fail(error, "cannot open " + from, DirectoryExists(from) ? EISDIR : ENOENT);
  ReplacementFile out;
  return out.Create(to, error, true) && out.WriteFrom(from, error) && out.Commit(nullptr, error);
}

TemporaryPath::TemporaryPath(const std::string& folder, const std::string& extension)
    : path_(rtl::ChangeFileExt(UniqueTempName(folder), extension)) {}

TemporaryPath::~TemporaryPath() {
  if (FileExists(path_)) DeleteFile(path_);
}

namespace {

std::vector<FolderEntry> ListOpenFolder(Dir d, std::string* error);

}  // namespace

std::vector<FolderEntry> ListFolder(const std::string& folder) {
  const std::string osDir = Os(rtl::IncludeTrailingPathDelimiter(folder));
  return ListOpenFolder(Dir(::opendir(osDir.c_str())), nullptr);
}

std::vector<FolderEntry> ListFolder(const FolderHandle& folder, std::string* error) {
  if (error) error->clear();
  // A descriptor of its own, so that the listing starts at the beginning.
  const int fd = ::openat(folder.Descriptor(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    Fail(error, "cannot list the folder", errno);
    return {};
  }
  Dir d(::fdopendir(fd));
  if (!d) {
    Fail(error, "cannot list the folder", errno);
    ::close(fd);
    return {};
  }
  return ListOpenFolder(std::move(d), error);
}

namespace {

std::vector<FolderEntry> ListOpenFolder(Dir d, std::string* error) {
  if (!d) return {};
  struct Name {
    std::string os, ansi;
    bool held;
  };
  std::vector<Name> names;
  for (;;) {
    errno = 0;
    dirent* e = ::readdir(d.get());
    if (!e) {
      // Part of a listing is no listing.
      if (errno != 0) {
        Fail(error, "cannot list the folder", errno);
        return {};
      }
      break;
    }
    Name n{e->d_name, {}, false};
    if (n.os == "." || n.os == "..") continue;
    n.held = HeldName(n.os, n.ansi);
    names.push_back(std::move(n));
  }
  // A name in code page 932 reaches the entry it decodes to, else the one entry written so.
  std::map<std::string, int> written;
  std::set<std::string> decoded;
  for (const Name& n : names) {
    if (!n.held) continue;
    ++written[n.ansi];
    if (AnsiToUtf8(n.ansi) == n.os) decoded.insert(n.ansi);
  }
  std::vector<std::pair<std::string, FolderEntry>> files, folders;  // (OS name, entry)
  for (const Name& n : names) {
    if (n.os[0] == '.') continue;
    struct stat st;
    if (::fstatat(::dirfd(d.get()), n.os.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    FolderEntry entry;
    entry.name = n.ansi;
    entry.osName = n.os;
    entry.device = st.st_dev;
    entry.inode = st.st_ino;
    entry.reachable =
        n.held && (AnsiToUtf8(n.ansi) == n.os || (!decoded.count(n.ansi) && written[n.ansi] == 1));
    if (S_ISLNK(st.st_mode)) {
      entry.isLink = true;
      files.emplace_back(n.os, std::move(entry));
    } else if (S_ISDIR(st.st_mode)) {
      entry.isFolder = true;
      folders.emplace_back(n.os, std::move(entry));
    } else if (S_ISREG(st.st_mode)) {
      files.emplace_back(n.os, std::move(entry));
    }
  }
  // Two names that code page 932 writes alike come in the order of their OS names.
  auto byName = [](const auto& a, const auto& b) {
    return a.second.name != b.second.name ? a.second.name < b.second.name : a.first < b.first;
  };
  std::sort(files.begin(), files.end(), byName);
  std::sort(folders.begin(), folders.end(), byName);
  std::vector<FolderEntry> entries;
  entries.reserve(files.size() + folders.size());
  for (auto* list : {&files, &folders})
    for (auto& [os, entry] : *list)
      entries.push_back(std::move(entry));
  return entries;
}

}  // namespace

std::vector<std::string> ListFiles(const std::string& folder, std::string_view mask) {
  std::vector<std::string> names;
  for (auto& e : ListFolder(folder))
    if (!e.isFolder && !e.isLink && e.reachable && MatchesMask(e.name, mask))
      names.push_back(std::move(e.name));
  return names;
}

std::vector<std::string> ListSubFolders(const std::string& folder) {
  std::vector<std::string> names;
  for (auto& e : ListFolder(folder))
    if (e.isFolder && e.reachable) names.push_back(std::move(e.name));
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

bool FolderWalkGuard::Enter(const FolderHandle& folder) {
  return entered_.insert({folder.Device(), folder.Inode()}).second;
}

// ---- Folders and files reached through descriptors ----

namespace {

std::function<void(const std::string&)>& BeforeOpenHook() {
  static std::function<void(const std::string&)> hook;
  return hook;
}

void BeforeOpen(const std::string& path) {
  if (BeforeOpenHook()) BeforeOpenHook()(path);
}

// Whether another user than root can have made or changed the link (st, from fstat of an O_PATH
// descriptor of it) in its folder (folder, from fstat).
bool LinkOfAnotherUser(const struct stat& link, const struct stat& folder) {
  if (link.st_uid != 0 || folder.st_uid != 0) return true;
  return (folder.st_mode & (S_IWGRP | S_IWOTH)) != 0 && (folder.st_mode & S_ISVTX) == 0;
}

// The parts of an OS path that lead somewhere ("." left out), appended to parts.
void AppendParts(const std::string& path, std::vector<std::string>& parts) {
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    const std::string part = path.substr(start, end - start);
    if (!part.empty() && part != ".") parts.push_back(part);
    start = end + 1;
  }
}

}  // namespace

void SetBeforeOpenHookForTests(std::function<void(const std::string& path)> hook) {
  BeforeOpenHook() = std::move(hook);
}

void SetUnnamedFilesForTests(bool allowed) {
  g_unnamedFiles = allowed;
}

FolderHandle::FolderHandle(int fd, std::string path) : fd_(fd), path_(std::move(path)) {
  struct stat st;
  if (fd_ >= 0 && ::fstat(fd_, &st) == 0) {
    device_ = st.st_dev;
    inode_ = st.st_ino;
  }
}

FolderHandle::~FolderHandle() {
  if (fd_ >= 0) ::close(fd_);
}

std::shared_ptr<FolderHandle> OpenJobFolder(const std::string& path, std::string* error) {
  const std::string os = Os(path);
  if (os.empty()) {
    Fail(error, "cannot open the folder", ENOENT);
    return nullptr;
  }
  const bool root = ::geteuid() == 0;
  // The parts still to go, the next one last.
  std::vector<std::string> rest;
  AppendParts(os, rest);
  std::reverse(rest.begin(), rest.end());
  Fd at(::open(os[0] == '/' ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (at.Get() < 0) {
    Fail(error, "cannot open " + path, errno);
    return nullptr;
  }
  std::string reached = os[0] == '/' ? "/" : "";  // for messages
  int links = 0;
  while (!rest.empty()) {
    const std::string part = std::move(rest.back());
    rest.pop_back();
    const std::string here = reached + part;
    if (rest.empty()) {
      // The folder itself: never through a link.
      Fd fd(::openat(at.Get(), part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      if (fd.Get() < 0) {
        const int err = errno;
        struct stat st;
        if (::fstatat(at.Get(), part.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISLNK(st.st_mode)) {
          if (error) *error = "the folder is a symbolic link";
          errno = ELOOP;
        } else {
          Fail(error, "cannot open " + path, err);
        }
        return nullptr;
      }
      return std::make_shared<FolderHandle>(fd.Release(), rtl::IncludeTrailingPathDelimiter(path));
    }
    Fd next(::openat(at.Get(), part.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    struct stat st;
    if (next.Get() < 0 || ::fstat(next.Get(), &st) != 0) {
      Fail(error, "cannot open " + here, errno);
      return nullptr;
    }
    if (S_ISDIR(st.st_mode)) {
      at.Reset(next.Release());
      reached = here + "/";
      continue;
    }
    if (!S_ISLNK(st.st_mode)) {
      Fail(error, "cannot open " + path, ENOTDIR);
      return nullptr;
    }
    struct stat folder;
    if (root && (::fstat(at.Get(), &folder) != 0 || LinkOfAnotherUser(st, folder))) {
      if (error) *error = "the symbolic link " + here + " may have been made by another user";
      errno = EPERM;
      return nullptr;
    }
    if (++links > 40) {
      Fail(error, "cannot open " + path, ELOOP);
      return nullptr;
    }
    char target[4096];
    const ssize_t n = ::readlinkat(next.Get(), "", target, sizeof target);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof target) {
      Fail(error, "cannot read the symbolic link " + here, n < 0 ? errno : ENAMETOOLONG);
      return nullptr;
    }
    const std::string to(target, static_cast<size_t>(n));
    std::vector<std::string> parts;
    AppendParts(to, parts);
    rest.insert(rest.end(), parts.rbegin(), parts.rend());
    if (to[0] == '/') {
      at.Reset(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
      reached = "/";
      if (at.Get() < 0) {
        Fail(error, "cannot open " + path, errno);
        return nullptr;
      }
    }
  }
  // A path of no parts ("/", "."): the folder reached so far.
  Fd fd(::openat(at.Get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.Get() < 0) {
    Fail(error, "cannot open " + path, errno);
    return nullptr;
  }
  return std::make_shared<FolderHandle>(fd.Release(), rtl::IncludeTrailingPathDelimiter(path));
}

std::shared_ptr<FolderHandle> OpenSubFolder(const std::shared_ptr<FolderHandle>& parent,
                                            const FolderEntry& entry, std::string* error) {
  const std::string path = parent->Path() + entry.name + "/";
  BeforeOpen(path);
  Fd fd(::openat(parent->Descriptor(), entry.osName.c_str(),
                 O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (fd.Get() < 0) {
    const int err = errno;
    struct stat st;
    if (::fstatat(parent->Descriptor(), entry.osName.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISLNK(st.st_mode)) {
      if (error) *error = "the folder was replaced by a symbolic link";
      errno = ELOOP;
    } else {
      Fail(error, "cannot open the folder", err);
    }
    return nullptr;
  }
  auto folder = std::make_shared<FolderHandle>(fd.Release(), path);
  if (folder->Device() != entry.device || folder->Inode() != entry.inode) {
    if (error) *error = "the folder was replaced after it was listed";
    errno = ESTALE;
    return nullptr;
  }
  return folder;
}

std::unique_ptr<OpenedFile> OpenedFile::Open(std::shared_ptr<FolderHandle> folder,
                                             const FolderEntry& entry, std::string* error) {
  BeforeOpen(folder->Path() + entry.name);
  const int dir = folder->Descriptor();
  const char* name = entry.osName.c_str();
  auto refuse = [&](const char* why, int err) -> std::unique_ptr<OpenedFile> {
    if (error) *error = why;
    errno = err;
    return nullptr;
  };
  // A FIFO or device is never opened: opening one may wait or do something of its own.
  struct stat st;
  if (::fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
    Fail(error, "cannot look at the file", errno);
    return nullptr;
  }
  if (S_ISLNK(st.st_mode)) return refuse("the file is a symbolic link", ELOOP);
  if (!S_ISREG(st.st_mode)) return refuse("the file is not a regular file", EINVAL);
  std::unique_ptr<OpenedFile> file(new OpenedFile());
  file->fd_ = ::openat(dir, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (file->fd_ < 0) {
    if (errno == ELOOP) return refuse("the file is a symbolic link", ELOOP);
    Fail(error, "cannot open the file", errno);
    return nullptr;
  }
  if (::fstat(file->fd_, &st) != 0) {
    Fail(error, "cannot look at the file", errno);
    return nullptr;
  }
  if (!S_ISREG(st.st_mode)) return refuse("the file is not a regular file", EINVAL);
  if (st.st_nlink > 1) return refuse("the file has more than one name (hard links)", EMLINK);
  const bool listed = entry.device != 0 || entry.inode != 0;
  if (listed && (st.st_dev != entry.device || st.st_ino != entry.inode))
    return refuse("the file was replaced after it was listed", ESTALE);
  file->identity_ = IdentityOf(st);
  file->folder_ = std::move(folder);
  file->osName_ = entry.osName;
  file->path_ = file->folder_->Path() + entry.name;
  return file;
}

std::unique_ptr<OpenedFile> OpenedFile::OpenPath(const std::string& path, std::string* error) {
  const std::string os = Os(path);
  const size_t slash = os.rfind('/');
  const std::string folder =
      slash == std::string::npos ? "." : (slash == 0 ? "/" : os.substr(0, slash));
  FolderEntry entry;
  entry.osName = slash == std::string::npos ? os : os.substr(slash + 1);
  if (entry.osName.empty() || entry.osName == "." || entry.osName == "..") {
    Fail(error, "cannot open " + path, EISDIR);
    return nullptr;
  }
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    Fail(error, "cannot open the folder of " + path, errno);
    return nullptr;
  }
  auto handle = std::make_shared<FolderHandle>(fd, rtl::ExtractFilePath(path));
  entry.name = rtl::ExtractFileName(path);
  return Open(std::move(handle), entry, error);
}

OpenedFile::~OpenedFile() {
  if (fd_ >= 0) ::close(fd_);
}

std::string OpenedFile::Refusal() const {
  struct stat st;
  if (::fstat(fd_, &st) != 0) return "cannot look at the file: " + ErrorText(errno);
  if (!S_ISREG(st.st_mode)) return "the file is not a regular file";
  if (st.st_nlink > 1) return "the file has more than one name (hard links)";
  if ((st.st_mode & S_IWUSR) == 0) return "the file is read-only";
  if (::faccessat(fd_, "", W_OK, AT_EACCESS | AT_EMPTY_PATH) != 0 &&
      (errno != EINVAL ||
       ::faccessat(folder_->Descriptor(), osName_.c_str(), W_OK, AT_EACCESS) != 0))
    return "this user may not write the file";
  return {};
}

PrivateCopy::~PrivateCopy() {
  if (!path_.empty()) ::unlink(Os(path_).c_str());
}

bool PrivateCopy::Make(const OpenedFile& file, const std::string& folder, std::string* error) {
  const std::string dir = rtl::IncludeTrailingPathDelimiter(folder.empty() ? "./" : folder);
  Fd out;
  std::string path;
  int err = EEXIST;
  for (int attempt = 0; attempt < 100 && err == EEXIST; ++attempt) {
    try {
      path = dir + ".~in" + RandomSuffix() + ".pdf";
    } catch (const std::exception&) {
      err = EAGAIN;
      break;
    }
    out.Reset(::open(Os(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    err = out.Get() < 0 ? errno : 0;
  }
  if (out.Get() < 0) return Fail(error, "cannot make a copy of " + file.Path(), err);
  path_ = path;
  char buf[1 << 16];
  for (off_t at = 0;;) {
    ssize_t n = ::pread(file.Descriptor(), buf, sizeof buf, at);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Fail(error, "cannot read " + file.Path(), errno);
    if (n == 0) break;
    if (!WriteAll(out.Get(), buf, static_cast<size_t>(n)))
      return Fail(error, "cannot write a copy of " + file.Path(), errno);
    at += n;
  }
  if (!out.Close()) return Fail(error, "cannot write a copy of " + file.Path(), errno);
  return true;
}

bool FileClaims::Claim(dev_t device, ino_t inode) {
  std::lock_guard<std::mutex> lock(mutex_);
  return claimed_.insert({device, inode}).second;
}

bool FileClaims::Claimed(dev_t device, ino_t inode) {
  std::lock_guard<std::mutex> lock(mutex_);
  return claimed_.count({device, inode}) != 0;
}

}  // namespace platform
