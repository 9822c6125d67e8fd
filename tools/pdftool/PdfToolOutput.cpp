#include "tools/pdftool/PdfToolOutput.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>

namespace pdftool {

namespace {

// The temporary file to remove when a signal ends the process (one at a time).
int g_pendingDir = -1;
char g_pendingName[NAME_MAX + 1];
volatile sig_atomic_t g_hasPending = 0;

void RemovePendingOnSignal(int sig) {
  if (g_hasPending) unlinkat(g_pendingDir, g_pendingName, 0);
  signal(sig, SIG_DFL);
  raise(sig);
}

// Blocks the cleanup signals while the pending file changes.
class SignalBlock {
 public:
  SignalBlock() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : {SIGINT, SIGTERM, SIGHUP})
      sigaddset(&set, s);
    sigprocmask(SIG_BLOCK, &set, &old_);
  }
  ~SignalBlock() { sigprocmask(SIG_SETMASK, &old_, nullptr); }

 private:
  sigset_t old_;
};

std::string ErrnoText(int err) {
  return std::strerror(err);
}

// A name nobody can guess: 16 letters and digits from the kernel's random source.
bool RandomText(std::string& text) {
  unsigned char bytes[16];
  if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) return false;
  static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  text.clear();
  for (unsigned char b : bytes)
    text += kChars[b % (sizeof kChars - 1)];
  return true;
}

}  // namespace

void InstallCleanupOnSignals() {
  for (int s : {SIGINT, SIGTERM, SIGHUP})
    signal(s, RemovePendingOnSignal);
}

PendingOutput::PendingOutput(std::string path) : path_(std::move(path)) {
  if (path_.empty() || path_.back() == '/')
    throw OutputError("cannot write " + path_ + ": it is not a file name");
  const size_t slash = path_.rfind('/');
  const std::string folder =
      slash == std::string::npos ? "." : path_.substr(0, slash == 0 ? 1 : slash);
  name_ = slash == std::string::npos ? path_ : path_.substr(slash + 1);
  dir_ = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir_ < 0) Fail(errno);
  SignalBlock block;
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string random;
    if (!RandomText(random)) break;
    const std::string name = ".AHPDFToolCmd26-" + random;
    const int fd =
        openat(dir_, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) {
      tempName_ = name;
      sink_.fd = fd;
      sink_.path = path_;
      g_pendingDir = dir_;
      std::memcpy(g_pendingName, name.c_str(), name.size() + 1);
      g_hasPending = 1;
      return;
    }
    if (errno != EEXIST) break;
  }
  const int err = errno;
  close(dir_);
  dir_ = -1;
  Fail(err);
}

PendingOutput::~PendingOutput() {
  if (!committed_) Discard();
  if (dir_ >= 0) close(dir_);
}

void PendingOutput::Fail(int err) const {
  throw OutputError("cannot write " + path_ + ": " + ErrnoText(err));
}

void PendingOutput::Discard() {
  SignalBlock block;
  if (sink_.fd >= 0) close(sink_.fd);
  sink_.fd = -1;
  if (!tempName_.empty()) unlinkat(dir_, tempName_.c_str(), 0);
  tempName_.clear();
  g_hasPending = 0;
}

void PendingOutput::FdPipeline::write(unsigned char const* data, size_t len) {
  constexpr size_t kBufferSize = 1 << 16;
  if (!error.empty()) return;
  if (buffer_.size() + len > kBufferSize) Flush();
  if (len >= kBufferSize) {
    buffer_.assign(data, data + len);
    Flush();
    return;
  }
  buffer_.insert(buffer_.end(), data, data + len);
}

void PendingOutput::FdPipeline::Flush() {
  size_t done = 0;
  while (error.empty() && done < buffer_.size()) {
    ssize_t n = ::write(fd, buffer_.data() + done, buffer_.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      error = "cannot write " + path + ": " + ErrnoText(n < 0 ? errno : EIO);
    else
      done += static_cast<size_t>(n);
  }
  buffer_.clear();
}

void PendingOutput::CheckWritten() {
  sink_.Flush();
  if (!sink_.error.empty()) throw OutputError(sink_.error);
}

std::unique_ptr<FILE, PendingOutput::FileCloser> PendingOutput::OpenWritten() {
  const int fd = fcntl(sink_.fd, F_DUPFD_CLOEXEC, 0);
  if (fd < 0) Fail(errno);
  std::unique_ptr<FILE, FileCloser> file(fdopen(fd, "rb"));
  if (!file) {
    const int err = errno;
    close(fd);
    Fail(err);
  }
  return file;
}

void PendingOutput::Commit() {
  CheckWritten();
  if (fsync(sink_.fd) != 0) Fail(errno);
  const int fd = sink_.fd;
  sink_.fd = -1;
  if (close(fd) != 0) Fail(errno);
  if (renameat(dir_, tempName_.c_str(), dir_, name_.c_str()) != 0) Fail(errno);
  {
    SignalBlock block;
    g_hasPending = 0;
    committed_ = true;
  }
  // Make the rename itself durable; the output is complete whatever this gives.
  fsync(dir_);
}

}  // namespace pdftool
