// Runs as root over job folders that another user owns: that user (a second user id, through
// setresuid in a child) swaps links, FIFOs and folders in at the worst moments, made certain by
// the hook before each listed entry is opened and by a tool that changes the folder while it
// runs. Nothing outside the jobs is reached: the root-only files keep their bytes and modes, and
// pdfinfo, pdftotext and qpdf judge the owner's files. And jobs that reach one file rewrite it
// once, with the first job's passwords.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <set>

#include "apps/sorvane/ToolEngine.h"
#include "pdf/document/zoPDFDoc.h"
#include "platform/FileSystem.h"
#include "platform/IniFiles.h"
#include "tests/apps/sorvane/SorvaneTestSupport.h"

using namespace sv::test;
using V = std::vector<std::string>;
namespace fs = std::filesystem;

namespace {

constexpr uid_t kOwner = 4711;

// Runs f in a child with the owner's user and group ids; true when f gave true. f may only make
// system calls: the parent has threads.
bool AsOwner(const std::function<bool()>& f) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    const bool ok = ::setgroups(0, nullptr) == 0 && ::setresgid(kOwner, kOwner, kOwner) == 0 &&
                    ::setresuid(kOwner, kOwner, kOwner) == 0 && f();
    ::_exit(ok ? 0 : 1);
  }
  int status = 0;
  return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
         WEXITSTATUS(status) == 0;
}

struct stat Stat(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st;
}

std::string Example(const char* name) {
  return SourceDir() + "examples/" + name;
}

// Sets the platform's hook before opening for as long as it lives.
struct BeforeOpen {
  explicit BeforeOpen(std::function<void(const std::string&)> hook) {
    platform::SetBeforeOpenHookForTests(std::move(hook));
  }
  ~BeforeOpen() { platform::SetBeforeOpenHookForTests(nullptr); }
};

class FolderOwner : public SorvaneRunTest {
 protected:
  void SetUp() override {
    SorvaneRunTest::SetUp();
    if (IsSkipped()) return;
    if (::geteuid() != 0) GTEST_SKIP() << "needs root: another user attacks root's run";
    // The owner may pass through the program folder to the folders it owns.
    ::chmod(Prog().c_str(), 0711);
    fs::create_directories(root_ + "sub");
    ::chmod(root_.c_str(), 0700);
    ::chmod((root_ + "sub").c_str(), 0700);
    CopyFile(Example("outline.pdf"), secret_);
    ::chmod(secret_.c_str(), 0600);
    secretBytes_ = ReadFile(secret_);
  }
  // A folder of the owner's.
  std::string OwnerFolder(const std::string& name) {
    const std::string path = Prog() + name;
    fs::create_directories(path);
    EXPECT_EQ(::chown(path.c_str(), kOwner, kOwner), 0);
    ::chmod(path.c_str(), 0755);
    return path + "/";
  }
  // A PDF file of the owner's.
  static std::string OwnerPdf(const std::string& path, const char* example = "plain.pdf") {
    CopyFile(Example(example), path);
    EXPECT_EQ(::chown(path.c_str(), kOwner, kOwner), 0);
    ::chmod(path.c_str(), 0644);
    return path;
  }
  void ExpectSecretIntact() {
    EXPECT_TRUE(ReadFile(secret_) == secretBytes_) << secret_ << " changed";
    const struct stat st = Stat(secret_);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(st.st_uid, 0u);
    EXPECT_EQ(Stat(root_ + "sub").st_mode & 07777, 0700u);
    EXPECT_EQ(std::distance(fs::directory_iterator(root_ + "sub"), fs::directory_iterator()), 1);
  }
  // Untouched: the example's bytes, and a file that opens without a password and passes qpdf.
  static void ExpectUntouched(const std::string& path, const char* example = "plain.pdf") {
    EXPECT_FALSE(fs::is_symlink(path)) << path;
    EXPECT_TRUE(ReadFile(path) == ReadFile(Example(example))) << path << " changed";
    EXPECT_EQ(RunCommand({"pdfinfo", path}).exitCode, 0) << path;
    EXPECT_EQ(RunCommand({"qpdf", "--check", path}).exitCode, 0) << path;
  }
  // Protected with the user password: refused without it, passes qpdf with it, and its text is
  // the example's.
  static void ExpectProtected(const std::string& path, const std::string& user,
                              const char* example = "plain.pdf") {
    EXPECT_NE(RunCommand({"pdfinfo", path}).exitCode, 0) << path;
    EXPECT_EQ(RunCommand({"pdfinfo", "-upw", user, path}).exitCode, 0) << path;
    EXPECT_EQ(RunCommand({"qpdf", "--check", "--password=" + user, path}).exitCode, 0) << path;
    EXPECT_EQ(RunCommand({"pdftotext", "-upw", user, path, "-"}).out,
              RunCommand({"pdftotext", Example(example), "-"}).out)
        << path;
  }
  static void Passwords(TJobSettings& j, int ver) {
    j.UserPassWord = "user";
    j.MasterPassWord = "owner";
    j.Ver = ver;
    j.SubDir = 1;
  }
  std::string DebugLog() { return FileExists(DebugLogPath()) ? ReadFile(DebugLogPath()) : ""; }

  const std::string root_ = Prog() + "root/";  // root's own, 0700
  const std::string secret_ = root_ + "sub/secret.pdf";
  std::string secretBytes_;
};

}  // namespace

TEST_F(FolderOwner, AJobFolderThatIsALinkOrLiesBehindAnotherUsersLinkIsNgAndNothingIsTouched) {
  const std::string links = OwnerFolder("links");  // the owner's links
  const std::string to = root_ + "sub";
  ASSERT_TRUE(AsOwner([&] {
    return ::symlink(to.c_str(), (links + "job").c_str()) == 0 &&
           ::symlink(to.c_str(), (links + "dotted").c_str()) == 0 &&
           ::symlink(root_.c_str(), (links + "way").c_str()) == 0;
  }));
  // Links of root's: the last part of a job is never one; on the way, one that no other user can
  // have made is followed.
  fs::create_directories(Prog() + "rootlinks");
  fs::create_directory_symlink(root_ + "sub", Prog() + "rootlinks/job");
  fs::create_directory_symlink(Prog(), Prog() + "rootlinks/way");
  for (const char* name : {"open", "sticky"}) {
    fs::create_directories(Prog() + name);
    fs::create_directory_symlink(Prog(), Prog() + name + "/way");
  }
  ::chmod((Prog() + "open").c_str(), 0777);
  ::chmod((Prog() + "sticky").c_str(), 01777);
  const std::string good1 = OwnerFolder("good1"), good2 = OwnerFolder("good2");
  const std::string a = OwnerPdf(good1 + "a.pdf"), b = OwnerPdf(good2 + "b.pdf");
  OwnerPdf(OwnerFolder("bad") + "c.pdf");

  struct Case {
    std::string job;
    bool ok;
  };
  const std::vector<Case> cases = {
      {links + "job", false},                  // the owner's link as the job folder
      {links + "dotted/.", false},             // the same, spelled with "/." after it
      {links + "way/sub", false},              // the owner's link on the way
      {Prog() + "rootlinks/job", false},       // root's link as the job folder
      {Prog() + "open/way/bad", false},        // root's link in a folder everyone may write
      {Prog() + "rootlinks/way/good1", true},  // root's link in root's folder
      {Prog() + "sticky/way/good2", true},     // root's link in a sticky folder
  };
  for (const Case& c : cases)
    Job(c.job, [](TJobSettings& j) { Passwords(j, 1); });
  rtl::TIniFile(AppIniPath()).WriteInteger("App", "Debug", 1);
  auto form = Form();
  ASSERT_EQ(Entries(*form).size(), cases.size());

  EXPECT_EQ(form->RunAllJobs(), TRunOutcome::kSomeNg);
  EXPECT_EQ(ReadFile(ResultLogPath()),
            Lines({Prog() + "rootlinks/way/good1/a.pdf,OK", Prog() + "sticky/way/good2/b.pdf,OK"}));
  ExpectSecretIntact();
  ExpectUntouched(Prog() + "bad/c.pdf");
  ExpectProtected(a, "user");
  ExpectProtected(b, "user");
  const std::string log = DebugLog();
  for (const Case& c : cases) {
    const std::string dump = "input  =" + rtl::IncludeTrailingPathDelimiter(c.job) +
                             "\r\nerror  =" + Ansi("フォルダを開けません");
    EXPECT_EQ(log.find(dump) != std::string::npos, !c.ok) << c.job << "\n" << log;
  }
}

TEST_F(FolderOwner, ASubFolderSwappedForALinkWhileAnotherIsWalkedIsNotEntered) {
  const std::string job = OwnerFolder("job");
  const std::string first = OwnerFolder("job/a"), second = OwnerFolder("job/b");
  const std::string one = OwnerPdf(first + "1.pdf"), two = OwnerPdf(second + "2.pdf");
  const std::string moved = job + ".b", link = job + "b", to = root_ + "sub";
  Job(job, [](TJobSettings& j) { Passwords(j, 1); });
  rtl::TIniFile(AppIniPath()).WriteInteger("App", "Debug", 1);
  auto form = Form();
  // While the run is in a/, b/ (listed already) becomes a link to the root-only folder.
  bool swapped = false;
  BeforeOpen hook([&](const std::string& path) {
    if (path == one)
      swapped = AsOwner([&] {
        return ::rename(link.c_str(), moved.c_str()) == 0 &&
               ::symlink(to.c_str(), link.c_str()) == 0;
      });
  });

  EXPECT_EQ(form->RunAllJobs(), TRunOutcome::kSomeNg);
  ASSERT_TRUE(swapped);
  EXPECT_EQ(ReadFile(ResultLogPath()), Lines({one + ",OK"}));
  ExpectSecretIntact();
  ExpectProtected(one, "user");
  ExpectUntouched(moved + "/2.pdf");
  EXPECT_NE(DebugLog().find("input  =" + job + "b/\r\nerror  =" + Ansi("フォルダを開けません")),
            std::string::npos)
      << DebugLog();
}

TEST_F(FolderOwner, AJobFileSwappedForALinkBeforeItIsOpenedIsNgForBothEngines) {
  // For a moment between the listing and the opening, a.pdf is the owner's link to the root-only
  // file; it is back before the next file is opened, long before the commit would come.
  std::map<std::string, std::function<void()>> swaps;
  V expected;
  std::set<std::string> done;
  for (const char* engine : {"lib", "tool"}) {
    const std::string dir = OwnerFolder(engine);
    const std::string a = OwnerPdf(dir + "a.pdf"), b = OwnerPdf(dir + "b.pdf");
    const std::string kept = dir + ".a";
    swaps[a] = [&done, a, kept, s = secret_] {
      done.insert(a);
      EXPECT_TRUE(AsOwner([&] {
        return ::rename(a.c_str(), kept.c_str()) == 0 && ::symlink(s.c_str(), a.c_str()) == 0;
      }));
    };
    swaps[b] = [&done, a, kept] {
      done.insert(a + " back");
      EXPECT_TRUE(AsOwner(
          [&] { return ::unlink(a.c_str()) == 0 && ::rename(kept.c_str(), a.c_str()) == 0; }));
    };
    Job(dir, [&](TJobSettings& j) { Passwords(j, std::string(engine) == "lib" ? 1 : 4); });
    expected.push_back(a + ",NG");
    expected.push_back(b + ",OK");
  }
  auto form = Form();
  BeforeOpen hook([&](const std::string& path) {
    if (swaps.count(path)) swaps[path]();
  });

  EXPECT_EQ(form->RunAllJobs(), TRunOutcome::kSomeNg);
  EXPECT_EQ(done.size(), 4u);
  EXPECT_EQ(ReadFile(ResultLogPath()), Lines(expected));
  ExpectSecretIntact();
  for (const char* engine : {"lib", "tool"}) {
    SCOPED_TRACE(engine);
    const std::string dir = Prog() + engine + "/";
    ExpectUntouched(dir + "a.pdf");
    EXPECT_EQ(Stat(dir + "a.pdf").st_uid, kOwner);
    ExpectProtected(dir + "b.pdf", "user");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);
  }
}

TEST_F(FolderOwner, TheToolReadsWhatWasOpenedWhateverTheNameLeadsToDuringItsRun) {
  // While the tool runs, the owner puts a link to the root-only file at the file's name and puts
  // the file back as the tool ends: the identity check finds the file that was read, and what
  // takes its place is made from the owner's file.
  const std::string dir = OwnerFolder("tool");
  const std::string a = OwnerPdf(dir + "a.pdf");
  Job(dir, [](TJobSettings& j) { Passwords(j, 4); });
  const std::string owner = "setpriv --reuid=" + std::to_string(kOwner) +
                            " --regid=" + std::to_string(kOwner) + " --clear-groups ";
  fs::remove(ToolPath());
  WriteFile(ToolPath(), "#!/bin/sh\n" + owner + "sh -c \"mv '" + a + "' '" + dir +
                            ".a' && ln -s '" + secret_ + "' '" + a + "'\" || exit 9\n'" +
                            ProgramDir() + "bin/AHPDFToolCmd26' \"$@\"\nrc=$?\n" + owner +
                            "sh -c \"rm '" + a + "' && mv '" + dir + ".a' '" + a +
                            "'\" || exit 9\nexit $rc\n");
  ::chmod(ToolPath().c_str(), 0755);
  if (!HasCommand("setpriv")) GTEST_SKIP() << "setpriv (util-linux) is needed";
  auto form = Form();

  EXPECT_EQ(form->RunAllJobs(), TRunOutcome::kAllOk);
  EXPECT_EQ(ReadFile(ResultLogPath()), Lines({a + ",OK"}));
  ExpectSecretIntact();
  ExpectProtected(a, "user");  // the owner's text, not the root-only file's
  const struct stat st = Stat(a);
  EXPECT_EQ(st.st_uid, kOwner);
  EXPECT_EQ(st.st_mode & 07777, 0644u);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
  EXPECT_EQ(std::distance(fs::directory_iterator(TempFolder()), fs::directory_iterator()), 0);
}

TEST_F(FolderOwner, AFifoSwappedInIsNgAtOnceForBothEngines) {
  std::map<std::string, std::string> kept;  // file -> where the owner moved it
  V expected;
  for (const char* engine : {"lib", "tool"}) {
    const std::string dir = OwnerFolder(engine);
    const std::string a = OwnerPdf(dir + "a.pdf"), b = OwnerPdf(dir + "b.pdf");
    kept[a] = dir + ".a";
    Job(dir, [&](TJobSettings& j) { Passwords(j, std::string(engine) == "lib" ? 2 : 3); });
    expected.push_back(a + ",NG");
    expected.push_back(b + ",OK");
  }
  auto form = Form();
  int swapped = 0;
  BeforeOpen hook([&](const std::string& path) {
    auto it = kept.find(path);
    if (it == kept.end()) return;
    const std::string &a = it->first, &moved = it->second;
    if (AsOwner([&] {
          return ::rename(a.c_str(), moved.c_str()) == 0 && ::mkfifo(a.c_str(), 0666) == 0;
        }))
      ++swapped;
  });
  // A FIFO opened for reading would wait for a writer for ever.
  ::alarm(120);
  EXPECT_EQ(form->RunAllJobs(), TRunOutcome::kSomeNg);
  ::alarm(0);
  EXPECT_EQ(swapped, 2);
  EXPECT_EQ(ReadFile(ResultLogPath()), Lines(expected));
  for (const auto& [a, moved] : kept) {
    EXPECT_TRUE(S_ISFIFO(Stat(a).st_mode)) << a;
    ExpectUntouched(moved);
  }
}

namespace {

// The owner's nest of folders "d", depth deep below top, with a copy of plain.pdf as x.pdf in top
// and at each depth of withFile; reached through descriptors only (its paths are too long for a
// name) and removed when the object goes.
class Nest {
 public:
  Nest(const std::string& top, size_t depth, const std::set<size_t>& withFile)
      : top_(top), depth_(depth) {
    const std::string pdf = ReadFile(Example("plain.pdf"));
    int fd = ::open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (size_t level = 0; fd >= 0; ++level) {
      if (level == 0 || withFile.count(level)) {
        const int f = ::openat(fd, "x.pdf", O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        EXPECT_EQ(::write(f, pdf.data(), pdf.size()), static_cast<ssize_t>(pdf.size()));
        EXPECT_EQ(::fchown(f, kOwner, kOwner), 0);
        ::close(f);
      }
      const int next = level < depth
                           ? (::mkdirat(fd, "d", 0755), ::fchownat(fd, "d", kOwner, kOwner, 0),
                              ::openat(fd, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC))
                           : -1;
      ::close(fd);
      fd = next;
    }
  }
  ~Nest() {
    int fd = Open(depth_);
    for (size_t level = depth_; fd >= 0 && level > 0; --level) {
      ::unlinkat(fd, "x.pdf", 0);
      const int parent = ::openat(fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      ::close(fd);
      if (parent >= 0) ::unlinkat(parent, "d", AT_REMOVEDIR);
      fd = parent;
    }
    if (fd >= 0) ::close(fd);
  }
  // The folder at depth, open (-1 when it cannot be reached).
  int Open(size_t depth) const {
    int fd = ::open(top_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (size_t level = 0; fd >= 0 && level < depth; ++level) {
      const int next = ::openat(fd, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      ::close(fd);
      fd = next;
    }
    return fd;
  }
  // The file at depth as the owner left it: plain.pdf's bytes, the owner's, mode 0644.
  void ExpectUntouched(size_t depth) const {
    const int dir = Open(depth);
    ASSERT_GE(dir, 0) << depth;
    struct stat st {};
    EXPECT_EQ(::fstatat(dir, "x.pdf", &st, AT_SYMLINK_NOFOLLOW), 0);
    EXPECT_EQ(st.st_uid, kOwner);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
    const int f = ::openat(dir, "x.pdf", O_RDONLY | O_CLOEXEC);
    ::close(dir);
    std::string bytes(static_cast<size_t>(st.st_size) + 1, '\0');
    const ssize_t n = ::read(f, bytes.data(), bytes.size());
    ::close(f);
    bytes.resize(n < 0 ? 0 : static_cast<size_t>(n));
    EXPECT_TRUE(bytes == ReadFile(Example("plain.pdf")))
        << "x.pdf at depth " << depth << " changed";
  }
  std::string Path(size_t depth) const {
    std::string path = top_;
    for (size_t i = 0; i < depth; ++i)
      path += "d/";
    return path;
  }

 private:
  std::string top_;
  size_t depth_;
};

// The soft limit on open descriptors, set for as long as it lives.
struct DescriptorLimit {
  explicit DescriptorLimit(rlim_t soft) {
    ::getrlimit(RLIMIT_NOFILE, &kept);
    struct rlimit lower = kept;
    if (soft != 0 && soft < kept.rlim_cur) lower.rlim_cur = soft;
    EXPECT_EQ(::setrlimit(RLIMIT_NOFILE, &lower), 0);
  }
  ~DescriptorLimit() { ::setrlimit(RLIMIT_NOFILE, &kept); }
  struct rlimit kept {};
};

}  // namespace

// A nesting of folders deeper than any name reaches, or deeper than the descriptors the process
// may open: the walk stops above it with an NG line for the first folder it does not enter, the
// files above are rewritten, those below are left as they were; no crash, no folder skipped as if
// it were empty.
TEST_F(FolderOwner, AFolderNestedTooDeepIsNgAndWhatIsBelowItIsLeftAsItWas) {
  struct Case {
    const char* what;
    size_t depth;
    rlim_t descriptors;  // 0: as they are
  };
  for (const Case& c :
       {Case{"past the longest path", 12000, 0}, Case{"past the descriptors", 1000, 512}}) {
    SCOPED_TRACE(c.what);
    const std::string job = OwnerFolder(std::string("nest") + std::to_string(c.depth));
    Job(job, [](TJobSettings& j) { Passwords(j, 1); });
    const Nest nest(job, c.depth, {10, c.depth});
    auto form = Form();
    TRunOutcome outcome;
    {
      const DescriptorLimit limit(c.descriptors);
      outcome = form->RunAllJobs();
    }
    EXPECT_EQ(outcome, TRunOutcome::kSomeNg);
    const std::string log = ReadFile(ResultLogPath());
    const std::string first = Lines({job + "x.pdf,OK", nest.Path(10) + "x.pdf,OK"});
    ASSERT_EQ(log.substr(0, first.size()), first) << log.substr(0, 400);
    // The one line after them: a folder "d/d/.../" below the tenth, NG.
    const std::string last = log.substr(first.size());
    const size_t levels = (last.size() - job.size() - 5) / 2;
    EXPECT_GT(levels, 10u);
    EXPECT_LT(levels, c.depth);
    EXPECT_EQ(last, Lines({nest.Path(levels) + ",NG"})) << last.substr(0, 400);
    ExpectProtected(job + "x.pdf", "user");
    ExpectProtected(nest.Path(10) + "x.pdf", "user");
    nest.ExpectUntouched(c.depth);
    fs::remove(JobIniPath(job));  // the next case runs its own job only
  }
  ExpectSecretIntact();
}

namespace {

class OneRewrite : public SorvaneRunTest {
 protected:
  static std::string Pdf(const std::string& path) {
    fs::create_directories(fs::path(path).parent_path());
    CopyFile(Example("plain.pdf"), path);
    return path;
  }
  static bool Opens(const std::string& path, const std::string& user) {
    return RunCommand({"pdfinfo", "-upw", user, path}).exitCode == 0;
  }
  static void Protect(TJobSettings& j, const std::string& name, int ver) {
    j.UserPassWord = name;
    j.MasterPassWord = name + "-owner";
    j.Ver = ver;
    j.SubDir = 1;
  }
};

}  // namespace

// Jobs that reach one file: the same folder under two spellings, and a folder with its
// sub-folder as a job of its own. The file is handed to the first job's rewrite only; the later
// job logs it NG and the file keeps the first job's passwords.
TEST_F(OneRewrite, AFileThatTwoJobsReachIsRewrittenOnceWithTheFirstJobsPasswords) {
  // In the sorted job list "tree" comes before "tree/sub" and "x/./job" before "x/job". The
  // library rewrites the x jobs' files at once; the tool rewrites y's first.
  V names = {"1.pdf", "2.pdf", "3.pdf", "4.pdf", "5.pdf", "6.pdf"};
  for (const std::string& n : names)
    Pdf(Prog() + "x/job/" + n);
  const V ys = {Pdf(Prog() + "y/job/a.pdf"), Pdf(Prog() + "y/job/b.pdf")};
  Pdf(Prog() + "tree/t.pdf");
  for (const char* n : {"s1.pdf", "s2.pdf"})
    Pdf(Prog() + "tree/sub/" + n);
  Job(Prog() + "x/./job", [](TJobSettings& j) { Protect(j, "first", 1); });
  Job(Prog() + "x/job", [](TJobSettings& j) { Protect(j, "second", 1); });
  Job(Prog() + "tree", [](TJobSettings& j) { Protect(j, "tree", 2); });
  Job(Prog() + "tree/sub", [](TJobSettings& j) { Protect(j, "sub", 4); });
  Job(Prog() + "y/./job", [](TJobSettings& j) { Protect(j, "tool", 4); });
  Job(Prog() + "y/job", [](TJobSettings& j) { Protect(j, "library", 1); });
  rtl::TIniFile(AppIniPath()).WriteInteger("App", "Debug", 1);
  auto form = Form();
  ASSERT_EQ(Entries(*form), (V{Prog() + "tree", Prog() + "tree/sub", Prog() + "x/./job",
                               Prog() + "x/job", Prog() + "y/./job", Prog() + "y/job"}));

  EXPECT_EQ(form->RunAllJobs(), TRunOutcome::kSomeNg);
  V result = {Prog() + "tree/t.pdf,OK", Prog() + "tree/sub/s1.pdf,OK",
              Prog() + "tree/sub/s2.pdf,OK", Prog() + "tree/sub/s1.pdf,NG",
              Prog() + "tree/sub/s2.pdf,NG"};
  for (const std::string& n : names)
    result.push_back(Prog() + "x/./job/" + n + ",OK");
  for (const std::string& n : names)
    result.push_back(Prog() + "x/job/" + n + ",NG");
  for (const char* ok : {",OK", ",NG"})
    for (const char* n : {"a.pdf", "b.pdf"})
      result.push_back(Prog() + (ok[1] == 'O' ? "y/./job/" : "y/job/") + n + ok);
  EXPECT_EQ(ReadFile(ResultLogPath()), Lines(result));
  for (const std::string& f : ys) {
    EXPECT_TRUE(Opens(f, "tool")) << f;
    EXPECT_FALSE(Opens(f, "library")) << f;
  }
  for (const std::string& n : names) {
    const std::string f = Prog() + "x/job/" + n;
    EXPECT_TRUE(Opens(f, "first")) << f;
    EXPECT_FALSE(Opens(f, "second")) << f;
    EXPECT_EQ(RunCommand({"qpdf", "--check", "--password=first", f}).exitCode, 0) << f;
  }
  for (const char* n : {"s1.pdf", "s2.pdf"}) {
    const std::string f = Prog() + "tree/sub/" + n;
    EXPECT_TRUE(Opens(f, "tree")) << f;
    EXPECT_FALSE(Opens(f, "sub")) << f;
  }
  // Each later file is reported with the reason.
  const std::string log = ReadFile(DebugLogPath());
  const std::string why = Ansi("このファイルはこの処理で既に別のジョブの書き換えに渡されています");
  size_t count = 0;
  for (size_t at = log.find(why); at != std::string::npos; at = log.find(why, at + 1))
    ++count;
  EXPECT_EQ(count, 10u) << log;
  EXPECT_NE(log.find("input  =" + Prog() + "x/job/6.pdf\r\nerror  =" + why), std::string::npos)
      << log;
}

// The library's new file has no name while it is written, where the file system allows it:
// nothing of it could be left beside the user's file. Where it does not, a hidden name is used
// and goes with the commit.
TEST_F(OneRewrite, TheLibrarysNewFileHasNoNameUntilItsCommit) {
  const std::string dir = Prog() + "job/";
  // One file: the commit of another file that is rewritten at once names its new file for a moment.
  const V files = {Pdf(dir + "a.pdf")};
  Job(Prog() + "job", [](TJobSettings& j) { Protect(j, "user", 1); });
  const int probe = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (probe >= 0) ::close(probe);
  for (const bool unnamed : {true, false}) {
    SCOPED_TRACE(unnamed ? "unnamed" : "named");
    if (unnamed && probe < 0) {
      ADD_FAILURE() << "the file system of " << dir << " refuses O_TMPFILE";
      continue;
    }
    for (const std::string& f : files)
      CopyFile(Example("plain.pdf"), f);
    platform::SetUnnamedFilesForTests(unnamed);
    auto form = Form();
    // What the folder holds while the documents are saved.
    std::mutex mutex;
    std::set<std::string> seen;
    form->PDFDoc->OnIOProgress = [&](TzoCustomPDFDocument*, int32_t) {
      std::lock_guard<std::mutex> lock(mutex);
      for (const auto& e : fs::directory_iterator(dir))
        seen.insert(e.path().filename());
    };
    EXPECT_EQ(form->RunAllJobs(), TRunOutcome::kAllOk);
    platform::SetUnnamedFilesForTests(true);
    ASSERT_FALSE(seen.empty());
    std::set<std::string> hidden;
    for (const std::string& name : seen)
      if (name[0] == '.') hidden.insert(name);
    if (unnamed)
      EXPECT_TRUE(hidden.empty()) << *hidden.begin();
    else
      EXPECT_FALSE(hidden.empty());
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
    for (const std::string& f : files) {
      EXPECT_FALSE(RunCommand({"pdfinfo", f}).exitCode == 0) << f;
      EXPECT_TRUE(Opens(f, "user")) << f;
    }
  }
}
