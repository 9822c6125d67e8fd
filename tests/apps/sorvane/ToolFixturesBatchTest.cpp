// The batch run over the outside tool's fixtures (tests/tools/pdftool/fixtures): files that the
// tool once refused or damaged, locked by the real tool with targets 1.6 and 1.7, with and
// without web optimisation, and judged against their originals by the shared verify-rewrite
// (qpdf --check, pdfinfo with both passwords, page count, structure, rendering).
#include <gtest/gtest.h>

#include <filesystem>

#include "apps/sorvane/ToolEngine.h"
#include "tests/apps/sorvane/SorvaneTestSupport.h"

using namespace sv::test;
using V = std::vector<std::string>;
namespace fs = std::filesystem;

namespace {

const char* const kFixtures[] = {"generations.pdf", "id-8-bytes.pdf", "name-hash-objstm.pdf",
                                 "name-hash.pdf"};  // in name order, as the walk meets them

std::string Fixture(const std::string& name) {
  return SourceDir() + "tests/tools/pdftool/fixtures/" + name;
}

std::string RewriteJudge() {
  return SharedToolsDir() + "verify-rewrite";
}

class ToolFixturesBatch : public SorvaneFormTest {
 protected:
  void SetUp() override {
    SorvaneFormTest::SetUp();
    const std::string tool = ProgramDir() + "bin/AHPDFToolCmd26";
    ASSERT_TRUE(FileExists(tool)) << "the built tool is missing: " << tool;
    fs::create_symlink(tool, ToolPath());
    SV_REQUIRE_JUDGES("pdfinfo", "qpdf", "pdftoppm", "../shared/tools");
  }
};

}  // namespace

TEST_F(ToolFixturesBatch, EveryKindIsLockedWithBothTargetsWithAndWithoutWebOptimisation) {
  struct JobCase {
    std::string folder;
    int ver;
    int web;
    const char* version;
  } jobs[] = {
      {"v16", 3, 0, "1.6"},
      {"v16-web", 3, 1, "1.6"},
      {"v17", 4, 0, "1.7"},
      {"v17-web", 4, 1, "1.7"},
  };
  std::string result, check;
  for (const auto& job : jobs) {
    const std::string folder = Folder(job.folder);
    for (const char* name : kFixtures) {
      CopyFile(Fixture(name), folder + "/" + name);
      result += folder + "/" + name + ",OK\r\n";
      check += folder + "/" + name + ",user,owner," + job.version + "\r\n";
    }
    Job(folder, [&job](TJobSettings& j) {
      j.Ver = job.ver;
      j.Web = job.web;
      j.UserPassWord = "user";
      j.MasterPassWord = "owner";
      j.PR = 1;
      j.Title = Ansi("題名");
    });
  }
  auto form = Form();

  EXPECT_EQ(form->RunAllJobs(), TRunOutcome::kAllOk);
  EXPECT_EQ(ReadFile(ResultLogPath()), result);
  EXPECT_EQ(ReadFile(CheckLogPath()), check);
  for (const auto& job : jobs) {
    for (const char* name : kFixtures) {
      const std::string file = Prog() + job.folder + "/" + name;
      SCOPED_TRACE(file);
      CommandResult v = RunCommand({RewriteJudge(), Fixture(name), file, "user", "owner"});
      EXPECT_EQ(v.exitCode, 0) << v.out << v.err;
      CommandResult info = RunCommand({"pdfinfo", "-upw", "user", file});
      EXPECT_EQ(Field(info.out, "PDF version"), job.version);
      EXPECT_EQ(Field(info.out, "Optimized"), job.web ? "yes" : "no");
      EXPECT_EQ(Field(info.out, "Title"), "題名");
      EXPECT_NE(RunCommand({"pdfinfo", file}).exitCode, 0);  // the user password is needed
    }
  }
}
