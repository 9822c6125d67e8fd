// The library engine's own pieces: the header version patch, the permissions a job leaves, the
// date text of the document information, and a rewrite that the disk stops part way.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <regex>
#include <set>
#include <thread>

#include "apps/sorvane/LibraryEngine.h"
#include "pdf/document/zoPDFDoc.h"
#include "platform/FileSystem.h"
#include "tests/apps/sorvane/SorvaneTestSupport.h"

using namespace sv::test;

namespace {

class LibraryEngine : public SorvaneFolderTest {};

}  // namespace

TEST_F(LibraryEngine, ThePatchChangesOnlyTheThreeVersionDigitsAfterTheFirstPercent) {
  const std::string body = "\r\n%\xE2\xE3\xCF\xD3\r\n1 0 obj\r\n<< >>\r\nendobj\r\n%%EOF\r\n";
  const std::string farAway = std::string(3000, 'x') + "%PDF-1.4" + body;
  struct Case {
    int verEn, ver;
    std::string in, out;
  } cases[] = {
      {1, 0, "%PDF-1.4" + body, "%PDF-1.3" + body},
      {1, 2, "%pdf-1.4" + body, "%pdf-1.5" + body},  // letters in either case
      {1, 1, "%PdF-1.7" + body, "%PdF-1.4" + body},
      {1, 9, "%PDF-1.4" + body, "%PDF-1.2" + body},          // any other Ver: 1.2
      {1, 0, "junk%PDF-1.4" + body, "junk%PDF-1.3" + body},  // after junk
      {1, 0, farAway, std::string(3000, 'x') + "%PDF-1.3" + body},
      // a header across the end of the first 2048 bytes read
      {1, 2, std::string(2044, ' ') + "%PDF-1.4" + body,
       std::string(2044, ' ') + "%PDF-1.5" + body},
      {0, 0, "%PDF-1.4" + body, "%PDF-1.4" + body},  // VerEn off
      {1, 0, "%%EOF %PDF-1.4", "%%EOF %PDF-1.4"},    // only the first "%" counts
      {1, 0, "%PDF_1.4" + body, "%PDF_1.4" + body},
      {1, 0, "no percent at all", "no percent at all"},
      {1, 0, "%PDF-1.", "%PDF-1."},  // too short: left as it is
      {1, 0, "%PDF", "%PDF"},
      {1, 0, "", ""},
  };
  // The patch works on the new file beside the target, through its descriptor.
  const std::string path = Prog() + "temp/file.pdf";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in.substr(0, 20));
    WriteFile(path, "the old file");
    JobSettings.VerEn = c.verEn;
    JobSettings.Ver = c.ver;
    platform::ReplacementFile file;
    ASSERT_TRUE(file.Create(path));
    ASSERT_TRUE(file.Write(c.in));
    PatchHeaderVersion(file);
    EXPECT_EQ(ReadFile(path), "the old file");
    ASSERT_TRUE(file.Commit());
    EXPECT_EQ(ReadFile(path), c.out);
  }
  platform::ReplacementFile closed;
  JobSettings.VerEn = 1;
  EXPECT_THROW(PatchHeaderVersion(closed), rtl::EStreamError);
}

TEST_F(LibraryEngine, EachRestrictionFlagRemovesItsPermissions) {
  struct Case {
    int pr, md, cp, an, da, ff, ac;
    unsigned bits;
  } cases[] = {
      {0, 0, 0, 0, 0, 0, 0, 255},
      {1, 0, 0, 0, 0, 0, 0, 123},  // printing and high-resolution printing
      {0, 1, 0, 0, 0, 0, 0, 255 & ~(1u << AllowModify)},
      {0, 0, 1, 0, 0, 0, 0, 255 & ~(1u << AllowCopy)},
      {0, 0, 0, 1, 0, 0, 0, 255 & ~(1u << AllowAnnotation)},
      {0, 0, 0, 0, 1, 0, 0, 255 & ~(1u << AllowDocAssembly)},
      {0, 0, 0, 0, 0, 1, 0, 255 & ~(1u << AllowFormFill)},
      {0, 0, 0, 0, 0, 0, 1, 255 & ~(1u << AllowAccessibility)},
      {1, 1, 1, 1, 1, 1, 1, 0},
      {0, 1, 1, 1, 1, 1, 1, (1u << AllowPrint) | (1u << AllowHighResPrint)},  // the defaults
  };
  for (const Case& c : cases) {
    JobSettings = TJobSettings();
    JobSettings.PR = c.pr, JobSettings.MD = c.md, JobSettings.CP = c.cp, JobSettings.AN = c.an;
    JobSettings.DA = c.da, JobSettings.FF = c.ff, JobSettings.AC = c.ac;
    EXPECT_EQ(JobUserPermissions().Bits(), c.bits)
        << c.pr << c.md << c.cp << c.an << c.da << c.ff << c.ac;
  }
  JobSettings.PR = 7;  // any non-zero value is on
  EXPECT_FALSE(JobUserPermissions().Contains(AllowPrint));
}

TEST_F(LibraryEngine, TheDateTextIsTheLocalTimeToTheMinute) {
  const std::time_t before = std::time(nullptr);
  const std::string text = InfoDateText();
  ASSERT_TRUE(std::regex_match(text, std::regex(R"(\d{4}/\d{2}/\d{2} \d{2}:\d{2})"))) << text;
  std::tm tm{};
  localtime_r(&before, &tm);
  char expected[32];
  std::strftime(expected, sizeof expected, "%Y/%m/%d %H:%M", &tm);
  const std::time_t after = std::time(nullptr);
  std::tm tm2{};
  localtime_r(&after, &tm2);
  char expected2[32];
  std::strftime(expected2, sizeof expected2, "%Y/%m/%d %H:%M", &tm2);
  EXPECT_TRUE(text == expected || text == expected2) << text;
}

TEST_F(LibraryEngine, ADiskThatFillsUpAtAnyByteLeavesTheFileAsItWasAndNoTemporaryFile) {
  SV_REQUIRE_JUDGES("qpdf", "pdfinfo");
  // A small file (one write) and, with the corpus, one of many 64 KiB blocks.
  std::vector<std::string> inputs = {SourceDir() + "examples/outline.pdf"};
  if (HasCorpus()) inputs.push_back(CorpusDir() + "docs/fontconfig-user.pdf");
  JobSettings.UserPassWord = "user";
  JobSettings.MasterPassWord = "owner";
  auto doc = TzoPDFDocument::Create();
  for (const std::string& input : inputs) {
    SCOPED_TRACE(input);
    const std::string folder = Prog() + "job/";
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    const std::string path = folder + "in.pdf";
    CopyFile(input, path);
    const std::string original = ReadFile(path);
    // The size of the rewritten file, from a copy (give or take a few bytes: the escapes of the
    // encrypted document information vary with the file identifier).
    CopyFile(input, folder + "whole.pdf");
    ASSERT_EQ(LockWithLibrary(*doc, folder + "whole.pdf"), 0);
    const size_t full = ReadFile(folder + "whole.pdf").size();
    EXPECT_EQ(RunCommand({"pdfinfo", "-upw", "user", folder + "whole.pdf"}).exitCode, 0);
    std::filesystem::remove(folder + "whole.pdf");
    for (size_t limit :
         {size_t(0), size_t(9), size_t(17), full / 3, size_t(65536), size_t(65537), full - 100}) {
      if (limit >= full) continue;
      SCOPED_TRACE("limit " + std::to_string(limit));
      bool raised = false;
      {
        FileSizeLimit fill(limit);
        try {
          LockWithLibrary(*doc, path);
        } catch (const rtl::EStreamError&) {
          raised = true;
        }
      }
      EXPECT_TRUE(raised);
      EXPECT_TRUE(ReadFile(path) == original) << "the input changed";
      EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder),
                              std::filesystem::directory_iterator()),
                1);
      EXPECT_EQ(std::distance(std::filesystem::directory_iterator(TempFolder()),
                              std::filesystem::directory_iterator()),
                0);
    }
  }
}

namespace {

// A job folder for the pool's tests, with the outcomes of its rewrites as text.
struct PoolFixture {
  explicit PoolFixture(std::string where) : folder(std::move(where)) {
    std::filesystem::create_directories(folder);
    job.UserPassWord = "user";
    job.MasterPassWord = "owner";
  }
  std::string folder;
  TJobSettings job;  // the passwords Locked opens with
  std::string original = ReadFile(SourceDir() + "examples/plain.pdf");
  std::string Copy(const std::string& name) const {
    CopyFile(SourceDir() + "examples/plain.pdf", folder + name);
    return folder + name;
  }
  bool Locked(const std::string& name, const std::string& user = "user") const {
    return RunCommand({"pdfinfo", folder + name}).exitCode != 0 &&
           RunCommand({"pdfinfo", "-upw", user, folder + name}).exitCode == 0;
  }
  size_t Entries() const {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(folder),
                                             std::filesystem::directory_iterator()));
  }
};

std::string OutcomeText(const TRewritePool::TOutcome& o) {
  std::string text = std::to_string(o.result);
  if (o.failure) {
    try {
      std::rethrow_exception(o.failure);
    } catch (const rtl::Exception& e) {
      text += " failed";
    } catch (const std::exception& e) {
      text += " failed otherwise";
    }
  }
  if (o.committed) text += " committed";
  if (!o.error.empty()) text += " (" + o.error + ")";
  return text;
}

}  // namespace

TEST_F(LibraryEngine, ThePoolRewritesFilesAtOnceAndReportsEachOnceInTheOrderGiven) {
  SV_REQUIRE_JUDGES("qpdf", "pdfinfo");
  PoolFixture f(Prog() + "job/");
  TJobSettings& job = f.job;
  job.OpenPassWord = "not it";
  // A file whose owner saves a new version while it is read; one the job cannot open; one that
  // is not a PDF file; the others rewritten.
  std::vector<std::string> names;
  for (int i = 0; i < 8; ++i)
    names.push_back(f.Copy("plain" + std::to_string(i) + ".pdf"));
  const std::string changed = f.Copy("changed.pdf");
  const std::string locked = f.folder + "locked.pdf";
  ASSERT_EQ(RunCommand({"qpdf", "--allow-weak-crypto", "--encrypt", "secret", "o", "128", "--",
                        f.folder + "plain0.pdf", locked})
                .exitCode,
            0);
  const std::string lockedBytes = ReadFile(locked);
  const std::string junk = f.folder + "junk.pdf";
  WriteFile(junk, "not a PDF file");
  std::mutex hookMutex;
  bool changedOnce = false;
  bool heldOnce = false;
  bool laterEnded = false;
  std::set<std::thread::id> threads;
  int documents = 0;
  auto make = [&]() -> std::unique_ptr<TzoCustomPDFDocument> {
    ++documents;
    std::unique_ptr<TzoCustomPDFDocument> doc = TzoPDFDocument::Create();
    doc->OnStatusMessage = [&](TzoCustomPDFDocument* d, const std::string&) {
      bool hold = false;
      {
        std::lock_guard<std::mutex> lock(hookMutex);
        threads.insert(std::this_thread::get_id());
        if (d->WorkFileName() == changed && !changedOnce) {
          changedOnce = true;
          WriteFile(changed, "new version");
        }
        if (d->WorkFileName() == names[0] && !heldOnce) hold = heldOnce = true;
      }
      // The first file's rewrite waits until a later file has been put in place, so that an
      // engine reporting in the order the rewrites end is caught every time.
      if (!hold) return;
      const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(120);
      while (ReadFile(names[1]) == f.original && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      std::lock_guard<std::mutex> lock(hookMutex);
      laterEnded = ReadFile(names[1]) != f.original;
    };
    return doc;
  };
  std::vector<std::string> order = names;
  order.insert(order.begin() + 3, {changed, locked, junk});
  std::vector<std::string> reports;
  {
    TRewritePool pool(3, make);
    EXPECT_FALSE(pool.Busy());
    for (const std::string& path : order)
      pool.Start(path, job, [&reports, path](const TRewritePool::TOutcome& o) {
        reports.push_back(rtl::ExtractFileName(path) + " " + OutcomeText(o));
      });
    // What a rewrite reads is the job as it was given, whatever JobSettings says meanwhile.
    JobSettings.UserPassWord = "other";
    JobSettings.VerEn = 0;
    EXPECT_TRUE(pool.Busy());
    pool.Finish();
    EXPECT_FALSE(pool.Busy());
    pool.Finish();
  }
  std::vector<std::string> expected;
  for (const std::string& path : order) {
    const std::string name = rtl::ExtractFileName(path);
    if (path == changed)
      expected.push_back(name + " 0 (the file changed after it was read)");
    else if (path == locked)
      expected.push_back(name + " -1");
    else if (path == junk)
      expected.push_back(name + " -1 failed");
    else
      expected.push_back(name + " 0 committed");
  }
  EXPECT_TRUE(laterEnded) << "the second file was not rewritten while the first was held";
  EXPECT_EQ(reports, expected);
  EXPECT_EQ(documents, 3);  // one for each thread, each thread with one
  EXPECT_EQ(threads.size(), static_cast<size_t>(documents));
  for (const std::string& path : names) {
    const std::string name = rtl::ExtractFileName(path);
    EXPECT_TRUE(f.Locked(name)) << name;
    EXPECT_EQ(Field(RunCommand({"pdfinfo", "-upw", "user", path}).out, "PDF version"), "1.3")
        << name;
  }
  EXPECT_EQ(ReadFile(changed), "new version");
  EXPECT_TRUE(ReadFile(locked) == lockedBytes);
  EXPECT_EQ(ReadFile(junk), "not a PDF file");
  EXPECT_EQ(f.Entries(), order.size());  // no new file left beside them
}

TEST_F(LibraryEngine, APoolReportThatThrowsIsNotMadeAgainAndAPoolGoneMidwayLeavesNoHalfFile) {
  SV_REQUIRE_JUDGES("pdfinfo");
  PoolFixture f(Prog() + "job/");
  TJobSettings& job = f.job;
  // The rewrite of a.pdf waits until b.pdf has been handed over, so that no Start reports it.
  std::mutex holdMutex;
  std::condition_variable holdChanged;
  bool bStarted = false;
  auto make = [&]() -> std::unique_ptr<TzoCustomPDFDocument> {
    std::unique_ptr<TzoCustomPDFDocument> doc = TzoPDFDocument::Create();
    doc->OnStatusMessage = [&](TzoCustomPDFDocument* d, const std::string&) {
      if (rtl::ExtractFileName(d->WorkFileName()) != "a.pdf") return;
      std::unique_lock<std::mutex> lock(holdMutex);
      holdChanged.wait(lock, [&] { return bStarted; });
    };
    return doc;
  };
  std::vector<std::string> reports;
  auto note = [&reports](const std::string& name) {
    return [&reports, name](const TRewritePool::TOutcome& o) {
      reports.push_back(name + " " + OutcomeText(o));
    };
  };
  const std::vector<std::string> late = {"c.pdf", "d.pdf", "e.pdf", "f.pdf", "g.pdf"};
  {
    TRewritePool pool(2, make);
    int calls = 0;
    pool.Start(f.Copy("a.pdf"), job, [&](const TRewritePool::TOutcome&) {
      ++calls;
      throw rtl::EWriteError("the log is full");
    });
    pool.Start(f.Copy("b.pdf"), job, note("b.pdf"));
    {
      std::lock_guard<std::mutex> lock(holdMutex);
      bStarted = true;
    }
    holdChanged.notify_all();
    EXPECT_THROW(pool.Finish(), rtl::EWriteError);
    pool.Finish();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(reports, (std::vector<std::string>{"b.pdf 0 committed"}));
    // Gone with rewrites in flight or waiting: none of them is reported but those a later Start
    // found ended (in the order given); each file is either rewritten or as it was.
    for (const std::string& name : late)
      pool.Start(f.Copy(name), job, note(name));
  }
  ASSERT_GE(reports.size(), 1u);
  ASSERT_LT(reports.size(), 1 + late.size());  // the last one started is never reported
  for (size_t i = 1; i < reports.size(); ++i) {
    EXPECT_EQ(reports[i], late[i - 1] + " 0 committed");
    EXPECT_TRUE(f.Locked(late[i - 1])) << late[i - 1];
  }
  for (const char* name : {"a.pdf", "b.pdf"})
    EXPECT_TRUE(f.Locked(name)) << name;
  for (const std::string& name : late)
    EXPECT_TRUE(f.Locked(name) || ReadFile(f.folder + name) == f.original) << name;
  EXPECT_EQ(f.Entries(), 7u);
}

// A file whose load takes more than the pool's load memory is rewritten alone: it goes on at once
// when it is the oldest in flight, and the next file's load waits for it; under the limit the two
// run at once.
TEST_F(LibraryEngine, APoolHandsOverAFileLargerThanItsLoadMemoryAloneInsteadOfWaiting) {
  SV_REQUIRE_JUDGES("pdfinfo");
  PoolFixture f(Prog() + "job/");
  const int64_t size = static_cast<int64_t>(f.original.size());
  for (const int64_t limit : {size - 1, TRewritePool::kLoadMemory}) {
    SCOPED_TRACE("limit " + std::to_string(limit));
    std::mutex m;
    std::condition_variable changed;
    bool bLoading = false;
    bool aHeld = false;
    bool bWhileAHeld = false;
    auto make = [&]() -> std::unique_ptr<TzoCustomPDFDocument> {
      std::unique_ptr<TzoCustomPDFDocument> doc = TzoPDFDocument::Create();
      doc->OnStatusMessage = [&](TzoCustomPDFDocument* d, const std::string&) {
        const std::string name = rtl::ExtractFileName(d->WorkFileName());
        std::unique_lock<std::mutex> lock(m);
        if (name == "b.pdf") {
          bLoading = true;
          changed.notify_all();
        } else if (name == "a.pdf" && !aHeld) {
          aHeld = true;
          // Held until b.pdf loads, for long enough to see that it does not.
          const auto wait = limit < size ? std::chrono::seconds(2) : std::chrono::seconds(120);
          bWhileAHeld = changed.wait_for(lock, wait, [&] { return bLoading; });
        }
      };
      return doc;
    };
    std::vector<std::string> reports;
    {
      TRewritePool pool(2, make, limit);
      for (const char* name : {"a.pdf", "b.pdf"})
        pool.Start(f.Copy(name), f.job, [&reports, name](const TRewritePool::TOutcome& o) {
          reports.push_back(std::string(name) + " " + OutcomeText(o));
        });
      pool.Finish();
    }
    EXPECT_EQ(reports, (std::vector<std::string>{"a.pdf 0 committed", "b.pdf 0 committed"}));
    EXPECT_EQ(bWhileAHeld, limit >= size);
    for (const char* name : {"a.pdf", "b.pdf"})
      EXPECT_TRUE(f.Locked(name)) << name;
  }
}
