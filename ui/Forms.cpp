#include "ui/Forms.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <iostream>

#include "platform/CodePage.h"
#include "ui/Menus.h"

namespace ui {

int DefaultMessageBoxResult(int flags) {
  struct Buttons {
    int count;
    int ids[3];
  };
  constexpr Buttons kButtons[] = {{1, {IDOK}},
                                  {2, {IDOK, IDCANCEL}},
                                  {3, {IDABORT, IDRETRY, IDIGNORE}},
                                  {3, {IDYES, IDNO, IDCANCEL}},
                                  {2, {IDYES, IDNO}},
                                  {2, {IDRETRY, IDCANCEL}}};
  int type = flags & MB_TYPEMASK;
  if (type > MB_RETRYCANCEL) type = MB_OK;
  const Buttons& buttons = kButtons[type];
  int def = (flags & MB_DEFMASK) >> 8;
  return buttons.ids[std::min(def, buttons.count - 1)];
}

// ---- TForm ----

namespace {
constexpr int kCaptionHeight = 19;
constexpr int kToolCaptionHeight = 16;
constexpr int kMenuHeight = 19;
}  // namespace

TForm::TForm(rtl::TComponent* owner) : TWinControl(owner) {
  SetLoading(true);
  SetVisibleFlag(false);
  SetParentFont(false);
  Application().FormCreated(this);
}

TForm::~TForm() {
  Destroying();
  if (menu_) menu_->form_ = nullptr;
  Application().FormDestroyed(this);
}

namespace {
// The components of an owner and theirs, owners before what they own.
void CollectComponents(rtl::TComponent* owner, std::vector<rtl::TComponent*>& out) {
  for (int i = 0; i < owner->ComponentCount(); ++i) {
    rtl::TComponent* c = owner->Components(i);
    if (dynamic_cast<TForm*>(c)) continue;  // a form owned by this one is set up by itself
    out.push_back(c);
    CollectComponents(c, out);
  }
}
}  // namespace

void TForm::AfterConstruction() {
  if (created_) return;
  created_ = true;
  std::vector<rtl::TComponent*> components, still;
  CollectComponents(this, components);
  for (rtl::TComponent* c : components) {
    // Loaded may free components: only those still there are told.
    still.clear();
    CollectComponents(this, still);
    if (std::find(still.begin(), still.end(), c) != still.end()) c->Loaded();
  }
  Loaded();
  try {
    if (OnCreate) OnCreate(this);
  } catch (...) {
    Application().HandleException(this);
  }
}

void TForm::SetCaption(std::string caption) {
  SetText(std::move(caption));
}

void TForm::SetBorderStyle(TFormBorderStyle style) {
  if (style == borderStyle_) return;
  borderStyle_ = style;
  Changed(TChange::Style);
}

void TForm::SetBorderIcons(TBorderIcons icons) {
  if (icons == borderIcons_) return;
  borderIcons_ = icons;
  Changed(TChange::Style);
}

void TForm::SetWindowState(TWindowState state) {
  if (state == windowState_) return;
  windowState_ = state;
  Changed(TChange::WindowState);
}

void TForm::WindowStateChanged(TWindowState state) {
  windowState_ = state;
}

void TForm::WindowMoved(int left, int top, int width, int height) {
  BoundsFromWindow(left, top, width, height);
}

int TForm::FrameWidth() const {
  switch (borderStyle_) {
    case bsNone:
      return 0;
    case bsSizeable:
    case bsSizeToolWin:
      return 8;
    default:
      return 6;
  }
}

int TForm::FrameHeight() const {
  int h = 0;
  switch (borderStyle_) {
    case bsNone:
      break;
    case bsToolWindow:
      h = 6 + kToolCaptionHeight;
      break;
    case bsSizeToolWin:
      h = 8 + kToolCaptionHeight;
      break;
    case bsSizeable:
      h = 8 + kCaptionHeight;
      break;
    default:
      h = 6 + kCaptionHeight;
      break;
  }
  if (menu_ && menu_->Items().Count() > 0) h += kMenuHeight;
  return h;
}

int TForm::ClientWidth() const {
  return std::max(0, Width() - FrameWidth());
}
int TForm::ClientHeight() const {
  return std::max(0, Height() - FrameHeight());
}
void TForm::SetClientWidth(int v) {
  SetWidth(v + FrameWidth());
}
void TForm::SetClientHeight(int v) {
  SetHeight(v + FrameHeight());
}

void TForm::SetMenu(TMainMenu* menu) {
  if (menu == menu_) return;
  if (menu_) menu_->form_ = nullptr;
  menu_ = menu;
  if (menu_) {
    if (menu_->form_ && menu_->form_ != this) menu_->form_->menu_ = nullptr;
    menu_->form_ = this;
    menu_->FreeNotification(this);
  }
  Changed(TChange::Menu);
}

void TForm::MenuChanged() {
  Changed(TChange::Menu);
}

void TForm::Notification(rtl::TComponent* component, rtl::TOperation operation) {
  TWinControl::Notification(component, operation);
  if (operation != rtl::TOperation::opRemove) return;
  if (component == menu_) {
    menu_ = nullptr;
    Changed(TChange::Menu);
  }
}

void TForm::SetActiveControl(TWinControl* control) {
  if (control == activeControl_) {
    if (control) control->Changed(TChange::Focus);
    return;
  }
  TWinControl* old = activeControl_;
  activeControl_ = control;
  if (control) control->FreeNotification(this);
  if (old && old->OnExit) old->OnExit(old);
  if (control) {
    control->Changed(TChange::Focus);
    if (control->OnEnter) control->OnEnter(control);
  }
}

void TForm::FocusFromWindow(TWinControl* control) {
  if (control == activeControl_) return;
  TWinControl* old = activeControl_;
  activeControl_ = control;
  if (control) control->FreeNotification(this);
  if (old && old->OnExit) old->OnExit(old);
  if (control && control->OnEnter) control->OnEnter(control);
}

void TForm::ControlRemoved(TControl* control) {
  for (TControl* c = activeControl_; c; c = c->Parent()) {
    if (c == control) {
      activeControl_ = nullptr;
      return;
    }
  }
}

void TForm::SetModalResult(TModalResult result) {
  modalResult_ = result;
  if (modal_ && result != mrNone && Peer()) {
    if (TBackend* b = Application().Backend()) b->EndModal(*this);
  }
}

bool TForm::Active() const {
  return Application().ActiveForm() == this;
}

void TForm::ChangeScale(int m, int d) {
  if (m == d || d <= 0) return;
  // The frame is the toolkit's: only the client area scales, and the place stays.
  const auto scale = [m, d](int v) {
    return static_cast<int>((static_cast<long long>(v) * m + d / 2) / d);
  };
  SetClientWidth(scale(ClientWidth()));
  SetClientHeight(scale(ClientHeight()));
  for (int i = 0; i < ControlCount(); ++i)
    Controls(i)->ChangeScale(m, d);
}

void TForm::DoShow() {
  if (OnShow) OnShow(this);
}

void TForm::DoHide() {
  if (OnHide) OnHide(this);
}

void TForm::SetVisible(bool visible) {
  if (visible == Visible()) return;
  if (visible) {
    SetVisibleFlag(true);
    DoShow();
    if (!Visible()) return;  // OnShow hid it again
    if (TBackend* backend = Application().StartBackend()) {
      const int ppi = backend->PixelsPerInch();
      if (!Peer() && scaled_ && pixelsPerInch_ == kDesignPixelsPerInch && ppi > 0 &&
          ppi != pixelsPerInch_) {
        ChangeScale(ppi, pixelsPerInch_);
        pixelsPerInch_ = ppi;
      }
      Realize();
      Changed(TChange::Visible);
    }
    Application().FormShown(this);
  } else {
    DoHide();
    SetVisibleFlag(false);
    Changed(TChange::Visible);
    Application().FormHidden(this);
  }
}

void TForm::Activated() {
  if (Visible() && Application().ActiveForm() != this) Application().SetActiveForm(this);
}

bool TForm::CloseQuery() {
  bool canClose = true;
  if (OnCloseQuery) OnCloseQuery(this, canClose);
  return canClose;
}

bool TForm::CloseModal() {
  TCloseAction action = caNone;
  if (CloseQuery()) {
    action = caHide;
    if (OnClose) OnClose(this, action);
  }
  if (action == caNone) modalResult_ = mrNone;
  return modalResult_ != mrNone;
}

TModalResult TForm::ShowModal() {
  if (Visible() || !Enabled() || modal_)
    throw EInvalidOperation("Cannot make a visible window modal");
  modal_ = true;
  modalResult_ = mrNone;
  try {
    Show();
    bool userDone = false;  // headless: the modal hook has nothing more to do
    int rounds = 0;
    for (;;) {
      if (Application().Terminated()) modalResult_ = mrCancel;
      if (modalResult_ != mrNone) {
        if (CloseModal() || userDone) break;
        continue;
      }
      if (userDone) {
        modalResult_ = mrCancel;
        break;
      }
      TBackend* backend = Application().Backend();
      if (Peer() && backend) {
        backend->WaitModal(*this);
      } else if (++rounds > 10000 || !Application().RunModalHook(*this)) {
        userDone = true;
        if (modalResult_ == mrNone) modalResult_ = mrCancel;
      }
    }
  } catch (...) {
    modal_ = false;
    Hide();
    throw;
  }
  modal_ = false;
  Hide();
  return modalResult_;
}

void TForm::Close() {
  if (modal_) {
    SetModalResult(mrCancel);
    return;
  }
  if (!CloseQuery()) return;
  TCloseAction action = caHide;
  if (OnClose) OnClose(this, action);
  if (action == caNone) return;
  if (Application().MainForm() == this) {
    Application().Terminate();
  } else if (action == caMinimize) {
    SetWindowState(wsMinimized);
  } else {
    Hide();
  }
}

// ---- TApplication ----

namespace {
std::string ProgramName() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "";
  std::string path(buf, static_cast<size_t>(n));
  std::string name = path.substr(path.rfind('/') + 1);
  size_t dot = name.rfind('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return platform::Utf8ToAnsi(name);
}

std::string ForConsole(const std::string& ansi) {
  std::string out;
  for (char c : platform::AnsiToUtf8(ansi))
    if (c != '\r') out += c;
  return out;
}
}  // namespace

TApplication::TApplication() : title_(ProgramName()) {}

TApplication::~TApplication() {
  DestroyForms();
  StopBackend();
}

void TApplication::DestroyForms() {
  while (!ownedForms_.empty()) {
    std::unique_ptr<TForm> form = std::move(ownedForms_.back());
    ownedForms_.pop_back();
    form.reset();
  }
}

TForm* TApplication::Forms(int index) const {
  if (index < 0 || index >= FormCount())
    throw rtl::EListError(rtl::Format("List index out of bounds (%d)", index));
  return forms_[static_cast<size_t>(index)];
}

void TApplication::FormCreated(TForm* form) {
  forms_.push_back(form);
}

void TApplication::FormDestroyed(TForm* form) {
  forms_.erase(std::remove(forms_.begin(), forms_.end(), form), forms_.end());
  activationOrder_.erase(std::remove(activationOrder_.begin(), activationOrder_.end(), form),
                         activationOrder_.end());
  if (mainForm_ == form) mainForm_ = nullptr;
  if (activeForm_ == form) activeForm_ = nullptr;
}

void TApplication::FormShown(TForm* form) {
  SetActiveForm(form);
}

void TApplication::FormHidden(TForm* form) {
  activationOrder_.erase(std::remove(activationOrder_.begin(), activationOrder_.end(), form),
                         activationOrder_.end());
  if (activeForm_ != form) return;
  TForm* next = nullptr;
  for (auto it = activationOrder_.rbegin(); it != activationOrder_.rend() && !next; ++it)
    if ((*it)->Visible()) next = *it;
  SetActiveForm(next);
}

void TApplication::SetActiveForm(TForm* form) {
  if (form == activeForm_) return;
  TForm* old = activeForm_;
  activeForm_ = form;
  if (form) {
    activationOrder_.erase(std::remove(activationOrder_.begin(), activationOrder_.end(), form),
                           activationOrder_.end());
    activationOrder_.push_back(form);
  }
  if (old && old->OnDeactivate) old->OnDeactivate(old);
  if (form && form->OnActivate) form->OnActivate(form);
}

void TApplication::Run() {
  try {
    if (!mainForm_ || terminated_) return;
    mainForm_->Show();
    if (backend_ && mainForm_->Peer() && !terminated_) backend_->RunMainLoop();
  } catch (...) {
    HandleException(this);
    if (exitCode_ == 0) exitCode_ = 1;
  }
}

void TApplication::Terminate() {
  terminated_ = true;
  if (backend_) backend_->Terminate();
}

void TApplication::ProcessMessages() {
  // As the class library: a long handler lets the window repaint and take input here.
  if (backend_) backend_->ProcessMessages();
}

TBackend* TApplication::StartBackend() {
  if (backend_) return backend_.get();
  if (toolWindow_ || !backendFactory_) return nullptr;
  if (backendFailed_) throw EUiError("The user interface could not be started");
  try {
    backend_ = backendFactory_();
  } catch (...) {
    backendFailed_ = true;
    throw;
  }
  return backend_.get();
}

void TApplication::StopBackend() {
  if (!backend_) return;
  for (TForm* f : forms_)
    f->Unrealize();
  backend_.reset();
}

int TApplication::MessageBox(const std::string& text, const std::string& caption, int flags) {
  const std::string& shown = caption.empty() ? title_ : caption;
  if (messageBoxHook_) return messageBoxHook_(text, shown, flags);
  return ShowMessageBox(platform::AnsiToWide(text), shown, flags);
}

int TApplication::MessageBoxW(const std::u16string& text, const std::string& caption, int flags) {
  const std::string& shown = caption.empty() ? title_ : caption;
  if (messageBoxWHook_) return messageBoxWHook_(text, shown, flags);
  if (messageBoxHook_) return messageBoxHook_(platform::WideToAnsi(text), shown, flags);
  return ShowMessageBox(text, shown, flags);
}

int TApplication::ShowMessageBox(const std::u16string& text, const std::string& caption,
                                 int flags) {
  TBackend* backend = nullptr;
  try {
    backend = StartBackend();
  } catch (const std::exception&) {
    backend = nullptr;
  }
  if (backend) {
    TForm* parent = activeForm_ && activeForm_->Peer() ? activeForm_ : nullptr;
    return backend->MessageBox(parent, text, caption, flags);
  }
  std::string utf8;
  for (char c : platform::WideToUtf8(text))
    if (c != '\r') utf8 += c;
  std::cerr << ForConsole(caption) << ": " << utf8 << std::endl;
  return DefaultMessageBoxResult(flags);
}

void TApplication::ShowException(const std::exception& e) {
  const auto* re = dynamic_cast<const rtl::Exception*>(&e);
  std::string message = re ? re->Message() : std::string(e.what());
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') message += '.';
  MessageBox(message, title_, MB_OK | MB_ICONSTOP);
}

void TApplication::HandleException(rtl::TObject* sender, const std::exception& e) {
  try {
    if (OnException)
      OnException(sender, e);
    else
      ShowException(e);
  } catch (const std::exception& inner) {
    std::cerr << ForConsole(title_) << ": " << ForConsole(e.what()) << " (" << inner.what() << ")"
              << std::endl;
  } catch (...) {
    std::cerr << ForConsole(title_) << ": " << ForConsole(e.what()) << std::endl;
  }
}

void TApplication::HandleException(rtl::TObject* sender) {
  std::exception_ptr current = std::current_exception();
  if (!current) return;
  try {
    std::rethrow_exception(current);
  } catch (const std::exception& e) {
    HandleException(sender, e);
  } catch (...) {
    HandleException(sender, rtl::Exception("Unknown exception"));
  }
}

TApplication::TMessageBoxHook TApplication::SetMessageBoxHook(TMessageBoxHook hook) {
  std::swap(hook, messageBoxHook_);
  return hook;
}

TApplication::TMessageBoxWHook TApplication::SetMessageBoxWHook(TMessageBoxWHook hook) {
  std::swap(hook, messageBoxWHook_);
  return hook;
}

TApplication::TModalHook TApplication::SetModalHook(TModalHook hook) {
  std::swap(hook, modalHook_);
  return hook;
}

bool TApplication::RunModalHook(TForm& form) {
  return modalHook_ && modalHook_(form);
}

TApplication& Application() {
  static TApplication app;
  return app;
}

}  // namespace ui
