#include "apps/sorvane/LibraryEngine.h"

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

// A file that is removed when the object goes, unless it was released.
class TempFile {
 public:
  explicit TempFile(std::string path) : path_(std::move(path)) {}
  ~TempFile() {
    if (!path_.empty()) platform::DeleteFile(path_);
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  const std::string& Path() const { return path_; }
  void Release() { path_.clear(); }

 private:
  std::string path_;
};

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

void PatchHeaderVersion(const std::string& path) {
  if (JobSettings.VerEn == 0) return;
  const std::string version = VersionText();
  rtl::TFileStream f(path, rtl::TFileStream::fmOpenReadWrite);
  // The header follows the file's first "%".
  int64_t percent = -1;
  std::string block(2048, '\0');
  for (int64_t start = 0; percent < 0;) {
    const int64_t got = f.Read(block.data(), static_cast<int64_t>(block.size()));
    if (got <= 0) return;
    const size_t at = std::string_view(block.data(), static_cast<size_t>(got)).find('%');
    if (at != std::string_view::npos) percent = start + static_cast<int64_t>(at);
    start += got;
  }
  f.SetPosition(percent + 1);
  char head[7];
  if (f.Read(head, 7) != 7) return;
  if (UpperAscii(head[0]) != 'P' || UpperAscii(head[1]) != 'D' || UpperAscii(head[2]) != 'F' ||
      head[3] != '-')
    return;
  f.SetPosition(percent + 5);
  f.WriteBuffer(version.data(), static_cast<int64_t>(version.size()));
}

int32_t LockWithLibrary(TzoCustomPDFDocument& doc, const std::string& path) {
  ResultCode = 0;
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

  // Written and patched beside the user's file (hidden from folder walks by its leading "."),
  // then renamed over it.
  TempFile temp(rtl::ChangeFileExt(platform::UniqueTempName(rtl::ExtractFilePath(path)), ".pdf"));
  if (!doc.SaveToFile(temp.Path(), 2)) return kLibraryNotSaved;
  PatchHeaderVersion(temp.Path());
  std::string error;
  const bool replaced = platform::ReplaceFileAtomic(temp.Path(), path, &error);
  temp.Release();  // renamed, or removed by the failed replace
  if (!replaced)
    throw rtl::EWriteError(path + platform::Utf8ToAnsi(" に書き込めません") + " (" + error + ")");
  return 0;
}
