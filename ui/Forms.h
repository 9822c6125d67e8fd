// Forms and the application object: showing, modal runs, closing, activation, the message loop,
// message boxes and the default error report.
#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ui/Backend.h"
#include "ui/Controls.h"

namespace ui {

class TMainMenu;

using TModalResult = int;
constexpr TModalResult mrNone = 0;
constexpr TModalResult mrOk = 1;
constexpr TModalResult mrCancel = 2;
constexpr TModalResult mrAbort = 3;
constexpr TModalResult mrRetry = 4;
constexpr TModalResult mrIgnore = 5;
constexpr TModalResult mrYes = 6;
constexpr TModalResult mrNo = 7;

// Message-box flags and results, as the Windows constants.
constexpr int MB_OK = 0x00;
constexpr int MB_OKCANCEL = 0x01;
constexpr int MB_ABORTRETRYIGNORE = 0x02;
constexpr int MB_YESNOCANCEL = 0x03;
constexpr int MB_YESNO = 0x04;
constexpr int MB_RETRYCANCEL = 0x05;
constexpr int MB_ICONHAND = 0x10;
constexpr int MB_ICONERROR = 0x10;
constexpr int MB_ICONSTOP = 0x10;
constexpr int MB_ICONQUESTION = 0x20;
constexpr int MB_ICONEXCLAMATION = 0x30;
constexpr int MB_ICONWARNING = 0x30;
constexpr int MB_ICONASTERISK = 0x40;
constexpr int MB_ICONINFORMATION = 0x40;
constexpr int MB_DEFBUTTON1 = 0x000;
constexpr int MB_DEFBUTTON2 = 0x100;
constexpr int MB_DEFBUTTON3 = 0x200;
constexpr int MB_APPLMODAL = 0x0000;
constexpr int MB_SYSTEMMODAL = 0x1000;
constexpr int MB_TASKMODAL = 0x2000;
constexpr int MB_TYPEMASK = 0x0F;
constexpr int MB_ICONMASK = 0xF0;
constexpr int MB_DEFMASK = 0xF00;
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDABORT = 3;
constexpr int IDRETRY = 4;
constexpr int IDIGNORE = 5;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// The answer of a message box nobody can see: its default button (MB_DEFBUTTONn of its buttons).
int DefaultMessageBoxResult(int flags);

enum TFormBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };
enum TBorderIcon : uint8_t { biSystemMenu = 1, biMinimize = 2, biMaximize = 4, biHelp = 8 };
using TBorderIcons = uint8_t;
enum TPosition {
  poDesigned,
  poDefault,
  poDefaultPosOnly,
  poDefaultSizeOnly,
  poScreenCenter,
  poDesktopCenter,
  poMainFormCenter,
  poOwnerFormCenter
};
enum TWindowState { wsNormal, wsMinimized, wsMaximized };
enum TCloseAction { caNone, caHide, caFree, caMinimize };

using TCloseEvent = std::function<void(rtl::TObject* sender, TCloseAction& action)>;
using TCloseQueryEvent = std::function<void(rtl::TObject* sender, bool& canClose)>;

// A top-level window. A form class builds its controls (members, parented to the form or its
// containers) in its constructor; TApplication::CreateForm or MakeForm then call
// AfterConstruction, which ends the set-up (Loaded for each component of the form) and fires
// OnCreate, as reading a form resource does.
class TForm : public TWinControl {
 public:
  explicit TForm(rtl::TComponent* owner);
  ~TForm() override;

  // Loaded for every component that the form owns, then OnCreate; an exception of OnCreate goes
  // to the application's error report. Runs once.
  void AfterConstruction();

  const std::string& Caption() const { return GetText(); }
  void SetCaption(std::string caption);

  TFormBorderStyle BorderStyle() const { return borderStyle_; }
  void SetBorderStyle(TFormBorderStyle style);
  TBorderIcons BorderIcons() const { return borderIcons_; }
  void SetBorderIcons(TBorderIcons icons);
  TPosition Position() const { return position_; }
  void SetPosition(TPosition position) { position_ = position; }
  TWindowState WindowState() const { return windowState_; }
  void SetWindowState(TWindowState state);

  // Width and Height are the outer size; the client area is that minus the frame of the border
  // style (3 pixels a side, 4 when sizeable), the caption (19, 16 for tool windows) and the main
  // menu bar (19). Setting ClientWidth/ClientHeight sets the outer size to match.
  int ClientWidth() const override;
  int ClientHeight() const override;
  void SetClientWidth(int v) override;
  void SetClientHeight(int v) override;
  int FrameWidth() const;   // outer minus client width
  int FrameHeight() const;  // outer minus client height

  // The form is laid out for 96 pixels per inch; when Scaled (the default), the first show scales
  // its client size and every control it holds to the toolkit's font resolution (the backend's
  // PixelsPerInch), once. Its place on the screen is kept.
  bool Scaled() const { return scaled_; }
  void SetScaled(bool scaled) { scaled_ = scaled; }
  static constexpr int kDesignPixelsPerInch = 96;
  // The resolution the form is laid out for now: 96 until the show scaled it.
  int PixelsPerInch() const { return pixelsPerInch_; }
  void ChangeScale(int m, int d) override;

  TMainMenu* Menu() const { return menu_; }
  void SetMenu(TMainMenu* menu);
  void MenuChanged();

  TWinControl* ActiveControl() const { return activeControl_; }
  // The control with the keyboard focus: OnExit of the one before, OnEnter of the new one.
  void SetActiveControl(TWinControl* control);
  // The toolkit moved the focus (no window call back).
  void FocusFromWindow(TWinControl* control);
  // A control left the form: it is forgotten without events.
  void ControlRemoved(TControl* control);

  TModalResult ModalResult() const { return modalResult_; }
  void SetModalResult(TModalResult result);
  bool Modal() const { return modal_; }
  bool Active() const;

  // Shows the form (OnShow; it becomes the active form: OnActivate). The first form shown starts
  // the backend (unless the application is silent) and gets its window.
  void SetVisible(bool visible) override;
  // Shows the form modally and runs events until ModalResult is set (by a button with a modal
  // result, Close -> mrCancel, ...) and the close is allowed (OnCloseQuery, OnClose); then hides
  // it. Without a backend the application's modal hook plays the user; with none the answer is
  // mrCancel.
  TModalResult ShowModal();
  // As the class library: a modal form gets mrCancel; otherwise OnCloseQuery, OnClose (caHide) and
  // then the main form ends the application, another form is hidden (caFree: hidden as well).
  void Close();
  bool CloseQuery();

  // Called by the backend when the user activates the window.
  void Activated();

  rtl::TNotifyEvent OnCreate;
  rtl::TNotifyEvent OnShow;
  rtl::TNotifyEvent OnHide;
  rtl::TNotifyEvent OnActivate;
  rtl::TNotifyEvent OnDeactivate;
  TCloseEvent OnClose;
  TCloseQueryEvent OnCloseQuery;

  // The backend's record of where the user moved or sized the window.
  void WindowMoved(int left, int top, int width, int height);
  void WindowStateChanged(TWindowState state);

 protected:
  void Notification(rtl::TComponent* component, rtl::TOperation operation) override;

 private:
  friend class TApplication;
  void DoShow();
  void DoHide();
  bool CloseModal();
  TFormBorderStyle borderStyle_ = bsSizeable;
  TBorderIcons borderIcons_ = biSystemMenu | biMinimize | biMaximize;
  TPosition position_ = poDesigned;
  TWindowState windowState_ = wsNormal;
  TMainMenu* menu_ = nullptr;
  TWinControl* activeControl_ = nullptr;
  TModalResult modalResult_ = mrNone;
  bool modal_ = false;
  bool created_ = false;
  bool scaled_ = true;
  int pixelsPerInch_ = kDesignPixelsPerInch;
};

// The process-wide application object: Application().
class TApplication : public rtl::TComponent {
 public:
  TApplication();
  ~TApplication() override;

  const std::string& Title() const { return title_; }
  void SetTitle(std::string title) { title_ = std::move(title); }

  void Initialize() {}
  // Makes a form owned by the application (the first one becomes MainForm) and runs its
  // AfterConstruction.
  template <class T, class... Args>
  T* CreateForm(Args&&... args) {
    auto form = std::make_unique<T>(std::forward<Args>(args)...);
    T* raw = form.get();
    ownedForms_.push_back(std::move(form));
    if (!mainForm_) mainForm_ = raw;
    raw->AfterConstruction();
    return raw;
  }
  TForm* MainForm() const { return mainForm_; }
  // Frees the forms that CreateForm made, the last made first.
  void DestroyForms();

  // Shows the main form and runs the message loop until Terminate. Without a backend (or in a
  // silent run) the main form is shown without a window (OnShow, OnActivate) and Run returns.
  // An exception that reaches Run goes to HandleException.
  void Run();
  void Terminate();
  bool Terminated() const { return terminated_; }
  // Lets the running backend handle its pending events (repaint, input); a no-op without one.
  void ProcessMessages();

  // A message box with the Windows flags; returns IDOK... An empty caption shows Title. Goes to
  // the message-box hook when one is set; without a display (or in a silent run) the text goes to
  // standard error and the answer is the default button.
  int MessageBox(const std::string& text, const std::string& caption, int flags);
  // The same with a text that code page 932 need not hold (a name as the file system spells it).
  // Goes to the wide hook when one is set, else to the message-box hook in the ANSI code page.
  int MessageBoxW(const std::u16string& text, const std::string& caption, int flags);
  // The default error report, as the class library's: OnException when assigned, else
  // ShowException.
  void HandleException(rtl::TObject* sender, const std::exception& e);
  // For the exception being handled (inside a catch block).
  void HandleException(rtl::TObject* sender);
  // The exception's message (a "." added when it does not end in one) in an error message box
  // with the title as caption.
  void ShowException(const std::exception& e);
  std::function<void(rtl::TObject* sender, const std::exception& e)> OnException;

  // The application's tool-window style (no taskbar button) for silent runs: while set, no form
  // gets a window and the toolkit is never started; message boxes go to standard error.
  bool ToolWindow() const { return toolWindow_; }
  void SetToolWindow(bool toolWindow) { toolWindow_ = toolWindow; }

  // The backend that realises forms; installed by the program (ui::TBackendModule, or
  // ui::wx::InstallWxBackend in a program that links the toolkit).
  void SetBackendFactory(TBackendFactory factory) { backendFactory_ = std::move(factory); }
  bool HasBackendFactory() const { return static_cast<bool>(backendFactory_); }
  // The running backend, or null.
  TBackend* Backend() const { return backend_.get(); }
  // Starts the backend when one is installed and the run is not silent; null otherwise. A backend
  // that cannot start (no display) raises EUiError.
  TBackend* StartBackend();
  // Shuts the backend down after freeing the windows of all forms.
  void StopBackend();

  // Forms that exist, in creation order, and the active one.
  int FormCount() const { return static_cast<int>(forms_.size()); }
  TForm* Forms(int index) const;
  TForm* ActiveForm() const { return activeForm_; }

  // Test and headless hooks. A message-box hook answers every message box (returns IDOK...).
  using TMessageBoxHook =
      std::function<int(const std::string& text, const std::string& caption, int flags)>;
  TMessageBoxHook SetMessageBoxHook(TMessageBoxHook hook);
  using TMessageBoxWHook =
      std::function<int(const std::u16string& text, const std::string& caption, int flags)>;
  TMessageBoxWHook SetMessageBoxWHook(TMessageBoxWHook hook);
  // A modal hook plays the user of a modal form shown without a backend: it is called with the
  // form while its ModalResult is 0 and returns false when it has nothing more to do (the form
  // then closes with mrCancel).
  using TModalHook = std::function<bool(TForm& form)>;
  TModalHook SetModalHook(TModalHook hook);

  // The exit code a program returns; 0 unless set.
  int ExitCode() const { return exitCode_; }
  void SetExitCode(int code) { exitCode_ = code; }

 private:
  friend class TForm;
  void FormCreated(TForm* form);
  void FormDestroyed(TForm* form);
  void FormShown(TForm* form);
  void FormHidden(TForm* form);
  void SetActiveForm(TForm* form);
  bool RunModalHook(TForm& form);
  int ShowMessageBox(const std::u16string& text, const std::string& caption, int flags);
  std::string title_;
  TForm* mainForm_ = nullptr;
  TForm* activeForm_ = nullptr;
  std::vector<TForm*> forms_;
  std::vector<TForm*> activationOrder_;
  std::vector<std::unique_ptr<TForm>> ownedForms_;
  bool terminated_ = false;
  bool toolWindow_ = false;
  bool backendFailed_ = false;
  TBackendFactory backendFactory_;
  std::unique_ptr<TBackend> backend_;
  TMessageBoxHook messageBoxHook_;
  TMessageBoxWHook messageBoxWHook_;
  TModalHook modalHook_;
  int exitCode_ = 0;
};

TApplication& Application();

// A failure of the user interface itself (no display, a window that cannot be made).
class EUiError : public rtl::Exception {
 public:
  using rtl::Exception::Exception;
};
// An operation not allowed in the control's state ("Cannot make a visible window modal").
class EInvalidOperation : public rtl::Exception {
 public:
  using rtl::Exception::Exception;
};

// Makes a form owned by the caller and runs its AfterConstruction.
template <class T, class... Args>
std::unique_ptr<T> MakeForm(Args&&... args) {
  auto form = std::make_unique<T>(std::forward<Args>(args)...);
  form->AfterConstruction();
  return form;
}

}  // namespace ui
