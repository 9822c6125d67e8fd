// Kettrin's main window and the check run: every file of a CSV list is checked with pdfinfo (and,
// with the option, the owner password with the outside tool); each file becomes one row of the
// result list, and files with a wrong password or version form the failure list.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "apps/common/NewCtrls.h"
#include "platform/RtlClasses.h"
#include "ui/ComCtrls.h"
#include "ui/Dialogs.h"
#include "ui/ExtCtrls.h"
#include "ui/Forms.h"
#include "ui/StdCtrls.h"

namespace platform {
class FolderHandle;
}

// Show modes of RunAndWait.
constexpr int SW_HIDE = 0;
constexpr int SW_SHOW = 5;

// The marks of the result list, in the ANSI code page: "○", "×", "－".
const std::string& MarkYes();
const std::string& MarkNo();
const std::string& MarkNone();

// Splits one line of the list: a field that starts with a double quote runs to the closing quote
// ("" inside stands for one) and the character after it is skipped; other fields end at the next
// ","; the rest of the line is always added as the last field. The number of fields.
int SplitCsvLine(const std::string& line, std::vector<std::string>& fields);

// The version as the check reads it from a file's first non-empty line: "1." and the character
// right after the first "PDF-1." of that line (ASCII letters upper-cased), "1.?" when the line has
// no "PDF-1." or ends right after it. False (version "1.?", and in problem a message with the
// path) when the file cannot be read: it cannot be opened, it is no regular file (opened without
// waiting, so a FIFO or a device cannot hold the check up) or it is empty (as the files of /proc
// are, which are not read).
bool ReadPdfVersion(const std::string& path, std::string& version, std::string* problem = nullptr);

// A list's file path or a command line's list path: one of more than two characters that is not
// absolute is taken below the program folder.
std::string ExpandPath(const std::string& path);

std::string PdfinfoPath();      // the program folder's pdfinfo, else PATH's; "" when none
std::string ToolPath();         // program folder + "bin/AHPDFToolCmd26"
std::string WorkFilePath();     // program folder + "$output.pdf"
std::string FailureListPath();  // program folder + "KettrinLog.txt"
// The list's path with its extension replaced by "_log.csv".
std::string ResultCsvPath(const std::string& csvPath);

// Starts the command line (in workDir; empty: the current folder) and waits for it, processing
// pending events and sleeping 50 ms between 100 ms waits. What the program writes goes nowhere.
// A program that runs longer than CheckSettings.TimeLimit seconds is ended, with what it started
// (platform::kRunTimedOut). The exit code, or -1 when it cannot be started. The show mode has no
// meaning here.
int32_t RunAndWait(const std::string& commandLine, int showMode, const std::string& workDir = "");

// How a run ended.
enum class TCheckOutcome {
  kNotRun,       // no list: the file is missing or is no ".csv" file
  kCouldNotRun,  // pdfinfo (or, with Engine, the outside tool) is missing, or the list is
                 // unreadable
  kStopped,      // the window was closed during the run
  kSaveFailed,   // every file was checked, but the failure list could not be saved
  kDone,
};

class TForm1 : public ui::TForm {
 public:
  // arguments: the command line's arguments after the program name (ANSI code page).
  explicit TForm1(std::vector<std::string> arguments = {});
  ~TForm1() override;

  ui::TLabel Label1{this};
  ui::TEdit Edit1{this};
  ui::TButton Button1{this};
  ui::TListView ListView1{this};
  ui::TPanel Panel1{this};
  ui::TGroupBox GroupBox1{this};
  ui::TCheckBox CheckBox1{this};
  ui::TCheckBox CheckBox2{this};
  ui::TStaticText StaticText1{this};
  ui::TSpeedButton SpeedButton1{this};
  ui::TOpenDialog OpenDialog1{this};
  TFileDrop FileDrop1{this};

  // Command-line state.
  std::string CommandLineCsv;  // empty when no valid /f was given
  bool SilentRun = false;
  bool ShowResultRun = false;
  bool ParseCommandLine();

  // The check of the current line.
  std::string UserPassword;
  std::string OwnerPassword;
  std::string ExpectedVersion;
  std::string CurrentPassword;
  int32_t ToolResult = 0;
  const rtl::TStringList& FailureList() const { return *failureList_; }

  TCheckOutcome RunCheck();
  void CheckWithPdfinfo(const std::string& file);
  void CheckWithTool(const std::string& file);
  void RunReLockTool(const std::string& arguments);

  // Whether a row is drawn red: its version is wrong, or a password is (for a file that opens
  // without a password: a password of its line that protects nothing).
  static bool IsRedRow(const ui::TListItem& item);
  // True when the last run checked every line and nothing was wrong: no red row and an empty
  // failure list.
  bool AllPassed() const;
  // The result CSV that the last command-line run saved ("" when none was saved).
  const std::string& SavedResultCsv() const { return savedResultCsv_; }
  // The lines of the result CSV for the rows of the list (CR LF after each).
  std::string ResultCsvText() const;

  void FormCreate(rtl::TObject* sender);
  void FormActivate(rtl::TObject* sender);
  void FormCloseQuery(rtl::TObject* sender, bool& canClose);
  void FormClose(rtl::TObject* sender, ui::TCloseAction& action);
  void Button1Click(rtl::TObject* sender);
  void FileDrop1FileDrop(rtl::TObject* sender, int num, const rtl::TStringList& files, int x,
                         int y);
  void CheckBox1Click(rtl::TObject* sender);
  void CheckBox2Click(rtl::TObject* sender);
  void SpeedButton1Click(rtl::TObject* sender);
  void ListView1CustomDrawItem(rtl::TObject* sender, ui::TListItem* item, ui::TColor& color);
  void ListView1DblClick(rtl::TObject* sender);

 private:
  void CheckFile(const std::string& file, bool ownerByTool);
  // "<program> ran past the time limit" for a check that was ended.
  static std::string TimeLimitText(const std::string& program);
  // The status line, and in a silent run standard error, say what went wrong.
  void ReportProblem(const std::string& text);
  // Writes the file atomically, private to its owner (0600); false (and the problem reported)
  // when it cannot.
  bool SaveText(const std::string& path, const std::string& text);
  // Writes the result CSV as the file of path's name in the folder the last run read its list
  // from, private to its owner; no link is followed and no file but one of the running user's
  // own is replaced. false (and the problem reported) when it cannot.
  bool SaveResultCsv(const std::string& path);
  // Reports that path cannot be written (error: why); false.
  bool CannotWrite(const std::string& path, const std::string& error);

  std::vector<std::string> arguments_;
  std::unique_ptr<rtl::TStringList> failureList_;
  std::shared_ptr<platform::FolderHandle> listFolder_;  // of the last run's list
  std::string pdfinfo_;                                 // found at the start of each run
  std::string savedResultCsv_;
  bool running_ = false;
  bool stopRequested_ = false;
  bool completed_ = false;  // the last run checked every line
};
