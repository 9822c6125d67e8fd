// Sorvane's main window without a display: the start-up, the job list (drops, the folder chooser,
// deleting, selecting), the controls that edit the current job, saving, closing and the start of
// the check program.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "apps/sorvane/ToolEngine.h"
#include "platform/IniFiles.h"
#include "tests/apps/sorvane/SorvaneTestSupport.h"
#include "ui/Shell.h"

using namespace sv::test;
using V = std::vector<std::string>;
namespace fs = std::filesystem;

namespace {

class MainForm : public SorvaneFormTest {};

// A folder chooser that answers as a user would and records what it was opened on.
struct ChooserShell : ui::TShell {
  bool BrowseForFolder(ui::TWinControl*, const std::string& title, const std::string& initialDir,
                       std::string& path) override {
    titles.push_back(title);
    initials.push_back(initialDir);
    if (answer.empty()) return false;
    path = answer;
    return true;
  }
  std::string answer;  // empty: Cancel
  V titles, initials;
};

}  // namespace

TEST_F(MainForm, AFreshStartMakesTheFoldersAndDefaultIniAndShowsTheDefaults) {
  for (const char* sub : {"setting", "temp", "log"})
    fs::remove_all(Prog() + sub);
  rtl::TIniFile(AppIniPath()).WriteInteger("Pos", "Top", 33);
  rtl::TIniFile(AppIniPath()).WriteInteger("Pos", "Left", 44);
  auto form = Form();
  for (const char* sub : {"setting", "temp", "log"})
    EXPECT_TRUE(fs::is_directory(Prog() + sub)) << sub;
  ASSERT_TRUE(FileExists(DefaultIniPath()));
  const TJobSettings def = ReadJob(DefaultIniPath());
  const TJobSettings fresh;
  EXPECT_EQ(
      std::tie(def.EN, def.PW, def.PR, def.MD, def.CP, def.AN, def.DA, def.FF, def.AC, def.BT,
               def.Web, def.VerEn, def.Ver, def.SubDir, def.Enable),
      std::tie(fresh.EN, fresh.PW, fresh.PR, fresh.MD, fresh.CP, fresh.AN, fresh.DA, fresh.FF,
               fresh.AC, fresh.BT, fresh.Web, fresh.VerEn, fresh.Ver, fresh.SubDir, fresh.Enable));
  EXPECT_EQ(Entries(*form), V{});
  EXPECT_EQ(form->ListBoxJob.ItemIndex(), -1);
  EXPECT_EQ(form->StaticState.Caption(), Ansi("フォルダをドロップしてください"));
  EXPECT_EQ(form->PageControl1.ActivePage(), &form->TabSheetMain);
  EXPECT_EQ(form->BoundsRect(), (ui::TRect{44, 33, 44 + 539, 33 + 649}));
  EXPECT_EQ(form->BorderStyle(), ui::bsSingle);
  EXPECT_EQ(form->Caption(), "Sorvane");
  EXPECT_EQ(form->FileDrop1.HookedWindow(), form.get());
  EXPECT_TRUE(form->FileDrop1.Accept());
  EXPECT_FALSE(ui::Application().ToolWindow());
  // The controls show default.ini.
  EXPECT_TRUE(form->CheckBox_sEN.Checked());
  EXPECT_FALSE(form->CheckBox_sPR.Checked());
  EXPECT_FALSE(form->CheckBox_sBT.Checked());
  EXPECT_TRUE(form->CheckBoxSubDir.Checked());
  EXPECT_EQ(form->ComboBoxPDFVer.ItemIndex(), 0);
  EXPECT_EQ(ResultCode, 0);
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(MainForm, TheStartRebuildsTheJobListFromTheJobFiles) {
  const std::string b = Folder("b"), a = Folder("A"), c = Folder(Ansi("日本語のフォルダ"));
  Job(b);
  Job(a, [](TJobSettings& j) { j.Title = "first"; });
  Job(c);
  const std::string gone = Prog() + "gone";
  Job(gone, [](TJobSettings& j) { j.MasterPassWord = "kept"; });  // its folder does not exist
  const std::string goneIni = ReadFile(JobIniPath(gone));
  WriteFile(Prog() + "setting/notes.ini", "[x]\r\n");  // no job file name: left alone
  WriteFile(DefaultIniPath(), "[PDF]\r\nVer=2\r\n");

  auto form = Form();
  EXPECT_EQ(Entries(*form), (V{a, b, c}));
  EXPECT_EQ(form->ListBoxJob.ItemIndex(), 0);
  EXPECT_EQ(form->EditTitle.Text(), "first");
  EXPECT_EQ(JobSettings.Title, "first");
  // A job whose folder is missing is left out but keeps its file byte for byte.
  EXPECT_EQ(ReadFile(JobIniPath(gone)), goneIni);
  EXPECT_EQ(form->MissingJobs(), V{gone});
  EXPECT_TRUE(FileExists(Prog() + "setting/notes.ini"));
  // An existing default.ini is read, not rewritten.
  EXPECT_EQ(ReadFile(DefaultIniPath()), "[PDF]\r\nVer=2\r\n");

  // Back while the window is open: listed at the next run of all jobs, the selection kept.
  form->ListBoxJob.SelectItem(2);
  fs::create_directories(gone);
  EXPECT_EQ(form->RunAllJobs(), TRunOutcome::kAllOk);
  EXPECT_EQ(Entries(*form), (V{a, b, gone, c}));
  EXPECT_EQ(form->ListBoxJob.ItemIndex(), 3);
  EXPECT_EQ(form->MissingJobs(), V{});
  EXPECT_EQ(ReadFile(JobIniPath(gone)), goneIni);

  // Back before the next start: listed with its own settings.
  fs::remove(gone);
  auto missing = Form();
  EXPECT_EQ(Entries(*missing), (V{a, b, c}));
  fs::create_directories(gone);
  auto back = Form();
  EXPECT_EQ(Entries(*back), (V{a, b, gone, c}));
  EXPECT_EQ(ReadJob(JobIniPath(gone)).MasterPassWord, "kept");

  // Dropped again while its file was kept: the file's settings stay.
  fs::remove(gone);
  auto third = Form();
  fs::create_directories(gone);
  third->DeliverDrop({{gone}, {0, 0}});
  EXPECT_EQ(Entries(*third), (V{a, b, gone, c}));
  EXPECT_EQ(ReadFile(JobIniPath(gone)), goneIni);
  EXPECT_EQ(third->MissingJobs(), V{});
}

TEST_F(MainForm, DroppedFoldersBecomeJobsWithACopyOfDefaultIni) {
  const std::string data = Folder("data"), Data = Folder("Data"), more = Folder("more");
  const std::string file = Prog() + "data/a.pdf";
  WriteFile(file, "%PDF-1.4\n");
  auto form = Form();
  WriteFile(DefaultIniPath(), "[PDF]\r\nVer=1\r\nTitle=from default\r\n");

  form->DeliverDrop({{data}, {5, 5}});
  EXPECT_EQ(Entries(*form), V{data});
  EXPECT_EQ(form->ListBoxJob.ItemIndex(), 0);
  EXPECT_EQ(ReadFile(JobIniPath(data)), ReadFile(DefaultIniPath()));
  // The controls keep what they showed.
  EXPECT_EQ(form->EditTitle.Text(), "");

  // A folder already listed adds and copies nothing, and the selection stays.
  WriteFile(JobIniPath(data), "[PDF]\r\nVer=4\r\n");
  form->DeliverDrop({{data}, {0, 0}});
  EXPECT_EQ(Entries(*form), V{data});
  EXPECT_EQ(ReadFile(JobIniPath(data)), "[PDF]\r\nVer=4\r\n");
  EXPECT_EQ(form->ListBoxJob.ItemIndex(), 0);

  // A file is no job; names differing in case are different folders here. The last dropped
  // folder is selected.
  form->DeliverDrop({{file, more, Data}, {0, 0}});
  EXPECT_EQ(Entries(*form), (V{data, Data, more}));
  EXPECT_EQ(form->ListBoxJob.Items()[form->ListBoxJob.ItemIndex()], Data);
  EXPECT_FALSE(FileExists(JobIniPath(file)));
  EXPECT_TRUE(FileExists(JobIniPath(Data)));
  EXPECT_TRUE(FileExists(JobIniPath(more)));

  // A folder whose job file cannot be named is refused with a message; nothing is added.
  const std::string deep = Folder(std::string(120, 'x') + "/" + std::string(120, 'y'));
  form->DeliverDrop({{deep}, {0, 0}});
  EXPECT_EQ(Entries(*form).size(), 3u);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_NE(boxes_[0].find(deep + Ansi(" は追加できません。")), std::string::npos);
  // default.ini missing: the copy fails, and that is said too.
  boxes_.clear();
  fs::remove(DefaultIniPath());
  const std::string last = Folder("last");
  form->DeliverDrop({{last}, {0, 0}});
  EXPECT_EQ(Entries(*form).size(), 3u);
  EXPECT_EQ(boxes_.size(), 1u);
  EXPECT_FALSE(FileExists(JobIniPath(last)));
}

TEST_F(MainForm, AFolderThatCannotBeAJobIsRefusedWithAMessage) {
  // On disk: "café" (code page 932 has no é) and "10〜20" (the wave dash of the JIS mapping,
  // which code page 932 holds as the full-width tilde's code).
  fs::create_directories(Prog() + "café");
  fs::create_directories(Prog() + "10〜20");
  fs::create_directories(Prog() + "two\nlines");
  auto form = Form();
  // The toolkit hands the names over in code page 932 and as the file system spells them.
  const std::string cafe = Prog() + "caf?", wave = Prog() + Ansi("10〜20");
  const std::string lines = Prog() + "two\nlines";
  const std::string rename = "追加できません。フォルダ名を変更してください。";
  form->DeliverDrop(
      {{cafe, wave, lines}, {0, 0}, {Prog() + "café", Prog() + "10〜20", Prog() + "two\nlines"}});
  EXPECT_EQ(Entries(*form), V{wave});
  ASSERT_EQ(shownBoxes_.size(), 2u);
  EXPECT_EQ(shownBoxes_[0], "フォルダ「" + Prog() +
                                "café」の名前に、このプログラムの設定とログに記録できない文字"
                                "（é など）が含まれているため、" +
                                rename);
  EXPECT_EQ(shownBoxes_[1],
            "フォルダ「" + Prog() + "two\nlines」の名前に改行が含まれているため、" + rename);
  EXPECT_FALSE(FileExists(JobIniPath(cafe)));
  EXPECT_TRUE(FileExists(JobIniPath(wave)));

  // A folder really named "caf?" cannot be told from "café" by its name in code page 932;
  // several characters are named up to three.
  fs::create_directories(Prog() + "caf?");
  fs::create_directories(Prog() + "ÀÉÎÕÜ");
  shownBoxes_.clear();
  form->DeliverDrop({{cafe, Prog() + "?????"}, {0, 0}, {Prog() + "caf?", Prog() + "ÀÉÎÕÜ"}});
  form->DeliverDrop({{cafe}, {0, 0}});  // without the real name
  EXPECT_EQ(Entries(*form), V{wave});
  ASSERT_EQ(shownBoxes_.size(), 3u);
  EXPECT_EQ(shownBoxes_[0], "フォルダ「" + Prog() +
                                "caf?」の名前は、このプログラムの設定とログでは同じ場所の別の名前"
                                "と区別できないため、" +
                                rename);
  EXPECT_NE(shownBoxes_[1].find("記録できない文字（À、É、Î など）"), std::string::npos)
      << shownBoxes_[1];
  EXPECT_NE(shownBoxes_[2].find("区別できない"), std::string::npos) << shownBoxes_[2];
  // A file with such a name is no folder: skipped without a word.
  WriteFile(Prog() + "naïve.pdf", "%PDF-1.4\n");
  form->DeliverDrop({{Prog() + "na?ve.pdf"}, {0, 0}, {Prog() + "naïve.pdf"}});
  EXPECT_EQ(shownBoxes_.size(), 3u);

  // The next start finds the wave-dash job again.
  auto again = Form();
  EXPECT_EQ(Entries(*again), V{wave});
}

TEST_F(MainForm, TheChooserAddsWhatADropAddsAndRefusesWhatADropRefusesInTheSameWords) {
  ChooserShell shell;
  ui::TShell* old = ui::SetShell(&shell);
  fs::create_directories(Prog() + "報告〜2024");
  fs::create_directories(Prog() + "café");
  auto form = Form();
  // The chooser gives the folder as the file system spells it.
  shell.answer = Prog() + "報告〜2024";
  form->mmAddDir.Click();
  const std::string wave = Prog() + Ansi("報告〜2024");
  EXPECT_EQ(Entries(*form), V{wave});
  EXPECT_EQ(form->ListBoxJob.ItemIndex(), 0);
  EXPECT_TRUE(FileExists(JobIniPath(wave)));
  EXPECT_TRUE(shownBoxes_.empty());

  shell.answer = Prog() + "café";
  form->mnuAddDir.Click();
  form->DeliverDrop({{Prog() + "caf?"}, {0, 0}, {Prog() + "café"}});
  EXPECT_EQ(Entries(*form), V{wave});
  ASSERT_EQ(shownBoxes_.size(), 2u);
  EXPECT_EQ(shownBoxes_[0], shownBoxes_[1]);
  EXPECT_EQ(shownBoxes_[0].rfind("フォルダ「" + Prog() + "café」の名前に、", 0), 0u)
      << shownBoxes_[0];
  // The next chooser opens on the folder chosen last, by its real name.
  EXPECT_EQ(shell.initials.back(), Prog() + "報告〜2024");
  ui::SetShell(old);
}

TEST_F(MainForm, TheFolderChooserAddsAFolderWithoutItsTrailingSlash) {
  ChooserShell shell;
  ui::TShell* old = ui::SetShell(&shell);
  const std::string data = Folder("data");
  auto form = Form();

  form->mmAddDir.Click();  // Cancel
  EXPECT_EQ(Entries(*form), V{});

  shell.answer = data + "/";
  form->PopupMenuJob.Items()[0]->Click();
  EXPECT_EQ(Entries(*form), V{data});
  EXPECT_EQ(form->ListBoxJob.ItemIndex(), 0);
  EXPECT_TRUE(FileExists(JobIniPath(data)));

  // The next chooser opens on the folder chosen last; the same folder again adds nothing.
  form->mmAddDir.Click();
  EXPECT_EQ(Entries(*form), V{data});
  EXPECT_EQ(shell.titles, V(3, Ansi("フォルダーの選択")));
  EXPECT_EQ(shell.initials, (V{"", "", data + "/"}));
  ui::SetShell(old);
}

TEST_F(MainForm, DeletingTheSelectedJobRemovesItsFileAndLeavesNothingSelected) {
  const std::string a = Folder("a"), b = Folder("b");
  Job(a);
  Job(b);
  auto form = Form();
  form->ListBoxJob.SelectItem(1);
  form->mmDelDir.Click();
  EXPECT_EQ(Entries(*form), V{a});
  EXPECT_FALSE(FileExists(JobIniPath(b)));
  EXPECT_TRUE(FileExists(JobIniPath(a)));
  EXPECT_EQ(form->ListBoxJob.ItemIndex(), -1);
  // Nothing selected: deleting and "設定保存" do nothing.
  form->PopupMenuJob.Items()[1]->Click();
  form->SpeedButtonSaveSetting.Click();
  form->mmSaveSetting.Click();
  EXPECT_EQ(Entries(*form), V{a});
  EXPECT_FALSE(FileExists(JobIniPath(b)));
}

TEST_F(MainForm, EveryControlWritesItsFieldAndSavingWritesTheSelectedJob) {
  const std::string a = Folder("a"), b = Folder("b");
  Job(a);
  Job(b, [](TJobSettings& j) { j.Title = "b's own"; });
  auto form = Form();
  form->ListBoxJob.SelectItem(0);

  struct Flag {
    ui::TCheckBox* box;
    int32_t TJobSettings::*field;
    const char* caption;
  } flags[] = {
      {&form->CheckBox_sEN, &TJobSettings::EN, "セキュリティを使用する"},
      {&form->CheckBox_sPW, &TJobSettings::PW, "パスワードで制限する"},
      {&form->CheckBox_vEN, &TJobSettings::VerEn, "ＰＤＦバージョン指定を有効にする"},
      {&form->CheckBox_oWeb, &TJobSettings::Web, "Web最適化を行う"},
      {&form->CheckBox_sPR, &TJobSettings::PR, "印刷"},
      {&form->CheckBox_sMD, &TJobSettings::MD, "文書の変更"},
      {&form->CheckBox_sBA, &TJobSettings::DA, "文書アセンブリ"},
      {&form->CheckBox_sCP, &TJobSettings::CP, "内容のコピーと抽出"},
      {&form->CheckBox_sAC, &TJobSettings::AC, "アクセシビリティのための内容抽出"},
      {&form->CheckBox_sAN, &TJobSettings::AN, "注釈"},
      {&form->CheckBox_sFF, &TJobSettings::FF, "フォームフィールドの入力"},
      {&form->CheckBox_sBT, &TJobSettings::BT, "40bit暗号化を使う"},
      {&form->CheckBoxSubDir, &TJobSettings::SubDir, "サブディレクトリ処理"},
      {&form->CheckBoxAll, &TJobSettings::Enable, "一括処理対象"},
  };
  for (const Flag& f : flags) {
    SCOPED_TRACE(f.caption);
    EXPECT_EQ(f.box->Caption(), Ansi(f.caption));
    const int32_t before = JobSettings.*f.field;
    f.box->Toggle();
    EXPECT_EQ(JobSettings.*f.field, before != 0 ? 0 : 1);
  }
  struct Text {
    ui::TEdit* edit;
    std::string TJobSettings::*field;
    const char* typed;
  } texts[] = {
      {&form->EditOpenPW, &TJobSettings::OpenPassWord, "open"},
      {&form->EditmasterPW, &TJobSettings::MasterPassWord, "master\\\""},
      {&form->EditUserPW, &TJobSettings::UserPassWord, "ユーザ"},
      {&form->EditTitle, &TJobSettings::Title, "題名"},
      {&form->EditAuthor, &TJobSettings::Author, "作者"},
      {&form->EditSubject, &TJobSettings::Subject, "副題"},
      {&form->EditKeywords, &TJobSettings::Keywords, "a, b"},
      {&form->EditCreator, &TJobSettings::Creator, "creator"},
      {&form->EditProducer, &TJobSettings::Producer, "producer"},
  };
  for (const Text& t : texts) {
    SCOPED_TRACE(t.typed);
    t.edit->TypeText(Ansi(t.typed));
    EXPECT_EQ(JobSettings.*t.field, Ansi(t.typed));
  }
  for (ui::TEdit* e : {&form->EditOpenPW, &form->EditmasterPW, &form->EditUserPW})
    EXPECT_EQ(e->PasswordChar(), '*');
  EXPECT_EQ(
      form->ComboBoxPDFVer.Items().Items(),
      (V{Ansi("１．３　高速エンジン"), Ansi("１．４　高速エンジン"), Ansi("１．５　高速エンジン"),
         Ansi("１．６　アンテナハウスエンジン"), Ansi("１．７　アンテナハウスエンジン")}));
  form->ComboBoxPDFVer.SelectItem(3);
  EXPECT_EQ(JobSettings.Ver, 3);

  // "設定保存" stores all of it in the selected job's file, and only there.
  const TJobSettings edited = JobSettings;
  form->SpeedButtonSaveSetting.Click();
  const TJobSettings saved = ReadJob(JobIniPath(a));
  EXPECT_EQ(saved.UserPassWord, Ansi("ユーザ"));
  EXPECT_EQ(saved.MasterPassWord, Ansi("master\\\""));
  EXPECT_EQ(std::tie(saved.EN, saved.PR, saved.BT, saved.SubDir, saved.Enable, saved.Ver),
            std::tie(edited.EN, edited.PR, edited.BT, edited.SubDir, edited.Enable, edited.Ver));
  EXPECT_EQ(ReadJob(JobIniPath(b)).Title, "b's own");
  // "規定値として保存" (menu and pop-up menu) stores it as default.ini.
  form->mmSaveDef.Click();
  EXPECT_EQ(ReadJob(DefaultIniPath()).Title, Ansi("題名"));
  form->EditTitle.SetText("again");
  form->PopupMenuSetting.Items()[0]->Click();
  EXPECT_EQ(ReadJob(DefaultIniPath()).Title, "again");

  // Selecting the other job shows its settings in every control.
  form->ListBoxJob.SelectItem(1);
  EXPECT_EQ(form->EditTitle.Text(), "b's own");
  EXPECT_EQ(form->EditUserPW.Text(), "");
  EXPECT_TRUE(form->CheckBox_sEN.Checked());
  EXPECT_EQ(form->ComboBoxPDFVer.ItemIndex(), 0);
  EXPECT_EQ(JobSettings.Title, "b's own");
}

TEST_F(MainForm, ShowJobSettingsFillsEveryControl) {
  const std::string a = Folder("a");
  Job(a, [](TJobSettings& j) {
    j = TJobSettings{0, 0,    1,    0,    0,    0,    0,    0,    0,    1,    0, 0,
                     4, "au", "cr", "kw", "pr", "su", "ti", "op", "ma", "us", 0, 0};
  });
  auto form = Form();
  form->ShowJobSettings(JobIniPath(a));
  for (ui::TCheckBox* box :
       {&form->CheckBox_sEN, &form->CheckBox_sPW, &form->CheckBox_vEN, &form->CheckBox_oWeb,
        &form->CheckBox_sMD, &form->CheckBox_sBA, &form->CheckBox_sCP, &form->CheckBox_sAC,
        &form->CheckBox_sAN, &form->CheckBox_sFF, &form->CheckBoxSubDir, &form->CheckBoxAll})
    EXPECT_FALSE(box->Checked()) << box->Caption();
  EXPECT_TRUE(form->CheckBox_sPR.Checked());
  EXPECT_TRUE(form->CheckBox_sBT.Checked());
  EXPECT_EQ((V{form->EditAuthor.Text(), form->EditCreator.Text(), form->EditKeywords.Text(),
               form->EditProducer.Text(), form->EditSubject.Text(), form->EditTitle.Text(),
               form->EditOpenPW.Text(), form->EditmasterPW.Text(), form->EditUserPW.Text()}),
            (V{"au", "cr", "kw", "pr", "su", "ti", "op", "ma", "us"}));
  EXPECT_EQ(form->ComboBoxPDFVer.ItemIndex(), 4);
  EXPECT_EQ(JobSettings.Ver, 4);
  EXPECT_EQ(JobSettings.PR, 1);
  EXPECT_EQ(JobSettings.Enable, 0);

  // A Ver outside the list selects nothing and keeps its value.
  Job(a, [](TJobSettings& j) { j.Ver = 9; });
  form->ShowJobSettings(JobIniPath(a));
  EXPECT_EQ(form->ComboBoxPDFVer.ItemIndex(), -1);
  EXPECT_EQ(JobSettings.Ver, 9);
}

TEST_F(MainForm, ClosingSavesThePositionOnlyAndRemovesTheWorkFile) {
  rtl::TIniFile(AppIniPath()).WriteInteger("App", "Wait", 7);
  rtl::TIniFile(AppIniPath()).WriteInteger("App", "Debug", 1);
  auto form = Form();
  WriteFile(WorkFilePath(), "left over");
  form->SetBounds(30, 40, form->Width(), form->Height());
  form->mmQuit.Click();
  rtl::TIniFile ini(AppIniPath());
  EXPECT_EQ(ini.ReadInteger("Pos", "Left", -1), 30);
  EXPECT_EQ(ini.ReadInteger("Pos", "Top", -1), 40);
  EXPECT_EQ(ini.ReadInteger("App", "Wait", -1), 7);
  EXPECT_EQ(ini.ReadInteger("App", "Debug", -1), 1);
  EXPECT_FALSE(FileExists(WorkFilePath()));

  // A minimised window keeps the position saved before.
  auto again = Form();
  again->SetBounds(300, 400, again->Width(), again->Height());
  again->SetWindowState(ui::wsMinimized);
  again->Close();
  EXPECT_EQ(rtl::TIniFile(AppIniPath()).ReadInteger("Pos", "Left", -1), 30);
}

TEST_F(MainForm, TheCheckCommandStartsKettrinOnTheCheckListOrSaysThereIsNone) {
  auto form = Form();
  form->mmCheck.Click();
  EXPECT_EQ(boxes_,
            V{Ansi("処理が実行されていません。\r\n選択または一括処理ボタンを押してください")});

  // A stand-in Kettrin beside the program records how it was started.
  WriteFile(Prog() + "Kettrin", "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$(dirname \"$0\")/args\"\n");
  fs::permissions(Prog() + "Kettrin", fs::perms::owner_all);
  WriteFile(CheckLogPath(), "");
  boxes_.clear();
  form->mmCheck.Click();
  EXPECT_TRUE(boxes_.empty());
  EXPECT_EQ(ReadFile(Prog() + "args"), "/p\n/f" + Prog() + "log/log_check.csv\n");
  EXPECT_EQ(KettrinCommandLine(),
            "\"" + Prog() + "Kettrin\" /p /f\"" + Prog() + "log/log_check.csv\"");
}

TEST_F(MainForm, KettrinIsStartedFromAProgramFolderWithABlankNotFromItsFirstWord) {
  // A program planted where the folder's first word ends must not run.
  const std::string app = Prog() + "Sorvane App/";
  fs::create_directories(app);
  platform::SetProgramFolderForTests(app, "Sorvane");
  const std::string record = "#!/bin/sh\nprintf '%s\\n' \"$0\" \"$@\" > '" + Prog() + "started'\n";
  WriteFile(Prog() + "Sorvane", record);
  WriteFile(app + "Kettrin", record);
  for (const std::string& program : {Prog() + "Sorvane", app + "Kettrin"})
    fs::permissions(program, fs::perms::owner_all);
  auto form = Form();
  WriteFile(CheckLogPath(), "");
  form->mmCheck.Click();
  EXPECT_TRUE(boxes_.empty());
  EXPECT_EQ(ReadFile(Prog() + "started"), app + "Kettrin\n/p\n/f" + app + "log/log_check.csv\n");
}

TEST_F(MainForm, TheOpenPasswordIsOfferedOnceAndARefusalIsRecorded) {
  auto form = Form();
  JobSettings.OpenPassWord = "secret";
  std::string password = "x";
  bool cont = false;
  form->PDFDocPassword(nullptr, password, cont, 0);
  EXPECT_EQ(password, "secret");
  EXPECT_TRUE(cont);
  EXPECT_EQ(ResultCode, 0);
  form->PDFDocPassword(nullptr, password, cont, 1);
  EXPECT_FALSE(cont);
  EXPECT_EQ(ResultCode, -1);
}

TEST_F(MainForm, TheWindowHasItsMenusTabsAndCaptions) {
  auto form = Form();
  auto captions = [](const ui::TMenuItem& item) {
    V r;
    for (int i = 0; i < item.Count(); ++i)
      r.push_back(platform::AnsiToUtf8(item[i]->Caption()));
    return r;
  };
  EXPECT_EQ(form->Menu(), &form->MainMenu1);
  EXPECT_EQ(captions(form->MainMenu1.Items()), (V{"ファイル", "編集", "その他"}));
  EXPECT_EQ(captions(form->mmFile), (V{"フォルダ追加", "フォルダ削除", "-", "終了"}));
  EXPECT_EQ(captions(form->mmEdit), (V{"設定保存", "-", "規定値として保存"}));
  EXPECT_EQ(captions(form->mmOther), (V{"検査する"}));
  EXPECT_EQ(captions(form->PopupMenuJob.Items()), (V{"フォルダ追加", "フォルダ削除"}));
  EXPECT_EQ(captions(form->PopupMenuSetting.Items()), (V{"規定値として保存"}));
  EXPECT_EQ(form->ListBoxJob.PopupMenu(), &form->PopupMenuJob);
  EXPECT_EQ(form->GroupBoxSecurity.PopupMenu(), &form->PopupMenuSetting);
  EXPECT_EQ(form->TabSheetMain.Caption(), Ansi("動作"));
  EXPECT_EQ(form->TabSheetAbout.Caption(), "About");
  EXPECT_EQ(form->LabelVersion.Caption(), "Ver0.14c");
  V groups;
  for (ui::TGroupBox* g : {&form->GroupBoxSecurity, &form->GroupBoxPdf, &form->GroupBoxPassword,
                           &form->GroupBoxRestrict, &form->GroupBoxGeneral, &form->GroupBoxInfo})
    groups.push_back(platform::AnsiToUtf8(g->Caption()));
  EXPECT_EQ(groups, (V{"セキュリティ設定", "ＰＤＦ設定", "パスワード", "ＰＤＦへの制限", "一般設定",
                       "文書情報設定"}));
  V labels;
  for (ui::TLabel* l :
       {&form->LabelOpenPW, &form->LabelMasterPW, &form->LabelUserPW, &form->LabelTitle,
        &form->LabelAuthor, &form->LabelSubject, &form->LabelKeywords, &form->LabelCreator,
        &form->LabelProducer, &form->LabelPDFVer})
    labels.push_back(platform::AnsiToUtf8(l->Caption()));
  EXPECT_EQ(labels, (V{"解除用", "マスター", "ユーザ", "タイトル", "作成者", "サブタイトル",
                       "キーワード", "アプリケーション", "ＰＤＦ変換", "ＰＤＦＶｅｒ"}));
  EXPECT_EQ((V{platform::AnsiToUtf8(form->SpeedButtonSaveSetting.Caption()),
               platform::AnsiToUtf8(form->SpeedButtonSel.Caption()),
               platform::AnsiToUtf8(form->SpeedButtonAll.Caption()),
               platform::AnsiToUtf8(form->StaticTextDir.Caption()),
               platform::AnsiToUtf8(form->StaticTextPDF.Caption()),
               platform::AnsiToUtf8(form->StaticTextCount.Caption())}),
            (V{"設定保存", "選択処理", "一括処理", "処理フォルダ", "処理ＰＤＦ", "処理状況"}));
  // Every control lies inside its parent.
  for (int i = 0; i < form->ComponentCount(); ++i) {
    auto* c = dynamic_cast<ui::TControl*>(form->Components(i));
    if (!c || !c->Parent() || !c->Visible()) continue;
    const ui::TWinControl* p = c->Parent();
    EXPECT_LE(c->Left() + c->Width(), p->ClientWidth()) << i;
    EXPECT_LE(c->Top() + c->Height(), p->ClientHeight()) << i;
  }
}

TEST_F(MainForm, AJobFileMadeForADroppedFolderIsItsOwnersAloneWhateverTheMask) {
  const std::string fresh = Folder("fresh"), stale = Folder("stale");
  auto form = Form();
  WriteFile(DefaultIniPath(), "[PDF]\r\nMasterPassWord=AQID\r\n");
  // A job file kept for a folder that is not listed, open to all: it keeps its settings.
  WriteFile(JobIniPath(stale), "[PDF]\r\nVer=4\r\n");
  ::chmod(JobIniPath(stale).c_str(), 0666);
  const mode_t mask = ::umask(0);
  form->DeliverDrop({{fresh, stale}, {0, 0}});
  ::umask(mask);
  EXPECT_EQ(Entries(*form), (V{fresh, stale}));
  EXPECT_EQ(ReadFile(JobIniPath(fresh)), ReadFile(DefaultIniPath()));
  EXPECT_EQ(ReadFile(JobIniPath(stale)), "[PDF]\r\nVer=4\r\n");
  for (const std::string& folder : {fresh, stale}) {
    struct stat st {};
    ASSERT_EQ(::stat(JobIniPath(folder).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u) << folder;
  }
  EXPECT_TRUE(boxes_.empty());
}
