// A private X server (Xvfb) for the tests of real windows: they never need a desktop.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "ui/Forms.h"
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

// Plays the user of the toolkit's message boxes while it lives: reads the text of each one that
// opens (its main and secondary text, joined by a line feed) and presses its default button.
class MessageDialogUser {
 public:
  MessageDialogUser();
  ~MessageDialogUser();
  const std::vector<std::string>& Texts() const { return texts_; }

 private:
  void Tick();
  std::vector<std::string> texts_;
  struct Timer;
  Timer* timer_;
};

// What is wrong with the layout of a shown form, as the toolkit draws it, one line each: a
// caption (check box, radio button, label, button, group, list column, drop-down item) whose
// text, in the control's font, is wider or taller than the room its control gives it; two
// controls of one parent that overlap; a control that reaches out of its parent, or into a
// group's caption.
std::vector<std::string> LayoutFaults(ui::TForm& form);

// Runs this test program again for one test (gtest filter) with GDK_DPI_SCALE=scale and
// SV_LAYOUT_CHILD=1 in its environment; its exit status (0: passed), the output in output.
int RunAtDesktopScale(const std::string& test, const std::string& scale, std::string& output);
// Whether this process is such a run.
bool AtDesktopScale();

// The toolkit window of a control as a W; a failure (and nullptr) when it is none.
template <class W>
W* Win(ui::TControl& c) {
  W* w = dynamic_cast<W*>(ui::wx::WindowOf(c));
  EXPECT_NE(w, nullptr);
  return w;
}

}  // namespace sv::test
