#include "platform/StopSignals.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <string>
#include <thread>

using namespace platform;

namespace {

// The handler that a signal has now.
void (*Disposition(int sig))(int) {
  struct sigaction now {};
  sigaction(sig, nullptr, &now);
  return now.sa_handler;
}

}  // namespace

TEST(StopSignalScope, NotesEachStopSignalAndGivesItsHandlingBackAfterwards) {
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
    SCOPED_TRACE(SignalName(sig));
    ASSERT_EQ(Disposition(sig), SIG_DFL);
    {
      StopSignalScope scope;
      EXPECT_EQ(StopSignal(), 0);
      RaiseSignal(sig);  // would end the test program without the scope
      EXPECT_EQ(StopSignal(), sig);
      EXPECT_EQ(scope.End(), sig);
      EXPECT_EQ(Disposition(sig), SIG_DFL);
      EXPECT_EQ(StopSignal(), 0);  // nothing is caught outside a scope
      EXPECT_EQ(scope.End(), 0);
    }
    EXPECT_EQ(Disposition(sig), SIG_DFL);
    StopSignalScope next;
    EXPECT_EQ(StopSignal(), 0);  // a new scope starts without one
  }
  EXPECT_EQ(SignalName(SIGTERM), "SIGTERM");
  EXPECT_EQ(SignalName(SIGUSR1), "signal " + std::to_string(SIGUSR1));
}

TEST(StopSignalScope, ASignalIgnoredBeforeStaysIgnored) {
  // As under nohup: the hang-up stays ignored, the others are caught.
  auto* old = std::signal(SIGHUP, SIG_IGN);
  {
    StopSignalScope scope;
    RaiseSignal(SIGHUP);
    EXPECT_EQ(StopSignal(), 0);
    EXPECT_EQ(Disposition(SIGHUP), SIG_IGN);
    RaiseSignal(SIGINT);
    EXPECT_EQ(StopSignal(), SIGINT);
  }
  EXPECT_EQ(Disposition(SIGHUP), SIG_IGN);
  std::signal(SIGHUP, old);
}

TEST(StopSignalScope, ACallWaitingWhenTheSignalComesGoesOn) {
  // A read from a pipe whose data comes after the signal returns the data, not an interruption.
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  StopSignalScope scope;
  const pthread_t reader = pthread_self();
  std::thread other([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    pthread_kill(reader, SIGTERM);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(::write(fds[1], "x", 1), 1);
  });
  char c = 0;
  const ssize_t n = ::read(fds[0], &c, 1);
  other.join();
  EXPECT_EQ(n, 1);
  EXPECT_EQ(c, 'x');
  EXPECT_EQ(StopSignal(), SIGTERM);
  ::close(fds[0]);
  ::close(fds[1]);
}
