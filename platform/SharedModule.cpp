#include "platform/SharedModule.h"

#include <dlfcn.h>

#include <utility>

#include "platform/CodePage.h"
#include "platform/FileSystem.h"

namespace platform {

namespace {
// The loader's text of its last failure (dlerror clears it), or fallback when it has none.
std::string LoaderError(const char* fallback) {
  const char* text = ::dlerror();
  return Utf8ToAnsi(text ? text : fallback);
}
}  // namespace

TSharedModule::~TSharedModule() {
  Close();
}

TSharedModule::TSharedModule(TSharedModule&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)),
      path_(std::move(other.path_)),
      error_(std::move(other.error_)) {}

TSharedModule& TSharedModule::operator=(TSharedModule&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, nullptr);
    path_ = std::move(other.path_);
    error_ = std::move(other.error_);
  }
  return *this;
}

bool TSharedModule::Open(const std::string& path, bool keepMapped) {
  Close();
  path_ = path;
  error_.clear();
  int flags = RTLD_NOW | RTLD_LOCAL;
  if (keepMapped) flags |= RTLD_NODELETE;
  ::dlerror();
  handle_ = ::dlopen(OsPath(path).c_str(), flags);
  if (!handle_) error_ = LoaderError("the library could not be opened");
  return handle_ != nullptr;
}

void TSharedModule::Close() {
  if (!handle_) return;
  ::dlclose(handle_);
  handle_ = nullptr;
}

void* TSharedModule::Symbol(const char* name) {
  if (!handle_) {
    error_ = "no library is open";
    return nullptr;
  }
  ::dlerror();
  void* address = ::dlsym(handle_, name);
  error_ = address ? std::string() : LoaderError("the symbol is not there");
  return address;
}

}  // namespace platform
