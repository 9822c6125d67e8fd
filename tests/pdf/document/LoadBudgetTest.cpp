// What one file may cost: the load budget for decoded and copied bytes, and stream data that
// never run into the next object. The two files of fixtures/reader/make-fixtures.py --bombs
// (field values that decode to gigabytes, streams that all run to one shared "endstream") are
// refused with a clear error by a load that stays small, in a child process whose address space
// is limited.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <zlib.h>

#include <cerrno>
#include <new>

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
// AddressSanitizer, which needs far more address space for itself) and its time to two minutes.
ChildLoad LoadInChild(const std::string& path, int64_t limitMiB) {
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
  EXPECT_EQ(LoadBudgetFor(1000), 8 * 1000 + 64 * kMiB);
  EXPECT_EQ(LoadBudgetFor(0), 64 * kMiB);
  EXPECT_EQ(LoadBudgetFor(INT64_MAX / 2), INT64_MAX);  // no overflow
  EXPECT_THROW(SetLoadBudget(-1, 0), rtl::Exception);
  EXPECT_THROW(SetLoadBudget(1, -1), rtl::Exception);
  EXPECT_EQ(LoadBudgetMultiple(), kDefaultLoadBudgetMultiple);
  {
    BudgetSetting small(2, 100);
    EXPECT_EQ(LoadBudgetFor(1000), 2100);
  }
  EXPECT_EQ(LoadBudgetFor(1000), 8 * 1000 + 64 * kMiB);
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
