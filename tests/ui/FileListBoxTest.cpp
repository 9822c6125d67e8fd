// The file list box: the files of a folder that match a mask, sorted.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

#include "platform/CodePage.h"
#include "tests/support/TestSupport.h"
#include "ui/FileCtrl.h"
#include "ui/Forms.h"

using namespace ui;

TEST(FileListBox, ListsMatchingFilesOfAFolder) {
  sv::test::TempDir tmp;
  for (const char* name : {"default.ini", "L2RhdGEvYg==.ini", "UPPER.INI", "notes.txt",
                           ".hidden.ini", "ini", "ジョブ.ini"})
    sv::test::WriteFile(tmp / name, "x");
  mkdir((tmp / "folder.ini").c_str(), 0755);
  TForm form(nullptr);
  TFileListBox files(&form);
  files.SetMask("*.ini");
  files.SetDirectory(tmp.Path());
  EXPECT_EQ(files.Items().Items(),
            (std::vector<std::string>{"default.ini", "L2RhdGEvYg==.ini", "UPPER.INI",
                                      platform::Utf8ToAnsi("ジョブ.ini")}));
  sv::test::WriteFile(tmp / "added.ini", "x");
  files.Update();
  EXPECT_EQ(files.Items().Count(), 5);
  files.SetMask("*.txt;*.ini");
  EXPECT_EQ(files.Items().Count(), 6);
  files.SetDirectory(tmp / "missing");
  EXPECT_EQ(files.Items().Count(), 0);
}

TEST(FileListBox, Masks) {
  struct Case {
    const char* name;
    const char* mask;
    bool want;
  } cases[] = {
      {"a.ini", "*.ini", true}, {"a.INI", "*.ini", true}, {"a.ini.bak", "*.ini", false},
      {"noext", "*.*", true},   {"a.pdf", "?.pdf", true}, {"ab.pdf", "?.pdf", false},
      {"x.ini", "x*", true},    {"", "*", true},          {"abc", "a*c*", true},
  };
  for (const auto& c : cases)
    EXPECT_EQ(MatchesMask(c.name, c.mask), c.want) << c.name << " " << c.mask;
}
