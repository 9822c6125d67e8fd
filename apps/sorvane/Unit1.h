// Sorvane's main window: the job list (folders added by drop or by the folder chooser), the
// controls that edit the current job settings, and the batch run that rewrites every PDF file of
// the selected job or of every enabled job and writes the result log and the check list. Started
// with any command-line argument, it runs all jobs without a window and ends.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "apps/common/FolderDialog.h"
#include "apps/common/NewCtrls.h"
#include "apps/sorvane/Rw_ini.h"
#include "platform/FileSystem.h"
#include "platform/RtlClasses.h"
#include "platform/StopSignals.h"
#include "ui/ComCtrls.h"
#include "ui/ExtCtrls.h"
#include "ui/FileCtrl.h"
#include "ui/Forms.h"
#include "ui/Menus.h"
#include "ui/StdCtrls.h"

class TzoCustomPDFDocument;
class TzoPDFDocument;
class TRewritePool;

std::string ResultLogPath();  // program folder + "log/log_result.csv"
std::string CheckLogPath();   // program folder + "log/log_check.csv"
std::string KettrinCommandLine();

// How a batch run ended.
enum class TRunOutcome {
  kNotRun,       // nothing to run (no job selected), or a run is going on already
  kCouldNotRun,  // the logs could not be made or written
  kStopped,      // the window was closed or a stop signal came during the run
  kAllOk,        // every file met was rewritten
  kSomeNg,       // at least one file failed
};

// Exit statuses of a silent run.
constexpr int kExitAllOk = 0;
constexpr int kExitSomeNg = 1;  // also a run stopped by a signal
constexpr int kExitCouldNotRun = 2;

class TForm1 : public ui::TForm {
 public:
  // arguments: the command line's arguments after the program name (ANSI code page); any
  // argument makes the run silent.
  explicit TForm1(std::vector<std::string> arguments = {});
  ~TForm1() override;

  ui::TMainMenu MainMenu1{this};
  ui::TMenuItem mmFile{this};
  ui::TMenuItem mmAddDir{this};
  ui::TMenuItem mmDelDir{this};
  ui::TMenuItem mmLine1{this};
  ui::TMenuItem mmQuit{this};
  ui::TMenuItem mmEdit{this};
  ui::TMenuItem mmSaveSetting{this};
  ui::TMenuItem mmLine2{this};
  ui::TMenuItem mmSaveDef{this};
  ui::TMenuItem mmOther{this};
  ui::TMenuItem mmCheck{this};
  ui::TPopupMenu PopupMenuJob{this};
  ui::TMenuItem mnuAddDir{this};
  ui::TMenuItem mnuDelDir{this};
  ui::TPopupMenu PopupMenuSetting{this};
  ui::TMenuItem mnuSaveDef{this};

  ui::TPageControl PageControl1{this};
  ui::TTabSheet TabSheetMain{this};
  ui::TTabSheet TabSheetAbout{this};
  ui::TListBox ListBoxJob{this};
  ui::TFileListBox FileListBox1{this};

  ui::TGroupBox GroupBoxSecurity{this};
  ui::TGroupBox GroupBoxPdf{this};
  ui::TCheckBox CheckBox_sEN{this};
  ui::TCheckBox CheckBox_sPW{this};
  ui::TCheckBox CheckBox_vEN{this};
  ui::TCheckBox CheckBox_oWeb{this};
  ui::TGroupBox GroupBoxPassword{this};
  ui::TLabel LabelOpenPW{this};
  ui::TEdit EditOpenPW{this};
  ui::TLabel LabelMasterPW{this};
  ui::TEdit EditmasterPW{this};
  ui::TLabel LabelUserPW{this};
  ui::TEdit EditUserPW{this};
  ui::TGroupBox GroupBoxRestrict{this};
  ui::TCheckBox CheckBox_sPR{this};
  ui::TCheckBox CheckBox_sMD{this};
  ui::TCheckBox CheckBox_sBA{this};
  ui::TCheckBox CheckBox_sCP{this};
  ui::TCheckBox CheckBox_sAC{this};
  ui::TCheckBox CheckBox_sAN{this};
  ui::TCheckBox CheckBox_sFF{this};
  ui::TCheckBox CheckBox_sBT{this};

  ui::TGroupBox GroupBoxGeneral{this};
  ui::TSpeedButton SpeedButtonSaveSetting{this};
  ui::TCheckBox CheckBoxSubDir{this};
  ui::TCheckBox CheckBoxAll{this};
  ui::TGroupBox GroupBoxInfo{this};
  ui::TLabel LabelTitle{this};
  ui::TEdit EditTitle{this};
  ui::TLabel LabelAuthor{this};
  ui::TEdit EditAuthor{this};
  ui::TLabel LabelSubject{this};
  ui::TEdit EditSubject{this};
  ui::TLabel LabelKeywords{this};
  ui::TEdit EditKeywords{this};
  ui::TLabel LabelCreator{this};
  ui::TEdit EditCreator{this};
  ui::TLabel LabelProducer{this};
  ui::TEdit EditProducer{this};
  ui::TLabel LabelPDFVer{this};
  ui::TComboBox ComboBoxPDFVer{this};

  ui::TLabel LabelProgram{this};
  ui::TLabel LabelVersion{this};

  ui::TPanel PanelBottom{this};
  ui::TStaticText StaticState{this};
  ui::TStaticText StaticTextDir{this};
  ui::TStaticText StaticTextPDF{this};
  ui::TStaticText StaticTextCount{this};
  ui::TSpeedButton SpeedButtonSel{this};
  ui::TSpeedButton SpeedButtonAll{this};

  TFileDrop FileDrop1{this};
  TFolderDialog FolderDialog1{this};
  std::unique_ptr<TzoPDFDocument> PDFDoc;

  bool SilentRun() const { return !arguments_.empty(); }
  bool Running() const { return running_; }

  // The job list.
  // 2: the folder does not exist; 1: the list holds the path (byte for byte); 0: otherwise.
  int JobFolderState(const std::string& path) const;
  // Selects the entry equal to path (nothing selected when none is); an empty path changes
  // nothing. The controls are not reloaded.
  void SelectJob(const std::string& path);
  // Adds an existing folder that is not listed yet, with a copy of default.ini as its job file;
  // says so in a message box and adds nothing when that file cannot be made, or when the job file
  // and the logs could not name the folder (a character that code page 932 cannot hold, a name
  // it writes as another folder's, a line break). osPath is the folder as the file system spells
  // it, as the drop or the chooser gave it (UTF-8; empty: path as the file system reaches it).
  // True when added.
  bool AddJobFolder(const std::string& path, const std::string& osPath = {});
  // Reads the job file and shows its settings in the controls.
  void ShowJobSettings(const std::string& path);
  // Lists the jobs left out at start whose folder exists again.
  void ListJobsThatAreBack();
  // Job folders whose job file was kept at start, not listed while the folder does not exist.
  const std::vector<std::string>& MissingJobs() const { return missingJobs_; }

  // The runs.
  TRunOutcome RunSelectedJob();
  TRunOutcome RunAllJobs();
  // Reads the job's file into JobSettings; false (reported, counted as a failure) when it cannot
  // be read.
  bool LoadJob(const std::string& folder);
  // Walks the job's folder; one that does not exist is NG in the result log.
  void WalkJob(const std::string& folder);
  // A job's folder: opened once (platform::OpenJobFolder; a link there is NG), then everything
  // below it is reached through descriptors.
  void WalkFolder(const std::string& dir);
  void ProcessFolder(const std::string& dir);
  // The result log line of one file.
  std::string ProcessFile(std::string path);

  // Handlers.
  void FormCreate(rtl::TObject* sender);
  void FormActivate(rtl::TObject* sender);
  void FormClose(rtl::TObject* sender, ui::TCloseAction& action);
  void FileDrop1FileDrop(rtl::TObject* sender, int num, const rtl::TStringList& files, int x,
                         int y);
  void mnuAddDirClick(rtl::TObject* sender);
  void mnuDelDirClick(rtl::TObject* sender);
  void ListBoxJobClick(rtl::TObject* sender);
  void SpeedButtonSaveSettingClick(rtl::TObject* sender);
  void mnuSaveDefClick(rtl::TObject* sender);
  void mmQuitClick(rtl::TObject* sender);
  void mmCheckClick(rtl::TObject* sender);
  void SpeedButtonSelClick(rtl::TObject* sender);
  void SpeedButtonAllClick(rtl::TObject* sender);
  // The open password event of PDFDoc and of every document of the pool: answered from the job
  // of the file being loaded.
  void PDFDocPassword(rtl::TObject* sender, std::string& password, bool& cont, int tries);

 private:
  void BuildWindow();
  void ConnectEvents();
  // A problem of the run: on the status line, and in a silent run on standard error.
  void ReportProblem(const std::string& text);
  // A file that failed with an exception: reported, and in the debug log when Debug is on.
  void ReportFileError(const std::string& path, const std::string& message);
  // Rewrites one file as ProcessFile does and gives its result log line to logLine: at once, or,
  // when the library rewrites it on a thread of the pool, once that rewrite has ended (a later
  // file's start or FinishCommit).
  void RewriteFile(std::string path, std::function<void(const std::string&)> logLine);
  // The same for an entry of a folder's listing, opened through the folder's descriptor.
  void RewriteListed(const std::shared_ptr<platform::FolderHandle>& folder,
                     const platform::FolderEntry& entry,
                     std::function<void(const std::string&)> logLine);
  // The rest of a rewrite once the file was opened (file null: problem says why, or it is gone).
  void RewriteOpened(const std::string& path, std::unique_ptr<platform::OpenedFile> file,
                     std::string problem, bool missing,
                     std::function<void(const std::string&)> logLine);
  // Opens a job's folder; null (reported as NG unless it does not exist) when it cannot be.
  std::shared_ptr<platform::FolderHandle> OpenJob(const std::string& dir);
  void WalkOpened(const std::shared_ptr<platform::FolderHandle>& folder);
  // Rewrites the folder's files; false (the folder NG) when it could not be listed.
  bool ProcessOpened(const std::shared_ptr<platform::FolderHandle>& folder);
  // A folder that is not walked: NG in the result log, with why reported.
  void FolderNg(const std::string& dir, const std::string& why);
  // Shows the file and lets the window's pending events run.
  void ShowFile(const std::string& path);
  // A document for a thread of the pool: made as PDFDoc, with its events.
  std::unique_ptr<TzoCustomPDFDocument> MakeRunDocument();
  // Waits for the rewrites in flight and writes their lines; called before any other line or
  // report, so that the lines stay in the walk's order.
  void FinishCommit();
  // Deletes and creates both logs; false (reported) when they cannot be made.
  bool OpenLogs();
  void CloseLogs();
  // The check list line of a file, with the passwords the current job gives it.
  std::string CheckLine(const std::string& path) const;
  void WriteLogLines(const std::string& resultLine, const std::string& checkLine);
  template <class Run>
  TRunOutcome RunGuarded(Run run);
  // Runs f with JobSettings holding what the controls stand for: during a run the user's edits,
  // selections and saves work on that copy, and the running job keeps its own settings.
  template <class F>
  void WithShownSettings(F f);

  std::vector<std::string> arguments_;
  bool setupFailed_ = false;  // the settings folders or default.ini could not be made
  bool running_ = false;
  // Set when the window closes; while stop signals are caught, a caught one counts too (the walk
  // and the waits check it).
  class TStopRequest {
   public:
    explicit operator bool() const { return set_ || (signals && platform::StopSignal() != 0); }
    TStopRequest& operator=(bool set) {
      set_ = set;
      return *this;
    }
    // A silent run catches them from its start, a window while it runs.
    std::unique_ptr<platform::StopSignalScope> signals;

   private:
    bool set_ = false;
  };
  TStopRequest stopRequested_;
  bool anyNg_ = false;
  bool activated_ = false;
  TJobSettings shown_;         // during a run: what the controls stand for
  bool shownInPlace_ = false;  // shown_ is in JobSettings now
  // Sorted.
  std::vector<std::string> missingJobs_;
  std::unique_ptr<rtl::TFileStream> resultLog_;
  std::unique_ptr<rtl::TFileStream> checkLog_;
  std::unique_ptr<platform::FolderWalkGuard> walkGuard_;
  size_t walkDepth_ = 0;  // the folders open below the job's
  // The files handed to a rewrite in this run: none is handed twice.
  std::shared_ptr<platform::FileClaims> claims_;
  // Ends before the form's documents go.
  std::unique_ptr<TRewritePool> pool_;
};
