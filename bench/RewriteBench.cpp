// Rewrites every PDF file of a folder with 128-bit RC4, two passwords and restrictions, three ways
// in one run: with this library in memory (load, set the encryption, write), with libqpdf in
// memory (QPDF, QPDFWriter with R3 encryption), and with the qpdf command once per file, as a
// user's shell loop would. Each way runs in a child process of its own, so that its peak memory
// is its own. Prints files per second, megabytes per second, peak memory (also above an idle
// child, which holds the inputs already), the ratios and the minor page faults (memory touched
// afresh, a cost of its own on a virtual machine).
//
// Usage: bench_RewriteBench [--rounds N] [--in-process | --library-only | --load-only]
//                           FOLDER-OR-FILE...
// With --in-process, this library and libqpdf run in this process, each after a first round that
// is not timed (memory already touched, as in a long batch), and the load of this library (from
// the file, as a batch loads it) is timed on its own too; with --library-only, only this library
// does (for a profiler); with --load-only, only its load does.
// Without arguments: ../shared/corpus beside the source tree, then one large file made by
// joining every document of its docs folder (qpdf --empty --pages).
// Only files that this library loads are timed, and the same files for all three ways; both qpdf
// ways are told to do the same work as the library: no object streams, stream data kept as it is.
#include <sys/wait.h>
#include <unistd.h>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFWriter.hh>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "bench/BenchChild.h"
#include "pdf/document/zoCstPDFDoc.h"
#include "platform/ProcessHeap.h"
#include "platform/RtlClasses.h"

namespace fs = std::filesystem;

namespace {

// A document written to memory.
class MemoryDoc : public TzoCustomPDFDocument {
 public:
  MemoryDoc(ConstructKey key, rtl::TComponent* owner) : TzoCustomPDFDocument(key, owner) {}
  size_t WriteTo(rtl::TMemoryStream& mem) {
    WriteDocumentTo(mem);
    return static_cast<size_t>(mem.Size());
  }
};

struct Input {
  std::string path;
  std::string bytes;
  std::string password;  // to open it (owner password when the name gives one)
};

std::string Field(const std::string& name, const std::string& key, char stop) {
  size_t at = name.find(key);
  if (at == std::string::npos) return "";
  at += key.size();
  size_t end = name.find(stop, at);
  std::string v = name.substr(at, end == std::string::npos ? std::string::npos : end - at);
  return v == "_" ? "" : v;
}

// The password in a corpus file's name ("O=master", "U=view", "o=owner", "u=user").
std::string PasswordOf(const fs::path& p) {
  std::string base = p.stem().string();
  for (auto [key, stop] : {std::pair{"O=", ','}, {"o=", '_'}, {"U=", ','}, {"u=", '_'}}) {
    std::string v = Field(base, key, stop);
    if (!v.empty()) return v;
  }
  return "";
}

std::string ReadAll(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

// One rewrite with this library; the output size, or 0 when the file is not loaded.
size_t OursOne(const Input& in) {
  auto doc = TzoCustomPDFDocument::Create<MemoryDoc>();
  rtl::TMemoryStream src(in.bytes);
  doc->LoadDocumentStream(src);
  if (!doc->OpenWithPassword(in.password)) return 0;
  TzoPDFEncryptionSettings& e = doc->Encryption();
  e.SetEnabled(true);
  e.SetLevel(el128bit);
  e.SetUserPassword("user");
  e.SetOwnerPassword("owner");
  e.SetUserPermissions(TzoUserPermissions{AllowPrint, AllowHighResPrint, AllowAccessibility});
  rtl::TMemoryStream out;
  out.Reserve(static_cast<int64_t>(in.bytes.size() + in.bytes.size() / 4));
  return doc->WriteTo(out);
}

// The load alone, from the file as a batch reads it; the page count, or 0 when not loaded.
size_t LoadOne(const Input& in) {
  auto doc = TzoCustomPDFDocument::Create<MemoryDoc>();
  doc->OnPassword = [&in](rtl::TObject*, std::string& password, bool& cont, int32_t tries) {
    password = in.password;
    cont = tries == 0;
  };
  if (!doc->LoadFromFile(in.path)) return 0;
  return static_cast<size_t>(std::max(1, doc->PageCount()));
}

size_t QpdfOne(const Input& in) {
  QPDF pdf;
  pdf.setSuppressWarnings(true);
  pdf.processMemoryFile(in.path.c_str(), in.bytes.data(), in.bytes.size(), in.password.c_str());
  QPDFWriter w(pdf);
  w.setOutputMemory();
  w.setObjectStreamMode(qpdf_o_disable);
  w.setStreamDataMode(qpdf_s_preserve);
  w.setR3EncryptionParametersInsecure("user", "owner", true, false, false, false, false, false,
                                      qpdf_r3p_full);
  w.write();
  return w.getBufferSharedPointer()->getSize();
}

bool QpdfCommandOne(const Input& in, const std::string& outPath) {
  std::vector<std::string> args = {"qpdf",
                                   "--allow-weak-crypto",
                                   "--no-warn",
                                   "--object-streams=disable",
                                   "--stream-data=preserve",
                                   "--password=" + in.password,
                                   "--encrypt",
                                   "user",
                                   "owner",
                                   "128",
                                   "--use-aes=n",
                                   "--print=full",
                                   "--modify=none",
                                   "--extract=n",
                                   "--",
                                   in.path,
                                   outPath};
  pid_t pid = fork();
  if (pid == 0) {
    std::vector<char*> argv;
    for (auto& a : args)
      argv.push_back(a.data());
    argv.push_back(nullptr);
    execvp("qpdf", argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && (WEXITSTATUS(status) == 0 || WEXITSTATUS(status) == 3);
}

struct Result {
  double seconds = 0;
  long peakKiB = 0;
  long faults = 0;  // minor page faults: memory the way touched afresh
  bool ok = false;
};

// Runs work in a child process; its time (as the child measured it), peak memory and page faults.
Result InChild(const std::function<bool()>& work) {
  const bench::ChildRun c = bench::InChild(work);
  Result r;
  r.seconds = c.seconds;
  r.ok = c.seconds >= 0;
  r.peakKiB = c.peakKiB;  // for the command way: the largest qpdf process
  r.faults = c.faults;    // for the command way: of all its qpdf processes
  return r;
}

// The ways in memory in this process, after a round that is not timed; libqpdf's too unless
// libraryOnly.
void ReportInProcess(const char* title, const std::vector<Input>& inputs, int rounds,
                     bool libraryOnly, bool loadOnly) {
  double mb = 0;
  for (const Input& in : inputs)
    mb += static_cast<double>(in.bytes.size()) / 1e6;
  std::printf("\n%s: %zu files, %.2f MB, %d round(s) in this process\n", title, inputs.size(), mb,
              rounds);
  double ours = 0;
  for (auto [name, one] :
       {std::pair{"this library", &OursOne}, {"  its load", &LoadOne}, {"libqpdf", &QpdfOne}}) {
    if (loadOnly && one != &LoadOne) continue;
    if (libraryOnly && one == &QpdfOne) break;
    for (const Input& in : inputs)
      one(in);
    const auto t0 = std::chrono::steady_clock::now();
    for (int r = 0; r < rounds; ++r)
      for (const Input& in : inputs)
        one(in);
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (one == &OursOne || (loadOnly && one == &LoadOne)) ours = s;
    std::printf("%-14s %8.3f s %10.2f MB/s %8.2f time/library\n", name, s, mb * rounds / s,
                s / ours);
  }
}

void Report(const char* title, const std::vector<Input>& inputs, int rounds) {
  double mb = 0;
  for (const Input& in : inputs)
    mb += static_cast<double>(in.bytes.size()) / 1e6;
  std::printf("\n%s: %zu files, %.2f MB, %d round(s)\n", title, inputs.size(), mb, rounds);
  if (inputs.empty()) return;
  const std::string outPath =
      fs::temp_directory_path() / ("rewrite-bench-" + std::to_string(getpid()) + ".pdf");
  struct Way {
    const char* name;
    std::function<bool()> work;
  } ways[] = {
      {"this library",
       [&] {
         for (int r = 0; r < rounds; ++r)
           for (const Input& in : inputs)
             if (OursOne(in) == 0) return false;
         return true;
       }},
      {"libqpdf",
       [&] {
         for (int r = 0; r < rounds; ++r)
           for (const Input& in : inputs)
             if (QpdfOne(in) == 0) return false;
         return true;
       }},
      {"qpdf command",
       [&] {
         for (int r = 0; r < rounds; ++r)
           for (const Input& in : inputs)
             if (!QpdfCommandOne(in, outPath)) return false;
         return true;
       }},
  };
  std::vector<Result> results;
  for (const Way& w : ways)
    results.push_back(InChild(w.work));
  // A child that does nothing: the memory every way has before it starts.
  const Result idle = InChild([] { return true; });
  const long idleKiB = idle.peakKiB;
  fs::remove(outPath);
  const double files = static_cast<double>(inputs.size()) * rounds;
  std::printf("%-14s %10s %10s %10s %10s %12s %14s %14s %10s\n", "way", "seconds", "files/s",
              "MB/s", "peak MiB", "above idle", "time/library", "memory/library", "faults");
  for (size_t i = 0; i < results.size(); ++i) {
    const Result& r = results[i];
    if (!r.ok) {
      std::printf("%-14s failed\n", ways[i].name);
      continue;
    }
    if (i == 2) {
      // The command's peak is that of its largest qpdf process, a program of its own.
      std::printf("%-14s %10.3f %10.1f %10.2f %10.1f %12s %14.2f %14s %10ld\n", ways[i].name,
                  r.seconds, files / r.seconds, mb * rounds / r.seconds, r.peakKiB / 1024.0, "-",
                  results[0].ok ? r.seconds / results[0].seconds : 0.0, "-", r.faults);
      continue;
    }
    std::printf(
        "%-14s %10.3f %10.1f %10.2f %10.1f %12.1f %14.2f %14.2f %10ld\n", ways[i].name, r.seconds,
        files / r.seconds, mb * rounds / r.seconds, r.peakKiB / 1024.0,
        (r.peakKiB - idleKiB) / 1024.0, results[0].ok ? r.seconds / results[0].seconds : 0.0,
        results[0].ok
            ? static_cast<double>(r.peakKiB - idleKiB) / std::max(1L, results[0].peakKiB - idleKiB)
            : 0.0,
        r.faults - idle.faults);
  }
  std::printf("(idle child: %.1f MiB; largest input: %.2f MB)\n", idleKiB / 1024.0,
              static_cast<double>(std::max_element(inputs.begin(), inputs.end(),
                                                   [](const Input& a, const Input& b) {
                                                     return a.bytes.size() < b.bytes.size();
                                                   })
                                      ->bytes.size()) /
                  1e6);
}

// The PDF files of a folder (recursively) or the file itself, that this library (and libqpdf,
// unless libraryOnly) loads.
std::vector<Input> Collect(const std::string& where, bool libraryOnly) {
  std::vector<std::string> paths;
  if (fs::is_directory(where)) {
    for (const auto& e : fs::recursive_directory_iterator(where))
      if (e.is_regular_file() && e.path().extension() == ".pdf") paths.push_back(e.path());
  } else {
    paths.push_back(where);
  }
  std::sort(paths.begin(), paths.end());
  std::vector<Input> all;
  for (const std::string& p : paths)
    all.push_back({p, ReadAll(p), PasswordOf(p)});
  // Tried in a child, so that the timed children do not start in a heap that both libraries
  // have already used and left (every page of it copied afresh when written).
  std::vector<char> loads(all.size(), 0);
  int fds[2];
  if (pipe(fds) != 0) return {};
  std::fflush(stdout);
  const pid_t pid = fork();
  if (pid < 0) return {};
  if (pid == 0) {
    close(fds[0]);
    for (size_t i = 0; i < all.size(); ++i) {
      try {
        if (OursOne(all[i]) == 0) throw std::runtime_error("password refused");
        if (!libraryOnly) QpdfOne(all[i]);
        loads[i] = 1;
      } catch (const std::exception& e) {
        std::printf("  left out %s: %s\n", all[i].path.c_str(), e.what());
      }
    }
    std::fflush(stdout);
    (void)!write(fds[1], loads.data(), loads.size());
    _exit(0);
  }
  close(fds[1]);
  size_t got = 0;
  for (ssize_t n;
       got < loads.size() && (n = read(fds[0], loads.data() + got, loads.size() - got)) > 0;)
    got += static_cast<size_t>(n);
  close(fds[0]);
  waitpid(pid, nullptr, 0);
  std::vector<Input> inputs;
  for (size_t i = 0; i < all.size(); ++i)
    if (loads[i] != 0) inputs.push_back(std::move(all[i]));
  return inputs;
}

}  // namespace

int main(int argc, char** argv) {
  // The library and libqpdf with the C heap as the programs set it.
  platform::KeepFreedHeapMemory();
  int rounds = 1;
  bool libraryOnly = false, inProcess = false, loadOnly = false;
  std::vector<std::string> wheres;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--rounds" && i + 1 < argc)
      rounds = std::max(1, std::atoi(argv[++i]));
    else if (a == "--library-only")
      libraryOnly = inProcess = true;
    else if (a == "--load-only")
      loadOnly = libraryOnly = inProcess = true;
    else if (a == "--in-process")
      inProcess = true;
    else
      wheres.push_back(a);
  }
  std::string joined;
  if (wheres.empty()) {
    std::string corpus = fs::path(SV_SOURCE_DIR).parent_path() / "shared/corpus";
    if (!fs::is_directory(corpus)) {
      std::fprintf(stderr, "corpus not found at %s; give a folder\n", corpus.c_str());
      return 2;
    }
    wheres.push_back(corpus);
    // One large document: every manual of the corpus joined.
    joined =
        fs::temp_directory_path() / ("rewrite-bench-joined-" + std::to_string(getpid()) + ".pdf");
    std::string cmd = "qpdf --empty --pages " + corpus + "/docs/*.pdf -- " + joined;
    if (std::system(cmd.c_str()) == 0) wheres.push_back(joined);
  }
  for (const std::string& w : wheres) {
    std::vector<Input> inputs = Collect(w, libraryOnly);
    const char* title = w == joined ? "joined manuals (one large file)" : w.c_str();
    if (inProcess)
      ReportInProcess(title, inputs, rounds, libraryOnly, loadOnly);
    else
      Report(title, inputs, rounds);
  }
  if (!joined.empty()) fs::remove(joined);
  return 0;
}
