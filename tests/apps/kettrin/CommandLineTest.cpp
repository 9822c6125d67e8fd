// The command line, the window's set-up and settings, the command-line run with its result CSV
// and closing message, and the real program's silent runs with their exit statuses.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
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

TEST_F(KettrinProgram, TheFilesItWritesAreItsOwnWhateverTheFileModeMask) {
  auto mode = [](const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
  };
  for (const char* mask : {"000", "022"}) {
    SCOPED_TRACE(mask);
    // A settings file that others could read, with the failure list on.
    WriteFile(Prog() + "Kettrin.ini", "[PDF]\r\nReLock=1\r\nEngine=1\r\n");
    ::chmod((Prog() + "Kettrin.ini").c_str(), 0644);
    fs::remove(Prog() + "list_log.csv");
    fs::remove(Prog() + "KettrinLog.txt");
    List({plain_ + ",,,1.4", locked_ + ",user,wrong,1.7"});
    CommandResult r =
        RunCommand({"sh", "-c",
                    std::string("umask ") + mask +
                        " && exec env -u DISPLAY -u WAYLAND_DISPLAY \"$0\" /n /f\"$1\"",
                    Prog() + "Kettrin", Prog() + "list.csv"},
                   Prog() + "data");
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_EQ(ReadFile(Prog() + "KettrinLog.txt"), locked_ + "\r\n");
    EXPECT_EQ(ReadFile(Prog() + "list_log.csv"),
              plain_ + ",OK,OK,NG,NG\r\n" + locked_ + ",OK,--,OK,NG\r\n");
    for (const char* file : {"Kettrin.ini", "KettrinLog.txt", "list_log.csv"})
      EXPECT_EQ(mode(Prog() + file), 0600u) << file;
    EXPECT_FALSE(FileExists(Prog() + "$output.pdf"));
  }
}

namespace {

constexpr uid_t kFolderOwner = 54321;

// Runs f in a child process as the folder's owner (its own group, no others); true when f did.
bool AsFolderOwner(const std::function<bool()>& f) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::setgroups(0, nullptr) != 0 ||
        ::setresgid(kFolderOwner, kFolderOwner, kFolderOwner) != 0 ||
        ::setresuid(kFolderOwner, kFolderOwner, kFolderOwner) != 0)
      ::_exit(2);
    ::_exit(f() ? 0 : 1);
  }
  int status = 0;
  return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
         WEXITSTATUS(status) == 0;
}

bool Plant(const std::string& path, const std::string& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
  const bool ok =
      fd >= 0 && ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  if (fd >= 0) ::close(fd);
  return ok;
}

struct FileState {
  std::string bytes;
  mode_t mode;
  uid_t owner;
  bool operator==(const FileState&) const = default;
};

FileState StateOf(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return {ReadFile(path), st.st_mode & 07777, st.st_uid};
}

// Root runs the check on a list in a folder of another user, who plants what he likes beside it.
class ResultCsvInAnotherUsersFolder : public CommandLineRun {
 protected:
  void SetUp() override {
    CommandLineRun::SetUp();
    if (IsSkipped()) return;
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to play the folder's owner";
    ::chmod(outside_.Path().c_str(), 0755);
    // A folder of root's alone with a file that nobody else may read.
    fs::create_directory(rootOnly_);
    ::chmod(rootOnly_.c_str(), 0700);
    WriteFile(secret_, "root's own\n");
    ::chmod(secret_.c_str(), 0600);
    // The user's folder, and the list in it.
    fs::create_directories(lists_);
    for (const std::string& f : {home_, lists_})
      ASSERT_EQ(::chown(f.c_str(), kFolderOwner, kFolderOwner), 0);
    WriteFile(list_, plain_ + ",,,1.4\r\n" + locked_ + ",user,owner,1.7\r\n");
  }
  // The command-line run on the list; the exit status.
  int Run() {
    ui::Application().SetExitCode(0);
    auto form = Form({"/f" + list_});
    form->Show();
    return ui::Application().ExitCode();
  }
  std::string Expected() const {
    return plain_ + ",OK,OK,NG,NG\r\n" + locked_ + ",OK,--,OK,OK\r\n";
  }

  TempDir outside_;
  const std::string rootOnly_ = outside_ / "root", secret_ = rootOnly_ + "/secret";
  const std::string home_ = outside_ / "home", lists_ = home_ + "/lists";
  const std::string list_ = lists_ + "/list.csv", result_ = lists_ + "/list_log.csv";
};

}  // namespace

TEST_F(ResultCsvInAnotherUsersFolder, IsMadeThereAndReplacedOnlyWhenItIsTheRunsOwn) {
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(StateOf(result_), (FileState{Expected(), 0600, 0}));
  // The next run replaces what the last one wrote.
  WriteFile(list_, plain_ + ",,,1.4\r\n");
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(StateOf(result_), (FileState{plain_ + ",OK,OK,NG,NG\r\n", 0600, 0}));
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(ResultCsvInAnotherUsersFolder, WhatTheOwnerPlantsInItsPlaceIsNeitherFollowedNorReplaced) {
  const FileState secret = StateOf(secret_);
  const std::string hardLinked = rootOnly_ + "/linked";
  WriteFile(hardLinked, "root's, linked\n");
  ::chmod(hardLinked.c_str(), 0600);
  const struct {
    const char* what;
    std::function<void()> plant;
    const char* why;  // in the message
  } cases[] = {
      {"a link to a root-only file",
       [&] {
         ASSERT_TRUE(
             AsFolderOwner([&] { return ::symlink(secret_.c_str(), result_.c_str()) == 0; }));
       },
       "symbolic link"},
      {"a link to a file that is not there yet",
       [&] {
         ASSERT_TRUE(AsFolderOwner(
             [&] { return ::symlink((rootOnly_ + "/new").c_str(), result_.c_str()) == 0; }));
       },
       "symbolic link"},
      {"a file of the owner's",
       [&] { ASSERT_TRUE(AsFolderOwner([&] { return Plant(result_, "mine\n"); })); },
       "another user's"},
      {"a root-only file's second name",
       [&] { ASSERT_EQ(::link(hardLinked.c_str(), result_.c_str()), 0); }, "hard links"},
      {"a folder",
       [&] { ASSERT_TRUE(AsFolderOwner([&] { return ::mkdir(result_.c_str(), 0755) == 0; })); },
       "regular file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(result_);
    c.plant();
    struct stat planted {};
    ASSERT_EQ(::lstat(result_.c_str(), &planted), 0);
    const std::string plantedBytes = S_ISREG(planted.st_mode) ? ReadFile(result_) : "";
    boxes_.clear();
    EXPECT_EQ(Run(), 2);
    // Whatever was there is there still, and so is what it named.
    struct stat now {};
    ASSERT_EQ(::lstat(result_.c_str(), &now), 0);
    EXPECT_EQ(now.st_ino, planted.st_ino);
    EXPECT_EQ(now.st_uid, planted.st_uid);
    if (S_ISREG(now.st_mode)) {
      EXPECT_EQ(ReadFile(result_), plantedBytes);
    }
    EXPECT_EQ(StateOf(secret_), secret);
    EXPECT_EQ(StateOf(hardLinked), (FileState{"root's, linked\n", 0600, 0}));
    EXPECT_FALSE(fs::exists(rootOnly_ + "/new"));
    // Nothing else was left in the folder, and the run said why.
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(lists_))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (V{"list.csv", "list_log.csv"}));
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].text.rfind(result_ + J(" に書き込めません"), 0), 0u) << boxes_[0].text;
    EXPECT_NE(boxes_[0].text.find(c.why), std::string::npos) << boxes_[0].text;
  }
}

TEST_F(ResultCsvInAnotherUsersFolder,
       GoesToTheListsFolderThoughItsPathIsTurnedIntoALinkDuringTheRun) {
  // Root's folder holds a result file of root's own, which a run through the path would replace.
  const std::string rootsResult = rootOnly_ + "/list_log.csv";
  WriteFile(rootsResult, "root's result\n");
  ::chmod(rootsResult.c_str(), 0600);
  // A pdfinfo that takes its time, so that the owner moves the folder while it runs.
  WriteFile(Prog() + "pdfinfo", "#!/bin/sh\nsleep 0.3\nexit 0\n");
  ::chmod((Prog() + "pdfinfo").c_str(), 0755);
  ui::Application().SetExitCode(0);
  auto form = Form({"/f" + list_});
  bool swapped = false;
  platform::SetPendingEventsHook([&] {
    if (!swapped)
      swapped = AsFolderOwner([&] {
        return ::rename(lists_.c_str(), (lists_ + ".old").c_str()) == 0 &&
               ::symlink(rootOnly_.c_str(), lists_.c_str()) == 0;
      });
    ui::Application().ProcessMessages();
  });
  form->Show();
  EXPECT_TRUE(swapped);
  EXPECT_EQ(StateOf(rootsResult), (FileState{"root's result\n", 0600, 0}));
  EXPECT_EQ(StateOf(lists_ + ".old/list_log.csv"),
            (FileState{plain_ + ",OK,OK,NG,NG\r\n" + locked_ + ",OK,OK,NG,NG\r\n", 0600, 0}));
  EXPECT_EQ(StateOf(secret_), (FileState{"root's own\n", 0600, 0}));
}
