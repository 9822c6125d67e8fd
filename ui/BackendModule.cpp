#include "ui/BackendModule.h"

#include <iostream>
#include <utility>

#include "platform/CodePage.h"
#include "platform/ProgramFolder.h"
#include "ui/Forms.h"

namespace ui {

TBackendModule::TBackendModule(std::string fileName, std::string programName)
    : fileName_(std::move(fileName)), programName_(std::move(programName)) {}

TBackendModule::~TBackendModule() {
  if (!installed_) return;
  // The backend's objects and the factory's code are the module's.
  Application().StopBackend();
  Application().SetBackendFactory(nullptr);
}

void TBackendModule::Install() {
  Application().SetBackendFactory([this] { return Start(); });
  installed_ = true;
}

std::string TBackendModule::Path() const {
  return platform::ProgramFolder() + fileName_;
}

std::unique_ptr<TBackend> TBackendModule::Start() {
  if (!start_) {
    const std::string path = Path();
    std::string reason;
    // A toolkit cannot be unloaded once it ran: its code stays mapped until the process ends.
    if (!module_.Open(path, true)) {
      reason = module_.Error();
    } else if (auto entry = module_.Function<TBackendEntry>(kBackendEntry)) {
      start_ = entry(programName_.c_str());
      if (!start_) reason = "its entry gave no backend";
    } else {
      reason = module_.Error();
    }
    if (!start_) {
      module_.Close();
      loadError_ =
          "The window toolkit module " + fileName_ + " could not be loaded (" + reason + ")";
      std::cerr << platform::AnsiToUtf8(Application().Title()) << ": "
                << platform::AnsiToUtf8(loadError_) << std::endl;
      throw EUiError("The user interface could not be started");
    }
  }
  return start_();
}

}  // namespace ui
