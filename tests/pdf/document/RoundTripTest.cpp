// Every file of the outside corpus, loaded with the passwords in its name and saved plain, with
// 40-bit RC4, compressed with 128-bit RC4, and with 128-bit RC4 in place (over the loaded file), is
// either judged
// whole by outside tools or refused at load with a library error and left byte for byte as it
// was. Prints a table: file, outcome, reason.
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "pdf/document/zoPDFDoc.h"
#include "tests/pdf/document/DocTestSupport.h"
#include "tests/pdf/document/WriterTestSupport.h"

using namespace sv::test;

namespace {

// The passwords a corpus file's name gives: "U=view,O=master" (peer) or "u=user_o=owner" (an
// empty user password written "u=_").
struct Passwords {
  std::string user, owner;
};

std::string Field(const std::string& name, const std::string& key, const std::string& stops) {
  size_t at = name.find(key);
  if (at == std::string::npos) return "";
  at += key.size();
  size_t end = name.find_first_of(stops, at);
  std::string v = name.substr(at, end == std::string::npos ? std::string::npos : end - at);
  return v == "_" ? "" : v;
}

Passwords PasswordsOf(const std::string& fileName) {
  std::string base = fileName.substr(0, fileName.size() - 4);  // without ".pdf"
  Passwords p;
  if (base.find("U=") != std::string::npos || base.find("O=") != std::string::npos) {
    p.user = Field(base, "U=", ",");
    p.owner = Field(base, "O=", ",");
  } else {
    p.user = Field(base, "u=", "_");
    p.owner = Field(base, "o=", "_");
  }
  return p;
}

// The corpus files that are refused, each with the library's message (or the password's refusal);
// every other file must round trip. Damaged files are among both.
const char* ExpectedRefusal(const std::string& name) {
  static const std::map<std::string, const char*> refused = {
      // AES and crypt filters, PDF 1.7, and user passwords the names do not give.
      {"V4-aes.pdf", "Unsupported encryption (/Filter /Standard /V 4 /R 4)"},
      {"V4.pdf", "Unsupported encryption (/Filter /Standard /V 4 /R 4)"},
      {"aes-128_u=user_o=owner.pdf", "Unsupported encryption (/Filter /Standard /V 4 /R 4)"},
      {"aes-256_u=user_o=owner.pdf", "Unsupported PDF Version (%PDF-1.7)"},
      {"enc-XI-R6,V5,O=master.pdf", "Unsupported PDF Version (%PDF-1.7)"},
      {"c-r2.pdf", "password refused (LoadFromFile answered false)"},
      {"c-r3.pdf", "password refused (LoadFromFile answered false)"},
      {"encrypted-40-bit-R3.pdf", "password refused (LoadFromFile answered false)"},
      // Damaged beyond reading: a file of five bytes, a header after junk, cross-reference data
      // that cannot be read or whose chain loops, a number that is none.
      {"bad1.pdf", "Invalid PDF Header (oops)"},
      {"leading-junk.pdf", "Invalid PDF Header (leading)"},
      {"append-xref-loop.pdf", "File is corrupted"},
      {"bad-xref.pdf", "File is corrupted"},
      {"bad33.pdf", "File is corrupted"},
      {"bad13.pdf", "'{' is not a valid integer value"},
  };
  auto it = refused.find(name);
  return it == refused.end() ? nullptr : it->second;
}

// A small pool of threads for the outside judges, so that files are judged while the next ones
// are loaded and saved.
class JudgePool {
 public:
  explicit JudgePool(unsigned n) {
    for (unsigned i = 0; i < n; ++i)
      threads_.emplace_back([this] { Run(); });
  }
  ~JudgePool() {
    {
      std::lock_guard<std::mutex> l(m_);
      done_ = true;
    }
    cv_.notify_all();
    for (auto& t : threads_)
      t.join();
  }
  void Post(std::function<void()> job) {
    {
      std::lock_guard<std::mutex> l(m_);
      jobs_.push_back(std::move(job));
    }
    cv_.notify_one();
  }

 private:
  void Run() {
    for (;;) {
      std::function<void()> job;
      {
        std::unique_lock<std::mutex> l(m_);
        cv_.wait(l, [this] { return done_ || !jobs_.empty(); });
        if (jobs_.empty()) return;
        job = std::move(jobs_.front());
        jobs_.pop_front();
      }
      job();
    }
  }
  std::mutex m_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> jobs_;
  bool done_ = false;
  std::vector<std::thread> threads_;
};

struct Variant {
  const char* name;
  bool encrypt;
  TzoPDFEncryptionLevel level;
  const char* user;
  const char* owner;
  TzoUserPermissions permissions;
  const char* encryptedLine;  // what pdfinfo says on its "Encrypted" line
  bool compress = false;      // Flate in front of the streams' own filters
};

const Variant kVariants[] = {
    {"plain", false, el40bit, "", "", TzoUserPermissions::All(), "no"},
    {"rc4-40", true, el40bit, "u40", "o40", TzoUserPermissions{AllowCopy, AllowAnnotation},
     "yes (print:no copy:yes change:no addNotes:yes algorithm:RC4)"},
    {"flate-rc4-128", true, el128bit, "uf", "of", TzoUserPermissions::All(),
     "yes (print:yes copy:yes change:yes addNotes:yes algorithm:RC4)", true},
    {"rc4-128", true, el128bit, "u128", "o128",
     TzoUserPermissions{AllowPrint, AllowFormFill, AllowAccessibility, AllowHighResPrint},
     "yes (print:yes copy:no change:no addNotes:no algorithm:RC4)"},
};

struct Row {
  std::string file;
  std::string outcome;  // "round trip", "refused", "FAILED"
  std::string reason;
  std::mutex m;
  void Fail(const std::string& why) {
    std::lock_guard<std::mutex> l(m);
    outcome = "FAILED";
    reason += (reason.empty() ? "" : "; ") + why;
  }
};

// The WARNING and ERROR lines of qpdf --check.
std::vector<std::string> QpdfWarnings(const std::string& path, const std::string& password) {
  std::vector<std::string> argv = {"qpdf", "--check"};
  if (!password.empty()) argv.push_back("--password=" + password);
  argv.push_back(path);
  CommandResult r = RunCommand(argv);
  std::vector<std::string> lines;
  std::string all = r.out + r.err;
  for (const char* kind : {"WARNING", "ERROR"})
    for (size_t at = all.find(kind); at != std::string::npos; at = all.find(kind, at + 1))
      lines.push_back(all.substr(at, all.find('\n', at) - at));
  return lines;
}

// What the judges know of the input.
struct Reference {
  std::string path;                   // a plain copy made by qpdf
  std::string text;                   // pdftotext of it
  std::vector<std::string> warnings;  // qpdf --check of the input itself
  bool structure = true;              // whether qpdf's JSON of it can be compared
};

// All judgements of one output against the reference of its input; "" when it holds. An input
// that qpdf already warns about (a damaged stream) may keep that damage, and no more.
std::string Judge(const Reference& ref, const std::string& out, const std::string& upw,
                  const std::string& opw, const std::string& encryptedLine,
                  const std::string& workDir, bool compressed) {
  if (ref.warnings.empty()) {
    CommandResult v = RunCommand({SharedToolsDir() + "verify-rewrite", ref.path, out, upw, opw});
    // An outline loop of the input is written once round: the tool counts the items of the
    // loop twice in the input; the deep comparison below counts every item once in both.
    if (v.exitCode != 0 && v.out.rfind("structure: outlines differ", 0) != 0)
      return "verify-rewrite: " + v.out + v.err;
    std::string check = QpdfCheck(out, upw);
    if (!check.empty()) return check;
  } else {
    std::vector<std::string> w = QpdfWarnings(out, upw);
    // A damaged stream wrapped in Flate is reported by qpdf's decoders in their own words.
    if (compressed)
      w.erase(std::remove_if(
                  w.begin(), w.end(),
                  [](const std::string& l) { return l.find("stream") != std::string::npos; }),
              w.end());
    if (w.size() > ref.warnings.size()) return "qpdf --check: " + w.back();
  }
  auto info = PdfInfo(out, upw);
  if (info.empty()) return "pdfinfo cannot open it";
  if (info["Pages"] != PdfInfo(ref.path)["Pages"]) return "pages " + info["Pages"];
  if (!encryptedLine.empty() && info["Encrypted"] != encryptedLine)
    return "pdfinfo Encrypted: " + info["Encrypted"];
  if (!opw.empty() && PdfInfo(out, opw, "-opw").empty()) return "owner password refused";
  if (!upw.empty() && !PdfInfo(out).empty()) return "opens without the user password";
  const std::optional<std::string> text = PdfText(out, upw);
  if (!text) return "pdftotext failed on the output";
  if (*text != ref.text) return "pdftotext differs";
  std::filesystem::create_directories(workDir + "a");
  std::filesystem::create_directories(workDir + "b");
  const std::vector<std::string> before = RenderPages(ref.path, "", 12, workDir + "a/");
  if (before.empty()) return "pdftoppm failed on the reference";
  const std::vector<std::string> after = RenderPages(out, upw, 12, workDir + "b/");
  if (after.empty()) return "pdftoppm failed on the output";
  if (before != after) return "rendering differs";
  if (!ref.structure) return "";
  std::string s = CompareStructure(ref.path, out, "", upw, compressed);
  if (!s.empty()) return "structure: " + s;
  return "";
}

std::string OneLine(std::string s) {
  for (char& c : s)
    if (c == '\n' || c == '\r') c = ' ';
  while (!s.empty() && s.back() == ' ')
    s.pop_back();
  return s;
}

}  // namespace

TEST(RoundTripTest, EveryCorpusFileRoundTripsOrIsRefusedUnchanged) {
  SV_REQUIRE_CORPUS();
  SV_REQUIRE_JUDGES("qpdf", "pdfinfo", "pdftoppm", "../shared/tools");
  TempDir tmp;
  std::vector<std::string> files;
  for (const char* sub : {"docs", "encrypted", "peer"})
    for (const std::string& f : CorpusFiles(sub))
      if (!std::getenv("SV_ROUND_TRIP_ONLY") ||
          f.find(std::getenv("SV_ROUND_TRIP_ONLY")) != std::string::npos)
        files.push_back(f);  // SV_ROUND_TRIP_ONLY=part-of-a-name narrows the run by hand
  ASSERT_FALSE(files.empty());

  std::vector<std::unique_ptr<Row>> rows;
  {
    JudgePool pool(std::max(2u, std::min(6u, std::thread::hardware_concurrency())));
    int index = 0;
    for (const std::string& path : files) {
      const std::string name = path.substr(path.find_last_of('/') + 1);
      const std::string folder = path.substr(0, path.find_last_of('/'));
      const std::string label = folder.substr(folder.find_last_of('/') + 1) + "/" + name;
      rows.push_back(std::make_unique<Row>());
      Row& row = *rows.back();
      row.file = label;
      const std::string dir = tmp / (std::to_string(index++) + "/");
      std::filesystem::create_directories(dir);
      const std::string work = dir + name;
      CopyFile(path, work);
      const std::string original = ReadFile(path);
      const Passwords pw = PasswordsOf(name);

      auto doc = TzoPDFDocument::Create();
      doc->SetShowSetupDialog(false);
      doc->OnPassword = pw.owner.empty() ? doctest::PasswordAnswers({pw.user})
                                         : doctest::PasswordAnswers({pw.owner, pw.user});
      bool loaded = false;
      try {
        loaded = doc->LoadFromFile(work);
        if (!loaded) row.reason = "password refused (LoadFromFile answered false)";
      } catch (const rtl::Exception& e) {
        row.reason = e.Message();
      } catch (const std::exception& e) {
        row.Fail(std::string("not a library error: ") + e.what());
      }
      if (!loaded) {
        if (row.outcome.empty()) row.outcome = "refused";
        if (ReadFile(work) != original) row.Fail("refused file changed");
        if (!ExpectedRefusal(name))
          row.Fail("must round trip");
        else if (row.outcome == "refused" && row.reason != ExpectedRefusal(name))
          row.Fail(std::string("must be refused with: ") + ExpectedRefusal(name));
        continue;
      }
      row.outcome = "round trip";
      if (ExpectedRefusal(name)) row.Fail("loaded, but must be refused");

      // The judges compare with a plain copy of the input made by qpdf (stream data as it is).
      auto ref = std::make_shared<Reference>();
      ref->path = dir + "reference.pdf";
      const std::string openPassword = pw.owner.empty() ? pw.user : pw.owner;
      std::vector<std::string> argv = {"qpdf", "--decrypt", "--stream-data=preserve"};
      if (!openPassword.empty()) argv.push_back("--password=" + openPassword);
      argv.push_back(path);
      argv.push_back(ref->path);
      int rc = RunCommand(argv).exitCode;
      if (rc != 0 && rc != 3) {
        row.Fail("qpdf cannot make the reference (exit " + std::to_string(rc) + ")");
        continue;
      }
      const std::optional<std::string> text = PdfText(ref->path);
      if (!text) {
        row.Fail("pdftotext failed on the reference");
        continue;
      }
      ref->text = *text;
      ref->warnings = QpdfWarnings(path, openPassword);
      if (!ref->warnings.empty())
        row.reason = "qpdf warns about the input itself: " + OneLine(ref->warnings.front());
      // A damaged input whose structure qpdf's JSON cannot give (a page tree loop) is judged by
      // the other judges only, and the table says so; for any other input that is a failure.
      const int json = RunCommand({"qpdf", "--json", "--json-key=pages", ref->path}).exitCode;
      if (!ref->warnings.empty() && json != 0 && json != 3) {
        ref->structure = false;
        row.reason += "; its structure is not compared (qpdf's JSON cannot read it)";
      }

      const bool locked = !doc->Encryption().CanChange();
      for (const Variant& v : kVariants) {
        if (locked && v.encrypt) continue;
        const bool inPlace = std::string(v.name) == "rc4-128";
        const std::string out = inPlace ? work : dir + v.name + ".pdf";
        std::string upw = v.user, opw = v.owner, line = v.encryptedLine;
        try {
          if (locked) {
            // Opened with the user password only: the settings cannot change, so the file is
            // saved with its own encryption.
            upw = pw.user;
            opw.clear();
            line.clear();
          } else {
            doc->Encryption().SetEnabled(v.encrypt);
            doc->Encryption().SetLevel(v.level);
            doc->Encryption().SetUserPassword(v.user);
            doc->Encryption().SetOwnerPassword(v.owner);
            doc->Encryption().SetUserPermissions(v.permissions);
          }
          doc->Compression().Enabled = v.compress;
          doc->Compression().Method = 0;
          doc->Compression().Level = 2;
          if (!doc->SaveToFile(out, 2)) row.Fail(std::string(v.name) + ": not saved");
        } catch (const std::exception& e) {
          row.Fail(std::string(v.name) + " save: " + e.what());
          continue;
        }
        if (locked) {
          std::lock_guard<std::mutex> l(row.m);
          row.reason = "opened with the user password only: saved with its own encryption" +
                       (row.reason.empty() ? "" : "; " + row.reason);
        }
        // The judges' own copy: the file in place is saved over by later variants.
        const std::string judged = dir + "judged-" + v.name + ".pdf";
        CopyFile(out, judged);
        const std::string workDir = dir + v.name + "-pages/";
        pool.Post([&row, ref, judged, upw, opw, line, v, workDir] {
          std::string verdict = Judge(*ref, judged, upw, opw, line, workDir, v.compress);
          if (!verdict.empty()) row.Fail(std::string(v.name) + ": " + OneLine(verdict));
        });
        if (locked) break;
      }
    }
  }

  // The table.
  size_t width = 4;
  for (auto& r : rows)
    width = std::max(width, r->file.size());
  std::string table = "\n";
  char line[2048];
  std::snprintf(line, sizeof line, "%-*s  %-10s  %s\n", static_cast<int>(width), "file", "outcome",
                "reason");
  table += line;
  int roundTrips = 0, refused = 0, failed = 0;
  for (auto& r : rows) {
    std::snprintf(line, sizeof line, "%-*s  %-10s  %.1500s\n", static_cast<int>(width),
                  r->file.c_str(), r->outcome.c_str(), r->reason.c_str());
    table += line;
    if (r->outcome == "round trip") ++roundTrips;
    if (r->outcome == "refused") ++refused;
    if (r->outcome == "FAILED") ++failed;
  }
  std::printf("%s%d files: %d round trip, %d refused, %d failed\n", table.c_str(),
              static_cast<int>(rows.size()), roundTrips, refused, failed);
  EXPECT_EQ(failed, 0) << table;
}
