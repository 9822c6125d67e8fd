// The toolkit windows behind the controls, for code that must reach wxWidgets itself (tests that
// act as the toolkit would).
#pragma once

#include <wx/window.h>

#include "ui/Controls.h"

namespace ui::wx {

// The control's own window (a form's frame), or null while it has none.
wxWindow* WindowOf(TControl& control);
// The window that holds the control's children and takes drops (a form's client panel).
wxWindow* ClientWindowOf(TControl& control);
// The control whose window this is (or the nearest control up the window's parents), or null.
TControl* ControlOf(wxWindow* window);
// The control under a point of the screen (the one whose pop-up menu the right button shows).
TControl* ControlAt(wxPoint screenPoint);
// Lets the toolkit handle its pending events for a while (painting, mapping windows).
void Settle(int milliseconds = 100);

}  // namespace ui::wx
