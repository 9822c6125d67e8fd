#include "tests/ui/wx/XvfbDisplay.h"

#include <dlfcn.h>
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
#include <wx/timer.h>

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

namespace {
template <class F>
F Gtk(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_DEFAULT, name));
}
}  // namespace

struct DirectoryDialogUser::Timer : wxTimer {
  explicit Timer(DirectoryDialogUser* user) : user_(user) {}
  void Notify() override { user_->Tick(); }
  DirectoryDialogUser* user_;
};

DirectoryDialogUser::DirectoryDialogUser(std::string folder)
    : folder_(std::move(folder)), timer_(new Timer(this)) {
  timer_->Start(200);
}

DirectoryDialogUser::~DirectoryDialogUser() {
  timer_->Stop();
  delete timer_;
}

void DirectoryDialogUser::Tick() {
  if (done_) return;
  struct GList {
    void* data;
    GList* next;
    GList* prev;
  };
  auto list = Gtk<GList* (*)()>("gtk_window_list_toplevels");
  auto modal = Gtk<int (*)(void*)>("gtk_window_get_modal");
  auto visible = Gtk<int (*)(void*)>("gtk_widget_get_visible");
  auto respond = Gtk<void (*)(void*, int)>("gtk_dialog_response");
  auto freeList = Gtk<void (*)(GList*)>("g_list_free");
  auto setFolder = Gtk<int (*)(void*, const char*)>("gtk_file_chooser_set_current_folder");
  auto chosen = Gtk<char* (*)(void*)>("gtk_file_chooser_get_filename");
  auto freeText = Gtk<void (*)(void*)>("g_free");
  if (!list || !modal || !visible || !respond || !freeList || !setFolder || !chosen || !freeText)
    return;
  GList* windows = list();
  void* dialog = nullptr;
  for (GList* w = windows; w; w = w->next)
    if (modal(w->data) && visible(w->data)) dialog = w->data;
  freeList(windows);
  if (!dialog) return;
  if (!moved_) {
    moved_ = setFolder(dialog, folder_.c_str()) != 0;
    return;
  }
  // The chooser reads the folder in the background: OK only once it names the folder.
  char* name = chosen(dialog);
  const bool there = name && folder_ == name;
  if (name) freeText(name);
  if (!there) return;
  constexpr int kGtkResponseAccept = -3;
  respond(dialog, kGtkResponseAccept);
  done_ = true;
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
