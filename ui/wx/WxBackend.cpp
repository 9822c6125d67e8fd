#include "ui/wx/WxBackend.h"

#include <dlfcn.h>

#include <wx/dcmemory.h>
#include <wx/dirdlg.h>
#include <wx/evtloop.h>
#include <wx/filedlg.h>
#include <wx/image.h>
#include <wx/log.h>
#include <wx/settings.h>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <unordered_map>
#include <vector>

#include "platform/CodePage.h"
#include "ui/Dialogs.h"
#include "ui/wx/WxInternal.h"
#include "ui/wx/WxWindows.h"

namespace ui::wx {

// ---- texts, colours, fonts ----

wxString ToWx(std::string_view ansi) {
  return wxString::FromUTF8(platform::AnsiToUtf8(ansi));
}

wxString ToWxText(std::string_view ansi) {
  std::string s;
  s.reserve(ansi.size());
  for (size_t i = 0; i < ansi.size(); ++i) {
    if (ansi[i] == '\r' && i + 1 < ansi.size() && ansi[i + 1] == '\n') continue;
    s += ansi[i];
  }
  return ToWx(s);
}

wxString ToWxText(std::u16string_view wide) {
  std::u16string s;
  s.reserve(wide.size());
  for (size_t i = 0; i < wide.size(); ++i) {
    if (wide[i] == u'\r' && i + 1 < wide.size() && wide[i + 1] == u'\n') continue;
    s += wide[i];
  }
  return wxString::FromUTF8(platform::WideToUtf8(s));
}

std::string FromWx(const wxString& text) {
  return platform::Utf8ToAnsi(text.utf8_string());
}

std::string FromWxText(const wxString& text) {
  std::string s = FromWx(text), out;
  out.reserve(s.size());
  for (char c : s) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

wxColour ToColour(TColor color) {
  if (IsSystemColor(color))
    return wxSystemSettings::GetColour(static_cast<wxSystemColour>(SystemColorIndex(color)));
  return wxColour(static_cast<unsigned char>(RedOf(color)),
                  static_cast<unsigned char>(GreenOf(color)),
                  static_cast<unsigned char>(BlueOf(color)));
}

std::string ToolkitFontName(const std::string& windowsName) {
  static const std::pair<const char*, const char*> kAliases[] = {
      {"ＭＳ Ｐゴシック", "IPAPGothic"},
      {"MS PGothic", "IPAPGothic"},
      {"ＭＳ ＵＩ ゴシック", "IPAPGothic"},
      {"MS UI Gothic", "IPAPGothic"},
      {"メイリオ", "IPAPGothic"},
      {"Meiryo", "IPAPGothic"},
      {"Meiryo UI", "IPAPGothic"},
      {"ＭＳ ゴシック", "IPAGothic"},
      {"MS Gothic", "IPAGothic"},
      {"ＭＳ Ｐ明朝", "IPAPMincho"},
      {"MS PMincho", "IPAPMincho"},
      {"ＭＳ 明朝", "IPAMincho"},
      {"MS Mincho", "IPAMincho"},
      {"Arial", "Liberation Sans"},
      {"MS Sans Serif", "Liberation Sans"},
      {"Tahoma", "Liberation Sans"},
      {"Verdana", "Liberation Sans"},
      {"Segoe UI", "Liberation Sans"},
      {"Times New Roman", "Liberation Serif"},
      {"Courier New", "Liberation Mono"},
      {"Courier", "Liberation Mono"},
  };
  for (const auto& [from, to] : kAliases)
    if (windowsName == from) return to;
  return windowsName;
}

wxFont ToFont(const TFont& font) {
  wxFontInfo info(static_cast<double>(font.Size() > 0 ? font.Size() : 9));
  info.FaceName(wxString::FromUTF8(ToolkitFontName(platform::AnsiToUtf8(font.Name()))));
  if (font.Style() & fsBold) info.Bold();
  if (font.Style() & fsItalic) info.Italic();
  if (font.Style() & fsUnderline) info.Underlined();
  if (font.Style() & fsStrikeOut) info.Strikethrough();
  return wxFont(info);
}

// ---- the registry of windows ----

namespace {
// Kept to the very end of the process: windows go while the application object goes.
std::unordered_map<wxWindow*, WxPeer*>& Registry() {
  static auto* registry = new std::unordered_map<wxWindow*, WxPeer*>;
  return *registry;
}
}  // namespace

void RegisterWindow(wxWindow* window, WxPeer* peer) {
  Registry()[window] = peer;
}
void UnregisterWindow(wxWindow* window) {
  Registry().erase(window);
}

WxPeer* FindPeer(wxWindow* window) {
  for (wxWindow* w = window; w; w = w->GetParent()) {
    auto it = Registry().find(w);
    if (it != Registry().end()) return it->second;
    if (w->IsTopLevel()) break;
  }
  return nullptr;
}

WxPeer* PeerOf(const TControl* control) {
  return control ? dynamic_cast<WxPeer*>(control->Peer()) : nullptr;
}

wxWindow* WindowOf(TControl& control) {
  WxPeer* p = PeerOf(&control);
  return p ? p->Window() : nullptr;
}

wxWindow* ClientWindowOf(TControl& control) {
  WxPeer* p = PeerOf(&control);
  if (!p) return nullptr;
  return p->ClientWindow() ? p->ClientWindow() : p->Window();
}

TControl* ControlOf(wxWindow* window) {
  WxPeer* p = FindPeer(window);
  return p ? p->Control() : nullptr;
}

void Settle(int milliseconds) {
  if (!wxTheApp) return;
  wxLongLong end = wxGetLocalTimeMillis() + milliseconds;
  do {
    wxTheApp->Yield(true);
    wxMilliSleep(10);
  } while (wxGetLocalTimeMillis() < end);
  wxTheApp->Yield(true);
}

// ---- menus ----

wxMenu* BuildMenu(const TMenuItem& item, MenuIds& ids) {
  auto* menu = new wxMenu;
  for (int i = 0; i < item.Count(); ++i) {
    TMenuItem* child = item.Items(i);
    if (!child->Visible()) continue;
    if (child->IsLine()) {
      menu->AppendSeparator();
      continue;
    }
    int id = ids.next++;
    ids.items[id] = child;
    wxMenuItem* entry;
    if (child->Count() > 0) {
      entry = menu->Append(id, ToWx(child->Caption()), BuildMenu(*child, ids));
    } else {
      entry = menu->Append(id, ToWx(child->Caption()), wxEmptyString,
                           child->Checked() ? wxITEM_CHECK : wxITEM_NORMAL);
      if (child->Checked()) entry->Check(true);
    }
    entry->Enable(child->Enabled());
  }
  return menu;
}

wxMenuBar* BuildMenuBar(const TMainMenu& menu, MenuIds& ids) {
  auto* bar = new wxMenuBar;
  const TMenuItem& root = menu.Items();
  for (int i = 0; i < root.Count(); ++i) {
    TMenuItem* top = root.Items(i);
    if (!top->Visible() || top->IsLine()) continue;
    bar->Append(BuildMenu(*top, ids), ToWx(top->Caption()));
    if (!top->Enabled()) bar->EnableTop(bar->GetMenuCount() - 1, false);
  }
  return bar;
}

// ---- the application and the backend ----

namespace {

class SvWxApp : public wxApp {
 public:
  bool OnInit() override { return true; }
  bool OnExceptionInMainLoop() override {
    Application().HandleException(nullptr);
    return true;
  }
  void OnUnhandledException() override { Application().HandleException(nullptr); }
};

int MessageFlagsToStyle(int flags, bool& customLabels, int& kind) {
  int style = 0;
  kind = flags & MB_TYPEMASK;
  customLabels = false;
  int def = (flags & MB_DEFMASK) >> 8;
  switch (kind) {
    case MB_OKCANCEL:
      style = wxOK | wxCANCEL | (def >= 1 ? wxCANCEL_DEFAULT : 0);
      break;
    case MB_ABORTRETRYIGNORE:
      style = wxYES_NO | wxCANCEL | (def == 1 ? wxNO_DEFAULT : def >= 2 ? wxCANCEL_DEFAULT : 0);
      customLabels = true;
      break;
    case MB_YESNOCANCEL:
      style = wxYES_NO | wxCANCEL | (def == 1 ? wxNO_DEFAULT : def >= 2 ? wxCANCEL_DEFAULT : 0);
      break;
    case MB_YESNO:
      style = wxYES_NO | (def >= 1 ? wxNO_DEFAULT : 0);
      break;
    case MB_RETRYCANCEL:
      style = wxOK | wxCANCEL | (def >= 1 ? wxCANCEL_DEFAULT : 0);
      customLabels = true;
      break;
    default:
      kind = MB_OK;
      style = wxOK;
      break;
  }
  switch (flags & MB_ICONMASK) {
    case MB_ICONERROR:
      style |= wxICON_ERROR;
      break;
    case MB_ICONQUESTION:
      style |= wxICON_QUESTION;
      break;
    case MB_ICONWARNING:
      style |= wxICON_WARNING;
      break;
    case MB_ICONINFORMATION:
      style |= wxICON_INFORMATION;
      break;
    default:
      break;
  }
  return style;
}

// The toolkit's font resolution: GTK's screen resolution (the desktop's font DPI, with
// GDK_DPI_SCALE), 96 when it has none.
int FontResolution() {
  void* gdk = dlopen("libgdk-3.so.0", RTLD_NOW | RTLD_NOLOAD);
  using ScreenFn = void* (*)();
  using ResolutionFn = double (*)(void*);
  auto screen =
      reinterpret_cast<ScreenFn>(dlsym(gdk ? gdk : RTLD_DEFAULT, "gdk_screen_get_default"));
  auto resolution =
      reinterpret_cast<ResolutionFn>(dlsym(gdk ? gdk : RTLD_DEFAULT, "gdk_screen_get_resolution"));
  double dpi = -1;
  if (screen && resolution)
    if (void* s = screen()) dpi = resolution(s);
  if (gdk) dlclose(gdk);
  return dpi > 0 ? static_cast<int>(std::lround(dpi)) : 96;
}

class WxBackend : public TBackend {
 public:
  WxBackend() : pixelsPerInch_(FontResolution()) {}
  int PixelsPerInch() const override { return pixelsPerInch_; }
  ~WxBackend() override {
    for (wxEventLoopBase* loop : modalLoops_)
      if (loop->IsRunning()) loop->ScheduleExit();
    if (wxTheApp) {
      wxTheApp->ProcessPendingEvents();
      wxTheApp->Yield(true);  // frees the windows waiting for deletion
    }
    wxEntryCleanup();
  }

  std::unique_ptr<TControlPeer> CreatePeer(TControl& control) override {
    return CreateWxPeer(control);
  }

  void ProcessMessages() override {
    if (wxTheApp) wxTheApp->Yield(true);
  }

  void RunMainLoop() override {
    if (!wxTheApp || terminated_) return;
    wxTheApp->OnRun();
  }

  void Terminate() override {
    terminated_ = true;
    for (wxEventLoopBase* loop : modalLoops_)
      if (loop->IsRunning()) loop->ScheduleExit();
    if (wxTheApp) wxTheApp->ExitMainLoop();
  }

  void WaitModal(TForm& form) override {
    wxWindow* frame = WindowOf(form);
    if (!frame || terminated_) return;
    wxWindowDisabler disabler(frame);
    wxGUIEventLoop loop;
    modalLoops_.push_back(&loop);
    modalForms_.push_back(&form);
    loop.Run();
    modalLoops_.pop_back();
    modalForms_.pop_back();
  }

  void EndModal(TForm& form) override {
    for (size_t i = 0; i < modalForms_.size(); ++i)
      if (modalForms_[i] == &form && modalLoops_[i]->IsRunning()) modalLoops_[i]->ScheduleExit();
  }

  int MessageBox(TForm* parent, const std::u16string& text, const std::string& caption,
                 int flags) override {
    bool customLabels = false;
    int kind = MB_OK;
    int style = MessageFlagsToStyle(flags, customLabels, kind);
    wxMessageDialog dialog(parent ? WindowOf(*parent) : nullptr, ToWxText(text), ToWx(caption),
                           style);
    if (customLabels && kind == MB_ABORTRETRYIGNORE)
      dialog.SetYesNoCancelLabels("Abort", "Retry", "Ignore");
    else if (customLabels)
      dialog.SetOKCancelLabels("Retry", "Cancel");
    int answer = dialog.ShowModal();
    switch (kind) {
      case MB_ABORTRETRYIGNORE:
        return answer == wxID_YES ? IDABORT : answer == wxID_NO ? IDRETRY : IDIGNORE;
      case MB_RETRYCANCEL:
        return answer == wxID_OK ? IDRETRY : IDCANCEL;
      default:
        break;
    }
    switch (answer) {
      case wxID_OK:
        return IDOK;
      case wxID_YES:
        return IDYES;
      case wxID_NO:
        return IDNO;
      default:
        return kind == MB_OK ? IDOK : IDCANCEL;
    }
  }

  bool OpenFileDialog(TOpenDialog& dialog, TWinControl* owner, std::string& fileName,
                      int& filterIndex) override {
    wxWindow* parent = OwnerWindow(owner);
    std::string name = rtl::ExtractFileName(dialog.FileName());
    std::string dir =
        dialog.InitialDir().empty() ? rtl::ExtractFilePath(dialog.FileName()) : dialog.InitialDir();
    long style = wxFD_OPEN;
    if (dialog.Options() & ofFileMustExist) style |= wxFD_FILE_MUST_EXIST;
    wxFileDialog fd(parent, ToWx(dialog.Title()), ToWx(dir), ToWx(name), ToWx(dialog.Filter()),
                    style);
    if (dialog.FilterIndex() > 0) fd.SetFilterIndex(dialog.FilterIndex() - 1);
    if (fd.ShowModal() != wxID_OK) return false;
    fileName = FromWx(fd.GetPath());
    filterIndex = fd.GetFilterIndex() + 1;
    return !fileName.empty();
  }

  bool BrowseForFolder(TWinControl* owner, const std::string& title, const std::string& initialDir,
                       std::string& path) override {
    wxDirDialog dd(OwnerWindow(owner), ToWx(title), wxString::FromUTF8(initialDir),
                   wxDD_DEFAULT_STYLE | wxDD_DIR_MUST_EXIST);
    if (dd.ShowModal() != wxID_OK) return false;
    path = dd.GetPath().utf8_string();
    return true;
  }

  void Popup(TPopupMenu& menu, TPoint screenPoint) override {
    wxWindow* host = nullptr;
    if (TControl* c = menu.PopupComponent()) host = WindowOf(*c);
    if (!host && Application().ActiveForm()) host = WindowOf(*Application().ActiveForm());
    if (!host) return;
    MenuIds ids;
    std::unique_ptr<wxMenu> wxm(BuildMenu(menu.Items(), ids));
    int id = host->GetPopupMenuSelectionFromUser(
        *wxm, host->ScreenToClient(wxPoint(screenPoint.X, screenPoint.Y)));
    auto it = ids.items.find(id);
    if (it != ids.items.end()) Guarded(it->second, [&] { it->second->Click(); });
  }

  TPoint ClientToScreen(TControl& control, TPoint point) override {
    wxWindow* w = ClientWindowOf(control);
    if (!w) return point;
    wxPoint p = w->ClientToScreen(wxPoint(point.X, point.Y));
    return {p.x, p.y};
  }

 private:
  static wxWindow* OwnerWindow(TWinControl* owner) {
    if (!owner) return nullptr;
    if (TForm* f = owner->ParentForm()) return WindowOf(*f);
    return WindowOf(*owner);
  }
  bool terminated_ = false;
  int pixelsPerInch_;
  std::vector<wxEventLoopBase*> modalLoops_;
  std::vector<TForm*> modalForms_;
};

struct Arguments {
  std::vector<std::string> strings;
  std::vector<char*> pointers;
  int argc = 0;
};

Arguments& ToolkitArguments() {
  static Arguments args;
  return args;
}

std::unique_ptr<TBackend> StartWx() {
  if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY"))
    throw EUiError("No display to show windows on (DISPLAY is not set)");
  Arguments& args = ToolkitArguments();
  args.pointers.clear();
  for (auto& s : args.strings)
    args.pointers.push_back(s.data());
  args.pointers.push_back(nullptr);
  args.argc = static_cast<int>(args.strings.size());
  if (!wxEntryStart(args.argc, args.pointers.data()))
    throw EUiError("The user interface could not be started (is DISPLAY set properly?)");
  // Numbers are always written with "." whatever the user's locale (the toolkit set it).
  std::setlocale(LC_NUMERIC, "C");
  delete wxLog::SetActiveTarget(new wxLogStderr);
  wxTheApp->SetExitOnFrameDelete(false);
  wxInitAllImageHandlers();
  if (!wxTheApp->CallOnInit()) {
    wxEntryCleanup();
    throw EUiError("The user interface could not be started");
  }
  return std::make_unique<WxBackend>();
}

}  // namespace

namespace {
// Only the program name goes to the toolkit: the programs read their own command line.
void SetProgramName(const char* programName) {
  Arguments& args = ToolkitArguments();
  args.strings.assign(1, programName && *programName ? programName : "sv");
}
}  // namespace

void InstallWxBackend(int argc, char** argv) {
  SetProgramName(argc > 0 && argv ? argv[0] : nullptr);
  Application().SetBackendFactory(StartWx);
}

bool SaveScreenshot(TForm& form, const std::string& pngPath) {
  wxWindow* frame = WindowOf(form);
  if (!frame || !frame->IsShown()) return false;
  Settle(150);
  wxSize size = frame->GetSize();
  if (size.x <= 0 || size.y <= 0) return false;
  wxBitmap bitmap(size.x, size.y, 24);
  {
    // The windows' own device contexts (the screen's gives a picture only once per process on
    // GTK 3): the menu bar above, the client area below it.
    wxMemoryDC memory(bitmap);
    memory.SetBackground(*wxWHITE_BRUSH);
    memory.Clear();
    int top = size.y - frame->GetClientSize().y;
    auto* withMenu = dynamic_cast<wxFrame*>(frame);
    if (wxMenuBar* bar = withMenu ? withMenu->GetMenuBar() : nullptr; bar && top > 0) {
      wxWindowDC barDC(bar);
      memory.Blit(0, 0, size.x, top, &barDC, 0, 0);
    }
    wxClientDC client(frame);
    if (!memory.Blit(0, std::max(0, top), size.x, size.y - std::max(0, top), &client, 0, 0))
      return false;
  }
  return bitmap.SaveFile(wxString::FromUTF8(platform::AnsiToUtf8(pngPath)), wxBITMAP_TYPE_PNG);
}

}  // namespace ui::wx

// The entry of the backend as a module of the program folder (see ui/BackendModule.h).
extern "C" __attribute__((visibility("default"))) ui::TBackendStart SvBackendEntry(
    const char* programName) {
  ui::wx::SetProgramName(programName);
  return ui::wx::StartWx;
}

wxIMPLEMENT_APP_NO_MAIN(ui::wx::SvWxApp);
