#include "apps/sorvane/LibraryEngine.h"

#include <cstring>

#include "apps/sorvane/Rw_ini.h"
#include "pdf/document/zoCstPDFDoc.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/LocalTime.h"
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

TzoUserPermissions JobUserPermissions() {
  const TJobSettings& j = JobSettings;
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

std::string InfoDateText() {
  const std::string d = platform::LocalDateTimeDigits();  // yyyymmddhhnnss
  return d.substr(0, 4) + "/" + d.substr(4, 2) + "/" + d.substr(6, 2) + " " + d.substr(8, 2) + ":" +
         d.substr(10, 2);
}

void PatchHeaderVersion(platform::ReplacementFile& file) {
  if (JobSettings.VerEn == 0) return;
  const std::string version = VersionText();
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

int32_t SaveWithLibrary(TzoCustomPDFDocument& doc, const std::string& path,
                        std::unique_ptr<TLibraryRewrite>& rewrite) {
  rewrite.reset();
  ResultCode = 0;
  auto made = std::make_unique<TLibraryRewrite>();
  // What is read is what must still be there when the new file takes its place.
  std::string refusal;
  if (!platform::CheckReplaceable(path, &made->identity, &refusal)) CannotReplace(refusal);
  doc.LoadFromFile(path);
  if (ResultCode != 0) return ResultCode;  // the open password was refused

  const TJobSettings& j = JobSettings;
  TzoPDFEncryptionSettings& encryption = doc.Encryption();
  if (j.EN != 0) {
    encryption.SetEnabled(true);
    encryption.SetLevel(j.BT != 0 ? el40bit : el128bit);
    encryption.SetOwnerPassword(j.MasterPassWord);
    encryption.SetUserPassword(j.PW != 0 ? j.UserPassWord : std::string());
    encryption.SetUserPermissions(JobUserPermissions());
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

  // Saved straight into the new file beside the user's and patched there.
  std::string error;
  if (!made->file.Create(path, &error)) CannotReplace(error);
  {
    rtl::THandleStream stream(made->file.Descriptor(), path);
    if (!doc.SaveToStream(stream, path, 2)) return kLibraryNotSaved;
  }
  PatchHeaderVersion(made->file);
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

// ---- TRewriteCommitter ----

TRewriteCommitter::~TRewriteCommitter() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  changed_.notify_all();
  thread_.join();  // the thread ends the commit it holds first
}

void TRewriteCommitter::Start(std::unique_ptr<TLibraryRewrite> rewrite, TDone done) {
  Finish();
  if (!thread_.joinable()) thread_ = std::thread([this] { Loop(); });
  {
    std::lock_guard<std::mutex> lock(mutex_);
    rewrite_ = std::move(rewrite);
    ended_ = false;
  }
  done_ = std::move(done);
  changed_.notify_all();
}

void TRewriteCommitter::Finish() {
  if (!done_) return;
  bool committed = false;
  std::string error;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return ended_; });
    committed = committed_;
    error = std::move(error_);
  }
  // Taken before it runs, so that a done that throws is never called twice.
  TDone done = std::move(done_);
  done_ = nullptr;
  done(committed, error);
}

void TRewriteCommitter::Loop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return quit_ || (rewrite_ && !ended_); });
    if (rewrite_ && !ended_) {
      std::unique_ptr<TLibraryRewrite> rewrite = std::move(rewrite_);
      lock.unlock();
      std::string error;
      const bool committed = rewrite->Commit(&error);
      rewrite.reset();  // its descriptors closed here
      lock.lock();
      committed_ = committed;
      error_ = std::move(error);
      ended_ = true;
      changed_.notify_all();
      continue;
    }
    if (quit_) return;
  }
}
