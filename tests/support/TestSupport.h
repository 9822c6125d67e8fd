// Helpers shared by the tests: the source and program folders, the outside corpus, temporary
// folders, files and outside commands.
#pragma once

#include <signal.h>
#include <sys/resource.h>

#include <string>
#include <vector>

namespace sv::test {

std::string SourceDir();   // the checkout, with a trailing "/"
std::string ProgramDir();  // the built program folder (programs side by side, the tool in bin/)
std::string CorpusDir();   // ../shared/corpus beside the checkout, with a trailing "/"
bool HasCorpus();
// Every file of a corpus sub-folder ("peer", "docs", "encrypted"), as full paths in name order.
std::vector<std::string> CorpusFiles(const std::string& subFolder);

// A fresh folder below /tmp, removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }  // with a trailing "/"
  std::string operator/(const std::string& name) const { return path_ + name; }

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path);  // throws std::runtime_error when unreadable
void WriteFile(const std::string& path, const std::string& bytes);
bool FileExists(const std::string& path);
void CopyFile(const std::string& from, const std::string& to);

struct CommandResult {
  int exitCode = -1;  // -1 when it could not start or did not end normally
  std::string out;
  std::string err;
};
// Runs argv[0] (found through PATH) with the arguments, in the given folder when not empty.
CommandResult RunCommand(const std::vector<std::string>& argv, const std::string& workDir = "");
bool HasCommand(const std::string& name);  // on PATH
// Why an outside judge of the tests is missing, "" when it is there: a program on PATH (qpdf,
// pdfinfo, mutool, strace...), "fontTools" (/usr/bin/python3 with python3-fonttools) or
// "../shared/tools" (the shared judges beside the checkout).
std::string MissingJudge(const std::string& name);
// The tests run in CI (CI set and not empty), where scripts/install-deps.sh installed every judge
// (all but the shared tools beside the checkout, which come with the corpus).
bool UnderCI();
// The shared judges' folder: ../shared/tools beside the checkout, with a trailing "/".
std::string SharedToolsDir();
// Whether the process has gone (or only waits to be reaped by its new parent), given a few
// seconds to go.
bool ProcessGone(int pid);

// Writes to regular files stop after limit bytes (EFBIG) while the object lives: a disk that
// fills up at a chosen byte.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t limit) {
    getrlimit(RLIMIT_FSIZE, &old_);
    oldHandler_ = signal(SIGXFSZ, SIG_IGN);
    rlimit l = old_;
    l.rlim_cur = limit;
    setrlimit(RLIMIT_FSIZE, &l);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &old_);
    signal(SIGXFSZ, oldHandler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit old_{};
  sighandler_t oldHandler_;
};

}  // namespace sv::test

// SV_UNDER_ASAN is defined when the tests are built with AddressSanitizer, which needs far more
// address space for itself than a process with a limited address space has.
#if defined(__SANITIZE_ADDRESS__)
#define SV_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SV_UNDER_ASAN 1
#endif
#endif

// Skips the current test with a message naming each judge that is missing, or fails it under CI
// when scripts/install-deps.sh installs that judge.
#define SV_REQUIRE_JUDGES(...)                                                                    \
  do {                                                                                            \
    std::string svMissing;                                                                        \
    bool svInstalled = false;                                                                     \
    for (const char* svJudge : {__VA_ARGS__}) {                                                   \
      const std::string svWhy = ::sv::test::MissingJudge(svJudge);                                \
      if (svWhy.empty()) continue;                                                                \
      svMissing += (svMissing.empty() ? "" : "; ") + svWhy;                                       \
      svInstalled = svInstalled || std::string(svJudge) != "../shared/tools";                     \
    }                                                                                             \
    if (!svMissing.empty()) {                                                                     \
      if (svInstalled && ::sv::test::UnderCI()) GTEST_FAIL() << svMissing << " (CI installs it)"; \
      GTEST_SKIP() << svMissing;                                                                  \
    }                                                                                             \
  } while (0)

// Skips the current test with a clear message when the outside corpus is not there.
#define SV_REQUIRE_CORPUS()                                                     \
  do {                                                                          \
    if (!::sv::test::HasCorpus())                                               \
      GTEST_SKIP() << "outside corpus not found at " << ::sv::test::CorpusDir() \
                   << " (tests over real files are skipped)";                   \
  } while (0)
