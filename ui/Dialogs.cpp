#include "ui/Dialogs.h"

#include "platform/RtlSysUtils.h"
#include "ui/Controls.h"
#include "ui/Shell.h"

namespace ui {

bool TOpenDialog::Execute() {
  auto* owner = dynamic_cast<TWinControl*>(Owner());
  std::string fileName;
  int filterIndex = filterIndex_;
  if (!Shell().GetOpenFileName(*this, owner, fileName, filterIndex) || fileName.empty())
    return false;
  // As the class library: a name chosen without extension gets the default one.
  if (!defaultExt_.empty() && rtl::ExtractFileExt(fileName).empty())
    fileName += defaultExt_[0] == '.' ? defaultExt_ : "." + defaultExt_;
  fileName_ = fileName;
  filterIndex_ = filterIndex;
  return true;
}

}  // namespace ui
