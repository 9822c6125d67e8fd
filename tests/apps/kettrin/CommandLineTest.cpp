// The command line, the window's set-up and settings, the command-line run with its result CSV
// and closing message, and the real program's silent runs with their exit statuses.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/IniFiles.h"
#include "tests/apps/kettrin/KettrinTestSupport.h"
#include "ui/Shell.h"

using namespace sv::test;
using V = std::vector<std::string>;
namespace fs = std::filesystem;

namespace {

class CommandLine : public KettrinFolderTest {};

// The program's window and its runs from the command line.
class CommandLineRun : public KettrinFolderTest {
 protected:
  void SetUp() override {
    KettrinFolderTest::SetUp();
    SV_REQUIRE_JUDGES("pdfinfo", "qpdf");
    plain_ = Qpdf("plain.pdf", {});
    locked_ = Qpdf("aes-256.pdf", {"--encrypt", "user", "owner", "256", "--"});
    ui::Application().SetMessageBoxHook(
        [this](const std::string& text, const std::string& caption, int flags) {
          boxes_.push_back({text, caption, flags});
          return ui::IDOK;
        });
  }
  struct Box {
    std::string text, caption;
    int flags;
  };
  std::string plain_, locked_;
  std::vector<Box> boxes_;
};

}  // namespace

TEST_F(CommandLine, ParsesTheSwitchesInOrder) {
  const std::string list = List({});
  WriteFile(Prog() + "data/rel.csv", "");
  const std::string missing = Prog() + "missing.csv";
  struct Case {
    V args;
    bool result;
    std::string csv;
    bool silent, shown;
  } cases[] = {
      {{"/f" + list}, true, list, false, false},
      {{"/F" + list, "/N"}, true, list, true, false},
      {{"/p", "/n", "/f" + list}, true, list, true, false},  // the last of /p and /n counts
      {{"/n", "/P", "/f" + list}, true, list, false, true},
      {{"/f" + missing}, false, "", false, false},
      {{"/f" + list, "/f" + missing}, false, "", false, false},  // the earlier /f is forgotten
      {{"/f" + missing, "/f" + list}, true, list, false, false},
      {{"/fdata/rel.csv"}, true, Prog() + "data/rel.csv", false, false},
      {{"/f\"" + list + "\""}, true, list, false, false},
      {{"/f" + Prog() + "data"}, false, "", false, false},  // a folder is no list
      {{"/f"}, false, "", false, false},
      {{"/n"}, false, "", true, false},  // a silent run needs a list
      {{"/n", "/f" + missing}, false, "", true, false},
      {{"/p"}, false, "", false, true},
      {{list, "-n", "/", "/x", "p", "f" + list}, false, "", false, false},
      {{"/nothing"}, false, "", true, false},  // by the second character
      // As Sorvane starts it: the list in quotes right after /f, split as the runner splits.
      {platform::SplitCommandLine("/p /f\"" + list + "\""), true, list, false, true},
  };
  for (const Case& c : cases) {
    TForm1 form(c.args);
    std::string what = ::testing::PrintToString(c.args);
    EXPECT_EQ(form.ParseCommandLine(), c.result) << what;
    EXPECT_EQ(form.CommandLineCsv, c.csv) << what;
    EXPECT_EQ(form.SilentRun, c.silent) << what;
    EXPECT_EQ(form.ShowResultRun, c.shown) << what;
  }
}

TEST_F(CommandLine, TheWindowHasItsControlsAndShowsTheSettings) {
  const std::string list = Prog() + J("検査.csv");
  rtl::TIniFile ini(AppIniPath());
  ini.WriteInteger("Pos", "Top", 30);
  ini.WriteInteger("Pos", "Left", 40);
  ini.WriteString("CSV", "Path", list);
  ini.WriteInteger("PDF", "Engine", 1);
  auto form = Form();
  EXPECT_EQ(form->Caption(), "Kettrin(V0.12)");
  EXPECT_EQ(form->BoundsRect(), (ui::TRect{40, 30, 40 + 545, 30 + 546}));
  EXPECT_EQ(form->BorderStyle(), ui::bsSingle);
  EXPECT_FALSE(ui::Application().ToolWindow());
  EXPECT_EQ(form->FileDrop1.Control(), form.get());
  EXPECT_TRUE(form->FileDrop1.Accept());
  EXPECT_EQ(form->Label1.Caption(), J("処理CSV"));
  EXPECT_EQ(form->Edit1.Text(), list);
  EXPECT_TRUE(form->Edit1.ReadOnly());
  EXPECT_EQ(form->Button1.Caption(), J("参照"));
  EXPECT_EQ(form->GroupBox1.Caption(), J("設定"));
  EXPECT_EQ(form->CheckBox1.Caption(), J("パスワードが異なっている場合（赤）をリスト出力"));
  EXPECT_FALSE(form->CheckBox1.Checked());
  EXPECT_EQ(form->CheckBox2.Caption(), J("アンテナハウスエンジン使用"));
  EXPECT_TRUE(form->CheckBox2.Checked());
  EXPECT_EQ(form->StaticText1.Caption(), "");
  EXPECT_EQ(form->SpeedButton1.Caption(), J("実行"));
  EXPECT_EQ(form->OpenDialog1.Filter(), J("csvファイル|*.csv"));
  EXPECT_EQ(form->OpenDialog1.DefaultExt(), "csv");
  EXPECT_EQ(form->ListView1.ViewStyle(), ui::vsReport);
  EXPECT_TRUE(form->ListView1.GridLines());
  V columns;
  for (int i = 0; i < form->ListView1.Columns().Count(); ++i)
    columns.push_back(form->ListView1.Columns()[i]->Caption());
  EXPECT_EQ(columns, (V{J("ファイル名"), "PDFVer", "NoPW", "UserPW", "OwnerPW"}));
  // Every control lies inside the window's client area.
  for (int i = 0; i < form->ComponentCount(); ++i) {
    auto* c = dynamic_cast<ui::TControl*>(form->Components(i));
    if (!c || !c->Parent()) continue;
    EXPECT_LE(c->Left() + c->Width(), c->Parent()->ClientWidth()) << c->Name();
    EXPECT_LE(c->Top() + c->Height(), c->Parent()->ClientHeight()) << c->Name();
  }
}

TEST_F(CommandLine, AChosenOrDroppedListIsShownAndOnlyCsvFilesAreTaken) {
  auto form = Form();
  struct FakeShell : ui::TShell {
    bool GetOpenFileName(ui::TOpenDialog& dialog, ui::TWinControl*, std::string& fileName,
                         int& filterIndex) override {
      filter = dialog.Filter();
      fileName = "/d/chosen";
      filterIndex = 1;
      return answer;
    }
    bool answer = true;
    std::string filter;
  } shell;
  ui::TShell* old = ui::SetShell(&shell);
  form->Button1.Click();
  EXPECT_EQ(shell.filter, J("csvファイル|*.csv"));
  EXPECT_EQ(CheckSettings.CsvPath, "/d/chosen.csv");  // the default extension added
  EXPECT_EQ(form->Edit1.Text(), "/d/chosen.csv");
  shell.answer = false;  // cancelled: nothing changes
  CheckSettings.CsvPath = "/d/kept.csv";
  form->Button1.Click();
  EXPECT_EQ(CheckSettings.CsvPath, "/d/kept.csv");
  ui::SetShell(old);

  auto drop = [&](V names) {
    rtl::TStringList files;
    for (const std::string& n : names)
      files.Add(n);
    form->FileDrop1FileDrop(&form->FileDrop1, files.Count(), files, 5, 5);
  };
  drop({"/d/first.CSV", "/d/second.csv"});
  EXPECT_EQ(CheckSettings.CsvPath, "/d/first.CSV");
  EXPECT_EQ(form->Edit1.Text(), "/d/first.CSV");
  drop({"/d/a.pdf", "/d/b.csv"});  // only the first name counts
  drop({"/d/folder"});
  drop({});
  EXPECT_EQ(CheckSettings.CsvPath, "/d/first.CSV");
  // Nothing runs by itself.
  EXPECT_EQ(form->ListView1.Items().Count(), 0);
}

TEST_F(CommandLine, ASilentStartHasNoWindowAndOneWithoutAListSaysItDidNotRun) {
  const std::string list = List({});
  {
    auto form = Form({"/n", "/f" + list});
    EXPECT_TRUE(ui::Application().ToolWindow());
    EXPECT_EQ(form->BoundsRect(), (ui::TRect{0, 0, 0, 0}));
    EXPECT_EQ(form->BorderStyle(), ui::bsNone);
    EXPECT_EQ(ui::Application().ExitCode(), 0);
  }
  ui::Application().SetToolWindow(false);
  auto form = Form({"/n", "/f" + Prog() + "missing.csv"});
  EXPECT_FALSE(ui::Application().ToolWindow());  // the window opens normally
  EXPECT_EQ(form->Width(), 545);
  EXPECT_EQ(ui::Application().ExitCode(), 2);
}

TEST_F(CommandLineRun, AShownRunWritesTheResultCsvWithItsHeaderAndSaysWhereAtClose) {
  const std::string list = List({plain_ + ",,,1.4", locked_ + ",user,owner,1.7",
                                 locked_ + ",user,bad,1.7", Prog() + "none.pdf,u,o,1.4"},
                                J("検査.csv"));
  CheckSettings.CsvPath.clear();
  auto form = Form({"/p", "/f" + list});
  form->Show();  // becomes active: the run
  const std::string result = Prog() + J("検査_log.csv");
  EXPECT_EQ(ReadFile(platform::AnsiToUtf8(result)),
            J("ファイル名,Verチェック,プロテクト有無,ユーザパスワード,オーナーパスワード\r\n") +
                plain_ + ",OK,OK,NG,NG\r\n" + locked_ + ",OK,--,OK,OK\r\n" + locked_ +
                ",OK,--,OK,NG\r\n" + Prog() + "none.pdf,NG,--,NG,NG\r\n");
  EXPECT_EQ(form->SavedResultCsv(), result);
  EXPECT_EQ(form->StaticText1.Caption(), J("処理終了"));
  EXPECT_EQ(form->Edit1.Text(), list);
  EXPECT_TRUE(form->Visible());  // stays open
  EXPECT_EQ(ui::Application().ExitCode(), 1);
  EXPECT_TRUE(boxes_.empty());
  EXPECT_FALSE(FileExists(AppIniPath()));

  form->Close();
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0].text, J("結果を") + result + J("に保存しました。"));
  EXPECT_EQ(boxes_[0].caption, ui::Application().Title());
  EXPECT_EQ(boxes_[0].flags, ui::MB_OK | ui::MB_ICONINFORMATION);
  // The settings are written at close, with the command line's list.
  rtl::TIniFile ini(AppIniPath());
  EXPECT_EQ(ini.ReadString("CSV", "Path", ""), list);
  EXPECT_EQ(ini.ReadString("Pos", "Top", ""), "0");
  EXPECT_EQ(ini.ReadString("PDF", "Engine", ""), "0");
  EXPECT_EQ(ini.ReadString("PDF", "ReLock", ""), "0");
  EXPECT_NE(ReadFile(AppIniPath()).find("Path=" + list + "\r\n"), std::string::npos);
}

TEST_F(CommandLineRun, WithoutPTheResultCsvHasNoHeaderAndTheWindowCloses) {
  const std::string list = List({plain_ + ",,,1.4", locked_ + ",user,owner,1.7"});
  auto form = Form({"/f" + list});
  form->Show();
  EXPECT_EQ(ReadFile(Prog() + "list_log.csv"),
            plain_ + ",OK,OK,NG,NG\r\n" + locked_ + ",OK,--,OK,OK\r\n");
  EXPECT_EQ(ui::Application().ExitCode(), 0);
  EXPECT_FALSE(form->Visible());
  EXPECT_TRUE(boxes_.empty());  // no message at close
  EXPECT_TRUE(FileExists(AppIniPath()));
}

TEST_F(CommandLineRun, ARunThatCouldNotRunWritesNoResultCsvAndSaysNothingWasSaved) {
  const std::string list = List({plain_ + ",,,1.4"});
  auto form = Form({"/p", "/f" + list});
  {
    TempDir empty;
    EnvScope path("PATH", empty.Path());
    form->Show();
  }
  EXPECT_FALSE(FileExists(Prog() + "list_log.csv"));
  EXPECT_EQ(form->StaticText1.Caption(), J("pdfinfo が見つかりません。検査を行いませんでした"));
  EXPECT_EQ(ui::Application().ExitCode(), 2);
  EXPECT_EQ(form->SavedResultCsv(), "");
  form->Close();
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(CommandLineRun, AListThatIsNoCsvFileIsReportedInACommandLineRun) {
  const std::string list = List({plain_ + ",,,1.4"}, "list.txt");
  auto form = Form({"/p", "/f" + list});
  form->Show();
  EXPECT_EQ(form->StaticText1.Caption(), list + J(" はCSVファイルではありません"));
  EXPECT_EQ(ui::Application().ExitCode(), 2);
  EXPECT_FALSE(FileExists(Prog() + "list_log.csv"));
}

// The real program, copied into a program folder of its own, started as a script would start it.
class KettrinProgram : public CommandLineRun {
 protected:
  void SetUp() override {
    CommandLineRun::SetUp();
    if (IsSkipped()) return;
    if (!FileExists(ProgramDir() + "Kettrin")) GTEST_SKIP() << "Kettrin was not built";
    fs::copy_file(ProgramDir() + "Kettrin", Prog() + "Kettrin");
  }
  CommandResult Run(V args, const std::string& path = "") {
    V argv{"env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY"};
    if (!path.empty()) argv.push_back("PATH=" + path);
    argv.push_back(Prog() + "Kettrin");
    argv.insert(argv.end(), args.begin(), args.end());
    return RunCommand(argv, Prog() + "data");
  }
};

TEST_F(KettrinProgram, ASilentRunNeedsNoDisplayAndEndsWithItsStatus) {
  List({plain_ + ",,,1.4", locked_ + ",user,owner,1.7"});
  // A relative list path, taken below the program folder; letters in either case.
  CommandResult r = Run({"/N", "/flist.csv"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out, "");  // nothing of pdfinfo's comes through
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(ReadFile(Prog() + "list_log.csv"),
            plain_ + ",OK,OK,NG,NG\r\n" + locked_ + ",OK,--,OK,OK\r\n");
  rtl::TIniFile ini(Prog() + "Kettrin.ini");
  EXPECT_EQ(ini.ReadString("CSV", "Path", ""), Prog() + "list.csv");

  List({plain_ + ",,,1.4", locked_ + ",user,bad,1.7"});
  r = Run({"/p", "/n", "/f" + Prog() + "list.csv"});
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(ReadFile(Prog() + "list_log.csv"),
            plain_ + ",OK,OK,NG,NG\r\n" + locked_ + ",OK,--,OK,NG\r\n");

  // No pdfinfo: said on standard error, nothing checked, no result CSV.
  fs::remove(Prog() + "list_log.csv");
  TempDir empty;
  r = Run({"/n", "/f" + Prog() + "list.csv"}, empty.Path());
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.err, "Kettrin: pdfinfo が見つかりません。検査を行いませんでした\n");
  EXPECT_FALSE(FileExists(Prog() + "list_log.csv"));

  // The outside tool ticked but missing.
  rtl::TIniFile(Prog() + "Kettrin.ini").WriteInteger("PDF", "Engine", 1);
  fs::remove(Prog() + "bin/AHPDFToolCmd26");
  r = Run({"/n", "/f" + Prog() + "list.csv"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.err,
            "Kettrin: " + Prog() + "bin/AHPDFToolCmd26 が見つかりません。検査を行いませんでした\n");

  // A silent start without its list opens the window, which cannot open here.
  r = Run({"/n", "/f" + Prog() + "missing.csv"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err, "");
}

TEST_F(KettrinProgram, SorvanesCheckListPassesUntilAFileIsChangedAfterTheRun) {
  // Files as Sorvane's tool engine leaves them, and its check list log/log_check.csv (path, user
  // password, owner password, version; no quoting, no header).
  const std::string a = Tool("a.pdf", "1.7", "user", "owner");
  const std::string b = Tool("b.pdf", "1.6", "user", "owner");
  fs::create_directories(Prog() + "log");
  List({a + ",user,owner,1.7", b + ",user,owner,1.6", locked_ + ",user,owner,1.7"},
       "log/log_check.csv");
  const std::string result = Prog() + "log/log_check_log.csv";

  CommandResult r = Run({"/n", "/flog/log_check.csv"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(ReadFile(platform::AnsiToUtf8(result)),
            a + ",OK,--,OK,OK\r\n" + b + ",OK,--,OK,OK\r\n" + locked_ + ",OK,--,OK,OK\r\n");

  // Changed afterwards: one locked again with another owner password, one replaced by an
  // unprotected copy of another version.
  fs::remove(b);
  Tool("b.pdf", "1.6", "user", "other");
  fs::copy_file(plain_, a, fs::copy_options::overwrite_existing);
  r = Run({"/n", "/flog/log_check.csv"});
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_EQ(ReadFile(platform::AnsiToUtf8(result)),
            a + ",NG,OK,NG,NG\r\n" + b + ",OK,--,OK,NG\r\n" + locked_ + ",OK,--,OK,OK\r\n");
}
