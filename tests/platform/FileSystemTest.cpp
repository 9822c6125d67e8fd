#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "tests/support/TestSupport.h"

using namespace platform;
using sv::test::ReadFile;
using sv::test::TempDir;
using sv::test::WriteFile;
namespace fs = std::filesystem;

namespace {
std::string Ansi(const char* utf8) {
  return Utf8ToAnsi(utf8);
}

std::vector<std::string> Names(const std::vector<FolderEntry>& entries) {
  std::vector<std::string> names;
  for (const auto& e : entries)
    names.push_back(e.name + (e.isFolder ? "/" : ""));
  return names;
}

// Names of the files in a folder (temporary files included).
std::vector<std::string> AllNames(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder))
    names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}
}  // namespace

TEST(FolderListing, FilesInByteOrderThenSubFoldersHiddenAndBrokenLinksLeftOut) {
  TempDir dir;
  for (const char* f : {"b.pdf", "B.PDF", "a.txt", ".hidden.pdf", "表.pdf", "z"})
    WriteFile(dir / f, "x");
  for (const char* d : {"sub", "Alpha", ".git"})
    fs::create_directory(dir / d);
  fs::create_symlink(dir / "b.pdf", dir / "link.pdf");
  fs::create_symlink(dir / "gone", dir / "broken.pdf");
  fs::create_directory_symlink(dir / "sub", dir / "sublink");

  // Byte order of the code page 932 names: upper case before lower case, double bytes last.
  EXPECT_EQ(Names(ListFolder(dir.Path())),
            (std::vector<std::string>{"B.PDF", "a.txt", "b.pdf", "link.pdf", "z", Ansi("表.pdf"),
                                      "Alpha/", "sub/", "sublink/"}));
  EXPECT_EQ(ListFiles(dir.Path(), "*.pdf"),
            (std::vector<std::string>{"B.PDF", "b.pdf", "link.pdf", Ansi("表.pdf")}));
  EXPECT_EQ(ListSubFolders(dir / "sub"), std::vector<std::string>{});
  EXPECT_TRUE(ListFolder(dir / "no such folder").empty());
}

TEST(FolderListing, MasksMatchCharactersInAnyCase) {
  struct Case {
    std::string name, mask;
    bool match;
  } cases[] = {
      {"a.pdf", "*.pdf", true},
      {"A.PDF", "*.pdf", true},
      {"a.Pdf", "*.PDF", true},
      {"a.pdfx", "*.pdf", false},
      {"pdf", "*.pdf", false},
      {".pdf", "*.pdf", true},
      {"a.b.pdf", "*.pdf", true},
      {"x.ini", "*.ini", true},
      {"x", "*.*", false},
      {"x.y", "*.*", true},
      {Ansi("表.pdf"), "?.pdf", true},
      {Ansi("表表.pdf"), "?.pdf", false},
      {Ansi("ソ.PDF"), "*.pdf", true},
      {"ab", "a?", true},
      {"abc", "a*c", true},
      {"abd", "a*c", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(MatchesMask(c.name, c.mask), c.match) << c.name << " " << c.mask;
}

TEST(FolderWalkGuard, EntersEachFolderOnceWhateverTheLinks) {
  TempDir dir;
  fs::create_directories(dir / "a/b");
  fs::create_directory_symlink(dir / "a", dir / "a/b/up");
  FolderWalkGuard guard;
  EXPECT_TRUE(guard.Enter(dir / "a"));
  EXPECT_TRUE(guard.Enter(dir / "a/b/"));
  EXPECT_FALSE(guard.Enter(dir / "a/b/up"));
  EXPECT_FALSE(guard.Enter(dir / "a/b/up/b"));
  EXPECT_FALSE(guard.Enter(dir / "missing"));
}

TEST(AtomicReplace, ReplacesWholeKeepsModeAndFollowsLinks) {
  TempDir dir;
  std::string target = dir / "t.pdf";
  WriteFile(target, "old");
  ::chmod(target.c_str(), 0640);
  ASSERT_TRUE(WriteFileAtomic(target, "new content"));
  EXPECT_EQ(ReadFile(target), "new content");
  struct stat st;
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);

  fs::create_symlink(target, dir / "link.pdf");
  ASSERT_TRUE(WriteFileAtomic(dir / "link.pdf", "through the link"));
  EXPECT_TRUE(fs::is_symlink(dir / "link.pdf"));
  EXPECT_EQ(ReadFile(target), "through the link");

  // Japanese names: CP932 at the interface, UTF-8 on the disk.
  ASSERT_TRUE(WriteFileAtomic(dir.Path() + Ansi("日本語.pdf"), "j"));
  EXPECT_EQ(ReadFile(dir / "日本語.pdf"), "j");
  EXPECT_TRUE(FileExists(dir.Path() + Ansi("日本語.pdf")));
  EXPECT_EQ(FileSize(dir.Path() + Ansi("日本語.pdf")), 1);
  EXPECT_EQ(AllNames(dir.Path()), (std::vector<std::string>{"link.pdf", "t.pdf", "日本語.pdf"}));
}

TEST(AtomicReplace, FailuresLeaveTargetAndFolderAsTheyWere) {
  TempDir dir;
  std::string target = dir / "t.pdf";
  WriteFile(target, "original");
  std::string error;
  EXPECT_FALSE(CopyFile(dir / "missing.pdf", target, false, &error));
  EXPECT_NE(error.find("missing.pdf"), std::string::npos) << error;
  EXPECT_FALSE(CopyFile(dir.Path(), target));  // a folder is no source
  fs::create_directory(dir / "folder.pdf");
  EXPECT_FALSE(WriteFileAtomic(dir / "folder.pdf", "x"));
  EXPECT_FALSE(WriteFileAtomic(dir / "no/such/t.pdf", "x"));
  WriteFile(dir / "src.pdf", "source");
  EXPECT_FALSE(CopyFile(dir / "src.pdf", target, true));
  EXPECT_EQ(ReadFile(target), "original");
  EXPECT_EQ(AllNames(dir.Path()), (std::vector<std::string>{"folder.pdf", "src.pdf", "t.pdf"}));

  ASSERT_TRUE(CopyFile(dir / "src.pdf", target));
  EXPECT_EQ(ReadFile(target), "source");
  EXPECT_EQ(ReadFile(dir / "src.pdf"), "source");
}

TEST(FileHelpers, FoldersDeletionAppendAndTempNames) {
  TempDir dir;
  ASSERT_TRUE(ForceDirectories(dir / "x/y/z/"));
  EXPECT_TRUE(DirectoryExists(dir / "x/y/z"));
  EXPECT_FALSE(FileExists(dir / "x/y/z"));
  WriteFile(dir / "f", "1");
  EXPECT_FALSE(ForceDirectories(dir / "f/g"));
  EXPECT_FALSE(DeleteFile(dir / "x"));  // a folder is not deleted
  EXPECT_TRUE(DirectoryExists(dir / "x"));
  EXPECT_TRUE(DeleteFile(dir / "f"));
  EXPECT_FALSE(DeleteFile(dir / "f"));

  ASSERT_TRUE(AppendToFile(dir / "log.txt", "a\r\n"));
  ASSERT_TRUE(AppendToFile(dir / "log.txt", "b\r\n"));
  EXPECT_EQ(ReadFile(dir / "log.txt"), "a\r\nb\r\n");
  EXPECT_FALSE(AppendToFile(dir / "x", "c"));

  std::string t1 = UniqueTempName(dir.Path()), t2 = UniqueTempName(dir.Path());
  EXPECT_NE(t1, t2);
  EXPECT_EQ(t1.rfind(dir.Path() + ".", 0), 0u);
  EXPECT_FALSE(FileExists(t1));
}
