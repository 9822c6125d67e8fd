// A program's whole run without a display (each in a process of its own: the end of the message
// loop cannot be undone).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "ui/Forms.h"
#include "ui/StdCtrls.h"

using namespace ui;

namespace {

// A main form started from the command line: it runs when activated and closes itself.
class TSilentForm : public TForm {
 public:
  TSilentForm() : TForm(&Application()) {
    OnCreate = [this](rtl::TObject*) {
      SetBounds(0, 0, 0, 0);
      SetBorderStyle(bsNone);
      Application().SetToolWindow(true);
    };
    OnActivate = [this](rtl::TObject*) {
      log.push_back("activate");
      Close();
    };
    OnClose = [this](rtl::TObject*, TCloseAction&) { log.push_back("close"); };
  }
  std::vector<std::string> log;
};

}  // namespace

void RunSilently() {
  Application().SetBackendFactory([]() -> std::unique_ptr<TBackend> {
    std::exit(3);  // a silent run must never start the toolkit
  });
  TSilentForm* form = Application().CreateForm<TSilentForm>();
  Application().Run();
  const std::vector<std::string> expected{"activate", "close"};
  bool ok = Application().MainForm() == form && Application().Terminated() &&
            form->log == expected && form->Peer() == nullptr && form->Left() == 0 &&
            form->Top() == 0;
  std::exit(ok ? 0 : 1);
}

class TBroken : public TForm {
 public:
  TBroken() : TForm(&Application()) {
    OnCreate = [](rtl::TObject*) { throw rtl::Exception("setting folder missing"); };
  }
};

void CreateBrokenForm() {
  Application().SetTitle("Sorvane");
  Application().CreateForm<TBroken>();
  std::exit(Application().MainForm() ? 0 : 1);
}

TEST(ApplicationRun, ASilentRunActivatesTheMainFormWhichEndsIt) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(RunSilently(), testing::ExitedWithCode(0), "");
}

TEST(ApplicationRun, AnErrorOfFormCreationIsReportedAndTheProgramGoesOn) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(CreateBrokenForm(), testing::ExitedWithCode(0), "Sorvane: setting folder missing\\.");
}
