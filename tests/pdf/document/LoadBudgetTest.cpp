// What one file may cost: the load budget for decoded and copied bytes, and stream data that
// never run into the next object. The two files of fixtures/reader/make-fixtures.py --bombs
// (field values that decode to gigabytes, streams that all run to one shared "endstream") are
// refused with a clear error by a load that stays small, in a child process whose address space
// is limited.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <zlib.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <new>

#include "pdf/core/zoPDFResStrs.h"
#include "tests/pdf/document/DocTestSupport.h"

using namespace doctest;

namespace {

constexpr int64_t kMiB = 1024 * 1024;

// The library setting for one test, put back afterwards.
class BudgetSetting {
 public:
  BudgetSetting(int64_t multiple, int64_t allowance)
      : multiple_(LoadBudgetMultiple()), allowance_(LoadBudgetAllowance()) {
    SetLoadBudget(multiple, allowance);
  }
  ~BudgetSetting() { SetLoadBudget(multiple_, allowance_); }
  BudgetSetting(const BudgetSetting&) = delete;
  BudgetSetting& operator=(const BudgetSetting&) = delete;

 private:
  int64_t multiple_, allowance_;
};

struct ChildLoad {
  std::string outcome;   // the load's error, "loaded", or how the child ended
  int64_t peakKiB = 0;   // the child's largest resident size
  bool limited = false;  // whether the address space was limited
};

// LoadFromFile of path in a child process, its address space limited to limitMiB (not under
// AddressSanitizer, which needs far more address space for itself) and its time to two minutes;
// a loaded document is saved to saveTo when that is given ("saved" then tells).
ChildLoad LoadInChild(const std::string& path, int64_t limitMiB, const std::string& saveTo = "") {
  ChildLoad r;
#ifndef SV_UNDER_ASAN
  r.limited = true;
#endif
  int fds[2];
  if (pipe(fds) != 0) {
    r.outcome = "no pipe";
    return r;
  }
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    if (r.limited) {
      rlimit l{static_cast<rlim_t>(limitMiB * kMiB), static_cast<rlim_t>(limitMiB * kMiB)};
      setrlimit(RLIMIT_AS, &l);
    }
    alarm(120);
    std::string outcome;
    try {
      auto doc = TzoPDFDocument::Create();
      outcome = doc->LoadFromFile(path) ? "loaded" : "refused";
      if (outcome == "loaded" && !saveTo.empty()) {
        doc->SetShowSetupDialog(false);
        doc->SaveToFile(saveTo, 2);
        outcome = "saved";
      }
    } catch (const std::bad_alloc&) {
      outcome = "out of memory";
    } catch (const std::exception& e) {
      outcome = e.what();
    }
    (void)!write(fds[1], outcome.data(), outcome.size());
    _exit(0);
  }
  close(fds[1]);
  char buf[512];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
    if (n > 0) r.outcome.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  int status = 0;
  rusage usage{};
  if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) {
    r.outcome = "no child";
    return r;
  }
  if (WIFSIGNALED(status)) r.outcome = "killed by signal " + std::to_string(WTERMSIG(status));
  r.peakKiB = usage.ru_maxrss;
  return r;
}

TEST(LoadBudget, BombsAreRefusedByALoadThatStaysSmall) {
  SV_REQUIRE_JUDGES("python3");
  sv::test::TempDir dir;
  sv::test::CommandResult made = sv::test::RunCommand(
      {"python3", sv::test::SourceDir() + "tests/pdf/document/fixtures/reader/make-fixtures.py",
       "--bombs", dir.Path()});
  ASSERT_EQ(made.exitCode, 0) << made.err;
  const struct {
    const char* file;
    std::string error;
  } cases[] = {
      {"bomb-field-values.pdf",
       rtl::Format(SLoadBudgetExceeded,
                   LoadBudgetFor(sv::test::ReadFile(dir / "bomb-field-values.pdf").size()))},
      {"bomb-shared-endstream.pdf", "Expected PDF endstream"},
  };
  bool limited = false;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    ChildLoad l = LoadInChild(dir / c.file, 1024);
    EXPECT_EQ(l.outcome, c.error);
    // Without the budget the bombs reach gigabytes; under AddressSanitizer its quarantine and
    // shadow memory add a few hundred megabytes to any load.
    EXPECT_LT(l.peakKiB, (l.limited ? 512 : 1024) * 1024);
    limited = l.limited;
  }
  if (!limited) GTEST_SKIP() << "under AddressSanitizer the address space was not limited";
}

TEST(LoadBudget, TheSettingAndWhatItGivesAFile) {
  EXPECT_EQ(LoadBudgetMultiple(), kDefaultLoadBudgetMultiple);
  EXPECT_EQ(LoadBudgetAllowance(), kDefaultLoadBudgetAllowance);
  EXPECT_EQ(LoadBudgetFor(1000), 1000 + 64 * kMiB);
  EXPECT_EQ(LoadBudgetFor(0), 64 * kMiB);
  EXPECT_EQ(LoadBudgetFor(INT64_MAX - 1), INT64_MAX);  // no overflow
  EXPECT_THROW(SetLoadBudget(-1, 0), rtl::Exception);
  EXPECT_THROW(SetLoadBudget(1, -1), rtl::Exception);
  EXPECT_EQ(LoadBudgetMultiple(), kDefaultLoadBudgetMultiple);
  {
    BudgetSetting small(2, 100);
    EXPECT_EQ(LoadBudgetFor(1000), 2100);
  }
  EXPECT_EQ(LoadBudgetFor(1000), 1000 + 64 * kMiB);
}

// A file whose size claims far more than its data (a sparse file: holes read as zeros) or whose
// many small objects cost many times its size is refused quickly, by a load that stays small,
// with the reason; the file is left as it was.
TEST(LoadBudget, SparseFilesAndObjectBombsAreRefusedByALoadThatStaysSmall) {
  if (!sv::test::HasCommand("python3")) GTEST_SKIP() << "python3 is needed to make the files";
  sv::test::TempDir dir;
  constexpr int64_t kGiB = int64_t{1} << 30;
  // Six gigabytes of holes; the same with a header at the start and a trailer at the end.
  auto sparse = [&](const std::string& name, const std::string& head, const std::string& tail) {
    rtl::TFileStream f(dir / name, rtl::TFileStream::fmCreate);
    f.SetSize(6 * kGiB);
    f.WriteString(head);
    f.SetPosition(6 * kGiB - static_cast<int64_t>(tail.size()));
    f.WriteString(tail);
  };
  sparse("holes.pdf", "", "");
  sparse("sparse.pdf", "%PDF-1.4\n",
         "xref\n0 1\n0000000000 65535 f \ntrailer\n<< /Size 1 >>\nstartxref\n" +
             std::to_string(6 * kGiB - 77) + "\n%%EOF\n");
  struct stat st;
  ASSERT_EQ(::stat((dir / "holes.pdf").c_str(), &st), 0);
  if (int64_t{st.st_blocks} * 512 >= 6 * kGiB) GTEST_SKIP() << "this file system keeps no holes";
  sv::test::CommandResult made = sv::test::RunCommand(
      {"python3", sv::test::SourceDir() + "tests/pdf/document/fixtures/reader/make-fixtures.py",
       "--objects", dir.Path(), "20"});
  ASSERT_EQ(made.exitCode, 0) << made.err;
  // Only its hash is kept: the children share the memory of this process.
  const size_t bombHash = std::hash<std::string>{}(sv::test::ReadFile(dir / "bomb-objects.pdf"));
  const int64_t bombSize =
      static_cast<int64_t>(std::filesystem::file_size(dir / "bomb-objects.pdf"));
  const struct {
    const char* file;
    std::string error;
  } cases[] = {
      // The message names the NUL byte found: its text ends there.
      {"holes.pdf", FmtLoadMessage(SInvalidHeader, std::string(1, '\0')).c_str()},
      // The budget of a file of a few blocks of data.
      {"sparse.pdf", rtl::Format(SLoadBudgetExceeded, LoadBudgetFor(0)).substr(0, 48)},
      {"bomb-objects.pdf", rtl::Format(SLoadBudgetExceeded, LoadBudgetFor(bombSize))},
  };
  bool limited = false;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file);
    struct stat before;
    ASSERT_EQ(::stat((dir / c.file).c_str(), &before), 0);
    ChildLoad l = LoadInChild(dir / c.file, 512);
    EXPECT_EQ(l.outcome.substr(0, c.error.size()), c.error);
    if (std::string(c.file) == "sparse.pdf") {
      // "(N bytes)": the budget of the data, far from that of six gigabytes.
      const int64_t budget = std::atoll(l.outcome.c_str() + l.outcome.find('(') + 1);
      EXPECT_GE(budget, LoadBudgetFor(0));
      EXPECT_LE(budget, LoadBudgetFor(1024 * 1024));
    }
    // The whole bomb takes about 170 MB loaded; the holes would take six gigabytes.
    EXPECT_LT(l.peakKiB, (l.limited ? 160 : 640) * 1024);
    limited = l.limited;
    struct stat after;
    ASSERT_EQ(::stat((dir / c.file).c_str(), &after), 0);
    EXPECT_EQ(after.st_size, before.st_size);
    EXPECT_EQ(after.st_blocks, before.st_blocks);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
  }
  EXPECT_EQ(std::hash<std::string>{}(sv::test::ReadFile(dir / "bomb-objects.pdf")), bombHash);
  // With a budget that holds them, its objects load: what was refused was their cost.
  {
    BudgetSetting ample(1, 512 * kMiB);
    ChildLoad l = LoadInChild(dir / "bomb-objects.pdf", 1024);
    EXPECT_EQ(l.outcome, "loaded");
  }
  if (!limited) GTEST_SKIP() << "under AddressSanitizer the address space was not limited";
}

// A large file of stream data (scanned pages) loads and saves with a budget of little more than
// its size: each stream is held once beside the copy of the file, whatever the allowance. The
// budget's allowance is scaled down here in place of a file of gigabytes.
TEST(LoadBudget, ALargeFileOfStreamDataNeedsLittleMoreThanItsSize) {
  if (!sv::test::HasCommand("qpdf")) GTEST_SKIP() << "qpdf is needed to judge the output";
  sv::test::TempDir dir;
  {
    // Three pages, each showing an image of 6 MiB of noise that does not compress (made in a
    // scope of its own: the children share the memory of this process).
    PdfBuilder b = OnePage();
    std::string pages = "<< /Type /Pages /Kids [";
    std::string noise(static_cast<size_t>(6 * kMiB), '\0');
    uint32_t x = 12345;
    for (char& ch : noise) {
      x = x * 1103515245 + 12345;
      ch = static_cast<char>(x >> 24);
    }
    const std::string draw = "q 600 0 0 300 0 0 cm /Im0 Do Q\n";
    for (int i = 0; i < 3; ++i) {
      const int page = b.Add("");
      const int image = b.Add(
          "<< /Type /XObject /Subtype /Image /Width 2048 /Height 1024 /ColorSpace /DeviceRGB "
          "/BitsPerComponent 8 /Length " +
          std::to_string(noise.size()) + " >>\nstream\n" + noise + "\nendstream");
      const int content = b.Add("<< /Length " + std::to_string(draw.size()) + " >>\nstream\n" +
                                draw + "\nendstream");
      b.bodies[static_cast<size_t>(page - 1)] =
          "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 600 300] /Contents " +
          std::to_string(content) + " 0 R /Resources << /XObject << /Im0 " + std::to_string(image) +
          " 0 R >> >> >>";
      pages += std::to_string(page) + " 0 R ";
    }
    b.bodies[1] = pages + "] /Count 3 >>";
    sv::test::WriteFile(dir / "scans.pdf", b.Build());
  }
  const int64_t size = static_cast<int64_t>(std::filesystem::file_size(dir / "scans.pdf"));
  const struct {
    int64_t multiple, allowance;
    const char* outcome;
  } cases[] = {
      {1, kMiB, "saved"},
      {0, size - 1, ""},  // the file alone is more than the budget
      {1, 0, ""},         // its streams and objects together are more than the file
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.multiple << " " << c.allowance);
    BudgetSetting setting(c.multiple, c.allowance);
    std::remove((dir / "out.pdf").c_str());
    ChildLoad l = LoadInChild(dir / "scans.pdf", 1024, dir / "out.pdf");
    const std::string expected =
        *c.outcome ? c.outcome : rtl::Format(SLoadBudgetExceeded, c.multiple * size + c.allowance);
    EXPECT_EQ(l.outcome, expected);
    if (l.limited) {
      EXPECT_LT(l.peakKiB, (2 * size + 48 * kMiB) / 1024);
    }
    if (*c.outcome) {
      sv::test::CommandResult q = sv::test::RunCommand({"qpdf", "--check", dir / "out.pdf"});
      EXPECT_EQ(q.exitCode, 0) << q.out << q.err;
      EXPECT_NE(q.out.find("No syntax or stream encoding errors"), std::string::npos) << q.out;
      sv::test::CommandResult info = sv::test::RunCommand({"pdfinfo", dir / "out.pdf"});
      EXPECT_NE(info.out.find("Pages:           3\n"), std::string::npos) << info.out;
    }
  }
}

// Bytes that field values decode to and bytes of stream data copied out of the file both count.
TEST(LoadBudget, DecodedAndCopiedBytesCountAgainstIt) {
  sv::test::TempDir dir;
  // A field whose value is a Flate stream of 1 MiB that takes a few KB in the file.
  const std::string value(static_cast<size_t>(kMiB), 'v');
  uLongf packedSize = compressBound(static_cast<uLong>(value.size()));
  std::string packed(packedSize, '\0');
  ASSERT_EQ(compress(reinterpret_cast<Bytef*>(packed.data()), &packedSize,
                     reinterpret_cast<const Bytef*>(value.data()), value.size()),
            Z_OK);
  packed.resize(packedSize);
  PdfBuilder form = OnePage();
  form.bodies[0] = "<< /Type /Catalog /Pages 2 0 R /AcroForm << /Fields [5 0 R] >> >>";
  form.Add("<< /FT /Tx /T (big) /V 6 0 R >>");
  form.Add("<< /Filter /FlateDecode /Length " + std::to_string(packed.size()) + " >>\nstream\n" +
           packed + "\nendstream");
  sv::test::WriteFile(dir / "value.pdf", form.Build());
  // A page whose content is 1 MiB in the file.
  PdfBuilder big = OnePage();
  big.bodies[3] =
      "<< /Length " + std::to_string(value.size()) + " >>\nstream\n" + value + "\nendstream";
  sv::test::WriteFile(dir / "copied.pdf", big.Build());
  const int64_t bigSize = static_cast<int64_t>(sv::test::ReadFile(dir / "copied.pdf").size());
  const struct {
    const char* file;
    int64_t multiple, allowance;
    bool loads;
  } cases[] = {
      {"value.pdf", 8, 2 * kMiB, true},
      {"value.pdf", 8, kMiB / 2, false},
      {"copied.pdf", 1, 64 * 1024, true},
      {"copied.pdf", 0, kMiB / 2, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.file << " " << c.multiple << " " << c.allowance);
    BudgetSetting setting(c.multiple, c.allowance);
    Loaded l = Load(dir / c.file);
    if (c.loads) {
      ASSERT_TRUE(l.ok) << l.error;
      if (l.doc->FormFields()) {
        ASSERT_EQ(l.doc->FormFields()->size(), 1u);
        EXPECT_EQ(l.doc->FormFields()->at(0)->Value.size(), value.size());
      }
    } else {
      const int64_t size = std::string(c.file) == "copied.pdf"
                               ? bigSize
                               : static_cast<int64_t>(sv::test::ReadFile(dir / c.file).size());
      EXPECT_EQ(l.error, rtl::Format(SLoadBudgetExceeded, c.multiple * size + c.allowance));
      EXPECT_FALSE(l.doc->IsLoaded());
    }
  }
}

// Stream data never hold the next object's header: a /Length that runs into it is corrected by
// the search for "endstream" before it, and a stream without an "endstream" of its own is refused
// whatever its /Length says, never read to the next stream's "endstream".
TEST(LoadBudget, StreamDataNeverRunIntoTheNextObject) {
  // Object 4's /Length in four digits: its value does not move the objects.
  auto file = [](const std::string& length, const std::string& data) {
    PdfBuilder b = OnePage();
    b.bodies[2] = "<< /Type /Page /MediaBox [0 0 200 200] /Contents [4 0 R 5 0 R] >>";
    b.bodies[3] = "<< /Length " + length + " >>\nstream\n" + data;
    b.Add("<< /Length 6 >>\nstream\nabcdef\nendstream");
    std::string pdf = b.Build();
    return std::make_pair(pdf, b.offsets);
  };
  const std::string head4 = "4 0 obj\n<< /Length 0000 >>\nstream\n";
  const std::string head5 = "5 0 obj\n<< /Length 6 >>\nstream\n";
  // Object 4 with a /Length that reaches the end of object 5's data.
  auto toNext = [&](const std::string& data) {
    const auto offsets = file("0000", data).second;
    char length[8];
    std::snprintf(length, sizeof length, "%04zu",
                  offsets[4] + head5.size() + 6 - (offsets[3] + head4.size()));
    return file(length, data).first;
  };
  sv::test::TempDir dir;
  const struct {
    const char* what;
    std::string pdf;
    std::string error;
  } cases[] = {
      {"sound", file("0008", "0 0 m S\n\nendstream").first, ""},
      {"/Length 3 bytes too long", file("0011", "0 0 m S\n\nendstream").first, ""},
      {"/Length to the next stream's endstream", toNext("0 0 m S\n\nendstream"), ""},
      {"no endstream of its own", file("0008", "0 0 m S\n\n").first, "Expected PDF endstream"},
      {"no endstream of its own, /Length to the next one", toNext("0 0 m S\n\n"),
       "Expected PDF endstream"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    sv::test::WriteFile(dir / "f.pdf", c.pdf);
    Loaded l = Load(dir / "f.pdf");
    EXPECT_EQ(l.error, c.error);
    if (!c.error.empty()) continue;
    ASSERT_TRUE(l.ok);
    auto page = l.doc->GetPage(1);
    std::string content;
    for (int32_t i = 1; i < page->Count(); ++i)
      if (const TzoPDFStreamObject* st = page->Item(i)->DirectObject()->AsStream())
        content += st->Data()->ToString() + "|";
    EXPECT_EQ(content, "0 0 m S\n|abcdef|");
  }
}

}  // namespace
