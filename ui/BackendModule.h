// A backend that lives in a shared module of the program folder: a run that never shows a window
// (a silent run) never loads it, nor the toolkit it links. The module is loaded when the
// application first needs a backend; one that cannot be loaded is reported on standard error
// (its file and the loader's reason) and the window fails to start as without a display.
#pragma once

#include <memory>
#include <string>

#include "platform/SharedModule.h"
#include "ui/Backend.h"

namespace ui {

class TBackendModule {
 public:
  // fileName: the module's file in the program folder; programName: the name the toolkit gets.
  TBackendModule(std::string fileName, std::string programName);
  // Stops the backend and takes the factory back from the application before the module goes.
  ~TBackendModule();
  TBackendModule(const TBackendModule&) = delete;
  TBackendModule& operator=(const TBackendModule&) = delete;

  // Makes this module the application's backend factory.
  void Install();

  // The module's full path (the program folder's file).
  std::string Path() const;
  // Whether a backend was needed and the module could not be loaded or has no entry.
  bool LoadFailed() const { return !loadError_.empty(); }
  // Why, naming the module (empty unless LoadFailed).
  const std::string& LoadError() const { return loadError_; }

 private:
  std::unique_ptr<TBackend> Start();
  std::string fileName_;
  std::string programName_;
  platform::TSharedModule module_;
  TBackendStart start_ = nullptr;
  std::string loadError_;
  bool installed_ = false;
};

}  // namespace ui
