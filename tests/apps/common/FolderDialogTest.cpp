// TFolderDialog through a directory service that plays the user.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

#include "apps/common/FolderDialog.h"
#include "platform/CodePage.h"
#include "tests/support/TestSupport.h"
#include "ui/Forms.h"
#include "ui/Shell.h"

namespace {

class FakeBrowser : public ui::TShell {
 public:
  FakeBrowser() { previous_ = ui::SetShell(this); }
  ~FakeBrowser() override { ui::SetShell(previous_); }
  bool BrowseForFolder(ui::TWinControl* owner, const std::string& title,
                       const std::string& initialDir, std::string& path) override {
    owners.push_back(owner);
    titles.push_back(title);
    initials.push_back(initialDir);
    if (!ok) return false;
    path = answer;
    return true;
  }
  bool ok = true;
  std::string answer;
  std::vector<ui::TWinControl*> owners;
  std::vector<std::string> titles, initials;

 private:
  ui::TShell* previous_;
};

}  // namespace

TEST(FolderDialog, RemembersTheChosenFolderAndPreselectsIt) {
  sv::test::TempDir tmp;
  std::string first = tmp / "first";
  std::string second = tmp / platform::Utf8ToAnsi("フォルダ");
  mkdir(first.c_str(), 0755);
  mkdir(platform::AnsiToUtf8(second).c_str(), 0755);

  ui::TForm form(nullptr);
  TFolderDialog dialog(&form);
  EXPECT_EQ(dialog.Title(), platform::Utf8ToAnsi("フォルダーの選択"));
  EXPECT_EQ(dialog.Directory(), "");
  FakeBrowser browser;

  browser.answer = first;
  EXPECT_TRUE(dialog.Execute());
  EXPECT_EQ(dialog.Directory(), first);
  browser.answer = platform::AnsiToUtf8(second);  // the dialog speaks the file system's names
  EXPECT_TRUE(dialog.Execute());
  EXPECT_EQ(dialog.Directory(), second);
  EXPECT_EQ(dialog.OsDirectory(), platform::AnsiToUtf8(second));
  browser.ok = false;  // Cancel
  EXPECT_FALSE(dialog.Execute());
  EXPECT_EQ(dialog.Directory(), second);
  EXPECT_EQ(browser.initials, (std::vector<std::string>{"", first, platform::AnsiToUtf8(second)}));
  EXPECT_EQ(browser.owners, (std::vector<ui::TWinControl*>{&form, &form, &form}));
  EXPECT_EQ(browser.titles[0], dialog.Title());

  // OK on something that is no folder of the file system: false, Directory kept.
  browser.ok = true;
  for (std::string notAFolder : {std::string(), tmp / "missing", tmp / "file"}) {
    sv::test::WriteFile(tmp / "file", "x");
    browser.answer = notAFolder;
    EXPECT_FALSE(dialog.Execute()) << notAFolder;
    EXPECT_EQ(dialog.Directory(), second);
  }
  // A folder deleted since is not preselected.
  rmdir(platform::AnsiToUtf8(second).c_str());
  browser.ok = false;
  EXPECT_FALSE(dialog.Execute());
  EXPECT_EQ(browser.initials.back(), "");
}

TEST(FolderDialog, AFolderIsGivenBackByItsRealNameWhateverCodePage932MakesOfIt) {
  sv::test::TempDir tmp;
  // The wave dash as Linux input methods type it (code page 932 decodes its code as ～), and a
  // name that code page 932 cannot hold at all.
  const std::string wave = tmp / "報告〜2024", cafe = tmp / "café";
  mkdir(wave.c_str(), 0755);
  mkdir(cafe.c_str(), 0755);
  ui::TForm form(nullptr);
  TFolderDialog dialog(&form);
  FakeBrowser browser;
  struct Case {
    std::string chosen, ansi;
  };
  for (const Case& c : {Case{wave, platform::Utf8ToAnsi(wave)}, Case{cafe, tmp / "caf?"}}) {
    browser.answer = c.chosen;
    EXPECT_TRUE(dialog.Execute()) << c.chosen;
    EXPECT_EQ(dialog.Directory(), c.ansi);
    EXPECT_EQ(dialog.OsDirectory(), c.chosen);
    browser.ok = false;
    EXPECT_FALSE(dialog.Execute());
    EXPECT_EQ(browser.initials.back(), c.chosen);  // opened on the real folder
    EXPECT_EQ(dialog.OsDirectory(), c.chosen);
    browser.ok = true;
  }
  // A folder set by its code page 932 name opens as the file system spells it.
  dialog.SetDirectory(platform::Utf8ToAnsi(wave));
  EXPECT_EQ(dialog.OsDirectory(), "");
  browser.ok = false;
  EXPECT_FALSE(dialog.Execute());
  EXPECT_EQ(browser.initials.back(), wave);
  dialog.SetDirectory(tmp / "caf?");  // stands for no folder: nothing is preselected
  EXPECT_FALSE(dialog.Execute());
  EXPECT_EQ(browser.initials.back(), "");
}

TEST(FolderDialog, NeedsAWindowAsOwner) {
  rtl::TComponent owner;
  TFolderDialog dialog(&owner);
  FakeBrowser browser;
  EXPECT_THROW(dialog.Execute(), rtl::EInvalidCast);
  EXPECT_TRUE(browser.owners.empty());
}

TEST(FolderDialog, WithoutADisplayNothingIsChosen) {
  ui::TForm form(nullptr);
  TFolderDialog dialog(&form);
  dialog.SetDirectory("/");
  EXPECT_FALSE(dialog.Execute());
  EXPECT_EQ(dialog.Directory(), "/");
}
