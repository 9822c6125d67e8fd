// "Open with the default program": xdg-open started detached, with the path whole.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/CodePage.h"
#include "tests/support/TestSupport.h"
#include "ui/Dialogs.h"
#include "ui/Forms.h"
#include "ui/Shell.h"

namespace {

// PATH for the length of a test.
class PathFor {
 public:
  explicit PathFor(const std::string& path) : old_(std::getenv("PATH") ? std::getenv("PATH") : "") {
    setenv("PATH", path.c_str(), 1);
  }
  ~PathFor() { setenv("PATH", old_.c_str(), 1); }

 private:
  std::string old_;
};

bool WaitForFile(const std::string& path) {
  for (int i = 0; i < 500; ++i) {
    if (sv::test::FileExists(path)) return true;
    usleep(10000);
  }
  return false;
}

}  // namespace

TEST(Shell, OpenDocumentStartsXdgOpenDetached) {
  sv::test::TempDir tmp;
  // A stand-in for xdg-open that records its argument once the caller has gone on.
  std::string fake = tmp / "xdg-open";
  sv::test::WriteFile(fake, "#!/bin/sh\nprintf '%s' \"$1\" > \"" + tmp.Path() + "arg.tmp\"\nmv \"" +
                                tmp.Path() + "arg.tmp\" \"" + tmp.Path() + "arg\"\n");
  chmod(fake.c_str(), 0755);
  std::string document =
      "/tmp/" + std::string(260, 'p') + "/" + platform::Utf8ToAnsi("検査 結果.pdf");
  {
    PathFor path(tmp.Path() + ":/usr/bin:/bin");
    EXPECT_TRUE(ui::Shell().OpenDocument(document));
  }
  ASSERT_TRUE(WaitForFile(tmp / "arg"));
  EXPECT_EQ(sv::test::ReadFile(tmp / "arg"), platform::AnsiToUtf8(document));

  sv::test::TempDir empty;
  PathFor path(empty.Path());
  EXPECT_FALSE(ui::Shell().OpenDocument(document));
}

TEST(Shell, OpenDialogWithoutADisplayChoosesNothing) {
  ui::TForm form(nullptr);
  ui::TOpenDialog dialog(&form);
  dialog.SetFilter(platform::Utf8ToAnsi("csvファイル|*.csv"));
  dialog.SetDefaultExt("csv");
  dialog.SetFileName("/tmp/old.csv");
  EXPECT_FALSE(dialog.Execute());
  EXPECT_EQ(dialog.FileName(), "/tmp/old.csv");
}

namespace {
// A user who types a name without extension into the open dialog.
class TypingUser : public ui::TShell {
 public:
  TypingUser() { previous_ = ui::SetShell(this); }
  ~TypingUser() override { ui::SetShell(previous_); }
  bool GetOpenFileName(ui::TOpenDialog&, ui::TWinControl* owner, std::string& fileName,
                       int& filterIndex) override {
    seenOwner = owner;
    fileName = answer;
    filterIndex = 1;
    return !answer.empty();
  }
  std::string answer;
  ui::TWinControl* seenOwner = nullptr;

 private:
  ui::TShell* previous_;
};
}  // namespace

TEST(Shell, OpenDialogGoesThroughTheShellWithItsOwner) {
  ui::TForm form(nullptr);
  ui::TOpenDialog dialog(&form);
  dialog.SetDefaultExt("csv");
  TypingUser user;
  struct Case {
    std::string typed, want;
  } cases[] = {{"/data/list", "/data/list.csv"},
               {"/data/list.CSV", "/data/list.CSV"},
               {"/data/my.lists/list", "/data/my.lists/list.csv"}};
  for (const auto& c : cases) {
    user.answer = c.typed;
    EXPECT_TRUE(dialog.Execute());
    EXPECT_EQ(dialog.FileName(), c.want);
  }
  EXPECT_EQ(user.seenOwner, &form);
  user.answer = "";  // cancelled
  EXPECT_FALSE(dialog.Execute());
  EXPECT_EQ(dialog.FileName(), "/data/my.lists/list.csv");
}
