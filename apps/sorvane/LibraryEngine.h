// The library engine: files whose target version is not 1.6 or 1.7 are rewritten by the PDF
// library (load, put the job's encryption, permissions and document information on, save), and
// the header's version digits are set to the target version.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "apps/sorvane/Rw_ini.h"
#include "pdf/core/zoPDFCrypt.h"
#include "platform/FileSystem.h"

class TzoCustomPDFDocument;

// Results of LockWithLibrary besides 0.
constexpr int32_t kLibraryPasswordRefused = -1;
constexpr int32_t kLibraryNotSaved = -2;  // the save was called off (the settings dialog)

// The permissions the job leaves: all eight, less those whose restriction flag is on (of job, or
// of JobSettings).
TzoUserPermissions JobUserPermissions(const TJobSettings& job);
TzoUserPermissions JobUserPermissions();

// The answer to the library's request for the open password of a file of the job whose open
// password is given: offered once (cont), and on the second request the file is refused
// (ResultCode -1, of the thread that loads).
void AnswerOpenPassword(const std::string& openPassword, std::string& password, bool& cont,
                        int tries);

// The local date and time as the document information gets it: "2026/12/09 10:05".
std::string InfoDateText();

// The version digits the job gives a rewritten file's header: its target version when VerEn is
// on, else none (empty).
std::string HeaderVersion(const TJobSettings& job);

// Sets the version digits of the header ("%PDF-x.y", the letters in either case, after the first
// "%") of the file written into file to version (empty: nothing is done), or to JobSettings'
// HeaderVersion; nothing else of it changes. A file without such a header is left as it is.
// EStreamError when the file cannot be read or written.
void PatchHeaderVersion(platform::ReplacementFile& file, const std::string& version);
void PatchHeaderVersion(platform::ReplacementFile& file);

// A rewritten file waiting to take the place of the user's file: the new file beside it and the
// identity of the file that was read.
struct TLibraryRewrite {
  platform::ReplacementFile file;
  platform::FileIdentity identity;
  // Puts the new file in place when the user's file is still the one that was read; otherwise
  // (error says why) the user's file stays as it was and the new file is removed.
  bool Commit(std::string* error) { return file.Commit(&identity, error); }
};

// The first steps of LockWithLibrary: loads the file, puts the job's settings on and saves the
// document into the new file beside it, header patched; rewrite then holds what Commit puts in
// place. 0 on success, -1 when the open password is refused, kLibraryNotSaved; rewrite is empty
// unless 0 is returned. On any failure the file is left as it was and an exception propagates.
// OpenWithLibrary with JobSettings, then SaveIntoRewrite.
int32_t SaveWithLibrary(TzoCustomPDFDocument& doc, const std::string& path,
                        std::unique_ptr<TLibraryRewrite>& rewrite);

// The part of SaveWithLibrary that loads: takes the identity of the file, loads it (the open
// password asked through doc's OnPassword), puts job's settings on and creates the new file
// beside it, still empty. 0 (rewrite set) or ResultCode when the open password was refused
// (rewrite empty); exceptions as SaveWithLibrary's. Reads no global setting.
int32_t OpenWithLibrary(TzoCustomPDFDocument& doc, const std::string& path, const TJobSettings& job,
                        std::unique_ptr<TLibraryRewrite>& rewrite);
// As above for a file opened already: loaded from its descriptor, the new file made unnamed (where
// the file system allows it) in the folder it was opened in, the identity checked at Commit the
// one it had when it was opened.
int32_t OpenWithLibrary(TzoCustomPDFDocument& doc, const platform::OpenedFile& file,
                        const TJobSettings& job, std::unique_ptr<TLibraryRewrite>& rewrite);

// The rest: saves doc into rewrite's new file and sets its header's version digits to version.
// False when the save was called off; exceptions of the library or of the file propagate.
bool SaveIntoRewrite(TzoCustomPDFDocument& doc, const std::string& path, TLibraryRewrite& rewrite,
                     const std::string& version);

// Rewrites one file with doc: 0 on success, -1 when the open password is refused. The document is
// saved into one new file beside the user's file (private to its owner while it is written), its
// header patched there, and put in its place in one step, when the file is still the one that
// was read. On any failure
// (a file that may not be replaced, an exception of the library, a file that changed or cannot be
// written) the file is left byte for byte as it was and an exception propagates.
int32_t LockWithLibrary(TzoCustomPDFDocument& doc, const std::string& path);

// Rewrites files with the library on threads of their own, each with its own document: several
// files are read, saved and put in place at once, and what each rewrite gave is handed back on
// the caller's thread, in the order the files were given. A thread's document answers the open
// password from the settings its file was given with; its other events fire on that thread.
class TRewritePool {
 public:
  struct TOutcome {
    // 0; ResultCode when the open password was refused; kLibraryNotSaved.
    int32_t result = 0;
    // What ended the rewrite before the new file was ready (result then is -1), or null.
    std::exception_ptr failure;
    // The new file took the user's file's place; when not (and result is 0), why.
    bool committed = false;
    std::string error;
  };
  using TDone = std::function<void(const TOutcome& outcome)>;
  using TMakeDocument = std::function<std::unique_ptr<TzoCustomPDFDocument>()>;

  // The memory that the loads of the files being rewritten at once take (their copies and what
  // they charge to their load budgets), beyond which only the oldest of them goes on: the
  // documents in memory stay within this plus what one load may take.
  static constexpr int64_t kLoadMemory = int64_t{64} * 1024 * 1024;

  // At most threads rewrites at once, their loads holding at most loadMemory together (the
  // oldest excepted); makeDocument gives each thread its document, on the caller's thread, when
  // the thread is first needed.
  TRewritePool(size_t threads, TMakeDocument makeDocument, int64_t loadMemory = kLoadMemory);
  // Lets the rewrites in flight end (each file put in place or left as it was) without calling
  // their done: a run calls Finish before its logs close.
  ~TRewritePool();
  TRewritePool(const TRewritePool&) = delete;
  TRewritePool& operator=(const TRewritePool&) = delete;

  // The threads a pool of this machine uses: as many as its processors, 2 to 8 (a thread also
  // waits for its file's flushes).
  static size_t DefaultThreads();

  // Reports the rewrites that have ended at the front of the line; when many rewrites are still
  // to be reported, waits for the oldest and reports it. Then hands over the rewrite of path
  // (OpenWithLibrary with job, SaveIntoRewrite, Commit). A done that throws is not called again;
  // the exception propagates and the later rewrites go on.
  void Start(std::string path, const TJobSettings& job, TDone done);
  // As above for a file opened already (OpenWithLibrary of it). With claims, the new file is
  // added to them before it takes the file's place.
  void Start(std::unique_ptr<platform::OpenedFile> file, const TJobSettings& job, TDone done,
             std::shared_ptr<platform::FileClaims> claims = nullptr);
  // Waits for every rewrite in flight and reports each, in order.
  void Finish();
  // A rewrite was started and has not been reported yet.
  bool Busy() const { return !line_.empty(); }
  // The job of the rewrite that runs on the calling thread (a thread of a pool), as it was handed
  // over; null on any other thread.
  static const TJobSettings* CurrentJob();
  // Called on the caller's thread after each hand-over with the number of files handed over so
  // far (for tests).
  void SetHandOverHook(std::function<void(size_t handedOver)> hook) { handOver_ = std::move(hook); }

 private:
  struct TTask;
  struct TWorker;
  void Loop(TWorker& worker);
  // Waits for the oldest rewrite and reports it.
  void ReportFront();
  void Hand(std::shared_ptr<TTask> task);
  // The memory a load of task takes: while the loads in flight hold the pool's load memory
  // together, only the oldest rewrite in flight takes more, the others wait for it.
  void TakeLoadMemory(TTask& task, int64_t bytes);

  const size_t threads_;
  const int64_t loadMemory_;
  TMakeDocument makeDocument_;
  std::vector<std::unique_ptr<TWorker>> workers_;
  std::mutex mutex_;
  std::condition_variable queued_;            // a rewrite was handed over, or the pool goes
  std::condition_variable ended_;             // a rewrite has ended
  std::deque<std::shared_ptr<TTask>> queue_;  // handed over, not yet taken
  int64_t loadBytes_ = 0;                     // what the loads in flight hold
  std::set<uint64_t> running_;                // the rewrites in flight, by number
  uint64_t numbered_ = 0;                     // rewrites handed over
  bool quit_ = false;
  // Only touched on the caller's thread: every rewrite not yet reported, oldest first.
  std::deque<std::shared_ptr<TTask>> line_;
  std::function<void(size_t)> handOver_;
  size_t handedOver_ = 0;
};
