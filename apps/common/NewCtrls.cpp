#include "apps/common/NewCtrls.h"

#include "ui/Forms.h"
#include "ui/Shell.h"

TFileDrop::TFileDrop(rtl::TComponent* owner)
    : rtl::TComponent(owner), self_(std::make_shared<TFileDrop*>(this)) {}

TFileDrop::~TFileDrop() {
  UnhookWindow();
  *self_ = nullptr;
}

void TFileDrop::Loaded() {
  rtl::TComponent::Loaded();
  if (!control_) SetControl(nullptr);
}

void TFileDrop::Notification(rtl::TComponent* component, rtl::TOperation operation) {
  rtl::TComponent::Notification(component, operation);
  if (operation != rtl::TOperation::opRemove) return;
  if (component == control_) {
    // Written directly: nothing is unhooked and the shell is not called.
    control_ = nullptr;
    accept_ = false;
  }
  // A hooked window that is gone has nothing left to put back.
  if (component == hookedWindow_) {
    hookedWindow_ = nullptr;
    previousHandler_ = nullptr;
  }
}

void TFileDrop::SetAccept(bool accept) {
  if (accept == accept_) return;
  accept_ = accept;
  if (hookedWindow_) ui::Shell().AcceptFiles(*hookedWindow_, accept_);
}

void TFileDrop::SetControl(ui::TWinControl* control) {
  UnhookWindow();
  control_ = control;
  if (control_) control_->FreeNotification(this);
  HookWindow();
}

ui::TWinControl* TFileDrop::TargetWindow() const {
  if (control_) return control_;
  return dynamic_cast<ui::TForm*>(Owner());
}

void TFileDrop::HookWindow() {
  if (ComponentState() & rtl::csDesigning) return;
  ui::TWinControl* target = TargetWindow();
  if (!target) throw rtl::Exception("Invalidate Window Handle in FileDrop");
  hookedWindow_ = target;
  target->FreeNotification(this);
  previousHandler_ = ui::Shell().GetDropHandler(*target);
  std::weak_ptr<TFileDrop*> self = self_;
  ui::Shell().SetDropHandler(*target, [self](const ui::TDropFiles& drop) {
    if (auto alive = self.lock(); alive && *alive) (*alive)->WndProc(drop);
  });
  ui::Shell().AcceptFiles(*target, accept_);
}

void TFileDrop::UnhookWindow() {
  if (ComponentState() & rtl::csDesigning) return;
  if (!hookedWindow_) return;
  if (TargetWindow() == hookedWindow_)
    ui::Shell().SetDropHandler(*hookedWindow_, std::move(previousHandler_));
  // Drop acceptance is left as it is.
  previousHandler_ = nullptr;
  hookedWindow_ = nullptr;
}

void TFileDrop::WndProc(const ui::TDropFiles& drop) {
  try {
    DropFiles(drop);
  } catch (...) {
    ui::Application().HandleException(this);
  }
}

void TFileDrop::DropFiles(const ui::TDropFiles& drop) {
  if (!OnFileDrop) return;
  rtl::TStringList files;
  for (const std::string& name : drop.Names)
    files.Add(name);  // whole, however long
  osNames_ = &drop.OsNames;
  try {
    OnFileDrop(this, files.Count(), files, drop.Point.X, drop.Point.Y);
  } catch (...) {
    osNames_ = nullptr;
    throw;
  }
  osNames_ = nullptr;
}

std::string TFileDrop::OsFileName(int index) const {
  if (!osNames_ || index < 0 || static_cast<size_t>(index) >= osNames_->size()) return {};
  return (*osNames_)[static_cast<size_t>(index)];
}
