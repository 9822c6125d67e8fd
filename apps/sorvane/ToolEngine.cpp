#include "apps/sorvane/ToolEngine.h"

#include "apps/sorvane/Rw_ini.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/Process.h"
#include "platform/ProgramFolder.h"
#include "platform/RtlClasses.h"
#include "platform/RtlSysUtils.h"
#include "platform/StopSignals.h"

#include <algorithm>
#include <chrono>
#include <memory>

namespace {

const char kToolName[] = "AHPDFToolCmd26";

// A valued option: the option text (ending in a blank), the value in double quotes, a blank.
std::string Valued(const char* option, const std::string& value) {
  return std::string(option) + "\"" + QuoteToolPassword(value) + "\" ";
}

// Whether the tool left a whole PDF file: a header at the start and an end-of-file marker near
// the end.
bool IsCompleteWorkFile(const std::string& path) {
  if (!platform::FileExists(path)) return false;
  try {
    rtl::TFileStream f(path, rtl::TFileStream::fmOpenRead | rtl::TFileStream::fmShareDenyNone);
    int64_t size = f.Size();
    std::string head(5, '\0');
    if (size < 5 || f.Read(head.data(), 5) != 5 || head != "%PDF-") return false;
    int64_t tailSize = std::min<int64_t>(size, 1024);
    std::string tail(static_cast<size_t>(tailSize), '\0');
    f.SetPosition(size - tailSize);
    if (f.Read(tail.data(), tailSize) != tailSize) return false;
    return tail.find("%%EOF") != std::string::npos;
  } catch (const rtl::EStreamError&) {
    return false;
  }
}

void AppendDebugDump(const std::string& commandLine) {
  std::string log = DebugLogPath();
  std::string dump;
  // The lines go after what the log holds, on a line of their own.
  if (platform::FileExists(log)) {
    rtl::TFileStream f(log, rtl::TFileStream::fmOpenRead | rtl::TFileStream::fmShareDenyNone);
    int64_t size = f.Size();
    char last = '\n';
    if (size > 0) {
      f.SetPosition(size - 1);
      f.ReadBuffer(&last, 1);
    }
    if (last != '\n' && last != '\r') dump += "\r\n";
  }
  dump += "**** PDF Command Dump ****\r\n";
  dump += "input  =" + CurrentFile + "\r\n";
  dump += "command=" + commandLine + "\r\n";
  dump += "result =" + rtl::IntToStr(ResultCode) + "\r\n";
  std::string error;
  // The log holds command lines with passwords: a new one is private to its owner.
  if (!platform::AppendToFile(log, dump, &error, 0600)) throw rtl::EWriteError(error);
}

}  // namespace

std::string ToolPath() {
  return platform::ProgramFolder() + "bin/" + kToolName;
}

std::string WorkFilePath() {
  return platform::ProgramFolder() + "temp/$output.pdf";
}

std::string DebugLogPath() {
  return platform::ProgramFolder() + "log/DebugLog.txt";
}

std::string QuoteToolPassword(const std::string& text) {
  const std::string quoted = platform::QuoteArgument(text);
  return quoted.substr(1, quoted.size() - 2);
}

std::string ToolArguments(const std::string& path) {
  const TJobSettings& j = JobSettings;
  std::string a = "-annotFile " + Valued("-d ", path);
  if (!j.OpenPassWord.empty()) a += "\"" + QuoteToolPassword(j.OpenPassWord) + "\" ";
  a += Valued("-o ", WorkFilePath());
  if (j.Web != 0) a += "-webopt ";
  if (j.VerEn != 0) a += Valued("-pdfver ", VersionText());
  if (!j.Title.empty()) a += Valued("-title ", j.Title);
  if (!j.Subject.empty()) a += Valued("-subtitle ", j.Subject);
  if (!j.Author.empty()) a += Valued("-author ", j.Author);
  if (!j.Keywords.empty()) a += Valued("-keyword ", j.Keywords);
  if (!j.Creator.empty()) a += Valued("-creator ", j.Creator);
  if (!j.Producer.empty()) a += Valued("-producer ", j.Producer);
  if (!j.UserPassWord.empty()) a += Valued("-userpwd ", j.UserPassWord);
  if (!j.MasterPassWord.empty()) {
    a += Valued("-ownerpwd ", j.MasterPassWord);
    if (j.PR != 0) a += "-ppa 1 ";
    if (j.CP != 0) a += "-ncc ";
    if (j.MD != 0 || j.DA != 0) a += "-nca ";
    if (j.AN != 0) a += "-nff ";
    if (j.FF != 0) a += "-nno ";
    if (j.AC != 0) {
      a += "-nab ";
      if (j.CP == 0) a += "-ncc ";
    }
  }
  return a;
}

int32_t LockWithTool(const std::string& path, std::string* problem) {
  std::string why;
  const std::unique_ptr<platform::OpenedFile> file = platform::OpenedFile::OpenPath(path, &why);
  if (!file) {
    if (problem) *problem = why;
    ResultCode = 0;
    return kToolCopyFailed;
  }
  return LockWithTool(*file, problem);
}

int32_t LockWithTool(const platform::OpenedFile& file, std::string* problem,
                     platform::FileClaims* claims) {
  std::string work = WorkFilePath();
  platform::ForcePrivateDirectories(rtl::ExtractFilePath(work));
  if (platform::FileExists(work) || platform::DirectoryExists(work)) {
    // A stale work file must not pass for this run's output.
    if (!platform::DeleteFile(work)) {
      ResultCode = 0;
      return kToolWorkFileStuck;
    }
  }
  ResultCode = 0;
  // What the tool reads is what must still be there when its output takes its place.
  std::string why = file.Refusal();
  if (!why.empty()) {
    if (problem) *problem = why;
    return kToolCopyFailed;
  }
  platform::PrivateFileScope privateFiles;
  // The tool takes a name: it reads a copy of what was opened, which no one else can change.
  platform::PrivateCopy copy;
  if (!copy.Make(file, rtl::ExtractFilePath(work), &why)) {
    if (problem) *problem = why;
    return kToolCopyFailed;
  }
  RunPdfTool(ToolArguments(copy.Path()));
  int32_t result = ResultCode;
  if (result == platform::kRunTimedOut) {
    // What the ended tool left is no output.
    if (platform::FileExists(work)) platform::DeleteFile(work);
    ResultCode = 0;
    throw EToolTimeLimit(std::string(kToolName) + platform::Utf8ToAnsi(" が制限時間 ") +
                         rtl::IntToStr(AppSettings.TimeLimit) +
                         platform::Utf8ToAnsi(" 秒を過ぎたため終了させました"));
  }
  if (result == platform::kRunStopped) {
    result = kToolStopped;
    if (problem)
      *problem = std::string(kToolName) + platform::Utf8ToAnsi(" を終了させました (") +
                 platform::SignalName(platform::StopSignal()) + platform::Utf8ToAnsi(" で中止)");
  }
  if (result == 0) {
    platform::ReplacementFile out;
    if (!IsCompleteWorkFile(work)) {
      result = kToolNoWorkFile;
    } else if (!(out.AdoptFor(file, work, &why) ||
                 // Not on the input's mount (or not movable): a copy beside the input.
                 (out.CreateFor(file, &why, true) && out.WriteFrom(work, &why)))) {
      if (problem) *problem = why;
      result = kToolCopyFailed;
    } else {
      if (claims) {
        const auto [device, inode] = out.NewFile();
        claims->Add(device, inode);
      }
      if (!out.Commit(&file.Identity(), &why)) {
        if (problem) *problem = why;
        result = kToolCopyFailed;
      }
    }
  }
  if (platform::FileExists(work)) platform::DeleteFile(work);
  ResultCode = 0;
  return result;
}

void RunPdfTool(const std::string& arguments) {
  std::string tool = ToolPath();
  if (!platform::FileExists(tool)) {
    ResultCode = kToolMissing;
    return;
  }
  std::string commandLine = std::string(kToolName) + " " + arguments;
  ResultCode = RunAndWait(commandLine, SW_HIDE, rtl::ExtractFilePath(tool), AppSettings.TimeLimit,
                          [] { return platform::StopSignal() != 0; });
  if (AppSettings.Debug != 0) AppendDebugDump(commandLine);
}

int32_t RunAndWait(const std::string& commandLine, int /*showMode*/, const std::string& workDir,
                   int32_t timeLimitSeconds, const std::function<bool()>& stop) {
  return platform::RunAndWait(commandLine, workDir, AppSettings.Wait,
                              platform::ChildOutput::kInherit,
                              std::chrono::seconds(std::max<int32_t>(timeLimitSeconds, 0)), stop);
}
