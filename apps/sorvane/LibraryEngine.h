// The library engine: files whose target version is not 1.6 or 1.7 are rewritten by the PDF
// library (load, put the job's encryption, permissions and document information on, save), and
// the header's version digits are set to the target version.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "pdf/core/zoPDFCrypt.h"
#include "platform/FileSystem.h"

class TzoCustomPDFDocument;

// Results of LockWithLibrary besides 0.
constexpr int32_t kLibraryPasswordRefused = -1;
constexpr int32_t kLibraryNotSaved = -2;  // the save was called off (the settings dialog)

// The permissions the job leaves: all eight, less those whose restriction flag is on.
TzoUserPermissions JobUserPermissions();

// The local date and time as the document information gets it: "2026/12/09 10:05".
std::string InfoDateText();

// Sets the version digits of the header ("%PDF-x.y", the letters in either case, after the first
// "%") of the file written into file to the job's target version, when VerEn is on; nothing else
// of it changes. A file without such a header is left as it is. EStreamError when the file cannot
// be read or written.
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
int32_t SaveWithLibrary(TzoCustomPDFDocument& doc, const std::string& path,
                        std::unique_ptr<TLibraryRewrite>& rewrite);

// Rewrites one file with doc: 0 on success, -1 when the open password is refused. The document is
// saved into one new file beside the user's file (private to its owner while it is written), its
// header patched there, and put in its place in one step, when the file is still the one that
// was read. On any failure
// (a file that may not be replaced, an exception of the library, a file that changed or cannot be
// written) the file is left byte for byte as it was and an exception propagates.
int32_t LockWithLibrary(TzoCustomPDFDocument& doc, const std::string& path);

// Commits rewritten files on a thread of its own, one at a time, so that the flushes and the
// rename of one file overlap the work on the next. Only the rewrite's own descriptors are used
// there; what a commit gave is handed back on the thread that starts and finishes commits.
class TRewriteCommitter {
 public:
  // Called on the caller's thread once the commit has ended: whether the new file took the
  // user's file's place, and why not.
  using TDone = std::function<void(bool committed, const std::string& error)>;

  TRewriteCommitter() = default;
  // Lets the commit in flight end (the file put in place or left as it was) without calling its
  // done: a run calls Finish before its logs close.
  ~TRewriteCommitter();
  TRewriteCommitter(const TRewriteCommitter&) = delete;
  TRewriteCommitter& operator=(const TRewriteCommitter&) = delete;

  // Finishes the commit in flight, then starts the commit of rewrite.
  void Start(std::unique_ptr<TLibraryRewrite> rewrite, TDone done);
  // Waits for the commit in flight, if there is one, and calls its done.
  void Finish();
  // A commit was started and Finish has not reported it yet.
  bool Busy() const { return static_cast<bool>(done_); }

 private:
  void Loop();

  std::thread thread_;  // started with the first commit
  std::mutex mutex_;
  std::condition_variable changed_;
  std::unique_ptr<TLibraryRewrite> rewrite_;  // handed over, being committed
  bool ended_ = false;                        // the commit of rewrite_ has ended
  bool committed_ = false;
  std::string error_;
  bool quit_ = false;
  TDone done_;  // only touched on the caller's thread
};
