#include "ui/Shell.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>

#include "platform/CodePage.h"
#include "ui/Dialogs.h"
#include "ui/Forms.h"

extern char** environ;

namespace ui {

void TShell::AcceptFiles(TWinControl& window, bool accept) {
  window.SetAcceptsFiles(accept);
}

TDropHandler TShell::GetDropHandler(TWinControl& window) {
  return window.DropHandler();
}

void TShell::SetDropHandler(TWinControl& window, TDropHandler handler) {
  window.SetDropHandler(std::move(handler));
}

namespace {
TBackend* RunningBackend() {
  try {
    return Application().StartBackend();
  } catch (const std::exception& e) {
    Application().HandleException(nullptr, e);
    return nullptr;
  }
}
}  // namespace

bool TShell::BrowseForFolder(TWinControl* owner, const std::string& title,
                             const std::string& initialDir, std::string& path) {
  TBackend* backend = RunningBackend();
  return backend && backend->BrowseForFolder(owner, title, initialDir, path);
}

bool TShell::GetOpenFileName(TOpenDialog& dialog, TWinControl* owner, std::string& fileName,
                             int& filterIndex) {
  TBackend* backend = RunningBackend();
  return backend && backend->OpenFileDialog(dialog, owner, fileName, filterIndex);
}

bool TShell::OpenDocument(const std::string& path) {
  // A short-lived shell starts xdg-open in the background and ends at once, so the viewer is
  // detached from this process (no zombie, no waiting for it).
  std::string utf8 = platform::AnsiToUtf8(path);
  const char* argv[] = {"/bin/sh",
                        "-c",
                        "command -v xdg-open >/dev/null 2>&1 || exit 127; "
                        "xdg-open \"$1\" </dev/null >/dev/null 2>&1 &",
                        "sh",
                        utf8.c_str(),
                        nullptr};
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
  pid_t pid = 0;
  int rc = posix_spawn(&pid, "/bin/sh", nullptr, &attr, const_cast<char* const*>(argv), environ);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) return false;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

namespace {
TShell& RealShell() {
  static TShell shell;
  return shell;
}
TShell* g_shell = nullptr;
}  // namespace

TShell& Shell() {
  return g_shell ? *g_shell : RealShell();
}

TShell* SetShell(TShell* shell) {
  TShell* previous = g_shell;
  g_shell = shell;
  return previous;
}

}  // namespace ui
