// The check run against real files: PDF files made by qpdf and by the outside tool, checked by
// the real pdfinfo (and the tool), with the rows, colours, failure list and result CSV lines.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/apps/kettrin/KettrinTestSupport.h"
#include "ui/Shell.h"

using namespace sv::test;
using V = std::vector<std::string>;
namespace fs = std::filesystem;

namespace {

class CheckRun : public KettrinFolderTest {
 protected:
  void SetUp() override {
    KettrinFolderTest::SetUp();
    SV_REQUIRE_JUDGES("pdfinfo", "qpdf");
  }

  // One listed line and what the check must make of it.
  struct Expect {
    std::string line;
    V row;            // caption, PDFVer, NoPW, UserPW, OwnerPW
    bool red;         // drawn in red
    bool failure;     // in the failure list
    std::string csv;  // the result CSV line after the path
  };

  // Runs the check over the lines and compares every row, colour, failure and result line.
  void CheckAll(TForm1& form, const std::vector<Expect>& expected) {
    V lines, failures;
    std::string csv;
    for (const Expect& e : expected) {
      lines.push_back(e.line);
      if (e.failure) failures.push_back(e.row[0]);
      csv += e.row[0] + "," + e.csv + "\r\n";
    }
    List(lines);
    ASSERT_EQ(form.RunCheck(), TCheckOutcome::kDone);
    const ui::TListItems& items = form.ListView1.Items();
    ASSERT_EQ(items.Count(), static_cast<int>(expected.size()));
    for (int i = 0; i < items.Count(); ++i) {
      const Expect& e = expected[static_cast<size_t>(i)];
      EXPECT_EQ(Row(*items.Item(i)), e.row) << e.line;
      EXPECT_EQ(form.ListView1.ItemTextColor(i) == ui::clRed, e.red) << e.line;
    }
    EXPECT_EQ(Lines(form.FailureList()), failures);
    EXPECT_EQ(form.ResultCsvText(), csv);
    EXPECT_EQ(form.StaticText1.Caption(), J("完了"));
  }
};

}  // namespace

TEST_F(CheckRun, MarksEveryKindOfFileAsPdfinfoAndItsFirstLineSay) {
  const std::string plain = Qpdf("plain.pdf", {});
  const std::string rc40 =
      Qpdf("rc4-40.pdf", {"--allow-weak-crypto", "--encrypt", "user", "owner", "40", "--"});
  const std::string rc128 =
      Qpdf("rc4-128.pdf", {"--allow-weak-crypto", "--encrypt", "user", "owner", "128", "--"});
  const std::string aes128 =
      Qpdf("aes-128.pdf", {"--encrypt", "user", "owner", "128", "--use-aes=y", "--"});
  const std::string aes256 = Qpdf("aes-256.pdf", {"--encrypt", "user", "owner", "256", "--"});
  const std::string ownerOnly = Qpdf("owner-only.pdf", {"--encrypt", "", "owner", "256", "--"});
  const std::string odd = Qpdf("odd.pdf", {"--encrypt", "u s\"r\\", "o w\"n", "256", "--"});
  const std::string japanese = Qpdf("japanese.pdf", {"--encrypt", "パス", "オーナー", "256", "--"});
  const std::string tool17 = Tool("tool-1.7.pdf", "1.7", "user", "owner");
  const std::string tool16 = Tool("tool-1.6.pdf", "1.6", "user", "owner");
  // pdfinfo opens a file with lines before its header; the check reads no version from it.
  const std::string junk = Prog() + "data/junk.pdf";
  WriteFile(junk, "\r\n\r\njunk\r\n" + ReadFile(plain));
  const std::string missing = Prog() + "data/none.pdf";

  const std::string y = Y(), n = N(), d = D();
  auto ver = [](const char* v, const std::string& mark) { return std::string(v) + "  " + mark; };
  const std::vector<Expect> expected = {
      {plain + ",,,1.4", {plain, ver("1.4", y), y, d, d}, false, false, "OK,OK,NG,NG"},
      // An unprotected file never enters the failure list, even with a wrong version.
      {plain + ",,,1.5", {plain, ver("1.4", n), y, d, d}, true, false, "NG,OK,NG,NG"},
      {rc40 + ",user,owner,1.4", {rc40, ver("1.4", y), d, y, y}, false, false, "OK,--,OK,OK"},
      {rc128 + ",wrong,owner,1.4", {rc128, ver("1.4", y), d, n, y}, true, true, "OK,--,NG,OK"},
      // The user password is no owner password.
      {aes128 + ",user,user,1.6", {aes128, ver("1.6", y), d, y, n}, true, true, "OK,--,OK,NG"},
      {aes256 + ",user,owner,1.6", {aes256, ver("1.7", n), d, y, y}, true, true, "NG,--,OK,OK"},
      // The version is trimmed; the passwords are taken as written, and so is the file path.
      {aes256 + ",user,owner, 1.7 ", {aes256, ver("1.7", y), d, y, y}, false, false, "OK,--,OK,OK"},
      {aes256 + ", user ,\towner,1.7", {aes256, ver("1.7", y), d, n, n}, true, true, "OK,--,NG,NG"},
      {plain + " ,,,1.4", {plain + " ", ver("1.?", n), d, n, n}, true, true, "NG,--,NG,NG"},
      // A file that opens without a password counts as unprotected; its owner password is
      // checked.
      {ownerOnly + ",,owner,1.7", {ownerOnly, ver("1.7", y), y, d, y}, false, false, "OK,OK,NG,OK"},
      // Sorvane's outside-tool outputs.
      {tool17 + ",user,owner,1.7", {tool17, ver("1.7", y), d, y, y}, false, false, "OK,--,OK,OK"},
      {tool16 + ",user,owner,1.6", {tool16, ver("1.6", y), d, y, y}, false, false, "OK,--,OK,OK"},
      // Passwords with blanks, quotes, backslashes and Japanese letters reach pdfinfo whole.
      {odd + ",u s\"r\\,o w\"n,1.7", {odd, ver("1.7", y), d, y, y}, false, false, "OK,--,OK,OK"},
      {japanese + J(",パス,オーナー,1.7"),
       {japanese, ver("1.7", y), d, y, y},
       false,
       false,
       "OK,--,OK,OK"},
      // Files that cannot be read fail every check; the run goes on.
      {missing + ",user,owner,1.?", {missing, ver("1.?", n), d, n, n}, true, true, "NG,--,NG,NG"},
      {Prog() + "data,user,owner,1.4",
       {Prog() + "data", ver("1.?", n), d, n, n},
       true,
       true,
       "NG,--,NG,NG"},
      {junk + ",,,1.4", {junk, ver("1.?", n), y, d, d}, true, false, "NG,OK,NG,NG"},
      // A relative path is looked up below the program folder.
      {"data/plain.pdf,,,1.4", {plain, ver("1.4", y), y, d, d}, false, false, "OK,OK,NG,NG"},
  };
  auto form = Form();
  CheckAll(*form, expected);
  EXPECT_FALSE(form->AllPassed());
}

TEST_F(CheckRun, ALineWithAPasswordFailsAFileThatItDoesNotProtect) {
  const std::string plain = Qpdf("plain.pdf", {});
  const std::string ownerOnly = Qpdf("owner-only.pdf", {"--encrypt", "", "owner", "256", "--"});
  const std::string ownerOnly40 =
      Qpdf("owner-only-40.pdf", {"--allow-weak-crypto", "--encrypt", "", "owner", "40", "--"});
  const std::string y = Y(), n = N(), d = D();
  auto form = Form();
  CheckAll(
      *form,
      {
          // Opens without a password, though the line carries one or two.
          {plain + ",user,owner,1.4", {plain, "1.4  " + y, y, n, n}, true, true, "OK,OK,NG,NG"},
          {plain + ",user,,1.4", {plain, "1.4  " + y, y, n, d}, true, true, "OK,OK,NG,NG"},
          {plain + ",,owner,1.4", {plain, "1.4  " + y, y, d, n}, true, true, "OK,OK,NG,NG"},
          // Encrypted with the owner password alone: protected as the line asks.
          {ownerOnly + ",,owner,1.7",
           {ownerOnly, "1.7  " + y, y, d, y},
           false,
           false,
           "OK,OK,NG,OK"},
          {ownerOnly40 + ",,owner,1.4",
           {ownerOnly40, "1.4  " + y, y, d, y},
           false,
           false,
           "OK,OK,NG,OK"},
          // ...but not by the user password the line names.
          {ownerOnly + ",user,owner,1.7",
           {ownerOnly, "1.7  " + y, y, n, y},
           true,
           true,
           "OK,OK,NG,OK"},
          // A line without passwords asks for nothing.
          {plain + ",,,1.4", {plain, "1.4  " + y, y, d, d}, false, false, "OK,OK,NG,NG"},
      });
  EXPECT_FALSE(form->AllPassed());
}

TEST_F(CheckRun, TheResultCsvQuotesAPathWithACommaOrAQuote) {
  const std::string comma = Prog() + "data/a,b.pdf", quote = Prog() + "data/say \"hi\".pdf";
  CopyFile(Qpdf("plain.pdf", {}), comma);
  CopyFile(Prog() + "data/plain.pdf", quote);
  auto form = Form();
  // The list quotes them as Sorvane's check list does.
  List({"\"" + comma + "\",,,1.4", "\"" + Prog() + "data/say \"\"hi\"\".pdf\",,,1.4"});
  ASSERT_EQ(form->RunCheck(), TCheckOutcome::kDone);
  ASSERT_EQ(form->ListView1.Items().Count(), 2);
  EXPECT_EQ(Row(*form->ListView1.Items().Item(0)), (V{comma, "1.4  " + Y(), Y(), D(), D()}));
  EXPECT_EQ(form->ListView1.Items().Item(1)->Caption(), quote);
  const std::string text = form->ResultCsvText();
  EXPECT_EQ(text, "\"" + comma + "\",OK,OK,NG,NG\r\n\"" + Prog() +
                      "data/say \"\"hi\"\".pdf\",OK,OK,NG,NG\r\n");
  // Read back as the list is read: five fields, the path whole.
  V fields;
  EXPECT_EQ(SplitCsvLine(text.substr(0, text.find("\r\n")), fields), 5);
  EXPECT_EQ(fields, (V{comma, "OK", "OK", "NG", "NG"}));
}

TEST_F(CheckRun, AListedFileThatIsNoRegularFileFailsWithAMessageAndIsNotRead) {
  // pdfinfo would call every file unprotected; it must not be asked about these.
  const std::string log = Prog() + "pdfinfo.log";
  WriteFile(Prog() + "pdfinfo", "#!/bin/sh\necho \"$1\" >> '" + log + "'\nexit 0\n");
  ::chmod((Prog() + "pdfinfo").c_str(), 0755);
  const std::string pipe = Prog() + "data/pipe.pdf", empty = Prog() + "data/empty.pdf";
  const std::string plain = Prog() + "data/plain.pdf";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  WriteFile(empty, "");
  WriteFile(plain, "%PDF-1.4\n");
  std::vector<std::string> boxes;
  ui::Application().SetToolWindow(true);  // as in a silent run, where messages go to stderr
  ui::Application().SetMessageBoxHook([&](const std::string& text, const std::string&, int) {
    boxes.push_back(text);
    return ui::IDOK;
  });
  const V odd = {pipe, "/dev/null", empty, "/proc/kmsg", Prog() + "data", Prog() + "none.pdf"};
  V lines;
  for (const std::string& f : odd)
    lines.push_back(f + ",,,1.4");
  lines.push_back(plain + ",,,1.4");
  auto form = Form();
  List(lines);
  ASSERT_EQ(form->RunCheck(), TCheckOutcome::kDone);
  ASSERT_EQ(form->ListView1.Items().Count(), 7);
  for (size_t i = 0; i < odd.size(); ++i) {
    const int row = static_cast<int>(i);
    EXPECT_EQ(Row(*form->ListView1.Items().Item(row)), (V{odd[i], "1.?  " + N(), D(), N(), N()}));
    EXPECT_EQ(form->ListView1.ItemTextColor(row), ui::clRed) << odd[i];
    ASSERT_LT(i, boxes.size());
    EXPECT_NE(boxes[i].find(odd[i]), std::string::npos) << boxes[i];
  }
  EXPECT_EQ(boxes.size(), odd.size());
  EXPECT_EQ(Row(*form->ListView1.Items().Item(6)), (V{plain, "1.4  " + Y(), Y(), D(), D()}));
  EXPECT_EQ(Lines(form->FailureList()), odd);
  EXPECT_EQ(ReadFile(log), plain + "\n");
}

TEST_F(CheckRun, ACheckThatRunsPastTheTimeLimitIsEndedAndItsFileFails) {
  // pdfinfo hangs on one file; the tool hangs on every owner check.
  WriteFile(Prog() + "pdfinfo",
            "#!/bin/sh\ncase \"$1\" in *hang*) sleep 600;; esac\n"
            "[ \"$2\" = -upw ] && [ \"$3\" = user ] && exit 0\nexit 1\n");
  ::chmod((Prog() + "pdfinfo").c_str(), 0755);
  const std::string hang = Prog() + "data/hang.pdf", locked = Prog() + "data/locked.pdf";
  WriteFile(hang, "%PDF-1.4\n");
  WriteFile(locked, "%PDF-1.6\n");
  std::vector<std::string> boxes;
  ui::Application().SetToolWindow(true);
  ui::Application().SetMessageBoxHook([&](const std::string& text, const std::string&, int) {
    boxes.push_back(text);
    return ui::IDOK;
  });
  auto form = Form();
  CheckSettings.TimeLimit = 1;  // after the form has read the settings file
  List({hang + ",user,owner,1.4", locked + ",user,owner,1.6", locked + ",wrong,owner,1.6"});
  ASSERT_EQ(form->RunCheck(), TCheckOutcome::kDone);
  ASSERT_EQ(form->ListView1.Items().Count(), 3);
  EXPECT_EQ(Row(*form->ListView1.Items().Item(0)), (V{hang, "1.4  " + Y(), D(), N(), N()}));
  EXPECT_EQ(Row(*form->ListView1.Items().Item(1)), (V{locked, "1.6  " + Y(), D(), Y(), N()}));
  EXPECT_EQ(Row(*form->ListView1.Items().Item(2)), (V{locked, "1.6  " + Y(), D(), N(), N()}));
  EXPECT_EQ(Lines(form->FailureList()), (V{hang, locked, locked}));
  EXPECT_EQ(boxes, V{hang + J(": pdfinfo が制限時間 1 秒を過ぎたため終了させました")});

  // The owner check by the tool, ended the same way.
  fs::remove(ToolPath());
  WriteFile(ToolPath(), "#!/bin/sh\nsleep 600\n");
  ::chmod(ToolPath().c_str(), 0755);
  CheckSettings.Engine = 1;
  boxes.clear();
  List({locked + ",user,owner,1.6"});
  ASSERT_EQ(form->RunCheck(), TCheckOutcome::kDone);
  EXPECT_EQ(Row(*form->ListView1.Items().Item(0)), (V{locked, "1.6  " + Y(), D(), N(), N()}));
  EXPECT_EQ(boxes, V{locked + J(": AHPDFToolCmd26 が制限時間 1 秒を過ぎたため終了させました")});
  EXPECT_FALSE(FileExists(WorkFilePath()));
}

TEST_F(CheckRun, ShortLinesGoToTheFailureListAndTheFailureListIsSavedWhenTicked) {
  const std::string rc128 =
      Qpdf("rc4-128.pdf", {"--allow-weak-crypto", "--encrypt", "user", "owner", "128", "--"});
  const std::string plain = Qpdf("plain.pdf", {});
  auto form = Form();
  form->CheckBox1.Toggle();
  EXPECT_EQ(CheckSettings.ReLock, 1);
  List({"only,three,fields", rc128 + ",user,bad,1.4", "", "\"x,y\",z", plain + ",,,\"1.4\"",
        rc128 + ",user,owner,1.4,ignored"});
  ASSERT_EQ(form->RunCheck(), TCheckOutcome::kDone);
  ASSERT_EQ(form->ListView1.Items().Count(), 3);
  // A quoted last field is the version; fields past the fourth are ignored.
  EXPECT_EQ(Row(*form->ListView1.Items().Item(1)), (V{plain, "1.4  " + Y(), Y(), D(), D()}));
  EXPECT_EQ(Row(*form->ListView1.Items().Item(2)), (V{rc128, "1.4  " + Y(), D(), Y(), Y()}));
  const std::string log =
      "NG(InvalidCSV):only\r\n" + rc128 + "\r\nNG(InvalidCSV):\r\nNG(InvalidCSV):x,y\r\n";
  EXPECT_EQ(form->FailureList().Text(), log);
  EXPECT_EQ(ReadFile(FailureListPath()), log);
  EXPECT_FALSE(form->AllPassed());

  // A run where everything passes leaves an empty failure list file.
  List({plain + ",,,1.4", rc128 + ",user,owner,1.4"});
  ASSERT_EQ(form->RunCheck(), TCheckOutcome::kDone);
  EXPECT_EQ(form->FailureList().Count(), 0);
  EXPECT_EQ(ReadFile(FailureListPath()), "");
  EXPECT_TRUE(form->AllPassed());
  EXPECT_EQ(form->ListView1.ItemTextColor(0), form->ListView1.Font().Color());

  // Unticked, the file is left alone.
  form->CheckBox1.Toggle();
  EXPECT_EQ(CheckSettings.ReLock, 0);
  List({"bad"});
  ASSERT_EQ(form->RunCheck(), TCheckOutcome::kDone);
  EXPECT_EQ(form->FailureList().Count(), 1);
  EXPECT_EQ(ReadFile(FailureListPath()), "");
}

TEST_F(CheckRun, RunsOnlyOverAnExistingCsvFile) {
  const std::string plain = Qpdf("plain.pdf", {});
  auto form = Form();
  List({plain + ",,,1.4"}, "LIST.CSV");  // the extension in any case
  ASSERT_EQ(form->RunCheck(), TCheckOutcome::kDone);
  ASSERT_EQ(form->ListView1.Items().Count(), 1);
  form->StaticText1.SetCaption("before");
  for (const std::string& path :
       {List({"a"}, "list.txt"), Prog() + "missing.csv", Prog() + "data", std::string()}) {
    CheckSettings.CsvPath = path;
    EXPECT_EQ(form->RunCheck(), TCheckOutcome::kNotRun) << path;
    // Nothing happens and nothing is said.
    EXPECT_EQ(form->ListView1.Items().Count(), 1);
    EXPECT_EQ(form->StaticText1.Caption(), "before");
  }
}

TEST_F(CheckRun, TheOutsideToolChecksTheOwnerPasswordWhenTicked) {
  const std::string rc128 =
      Qpdf("rc4-128.pdf", {"--allow-weak-crypto", "--encrypt", "user", "owner", "128", "--"});
  const std::string odd = Qpdf("odd.pdf", {"--encrypt", "u s\"r", "o \"w\\", "256", "--"});
  const std::string tool17 = Tool("tool-1.7.pdf", "1.7", "user", "owner");
  const std::string plain = Qpdf("plain.pdf", {});
  const std::string before = ReadFile(rc128);
  auto form = Form();
  form->CheckBox2.Toggle();
  EXPECT_EQ(CheckSettings.Engine, 1);
  const std::string y = Y(), n = N(), d = D();
  CheckAll(
      *form,
      {
          {rc128 + ",user,owner,1.4", {rc128, "1.4  " + y, d, y, y}, false, false, "OK,--,OK,OK"},
          {rc128 + ",user,user,1.4", {rc128, "1.4  " + y, d, y, n}, true, true, "OK,--,OK,NG"},
          {rc128 + ",user,,1.4", {rc128, "1.4  " + y, d, y, n}, true, true, "OK,--,OK,NG"},
          // The user password is still checked by pdfinfo.
          {rc128 + ",bad,owner,1.4", {rc128, "1.4  " + y, d, n, y}, true, true, "OK,--,NG,OK"},
          {tool17 + ",user,owner,1.7", {tool17, "1.7  " + y, d, y, y}, false, false, "OK,--,OK,OK"},
          {odd + ",u s\"r,o \"w\\,1.7", {odd, "1.7  " + y, d, y, y}, false, false, "OK,--,OK,OK"},
          {plain + ",,,1.4", {plain, "1.4  " + y, y, d, d}, false, false, "OK,OK,NG,NG"},
          // A line with passwords asks for a protected file here too.
          {plain + ",user,owner,1.4", {plain, "1.4  " + y, y, n, n}, true, true, "OK,OK,NG,NG"},
      });
  // The tool's work file is gone and the checked files are as they were.
  EXPECT_FALSE(FileExists(WorkFilePath()));
  EXPECT_EQ(ReadFile(rc128), before);
}

TEST_F(CheckRun, TheToolGetsTheOwnerCheckCommandLineInItsFolder) {
  const std::string rc128 =
      Qpdf("rc4-128.pdf", {"--allow-weak-crypto", "--encrypt", "user", "owner", "128", "--"});
  // A tool that records its folder and arguments and says yes only to "owner".
  fs::remove(Prog() + "bin/AHPDFToolCmd26");
  WriteFile(ToolPath(), "#!/bin/sh\npwd >> '" + Prog() +
                            "tool.log'\nfor a in \"$@\"; do printf '[%s]' \"$a\"; "
                            "done >> '" +
                            Prog() + "tool.log'\necho >> '" + Prog() +
                            "tool.log'\n[ \"$4\" = owner ] && exit 0\nexit 2\n");
  ::chmod(ToolPath().c_str(), 0755);
  WriteFile(WorkFilePath(), "stale");
  auto form = Form();
  CheckSettings.Engine = 1;
  List({rc128 + ",user,owner,1.4", rc128 + J(",user,オ ー\"ナ,1.4"), rc128 + ",user,,1.4"});
  ASSERT_EQ(form->RunCheck(), TCheckOutcome::kDone);
  EXPECT_EQ(form->ListView1.Items().Item(0)->ColumnText(4), Y());
  EXPECT_EQ(form->ListView1.Items().Item(1)->ColumnText(4), N());
  EXPECT_EQ(form->ListView1.Items().Item(2)->ColumnText(4), N());
  const std::string bin = Prog() + "bin\n";
  const std::string work = "[-o][" + WorkFilePath() + "][-ncc]\n";
  EXPECT_EQ(ReadFile(Prog() + "tool.log"),
            bin + "[-changeInfo][-d][" + rc128 + "][owner]" + work + bin + "[-changeInfo][-d][" +
                rc128 + "][オ ー\"ナ]" + work + bin + "[-changeInfo][-d][" + rc128 + "]" + work);
  EXPECT_FALSE(FileExists(WorkFilePath()));
}

TEST_F(CheckRun, TheProgramFoldersPdfinfoComesFirstAndGetsEachPasswordAsOneArgument) {
  const std::string log = Prog() + "pdfinfo.log";
  // Says "protected" to everything and notes each command line.
  WriteFile(Prog() + "pdfinfo", "#!/bin/sh\nfor a in \"$@\"; do printf '[%s]' \"$a\"; done >> '" +
                                    log + "'\necho >> '" + log + "'\nexit 1\n");
  ::chmod((Prog() + "pdfinfo").c_str(), 0755);
  const std::string file = Prog() + "data/a b.pdf";
  WriteFile(file, "%PDF-1.4\n");
  EnvScope path("PATH", "/nonexistent");
  auto form = Form();
  List({file + J(",u \"s\\ r,パス ワード,1.4"), file + ",,,1.4"});
  ASSERT_EQ(form->RunCheck(), TCheckOutcome::kDone);
  EXPECT_EQ(Row(*form->ListView1.Items().Item(0)), (V{file, "1.4  " + Y(), D(), N(), N()}));
  const std::string f = "[" + file + "]";
  EXPECT_EQ(ReadFile(log), f + "\n" + f + "[-upw][u \"s\\ r]\n" + f + "[-opw][パス ワード]\n" + f +
                               "\n" + f + "[-upw][]\n" + f + "[-opw][]\n");
}

TEST_F(CheckRun, WithoutPdfinfoOrTheToolNothingIsChecked) {
  const std::string plain = Qpdf("plain.pdf", {});
  auto form = Form();
  CheckSettings.ReLock = 1;
  List({plain + ",,,1.4", "bad"});
  ASSERT_EQ(form->RunCheck(), TCheckOutcome::kDone);
  ASSERT_EQ(form->ListView1.Items().Count(), 1);
  fs::remove(FailureListPath());
  {
    TempDir empty;
    EnvScope path("PATH", empty.Path());
    EXPECT_EQ(form->RunCheck(), TCheckOutcome::kCouldNotRun);
    EXPECT_EQ(form->StaticText1.Caption(), J("pdfinfo が見つかりません。検査を行いませんでした"));
    EXPECT_EQ(form->ListView1.Items().Count(), 0);
    EXPECT_EQ(form->FailureList().Count(), 0);
    EXPECT_FALSE(FileExists(FailureListPath()));
    EXPECT_FALSE(form->AllPassed());
  }
  CheckSettings.Engine = 1;
  fs::remove(Prog() + "bin/AHPDFToolCmd26");
  EXPECT_EQ(form->RunCheck(), TCheckOutcome::kCouldNotRun);
  EXPECT_EQ(form->StaticText1.Caption(),
            ToolPath() + J(" が見つかりません。検査を行いませんでした"));
  EXPECT_EQ(form->ListView1.Items().Count(), 0);
  EXPECT_FALSE(FileExists(FailureListPath()));
  // Without the option the tool is not needed.
  CheckSettings.Engine = 0;
  EXPECT_EQ(form->RunCheck(), TCheckOutcome::kDone);
}

TEST_F(CheckRun, AFailureListThatCannotBeSavedIsReported) {
  const std::string plain = Qpdf("plain.pdf", {});
  fs::create_directory(FailureListPath());  // a folder where the file would go
  std::vector<std::string> boxes;
  ui::Application().SetMessageBoxHook([&](const std::string& text, const std::string&, int flags) {
    boxes.push_back(text);
    EXPECT_EQ(flags & ui::MB_ICONMASK, ui::MB_ICONERROR);
    return ui::IDOK;
  });
  auto form = Form();
  CheckSettings.ReLock = 1;
  List({plain + ",,,1.4"});
  EXPECT_EQ(form->RunCheck(), TCheckOutcome::kSaveFailed);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].rfind(FailureListPath() + J(" に書き込めません"), 0), 0u) << boxes[0];
  EXPECT_EQ(form->StaticText1.Caption(), boxes[0]);
  EXPECT_EQ(form->ListView1.Items().Count(), 1);
}

TEST_F(CheckRun, ADoubleClickOpensTheSelectedFile) {
  struct FakeShell : ui::TShell {
    bool OpenDocument(const std::string& path) override {
      opened.push_back(path);
      return true;
    }
    V opened;
  } shell;
  ui::TShell* old = ui::SetShell(&shell);
  const std::string plain = Qpdf("plain.pdf", {});
  auto form = Form();
  List({plain + ",,,1.4", plain + ",,,1.5"});
  ASSERT_EQ(form->RunCheck(), TCheckOutcome::kDone);
  form->ListView1.DblClick();  // nothing selected: nothing opens
  form->ListView1.SelectItem(1);
  form->ListView1.DblClick();
  ui::SetShell(old);
  EXPECT_EQ(shell.opened, V{plain});
}

TEST_F(CheckRun, FilesOfTheOutsideCorpus) {
  SV_REQUIRE_CORPUS();
  const std::string enc = CorpusDir() + "encrypted/";
  const std::string peer = CorpusDir() + "peer/";
  const std::string y = Y(), n = N(), d = D();
  struct File {
    std::string path, user, owner, version;
    bool unprotected;
  } files[] = {
      {enc + "aes-128_u=user_o=owner.pdf", "user", "owner", "1.6", false},
      {enc + "aes-256_u=user_o=owner.pdf", "user", "owner", "1.7", false},
      {enc + "rc4-128_u=_o=owner_noprint.pdf", "", "owner", "1.5", true},
      {enc + "rc4-128_u=user_o=owner.pdf", "user", "owner", "1.5", false},
      {enc + "rc4-128_u=user_o=owner_big.pdf", "user", "owner", "1.4", false},
      {enc + "rc4-128_u=user_o=owner_objstm.pdf", "user", "owner", "1.5", false},
      {enc + "rc4-40_u=user_o=owner.pdf", "user", "owner", "1.5", false},
      {peer + "enc-R2,V1,U=view,O=master.pdf", "view", "master", "1.4", false},
      {peer + "enc-R3,V2,U=view,O=master.pdf", "view", "master", "1.4", false},
      {peer + "enc-XI-R6,V5,O=master.pdf", "", "master", "1.7", true},
  };
  V right, wrong;
  for (const File& f : files) {
    // A comma in a path makes more fields: the corpus file is checked through a copy.
    std::string path = f.path;
    if (path.find(',') != std::string::npos) {
      path = Prog() + "data/" + std::to_string(right.size()) + ".pdf";
      CopyFile(f.path, path);
    }
    right.push_back(path + "," + f.user + "," + f.owner + "," + f.version);
    wrong.push_back(path + ",wrong,wrong," + f.version);
  }
  auto form = Form();
  List(right);
  ASSERT_EQ(form->RunCheck(), TCheckOutcome::kDone);
  ASSERT_EQ(form->ListView1.Items().Count(), static_cast<int>(std::size(files)));
  for (int i = 0; i < form->ListView1.Items().Count(); ++i) {
    const File& f = files[i];
    V row = Row(*form->ListView1.Items().Item(i));
    EXPECT_EQ(row[1], f.version + "  " + y) << f.path;
    EXPECT_EQ(V(row.begin() + 2, row.end()), f.unprotected ? (V{y, d, y}) : (V{d, y, y})) << f.path;
  }
  // Every file fails with wrong passwords; one that opens without a password because it has
  // only an owner password needs no user password, and fails for the wrong owner password.
  List(wrong);
  ASSERT_EQ(form->RunCheck(), TCheckOutcome::kDone);
  for (int i = 0; i < form->ListView1.Items().Count(); ++i) {
    const File& f = files[i];
    V row = Row(*form->ListView1.Items().Item(i));
    EXPECT_EQ(V(row.begin() + 2, row.end()), f.unprotected ? (V{y, n, n}) : (V{d, n, n})) << f.path;
    EXPECT_EQ(form->ListView1.ItemTextColor(i), ui::clRed) << f.path;
  }
  EXPECT_EQ(form->FailureList().Count(), static_cast<int>(std::size(files)));

  // Manuals of other producers: unprotected, never in the failure list.
  V docs;
  for (const std::string& f : CorpusFiles("docs"))
    docs.push_back(f + ",,,1.5");
  List(docs);
  ASSERT_EQ(form->RunCheck(), TCheckOutcome::kDone);
  ASSERT_EQ(form->ListView1.Items().Count(), static_cast<int>(docs.size()));
  for (int i = 0; i < form->ListView1.Items().Count(); ++i)
    EXPECT_EQ(form->ListView1.Items().Item(i)->ColumnText(2), y) << docs[i];
  EXPECT_EQ(form->FailureList().Count(), 0);
}

TEST_F(CheckRun, AFileWithAnOwnerPasswordAloneNeedsTheListedOneByEitherCheck) {
  // Each opens without a password; the owner password is all that protects it.
  const V files = {
      Qpdf("o-40.pdf", {"--allow-weak-crypto", "--encrypt", "", "owner", "40", "--"}),
      Qpdf("o-rc4-128.pdf", {"--allow-weak-crypto", "--encrypt", "", "owner", "128", "--"}),
      Qpdf("o-aes-128.pdf", {"--encrypt", "", "owner", "128", "--use-aes=y", "--"}),
      Qpdf("o-aes-256.pdf", {"--encrypt", "", "owner", "256", "--"}),
      // Another producer's owner password.
      Qpdf("o-other.pdf", {"--encrypt", "", "someone else", "256", "--"}),
  };
  const std::string y = Y(), n = N(), d = D();
  for (const int engine : {0, 1}) {
    SCOPED_TRACE(engine ? "by the tool" : "by pdfinfo");
    auto form = Form();
    CheckSettings.Engine = engine;
    std::vector<Expect> expected;
    for (size_t i = 0; i < files.size(); ++i) {
      const std::string& f = files[i];
      const std::string version = i < 2 ? "1.4" : i == 2 ? "1.6" : "1.7";
      const bool other = i + 1 == files.size();
      const std::string right = other ? "someone else" : "owner";
      expected.push_back({f + ",," + right + "," + version,
                          {f, version + "  " + y, y, d, y},
                          false,
                          false,
                          "OK,OK,NG,OK"});
      for (const char* wrong : {"wrong", "owne", "Owner", "?"})
        expected.push_back({f + ",," + wrong + "," + version,
                            {f, version + "  " + y, y, d, n},
                            true,
                            true,
                            "OK,OK,NG,NG"});
      if (other)
        expected.push_back({f + ",,owner," + version,
                            {f, version + "  " + y, y, d, n},
                            true,
                            true,
                            "OK,OK,NG,NG"});
    }
    CheckAll(*form, expected);
    EXPECT_FALSE(FileExists(WorkFilePath()));
  }
}

TEST_F(CheckRun, PasswordsAreComparedAsTheListWritesThemBlanksIncluded) {
  const std::string blanks = Qpdf("blanks.pdf", {"--encrypt", " user ", "\towner ", "256", "--"});
  const std::string ownerOnly = Qpdf("blank-owner.pdf", {"--encrypt", "", " owner", "256", "--"});
  const std::string plain = Qpdf("plain.pdf", {"--encrypt", "user", "owner", "256", "--"});
  const std::string y = Y(), n = N(), d = D(), v = "1.7  " + Y();
  auto form = Form();
  CheckAll(*form,
           {
               {blanks + ", user ,\towner ,1.7", {blanks, v, d, y, y}, false, false, "OK,--,OK,OK"},
               {blanks + ",\" user \",\"\towner \",1.7",
                {blanks, v, d, y, y},
                false,
                false,
                "OK,--,OK,OK"},
               {blanks + ",user,owner,1.7", {blanks, v, d, n, n}, true, true, "OK,--,NG,NG"},
               {blanks + ", user,owner ,1.7", {blanks, v, d, n, n}, true, true, "OK,--,NG,NG"},
               {ownerOnly + ",, owner,1.7", {ownerOnly, v, y, d, y}, false, false, "OK,OK,NG,OK"},
               {ownerOnly + ",,owner,1.7", {ownerOnly, v, y, d, n}, true, true, "OK,OK,NG,NG"},
               // Blanks around a password the file does not have make no match either.
               {plain + ",user ,owner,1.7", {plain, v, d, n, y}, true, true, "OK,--,NG,OK"},
               {plain + ",user, owner,1.7", {plain, v, d, y, n}, true, true, "OK,--,OK,NG"},
               // The version is still read without the blanks around it.
               {plain + ",user,owner, 1.7 ", {plain, v, d, y, y}, false, false, "OK,--,OK,OK"},
           });
}

TEST_F(CheckRun, AListThatIsNoRegularFileIsNotWaitedForAndChecksNothing) {
  const std::string plain = Qpdf("plain.pdf", {});
  auto form = Form();
  // A FIFO nobody writes to, and a link to one: opened without waiting, refused unread.
  const std::string fifo = Prog() + "fifo.csv", link = Prog() + "link.csv";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  fs::create_symlink(fifo, link);
  for (const std::string& list : {fifo, link}) {
    SCOPED_TRACE(list);
    CheckSettings.CsvPath = list;
    EXPECT_EQ(form->RunCheck(), TCheckOutcome::kCouldNotRun);
    EXPECT_EQ(form->StaticText1.Caption().rfind(list + J(" を読めません"), 0), 0u)
        << form->StaticText1.Caption();
    EXPECT_EQ(form->ListView1.Items().Count(), 0);
  }
  // A link to a list is read as the list.
  WriteFile(Prog() + "real.csv", plain + ",,,1.4\r\n");
  fs::create_symlink(Prog() + "real.csv", Prog() + "linked.csv");
  CheckSettings.CsvPath = Prog() + "linked.csv";
  EXPECT_EQ(form->RunCheck(), TCheckOutcome::kDone);
  ASSERT_EQ(form->ListView1.Items().Count(), 1);
  EXPECT_EQ(form->ListView1.Items().Item(0)->Caption(), plain);
}

TEST_F(CheckRun, WhatTheToolWritesForTheOwnerCheckIsTheProgramsOwnWhateverTheMask) {
  const std::string rc128 =
      Qpdf("rc4-128.pdf", {"--allow-weak-crypto", "--encrypt", "user", "owner", "128", "--"});
  // A tool that writes its output as any program does and says what mode it got.
  fs::remove(Prog() + "bin/AHPDFToolCmd26");
  WriteFile(ToolPath(),
            "#!/bin/sh\n: > \"$6\" && stat -c %a \"$6\" >> '" + Prog() + "modes'\nexit 0\n");
  ::chmod(ToolPath().c_str(), 0755);
  auto form = Form();
  CheckSettings.Engine = 1;
  List({rc128 + ",user,owner,1.4"});
  const mode_t mask = ::umask(0);
  const TCheckOutcome outcome = form->RunCheck();
  ::umask(mask);
  ASSERT_EQ(outcome, TCheckOutcome::kDone);
  EXPECT_EQ(ReadFile(Prog() + "modes"), "600\n");
  EXPECT_FALSE(FileExists(WorkFilePath()));
}
