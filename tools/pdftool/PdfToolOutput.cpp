#include "tools/pdftool/PdfToolOutput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

namespace pdftool {

namespace {

// The temporary file to remove when a signal ends the process (one at a time).
char g_pendingPath[8192];
volatile sig_atomic_t g_hasPending = 0;

void RemovePendingOnSignal(int sig) {
  if (g_hasPending) unlink(g_pendingPath);
  signal(sig, SIG_DFL);
  raise(sig);
}

// Blocks the cleanup signals while the pending path changes.
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

}  // namespace

void InstallCleanupOnSignals() {
  for (int s : {SIGINT, SIGTERM, SIGHUP})
    signal(s, RemovePendingOnSignal);
}

PendingOutput::PendingOutput(std::string path) : path_(std::move(path)) {
  if (path_.empty() || path_.back() == '/')
    throw OutputError("cannot write " + path_ + ": it is not a file name");
  size_t slash = path_.rfind('/');
  std::string folder = slash == std::string::npos ? "." : path_.substr(0, slash == 0 ? 1 : slash);
  std::string tmpl = folder + (folder.back() == '/' ? "" : "/") + ".AHPDFToolCmd26-XXXXXX";
  if (tmpl.size() >= sizeof g_pendingPath)
    throw OutputError("cannot write " + path_ + ": the path is too long");
  SignalBlock block;
  int fd = mkostemp(tmpl.data(), O_CLOEXEC);
  if (fd < 0) throw OutputError("cannot write " + path_ + ": " + ErrnoText(errno));
  tempPath_ = tmpl;
  sink_.fd = fd;
  sink_.path = path_;
  std::memcpy(g_pendingPath, tempPath_.c_str(), tempPath_.size() + 1);
  g_hasPending = 1;
}

PendingOutput::~PendingOutput() {
  if (!committed_) Discard();
}

void PendingOutput::Discard() {
  SignalBlock block;
  if (sink_.fd >= 0) close(sink_.fd);
  sink_.fd = -1;
  if (!tempPath_.empty()) unlink(tempPath_.c_str());
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

void PendingOutput::Commit() {
  CheckWritten();
  mode_t mask = umask(0);
  umask(mask);
  if (fchmod(sink_.fd, 0666 & ~mask) != 0 || fsync(sink_.fd) != 0)
    throw OutputError("cannot write " + path_ + ": " + ErrnoText(errno));
  int fd = sink_.fd;
  sink_.fd = -1;
  if (close(fd) != 0) throw OutputError("cannot write " + path_ + ": " + ErrnoText(errno));
  if (rename(tempPath_.c_str(), path_.c_str()) != 0)
    throw OutputError("cannot write " + path_ + ": " + ErrnoText(errno));
  {
    SignalBlock block;
    g_hasPending = 0;
    committed_ = true;
  }
  // Make the rename itself durable; the output is complete whatever this gives.
  size_t slash = path_.rfind('/');
  std::string folder = slash == std::string::npos ? "." : path_.substr(0, slash == 0 ? 1 : slash);
  int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    fsync(dir);
    close(dir);
  }
}

}  // namespace pdftool
