// A shared library opened while the program runs (a part that only some runs need), closed when
// the object goes. Paths and error texts are byte strings in the ANSI code page.
#pragma once

#include <string>

namespace platform {

class TSharedModule {
 public:
  TSharedModule() = default;
  ~TSharedModule();
  TSharedModule(TSharedModule&& other) noexcept;
  TSharedModule& operator=(TSharedModule&& other) noexcept;
  TSharedModule(const TSharedModule&) = delete;
  TSharedModule& operator=(const TSharedModule&) = delete;

  // Opens the library at path (closing the one open before) with all of its symbols bound at
  // once, so that a library that misses one fails here and not in the middle of a call. Its own
  // symbols stay its own (they resolve no other library's). False when it cannot be opened, with
  // the loader's reason in Error(). keepMapped: the code stays in memory until the process ends
  // even after Close (for libraries that cannot be unloaded once used, such as a toolkit).
  bool Open(const std::string& path, bool keepMapped = false);
  bool IsOpen() const { return handle_ != nullptr; }
  void Close();

  // The address of a symbol the library exports; null when it has none (the reason in Error()).
  void* Symbol(const char* name);
  // A function the library exports, as a pointer of type F (null when it has none).
  template <class F>
  F Function(const char* name) {
    return reinterpret_cast<F>(Symbol(name));
  }

  const std::string& Path() const { return path_; }
  // The loader's text for the last failure of Open or Symbol (empty after a success).
  const std::string& Error() const { return error_; }

 private:
  void* handle_ = nullptr;
  std::string path_;
  std::string error_;
};

}  // namespace platform
