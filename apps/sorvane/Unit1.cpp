#include "apps/sorvane/Unit1.h"

#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
#include <utility>

#include "apps/common/CsvField.h"
#include "apps/common/RunningScope.h"
#include "apps/sorvane/LibraryEngine.h"
#include "apps/sorvane/Rw_ini.h"
#include "apps/sorvane/ToolEngine.h"
#include "pdf/document/zoPDFDoc.h"
#include "platform/CodePage.h"
#include "platform/Process.h"
#include "platform/ProgramFolder.h"
#include "platform/RtlSysUtils.h"

namespace {

std::string J(const char* utf8) {
  return platform::Utf8ToAnsi(utf8);
}

// The folder path with one trailing "/" removed ("/" itself stays).
std::string WithoutTrailingSlash(const std::string& path) {
  if (path.size() > 1 && path.back() == '/') return path.substr(0, path.size() - 1);
  return path;
}

// Runs f; an exception it raises is shown as the application shows any.
template <class F>
void Reported(rtl::TObject* sender, F f) {
  try {
    f();
  } catch (const std::exception& e) {
    ui::Application().HandleException(sender, e);
  }
}

// A path as the logs can hold it: one line, a line break written as "?".
std::string OneLine(std::string path) {
  for (char& c : path)
    if (c == '\r' || c == '\n') c = '?';
  return path;
}

bool HasLineBreak(const std::string& path) {
  return path.find_first_of("\r\n") != std::string::npos;
}

// Why a file or folder of the walk is not processed under its name.
std::string UnreachableName(const platform::FolderEntry& entry, const std::string& path) {
  return entry.reachable && HasLineBreak(path)
             ? J("パスに改行があります")
             : J("この名前はコードページ932では別の名前か表せない名前になります");
}

// Why a file that another job of the run reached first is not rewritten again.
std::string HandedAlready() {
  return J("このファイルはこの処理で既に別のジョブの書き換えに渡されています");
}

bool IsOsFolder(const std::string& utf8Path) {
  struct stat st;
  return !utf8Path.empty() && ::stat(utf8Path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The characters of a name that code page 932 cannot hold, each once.
std::u16string Unrecordable(const std::string& utf8) {
  const std::u16string wide = platform::Utf8ToWide(utf8);
  std::u16string found;
  for (size_t i = 0; i < wide.size();) {
    const size_t start = i;
    const char32_t c = platform::NextCodePoint(wide, i);
    const std::u16string one = wide.substr(start, i - start);
    if (c != U'?' && platform::WideToAnsi(one) == "?" && found.find(one) == std::u16string::npos)
      found += one;
  }
  return found;
}

// Why a folder cannot be a job under its name: the job file and the logs hold the path in code
// page 932, and must give back this folder and no other. path is the folder in code page 932,
// os as the file system spells it. Empty when it can be a job.
std::u16string NameRefusal(const std::string& path, const std::string& os) {
  const std::u16string shown = u"フォルダ「" + platform::Utf8ToWide(os) + u"」";
  const std::u16string rename = u"フォルダ名を変更してください。";
  if (const std::u16string chars = Unrecordable(os); !chars.empty()) {
    std::u16string named;
    for (size_t i = 0, n = 0; i < chars.size() && n < 3; ++n) {
      const size_t start = i;
      platform::NextCodePoint(chars, i);
      if (n > 0) named += u"、";
      named += chars.substr(start, i - start);
    }
    return shown + u"の名前に、このプログラムの設定とログに記録できない文字（" + named +
           u" など）が含まれているため、追加できません。" + rename;
  }
  if (HasLineBreak(os)) return shown + u"の名前に改行が含まれているため、追加できません。" + rename;
  if (platform::OsPath(path) != os || platform::PathIsAmbiguous(path))
    return shown +
           u"の名前は、このプログラムの設定とログでは同じ場所の別の名前と区別できない"
           u"ため、追加できません。" +
           rename;
  return {};
}

// How many folders deep a walk goes below its job's: each level holds a descriptor, and the
// rewrites in flight, the logs and the outside tool need their own.
size_t MaxWalkDepth() {
  constexpr rlim_t kReserve = 256;
  struct rlimit limit {};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return PATH_MAX;
  const rlim_t depth =
      limit.rlim_cur > 2 * kReserve ? limit.rlim_cur - kReserve : limit.rlim_cur / 2;
  return static_cast<size_t>(std::min<rlim_t>(depth, PATH_MAX));
}

std::string ExceptionText(const std::exception& e) {
  if (const auto* r = dynamic_cast<const rtl::Exception*>(&e)) return r->Message();
  return e.what();
}

}  // namespace

std::string ResultLogPath() {
  return platform::ProgramFolder() + "log/log_result.csv";
}

std::string CheckLogPath() {
  return platform::ProgramFolder() + "log/log_check.csv";
}

std::string KettrinCommandLine() {
  const std::string prog = platform::ProgramFolder();
  // Quoted, so that a blank in the program folder cannot start a program named by its first word.
  return "\"" + prog + "Kettrin\" /p /f\"" + prog + "log/log_check.csv\"";
}

// ---- the window ----

TForm1::TForm1(std::vector<std::string> arguments)
    : TForm(&ui::Application()),
      arguments_(std::move(arguments)),
      pool_(std::make_unique<TRewritePool>(TRewritePool::DefaultThreads(),
                                           [this] { return MakeRunDocument(); })) {
  BuildWindow();
  ConnectEvents();
  // For tests of a stopped run: "<signal>,<n>" sends the signal once the n-th file has been
  // handed to the pool.
  if (const char* at = std::getenv("SORVANE_RAISE_AT_HANDOVER")) {
    int sig = 0;
    size_t n = 0;
    if (std::sscanf(at, "%d,%zu", &sig, &n) == 2)
      pool_->SetHandOverHook([sig, n](size_t count) {
        if (count == n) platform::RaiseSignal(sig);
      });
  }
}

TForm1::~TForm1() {
  platform::SetPendingEventsHook(nullptr);
}

void TForm1::BuildWindow() {
  using namespace ui;
  SetCaption("Sorvane");
  SetBorderStyle(bsSingle);
  SetBorderIcons(biSystemMenu | biMinimize);
  SetBounds(0, 0, 539, 649);

  // Menus.
  mmFile.SetCaption(J("ファイル"));
  mmAddDir.SetCaption(J("フォルダ追加"));
  mmDelDir.SetCaption(J("フォルダ削除"));
  mmLine1.SetCaption("-");
  mmQuit.SetCaption(J("終了"));
  mmEdit.SetCaption(J("編集"));
  mmSaveSetting.SetCaption(J("設定保存"));
  mmLine2.SetCaption("-");
  mmSaveDef.SetCaption(J("規定値として保存"));
  mmOther.SetCaption(J("その他"));
  mmCheck.SetCaption(J("検査する"));
  for (TMenuItem* item : {&mmAddDir, &mmDelDir, &mmLine1, &mmQuit})
    mmFile.Add(item);
  for (TMenuItem* item : {&mmSaveSetting, &mmLine2, &mmSaveDef})
    mmEdit.Add(item);
  mmOther.Add(&mmCheck);
  for (TMenuItem* item : {&mmFile, &mmEdit, &mmOther})
    MainMenu1.Items().Add(item);
  SetMenu(&MainMenu1);
  mnuAddDir.SetCaption(J("フォルダ追加"));
  mnuDelDir.SetCaption(J("フォルダ削除"));
  PopupMenuJob.Items().Add(&mnuAddDir);
  PopupMenuJob.Items().Add(&mnuDelDir);
  mnuSaveDef.SetCaption(J("規定値として保存"));
  PopupMenuSetting.Items().Add(&mnuSaveDef);

  // Tabs.
  PageControl1.SetParent(this);
  PageControl1.SetBounds(0, 0, ClientWidth(), 484);
  TabSheetMain.SetPageControl(&PageControl1);
  TabSheetMain.SetCaption(J("動作"));
  TabSheetMain.SetPopupMenu(&PopupMenuSetting);
  TabSheetAbout.SetPageControl(&PageControl1);
  TabSheetAbout.SetCaption("About");

  ListBoxJob.SetParent(&TabSheetMain);
  ListBoxJob.SetBounds(4, 4, 517, 52);
  ListBoxJob.SetSorted(true);
  ListBoxJob.SetPopupMenu(&PopupMenuJob);
  FileListBox1.SetParent(&TabSheetMain);
  FileListBox1.SetBounds(4, 4, 40, 20);
  FileListBox1.SetVisible(false);
  FileListBox1.SetMask("*.ini");

  auto check = [](TCheckBox& box, TWinControl& parent, int left, int top, int width,
                  const char* caption) {
    box.SetParent(&parent);
    box.SetBounds(left, top, width, 18);
    box.SetCaption(J(caption));
  };
  auto edit = [](TLabel& label, TEdit& box, TWinControl& parent, int top, int labelWidth, int width,
                 const char* caption) {
    label.SetParent(&parent);
    label.SetBounds(8, top + 4, labelWidth, 12);
    label.SetCaption(J(caption));
    box.SetParent(&parent);
    box.SetBounds(8 + labelWidth, top, width, 20);
  };

  // Left: security.
  GroupBoxSecurity.SetParent(&TabSheetMain);
  GroupBoxSecurity.SetBounds(4, 60, 262, 354);
  GroupBoxSecurity.SetCaption(J("セキュリティ設定"));
  GroupBoxSecurity.SetPopupMenu(&PopupMenuSetting);
  GroupBoxPdf.SetParent(&GroupBoxSecurity);
  GroupBoxPdf.SetBounds(6, 14, 250, 170);
  GroupBoxPdf.SetCaption(J("ＰＤＦ設定"));
  check(CheckBox_sEN, GroupBoxPdf, 8, 14, 234, "セキュリティを使用する");
  check(CheckBox_sPW, GroupBoxPdf, 8, 32, 234, "パスワードで制限する");
  check(CheckBox_vEN, GroupBoxPdf, 8, 50, 234, "ＰＤＦバージョン指定を有効にする");
  check(CheckBox_oWeb, GroupBoxPdf, 8, 68, 234, "Web最適化を行う");
  GroupBoxPassword.SetParent(&GroupBoxPdf);
  GroupBoxPassword.SetBounds(6, 88, 238, 78);
  GroupBoxPassword.SetCaption(J("パスワード"));
  edit(LabelOpenPW, EditOpenPW, GroupBoxPassword, 13, 60, 162, "解除用");
  edit(LabelMasterPW, EditmasterPW, GroupBoxPassword, 34, 60, 162, "マスター");
  edit(LabelUserPW, EditUserPW, GroupBoxPassword, 55, 60, 162, "ユーザ");
  for (TEdit* e : {&EditOpenPW, &EditmasterPW, &EditUserPW})
    e->SetPasswordChar('*');
  GroupBoxRestrict.SetParent(&GroupBoxSecurity);
  GroupBoxRestrict.SetBounds(6, 186, 250, 162);
  GroupBoxRestrict.SetCaption(J("ＰＤＦへの制限"));
  check(CheckBox_sPR, GroupBoxRestrict, 8, 14, 234, "印刷");
  check(CheckBox_sMD, GroupBoxRestrict, 8, 32, 234, "文書の変更");
  check(CheckBox_sBA, GroupBoxRestrict, 8, 50, 234, "文書アセンブリ");
  check(CheckBox_sCP, GroupBoxRestrict, 8, 68, 234, "内容のコピーと抽出");
  check(CheckBox_sAC, GroupBoxRestrict, 8, 86, 234, "アクセシビリティのための内容抽出");
  check(CheckBox_sAN, GroupBoxRestrict, 8, 104, 234, "注釈");
  check(CheckBox_sFF, GroupBoxRestrict, 8, 122, 234, "フォームフィールドの入力");
  check(CheckBox_sBT, GroupBoxRestrict, 8, 140, 234, "40bit暗号化を使う");

  // Right: general settings and document information.
  GroupBoxGeneral.SetParent(&TabSheetMain);
  GroupBoxGeneral.SetBounds(270, 60, 251, 64);
  GroupBoxGeneral.SetCaption(J("一般設定"));
  GroupBoxGeneral.SetPopupMenu(&PopupMenuSetting);
  SpeedButtonSaveSetting.SetParent(&GroupBoxGeneral);
  SpeedButtonSaveSetting.SetBounds(8, 20, 84, 36);
  SpeedButtonSaveSetting.SetCaption(J("設定保存"));
  check(CheckBoxSubDir, GroupBoxGeneral, 100, 18, 144, "サブディレクトリ処理");
  check(CheckBoxAll, GroupBoxGeneral, 100, 40, 144, "一括処理対象");
  GroupBoxInfo.SetParent(&TabSheetMain);
  GroupBoxInfo.SetBounds(270, 128, 251, 286);
  GroupBoxInfo.SetCaption(J("文書情報設定"));
  GroupBoxInfo.SetPopupMenu(&PopupMenuSetting);
  edit(LabelTitle, EditTitle, GroupBoxInfo, 22, 92, 143, "タイトル");
  edit(LabelAuthor, EditAuthor, GroupBoxInfo, 54, 92, 143, "作成者");
  edit(LabelSubject, EditSubject, GroupBoxInfo, 86, 92, 143, "サブタイトル");
  edit(LabelKeywords, EditKeywords, GroupBoxInfo, 118, 92, 143, "キーワード");
  edit(LabelCreator, EditCreator, GroupBoxInfo, 150, 92, 143, "アプリケーション");
  edit(LabelProducer, EditProducer, GroupBoxInfo, 182, 92, 143, "ＰＤＦ変換");
  LabelPDFVer.SetParent(&GroupBoxInfo);
  LabelPDFVer.SetBounds(8, 226, 220, 12);
  LabelPDFVer.SetCaption(J("ＰＤＦＶｅｒ"));
  ComboBoxPDFVer.SetParent(&GroupBoxInfo);
  ComboBoxPDFVer.SetBounds(8, 244, 235, 22);
  ComboBoxPDFVer.SetStyle(csDropDownList);
  for (const char* item : {"１．３　高速エンジン", "１．４　高速エンジン", "１．５　高速エンジン",
                           "１．６　アンテナハウスエンジン", "１．７　アンテナハウスエンジン"})
    ComboBoxPDFVer.Items().Add(J(item));

  // About.
  LabelProgram.SetParent(&TabSheetAbout);
  LabelProgram.SetBounds(24, 24, 300, 16);
  LabelProgram.SetCaption("Sorvane");
  LabelVersion.SetParent(&TabSheetAbout);
  LabelVersion.SetBounds(24, 48, 300, 16);
  LabelVersion.SetCaption("Ver0.14c");

  // Bottom: state of the run and the two run buttons.
  PanelBottom.SetParent(this);
  PanelBottom.SetBounds(0, 484, ClientWidth(), ClientHeight() - 484);
  PanelBottom.SetBevelOuter(bvNone);
  auto state = [this](TStaticText& text, int top, int width, const char* caption) {
    text.SetParent(&PanelBottom);
    text.SetAutoSize(false);
    text.SetBounds(8, top, width, 20);
    text.SetBorderStyle(sbsSunken);
    text.SetCaption(J(caption));
  };
  state(StaticState, 6, 517, "");
  state(StaticTextDir, 30, 400, "処理フォルダ");
  state(StaticTextPDF, 54, 400, "処理ＰＤＦ");
  state(StaticTextCount, 78, 400, "処理状況");
  SpeedButtonSel.SetParent(&PanelBottom);
  SpeedButtonSel.SetBounds(416, 30, 109, 32);
  SpeedButtonSel.SetCaption(J("選択処理"));
  SpeedButtonAll.SetParent(&PanelBottom);
  SpeedButtonAll.SetBounds(416, 66, 109, 32);
  SpeedButtonAll.SetCaption(J("一括処理"));

  FolderDialog1.SetTitle(J("フォルダーの選択"));
}

void TForm1::ConnectEvents() {
  using rtl::TObject;
  OnCreate = [this](TObject* s) { FormCreate(s); };
  OnActivate = [this](TObject* s) { FormActivate(s); };
  OnClose = [this](TObject* s, ui::TCloseAction& action) { FormClose(s, action); };
  FileDrop1.OnFileDrop = [this](TObject* s, int num, const rtl::TStringList& files, int x, int y) {
    FileDrop1FileDrop(s, num, files, x, y);
  };
  mnuAddDir.OnClick = mmAddDir.OnClick = [this](TObject* s) { mnuAddDirClick(s); };
  mnuDelDir.OnClick = mmDelDir.OnClick = [this](TObject* s) { mnuDelDirClick(s); };
  ListBoxJob.OnClick = [this](TObject* s) { ListBoxJobClick(s); };
  SpeedButtonSaveSetting.OnClick =
      mmSaveSetting.OnClick = [this](TObject* s) { SpeedButtonSaveSettingClick(s); };
  mnuSaveDef.OnClick = mmSaveDef.OnClick = [this](TObject* s) { mnuSaveDefClick(s); };
  mmQuit.OnClick = [this](TObject* s) { mmQuitClick(s); };
  mmCheck.OnClick = [this](TObject* s) { mmCheckClick(s); };
  SpeedButtonSel.OnClick = [this](TObject* s) { SpeedButtonSelClick(s); };
  SpeedButtonAll.OnClick = [this](TObject* s) { SpeedButtonAllClick(s); };

  // Each control copies its value into the current job settings.
  struct Flag {
    ui::TCheckBox* box;
    int32_t TJobSettings::*field;
  };
  for (Flag f :
       {Flag{&CheckBox_sEN, &TJobSettings::EN}, Flag{&CheckBox_sPW, &TJobSettings::PW},
        Flag{&CheckBox_vEN, &TJobSettings::VerEn}, Flag{&CheckBox_oWeb, &TJobSettings::Web},
        Flag{&CheckBox_sPR, &TJobSettings::PR}, Flag{&CheckBox_sMD, &TJobSettings::MD},
        Flag{&CheckBox_sBA, &TJobSettings::DA}, Flag{&CheckBox_sCP, &TJobSettings::CP},
        Flag{&CheckBox_sAC, &TJobSettings::AC}, Flag{&CheckBox_sAN, &TJobSettings::AN},
        Flag{&CheckBox_sFF, &TJobSettings::FF}, Flag{&CheckBox_sBT, &TJobSettings::BT},
        Flag{&CheckBoxSubDir, &TJobSettings::SubDir}, Flag{&CheckBoxAll, &TJobSettings::Enable}})
    f.box->OnClick = [this, f](TObject*) {
      WithShownSettings([&] { JobSettings.*f.field = f.box->Checked() ? 1 : 0; });
    };
  struct Text {
    ui::TEdit* edit;
    std::string TJobSettings::*field;
  };
  for (Text t :
       {Text{&EditOpenPW, &TJobSettings::OpenPassWord},
        Text{&EditmasterPW, &TJobSettings::MasterPassWord},
        Text{&EditUserPW, &TJobSettings::UserPassWord}, Text{&EditTitle, &TJobSettings::Title},
        Text{&EditAuthor, &TJobSettings::Author}, Text{&EditSubject, &TJobSettings::Subject},
        Text{&EditKeywords, &TJobSettings::Keywords}, Text{&EditCreator, &TJobSettings::Creator},
        Text{&EditProducer, &TJobSettings::Producer}})
    t.edit->OnChange = [this, t](TObject*) {
      WithShownSettings([&] { JobSettings.*t.field = t.edit->Text(); });
    };
  ComboBoxPDFVer.OnClick = [this](TObject*) {
    WithShownSettings([&] { JobSettings.Ver = ComboBoxPDFVer.ItemIndex(); });
  };
}

// ---- job list ----

int TForm1::JobFolderState(const std::string& path) const {
  if (!platform::DirectoryExists(WithoutTrailingSlash(path))) return 2;
  return ListBoxJob.Items().IndexOfExact(path) >= 0 ? 1 : 0;
}

void TForm1::SelectJob(const std::string& path) {
  if (path.empty()) return;
  ListBoxJob.SetItemIndex(ListBoxJob.Items().IndexOfExact(path));
}

bool TForm1::AddJobFolder(const std::string& path, const std::string& osPath) {
  const std::string os = osPath.empty() ? platform::OsPath(path) : osPath;
  const std::u16string refusal = NameRefusal(path, os);
  if (!refusal.empty()) {
    // Only a folder is refused; without the real name, a name that stands for another counts.
    if (IsOsFolder(os) || (osPath.empty() && platform::PathIsAmbiguous(path)))
      ui::Application().MessageBoxW(refusal, "", ui::MB_OK | ui::MB_ICONERROR);
    return false;
  }
  if (!platform::DirectoryExists(path) || JobFolderState(path) != 0) return false;
  std::string problem;
  try {
    // The job file holds the passwords: its owner's alone, also where an older one was. One kept
    // while its folder was missing keeps its settings.
    std::string error, bytes;
    const std::string ini = JobIniPath(path);
    const std::string from = platform::FileExists(ini) ? ini : DefaultIniPath();
    if (!platform::ReadFileBytes(from, bytes, &error) ||
        !platform::WritePrivateFile(ini, bytes, &error))
      problem = J("設定ファイルを作れません: ") + error;
  } catch (const EJobIniPathError& e) {
    problem = e.Message();
  }
  if (!problem.empty()) {
    ui::Application().MessageBox(path + J(" は追加できません。") + "\r\n" + problem, "",
                                 ui::MB_OK | ui::MB_ICONERROR);
    return false;
  }
  std::erase(missingJobs_, path);
  ListBoxJob.Items().Add(path);
  ListBoxJob.SetItemIndex(ListBoxJob.Items().Count() - 1);
  return true;
}

void TForm1::ListJobsThatAreBack() {
  const int index = ListBoxJob.ItemIndex();
  const std::string selected = index >= 0 ? ListBoxJob.Items()[index] : std::string();
  std::vector<std::string> missing;
  for (const std::string& folder : missingJobs_) {
    const int state = JobFolderState(folder);
    if (state == 0) ListBoxJob.Items().Add(folder);
    if (state == 2) missing.push_back(folder);
  }
  missingJobs_ = std::move(missing);
  if (index >= 0) SelectJob(selected);
}

void TForm1::ShowJobSettings(const std::string& path) {
  ReadJobIni(path);
  const TJobSettings j = JobSettings;  // setting a control writes its field back
  CheckBox_sEN.SetChecked(j.EN != 0);
  CheckBox_sPW.SetChecked(j.PW != 0);
  CheckBox_vEN.SetChecked(j.VerEn != 0);
  CheckBox_oWeb.SetChecked(j.Web != 0);
  EditOpenPW.SetText(j.OpenPassWord);
  EditmasterPW.SetText(j.MasterPassWord);
  EditUserPW.SetText(j.UserPassWord);
  CheckBox_sPR.SetChecked(j.PR != 0);
  CheckBox_sMD.SetChecked(j.MD != 0);
  CheckBox_sBA.SetChecked(j.DA != 0);
  CheckBox_sCP.SetChecked(j.CP != 0);
  CheckBox_sAC.SetChecked(j.AC != 0);
  CheckBox_sAN.SetChecked(j.AN != 0);
  CheckBox_sFF.SetChecked(j.FF != 0);
  CheckBox_sBT.SetChecked(j.BT != 0);
  EditTitle.SetText(j.Title);
  EditAuthor.SetText(j.Author);
  EditSubject.SetText(j.Subject);
  EditKeywords.SetText(j.Keywords);
  EditCreator.SetText(j.Creator);
  EditProducer.SetText(j.Producer);
  ComboBoxPDFVer.SetItemIndex(j.Ver >= 0 && j.Ver < ComboBoxPDFVer.Items().Count() ? j.Ver : -1);
  CheckBoxSubDir.SetChecked(j.SubDir != 0);
  CheckBoxAll.SetChecked(j.Enable != 0);
  JobSettings = j;
}

// ---- runs ----

void TForm1::ReportProblem(const std::string& text) {
  StaticState.SetCaption(text);
  if (SilentRun()) ui::Application().MessageBox(text, "", ui::MB_OK | ui::MB_ICONERROR);
}

void TForm1::ReportFileError(const std::string& path, const std::string& message) {
  ReportProblem(path + ": " + message);
  if (AppSettings.Debug == 0) return;
  std::string dump =
      "**** PDF Error Dump ****\r\ninput  =" + path + "\r\nerror  =" + message + "\r\n";
  std::string error;
  if (!platform::AppendToFile(DebugLogPath(), dump, &error, 0600))
    ReportProblem(DebugLogPath() + J(" に書き込めません") + " (" + error + ")");
}

bool TForm1::OpenLogs() {
  CloseLogs();
  try {
    platform::ForcePrivateDirectories(rtl::ExtractFilePath(ResultLogPath()));
    for (const std::string& path : {ResultLogPath(), CheckLogPath()}) {
      if (platform::FileExists(path) && !platform::DeleteFile(path))
        throw rtl::EWriteError(path + J(" を削除できません"));
    }
    // The result log names the files of private folders, the check list holds the passwords.
    resultLog_ =
        std::make_unique<rtl::TFileStream>(ResultLogPath(), rtl::TFileStream::fmCreate, 0600);
    checkLog_ =
        std::make_unique<rtl::TFileStream>(CheckLogPath(), rtl::TFileStream::fmCreate, 0600);
    return true;
  } catch (const rtl::Exception& e) {
    CloseLogs();
    ReportProblem(e.Message());
    return false;
  }
}

void TForm1::CloseLogs() {
  resultLog_.reset();
  checkLog_.reset();
}

std::string TForm1::CheckLine(const std::string& path) const {
  const TJobSettings& j = JobSettings;
  // The passwords the file was given: the library applies none without security and no user
  // password without "PW"; the outside tool applies both whenever they are set. A password the
  // file does not have would make the check fail a file that is as the job asked.
  const bool tool = j.Ver == 3 || j.Ver == 4;
  const std::string& user = tool || (j.EN != 0 && j.PW != 0) ? j.UserPassWord : std::string();
  const std::string& owner = tool || j.EN != 0 ? j.MasterPassWord : std::string();
  return CsvField(path) + "," + CsvField(user) + "," + CsvField(owner) + "," + VersionText();
}

void TForm1::WriteLogLines(const std::string& resultLine, const std::string& checkLine) {
  resultLog_->WriteString(resultLine + "\r\n");
  checkLog_->WriteString(checkLine + "\r\n");
}

template <class F>
void TForm1::WithShownSettings(F f) {
  if (!running_ || shownInPlace_) {
    f();
    return;
  }
  struct Swap {
    TForm1& form;
    explicit Swap(TForm1& f) : form(f) {
      std::swap(JobSettings, form.shown_);
      form.shownInPlace_ = true;
    }
    ~Swap() {
      std::swap(JobSettings, form.shown_);
      form.shownInPlace_ = false;
    }
  } swap(*this);
  f();
}

// Runs one batch with the logs open, the current job settings kept, and a guard against a second
// start; the logs are closed with every line written, however the run ends.
template <class Run>
TRunOutcome TForm1::RunGuarded(Run run) {
  if (running_) return TRunOutcome::kNotRun;
  RunningScope running(running_);
  const bool catchSignals = !stopRequested_.signals;
  if (catchSignals) stopRequested_.signals = std::make_unique<platform::StopSignalScope>();
  stopRequested_ = false;
  anyNg_ = false;
  claims_ = std::make_shared<platform::FileClaims>();
  shown_ = JobSettings;  // what the controls show
  TRunOutcome outcome = TRunOutcome::kAllOk;
  if (!OpenLogs()) {
    outcome = TRunOutcome::kCouldNotRun;
  } else {
    try {
      run();
      FinishCommit();
      if (stopRequested_)
        outcome = TRunOutcome::kStopped;
      else if (anyNg_)
        outcome = TRunOutcome::kSomeNg;
    } catch (const std::exception& e) {
      // The file committed last is logged before what ended the run.
      try {
        FinishCommit();
      } catch (const std::exception&) {
        // the logs cannot be written: said below
      }
      ReportProblem(ExceptionText(e));
      outcome = TRunOutcome::kCouldNotRun;
    }
    CloseLogs();
  }
  walkGuard_.reset();
  claims_.reset();
  JobSettings = shown_;
  // A window closed during the run left the tool's work file to the run.
  if (stopRequested_ && platform::FileExists(WorkFilePath())) platform::DeleteFile(WorkFilePath());
  const int sig = catchSignals ? stopRequested_.signals->End() : platform::StopSignal();
  if (catchSignals) stopRequested_.signals.reset();
  if (outcome != TRunOutcome::kCouldNotRun) StaticState.SetCaption(J("処理終了"));
  if (sig != 0 && outcome == TRunOutcome::kStopped) {
    ReportProblem(platform::SignalName(sig) + J(" を受けたため処理を中止しました"));
    // As the window's close: the program ends.
    if (!SilentRun()) {
      ui::Application().SetExitCode(kExitSomeNg);
      Close();
    }
  }
  return outcome;
}

TRunOutcome TForm1::RunSelectedJob() {
  const int index = ListBoxJob.ItemIndex();
  if (running_ || index < 0 || index >= ListBoxJob.Items().Count()) return TRunOutcome::kNotRun;
  const std::string folder = ListBoxJob.Items()[index];
  return RunGuarded([&] {
    StaticTextCount.SetCaption("1/1");
    StaticState.SetCaption(J("処理開始"));
    if (LoadJob(folder)) WalkJob(folder);
  });
}

TRunOutcome TForm1::RunAllJobs() {
  if (running_) return TRunOutcome::kNotRun;
  ListJobsThatAreBack();
  return RunGuarded([&] {
    StaticState.SetCaption(J("処理開始"));
    // The listed jobs, then those whose folder is still missing: each is NG.
    std::vector<std::string> jobs = ListBoxJob.Items().Items();
    jobs.insert(jobs.end(), missingJobs_.begin(), missingJobs_.end());
    const int n = static_cast<int>(jobs.size());
    for (int i = 0; i < n && !stopRequested_; ++i) {
      StaticTextCount.SetCaption(rtl::IntToStr(i + 1) + "/" + rtl::IntToStr(n));
      if (LoadJob(jobs[i]) && JobSettings.Enable != 0) WalkJob(jobs[i]);
    }
  });
}

void TForm1::WalkJob(const std::string& folder) {
  if (stopRequested_) return;
  const std::string dir = rtl::IncludeTrailingPathDelimiter(folder);
  if (std::shared_ptr<platform::FolderHandle> opened = OpenJob(dir)) {
    WalkOpened(opened);
  } else if (errno == ENOENT) {
    // Missing now, whenever it went: NG, never a silent success.
    FinishCommit();
    anyNg_ = true;
    ReportFileError(OneLine(dir), J("フォルダがありません"));
    resultLog_->WriteString(CsvField(OneLine(dir)) + ",NG(FileNotFound)\r\n");
  }
}

bool TForm1::LoadJob(const std::string& folder) {
  walkGuard_ = std::make_unique<platform::FolderWalkGuard>();
  try {
    ReadJobIni(JobIniPath(folder));
    return true;
  } catch (const rtl::Exception& e) {
    // A job file that cannot be read: its folder is not walked, the other jobs run.
    FinishCommit();
    anyNg_ = true;
    ReportProblem(folder + ": " + e.Message());
    return false;
  }
}

void TForm1::WalkFolder(const std::string& dir) {
  if (stopRequested_) return;
  if (std::shared_ptr<platform::FolderHandle> folder = OpenJob(dir)) WalkOpened(folder);
}

std::shared_ptr<platform::FolderHandle> TForm1::OpenJob(const std::string& dir) {
  std::string error;
  std::shared_ptr<platform::FolderHandle> folder = platform::OpenJobFolder(dir, &error);
  if (!folder && errno != ENOENT) {
    // A link at the job folder or on the way to it that another user may have made: nothing
    // below it is touched.
    FinishCommit();
    anyNg_ = true;
    ReportFileError(OneLine(dir), J("フォルダを開けません") + " (" + error + ")");
  }
  return folder;
}

void TForm1::FolderNg(const std::string& dir, const std::string& why) {
  FinishCommit();
  anyNg_ = true;
  ReportFileError(OneLine(dir), why);
  resultLog_->WriteString(CsvField(OneLine(dir)) + ",NG\r\n");
}

void TForm1::WalkOpened(const std::shared_ptr<platform::FolderHandle>& folder) {
  if (stopRequested_) return;
  if (walkGuard_ && !walkGuard_->Enter(*folder)) return;
  if (!ProcessOpened(folder) || JobSettings.SubDir == 0) return;
  const std::string& dir = folder->Path();
  std::string error;
  const std::vector<platform::FolderEntry> entries = platform::ListFolder(*folder, &error);
  if (!error.empty()) return FolderNg(dir, J("フォルダの一覧を読めません") + " (" + error + ")");
  // Real folders only: a link to a folder is not entered.
  for (const platform::FolderEntry& e : entries) {
    if (!e.isFolder) continue;
    if (stopRequested_) return;
    const std::string sub = dir + e.name + "/";
    if (!e.reachable || HasLineBreak(sub)) {
      FinishCommit();
      anyNg_ = true;
      ReportFileError(OneLine(sub), UnreachableName(e, sub));
      resultLog_->WriteString(CsvField(OneLine(sub)) + ",NG(InvalidFileName)\r\n");
      continue;
    }
    // No name reaches a folder that deep, and each level of the walk holds a descriptor and a
    // frame: a nesting that would use them up is not entered.
    if (platform::AnsiToUtf8(sub).size() >= PATH_MAX) {
      FolderNg(sub, J("パスが長すぎます"));
      continue;
    }
    if (walkDepth_ >= MaxWalkDepth()) {
      FolderNg(sub, J("フォルダの階層が深すぎます"));
      continue;
    }
    std::string error;
    std::shared_ptr<platform::FolderHandle> opened = platform::OpenSubFolder(folder, e, &error);
    if (!opened) {
      // Replaced by a link or another folder since the listing: not entered.
      FinishCommit();
      anyNg_ = true;
      ReportFileError(sub, J("フォルダを開けません") + " (" + error + ")");
      continue;
    }
    struct Deeper {
      size_t& depth;
      explicit Deeper(size_t& d) : depth(++d) {}
      ~Deeper() { --depth; }
    } deeper(walkDepth_);
    WalkOpened(opened);
  }
}

void TForm1::ProcessFolder(const std::string& dir) {
  if (std::shared_ptr<platform::FolderHandle> folder = OpenJob(dir)) ProcessOpened(folder);
}

bool TForm1::ProcessOpened(const std::shared_ptr<platform::FolderHandle>& folder) {
  const std::string& dir = folder->Path();
  StaticTextDir.SetCaption(dir);
  std::string error;
  const std::vector<platform::FolderEntry> entries = platform::ListFolder(*folder, &error);
  if (!error.empty()) {
    // Out of descriptors, or the folder cannot be read: NG, never an empty folder.
    FolderNg(dir, J("フォルダの一覧を読めません") + " (" + error + ")");
    return false;
  }
  for (const platform::FolderEntry& e : entries) {
    if (e.isFolder || !platform::MatchesMask(e.name, "*.pdf")) continue;
    if (stopRequested_) return false;
    const std::string path = dir + e.name;
    StaticTextPDF.SetCaption(OneLine(path));
    if (!e.reachable || HasLineBreak(path)) {
      // Never processed under a name that leads elsewhere; no check list line names it.
      FinishCommit();
      anyNg_ = true;
      ReportFileError(OneLine(path), UnreachableName(e, path));
      resultLog_->WriteString(CsvField(OneLine(path)) + ",NG(InvalidFileName)\r\n");
      continue;
    }
    // The lines are made now: when they are written the next job's settings may be loaded.
    const std::string checkLine = CheckLine(path);
    RewriteListed(folder, e,
                  [this, checkLine](const std::string& line) { WriteLogLines(line, checkLine); });
  }
  return true;
}

std::string TForm1::ProcessFile(std::string path) {
  std::string line;
  RewriteFile(std::move(path), [&line](const std::string& l) { line = l; });
  FinishCommit();
  return line;
}

void TForm1::ShowFile(const std::string& path) {
  CurrentFile = path;
  StaticTextPDF.SetCaption(rtl::ExtractFileName(path));
  platform::ProcessPendingEvents();  // the window's pending events
}

void TForm1::RewriteFile(std::string path, std::function<void(const std::string&)> logLine) {
  if (path.size() > 2 && path[0] != '/') path = platform::ProgramFolder() + path;
  ShowFile(path);
  std::string problem;
  std::unique_ptr<platform::OpenedFile> file = platform::OpenedFile::OpenPath(path, &problem);
  const bool missing = !file && errno == ENOENT;
  RewriteOpened(path, std::move(file), std::move(problem), missing, std::move(logLine));
}

void TForm1::RewriteListed(const std::shared_ptr<platform::FolderHandle>& folder,
                           const platform::FolderEntry& entry,
                           std::function<void(const std::string&)> logLine) {
  const std::string path = folder->Path() + entry.name;
  ShowFile(path);
  if (claims_ && claims_->Claimed(entry.device, entry.inode)) {
    // Listed as it was handed or as its rewrite left it: not opened again.
    RewriteOpened(path, nullptr, HandedAlready(), false, std::move(logLine));
    return;
  }
  std::string problem;
  std::unique_ptr<platform::OpenedFile> file = platform::OpenedFile::Open(folder, entry, &problem);
  const bool missing = !file && errno == ENOENT;
  RewriteOpened(path, std::move(file), std::move(problem), missing, std::move(logLine));
}

void TForm1::RewriteOpened(const std::string& path, std::unique_ptr<platform::OpenedFile> file,
                           std::string problem, bool missing,
                           std::function<void(const std::string&)> logLine) {
  const std::string logged = CsvField(path);
  if (missing) {
    FinishCommit();
    anyNg_ = true;
    logLine(logged + ",NG(FileNotFound)");
    return;
  }
  int32_t result = -1;
  const bool tool = JobSettings.Ver == 3 || JobSettings.Ver == 4;
  // A link, a FIFO or device, a file replaced since the listing, a file with several names, a
  // read-only file or one this user may not write is left as it is.
  if (!file || !(problem = file->Refusal()).empty()) {
    // reported below
  } else if (claims_ && !claims_->Claim(file->Identity().device, file->Identity().inode)) {
    // Reached again by another job (another spelling of its folder, a folder below another
    // job's): the first job's rewrite stands.
    problem = HandedAlready();
  } else if (!tool) {
    // Rewritten on a thread of the pool while the walk goes on; logged OK only once the new file
    // has taken the file's place.
    pool_->Start(
        std::move(file), JobSettings,
        [this, path, logged, logLine](const TRewritePool::TOutcome& o) {
          std::string why = o.result == 0 && !o.committed ? o.error : std::string();
          if (o.failure) {
            try {
              std::rethrow_exception(o.failure);
            } catch (const std::exception& e) {
              why = ExceptionText(e);
            }
          }
          const bool ok = !o.failure && o.result == 0 && o.committed;
          if (!why.empty()) ReportFileError(path, why);
          if (!ok) anyNg_ = true;
          logLine(logged + "," + (ok ? "OK" : "NG"));
        },
        claims_);
    return;
  } else {
    FinishCommit();  // the tool's run does not overlap the library's rewrites
    try {
      result = LockWithTool(*file, &problem, claims_.get());
    } catch (const std::exception& e) {
      problem = ExceptionText(e);
      result = -1;
    }
  }
  FinishCommit();
  if (!problem.empty()) ReportFileError(path, problem);
  if (result != 0) anyNg_ = true;
  logLine(logged + "," + (result == 0 ? "OK" : "NG"));
}

std::unique_ptr<TzoCustomPDFDocument> TForm1::MakeRunDocument() {
  std::unique_ptr<TzoCustomPDFDocument> doc = TzoPDFDocument::Create(this);
  doc->OnStatusMessage = PDFDoc->OnStatusMessage;
  doc->OnWarning = PDFDoc->OnWarning;
  doc->OnIOProgress = PDFDoc->OnIOProgress;
  doc->OnOperationProgress = PDFDoc->OnOperationProgress;
  doc->OnPassword = PDFDoc->OnPassword;
  return doc;
}

void TForm1::FinishCommit() {
  pool_->Finish();
}

// ---- handlers ----

void TForm1::FormCreate(rtl::TObject*) {
  if (SilentRun()) {
    ui::Application().SetToolWindow(true);  // nothing may open the toolkit
    stopRequested_.signals = std::make_unique<platform::StopSignalScope>();
  }
  platform::SetPendingEventsHook([] { ui::Application().ProcessMessages(); });
  PDFDoc = TzoPDFDocument::Create(this);
  PDFDoc->OnPassword = [this](rtl::TObject* s, std::string& password, bool& cont, int tries) {
    PDFDocPassword(s, password, cont, tries);
  };

  const std::string prog = platform::ProgramFolder();
  for (const char* sub : {"setting", "temp", "log"}) {
    std::string error;
    if (!platform::ForcePrivateDirectories(prog + sub, &error)) {
      setupFailed_ = true;
      ReportProblem(prog + sub + J(" を作れません") + " (" + error + ")");
    }
  }
  FileListBox1.SetDirectory(SettingFolder());

  LoadAppIni();
  SetBounds(AppSettings.Left, AppSettings.Top, Width(), Height());

  const std::string def = DefaultIniPath();
  if (!platform::FileExists(def)) {
    try {
      ReadJobIni(def);
      WriteJobIni(def);
    } catch (const std::exception& e) {
      setupFailed_ = true;
      ReportProblem(ExceptionText(e));
    }
  }
  try {
    ShowJobSettings(def);
  } catch (const std::exception& e) {
    ReportProblem(ExceptionText(e));
  }

  for (int i = 0; i < FileListBox1.Items().Count(); ++i) {
    const std::string name = FileListBox1.Items()[i];
    if (name == "default.ini") continue;
    std::optional<std::string> folder = JobFolderFromIniName(name);
    if (!folder) continue;
    switch (JobFolderState(*folder)) {
      case 0:
        ListBoxJob.Items().Add(*folder);
        break;
      case 2:
        // Kept: a share not mounted yet or a folder renamed for a moment comes back.
        missingJobs_.push_back(*folder);
        break;
      default:
        break;
    }
  }
  std::sort(missingJobs_.begin(), missingJobs_.end());
  FileListBox1.Update();
  if (ListBoxJob.Items().Count() > 0) {
    ListBoxJob.SetItemIndex(0);
    try {
      ShowJobSettings(JobIniPath(ListBoxJob.Items()[0]));
    } catch (const std::exception& e) {
      ReportProblem(ExceptionText(e));
    }
  }

  StaticState.SetCaption(J("フォルダをドロップしてください"));
  PageControl1.SetActivePage(&TabSheetMain);

  if (SilentRun()) {
    SetBounds(0, 0, 0, 0);
    SetBorderStyle(ui::bsNone);
    ui::Application().SetToolWindow(true);
  } else {
    SetBounds(AppSettings.Left, AppSettings.Top, 539, 649);
    SetBorderStyle(ui::bsSingle);
    FileDrop1.SetAccept(true);
    FileDrop1.SetControl(this);
  }
  ResultCode = 0;
}

void TForm1::FormActivate(rtl::TObject*) {
  if (!SilentRun() || activated_) return;
  activated_ = true;
  int exitCode = kExitCouldNotRun;
  if (!setupFailed_) {
    switch (RunAllJobs()) {
      case TRunOutcome::kAllOk:
        exitCode = kExitAllOk;
        break;
      case TRunOutcome::kSomeNg:
      case TRunOutcome::kStopped:
        exitCode = kExitSomeNg;
        break;
      default:
        break;
    }
  }
  ui::Application().SetExitCode(exitCode);
  Close();
}

void TForm1::FormClose(rtl::TObject*, ui::TCloseAction&) {
  stopRequested_ = true;
  if (WindowState() == ui::wsNormal) {
    AppSettings.Top = Top();
    AppSettings.Left = Left();
    Reported(this, [] { SaveAppIni(); });
  }
  // During a run the tool may be writing it; the run removes it when it stops.
  const std::string work = WorkFilePath();
  if (!running_ && platform::FileExists(work)) platform::DeleteFile(work);
}

void TForm1::FileDrop1FileDrop(rtl::TObject*, int, const rtl::TStringList& files, int, int) {
  std::string last;
  bool lastListed = false;
  for (int i = 0; i < files.Count(); ++i) {
    const std::string& path = files.Strings(i);
    last = path;
    lastListed = platform::DirectoryExists(path) && JobFolderState(path) == 1;
    AddJobFolder(path, FileDrop1.OsFileName(i));
  }
  FileListBox1.Update();
  SelectJob(lastListed ? std::string() : last);
}

void TForm1::mnuAddDirClick(rtl::TObject*) {
  if (!FolderDialog1.Execute()) return;
  std::string path = WithoutTrailingSlash(FolderDialog1.Directory());
  const bool listed = JobFolderState(path) == 1;
  AddJobFolder(path, WithoutTrailingSlash(FolderDialog1.OsDirectory()));
  FileListBox1.Update();
  SelectJob(listed ? std::string() : path);
}

void TForm1::mnuDelDirClick(rtl::TObject*) {
  const int index = ListBoxJob.ItemIndex();
  if (index < 0 || running_) return;
  try {
    platform::DeleteFile(JobIniPath(ListBoxJob.Items()[index]));
  } catch (const EJobIniPathError&) {
    // an entry without a job file
  }
  ListBoxJob.Items().Delete(index);
  ListBoxJob.SetItemIndex(-1);
  FileListBox1.Update();
}

void TForm1::ListBoxJobClick(rtl::TObject*) {
  const int index = ListBoxJob.ItemIndex();
  if (index < 0) return;
  WithShownSettings(
      [&] { Reported(this, [&] { ShowJobSettings(JobIniPath(ListBoxJob.Items()[index])); }); });
}

void TForm1::SpeedButtonSaveSettingClick(rtl::TObject*) {
  const int index = ListBoxJob.ItemIndex();
  if (index < 0) return;
  WithShownSettings(
      [&] { Reported(this, [&] { WriteJobIni(JobIniPath(ListBoxJob.Items()[index])); }); });
}

void TForm1::mnuSaveDefClick(rtl::TObject*) {
  WithShownSettings([&] { Reported(this, [&] { WriteJobIni(DefaultIniPath()); }); });
}

void TForm1::mmQuitClick(rtl::TObject*) {
  Close();
}

void TForm1::mmCheckClick(rtl::TObject*) {
  if (!platform::FileExists(CheckLogPath())) {
    ui::Application().MessageBox(
        J("処理が実行されていません。\r\n選択または一括処理ボタンを押してください"), "",
        ui::MB_OK | ui::MB_ICONINFORMATION);
    return;
  }
  RunAndWait(KettrinCommandLine(), SW_SHOW);
}

void TForm1::SpeedButtonSelClick(rtl::TObject*) {
  RunSelectedJob();
}

void TForm1::SpeedButtonAllClick(rtl::TObject*) {
  RunAllJobs();
}

void TForm1::PDFDocPassword(rtl::TObject*, std::string& password, bool& cont, int tries) {
  // A rewrite of the pool answers from the job its file was handed over with, whatever job the
  // window shows by then.
  const TJobSettings* job = TRewritePool::CurrentJob();
  AnswerOpenPassword((job ? *job : JobSettings).OpenPassWord, password, cont, tries);
}
