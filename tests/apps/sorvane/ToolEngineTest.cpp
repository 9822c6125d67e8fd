#include "apps/sorvane/ToolEngine.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <functional>

#include "platform/Process.h"
#include "tests/apps/sorvane/SorvaneTestSupport.h"

using sv::test::Ansi;
using sv::test::ReadFile;
using sv::test::WriteFile;

namespace {

class ToolEngine : public sv::test::SorvaneFolderTest {
 protected:
  // A stand-in tool of this test at bin/AHPDFToolCmd26: it notes its folder and arguments in
  // record/, finds the work file after "-o" and its input after "-d", then runs body.
  void InstallScriptTool(const std::string& body) {
    std::filesystem::create_directories(Prog() + "record");
    std::string script =
        "#!/bin/sh\nout=\nin=\nprev=\nfor a in \"$@\"; do [ \"$prev\" = -o ] && out=$a; "
        "[ \"$prev\" = -d ] && in=$a; prev=$a; done\n"
        "pwd > '" +
        Prog() +
        "record/cwd'\n"
        "for a in \"$@\"; do printf '[%s]' \"$a\"; done > '" +
        Prog() + "record/args'\n" + body + "\n";
    WriteFile(ToolPath(), script);
    ::chmod(ToolPath().c_str(), 0755);
  }
  std::string RecordedArgs() { return ReadFile(Prog() + "record/args"); }
  std::string Input(const std::string& bytes = "%PDF-1.4 original\n%%EOF\n") {
    std::string path = Prog() + "data/in.pdf";
    std::filesystem::create_directories(Prog() + "data");
    WriteFile(path, bytes);
    return path;
  }
  static constexpr const char* kWritesWholeFile =
      "printf '%%PDF-1.7\\nnew\\n%%%%EOF\\n' > \"$out\"; exit 0";
};

}  // namespace

TEST_F(ToolEngine, BuildsTheArgumentStringPieceByPiece) {
  const std::string w = "-o \"" + Prog() + "temp/$output.pdf\" ";
  const std::string in = "-annotFile -d \"/d/in.pdf\" ";
  auto none = [](TJobSettings& j) {
    j.Web = 0;
    j.VerEn = 0;
  };
  struct Case {
    const char* what;
    std::function<void(TJobSettings&)> set;
    std::string args;
  } cases[] = {
      {"only input and output", none, in + w},
      {"defaults: web and version 1.3", [](TJobSettings&) {}, in + w + "-webopt -pdfver \"1.3\" "},
      {"version 1.7, any Ver out of range is 1.2",
       [&](TJobSettings& j) {
         none(j);
         j.VerEn = 1;
         j.Ver = 9;
       },
       in + w + "-pdfver \"1.2\" "},
      {"open password bare after the input",
       [&](TJobSettings& j) {
         none(j);
         j.OpenPassWord = "op en";
       },
       in + "\"op en\" " + w},
      {"information texts in their order",
       [&](TJobSettings& j) {
         none(j);
         j.Producer = "P";
         j.Creator = "C";
         j.Keywords = "K";
         j.Author = "A";
         j.Subject = "S";
         j.Title = Ansi("題");
       },
       in + w + "-title \"" + Ansi("題") +
           "\" -subtitle \"S\" -author \"A\" -keyword \"K\" -creator \"C\" -producer \"P\" "},
      {"no owner password: no restrictions whatever they say",
       [&](TJobSettings& j) {
         none(j);
         j.UserPassWord = "u";
         j.PR = j.CP = j.MD = j.DA = j.AN = j.FF = j.AC = 1;
       },
       in + w + "-userpwd \"u\" "},
      {"owner password with every restriction; MD and DA give one -nca",
       [&](TJobSettings& j) {
         none(j);
         j.MasterPassWord = "m";
         j.PR = j.CP = j.MD = j.DA = j.AN = j.FF = j.AC = 1;
       },
       in + w + "-ownerpwd \"m\" -ppa 1 -ncc -nca -nff -nno -nab "},
      {"AC with CP off: -nab then -ncc",
       [&](TJobSettings& j) {
         none(j);
         j.MasterPassWord = "m";
         j.PR = j.CP = j.MD = j.AN = j.FF = 0;
         j.DA = 1;
         j.AC = 1;
       },
       in + w + "-ownerpwd \"m\" -nca -nab -ncc "},
      {"no restriction at all",
       [&](TJobSettings& j) {
         none(j);
         j.MasterPassWord = "m";
         j.PR = j.CP = j.MD = j.DA = j.AN = j.FF = j.AC = 0;
       },
       in + w + "-ownerpwd \"m\" "},
      {"passwords quoted for the tool",
       [&](TJobSettings& j) {
         none(j);
         j.UserPassWord = "a\"b";
         j.MasterPassWord = "end\\";
         j.MD = j.DA = j.CP = j.AN = j.FF = j.AC = 0;
       },
       in + w + "-userpwd \"a\\\"b\" -ownerpwd \"end\\\\\" "},
      {"EN, PW and BT play no part",
       [&](TJobSettings& j) {
         none(j);
         j.EN = 0;
         j.PW = 0;
         j.BT = 1;
       },
       in + w},
      {"everything",
       [](TJobSettings& j) {
         j.Ver = 4;
         j.OpenPassWord = "o";
         j.Title = "T";
         j.UserPassWord = "u";
         j.MasterPassWord = "m";
         j.PR = 1;
       },
       in + "\"o\" " + w +
           "-webopt -pdfver \"1.7\" -title \"T\" -userpwd \"u\" -ownerpwd \"m\" -ppa 1 -ncc -nca "
           "-nff -nno -nab "},
  };
  for (const auto& c : cases) {
    JobSettings = TJobSettings();
    c.set(JobSettings);
    EXPECT_EQ(ToolArguments("/d/in.pdf"), c.args) << c.what;
  }
}

TEST_F(ToolEngine, TheArgumentStringSplitsIntoExactlyTheIntendedArguments) {
  // Quotes and backslashes in values: the quoting itself is tested with the splitting.
  JobSettings.OpenPassWord = "o\\";
  JobSettings.Title = "say \"hi\" \\";
  JobSettings.MasterPassWord = "m\"";
  JobSettings.MD = JobSettings.DA = JobSettings.CP = JobSettings.AN = JobSettings.FF = 0;
  JobSettings.AC = 0;
  EXPECT_EQ(QuoteToolPassword("a\"b\\"), "a\\\"b\\\\");
  EXPECT_EQ(platform::SplitCommandLine(ToolArguments("/d/a\"b.pdf")),
            (std::vector<std::string>{"-annotFile", "-d", "/d/a\"b.pdf", "o\\", "-o",
                                      WorkFilePath(), "-webopt", "-pdfver", "1.3", "-title",
                                      "say \"hi\" \\", "-ownerpwd", "m\""}));

  // A value that ends in a lead byte of code page 932 (a hand-edited job file) keeps its
  // closing quote: the next value is no options of the tool's.
  JobSettings = TJobSettings();
  JobSettings.Web = 0;
  JobSettings.VerEn = 0;
  JobSettings.OpenPassWord = "-webopt";
  JobSettings.Title = "T\x82";
  JobSettings.Subject = "s -o /tmp/elsewhere.pdf -userpwd \x82";
  JobSettings.UserPassWord = Ansi("ソ");
  EXPECT_EQ(platform::SplitCommandLine(ToolArguments("/d/in.pdf")),
            (std::vector<std::string>{
                "-annotFile", "-d", "/d/in.pdf", "-webopt", "-o", WorkFilePath(), "-title", "T\x82",
                "-subtitle", "s -o /tmp/elsewhere.pdf -userpwd \x82", "-userpwd", Ansi("ソ")}));
}

TEST_F(ToolEngine, RunsTheToolInItsFolderWithTheCommandLineItBuilt) {
  // The tool notes what its input holds, its mode and its path.
  InstallScriptTool("cp \"$in\" '" + Prog() + "record/input'; stat -c %a \"$in\" > '" + Prog() +
                    "record/mode'; printf %s \"$in\" > '" + Prog() + "record/in'; " +
                    kWritesWholeFile);
  std::string in = Input();
  JobSettings.Title = Ansi("日本語の題");
  JobSettings.UserPassWord = "u p";
  std::string before = std::filesystem::current_path();
  EXPECT_EQ(LockWithTool(in), 0);
  EXPECT_EQ(ResultCode, 0);
  EXPECT_EQ(ReadFile(Prog() + "record/cwd"), Prog() + "bin\n");
  EXPECT_EQ(std::string(std::filesystem::current_path()), before);
  EXPECT_EQ(sv::test::WithCopiesNamed(RecordedArgs()),
            "[-annotFile][-d][" + Prog() + "temp/<copy>][-o][" + Prog() +
                "temp/$output.pdf][-webopt][-pdfver][1.3][-title][日本語の題]"
                "[-userpwd][u p]");
  // It read a private copy of the input, made for it and gone afterwards.
  EXPECT_EQ(ReadFile(Prog() + "record/input"), "%PDF-1.4 original\n%%EOF\n");
  EXPECT_EQ(ReadFile(Prog() + "record/mode"), "600\n");
  EXPECT_FALSE(sv::test::FileExists(ReadFile(Prog() + "record/in")));
  EXPECT_EQ(ReadFile(in), "%PDF-1.7\nnew\n%%EOF\n");
}

TEST_F(ToolEngine, TheWorkFileIsMovedIntoTheInputsPlaceOrCopiedWhenItCannotBeMoved) {
  struct Case {
    const char* what;
    const char* afterWriting;  // what the tool does with its work file after writing it
    bool moved;
  } cases[] = {
      {"a work file of its own", "", true},
      {"a work file with a second name", "ln \"$out\" \"$out.second\"", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    InstallScriptTool(std::string("printf '%%PDF-1.7\\nnew\\n%%%%EOF\\n' > \"$out\"; ") +
                      c.afterWriting + "\nstat -c %i \"$out\" > '" + Prog() +
                      "record/inode'; exit 0");
    std::string in = Input();
    ::chmod(in.c_str(), 0640);
    EXPECT_EQ(LockWithTool(in), 0);
    EXPECT_EQ(ReadFile(in), "%PDF-1.7\nnew\n%%EOF\n");
    struct stat st {};
    ASSERT_EQ(::stat(in.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(std::to_string(st.st_ino) + "\n" == ReadFile(Prog() + "record/inode"), c.moved);
    EXPECT_FALSE(sv::test::FileExists(WorkFilePath()));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Prog() + "data"),
                            std::filesystem::directory_iterator()),
              1);
    std::filesystem::remove(WorkFilePath() + ".second");
  }
}

TEST_F(ToolEngine, FailuresGiveNonZeroResultsAndLeaveTheInputUntouched) {
  const std::string original = "%PDF-1.4 original\n%%EOF\n";
  struct Case {
    const char* what;
    const char* tool;  // nullptr: no tool
    int32_t result;
  } cases[] = {
      {"no tool", nullptr, kToolMissing},
      {"tool fails", "printf '%%PDF-1.7\\n%%%%EOF\\n' > \"$out\"; exit 2", 2},
      {"exit 0 without a work file", "exit 0", kToolNoWorkFile},
      {"exit 0 with a cut work file", "printf '%%PDF-1.7\\nhalf' > \"$out\"; exit 0",
       kToolNoWorkFile},
      {"exit 0 with something else", "printf 'error page' > \"$out\"; exit 0", kToolNoWorkFile},
      {"killed", "kill -9 $$", 128 + 9},
      {"not a program", "", kToolNotStarted},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(ToolPath());
    if (c.tool) InstallScriptTool(c.tool);
    if (c.tool && !*c.tool) ::chmod(ToolPath().c_str(), 0644);
    // An old work file from an earlier run must never be taken for this run's output.
    WriteFile(WorkFilePath(), "%PDF-1.7\nstale\n%%EOF\n");
    std::string in = Input(original);
    EXPECT_EQ(LockWithTool(in), c.result) << c.what;
    EXPECT_EQ(ResultCode, 0) << c.what;
    EXPECT_EQ(ReadFile(in), original) << c.what;
    EXPECT_EQ(sv::test::FileExists(DebugLogPath()), false) << c.what;
  }
}

TEST_F(ToolEngine, ACopyOverTheInputThatFailsIsAFailure) {
  InstallScriptTool(kWritesWholeFile);
  EXPECT_EQ(LockWithTool(Prog() + "gone/in.pdf"), kToolCopyFailed);
  EXPECT_FALSE(sv::test::FileExists(Prog() + "gone"));

  // A work file that cannot be removed stops the run before the tool starts.
  std::filesystem::remove(WorkFilePath());
  std::filesystem::remove(Prog() + "record/args");
  std::filesystem::create_directories(WorkFilePath() + "/x");
  std::string in = Input();
  EXPECT_EQ(LockWithTool(in), kToolWorkFileStuck);
  EXPECT_FALSE(sv::test::FileExists(Prog() + "record/args"));
  EXPECT_EQ(ReadFile(in), "%PDF-1.4 original\n%%EOF\n");
}

TEST_F(ToolEngine, AToolThatRunsPastTheTimeLimitIsEndedAndTheFileKept) {
  const std::string original = "%PDF-1.4 original\n%%EOF\n";
  InstallScriptTool("printf '%%PDF-1.7\\nhalf' > \"$out\"; sleep 600; exit 0");
  AppSettings.TimeLimit = 1;
  AppSettings.Debug = 1;
  std::string in = Input(original);
  CurrentFile = in;
  try {
    LockWithTool(in);
    ADD_FAILURE() << "no time limit";
  } catch (const EToolTimeLimit& e) {
    EXPECT_EQ(e.Message(), "AHPDFToolCmd26" + Ansi(" が制限時間 1 秒を過ぎたため終了させました"));
  }
  EXPECT_EQ(ResultCode, 0);
  EXPECT_EQ(ReadFile(in), original);
  EXPECT_FALSE(sv::test::FileExists(WorkFilePath()));
  EXPECT_NE(ReadFile(DebugLogPath()).find("\r\nresult =-2\r\n"), std::string::npos);

  // The limit is for each run; one that ends in time goes through.
  InstallScriptTool(kWritesWholeFile);
  EXPECT_EQ(LockWithTool(in), 0);
  EXPECT_EQ(ReadFile(in), "%PDF-1.7\nnew\n%%EOF\n");
}

TEST_F(ToolEngine, TheDebugLogGetsFourLinesPerRunAndKeepsWhatItHeld) {
  AppSettings.Debug = 1;
  InstallScriptTool("exit 3");
  WriteFile(DebugLogPath(), "older line without end");
  std::string in = Input();
  CurrentFile = in;
  JobSettings.Web = 0;
  JobSettings.VerEn = 0;
  EXPECT_EQ(LockWithTool(in), 3);
  // The tool reads a copy of the input; the dump names the input as CurrentFile.
  std::string command =
      "AHPDFToolCmd26 -annotFile -d \"" + Prog() + "temp/<copy>\" -o \"" + WorkFilePath() + "\" ";
  std::string dump = "**** PDF Command Dump ****\r\ninput  =" + in + "\r\ncommand=" + command +
                     "\r\nresult =3\r\n";
  auto log = [] { return sv::test::WithCopiesNamed(ReadFile(DebugLogPath())); };
  EXPECT_EQ(log(), "older line without end\r\n" + dump);

  // Another run, and the missing tool, which is not dumped.
  EXPECT_EQ(LockWithTool(in), 3);
  EXPECT_EQ(log(), "older line without end\r\n" + dump + dump);
  std::filesystem::remove(ToolPath());
  EXPECT_EQ(LockWithTool(in), kToolMissing);
  EXPECT_EQ(log(), "older line without end\r\n" + dump + dump);

  // A log that cannot be written raises the stream error, and the input stays as it was.
  InstallScriptTool(kWritesWholeFile);
  std::filesystem::remove(DebugLogPath());
  std::filesystem::create_directories(DebugLogPath());
  EXPECT_THROW(LockWithTool(in), rtl::EStreamError);
  EXPECT_EQ(ReadFile(in), "%PDF-1.4 original\n%%EOF\n");
}

TEST_F(ToolEngine, RunAndWaitKeepsTheWindowAliveAndSleepsTheConfiguredWait) {
  InstallScriptTool("sleep 0.4; exit 6");
  int events = 0;
  platform::SetPendingEventsHook([&] { ++events; });
  AppSettings.Wait = 50;
  EXPECT_EQ(RunAndWait("AHPDFToolCmd26", SW_HIDE, Prog() + "bin/"), 6);
  EXPECT_GE(events, 2);  // 0.4 s at 100 ms + 50 ms a pass

  // After the first 100 ms wait the whole Wait is slept, even when the child ends meanwhile.
  InstallScriptTool("sleep 0.15; exit 0");
  AppSettings.Wait = 300;
  events = 0;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(RunAndWait("AHPDFToolCmd26", SW_HIDE, Prog() + "bin/"), 0);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(400));
  EXPECT_GE(events, 1);

  EXPECT_EQ(RunAndWait("AHPDFToolCmd26", SW_SHOW, Prog()), -1);  // not in the program folder
}
