// The outside PDF tool engine: files whose target version is 1.6 or 1.7 are rewritten by the
// command-line tool bin/AHPDFToolCmd26 below the program folder, and Sorvane's process runner.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/FileSystem.h"
#include "platform/RtlSysUtils.h"

// Show modes of RunAndWait.
constexpr int SW_HIDE = 0;
constexpr int SW_SHOW = 5;

// Results of LockWithTool besides the tool's own exit codes.
constexpr int32_t kToolNotStarted = -1;     // the tool could not be started
constexpr int32_t kToolMissing = 1;         // no tool in bin/
constexpr int32_t kToolNoWorkFile = -2;     // exit code 0, but no complete work file
constexpr int32_t kToolCopyFailed = -3;     // the input may not or could not be replaced
constexpr int32_t kToolWorkFileStuck = -4;  // an old work file could not be removed
constexpr int32_t kToolStopped = -5;        // a stop signal came: the tool was ended

// The tool did not end within AppSettings.TimeLimit and was ended; the file is left as it was.
class EToolTimeLimit : public rtl::Exception {
 public:
  using rtl::Exception::Exception;
};

std::string ToolPath();      // program folder + "bin/AHPDFToolCmd26"
std::string WorkFilePath();  // program folder + "temp/$output.pdf"
std::string DebugLogPath();  // program folder + "log/DebugLog.txt"

// Prepares a value for the tool's command line, where it stands in double quotes: the text of
// platform::QuoteArgument without its two quotes, so that the tool gets the text unchanged.
std::string QuoteToolPassword(const std::string& text);

// The tool's argument string for rewriting path with the current JobSettings.
std::string ToolArguments(const std::string& path);

// Rewrites one file with the outside tool; 0 on success. The work file, private to its owner, is
// put in the input's place in one step when the input is still the file that the tool read: moved
// there when it lies on the input's mount, else copied beside the input first; it is removed
// afterwards. On any failure the file is left byte for byte as
// it was; when it may not or could not be replaced, problem (if given) says why. A tool that runs
// past AppSettings.TimeLimit is ended and raises EToolTimeLimit with a message. A stop signal
// (platform::StopSignal) that comes while the tool runs ends it with what it started:
// kToolStopped, the file as it was, the work file removed.
int32_t LockWithTool(const std::string& path, std::string* problem = nullptr);
// As above for a file opened already: the tool reads a private copy made from its descriptor in
// the program's temporary folder, and its output is put in place in the folder the file was
// opened in. With claims, the new file is added to them before it takes the file's place.
int32_t LockWithTool(const platform::OpenedFile& file, std::string* problem = nullptr,
                     platform::FileClaims* claims = nullptr);

// Runs the tool with the argument string, started in the tool's folder, for at most
// AppSettings.TimeLimit seconds and until a stop signal; leaves the exit code
// (platform::kRunTimedOut when it was ended at the limit, platform::kRunStopped at a stop signal)
// in ResultCode and, when AppSettings.Debug is on, appends the run to the debug log (a log that
// cannot be written raises the class library's stream error).
void RunPdfTool(const std::string& arguments);

// Starts the command line (in workDir; empty: the current folder) and waits for it, processing
// pending events and sleeping AppSettings.Wait milliseconds between 100 ms waits; with a time
// limit above zero seconds, a program that runs longer is ended, and so is one whose stop (when
// given) becomes true (platform::RunAndWait). The exit code, or -1 when it cannot be started. The
// show mode has no meaning for the programs started here.
int32_t RunAndWait(const std::string& commandLine, int showMode, const std::string& workDir = "",
                   int32_t timeLimitSeconds = 0, const std::function<bool()>& stop = nullptr);
