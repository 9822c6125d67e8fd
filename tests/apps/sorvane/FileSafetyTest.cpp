// Rewriting files in folders that other users may write: symbolic links, hard links and read-only
// files are left as they are, a file that changes during the run keeps its new version, temporary
// files are private to their owner while they exist, result files keep their mode and owner, and
// one rewrite makes one temporary file (the tool's output is moved into place, not copied).
// Both engines run for real (the built tool, the PDF library); pdfinfo judges the results.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "apps/sorvane/ToolEngine.h"
#include "pdf/document/zoPDFDoc.h"
#include "platform/IniFiles.h"
#include "platform/Process.h"
#include "tests/apps/sorvane/SorvaneTestSupport.h"

using namespace sv::test;
using V = std::vector<std::string>;
namespace fs = std::filesystem;

namespace {

struct stat Stat(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st;
}

unsigned Mode(const std::string& path) {
  return Stat(path).st_mode & 07777;
}

// Notes the widest mode that each file made in the watched folders had, looked at as soon as the
// file appears, and every name made, moved away or moved in there, in order ("made a/b.tmp",
// "moved from a/b.tmp", "moved to a/c.pdf").
class CreationWatch {
 public:
  explicit CreationWatch(const V& folders) : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    for (const std::string& f : folders)
      folders_[::inotify_add_watch(fd_, f.c_str(), IN_CREATE | IN_MOVED_FROM | IN_MOVED_TO)] = f;
    thread_ = std::thread([this] { Loop(); });
  }
  ~CreationWatch() {
    Stop();
    ::close(fd_);
  }
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  std::map<std::string, unsigned> Modes() {
    std::lock_guard<std::mutex> lock(mutex_);
    return modes_;
  }
  V Events() {
    std::lock_guard<std::mutex> lock(mutex_);
    return events_;
  }

 private:
  void Loop() {
    alignas(inotify_event) char buf[8192];
    for (bool last = false; !last;) {
      last = stop_;
      pollfd p{fd_, POLLIN, 0};
      ::poll(&p, 1, last ? 0 : 5);
      for (;;) {
        ssize_t n = ::read(fd_, buf, sizeof buf);
        if (n <= 0) break;
        for (char* at = buf; at < buf + n;) {
          auto* e = reinterpret_cast<inotify_event*>(at);
          at += sizeof(inotify_event) + e->len;
          if (e->len == 0 || (e->mask & IN_ISDIR)) continue;
          const std::string path = folders_[e->wd] + "/" + e->name;
          {
            std::lock_guard<std::mutex> lock(mutex_);
            events_.push_back((e->mask & IN_CREATE)       ? "made " + path
                              : (e->mask & IN_MOVED_FROM) ? "moved from " + path
                                                          : "moved to " + path);
          }
          if (e->mask & IN_MOVED_FROM) continue;
          struct stat st {};
          if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
          std::lock_guard<std::mutex> lock(mutex_);
          modes_[path] |= st.st_mode & 07777;
        }
      }
    }
  }
  int fd_;
  std::map<int, std::string> folders_;
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::map<std::string, unsigned> modes_;
  V events_;
  std::thread thread_;
};

class FileSafety : public SorvaneRunTest {
 protected:
  static std::string Example(const char* name) { return SourceDir() + "examples/" + name; }
  static std::string Pdf(const std::string& path, const char* example = "plain.pdf") {
    fs::create_directories(fs::path(path).parent_path());
    CopyFile(Example(example), path);
    return path;
  }
  // Whether pdfinfo finds the file protected by the user password "user".
  static bool Locked(const std::string& path) {
    return RunCommand({"pdfinfo", path}).exitCode != 0 &&
           RunCommand({"pdfinfo", "-upw", "user", path}).exitCode == 0;
  }
  static void Passwords(TJobSettings& j) {
    j.UserPassWord = "user";
    j.MasterPassWord = "owner";
  }
};

}  // namespace

TEST_F(FileSafety, LinksHardLinksAndReadOnlyFilesAreNgAndLeftAsTheyAre) {
  // Files outside the jobs that links and a second name lead to.
  const std::string outside = Prog() + "outside";
  const std::string secret = Pdf(outside + "/secret.pdf");
  ::chmod(secret.c_str(), 0600);
  const std::string inner = Pdf(outside + "/folder/inner.pdf");
  const std::string plain = ReadFile(Example("plain.pdf"));

  V result, check;
  std::map<std::string, V> byJob;
  for (const char* job : {"lib", "tool"}) {
    const std::string dir = Folder(job);
    Job(dir, [&](TJobSettings& j) {
      Passwords(j);
      j.Ver = std::string(job) == "lib" ? 1 : 4;
    });
    fs::create_symlink(secret, dir + "/a_link.pdf");
    const std::string hard = Pdf(dir + "/b_hard.pdf");
    fs::create_hard_link(hard, outside + "/" + job + "-second-name");
    const std::string readOnly = Pdf(dir + "/c_readonly.pdf");
    ::chmod(readOnly.c_str(), 0444);
    const std::string ok = Pdf(dir + "/d_ok.pdf");
    fs::create_symlink(outside + "/nothing", dir + "/e_dangling.pdf");
    fs::create_directory_symlink(outside + "/folder", dir + "/linked");
    if (::geteuid() == 0) {
      // Run as root over another user's file: owner and mode stay the file's.
      ASSERT_EQ(::chown(ok.c_str(), 1234, 4321), 0);
      ::chmod(ok.c_str(), 0640);
    }
    const std::string version = std::string(job) == "lib" ? "1.4" : "1.7";
    for (const char* name :
         {"a_link.pdf", "b_hard.pdf", "c_readonly.pdf", "d_ok.pdf", "e_dangling.pdf"}) {
      const std::string path = dir + "/" + name;
      result.push_back(path + (std::string(name) == "d_ok.pdf" ? ",OK" : ",NG"));
      check.push_back(path + ",user,owner," + version);
    }
  }
  auto form = Form();

  EXPECT_EQ(form->RunAllJobs(), TRunOutcome::kSomeNg);
  EXPECT_EQ(ReadFile(ResultLogPath()), Lines(result));
  EXPECT_EQ(ReadFile(CheckLogPath()), Lines(check));
  // Nothing outside the jobs changed, through a link or through a second name.
  EXPECT_TRUE(ReadFile(secret) == plain) << secret << " changed";
  EXPECT_EQ(Mode(secret), 0600u);
  EXPECT_TRUE(ReadFile(inner) == plain) << inner << " changed";
  for (const char* job : {"lib", "tool"}) {
    SCOPED_TRACE(job);
    const std::string dir = Prog() + job;
    EXPECT_TRUE(fs::is_symlink(dir + "/a_link.pdf"));
    EXPECT_TRUE(fs::is_symlink(dir + "/e_dangling.pdf"));
    EXPECT_TRUE(ReadFile(dir + "/b_hard.pdf") == plain) << dir + "/b_hard.pdf"
                                                        << " changed";
    EXPECT_EQ(Stat(dir + "/b_hard.pdf").st_nlink, 2u);
    EXPECT_EQ(Stat(dir + "/b_hard.pdf").st_ino, Stat(outside + "/" + job + "-second-name").st_ino);
    EXPECT_TRUE(ReadFile(dir + "/c_readonly.pdf") == plain) << dir + "/c_readonly.pdf"
                                                            << " changed";
    EXPECT_EQ(Mode(dir + "/c_readonly.pdf"), 0444u);
    EXPECT_TRUE(Locked(dir + "/d_ok.pdf"));
    if (::geteuid() == 0) {
      const struct stat st = Stat(dir + "/d_ok.pdf");
      EXPECT_EQ(st.st_uid, 1234u);
      EXPECT_EQ(st.st_gid, 4321u);
      EXPECT_EQ(st.st_mode & 07777, 0640u);
    }
  }
  // No temporary file is left beside the inputs.
  EXPECT_EQ(std::distance(fs::directory_iterator(Prog() + "lib"), fs::directory_iterator()), 6);
}

TEST_F(FileSafety, AFileChangedDuringTheRunIsNgAndKeepsTheNewVersion) {
  const std::string lib = Folder("lib"), tool = Folder("tool");
  const std::string a = Pdf(lib + "/a.pdf"), b = Pdf(tool + "/b.pdf");
  const std::string c = Pdf(tool + "/c.pdf");  // not changed: rewritten as usual
  Job(lib, [](TJobSettings& j) {
    Passwords(j);
    j.Ver = 2;
  });
  Job(tool, [](TJobSettings& j) {
    Passwords(j);
    j.Ver = 3;
  });
  const std::string newVersion = ReadFile(Example("outline.pdf"));
  auto form = Form();
  // The owner saves a new version while the library reads the file (the run's documents take
  // PDFDoc's events; they fire on the threads that rewrite)...
  std::mutex hookMutex;
  bool libChanged = false;
  form->PDFDoc->OnStatusMessage = [&](TzoCustomPDFDocument* doc, const std::string&) {
    std::lock_guard<std::mutex> lock(hookMutex);
    if (libChanged || doc->WorkFileName() != a) return;
    libChanged = true;
    WriteFile(a, newVersion);
  };
  // ...and while the tool rewrites the other one (the tool in bin/ runs the real one on its copy,
  // then the owner's save comes, once).
  fs::remove(ToolPath());
  WriteFile(ToolPath(),
            "#!/bin/sh\nin=\nprev=\n"
            "for a in \"$@\"; do [ \"$prev\" = -d ] && in=$a; prev=$a; done\n'" +
                ProgramDir() +
                "bin/AHPDFToolCmd26' \"$@\"\nrc=$?\n"
                "[ -e '" +
                Prog() + "saved' ] || { cat '" + Example("outline.pdf") + "' > '" + b +
                "'; touch '" + Prog() + "saved'; }\nexit $rc\n");
  ::chmod(ToolPath().c_str(), 0755);

  EXPECT_EQ(form->RunAllJobs(), TRunOutcome::kSomeNg);
  ASSERT_TRUE(libChanged);
  EXPECT_EQ(ReadFile(ResultLogPath()), Lines({a + ",NG", b + ",NG", c + ",OK"}));
  EXPECT_TRUE(ReadFile(a) == newVersion) << a << " lost the new version";
  EXPECT_TRUE(ReadFile(b) == newVersion) << b << " lost the new version";
  EXPECT_TRUE(Locked(c));
  EXPECT_EQ(std::distance(fs::directory_iterator(lib), fs::directory_iterator()), 1);
  EXPECT_EQ(std::distance(fs::directory_iterator(tool), fs::directory_iterator()), 2);
}

TEST_F(FileSafety, TemporaryFilesAndFilesWithPasswordsArePrivate) {
  // Private files rewritten by both engines, protected and, with EN off, plain.
  const std::string lib = Folder("lib"), plain = Folder("plain"), tool = Folder("tool");
  V files;
  for (const std::string& dir : {lib, plain, tool})
    for (const char* name : {"1.pdf", "2.pdf"}) {
      files.push_back(Pdf(dir + "/" + name, "info.pdf"));
      ::chmod(files.back().c_str(), 0600);
    }
  rtl::TIniFile(AppIniPath()).WriteInteger("App", "Debug", 1);
  auto form = Form();
  for (const std::string& dir : {lib, plain, tool})
    form->DeliverDrop({{dir}, {0, 0}});
  // The job files are made from default.ini, which holds the default passwords.
  for (const std::string& path : {DefaultIniPath(), JobIniPath(lib), JobIniPath(plain)})
    EXPECT_EQ(Mode(path), 0600u) << path;
  Job(lib, [](TJobSettings& j) {
    Passwords(j);
    j.Ver = 0;
  });
  Job(plain, [](TJobSettings& j) {
    j.Ver = 1;
    j.EN = 0;
  });
  Job(tool, [](TJobSettings& j) {
    Passwords(j);
    j.Ver = 4;
  });
  EXPECT_EQ(Mode(JobIniPath(tool)), 0600u);

  CreationWatch watch({lib, plain, tool, TempFolder()});
  EXPECT_EQ(form->RunAllJobs(), TRunOutcome::kAllOk);
  watch.Stop();
  const auto made = watch.Modes();
  EXPECT_FALSE(made.empty());
  for (const auto& [path, mode] : made)
    EXPECT_EQ(mode & 077, 0u) << path << " was made with mode " << std::oct << mode;
  for (const std::string& f : files)
    EXPECT_EQ(Mode(f), 0600u) << f;
  EXPECT_TRUE(Locked(files[0]));
  EXPECT_TRUE(Locked(files[5]));
  EXPECT_EQ(Mode(CheckLogPath()), 0600u);
  EXPECT_EQ(Mode(DebugLogPath()), 0600u);
  // The tool's work file went with the file it was made for; the temporary folder is empty.
  EXPECT_FALSE(FileExists(WorkFilePath()));
  EXPECT_EQ(std::distance(fs::directory_iterator(TempFolder()), fs::directory_iterator()), 0);
}

TEST_F(FileSafety, ARewriteMakesOneTemporaryFileRenamedOnceAndTheToolsOutputIsMovedNotCopied) {
  const std::string lib = Folder("lib"), tool = Folder("tool");
  const V libFiles = {Pdf(lib + "/a.pdf"), Pdf(lib + "/b.pdf", "outline.pdf")};
  const std::string c = Pdf(tool + "/c.pdf");
  Job(lib, [](TJobSettings& j) {
    Passwords(j);
    j.Ver = 1;
  });
  Job(tool, [](TJobSettings& j) {
    Passwords(j);
    j.Ver = 4;
  });
  auto form = Form();
  const std::string temp = rtl::ExcludeTrailingPathDelimiter(TempFolder());
  CreationWatch watch({lib, tool, temp});
  EXPECT_EQ(form->RunAllJobs(), TRunOutcome::kAllOk);
  watch.Stop();
  // The events of each folder, with the names within it.
  std::map<std::string, V> in;
  for (const std::string& e : watch.Events()) {
    for (const std::string& folder : {lib, tool, temp}) {
      const size_t at = e.find(" " + folder + "/");
      if (at != std::string::npos)
        in[folder].push_back(e.substr(0, at + 1) + e.substr(at + folder.size() + 2));
    }
  }
  // Each library rewrite: one private temporary file beside the input, renamed over it (the
  // files are rewritten at once, so the two may come in either order).
  const V& l = in[lib];
  ASSERT_EQ(l.size(), 6u) << Lines(l);
  V made;
  for (const std::string& e : l)
    if (e.rfind("made ", 0) == 0) made.push_back(e.substr(5));
  ASSERT_EQ(made.size(), 2u) << Lines(l);
  EXPECT_NE(made[0], made[1]);
  std::set<std::string> replaced;
  for (size_t i = 0; i < 2; ++i) {
    ASSERT_EQ(made[i].rfind(".~sv", 0), 0u) << made[i];
    const auto from = std::find(l.begin(), l.end(), "moved from " + made[i]);
    ASSERT_NE(from, l.end()) << Lines(l);
    EXPECT_LT(std::find(l.begin(), l.end(), "made " + made[i]), from) << Lines(l);
    ASSERT_NE(from + 1, l.end()) << Lines(l);
    ASSERT_EQ((from + 1)->rfind("moved to ", 0), 0u) << Lines(l);
    replaced.insert((from + 1)->substr(9));
  }
  EXPECT_EQ(replaced, (std::set<std::string>{"a.pdf", "b.pdf"})) << Lines(l);
  for (const std::string& f : libFiles)
    EXPECT_TRUE(Locked(f)) << f;
  // The tool's work file is moved into the input's place: nothing is made beside the input.
  EXPECT_EQ(in[tool], V{"moved to c.pdf"});
  EXPECT_NE(std::find(in[temp].begin(), in[temp].end(), "moved from $output.pdf"), in[temp].end())
      << Lines(in[temp]);
  EXPECT_TRUE(Locked(c));
  // The library makes nothing in the program's temporary folder.
  for (const std::string& e : in[temp])
    EXPECT_EQ(e.find(".~sv"), std::string::npos) << e;
}

TEST_F(FileSafety, ACommitThatFailsIsNgForItsOwnFileAndTheNextFilesFollow) {
  // While the library reads a file, its owner changes it in one way or another; the commit,
  // made while the next file is read, finds it and leaves the file as the owner left it.
  const std::string lib = Folder("lib"), other = Folder("other");
  V files;
  for (const char* name : {"1.pdf", "2.pdf", "3.pdf", "4.pdf", "5.pdf", "6.pdf", "7.pdf"})
    files.push_back(Pdf(lib + "/" + name));
  const std::string plain = ReadFile(Example("plain.pdf"));
  const std::string newVersion = ReadFile(Example("outline.pdf"));
  const std::string replacement = Pdf(other + "/replacement.pdf");
  const ino_t replacementInode = Stat(replacement).st_ino;
  struct Change {
    std::string file;
    std::function<void()> make;
    std::string reason;
  };
  const std::vector<Change> changes = {
      {files[1], [&] { WriteFile(files[1], newVersion); }, "the file changed after it was read"},
      {files[3], [&] { fs::rename(replacement, files[3]); }, "the file changed after it was read"},
      {files[4], [&] { ::chmod(files[4].c_str(), 0444); }, "the file is read-only"},
      {files[5], [&] { fs::create_hard_link(files[5], other + "/second-name.pdf"); },
       "the file has more than one name (hard links)"},
  };
  Job(lib, [](TJobSettings& j) {
    Passwords(j);
    j.Ver = 1;
  });
  rtl::TIniFile(AppIniPath()).WriteInteger("App", "Debug", 1);
  auto form = Form();
  std::mutex hookMutex;
  std::set<std::string> changed;
  form->PDFDoc->OnStatusMessage = [&](TzoCustomPDFDocument* doc, const std::string&) {
    std::lock_guard<std::mutex> lock(hookMutex);
    for (const Change& c : changes)
      if (doc->WorkFileName() == c.file && changed.insert(c.file).second) c.make();
  };

  EXPECT_EQ(form->RunAllJobs(), TRunOutcome::kSomeNg);
  EXPECT_EQ(changed.size(), changes.size());
  EXPECT_EQ(ReadFile(ResultLogPath()),
            Lines({files[0] + ",OK", files[1] + ",NG", files[2] + ",OK", files[3] + ",NG",
                   files[4] + ",NG", files[5] + ",NG", files[6] + ",OK"}));
  // Each failure is reported for its own file with its reason, in the walk's order.
  std::string expected;
  for (const Change& c : changes)
    expected +=
        "**** PDF Error Dump ****\r\ninput  =" + c.file + "\r\nerror  =" + c.reason + "\r\n";
  EXPECT_EQ(ReadFile(DebugLogPath()), expected);
  // The files as their owner left them; the others protected; no temporary file beside them.
  EXPECT_TRUE(ReadFile(files[1]) == newVersion);
  EXPECT_EQ(Stat(files[3]).st_ino, replacementInode);
  EXPECT_TRUE(ReadFile(files[3]) == plain);
  EXPECT_TRUE(ReadFile(files[4]) == plain);
  EXPECT_EQ(Mode(files[4]), 0444u);
  EXPECT_TRUE(ReadFile(files[5]) == plain);
  EXPECT_EQ(Stat(files[5]).st_nlink, 2u);
  for (size_t i : {0, 2, 6})
    EXPECT_TRUE(Locked(files[i])) << files[i];
  EXPECT_EQ(std::distance(fs::directory_iterator(lib), fs::directory_iterator()), 7);
}
