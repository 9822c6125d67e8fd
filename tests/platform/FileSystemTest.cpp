#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <thread>

#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/RtlClasses.h"
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

// "/" after a folder, "@" after a link, "!" after a name that does not reach its entry.
std::vector<std::string> Names(const std::vector<FolderEntry>& entries) {
  std::vector<std::string> names;
  for (const auto& e : entries)
    names.push_back(e.name + (e.isFolder ? "/" : "") + (e.isLink ? "@" : "") +
                    (e.reachable ? "" : "!"));
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

TEST(FolderListing, FilesAndLinksInByteOrderThenSubFoldersHiddenLeftOut) {
  TempDir dir;
  for (const char* f : {"b.pdf", "B.PDF", "a.txt", ".hidden.pdf", "表.pdf", "z"})
    WriteFile(dir / f, "x");
  for (const char* d : {"sub", "Alpha", ".git"})
    fs::create_directory(dir / d);
  fs::create_symlink(dir / "b.pdf", dir / "link.pdf");
  fs::create_symlink(dir / "gone", dir / "broken.pdf");
  fs::create_directory_symlink(dir / "sub", dir / "sublink");
  ASSERT_EQ(::mkfifo((dir / "fifo.pdf").c_str(), 0600), 0);

  // Byte order of the code page 932 names: upper case before lower case, double bytes last. A
  // link is a link whatever it names; special files are left out.
  EXPECT_EQ(Names(ListFolder(dir.Path())),
            (std::vector<std::string>{"B.PDF", "a.txt", "b.pdf", "broken.pdf@", "link.pdf@",
                                      "sublink@", "z", Ansi("表.pdf"), "Alpha/", "sub/"}));
  EXPECT_EQ(ListFiles(dir.Path(), "*.pdf"),
            (std::vector<std::string>{"B.PDF", "b.pdf", Ansi("表.pdf")}));
  EXPECT_EQ(ListSubFolders(dir.Path()), (std::vector<std::string>{"Alpha", "sub"}));
  EXPECT_EQ(ListSubFolders(dir / "sub"), std::vector<std::string>{});
  EXPECT_TRUE(ListFolder(dir / "no such folder").empty());
  EXPECT_TRUE(IsSymbolicLink(dir / "broken.pdf"));
  EXPECT_FALSE(IsSymbolicLink(dir / "b.pdf"));
}

TEST(CodePage932Names, EachNameReachesItsOwnEntryOrNone) {
  // The JIS forms 〜 ‖ − ¢ £ ¬ — share their codes with ～ ∥ － ￠ ￡ ￢ ―; é, ¥ (written as "\\"),
  // ‾ (as "~") and a name that is no UTF-8 cannot be held at all.
  TempDir dir;
  const std::vector<std::string> onDisk = {"10〜20.pdf", "‖−¢£¬—.pdf", "x〜.pdf",    "x～.pdf",
                                           "caf?.pdf",   "café.pdf",   "a¥b.pdf",    "a‾b.pdf",
                                           "y〜z〜.pdf", "y～z〜.pdf", "bad\xFF.pdf"};
  for (const std::string& n : onDisk)
    WriteFile(dir / n, n);
  fs::create_directory(dir / "d〜");
  WriteFile(dir / "d〜/in.pdf", "inside");

  EXPECT_EQ(Names(ListFolder(dir.Path())),
            (std::vector<std::string>{"10" + Ansi("〜") + "20.pdf", "a\\b.pdf!", "a~b.pdf!",
                                      "bad?.pdf!", "caf?.pdf", "caf?.pdf!",
                                      "x" + Ansi("〜") + ".pdf!", "x" + Ansi("～") + ".pdf",
                                      "y" + Ansi("〜z〜") + ".pdf!", "y" + Ansi("〜z〜") + ".pdf!",
                                      Ansi("‖−¢£¬—") + ".pdf", "d" + Ansi("〜") + "/"}));
  // Through code page 932 each reachable name gets to its own file.
  struct Case {
    std::string ansi, content;  // "" : no file is reached
  } cases[] = {
      {Ansi("10〜20.pdf"), "10〜20.pdf"},
      {Ansi("‖−¢£¬—.pdf"), "‖−¢£¬—.pdf"},
      {Ansi("x〜.pdf"), "x～.pdf"},  // the one it decodes to
      {"caf?.pdf", "caf?.pdf"},
      {Ansi("d〜/in.pdf"), "inside"},
      {"a\\b.pdf", ""},
      {"a~b.pdf", ""},
      {Ansi("y〜z〜.pdf"), ""},  // two names are written so: neither is taken
  };
  for (const Case& c : cases) {
    std::string bytes;
    EXPECT_EQ(ReadFileBytes(dir.Path() + c.ansi, bytes), !c.content.empty()) << c.content;
    EXPECT_EQ(bytes, c.content);
    EXPECT_EQ(FileExists(dir.Path() + c.ansi), !c.content.empty()) << c.content;
  }
  EXPECT_TRUE(DirectoryExists(dir.Path() + Ansi("d〜")));
  EXPECT_EQ(OsPath(dir.Path() + Ansi("d〜/in.pdf")), dir / "d〜/in.pdf");
  EXPECT_EQ(ListFiles(dir.Path() + Ansi("d〜"), "*.pdf"), std::vector<std::string>{"in.pdf"});
  rtl::TFileStream stream(dir.Path() + Ansi("10〜20.pdf"), rtl::TFileStream::fmOpenRead);
  EXPECT_EQ(stream.Size(), 11);

  // Without its full-width twin, x〜.pdf is reached by its name.
  fs::remove(dir / "x～.pdf");
  std::string bytes;
  EXPECT_TRUE(ReadFileBytes(dir.Path() + Ansi("x〜.pdf"), bytes));
  EXPECT_EQ(bytes, "x〜.pdf");
}

TEST(CodePage932Names, APathIsAmbiguousWhenAnotherNameIsWrittenTheSameWay) {
  TempDir dir;
  for (const char* d : {"café", "plain", "10〜20", "x〜", "x～", "a¥b", "caf?2", "cafè2"})
    fs::create_directories(dir / (std::string(d) + "/sub"));
  struct Case {
    std::string path;
    bool ambiguous;
  } cases[] = {
      {"caf?", true},       // café, written with "?"
      {"caf?/sub", true},   // a part of the path is enough
      {"caf?2", true},      // there is a real caf?2, and cafè2 is written the same way
      {"a\\b", true},       // a¥b
      {Ansi("x〜"), true},  // x〜 and x～
      {Ansi("10〜20"), false}, {Ansi("10〜20/sub"), false},
      {"plain/sub", false},    {"missing?", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(PathIsAmbiguous(dir.Path() + c.path), c.ambiguous) << c.path;
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

unsigned Mode(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

TEST(Replacement, WritesThroughItsDescriptorPrivatelyAndKeepsModeAndOwner) {
  TempDir dir;
  const std::string target = dir / "t.pdf";
  WriteFile(target, "old");
  ::chmod(target.c_str(), 0640);
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::chown(target.c_str(), 1234, 4321), 0);
  }
  FileIdentity read;
  ASSERT_TRUE(CheckReplaceable(target, &read));
  ReplacementFile file;
  ASSERT_TRUE(file.Create(target));
  // Beside the target, hidden from listings, private while it is written.
  EXPECT_EQ(file.TempPath().rfind(dir.Path() + ".~sv", 0), 0u) << file.TempPath();
  EXPECT_EQ(Mode(file.TempPath()), 0600u);
  ASSERT_TRUE(file.Write("%PDF-1.4 new content"));
  ASSERT_TRUE(file.WriteAt(5, "1.7"));
  char head[8];
  EXPECT_EQ(file.ReadAt(0, head, sizeof head), 8);
  EXPECT_EQ(std::string(head, 8), "%PDF-1.7");
  EXPECT_EQ(file.ReadAt(100, head, sizeof head), 0);
  EXPECT_EQ(ReadFile(target), "old");
  ASSERT_TRUE(file.Commit(&read));
  EXPECT_EQ(ReadFile(target), "%PDF-1.7 new content");
  EXPECT_EQ(Mode(target), 0640u);
  if (root) {
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 1234u);
    EXPECT_EQ(st.st_gid, 4321u);
  }
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(AllNames(dir.Path()), std::vector<std::string>{"t.pdf"});

  // A new file gets the mode new files get; inside a private scope that is 0600.
  const mode_t mask = ::umask(022);
  {
    ReplacementFile fresh;
    ASSERT_TRUE(fresh.Create(dir / "new.pdf"));
    ASSERT_TRUE(fresh.Write("n"));
    ASSERT_TRUE(fresh.Commit());
  }
  EXPECT_EQ(Mode(dir / "new.pdf"), 0644u);
  {
    PrivateFileScope privateFiles;
    ASSERT_TRUE(WriteFileAtomic(dir / "private.pdf", "p"));
    ASSERT_TRUE(AppendToFile(dir / "log.txt", "l"));
  }
  ::umask(mask);
  EXPECT_EQ(Mode(dir / "private.pdf"), 0600u);
  EXPECT_EQ(Mode(dir / "log.txt"), 0600u);
  ASSERT_TRUE(AppendToFile(dir / "secret.txt", "s", nullptr, 0600));
  EXPECT_EQ(Mode(dir / "secret.txt"), 0600u);

  // Dropped before its commit: gone, the target untouched.
  {
    ReplacementFile dropped;
    ASSERT_TRUE(dropped.Create(target));
    ASSERT_TRUE(dropped.Write("never"));
  }
  EXPECT_EQ(ReadFile(target), "%PDF-1.7 new content");
  EXPECT_EQ(AllNames(dir.Path()),
            (std::vector<std::string>{"log.txt", "new.pdf", "private.pdf", "secret.txt", "t.pdf"}));
}

TEST(Replacement, TargetsThatMayNotBeReplacedStayByteForByte) {
  TempDir dir;
  WriteFile(dir / "victim", "secret");
  ::chmod((dir / "victim").c_str(), 0600);
  struct Case {
    const char* what;
    std::function<void(const std::string&)> make;  // the target, made in its own folder
    const char* reason;
  } cases[] = {
      {"a symbolic link", [&](const std::string& t) { fs::create_symlink(dir / "victim", t); },
       "symbolic link"},
      {"a file with a second name",
       [](const std::string& t) {
         WriteFile(t, "original");
         fs::create_hard_link(t, t + ".second");
       },
       "more than one name"},
      {"a read-only file",
       [](const std::string& t) {
         WriteFile(t, "original");
         ::chmod(t.c_str(), 0444);
       },
       "read-only"},
      {"a folder", [](const std::string& t) { fs::create_directory(t); }, "not a regular file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir folder;
    const std::string target = folder / "t.pdf";
    c.make(target);
    const std::vector<std::string> before = AllNames(folder.Path());
    const unsigned mode = Mode(target);
    std::string error;
    EXPECT_FALSE(CheckReplaceable(target, nullptr, &error));
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    ReplacementFile file;
    ASSERT_TRUE(file.Create(target));
    ASSERT_TRUE(file.Write("new"));
    error.clear();
    EXPECT_FALSE(file.Commit(nullptr, &error));
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    EXPECT_EQ(AllNames(folder.Path()), before);
    EXPECT_EQ(Mode(target), mode);
    if (!fs::is_directory(target)) {
      EXPECT_EQ(ReadFile(target), fs::is_symlink(target) ? "secret" : "original");
    }
  }
  EXPECT_EQ(ReadFile(dir / "victim"), "secret");
  EXPECT_EQ(Mode(dir / "victim"), 0600u);

  // A file that changed after it was read, or went, keeps what it is now.
  const std::string target = dir / "t.pdf";
  WriteFile(target, "read");
  FileIdentity read;
  ASSERT_TRUE(CheckReplaceable(target, &read));
  for (const char* now : {"the owner's new version", "", "same"}) {
    SCOPED_TRACE(now);
    ReplacementFile file;
    ASSERT_TRUE(file.Create(target));
    ASSERT_TRUE(file.Write("rewritten"));
    if (*now) {
      WriteFile(target, now);
      // The same size and a modification time set back to the one read: a new file all the same.
      if (std::string(now) == "same") {
        fs::remove(target);
        WriteFile(target, "same");
        const timespec times[2] = {read.modified, read.modified};
        ::utimensat(AT_FDCWD, target.c_str(), times, 0);
      }
    } else {
      fs::remove(target);
    }
    std::string error;
    EXPECT_FALSE(file.Commit(&read, &error));
    EXPECT_NE(error.find(*now ? "changed after it was read" : "gone"), std::string::npos) << error;
    EXPECT_EQ(FileExists(target), *now != 0);
    if (*now) {
      EXPECT_EQ(ReadFile(target), now);
    }
  }
}

// A folder that another user may write: a private file there that links may lead to, and the
// target of a replace.
struct SharedFolder {
  explicit SharedFolder(const std::string& targetContent) {
    WriteFile(victim, "secret");
    ::chmod(victim.c_str(), 0600);
    WriteFile(target, targetContent);
    ::chmod(target.c_str(), 0666);
  }
  TempDir dir;
  const std::string victim = dir / "victim", target = dir / "t.pdf";
};

TEST(Replacement, ALinkSwappedInAtTheTemporaryNameIsNeverFollowed) {
  SharedFolder f("old");
  const std::string &victim = f.victim, &target = f.target;
  ReplacementFile file;
  ASSERT_TRUE(file.Create(target));
  ASSERT_TRUE(file.Write("new"));
  // Another user of the folder puts a link to the victim at the temporary file's name.
  fs::remove(file.TempPath());
  fs::create_symlink(victim, file.TempPath());
  const std::string planted = file.TempPath();
  std::string error;
  EXPECT_FALSE(file.Commit(nullptr, &error));
  EXPECT_NE(error.find("temporary file was replaced"), std::string::npos) << error;
  EXPECT_EQ(ReadFile(victim), "secret");
  EXPECT_EQ(Mode(victim), 0600u);
  EXPECT_EQ(ReadFile(target), "old");
  EXPECT_FALSE(fs::is_symlink(target));
  EXPECT_EQ(Mode(target), 0666u);
  EXPECT_TRUE(fs::is_symlink(planted));  // not this program's to remove
}

TEST(Replacement, AThreadSwappingLinksInAtNewFilesNeverReachesTheirTarget) {
  SharedFolder f("version 0");
  const std::string &victim = f.victim, &target = f.target;
  const TempDir& dir = f.dir;
  // As soon as a temporary file appears, it is replaced by a link to the victim.
  const int watch = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  ASSERT_GE(watch, 0);
  ASSERT_GE(::inotify_add_watch(watch, dir.Path().c_str(), IN_CREATE), 0);
  std::atomic<bool> stop{false};
  std::atomic<int> swaps{0};
  std::thread attacker([&] {
    alignas(inotify_event) char buf[4096];
    while (!stop) {
      pollfd p{watch, POLLIN, 0};
      if (::poll(&p, 1, 5) <= 0) continue;
      ssize_t n = ::read(watch, buf, sizeof buf);
      for (char* at = buf; n > 0 && at < buf + n;) {
        auto* e = reinterpret_cast<inotify_event*>(at);
        at += sizeof(inotify_event) + e->len;
        if (e->len == 0 || std::string(e->name).rfind(".~sv", 0) != 0) continue;
        const std::string temp = dir.Path() + e->name;
        struct stat st {};
        if (::lstat(temp.c_str(), &st) != 0 || S_ISLNK(st.st_mode)) continue;  // its own link
        if (::unlink(temp.c_str()) == 0 && ::symlink(victim.c_str(), temp.c_str()) == 0) ++swaps;
      }
    }
  });
  std::string last = "version 0";
  for (int i = 1; i <= 40 && !fs::is_symlink(target); ++i) {
    const std::string version = "version " + std::to_string(i);
    const bool ok = WriteFileAtomic(target, version);
    if (fs::is_symlink(target)) {
      // The link went in between the last check and the rename: said, not taken for success.
      EXPECT_FALSE(ok);
      break;
    }
    if (ok) last = version;
    EXPECT_EQ(ReadFile(target), last);
    EXPECT_EQ(Mode(target), 0666u);
  }
  stop = true;
  attacker.join();
  ::close(watch);
  EXPECT_EQ(ReadFile(victim), "secret");
  EXPECT_EQ(Mode(victim), 0600u);
  RecordProperty("swaps", swaps.load());
}

TEST(Replacement, AnAdoptedFileIsMovedOverTheTargetWithTheTargetsModeAndIdentityCheck) {
  TempDir dir;
  fs::create_directories(dir / "work");
  fs::create_directories(dir / "job");
  const std::string work = dir / "work/out.pdf", target = dir / "job/t.pdf";
  WriteFile(target, "old");
  ::chmod(target.c_str(), 0640);
  FileIdentity read;
  ASSERT_TRUE(CheckReplaceable(target, &read));
  WriteFile(work, "%PDF-1.7 made elsewhere");
  ::chmod(work.c_str(), 0644);
  struct stat made {};
  ASSERT_EQ(::stat(work.c_str(), &made), 0);
  {
    ReplacementFile file;
    ASSERT_TRUE(file.Adopt(target, work));
    EXPECT_EQ(Mode(work), 0600u);  // private until it takes the target's place
    EXPECT_EQ(ReadFile(target), "old");
    ASSERT_TRUE(file.Commit(&read));
  }
  // Moved, not copied: the target is the work file itself, with the target's mode.
  struct stat now {};
  ASSERT_EQ(::stat(target.c_str(), &now), 0);
  EXPECT_EQ(now.st_ino, made.st_ino);
  EXPECT_EQ(ReadFile(target), "%PDF-1.7 made elsewhere");
  EXPECT_EQ(Mode(target), 0640u);
  EXPECT_EQ(AllNames(dir / "work"), std::vector<std::string>{});
  EXPECT_EQ(AllNames(dir / "job"), std::vector<std::string>{"t.pdf"});

  // A target that changed since it was read keeps its new version; the adopted file goes.
  ASSERT_TRUE(CheckReplaceable(target, &read));
  WriteFile(work, "second");
  {
    ReplacementFile file;
    ASSERT_TRUE(file.Adopt(target, work));
    WriteFile(target, "the owner's new version");
    std::string error;
    EXPECT_FALSE(file.Commit(&read, &error));
    EXPECT_NE(error.find("changed after it was read"), std::string::npos) << error;
  }
  EXPECT_EQ(ReadFile(target), "the owner's new version");
  EXPECT_EQ(AllNames(dir / "work"), std::vector<std::string>{});

  // Files that are not taken stay as they are: the caller copies them instead.
  WriteFile(dir / "victim", "secret");
  struct Case {
    const char* what;
    std::function<void()> make;  // at work
    bool asRootOnly = false;
  } cases[] = {
      {"a symbolic link", [&] { fs::create_symlink(dir / "victim", work); }},
      {"a file with a second name",
       [&] {
         WriteFile(work, "w");
         fs::create_hard_link(work, dir / "work/second");
       }},
      {"a folder", [&] { fs::create_directory(work); }},
      {"nothing", [] {}},
      {"another user's file",
       [&] {
         WriteFile(work, "w");
         ASSERT_EQ(::chown(work.c_str(), 1234, 1234), 0);
       },
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.asRootOnly && ::geteuid() != 0) continue;
    fs::remove_all(dir / "work");
    fs::create_directories(dir / "work");
    c.make();
    const std::vector<std::string> before = AllNames(dir / "work");
    {
      ReplacementFile file;
      std::string error;
      EXPECT_FALSE(file.Adopt(target, work, &error));
      EXPECT_NE(error.find(work), std::string::npos) << error;
      EXPECT_FALSE(file.IsOpen());
    }
    EXPECT_EQ(AllNames(dir / "work"), before);
    EXPECT_EQ(ReadFile(target), "the owner's new version");
    EXPECT_EQ(ReadFile(dir / "victim"), "secret");
  }
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

TEST(Replacement, ACommitOnAnotherThreadTakesTheFileModeMaskOfItsCreation) {
  // The thread that commits must not read the process's mask: another thread may hold a private
  // scope (mask 077) just then, and reading it means setting it for a moment.
  TempDir dir;
  WriteFile(dir / "old.pdf", "old");
  ::chmod((dir / "old.pdf").c_str(), 0640);
  FileIdentity read;
  ASSERT_TRUE(CheckReplaceable(dir / "old.pdf", &read));
  const mode_t mask = ::umask(022);
  ReplacementFile fresh, over;
  ASSERT_TRUE(fresh.Create(dir / "new.pdf"));
  ASSERT_TRUE(fresh.Write("n"));
  ASSERT_TRUE(over.Create(dir / "old.pdf"));
  ASSERT_TRUE(over.Write("o"));
  bool freshDone = false, overDone = false;
  {
    PrivateFileScope privateFiles;
    std::thread committer([&] {
      freshDone = fresh.Commit();
      overDone = over.Commit(&read);
    });
    committer.join();
    EXPECT_EQ(::umask(077), 077u);
  }
  ::umask(mask);
  EXPECT_TRUE(freshDone);
  EXPECT_TRUE(overDone);
  EXPECT_EQ(Mode(dir / "new.pdf"), 0644u);
  EXPECT_EQ(Mode(dir / "old.pdf"), 0640u);
  EXPECT_EQ(ReadFile(dir / "old.pdf"), "o");
  EXPECT_EQ(AllNames(dir.Path()), (std::vector<std::string>{"new.pdf", "old.pdf"}));
}

// The listing entry of name in folder.
FolderEntry Listed(const FolderHandle& folder, const std::string& name) {
  for (const FolderEntry& e : ListFolder(folder))
    if (e.name == name) return e;
  ADD_FAILURE() << name << " is not listed";
  return {};
}

// An opened folder that cannot be listed (here: no descriptor left) says so instead of passing
// for an empty folder; once a descriptor is free it lists its entries.
TEST(Descriptors, AFolderThatCannotBeListedSaysWhy) {
  TempDir dir;
  WriteFile(dir / "a.pdf", "a");
  std::string error;
  const std::shared_ptr<FolderHandle> folder = OpenJobFolder(dir.Path(), &error);
  ASSERT_TRUE(folder) << error;
  struct rlimit kept {};
  ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &kept), 0);
  struct rlimit low = kept;
  low.rlim_cur = 64;
  ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
  std::vector<int> taken;
  for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
    taken.push_back(fd);
  error.clear();
  const std::vector<FolderEntry> none = ListFolder(*folder, &error);
  const std::string why = error;
  ::close(taken.back());
  taken.pop_back();
  const std::vector<FolderEntry> one = ListFolder(*folder, &error);
  for (int fd : taken)
    ::close(fd);
  ::setrlimit(RLIMIT_NOFILE, &kept);
  EXPECT_TRUE(none.empty());
  EXPECT_NE(why.find("cannot list the folder"), std::string::npos) << why;
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0].name, "a.pdf");
  EXPECT_EQ(error, "");
}

TEST(Descriptors, AJobFolderIsOpenedWithoutALinkAsItsLastPartAndItsEntriesFromIt) {
  TempDir dir;
  fs::create_directories(dir / "a/b");
  fs::create_directories(dir / "a/c");
  fs::create_directory_symlink(dir / "a/b", dir / "a/link");
  const std::string missing = dir / "a/none";
  struct stat b {};
  ASSERT_EQ(::stat((dir / "a/b").c_str(), &b), 0);
  // Spellings of the one folder.
  for (const std::string& path : {dir / "a/b", dir / "a/b/", dir / "a/./b", dir / "a/c/../b/."}) {
    SCOPED_TRACE(path);
    std::string error;
    std::shared_ptr<FolderHandle> folder = OpenJobFolder(path, &error);
    ASSERT_TRUE(folder) << error;
    EXPECT_EQ(folder->Device(), b.st_dev);
    EXPECT_EQ(folder->Inode(), b.st_ino);
    EXPECT_EQ(folder->Path(), rtl::IncludeTrailingPathDelimiter(path));
  }
  for (const std::string& path : {dir / "a/link", dir / "a/link/", dir / "a/link/."}) {
    SCOPED_TRACE(path);
    std::string error;
    EXPECT_FALSE(OpenJobFolder(path, &error));
    EXPECT_EQ(error, "the folder is a symbolic link");
  }
  EXPECT_FALSE(OpenJobFolder(missing));
  EXPECT_EQ(errno, ENOENT);

  // A sub-folder is opened from its parent's descriptor and must be the one listed.
  std::shared_ptr<FolderHandle> a = OpenJobFolder(dir / "a");
  ASSERT_TRUE(a);
  const FolderEntry listed = Listed(*a, "b");
  ASSERT_TRUE(listed.isFolder);
  fs::rename(dir / "a", dir / "moved");  // the path leads nowhere now; the descriptor still does
  std::string error;
  std::shared_ptr<FolderHandle> sub = OpenSubFolder(a, listed, &error);
  ASSERT_TRUE(sub) << error;
  EXPECT_EQ(sub->Inode(), b.st_ino);
  EXPECT_EQ(sub->Path(), dir / "a/b/");
  FolderWalkGuard guard;
  EXPECT_TRUE(guard.Enter(*sub));
  EXPECT_FALSE(guard.Enter(*OpenJobFolder(dir / "moved/./b")));
  fs::rename(dir / "moved/b", dir / "moved/b.old");
  fs::create_directory_symlink(dir / "moved/b.old", dir / "moved/b");
  EXPECT_FALSE(OpenSubFolder(a, listed, &error));
  EXPECT_EQ(error, "the folder was replaced by a symbolic link");
  fs::remove(dir / "moved/b");
  fs::create_directory(dir / "moved/b");
  EXPECT_FALSE(OpenSubFolder(a, listed, &error));
  EXPECT_EQ(error, "the folder was replaced after it was listed");
}

TEST(Descriptors, AListedFileIsOpenedOnlyAsTheRegularFileThatWasListed) {
  TempDir dir;
  WriteFile(dir / "victim", "secret");
  ::chmod((dir / "victim").c_str(), 0600);
  struct Case {
    const char* what;
    std::function<void(const std::string&)> swap;  // done to the name after the listing
    const char* reason;
  } cases[] = {
      {"nothing", [](const std::string&) {}, nullptr},
      {"a link to another file",
       [&](const std::string& t) {
         fs::remove(t);
         fs::create_symlink(dir / "victim", t);
       },
       "the file is a symbolic link"},
      {"a FIFO",
       [](const std::string& t) {
         fs::remove(t);
         ASSERT_EQ(::mkfifo(t.c_str(), 0666), 0);
       },
       "the file is not a regular file"},
      {"another file", [](const std::string& t) { fs::rename(t + ".other", t); },
       "the file was replaced after it was listed"},
      {"a second name", [](const std::string& t) { fs::create_hard_link(t, t + ".second"); },
       "the file has more than one name (hard links)"},
      {"a folder",
       [](const std::string& t) {
         fs::remove(t);
         fs::create_directory(t);
       },
       "the file is not a regular file"},
  };
  ::alarm(60);  // a FIFO opened for reading would wait for a writer
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir folder;
    WriteFile(folder / "t.pdf", "mine");
    WriteFile(folder / "t.pdf.other", "other");
    std::shared_ptr<FolderHandle> handle = OpenJobFolder(folder.Path());
    ASSERT_TRUE(handle);
    const FolderEntry entry = Listed(*handle, "t.pdf");
    c.swap(folder / "t.pdf");
    std::string error;
    std::unique_ptr<OpenedFile> file = OpenedFile::Open(handle, entry, &error);
    if (!c.reason) {
      ASSERT_TRUE(file) << error;
      EXPECT_EQ(file->Path(), folder / "t.pdf");
      EXPECT_EQ(file->Identity().inode, entry.inode);
      EXPECT_EQ(file->Refusal(), "");
      continue;
    }
    EXPECT_FALSE(file);
    EXPECT_EQ(error, c.reason);
  }
  ::alarm(0);
  EXPECT_EQ(ReadFile(dir / "victim"), "secret");
  EXPECT_EQ(OpenedFile::OpenPath(dir / "none.pdf"), nullptr);
  EXPECT_EQ(errno, ENOENT);
}

TEST(Descriptors, WhatWasOpenedIsReadCopiedAndReplacedWhateverItsNameLeadsToLater) {
  TempDir dir;
  WriteFile(dir / "t.pdf", "what was opened");
  ::chmod((dir / "t.pdf").c_str(), 0640);
  WriteFile(dir / "victim", "secret");
  std::string error;
  std::unique_ptr<OpenedFile> file = OpenedFile::OpenPath(dir / "t.pdf", &error);
  ASSERT_TRUE(file) << error;
  // For a moment the name leads to another file: the copy is made from the descriptor.
  fs::rename(dir / "t.pdf", dir / "kept");
  fs::create_symlink(dir / "victim", dir / "t.pdf");
  TempDir work;
  std::string copyPath;
  {
    PrivateCopy copy;
    ASSERT_TRUE(copy.Make(*file, work.Path(), &error)) << error;
    copyPath = copy.Path();
    EXPECT_EQ(copyPath.rfind(work / ".~in", 0), 0u) << copyPath;
    EXPECT_EQ(ReadFile(copyPath), "what was opened");
    EXPECT_EQ(Mode(copyPath), 0600u);
  }
  EXPECT_FALSE(fs::exists(copyPath));
  // The commit finds the link, not the file that was opened.
  {
    ReplacementFile out;
    ASSERT_TRUE(out.CreateFor(*file, &error, true)) << error;
    ASSERT_TRUE(out.Write("new"));
    EXPECT_FALSE(out.Commit(&file->Identity(), &error));
    EXPECT_EQ(error, "the file is a symbolic link");
  }
  EXPECT_EQ(ReadFile(dir / "victim"), "secret");
  // Put back: replaced in the folder it was opened in, with its mode.
  fs::remove(dir / "t.pdf");
  fs::rename(dir / "kept", dir / "t.pdf");
  ReplacementFile out;
  ASSERT_TRUE(out.CreateFor(*file, &error, true)) << error;
  ASSERT_TRUE(out.Write("new"));
  ASSERT_TRUE(out.Commit(&file->Identity(), &error)) << error;
  EXPECT_EQ(ReadFile(dir / "t.pdf"), "new");
  EXPECT_EQ(Mode(dir / "t.pdf"), 0640u);
  EXPECT_EQ(AllNames(dir.Path()), (std::vector<std::string>{"t.pdf", "victim"}));
}

TEST(Descriptors, ANewFileMadeUnnamedHasNoNameUntilItsCommit) {
  TempDir dir;
  const int probe = ::open(dir.Path().c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (probe < 0) GTEST_SKIP() << "the file system of " << dir.Path() << " refuses O_TMPFILE";
  ::close(probe);
  WriteFile(dir / "t.pdf", "old");
  for (const bool allowed : {true, false}) {
    SCOPED_TRACE(allowed ? "unnamed" : "named");
    SetUnnamedFilesForTests(allowed);
    std::unique_ptr<OpenedFile> file = OpenedFile::OpenPath(dir / "t.pdf");
    ASSERT_TRUE(file);
    {
      ReplacementFile dropped;
      ASSERT_TRUE(dropped.CreateFor(*file, nullptr, true));
      EXPECT_EQ(dropped.Unnamed(), allowed);
      ASSERT_TRUE(dropped.Write("never"));
      EXPECT_EQ(AllNames(dir.Path()).size(), allowed ? 1u : 2u);
    }
    EXPECT_EQ(AllNames(dir.Path()), std::vector<std::string>{"t.pdf"});
    ReplacementFile out;
    ASSERT_TRUE(out.CreateFor(*file, nullptr, true));
    ASSERT_TRUE(out.Write(allowed ? "unnamed" : "named"));
    EXPECT_EQ(AllNames(dir.Path()).size(), allowed ? 1u : 2u);
    std::string error;
    ASSERT_TRUE(out.Commit(&file->Identity(), &error)) << error;
    EXPECT_EQ(ReadFile(dir / "t.pdf"), allowed ? "unnamed" : "named");
    EXPECT_EQ(AllNames(dir.Path()), std::vector<std::string>{"t.pdf"});
  }
  SetUnnamedFilesForTests(true);
}

TEST(FileHelpers, TheProgramsOwnFoldersAndFilesArePrivateWhateverTheMask) {
  for (const mode_t mask : {mode_t{0}, mode_t{022}}) {
    SCOPED_TRACE(mask);
    TempDir dir;
    const mode_t old = ::umask(mask);
    // New folders, each missing parent too.
    EXPECT_TRUE(ForcePrivateDirectories(dir / "prog/log"));
    // A folder of the user's that others may read and write, with what it holds.
    fs::create_directory(dir / "open");
    ::chmod((dir / "open").c_str(), 0777);
    WriteFile(dir / "open/f", "kept");
    EXPECT_TRUE(ForcePrivateDirectories(dir / "open/"));
    // A link to a folder: neither it nor its folder is changed.
    fs::create_directory(dir / "shared");
    ::chmod((dir / "shared").c_str(), 0755);
    fs::create_directory_symlink(dir / "shared", dir / "link");
    EXPECT_TRUE(ForcePrivateDirectories(dir / "link"));
    // Ordinary folders keep what the mask leaves.
    EXPECT_TRUE(ForceDirectories(dir / "plain"));

    // Files: a new one, and one that others could read before.
    EXPECT_TRUE(WritePrivateFile(dir / "new.ini", "n"));
    WriteFile(dir / "old.ini", "o");
    ::chmod((dir / "old.ini").c_str(), 0666);
    EXPECT_TRUE(WritePrivateFile(dir / "old.ini", "replaced"));
    EXPECT_TRUE(WriteFileAtomic(dir / "atomic.txt", "a"));
    ::umask(old);

    EXPECT_EQ(Mode(dir / "prog"), 0700u);
    EXPECT_EQ(Mode(dir / "prog/log"), 0700u);
    EXPECT_EQ(Mode(dir / "open"), 0700u);
    EXPECT_EQ(ReadFile(dir / "open/f"), "kept");
    EXPECT_EQ(Mode(dir / "shared"), 0755u);
    EXPECT_EQ(Mode(dir / "plain"), 0777u & ~mask);
    EXPECT_EQ(Mode(dir / "new.ini"), 0600u);
    EXPECT_EQ(Mode(dir / "old.ini"), 0600u);
    EXPECT_EQ(ReadFile(dir / "old.ini"), "replaced");
    EXPECT_EQ(Mode(dir / "atomic.txt"), 0666u & ~mask);
  }
  // A file where a folder must be is no folder.
  TempDir dir;
  WriteFile(dir / "f", "x");
  EXPECT_FALSE(ForcePrivateDirectories(dir / "f"));
  EXPECT_FALSE(ForcePrivateDirectories(dir / "f/g"));
}

TEST(Replacement, AnOwnFileInAnOpenedFolderIsMadeThereAndNothingElseIsReplaced) {
  TempDir dir;
  fs::create_directory(dir / "a");
  std::shared_ptr<FolderHandle> opened = OpenFolderPath(dir / "a");
  ASSERT_TRUE(opened);
  const FolderHandle& folder = *opened;
  EXPECT_EQ(folder.Path(), dir / "a/");
  // The folder's path names another folder by the time the file is written.
  fs::rename(dir / "a", dir / "moved");
  fs::create_directory(dir / "elsewhere");
  fs::create_directory_symlink(dir / "elsewhere", dir / "a");
  const mode_t mask = ::umask(0);
  EXPECT_TRUE(WriteOwnFileIn(folder, "r.csv", "first"));
  EXPECT_TRUE(WriteOwnFileIn(folder, "r.csv", "second"));  // its own, replaced
  ::umask(mask);
  EXPECT_EQ(ReadFile(dir / "moved/r.csv"), "second");
  EXPECT_EQ(Mode(dir / "moved/r.csv"), 0600u);
  EXPECT_TRUE(fs::is_empty(dir / "elsewhere"));
  // It is read back from there too; a FIFO there is refused without waiting for a writer.
  std::string bytes;
  EXPECT_TRUE(ReadFileBytesIn(folder, "r.csv", bytes));
  EXPECT_EQ(bytes, "second");
  ASSERT_EQ(::mkfifo((dir / "moved/fifo").c_str(), 0600), 0);
  EXPECT_FALSE(ReadFileBytesIn(folder, "fifo", bytes));
  EXPECT_FALSE(ReadFileBytesIn(folder, "none", bytes));
  fs::remove(dir / "moved/fifo");

  // What may not be replaced stays, and so does what it names.
  WriteFile(dir / "target", "target");
  fs::create_symlink(dir / "target", dir / "moved/link.csv");
  fs::create_hard_link(dir / "target", dir / "moved/hard.csv");
  fs::create_directory(dir / "moved/folder.csv");
  const struct {
    const char* name;
    const char* why;
  } refused[] = {{"link.csv", "symbolic link"},
                 {"hard.csv", "hard links"},
                 {"folder.csv", "regular file"},
                 {"", "Invalid"},
                 {"x/y.csv", "Invalid"}};
  for (const auto& r : refused) {
    std::string error;
    EXPECT_FALSE(WriteOwnFileIn(folder, r.name, "new", &error)) << r.name;
    EXPECT_NE(error.find(r.why), std::string::npos) << r.name << ": " << error;
  }
  if (::geteuid() == 0) {
    WriteFile(dir / "moved/other.csv", "other's");
    ASSERT_EQ(::chown((dir / "moved/other.csv").c_str(), 54321, 54321), 0);
    std::string error;
    EXPECT_FALSE(WriteOwnFileIn(folder, "other.csv", "new", &error));
    EXPECT_NE(error.find("another user's"), std::string::npos) << error;
    EXPECT_EQ(ReadFile(dir / "moved/other.csv"), "other's");
  }
  EXPECT_EQ(ReadFile(dir / "target"), "target");
  EXPECT_TRUE(fs::is_symlink(dir / "moved/link.csv"));
  for (const std::string& name : AllNames(dir / "moved"))
    EXPECT_NE(name[0], '.') << name;  // no temporary file left
  EXPECT_FALSE(OpenFolderPath(dir / "missing"));
  FolderHandle none(-1, dir / "missing/");
  EXPECT_FALSE(WriteOwnFileIn(none, "r.csv", "x"));
}
