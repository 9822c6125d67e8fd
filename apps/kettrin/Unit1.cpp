#include "apps/kettrin/Unit1.h"

#include <algorithm>
#include <chrono>

#include "apps/common/CsvField.h"
#include "apps/common/RunningScope.h"
#include "apps/kettrin/Rw_ini.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/Process.h"
#include "platform/ProgramFolder.h"
#include "platform/RtlSysUtils.h"
#include "ui/Shell.h"

namespace {

const char kToolName[] = "AHPDFToolCmd26";
constexpr int kWaitSleepMs = 50;

std::string J(const char* utf8) {
  return platform::Utf8ToAnsi(utf8);
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

char UpperAscii(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace

const std::string& MarkYes() {
  static const std::string mark = J("○");
  return mark;
}

const std::string& MarkNo() {
  static const std::string mark = J("×");
  return mark;
}

const std::string& MarkNone() {
  static const std::string mark = J("－");
  return mark;
}

int SplitCsvLine(const std::string& line, std::vector<std::string>& fields) {
  fields.clear();
  const size_t n = line.size();
  size_t p = 0;
  while (p < n) {
    if (line[p] == '"') {
      std::string field;
      ++p;
      while (p < n) {
        if (line[p] == '"') {
          if (p + 1 < n && line[p + 1] == '"') {
            field += '"';
            p += 2;
            continue;
          }
          ++p;  // the closing quote
          break;
        }
        field += line[p++];
      }
      fields.push_back(std::move(field));
      if (p < n) ++p;  // the separator
    } else {
      size_t comma = line.find(',', p);
      if (comma == std::string::npos) break;
      fields.push_back(line.substr(p, comma - p));
      p = comma + 1;
    }
  }
  fields.push_back(line.substr(std::min(p, n)));
  return static_cast<int>(fields.size());
}

bool ReadPdfVersion(const std::string& path, std::string& version, std::string* problem) {
  version = "1.?";
  static const std::string kKey = "PDF-1.";
  try {
    rtl::TFileStream f(path, rtl::TFileStream::fmOpenRead | rtl::TFileStream::fmShareDenyNone |
                                 rtl::TFileStream::fmRegularOnly);
    // An empty file has no version; a file of /proc that says it is empty may have content that
    // only the kernel's writing ends (/proc/kmsg), and reading it would take that content away.
    if (f.Size() == 0) {
      if (problem) *problem = path + J(": 空のファイルです");
      return false;
    }
    // The first non-empty line is scanned as it streams by, however long it is.
    std::string buffer(64 * 1024, '\0');
    bool inLine = false;
    size_t matched = 0;
    for (;;) {
      int64_t got = f.Read(buffer.data(), static_cast<int64_t>(buffer.size()));
      if (got <= 0) return true;
      for (int64_t i = 0; i < got; ++i) {
        char c = buffer[static_cast<size_t>(i)];
        if (c == '\r' || c == '\n') {
          if (inLine) return true;
          continue;
        }
        inLine = true;
        c = UpperAscii(c);
        if (matched == kKey.size()) {
          version = std::string("1.") + c;
          return true;
        }
        // No proper suffix of the key is also its prefix but a lone "P".
        if (c == kKey[matched])
          ++matched;
        else
          matched = c == 'P' ? 1 : 0;
      }
    }
  } catch (const rtl::EStreamError& e) {
    if (problem) *problem = e.Message();
    return false;
  }
}

std::string ExpandPath(const std::string& path) {
  if (path.size() > 2 && path[0] != '/') return platform::ProgramFolder() + path;
  return path;
}

std::string PdfinfoPath() {
  std::string local = platform::ProgramFolder() + "pdfinfo";
  if (platform::IsExecutableFile(local)) return local;
  return platform::FindOnPath("pdfinfo").value_or("");
}

std::string ToolPath() {
  return platform::ProgramFolder() + "bin/" + kToolName;
}

std::string WorkFilePath() {
  return platform::ProgramFolder() + "$output.pdf";
}

std::string FailureListPath() {
  return platform::ProgramFolder() + "KettrinLog.txt";
}

std::string ResultCsvPath(const std::string& csvPath) {
  return rtl::ChangeFileExt(csvPath, "_log.csv");
}

int32_t RunAndWait(const std::string& commandLine, int /*showMode*/, const std::string& workDir) {
  return platform::RunAndWait(commandLine, workDir, kWaitSleepMs, platform::ChildOutput::kDiscard,
                              std::chrono::seconds(std::max<int32_t>(CheckSettings.TimeLimit, 0)));
}

// ---- TForm1 ----

TForm1::TForm1(std::vector<std::string> arguments)
    : TForm(&ui::Application()), arguments_(std::move(arguments)) {
  using namespace ui;
  SetCaption("Kettrin(V0.12)");
  SetBorderStyle(bsSingle);
  SetBorderIcons(biSystemMenu | biMinimize);
  SetBounds(0, 0, 545, 546);

  Label1.SetParent(this);
  Label1.SetBounds(8, 12, 48, 12);
  Label1.SetCaption(J("処理CSV"));
  Edit1.SetParent(this);
  Edit1.SetBounds(60, 8, 384, 20);
  Edit1.SetReadOnly(true);
  Button1.SetParent(this);
  Button1.SetBounds(452, 6, 75, 24);
  Button1.SetCaption(J("参照"));

  ListView1.SetParent(this);
  ListView1.SetBounds(8, 36, 521, 358);
  ListView1.SetViewStyle(vsReport);
  ListView1.SetGridLines(true);
  ListView1.SetRowSelect(true);
  ListView1.SetReadOnly(true);
  struct Column {
    const char* caption;
    int width;
  } columns[] = {
      {"ファイル名", 254}, {"PDFVer", 62}, {"NoPW", 56}, {"UserPW", 62}, {"OwnerPW", 68}};
  for (const Column& c : columns) {
    TListColumn* column = ListView1.Columns().Add();
    column->SetCaption(J(c.caption));
    column->SetWidth(c.width);
  }

  Panel1.SetParent(this);
  Panel1.SetBounds(0, 400, 539, 121);
  Panel1.SetBevelOuter(bvNone);
  GroupBox1.SetParent(&Panel1);
  GroupBox1.SetBounds(8, 0, 521, 64);
  GroupBox1.SetCaption(J("設定"));
  CheckBox1.SetParent(&GroupBox1);
  CheckBox1.SetBounds(12, 18, 490, 18);
  CheckBox1.SetCaption(J("パスワードが異なっている場合（赤）をリスト出力"));
  CheckBox2.SetParent(&GroupBox1);
  CheckBox2.SetBounds(12, 40, 490, 18);
  CheckBox2.SetCaption(J("アンテナハウスエンジン使用"));
  StaticText1.SetParent(&Panel1);
  StaticText1.SetAutoSize(false);
  StaticText1.SetBounds(8, 80, 420, 18);
  StaticText1.SetBorderStyle(sbsSunken);
  SpeedButton1.SetParent(&Panel1);
  SpeedButton1.SetBounds(440, 72, 89, 32);
  SpeedButton1.SetCaption(J("実行"));

  OpenDialog1.SetFilter(J("csvファイル|*.csv"));
  OpenDialog1.SetDefaultExt("csv");

  OnCreate = [this](rtl::TObject* s) { FormCreate(s); };
  OnActivate = [this](rtl::TObject* s) { FormActivate(s); };
  OnCloseQuery = [this](rtl::TObject* s, bool& canClose) { FormCloseQuery(s, canClose); };
  OnClose = [this](rtl::TObject* s, TCloseAction& action) { FormClose(s, action); };
  Button1.OnClick = [this](rtl::TObject* s) { Button1Click(s); };
  FileDrop1.OnFileDrop = [this](rtl::TObject* s, int num, const rtl::TStringList& files, int x,
                                int y) { FileDrop1FileDrop(s, num, files, x, y); };
  CheckBox1.OnClick = [this](rtl::TObject* s) { CheckBox1Click(s); };
  CheckBox2.OnClick = [this](rtl::TObject* s) { CheckBox2Click(s); };
  SpeedButton1.OnClick = [this](rtl::TObject* s) { SpeedButton1Click(s); };
  ListView1.OnCustomDrawItem = [this](rtl::TObject* s, TListItem* item, TColor& color) {
    ListView1CustomDrawItem(s, item, color);
  };
  ListView1.OnDblClick = [this](rtl::TObject* s) { ListView1DblClick(s); };
}

TForm1::~TForm1() {
  platform::SetPendingEventsHook(nullptr);
}

bool TForm1::ParseCommandLine() {
  CommandLineCsv.clear();
  SilentRun = false;
  ShowResultRun = false;
  bool result = false;
  for (const std::string& arg : arguments_) {
    if (arg.size() < 2 || arg[0] != '/') continue;
    switch (UpperAscii(arg[1])) {
      case 'F': {
        std::string path = arg.substr(2);
        if (!path.empty() && path[0] == '"')
          path = path.substr(1, path.size() >= 2 ? path.size() - 2 : 0);
        path = ExpandPath(path);
        if (platform::FileExists(path)) {
          CommandLineCsv = path;
          result = true;
        } else {
          CommandLineCsv.clear();
          result = false;
        }
        break;
      }
      case 'N':
        SilentRun = true;
        ShowResultRun = false;
        break;
      case 'P':
        ShowResultRun = true;
        SilentRun = false;
        break;
      default:
        break;
    }
  }
  if (SilentRun && CommandLineCsv.empty()) result = false;
  return result;
}

TCheckOutcome TForm1::RunCheck() {
  if (running_) return TCheckOutcome::kNotRun;
  const std::string csv = CheckSettings.CsvPath;
  if (!platform::FileExists(csv) || rtl::LowerCase(rtl::ExtractFileExt(csv)) != ".csv")
    return TCheckOutcome::kNotRun;
  RunningScope running(running_);
  stopRequested_ = false;
  completed_ = false;
  failureList_->Clear();
  ListView1.Items().Clear();

  // A missing tool must not make every file look wrong: nothing is checked without it.
  pdfinfo_ = PdfinfoPath();
  if (pdfinfo_.empty()) {
    ReportProblem(J("pdfinfo が見つかりません。検査を行いませんでした"));
    return TCheckOutcome::kCouldNotRun;
  }
  const bool ownerByTool = CheckSettings.Engine != 0;
  if (ownerByTool && !platform::FileExists(ToolPath())) {
    ReportProblem(ToolPath() + J(" が見つかりません。検査を行いませんでした"));
    return TCheckOutcome::kCouldNotRun;
  }
  // The list's folder is opened once: the list is read from it and the result CSV goes there,
  // whatever its path names by then.
  std::string text, error;
  listFolder_ = platform::OpenFolderPath(rtl::ExtractFilePath(csv), &error);
  if (!listFolder_ ||
      !platform::ReadFileBytesIn(*listFolder_, rtl::ExtractFileName(csv), text, &error)) {
    ReportProblem(csv + J(" を読めません") + " (" + error + ")");
    return TCheckOutcome::kCouldNotRun;
  }
  rtl::TStringList lines;
  lines.SetText(text);

  const int n = lines.Count();
  std::vector<std::string> fields;
  for (int i = 0; i < n; ++i) {
    StaticText1.SetCaption(rtl::IntToStr(i + 1) + "/" + rtl::IntToStr(n));
    ui::Application().ProcessMessages();
    if (stopRequested_) return TCheckOutcome::kStopped;
    SplitCsvLine(lines.Strings(i), fields);
    if (fields.size() > 3) {
      std::string file = ExpandPath(fields[0]);
      // Passwords as written: blanks at either end are part of them.
      UserPassword = fields[1];
      OwnerPassword = fields[2];
      ExpectedVersion = rtl::Trim(fields[3]);
      if (ownerByTool)
        CheckWithTool(file);
      else
        CheckWithPdfinfo(file);
    } else {
      failureList_->Add("NG(InvalidCSV):" + fields[0]);
    }
    if (stopRequested_) return TCheckOutcome::kStopped;
  }
  completed_ = true;

  if (CheckSettings.ReLock != 0 && !SaveText(FailureListPath(), failureList_->Text()))
    return TCheckOutcome::kSaveFailed;
  StaticText1.SetCaption(J("完了"));
  return TCheckOutcome::kDone;
}

void TForm1::CheckWithPdfinfo(const std::string& file) {
  if (pdfinfo_.empty()) pdfinfo_ = PdfinfoPath();
  CheckFile(file, false);
}

void TForm1::CheckWithTool(const std::string& file) {
  if (pdfinfo_.empty()) pdfinfo_ = PdfinfoPath();
  CheckFile(file, true);
}

void TForm1::CheckFile(const std::string& file, bool ownerByTool) {
  CurrentPassword.clear();
  std::string version, problem;
  const bool readable = ReadPdfVersion(file, version, &problem);
  // A file that cannot be read, or whose check had to be ended, fails every check.
  bool isProtected = true, userWrong = true, ownerWrong = true;
  // A line with a password asks for a protected file. One that opens without a password passes
  // only as an encrypted file with the owner password alone: it refuses any other user password.
  const bool expectsProtection = !UserPassword.empty() || !OwnerPassword.empty();
  bool encrypted = true;
  if (readable) {
    const std::string base = "\"" + pdfinfo_ + "\" " + platform::QuoteArgument(file);
    auto pdfinfoFails = [&](const std::string& commandLine) {
      int32_t rc = RunAndWait(commandLine, SW_HIDE);
      if (rc == platform::kRunTimedOut) problem = file + ": " + TimeLimitText("pdfinfo");
      return rc != 0;
    };
    // Whether the owner password is wrong, by the tool or by pdfinfo; extra: pdfinfo's further
    // options.
    auto ownerCheckFails = [&](const std::string& extra) {
      CurrentPassword = OwnerPassword;
      if (!ownerByTool)
        return pdfinfoFails(base + " -opw " + platform::QuoteArgument(CurrentPassword) + extra);
      std::string work = WorkFilePath();
      platform::DeleteFile(work);
      std::string args = "-changeInfo -d " + platform::QuoteArgument(file) + " ";
      if (!CurrentPassword.empty()) args += platform::QuoteArgument(CurrentPassword) + " ";
      args += "-o " + platform::QuoteArgument(work) + " -ncc";
      ToolResult = 0;
      RunReLockTool(args);
      if (ToolResult == platform::kRunTimedOut) problem = file + ": " + TimeLimitText(kToolName);
      platform::DeleteFile(work);
      return ToolResult != 0;
    };
    isProtected = pdfinfoFails(base);
    userWrong = ownerWrong = false;
    if (problem.empty() && isProtected) {
      CurrentPassword = UserPassword;
      userWrong = pdfinfoFails(base + " -upw " + platform::QuoteArgument(CurrentPassword));
      // When the user check was ended, the owner check would wait as long.
      if (problem.empty()) ownerWrong = ownerCheckFails("");
    } else if (problem.empty() && expectsProtection) {
      // Neither the empty user password nor the owner password.
      std::string probe = "?";
      while (probe == OwnerPassword)
        probe += "?";
      const std::string probeOption = " -upw " + platform::QuoteArgument(probe);
      encrypted = pdfinfoFails(base + probeOption);
      // The owner password of a file that opens without one: pdfinfo takes a wrong owner
      // password for the empty user password, but not for a user password that is wrong too.
      if (problem.empty() && encrypted && !OwnerPassword.empty())
        ownerWrong = ownerCheckFails(probeOption);
    }
    if (!problem.empty()) isProtected = userWrong = ownerWrong = true;
  }

  ui::TListItem* item = ListView1.Items().Add();
  item->SetCaption(file);
  const bool versionWrong = !readable || version != ExpectedVersion;
  item->SubItems().Add(version + "  " + (versionWrong ? MarkNo() : MarkYes()));
  bool failed = isProtected && (userWrong || ownerWrong || versionWrong);
  if (isProtected) {
    item->SubItems().Add(MarkNone());
    item->SubItems().Add(userWrong ? MarkNo() : MarkYes());
    item->SubItems().Add(ownerWrong ? MarkNo() : MarkYes());
  } else {
    // A password of the line that the file does not need is wrong; the owner password of a
    // file encrypted with it alone is checked.
    const bool userUnused = !UserPassword.empty();
    const bool ownerUnused = !OwnerPassword.empty() && !encrypted;
    item->SubItems().Add(MarkYes());
    item->SubItems().Add(userUnused ? MarkNo() : MarkNone());
    item->SubItems().Add(OwnerPassword.empty()       ? MarkNone()
                         : ownerUnused || ownerWrong ? MarkNo()
                                                     : MarkYes());
    failed = userUnused || ownerUnused || ownerWrong;
  }
  if (failed) failureList_->Add(file);

  if (problem.empty())
    StaticText1.SetCaption(file);
  else
    ReportProblem(problem);
  ui::Application().ProcessMessages();
}

std::string TForm1::TimeLimitText(const std::string& program) {
  return program + J(" が制限時間 ") + rtl::IntToStr(CheckSettings.TimeLimit) +
         J(" 秒を過ぎたため終了させました");
}

void TForm1::RunReLockTool(const std::string& arguments) {
  std::string tool = ToolPath();
  if (!platform::FileExists(tool)) {
    ToolResult = 1;
    return;
  }
  platform::PrivateFileScope privateFiles;  // the tool's output is a file of the program's own
  ToolResult =
      RunAndWait(std::string(kToolName) + " " + arguments, SW_HIDE, rtl::ExtractFilePath(tool));
}

bool TForm1::IsRedRow(const ui::TListItem& item) {
  if (Contains(item.ColumnText(1), MarkNo())) return true;
  const std::string user = item.ColumnText(3), owner = item.ColumnText(4);
  return !user.empty() && !owner.empty() && (user == MarkNo() || owner == MarkNo());
}

bool TForm1::AllPassed() const {
  if (!completed_ || failureList_->Count() > 0) return false;
  const ui::TListItems& items = ListView1.Items();
  for (int i = 0; i < items.Count(); ++i)
    if (IsRedRow(*items.Item(i))) return false;
  return true;
}

std::string TForm1::ResultCsvText() const {
  std::string text;
  if (ShowResultRun)
    text += J("ファイル名,Verチェック,プロテクト有無,ユーザパスワード,オーナーパスワード") + "\r\n";
  const ui::TListItems& items = ListView1.Items();
  for (int i = 0; i < items.Count(); ++i) {
    const ui::TListItem& item = *items.Item(i);
    auto yes = [&](int column) { return Contains(item.ColumnText(column), MarkYes()); };
    text += CsvField(item.Caption()) + "," + (yes(1) ? "OK," : "NG,") + (yes(2) ? "OK," : "--,") +
            (yes(3) ? "OK," : "NG,") + (yes(4) ? "OK" : "NG") + "\r\n";
  }
  return text;
}

void TForm1::ReportProblem(const std::string& text) {
  StaticText1.SetCaption(text);
  if (ui::Application().ToolWindow())
    ui::Application().MessageBox(text, "", ui::MB_OK | ui::MB_ICONERROR);
}

bool TForm1::SaveText(const std::string& path, const std::string& text) {
  std::string error;
  if (platform::WritePrivateFile(path, text, &error)) return true;
  return CannotWrite(path, error);
}

bool TForm1::SaveResultCsv(const std::string& path) {
  std::string error;
  if (listFolder_ &&
      platform::WriteOwnFileIn(*listFolder_, rtl::ExtractFileName(path), ResultCsvText(), &error))
    return true;
  return CannotWrite(path, error);
}

bool TForm1::CannotWrite(const std::string& path, const std::string& error) {
  std::string message = path + J(" に書き込めません");
  if (!error.empty()) message += " (" + error + ")";
  StaticText1.SetCaption(message);
  ui::Application().MessageBox(message, "", ui::MB_OK | ui::MB_ICONERROR);
  return false;
}

// ---- handlers ----

void TForm1::FormCreate(rtl::TObject*) {
  failureList_ = std::make_unique<rtl::TStringList>();
  platform::SetPendingEventsHook([] { ui::Application().ProcessMessages(); });
  LoadAppIni();
  SetBounds(CheckSettings.Left, CheckSettings.Top, Width(), Height());
  if (ParseCommandLine() && SilentRun) {
    SetBounds(0, 0, 0, 0);
    SetBorderStyle(ui::bsNone);
    ui::Application().SetToolWindow(true);
  } else {
    SetBounds(CheckSettings.Left, CheckSettings.Top, 545, 546);
    SetBorderStyle(ui::bsSingle);
    FileDrop1.SetAccept(true);
    FileDrop1.SetControl(this);
    // A silent start without a list to check opens the window, but says by its exit status
    // that the silent run did not run.
    if (SilentRun) ui::Application().SetExitCode(2);
  }
  Edit1.SetText(CheckSettings.CsvPath);
  CheckBox1.SetChecked(CheckSettings.ReLock != 0);
  CheckBox2.SetChecked(CheckSettings.Engine != 0);
  StaticText1.SetCaption("");
}

void TForm1::FormActivate(rtl::TObject*) {
  if (arguments_.empty() || CommandLineCsv.empty() || running_) return;
  StaticText1.SetCaption(J("処理開始"));
  CheckSettings.CsvPath = CommandLineCsv;
  Edit1.SetText(CheckSettings.CsvPath);
  savedResultCsv_.clear();

  int exitCode = 2;
  const TCheckOutcome outcome = RunCheck();
  switch (outcome) {
    case TCheckOutcome::kNotRun:
      ReportProblem(platform::FileExists(CheckSettings.CsvPath)
                        ? CheckSettings.CsvPath + J(" はCSVファイルではありません")
                        : CheckSettings.CsvPath + J(" が見つかりません"));
      break;
    case TCheckOutcome::kCouldNotRun:
    case TCheckOutcome::kStopped:
      break;
    case TCheckOutcome::kSaveFailed:
    case TCheckOutcome::kDone: {
      std::string path = ResultCsvPath(CheckSettings.CsvPath);
      if (SaveResultCsv(path)) {
        savedResultCsv_ = path;
        if (outcome == TCheckOutcome::kDone) {
          exitCode = AllPassed() ? 0 : 1;
          StaticText1.SetCaption(J("処理終了"));
        }
      }
      break;
    }
  }
  ui::Application().SetExitCode(exitCode);
  if (!ShowResultRun && outcome != TCheckOutcome::kStopped) Close();
}

void TForm1::FormCloseQuery(rtl::TObject*, bool& canClose) {
  canClose = true;
  if (ShowResultRun && !savedResultCsv_.empty())
    ui::Application().MessageBox(J("結果を") + savedResultCsv_ + J("に保存しました。"), "",
                                 ui::MB_OK | ui::MB_ICONINFORMATION);
}

void TForm1::FormClose(rtl::TObject*, ui::TCloseAction&) {
  stopRequested_ = true;
  if (WindowState() == ui::wsNormal) {
    CheckSettings.Top = Top();
    CheckSettings.Left = Left();
  }
  try {
    SaveAppIni();
  } catch (const rtl::Exception& e) {
    ui::Application().HandleException(this, e);
  }
}

void TForm1::Button1Click(rtl::TObject*) {
  if (!OpenDialog1.Execute()) return;
  CheckSettings.CsvPath = OpenDialog1.FileName();
  Edit1.SetText(CheckSettings.CsvPath);
}

void TForm1::FileDrop1FileDrop(rtl::TObject*, int, const rtl::TStringList& files, int, int) {
  if (files.Count() == 0) return;
  const std::string& first = files.Strings(0);
  if (rtl::LowerCase(rtl::ExtractFileExt(first)) != ".csv") return;
  CheckSettings.CsvPath = first;
  Edit1.SetText(CheckSettings.CsvPath);
}

void TForm1::CheckBox1Click(rtl::TObject*) {
  CheckSettings.ReLock = CheckBox1.Checked() ? 1 : 0;
}

void TForm1::CheckBox2Click(rtl::TObject*) {
  CheckSettings.Engine = CheckBox2.Checked() ? 1 : 0;
}

void TForm1::SpeedButton1Click(rtl::TObject*) {
  RunCheck();
}

void TForm1::ListView1CustomDrawItem(rtl::TObject*, ui::TListItem* item, ui::TColor& color) {
  if (item && IsRedRow(*item)) color = ui::clRed;
}

void TForm1::ListView1DblClick(rtl::TObject*) {
  if (ui::TListItem* item = ListView1.Selected()) ui::Shell().OpenDocument(item->Caption());
}
