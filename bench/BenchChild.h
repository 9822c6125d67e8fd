// Work timed in a child process of its own, so that each way's peak memory and page faults are
// its own and not those of the ways before it.
#pragma once

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>

namespace bench {

struct ChildRun {
  double seconds = -1;  // as the child measured it; -1 when the work failed
  long peakKiB = 0;     // the child's peak resident size, or its largest descendant's
  long faults = 0;      // minor page faults of the child and its descendants
};

inline ChildRun InChild(const std::function<bool()>& work) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  const pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    return {};
  }
  if (pid == 0) {
    close(fds[0]);
    const auto t0 = std::chrono::steady_clock::now();
    const bool ok = work();
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (!ok) s = -1;
    (void)!write(fds[1], &s, sizeof s);
    _exit(0);
  }
  close(fds[1]);
  double s = -1;
  (void)!read(fds[0], &s, sizeof s);
  close(fds[0]);
  int status = 0;
  rusage ru{};
  wait4(pid, &status, 0, &ru);
  return {s, ru.ru_maxrss, ru.ru_minflt};
}

}  // namespace bench
