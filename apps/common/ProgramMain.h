// The start of a program: the toolkit module (loaded only when a window is shown), the main form
// made from the command-line arguments, the message loop, and the exit code the form set (2 when a
// window was needed and the toolkit module could not be loaded). Run as root, a program whose
// folder another user could change does not start (a message on standard error, exit code 2).
// Only the programs' main.cpp include it.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "platform/CodePage.h"
#include "platform/ProcessHeap.h"
#include "platform/ProgramFolder.h"
#include "ui/BackendModule.h"
#include "ui/Forms.h"

inline constexpr char kToolkitModule[] = "svui_wx.so";

// Run as root, whether the program folder and what the programs load, run and read from it are
// root's alone; false after saying why on standard error.
inline bool ProgramFolderIsRootsOwn() {
  if (::geteuid() != 0) return true;
  std::string problem;
  if (platform::ProgramFolderIsProtected(
          {"bin", "setting", kToolkitModule, "bin/AHPDFToolCmd26", "pdfinfo", "Kettrin"}, &problem))
    return true;
  std::fprintf(stderr, "%s\n", platform::AnsiToUtf8(problem).c_str());
  return false;
}

template <class MainForm>
int RunProgram(int argc, char** argv, const char* title) {
  if (!ProgramFolderIsRootsOwn()) return 2;
  platform::KeepFreedHeapMemory();
  ui::TBackendModule toolkit(kToolkitModule, argc > 0 && argv[0] ? argv[0] : title);
  toolkit.Install();
  ui::Application().SetTitle(title);
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i)
    arguments.push_back(platform::ArgumentToAnsi(argv[i]));
  ui::Application().CreateForm<MainForm>(std::move(arguments));
  ui::Application().Run();
  int exitCode = ui::Application().ExitCode();
  ui::Application().DestroyForms();
  ui::Application().StopBackend();
  return toolkit.LoadFailed() ? 2 : exitCode;
}
