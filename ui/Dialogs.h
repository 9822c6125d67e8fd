// The open-file dialog.
#pragma once

#include <cstdint>
#include <string>

#include "platform/RtlClasses.h"

namespace ui {

enum TOpenOption : uint32_t {
  ofReadOnly = 1,
  ofOverwritePrompt = 2,
  ofHideReadOnly = 4,
  ofNoChangeDir = 8,
  ofAllowMultiSelect = 0x200,
  ofPathMustExist = 0x800,
  ofFileMustExist = 0x1000,
};
using TOpenOptions = uint32_t;

// The system's dialog to choose a file. Filter pairs a description with patterns, as
// "csvファイル|*.csv|All|*.*"; DefaultExt is added (with a ".") to a chosen name that has no
// extension.
class TOpenDialog : public rtl::TComponent {
 public:
  explicit TOpenDialog(rtl::TComponent* owner) : rtl::TComponent(owner) {}
  const std::string& Filter() const { return filter_; }
  void SetFilter(std::string v) { filter_ = std::move(v); }
  int FilterIndex() const { return filterIndex_; }  // 1-based
  void SetFilterIndex(int v) { filterIndex_ = v; }
  const std::string& DefaultExt() const { return defaultExt_; }
  void SetDefaultExt(std::string v) { defaultExt_ = std::move(v); }
  const std::string& FileName() const { return fileName_; }
  void SetFileName(std::string v) { fileName_ = std::move(v); }
  const std::string& InitialDir() const { return initialDir_; }
  void SetInitialDir(std::string v) { initialDir_ = std::move(v); }
  const std::string& Title() const { return title_; }
  void SetTitle(std::string v) { title_ = std::move(v); }
  TOpenOptions Options() const { return options_; }
  void SetOptions(TOpenOptions v) { options_ = v; }

  // Shows the dialog over the owner form (through the shell service); true with FileName when the
  // user chose a file.
  bool Execute();

 private:
  std::string filter_;
  int filterIndex_ = 1;
  std::string defaultExt_;
  std::string fileName_;
  std::string initialDir_;
  std::string title_;
  TOpenOptions options_ = ofHideReadOnly;
};

}  // namespace ui
