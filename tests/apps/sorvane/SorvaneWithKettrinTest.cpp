// The two built programs in one program folder, as a script runs them: Sorvane locks job folders
// and writes its check list, Kettrin checks the files of that list. The outputs are judged by
// pdfinfo and qpdf.
#include <gtest/gtest.h>

#include <filesystem>

#include "apps/sorvane/ToolEngine.h"
#include "platform/IniFiles.h"
#include "tests/apps/sorvane/SorvaneTestSupport.h"

using namespace sv::test;
using V = std::vector<std::string>;
namespace fs = std::filesystem;

namespace {

class SorvaneWithKettrin : public SorvaneFormTest {
 protected:
  void SetUp() override {
    SorvaneFormTest::SetUp();
    for (const char* program : {"Sorvane", "Kettrin"})
      if (!FileExists(ProgramDir() + program)) GTEST_SKIP() << program << " was not built";
    SV_REQUIRE_JUDGES("pdfinfo", "qpdf");
    fs::copy_file(ProgramDir() + "Sorvane", Prog() + "Sorvane");
    fs::copy_file(ProgramDir() + "Kettrin", Prog() + "Kettrin");
    fs::create_symlink(ProgramDir() + "bin/AHPDFToolCmd26", ToolPath());
  }
  CommandResult Sorvane() {
    return RunCommand({"env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", Prog() + "Sorvane", "/s"},
                      Prog());
  }
  // Kettrin's silent check of Sorvane's check list, with its failure list saved.
  CommandResult Kettrin(bool ownerByTool = false) {
    rtl::TIniFile ini(Prog() + "Kettrin.ini");
    ini.WriteInteger("PDF", "ReLock", 1);
    ini.WriteInteger("PDF", "Engine", ownerByTool ? 1 : 0);
    return RunCommand({"env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", Prog() + "Kettrin", "/n",
                       "/flog/log_check.csv"},
                      Prog());
  }
  std::string KettrinResult() { return ReadFile(Prog() + "log/log_check_log.csv"); }
  std::string KettrinFailures() { return ReadFile(Prog() + "KettrinLog.txt"); }
  static std::string Example(const char* name) { return SourceDir() + "examples/" + name; }
  static bool Opens(const std::string& path, const std::string& option,
                    const std::string& password) {
    return RunCommand({"pdfinfo", option, password, path}).exitCode == 0;
  }
};

}  // namespace

TEST_F(SorvaneWithKettrin, TheQuotedCheckListReadsBackWithPathsAndPasswordsWhole) {
  const std::string folder = Folder("a,b");
  const std::string comma = folder + "/x,y.pdf", quote = folder + "/say \"hi\".pdf";
  CopyFile(Example("plain.pdf"), comma);
  CopyFile(Example("info.pdf"), quote);
  Job(folder,
      [](TJobSettings& j) { j.Ver = 1, j.UserPassWord = "u,1", j.MasterPassWord = "o\"2"; });

  CommandResult s = Sorvane();
  ASSERT_EQ(s.exitCode, 0) << s.err;
  const std::string quotedComma = "\"" + folder + "/x,y.pdf\"";
  const std::string quotedQuote = "\"" + folder + "/say \"\"hi\"\".pdf\"";
  EXPECT_EQ(ReadFile(CheckLogPath()), quotedQuote + ",\"u,1\",\"o\"\"2\",1.4\r\n" + quotedComma +
                                          ",\"u,1\",\"o\"\"2\",1.4\r\n");
  EXPECT_TRUE(Opens(comma, "-upw", "u,1"));
  EXPECT_TRUE(Opens(quote, "-opw", "o\"2"));

  CommandResult k = Kettrin();
  EXPECT_EQ(k.exitCode, 0) << k.err;
  EXPECT_EQ(KettrinResult(), quotedQuote + ",OK,--,OK,OK\r\n" + quotedComma + ",OK,--,OK,OK\r\n");
  EXPECT_EQ(KettrinFailures(), "");

  // One file loses its protection after the run: its line asks for one, so it fails.
  fs::copy_file(Example("plain.pdf"), comma, fs::copy_options::overwrite_existing);
  k = Kettrin();
  EXPECT_EQ(k.exitCode, 1) << k.err;
  EXPECT_EQ(KettrinResult(), quotedQuote + ",OK,--,OK,OK\r\n" + quotedComma + ",OK,OK,NG,NG\r\n");
  EXPECT_EQ(KettrinFailures(), comma + "\r\n");
}

TEST_F(SorvaneWithKettrin, PasswordsThatStartWithADashReachTheToolsAsValues) {
  // An input whose user password looks like an option of the tool's.
  const std::string folder = Folder("dash");
  const std::string in = folder + "/in.pdf";
  CommandResult made = RunCommand({ToolPath(), "-d", Example("outline.pdf"), "-o", in, "-pdfver",
                                   "1.7", "-userpwd", "-webopt", "-ownerpwd", "-ncc"});
  ASSERT_EQ(made.exitCode, 0) << made.err;
  ASSERT_TRUE(Opens(in, "-upw", "-webopt"));
  Job(folder, [](TJobSettings& j) {
    j.Ver = 4, j.OpenPassWord = "-webopt", j.UserPassWord = "-d", j.MasterPassWord = "-o";
  });

  CommandResult s = Sorvane();
  ASSERT_EQ(s.exitCode, 0) << s.err;
  EXPECT_EQ(ReadFile(ResultLogPath()), in + ",OK\r\n");
  EXPECT_TRUE(Opens(in, "-upw", "-d"));
  EXPECT_FALSE(Opens(in, "-upw", "-webopt"));
  CommandResult check = RunCommand({"qpdf", "--check", "--password=-o", in});
  EXPECT_EQ(check.exitCode, 0) << check.out << check.err;

  // Kettrin's owner check by pdfinfo and by the tool, which gets the owner password bare.
  for (bool ownerByTool : {false, true}) {
    SCOPED_TRACE(ownerByTool ? "tool" : "pdfinfo");
    CommandResult k = Kettrin(ownerByTool);
    EXPECT_EQ(k.exitCode, 0) << k.err;
    EXPECT_EQ(KettrinResult(), in + ",OK,--,OK,OK\r\n");
  }
}

TEST_F(SorvaneWithKettrin, AToolThatHangsIsEndedAtTheTimeLimitAndItsFileIsNg) {
  const std::string folder = Folder("hang");
  const std::string in = folder + "/in.pdf";
  CopyFile(Example("plain.pdf"), in);
  const std::string before = ReadFile(in);
  Job(folder, [](TJobSettings& j) { j.Ver = 4, j.UserPassWord = "u", j.MasterPassWord = "o"; });
  // A tool that never ends, and starts one more program that never ends.
  fs::remove(ToolPath());
  WriteFile(ToolPath(), "#!/bin/sh\nsleep 600 & echo $! > '" + Prog() + "sleep.pid'\nwait\n");
  fs::permissions(ToolPath(), fs::perms::owner_all);
  rtl::TIniFile(AppIniPath()).WriteInteger("App", "TimeLimit", 2);

  CommandResult s = Sorvane();
  EXPECT_EQ(s.exitCode, 1) << s.err;
  EXPECT_EQ(ReadFile(ResultLogPath()), in + ",NG\r\n");
  EXPECT_NE(s.err.find(in + ": AHPDFToolCmd26 が制限時間 2 秒を過ぎたため終了させました"),
            std::string::npos)
      << s.err;
  EXPECT_EQ(ReadFile(in), before);
  // Nothing the tool started is left running.
  EXPECT_TRUE(ProcessGone(std::stoi(ReadFile(Prog() + "sleep.pid"))));
}

TEST_F(SorvaneWithKettrin, PasswordsWithBlanksAndOwnerPasswordsAloneAreCheckedAsTheJobSetThem) {
  const std::string lib = Folder("lib"), tool = Folder("tool"), owner = Folder("owner");
  for (const std::string& folder : {lib, tool, owner})
    CopyFile(Example("plain.pdf"), folder + "/a.pdf");
  Job(lib, [](TJobSettings& j) { j.Ver = 1, j.UserPassWord = " u s ", j.MasterPassWord = " o "; });
  Job(tool, [](TJobSettings& j) { j.Ver = 4, j.UserPassWord = " u", j.MasterPassWord = "o "; });
  // The owner password alone: the file opens without a password.
  Job(owner, [](TJobSettings& j) { j.Ver = 1, j.PW = 0, j.MasterPassWord = " own "; });

  CommandResult s = Sorvane();
  ASSERT_EQ(s.exitCode, 0) << s.err;
  EXPECT_TRUE(Opens(lib + "/a.pdf", "-upw", " u s "));
  EXPECT_FALSE(Opens(lib + "/a.pdf", "-upw", "u s"));
  EXPECT_TRUE(Opens(tool + "/a.pdf", "-upw", " u"));
  EXPECT_TRUE(Opens(owner + "/a.pdf", "-upw", ""));
  for (bool ownerByTool : {false, true}) {
    SCOPED_TRACE(ownerByTool ? "tool" : "pdfinfo");
    CommandResult k = Kettrin(ownerByTool);
    EXPECT_EQ(k.exitCode, 0) << k.err;
    EXPECT_EQ(KettrinResult(), lib + "/a.pdf,OK,--,OK,OK\r\n" + owner + "/a.pdf,OK,OK,NG,OK\r\n" +
                                   tool + "/a.pdf,OK,--,OK,OK\r\n");
    EXPECT_EQ(KettrinFailures(), "");
  }

  // The owner-only file put back with someone else's owner password fails.
  CommandResult q = RunCommand({"qpdf", "--allow-weak-crypto", "--encrypt", "", "other", "128",
                                "--", Example("plain.pdf"), owner + "/a.pdf"});
  ASSERT_EQ(q.exitCode, 0) << q.err;
  for (bool ownerByTool : {false, true}) {
    SCOPED_TRACE(ownerByTool ? "tool" : "pdfinfo");
    CommandResult k = Kettrin(ownerByTool);
    EXPECT_EQ(k.exitCode, 1) << k.err;
    EXPECT_NE(KettrinResult().find(owner + "/a.pdf,OK,OK,NG,NG\r\n"), std::string::npos)
        << KettrinResult();
    EXPECT_EQ(KettrinFailures(), owner + "/a.pdf\r\n");
  }
}
