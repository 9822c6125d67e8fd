#include "platform/StopSignals.h"

#include <unistd.h>

#include <atomic>

namespace platform {

namespace {

constexpr int kStopSignals[3] = {SIGTERM, SIGINT, SIGHUP};

std::atomic<int> caught{0};
int scopes = 0;  // living scopes; only changed on the thread that runs them
static_assert(std::atomic<int>::is_always_lock_free, "the handler may only touch lock-free data");

extern "C" void NoteStopSignal(int sig) {
  caught.store(sig, std::memory_order_relaxed);
}

}  // namespace

StopSignalScope::StopSignalScope() {
  caught.store(0);
  ++scopes;
  struct sigaction action {};
  action.sa_handler = NoteStopSignal;
  action.sa_flags = SA_RESTART;
  sigfillset(&action.sa_mask);
  for (int i = 0; i < 3; ++i) {
    sigaction(kStopSignals[i], nullptr, &old_[i]);
    if (old_[i].sa_handler != SIG_IGN) sigaction(kStopSignals[i], &action, nullptr);
  }
}

int StopSignalScope::End() {
  if (ended_) return 0;
  ended_ = true;
  for (int i = 0; i < 3; ++i)
    sigaction(kStopSignals[i], &old_[i], nullptr);
  const int sig = caught.exchange(0);
  --scopes;
  return sig;
}

int StopSignal() {
  return scopes > 0 ? caught.load(std::memory_order_relaxed) : 0;
}

std::string SignalName(int sig) {
  switch (sig) {
    case SIGTERM:
      return "SIGTERM";
    case SIGINT:
      return "SIGINT";
    case SIGHUP:
      return "SIGHUP";
    default:
      return "signal " + std::to_string(sig);
  }
}

void RaiseSignal(int sig) {
  ::kill(::getpid(), sig);
}

}  // namespace platform
