// The signals that ask a program to end (SIGTERM, SIGINT, SIGHUP), caught so that a run can stop
// at its next check instead of dying with files half written: the handler only notes the signal.
#pragma once

#include <csignal>
#include <string>

namespace platform {

// While it lives (until End), SIGTERM, SIGINT and SIGHUP are caught and noted for StopSignal (a
// signal that was ignored when the scope began, as under nohup, stays ignored); afterwards each
// is handled as before. System calls interrupted by the signal go on.
class StopSignalScope {
 public:
  StopSignalScope();
  ~StopSignalScope() { End(); }
  StopSignalScope(const StopSignalScope&) = delete;
  StopSignalScope& operator=(const StopSignalScope&) = delete;

  // Handles the signals as before the scope again and returns the one caught while it lived (0
  // when none): a signal that comes later takes its usual effect, none is lost between.
  int End();

 private:
  struct sigaction old_[3];
  bool ended_ = false;
};

// The stop signal caught last since the innermost scope began; 0 when none, or outside a scope.
int StopSignal();

// "SIGTERM", "SIGINT", "SIGHUP"; "signal <n>" for any other.
std::string SignalName(int sig);

// Sends the signal to this process (as kill from outside would).
void RaiseSignal(int sig);

}  // namespace platform
