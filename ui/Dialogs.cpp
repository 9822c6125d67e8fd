#include "ui/Dialogs.h"

#include "ui/Controls.h"
#include "ui/Shell.h"

namespace ui {

bool TOpenDialog::Execute() {
  auto* owner = dynamic_cast<TWinControl*>(Owner());
  return Shell().GetOpenFileName(*this, owner);
}

}  // namespace ui
