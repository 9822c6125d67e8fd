// The library engine's own pieces: the header version patch, the permissions a job leaves, the
// date text of the document information, and a rewrite that the disk stops part way.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <regex>

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

TEST_F(LibraryEngine, TheCommitterEndsOneCommitAtATimeAndReportsEachExactlyOnce) {
  JobSettings.UserPassWord = "user";
  JobSettings.MasterPassWord = "owner";
  const std::string folder = Prog() + "job/";
  std::filesystem::create_directories(folder);
  auto doc = TzoPDFDocument::Create();
  const std::string original = ReadFile(SourceDir() + "examples/plain.pdf");
  // A copy of the example saved into its new file, not yet in place.
  auto saved = [&](const std::string& name) {
    CopyFile(SourceDir() + "examples/plain.pdf", folder + name);
    std::unique_ptr<TLibraryRewrite> rewrite;
    EXPECT_EQ(SaveWithLibrary(*doc, folder + name, rewrite), 0);
    EXPECT_TRUE(ReadFile(folder + name) == original) << name << " replaced before its commit";
    return rewrite;
  };
  auto locked = [&](const std::string& name) {
    return RunCommand({"pdfinfo", folder + name}).exitCode != 0 &&
           RunCommand({"pdfinfo", "-upw", "user", folder + name}).exitCode == 0;
  };
  std::vector<std::string> ended;
  auto note = [&](const std::string& name) {
    return [&ended, name](bool committed, const std::string& error) {
      ended.push_back(name + (committed ? " OK" : " NG " + error));
    };
  };
  {
    TRewriteCommitter committer;
    committer.Finish();  // nothing in flight
    committer.Start(saved("a.pdf"), note("a"));
    EXPECT_TRUE(committer.Busy());
    // The next start ends the commit in flight first and reports it on this thread.
    auto b = saved("b.pdf");
    committer.Start(std::move(b), note("b"));
    EXPECT_EQ(ended, (std::vector<std::string>{"a OK"}));
    committer.Finish();
    committer.Finish();
    EXPECT_FALSE(committer.Busy());
    // Changed between its save and its commit: left as it was changed.
    auto c = saved("c.pdf");
    WriteFile(folder + "c.pdf", "new version");
    committer.Start(std::move(c), note("c"));
    committer.Finish();
    EXPECT_EQ(ended, (std::vector<std::string>{"a OK", "b OK",
                                               "c NG the file changed after it was read"}));
    EXPECT_EQ(ReadFile(folder + "c.pdf"), "new version");
    // A report that throws is not made twice, and the commits go on.
    int calls = 0;
    committer.Start(saved("d.pdf"), [&](bool, const std::string&) {
      ++calls;
      throw rtl::EWriteError("the log is full");
    });
    EXPECT_THROW(committer.Finish(), rtl::EWriteError);
    committer.Finish();
    EXPECT_EQ(calls, 1);
    // Gone with a commit in flight: the commit is ended, not reported.
    committer.Start(saved("e.pdf"), note("e"));
  }
  EXPECT_EQ(ended.size(), 3u);
  for (const char* name : {"a.pdf", "b.pdf", "d.pdf", "e.pdf"})
    EXPECT_TRUE(locked(name)) << name;
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder),
                          std::filesystem::directory_iterator()),
            5);
}
