// A private X server (Xvfb) for the tests of real windows: they never need a desktop.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "ui/wx/WxWindows.h"

namespace sv::test {

// Starts Xvfb on a free display, points DISPLAY at it and installs the wx backend; the server
// ends with the test program. Returns false (with the reason) when Xvfb cannot be started.
bool StartPrivateDisplay(std::string& error);

// Where the tests write pictures for a person to look at: <build>/artifacts/.
std::string ArtifactDir();

// Plays the user of the toolkit's directory dialog that will open next: once it is open, goes to
// folder (as the file system spells it) and presses OK. Lives as long as the object; Done() says
// whether OK was pressed.
class DirectoryDialogUser {
 public:
  explicit DirectoryDialogUser(std::string folder);
  ~DirectoryDialogUser();
  bool Done() const { return done_; }

 private:
  void Tick();
  std::string folder_;
  bool done_ = false;
  bool moved_ = false;
  struct Timer;
  Timer* timer_;
};

// The toolkit window of a control as a W; a failure (and nullptr) when it is none.
template <class W>
W* Win(ui::TControl& c) {
  W* w = dynamic_cast<W*>(ui::wx::WindowOf(c));
  EXPECT_NE(w, nullptr);
  return w;
}

}  // namespace sv::test
