// The batch run through the main window's buttons: the folder walk, the result log and the check
// list, failures that leave files as they were, and the guards of a run. Files are rewritten by
// the real outside tool (targets 1.6 and 1.7) and judged by pdfinfo.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <regex>
#include <thread>

#include "apps/sorvane/ToolEngine.h"
#include "pdf/document/zoPDFDoc.h"
#include "platform/IniFiles.h"
#include "platform/Process.h"
#include "tests/apps/sorvane/SorvaneTestSupport.h"

using namespace sv::test;
using V = std::vector<std::string>;
namespace fs = std::filesystem;

namespace {

class BatchRun : public SorvaneRunTest {
 protected:
  // A copy of the example plain.pdf at path (ANSI), its folders made.
  std::string Pdf(const std::string& path) {
    fs::create_directories(fs::path(platform::AnsiToUtf8(path)).parent_path());
    CopyFile(SourceDir() + "examples/plain.pdf", platform::AnsiToUtf8(path));
    return path;
  }
  static std::string Log(const std::string& path) { return ReadFile(path); }
  // The job of a 1.7 target with user and owner passwords.
  static void Job17(TJobSettings& j) {
    j.Ver = 4;
    j.UserPassWord = "user";
    j.MasterPassWord = "owner";
  }
  // What pdfinfo says of a file opened with the user password ("" when it cannot open it).
  static std::string Info(const std::string& path, const std::string& upw = "user") {
    CommandResult r = RunCommand({"pdfinfo", "-upw", upw, platform::AnsiToUtf8(path)});
    return r.exitCode == 0 ? r.out : "";
  }
};

}  // namespace

TEST_F(BatchRun, TheWalkMeetsFilesInNameOrderOwnFilesFirstAndEachFolderOnce) {
  const std::string job = Folder("Data");
  const std::string jp = Ansi("日本語");
  const V files = {Pdf(job + "/A.PDF"), Pdf(job + "/b.pdf"), Pdf(job + "/Sub/c.pdf"),
                   Pdf(job + "/Sub/Deeper/d.Pdf"), Pdf(job + "/" + jp + "/" + jp + ".pdf")};
  const std::string hiddenFile = Pdf(job + "/.hidden.pdf");
  const std::string hiddenFolder = Pdf(job + "/.hid/f.pdf");
  WriteFile(job + "/notes.txt", "not a PDF");
  fs::create_directories(job + "/empty");
  fs::create_directory_symlink(job, job + "/Sub/loop");  // back up to the job folder
  const std::string plain = ReadFile(SourceDir() + "examples/plain.pdf");
  Job(job, Job17);
  auto form = Form();

  form->SpeedButtonAll.Click();
  V result, check;
  for (const std::string& f : files) {
    result.push_back(f + ",OK");
    check.push_back(f + ",user,owner,1.7");
  }
  EXPECT_EQ(Log(ResultLogPath()), Lines(result));
  EXPECT_EQ(Log(CheckLogPath()), Lines(check));
  for (const std::string& f : files) {
    const std::string info = Info(f);
    EXPECT_NE(info.find("PDF version:     1.7"), std::string::npos) << f;
    EXPECT_NE(info.find("Encrypted:       yes"), std::string::npos) << f;
  }
  EXPECT_EQ(ReadFile(hiddenFile), plain);
  EXPECT_EQ(ReadFile(hiddenFolder), plain);
  EXPECT_EQ(form->StaticState.Caption(), Ansi("処理終了"));
  EXPECT_EQ(form->StaticTextCount.Caption(), "1/1");
  EXPECT_EQ(form->StaticTextDir.Caption(), job + "/" + jp + "/");
  EXPECT_EQ(form->StaticTextPDF.Caption(), jp + ".pdf");

  // Without sub-folders only the job folder's own files; the logs start again.
  Job(job, [](TJobSettings& j) {
    Job17(j);
    j.SubDir = 0;
    j.Ver = 3;
    j.UserPassWord = "u2";
    j.OpenPassWord = "owner";  // the files are protected now
  });
  form->SpeedButtonAll.Click();
  EXPECT_EQ(Log(ResultLogPath()), Lines({files[0] + ",OK", files[1] + ",OK"}));
  EXPECT_EQ(Log(CheckLogPath()), Lines({files[0] + ",u2,owner,1.6", files[1] + ",u2,owner,1.6"}));
  EXPECT_NE(Info(files[2]).find("PDF version:     1.7"), std::string::npos);
  EXPECT_NE(Info(files[0], "u2").find("PDF version:     1.6"), std::string::npos);
}

TEST_F(BatchRun, BothLogsQuotePathsAndPasswordsWithACommaOrAQuote) {
  // A comma in a file name or a password must not move the fields of either log.
  const std::string lib = Folder("lib"), tool = Folder("tool,x");
  const std::string a = Pdf(lib + "/enc-R2,V1.pdf"), b = Pdf(tool + "/say \"hi\".pdf");
  auto withPasswords = [](TJobSettings& j) {
    j.UserPassWord = "u,1";
    j.MasterPassWord = "o\"2";
  };
  Job(lib, [&](TJobSettings& j) {
    withPasswords(j);
    j.Ver = 1;
  });
  Job(tool, [&](TJobSettings& j) {
    withPasswords(j);
    j.Ver = 4;
  });
  auto form = Form();

  EXPECT_EQ(form->RunAllJobs(), TRunOutcome::kAllOk);
  EXPECT_EQ(Log(ResultLogPath()),
            Lines({"\"" + a + "\",OK", "\"" + tool + "/say \"\"hi\"\".pdf\",OK"}));
  EXPECT_EQ(Log(CheckLogPath()),
            Lines({"\"" + a + "\",\"u,1\",\"o\"\"2\",1.4",
                   "\"" + tool + "/say \"\"hi\"\".pdf\",\"u,1\",\"o\"\"2\",1.7"}));
  EXPECT_NE(Info(a, "u,1").find("PDF version:     1.4"), std::string::npos);
  EXPECT_NE(Info(b, "u,1").find("PDF version:     1.7"), std::string::npos);
}

TEST_F(BatchRun, TheCheckListNamesThePasswordsEachFileWasGiven) {
  // The library applies no password without security and no user password without "PW"; the
  // outside tool applies both whenever they are set.
  const std::string off = Folder("off"), nopw = Folder("nopw"), tool = Folder("tool");
  const std::string a = Pdf(off + "/a.pdf"), b = Pdf(nopw + "/b.pdf"), c = Pdf(tool + "/c.pdf");
  Job(off, [](TJobSettings& j) {
    Job17(j);
    j.Ver = 1;
    j.EN = 0;
  });
  Job(nopw, [](TJobSettings& j) {
    Job17(j);
    j.Ver = 2;
    j.PW = 0;
  });
  Job(tool, [](TJobSettings& j) {
    Job17(j);
    j.EN = 0;
    j.PW = 0;
  });
  auto form = Form();

  EXPECT_EQ(form->RunAllJobs(), TRunOutcome::kAllOk);
  // Jobs run in the order of their settings files' names; each line is checked on its own.
  const std::string check = Log(CheckLogPath());
  for (const std::string& line : {a + ",,,1.4", b + ",,owner,1.5", c + ",user,owner,1.7"})
    EXPECT_NE(check.find(line + "\r\n"), std::string::npos) << line << "\n" << check;
  EXPECT_EQ(std::count(check.begin(), check.end(), '\n'), 3) << check;
  EXPECT_NE(Info(a, "").find("Encrypted:       no"), std::string::npos);
  EXPECT_NE(Info(b, "").find("Encrypted:       yes"), std::string::npos);
  EXPECT_EQ(Info(c, ""), "");
  EXPECT_NE(Info(c).find("Encrypted:       yes"), std::string::npos);
}

TEST_F(BatchRun, AllJobsRunInListOrderCountingDisabledOnesWithoutWalkingThem) {
  const std::string a = Folder("a"), b = Folder("b"), c = Folder("c"), empty = Folder("empty");
  const std::string fa = Pdf(a + "/1.pdf"), fb = Pdf(b + "/2.pdf"), fc = Pdf(c + "/3.pdf");
  const std::string plain = ReadFile(SourceDir() + "examples/plain.pdf");
  Job(c, Job17);
  Job(b, [](TJobSettings& j) {
    Job17(j);
    j.Enable = 0;
  });
  Job(a, [](TJobSettings& j) {
    Job17(j);
    j.Ver = 3;
    j.MasterPassWord = "boss";
  });
  Job(empty, Job17);
  auto form = Form();
  ASSERT_EQ(Entries(*form), (V{a, b, c, empty}));
  // The controls show job a; the run must not change what they stand for.
  form->EditTitle.TypeText("typed, not saved");
  const TJobSettings shown = JobSettings;

  EXPECT_EQ(form->RunAllJobs(), TRunOutcome::kAllOk);
  EXPECT_EQ(Log(ResultLogPath()), Lines({fa + ",OK", fc + ",OK"}));
  EXPECT_EQ(Log(CheckLogPath()), Lines({fa + ",user,boss,1.6", fc + ",user,owner,1.7"}));
  EXPECT_EQ(ReadFile(fb), plain);
  EXPECT_EQ(form->StaticTextCount.Caption(), "4/4");
  EXPECT_EQ(JobSettings.Title, shown.Title);
  EXPECT_EQ(JobSettings.MasterPassWord, shown.MasterPassWord);
  EXPECT_EQ(JobSettings.Ver, shown.Ver);

  // The selected job alone, disabled or not.
  form->ListBoxJob.SelectItem(1);
  form->SpeedButtonSel.Click();
  EXPECT_EQ(Log(ResultLogPath()), Lines({fb + ",OK"}));
  EXPECT_EQ(form->StaticTextCount.Caption(), "1/1");
  // A job folder without PDF files: both logs exist and are empty.
  form->ListBoxJob.SelectItem(3);
  EXPECT_EQ(form->RunSelectedJob(), TRunOutcome::kAllOk);
  EXPECT_EQ(Log(ResultLogPath()), "");
  EXPECT_EQ(Log(CheckLogPath()), "");
  // Nothing selected: no run, the logs stay.
  form->ListBoxJob.SetItemIndex(-1);
  WriteFile(ResultLogPath(), "kept\r\n");
  EXPECT_EQ(form->RunSelectedJob(), TRunOutcome::kNotRun);
  EXPECT_EQ(Log(ResultLogPath()), "kept\r\n");
}

TEST_F(BatchRun, FilesThatFailAreLoggedNgAndLeftByteForByteWhileTheRunGoesOn) {
  const std::string bad = Folder("bad"), good = Folder("good");
  // Refused by the tool: a wrong open password, a damaged file.
  const std::string locked = bad + "/locked.pdf";
  ASSERT_EQ(RunCommand({"qpdf", "--encrypt", "u", "o", "256", "--",
                        SourceDir() + "examples/plain.pdf", locked})
                .exitCode,
            0);
  const std::string damaged = bad + "/damaged.pdf";
  WriteFile(damaged, "%PDF-1.4\n1 0 obj\n<< /Type /Catalog\nendobj\n");
  // For the library engine: damaged, a 1.7 header, AES encryption.
  const std::string lib = Folder("lib");
  const std::string libDamaged = lib + "/damaged.pdf";
  WriteFile(libDamaged, "%PDF-1.4\ntrailer\n<< /Root 9 0 R >>\n%%EOF\n");
  const std::string lib17 = lib + "/v17.pdf";
  ASSERT_EQ(RunCommand({"qpdf", "--force-version=1.7", SourceDir() + "examples/plain.pdf", lib17})
                .exitCode,
            0);
  const std::string libAes = lib + "/aes.pdf";
  ASSERT_EQ(RunCommand({"qpdf", "--encrypt", "", "o", "128", "--use-aes=y", "--",
                        SourceDir() + "examples/plain.pdf", libAes})
                .exitCode,
            0);
  const std::string ok = Pdf(good + "/ok.pdf");
  const V untouched = {damaged, locked, libAes, libDamaged, lib17};
  std::vector<std::string> before;
  for (const std::string& f : untouched)
    before.push_back(ReadFile(f));
  Job(bad, [](TJobSettings& j) {
    Job17(j);
    j.OpenPassWord = "wrong";
  });
  Job(lib, [](TJobSettings& j) { j.Ver = 1; });
  Job(good, Job17);
  rtl::TIniFile(AppIniPath()).WriteInteger("App", "Debug", 1);
  auto form = Form();
  ASSERT_EQ(Entries(*form), (V{bad, good, lib}));

  EXPECT_EQ(form->RunAllJobs(), TRunOutcome::kSomeNg);
  EXPECT_EQ(Log(ResultLogPath()), Lines({damaged + ",NG", locked + ",NG", ok + ",OK",
                                         libAes + ",NG", libDamaged + ",NG", lib17 + ",NG"}));
  EXPECT_EQ(Log(CheckLogPath()),
            Lines({damaged + ",user,owner,1.7", locked + ",user,owner,1.7", ok + ",user,owner,1.7",
                   libAes + ",,,1.4", libDamaged + ",,,1.4", lib17 + ",,,1.4"}));
  for (size_t i = 0; i < untouched.size(); ++i)
    EXPECT_EQ(ReadFile(untouched[i]), before[i]) << untouched[i];
  EXPECT_NE(Info(ok).find("1.7"), std::string::npos);
  // Each library failure is in the debug log with its message, and no file is left beside.
  const std::string debug = ReadFile(DebugLogPath());
  for (const std::string& f : {libAes, libDamaged, lib17})
    EXPECT_NE(debug.find("input  =" + f + "\r\nerror  ="), std::string::npos) << f;
  EXPECT_EQ(std::distance(fs::directory_iterator(lib), fs::directory_iterator()), 3);
  EXPECT_EQ(form->StaticState.Caption(), Ansi("処理終了"));

  // The tool missing: NG, the file as it was.
  fs::remove(ToolPath());
  const std::string okBefore = ReadFile(ok);
  form->ListBoxJob.SelectItem(1);
  EXPECT_EQ(form->RunSelectedJob(), TRunOutcome::kSomeNg);
  EXPECT_EQ(Log(ResultLogPath()), Lines({ok + ",NG"}));
  EXPECT_EQ(ReadFile(ok), okBefore);
}

TEST_F(BatchRun, AMissingFileAndARelativePathInProcessFile) {
  auto form = Form();
  JobSettings.Ver = 4;
  EXPECT_EQ(form->ProcessFile("sub/none.pdf"), Prog() + "sub/none.pdf,NG(FileNotFound)");
  EXPECT_EQ(CurrentFile, Prog() + "sub/none.pdf");
  EXPECT_EQ(form->StaticTextPDF.Caption(), "none.pdf");
  EXPECT_EQ(form->ProcessFile("/no/such.pdf"), "/no/such.pdf,NG(FileNotFound)");
}

TEST_F(BatchRun, ASecondRunCannotStartWhileOneIsRunningAndClosingStopsIt) {
  const std::string a = Folder("a");
  const V files = {Pdf(a + "/1.pdf"), Pdf(a + "/2.pdf"), Pdf(a + "/3.pdf")};
  Job(a, Job17);
  auto form = Form();
  // While the tool runs the window handles events: the user presses both buttons again, and then
  // closes the window during the second file.
  V nested;
  bool closed = false;
  platform::SetPendingEventsHook([&] {
    if (!form->Running()) return;
    nested.push_back(form->RunAllJobs() == TRunOutcome::kNotRun ? "refused" : "ran");
    nested.push_back(form->RunSelectedJob() == TRunOutcome::kNotRun ? "refused" : "ran");
    if (CurrentFile == files[1] && !closed) {
      closed = true;
      form->Close();
    }
  });
  EXPECT_EQ(form->RunAllJobs(), TRunOutcome::kStopped);
  ASSERT_FALSE(nested.empty());
  EXPECT_EQ(nested, V(nested.size(), "refused"));
  // The file being rewritten when the window closed is finished; the logs hold every line.
  EXPECT_EQ(Log(ResultLogPath()), Lines({files[0] + ",OK", files[1] + ",OK"}));
  EXPECT_EQ(Log(CheckLogPath()),
            Lines({files[0] + ",user,owner,1.7", files[1] + ",user,owner,1.7"}));
  EXPECT_EQ(ReadFile(files[2]), ReadFile(SourceDir() + "examples/plain.pdf"));
  EXPECT_FALSE(FileExists(WorkFilePath()));
}

TEST_F(BatchRun, LogsThatCannotBeMadeEndTheRunBeforeAnyFile) {
  const std::string a = Folder("a");
  const std::string file = Pdf(a + "/1.pdf");
  Job(a, Job17);
  auto form = Form();
  fs::create_directories(ResultLogPath());  // a folder where the log should be
  EXPECT_EQ(form->RunAllJobs(), TRunOutcome::kCouldNotRun);
  EXPECT_EQ(ReadFile(file), ReadFile(SourceDir() + "examples/plain.pdf"));
  EXPECT_NE(form->StaticState.Caption().find(ResultLogPath()), std::string::npos);
  EXPECT_FALSE(FileExists(CheckLogPath()));
  EXPECT_TRUE(boxes_.empty());  // the window says it on its status line
}

TEST_F(BatchRun, ASilentStartRunsAllJobsAndClosesWithItsExitStatus) {
  const std::string a = Folder("a");
  const std::string file = Pdf(a + "/1.pdf");
  Job(a, Job17);
  auto form = Form({"x"});
  EXPECT_TRUE(ui::Application().ToolWindow());
  EXPECT_EQ(form->BoundsRect(), (ui::TRect{0, 0, 0, 0}));
  EXPECT_EQ(form->BorderStyle(), ui::bsNone);
  form->Show();  // activation runs and closes
  EXPECT_EQ(ui::Application().ExitCode(), kExitAllOk);
  EXPECT_FALSE(form->Visible());
  EXPECT_EQ(Log(ResultLogPath()), Lines({file + ",OK"}));
  rtl::TIniFile ini(AppIniPath());
  EXPECT_EQ(ini.ReadInteger("Pos", "Top", -1), 0);
  EXPECT_EQ(ini.ReadInteger("Pos", "Left", -1), 0);

  // A file that fails: status 1; logs that cannot be made: status 2, said on standard error.
  Job(a, [](TJobSettings& j) {
    Job17(j);
    j.OpenPassWord = "x";
  });
  WriteFile(file, "%PDF-1.4\nbroken");
  auto second = Form({"x"});
  second->Show();
  EXPECT_EQ(ui::Application().ExitCode(), kExitSomeNg);
  fs::remove(ResultLogPath());
  fs::create_directories(ResultLogPath());
  boxes_.clear();
  auto third = Form({"x"});
  third->Show();
  EXPECT_EQ(ui::Application().ExitCode(), kExitCouldNotRun);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_NE(boxes_[0].find(ResultLogPath()), std::string::npos);
}

TEST_F(BatchRun, EditsDuringARunChangeWhatTheWindowShowsNotTheRunningJob) {
  const std::string a = Folder("a"), b = Folder("b");
  const V files = {Pdf(a + "/1.pdf"), Pdf(a + "/2.pdf")};
  Job(a, Job17);
  Job(b, [](TJobSettings& j) { j.Title = "b"; });
  auto form = Form();  // shows job a
  bool edited = false;
  platform::SetPendingEventsHook([&] {
    if (!form->Running() || edited) return;
    edited = true;
    // The user edits job a's password and saves it, then looks at job b.
    form->EditUserPW.TypeText("X");
    form->SpeedButtonSaveSetting.Click();
    form->ListBoxJob.SelectItem(1);
  });
  form->SpeedButtonSel.Click();
  ASSERT_TRUE(edited);
  // Both files got job a's settings as they were when the run began.
  EXPECT_EQ(Log(CheckLogPath()),
            Lines({files[0] + ",user,owner,1.7", files[1] + ",user,owner,1.7"}));
  EXPECT_NE(Info(files[1]).find("PDF version:     1.7"), std::string::npos);
  // The save during the run stored what the window showed; afterwards the settings are job b's,
  // as the controls show.
  EXPECT_EQ(ReadJob(JobIniPath(a)).UserPassWord, "userX");
  EXPECT_EQ(JobSettings.Title, "b");
  EXPECT_EQ(form->EditTitle.Text(), "b");
  EXPECT_EQ(JobSettings.UserPassWord, "");
}

TEST_F(BatchRun, AJobFileThatCannotBeReadIsReportedAndTheOtherJobsRun) {
  const std::string a = Folder("a"), b = Folder("b");
  const std::string fa = Pdf(a + "/1.pdf"), fb = Pdf(b + "/2.pdf");
  Job(a, Job17);
  Job(b, Job17);
  WriteFile(JobIniPath(a),
            std::regex_replace(ReadFile(JobIniPath(a)), std::regex("UserPassWord=[^\r]*"),
                               "UserPassWord=*not Base64*"));
  const std::string before = ReadFile(fa);
  auto form = Form({"x"});  // silent: what the window would show goes to standard error
  form->Show();
  EXPECT_EQ(ui::Application().ExitCode(), kExitSomeNg);
  EXPECT_EQ(Log(ResultLogPath()), Lines({fb + ",OK"}));
  EXPECT_EQ(ReadFile(fa), before);
  // Said once when the window would show the job, and once by the run.
  ASSERT_EQ(boxes_.size(), 2u);
  EXPECT_NE(boxes_[0].find("*not Base64*"), std::string::npos) << boxes_[0];
  EXPECT_EQ(boxes_[1].rfind(a + ": ", 0), 0u) << boxes_[1];
}

TEST_F(BatchRun, LibraryRewritesAreLoggedInTheWalksOrderAmongEveryOtherLine) {
  // Library jobs whose files fail in each way between OK ones, a tool job after a library job,
  // and a job file that cannot be read between them. A file's line may only be written once its
  // new file is in place, and before any line or report of what follows it in the walk.
  const std::string a = Folder("a"), b = Folder("b"), c = Folder("c"), d = Folder("d");
  const std::string plain = ReadFile(SourceDir() + "examples/plain.pdf");
  const std::string a1 = Pdf(a + "/01.pdf"), a2 = Pdf(a + "/02.pdf"), a3 = Pdf(a + "/03.pdf");
  const std::string a4 = Pdf(a + "/04.pdf"), s1 = Pdf(a + "/s/1.pdf"), s2 = Pdf(a + "/s/2.pdf");
  const std::string s3 = Pdf(a + "/s/3.pdf"), tb = Pdf(b + "/t.pdf"), fc = Pdf(c + "/1.pdf");
  WriteFile(a3, "%PDF-1.4\nbroken");
  ::chmod(s2.c_str(), 0444);
  // A file and a folder whose names code page 932 cannot hold (the folder is not walked).
  const std::string hidden = a + "/d\xC3\xA9/x.pdf";
  fs::create_directories(a + "/d\xC3\xA9");
  for (const std::string& f : {a + "/caf\xC3\xA9.pdf", hidden})
    CopyFile(SourceDir() + "examples/plain.pdf", f);
  V dFiles;
  for (const char* name : {"1.pdf", "2.pdf", "3.pdf", "4.pdf", "5.pdf", "6.pdf"})
    dFiles.push_back(Pdf(d + "/" + name));
  Job(a, [](TJobSettings& j) {
    Job17(j);
    j.Ver = 1;
  });
  Job(b, Job17);
  Job(c, Job17);
  WriteFile(JobIniPath(c),
            std::regex_replace(ReadFile(JobIniPath(c)), std::regex("UserPassWord=[^\r]*"),
                               "UserPassWord=*not Base64*"));
  Job(d, [](TJobSettings& j) {
    Job17(j);
    j.Ver = 2;
  });
  // Each report (a message box in a silent run) notes how many result lines were written then.
  std::vector<std::pair<std::string, size_t>> reports;
  ui::Application().SetMessageBoxHook([&](const std::string& text, const std::string&, int) {
    const std::string log = Log(ResultLogPath());
    reports.emplace_back(text, std::count(log.begin(), log.end(), '\n'));
    return ui::IDOK;
  });
  auto form = Form({"x"});
  form->Show();

  EXPECT_EQ(ui::Application().ExitCode(), kExitSomeNg);
  const std::string invalid = a + "/caf?.pdf";
  V result = {a1 + ",OK",
              a2 + ",OK",
              a3 + ",NG",
              a4 + ",OK",
              invalid + ",NG(InvalidFileName)",
              a + "/d?/,NG(InvalidFileName)",
              s1 + ",OK",
              s2 + ",NG",
              s3 + ",OK",
              tb + ",OK"};
  V check = {a1 + ",user,owner,1.4", a2 + ",user,owner,1.4", a3 + ",user,owner,1.4",
             a4 + ",user,owner,1.4", s1 + ",user,owner,1.4", s2 + ",user,owner,1.4",
             s3 + ",user,owner,1.4", tb + ",user,owner,1.7"};
  for (const std::string& f : dFiles) {
    result.push_back(f + ",OK");
    check.push_back(f + ",user,owner,1.5");
  }
  EXPECT_EQ(Log(ResultLogPath()), Lines(result));
  EXPECT_EQ(Log(CheckLogPath()), Lines(check));
  // The reports in the walk's order, each after the lines of everything before it.
  const std::vector<std::pair<std::string, size_t>> expected = {
      {a3 + ": ", 2}, {invalid + ": ", 4}, {a + "/d?/: ", 5}, {s2 + ": ", 7}, {c + ": ", 10}};
  ASSERT_EQ(reports.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(reports[i].first.rfind(expected[i].first, 0), 0u) << reports[i].first;
    EXPECT_EQ(reports[i].second, expected[i].second) << reports[i].first;
  }
  // Every OK file is protected with the job's passwords, as its target version; the others are
  // as they were, and no temporary file is left anywhere.
  for (const std::string& line : result) {
    if (line.size() < 3 || line.compare(line.size() - 3, 3, ",OK") != 0) continue;
    const std::string f = line.substr(0, line.size() - 3);
    const std::string version = f.rfind(d, 0) == 0 ? "1.5" : f == tb ? "1.7" : "1.4";
    const std::string info = Info(f);
    EXPECT_EQ(Field(info, "Encrypted").substr(0, 3), "yes") << f;
    EXPECT_EQ(Field(info, "PDF version"), version) << f;
    EXPECT_NE(RunCommand({"pdfinfo", platform::AnsiToUtf8(f)}).exitCode, 0) << f;
    EXPECT_EQ(RunCommand({"qpdf", "--check", "--password=user", platform::AnsiToUtf8(f)}).exitCode,
              0)
        << f;
  }
  EXPECT_EQ(ReadFile(s2), plain);
  EXPECT_EQ(ReadFile(hidden), plain);
  EXPECT_EQ(ReadFile(fc), plain);
  EXPECT_EQ(ReadFile(a3), "%PDF-1.4\nbroken");
  for (const auto& e : fs::recursive_directory_iterator(Prog()))
    EXPECT_NE(e.path().filename().string().rfind(".~sv", 0), 0u) << e.path();
}

TEST_F(BatchRun, ClosingTheWindowDuringALibraryRunLogsTheFileCommittedLast) {
  const std::string a = Folder("a");
  V files;
  for (const char* name : {"1.pdf", "2.pdf", "3.pdf", "4.pdf", "5.pdf"})
    files.push_back(Pdf(a + "/" + name));
  Job(a, [](TJobSettings& j) {
    Job17(j);
    j.Ver = 1;
  });
  auto form = Form();
  platform::SetPendingEventsHook([&] {
    if (form->Running() && CurrentFile == files[2]) form->Close();
  });
  EXPECT_EQ(form->RunAllJobs(), TRunOutcome::kStopped);
  // The file being rewritten when the window closed is finished and logged; none after it starts.
  EXPECT_EQ(Log(ResultLogPath()), Lines({files[0] + ",OK", files[1] + ",OK", files[2] + ",OK"}));
  EXPECT_EQ(Log(CheckLogPath()), Lines({files[0] + ",user,owner,1.4", files[1] + ",user,owner,1.4",
                                        files[2] + ",user,owner,1.4"}));
  for (size_t i = 0; i < files.size(); ++i) {
    const std::string info = Info(files[i]);
    if (i <= 2)
      EXPECT_EQ(Field(info, "Encrypted").substr(0, 3), "yes") << files[i];
    else
      EXPECT_EQ(ReadFile(files[i]), ReadFile(SourceDir() + "examples/plain.pdf")) << files[i];
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(a), fs::directory_iterator()), 5);
  EXPECT_EQ(form->StaticState.Caption(), Ansi("処理終了"));
}

TEST_F(BatchRun, ASignalDuringAWindowedRunStopsItAsClosingTheWindowDoes) {
  const std::string a = Folder("a");
  V files;
  for (const char* name : {"1.pdf", "2.pdf", "3.pdf", "4.pdf"})
    files.push_back(Pdf(a + "/" + name));
  Job(a, [](TJobSettings& j) {
    Job17(j);
    j.Ver = 1;
  });
  // SIGTERM comes when the second file is handed over.
  ::setenv("SORVANE_RAISE_AT_HANDOVER", (std::to_string(SIGTERM) + ",2").c_str(), 1);
  auto form = Form();
  ::unsetenv("SORVANE_RAISE_AT_HANDOVER");
  form->SetBounds(12, 34, form->Width(), form->Height());
  auto disposition = [] {
    struct sigaction now {};
    sigaction(SIGTERM, nullptr, &now);
    return now.sa_handler;
  };
  // An idle window is ended by the signal as any program; only a run catches it.
  EXPECT_EQ(disposition(), SIG_DFL);
  EXPECT_EQ(form->RunAllJobs(), TRunOutcome::kStopped);
  EXPECT_EQ(disposition(), SIG_DFL);

  EXPECT_EQ(Log(ResultLogPath()), Lines({files[0] + ",OK", files[1] + ",OK"}));
  EXPECT_EQ(Log(CheckLogPath()),
            Lines({files[0] + ",user,owner,1.4", files[1] + ",user,owner,1.4"}));
  for (size_t i = 0; i < files.size(); ++i) {
    if (i < 2)
      EXPECT_EQ(Field(Info(files[i]), "Encrypted").substr(0, 3), "yes") << files[i];
    else
      EXPECT_EQ(ReadFile(files[i]), ReadFile(SourceDir() + "examples/plain.pdf")) << files[i];
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(a), fs::directory_iterator()), 4);
  // Said on the status line; the window was closed (its position saved) and the program ends
  // with the status of a run that failed.
  EXPECT_EQ(form->StaticState.Caption(), Ansi("SIGTERM を受けたため処理を中止しました"));
  EXPECT_EQ(rtl::TIniFile(AppIniPath()).ReadInteger("Pos", "Left", -1), 12);
  EXPECT_EQ(ui::Application().ExitCode(), kExitSomeNg);
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(BatchRun, AListedJobWhoseFolderIsGoneAtItsRunIsNg) {
  const std::string a = Folder("a"), b = Folder("b");
  const std::string file = Pdf(b + "/1.pdf");
  Job(a, Job17);
  Job(b, Job17);
  auto form = Form();
  ASSERT_EQ(Entries(*form), (V{a, b}));
  fs::remove_all(a);  // renamed away after the start
  EXPECT_EQ(form->RunSelectedJob(), TRunOutcome::kSomeNg);
  EXPECT_EQ(Log(ResultLogPath()), Lines({a + "/,NG(FileNotFound)"}));
  EXPECT_EQ(Log(CheckLogPath()), "");
  EXPECT_EQ(form->RunAllJobs(), TRunOutcome::kSomeNg);
  EXPECT_EQ(Log(ResultLogPath()), Lines({a + "/,NG(FileNotFound)", file + ",OK"}));
  EXPECT_EQ(Log(CheckLogPath()), Lines({file + ",user,owner,1.7"}));
  EXPECT_TRUE(FileExists(JobIniPath(a)));
}

// The library's rewrites run on the pool's threads, and each open password is asked of the
// window's handler, answered from the job of the file being loaded (not the job the window has
// moved on to).
TEST_F(BatchRun, TheWindowsPasswordHandlerAnswersEachRewriteFromItsOwnJob) {
  SV_REQUIRE_JUDGES("qpdf", "pdfinfo");
  // Files protected with the job's open password as their owner password.
  struct Case {
    std::string folder, open, user;
  };
  const std::vector<Case> cases = {{Folder("first"), "open1", "u1"},
                                   {Folder("second"), "open2", "u2"}};
  V files;
  for (const Case& c : cases) {
    for (const char* name : {"a.pdf", "b.pdf", "c.pdf"}) {
      const std::string file = c.folder + "/" + name;
      ASSERT_EQ(RunCommand({"qpdf", "--allow-weak-crypto", "--encrypt", "reader", c.open, "128",
                            "--use-aes=n", "--", SourceDir() + "examples/plain.pdf",
                            platform::AnsiToUtf8(file)})
                    .exitCode,
                0);
      files.push_back(file);
    }
    Job(c.folder, [&c](TJobSettings& j) {
      j.Ver = 1;
      j.OpenPassWord = c.open;
      j.UserPassWord = c.user;
      j.MasterPassWord = "owner";
    });
  }
  auto form = Form();
  std::mutex m;
  std::vector<std::pair<std::string, std::string>> answered;  // file, password
  bool onMainThread = false;
  const std::thread::id main = std::this_thread::get_id();
  TForm1* f = form.get();
  form->PDFDoc->OnPassword = [&, f](rtl::TObject* sender, std::string& password, bool& cont,
                                    int tries) {
    f->PDFDocPassword(sender, password, cont, tries);
    std::lock_guard<std::mutex> lock(m);
    onMainThread = onMainThread || std::this_thread::get_id() == main;
    if (tries == 0)
      answered.emplace_back(
          rtl::ExtractFileName(dynamic_cast<TzoCustomPDFDocument*>(sender)->WorkFileName()) + "@" +
              rtl::ExtractFileName(rtl::ExcludeTrailingPathDelimiter(rtl::ExtractFilePath(
                  dynamic_cast<TzoCustomPDFDocument*>(sender)->WorkFileName()))),
          password);
  };
  EXPECT_EQ(form->RunAllJobs(), TRunOutcome::kAllOk);
  V result;
  for (const std::string& file : files)
    result.push_back(file + ",OK");
  EXPECT_EQ(Log(ResultLogPath()), Lines(result));
  EXPECT_FALSE(onMainThread);
  std::sort(answered.begin(), answered.end());
  EXPECT_EQ(answered,
            (std::vector<std::pair<std::string, std::string>>{{"a.pdf@first", "open1"},
                                                              {"a.pdf@second", "open2"},
                                                              {"b.pdf@first", "open1"},
                                                              {"b.pdf@second", "open2"},
                                                              {"c.pdf@first", "open1"},
                                                              {"c.pdf@second", "open2"}}));
  for (size_t i = 0; i < files.size(); ++i) {
    const std::string& user = cases[i / 3].user;
    EXPECT_NE(Info(files[i], user).find("Encrypted:       yes"), std::string::npos) << files[i];
    EXPECT_EQ(Info(files[i], cases[i / 3].open), "") << files[i];
  }
}
