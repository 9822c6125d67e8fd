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
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/dcclient.h>
#include <wx/debug.h>
#include <wx/listctrl.h>
#include <wx/radiobut.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/string.h>
#include <wx/timer.h>

#include <cstdlib>
#include <string>
#include <typeinfo>

#include "tests/support/TestSupport.h"
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
    // Room for a window scaled for large text.
    const char* screen = AtDesktopScale() ? "2560x1600x24" : "1280x1024x24";
    execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen, "-dpi", "96",
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

struct MessageDialogUser::Timer : wxTimer {
  explicit Timer(MessageDialogUser* user) : user_(user) {}
  void Notify() override { user_->Tick(); }
  MessageDialogUser* user_;
};

MessageDialogUser::MessageDialogUser() : timer_(new Timer(this)) {
  timer_->Start(200);
}

MessageDialogUser::~MessageDialogUser() {
  timer_->Stop();
  delete timer_;
}

void MessageDialogUser::Tick() {
  struct GList {
    void* data;
    GList* next;
    GList* prev;
  };
  auto list = Gtk<GList* (*)()>("gtk_window_list_toplevels");
  auto visible = Gtk<int (*)(void*)>("gtk_widget_get_visible");
  auto freeList = Gtk<void (*)(GList*)>("g_list_free");
  auto messageType = Gtk<unsigned long (*)()>("gtk_message_dialog_get_type");
  auto isA = Gtk<int (*)(void*, unsigned long)>("g_type_check_instance_is_a");
  auto get = Gtk<void (*)(void*, const char*, ...)>("g_object_get");
  auto respond = Gtk<void (*)(void*, int)>("gtk_dialog_response");
  auto freeText = Gtk<void (*)(void*)>("g_free");
  if (!list || !visible || !freeList || !messageType || !isA || !get || !respond || !freeText)
    return;
  GList* windows = list();
  void* dialog = nullptr;
  for (GList* w = windows; w; w = w->next)
    if (visible(w->data) && isA(w->data, messageType())) dialog = w->data;
  freeList(windows);
  if (!dialog) return;
  char* text = nullptr;
  char* secondary = nullptr;
  get(dialog, "text", &text, "secondary-text", &secondary, static_cast<void*>(nullptr));
  std::string all = text ? text : "";
  if (secondary && *secondary) all += std::string("\n") + secondary;
  freeText(text);
  freeText(secondary);
  texts_.push_back(all);
  constexpr int kGtkResponseOk = -5;
  respond(dialog, kGtkResponseOk);
}

namespace {

struct Box {
  ui::TControl* control;
  wxRect rect;  // on the screen
};

std::string NameOf(ui::TControl& c) {
  std::string name = c.Name();
  if (name.empty()) name = typeid(c).name();
  wxWindow* w = ui::wx::WindowOf(c);
  if (w && !w->GetLabel().empty()) name += " \"" + w->GetLabel().utf8_string() + "\"";
  return name;
}

// The room the toolkit's check box and drop-down list take beside their text.
struct Extras {
  wxSize check, choice;
};

Extras Measure(wxWindow* parent) {
  Extras e;
  auto* check = new wxCheckBox(parent, wxID_ANY, "X");
  e.check = check->GetBestSize() - check->GetTextExtent("X");
  delete check;
  wxString items[] = {"X"};
  auto* choice = new wxChoice(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, 1, items);
  e.choice = choice->GetBestSize() - choice->GetTextExtent("X");
  delete choice;
  e.check.y = 0;  // the text alone decides the height
  e.choice.y = 0;
  return e;
}

wxSize Extent(wxWindow* w, const wxString& text) {
  wxClientDC dc(w);
  dc.SetFont(w->GetFont());
  return dc.GetMultiLineTextExtent(text);
}

void CheckCaption(ui::TControl& c, wxWindow* w, const Extras& extras,
                  std::vector<std::string>& faults) {
  const wxRect r = w->GetScreenRect();
  auto fits = [&](const wxString& text, wxSize need, wxSize room) {
    if (need.x > room.x || need.y > room.y)
      faults.push_back(NameOf(c) + " \"" + text.utf8_string() + "\" needs " +
                       std::to_string(need.x) + "x" + std::to_string(need.y) + ", has " +
                       std::to_string(room.x) + "x" + std::to_string(room.y));
  };
  if (auto* box = dynamic_cast<wxStaticBox*>(w)) {
    const wxString label = box->GetLabel();
    if (!label.empty()) fits(label, Extent(w, label) + wxSize(16, 0), r.GetSize());
  } else if (dynamic_cast<wxCheckBox*>(w) || dynamic_cast<wxRadioButton*>(w)) {
    const wxString label = w->GetLabel();
    fits(label, Extent(w, label) + extras.check, r.GetSize());
  } else if (auto* choice = dynamic_cast<wxChoice*>(w)) {
    for (unsigned i = 0; i < choice->GetCount(); ++i)
      fits(choice->GetString(i), Extent(w, choice->GetString(i)) + extras.choice + wxSize(0, 2),
           r.GetSize());
  } else if (dynamic_cast<wxButton*>(w)) {
    const wxString label = w->GetLabel();
    fits(label, Extent(w, label) + wxSize(8, 4), r.GetSize());
  } else if (dynamic_cast<wxStaticText*>(w)) {
    const wxString label = w->GetLabel();
    if (!label.empty()) fits(label, Extent(w, label), w->GetClientSize());
  } else if (auto* list = dynamic_cast<wxListCtrl*>(w)) {
    for (int i = 0; i < list->GetColumnCount(); ++i) {
      wxListItem column;
      column.SetMask(wxLIST_MASK_TEXT);
      list->GetColumn(i, column);
      fits(column.GetText(), Extent(w, column.GetText()) + wxSize(8, 0),
           wxSize(list->GetColumnWidth(i), r.height));
    }
  }
}

void Walk(ui::TControl& c, const Extras& extras, std::vector<std::string>& faults) {
  auto* container = dynamic_cast<ui::TWinControl*>(&c);
  if (!container) return;
  wxWindow* own = dynamic_cast<ui::TForm*>(&c) ? ui::wx::ClientWindowOf(c) : ui::wx::WindowOf(c);
  if (!own) return;
  const wxRect inside = own->GetScreenRect();
  // A group's children start below its caption.
  int top = inside.y;
  if (auto* box = dynamic_cast<wxStaticBox*>(own))
    if (!box->GetLabel().empty()) top += Extent(own, box->GetLabel()).y;
  std::vector<Box> boxes;
  for (int i = 0; i < container->ControlCount(); ++i) {
    ui::TControl& child = *container->Controls(i);
    wxWindow* w = ui::wx::WindowOf(child);
    if (!w || !w->IsShownOnScreen()) continue;
    const wxRect r = w->GetScreenRect();
    if (!inside.Contains(r))
      faults.push_back(NameOf(child) + " reaches out of " + NameOf(c));
    else if (r.y < top)
      faults.push_back(NameOf(child) + " is under the caption of " + NameOf(c));
    for (const Box& b : boxes)
      if (b.rect.Intersects(r)) faults.push_back(NameOf(child) + " overlaps " + NameOf(*b.control));
    boxes.push_back({&child, r});
    CheckCaption(child, w, extras, faults);
    Walk(child, extras, faults);
  }
}

}  // namespace

std::vector<std::string> LayoutFaults(ui::TForm& form) {
  std::vector<std::string> faults;
  wxWindow* client = ui::wx::ClientWindowOf(form);
  if (!client) return {"the form has no window"};
  Walk(form, Measure(client), faults);
  return faults;
}

bool AtDesktopScale() {
  return std::getenv("SV_LAYOUT_CHILD") != nullptr;
}

int RunAtDesktopScale(const std::string& test, const std::string& scale, std::string& output) {
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return -1;
  self[n] = 0;
  setenv("GDK_DPI_SCALE", scale.c_str(), 1);
  setenv("SV_LAYOUT_CHILD", "1", 1);
  CommandResult r = RunCommand({self, "--gtest_also_run_disabled_tests", "--gtest_filter=" + test});
  unsetenv("GDK_DPI_SCALE");
  unsetenv("SV_LAYOUT_CHILD");
  output = r.out + r.err;
  return r.exitCode;
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
