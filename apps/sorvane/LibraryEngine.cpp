#include "apps/sorvane/LibraryEngine.h"

#include <algorithm>
#include <cstring>

#include "apps/sorvane/Rw_ini.h"
#include "pdf/document/zoCstPDFDoc.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/LocalTime.h"
#include "platform/ProcessHeap.h"
#include "platform/RtlClasses.h"
#include "platform/RtlSysUtils.h"

namespace {

char UpperAscii(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// The file may not or cannot be replaced: why (the caller says which file).
[[noreturn]] void CannotReplace(const std::string& why) {
  throw rtl::EWriteError(why);
}

}  // namespace

TzoUserPermissions JobUserPermissions(const TJobSettings& j) {
  TzoUserPermissions p = TzoUserPermissions::All();
  if (j.PR != 0) p = p - TzoUserPermissions{AllowPrint, AllowHighResPrint};
  if (j.MD != 0) p.Exclude(AllowModify);
  if (j.CP != 0) p.Exclude(AllowCopy);
  if (j.AN != 0) p.Exclude(AllowAnnotation);
  if (j.DA != 0) p.Exclude(AllowDocAssembly);
  if (j.FF != 0) p.Exclude(AllowFormFill);
  if (j.AC != 0) p.Exclude(AllowAccessibility);
  return p;
}

TzoUserPermissions JobUserPermissions() {
  return JobUserPermissions(JobSettings);
}

void AnswerOpenPassword(const std::string& openPassword, std::string& password, bool& cont,
                        int tries) {
  password = openPassword;
  cont = true;
  if (tries > 0) {
    cont = false;
    ResultCode = -1;
  }
}

std::string InfoDateText() {
  const std::string d = platform::LocalDateTimeDigits();  // yyyymmddhhnnss
  return d.substr(0, 4) + "/" + d.substr(4, 2) + "/" + d.substr(6, 2) + " " + d.substr(8, 2) + ":" +
         d.substr(10, 2);
}

std::string HeaderVersion(const TJobSettings& job) {
  return job.VerEn != 0 ? VersionText(job.Ver) : std::string();
}

void PatchHeaderVersion(platform::ReplacementFile& file) {
  PatchHeaderVersion(file, HeaderVersion(JobSettings));
}

void PatchHeaderVersion(platform::ReplacementFile& file, const std::string& version) {
  if (version.empty()) return;
  auto cannotRead = [] { return rtl::EReadError(platform::Utf8ToAnsi("ヘッダーを読めません")); };
  // The header follows the file's first "%".
  int64_t percent = -1;
  std::string block(2048, '\0');
  int64_t start = 0, got = 0;
  for (; percent < 0; start += got) {
    got = file.ReadAt(start, block.data(), block.size());
    if (got < 0) throw cannotRead();
    if (got == 0) return;
    const size_t at = std::string_view(block.data(), static_cast<size_t>(got)).find('%');
    if (at != std::string_view::npos) percent = start + static_cast<int64_t>(at);
  }
  char head[7];
  // The seven bytes after it, from the block read when they are in it.
  if (percent + 8 <= start) {
    std::memcpy(head, block.data() + (percent + 1 - (start - got)), sizeof head);
  } else {
    const int64_t n = file.ReadAt(percent + 1, head, sizeof head);
    if (n < 0) throw cannotRead();
    if (n != 7) return;
  }
  if (UpperAscii(head[0]) != 'P' || UpperAscii(head[1]) != 'D' || UpperAscii(head[2]) != 'F' ||
      head[3] != '-')
    return;
  std::string error;
  if (!file.WriteAt(percent + 5, version, &error)) throw rtl::EWriteError(error);
}

int32_t OpenWithLibrary(TzoCustomPDFDocument& doc, const std::string& path, const TJobSettings& j,
                        std::unique_ptr<TLibraryRewrite>& rewrite) {
  rewrite.reset();
  std::string error;
  const std::unique_ptr<platform::OpenedFile> file = platform::OpenedFile::OpenPath(path, &error);
  if (!file) CannotReplace(error);
  return OpenWithLibrary(doc, *file, j, rewrite);
}

int32_t OpenWithLibrary(TzoCustomPDFDocument& doc, const platform::OpenedFile& file,
                        const TJobSettings& j, std::unique_ptr<TLibraryRewrite>& rewrite) {
  rewrite.reset();
  ResultCode = 0;
  auto made = std::make_unique<TLibraryRewrite>();
  // What is read is what must still be there when the new file takes its place.
  const std::string refusal = file.Refusal();
  if (!refusal.empty()) CannotReplace(refusal);
  made->identity = file.Identity();
  doc.LoadFromDescriptor(file.Descriptor(), file.Path());
  if (ResultCode != 0) return ResultCode;  // the open password was refused

  TzoPDFEncryptionSettings& encryption = doc.Encryption();
  if (j.EN != 0) {
    encryption.SetEnabled(true);
    encryption.SetLevel(j.BT != 0 ? el40bit : el128bit);
    encryption.SetOwnerPassword(j.MasterPassWord);
    encryption.SetUserPassword(j.PW != 0 ? j.UserPassWord : std::string());
    encryption.SetUserPermissions(JobUserPermissions(j));
    TzoPDFInfo& info = doc.Info();
    info.SetAuthor(platform::AnsiToWide(j.Author));
    info.SetCreator(platform::AnsiToWide(j.Creator));
    info.SetKeywords(platform::AnsiToWide(j.Keywords));
    info.SetProducer(platform::AnsiToWide(j.Producer));
    info.SetSubject(platform::AnsiToWide(j.Subject));
    info.SetTitle(platform::AnsiToWide(j.Title));
    info.SetCreationDate(InfoDateText());
    info.SetModDate(InfoDateText());
  } else {
    encryption.SetEnabled(false);
  }
  doc.SetShowSetupDialog(false);

  std::string error;
  if (!made->file.CreateFor(file, &error, true)) CannotReplace(error);
  rewrite = std::move(made);
  return 0;
}

bool SaveIntoRewrite(TzoCustomPDFDocument& doc, const std::string& path, TLibraryRewrite& rewrite,
                     const std::string& version) {
  // Saved straight into the new file beside the user's and patched there.
  {
    rtl::THandleStream stream(rewrite.file.Descriptor(), path);
    if (!doc.SaveToStream(stream, path, 2)) return false;
  }
  PatchHeaderVersion(rewrite.file, version);
  return true;
}

int32_t SaveWithLibrary(TzoCustomPDFDocument& doc, const std::string& path,
                        std::unique_ptr<TLibraryRewrite>& rewrite) {
  std::unique_ptr<TLibraryRewrite> made;
  const int32_t result = OpenWithLibrary(doc, path, JobSettings, made);
  if (result != 0) return result;
  if (!SaveIntoRewrite(doc, path, *made, HeaderVersion(JobSettings))) return kLibraryNotSaved;
  rewrite = std::move(made);
  return 0;
}

int32_t LockWithLibrary(TzoCustomPDFDocument& doc, const std::string& path) {
  std::unique_ptr<TLibraryRewrite> rewrite;
  const int32_t result = SaveWithLibrary(doc, path, rewrite);
  if (result != 0) return result;
  std::string error;
  if (!rewrite->Commit(&error)) CannotReplace(error);
  return 0;
}

// ---- TRewritePool ----

namespace {

// Rewrites given for each thread before the caller waits for the oldest: a large file holds up
// the reports, not the other threads.
constexpr size_t kLineLength = 16;
// A load that took more than this gives the freed memory back to the system when it is done: each
// thread's part of the heap would keep it otherwise.
constexpr int64_t kReleaseAfter = int64_t{8} * 1024 * 1024;

// The job of the rewrite the thread runs.
thread_local const TJobSettings* t_currentJob = nullptr;

}  // namespace

struct TRewritePool::TTask {
  std::string path;
  std::unique_ptr<platform::OpenedFile> file;  // null: opened by path
  std::shared_ptr<platform::FileClaims> claims;
  TJobSettings job;
  TDone done;
  uint64_t number = 0;
  int64_t held = 0;  // memory its load took, under the pool's mutex
  TOutcome outcome;
  bool ended = false;  // under the pool's mutex
};

struct TRewritePool::TWorker {
  std::unique_ptr<TzoCustomPDFDocument> doc;
  TTask* task = nullptr;  // the rewrite the thread works on
  std::thread thread;
};

TRewritePool::TRewritePool(size_t threads, TMakeDocument makeDocument, int64_t loadMemory)
    : threads_(std::max<size_t>(threads, 1)),
      loadMemory_(loadMemory),
      makeDocument_(std::move(makeDocument)) {}

TRewritePool::~TRewritePool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  queued_.notify_all();
  for (const std::unique_ptr<TWorker>& w : workers_)
    w->thread.join();  // each thread ends the rewrite it holds first
}

const TJobSettings* TRewritePool::CurrentJob() {
  return t_currentJob;
}

size_t TRewritePool::DefaultThreads() {
  return std::clamp<size_t>(std::thread::hardware_concurrency(), 2, 8);
}

void TRewritePool::Start(std::string path, const TJobSettings& job, TDone done) {
  auto task = std::make_shared<TTask>();
  task->path = std::move(path);
  task->job = job;
  task->done = std::move(done);
  Hand(std::move(task));
}

void TRewritePool::Start(std::unique_ptr<platform::OpenedFile> file, const TJobSettings& job,
                         TDone done, std::shared_ptr<platform::FileClaims> claims) {
  auto task = std::make_shared<TTask>();
  task->path = file->Path();
  task->file = std::move(file);
  task->claims = std::move(claims);
  task->job = job;
  task->done = std::move(done);
  Hand(std::move(task));
}

void TRewritePool::Hand(std::shared_ptr<TTask> task) {
  auto ended = [this](const TTask& t) {
    std::lock_guard<std::mutex> lock(mutex_);
    return t.ended;
  };
  while (!line_.empty() && ended(*line_.front()))
    ReportFront();
  while (line_.size() >= kLineLength * threads_)
    ReportFront();
  if (workers_.size() < threads_ && workers_.size() <= line_.size()) {
    // A thread of its own for each rewrite in flight, up to threads_.
    auto worker = std::make_unique<TWorker>();
    worker->doc = makeDocument_();
    TWorker* w = worker.get();
    // A document made without a password handler answers from the job of its file.
    if (!worker->doc->OnPassword)
      worker->doc->OnPassword = [](rtl::TObject*, std::string& password, bool& cont, int tries) {
        AnswerOpenPassword(CurrentJob()->OpenPassWord, password, cont, tries);
      };
    worker->doc->OnLoadMemory = [this, w](TzoCustomPDFDocument*, int64_t bytes) {
      TakeLoadMemory(*w->task, bytes);
    };
    worker->thread = std::thread([this, w] { Loop(*w); });
    workers_.push_back(std::move(worker));
  }
  task->number = numbered_++;
  line_.push_back(task);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(std::move(task));
  }
  queued_.notify_one();
  ++handedOver_;
  if (handOver_) handOver_(handedOver_);
}

void TRewritePool::Finish() {
  while (!line_.empty())
    ReportFront();
}

void TRewritePool::ReportFront() {
  std::shared_ptr<TTask> task = std::move(line_.front());
  line_.pop_front();
  {
    std::unique_lock<std::mutex> lock(mutex_);
    ended_.wait(lock, [&] { return task->ended; });
  }
  // Taken off the line before it runs, so that a done that throws is never called twice.
  task->done(task->outcome);
}

void TRewritePool::TakeLoadMemory(TTask& task, int64_t bytes) {
  std::unique_lock<std::mutex> lock(mutex_);
  // Rewrites are taken in their order: the oldest in flight never waits, so every one ends.
  ended_.wait(
      lock, [&] { return *running_.begin() == task.number || loadBytes_ + bytes <= loadMemory_; });
  loadBytes_ += bytes;
  task.held += bytes;
}

void TRewritePool::Loop(TWorker& worker) {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    queued_.wait(lock, [this] { return quit_ || !queue_.empty(); });
    if (quit_) return;  // a rewrite not taken yet is left undone: its file as it was
    std::shared_ptr<TTask> task = std::move(queue_.front());
    queue_.pop_front();
    running_.insert(task->number);
    lock.unlock();
    TzoCustomPDFDocument& doc = *worker.doc;
    TOutcome& o = task->outcome;
    worker.task = task.get();
    t_currentJob = &task->job;
    std::unique_ptr<TLibraryRewrite> rewrite;
    try {
      o.result = task->file ? OpenWithLibrary(doc, *task->file, task->job, rewrite)
                            : OpenWithLibrary(doc, task->path, task->job, rewrite);
      if (rewrite && task->claims) {
        // Claimed before it can be reached by the file's name.
        const auto [device, inode] = rewrite->file.NewFile();
        task->claims->Add(device, inode);
      }
      if (o.result == 0 && !SaveIntoRewrite(doc, task->path, *rewrite, HeaderVersion(task->job)))
        o.result = kLibraryNotSaved;
      if (o.result == 0) o.committed = rewrite->Commit(&o.error);
    } catch (...) {
      o.failure = std::current_exception();
      o.result = -1;
    }
    rewrite.reset();  // an uncommitted new file removed, the user's left as it was
    task->file.reset();
    try {
      doc.ClearAndReset();  // the document's memory given back before the next file
    } catch (...) {
      // the next load empties it again
    }
    if (task->held > kReleaseAfter) platform::ReleaseFreedHeapMemory();
    worker.task = nullptr;
    t_currentJob = nullptr;
    lock.lock();
    loadBytes_ -= task->held;
    running_.erase(task->number);
    task->ended = true;
    ended_.notify_all();
  }
}
