#include "tests/ui/wx/XvfbDisplay.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <wx/debug.h>
#include <wx/string.h>

#include <cstdlib>
#include <string>

#include "ui/wx/WxBackend.h"

namespace sv::test {

namespace {
pid_t g_server = 0;

// A failed toolkit assertion fails the test; the toolkit's own report is a modal dialog that
// nobody would close.
void FailOnAssert(const wxString& file, int line, const wxString& func, const wxString& cond,
                  const wxString& msg) {
  ADD_FAILURE() << "toolkit assertion \"" << cond.utf8_string() << "\" failed in "
                << func.utf8_string() << " (" << file.utf8_string() << ":" << line
                << "): " << msg.utf8_string();
}

void StopServer() {
  if (g_server > 0) {
    kill(g_server, SIGTERM);
    waitpid(g_server, nullptr, 0);
    g_server = 0;
  }
}
}  // namespace

bool StartPrivateDisplay(std::string& error) {
  if (g_server > 0) return true;
  int fds[2];
  if (pipe(fds) != 0) {
    error = "pipe failed";
    return false;
  }
  std::string fd = std::to_string(fds[1]);
  pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    error = "fork failed";
    return false;
  }
  if (pid == 0) {
    // The server ends with the test program, however that ends.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    close(fds[0]);
    int null = open("/dev/null", O_WRONLY);
    if (null >= 0) dup2(null, 2);
    execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x1024x24", "-dpi", "96",
           "-nolisten", "tcp", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  g_server = pid;
  std::atexit(StopServer);
  std::string number;
  struct pollfd p = {fds[0], POLLIN, 0};
  while (poll(&p, 1, 10000) > 0) {
    char c;
    if (read(fds[0], &c, 1) != 1 || c == '\n') break;
    number += c;
  }
  close(fds[0]);
  if (number.empty()) {
    StopServer();
    error = "Xvfb did not report its display";
    return false;
  }
  setenv("DISPLAY", (":" + number).c_str(), 1);
  setenv("NO_AT_BRIDGE", "1", 1);
  setenv("GTK_A11Y", "none", 1);
  setenv("GSETTINGS_BACKEND", "memory", 1);
  ui::wx::InstallWxBackend();
  wxSetAssertHandler(FailOnAssert);
  return true;
}

std::string ArtifactDir() {
  std::string dir = "artifacts/";
  mkdir(dir.c_str(), 0755);
  return dir;
}

}  // namespace sv::test

// Fontconfig keeps its font caches for the life of the process (through the toolkit's text
// layout); they are not leaks of this program.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}
