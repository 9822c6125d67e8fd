// TFileDrop: lets a window take files and folders dropped from a file manager and reports each
// drop in one event with the names and the drop point.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/RtlClasses.h"
#include "ui/Controls.h"

// Sender, the number of names, the names in the order they came (whole paths, ANSI code page;
// the list lives only for the call), the drop point in client coordinates of the watched window.
using TFileDropEvent =
    std::function<void(rtl::TObject* sender, int num, const rtl::TStringList& files, int x, int y)>;

// Hooks the drop handler of the watched window (Control, else the owner form) through the
// shell's drop-target service and hands every drop to OnFileDrop.
class TFileDrop : public rtl::TComponent {
 public:
  explicit TFileDrop(rtl::TComponent* owner);
  ~TFileDrop() override;

  bool Accept() const { return accept_; }
  void SetAccept(bool accept);
  ui::TWinControl* Control() const { return control_; }
  void SetControl(ui::TWinControl* control);
  TFileDropEvent OnFileDrop;

  // During OnFileDrop: the index-th dropped name as the file system spells it (UTF-8), which the
  // ANSI name may not hold exactly; empty when the toolkit gave none or index is out of range.
  std::string OsFileName(int index) const;

  // The window whose drop handler is hooked now, or null.
  ui::TWinControl* HookedWindow() const { return hookedWindow_; }

  void Loaded() override;
  void Notification(rtl::TComponent* component, rtl::TOperation operation) override;

 protected:
  virtual void DropFiles(const ui::TDropFiles& drop);
  virtual void HookWindow();
  virtual void UnhookWindow();

 private:
  // The window the component would hook now: Control, else the owner form, else null.
  ui::TWinControl* TargetWindow() const;
  void WndProc(const ui::TDropFiles& drop);
  bool accept_ = true;
  ui::TWinControl* control_ = nullptr;
  ui::TWinControl* hookedWindow_ = nullptr;
  ui::TDropHandler previousHandler_;
  // The handler put on a window holds this: a window that outlives the component drops nothing.
  std::shared_ptr<TFileDrop*> self_;
  const std::vector<std::string>* osNames_ = nullptr;  // of the drop being reported
};
