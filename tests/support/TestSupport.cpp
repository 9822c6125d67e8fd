#include "tests/support/TestSupport.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace sv::test {

namespace fs = std::filesystem;

namespace {
std::string WithSlash(std::string s) {
  if (s.empty() || s.back() != '/') s += '/';
  return s;
}
std::string EnvOr(const char* name, const char* def) {
  const char* v = std::getenv(name);
  return v && *v ? v : def;
}
}  // namespace

std::string SourceDir() {
  return WithSlash(EnvOr("SV_SOURCE_DIR", SV_DEFAULT_SOURCE_DIR));
}
std::string ProgramDir() {
  return WithSlash(EnvOr("SV_PROGRAM_DIR", SV_DEFAULT_PROGRAM_DIR));
}

std::string CorpusDir() {
  const char* v = std::getenv("SV_CORPUS_DIR");
  if (v && *v) return WithSlash(v);
  return WithSlash(
      (fs::path(SourceDir()).parent_path().parent_path() / "shared" / "corpus").string());
}

bool HasCorpus() {
  return fs::is_directory(CorpusDir() + "peer");
}

std::vector<std::string> CorpusFiles(const std::string& subFolder) {
  std::vector<std::string> files;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(CorpusDir() + subFolder, ec))
    if (e.is_regular_file() && e.path().extension() == ".pdf") files.push_back(e.path().string());
  std::sort(files.begin(), files.end());
  return files;
}

TempDir::TempDir() {
  std::string tmpl = "/tmp/svtest-XXXXXX";
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl + "/";
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) throw std::runtime_error("cannot read " + path);
  std::ostringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  if (!f) throw std::runtime_error("cannot write " + path);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!f) throw std::runtime_error("cannot write " + path);
}

bool FileExists(const std::string& path) {
  return fs::exists(path);
}

void CopyFile(const std::string& from, const std::string& to) {
  fs::copy_file(from, to, fs::copy_options::overwrite_existing);
  fs::permissions(to, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add);
}

CommandResult RunCommand(const std::vector<std::string>& argv, const std::string& workDir) {
  CommandResult r;
  int outPipe[2], errPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) return r;
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, outPipe[1], 1);
  posix_spawn_file_actions_adddup2(&fa, errPipe[1], 2);
  posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
  if (!workDir.empty()) posix_spawn_file_actions_addchdir_np(&fa, workDir.c_str());
  std::vector<char*> args;
  for (const auto& a : argv)
    args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid;
  int rc = posix_spawnp(&pid, args[0], &fa, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&fa);
  close(outPipe[1]);
  close(errPipe[1]);
  auto drain = [](int fd, std::string* into) {
    char buf[65536];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0)
      into->append(buf, static_cast<size_t>(n));
    close(fd);
  };
  std::thread errThread(drain, errPipe[0], &r.err);
  drain(outPipe[0], &r.out);
  errThread.join();
  if (rc != 0) return r;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

bool HasCommand(const std::string& name) {
  return RunCommand({"sh", "-c", "command -v " + name + " >/dev/null 2>&1"}).exitCode == 0;
}

std::string SharedToolsDir() {
  return WithSlash(
      (fs::path(SourceDir()).parent_path().parent_path() / "shared" / "tools").string());
}

std::string MissingJudge(const std::string& name) {
  if (name == "../shared/tools") {
    const std::string dir = SharedToolsDir();
    return fs::exists(dir + "verify-rewrite") ? "" : "the shared judges are missing: " + dir;
  }
  if (name == "fontTools") {
    CommandResult r = RunCommand({"/usr/bin/python3", "-c", "import fontTools"});
    return r.exitCode == 0 ? ""
                           : "fontTools is missing (python3-fonttools for /usr/bin/python3; "
                             "scripts/install-deps.sh installs it)";
  }
  return HasCommand(name) ? ""
                          : name + " is missing (not on PATH; scripts/install-deps.sh installs it)";
}

bool UnderCI() {
  const char* v = std::getenv("CI");
  return v && *v;
}

bool ProcessGone(int pid) {
  for (int i = 0; i < 500; ++i) {
    std::string stat;
    try {
      stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    } catch (const std::exception&) {
      return true;
    }
    // The state follows the name in parentheses; Z: ended, not yet reaped.
    const size_t close = stat.rfind(')');
    if (close != std::string::npos && stat.compare(close, 4, ") Z ") == 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

}  // namespace sv::test
