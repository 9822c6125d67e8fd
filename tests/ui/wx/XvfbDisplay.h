// A private X server (Xvfb) for the tests of real windows: they never need a desktop.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "ui/wx/WxWindows.h"

namespace sv::test {

// Starts Xvfb on a free display, points DISPLAY at it and installs the wx backend; the server
// ends with the test program. Returns false (with the reason) when Xvfb cannot be started.
bool StartPrivateDisplay(std::string& error);

// Where the tests write pictures for a person to look at: <build>/artifacts/.
std::string ArtifactDir();

// The toolkit window of a control as a W; a failure (and nullptr) when it is none.
template <class W>
W* Win(ui::TControl& c) {
  W* w = dynamic_cast<W*>(ui::wx::WindowOf(c));
  EXPECT_NE(w, nullptr);
  return w;
}

}  // namespace sv::test
