// Outside processes started from one command-line string, as on the original platform: the string
// is split into arguments by the rules of the Microsoft C runtime, the program is found as
// CreateProcess finds it, and the caller polls the running process. Command lines, program names
// and folders are byte strings in the ANSI code page; the OS gets them as UTF-8.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// Splits a command line into arguments by the Microsoft C runtime rules (2008 and later):
// - arguments are separated by blanks and tabs outside double quotes;
// - a double quote starts or ends a quoted part, which may stand inside an argument ("a"b is ab);
// - 2n backslashes before a double quote give n backslashes, and the quote starts or ends a
//   quoted part; 2n+1 backslashes before a double quote give n backslashes and a literal quote;
// - backslashes not before a double quote are literal (also at the end of the line);
// - inside a quoted part, two double quotes ("") give one literal quote and the part goes on;
// - "" on its own is an empty argument.
// Double-byte characters of code page 932 (a lead byte with a valid second byte) are taken whole,
// so a second byte 0x5C is no backslash; a lead byte without one stands for itself.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

// The text as one argument of a command line, the inverse of SplitCommandLine: in double quotes,
// a backslash before each double quote, and the backslashes before a double quote or at the end
// doubled. A double-byte character is copied whole; after a lead byte that stands alone a double
// quote is written "" instead, so that no backslash can be taken for its second byte.
std::string QuoteArgument(std::string_view text);

// A command line whose program was found.
struct ResolvedCommand {
  std::string program;      // the file that runs (a path)
  std::string programName;  // the program as the command line names it (the child's argv[0])
  std::vector<std::string> arguments;  // the rest of the command line, split
};

// Finds the program of a command line as CreateProcess does without an application name. The
// program is the first token: up to the closing double quote when it begins with one; else up to
// a blank, where an unquoted name with blanks is tried piece by piece ("/opt/my tools/x a" tries
// "/opt/my", then "/opt/my tools/x", then "/opt/my tools/x a") and the first piece found wins. A
// name with a "/" is taken as a path (relative to currentFolder when it does not begin with "/");
// a bare name is looked for in the program folder, then in currentFolder, then in each folder of
// PATH. Only executable files count. An empty currentFolder is the process's current folder.
std::optional<ResolvedCommand> ResolveCommandLine(std::string_view commandLine,
                                                  const std::string& currentFolder = "");

// A regular file that this process may execute.
bool IsExecutableFile(const std::string& path);
// The first executable file called name in the folders of PATH (an empty entry is the current
// folder); nothing when there is none.
std::optional<std::string> FindOnPath(const std::string& name);

// Where a child's standard output and standard error go: to ours, or nowhere (as a program
// started on a console of its own that nobody sees).
enum class ChildOutput { kInherit, kDiscard };

// Whether a child shares our process group or gets one of its own, so that ending it also ends
// whatever it started.
enum class ProcessGroup { kShared, kOwn };

// Results of RunAndWait besides the child's exit code.
constexpr int kRunNotStarted = -1;  // the program could not be started
constexpr int kRunTimedOut = -2;    // the child did not end within the time limit and was ended
constexpr int kRunStopped = -3;     // the caller asked to stop and the child was ended

// How long an ended child has after SIGTERM before SIGKILL.
constexpr int kEndGraceMs = 2000;

// A started child process.
class Process {
 public:
  ~Process();  // forgets the process; one still running goes on
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  pid_t Id() const { return pid_; }
  // Waits up to timeoutMs milliseconds (negative: without limit) for the process to end; true
  // when it has ended.
  bool WaitFor(int timeoutMs);
  bool Ended() const { return ended_; }
  // The exit code once ended: the code it exited with, or 128 + the signal that ended it.
  int ExitCode() const { return exitCode_; }
  // Ends the process: SIGTERM, up to graceMs for it to go, then SIGKILL, and reaps it. With a
  // process group of its own, every process of the group gets the signals.
  void End(int graceMs);

 private:
  friend std::unique_ptr<Process> StartProcess(const std::string&, const std::string&, std::string*,
                                               ChildOutput, ProcessGroup);
  Process(pid_t pid, int pidfd, bool ownGroup) : pid_(pid), pidfd_(pidfd), ownGroup_(ownGroup) {}
  bool Reap(bool block);
  // Waits up to timeoutMs for the process to end without reaping it, so that its id (and the
  // id of its group) stays taken.
  bool WaitExited(int timeoutMs);
  void Signal(int sig);

  pid_t pid_;
  int pidfd_;
  bool ownGroup_;
  bool ended_ = false;
  int exitCode_ = 0;
};

// Starts the command line's program with its arguments, in workDir (empty: the current folder;
// the caller's own current folder is never changed), with the caller's environment, standard
// input from /dev/null and no other descriptors than standard output and error handed down
// (sent to /dev/null with ChildOutput::kDiscard). Nothing (and a reason in error) when the
// program is not found or cannot be started.
std::unique_ptr<Process> StartProcess(const std::string& commandLine,
                                      const std::string& workDir = "", std::string* error = nullptr,
                                      ChildOutput output = ChildOutput::kInherit,
                                      ProcessGroup group = ProcessGroup::kShared);

// The hook that lets the user interface process its pending events while a process runs; none
// (a no-op) until the user interface sets one.
void SetPendingEventsHook(std::function<void()> hook);
void ProcessPendingEvents();

// Starts the command line in workDir and waits for the process: wait up to 100 ms; while it has
// not ended, process pending events, sleep sleepMs milliseconds and wait again. The exit code, or
// kRunNotStarted when the process could not be started. With a time limit above zero the child
// gets a process group of its own; when it has not ended within the limit, it and its group are
// ended (Process::End with kEndGraceMs) and the result is kRunTimedOut. With stop given, the
// child gets a process group of its own too; when stop() is true at a poll (after the pending
// events), it and its group are ended the same way and the result is kRunStopped.
int RunAndWait(const std::string& commandLine, const std::string& workDir, int sleepMs,
               ChildOutput output = ChildOutput::kInherit,
               std::chrono::milliseconds timeLimit = std::chrono::milliseconds::zero(),
               const std::function<bool()>& stop = nullptr);

}  // namespace platform
