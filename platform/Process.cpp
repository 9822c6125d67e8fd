#include "platform/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/ProgramFolder.h"
#include "platform/RtlSysUtils.h"

extern char** environ;

namespace platform {

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string CurrentFolder() {
  std::vector<char> buf(4096);
  while (!::getcwd(buf.data(), buf.size())) {
    if (errno != ERANGE) return "./";
    buf.resize(buf.size() * 2);
  }
  return rtl::IncludeTrailingPathDelimiter(Utf8ToAnsi(buf.data()));
}

std::optional<std::string> SearchPath(const std::string& name, const std::string& current) {
  const char* pathVar = std::getenv("PATH");
  std::string_view paths = pathVar ? pathVar : "";
  while (pathVar) {
    size_t colon = paths.find(':');
    std::string_view dir = paths.substr(0, colon);
    std::string folder = dir.empty() ? current : rtl::IncludeTrailingPathDelimiter(Utf8ToAnsi(dir));
    if (IsExecutableFile(folder + name)) return folder + name;
    if (colon == std::string_view::npos) break;
    paths.remove_prefix(colon + 1);
  }
  return std::nullopt;
}

std::optional<std::string> FindProgram(const std::string& name, const std::string& current) {
  if (name.empty()) return std::nullopt;
  if (name.find('/') != std::string::npos) {
    std::string path = name[0] == '/' ? name : current + name;
    if (IsExecutableFile(path)) return path;
    return std::nullopt;
  }
  for (const std::string& dir : {ProgramFolder(), current})
    if (IsExecutableFile(dir + name)) return dir + name;
  return SearchPath(name, current);
}

std::function<void()>& PendingEventsHook() {
  static std::function<void()> hook;
  return hook;
}

}  // namespace

bool IsExecutableFile(const std::string& path) {
  std::string os = AnsiToUtf8(path);
  struct stat st;
  return ::stat(os.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(os.c_str(), X_OK) == 0;
}

std::optional<std::string> FindOnPath(const std::string& name) {
  if (name.empty() || name.find('/') != std::string::npos) return std::nullopt;
  return SearchPath(name, CurrentFolder());
}

std::vector<std::string> SplitCommandLine(std::string_view s) {
  std::vector<std::string> args;
  size_t i = 0, n = s.size();
  for (;;) {
    while (i < n && IsBlank(s[i]))
      ++i;
    if (i >= n) break;
    std::string arg;
    bool quoted = false;
    while (i < n) {
      char c = s[i];
      if (!quoted && IsBlank(c)) break;
      if (c == '\\') {
        size_t j = i;
        while (j < n && s[j] == '\\')
          ++j;
        size_t count = j - i;
        if (j < n && s[j] == '"') {
          arg.append(count / 2, '\\');
          if (count % 2 == 1) {
            arg += '"';
            i = j + 1;
          } else {
            i = j;  // the quote is a delimiter
          }
        } else {
          arg.append(count, '\\');
          i = j;
        }
        continue;
      }
      if (c == '"') {
        if (quoted && i + 1 < n && s[i + 1] == '"') {
          arg += '"';
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
        continue;
      }
      if (IsDoubleByteAt(s, i)) {
        arg.append(s.substr(i, 2));
        i += 2;
        continue;
      }
      arg += c;
      ++i;
    }
    args.push_back(std::move(arg));
  }
  return args;
}

std::string QuoteArgument(std::string_view text) {
  std::string out = "\"";
  size_t backslashes = 0;  // backslashes just written
  bool loneLead = false;   // the byte just written is a lead byte without its second byte
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (IsDoubleByteAt(text, i)) {
      out.append(text.substr(i, 2));
      ++i;
      backslashes = 0;
      loneLead = false;
      continue;
    }
    if (c == '"') {
      if (loneLead) {
        out += '"';  // "" inside quotes: a backslash here would pair with the lead byte
      } else {
        out.append(backslashes + 1, '\\');
      }
      backslashes = 0;
    } else if (c == '\\') {
      ++backslashes;
    } else {
      backslashes = 0;
    }
    loneLead = IsDBCSLeadByte(static_cast<uint8_t>(c));
    out += c;
  }
  out.append(backslashes, '\\');
  return out + "\"";
}

std::optional<ResolvedCommand> ResolveCommandLine(std::string_view commandLine,
                                                  const std::string& currentFolder) {
  std::string current =
      currentFolder.empty() ? CurrentFolder() : rtl::IncludeTrailingPathDelimiter(currentFolder);
  std::string_view s = commandLine;
  while (!s.empty() && IsBlank(s.front()))
    s.remove_prefix(1);
  if (s.empty()) return std::nullopt;
  auto found = [&](std::string_view name, std::string_view rest) -> std::optional<ResolvedCommand> {
    auto program = FindProgram(std::string(name), current);
    if (!program) return std::nullopt;
    return ResolvedCommand{*program, std::string(name), SplitCommandLine(rest)};
  };
  if (s.front() == '"') {
    size_t close = s.find('"', 1);
    std::string_view name = s.substr(1, close == std::string_view::npos ? s.npos : close - 1);
    std::string_view rest = close == std::string_view::npos ? "" : s.substr(close + 1);
    return found(name, rest);
  }
  for (size_t i = 0; i <= s.size(); ++i) {
    if (i < s.size() && !IsBlank(s[i])) {
      if (IsDoubleByteAt(s, i)) ++i;
      continue;
    }
    if (i > 0 && !IsBlank(s[i - 1])) {
      if (auto r = found(s.substr(0, i), i < s.size() ? s.substr(i + 1) : "")) return r;
    }
  }
  return std::nullopt;
}

// ---- Process ----

Process::~Process() {
  if (!ended_) Reap(false);
  if (pidfd_ >= 0) ::close(pidfd_);
}

bool Process::Reap(bool block) {
  int status = 0;
  for (;;) {
    pid_t r = ::waitpid(pid_, &status, block ? 0 : WNOHANG);
    if (r == 0) return false;
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) {
      exitCode_ = 255;  // reaped elsewhere: the code is unknown, and it is no success
    } else if (WIFEXITED(status)) {
      exitCode_ = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
      exitCode_ = 128 + WTERMSIG(status);
    } else {
      continue;  // stopped or continued: still running
    }
    ended_ = true;
    return true;
  }
}

bool Process::WaitExited(int timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  for (;;) {
    siginfo_t info{};
    int r = ::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 || info.si_pid == pid_) return true;  // ended (or nothing left to wait for)
    const auto now = Clock::now();
    if (now >= deadline) return false;
    const int left =
        static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count());
    if (pidfd_ >= 0) {
      pollfd p{pidfd_, POLLIN, 0};
      ::poll(&p, 1, left);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(std::min(left, 5)));
    }
  }
}

void Process::Signal(int sig) {
  ::kill(ownGroup_ ? -pid_ : pid_, sig);
}

void Process::End(int graceMs) {
  if (ended_) return;
  Signal(SIGTERM);
  Signal(SIGCONT);  // a stopped process could not act on SIGTERM
  WaitExited(graceMs);
  // Until it is reaped the process keeps its id, so the group's id cannot name anybody else.
  Signal(SIGKILL);
  Reap(true);
}

bool Process::WaitFor(int timeoutMs) {
  if (ended_) return true;
  using Clock = std::chrono::steady_clock;
  auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
  for (;;) {
    if (Reap(false)) return true;
    int left = -1;
    if (timeoutMs >= 0) {
      auto now = Clock::now();
      if (now >= deadline) return false;
      left = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count());
    }
    if (pidfd_ >= 0) {
      pollfd p{pidfd_, POLLIN, 0};
      int r = ::poll(&p, 1, left);
      if (r < 0 && errno != EINTR) {
        ::close(pidfd_);
        pidfd_ = -1;
      }
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(left < 0 || left > 5 ? 5 : left));
    }
  }
}

std::unique_ptr<Process> StartProcess(const std::string& commandLine, const std::string& workDir,
                                      std::string* error, ChildOutput output, ProcessGroup group) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return nullptr;
  };
  if (!workDir.empty() && ::access(AnsiToUtf8(workDir).c_str(), X_OK) != 0)
    return fail("cannot enter the folder " + workDir + ": " + std::strerror(errno));
  auto resolved = ResolveCommandLine(commandLine, workDir);
  if (!resolved) return fail("program not found: " + commandLine);

  std::vector<std::string> argv;
  argv.push_back(AnsiToUtf8(resolved->programName));
  // An absolute path reaches the child as the file system spells it (see OsPath).
  for (const auto& a : resolved->arguments)
    argv.push_back(!a.empty() && a[0] == '/' ? OsPath(a) : AnsiToUtf8(a));
  std::vector<char*> args;
  for (auto& a : argv)
    args.push_back(a.data());
  args.push_back(nullptr);
  std::string program = AnsiToUtf8(resolved->program);
  std::string dir = AnsiToUtf8(workDir);

  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  if (output == ChildOutput::kDiscard) {
    posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
  }
  posix_spawn_file_actions_addclosefrom_np(&fa, 3);
  if (!dir.empty()) posix_spawn_file_actions_addchdir_np(&fa, dir.c_str());
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &all);
  short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
  if (group == ProcessGroup::kOwn) {
    posix_spawnattr_setpgroup(&attr, 0);
    flags |= POSIX_SPAWN_SETPGROUP;
  }
  posix_spawnattr_setflags(&attr, flags);
  pid_t pid = 0;
  int rc = posix_spawn(&pid, program.c_str(), &fa, &attr, args.data(), environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&fa);
  if (rc != 0) return fail("cannot start " + resolved->program + ": " + std::strerror(rc));
  int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  if (pidfd >= 0) ::fcntl(pidfd, F_SETFD, FD_CLOEXEC);
  return std::unique_ptr<Process>(
      new Process(pid, pidfd < 0 ? -1 : pidfd, group == ProcessGroup::kOwn));
}

void SetPendingEventsHook(std::function<void()> hook) {
  PendingEventsHook() = std::move(hook);
}

void ProcessPendingEvents() {
  if (auto& hook = PendingEventsHook()) hook();
}

int RunAndWait(const std::string& commandLine, const std::string& workDir, int sleepMs,
               ChildOutput output, std::chrono::milliseconds timeLimit,
               const std::function<bool()>& stop) {
  using namespace std::chrono;
  using Clock = steady_clock;
  const bool limited = timeLimit > milliseconds::zero();
  // A limit of a century is no limit, and keeps the deadline far from overflowing.
  const Clock::time_point deadline =
      Clock::now() + std::min<milliseconds>(timeLimit, hours(24 * 365 * 100));
  auto left = [&] {
    return static_cast<int>(
        std::max<int64_t>(0, ceil<milliseconds>(deadline - Clock::now()).count()));
  };
  auto process = StartProcess(commandLine, workDir, nullptr, output,
                              limited || stop ? ProcessGroup::kOwn : ProcessGroup::kShared);
  if (!process) return kRunNotStarted;
  while (!process->WaitFor(limited ? std::min(100, left()) : 100)) {
    if (limited && left() == 0) {
      process->End(kEndGraceMs);
      return kRunTimedOut;
    }
    ProcessPendingEvents();
    if (stop && stop()) {
      process->End(kEndGraceMs);
      return kRunStopped;
    }
    const int sleep = limited ? std::min(sleepMs, left()) : sleepMs;
    if (sleep > 0) std::this_thread::sleep_for(milliseconds(sleep));
  }
  return process->ExitCode();
}

}  // namespace platform
