// The batch as a user runs it: a job folder of copies of the shared corpus (a few hundred files in
// sub-folders), rewritten in place by the built Sorvane in a silent run (the library engine,
// 128-bit RC4, a user and an owner password, target 1.4), and the same files rewritten by a shell
// loop of `qpdf --encrypt ... --replace-input` doing the same work (no object streams, stream
// data kept as it is, the job's permissions). Each way runs on a fresh copy of the folder, several
// times; prints the times (fastest and slowest), MB/s, the cost of one fsync on the job folder's
// file system, and, when strace is there, the write, fsync, open and rename calls per file.
//
// Usage: bench_BatchBench [--files N] [--repeat R] [--sorvane PROGRAM] [CORPUS-FOLDER]
// Without a folder: ../shared/corpus beside the source tree; without --sorvane, the Sorvane of
// this build (another build's program, for a comparison). Only the corpus files that Sorvane
// rewrites with OK (found by a first run over one copy of each) make up the job, copied until it
// holds at least N files (default 300). R runs of each way (default 3).
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "apps/sorvane/Rw_ini.h"
#include "platform/ProgramFolder.h"

namespace fs = std::filesystem;

extern char** environ;

namespace {

// Runs argv (argv[0] found through PATH) with its output into logPath; the exit status, -1 when
// it did not end normally.
int Run(const std::vector<std::string>& argv, const std::string& logPath) {
  std::vector<char*> args;
  for (const std::string& a : argv)
    args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                   0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = -1;
  const int err = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (err != 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool OnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "");
  for (std::string dir; std::getline(dirs, dir, ':');)
    if (!dir.empty() && access((dir + "/" + name).c_str(), X_OK) == 0) return true;
  return false;
}

// The path of each line of a result log that ends in ",OK" (a quoted path unquoted).
std::vector<std::string> OkPaths(const std::string& resultLog) {
  std::ifstream f(resultLog, std::ios::binary);
  std::vector<std::string> ok;
  for (std::string line; std::getline(f, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() < 3 || line.compare(line.size() - 3, 3, ",OK") != 0) continue;
    std::string path = line.substr(0, line.size() - 3);
    if (path.size() >= 2 && path.front() == '"' && path.back() == '"') {
      std::string unquoted;
      for (size_t i = 1; i + 1 < path.size(); ++i) {
        unquoted += path[i];
        if (path[i] == '"') ++i;  // "" stands for one quote
      }
      path = unquoted;
    }
    ok.push_back(path);
  }
  return ok;
}

// Calls per kind from the summary of `strace -c`: write (also pwrite, writev), fsync (also
// fdatasync), open (also openat), rename (also renameat, renameat2), lseek.
std::map<std::string, long> StraceCounts(const std::string& summary) {
  static const std::map<std::string, std::string> kinds = {
      {"write", "write"},     {"pwrite64", "write"},   {"writev", "write"}, {"fsync", "fsync"},
      {"fdatasync", "fsync"}, {"open", "open"},        {"openat", "open"},  {"rename", "rename"},
      {"renameat", "rename"}, {"renameat2", "rename"}, {"lseek", "lseek"},
  };
  std::map<std::string, long> counts;
  std::ifstream f(summary);
  for (std::string line; std::getline(f, line);) {
    // "% time     seconds  usecs/call     calls    errors syscall"; errors may be empty.
    std::stringstream fields(line);
    std::vector<std::string> words;
    for (std::string w; fields >> w;)
      words.push_back(w);
    if (words.size() < 5) continue;
    auto kind = kinds.find(words.back());
    if (kind == kinds.end()) continue;
    counts[kind->second] += std::atol(words[3].c_str());
  }
  return counts;
}

// A copy the running user may rewrite (the corpus itself is read-only).
void CopyWritable(const std::string& from, const std::string& to) {
  fs::copy_file(from, to);
  fs::permissions(to, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                          fs::perms::others_read);
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// The time of one fsync of a small new file in folder, and of the folder after a rename.
std::pair<double, double> FsyncCost(const std::string& folder) {
  constexpr int kRounds = 20;
  const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  double file = 0, folderTime = 0;
  const std::string data(50000, 'x');
  for (int i = 0; i < kRounds; ++i) {
    const std::string tmp = folder + "/.probe", name = folder + "/probe";
    const int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0 || write(fd, data.data(), data.size()) < 0) break;
    auto t0 = std::chrono::steady_clock::now();
    fsync(fd);
    file += Seconds(t0);
    close(fd);
    rename(tmp.c_str(), name.c_str());
    t0 = std::chrono::steady_clock::now();
    fsync(dir);
    folderTime += Seconds(t0);
  }
  close(dir);
  fs::remove(folder + "/probe");
  return {file / kRounds, folderTime / kRounds};
}

struct Timing {
  std::vector<double> seconds;
  std::map<std::string, long> calls;
  bool ok = true;
};

void Print(const char* name, const Timing& t, double mb, size_t files) {
  if (!t.ok || t.seconds.empty()) {
    std::printf("%-14s failed\n", name);
    return;
  }
  const auto [fastest, slowest] = std::minmax_element(t.seconds.begin(), t.seconds.end());
  std::printf("%-14s %8.3f %8.3f %9.1f %9.1f", name, *fastest, *slowest, mb / *slowest,
              mb / *fastest);
  for (const char* kind : {"write", "fsync", "open", "rename", "lseek"}) {
    auto c = t.calls.find(kind);
    if (c == t.calls.end())
      std::printf(" %7s", "-");
    else
      std::printf(" %7.1f", static_cast<double>(c->second) / static_cast<double>(files));
  }
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  size_t wantFiles = 300;
  int repeat = 3;
  std::string sorvane = std::string(SV_PROGRAM_DIR) + "/Sorvane";
  std::string corpus = fs::path(SV_SOURCE_DIR).parent_path() / "shared/corpus";
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--files" && i + 1 < argc)
      wantFiles = static_cast<size_t>(std::max(1, std::atoi(argv[++i])));
    else if (a == "--repeat" && i + 1 < argc)
      repeat = std::max(1, std::atoi(argv[++i]));
    else if (a == "--sorvane" && i + 1 < argc)
      sorvane = argv[++i];
    else
      corpus = a;
  }
  if (access(sorvane.c_str(), X_OK) != 0) {
    std::fprintf(stderr, "%s not found: build the Sorvane target first\n", sorvane.c_str());
    return 2;
  }
  if (!fs::is_directory(corpus)) {
    std::fprintf(stderr, "corpus not found at %s; give a folder\n", corpus.c_str());
    return 2;
  }

  // A program folder of its own, with Sorvane and its job file, and the job folder beside it.
  std::string pattern = (fs::temp_directory_path() / "batch-bench-XXXXXX").string();
  if (!mkdtemp(pattern.data())) {
    std::perror("mkdtemp");
    return 2;
  }
  struct Removed {
    std::string path;
    ~Removed() { fs::remove_all(path); }
  } work{pattern};
  const std::string prog = work.path + "/program/", job = work.path + "/job";
  const std::string log = work.path + "/output.txt";
  fs::create_directories(prog);
  fs::copy_file(sorvane, prog + "Sorvane");
  platform::SetProgramFolderForTests(prog, "Sorvane");
  fs::create_directories(SettingFolder());
  fs::create_directories(job);
  JobSettings = TJobSettings();
  JobSettings.Ver = 1;  // 1.4: the library engine
  JobSettings.UserPassWord = "user";
  JobSettings.MasterPassWord = "owner";
  WriteJobIni(JobIniPath(job));

  // The corpus files Sorvane rewrites with OK.
  std::vector<std::string> sources;
  for (const auto& e : fs::recursive_directory_iterator(corpus))
    if (e.is_regular_file() && e.path().extension() == ".pdf") sources.push_back(e.path());
  std::sort(sources.begin(), sources.end());
  std::map<std::string, std::string> sourceOf;  // probe copy -> corpus file
  for (size_t i = 0; i < sources.size(); ++i) {
    const std::string copy =
        job + "/" + std::to_string(i) + "-" + fs::path(sources[i]).filename().string();
    CopyWritable(sources[i], copy);
    sourceOf[copy] = sources[i];
  }
  Run({prog + "Sorvane", "/s"}, log);
  std::vector<std::string> chosen;
  for (const std::string& path : OkPaths(prog + "log/log_result.csv"))
    if (sourceOf.count(path)) chosen.push_back(sourceOf[path]);
  std::sort(chosen.begin(), chosen.end());
  if (chosen.empty()) {
    std::fprintf(stderr, "Sorvane rewrote none of the corpus files (see %s)\n", log.c_str());
    return 2;
  }

  // The job: copies of the chosen files in sub-folders, until there are enough.
  const std::string master = work.path + "/master";
  size_t files = 0;
  double mb = 0;
  for (int copy = 1; files < wantFiles; ++copy) {
    char sub[32];
    std::snprintf(sub, sizeof sub, "/copy%03d", copy);
    fs::create_directories(master + sub);
    for (const std::string& src : chosen) {
      CopyWritable(src, master + sub + "/" + fs::path(src).filename().string());
      mb += static_cast<double>(fs::file_size(src)) / 1e6;
      ++files;
    }
  }
  std::printf("%zu files (%zu corpus files rewritten with OK, copied), %.2f MB, %d run(s) each\n",
              files, chosen.size(), mb, repeat);
  const auto [fileFsync, folderFsync] = FsyncCost(work.path);
  std::printf("one fsync here: %.2f ms (file), %.2f ms (folder after a rename)\n", fileFsync * 1e3,
              folderFsync * 1e3);

  auto freshJob = [&] {
    fs::remove_all(job);
    fs::copy(master, job, fs::copy_options::recursive);
  };
  const std::string qpdfLoop =
      "for f in \"$1\"/*/*.pdf; do qpdf --allow-weak-crypto --no-warn --object-streams=disable "
      "--stream-data=preserve --encrypt user owner 128 --use-aes=n --print=full --modify=none "
      "--extract=n --accessibility=n -- \"$f\" --replace-input; s=$?; "
      "[ $s -eq 0 ] || [ $s -eq 3 ] || exit 1; done";
  const std::vector<std::string> sorvaneRun = {prog + "Sorvane", "/s"};
  const std::vector<std::string> qpdfRun = {"sh", "-c", qpdfLoop, "sh", job};
  const bool strace = OnPath("strace");
  Timing ours, theirs;
  for (auto [timing, command, isOurs] :
       {std::tuple{&ours, &sorvaneRun, true}, std::tuple{&theirs, &qpdfRun, false}}) {
    for (int r = 0; r < repeat; ++r) {
      freshJob();
      const auto t0 = std::chrono::steady_clock::now();
      const int status = Run(*command, log);
      timing->seconds.push_back(Seconds(t0));
      if (status != 0) timing->ok = false;
      if (isOurs && OkPaths(prog + "log/log_result.csv").size() != files) timing->ok = false;
    }
    if (strace) {
      freshJob();
      std::vector<std::string> traced = {"strace", "-f", "-c", "-o", work.path + "/strace.txt"};
      traced.insert(traced.end(), command->begin(), command->end());
      Run(traced, log);
      timing->calls = StraceCounts(work.path + "/strace.txt");
    }
  }
  std::printf("%-14s %8s %8s %9s %9s %7s %7s %7s %7s %7s\n", "way", "fastest", "slowest", "MB/s",
              "to MB/s", "write", "fsync", "open", "rename", "lseek");
  Print("Sorvane /s", ours, mb, files);
  Print("qpdf loop", theirs, mb, files);
  if (!strace) std::printf("(strace not found: no system call counts)\n");
  if (ours.ok && theirs.ok)
    std::printf("qpdf loop / Sorvane (fastest runs): %.2f\n",
                *std::min_element(theirs.seconds.begin(), theirs.seconds.end()) /
                    *std::min_element(ours.seconds.begin(), ours.seconds.end()));
  std::printf("(calls are per file, over the whole run: logs and job files included)\n");
  return ours.ok && theirs.ok ? 0 : 1;
}
